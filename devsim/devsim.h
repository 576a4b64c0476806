// devsim: a simulated portable device made of real COM objects, for tests only.
// The layer under test reaches it through CoCreateInstance exactly as it reaches a
// device on Windows; tests build the device tree, script failures and read counters here.
#ifndef TESSALY_DEVSIM_H
#define TESSALY_DEVSIM_H

#include <windows.h>
#include <memory>
#include <string>
#include <vector>
#include "devfs/wpd.h"

// ---- model -------------------------------------------------------------------------
// Devices are numbered 0, 1, ... in the manager's order. Objects are numbered per device;
// object 0 is the root "DEVICE", and an object's number is its MTP handle. Object ids (the
// COM-visible strings) follow the device's DevsimIdScheme; with the default scheme they are "o"
// and the handle in upper-case hex, as the platform's MTP driver makes them, and never change.
// Every object these calls and the scenario files make is the app's (see DevsimOwnedByApp).
void DevsimReset();                                   // no devices, no rules, counters zero
int DevsimAddDevice(const wchar_t *pnpId);            // returns the device number
enum { DEVSIM_ROOT = 0, DEVSIM_NONE = -1 };
// A child of parent in the device's order. name null: no WPD_OBJECT_ORIGINAL_FILE_NAME;
// contentType null: no WPD_OBJECT_CONTENT_TYPE; format null: no WPD_OBJECT_FORMAT.
int DevsimAddObject(int device, int parent, const wchar_t *name, const GUID *contentType,
                    const GUID *format, const void *data, size_t size);
int DevsimAddStorage(int device, const wchar_t *name);                    // functional object under DEVICE
int DevsimAddFolder(int device, int parent, const wchar_t *name);         // content type folder
int DevsimAddFile(int device, int parent, const wchar_t *name, const std::string &data);  // type by extension
// The demo handheld: storage "Internal storage" > folders "DCIM", "Download", "Corvane" >
// "Corvane_Info.ini" holding "[Corvane]\r\nName=Demo phone\r\n". Returns the device number.
int DevsimAddDemoHandheld(const wchar_t *pnpId);
// First object along a '\'-separated path of exact names from DEVICE ("" is DEVICE), or -1.
int DevsimFind(int device, const wchar_t *path);
bool DevsimExists(int device, int object);            // false once deleted
std::wstring DevsimObjectId(int device, int object);
std::wstring DevsimName(int device, int object);      // empty when it has none
std::string DevsimData(int device, int object);
std::vector<int> DevsimChildren(int device, int object);   // live children, device order
int DevsimObjectById(int device, const wchar_t *id);       // live object of that id, or -1
void DevsimRemove(int device, int object);            // as if deleted on the handheld

// ---- scripted behaviour -------------------------------------------------------------
enum DevsimDeny {
    DEVSIM_DENY_NONE,        // every Open succeeds
    DEVSIM_DENY_ONCE,        // the first Open fails with E_ACCESSDENIED, later ones succeed
    DEVSIM_DENY_READWRITE,   // Open without GENERIC_READ-only access fails with E_ACCESSDENIED
    DEVSIM_DENY_ALL,         // every Open fails with E_ACCESSDENIED
};
void DevsimSetDeny(int device, DevsimDeny deny);
// What a rename does to an object's id. Real drivers differ: Android keeps its handles, some
// devices hand out a new id, and a device may derive ids from names, so that an old id can
// come to name another object.
enum DevsimIdScheme {
    DEVSIM_IDS_STABLE,               // "o<handle in hex>", for good
    DEVSIM_IDS_REISSUED_ON_RENAME,   // a renamed object gets a fresh id "o<number>r<n>"; the old one names nothing
    DEVSIM_IDS_FROM_NAMES,           // "n<parent number>/<name>": the id goes with the name
};
void DevsimSetIdScheme(int device, DevsimIdScheme scheme);   // applies to every object, from now on
void DevsimSetOptimalSizes(int device, DWORD readSize, DWORD writeSize);   // defaults 262144 both
void DevsimSetShortWrites(int device, bool on);   // IStream::Write stores and reports one byte less
// IStream::Commit keeps the object one byte short and answers S_OK: a transfer whose end was
// lost on the way, with nothing said. The object's size is what it holds. In-process only.
void DevsimSetCommitsKeepLess(int device, bool on);
// The same for one commit only: the nth upload commit that reaches the device, counted from now
// on any device (0 turns it off). In-process only.
void DevsimCommitKeepsLessAt(long nth);
void DevsimSetFtmMissing(bool on);                // CLSID_PortableDeviceFTM not registered
// What the manager's GetDeviceFriendlyName and GetDeviceManufacturer answer, and the DEVICE
// object's WPD_DEVICE_FRIENDLY_NAME, WPD_DEVICE_MANUFACTURER and WPD_DEVICE_MODEL.
void DevsimSetDeviceInfo(int device, const wchar_t *friendlyName, const wchar_t *manufacturer, const wchar_t *model);
// The device has no bulk property reads: QueryInterface for IPortableDevicePropertiesBulk
// answers E_NOINTERFACE. With them, a queued request does nothing until Start, which returns
// at once; OnStart, OnProgress (batches of up to 16 values sets, in no particular order, each
// with WPD_OBJECT_ID) and OnEnd then come from another thread. By format at depth 1 the reply
// holds the parent folder itself besides its children, as Android's server does.
void DevsimSetBulkMissing(int device, bool on);
// Phantoms, as Android 9 to 14 leave them when an upload is cut off between the object's info
// and its data. On such a device CreateObjectWithPropertiesAndData lists the new object at once
// (its name, its announced type, size 0) and refuses a name a live sibling has, with
// HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS); Commit fills it. A transfer that ends without Commit
// drops the entry only when the stream is reverted (Revert or Cancel answered S_OK, so not once
// the cable is pulled); a stream released without that leaves the phantom, as a run killed before
// Commit does. A phantom stays listed with size 0; GetStream, Delete and a rename of it fail with
// HRESULT_FROM_WIN32(ERROR_GEN_FAILURE); no other object may take its name (creates and renames
// onto it answer ERROR_ALREADY_EXISTS); DevsimReconnect clears it. A Commit the device refuses
// drops the entry as well; one after DevsimReconnect answers HRESULT_FROM_WIN32(ERROR_NOT_FOUND).
void DevsimSetPhantoms(int device, bool on);
bool DevsimIsPhantom(int device, int object);
// A phantom named name in the folder parent, as a run cut off before its Commit leaves one.
int DevsimAddPhantom(int device, int parent, const wchar_t *name);
// The device is unplugged and plugged in again: its phantoms are gone, its edit sessions ended,
// and the driver states every object's current size again. Nothing else changes.
void DevsimReconnect(int device);
// A download stream's Read that delivers fewer bytes than asked (the last chunk, and the empty
// read at the end) answers S_FALSE instead of S_OK, as many drivers do.
void DevsimSetReadsEndWithSFalse(int device, bool on);
// A download cut short on a flaky link: the nth IStream::Read of any download stream (or READ_DATA
// of a transfer to the host), counted from now, delivers half of what it would (rounded down) with
// S_OK, and that stream then ends (every later Read gives 0 bytes with S_OK; the transfer's end
// answers OK) although WPD_OBJECT_SIZE (the transfer's total) says more. Reads a rule or the
// pulled cable fails are not counted. 0 turns it off.
void DevsimCutReadAt(long nth);
// The file whose absence devsim watches: a '\'-separated path of exact names from DEVICE, as
// DevsimFind takes it (null: none). A request (see SimIsRequest) counts when the path names no
// complete object (nothing, a phantom, or a file a TruncateObject shortened, until the
// SendPartialObject transfer after it ends or EndEditObject) as it starts, or when what it does
// makes it so.
// Requests failed by a pulled cable never reached the device and never count. The count is
// reset by DevsimResetCounts, the watch by DevsimReset.
void DevsimWatchFile(int device, const wchar_t *path);
long DevsimRequestsWithoutWatchedFile();
// Every device as it is now (objects, ids, settings), to be put back later; rules, counters
// and the watch are not part of it.
struct DevsimSnapshot {
    std::shared_ptr<const void> state;
};
DevsimSnapshot DevsimTakeSnapshot();
void DevsimRestoreSnapshot(const DevsimSnapshot &snapshot);
// Content types a phone gives its files, by the name's extension (A to Z folded), which
// DevsimAddFile and the scenarios' "file" and "hex" use: audio (.mp3 .m4a .aac .flac .ogg .opus
// .wav), video (.mp4 .mkv .webm .3gp .avi .mov), image (.jpg .jpeg .png .gif .bmp .webp .heic),
// generic file (.pdf .txt .zip .apk .doc .docx .odt); anything else, ".ini" among them, unspecified.
extern const GUID DEVSIM_CONTENT_TYPE_AUDIO, DEVSIM_CONTENT_TYPE_VIDEO, DEVSIM_CONTENT_TYPE_GENERIC_FILE;
const GUID *DevsimContentTypeFor(const wchar_t *name);
// As Android does: EnumObjects of an object that is not DEVICE, a storage or a folder fails
// with HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER) (an object without a content type too).
void DevsimSetFilesRefuseListing(int device, bool on);
// Every EnumObjects of that object fails with hr (S_OK: lists again), as some folders do.
void DevsimSetListingFails(int device, int object, HRESULT hr);
// Storages report no WPD_OBJECT_ORIGINAL_FILE_NAME (real ones have none to give); their
// WPD_OBJECT_NAME still says what they are, and DevsimFind and scenario paths still name them.
void DevsimSetStoragesNameless(int device, bool on);
// Every request to the device (see SimIsRequest; a bulk reply's batch counts as one) waits
// this many milliseconds before it is answered; 0, the default, answers at once.
void DevsimSetLatency(DWORD milliseconds);
// ---- the MTP pass-through ------------------------------------------------------------
// IPortableDevice::SendCommand answers the WPD_COMMAND_MTP_EXT_... commands as the platform's
// MTP driver does, with WPD_PROPERTY_COMMON_HRESULT in every result set (the driver's failures
// go there; the call itself fails only by a rule, a pulled cable or a bad argument). A transfer:
// EXECUTE_COMMAND_WITH_DATA_TO_READ gives TRANSFER_CONTEXT, TRANSFER_TOTAL_DATA_SIZE and
// OPTIMAL_TRANSFER_BUFFER_SIZE (the device's read size); READ_DATA takes the context,
// NUM_BYTES_TO_READ and a TRANSFER_DATA buffer at least that long, and gives NUM_BYTES_READ and
// the bytes; EXECUTE_COMMAND_WITH_DATA_TO_WRITE takes TRANSFER_TOTAL_DATA_SIZE and gives a
// context and the device's write size; WRITE_DATA takes NUM_BYTES_TO_WRITE and TRANSFER_DATA and
// gives NUM_BYTES_WRITTEN (more than the total is refused); END_DATA_TRANSFER gives RESPONSE_CODE
// and RESPONSE_PARAMS, as EXECUTE_COMMAND_WITHOUT_DATA_PHASE does at once. Unknown commands
// answer E_NOTIMPL, unknown contexts E_INVALIDARG.
// Operations, as Android's server does them (handle = object number; storages have the storage
// id number << 16 | 1 and no handle): GetStorageIDs 0x1004; GetObjectHandles 0x1007 (storage or
// 0xFFFFFFFF, format ignored, parent 0 for all, 0xFFFFFFFF for the top level, or a folder);
// GetObject 0x1009; GetObjectPropValue 0x9803 of ObjectFileName 0xDC07, ObjectSize 0xDC04 and
// ParentObject 0xDC0B; and Android's five: GetPartialObject64 0x95C1, SendPartialObject 0x95C2
// (bytes applied as each WRITE_DATA arrives; fewer than announced answer 0x2007 at the end),
// TruncateObject 0x95C3, BeginEditObject 0x95C4 (a file only: a folder or a phantom answer
// 0x2002, an unknown handle 0x2009, one already being edited 0x2002) and EndEditObject 0x95C5.
// TruncateObject, SendPartialObject and EndEditObject answer 0x2002 outside an edit of that
// handle; GetObject of a phantom or a folder answers 0x2002. In a read-only session the four edit
// operations answer E_ACCESSDENIED. Any other operation answers 0x2005.
// WPD_OBJECT_SIZE (GetValues, bulk reads) keeps stating an object's size from before its first
// edit until DevsimReconnect; ObjectSize and every read give the bytes as they are.
enum DevsimEditOps {
    DEVSIM_EDIT_ABSENT,       // the default: the vendor-operation list lacks the five; they answer 0x2005
    DEVSIM_EDIT_LISTED,       // listed and working
    DEVSIM_EDIT_UNANSWERED,   // GET_SUPPORTED_VENDOR_OPCODES answers E_NOTIMPL; the five work
};
// Also what GET_VENDOR_EXTENSION_DESCRIPTION says: "microsoft.com: 1.0; android.com: 1.0;" where
// the five work, else "microsoft.com: 1.0;". Neither query is a request: the driver answers
// both from what it learnt at connect.
void DevsimSetEditOperations(int device, DevsimEditOps mode);
// Edits answer OK but drop every byte beyond the object's length when BeginEditObject came.
void DevsimSetGrowthLies(int device, bool on);
// Whether the object belongs to the app: false for an object an upload made (its owner is the
// phone's MTP service); a rename or an in-place edit keeps the owner.
bool DevsimOwnedByApp(int device, int object);
// Transfers begun (EXECUTE_..._WITH_DATA_...) and never ended, plus transfers to the host ended
// while the device had more to send: each can wedge a real phone.
long DevsimUnfinishedTransfers();
// The HRESULT a rule gives to make an MTP operation answer an MTP response code instead of failing.
#define DEVSIM_MTP_RESPONSE(code) MAKE_HRESULT(SEVERITY_ERROR, FACILITY_ITF, (code))

// Method names are "Interface::Method", e.g. "IPortableDeviceContent::EnumObjects",
// "IEnumPortableDeviceObjectIDs::Next", "IStream::Write", "IPortableDeviceValues::SetGuidValue",
// "IPortableDeviceManager::GetDevices", and "CoCreateInstance:<class>" for class creation
// (<class> one of Manager, Device, DeviceFTM, Values, KeyCollection, PropVariantCollection).
// The rule fails the nth call (1-based, counted from when the rule is set) of that method
// with hr; with objectId, only calls concerning that object id are counted. Several rules
// may be active. The id a call concerns: Open the PnP id; EnumObjects, Next, Skip, Reset,
// Clone the parent listed; GetValues, SetValues, GetSupportedProperties, GetStream and a download
// stream's methods the object; CreateObjectWithPropertiesAndData the parent id set in the
// values; Delete the first id of the collection; SendCommand the object of the operation's
// handle ("o" and the first parameter in hex, for the operations whose first parameter is a
// handle, and for each command of its transfer); upload streams and value sets none.
// A failing call returns before it does or writes anything.
// With DEVSIM_AFTER_ACTING the call first does what it was asked (SetValues renames,
// Delete deletes, Commit creates, Write stores; SendCommand: an operation without data, a
// WRITE_DATA, an END_DATA_TRANSFER) and then answers hr, as a device whose answer was lost or
// timed out; other methods then fail before acting.
// "MTP::<operation>" (e.g. "MTP::BeginEditObject", "MTP::0x9999" for one devsim does not know)
// targets one MTP operation: the rule counts the operation's execute commands and fails that
// SendCommand; with DEVSIM_AFTER_ACTING an operation with a data phase fails at its
// END_DATA_TRANSFER, once its data went across. An hr of DEVSIM_MTP_RESPONSE(code) makes the
// operation answer that response code (its data phase empty) instead of failing the call.
// Operations are counted by DevsimCallCount("MTP::<operation>") too, outside DevsimTotalCalls.
enum DevsimWhen { DEVSIM_BEFORE_ACTING, DEVSIM_AFTER_ACTING };
void DevsimFailCall(const char *method, int nth, HRESULT hr, const wchar_t *objectId = nullptr,
                    DevsimWhen when = DEVSIM_BEFORE_ACTING);
// Fails the nth counted call of any method from now on (the fault sweep); 0 turns it off.
void DevsimFailNthCall(long nth, HRESULT hr);
// The cable is pulled after the next `calls` counted calls: every call after them fails with
// HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED) and changes nothing, as if the run had been
// killed there. The device itself stays as it is; DevsimClearRules lets a fresh run use it.
void DevsimPullCableAfter(long calls);
// Every scripted failure off and the cable back in; the devices stay as they are.
void DevsimClearRules();
// Busy answers, as a device gives them while another program uses it: HRESULT_FROM_WIN32(
// ERROR_BUSY) before acting, to requests only (Open, EnumObjects, Next, GetValues, SetValues,
// Delete, CreateObjectWithPropertiesAndData, GetStream and the streams' Read, Write, Commit, and
// SendCommand's EXECUTE_... commands: one request per MTP operation), counted from now. DevsimBusyAt: requests k to k + times - 1; DevsimBusyEvery: every nth
// request that reaches the phone, Next not counted (1: all of them); 0 turns either off.
void DevsimBusyAt(long k, long times);
void DevsimBusyEvery(long n);
// SetValues answers S_FALSE with hr as the name's result and changes nothing, on its nth call
// concerning objectId (null: any object), counted from now.
void DevsimSetValuesError(const wchar_t *objectId, int nth, HRESULT hr);
// Delete answers S_FALSE without deleting (the device refused that object).
void DevsimSetDeleteRefused(int device, bool on);
// SetValues refuses every property, WPD_OBJECT_ORIGINAL_FILE_NAME included (no renaming):
// the name's result is HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED).
void DevsimSetRenameRefused(int device, bool on);
// SetValues answers S_OK, with S_OK for the name, and renames nothing.
void DevsimSetRenameLies(int device, bool on);
// GetValues answers S_FALSE and gives key (null: every key asked) a VT_ERROR value holding
// hr, as a device does for a property it could not read this time. Applies to the nth call
// concerning objectId (null: any object; nth 0: every such call), counted from now.
void DevsimValueError(const wchar_t *objectId, const PROPERTYKEY *key, int nth, HRESULT hr);

// How the device answers (as real handhelds do, within reason):
//   Next: S_OK with the full count, S_FALSE with fewer (0 at the end); ids CoTaskMemAlloc'd.
//   A created object exists only after Commit (but see DevsimSetPhantoms). Commit fails,
//   creating nothing, with HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) when a live child of the
//   parent has exactly that WPD_OBJECT_ORIGINAL_FILE_NAME, with HRESULT_FROM_WIN32(
//   ERROR_INVALID_DATA) when the bytes kept differ from WPD_OBJECT_SIZE, with
//   HRESULT_FROM_WIN32(ERROR_NOT_FOUND) when the parent is gone. GetObjectID answers
//   E_UNEXPECTED before Commit.
//   A read-only session (Open with WPD_CLIENT_DESIRED_ACCESS lacking GENERIC_WRITE) answers
//   E_ACCESSDENIED to CreateObjectWithPropertiesAndData and Delete.
//   Delete checks every id first: a missing one gives HRESULT_FROM_WIN32(ERROR_NOT_FOUND), one
//   with children under NO_RECURSION HRESULT_FROM_WIN32(ERROR_INVALID_OPERATION); nothing is
//   deleted then.
//   GetValues leaves out keys the object lacks, so Get...Value on them fails with
//   HRESULT_FROM_WIN32(ERROR_NOT_FOUND); a value of another type gives DISP_E_TYPEMISMATCH.
//   SetValues renames an object through WPD_OBJECT_ORIGINAL_FILE_NAME (the id as the device's
//   DevsimIdScheme says); every other key is read-only. It answers S_FALSE with a VT_ERROR per
//   key in the results when a key was refused: HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) for a
//   name a live sibling has exactly, E_ACCESSDENIED for read-only keys and read-only sessions,
//   HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) on devices that do not rename.
//   An unknown object id gives HRESULT_FROM_WIN32(ERROR_NOT_FOUND) everywhere.

// ---- records and counters -----------------------------------------------------------
long DevsimCallCount(const char *method);                            // all objects
long DevsimCallCountFor(const char *method, const wchar_t *objectId);
long DevsimTotalCalls();                                             // every counted call
void DevsimResetCounts();                                            // counters and records only
// "Interface::Method objectId" in order; SendCommand's entries name the command between: the
// operation for an execute ("IPortableDevice::SendCommand 0x95C4 o1F"), "0x1009 read", "0x95C2 write"
// or "0x95C2 end" for its transfer, "vendor-opcodes", "vendor-extension", or "command PID".
std::vector<std::string> DevsimCallLog();
long DevsimLiveObjects();                                            // devsim COM objects alive
struct DevsimOpenRecord {
    std::wstring pnpId;
    bool hasDesiredAccess; DWORD desiredAccess;
    std::wstring clientName; DWORD major, minor, revision, qualityOfService;
    HRESULT result;
};
std::vector<DevsimOpenRecord> DevsimOpens(int device);
std::vector<DWORD> DevsimReadSizes();     // sizes asked of IStream::Read on download streams, and by READ_DATA
std::vector<DWORD> DevsimWriteSizes();    // sizes given to IStream::Write on upload streams, and to WRITE_DATA
long long DevsimBytesRead();
long long DevsimBytesWritten();
// Properties given to CreateObjectWithPropertiesAndData, in the order they were set.
struct DevsimProperty { PROPERTYKEY key; VARTYPE type; std::wstring text; ULONGLONG number; GUID guid; };
std::vector<DevsimProperty> DevsimLastCreateProperties();
long DevsimCommits();

// ---- COM plumbing -------------------------------------------------------------------
HRESULT DevsimRegisterInProcess();        // CoRegisterClassObject for every class (MTA)
void DevsimRevokeInProcess();
HRESULT DevsimGetClassObject(REFCLSID clsid, REFIID iid, void **out);   // for the server DLL
HRESULT DevsimInstallMallocSpy();         // counts CoTaskMemAlloc blocks from now on
long DevsimOutstandingBlocks();
void DevsimRevokeMallocSpy();

// ---- scenario files (the server DLL) ------------------------------------------------
// Text, one statement a line; '#' starts a comment; paths join exact names with '/'.
//   device PNPID                 a new device; the lines below describe it
//   deny once|readwrite|all
//   optimal READSIZE WRITESIZE
//   shortwrites
//   storage NAME                 a storage (functional object) under DEVICE
//   folder PATH                  a folder; missing parents become folders
//   file PATH                    a file; its content lines follow, ended by a line "."
//   hex PATH HEXBYTES            a file given as hex bytes ("-" for none); PATH ends at the last space
//   delete-refused               Delete answers S_FALSE without deleting
//   rename-refused               SetValues refuses renaming
//   rename-lies                  SetValues answers S_OK to a rename it does not do
//   ids reissued|from-names      what a rename does to ids (DevsimIdScheme)
//   pull-after N                 the cable is pulled after N calls    } run-time settings,
//   fail METHOD NTH HRESULT [after]  DevsimFailCall, HRESULT in hex       } not saved
//   ftm-missing                  (anywhere) CLSID_PortableDeviceFTM is not served
//   latency MS                   (anywhere) every request waits MS milliseconds       } run-time
//   value-error HRESULT KEY PATH GetValues of the object at PATH gives KEY (name, type or all)
//                                a VT_ERROR holding HRESULT (hex), on every call          } settings
//   friendly NAME / manufacturer NAME / model NAME   the device's description
//   no-bulk                      no IPortableDevicePropertiesBulk
//   files COUNT image|file PREFIX EXT PATH   COUNT files PREFIX_00001EXT... in folder PATH
//   phantoms                     the device leaves phantoms (DevsimSetPhantoms)
//   reads-end-sfalse             short reads answer S_FALSE (DevsimSetReadsEndWithSFalse)
//   phantom PATH                 a phantom file at PATH
//   files-refuse-listing         listings of files fail (DevsimSetFilesRefuseListing)
//   listing-fails HRESULT PATH   every listing of the object at PATH (none: DEVICE) fails with HRESULT (hex)
//   nameless-storages            storages give no file name (DevsimSetStoragesNameless)
//   edit-ops listed|unanswered|absent   Android's edit operations (DevsimSetEditOperations)
//   growth-lies                  edits drop bytes beyond the old length (DevsimSetGrowthLies)
//   mtp-owned PATH               the object at PATH (made already) belongs to the MTP service
// A PATH's first component is a storage when a deeper line creates it implicitly. File
// content lines each end with CRLF. The server DLL without DEVSIM_SCENARIO serves the demo
// handheld (DevsimAddDemoHandheld) under the PnP id "\\?\usb#devsim#demo".
// The state written back uses the same statements (files as "hex", phantoms as "phantom", an
// object an upload made followed by "mtp-owned") and adds
//   count METHOD N               for every method called
bool DevsimLoadScenario(const char *path);
bool DevsimSaveState(const char *path);
// When set (non-empty), the state is saved there after every Commit, Delete and rename, every
// change an MTP edit operation makes, and whenever a phantom is listed or dropped.
void DevsimSetStatePath(const char *path);

#endif
