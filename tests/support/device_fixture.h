// The fixture every device test derives from: COM in the multithreaded apartment, a fresh
// simulated device registered in-process, and leak checks (devsim objects and CoTaskMemAlloc
// blocks) when the test ends.
#ifndef TESSALY_TESTS_DEVICE_FIXTURE_H
#define TESSALY_TESTS_DEVICE_FIXTURE_H

#include <gtest/gtest.h>
#include <set>
#include <string>
#include "devsim/devsim.h"

// An HRESULT as a failure message shows it: "0x8007001F".
std::string Hex(HRESULT hr);

class DeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A handheld with storage "Internal storage" > "DCIM", "Download", "Corvane" >
    // "Corvane_Info.ini" holding the demo name. Returns the device number.
    int AddDemoHandheld(const wchar_t *pnpId = L"\\\\?\\usb#demo");
    // Writes key in section "Corvane" of the local configuration file; null value deletes it.
    void SetConfig(const char *key, const char *value);
    // DevStartup, then what the program does when no drive holds the settings file: ask for
    // the device path, which runs discovery.
    void Start(int enableDevices = 1);
    void StartOnly(int enableDevices = 1);   // DevStartup alone: discovery still pending
    void Shutdown();                     // DevShutdown

    // Full path of the local configuration file in the Windows directory.
    static std::string ConfigPath();
    // The waits the layer asked for after busy answers since the test began (nobody sleeps).
    static long BusyWaits();
    static DWORD BusyWaitedMs();
    static void ResetBusyWaits();

    bool started_ = false;
    bool shutDown_ = false;
    bool comReady_ = false;
    long liveAtStart_ = 0;   // a leak in an earlier test of the same process is not ours
    std::set<std::string> tmpAtStart_;   // working copies in the temporary folder before the test
};

#endif
