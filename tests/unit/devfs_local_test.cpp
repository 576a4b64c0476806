// The layer's dispatch: local paths and Win32 search handles must behave exactly like the
// Win32 calls (results, GetLastError, effects on disk), never touch the device, and device
// paths and SearchHandles must fail quietly while no device is open.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "devfs/devfs_internal.h"

namespace {

const char kSettingsDevicePath[] = "*:\\Corvane\\Corvane_Info.ini";

// What one call did: its result, the thread's last error and any text it produced.
struct Outcome {
    long result;
    DWORD error;
    std::string detail;
};

class LocalTest : public DeviceTest {
public:
    void SetUp() override
    {
        DeviceTest::SetUp();
        char temp[MAX_PATH];
        ASSERT_NE(0u, GetTempPathA(MAX_PATH, temp)) << "no temporary folder";
        folder_ = std::string(temp) + "tessaly_local_" + std::to_string(GetCurrentProcessId()) + "\\";
        MakeFiles();
    }
    void TearDown() override
    {
        RemoveFiles();
        DeviceTest::TearDown();
    }

    std::string P(const std::string &name) const { return folder_ + name; }

    // The same starting state for both calls of a comparison.
    void MakeFiles()
    {
        RemoveFiles();
        ASSERT_TRUE(CreateDirectoryA(folder_.c_str(), nullptr)) << "cannot create " << folder_;
        ASSERT_TRUE(CreateDirectoryA(P("sub").c_str(), nullptr)) << "cannot create the sub folder";
        Write("a.txt", "alpha");
        Write("b.txt", "beta");
        Write("settings.ini", "[Corvane]\r\nName=Local phone\r\nOther=1\r\n");
    }
    void Write(const std::string &name, const std::string &text)
    {
        HANDLE h = CreateFileA(P(name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(INVALID_HANDLE_VALUE, h) << "cannot create " << P(name);
        DWORD written = 0;
        WriteFile(h, text.data(), (DWORD)text.size(), &written, nullptr);
        CloseHandle(h);
    }
    void RemoveFiles()
    {
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(P("*").c_str(), &fd);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                    DeleteFileA(P(fd.cFileName).c_str());
            } while (FindNextFileA(h, &fd));
            FindClose(h);
        }
        RemoveDirectoryA(P("sub").c_str());
        RemoveDirectoryA(folder_.c_str());
    }
    // Every file of the folder with its contents, to compare what two calls left behind.
    std::string Snapshot()
    {
        std::vector<std::string> entries;
        WIN32_FIND_DATAA fd;
        HANDLE h = FindFirstFileA(P("*").c_str(), &fd);
        if (h == INVALID_HANDLE_VALUE)
            return "<no folder>";
        do {
            std::string entry = fd.cFileName;
            if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                HANDLE f = CreateFileA(P(fd.cFileName).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                       OPEN_EXISTING, 0, nullptr);
                char buf[512];
                DWORD got = 0;
                if (f != INVALID_HANDLE_VALUE) {
                    ReadFile(f, buf, sizeof buf, &got, nullptr);
                    CloseHandle(f);
                }
                entry += "=" + std::string(buf, got);
            }
            entries.push_back(entry);
        } while (FindNextFileA(h, &fd));
        FindClose(h);
        std::sort(entries.begin(), entries.end());
        std::string all;
        for (const std::string &e : entries)
            all += e + "|";
        return all;
    }

    std::string folder_;
};

struct LocalCase {
    const char *why;
    // Runs the layer's operation (dev true) or the Win32 one on the same arguments.
    std::function<Outcome(LocalTest &t, bool dev)> run;
};

// Collects a whole local search: the first name, every further name, the end's last error
// and the close result, for one side of the comparison.
Outcome ListFolder(const std::string &pattern, bool dev)
{
    WIN32_FIND_DATAA fd;
    SetLastError(0xdeadbeef);
    HANDLE h = dev ? DevFindFirstFile(pattern.c_str(), &fd) : FindFirstFileA(pattern.c_str(), &fd);
    Outcome o{h != INVALID_HANDLE_VALUE, GetLastError(), ""};
    if (h == INVALID_HANDLE_VALUE)
        return o;
    std::vector<std::string> names{fd.cFileName};
    for (;;) {
        SetLastError(0xdeadbeef);
        BOOL more = dev ? DevFindNextFile(h, &fd) : FindNextFileA(h, &fd);
        if (!more) {
            o.detail += "end error " + std::to_string(GetLastError()) + ";";
            break;
        }
        names.push_back(fd.cFileName);
    }
    std::sort(names.begin(), names.end());
    for (const std::string &n : names)
        o.detail += n + ",";
    SetLastError(0xdeadbeef);
    BOOL closed = dev ? DevFindClose(h) : FindClose(h);
    o.detail += " close " + std::to_string(closed) + " error " + std::to_string(GetLastError());
    return o;
}

Outcome ReadProfile(bool dev, const char *key, DWORD size, const std::string &file)
{
    std::string out(64, 'X');
    SetLastError(0xdeadbeef);
    DWORD n = dev ? DevGetProfileString("Corvane", key, "dflt", &out[0], size, file.c_str())
                  : GetPrivateProfileStringA("Corvane", key, "dflt", &out[0], size, file.c_str());
    return Outcome{(long)n, GetLastError(), out};   // the whole buffer: what lies past size too
}

Outcome WriteProfile(bool dev, const char *key, const char *value, const std::string &file)
{
    SetLastError(0xdeadbeef);
    BOOL r = dev ? DevWriteProfileString("Corvane", key, value, file.c_str())
                 : WritePrivateProfileStringA("Corvane", key, value, file.c_str());
    return Outcome{r, GetLastError(), ""};
}

Outcome Copy(bool dev, const std::string &from, const std::string &to, BOOL failIfExists)
{
    SetLastError(0xdeadbeef);
    BOOL r = dev ? DevCopyFile(from.c_str(), to.c_str(), failIfExists) : CopyFileA(from.c_str(), to.c_str(), failIfExists);
    return Outcome{r, GetLastError(), ""};
}

Outcome Delete(bool dev, const std::string &path)
{
    SetLastError(0xdeadbeef);
    BOOL r = dev ? DevDeleteFile(path.c_str()) : DeleteFileA(path.c_str());
    return Outcome{r, GetLastError(), ""};
}

Outcome Close(bool dev, HANDLE h)
{
    SetLastError(0xdeadbeef);
    BOOL r = dev ? DevFindClose(h) : FindClose(h);
    return Outcome{r, GetLastError(), ""};
}

// Field by field: the record has padding on 64-bit builds, which memcmp would read.
bool SameConnection(const DeviceConnection &a, const DeviceConnection &b)
{
    if (a.deviceUnavailable != b.deviceUnavailable || a.discoveryPending != b.discoveryPending ||
        a.device != b.device || a.content != b.content ||
        a.RootFolderId != b.RootFolderId || a.AppFolderId != b.AppFolderId || a.InfoFileId != b.InfoFileId ||
        lstrcmpA(a.workingCopy.cachedDevicePath, b.workingCopy.cachedDevicePath) != 0 ||
        lstrcmpA(a.workingCopy.cachedLocalPath, b.workingCopy.cachedLocalPath) != 0)
        return false;
    for (int i = 0; i < DEV_SEARCH_SLOTS; i++) {
        const SearchSlot &x = a.search[i];
        const SearchSlot &y = b.search[i];
        if (x.inUse != y.inUse || x.enumerator != y.enumerator || lstrcmpW(x.pattern, y.pattern) != 0)
            return false;
    }
    return true;
}

using L = LocalTest;
const LocalCase kLocalCases[] = {
    {"copy to a new file", [](L &t, bool dev) { return Copy(dev, t.P("a.txt"), t.P("c.txt"), TRUE); }},
    {"copy onto an existing file with failIfExists",
     [](L &t, bool dev) { return Copy(dev, t.P("a.txt"), t.P("b.txt"), TRUE); }},
    {"copy onto an existing file without failIfExists",
     [](L &t, bool dev) { return Copy(dev, t.P("a.txt"), t.P("b.txt"), FALSE); }},
    {"copy of a missing file", [](L &t, bool dev) { return Copy(dev, t.P("none.txt"), t.P("c.txt"), FALSE); }},
    {"delete of an existing file", [](L &t, bool dev) { return Delete(dev, t.P("a.txt")); }},
    {"delete of a missing file", [](L &t, bool dev) { return Delete(dev, t.P("none.txt")); }},
    {"delete of a folder", [](L &t, bool dev) { return Delete(dev, t.P("sub")); }},
    {"a search listing *.txt to its end", [](L &t, bool dev) { return ListFolder(t.P("*.txt"), dev); }},
    {"a search listing * with the sub folder", [](L &t, bool dev) { return ListFolder(t.P("*"), dev); }},
    {"a search for a name that is not there", [](L &t, bool dev) { return ListFolder(t.P("none.*"), dev); }},
    {"a search in a folder that is not there", [](L &t, bool dev) { return ListFolder(t.P("nofolder\\*"), dev); }},
    {"a profile read of a present key", [](L &t, bool dev) { return ReadProfile(dev, "Name", 64, t.P("settings.ini")); }},
    {"a profile read cut by a small buffer",
     [](L &t, bool dev) { return ReadProfile(dev, "Name", 5, t.P("settings.ini")); }},
    {"a profile read of a missing key gives the default",
     [](L &t, bool dev) { return ReadProfile(dev, "Absent", 64, t.P("settings.ini")); }},
    {"a profile read of all keys of the section",
     [](L &t, bool dev) { return ReadProfile(dev, nullptr, 64, t.P("settings.ini")); }},
    {"a profile read of a missing file gives the default",
     [](L &t, bool dev) { return ReadProfile(dev, "Name", 64, t.P("none.ini")); }},
    {"a profile write of a new value",
     [](L &t, bool dev) { return WriteProfile(dev, "Name", "New name", t.P("settings.ini")); }},
    {"a profile write that deletes a key",
     [](L &t, bool dev) { return WriteProfile(dev, "Other", nullptr, t.P("settings.ini")); }},
    {"a profile write into a new file", [](L &t, bool dev) { return WriteProfile(dev, "Name", "x", t.P("fresh.ini")); }},
    {"closing INVALID_HANDLE_VALUE", [](L &, bool dev) { return Close(dev, INVALID_HANDLE_VALUE); }},
    // FindNextFileA is left out here: Wine reads an unknown handle as its own search record
    // and faults, so FindClose, which guards against that, proves the routing.
    {"closing 0x4D545100, the first value above the SearchHandles, goes to FindClose",
     [](L &, bool dev) { return Close(dev, (HANDLE)(ULONG_PTR)0x4D545100u); }},
    {"closing 0x4D544FFF, the last value below the SearchHandles, goes to FindClose",
     [](L &, bool dev) { return Close(dev, (HANDLE)(ULONG_PTR)0x4D544FFFu); }},
};

TEST_F(LocalTest, LocalPathsGiveExactlyWhatWin32Gives)
{
    for (const LocalCase &c : kLocalCases) {
        SCOPED_TRACE(c.why);
        MakeFiles();
        Outcome dev = c.run(*this, true);
        std::string devDisk = Snapshot();
        MakeFiles();
        Outcome win = c.run(*this, false);
        std::string winDisk = Snapshot();
        EXPECT_EQ(win.result, dev.result) << c.why << ": the layer's result differs from the Win32 call's";
        EXPECT_EQ(win.error, dev.error) << c.why << ": GetLastError after the layer's call differs from "
                                        << "the Win32 call's (0xdeadbeef means it was never set)";
        EXPECT_EQ(win.detail, dev.detail) << c.why << ": the data the call produced differs";
        EXPECT_EQ(winDisk, devDisk) << c.why << ": the files left on disk differ";
    }
}

TEST_F(LocalTest, SearchHandleRangeIsExactlyTheLowByte)
{
    struct Case { ULONGLONG value; int isSearch; };
    const Case cases[] = {
        {0x4D545000u, 1}, {0x4D545080u, 1}, {0x4D5450FFu, 1},
        {0x4D545100u, 0}, {0x4D544FFFu, 0}, {0x00000000u, 0}, {0x4D555000u, 0},
        // 64-bit handles whose low 32 bits look like a SearchHandle are real handles.
        {0x14D545000ull, 0}, {0xFFFFFFFF4D5450FFull, 0}, {0x800000004D545001ull, 0},
    };
    for (const Case &c : cases) {
        if (c.value != (ULONG_PTR)c.value)
            continue;   // no such pointer on 32-bit Windows
        EXPECT_EQ(c.isSearch, DevIsSearchHandle((HANDLE)(ULONG_PTR)c.value))
            << "handle 0x" << std::hex << c.value << " is " << (c.isSearch ? "" : "not ")
            << "a SearchHandle (the whole value with its lowest byte cleared against 0x4D545000)";
    }
    EXPECT_EQ(0, DevIsSearchHandle(INVALID_HANDLE_VALUE)) << "INVALID_HANDLE_VALUE is not a SearchHandle";
}

TEST_F(LocalTest, LocalPathsNeverTouchTheOpenDevice)
{
    AddDemoHandheld();
    Start();
    ASSERT_EQ(0, DevConnection.deviceUnavailable) << "the demo handheld should have been found";
    const DeviceConnection before = DevConnection;
    DevsimResetCounts();

    for (const LocalCase &c : kLocalCases) {
        MakeFiles();
        c.run(*this, true);
    }
    EXPECT_EQ(0, DevsimTotalCalls()) << "local paths and Win32 handles made " << DevsimTotalCalls()
                                     << " device calls; they must never reach the device";
    EXPECT_TRUE(SameConnection(before, DevConnection))
        << "the layer's state (ids, working copy, search slots) changed during local operations";
}

TEST_F(LocalTest, DevicePathsFailQuietlyWithoutADevice)
{
    Start(0);
    ASSERT_EQ(1, DevConnection.deviceUnavailable) << "DevStartup(0) must leave the device unavailable";

    // The default is copied like GetPrivateProfileStringA would: cut to size - 1.
    struct ProfileCase { const char *defaultValue; DWORD size; const char *expected; };
    const ProfileCase profileCases[] = {
        {"default", 64, "default"}, {"default", 8, "default"}, {"default", 7, "defaul"},
        {"default", 4, "def"},      {"default", 1, ""},        {"", 64, ""},
        {nullptr, 64, ""},
    };
    for (const ProfileCase &c : profileCases) {
        char out[80];
        memset(out, 'X', sizeof out);
        DWORD n = DevGetProfileString("Corvane", "Name", c.defaultValue, out, c.size, kSettingsDevicePath);
        EXPECT_STREQ(c.expected, out) << "a device read without a device copies the default \""
                                      << (c.defaultValue ? c.defaultValue : "(null)") << "\" cut to size "
                                      << c.size << " - 1";
        EXPECT_EQ(strlen(c.expected), n) << "the result is the number of characters copied (size " << c.size << ")";
        EXPECT_EQ('X', out[c.size]) << "nothing may be written past the size given (size " << c.size << ")";
    }
    char untouched[4] = {'X', 'X', 'X', 'X'};
    EXPECT_EQ(0u, DevGetProfileString("Corvane", "Name", "default", untouched, 0, kSettingsDevicePath))
        << "a size of 0 copies nothing";
    EXPECT_EQ('X', untouched[0]) << "a size of 0 must not even write a terminator";

    WIN32_FIND_DATAA fd;
    memset(&fd, 0xCC, sizeof fd);
    EXPECT_EQ(INVALID_HANDLE_VALUE, DevFindFirstFile(kSettingsDevicePath, &fd))
        << "a device search without a device gives INVALID_HANDLE_VALUE";
    EXPECT_EQ(0xCCCCCCCCu, fd.dwFileAttributes) << "a failed device search must not fill findData";

    std::string local = P("copied.ini");
    EXPECT_EQ(0, DevCopyFile(kSettingsDevicePath, local.c_str(), FALSE)) << "download without a device must fail";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA(local.c_str()))
        << "a failed download must not create the local file";
    EXPECT_EQ(0, DevCopyFile(P("a.txt").c_str(), "*:\\Corvane\\x.txt", FALSE)) << "upload without a device must fail";
    EXPECT_EQ(0, DevDeleteFile(kSettingsDevicePath)) << "a device delete without a device must fail";
    EXPECT_EQ(0, DevWriteProfileString("Corvane", "Name", "x", kSettingsDevicePath))
        << "a device profile write without a device must fail";

    for (DWORD value : {0x4D545000u, 0x4D545001u, 0x4D545080u, 0x4D5450FFu}) {
        HANDLE h = (HANDLE)(ULONG_PTR)value;
        EXPECT_EQ(0, DevFindNextFile(h, &fd)) << "DevFindNextFile on SearchHandle 0x" << std::hex << value
                                              << " without a device gives 0";
        EXPECT_EQ(0, DevFindClose(h)) << "DevFindClose on SearchHandle 0x" << std::hex << value
                                      << " without a device gives 0";
    }

    char path[MAX_PATH] = "unchanged";
    EXPECT_EQ(0, DevDevicePath(path)) << "DevDevicePath without a device gives 0";
    EXPECT_STREQ("unchanged", path) << "DevDevicePath without a device must leave out alone";

    EXPECT_EQ(0, DevsimTotalCalls()) << "with devices disabled the layer must make no device call at all";
}

TEST_F(LocalTest, OverlongDevicePathsFailLikeUnresolvableOnes)
{
    AddDemoHandheld();
    Start();
    ASSERT_EQ(0, DevConnection.deviceUnavailable) << "the demo handheld should have been found";

    // Below a missing folder every length fails; below the app folder a path that fitted
    // would be writable, so there only the length itself can make it fail.
    struct Case { const char *folder; size_t length; };
    const Case cases[] = {
        {"*:\\Missing\\", 259}, {"*:\\Missing\\", 260}, {"*:\\Missing\\", 600},
        {"*:\\Corvane\\", 260}, {"*:\\Corvane\\", 261}, {"*:\\Corvane\\", 600},
    };
    for (const Case &c : cases) {
        size_t length = c.length;
        std::string path = c.folder + std::string(length - strlen(c.folder), 'a');
        SCOPED_TRACE(path.substr(0, 12) + "... of " + std::to_string(length) + " characters");
        ASSERT_EQ(length, path.size());
        char out[64];
        memset(out, 'X', sizeof out);
        EXPECT_EQ(4u, DevGetProfileString("Corvane", "Name", "dflt", out, sizeof out, path.c_str()))
            << "a profile read of a " << length << "-character device path gives the default's length";
        EXPECT_STREQ("dflt", out) << "a profile read of a " << length << "-character device path gives the default";

        WIN32_FIND_DATAA fd;
        memset(&fd, 0xCC, sizeof fd);
        EXPECT_EQ(INVALID_HANDLE_VALUE, DevFindFirstFile(path.c_str(), &fd))
            << "a search for a " << length << "-character device path fails";
        // A delete of what cannot be resolved counts as done; a path too long for the buffers
        // may be refused instead: either way nothing on the device goes.
        BOOL deleted = DevDeleteFile(path.c_str());
        if (length < DEV_PATH_CHARS)
            EXPECT_EQ(1, deleted) << "a delete of a path that resolves to nothing counts as done";
        EXPECT_EQ(0, DevWriteProfileString("Corvane", "Name", "x", path.c_str()))
            << "a profile write to a " << length << "-character device path fails";
        std::string local = P("long.bin");
        EXPECT_EQ(0, DevCopyFile(path.c_str(), local.c_str(), FALSE))
            << "a download of a " << length << "-character device path fails";
        EXPECT_EQ(0, DevCopyFile(P("a.txt").c_str(), path.c_str(), FALSE))
            << "an upload to a " << length << "-character device path fails";

        EXPECT_EQ(0, DevConnection.deviceUnavailable) << "a bad path must not close the device";
        EXPECT_EQ(0, DevConnection.workingCopy.cachedDevicePath[0])
            << "a path that could not be read must not become the working copy";
        EXPECT_EQ(0, DevConnection.workingCopy.cachedLocalPath[0])
            << "a failed working copy must not leave a temporary file recorded";
    }
    int app = DevsimFind(0, L"Internal storage\\Corvane");
    EXPECT_EQ(1u, DevsimChildren(0, app).size()) << "failed operations must not add or remove device files";
}

}  // namespace
