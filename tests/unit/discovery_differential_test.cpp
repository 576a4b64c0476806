// Discovery against a plain model of the full walk: depth first in the device's order,
// every object's name read and every object asked for its children down to SearchDepth,
// the first settings file directly inside a folder "Corvane" wins, and a nameless child of such
// a folder ends the walk of its device. On many generated trees
// and every depth from -1 to 6, the layer on devsim must settle on the same three objects,
// however little of the tree it reads to get there.
#include <iostream>
#include <random>
#include <string>
#include <vector>

#include "support/device_fixture.h"
#include "devfs/devfs_internal.h"

namespace {

enum Kind { Storage, Folder, PlainFile, Image, Document, Untyped };

struct Node {
    Kind kind;
    bool named;
    std::wstring name;
    std::vector<int> children;
    int simObject = -1;
};

struct Tree {
    std::vector<Node> nodes;   // node 0 is the root object "DEVICE"
};

struct Found {
    int root = -1, app = -1, file = -1;   // node numbers; -1: nothing found
    bool operator==(const Found &o) const { return root == o.root && app == o.app && file == o.file; }
};

bool FoldedEqual(const std::wstring &a, const wchar_t *b)
{
    return DevNameEqual((const WCHAR *)a.c_str(), (const WCHAR *)b) != 0;
}

// The full walk, as the layer once did it, with no shortcut of any kind: 1 found, 0 not, -1 the
// walk of the device ended on a child of a folder "Corvane" without a name (it might be the file).
int ReferenceWalk(const Tree &t, int depth, int searchDepth, bool parentIsApp, int grandparent, int parent,
                  int node, Found *found)
{
    if (depth > searchDepth) return 0;
    const Node &n = t.nodes[node];
    bool childrenInApp = false;
    if (parentIsApp && !n.named) return -1;
    if (n.named) {
        if (parentIsApp && grandparent >= 0 && FoldedEqual(n.name, L"Corvane_Info.ini")) {
            found->root = grandparent;
            found->app = parent;
            found->file = node;
            return 1;
        }
        childrenInApp = FoldedEqual(n.name, L"Corvane");
    }
    for (int child : n.children)
        if (int result = ReferenceWalk(t, depth + 1, searchDepth, childrenInApp, parent, node, child, found)) return result;
    return 0;
}

// Names that match, that nearly match, and that have nothing to do with the app.
const wchar_t *const Names[] = {
    L"Corvane", L"corvane", L"CORVANE", L"Corvane_Info.ini", L"CORVANE_INFO.INI", L"corvane_info.ini",
    L"Corvane2", L"Corvan", L"Corvane_Info.ini.bak", L"Corvane_Info", L"Corvane_Info.ini ", L" Corvane",
    L"Corvan\u00e9", L"DCIM", L"Music", L"Download", L"Android", L"data", L"a", L"IMG_0001.jpg",
};

class Generator {
public:
    explicit Generator(unsigned seed) : random_(seed) {}

    Tree Make()
    {
        Tree t;
        t.nodes.push_back(Node{Untyped, false, L"", {}});
        int storages = 1 + Pick(2);
        for (int i = 0; i < storages; i++) {
            int s = Add(&t, 0, Storage, true, i == 0 ? L"Internal storage" : Name());
            Grow(&t, s, 2, false);
        }
        return t;
    }

private:
    int Pick(int n) { return (int)(random_() % (unsigned)n); }
    const wchar_t *Name()
    {
        const int count = sizeof Names / sizeof Names[0];
        return Pick(10) < 3 ? Names[Pick(6)] : Names[6 + Pick(count - 6)];
    }
    // Inside a folder named like the app folder, the settings file's names (and the app
    // folder's again) are common, so that many trees hold something to find.
    const wchar_t *NameIn(bool appLike) { return appLike && Pick(2) ? Names[Pick(6)] : Name(); }

    int Add(Tree *t, int parent, Kind kind, bool named, const std::wstring &name)
    {
        t->nodes.push_back(Node{kind, named, name, {}});
        int n = (int)t->nodes.size() - 1;
        t->nodes[parent].children.push_back(n);
        return n;
    }

    // Children of a container at depth: folders and objects of unknown type may have more;
    // files, photos and documents never have any, as on a real device.
    void Grow(Tree *t, int parent, int depth, bool appLike)
    {
        if (depth > 7) return;
        int count = appLike ? 1 + Pick(3) : depth == 2 ? 1 + Pick(5) : Pick(depth < 4 ? 5 : 3);
        for (int i = 0; i < count; i++) {
            int roll = Pick(10);
            Kind kind = roll < 4 ? Folder : roll < 6 ? PlainFile : roll < 7 ? Image : roll < 8 ? Document : Untyped;
            bool named = Pick(appLike ? 24 : 12) != 0;   // a nameless child ends an app folder's walk: rarer there
            int child = Add(t, parent, kind, named, named ? NameIn(appLike) : L"");
            if (kind == Folder || kind == Untyped)
                Grow(t, child, depth + 1, named && FoldedEqual(t->nodes[child].name, L"Corvane"));
        }
    }

    std::mt19937 random_;
};

void BuildOnDevsim(Tree *t, int device, int node)
{
    for (int c : t->nodes[node].children) {
        Node &n = t->nodes[c];
        const wchar_t *name = n.named ? n.name.c_str() : nullptr;
        const GUID *type = n.kind == Storage    ? &WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT
                           : n.kind == Folder   ? &WPD_CONTENT_TYPE_FOLDER
                           : n.kind == PlainFile ? &WPD_CONTENT_TYPE_UNSPECIFIED
                           : n.kind == Image    ? &WPD_CONTENT_TYPE_IMAGE
                           : n.kind == Document ? &WPD_CONTENT_TYPE_DOCUMENT
                                                : nullptr;
        n.simObject = DevsimAddObject(device, t->nodes[node].simObject, name, type, nullptr, "x", 1);
        BuildOnDevsim(t, device, c);
    }
}

std::string Describe(const Tree &t, int node)
{
    if (node < 0) return "nothing";
    const Node &n = t.nodes[node];
    return node == 0 ? "DEVICE" : std::string(n.name.begin(), n.name.end()) + " (node " + std::to_string(node) + ")";
}

class DiscoveryDifferentialTest : public DeviceTest {};

TEST_F(DiscoveryDifferentialTest, TheLayerFindsWhatTheFullWalkFinds)
{
    const int trees = 400;
    int cases = 0, foundCases = 0, mismatches = 0;
    for (int seed = 1; seed <= trees && mismatches < 5; seed++) {
        // One or two devices; the first whose walk finds the file wins.
        Generator generator((unsigned)seed);
        std::vector<Tree> devices(1 + seed % 2);
        DevsimReset();
        for (size_t d = 0; d < devices.size(); d++) {
            devices[d] = generator.Make();
            int device = DevsimAddDevice((L"\\\\?\\usb#tree" + std::to_wstring(d)).c_str());
            devices[d].nodes[0].simObject = DEVSIM_ROOT;
            BuildOnDevsim(&devices[d], device, 0);
        }
        for (int depth = -1; depth <= 6; depth++) {
            SCOPED_TRACE("tree " + std::to_string(seed) + ", SearchDepth " + std::to_string(depth));
            cases++;
            int expectDevice = -1;
            Found expected;
            for (size_t d = 0; d < devices.size() && expectDevice < 0; d++)
                if (ReferenceWalk(devices[d], 0, depth, false, -1, -1, 0, &expected) == 1) expectDevice = (int)d;
            SetConfig("SearchDepth", std::to_string(depth).c_str());
            std::vector<size_t> opensBefore;
            for (size_t d = 0; d < devices.size(); d++) opensBefore.push_back(DevsimOpens((int)d).size());
            Start();
            // Discovery stops at the device it keeps: the last one it opened.
            Found got;
            int gotDevice = -1;
            if (DevConnection.deviceUnavailable == 0) {
                for (size_t d = 0; d < devices.size(); d++)
                    if (DevsimOpens((int)d).size() > opensBefore[d]) gotDevice = (int)d;
                for (size_t n = 0; gotDevice >= 0 && n < devices[gotDevice].nodes.size(); n++) {
                    std::wstring id = DevsimObjectId(gotDevice, devices[gotDevice].nodes[n].simObject);
                    if (id == (const wchar_t *)DevConnection.RootFolderId) got.root = (int)n;
                    if (id == (const wchar_t *)DevConnection.AppFolderId) got.app = (int)n;
                    if (id == (const wchar_t *)DevConnection.InfoFileId) got.file = (int)n;
                }
            }
            Shutdown();
            foundCases += expectDevice >= 0;
            bool same = expectDevice == gotDevice && (expectDevice < 0 || expected == got);
            if (!same) {
                mismatches++;
                const Tree *t = &devices[expectDevice >= 0 ? expectDevice : 0];
                ADD_FAILURE() << "the full walk finds the settings file " << Describe(*t, expected.file) << " in "
                              << Describe(*t, expected.app) << " on device " << expectDevice
                              << "; the layer found " << Describe(devices[gotDevice >= 0 ? gotDevice : 0], got.file)
                              << " on device " << gotDevice;
            }
        }
    }
    std::cout << "[ compare  ] " << trees << " generated trees, " << cases << " cases (SearchDepth -1 to 6), "
              << foundCases << " with a settings file to find" << std::endl;
    EXPECT_GT(foundCases, cases / 5) << "the generator should put a findable settings file in many cases";
}

}  // namespace
