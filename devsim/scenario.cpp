// Scenario files: a device tree in text, read by the server DLL; the device's state is
// written back in the same statements so that a test can examine it after the run.
#include <stdio.h>
#include <string.h>
#include "devsim_internal.h"

static std::wstring SimWide(const std::string &utf8)
{
    if (utf8.empty()) return std::wstring();
    int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), nullptr, 0);
    std::wstring out(n, L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), (int)utf8.size(), &out[0], n);
    return out;
}

static std::string SimUtf8(const std::wstring &text)
{
    if (text.empty()) return std::string();
    int n = WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), nullptr, 0, nullptr, nullptr);
    std::string out(n, '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), (int)text.size(), &out[0], n, nullptr, nullptr);
    return out;
}

static int SimHexDigit(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// The live child of parent named exactly name, or -1.
static int SimChildNamed(int device, int parent, const std::wstring &name)
{
    for (int c : DevsimChildren(device, parent))
        if (DevsimName(device, c) == name) return c;
    return DEVSIM_NONE;
}

// Walks a '/' path below DEVICE, making missing parents (a storage right below DEVICE, folders
// further down); returns the parent of the last component and that component's name.
static bool SimPrepareParent(int device, const std::string &path, int *parent, std::wstring *name)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    while (true) {
        size_t cut = path.find('/', start);
        std::string part = path.substr(start, cut == std::string::npos ? std::string::npos : cut - start);
        if (part.empty()) return false;
        parts.push_back(SimWide(part));
        if (cut == std::string::npos) break;
        start = cut + 1;
    }
    int current = DEVSIM_ROOT;
    for (size_t i = 0; i + 1 < parts.size(); i++) {
        int next = SimChildNamed(device, current, parts[i]);
        if (next == DEVSIM_NONE)
            next = (current == DEVSIM_ROOT) ? DevsimAddStorage(device, parts[i].c_str())
                                            : DevsimAddFolder(device, current, parts[i].c_str());
        current = next;
    }
    *parent = current;
    *name = parts.back();
    return true;
}

bool DevsimLoadScenario(const char *path)
{
    FILE *f = fopen(path, "rb");
    if (!f) return false;
    std::vector<std::string> lines;
    std::string line;
    int c;
    while ((c = fgetc(f)) != EOF) {
        if (c == '\n') {
            lines.push_back(line);
            line.clear();
        } else if (c != '\r') {
            line += (char)c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    fclose(f);

    DevsimLock lock;
    int device = DEVSIM_NONE;
    for (size_t i = 0; i < lines.size(); i++) {
        const std::string &l = lines[i];
        if (l.empty() || l[0] == '#') continue;
        size_t space = l.find(' ');
        std::string word = l.substr(0, space);
        std::string rest = (space == std::string::npos) ? "" : l.substr(space + 1);
        if (word == "device") {
            device = DevsimAddDevice(SimWide(rest).c_str());
            continue;
        }
        if (word == "ftm-missing") {
            DevsimSetFtmMissing(true);
            continue;
        }
        if (word == "latency") {
            unsigned long ms = 0;
            if (sscanf(rest.c_str(), "%lu", &ms) != 1) return false;
            DevsimSetLatency((DWORD)ms);
            continue;
        }
        if (word == "count") continue;   // written by the state, ignored on reading
        if (device == DEVSIM_NONE) return false;
        if (word == "deny") {
            if (rest == "once") DevsimSetDeny(device, DEVSIM_DENY_ONCE);
            else if (rest == "readwrite") DevsimSetDeny(device, DEVSIM_DENY_READWRITE);
            else if (rest == "all") DevsimSetDeny(device, DEVSIM_DENY_ALL);
            else return false;
        } else if (word == "optimal") {
            unsigned long r = 0, w = 0;
            if (sscanf(rest.c_str(), "%lu %lu", &r, &w) != 2) return false;
            DevsimSetOptimalSizes(device, (DWORD)r, (DWORD)w);
        } else if (word == "shortwrites") {
            DevsimSetShortWrites(device, true);
        } else if (word == "delete-refused") {
            DevsimSetDeleteRefused(device, true);
        } else if (word == "rename-refused") {
            DevsimSetRenameRefused(device, true);
        } else if (word == "rename-lies") {
            DevsimSetRenameLies(device, true);
        } else if (word == "ids") {
            if (rest == "reissued") DevsimSetIdScheme(device, DEVSIM_IDS_REISSUED_ON_RENAME);
            else if (rest == "from-names") DevsimSetIdScheme(device, DEVSIM_IDS_FROM_NAMES);
            else if (rest == "stable") DevsimSetIdScheme(device, DEVSIM_IDS_STABLE);
            else return false;
        } else if (word == "fail") {
            char method[128], when[16] = "";
            int nth = 0;
            unsigned long hr = 0;
            int n = sscanf(rest.c_str(), "%127s %d %lx %15s", method, &nth, &hr, when);
            if (n < 3 || nth < 1 || (n == 4 && strcmp(when, "after") != 0)) return false;
            DevsimFailCall(method, nth, (HRESULT)hr, nullptr, n == 4 ? DEVSIM_AFTER_ACTING : DEVSIM_BEFORE_ACTING);
        } else if (word == "pull-after") {
            long calls = -1;
            if (sscanf(rest.c_str(), "%ld", &calls) != 1 || calls < 0) return false;
            DevsimPullCableAfter(calls);
        } else if (word == "friendly" || word == "manufacturer" || word == "model") {
            std::wstring text = SimWide(rest);
            DevsimSetDeviceInfo(device, word == "friendly" ? text.c_str() : nullptr,
                                word == "manufacturer" ? text.c_str() : nullptr, word == "model" ? text.c_str() : nullptr);
        } else if (word == "no-bulk") {
            DevsimSetBulkMissing(device, true);
        } else if (word == "phantoms") {
            DevsimSetPhantoms(device, true);
        } else if (word == "reads-end-sfalse") {
            DevsimSetReadsEndWithSFalse(device, true);
        } else if (word == "files-refuse-listing") {
            DevsimSetFilesRefuseListing(device, true);
        } else if (word == "nameless-storages") {
            DevsimSetStoragesNameless(device, true);
        } else if (word == "edit-ops") {
            if (rest == "listed") DevsimSetEditOperations(device, DEVSIM_EDIT_LISTED);
            else if (rest == "unanswered") DevsimSetEditOperations(device, DEVSIM_EDIT_UNANSWERED);
            else if (rest == "absent") DevsimSetEditOperations(device, DEVSIM_EDIT_ABSENT);
            else return false;
        } else if (word == "growth-lies") {
            DevsimSetGrowthLies(device, true);
        } else if (word == "mtp-owned") {
            // mtp-owned PATH: the object must exist already.
            std::wstring path = SimWide(rest);
            for (wchar_t &c : path)
                if (c == L'/') c = L'\\';
            SimObject *o = SimFindObject(device, DevsimFind(device, path.c_str()));
            if (!o || rest.empty()) return false;
            o->mtpOwned = true;
        } else if (word == "listing-fails") {
            // listing-fails HRESULT PATH: the object must exist already; no PATH is DEVICE.
            unsigned long hr = 0;
            int skip = 0;
            if (sscanf(rest.c_str(), "%lx %n", &hr, &skip) != 1 || skip <= 0) return false;
            std::wstring path = SimWide(rest.substr(skip));
            for (wchar_t &c : path)
                if (c == L'/') c = L'\\';
            int object = DevsimFind(device, path.c_str());
            if (object < 0) return false;
            DevsimSetListingFails(device, object, (HRESULT)hr);
        } else if (word == "phantom") {
            int parent;
            std::wstring name;
            if (!SimPrepareParent(device, rest, &parent, &name)) return false;
            SimObject o;
            o.hasName = true;
            o.name = name;
            o.hasType = true;
            o.type = WPD_CONTENT_TYPE_UNSPECIFIED;
            o.hasFormat = true;
            o.format = WPD_OBJECT_FORMAT_UNSPECIFIED;
            if (SimAddPhantom(device, parent, o) < 0) return false;
        } else if (word == "value-error") {
            // value-error HRESULT KEY PATH: the object must exist already.
            unsigned long hr = 0;
            char key[16];
            int skip = 0;
            if (sscanf(rest.c_str(), "%lx %15s %n", &hr, key, &skip) != 2 || skip <= 0) return false;
            std::wstring path = SimWide(rest.substr(skip));
            for (wchar_t &c : path)
                if (c == L'/') c = L'\\';
            int object = DevsimFind(device, path.c_str());
            const PROPERTYKEY *k = strcmp(key, "name") == 0   ? &WPD_OBJECT_ORIGINAL_FILE_NAME
                                   : strcmp(key, "type") == 0 ? &WPD_OBJECT_CONTENT_TYPE
                                                              : nullptr;
            if (object < 0 || (!k && strcmp(key, "all") != 0)) return false;
            DevsimValueError(DevsimObjectId(device, object).c_str(), k, 0, (HRESULT)hr);
        } else if (word == "files") {
            // files COUNT image|file PREFIX EXT PATH: PREFIX_00001EXT ... in the folder PATH.
            unsigned long count = 0;
            char kind[8], prefix[64], extension[16];
            int skip = 0;
            if (sscanf(rest.c_str(), "%lu %7s %63s %15s %n", &count, kind, prefix, extension, &skip) != 4 || skip <= 0)
                return false;
            bool image = strcmp(kind, "image") == 0;
            if (!image && strcmp(kind, "file") != 0) return false;
            int parent;
            std::wstring name;
            if (!SimPrepareParent(device, rest.substr(skip) + "/x", &parent, &name)) return false;
            for (unsigned long n = 1; n <= count; n++) {
                char file[96];
                snprintf(file, sizeof file, "%s_%05lu%s", prefix, n, extension);
                std::wstring wide = SimWide(file);
                DevsimAddObject(device, parent, wide.c_str(), image ? &WPD_CONTENT_TYPE_IMAGE : &WPD_CONTENT_TYPE_UNSPECIFIED,
                                image ? &WPD_OBJECT_FORMAT_EXIF : &WPD_OBJECT_FORMAT_UNSPECIFIED, "\xFF\xD8\xFF\xD9", 4);
            }
        } else if (word == "storage") {
            if (rest.empty()) return false;
            DevsimAddStorage(device, SimWide(rest).c_str());
        } else if (word == "folder") {
            int parent;
            std::wstring name;
            if (!SimPrepareParent(device, rest, &parent, &name)) return false;
            if (SimChildNamed(device, parent, name) == DEVSIM_NONE) DevsimAddFolder(device, parent, name.c_str());
        } else if (word == "file") {
            int parent;
            std::wstring name;
            if (!SimPrepareParent(device, rest, &parent, &name)) return false;
            std::string data;
            for (i++; i < lines.size() && lines[i] != "."; i++) data += lines[i] + "\r\n";
            if (i == lines.size()) return false;   // no closing "."
            DevsimAddFile(device, parent, name.c_str(), data);
        } else if (word == "hex") {
            size_t cut = rest.rfind(' ');
            if (cut == std::string::npos) return false;
            std::string hex = rest.substr(cut + 1), data;
            if (hex != "-") {
                if (hex.size() % 2) return false;
                for (size_t k = 0; k < hex.size(); k += 2) {
                    int hi = SimHexDigit(hex[k]), lo = SimHexDigit(hex[k + 1]);
                    if (hi < 0 || lo < 0) return false;
                    data += (char)(hi * 16 + lo);
                }
            }
            int parent;
            std::wstring name;
            if (!SimPrepareParent(device, rest.substr(0, cut), &parent, &name)) return false;
            DevsimAddFile(device, parent, name.c_str(), data);
        } else {
            return false;
        }
    }
    return true;
}

static void SimSaveTree(FILE *f, int device, int object, const std::string &prefix)
{
    for (int c : DevsimChildren(device, object)) {
        const SimObject &o = Sim().devices[device].objects[c];
        if (!o.hasName) continue;   // a path cannot name it
        std::string path = prefix.empty() ? SimUtf8(o.name) : prefix + "/" + SimUtf8(o.name);
        bool storage = o.hasType && IsEqualGUID(o.type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT);
        bool folder = o.hasType && IsEqualGUID(o.type, WPD_CONTENT_TYPE_FOLDER);
        if (o.phantom) {
            fprintf(f, "phantom %s\n", path.c_str());
        } else if (storage && object == DEVSIM_ROOT) {
            fprintf(f, "storage %s\n", path.c_str());
        } else if (folder || storage) {
            fprintf(f, "folder %s\n", path.c_str());
        } else {
            fprintf(f, "hex %s ", path.c_str());
            if (o.data.empty()) fputc('-', f);
            for (unsigned char b : o.data) fprintf(f, "%02x", b);
            fputc('\n', f);
        }
        if (o.mtpOwned) fprintf(f, "mtp-owned %s\n", path.c_str());
        if (FAILED(o.listingFails)) fprintf(f, "listing-fails %08lX %s\n", (unsigned long)o.listingFails, path.c_str());
        SimSaveTree(f, device, c, path);
    }
}

bool DevsimSaveState(const char *path)
{
    DevsimLock lock;
    FILE *f = fopen(path, "wb");
    if (!f) return false;
    fprintf(f, "# state of the simulated devices\n");
    if (Sim().ftmMissing) fprintf(f, "ftm-missing\n");
    static const char *denyWords[] = {"", "once", "readwrite", "all"};
    for (size_t d = 0; d < Sim().devices.size(); d++) {
        const SimDevice &dev = Sim().devices[d];
        fprintf(f, "device %s\n", SimUtf8(dev.pnpId).c_str());
        if (dev.deny != DEVSIM_DENY_NONE) fprintf(f, "deny %s\n", denyWords[dev.deny]);
        fprintf(f, "optimal %lu %lu\n", (unsigned long)dev.readSize, (unsigned long)dev.writeSize);
        if (dev.shortWrites) fprintf(f, "shortwrites\n");
        if (dev.deleteRefused) fprintf(f, "delete-refused\n");
        if (dev.renameRefused) fprintf(f, "rename-refused\n");
        if (dev.renameLies) fprintf(f, "rename-lies\n");
        if (dev.idScheme == DEVSIM_IDS_REISSUED_ON_RENAME) fprintf(f, "ids reissued\n");
        if (dev.idScheme == DEVSIM_IDS_FROM_NAMES) fprintf(f, "ids from-names\n");
        fprintf(f, "friendly %s\nmanufacturer %s\nmodel %s\n", SimUtf8(dev.friendlyName).c_str(),
                SimUtf8(dev.manufacturer).c_str(), SimUtf8(dev.model).c_str());
        if (dev.bulkMissing) fprintf(f, "no-bulk\n");
        if (dev.phantoms) fprintf(f, "phantoms\n");
        if (dev.readsEndSFalse) fprintf(f, "reads-end-sfalse\n");
        if (dev.filesRefuseListing) fprintf(f, "files-refuse-listing\n");
        if (dev.storagesNameless) fprintf(f, "nameless-storages\n");
        static const char *editWords[] = {"absent", "listed", "unanswered"};
        if (dev.editOps != DEVSIM_EDIT_ABSENT) fprintf(f, "edit-ops %s\n", editWords[dev.editOps]);
        if (dev.growthLies) fprintf(f, "growth-lies\n");
        if (FAILED(dev.objects[DEVSIM_ROOT].listingFails))
            fprintf(f, "listing-fails %08lX\n", (unsigned long)dev.objects[DEVSIM_ROOT].listingFails);
        SimSaveTree(f, (int)d, DEVSIM_ROOT, "");
    }
    for (const auto &entry : SimCallCounts()) fprintf(f, "count %s %ld\n", entry.first.c_str(), entry.second);
    bool ok = (fclose(f) == 0);
    return ok;
}
