// Replacing a device file without ever leaving the device without a complete copy of it, and
// recovering a file whose replace was interrupted.
//
// R is the file's name as the device spells it, N is R".tessaly-new", O is R".tessaly-old".
// An object exists on a device only once its stream is committed, so N and O, like R, are
// always complete files. What the device holds after each step, and what the next run does
// if this one is killed there (its discovery takes a folder holding R, N or O for the app
// folder, and R is put back before the file is first used):
//
//   step                                device holds   the next run
//   0  start                            R              uses R
//   1  delete leftovers N, O            R              uses R
//   2  create N: write, commit          R N            uses R (old); its replace deletes N
//   3  rename R to O                    N O            renames N to R and uses it (new)
//   4  rename N to R                    R O            uses R (new); its replace deletes O
//   5  check both names, delete O       R              uses R (new)
//
// R is missing only while the request of step 4 is under way. A device that cannot rename
// refuses step 3 with ERROR_NOT_SUPPORTED or E_NOTIMPL (for the call or as the name's own
// result); every other failure is a failed write. Such a device goes on from R N:
//   3' delete R                         N              copies N to R, deletes N, uses R (new)
//   4' create R: write, commit          R N            uses R (new); its replace deletes N
//   5' delete N                         R              uses R (new)
// When R is missing before the replace starts, R is simply created and leftovers then go.
//
// Nothing the device answers decides alone where data depends on it. Every rename's result
// for the name is read, the new object's id comes from its stream, and an id is checked by
// its name before it is used after a rename (devices may give renamed objects new ids, or
// derive ids from names). After a failure that follows a call that may have changed the
// device, Settle lists the folder and decides from what is there: R holding the new bytes is
// done; R holding other bytes is the old file; without R, N (else O) gets the real name back,
// or on a device that cannot rename R is written again, and the folder is looked at again.
// Only a device seen holding R lets the local copy go.
//
// Recovery, for a folder holding N or O but no R: reads take N, else O (ResolveFileOrLeftover),
// and the first read of a read-write session writes those bytes back under R, the way a
// replace does when R is missing: R is created, and only then do the leftovers go. A
// read-only session reads the leftover as it is.
#include "devfs/devfs_internal.h"

static const WCHAR NewSuffix[] = L".tessaly-new";
static const WCHAR OldSuffix[] = L".tessaly-old";

enum { NAME_REAL, NAME_NEW, NAME_OLD, NAME_COUNT };
enum { SETTLE_ROUNDS = 3 };   // looks at the folder after a failure, each after one repair

struct Replace {
    LPWSTR folder;                            // RootFolderId borrowed; owned when ownsFolder
    int ownsFolder;
    WCHAR names[NAME_COUNT][DEV_PATH_CHARS];  // R, N, O
    WCHAR base[DEV_PATH_CHARS];               // R split into base name and extension
    WCHAR extension[DEV_PATH_CHARS];
    LPWSTR ids[NAME_COUNT];                   // as the folder was last listed
    WCHAR localPath[DEV_PATH_CHARS];          // the bytes wanted under R
    HANDLE file;
    DWORD size;
    IPortableDeviceProperties *properties;    // one service and one value set for all renames
    IPortableDeviceValues *rename;
    int renames;                              // 1 the device renames, 0 it cannot, -1 not known
};

static void StartReplace(Replace *rp)
{
    ZeroMemory(rp, sizeof *rp);
    rp->file = INVALID_HANDLE_VALUE;
    rp->renames = -1;
}

static void EndReplace(Replace *rp)
{
    if (rp->ownsFolder)
        DevFreeId(rp->folder);
    for (int i = 0; i < NAME_COUNT; i++)
        CoTaskMemFree(rp->ids[i]);
    if (rp->file != INVALID_HANDLE_VALUE)
        CloseHandle(rp->file);
    if (rp->properties != NULL)
        rp->properties->Release();
    if (rp->rename != NULL)
        rp->rename->Release();
}

// Only these answers mean "this device cannot rename"; anything else is a write that failed.
static int IsDefiniteRefusal(HRESULT hr)
{
    return hr == HRESULT_FROM_WIN32(ERROR_NOT_SUPPORTED) || hr == E_NOTIMPL;
}

// R from its base name and extension, and N and O from R; 0 when they do not fit.
static int SetNames(Replace *rp, LPCWSTR base, LPCWSTR extension)
{
    size_t real = DevWideLength(base) + DevWideLength(extension);
    if (real == 0 || real + ARRAYSIZE(NewSuffix) > DEV_PATH_CHARS)
        return 0;
    lstrcpyW(rp->base, base);
    lstrcpyW(rp->extension, extension);
    lstrcpyW(rp->names[NAME_REAL], base);
    lstrcatW(rp->names[NAME_REAL], extension);
    lstrcpyW(rp->names[NAME_NEW], rp->names[NAME_REAL]);
    lstrcatW(rp->names[NAME_NEW], NewSuffix);
    lstrcpyW(rp->names[NAME_OLD], rp->names[NAME_REAL]);
    lstrcatW(rp->names[NAME_OLD], OldSuffix);
    return 1;
}

// Where R, N and O are now: one pass over the folder. realName (when asked) gets R's spelling.
static HRESULT ListFolder(Replace *rp, LPWSTR *realName)
{
    LPWSTR realNames[NAME_COUNT];
    const LPCWSTR names[NAME_COUNT] = { rp->names[NAME_REAL], rp->names[NAME_NEW], rp->names[NAME_OLD] };
    for (int i = 0; i < NAME_COUNT; i++) {
        CoTaskMemFree(rp->ids[i]);
        rp->ids[i] = NULL;
    }
    HRESULT hr = FindChildrenByName(rp->folder, names, NAME_COUNT, rp->ids, realName != NULL ? realNames : NULL);
    if (realName != NULL && SUCCEEDED(hr)) {
        *realName = realNames[NAME_REAL];
        CoTaskMemFree(realNames[NAME_NEW]);
        CoTaskMemFree(realNames[NAME_OLD]);
    }
    return hr;
}

static HRESULT RenameServices(Replace *rp)
{
    HRESULT hr = S_OK;
    if (rp->properties == NULL)
        hr = DevConnection.content->Properties(&rp->properties);
    if (SUCCEEDED(hr) && rp->rename == NULL)
        hr = CoCreateInstance(CLSID_PortableDeviceValues, NULL, CLSCTX_INPROC_SERVER, IID_IPortableDeviceValues,
                              (void **)&rp->rename);
    return hr;
}

// Gives object id the name names[to]: S_OK when the device says so for the name itself, else
// the device's reason (the call's, or the name's own result).
static HRESULT RenameObject(Replace *rp, LPCWSTR id, int to)
{
    HRESULT hr = RenameServices(rp);
    if (SUCCEEDED(hr))
        hr = rp->rename->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, rp->names[to]);
    if (SUCCEEDED(hr))
        hr = DevRetryBusy([&] {
            IPortableDeviceValues *results = NULL;
            HRESULT set = rp->properties->SetValues(id, rp->rename, &results);
            HRESULT nameResult = S_OK;
            if (SUCCEEDED(set) && results != NULL &&
                SUCCEEDED(results->GetErrorValue(WPD_OBJECT_ORIGINAL_FILE_NAME, &nameResult)) && FAILED(nameResult))
                set = nameResult;   // busy for the name: the device did nothing, ask again
            else if (set == S_FALSE)
                set = E_FAIL;   // some key was refused, and the answer does not say it was not the name
            if (results != NULL)
                results->Release();
            return set;
        });
    return hr;
}

// Whether object id is now named names[which] on the device.
static int NameIs(Replace *rp, LPCWSTR id, int which)
{
    LPWSTR name = NULL;
    int same = id != NULL && rp->properties != NULL &&
               SUCCEEDED(GetObjectStringProperty(rp->properties, id, WPD_OBJECT_ORIGINAL_FILE_NAME, &name)) &&
               name != NULL && DevNameEqual(name, rp->names[which]);
    CoTaskMemFree(name);
    return same;
}

// A new object named names[which] holding the whole local file; *newId (when asked) its id.
static HRESULT CreateObject(Replace *rp, int which, LPWSTR *newId)
{
    IPortableDeviceValues *values = NULL;
    HRESULT hr = BuildObjectProperties(rp->folder, rp->base, rp->extension, rp->size, 0, &values);
    // Built for R, so that an image stays one; only the file name differs under N.
    if (SUCCEEDED(hr) && which != NAME_REAL)
        hr = values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, rp->names[which]);
    if (SUCCEEDED(hr))
        hr = WriteNewObject(DevConnection.content, values, rp->file, newId);
    if (values != NULL)
        values->Release();
    return hr;
}

// Deletes what the last listing found under names[which], if anything.
static HRESULT DeleteListed(Replace *rp, int which)
{
    if (rp->ids[which] == NULL)
        return S_OK;
    HRESULT hr = DeleteObject(rp->ids[which]);
    if (SUCCEEDED(hr)) {
        CoTaskMemFree(rp->ids[which]);
        rp->ids[which] = NULL;
    }
    return hr;
}

// Steps 3' to 5', once the device has refused to rename: N stays until R is committed again.
static HRESULT ReplaceWithoutRenaming(Replace *rp, LPCWSTR newId)
{
    HRESULT hr = DeleteListed(rp, NAME_REAL);
    if (SUCCEEDED(hr))
        hr = CreateObject(rp, NAME_REAL, NULL);
    if (SUCCEEDED(hr))
        DeleteObject(newId);   // N was never renamed, so its id still names it; should it stay, the next replace removes it
    return hr;
}

// Steps 1 to 5 over an existing R. S_OK only when the new file is known to be under R.
static HRESULT ReplaceExisting(Replace *rp)
{
    LPWSTR newId = NULL;
    HRESULT hr = DeleteListed(rp, NAME_NEW);   // names this run needs, held by an earlier one
    if (SUCCEEDED(hr))
        hr = DeleteListed(rp, NAME_OLD);
    if (SUCCEEDED(hr))
        hr = CreateObject(rp, NAME_NEW, &newId);
    if (SUCCEEDED(hr) && newId == NULL)
        hr = E_FAIL;   // without its id N cannot be renamed; the folder tells what to do
    if (SUCCEEDED(hr)) {
        hr = RenameObject(rp, rp->ids[NAME_REAL], NAME_OLD);
        if (IsDefiniteRefusal(hr)) {
            rp->renames = 0;
            hr = ReplaceWithoutRenaming(rp, newId);
            CoTaskMemFree(newId);
            return hr;
        }
        if (SUCCEEDED(hr))
            rp->renames = 1;
    }
    if (SUCCEEDED(hr))
        hr = RenameObject(rp, newId, NAME_REAL);
    // Both answers taken at their word would let a lying device, or one whose ids follow
    // names, lose the file: the names are asked back before the old object goes.
    if (SUCCEEDED(hr) && !(NameIs(rp, newId, NAME_REAL) && NameIs(rp, rp->ids[NAME_REAL], NAME_OLD)))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        DeleteListed(rp, NAME_REAL);   // the old file, now under O; should it stay, the next replace removes it
    CoTaskMemFree(newId);
    return hr;
}

// R was not there: create it; what an interrupted replace left is stale once R is back.
static HRESULT CreateMissing(Replace *rp)
{
    HRESULT hr = CreateObject(rp, NAME_REAL, NULL);
    if (SUCCEEDED(hr)) {
        DeleteListed(rp, NAME_NEW);
        DeleteListed(rp, NAME_OLD);
    }
    return hr;
}

// After a failure: the outcome from what the folder holds, repairing a missing R on the way.
// A look that fails is taken again in the next round: the device may have been busy only.
static HRESULT Settle(Replace *rp, ReplaceOutcome *outcome)
{
    HRESULT hr = E_FAIL;
    *outcome = REPLACE_KEEP_COPY;   // until the device is seen holding R
    for (int round = 0; round < SETTLE_ROUNDS; round++) {
        hr = ListFolder(rp, NULL);
        if (FAILED(hr))
            continue;
        if (rp->ids[NAME_REAL] != NULL) {
            *outcome = REPLACE_UNCHANGED;   // R is complete, whatever it holds
            hr = CompareObjectWithFile(DevConnection.content, rp->ids[NAME_REAL], rp->file);
            if (FAILED(hr))
                continue;
            if (hr == S_OK)
                *outcome = REPLACE_DONE;
            DeleteListed(rp, NAME_NEW);   // beside a complete R, this run's leftovers only get in the way
            DeleteListed(rp, NAME_OLD);
            return hr == S_OK ? S_OK : E_FAIL;
        }
        *outcome = REPLACE_KEEP_COPY;
        int source = rp->ids[NAME_NEW] != NULL ? NAME_NEW : rp->ids[NAME_OLD] != NULL ? NAME_OLD : -1;
        if (source < 0)
            return E_FAIL;   // the device holds nothing: only the local copy has the settings
        if (rp->renames != 0 && IsDefiniteRefusal(RenameObject(rp, rp->ids[source], NAME_REAL)))
            rp->renames = 0;
        if (rp->renames == 0)
            CreateObject(rp, NAME_REAL, NULL);
        hr = E_FAIL;   // whatever the device answered, the next round looks
    }
    return FAILED(hr) ? hr : E_FAIL;
}

// Resolves the folder, lists R, N and O, opens the local file. Reads only.
static HRESULT PrepareReplace(Replace *rp, LPCSTR localPath, LPCSTR devicePath)
{
    char prepared[DEV_PATH_CHARS];
    char baseName[DEV_PATH_CHARS];
    char extension[DEV_PATH_CHARS];
    WCHAR wideBase[DEV_PATH_CHARS];
    WCHAR wideExtension[DEV_PATH_CHARS];
    if (!DevPrepareDevicePath(devicePath, prepared) || !DevToWide(localPath, rp->localPath))
        return E_FAIL;
    rp->file = OpenUploadSource(rp->localPath, &rp->size);
    if (rp->file == INVALID_HANDLE_VALUE)
        return E_FAIL;
    HRESULT hr = ResolveParentFolder(prepared, &rp->folder, baseName, extension);
    rp->ownsFolder = 1;
    if (FAILED(hr))
        return hr;
    if (!DevToWide(baseName, wideBase) || !DevToWide(extension, wideExtension) ||
        !SetNames(rp, wideBase, wideExtension))
        return E_FAIL;
    LPWSTR realName = NULL;
    hr = ListFolder(rp, &realName);
    // The file keeps the name the device has: only A to Z can differ, so the base name keeps
    // its length.
    if (SUCCEEDED(hr) && realName != NULL && DevWideLength(realName) == DevWideLength(rp->names[NAME_REAL])) {
        size_t baseLength = DevWideLength(wideBase);
        lstrcpynW(wideBase, realName, (int)baseLength + 1);
        SetNames(rp, wideBase, realName + baseLength);
    }
    CoTaskMemFree(realName);
    return hr;
}

HRESULT ReplaceDeviceFile(LPCSTR localPath, LPCSTR devicePath, ReplaceOutcome *outcome)
{
    Replace rp;
    StartReplace(&rp);
    *outcome = REPLACE_UNCHANGED;   // nothing is changed until the preparation is done
    HRESULT hr = PrepareReplace(&rp, localPath, devicePath);
    if (SUCCEEDED(hr)) {
        hr = rp.ids[NAME_REAL] != NULL ? ReplaceExisting(&rp) : CreateMissing(&rp);
        if (SUCCEEDED(hr))
            *outcome = REPLACE_DONE;
        else
            hr = Settle(&rp, outcome);
    }
    EndReplace(&rp);
    return hr;
}

int DevLeftoverName(LPCWSTR name, WCHAR *realName)
{
    static const WCHAR *const suffixes[] = { NewSuffix, OldSuffix };
    size_t length = DevWideLength(name);
    for (size_t i = 0; i < ARRAYSIZE(suffixes); i++) {
        size_t suffix = DevWideLength(suffixes[i]);
        if (length > suffix && length < DEV_PATH_CHARS && DevNameEqual(name + length - suffix, suffixes[i])) {
            lstrcpynW(realName, name, (int)(length - suffix) + 1);
            return 1;
        }
    }
    return 0;
}

HRESULT ResolveFileOrLeftover(LPCSTR path, LPWSTR *out)
{
    HRESULT hr = ResolveObjectId(path, out);
    if (hr != DEV_E_NO_SUCH_OBJECT)
        return hr;
    char baseName[DEV_PATH_CHARS];
    char extension[DEV_PATH_CHARS];
    WCHAR wideBase[DEV_PATH_CHARS];
    WCHAR wideExtension[DEV_PATH_CHARS];
    Replace rp;
    StartReplace(&rp);
    hr = ResolveParentFolder(path, &rp.folder, baseName, extension);
    rp.ownsFolder = 1;
    if (hr == DEV_E_NO_SUCH_OBJECT)
        hr = E_FAIL;   // no folder: not a file known to be missing
    if (SUCCEEDED(hr) && !(DevToWide(baseName, wideBase) && DevToWide(extension, wideExtension) &&
                           SetNames(&rp, wideBase, wideExtension)))
        hr = DEV_E_NO_SUCH_OBJECT;
    if (SUCCEEDED(hr))
        hr = ListFolder(&rp, NULL);
    if (SUCCEEDED(hr)) {
        // The complete new copy wins over the old one.
        int found = rp.ids[NAME_NEW] != NULL ? NAME_NEW : rp.ids[NAME_OLD] != NULL ? NAME_OLD : -1;
        if (found < 0) {
            hr = DEV_E_NO_SUCH_OBJECT;
        } else {
            *out = rp.ids[found];
            rp.ids[found] = NULL;
        }
    }
    EndReplace(&rp);
    return hr;
}
