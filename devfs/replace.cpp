// The settings file on a device: read whole, replaced without ever leaving the device without a
// complete copy, and put back under its name when an interrupted replace left it elsewhere.
//
// R is the file's name as the device spells it, N is R".tessaly-new", O is R".tessaly-old".
// Every decision starts from one listing of the folder that sees all three. What the device
// holds after each step of a replace, and what the next run does if this one is killed there
// (its discovery takes a folder holding R, N or O for the app folder):
//
//   step                                  device holds   the next run
//   0  start                              R              uses R
//   1  delete leftovers N, O              R              uses R
//   2  create N: write, commit; read N    R N            uses R (old); its replace deletes N
//      back whole
//   3  rename R to O                      N O            renames N to R, reads it back, uses it (new)
//   4  rename N to R                      R O            uses R (new); its replace deletes O
//   5  read back both names and R whole,  R              uses R (new)
//      delete O
//
// R is missing from the moment step 3 acts until step 4 answers, busy waits included. A device
// that cannot rename refuses step 3 with ERROR_NOT_SUPPORTED or E_NOTIMPL (for the call or as
// the name's own result); every other failure is a failed write. Such a device goes on from R N
// (N already read back whole), and R is missing from the delete of 3' until 4' commits:
//   3' delete R                           N              creates R from N, reads it back, deletes N
//   4' create R: write, commit            R N            uses R (new); its replace deletes N
//   5' read R back whole, delete N        R              uses R (new)
// A replace that finds no R creates R, reads it back whole, and only then deletes N and O.
//
// Nothing is taken for the settings file, and no copy is deleted, because a listing names it:
// what decides is read whole first. A read counts only when it gives at least the object's stated
// size (a phone may state a size older than the file; fewer bytes is a cut), and an object without
// a stated size never counts. N and O are deleted only once R is known, in this run, to hold bytes
// at least as new as theirs: read whole, or renamed into place and read back whole. An R this run
// created that does not read back holding what it was made from is deleted again, never left for
// later reads. An object created but never committed may stay as a phantom (listed, size 0,
// unreadable, undeletable, holding its name until the handheld is reconnected): a phantom never
// reads whole, so no run takes it for the file and no copy beside a phantom R is deleted; a
// leftover that cannot be deleted ends the save with the device as it was.
//
// After a failure that follows a call that may have changed the device, Settle lists the folder
// and decides from what is there: R reading whole with the new bytes is done; R reading whole with
// the bytes this run last saw under R is the file as it was; R holding anything else may lack the
// settings, and every copy stays. Without R, N (else O) gets the real name back once it reads
// whole holding the new (else the old) bytes, or on a device that cannot rename R is written again
// and read back; the folder is looked at again, once more after the last repair. Only an R read
// back holding the new bytes lets the local copy go.
//
// Recovery, for a folder whose R is missing or does not read whole: reads take N, else O, the
// first that reads whole. In a read-write session, when R is missing and the newest leftover read
// whole (N, or O where there is no N), that leftover is renamed to R and its name, size and bytes
// read back (on a device that cannot rename, R is created from it and read back whole); only then
// do the older leftovers go. A newer leftover that did not read whole this time is kept, and the
// folder is left as it is. A read-only session reads the leftover as it is.
#include "devfs/devfs_internal.h"

static const WCHAR NewSuffix[] = L".tessaly-new";
static const WCHAR OldSuffix[] = L".tessaly-old";

enum { NAME_REAL, NAME_NEW, NAME_OLD, NAME_COUNT };
enum { SETTLE_REPAIRS = 3 };   // Settle looks once more after the last one

struct Replace {
    LPWSTR folder;                            // borrowed or owned, freed with DevFreeId
    WCHAR names[NAME_COUNT][DEV_PATH_CHARS];  // R, N, O
    WCHAR base[DEV_PATH_CHARS];               // R split into base name and extension
    WCHAR extension[DEV_PATH_CHARS];
    LPWSTR ids[NAME_COUNT];                   // as the folder was last listed
    ULONGLONG sizes[NAME_COUNT];
    HANDLE file;                              // the bytes wanted under R
    DWORD size;
    IPortableDeviceProperties *properties;    // the connection's service (borrowed), one value set for all renames
    IPortableDeviceValues *rename;
    int renames;                              // 1 the device renames, 0 it cannot, -1 not known
    DevDigest real;                           // what R held when last read whole in this run, if it was
    int changed;                              // a call that may have changed the device was made
};

static void StartReplace(Replace *rp)
{
    ZeroMemory(rp, sizeof *rp);
    rp->file = INVALID_HANDLE_VALUE;
    rp->renames = -1;
    DevDigestForget(&rp->real);
}

static void EndReplace(Replace *rp)
{
    DevFreeId(rp->folder);
    for (int i = 0; i < NAME_COUNT; i++)
        CoTaskMemFree(rp->ids[i]);
    if (rp->file != INVALID_HANDLE_VALUE)
        CloseHandle(rp->file);
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

// Where R, N and O are now, and their sizes: one pass over the folder, which fails when some
// child gives no name, since that child might be one of them. realName (when asked) gets R's
// spelling.
static HRESULT ListFolder(Replace *rp, LPWSTR *realName)
{
    LPWSTR realNames[NAME_COUNT];
    const LPCWSTR names[NAME_COUNT] = { rp->names[NAME_REAL], rp->names[NAME_NEW], rp->names[NAME_OLD] };
    for (int i = 0; i < NAME_COUNT; i++) {
        CoTaskMemFree(rp->ids[i]);
        rp->ids[i] = NULL;
    }
    HRESULT hr = FindChildrenByName(rp->folder, names, NAME_COUNT, rp->ids, realName != NULL ? realNames : NULL,
                                    rp->sizes);
    if (realName != NULL && SUCCEEDED(hr)) {
        *realName = realNames[NAME_REAL];
        CoTaskMemFree(realNames[NAME_NEW]);
        CoTaskMemFree(realNames[NAME_OLD]);
    }
    return hr;
}

// Resolves the folder and lists R, N and O in it. Reads only.
static HRESULT OpenFolder(Replace *rp, LPCSTR devicePath)
{
    char prepared[DEV_PATH_CHARS];
    char baseName[DEV_PATH_CHARS];
    char extension[DEV_PATH_CHARS];
    WCHAR wideBase[DEV_PATH_CHARS];
    WCHAR wideExtension[DEV_PATH_CHARS];
    if (!DevPrepareDevicePath(devicePath, prepared))
        return E_FAIL;
    HRESULT hr = ResolveParentFolder(prepared, &rp->folder, baseName, extension);
    if (FAILED(hr))
        return hr == DEV_E_NO_SUCH_OBJECT ? E_FAIL : hr;   // no folder: not a file known to be missing
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

static HRESULT OpenLocal(Replace *rp, LPCWSTR localPath)
{
    rp->file = OpenUploadSource(localPath, &rp->size);
    return rp->file == INVALID_HANDLE_VALUE ? E_FAIL : S_OK;
}

static HRESULT RenameServices(Replace *rp)
{
    HRESULT hr = S_OK;
    if (rp->properties == NULL)
        hr = DevPropertiesService(&rp->properties);
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

// Whether object id is now named names[which] on the device, and as big as size where both
// that and the device's size are known.
static int NameIs(Replace *rp, LPCWSTR id, int which, ULONGLONG size)
{
    LPWSTR name = NULL;
    ULONGLONG actual = DEV_SIZE_UNKNOWN;
    HRESULT hr = id != NULL ? RenameServices(rp) : E_FAIL;
    if (SUCCEEDED(hr))
        hr = size == DEV_SIZE_UNKNOWN
                 ? GetObjectStringProperty(rp->properties, id, WPD_OBJECT_ORIGINAL_FILE_NAME, &name)
                 : GetObjectNameAndSize(rp->properties, id, &name, &actual);
    int same = SUCCEEDED(hr) && name != NULL && DevNameEqual(name, rp->names[which]) &&
               (actual == DEV_SIZE_UNKNOWN || actual == size);
    CoTaskMemFree(name);
    return same;
}

// A new object named names[which] holding the whole local file; *newId (when asked) its id.
static HRESULT CreateObject(Replace *rp, int which, LPWSTR *newId)
{
    IPortableDeviceValues *values = NULL;
    rp->changed = 1;
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

// Whether the object id holds exactly the local file's bytes, read whole.
static int HoldsLocalFile(Replace *rp, LPCWSTR id)
{
    return id != NULL && CompareObjectWithFile(DevConnection.content, id, rp->size, rp->file) == S_OK;
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

// The leftovers, once R is known to hold bytes at least as new as theirs. One that stays is
// removed by a later replace.
static void DeleteLeftovers(Replace *rp)
{
    DeleteListed(rp, NAME_NEW);
    DeleteListed(rp, NAME_OLD);
}

// Creates R from the local file and reads it back whole. An R that does not read back holding
// the local file is deleted again: later reads prefer R, and must never find a doubtful one.
static HRESULT CreateReal(Replace *rp)
{
    LPWSTR realId = NULL;
    HRESULT hr = CreateObject(rp, NAME_REAL, &realId);
    if (SUCCEEDED(hr) && realId == NULL && SUCCEEDED(ListFolder(rp, NULL)) && rp->ids[NAME_REAL] != NULL) {
        realId = rp->ids[NAME_REAL];   // the device did not tell its id: the folder does
        rp->ids[NAME_REAL] = NULL;
    }
    if (SUCCEEDED(hr) && !HoldsLocalFile(rp, realId)) {
        hr = E_FAIL;   // the folder tells what happened
        if (realId != NULL)
            DeleteObject(realId);
    }
    CoTaskMemFree(realId);
    return hr;
}

// Steps 3' to 5', once the device has refused to rename: R goes only once N was read back
// holding the new bytes, and N stays until the new R is read back.
static HRESULT ReplaceWithoutRenaming(Replace *rp, LPCWSTR newId)
{
    HRESULT hr = DeleteListed(rp, NAME_REAL);
    if (SUCCEEDED(hr))
        hr = CreateReal(rp);
    if (SUCCEEDED(hr))
        DeleteObject(newId);   // N was never renamed, so its id still names it
    return hr;
}

// Steps 1 to 5 over an existing R. S_OK only when the new file is known to be under R.
static HRESULT ReplaceExisting(Replace *rp)
{
    // R never read in this run is read first, so that a failure can tell whether it is as it
    // was. Leftovers beside it may be the only complete copy: R must read whole before they go.
    // A phantom R never does, and the save ends with nothing changed.
    HRESULT hr = S_OK;
    if (!DevDigestKnown(&rp->real))
        hr = CompareObjectWithFile(DevConnection.content, rp->ids[NAME_REAL], rp->sizes[NAME_REAL], rp->file,
                                   &rp->real);
    if (FAILED(hr) && (rp->ids[NAME_NEW] != NULL || rp->ids[NAME_OLD] != NULL))
        return hr;
    // Names this run needs, held by an earlier one. One that cannot go (a phantom, until the
    // handheld is reconnected) ends the save with the device as it was.
    hr = DeleteListed(rp, NAME_NEW);
    if (SUCCEEDED(hr))
        hr = DeleteListed(rp, NAME_OLD);
    if (FAILED(hr))
        return hr;
    LPWSTR newId = NULL;
    hr = CreateObject(rp, NAME_NEW, &newId);
    // Without its id N cannot be renamed, and a commit's answer is no proof of its bytes: N is
    // read back whole before R is touched. The folder tells what to do otherwise.
    if (SUCCEEDED(hr) && !HoldsLocalFile(rp, newId))
        hr = E_FAIL;
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
    // names, lose the file: the names are asked back, and R read back whole, before the old
    // object goes.
    if (SUCCEEDED(hr) && !(NameIs(rp, newId, NAME_REAL, rp->size) && NameIs(rp, rp->ids[NAME_REAL], NAME_OLD, DEV_SIZE_UNKNOWN) &&
                           HoldsLocalFile(rp, newId)))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        DeleteListed(rp, NAME_REAL);   // the old file, now under O; should it stay, the next replace removes it
    CoTaskMemFree(newId);
    return hr;
}

// R was not there: create it and read it back; only then may what an interrupted replace left go.
static HRESULT ReplaceMissing(Replace *rp)
{
    HRESULT hr = CreateReal(rp);
    if (SUCCEEDED(hr))
        DeleteLeftovers(rp);
    return hr;
}

// Whether the leftover under names[which] reads whole holding what it should to take R's place:
// the new bytes under N, the bytes this run last saw under R under O.
static int LeftoverHolds(Replace *rp, int which)
{
    DevDigest seen;
    HRESULT hr = CompareObjectWithFile(DevConnection.content, rp->ids[which], rp->sizes[which], rp->file, &seen);
    return which == NAME_NEW ? hr == S_OK : SUCCEEDED(hr) && DevDigestEqual(&seen, &rp->real);
}

// After a failure: the outcome from what the folder holds, repairing a missing R on the way.
// A look that fails is taken again in the next round: the device may have been busy only.
static HRESULT Settle(Replace *rp, ReplaceOutcome *outcome)
{
    *outcome = REPLACE_MAY_LACK;   // until the device is seen holding R
    for (int look = 0;; look++) {
        HRESULT hr = ListFolder(rp, NULL);
        if (SUCCEEDED(hr) && rp->ids[NAME_REAL] != NULL) {
            // R decides only when it reads whole: the new bytes are done, the bytes this run
            // started from are the file as it was, and anything else keeps every copy.
            DevDigest seen;
            hr = CompareObjectWithFile(DevConnection.content, rp->ids[NAME_REAL], rp->sizes[NAME_REAL], rp->file,
                                       &seen);
            if (hr == S_OK || (hr == S_FALSE && DevDigestEqual(&seen, &rp->real))) {
                *outcome = hr == S_OK ? REPLACE_DONE : REPLACE_AS_IT_WAS;
                DeleteLeftovers(rp);   // beside a complete R, they only get in the way
                return hr == S_OK ? S_OK : E_FAIL;
            }
            if (hr == S_FALSE)
                return E_FAIL;
        } else if (SUCCEEDED(hr)) {
            int source = rp->ids[NAME_NEW] != NULL ? NAME_NEW : rp->ids[NAME_OLD] != NULL ? NAME_OLD : -1;
            if (source < 0)
                return E_FAIL;   // the device holds nothing: only the local copy has the settings
            if (look < SETTLE_REPAIRS) {
                if (rp->renames != 0 && LeftoverHolds(rp, source) &&
                    IsDefiniteRefusal(RenameObject(rp, rp->ids[source], NAME_REAL)))
                    rp->renames = 0;
                if (rp->renames == 0)
                    CreateReal(rp);
            }
        }
        if (look == SETTLE_REPAIRS)
            return E_FAIL;
    }
}

HRESULT ReplaceDeviceFile(LPCSTR localPath, LPCSTR devicePath, DevDigest *real, int createOnly,
                          ReplaceOutcome *outcome)
{
    Replace rp;
    WCHAR wideLocal[DEV_PATH_CHARS];
    StartReplace(&rp);
    rp.real = *real;
    HRESULT hr = DevToWide(localPath, wideLocal) ? OpenLocal(&rp, wideLocal) : E_FAIL;
    if (SUCCEEDED(hr))
        hr = OpenFolder(&rp, devicePath);
    if (SUCCEEDED(hr) && createOnly && (rp.ids[NAME_REAL] != NULL || rp.ids[NAME_NEW] != NULL || rp.ids[NAME_OLD] != NULL))
        hr = HRESULT_FROM_WIN32(ERROR_FILE_EXISTS);   // a create never replaces anything
    else if (SUCCEEDED(hr) && createOnly)
        hr = CreateReal(&rp);
    else if (SUCCEEDED(hr))
        hr = rp.ids[NAME_REAL] != NULL ? ReplaceExisting(&rp) : ReplaceMissing(&rp);
    // Untouched, the device holds what it held: as it was where R was read whole in this run.
    *outcome = DevDigestKnown(&rp.real) ? REPLACE_AS_IT_WAS : REPLACE_MAY_LACK;
    if (SUCCEEDED(hr))
        *outcome = REPLACE_DONE;
    else if (rp.changed && !createOnly)
        hr = Settle(&rp, outcome);
    // What R holds now, for the next write of this run: the local file, or what it held before.
    if (*outcome == REPLACE_DONE)
        DevDigestOfFile(rp.file, real);
    else if (*outcome == REPLACE_AS_IT_WAS)
        *real = rp.real;
    else
        DevDigestForget(real);
    EndReplace(&rp);
    return hr;
}

// R was missing and source, the newest leftover, was read whole into the local file: it takes the
// real name back. S_OK only when R is then read back holding it; the older leftover goes only then.
static HRESULT Recover(Replace *rp, int source, LPCWSTR localPath)
{
    HRESULT hr = OpenLocal(rp, localPath);
    if (SUCCEEDED(hr))
        hr = RenameObject(rp, rp->ids[source], NAME_REAL);
    if (IsDefiniteRefusal(hr)) {
        hr = CreateReal(rp);
        if (SUCCEEDED(hr))
            DeleteLeftovers(rp);
        return hr;
    }
    // Devices that give renamed objects other ids do not say here; the next write reads R whole.
    if (SUCCEEDED(hr) &&
        !(NameIs(rp, rp->ids[source], NAME_REAL, rp->sizes[source]) && HoldsLocalFile(rp, rp->ids[source])))
        hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        CoTaskMemFree(rp->ids[source]);
        rp->ids[source] = NULL;
        DeleteLeftovers(rp);
    }
    return hr;
}

HRESULT ReadDeviceFile(LPCSTR devicePath, LPCSTR localPath, int recover, DevDigest *real)
{
    Replace rp;
    WCHAR wideLocal[DEV_PATH_CHARS];
    DevDigest seen;
    StartReplace(&rp);
    DevDigestForget(real);
    HRESULT hr = DevToWide(localPath, wideLocal) ? OpenFolder(&rp, devicePath) : E_FAIL;
    if (SUCCEEDED(hr)) {
        // Only a folder that holds none of the three names lacks the file.
        hr = DEV_E_NO_SUCH_OBJECT;
        int source = -1;
        for (int i = NAME_REAL; source < 0 && i < NAME_COUNT; i++) {
            if (rp.ids[i] == NULL)
                continue;
            hr = DownloadObject(DevConnection.content, rp.ids[i], rp.sizes[i], wideLocal, &seen);
            if (SUCCEEDED(hr))
                source = i;
        }
        if (source == NAME_REAL)
            *real = seen;
        // Only the newest leftover may take R's place: an N that did not read whole this time
        // is kept, and with it the folder as it is.
        int newest = rp.ids[NAME_NEW] != NULL ? NAME_NEW : NAME_OLD;
        if (source == newest && recover && rp.ids[NAME_REAL] == NULL && SUCCEEDED(Recover(&rp, source, wideLocal)))
            *real = seen;
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
