#include "app/app.h"

// One Tessaly at a time in a user's session: two would walk, download and replace in the same
// app folder at once, and one's replace would delete the other's new copy. A named section
// marks the running one and holds its process id, so that a second start finds that one's
// window and no other program's; it goes with the process that made it.
static const char RunningName[] = "Local\\Tessaly.running";

struct RunningWindow {
    DWORD process;
    HWND window;
};

// The first visible top-level window of the process, in Z order: its message box before the
// dialog that owns it.
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

int AnotherTessalyRuns(void)
{
    HANDLE marker = CreateFileMappingA(INVALID_HANDLE_VALUE, NULL, PAGE_READWRITE, 0, sizeof(DWORD), RunningName);
    if (marker == NULL)
        return 0;   // nothing to tell by: run
    int another = GetLastError() == ERROR_ALREADY_EXISTS;
    DWORD *process = (DWORD *)MapViewOfFile(marker, FILE_MAP_READ | FILE_MAP_WRITE, 0, 0, sizeof(DWORD));
    if (process != NULL && !another)
        *process = GetCurrentProcessId();
    if (process != NULL && another) {
        // Still looking for the handheld, the running one has no window yet: nothing to show.
        RunningWindow running = { *process, NULL };
        EnumWindows(FindRunningWindow, (LPARAM)&running);
        if (running.window != NULL) {
            if (IsIconic(running.window))
                ShowWindow(running.window, SW_RESTORE);
            SetForegroundWindow(running.window);
        }
    }
    if (process != NULL)
        UnmapViewOfFile(process);
    if (another)
        CloseHandle(marker);
    return another;   // the marker of the one that runs stays open until its process ends
}
