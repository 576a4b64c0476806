// What the layer's limited walk cannot tell: where the settings file lies when it is deeper
// than SearchDepth. A walk level by level, so the first find is the shallowest.
#include "probe/probe.h"

enum { FRONTIER = 4096, MAX_PATH_DEPTH = 32 };

struct Pending {
    LPWSTR id;
    int isAppFolder;
};
static Pending LevelA[FRONTIER], LevelB[FRONTIER];

HRESULT ObjectPath(IPortableDeviceProperties *properties, LPCWSTR objectId, char *path, int size, int *depth)
{
    const PROPERTYKEY keys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_NAME, WPD_OBJECT_PARENT_ID };
    IPortableDeviceKeyCollection *wanted = NULL;
    WCHAR id[DEV_PATH_CHARS];
    path[0] = '\0';
    *depth = 0;
    lstrcpynW(id, objectId, DEV_PATH_CHARS);
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceKeyCollection, (void **)&wanted);
    for (int i = 0; SUCCEEDED(hr) && i < 3; i++)
        hr = wanted->Add(keys[i]);
    while (SUCCEEDED(hr) && *depth < MAX_PATH_DEPTH && id[0] != '\0' && lstrcmpW(id, WPD_DEVICE_OBJECT_ID) != 0) {
        IPortableDeviceValues *values = NULL;
        LPWSTR name = NULL, parent = NULL;
        hr = properties->GetValues(id, wanted, &values);
        if (SUCCEEDED(hr)) {
            if (FAILED(values->GetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &name)))
                values->GetStringValue(WPD_OBJECT_NAME, &name);
            if (FAILED(values->GetStringValue(WPD_OBJECT_PARENT_ID, &parent)))
                parent = NULL;
            values->Release();
            // Put "name/" in front of what is there.
            char part[DEV_PATH_CHARS * 3];
            Utf8(name != NULL ? name : id, part, sizeof part);
            int partLength = lstrlenA(part), pathLength = lstrlenA(path);
            if (partLength + 1 + pathLength < size) {
                MoveMemory(path + partLength + (pathLength ? 1 : 0), path, pathLength + 1);
                CopyMemory(path, part, partLength);
                if (pathLength)
                    path[partLength] = '/';
            }
            lstrcpynW(id, parent != NULL ? parent : L"", DEV_PATH_CHARS);
            (*depth)++;
        }
        CoTaskMemFree(name);
        CoTaskMemFree(parent);
    }
    if (wanted != NULL)
        wanted->Release();
    return hr;
}

static void FreeLevel(Pending *level, int count)
{
    for (int i = 0; i < count; i++)
        CoTaskMemFree(level[i].id);
}

static LPWSTR CopyId(LPCWSTR id)
{
    LPWSTR copy = (LPWSTR)CoTaskMemAlloc((lstrlenW(id) + 1) * sizeof(WCHAR));
    if (copy != NULL)
        lstrcpyW(copy, id);
    return copy;
}

// Objects it cannot list or name are passed over, as the layer does; what is kept of a level
// to look into is bounded, and a level cut short is said with the objects it left out.
int FullWalkDepth(IPortableDeviceContent *content, int device, int maxDepth, char *path, int pathSize, int *cut)
{
    IPortableDeviceProperties *properties = NULL;
    Pending *current = LevelA, *next = LevelB;
    int currentCount = 0, foundDepth = 0;
    LPWSTR found = NULL;
    path[0] = '\0';
    if (FAILED(content->Properties(&properties)))
        return 0;
    current[0].id = CopyId(WPD_DEVICE_OBJECT_ID);
    current[0].isAppFolder = 0;
    currentCount = current[0].id != NULL;
    for (int depth = 0; depth < maxDepth && currentCount > 0 && found == NULL; depth++) {
        int nextCount = 0, leftOut = 0;
        for (int i = 0; i < currentCount && found == NULL; i++) {
            IEnumPortableDeviceObjectIDs *children = NULL;
            if (FAILED(content->EnumObjects(0, current[i].id, NULL, &children)))
                continue;
            LPWSTR child = NULL;
            while (found == NULL && DevNextChild(children, &child) == S_OK) {
                LPWSTR name = NULL;
                GUID type;
                BOOL hasType = FALSE;
                int keep = 0;
                if (SUCCEEDED(GetObjectNameAndType(properties, child, &name, &type, &hasType))) {
                    if (current[i].isAppFolder && name != NULL && DevNameEqual(name, L"Corvane_Info.ini")) {
                        found = child;
                        foundDepth = depth + 1;
                        keep = 1;
                    } else if (DevMayHaveChildren(hasType, type) && nextCount == FRONTIER) {
                        leftOut++;
                    } else if (DevMayHaveChildren(hasType, type)) {
                        next[nextCount].id = child;
                        next[nextCount].isAppFolder = name != NULL && DevNameEqual(name, L"Corvane");
                        nextCount++;
                        keep = 1;
                    }
                }
                CoTaskMemFree(name);
                if (!keep)
                    CoTaskMemFree(child);
            }
            children->Release();
        }
        if (leftOut > 0) {
            Out("full walk: cut short at depth %d on device %d: %d of %d objects that may hold others were not looked "
                "into (at most %d are kept a level)\r\n",
                depth + 1, device + 1, leftOut, nextCount + leftOut, FRONTIER);
            *cut = 1;
        }
        FreeLevel(current, currentCount);
        Pending *swap = current;
        current = next;
        next = swap;
        currentCount = nextCount;
    }
    FreeLevel(current, currentCount);
    if (found != NULL) {
        int depth = 0;
        ObjectPath(properties, found, path, pathSize, &depth);
        CoTaskMemFree(found);
    }
    DevReleasePropertyReads();   // what the layer's reads keep with the connection
    properties->Release();
    return foundDepth;
}
