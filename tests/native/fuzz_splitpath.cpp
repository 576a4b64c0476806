// libFuzzer target over the path splitter and the device-path preparation. The first input
// byte chooses the code page: even is single-byte, odd splits with a 932-like lead-byte test.
// The splitter must never write past its 260-character parts, and the parts must put the
// input back together whenever it fits.
#include "devpath_cases.h"
#include "fuzz_check.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static int Terminated(const char *buffer)
{
    return memchr(buffer, '\0', DEVPATH_CHARS) != NULL;
}

// Walks a name part from a character boundary the way the splitter does and tells where
// the last separator and the last dot that start a character are (-1 for none).
static void ScanName(const char *name, DevLeadByteTest lead, long *lastSeparator, long *lastDot)
{
    *lastSeparator = *lastDot = -1;
    for (long i = 0; name[i] != '\0'; i++) {
        unsigned char c = (unsigned char)name[i];
        if (lead != NULL && lead(c) && name[i + 1] != '\0')
            i++;
        else if (c == '\\' || c == '/')
            *lastSeparator = i;
        else if (c == '.')
            *lastDot = i;
    }
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    DevLeadByteTest lead = (data[0] & 1) ? DevCasesLead932 : NULL;

    // The string the caller hands in: exactly sized on the heap, terminated.
    char *path = (char *)malloc(size);
    memcpy(path, data + 1, size - 1);
    path[size - 1] = '\0';
    size_t length = strlen(path);

    DevPathParts *parts = (DevPathParts *)malloc(sizeof(DevPathParts));
    memset(parts, 0x5A, sizeof *parts);
    int ok = DevSplitPath(path, parts, lead);
    FUZZ_CHECK(Terminated(parts->drive) && Terminated(parts->dir) && Terminated(parts->base) &&
                   Terminated(parts->ext),
               "every part is terminated within its 260 characters");
    FUZZ_CHECK(ok == (length < DEVPATH_CHARS), "a path is split exactly when it fits the buffers");
    if (ok) {
        char joined[4 * DEVPATH_CHARS];
        snprintf(joined, sizeof joined, "%s%s%s%s", parts->drive, parts->dir, parts->base, parts->ext);
        FUZZ_CHECK(strcmp(joined, path) == 0, "drive + dir + base + ext gives back the path");
        size_t driveLength = strlen(parts->drive);
        FUZZ_CHECK(driveLength == 0 || (driveLength == 2 && parts->drive[1] == ':'),
                   "the drive is empty or a character and a colon");
        FUZZ_CHECK(driveLength == 2 || length < 2 || path[1] != ':',
                   "a colon in second place always makes a drive");

        // The name (base + ext) holds no separator that starts a character, and its only
        // such dot is the extension's first character.
        char name[2 * DEVPATH_CHARS];
        snprintf(name, sizeof name, "%s%s", parts->base, parts->ext);
        long lastSeparator, lastDot;
        ScanName(name, lead, &lastSeparator, &lastDot);
        FUZZ_CHECK(lastSeparator < 0, "no separator is left in base name or extension");
        size_t baseLength = strlen(parts->base);
        if (parts->ext[0] != '\0')
            FUZZ_CHECK(lastDot == (long)baseLength, "the extension starts at the last dot of the name");
        else
            FUZZ_CHECK(lastDot < 0, "a name with a dot has an extension");
        size_t dirLength = strlen(parts->dir);
        if (dirLength > 0)
            FUZZ_CHECK(parts->dir[dirLength - 1] == '\\' || parts->dir[dirLength - 1] == '/',
                       "a directory ends with its separator");
    } else {
        FUZZ_CHECK(parts->drive[0] == 0 && parts->dir[0] == 0 && parts->base[0] == 0 && parts->ext[0] == 0,
                   "a refused path leaves every part empty");
    }

    char *prepared = (char *)malloc(DEVPATH_CHARS);   // the layer's buffer size, no slack
    int isDevice = DevPrepareDevicePath(path, prepared);
    FUZZ_CHECK(isDevice == (path[0] == '*' && length < DEVPATH_CHARS),
               "only a fitting path with a leading star is prepared");
    if (isDevice)
        FUZZ_CHECK(prepared[0] == 'C' && strcmp(prepared + 1, path + 1) == 0,
                   "preparation changes the star to C and nothing else");

    free(prepared);
    free(parts);
    free(path);
    return 0;
}
