// Object resolution: prepared device paths ('*' already replaced by 'C') to object ids, one
// component at a time from RootFolderId, with nothing cached between calls.
#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "devfs/devfs_internal.h"

namespace {

const char *const ROOT = "<RootFolderId>";   // expected: the borrowed RootFolderId pointer
const char *const APP = "<AppFolderId>";     // expected: the borrowed AppFolderId pointer
const char *const FAILS = "<fails>";

std::string Narrow(const std::wstring &text)
{
    return std::string(text.begin(), text.end());
}

class ResolveTest : public DeviceTest {
protected:
    // The demo handheld, plus children that the cases below need, each after the ones
    // the settings path passes so that the cost of resolving it stays as it is.
    void SetUp() override
    {
        DeviceTest::SetUp();
        device_ = AddDemoHandheld();
        int app = DevsimFind(device_, L"Internal storage\\Corvane");
        DevsimAddFile(device_, app, L"dup.txt", "first");
        DevsimAddFile(device_, app, L"dup.txt", "second");
        DevsimAddFile(device_, app, L"\u00C9t\u00E9.txt", "accented");   // "Été.txt"
        int storage = DevsimFind(device_, L"Internal storage");
        DevsimAddObject(device_, storage, nullptr, &WPD_CONTENT_TYPE_FOLDER, nullptr, nullptr, 0);   // nameless
        DevsimAddFolder(device_, storage, L"After nameless");
        Start();
        ASSERT_EQ(0, DevConnection.deviceUnavailable) << "the demo handheld should have been found";
        DevsimResetCounts();
    }

    // The id that a devsim path (from DEVICE) names, or the markers above.
    std::string Expected(const char *expected)
    {
        if (expected == ROOT || expected == APP || expected == FAILS)
            return expected;
        std::wstring path = L"Internal storage\\";
        for (const char *p = expected; *p; p++)
            path += (wchar_t)(unsigned char)*p;   // Latin-1 letters: the same code points
        int object = DevsimFind(device_, path.c_str());
        EXPECT_GE(object, 0) << "test layout lacks " << expected;
        return Narrow(DevsimObjectId(device_, object));
    }

    // What a resolution gave, in the same terms; frees what the caller owns.
    std::string Describe(HRESULT hr, LPWSTR id)
    {
        if (FAILED(hr)) {
            EXPECT_EQ(nullptr, id) << "a failed resolution must leave its output none";
            return FAILS;
        }
        if (id == nullptr)
            return "<success without an id>";
        if (id == DevConnection.RootFolderId)
            return ROOT;
        if (id == DevConnection.AppFolderId)
            return APP;
        std::string text = Narrow(id);
        CoTaskMemFree(id);
        return text;
    }

    int device_ = 0;
};

TEST_F(ResolveTest, ResolveObjectIdWalksOneComponentAtATime)
{
    struct Case { const char *why; const char *path; const char *expected; };
    const Case cases[] = {
        {"the settings file", "C:\\Corvane\\Corvane_Info.ini", "Corvane\\Corvane_Info.ini"},
        {"the app folder is the one the walk found, by its id", "C:\\Corvane", APP},
        {"another folder below the root", "C:\\DCIM", "DCIM"},
        {"the bare root is RootFolderId itself", "C:\\", ROOT},
        {"the drive alone is the root too", "C:", ROOT},
        {"a bare extension at the root: only the base name is tested", "C:\\.ini", ROOT},
        {"a slash separates like a backslash", "C:/Corvane/Corvane_Info.ini", "Corvane\\Corvane_Info.ini"},
        {"slash and backslash mixed", "C:\\Corvane/Corvane_Info.ini", "Corvane\\Corvane_Info.ini"},
        {"no separator after the drive", "C:Corvane", APP},
        {"two separators right after the colon are harmless", "C:\\\\Corvane", "Corvane"},
        {"two separators after the colon, then the file", "C:\\\\Corvane\\Corvane_Info.ini",
         "Corvane\\Corvane_Info.ini"},
        {"two separators after a folder name: the empty component matches nothing",
         "C:\\Corvane\\\\Corvane_Info.ini", FAILS},
        {"a separator at the end after a name fails", "C:\\Corvane\\", FAILS},
        {"A to Z fold in every component", "C:\\CORVANE\\corvane_info.INI", "Corvane\\Corvane_Info.ini"},
        {"the first of two children with one name wins", "C:\\Corvane\\dup.txt", "Corvane\\dup.txt"},
        {"a child without a name is skipped, the one after it found", "C:\\After nameless", "After nameless"},
        {"a missing folder", "C:\\Missing\\Corvane_Info.ini", FAILS},
        {"a missing file in an existing folder", "C:\\Corvane\\Missing.ini", FAILS},
        {"a file has no children", "C:\\Corvane\\Corvane_Info.ini\\x", FAILS},
        {"the app folder's name with a trailing dot is another name", "C:\\Corvane.", FAILS},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        LPWSTR id = reinterpret_cast<LPWSTR>(0x1);   // proves the output is set on every path
        HRESULT hr = ResolveObjectId(c.path, &id);
        EXPECT_EQ(Expected(c.expected), Describe(hr, id)) << c.why << " (" << c.path << ")";
    }
}

TEST_F(ResolveTest, AccentedLettersAreNotFolded)
{
    if (GetACP() != 1252)
        GTEST_SKIP() << "the accented names below are written in code page 1252; the ANSI code page is "
                     << GetACP();
    LPWSTR id = nullptr;
    HRESULT hr = ResolveObjectId("C:\\Corvane\\\xC9t\xE9.txt", &id);
    EXPECT_EQ(Expected("Corvane\\\xC9t\xE9.txt"), Describe(hr, id)) << "the exact accented name is found";
    id = nullptr;
    hr = ResolveObjectId("C:\\Corvane\\\xE9t\xE9.txt", &id);
    EXPECT_EQ(FAILS, Describe(hr, id)) << "\xE9 (e acute) must not match \xC9 (E acute): only A to Z fold";
    id = nullptr;
    hr = ResolveObjectId("C:\\Corvane\\Ete.txt", &id);
    EXPECT_EQ(FAILS, Describe(hr, id)) << "accents are not stripped either";
}

TEST_F(ResolveTest, ResolveParentFolderNeedsOnlyTheFolder)
{
    struct Case { const char *why; const char *path; const char *parent; const char *base; const char *ext; };
    const Case cases[] = {
        {"the settings file's folder and name", "C:\\Corvane\\Corvane_Info.ini", APP, "Corvane_Info", ".ini"},
        {"a file that does not exist in an existing folder", "C:\\Corvane\\New.txt", APP, "New", ".txt"},
        {"a file at the root has RootFolderId as parent", "C:\\New.txt", ROOT, "New", ".txt"},
        {"a trailing separator names the folder itself, with empty names", "C:\\Corvane\\", APP, "", ""},
        {"a name without extension below a slash", "C:/Corvane/x", APP, "x", ""},
        {"a file in a folder that does not exist", "C:\\Missing\\New.txt", FAILS, nullptr, nullptr},
        {"a file below an empty component", "C:\\Corvane\\\\New.txt", FAILS, nullptr, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.path);
        char base[DEV_PATH_CHARS];
        char ext[DEV_PATH_CHARS];
        memset(base, 'X', sizeof base);
        memset(ext, 'X', sizeof ext);
        base[DEV_PATH_CHARS - 1] = ext[DEV_PATH_CHARS - 1] = 0;
        LPWSTR parent = reinterpret_cast<LPWSTR>(0x1);
        HRESULT hr = ResolveParentFolder(c.path, &parent, base, ext);
        EXPECT_EQ(Expected(c.parent), Describe(hr, parent)) << c.why;
        if (c.base != nullptr) {
            EXPECT_STREQ(c.base, base) << c.why << ": base name";
            EXPECT_STREQ(c.ext, ext) << c.why << ": extension with its dot";
        } else {
            EXPECT_EQ('X', base[0]) << c.why << ": a failure must not fill the base name";
            EXPECT_EQ('X', ext[0]) << c.why << ": a failure must not fill the extension";
        }
    }
}

TEST_F(ResolveTest, NothingIsCachedBetweenResolutions)
{
    const char path[] = "C:\\Corvane\\Corvane_Info.ini";
    LPWSTR id = nullptr;
    ASSERT_EQ(S_OK, ResolveObjectId(path, &id)) << "the settings file must resolve";
    CoTaskMemFree(id);
    // The app folder by the id the walk found; one enumeration of its children, and the name
    // of Corvane_Info.ini, its first.
    EXPECT_EQ(1, DevsimCallCount("IPortableDeviceContent::EnumObjects"))
        << "resolving the settings path needs exactly one enumeration, the app folder's";
    EXPECT_EQ(1, DevsimCallCount("IPortableDeviceProperties::GetValues"))
        << "each child up to the match has its name read once, nothing more";
    auto requests = [] {
        return DevsimCallCount("IPortableDeviceContent::EnumObjects") + DevsimCallCount("IEnumPortableDeviceObjectIDs::Next") +
               DevsimCallCount("IPortableDeviceProperties::GetValues");
    };
    long firstRequests = requests();

    ASSERT_EQ(S_OK, ResolveObjectId(path, &id)) << "the settings file must resolve again";
    CoTaskMemFree(id);
    EXPECT_EQ(2, DevsimCallCount("IPortableDeviceContent::EnumObjects"))
        << "a second resolution walks the device again";
    EXPECT_EQ(2 * firstRequests, requests()) << "a second resolution asks the device exactly as much as the first";

    // The device changed in between: a cache would still answer with the old file.
    DevsimRemove(device_, DevsimFind(device_, L"Internal storage\\Corvane\\Corvane_Info.ini"));
    id = nullptr;
    EXPECT_TRUE(FAILED(ResolveObjectId(path, &id))) << "a removed file must no longer resolve";
    EXPECT_EQ(nullptr, id) << "a failed resolution leaves its output none";
}

TEST_F(ResolveTest, DeviceFailuresEndTheResolution)
{
    struct Case { const char *why; const char *method; const wchar_t *object; int nth; bool freshKeys = false; };
    const Case cases[] = {
        {"the app folder's children cannot be enumerated", "IPortableDeviceContent::EnumObjects",
         L"Internal storage\\Corvane", 1},
        {"a Next in the app folder fails", "IEnumPortableDeviceObjectIDs::Next", L"Internal storage\\Corvane", 1},
        {"a name cannot be read", "IPortableDeviceProperties::GetValues", L"Internal storage\\Corvane\\Corvane_Info.ini", 1},
        // The layer gets its property service and makes its key collection once per connection:
        // only the first of each can fail.
        {"the properties service is refused", "IPortableDeviceContent::Properties", nullptr, 1, true},
        {"the key collection cannot be made", "CoCreateInstance:KeyCollection", nullptr, 1, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        std::wstring id;
        if (c.object != nullptr)
            id = DevsimObjectId(device_, DevsimFind(device_, c.object));
        if (c.freshKeys) DevReleasePropertyReads();
        // A rule counts from now and is spent once it fired, so the cases do not meet.
        DevsimFailCall(c.method, c.nth, E_ACCESSDENIED, c.object ? id.c_str() : nullptr);
        long blocksBefore = DevsimOutstandingBlocks();
        LPWSTR out = nullptr;
        HRESULT hr = ResolveObjectId("C:\\Corvane\\Corvane_Info.ini", &out);
        EXPECT_TRUE(FAILED(hr)) << c.why << ": the resolution must fail";
        EXPECT_EQ(nullptr, out) << c.why << ": and leave its output none";
        EXPECT_EQ(blocksBefore, DevsimOutstandingBlocks()) << c.why << ": no id or name may leak on the way out";
    }
}

// DBCS: Windows' _splitpath consults the multibyte code page's lead-byte table, which by
// default is the ANSI code page's; the layer passes IsDBCSLeadByte (the ANSI table) to the
// splitter. Giving the splitter code page 932's table is therefore what the layer does on a
// Japanese system. The layer-level case below needs the ANSI code page 932: Wine takes it
// from LANG, and tests/CMakeLists.txt runs that case once more with LANG=ja_JP.UTF-8.
int Lead932(unsigned char b)
{
    return IsDBCSLeadByteEx(932, b);
}

TEST_F(ResolveTest, DoubleByteTrailBytesAreNeitherSeparatorsNorDots)
{
    ASSERT_TRUE(Lead932(0x83) && Lead932(0x81) && !Lead932(0x5C) && !Lead932('C'))
        << "code page 932's lead-byte table is not available in this prefix";
    struct Case { const char *why; const char *path; const char *dir; const char *base; const char *ext; };
    const Case cases[] = {
        {"0x83 0x5C (a katakana) as a folder name", "C:\\\x83\x5C\\x.ini", "\\\x83\x5C\\", "x", ".ini"},
        {"0x83 0x5C at the end is a base name, not a separator", "C:\\\x83\x5C", "\\", "\x83\x5C", ""},
        {"0x81 0x2E: the trail byte is no dot", "C:\\\x81\x2E", "\\", "\x81\x2E", ""},
        {"a real dot after a double-byte character", "C:\\\x83\x5C.ini", "\\", "\x83\x5C", ".ini"},
    };
    for (const Case &c : cases) {
        DevPathParts parts;
        ASSERT_EQ(1, DevSplitPath(c.path, &parts, Lead932)) << c.why;
        EXPECT_STREQ("C:", parts.drive) << c.why;
        EXPECT_STREQ(c.dir, parts.dir) << c.why << ": directory";
        EXPECT_STREQ(c.base, parts.base) << c.why << ": base name";
        EXPECT_STREQ(c.ext, parts.ext) << c.why << ": extension";
    }
}

TEST_F(ResolveTest, DoubleByteFolderResolvesWhereTheAnsiCodePageIs932)
{
    if (GetACP() != 932)
        GTEST_SKIP() << "the ANSI code page is " << GetACP() << ", not 932";
    int storage = DevsimFind(device_, L"Internal storage");
    int folder = DevsimAddFolder(device_, storage, L"\u30BD");   // 0x83 0x5C in code page 932
    int file = DevsimAddFile(device_, folder, L"x.ini", "x");
    LPWSTR id = nullptr;
    HRESULT hr = ResolveObjectId("C:\\\x83\x5C\\x.ini", &id);
    EXPECT_EQ(Narrow(DevsimObjectId(device_, file)), Describe(hr, id))
        << "the trail byte 0x5C must not split the folder's name";
}

}  // namespace
