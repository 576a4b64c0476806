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

HRESULT UploadFile(IPortableDeviceContent *content, LPCWSTR localPath, LPCWSTR parentId,
                   LPCWSTR baseName, LPCWSTR extension)
{
    HANDLE file = CreateFileW(localPath, GENERIC_READ, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return E_FAIL;

    IPortableDeviceValues *values = NULL;
    IStream *stream = NULL;
    DWORD optimal = 0;
    HRESULT hr = BuildObjectProperties(parentId, baseName, extension, GetFileSize(file, NULL), 0, &values);
    if (SUCCEEDED(hr))
        hr = content->CreateObjectWithPropertiesAndData(values, &stream, &optimal, NULL);
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
    if (values != NULL)
        values->Release();
    CloseHandle(file);
    return hr;
}

BOOL DevDeleteFileOnDevice(LPCSTR path)
{
    char prepared[DEV_PATH_CHARS];
    LPWSTR id = NULL;
    if (!DevPrepareDevicePath(path, prepared))
        return 0;
    if (FAILED(ResolveObjectId(prepared, &id)))
        return 1;   // not there counts as deleted

    IPortableDevicePropVariantCollection *ids = NULL;
    HRESULT hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDevicePropVariantCollection, (void **)&ids);
    if (SUCCEEDED(hr)) {
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
    }
    DevFreeId(id);
    return hr == S_OK;   // S_FALSE: the device kept the object
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

    LPWSTR parent = NULL;
    char baseName[DEV_PATH_CHARS];
    char extension[DEV_PATH_CHARS];
    WCHAR wideBase[DEV_PATH_CHARS];
    WCHAR wideExtension[DEV_PATH_CHARS];
    if (!DevPrepareDevicePath(newPath, prepared) || FAILED(ResolveParentFolder(prepared, &parent, baseName, extension)))
        return 0;
    // The device refuses a second object of the same name; an old object that cannot be
    // removed stays untouched and the upload stops.
    HRESULT hr = E_FAIL;
    if (DevDeleteFile(newPath) && DevToWide(existingPath, localPath) && DevToWide(baseName, wideBase) &&
        DevToWide(extension, wideExtension))
        hr = UploadFile(DevConnection.content, localPath, parent, wideBase, wideExtension);
    DevFreeId(parent);
    return SUCCEEDED(hr);
}
