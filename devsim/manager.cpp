// IPortableDeviceManager: the device list as it was when the manager was made.
#include "devsim_internal.h"

namespace {
class SimManager : public SimCom<IPortableDeviceManager> {
public:
    std::vector<std::wstring> snapshot;

    SimManager() { Refresh(); }
    void Refresh()
    {
        DevsimLock lock;
        snapshot.clear();
        for (const SimDevice &d : Sim().devices) snapshot.push_back(d.pnpId);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceManager))
            return Answer(static_cast<IPortableDeviceManager *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // Count first (no array), then fill as many as fit; S_FALSE when some did not fit.
    HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR *deviceIds, DWORD *count) override
    {
        HRESULT hr = SimCall("IPortableDeviceManager::GetDevices");
        if (FAILED(hr)) return hr;
        if (!count) return E_POINTER;
        if (!deviceIds) {
            *count = (DWORD)snapshot.size();
            return S_OK;
        }
        DWORD filled = 0;
        for (; filled < *count && filled < snapshot.size(); filled++) {
            size_t bytes = (snapshot[filled].size() + 1) * sizeof(WCHAR);
            deviceIds[filled] = (LPWSTR)CoTaskMemAlloc(bytes);
            if (!deviceIds[filled]) {
                for (DWORD i = 0; i < filled; i++) CoTaskMemFree(deviceIds[i]);
                return E_OUTOFMEMORY;
            }
            memcpy(deviceIds[filled], snapshot[filled].c_str(), bytes);
        }
        *count = filled;
        return filled < snapshot.size() ? S_FALSE : S_OK;
    }
    HRESULT STDMETHODCALLTYPE RefreshDeviceList() override
    {
        HRESULT hr = SimCall("IPortableDeviceManager::RefreshDeviceList");
        if (FAILED(hr)) return hr;
        Refresh();
        return S_OK;
    }
    HRESULT Text(const char *method, LPCWSTR pnpId, std::wstring SimDevice::*field, WCHAR *out, DWORD *chars)
    {
        HRESULT hr = SimCall(method, pnpId);
        if (FAILED(hr)) return hr;
        if (!pnpId || !chars) return E_POINTER;
        DevsimLock lock;
        int device = SimDeviceByPnp(pnpId);
        if (device < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        std::wstring text = field ? SimFindDevice(device)->*field : std::wstring(L"Simulated portable device");
        DWORD need = (DWORD)text.size() + 1;
        if (!out) {
            *chars = need;
            return S_OK;
        }
        if (*chars < need) {
            *chars = need;
            return HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
        }
        memcpy(out, text.c_str(), need * sizeof(WCHAR));
        *chars = need;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR pnpId, WCHAR *name, DWORD *chars) override
    {
        return Text("IPortableDeviceManager::GetDeviceFriendlyName", pnpId, &SimDevice::friendlyName, name, chars);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        return Text("IPortableDeviceManager::GetDeviceDescription", pnpId, nullptr, text, chars);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        return Text("IPortableDeviceManager::GetDeviceManufacturer", pnpId, &SimDevice::manufacturer, text, chars);
    }
    HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR, LPCWSTR, BYTE *, DWORD *, DWORD *) override
    {
        HRESULT hr = SimCall("IPortableDeviceManager::GetDeviceProperty");
        return FAILED(hr) ? hr : E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR *, DWORD *count) override
    {
        HRESULT hr = SimCall("IPortableDeviceManager::GetPrivateDevices");
        if (FAILED(hr)) return hr;
        if (!count) return E_POINTER;
        *count = 0;
        return S_OK;
    }
};
}  // namespace

IPortableDeviceManager *SimNewManager() { return new SimManager; }
