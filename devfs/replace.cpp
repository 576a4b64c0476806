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
// Where the phone lists Android's edit operations (or will not say) and R's id maps to an MTP
// handle that checks, a save rewrites R in place instead, so that R keeps its object, its id and
// its owner: on current Android a new object under R is the MTP service's, and an app with scoped
// storage can no longer open it. After step 1:
//   e1 create O from what R holds, read    R O            uses R (old); its replace deletes O
//      it back whole
//   e2 create N, read it back whole        R O N          uses R, which reads as O (old); its
//                                                         replace deletes N and O
//   e3 BeginEditObject, TruncateObject     R(cut) O N     rolls forward: rewrites R from N in
//      to 0                                               place, reads it back, deletes N and O
//   e4 SendPartialObject, all the bytes    R O N          uses R, which reads as N (new); its
//                                                         replace deletes N and O
//   e5 EndEditObject, read R back through  R              uses R (new)
//      the pass-through; delete N and O
// R is not complete from the truncate of e3 until the SendPartialObject of e4 ends: two requests.
// Beside both N and O, R counts only when it reads as one of them; any other R is an edit cut
// short, rolled forward from N (in place where the phone lets it, else N takes R's name). A phone
// that refuses the edit before anything was cut (no pass-through, the operations not listed, a
// handle that does not check, the operation not supported) saves by the replace from step 3, O
// deleted again and N kept; any other failure before the cut fails the save with R as it was. A
// failure once R may be cut rewrites it from N in place once more; should that fail too, R is
// deleted and N takes its name (or, on a device that cannot rename, R is written again), and O
// goes only once R reads back holding the new bytes. A driver may keep stating R's old size after
// an edit until the phone is reconnected: a read of R that falls short of it asks the phone for
// R's size. An edit that a killed run left open is ended before a new one begins.
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

// A new object named names[which] holding the whole of a local file (the one with the bytes
// wanted under R, unless another is given); *newId (when asked) its id.
static HRESULT CreateObject(Replace *rp, int which, LPWSTR *newId, HANDLE file = INVALID_HANDLE_VALUE, DWORD size = 0)
{
    IPortableDeviceValues *values = NULL;
    if (file == INVALID_HANDLE_VALUE) {
        file = rp->file;
        size = rp->size;
    }
    rp->changed = 1;
    HRESULT hr = BuildObjectProperties(rp->folder, rp->base, rp->extension, size, 0, &values);
    // Built for R, so that an image stays one; only the file name differs under N.
    if (SUCCEEDED(hr) && which != NAME_REAL)
        hr = values->SetStringValue(WPD_OBJECT_ORIGINAL_FILE_NAME, rp->names[which]);
    if (SUCCEEDED(hr))
        hr = WriteNewObject(DevConnection.content, values, file, newId);
    if (values != NULL)
        values->Release();
    return hr;
}

// R read whole, into a local file (downloadTo) or against the one with the new bytes: by the size
// the listing stated, or, when the bytes fall short of it, by the size the device states now. A
// driver keeps stating a file's size from before an in-place edit until the phone is reconnected.
static HRESULT ReadReal(Replace *rp, LPCWSTR downloadTo, DevDigest *seen)
{
    for (int attempt = 0;; attempt++) {
        HRESULT hr = downloadTo != NULL
                         ? DownloadObject(DevConnection.content, rp->ids[NAME_REAL], rp->sizes[NAME_REAL], downloadTo, seen)
                         : CompareObjectWithFile(DevConnection.content, rp->ids[NAME_REAL], rp->sizes[NAME_REAL],
                                                 rp->file, seen);
        DWORD handle = 0;
        ULONGLONG size = DEV_SIZE_UNKNOWN;
        if (hr != DEV_E_INCOMPLETE || attempt > 0 ||
            FAILED(MtpHandleOf(rp->ids[NAME_REAL], rp->names[NAME_REAL], &handle)) ||
            FAILED(MtpObjectSize(handle, &size)) || size == rp->sizes[NAME_REAL])
            return hr;
        rp->sizes[NAME_REAL] = size;
    }
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

// Answers of the edit path that say this device cannot rewrite R in place, rather than that a
// request failed: today's replace then does the save.
static int CannotEdit(HRESULT hr)
{
    return IsDefiniteRefusal(hr) || hr == DEV_E_MTP_NOT_A_HANDLE || hr == DEV_E_MTP_HANDLE_MISMATCH ||
           hr == DEV_E_MTP_RESPONSE(0x2005) || hr == DEV_E_MTP_RESPONSE(0x2009);
}

// R's MTP handle where the device lists Android's edit operations (or will not say) and R's id
// maps to a handle that checks.
static HRESULT EditHandle(Replace *rp, DWORD *handle)
{
    *handle = 0;
    if (MtpEditOperations() == MTP_EDIT_NOT_LISTED)
        return E_NOTIMPL;
    return MtpHandleOf(rp->ids[NAME_REAL], rp->names[NAME_REAL], handle);
}

// R rewritten in place with the new bytes and read back through the pass-through, not by the
// driver's cached size: a phone may answer OK and keep R short or stale (growing in place is
// unreliable on some). *touched: R may have been cut.
static HRESULT EditReal(Replace *rp, DWORD handle, int *touched)
{
    HRESULT hr = MtpRewriteInPlace(handle, rp->file, rp->size, touched);
    if (SUCCEEDED(hr) && MtpReadObject(handle, rp->file, TRUE, NULL) != S_OK)
        hr = E_FAIL;
    return hr;
}

// O, a new object holding what R holds now, read back whole.
static HRESULT CopyRealAside(Replace *rp)
{
    char path[DEV_PATH_CHARS];
    WCHAR widePath[DEV_PATH_CHARS];
    HANDLE file = INVALID_HANDLE_VALUE;
    DWORD size = 0;
    HRESULT hr = DevNewTemporaryFile(path) && DevToWide(path, widePath) ? ReadReal(rp, widePath, NULL) : E_FAIL;
    if (SUCCEEDED(hr)) {
        file = OpenUploadSource(widePath, &size);
        hr = file != INVALID_HANDLE_VALUE ? CreateObject(rp, NAME_OLD, &rp->ids[NAME_OLD], file, size) : E_FAIL;
    }
    if (SUCCEEDED(hr) && (rp->ids[NAME_OLD] == NULL ||
                          CompareObjectWithFile(DevConnection.content, rp->ids[NAME_OLD], size, file) != S_OK))
        hr = E_FAIL;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    if (path[0] != '\0')
        DeleteFileA(path);
    return hr;
}

// R, cut by an edit, gives its name to N, which holds the new bytes (on a device that cannot
// rename, R is written again and read back); O keeps the old bytes until then.
static HRESULT ReplaceFromNew(Replace *rp)
{
    HRESULT hr = DeleteListed(rp, NAME_REAL);
    if (SUCCEEDED(hr))
        hr = RenameObject(rp, rp->ids[NAME_NEW], NAME_REAL);
    if (IsDefiniteRefusal(hr))
        return CreateReal(rp);
    if (SUCCEEDED(hr) && !(NameIs(rp, rp->ids[NAME_NEW], NAME_REAL, rp->size) && HoldsLocalFile(rp, rp->ids[NAME_NEW])))
        hr = E_FAIL;
    if (SUCCEEDED(hr)) {
        CoTaskMemFree(rp->ids[NAME_NEW]);   // it names R now
        rp->ids[NAME_NEW] = NULL;
    }
    return hr;
}

// R, which an edit may have cut, rewritten from N, whose bytes the local file holds: in place
// once more where the phone lets it (handle 0: not looked up yet), else by giving N its name. An
// attempt that fails before it cut anything leaves the folder for a later look.
static HRESULT RewriteFromNew(Replace *rp, DWORD handle)
{
    int touched = 0;
    HRESULT hr = handle != 0 ? S_OK : EditHandle(rp, &handle);
    if (SUCCEEDED(hr))
        hr = EditReal(rp, handle, &touched);
    if (FAILED(hr) && (CannotEdit(hr) || touched))
        hr = ReplaceFromNew(rp);
    return hr;
}

// Steps e1 to e5, the save by an in-place edit, which keeps R's object, id and owner: O and N
// are made and read back whole before R is touched, R is rewritten and read back, and only then
// do N and O go. A failure once R may be cut rewrites it from N, in place where the phone still
// lets it, else by giving N its name. S_FALSE: the device cannot edit R, nothing was cut, O is
// gone again and N is ready for the renames.
static HRESULT ReplaceInPlace(Replace *rp, DWORD handle)
{
    int touched = 0;
    HRESULT hr = CopyRealAside(rp);
    if (SUCCEEDED(hr))
        hr = CreateObject(rp, NAME_NEW, &rp->ids[NAME_NEW]);
    if (SUCCEEDED(hr) && !HoldsLocalFile(rp, rp->ids[NAME_NEW]))
        hr = E_FAIL;
    if (SUCCEEDED(hr))
        hr = EditReal(rp, handle, &touched);
    if (FAILED(hr) && !touched && rp->ids[NAME_NEW] != NULL && CannotEdit(hr))
        return SUCCEEDED(DeleteListed(rp, NAME_OLD)) ? S_FALSE : E_FAIL;
    if (FAILED(hr) && touched)
        hr = RewriteFromNew(rp, handle);
    if (SUCCEEDED(hr))
        DeleteLeftovers(rp);
    return hr;
}

// Steps 1 to 5 over an existing R. S_OK only when the new file is known to be under R.
static HRESULT ReplaceExisting(Replace *rp)
{
    // R never read in this run is read first, so that a failure can tell whether it is as it
    // was. Leftovers beside it may be the only complete copy: R must read whole before they go,
    // and beside both, an edit may have cut it, which no read of R alone can tell (the run's
    // read rolls it forward). A phantom R never reads whole. The save ends with nothing changed.
    HRESULT hr = S_OK;
    if (!DevDigestKnown(&rp->real)) {
        hr = ReadReal(rp, NULL, &rp->real);
        if (rp->ids[NAME_NEW] != NULL && rp->ids[NAME_OLD] != NULL && SUCCEEDED(hr)) {
            hr = E_FAIL;
            DevDigestForget(&rp->real);   // not known to be as it was either
        }
    }
    if (FAILED(hr) && (rp->ids[NAME_NEW] != NULL || rp->ids[NAME_OLD] != NULL))
        return hr;
    // Names this run needs, held by an earlier one. One that cannot go (a phantom, until the
    // handheld is reconnected) ends the save with the device as it was.
    hr = DeleteListed(rp, NAME_NEW);
    if (SUCCEEDED(hr))
        hr = DeleteListed(rp, NAME_OLD);
    if (FAILED(hr))
        return hr;
    // In place where the phone can: a new object under R is no longer the app's own on current
    // Android. A device that could not say whether it can fails the save with nothing changed.
    DWORD handle = 0;
    hr = EditHandle(rp, &handle);
    if (FAILED(hr) && !CannotEdit(hr))
        return hr;
    if (SUCCEEDED(hr) && (hr = ReplaceInPlace(rp, handle)) != S_FALSE)
        return hr;
    LPWSTR newId = rp->ids[NAME_NEW];   // made and read back by the edit path, or not yet
    rp->ids[NAME_NEW] = NULL;
    if (newId == NULL) {
        // Without its id N cannot be renamed, and a commit's answer is no proof of its bytes: N
        // is read back whole before R is touched. The folder tells what to do otherwise.
        hr = CreateObject(rp, NAME_NEW, &newId);
        if (SUCCEEDED(hr) && !HoldsLocalFile(rp, newId))
            hr = E_FAIL;
    }
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
            hr = ReadReal(rp, NULL, &seen);
            if (hr == S_OK || (hr == S_FALSE && DevDigestEqual(&seen, &rp->real))) {
                *outcome = hr == S_OK ? REPLACE_DONE : REPLACE_AS_IT_WAS;
                DeleteLeftovers(rp);   // beside a complete R, they only get in the way
                return hr == S_OK ? S_OK : E_FAIL;
            }
            // Beside both copies R is cut by an edit: rewritten from N, once N reads as the new bytes.
            if (hr == S_FALSE && look < SETTLE_REPAIRS && rp->ids[NAME_NEW] != NULL && rp->ids[NAME_OLD] != NULL &&
                LeftoverHolds(rp, NAME_NEW)) {
                RewriteFromNew(rp, 0);
                continue;
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

// Whether the bytes just read into the local file are what N or O holds, each read whole.
static int ReadsAsLeftover(Replace *rp, LPCWSTR localPath)
{
    DWORD size = 0;
    HANDLE file = OpenUploadSource(localPath, &size);
    int same = 0;
    for (int which = NAME_NEW; file != INVALID_HANDLE_VALUE && !same && which <= NAME_OLD; which++)
        same = CompareObjectWithFile(DevConnection.content, rp->ids[which], rp->sizes[which], file) == S_OK;
    if (file != INVALID_HANDLE_VALUE)
        CloseHandle(file);
    return same;
}

// R was cut by an edit that did not end, and N, read whole into the local file, holds the new
// bytes: R is rewritten from it, in place where the phone lets it, else N takes its name. S_OK
// only when R then reads back holding them; N and O go only then.
static HRESULT RollForward(Replace *rp, LPCWSTR localPath)
{
    DWORD handle = 0;
    int touched = 0;
    HRESULT hr = OpenLocal(rp, localPath);
    if (SUCCEEDED(hr))
        hr = EditHandle(rp, &handle);
    if (SUCCEEDED(hr))
        hr = EditReal(rp, handle, &touched);
    if (FAILED(hr) && (CannotEdit(hr) || touched))
        hr = RewriteFromNew(rp, touched ? handle : 0);
    if (SUCCEEDED(hr))
        DeleteLeftovers(rp);
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
        // Only a folder that holds none of the three names lacks the file. R beside both
        // leftovers is a file an edit may have cut: it counts only when it reads as one of them.
        int edited = rp.ids[NAME_REAL] != NULL && rp.ids[NAME_NEW] != NULL && rp.ids[NAME_OLD] != NULL;
        hr = DEV_E_NO_SUCH_OBJECT;
        int source = -1;
        for (int i = NAME_REAL; source < 0 && i < NAME_COUNT; i++) {
            if (rp.ids[i] == NULL)
                continue;
            hr = i == NAME_REAL ? ReadReal(&rp, wideLocal, &seen)
                                : DownloadObject(DevConnection.content, rp.ids[i], rp.sizes[i], wideLocal, &seen);
            if (SUCCEEDED(hr) && i == NAME_REAL && edited && !ReadsAsLeftover(&rp, wideLocal))
                hr = DEV_E_INCOMPLETE;
            if (SUCCEEDED(hr))
                source = i;
        }
        if (source == NAME_REAL)
            *real = seen;
        // Only the newest leftover may take R's place: an N that did not read whole this time
        // is kept, and with it the folder as it is.
        int newest = rp.ids[NAME_NEW] != NULL ? NAME_NEW : NAME_OLD;
        if (source == newest && recover &&
            SUCCEEDED(rp.ids[NAME_REAL] == NULL ? Recover(&rp, source, wideLocal) : edited ? RollForward(&rp, wideLocal) : E_FAIL))
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
