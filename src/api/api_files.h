// The file operations the API objects share: the cache directory, reading and
// writing stored files, and numbered backups of a cache file.
#pragma once

#include <functional>
#include <string>

#include "brontel/platform/archive_file.h"

namespace brontel {

// Creates directory (one level) when it does not exist; a failure is reported
// on the debug output only, as the later file operations will fail visibly.
void EnsureDirectory(const std::string& directory);

// Reads a stored file after making sure every stored class is registered.
ReadResult ReadStoredFile(const std::string& path, const std::function<void(Archive&)>& read);

// Replaces path atomically with what write() stores; false (with a diagnostic
// line) when any step failed, the old file then being left whole.
bool WriteStoredFile(const std::string& path, const std::function<void(Archive&)>& write);

// As WriteStoredFile, but leaves path alone when it already holds exactly the
// bytes write() stores (a file that cannot be read is replaced). The bytes
// are compared with the file as it is now.
// REQUIRES: the caller holds what keeps every other writer of path out.
bool WriteStoredFileIfChanged(const std::string& path, const std::function<void(Archive&)>& write);

// Copies path to "<path without extension><n>.bak" for the first n in 0..8 that
// does not exist yet, else to n = 9, overwriting it. True when a copy was made
// or there is no file to copy; *backup names the last copy tried.
bool BackUpFile(const std::string& path, std::string* backup);

}  // namespace brontel
