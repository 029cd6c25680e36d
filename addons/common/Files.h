// Paths, folders and file names as Windows takes them, and new files
// written whole or not at all.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace addons {

// Creates the folder and its missing parents; raises with the reason when
// it cannot, naming the folder.
void CreateFolderTree(const std::wstring& folder);

// A full path made canonical: "/" as "\", "." and ".." resolved, the
// trailing dots and spaces of each name dropped (as Windows drops them),
// without the long-path prefix.
std::wstring CanonicalPath(const std::wstring& path);
// The canonical path in the form the file functions take beyond MAX_PATH
// ("\\?\C:\..." or "\\?\UNC\server\...").
std::wstring LongPath(const std::wstring& path);

// Why Windows would refuse base + extension as a file name, or empty when
// it would not: empty, a character it forbids, base ending in a space or
// a dot, longer than 255 characters, or a device name.
std::wstring FileNameProblem(const std::wstring& base, const std::wstring& extension);
bool FolderExists(const std::wstring& path);

// Writes bytes to folder\base + extension through a temporary file in the
// same folder (of a random name) that is then renamed into place, so that
// no half-written picture is ever seen under its name and none stays when
// writing fails. An existing file is never replaced: " (2)", " (3)", ...
// is added to the name instead, each checked as a file name. Returns the
// file's path.
std::wstring WriteNewFile(const std::wstring& folder, const std::wstring& base,
                          const std::wstring& extension, const std::vector<BYTE>& bytes);

}  // namespace addons
