// ApiObjectHolder: the state and file machinery that the calendar and the
// contact API objects share.
//
// Each family names its files and logging bits in an ApiFamily; the holder
// keeps the cache directory, the log list, the logging switches read from the
// settings store, the time logger, the notices and the result of the last
// operation, and reads and writes the family's stored files under its lock.
// A file that exists but cannot be read gives ERR_DAMAGED_FILE and a file that
// cannot be written ERR_WRITE_FAILED, each with a message naming the path.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "brontel/core/enumerations.h"
#include "brontel/core/handle.h"
#include "brontel/core/log_list.h"
#include "brontel/core/uid128.h"
#include "brontel/host/time_logger.h"
#include "brontel/host/user_notice_manager.h"
#include "brontel/platform/archive_file.h"
#include "brontel/platform/file_lock.h"
#include "gid_propagation.h"

namespace brontel {

// What tells the two API families apart.
struct ApiFamily {
  const char* objectName;          // "CalendarApi": time-log label, log list name
  const char* lockFile;            // lock file of the family's stored files
  const char* cacheFile;           // the cache file
  const char* handheldShadowFile;  // the handheld shadow
  const char* serverShadowFile;    // the server shadow
  const char* timeLogFormat;       // Format() of the time log name, with the suffix
  const char* logFileFormat;       // Format() of log file names: sequence, suffix, tail
  int32_t recordLoggingBit;        // logs the engines' records and names files per pass
  const char* otherCacheName;      // "contact cache": the other family's cache, for messages
  // Gives an account id to the other family's cache in a directory when that
  // cache has none (PassPendingGID).
  GIDPass (*passGID)(const std::string& directory, const UID128& gid);
};

// How long a family waits for the other family's lock when passing on the
// account id. No lock of its own is held then, so the wait only delays the
// caller; it is bounded for a program that holds the other family's lock
// for long (a long server synchronization), which the caller then learns of.
inline constexpr std::chrono::milliseconds kOtherFamilyLockWait{10000};

class ApiObjectHolder : public Holder {
 public:
  explicit ApiObjectHolder(const ApiFamily& family) : m_family(family) {}
  ~ApiObjectHolder() override;

  // Stores the directory, reads the settings, starts the time log and logs the
  // settings when any logging bit is set.
  void Open(const std::string& directory);

  // Logging bit 8 (with the record bit) writes a log file after every cache
  // write; bits -1 asks whether any bit is set.
  static constexpr int32_t kLogEveryWrite = 8;
  bool IsLogging(int32_t bits) const {
    return bits == -1 ? m_loggingMask != 0 : (m_loggingMask & bits) != 0;
  }
  bool IsLoggingRecords() const { return IsLogging(m_family.recordLoggingBit); }
  void TimeLogBegin(const std::string& label) {
    if (m_timeLogger != nullptr) m_timeLogger->MarkBegin(label);
  }
  void TimeLogEnd(const std::string& label) {
    if (m_timeLogger != nullptr) m_timeLogger->MarkEnd(label);
  }
  void TimeLogEnd() {
    if (m_timeLogger != nullptr) m_timeLogger->MarkEnd();
  }
  std::string PathOf(const std::string& name) const { return m_directory + "/" + name; }

  // The result of the last operation and the account id, in the diagnostic
  // form of the API objects (no file of the cache directory uses it).
  void serializeState(Archive& ar);

  // Reads the logging switches and creates the time logger on first need.
  void checkRegistryFlags();
  // Creates the directory when missing, then takes the family's lock; once
  // held, removes the temporary files of the family's stored files that a
  // process left when it ended in the middle of a write.
  std::unique_ptr<FileLock> takeLock() const;
  // Takes the family's lock waiting at most limit; null when it could not.
  std::unique_ptr<FileLock> takeLockWithin(std::chrono::milliseconds limit) const;
  void removeLeftoverTemporaries() const;

  // Reads the stored file name with read(). A missing file gives ERR_NONE and
  // *missing = true (with a diagnostic line); a file that cannot be read whole
  // gives ERR_DAMAGED_FILE.
  br_error readStored(const std::string& name, const std::function<void(Archive&)>& read,
                      bool* missing);
  // Replaces the stored file name atomically; ERR_WRITE_FAILED when it could not.
  br_error writeStored(const std::string& name, const std::function<void(Archive&)>& write);
  // As writeStored, but a file that already holds the bytes to store is left
  // as it is (a shadow that a synchronization without changes hands back).
  // REQUIRES: the family's lock is held.
  br_error writeStoredIfChanged(const std::string& name,
                                const std::function<void(Archive&)>& write);
  br_error damaged(const std::string& path);
  br_error writeFailed(const std::string& path);

  // Copies the cache to the next numbered backup, then deletes the cache and
  // both shadows. Without a copy nothing is deleted and ERR_WRITE_FAILED
  // results.
  br_error discardFilesAfterBackup();

  // Writes the log list as a log file for sequence, with the suffix and tail.
  void writeSLogFile(uint32_t sequence, const std::string& tail);
  // True when the cache file cannot be opened for reading.
  bool cacheMissing() const;

  const ApiFamily& m_family;
  std::string m_directory;
  LogList m_log;
  bool m_echoCheck = false;
  int32_t m_loggingMask = 0;
  std::string m_suffix;
  std::unique_ptr<TimeLogger> m_timeLogger;
  // The account id as last read from or written to the cache.
  UID128 m_gid;
  // An account id of this family's cache that the other family's cache may
  // still lack: given to it once this family's lock is released, and kept
  // for the next operation when it could not be (empty: nothing to pass).
  UID128 m_gidToPass;
  int32_t m_conflicts = 0;
  std::string m_errorMessage;
  uint32_t m_lastSequence = 0;
  UserNoticeManager m_notices;
};

}  // namespace brontel
