// Phantoms: the entry an Android server lists from an upload's object info on, which stays
// listed, empty and untouchable when the data never follows, until the phone is reconnected.
#include "devsim_internal.h"

int SimAddPhantom(int device, int parent, const SimObject &announced)
{
    DevsimLock lock;
    SimObject o = announced;
    o.data.clear();
    o.phantom = true;
    return SimAddObjectRaw(device, parent, o);
}

bool SimIsLivePhantom(int device, int object)
{
    DevsimLock lock;
    SimObject *o = SimFindObject(device, object);
    return o && !o->deleted && o->phantom;
}

void SimDropPhantom(int device, int object)
{
    DevsimLock lock;
    if (SimIsLivePhantom(device, object)) SimMarkDeleted(device, object);
}

void DevsimSetPhantoms(int device, bool on)
{
    DevsimLock lock;
    if (SimDevice *d = SimFindDevice(device)) d->phantoms = on;
}

bool DevsimIsPhantom(int device, int object) { return SimIsLivePhantom(device, object); }

// The server restarts and forgets every pending handle and edit; the files themselves stay, and
// the driver reads every size anew.
void DevsimReconnect(int device)
{
    DevsimLock lock;
    SimDevice *d = SimFindDevice(device);
    if (!d) return;
    for (size_t i = 0; i < d->objects.size(); i++) {
        SimDropPhantom(device, (int)i);
        SimObject &o = d->objects[i];
        o.editing = o.cut = o.sizeCached = false;
    }
}

int DevsimAddPhantom(int device, int parent, const wchar_t *name)
{
    SimObject o;
    o.hasName = name != nullptr;
    o.name = name ? name : L"";
    o.hasType = true;
    o.type = WPD_CONTENT_TYPE_UNSPECIFIED;
    return SimAddPhantom(device, parent, o);
}
