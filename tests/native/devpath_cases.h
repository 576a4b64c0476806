// Cases for the pure path helpers, shared by the native sanitizer test and the unit test
// that runs the same table through the Windows build. Plain C data: no test framework.
#ifndef TESSALY_TESTS_DEVPATH_CASES_H
#define TESSALY_TESTS_DEVPATH_CASES_H

#include "devfs/devpath.h"

// Lead bytes of code page 932 (Shift-JIS), for running the splitter where that table is
// not the system's: 0x81-0x9F and 0xE0-0xFC.
static inline int DevCasesLead932(unsigned char b)
{
    return (b >= 0x81 && b <= 0x9F) || (b >= 0xE0 && b <= 0xFC);
}

struct SplitCase {
    const char *why;
    const char *path;
    int dbcs;   // 1: split with the code page 932 lead-byte test
    const char *drive, *dir, *base, *ext;
};

static const SplitCase kSplitCases[] = {
    {"the settings file's prepared device path", "C:\\Corvane\\Corvane_Info.ini", 0,
     "C:", "\\Corvane\\", "Corvane_Info", ".ini"},
    {"the bare root keeps its one separator as directory", "C:\\", 0, "C:", "\\", "", ""},
    {"a bare extension at the root has an empty base name", "C:\\.ini", 0, "C:", "\\", "", ".ini"},
    {"a slash separates like a backslash", "C:/Corvane/Corvane_Info.ini", 0,
     "C:", "/Corvane/", "Corvane_Info", ".ini"},
    {"mixed separators: the last one of either kind ends the directory", "C:/a\\b/c.d", 0,
     "C:", "/a\\b/", "c", ".d"},
    {"two separators after the colon stay in the directory", "C:\\\\Corvane", 0,
     "C:", "\\\\", "Corvane", ""},
    {"a trailing separator leaves base and extension empty", "C:\\Corvane\\", 0,
     "C:", "\\Corvane\\", "", ""},
    {"a dot inside the directory is no extension", "C:\\a.b\\c", 0, "C:", "\\a.b\\", "c", ""},
    {"the extension starts at the last dot", "C:\\a.b.c", 0, "C:", "\\", "a.b", ".c"},
    {"a name ending in a dot has the lone dot as extension", "C:\\a.", 0, "C:", "\\", "a", "."},
    {"the drive alone", "C:", 0, "C:", "", "", ""},
    {"the empty path", "", 0, "", "", "", ""},
    {"a colon elsewhere than second makes no drive", "ab:c", 0, "", "", "ab:c", ""},
    {"any first character before a colon is a drive", "*:x", 0, "*:", "", "x", ""},
    {"no drive, no directory", "name.ini", 0, "", "", "name", ".ini"},
    // 0x83 0x5C is a katakana whose trail byte is a backslash.
    {"a DBCS trail byte 0x5C is no separator", "C:\\\x83\x5C\\x.ini", 1,
     "C:", "\\\x83\x5C\\", "x", ".ini"},
    {"a DBCS trail byte 0x5C at the end stays in the base name", "C:\\\x83\x5C", 1,
     "C:", "\\", "\x83\x5C", ""},
    {"without the lead-byte test the same byte does split", "C:\\\x83\x5C", 0,
     "C:", "\\\x83\\", "", ""},
    {"a DBCS trail byte 0x2E is no dot", "C:\\\x81\x2E", 1, "C:", "\\", "\x81\x2E", ""},
    {"a dot after a double-byte character still starts the extension", "C:\\\x83\x5C.ini", 1,
     "C:", "\\", "\x83\x5C", ".ini"},
    {"a lead byte as trail byte is taken whole, the separator after it counts",
     "C:\\\x83\x83\\a", 1, "C:", "\\\x83\x83\\", "a", ""},
    {"a lead byte at the very end takes no terminator with it", "C:\\a\x83", 1,
     "C:", "\\", "a\x83", ""},
};

struct WideCase {
    const char *why;
    const char16_t *a;   // pattern for pattern cases
    const char16_t *b;   // name
    int expected;
};

// DevWChar is a 16-bit unit on both builds (WCHAR there, unsigned short here).
static inline const DevWChar *DevCasesWide(const char16_t *text)
{
    return reinterpret_cast<const DevWChar *>(text);
}

// UTF-16 literals: wchar_t is 32 bits natively.
static const WideCase kNameCases[] = {
    {"a lower-case app folder name equals the real one", u"Corvane", u"corvane", 1},
    {"all capitals fold too", u"CORVANE_INFO.INI", u"corvane_info.ini", 1},
    {"É and é are not folded", u"\u00C9", u"\u00E9", 0},
    {"'@' sits just below 'A' and is not folded onto '`'", u"@", u"`", 0},
    {"'[' sits just above 'Z' and is not folded onto '{'", u"[", u"{", 0},
    {"'Z' folds onto 'z'", u"Z", u"z", 1},
    {"a prefix is not equal", u"Corvane", u"Corvane_Info.ini", 0},
    {"two empty names are equal", u"", u"", 1},
};

static const WideCase kPatternCases[] = {
    {"a lone star matches everything", u"*", u"Corvane_Info.ini", 1},
    {"a lone star matches a name that is empty", u"*", u"", 1},
    {"an exact name matches with A to Z folded", u"corvane_info.INI", u"Corvane_Info.ini", 1},
    {"star and tail matches any case of the tail", u"*.ini", u"CORVANE_INFO.INI", 1},
    {"star and tail matches a name that is only the tail", u"*.ini", u".ini", 1},
    {"a name shorter than the tail does not match", u"*.ini", u"ini", 0},
    {"the tail must be at the end", u"*.ini", u"a.ini.bak", 0},
    {"a name followed by *.* is an exact name", u"Corvane_Info*.*", u"Corvane_Info.ini", 0},
    {"*.* itself is a star and the literal tail '.*'", u"*.*", u"a.ini", 0},
    {"*.* matches a name ending in '.*'", u"*.*", u"a.*", 1},
    {"'?' is an ordinary character that matches itself", u"a?b", u"a?b", 1},
    {"'?' does not stand for another character", u"a?b", u"axb", 0},
    {"an inner star is an ordinary character", u"a*b", u"axb", 0},
    {"an inner star matches itself", u"a*b", u"a*b", 1},
    {"a second star after the first is literal", u"**", u"ab", 0},
    {"a second star after the first matches a literal star", u"**", u"a*", 1},
    {"an empty pattern matches only the empty name", u"", u"a", 0},
    {"É in a tail does not match é", u"*\u00C9", u"a\u00E9", 0},
};

#endif
