// Profile reads and writes on the device through the local working copy.
#include <string>
#include <vector>
#include "devfs/devfs.h"
#include "support/device_fixture.h"
#include "support/local_files.h"

namespace {

const char SettingsFile[] = "*:\\Corvane\\Corvane_Info.ini";
const wchar_t SettingsObject[] = L"Internal storage\\Corvane\\Corvane_Info.ini";
const char DemoContent[] = "[Corvane]\r\nName=Demo phone\r\n";

std::string ReadName(const char *file = SettingsFile, const char *fallback = "dflt")
{
    char name[64] = "garbage";
    DevGetProfileString("Corvane", "Name", fallback, name, sizeof name, file);
    return name;
}

std::string NameIn(const std::string &content)
{
    size_t at = content.find("Name=");
    if (at == std::string::npos) return "(no Name key)";
    size_t end = content.find_first_of("\r\n", at);
    return content.substr(at + 5, end == std::string::npos ? std::string::npos : end - at - 5);
}

class WorkingCopyTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        if (HasFatalFailure()) return;
        device_ = AddDemoHandheld();
        before_ = WorkingCopyFiles();
    }
    void TearDown() override
    {
        DeviceTest::TearDown();
        for (const std::string &f : NewFiles(before_, WorkingCopyFiles())) DeleteFileA(f.c_str());
    }
    void StartOnDevice()
    {
        Start(1);
        ASSERT_EQ(0, DevConnection.deviceUnavailable) << "discovery did not open the demo handheld";
        DevsimResetCounts();
    }
    int Settings() { return DevsimFind(device_, SettingsObject); }
    std::string DeviceContent()
    {
        int object = Settings();
        return object < 0 ? "(no settings file on the device)" : DevsimData(device_, object);
    }
    long GetStreams() { return DevsimCallCount("IPortableDeviceResources::GetStream"); }
    long Creates() { return DevsimCallCount("IPortableDeviceContent::CreateObjectWithPropertiesAndData"); }

    int device_ = -1;
    std::set<std::string> before_;
};

TEST_F(WorkingCopyTest, ReadsOfTheSamePathInAnyCaseDownloadOnce)
{
    StartOnDevice();
    EXPECT_EQ("Demo phone", ReadName()) << "the first read did not return the device's name";
    EXPECT_EQ("Demo phone", ReadName()) << "the second read did not return the device's name";
    EXPECT_EQ("Demo phone", ReadName("*:\\CORVANE\\corvane_info.INI"))
        << "a path differing only in case should read the same working copy";
    EXPECT_EQ(0, DevProfileReadFailed()) << "a read that gave the device's name said it failed";
    EXPECT_EQ(1, GetStreams()) << "reads of one device file should download it once";
    EXPECT_EQ(0, Creates()) << "reading must not upload";
    Shutdown();
}

TEST_F(WorkingCopyTest, TemporaryFileIsATmpFileInTheTempFolderAndGoesAtShutdown)
{
    StartOnDevice();
    ReadName();
    std::string local = DevConnection.workingCopy.cachedLocalPath;
    std::set<std::string> added = NewFiles(before_, WorkingCopyFiles());
    ASSERT_EQ(1u, added.size()) << "the working copy should be exactly one new TMP*.tmp file in " << TempFolder();
    EXPECT_EQ(0, lstrcmpiA(added.begin()->c_str(), local.c_str()))
        << "the layer's working copy " << local << " is not the new temporary file " << *added.begin();
    std::string content;
    ASSERT_TRUE(ReadLocalFile(local, &content));
    EXPECT_EQ(DemoContent, content) << "the working copy does not hold the device file";
    ASSERT_TRUE(DevWriteProfileString("Corvane", "Name", "Kept", SettingsFile));
    Shutdown();
    EXPECT_TRUE(NewFiles(before_, WorkingCopyFiles()).empty()) << "DevShutdown left the working copy on disk";
}

// Every write goes to the device at once; nothing waits for shut-down.
TEST_F(WorkingCopyTest, EveryWriteIsUploadedAtOnceKeepingOtherLines)
{
    int app = DevsimFind(device_, L"Internal storage\\Corvane");
    DevsimRemove(device_, Settings());
    DevsimAddFile(device_, app, L"Corvane_Info.ini",
                  "[Other]\r\nKey=1\r\n[Corvane]\r\nName=Demo phone\r\nColour=blue\r\n");
    StartOnDevice();
    const char *names[] = {"First", "Second", "A longer third name"};
    for (int i = 0; i < 3; i++) {
        SCOPED_TRACE(names[i]);
        EXPECT_TRUE(DevWriteProfileString("Corvane", "Name", names[i], SettingsFile)) << "write failed";
        EXPECT_EQ(i + 1, DevsimCommits()) << "each write should upload (commit) once, immediately";
        std::string content = DeviceContent();
        EXPECT_EQ(names[i], NameIn(content)) << "the device does not hold the name just written: " << Printable(content);
        EXPECT_NE(std::string::npos, content.find("[Other]\r\nKey=1")) << "another section was lost: " << Printable(content);
        EXPECT_NE(std::string::npos, content.find("Colour=blue")) << "another key was lost: " << Printable(content);
        long streams = GetStreams();
        EXPECT_EQ(names[i], ReadName()) << "a read after the write should see it";
        EXPECT_EQ(streams, GetStreams()) << "a read after a write should use the working copy, not download again";
    }
    Shutdown();
    EXPECT_EQ(3, DevsimCommits()) << "shut-down must not upload again";
}

TEST_F(WorkingCopyTest, RemovedDeviceFileIsCreatedEmptyAndReadsTheDefault)
{
    StartOnDevice();
    DevsimRemove(device_, Settings());   // gone from the handheld after discovery
    EXPECT_EQ("dflt", ReadName()) << "a read of a missing device file should give the default";
    EXPECT_EQ(0, DevProfileReadFailed()) << "a file without the name is no failed read";
    int created = Settings();
    ASSERT_GE(created, 0) << "the missing settings file was not created on the device";
    EXPECT_EQ("", DevsimData(device_, created)) << "the created settings file should be empty";
    EXPECT_EQ(1, DevsimCommits());
    EXPECT_TRUE(DevWriteProfileString("Corvane", "Name", "Fresh", SettingsFile));
    EXPECT_EQ("Fresh", NameIn(DeviceContent())) << "a write after the re-creation did not reach the device";
    Shutdown();
}

// Only "the folder resolves and holds no such file" means the file is missing. Every other
// reason the existence test cannot answer is a failure: the read gives the default, the
// write gives 0, nothing is uploaded and the device file keeps its object and content.
TEST_F(WorkingCopyTest, DoubtfulExistenceNeverUploadsAnEmptyFile)
{
    struct Ids { std::wstring storage, app, file; };
    const struct { const char *why; void (*arm)(const Ids &); bool fillSlots; } cases[] = {
        {"the download fails and the file is there",
         [](const Ids &) {}, false},
        {"the existence search cannot enumerate the app folder",
         [](const Ids &ids) { DevsimFailCall("IPortableDeviceContent::EnumObjects", 2, E_FAIL, ids.app.c_str()); }, false},
        {"the existence search cannot resolve the app folder",
         [](const Ids &ids) { DevsimFailCall("IPortableDeviceContent::EnumObjects", 2, E_FAIL, ids.storage.c_str()); }, false},
        {"the existence search cannot read the file's name",
         [](const Ids &ids) { DevsimFailCall("IPortableDeviceProperties::GetValues", 2, E_FAIL, ids.file.c_str()); }, false},
        {"all search slots are taken", [](const Ids &) {}, true},
        // Last: its download never reaches GetStream, so that failure stays armed.
        {"the download cannot resolve the file",
         [](const Ids &ids) { DevsimFailCall("IPortableDeviceContent::EnumObjects", 1, E_FAIL, ids.app.c_str()); }, false},
    };
    StartOnDevice();
    int file = Settings();
    Ids ids = {DevsimObjectId(device_, DevsimFind(device_, L"Internal storage")),
               DevsimObjectId(device_, DevsimFind(device_, L"Internal storage\\Corvane")),
               DevsimObjectId(device_, file)};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        std::vector<HANDLE> searches;
        if (c.fillSlots) {
            WIN32_FIND_DATAA found;
            for (int i = 0; i < DEV_SEARCH_SLOTS; i++) searches.push_back(DevFindFirstFile("*:\\*", &found));
            ASSERT_NE(INVALID_HANDLE_VALUE, searches.back()) << "could not open 256 searches to fill the table";
        }
        DevsimResetCounts();
        DevsimFailCall("IPortableDeviceResources::GetStream", 1, E_FAIL);
        c.arm(ids);
        EXPECT_EQ("dflt", ReadName()) << "a read whose download failed should give the default";
        EXPECT_EQ(1, DevProfileReadFailed()) << "a read that could not read the file must say so (message 207)";
        DevsimFailCall("IPortableDeviceResources::GetStream", 1, E_FAIL);
        c.arm(ids);
        EXPECT_FALSE(DevWriteProfileString("Corvane", "Name", "Lost", SettingsFile))
            << "a write whose download failed should return 0";
        EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::Delete")) << "the device file was deleted";
        EXPECT_EQ(0, Creates()) << "an (empty) file was uploaded over the device path";
        EXPECT_EQ(file, Settings()) << "the device file was replaced";
        EXPECT_EQ(DemoContent, DeviceContent()) << "the device file changed";
        EXPECT_LE(GetStreams(), 2) << "the read and the write should each have tried at most one download";
        EXPECT_TRUE(NewFiles(before_, WorkingCopyFiles()).empty())
            << "the empty temporary file of the failed working copy was left behind";
        for (HANDLE h : searches) DevFindClose(h);
    }
    Shutdown();
}

// A failed write-back returns 0 and the next access starts afresh. The local copy holding the
// new value stays on disk (shut-down leaves it), DevKeptCopyPath names it and says whether the
// device holds its file as it was or may lack it. A file left only under the name of the new
// copy is read from there.
TEST_F(WorkingCopyTest, FailedWriteBackKeepsTheLocalCopyAndSaysWhatTheDeviceHolds)
{
    enum End { OldUnderItsName, NewUnderLeftoverName, NothingLeft };
    const struct { const char *why; void (*arm)(int device); bool renames; End end; } cases[] = {
        {"short stream writes", [](int device) { DevsimSetShortWrites(device, true); }, true, OldUnderItsName},
        {"the commit fails", [](int) { DevsimFailCall("IStream::Commit", 1, E_FAIL); }, true, OldUnderItsName},
        // Renaming a short new copy into place would leave a partial file under the name.
        {"the new copy is kept a byte short while the commit says all is well",
         [](int device) { DevsimSetCommitsKeepLess(device, true); }, true, OldUnderItsName},
        {"the object cannot be created",
         [](int) { DevsimFailCall("IPortableDeviceContent::CreateObjectWithPropertiesAndData", 1, E_FAIL); }, true,
         OldUnderItsName},
        {"the new copy never gets the real name", [](int) {
             for (int nth = 2; nth <= 5; nth++) DevsimFailCall("IPortableDeviceProperties::SetValues", nth, E_FAIL); },
         true, NewUnderLeftoverName},
        {"short stream writes", [](int device) { DevsimSetShortWrites(device, true); }, false, OldUnderItsName},
        {"the commit fails", [](int) { DevsimFailCall("IStream::Commit", 1, E_FAIL); }, false, OldUnderItsName},
        {"the old object cannot be deleted", [](int device) { DevsimSetDeleteRefused(device, true); }, false,
         OldUnderItsName},
        // The old file cannot come back once deleted: the new copy must read back whole first.
        {"the new copy is kept a byte short while the commit says all is well",
         [](int device) { DevsimSetCommitsKeepLess(device, true); }, false, OldUnderItsName},
        {"the file cannot be written again once the old one is gone", [](int) {
             for (int nth = 2; nth <= 5; nth++) DevsimFailCall("IStream::Commit", nth, E_FAIL); },
         false, NewUnderLeftoverName},
        {"the file vanished before the write, and cannot be created", [](int device) {
             DevsimRemove(device, DevsimFind(device, SettingsObject));
             DevsimFailCall("IPortableDeviceContent::CreateObjectWithPropertiesAndData", 1, E_FAIL); },
         true, NothingLeft},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.why) + (c.renames ? ", device renames" : ", device does not rename"));
        DevsimReset();
        device_ = AddDemoHandheld();
        DevsimSetRenameRefused(device_, !c.renames);
        std::set<std::string> before = WorkingCopyFiles();
        StartOnDevice();
        EXPECT_EQ("Demo phone", ReadName());
        std::string local = DevConnection.workingCopy.cachedLocalPath;
        c.arm(device_);
        EXPECT_FALSE(DevWriteProfileString("Corvane", "Name", "Unsaved", SettingsFile))
            << "a write whose upload failed should return 0";
        EXPECT_STREQ("", DevConnection.workingCopy.cachedDevicePath) << "the working copy should no longer be current";
        EXPECT_STREQ("", DevConnection.workingCopy.cachedLocalPath) << "the working copy should be forgotten";
        char kept[MAX_PATH] = "";
        std::string content;
        if (c.end == OldUnderItsName) {
            EXPECT_EQ(DemoContent, DeviceContent()) << "the device file should be as it was";
            EXPECT_EQ(DEV_KEPT_DEVICE_AS_IT_WAS, DevKeptCopyPath(kept))
                << "DevKeptCopyPath must name the kept copy and say the device's file is as it was";
        } else {
            EXPECT_LT(Settings(), 0) << "in this case the device has no file under the real name";
            EXPECT_EQ(DEV_KEPT_DEVICE_MAY_LACK_FILE, DevKeptCopyPath(kept))
                << "DevKeptCopyPath must name the kept copy and say the device may lack its file";
        }
        ASSERT_TRUE(ReadLocalFile(local, &content)) << "the local copy holding the new value was deleted";
        EXPECT_EQ("Unsaved", NameIn(content)) << "the kept local copy lacks the new value";
        EXPECT_STREQ(local.c_str(), kept) << "DevKeptCopyPath names another file";

        DevsimClearRules();
        DevsimSetShortWrites(device_, false);
        DevsimSetCommitsKeepLess(device_, false);
        DevsimSetDeleteRefused(device_, false);
        DevsimResetCounts();
        std::string again = ReadName();
        EXPECT_NE(local, DevConnection.workingCopy.cachedLocalPath)
            << "the read after a failed write-back should start a fresh working copy";
        switch (c.end) {
        case OldUnderItsName:
            EXPECT_EQ(1, GetStreams()) << "the read after a failed write-back should download afresh";
            EXPECT_EQ("Demo phone", again) << "the fresh read should see the device's untouched file";
            break;
        case NewUnderLeftoverName:
            EXPECT_EQ("Unsaved", again) << "the fresh read should find the complete new copy under its other name";
            EXPECT_EQ("Unsaved", NameIn(DeviceContent())) << "the fresh read should put the new copy back under its name";
            EXPECT_EQ(1u, DevsimChildren(device_, DevsimFind(device_, L"Internal storage\\Corvane")).size())
                << "the new copy should be gone once the file is back under its name";
            break;
        case NothingLeft:
            EXPECT_EQ(1, Creates()) << "the lost settings file should be created afresh, empty";
            EXPECT_EQ("dflt", again) << "the fresh read of the re-created file should give the default";
            break;
        }
        Shutdown();
        EXPECT_EQ(1u, NewFiles(before, WorkingCopyFiles()).size()) << "after shut-down exactly the kept copy should remain";
        for (const std::string &f : NewFiles(before, WorkingCopyFiles())) DeleteFileA(f.c_str());
        started_ = false;
    }
}

// Devices that answer oddly, and runs where two things fail: the file is never lost, and the
// write says it failed exactly when the new name is not under the real name, and what the
// device holds: its file as it was, or maybe no complete file (the local copy is kept either way).
TEST_F(WorkingCopyTest, OddDevicesAndDoubleFaultsNeverLoseTheFileAndTellTheTruth)
{
    enum Told { Nothing, NotSaved, NotSavedAsItWas, NotSavedMayLack };
    // arm runs once the dialog's read is done, so that it concerns the write; a device's id
    // scheme holds from the start.
    const struct { const char *why; void (*arm)(int device); const char *deviceName; Told told; bool fromStart; } cases[] = {
        {"a busy rename aside, then a busy create: each is asked again, and the name is saved", [](int) {
             DevsimFailCall("IPortableDeviceProperties::SetValues", 1, HRESULT_FROM_WIN32(ERROR_BUSY));
             DevsimFailCall("IPortableDeviceContent::CreateObjectWithPropertiesAndData", 2, HRESULT_FROM_WIN32(ERROR_BUSY)); },
         "Odd", Nothing},
        {"a failed rename aside, then a failed create: the device is left exactly as it was", [](int) {
             DevsimFailCall("IPortableDeviceProperties::SetValues", 1, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT));
             DevsimFailCall("IPortableDeviceContent::CreateObjectWithPropertiesAndData", 2, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT)); },
         "Demo phone", NotSavedAsItWas},
        {"the aside name is held by an old file that cannot be deleted", [](int device) {
             DevsimAddFile(device, DevsimFind(device, L"Internal storage\\Corvane"), L"Corvane_Info.ini.tessaly-old", "x");
             DevsimSetDeleteRefused(device, true); },
         "Demo phone", NotSavedAsItWas},
        {"renamed objects get new ids", [](int device) { DevsimSetIdScheme(device, DEVSIM_IDS_REISSUED_ON_RENAME); },
         "Odd", Nothing, true},
        {"ids follow names, so the old file's id comes to name the new one",
         [](int device) { DevsimSetIdScheme(device, DEVSIM_IDS_FROM_NAMES); }, "Odd", Nothing, true},
        {"the device says it renamed, and did not", [](int device) { DevsimSetRenameLies(device, true); },
         "Demo phone", NotSavedAsItWas},
        {"the rename aside happens, but its answer is lost", [](int) {
             DevsimFailCall("IPortableDeviceProperties::SetValues", 1, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), nullptr,
                            DEVSIM_AFTER_ACTING); },
         "Odd", Nothing},
        {"a device that cannot rename deletes the old file, but answers an error", [](int device) {
             DevsimSetRenameRefused(device, true);
             DevsimFailCall("IPortableDeviceContent::Delete", 1, HRESULT_FROM_WIN32(ERROR_SEM_TIMEOUT), nullptr,
                            DEVSIM_AFTER_ACTING); },
         "Odd", Nothing},
        {"the rename is refused with E_NOTIMPL for the whole call: the device cannot rename", [](int) {
             DevsimFailCall("IPortableDeviceProperties::SetValues", 1, E_NOTIMPL); },
         "Odd", Nothing},
        {"a phantom a cut-off upload left holds the new copy's name: nothing changes, and the message says so",
         [](int device) {
             DevsimSetPhantoms(device, true);
             DevsimAddPhantom(device, DevsimFind(device, L"Internal storage\\Corvane"), L"Corvane_Info.ini.tessaly-new"); },
         "Demo phone", NotSavedAsItWas},
        {"a phantom holds the aside name (an old file that cannot be deleted): nothing changes either", [](int device) {
             DevsimAddPhantom(device, DevsimFind(device, L"Internal storage\\Corvane"), L"Corvane_Info.ini.tessaly-old"); },
         "Demo phone", NotSavedAsItWas},
        {"the new copy never gets the real name, nor does the old one get it back", [](int) {
             for (int nth = 2; nth <= 5; nth++) DevsimFailCall("IPortableDeviceProperties::SetValues", nth, E_FAIL); },
         nullptr, NotSavedMayLack},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        device_ = AddDemoHandheld();
        std::set<std::string> before = WorkingCopyFiles();
        if (c.fromStart) c.arm(device_);
        StartOnDevice();
        EXPECT_EQ("Demo phone", ReadName());
        int old = Settings();
        if (!c.fromStart) c.arm(device_);
        BOOL wrote = DevWriteProfileString("Corvane", "Name", "Odd", SettingsFile);
        if (c.told == NotSavedAsItWas)
            EXPECT_EQ(old, Settings()) << "a write that says the device's file is as it was replaced the old file";
        char kept[MAX_PATH] = "";
        int keptKind = DevKeptCopyPath(kept);
        Told told = wrote ? Nothing
                    : keptKind == DEV_KEPT_DEVICE_AS_IT_WAS ? NotSavedAsItWas
                    : keptKind == DEV_KEPT_DEVICE_MAY_LACK_FILE ? NotSavedMayLack
                                                                : NotSaved;
        EXPECT_EQ(c.told, told) << "what the user is told (0 nothing, 1 not saved, 2 not saved and the file as it "
                                   "was, 3 not saved and the device may lack its file)";
        if (c.deviceName != nullptr)
            EXPECT_EQ(c.deviceName, NameIn(DeviceContent())) << "the name under the real name";
        else
            EXPECT_LT(Settings(), 0) << "the file was expected to be left only under a leftover name";
        if (c.told != NotSavedMayLack) {
            size_t files = 0;   // what was there before this run is not this run's doing
            for (int child : DevsimChildren(device_, DevsimFind(device_, L"Internal storage\\Corvane")))
                files += !DevsimIsPhantom(device_, child) && DevsimName(device_, child) != L"Corvane_Info.ini.tessaly-old";
            EXPECT_EQ(1u, files) << "something this run made was left beside the settings file";
        }
        DevsimClearRules();
        DevsimSetDeleteRefused(device_, false);
        // Whatever is left, the file is complete somewhere on the device, and reads back.
        std::string again = ReadName();
        EXPECT_TRUE(again == "Odd" || again == "Demo phone") << "the next read gives \"" << again << "\"";
        Shutdown();
        for (const std::string &f : NewFiles(before, WorkingCopyFiles())) DeleteFileA(f.c_str());
        started_ = false;
    }
}

// A name the device could not read this time, whether it says it failed or that the name is
// absent, is not a missing file, on the file itself or on the only copy an interrupted replace
// left. The dialog's read and the write each list the folder once: with the name unreadable at
// both, the read gives the default, the write fails without a local copy (nothing was read to
// keep), nothing is created or deleted, and once the name reads again the file reads as before.
TEST_F(WorkingCopyTest, AnUnreadableNameIsNeverTakenForAMissingFile)
{
    const struct { const char *why; const wchar_t *file; HRESULT hr; } cases[] = {
        {"the file's name fails to read", L"Corvane_Info.ini", HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)},
        {"the file's name reads as absent", L"Corvane_Info.ini", HRESULT_FROM_WIN32(ERROR_NOT_FOUND)},
        {"the only copy, a leftover, has its name fail to read", L"Corvane_Info.ini.tessaly-new",
         HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)},
        {"the only copy, a leftover, has its name read as absent", L"Corvane_Info.ini.tessaly-old",
         HRESULT_FROM_WIN32(ERROR_NOT_FOUND)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        device_ = AddDemoHandheld();
        int app = DevsimFind(device_, L"Internal storage\\Corvane");
        DevsimRemove(device_, Settings());
        int file = DevsimAddFile(device_, app, c.file, DemoContent);
        StartOnDevice();
        std::wstring id = DevsimObjectId(device_, file);
        for (int call : {1, 2}) DevsimValueError(id.c_str(), &WPD_OBJECT_ORIGINAL_FILE_NAME, call, c.hr);
        EXPECT_EQ("dflt", ReadName()) << "a read whose file name could not be read gives the default";
        EXPECT_FALSE(DevWriteProfileString("Corvane", "Name", "Lost", SettingsFile)) << "the write said it succeeded";
        char kept[MAX_PATH] = "";
        EXPECT_EQ(0, DevKeptCopyPath(kept)) << "a copy was kept although nothing could be read";
        EXPECT_EQ(0, Creates()) << "a file was uploaded into the folder";
        EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::Delete")) << "something was deleted";
        EXPECT_EQ(1u, DevsimChildren(device_, app).size()) << "the app folder no longer holds just the file";
        EXPECT_TRUE(DevsimExists(device_, file)) << "the device file was replaced";
        EXPECT_EQ(DemoContent, DevsimData(device_, file)) << "the device file changed";
        EXPECT_EQ("Demo phone", ReadName()) << "once the name can be read the file reads as before";
        Shutdown();
        started_ = false;
    }
}

// Where the phone lists Android's edit operations a save rewrites the file in place: it keeps its
// object (the same id) and the app as its owner, and the copies made on the way go. Without them,
// the replace makes a new object. After an edit the driver keeps stating the old size until the
// phone is reconnected: a later run in the same connection reads the file all the same.
TEST_F(WorkingCopyTest, APhoneWithTheEditOperationsKeepsTheFileItsObjectAndTheAppsOwnership)
{
    const struct { const char *why; DevsimEditOps ops; const char *name; bool sameObject; } cases[] = {
        {"edit operations listed: a shorter name", DEVSIM_EDIT_LISTED, "Short", true},
        {"edit operations listed: a longer name", DEVSIM_EDIT_LISTED, "A longer name here", true},
        {"the driver will not list them: tried, and they work", DEVSIM_EDIT_UNANSWERED, "Tried", true},
        {"no edit operations: the replace, a new object", DEVSIM_EDIT_ABSENT, "Replaced", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        device_ = AddDemoHandheld();
        DevsimSetEditOperations(device_, c.ops);
        int before = Settings();
        StartOnDevice();
        EXPECT_TRUE(DevWriteProfileString("Corvane", "Name", c.name, SettingsFile)) << "the save failed";
        EXPECT_EQ(c.name, NameIn(DeviceContent())) << "the device does not hold the new name";
        EXPECT_EQ(c.sameObject, Settings() == before) << "whether the file kept its object (and so its id)";
        EXPECT_EQ(c.sameObject, DevsimOwnedByApp(device_, Settings())) << "whether the app still owns its file";
        EXPECT_EQ(1u, DevsimChildren(device_, DevsimFind(device_, L"Internal storage\\Corvane")).size())
            << "a copy made on the way was left beside the file";
        Shutdown();
        started_ = false;
        // A later run, the phone not reconnected: the driver's size is stale after an edit.
        StartOnDevice();
        EXPECT_EQ(c.name, ReadName()) << "a later run in the same connection could not read the file";
        Shutdown();
        started_ = false;
    }
}

// One working copy only: a second device path replaces it, and the first one's file goes.
TEST_F(WorkingCopyTest, ASecondDevicePathReplacesTheWorkingCopy)
{
    int app = DevsimFind(device_, L"Internal storage\\Corvane");
    DevsimAddFile(device_, app, L"Other.ini", "[Corvane]\r\nName=Other phone\r\n");
    StartOnDevice();
    EXPECT_EQ("Demo phone", ReadName());
    std::string first = DevConnection.workingCopy.cachedLocalPath;
    EXPECT_EQ("Other phone", ReadName("*:\\Corvane\\Other.ini")) << "the second file reads its own name";
    EXPECT_STREQ("*:\\Corvane\\Other.ini", DevConnection.workingCopy.cachedDevicePath)
        << "the working copy is now the second file's";
    EXPECT_FALSE(LocalFileExists(first)) << "the first working copy's temporary file was left behind";
    EXPECT_EQ(1u, NewFiles(before_, WorkingCopyFiles()).size()) << "one working copy file at a time";
    EXPECT_EQ("Demo phone", ReadName()) << "back to the first file: downloaded again";
    EXPECT_EQ(3, GetStreams()) << "each change of path downloads the new file once";
    Shutdown();
}

}  // namespace
