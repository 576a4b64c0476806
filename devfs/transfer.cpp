// Downloads, uploads, deletes and comparisons of device files through a 1024-byte buffer.
// Replacing a file that exists is replace.cpp's.
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

void DevDigestStart(DevDigest *digest)
{
    digest->size = 0;
    digest->hash = 0xCBF29CE484222325ull;   // FNV-1a's offset basis
}

void DevDigestAdd(DevDigest *digest, const BYTE *bytes, DWORD count)
{
    for (DWORD i = 0; i < count; i++)
        digest->hash = (digest->hash ^ bytes[i]) * 0x100000001B3ull;
    digest->size += count;
}

int DevDigestEqual(const DevDigest *a, const DevDigest *b)
{
    return DevDigestKnown(a) && a->size == b->size && a->hash == b->hash;
}

HRESULT DevDigestOfFile(HANDLE file, DevDigest *digest)
{
    BYTE buffer[TRANSFER_BUFFER];
    DWORD got = 0;
    DevDigestStart(digest);
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER) {
        DevDigestForget(digest);
        return E_FAIL;
    }
    BOOL read;
    while ((read = ReadFile(file, buffer, sizeof buffer, &got, NULL)) && got > 0)
        DevDigestAdd(digest, buffer, got);
    if (!read) {
        DevDigestForget(digest);
        return E_FAIL;
    }
    return S_OK;
}

void DevDigestForget(DevDigest *digest)
{
    digest->size = DEV_SIZE_UNKNOWN;
    digest->hash = 0;
}

int DevDigestKnown(const DevDigest *digest)
{
    return digest->size != DEV_SIZE_UNKNOWN;
}

void DevSinkStart(DevReadSink *sink, HANDLE file, BOOL compare)
{
    sink->file = file;
    sink->compare = compare;
    sink->differs = FALSE;
    sink->desktop = S_OK;
    DevDigestStart(&sink->digest);
}

void DevSinkTake(DevReadSink *sink, const BYTE *bytes, DWORD count)
{
    DWORD done = 0;
    if (sink->file == NULL) {
        if (sink->digest.size + count <= sizeof sink->local)
            CopyMemory(sink->local + sink->digest.size, bytes, count);
    } else if (FAILED(sink->desktop) || sink->differs) {
        // Only read on to the end.
    } else if (!sink->compare) {
        if (!WriteFile(sink->file, bytes, count, &done, NULL) || done != count)
            sink->desktop = E_FAIL;
    } else if (!ReadFile(sink->file, sink->local, count, &done, NULL)) {
        sink->desktop = E_FAIL;
    } else if (done != count || memcmp(bytes, sink->local, count) != 0) {
        // The whole object is read even once it differs: only a complete one is the old file.
        sink->differs = TRUE;
    }
    DevDigestAdd(&sink->digest, bytes, count);
}

HRESULT DevSinkEnd(DevReadSink *sink, HRESULT hr)
{
    if (SUCCEEDED(hr))
        hr = sink->desktop;
    if (hr == S_OK && sink->compare && !sink->differs) {
        // Where the device's bytes end, the local file must end too.
        DWORD done = 0;
        if (!ReadFile(sink->file, sink->local, 1, &done, NULL))
            hr = E_FAIL;
        else if (done != 0)
            sink->differs = TRUE;
    }
    return hr == S_OK && sink->differs ? S_FALSE : hr;
}

// Reads the whole object into the open local file, or, with compare, against it: S_OK when
// written (or equal), S_FALSE when the device's bytes differ from the file's, DEV_E_INCOMPLETE
// when the stream ends short of the object's size (or the device gives no size to check), else
// the failure. A stream says it has ended only by giving no bytes: any success with bytes is
// data (drivers answer S_FALSE with the last chunk), and a link that ends early while saying all
// is well is caught by the size. More bytes than stated is no cut: phones that state sizes from
// their media database send the file as it is now. The stream is read to its end whatever
// happens on the desktop, since a stream left half read can wedge a phone.
static HRESULT StreamObject(IPortableDeviceContent *content, LPCWSTR objectId, ULONGLONG size, HANDLE file,
                            BOOL compare, DevDigest *seen)
{
    IPortableDeviceResources *resources = NULL;
    IStream *stream = NULL;
    DWORD optimal = 0;
    DevReadSink sink;
    HRESULT hr = content->Transfer(&resources);
    if (SUCCEEDED(hr))
        hr = DevRetryBusy([&] { return resources->GetStream(objectId, WPD_RESOURCE_DEFAULT, STGM_READ, &optimal, &stream); });
    DWORD chunk = ChunkSize(optimal);
    BYTE buffer[TRANSFER_BUFFER];
    DevSinkStart(&sink, file, compare);
    while (SUCCEEDED(hr)) {
        ULONG got = 0;
        hr = DevRetryBusy([&] { return stream->Read(buffer, chunk, &got); });
        if (FAILED(hr))
            break;
        hr = S_OK;
        if (got == 0)
            break;
        if (got > chunk) {
            hr = DEV_E_INCOMPLETE;   // more than the buffer holds: nothing it says can be trusted
            break;
        }
        DevSinkTake(&sink, buffer, got);
    }
    if (SUCCEEDED(hr) && (size == DEV_SIZE_UNKNOWN || sink.digest.size < size))
        hr = DEV_E_INCOMPLETE;
    hr = DevSinkEnd(&sink, hr);
    if (SUCCEEDED(hr) && seen != NULL)
        *seen = sink.digest;
    if (stream != NULL)
        stream->Release();
    if (resources != NULL)
        resources->Release();
    return hr;
}

HRESULT DownloadObject(IPortableDeviceContent *content, LPCWSTR objectId, ULONGLONG size, LPCWSTR localPath,
                       DevDigest *seen)
{
    HANDLE file = CreateFileW(localPath, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return E_FAIL;
    HRESULT hr = StreamObject(content, objectId, size, file, FALSE, seen);
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

HRESULT WriteNewObject(IPortableDeviceContent *content, IPortableDeviceValues *values, HANDLE file, LPWSTR *newId)
{
    IStream *stream = NULL;
    DWORD optimal = 0;
    BOOL committed = FALSE;
    if (newId != NULL)
        *newId = NULL;
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return E_FAIL;
    HRESULT hr = DevRetryBusy([&] { return content->CreateObjectWithPropertiesAndData(values, &stream, &optimal, NULL); });
    DWORD chunk = ChunkSize(optimal);
    BYTE buffer[TRANSFER_BUFFER];
    while (SUCCEEDED(hr)) {
        DWORD got = 0;
        if (!ReadFile(file, buffer, chunk, &got, NULL)) {
            hr = E_FAIL;
            break;
        }
        if (got == 0) {
            hr = DevRetryBusy([&] { return stream->Commit(STGC_DEFAULT); });
            if (FAILED(hr))
                break;
            hr = S_OK;
            committed = TRUE;
            // The id is known only once the object exists; without it the caller looks by name.
            IPortableDeviceDataStream *data = NULL;
            if (newId != NULL && SUCCEEDED(stream->QueryInterface(IID_IPortableDeviceDataStream, (void **)&data))) {
                if (FAILED(data->GetObjectID(newId)))
                    *newId = NULL;
                data->Release();
            }
            break;
        }
        // A short write would commit a truncated file: never commit one.
        ULONG written = 0;
        // A busy answer to a write stored nothing: the same bytes go again.
        if (FAILED(DevRetryBusy([&] { return stream->Write(buffer, got, &written); })) || written != got)
            hr = E_FAIL;
    }
    if (stream != NULL) {
        // Abandoned before its commit: reverted, so that the driver and the phone drop what was
        // begun instead of leaving a name nothing else may take.
        if (!committed)
            DevRetryBusy([&] { return stream->Revert(); });
        stream->Release();
    }
    return hr;
}

HANDLE OpenUploadSource(LPCWSTR localPath, DWORD *size)
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

HRESULT DeleteObject(LPCWSTR id)
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
        hr = DevRetryBusy([&] { return DevConnection.content->Delete(PORTABLE_DEVICE_DELETE_NO_RECURSION, ids, NULL); });
    PropVariantClear(&value);
    ids->Release();
    return hr == S_FALSE ? E_FAIL : hr;   // S_FALSE: the device kept the object
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

HRESULT CompareObjectWithFile(IPortableDeviceContent *content, LPCWSTR objectId, ULONGLONG size, HANDLE file,
                              DevDigest *seen)
{
    if (SetFilePointer(file, 0, NULL, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return E_FAIL;
    return StreamObject(content, objectId, size, file, TRUE, seen);
}

BOOL DevCopyFileOnDevice(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists)
{
    if (DevIsDevicePath(existingPath) && DevIsDevicePath(newPath))
        return 0;   // device-to-device copies are not supported
    DevDigest real;
    DevDigestForget(&real);
    if (DevIsDevicePath(existingPath))
        return SUCCEEDED(ReadDeviceFile(existingPath, newPath, 0, &real));
    ReplaceOutcome outcome;
    return SUCCEEDED(ReplaceDeviceFile(existingPath, newPath, &real, failIfExists, &outcome));
}
