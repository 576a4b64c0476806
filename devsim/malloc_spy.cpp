// Counts CoTaskMemAlloc blocks allocated since the spy was installed and not yet freed:
// ids and strings the layer forgot to free show up here.
#include <set>
#include "devsim_internal.h"

namespace {
class MallocSpy : public IMallocSpy {
public:
    std::set<void *> blocks;
    void *freeing = nullptr;
    void *reallocating = nullptr;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void **out) override
    {
        if (!out) return E_POINTER;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IMallocSpy)) {
            *out = static_cast<IMallocSpy *>(this);
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }

    SIZE_T STDMETHODCALLTYPE PreAlloc(SIZE_T request) override { return request; }
    void *STDMETHODCALLTYPE PostAlloc(void *actual) override
    {
        DevsimLock lock;
        if (actual) blocks.insert(actual);
        return actual;
    }
    void *STDMETHODCALLTYPE PreFree(void *request, BOOL spyed) override
    {
        (void)spyed;
        DevsimLock lock;
        if (request) blocks.erase(request);
        return request;
    }
    void STDMETHODCALLTYPE PostFree(BOOL spyed) override { (void)spyed; }
    SIZE_T STDMETHODCALLTYPE PreRealloc(void *request, SIZE_T size, void **newRequest, BOOL spyed) override
    {
        (void)spyed;
        DevsimLock lock;
        reallocating = request;
        *newRequest = request;
        return size;
    }
    void *STDMETHODCALLTYPE PostRealloc(void *actual, BOOL spyed) override
    {
        (void)spyed;
        DevsimLock lock;
        // A realloc to a new place frees the old block; one to size 0 frees it outright.
        if (actual) {
            if (reallocating) blocks.erase(reallocating);
            blocks.insert(actual);
        } else if (reallocating) {
            blocks.erase(reallocating);
        }
        reallocating = nullptr;
        return actual;
    }
    void *STDMETHODCALLTYPE PreGetSize(void *request, BOOL spyed) override { (void)spyed; return request; }
    SIZE_T STDMETHODCALLTYPE PostGetSize(SIZE_T actual, BOOL spyed) override { (void)spyed; return actual; }
    void *STDMETHODCALLTYPE PreDidAlloc(void *request, BOOL spyed) override { (void)spyed; return request; }
    int STDMETHODCALLTYPE PostDidAlloc(void *request, BOOL spyed, int actual) override
    {
        (void)request;
        (void)spyed;
        return actual;
    }
    void STDMETHODCALLTYPE PreHeapMinimize() override {}
    void STDMETHODCALLTYPE PostHeapMinimize() override {}
};

MallocSpy g_spy;
bool g_installed = false;
}  // namespace

HRESULT DevsimInstallMallocSpy()
{
    DevsimLock lock;
    g_spy.blocks.clear();
    if (g_installed) return S_OK;
    HRESULT hr = CoRegisterMallocSpy(&g_spy);
    if (SUCCEEDED(hr)) g_installed = true;
    return hr;
}

long DevsimOutstandingBlocks()
{
    DevsimLock lock;
    return (long)g_spy.blocks.size();
}

void DevsimRevokeMallocSpy()
{
    DevsimLock lock;
    if (!g_installed) return;
    // With blocks still out, COM keeps the spy until they are freed; it stays ours then.
    if (SUCCEEDED(CoRevokeMallocSpy())) g_installed = false;
    g_spy.blocks.clear();
}
