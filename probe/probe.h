// TessalyProbe: what the layer sees on the connected handhelds, call by call, and what the
// device model assumes, measured. Shared declarations of the probe's files.
#ifndef TESSALY_PROBE_H
#define TESSALY_PROBE_H

#include "devfs/devfs_internal.h"

// ---- output (report.cpp): plain text lines, "== Section ==" and "key: value" ----
void Out(const char *format, ...);
void OutSection(const char *title);
// UTF-8 of a platform string, cut to the buffer (never NULL: "" for none).
const char *Utf8(LPCWSTR text, char *out, int size);
// "0x80070005 E_ACCESSDENIED": the code and, when known, its name (one of 8 rotating buffers).
const char *HrText(HRESULT hr);
// Microseconds as milliseconds with three decimals (one of 8 rotating buffers).
const char *Ms(DWORD micro);
const char *KeyName(DWORD pid);
// The nth of the names packed one after the other in "a\0b\0...".
const char *NthName(const char *packed, int n);

// ---- call records (call_log.cpp) ----
// The interfaces whose calls are recorded.
#define PROBE_INTERFACES(X) \
    X(I_MGR, "IPortableDeviceManager") \
    X(I_DEV, "IPortableDevice") \
    X(I_CON, "IPortableDeviceContent") \
    X(I_PRO, "IPortableDeviceProperties") \
    X(I_RES, "IPortableDeviceResources") \
    X(I_ENU, "IEnumPortableDeviceObjectIDs") \
    X(I_STM, "IStream") \
    X(I_DAT, "IPortableDeviceDataStream") \
    X(I_BLK, "IPortableDevicePropertiesBulk")
#define PROBE_INTERFACE_ENUM(id, name) id,
enum ProbeInterface { PROBE_INTERFACES(PROBE_INTERFACE_ENUM) I_COUNT };
// interface, method, whether the call is a request to the device, whether it changes the device
#define PROBE_METHODS(X) \
    X(MGR_GET_DEVICES, I_MGR, "GetDevices", 0, 0) \
    X(MGR_REFRESH, I_MGR, "RefreshDeviceList", 0, 0) \
    X(MGR_FRIENDLY_NAME, I_MGR, "GetDeviceFriendlyName", 0, 0) \
    X(MGR_DESCRIPTION, I_MGR, "GetDeviceDescription", 0, 0) \
    X(MGR_MANUFACTURER, I_MGR, "GetDeviceManufacturer", 0, 0) \
    X(MGR_PROPERTY, I_MGR, "GetDeviceProperty", 0, 0) \
    X(MGR_PRIVATE, I_MGR, "GetPrivateDevices", 0, 0) \
    X(DEV_OPEN, I_DEV, "Open", 1, 0) \
    X(DEV_SEND_COMMAND, I_DEV, "SendCommand", 1, 1) \
    X(DEV_CONTENT, I_DEV, "Content", 0, 0) \
    X(DEV_CAPABILITIES, I_DEV, "Capabilities", 0, 0) \
    X(DEV_CANCEL, I_DEV, "Cancel", 0, 0) \
    X(DEV_CLOSE, I_DEV, "Close", 0, 0) \
    X(DEV_ADVISE, I_DEV, "Advise", 0, 0) \
    X(DEV_UNADVISE, I_DEV, "Unadvise", 0, 0) \
    X(DEV_PNP_ID, I_DEV, "GetPnPDeviceID", 0, 0) \
    X(CON_ENUM, I_CON, "EnumObjects", 1, 0) \
    X(CON_PROPERTIES, I_CON, "Properties", 0, 0) \
    X(CON_TRANSFER, I_CON, "Transfer", 0, 0) \
    X(CON_CREATE_PROPERTIES, I_CON, "CreateObjectWithPropertiesOnly", 1, 1) \
    X(CON_CREATE_DATA, I_CON, "CreateObjectWithPropertiesAndData", 1, 1) \
    X(CON_DELETE, I_CON, "Delete", 1, 1) \
    X(CON_FROM_UNIQUE_IDS, I_CON, "GetObjectIDsFromPersistentUniqueIDs", 1, 0) \
    X(CON_CANCEL, I_CON, "Cancel", 0, 0) \
    X(CON_MOVE, I_CON, "Move", 1, 1) \
    X(CON_COPY, I_CON, "Copy", 1, 1) \
    X(PRO_SUPPORTED, I_PRO, "GetSupportedProperties", 1, 0) \
    X(PRO_ATTRIBUTES, I_PRO, "GetPropertyAttributes", 1, 0) \
    X(PRO_GET_VALUES, I_PRO, "GetValues", 1, 0) \
    X(PRO_SET_VALUES, I_PRO, "SetValues", 1, 1) \
    X(PRO_DELETE, I_PRO, "Delete", 1, 1) \
    X(PRO_CANCEL, I_PRO, "Cancel", 0, 0) \
    X(PRO_BULK, I_PRO, "QueryInterface(Bulk)", 0, 0) \
    X(RES_SUPPORTED, I_RES, "GetSupportedResources", 1, 0) \
    X(RES_ATTRIBUTES, I_RES, "GetResourceAttributes", 1, 0) \
    X(RES_GET_STREAM, I_RES, "GetStream", 1, 0) \
    X(RES_GET_STREAM_WRITE, I_RES, "GetStream(write)", 1, 1) \
    X(RES_DELETE, I_RES, "Delete", 1, 1) \
    X(RES_CANCEL, I_RES, "Cancel", 0, 0) \
    X(RES_CREATE, I_RES, "CreateResource", 1, 1) \
    X(ENU_NEXT, I_ENU, "Next", 1, 0) \
    X(ENU_SKIP, I_ENU, "Skip", 0, 0) \
    X(ENU_RESET, I_ENU, "Reset", 0, 0) \
    X(ENU_CLONE, I_ENU, "Clone", 0, 0) \
    X(ENU_CANCEL, I_ENU, "Cancel", 0, 0) \
    X(STM_READ, I_STM, "Read", 1, 0) \
    X(STM_WRITE, I_STM, "Write", 1, 1) \
    X(STM_SEEK, I_STM, "Seek", 0, 0) \
    X(STM_SET_SIZE, I_STM, "SetSize", 0, 1) \
    X(STM_COPY_TO, I_STM, "CopyTo", 1, 0) \
    X(STM_COMMIT, I_STM, "Commit", 1, 1) \
    X(STM_REVERT, I_STM, "Revert", 0, 0) \
    X(STM_LOCK, I_STM, "LockRegion", 0, 0) \
    X(STM_UNLOCK, I_STM, "UnlockRegion", 0, 0) \
    X(STM_STAT, I_STM, "Stat", 0, 0) \
    X(STM_CLONE, I_STM, "Clone", 0, 0) \
    X(STM_OBJECT_ID, I_DAT, "GetObjectID", 0, 0) \
    X(STM_CANCEL, I_DAT, "Cancel", 0, 0) \
    X(BLK_BY_LIST, I_BLK, "QueueGetValuesByObjectList", 0, 0) \
    X(BLK_BY_FORMAT, I_BLK, "QueueGetValuesByObjectFormat", 0, 0) \
    X(BLK_SET, I_BLK, "QueueSetValuesByObjectList", 1, 1) \
    X(BLK_START, I_BLK, "Start", 1, 0) \
    X(BLK_CANCEL, I_BLK, "Cancel", 0, 0)

#define PROBE_METHOD_ENUM(id, face, name, request, write) M_##id,
enum ProbeMethod { PROBE_METHODS(PROBE_METHOD_ENUM) M_COUNT };
// "Interface::Method"
const char *MethodName(int method);
int IsRequestMethod(int method);
int IsWriteMethod(int method);

enum ProbePhase { PHASE_SETUP, PHASE_DEVICES, PHASE_DISCOVERY, PHASE_READ, PHASE_VERDICT, PHASE_FULL_WALK,
                  PHASE_MEASURE, PHASE_WRITE_TEST, PHASE_COUNT };
enum { RECORD_OBJECT_CHARS = 40, RECORD_KEY_ERRORS = 3, MAX_PROBE_DEVICES = 32 };

struct KeyError {
    DWORD pid;       // of WPD_OBJECT_PROPERTIES_V1 or WPD_DEVICE_PROPERTIES_V1
    HRESULT code;
};
struct CallRecord {
    BYTE phase, method, refused, keyErrorCount;
    BYTE skipped;                   // the layer passed over the object this call failed on
    int device;                     // index into the device table, -1 before Open
    HRESULT hr;
    DWORD micro;                    // time of the call
    DWORD detail;                   // ids fetched (Next), children listed (EnumObjects), bytes (Read)
    char object[RECORD_OBJECT_CHARS];
    KeyError keyErrors[RECORD_KEY_ERRORS];
};

extern int CurrentPhase;
extern int AllowWrites;           // only during --write-test's own steps
LONGLONG Now(void);
DWORD MicroSince(LONGLONG start);
// Keeps one call; NULL when the table is full (the call is then only counted).
CallRecord *Record(int method, int device, LPCWSTR object, HRESULT hr, LONGLONG start);
int RecordCount(void);
CallRecord *RecordAt(int index);
long DroppedRecords(void);
// A device's index by its PnP id, added when new; -1 when the table is full.
int DeviceIndex(LPCWSTR pnpId);
LPCWSTR DeviceId(int index);
// Median, smallest and largest of n times (the array is sorted in place).
DWORD MedianMicro(DWORD *times, int n, DWORD *low, DWORD *high);
// Codes a device gives for a property the object does not have.
int MeansAbsent(HRESULT code);

// ---- interception (interception.cpp, proxies.cpp) ----
// Puts a recording proxy in front of each portable-device class that is registered; prints
// one "class:" line per class.
void InstallProxies(void);
void RemoveProxies(void);
// A recording proxy for what the stand-in of class origin made (a manager or a device).
IUnknown *WrapCreated(IUnknown *real, int origin, int isManager);
// A request for an interface that a proxy of class origin's chain could not answer.
void StandInUnanswered(int origin, REFIID iid);
// One "stand-in CLASS:" line per class installed: objects made, interfaces it could not give.
void ReportStandIns(void);

// ---- the report's sections ----
struct SetupFacts {
    char root[DEV_PATH_CHARS];
    int searchDepth;
    char driveWithFile[8];        // the first drive Tessaly would take the file from, or ""
};
void ReportSetup(SetupFacts *facts);                         // setup.cpp
void ReportDevices(void);                                    // devices.cpp
// The layer's own discovery and the read of the settings file, the walk's calls, the
// verdict (with a full walk when the layer found nothing); then the write test.
struct WalkFacts {
    int found;                    // the layer found the settings file
    int device;                   // where, or the device to measure on (-1: none)
    WCHAR folderId[DEV_PATH_CHARS];   // the app folder, or "" when not found
    DWORD walkMicro;
    int walkRequests;
};
void ReportWalk(const SetupFacts *setup, WalkFacts *walk, int writeTest);   // walk.cpp
void WriteTest(void);                                                       // write_test.cpp
void ReportEditPath(void);                                                  // edit_path.cpp
// Shallowest find of the settings file, breadth first, to maxDepth; 0 when none. A level cut
// short gets its "full walk:" line and sets *cut.
int FullWalkDepth(IPortableDeviceContent *content, int device, int maxDepth, char *path, int pathSize,
                  int *cut);   // full_walk.cpp
HRESULT ObjectPath(IPortableDeviceProperties *properties, LPCWSTR objectId, char *path, int size, int *depth);
HRESULT OpenReadOnly(LPCWSTR pnpId, IPortableDevice **device);                              // devices.cpp
struct MeasureFacts {
    int done;
    DWORD firstReadMicro, secondReadMicro;
    int listed; DWORD listingMicro;
    int singles; DWORD singlesMicro;
    int bulkAvailable; HRESULT bulkQi; DWORD bulkMicro; int bulkComplete;
    HRESULT storageNameCode;
    DWORD measureMicro;   // the whole section
};
void ReportMeasurements(const WalkFacts *walk, MeasureFacts *facts);   // measurements.cpp
void ReportSummary(const WalkFacts *walk, const MeasureFacts *facts, LONGLONG started);   // summary.cpp

#endif
