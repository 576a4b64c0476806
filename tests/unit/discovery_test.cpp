// Device discovery: which device and which app folder DevStartup settles on, how deep it
// looks, what it reads on the way, and how failures and refusals end it.
#include <string>
#include <vector>

#include "support/device_fixture.h"
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

TEST_F(DiscoveryTest, NonNumericDepthExaminesOnlyTheRootObject)
{
    SetConfig("SearchDepth", "four");
    AddDemoHandheld();
    Start();
    EXPECT_FALSE(Found()) << "with depth 0 the settings file at depth 3 cannot be found";
    EXPECT_EQ(1, DevsimCallCount("IPortableDeviceProperties::GetValues"))
        << "depth 0 reads the name of one object only";
    EXPECT_EQ(1, DevsimCallCountFor("IPortableDeviceProperties::GetValues", L"DEVICE"))
        << "the one object examined at depth 0 is the root \"DEVICE\"";
    EXPECT_EQ(1, DevsimCallCount("IPortableDeviceContent::EnumObjects"))
        << "only the root's children are enumerated (each returns at once at depth 1)";
}

TEST_F(DiscoveryTest, NegativeDepthReadsNoPropertyAtAll)
{
    SetConfig("SearchDepth", "-1");
    AddDemoHandheld();
    Start();
    EXPECT_FALSE(Found()) << "a negative depth finds nothing";
    EXPECT_EQ(0, DevsimCallCount("IPortableDeviceProperties::GetValues"))
        << "a negative depth must not read even the root object's name";
    EXPECT_EQ(0, DevsimCallCount("IPortableDeviceContent::EnumObjects"))
        << "a negative depth must not enumerate anything";
}

TEST_F(DiscoveryTest, DepthFourIsEnumeratedButDepthFiveIsNeverRead)
{
    int device = DevsimAddDevice(L"\\\\?\\usb#deep");
    int storage = DevsimAddStorage(device, L"Internal storage");    // depth 1
    int d4 = Folders(device, storage, {L"a", L"b", L"c"});            // depth 4
    int d5a = DevsimAddFolder(device, d4, L"d");                      // depth 5
    int d5b = DevsimAddFile(device, d4, L"e.txt", "e");               // depth 5
    int d6 = DevsimAddFolder(device, d5a, L"f");                      // depth 6
    std::wstring id4 = DevsimObjectId(device, d4);
    Start();
    EXPECT_FALSE(Found()) << "the tree holds no settings file";
    EXPECT_EQ(1, DevsimCallCountFor("IPortableDeviceProperties::GetValues", id4.c_str()))
        << "the depth-4 object's name is read once";
    EXPECT_EQ(1, DevsimCallCountFor("IPortableDeviceContent::EnumObjects", id4.c_str()))
        << "the depth-4 object is still enumerated";
    EXPECT_EQ(3, DevsimCallCountFor("IEnumPortableDeviceObjectIDs::Next", id4.c_str()))
        << "each of its two children costs one Next, plus the Next that ends the enumeration";
    for (int object : {d5a, d5b, d6}) {
        std::wstring id = DevsimObjectId(device, object);
        EXPECT_EQ(0, DevsimCallCountFor("IPortableDeviceProperties::GetValues", id.c_str()))
            << "no property of an object below depth 4 may be read (" << Narrow(id) << ")";
        EXPECT_EQ(0, DevsimCallCountFor("IPortableDeviceContent::EnumObjects", id.c_str()))
            << "no object below depth 4 may be enumerated (" << Narrow(id) << ")";
    }
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

TEST_F(DiscoveryTest, DeviceRefusingEvenReadOnlyHidesTheDevicesAfterIt)
{
    int first = AddDemoHandheld(L"\\\\?\\usb#locked");
    int second = AddDemoHandheld(L"\\\\?\\usb#open");
    DevsimSetDeny(first, DEVSIM_DENY_ALL);
    Start();
    EXPECT_FALSE(Found()) << "a device that cannot be opened ends discovery";
    EXPECT_EQ(2u, DevsimOpens(first).size()) << "the locked device gets its one read-only retry";
    EXPECT_EQ(0u, DevsimOpens(second).size()) << "no device after one that cannot be opened is tried";
}

TEST_F(DiscoveryTest, AFailureWithinTheLimitEndsDiscoveryForEveryLaterDevice)
{
    struct Case {
        const char *why;
        int device;           // 0: the device without the app folder; 1: the demo handheld
        const char *method;
        const wchar_t *path;  // object concerned, as a devsim path; null: any object
        int nth;
    };
    const Case cases[] = {
        {"name of the root object", 0, "IPortableDeviceProperties::GetValues", L"", 1},
        {"name of a storage", 0, "IPortableDeviceProperties::GetValues", L"Internal storage", 1},
        {"name of an object at depth 4", 0, "IPortableDeviceProperties::GetValues", L"Internal storage\\a\\b\\c", 1},
        {"children of a folder", 0, "IPortableDeviceContent::EnumObjects", L"Internal storage\\a", 1},
        {"children of an object at depth 4", 0, "IPortableDeviceContent::EnumObjects", L"Internal storage\\a\\b\\c", 1},
        {"the second Next in a folder", 0, "IEnumPortableDeviceObjectIDs::Next", L"Internal storage\\a\\b", 2},
        {"the last Next below depth 4", 0, "IEnumPortableDeviceObjectIDs::Next", L"Internal storage\\a\\b\\c", 2},
        {"a key collection for a property read", 0, "CoCreateInstance:KeyCollection", nullptr, 3},
        {"the client information", 0, "CoCreateInstance:Values", nullptr, 1},
        {"the content service", 0, "IPortableDevice::Content", nullptr, 1},
        {"the properties service", 0, "IPortableDeviceContent::Properties", nullptr, 1},
        {"a name on the device that holds the file", 1, "IPortableDeviceProperties::GetValues", L"Internal storage\\DCIM", 1},
        {"a Next on the device that holds the file", 1, "IEnumPortableDeviceObjectIDs::Next", L"Internal storage", 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        DevsimReset();
        // Device 0 lacks the app folder and comes before the handheld; for failures on the
        // handheld itself it is left out (ids such as "o1" repeat from device to device).
        int first = -1;
        if (c.device == 0) {
            first = DevsimAddDevice(L"\\\\?\\usb#plain");
            int storage = DevsimAddStorage(first, L"Internal storage");
            DevsimAddFile(first, Folders(first, storage, {L"a", L"b", L"c"}), L"deep.txt", "x");
            DevsimAddFolder(first, DevsimFind(first, L"Internal storage\\a\\b"), L"b2");
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
        EXPECT_FALSE(Found()) << c.why << ": a failure must end discovery with nothing found";
        if (c.device == 0)
            EXPECT_EQ(0u, DevsimOpens(second).size())
                << c.why << ": after a failure on the first device the second must not be tried";
        EXPECT_EQ(nullptr, DevConnection.RootFolderId) << c.why << ": no id may stay set";
        Shutdown();
        EXPECT_EQ(liveAtStart_, DevsimLiveObjects()) << c.why << ": every device object released";
        EXPECT_EQ(0, DevsimOutstandingBlocks()) << c.why << ": every id freed";
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
