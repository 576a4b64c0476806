// The path helpers built natively under AddressSanitizer and UBSan: the shared case table,
// plus buffer-edge cases where an overrun would show as a sanitizer report.
#include "devpath_cases.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <string>

static int passed = 0, failed = 0;

static void Check(bool ok, const std::string &what)
{
    if (ok) {
        passed++;
    } else {
        failed++;
        printf("FAILED: %s\n", what.c_str());
    }
}

static std::string Shown(const char *text)
{
    std::string out;
    for (const unsigned char *p = (const unsigned char *)text; *p; p++) {
        char buf[8];
        if (*p < 0x20 || *p >= 0x7F)
            snprintf(buf, sizeof buf, "\\x%02X", *p);
        else
            snprintf(buf, sizeof buf, "%c", *p);
        out += buf;
    }
    return "\"" + out + "\"";
}

static void SplitTable()
{
    for (const SplitCase &c : kSplitCases) {
        // Heap copies sized exactly, so that reading past the terminator is reported.
        char *path = strdup(c.path);
        DevPathParts *parts = (DevPathParts *)malloc(sizeof(DevPathParts));
        int ok = DevSplitPath(path, parts, c.dbcs ? DevCasesLead932 : NULL);
        std::string got = Shown(parts->drive) + " " + Shown(parts->dir) + " " + Shown(parts->base) +
                          " " + Shown(parts->ext);
        std::string want = Shown(c.drive) + " " + Shown(c.dir) + " " + Shown(c.base) + " " + Shown(c.ext);
        Check(ok == 1 && got == want, std::string(c.why) + ": splitting " + Shown(c.path) +
                                          " gave " + got + ", expected " + want);
        free(parts);
        free(path);
    }
}

static void SplitLengthLimits()
{
    // 259 characters fit the 260-character buffers; 260 do not and must be refused whole.
    for (size_t length : {259u, 260u, 1000u}) {
        std::string text = "C:\\" + std::string(length - 3, 'a');
        char *path = strdup(text.c_str());
        DevPathParts *parts = (DevPathParts *)malloc(sizeof(DevPathParts));
        memset(parts, 'X', sizeof *parts);
        int ok = DevSplitPath(path, parts, NULL);
        int want = length < 260;
        Check(ok == want, "a path of " + std::to_string(length) + " characters should " +
                              (want ? "split" : "be refused") + " but DevSplitPath returned " +
                              std::to_string(ok));
        if (want)
            Check(strlen(parts->base) == length - 3, "the base name of a 259-character path lost characters");
        else
            Check(parts->drive[0] == 0 && parts->dir[0] == 0 && parts->base[0] == 0 && parts->ext[0] == 0,
                  "a refused path must leave every part empty, not half filled");
        free(parts);
        free(path);
    }
}

static void PrepareTable()
{
    struct Case { const char *why; std::string in; int ok; const char *out; };
    const Case cases[] = {
        {"the settings path gets a C for its star", "*:\\Corvane\\Corvane_Info.ini", 1,
         "C:\\Corvane\\Corvane_Info.ini"},
        {"a lone star", "*", 1, "C"},
        {"a local path is no device path", "C:\\x", 0, nullptr},
        {"a star later in the path does not count", "C:\\*", 0, nullptr},
        {"the empty path is no device path", "", 0, nullptr},
        {"259 characters still fit", "*" + std::string(258, 'a'), 1, nullptr},
        {"260 characters do not fit", "*" + std::string(259, 'a'), 0, nullptr},
    };
    for (const Case &c : cases) {
        char *in = strdup(c.in.c_str());
        char *out = (char *)malloc(DEVPATH_CHARS);   // exactly the layer's buffer size
        out[0] = 'Z';
        out[1] = 0;
        int ok = DevPrepareDevicePath(in, out);
        Check(ok == c.ok, std::string(c.why) + ": DevPrepareDevicePath returned " + std::to_string(ok));
        if (ok && c.out)
            Check(strcmp(out, c.out) == 0, std::string(c.why) + ": got " + Shown(out));
        if (ok && !c.out)
            Check(out[0] == 'C' && strcmp(out + 1, in + 1) == 0, std::string(c.why) + ": copy differs");
        free(out);
        free(in);
    }
    Check(DevPrepareDevicePath(NULL, NULL) == 0, "a null path must be refused without touching out");
}

static void WideTables()
{
    for (const WideCase &c : kNameCases) {
        int got = DevNameEqual(DevCasesWide(c.a), DevCasesWide(c.b));
        int back = DevNameEqual(DevCasesWide(c.b), DevCasesWide(c.a));
        Check(got == c.expected, std::string(c.why) + ": DevNameEqual gave " + std::to_string(got));
        Check(got == back, std::string(c.why) + ": DevNameEqual is not symmetric");
    }
    for (const WideCase &c : kPatternCases) {
        int got = DevPatternMatch(DevCasesWide(c.a), DevCasesWide(c.b));
        Check(got == c.expected, std::string(c.why) + ": DevPatternMatch gave " + std::to_string(got));
    }
}

int main()
{
    SplitTable();
    SplitLengthLimits();
    PrepareTable();
    WideTables();
    printf("%d passed, %d failed\n", passed, failed);
    return failed == 0 ? 0 : 1;
}
