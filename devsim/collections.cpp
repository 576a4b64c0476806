// IPortableDeviceKeyCollection and IPortableDevicePropVariantCollection, each keeping its
// own copies of what is added.
#include "devsim_internal.h"

static const IID IID_SimKeysSelf = {0x5d3c1a01, 0x7e2b, 0x4c11, {0x9a, 0x10, 0x64, 0x65, 0x76, 0x73, 0x69, 0x02}};
static const IID IID_SimPropVariantsSelf = {0x5d3c1a01, 0x7e2b, 0x4c11, {0x9a, 0x10, 0x64, 0x65, 0x76, 0x73, 0x69, 0x03}};

#define SIM_CALL(iface, name)                               \
    do {                                                    \
        HRESULT callHr = SimCall(iface "::" name);          \
        if (FAILED(callHr)) return callHr;                  \
    } while (0)

namespace {
class SimKeys : public SimCom<IPortableDeviceKeyCollection> {
public:
    std::vector<PROPERTYKEY> keys;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceKeyCollection) ||
            IsEqualIID(iid, IID_SimKeysSelf))
            return Answer(static_cast<IPortableDeviceKeyCollection *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override
    {
        SIM_CALL("IPortableDeviceKeyCollection", "GetCount");
        if (!count) return E_POINTER;
        DevsimLock lock;
        *count = (DWORD)keys.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY *key) override
    {
        SIM_CALL("IPortableDeviceKeyCollection", "GetAt");
        if (!key) return E_POINTER;
        DevsimLock lock;
        if (index >= keys.size()) return E_INVALIDARG;
        *key = keys[index];
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(REFPROPERTYKEY key) override
    {
        SIM_CALL("IPortableDeviceKeyCollection", "Add");
        DevsimLock lock;
        keys.push_back(key);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        SIM_CALL("IPortableDeviceKeyCollection", "Clear");
        DevsimLock lock;
        keys.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override
    {
        SIM_CALL("IPortableDeviceKeyCollection", "RemoveAt");
        DevsimLock lock;
        if (index >= keys.size()) return E_INVALIDARG;
        keys.erase(keys.begin() + index);
        return S_OK;
    }
};

class SimPropVariants : public SimCom<IPortableDevicePropVariantCollection> {
public:
    std::vector<SimValue> items;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDevicePropVariantCollection) ||
            IsEqualIID(iid, IID_SimPropVariantsSelf))
            return Answer(static_cast<IPortableDevicePropVariantCollection *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "GetCount");
        if (!count) return E_POINTER;
        DevsimLock lock;
        *count = (DWORD)items.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPVARIANT *value) override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "GetAt");
        if (!value) return E_POINTER;
        DevsimLock lock;
        if (index >= items.size()) return E_INVALIDARG;
        return SimValueToPropVariant(items[index], value);
    }
    HRESULT STDMETHODCALLTYPE Add(const PROPVARIANT *value) override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "Add");
        if (!value) return E_POINTER;
        SimValue v;
        if (!SimValueFromPropVariant(value, &v)) return E_NOTIMPL;
        DevsimLock lock;
        items.push_back(v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetType(VARTYPE *type) override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "GetType");
        if (!type) return E_POINTER;
        DevsimLock lock;
        *type = items.empty() ? VT_EMPTY : items[0].type;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ChangeType(const VARTYPE) override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "ChangeType");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "Clear");
        DevsimLock lock;
        items.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override
    {
        SIM_CALL("IPortableDevicePropVariantCollection", "RemoveAt");
        DevsimLock lock;
        if (index >= items.size()) return E_INVALIDARG;
        items.erase(items.begin() + index);
        return S_OK;
    }
};
}  // namespace

IPortableDeviceKeyCollection *SimNewKeyCollection(const std::vector<PROPERTYKEY> &keys)
{
    SimKeys *k = new SimKeys;
    k->keys = keys;
    return k;
}

IPortableDevicePropVariantCollection *SimNewPropVariantCollection(const std::vector<SimValue> &items)
{
    SimPropVariants *c = new SimPropVariants;
    c->items = items;
    return c;
}

bool SimReadKeys(IUnknown *keys, std::vector<PROPERTYKEY> *out)
{
    out->clear();
    void *self = nullptr;
    if (!keys || FAILED(keys->QueryInterface(IID_SimKeysSelf, &self))) return false;
    SimKeys *k = static_cast<SimKeys *>(static_cast<IPortableDeviceKeyCollection *>(self));
    {
        DevsimLock lock;
        *out = k->keys;
    }
    k->Release();
    return true;
}

bool SimReadPropVariants(IUnknown *collection, std::vector<SimValue> *out)
{
    out->clear();
    void *self = nullptr;
    if (!collection || FAILED(collection->QueryInterface(IID_SimPropVariantsSelf, &self))) return false;
    SimPropVariants *c = static_cast<SimPropVariants *>(static_cast<IPortableDevicePropVariantCollection *>(self));
    {
        DevsimLock lock;
        *out = c->items;
    }
    c->Release();
    return true;
}
