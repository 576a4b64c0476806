// Start-up, discovery of the handheld that carries the app folder, and shut-down. Discovery
// waits until a device path is first needed.
#include "devfs/devfs_internal.h"

enum { MAX_DEVICES = 128 };

// The root object's id: a constant of the layer, never freed when it becomes RootFolderId.
static WCHAR RootObjectId[] = WPD_DEVICE_OBJECT_ID;
static const WCHAR InfoFileName[] = L"Corvane_Info.ini";

// Read again for every object examined: nothing from the configuration is cached.
static int ReadSearchDepth(void)
{
    return (int)GetPrivateProfileIntA("Corvane", "SearchDepth", 4, "Corvane_Info.ini");
}

// A file of an interrupted replace found in the app folder being walked, kept until the
// walk of that folder ends: the settings file itself, later in the same folder, wins.
static LPWSTR PendingLeftover;

// Folders named DCIM or Pictures among the children of the storage being walked: a storage
// holding nothing else is a phone that shares only its photos (set to "Transfer photos").
static int PhotoFolders;

static int AllIdsSet(void)
{
    return DevConnection.RootFolderId != NULL && DevConnection.AppFolderId != NULL &&
           DevConnection.InfoFileId != NULL;
}

static void ReleaseDevice(void)
{
    DevReleasePropertyReads();   // the property service belongs to this device's content
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

// Whether an object's children can matter within the depth: a child of an app folder may be
// the settings file itself; anywhere else the file lies at least two levels further down.
static int ChildrenCanMatter(int depth, BOOL isAppFolder, int searchDepth)
{
    return depth + (isAppFolder ? 1 : 2) <= searchDepth;
}

int DevMayHaveChildren(BOOL hasType, const GUID &type)
{
    return !hasType || IsEqualGUID(type, WPD_CONTENT_TYPE_FOLDER) || IsEqualGUID(type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT);
}

void (*DevSkippedObject)(LPCWSTR objectId, int call, HRESULT reason);
int (*DevSearchProgress)(DWORD foldersListed);

// Asks the program whether the walk goes on; once it has said stop, that stands.
static int SearchCancelled(void)
{
    int cancelled = DevConnection.searchCancelled;
    if (!cancelled && DevSearchProgress != NULL)
        DevConnection.searchCancelled = cancelled = DevSearchProgress(DevConnection.foldersListed) != 0;
    return cancelled;
}

// Below a storage, an object the device cannot list or name is passed over and the walk goes
// on (a phone answers an error for a folder it will not list); DEVICE and the storages decide
// about the whole device. So does the app folder and all it holds: passing over any of it would
// hand the save to the next folder named "Corvane", a copy in Documents, say.
static HRESULT SkipOrFail(int depth, LPCWSTR objectId, int call, HRESULT reason, BOOL inAppFolder)
{
    if (inAppFolder) {
        DevConnection.appFolderUnreadable = 1;
        call = DEV_ENDS_DEVICE;
    }
    if (DevSkippedObject != NULL && (depth >= 2 || inAppFolder))
        DevSkippedObject(objectId, call, reason);
    return depth < 2 || inAppFolder ? reason : S_OK;
}

// Objects passed over because their names could not be read, that may themselves be an app
// folder: how many, the first one, and the folder holding them (when all share one). A settings
// file found later counts only in a sibling of theirs, since one folder cannot hold two folders
// named "Corvane"; anywhere else the unreadable one may be the app folder that comes first.
static struct {
    int count;
    int mixed;                     // they lie in different folders
    HRESULT reason;
    WCHAR first[DEV_PATH_CHARS];
    WCHAR parent[DEV_PATH_CHARS];
} Doubt;

static void NoteDoubt(LPCWSTR objectId, LPCWSTR parentId, HRESULT reason)
{
    if (Doubt.count++ == 0) {
        Doubt.reason = reason;
        lstrcpynW(Doubt.first, objectId, DEV_PATH_CHARS);
        lstrcpynW(Doubt.parent, parentId, DEV_PATH_CHARS);
        Doubt.mixed = DevWideLength(parentId) >= DEV_PATH_CHARS;   // too long to compare
    } else if (lstrcmpW(Doubt.parent, parentId) != 0) {
        Doubt.mixed = 1;
    }
}

// Whether a settings file whose app folder lies in holder may be taken: S_OK, or the failure
// of the unreadable object that may be the app folder before it (the device then ends on it).
static HRESULT TakeFind(LPCWSTR holder)
{
    if (Doubt.count == 0 || (!Doubt.mixed && lstrcmpW(Doubt.parent, holder) == 0))
        return S_OK;
    DevConnection.appFolderUnreadable = 1;
    if (DevSkippedObject != NULL)
        DevSkippedObject(Doubt.first, DEV_ENDS_DEVICE, Doubt.reason);
    return Doubt.reason;
}

// Depth-first walk in the device's order for a "Corvane_Info.ini" directly inside a folder
// named "Corvane". On a find the three ids go to DevConnection, which owns them from then on.
// Only what could still lead to a match is looked at: the name and type of an object in one
// read, its children only when one of them could be, or hold, the settings file.
HRESULT SearchForAppFolder(int depth, BOOL parentIsAppFolder, LPWSTR grandparentId, LPWSTR parentId,
                           LPWSTR objectId, IPortableDeviceProperties *properties)
{
    int searchDepth = ReadSearchDepth();
    if (depth > searchDepth)
        return S_OK;

    // The root object's name never matters: its children have no grandparent, so none of
    // them can be the settings file.
    BOOL isAppFolder = FALSE;
    BOOL mayHaveChildren = TRUE;
    HRESULT hr = S_OK;
    if (depth > 0) {
        LPWSTR name = NULL;
        GUID type;
        BOOL hasType = FALSE;
        hr = GetObjectNameAndType(properties, objectId, &name, &type, &hasType);
        // In an app folder a child without a name might be the settings file itself.
        if (SUCCEEDED(hr) && name == NULL && parentIsAppFolder)
            hr = DEV_E_NAMELESS_CHILD;
        if (FAILED(hr)) {
            if (!parentIsAppFolder && depth >= 2 && DevMayHaveChildren(hasType, type) &&
                ChildrenCanMatter(depth, TRUE, searchDepth))
                NoteDoubt(objectId, parentId, hr);
            return SkipOrFail(depth, objectId, DEV_SKIP_NAME_READ, hr, parentIsAppFolder);
        }
        if (name != NULL) {
            if (parentIsAppFolder && grandparentId != NULL && DevNameEqual(name, InfoFileName)) {
                CoTaskMemFree(name);
                hr = TakeFind(grandparentId);
                if (FAILED(hr))
                    return hr;
                DevConnection.RootFolderId = grandparentId;
                DevConnection.AppFolderId = parentId;
                DevConnection.InfoFileId = objectId;
                return S_OK;
            }
            WCHAR realName[DEV_PATH_CHARS];
            if (parentIsAppFolder && grandparentId != NULL && PendingLeftover == NULL &&
                DevLeftoverName(name, realName) && DevNameEqual(realName, InfoFileName)) {
                PendingLeftover = objectId;   // the caller leaves it to us
                CoTaskMemFree(name);
                return S_OK;
            }
            isAppFolder = DevNameEqual(name, DEV_APP_FOLDER_NAME);
            if (depth == 2 && hasType && IsEqualGUID(type, WPD_CONTENT_TYPE_FOLDER) &&
                (DevNameEqual(name, L"DCIM") || DevNameEqual(name, L"Pictures")))
                PhotoFolders++;
            CoTaskMemFree(name);
        }
        mayHaveChildren = DevMayHaveChildren(hasType, type);
    }
    if (!mayHaveChildren || !ChildrenCanMatter(depth, isAppFolder, searchDepth))
        return S_OK;

    IEnumPortableDeviceObjectIDs *children = NULL;
    hr = DevEnumChildren(objectId, &children);
    if (FAILED(hr))
        return SkipOrFail(depth, objectId, DEV_SKIP_LISTING, hr, isAppFolder || parentIsAppFolder);
    DevConnection.foldersListed++;
    int listed = 0;
    if (depth == 1)
        PhotoFolders = 0;
    LPWSTR outerLeftover = PendingLeftover;   // an app folder inside an app folder keeps its own
    if (isAppFolder)
        PendingLeftover = NULL;
    for (;;) {
        LPWSTR child = NULL;
        // Ends every folder of the walk as a failure does, never as one passed over.
        if (SearchCancelled()) {
            hr = E_ABORT;
            break;
        }
        hr = DevNextChild(children, &child);
        if (hr == S_FALSE) {
            hr = S_OK;   // every child seen
            break;
        }
        if (FAILED(hr)) {
            hr = SkipOrFail(depth, objectId, DEV_SKIP_NEXT, hr, isAppFolder || parentIsAppFolder);
            break;
        }
        listed++;
        hr = SearchForAppFolder(depth + 1, isAppFolder, parentId, objectId, child, properties);
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
        if (child != PendingLeftover)
            CoTaskMemFree(child);
    }
    children->Release();
    // A locked phone, or one set to charging only, opens and shows no storage at all.
    if (depth == 0 && listed == 0 && SUCCEEDED(hr))
        DevConnection.storageHidden = 1;
    if (depth == 1 && listed > 0 && PhotoFolders == listed && SUCCEEDED(hr) && !AllIdsSet()) {
        DevConnection.photosOnly = 1;
        if (DevSkippedObject != NULL)
            DevSkippedObject(objectId, DEV_PHOTOS_ONLY, S_OK);
    }
    if (isAppFolder) {
        // No settings file in this app folder, but what a replace left of it: the folder is
        // the app folder all the same, and the file gets its name back before it is used.
        if (SUCCEEDED(hr) && !AllIdsSet() && PendingLeftover != NULL && parentId != NULL)
            hr = TakeFind(parentId);
        if (SUCCEEDED(hr) && !AllIdsSet() && PendingLeftover != NULL && parentId != NULL) {
            DevConnection.RootFolderId = parentId;
            DevConnection.AppFolderId = objectId;
            DevConnection.InfoFileId = PendingLeftover;
        } else {
            CoTaskMemFree(PendingLeftover);
        }
        PendingLeftover = outerLeftover;
    }
    if (AllIdsSet() && PendingLeftover != NULL && PendingLeftover != DevConnection.InfoFileId) {
        CoTaskMemFree(PendingLeftover);   // found further in: an outer folder's leftover is not needed
        PendingLeftover = NULL;
    }
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
// was found; a device that fails is released like one without the file.
static HRESULT OpenAndSearchDevice(LPCWSTR pnpId)
{
    Doubt.count = 0;
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
        auto open = [&] { return DevConnection.device->Open(pnpId, clientInfo); };
        hr = DevRetryBusy(open);
        if (hr == E_ACCESSDENIED) {
            // Read-write refused: one more try with read access only.
            clientInfo->SetUnsignedIntegerValue(WPD_CLIENT_DESIRED_ACCESS, GENERIC_READ);
            hr = DevRetryBusy(open);
            DevConnection.readOnly = SUCCEEDED(hr);
        }
    }
    if (SUCCEEDED(hr))
        hr = DevConnection.device->Content(&DevConnection.content);
    if (SUCCEEDED(hr))
        hr = DevPropertiesService(&properties);
    if (SUCCEEDED(hr))
        hr = SearchForAppFolder(0, FALSE, NULL, NULL, RootObjectId, properties);
    if (clientInfo != NULL)
        clientInfo->Release();
    if (FAILED(hr) || !AllIdsSet()) {
        ReleaseDevice();
        DevConnection.readOnly = 0;
    }
    return hr;
}

// Opens the first device that carries the settings file, or leaves deviceUnavailable set.
static void DiscoverDevice(void)
{
    DevConnection.deviceUnavailable = 0;
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

    // A camera, a reader or a locked phone that fails to open or to be searched must not
    // hide the handheld after it: the first device that holds the file wins. A cancel ends them all.
    for (DWORD i = 0; i < count && !AllIdsSet() && !DevConnection.searchCancelled; i++)
        OpenAndSearchDevice(deviceIds[i]);
    for (DWORD i = 0; i < count; i++)
        CoTaskMemFree(deviceIds[i]);
    if (manager != NULL)
        manager->Release();

    if (!AllIdsSet()) {
        ReleaseConnection();
        DevConnection.deviceUnavailable = 1;
    }
}

// COM is ready from here on, but no device is looked for until a device path is first
// needed: a settings file under Root or on a drive never costs a walk over the handheld.
void DevStartup(int enableDevices)
{
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    ZeroMemory(&DevConnection, sizeof DevConnection);
    DevConnection.deviceUnavailable = 1;
    DevConnection.discoveryPending = enableDevices != 0;
}

int DevStorageHidden(void)
{
    return DevConnection.storageHidden && DevConnection.deviceUnavailable;
}

int DevAppFolderUnreadable(void)
{
    return DevConnection.appFolderUnreadable && DevConnection.deviceUnavailable;
}

int DevPhotosOnly(void)
{
    return DevConnection.photosOnly && DevConnection.deviceUnavailable;
}

int DevSearchCancelled(void)
{
    return DevConnection.searchCancelled && DevConnection.deviceUnavailable;
}

int DevDeviceReady(void)
{
    if (DevConnection.discoveryPending) {
        DevConnection.discoveryPending = 0;
        DiscoverDevice();
    }
    return !DevConnection.deviceUnavailable;
}

void DevShutdown(void)
{
    if (!DevConnection.deviceUnavailable)
        DevSlotReleaseAll();
    ReleaseConnection();
    // Nothing is left to reach the device through: every later device operation fails.
    DevConnection.deviceUnavailable = 1;
    DevConnection.discoveryPending = 0;
    CoUninitialize();
}
