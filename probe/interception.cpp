// The probe's class objects stand in for the portable-device classes: each keeps the real
// class object (from the registry, as the layer would get it) and wraps what it makes.
#include "probe/probe.h"

namespace {

struct Interception {
    const CLSID *clsid;
    const char *name;
    int isManager;
    IClassFactory *real;
    DWORD cookie;
};

Interception Classes[] = {
    {&CLSID_PortableDeviceManager, "PortableDeviceManager", 1, NULL, 0},
    {&CLSID_PortableDeviceFTM, "PortableDeviceFTM", 0, NULL, 0},
    {&CLSID_PortableDevice, "PortableDevice", 0, NULL, 0},
};
const int ClassCount = sizeof Classes / sizeof Classes[0];

class ProxyFactory : public IClassFactory {
public:
    Interception *entry;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out == NULL)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory *>(this);
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }    // static: lives as long as the probe
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown *outer, REFIID iid, void **out) override
    {
        if (out == NULL)
            return E_POINTER;
        *out = NULL;
        if (outer != NULL)
            return CLASS_E_NOAGGREGATION;
        const IID &own = entry->isManager ? IID_IPortableDeviceManager : IID_IPortableDevice;
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, own))
            return E_NOINTERFACE;   // nothing the probe could record
        IUnknown *object = NULL;
        HRESULT hr = entry->real->CreateInstance(NULL, own, (void **)&object);
        if (FAILED(hr))
            return hr;
        *out = entry->isManager ? (void *)WrapManager((IPortableDeviceManager *)object)
                                : (void *)WrapDevice((IPortableDevice *)object);
        return *out != NULL ? S_OK : E_OUTOFMEMORY;
    }
    HRESULT STDMETHODCALLTYPE LockServer(BOOL) override { return S_OK; }
};

ProxyFactory Factories[sizeof Classes / sizeof Classes[0]];

}  // namespace

void InstallProxies(void)
{
    for (int i = 0; i < ClassCount; i++) {
        Interception *c = &Classes[i];
        HRESULT hr = CoGetClassObject(*c->clsid, CLSCTX_INPROC_SERVER, NULL, IID_IClassFactory, (void **)&c->real);
        if (SUCCEEDED(hr)) {
            Factories[i].entry = c;
            hr = CoRegisterClassObject(*c->clsid, &Factories[i], CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE, &c->cookie);
            if (FAILED(hr)) {
                c->real->Release();
                c->real = NULL;
            }
        } else {
            c->real = NULL;
        }
        Out("class %s: %s\r\n", c->name, SUCCEEDED(hr) ? "registered, recorded" : HrText(hr));
    }
}

void RemoveProxies(void)
{
    for (int i = 0; i < ClassCount; i++) {
        if (Classes[i].real == NULL)
            continue;
        CoRevokeClassObject(Classes[i].cookie);
        Classes[i].real->Release();
        Classes[i].real = NULL;
    }
}
