// The server entry points of the two API families, written once over the
// family's engine, cache and manager types: one server pass (read the cache
// and the server shadow, run the engine, write both back), the diagnostic echo
// check, and the request for a new account id.
//
// A pass writes its cache before its server shadow, and the shadow only when
// the cache was written: a shadow ahead of its cache would make the next pass
// take what the server just delivered for local deletions and send them.
// A pass that sends nothing writes neither: what it did to them in memory
// (fixed ids drawn from the sequence it read, marks) is drawn again, the same,
// by the next pass that reads them, and nothing outside saw it.
#pragma once

#include <string>

#include "brontel/core/versioning.h"
#include "brontel/host/sync_progress.h"
#include "brontel/platform/format.h"
#include "brontel/protocol/xml_requestor.h"
#include "brontel/protocol/xml_responder.h"
#include "family_files.h"

namespace brontel {

inline bool HoldsRecords(const CalendarManager& manager) {
  return manager.GetCalendarList().GetListCount() > 0 || manager.GetEventList().GetListCount() > 0;
}
inline bool HoldsRecords(const CategoryManager& manager) {
  return manager.GetCategoryList().GetListCount() > 0;
}

// Asks the server for its whole state of the shadow's account and compares it
// with the shadow; a difference appends "_yuck" to the suffix and logs what
// each side holds that the other lacks. tag is the request header's revision
// or user text. Diagnostic only: nothing of it reaches a stored file.
template <class Manager>
void EchoCheck(ApiObjectHolder& h, const Manager& shadow, const std::string& tag) {
  Manager echo = Manager::CreateEmpty();
  echo.SetGID(shadow.GetGID());
  XmlResponder responder(echo, h.m_directory.c_str());
  XmlRequestor requestor(&responder, &h.m_log, h.m_timeLogger.get());
  h.TimeLogBegin("SyncServer echo request");
  requestor.SyncBegin(shadow.GetGID(), Versioning::InValidVersion(), 0, tag);
  requestor.SyncEnd();
  h.TimeLogEnd("SyncServer echo request");
  h.m_log.Log("....server echo", echo.Clone());
  Manager mine = shadow.Clone();
  Manager theirs = echo.Clone();
  if (mine.Verify(theirs)) return;
  h.m_suffix += "_yuck";
  if (HoldsRecords(mine)) h.m_log.Log("....server shadow DISCREPENCIES", mine);
  if (HoldsRecords(theirs)) h.m_log.Log("....server echo DISCREPENCIES", theirs);
}

// One server pass with engine, already told its pass and its request header
// text (tag). letter is appended to the suffix while records are logged.
template <class Cache, class Manager, class Engine>
br_error RunServerPass(ApiObjectHolder& h, Engine& engine, int32_t pass, const char* letter,
                       const std::string& tag, SyncProgressCallback callback) {
  engine.SetTimeLogger(h.m_timeLogger.get());
  engine.SetUserNotices(&h.m_notices);
  ReportSyncProgress(callback, gettingSyncDataReady, h.m_timeLogger.get());
  const std::string savedSuffix = h.m_suffix;
  const bool logging = h.IsLoggingRecords();
  if (logging) h.m_suffix += letter;
  auto finish = [&](br_error result) {
    h.m_suffix = savedSuffix;
    return result;
  };

  Cache cache;
  Manager shadow = Manager::CreateEmpty();
  br_error result = ReadCache(h, cache, false);
  if (result == ERR_NONE) result = ReadServerShadow(h, shadow, false);
  if (result != ERR_NONE) return finish(result);
  engine.SetCache(cache);
  engine.SetServerShadow(shadow);
  Cache before;
  if (logging) {
    before = cache.Clone();
    engine.KeepBefore();
  }

  result = engine.SyncServer(&h.m_log, h.m_directory.c_str(), callback, true);
  h.m_conflicts += engine.SyncConflicts();
  h.m_errorMessage = engine.GetErrorMessage();
  auto logPass = [&] {
    if (!logging) return;
    h.m_log.Log(Format("server pass %d req=%d resp=%d", pass,
                       static_cast<int32_t>(engine.GetRequest().size()),
                       static_cast<int32_t>(engine.GetResponse().size())),
                engine.Clone());
  };
  if (result != ERR_NONE) {
    // The server shadow stays as it was; the cache file is rewritten as read.
    if (logging) WriteCache(h, before, false, false);
    logPass();
    return finish(result);
  }

  if (engine.GetRequest().empty()) {
    logPass();
    return finish(ERR_NONE);
  }
  cache = engine.GetCache();
  shadow = engine.GetServerShadow();
  result = WriteCache(h, cache, false, true);
  if (result == ERR_NONE) {
    if (logging && h.m_echoCheck) EchoCheck(h, shadow, tag);
    result = WriteServerShadow(h, shadow, false);
  }
  logPass();
  return finish(result);
}

// Gives desktop the cache's account id, first asking the server for one when
// the cache has none. The server's refusal is not an error of this call: the
// answer is whether desktop has an account id afterwards, and the error
// message tells why not.
template <class Cache, class Manager>
bool RequestServerGID(ApiObjectHolder& h, Manager& desktop, const std::string& user,
                      const std::string& password) {
  h.checkRegistryFlags();
  {
    std::unique_ptr<FileLock> lock = h.takeLock();
    Cache cache;
    if (ReadCache(h, cache, true) != ERR_NONE) return !desktop.GetGID().IsZero();
    Manager cached = ManagerOf(cache);
    if (cached.GetGID().IsZero()) {
      Manager answer = Manager::CreateEmpty();
      XmlResponder responder(answer, h.m_directory.c_str());
      XmlRequestor requestor(&responder, &h.m_log, nullptr);
      if (requestor.RequestGIDFromServer(user, password) != ERR_NONE) {
        h.m_errorMessage = requestor.GetErrorMessage();
      }
      // An answer without an account id leaves every id as it was.
      if (!answer.GetGID().IsZero()) cached.SetGID(answer.GetGID());
    }
    // The caller's records take the account id only once the cache holds it.
    if (WriteCache(h, cache, true, true) == ERR_NONE && !cached.GetGID().IsZero()) {
      desktop.SetGID(cached.GetGID());
    }
  }
  return !desktop.GetGID().IsZero();
}

}  // namespace brontel
