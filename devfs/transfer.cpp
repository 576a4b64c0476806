// Downloads, uploads and deletes of device files through a 1024-byte buffer.
#include "devfs/devfs_internal.h"

enum { TRANSFER_BUFFER = 1024 };

// The device's optimal size when it fits the buffer, else the whole buffer.
static DWORD ChunkSize(DWORD optimal)
{
    return (optimal >= 1 && optimal <= TRANSFER_BUFFER) ? optimal : (DWORD)TRANSFER_BUFFER;
}

static int IsImageExtension(LPCWSTR extension)
{
    static const WCHAR *const images[] = { L".bmp", L".jpg", L".jpeg", L".gif" };
    for (size_t i = 0; i < sizeof images / sizeof images[0]; i++) {
        if (DevNameEqual(extension, images[i]))
            return 1;
    }
    return 0;
}

HRESULT DownloadObject(IPortableDeviceContent *content, LPCWSTR objectId, LPCWSTR localPath)
{
    HANDLE file = CreateFileW(localPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return E_FAIL;

    IPortableDeviceResources *resources = NULL;
    IStream *stream = NULL;
    DWORD optimal = 0;
    HRESULT hr = content->Transfer(&resources);
    if (SUCCEEDED(hr))
        hr = resources->GetStream(objectId, WPD_RESOURCE_DEFAULT, STGM_READ, &optimal, &stream);
    DWORD chunk = ChunkSize(optimal);
    BYTE buffer[TRANSFER_BUFFER];
    while (SUCCEEDED(hr)) {
        ULONG got = 0;
        hr = stream->Read(buffer, chunk, &got);
        if (FAILED(hr))
            break;
        if (got == 0) {
            hr = S_OK;
            break;
        }
        DWORD written = 0;
        if (got > chunk || !WriteFile(file, buffer, got, &written, NULL) || written != got)
            hr = E_FAIL;
    }
    if (stream != NULL)
        stream->Release();
    if (resources != NULL)
        resources->Release();
    CloseHandle(file);
    if (FAILED(hr))
        DeleteFileW(localPath);   // never leave a partial copy behind
    return hr;
}

HRESULT BuildObjectProperties(LPCWSTR parentId, LPCWSTR baseName, LPCWSTR extension,
                              DWORD sizeLow, DWORD sizeHigh, IPortableDeviceValues **valuesOut)
{
    IPortableDeviceValues *values = NULL;
    WCHAR fileName[DEV_PATH_CHARS];
    *valuesOut = NULL;
    if (DevWideLength(baseName) + DevWideLength(extension) >= DEV_PATH_CHARS)
        return E_FAIL;
    lstrcpyW(fileName, baseName);
    lstrcatW(fileName, extension);

    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceValues, (void **)&values);
    if (FAILED(hr))
        return hr;
    hr = values->SetStringValue(WPD_OBJECT_PARENT_ID, parentId);
    if (SUCCEEDED(hr))
        hr = values->SetUnsignedLargeIntegerValue(WPD_OBJECT_SIZE, ((ULONGLONG)sizeHigh << 32) | sizeLow);
    if (SUCCEEDED(hr))
        hr = values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, fileName);
    if (SUCCEEDED(hr))
        hr = values->SetStringValue(WPD_OBJECT_NAME, baseName);
    if (SUCCEEDED(hr) && IsImageExtension(extension)) {
        hr = values->SetGuidValue(WPD_OBJECT_CONTENT_TYPE, WPD_CONTENT_TYPE_IMAGE);
        if (SUCCEEDED(hr))
            hr = values->SetGuidValue(WPD_OBJECT_FORMAT, WPD_OBJECT_FORMAT_EXIF);
    }
    if (FAILED(hr)) {
        values->Release();
        return hr;
    }
    *valuesOut = values;
    return S_OK;
}

// Creates a new object from the open local file: chunks of the device's optimal size, and
// the commit only when every byte went in.
static HRESULT WriteNewObject(IPortableDeviceContent *content, IPortableDeviceValues *values, HANDLE file)
{
    IStream *stream = NULL;
    DWORD optimal = 0;
    HRESULT hr = content->CreateObjectWithPropertiesAndData(values, &stream, &optimal, NULL);
    DWORD chunk = ChunkSize(optimal);
    BYTE buffer[TRANSFER_BUFFER];
    while (SUCCEEDED(hr)) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, chunk, &got, NULL)) {
            hr = E_FAIL;
            break;
        }
        if (got == 0) {
            hr = stream->Commit(STGC_DEFAULT);
            if (FAILED(hr))
                hr = E_FAIL;
            break;
        }
        // A short write would commit a truncated file: never commit one.
        ULONG written = 0;
        if (FAILED(stream->Write(buffer, got, &written)) || written != got)
            hr = E_FAIL;
    }
    if (stream != NULL)
        stream->Release();   // uncommitted: the device drops the new object
    return hr;
}

// The local file opened for an upload, with its size; INVALID_HANDLE_VALUE when it cannot be.
static HANDLE OpenUploadSource(LPCWSTR localPath, DWORD *size)
{
    HANDLE file = CreateFileW(localPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return file;
    *size = GetFileSize(file, NULL);
    if (*size == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

// Removes one object; S_OK only when the device says it is gone.
static HRESULT DeleteObject(LPCWSTR id)
{
    IPortableDevicePropVariantCollection *ids = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDevicePropVariantCollection, (void **)&ids);
    if (FAILED(hr))
        return hr;
    PROPVARIANT value;
    PropVariantInit(&value);
    size_t bytes = (DevWideLength(id) + 1) * sizeof(WCHAR);
    value.vt = VT_LPWSTR;
    value.pwszVal = (LPWSTR)CoTaskMemAlloc(bytes);
    if (value.pwszVal == NULL) {
        value.vt = VT_EMPTY;
        hr = E_OUTOFMEMORY;
    } else {
        CopyMemory(value.pwszVal, id, bytes);
        hr = ids->Add(&value);
    }
    if (SUCCEEDED(hr))
        hr = DevConnection.content->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids, NULL);
    PropVariantClear(&value);
    ids->Release();
    return hr == S_FALSE ? E_FAIL : hr;   // S_FALSE: the device kept the object
}

// Gives an object another file name; S_OK only when the device took it.
static HRESULT RenameObject(LPCWSTR id, LPCWSTR name)
{
    IPortableDeviceProperties *properties = NULL;
    IPortableDeviceValues *values = NULL;
    IPortableDeviceValues *results = NULL;
    HRESULT hr = DevConnection.content->Properties(&properties);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                              (void **)&values);
    if (SUCCEEDED(hr))
        hr = values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, name);
    if (SUCCEEDED(hr))
        hr = properties->SetValues(id, values, &results);
    if (results != NULL)
        results->Release();
    if (values != NULL)
        values->Release();
    if (properties != NULL)
        properties->Release();
    return hr == S_FALSE ? E_FAIL : hr;   // S_FALSE: the device refused the name
}

BOOL DevDeleteFileOnDevice(LPCSTR path)
{
    char prepared[DEV_PATH_CHARS];
    LPWSTR id = NULL;
    if (!DevPrepareDevicePath(path, prepared))
        return 0;
    HRESULT hr = ResolveObjectId(prepared, &id);
    if (hr == DEV_E_NO_SUCH_OBJECT)
        return 1;   // not there counts as deleted; a device that did not answer does not
    if (SUCCEEDED(hr)) {
        hr = DeleteObject(id);
        DevFreeId(id);
    }
    return SUCCEEDED(hr);
}

// Name a replaced file has on the device while its successor is written.
static const WCHAR AsideSuffix[] = L".tessaly-old";

// Everything an upload needs before it changes anything on the device.
struct Upload {
    LPWSTR parent;              // the folder (RootFolderId borrowed)
    WCHAR name[DEV_PATH_CHARS];        // the file name, as the device spells an existing one
    WCHAR asideName[DEV_PATH_CHARS];   // name + AsideSuffix
    LPWSTR oldId;               // the object replaced, or none
    LPWSTR staleAsideId;        // an aside object an interrupted run left, or none
    HANDLE file;
    IPortableDeviceValues *values;
};

static void ReleaseUpload(Upload *up)
{
    DevFreeId(up->parent);
    CoTaskMemFree(up->oldId);
    CoTaskMemFree(up->staleAsideId);
    if (up->file != INVALID_HANDLE_VALUE)
        CloseHandle(up->file);
    if (up->values != NULL)
        up->values->Release();
}

// Resolves the folder, finds the object replaced and any leftover aside object in one pass,
// opens the local file and builds the new object's properties. Reads only.
static HRESULT PrepareUpload(LPCSTR localPath, LPCSTR devicePath, Upload *up)
{
    char prepared[DEV_PATH_CHARS];
    char baseName[DEV_PATH_CHARS];
    char extension[DEV_PATH_CHARS];
    WCHAR wideLocal[DEV_PATH_CHARS];
    WCHAR wideBase[DEV_PATH_CHARS];
    WCHAR wideExtension[DEV_PATH_CHARS];
    DWORD size = 0;
    ZeroMemory(up, sizeof *up);
    up->file = INVALID_HANDLE_VALUE;
    if (!DevPrepareDevicePath(devicePath, prepared) || !DevToWide(localPath, wideLocal))
        return E_FAIL;
    up->file = OpenUploadSource(wideLocal, &size);
    if (up->file == INVALID_HANDLE_VALUE)
        return E_FAIL;
    HRESULT hr = ResolveParentFolder(prepared, &up->parent, baseName, extension);
    if (FAILED(hr))
        return hr;
    if (!DevToWide(baseName, wideBase) || !DevToWide(extension, wideExtension) ||
        DevWideLength(wideBase) + DevWideLength(wideExtension) + ARRAYSIZE(AsideSuffix) > DEV_PATH_CHARS)
        return E_FAIL;
    lstrcpyW(up->name, wideBase);
    lstrcatW(up->name, wideExtension);
    lstrcpyW(up->asideName, up->name);
    lstrcatW(up->asideName, AsideSuffix);

    const LPCWSTR names[2] = { up->name, up->asideName };
    LPWSTR ids[2];
    LPWSTR realNames[2];
    hr = FindChildrenByName(up->parent, names, 2, ids, realNames);
    if (FAILED(hr))
        return hr;
    up->oldId = ids[0];
    up->staleAsideId = ids[1];
    // The replacement keeps the name the device has: only A to Z can differ, so the base
    // name keeps its length.
    if (realNames[0] != NULL && DevWideLength(realNames[0]) == DevWideLength(up->name)) {
        lstrcpyW(up->name, realNames[0]);
        lstrcpynW(wideBase, realNames[0], (int)DevWideLength(wideBase) + 1);
        lstrcpyW(wideExtension, realNames[0] + DevWideLength(wideBase));
        lstrcpyW(up->asideName, up->name);
        lstrcatW(up->asideName, AsideSuffix);
    }
    CoTaskMemFree(realNames[0]);
    CoTaskMemFree(realNames[1]);
    return BuildObjectProperties(up->parent, wideBase, wideExtension, size, 0, &up->values);
}

// Replaces (or creates) the device file devicePath with the local file. The old object is
// renamed aside, the new one written under the real name, and only then is the old one
// deleted; a failure renames it back. A device that does not rename gets the old object
// deleted first, since it refuses two objects of one name. *deviceIntact tells whether the
// device still holds its file (old or new) under its name afterwards.
HRESULT UploadReplacing(LPCSTR localPath, LPCSTR devicePath, int *deviceIntact)
{
    Upload up;
    *deviceIntact = 1;
    HRESULT hr = PrepareUpload(localPath, devicePath, &up);
    if (SUCCEEDED(hr) && up.oldId == NULL) {
        hr = WriteNewObject(DevConnection.content, up.values, up.file);
    } else if (SUCCEEDED(hr)) {
        // A leftover from an interrupted run goes first: its name must be free again.
        if (up.staleAsideId != NULL)
            DeleteObject(up.staleAsideId);
        if (SUCCEEDED(RenameObject(up.oldId, up.asideName))) {
            hr = WriteNewObject(DevConnection.content, up.values, up.file);
            if (SUCCEEDED(hr))
                DeleteObject(up.oldId);   // should it stay, the next upload removes it
            else
                *deviceIntact = SUCCEEDED(RenameObject(up.oldId, up.name));
        } else {
            hr = DeleteObject(up.oldId);
            if (SUCCEEDED(hr)) {
                hr = WriteNewObject(DevConnection.content, up.values, up.file);
                *deviceIntact = SUCCEEDED(hr);
            }
        }
    }
    ReleaseUpload(&up);
    return hr;
}

BOOL DevCopyFileOnDevice(LPCSTR existingPath, LPCSTR newPath)
{
    char prepared[DEV_PATH_CHARS];
    WCHAR localPath[DEV_PATH_CHARS];
    if (DevIsDevicePath(existingPath) && DevIsDevicePath(newPath))
        return 0;   // device-to-device copies are not supported

    if (DevIsDevicePath(existingPath)) {
        LPWSTR id = NULL;
        if (!DevPrepareDevicePath(existingPath, prepared) || FAILED(ResolveObjectId(prepared, &id)))
            return 0;
        HRESULT hr = DevToWide(newPath, localPath) ? DownloadObject(DevConnection.content, id, localPath) : E_FAIL;
        DevFreeId(id);
        return SUCCEEDED(hr);
    }
    int deviceIntact;
    return SUCCEEDED(UploadReplacing(existingPath, newPath, &deviceIntact));
}
