// Recording proxies: one per interface the layer reaches from the device classes. Each call
// goes to the real object and is recorded with its answer and time; a call that would change
// the device is refused here, unless the write test runs, and never reaches it.
#include <new>
#include "probe/probe.h"

namespace {

HRESULT Refused(int method, int device, LPCWSTR object)
{
    CallRecord *r = Record(method, device, object, E_ACCESSDENIED, Now());
    if (r != NULL)
        r->refused = 1;
    return E_ACCESSDENIED;
}

// What every proxy keeps beside its interface; the shared work is done here once, not per class.
struct ProxyFields {
    IUnknown *real;
    int device;
    int origin;   // the intercepted class whose stand-in made the first object of the chain
    LONG refs;

    // The real call's answer, recorded with its time.
    HRESULT Done(int method, LPCWSTR object, HRESULT hr, LONGLONG start)
    {
        Record(method, device, object, hr, start);
        return hr;
    }
    ULONG Drop(void *self)
    {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            real->Release();
            CoTaskMemFree(self);
        }
        return (ULONG)left;
    }
    HRESULT Answer(IUnknown *self, REFIID iid, REFIID own, void **out)
    {
        if (out == NULL)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own)) {
            *out = self;
            InterlockedIncrement(&refs);
            return S_OK;
        }
        *out = NULL;
        StandInUnanswered(origin, iid);
        return E_NOINTERFACE;
    }
};

#define REFUSE_UNLESS_WRITING(method, object) \
    if (!AllowWrites)                         \
        return Refused(method, device, object)
// Runs the real call (its name and arguments in CALL) and records it.
#define FORWARD(method, object, call) \
    LONGLONG start_ = Now();          \
    return Done(method, object, Real()->call, start_)
// The same, keeping the answer in hr and the record (NULL when the table is full) in record_.
#define TIMED(method, object, call)   \
    LONGLONG start_ = Now();          \
    HRESULT hr = Real()->call;        \
    CallRecord *record_ = Record(method, device, object, hr, start_)

template <class I>
class Proxy : public I, public ProxyFields {
public:
    I *Real() { return static_cast<I *>(real); }
    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override { return Drop(static_cast<I *>(this)); }
};

// Takes the real object's reference; NULL (and the real one released) without memory.
template <class P>
P *Wrap(IUnknown *real, const ProxyFields *from)
{
    if (real == NULL)
        return NULL;
    void *memory = CoTaskMemAlloc(sizeof(P));
    if (memory == NULL) {
        real->Release();
        return NULL;
    }
    P *proxy = new (memory) P;
    proxy->real = real;
    proxy->device = from->device;
    proxy->origin = from->origin;
    proxy->refs = 1;
    return proxy;
}

// Hands out the wrapped object of a successful call; E_OUTOFMEMORY when it cannot be wrapped.
template <class P, class I>
HRESULT Hand(HRESULT hr, I **out, const ProxyFields *from)
{
    if (FAILED(hr) || out == NULL || *out == NULL)
        return hr;
    *out = Wrap<P>(*out, from);
    return *out != NULL ? hr : E_OUTOFMEMORY;
}

// The VT_ERROR values of a property answer, kept with the call.
void KeepKeyErrors(CallRecord *record, IPortableDeviceValues *values)
{
    DWORD count = 0;
    if (record == NULL || values == NULL || FAILED(values->GetCount(&count)))
        return;
    for (DWORD i = 0; i < count; i++) {
        PROPERTYKEY key;
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(values->GetAt(i, &key, &value)) && value.vt == VT_ERROR &&
            record->keyErrorCount < RECORD_KEY_ERRORS) {
            record->keyErrors[record->keyErrorCount].pid = key.pid;
            record->keyErrors[record->keyErrorCount].code = value.scode;
            record->keyErrorCount++;
        }
        PropVariantClear(&value);
    }
    record->detail = count;
}

class ProxyStream : public Proxy<IPortableDeviceDataStream> {
public:
    WCHAR object[RECORD_OBJECT_CHARS];

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out != NULL && (IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream))) {
            *out = static_cast<IStream *>(this);
            AddRef();
            return S_OK;
        }
        return Answer(this, iid, IID_IPortableDeviceDataStream, out);
    }
    HRESULT STDMETHODCALLTYPE Read(void *data, ULONG size, ULONG *done) override
    {
        ULONG got = 0;
        TIMED(M_STM_READ, object, Read(data, size, &got));
        if (record_ != NULL)
            record_->detail = got;
        if (done != NULL)
            *done = got;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *data, ULONG size, ULONG *done) override
    {
        REFUSE_UNLESS_WRITING(M_STM_WRITE, object);
        FORWARD(M_STM_WRITE, object, Write(data, size, done));
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD from, ULARGE_INTEGER *position) override
    {
        FORWARD(M_STM_SEEK, object, Seek(move, from, position));
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        REFUSE_UNLESS_WRITING(M_STM_SET_SIZE, object);
        FORWARD(M_STM_SET_SIZE, object, SetSize(size));
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *target, ULARGE_INTEGER size, ULARGE_INTEGER *read,
                                     ULARGE_INTEGER *written) override
    {
        FORWARD(M_STM_COPY_TO, object, CopyTo(target, size, read, written));
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override
    {
        REFUSE_UNLESS_WRITING(M_STM_COMMIT, object);
        FORWARD(M_STM_COMMIT, object, Commit(flags));
    }
    HRESULT STDMETHODCALLTYPE Revert() override { FORWARD(M_STM_REVERT, object, Revert()); }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override
    {
        FORWARD(M_STM_LOCK, object, LockRegion(offset, size, type));
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override
    {
        FORWARD(M_STM_UNLOCK, object, UnlockRegion(offset, size, type));
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD flags) override { FORWARD(M_STM_STAT, object, Stat(stat, flags)); }
    HRESULT STDMETHODCALLTYPE Clone(IStream **copy) override
    {
        if (copy != NULL)
            *copy = NULL;
        return Refused(M_STM_CLONE, device, object);   // a second way to the same bytes is never needed
    }
    // The data-stream methods, through the real object's own data-stream interface.
    HRESULT DataStream(int method, LPWSTR *id)
    {
        IPortableDeviceDataStream *data = NULL;
        LONGLONG start = Now();
        HRESULT hr = real->QueryInterface(IID_IPortableDeviceDataStream, (void **)&data);
        if (SUCCEEDED(hr)) {
            hr = method == M_STM_OBJECT_ID ? data->GetObjectID(id) : data->Cancel();
            data->Release();
        }
        return Done(method, object, hr, start);
    }
    HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR *id) override { return DataStream(M_STM_OBJECT_ID, id); }
    HRESULT STDMETHODCALLTYPE Cancel() override { return DataStream(M_STM_CANCEL, NULL); }
};

IStream *WrapStream(IStream *real, const ProxyFields *from, LPCWSTR objectId)
{
    ProxyStream *proxy = Wrap<ProxyStream>(real, from);
    if (proxy != NULL)
        lstrcpynW(proxy->object, objectId != NULL ? objectId : L"(new)", RECORD_OBJECT_CHARS);
    return proxy;
}

class ProxyEnum : public Proxy<IEnumPortableDeviceObjectIDs> {
public:
    WCHAR parent[RECORD_OBJECT_CHARS];
    int listing;   // the EnumObjects record whose child count grows with each Next, or -1

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Answer(this, iid, IID_IEnumPortableDeviceObjectIDs, out);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPWSTR *ids, ULONG *fetched) override
    {
        ULONG got = 0;
        TIMED(M_ENU_NEXT, parent, Next(count, ids, &got));
        if (SUCCEEDED(hr)) {
            if (record_ != NULL)
                record_->detail = got;
            if (listing >= 0)
                RecordAt(listing)->detail += got;
        }
        if (fetched != NULL)
            *fetched = got;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override { FORWARD(M_ENU_SKIP, parent, Skip(count)); }
    HRESULT STDMETHODCALLTYPE Reset() override { FORWARD(M_ENU_RESET, parent, Reset()); }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs **copy) override
    {
        TIMED(M_ENU_CLONE, parent, Clone(copy));
        (void)record_;
        hr = Hand<ProxyEnum>(hr, copy, this);
        if (SUCCEEDED(hr) && copy != NULL && *copy != NULL) {
            lstrcpyW(((ProxyEnum *)*copy)->parent, parent);
            ((ProxyEnum *)*copy)->listing = -1;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { FORWARD(M_ENU_CANCEL, parent, Cancel()); }
};

class ProxyBulk : public Proxy<IPortableDevicePropertiesBulk> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Answer(this, iid, IID_IPortableDevicePropertiesBulk, out);
    }
    HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectList(IPortableDevicePropVariantCollection *ids,
                                                         IPortableDeviceKeyCollection *keys,
                                                         IPortableDevicePropertiesBulkCallback *callback,
                                                         GUID *context) override
    {
        FORWARD(M_BLK_BY_LIST, NULL, QueueGetValuesByObjectList(ids, keys, callback, context));
    }
    HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectFormat(REFGUID format, LPCWSTR parentId, DWORD depth,
                                                           IPortableDeviceKeyCollection *keys,
                                                           IPortableDevicePropertiesBulkCallback *callback,
                                                           GUID *context) override
    {
        FORWARD(M_BLK_BY_FORMAT, parentId, QueueGetValuesByObjectFormat(format, parentId, depth, keys, callback, context));
    }
    HRESULT STDMETHODCALLTYPE QueueSetValuesByObjectList(IPortableDeviceValuesCollection *values,
                                                         IPortableDevicePropertiesBulkCallback *callback,
                                                         GUID *context) override
    {
        REFUSE_UNLESS_WRITING(M_BLK_SET, NULL);
        FORWARD(M_BLK_SET, NULL, QueueSetValuesByObjectList(values, callback, context));
    }
    HRESULT STDMETHODCALLTYPE Start(REFGUID context) override { FORWARD(M_BLK_START, NULL, Start(context)); }
    HRESULT STDMETHODCALLTYPE Cancel(REFGUID context) override { FORWARD(M_BLK_CANCEL, NULL, Cancel(context)); }
};

class ProxyProperties : public Proxy<IPortableDeviceProperties> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out != NULL && IsEqualIID(iid, IID_IPortableDevicePropertiesBulk)) {
            IPortableDevicePropertiesBulk **bulk = (IPortableDevicePropertiesBulk **)out;
            *bulk = NULL;
            TIMED(M_PRO_BULK, NULL, QueryInterface(iid, out));
            (void)record_;
            return Hand<ProxyBulk>(hr, bulk, this);
        }
        return Answer(this, iid, IID_IPortableDeviceProperties, out);
    }
    HRESULT STDMETHODCALLTYPE GetSupportedProperties(LPCWSTR id, IPortableDeviceKeyCollection **keys) override
    {
        FORWARD(M_PRO_SUPPORTED, id, GetSupportedProperties(id, keys));
    }
    HRESULT STDMETHODCALLTYPE GetPropertyAttributes(LPCWSTR id, REFPROPERTYKEY key,
                                                    IPortableDeviceValues **attributes) override
    {
        FORWARD(M_PRO_ATTRIBUTES, id, GetPropertyAttributes(id, key, attributes));
    }
    HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR id, IPortableDeviceKeyCollection *keys,
                                        IPortableDeviceValues **values) override
    {
        TIMED(M_PRO_GET_VALUES, id, GetValues(id, keys, values));
        if (SUCCEEDED(hr) && values != NULL)
            KeepKeyErrors(record_, *values);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetValues(LPCWSTR id, IPortableDeviceValues *values,
                                        IPortableDeviceValues **results) override
    {
        REFUSE_UNLESS_WRITING(M_PRO_SET_VALUES, id);
        TIMED(M_PRO_SET_VALUES, id, SetValues(id, values, results));
        if (SUCCEEDED(hr) && results != NULL)
            KeepKeyErrors(record_, *results);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR id, IPortableDeviceKeyCollection *keys) override
    {
        REFUSE_UNLESS_WRITING(M_PRO_DELETE, id);
        FORWARD(M_PRO_DELETE, id, Delete(id, keys));
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { FORWARD(M_PRO_CANCEL, NULL, Cancel()); }
};

class ProxyResources : public Proxy<IPortableDeviceResources> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Answer(this, iid, IID_IPortableDeviceResources, out);
    }
    HRESULT STDMETHODCALLTYPE GetSupportedResources(LPCWSTR id, IPortableDeviceKeyCollection **keys) override
    {
        FORWARD(M_RES_SUPPORTED, id, GetSupportedResources(id, keys));
    }
    HRESULT STDMETHODCALLTYPE GetResourceAttributes(LPCWSTR id, REFPROPERTYKEY key,
                                                    IPortableDeviceValues **attributes) override
    {
        FORWARD(M_RES_ATTRIBUTES, id, GetResourceAttributes(id, key, attributes));
    }
    HRESULT STDMETHODCALLTYPE GetStream(LPCWSTR id, REFPROPERTYKEY key, const DWORD mode, DWORD *optimal,
                                        IStream **stream) override
    {
        int method = mode == STGM_READ ? M_RES_GET_STREAM : M_RES_GET_STREAM_WRITE;
        if (method == M_RES_GET_STREAM_WRITE && !AllowWrites) {
            if (stream != NULL)
                *stream = NULL;
            return Refused(method, device, id);
        }
        TIMED(method, id, GetStream(id, key, mode, optimal, stream));
        (void)record_;
        if (SUCCEEDED(hr) && stream != NULL && *stream != NULL) {
            *stream = WrapStream(*stream, this, id);
            if (*stream == NULL)
                hr = E_OUTOFMEMORY;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR id, IPortableDeviceKeyCollection *keys) override
    {
        REFUSE_UNLESS_WRITING(M_RES_DELETE, id);
        FORWARD(M_RES_DELETE, id, Delete(id, keys));
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { FORWARD(M_RES_CANCEL, NULL, Cancel()); }
    HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues *, IStream **data, DWORD *, LPWSTR *) override
    {
        if (data != NULL)
            *data = NULL;
        return Refused(M_RES_CREATE, device, NULL);   // not even the write test adds resources
    }
};

class ProxyContent : public Proxy<IPortableDeviceContent> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Answer(this, iid, IID_IPortableDeviceContent, out);
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(const DWORD flags, LPCWSTR parentId, IPortableDeviceValues *filter,
                                          IEnumPortableDeviceObjectIDs **children) override
    {
        TIMED(M_CON_ENUM, parentId, EnumObjects(flags, parentId, filter, children));
        hr = Hand<ProxyEnum>(hr, children, this);
        if (SUCCEEDED(hr) && children != NULL && *children != NULL) {
            ProxyEnum *proxy = (ProxyEnum *)*children;
            lstrcpynW(proxy->parent, parentId != NULL ? parentId : L"", RECORD_OBJECT_CHARS);
            proxy->listing = record_ != NULL ? (int)(record_ - RecordAt(0)) : -1;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Properties(IPortableDeviceProperties **properties) override
    {
        LONGLONG start = Now();
        return Hand<ProxyProperties>(Done(M_CON_PROPERTIES, NULL, Real()->Properties(properties), start), properties,
                                     this);
    }
    HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources **resources) override
    {
        LONGLONG start = Now();
        return Hand<ProxyResources>(Done(M_CON_TRANSFER, NULL, Real()->Transfer(resources), start), resources, this);
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(IPortableDeviceValues *values, LPWSTR *id) override
    {
        REFUSE_UNLESS_WRITING(M_CON_CREATE_PROPERTIES, NULL);
        FORWARD(M_CON_CREATE_PROPERTIES, NULL, CreateObjectWithPropertiesOnly(values, id));
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(IPortableDeviceValues *values, IStream **data,
                                                                DWORD *optimal, LPWSTR *cookie) override
    {
        if (data != NULL)
            *data = NULL;
        REFUSE_UNLESS_WRITING(M_CON_CREATE_DATA, NULL);
        TIMED(M_CON_CREATE_DATA, NULL, CreateObjectWithPropertiesAndData(values, data, optimal, cookie));
        (void)record_;
        if (SUCCEEDED(hr) && data != NULL && *data != NULL) {
            *data = WrapStream(*data, this, NULL);
            if (*data == NULL)
                hr = E_OUTOFMEMORY;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Delete(const DWORD options, IPortableDevicePropVariantCollection *ids,
                                     IPortableDevicePropVariantCollection **results) override
    {
        if (results != NULL)
            *results = NULL;
        REFUSE_UNLESS_WRITING(M_CON_DELETE, NULL);
        FORWARD(M_CON_DELETE, NULL, Delete(options, ids, results));
    }
    HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(IPortableDevicePropVariantCollection *unique,
                                                                  IPortableDevicePropVariantCollection **ids) override
    {
        FORWARD(M_CON_FROM_UNIQUE_IDS, NULL, GetObjectIDsFromPersistentUniqueIDs(unique, ids));
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { FORWARD(M_CON_CANCEL, NULL, Cancel()); }
    HRESULT STDMETHODCALLTYPE Move(IPortableDevicePropVariantCollection *ids, LPCWSTR target,
                                   IPortableDevicePropVariantCollection **results) override
    {
        REFUSE_UNLESS_WRITING(M_CON_MOVE, target);
        FORWARD(M_CON_MOVE, target, Move(ids, target, results));
    }
    HRESULT STDMETHODCALLTYPE Copy(IPortableDevicePropVariantCollection *ids, LPCWSTR target,
                                   IPortableDevicePropVariantCollection **results) override
    {
        REFUSE_UNLESS_WRITING(M_CON_COPY, target);
        FORWARD(M_CON_COPY, target, Copy(ids, target, results));
    }
};

class ProxyDevice : public Proxy<IPortableDevice> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Answer(this, iid, IID_IPortableDevice, out);
    }
    HRESULT STDMETHODCALLTYPE Open(LPCWSTR pnpId, IPortableDeviceValues *clientInfo) override
    {
        device = DeviceIndex(pnpId);
        FORWARD(M_DEV_OPEN, pnpId, Open(pnpId, clientInfo));
    }
    HRESULT STDMETHODCALLTYPE SendCommand(const DWORD flags, IPortableDeviceValues *parameters,
                                          IPortableDeviceValues **results) override
    {
        if (results != NULL)
            *results = NULL;
        if (!ReadsOnly(parameters))
            REFUSE_UNLESS_WRITING(M_DEV_SEND_COMMAND, NULL);   // a raw command may change anything
        FORWARD(M_DEV_SEND_COMMAND, NULL, SendCommand(flags, parameters, results));
    }
    // The pass-through commands that only read: the driver's own answers, and the MTP operations
    // that fetch an object's properties or bytes, with the reads and ends of their transfers.
    static int ReadsOnly(IPortableDeviceValues *parameters)
    {
        GUID category = GUID_NULL;
        ULONG command = 0, code = 0;
        if (parameters == NULL || FAILED(parameters->GetGuidValue(WPD_PROPERTY_COMMON_COMMAND_CATEGORY, &category)) ||
            !IsEqualGUID(category, WPD_CATEGORY_MTP_EXT_VENDOR_OPERATIONS) ||
            FAILED(parameters->GetUnsignedIntegerValue(WPD_PROPERTY_COMMON_COMMAND_ID, &command)))
            return 0;
        if (command == WPD_COMMAND_MTP_EXT_GET_SUPPORTED_VENDOR_OPCODES.pid ||
            command == WPD_COMMAND_MTP_EXT_GET_VENDOR_EXTENSION_DESCRIPTION.pid ||
            command == WPD_COMMAND_MTP_EXT_READ_DATA.pid || command == WPD_COMMAND_MTP_EXT_END_DATA_TRANSFER.pid)
            return 1;
        return command == WPD_COMMAND_MTP_EXT_EXECUTE_COMMAND_WITH_DATA_TO_READ.pid &&
               SUCCEEDED(parameters->GetUnsignedIntegerValue(WPD_PROPERTY_MTP_EXT_OPERATION_CODE, &code)) &&
               (code == 0x9803 || code == 0x1009 || code == 0x95C1);   // GetObjectPropValue, GetObject, GetPartialObject64
    }
    HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent **content) override
    {
        LONGLONG start = Now();
        return Hand<ProxyContent>(Done(M_DEV_CONTENT, NULL, Real()->Content(content), start), content, this);
    }
    HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities **capabilities) override
    {
        FORWARD(M_DEV_CAPABILITIES, NULL, Capabilities(capabilities));   // queries only
    }
    HRESULT STDMETHODCALLTYPE Cancel() override { FORWARD(M_DEV_CANCEL, NULL, Cancel()); }
    HRESULT STDMETHODCALLTYPE Close() override { FORWARD(M_DEV_CLOSE, NULL, Close()); }
    HRESULT STDMETHODCALLTYPE Advise(const DWORD flags, IPortableDeviceEventCallback *callback,
                                     IPortableDeviceValues *parameters, LPWSTR *cookie) override
    {
        FORWARD(M_DEV_ADVISE, NULL, Advise(flags, callback, parameters, cookie));
    }
    HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR cookie) override { FORWARD(M_DEV_UNADVISE, NULL, Unadvise(cookie)); }
    HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR *pnpId) override { FORWARD(M_DEV_PNP_ID, NULL, GetPnPDeviceID(pnpId)); }
};

class ProxyManager : public Proxy<IPortableDeviceManager> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Answer(this, iid, IID_IPortableDeviceManager, out);
    }
    HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR *ids, DWORD *count) override
    {
        TIMED(M_MGR_GET_DEVICES, NULL, GetDevices(ids, count));
        if (record_ != NULL && count != NULL)
            record_->detail = *count;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE RefreshDeviceList() override { FORWARD(M_MGR_REFRESH, NULL, RefreshDeviceList()); }
    HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        FORWARD(M_MGR_FRIENDLY_NAME, pnpId, GetDeviceFriendlyName(pnpId, text, chars));
    }
    HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        FORWARD(M_MGR_DESCRIPTION, pnpId, GetDeviceDescription(pnpId, text, chars));
    }
    HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        FORWARD(M_MGR_MANUFACTURER, pnpId, GetDeviceManufacturer(pnpId, text, chars));
    }
    HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR pnpId, LPCWSTR name, BYTE *data, DWORD *bytes,
                                                DWORD *type) override
    {
        FORWARD(M_MGR_PROPERTY, pnpId, GetDeviceProperty(pnpId, name, data, bytes, type));
    }
    HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR *ids, DWORD *count) override
    {
        FORWARD(M_MGR_PRIVATE, NULL, GetPrivateDevices(ids, count));
    }
};

}  // namespace

IUnknown *WrapCreated(IUnknown *real, int origin, int isManager)
{
    const ProxyFields from = { NULL, -1, origin, 0 };
    if (isManager)
        return Wrap<ProxyManager>(real, &from);
    return Wrap<ProxyDevice>(real, &from);
}
