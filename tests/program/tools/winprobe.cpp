// Win32 side of the program tests: launches Tessaly.EXE with an exact command line and
// inspects its windows from outside (position, field text, message box contents).
//
//   winprobe run TIMEOUT_MS             runs the command line in env PROBE_CMDLINE, prints "exit N"
//   winprobe dialog CAPTION TIMEOUT_MS  waits for a visible dialog, prints its rect and fields
//   winprobe msgbox CAPTION TIMEOUT_MS  waits for a visible message box (or other dialog), prints
//                                       its texts (" | " between them), icon, buttons and the
//                                       caption of its owner window
//   winprobe windows                    prints the visible top-level windows and their count
//   winprobe close CAPTION              sends SC_CLOSE to the dialog (fallback for the close box)
//   winprobe drive ROOT                 prints the drive type and whether its volume answers
//
// Every wait is bounded; a missing window prints a reason and exits with 1.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string>
#include <vector>

static std::string Escape(const std::string &text)
{
    std::string out;
    for (unsigned char c : text) {
        if (c == '\n') out += "\\n";
        else if (c == '\r') out += "\\r";
        else if (c == '\t') out += "\\t";
        else if (c == '\\') out += "\\\\";
        else out += (char)c;
    }
    return out;
}

// In UTF-8, whatever the ANSI code page: a text may hold characters it lacks.
static std::string WindowText(HWND hwnd)
{
    WCHAR wide[2048] = L"";
    char buffer[3 * 2048] = "";
    GetWindowTextW(hwnd, wide, 2048);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, buffer, sizeof buffer, NULL, NULL);
    return buffer;
}

static std::string ClassOf(HWND hwnd)
{
    char buffer[256] = "";
    GetClassNameA(hwnd, buffer, sizeof buffer);
    return buffer;
}

// Polls for a visible dialog-class window with this caption.
static HWND WaitForDialog(const char *caption, DWORD timeoutMs)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = FindWindowA("#32770", caption);
        if (hwnd != NULL && IsWindowVisible(hwnd))
            return hwnd;
        if (GetTickCount() - start >= timeoutMs)
            return NULL;
        Sleep(50);
    }
}

static int Run(DWORD timeoutMs)
{
    const char *commandLine = getenv("PROBE_CMDLINE");
    if (commandLine == NULL) {
        printf("error PROBE_CMDLINE is not set\n");
        return 1;
    }
    std::vector<char> line(commandLine, commandLine + strlen(commandLine) + 1);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    if (!CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process)) {
        printf("error CreateProcess failed with %lu\n", GetLastError());
        return 1;
    }
    DWORD code = 0;
    int result = 0;
    if (WaitForSingleObject(process.hProcess, timeoutMs) != WAIT_OBJECT_0) {
        printf("timeout the program did not end within %lu ms\n", timeoutMs);
        TerminateProcess(process.hProcess, 99);
        result = 2;
    } else {
        GetExitCodeProcess(process.hProcess, &code);
        printf("exit %lu\n", code);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return result;
}

static int Dialog(const char *caption, DWORD timeoutMs)
{
    HWND hwnd = WaitForDialog(caption, timeoutMs);
    if (hwnd == NULL) {
        printf("error no visible dialog \"%s\" within %lu ms\n", caption, timeoutMs);
        return 1;
    }
    RECT window;
    GetWindowRect(hwnd, &window);
    HDC screen = GetDC(NULL);
    printf("window %ld %ld %ld %ld\n", window.left, window.top, window.right, window.bottom);
    printf("screen %d %d\n", GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
    printf("display %d %d\n", GetDeviceCaps(screen, HORZRES), GetDeviceCaps(screen, VERTRES));
    ReleaseDC(NULL, screen);

    char field[1024] = "";
    GetDlgItemTextA(hwnd, 100, field, sizeof field);
    printf("field %s\n", Escape(field).c_str());
    printf("fieldlimit %ld\n", (long)SendMessageA(GetDlgItem(hwnd, 100), EM_GETLIMITTEXT, 0, 0));

    // The close box sits at the right end of the caption; the hit test proves the point.
    RECT client;
    GetClientRect(hwnd, &client);
    POINT origin = {0, 0};
    ClientToScreen(hwnd, &origin);
    int frame = origin.x - window.left;
    int x = window.right - frame - GetSystemMetrics(SM_CXSIZE) / 2;
    int y = window.top + frame + GetSystemMetrics(SM_CYCAPTION) / 2;
    LRESULT hit = SendMessageA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, y));
    printf("closebox %d %d %s\n", x, y, hit == HTCLOSE ? "hit" : "miss");
    return 0;
}

// Names the stock icon whose drawing matches the pixels of the icon control on screen.
static std::string IdentifyIcon(HWND iconControl)
{
    RECT rect;
    GetWindowRect(iconControl, &rect);
    int width = rect.right - rect.left, height = rect.bottom - rect.top;
    if (width <= 0 || height <= 0)
        return "none";

    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;

    HDC screen = GetDC(NULL);
    HDC memory = CreateCompatibleDC(screen);
    void *shownBits = NULL, *drawnBits = NULL;
    HBITMAP shown = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &shownBits, NULL, 0);
    HBITMAP drawn = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &drawnBits, NULL, 0);
    HGDIOBJ old = SelectObject(memory, shown);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    GdiFlush();
    const DWORD *seen = (const DWORD *)shownBits;

    struct { const char *name; LPCSTR id; } stock[] = {
        {"exclamation", IDI_EXCLAMATION}, {"hand", IDI_HAND},
        {"asterisk", IDI_ASTERISK}, {"question", IDI_QUESTION},
    };
    std::string best = "unknown";
    long bestDiff = -1;
    for (auto &candidate : stock) {
        SelectObject(memory, drawn);
        // Fill with the control's own background (its top-left pixel), then draw the icon.
        DWORD *mine = (DWORD *)drawnBits;
        for (int i = 0; i < width * height; ++i)
            mine[i] = seen[0];
        DrawIcon(memory, 0, 0, LoadIconA(NULL, candidate.id));
        GdiFlush();
        long diff = 0;
        for (int i = 0; i < width * height; ++i)
            if ((mine[i] & 0xFFFFFF) != (seen[i] & 0xFFFFFF))
                ++diff;
        if (bestDiff < 0 || diff < bestDiff) {
            bestDiff = diff;
            best = candidate.name;
        }
    }
    SelectObject(memory, old);
    DeleteObject(shown);
    DeleteObject(drawn);
    DeleteDC(memory);
    ReleaseDC(NULL, screen);
    if (bestDiff != 0)
        return "unknown (closest " + best + ", " + std::to_string(bestDiff) + " pixels differ)";
    return best;
}

static int MessageBoxProbe(const char *caption, DWORD timeoutMs)
{
    HWND hwnd = WaitForDialog(caption, timeoutMs);
    if (hwnd == NULL) {
        printf("error no visible message box \"%s\" within %lu ms\n", caption, timeoutMs);
        return 1;
    }
    Sleep(300);   // let it paint before its icon is read off the screen
    std::string text, buttons, icon = "none";
    for (HWND child = GetWindow(hwnd, GW_CHILD); child != NULL; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child))
            continue;
        std::string cls = ClassOf(child);
        LONG style = GetWindowLongA(child, GWL_STYLE);
        if (lstrcmpiA(cls.c_str(), "Static") == 0 && (style & SS_TYPEMASK) == SS_ICON)
            icon = IdentifyIcon(child);
        else if (lstrcmpiA(cls.c_str(), "Static") == 0)
            text += (text.empty() ? "" : " | ") + WindowText(child);
        else if (lstrcmpiA(cls.c_str(), "Button") == 0)
            buttons += (buttons.empty() ? "" : ",") + WindowText(child);
    }
    HWND owner = GetWindow(hwnd, GW_OWNER);
    printf("text %s\n", Escape(text).c_str());
    printf("icon %s\n", icon.c_str());
    printf("buttons %s\n", buttons.c_str());
    printf("owner %s\n", owner != NULL ? Escape(WindowText(owner)).c_str() : "(none)");
    return 0;
}

static BOOL CALLBACK ListWindow(HWND hwnd, LPARAM count)
{
    if (IsWindowVisible(hwnd)) {
        ++*(int *)count;
        printf("visible %s \"%s\"\n", ClassOf(hwnd).c_str(), Escape(WindowText(hwnd)).c_str());
    }
    return TRUE;
}

static int Windows()
{
    int count = 0;
    EnumWindows(ListWindow, (LPARAM)&count);
    printf("count %d\n", count);
    return 0;
}

static int Close(const char *caption)
{
    HWND hwnd = FindWindowA("#32770", caption);
    if (hwnd == NULL) {
        printf("error no dialog \"%s\"\n", caption);
        return 1;
    }
    PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    return 0;
}

static int Drive(const char *root)
{
    char volume[MAX_PATH + 1] = "";
    SetLastError(0);
    BOOL ready = GetVolumeInformationA(root, volume, sizeof volume, NULL, NULL, NULL, NULL, 0);
    DWORD error = GetLastError();
    static const char *types[] = {"unknown", "no-root", "removable", "fixed", "remote", "cdrom", "ramdisk"};
    UINT type = GetDriveTypeA(root);
    printf("type %s\n", type < 7 ? types[type] : "other");
    if (ready)
        printf("volume ready \"%s\"\n", volume);
    else
        printf("volume failed %lu\n", error);
    return 0;
}

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "run" && argc == 3)
        return Run(strtoul(argv[2], NULL, 10));
    if (command == "dialog" && argc == 4)
        return Dialog(argv[2], strtoul(argv[3], NULL, 10));
    if (command == "msgbox" && argc == 4)
        return MessageBoxProbe(argv[2], strtoul(argv[3], NULL, 10));
    if (command == "windows" && argc == 2)
        return Windows();
    if (command == "close" && argc == 3)
        return Close(argv[2]);
    if (command == "drive" && argc == 3)
        return Drive(argv[2]);
    printf("usage: winprobe run MS | dialog CAPTION MS | msgbox CAPTION MS | windows | close CAPTION | drive ROOT\n");
    return 64;
}
