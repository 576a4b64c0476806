// The MTP operations of the pass-through as Android's server answers them: the object store by
// handle (an object's number), the object properties a client reads, GetObject, and Android's edit
// extension, which rewrites the file itself: the object, its handle and its owner stay.
#include "devsim_internal.h"

namespace {
enum : WORD {
    RESPONSE_OK = 0x2001,
    GENERAL_ERROR = 0x2002,
    NOT_SUPPORTED = 0x2005,
    INVALID_STORAGE = 0x2008,
    INVALID_HANDLE = 0x2009,
    INVALID_PARAMETER = 0x201D,
    INVALID_PROPERTY_CODE = 0xA801,
};
const DWORD ALL = 0xFFFFFFFF;
const ULONGLONG LARGEST_FILE = 64u << 20;   // past this an edit is refused: devsim keeps files in memory

const struct {
    DWORD code;
    const char *name;
    SimMtpData data;
} Operations[] = {
    {0x1004, "MTP::GetStorageIDs", SIM_MTP_TO_HOST},
    {0x1007, "MTP::GetObjectHandles", SIM_MTP_TO_HOST},
    {0x1009, "MTP::GetObject", SIM_MTP_TO_HOST},
    {0x9803, "MTP::GetObjectPropValue", SIM_MTP_TO_HOST},
    {0x95C1, "MTP::GetPartialObject64", SIM_MTP_TO_HOST},
    {0x95C2, "MTP::SendPartialObject", SIM_MTP_TO_DEVICE},
    {0x95C3, "MTP::TruncateObject", SIM_MTP_NO_DATA},
    {0x95C4, "MTP::BeginEditObject", SIM_MTP_NO_DATA},
    {0x95C5, "MTP::EndEditObject", SIM_MTP_NO_DATA},
};

void PutU32(std::string *data, DWORD value)
{
    for (int i = 0; i < 4; i++) data->push_back((char)(value >> (8 * i)));
}

bool IsStorage(int device, int object)
{
    SimObject *o = SimFindObject(device, object);
    return o && !o->deleted && object != DEVSIM_ROOT && o->parent == DEVSIM_ROOT;
}

// The live object a handle names; DEVICE and the storages are no MTP objects.
SimObject *Handled(int device, DWORD handle)
{
    if (handle == 0 || handle > 0x7FFFFFFF) return nullptr;
    SimObject *o = SimFindObject(device, (int)handle);
    return (o && !o->deleted && o->parent != DEVSIM_ROOT) ? o : nullptr;
}

bool IsFolder(const SimObject &o)
{
    return o.hasType && IsEqualGUID(o.type, WPD_CONTENT_TYPE_FOLDER);
}

// The objects below object: its children, or with all everything under them too, phantoms included.
void Collect(int device, int object, bool all, std::vector<DWORD> *out)
{
    for (int c : DevsimChildren(device, object)) {
        out->push_back((DWORD)c);
        if (all) Collect(device, c, true, out);
    }
}

// An MTP string: the count of UTF-16 units with the NUL, the units, the NUL; empty is a 0 alone.
std::string MtpString(const std::wstring &text)
{
    std::string data;
    size_t n = text.size() < 254 ? text.size() : 254;
    if (n == 0) return std::string(1, '\0');
    data.push_back((char)(n + 1));
    for (size_t i = 0; i <= n; i++) {
        wchar_t c = i < n ? text[i] : L'\0';
        data.push_back((char)(c & 0xFF));
        data.push_back((char)(c >> 8));
    }
    return data;
}

SimMtpAnswer Respond(WORD response)
{
    SimMtpAnswer answer;
    answer.response = response;
    return answer;
}

SimMtpAnswer ObjectHandles(int device, const std::vector<DWORD> &p)
{
    DWORD storage = p.size() > 0 ? p[0] : 0, parent = p.size() > 2 ? p[2] : 0;
    std::vector<int> storages;
    for (int s : DevsimChildren(device, DEVSIM_ROOT))
        if (storage == ALL || storage == ((DWORD)s << 16 | 1)) storages.push_back(s);
    if (storages.empty()) return Respond(INVALID_STORAGE);
    std::vector<DWORD> handles;
    if (parent == 0 || parent == ALL) {
        for (int s : storages) Collect(device, s, parent == 0, &handles);
    } else {
        // Android lists only folders; anything else is no handle to list.
        SimObject *o = Handled(device, parent);
        if (!o || !IsFolder(*o)) return Respond(INVALID_HANDLE);
        Collect(device, (int)parent, false, &handles);
    }
    SimMtpAnswer answer;
    PutU32(&answer.data, (DWORD)handles.size());
    for (DWORD h : handles) PutU32(&answer.data, h);
    return answer;
}

SimMtpAnswer PropertyValue(int device, const std::vector<DWORD> &p)
{
    SimObject *o = Handled(device, p.size() > 0 ? p[0] : 0);
    if (!o) return Respond(INVALID_HANDLE);
    SimMtpAnswer answer;
    switch (p.size() > 1 ? p[1] : 0) {
    case 0xDC07: answer.data = MtpString(o->hasName ? o->name : std::wstring()); break;
    case 0xDC04:
        for (int i = 0; i < 8; i++) answer.data.push_back((char)((ULONGLONG)o->data.size() >> (8 * i)));
        break;
    case 0xDC0B: PutU32(&answer.data, IsStorage(device, o->parent) ? 0 : (DWORD)o->parent); break;
    default: return Respond(INVALID_PROPERTY_CODE);
    }
    return answer;
}

// The file a read or an edit needs: no folder, no phantom.
SimMtpAnswer FileOf(int device, DWORD handle, SimObject **file)
{
    *file = Handled(device, handle);
    if (!*file) return Respond(INVALID_HANDLE);
    if (IsFolder(**file) || (*file)->phantom) return Respond(GENERAL_ERROR);
    return SimMtpAnswer();
}

// The object being edited under handle, or why there is none.
SimMtpAnswer EditedOf(int device, DWORD handle, SimObject **file)
{
    *file = Handled(device, handle);
    if (!*file) return Respond(INVALID_HANDLE);
    return (*file)->editing ? SimMtpAnswer() : Respond(GENERAL_ERROR);
}
}  // namespace

const char *SimMtpName(DWORD code)
{
    for (const auto &o : Operations)
        if (o.code == code) return o.name;
    return nullptr;
}

SimMtpData SimMtpDataOf(DWORD code)
{
    for (const auto &o : Operations)
        if (o.code == code) return o.data;
    return SIM_MTP_NO_DATA;
}

bool SimMtpResponseOf(HRESULT hr, WORD *code)
{
    WORD low = (WORD)(hr & 0xFFFF);
    bool response = FAILED(hr) && HRESULT_FACILITY(hr) == FACILITY_ITF &&
                    ((low >= 0x2000 && low <= 0x2FFF) || (low >= 0xA800 && low <= 0xA8FF));
    if (response) *code = low;
    return response;
}

SimMtpAnswer SimMtpRun(int device, bool readOnly, DWORD code, const std::vector<DWORD> &p)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    DWORD handle = p.empty() ? 0 : p[0];
    SimObject *o = nullptr;
    SimMtpAnswer answer;
    if (!d) return Respond(GENERAL_ERROR);
    bool edit = code >= 0x95C1 && code <= 0x95C5;
    if (edit && d->editOps == DEVSIM_EDIT_ABSENT) return Respond(NOT_SUPPORTED);
    if (edit && code != 0x95C1 && readOnly) {
        answer.driver = E_ACCESSDENIED;
        return answer;
    }
    switch (code) {
    case 0x1004: {
        std::vector<int> storages = DevsimChildren(device, DEVSIM_ROOT);
        PutU32(&answer.data, (DWORD)storages.size());
        for (int s : storages) PutU32(&answer.data, (DWORD)s << 16 | 1);
        return answer;
    }
    case 0x1007: return ObjectHandles(device, p);
    case 0x9803: return PropertyValue(device, p);
    case 0x1009:
        answer = FileOf(device, handle, &o);
        if (answer.response == RESPONSE_OK) answer.data = o->data;
        return answer;
    case 0x95C1: {
        answer = FileOf(device, handle, &o);
        if (answer.response != RESPONSE_OK) return answer;
        ULONGLONG offset = (p.size() > 1 ? p[1] : 0) | (ULONGLONG)(p.size() > 2 ? p[2] : 0) << 32;
        if (offset > o->data.size()) return Respond(INVALID_PARAMETER);
        answer.data = o->data.substr((size_t)offset, p.size() > 3 ? p[3] : 0);
        answer.params.push_back((DWORD)answer.data.size());
        return answer;
    }
    case 0x95C4:
        answer = FileOf(device, handle, &o);
        if (answer.response != RESPONSE_OK) return answer;
        if (o->editing) return Respond(GENERAL_ERROR);
        o->editing = true;
        o->editBase = o->data.size();
        // The driver keeps stating the size it read before the first edit, until a reconnect.
        if (!o->sizeCached) o->cachedSize = o->data.size();
        o->sizeCached = true;
        return answer;
    case 0x95C3: {
        answer = EditedOf(device, handle, &o);
        if (answer.response != RESPONSE_OK) return answer;
        ULONGLONG length = (p.size() > 1 ? p[1] : 0) | (ULONGLONG)(p.size() > 2 ? p[2] : 0) << 32;
        if (length > LARGEST_FILE) return Respond(INVALID_PARAMETER);
        if (d->growthLies && length > o->editBase) length = o->editBase;
        if (length < o->data.size()) o->cut = true;
        o->data.resize((size_t)length, '\0');
        SimAfterMutation();
        return answer;
    }
    case 0x95C2:
        return EditedOf(device, handle, &o);
    case 0x95C5:
        answer = EditedOf(device, handle, &o);
        if (answer.response != RESPONSE_OK) return answer;
        o->editing = false;
        o->cut = false;
        SimAfterMutation();
        return answer;
    default: return Respond(NOT_SUPPORTED);
    }
}

void SimMtpWrite(int device, DWORD handle, ULONGLONG position, const std::string &bytes)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    SimObject *o = Handled(device, handle);
    if (!d || !o || !o->editing || position > LARGEST_FILE) return;
    size_t from = (size_t)position, to = from + (bytes.size() < LARGEST_FILE ? bytes.size() : (size_t)LARGEST_FILE);
    if (d->growthLies && to > o->editBase) to = o->editBase > from ? o->editBase : from;
    if (to == from) return;
    if (o->data.size() < to) o->data.resize(to, '\0');   // a write past the end leaves zeros between, as pwrite does
    o->data.replace(from, to - from, bytes, 0, to - from);
    SimAfterMutation();
}

void SimMtpSent(int device, DWORD handle)
{
    DevsimLock lock;
    SimObject *o = Handled(device, handle);
    if (!o || !o->cut) return;
    o->cut = false;
    SimAfterMutation();
}
