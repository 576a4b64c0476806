// The class objects of the six classes, registered in-process or handed to the server DLL.
// Creating an instance is a counted call, "CoCreateInstance:<class>", and can be failed.
#include "devsim_internal.h"

namespace {
enum SimKind { KIND_MANAGER, KIND_DEVICE, KIND_VALUES, KIND_KEYS, KIND_PROPVARIANTS };

class SimFactory : public IClassFactory {
public:
    const CLSID *clsid;
    const char *method;
    SimKind kind;
    bool ftm;
    DWORD cookie = 0;

    SimFactory(const CLSID *c, const char *m, SimKind k, bool f) : clsid(c), method(m), kind(k), ftm(f) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    // Static objects: they live as long as the module.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        *out = nullptr;
        if (outer) return CLASS_E_NOAGGREGATION;
        {
            DevsimLock lock;
            if (ftm && Sim().ftmMissing) return REGDB_E_CLASSNOTREG;
        }
        HRESULT hr = SimCall(method);
        if (FAILED(hr)) return hr;
        IUnknown *made = nullptr;
        switch (kind) {
        case KIND_MANAGER: made = SimNewManager(); break;
        case KIND_DEVICE: made = SimNewDevice(); break;
        case KIND_VALUES: made = SimNewValues(SimValueList()); break;
        case KIND_KEYS: made = SimNewKeyCollection(std::vector<PROPERTYKEY>()); break;
        case KIND_PROPVARIANTS: made = SimNewPropVariantCollection(std::vector<SimValue>()); break;
        }
        hr = made->QueryInterface(iid, out);
        made->Release();
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

SimFactory g_factories[] = {
    SimFactory(&CLSID_PortableDeviceManager, "CoCreateInstance:Manager", KIND_MANAGER, false),
    SimFactory(&CLSID_PortableDevice, "CoCreateInstance:Device", KIND_DEVICE, false),
    SimFactory(&CLSID_PortableDeviceFTM, "CoCreateInstance:DeviceFTM", KIND_DEVICE, true),
    SimFactory(&CLSID_PortableDeviceValues, "CoCreateInstance:Values", KIND_VALUES, false),
    SimFactory(&CLSID_PortableDeviceKeyCollection, "CoCreateInstance:KeyCollection", KIND_KEYS, false),
    SimFactory(&CLSID_PortableDevicePropVariantCollection, "CoCreateInstance:PropVariantCollection",
               KIND_PROPVARIANTS, false),
};
}  // namespace

HRESULT DevsimGetClassObject(REFCLSID clsid, REFIID iid, void **out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    for (SimFactory &f : g_factories) {
        if (!IsEqualCLSID(clsid, *f.clsid)) continue;
        {
            DevsimLock lock;
            if (f.ftm && Sim().ftmMissing) return CLASS_E_CLASSNOTAVAILABLE;
        }
        return f.QueryInterface(iid, out);
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT DevsimRegisterInProcess()
{
    DevsimRevokeInProcess();
    for (SimFactory &f : g_factories) {
        HRESULT hr = CoRegisterClassObject(*f.clsid, static_cast<IClassFactory *>(&f), CLSCTX_INPROC_SERVER,
                                           REGCLS_MULTIPLEUSE, &f.cookie);
        if (FAILED(hr)) {
            DevsimRevokeInProcess();
            return hr;
        }
    }
    return S_OK;
}

void DevsimRevokeInProcess()
{
    for (SimFactory &f : g_factories) {
        if (f.cookie) CoRevokeClassObject(f.cookie);
        f.cookie = 0;
    }
}

// For the server DLL's registration: every class id devsim serves.
int DevsimClassCount() { return (int)(sizeof(g_factories) / sizeof(g_factories[0])); }
const CLSID *DevsimClassId(int index) { return g_factories[index].clsid; }
