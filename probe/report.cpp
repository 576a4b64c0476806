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

// Codes a device gives, and their names in the same order, packed: no table of pointers.
#define PROBE_CODES(X) \
    X(S_OK, "S_OK") X(S_FALSE, "S_FALSE") X(E_ACCESSDENIED, "E_ACCESSDENIED") X(E_NOINTERFACE, "E_NOINTERFACE") \
    X(E_NOTIMPL, "E_NOTIMPL") X(E_INVALIDARG, "E_INVALIDARG") X(E_FAIL, "E_FAIL") X(E_POINTER, "E_POINTER") \
    X(E_OUTOFMEMORY, "E_OUTOFMEMORY") X(E_UNEXPECTED, "E_UNEXPECTED") X(REGDB_E_CLASSNOTREG, "REGDB_E_CLASSNOTREG") \
    X(0x80070490, "ERROR_NOT_FOUND") X(0x80070032, "ERROR_NOT_SUPPORTED") X(0x800700AA, "ERROR_BUSY") \
    X(0x8007001F, "ERROR_GEN_FAILURE") X(0x80070079, "ERROR_SEM_TIMEOUT") X(0x800705B4, "ERROR_TIMEOUT") \
    X(0x8007045D, "ERROR_IO_DEVICE") X(0x8007048F, "ERROR_DEVICE_NOT_CONNECTED") X(0x800704C7, "ERROR_CANCELLED") \
    X(0x80070141, "device unreachable") X(0x802A0001, "E_WPD_DEVICE_ALREADY_OPENED") \
    X(0x802A0002, "E_WPD_DEVICE_NOT_OPEN") X(0x802A0006, "E_WPD_DEVICE_IS_HUNG") X(0x800700B7, "ERROR_ALREADY_EXISTS") \
    X(DEV_E_NO_SUCH_OBJECT, "no such object")
#define PROBE_CODE_VALUE(code, name) (HRESULT)(code),
#define PROBE_CODE_NAME(code, name) name "\0"

const char *HrText(HRESULT hr)
{
    static const HRESULT codes[] = { PROBE_CODES(PROBE_CODE_VALUE) };
    static const char names[] = PROBE_CODES(PROBE_CODE_NAME);
    char *text = NextBuffer();
    const char *name = "";
    for (unsigned i = 0; i < sizeof codes / sizeof codes[0]; i++)
        if (codes[i] == hr)
            name = NthName(names, (int)i);
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
    static const BYTE pids[] = { 2, 3, 4, 6, 7, 11, 12 };
    static const char names[] = "WPD_OBJECT_ID\0WPD_OBJECT_PARENT_ID\0WPD_OBJECT_NAME\0WPD_OBJECT_FORMAT\0"
                                "WPD_OBJECT_CONTENT_TYPE\0WPD_OBJECT_SIZE\0WPD_OBJECT_ORIGINAL_FILE_NAME";
    for (int i = 0; i < (int)sizeof pids; i++)
        if (pids[i] == pid)
            return NthName(names, i);
    char *text = NextBuffer();
    wsprintfA(text, "property %lu", (unsigned long)pid);
    return text;
}
