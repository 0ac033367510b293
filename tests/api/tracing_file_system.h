// A FaultyFileSystem that also tells which file each injected failure hit, and
// keeps every content that a file name took through a rename (or lost through
// an unlink), so that a test can say what a file may hold after a failure.
#pragma once

#include <fcntl.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace brontel::testing {

class TracingFileSystem : public FaultyFileSystem {
 public:
  // As FailNth; Op::kNone injects nothing and only traces.
  void Fail(Op op, int nth, bool persistent) {
    FailNth(op, nth, persistent);
    m_nth = nth;
    m_persistent = persistent;
  }

  // The paths the injected failures hit, in order: the file written, synced,
  // read or renamed onto (a temporary file for a write in progress, the
  // directory for the sync of a rename).
  const std::vector<std::string>& Hits() const { return m_hits; }
  // For each file name (no directory), the contents it took, in order;
  // "<missing>" for an unlink. Temporary files are left out.
  const std::map<std::string, std::vector<std::string>>& Versions() const { return m_versions; }

  // How often the file name (no directory; a temporary file counts as the
  // file it replaces) was fsync'ed successfully. A directory's name is its
  // last component.
  int Syncs(const std::string& name) const {
    auto it = m_syncs.find(name);
    return it == m_syncs.end() ? 0 : it->second;
  }

  // How often the file name (no directory) was opened for reading only.
  int ReadOpens(const std::string& name) const {
    auto it = m_readOpens.find(name);
    return it == m_readOpens.end() ? 0 : it->second;
  }

  int Open(const std::string& path, int flags, uint32_t mode) override {
    const int fd = FaultyFileSystem::Open(path, flags, mode);
    if (fd >= 0) m_open[fd] = path;
    if (fd >= 0 && (flags & O_ACCMODE) == O_RDONLY) ++m_readOpens[NameOf(path)];
    return fd;
  }
  int Close(int fd) override {
    m_open.erase(fd);
    return FaultyFileSystem::Close(fd);
  }
  int64_t Read(int fd, void* buffer, size_t size) override {
    const int before = calls();
    const int64_t result = FaultyFileSystem::Read(fd, buffer, size);
    Note(before, result < 0, PathOf(fd));
    return result;
  }
  int64_t Write(int fd, const void* data, size_t size) override {
    const int before = calls();
    const int64_t result = FaultyFileSystem::Write(fd, data, size);
    Note(before, result < 0, PathOf(fd));
    return result;
  }
  int Fsync(int fd) override {
    const int before = calls();
    const int result = FaultyFileSystem::Fsync(fd);
    Note(before, result != 0, PathOf(fd));
    if (result == 0) ++m_syncs[NameOf(PathOf(fd))];
    return result;
  }
  int Rename(const std::string& from, const std::string& to) override {
    const int before = calls();
    const int result = FaultyFileSystem::Rename(from, to);
    Note(before, result != 0, to);
    if (result == 0) Keep(to, ReadFileOrMissing(to));
    return result;
  }
  int Unlink(const std::string& path) override {
    const int result = FaultyFileSystem::Unlink(path);
    if (result == 0) Keep(path, "<missing>");
    return result;
  }

  // The file name of path without directory and without the suffix of a
  // temporary file (".tmp" and a process id).
  static std::string NameOf(const std::string& path) {
    std::string name = path.substr(path.rfind('/') + 1);
    const size_t temp = name.find(".tmp");
    return temp == std::string::npos ? name : name.substr(0, temp);
  }

 private:
  std::string PathOf(int fd) const {
    auto it = m_open.find(fd);
    return it == m_open.end() ? std::string("<unknown>") : it->second;
  }
  void Note(int before, bool failed, const std::string& path) {
    if (calls() == before || !failed) return;
    if (m_persistent ? calls() >= m_nth : calls() == m_nth) m_hits.push_back(path);
  }
  void Keep(const std::string& path, const std::string& contents) {
    if (path.find(".tmp") != std::string::npos) return;
    m_versions[NameOf(path)].push_back(contents);
  }

  int m_nth = 0;
  bool m_persistent = false;
  std::map<int, std::string> m_open;
  std::map<std::string, int> m_readOpens;
  std::map<std::string, int> m_syncs;
  std::vector<std::string> m_hits;
  std::map<std::string, std::vector<std::string>> m_versions;
};

}  // namespace brontel::testing
