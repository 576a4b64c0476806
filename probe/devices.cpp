// Each portable device: its names, how it answers an open for reading and writing and one
// for reading only, and its storages.
#include "probe/probe.h"

static HRESULT CreateDevice(IPortableDevice **device)
{
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceFTM, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDevice,
                                  (void **)device);
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_PortableDevice, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDevice, (void **)device);
    return hr;
}

// Opens a new device object; with readOnly the client asks for GENERIC_READ only.
static HRESULT OpenDevice(LPCWSTR pnpId, int readOnly, IPortableDevice **device)
{
    IPortableDeviceValues *clientInfo = NULL;
    *device = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                                  (void **)&clientInfo);
    if (SUCCEEDED(hr)) {
        clientInfo->SetStringValue(WPD_CLIENT_NAME, L"TessalyProbe");
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_MAJOR_VERSION, 1);
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_MINOR_VERSION, 0);
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_REVISION, 0);
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, SECURITY_IMPERSONATION);
        if (readOnly)
            clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_DESIRED_ACCESS, GENERIC_READ);
        hr = CreateDevice(device);
    }
    if (SUCCEEDED(hr))
        hr = (*device)->Open(pnpId, clientInfo);
    if (FAILED(hr) && *device != NULL) {
        (*device)->Release();
        *device = NULL;
    }
    if (clientInfo != NULL)
        clientInfo->Release();
    return hr;
}

HRESULT OpenReadOnly(LPCWSTR pnpId, IPortableDevice **device)
{
    return OpenDevice(pnpId, 1, device);
}

typedef HRESULT(STDMETHODCALLTYPE IPortableDeviceManager::*ManagerText)(LPCWSTR, WCHAR *, DWORD *);

static void ManagerLine(IPortableDeviceManager *manager, ManagerText call, LPCWSTR pnpId, const char *label)
{
    WCHAR text[DEV_PATH_CHARS];
    DWORD chars = DEV_PATH_CHARS;
    char utf8[DEV_PATH_CHARS * 3];
    HRESULT hr = (manager->*call)(pnpId, text, &chars);
    if (SUCCEEDED(hr))
        Out("  %s: %s\r\n", label, Utf8(text, utf8, sizeof utf8));
    else
        Out("  %s: unknown (%s)\r\n", label, HrText(hr));
}

// The string values of keys of one object, one line each ("-" when the object lacks one).
static void ValueLines(IPortableDeviceProperties *properties, LPCWSTR objectId, const PROPERTYKEY *keys,
                       const char *const *labels, int count, const char *indent)
{
    IPortableDeviceKeyCollection *wanted = NULL;
    IPortableDeviceValues *values = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceKeyCollection, (void **)&wanted);
    for (int i = 0; SUCCEEDED(hr) && i < count; i++)
        hr = wanted->Add(keys[i]);
    if (SUCCEEDED(hr))
        hr = properties->GetValues(objectId, wanted, &values);
    for (int i = 0; i < count; i++) {
        LPWSTR text = NULL;
        char utf8[DEV_PATH_CHARS * 3];
        if (SUCCEEDED(hr) && SUCCEEDED(values->GetStringValue(keys[i], &text)))
            Out("%s%s: %s\r\n", indent, labels[i], Utf8(text, utf8, sizeof utf8));
        else
            Out("%s%s: -\r\n", indent, labels[i]);
        CoTaskMemFree(text);
    }
    if (values != NULL)
        values->Release();
    if (wanted != NULL)
        wanted->Release();
}

static void ReportStorages(IPortableDevice *device)
{
    const PROPERTYKEY keys[] = { WPD_DEVICE_MODEL, WPD_DEVICE_FIRMWARE_VERSION };
    const char *const labels[] = { "model", "firmware" };
    const PROPERTYKEY storageKeys[] = { WPD_OBJECT_NAME, WPD_OBJECT_ORIGINAL_FILE_NAME };
    const char *const storageLabels[] = { "storage name", "storage file name" };
    IPortableDeviceContent *content = NULL;
    IPortableDeviceProperties *properties = NULL;
    IEnumPortableDeviceObjectIDs *children = NULL;
    HRESULT hr = device->Content(&content);
    if (SUCCEEDED(hr))
        hr = content->Properties(&properties);
    if (SUCCEEDED(hr)) {
        ValueLines(properties, WPD_DEVICE_OBJECT_ID, keys, labels, 2, "  ");
        hr = content->EnumObjects(0, WPD_DEVICE_OBJECT_ID, NULL, &children);
    }
    for (int n = 0; SUCCEEDED(hr) && n < 16; n++) {
        LPWSTR child = NULL;
        char utf8[DEV_PATH_CHARS * 3];
        hr = DevNextChild(children, &child);
        if (hr != S_OK)
            break;
        Out("  storage: %s\r\n", Utf8(child, utf8, sizeof utf8));
        ValueLines(properties, child, storageKeys, storageLabels, 2, "    ");
        CoTaskMemFree(child);
    }
    if (FAILED(hr))
        Out("  storages: listing failed, %s\r\n", HrText(hr));
    if (children != NULL)
        children->Release();
    if (properties != NULL)
        properties->Release();
    if (content != NULL)
        content->Release();
}

void ReportDevices(void)
{
    enum { MAX_LISTED = 32 };
    IPortableDeviceManager *manager = NULL;
    LPWSTR ids[MAX_LISTED] = { 0 };
    DWORD count = 0;
    CurrentPhase = PHASE_DEVICES;
    OutSection("Devices");
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceManager, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDeviceManager,
                                  (void **)&manager);
    if (SUCCEEDED(hr))
        hr = manager->GetDevices(NULL, &count);
    if (SUCCEEDED(hr) && count > 0) {
        if (count > MAX_LISTED)
            count = MAX_LISTED;
        hr = manager->GetDevices(ids, &count);
        if (count > MAX_LISTED)
            count = MAX_LISTED;
    }
    if (FAILED(hr)) {
        Out("devices: unknown, the device list failed with %s\r\n", HrText(hr));
        count = 0;
    } else {
        Out("devices: %lu\r\n", (unsigned long)count);
    }
    for (DWORD i = 0; i < count; i++) {
        char utf8[DEV_PATH_CHARS * 3];
        IPortableDevice *device = NULL;
        Out("device %lu: %s\r\n", (unsigned long)(i + 1), Utf8(ids[i], utf8, sizeof utf8));
        DeviceIndex(ids[i]);
        ManagerLine(manager, &IPortableDeviceManager::GetDeviceFriendlyName, ids[i], "friendly name");
        ManagerLine(manager, &IPortableDeviceManager::GetDeviceManufacturer, ids[i], "manufacturer");
        hr = OpenDevice(ids[i], 0, &device);
        Out("  open read-write: %s\r\n", HrText(hr));
        if (device != NULL) {
            device->Close();
            device->Release();
            device = NULL;
        }
        hr = OpenDevice(ids[i], 1, &device);
        Out("  open read-only: %s\r\n", HrText(hr));
        if (device != NULL) {
            ReportStorages(device);
            device->Close();
            device->Release();
        }
    }
    for (DWORD i = 0; i < count; i++)
        CoTaskMemFree(ids[i]);
    if (manager != NULL)
        manager->Release();
}
