// TessalyProbe [--write-test]: the report of what the layer sees on this PC's handhelds, on
// standard output. Nothing is written to any device unless --write-test is given.
#include "probe/probe.h"

int main(int argc, char **argv)
{
    // Tessaly's own drive checks, without the system's "No disk" box for an empty slot.
    SetErrorMode(SEM_FAILCRITICALERRORS);
    LONGLONG started = Now();
    int writeTest = 0;
    for (int i = 1; i < argc; i++) {
        if (lstrcmpA(argv[i], "--write-test") == 0) {
            writeTest = 1;
        } else {
            Out("usage: TessalyProbe [--write-test] > probe.txt\r\n");
            return 2;
        }
    }
    CoInitializeEx(NULL, COINIT_MULTITHREADED);
    Out("Tessaly probe report\r\n");
    Out("write test: %s\r\n", writeTest ? "on" : "off, nothing is written to any device");
    OutSection("Setup");
    InstallProxies();
    SetupFacts setup;
    WalkFacts walk;
    MeasureFacts measured;
    ReportSetup(&setup);
    ReportDevices();
    ReportWalk(&setup, &walk, writeTest);
    ReportMeasurements(&walk, &measured);
    ReportSummary(&walk, &measured, started);
    RemoveProxies();
    CoUninitialize();
    return 0;
}
