// IEnumPortableDeviceObjectIDs: a snapshot of a folder's children handed out in order.
#include "devsim_internal.h"

namespace {
class SimEnumerator : public SimCom<IEnumPortableDeviceObjectIDs> {
public:
    std::wstring parentId;
    std::vector<std::wstring> ids;
    size_t position = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IEnumPortableDeviceObjectIDs))
            return Answer(static_cast<IEnumPortableDeviceObjectIDs *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    // Counted per parent id. S_OK when the full count came, S_FALSE with fewer (0 at the end).
    HRESULT STDMETHODCALLTYPE Next(ULONG count, LPWSTR *objectIds, ULONG *fetched) override
    {
        HRESULT hr = SimCall("IEnumPortableDeviceObjectIDs::Next", parentId.c_str());
        if (FAILED(hr)) return hr;
        if (!objectIds && count) return E_POINTER;
        if (!fetched && count != 1) return E_INVALIDARG;
        DevsimLock lock;
        ULONG done = 0;
        while (done < count && position < ids.size()) {
            size_t bytes = (ids[position].size() + 1) * sizeof(WCHAR);
            objectIds[done] = (LPWSTR)CoTaskMemAlloc(bytes);
            if (!objectIds[done]) {
                for (ULONG i = 0; i < done; i++) CoTaskMemFree(objectIds[i]);
                return E_OUTOFMEMORY;
            }
            memcpy(objectIds[done], ids[position].c_str(), bytes);
            done++;
            position++;
        }
        if (fetched) *fetched = done;
        return done == count ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Skip(ULONG count) override
    {
        HRESULT hr = SimCall("IEnumPortableDeviceObjectIDs::Skip", parentId.c_str());
        if (FAILED(hr)) return hr;
        DevsimLock lock;
        size_t left = ids.size() - position;
        position += (count < left) ? count : left;
        return count <= left ? S_OK : S_FALSE;
    }
    HRESULT STDMETHODCALLTYPE Reset() override
    {
        HRESULT hr = SimCall("IEnumPortableDeviceObjectIDs::Reset", parentId.c_str());
        if (FAILED(hr)) return hr;
        position = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IEnumPortableDeviceObjectIDs **enumerator) override
    {
        HRESULT hr = SimCall("IEnumPortableDeviceObjectIDs::Clone", parentId.c_str());
        if (FAILED(hr)) return hr;
        if (!enumerator) return E_POINTER;
        *enumerator = SimNewEnumerator(parentId, ids, position);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        HRESULT hr = SimCall("IEnumPortableDeviceObjectIDs::Cancel", parentId.c_str());
        return FAILED(hr) ? hr : S_OK;
    }
};
}  // namespace

IEnumPortableDeviceObjectIDs *SimNewEnumerator(const std::wstring &parentId, const std::vector<std::wstring> &ids,
                                               size_t position)
{
    SimEnumerator *e = new SimEnumerator;
    e->parentId = parentId;
    e->ids = ids;
    e->position = position;
    return e;
}
