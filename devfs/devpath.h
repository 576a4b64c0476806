// Pure helpers for device paths, names and search patterns: no COM, no Win32 beyond
// types, so that they also build natively for sanitizers and fuzzing.
#ifndef TESSALY_DEVPATH_H
#define TESSALY_DEVPATH_H

#include <stddef.h>

#ifdef _WIN32
#include <windows.h>
typedef WCHAR DevWChar;
#else
typedef unsigned short DevWChar;   // UTF-16 unit, as on Windows
#endif

enum { DEVPATH_CHARS = 260 };

// A path split the way the C runtime's _splitpath splits it.
struct DevPathParts {
    char drive[DEVPATH_CHARS];
    char dir[DEVPATH_CHARS];
    char base[DEVPATH_CHARS];
    char ext[DEVPATH_CHARS];
};

// Tells whether a byte is the lead byte of a double-byte character.
typedef int (*DevLeadByteTest)(unsigned char byte);

// Splits path (at most 259 characters, terminated) into parts; isLeadByte may be null
// for a single-byte code page. Returns 0 when the path is too long for the buffers.
int DevSplitPath(const char *path, DevPathParts *parts, DevLeadByteTest isLeadByte);

// Copies a device path into out (260 characters) with its leading '*' replaced by 'C',
// so that it splits like a local path. Returns 0 when it is no device path or too long.
int DevPrepareDevicePath(const char *devicePath, char *out);

// Length of a UTF-16 string.
size_t DevWideLength(const DevWChar *text);

// Name equality of device objects: same length, equal after folding A to Z only.
int DevNameEqual(const DevWChar *a, const DevWChar *b);

// A search pattern against a child's name: "*", an exact name, or '*' and a tail.
int DevPatternMatch(const DevWChar *pattern, const DevWChar *name);

#endif
