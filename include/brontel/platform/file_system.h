// FileSystem: every file operation of the library goes through one replaceable
// object, so tests can make a chosen read, write, fsync or rename fail.
//
// The default object calls POSIX directly. ReadWholeFile and
// ReplaceFileAtomically build the library's two file patterns on top of it:
// whole-file reads, and replacement through a temporary file, fsync and rename
// so that a crash or a full disk leaves either the old file or the new one.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "brontel/platform/archive.h"

namespace brontel {

class FileSystem {
 public:
  virtual ~FileSystem() = default;
  // Each returns what the POSIX call of the same name returns, with errno set.
  virtual int Open(const std::string& path, int flags, uint32_t mode);
  virtual int64_t Read(int fd, void* buffer, size_t size);
  virtual int64_t Write(int fd, const void* data, size_t size);
  virtual int Fsync(int fd);
  virtual int Close(int fd);
  virtual int Rename(const std::string& from, const std::string& to);
  virtual int Unlink(const std::string& path);

  // The object in use.
  static FileSystem& Current();
  // Installs fs (null restores the default) and returns the previous one.
  static FileSystem* Install(FileSystem* fs);
};

// A ByteSink that writes to an open descriptor through FileSystem::Current().
class FileSink : public ByteSink {
 public:
  explicit FileSink(int fd) : m_fd(fd) {}
  bool Append(const uint8_t* data, size_t size) override;
  int error() const { return m_errno; }

 private:
  int m_fd;
  int m_errno = 0;
};

// Reads the whole file into contents. On failure returns false and sets error
// to a message naming the file and, when given, errorNumber to the errno value
// (ENOENT for a file that does not exist).
bool ReadWholeFile(const std::string& path, std::string* contents, std::string* error,
                   int* errorNumber = nullptr);

// Replaces path with the bytes that write() puts into the sink: a temporary file
// in the same directory is written, flushed, fsync'ed and renamed over path, and
// the directory is fsync'ed. The new file is readable by its owner only (0600).
// If write() throws an ArchiveError or any step fails, the temporary file is
// removed, path is left as it was, and false is returned with error set.
bool ReplaceFileAtomically(const std::string& path,
                           const std::function<void(ByteSink& sink)>& write, std::string* error);

// Makes the file in place at path as durable as ReplaceFileAtomically leaves
// the file it writes: fsyncs the file, then its directory, so that both its
// bytes and the name that points at them survive a power loss. For a file
// that already holds the bytes to be written. On failure returns false with
// error set.
bool SyncFileInPlace(const std::string& path, std::string* error);

// Removes the temporary files of path that a ReplaceFileAtomically left behind
// because its process ended (a crash, a kill) before it could rename or remove
// them. REQUIRES: the caller holds what keeps every other writer of path out.
void RemoveLeftoverTemporaries(const std::string& path);

}  // namespace brontel
