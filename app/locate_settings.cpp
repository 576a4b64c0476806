#include "app/app.h"
#include "devfs/devfs.h"
#include "resource.h"

char SettingsPath[SETTINGS_PATH_CHARS];

static const char SettingsFile[] = "CORVANE_INFO.ini";
static const char *const ConfigFile = SettingsFile;   // the same name, in the Windows directory
static const char AppFolder[] = "Corvane\\";

enum {
    // Longest Root that still leaves room for "\Corvane\CORVANE_INFO.ini" and the terminator.
    ROOT_MAX_CHARS = SETTINGS_PATH_CHARS - 1 - 1 - (sizeof AppFolder - 1) - (sizeof SettingsFile - 1),
    DRIVE_LIST_CHARS = 1024,
    VOLUME_NAME_CHARS = 261,
};

// Tries each ready drive in list order; 1 when one holds Corvane\CORVANE_INFO.ini at
// its root, with SettingsPath naming that file.
static int FindOnDrives(void)
{
    char drives[DRIVE_LIST_CHARS];
    char volumeName[VOLUME_NAME_CHARS];
    WIN32_FIND_DATAA findData;
    const char *root;
    DWORD length;
    HANDLE search;

    length = GetLogicalDriveStringsA(DRIVE_LIST_CHARS - 1, drives);
    if (length == 0 || length >= DRIVE_LIST_CHARS)
        return 0;

    for (root = drives; *root != '\0'; root += lstrlenA(root) + 1) {
        // Only a drive with a medium answers; the volume name itself is not needed.
        if (!GetVolumeInformationA(root, volumeName, VOLUME_NAME_CHARS, NULL, NULL, NULL, NULL, 0))
            continue;
        if (lstrlenA(root) > ROOT_MAX_CHARS + 1)
            continue;
        lstrcpyA(SettingsPath, root);
        lstrcatA(SettingsPath, AppFolder);
        lstrcatA(SettingsPath, SettingsFile);
        // A drive root is never a device path: saying so keeps the layer's device search, which
        // nothing else in the program uses, out of the EXE.
        if (SettingsPath[0] == '*')
            continue;
        search = DevFindFirstFile(SettingsPath, &findData);
        if (search != INVALID_HANDLE_VALUE) {
            DevFindClose(search);
            return 1;
        }
    }
    return 0;
}

// Decides once per run which file holds the name: the configured root (existing or
// not), else the first ready drive carrying the app folder, else the open device.
// Returns 0 after telling the user when there is none (and why, where a handheld hid its storage,
// its app folder or all but its photos), and without a word when the user cancelled the search.
int LocateSettingsFile(void)
{
    int rootLength;

    // Read into the full buffer so that a Root too long to extend is seen and skipped.
    DevGetProfileString("Corvane", "Root", "", SettingsPath, SETTINGS_PATH_CHARS, ConfigFile);
    rootLength = lstrlenA(SettingsPath);
    if (rootLength > 0 && rootLength <= ROOT_MAX_CHARS) {
        lstrcatA(SettingsPath, "\\");
        lstrcatA(SettingsPath, AppFolder);
        lstrcatA(SettingsPath, SettingsFile);
        return 1;
    }

    if (FindOnDrives())
        return 1;

    if (SearchHandheld(SettingsPath))
        return 1;
    // The user cancelled the search: there is nothing to tell.
    if (DevSearchCancelled())
        return 0;

    // A handheld whose app folder could not be read, one that opens but shows no storage (it is
    // locked or only charging), or one that shares only its photos, needs other advice than
    // installing the app.
    UINT message = DevAppFolderUnreadable() ? IDS_APP_FOLDER_UNREADABLE
                   : DevStorageHidden()     ? IDS_STORAGE_HIDDEN
                   : DevPhotosOnly()        ? IDS_PHOTOS_ONLY
                                            : IDS_NOT_FOUND;
    ShowMessage(NULL, message, MB_OK | MB_ICONEXCLAMATION);
    return 0;
}
