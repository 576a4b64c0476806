// Device searches over the direct children of one folder, handed out as SearchHandles.
#include "devfs/devfs_internal.h"

// Fills findData from the next matching child. S_OK: filled; S_FALSE: no child left;
// a failure: the device did not answer (the search stays open either way).
HRESULT DevFindNextOnDevice(HANDLE handle, WIN32_FIND_DATAA *findData)
{
    SearchSlot *slot = DevSlotLookup(handle);
    if (slot == NULL)
        return E_FAIL;
    IPortableDeviceProperties *properties = NULL;
    HRESULT hr = DevPropertiesService(&properties);
    if (FAILED(hr))
        return hr;
    for (;;) {
        LPWSTR child = NULL;
        hr = DevNextChild(slot->enumerator, &child);
        if (hr != S_OK)
            break;   // S_FALSE: no child left
        LPWSTR name = NULL;
        hr = GetObjectStringProperty(properties, child, WPD_OBJECT_ORIGINAL_FILE_NAME, &name);
        if (FAILED(hr) || name == NULL || !DevPatternMatch(slot->pattern, name)) {
            CoTaskMemFree(name);
            CoTaskMemFree(child);
            if (FAILED(hr))
                break;
            continue;   // nameless or not matching: the next child
        }

        IPortableDeviceValues *values = NULL;
        GUID contentType;
        char narrowName[DEV_PATH_CHARS];
        hr = DevRetryBusy([&] { return properties->GetValues(child, NULL, &values); });
        if (SUCCEEDED(hr))
            hr = values->GetGuidValue(WPD_OBJECT_CONTENT_TYPE, &contentType);
        if (SUCCEEDED(hr) && !DevToNarrow(name, narrowName))
            hr = E_FAIL;
        if (SUCCEEDED(hr)) {
            findData->dwFileAttributes =
                IsEqualGUID(contentType, WPD_CONTENT_TYPE_FOLDER) ? FILE_ATTRIBUTE_DIRECTORY : 0;
            lstrcpyA(findData->cFileName, narrowName);
            hr = S_OK;
        }
        if (values != NULL)
            values->Release();
        CoTaskMemFree(name);
        CoTaskMemFree(child);
        break;
    }
    return hr;
}

HRESULT DevFindFirstOnDevice(LPCSTR path, WIN32_FIND_DATAA *findData, HANDLE *handleOut)
{
    char prepared[DEV_PATH_CHARS];
    char baseName[DEV_PATH_CHARS];
    char extension[DEV_PATH_CHARS];
    LPWSTR folder = NULL;
    *handleOut = INVALID_HANDLE_VALUE;
    if (!DevPrepareDevicePath(path, prepared))
        return E_FAIL;
    HRESULT hr = ResolveParentFolder(prepared, &folder, baseName, extension);
    if (FAILED(hr))
        return hr;

    IEnumPortableDeviceObjectIDs *children = NULL;
    hr = DevEnumChildren(folder, &children);
    if (FAILED(hr)) {
        DevFreeId(folder);
        return hr;
    }

    char pattern[DEV_PATH_CHARS];
    WCHAR widePattern[DEV_PATH_CHARS];
    lstrcpyA(pattern, baseName);
    lstrcatA(pattern, extension);
    if (lstrcmpA(pattern, "*.*") == 0)
        lstrcpyA(pattern, "*");
    HANDLE handle = INVALID_HANDLE_VALUE;
    if (DevToWide(pattern, widePattern))
        handle = DevSlotAllocate(children, widePattern);
    if (handle == INVALID_HANDLE_VALUE) {
        children->Release();   // all 256 searches open, or a pattern that cannot be converted
        DevFreeId(folder);
        return E_FAIL;
    }

    hr = DevFindNextOnDevice(handle, findData);
    DevFreeId(folder);
    if (hr != S_OK) {
        DevSlotRelease(handle);
        return hr;
    }
    *handleOut = handle;
    return S_OK;
}

HANDLE DevFindFirstFileOnDevice(LPCSTR path, WIN32_FIND_DATAA *findData)
{
    HANDLE handle;
    DevFindFirstOnDevice(path, findData, &handle);
    return handle;
}

BOOL DevFindNextFileOnDevice(HANDLE handle, WIN32_FIND_DATAA *findData)
{
    return DevFindNextOnDevice(handle, findData) == S_OK;
}
