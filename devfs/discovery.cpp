// Start-up, discovery of the handheld that carries the app folder, and shut-down.
#include "devfs/devfs_internal.h"

enum { MAX_DEVICES = 128 };

// The root object's id: a constant of the layer, never freed when it becomes RootFolderId.
static WCHAR RootObjectId[] = WPD_DEVICE_OBJECT_ID;
static const WCHAR AppFolderName[] = L"Corvane";
static const WCHAR InfoFileName[] = L"Corvane_Info.ini";

// Read again for every object examined: nothing from the configuration is cached.
static int ReadSearchDepth(void)
{
    return (int)GetPrivateProfileIntA("Corvane", "SearchDepth", 4, "Corvane_Info.ini");
}

static int AllIdsSet(void)
{
    return DevConnection.RootFolderId != NULL && DevConnection.AppFolderId != NULL &&
           DevConnection.InfoFileId != NULL;
}

static void ReleaseDevice(void)
{
    if (DevConnection.content != NULL)
        DevConnection.content->Release();
    if (DevConnection.device != NULL)
        DevConnection.device->Release();
    DevConnection.content = NULL;
    DevConnection.device = NULL;
}

// Frees the three ids, drops the working copy and releases the device.
static void ReleaseConnection(void)
{
    if (DevConnection.RootFolderId != RootObjectId)
        CoTaskMemFree(DevConnection.RootFolderId);
    CoTaskMemFree(DevConnection.AppFolderId);
    CoTaskMemFree(DevConnection.InfoFileId);
    DevConnection.RootFolderId = DevConnection.AppFolderId = DevConnection.InfoFileId = NULL;

    WorkingCopy *copy = &DevConnection.workingCopy;
    if (copy->cachedLocalPath[0] != '\0')
        DeleteFileA(copy->cachedLocalPath);
    copy->cachedLocalPath[0] = '\0';
    copy->cachedDevicePath[0] = '\0';
    ReleaseDevice();
}

HRESULT GetObjectStringProperty(IPortableDeviceProperties *properties, LPCWSTR objectId,
                                REFPROPERTYKEY key, LPWSTR *out)
{
    IPortableDeviceKeyCollection *keys = NULL;
    IPortableDeviceValues *values = NULL;
    *out = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceKeyCollection, (void **)&keys);
    if (SUCCEEDED(hr))
        hr = keys->Add(key);
    if (SUCCEEDED(hr))
        hr = properties->GetValues(objectId, keys, &values);
    // An object without the property is not a failure: out stays none.
    if (SUCCEEDED(hr) && FAILED(values->GetStringValue(key, out)))
        *out = NULL;
    if (values != NULL)
        values->Release();
    if (keys != NULL)
        keys->Release();
    return hr;
}

// Depth-first walk in the device's order for a "Corvane_Info.ini" directly inside a folder
// named "Corvane". On a find the three ids go to DevConnection, which owns them from then on.
HRESULT SearchForAppFolder(int depth, BOOL parentIsAppFolder, LPWSTR grandparentId, LPWSTR parentId,
                           LPWSTR objectId, IPortableDeviceProperties *properties)
{
    if (depth > ReadSearchDepth())
        return S_OK;

    LPWSTR name = NULL;
    HRESULT hr = GetObjectStringProperty(properties, objectId, WPD_OBJECT_ORIGINAL_FILE_NAME, &name);
    if (FAILED(hr))
        return hr;

    BOOL childrenAreInAppFolder = FALSE;
    if (name != NULL) {
        // A grandparent always exists below the root; the check keeps a named root from
        // ever producing a RootFolderId of none.
        if (parentIsAppFolder && grandparentId != NULL && DevNameEqual(name, InfoFileName)) {
            DevConnection.RootFolderId = grandparentId;
            DevConnection.AppFolderId = parentId;
            DevConnection.InfoFileId = objectId;
            CoTaskMemFree(name);
            return S_OK;
        }
        childrenAreInAppFolder = DevNameEqual(name, AppFolderName);
        CoTaskMemFree(name);
    }

    // A file is asked for its children like a folder: it simply has none.
    IEnumPortableDeviceObjectIDs *children = NULL;
    hr = DevConnection.content->EnumObjects(0, objectId, NULL, &children);
    if (FAILED(hr))
        return hr;
    for (;;) {
        LPWSTR child = NULL;
        hr = DevNextChild(children, &child);
        if (hr == S_FALSE) {
            hr = S_OK;   // every child seen
            break;
        }
        if (FAILED(hr))
            break;
        hr = SearchForAppFolder(depth + 1, childrenAreInAppFolder, parentId, objectId, child, properties);
        if (FAILED(hr)) {
            CoTaskMemFree(child);
            break;
        }
        if (AllIdsSet()) {
            if (child != DevConnection.RootFolderId && child != DevConnection.AppFolderId &&
                child != DevConnection.InfoFileId)
                CoTaskMemFree(child);
            break;
        }
        CoTaskMemFree(child);
    }
    children->Release();
    return hr;
}

static HRESULT CreateDeviceObject(void)
{
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceFTM, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDevice,
                                  (void **)&DevConnection.device);
    if (FAILED(hr))
        hr = CoCreateInstance(CLSID_PortableDevice, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDevice,
                              (void **)&DevConnection.device);
    return hr;
}

// Opens one device and searches it. Keeps it in DevConnection only when the settings file
// was found; a failure is returned so that discovery stops.
static HRESULT OpenAndSearchDevice(LPCWSTR pnpId)
{
    IPortableDeviceValues *clientInfo = NULL;
    IPortableDeviceProperties *properties = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceValues, (void **)&clientInfo);
    if (SUCCEEDED(hr)) {
        // Only the creation of the set counts; a value the set refuses is not fatal.
        clientInfo->SetStringValue(WPD_CLIENT_NAME, L"Corvane");
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_MAJOR_VERSION, 1);
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_MINOR_VERSION, 0);
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_REVISION, 0);
        clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_SECURITY_QUALITY_OF_SERVICE, SECURITY_IMPERSONATION);
        hr = CreateDeviceObject();
    }
    if (SUCCEEDED(hr)) {
        hr = DevConnection.device->Open(pnpId, clientInfo);
        if (hr == E_ACCESSDENIED) {
            // Read-write refused: one more try with read access only.
            clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_DESIRED_ACCESS, GENERIC_READ);
            hr = DevConnection.device->Open(pnpId, clientInfo);
        }
    }
    if (SUCCEEDED(hr))
        hr = DevConnection.device->Content(&DevConnection.content);
    if (SUCCEEDED(hr))
        hr = DevConnection.content->Properties(&properties);
    if (SUCCEEDED(hr)) {
        hr = SearchForAppFolder(0, FALSE, NULL, NULL, RootObjectId, properties);
        properties->Release();
    }
    if (clientInfo != NULL)
        clientInfo->Release();
    if (FAILED(hr) || !AllIdsSet())
        ReleaseDevice();
    return hr;
}

void DevStartup(int enableDevices)
{
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    ZeroMemory(&DevConnection, sizeof DevConnection);
    if (!enableDevices) {
        DevConnection.deviceUnavailable = 1;
        return;
    }

    IPortableDeviceManager *manager = NULL;
    LPWSTR deviceIds[MAX_DEVICES] = { 0 };
    DWORD count = 0;
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceManager, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceManager, (void **)&manager);
    if (SUCCEEDED(hr))
        hr = manager->GetDevices(NULL, &count);
    if (SUCCEEDED(hr) && count > 0) {
        if (count > MAX_DEVICES)
            count = MAX_DEVICES;
        hr = manager->GetDevices(deviceIds, &count);
        if (count > MAX_DEVICES)
            count = MAX_DEVICES;
    }
    if (FAILED(hr))
        count = 0;

    // A device that fails to open or to be searched hides every device after it.
    for (DWORD i = 0; SUCCEEDED(hr) && i < count && !AllIdsSet(); i++)
        hr = OpenAndSearchDevice(deviceIds[i]);
    for (DWORD i = 0; i < count; i++)
        CoTaskMemFree(deviceIds[i]);
    if (manager != NULL)
        manager->Release();

    if (FAILED(hr) || !AllIdsSet()) {
        ReleaseConnection();
        DevConnection.deviceUnavailable = 1;
    }
}

void DevShutdown(void)
{
    if (!DevConnection.deviceUnavailable)
        DevSlotReleaseAll();
    ReleaseConnection();
    CoUninitialize();
}
