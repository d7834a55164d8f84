// Small file helpers shared by the registry, INI files and the named lock.
#pragma once

#include <string>

namespace pt {

bool FileExists(const std::string& path) noexcept; // anything but a directory
bool IsDirectory(const std::string& path) noexcept;
// Creates the folder and its missing parents; true when it exists afterwards.
bool MakeDirectories(const std::string& path) noexcept;
// Reads the whole file; returns 0 or the errno of the failure (EISDIR for a folder).
int ReadWholeFile(const std::string& path, std::string& out);
// Replaces the file's content atomically: writes a temporary file beside the target (through
// a symbolic link, beside the file it points to), keeps the old file's permissions, then
// renames. Returns 0 or the errno of the failure; the old content survives every failure.
// A file that can be written in a folder that cannot is rewritten in place instead.
int WriteFileAtomic(const std::string& path, const std::string& data);

} // namespace pt
