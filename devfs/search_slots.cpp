// The table of 256 device searches; slot i answers to the SearchHandle 0x4D545000 + i.
#include "devfs/devfs_internal.h"

static HANDLE HandleOfSlot(int index)
{
    return (HANDLE)(ULONG_PTR)(DEV_SEARCH_HANDLE_BASE + (DWORD)index);
}

// Takes the lowest free slot; the slot owns the enumerator from now on.
HANDLE DevSlotAllocate(IEnumPortableDeviceObjectIDs *enumerator, LPCWSTR pattern)
{
    for (int i = 0; i < DEV_SEARCH_SLOTS; i++) {
        SearchSlot *slot = &DevConnection.search[i];
        if (slot->inUse)
            continue;
        slot->inUse = 1;
        slot->enumerator = enumerator;
        lstrcpynW(slot->pattern, pattern, DEV_PATH_CHARS);
        return HandleOfSlot(i);
    }
    return INVALID_HANDLE_VALUE;
}

SearchSlot *DevSlotLookup(HANDLE handle)
{
    if (!DevIsSearchHandle(handle))
        return NULL;
    SearchSlot *slot = &DevConnection.search[(ULONG_PTR)handle & 0xFF];
    return slot->inUse ? slot : NULL;
}

static void ReleaseSlot(SearchSlot *slot)
{
    if (slot->enumerator != NULL)
        slot->enumerator->Release();
    slot->enumerator = NULL;
    slot->pattern[0] = 0;
    slot->inUse = 0;
}

// Releasing a foreign handle, a free slot, or anything while no device is open does nothing.
void DevSlotRelease(HANDLE handle)
{
    if (!DevIsSearchHandle(handle) || DevConnection.deviceUnavailable)
        return;
    ReleaseSlot(&DevConnection.search[(ULONG_PTR)handle & 0xFF]);
}

void DevSlotReleaseAll(void)
{
    for (int i = 0; i < DEV_SEARCH_SLOTS; i++)
        ReleaseSlot(&DevConnection.search[i]);
}
