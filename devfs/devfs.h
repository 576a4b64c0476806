// Device file access: Win32-style file, search and profile operations on 8-bit paths.
// A path whose first character is '*' is a device path and is carried to the open
// portable device; every other path goes straight to the Win32 function of the same role.
#ifndef TESSALY_DEVFS_H
#define TESSALY_DEVFS_H

#include <windows.h>

struct IPortableDevice;
struct IPortableDeviceContent;
struct IEnumPortableDeviceObjectIDs;
struct IPortableDeviceKeyCollection;
struct IPortableDeviceProperties;

enum {
    DEV_PATH_CHARS = 260,     // every 8-bit path or name buffer, and every UTF-16 one
    DEV_SEARCH_SLOTS = 256,
};
#define DEV_SEARCH_HANDLE_BASE 0x4D545000u  // "MTP" in the upper three bytes

// One open device search: the remaining children of a folder and the name pattern.
struct SearchSlot {
    int inUse;
    IEnumPortableDeviceObjectIDs *enumerator;
    WCHAR pattern[DEV_PATH_CHARS];
};

// What a read saw: the byte count (~0: nothing was read whole) and a 64-bit FNV-1a hash of the
// bytes. Enough to tell the settings file as a run found it from anything the device holds later.
struct DevDigest {
    ULONGLONG size;
    ULONGLONG hash;
};

// The one local copy of a device profile file.
struct WorkingCopy {
    char cachedDevicePath[DEV_PATH_CHARS];
    char cachedLocalPath[DEV_PATH_CHARS];
    char keptLocalPath[DEV_PATH_CHARS];   // a copy left on disk because a write-back failed
    int keptDeviceState;                  // what the device held then: DEV_KEPT_...
    int readFailed;                       // the last profile read gave its default for want of the file
    DevDigest real;                       // what the file under its own name held when last read whole
};

// Everything the layer holds, from DevStartup to DevShutdown.
struct DeviceConnection {
    int deviceUnavailable;               // 0 only while a device with the settings file is open
    int discoveryPending;                // 1 from DevStartup(1) until a device path is first needed
    IPortableDevice *device;
    IPortableDeviceContent *content;
    WCHAR *RootFolderId;                 // folder holding the app folder; base of device paths
    WCHAR *AppFolderId;
    WCHAR *InfoFileId;
    int readOnly;                        // the device was opened for reading only
    int storageHidden;                   // a device opened and listed no storage
    int appFolderUnreadable;             // a device showed an app folder, and a request on it or in it failed
    int photosOnly;                      // a storage showed nothing but folders DCIM and Pictures
    DWORD busyWaited;                    // milliseconds waited for busy devices in this run
    DWORD foldersListed;                 // listings discovery has made so far, for DevSearchProgress
    int searchCancelled;                 // DevSearchProgress answered nonzero: discovery ended there
    IPortableDeviceProperties *properties;           // the content's property service, got once
    IPortableDeviceKeyCollection *readKeys;          // name, type and size: every property read, made once
    int mtpEditAnswer;                   // MtpEditOperations' answer plus 1; 0: not asked of this device
    WorkingCopy workingCopy;
    SearchSlot search[DEV_SEARCH_SLOTS];
};

extern DeviceConnection DevConnection;

BOOL DevCopyFile(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists);
BOOL DevDeleteFile(LPCSTR path);
HANDLE DevFindFirstFile(LPCSTR path, WIN32_FIND_DATAA *findData);
BOOL DevFindNextFile(HANDLE handle, WIN32_FIND_DATAA *findData);
BOOL DevFindClose(HANDLE handle);
DWORD DevGetProfileString(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                          LPSTR out, DWORD size, LPCSTR file);
BOOL DevWriteProfileString(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);
int DevDevicePath(LPSTR out);
// After a write that failed to reach the device: the local file (260 characters) that holds the
// settings with the new value, and what the device holds; 0 when no copy was kept.
enum {
    DEV_KEPT_DEVICE_MAY_LACK_FILE = 1,   // the device was not seen holding a complete file
    DEV_KEPT_DEVICE_AS_IT_WAS = 2,       // the device holds its file as it was before the write
};
int DevKeptCopyPath(LPSTR out);
// After DevGetProfileString of a device path: 1 when it gave the default because the settings
// file could not be read, not because the value is absent.
int DevProfileReadFailed(void);
// After a discovery that found no settings file: 1 when some device opened but showed no
// storage, as a locked phone, or one set to charging only, does.
int DevStorageHidden(void);
// After a discovery that found no settings file: 1 when some device showed a folder "Corvane"
// and a request on that folder or on something in it failed (or an object whose name could not
// be read may have been it), so that the search of that device ended there.
int DevAppFolderUnreadable(void);
// After a discovery that found no settings file: 1 when some device showed a storage whose top
// level holds nothing but folders named DCIM or Pictures, as a phone set to "Transfer photos" does.
int DevPhotosOnly(void);
// Told by discovery between device calls, with the folders it has listed so far, so that the
// program can keep a window answering through a long walk; a nonzero answer ends the walk of
// every device. None by default.
extern int (*DevSearchProgress)(DWORD foldersListed);
// After a discovery that found no settings file: 1 when DevSearchProgress ended it.
int DevSearchCancelled(void);
void DevStartup(int enableDevices);
void DevShutdown(void);

#endif
