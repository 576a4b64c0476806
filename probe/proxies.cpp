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

#define REFUSE_UNLESS_WRITING(method, object) \
    if (!AllowWrites)                         \
        return Refused(method, device, object)
// Runs the real call, records it, and leaves its answer in hr.
#define TIMED(method, object, call)       \
    LONGLONG start_ = Now();              \
    HRESULT hr = (call);                  \
    CallRecord *record_ = Record(method, device, object, hr, start_); \
    (void)record_

template <class I>
class Proxy : public I {
public:
    I *real;
    int device;
    LONG refs;

    ULONG STDMETHODCALLTYPE AddRef() override { return (ULONG)InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        LONG left = InterlockedDecrement(&refs);
        if (left == 0) {
            real->Release();
            CoTaskMemFree(this);
        }
        return (ULONG)left;
    }
    HRESULT Self(REFIID iid, REFIID own, void **out)
    {
        if (out == NULL)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, own)) {
            *out = this;
            AddRef();
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
};

// Takes the real object's reference; NULL (and the real one released) without memory.
template <class P, class I>
P *Wrap(I *real, int device)
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
    proxy->device = device;
    proxy->refs = 1;
    return proxy;
}

// Hands out the wrapped object of a successful call; E_OUTOFMEMORY when it cannot be wrapped.
template <class P, class I>
HRESULT Hand(HRESULT hr, I **out, int device)
{
    if (FAILED(hr) || out == NULL || *out == NULL)
        return hr;
    *out = Wrap<P>(*out, device);
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
    int writable;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out != NULL && (IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_ISequentialStream))) {
            *out = static_cast<IStream *>(this);
            AddRef();
            return S_OK;
        }
        return Self(iid, IID_IPortableDeviceDataStream, out);
    }
    HRESULT STDMETHODCALLTYPE Read(void *data, ULONG size, ULONG *done) override
    {
        ULONG got = 0;
        TIMED(M_STM_READ, object, real->Read(data, size, &got));
        if (record_ != NULL)
            record_->detail = got;
        if (done != NULL)
            *done = got;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Write(const void *data, ULONG size, ULONG *done) override
    {
        REFUSE_UNLESS_WRITING(M_STM_WRITE, object);
        TIMED(M_STM_WRITE, object, real->Write(data, size, done));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER move, DWORD origin, ULARGE_INTEGER *position) override
    {
        TIMED(M_STM_SEEK, object, real->Seek(move, origin, position));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER size) override
    {
        REFUSE_UNLESS_WRITING(M_STM_SET_SIZE, object);
        TIMED(M_STM_SET_SIZE, object, real->SetSize(size));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *target, ULARGE_INTEGER size, ULARGE_INTEGER *read,
                                     ULARGE_INTEGER *written) override
    {
        TIMED(M_STM_COPY_TO, object, real->CopyTo(target, size, read, written));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Commit(DWORD flags) override
    {
        REFUSE_UNLESS_WRITING(M_STM_COMMIT, object);
        TIMED(M_STM_COMMIT, object, real->Commit(flags));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Revert() override
    {
        TIMED(M_STM_REVERT, object, real->Revert());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override
    {
        TIMED(M_STM_LOCK, object, real->LockRegion(offset, size, type));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER offset, ULARGE_INTEGER size, DWORD type) override
    {
        TIMED(M_STM_UNLOCK, object, real->UnlockRegion(offset, size, type));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD flags) override
    {
        TIMED(M_STM_STAT, object, real->Stat(stat, flags));
        return hr;
    }
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
        Record(method, device, object, hr, start);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR *id) override { return DataStream(M_STM_OBJECT_ID, id); }
    HRESULT STDMETHODCALLTYPE Cancel() override { return DataStream(M_STM_CANCEL, NULL); }
};

IStream *WrapStream(IStream *real, int device, LPCWSTR objectId)
{
    ProxyStream *proxy = Wrap<ProxyStream>((IPortableDeviceDataStream *)real, device);
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
        return Self(iid, IID_IEnumPortableDeviceObjectIDs, out);
    }
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPWSTR *ids, ULONG *fetched) override
    {
        ULONG got = 0;
        TIMED(M_ENU_NEXT, parent, real->Next(count, ids, &got));
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
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        TIMED(M_ENU_SKIP, parent, real->Skip(count));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        TIMED(M_ENU_RESET, parent, real->Reset());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs **copy) override
    {
        TIMED(M_ENU_CLONE, parent, real->Clone(copy));
        hr = Hand<ProxyEnum>(hr, copy, device);
        if (SUCCEEDED(hr) && copy != NULL && *copy != NULL) {
            lstrcpyW(((ProxyEnum *)*copy)->parent, parent);
            ((ProxyEnum *)*copy)->listing = -1;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        TIMED(M_ENU_CANCEL, parent, real->Cancel());
        return hr;
    }
};

class ProxyBulk : public Proxy<IPortableDevicePropertiesBulk> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Self(iid, IID_IPortableDevicePropertiesBulk, out);
    }
    HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectList(IPortableDevicePropVariantCollection *ids,
                                                         IPortableDeviceKeyCollection *keys,
                                                         IPortableDevicePropertiesBulkCallback *callback,
                                                         GUID *context) override
    {
        TIMED(M_BLK_BY_LIST, NULL, real->QueueGetValuesByObjectList(ids, keys, callback, context));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectFormat(REFGUID format, LPCWSTR parentId, DWORD depth,
                                                           IPortableDeviceKeyCollection *keys,
                                                           IPortableDevicePropertiesBulkCallback *callback,
                                                           GUID *context) override
    {
        TIMED(M_BLK_BY_FORMAT, parentId, real->QueueGetValuesByObjectFormat(format, parentId, depth, keys, callback,
                                                                            context));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE QueueSetValuesByObjectList(IPortableDeviceValuesCollection *values,
                                                         IPortableDevicePropertiesBulkCallback *callback,
                                                         GUID *context) override
    {
        REFUSE_UNLESS_WRITING(M_BLK_SET, NULL);
        TIMED(M_BLK_SET, NULL, real->QueueSetValuesByObjectList(values, callback, context));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Start(REFGUID context) override
    {
        TIMED(M_BLK_START, NULL, real->Start(context));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel(REFGUID context) override
    {
        TIMED(M_BLK_CANCEL, NULL, real->Cancel(context));
        return hr;
    }
};

class ProxyProperties : public Proxy<IPortableDeviceProperties> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out != NULL && IsEqualIID(iid, IID_IPortableDevicePropertiesBulk)) {
            IPortableDevicePropertiesBulk **bulk = (IPortableDevicePropertiesBulk **)out;
            *bulk = NULL;
            TIMED(M_PRO_BULK, NULL, real->QueryInterface(iid, out));
            return Hand<ProxyBulk>(hr, bulk, device);
        }
        return Self(iid, IID_IPortableDeviceProperties, out);
    }
    HRESULT STDMETHODCALLTYPE GetSupportedProperties(LPCWSTR id, IPortableDeviceKeyCollection **keys) override
    {
        TIMED(M_PRO_SUPPORTED, id, real->GetSupportedProperties(id, keys));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyAttributes(LPCWSTR id, REFPROPERTYKEY key,
                                                    IPortableDeviceValues **attributes) override
    {
        TIMED(M_PRO_ATTRIBUTES, id, real->GetPropertyAttributes(id, key, attributes));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetValues(LPCWSTR id, IPortableDeviceKeyCollection *keys,
                                        IPortableDeviceValues **values) override
    {
        TIMED(M_PRO_GET_VALUES, id, real->GetValues(id, keys, values));
        if (SUCCEEDED(hr) && values != NULL)
            KeepKeyErrors(record_, *values);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetValues(LPCWSTR id, IPortableDeviceValues *values,
                                        IPortableDeviceValues **results) override
    {
        REFUSE_UNLESS_WRITING(M_PRO_SET_VALUES, id);
        TIMED(M_PRO_SET_VALUES, id, real->SetValues(id, values, results));
        if (SUCCEEDED(hr) && results != NULL)
            KeepKeyErrors(record_, *results);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR id, IPortableDeviceKeyCollection *keys) override
    {
        REFUSE_UNLESS_WRITING(M_PRO_DELETE, id);
        TIMED(M_PRO_DELETE, id, real->Delete(id, keys));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        TIMED(M_PRO_CANCEL, NULL, real->Cancel());
        return hr;
    }
};

class ProxyResources : public Proxy<IPortableDeviceResources> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Self(iid, IID_IPortableDeviceResources, out);
    }
    HRESULT STDMETHODCALLTYPE GetSupportedResources(LPCWSTR id, IPortableDeviceKeyCollection **keys) override
    {
        TIMED(M_RES_SUPPORTED, id, real->GetSupportedResources(id, keys));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetResourceAttributes(LPCWSTR id, REFPROPERTYKEY key,
                                                    IPortableDeviceValues **attributes) override
    {
        TIMED(M_RES_ATTRIBUTES, id, real->GetResourceAttributes(id, key, attributes));
        return hr;
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
        TIMED(method, id, real->GetStream(id, key, mode, optimal, stream));
        if (SUCCEEDED(hr) && stream != NULL && *stream != NULL) {
            *stream = WrapStream(*stream, device, id);
            if (*stream == NULL)
                hr = E_OUTOFMEMORY;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Delete(LPCWSTR id, IPortableDeviceKeyCollection *keys) override
    {
        REFUSE_UNLESS_WRITING(M_RES_DELETE, id);
        TIMED(M_RES_DELETE, id, real->Delete(id, keys));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        TIMED(M_RES_CANCEL, NULL, real->Cancel());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CreateResource(IPortableDeviceValues *attributes, IStream **data, DWORD *optimal,
                                             LPWSTR *cookie) override
    {
        (void)attributes;
        (void)optimal;
        (void)cookie;
        if (data != NULL)
            *data = NULL;
        return Refused(M_RES_CREATE, device, NULL);   // not even the write test adds resources
    }
};

class ProxyContent : public Proxy<IPortableDeviceContent> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Self(iid, IID_IPortableDeviceContent, out);
    }
    HRESULT STDMETHODCALLTYPE EnumObjects(const DWORD flags, LPCWSTR parentId, IPortableDeviceValues *filter,
                                          IEnumPortableDeviceObjectIDs **children) override
    {
        TIMED(M_CON_ENUM, parentId, real->EnumObjects(flags, parentId, filter, children));
        hr = Hand<ProxyEnum>(hr, children, device);
        if (SUCCEEDED(hr) && children != NULL && *children != NULL) {
            ProxyEnum *proxy = (ProxyEnum *)*children;
            lstrcpynW(proxy->parent, parentId != NULL ? parentId : L"", RECORD_OBJECT_CHARS);
            proxy->listing = record_ != NULL ? (int)(record_ - RecordAt(0)) : -1;
        }
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Properties(IPortableDeviceProperties **properties) override
    {
        TIMED(M_CON_PROPERTIES, NULL, real->Properties(properties));
        return Hand<ProxyProperties>(hr, properties, device);
    }
    HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources **resources) override
    {
        TIMED(M_CON_TRANSFER, NULL, real->Transfer(resources));
        return Hand<ProxyResources>(hr, resources, device);
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(IPortableDeviceValues *values, LPWSTR *id) override
    {
        REFUSE_UNLESS_WRITING(M_CON_CREATE_PROPERTIES, NULL);
        TIMED(M_CON_CREATE_PROPERTIES, NULL, real->CreateObjectWithPropertiesOnly(values, id));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(IPortableDeviceValues *values, IStream **data,
                                                                DWORD *optimal, LPWSTR *cookie) override
    {
        if (data != NULL)
            *data = NULL;
        REFUSE_UNLESS_WRITING(M_CON_CREATE_DATA, NULL);
        TIMED(M_CON_CREATE_DATA, NULL, real->CreateObjectWithPropertiesAndData(values, data, optimal, cookie));
        if (SUCCEEDED(hr) && data != NULL && *data != NULL) {
            *data = WrapStream(*data, device, NULL);
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
        TIMED(M_CON_DELETE, NULL, real->Delete(options, ids, results));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(IPortableDevicePropVariantCollection *unique,
                                                                  IPortableDevicePropVariantCollection **ids) override
    {
        TIMED(M_CON_FROM_UNIQUE_IDS, NULL, real->GetObjectIDsFromPersistentUniqueIDs(unique, ids));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        TIMED(M_CON_CANCEL, NULL, real->Cancel());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Move(IPortableDevicePropVariantCollection *ids, LPCWSTR target,
                                   IPortableDevicePropVariantCollection **results) override
    {
        REFUSE_UNLESS_WRITING(M_CON_MOVE, target);
        TIMED(M_CON_MOVE, target, real->Move(ids, target, results));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Copy(IPortableDevicePropVariantCollection *ids, LPCWSTR target,
                                   IPortableDevicePropVariantCollection **results) override
    {
        REFUSE_UNLESS_WRITING(M_CON_COPY, target);
        TIMED(M_CON_COPY, target, real->Copy(ids, target, results));
        return hr;
    }
};

class ProxyDevice : public Proxy<IPortableDevice> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Self(iid, IID_IPortableDevice, out);
    }
    HRESULT STDMETHODCALLTYPE Open(LPCWSTR pnpId, IPortableDeviceValues *clientInfo) override
    {
        device = DeviceIndex(pnpId);
        TIMED(M_DEV_OPEN, pnpId, real->Open(pnpId, clientInfo));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SendCommand(const DWORD flags, IPortableDeviceValues *parameters,
                                          IPortableDeviceValues **results) override
    {
        if (results != NULL)
            *results = NULL;
        REFUSE_UNLESS_WRITING(M_DEV_SEND_COMMAND, NULL);   // a raw command may change anything
        TIMED(M_DEV_SEND_COMMAND, NULL, real->SendCommand(flags, parameters, results));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Content(IPortableDeviceContent **content) override
    {
        TIMED(M_DEV_CONTENT, NULL, real->Content(content));
        return Hand<ProxyContent>(hr, content, device);
    }
    HRESULT STDMETHODCALLTYPE Capabilities(IPortableDeviceCapabilities **capabilities) override
    {
        TIMED(M_DEV_CAPABILITIES, NULL, real->Capabilities(capabilities));   // queries only
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        TIMED(M_DEV_CANCEL, NULL, real->Cancel());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Close() override
    {
        TIMED(M_DEV_CLOSE, NULL, real->Close());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Advise(const DWORD flags, IPortableDeviceEventCallback *callback,
                                     IPortableDeviceValues *parameters, LPWSTR *cookie) override
    {
        TIMED(M_DEV_ADVISE, NULL, real->Advise(flags, callback, parameters, cookie));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Unadvise(LPCWSTR cookie) override
    {
        TIMED(M_DEV_UNADVISE, NULL, real->Unadvise(cookie));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetPnPDeviceID(LPWSTR *pnpId) override
    {
        TIMED(M_DEV_PNP_ID, NULL, real->GetPnPDeviceID(pnpId));
        return hr;
    }
};

class ProxyManager : public Proxy<IPortableDeviceManager> {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        return Self(iid, IID_IPortableDeviceManager, out);
    }
    HRESULT STDMETHODCALLTYPE GetDevices(LPWSTR *ids, DWORD *count) override
    {
        TIMED(M_MGR_GET_DEVICES, NULL, real->GetDevices(ids, count));
        if (record_ != NULL && count != NULL)
            record_->detail = *count;
        return hr;
    }
    HRESULT STDMETHODCALLTYPE RefreshDeviceList() override
    {
        TIMED(M_MGR_REFRESH, NULL, real->RefreshDeviceList());
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceFriendlyName(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        TIMED(M_MGR_FRIENDLY_NAME, pnpId, real->GetDeviceFriendlyName(pnpId, text, chars));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceDescription(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        TIMED(M_MGR_DESCRIPTION, pnpId, real->GetDeviceDescription(pnpId, text, chars));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceManufacturer(LPCWSTR pnpId, WCHAR *text, DWORD *chars) override
    {
        TIMED(M_MGR_MANUFACTURER, pnpId, real->GetDeviceManufacturer(pnpId, text, chars));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetDeviceProperty(LPCWSTR pnpId, LPCWSTR name, BYTE *data, DWORD *bytes,
                                                DWORD *type) override
    {
        TIMED(M_MGR_PROPERTY, pnpId, real->GetDeviceProperty(pnpId, name, data, bytes, type));
        return hr;
    }
    HRESULT STDMETHODCALLTYPE GetPrivateDevices(LPWSTR *ids, DWORD *count) override
    {
        TIMED(M_MGR_PRIVATE, NULL, real->GetPrivateDevices(ids, count));
        return hr;
    }
};

}  // namespace

IPortableDeviceManager *WrapManager(IPortableDeviceManager *real)
{
    return Wrap<ProxyManager>(real, -1);
}

IPortableDevice *WrapDevice(IPortableDevice *real)
{
    return Wrap<ProxyDevice>(real, -1);
}
