// Listings a device refuses: Android lists only containers, and some folders fail on every
// listing whatever is asked.
#include "devsim_internal.h"

HRESULT SimListingRefusal(int device, int object)
{
    DevsimLock lock;
    const SimDevice *d = SimFindDevice(device);
    const SimObject *o = SimFindObject(device, object);
    if (!d || !o) return HRESULT_FROM_WIN32(ERROR_NOT_FOUND);
    if (FAILED(o->listingFails)) return o->listingFails;
    if (!d->filesRefuseListing || object == DEVSIM_ROOT) return S_OK;
    bool container = o->hasType && (IsEqualGUID(o->type, WPD_CONTENT_TYPE_FUNCTIONAL_OBJECT) ||
                                     IsEqualGUID(o->type, WPD_CONTENT_TYPE_FOLDER));
    return container ? S_OK : HRESULT_FROM_WIN32(ERROR_INVALID_PARAMETER);
}

void DevsimSetFilesRefuseListing(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->filesRefuseListing = on;
}

void DevsimSetListingFails(int device, int object, HRESULT hr)
{
    DevsimLock lock;
    if (SimObject *o = SimFindObject(device, object)) o->listingFails = hr;
}
