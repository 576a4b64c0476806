// The simulated devices: object trees built by tests or scenarios and changed by the layer.
#include <wchar.h>
#include "devsim_internal.h"

static CRITICAL_SECTION *SimLockSection()
{
    static CRITICAL_SECTION section;
    static bool ready = (InitializeCriticalSection(&section), true);
    (void)ready;
    return &section;
}

DevsimLock::DevsimLock() { EnterCriticalSection(SimLockSection()); }
DevsimLock::~DevsimLock() { LeaveCriticalSection(SimLockSection()); }

SimState &Sim()
{
    static SimState state;
    return state;
}

std::wstring SimIdOf(int device, int object)
{
    SimObject *o = SimFindObject(device, object);
    return o ? o->id : std::wstring();
}

// The id an object gets when it is made or renamed, by the device's scheme.
static std::wstring SimNewId(const SimDevice &d, int object, const SimObject &o, bool renamed)
{
    if (object == DEVSIM_ROOT) return WPD_DEVICE_OBJECT_ID;
    if (d.idScheme == DEVSIM_IDS_FROM_NAMES && o.hasName)
        return L"n" + std::to_wstring(o.parent) + L"/" + o.name;
    if (renamed && d.idScheme == DEVSIM_IDS_REISSUED_ON_RENAME)
        return L"o" + std::to_wstring(object) + L"r" + std::to_wstring(d.reissued);
    wchar_t id[16];
    swprintf(id, 16, L"o%X", (unsigned)object);   // the MTP driver's own form: the handle in hex
    return id;
}

static void SimAssignId(SimDevice *d, int object, bool renamed)
{
    SimObject &o = d->objects[object];
    auto old = d->byId.find(o.id);
    if (old != d->byId.end() && old->second == object) d->byId.erase(old);
    if (renamed && d->idScheme == DEVSIM_IDS_REISSUED_ON_RENAME) d->reissued++;
    o.id = SimNewId(*d, object, o, renamed);
    d->byId[o.id] = object;
}

std::string SimNarrow(const std::wstring &text)
{
    std::string out;
    for (wchar_t c : text) out += (c < 128) ? (char)c : '?';
    return out;
}

SimDevice *SimFindDevice(int device)
{
    if (device < 0 || device >= (int)Sim().devices.size()) return nullptr;
    return &Sim().devices[device];
}

SimObject *SimFindObject(int device, int object)
{
    SimDevice *d = SimFindDevice(device);
    if (!d || object < 0 || object >= (int)d->objects.size()) return nullptr;
    return &d->objects[object];
}

int SimObjectNumber(int device, const std::wstring &id)
{
    SimDevice *d = SimFindDevice(device);
    if (!d) return -1;
    auto it = d->byId.find(id);
    if (it == d->byId.end() || d->objects[it->second].deleted) return -1;
    return it->second;
}

int SimDeviceByPnp(const std::wstring &pnpId)
{
    for (size_t i = 0; i < Sim().devices.size(); i++)
        if (Sim().devices[i].pnpId == pnpId) return (int)i;
    return -1;
}

bool SimHasLiveChildren(int device, int object)
{
    SimObject *o = SimFindObject(device, object);
    if (!o) return false;
    for (int c : o->children)
        if (!Sim().devices[device].objects[c].deleted) return true;
    return false;
}

void SimMarkDeleted(int device, int object)
{
    SimObject *o = SimFindObject(device, object);
    if (!o || o->deleted) return;
    o->deleted = true;
    // An id derived from a name is free again for the next object of that name.
    SimDevice *d = SimFindDevice(device);
    if (d->idScheme == DEVSIM_IDS_FROM_NAMES) {
        auto it = d->byId.find(o->id);
        if (it != d->byId.end() && it->second == object) d->byId.erase(it);
    }
    std::vector<int> children = o->children;
    for (int c : children) SimMarkDeleted(device, c);
}

int SimAddObjectRaw(int device, int parent, const SimObject &object)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    if (!d || !SimFindObject(device, parent)) return DEVSIM_NONE;
    SimObject copy = object;
    copy.parent = parent;
    copy.children.clear();
    copy.deleted = false;
    d->objects.push_back(copy);
    int number = (int)d->objects.size() - 1;
    d->objects[parent].children.push_back(number);
    SimAssignId(d, number, false);
    return number;
}

void SimRenameObject(int device, int object, const std::wstring &name)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    SimObject *o = SimFindObject(device, object);
    if (!d || !o || o->deleted) return;
    o->hasName = true;
    o->name = name;
    SimAssignId(d, object, true);
}

void SimAfterMutation()
{
    DevsimLock lock;
    SimWatchAfterChange();
    if (!Sim().statePath.empty()) DevsimSaveState(Sim().statePath.c_str());
}

// ---- the test API ----------------------------------------------------------------------

void DevsimReset()
{
    DevsimLock lock;
    Sim().devices.clear();
    Sim().ftmMissing = false;
    SimResetRules();
    SimWatchClear();
    SimMtpClearTransfers();
    DevsimResetCounts();
}

int DevsimAddDevice(const wchar_t *pnpId)
{
    DevsimLock lock;
    SimDevice device;
    device.pnpId = pnpId ? pnpId : L"";
    SimObject root;
    root.id = WPD_DEVICE_OBJECT_ID;
    root.title = WPD_DEVICE_OBJECT_ID;
    device.objects.push_back(root);
    device.byId[root.id] = DEVSIM_ROOT;
    Sim().devices.push_back(device);
    return (int)Sim().devices.size() - 1;
}

int DevsimAddObject(int device, int parent, const wchar_t *name, const GUID *contentType,
                    const GUID *format, const void *data, size_t size)
{
    SimObject o;
    if (name) {
        o.hasName = true;
        o.name = name;
    }
    if (contentType) {
        o.hasType = true;
        o.type = *contentType;
    }
    if (format) {
        o.hasFormat = true;
        o.format = *format;
    }
    if (data && size) o.data.assign((const char *)data, size);
    return SimAddObjectRaw(device, parent, o);
}

int DevsimAddStorage(int device, const wchar_t *name)
{
    return DevsimAddObject(device, DEVSIM_ROOT, name, &WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT, nullptr, nullptr, 0);
}

int DevsimAddFolder(int device, int parent, const wchar_t *name)
{
    return DevsimAddObject(device, parent, name, &WPD_CONTENT_TYPE_FOLDER, nullptr, nullptr, 0);
}

int DevsimAddFile(int device, int parent, const wchar_t *name, const std::string &data)
{
    return DevsimAddObject(device, parent, name, DevsimContentTypeFor(name), &WPD_OBJECT_FORMAT_UNSPECIFIED,
                           data.data(), data.size());
}

int DevsimFind(int device, const wchar_t *path)
{
    DevsimLock lock;
    if (!SimFindDevice(device) || !path) return DEVSIM_NONE;
    int current = DEVSIM_ROOT;
    std::wstring rest = path;
    while (!rest.empty()) {
        size_t cut = rest.find(L'\\');
        std::wstring part = rest.substr(0, cut);
        rest = (cut == std::wstring::npos) ? L"" : rest.substr(cut + 1);
        int found = DEVSIM_NONE;
        for (int c : Sim().devices[device].objects[current].children) {
            const SimObject &o = Sim().devices[device].objects[c];
            if (!o.deleted && o.hasName && o.name == part) {
                found = c;
                break;
            }
        }
        if (found == DEVSIM_NONE) return DEVSIM_NONE;
        current = found;
    }
    return current;
}

bool DevsimExists(int device, int object)
{
    DevsimLock lock;
    SimObject *o = SimFindObject(device, object);
    return o && !o->deleted;
}

std::wstring DevsimObjectId(int device, int object)
{
    DevsimLock lock;
    return SimIdOf(device, object);
}

std::wstring DevsimName(int device, int object)
{
    DevsimLock lock;
    SimObject *o = SimFindObject(device, object);
    return (o && o->hasName) ? o->name : std::wstring();
}

std::string DevsimData(int device, int object)
{
    DevsimLock lock;
    SimObject *o = SimFindObject(device, object);
    return o ? o->data : std::string();
}

std::vector<int> DevsimChildren(int device, int object)
{
    DevsimLock lock;
    std::vector<int> out;
    SimObject *o = SimFindObject(device, object);
    if (!o) return out;
    for (int c : o->children)
        if (!Sim().devices[device].objects[c].deleted) out.push_back(c);
    return out;
}

void DevsimRemove(int device, int object)
{
    DevsimLock lock;
    if (object != DEVSIM_ROOT) SimMarkDeleted(device, object);
}

void DevsimSetDeny(int device, DevsimDeny deny)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) {
        d->deny = deny;
        d->deniedOnce = false;
    }
}

void DevsimSetOptimalSizes(int device, DWORD readSize, DWORD writeSize)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) {
        d->readSize = readSize;
        d->writeSize = writeSize;
    }
}

void DevsimSetShortWrites(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->shortWrites = on;
}

void DevsimSetCommitsKeepLess(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->commitsKeepLess = on;
}

void DevsimSetReadsEndWithSFalse(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->readsEndSFalse = on;
}

void DevsimSetFtmMissing(bool on)
{
    DevsimLock lock;
    Sim().ftmMissing = on;
}

void DevsimSetDeleteRefused(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->deleteRefused = on;
}

void DevsimSetRenameRefused(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->renameRefused = on;
}

void DevsimSetRenameLies(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->renameLies = on;
}

void DevsimSetEditOperations(int device, DevsimEditOps mode)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->editOps = mode;
}

void DevsimSetGrowthLies(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->growthLies = on;
}

bool DevsimOwnedByApp(int device, int object)
{
    DevsimLock lock;
    SimObject *o = SimFindObject(device, object);
    return o && !o->mtpOwned;
}

void DevsimSetIdScheme(int device, DevsimIdScheme scheme)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    if (!d) return;
    d->idScheme = scheme;
    d->byId.clear();
    for (size_t i = 0; i < d->objects.size(); i++) {
        if (d->objects[i].deleted) continue;
        d->objects[i].id = SimNewId(*d, (int)i, d->objects[i], false);
        d->byId[d->objects[i].id] = (int)i;
    }
}

int DevsimObjectById(int device, const wchar_t *id)
{
    return id ? SimObjectNumber(device, id) : -1;
}

std::vector<DevsimOpenRecord> DevsimOpens(int device)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    return d ? d->opens : std::vector<DevsimOpenRecord>();
}

void DevsimSetStatePath(const char *path)
{
    DevsimLock lock;
    Sim().statePath = path ? path : "";
}

int DevsimAddDemoHandheld(const wchar_t *pnpId)
{
    DevsimLock lock;
    int device = DevsimAddDevice(pnpId);
    int storage = DevsimAddStorage(device, L"Internal storage");
    DevsimAddFolder(device, storage, L"DCIM");
    DevsimAddFolder(device, storage, L"Download");
    int app = DevsimAddFolder(device, storage, L"Corvane");
    DevsimAddFile(device, app, L"Corvane_Info.ini", "[Corvane]\r\nName=Demo phone\r\n");
    return device;
}
