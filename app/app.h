// The Settings tool: run sequence, name dialog and the choice of the settings file.
#ifndef TESSALY_APP_H
#define TESSALY_APP_H

#include <windows.h>

enum { SETTINGS_PATH_CHARS = 260 };

extern HINSTANCE hInstance;                       // this module, for the dialog and the strings
extern char SettingsPath[SETTINGS_PATH_CHARS];    // the settings file, local or device path

const char *CommandTail(const char *commandLine);
INT_PTR CALLBACK NameDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
void RunNameDialog(void);
BOOL CenterWindow(HWND hwnd, HWND owner);
int LocateSettingsFile(void);
// DevDevicePath, with the window SEARCH up while a long walk runs; its Cancel ends the walk
// (DevSearchCancelled).
int SearchHandheld(LPSTR out);
void ShowMessage(HWND owner, UINT textId, UINT style);
void ShowNotSaved(HWND owner);
// 1 when this start may run: no other Tessaly runs in this session, or (a start with a name)
// the one that ran has ended. 0 when this start ends here: it brought the running one's window
// to the front, or (with a name) it waited in vain and said so.
int TakeTurn(int withName);

#endif
