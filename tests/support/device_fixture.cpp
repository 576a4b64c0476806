// DeviceTest: the shared set-up and the end-of-test leak checks for device tests.
#include "support/device_fixture.h"
#include "support/local_files.h"
#include "devfs/devfs_internal.h"

namespace {
long g_busyWaits = 0;
DWORD g_busyWaitedMs = 0;
void WINAPI CountBusyWait(DWORD milliseconds)
{
    g_busyWaits++;
    g_busyWaitedMs += milliseconds;
}
}  // namespace

long DeviceTest::BusyWaits() { return g_busyWaits; }
DWORD DeviceTest::BusyWaitedMs() { return g_busyWaitedMs; }
void DeviceTest::ResetBusyWaits()
{
    g_busyWaits = 0;
    g_busyWaitedMs = 0;
}

std::string DeviceTest::ConfigPath()
{
    char dir[MAX_PATH];
    UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return "C:\\windows\\Corvane_Info.ini";
    return std::string(dir) + "\\Corvane_Info.ini";
}

void DeviceTest::SetUp()
{
    // Our own COM reference keeps COM alive across DevStartup/DevShutdown, which
    // initialise and uninitialise it themselves.
    HRESULT hr = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_TRUE(SUCCEEDED(hr)) << "CoInitializeEx(MTA) failed with 0x" << std::hex << hr;
    comReady_ = true;
    DevsimReset();
    DevBusyWait = CountBusyWait;   // tests count the waits for busy devices instead of sleeping
    ResetBusyWaits();
    liveAtStart_ = DevsimLiveObjects();
    tmpAtStart_ = WorkingCopyFiles();
    hr = DevsimRegisterInProcess();
    ASSERT_EQ(S_OK, hr) << "devsim could not register its classes in-process";
    hr = DevsimInstallMallocSpy();
    ASSERT_EQ(S_OK, hr) << "devsim could not install its CoTaskMemAlloc spy";
    DeleteFileA(ConfigPath().c_str());
}

void DeviceTest::TearDown()
{
    if (started_ && !shutDown_) Shutdown();
    long live = DevsimLiveObjects() - liveAtStart_;
    EXPECT_EQ(0, live) << live << " simulated-device COM object(s) are still alive after the test: "
                       << "some interface was not released (or released once too often if negative)";
    EXPECT_EQ(0, DevsimOutstandingBlocks())
        << DevsimOutstandingBlocks() << " CoTaskMemAlloc block(s) were never freed: an object id, "
        << "property string or PROPVARIANT was leaked";
    // A copy a test keeps on purpose is its own to delete; any other would pile up in the
    // temporary folder that the program tests' prefixes start from.
    std::set<std::string> left = NewFiles(tmpAtStart_, WorkingCopyFiles());
    EXPECT_TRUE(left.empty()) << left.size() << " working copy file(s) left in " << TempFolder() << ", e.g. "
                              << (left.empty() ? "" : *left.begin());
    for (const std::string &file : left) DeleteFileA(file.c_str());
    DevsimRevokeMallocSpy();
    DevsimRevokeInProcess();
    DevBusyWait = Sleep;
    DeleteFileA(ConfigPath().c_str());
    if (comReady_) CoUninitialize();
    comReady_ = false;
}

int DeviceTest::AddDemoHandheld(const wchar_t *pnpId)
{
    return DevsimAddDemoHandheld(pnpId);
}

void DeviceTest::SetConfig(const char *key, const char *value)
{
    BOOL ok = WritePrivateProfileStringA("Corvane", key, value, ConfigPath().c_str());
    ASSERT_TRUE(ok) << "could not write key " << key << " of the local configuration file "
                    << ConfigPath();
}

void DeviceTest::StartOnly(int enableDevices)
{
    DevStartup(enableDevices);
    started_ = true;
    shutDown_ = false;
}

void DeviceTest::Start(int enableDevices)
{
    StartOnly(enableDevices);
    char path[MAX_PATH];
    DevDevicePath(path);
}

void DeviceTest::Shutdown()
{
    DevShutdown();
    shutDown_ = true;
}

std::string Hex(HRESULT hr)
{
    char text[16];
    wsprintfA(text, "0x%08lX", (unsigned long)hr);
    return text;
}
