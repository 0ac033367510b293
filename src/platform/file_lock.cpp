#include "brontel/platform/file_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>
#include <utility>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"

namespace brontel {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

enum class Attempt { kHeld, kBusy, kUnavailable };

// Locks the open lock file without waiting. Open-file-description locks make
// two descriptors of one process exclude each other, as two processes do; a
// file system without them falls back to flock, which has the same scope.
Attempt LockDescriptor(int fd) {
  struct flock region = {};
  region.l_type = F_WRLCK;
  region.l_whence = SEEK_SET;
  region.l_start = 0;
  region.l_len = 0;  // the whole file, however long it grows
  if (::fcntl(fd, F_OFD_SETLK, &region) == 0) return Attempt::kHeld;
  if (errno == EAGAIN || errno == EACCES) return Attempt::kBusy;
  if (errno != EINVAL) return Attempt::kUnavailable;
  if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return Attempt::kHeld;
  return errno == EWOULDBLOCK ? Attempt::kBusy : Attempt::kUnavailable;
}

// One try: opens (creates) the lock file and locks it. On kHeld *fd is the open
// descriptor; otherwise nothing stays open and *error holds the errno.
Attempt TryOnce(const std::string& path, int* fd, int* error) {
  FileSystem& fs = FileSystem::Current();
  int opened = fs.Open(path, O_RDWR | O_CREAT, 0600);
  if (opened < 0) {
    *error = errno;
    return Attempt::kUnavailable;
  }
  Attempt result = LockDescriptor(opened);
  if (result == Attempt::kHeld) {
    *fd = opened;
    return result;
  }
  *error = errno;
  fs.Close(opened);
  return result;
}

long long Millis(Clock::duration d) {
  return static_cast<long long>(std::chrono::duration_cast<milliseconds>(d).count());
}

}  // namespace

FileLock::FileLock(std::string path, FileLockTiming timing)
    : m_path(std::move(path)), m_timing(timing) {}

FileLock::~FileLock() {
  Release();
}

bool FileLock::Acquire() {
  BRONTEL_REQUIRE(!IsHeld(), "!IsHeld()");
  return AcquireWithin(std::nullopt);
}

bool FileLock::TryAcquireFor(milliseconds limit) {
  BRONTEL_REQUIRE(!IsHeld(), "!IsHeld()");
  return AcquireWithin(limit);
}

bool FileLock::AcquireWithin(std::optional<milliseconds> limit) {
  const Clock::time_point start = Clock::now();
  // Start of the current run of tries in which the file could not be opened or
  // locked; a try that finds the lock taken ends the run.
  std::optional<Clock::time_point> unavailableSince;
  for (;;) {
    int error = 0;
    Attempt attempt = TryOnce(m_path, &m_fd, &error);
    if (attempt == Attempt::kHeld) return true;

    const Clock::time_point now = Clock::now();
    if (attempt == Attempt::kBusy) {
      unavailableSince.reset();
    } else {
      if (!unavailableSince) unavailableSince = now;
      if (now - *unavailableSince >= m_timing.openGiveUp) {
        DebugLine(Format("Unable to lock file %s: %s; going on without the lock\n", m_path.c_str(),
                         std::strerror(error)));
        return false;
      }
    }
    if (limit && now - start >= *limit) {
      DebugLine(Format("Gave up waiting for lock file %s after %lld ms\n", m_path.c_str(),
                       Millis(now - start)));
      return false;
    }

    Clock::duration pause = m_timing.retryInterval;
    if (limit) pause = std::min(pause, start + *limit - now);
    if (attempt == Attempt::kUnavailable) {
      pause = std::min(pause, *unavailableSince + m_timing.openGiveUp - now);
    }
    if (pause > Clock::duration::zero()) std::this_thread::sleep_for(pause);
  }
}

void FileLock::Release() {
  if (m_fd < 0) return;
  // Closing the only descriptor of the open file releases its lock; the file
  // itself stays for the next holder.
  FileSystem::Current().Close(m_fd);
  m_fd = -1;
}

}  // namespace brontel
