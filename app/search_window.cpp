#include "app/app.h"
#include "devfs/devfs.h"
#include "resource.h"

// The window SEARCH, up while a long walk over the handhelds runs: a full phone takes seconds,
// and without a window the user sees nothing and a second start has nothing to bring forward.
// The walk keeps the one thread and calls SearchProgress between device calls, which shows the
// window once the walk has run a while and keeps it answering from then on.
enum {
    SHOW_AFTER_MS = 500,
    UPDATE_EVERY_MS = 100,   // a redraw per device call would cost more than the call
};

static HWND Window;
static DWORD Due;   // when the window is to show, then when its count is to be shown again
static int CancelPressed;

// The Cancel button, Esc and the close box all arrive as IDCANCEL.
static INT_PTR CALLBACK SearchWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    (void)lParam;
    if (message == WM_INITDIALOG) {
        CenterWindow(hwnd, NULL);
        return TRUE;
    }
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL)
        CancelPressed = 1;
    return FALSE;
}

// The layer's hook: the window shows once the walk has run SHOW_AFTER_MS; its messages are
// handled here, since nothing else runs a message loop meanwhile. Nonzero ends the walk.
static int SearchProgress(DWORD foldersListed)
{
    HWND window = Window;
    DWORD now = GetTickCount();
    if ((LONG)(now - Due) >= 0) {
        Due = now + UPDATE_EVERY_MS;
        if (window == NULL)   // one that cannot be made is tried again at the next update
            Window = window = CreateDialogParamA(hInstance, "SEARCH", NULL, SearchWindowProc, 0);
        if (window != NULL)
            SetDlgItemInt(window, IDC_FOLDERS, foldersListed, FALSE);
    }
    // No field takes typing, so no message needs translating into characters.
    MSG message;
    while (window != NULL && PeekMessageA(&message, NULL, 0, 0, PM_REMOVE))
        if (!IsDialogMessageA(window, &message))
            DispatchMessageA(&message);
    return CancelPressed;
}

int SearchHandheld(LPSTR out)
{
    Due = GetTickCount() + SHOW_AFTER_MS;
    DevSearchProgress = SearchProgress;
    int found = DevDevicePath(out);
    DevSearchProgress = NULL;
    if (Window != NULL)
        DestroyWindow(Window);
    Window = NULL;
    return found;
}
