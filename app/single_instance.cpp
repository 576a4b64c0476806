#include "app/app.h"
#include "resource.h"

// One Tessaly at a time in a user's session: two would walk, download and replace in the same
// app folder at once, and one's replace would delete the other's new copy. A named section
// marks the running one and holds its process id, so that a later start finds that one's
// window and no other program's, and can wait for that process; it goes with the process
// that made it.
static const char RunningName[] = "Local\\Tessaly.running";

enum {
    NAMED_WAIT_MS = 60000,    // a start with a name waits this long for its turn
    WINDOW_WAIT_MS = 10000,   // one without waits this long for the running one's window
    POLL_MS = 100,
};

struct RunningWindow {
    DWORD process;
    HWND window;
};

// The first visible top-level window of the process, in Z order: its message box before the
// window that owns it.
static BOOL CALLBACK FindRunningWindow(HWND window, LPARAM lParam)
{
    RunningWindow *running = (RunningWindow *)lParam;
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != running->process || !IsWindowVisible(window))
        return TRUE;
    running->window = window;
    return FALSE;
}

// 1 when this start now holds the marker (or nothing can tell: an elevated first start keeps
// it from being opened); 0 when another one holds it, *other then its process id (0 while it
// has not written it yet).
static int TakeMarker(DWORD *other)
{
    *other = 0;
    HANDLE marker = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(DWORD), RunningName);
    if (marker == NULL)
        return 1;
    int another = GetLastError() == ERROR_ALREADY_EXISTS;
    DWORD *process = (DWORD *)MapViewOfFile(marker, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DWORD));
    if (process != NULL) {
        if (another)
            *other = *process;
        else
            *process = GetCurrentProcessId();
        UnmapViewOfFile(process);
    }
    if (another)
        CloseHandle(marker);
    return !another;   // the marker of the one that runs stays open until its process ends
}

// Brings the running one's window to the front; still looking for the handheld, it may have
// none yet, so it is given a while to show one.
static void BringForward(DWORD process)
{
    RunningWindow running = { process, NULL };
    for (DWORD start = GetTickCount(); running.window == NULL && GetTickCount() - start < WINDOW_WAIT_MS;) {
        EnumWindows(FindRunningWindow, (LPARAM)&running);
        if (running.window == NULL)
            Sleep(POLL_MS);
    }
    if (running.window == NULL)
        return;
    if (IsIconic(running.window))
        ShowWindow(running.window, SW_RESTORE);
    SetForegroundWindow(running.window);
}

int TakeTurn(int withName)
{
    DWORD other;
    DWORD start = GetTickCount();
    while (!TakeMarker(&other)) {
        if (!withName) {
            BringForward(other);
            return 0;
        }
        DWORD waited = GetTickCount() - start;
        if (waited >= NAMED_WAIT_MS) {
            ShowMessage(NULL, IDS_ALREADY_RUNNING, MB_OK | MB_ICONEXCLAMATION);
            return 0;
        }
        // The name is not dropped: it is written once the running one has ended.
        HANDLE process = other != 0 ? OpenProcess(SYNCHRONIZE, FALSE, other) : NULL;
        if (process != NULL) {
            WaitForSingleObject(process, NAMED_WAIT_MS - waited);
            CloseHandle(process);
        } else {
            Sleep(POLL_MS);
        }
    }
    return 1;
}
