// FileLock: an exclusive lock on a lock file, held until Release or destruction.
//
// The lock excludes every other holder of the same file: other processes and
// other FileLock objects of the same process alike (the lock belongs to the open
// file, not to the process). While another holder has it, Acquire waits in steps
// without limit; when the lock file cannot be opened at all, Acquire gives up
// after a while and the caller runs without the lock, and the file is never deleted.
#pragma once

#include <chrono>
#include <optional>
#include <string>

namespace brontel {

// How a FileLock waits. The defaults are the library's; tests shorten them.
struct FileLockTiming {
  // Pause between two tries, while another holder has the lock or while the
  // lock file cannot be opened.
  std::chrono::milliseconds retryInterval{100};
  // How long Acquire keeps trying when the lock file cannot be opened (missing
  // or read-only directory, no permission) before it runs without the lock.
  std::chrono::milliseconds openGiveUp{30000};
};

class FileLock {
 public:
  // The lock on the file at path (for example <directory>/cachecal.lck); nothing
  // is opened until Acquire.
  explicit FileLock(std::string path, FileLockTiming timing = {});
  // Releases the lock when it is held.
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;

  // Opens (creates) the lock file and locks it. Waits without limit while
  // another holder has the lock. When the file cannot be opened or locked for
  // other reasons, tries again until openGiveUp has passed, then writes a
  // diagnostic line and returns false: the caller goes on without the lock.
  // Returns IsHeld().
  // REQUIRES: !IsHeld().
  bool Acquire();

  // As Acquire, but waits at most limit in every case (also while another holder
  // has the lock); on giving up writes a diagnostic line and returns false.
  // REQUIRES: !IsHeld().
  bool TryAcquireFor(std::chrono::milliseconds limit);

  // Unlocks and closes the lock file; does nothing when the lock is not held.
  void Release();

  bool IsHeld() const { return m_fd >= 0; }
  const std::string& path() const { return m_path; }

 private:
  // Both Acquire forms: tries until the lock is held, until limit has passed
  // (no limit when absent), or until the lock file has been unavailable for
  // openGiveUp without a break.
  bool AcquireWithin(std::optional<std::chrono::milliseconds> limit);

  std::string m_path;
  FileLockTiming m_timing;
  int m_fd = -1;
};

}  // namespace brontel
