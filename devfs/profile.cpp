// Profile reads and writes on the device through one local working copy: the device file
// is downloaded once, the Windows profile functions work on the copy, and every write is
// uploaded at once.
#include "devfs/devfs_internal.h"

// Creates (or empties) a local file.
static int CreateEmptyFile(LPCSTR path)
{
    HANDLE file = CreateFileA(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return 0;
    CloseHandle(file);
    return 1;
}

// A fresh "TMP" file name in the user's temporary folder; 0 when there is none.
static int NewTemporaryFile(char *out)
{
    char folder[DEV_PATH_CHARS];
    DWORD n = GetTempPathA(DEV_PATH_CHARS, folder);
    out[0] = '\0';
    if (n == 0 || n >= DEV_PATH_CHARS || !GetTempFileNameA(folder, "TMP", 0, out)) {
        out[0] = '\0';
        return 0;
    }
    return 1;
}

int EnsureWorkingCopy(LPCSTR devicePath)
{
    WorkingCopy *copy = &DevConnection.workingCopy;
    if (lstrlenA(devicePath) >= DEV_PATH_CHARS)
        return 0;
    if (copy->cachedDevicePath[0] != '\0' && lstrcmpiA(copy->cachedDevicePath, devicePath) == 0)
        return 1;

    if (copy->cachedLocalPath[0] != '\0')
        DeleteFileA(copy->cachedLocalPath);
    copy->cachedLocalPath[0] = '\0';
    copy->cachedDevicePath[0] = '\0';
    if (!NewTemporaryFile(copy->cachedLocalPath))
        return 0;

    if (DevCopyFile(devicePath, copy->cachedLocalPath, 0)) {
        lstrcpyA(copy->cachedDevicePath, devicePath);
        return 1;
    }

    // Only a folder that resolves and holds no such child means the file is not there:
    // any other doubt must never end in an empty file uploaded over the real one.
    WIN32_FIND_DATAA findData;
    HANDLE search = INVALID_HANDLE_VALUE;
    HRESULT hr = DevFindFirstOnDevice(devicePath, &findData, &search);
    if (hr == S_OK) {
        DevFindClose(search);   // it is there, but the download failed
    } else if (hr == S_FALSE && CreateEmptyFile(copy->cachedLocalPath)) {
        if (DevCopyFile(copy->cachedLocalPath, devicePath, 0)) {
            lstrcpyA(copy->cachedDevicePath, devicePath);
            return 1;
        }
    }
    // What is left on disk here is empty (a failed download deletes its partial file).
    DeleteFileA(copy->cachedLocalPath);
    copy->cachedLocalPath[0] = '\0';
    return 0;
}

DWORD DevGetProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                  LPSTR out, DWORD size, LPCSTR file)
{
    if (!EnsureWorkingCopy(file))
        return DevCopyDefault(defaultValue, out, size);
    return GetPrivateProfileStringA(section, key, defaultValue, out, size,
                                    DevConnection.workingCopy.cachedLocalPath);
}

BOOL DevWriteProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    WorkingCopy *copy = &DevConnection.workingCopy;
    if (!EnsureWorkingCopy(file))
        return 0;
    BOOL result = WritePrivateProfileStringA(section, key, value, copy->cachedLocalPath);
    int deviceIntact = 1;
    if (SUCCEEDED(UploadReplacing(copy->cachedLocalPath, file, &deviceIntact)))
        return result;
    // The next access downloads afresh. While the device holds its file the copy is of no
    // use; where the device lost it, the copy is all that is left and stays on disk.
    if (deviceIntact)
        DeleteFileA(copy->cachedLocalPath);
    else
        lstrcpyA(copy->keptLocalPath, copy->cachedLocalPath);
    copy->cachedLocalPath[0] = '\0';
    copy->cachedDevicePath[0] = '\0';
    return 0;
}
