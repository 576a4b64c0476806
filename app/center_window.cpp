#include "app/app.h"

// Moves hwnd to the centre of its owner (of the screen without one), keeping it on the
// display where it fits. The right and bottom corrections apply only to positions that
// are not negative, so a window wider than the display may end left of it.
BOOL CenterWindow(HWND hwnd, HWND owner)
{
    RECT window;
    RECT reference;
    HDC dc;
    int displayWidth;
    int displayHeight;
    int width;
    int height;
    int x;
    int y;

    GetWindowRect(hwnd, &window);
    width = window.right - window.left;
    height = window.bottom - window.top;

    if (owner != NULL) {
        GetWindowRect(owner, &reference);
    } else {
        reference.left = 0;
        reference.top = 0;
        reference.right = GetSystemMetrics(SM_CXSCREEN);
        reference.bottom = GetSystemMetrics(SM_CYSCREEN);
    }

    dc = GetDC(hwnd);
    displayWidth = GetDeviceCaps(dc, HORZRES);
    displayHeight = GetDeviceCaps(dc, VERTRES);
    ReleaseDC(hwnd, dc);

    x = reference.left + (reference.right - reference.left - width) / 2;
    if (x < 0)
        x = 0;
    else if (x + width > displayWidth)
        x = displayWidth - width;

    y = reference.top + (reference.bottom - reference.top - height) / 2;
    if (y < 0)
        y = 0;
    else if (y + height > displayHeight)
        y = displayHeight - height;

    return SetWindowPos(hwnd, NULL, x, y, 0, 0, SWP_NOZORDER | SWP_NOSIZE);
}
