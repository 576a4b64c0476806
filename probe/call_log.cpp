// Every call that went through a proxy: which, on what, its answer and its time.
#include <stdlib.h>
#include "probe/probe.h"

enum { MAX_RECORDS = 40000 };

static CallRecord Records[MAX_RECORDS];
static volatile LONG RecordsTaken;
static WCHAR DeviceIds[MAX_PROBE_DEVICES][DEV_PATH_CHARS];
static int DeviceCount;
int CurrentPhase;
int AllowWrites;

// Packed "a\0b\0...": no table of pointers, and each interface's name kept once.
#define PROBE_INTERFACE_NAME(id, name) name "\0"
#define PROBE_METHOD_NAME(id, face, name, request, write) name "\0"
#define PROBE_METHOD_FLAGS(id, face, name, request, write) (request) | ((write) << 1) | ((face) << 2),
static const char InterfaceNames[] = PROBE_INTERFACES(PROBE_INTERFACE_NAME);
static const char MethodNames[] = PROBE_METHODS(PROBE_METHOD_NAME);
static const BYTE MethodFlags[] = { PROBE_METHODS(PROBE_METHOD_FLAGS) };

const char *NthName(const char *packed, int n)
{
    while (n-- > 0)
        packed += lstrlenA(packed) + 1;
    return packed;
}

const char *MethodName(int method)
{
    static char names[M_COUNT][64];   // made on first use
    if (names[method][0] == '\0')
        wsprintfA(names[method], "%s::%s", NthName(InterfaceNames, MethodFlags[method] >> 2), NthName(MethodNames, method));
    return names[method];
}
int IsRequestMethod(int method) { return MethodFlags[method] & 1; }
int IsWriteMethod(int method) { return (MethodFlags[method] & 2) != 0; }

LONGLONG Now(void)
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

DWORD MicroSince(LONGLONG start)
{
    static LONGLONG frequency;
    if (frequency == 0) {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        frequency = f.QuadPart > 0 ? f.QuadPart : 1;
    }
    return (DWORD)((Now() - start) * 1000000 / frequency);
}

CallRecord *Record(int method, int device, LPCWSTR object, HRESULT hr, LONGLONG start)
{
    DWORD micro = MicroSince(start);
    LONG index = InterlockedIncrement(&RecordsTaken) - 1;
    if (index >= MAX_RECORDS)
        return NULL;
    CallRecord *r = &Records[index];
    r->phase = (BYTE)CurrentPhase;
    r->method = (BYTE)method;
    r->device = device;
    r->hr = hr;
    r->micro = micro;
    if (object != NULL)
        WideCharToMultiByte(CP_UTF8, 0, object, -1, r->object, RECORD_OBJECT_CHARS, NULL, NULL);
    r->object[RECORD_OBJECT_CHARS - 1] = '\0';
    return r;
}

int RecordCount(void)
{
    return RecordsTaken < MAX_RECORDS ? (int)RecordsTaken : MAX_RECORDS;
}

CallRecord *RecordAt(int index) { return &Records[index]; }

long DroppedRecords(void) { return RecordsTaken > MAX_RECORDS ? RecordsTaken - MAX_RECORDS : 0; }

int DeviceIndex(LPCWSTR pnpId)
{
    if (pnpId == NULL)
        return -1;
    for (int i = 0; i < DeviceCount; i++)
        if (lstrcmpW(DeviceIds[i], pnpId) == 0)
            return i;
    if (DeviceCount == MAX_PROBE_DEVICES || lstrlenW(pnpId) >= DEV_PATH_CHARS)
        return -1;
    lstrcpyW(DeviceIds[DeviceCount], pnpId);
    return DeviceCount++;
}

LPCWSTR DeviceId(int index)
{
    return index >= 0 && index < DeviceCount ? DeviceIds[index] : L"?";
}

static int CompareMicro(const void *a, const void *b)
{
    DWORD x = *(const DWORD *)a, y = *(const DWORD *)b;
    return x < y ? -1 : x > y;
}

DWORD MedianMicro(DWORD *times, int n, DWORD *low, DWORD *high)
{
    *low = *high = 0;
    if (n <= 0)
        return 0;
    qsort(times, (size_t)n, sizeof *times, CompareMicro);
    *low = times[0];
    *high = times[n - 1];
    return n % 2 ? times[n / 2] : (times[n / 2 - 1] + times[n / 2]) / 2;
}

int MeansAbsent(HRESULT code)
{
    return code == HRESULT_FROM_WIN32(ERROR_NOT_FOUND) || code == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) ||
           code == E_NOTIMPL;
}
