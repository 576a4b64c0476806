// IPortableDeviceContent: enumeration, the property and transfer services, creation of new
// objects through a stream, and deletion.
#include "devsim_internal.h"

namespace {
HRESULT NotImplemented(const char *method)
{
    HRESULT hr = SimCall(method);
    return FAILED(hr) ? hr : E_NOTIMPL;
}

class SimContent : public SimCom<IPortableDeviceContent> {
public:
    int device = -1;
    bool readOnly = false;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPortableDeviceContent))
            return Answer(static_cast<IPortableDeviceContent *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // The enumerator holds a snapshot of the live direct children, in device order. A listing
    // the device refuses is still a request that reached it.
    HRESULT STDMETHODCALLTYPE EnumObjects(const DWORD, LPCWSTR parentId, IPortableDeviceValues *,
                                          IEnumPortableDeviceObjectIDs **enumerator) override
    {
        HRESULT hr = SimCall("IPortableDeviceContent::EnumObjects", parentId);
        if (FAILED(hr)) return hr;
        if (!parentId || !enumerator) return E_POINTER;
        DevsimLock lock;
        int parent = SimObjectNumber(device, parentId);
        if (parent < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        hr = SimListingRefusal(device, parent);
        if (FAILED(hr)) return hr;
        std::vector<std::wstring> ids;
        for (int c : DevsimChildren(device, parent)) ids.push_back(SimIdOf(device, c));
        *enumerator = SimNewEnumerator(parentId, ids, 0);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Properties(IPortableDeviceProperties **properties) override
    {
        HRESULT hr = SimCall("IPortableDeviceContent::Properties");
        if (FAILED(hr)) return hr;
        if (!properties) return E_POINTER;
        *properties = SimNewProperties(device, readOnly);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Transfer(IPortableDeviceResources **resources) override
    {
        HRESULT hr = SimCall("IPortableDeviceContent::Transfer");
        if (FAILED(hr)) return hr;
        if (!resources) return E_POINTER;
        *resources = SimNewResources(device);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesOnly(IPortableDeviceValues *, LPWSTR *) override
    {
        return NotImplemented("IPortableDeviceContent::CreateObjectWithPropertiesOnly");
    }

    // Counted per parent id. The object appears only when the stream is committed, or at once,
    // as a phantom, on a device that leaves phantoms.
    HRESULT STDMETHODCALLTYPE CreateObjectWithPropertiesAndData(IPortableDeviceValues *values, IStream **data,
                                                                DWORD *optimalBufferSize, LPWSTR *) override
    {
        SimValueList list;
        bool ours = SimReadValues(values, &list);
        std::wstring parentId;
        for (const auto &entry : list)
            if (SimKeyEqual(entry.first, WPD_OBJECT_PARENT_ID) && entry.second.type == VT_LPWSTR)
                parentId = entry.second.text;
        HRESULT hr = SimCall("IPortableDeviceContent::CreateObjectWithPropertiesAndData",
                             parentId.empty() ? nullptr : parentId.c_str());
        if (FAILED(hr)) return hr;

        std::vector<DevsimProperty> record;
        SimUpload upload;
        upload.device = device;
        upload.parentId = parentId;
        upload.object.mtpOwned = true;   // made over MTP: the phone's MTP service owns it, not the app
        for (const auto &entry : list) {
            const SimValue &v = entry.second;
            DevsimProperty p{};
            p.key = entry.first;
            p.type = v.type;
            p.text = v.text;
            p.number = v.number;
            p.guid = v.guid;
            record.push_back(p);
            if (SimKeyEqual(entry.first, WPD_OBJECT_ORIGINAL_FILE_NAME) && v.type == VT_LPWSTR) {
                upload.object.hasName = true;
                upload.object.name = v.text;
            } else if (SimKeyEqual(entry.first, WPD_OBJECT_NAME) && v.type == VT_LPWSTR) {
                upload.object.title = v.text;
            } else if (SimKeyEqual(entry.first, WPD_OBJECT_CONTENT_TYPE) && v.type == VT_CLSID) {
                upload.object.hasType = true;
                upload.object.type = v.guid;
            } else if (SimKeyEqual(entry.first, WPD_OBJECT_FORMAT) && v.type == VT_CLSID) {
                upload.object.hasFormat = true;
                upload.object.format = v.guid;
            } else if (SimKeyEqual(entry.first, WPD_OBJECT_SIZE) && (v.type == VT_UI8 || v.type == VT_UI4)) {
                upload.hasSize = true;
                upload.size = v.number;
            }
        }
        SimRecordCreate(record);

        if (!values || !data) return E_POINTER;
        if (!ours) return E_INVALIDARG;
        if (readOnly) return E_ACCESSDENIED;
        if (parentId.empty()) return E_INVALIDARG;
        DevsimLock lock;
        SimDevice *d = SimFindDevice(device);
        if (!d) return E_UNEXPECTED;
        int parent = SimObjectNumber(device, parentId);
        if (parent < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        if (d->phantoms) {
            for (int c : DevsimChildren(device, parent)) {
                const SimObject &o = d->objects[c];
                if (upload.object.hasName && o.hasName && o.name == upload.object.name)
                    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
            }
            upload.phantom = SimAddPhantom(device, parent, upload.object);
            if (upload.phantom < 0) return E_UNEXPECTED;
            SimAfterMutation();
        }
        if (optimalBufferSize) *optimalBufferSize = d->writeSize;
        *data = SimNewUploadStream(upload);
        return S_OK;
    }

    // Counted per the first id in the collection. Every id is checked before any is deleted;
    // a phantom cannot be deleted.
    HRESULT STDMETHODCALLTYPE Delete(const DWORD options, IPortableDevicePropVariantCollection *objectIds,
                                     IPortableDevicePropVariantCollection **results) override
    {
        std::vector<SimValue> items;
        bool ours = SimReadPropVariants(objectIds, &items);
        const wchar_t *first = (!items.empty() && items[0].type == VT_LPWSTR) ? items[0].text.c_str() : nullptr;
        HRESULT after = S_OK;
        HRESULT hr = SimCall("IPortableDeviceContent::Delete", first, &after);
        if (FAILED(hr)) return hr;
        if (!objectIds) return E_POINTER;
        if (!ours) return E_INVALIDARG;
        if (readOnly) return E_ACCESSDENIED;

        DevsimLock lock;
        SimDevice *d = SimFindDevice(device);
        if (!d) return E_UNEXPECTED;
        std::vector<int> targets;
        for (const SimValue &v : items) {
            if (v.type != VT_LPWSTR) return E_INVALIDARG;
            int number = SimObjectNumber(device, v.text);
            if (number < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
            if (SimIsLivePhantom(device, number)) return HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
            if (options == PORTABLE_DEVICE_DELETE_NO_RECURSION && SimHasLiveChildren(device, number))
                return HRESULT_FROM_WIN32(ERROR_INVALID_OPERATION);
            targets.push_back(number);
        }
        std::vector<SimValue> outcome;
        bool allDeleted = true;
        for (int number : targets) {
            SimValue v;
            v.type = VT_ERROR;
            if (d->deleteRefused || number == DEVSIM_ROOT) {
                allDeleted = false;
                v.number = (ULONGLONG)(LONGLONG)E_ACCESSDENIED;
            } else {
                SimMarkDeleted(device, number);
            }
            outcome.push_back(v);
        }
        SimAfterMutation();
        if (FAILED(after)) return after;   // deleted, then the answer was lost
        if (results) *results = SimNewPropVariantCollection(outcome);
        return allDeleted ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE GetObjectIDsFromPersistentUniqueIDs(IPortableDevicePropVariantCollection *,
                                                                  IPortableDevicePropVariantCollection **) override
    {
        return NotImplemented("IPortableDeviceContent::GetObjectIDsFromPersistentUniqueIDs");
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        HRESULT hr = SimCall("IPortableDeviceContent::Cancel");
        return FAILED(hr) ? hr : S_OK;
    }
    HRESULT STDMETHODCALLTYPE Move(IPortableDevicePropVariantCollection *, LPCWSTR,
                                   IPortableDevicePropVariantCollection **) override
    {
        return NotImplemented("IPortableDeviceContent::Move");
    }
    HRESULT STDMETHODCALLTYPE Copy(IPortableDevicePropVariantCollection *, LPCWSTR,
                                   IPortableDevicePropVariantCollection **) override
    {
        return NotImplemented("IPortableDeviceContent::Copy");
    }
};
}  // namespace

IPortableDeviceContent *SimNewContent(int device, bool readOnly)
{
    SimContent *c = new SimContent;
    c->device = device;
    c->readOnly = readOnly;
    return c;
}
