// Device calls and bytes moved by a whole run against three reference handhelds, from the
// simulated device's counters; and the size of Tessaly.EXE. Not a test: it prints figures.
//   wine bench_handhelds.exe [Tessaly.EXE ...]   (sizes of the EXEs given; Linux paths work)
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>
#include "devfs/devfs.h"
#include "devsim/devsim.h"

namespace {

const char NewName[] = "Bench phone";

struct Handheld {
    const char *name;
    const char *layout;
    void (*build)();
};

void AddApp(int device, int parent)
{
    int app = DevsimAddFolder(device, parent, L"Corvane");
    DevsimAddFile(device, app, L"Corvane_Info.ini", "[Corvane]\r\nName=Reference phone\r\n");
}

void SmallPhone()
{
    int device = DevsimAddDevice(L"\\\\?\\usb#bench-small");
    int storage = DevsimAddStorage(device, L"Internal storage");
    DevsimAddFolder(device, storage, L"DCIM");
    DevsimAddFolder(device, storage, L"Download");
    AddApp(device, storage);
}

// The camera folder comes first, so discovery walks past its photos before the app folder.
void PhotoPhone()
{
    int device = DevsimAddDevice(L"\\\\?\\usb#bench-photos");
    int storage = DevsimAddStorage(device, L"Internal storage");
    int dcim = DevsimAddFolder(device, storage, L"DCIM");
    int camera = DevsimAddFolder(device, dcim, L"Camera");
    for (int i = 1; i <= 5000; i++) {
        wchar_t name[32];
        wsprintfW(name, L"IMG_%05d.jpg", i);
        DevsimAddObject(device, camera, name, &WPD_CONTENT_TYPE_IMAGE, &WPD_OBJECT_FORMAT_EXIF, "\xFF\xD8\xFF\xD9", 4);
    }
    DevsimAddFolder(device, storage, L"Download");
    AddApp(device, storage);
}

void DeepPhone()
{
    int device = DevsimAddDevice(L"\\\\?\\usb#bench-deep");
    int storage = DevsimAddStorage(device, L"Internal storage");
    DevsimAddFolder(device, storage, L"DCIM");
    int documents = DevsimAddFolder(device, storage, L"Documents");
    AddApp(device, documents);
}

const Handheld Handhelds[] = {
    {"small", "storage > DCIM, Download, Corvane", SmallPhone},
    {"photos", "storage > DCIM > Camera (5,000 photos), Download, Corvane", PhotoPhone},
    {"deeper", "storage > DCIM, Documents > Corvane", DeepPhone},
};

struct Figures {
    std::map<std::string, long> perMethod;
    long total = 0;
    long long bytesRead = 0, bytesWritten = 0;
    bool wrote = false;
    DWORD milliseconds = 0;
};

enum RunKind { DiscoveryOnly, CommandLine, Dialog };
const char *const RunNames[] = {"discovery", "command line", "dialog"};
const char *const RunDescriptions[] = {"discovery (start, shut down)", "command line (write)",
                                       "dialog (read, write)"};

// The program's device work: start, locate, read (dialog run only), write, shut down.
Figures Run(const Handheld &handheld, RunKind kind)
{
    bool dialog = kind == Dialog;
    Figures f;
    DevsimReset();
    handheld.build();
    DWORD start = GetTickCount();
    DevStartup(1);
    char path[MAX_PATH];
    if (DevDevicePath(path) && kind == DiscoveryOnly) {
        f.wrote = true;
        DevShutdown();
    } else if (DevDevicePath(path)) {
        if (dialog) {
            char name[16];
            DevGetProfileString("Corvane", "Name", "", name, sizeof name, path);
        }
        f.wrote = DevWriteProfileString("Corvane", "Name", NewName, path) != 0;
        DevShutdown();
    }
    f.milliseconds = GetTickCount() - start;
    for (const std::string &entry : DevsimCallLog()) f.perMethod[entry.substr(0, entry.find(' '))]++;
    f.total = DevsimTotalCalls();
    f.bytesRead = DevsimBytesRead();
    f.bytesWritten = DevsimBytesWritten();
    return f;
}

long Count(const Figures &f, const char *method)
{
    auto it = f.perMethod.find(method);
    return it == f.perMethod.end() ? 0 : it->second;
}

long FileSize(std::string path)
{
    if (!path.empty() && path[0] == '/') {   // a Linux path: Wine's Z: drive is the root
        for (char &c : path)
            if (c == '/') c = '\\';
        path = "Z:" + path;
    }
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return -1;
    return (long)data.nFileSizeLow;
}

}  // namespace

int main(int argc, char **argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) || FAILED(DevsimRegisterInProcess())) {
        std::printf("cannot register the simulated device\n");
        return 1;
    }
    // The layer reads SearchDepth from the local configuration file: use the default.
    DeleteFileA("C:\\windows\\Corvane_Info.ini");

    const char *columns[] = {
        "IPortableDeviceManager::GetDevices", "IPortableDevice::Open", "IPortableDeviceContent::EnumObjects",
        "IEnumPortableDeviceObjectIDs::Next", "IPortableDeviceProperties::GetValues",
        "IPortableDeviceResources::GetStream", "IStream::Read", "IPortableDeviceContent::Delete",
        "IPortableDeviceContent::CreateObjectWithPropertiesAndData", "IStream::Write", "IStream::Commit",
    };
    const char *shortNames[] = {"GetDevices", "Open", "EnumObjects", "Next", "GetValues", "GetStream",
                                "Read", "Delete", "CreateObject", "Write", "Commit"};
    std::string table = "| handheld | run | total calls |";
    for (const char *s : shortNames) table += std::string(" ") + s + " |";
    table += " bytes read | bytes written | ms |\n|---|---|---:|";
    for (size_t i = 0; i < sizeof shortNames / sizeof shortNames[0]; i++) table += "---:|";
    table += "---:|---:|---:|\n";

    bool allOk = true;
    for (const Handheld &h : Handhelds) {
        for (int run = Dialog; run >= DiscoveryOnly; run--) {
            Figures f = Run(h, (RunKind)run);
            const char *kind = RunDescriptions[run];
            std::printf("\n== %s handheld (%s), %s run: %ld device calls, %lld bytes read, %lld written, %lu ms%s\n",
                        h.name, h.layout, kind, f.total, f.bytesRead, f.bytesWritten, f.milliseconds,
                        f.wrote ? "" : "  ** THE WRITE FAILED **");
            for (const auto &m : f.perMethod) std::printf("   %6ld  %s\n", m.second, m.first.c_str());
            char row[512];
            std::snprintf(row, sizeof row, "| %s | %s | %ld |", h.name, RunNames[run], f.total);
            table += row;
            for (const char *c : columns) table += " " + std::to_string(Count(f, c)) + " |";
            std::snprintf(row, sizeof row, " %lld | %lld | %lu |\n", f.bytesRead, f.bytesWritten, f.milliseconds);
            table += row;
            long transfers = run == DiscoveryOnly ? 0 : 1;
            if (!f.wrote || Count(f, "IPortableDeviceResources::GetStream") != transfers ||
                Count(f, "IPortableDeviceContent::CreateObjectWithPropertiesAndData") != transfers)
                allOk = false;
        }
    }
    std::printf("\n%s", table.c_str());
    // The shipped EXE must stay within 32 KiB; the twin's size is shown beside it.
    for (int i = 1; i < argc; i++) {
        long size = FileSize(argv[i]);
        std::printf("\n%s: %ld bytes%s", argv[i], size, size > 32768 ? "  ** OVER 32 KiB **" : "");
    }
    std::printf("\n");
    std::printf("%s\n", allOk ? "every run downloaded once and uploaded once"
                              : "** some run did not download once and upload once **");
    DevsimRevokeInProcess();
    CoUninitialize();
    return allOk ? 0 : 2;
}
