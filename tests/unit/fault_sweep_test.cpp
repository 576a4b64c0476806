// Fault sweep: whatever fails, whenever the run stops and whatever the device answers, the
// handheld keeps its settings file. Every device call of a whole run fails in turn, before it
// acts or (for the calls that change the device) after acting; every property read answers
// that its values could not be read; and the run is killed after every call in turn. That on
// devices that rename, that cannot, that give renamed objects new ids, whose ids follow names,
// and that lie about renaming.
//
// After each run the device must hold a complete settings file, old or new, under its name or
// a leftover name; after a run that was not killed, under its own name, and the user must have
// been told whenever the new name is not there. A fresh run on the same device must then find
// the handheld, read the old or the new name, write its own and leave exactly one settings
// file, every other key kept.
#include <iostream>
#include <string>
#include <vector>
#include "devfs/devfs.h"
#include "support/device_fixture.h"
#include "support/local_files.h"

namespace {

const wchar_t AppFolder[] = L"Internal storage\\Corvane";
enum { REAL, NEW_COPY, OLD_COPY, NAMES };
const wchar_t *const FileNames[NAMES] = {L"Corvane_Info.ini", L"Corvane_Info.ini.tessaly-new",
                                         L"Corvane_Info.ini.tessaly-old"};
const char OldName[] = "Demo phone";
const char NewName[] = "Sweep name";
const char FreshName[] = "Fresh name";

std::string Content(const char *name)
{
    return std::string("[Before]\r\nKept=1\r\n[Corvane]\r\nName=") + name + "\r\nColour=green\r\n[After]\r\nAlso=kept\r\n";
}

struct DeviceKind {
    const char *name;
    void (*make)(int device);
    bool writable;   // whether a clean run can write on it at all
};
const DeviceKind Kinds[] = {
    {"device that renames", [](int) {}, true},
    {"device that cannot rename", [](int device) { DevsimSetRenameRefused(device, true); }, true},
    {"device that gives renamed objects new ids",
     [](int device) { DevsimSetIdScheme(device, DEVSIM_IDS_REISSUED_ON_RENAME); }, true},
    {"device whose ids follow names", [](int device) { DevsimSetIdScheme(device, DEVSIM_IDS_FROM_NAMES); }, true},
    // Its renames never happen: the write fails, and must say so.
    {"device that lies about renaming", [](int device) { DevsimSetRenameLies(device, true); }, false},
};

enum FaultKind { CallFails, ActsThenFails, ValueUnreadable, Killed };
const char *const FaultNames[] = {"a call fails before acting", "a call acts, then fails",
                                  "a property read cannot read its values", "the run is killed after a call"};
// The calls that change the device, each of which may act and then answer a failure.
const char *const MutatingCalls[] = {"IPortableDeviceProperties::SetValues", "IPortableDeviceContent::Delete",
                                     "IStream::Commit", "IStream::Write"};
// The calls that cross to the device; the rest are answered on the desktop.
const char *const Requests[] = {
    "IPortableDevice::Open", "IPortableDeviceContent::EnumObjects", "IPortableDeviceProperties::GetValues",
    "IPortableDeviceProperties::SetValues", "IPortableDeviceResources::GetStream", "IStream::Read", "IStream::Write",
    "IStream::Commit", "IPortableDeviceContent::CreateObjectWithPropertiesAndData", "IPortableDeviceContent::Delete",
};

struct Fault {
    FaultKind kind;
    long nth;             // the call (any method), the method's call, or the read concerned
    HRESULT hr;
    const char *method;   // ActsThenFails only
};

std::string Hex(HRESULT hr)
{
    char text[16];
    wsprintfA(text, "0x%08lX", (unsigned long)hr);
    return text;
}

std::string Describe(const Fault &f)
{
    switch (f.kind) {
    case CallFails: return "device call " + std::to_string(f.nth) + " fails with " + Hex(f.hr);
    case ActsThenFails: return std::string(f.method) + " call " + std::to_string(f.nth) + " acts, then answers " + Hex(f.hr);
    case ValueUnreadable: return "GetValues call " + std::to_string(f.nth) + " cannot read its values (" + Hex(f.hr) + ")";
    default: return "the run is killed after device call " + std::to_string(f.nth);
    }
}

// What the program does on a device, without the windows: find the file, read it (dialog
// run), write a name. -1: no handheld found (message 201); 0: the write failed (a message); 1: written.
int RunLikeTheProgram(bool dialog, const char *name, std::string *read)
{
    DevStartup(1);
    char path[MAX_PATH] = "";
    if (!DevDevicePath(path))
        return -1;   // the program shows its not-found message and ends here, without DevShutdown
    if (dialog) {
        char text[16] = "";
        DevGetProfileString("Corvane", "Name", "", text, sizeof text, path);
        if (read) *read = text;
    }
    int wrote = DevWriteProfileString("Corvane", "Name", name, path) ? 1 : 0;
    DevShutdown();
    return wrote;
}

// The app folder: what each of the three names holds, and how many objects it has.
struct Folder {
    bool has[NAMES] = {};
    std::string content[NAMES];
    size_t objects = 0;
};

Folder Look(int device)
{
    Folder f;
    int app = DevsimFind(device, AppFolder);
    f.objects = app < 0 ? 0 : DevsimChildren(device, app).size();
    for (int i = 0; i < NAMES; i++) {
        int object = DevsimFind(device, (std::wstring(AppFolder) + L"\\" + FileNames[i]).c_str());
        f.has[i] = object >= 0;
        if (f.has[i]) f.content[i] = DevsimData(device, object);
    }
    return f;
}

struct Figures {
    long cases = 0;
    long oldUnderName = 0, newUnderName = 0;
    long nameMissing = 0;       // no file under the real name after the run
    long noCompleteFile = 0;    // not even under a leftover name
    long lostEverywhere = 0;    // nor in a local copy
    long untold = 0;            // the new name not under the real name, and nothing said
    long falseAlarms = 0;       // a failure told although the new name is there
    long strayCopies = 0;       // a local copy kept beside an intact file
    long leftovers = 0;         // other objects in the app folder after the run
    long freshRunFailures = 0;
    std::vector<long> missingAfter;   // killed runs: the calls after which the real name was missing
};

class FaultSweepTest : public DeviceTest {
protected:
    int MakeHandheld(const DeviceKind &kind)
    {
        DevsimReset();
        int device = DevsimAddDevice(L"\\\\?\\usb#sweep");
        int storage = DevsimAddStorage(device, L"Internal storage");
        DevsimAddFolder(device, storage, L"DCIM");
        DevsimAddFolder(device, storage, L"Download");
        int app = DevsimAddFolder(device, storage, L"Corvane");
        DevsimAddFile(device, app, FileNames[REAL], Content(OldName));
        kind.make(device);
        return device;
    }

    void ExpectNoLeaks(const char *when)
    {
        EXPECT_EQ(0, DevsimLiveObjects() - liveAtStart_) << "devsim objects leaked (or released twice) " << when;
        EXPECT_EQ(0, DevsimOutstandingBlocks()) << "CoTaskMemAlloc blocks leaked " << when;
    }

    void RunCase(const DeviceKind &kind, bool dialog, const Fault &fault, Figures *figures)
    {
        SCOPED_TRACE(std::string(dialog ? "dialog run" : "command-line run") + " on a " + kind.name + ": " +
                     Describe(fault));
        int device = MakeHandheld(kind);
        std::set<std::string> before = WorkingCopyFiles();
        switch (fault.kind) {
        case CallFails: DevsimFailNthCall(fault.nth, fault.hr); break;
        case ActsThenFails: DevsimFailCall(fault.method, (int)fault.nth, fault.hr, nullptr, DEVSIM_AFTER_ACTING); break;
        case ValueUnreadable: DevsimValueError(nullptr, nullptr, (int)fault.nth, fault.hr); break;
        case Killed: DevsimPullCableAfter(fault.nth); break;
        }
        int wrote = RunLikeTheProgram(dialog, NewName, nullptr);
        DevsimClearRules();
        bool killed = fault.kind == Killed;
        figures->cases++;
        ExpectNoLeaks("after the run");

        Folder f = Look(device);
        bool complete = false;
        for (int i = 0; i < NAMES; i++) {
            if (!f.has[i]) continue;
            bool whole = f.content[i] == Content(OldName) || f.content[i] == Content(NewName);
            EXPECT_TRUE(whole) << "the device's " << std::string(FileNames[i], FileNames[i] + wcslen(FileNames[i]))
                               << " holds neither the old nor the new settings: \"" << Printable(f.content[i]) << "\"";
            complete = complete || whole;
        }
        bool newUnderName = f.has[REAL] && f.content[REAL] == Content(NewName);
        figures->newUnderName += newUnderName;
        figures->oldUnderName += f.has[REAL] && f.content[REAL] == Content(OldName);
        figures->leftovers += (long)f.objects - (f.has[REAL] ? 1 : 0);
        if (!complete) {
            figures->noCompleteFile++;
            ADD_FAILURE() << "the device holds no complete settings file under any of the three names";
        }
        if (!f.has[REAL]) {
            figures->nameMissing++;
            if (killed)
                figures->missingAfter.push_back(fault.nth);
            else
                ADD_FAILURE() << "after a run with one failing call the settings file is not under its name: the app "
                                 "on the handheld cannot find it, and the run did not repair that";
        }
        if (!killed && !newUnderName && wrote == 1) {
            figures->untold++;
            ADD_FAILURE() << "the write said it succeeded, but the new name is not under the real name";
        }
        if (!killed && newUnderName && wrote == 0) {
            figures->falseAlarms++;
            ADD_FAILURE() << "the write said it failed, but the new name is under the real name";
        }

        std::set<std::string> left = NewFiles(before, WorkingCopyFiles());
        bool savedLocally = false;
        for (const std::string &file : left) {
            std::string content;
            savedLocally = savedLocally || (ReadLocalFile(file, &content) &&
                                            (content == Content(NewName) || content == Content(OldName)));
        }
        if (!complete && !savedLocally) {
            figures->lostEverywhere++;
            ADD_FAILURE() << "the settings are neither on the device nor in a local TMP*.tmp file in " << TempFolder();
        }
        if (!killed && f.has[REAL] && !left.empty()) {
            figures->strayCopies += (long)left.size();
            ADD_FAILURE() << left.size() << " temporary file(s) kept although the device holds its settings file";
        }
        if (!killed && !f.has[REAL] && !savedLocally)
            ADD_FAILURE() << "the file is not under its name and no local copy was kept";
        for (const std::string &file : left) DeleteFileA(file.c_str());

        FreshRun(kind, device, figures);
    }

    // A later run on the same device: it finds the handheld, reads the old or the new name and
    // leaves exactly one settings file with its own name and every other key.
    void FreshRun(const DeviceKind &kind, int device, Figures *figures)
    {
        std::set<std::string> before = WorkingCopyFiles();
        std::string read = "(not read)";
        int wrote = RunLikeTheProgram(true, FreshName, &read);
        Folder f = Look(device);
        std::string problem;
        if (wrote < 0)
            problem = "did not find the handheld";
        else if (read != OldName && read != NewName)
            problem = "read the name \"" + read + "\", neither the old nor the new one";
        else if (kind.writable && wrote != 1)
            problem = "could not write its own name";
        else if (!kind.writable && wrote != 0)
            problem = "said it wrote its name on a device whose renames never happen";
        else if (f.objects != 1 || !f.has[REAL])
            problem = "left " + std::to_string(f.objects) + " objects in the app folder" +
                      (f.has[REAL] ? "" : ", none of them the settings file");
        else if (kind.writable && f.content[REAL] != Content(FreshName))
            problem = "left a settings file holding \"" + Printable(f.content[REAL]) + "\"";
        if (!problem.empty()) {
            figures->freshRunFailures++;
            ADD_FAILURE() << "the next run " << problem;
        }
        ExpectNoLeaks("after the next run");
        std::set<std::string> left = NewFiles(before, WorkingCopyFiles());
        EXPECT_TRUE(left.empty() || !kind.writable) << "the next run left a temporary file although it wrote its name";
        for (const std::string &file : left) DeleteFileA(file.c_str());
    }

    // Requests (calls that cross to the device) under way while the real name was missing: the
    // calls that follow each call after which a killed run left it missing, in the clean run's log.
    static long RequestsWhileMissing(const Figures &figures, const std::vector<std::string> &log)
    {
        long requests = 0;
        for (long call : figures.missingAfter) {
            if (call >= (long)log.size()) continue;
            std::string method = log[call].substr(0, log[call].find(' '));   // log[call] is call number call + 1
            for (const char *r : Requests) requests += method == r;
        }
        return requests;
    }

    void Sweep(const DeviceKind &kind)
    {
        for (bool dialog : {true, false}) {
            std::string what = std::string(dialog ? "dialog run" : "command-line run") + " on a " + kind.name;
            // A clean run gives the calls to sweep over, and proves the device's kind.
            MakeHandheld(kind);
            std::string read;
            int wrote = RunLikeTheProgram(dialog, NewName, &read);
            long calls = DevsimTotalCalls();
            long reads = DevsimCallCount("IPortableDeviceProperties::GetValues");
            std::vector<std::string> log = DevsimCallLog();
            ASSERT_EQ(kind.writable ? 1 : 0, wrote) << "a clean " << what << " gave the wrong result";
            ASSERT_GT(calls, 10) << "a clean " << what << " made suspiciously few device calls";
            std::vector<long> perMethod;
            for (const char *m : MutatingCalls) perMethod.push_back(DevsimCallCount(m));
            ExpectNoLeaks("after the clean run");

            Figures figures[4];
            for (HRESULT hr : {E_FAIL, HRESULT_FROM_WIN32(ERROR_BUSY)})
                for (long n = 1; n <= calls + 1; n++) RunCase(kind, dialog, {CallFails, n, hr, nullptr}, &figures[CallFails]);
            for (size_t m = 0; m < sizeof MutatingCalls / sizeof MutatingCalls[0]; m++)
                for (long n = 1; n <= perMethod[m]; n++)
                    RunCase(kind, dialog, {ActsThenFails, n, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), MutatingCalls[m]},
                            &figures[ActsThenFails]);
            for (long n = 1; n <= reads + 1; n++)
                RunCase(kind, dialog, {ValueUnreadable, n, HRESULT_FROM_WIN32(ERROR_BUSY), nullptr}, &figures[ValueUnreadable]);
            for (long n = 1; n <= calls; n++) RunCase(kind, dialog, {Killed, n, S_OK, nullptr}, &figures[Killed]);

            for (int k = CallFails; k <= Killed; k++) {
                const Figures &f = figures[k];
                std::cout << "[ sweep    ] " << what << ", " << FaultNames[k] << ": " << f.cases << " cases ("
                          << calls << " calls in a clean run); new name under the real name " << f.newUnderName
                          << ", old " << f.oldUnderName << ", real name missing after the run " << f.nameMissing;
                if (k == Killed)
                    std::cout << " (requests while it was missing: " << RequestsWhileMissing(f, log) << ")";
                std::cout << ", no complete file under any name " << f.noCompleteFile << ", lost from both places "
                          << f.lostEverywhere << ", failures not told " << f.untold << ", false alarms "
                          << f.falseAlarms << ", local copies beside an intact file " << f.strayCopies
                          << ", leftovers after the run " << f.leftovers << ", next runs that failed "
                          << f.freshRunFailures << std::endl;
            }
            if (kind.writable && std::string(kind.name) != "device that cannot rename")
                EXPECT_LE(RequestsWhileMissing(figures[Killed], log), 1)
                    << "on a " << kind.name << " the real name is missing for more than one request";
            if (HasFatalFailure()) return;
        }
    }
};

// A busy answer is a moment, not a verdict. Every request of a clean run answers ERROR_BUSY in
// turn, once and then twice in a row; every property read gives its values as busy; every
// rename gives the name's result as busy. Each run must end exactly as the clean run did, and
// must have waited once for each busy answer. A device busy for good ends the run within the
// bound, with the message a failing device gives.
TEST_F(FaultSweepTest, BusyAnswersAreAMomentNotAVerdict)
{
    auto isRequest = [](const std::string &entry) {
        std::string method = entry.substr(0, entry.find(' '));
        for (const char *r : Requests)
            if (method == r) return true;
        return method == "IEnumPortableDeviceObjectIDs::Next";
    };
    for (bool dialog : {true, false}) {
        std::string what = dialog ? "dialog run" : "command-line run";
        MakeHandheld(Kinds[0]);
        ASSERT_EQ(1, RunLikeTheProgram(dialog, NewName, nullptr)) << "a clean " << what << " failed";
        long requests = 0, lastRead = 0;
        for (const std::string &entry : DevsimCallLog()) {
            if (!isRequest(entry)) continue;
            requests++;
            if (entry.rfind("IStream::Read", 0) == 0) lastRead = requests;
        }
        long reads = DevsimCallCount("IPortableDeviceProperties::GetValues");
        long renames = DevsimCallCount("IPortableDeviceProperties::SetValues");

        long cases = 0, unlike = 0;
        auto check = [&](const std::string &why, long waits, void (*arm)(long, long), long a, long b) {
            SCOPED_TRACE(what + ": " + why);
            int device = MakeHandheld(Kinds[0]);
            std::set<std::string> before = WorkingCopyFiles();
            ResetBusyWaits();
            arm(a, b);
            int wrote = RunLikeTheProgram(dialog, NewName, nullptr);
            DevsimClearRules();
            Folder f = Look(device);
            bool same = wrote == 1 && f.objects == 1 && f.has[REAL] && f.content[REAL] == Content(NewName) &&
                        BusyWaits() == waits && NewFiles(before, WorkingCopyFiles()).empty();
            cases++;
            unlike += !same;
            EXPECT_TRUE(same) << "the run did not end like the clean one: write result " << wrote << ", "
                              << f.objects << " object(s) in the app folder, the settings file holding \""
                              << Printable(f.content[REAL]) << "\", " << BusyWaits() << " wait(s) for " << waits
                              << " busy answer(s)";
            ExpectNoLeaks("after a busy run");
        };
        for (long times : {1L, 2L})
            for (long k = 1; k <= requests; k++)
                check("request " + std::to_string(k) + " answers busy " + std::to_string(times) + " time(s)", times,
                      [](long at, long n) { DevsimBusyAt(at, n); }, k, times);
        for (long n = 1; n <= reads; n++)
            check("read " + std::to_string(n) + " gives its values as busy", 1,
                  [](long nth, long) { DevsimValueError(nullptr, nullptr, (int)nth, HRESULT_FROM_WIN32(ERROR_BUSY)); }, n, 0);
        for (long n = 1; n <= renames; n++)
            check("rename " + std::to_string(n) + " gives the name's result as busy", 1,
                  [](long nth, long) { DevsimSetValuesError(nullptr, (int)nth, HRESULT_FROM_WIN32(ERROR_BUSY)); }, n, 0);
        std::cout << "[ busy     ] " << what << ": " << requests << " requests in a clean run, " << cases
                  << " cases, " << cases - unlike << " ended like the clean run" << std::endl;

        // Busy for good: from the first request (the handheld is never found: message 201), and
        // from the upload's first request (the write fails, the file as it was: message 202).
        const struct { const char *why; long from; int wrote; } forGood[] = {
            {"busy for good from the start", 1, -1},
            {"busy for good from the upload on", lastRead + 1, 0},
        };
        for (const auto &c : forGood) {
            SCOPED_TRACE(what + ": " + c.why);
            int device = MakeHandheld(Kinds[0]);
            ResetBusyWaits();
            DevsimBusyAt(c.from, 1000000);
            EXPECT_EQ(c.wrote, RunLikeTheProgram(dialog, NewName, nullptr))
                << "the run should end as a device that fails ends it (-1: not found, 0: not saved)";
            DevsimClearRules();
            EXPECT_LE(BusyWaitedMs(), 10000u) << "the run waited for the busy device longer than its bound";
            EXPECT_GT(BusyWaits(), 0) << "a busy device was not even waited for";
            EXPECT_EQ(Content(OldName), Look(device).content[REAL]) << "the settings file changed";
            std::cout << "[ busy     ] " << what << ", " << c.why << ": " << BusyWaits() << " waits, "
                      << BusyWaitedMs() << " ms in all" << std::endl;
            ExpectNoLeaks("after a run on a device busy for good");
        }
    }
}

TEST_F(FaultSweepTest, ADeviceThatRenamesNeverLosesTheSettingsFile)
{
    Sweep(Kinds[0]);
}

TEST_F(FaultSweepTest, ADeviceThatCannotRenameNeverLosesTheSettingsFile)
{
    Sweep(Kinds[1]);
}

TEST_F(FaultSweepTest, ADeviceThatGivesRenamedObjectsNewIdsNeverLosesTheSettingsFile)
{
    Sweep(Kinds[2]);
}

TEST_F(FaultSweepTest, ADeviceWhoseIdsFollowNamesNeverLosesTheSettingsFile)
{
    Sweep(Kinds[3]);
}

TEST_F(FaultSweepTest, ADeviceThatLiesAboutRenamingNeverLosesTheSettingsFile)
{
    Sweep(Kinds[4]);
}

}  // namespace
