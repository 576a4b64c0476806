// Setup: the Windows version, the configuration as the layer reads it, and the drives
// Tessaly looks at before any device.
#include "probe/probe.h"

typedef LONG(WINAPI *RtlGetVersionCall)(OSVERSIONINFOW *);

void ReportSetup(SetupFacts *facts)
{
    OSVERSIONINFOW version;
    ZeroMemory(&version, sizeof version);
    version.dwOSVersionInfoSize = sizeof version;
    // The true version: GetVersionEx answers 6.2 to a program without a manifest.
    RtlGetVersionCall getVersion =
        (RtlGetVersionCall)(void *)GetProcAddress(GetModuleHandleA("ntdll.dll"), "RtlGetVersion");
    if (getVersion == NULL || getVersion(&version) != 0)
        version.dwMajorVersion = 0;
    Out("windows: %lu.%lu.%lu\r\n", version.dwMajorVersion, version.dwMinorVersion, version.dwBuildNumber);

    char windows[MAX_PATH];
    UINT length = GetWindowsDirectoryA(windows, MAX_PATH - 20);
    if (length > 0 && length < MAX_PATH - 20) {
        lstrcatA(windows, "\\CORVANE_INFO.ini");
        Out("configuration file: %s (%s)\r\n", windows,
            GetFileAttributesA(windows) != INVALID_FILE_ATTRIBUTES ? "present" : "absent");
    }
    DevGetProfileString("Corvane", "Root", "", facts->root, DEV_PATH_CHARS, "CORVANE_INFO.ini");
    facts->searchDepth = (int)GetPrivateProfileIntA("Corvane", "SearchDepth", 4, "Corvane_Info.ini");
    Out("Root: %s\r\n", facts->root[0] ? facts->root : "(none)");
    Out("SearchDepth: %d\r\n", facts->searchDepth);

    char drives[1024];
    facts->driveWithFile[0] = '\0';
    DWORD size = GetLogicalDriveStringsA(sizeof drives - 1, drives);
    if (size == 0 || size >= sizeof drives)
        drives[0] = '\0';
    for (const char *root = drives; *root != '\0'; root += lstrlenA(root) + 1) {
        char label[MAX_PATH + 1];
        if (lstrlenA(root) > 3)
            continue;
        int ready = GetVolumeInformationA(root, label, sizeof label, NULL, NULL, NULL, NULL, 0) != 0;
        int holds = 0;
        if (ready) {
            char path[DEV_PATH_CHARS];
            WIN32_FIND_DATAA found;
            lstrcpyA(path, root);
            lstrcatA(path, "Corvane\\CORVANE_INFO.ini");
            HANDLE search = DevFindFirstFile(path, &found);
            holds = search != INVALID_HANDLE_VALUE;
            if (holds)
                DevFindClose(search);
            if (holds && facts->driveWithFile[0] == '\0')
                lstrcpyA(facts->driveWithFile, root);
        }
        Out("drive: %s %s, settings file: %s\r\n", root, ready ? "ready" : "not ready", holds ? "yes" : "no");
    }
}
