// The data streams: downloads read a snapshot of an object's data; uploads collect the
// bytes of a new object, which comes into being (or, on a device that leaves phantoms, is
// filled) at Commit, the way an MTP SendObject ends.
#include "devsim_internal.h"

namespace {
HRESULT NotImplemented(const char *method)
{
    HRESULT hr = SimCall(method);
    return FAILED(hr) ? hr : E_NOTIMPL;
}

class SimStream : public SimCom<IPortableDeviceDataStream> {
public:
    bool upload = false;
    int device = -1;
    std::wstring objectId;     // download: the object read; upload: set by Commit
    std::string data;
    size_t position = 0;
    SimUpload pending;
    bool committed = false;
    bool finished = false;     // committed, reverted or failed: no more writes
    bool cut = false;          // download: the link ended it early (DevsimCutReadAt)

    const wchar_t *CountedId() const { return upload ? nullptr : objectId.c_str(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_ISequentialStream) ||
            IsEqualIID(iid, IID_IStream) || IsEqualIID(iid, IID_IPortableDeviceDataStream))
            return Answer(static_cast<IPortableDeviceDataStream *>(this), out);
        *out = nullptr;
        return E_NOINTERFACE;
    }

    HRESULT STDMETHODCALLTYPE Read(void *buffer, ULONG size, ULONG *done) override
    {
        HRESULT hr = SimCall("IStream::Read", CountedId());
        if (FAILED(hr)) return hr;
        if (upload) return STG_E_ACCESSDENIED;
        if (!buffer && size) return STG_E_INVALIDPOINTER;
        DevsimLock lock;
        size_t left = cut ? 0 : data.size() - position;
        ULONG n = (ULONG)((size < left) ? size : left);
        bool cutNow = SimCutThisRead();
        if (cutNow) {
            n /= 2;
            cut = true;
        }
        if (n) memcpy(buffer, data.data() + position, n);
        position += n;
        if (done) *done = n;
        SimRecordRead(size, n);
        // A cut link still says all is well; so does every read after it.
        if (cut) return S_OK;
        SimDevice *d = SimFindDevice(device);
        return (d && d->readsEndSFalse && n < size) ? S_FALSE : S_OK;
    }
    // A device set to short writes keeps and reports one byte less than it was given.
    HRESULT STDMETHODCALLTYPE Write(const void *buffer, ULONG size, ULONG *done) override
    {
        HRESULT after = S_OK;
        HRESULT hr = SimCall("IStream::Write", CountedId(), &after);
        if (FAILED(hr)) return hr;
        if (!upload) return STG_E_ACCESSDENIED;
        if (!buffer && size) return STG_E_INVALIDPOINTER;
        DevsimLock lock;
        if (finished) return E_UNEXPECTED;
        SimDevice *d = SimFindDevice(device);
        ULONG kept = (d && d->shortWrites && size > 0) ? size - 1 : size;
        data.append((const char *)buffer, kept);
        SimRecordWrite(size, kept);
        if (FAILED(after)) return after;   // stored, then the answer was lost
        if (done) *done = kept;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Seek(LARGE_INTEGER, DWORD, ULARGE_INTEGER *) override
    {
        return NotImplemented("IStream::Seek");
    }
    HRESULT STDMETHODCALLTYPE SetSize(ULARGE_INTEGER) override { return NotImplemented("IStream::SetSize"); }
    HRESULT STDMETHODCALLTYPE CopyTo(IStream *, ULARGE_INTEGER, ULARGE_INTEGER *, ULARGE_INTEGER *) override
    {
        return NotImplemented("IStream::CopyTo");
    }
    // The new object appears now, or the transfer fails: the parent vanished, a child of the
    // same name exists (Android refuses duplicates), or the byte count differs from the size
    // announced in WPD_OBJECT_SIZE (Android receives exactly that many bytes).
    HRESULT STDMETHODCALLTYPE Commit(DWORD) override
    {
        HRESULT after = S_OK;
        HRESULT hr = SimCall("IStream::Commit", CountedId(), &after);
        if (FAILED(hr)) return hr;
        if (!upload) return S_OK;
        DevsimLock lock;
        if (finished) return E_UNEXPECTED;
        finished = true;
        hr = Check();
        if (FAILED(hr)) {
            // A refused SendObject unlinks the file and drops its entry at once.
            if (SimIsLivePhantom(device, pending.phantom)) {
                SimDropPhantom(device, pending.phantom);
                SimAfterMutation();
            }
            return hr;
        }
        std::string kept = data;
        SimDevice *d = SimFindDevice(device);
        if (d && (SimShortThisCommit() || d->commitsKeepLess) && !kept.empty()) kept.pop_back();
        int number = pending.phantom;
        if (number != DEVSIM_NONE) {
            SimObject &o = Sim().devices[device].objects[number];
            o.data = kept;
            o.phantom = false;
        } else {
            SimObject o = pending.object;
            o.data = kept;
            number = SimAddObjectRaw(device, SimObjectNumber(device, pending.parentId), o);
            if (number < 0) return E_UNEXPECTED;
        }
        objectId = SimIdOf(device, number);
        committed = true;
        SimRecordCommit();
        SimAfterMutation();
        return after;   // S_OK, or the object exists and the answer was lost
    }
    // Whether the bytes kept can become the object announced. A phantom's own name is no
    // duplicate; a phantom that vanished (the phone was reconnected) has nothing to fill.
    HRESULT Check() const
    {
        int parent = SimObjectNumber(device, pending.parentId);
        if (parent < 0) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        if (pending.phantom != DEVSIM_NONE && !SimIsLivePhantom(device, pending.phantom))
            return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
        if (pending.object.hasName) {
            for (int c : DevsimChildren(device, parent)) {
                const SimObject &o = Sim().devices[device].objects[c];
                if (c != pending.phantom && o.hasName && o.name == pending.object.name)
                    return HRESULT_FROM_WIN32(ERROR_ALREADY_EXISTS);
            }
        }
        if (pending.hasSize && pending.size != data.size()) return HRESULT_FROM_WIN32(ERROR_INVALID_DATA);
        return S_OK;
    }
    // An upload given up: the device drops the entry it listed early, as an aborted
    // SendObject does. Only an answered call reaches the device.
    void Abandon()
    {
        DevsimLock lock;
        if (!upload || committed) return;
        finished = true;
        if (SimIsLivePhantom(device, pending.phantom)) {
            SimDropPhantom(device, pending.phantom);
            SimAfterMutation();
        }
    }
    HRESULT STDMETHODCALLTYPE Revert() override
    {
        HRESULT hr = SimCall("IStream::Revert", CountedId());
        if (FAILED(hr)) return hr;
        Abandon();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE LockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return NotImplemented("IStream::LockRegion");
    }
    HRESULT STDMETHODCALLTYPE UnlockRegion(ULARGE_INTEGER, ULARGE_INTEGER, DWORD) override
    {
        return NotImplemented("IStream::UnlockRegion");
    }
    HRESULT STDMETHODCALLTYPE Stat(STATSTG *stat, DWORD) override
    {
        HRESULT hr = SimCall("IStream::Stat", CountedId());
        if (FAILED(hr)) return hr;
        if (!stat) return STG_E_INVALIDPOINTER;
        DevsimLock lock;
        memset(stat, 0, sizeof(*stat));
        stat->type = STGTY_STREAM;
        stat->cbSize.QuadPart = upload && pending.hasSize ? pending.size : data.size();
        stat->grfMode = upload ? STGM_WRITE : STGM_READ;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Clone(IStream **) override { return NotImplemented("IStream::Clone"); }

    // Valid for a download, and for an upload once committed.
    HRESULT STDMETHODCALLTYPE GetObjectID(LPWSTR *out) override
    {
        HRESULT hr = SimCall("IPortableDeviceDataStream::GetObjectID", CountedId());
        if (FAILED(hr)) return hr;
        if (!out) return E_POINTER;
        DevsimLock lock;
        if (upload && !committed) return E_UNEXPECTED;
        size_t bytes = (objectId.size() + 1) * sizeof(WCHAR);
        *out = (LPWSTR)CoTaskMemAlloc(bytes);
        if (!*out) return E_OUTOFMEMORY;
        memcpy(*out, objectId.c_str(), bytes);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Cancel() override
    {
        HRESULT hr = SimCall("IPortableDeviceDataStream::Cancel", CountedId());
        if (FAILED(hr)) return hr;
        Abandon();
        return S_OK;
    }
};
}  // namespace

IStream *SimNewReadStream(int device, const std::wstring &objectId, const std::string &data)
{
    SimStream *s = new SimStream;
    s->device = device;
    s->objectId = objectId;
    s->data = data;
    return s;
}

IStream *SimNewUploadStream(const SimUpload &upload)
{
    SimStream *s = new SimStream;
    s->upload = true;
    s->device = upload.device;
    s->pending = upload;
    return s;
}
