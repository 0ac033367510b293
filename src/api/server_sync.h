// The server entry points of the two API families, written once over the
// family's engine, cache and manager types: one server pass (read the cache
// and the server shadow, run the engine, write both back), the diagnostic echo
// check, and the request for a new account id.
//
// A pass writes its cache before its server shadow, and the shadow only when
// the cache was written: a shadow ahead of its cache would make the next pass
// take what the server just delivered for local deletions and send them.
// A pass that sends nothing writes neither.
//
// The passes of one synchronization run under one lock, so the files change
// only through them: the first pass reads the cache and the shadow, and each
// later pass starts from what the one before left in memory (ServerPassState).
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

// The cache and the server shadow from one pass of a synchronization to the
// next. What a pass leaves is what the next would read from the files: a pass
// that wrote them left what it wrote (reading the cache back would step its
// sequence, which the next pass does instead), and a pass that sent nothing
// left the files as they were and the two managers changed only by what every
// pass does to them the same way before it decides: fixed ids drawn in order
// from the cache's sequence, the shadow's marks cleared, an empty shadow in
// place of another account's. After a failed pass nothing is kept.
template <class Cache, class Manager>
struct ServerPassState {
  Cache cache;
  Manager shadow;
  bool loaded = false;
  bool written = false;  // by the last pass
};

// One server pass with engine, already told its pass and its request header
// text (tag), from state (filled from the files when empty). letter is
// appended to the suffix while records are logged.
template <class Cache, class Manager, class Engine>
br_error RunServerPass(ApiObjectHolder& h, Engine& engine, int32_t pass, const char* letter,
                       const std::string& tag, SyncProgressCallback callback,
                       ServerPassState<Cache, Manager>& state) {
  engine.SetTimeLogger(h.m_timeLogger.get());
  engine.SetUserNotices(&h.m_notices);
  ReportSyncProgress(callback, gettingSyncDataReady, h.m_timeLogger.get());
  const std::string savedSuffix = h.m_suffix;
  const bool logging = h.IsLoggingRecords();
  if (logging) h.m_suffix += letter;
  auto finish = [&](br_error result) {
    h.m_suffix = savedSuffix;
    if (result != ERR_NONE) state = ServerPassState<Cache, Manager>();
    return result;
  };

  br_error result = ERR_NONE;
  if (!state.loaded) {
    state.cache = Cache();
    state.shadow = Manager::CreateEmpty();
    result = ReadCache(h, state.cache, false);
    if (result == ERR_NONE) result = ReadServerShadow(h, state.shadow, false);
    if (result != ERR_NONE) return finish(result);
    state.loaded = true;
  } else if (state.written) {
    state.cache.Increment();
  }
  state.written = false;
  Cache& cache = state.cache;
  Manager& shadow = state.shadow;
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

  cache = engine.GetCache();
  shadow = engine.GetServerShadow();
  if (engine.GetRequest().empty()) {
    logPass();
    return finish(ERR_NONE);
  }
  result = WriteCache(h, cache, false, true);
  if (result == ERR_NONE) {
    if (logging && h.m_echoCheck) EchoCheck(h, shadow, tag);
    result = WriteServerShadow(h, shadow, false);
  }
  state.written = result == ERR_NONE;
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
