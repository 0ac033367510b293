#include "brontel/api/api_object.h"

#include "api_object_holder.h"

namespace brontel {

int32_t ApiObject::SyncConflicts() const {
  return apiHolder()->m_conflicts;
}
const std::string& ApiObject::GetErrorMessage() const {
  return apiHolder()->m_errorMessage;
}
UserNoticeManager& ApiObject::GetUserNoticeManager() const {
  return apiHolder()->m_notices;
}
const std::string& ApiObject::GetDirectory() const {
  return apiHolder()->m_directory;
}
bool ApiObject::IsNewDesktop() const {
  return apiHolder()->cacheMissing();
}
bool ApiObject::IsLogging(int32_t bits) const {
  return apiHolder()->IsLogging(bits);
}
void ApiObject::Log(const std::string& label, const std::string& text) {
  apiHolder()->m_log.Log(label, text);
}
void ApiObject::Log(const std::string& label, const LogAble& item) {
  apiHolder()->m_log.Log(label, item);
}
LogList& ApiObject::GetLogList() const {
  return apiHolder()->m_log;
}
void ApiObject::TimeLogBegin(const std::string& label) {
  apiHolder()->TimeLogBegin(label);
}
void ApiObject::TimeLogEnd(const std::string& label) {
  apiHolder()->TimeLogEnd(label);
}
void ApiObject::TimeLogEnd() {
  apiHolder()->TimeLogEnd();
}
void ApiObject::WriteSLogFile(const std::string& tail) {
  ApiObjectHolder* h = apiHolder();
  h->writeSLogFile(h->m_lastSequence, tail);
}
std::string ApiObject::PathOf(const char* name) const {
  return apiHolder()->PathOf(name);
}

}  // namespace brontel
