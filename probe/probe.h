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

// ---- call records (call_log.cpp) ----
// name, whether the call is a request to the device, whether it changes the device
#define PROBE_METHODS(X) \
    X(MGR_GET_DEVICES, "IPortableDeviceManager::GetDevices", 0, 0) \
    X(MGR_REFRESH, "IPortableDeviceManager::RefreshDeviceList", 0, 0) \
    X(MGR_FRIENDLY_NAME, "IPortableDeviceManager::GetDeviceFriendlyName", 0, 0) \
    X(MGR_DESCRIPTION, "IPortableDeviceManager::GetDeviceDescription", 0, 0) \
    X(MGR_MANUFACTURER, "IPortableDeviceManager::GetDeviceManufacturer", 0, 0) \
    X(MGR_PROPERTY, "IPortableDeviceManager::GetDeviceProperty", 0, 0) \
    X(MGR_PRIVATE, "IPortableDeviceManager::GetPrivateDevices", 0, 0) \
    X(DEV_OPEN, "IPortableDevice::Open", 1, 0) \
    X(DEV_SEND_COMMAND, "IPortableDevice::SendCommand", 1, 1) \
    X(DEV_CONTENT, "IPortableDevice::Content", 0, 0) \
    X(DEV_CAPABILITIES, "IPortableDevice::Capabilities", 0, 0) \
    X(DEV_CANCEL, "IPortableDevice::Cancel", 0, 0) \
    X(DEV_CLOSE, "IPortableDevice::Close", 0, 0) \
    X(DEV_ADVISE, "IPortableDevice::Advise", 0, 0) \
    X(DEV_UNADVISE, "IPortableDevice::Unadvise", 0, 0) \
    X(DEV_PNP_ID, "IPortableDevice::GetPnPDeviceID", 0, 0) \
    X(CON_ENUM, "IPortableDeviceContent::EnumObjects", 1, 0) \
    X(CON_PROPERTIES, "IPortableDeviceContent::Properties", 0, 0) \
    X(CON_TRANSFER, "IPortableDeviceContent::Transfer", 0, 0) \
    X(CON_CREATE_PROPERTIES, "IPortableDeviceContent::CreateObjectWithPropertiesOnly", 1, 1) \
    X(CON_CREATE_DATA, "IPortableDeviceContent::CreateObjectWithPropertiesAndData", 1, 1) \
    X(CON_DELETE, "IPortableDeviceContent::Delete", 1, 1) \
    X(CON_FROM_UNIQUE_IDS, "IPortableDeviceContent::GetObjectIDsFromPersistentUniqueIDs", 1, 0) \
    X(CON_CANCEL, "IPortableDeviceContent::Cancel", 0, 0) \
    X(CON_MOVE, "IPortableDeviceContent::Move", 1, 1) \
    X(CON_COPY, "IPortableDeviceContent::Copy", 1, 1) \
    X(PRO_SUPPORTED, "IPortableDeviceProperties::GetSupportedProperties", 1, 0) \
    X(PRO_ATTRIBUTES, "IPortableDeviceProperties::GetPropertyAttributes", 1, 0) \
    X(PRO_GET_VALUES, "IPortableDeviceProperties::GetValues", 1, 0) \
    X(PRO_SET_VALUES, "IPortableDeviceProperties::SetValues", 1, 1) \
    X(PRO_DELETE, "IPortableDeviceProperties::Delete", 1, 1) \
    X(PRO_CANCEL, "IPortableDeviceProperties::Cancel", 0, 0) \
    X(PRO_BULK, "IPortableDeviceProperties::QueryInterface(Bulk)", 0, 0) \
    X(RES_SUPPORTED, "IPortableDeviceResources::GetSupportedResources", 1, 0) \
    X(RES_ATTRIBUTES, "IPortableDeviceResources::GetResourceAttributes", 1, 0) \
    X(RES_GET_STREAM, "IPortableDeviceResources::GetStream", 1, 0) \
    X(RES_GET_STREAM_WRITE, "IPortableDeviceResources::GetStream(write)", 1, 1) \
    X(RES_DELETE, "IPortableDeviceResources::Delete", 1, 1) \
    X(RES_CANCEL, "IPortableDeviceResources::Cancel", 0, 0) \
    X(RES_CREATE, "IPortableDeviceResources::CreateResource", 1, 1) \
    X(ENU_NEXT, "IEnumPortableDeviceObjectIDs::Next", 1, 0) \
    X(ENU_SKIP, "IEnumPortableDeviceObjectIDs::Skip", 0, 0) \
    X(ENU_RESET, "IEnumPortableDeviceObjectIDs::Reset", 0, 0) \
    X(ENU_CLONE, "IEnumPortableDeviceObjectIDs::Clone", 0, 0) \
    X(ENU_CANCEL, "IEnumPortableDeviceObjectIDs::Cancel", 0, 0) \
    X(STM_READ, "IStream::Read", 1, 0) \
    X(STM_WRITE, "IStream::Write", 1, 1) \
    X(STM_SEEK, "IStream::Seek", 0, 0) \
    X(STM_SET_SIZE, "IStream::SetSize", 0, 1) \
    X(STM_COPY_TO, "IStream::CopyTo", 1, 0) \
    X(STM_COMMIT, "IStream::Commit", 1, 1) \
    X(STM_REVERT, "IStream::Revert", 0, 0) \
    X(STM_LOCK, "IStream::LockRegion", 0, 0) \
    X(STM_UNLOCK, "IStream::UnlockRegion", 0, 0) \
    X(STM_STAT, "IStream::Stat", 0, 0) \
    X(STM_CLONE, "IStream::Clone", 0, 0) \
    X(STM_OBJECT_ID, "IPortableDeviceDataStream::GetObjectID", 0, 0) \
    X(STM_CANCEL, "IPortableDeviceDataStream::Cancel", 0, 0) \
    X(BLK_BY_LIST, "IPortableDevicePropertiesBulk::QueueGetValuesByObjectList", 0, 0) \
    X(BLK_BY_FORMAT, "IPortableDevicePropertiesBulk::QueueGetValuesByObjectFormat", 0, 0) \
    X(BLK_SET, "IPortableDevicePropertiesBulk::QueueSetValuesByObjectList", 1, 1) \
    X(BLK_START, "IPortableDevicePropertiesBulk::Start", 1, 0) \
    X(BLK_CANCEL, "IPortableDevicePropertiesBulk::Cancel", 0, 0)

#define PROBE_METHOD_ENUM(id, name, request, write) M_##id,
enum ProbeMethod { PROBE_METHODS(PROBE_METHOD_ENUM) M_COUNT };
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
IPortableDeviceManager *WrapManager(IPortableDeviceManager *real);
IPortableDevice *WrapDevice(IPortableDevice *real);

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
// Deepest first find of the settings file, breadth first, to maxDepth; 0 when none.
int FullWalkDepth(IPortableDeviceContent *content, int maxDepth, char *path, int pathSize);   // full_walk.cpp
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
