// IPortableDevicePropertiesBulk and the values collection its replies come in. A queued
// request does nothing until Start; the reply then comes from a thread of its own, in
// batches and not in the device's order, as the platform delivers it.
#include "devsim_internal.h"

namespace {

enum { BATCH = 16 };

class SimValuesCollection : public SimCom<IPortableDeviceValuesCollection> {
public:
    std::vector<IPortableDeviceValues *> items;   // one reference each

    ~SimValuesCollection() override { Clear(); }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceValuesCollection))
            return Answer(static_cast<IPortableDeviceValuesCollection *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE GetCount(DWORD *count) override
    {
        if (!count) return E_POINTER;
        *count = (DWORD)items.size();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetAt(DWORD index, IPortableDeviceValues **values) override
    {
        if (!values) return E_POINTER;
        *values = nullptr;
        if (index >= items.size()) return E_INVALIDARG;
        *values = items[index];
        (*values)->AddRef();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Add(IPortableDeviceValues *values) override
    {
        if (!values) return E_POINTER;
        values->AddRef();
        items.push_back(values);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clear() override
    {
        for (IPortableDeviceValues *v : items) v->Release();
        items.clear();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE RemoveAt(const DWORD index) override
    {
        if (index >= items.size()) return E_INVALIDARG;
        items[index]->Release();
        items.erase(items.begin() + index);
        return S_OK;
    }
};

// One queued request: the objects and keys asked, and the client's callback (one reference).
struct BulkRequest {
    GUID context{};
    int device = -1;
    std::vector<int> objects;
    bool allKeys = false;
    std::vector<PROPERTYKEY> keys;
    IPortableDevicePropertiesBulkCallback *callback = nullptr;
    volatile LONG cancelled = 0;
};

class SimBulk;
struct Running {
    SimBulk *bulk;
    BulkRequest *request;
};

class SimBulk : public SimCom<IPortableDevicePropertiesBulk> {
public:
    int device = -1;
    std::vector<BulkRequest *> queued, running;   // guarded by DevsimLock

    ~SimBulk() override
    {
        for (BulkRequest *r : queued) {
            r->callback->Release();
            delete r;
        }
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDevicePropertiesBulk))
            return Answer(static_cast<IPortableDevicePropertiesBulk *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT Queue(BulkRequest *request, IPortableDeviceKeyCollection *keys,
                  IPortableDevicePropertiesBulkCallback *callback, GUID *context)
    {
        if (!callback || !context || (keys && !SimReadKeys(keys, &request->keys))) {
            delete request;
            return !callback || !context ? E_POINTER : E_INVALIDARG;
        }
        request->allKeys = keys == nullptr;
        request->device = device;
        CoCreateGuid(&request->context);
        *context = request->context;
        request->callback = callback;
        callback->AddRef();
        DevsimLock lock;
        queued.push_back(request);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectList(IPortableDevicePropVariantCollection *objectIds,
                                                         IPortableDeviceKeyCollection *keys,
                                                         IPortableDevicePropertiesBulkCallback *callback,
                                                         GUID *context) override
    {
        HRESULT hr = SimCall("IPortableDevicePropertiesBulk::QueueGetValuesByObjectList");
        if (FAILED(hr)) return hr;
        std::vector<SimValue> ids;
        if (!objectIds || !SimReadPropVariants(objectIds, &ids)) return E_INVALIDARG;
        BulkRequest *request = new BulkRequest;
        {
            DevsimLock lock;
            for (const SimValue &id : ids) {
                int object = id.type == VT_LPWSTR ? SimObjectNumber(device, id.text) : -1;
                if (object >= 0) request->objects.push_back(object);
            }
        }
        return Queue(request, keys, callback, context);
    }

    // Depth 1 gives the folder and its children; any other depth everything below the folder.
    HRESULT STDMETHODCALLTYPE QueueGetValuesByObjectFormat(REFGUID format, LPCWSTR parentId, DWORD depth,
                                                           IPortableDeviceKeyCollection *keys,
                                                           IPortableDevicePropertiesBulkCallback *callback,
                                                           GUID *context) override
    {
        HRESULT hr = SimCall("IPortableDevicePropertiesBulk::QueueGetValuesByObjectFormat", parentId);
        if (FAILED(hr)) return hr;
        if (!parentId) return E_POINTER;
        BulkRequest *request = new BulkRequest;
        {
            DevsimLock lock;
            int parent = SimObjectNumber(device, parentId);
            if (parent < 0) {
                delete request;
                return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            }
            bool all = IsEqualGUID(format, WPD_OBJECT_FORMAT_ALL);
            std::vector<int> pending = DevsimChildren(device, parent);
            if (depth == 1) request->objects.push_back(parent);
            while (!pending.empty()) {
                int object = pending.back();
                pending.pop_back();
                const SimObject *o = SimFindObject(device, object);
                if (all || (o->hasFormat && IsEqualGUID(o->format, format))) request->objects.push_back(object);
                if (depth != 1)
                    for (int c : DevsimChildren(device, object)) pending.push_back(c);
            }
        }
        return Queue(request, keys, callback, context);
    }

    HRESULT STDMETHODCALLTYPE QueueSetValuesByObjectList(IPortableDeviceValuesCollection *,
                                                         IPortableDevicePropertiesBulkCallback *, GUID *) override
    {
        HRESULT hr = SimCall("IPortableDevicePropertiesBulk::QueueSetValuesByObjectList");
        return FAILED(hr) ? hr : E_NOTIMPL;
    }

    static DWORD WINAPI Reply(void *parameter);

    HRESULT STDMETHODCALLTYPE Start(REFGUID context) override
    {
        HRESULT hr = SimCall("IPortableDevicePropertiesBulk::Start");
        if (FAILED(hr)) return hr;
        BulkRequest *request = nullptr;
        {
            DevsimLock lock;
            for (size_t i = 0; i < queued.size() && !request; i++)
                if (IsEqualGUID(queued[i]->context, context)) {
                    request = queued[i];
                    queued.erase(queued.begin() + i);
                    running.push_back(request);
                }
        }
        if (!request) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        AddRef();   // the reply thread's, given back before OnEnd
        Running *job = new Running{this, request};
        HANDLE thread = CreateThread(nullptr, 0, Reply, job, 0, nullptr);
        if (!thread) {
            delete job;
            Finish(request);
            request->callback->Release();
            delete request;
            Release();
            return E_OUTOFMEMORY;
        }
        CloseHandle(thread);
        return S_OK;
    }

    HRESULT STDMETHODCALLTYPE Cancel(REFGUID context) override
    {
        HRESULT hr = SimCall("IPortableDevicePropertiesBulk::Cancel");
        if (FAILED(hr)) return hr;
        DevsimLock lock;
        for (BulkRequest *r : running)
            if (IsEqualGUID(r->context, context)) InterlockedExchange(&r->cancelled, 1);
        return S_OK;
    }

    void Finish(BulkRequest *request)
    {
        DevsimLock lock;
        for (size_t i = 0; i < running.size(); i++)
            if (running[i] == request) running.erase(running.begin() + i--);
    }
};

// The reply: the values read at once, then delivered last object first in batches, each
// batch one request to the device. Every devsim object is released before OnEnd.
DWORD WINAPI SimBulk::Reply(void *parameter)
{
    Running *job = (Running *)parameter;
    BulkRequest *request = job->request;
    SimBulk *bulk = job->bulk;
    delete job;
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    std::vector<SimValueList> replies;
    {
        DevsimLock lock;
        for (size_t i = request->objects.size(); i-- > 0;) {
            SimValueList all = SimObjectProperties(request->device, request->objects[i]), answer;
            for (const auto &entry : all) {
                bool take = request->allKeys || SimKeyEqual(entry.first, DEVSIM_WPD_OBJECT_ID);
                for (const PROPERTYKEY &k : request->keys) take = take || SimKeyEqual(k, entry.first);
                if (take) answer.push_back(entry);
            }
            replies.push_back(answer);
        }
    }
    IPortableDevicePropertiesBulkCallback *callback = request->callback;
    HRESULT status = callback->OnStart(request->context);
    for (size_t at = 0; SUCCEEDED(status) && at < replies.size(); at += BATCH) {
        if (request->cancelled) {
            status = HRESULT_FROM_WIN32(ERROR_CANCELLED);
            break;
        }
        SimWaitLatency();
        std::vector<IPortableDeviceValues *> batch;
        for (size_t i = at; i < replies.size() && i < at + BATCH; i++) batch.push_back(SimNewValues(replies[i]));
        IPortableDeviceValuesCollection *results = SimNewValuesCollection(batch);
        for (IPortableDeviceValues *v : batch) v->Release();
        status = callback->OnProgress(request->context, results);
        results->Release();
    }
    bulk->Finish(request);
    bulk->Release();
    GUID context = request->context;
    delete request;
    callback->OnEnd(context, SUCCEEDED(status) ? S_OK : status);
    callback->Release();
    CoUninitialize();
    return 0;
}

}  // namespace

IPortableDevicePropertiesBulk *SimNewBulk(int device)
{
    SimBulk *bulk = new SimBulk;
    bulk->device = device;
    return bulk;
}

IPortableDeviceValuesCollection *SimNewValuesCollection(const std::vector<IPortableDeviceValues *> &items)
{
    SimValuesCollection *collection = new SimValuesCollection;
    for (IPortableDeviceValues *v : items) collection->Add(v);
    return collection;
}
