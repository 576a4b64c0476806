// The report's text: lines a user can paste and a script can split at ": ".
#include <stdarg.h>
#include "probe/probe.h"

void Out(const char *format, ...)
{
    char line[1100];
    va_list args;
    va_start(args, format);
    int n = wvsprintfA(line, format, args);
    va_end(args);
    DWORD written = 0;
    if (n > 0)
        WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line, (DWORD)n, &written, NULL);
}

void OutSection(const char *title)
{
    Out("\r\n== %s ==\r\n", title);
}

const char *Utf8(LPCWSTR text, char *out, int size)
{
    out[0] = '\0';
    if (text != NULL && WideCharToMultiByte(CP_UTF8, 0, text, -1, out, size, NULL, NULL) == 0)
        out[size - 1] = '\0';   // cut: what fitted stays
    return out;
}

static char *NextBuffer(void)
{
    static char buffers[8][48];
    static LONG next;
    return buffers[(InterlockedIncrement(&next) & 7)];
}

const char *HrText(HRESULT hr)
{
    static const struct { HRESULT hr; const char *name; } names[] = {
        {S_OK, "S_OK"}, {S_FALSE, "S_FALSE"}, {E_ACCESSDENIED, "E_ACCESSDENIED"}, {E_NOINTERFACE, "E_NOINTERFACE"},
        {E_NOTIMPL, "E_NOTIMPL"}, {E_INVALIDARG, "E_INVALIDARG"}, {E_FAIL, "E_FAIL"}, {E_POINTER, "E_POINTER"},
        {E_OUTOFMEMORY, "E_OUTOFMEMORY"}, {E_UNEXPECTED, "E_UNEXPECTED"}, {REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG"},
        {(HRESULT)0x80070490, "ERROR_NOT_FOUND"}, {(HRESULT)0x80070032, "ERROR_NOT_SUPPORTED"},
        {(HRESULT)0x800700AA, "ERROR_BUSY"}, {(HRESULT)0x8007001F, "ERROR_GEN_FAILURE"},
        {(HRESULT)0x80070079, "ERROR_SEM_TIMEOUT"}, {(HRESULT)0x800705B4, "ERROR_TIMEOUT"},
        {(HRESULT)0x8007045D, "ERROR_IO_DEVICE"}, {(HRESULT)0x8007048F, "ERROR_DEVICE_NOT_CONNECTED"},
        {(HRESULT)0x800704C7, "ERROR_CANCELLED"}, {(HRESULT)0x80070141, "device unreachable"},
        {(HRESULT)0x802A0001, "E_WPD_DEVICE_ALREADY_OPENED"}, {(HRESULT)0x802A0002, "E_WPD_DEVICE_NOT_OPEN"},
        {(HRESULT)0x802A0006, "E_WPD_DEVICE_IS_HUNG"}, {(HRESULT)0x800700B7, "ERROR_ALREADY_EXISTS"},
        {DEV_E_NO_SUCH_OBJECT, "no such object"},
    };
    char *text = NextBuffer();
    const char *name = "";
    for (unsigned i = 0; i < sizeof names / sizeof names[0]; i++)
        if (names[i].hr == hr)
            name = names[i].name;
    wsprintfA(text, "0x%08lX%s%s", (unsigned long)hr, name[0] ? " " : "", name);
    return text;
}

const char *Ms(DWORD micro)
{
    char *text = NextBuffer();
    wsprintfA(text, "%lu.%03lu", (unsigned long)(micro / 1000), (unsigned long)(micro % 1000));
    return text;
}

const char *KeyName(DWORD pid)
{
    switch (pid) {
    case 2: return "WPD_OBJECT_ID";
    case 3: return "WPD_OBJECT_PARENT_ID";
    case 4: return "WPD_OBJECT_NAME";
    case 6: return "WPD_OBJECT_FORMAT";
    case 7: return "WPD_OBJECT_CONTENT_TYPE";
    case 11: return "WPD_OBJECT_SIZE";
    case 12: return "WPD_OBJECT_ORIGINAL_FILE_NAME";
    }
    char *text = NextBuffer();
    wsprintfA(text, "property %lu", (unsigned long)pid);
    return text;
}
