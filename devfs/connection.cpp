// The layer's process-wide state and the public operations: local paths and Win32
// search handles go straight to Win32, device paths and SearchHandles to the device halves.
#include "devfs/devfs_internal.h"

DeviceConnection DevConnection;   // zero-filled at load: the record is not stored in the EXE

// No device until discovery finds one. Set by a load-time initialiser, since a non-zero
// initial value would store the whole record, search table included, in the file.
static struct MarkDeviceUnavailable {
    MarkDeviceUnavailable() { DevConnection.deviceUnavailable = 1; }
} markDeviceUnavailable;

static const char SettingsDevicePath[] = "*:\\Corvane\\Corvane_Info.ini";

int DevIsDevicePath(LPCSTR path)
{
    return path != NULL && path[0] == '*';
}

// The whole pointer counts: on 64-bit Windows a real handle may end in the same 32 bits.
int DevIsSearchHandle(HANDLE handle)
{
    return ((ULONG_PTR)handle & ~(ULONG_PTR)0xFF) == DEV_SEARCH_HANDLE_BASE;
}

void DevFreeId(LPWSTR id)
{
    if (id != NULL && id != DevConnection.RootFolderId && id != DevConnection.AppFolderId)
        CoTaskMemFree(id);
}

HRESULT DevEnumChildren(LPCWSTR parentId, IEnumPortableDeviceObjectIDs **children)
{
    *children = NULL;
    return DevRetryBusy([&] { return DevConnection.content->EnumObjects(0, parentId, NULL, children); });
}

HRESULT DevNextChild(IEnumPortableDeviceObjectIDs *children, LPWSTR *child)
{
    ULONG fetched = 0;
    *child = NULL;
    HRESULT hr = DevRetryBusy([&] { return children->Next(1, child, &fetched); });
    if (FAILED(hr))
        return hr;
    if (fetched == 0 || *child == NULL) {
        *child = NULL;
        return S_FALSE;
    }
    return S_OK;
}

int DevAnsiLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte);
}

int DevToWide(LPCSTR text, WCHAR *out)
{
    return MultiByteToWideChar(CP_ACP, 0, text, -1, out, DEV_PATH_CHARS) != 0;
}

int DevToNarrow(LPCWSTR text, char *out)
{
    return WideCharToMultiByte(CP_ACP, 0, text, -1, out, DEV_PATH_CHARS, NULL, NULL) != 0;
}

BOOL DevCopyFile(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists)
{
    if (!DevIsDevicePath(existingPath) && !DevIsDevicePath(newPath))
        return CopyFileA(existingPath, newPath, failIfExists);
    if (!DevDeviceReady())
        return 0;
    return DevCopyFileOnDevice(existingPath, newPath, failIfExists);
}

BOOL DevDeleteFile(LPCSTR path)
{
    if (!DevIsDevicePath(path))
        return DeleteFileA(path);
    if (!DevDeviceReady())
        return 0;
    return DevDeleteFileOnDevice(path);
}

HANDLE DevFindFirstFile(LPCSTR path, WIN32_FIND_DATAA *findData)
{
    if (!DevIsDevicePath(path))
        return FindFirstFileA(path, findData);
    if (!DevDeviceReady())
        return INVALID_HANDLE_VALUE;
    return DevFindFirstFileOnDevice(path, findData);
}

// A SearchHandle exists only once a device is open: handles never start discovery.
BOOL DevFindNextFile(HANDLE handle, WIN32_FIND_DATAA *findData)
{
    if (!DevIsSearchHandle(handle))
        return FindNextFileA(handle, findData);
    if (DevConnection.deviceUnavailable)
        return 0;
    return DevFindNextFileOnDevice(handle, findData);
}

BOOL DevFindClose(HANDLE handle)
{
    if (!DevIsSearchHandle(handle))
        return FindClose(handle);
    if (DevConnection.deviceUnavailable)
        return 0;
    DevSlotRelease(handle);
    return 1;
}

// What a failed profile read gives: the default, cut to the buffer like the Win32 call.
DWORD DevCopyDefault(LPCSTR defaultValue, LPSTR out, DWORD size)
{
    if (out == NULL || size == 0)
        return 0;
    DWORD n = 0;
    if (defaultValue != NULL) {
        while (n + 1 < size && defaultValue[n] != '\0') {
            out[n] = defaultValue[n];
            n++;
        }
    }
    out[n] = '\0';
    return n;
}

DWORD DevGetProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                          LPSTR out, DWORD size, LPCSTR file)
{
    DevConnection.workingCopy.readFailed = 0;
    if (!DevIsDevicePath(file))
        return GetPrivateProfileStringA(section, key, defaultValue, out, size, file);
    if (!DevDeviceReady()) {
        DevConnection.workingCopy.readFailed = 1;
        return DevCopyDefault(defaultValue, out, size);
    }
    return DevGetProfileStringOnDevice(section, key, defaultValue, out, size, file);
}

BOOL DevWriteProfileString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file)
{
    if (!DevIsDevicePath(file))
        return WritePrivateProfileStringA(section, key, value, file);
    if (!DevDeviceReady())
        return 0;
    return DevWriteProfileStringOnDevice(section, key, value, file);
}

int DevDevicePath(LPSTR out)
{
    if (!DevDeviceReady())
        return 0;
    lstrcpyA(out, SettingsDevicePath);
    return 1;
}

int DevProfileReadFailed(void)
{
    return DevConnection.workingCopy.readFailed;
}

int DevKeptCopyPath(LPSTR out)
{
    if (DevConnection.workingCopy.keptLocalPath[0] == '\0')
        return 0;
    lstrcpyA(out, DevConnection.workingCopy.keptLocalPath);
    return DevConnection.workingCopy.keptDeviceState;
}
