// Fault sweep: whatever fails, whenever the run stops and whatever the device answers, the
// handheld keeps its settings file. Every device call of a whole run fails in turn, before it
// acts or (for the calls that change the device) after acting; every property read answers
// that its values, or only its size, could not be read; every stream read ends early while
// saying all is well; every commit keeps a byte less while saying all is well; the file's name
// reads as absent on any two of its reads; and the run is killed after every call in turn. That on devices that rename, that cannot, that give renamed objects new ids,
// whose ids follow names, that lie about renaming, and phones that leave phantoms where an
// upload was cut off.
//
// After each run the device holds a complete settings file under its name, or, where a phantom
// holds that name until the handheld is reconnected, under a leftover name; a killed run may
// leave it under a leftover name. No partial or empty file is ever installed under the name, the
// user is told whenever the new name is not there and never when it is, and what the message
// says of the device is true ("as it was" only of a file complete under its name and unchanged). Later runs on the same device must find the handheld, read what it
// holds, write their own name and leave exactly one settings file with every other key; on a
// phone with phantoms, after a reconnect. Every state that left the name missing or something
// beside it is then met by a run that fails at each of its calls, and one killed after each.
#include <iostream>
#include <map>
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
// The names the runs write: the handheld starts with the first, the faulted run writes the
// second, a run under fire the third, and the later runs the last two.
const char OldName[] = "Old";   // shorter than the names written, so that a save grows the file
const char NewName[] = "Sweep name";
const char FreshName[] = "Fresh name";
const char NextName[] = "Next name";
const char LaterName[] = "Later name";

std::string Content(const char *name)
{
    return std::string("[Before]\r\nKept=1\r\n[Corvane]\r\nName=") + name + "\r\nColour=green\r\n[After]\r\nAlso=kept\r\n";
}

// The name whose complete settings the bytes are, or null for anything else (empty, cut, mixed).
const char *CompleteName(const std::string &data)
{
    for (const char *name : {OldName, NewName, FreshName, NextName, LaterName})
        if (data == Content(name)) return name;
    return nullptr;
}

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

struct DeviceKind {
    const char *name;
    void (*make)(int device);
    bool writable;   // whether a clean run can write on it at all
    bool phantoms;   // whether an upload cut off leaves a phantom
    long gap;        // requests under way while the app folder holds no complete R, in a clean run
    bool keepsOwner; // every save edits R in place: R stays the app's after every run that wrote
};
void MakeAndroidPhone(int device)
{
    DevsimSetPhantoms(device, true);
    DevsimSetReadsEndWithSFalse(device, true);
}
const DeviceKind Kinds[] = {
    // Steps 3 and 4: the rename aside and the rename back.
    {"device that renames", [](int) {}, true, false, 2},
    // Steps 3' and 4': the delete, then the create, the write and the commit of R.
    {"device that cannot rename", [](int device) { DevsimSetRenameRefused(device, true); }, true, false, 4},
    {"device that gives renamed objects new ids",
     [](int device) { DevsimSetIdScheme(device, DEVSIM_IDS_REISSUED_ON_RENAME); }, true, false, 2},
    {"device whose ids follow names", [](int device) { DevsimSetIdScheme(device, DEVSIM_IDS_FROM_NAMES); }, true,
     false, 2},
    // Its renames never happen: the write fails, and must say so.
    {"device that lies about renaming", [](int device) { DevsimSetRenameLies(device, true); }, false, false, 0},
    {"phone that leaves phantoms", MakeAndroidPhone, true, true, 2},
    {"phone that leaves phantoms and cannot rename",
     [](int device) {
         MakeAndroidPhone(device);
         DevsimSetRenameRefused(device, true);
     },
     true, true, 4},
    // The truncate and the one SendPartialObject.
    {"phone that edits in place",
     [](int device) {
         MakeAndroidPhone(device);
         DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
     },
     true, true, 2, true},
    // Answers OK and keeps R at its old length: twice in place, then N takes the name.
    {"phone whose growth in place lies",
     [](int device) {
         MakeAndroidPhone(device);
         DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
         DevsimSetGrowthLies(device, true);
     },
     true, true, 6},
};

enum FaultKind {
    CallFails, ActsThenFails, ValueUnreadable, SizeUnreadable, ReadCut, ShortCommit, NameMisses, LeftoverNameMisses,
    Killed, FAULT_KINDS
};
const char *const FaultNames[FAULT_KINDS] = {
    "a call fails before acting", "a call acts, then fails", "a property read cannot read its values",
    "a property read cannot read the size", "a stream read ends early", "a commit keeps a byte less and says all is well",
    "the file's name reads as absent twice", "the only copy, a leftover, has its name read as absent twice",
    "the run is killed after a call"};
// The calls that change the device, each of which may act and then answer a failure.
const char *const MutatingCalls[] = {"IPortableDeviceProperties::SetValues", "IPortableDeviceContent::Delete",
                                     "IStream::Commit", "IStream::Write", "MTP::TruncateObject",
                                     "MTP::SendPartialObject", "MTP::EndEditObject"};
// The calls that cross to the device; the rest are answered on the desktop.
const char *const Requests[] = {
    "IPortableDevice::Open", "IPortableDeviceContent::EnumObjects", "IPortableDeviceProperties::GetValues",
    "IPortableDeviceProperties::SetValues", "IPortableDeviceResources::GetStream", "IStream::Read", "IStream::Write",
    "IStream::Commit", "IPortableDeviceContent::CreateObjectWithPropertiesAndData", "IPortableDeviceContent::Delete",
};
const HRESULT DeviceError = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
const HRESULT Absent = HRESULT_FROM_WIN32(ERROR_NOT_FOUND);

struct Fault {
    FaultKind kind;
    long nth;             // the call (any method), the method's call, the read, the name's read
    long second;          // NameMisses: the other read of the name
    HRESULT hr;
    const char *method;   // ActsThenFails only
};

std::string Describe(const Fault &f)
{
    switch (f.kind) {
    case CallFails: return "device call " + std::to_string(f.nth) + " fails with " + Hex(f.hr);
    case ActsThenFails: return std::string(f.method) + " call " + std::to_string(f.nth) + " acts, then answers " + Hex(f.hr);
    case ValueUnreadable: return "GetValues call " + std::to_string(f.nth) + " cannot read its values (" + Hex(f.hr) + ")";
    case SizeUnreadable: return "GetValues call " + std::to_string(f.nth) + " cannot read the size (" + Hex(f.hr) + ")";
    case ReadCut: return "stream read " + std::to_string(f.nth) + " ends the stream early with S_OK";
    case ShortCommit: return "commit " + std::to_string(f.nth) + " keeps a byte less and answers S_OK";
    case NameMisses:
    case LeftoverNameMisses:
        return "reads " + std::to_string(f.nth) + " and " + std::to_string(f.second) + " of the file's name answer " + Hex(f.hr);
    default: return "the run is killed after device call " + std::to_string(f.nth);
    }
}

// The app folder as the device holds it: each object's name, bytes, and whether it is a phantom.
struct Folder {
    std::vector<std::wstring> names;
    std::vector<std::string> data;
    std::vector<bool> phantom;
    std::vector<bool> appOwned;

    int Find(int which) const
    {
        for (size_t i = 0; i < names.size(); i++)
            if (names[i] == FileNames[which]) return (int)i;
        return -1;
    }
    bool Has(int which) const { return Find(which) >= 0; }
    bool IsPhantom(int which) const { return Has(which) && phantom[Find(which)]; }
    // The name whose complete settings the file under names[which] holds, or null.
    const char *Holds(int which) const
    {
        int i = Find(which);
        return i < 0 || phantom[i] ? nullptr : CompleteName(data[i]);
    }
    // The settings a read takes: R when complete, else N, else O.
    const char *Settings() const
    {
        for (int which : {REAL, NEW_COPY, OLD_COPY})
            if (Holds(which)) return Holds(which);
        return nullptr;
    }
    bool AnyPhantom() const
    {
        for (bool p : phantom)
            if (p) return true;
        return false;
    }
    bool Clean() const { return names.size() == 1 && Holds(REAL); }
    bool RealIsTheApps() const { return Has(REAL) && appOwned[Find(REAL)]; }
    // What a state is, for telling states apart: each object's name and what it holds.
    std::string Signature() const
    {
        std::string s;
        for (size_t i = 0; i < names.size(); i++) {
            const char *holds = phantom[i] ? "phantom" : CompleteName(data[i]);
            s += Narrow(names[i]) + "=" + (holds ? holds : "partial") + " ";
        }
        return s;
    }
};

Folder Look(int device)
{
    Folder f;
    int app = DevsimFind(device, AppFolder);
    if (app < 0) return f;
    for (int child : DevsimChildren(device, app)) {
        f.names.push_back(DevsimName(device, child));
        f.data.push_back(DevsimData(device, child));
        f.phantom.push_back(DevsimIsPhantom(device, child));
        f.appOwned.push_back(DevsimOwnedByApp(device, child));
    }
    return f;
}

// What one run did: the write's result (-1 no handheld found, message 201; 0 failed, a message;
// 1 written), the name the dialog read, the local copy kept and what the layer says of the device.
struct RunResult {
    int wrote = -1;
    std::string read = "(not read)";
    int kept = 0;
    std::string keptPath;
    long gap = 0;   // requests served while the app folder held no complete R
};

// What the program does on a device, without the windows: find the file, read it (dialog run),
// write a name, and when that fails ask what to tell.
RunResult RunLikeTheProgram(bool dialog, const char *name)
{
    RunResult run;
    long gapBefore = DevsimRequestsWithoutWatchedFile();
    DevStartup(1);
    char path[MAX_PATH] = "";
    if (DevDevicePath(path)) {
        if (dialog) {
            char text[16] = "";
            DevGetProfileString("Corvane", "Name", "", text, sizeof text, path);
            run.read = text;
        }
        run.wrote = DevWriteProfileString("Corvane", "Name", name, path) ? 1 : 0;
        char kept[MAX_PATH] = "";
        if (!run.wrote) {
            run.kept = DevKeptCopyPath(kept);
            run.keptPath = kept;
        }
        DevShutdown();
    }   // else the program shows its not-found message and ends here, without DevShutdown
    run.gap = DevsimRequestsWithoutWatchedFile() - gapBefore;
    return run;
}

struct Figures {
    long cases = 0;
    long oldUnderName = 0, newUnderName = 0;
    long nameMissing = 0;        // no complete R after a run that was not killed (a phantom's aside)
    long blockedByPhantom = 0;   // R held by a phantom, the complete file under a leftover name
    long stillMissing = 0;       // R missing before the run and after it (the next run puts it back)
    long noCompleteFile = 0;     // not even under a leftover name
    long installedPartial = 0;   // an empty or partial file under R
    long lostEverywhere = 0;     // nor in a local copy
    long untold = 0;             // the new name not under R, and the write said it succeeded
    long falseAlarms = 0;        // the write said it failed, and the new name is under R
    long wrongClaims = 0;        // the message said the device's file is as it was, and it is not
    long strayCopies = 0;        // a local copy kept beside a saved name
    long notTheApps = 0;         // R replaced by a new object where the phone edits in place
    long cutByKill = 0;          // R cut by an edit a killed run left (or found), both copies complete beside it
    long leftovers = 0;          // objects beside R after the run
    long maxGap = 0;             // requests without a complete R, the most in one run
    long nextRuns = 0, nextRunFailures = 0;
    long needReconnect = 0;      // next runs that could not write until the handheld was reconnected
    long nextMaxGap = 0;
};

class FaultSweepTest : public DeviceTest {
protected:
    // The handheld: a storage with DCIM, Download and the app folder, whose settings file (with
    // other sections and keys) is under R, or only under the leftover N.
    int MakeHandheld(const DeviceKind &kind, bool leftoverOnly = false)
    {
        DevsimReset();
        int device = DevsimAddDevice(L"\\\\?\\usb#sweep");
        int storage = DevsimAddStorage(device, L"Internal storage");
        DevsimAddFolder(device, storage, L"DCIM");
        DevsimAddFolder(device, storage, L"Download");
        int app = DevsimAddFolder(device, storage, L"Corvane");
        DevsimAddFile(device, app, FileNames[leftoverOnly ? NEW_COPY : REAL], Content(OldName));
        DevsimWatchFile(device, (std::wstring(AppFolder) + L"\\" + FileNames[REAL]).c_str());
        kind.make(device);
        return device;
    }

    // A run whose only purpose is its calls or its end state: whatever copy it keeps goes.
    static RunResult RunTidy(bool dialog, const char *name)
    {
        std::set<std::string> before = WorkingCopyFiles();
        RunResult run = RunLikeTheProgram(dialog, name);
        for (const std::string &file : NewFiles(before, WorkingCopyFiles())) DeleteFileA(file.c_str());
        return run;
    }

    void ExpectNoLeaks(const char *when)
    {
        EXPECT_EQ(0, DevsimLiveObjects() - liveAtStart_) << "devsim objects leaked (or released twice) " << when;
        EXPECT_EQ(0, DevsimOutstandingBlocks()) << "CoTaskMemAlloc blocks leaked " << when;
    }

    // Checks what a run that wrote name left, from the folder before and after it.
    void CheckRun(const DeviceKind &kind, const Folder &before, const Folder &after, const RunResult &run, const char *name,
                  bool killed, const std::set<std::string> &copies, Figures *figures)
    {
        figures->cases++;
        bool complete = false;
        // An edit in place cuts R for two requests, with both copies complete beside it: a run
        // killed there leaves it so, and so may a run that found it so and failed; the next run
        // must roll it forward.
        bool cutByKill = (killed || (before.Has(REAL) && !before.Holds(REAL))) && after.Holds(NEW_COPY) &&
                         after.Holds(OLD_COPY);
        for (int which : {REAL, NEW_COPY, OLD_COPY}) {
            int i = after.Find(which);
            if (i < 0 || after.phantom[i]) continue;
            bool whole = CompleteName(after.data[i]) != nullptr;
            complete = complete || whole;
            if (whole) continue;
            if (which == REAL && cutByKill) {
                figures->cutByKill++;
                continue;
            }
            if (which == REAL) figures->installedPartial++;
            ADD_FAILURE() << "the device's " << Narrow(FileNames[which]) << " holds no complete settings file: \""
                          << Printable(after.data[i]) << "\"";
        }
        bool newUnderName = after.Holds(REAL) && std::string(after.Holds(REAL)) == name;
        figures->newUnderName += newUnderName;
        figures->oldUnderName += after.Holds(REAL) && !newUnderName;
        figures->leftovers += (long)after.names.size() - (after.Has(REAL) ? 1 : 0);
        figures->maxGap = std::max(figures->maxGap, run.gap);
        if (!complete) {
            figures->noCompleteFile++;
            ADD_FAILURE() << "the device holds no complete settings file under any of the three names";
        }
        if (!after.Holds(REAL)) {
            // Only a phantom that was there before the run may hold the name after it. A run that
            // found the name missing may fail before it can put the file back: the next run must.
            bool blocked = after.IsPhantom(REAL) && (killed || before.IsPhantom(REAL)) && complete;
            figures->blockedByPhantom += blocked;
            figures->stillMissing += !before.Holds(REAL);
            if (!killed && !blocked && before.Holds(REAL)) {
                figures->nameMissing++;
                ADD_FAILURE() << "after a run that was not killed the settings file is not complete under its name: the "
                                 "app on the handheld cannot find it, and the run did not repair that";
            }
        }
        if (killed && kind.writable && before.Holds(REAL) && run.gap > kind.gap) {
            ADD_FAILURE() << "a killed run served " << run.gap << " requests while the app folder held no complete "
                          << "settings file; a clean run serves " << kind.gap;
        }
        if (kind.keepsOwner && before.RealIsTheApps() && !after.RealIsTheApps()) {
            figures->notTheApps++;
            ADD_FAILURE() << "the settings file under its name is no longer the app's own: it was replaced by a new "
                             "object where the phone edits in place";
        }
        if (!killed && run.wrote == 1 && !newUnderName) {
            figures->untold++;
            ADD_FAILURE() << "the write said it succeeded, but the new name is not under the real name";
        }
        if (!killed && run.wrote == 0 && newUnderName) {
            figures->falseAlarms++;
            ADD_FAILURE() << "the write said it failed, but the new name is under the real name";
        }
        // "As it was" is true only of a file complete under its name, holding what the run read.
        if (!killed && run.wrote == 0 && run.kept == DEV_KEPT_DEVICE_AS_IT_WAS &&
            (before.Settings() == nullptr || after.Holds(REAL) == nullptr ||
             std::string(before.Settings()) != after.Holds(REAL))) {
            figures->wrongClaims++;
            ADD_FAILURE() << "the message says the handheld's file is as it was, but it held \""
                          << (before.Settings() ? before.Settings() : "nothing") << "\" and its name now holds \""
                          << (after.Holds(REAL) ? after.Holds(REAL) : "nothing complete") << "\"";
        }
        bool savedLocally = false;
        for (const std::string &file : copies) {
            std::string content;
            savedLocally = savedLocally || (ReadLocalFile(file, &content) && CompleteName(content) != nullptr);
        }
        if (!complete && !savedLocally) {
            figures->lostEverywhere++;
            ADD_FAILURE() << "the settings are neither on the device nor in a local TMP*.tmp file in " << TempFolder();
        }
        if (!killed && run.wrote == 1 && !copies.empty()) {
            figures->strayCopies += (long)copies.size();
            ADD_FAILURE() << copies.size() << " temporary file(s) kept although the name was saved";
        }
        if (!killed && run.wrote == 0 && run.kept != 0) {
            std::string content;
            EXPECT_TRUE(copies.count(run.keptPath) && ReadLocalFile(run.keptPath, &content) && content == Content(name))
                << "the message names " << run.keptPath << " as the copy with the new name, and it is not that";
        }
        if (!killed && !after.Holds(REAL) && before.Holds(REAL) && !savedLocally)
            ADD_FAILURE() << "the file is not complete under its name and no local copy was kept";
    }

    // A later run, from the device as it is: it finds the handheld and reads what the device
    // holds. Where a phantom holds a name it may fail, saying the file is as it was; a run after
    // a reconnect must then succeed. A run that succeeds leaves exactly one file, R, with its
    // name and every other key.
    void NextRuns(const DeviceKind &kind, int device, Figures *figures)
    {
        bool reconnect = kind.phantoms;
        for (const char *name : {NextName, LaterName}) {
            Folder before = Look(device);
            std::set<std::string> filesBefore = WorkingCopyFiles();
            RunResult run = RunLikeTheProgram(true, name);
            Folder after = Look(device);
            std::set<std::string> left = NewFiles(filesBefore, WorkingCopyFiles());
            figures->nextRuns++;
            figures->nextMaxGap = std::max(figures->nextMaxGap, run.gap);
            bool blocked = name == NextName && before.AnyPhantom() && run.wrote == 0 && run.kept != 0 &&
                           before.Settings() && after.Settings() && std::string(before.Settings()) == after.Settings();
            // A device whose renames never happen can still have a missing file created.
            bool canWrite = kind.writable || !before.Holds(REAL);
            std::string problem;
            if (run.wrote < 0)
                problem = "did not find the handheld";
            else if (before.Settings() && run.read != before.Settings())
                problem = "read the name \"" + run.read + "\", not \"" + before.Settings() + "\" that the device holds";
            else if (blocked)
                figures->needReconnect++;
            else if (canWrite && run.wrote != 1)
                problem = "could not write its own name";
            else if (!canWrite && run.wrote != 0)
                problem = "said it wrote its name on a device whose renames never happen";
            else if (!after.Clean())
                problem = "left the app folder holding " + after.Signature();
            else if (run.wrote == 1 && std::string(after.Holds(REAL)) != name)
                problem = "left a settings file holding \"" + Printable(after.data[after.Find(REAL)]) + "\"";
            else if (kind.keepsOwner && before.RealIsTheApps() && !after.RealIsTheApps())
                problem = "left a settings file that is no longer the app's own";
            if (problem.empty() && run.wrote == 1 && !left.empty())
                problem = "left a temporary file although it wrote its name";
            if (!problem.empty()) {
                figures->nextRunFailures++;
                ADD_FAILURE() << "the next run, on the device holding " << before.Signature() << ", " << problem;
            }
            ExpectNoLeaks("after the next run");
            for (const std::string &file : left) DeleteFileA(file.c_str());
            if (!reconnect) break;
            DevsimReconnect(device);   // the phantoms go; the run after it must succeed
        }
    }

    // One faulted run, then what it left is checked and later runs meet it. States that left
    // the name missing or something beside it are kept for the runs under fire.
    void RunCase(const DeviceKind &kind, bool dialog, const Fault &fault, Figures *figures,
                 std::map<std::string, DevsimSnapshot> *states)
    {
        SCOPED_TRACE(std::string(dialog ? "dialog run" : "command-line run") + " on a " + kind.name + ": " +
                     Describe(fault));
        int device = MakeHandheld(kind, fault.kind == LeftoverNameMisses);
        std::wstring fileId = DevsimObjectId(device, DevsimFind(device, (std::wstring(AppFolder) + L"\\" +
                                                                          FileNames[fault.kind == LeftoverNameMisses]).c_str()));
        Folder before = Look(device);
        std::set<std::string> filesBefore = WorkingCopyFiles();
        switch (fault.kind) {
        case CallFails: DevsimFailNthCall(fault.nth, fault.hr); break;
        case ActsThenFails: DevsimFailCall(fault.method, (int)fault.nth, fault.hr, nullptr, DEVSIM_AFTER_ACTING); break;
        case ValueUnreadable: DevsimValueError(nullptr, nullptr, (int)fault.nth, fault.hr); break;
        case SizeUnreadable: DevsimValueError(nullptr, &WPD_OBJECT_SIZE, (int)fault.nth, fault.hr); break;
        case ReadCut: DevsimCutReadAt(fault.nth); break;
        case ShortCommit: DevsimCommitKeepsLessAt(fault.nth); break;
        case NameMisses:
        case LeftoverNameMisses:
            for (long nth : {fault.nth, fault.second})
                DevsimValueError(fileId.c_str(), &WPD_OBJECT_ORIGINAL_FILE_NAME, (int)nth, fault.hr);
            break;
        case Killed: DevsimPullCableAfter(fault.nth); break;
        default: break;
        }
        RunResult run = RunLikeTheProgram(dialog, NewName);
        DevsimClearRules();
        ExpectNoLeaks("after the run");
        Folder after = Look(device);
        std::set<std::string> copies = NewFiles(filesBefore, WorkingCopyFiles());
        CheckRun(kind, before, after, run, NewName, fault.kind == Killed, copies, figures);
        for (const std::string &file : copies) DeleteFileA(file.c_str());
        if (!after.Clean() && states->find(after.Signature()) == states->end())
            (*states)[after.Signature()] = DevsimTakeSnapshot();
        NextRuns(kind, device, figures);
    }

    // Recovery under fire: each kept state is met by a run whose every call fails in turn, and by
    // one killed after every call, each followed by later runs.
    void UnderFire(const DeviceKind &kind, bool dialog, const std::map<std::string, DevsimSnapshot> &states,
                   Figures *failing, Figures *killed)
    {
        int device = 0;
        for (const auto &state : states) {
            DevsimRestoreSnapshot(state.second);
            DevsimResetCounts();
            RunTidy(dialog, FreshName);
            long calls = DevsimTotalCalls();
            EXPECT_GT(calls, 10) << "the run from the state " << state.first
                                 << " made suspiciously few device calls: little would be put under fire";
            for (int k = 0; k < 2; k++) {
                for (long n = 1; n <= calls + (k == 0); n++) {
                    SCOPED_TRACE(std::string(dialog ? "dialog run" : "command-line run") + " on a " + kind.name +
                                 " holding " + state.first + ": " +
                                 (k == 0 ? "device call " + std::to_string(n) + " fails"
                                         : "the run is killed after device call " + std::to_string(n)));
                    DevsimRestoreSnapshot(state.second);
                    Folder before = Look(device);
                    std::set<std::string> filesBefore = WorkingCopyFiles();
                    if (k == 0)
                        DevsimFailNthCall(n, DeviceError);
                    else
                        DevsimPullCableAfter(n);
                    RunResult run = RunLikeTheProgram(dialog, FreshName);
                    DevsimClearRules();
                    ExpectNoLeaks("after a run under fire");
                    std::set<std::string> copies = NewFiles(filesBefore, WorkingCopyFiles());
                    CheckRun(kind, before, Look(device), run, FreshName, k == 1, copies, k == 0 ? failing : killed);
                    for (const std::string &file : copies) DeleteFileA(file.c_str());
                    NextRuns(kind, device, k == 0 ? failing : killed);
                    if (HasFatalFailure()) return;
                }
            }
        }
    }

    static void Print(const std::string &what, const char *fault, const Figures &f)
    {
        std::cout << "[ sweep    ] " << what << ", " << fault << ": " << f.cases << " cases; new name under the real "
                  << "name " << f.newUnderName << ", old " << f.oldUnderName << ", real name missing after a run not "
                  << "killed " << f.nameMissing << ", still missing " << f.stillMissing << ", held by a phantom "
                  << f.blockedByPhantom << ", no complete "
                  << "file under any name " << f.noCompleteFile << ", installed empty or partial " << f.installedPartial
                  << ", lost from both places " << f.lostEverywhere << ", failures not told " << f.untold
                  << ", false alarms " << f.falseAlarms << ", untrue messages " << f.wrongClaims
                  << ", copies beside a saved name " << f.strayCopies << ", not the app's " << f.notTheApps
                  << ", cut by a killed edit " << f.cutByKill
                  << ", leftovers after the run " << f.leftovers
                  << ", most requests without the file " << f.maxGap << "; next runs " << f.nextRuns << ", failed "
                  << f.nextRunFailures << ", needed a reconnect " << f.needReconnect
                  << ", most requests without the file " << f.nextMaxGap << std::endl;
    }

    void Sweep(const DeviceKind &kind, bool dialog)
    {
        std::string what = std::string(dialog ? "dialog run" : "command-line run") + " on a " + kind.name;
        // A clean run gives the calls to sweep over, and proves the device's kind.
        int device = MakeHandheld(kind);
        std::wstring fileId = DevsimObjectId(device, DevsimFind(device, (std::wstring(AppFolder) + L"\\" + FileNames[REAL]).c_str()));
        RunResult clean = RunTidy(dialog, NewName);
        long calls = DevsimTotalCalls();
        long reads = DevsimCallCount("IPortableDeviceProperties::GetValues");
        long streamReads = DevsimCallCount("IStream::Read");
        long commits = DevsimCallCount("IStream::Commit");
        long nameReads = DevsimCallCountFor("IPortableDeviceProperties::GetValues", fileId.c_str());
        ASSERT_EQ(kind.writable ? 1 : 0, clean.wrote) << "a clean " << what << " gave the wrong result";
        ASSERT_GT(calls, 10) << "a clean " << what << " made suspiciously few device calls";
        EXPECT_EQ(kind.gap, clean.gap) << "a clean " << what << " served " << clean.gap
                                       << " requests while the app folder held no complete settings file";
        std::vector<long> perMethod;
        for (const char *m : MutatingCalls) perMethod.push_back(DevsimCallCount(m));
        ExpectNoLeaks("after the clean run");
        // The same on a handheld whose file is only under the leftover N.
        device = MakeHandheld(kind, true);
        std::wstring leftoverId = DevsimObjectId(device, DevsimFind(device, (std::wstring(AppFolder) + L"\\" + FileNames[NEW_COPY]).c_str()));
        RunTidy(dialog, NewName);
        long leftoverNameReads = DevsimCallCountFor("IPortableDeviceProperties::GetValues", leftoverId.c_str());

        Figures figures[FAULT_KINDS];
        std::map<std::string, DevsimSnapshot> states;
        for (HRESULT hr : {E_FAIL, Absent})
            for (long n = 1; n <= calls + 1; n++) RunCase(kind, dialog, {CallFails, n, 0, hr, nullptr}, &figures[CallFails], &states);
        for (size_t m = 0; m < sizeof MutatingCalls / sizeof MutatingCalls[0]; m++)
            for (long n = 1; n <= perMethod[m]; n++)
                RunCase(kind, dialog, {ActsThenFails, n, 0, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), MutatingCalls[m]},
                        &figures[ActsThenFails], &states);
        for (long n = 1; n <= reads + 1; n++) {
            RunCase(kind, dialog, {ValueUnreadable, n, 0, DeviceError, nullptr}, &figures[ValueUnreadable], &states);
            RunCase(kind, dialog, {SizeUnreadable, n, 0, DeviceError, nullptr}, &figures[SizeUnreadable], &states);
        }
        for (long n = 1; n <= streamReads + 1; n++)
            RunCase(kind, dialog, {ReadCut, n, 0, S_OK, nullptr}, &figures[ReadCut], &states);
        for (long n = 1; n <= commits + 1; n++)
            RunCase(kind, dialog, {ShortCommit, n, 0, S_OK, nullptr}, &figures[ShortCommit], &states);
        for (long i = 1; i <= nameReads + 1; i++)
            for (long j = i + 1; j <= nameReads + 2; j++)
                RunCase(kind, dialog, {NameMisses, i, j, Absent, nullptr}, &figures[NameMisses], &states);
        for (long i = 1; i <= leftoverNameReads + 1; i++)
            for (long j = i + 1; j <= leftoverNameReads + 2; j++)
                RunCase(kind, dialog, {LeftoverNameMisses, i, j, Absent, nullptr}, &figures[LeftoverNameMisses], &states);
        for (long n = 1; n <= calls; n++) RunCase(kind, dialog, {Killed, n, 0, S_OK, nullptr}, &figures[Killed], &states);
        if (HasFatalFailure()) return;
        for (int k = 0; k < FAULT_KINDS; k++) Print(what, FaultNames[k], figures[k]);

        Figures failing, killed;
        EXPECT_FALSE(states.empty()) << "no faulted " << what << " left a state to recover from: nothing is put under fire";
        UnderFire(kind, dialog, states, &failing, &killed);
        Print(what + ", " + std::to_string(states.size()) + " states left behind", "the next run's call fails", failing);
        Print(what + ", " + std::to_string(states.size()) + " states left behind", "the next run is killed after a call", killed);
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
        ASSERT_EQ(1, RunLikeTheProgram(dialog, NewName).wrote) << "a clean " << what << " failed";
        long requests = 0, firstCreate = 0;
        for (const std::string &entry : DevsimCallLog()) {
            if (!isRequest(entry)) continue;
            requests++;
            if (firstCreate == 0 && entry.rfind("IPortableDeviceContent::CreateObjectWithPropertiesAndData", 0) == 0)
                firstCreate = requests;
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
            int wrote = RunLikeTheProgram(dialog, NewName).wrote;
            DevsimClearRules();
            Folder f = Look(device);
            bool same = wrote == 1 && f.Clean() && f.Holds(REAL) == std::string(NewName) && BusyWaits() == waits &&
                        NewFiles(before, WorkingCopyFiles()).empty();
            cases++;
            unlike += !same;
            EXPECT_TRUE(same) << "the run did not end like the clean one: write result " << wrote << ", the app folder "
                              << "holding " << f.Signature() << ", " << BusyWaits() << " wait(s) for " << waits
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
        // from the upload's first request (the write fails, the file as it was).
        const struct { const char *why; long from; int wrote; } forGood[] = {
            {"busy for good from the start", 1, -1},
            {"busy for good from the upload on", firstCreate, 0},
        };
        for (const auto &c : forGood) {
            SCOPED_TRACE(what + ": " + c.why);
            int device = MakeHandheld(Kinds[0]);
            std::set<std::string> before = WorkingCopyFiles();
            ResetBusyWaits();
            DevsimBusyAt(c.from, 1000000);
            EXPECT_EQ(c.wrote, RunLikeTheProgram(dialog, NewName).wrote)
                << "the run should end as a device that fails ends it (-1: not found, 0: not saved)";
            DevsimClearRules();
            EXPECT_LE(BusyWaitedMs(), 10000u) << "the run waited for the busy device longer than its bound";
            EXPECT_GT(BusyWaits(), 0) << "a busy device was not even waited for";
            EXPECT_EQ(std::string(OldName), Look(device).Holds(REAL) ? Look(device).Holds(REAL) : "(nothing)")
                << "the settings file changed";
            std::cout << "[ busy     ] " << what << ", " << c.why << ": " << BusyWaits() << " waits, "
                      << BusyWaitedMs() << " ms in all" << std::endl;
            ExpectNoLeaks("after a run on a device busy for good");
            for (const std::string &file : NewFiles(before, WorkingCopyFiles())) DeleteFileA(file.c_str());
        }
    }
}

// Each kind of device in a dialog run and in a command-line run, as tests of their own.
TEST_F(FaultSweepTest, ADeviceThatRenamesNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[0], true);
}

TEST_F(FaultSweepTest, ADeviceThatRenamesNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[0], false);
}

TEST_F(FaultSweepTest, ADeviceThatCannotRenameNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[1], true);
}

TEST_F(FaultSweepTest, ADeviceThatCannotRenameNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[1], false);
}

TEST_F(FaultSweepTest, ADeviceThatGivesRenamedObjectsNewIdsNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[2], true);
}

TEST_F(FaultSweepTest, ADeviceThatGivesRenamedObjectsNewIdsNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[2], false);
}

TEST_F(FaultSweepTest, ADeviceWhoseIdsFollowNamesNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[3], true);
}

TEST_F(FaultSweepTest, ADeviceWhoseIdsFollowNamesNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[3], false);
}

TEST_F(FaultSweepTest, ADeviceThatLiesAboutRenamingNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[4], true);
}

TEST_F(FaultSweepTest, ADeviceThatLiesAboutRenamingNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[4], false);
}

TEST_F(FaultSweepTest, APhoneThatLeavesPhantomsNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[5], true);
}

TEST_F(FaultSweepTest, APhoneThatLeavesPhantomsNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[5], false);
}

TEST_F(FaultSweepTest, APhoneThatLeavesPhantomsAndCannotRenameNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[6], true);
}

TEST_F(FaultSweepTest, APhoneThatLeavesPhantomsAndCannotRenameNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[6], false);
}

TEST_F(FaultSweepTest, APhoneThatEditsInPlaceKeepsTheSettingsFileTheAppsInADialogRun)
{
    Sweep(Kinds[7], true);
}

TEST_F(FaultSweepTest, APhoneThatEditsInPlaceKeepsTheSettingsFileTheAppsFromTheCommandLine)
{
    Sweep(Kinds[7], false);
}

TEST_F(FaultSweepTest, APhoneWhoseGrowthInPlaceLiesNeverLosesTheSettingsFileInADialogRun)
{
    Sweep(Kinds[8], true);
}

TEST_F(FaultSweepTest, APhoneWhoseGrowthInPlaceLiesNeverLosesTheSettingsFileFromTheCommandLine)
{
    Sweep(Kinds[8], false);
}

}  // namespace
