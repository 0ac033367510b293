// CalendarServerTransformation: one server pass of a calendar synchronization.
// It compares the calendar cache with the server shadow (the copy of what the
// server last acknowledged), writes the differences into one request, sends it,
// lets the responder apply the server's answer to the shadow, and then carries
// the server's changes from the shadow into the cache (the shared update). The
// API object runs passes 0 (clicks and the server's update), 1 (calendars), 2
// (events and their placements) and 3 (deletions), each with a fresh engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/log_able.h"

namespace brontel {

class LogList;
class TimeLogger;
class UserNoticeManager;
class XmlRequestor;

class CalendarServerTransformation : public LogAble {
 public:
  static constexpr char kLogNodeName[] = "CalendarServerTransformationLog";
  static constexpr int32_t kPassCount = 4;

  // Pass 0, an empty cache and an empty shadow, no time logger, no notices.
  CalendarServerTransformation();
  // Copies share the cache and managers; Clone() copies them.
  CalendarServerTransformation(const CalendarServerTransformation& other);
  CalendarServerTransformation& operator=(const CalendarServerTransformation& other);
  ~CalendarServerTransformation() override;

  // The fields the API object sets before the pass and reads back after it.
  int32_t GetPass() const { return m_pass; }
  // REQUIRES: 0 <= pass < kPassCount.
  void SetPass(int32_t pass);
  const std::string& GetRevision() const { return m_revision; }
  void SetRevision(const std::string& revision) { m_revision = revision; }
  CalendarCache GetCache() const { return m_cache; }
  void SetCache(const CalendarCache& cache) { m_cache = cache; }
  CalendarManager GetServerShadow() const { return m_serverShadow; }
  void SetServerShadow(const CalendarManager& shadow) { m_serverShadow = shadow; }
  // Keeps clones of the cache and the shadow as they are now, for the
  // before/after display.
  void KeepBefore();
  void SetTimeLogger(TimeLogger* timeLogger) { m_timeLogger = timeLogger; }
  void SetUserNotices(UserNoticeManager* notices) { m_userNotices = notices; }

  const std::string& GetRequest() const { return m_request; }
  const std::string& GetResponse() const { return m_response; }
  int32_t SyncConflicts() const { return m_conflicts; }
  const std::string& GetErrorMessage() const { return m_errorMessage; }
  // Every record the shared update adds or reconciles is stamped with it.
  BR_SOURCE GetSource() const { return SOURCE_SERVER; }

  // Runs the pass: builds the request, and when send is true sends it to the
  // server of the settings; when send is false, the response already held (a
  // logged exchange) is applied instead. A pass with nothing to send returns
  // ERR_NONE without contacting the server. A later pass whose shadow is not
  // in step with the cache returns ERR_NO_SERVER_UPDATE before anything is
  // sent. Transport and parse errors come back with the requestor's message,
  // and then the shared update does not run. log and callback may be null.
  br_error SyncServer(LogList* log, const char* directory, SyncProgressCallback callback,
                      bool send);

  // A copy whose cache and managers are clones.
  CalendarServerTransformation Clone() const;
  bool SanityCheck() const;

  // "Calendar Server Tranformation".
  std::string GetDisplayString() const override;
  // "cache before", "server before", "server after" and "cache after %d
  // conflicts (%s)".
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
  // Replays the pass on a clone with the logged response, sending nothing.
  void Activate(int32_t mode, const std::string& argument) override;

 private:
  // Each request step returns the number of record operations it wrote.
  int32_t requestCommerceSync(CalendarManager& cache, CalendarManager& shadow,
                              XmlRequestor& requestor);
  int32_t requestCalendarSync(CalendarManager& cache, CalendarManager& shadow,
                              XmlRequestor& requestor, bool sendNewAndChanged, bool sendDeletes);
  int32_t requestEventSync(CalendarManager& cache, CalendarManager& shadow,
                           XmlRequestor& requestor);
  // Each shared-update step returns the conflicts it found.
  int32_t shareUpdate(CalendarCache& cache, CalendarManager& shadow);
  int32_t shareUpdateCalendars(CalendarCache& cache, CalendarManager& shadow);
  int32_t shareUpdateEvents(CalendarCache& cache, CalendarManager& shadow);
  int32_t shareUpdateCalendarEvents(CalendarCache& cache, CalendarManager& shadow);
  int32_t shareUpdateReadOnlyCalendars(CalendarCache& cache, CalendarManager& shadow);
  // The cache's event k takes the data of the newer server event s, keeping
  // k's alarm and use mark; a local edit of k becomes its conflict. Returns the
  // conflicts made (0 or 1).
  int32_t takeServerEvent(Event& k, const Event& s);
  void timeLogBegin(const std::string& label);
  void timeLogEnd();

  CalendarCache m_cacheBefore;
  CalendarManager m_serverBefore;
  CalendarCache m_cache;
  CalendarManager m_serverShadow;
  std::string m_request;
  std::string m_response;
  std::string m_revision;
  int32_t m_pass = 0;
  int32_t m_conflicts = 0;
  std::string m_errorMessage;
  TimeLogger* m_timeLogger = nullptr;
  UserNoticeManager* m_userNotices = nullptr;
};

}  // namespace brontel
