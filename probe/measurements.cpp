// What a real phone has to show to settle the device model: a property cache, bulk reads
// against single reads, the codes for missing names and types, and a listing's cost.
#include "probe/probe.h"

enum { MAX_CHILDREN = 50, BULK_WAIT_MS = 30000 };

static WCHAR Children[MAX_CHILDREN][DEV_PATH_CHARS];

// Waits for a bulk reply: counts what arrives and which of the listed children are in it.
class BulkWaiter : public IPortableDevicePropertiesBulkCallback {
public:
    HANDLE done;
    LONG entries;
    int seen[MAX_CHILDREN];
    int expected;
    int sawParent;
    LPCWSTR parent;
    HRESULT status;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (out == NULL)
            return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDevicePropertiesBulkCallback)) {
            *out = this;
            return S_OK;
        }
        *out = NULL;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }   // static: outlives any reply
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE OnStart(REFGUID) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnProgress(REFGUID, IPortableDeviceValuesCollection *results) override
    {
        DWORD count = 0;
        if (results == NULL || FAILED(results->GetCount(&count)))
            return S_OK;
        for (DWORD i = 0; i < count; i++) {
            IPortableDeviceValues *values = NULL;
            LPWSTR id = NULL;
            if (SUCCEEDED(results->GetAt(i, &values)) && SUCCEEDED(values->GetStringValue(WPD_OBJECT_ID, &id))) {
                entries++;
                sawParent |= lstrcmpW(id, parent) == 0;
                for (int c = 0; c < expected; c++)
                    seen[c] |= lstrcmpW(id, Children[c]) == 0;
            }
            CoTaskMemFree(id);
            if (values != NULL)
                values->Release();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEnd(REFGUID, HRESULT result) override
    {
        status = result;
        SetEvent(done);
        return S_OK;
    }
    int Complete(void)
    {
        for (int c = 0; c < expected; c++)
            if (!seen[c])
                return 0;
        return 1;
    }
};
static BulkWaiter Waiter;

static HRESULT MakeKeys(const PROPERTYKEY *keys, int count, IPortableDeviceKeyCollection **out)
{
    HRESULT hr = CoCreateInstance(CLSID_PortableDeviceKeyCollection, NULL, CLSCTX_INPROC_SERVER,
                                  IID_IPortableDeviceKeyCollection, (void **)out);
    for (int i = 0; SUCCEEDED(hr) && i < count; i++)
        hr = (*out)->Add(keys[i]);
    return hr;
}

// One GetValues, timed; the answer is dropped.
static DWORD TimedRead(IPortableDeviceProperties *properties, LPCWSTR id, IPortableDeviceKeyCollection *keys)
{
    IPortableDeviceValues *values = NULL;
    LONGLONG start = Now();
    if (SUCCEEDED(properties->GetValues(id, keys, &values)))
        values->Release();
    return MicroSince(start);
}

// Starts a queued bulk request and waits for its end, cancelling it after the wait runs out.
static HRESULT RunBulk(IPortableDevicePropertiesBulk *bulk, HRESULT queued, const GUID &context, DWORD *micro)
{
    LONGLONG start = Now();
    HRESULT hr = queued;
    if (SUCCEEDED(hr))
        hr = bulk->Start(context);
    if (SUCCEEDED(hr) && WaitForSingleObject(Waiter.done, BULK_WAIT_MS) != WAIT_OBJECT_0) {
        bulk->Cancel(context);
        WaitForSingleObject(Waiter.done, 5000);
        hr = HRESULT_FROM_WIN32(ERROR_TIMEOUT);
    }
    *micro = MicroSince(start);
    return SUCCEEDED(hr) ? Waiter.status : hr;
}

static void ResetWaiter(LPCWSTR parent, int expected)
{
    ResetEvent(Waiter.done);
    Waiter.entries = 0;
    ZeroMemory(Waiter.seen, sizeof Waiter.seen);
    Waiter.expected = expected;
    Waiter.sawParent = 0;
    Waiter.parent = parent;
    Waiter.status = E_PENDING;
}

static void MeasureBulk(IPortableDeviceProperties *properties, LPCWSTR folder, int children, MeasureFacts *m)
{
    const PROPERTYKEY keys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_PARENT_ID };
    IPortableDevicePropertiesBulk *bulk = NULL;
    IPortableDeviceKeyCollection *wanted = NULL;
    IPortableDevicePropVariantCollection *ids = NULL;
    m->bulkQi = properties->QueryInterface(IID_IPortableDevicePropertiesBulk, (void **)&bulk);
    if (FAILED(m->bulkQi)) {
        Out("bulk: not available (QueryInterface answered %s)\r\n", HrText(m->bulkQi));
        return;
    }
    m->bulkAvailable = 1;
    if (Waiter.done == NULL)
        Waiter.done = CreateEventA(NULL, TRUE, FALSE, NULL);
    HRESULT hr = Waiter.done != NULL ? MakeKeys(keys, 3, &wanted) : E_OUTOFMEMORY;
    if (SUCCEEDED(hr))
        hr = CoCreateInstance(CLSID_PortableDevicePropVariantCollection, NULL, CLSCTX_INPROC_SERVER,
                              IID_IPortableDevicePropVariantCollection, (void **)&ids);
    for (int c = 0; SUCCEEDED(hr) && c < children; c++) {
        PROPVARIANT id;
        PropVariantInit(&id);
        id.vt = VT_LPWSTR;
        id.pwszVal = Children[c];
        hr = ids->Add(&id);   // the collection keeps its own copy
    }
    GUID context;
    DWORD micro = 0;
    if (SUCCEEDED(hr)) {
        ResetWaiter(folder, children);
        hr = RunBulk(bulk, bulk->QueueGetValuesByObjectList(ids, wanted, &Waiter, &context), context, &micro);
        m->bulkMicro = micro;
        m->bulkComplete = SUCCEEDED(hr) && Waiter.Complete();
        Out("bulk by list: %ld values sets for %d children, complete: %s, %s ms, end %s\r\n", Waiter.entries, children,
            m->bulkComplete ? "yes" : "no", Ms(micro), HrText(hr));
        ResetWaiter(folder, children);
        hr = RunBulk(bulk, bulk->QueueGetValuesByObjectFormat(WPD_OBJECT_FORMAT_ALL, folder, 1, wanted, &Waiter,
                                                              &context),
                     context, &micro);
        Out("bulk by format, depth 1: %ld values sets, folder itself included: %s, listed children all in: %s, "
            "%s ms, end %s\r\n",
            Waiter.entries, Waiter.sawParent ? "yes" : "no", Waiter.Complete() ? "yes" : "no", Ms(micro), HrText(hr));
    } else {
        Out("bulk: could not be asked (%s)\r\n", HrText(hr));
    }
    if (ids != NULL)
        ids->Release();
    if (wanted != NULL)
        wanted->Release();
    bulk->Release();
}

// What the device answers for the file name and the type of one object; for the name: S_OK
// when it gave one, S_FALSE when the reply left it out, else the code it gave instead.
static HRESULT CodeLine(IPortableDeviceProperties *properties, LPCWSTR id, const char *label)
{
    const PROPERTYKEY keys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE };
    IPortableDeviceKeyCollection *wanted = NULL;
    IPortableDeviceValues *values = NULL;
    char text[2][48];
    HRESULT nameCode = S_OK;
    HRESULT hr = MakeKeys(keys, 2, &wanted);
    if (SUCCEEDED(hr))
        hr = properties->GetValues(id, wanted, &values);
    for (int k = 0; k < 2; k++) {
        PROPVARIANT value;
        HRESULT code = hr;
        PropVariantInit(&value);
        if (SUCCEEDED(hr))
            code = FAILED(values->GetValue(keys[k], &value)) ? S_FALSE : value.vt == VT_ERROR ? value.scode : S_OK;
        lstrcpyA(text[k], code == S_FALSE ? "absent from the reply" : code == S_OK ? "present" : HrText(code));
        if (k == 0)
            nameCode = code;
        PropVariantClear(&value);
    }
    Out("codes %s: WPD_OBJECT_ORIGINAL_FILE_NAME %s, WPD_OBJECT_CONTENT_TYPE %s\r\n", label, text[0], text[1]);
    if (values != NULL)
        values->Release();
    if (wanted != NULL)
        wanted->Release();
    return nameCode;
}

// The largest folder the walk listed on the device, "" when it listed none.
static void LargestListing(int device, WCHAR *folder)
{
    DWORD most = 0;
    folder[0] = '\0';
    for (int i = 0; i < RecordCount(); i++) {
        CallRecord *r = RecordAt(i);
        if ((r->phase == PHASE_DISCOVERY || r->phase == PHASE_READ) && r->method == M_CON_ENUM && r->device == device &&
            SUCCEEDED(r->hr) && r->detail > most && lstrlenA(r->object) < RECORD_OBJECT_CHARS - 1) {
            most = r->detail;
            MultiByteToWideChar(CP_UTF8, 0, r->object, -1, folder, DEV_PATH_CHARS);
        }
    }
}

void ReportMeasurements(const WalkFacts *walk, MeasureFacts *m)
{
    const PROPERTYKEY nameAndType[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE };
    const PROPERTYKEY readKeys[] = { WPD_OBJECT_ORIGINAL_FILE_NAME, WPD_OBJECT_CONTENT_TYPE, WPD_OBJECT_PARENT_ID };
    IPortableDevice *device = NULL;
    IPortableDeviceContent *content = NULL;
    IPortableDeviceProperties *properties = NULL;
    IPortableDeviceKeyCollection *first = NULL, *second = NULL, *reads = NULL;
    IEnumPortableDeviceObjectIDs *listing = NULL;
    WCHAR folder[DEV_PATH_CHARS], storage[DEV_PATH_CHARS] = L"";
    char utf8[DEV_PATH_CHARS * 3];
    int kept = 0;
    LONGLONG started = Now();
    OutSection("Measurements");
    CurrentPhase = PHASE_MEASURE;
    ZeroMemory(m, sizeof *m);
    if (walk->device < 0) {
        Out("measurements: none, no device was opened\r\n");
        return;
    }
    HRESULT hr = OpenReadOnly(DeviceId(walk->device), &device);
    if (SUCCEEDED(hr))
        hr = device->Content(&content);
    if (SUCCEEDED(hr))
        hr = content->Properties(&properties);
    if (SUCCEEDED(hr))
        hr = MakeKeys(nameAndType, 2, &first);
    if (SUCCEEDED(hr))
        hr = MakeKeys(&WPD_OBJECT_SIZE, 1, &second);
    if (SUCCEEDED(hr))
        hr = MakeKeys(readKeys, 3, &reads);
    if (FAILED(hr)) {
        Out("measurements: none, the device could not be opened for reading (%s)\r\n", HrText(hr));
        goto cleanup;
    }
    m->done = 1;
    LargestListing(walk->device, folder);
    if (folder[0] == '\0')
        lstrcpyW(folder, WPD_DEVICE_OBJECT_ID);

    // One listing, its time against its size; the first children are kept for the reads.
    {
        LONGLONG start = Now();
        hr = content->EnumObjects(0, folder, NULL, &listing);
        LPWSTR child = NULL;
        while (SUCCEEDED(hr) && DevNextChild(listing, &child) == S_OK) {
            if (m->listed < MAX_CHILDREN)
                lstrcpynW(Children[m->listed], child, DEV_PATH_CHARS);
            m->listed++;
            CoTaskMemFree(child);
        }
        m->listingMicro = MicroSince(start);
        Out("listing: %s, %d children in %s ms, %s ms per child\r\n", Utf8(folder, utf8, sizeof utf8), m->listed,
            Ms(m->listingMicro), Ms(m->listed > 0 ? m->listingMicro / m->listed : 0));
    }
    kept = m->listed < MAX_CHILDREN ? m->listed : MAX_CHILDREN;

    // A second read of another key on an object already read.
    {
        LPCWSTR object = walk->folderId[0] != '\0' ? walk->folderId : kept > 0 ? Children[0] : folder;
        m->firstReadMicro = TimedRead(properties, object, first);
        m->secondReadMicro = TimedRead(properties, object, second);
        const char *cached = m->firstReadMicro < 1000 ? "unclear, the first read took under 1 ms"
                             : m->secondReadMicro * 4 < m->firstReadMicro ? "yes"
                             : m->secondReadMicro * 2 >= m->firstReadMicro ? "no"
                                                                           : "unclear";
        Out("second read: %s, first %s ms, second (another key) %s ms, cached: %s\r\n", Utf8(object, utf8, sizeof utf8),
            Ms(m->firstReadMicro), Ms(m->secondReadMicro), cached);
    }

    // Single reads of the kept children, then the same through bulk reads.
    {
        LONGLONG start = Now();
        for (int c = 0; c < kept; c++)
            TimedRead(properties, Children[c], reads);
        m->singles = kept;
        m->singlesMicro = MicroSince(start);
        Out("single reads: %d children in %s ms\r\n", kept, Ms(m->singlesMicro));
        MeasureBulk(properties, folder, kept, m);
    }

    // The codes for a missing name or type on DEVICE, a storage and a folder.
    {
        IEnumPortableDeviceObjectIDs *storages = NULL;
        LPWSTR id = NULL;
        if (SUCCEEDED(content->EnumObjects(0, WPD_DEVICE_OBJECT_ID, NULL, &storages))) {
            if (DevNextChild(storages, &id) == S_OK)
                lstrcpynW(storage, id, DEV_PATH_CHARS);
            CoTaskMemFree(id);
            storages->Release();
        }
        CodeLine(properties, WPD_DEVICE_OBJECT_ID, "DEVICE");
        m->storageNameCode = storage[0] ? CodeLine(properties, storage, "storage") : E_PENDING;   // none to ask
        CodeLine(properties, walk->folderId[0] != '\0' ? walk->folderId : folder, "folder");
    }

cleanup:
    if (listing != NULL)
        listing->Release();
    if (reads != NULL)
        reads->Release();
    if (second != NULL)
        second->Release();
    if (first != NULL)
        first->Release();
    if (properties != NULL)
        properties->Release();
    if (content != NULL)
        content->Release();
    if (device != NULL) {
        device->Close();
        device->Release();
    }
    m->measureMicro = MicroSince(started);
    Out("measurement time: %s ms\r\n", Ms(m->measureMicro));
}
