// Device path splitting, name equality and search patterns: pure code, no COM.
#include "devfs/devpath.h"

#include <string.h>

// Copies [begin, end) into a 260-character buffer; the caller guarantees the fit.
static void CopyRange(char *out, const char *begin, const char *end)
{
    size_t n = (size_t)(end - begin);
    if (n >= DEVPATH_CHARS)
        n = DEVPATH_CHARS - 1;
    memcpy(out, begin, n);
    out[n] = '\0';
}

// Splits like the C runtime's _splitpath: drive is "X:" when the second character is a
// colon; the directory runs to the last separator; the extension starts at the last dot
// after it. A lead byte takes its trail byte with it, so a trail byte is never a separator.
int DevSplitPath(const char *path, DevPathParts *parts, DevLeadByteTest isLeadByte)
{
    parts->drive[0] = parts->dir[0] = parts->base[0] = parts->ext[0] = '\0';
    if (path == NULL || strnlen(path, DEVPATH_CHARS) >= DEVPATH_CHARS)
        return 0;

    const char *p = path;
    if (p[0] != '\0' && p[1] == ':') {
        CopyRange(parts->drive, p, p + 2);
        p += 2;
    }

    const char *nameStart = p;   // just after the last separator
    const char *lastDot = NULL;
    for (const char *q = p; *q != '\0'; q++) {
        unsigned char c = (unsigned char)*q;
        if (isLeadByte != NULL && isLeadByte(c) && q[1] != '\0') {
            q++;   // the trail byte belongs to this character
        } else if (c == '\\' || c == '/') {
            nameStart = q + 1;
        } else if (c == '.') {
            lastDot = q;
        }
    }

    const char *end = p + strlen(p);
    CopyRange(parts->dir, p, nameStart);
    if (lastDot != NULL && lastDot >= nameStart) {
        CopyRange(parts->base, nameStart, lastDot);
        CopyRange(parts->ext, lastDot, end);
    } else {
        CopyRange(parts->base, nameStart, end);
    }
    return 1;
}

int DevPrepareDevicePath(const char *devicePath, char *out)
{
    if (devicePath == NULL || devicePath[0] != '*')
        return 0;
    size_t n = strnlen(devicePath, DEVPATH_CHARS);
    if (n >= DEVPATH_CHARS)
        return 0;   // longer than any buffer of the layer: treated as unresolvable
    memcpy(out, devicePath, n + 1);
    out[0] = 'C';
    return 1;
}

size_t DevWideLength(const DevWChar *text)
{
    size_t n = 0;
    while (text[n] != 0)
        n++;
    return n;
}

static DevWChar FoldAsciiLetter(DevWChar c)
{
    return (c >= 'A' && c <= 'Z') ? (DevWChar)(c - 'A' + 'a') : c;
}

// Compares n units with only A to Z folded.
static int UnitsEqual(const DevWChar *a, const DevWChar *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (FoldAsciiLetter(a[i]) != FoldAsciiLetter(b[i]))
            return 0;
    }
    return 1;
}

int DevNameEqual(const DevWChar *a, const DevWChar *b)
{
    size_t n = DevWideLength(a);
    return n == DevWideLength(b) && UnitsEqual(a, b, n);
}

int DevPatternMatch(const DevWChar *pattern, const DevWChar *name)
{
    if (pattern[0] == '*' && pattern[1] == 0)
        return 1;
    if (DevNameEqual(name, pattern))
        return 1;
    if (pattern[0] != '*')
        return 0;
    size_t tail = DevWideLength(pattern) - 1;
    size_t nameLength = DevWideLength(name);
    return nameLength >= tail && UnitsEqual(name + nameLength - tail, pattern + 1, tail);
}
