// What devsim's files share: the model, the accounting hooks and the COM object base.
#ifndef TESSALY_DEVSIM_INTERNAL_H
#define TESSALY_DEVSIM_INTERNAL_H

#include <map>
#include <string>
#include <vector>
#include "devsim/devsim.h"

// ---- model (model.cpp) -----------------------------------------------------------------
struct SimObject {
    std::wstring id;             // as the device reports it; see DevsimIdScheme
    int parent = DEVSIM_NONE;
    bool hasName = false;
    std::wstring name;           // WPD_OBJECT_ORIGINAL_FILE_NAME
    std::wstring title;          // WPD_OBJECT_NAME; the file name when empty
    bool hasType = false;
    GUID type{};
    bool hasFormat = false;
    GUID format{};
    std::string data;
    bool deleted = false;
    bool phantom = false;        // listed since its upload began, never filled (DevsimSetPhantoms)
    HRESULT listingFails = S_OK; // what every EnumObjects of it answers (DevsimSetListingFails)
    std::vector<int> children;   // device order, deleted ones included
    bool mtpOwned = false;       // made by an upload, so owned by the phone's MTP service, not the app
    bool editing = false;        // between BeginEditObject and EndEditObject
    size_t editBase = 0;         // its length when the edit began (DevsimSetGrowthLies)
    bool cut = false;            // shortened by a TruncateObject and not yet written again
    bool sizeCached = false;     // edited since the last reconnect: the driver still states cachedSize
    ULONGLONG cachedSize = 0;
};

struct SimDevice {
    std::wstring pnpId;
    std::vector<SimObject> objects;   // index is the object number; 0 is DEVICE
    DevsimDeny deny = DEVSIM_DENY_NONE;
    bool deniedOnce = false;
    DWORD readSize = 262144, writeSize = 262144;
    bool shortWrites = false;
    bool commitsKeepLess = false;        // a commit keeps one byte less than it was sent, and says all is well
    bool deleteRefused = false;
    bool renameRefused = false;
    bool renameLies = false;
    DevsimIdScheme idScheme = DEVSIM_IDS_STABLE;
    long reissued = 0;                   // ids handed out on renames so far
    std::map<std::wstring, int> byId;    // live and deleted objects by id (a reused id points to the newest)
    std::vector<DevsimOpenRecord> opens;
    std::wstring friendlyName = L"Simulated handheld";   // the manager's and DEVICE's description
    std::wstring manufacturer = L"Tessaly test bench";
    std::wstring model = L"devsim";
    bool bulkMissing = false;            // the properties refuse IPortableDevicePropertiesBulk
    bool phantoms = false;               // uploads list their object from the create on
    bool readsEndSFalse = false;         // a short download read answers S_FALSE
    bool filesRefuseListing = false;     // EnumObjects of anything but DEVICE, a storage or a folder fails
    bool storagesNameless = false;       // storages report no WPD_OBJECT_ORIGINAL_FILE_NAME
    DevsimEditOps editOps = DEVSIM_EDIT_ABSENT;   // Android's edit operations (DevsimSetEditOperations)
    bool growthLies = false;             // edits answer OK and drop bytes beyond the old length
};

struct SimState {
    std::vector<SimDevice> devices;
    bool ftmMissing = false;
    std::string statePath;            // saved after every mutation when set
};

// Milliseconds every request to the device waits before it is answered (DevsimSetLatency).
void SimWaitLatency();

// One lock for everything devsim holds; recursive, held by DevsimLock's lifetime.
struct DevsimLock {
    DevsimLock();
    ~DevsimLock();
};
SimState &Sim();
SimDevice *SimFindDevice(int device);
SimObject *SimFindObject(int device, int object);
// Object number of a live object id on a device, or -1.
int SimObjectNumber(int device, const std::wstring &id);
int SimDeviceByPnp(const std::wstring &pnpId);
bool SimHasLiveChildren(int device, int object);
void SimMarkDeleted(int device, int object);   // the object and everything below it
int SimAddObjectRaw(int device, int parent, const SimObject &object);
// Gives a live object another file name, and another id where the device's scheme says so.
void SimRenameObject(int device, int object, const std::wstring &name);
// A call changed the tree: saves the state when a path is set and checks the watched file.
void SimAfterMutation();

// ---- phantoms (phantoms.cpp) -----------------------------------------------------------
// Adds a phantom child of parent with what the upload announced: its number, or -1.
int SimAddPhantom(int device, int parent, const SimObject &announced);
bool SimIsLivePhantom(int device, int object);
void SimDropPhantom(int device, int object);    // marks it deleted; no-op once it is gone or filled

// ---- listings (listings.cpp) -----------------------------------------------------------
// What EnumObjects of a live object must answer before it lists anything: S_OK to list.
HRESULT SimListingRefusal(int device, int object);

// ---- the watched file (watch.cpp) ------------------------------------------------------
// Every counted call that got past the pulled cable: a request counts when the watched file
// is missing as it starts. Called under DevsimLock.
void SimWatchCallStarts(bool request);
// The current call changed the tree: its request counts if that left the file missing.
void SimWatchAfterChange();
void SimWatchClear();
void SimWatchResetCount();

// ---- accounting (accounting.cpp, rules.cpp) --------------------------------------------
// Counts the call, logs it and applies the failure rules: S_OK to go on, else the failure.
// A method that changes the device passes afterActing: a rule that lets the call act and
// then fail leaves its failure there, for the method to answer once it has acted.
HRESULT SimCall(const char *method, const wchar_t *objectId = nullptr, HRESULT *afterActing = nullptr);
// A counted call described in full: the log shows detail between the method and the object id;
// request says whether it crosses to the device; operation ("MTP::<name>", or none) is the MTP
// operation it runs, counted apart (not in the total) and targeted by rules of that name too.
struct SimCallInfo {
    const char *method;
    const wchar_t *objectId;
    std::string detail;
    bool request;
    const char *operation;
};
HRESULT SimCallWith(const SimCallInfo &call, HRESULT *afterActing);
bool SimIsRequest(const char *method);   // a call that crosses to the device
void SimLiveAdd(long delta);
void SimRecordRead(DWORD requested, DWORD delivered);
void SimRecordWrite(DWORD given, DWORD stored);
void SimRecordCreate(const std::vector<DevsimProperty> &properties);
void SimRecordCommit();
void SimResetRules();
// Whether this Read of a download stream is the one DevsimCutReadAt cuts; counts the read.
bool SimCutThisRead();
// Whether this upload commit is the one DevsimCommitKeepsLessAt shortens; counts the commit.
bool SimShortThisCommit();
// Value errors for one GetValues call concerning objectId: the keys (all keys asked when
// anyKey) the answer must give as VT_ERROR values.
struct SimValueError { bool anyKey; PROPERTYKEY key; HRESULT hr; };
std::vector<SimValueError> SimValueErrorsForCall(const wchar_t *objectId);
// The name's result a SetValues call concerning objectId must give without acting, or S_OK.
HRESULT SimSetValuesErrorForCall(const wchar_t *objectId);
std::map<std::string, long> SimCallCounts();

// ---- values (values.cpp) ---------------------------------------------------------------
// A property value held in devsim's own memory (never CoTaskMemAlloc).
struct SimValue {
    VARTYPE type = VT_EMPTY;
    std::wstring text;         // VT_LPWSTR
    ULONGLONG number = 0;      // VT_UI4, VT_UI8, VT_I4, VT_I8, VT_ERROR, VT_BOOL (as bits)
    GUID guid{};               // VT_CLSID
    PROPERTYKEY key{};         // VT_UNKNOWN is not kept; keys are stored as their own type
    float real = 0;            // VT_R4
    std::string bytes;         // VT_VECTOR | VT_UI1
    std::vector<SimValue> items;   // VT_UNKNOWN: a PropVariant collection, kept as a copy of its items
};
bool SimValueFromPropVariant(const PROPVARIANT *in, SimValue *out);
HRESULT SimValueToPropVariant(const SimValue &in, PROPVARIANT *out);   // CoTaskMemAlloc for callers
typedef std::vector<std::pair<PROPERTYKEY, SimValue>> SimValueList;

// Creates devsim objects directly (no class creation is counted).
IPortableDeviceValues *SimNewValues(const SimValueList &values);
IPortableDeviceKeyCollection *SimNewKeyCollection(const std::vector<PROPERTYKEY> &keys);
IPortableDevicePropVariantCollection *SimNewPropVariantCollection(const std::vector<SimValue> &items);
// Reads devsim's own objects without counting; false for a foreign implementation.
bool SimReadValues(IUnknown *values, SimValueList *out);
bool SimReadKeys(IUnknown *keys, std::vector<PROPERTYKEY> *out);
bool SimReadPropVariants(IUnknown *collection, std::vector<SimValue> *out);
bool SimKeyEqual(const PROPERTYKEY &a, const PROPERTYKEY &b);

// ---- the MTP pass-through (mtp.cpp: commands and transfers; mtp_operations.cpp: the operations) ----
// IPortableDevice::SendCommand of an opened device.
HRESULT SimSendCommand(int device, bool readOnly, IPortableDeviceValues *params, IPortableDeviceValues **results);
enum SimMtpData { SIM_MTP_NO_DATA, SIM_MTP_TO_HOST, SIM_MTP_TO_DEVICE };
// An operation's name ("GetObject"; null for one the device does not know) and its data phase.
const char *SimMtpName(DWORD code);
SimMtpData SimMtpDataOf(DWORD code);
// What an operation answers: a failure of the driver (its HRESULT), or the response code with its
// parameters and, towards the host, the data.
struct SimMtpAnswer {
    HRESULT driver = S_OK;
    WORD response = 0x2001;
    std::vector<DWORD> params;
    std::string data;
};
// Runs an operation on the device as Android's server does, under DevsimLock. SendPartialObject
// only checks here that it may write; its bytes come with SimMtpWrite and its end with SimMtpSent.
SimMtpAnswer SimMtpRun(int device, bool readOnly, DWORD code, const std::vector<DWORD> &params);
// Bytes of a SendPartialObject at position of the object the handle names, as far as the device takes them.
void SimMtpWrite(int device, DWORD handle, ULONGLONG position, const std::string &bytes);
void SimMtpSent(int device, DWORD handle);   // its transfer ended: the object is whole again
bool SimMtpResponseOf(HRESULT hr, WORD *code);   // a DEVSIM_MTP_RESPONSE from a rule
void SimMtpClearTransfers();

// ---- the device's COM objects ----------------------------------------------------------
IPortableDeviceManager *SimNewManager();
IPortableDevice *SimNewDevice();
IPortableDeviceContent *SimNewContent(int device, bool readOnly);
IPortableDeviceProperties *SimNewProperties(int device, bool readOnly);
IPortableDevicePropertiesBulk *SimNewBulk(int device);
IPortableDeviceValuesCollection *SimNewValuesCollection(const std::vector<IPortableDeviceValues *> &items);
IPortableDeviceResources *SimNewResources(int device);
IEnumPortableDeviceObjectIDs *SimNewEnumerator(const std::wstring &parentId, const std::vector<std::wstring> &ids,
                                               size_t position);
IStream *SimNewReadStream(int device, const std::wstring &objectId, const std::string &data);
struct SimUpload {
    int device = -1;
    std::wstring parentId;
    SimObject object;           // name, title, type, format as announced
    bool hasSize = false;
    ULONGLONG size = 0;
    int phantom = DEVSIM_NONE;  // the entry listed since the create, on a device that leaves phantoms
};
IStream *SimNewUploadStream(const SimUpload &upload);
// The object's properties as the device reports them.
SimValueList SimObjectProperties(int device, int object);
std::wstring SimIdOf(int device, int object);

// WPD_OBJECT_ID is not part of the layer's contract, so devsim declares it itself.
extern const PROPERTYKEY DEVSIM_WPD_OBJECT_ID;

// Reference counting and the live-object count every devsim COM object shares.
template <class I>
class SimCom : public I {
public:
    SimCom() { SimLiveAdd(1); }
    virtual ~SimCom() { SimLiveAdd(-1); }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs_); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs_);
        if (left == 0) delete this;
        return (ULONG)left;
    }

protected:
    HRESULT Answer(void *self, void **out)
    {
        *out = self;
        AddRef();
        return S_OK;
    }
    LONG refs_ = 1;
};

// Every class id devsim serves, for the server DLL's registration (registration.cpp).
int DevsimClassCount();
const CLSID *DevsimClassId(int index);

// Narrow text of a wide id, for the call log (ids are ASCII).
std::string SimNarrow(const std::wstring &text);

#endif
