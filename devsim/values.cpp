// IPortableDeviceValues: a property set kept in devsim's own memory. Strings and
// PROPVARIANTs are allocated with CoTaskMemAlloc only when handed to the caller.
#include "devsim_internal.h"

// Private interface id: lets devsim read its own value sets without counting calls.
static const IID IID_SimValuesSelf = {0x5d3c1a01, 0x7e2b, 0x4c11, {0x9a, 0x10, 0x64, 0x65, 0x76, 0x73, 0x69, 0x01}};

bool SimKeyEqual(const PROPERTYKEY &a, const PROPERTYKEY &b)
{
    return IsEqualGUID(a.fmtid, b.fmtid) && a.pid == b.pid;
}

static LPWSTR SimTaskString(const std::wstring &text)
{
    size_t bytes = (text.size() + 1) * sizeof(WCHAR);
    LPWSTR out = (LPWSTR)CoTaskMemAlloc(bytes);
    if (out) memcpy(out, text.c_str(), bytes);
    return out;
}

bool SimValueFromPropVariant(const PROPVARIANT *in, SimValue *out)
{
    *out = SimValue();
    out->type = in->vt;
    switch (in->vt) {
    case VT_EMPTY: return true;
    case VT_LPWSTR: out->text = in->pwszVal ? in->pwszVal : L""; return true;
    case VT_UI4: out->number = in->ulVal; return true;
    case VT_I4: out->number = (ULONGLONG)(LONGLONG)in->lVal; return true;
    case VT_UI8: out->number = in->uhVal.QuadPart; return true;
    case VT_I8: out->number = (ULONGLONG)in->hVal.QuadPart; return true;
    case VT_ERROR: out->number = (ULONGLONG)(LONG)in->scode; return true;
    case VT_BOOL: out->number = in->boolVal ? 1 : 0; return true;
    case VT_R4: out->real = in->fltVal; return true;
    case VT_CLSID: if (!in->puuid) return false; out->guid = *in->puuid; return true;
    case VT_VECTOR | VT_UI1: out->bytes.assign((const char *)in->caub.pElems, in->caub.cElems); return true;
    case VT_UNKNOWN: return SimReadPropVariants(in->punkVal, &out->items);
    default: return false;
    }
}

HRESULT SimValueToPropVariant(const SimValue &in, PROPVARIANT *out)
{
    PropVariantInit(out);
    switch (in.type) {
    case VT_EMPTY: break;
    case VT_LPWSTR:
        out->pwszVal = SimTaskString(in.text);
        if (!out->pwszVal) return E_OUTOFMEMORY;
        break;
    case VT_UI4: out->ulVal = (ULONG)in.number; break;
    case VT_I4: out->lVal = (LONG)in.number; break;
    case VT_UI8: out->uhVal.QuadPart = in.number; break;
    case VT_I8: out->hVal.QuadPart = (LONGLONG)in.number; break;
    case VT_ERROR: out->scode = (SCODE)in.number; break;
    case VT_BOOL: out->boolVal = in.number ? VARIANT_TRUE : VARIANT_FALSE; break;
    case VT_R4: out->fltVal = in.real; break;
    case VT_CLSID:
        out->puuid = (CLSID *)CoTaskMemAlloc(sizeof(CLSID));
        if (!out->puuid) return E_OUTOFMEMORY;
        *out->puuid = in.guid;
        break;
    case VT_VECTOR | VT_UI1:
        out->caub.cElems = (ULONG)in.bytes.size();
        out->caub.pElems = (UCHAR *)CoTaskMemAlloc(in.bytes.size() ? in.bytes.size() : 1);
        if (!out->caub.pElems) return E_OUTOFMEMORY;
        memcpy(out->caub.pElems, in.bytes.data(), in.bytes.size());
        break;
    case VT_UNKNOWN: out->punkVal = SimNewPropVariantCollection(in.items); break;
    default: return E_NOTIMPL;
    }
    out->vt = in.type;
    return S_OK;
}

namespace {
#define SIM_CALL(name)                                   \
    do {                                                 \
        HRESULT callHr = SimCall("IPortableDeviceValues::" name); \
        if (FAILED(callHr)) return callHr;               \
    } while (0)

class SimValues : public SimCom<IPortableDeviceValues> {
public:
    SimValueList list;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceValues) ||
            IsEqualIID(iid, IID_SimValuesSelf))
            return Answer(static_cast<IPortableDeviceValues *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    SimValue *Find(REFPROPERTYKEY key)
    {
        for (auto &entry : list)
            if (SimKeyEqual(entry.first, key)) return &entry.second;
        return nullptr;
    }
    void Put(REFPROPERTYKEY key, const SimValue &value)
    {
        DevsimLock lock;
        if (SimValue *existing = Find(key)) *existing = value;
        else list.push_back(std::make_pair(key, value));
    }
    // The value of key when it has one of the two types, else the reason it cannot be read.
    HRESULT Look(REFPROPERTYKEY key, VARTYPE want, VARTYPE also, SimValue *out)
    {
        DevsimLock lock;
        SimValue *v = Find(key);
        if (!v) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        if (v->type != want && v->type != also) return DISP_E_TYPEMISMATCH;
        *out = *v;
        return S_OK;
    }
    HRESULT PutNumber(REFPROPERTYKEY key, VARTYPE type, ULONGLONG number)
    {
        SimValue v;
        v.type = type;
        v.number = number;
        Put(key, v);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override
    {
        SIM_CALL("GetCount");
        if (!count) return E_POINTER;
        DevsimLock lock;
        *count = (DWORD)list.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(const DWORD index, PROPERTYKEY *key, PROPVARIANT *value) override
    {
        SIM_CALL("GetAt");
        DevsimLock lock;
        if (index >= list.size()) return E_INVALIDARG;
        if (key) *key = list[index].first;
        return value ? SimValueToPropVariant(list[index].second, value) : S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetValue(REFPROPERTYKEY key, const PROPVARIANT *value) override
    {
        SIM_CALL("SetValue");
        if (!value) return E_POINTER;
        SimValue v;
        if (!SimValueFromPropVariant(value, &v)) return E_NOTIMPL;
        Put(key, v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetValue(REFPROPERTYKEY key, PROPVARIANT *value) override
    {
        SIM_CALL("GetValue");
        if (!value) return E_POINTER;
        DevsimLock lock;
        SimValue *v = Find(key);
        if (!v) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        return SimValueToPropVariant(*v, value);
    }
    HRESULT STDMETHODCALLTYPE SetStringValue(REFPROPERTYKEY key, LPCWSTR text) override
    {
        SIM_CALL("SetStringValue");
        if (!text) return E_POINTER;
        SimValue v;
        v.type = VT_LPWSTR;
        v.text = text;
        Put(key, v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetStringValue(REFPROPERTYKEY key, LPWSTR *text) override
    {
        SIM_CALL("GetStringValue");
        if (!text) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_LPWSTR, VT_LPWSTR, &v);
        if (FAILED(hr)) return hr;
        *text = SimTaskString(v.text);
        return *text ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedIntegerValue(REFPROPERTYKEY key, const ULONG value) override
    {
        SIM_CALL("SetUnsignedIntegerValue");
        return PutNumber(key, VT_UI4, value);
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedIntegerValue(REFPROPERTYKEY key, ULONG *value) override
    {
        SIM_CALL("GetUnsignedIntegerValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_UI4, VT_UI4, &v);
        if (SUCCEEDED(hr)) *value = (ULONG)v.number;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetSignedIntegerValue(REFPROPERTYKEY key, const LONG value) override
    {
        SIM_CALL("SetSignedIntegerValue");
        return PutNumber(key, VT_I4, (ULONGLONG)(LONGLONG)value);
    }
    HRESULT STDMETHODCALLTYPE GetSignedIntegerValue(REFPROPERTYKEY key, LONG *value) override
    {
        SIM_CALL("GetSignedIntegerValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_I4, VT_I4, &v);
        if (SUCCEEDED(hr)) *value = (LONG)v.number;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetUnsignedLargeIntegerValue(REFPROPERTYKEY key, const ULONGLONG value) override
    {
        SIM_CALL("SetUnsignedLargeIntegerValue");
        return PutNumber(key, VT_UI8, value);
    }
    HRESULT STDMETHODCALLTYPE GetUnsignedLargeIntegerValue(REFPROPERTYKEY key, ULONGLONG *value) override
    {
        SIM_CALL("GetUnsignedLargeIntegerValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_UI8, VT_UI4, &v);
        if (SUCCEEDED(hr)) *value = v.number;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetSignedLargeIntegerValue(REFPROPERTYKEY key, const LONGLONG value) override
    {
        SIM_CALL("SetSignedLargeIntegerValue");
        return PutNumber(key, VT_I8, (ULONGLONG)value);
    }
    HRESULT STDMETHODCALLTYPE GetSignedLargeIntegerValue(REFPROPERTYKEY key, LONGLONG *value) override
    {
        SIM_CALL("GetSignedLargeIntegerValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_I8, VT_I4, &v);
        if (SUCCEEDED(hr)) *value = (LONGLONG)v.number;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetFloatValue(REFPROPERTYKEY key, const FLOAT value) override
    {
        SIM_CALL("SetFloatValue");
        SimValue v;
        v.type = VT_R4;
        v.real = value;
        Put(key, v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetFloatValue(REFPROPERTYKEY key, FLOAT *value) override
    {
        SIM_CALL("GetFloatValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_R4, VT_R4, &v);
        if (SUCCEEDED(hr)) *value = v.real;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetErrorValue(REFPROPERTYKEY key, const HRESULT value) override
    {
        SIM_CALL("SetErrorValue");
        return PutNumber(key, VT_ERROR, (ULONGLONG)(LONGLONG)value);
    }
    HRESULT STDMETHODCALLTYPE GetErrorValue(REFPROPERTYKEY key, HRESULT *value) override
    {
        SIM_CALL("GetErrorValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_ERROR, VT_ERROR, &v);
        if (SUCCEEDED(hr)) *value = (HRESULT)v.number;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetKeyValue(REFPROPERTYKEY, REFPROPERTYKEY) override
    {
        SIM_CALL("SetKeyValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetKeyValue(REFPROPERTYKEY, PROPERTYKEY *) override
    {
        SIM_CALL("GetKeyValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetBoolValue(REFPROPERTYKEY key, const WINBOOL value) override
    {
        SIM_CALL("SetBoolValue");
        return PutNumber(key, VT_BOOL, value ? 1 : 0);
    }
    HRESULT STDMETHODCALLTYPE GetBoolValue(REFPROPERTYKEY key, WINBOOL *value) override
    {
        SIM_CALL("GetBoolValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_BOOL, VT_BOOL, &v);
        if (SUCCEEDED(hr)) *value = v.number ? TRUE : FALSE;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetIUnknownValue(REFPROPERTYKEY, IUnknown *) override
    {
        SIM_CALL("SetIUnknownValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIUnknownValue(REFPROPERTYKEY, IUnknown **) override
    {
        SIM_CALL("GetIUnknownValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetGuidValue(REFPROPERTYKEY key, REFGUID value) override
    {
        SIM_CALL("SetGuidValue");
        SimValue v;
        v.type = VT_CLSID;
        v.guid = value;
        Put(key, v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetGuidValue(REFPROPERTYKEY key, GUID *value) override
    {
        SIM_CALL("GetGuidValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_CLSID, VT_CLSID, &v);
        if (SUCCEEDED(hr)) *value = v.guid;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetBufferValue(REFPROPERTYKEY key, BYTE *data, DWORD size) override
    {
        SIM_CALL("SetBufferValue");
        if (!data && size) return E_POINTER;
        SimValue v;
        v.type = VT_VECTOR | VT_UI1;
        v.bytes.assign((const char *)data, size);
        Put(key, v);
        return S_OK;
    }
    // A copy the caller frees with CoTaskMemFree.
    HRESULT STDMETHODCALLTYPE GetBufferValue(REFPROPERTYKEY key, BYTE **data, DWORD *size) override
    {
        SIM_CALL("GetBufferValue");
        if (!data || !size) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_VECTOR | VT_UI1, VT_VECTOR | VT_UI1, &v);
        if (FAILED(hr)) return hr;
        *data = (BYTE *)CoTaskMemAlloc(v.bytes.empty() ? 1 : v.bytes.size());
        if (!*data) return E_OUTOFMEMORY;
        memcpy(*data, v.bytes.data(), v.bytes.size());
        *size = (DWORD)v.bytes.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues *) override
    {
        SIM_CALL("SetIPortableDeviceValuesValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesValue(REFPROPERTYKEY, IPortableDeviceValues **) override
    {
        SIM_CALL("GetIPortableDeviceValuesValue");
        return E_NOTIMPL;
    }
    // Keeps a copy of the items (the platform keeps the collection itself); only devsim's own
    // collections can be read.
    HRESULT STDMETHODCALLTYPE SetIPortableDevicePropVariantCollectionValue(REFPROPERTYKEY key,
                                                                          IPortableDevicePropVariantCollection *value) override
    {
        SIM_CALL("SetIPortableDevicePropVariantCollectionValue");
        if (!value) return E_POINTER;
        SimValue v;
        v.type = VT_UNKNOWN;
        if (!SimReadPropVariants(value, &v.items)) return E_INVALIDARG;
        Put(key, v);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDevicePropVariantCollectionValue(REFPROPERTYKEY key,
                                                                          IPortableDevicePropVariantCollection **value) override
    {
        SIM_CALL("GetIPortableDevicePropVariantCollectionValue");
        if (!value) return E_POINTER;
        SimValue v;
        HRESULT hr = Look(key, VT_UNKNOWN, VT_UNKNOWN, &v);
        if (SUCCEEDED(hr)) *value = SimNewPropVariantCollection(v.items);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection *) override
    {
        SIM_CALL("SetIPortableDeviceKeyCollectionValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceKeyCollectionValue(REFPROPERTYKEY, IPortableDeviceKeyCollection **) override
    {
        SIM_CALL("GetIPortableDeviceKeyCollectionValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                     IPortableDeviceValuesCollection *) override
    {
        SIM_CALL("SetIPortableDeviceValuesCollectionValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetIPortableDeviceValuesCollectionValue(REFPROPERTYKEY,
                                                                     IPortableDeviceValuesCollection **) override
    {
        SIM_CALL("GetIPortableDeviceValuesCollectionValue");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE RemoveValue(REFPROPERTYKEY key) override
    {
        SIM_CALL("RemoveValue");
        DevsimLock lock;
        for (size_t i = 0; i < list.size(); i++) {
            if (SimKeyEqual(list[i].first, key)) {
                list.erase(list.begin() + i);
                return S_OK;
            }
        }
        return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    }
    HRESULT STDMETHODCALLTYPE CopyValuesFromPropertyStore(IPropertyStore *) override
    {
        SIM_CALL("CopyValuesFromPropertyStore");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE CopyValuesToPropertyStore(IPropertyStore *) override
    {
        SIM_CALL("CopyValuesToPropertyStore");
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        SIM_CALL("Clear");
        DevsimLock lock;
        list.clear();
        return S_OK;
    }
};
}  // namespace

IPortableDeviceValues *SimNewValues(const SimValueList &values)
{
    SimValues *v = new SimValues;
    v->list = values;
    return v;
}

bool SimReadValues(IUnknown *values, SimValueList *out)
{
    out->clear();
    void *self = nullptr;
    if (!values || FAILED(values->QueryInterface(IID_SimValuesSelf, &self))) return false;
    SimValues *v = static_cast<SimValues *>(static_cast<IPortableDeviceValues *>(self));
    {
        DevsimLock lock;
        *out = v->list;
    }
    v->Release();
    return true;
}
