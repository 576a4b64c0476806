#include "app/app.h"
#include "devfs/devfs.h"
#include "resource.h"

enum { NAME_CHARS = 16 };   // 15 characters and the terminator

// The dialog TESSALY: shows the stored name it is given (lParam) and writes the field on OK
// only, saying so when the write failed. Esc and the close box arrive as IDCANCEL and
// write nothing.
INT_PTR CALLBACK NameDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    char name[NAME_CHARS];
    HWND field;

    switch (message) {
    case WM_INITDIALOG:
        CenterWindow(hwnd, GetWindow(hwnd, GW_OWNER));
        field = GetDlgItem(hwnd, IDC_NAME);
        SendMessageA(field, EM_LIMITTEXT, NAME_CHARS - 1, 0);
        SetWindowTextA(field, (const char *)lParam);
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

// Reads the stored name, then lets the user edit it. A settings file that cannot be read is told
// instead: a dialog opened empty would let OK erase the name.
void RunNameDialog(void)
{
    char name[NAME_CHARS];

    DevGetProfileString("Corvane", "Name", "", name, NAME_CHARS, SettingsPath);
    if (DevProfileReadFailed())
        ShowMessage(NULL, IDS_CANNOT_READ, MB_OK | MB_ICONEXCLAMATION);
    else
        DialogBoxParamA(hInstance, "TESSALY", NULL, NameDialogProc, (LPARAM)name);
}
