// Device paths to object ids, one component at a time from RootFolderId. The app folder is the
// one the walk found, by its id: a search by name could take another folder spelt alike, or fail
// on a sibling whose name the walk passed over. Below it nothing is cached: the device may change
// between calls.
#include "devfs/devfs_internal.h"

// Splits a prepared path and drops the one separator that ends a non-empty directory.
static int SplitForResolution(LPCSTR path, DevPathParts *parts)
{
    if (!DevSplitPath(path, parts, DevAnsiLeadByte))
        return 0;
    int n = lstrlenA(parts->dir);
    if (n > 0 && (parts->dir[n - 1] == '\\' || parts->dir[n - 1] == '/'))
        parts->dir[n - 1] = '\0';
    return 1;
}

// The folder named by drive + directory: RootFolderId (borrowed) when the directory is empty.
static HRESULT ResolveDirectory(const DevPathParts *parts, LPWSTR *out)
{
    *out = NULL;
    if (DevConnection.RootFolderId == NULL)
        return E_FAIL;   // no device open: nothing to resolve from
    if (parts->dir[0] == '\0') {
        *out = DevConnection.RootFolderId;
        return S_OK;
    }
    char folderPath[DEV_PATH_CHARS];   // a part of a path that fitted, so it fits too
    lstrcpyA(folderPath, parts->drive);
    lstrcatA(folderPath, parts->dir);
    return ResolveObjectId(folderPath, out);
}

HRESULT FindChildrenByName(LPCWSTR parentId, const LPCWSTR *names, int count, LPWSTR *ids, LPWSTR *realNames,
                           ULONGLONG *sizes)
{
    IPortableDeviceProperties *properties = NULL;
    IEnumPortableDeviceObjectIDs *children = NULL;
    int left = count;
    for (int i = 0; i < count; i++) {
        ids[i] = NULL;
        if (realNames != NULL)
            realNames[i] = NULL;
        if (sizes != NULL)
            sizes[i] = DEV_SIZE_UNKNOWN;
    }
    HRESULT hr = DevPropertiesService(&properties);
    if (FAILED(hr))
        return hr;
    hr = DevEnumChildren(parentId, &children);
    if (FAILED(hr))
        return hr;
    while (left > 0) {
        LPWSTR child = NULL;
        hr = DevNextChild(children, &child);
        if (hr == S_FALSE) {
            hr = S_OK;   // every child seen
            break;
        }
        if (FAILED(hr))
            break;
        LPWSTR childName = NULL;
        ULONGLONG size = DEV_SIZE_UNKNOWN;
        hr = sizes != NULL ? GetObjectNameAndSize(properties, child, &childName, &size)
                           : GetObjectStringProperty(properties, child, WPD_OBJECT_ORIGINAL_FILE_NAME, &childName);
        // Where a name's absence decides something, a file that gives no name might be the one.
        if (SUCCEEDED(hr) && childName == NULL && sizes != NULL)
            hr = DEV_E_NAMELESS_CHILD;
        if (FAILED(hr)) {
            CoTaskMemFree(child);
            break;
        }
        // The first match of each name wins; a child without a name never matches.
        int match = -1;
        for (int i = 0; match < 0 && childName != NULL && i < count; i++) {
            if (ids[i] == NULL && DevNameEqual(childName, names[i]))
                match = i;
        }
        if (match < 0) {
            CoTaskMemFree(child);
            CoTaskMemFree(childName);
            continue;
        }
        ids[match] = child;
        if (sizes != NULL)
            sizes[match] = size;
        if (realNames != NULL)
            realNames[match] = childName;
        else
            CoTaskMemFree(childName);
        left--;
    }
    children->Release();
    if (FAILED(hr)) {
        for (int i = 0; i < count; i++) {
            CoTaskMemFree(ids[i]);
            ids[i] = NULL;
            if (realNames != NULL) {
                CoTaskMemFree(realNames[i]);
                realNames[i] = NULL;
            }
        }
    }
    return hr;
}

HRESULT FindChildByName(LPCWSTR parentId, LPCWSTR name, LPWSTR *out)
{
    return FindChildrenByName(parentId, &name, 1, out, NULL, NULL);
}

HRESULT ResolveObjectId(LPCSTR path, LPWSTR *out)
{
    DevPathParts parts;
    *out = NULL;
    if (!SplitForResolution(path, &parts))
        return E_FAIL;
    if (parts.dir[0] == '\0' && parts.base[0] == '\0') {
        *out = DevConnection.RootFolderId;   // borrowed: the caller must not free it
        return *out != NULL ? S_OK : E_FAIL;
    }

    char name[DEV_PATH_CHARS];
    lstrcpyA(name, parts.base);
    lstrcatA(name, parts.ext);
    WCHAR wideName[DEV_PATH_CHARS];
    // An empty component (two separators, or one at the end) names nothing.
    if (name[0] == '\0')
        return DEV_E_NO_SUCH_OBJECT;
    if (!DevToWide(name, wideName))
        return E_FAIL;

    if (parts.dir[0] == '\0' && DevConnection.AppFolderId != NULL && DevNameEqual(wideName, DEV_APP_FOLDER_NAME)) {
        *out = DevConnection.AppFolderId;   // borrowed, like RootFolderId
        return S_OK;
    }
    LPWSTR parent = NULL;
    HRESULT hr = ResolveDirectory(&parts, &parent);
    if (FAILED(hr))
        return hr;
    if (parent == NULL || parent[0] == 0) {
        DevFreeId(parent);
        return E_FAIL;
    }
    LPWSTR found = NULL;
    hr = FindChildByName(parent, wideName, &found);
    DevFreeId(parent);
    if (FAILED(hr))
        return hr;
    if (found == NULL)
        return DEV_E_NO_SUCH_OBJECT;
    if (found[0] == 0) {
        CoTaskMemFree(found);
        return E_FAIL;
    }
    *out = found;
    return S_OK;
}

HRESULT ResolveParentFolder(LPCSTR path, LPWSTR *parentOut, char *baseNameOut, char *extensionOut)
{
    DevPathParts parts;
    *parentOut = NULL;
    if (!SplitForResolution(path, &parts))
        return E_FAIL;
    HRESULT hr = ResolveDirectory(&parts, parentOut);
    if (FAILED(hr))
        return hr;
    lstrcpyA(baseNameOut, parts.base);
    lstrcpyA(extensionOut, parts.ext);
    return S_OK;
}
