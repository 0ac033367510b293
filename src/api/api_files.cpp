#include "api_files.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "brontel/api/brontel_api.h"
#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"

namespace brontel {

void EnsureDirectory(const std::string& directory) {
  if (directory.empty()) return;
  if (::mkdir(directory.c_str(), 0755) != 0 && errno != EEXIST) {
    DebugLine("Unable to create direcory " + directory + "\n");
  }
}

ReadResult ReadStoredFile(const std::string& path, const std::function<void(Archive&)>& read) {
  InitBrontelDLL();
  return ReadArchiveFile(path, read);
}

bool WriteStoredFile(const std::string& path, const std::function<void(Archive&)>& write) {
  std::string error;
  if (WriteArchiveFile(path, write, &error)) return true;
  DebugLine(error);
  return false;
}

bool WriteStoredFileIfChanged(const std::string& path, const std::function<void(Archive&)>& write) {
  StringSink stored;
  try {
    Archive ar(stored);
    write(ar);
    ar.Flush();
  } catch (const ArchiveError& e) {
    DebugLine(Format("Unable to write file %s: %s\n", path.c_str(), e.what()));
    return false;
  }
  const std::string& bytes = stored.contents();
  // A file in place that holds these bytes is kept: syncing it and its
  // directory makes it what a durable write would leave, also when the write
  // that put it there stopped between its rename and the directory's sync. A
  // file that cannot be synced is written again.
  std::string current, error;
  if (ReadWholeFile(path, &current, &error) && current == bytes && SyncFileInPlace(path, &error)) {
    return true;
  }
  if (ReplaceFileAtomically(
          path,
          [&](ByteSink& sink) {
            sink.Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
          },
          &error)) {
    return true;
  }
  DebugLine(error);
  return false;
}

namespace {

// Copies from to to; with exclusive, an existing target is left alone and the
// copy fails. The copy is written atomically.
bool CopyFile(const std::string& from, const std::string& to, bool exclusive) {
  std::string bytes, error;
  if (!ReadWholeFile(from, &bytes, &error)) return false;
  if (exclusive) {
    // Claim the name first so that an existing backup is never replaced.
    int fd = FileSystem::Current().Open(to, O_WRONLY | O_CREAT | O_EXCL, 0600);
    if (fd < 0) return false;
    FileSystem::Current().Close(fd);
  }
  bool copied = ReplaceFileAtomically(
      to,
      [&](ByteSink& sink) {
        sink.Append(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
      },
      &error);
  if (!copied) {
    if (exclusive) FileSystem::Current().Unlink(to);
    DebugLine(error);
  }
  return copied;
}

}  // namespace

bool BackUpFile(const std::string& path, std::string* backup) {
  std::string contents, error;
  int err = 0;
  if (!ReadWholeFile(path, &contents, &error, &err) && err == ENOENT) return true;
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  std::string base = (dot == std::string::npos || (slash != std::string::npos && dot < slash))
                         ? path
                         : path.substr(0, dot);
  for (int n = 0; n <= 9; ++n) {
    *backup = Format("%s%d.bak", base.c_str(), n);
    if (CopyFile(path, *backup, n != 9)) return true;
  }
  return false;
}

}  // namespace brontel
