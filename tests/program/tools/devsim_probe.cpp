// Lists the portable devices that CoCreateInstance finds, and the names below each device's
// root: proves that a registered devsim server answers an unmodified client.
// Prints "devices N", then per device "device PNPID" and "  child NAME" lines.
#include <initguid.h>
#include <stdio.h>
#include "../../../devfs/wpd.h"

static void ListRootChildren(LPCWSTR pnpId)
{
    IPortableDeviceValues *info = nullptr;
    IPortableDevice *device = nullptr;
    IPortableDeviceContent *content = nullptr;
    IPortableDeviceProperties *properties = nullptr;
    IEnumPortableDeviceObjectIDs *children = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceValues, (void **)&info);
    if (SUCCEEDED(hr)) hr = info->SetStringValue(WPD_CLIENT_NAME, L"devsim probe");
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_PortableDevice, nullptr, CLSCTX_INPROC_SERVER, IID_IPortableDevice,
                              (void **)&device);
    if (SUCCEEDED(hr)) hr = device->Open(pnpId, info);
    if (SUCCEEDED(hr)) hr = device->Content(&content);
    if (SUCCEEDED(hr)) hr = content->Properties(&properties);
    if (SUCCEEDED(hr)) hr = content->EnumObjects(0, WPD_DEVICE_OBJECT_ID, nullptr, &children);
    while (SUCCEEDED(hr)) {
        LPWSTR id = nullptr;
        ULONG fetched = 0;
        hr = children->Next(1, &id, &fetched);
        if (FAILED(hr) || fetched == 0) break;
        IPortableDeviceValues *values = nullptr;
        LPWSTR name = nullptr;
        if (SUCCEEDED(properties->GetValues(id, nullptr, &values)) &&
            SUCCEEDED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name))) {
            printf("  child %ls\n", name);
            CoTaskMemFree(name);
        }
        if (values) values->Release();
        CoTaskMemFree(id);
    }
    if (FAILED(hr)) printf("  error 0x%08lx\n", (unsigned long)hr);
    if (children) children->Release();
    if (properties) properties->Release();
    if (content) content->Release();
    if (device) device->Release();
    if (info) info->Release();
}

int main()
{
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    IPortableDeviceManager *manager = nullptr;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceManager, nullptr, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceManager, (void **)&manager);
    if (FAILED(hr)) {
        printf("no manager 0x%08lx\n", (unsigned long)hr);
        CoUninitialize();
        return 1;
    }
    DWORD count = 0;
    hr = manager->GetDevices(nullptr, &count);
    LPWSTR ids[16] = {};
    if (count > 16) count = 16;
    if (SUCCEEDED(hr) && count) hr = manager->GetDevices(ids, &count);
    printf("devices %lu\n", SUCCEEDED(hr) ? (unsigned long)count : 0ul);
    for (DWORD i = 0; SUCCEEDED(hr) && i < count; i++) {
        printf("device %ls\n", ids[i]);
        ListRootChildren(ids[i]);
        CoTaskMemFree(ids[i]);
    }
    manager->Release();
    CoUninitialize();
    return SUCCEEDED(hr) ? 0 : 1;
}
