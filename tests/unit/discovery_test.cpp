// Device discovery: which device and which app folder DevStartup settles on, how deep it
// looks, what it reads on the way, and how failures and refusals end it.
#include <algorithm>
#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "support/local_files.h"
#include "devfs/devfs_internal.h"

namespace {

const char kSettingsDevicePath[] = "*:\\Corvane\\Corvane_Info.ini";
const char kInfo[] = "[Corvane]\r\nName=Demo phone\r\n";

// A chain of folders below parent; returns the last one (parent itself for no names).
int Folders(int device, int parent, const std::vector<const wchar_t *> &names)
{
    for (const wchar_t *name : names)
        parent = DevsimAddFolder(device, parent, name);
    return parent;
}

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

std::string IdOrNone(const WCHAR *id)
{
    return id ? Narrow(id) : "(none)";
}

class DiscoveryTest : public DeviceTest {
protected:
    bool Found() const { return DevConnection.deviceUnavailable == 0; }

    // The three ids must name exactly these devsim objects of the given device.
    void ExpectIds(int device, int root, int app, int file)
    {
        EXPECT_EQ(Narrow(DevsimObjectId(device, root)), IdOrNone(DevConnection.RootFolderId))
            << "RootFolderId must be the folder that holds the app folder";
        EXPECT_EQ(Narrow(DevsimObjectId(device, app)), IdOrNone(DevConnection.AppFolderId))
            << "AppFolderId must be the folder \"Corvane\" that holds the settings file";
        EXPECT_EQ(Narrow(DevsimObjectId(device, file)), IdOrNone(DevConnection.InfoFileId))
            << "InfoFileId must be the settings file";
    }
};

TEST_F(DiscoveryTest, SearchDepthDecidesHowDeepTheAppFolderMayLie)
{
    struct Case {
        const char *why;
        const char *depth;   // SearchDepth in the local configuration; null: not set
        int levelsBelowStorage;   // folders between the storage and the app folder
        bool found;
    };
    const Case cases[] = {
        {"default depth 4: app folder directly on a storage (file at depth 3)", nullptr, 0, true},
        {"default depth 4: app folder one level below a storage (file at depth 4)", nullptr, 1, true},
        {"default depth 4: app folder two levels below (file at depth 5)", nullptr, 2, false},
        {"depth 2 cannot reach a file at depth 3", "2", 0, false},
        {"depth 3 reaches a file at depth 3", "3", 0, true},
        {"depth 3 cannot reach a file at depth 4", "3", 1, false},
        {"depth 5 reaches a file at depth 5", "5", 2, true},
        {"a non-numeric depth reads as 0", "deep", 0, false},
        {"a negative depth examines nothing", "-1", 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        SetConfig("SearchDepth", c.depth);
        int device = DevsimAddDevice(L"\\\\?\\usb#depth");
        int storage = DevsimAddStorage(device, L"Internal storage");
        DevsimAddFolder(device, storage, L"DCIM");
        std::vector<const wchar_t *> levels = {L"Android", L"data"};
        levels.resize(c.levelsBelowStorage);
        int holder = Folders(device, storage, levels);
        int app = DevsimAddFolder(device, holder, L"Corvane");
        int file = DevsimAddFile(device, app, L"Corvane_Info.ini", kInfo);

        Start();
        EXPECT_EQ(c.found, Found()) << c.why;
        char path[MAX_PATH] = "untouched";
        EXPECT_EQ(c.found ? 1 : 0, DevDevicePath(path)) << c.why << ": DevDevicePath tells whether a device was found";
        if (c.found) {
            EXPECT_STREQ(kSettingsDevicePath, path) << "DevDevicePath names the settings file on the device";
            ExpectIds(device, holder, app, file);
        } else {
            EXPECT_STREQ("untouched", path) << "DevDevicePath leaves out alone when nothing was found";
        }
        Shutdown();
        EXPECT_EQ(liveAtStart_, DevsimLiveObjects()) << c.why << ": DevShutdown must release every device object";
    }
}

// Below depth 2 no settings file can lie (a storage's child at the least), so nothing is read.
TEST_F(DiscoveryTest, DepthsBelowTwoFindNothingAndReadNothing)
{
    for (const char *depth : {"four", "-1", "0", "1"}) {
        SCOPED_TRACE(std::string("SearchDepth=") + depth);
        DevsimReset();
        SetConfig("SearchDepth", depth);
        int device = DevsimAddDevice(L"\\\\?\\usb#shallow");
        DevsimAddFile(device, DevsimAddStorage(device, L"Corvane"), L"Corvane_Info.ini", kInfo);
        Start();
        EXPECT_FALSE(Found()) << "a settings file at depth 2 lies below this depth";
        EXPECT_EQ(0, DevsimCallCount("IPortableDeviceProperties::GetValues")) << "no name needs reading";
        EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::EnumObjects")) << "no folder needs listing";
        Shutdown();
    }
}

// The walk looks only where the settings file could still be: an object's children only when
// one of them could be the file (inside an app folder) or hold it within the depth, and never
// the children of photos, documents and plain files. The root object's name is never read.
TEST_F(DiscoveryTest, OnlyWhatCouldLeadToTheSettingsFileIsRead)
{
    int device = DevsimAddDevice(L"\\\\?\\usb#pruned");
    int storage = DevsimAddStorage(device, L"Internal storage");                 // depth 1
    int camera = Folders(device, storage, {L"DCIM", L"Camera"});                 // depth 3
    int photo = DevsimAddObject(device, camera, L"IMG_1.jpg", &WPD_CONTENT_TYPE_IMAGE, &WPD_OBJECT_FORMAT_EXIF, "x", 1);
    int typedFile = DevsimAddObject(device, storage, L"notes.txt", &WPD_CONTENT_TYPE_DOCUMENT, nullptr, "x", 1);
    int untyped = DevsimAddObject(device, storage, L"untyped", nullptr, nullptr, nullptr, 0);   // depth 2
    int inUntyped = DevsimAddFolder(device, untyped, L"inside");                              // depth 3
    int deepApp = Folders(device, storage, {L"Documents", L"Corvane"});         // depth 3: an app folder
    int deepFile = DevsimAddFile(device, deepApp, L"Other.ini", "x");           // depth 4: could be the file
    int app = DevsimAddFolder(device, storage, L"Corvane");
    int file = DevsimAddFile(device, app, L"Corvane_Info.ini", kInfo);
    Start();
    ASSERT_TRUE(Found()) << "the settings file lies directly on the storage's app folder";
    ExpectIds(device, storage, app, file);

    auto callsFor = [&](const char *method, int object) {
        return DevsimCallCountFor(method, DevsimObjectId(device, object).c_str());
    };
    auto reads = [&](int object) { return callsFor("IPortableDeviceProperties::GetValues", object); };
    auto listings = [&](int object) { return callsFor("IPortableDeviceContent::EnumObjects", object); };
    EXPECT_EQ(0, reads(DEVSIM_ROOT)) << "the root object's name cannot matter";
    EXPECT_EQ(1, listings(DEVSIM_ROOT)) << "the root's children are the storages";
    EXPECT_EQ(1, listings(storage)) << "a storage may hold the app folder";
    EXPECT_EQ(1, reads(camera)) << "a folder at depth 3 is read: it could be an app folder";
    EXPECT_EQ(0, listings(camera)) << "a plain folder at depth 3 cannot hold the file within depth 4";
    EXPECT_EQ(0, reads(photo)) << "nothing below a plain folder at depth 3 is read";
    EXPECT_EQ(1, reads(typedFile)) << "a document on the storage is read once (name and type)";
    EXPECT_EQ(0, listings(typedFile)) << "a document has no children to ask for";
    EXPECT_EQ(1, listings(untyped)) << "an object of unknown type may have children";
    EXPECT_EQ(1, reads(inUntyped)) << "the children of an object of unknown type are looked at";
    EXPECT_EQ(1, listings(deepApp)) << "an app folder at depth 3 is listed: its children may be the file";
    EXPECT_EQ(1, reads(deepFile)) << "a child of an app folder at depth 4 is read";
    EXPECT_EQ(3, DevsimCallCount("IPortableDeviceKeyCollection::Add"))
        << "every object's one request asks for its name, type and size together, with one key collection";
}

// What discovery costs does not grow with what the folders hold below the depth.
TEST_F(DiscoveryTest, CostDoesNotGrowWithPhotosBelowTheDepth)
{
    long calls[2];
    const int photos[2] = {10, 3000};
    for (int i = 0; i < 2; i++) {
        DevsimReset();
        int device = DevsimAddDevice(L"\\\\?\\usb#camera");
        int storage = DevsimAddStorage(device, L"Internal storage");
        int camera = Folders(device, storage, {L"DCIM", L"Camera"});
        for (int n = 0; n < photos[i]; n++)
            DevsimAddObject(device, camera, (L"IMG_" + std::to_wstring(n) + L".jpg").c_str(), &WPD_CONTENT_TYPE_IMAGE,
                            &WPD_OBJECT_FORMAT_EXIF, "x", 1);
        DevsimAddFile(device, DevsimAddFolder(device, storage, L"Corvane"), L"Corvane_Info.ini", kInfo);
        Start();
        ASSERT_TRUE(Found());
        calls[i] = DevsimTotalCalls();
        Shutdown();
    }
    EXPECT_EQ(calls[0], calls[1]) << "discovery with " << photos[1] << " photos made " << calls[1]
                                  << " device calls, with " << photos[0] << " photos " << calls[0];
    EXPECT_LE(calls[1], 60) << "discovery of a small tree should stay within a few dozen calls";
}

// No device is looked for until a device path is needed: a settings file under Root or on a
// drive costs no device call at all.
TEST_F(DiscoveryTest, DiscoveryWaitsUntilADevicePathIsNeeded)
{
    AddDemoHandheld();
    StartOnly();
    std::string scratch = MakeScratchFolder("lazy");
    WIN32_FIND_DATAA fd;
    HANDLE h = DevFindFirstFile((scratch + "*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) DevFindClose(h);
    DevWriteProfileString("Corvane", "Name", "Drive", (scratch + "settings.ini").c_str());
    EXPECT_EQ(0, DevsimTotalCalls()) << "local work before any device path must make no device call";
    EXPECT_EQ(1, DevConnection.discoveryPending) << "discovery should still be pending";
    char path[MAX_PATH] = "";
    EXPECT_EQ(1, DevDevicePath(path)) << "the first device path runs discovery";
    EXPECT_EQ(1u, DevsimOpens(0).size()) << "the handheld is opened once";
    long afterDiscovery = DevsimCallCount("IPortableDevice::Open");
    EXPECT_EQ(1, DevDevicePath(path));
    EXPECT_EQ(afterDiscovery, DevsimCallCount("IPortableDevice::Open")) << "discovery runs once";
    Shutdown();
    DeleteFileA((scratch + "settings.ini").c_str());
    RemoveScratchFolder(scratch);

    // Any device operation runs it as well; a run that never needs one never opens the device.
    for (int i = 0; i < 2; i++) {
        DevsimReset();
        AddDemoHandheld();
        StartOnly();
        if (i == 0) {
            char name[16];
            DevGetProfileString("Corvane", "Name", "", name, sizeof name, kSettingsDevicePath);
            EXPECT_STREQ("Demo phone", name) << "a device read starts discovery and reads the name";
        }
        Shutdown();
        EXPECT_EQ(i == 0 ? 1u : 0u, DevsimOpens(0).size()) << (i == 0 ? "read" : "no device work");
    }
}

// After shut-down nothing reaches the released device: every device operation fails cleanly.
TEST_F(DiscoveryTest, DeviceOperationsAfterShutdownFailCleanly)
{
    AddDemoHandheld();
    Start();
    ASSERT_TRUE(Found());
    Shutdown();
    DevsimResetCounts();
    char path[MAX_PATH] = "untouched";
    EXPECT_EQ(0, DevDevicePath(path)) << "after shut-down there is no device path";
    EXPECT_STREQ("untouched", path);
    WIN32_FIND_DATAA fd;
    EXPECT_EQ(INVALID_HANDLE_VALUE, DevFindFirstFile("*:\\x", &fd));
    EXPECT_EQ(INVALID_HANDLE_VALUE, DevFindFirstFile(kSettingsDevicePath, &fd));
    char name[16];
    EXPECT_EQ(4u, DevGetProfileString("Corvane", "Name", "dflt", name, sizeof name, kSettingsDevicePath));
    EXPECT_FALSE(DevWriteProfileString("Corvane", "Name", "x", kSettingsDevicePath));
    EXPECT_FALSE(DevCopyFile(kSettingsDevicePath, "C:\\never.ini", FALSE));
    EXPECT_FALSE(DevDeleteFile(kSettingsDevicePath));
    EXPECT_EQ(0, DevsimTotalCalls()) << "a device operation after shut-down reached the device";
}

TEST_F(DiscoveryTest, OnlyAFileDirectlyInsideAnAppFolderCounts)
{
    struct Case { const char *why; bool found; };
    // Each layout is built below; the order of children is the device's order.
    const Case cases[] = {
        {"an app folder without the file, then another app folder with it: the walk goes on", true},
        {"the file directly on a storage and in another folder is ignored", false},
        {"the file one level below an app folder is ignored", false},
        {"the app folder's name in lower case and the file's in capitals still match", true},
        {"a name that only starts like the app folder's does not match", false},
    };
    for (int i = 0; i < (int)(sizeof cases / sizeof cases[0]); i++) {
        SCOPED_TRACE(cases[i].why);
        DevsimReset();
        int d = DevsimAddDevice(L"\\\\?\\usb#layout");
        int s = DevsimAddStorage(d, L"Internal storage");
        int app = -1, file = -1, holder = -1;
        switch (i) {
        case 0: {
            int empty = DevsimAddFolder(d, s, L"Corvane");
            DevsimAddFile(d, empty, L"Other.ini", "x");
            holder = DevsimAddFolder(d, s, L"Docs");
            app = DevsimAddFolder(d, holder, L"Corvane");
            file = DevsimAddFile(d, app, L"Corvane_Info.ini", kInfo);
            break;
        }
        case 1:
            DevsimAddFile(d, s, L"Corvane_Info.ini", kInfo);
            DevsimAddFile(d, DevsimAddFolder(d, s, L"Other"), L"Corvane_Info.ini", kInfo);
            break;
        case 2:
            DevsimAddFile(d, Folders(d, s, {L"Corvane", L"Sub"}), L"Corvane_Info.ini", kInfo);
            break;
        case 3:
            holder = s;
            app = DevsimAddFolder(d, s, L"corvane");
            file = DevsimAddFile(d, app, L"CORVANE_INFO.INI", kInfo);
            break;
        case 4:
            DevsimAddFile(d, DevsimAddFolder(d, s, L"Corvane2"), L"Corvane_Info.ini", kInfo);
            DevsimAddFile(d, DevsimAddFolder(d, s, L"Corvan"), L"Corvane_Info.ini", kInfo);
            break;
        }
        Start();
        EXPECT_EQ(cases[i].found, Found()) << cases[i].why;
        if (cases[i].found && Found())
            ExpectIds(d, holder, app, file);
        Shutdown();
    }
}

// A run killed in the middle of a replace leaves the settings file under a leftover name
// (".tessaly-new" holds the new copy, ".tessaly-old" the old one). Such a folder is the app
// folder all the same, in the walk's usual order; the file is read from the new copy before
// the old, and a read-write session puts it back under its name on first use, leaving only it.
// A new copy whose read fails once is kept for the next run: only the newest copy is put back.
TEST_F(DiscoveryTest, AnInterruptedReplaceIsFoundAndItsFileReadThere)
{
    struct File { const wchar_t *name; const char *value; };
    struct Case {
        const char *why;
        std::vector<File> files;         // the app folder's children, in the device's order
        bool renames, readOnly;
        const char *read;                // the name read; nullptr: nothing found
        std::vector<std::wstring> left;  // the app folder's children after the read
        bool newCopyReadFails = false;   // the first read of the new copy fails
    };
    const std::wstring real = L"Corvane_Info.ini", newCopy = real + L".tessaly-new", oldCopy = real + L".tessaly-old";
    const Case cases[] = {
        {"both copies: the new one wins and is put back", {{newCopy.c_str(), "New"}, {oldCopy.c_str(), "Old"}},
         true, false, "New", {real}},
        {"the new copy listed after the old one still wins", {{oldCopy.c_str(), "Old"}, {newCopy.c_str(), "New"}},
         true, false, "New", {real}},
        {"only the old copy", {{oldCopy.c_str(), "Old"}}, true, false, "Old", {real}},
        {"a device that cannot rename gets a copy", {{newCopy.c_str(), "New"}}, false, false, "New", {real}},
        {"a read-only session reads the leftover where it is", {{newCopy.c_str(), "New"}, {oldCopy.c_str(), "Old"}},
         true, true, "New", {newCopy, oldCopy}},
        {"the file itself wins over a leftover listed before it", {{newCopy.c_str(), "New"}, {real.c_str(), "Real"}},
         true, false, "Real", {newCopy, real}},
        {"names compare folding A to Z only", {{L"CORVANE_INFO.INI.TESSALY-NEW", "New"}}, true, false, "New", {real}},
        {"a leftover of another file is not the settings file", {{L"Other.ini.tessaly-new", "Other"}}, true, false,
         nullptr, {L"Other.ini.tessaly-new"}},
        {"both copies, the new one unreadable once: the old one is read, and both stay",
         {{newCopy.c_str(), "New"}, {oldCopy.c_str(), "Old"}}, true, false, "Old", {newCopy, oldCopy}, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int d = DevsimAddDevice(L"\\\\?\\usb#interrupted");
        int app = DevsimAddFolder(d, DevsimAddStorage(d, L"Internal storage"), L"Corvane");
        for (const File &f : c.files)
            DevsimAddFile(d, app, f.name, std::string("[Corvane]\r\nName=") + f.value + "\r\n");
        DevsimSetRenameRefused(d, !c.renames);
        if (c.readOnly) DevsimSetDeny(d, DEVSIM_DENY_READWRITE);
        if (c.newCopyReadFails)
            DevsimFailCall("IPortableDeviceResources::GetStream", 1, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE),
                           DevsimObjectId(d, DevsimFind(d, (L"Internal storage\\Corvane\\" + newCopy).c_str())).c_str());
        Start();
        ASSERT_EQ(c.read != nullptr, Found()) << "the handheld was " << (Found() ? "" : "not ") << "found";
        if (c.read != nullptr) {
            char name[32] = "";
            DevGetProfileString("Corvane", "Name", "dflt", name, sizeof name, kSettingsDevicePath);
            EXPECT_STREQ(c.read, name) << "the name read";
        }
        std::vector<std::wstring> left;
        for (int child : DevsimChildren(d, app)) left.push_back(DevsimName(d, child));
        std::string got, want;
        for (const std::wstring &n : left) got += Narrow(n) + " ";
        for (const std::wstring &n : c.left) want += Narrow(n) + " ";
        EXPECT_EQ(want, got) << "what the app folder holds after the first read";
        if (c.readOnly)
            EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::CreateObjectWithPropertiesAndData"))
                << "a read-only session tried to write";
        Shutdown();
        if (c.newCopyReadFails) {
            Start();
            char name[32] = "";
            DevGetProfileString("Corvane", "Name", "dflt", name, sizeof name, kSettingsDevicePath);
            EXPECT_STREQ("New", name) << "the next run should read the new copy kept for it";
            Shutdown();
        }
    }
}

// An app folder holding only a leftover is found where the walk meets it: an app folder with
// the file itself, later in the device's order, does not win over it.
TEST_F(DiscoveryTest, ALeftoverKeepsTheFirstMatchOrder)
{
    int d = DevsimAddDevice(L"\\\\?\\usb#order");
    int s = DevsimAddStorage(d, L"Internal storage");
    int first = DevsimAddFolder(d, DevsimAddFolder(d, s, L"A"), L"Corvane");
    int leftover = DevsimAddFile(d, first, L"Corvane_Info.ini.tessaly-old", kInfo);
    int second = DevsimAddFolder(d, s, L"Corvane");
    DevsimAddFile(d, second, L"Corvane_Info.ini", kInfo);
    DevsimSetDeny(d, DEVSIM_DENY_READWRITE);   // read-only: nothing is put back, the ids stay as found
    Start();
    ASSERT_TRUE(Found());
    ExpectIds(d, DevsimFind(d, L"Internal storage\\A"), first, leftover);
    Shutdown();
}

TEST_F(DiscoveryTest, AppFolderOnAStorageMakesTheRootObjectTheRoot)
{
    int device = DevsimAddDevice(L"\\\\?\\usb#storage-app");
    DevsimAddStorage(device, L"Card");
    int storage = DevsimAddStorage(device, L"Corvane");   // the storage itself is the app folder
    int file = DevsimAddFile(device, storage, L"Corvane_Info.ini", kInfo);
    Start();
    ASSERT_TRUE(Found()) << "a storage named \"Corvane\" holding the file is an app folder";
    ExpectIds(device, DEVSIM_ROOT, storage, file);
    ASSERT_NE(nullptr, DevConnection.RootFolderId);
    EXPECT_EQ(0, lstrcmpW(L"DEVICE", DevConnection.RootFolderId)) << "the root object is \"DEVICE\"";
    // Paths now resolve from the root object, whose constant id nobody may free.
    WIN32_FIND_DATAA fd;
    HANDLE h = DevFindFirstFile(kSettingsDevicePath, &fd);
    EXPECT_NE(INVALID_HANDLE_VALUE, h) << "the settings file is found below the root object";
    if (h != INVALID_HANDLE_VALUE)
        DevFindClose(h);
    h = DevFindFirstFile("*:\\*.*", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "the root object's children can be listed";
    EXPECT_STREQ("Card", fd.cFileName) << "the first storage comes first";
    DevFindClose(h);
    Shutdown();
    EXPECT_EQ(nullptr, DevConnection.RootFolderId) << "DevShutdown must forget the ids";
    EXPECT_EQ(nullptr, DevConnection.AppFolderId) << "DevShutdown must forget the ids";
    EXPECT_EQ(nullptr, DevConnection.InfoFileId) << "DevShutdown must forget the ids";
    EXPECT_EQ(0, DevsimOutstandingBlocks())
        << "DevShutdown must free the app folder's and the file's ids (and never the constant root id)";
}

TEST_F(DiscoveryTest, SecondDeviceIsFoundWhenTheFirstLacksTheAppFolder)
{
    // What the layer holds with only the handheld connected.
    AddDemoHandheld(L"\\\\?\\usb#second");
    Start();
    ASSERT_TRUE(Found()) << "the demo handheld alone must be found";
    long heldAlone = DevsimLiveObjects();
    Shutdown();

    DevsimReset();
    int first = DevsimAddDevice(L"\\\\?\\usb#first");
    Folders(first, DevsimAddStorage(first, L"Internal storage"), {L"DCIM"});
    int second = AddDemoHandheld(L"\\\\?\\usb#second");
    Start();
    ASSERT_TRUE(Found()) << "the second device holds the settings file";
    ExpectIds(second, DevsimFind(second, L"Internal storage"), DevsimFind(second, L"Internal storage\\Corvane"),
              DevsimFind(second, L"Internal storage\\Corvane\\Corvane_Info.ini"));
    EXPECT_EQ(1u, DevsimOpens(first).size()) << "the first device is opened once";
    EXPECT_EQ(1u, DevsimOpens(second).size()) << "the second device is opened once";
    EXPECT_EQ(heldAlone, DevsimLiveObjects())
        << "the layer holds more device objects than with the handheld alone: the first device "
           "(or its content service) was not released when it turned out to lack the app folder";
}

TEST_F(DiscoveryTest, ReadWriteRefusalIsRetriedReadOnly)
{
    int device = AddDemoHandheld();
    DevsimSetDeny(device, DEVSIM_DENY_READWRITE);
    Start();
    EXPECT_TRUE(Found()) << "a device that allows read access only is still used";
    std::vector<DevsimOpenRecord> opens = DevsimOpens(device);
    ASSERT_EQ(2u, opens.size()) << "one Open refused for read-write, one retry read-only";
    EXPECT_FALSE(opens[0].hasDesiredAccess) << "the first Open asks for no particular access";
    EXPECT_EQ(E_ACCESSDENIED, opens[0].result) << "the first Open was the refused one";
    EXPECT_TRUE(opens[1].hasDesiredAccess) << "the retry must ask for read access explicitly";
    EXPECT_EQ((DWORD)GENERIC_READ, opens[1].desiredAccess) << "the retry asks for GENERIC_READ";
    EXPECT_EQ(S_OK, opens[1].result) << "the read-only retry succeeds";
    for (const DevsimOpenRecord &open : opens) {
        EXPECT_EQ(L"Corvane", open.clientName) << "client name sent with Open";
        EXPECT_EQ(1u, open.major) << "client major version";
        EXPECT_EQ(0u, open.minor) << "client minor version";
        EXPECT_EQ(0u, open.revision) << "client revision";
        EXPECT_EQ(0x20000u, open.qualityOfService) << "security quality of service: impersonation";
    }
}

// A camera, a reader or a second, locked phone listed first never hides the handheld: a
// device that fails to open or to be walked is closed and skipped, and the first device in
// order that holds the file still wins.
TEST_F(DiscoveryTest, AFailingDeviceNeverHidesTheHandheld)
{
    struct Case { const char *why; void (*make)(int first); bool firstHoldsTheFile; int winner; };
    const Case cases[] = {
        {"the first device refuses every open", [](int first) { DevsimSetDeny(first, DEVSIM_DENY_ALL); }, false, 1},
        {"the first device cannot give a folder's name", [](int first) {
             DevsimValueError(DevsimObjectId(first, DevsimFind(first, L"Internal storage\\DCIM")).c_str(),
                              &WPD_OBJECT_ORIGINAL_FILE_NAME, 0, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)); },
         false, 1},
        {"both hold the file", [](int) {}, true, 0},
        {"a storage answers E_INVALIDARG for its file name", [](int first) {
             DevsimValueError(DevsimObjectId(first, DevsimFind(first, L"Internal storage")).c_str(),
                              &WPD_OBJECT_ORIGINAL_FILE_NAME, 0, E_INVALIDARG); },
         true, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int first = DevsimAddDevice(L"\\\\?\\usb#first");
        // Filler first, so that the objects failed below have ids the handheld lacks.
        int card = DevsimAddStorage(first, L"Card");
        for (int i = 0; i < 8; i++) DevsimAddFile(first, card, (L"f" + std::to_wstring(i)).c_str(), "x");
        int storage = DevsimAddStorage(first, L"Internal storage");
        DevsimAddFolder(first, storage, L"DCIM");
        if (c.firstHoldsTheFile)
            DevsimAddFile(first, DevsimAddFolder(first, storage, L"Corvane"), L"Corvane_Info.ini", kInfo);
        int second = AddDemoHandheld(L"\\\\?\\usb#second");
        c.make(first);
        Start();
        ASSERT_TRUE(Found()) << "the handheld was hidden";
        int winner = c.winner == 0 ? first : second;
        ExpectIds(winner, DevsimFind(winner, L"Internal storage"), DevsimFind(winner, L"Internal storage\\Corvane"),
                  DevsimFind(winner, L"Internal storage\\Corvane\\Corvane_Info.ini"));
        EXPECT_EQ(c.winner == 0 ? 0u : 1u, DevsimOpens(second).size()) << "the second device is opened only when needed";
        EXPECT_TRUE(DevWriteProfileString("Corvane", "Name", "Found", kSettingsDevicePath)) << "the write failed";
        EXPECT_NE(std::string::npos,
                  DevsimData(winner, DevsimFind(winner, L"Internal storage\\Corvane\\Corvane_Info.ini")).find("Name=Found"))
            << "the name did not reach the device that won";
        Shutdown();
    }
}

// A failure of Open, of the listing of DEVICE or of a storage, or of a storage's name ends the
// walk of that device, and the next device is looked at. Below a storage, a name that cannot be
// read or a listing that fails passes over that object only, and the walk goes on in order. A
// failure armed on something the walk never needs to read changes nothing.
TEST_F(DiscoveryTest, AFailureOnWhatTheWalkReadsSkipsThatDeviceOrThatObject)
{
    enum Outcome { SkipsDevice, SkipsObject, NeverRead };
    struct Case {
        const char *why;
        int device;           // 0: the device without the app folder; 1: the demo handheld
        const char *method;
        const wchar_t *path;  // object concerned, as a devsim path; null: any object
        int nth;
        Outcome outcome;
    };
    const Case cases[] = {
        {"name of a storage", 0, "IPortableDeviceProperties::GetValues", L"Internal storage", 1, SkipsDevice},
        {"children of a storage", 0, "IPortableDeviceContent::EnumObjects", L"Internal storage", 1, SkipsDevice},
        {"the second Next in a storage", 0, "IEnumPortableDeviceObjectIDs::Next", L"Internal storage", 2, SkipsDevice},
        {"children of a folder", 0, "IPortableDeviceContent::EnumObjects", L"Internal storage\\a", 1, SkipsObject},
        {"the second Next in a folder", 0, "IEnumPortableDeviceObjectIDs::Next", L"Internal storage\\a", 2, SkipsObject},
        {"name of a folder", 0, "IPortableDeviceProperties::GetValues", L"Internal storage\\a", 1, SkipsObject},
        {"the key collection of the property reads", 0, "CoCreateInstance:KeyCollection", nullptr, 1, SkipsDevice},
        {"the client information", 0, "CoCreateInstance:Values", nullptr, 1, SkipsDevice},
        {"the content service", 0, "IPortableDevice::Content", nullptr, 1, SkipsDevice},
        {"the properties service", 0, "IPortableDeviceContent::Properties", nullptr, 1, SkipsDevice},
        {"a name on the device that holds the file", 1, "IPortableDeviceProperties::GetValues", L"Internal storage\\DCIM", 1, SkipsObject},
        {"a Next on the device that holds the file", 1, "IEnumPortableDeviceObjectIDs::Next", L"Internal storage", 1, SkipsDevice},
        {"name of the root object, never read", 0, "IPortableDeviceProperties::GetValues", L"", 1, NeverRead},
        {"name of an object at depth 4, never read", 0, "IPortableDeviceProperties::GetValues", L"Internal storage\\a\\b\\c", 1, NeverRead},
        {"children of a plain folder at depth 3, never listed", 0, "IPortableDeviceContent::EnumObjects", L"Internal storage\\a\\b", 1, NeverRead},
        {"children of a file, never listed", 0, "IPortableDeviceContent::EnumObjects", L"Internal storage\\top.txt", 1, NeverRead},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        // Device 0 lacks the app folder and comes before the handheld; for failures on the
        // handheld itself it is left out (ids such as "o1" repeat from device to device).
        int first = -1;
        if (c.device == 0) {
            first = DevsimAddDevice(L"\\\\?\\usb#plain");
            // Filler first, so that the objects failed below have ids the handheld lacks.
            int card = DevsimAddStorage(first, L"Card");
            for (int i = 0; i < 8; i++) DevsimAddFile(first, card, (L"f" + std::to_wstring(i)).c_str(), "x");
            int storage = DevsimAddStorage(first, L"Internal storage");
            DevsimAddFile(first, Folders(first, storage, {L"a", L"b", L"c"}), L"deep.txt", "x");
            DevsimAddFolder(first, DevsimFind(first, L"Internal storage\\a\\b"), L"b2");
            DevsimAddFolder(first, DevsimFind(first, L"Internal storage\\a"), L"a2");
            DevsimAddFile(first, storage, L"top.txt", "x");
        }
        int second = AddDemoHandheld(L"\\\\?\\usb#demo");
        int target = c.device == 0 ? first : second;
        std::wstring id;
        if (c.path != nullptr) {
            int object = DevsimFind(target, c.path);
            ASSERT_GE(object, 0) << "test layout lacks " << Narrow(c.path);
            id = DevsimObjectId(target, object);
        }
        DevsimFailCall(c.method, c.nth, E_FAIL, c.path ? id.c_str() : nullptr);
        Start();
        EXPECT_EQ(c.device == 0 || c.outcome != SkipsDevice, Found()) << c.why;
        if (c.device == 0 && c.outcome != NeverRead) {
            EXPECT_EQ(1u, DevsimOpens(second).size()) << c.why << ": after the first device the second is tried";
            // What the walk of the first device reads after the failure, in its order.
            long after = DevsimCallCountFor("IPortableDeviceProperties::GetValues",
                                            DevsimObjectId(first, DevsimFind(first, L"Internal storage\\top.txt")).c_str());
            EXPECT_EQ(c.outcome == SkipsObject ? 1 : 0, after)
                << c.why << (c.outcome == SkipsObject ? ": the walk did not go on past the object it could not read"
                                                     : ": the walk went on in a device it should have left");
        }
        if (c.device == 1 && c.outcome == SkipsDevice)
            EXPECT_EQ(nullptr, DevConnection.RootFolderId) << c.why << ": no id may stay set";
        Shutdown();
        EXPECT_EQ(liveAtStart_, DevsimLiveObjects()) << c.why << ": every device object released";
        EXPECT_EQ(0, DevsimOutstandingBlocks()) << c.why << ": every id freed";
    }
}

// A name the device answers it could not read is a failed read, not a nameless object. Below a
// storage such an object is passed over and the first settings file in device order among what
// could be read wins, but never in place of an app folder the failure may hide: a request that
// fails on the app folder or on anything in it, a child of it without a name, or an unreadable
// object that may be the app folder itself, ends the walk of that device (message 206), so that
// the save never goes to the later copy in Documents. A sibling of the app folder cannot be
// another "Corvane", so its unreadable name costs nothing; an unreadable type only a listing.
TEST_F(DiscoveryTest, AFailureAtTheAppFolderNeverHandsTheSaveToAnother)
{
    enum Target { Nothing, FirstFile, FirstApp, Sibling };
    struct Case {
        const char *why;
        Target target;
        const char *method;      // the request failed on the target, or null
        const PROPERTYKEY *key;  // else the value the target cannot read
        HRESULT reason;
        int app;                 // the app folder found: 0 the storage's, 1 the one in Documents; -1 none
    };
    const HRESULT busy = HRESULT_FROM_WIN32(ERROR_BUSY), broken = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
    const Case cases[] = {
        {"nothing unreadable: the first app folder in device order wins", Nothing, nullptr, nullptr, S_OK, 0},
        {"the first settings file's name is busy past every wait", FirstFile, nullptr, &WPD_OBJECT_ORIGINAL_FILE_NAME, busy, -1},
        {"the first settings file's name fails to read", FirstFile, nullptr, &WPD_OBJECT_ORIGINAL_FILE_NAME, broken, -1},
        {"the first settings file's name is not supported", FirstFile, nullptr, &WPD_OBJECT_ORIGINAL_FILE_NAME,
         HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED), -1},
        {"the first settings file's name is not found", FirstFile, nullptr, &WPD_OBJECT_ORIGINAL_FILE_NAME,
         HRESULT_FROM_WIN32(ERROR_NOT_FOUND), -1},
        {"the first settings file's type is busy", FirstFile, nullptr, &WPD_OBJECT_CONTENT_TYPE, busy, 0},
        {"the app folder cannot be listed", FirstApp, "IPortableDeviceContent::EnumObjects", nullptr, broken, -1},
        {"a Next in the app folder fails", FirstApp, "IEnumPortableDeviceObjectIDs::Next", nullptr, broken, -1},
        {"the app folder's own name fails to read", FirstApp, nullptr, &WPD_OBJECT_ORIGINAL_FILE_NAME, broken, -1},
        {"a sibling before the app folder cannot give its name", Sibling, nullptr, &WPD_OBJECT_ORIGINAL_FILE_NAME, broken, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        int d = DevsimAddDevice(L"\\\\?\\usb#two-apps");
        int s = DevsimAddStorage(d, L"Internal storage");
        // In device order: a sibling, the storage's own app folder, then one inside "Documents".
        int sibling = DevsimAddFolder(d, s, L"Android");
        int apps[2], files[2], holders[2] = {s, -1};
        apps[0] = DevsimAddFolder(d, s, L"Corvane");
        files[0] = DevsimAddFile(d, apps[0], L"Corvane_Info.ini", kInfo);
        holders[1] = DevsimAddFolder(d, s, L"Documents");
        apps[1] = DevsimAddFolder(d, holders[1], L"Corvane");
        files[1] = DevsimAddFile(d, apps[1], L"Corvane_Info.ini", kInfo);
        int target = c.target == FirstFile ? files[0] : c.target == FirstApp ? apps[0] : sibling;
        std::wstring id = DevsimObjectId(d, target);
        if (c.method != nullptr)
            DevsimFailCall(c.method, 1, c.reason, id.c_str());
        else if (c.key != nullptr)
            DevsimValueError(id.c_str(), c.key, 0, c.reason);
        Start();
        EXPECT_EQ(c.app >= 0, Found()) << "whether a settings file was taken";
        EXPECT_EQ(c.app < 0 ? 1 : 0, DevAppFolderUnreadable()) << "whether the app folder is told unreadable (206)";
        if (c.app >= 0 && Found()) {
            ExpectIds(d, holders[c.app], apps[c.app], files[c.app]);
            char name[32] = "";
            DevGetProfileString("Corvane", "Name", "", name, sizeof name, kSettingsDevicePath);
            EXPECT_STREQ("Demo phone", name) << "the file found was not read";
            EXPECT_TRUE(DevWriteProfileString("Corvane", "Name", "Written", kSettingsDevicePath)) << "the write failed";
        }
        DevsimClearRules();
        for (int a = 0; a < 2; a++) {
            int file = DevsimFind(d, a == 0 ? L"Internal storage\\Corvane\\Corvane_Info.ini"
                                            : L"Internal storage\\Documents\\Corvane\\Corvane_Info.ini");
            EXPECT_EQ(a == c.app ? "[Corvane]\r\nName=Written\r\n" : kInfo, file < 0 ? "(gone)" : DevsimData(d, file))
                << "the settings file in app folder " << a << " (0 the storage's, 1 the one in Documents)";
        }
        Shutdown();
    }
}

// Phones as users bring them. A locked phone, or one set to charging only, opens and lists no
// storage: when nothing else holds the file, DevStorageHidden says so (message 204, not 201).
// Android refuses to list a file's children, and some folders: the walk lists only storages,
// folders and objects of unknown type, passes over an object it cannot list or name (each one
// told to DevSkippedObject), and the first settings file in order still wins.
struct Skipped {
    std::string object;
    int call;
    HRESULT reason;
};
std::vector<Skipped> g_skipped;
void RecordSkipped(LPCWSTR objectId, int call, HRESULT reason)
{
    if (call < DEV_ENDS_DEVICE)   // what the walk passes over, not what it tells of a device
        g_skipped.push_back({Narrow(objectId), call, reason});
}

TEST_F(DiscoveryTest, PhonesAsUsersBringThemAreFoundOrToldApart)
{
    enum Layout { Locked, Bare, Handheld, MusicOnTop, AndroidRefused, NameUnreadable, PhotoMode, PhotosAndMore };
    struct Case {
        const char *why;
        std::vector<Layout> devices;   // in the manager's order
        int winner;                    // the device found, or -1
        int storageHidden;
        const wchar_t *skipped;        // the object passed over on the winner, or null
        int call;
        int photosOnly = 0;            // a storage showed nothing but DCIM and Pictures (message 209)
    };
    const Case cases[] = {
        {"a locked phone alone", {Locked}, -1, 1, nullptr, 0},
        {"a locked phone beside a phone without the app", {Locked, Bare}, -1, 1, nullptr, 0},
        {"a phone without the app alone: no storage is hidden", {Bare}, -1, 0, nullptr, 0},
        {"a locked phone before the handheld", {Locked, Handheld}, 1, 0, nullptr, 0},
        {"the handheld before a locked phone", {Handheld, Locked}, 0, 0, nullptr, 0},
        {"a song and a video at the storage's top, files refusing to be listed", {MusicOnTop}, 0, 0, nullptr, 0},
        {"Android refuses to be listed, before the app folder", {AndroidRefused}, 0, 0, L"Internal storage\\Android",
         DEV_SKIP_LISTING},
        {"a folder's name cannot be read, before the app folder", {NameUnreadable}, 0, 0, L"Internal storage\\Android",
         DEV_SKIP_NAME_READ},
        {"a phone in photo mode alone", {PhotoMode}, -1, 0, nullptr, 0, 1},
        {"a phone in photo mode beside a locked one: both are told", {Locked, PhotoMode}, -1, 1, nullptr, 0, 1},
        {"a phone in photo mode before the handheld", {PhotoMode, Handheld}, 1, 0, nullptr, 0, 0},
        {"DCIM and Pictures beside another folder is no photo mode", {PhotosAndMore}, -1, 0, nullptr, 0, 0},
    };
    DevSkippedObject = RecordSkipped;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        g_skipped.clear();
        for (size_t i = 0; i < c.devices.size(); i++) {
            std::wstring pnp = L"\\\\?\\usb#" + std::to_wstring(i);
            if (c.devices[i] == Locked) {
                DevsimAddDevice(pnp.c_str());   // opens, and DEVICE has no children
                continue;
            }
            int d = DevsimAddDevice(pnp.c_str());
            int storage = DevsimAddStorage(d, L"Internal storage");
            DevsimSetFilesRefuseListing(d, true);
            if (c.devices[i] == PhotoMode || c.devices[i] == PhotosAndMore) {
                DevsimAddFile(d, Folders(d, storage, {L"DCIM", L"Camera"}), L"IMG_0001.jpg", "jpeg");
                DevsimAddFolder(d, storage, L"pictures");   // the name folds as any other
                if (c.devices[i] == PhotosAndMore) DevsimAddFolder(d, storage, L"Music");
                continue;
            }
            if (c.devices[i] == MusicOnTop) {
                DevsimAddFile(d, storage, L"song.mp3", "ID3");
                DevsimAddFile(d, storage, L"clip.mp4", "ftyp");
            }
            int android = DevsimAddFolder(d, storage, L"Android");
            DevsimAddFolder(d, android, L"data");
            if (c.devices[i] == AndroidRefused) DevsimSetListingFails(d, android, HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
            if (c.devices[i] == NameUnreadable)
                DevsimValueError(DevsimObjectId(d, android).c_str(), &WPD_OBJECT_ORIGINAL_FILE_NAME, 0,
                                 HRESULT_FROM_WIN32(ERROR_GEN_FAILURE));
            if (c.devices[i] != Bare)
                DevsimAddFile(d, DevsimAddFolder(d, storage, L"Corvane"), L"Corvane_Info.ini", kInfo);
        }
        Start();
        EXPECT_EQ(c.winner >= 0, Found()) << "whether the settings file was found";
        if (c.winner >= 0 && Found())
            ExpectIds(c.winner, DevsimFind(c.winner, L"Internal storage"), DevsimFind(c.winner, L"Internal storage\\Corvane"),
                      DevsimFind(c.winner, L"Internal storage\\Corvane\\Corvane_Info.ini"));
        EXPECT_EQ(c.winner >= 0 ? 0 : c.storageHidden, DevStorageHidden())
            << "whether a phone that shows no storage is told apart (found: never)";
        EXPECT_EQ(c.photosOnly, DevPhotosOnly()) << "whether a phone that shares only its photos is told apart";
        for (const wchar_t *file : {L"Internal storage\\song.mp3", L"Internal storage\\clip.mp4"})
            if (c.winner >= 0 && DevsimFind(c.winner, file) >= 0)
                EXPECT_EQ(0, DevsimCallCountFor("IPortableDeviceContent::EnumObjects",
                                                DevsimObjectId(c.winner, DevsimFind(c.winner, file)).c_str()))
                    << Narrow(file) << " was asked for its children";
        if (c.skipped != nullptr) {
            EXPECT_EQ(1u, g_skipped.size()) << "exactly the object that could not be read should be passed over";
            if (g_skipped.size() == 1) {
                EXPECT_EQ(Narrow(DevsimObjectId(c.winner, DevsimFind(c.winner, c.skipped))), g_skipped[0].object)
                    << "another object than " << Narrow(c.skipped) << " was passed over";
                EXPECT_EQ(c.call, g_skipped[0].call) << "the request that failed (0 name read, 1 listing, 2 next)";
                EXPECT_EQ(Hex(HRESULT_FROM_WIN32(ERROR_GEN_FAILURE)), Hex(g_skipped[0].reason))
                    << "the skipped object should carry the device's own answer";
            }
        } else {
            EXPECT_TRUE(g_skipped.empty()) << g_skipped.size() << " object(s) passed over, the first "
                                           << (g_skipped.empty() ? "" : g_skipped[0].object);
        }
        Shutdown();
    }
    DevSkippedObject = nullptr;
}

// The program's hook between device calls changes no call and is told the folders listed so far;
// its stop, at any of its calls, ends the walk of every device, holding nothing afterwards.
std::vector<DWORD> g_progress;
size_t g_stopAt;   // the hook's call that answers stop; 0: none
int RecordProgress(DWORD foldersListed)
{
    g_progress.push_back(foldersListed);
    return g_progress.size() == g_stopAt;
}

TEST_F(DiscoveryTest, TheSearchHookChangesNoCallAndItsStopEndsEveryDevice)
{
    auto start = [&](int (*hook)(DWORD)) {
        DevsimReset();
        int bare = DevsimAddDevice(L"\\\\?\\usb#bare");   // 6 hook calls: DEVICE, storage, DCIM
        Folders(bare, DevsimAddStorage(bare, L"Internal storage"), {L"DCIM", L"Camera"});
        int d = DevsimAddDevice(L"\\\\?\\usb#handheld");   // a replace's leftover before the file
        int app = Folders(d, DevsimAddStorage(d, L"Internal storage"), {L"Download", L"Corvane"});
        DevsimAddFile(d, app, L"Corvane_Info.ini.tessaly-new", kInfo);
        DevsimAddFile(d, app, L"Corvane_Info.ini", kInfo);
        g_progress.clear();
        DevSearchProgress = hook;
        Start();
    };
    start(nullptr);
    std::vector<std::string> unhooked = DevsimCallLog();
    Shutdown();
    g_stopAt = 0;
    start(RecordProgress);
    EXPECT_TRUE(Found() && !DevSearchCancelled()) << "a hook that never says stop must change nothing";
    EXPECT_TRUE(unhooked == DevsimCallLog()) << "the hook changed the device calls";
    EXPECT_TRUE(std::is_sorted(g_progress.begin(), g_progress.end()) && !g_progress.empty() &&
                g_progress.back() == (DWORD)DevsimCallCount("IPortableDeviceContent::EnumObjects"))
        << "the hook should be told the folders listed, up to every listing made";
    Shutdown();
    for (const size_t calls = g_progress.size(); g_stopAt < calls;) {
        SCOPED_TRACE("a stop at the hook's call " + std::to_string(++g_stopAt) + " of " + std::to_string(calls));
        start(RecordProgress);
        EXPECT_EQ(1, DevSearchCancelled()) << "the layer should report the cancel, with nothing found";
        EXPECT_EQ(g_stopAt, g_progress.size()) << "the hook was asked again after it said stop";
        EXPECT_EQ(g_stopAt <= 6 ? 0u : 1u, DevsimOpens(1).size()) << "a stop on the bare phone must end every device";
        EXPECT_EQ(liveAtStart_, DevsimLiveObjects()) << "a cancelled discovery still holds device objects";
        EXPECT_EQ(0, DevsimOutstandingBlocks()) << "a cancelled discovery still holds object ids";
        Shutdown();
    }
    DevSearchProgress = nullptr;
}

// Only a refusal of read-write access is retried read-only (and a busy answer after a wait);
// a device whose Open fails otherwise is skipped at once.
TEST_F(DiscoveryTest, OnlyAccessDeniedIsRetriedReadOnly)
{
    for (HRESULT hr : {E_FAIL, (HRESULT)0x802A0001}) {
        char trace[40];
        wsprintfA(trace, "Open fails with 0x%08lX", (unsigned long)hr);
        SCOPED_TRACE(trace);
        DevsimReset();
        AddDemoHandheld(L"\\\\?\\usb#failing");
        int second = AddDemoHandheld(L"\\\\?\\usb#fine");
        DevsimFailCall("IPortableDevice::Open", 1, hr);
        Start();
        EXPECT_TRUE(Found()) << "the device after the one that cannot be opened holds the file";
        EXPECT_EQ(2, DevsimCallCount("IPortableDevice::Open")) << "only E_ACCESSDENIED earns a read-only retry";
        EXPECT_EQ(1u, DevsimOpens(second).size()) << "the device after it is tried once";
        Shutdown();
    }
}

TEST_F(DiscoveryTest, OnlyTheFirst128DevicesAreSeen)
{
    struct Case { const char *why; int withFile; bool found; };
    const Case cases[] = {
        {"the file on the 128th of 130 devices is found", 127, true},
        {"the file on the 129th of 130 devices is not seen", 128, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        for (int i = 0; i < 130; i++) {
            std::wstring pnp = L"\\\\?\\usb#" + std::to_wstring(i);
            if (i == c.withFile)
                AddDemoHandheld(pnp.c_str());
            else
                DevsimAddDevice(pnp.c_str());
        }
        Start();
        EXPECT_EQ(c.found, Found()) << c.why;
        EXPECT_EQ(1u, DevsimOpens(127).size()) << "the 128th device is opened";
        EXPECT_EQ(0u, DevsimOpens(128).size()) << "the 129th device is never opened";
        Shutdown();
    }
}

TEST_F(DiscoveryTest, PlainDeviceClassIsUsedWhenTheFreeThreadedOneIsMissing)
{
    AddDemoHandheld();
    DevsimSetFtmMissing(true);
    Start();
    EXPECT_TRUE(Found()) << "without the free-threaded class the plain device class must be used";
    EXPECT_EQ(1, DevsimCallCount("CoCreateInstance:Device")) << "one plain device object for the one device";
}

}  // namespace
