#include "api_object_holder.h"

#include <fcntl.h>

#include "api_files.h"
#include "brontel/core/log_file.h"
#include "brontel/host/registry.h"
#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"

namespace brontel {

ApiObjectHolder::~ApiObjectHolder() {
  TimeLogEnd(m_family.objectName);
  if (IsLoggingRecords() && !m_directory.empty()) writeSLogFile(m_lastSequence, "_end");
}

void ApiObjectHolder::Open(const std::string& directory) {
  m_directory = directory;
  checkRegistryFlags();
  TimeLogBegin(m_family.objectName);
  if (!IsLogging(-1)) return;
  CRegistry registry;
  m_log.Log("sync settings",
            Format("palmAB=%x markAB=%x palmDB=%x markDB=%x", registry.GetSyncPalmAB(),
                   registry.GetSyncMarkAB(), registry.GetSyncPalmDB(), registry.GetSyncMarkDB()));
  m_log.Log("sync url", registry.GetServerSyncUrl());
  m_log.Log("sync name", registry.GetServerSyncName());
  m_log.Log("news url", registry.GetServerNewsUrl());
  m_log.Log("community url", registry.GetServerCommunityUrl());
}

void ApiObjectHolder::serializeState(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteString(m_suffix);
    ar.WriteString(m_errorMessage);
    ar.WriteInt(m_conflicts);
    ar.WriteBytes(m_gid.Bytes(), UID128::kByteCount);
  } else {
    m_suffix = ar.ReadString();
    m_errorMessage = ar.ReadString();
    m_conflicts = ar.ReadInt();
    uint8_t bytes[UID128::kByteCount];
    ar.ReadBytes(bytes, sizeof bytes);
    m_gid = UID128(bytes);
  }
}

void ApiObjectHolder::checkRegistryFlags() {
  CRegistry registry;
  m_loggingMask = registry.GetSyncLogging();
  if (m_loggingMask & 1) m_loggingMask |= 0xF6;
  int32_t timeLogging = registry.GetTimeLogging();
  if (timeLogging != 0 && m_timeLogger == nullptr && !m_directory.empty()) {
    m_timeLogger = std::make_unique<TimeLogger>();
    m_timeLogger->SetLogPath(PathOf(Format(m_family.timeLogFormat, m_suffix.c_str())),
                             timeLogging > 1, true);
  }
  m_echoCheck = registry.GetEchoLogging() == 1;
}

std::unique_ptr<FileLock> ApiObjectHolder::takeLock() const {
  // The directory comes first, so that two programs starting on a new profile
  // still exclude each other.
  EnsureDirectory(m_directory);
  auto lock = std::make_unique<FileLock>(PathOf(m_family.lockFile));
  if (lock->Acquire()) removeLeftoverTemporaries();
  return lock;
}

std::unique_ptr<FileLock> ApiObjectHolder::takeLockWithin(std::chrono::milliseconds limit) const {
  EnsureDirectory(m_directory);
  auto lock = std::make_unique<FileLock>(PathOf(m_family.lockFile));
  if (!lock->TryAcquireFor(limit)) return nullptr;
  removeLeftoverTemporaries();
  return lock;
}

void ApiObjectHolder::removeLeftoverTemporaries() const {
  // Every writer of these files holds the lock, so a temporary file of theirs
  // that exists now was left by a process that ended while writing it. The
  // backups are left alone: the other family writes the same backup names
  // under its own lock.
  for (const char* name :
       {m_family.cacheFile, m_family.handheldShadowFile, m_family.serverShadowFile}) {
    RemoveLeftoverTemporaries(PathOf(name));
  }
}

br_error ApiObjectHolder::damaged(const std::string& path) {
  m_errorMessage = "Damaged file " + path;
  return ERR_DAMAGED_FILE;
}

br_error ApiObjectHolder::writeFailed(const std::string& path) {
  m_errorMessage = "Unable to write file " + path;
  return ERR_WRITE_FAILED;
}

br_error ApiObjectHolder::readStored(const std::string& name,
                                     const std::function<void(Archive&)>& read, bool* missing) {
  std::string path = PathOf(name);
  ReadResult result = ReadStoredFile(path, read);
  *missing = result.status == ArchiveStatus::kNotFound;
  if (*missing) {
    DebugLine("Unable to open file " + path + " for reading\n");
    return ERR_NONE;
  }
  return result.ok() ? ERR_NONE : damaged(path);
}

br_error ApiObjectHolder::writeStored(const std::string& name,
                                      const std::function<void(Archive&)>& write) {
  std::string path = PathOf(name);
  return WriteStoredFile(path, write) ? ERR_NONE : writeFailed(path);
}

br_error ApiObjectHolder::writeStoredIfChanged(const std::string& name,
                                               const std::function<void(Archive&)>& write) {
  std::string path = PathOf(name);
  return WriteStoredFileIfChanged(path, write) ? ERR_NONE : writeFailed(path);
}

br_error ApiObjectHolder::discardFilesAfterBackup() {
  std::string backup;
  if (!BackUpFile(PathOf(m_family.cacheFile), &backup)) return writeFailed(backup);
  for (const char* name :
       {m_family.cacheFile, m_family.handheldShadowFile, m_family.serverShadowFile}) {
    FileSystem::Current().Unlink(PathOf(name));
  }
  return ERR_NONE;
}

void ApiObjectHolder::writeSLogFile(uint32_t sequence, const std::string& tail) {
  m_lastSequence = sequence;
  std::string name = Format(m_family.logFileFormat, sequence, m_suffix.c_str(), tail.c_str());
  std::string error;
  std::string label = std::string(m_family.objectName) + " log";
  if (!WriteLogFile(PathOf(name), label, m_log, &error)) DebugLine(error);
}

bool ApiObjectHolder::cacheMissing() const {
  FileSystem& fs = FileSystem::Current();
  int fd = fs.Open(PathOf(m_family.cacheFile), O_RDONLY, 0);
  if (fd < 0) return true;
  fs.Close(fd);
  return false;
}

}  // namespace brontel
