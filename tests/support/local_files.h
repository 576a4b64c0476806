// Local-file helpers for device tests: scratch folders, whole-file reads and writes, and
// the layer's working-copy files ("TMP*.tmp") in the user's temporary folder.
#ifndef TESSALY_TESTS_LOCAL_FILES_H
#define TESSALY_TESTS_LOCAL_FILES_H

#include <windows.h>
#include <set>
#include <string>

// GetTempPathA, with its trailing backslash.
std::string TempFolder();
// A new empty folder below the temporary folder, with a trailing backslash.
std::string MakeScratchFolder(const char *tag);
// Deletes the files of a folder made by MakeScratchFolder, then the folder.
void RemoveScratchFolder(const std::string &folder);

bool LocalFileExists(const std::string &path);
bool ReadLocalFile(const std::string &path, std::string *data);
bool WriteLocalFile(const std::string &path, const std::string &data);

// Full paths of the "TMP*.tmp" files in the temporary folder.
std::set<std::string> WorkingCopyFiles();
// Those in now that were not in before.
std::set<std::string> NewFiles(const std::set<std::string> &before, const std::set<std::string> &now);

// Shows bytes for a failure message: printable text, other bytes as \xNN.
std::string Printable(const std::string &data);

#endif
