// Busy answers. A device answers ERROR_BUSY while another program (Explorer, a photo importer,
// a sync tool) is using it, or while a stream is still open: a moment, not a verdict. Every
// device call goes through DevRetryBusy, which waits and asks again: 100 ms first, doubling,
// at most 3.1 s for one call and 10 s in all for the run. Then the busy answer stands as the
// call's failure. Nothing else is retried.
#include "devfs/devfs_internal.h"

enum {
    FIRST_WAIT_MS = 100,
    CALL_WAIT_MS = 3100,    // 100 + 200 + 400 + 800 + 1600
    RUN_WAIT_MS = 10000,
};

void (WINAPI *DevBusyWait)(DWORD milliseconds) = Sleep;

int DevAgainAfterBusy(HRESULT hr, DWORD *waited)
{
    // Each wait is as long as all before it together, plus the first.
    DWORD next = *waited + FIRST_WAIT_MS;
    if (hr != DEV_E_BUSY || *waited + next > CALL_WAIT_MS || DevConnection.busyWaited + next > RUN_WAIT_MS)
        return 0;
    DevBusyWait(next);
    *waited += next;
    DevConnection.busyWaited += next;
    return 1;
}
