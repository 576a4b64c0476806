#include "app/app.h"
#include "devfs/devfs.h"

// One straight run: start the device layer, find the settings file, then write the
// name from the command line or let the user edit it; a write that fails is told, and the
// exit code is always 0. One Tessaly runs at a time: a start with a name waits its turn.
int WINAPI WinMain(HINSTANCE instance, HINSTANCE previousInstance, LPSTR commandLine, int showCommand)
{
    const char *name;

    (void)previousInstance;
    (void)commandLine;
    (void)showCommand;

    // Looking at every drive letter must not raise the system's "No disk" box for an empty
    // card-reader slot: a drive without a medium is simply skipped.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    hInstance = instance;
    name = CommandTail(GetCommandLineA());
    if (!TakeTurn(*name != '\0'))
        return 0;
    DevStartup(1);
    if (!LocateSettingsFile())
        return 0;

    if (*name != '\0') {
        if (!DevWriteProfileString("Corvane", "Name", name, SettingsPath))
            ShowNotSaved(NULL);
    } else {
        RunNameDialog();
    }

    DevShutdown();
    return 0;
}
