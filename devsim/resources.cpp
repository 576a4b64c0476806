// IPortableDeviceResources: the read stream of an object's data.
#include "devsim_internal.h"

namespace {
HRESULT NotImplemented(const char *method)
{
    HRESULT hr = SimCall(method);
    return FAILED(hr) ? hr : E_NOTIMPL;
}

class SimResources : public SimCom<IPortableDeviceResources> {
public:
    int device = -1;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceResources))
            return Answer(static_cast<IPortableDeviceResources *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetSupportedResources(LPCWSTR, IPortableDeviceKeyCollection **) override
    {
        return NotImplemented("IPortableDeviceResources::GetSupportedResources");
    }
    HRESULT STDMETHODCALLTYPE GetResourceAttributes(LPCWSTR, REFPROPERTYKEY, IPortableDeviceValues **) override
    {
        return NotImplemented("IPortableDeviceResources::GetResourceAttributes");
    }
    // Only the default resource, only for reading; folders and storages have no data.
    HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR objectId, REFPROPERTYKEY key, const DWORD mode,
                                        DWORD *optimalBufferSize, IStream **stream) override
    {
        HRESULT hr = SimCall("IPortableDeviceResources::GetStream", objectId);
        if (FAILED(hr)) return hr;
        if (!objectId || !stream) return E_POINTER;
        if (!SimKeyEqual(key, WPD_RESOURCE_DEFAULT)) return E_INVALIDARG;
        if (mode != STGM_READ) return E_ACCESSDENIED;
        DevsimLock lock;
        int object = SimObjectNumber(device, objectId);
        if (object < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        const SimObject &o = Sim().devices[device].objects[object];
        if (o.phantom) return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);   // listed, but no file behind it
        if (object == DEVSIM_ROOT ||
            (o.hasType && (IsEqualGUID(o.type, WPD_CONTENT_TYPE_FOLDER) ||
                           IsEqualGUID(o.type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT))))
            return HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
        if (optimalBufferSize) *optimalBufferSize = Sim().devices[device].readSize;
        *stream = SimNewReadStream(device, objectId, o.data);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR, IPortableDeviceKeyCollection *) override
    {
        return NotImplemented("IPortableDeviceResources::Delete");
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        HRESULT hr = SimCall("IPortableDeviceResources::Cancel");
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues *, IStream **, DWORD *, LPWSTR *) override
    {
        return NotImplemented("IPortableDeviceResources::CreateResource");
    }
};
}  // namespace

IPortableDeviceResources *SimNewResources(int device)
{
    SimResources *r = new SimResources;
    r->device = device;
    return r;
}
