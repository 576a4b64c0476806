// Device searches: patterns over the children of one folder, what findData receives, the
// table of 256 SearchHandles, and children that cannot be described.
#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "devfs/devfs_internal.h"

namespace {

HANDLE SearchHandle(int slot)
{
    return (HANDLE)(ULONG_PTR)(0x4D545000u + (DWORD)slot);
}

class SearchTest : public DeviceTest {
protected:
    void SetUp() override
    {
        DeviceTest::SetUp();
        device_ = AddDemoHandheld();
        app_ = DevsimFind(device_, L"Internal storage\\Corvane");
        DevsimAddFolder(device_, app_, L"Backup");
        DevsimAddFile(device_, app_, L"notes.INI", "n");
        DevsimAddObject(device_, app_, nullptr, &WPD_CONTENT_TYPE_UNSPECIFIED, nullptr, "x", 1);   // nameless
        DevsimAddFile(device_, app_, L"a?b", "q");
        DevsimAddFile(device_, app_, L"axb", "x");
        DevsimAddFile(device_, app_, L"a*b", "s");
        DevsimAddFile(device_, app_, L"Corvane_Info.ini.bak", "old");
        Start();
        ASSERT_EQ(0, DevConnection.deviceUnavailable) << "the demo handheld should have been found";
    }

    // Every match of a search, as "name" or "name/" for folders; "<none>" when it finds nothing.
    std::vector<std::string> List(const char *path)
    {
        std::vector<std::string> names;
        WIN32_FIND_DATAA fd;
        HANDLE h = DevFindFirstFile(path, &fd);
        if (h == INVALID_HANDLE_VALUE)
            return {"<none>"};
        do {
            names.push_back(std::string(fd.cFileName) + ((fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? "/" : ""));
            if (names.size() > 50)
                break;   // a search that never ends
        } while (DevFindNextFile(h, &fd));
        EXPECT_EQ(1, DevFindClose(h)) << "closing a device search gives 1 (" << path << ")";
        return names;
    }

    int device_ = 0;
    int app_ = 0;
};

std::string Join(const std::vector<std::string> &names)
{
    std::string all;
    for (const std::string &n : names)
        all += n + " ";
    return all;
}

TEST_F(SearchTest, SettingsFileSearchFillsOnlyAttributesAndName)
{
    WIN32_FIND_DATAA fd;
    memset(&fd, 0xCC, sizeof fd);
    HANDLE h = DevFindFirstFile("*:\\Corvane\\Corvane_Info.ini", &fd);
    ASSERT_EQ(SearchHandle(0), h) << "the first search takes slot 0, handle 0x4D545000";
    EXPECT_EQ(0u, fd.dwFileAttributes) << "a file has attributes 0";
    EXPECT_STREQ("Corvane_Info.ini", fd.cFileName) << "cFileName carries the device name";

    // Every byte but dwFileAttributes and the name with its terminator must stay as it was.
    WIN32_FIND_DATAA untouched;
    memset(&untouched, 0xCC, sizeof untouched);
    untouched.dwFileAttributes = fd.dwFileAttributes;
    memcpy(untouched.cFileName, fd.cFileName, strlen("Corvane_Info.ini") + 1);
    EXPECT_EQ(0, memcmp(&untouched, &fd, sizeof fd))
        << "the search wrote members of findData other than dwFileAttributes and cFileName "
           "(times, sizes, reserved words or the alternate name)";

    EXPECT_EQ(0, DevFindNextFile(h, &fd)) << "only one child has that name";
    EXPECT_EQ(1, DevFindClose(h)) << "closing a device search gives 1";
}

TEST_F(SearchTest, PatternsSelectChildren)
{
    struct Case { const char *why; const char *path; const char *expected; };
    const Case cases[] = {
        {"*.* lists every named child, folders marked", "*:\\Corvane\\*.*",
         "Corvane_Info.ini Backup/ notes.INI a?b axb a*b Corvane_Info.ini.bak "},
        {"a lone * lists every named child too", "*:\\Corvane\\*",
         "Corvane_Info.ini Backup/ notes.INI a?b axb a*b Corvane_Info.ini.bak "},
        {"the root's children are folders", "*:\\*.*", "DCIM/ Download/ Corvane/ "},
        {"*.ini matches the extension in any letter case", "*:\\Corvane\\*.ini", "Corvane_Info.ini notes.INI "},
        {"an exact name in other capitals", "*:\\Corvane\\CORVANE_INFO.INI", "Corvane_Info.ini "},
        {"a name followed by *.* is an exact name that matches nothing", "*:\\Corvane\\Corvane_Info*.*", "<none> "},
        {"? is no wildcard: only the child literally named a?b", "*:\\Corvane\\a?b", "a?b "},
        {"an inner * is no wildcard: only the child literally named a*b", "*:\\Corvane\\a*b", "a*b "},
        {"*b: a star and the tail 'b'", "*:\\Corvane\\*b", "a?b axb a*b "},
        {"a folder by its name", "*:\\Corvane", "Corvane/ "},
        {"a missing folder finds nothing", "*:\\Missing\\*.*", "<none> "},
        {"an empty last component matches no name", "*:\\Corvane\\", "<none> "},
        {"an empty folder lists nothing", "*:\\Corvane\\Backup\\*.*", "<none> "},
        {"a slash as separator", "*:/Corvane/*.ini", "Corvane_Info.ini notes.INI "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.expected, Join(List(c.path))) << c.why << " (" << c.path << ")";
}

TEST_F(SearchTest, TheTableHolds256SearchesAndReusesTheLowestFreeSlot)
{
    std::vector<HANDLE> handles;
    WIN32_FIND_DATAA fd;
    for (int i = 0; i < 256; i++) {
        HANDLE h = DevFindFirstFile("*:\\Corvane\\*.*", &fd);
        ASSERT_EQ(SearchHandle(i), h) << "search " << i + 1 << " must get slot " << i;
        handles.push_back(h);
    }
    long liveBefore = DevsimLiveObjects();
    long blocksBefore = DevsimOutstandingBlocks();
    EXPECT_EQ(INVALID_HANDLE_VALUE, DevFindFirstFile("*:\\Corvane\\*.*", &fd))
        << "the 257th open search must fail while 256 are open";
    EXPECT_EQ(liveBefore, DevsimLiveObjects()) << "a refused search must release its enumerator";
    EXPECT_EQ(blocksBefore, DevsimOutstandingBlocks()) << "a refused search must free the folder id";

    EXPECT_EQ(1, DevFindClose(SearchHandle(100))) << "closing slot 100 gives 1";
    EXPECT_EQ(1, DevFindClose(SearchHandle(100))) << "closing a free slot is harmless and gives 1";
    EXPECT_EQ(0, DevFindNextFile(SearchHandle(100), &fd)) << "a closed SearchHandle finds nothing";
    EXPECT_EQ(SearchHandle(100), DevFindFirstFile("*:\\Corvane\\*.*", &fd))
        << "after a close the next search reuses the freed slot 100";
    EXPECT_EQ(1, DevFindNextFile(SearchHandle(255), &fd)) << "the last slot's search still goes on";

    for (HANDLE h : handles)
        DevFindClose(h);
    for (int i = 0; i < DEV_SEARCH_SLOTS; i++)
        EXPECT_EQ(0, DevConnection.search[i].inUse) << "slot " << i << " must be free after every close";
}

TEST_F(SearchTest, UndescribableChildrenEndOneCallOrAreSkipped)
{
    int folder = DevsimAddFolder(device_, app_, L"Mixed");
    DevsimAddFile(device_, folder, L"one.txt", "1");
    DevsimAddObject(device_, folder, L"untyped.txt", nullptr, nullptr, "2", 1);   // no content type
    DevsimAddObject(device_, folder, nullptr, &WPD_CONTENT_TYPE_FOLDER, nullptr, nullptr, 0);   // no name
    DevsimAddFile(device_, folder, L"three.txt", "3");

    WIN32_FIND_DATAA fd;
    HANDLE h = DevFindFirstFile("*:\\Corvane\\Mixed\\*.*", &fd);
    ASSERT_NE(INVALID_HANDLE_VALUE, h) << "the first child is an ordinary file";
    EXPECT_STREQ("one.txt", fd.cFileName) << "the first child comes first";
    memset(&fd, 0xCC, sizeof fd);
    EXPECT_EQ(0, DevFindNextFile(h, &fd)) << "a child without a content type ends that call with 0";
    EXPECT_EQ(0xCCCCCCCCu, fd.dwFileAttributes) << "a call that gave 0 must not fill findData";
    EXPECT_EQ(1, DevFindNextFile(h, &fd)) << "the next call goes on after it, skipping the nameless child";
    EXPECT_STREQ("three.txt", fd.cFileName) << "the child after the untyped and the nameless ones";
    EXPECT_EQ(0, DevFindNextFile(h, &fd)) << "then the children are exhausted";
    EXPECT_EQ(0, DevFindNextFile(h, &fd)) << "and stay exhausted: a search never restarts";
    EXPECT_EQ(1, DevFindClose(h)) << "the search stayed open through all of it";
}

TEST_F(SearchTest, DeviceFailuresGiveZeroAndKeepTheSearchOpen)
{
    struct Case { const char *why; const char *method; const wchar_t *object; };
    const Case cases[] = {
        {"the properties service is refused", "IPortableDeviceContent::Properties", nullptr},
        {"a Next fails", "IEnumPortableDeviceObjectIDs::Next", L"Internal storage\\Corvane"},
        {"the child's name cannot be read", "IPortableDeviceProperties::GetValues", L"Internal storage\\Corvane\\notes.INI"},
        {"the matching child's content type cannot be read", "IPortableDeviceValues::GetGuidValue", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        WIN32_FIND_DATAA fd;
        HANDLE h = DevFindFirstFile("*:\\Corvane\\*.*", &fd);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << "the listing starts with the settings file";
        long blocksBefore = DevsimOutstandingBlocks();
        std::wstring id;
        if (c.object != nullptr)
            id = DevsimObjectId(device_, DevsimFind(device_, c.object));
        DevReleasePropertyReads();   // the service is got once per connection: the next look gets it anew
        DevsimFailCall(c.method, 1, E_FAIL, c.object ? id.c_str() : nullptr);
        // The next child is Backup, then notes.INI: move to the failure point for the name read.
        if (c.object != nullptr && wcsstr(c.object, L"notes") != nullptr)
            ASSERT_EQ(1, DevFindNextFile(h, &fd)) << "Backup comes before notes.INI";
        EXPECT_EQ(0, DevFindNextFile(h, &fd)) << c.why << ": the call gives 0";
        EXPECT_EQ(blocksBefore, DevsimOutstandingBlocks()) << c.why << ": no id or name may leak";
        EXPECT_NE(0, DevConnection.search[0].inUse) << c.why << ": the search stays open after a failure";
        EXPECT_EQ(1, DevFindClose(h)) << c.why << ": and can be closed";
    }
}

TEST_F(SearchTest, ShutdownReleasesOpenSearches)
{
    WIN32_FIND_DATAA fd;
    for (int i = 0; i < 3; i++)
        ASSERT_EQ(SearchHandle(i), DevFindFirstFile("*:\\*.*", &fd)) << "search " << i << " opens";
    Shutdown();
    EXPECT_EQ(liveAtStart_, DevsimLiveObjects()) << "DevShutdown must release the enumerators of searches left open";
    for (int i = 0; i < 3; i++)
        EXPECT_EQ(0, DevConnection.search[i].inUse) << "slot " << i << " must be free after DevShutdown";
}

}  // namespace
