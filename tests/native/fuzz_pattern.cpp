// libFuzzer target over name equality and search patterns. The input is cut into a pattern
// and a name of UTF-16 units; both are exact heap strings so an overread is reported.
// Properties checked: equality is symmetric and reflexive, a name matches itself, "*" matches
// everything, and '*' plus any tail of a name (in any A-Z case) matches that name.
#include "devpath_cases.h"
#include "fuzz_check.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static DevWChar *Copy(const DevWChar *units, size_t count)
{
    DevWChar *out = (DevWChar *)malloc((count + 1) * sizeof(DevWChar));
    memcpy(out, units, count * sizeof(DevWChar));
    out[count] = 0;
    return out;
}

static DevWChar Upper(DevWChar c)
{
    return (c >= 'a' && c <= 'z') ? (DevWChar)(c - 'a' + 'A') : c;
}

static int AnyFoldBeyondAscii(const DevWChar *a, const DevWChar *b, size_t n)
{
    for (size_t i = 0; i < n; i++) {
        if (a[i] != b[i] && !((a[i] | 0x20) == (b[i] | 0x20) && (a[i] | 0x20) >= 'a' && (a[i] | 0x20) <= 'z'))
            return 1;
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    size_t unitCount = (size - 1) / 2;
    DevWChar *units = (DevWChar *)malloc((unitCount + 1) * sizeof(DevWChar));
    for (size_t i = 0; i < unitCount; i++) {
        units[i] = (DevWChar)(data[1 + 2 * i] | (data[2 + 2 * i] << 8));
        if (units[i] == 0)
            units[i] = 'a';   // a terminator inside would only shorten the string
    }
    size_t cut = unitCount == 0 ? 0 : data[0] % (unitCount + 1);
    DevWChar *pattern = Copy(units, cut);
    DevWChar *name = Copy(units + cut, unitCount - cut);
    size_t patternLength = cut, nameLength = unitCount - cut;

    FUZZ_CHECK(DevWideLength(pattern) == patternLength && DevWideLength(name) == nameLength,
               "DevWideLength counts up to the terminator");

    int equal = DevNameEqual(pattern, name);
    FUZZ_CHECK(equal == DevNameEqual(name, pattern), "name equality is symmetric");
    FUZZ_CHECK(DevNameEqual(name, name), "a name equals itself");
    if (equal)
        FUZZ_CHECK(patternLength == nameLength && !AnyFoldBeyondAscii(pattern, name, nameLength),
                   "equal names differ at most in the case of A to Z");

    int match = DevPatternMatch(pattern, name);
    if (equal)
        FUZZ_CHECK(match, "a pattern equal to the name matches it");
    if (patternLength > 0 && pattern[0] != '*')
        FUZZ_CHECK(match == equal, "a pattern without a leading star is an exact name");
    FUZZ_CHECK(DevPatternMatch(name, name), "a name used as pattern matches itself");

    static const DevWChar star[] = {'*', 0};
    FUZZ_CHECK(DevPatternMatch(star, name), "a lone star matches every name");

    // '*' followed by the name's last k units, upper-cased, matches; a few k keep it fast.
    DevWChar *tailPattern = (DevWChar *)malloc((nameLength + 2) * sizeof(DevWChar));
    const size_t tails[] = {0, 1, 2, nameLength / 2, nameLength - 1, nameLength};
    for (size_t k : tails) {
        if (k > nameLength)
            continue;
        tailPattern[0] = '*';
        for (size_t i = 0; i < k; i++)
            tailPattern[1 + i] = Upper(name[nameLength - k + i]);
        tailPattern[1 + k] = 0;
        FUZZ_CHECK(DevPatternMatch(tailPattern, name), "a star and any tail of the name matches it");
    }
    // A tail longer than the name never matches unless the name itself starts with '*'
    // and the whole pattern equals it.
    if (patternLength > 1 && pattern[0] == '*' && patternLength - 1 > nameLength)
        FUZZ_CHECK(!match || equal, "a tail longer than the name does not match");

    free(tailPattern);
    free(name);
    free(pattern);
    free(units);
    return 0;
}
