// --write-test: a small file in the app folder, renamed and deleted, to learn whether the
// device keeps an object's id across a rename. Runs on the layer's own open connection.
#include "probe/probe.h"

static HRESULT Rename(LPCWSTR id, LPCWSTR name)
{
    IPortableDeviceProperties *properties = NULL;
    IPortableDeviceValues *values = NULL, *results = NULL;
    HRESULT hr = DevConnection.content->Properties(&properties);
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                              (void **)&values);
    if (SUCCEEDED(hr))
        hr = values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, name);
    if (SUCCEEDED(hr))
        hr = properties->SetValues(id, values, &results);
    if (hr == S_FALSE)
        hr = E_FAIL;   // the name was refused
    if (results != NULL)
        results->Release();
    if (values != NULL)
        values->Release();
    if (properties != NULL)
        properties->Release();
    return hr;
}

// The test file rewritten in place (its content reversed, the same length) and read back through
// the pass-through, to show on a real phone that the edit path works.
static void RewriteInPlace(LPCWSTR id, HANDLE file)
{
    BYTE bytes[64];
    DWORD size = 0, done = 0, handle = 0;
    int touched = 0;
    HRESULT hr = MtpHandleOf(id, L"TessalyProbe_test.txt", &handle);
    if (SUCCEEDED(hr) && (SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 || !ReadFile(file, bytes, sizeof bytes, &size, NULL)))
        hr = E_FAIL;
    for (DWORD i = 0; SUCCEEDED(hr) && i < size / 2; i++) {
        BYTE b = bytes[i];
        bytes[i] = bytes[size - 1 - i];
        bytes[size - 1 - i] = b;
    }
    if (SUCCEEDED(hr) && (SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0 || !WriteFile(file, bytes, size, &done, NULL) || done != size))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = MtpRewriteInPlace(handle, file, size, &touched);
    Out("write test: rewrite in place: %s\r\n", HrText(hr));
    if (SUCCEEDED(hr)) {
        hr = MtpReadObject(handle, file, TRUE, NULL);
        Out("write test: read back in place: %s\r\n", hr == S_OK ? "the same" : hr == S_FALSE ? "differs" : HrText(hr));
    }
}

void WriteTest(void)
{
    static const char content[] = "Tessaly probe write test\r\n";
    char localPath[MAX_PATH];
    IPortableDeviceValues *values = NULL;
    LPWSTR created = NULL, renamed = NULL;
    HANDLE file = INVALID_HANDLE_VALUE;
    CurrentPhase = PHASE_WRITE_TEST;
    if (DevConnection.readOnly) {
        Out("write test: skipped, the device was opened for reading only\r\n");
        return;
    }
    AllowWrites = 1;
    HRESULT hr = DevNewTemporaryFile(localPath) ? S_OK : E_FAIL;
    if (SUCCEEDED(hr)) {
        file = CreateFileA(localPath, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        DWORD written = 0;
        if (file == INVALID_HANDLE_VALUE || !WriteFile(file, content, sizeof content - 1, &written, NULL) ||
            SetFilePointer(file, 0, NULL, FILE_BEGIN) != 0)
            hr = E_FAIL;
    }
    if (SUCCEEDED(hr))
        hr = BuildObjectProperties(DevConnection.AppFolderId, L"TessalyProbe_test", L".txt", sizeof content - 1, 0,
                                   &values);
    if (SUCCEEDED(hr))
        hr = WriteNewObject(DevConnection.content, values, file, &created);
    char id[DEV_PATH_CHARS * 3];
    Out("write test: create TessalyProbe_test.txt: %s, id %s\r\n", HrText(hr), Utf8(created, id, sizeof id));
    if (SUCCEEDED(hr) && created == NULL)
        hr = FindChildByName(DevConnection.AppFolderId, L"TessalyProbe_test.txt", &created);
    if (SUCCEEDED(hr))
        RewriteInPlace(created, file);
    if (SUCCEEDED(hr)) {
        hr = Rename(created, L"TessalyProbe_renamed.txt");
        Out("write test: rename: %s\r\n", HrText(hr));
    }
    if (SUCCEEDED(hr))
        hr = FindChildByName(DevConnection.AppFolderId, L"TessalyProbe_renamed.txt", &renamed);
    if (SUCCEEDED(hr)) {
        Out("rename keeps the id: %s (before %s, after %s)\r\n", lstrcmpW(created, renamed) == 0 ? "yes" : "no",
            Utf8(created, id, sizeof id), Utf8(renamed, id + DEV_PATH_CHARS, sizeof id - DEV_PATH_CHARS));
    }
    LPWSTR last = renamed != NULL ? renamed : created;
    if (last != NULL)
        Out("write test: delete: %s\r\n", HrText(DeleteObject(last)));
    AllowWrites = 0;
    CoTaskMemFree(created);
    CoTaskMemFree(renamed);
    if (values != NULL)
        values->Release();
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (localPath[0] != '\0')
        DeleteFileA(localPath);
}
