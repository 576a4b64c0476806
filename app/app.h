// The Settings tool: run sequence, name dialog and the choice of the settings file.
#ifndef TESSALY_APP_H
#define TESSALY_APP_H

#include <windows.h>

enum { SETTINGS_PATH_CHARS = 260 };

extern HINSTANCE hInstance;                       // this module, for the dialog and the strings
extern char SettingsPath[SETTINGS_PATH_CHARS];    // the settings file, local or device path

const char *CommandTail(const char *commandLine);
INT_PTR CALLBACK NameDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
BOOL CenterWindow(HWND hwnd, HWND owner);
int LocateSettingsFile(void);
void ShowMessage(HWND owner, UINT textId, UINT style);
void ShowNotSaved(HWND owner);
// 1, after bringing its window to the front, when another Tessaly runs in this session;
// otherwise 0, and this one is the one that runs.
int AnotherTessalyRuns(void);

#endif
