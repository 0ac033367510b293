#include "brontel/sync/calendar_transformation.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
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
#include "brontel/lists/flat_set.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"

namespace brontel {
namespace {

// A link made on the client whose cache id is not assigned yet.
constexpr uint32_t kUnassignedCacheId = 0xFFFFFFFF;

// The actions one merge step decides for a record that only one side holds.
enum class Action { kAddToCache, kRemoveFromClient, kRemoveFromCache, kAddToClient, kConflict };

// What one merge step of calendars or events decides before it changes
// anything; the apply phase then works through the lists in a fixed order.
template <class Record>
struct Plan {
  // (main's record, cache's record): reconciled by the record's own Sync.
  std::vector<std::pair<Record, Record>> reconcile;
  // Main's records that stay in place, conflicting with a deletion elsewhere.
  std::vector<Record> conflictHere;
  std::vector<Record> removeFromClient;
  std::vector<Record> removeFromCache;
  std::vector<Record> addToCache;
  // Cache records, or deleted copies of them that carry them as conflicts.
  std::vector<Record> addToClient;
  int32_t conflicts = 0;
};

// ---- Calendars ----

// A live calendar c of main whose fixed id the cache holds no live calendar for.
//
//   shadow's calendar s | c compared with s              | action
//   --------------------+--------------------------------+------------------------------
//   none or deleted     | -                              | add to cache (new here)
//   live                | equal (local settings skipped) | remove from client (deleted
//                       |                                |   elsewhere, unchanged here)
//   live                | data hash 0, or not matching   | conflict (deleted elsewhere,
//                       |   its content                  |   changed here)
//   live                | data hash matches its content  | remove from client
Action DecideClientOnlyCalendar(const Calendar& c, const Calendar& s) {
  if (s.IsDeleted()) return Action::kAddToCache;
  if (c.Equal(s, true)) return Action::kRemoveFromClient;
  if (c.GetDataHash() == 0 || !c.HashMatched()) return Action::kConflict;
  return Action::kRemoveFromClient;
}

// A calendar u of the cache that no calendar of main reached (V_cache and
// V_main are the versions of the cache manager and of main).
//
//   u's data hash      | versions                        | shadow's calendar s | action
//   -------------------+---------------------------------+---------------------+----------------
//   0                  | -                               | none or deleted     | add to client
//   0                  | -                               | equal to u          | remove from cache
//   0                  | -                               | differs             | conflict
//   not matching       | V_cache newer than V_main       | -                   | add to client
//   not matching       | neither version valid           | -                   | add to client
//   not matching       | otherwise                       | equal to u          | remove from cache
//   not matching       | otherwise                       | none, or differs    | conflict
//   matches content    | V_cache newer, u new to main    | -                   | add to client
//   matches content    | V_cache newer, main knows u     | -                   | remove from cache
//   matches content    | V_cache not newer               | -                   | remove from cache
Action DecideCacheOnlyCalendar(const Calendar& u, const Calendar& s, const CalendarManager& main,
                               uint32_t cacheVersion, uint32_t mainVersion) {
  bool cacheNewer = Versioning::GreaterThan(cacheVersion, mainVersion);
  if (u.GetDataHash() == 0) {
    if (s.IsDeleted()) return Action::kAddToClient;
    return u.Equal(s, true) ? Action::kRemoveFromCache : Action::kConflict;
  }
  if (!u.HashMatched()) {
    if (cacheNewer) return Action::kAddToClient;
    if (!Versioning::IsValidVersion(cacheVersion) && !Versioning::IsValidVersion(mainVersion)) {
      return Action::kAddToClient;
    }
    return !s.IsNull() && s.Equal(u, true) ? Action::kRemoveFromCache : Action::kConflict;
  }
  if (cacheNewer && main.IsNewToMe(u.GetRecordIdentification())) return Action::kAddToClient;
  return Action::kRemoveFromCache;
}

// One copy's display order: the fixed ids of its calendars, first shown first.
using DisplayOrder = std::vector<uint32_t>;

// The fixed ids of the manager's calendars that are not deleted, by ordinal;
// calendars with equal ordinals keep their list order.
DisplayOrder RecordDisplayOrder(const CalendarManager& manager) {
  std::vector<std::pair<uint32_t, uint32_t>> entries;  // (ordinal, fixed id)
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (c.IsDeleted()) continue;
    entries.emplace_back(c.GetCalendarDescriptor().GetOrdinal(), c.GetFixedId());
  }
  std::stable_sort(entries.begin(), entries.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  DisplayOrder order;
  order.reserve(entries.size());
  for (const auto& entry : entries) order.push_back(entry.second);
  return order;
}

// Merges main's order (a) with the cache's (b), using the order both had at the
// last synchronization (c) as referee where they put two calendars in opposite
// orders: the side whose order differs from c moved them.
DisplayOrder MergeDisplayOrders(const DisplayOrder& a, const DisplayOrder& b,
                                const DisplayOrder& c) {
  DisplayOrder result;
  std::unordered_set<uint32_t> taken;
  size_t ia = 0;
  size_t ib = 0;
  auto skipTaken = [&](const DisplayOrder& list, size_t& at) {
    while (at < list.size() && taken.count(list[at]) != 0) ++at;
  };
  auto holdsFrom = [](const DisplayOrder& list, size_t from, uint32_t id) {
    return std::find(list.begin() + static_cast<std::ptrdiff_t>(from), list.end(), id) !=
           list.end();
  };
  auto take = [&](uint32_t id) {
    result.push_back(id);
    taken.insert(id);
  };
  for (;;) {
    skipTaken(a, ia);
    skipTaken(b, ib);
    bool hasA = ia < a.size();
    bool hasB = ib < b.size();
    if (!hasA && !hasB) break;
    if (!hasB) {
      take(a[ia]);
    } else if (!hasA) {
      take(b[ib]);
    } else if (a[ia] == b[ib]) {
      take(a[ia]);
    } else if (!holdsFrom(b, ib, a[ia])) {
      take(a[ia]);
    } else if (!holdsFrom(a, ia, b[ib])) {
      take(b[ib]);
    } else {
      // Both hold both, in opposite orders: whichever came first before tells
      // which side moved.
      uint32_t first = 0;
      for (uint32_t id : c) {
        if (id == a[ia] || id == b[ib]) {
          first = id;
          break;
        }
      }
      take(first == a[ia] ? b[ib] : a[ia]);
    }
  }
  return result;
}

// The first calendar of manager with fixed id that is not deleted, or null.
Calendar FindLiveCalendar(const CalendarManager& manager, uint32_t fixedId) {
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (!c.IsDeleted() && c.GetFixedId() == fixedId) return c;
  }
  return Calendar();
}

// Main's calendar with fixed id: the live one when a deleted calendar of the
// same id is still waiting for the handheld to drop it, else any, else null.
Calendar FindClientCalendar(const CalendarManager& main, uint32_t fixedId) {
  Calendar live = FindLiveCalendar(main, fixedId);
  return live.IsNull() ? main.FindByFixedId(fixedId, false) : live;
}

// Main's deleted calendar with fixed id (not 0), or null.
Calendar FindDeletedCalendar(const CalendarManager& main, uint32_t fixedId) {
  if (fixedId == 0) return Calendar();
  const CalendarList& calendars = main.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (!c.IsNull() && c.IsDeleted() && c.GetFixedId() == fixedId) return c;
  }
  return Calendar();
}

// ---- Events ----

// True when event x has a live placement, in a live calendar, that s (the
// shadow's copy of x) lacks: x was placed somewhere new since the last
// synchronization, a change of its own even when its data is the same.
bool GainedPlacement(const Event& x, const Event& s) {
  const CalendarEventList& links = x.GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    const CalendarEvent& l = links[i];
    if (l.IsDeleted()) continue;
    Calendar calendar = l.GetParentCalendar();
    if (calendar.IsDeleted()) continue;
    if (s.FindCalendarEventByCalendarFixedId(calendar.GetFixedId(), false).IsDeleted()) return true;
  }
  return false;
}

// A live event e of main with cache id i that the cache holds no live event
// for. "Unchanged" means equal to s and placed nowhere s is not: a placement
// made here must not vanish with an event the other side dropped.
//
//   i     | shadow's event s | e compared with s                   | action
//   ------+------------------+-------------------------------------+-------------------
//   0     | -                | -                                   | add to cache (new)
//   not 0 | none             | -                                   | add to cache
//   not 0 | live             | unchanged                           | remove from client
//   not 0 | live             | changed, data hash 0                | conflict
//   not 0 | live             | changed, hash matches its content   | add to cache
//   not 0 | live             | changed, hash does not match        | conflict
Action DecideClientOnlyEvent(const Event& e, const Event& s) {
  if (e.GetCacheId() == 0 || s.IsNull()) return Action::kAddToCache;
  if (s.Equal(e) && !GainedPlacement(e, s)) return Action::kRemoveFromClient;
  if (e.GetDataHash() == 0) return Action::kConflict;
  return e.HashMatched() ? Action::kAddToCache : Action::kConflict;
}

// An event u of the cache that no event of main reached. "Not newer" means
// neither V_cache nor u's own version is newer than V_main; "unchanged" means
// live in the shadow, equal to u, and u placed nowhere the shadow's copy is
// not (another client's new placement must not vanish with an event this
// client dropped).
//
//   u's data hash         | versions   | shadow's event s (by cache id) | action
//   ----------------------+------------+--------------------------------+------------------
//   not 0, matches        | not newer  | -                              | remove from cache
//   not 0, matches        | newer      | -                              | add to client
//   not 0, does not match | not newer  | unchanged                      | remove from cache
//   not 0, does not match | not newer  | otherwise                      | conflict
//   not 0, does not match | newer      | -                              | add to client
//   0                     | -          | unchanged                      | remove from cache
//   0                     | -          | live and changed               | conflict
//   0                     | -          | none or deleted                | add to client
Action DecideCacheOnlyEvent(const Event& u, const Event& s, uint32_t cacheVersion,
                            uint32_t mainVersion) {
  bool notNewer = !Versioning::GreaterThan(cacheVersion, mainVersion) &&
                  !Versioning::GreaterThan(u.GetVersion(), mainVersion);
  bool unchanged = !s.IsDeleted() && s.Equal(u) && !GainedPlacement(u, s);
  if (u.GetDataHash() != 0 && u.HashMatched()) {
    return notNewer ? Action::kRemoveFromCache : Action::kAddToClient;
  }
  if (u.GetDataHash() != 0) {
    if (!notNewer) return Action::kAddToClient;
    return unchanged ? Action::kRemoveFromCache : Action::kConflict;
  }
  if (s.IsDeleted()) return Action::kAddToClient;
  return unchanged ? Action::kRemoveFromCache : Action::kConflict;
}

// ---- Calendar-event links ----

// What becomes of a live link l of main.
enum class LinkAction {
  kAddToCache,
  kRemoveFromClient,
  kNewestVersion,
  kCacheTakesClient,
  kClientTakesCache,
  kConflict,
};

// A live link l of main, its counterpart m in the cache's event (by cache id,
// else the cache event's untouched live link to the same calendar) and the
// shadow's link r.
//
//   l                 | m                  | r                    | action
//   ------------------+--------------------+----------------------+------------------------------
//   made here since   | none               | -                    | add to cache
//   the last sync     |                    |                      |
//   known before      | missing or deleted | missing or deleted   | add to cache (new since then)
//   known before      | missing or deleted | live                 | remove from client (the
//                     |                    |                      |   cache dropped it)
//   -                 | equal to l         | -                    | both take the newer version
//   -                 | differs from l     | live and equal to m  | m copies l (client changed it)
//   -                 | differs from l     | live and equal to l  | l copies m (cache changed it)
//   -                 | differs from l     | otherwise            | conflict: l keeps m as conflict
LinkAction DecideClientLink(bool fresh, const CalendarEvent& l, const CalendarEvent& m,
                            const CalendarEvent& r) {
  if (m.IsNull() && fresh) return LinkAction::kAddToCache;
  if (m.IsDeleted()) return r.IsDeleted() ? LinkAction::kAddToCache : LinkAction::kRemoveFromClient;
  if (m.Equal(l)) return LinkAction::kNewestVersion;
  if (!r.IsDeleted() && r.Equal(m)) return LinkAction::kCacheTakesClient;
  if (!r.IsDeleted() && r.Equal(l)) return LinkAction::kClientTakesCache;
  return LinkAction::kConflict;
}

// A link u of the cache's event that no link of main's event reached.
//
//   shadow's link r    | u compared with r | action
//   -------------------+-------------------+-------------------------------------------
//   missing or deleted | -                 | add to client when u is live (new in cache)
//   live               | equal             | remove from cache (the client dropped it)
//   live               | differs           | conflict
Action DecideCacheOnlyLink(const CalendarEvent& u, const CalendarEvent& r) {
  if (r.IsDeleted()) return Action::kAddToClient;
  return r.Equal(u) ? Action::kRemoveFromCache : Action::kConflict;
}

struct LinkPair {
  CalendarEvent mine;
  CalendarEvent cache;
  LinkAction action;
};

// A link to add to the cache: a copy of link joins cacheEvent.
struct LinkUpload {
  Event cacheEvent;
  CalendarEvent link;
};

// A link to make on main: event joins main's calendar with calendarFixedId and
// the new link copies source (a cache link, or a deleted copy that carries one
// as its conflict; such a copy has no calendar of its own).
struct LinkDownload {
  Event event;
  CalendarEvent source;
  uint32_t calendarFixedId;
};

struct LinkPlan {
  std::vector<LinkPair> reconcile;
  std::vector<CalendarEvent> removeFromClient;
  std::vector<CalendarEvent> removeFromCache;
  std::vector<LinkUpload> addToCache;
  std::vector<LinkDownload> addToClient;
  int32_t conflicts = 0;
};

uint32_t ParentCalendarFixedId(const CalendarEvent& link) {
  Calendar calendar = link.GetParentCalendar();
  return calendar.IsNull() ? 0 : calendar.GetFixedId();
}

// True when an event of events, or a placement of one, has no cache id yet.
// Resolving identity against another list only fills in such missing cache
// ids (and rebuilds indexes, which finds rebuild by themselves): with none
// missing it changes nothing, and a synchronization without new records
// skips two passes over every event and placement of both lists.
bool LacksCacheIds(const EventList& events) {
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    if (e.IsNull()) continue;
    if (e.GetCacheId() == 0) return true;
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (!links[j].IsNull() && links[j].GetCacheId() == 0) return true;
    }
  }
  return false;
}

// Marks every link of every event of the manager untouched.
void ClearLinksTouched(const CalendarManager& manager) {
  EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsNull()) events[i].GetCalendarEventList().ClearTouched();
  }
}

}  // namespace

CalendarTransformation::CalendarTransformation()
    : m_main(CalendarManager::CreateEmpty()), m_shadow(CalendarManager::CreateEmpty()) {}

CalendarTransformation::CalendarTransformation(const CalendarTransformation& other) = default;
CalendarTransformation& CalendarTransformation::operator=(const CalendarTransformation& other) =
    default;
CalendarTransformation::~CalendarTransformation() = default;

CalendarTransformation CalendarTransformation::Clone() const {
  CalendarTransformation copy(*this);
  copy.m_cache = m_cache.Clone();
  copy.m_main = m_main.IsNull() ? CalendarManager() : m_main.Clone();
  copy.m_shadow = m_shadow.IsNull() ? CalendarManager() : m_shadow.Clone();
  return copy;
}

bool CalendarTransformation::SanityCheck() const {
  if (m_main.IsNull() || m_shadow.IsNull()) return false;
  return m_cache.SanityCheck() && m_main.SanityCheck() && m_shadow.SanityCheck();
}

int32_t CalendarTransformation::SyncClient() {
  // A client or shadow that was never loaded holds nothing yet.
  if (m_main.IsNull()) m_main = CalendarManager::CreateEmpty();
  if (m_shadow.IsNull()) m_shadow = CalendarManager::CreateEmpty();
  CalendarManager cacheManager = m_cache.GetCalendarManager();

  int32_t conflicts = 0;
  if (synchronizeGids()) {
    m_globalIdFailure = false;
    if (m_handheld && m_firstTime) {
      // Records a handheld brought in before are the desktop's now: this
      // handheld starts from scratch.
      CalendarList& calendars = cacheManager.GetCalendarList();
      for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
        if (calendars[i].GetSource() == SOURCE_HANDHELD) calendars[i].SetSource(SOURCE_DESKTOP);
      }
      EventList& events = cacheManager.GetEventList();
      for (int32_t i = 0; i < events.GetListCount(); ++i) {
        if (events[i].GetSource() == SOURCE_HANDHELD) events[i].SetSource(SOURCE_DESKTOP);
      }
    }
    if (m_handheld) synchronizeDateBookIds();
    synchronizePulsecastURL();
    conflicts += synchronizeCalendars();
    conflicts += synchronizeEvents();
    conflicts += synchronizeCalendarEvents();
    m_main.ResolveVersion(cacheManager);
    if (m_handheld) {
      m_main.DeleteEmptyEvents();  // the conduit deletes them on the handheld
    } else {
      m_main.RemoveEmptyEvents(false);
    }
    cacheManager.RemoveEmptyEvents(false);
  } else {
    m_globalIdFailure = true;
  }
  m_shadow = m_shadowSharesCache ? cacheManager : cacheManager.Clone();
  m_notYetRun = false;
  return conflicts;
}

bool CalendarTransformation::synchronizeGids() {
  CalendarManager cacheManager = m_cache.GetCalendarManager();
  UID128 cacheGid = cacheManager.GetGID();
  UID128 mainGid = m_main.GetGID();
  if (cacheGid == mainGid) return true;
  if (cacheGid.IsZero()) {
    cacheManager.SetGID(mainGid);
    return true;
  }
  if (mainGid.IsZero()) {
    m_main.SetGID(cacheGid);
    return true;
  }
  return false;
}

void CalendarTransformation::synchronizeDateBookIds() {
  // The cache remembers the handheld's record id of each event; a main event
  // with that record id is the same event unless both carry different fixed ids.
  CalendarManager cacheManager = m_cache.GetCalendarManager();
  const EventList& cacheEvents = cacheManager.GetEventList();
  EventList& mainEvents = m_main.GetEventList();
  for (int32_t i = 0; i < cacheEvents.GetListCount(); ++i) {
    Event cached = cacheEvents[i];
    if (cached.IsNull() || cached.GetDateBookId() == 0) continue;
    Event mine = mainEvents.FindByDateBookId(cached.GetDateBookId(), false);
    if (mine.IsNull() || mine.GetFixedId() == cached.GetFixedId()) continue;
    if (mine.GetFixedId() == 0) {
      mine.SetFixedId(cached.GetFixedId());
      mine.SetDirtyFixedId();
    } else if (cached.GetFixedId() != 0) {
      cached.SetDateBookId(0);  // two different records
    } else {
      cached.SetFixedId(mine.GetFixedId());
    }
  }
}

void CalendarTransformation::synchronizePulsecastURL() {
  CalendarManager cacheManager = m_cache.GetCalendarManager();
  uint32_t cacheVersion = cacheManager.GetPulsecastURLVersion();
  uint32_t mainVersion = m_main.GetPulsecastURLVersion();
  if (Versioning::LessThan(cacheVersion, mainVersion)) {
    cacheManager.SetPulsecastURL(m_main.GetPulsecastURL(), mainVersion);
  } else if (Versioning::LessThan(mainVersion, cacheVersion)) {
    m_main.SetPulsecastURL(cacheManager.GetPulsecastURL(), cacheVersion);
  }
}

int32_t CalendarTransformation::synchronizeCalendars() {
  CalendarManager cacheManager = m_cache.GetCalendarManager();
  BR_SOURCE source = GetSource();

  // Identify: every calendar gets a fixed id; main's take cache ids from
  // their matches in the cache, then in the shadow.
  m_main.ForceFixedIdsCalendars(m_cache);
  m_shadow.ForceFixedIdsCalendars(m_cache);
  m_cache.ForceFixedIdsCalendars();
  m_main.GetCalendarList().ResolveIdentity(cacheManager.GetCalendarList());
  m_main.GetCalendarList().ResolveIdentity(m_shadow.GetCalendarList());
  // Marks left by an earlier run on this cache would hide its calendars from
  // the untouched list.
  cacheManager.GetCalendarList().ClearTouched();

  DisplayOrder mainOrder = RecordDisplayOrder(m_main);
  DisplayOrder cacheOrder = RecordDisplayOrder(cacheManager);
  DisplayOrder shadowOrder = RecordDisplayOrder(m_shadow);

  // Decide.
  Plan<Calendar> plan;
  CalendarList mainCalendars = m_main.GetCalendarList();
  for (int32_t i = 0; i < mainCalendars.GetListCount(); ++i) {
    Calendar c = mainCalendars[i];
    if (c.IsDeleted()) continue;
    uint32_t f = c.GetFixedId();
    Calendar k = m_cache.FindByFixedId(f, true);
    if (!k.IsDeleted()) {
      plan.reconcile.emplace_back(c, k);
      continue;
    }
    switch (DecideClientOnlyCalendar(c, m_shadow.FindByFixedId(f, false))) {
      case Action::kAddToCache:
        plan.addToCache.push_back(c);
        break;
      case Action::kRemoveFromClient:
        plan.removeFromClient.push_back(c);
        break;
      default:
        ++plan.conflicts;
        plan.conflictHere.push_back(c);
        break;
    }
  }
  uint32_t cacheVersion = cacheManager.GetVersion();
  uint32_t mainVersion = m_main.GetVersion();
  CalendarList untouched = m_cache.GetUntouched();
  for (int32_t i = 0; i < untouched.GetListCount(); ++i) {
    Calendar u = untouched[i];
    Calendar s = m_shadow.FindByFixedId(u.GetFixedId(), false);
    switch (DecideCacheOnlyCalendar(u, s, m_main, cacheVersion, mainVersion)) {
      case Action::kAddToClient:
        plan.addToClient.push_back(u);
        break;
      case Action::kRemoveFromCache:
        plan.removeFromCache.push_back(u);
        break;
      default: {
        ++plan.conflicts;
        Calendar copy = Calendar::CreateEmpty(0);
        copy.Copy(u, false);
        copy.SetDeleted();
        copy.SetConflict(u);
        copy.SetSource(source);
        plan.addToClient.push_back(copy);
        break;
      }
    }
  }

  // Apply.
  int32_t conflicts = plan.conflicts;
  for (auto& [c, k] : plan.reconcile) {
    c.SetSource(source);
    conflicts += c.Sync(k, m_shadow, m_handheld);
  }
  for (Calendar& c : plan.conflictHere) {
    Calendar copy = Calendar::CreateEmpty(0);
    copy.Copy(c, false);
    copy.SetDeleted();
    copy.SetSource(SOURCE_NONE);
    c.SetConflict(copy);
  }
  for (Calendar& c : plan.removeFromClient) {
    if (m_handheld) {
      c.SetDeleted();  // the conduit deletes it on the handheld
      c.SetDirty();
    } else {
      bool result = c.Remove();
      BRONTEL_REQUIRE(result, "result");
      (void)result;
    }
  }
  for (Calendar& u : plan.removeFromCache) {
    bool result1 = u.Remove();
    BRONTEL_REQUIRE(result1, "result1");
    (void)result1;
  }
  for (Calendar& c : plan.addToCache) m_cache.AddItem(c).SetSource(source);
  for (Calendar& x : plan.addToClient) {
    // A calendar the handheld deleted is still in main, marked for the
    // conduit; it takes the copy rather than a second calendar of its id.
    Calendar made = FindDeletedCalendar(m_main, x.GetFixedId());
    if (made.IsNull()) made = m_main.CreateNewCalendar();
    made.Copy(x, false);
    if (m_handheld) made.SetDirty();
  }

  // Display order: number the merged order in main, then in the cache.
  DisplayOrder merged = MergeDisplayOrders(mainOrder, cacheOrder, shadowOrder);
  std::vector<std::pair<uint32_t, uint32_t>> numbered;  // (fixed id, ordinal)
  for (uint32_t f : merged) {
    if (FindLiveCalendar(m_main, f).IsNull() && FindLiveCalendar(cacheManager, f).IsNull()) {
      continue;
    }
    numbered.emplace_back(f, static_cast<uint32_t>(numbered.size()));
  }
  for (const auto& [f, ordinal] : numbered) {
    Calendar c = FindLiveCalendar(m_main, f);
    if (c.IsNull()) continue;
    CalendarDescriptor d = c.GetCalendarDescriptor();
    if (m_handheld && d.GetOrdinal() != ordinal) c.SetDirty();
    d.SetOrdinal(ordinal);
  }
  for (const auto& [f, ordinal] : numbered) {
    Calendar c = FindLiveCalendar(cacheManager, f);
    if (!c.IsNull()) c.GetCalendarDescriptor().SetOrdinal(ordinal);
  }
  return conflicts;
}

int32_t CalendarTransformation::synchronizeEvents() {
  CalendarManager cacheManager = m_cache.GetCalendarManager();
  EventList& cacheEvents = cacheManager.GetEventList();
  BR_SOURCE source = GetSource();

  // Identify. The first time, main's events (read fresh from the handheld)
  // find their cache records by the handheld's record id or by content.
  if (m_firstTime) {
    size_t buckets = static_cast<size_t>(cacheEvents.GetListCount()) * 6 / 5 + 1001;
    std::unordered_map<uint32_t, uint32_t> byDateBookId;
    std::unordered_map<uint32_t, uint32_t> byContent;
    byDateBookId.reserve(buckets);
    byContent.reserve(buckets);
    // The default calendar's events from before record ids were kept per
    // event know theirs as their placement's local id; they take it first, so
    // that they are found by it like every other event.
    const CalendarList& cacheCalendars = cacheManager.GetCalendarList();
    for (int32_t i = 0; i < cacheCalendars.GetListCount(); ++i) {
      const Calendar& calendar = cacheCalendars[i];
      if (!calendar.IsDefaultCalendar()) continue;
      CalendarEventList links = calendar.GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        Event e = links[j].IsNull() ? Event() : links[j].GetEvent();
        if (e.IsNull()) continue;
        if (e.GetDateBookId() == 0) e.SetDateBookId(links[j].GetLocalId());
        uint32_t hash = e.GetEventDescriptor().CalculateHash();
        if (hash != 0 && e.GetFixedId() != 0) byContent.emplace(hash, e.GetFixedId());
      }
      break;  // only the first default calendar
    }
    for (int32_t i = 0; i < cacheEvents.GetListCount(); ++i) {
      const Event& e = cacheEvents[i];
      if (!e.IsNull() && e.GetDateBookId() != 0 && e.GetFixedId() != 0) {
        byDateBookId.emplace(e.GetDateBookId(), e.GetFixedId());
      }
    }
    // Two main events must never end up with one fixed id (a handheld may
    // hold two events of equal content): an id already taken is not given.
    EventList& mainEvents = m_main.GetEventList();
    FlatSet<uint32_t> taken(static_cast<size_t>(mainEvents.GetListCount()));
    for (int32_t i = 0; i < mainEvents.GetListCount(); ++i) {
      if (!mainEvents[i].IsNull() && mainEvents[i].GetFixedId() != 0) {
        taken.Insert(mainEvents[i].GetFixedId());
      }
    }
    for (int32_t i = 0; i < mainEvents.GetListCount(); ++i) {
      Event e = mainEvents[i];
      if (e.IsNull() || e.GetDateBookId() == 0 || e.GetFixedId() != 0) continue;
      uint32_t fixedId = 0;
      auto byId = byDateBookId.find(e.GetDateBookId());
      if (byId != byDateBookId.end()) {
        fixedId = byId->second;
      } else {
        auto byHash = byContent.find(e.GetEventDescriptor().CalculateHash());
        if (byHash != byContent.end()) fixedId = byHash->second;
      }
      if (fixedId != 0 && taken.Insert(fixedId)) e.SetFixedId(fixedId);
    }
  }
  m_main.ForceFixedIdsEvents(m_cache);
  m_shadow.ForceFixedIdsEvents(m_cache);
  m_cache.ForceFixedIdsEvents();
  if (LacksCacheIds(m_main.GetEventList())) {
    m_main.GetEventList().ResolveIdentity(cacheEvents);
    m_main.GetEventList().ResolveIdentity(m_shadow.GetEventList());
  }
  rekeyReturnedEvents();
  // Marks left by an earlier run on this cache would hide its events from the
  // untouched list.
  cacheEvents.ClearTouched();

  // Decide.
  // The decisions change events, never main's list of them: no copy of it.
  Plan<Event> plan;
  const EventList& mainEvents = m_main.GetEventList();
  for (int32_t i = 0; i < mainEvents.GetListCount(); ++i) {
    Event e = mainEvents[i];
    if (e.IsNull()) continue;
    if (e.IsBogus()) e.SetDeleted();
    if (e.IsDeleted()) continue;
    uint32_t cacheId = e.GetCacheId();
    if (cacheId != 0) {
      Event k = m_cache.FindEventByCacheId(cacheId, true);
      if (!k.IsDeleted()) {
        plan.reconcile.emplace_back(e, k);
        continue;
      }
    }
    Event s = cacheId == 0 ? Event() : m_shadow.FindEventByCacheId(cacheId, false);
    switch (DecideClientOnlyEvent(e, s)) {
      case Action::kAddToCache:
        plan.addToCache.push_back(e);
        break;
      case Action::kRemoveFromClient:
        plan.removeFromClient.push_back(e);
        break;
      default:
        ++plan.conflicts;
        plan.conflictHere.push_back(e);
        break;
    }
  }
  uint32_t cacheVersion = cacheManager.GetVersion();
  uint32_t mainVersion = m_main.GetVersion();
  EventList untouched = m_cache.GetUntouchedEvents();
  for (int32_t i = 0; i < untouched.GetListCount(); ++i) {
    Event u = untouched[i];
    u.ClearUseMe();
    if (u.IsBogus()) u.SetDeleted();
    Event s = m_shadow.FindEventByCacheId(u.GetCacheId(), false);
    switch (DecideCacheOnlyEvent(u, s, cacheVersion, mainVersion)) {
      case Action::kAddToClient:
        plan.addToClient.push_back(u);
        break;
      case Action::kRemoveFromCache:
        plan.removeFromCache.push_back(u);
        break;
      default: {
        ++plan.conflicts;
        Event copy = Event::CreateEmpty(0);
        copy.Copy(u);
        copy.SetDeleted();
        copy.SetConflict(u);
        copy.SetSource(source);
        plan.addToClient.push_back(copy);
        break;
      }
    }
  }

  // Apply.
  int32_t conflicts = plan.conflicts;
  for (auto& [e, k] : plan.reconcile) {
    e.SetSource(source);
    conflicts += e.Sync(k, m_shadow, m_handheld);
  }
  for (Event& e : plan.conflictHere) {
    Event copy = Event::CreateEmpty(0);
    copy.Copy(e);
    copy.SetDeleted();
    copy.SetSource(SOURCE_NONE);
    e.SetConflict(copy);
  }
  for (Event& e : plan.removeFromClient) {
    if (m_handheld) {
      e.SetDeleted();  // the conduit deletes it on the handheld
      e.SetDirty();
    } else {
      bool result = e.Remove(true);
      BRONTEL_REQUIRE(result, "result");
      (void)result;
    }
  }
  for (Event& u : plan.removeFromCache) {
    bool result1 = u.Remove(true);
    BRONTEL_REQUIRE(result1, "result1");
    (void)result1;
  }
  for (Event& e : plan.addToCache) m_cache.AddItem(e).SetSource(source);
  // An event the handheld deleted is still in main, marked for the conduit;
  // it takes the copy (keeping its record id) rather than a second event of
  // its ids. A new event is not on the handheld yet: it has no record id.
  std::unordered_map<uint32_t, Event> deletedHere;
  if (!plan.addToClient.empty()) {
    const EventList& events = m_main.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      const Event& e = events[i];
      if (!e.IsNull() && e.IsDeleted() && e.GetFixedId() != 0)
        deletedHere.emplace(e.GetFixedId(), e);
    }
  }
  for (Event& x : plan.addToClient) {
    Event made;
    uint32_t dateBookId = 0;
    auto deleted = deletedHere.find(x.GetFixedId());
    if (deleted != deletedHere.end()) {
      made = deleted->second;
      dateBookId = made.GetDateBookId();
      deletedHere.erase(deleted);
    } else {
      made = m_main.CreateNewEvent(x.GetServeId(), x.GetFixedId());
    }
    made.Copy(x);
    made.SetDateBookId(dateBookId);
    // A repeat exception joins the calendars of its parent on this side.
    Event parent =
        x.HasParent() ? m_main.FindEventByFixedId(x.GetParentEventFixedId(), false) : Event();
    if (!parent.IsNull()) {
      made.SetParentEventFixedId(parent.ForceFixedId(m_cache));
      made.ForceFixedId(m_cache);
      if (x.GetFixedId() == 0) x.SetFixedId(made.GetFixedId());
      CalendarEventList parentLinks = parent.GetCalendarEventList();
      for (int32_t i = 0; i < parentLinks.GetListCount(); ++i) {
        CalendarEvent link = parentLinks[i];
        Calendar calendar = link.IsNull() ? Calendar() : link.GetParentCalendar();
        if (calendar.IsNull() ||
            !made.FindCalendarEventByCalendarFixedId(calendar.GetFixedId(), false).IsNull()) {
          continue;
        }
        CalendarEvent placed = made.AddToCalendar(calendar);
        placed.SetVersion(link.GetVersion());
        placed.SetCacheId(kUnassignedCacheId);
        if (m_handheld) placed.SetDirty();
        uint32_t calendarCacheId = calendar.GetCacheId();
        CalendarEvent own = calendarCacheId == 0
                                ? CalendarEvent()
                                : x.FindCalendarEventByCalendarCacheId(calendarCacheId, false);
        if (!own.IsNull()) {
          placed.SetCacheId(own.GetCacheId());
          placed.SetLocalId(own.GetLocalId());
          placed.SetFixedId(own.GetFixedId());
        }
      }
    }
    if (m_handheld) made.SetDirty();
  }

  m_main.GetEventList().SetFastSearch(true);
  m_shadow.GetEventList().SetFastSearch(true);
  cacheEvents.SetFastSearch(true);
  return conflicts;
}

void CalendarTransformation::rekeyReturnedEvents() {
  // An event leaves the cache when its last placement goes; a client that
  // still holds it brings it back under a new cache id, and another client's
  // copy then names a cache event that is gone. Left so, that copy would be
  // taken for deleted elsewhere and the cache's for new here: two events of one
  // fixed id. Such a copy is the cache's live event of its fixed id, when no
  // other event of main is: it takes that cache id, and so does its shadow
  // copy, which thus stays the reference of the last synchronization.
  EventList& mainEvents = m_main.GetEventList();
  EventList& cacheEvents = m_cache.GetCalendarManager().GetEventList();
  EventList& shadowEvents = m_shadow.GetEventList();
  // The cache ids main's events hold, collected when the first event is found
  // whose cache id the cache lacks (rarely any: only an event that left the
  // cache while this client held it); no event is rekeyed before then.
  FlatSet<uint32_t> claimed;
  bool claimedMade = false;
  bool rekeyed = false;
  for (int32_t i = 0; i < mainEvents.GetListCount(); ++i) {
    Event e = mainEvents[i];
    if (e.IsDeleted() || e.GetCacheId() == 0 || e.GetFixedId() == 0) continue;
    if (!cacheEvents.FindByCacheId(e.GetCacheId(), false).IsNull()) continue;
    if (!claimedMade) {
      for (int32_t j = 0; j < mainEvents.GetListCount(); ++j) {
        if (!mainEvents[j].IsNull()) claimed.Insert(mainEvents[j].GetCacheId());
      }
      claimedMade = true;
    }
    Event k = cacheEvents.FindByFixedId(e.GetFixedId(), false);
    if (k.IsDeleted() || k.GetCacheId() == 0 || claimed.Contains(k.GetCacheId())) continue;
    Event s = shadowEvents.FindByCacheId(e.GetCacheId(), false);
    if (!s.IsNull() && shadowEvents.FindByCacheId(k.GetCacheId(), false).IsNull()) {
      s.SetCacheId(k.GetCacheId());
    }
    e.SetCacheId(k.GetCacheId());
    claimed.Insert(k.GetCacheId());
    rekeyed = true;
  }
  if (rekeyed) {
    mainEvents.SetFastSearch(true);
    shadowEvents.SetFastSearch(true);
  }
}

int32_t CalendarTransformation::synchronizeCalendarEvents() {
  CalendarManager cacheManager = m_cache.GetCalendarManager();
  BR_SOURCE source = GetSource();

  m_main.ForceFixedIdsCalendarEvents(m_cache);
  m_shadow.ForceFixedIdsCalendarEvents(m_cache);
  m_cache.ForceFixedIdsCalendarEvents();
  if (LacksCacheIds(m_main.GetEventList())) {
    m_main.GetEventList().ResolveIdentity(cacheManager.GetEventList());
    m_main.GetEventList().ResolveIdentity(m_shadow.GetEventList());
  }
  ClearLinksTouched(cacheManager);

  // Makes a link on main like source: event joins main's calendar with the
  // given fixed id. The new link copies the whole source (ids, status, alarm
  // and conflict): without the alarm the next synchronization would take the
  // client's blank alarm for a change, and without the conflict a conflict
  // copy would lose what it carries.
  // A deleted link of the event to that calendar (the handheld's, waiting for
  // the conduit) takes the copy rather than a second link to one calendar.
  auto placeInClient = [&](Event event, const CalendarEvent& sourceLink, uint32_t calendarFixedId) {
    Calendar mainCalendar = FindClientCalendar(m_main, calendarFixedId);
    BRONTEL_REQUIRE(!mainCalendar.IsNull(), "!mainCalendar.IsNull()");
    if (mainCalendar.IsNull()) return;
    CalendarEvent made;
    const CalendarEventList& links = event.GetCalendarEventList();
    for (int32_t i = 0; i < links.GetListCount() && made.IsNull(); ++i) {
      if (!links[i].IsNull() && links[i].IsDeleted() &&
          links[i].GetParentCalendar().IsSameHolder(mainCalendar)) {
        made = links[i];
      }
    }
    if (made.IsNull()) made = event.AddToCalendar(mainCalendar);
    made.Copy(sourceLink);
    if (m_handheld) made.SetDirty();
  };

  // Decide, event by event.
  // Placements change, main's list of events does not: no copy of it.
  LinkPlan plan;
  const EventList& mainEvents = m_main.GetEventList();
  for (int32_t i = 0; i < mainEvents.GetListCount(); ++i) {
    Event e = mainEvents[i];
    if (e.IsNull()) continue;
    uint32_t cacheId = e.GetCacheId();
    Event k = cacheId == 0 ? Event() : m_cache.FindEventByCacheId(cacheId, false);

    if (e.IsDeleted()) {
      if (!e.IsConflicted() || k.IsDeleted()) continue;
      // A deleted event that carries the cache's version as its conflict takes
      // the cache's links, so that accepting the conflict brings them back:
      //   e's link whose counterpart in k is missing or deleted -> remove
      //   live link of k that no link of e reached             -> make on e
      std::vector<CalendarEvent> drop;
      CalendarEventList links = e.GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        CalendarEvent l = links[j];
        if (l.IsNull()) continue;
        if (m_cache.FindCalendarEventByCacheId(k, l.GetCacheId(), true).IsDeleted()) {
          drop.push_back(l);
        }
      }
      CalendarEventList missing = m_cache.GetUntouchedCalendarEvents(k);
      for (CalendarEvent& l : drop) {
        if (m_handheld) {
          l.SetDeleted();
          l.SetDirty();
        } else {
          bool result = l.Remove();
          BRONTEL_REQUIRE(result, "result");
          (void)result;
        }
      }
      for (int32_t j = 0; j < missing.GetListCount(); ++j) {
        const CalendarEvent& u = missing[j];
        if (!u.IsDeleted()) placeInClient(e, u, ParentCalendarFixedId(u));
      }
      continue;
    }
    if (e.IsConflicted() && e.GetConflict().IsDeleted()) continue;
    // Without a cache event the links have nowhere to go.
    if (k.IsNull()) continue;

    // The shadow's event is the reference; a repeat exception the shadow does
    // not know yet is compared with the shadow's copy of its parent instead.
    Event s = m_shadow.FindEventByCacheId(cacheId, false);
    Event p;
    if (s.IsNull() && e.HasParent()) {
      Event parent = e.GetParentEvent();
      if (!parent.IsNull()) p = m_shadow.FindEventByCacheId(parent.GetCacheId(), false);
    }
    auto shadowLink = [&](uint32_t linkCacheId, uint32_t calendarFixedId) {
      CalendarEvent r = m_shadow.FindCalendarEventByCacheId(s, linkCacheId, false);
      if (r.IsNull() && !p.IsNull()) {
        r = m_shadow.FindCalendarEventByCalendarFixedId(p, calendarFixedId, false);
      }
      return r;
    };

    // Deciding changes the ids of e's links, never the list of them: no copy.
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      CalendarEvent l = links[j];
      if (l.IsDeleted()) continue;
      uint32_t c = l.GetCacheId();
      uint32_t calendarFixedId = ParentCalendarFixedId(l);
      bool fresh = c == 0;  // made here since the last synchronization
      if (c == kUnassignedCacheId) {
        // A placement made along with a repeat exception: new unless the
        // shadow's parent was already shown in that calendar.
        l.SetCacheId(0);
        c = 0;
        fresh = s.IsNull() && !p.IsNull() &&
                m_shadow.FindCalendarEventByCalendarFixedId(p, calendarFixedId, false).IsDeleted();
      }
      CalendarEvent m = c == 0 ? CalendarEvent() : m_cache.FindCalendarEventByCacheId(k, c, true);
      CalendarEvent r = shadowLink(c, calendarFixedId);
      if (m.IsNull()) {
        // An event is placed once per calendar: the cache's live placement in
        // the same calendar that no other placement reached is this one, made
        // again under a new cache id (its event came back into the cache) or
        // at the same time on both sides. The shadow's copy under the id this
        // client knows stays the reference.
        CalendarEvent same = m_cache.FindCalendarEventByCalendarFixedId(k, calendarFixedId, false);
        if (!same.IsDeleted() && !same.IsTouched()) {
          same.SetTouched(true);
          l.SetCacheId(same.GetCacheId());
          m = same;
        }
      }
      switch (LinkAction action = DecideClientLink(fresh, l, m, r)) {
        case LinkAction::kAddToCache:
          plan.addToCache.push_back({k, l});
          break;
        case LinkAction::kRemoveFromClient:
          plan.removeFromClient.push_back(l);
          break;
        case LinkAction::kConflict:
          ++plan.conflicts;
          plan.reconcile.push_back({l, m, action});
          break;
        default:
          plan.reconcile.push_back({l, m, action});
          break;
      }
    }

    CalendarEventList untouched = m_cache.GetUntouchedCalendarEvents(k);
    for (int32_t j = 0; j < untouched.GetListCount(); ++j) {
      CalendarEvent u = untouched[j];
      uint32_t calendarFixedId = ParentCalendarFixedId(u);
      switch (DecideCacheOnlyLink(u, shadowLink(u.GetCacheId(), calendarFixedId))) {
        case Action::kAddToClient:
          if (!u.IsDeleted()) plan.addToClient.push_back({e, u, calendarFixedId});
          break;
        case Action::kRemoveFromCache:
          plan.removeFromCache.push_back(u);
          break;
        default: {
          ++plan.conflicts;
          CalendarEvent copy = CalendarEvent::CreateEmpty();
          copy.Copy(u);
          copy.SetDeleted();
          copy.SetConflict(u);
          copy.SetSource(source);
          plan.addToClient.push_back({e, copy, calendarFixedId});
          break;
        }
      }
    }
  }

  // Apply.
  for (LinkPair& pair : plan.reconcile) {
    CalendarEvent& l = pair.mine;
    CalendarEvent& m = pair.cache;
    switch (pair.action) {
      case LinkAction::kNewestVersion: {
        uint32_t newest = Versioning::NewestVersion(l.GetVersion(), m.GetVersion());
        l.SetVersion(newest);
        m.SetVersion(newest);
        if (l.GetLocalId() != 0) m.SetLocalId(l.GetLocalId());
        break;
      }
      case LinkAction::kCacheTakesClient:
        m.Copy(l);
        break;
      case LinkAction::kClientTakesCache:
        l.Copy(m);
        if (m_handheld) l.SetDirty();
        break;
      case LinkAction::kConflict:
        l.SetConflict(m);
        if (m_handheld) l.SetDirty();
        break;
      default:
        break;
    }
  }
  for (CalendarEvent& l : plan.removeFromClient) {
    if (m_handheld && l.GetLocalId() != 0) {
      l.SetDeleted();  // the conduit deletes it on the handheld
      l.SetDirty();
    } else {
      bool result = l.Remove();
      BRONTEL_REQUIRE(m_handheld || result, "result");
      (void)result;
    }
  }
  for (CalendarEvent& u : plan.removeFromCache) {
    bool result1 = u.Remove();
    BRONTEL_REQUIRE(result1, "result1");
    (void)result1;
  }
  for (LinkUpload& upload : plan.addToCache) {
    // The cache may lack the link's calendar; then the link is not added.
    CalendarEvent added = m_cache.AddItem(upload.cacheEvent, upload.link);
    if (!added.IsNull()) added.SetSource(source);
  }
  for (LinkDownload& download : plan.addToClient) {
    placeInClient(download.event, download.source, download.calendarFixedId);
  }
  return plan.conflicts;
}

std::string CalendarTransformation::GetDisplayString() const {
  if (!m_handheld) return "Calendar Tranformation Desktop";
  return m_firstTime ? "Calendar Tranformation Handheld First Time"
                     : "Calendar Tranformation Handheld";
}

TreeItem CalendarTransformation::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  std::string state =
      Format("%s%s", m_notYetRun ? " before" : " after", m_globalIdFailure ? " guid failure" : "");
  m_cache.DisplayTree(tree, tree.InsertItem("cache" + state, item));
  m_main.DisplayTree(tree, tree.InsertItem("main" + state, item));
  m_shadow.DisplayTree(tree, tree.InsertItem("shadow" + state, item));
  return item;
}

void CalendarTransformation::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteFlag(m_handheld);
    ar.WriteFlag(m_firstTime);
    ar.WriteFlag(m_globalIdFailure);
    ar.WriteFlag(m_notYetRun);
  } else {
    m_handheld = ar.ReadFlag();
    m_firstTime = ar.ReadFlag();
    m_globalIdFailure = ar.ReadFlag();
    m_notYetRun = ar.ReadFlag();
  }
  m_cache.SerializeQuick(ar, version);
  m_main.SerializeQuick(ar, version);
  m_shadow.SerializeQuick(ar, version);
}

std::unique_ptr<LogNode> CalendarTransformation::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarTransformation>>(name, *this);
}

void CalendarTransformation::Activate(int32_t mode, const std::string&) {
  if (mode != 0 || !m_notYetRun) return;
  Clone().SyncClient();
}

}  // namespace brontel
