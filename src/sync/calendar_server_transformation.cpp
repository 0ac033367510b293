#include "brontel/sync/calendar_server_transformation.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/log_node.h"
#include "brontel/core/versioning.h"
#include "brontel/host/sync_progress.h"
#include "brontel/host/time_logger.h"
#include "brontel/lists/flat_set.h"
#include "brontel/lists/link.h"
#include "brontel/platform/debug_sink.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"
#include "brontel/protocol/xml_requestor.h"
#include "brontel/protocol/xml_responder.h"
#include "unacknowledged_claim.h"

namespace brontel {
namespace {

// A removal the shared update relies on. The server's data decides what is
// removed, so a failure is reported on the debug output, never asserted.
void ExpectRemoved(bool result) {
  if (!result) DebugLine("result");
}

// The calendar descriptor's owned flag: only the owner sends a calendar.
bool IsOwned(const Calendar& calendar) {
  return calendar.GetCalendarDescriptor().GetOwnedFlag();
}

// Shared and not deleted: a calendar whose placements follow the server.
bool IsLiveShared(const Calendar& calendar) {
  return !calendar.IsDeleted() && calendar.GetCalendarDescriptor().GetSharedFlag();
}

// Whether requestCalendarSync, given the shared part of cache (its calendars
// with the shared flag) and shadow, would send anything; changes neither.
bool HasCalendarToSend(const CalendarManager& cache, const CalendarManager& shadow,
                       bool sendDeletes) {
  FlatSet<const void*> reached;
  const CalendarList& calendars = cache.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (c.IsNull() || !c.GetCalendarDescriptor().GetSharedFlag()) continue;
    Calendar m = shadow.FindMatchingCalendar(c, false);
    if (m.IsNull()) {
      if (!c.IsDeleted() && IsOwned(c)) return true;
      continue;
    }
    if (!m.Equal(c, true) && IsOwned(c)) return true;
    reached.Insert(m.HolderKey());
  }
  if (!sendDeletes) return false;
  const CalendarList& served = shadow.GetCalendarList();
  for (int32_t i = 0; i < served.GetListCount(); ++i) {
    const Calendar& u = served[i];
    if (!u.IsNull() && !u.IsDeleted() && !reached.Contains(u.HolderKey())) return true;
  }
  return false;
}

// Copies the alarm settings (flag, advance unit and time) of from into to.
void CopyAlarm(EventDescriptor& to, const EventDescriptor& from) {
  to.SetAlarmFlag(true);
  to.SetAlarmAdvanceUnit(from.GetAlarmAdvanceUnit());
  to.SetAlarmAdvanceTime(from.GetAlarmAdvanceTime());
}

// ---- Records the server took while its answer was lost ----

// A record of the answer that the engine would add to the cache as new: live,
// new since the cache's version, not yet bound to a cache record, and made
// from its server id alone (the answer named no local id of this client).
template <class Record>
bool ArrivedUnnamed(const Record& s, const CalendarManager& cacheManager) {
  return !s.IsNull() && !s.IsDeleted() && s.GetCacheId() == 0 && s.GetServeId() != 0 &&
         s.GetFixedId() == s.GetServeId() && cacheManager.IsNewToMe(s.GetRecordIdentification());
}

// The fixed ids of the calendars that event's placements are exchanged with
// the server in (live, shared, writable), sorted.
std::vector<uint32_t> ServerCalendarIds(const Event& event) {
  std::vector<uint32_t> ids;
  const CalendarEventList& links = event.GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    if (links[i].IsNull() || links[i].IsDeleted()) continue;
    Calendar calendar = links[i].GetParentCalendar();
    if (IsLiveShared(calendar) && !calendar.IsReadOnly()) ids.push_back(calendar.GetFixedId());
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

// Calendars and events of the answer that the server took from this client in
// an exchange whose answer never reached the cache take the fixed ids of the
// cache's unacknowledged copies (ClaimUnacknowledged): an owned shared
// calendar with the same descriptor, an event with the same data (its alarm,
// the user's own, aside) in the same server calendars. Calendars go first, so
// that an event in a claimed calendar compares by the fixed id it now shares.
void ClaimUnacknowledgedRecords(const CalendarCache& cache, const CalendarManager& shadow) {
  const CalendarManager cacheManager = cache.GetCalendarManager();
  // Every change pass follows a pass that gave the cache the server's version:
  // a cache without one has sent nothing yet. The records of a desktop that
  // joins the account with data of its own stay its own.
  if (!Versioning::IsValidVersion(cacheManager.GetVersion())) return;

  std::vector<Calendar> arrivedCalendars;
  const CalendarList& served = shadow.GetCalendarList();
  for (int32_t i = 0; i < served.GetListCount(); ++i) {
    const Calendar& s = served[i];
    if (ArrivedUnnamed(s, cacheManager) && cache.FindMatchingCalendar(s, false).IsNull()) {
      arrivedCalendars.push_back(s);
    }
  }
  std::vector<Calendar> pendingCalendars;
  const CalendarList& calendars = cacheManager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& k = calendars[i];
    if (!IsLiveShared(k) || !IsOwned(k) || k.GetFixedId() == 0) continue;
    if (shadow.FindByFixedId(k.GetFixedId(), false).IsNull()) pendingCalendars.push_back(k);
  }
  ClaimUnacknowledged(
      arrivedCalendars, pendingCalendars,
      [](const Calendar& c) { return c.GetCalendarDescriptor().GetCalendarName(); },
      [](const Calendar& s, const Calendar& k) {
        return k.GetCalendarDescriptor().Equal(s.GetCalendarDescriptor(), true);
      });

  std::vector<Event> arrivedEvents;
  const EventList& servedEvents = shadow.GetEventList();
  for (int32_t i = 0; i < servedEvents.GetListCount(); ++i) {
    const Event& s = servedEvents[i];
    if (ArrivedUnnamed(s, cacheManager) && cache.FindMatchingEvent(s, false).IsNull()) {
      arrivedEvents.push_back(s);
    }
  }
  std::vector<Event> pendingEvents;
  const EventList& events = cacheManager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& k = events[i];
    if (k.IsDeleted() || k.IsBogus() || k.GetFixedId() == 0) continue;
    if (k.GetEventDescriptor().GetIsPrivate() || !k.IsReadWriteShared()) continue;
    if (shadow.FindEventByFixedId(k.GetFixedId(), false).IsNull()) pendingEvents.push_back(k);
  }
  ClaimUnacknowledged(
      arrivedEvents, pendingEvents, [](const Event& e) { return e.GetEventDescriptor().GetName(); },
      [](const Event& s, const Event& k) {
        EventDescriptor mine = k.GetEventDescriptor();
        EventDescriptor theirs = s.GetEventDescriptor().Clone();
        if (mine.GetAlarmFlag()) CopyAlarm(theirs, mine);
        return theirs.Equal(mine) && ServerCalendarIds(s) == ServerCalendarIds(k);
      });
}

// A server event the responder could not give a fixed id (another event here
// holds the one it derives) takes the provisional id of its new cache event
// added, in the shadow's event s too, so that the two meet again next pass.
void GiveFixedId(CalendarCache& cache, Event& added, Event& s) {
  if (added.GetFixedId() == 0) s.SetFixedId(added.ForceFixedId(cache));
}

}  // namespace

CalendarServerTransformation::CalendarServerTransformation()
    : m_serverShadow(CalendarManager::CreateEmpty()) {}

CalendarServerTransformation::CalendarServerTransformation(
    const CalendarServerTransformation& other) = default;
CalendarServerTransformation& CalendarServerTransformation::operator=(
    const CalendarServerTransformation& other) = default;
CalendarServerTransformation::~CalendarServerTransformation() = default;

void CalendarServerTransformation::SetPass(int32_t pass) {
  BRONTEL_REQUIRE(pass >= 0 && pass < kPassCount, "pass >= 0 && pass < kPassCount");
  m_pass = pass;
}

void CalendarServerTransformation::KeepBefore() {
  m_cacheBefore = m_cache.Clone();
  m_serverBefore = m_serverShadow.IsNull() ? CalendarManager() : m_serverShadow.Clone();
}

CalendarServerTransformation CalendarServerTransformation::Clone() const {
  CalendarServerTransformation copy(*this);
  copy.m_cache = m_cache.Clone();
  copy.m_serverShadow = m_serverShadow.IsNull() ? CalendarManager() : m_serverShadow.Clone();
  copy.m_cacheBefore = m_cacheBefore.Clone();
  copy.m_serverBefore = m_serverBefore.IsNull() ? CalendarManager() : m_serverBefore.Clone();
  return copy;
}

bool CalendarServerTransformation::SanityCheck() const {
  if (m_serverShadow.IsNull()) return false;
  return m_cache.SanityCheck() && m_serverShadow.SanityCheck();
}

void CalendarServerTransformation::timeLogBegin(const std::string& label) {
  if (m_timeLogger != nullptr) m_timeLogger->MarkBegin(label);
}

void CalendarServerTransformation::timeLogEnd() {
  if (m_timeLogger != nullptr) m_timeLogger->MarkEnd();
}

br_error CalendarServerTransformation::SyncServer(LogList* log, const char* directory,
                                                  SyncProgressCallback callback, bool send) {
  br_error result = ERR_NONE;
  m_conflicts = 0;
  m_errorMessage.clear();
  CalendarManager cacheManager = m_cache.GetCalendarManager();

  // A shadow of another account (or none at all) tells nothing about what
  // this account's server holds: start from an empty one.
  if (m_serverShadow.IsNull() || !(cacheManager.GetGID() == m_serverShadow.GetGID())) {
    m_serverShadow = CalendarManager::CreateEmpty();
    m_serverShadow.ConfirmServerManager();
  }
  m_serverShadow.ForceFixedIdsCalendars(m_cache);

  bool laterPass = m_pass > 0;
  bool calendarPass = m_pass >= 1;
  bool eventPass = m_pass == 2;
  bool deletePass = m_pass == 3;

  // Only pass 0 may run on a shadow behind the cache: fetching the server's
  // update is what brings it in step.
  if (laterPass && !cacheManager.VersionsAreSynced(m_serverShadow)) {
    m_errorMessage = "Unable to obtain server update";
    return ERR_NO_SERVER_UPDATE;
  }

  // The responder marks what the answer touches, and a full answer deletes
  // every record it left unmarked: marks left over from earlier answers (links
  // the cache already knew stay marked) must not shield records from that.
  m_serverShadow.SetClean();
  XmlResponder responder(m_serverShadow, directory);
  XmlRequestor requestor(&responder, log, m_timeLogger);
  requestor.SyncBegin(cacheManager.GetGID(), m_serverShadow.GetVersion(),
                      m_serverShadow.GetDeltaVersion(), m_revision);

  cacheManager.ForceFixedIds(m_cache);
  // Passes 1 and 3 send calendars only: when none is to be sent, the copies
  // of both managers that the request is built from would be made for nothing.
  if (calendarPass && !eventPass && !HasCalendarToSend(cacheManager, m_serverShadow, deletePass)) {
    return ERR_NONE;
  }
  CalendarManager cacheClone = cacheManager.SharedClone();
  CalendarManager shadowClone = m_serverShadow.Clone();

  int32_t count = 0;
  if (m_pass == 0) {
    count = requestCommerceSync(cacheClone, shadowClone, requestor);
  } else if (calendarPass) {
    count = requestCalendarSync(cacheClone, shadowClone, requestor, true, deletePass);
    if (eventPass) count += requestEventSync(cacheClone, shadowClone, requestor);
  }
  if (count == 0) return ERR_NONE;

  std::string label;
  if (m_pass == 0) {
    ReportSyncProgress(callback, grabbingLatestChanges, m_timeLogger);
    label = Format("SyncServer update request[%d]", m_pass);
  } else {
    ReportSyncProgress(callback, sendingChangesToServer, m_timeLogger);
    label = Format("SyncServer change request[%d]", m_pass);
  }
  timeLogBegin(label);
  m_request = requestor.SyncRequest();
  if (send) {
    result = requestor.SyncServer(m_request);
    m_errorMessage = requestor.GetErrorMessage();
    m_response = requestor.GetResponse();
  }
  if (result == ERR_NONE) {
    result = requestor.SyncEnd(m_response);
    m_errorMessage = requestor.GetErrorMessage();
    if (result == ERR_NONE) ReportSyncProgress(callback, syncingWithServerData, m_timeLogger);
  }
  timeLogEnd();
  if (result == ERR_NONE) {
    ReportSyncProgress(callback, syncingWithServerData, m_timeLogger);
    timeLogBegin("shareUpdate");
    m_conflicts += shareUpdate(m_cache, m_serverShadow);
    timeLogEnd();
  }
  return result;
}

// ---- The request ----

int32_t CalendarServerTransformation::requestCommerceSync(CalendarManager& cache,
                                                          CalendarManager& shadow,
                                                          XmlRequestor& requestor) {
  // The server's copies of the events whose web content the user acted on.
  EventList clicks;
  const EventList& events = cache.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    if (e.IsDeleted() || e.GetUseMe() == 0) continue;
    Event m = shadow.FindMatchingEvent(e, false);
    if (!m.IsNull()) clicks.Append(m);
  }
  requestor.EventClicks(clicks);
  return 1;
}

// A calendar c of the cache and its match m in the shadow (by fixed id).
// Calendars the user does not own are never sent.
//
//   m       | c                              | operation
//   --------+--------------------------------+-----------------------------------
//   exists  | owned, not equal to m          | CalendarUpdate at m's version
//   exists  | equal, or not owned            | none
//   none    | live and owned                 | CalendarInsert by c's fixed id
//   none    | deleted or not owned           | none
//   untouched shadow calendar (delete pass)  | CalendarDelete unless deleted
int32_t CalendarServerTransformation::requestCalendarSync(CalendarManager& cache,
                                                          CalendarManager& shadow,
                                                          XmlRequestor& requestor,
                                                          bool sendNewAndChanged,
                                                          bool sendDeletes) {
  shadow.GetCalendarList().ClearTouched();
  std::vector<Calendar> inserts;
  std::vector<Calendar> updates;
  const CalendarList& calendars = cache.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    Calendar c = calendars[i];
    if (c.IsNull()) continue;
    Calendar m = shadow.FindMatchingCalendar(c, true);
    if (!m.IsNull()) {
      c.SetServeId(m.GetServeId());
      if (!m.Equal(c, true) && IsOwned(c)) {
        Calendar update = Calendar::CreateEmpty(0);
        update.Copy(c, true);
        update.SetVersion(m.GetVersion());
        updates.push_back(update);
      }
    } else {
      c.SetServeId(0);
      if (!c.IsDeleted() && IsOwned(c)) inserts.push_back(c);
    }
  }

  int32_t count = 0;
  if (sendNewAndChanged) {
    for (const Calendar& c : inserts) {
      requestor.CalendarInsert(c.GetCalendarDescriptor(), c.GetFixedId());
      ++count;
    }
    for (const Calendar& c : updates) {
      requestor.CalendarUpdate(c.GetCalendarDescriptor(), c.GetServeId(), c.GetVersion());
      ++count;
    }
  }
  if (sendDeletes) {
    CalendarList untouched = shadow.GetUntouched();
    for (Calendar& u : untouched.Snapshot()) {
      if (!u.IsDeleted()) {
        requestor.CalendarDelete(u.GetCalendarDescriptor(), u.GetServeId(), u.GetVersion());
        ++count;
      }
      u.Remove();
    }
    shadow.RemoveEmptyEvents(false);
  }
  return count;
}

// An event e of the cache and its match m in the shadow (by fixed id); V is
// m's version. "Changed" compares e's data with m's, an alarm that e has
// counting as m's too: alarms are the user's own and not a change to send.
//
//   m      | e                                   | operations
//   -------+-------------------------------------+--------------------------------
//   exists | deleted                             | EventDelete at V
//   exists | changed, e or m shared for writing  | EventUpdate at V, then links
//   exists | otherwise                           | link inserts/deletes at V
//   none   | live, shared for writing, a repeat  | EventClone of the parent's
//          |   exception whose parent m knows    |   server copy, link changes
//   none   | live, shared for writing, otherwise | EventInsert with e's links
//   none   | deleted, or not shared for writing  | none
//   untouched live shadow event                | EventDeleteLinks of the
//                                              |   placements the cache dropped
int32_t CalendarServerTransformation::requestEventSync(CalendarManager& cache,
                                                       CalendarManager& shadow,
                                                       XmlRequestor& requestor) {
  shadow.GetEventList().ClearTouched();
  int32_t count = 0;
  const EventList& events = cache.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    Event e = events[i];
    if (e.IsNull()) continue;
    if (e.IsBogus()) e.SetDeleted();
    Event m = shadow.FindMatchingEvent(e, true);
    EventDescriptor descriptor = e.GetEventDescriptor();
    if (!m.IsNull()) {
      uint32_t serveId = m.GetServeId();
      uint32_t version = m.GetVersion();
      e.SetServeId(serveId);
      if (e.IsDeleted()) {
        requestor.EventDelete(serveId, version, true);
        ++count;
        continue;
      }
      EventDescriptor server = m.GetEventDescriptor().Clone();
      if (descriptor.GetAlarmFlag()) CopyAlarm(server, descriptor);
      if (!server.Equal(descriptor) && (e.IsReadWriteShared() || m.IsReadWriteShared())) {
        requestor.EventUpdate(descriptor, serveId, version);
        ++count;
      }
      LinkList inserts;
      LinkList deletes;
      e.GenerateLinks(m, inserts, deletes);
      if (inserts.GetListCount() != 0) {
        requestor.EventInsertLinks(inserts, serveId, version);
        ++count;
      }
      if (deletes.GetListCount() != 0) {
        requestor.EventDeleteLinks(deletes, serveId, version);
        ++count;
      }
      continue;
    }
    e.SetServeId(0);
    if (e.IsDeleted() || !e.IsReadWriteShared()) continue;
    Event parent;
    if (e.GetDataHash() == 0 && e.HasParent()) {
      parent = shadow.FindEventByFixedId(e.GetParentEventFixedId(), false);
    }
    if (!parent.IsDeleted()) {
      LinkList inserts;
      LinkList deletes;
      e.GenerateLinks(parent, inserts, deletes);
      requestor.EventClone(descriptor, inserts, deletes, e.GetFixedId(), parent.GetServeId());
    } else {
      LinkList links;
      e.GenerateLinks(links);
      requestor.EventInsert(descriptor, links, e.GetFixedId());
    }
    ++count;
  }

  // A server event the cache no longer holds stays on the server; only its
  // placements in the cache's server calendars are withdrawn.
  EventList untouched = shadow.GetUntouchedEvents();
  for (int32_t i = 0; i < untouched.GetListCount(); ++i) {
    const Event& u = untouched[i];
    if (u.IsDeleted()) continue;
    LinkList inserts;
    LinkList deletes;
    Event().GenerateLinks(u, inserts, deletes, cache);
    if (deletes.GetListCount() == 0) continue;
    requestor.EventDeleteLinks(deletes, u.GetServeId(), u.GetVersion());
    ++count;
  }
  return count;
}

// ---- The shared update ----

int32_t CalendarServerTransformation::shareUpdate(CalendarCache& cache, CalendarManager& shadow) {
  CalendarManager cacheManager = cache.GetCalendarManager();
  if (Versioning::LessThan(cacheManager.GetPulsecastURLVersion(),
                           shadow.GetPulsecastURLVersion())) {
    cacheManager.SetPulsecastURL(shadow.GetPulsecastURL(), shadow.GetPulsecastURLVersion());
  }
  ClaimUnacknowledgedRecords(cache, shadow);
  int32_t conflicts = shareUpdateCalendars(cache, shadow);
  conflicts += shareUpdateEvents(cache, shadow);
  conflicts += shareUpdateCalendarEvents(cache, shadow);
  conflicts += shareUpdateReadOnlyCalendars(cache, shadow);
  shadow.RemoveEmptyEvents(false);
  cacheManager.RemoveEmptyEvents(false);
  // An answer without an account id leaves the shadow's empty: the cache
  // keeps its own rather than lose the account.
  if (!shadow.GetGID().IsZero()) cacheManager.SetGID(shadow.GetGID());
  cacheManager.SetVersion(shadow.GetVersion());
  return conflicts;
}

// A shadow calendar s and the cache's calendar k with its fixed id.
//
//   s's version  | k      | s against k | s            | action
//   -------------+--------+-------------+--------------+--------------------------------
//   new to cache | exists | newer       | deleted      | owned k: made private at s's
//                |        |             |              |   version; else k removed;
//                |        |             |              |   s removed
//   new to cache | exists | newer       | live         | k takes s's data, version,
//                |        |             |              |   status
//   new to cache | exists | not newer   | -            | s takes k's cache id only
//   new to cache | none   | -           | deleted      | s removed
//   new to cache | none   | -           | live         | s added to the cache
//   known        | -      | -           | deleted      | s removed
//   known        | exists | -           | live, no     | s takes k's cache id, k takes
//                |        |             |   cache id   |   s's version
// A conflict reported on a new s counts one.
int32_t CalendarServerTransformation::shareUpdateCalendars(CalendarCache& cache,
                                                           CalendarManager& shadow) {
  CalendarManager cacheManager = cache.GetCalendarManager();
  int32_t conflicts = 0;
  for (Calendar& s : shadow.GetCalendarList().Snapshot()) {
    s.SetClean();
    if (cacheManager.IsNewToMe(s.GetRecordIdentification())) {
      if (s.IsConflicted()) ++conflicts;
      Calendar k = cache.FindMatchingCalendar(s, false);
      if (!k.IsNull()) {
        s.SetCacheId(k.GetCacheId());
        if (s.CompareVersion(k) <= 0) continue;
        if (s.IsDeleted()) {
          if (IsOwned(k)) {
            CalendarDescriptor d = k.GetCalendarDescriptor();
            d.SetSharedFlag(false);
            d.SetReadOnlyFlag(false);
            d.SetHideDetailsFlag(false);
            k.SetVersion(s.GetVersion());
            k.SetDataHash(s.GetDataHash());
            k.SetSource(SOURCE_SERVER);
          } else {
            ExpectRemoved(k.Remove());
          }
          s.Remove();
        } else {
          k.GetCalendarDescriptor().Copy(s.GetCalendarDescriptor(), true);
          k.SetVersion(s.GetVersion());
          k.CopyStatus(s);
        }
      } else if (s.IsDeleted()) {
        s.Remove();
      } else {
        Calendar added = cache.AddItem(s);
        added.SetServeId(0);
        added.SetSource(SOURCE_SERVER);
      }
      continue;
    }
    if (s.IsDeleted()) {
      s.Remove();
    } else if (s.GetCacheId() == 0) {
      Calendar k = cache.FindMatchingCalendar(s, false);
      if (k.IsNull()) continue;
      s.SetCacheId(k.GetCacheId());
      k.SetVersion(s.GetVersion());
    }
  }
  return conflicts;
}

// A shadow event s and the cache's event k with its fixed id. Before k takes
// s's data, the incoming copy keeps k's alarm and use mark (the user's own);
// k counts as changed here unless its source is the server, it equals the
// incoming data, or its data hash still matches its data.
//
//   s's version  | k      | s                   | k here        | action
//   -------------+--------+---------------------+---------------+---------------------------
//   new to cache | none   | deleted             | -             | s removed
//   new to cache | none   | live                | -             | s added to the cache
//   new to cache | exists | not newer than k    | -             | s takes k's cache id only
//   new to cache | exists | deleted             | private       | s removed
//   new to cache | exists | deleted             | not private   | k and s removed
//   new to cache | exists | live                | unchanged     | k takes the incoming data
//   new to cache | exists | live                | changed       | k takes the incoming data,
//                |        |                     |               |   its own edit as conflict
//   known        | -      | live, in no calendar| -             | s removed
//   known        | exists | live, no cache id   | -             | s takes k's cache id, k
//                |        |                     |               |   takes s's version
// A conflict reported on a new s counts one, and so does each local edit kept
// as a conflict. A delivered click report clears both use marks.
int32_t CalendarServerTransformation::shareUpdateEvents(CalendarCache& cache,
                                                        CalendarManager& shadow) {
  CalendarManager cacheManager = cache.GetCalendarManager();
  int32_t conflicts = 0;
  for (Event& s : shadow.GetEventList().Snapshot()) {
    s.SetClean();
    if (cacheManager.IsNewToMe(s.GetRecordIdentification())) {
      if (s.IsConflicted()) ++conflicts;
      Event k = cache.FindMatchingEvent(s, false);
      if (k.IsNull()) {
        if (s.IsDeleted()) {
          s.Remove(true);
          continue;
        }
        Event added = cache.AddItem(s);
        added.SetServeId(0);
        added.SetSource(SOURCE_SERVER);
        GiveFixedId(cache, added, s);
      } else {
        s.SetCacheId(k.GetCacheId());
        if (s.CompareVersion(k) > 0) {
          if (s.IsDeleted()) {
            if (!k.GetEventDescriptor().GetIsPrivate()) ExpectRemoved(k.Remove(false));
            s.Remove(true);
            continue;
          }
          conflicts += takeServerEvent(k, s);
        }
      }
    } else if (!s.IsDeleted()) {
      if (s.GetCalendarEventList().GetListCount() == 0) {
        s.Remove(true);
        continue;
      }
      if (s.GetCacheId() == 0) {
        Event k = cache.FindMatchingEvent(s, false);
        if (!k.IsNull()) {
          s.SetCacheId(k.GetCacheId());
          k.SetVersion(s.GetVersion());
        }
      }
    }
    if (!s.IsDeleted() && s.GetUseMe() != 0) {
      Event k = cache.FindMatchingEvent(s, false);
      if (!k.IsNull()) {
        s.ClearUseMe();
        k.ClearUseMe();
      }
    }
  }
  return conflicts;
}

int32_t CalendarServerTransformation::takeServerEvent(Event& k, const Event& s) {
  EventDescriptor mine = k.GetEventDescriptor();
  EventDescriptor incoming = s.GetEventDescriptor().Clone();
  if (mine.GetAlarmFlag()) CopyAlarm(incoming, mine);
  incoming.SetUseMe(mine.GetUseMe());
  bool unchanged = k.GetSource() == SOURCE_SERVER || incoming.Equal(mine) || k.HashMatched();
  Event conflict;
  if (!unchanged) {
    conflict = Event::CreateEmpty(0);
    conflict.GetEventDescriptor().Copy(mine);
    conflict.SetVersion(s.GetVersion());
    conflict.CopyStatus(s);
    conflict.SetSource(k.GetSource());
  }
  mine.Copy(incoming);
  k.SetVersion(s.GetVersion());
  k.CopyStatus(s);
  k.SetConflict(conflict);
  return unchanged ? 0 : 1;
}

// A placement l of a shadow event s whose cache id names the cache event k,
// and k's placement m in l's calendar. "Foreign read-only": a calendar the
// user does not own and may only read; "live shared": shared, not deleted.
//
//   l's version known, calendar not foreign read-only:
//     live shared, l without cache id      -> l takes the cache id of k's
//                                             matching placement, which takes
//                                             l's version
//   otherwise (l is marked clean; a conflict on it counts one when live
//   shared):
//     l deleted                            -> l removed; m removed when the
//                                             calendar is live shared
//     l live, live shared, m exists        -> m takes l's version, l m's cache
//     id l live, live shared, no m            -> l added to k, when the cache
//     holds
//                                             the calendar
//     calendar not live shared             -> nothing in the cache
int32_t CalendarServerTransformation::shareUpdateCalendarEvents(CalendarCache& cache,
                                                                CalendarManager& shadow) {
  CalendarManager cacheManager = cache.GetCalendarManager();
  int32_t conflicts = 0;
  for (Event& s : shadow.GetEventList().Snapshot()) {
    if (s.GetCacheId() == 0) continue;
    Event k = cache.FindEventByCacheId(s.GetCacheId(), false);
    if (k.IsNull()) continue;
    for (CalendarEvent& l : s.GetCalendarEventList().Snapshot()) {
      Calendar calendar = l.GetParentCalendar();
      if (calendar.IsNull()) continue;
      bool foreignReadOnly = calendar.IsReadOnly();
      bool liveShared = IsLiveShared(calendar);
      if (!foreignReadOnly && !cacheManager.IsNewToMe(l.GetRecordIdentification())) {
        if (liveShared && l.GetCacheId() == 0) {
          CalendarEvent m = cache.FindMatchingCalendarEvent(k, l, false);
          if (!m.IsNull()) {
            l.SetCacheId(m.GetCacheId());
            m.SetVersion(l.GetVersion());
          }
        }
        continue;
      }
      if (liveShared && l.IsConflicted()) ++conflicts;
      l.SetClean();
      CalendarEvent m = cache.FindCalendarEventByCalendar(k, calendar, false);
      if (l.IsDeleted()) {
        l.Remove();
        if (liveShared && !m.IsNull()) ExpectRemoved(m.Remove());
      } else if (liveShared && !m.IsNull()) {
        m.SetVersion(l.GetVersion());
        l.SetCacheId(m.GetCacheId());
      } else if (liveShared && !cache.FindMatchingCalendar(calendar, false).IsNull()) {
        CalendarEvent added = cache.AddItem(k, l);
        if (!added.IsNull()) added.SetSource(SOURCE_SERVER);
      }
    }
  }
  return conflicts;
}

// A calendar the user may only read shows exactly what the server's copy
// shows: placements the server has and the cache lacks are added (their
// event first, when the cache does not hold it), and placements the user
// made or kept locally are removed.
int32_t CalendarServerTransformation::shareUpdateReadOnlyCalendars(CalendarCache& cache,
                                                                   CalendarManager& shadow) {
  for (Calendar& sc : shadow.GetCalendarList().Snapshot()) {
    if (sc.IsDeleted() || !sc.IsReadOnly()) continue;
    Calendar kc = cache.FindMatchingCalendar(sc, false);
    if (kc.IsNull()) continue;

    FlatSet<uint32_t> cached(static_cast<size_t>(kc.GetCalendarEventList().GetListCount()));
    for (const CalendarEvent& m : kc.GetCalendarEventList().Snapshot())
      cached.Insert(m.GetCacheId());
    for (CalendarEvent& l : sc.GetCalendarEventList().Snapshot()) {
      if (l.IsDeleted() || (l.GetCacheId() != 0 && cached.Contains(l.GetCacheId()))) continue;
      Event event = l.GetEvent();
      if (event.IsDeleted()) continue;
      Event k =
          event.GetCacheId() == 0 ? Event() : cache.FindEventByCacheId(event.GetCacheId(), false);
      if (k.IsNull()) {
        k = cache.AddItem(event);
        k.SetLocalId(0);
        k.SetSource(SOURCE_SERVER);
        GiveFixedId(cache, k, event);
      }
      // A repeat exception added just now may already show in its parent's
      // calendars.
      CalendarEvent m = cache.FindCalendarEventByCalendar(k, kc, false);
      if (m.IsNull()) {
        m = cache.AddItem(k, l);
        if (m.IsNull()) continue;
        m.SetSource(SOURCE_SERVER);
      } else {
        l.SetCacheId(m.GetCacheId());
      }
      cached.Insert(m.GetCacheId());
    }

    FlatSet<uint32_t> served(static_cast<size_t>(sc.GetCalendarEventList().GetListCount()));
    for (const CalendarEvent& l : sc.GetCalendarEventList().Snapshot()) {
      if (!l.IsDeleted() && l.GetCacheId() != 0) served.Insert(l.GetCacheId());
    }
    for (CalendarEvent& m : kc.GetCalendarEventList().Snapshot()) {
      if (!served.Contains(m.GetCacheId())) ExpectRemoved(m.Remove());
    }
  }
  return 0;
}

// ---- Display and stored form ----

std::string CalendarServerTransformation::GetDisplayString() const {
  return "Calendar Server Tranformation";
}

TreeItem CalendarServerTransformation::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  if (!m_serverBefore.IsNull()) {
    m_cacheBefore.DisplayTree(tree, tree.InsertItem("cache before", item));
    m_serverBefore.DisplayTree(tree, tree.InsertItem("server before", item));
  }
  if (!m_serverShadow.IsNull()) {
    m_serverShadow.DisplayTree(tree, tree.InsertItem("server after", item));
  }
  std::string after = Format("cache after %d conflicts (%s)", m_conflicts, m_errorMessage.c_str());
  m_cache.DisplayTree(tree, tree.InsertItem(after, item));
  return item;
}

void CalendarServerTransformation::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteInt(m_pass);
    ar.WriteInt(m_conflicts);
    ar.WriteString(m_errorMessage);
    ar.WriteString(m_request);
    ar.WriteString(m_response);
    if (m_serverShadow.IsNull()) m_serverShadow = CalendarManager::CreateEmpty();
  } else {
    int32_t pass = ar.ReadInt();
    if (pass < 0 || pass >= kPassCount) ar.Fail(ArchiveStatus::kBadValue, "bad server pass");
    m_pass = pass;
    m_conflicts = ar.ReadInt();
    m_errorMessage = ar.ReadString();
    m_request = ar.ReadString();
    m_response = ar.ReadString();
  }
  m_cache.SerializeQuick(ar, version);
  m_serverShadow.SerializeQuick(ar, version);
}

std::unique_ptr<LogNode> CalendarServerTransformation::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarServerTransformation>>(name, *this);
}

void CalendarServerTransformation::Activate(int32_t mode, const std::string&) {
  if (mode != 0) return;
  // The replay starts from the state before the pass when that was kept.
  CalendarServerTransformation replay = Clone();
  if (!m_serverBefore.IsNull()) {
    replay.m_cache = m_cacheBefore.Clone();
    replay.m_serverShadow = m_serverBefore.Clone();
  }
  replay.SyncServer(nullptr, "", nullptr, false);
}

}  // namespace brontel
