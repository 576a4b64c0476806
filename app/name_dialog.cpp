#include "app/app.h"
#include "devfs/devfs.h"
#include "resource.h"

enum { NAME_CHARS = 16 };   // 15 characters and the terminator

// The dialog TESSALY: shows the stored name when it opens and writes the field on OK
// only, saying so when the write failed. Esc and the close box arrive as IDCANCEL and
// write nothing.
INT_PTR CALLBACK NameDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    char name[NAME_CHARS];
    HWND field;

    (void)lParam;
    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(hwnd, GetWindow(hwnd, GW_OWNER));
        field = GetDlgItem(hwnd, IDC_NAME);
        SendMessageA(field, EM_LIMITTEXT, NAME_CHARS - 1, 0);
        DevGetProfileString("Corvane", "Name", "", name, NAME_CHARS, SettingsPath);
        SetWindowTextA(field, name);
        return TRUE;

    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            name[0] = '\0';
            GetWindowTextA(GetDlgItem(hwnd, IDC_NAME), name, NAME_CHARS);
            if (!DevWriteProfileString("Corvane", "Name", name, SettingsPath))
                ShowNotSaved(hwnd);
            EndDialog(hwnd, 1);
            return TRUE;
        case IDCANCEL:
            EndDialog(hwnd, 0);
            return TRUE;
        }
        break;
    }
    return FALSE;
}
