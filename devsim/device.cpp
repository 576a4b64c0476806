// IPortableDevice: Open records the client information and applies the device's deny mode.
#include "devsim_internal.h"

static const HRESULT SIM_E_ALREADY_OPENED = (HRESULT)0x802A0001;   // E_WPD_DEVICE_ALREADY_OPENED

namespace {
class SimDeviceObject : public SimCom<IPortableDevice> {
public:
    int device = -1;
    bool readOnly = false;
    std::wstring pnpId;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDevice))
            return Answer(static_cast<IPortableDevice *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // Counted per PnP id, so that a rule can fail the Open of one device.
    HRESULT STDMETHODCALLTYPE Open(LPCWSTR id, IPortableDeviceValues *clientInfo) override
    {
        HRESULT hr = SimCall("IPortableDevice::Open", id);
        if (FAILED(hr)) return hr;
        if (!id || !clientInfo) return E_POINTER;
        if (device >= 0) return SIM_E_ALREADY_OPENED;
        DevsimLock lock;
        int number = SimDeviceByPnp(id);
        if (number < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        SimDevice &d = Sim().devices[number];

        DevsimOpenRecord record{};
        record.pnpId = id;
        SimValueList info;
        SimReadValues(clientInfo, &info);
        for (const auto &entry : info) {
            const PROPERTYKEY &k = entry.first;
            const SimValue &v = entry.second;
            if (SimKeyEqual(k, WPD_CLIENT_NAME)) record.clientName = v.text;
            else if (SimKeyEqual(k, WPD_CLIENT_MAJOR_VERSION)) record.major = (DWORD)v.number;
            else if (SimKeyEqual(k, WPD_CLIENT_MINOR_VERSION)) record.minor = (DWORD)v.number;
            else if (SimKeyEqual(k, WPD_CLIENT_REVISION)) record.revision = (DWORD)v.number;
            else if (SimKeyEqual(k, WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE)) record.qualityOfService = (DWORD)v.number;
            else if (SimKeyEqual(k, WPD_CLIENT_DESIRED_ACCESS)) {
                record.hasDesiredAccess = true;
                record.desiredAccess = (DWORD)v.number;
            }
        }
        // Without a desired access WPD opens for reading and writing.
        bool wantsReadOnly = record.hasDesiredAccess && !(record.desiredAccess & (GENERIC_WRITE | GENERIC_ALL));
        hr = S_OK;
        switch (d.deny) {
        case DEVSIM_DENY_NONE: break;
        case DEVSIM_DENY_ONCE:
            if (!d.deniedOnce) {
                d.deniedOnce = true;
                hr = E_ACCESSDENIED;
            }
            break;
        case DEVSIM_DENY_READWRITE:
            if (!wantsReadOnly) hr = E_ACCESSDENIED;
            break;
        case DEVSIM_DENY_ALL: hr = E_ACCESSDENIED; break;
        }
        record.result = hr;
        d.opens.push_back(record);
        if (FAILED(hr)) return hr;
        device = number;
        readOnly = wantsReadOnly;
        pnpId = id;
        return S_OK;
    }
    // The MTP pass-through (mtp.cpp).
    HRESULT STDMETHODCALLTYPE SendCommand(const DWORD, IPortableDeviceValues *params, IPortableDeviceValues **results) override
    {
        return SimSendCommand(device, readOnly, params, results);
    }
    HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent **content) override
    {
        HRESULT hr = SimCall("IPortableDevice::Content");
        if (FAILED(hr)) return hr;
        if (!content) return E_POINTER;
        if (device < 0) return E_UNEXPECTED;   // not opened
        *content = SimNewContent(device, readOnly);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities **) override
    {
        HRESULT hr = SimCall("IPortableDevice::Capabilities");
        return FAILED(hr) ? hr : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        HRESULT hr = SimCall("IPortableDevice::Cancel");
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        HRESULT hr = SimCall("IPortableDevice::Close");
        if (FAILED(hr)) return hr;
        device = -1;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Advise(const DWORD, IPortableDeviceEventCallback *, IPortableDeviceValues *,
                                     LPWSTR *) override
    {
        HRESULT hr = SimCall("IPortableDevice::Advise");
        return FAILED(hr) ? hr : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR) override
    {
        HRESULT hr = SimCall("IPortableDevice::Unadvise");
        return FAILED(hr) ? hr : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR *out) override
    {
        HRESULT hr = SimCall("IPortableDevice::GetPnPDeviceID");
        if (FAILED(hr)) return hr;
        if (!out) return E_POINTER;
        if (device < 0) return E_UNEXPECTED;
        size_t bytes = (pnpId.size() + 1) * sizeof(WCHAR);
        *out = (LPWSTR)CoTaskMemAlloc(bytes);
        if (!*out) return E_OUTOFMEMORY;
        memcpy(*out, pnpId.c_str(), bytes);
        return S_OK;
    }
};
}  // namespace

IPortableDevice *SimNewDevice() { return new SimDeviceObject; }
