// Fault sweep: every device call of a whole run is made to fail in turn, and every property
// read in turn answers that its values could not be read. Whatever fails, the run must not
// crash or leak, and the name must survive: the device's settings file holds the old or the
// new content, whole; on a device that renames it stays under its real name; where it is
// gone from the device, the local working copy kept on disk holds it.
#include <iostream>
#include <string>
#include "devfs/devfs.h"
#include "support/device_fixture.h"
#include "support/local_files.h"

namespace {

const wchar_t SettingsObject[] = L"Internal storage\\Corvane\\Corvane_Info.ini";
const char OldContent[] = "[Corvane]\r\nName=Demo phone\r\n";
const char NewName[] = "Sweep name";

// What the program does on a device, without the dialog: read (dialog run) and write.
void RunLikeTheProgram(bool dialog)
{
    DevStartup(1);
    char path[MAX_PATH] = "";
    if (!DevDevicePath(path))
        return;   // the program shows its not-found message and ends here, without DevShutdown
    if (dialog) {
        char name[16];
        DevGetProfileString("Corvane", "Name", "", name, sizeof name, path);
    }
    DevWriteProfileString("Corvane", "Name", NewName, path);
    DevShutdown();
}

struct SweepFigures {
    long cases = 0;
    long lostEverywhere = 0;      // gone from the device and no local copy holds it
    long savedLocally = 0;        // gone from the device, kept in a local TMP file
    long notUnderItsName = 0;     // the device holds no settings file under its real name
    long strayTempFiles = 0;      // a TMP file left although the device has the file
    long asideLeft = 0;           // other objects left in the app folder
    long oldKept = 0, newWritten = 0;
};

// One kind of failure injected into the nth device call (or GetValues call) of a run.
enum FailureKind { CallFails, ValueUnreadable };

class FaultSweepTest : public DeviceTest {
protected:
    // One run with the nth device call failing (0: none); checks and counts its outcome.
    void RunCase(bool dialog, bool renames, FailureKind kind, long nth, HRESULT hr, const std::string &newContent,
                 SweepFigures *figures)
    {
        SCOPED_TRACE(std::string(kind == CallFails ? "failing device call " : "unreadable values in GetValues call ") +
                     std::to_string(nth) + " with HRESULT 0x" + Hex(hr) +
                     (renames ? " on a device that renames" : " on a device that refuses renaming"));
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetRenameRefused(device, !renames);
        std::set<std::string> before = WorkingCopyFiles();
        if (kind == CallFails)
            DevsimFailNthCall(nth, hr);
        else
            DevsimValueError(nullptr, nullptr, (int)nth, hr);
        RunLikeTheProgram(dialog);
        DevsimFailNthCall(0, S_OK);
        figures->cases++;

        EXPECT_EQ(0, DevsimLiveObjects()) << "devsim objects leaked (or were released twice) after the run";
        EXPECT_EQ(0, DevsimOutstandingBlocks()) << "CoTaskMemAlloc blocks leaked after the run";
        EXPECT_LE(DevsimCallCount("IPortableDeviceContent::CreateObjectWithPropertiesAndData"), 1)
            << "more than one upload: an empty file was uploaded over the existing settings file";

        std::set<std::string> left = NewFiles(before, WorkingCopyFiles());
        int app = DevsimFind(device, L"Internal storage\\Corvane");
        int object = DevsimFind(device, SettingsObject);
        figures->asideLeft += app < 0 ? 0 : (long)DevsimChildren(device, app).size() - (object >= 0 ? 1 : 0);
        if (object >= 0) {
            std::string content = DevsimData(device, object);
            bool isOld = content == OldContent, isNew = content == newContent;
            EXPECT_TRUE(isOld || isNew) << "the device's settings file is neither the old nor the new content: \""
                                        << Printable(content) << "\"";
            figures->oldKept += isOld;
            figures->newWritten += isNew;
            // A local copy is kept only when the device lost the file: otherwise it is the
            // only trace of a failed run and nobody would ever look at it.
            EXPECT_TRUE(left.empty()) << left.size() << " temporary file(s) left although the device holds its file";
            figures->strayTempFiles += (long)left.size();
        } else {
            figures->notUnderItsName++;
            bool saved = false;
            for (const std::string &f : left) {
                std::string content;
                if (ReadLocalFile(f, &content) && (content == newContent || content == OldContent)) saved = true;
            }
            EXPECT_TRUE(saved) << "the settings file is gone from the device and no local TMP*.tmp file in "
                               << TempFolder() << " holds it: the name was lost";
            if (renames)
                ADD_FAILURE() << "a device that renames lost its settings file under its real name, so the next run "
                                 "cannot even find the handheld";
            figures->savedLocally += saved;
            figures->lostEverywhere += !saved;
        }
        for (const std::string &f : left) DeleteFileA(f.c_str());
    }

    void Sweep(bool dialog, bool renames)
    {
        std::string kind = std::string(dialog ? "dialog" : "command-line") + " run, " +
                           (renames ? "device that renames" : "device that refuses renaming");
        // A clean run gives the call counts to sweep over and the new content.
        DevsimReset();
        int device = AddDemoHandheld();
        DevsimSetRenameRefused(device, !renames);
        RunLikeTheProgram(dialog);
        long calls = DevsimTotalCalls();
        long reads = DevsimCallCount("IPortableDeviceProperties::GetValues");
        int object = DevsimFind(device, SettingsObject);
        ASSERT_GE(object, 0) << "a clean " << kind << " lost the settings file";
        std::string newContent = DevsimData(device, object);
        ASSERT_NE(std::string::npos, newContent.find(std::string("Name=") + NewName))
            << "a clean " << kind << " did not write the name: \"" << Printable(newContent) << "\"";
        ASSERT_GT(calls, 10) << "a clean run made suspiciously few device calls";

        SweepFigures figures;
        for (HRESULT hr : {E_FAIL, HRESULT_FROM_WIN32(ERROR_BUSY)})
            for (long n = 1; n <= calls + 1; n++) RunCase(dialog, renames, CallFails, n, hr, newContent, &figures);
        for (long n = 1; n <= reads + 1; n++)
            RunCase(dialog, renames, ValueUnreadable, n, HRESULT_FROM_WIN32(ERROR_BUSY), newContent, &figures);

        std::cout << "[ sweep    ] " << kind << ": " << calls << " device calls (" << reads << " property reads), "
                  << figures.cases << " cases; old content kept " << figures.oldKept << ", new content written "
                  << figures.newWritten << ", not under its real name " << figures.notUnderItsName
                  << ", gone from the device but kept locally " << figures.savedLocally << ", lost from both places "
                  << figures.lostEverywhere << ", temporary files kept beside an intact device file "
                  << figures.strayTempFiles << ", other objects left in the app folder " << figures.asideLeft
                  << std::endl;
        RecordProperty("calls", (int)calls);
        RecordProperty("cases", (int)figures.cases);
        RecordProperty("lost_from_both", (int)figures.lostEverywhere);
        RecordProperty("kept_locally", (int)figures.savedLocally);
        EXPECT_EQ(0, figures.lostEverywhere) << "runs lost the settings file from the device and from the disk";
    }

    static std::string Hex(HRESULT hr)
    {
        char text[16];
        wsprintfA(text, "%08lX", (unsigned long)hr);
        return text;
    }
};

TEST_F(FaultSweepTest, DialogRunNeverLosesTheSettingsFile)
{
    Sweep(true, true);
    Sweep(true, false);
}

TEST_F(FaultSweepTest, CommandLineRunNeverLosesTheSettingsFile)
{
    Sweep(false, true);
    Sweep(false, false);
}

}  // namespace
