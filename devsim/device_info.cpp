// The device's description (names the manager and the DEVICE object give), its bulk
// support, and the time a request takes.
#include "devsim_internal.h"

static volatile LONG g_latencyMs = 0;

void DevsimSetDeviceInfo(int device, const wchar_t *friendlyName, const wchar_t *manufacturer, const wchar_t *model)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    if (!d) return;
    if (friendlyName) d->friendlyName = friendlyName;
    if (manufacturer) d->manufacturer = manufacturer;
    if (model) d->model = model;
}

void DevsimSetBulkMissing(int device, bool on)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    if (d) d->bulkMissing = on;
}

void DevsimSetLatency(DWORD milliseconds) { InterlockedExchange(&g_latencyMs, (LONG)milliseconds); }

// Outside devsim's lock, so that a slow request never holds up another thread's.
void SimWaitLatency()
{
    LONG ms = g_latencyMs;
    if (ms > 0) Sleep((DWORD)ms);
}
