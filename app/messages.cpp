#include "app/app.h"
#include "devfs/devfs.h"
#include "resource.h"

enum {
    CAPTION_CHARS = 128,
    MESSAGE_CHARS = 512,
    PATH_CHARS = 260,
};

// Shows text in a message box captioned with string 200: the program's only way of telling
// the user anything.
static void ShowText(HWND owner, const char *text, UINT style)
{
    char caption[CAPTION_CHARS];

    caption[0] = '\0';
    LoadStringA(hInstance, IDS_CAPTION, caption, CAPTION_CHARS);
    MessageBoxA(owner, text, caption, style);
}

void ShowMessage(HWND owner, UINT textId, UINT style)
{
    char text[MESSAGE_CHARS];

    text[0] = '\0';
    LoadStringA(hInstance, textId, text, MESSAGE_CHARS);
    ShowText(owner, text, style);
}

// Tells the user that the name was not saved, what the handheld holds, and where the local
// copy with the new name is, when one was kept.
void ShowNotSaved(HWND owner)
{
    char format[MESSAGE_CHARS];
    char text[MESSAGE_CHARS + PATH_CHARS];
    char kept[PATH_CHARS];

    int device = DevKeptCopyPath(kept);
    if (!device) {
        ShowMessage(owner, IDS_NOT_SAVED, MB_OK | MB_ICONEXCLAMATION);
        return;
    }
    format[0] = '\0';
    LoadStringA(hInstance, device == DEV_KEPT_DEVICE_AS_IT_WAS ? IDS_NOT_SAVED_AS_IT_WAS : IDS_NOT_SAVED_KEPT,
                format, MESSAGE_CHARS);
    wsprintfA(text, format, kept);   // wsprintf stops at 1024 characters; text holds 772
    ShowText(owner, text, MB_OK | MB_ICONEXCLAMATION);
}
