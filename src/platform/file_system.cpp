#include "brontel/platform/file_system.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <vector>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

FileSystem g_default;
std::atomic<FileSystem*> g_current{&g_default};

std::string ErrorText(const char* what, const std::string& path, int err) {
  return Format("%s %s: %s", what, path.c_str(), std::strerror(err));
}

// The name of the temporary file that a process writes while it replaces path.
std::string TemporaryOf(const std::string& path, int pid) {
  return Format("%s.tmp%d", path.c_str(), pid);
}

std::string DirectoryOf(const std::string& path) {
  size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

// Opens target with flags and fsyncs it. On failure returns false with error
// set ("Unable to open <what>" or "Unable to sync <what>", naming path), and
// says so on the debug output.
bool OpenAndSync(const std::string& target, int flags, const char* what, const std::string& path,
                 std::string* error) {
  FileSystem& fs = FileSystem::Current();
  int fd = fs.Open(target, flags, 0);
  if (fd < 0) {
    const int err = errno;
    *error = ErrorText(Format("Unable to open %s", what).c_str(), path, err);
    DebugLine(*error);
    return false;
  }
  const bool synced = fs.Fsync(fd) == 0;
  if (!synced) {
    const int err = errno;
    *error = ErrorText(Format("Unable to sync %s", what).c_str(), path, err);
    DebugLine(*error);
  }
  fs.Close(fd);
  return synced;
}

// Fsyncs the directory that holds path, so that the name path (a rename onto
// it, say) is durable. On failure returns false with error set, and says so on
// the debug output.
bool SyncDirectoryOf(const std::string& path, std::string* error) {
  return OpenAndSync(DirectoryOf(path), O_RDONLY | O_DIRECTORY, "directory of", path, error);
}

}  // namespace

int FileSystem::Open(const std::string& path, int flags, uint32_t mode) {
  int fd;
  do {
    fd = ::open(path.c_str(), flags | O_CLOEXEC, static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  return fd;
}

int64_t FileSystem::Read(int fd, void* buffer, size_t size) {
  ssize_t n;
  do {
    n = ::read(fd, buffer, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

int64_t FileSystem::Write(int fd, const void* data, size_t size) {
  ssize_t n;
  do {
    n = ::write(fd, data, size);
  } while (n < 0 && errno == EINTR);
  return n;
}

int FileSystem::Fsync(int fd) {
  return ::fsync(fd);
}
int FileSystem::Close(int fd) {
  return ::close(fd);
}
int FileSystem::Rename(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str());
}
int FileSystem::Unlink(const std::string& path) {
  return ::unlink(path.c_str());
}

FileSystem& FileSystem::Current() {
  return *g_current.load();
}

FileSystem* FileSystem::Install(FileSystem* fs) {
  return g_current.exchange(fs != nullptr ? fs : &g_default);
}

bool FileSink::Append(const uint8_t* data, size_t size) {
  FileSystem& fs = FileSystem::Current();
  while (size > 0) {
    int64_t n = fs.Write(m_fd, data, size);
    if (n <= 0) {
      m_errno = n < 0 ? errno : EIO;
      return false;
    }
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

bool ReadWholeFile(const std::string& path, std::string* contents, std::string* error,
                   int* errorNumber) {
  FileSystem& fs = FileSystem::Current();
  int ignored = 0;
  int& err = errorNumber != nullptr ? *errorNumber : ignored;
  err = 0;
  int fd = fs.Open(path, O_RDONLY, 0);
  if (fd < 0) {
    err = errno;
    *error = ErrorText("Unable to open file", path, errno);
    DebugLine(*error);
    return false;
  }
  // The file's size, when the descriptor tells it, lets one read fill the
  // string; reading goes on until the end all the same, in case the file grew
  // or the descriptor has no size to tell.
  constexpr size_t kChunk = 64 * 1024;
  struct stat status {};
  size_t expected = 0;
  if (::fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size > 0) {
    expected = static_cast<size_t>(status.st_size);
  }
  contents->clear();
  contents->resize(expected + kChunk);
  size_t filled = 0;
  for (;;) {
    if (contents->size() - filled < kChunk) contents->resize(contents->size() * 2);
    int64_t n = fs.Read(fd, contents->data() + filled, contents->size() - filled);
    if (n < 0) {
      err = errno;
      *error = ErrorText("Unable to read file", path, errno);
      DebugLine(*error);
      fs.Close(fd);
      contents->clear();
      return false;
    }
    if (n == 0) break;
    filled += static_cast<size_t>(n);
  }
  contents->resize(filled);
  fs.Close(fd);
  return true;
}

bool ReplaceFileAtomically(const std::string& path,
                           const std::function<void(ByteSink& sink)>& write, std::string* error) {
  FileSystem& fs = FileSystem::Current();
  std::string temp = TemporaryOf(path, static_cast<int>(::getpid()));
  // Readable by the owner only: these files hold a person's calendars, contacts,
  // settings and logs of them.
  int fd = fs.Open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    *error = ErrorText("Unable to create file", temp, errno);
    DebugLine(*error);
    return false;
  }
  FileSink sink(fd);
  std::string failure;
  try {
    write(sink);
    if (sink.error() != 0) failure = ErrorText("Unable to write file", temp, sink.error());
  } catch (const ArchiveError& e) {
    failure = sink.error() != 0 ? ErrorText("Unable to write file", temp, sink.error())
                                : Format("Unable to write file %s: %s", temp.c_str(), e.what());
  }
  if (failure.empty() && fs.Fsync(fd) != 0) failure = ErrorText("Unable to sync file", temp, errno);
  if (fs.Close(fd) != 0 && failure.empty())
    failure = ErrorText("Unable to close file", temp, errno);
  if (failure.empty() && fs.Rename(temp, path) != 0) {
    failure = ErrorText("Unable to rename file onto", path, errno);
  }
  if (!failure.empty()) {
    fs.Unlink(temp);
    *error = failure;
    DebugLine(failure);
    return false;
  }
  // Make the rename itself durable. A failure here leaves a complete file under
  // one of the two names, so it is reported only as a diagnostic.
  std::string unsynced;
  SyncDirectoryOf(path, &unsynced);
  return true;
}

bool SyncFileInPlace(const std::string& path, std::string* error) {
  return OpenAndSync(path, O_RDONLY, "file", path, error) && SyncDirectoryOf(path, error);
}

void RemoveLeftoverTemporaries(const std::string& path) {
  const std::string directory = DirectoryOf(path);
  const size_t slash = path.rfind('/');
  // Temporary names are "<name>.tmp<process id>" (TemporaryOf).
  const std::string prefix = path.substr(slash == std::string::npos ? 0 : slash + 1) + ".tmp";
  DIR* listing = ::opendir(directory.c_str());
  if (listing == nullptr) return;
  std::vector<std::string> leftovers;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string name = entry->d_name;
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) continue;
    // Only "<name>.tmp<process id>": other files that merely start alike stay.
    if (name.find_first_not_of("0123456789", prefix.size()) != std::string::npos) continue;
    leftovers.push_back(directory + "/" + name);
  }
  ::closedir(listing);
  for (const std::string& leftover : leftovers) {
    if (FileSystem::Current().Unlink(leftover) == 0) {
      DebugLine("Removed " + leftover + ", left by a write that did not finish\n");
    }
  }
}

}  // namespace brontel
