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

// A folder's path in the ANSI code page, when it converts back to the same wide path: a user
// name the code page cannot spell turns into '?' and a folder that does not exist.
static int AnsiFolder(LPCWSTR wide, char *out)
{
    WCHAR back[DEV_PATH_CHARS];
    BOOL lossy = FALSE;
    return wide[0] != 0 && WideCharToMultiByte(CP_ACP, 0, wide, -1, out, DEV_PATH_CHARS, NULL, &lossy) != 0 &&
           !lossy && DevToWide(out, back) && lstrcmpW(back, wide) == 0;
}

// The working copy's folder: the user's temporary folder, else its short (8.3) form, else the
// Windows temporary folder, the first that the ANSI profile functions can reach.
static int TemporaryFolder(char *out)
{
    WCHAR folder[DEV_PATH_CHARS];
    WCHAR shortFolder[DEV_PATH_CHARS];
    DWORD n = GetTempPathW(DEV_PATH_CHARS, folder);
    if (n > 0 && n < DEV_PATH_CHARS) {
        if (AnsiFolder(folder, out))
            return 1;
        n = GetShortPathNameW(folder, shortFolder, DEV_PATH_CHARS);
        if (n > 0 && n < DEV_PATH_CHARS && AnsiFolder(shortFolder, out))
            return 1;
    }
    n = GetWindowsDirectoryW(folder, DEV_PATH_CHARS - 6);
    if (n == 0 || n >= DEV_PATH_CHARS - 6)
        return 0;
    lstrcatW(folder, L"\\Temp\\");
    return AnsiFolder(folder, out);
}

int DevNewTemporaryFile(char *out)
{
    char folder[DEV_PATH_CHARS];
    out[0] = '\0';
    if (!TemporaryFolder(folder) || !GetTempFileNameA(folder, "TMP", 0, out)) {
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
    DevDigestForget(&copy->real);
    if (!DevNewTemporaryFile(copy->cachedLocalPath))
        return 0;

    // A file left only under a leftover name is put back under its own before anything else,
    // in a session that may write: the app on the handheld cannot find it elsewhere.
    HRESULT hr = ReadDeviceFile(devicePath, copy->cachedLocalPath, !DevConnection.readOnly, &copy->real);
    // Only a folder seen to hold neither the file nor a leftover of it lacks the file; the file
    // is then created, and never over anything. A read that failed is never a reason to write.
    if (hr == DEV_E_NO_SUCH_OBJECT) {
        ReplaceOutcome outcome;
        hr = CreateEmptyFile(copy->cachedLocalPath)
                 ? ReplaceDeviceFile(copy->cachedLocalPath, devicePath, &copy->real, 1, &outcome)
                 : E_FAIL;
    }
    if (SUCCEEDED(hr)) {
        lstrcpyA(copy->cachedDevicePath, devicePath);
        return 1;
    }
    // What is left on disk here holds nothing of the device's (a failed download deletes its
    // partial file).
    DeleteFileA(copy->cachedLocalPath);
    copy->cachedLocalPath[0] = '\0';
    return 0;
}

DWORD DevGetProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                  LPSTR out, DWORD size, LPCSTR file)
{
    DevConnection.workingCopy.readFailed = !EnsureWorkingCopy(file);
    if (DevConnection.workingCopy.readFailed)
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
    ReplaceOutcome outcome;
    if (SUCCEEDED(ReplaceDeviceFile(copy->cachedLocalPath, file, &copy->real, 0, &outcome)))
        return result;
    // The next access downloads afresh. The copy holds the new name, and the device was not
    // seen holding it: the copy stays on disk, and what the device holds decides the message.
    lstrcpyA(copy->keptLocalPath, copy->cachedLocalPath);
    copy->keptDeviceState = outcome == REPLACE_AS_IT_WAS ? DEV_KEPT_DEVICE_AS_IT_WAS : DEV_KEPT_DEVICE_MAY_LACK_FILE;
    copy->cachedLocalPath[0] = '\0';
    copy->cachedDevicePath[0] = '\0';
    return 0;
}
