// Checks on the shipped 32-bit Tessaly.EXE as a file, never executed (the tests run the
// x86-64 twin): its PE header, size and imports read from the bytes (TessalyProbe.exe's too), and its resources read back
// through Win32 the way the program and the shell read them: dialog template bytes, string
// table, version block, and that nothing else (no icon, no manifest) is in the file.
#include <windows.h>
#include <winver.h>
#include <gtest/gtest.h>

#include <stdlib.h>
#include <string.h>
#include <algorithm>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "resource.h"

namespace {

const WORD kEnglishUS = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// SHIPPED_EXE (or another variable) holds a Linux path; Wine's own converter gives its DOS name.
std::string ExePath(const char *variable = "SHIPPED_EXE")
{
    const char *unixPath = getenv(variable);
    if (unixPath == nullptr || *unixPath == '\0')
        return "";
    typedef WCHAR *(CDECL * ToDos)(const char *);
    ToDos toDos = (ToDos)(void *)GetProcAddress(GetModuleHandleA("kernel32.dll"), "wine_get_dos_file_name");
    if (toDos != nullptr) {
        WCHAR *wide = toDos(unixPath);
        if (wide != nullptr) {
            char narrow[MAX_PATH * 2] = "";
            WideCharToMultiByte(CP_ACP, 0, wide, -1, narrow, sizeof narrow, NULL, NULL);
            HeapFree(GetProcessHeap(), 0, wide);
            return narrow;
        }
    }
    std::string path = unixPath;
    if (path[0] == '/') {
        for (char &c : path)
            if (c == '/')
                c = '\\';
        path = "Z:" + path;
    }
    return path;
}

class ShippedExeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        path = ExePath();
        ASSERT_FALSE(path.empty()) << "SHIPPED_EXE is not set: it must name the shipped 32-bit Tessaly.EXE";
        module = LoadLibraryExA(path.c_str(), NULL, LOAD_LIBRARY_AS_DATAFILE);
        ASSERT_NE(module, nullptr) << "cannot load " << path << " as a data file, error " << GetLastError();
    }
    void TearDown() override
    {
        if (module != nullptr)
            FreeLibrary(module);
    }

    std::string path;
    HMODULE module = nullptr;
};

// ---- dialog template reader ----

struct Reader {
    const BYTE *p;
    const BYTE *end;
    bool ok = true;

    WORD Word()
    {
        if (p + 2 > end) {
            ok = false;
            return 0;
        }
        WORD w = (WORD)(p[0] | (p[1] << 8));
        p += 2;
        return w;
    }
    DWORD Dword()
    {
        DWORD low = Word();
        return low | ((DWORD)Word() << 16);
    }
    // A name or ordinal: 0 = none, FFFF + ordinal, or a UTF-16 string (given back in UTF-8).
    std::string NameOrOrdinal()
    {
        WORD first = Word();
        if (first == 0)
            return "";
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::wstring text(1, (wchar_t)first);
        for (WORD w = Word(); ok && w != 0; w = Word())
            text += (wchar_t)w;
        char narrow[512] = "";
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, narrow, sizeof narrow, NULL, NULL);
        return narrow;
    }
    void AlignDword(const BYTE *base)
    {
        while ((p - base) % 4 != 0)
            ++p;
    }
};

struct Item {
    DWORD style, exStyle;
    short x, y, cx, cy;
    WORD id;
    std::string className, text;
};

TEST_F(ShippedExeTest, DialogTemplatesMatchTheirLayouts)
{
    char messageCaption[128] = "";
    LoadStringA(module, IDS_CAPTION, messageCaption, sizeof messageCaption);
    const DWORD frame = DS_MODALFRAME | WS_CAPTION | WS_SYSMENU;   // no DS_SETFONT, no WS_POPUP
    const DWORD child = WS_CHILD | WS_VISIBLE;
    // Ordinals of the predefined classes: 0x80 button, 0x81 edit, 0x82 static.
    const struct {
        const char *name;
        DWORD style;
        short cx, cy;   // in dialog units
        std::string caption;
        Item items[4];
        const char *names[4];
    } templates[] = {
        {"TESSALY", frame, 95, 38, "Tessaly",
         {{child | SS_LEFT | WS_GROUP, 0, 5, 7, 20, 8, 0xFFFF, "#130", "&Name:"},
          {child | ES_AUTOHSCROLL | WS_BORDER | WS_TABSTOP | WS_GROUP, 0, 28, 5, 62, 12, IDC_NAME, "#129", ""},
          {child | BS_DEFPUSHBUTTON | WS_TABSTOP | WS_GROUP, 0, 5, 19, 40, 14, IDOK, "#128", "OK"},
          {child | BS_PUSHBUTTON | WS_TABSTOP, 0, 50, 19, 40, 14, IDCANCEL, "#128", "Cancel"}},
         {"label", "name field", "OK button", "Cancel button"}},
        // Modeless, visible as it is made, captioned as the message boxes are (string 200).
        {"SEARCH", frame | WS_VISIBLE, 110, 48, messageCaption,
         {{child | SS_LEFT, 0, 5, 5, 100, 8, 0xFFFF, "#130", "Looking for the handheld\xE2\x80\xA6"},
          {child | SS_LEFT, 0, 5, 17, 68, 8, 0xFFFF, "#130", "Folders looked at:"},
          {child | SS_LEFT, 0, 75, 17, 30, 8, IDC_FOLDERS, "#130", "0"},
          {child | BS_PUSHBUTTON | WS_TABSTOP, 0, 65, 29, 40, 14, IDCANCEL, "#128", "Cancel"}},
         {"first line (ending in U+2026, the ellipsis)", "count label", "folder count", "Cancel button"}},
    };
    for (const auto &want : templates) {
        SCOPED_TRACE(want.name);
        HRSRC found = FindResourceExA(module, (LPCSTR)RT_DIALOG, want.name, kEnglishUS);
        ASSERT_NE(found, nullptr) << "no dialog named " << want.name << " in English (United States)";
        const BYTE *base = (const BYTE *)LockResource(LoadResource(module, found));
        ASSERT_NE(base, nullptr) << "the dialog resource cannot be loaded";
        Reader in{base, base + SizeofResource(module, found)};

        ASSERT_NE(in.Dword(), 0xFFFF0001u) << "the template is an extended one; the plain DIALOG form is expected";
        in.p = base;
        DWORD style = in.Dword();
        DWORD exStyle = in.Dword();
        WORD count = in.Word();
        short x = (short)in.Word(), y = (short)in.Word(), cx = (short)in.Word(), cy = (short)in.Word();
        std::string menu = in.NameOrOrdinal();
        std::string dialogClass = in.NameOrOrdinal();
        std::string caption = in.NameOrOrdinal();

        EXPECT_EQ(style, want.style) << "dialog style 0x" << std::hex << style << ", expected exactly 0x" << want.style
                                     << " (WS_VISIBLE only on the modeless one)";
        EXPECT_EQ(exStyle, 0u) << "the dialog has extended styles it should not have";
        EXPECT_EQ(x, 0);
        EXPECT_EQ(y, 0);
        EXPECT_EQ(cx, want.cx) << "dialog width in dialog units";
        EXPECT_EQ(cy, want.cy) << "dialog height in dialog units";
        EXPECT_EQ(menu, "") << "the dialog must have no menu";
        EXPECT_EQ(dialogClass, "") << "the dialog must use the standard dialog class";
        EXPECT_EQ(caption, want.caption) << "dialog caption";
        ASSERT_EQ(count, 4) << "the dialog must have exactly four controls";

        std::vector<Item> items;
        for (int i = 0; i < count; ++i) {
            in.AlignDword(base);
            Item item;
            item.style = in.Dword();
            item.exStyle = in.Dword();
            item.x = (short)in.Word();
            item.y = (short)in.Word();
            item.cx = (short)in.Word();
            item.cy = (short)in.Word();
            item.id = in.Word();
            item.className = in.NameOrOrdinal();
            item.text = in.NameOrOrdinal();
            WORD extra = in.Word();
            in.p += extra;
            items.push_back(item);
        }
        ASSERT_TRUE(in.ok) << "the dialog template ends before its last control";

        for (int i = 0; i < 4; ++i) {
            const Item &got = items[i];
            const Item &expected = want.items[i];
            const char *name = want.names[i];
            EXPECT_EQ(got.style, expected.style) << name << ": style 0x" << std::hex << got.style << ", expected 0x"
                                                 << expected.style;
            EXPECT_EQ(got.exStyle, 0u) << name << ": unexpected extended style";
            EXPECT_EQ(got.x, expected.x) << name << ": x";
            EXPECT_EQ(got.y, expected.y) << name << ": y";
            EXPECT_EQ(got.cx, expected.cx) << name << ": width";
            EXPECT_EQ(got.cy, expected.cy) << name << ": height";
            EXPECT_EQ(got.id, expected.id) << name << ": control id";
            EXPECT_EQ(got.className, expected.className) << name << ": class (as predefined ordinal)";
            EXPECT_EQ(got.text, expected.text) << name << ": text";
        }
    }
}

TEST_F(ShippedExeTest, StringTableHoldsTheCaptionAndEveryMessage)
{
    struct {
        UINT id;
        const char *text;
    } strings[] = {
        {IDS_CAPTION, "Corvane"},
        {IDS_NOT_FOUND,
         "Unable to find an Android device with Corvane installed on it.\n\n(1) Install Corvane on the "
         "handheld,\n(2) Run Corvane on the handheld,\n(3) Reconnect the handheld to the desktop, and\n(4) "
         "Try again."},
        {IDS_NOT_SAVED, "The name was not saved: its settings file could not be written."},
        {IDS_NOT_SAVED_KEPT,
         "The name was not saved, and the handheld may not hold its settings file.\n\nA copy with the new name is "
         "in:\n%s\n\nCopy it to the folder Corvane on the handheld as Corvane_Info.ini."},
        {IDS_STORAGE_HIDDEN,
         "Found a handheld, but cannot see its storage.\n\n(1) Unlock the handheld,\n(2) Set its USB connection to "
         "File transfer, and\n(3) Try again."},
        {IDS_NOT_SAVED_AS_IT_WAS,
         "The name was not saved. The handheld's settings file is as it was.\n\nReconnect the handheld to the "
         "desktop and try again.\n\nA copy with the new name is in:\n%s"},
        {IDS_APP_FOLDER_UNREADABLE,
         "Found the handheld, but cannot read its Corvane folder.\n\nReconnect the handheld and try again."},
        {IDS_CANNOT_READ,
         "Cannot read the handheld's settings file.\n\nReconnect the handheld and try again. If this happens again, "
         "restart the handheld."},
        {IDS_ALREADY_RUNNING, "Tessaly is already running. Close it and try again."},
        {IDS_PHOTOS_ONLY,
         "Found a handheld, but it shares only its photos.\n\n(1) Set its USB connection to File transfer, and\n(2) "
         "Try again."},
    };
    for (const auto &s : strings) {
        char text[1024] = "";
        int length = LoadStringA(module, s.id, text, sizeof text);
        EXPECT_EQ(std::string(text), s.text) << "string " << s.id << " differs (line feeds must be single \\n)";
        EXPECT_EQ(length, (int)strlen(s.text)) << "string " << s.id << ": length";
        // Both strings are in block id/16+1, in US English.
        EXPECT_NE(FindResourceExA(module, (LPCSTR)RT_STRING, MAKEINTRESOURCEA(s.id / 16 + 1), kEnglishUS), nullptr)
            << "string " << s.id << " is not in an English (United States) string block";
    }
    // The message box text buffer is 512 characters: the messages must fit, the kept file's
    // path (259 characters at most) added to the last two.
    for (const auto &s : strings)
        EXPECT_LT(strlen(s.text), 512u) << "message " << s.id << " no longer fits the message buffer";
}

TEST_F(ShippedExeTest, VersionBlockIsUSEnglishCodePage1252)
{
    DWORD ignored = 0;
    DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    ASSERT_GT(size, 0u) << "no version block in " << path << ", error " << GetLastError();
    std::vector<BYTE> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(path.c_str(), 0, size, block.data())) << "GetFileVersionInfo failed";

    VS_FIXEDFILEINFO *fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", (void **)&fixed, &length)) << "no fixed version part";
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010000u) << "file version must be 1.0.0.0";
    EXPECT_EQ(fixed->dwFileVersionLS, 0u) << "file version must be 1.0.0.0";
    EXPECT_EQ(fixed->dwProductVersionMS, 0x00010000u) << "product version must be 1.0.0.0";
    EXPECT_EQ(fixed->dwProductVersionLS, 0u) << "product version must be 1.0.0.0";

    WORD *translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation", (void **)&translation, &length))
        << "no Translation entry";
    ASSERT_EQ(length, 4u) << "exactly one language and code page pair expected";
    EXPECT_EQ(translation[0], 0x0409) << "language must be English (United States)";
    EXPECT_EQ(translation[1], 1252) << "code page must be 1252";

    struct {
        const char *key;
        const char *value;   // nullptr: any non-empty value
    } entries[] = {
        {"FileVersion", " 1.00.0000"},   {"ProductVersion", " 1.00.0000"}, {"FileDescription", "Tessaly"},
        {"InternalName", "Tessaly"},     {"OriginalFilename", "Tessaly.EXE"}, {"ProductName", "Corvane"},
        {"CompanyName", nullptr},        {"LegalCopyright", nullptr},
    };
    for (const auto &e : entries) {
        std::string query = std::string("\\StringFileInfo\\040904E4\\") + e.key;
        char *value = nullptr;
        UINT chars = 0;
        ASSERT_TRUE(VerQueryValueA(block.data(), query.c_str(), (void **)&value, &chars))
            << e.key << " is missing from block 040904E4";
        if (e.value != nullptr)
            EXPECT_STREQ(value, e.value) << e.key << " (mind the leading blank of the version strings)";
        else
            EXPECT_GT(strlen(value), 0u) << e.key << " must not be empty";
    }
}

BOOL CALLBACK CollectType(HMODULE, LPSTR type, LONG_PTR list)
{
    ((std::vector<std::string> *)list)->push_back(IS_INTRESOURCE(type) ? "#" + std::to_string((UINT_PTR)type)
                                                                        : std::string(type));
    return TRUE;
}

TEST_F(ShippedExeTest, OnlyDialogStringsAndVersionNoIconNoManifest)
{
    std::vector<std::string> types;
    EnumResourceTypesA(module, CollectType, (LONG_PTR)&types);
    std::string all;
    for (const std::string &t : types)
        all += t + " ";
    for (const std::string &t : types) {
        EXPECT_NE(t, "#" + std::to_string((UINT_PTR)RT_ICON)) << "the program must have no icon";
        EXPECT_NE(t, "#" + std::to_string((UINT_PTR)RT_GROUP_ICON)) << "the program must have no icon";
        EXPECT_NE(t, "#" + std::to_string((UINT_PTR)RT_MANIFEST)) << "the program must have no manifest";
    }
    EXPECT_EQ(all, "#5 #6 #16 ") << "resource types should be exactly dialog (5), strings (6) and version (16)";
}

// ---- PE header and imports, from the file's bytes ----

// The file's bytes and a reader of PE32 structures by relative virtual address.
struct PeImage {
    std::vector<char> bytes;
    const IMAGE_NT_HEADERS32 *nt = nullptr;

    template <class T>
    const T *At(size_t offset) const
    {
        return offset + sizeof(T) <= bytes.size() ? (const T *)(bytes.data() + offset) : nullptr;
    }
    // File offset of a relative virtual address, through the section table; 0 when outside.
    size_t Offset(DWORD rva) const
    {
        const IMAGE_SECTION_HEADER *section = IMAGE_FIRST_SECTION(nt);
        for (WORD i = 0; i < nt->FileHeader.NumberOfSections; i++, section++) {
            if ((const char *)(section + 1) > bytes.data() + bytes.size())
                return 0;
            DWORD size = std::max(section->Misc.VirtualSize, section->SizeOfRawData);
            if (rva >= section->VirtualAddress && rva < section->VirtualAddress + size)
                return rva - section->VirtualAddress + section->PointerToRawData;
        }
        return 0;
    }
    std::string String(DWORD rva) const
    {
        size_t offset = Offset(rva);
        std::string text;
        while (offset != 0 && offset < bytes.size() && bytes[offset] != '\0')
            text += bytes[offset++];
        return text;
    }
};

std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)tolower((unsigned char)c);
    return text;
}

// Both shipped programs: i386 PE32 files of the right subsystem, within their size limits, that
// import only DLLs every Windows has (statically linked: no compiler runtime DLL; the
// portable-device DLLs are reached through COM).
TEST(ShippedExeFile, BothProgramsAre32BitWithinTheirSizeImportingOnlyDllsEveryWindowsHas)
{
    const struct {
        const char *variable, *name;
        WORD subsystem;
        const char *why;
        size_t limit;
    } programs[] = {
        // 44 KiB: the checks of what the handheld holds before its file is trusted, the read-backs,
        // the waiting second start, the search window, the advice for phones in photo mode and the
        // edit in place through the MTP pass-through cost the bytes over 32.
        {"SHIPPED_EXE", "Tessaly.EXE", IMAGE_SUBSYSTEM_WINDOWS_GUI, "a GUI program: a console subsystem opens a console window",
         45056},
        // 72 KiB: the probe carries the whole device layer, which grows with Tessaly's.
        {"SHIPPED_PROBE", "TessalyProbe.exe", IMAGE_SUBSYSTEM_WINDOWS_CUI,
         "a console program: its report goes to standard output", 73728},
    };
    const char *const everyWindowsHas[] = {"kernel32.dll", "user32.dll", "gdi32.dll",  "ole32.dll",
                                           "oleaut32.dll", "advapi32.dll", "msvcrt.dll"};
    for (const auto &program : programs) {
        SCOPED_TRACE(program.name);
        const char *unixPath = getenv(program.variable);
        ASSERT_TRUE(unixPath != nullptr && *unixPath != '\0') << program.variable << " must name the shipped " << program.name;
        std::string path = ExePath(program.variable);
        std::ifstream in(path, std::ios::binary);
        ASSERT_TRUE(in.good()) << "cannot read " << path << " (" << unixPath << "): build the i686 tree first";
        PeImage pe;
        pe.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        EXPECT_LE(pe.bytes.size(), program.limit)
            << program.name << " is " << pe.bytes.size() << " bytes, over its limit of " << program.limit;

        const IMAGE_DOS_HEADER *dos = pe.At<IMAGE_DOS_HEADER>(0);
        ASSERT_TRUE(dos != nullptr && dos->e_magic == IMAGE_DOS_SIGNATURE) << path << " does not start with MZ";
        pe.nt = pe.At<IMAGE_NT_HEADERS32>((size_t)dos->e_lfanew);
        ASSERT_TRUE(pe.nt != nullptr && pe.nt->Signature == IMAGE_NT_SIGNATURE) << "no PE signature in " << path;
        EXPECT_EQ(IMAGE_FILE_MACHINE_I386, pe.nt->FileHeader.Machine)
            << program.name << " must be for i386 (0x14c); machine 0x" << std::hex << pe.nt->FileHeader.Machine;
        ASSERT_EQ(IMAGE_NT_OPTIONAL_HDR32_MAGIC, pe.nt->OptionalHeader.Magic)
            << program.name << " must be PE32 (0x10b), not PE32+ (0x20b)";
        EXPECT_EQ(program.subsystem, pe.nt->OptionalHeader.Subsystem) << program.name << " must be " << program.why;

        const IMAGE_DATA_DIRECTORY &imports = pe.nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
        size_t offset = pe.Offset(imports.VirtualAddress);
        ASSERT_NE(0u, offset) << "the import table lies outside every section";
        std::vector<std::string> dlls, functions;   // functions as "dll!name"
        for (const IMAGE_IMPORT_DESCRIPTOR *d = pe.At<IMAGE_IMPORT_DESCRIPTOR>(offset); d != nullptr && d->Name != 0;
             d = pe.At<IMAGE_IMPORT_DESCRIPTOR>(offset += sizeof *d)) {
            dlls.push_back(pe.String(d->Name));
            size_t thunk = pe.Offset(d->OriginalFirstThunk ? d->OriginalFirstThunk : d->FirstThunk);
            for (const DWORD *t = pe.At<DWORD>(thunk); thunk != 0 && t != nullptr && *t != 0; t = pe.At<DWORD>(thunk += 4))
                if (!(*t & IMAGE_ORDINAL_FLAG32)) functions.push_back(Lower(dlls.back()) + "!" + pe.String(*t + 2));
        }
        EXPECT_FALSE(dlls.empty()) << "no import table entries were found";
        // An empty card-reader slot must not raise the system's "No disk" box: each program
        // must at least import SetErrorMode (the call itself comes first in its entry point).
        EXPECT_NE(functions.end(), std::find(functions.begin(), functions.end(), "kernel32.dll!SetErrorMode"))
            << program.name << " does not import SetErrorMode from kernel32.dll";
        for (const std::string &dll : dlls)
            EXPECT_NE(std::end(everyWindowsHas),
                      std::find(std::begin(everyWindowsHas), std::end(everyWindowsHas), Lower(dll)))
                << program.name << " imports " << dll << ", which not every Windows has";
    }
}

}  // namespace
