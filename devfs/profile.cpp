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

int DevNewTemporaryFile(char *out)
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
    if (!DevNewTemporaryFile(copy->cachedLocalPath))
        return 0;

    if (DevCopyFile(devicePath, copy->cachedLocalPath, 0)) {
        lstrcpyA(copy->cachedDevicePath, devicePath);
        // Found only under a name an interrupted replace left, the app on the handheld cannot
        // find it: put it back under its name before anything else. Should that fail, reads
        // still find it and the next write puts it back.
        if (DevConnection.infoFileIsLeftover && !DevConnection.readOnly) {
            ReplaceOutcome outcome;
            DevConnection.infoFileIsLeftover = 0;
            ReplaceDeviceFile(copy->cachedLocalPath, devicePath, &outcome);
        }
        return 1;
    }

    // Only a folder that resolves and holds neither the file nor a leftover of its interrupted
    // replace means the file is not there: any other doubt must never end in an empty file
    // uploaded over the real one.
    char prepared[DEV_PATH_CHARS];
    LPWSTR id = NULL;
    HRESULT hr = DevPrepareDevicePath(devicePath, prepared) ? ResolveFileOrLeftover(prepared, &id) : E_FAIL;
    DevFreeId(id);   // there, but the download failed
    if (hr == DEV_E_NO_SUCH_OBJECT && CreateEmptyFile(copy->cachedLocalPath)) {
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
    ReplaceOutcome outcome;
    if (SUCCEEDED(ReplaceDeviceFile(copy->cachedLocalPath, file, &outcome)))
        return result;
    // The next access downloads afresh. While the device holds its file the copy is of no
    // use; where it may not, the copy may be all that is left and stays on disk.
    if (outcome == REPLACE_KEEP_COPY)
        lstrcpyA(copy->keptLocalPath, copy->cachedLocalPath);
    else
        DeleteFileA(copy->cachedLocalPath);
    copy->cachedLocalPath[0] = '\0';
    copy->cachedDevicePath[0] = '\0';
    return 0;
}
