// The watched file: how many requests ran while it was missing (or only a phantom, or cut short by
// an edit that has not written it again), the window in which a run that is killed would leave the
// user without the file.
#include "devsim_internal.h"

namespace {
struct Watch {
    bool on = false;
    int device = DEVSIM_NONE;
    std::wstring path;
    long requestsWithout = 0;
};
Watch &Watched()
{
    static Watch watch;
    return watch;
}
// The call this thread is in: whether it is a request and whether it has been counted. A
// mutation happens on the thread of the call that makes it, after that call's SimCall.
thread_local bool t_inRequest = false;
thread_local bool t_counted = false;

bool WatchedFileMissing()
{
    const Watch &w = Watched();
    int object = DevsimFind(w.device, w.path.c_str());
    return object < 0 || SimIsLivePhantom(w.device, object) || SimFindObject(w.device, object)->cut;
}

void CountOnce()
{
    if (t_counted || !WatchedFileMissing()) return;
    t_counted = true;
    Watched().requestsWithout++;
}
}  // namespace

void SimWatchCallStarts(bool request)
{
    t_inRequest = request;
    t_counted = false;
    if (request && Watched().on) CountOnce();
}

void SimWatchAfterChange()
{
    DevsimLock lock;
    if (t_inRequest && Watched().on) CountOnce();
}

void SimWatchClear()
{
    DevsimLock lock;
    Watched() = Watch();
}

void SimWatchResetCount()
{
    DevsimLock lock;
    Watched().requestsWithout = 0;
}

void DevsimWatchFile(int device, const wchar_t *path)
{
    DevsimLock lock;
    Watch &w = Watched();
    w.on = path != nullptr;
    w.device = device;
    w.path = path ? path : L"";
}

long DevsimRequestsWithoutWatchedFile()
{
    DevsimLock lock;
    return Watched().requestsWithout;
}
