// Device calls of whole runs against reference handhelds, from the simulated device's
// counters, with the time each run would take on a real phone by a per-call latency model;
// and the size of the EXEs given. Not a test: it prints figures.
//   wine bench_handhelds.exe [Tessaly.EXE ...]   (sizes of the EXEs given; Linux paths work)
//
// A run is the program's own sequence: DevStartup, LocateSettingsFile, then the dialog's
// read and the write (dialog run) or the write alone (command-line run), DevShutdown. A drive
// run finds the settings file on drive C: with the handheld connected.
#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>
#include "app/app.h"
#include "devfs/devfs.h"
#include "devfs/devfs_internal.h"
#include "devsim/devsim.h"

namespace {

const char NewName[] = "Bench phone";
const char DriveFolder[] = "C:\\Corvane";
const char DriveFile[] = "C:\\Corvane\\CORVANE_INFO.ini";

struct Handheld {
    const char *name;
    const char *layout;
    void (*build)();
    long busyEvery;   // every nth request answers busy once (another program uses the phone)
    bool edits;       // the phone lists Android's edit operations: saves rewrite the file in place
};

void AddApp(int device, int parent)
{
    int app = DevsimAddFolder(device, parent, L"Corvane");
    DevsimAddFile(device, app, L"Corvane_Info.ini", "[Corvane]\r\nName=Reference phone\r\n");
}

// count objects named PREFIX_00001.EXT ... below parent, of the given content type.
void AddFiles(int device, int parent, const wchar_t *prefix, const wchar_t *extension, int count,
              const GUID *type, const GUID *format)
{
    for (int i = 1; i <= count; i++) {
        wchar_t name[64];
        wsprintfW(name, L"%s_%05d%s", prefix, i, extension);
        DevsimAddObject(device, parent, name, type, format, "\xFF\xD8\xFF\xD9", 4);
    }
}

void SmallPhone()
{
    int device = DevsimAddDevice(L"\\\\?\\usb#bench-small");
    int storage = DevsimAddStorage(device, L"Internal storage");
    DevsimAddFolder(device, storage, L"DCIM");
    DevsimAddFolder(device, storage, L"Download");
    AddApp(device, storage);
}

// The camera folder comes first, so a walk that lists it does so before the app folder.
void PhotoPhone(const wchar_t *pnpId, int photos)
{
    int device = DevsimAddDevice(pnpId);
    int storage = DevsimAddStorage(device, L"Internal storage");
    int camera = DevsimAddFolder(device, DevsimAddFolder(device, storage, L"DCIM"), L"Camera");
    AddFiles(device, camera, L"IMG", L".jpg", photos, &WPD_CONTENT_TYPE_IMAGE, &WPD_OBJECT_FORMAT_EXIF);
    DevsimAddFolder(device, storage, L"Download");
    AddApp(device, storage);
}

void Photos5000() { PhotoPhone(L"\\\\?\\usb#bench-photos", 5000); }
void Photos50000() { PhotoPhone(L"\\\\?\\usb#bench-photos50k", 50000); }

void DeepPhone()
{
    int device = DevsimAddDevice(L"\\\\?\\usb#bench-deep");
    int storage = DevsimAddStorage(device, L"Internal storage");
    DevsimAddFolder(device, storage, L"DCIM");
    int documents = DevsimAddFolder(device, storage, L"Documents");
    AddApp(device, documents);
}

// What a phone in daily use holds, in the device's order, with the app folder listed last.
void TypicalPhone()
{
    const GUID *image = &WPD_CONTENT_TYPE_IMAGE, *exif = &WPD_OBJECT_FORMAT_EXIF;
    const GUID *file = &WPD_CONTENT_TYPE_UNSPECIFIED, *undefined = &WPD_OBJECT_FORMAT_UNSPECIFIED;
    int device = DevsimAddDevice(L"\\\\?\\usb#bench-typical");
    int storage = DevsimAddStorage(device, L"Internal storage");
    int camera = DevsimAddFolder(device, DevsimAddFolder(device, storage, L"DCIM"), L"Camera");
    AddFiles(device, camera, L"IMG", L".jpg", 20000, image, exif);
    int data = DevsimAddFolder(device, DevsimAddFolder(device, storage, L"Android"), L"data");
    for (int i = 1; i <= 300; i++) {
        wchar_t name[64];
        wsprintfW(name, L"com.example.app%03d", i);
        int app = DevsimAddFolder(device, data, name);
        AddFiles(device, DevsimAddFolder(device, app, L"files"), L"cache", L".bin", 3, file, undefined);
    }
    AddFiles(device, DevsimAddFolder(device, storage, L"Download"), L"download", L".pdf", 500, file, undefined);
    int music = DevsimAddFolder(device, storage, L"Music");
    for (int a = 1; a <= 100; a++) {
        wchar_t name[64];
        wsprintfW(name, L"Artist %03d", a);
        int artist = DevsimAddFolder(device, music, name);
        for (int b = 1; b <= 2; b++) {
            wsprintfW(name, L"Album %d", b);
            AddFiles(device, DevsimAddFolder(device, artist, name), L"track", L".mp3", 10, file, undefined);
        }
    }
    int shots = DevsimAddFolder(device, DevsimAddFolder(device, storage, L"Pictures"), L"Screenshots");
    AddFiles(device, shots, L"Screenshot", L".png", 1000, image, nullptr);
    AddApp(device, storage);
}

const Handheld Handhelds[] = {
    {"small", "storage > DCIM, Download, Corvane", SmallPhone},
    {"photos", "storage > DCIM > Camera (5,000 photos), Download, Corvane", Photos5000},
    {"photos 50k", "storage > DCIM > Camera (50,000 photos), Download, Corvane", Photos50000},
    {"deeper", "storage > DCIM, Documents > Corvane", DeepPhone},
    {"typical", "storage > DCIM/Camera (20,000), Android/data (300 apps), Download (500), Music (100 artists), "
                "Pictures/Screenshots (1,000), Corvane last",
     TypicalPhone},
    {"small, busy", "as small; every tenth request answers busy once", SmallPhone, 10},
    {"small, in place", "as small; the phone lists Android's edit operations",
     [] {
         SmallPhone();
         DevsimSetEditOperations(0, DEVSIM_EDIT_LISTED);
     },
     0, true},
    {"typical, busy", "as typical; every tenth request answers busy once", TypicalPhone, 10},
};

// ---- the latency model: one USB request/response of MTP costs about 3.8 ms on a real
// phone; a folder listing also moves one handle per child. Everything answered inside the
// desktop (device list, helper objects, services) is free. ----
const double RoundTripMs = 3.8;
const double ListingMsPerChild = 1.0;

// The layer's waits for a busy device are not slept here: they are added to the model.
DWORD BusyWaitedMs = 0;
long BusyWaits = 0;
void WINAPI ModelBusyWait(DWORD milliseconds)
{
    BusyWaitedMs += milliseconds;
    BusyWaits++;
}

double ModelledMs(const std::string &method, const std::string &id)
{
    static const char *const roundTrips[] = {
        "IPortableDevice::Open", "IPortableDeviceProperties::GetValues", "IPortableDeviceProperties::SetValues",
        "IPortableDeviceResources::GetStream", "IStream::Read", "IStream::Write", "IStream::Commit",
        "IPortableDeviceContent::CreateObjectWithPropertiesAndData", "IPortableDeviceContent::Delete",
    };
    // One MTP operation through the pass-through is one request: its data and its end are not.
    if (method == "IPortableDevice::SendCommand")
        return id.rfind("0x", 0) == 0 && id.find(" read") == std::string::npos && id.find(" write") == std::string::npos &&
                       id.find(" end") == std::string::npos
                   ? RoundTripMs
                   : 0;
    if (method == "IPortableDeviceContent::EnumObjects") {
        std::wstring wide(id.begin(), id.end());
        int object = DevsimObjectById(0, wide.c_str());
        size_t children = object >= 0 ? DevsimChildren(0, object).size() : 0;
        return RoundTripMs + ListingMsPerChild * (double)children;
    }
    for (const char *m : roundTrips)
        if (method == m) return RoundTripMs;
    return 0;
}

struct Figures {
    std::map<std::string, long> perMethod;
    std::map<std::string, long> discovery;   // the calls that found the file, before any read
    long total = 0;
    long long bytesRead = 0, bytesWritten = 0;
    bool wrote = false;
    double modelledMs = 0, modelledToDialogMs = 0;
    long callsToDialog = 0;
    long requests = 0;   // calls that cross to the phone (the model's round trips)
    DWORD milliseconds = 0;
    long busyWaits = 0;
};

enum RunKind { Dialog, CommandLine, Drive };
const char *const RunNames[] = {"dialog", "command line", "drive"};

// Adds the modelled time of the calls logged from index `from` on, and counts the requests
// among them; returns the new end.
size_t Model(const std::vector<std::string> &log, size_t from, double *ms, long *requests = nullptr)
{
    for (size_t i = from; i < log.size(); i++) {
        size_t blank = log[i].find(' ');
        double call = ModelledMs(log[i].substr(0, blank), blank == std::string::npos ? "" : log[i].substr(blank + 1));
        *ms += call;
        if (requests != nullptr && call > 0) ++*requests;
    }
    return log.size();
}

Figures Run(const Handheld &handheld, RunKind kind)
{
    Figures f;
    DevsimReset();
    handheld.build();
    BusyWaitedMs = 0;
    BusyWaits = 0;
    DevsimBusyEvery(handheld.busyEvery);
    if (kind == Drive) {
        CreateDirectoryA(DriveFolder, nullptr);
        WritePrivateProfileStringA("Corvane", "Name", "Card reader", DriveFile);
    }
    DWORD start = GetTickCount();
    DevStartup(1);
    if (LocateSettingsFile()) {
        for (const std::string &entry : DevsimCallLog()) f.discovery[entry.substr(0, entry.find(' '))]++;
        if (kind == Dialog) {
            char name[16];
            DevGetProfileString("Corvane", "Name", "", name, sizeof name, SettingsPath);
            f.callsToDialog = (long)Model(DevsimCallLog(), 0, &f.modelledToDialogMs);
            f.modelledToDialogMs += BusyWaitedMs;
        }
        f.wrote = DevWriteProfileString("Corvane", "Name", NewName, SettingsPath) != 0;
        DevShutdown();
    }
    f.milliseconds = GetTickCount() - start;
    std::vector<std::string> log = DevsimCallLog();
    Model(log, 0, &f.modelledMs, &f.requests);
    f.modelledMs += BusyWaitedMs;
    f.busyWaits = BusyWaits;
    for (const std::string &entry : log) f.perMethod[entry.substr(0, entry.find(' '))]++;
    f.total = DevsimTotalCalls();
    f.bytesRead = DevsimBytesRead();
    f.bytesWritten = DevsimBytesWritten();
    if (kind == Drive) {
        DeleteFileA(DriveFile);
        RemoveDirectoryA(DriveFolder);
    }
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

std::string Seconds(double ms)
{
    char text[32];
    std::snprintf(text, sizeof text, ms < 10000 ? "%.2f s" : "%.1f s", ms / 1000);
    return text;
}

}  // namespace

int main(int argc, char **argv)
{
    if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) || FAILED(DevsimRegisterInProcess())) {
        std::printf("cannot register the simulated device\n");
        return 1;
    }
    hInstance = GetModuleHandleA(nullptr);
    DevBusyWait = ModelBusyWait;
    // The layer reads SearchDepth from the local configuration file: use the default.
    DeleteFileA("C:\\windows\\Corvane_Info.ini");
    if (GetFileAttributesA(DriveFile) != INVALID_FILE_ATTRIBUTES) {
        std::printf("%s exists: the device runs would use it; remove it first\n", DriveFile);
        return 1;
    }

    const char *columns[] = {
        "IPortableDevice::Open", "IPortableDeviceContent::EnumObjects", "IEnumPortableDeviceObjectIDs::Next",
        "IPortableDeviceProperties::GetValues", "IPortableDeviceProperties::SetValues",
        "IPortableDeviceResources::GetStream", "IStream::Read", "IPortableDeviceContent::Delete",
        "IPortableDeviceContent::CreateObjectWithPropertiesAndData", "IStream::Write", "IStream::Commit",
        "IPortableDevice::SendCommand",
    };
    const char *shortNames[] = {"Open", "EnumObjects", "Next", "GetValues", "SetValues", "GetStream",
                                "Read", "Delete", "CreateObject", "Write", "Commit", "SendCommand"};
    std::string table = "| handheld | run | total calls |";
    for (const char *s : shortNames) table += std::string(" ") + s + " |";
    table += " requests | modelled on a phone | until the dialog shows |\n|---|---|---:|";
    for (size_t i = 0; i < sizeof shortNames / sizeof shortNames[0]; i++) table += "---:|";
    table += "---:|---:|---:|\n";

    bool allOk = true;
    for (const Handheld &h : Handhelds) {
        if (getenv("BENCH_ONLY") && strcmp(getenv("BENCH_ONLY"), h.name)) continue;
        for (int run = Dialog; run <= Drive; run++) {
            Figures f = Run(h, (RunKind)run);
            std::printf("\n== %s handheld (%s), %s run: %ld device calls, %lld bytes read, %lld written, "
                        "modelled %s on a phone (%ld waits for busy answers included), %lu ms here%s\n",
                        h.name, h.layout, RunNames[run], f.total, f.bytesRead, f.bytesWritten,
                        Seconds(f.modelledMs).c_str(), f.busyWaits, f.milliseconds,
                        f.wrote ? "" : "  ** THE WRITE FAILED **");
            if (run == Dialog) {
                std::printf("   discovery:");
                for (const char *m : {"IPortableDevice::Open", "IPortableDeviceContent::EnumObjects",
                                      "IEnumPortableDeviceObjectIDs::Next", "IPortableDeviceProperties::GetValues"})
                    std::printf(" %s %ld", m, f.discovery.count(m) ? f.discovery.at(m) : 0L);
                std::printf("; calls until the dialog shows: %ld\n", f.callsToDialog);
            }
            for (const auto &m : f.perMethod) std::printf("   %6ld  %s\n", m.second, m.first.c_str());
            char row[512];
            std::snprintf(row, sizeof row, "| %s | %s | %ld |", h.name, RunNames[run], f.total);
            table += row;
            for (const char *c : columns) table += " " + std::to_string(Count(f, c)) + " |";
            table += " " + std::to_string(f.requests) + " | " + Seconds(f.modelledMs) + " | " +
                     (run == Dialog ? Seconds(f.modelledToDialogMs) : "") + " |\n";
            // A busy phone's retries are calls too; the calm ones must transfer exactly this: a
            // download, and the new copy and the file read back; in place, also the old copy made
            // and read back, the file read back through the pass-through.
            long uploads = run == Drive ? 0 : h.edits ? 2 : 1, streams = run == Drive ? 0 : h.edits ? 4 : 3;
            if (!f.wrote || (h.busyEvery == 0 &&
                             (Count(f, "IPortableDeviceResources::GetStream") != streams ||
                              Count(f, "IPortableDeviceContent::CreateObjectWithPropertiesAndData") != uploads)))
                allOk = false;
        }
    }
    std::printf("\n%s", table.c_str());
    std::printf("\nModel: %.1f ms per request to the device (property read or write, open, stream "
                "call, create, delete), plus %.1f ms per child listed by EnumObjects; Next and "
                "everything answered on the desktop are free; each wait for a busy device as long as it is.\n",
                RoundTripMs, ListingMsPerChild);
    // The shipped EXE must stay within 44 KiB; the twin's size is shown beside it.
    for (int i = 1; i < argc; i++) {
        long size = FileSize(argv[i]);
        std::printf("%s: %ld bytes%s\n", argv[i], size, i == 1 && size > 45056 ? "  ** OVER 44 KiB **" : "");
    }
    std::printf("%s\n", allOk ? "every device run downloaded once, uploaded once and read back the new copy and the "
                                 "file under its name; every drive run made no transfer"
                              : "** some run did not download once, upload once and read back twice **");
    DevsimRevokeInProcess();
    CoUninitialize();
    return allOk ? 0 : 2;
}
