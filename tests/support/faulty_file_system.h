// A FileSystem for tests that fails a chosen operation: the Nth call of one
// kind (write, fsync, rename or read) fails once, or that call and every later
// one of its kind. Installed for the lifetime of the object.
#pragma once

#include <cerrno>
#include <cstdint>
#include <string>

#include "brontel/platform/file_system.h"

namespace brontel::testing {

class FaultyFileSystem : public FileSystem {
 public:
  enum class Op { kNone, kWrite, kFsync, kRename, kRead };

  FaultyFileSystem() { m_previous = FileSystem::Install(this); }
  ~FaultyFileSystem() override { FileSystem::Install(m_previous); }

  // Fails the nth (from 1) call of op, with ENOSPC for writes and EIO otherwise.
  void FailNth(Op op, int nth, bool persistent = false) {
    m_op = op;
    m_nth = nth;
    m_persistent = persistent;
    m_seen = 0;
  }
  int calls() const { return m_seen; }

  int64_t Read(int fd, void* buffer, size_t size) override {
    if (Trip(Op::kRead)) return Fail(EIO);
    return FileSystem::Read(fd, buffer, size);
  }
  int64_t Write(int fd, const void* data, size_t size) override {
    if (Trip(Op::kWrite)) return Fail(ENOSPC);
    return FileSystem::Write(fd, data, size);
  }
  int Fsync(int fd) override { return Trip(Op::kFsync) ? Fail(EIO) : FileSystem::Fsync(fd); }
  int Rename(const std::string& from, const std::string& to) override {
    return Trip(Op::kRename) ? Fail(EIO) : FileSystem::Rename(from, to);
  }

 private:
  bool Trip(Op op) {
    if (op != m_op) return false;
    ++m_seen;
    return m_persistent ? m_seen >= m_nth : m_seen == m_nth;
  }
  static int Fail(int err) {
    errno = err;
    return -1;
  }

  FileSystem* m_previous;
  Op m_op = Op::kNone;
  int m_nth = 0;
  bool m_persistent = false;
  int m_seen = 0;
};

}  // namespace brontel::testing
