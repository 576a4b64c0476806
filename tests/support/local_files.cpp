// Local-file helpers for device tests.
#include "support/local_files.h"
#include <cstdio>

std::string TempFolder()
{
    char folder[MAX_PATH];
    DWORD n = GetTempPathA(MAX_PATH, folder);
    if (n == 0 || n >= MAX_PATH) return "C:\\windows\\temp\\";
    return folder;
}

std::string MakeScratchFolder(const char *tag)
{
    for (unsigned i = 0;; i++) {
        char name[64];
        std::snprintf(name, sizeof name, "tessaly-%s-%lu-%u\\", tag, GetCurrentProcessId(), i);
        std::string folder = TempFolder() + name;
        if (CreateDirectoryA(folder.c_str(), NULL)) return folder;
        if (GetLastError() != ERROR_ALREADY_EXISTS || i > 1000) return folder;
    }
}

void RemoveScratchFolder(const std::string &folder)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
                DeleteFileA((folder + found.cFileName).c_str());
        } while (FindNextFileA(search, &found));
        FindClose(search);
    }
    RemoveDirectoryA(folder.c_str());
}

bool LocalFileExists(const std::string &path)
{
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool ReadLocalFile(const std::string &path, std::string *data)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, NULL, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    data->clear();
    char buffer[4096];
    DWORD got = 0;
    bool ok = true;
    while ((ok = ReadFile(file, buffer, sizeof buffer, &got, NULL)) && got > 0)
        data->append(buffer, got);
    CloseHandle(file);
    return ok;
}

bool WriteLocalFile(const std::string &path, const std::string &data)
{
    HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = data.empty() || (WriteFile(file, data.data(), (DWORD)data.size(), &written, NULL) &&
                               written == data.size());
    CloseHandle(file);
    return ok;
}

std::set<std::string> WorkingCopyFiles()
{
    std::set<std::string> files;
    std::string folder = TempFolder();
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA((folder + "TMP*.tmp").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) files.insert(folder + found.cFileName);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

std::set<std::string> NewFiles(const std::set<std::string> &before, const std::set<std::string> &now)
{
    std::set<std::string> added;
    for (const std::string &f : now)
        if (!before.count(f)) added.insert(f);
    return added;
}

std::string Printable(const std::string &data)
{
    std::string out;
    for (unsigned char c : data) {
        if (c >= 32 && c < 127) {
            out += (char)c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}
