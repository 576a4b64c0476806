// What the layer's files share among themselves: the device halves and their helpers.
#ifndef TESSALY_DEVFS_INTERNAL_H
#define TESSALY_DEVFS_INTERNAL_H

#include "devfs/devfs.h"
#include "devfs/devpath.h"
#include "devfs/wpd.h"

// --- connection state (connection.cpp) ---
int DevIsDevicePath(LPCSTR path);
int DevIsSearchHandle(HANDLE handle);
// Frees an object id unless it is RootFolderId, which the connection owns.
void DevFreeId(LPWSTR id);
// The next child of an enumeration, one id per Next: S_OK with an id the caller frees,
// S_FALSE at the end (Next answers S_FALSE with nothing fetched), or the failure.
HRESULT DevNextChild(IEnumPortableDeviceObjectIDs *children, LPWSTR *child);
// The ANSI code page's lead-byte test, for splitting 8-bit paths.
int DevAnsiLeadByte(unsigned char byte);
// 8-bit (ANSI code page) to UTF-16 in a 260-unit buffer and back; 0 on failure.
int DevToWide(LPCSTR text, WCHAR *out);
int DevToNarrow(LPCWSTR text, char *out);
// What a failed profile read gives: the default, cut to the buffer like the Win32 call.
DWORD DevCopyDefault(LPCSTR defaultValue, LPSTR out, DWORD size);

// --- search slots (search_slots.cpp) ---
HANDLE DevSlotAllocate(IEnumPortableDeviceObjectIDs *enumerator, LPCWSTR pattern);  // -1 when full
SearchSlot *DevSlotLookup(HANDLE handle);   // none for a free slot or a foreign handle
void DevSlotRelease(HANDLE handle);
void DevSlotReleaseAll(void);

// --- discovery (discovery.cpp) ---
// Runs the discovery DevStartup deferred, the first time a device path needs it; 1 when a
// device with the settings file is open.
int DevDeviceReady(void);
HRESULT SearchForAppFolder(int depth, BOOL parentIsAppFolder, LPWSTR grandparentId, LPWSTR parentId,
                           LPWSTR objectId, IPortableDeviceProperties *properties);

// --- property reads (object_properties.cpp) ---
// One string property: S_OK with a string the caller frees, or none when the object lacks
// it; a failure when the device could not read it (a VT_ERROR value holds the reason).
HRESULT GetObjectStringProperty(IPortableDeviceProperties *properties, LPCWSTR objectId,
                                REFPROPERTYKEY key, LPWSTR *out);
// The file name (as above) and the content type, when readable, in one request.
HRESULT GetObjectNameAndType(IPortableDeviceProperties *properties, LPCWSTR objectId, LPWSTR *name,
                             GUID *type, BOOL *hasType);

// --- resolution (resolve.cpp); paths are prepared copies ('*' replaced by 'C') ---
// What resolution answers when some component of the path matches no child: the device
// answered, and there is no such object. A code of our own, so no device failure passes for it.
#define DEV_E_NO_SUCH_OBJECT MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E01)
HRESULT ResolveObjectId(LPCSTR path, LPWSTR *out);
HRESULT ResolveParentFolder(LPCSTR path, LPWSTR *parentOut, char *baseNameOut, char *extensionOut);
HRESULT FindChildByName(LPCWSTR parentId, LPCWSTR name, LPWSTR *out);
// One pass over a folder's children for several names: ids[i] is the first child whose name
// equals names[i], or none; realNames[i] (when asked) its name as the device spells it.
HRESULT FindChildrenByName(LPCWSTR parentId, const LPCWSTR *names, int count, LPWSTR *ids, LPWSTR *realNames);

// --- transfers (transfer.cpp) ---
HRESULT DownloadObject(IPortableDeviceContent *content, LPCWSTR objectId, LPCWSTR localPath);
HRESULT BuildObjectProperties(LPCWSTR parentId, LPCWSTR baseName, LPCWSTR extension,
                              DWORD sizeLow, DWORD sizeHigh, IPortableDeviceValues **valuesOut);
BOOL DevCopyFileOnDevice(LPCSTR existingPath, LPCSTR newPath);
// Uploads localPath over the device path, never leaving the device without its file when a
// rename can avoid it; *deviceIntact is 0 when the device lost its file under that name.
HRESULT UploadReplacing(LPCSTR localPath, LPCSTR devicePath, int *deviceIntact);
BOOL DevDeleteFileOnDevice(LPCSTR path);

// --- search handles (search.cpp) ---
// S_OK with a handle when a child matched; S_FALSE when the folder resolved and no child
// matched; a failure for everything else (unresolvable folder, device error, table full).
HRESULT DevFindFirstOnDevice(LPCSTR path, WIN32_FIND_DATAA *findData, HANDLE *handleOut);
HRESULT DevFindNextOnDevice(HANDLE handle, WIN32_FIND_DATAA *findData);
HANDLE DevFindFirstFileOnDevice(LPCSTR path, WIN32_FIND_DATAA *findData);
BOOL DevFindNextFileOnDevice(HANDLE handle, WIN32_FIND_DATAA *findData);

// --- profile working copy (profile.cpp) ---
int EnsureWorkingCopy(LPCSTR devicePath);
DWORD DevGetProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                  LPSTR out, DWORD size, LPCSTR file);
BOOL DevWriteProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

#endif
