// IPortableDeviceProperties: an object's properties as a fresh value set.
#include "devsim_internal.h"

const PROPERTYKEY DEVSIM_WPD_OBJECT_ID = {{0xEF6B490D, 0x5CD8, 0x437A, {0xAF, 0xFC, 0xDA, 0x8B, 0x60, 0xEE, 0x4A, 0x3C}}, 2};

static SimValue SimText(const std::wstring &text)
{
    SimValue v;
    v.type = VT_LPWSTR;
    v.text = text;
    return v;
}

static SimValue SimGuid(const GUID &guid)
{
    SimValue v;
    v.type = VT_CLSID;
    v.guid = guid;
    return v;
}

SimValueList SimObjectProperties(int device, int object)
{
    DevsimLock lock;
    SimValueList list;
    SimObject *o = SimFindObject(device, object);
    if (!o) return list;
    list.push_back(std::make_pair(DEVSIM_WPD_OBJECT_ID, SimText(SimIdOf(device, object))));
    list.push_back(std::make_pair(WPD_OBJECT_PARENT_ID, SimText(object == DEVSIM_ROOT ? L"" : SimIdOf(device, o->parent))));
    const SimDevice *d = SimFindDevice(device);
    // The storage keeps its name inside devsim, for paths; the device just does not report it.
    bool namelessStorage = d->storagesNameless && o->parent == DEVSIM_ROOT && o->hasType &&
                           IsEqualGUID(o->type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT);
    if (o->hasName && !namelessStorage) list.push_back(std::make_pair(WPD_OBJECT_ORIGINAL_FILE_NAME, SimText(o->name)));
    std::wstring title = !o->title.empty() ? o->title : o->hasName ? o->name : SimIdOf(device, object);
    list.push_back(std::make_pair(WPD_OBJECT_NAME, SimText(title)));
    if (o->hasType) list.push_back(std::make_pair(WPD_OBJECT_CONTENT_TYPE, SimGuid(o->type)));
    if (o->hasFormat) list.push_back(std::make_pair(WPD_OBJECT_FORMAT, SimGuid(o->format)));
    if (object == DEVSIM_ROOT) {
        list.push_back(std::make_pair(WPD_DEVICE_FRIENDLY_NAME, SimText(d->friendlyName)));
        list.push_back(std::make_pair(WPD_DEVICE_MANUFACTURER, SimText(d->manufacturer)));
        list.push_back(std::make_pair(WPD_DEVICE_MODEL, SimText(d->model)));
    }
    SimValue size;
    size.type = VT_UI8;
    size.number = o->sizeCached ? o->cachedSize : o->data.size();   // the driver's cache, stale after an edit
    list.push_back(std::make_pair(WPD_OBJECT_SIZE, size));
    return list;
}

void DevsimSetStoragesNameless(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->storagesNameless = on;
}

namespace {
HRESULT NotImplemented(const char *method)
{
    HRESULT hr = SimCall(method);
    return FAILED(hr) ? hr : E_NOTIMPL;
}

SimValue SimError(HRESULT hr)
{
    SimValue v;
    v.type = VT_ERROR;
    v.number = (ULONGLONG)(LONGLONG)hr;
    return v;
}

// Gives key the value v in list, adding it when missing.
void Put(SimValueList *list, const PROPERTYKEY &key, const SimValue &v)
{
    for (auto &entry : *list)
        if (SimKeyEqual(entry.first, key)) {
            entry.second = v;
            return;
        }
    list->push_back(std::make_pair(key, v));
}

class SimProperties : public SimCom<IPortableDeviceProperties> {
public:
    int device = -1;
    bool readOnly = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceProperties))
            return Answer(static_cast<IPortableDeviceProperties *>(this), out);
        *out = nullptr;
        if (IsEqualIID(iid, IID_IPortableDevicePropertiesBulk)) {
            DevsimLock lock;
            SimDevice *d = SimFindDevice(device);
            if (d && !d->bulkMissing) {
                *out = SimNewBulk(device);
                return S_OK;
            }
        }
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetSupportedProperties(LPCWSTR objectId, IPortableDeviceKeyCollection **keys) override
    {
        HRESULT hr = SimCall("IPortableDeviceProperties::GetSupportedProperties", objectId);
        if (FAILED(hr)) return hr;
        if (!objectId || !keys) return E_POINTER;
        DevsimLock lock;
        int object = SimObjectNumber(device, objectId);
        if (object < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        std::vector<PROPERTYKEY> list;
        for (const auto &entry : SimObjectProperties(device, object)) list.push_back(entry.first);
        *keys = SimNewKeyCollection(list);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyAttributes(LPCWSTR, REFPROPERTYKEY, IPortableDeviceValues **) override
    {
        return NotImplemented("IPortableDeviceProperties::GetPropertyAttributes");
    }
    // Keys the object does not have are left out of the answer; a scripted value error turns
    // keys into VT_ERROR values and the answer into S_FALSE.
    HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR objectId, IPortableDeviceKeyCollection *keys,
                                        IPortableDeviceValues **values) override
    {
        HRESULT hr = SimCall("IPortableDeviceProperties::GetValues", objectId);
        if (FAILED(hr)) return hr;
        if (!objectId || !values) return E_POINTER;
        std::vector<PROPERTYKEY> wanted;
        if (keys && !SimReadKeys(keys, &wanted)) return E_INVALIDARG;
        DevsimLock lock;
        int object = SimObjectNumber(device, objectId);
        if (object < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        SimValueList all = SimObjectProperties(device, object), answer;
        for (const auto &entry : all) {
            bool take = !keys;
            for (const PROPERTYKEY &k : wanted) take = take || SimKeyEqual(k, entry.first);
            if (take) answer.push_back(entry);
        }
        std::vector<SimValueError> errors = SimValueErrorsForCall(objectId);
        for (const SimValueError &e : errors) {
            if (!e.anyKey)
                Put(&answer, e.key, SimError(e.hr));
            else if (keys)
                for (const PROPERTYKEY &k : wanted) Put(&answer, k, SimError(e.hr));
            else
                for (auto &entry : answer) entry.second = SimError(e.hr);
        }
        *values = SimNewValues(answer);
        return errors.empty() ? S_OK : S_FALSE;
    }

    // Only the file name can be set, and only to a name no live sibling (phantoms included)
    // has: a rename. A device that lies answers S_OK and renames nothing; a phantom refuses.
    HRESULT STDMETHODCALLTYPE SetValues(LPCWSTR objectId, IPortableDeviceValues *values,
                                        IPortableDeviceValues **results) override
    {
        HRESULT after = S_OK;
        HRESULT hr = SimCall("IPortableDeviceProperties::SetValues", objectId, &after);
        if (FAILED(hr)) return hr;
        if (!objectId || !values || !results) return E_POINTER;
        SimValueList wanted, outcome;
        if (!SimReadValues(values, &wanted)) return E_INVALIDARG;
        DevsimLock lock;
        SimDevice *d = SimFindDevice(device);
        int object = SimObjectNumber(device, objectId);
        if (!d || object < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        HRESULT scripted = SimSetValuesErrorForCall(objectId);
        if (FAILED(scripted)) {
            for (const auto &entry : wanted) outcome.push_back(std::make_pair(entry.first, SimError(scripted)));
            *results = SimNewValues(outcome);
            return S_FALSE;
        }
        bool allSet = true, renamed = false;
        for (const auto &entry : wanted) {
            HRESULT result = E_ACCESSDENIED;
            bool isName = SimKeyEqual(entry.first, WPD_OBJECT_ORIGINAL_FILE_NAME) && entry.second.type == VT_LPWSTR;
            if (isName && !readOnly && SimIsLivePhantom(device, object)) {
                result = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);   // no file behind it to rename
            } else if (isName && !readOnly && d->renameRefused) {
                result = HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED);
            } else if (isName && !readOnly && d->renameLies) {
                result = S_OK;
            } else if (isName && !readOnly && object != DEVSIM_ROOT) {
                SimObject *o = SimFindObject(device, object);
                const std::wstring &name = entry.second.text;
                bool taken = name.empty();
                for (int sibling : DevsimChildren(device, o->parent))
                    taken = taken || (sibling != object && DevsimName(device, sibling) == name);
                result = taken ? HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS) : S_OK;
                if (!taken) {
                    SimRenameObject(device, object, name);
                    renamed = true;
                }
            }
            allSet = allSet && SUCCEEDED(result);
            outcome.push_back(std::make_pair(entry.first, SimError(result)));
        }
        if (renamed) SimAfterMutation();
        if (FAILED(after)) return after;   // acted, then the answer was lost
        *results = SimNewValues(outcome);
        return allSet ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR, IPortableDeviceKeyCollection *) override
    {
        return NotImplemented("IPortableDeviceProperties::Delete");
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        HRESULT hr = SimCall("IPortableDeviceProperties::Cancel");
        return FAILED(hr) ? hr : S_OK;
    }
};

}  // namespace

IPortableDeviceProperties *SimNewProperties(int device, bool readOnly)
{
    SimProperties *p = new SimProperties;
    p->device = device;
    p->readOnly = readOnly;
    return p;
}
