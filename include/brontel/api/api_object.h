// ApiObject: the entry points that the calendar and the contact API objects
// share: the result of the last operation, the notices, the logging switches
// and log list, the time log and the files of the cache directory.
//
// Both API objects derive from it next to their handle; it reaches their
// holder through apiHolder(). Every operation requires a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/log_able.h"
#include "brontel/core/log_list.h"
#include "brontel/host/user_notice_manager.h"

namespace brontel {

class ApiObjectHolder;

class ApiObject {
 public:
  // The conflicts found by the last operation.
  int32_t SyncConflicts() const;
  int32_t GetConflictCount() const { return SyncConflicts(); }
  // The text for the last error result.
  const std::string& GetErrorMessage() const;
  UserNoticeManager& GetUserNoticeManager() const;
  const std::string& GetDirectory() const;
  // True when the cache file cannot be opened for reading.
  bool IsNewDesktop() const;

  // True when any of bits is set in the logging mask (-1: any bit at all).
  bool IsLogging(int32_t bits) const;
  void Log(const std::string& label, const std::string& text);
  void Log(const std::string& label, const LogAble& item);
  LogList& GetLogList() const;
  void TimeLogBegin(const std::string& label);
  void TimeLogEnd(const std::string& label);
  void TimeLogEnd();
  // Writes the log list as a log file named after the last cache sequence.
  void WriteSLogFile(const std::string& tail);

  // Path of a file of the cache directory.
  std::string PathOf(const char* name) const;

 protected:
  ApiObject() = default;
  ApiObject(const ApiObject&) = default;
  ApiObject& operator=(const ApiObject&) = default;
  virtual ~ApiObject() = default;
  virtual ApiObjectHolder* apiHolder() const = 0;
};

}  // namespace brontel
