// What the layer's files share among themselves: the device halves and their helpers.
#ifndef TESSALY_DEVFS_INTERNAL_H
#define TESSALY_DEVFS_INTERNAL_H

#include "devfs/devfs.h"
#include "devfs/devpath.h"
#include "devfs/wpd.h"

// The folder the walk looks for, and whose id device paths below RootFolderId start from.
#define DEV_APP_FOLDER_NAME L"Corvane"

// --- connection state (connection.cpp) ---
int DevIsDevicePath(LPCSTR path);
int DevIsSearchHandle(HANDLE handle);
// Frees an object id unless it is RootFolderId or AppFolderId, which the connection owns and
// resolution hands out borrowed.
void DevFreeId(LPWSTR id);
// The direct children of an object (flags 0, no filter).
HRESULT DevEnumChildren(LPCWSTR parentId, IEnumPortableDeviceObjectIDs **children);
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

// --- busy devices (busy.cpp) ---
#define DEV_E_BUSY HRESULT_FROM_WIN32(ERROR_BUSY)
// How the layer waits before asking a busy device again; tests count instead of sleeping.
extern void (WINAPI *DevBusyWait)(DWORD milliseconds);
// After a device call's answer: 1, after a wait, when it was busy and the call may be made
// again; 0 for any other answer, and once this call (*waited: its waits so far) or the run
// has waited as long as it may.
int DevAgainAfterBusy(HRESULT hr, DWORD *waited);
// Makes a device call, again after a wait for as long as the device answers busy.
template <class Call>
HRESULT DevRetryBusy(Call call)
{
    DWORD waited = 0;
    HRESULT hr;
    do
        hr = call();
    while (DevAgainAfterBusy(hr, &waited));
    return hr;
}

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
// Whether an object's children are worth a listing: storages, folders, and objects whose type
// could not be read. A phone answers an error when asked for the children of a file.
int DevMayHaveChildren(BOOL hasType, const GUID &type);
// Told of each object below a storage that the walk passes over, with the request that failed
// and its answer; none in Tessaly.EXE (the probe notes them). Told too, as DEV_ENDS_DEVICE, of
// the object the walk of a device ends on at its app folder: a request on the app folder or in
// it that failed, or an object passed over earlier whose name could not be read and that may be
// the app folder that comes first (the first of them).
// DEV_PHOTOS_ONLY: a storage that holds nothing but folders DCIM and Pictures, listed whole.
enum { DEV_SKIP_NAME_READ, DEV_SKIP_LISTING, DEV_SKIP_NEXT, DEV_ENDS_DEVICE, DEV_PHOTOS_ONLY };
extern void (*DevSkippedObject)(LPCWSTR objectId, int call, HRESULT reason);

// --- property reads (object_properties.cpp) ---
// One string property: S_OK with a string the caller frees, or none when the object lacks
// it; a failure when the device could not read it (a VT_ERROR value holds the reason).
HRESULT GetObjectStringProperty(IPortableDeviceProperties *properties, LPCWSTR objectId,
                                REFPROPERTYKEY key, LPWSTR *out);
// Releases what the reads keep for the connection: the key collection and the property service.
void DevReleasePropertyReads(void);
// The content's property service, got once per connection and kept with it (borrowed).
HRESULT DevPropertiesService(IPortableDeviceProperties **out);
// The file name (as above) and the content type, in one request; *hasType says whether the
// type could be read, even when the name could not.
HRESULT GetObjectNameAndType(IPortableDeviceProperties *properties, LPCWSTR objectId, LPWSTR *name,
                             GUID *type, BOOL *hasType);
// What a size is when the device does not give one.
#define DEV_SIZE_UNKNOWN (~(ULONGLONG)0)
// The file name (as above) and WPD_OBJECT_SIZE in one request: DEV_SIZE_UNKNOWN when the object
// has none, a failure when the device could not read it.
HRESULT GetObjectNameAndSize(IPortableDeviceProperties *properties, LPCWSTR objectId, LPWSTR *name, ULONGLONG *size);

// --- resolution (resolve.cpp); paths are prepared copies ('*' replaced by 'C') ---
// What resolution answers when some component of the path matches no child: the device
// answered, and there is no such object. A code of our own, so no device failure passes for it.
#define DEV_E_NO_SUCH_OBJECT MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E01)
// A listing that must see every child's name met one without.
#define DEV_E_NAMELESS_CHILD MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E02)
HRESULT ResolveObjectId(LPCSTR path, LPWSTR *out);
HRESULT ResolveParentFolder(LPCSTR path, LPWSTR *parentOut, char *baseNameOut, char *extensionOut);
HRESULT FindChildByName(LPCWSTR parentId, LPCWSTR name, LPWSTR *out);
// One pass over a folder's children for several names: ids[i] is the first child whose name
// equals names[i], or none; realNames[i] (when asked) its name as the device spells it. With
// sizes asked, sizes[i] is that child's WPD_OBJECT_SIZE, and a child that gives no name fails
// the listing (DEV_E_NAMELESS_CHILD): it might be one of the names.
HRESULT FindChildrenByName(LPCWSTR parentId, const LPCWSTR *names, int count, LPWSTR *ids, LPWSTR *realNames,
                           ULONGLONG *sizes);

// --- transfers (transfer.cpp) ---
// What a read saw (DevDigest, devfs.h).
void DevDigestStart(DevDigest *digest);
void DevDigestAdd(DevDigest *digest, const BYTE *bytes, DWORD count);
// Equal only when both are known: a digest that knows nothing matches nothing.
int DevDigestEqual(const DevDigest *a, const DevDigest *b);
void DevDigestForget(DevDigest *digest);   // knows nothing (size DEV_SIZE_UNKNOWN)
// The whole open local file's digest, read from its start; one that knows nothing on failure.
HRESULT DevDigestOfFile(HANDLE file, DevDigest *digest);
int DevDigestKnown(const DevDigest *digest);
// A read that gave fewer bytes than the object's size: never taken for the file.
#define DEV_E_INCOMPLETE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E03)
// Where a read's bytes go: written to the local file, or compared with it from where it stands,
// and digested; without a file, the first bytes are kept in local as far as they fit. A failure on
// this side or a difference only stops the use of the bytes: the read goes on to its end.
struct DevReadSink {
    HANDLE file;
    BOOL compare;
    BOOL differs;
    HRESULT desktop;
    DevDigest digest;
    BYTE local[1024];
};
void DevSinkStart(DevReadSink *sink, HANDLE file, BOOL compare);
void DevSinkTake(DevReadSink *sink, const BYTE *bytes, DWORD count);   // at most 1024 bytes
// A read that ended with hr: the failure on this side, else S_FALSE when the bytes differ from the
// file's (or the file holds more), else hr.
HRESULT DevSinkEnd(DevReadSink *sink, HRESULT hr);
// The object's bytes, read until the stream gives none, into a new local file; size is what
// the device says the object holds. A failure leaves no local file. *seen (when asked): what was read.
HRESULT DownloadObject(IPortableDeviceContent *content, LPCWSTR objectId, ULONGLONG size, LPCWSTR localPath,
                       DevDigest *seen = NULL);
HRESULT BuildObjectProperties(LPCWSTR parentId, LPCWSTR baseName, LPCWSTR extension,
                              DWORD sizeLow, DWORD sizeHigh, IPortableDeviceValues **valuesOut);
// The local file opened for an upload, with its size; INVALID_HANDLE_VALUE when it cannot be.
HANDLE OpenUploadSource(LPCWSTR localPath, DWORD *size);
// Creates a new object from the whole local file: chunks of the device's optimal size, the
// commit only when every byte went in, the stream reverted when it never was. *newId (when
// asked) is the id the device gives it, or none when the device does not tell.
HRESULT WriteNewObject(IPortableDeviceContent *content, IPortableDeviceValues *values, HANDLE file, LPWSTR *newId);
// Removes one object; S_OK only when the device says it is gone.
HRESULT DeleteObject(LPCWSTR id);
// The object read whole against the open local file: S_OK when equal, S_FALSE when the object
// reads whole and differs, else the failure (DEV_E_INCOMPLETE for a read short of size).
// *seen (when asked): what the object held, whenever it read whole.
HRESULT CompareObjectWithFile(IPortableDeviceContent *content, LPCWSTR objectId, ULONGLONG size, HANDLE file,
                              DevDigest *seen = NULL);
BOOL DevCopyFileOnDevice(LPCSTR existingPath, LPCSTR newPath, BOOL failIfExists);
BOOL DevDeleteFileOnDevice(LPCSTR path);

// --- the MTP pass-through (mtp_passthrough.cpp) ---
// A response other than OK: an HRESULT of the layer's own holding the MTP response code.
#define DEV_E_MTP_RESPONSE(code) MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, (code) & 0xFFFF)
// A handle whose object does not carry the name it should: the id does not map to that object.
#define DEV_E_MTP_HANDLE_MISMATCH MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E10)
// An object id that does not follow the driver's "o" and hex: no handle to be had from it.
#define DEV_E_MTP_NOT_A_HANDLE MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, 0x0E11)
enum { MTP_EDIT_NOT_LISTED = 0, MTP_EDIT_LISTED = 1, MTP_EDIT_UNANSWERED = 2 };
// Whether the device lists Android's five edit operations among its vendor operations, asked
// once per device; MTP_EDIT_UNANSWERED when the driver will not say (then try, and take a
// refusal as "not supported").
int MtpEditOperations(void);
// The device's vendor extension description into out (DEV_PATH_CHARS units, cut to fit).
HRESULT MtpVendorExtension(WCHAR *out);
// The MTP handle of a WPD object id, "o" and the handle in hex, once the device's ObjectFileName
// for that handle equals name (else DEV_E_MTP_HANDLE_MISMATCH). DEV_E_MTP_NOT_A_HANDLE: not of that form.
HRESULT MtpHandleOf(LPCWSTR objectId, LPCWSTR name, DWORD *handle);
// The object's size as the device states it now (ObjectSize), not the driver's cached WPD_OBJECT_SIZE.
HRESULT MtpObjectSize(DWORD handle, ULONGLONG *size);
// The object's bytes through GetObject, read to the transfer's end: written into file from its
// start, or with compare compared with the file from its start (S_OK equal, S_FALSE differs).
// DEV_E_INCOMPLETE when fewer bytes come than the transfer's total. *seen (when asked): what came.
HRESULT MtpReadObject(DWORD handle, HANDLE file, BOOL compare, DevDigest *seen);
// Rewrites the object in place with the first size bytes of file: BeginEditObject, TruncateObject
// to 0, one SendPartialObject from offset 0 (none for no bytes), EndEditObject. *touched stays 0
// until the truncate is sent: a failure with *touched 0 left the object as it was. Once the edit
// has begun, EndEditObject is sent on every path.
HRESULT MtpRewriteInPlace(DWORD handle, HANDLE file, DWORD size, int *touched);

// --- the settings file: read whole, replaced, recovered (replace.cpp) ---
enum ReplaceOutcome {
    REPLACE_DONE,        // R was read back holding the new bytes
    REPLACE_AS_IT_WAS,   // R holds what it held when last read whole in this run
    REPLACE_MAY_LACK,    // anything else: R missing, unreadable, or holding other bytes
};
// Puts the local file on the device under devicePath, never leaving the device without a
// complete copy of old or new under the real name or a leftover name. *real: what R held when
// it was last read whole in this run (or a digest that knows nothing); afterwards what R holds,
// when known. createOnly: only where the folder holds neither the file nor a leftover.
HRESULT ReplaceDeviceFile(LPCSTR localPath, LPCSTR devicePath, DevDigest *real, int createOnly,
                          ReplaceOutcome *outcome);
// Downloads the file a device path names, whole: R, else N, else O, the first that reads whole.
// DEV_E_NO_SUCH_OBJECT only when the folder, every child's name read, holds none of them. With
// recover, the newest leftover read where R is missing is put back under R. *real: what R holds,
// when it was read whole (or put back and read back); else a digest that knows nothing.
HRESULT ReadDeviceFile(LPCSTR devicePath, LPCSTR localPath, int recover, DevDigest *real);
// 1 when name is a leftover name (a file name plus a leftover suffix); realName (260 units)
// then receives that file name, spelled as in name.
int DevLeftoverName(LPCWSTR name, WCHAR *realName);

// --- search handles (search.cpp) ---
// S_OK with a handle when a child matched; S_FALSE when the folder resolved and no child
// matched; a failure for everything else (unresolvable folder, device error, table full).
HRESULT DevFindFirstOnDevice(LPCSTR path, WIN32_FIND_DATAA *findData, HANDLE *handleOut);
HRESULT DevFindNextOnDevice(HANDLE handle, WIN32_FIND_DATAA *findData);
HANDLE DevFindFirstFileOnDevice(LPCSTR path, WIN32_FIND_DATAA *findData);
BOOL DevFindNextFileOnDevice(HANDLE handle, WIN32_FIND_DATAA *findData);

// --- profile working copy (profile.cpp) ---
// A fresh "TMP" file in the user's temporary folder, made empty; 0 (out empty) when there is none.
int DevNewTemporaryFile(char *out);
int EnsureWorkingCopy(LPCSTR devicePath);
DWORD DevGetProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR defaultValue,
                                  LPSTR out, DWORD size, LPCSTR file);
BOOL DevWriteProfileStringOnDevice(LPCSTR section, LPCSTR key, LPCSTR value, LPCSTR file);

#endif
