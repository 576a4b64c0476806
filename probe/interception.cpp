// The probe's class objects stand in for the portable-device classes: each keeps the real
// class object (from the registry, as the layer would get it) and wraps what it makes.
#include "probe/probe.h"

namespace {

enum { KEPT_IIDS = 4 };

struct Interception {
    const CLSID *clsid;
    const char *name;
    int isManager;
    IClassFactory *real;
    DWORD cookie;
    int installed;
    LONG made;
    int unanswered;                  // distinct interfaces asked for that no stand-in had
    IID unansweredIids[KEPT_IIDS];
};

Interception Classes[] = {
    {&CLSID_PortableDeviceManager, "PortableDeviceManager", 1},
    {&CLSID_PortableDeviceFTM, "PortableDeviceFTM", 0},
    {&CLSID_PortableDevice, "PortableDevice", 0},
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
        StandInUnanswered((int)(entry - Classes), iid);
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
        if (!IsEqualIID(iid, IID_IUnknown) && !IsEqualIID(iid, own)) {
            StandInUnanswered((int)(entry - Classes), iid);
            return E_NOINTERFACE;   // nothing the probe could record
        }
        IUnknown *object = NULL;
        HRESULT hr = entry->real->CreateInstance(NULL, own, (void **)&object);
        if (FAILED(hr))
            return hr;
        *out = WrapCreated(object, (int)(entry - Classes), entry->isManager);
        if (*out == NULL)
            return E_OUTOFMEMORY;
        InterlockedIncrement(&entry->made);
        return S_OK;
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
        c->installed = SUCCEEDED(hr);
        Out("class %s: %s\r\n", c->name, SUCCEEDED(hr) ? "registered, recorded" : HrText(hr));
    }
}

void StandInUnanswered(int origin, REFIID iid)
{
    Interception *c = &Classes[origin];
    for (int i = 0; i < c->unanswered && i < KEPT_IIDS; i++)
        if (IsEqualIID(c->unansweredIids[i], iid))
            return;
    if (c->unanswered < KEPT_IIDS)
        c->unansweredIids[c->unanswered] = iid;
    c->unanswered++;
}

// Whether the system's own code went around the stand-ins: what each made, and what it was
// asked for and could not give.
void ReportStandIns(void)
{
    for (int i = 0; i < ClassCount; i++) {
        Interception *c = &Classes[i];
        char line[KEPT_IIDS * 40 + 40] = "";
        if (!c->installed)
            continue;
        for (int k = 0; k < c->unanswered && k < KEPT_IIDS; k++) {
            WCHAR iid[40];
            StringFromGUID2(c->unansweredIids[k], iid, 40);
            wsprintfA(line + lstrlenA(line), "%s%ls", k ? ", " : ", could not answer ", iid);
        }
        if (c->unanswered > KEPT_IIDS)
            wsprintfA(line + lstrlenA(line), " and %d more", c->unanswered - KEPT_IIDS);
        Out("stand-in %s: %ld made%s\r\n", c->name, c->made, c->unanswered ? line : ", answered every request");
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
