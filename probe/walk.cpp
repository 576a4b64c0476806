// The walk Tessaly does, run by the layer itself through the proxies, then what it means.
#include "probe/probe.h"

enum { RUN_MIN = 8, MAX_REASONS = 8 };   // lines of each kind of trouble

static DWORD RunTimes[40000];

// A call that went wrong: a failure, or a property (with nameOnly: the file name) the device
// could not read.
static int Trouble(const CallRecord *r, int nameOnly)
{
    if (FAILED(r->hr))
        return 1;
    for (int k = 0; k < r->keyErrorCount; k++)
        if (!MeansAbsent(r->keyErrors[k].code) && (!nameOnly || r->keyErrors[k].pid == WPD_OBJECT_ORIGINAL_FILE_NAME.pid))
            return 1;
    return 0;
}

// A call that only tells the walk went on: a listing step or a name read without trouble.
static int Plain(const CallRecord *r)
{
    if (r->method != M_ENU_NEXT && r->method != M_PRO_GET_VALUES)
        return 0;
    return !r->refused && !Trouble(r, 0);
}

static void PrintCall(const CallRecord *r)
{
    char errors[RECORD_KEY_ERRORS * 80] = "";   // " KEY=0xXXXXXXXX NAME": at most 1 + 29 + 1 + 38 each
    for (int k = 0; k < r->keyErrorCount; k++)
        wsprintfA(errors + lstrlenA(errors), " %s=%s", KeyName(r->keyErrors[k].pid), HrText(r->keyErrors[k].code));
    Out("call: %s ms %s %s -> %s%s%s\r\n", Ms(r->micro), MethodName(r->method), r->object[0] ? r->object : "-",
        HrText(r->hr), errors, r->refused ? " refused by the probe" : "");
}

static void PrintRun(int first, int end, int phase)
{
    int count = 0;
    for (int i = first; i < end; i++)
        count += RecordAt(i)->phase == phase;
    Out("run: %d calls without trouble, from %s to %s\r\n", count, RecordAt(first)->object, RecordAt(end - 1)->object);
    const int methods[] = { M_PRO_GET_VALUES, M_ENU_NEXT };
    for (int m = 0; m < 2; m++) {
        int n = 0;
        for (int i = first; i < end; i++)
            if (RecordAt(i)->phase == phase && RecordAt(i)->method == methods[m])
                RunTimes[n++] = RecordAt(i)->micro;
        DWORD low, high, median = MedianMicro(RunTimes, n, &low, &high);
        if (n > 0)
            Out("  %s: %d calls, min %s median %s max %s ms\r\n", MethodName(methods[m]), n, Ms(low), Ms(median),
                Ms(high));
    }
}

// The calls of one phase, long runs of plain calls summarised; then the count per method.
static int PrintPhase(int phase, const char *label)
{
    int total = RecordCount(), requests = 0;
    DWORD micro = 0;
    for (int i = 0; i < total;) {
        CallRecord *r = RecordAt(i);
        if (r->phase != phase) {
            i++;
            continue;
        }
        int end = i, plain = 0;
        while (end < total && (RecordAt(end)->phase != phase || Plain(RecordAt(end)))) {
            plain += RecordAt(end)->phase == phase;
            end++;
        }
        if (plain >= RUN_MIN) {
            PrintRun(i, end, phase);
            i = end;
        } else {
            PrintCall(r);
            i++;
        }
    }
    static int counts[M_COUNT];
    ZeroMemory(counts, sizeof counts);
    for (int i = 0; i < total; i++) {
        CallRecord *r = RecordAt(i);
        if (r->phase != phase)
            continue;
        counts[r->method]++;
        if (IsRequestMethod(r->method)) {
            requests++;
            micro += r->micro;
        }
    }
    for (int m = 0; m < M_COUNT; m++)
        if (counts[m] > 0)
            Out("%s count: %s %d\r\n", label, MethodName(m), counts[m]);
    Out("%s requests: %d in %s ms\r\n", label, requests, Ms(micro));
    return requests;
}

// The device the layer last opened, from the walk's own calls.
static int OpenedDevice(void)
{
    int device = -1;
    for (int i = 0; i < RecordCount(); i++) {
        CallRecord *r = RecordAt(i);
        if (r->phase == PHASE_DISCOVERY && r->method == M_DEV_OPEN && SUCCEEDED(r->hr))
            device = r->device;
    }
    return device;
}

enum { SKIPPED_OBJECT = 1, ENDED_DEVICE = 2, PHOTOS_ONLY = 3 };   // CallRecord.skipped

// The layer tells of each object below a storage that it passed over; the call that failed
// on it is the last one recorded. It tells too of the object a device ended on at its app
// folder: the last call recorded on that object.
static void NoteSkipped(LPCWSTR objectId, int call, HRESULT)
{
    static const BYTE methods[] = { M_PRO_GET_VALUES, M_CON_ENUM, M_ENU_NEXT };   // by DEV_SKIP_...
    int last = RecordCount() - 1;
    if (last < 0 || DroppedRecords() != 0)
        return;
    if (call < DEV_ENDS_DEVICE) {
        if (RecordAt(last)->method == methods[call])
            RecordAt(last)->skipped = SKIPPED_OBJECT;
        return;
    }
    char object[RECORD_OBJECT_CHARS];
    Utf8(objectId, object, sizeof object);
    for (int i = last; i >= 0; i--)
        if (RecordAt(i)->phase == PHASE_DISCOVERY && lstrcmpA(RecordAt(i)->object, object) == 0) {
            RecordAt(i)->skipped = call == DEV_ENDS_DEVICE ? ENDED_DEVICE : PHOTOS_ONLY;
            return;
        }
}

enum { ENDED, NOTED, SKIPPED, KINDS };

// What became of a discovery call that went wrong (-1: nothing did). It ended its device when
// it was the last call on it and failed or could not read a name, or when it listed DEVICE and
// showed no storage; the layer passed over its object; or the layer took it in its stride.
static int KindOf(int i, const int *last, int *noStorage)
{
    CallRecord *r = RecordAt(i);
    int lastCall = last[r->device + 1];
    *noStorage = r->method == M_CON_ENUM && SUCCEEDED(r->hr) && r->detail == 0 && lstrcmpA(r->object, "DEVICE") == 0 &&
                 !Trouble(RecordAt(lastCall), 0);
    if (r->phase != PHASE_DISCOVERY || (!*noStorage && !Trouble(r, 0) && r->skipped != ENDED_DEVICE))
        return -1;
    if (r->skipped == ENDED_DEVICE)
        return ENDED;
    return r->skipped == SKIPPED_OBJECT ? SKIPPED : *noStorage || (i == lastCall && Trouble(r, 1)) ? ENDED : NOTED;
}

// "device N (ID)" and what went wrong on the call.
static void Describe(const CallRecord *r, int noStorage, char *device, char *what)
{
    const char *object = r->object[0] ? r->object : "-";
    wsprintfA(device, "device %d (%s)", r->device + 1, Utf8(DeviceId(r->device), what, DEV_PATH_CHARS * 3));
    if (noStorage)
        wsprintfA(what, "%s on %s listed no storage", MethodName(r->method), object);
    else if (!Trouble(r, 0))   // the device ended on it all the same: a child of the app folder without a name
        wsprintfA(what, "%s on %s gave no file name", MethodName(r->method), object);
    else if (FAILED(r->hr))
        wsprintfA(what, "%s on %s answered %s", MethodName(r->method), object, HrText(r->hr));
    for (int k = 0; k < r->keyErrorCount && SUCCEEDED(r->hr); k++)
        if (!MeansAbsent(r->keyErrors[k].code))
            wsprintfA(what, "%s on %s could not read %s: %s", MethodName(r->method), object,
                      KeyName(r->keyErrors[k].pid), HrText(r->keyErrors[k].code));
}

// The storage listing a phone sharing only its photos answered (-1: none), as the layer told.
static int PhotosOnlyRecord(void)
{
    for (int i = 0; i < RecordCount(); i++)
        if (RecordAt(i)->skipped == PHOTOS_ONLY)
            return i;
    return -1;
}

// A line for each discovery call that went wrong: LABEL for those that ended a device, then
// "noted" and "skipped" (no line without a LABEL). With verdictToo, the verdict ranks as
// Tessaly's messages do: a device that ended at its app folder, then one that showed no storage
// (unlock it), then one that shares only its photos, then the first that ended. Returns how many
// ended a device.
static int PrintTrouble(int verdictToo, const char *label)
{
    static int last[MAX_PROBE_DEVICES + 1];   // the last discovery call on each device ([0]: none)
    const char *labels[KINDS] = { label, "noted", "skipped" };
    char device[DEV_PATH_CHARS * 3 + 32], what[DEV_PATH_CHARS * 3];   // a call's line is under 200
    int shown[KINDS] = { 0 }, verdict = -1, verdictRank = 0, noStorage, ended = 0;
    for (int i = 0; i < RecordCount(); i++)
        if (RecordAt(i)->phase == PHASE_DISCOVERY)
            last[RecordAt(i)->device + 1] = i;
    for (int i = 0; i < RecordCount(); i++) {
        if (KindOf(i, last, &noStorage) != ENDED)
            continue;
        ended++;
        int rank = RecordAt(i)->skipped == ENDED_DEVICE ? 3 : noStorage ? 2 : 1;
        if (rank > verdictRank) {
            verdict = i;
            verdictRank = rank;
        }
    }
    if (label == NULL)
        return ended;
    int photos = PhotosOnlyRecord();
    if (verdictToo && photos >= 0 && verdictRank < 2) {
        Describe(RecordAt(photos), 0, device, what);
        Out("verdict: not found: %s: photos only: set its USB connection to File transfer, and try again\r\n", device);
    } else if (verdictToo && verdict >= 0) {
        Describe(RecordAt(verdict), verdictRank == 2, device, what);
        Out("verdict: not found: %s: %s\r\n", device,
            verdictRank == 2 ? "no storage: unlock the handheld, set its USB connection to File transfer, and try again"
                             : what);
    }
    for (int kind = 0; kind < KINDS; kind++) {
        for (int i = 0; i < RecordCount(); i++) {
            if (KindOf(i, last, &noStorage) != kind || ++shown[kind] > MAX_REASONS)
                continue;
            Describe(RecordAt(i), noStorage, device, what);
            Out("%s: %s: %s\r\n", labels[kind], device, what);
        }
        if (shown[kind] > MAX_REASONS)
            Out("%s: %d more\r\n", labels[kind], shown[kind] - MAX_REASONS);
    }
    return ended;
}

static int AnyDeviceListed(void)
{
    for (int i = 0; i < RecordCount(); i++)
        if (RecordAt(i)->phase == PHASE_DISCOVERY && RecordAt(i)->method == M_MGR_GET_DEVICES &&
            RecordAt(i)->detail > 0)
            return 1;
    return 0;
}

// The full walk over every device the probe saw, for a file the limited walk could not reach.
static void FullWalkVerdict(const SetupFacts *setup, WalkFacts *walk)
{
    int maxDepth = setup->searchDepth + 8 > 24 ? 24 : (setup->searchDepth + 8 < 8 ? 8 : setup->searchDepth + 8);
    int cut = 0;
    CurrentPhase = PHASE_FULL_WALK;
    for (int d = 0; d < MAX_PROBE_DEVICES && DeviceId(d)[0] != '?'; d++) {
        IPortableDevice *device = NULL;
        IPortableDeviceContent *content = NULL;
        char path[DEV_PATH_CHARS * 3], id[DEV_PATH_CHARS * 3];
        int depth = 0;
        if (SUCCEEDED(OpenReadOnly(DeviceId(d), &device)) && SUCCEEDED(device->Content(&content)))
            depth = FullWalkDepth(content, d, maxDepth, path, sizeof path, &cut);
        if (content != NULL)
            content->Release();
        if (device != NULL) {
            device->Close();
            device->Release();
        }
        if (depth > 0) {
            Out("verdict: deeper than SearchDepth: found at depth %d by a full walk to depth %d\r\n", depth, depth);
            Out("file: %s\r\n", path);
            Out("device: %d (%s)\r\n", d + 1, Utf8(DeviceId(d), id, sizeof id));
            Out("advice: set SearchDepth=%d in section [Corvane] of the configuration file\r\n", depth);
            walk->device = d;
            return;
        }
    }
    if (cut)
        Out("verdict: no verdict: the full walk to depth %d was cut short and did not find the file in what it "
            "looked at; it may lie in what was left out\r\n", maxDepth);
    else
        Out("verdict: not found: no folder Corvane holding Corvane_Info.ini on any device (full walk to depth %d)\r\n",
            maxDepth);
}

void ReportWalk(const SetupFacts *setup, WalkFacts *walk, int writeTest)
{
    char settingsPath[DEV_PATH_CHARS], name[128], filePath[DEV_PATH_CHARS * 3];
    int fileDepth = 0;
    OutSection("Walk");
    CurrentPhase = PHASE_DISCOVERY;
    LONGLONG start = Now();
    DevStartup(1);
    DevSkippedObject = NoteSkipped;
    walk->found = DevDevicePath(settingsPath);
    if (walk->found) {
        // What the dialog does next: resolve the device path and download the file.
        CurrentPhase = PHASE_READ;
        DevGetProfileString("Corvane", "Name", "", name, sizeof name, settingsPath);
    }
    DevSkippedObject = NULL;
    walk->walkMicro = MicroSince(start);
    walk->device = OpenedDevice();
    walk->folderId[0] = '\0';
    walk->walkRequests = PrintPhase(PHASE_DISCOVERY, "discovery");
    walk->walkRequests += PrintPhase(PHASE_READ, "read");
    Out("walk time: %s ms\r\n", Ms(walk->walkMicro));
    if (walk->found) {
        IPortableDeviceProperties *properties = NULL;
        CurrentPhase = PHASE_VERDICT;
        lstrcpynW(walk->folderId, DevConnection.AppFolderId, DEV_PATH_CHARS);
        if (SUCCEEDED(DevConnection.content->Properties(&properties))) {
            ObjectPath(properties, DevConnection.InfoFileId, filePath, sizeof filePath, &fileDepth);
            properties->Release();
        }
        ReportEditPath();
        if (writeTest)
            WriteTest();
    }
    DevShutdown();

    OutSection("Verdict");
    char id[DEV_PATH_CHARS * 3];
    if (setup->root[0] != '\0')
        Out("verdict: Root is set: Tessaly uses %s\\Corvane\\CORVANE_INFO.ini and looks at no drive or device\r\n",
            setup->root);
    else if (setup->driveWithFile[0] != '\0')
        Out("verdict: found on drive %s: Tessaly takes it from there and looks at no device\r\n",
            setup->driveWithFile);
    if (walk->found) {
        if (setup->root[0] == '\0' && setup->driveWithFile[0] == '\0')
            Out("verdict: found: %s\r\n", filePath);
        Out("file: %s\r\n", filePath);
        Out("depth: %d\r\n", fileDepth);
        Out("device: %d (%s)\r\n", walk->device + 1, Utf8(DeviceId(walk->device), id, sizeof id));
        PrintTrouble(0, "noted");
        return;
    }
    int first = setup->root[0] == '\0' && setup->driveWithFile[0] == '\0';
    if (PrintTrouble(0, NULL) > 0 || PhotosOnlyRecord() >= 0) {
        PrintTrouble(first, "reason");
        return;
    }
    if (!AnyDeviceListed())
        Out("%s: no portable device is connected (or none is shared with this user)\r\n", first ? "verdict: not found" : "device");
    else
        FullWalkVerdict(setup, walk);
    PrintTrouble(0, "reason");   // what was passed over or taken in its stride
}
