#include "brontel/calendar/calendar_manager.h"

#include <vector>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/core/log_node.h"
#include "brontel/lists/flat_set.h"
#include "brontel/lists/unique_ids.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarManagerHolder, "CalendarManagerHolder");

CalendarManagerHolder::~CalendarManagerHolder() {
  BreakCycles();
}

void CalendarManagerHolder::BreakCycles() {
  // Events and their placements count each other: break the cycles before the
  // lists let go, so that everything is freed. Records kept elsewhere lose
  // their placements and see their manager gone.
  for (int32_t i = 0; i < m_calendars.GetListCount(); ++i) {
    Calendar& calendar = m_calendars[i];
    if (calendar.IsNull()) continue;
    CalendarEventList& links = calendar.m_holder->m_calendarEvents;
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (!links[j].IsNull()) links[j].nullify();
    }
    links.Clear();
  }
  for (int32_t i = 0; i < m_events.GetListCount(); ++i) {
    Event& event = m_events[i];
    if (event.IsNull()) continue;
    CalendarEventList& links = event.m_holder->m_calendarEvents;
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (!links[j].IsNull()) links[j].nullify();
    }
    links.Clear();
  }
}

CalendarManager::CalendarManager() = default;
CalendarManager::CalendarManager(CalendarManagerHolder* holder) : Handle(holder) {
  if (holder != nullptr) ++holder->m_referenceCount;
}
CalendarManager::CalendarManager(const CalendarManager& other) = default;
CalendarManager& CalendarManager::operator=(const CalendarManager& other) = default;
CalendarManager::~CalendarManager() = default;

CalendarManager CalendarManager::CreateEmpty() {
  CalendarManager manager;
  manager.Adopt(new CalendarManagerHolder());
  return manager;
}

UID128 CalendarManager::GetGID() const {
  return Live()->m_tableIdentification.GetTableId();
}
void CalendarManager::SetGID(const UID128& gid) {
  Live()->m_tableIdentification.SetTableId(gid);
}
uint32_t CalendarManager::GetVersion() const {
  return Live()->m_tableIdentification.GetTableVersion();
}
void CalendarManager::SetVersion(uint32_t newValue) {
  BRONTEL_REQUIRE((newValue < 0x80000000) || (newValue == 0xffFFffFF),
                  "(newValue < 0x80000000) || (newValue == 0xffFFffFF)");
  Live()->m_tableIdentification.SetTableVersion(newValue);
}
uint32_t CalendarManager::GetDeltaVersion() const {
  return Live()->m_tableIdentification.GetTableDeltaVersion();
}
void CalendarManager::SetDeltaVersion(uint32_t v) {
  Live()->m_tableIdentification.SetTableDeltaVersion(v);
}
RecordTableIdentification CalendarManager::GetRecordTableIdentification() const {
  return Live()->m_tableIdentification;
}

int32_t CalendarManager::GetLevel() const {
  return Live()->m_level;
}
bool CalendarManager::IsServerManager() const {
  return Live()->m_serverManager;
}
const std::string& CalendarManager::GetPulsecastURL() const {
  return Live()->m_pulsecastURL;
}
uint32_t CalendarManager::GetPulsecastURLVersion() const {
  return Live()->m_pulsecastURLVersion;
}
void CalendarManager::SetPulsecastURL(const std::string& url, uint32_t version) {
  Live()->m_pulsecastURL = url;
  Live()->m_pulsecastURLVersion = version;
}

CalendarList& CalendarManager::GetCalendarList() const {
  return Live()->m_calendars;
}
EventList& CalendarManager::GetEventList() const {
  return Live()->m_events;
}

EventList CalendarManager::GetEventList(std::time_t t) const {
  EventList out;
  const EventList& events = Live()->m_events;
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (events[i].IsOnDate(t)) out.Append(events[i]);
  }
  return out;
}

bool CalendarManager::IsNewToMe(const RecordIdentification& id) const {
  return Versioning::IsNewer(GetVersion(), id);
}
bool CalendarManager::IsNewToMe(const CalendarManager& other) const {
  return Versioning::LessThan(GetVersion(), other.GetVersion());
}
bool CalendarManager::VersionsAreSynced(const CalendarManager& other) const {
  return Versioning::GreaterThanOrEqualTo(other.GetVersion(), GetVersion());
}
void CalendarManager::ResolveVersion(CalendarManager& other) {
  uint32_t newest = Versioning::NewestVersion(GetVersion(), other.GetVersion());
  SetVersion(newest);
  other.SetVersion(newest);
}

Calendar CalendarManager::CreateNewCalendar() {
  Calendar calendar(*this);
  Live()->m_calendars.Append(calendar);
  return calendar;
}

Calendar CalendarManager::CreateNewCalendar(const CalendarDescriptor& descriptor) {
  Calendar calendar = CreateNewCalendar();
  calendar.GetCalendarDescriptor().Copy(descriptor, false);
  return calendar;
}

Event CalendarManager::CreateNewEvent(uint32_t serveId, uint32_t fixedId) {
  Event event(*this);
  event.Live()->m_identification.SetServeId(serveId);
  event.Live()->m_identification.SetFixedId(fixedId);
  Live()->m_events.Append(event);
  return event;
}

Event CalendarManager::CreateNewEvent(const EventDescriptor& descriptor, uint32_t serveId,
                                      uint32_t fixedId) {
  Event event = CreateNewEvent(serveId, fixedId);
  event.GetEventDescriptor().Copy(descriptor);
  return event;
}

void CalendarManager::DeleteEmptyEvents() {
  Live()->m_events.DeleteEmptyEvents();
}
void CalendarManager::RemoveEmptyEvents(bool keepGlobalDeletes) {
  Live()->m_events.RemoveEmptyEvents(keepGlobalDeletes);
}
bool CalendarManager::HasCalendar(const Calendar& calendar) const {
  return Live()->m_calendars.Contains(calendar);
}
bool CalendarManager::HasEvent(const Event& event) const {
  return Live()->m_events.Contains(event);
}

Calendar CalendarManager::FindByLocalId(uint32_t id, bool touch) const {
  return Live()->m_calendars.FindByLocalId(id, touch);
}
Calendar CalendarManager::FindByFixedId(uint32_t id, bool touch) const {
  return Live()->m_calendars.FindByFixedId(id, touch);
}
Calendar CalendarManager::FindCalendarByServeId(uint32_t id, bool touch) const {
  return Live()->m_calendars.FindByServeId(id, touch);
}
Calendar CalendarManager::FindMatchingCalendar(const Calendar& calendar, bool touch) const {
  if (calendar.IsNull()) return Calendar();
  return FindByFixedId(calendar.GetFixedId(), touch);
}

Event CalendarManager::FindEventByCacheId(uint32_t id, bool touch) const {
  return Live()->m_events.FindByCacheId(id, touch);
}
Event CalendarManager::FindEventByLocalId(uint32_t id, bool touch) const {
  return Live()->m_events.FindByLocalId(id, touch);
}
Event CalendarManager::FindEventByFixedId(uint32_t id, bool touch) const {
  return Live()->m_events.FindByFixedId(id, touch);
}
Event CalendarManager::FindEventByServeId(uint32_t id, bool touch) const {
  return Live()->m_events.FindByServeId(id, touch);
}
Event CalendarManager::FindMatchingEvent(const Event& event, bool touch) const {
  if (event.IsNull()) return Event();
  return FindEventByFixedId(event.GetFixedId(), touch);
}

CalendarEvent CalendarManager::FindCalendarEventByCacheId(const Event& event, uint32_t id,
                                                          bool touch) const {
  return event.IsNull() ? CalendarEvent() : event.GetCalendarEventList().FindByCacheId(id, touch);
}
CalendarEvent CalendarManager::FindCalendarEventByFixedId(const Event& event, uint32_t id,
                                                          bool touch) const {
  return event.IsNull() ? CalendarEvent() : event.GetCalendarEventList().FindByFixedId(id, touch);
}
CalendarEvent CalendarManager::FindCalendarEventByCalendarLocalId(const Event& event, uint32_t id,
                                                                  bool touch) const {
  return event.IsNull() ? CalendarEvent()
                        : event.GetCalendarEventList().FindByCalendarLocalId(id, touch);
}
CalendarEvent CalendarManager::FindCalendarEventByCalendarFixedId(const Event& event, uint32_t id,
                                                                  bool touch) const {
  return event.IsNull() ? CalendarEvent()
                        : event.GetCalendarEventList().FindByCalendarFixedId(id, touch);
}
CalendarEvent CalendarManager::FindCalendarEventByLocalId(const Event& event, uint32_t id) const {
  return event.IsNull() ? CalendarEvent() : event.GetCalendarEventList().FindByLocalId(id);
}
CalendarEvent CalendarManager::FindCalendarEventByCacheId(const Calendar& calendar, uint32_t id,
                                                          bool touch) const {
  return calendar.IsNull() ? CalendarEvent()
                           : calendar.GetCalendarEventList().FindByCacheId(id, touch);
}
CalendarEvent CalendarManager::FindCalendarEventByEventCacheId(const Calendar& calendar,
                                                               uint32_t id, bool touch) const {
  return calendar.IsNull() ? CalendarEvent()
                           : calendar.GetCalendarEventList().FindByEventCacheId(id, touch);
}
CalendarEvent CalendarManager::FindCalendarEventByLocalId(const Calendar& calendar,
                                                          uint32_t id) const {
  return calendar.IsNull() ? CalendarEvent() : calendar.GetCalendarEventList().FindByLocalId(id);
}
CalendarEvent CalendarManager::FindCalendarEventByLocalId(uint32_t id) const {
  const CalendarList& calendars = Live()->m_calendars;
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    CalendarEvent found = FindCalendarEventByLocalId(calendars[i], id);
    if (!found.IsNull()) return found;
  }
  return CalendarEvent();
}
CalendarEvent CalendarManager::FindCalendarEventByCalendar(const Event& event,
                                                           const Calendar& calendar,
                                                           bool touch) const {
  if (event.IsNull() || calendar.IsNull()) return CalendarEvent();
  return event.GetCalendarEventList().FindByCalendarFixedId(calendar.GetFixedId(), touch);
}
CalendarEvent CalendarManager::FindMatchingCalendarEvent(const Event& event,
                                                         const CalendarEvent& link,
                                                         bool touch) const {
  if (event.IsNull() || link.IsNull()) return CalendarEvent();
  Calendar parent = link.GetParentCalendar();
  if (parent.IsNull() || parent.GetFixedId() == 0) return CalendarEvent();
  return event.GetCalendarEventList().FindByCalendarFixedId(parent.GetFixedId(), touch);
}
CalendarEvent CalendarManager::FindMatchingCalendarEvent(const CalendarEvent& link,
                                                         bool touch) const {
  if (link.IsNull()) return CalendarEvent();
  Event event = FindMatchingEvent(link.GetEvent(), touch);
  return FindMatchingCalendarEvent(event, link, touch);
}

CalendarList CalendarManager::GetUntouched() const {
  return Live()->m_calendars.GetUntouched();
}
EventList CalendarManager::GetUntouchedEvents() const {
  return Live()->m_events.GetUntouched();
}
CalendarEventList CalendarManager::GetUntouchedCalendarEvents(const Event& event) const {
  return event.IsNull() ? CalendarEventList() : event.GetCalendarEventList().GetUntouched();
}

void CalendarManager::SetClean() {
  CalendarList& calendars = Live()->m_calendars;
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    Calendar& calendar = calendars[i];
    if (calendar.IsNull()) continue;
    calendar.SetClean();
    CalendarEventList& links = calendar.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (!links[j].IsNull()) links[j].SetClean();
    }
  }
  EventList& events = Live()->m_events;
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsNull()) events[i].SetClean();
  }
}

bool CalendarManager::ForceFixedIds(CalendarCache& cache) {
  bool calendars = ForceFixedIdsCalendars(cache);
  bool events = ForceFixedIdsEvents(cache);
  bool links = ForceFixedIdsCalendarEvents(cache);
  return calendars && events && links;
}
bool CalendarManager::ForceFixedIdsCalendars(CalendarCache& cache) {
  return Live()->m_calendars.ForceFixedIds(cache, true);
}
bool CalendarManager::ForceFixedIdsEvents(CalendarCache& cache) {
  return Live()->m_events.ForceFixedIds(cache);
}
bool CalendarManager::ForceFixedIdsCalendarEvents(CalendarCache& cache) {
  CalendarList& calendars = Live()->m_calendars;
  bool all = true;
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (!calendars[i].IsNull() && !calendars[i].GetCalendarEventList().ForceFixedIds(cache)) {
      all = false;
    }
  }
  return all;
}

void CalendarManager::ResolveIdentity(const CalendarManager& other) {
  Live()->m_calendars.ResolveIdentity(other.Live()->m_calendars);
  Live()->m_events.ResolveIdentity(other.Live()->m_events);
}

CalendarManager CalendarManager::Clone() const {
  const CalendarManagerHolder* h = Live();
  uint32_t oldRef = h->m_referenceCount;
  CalendarManager result = CreateEmpty();
  CalendarManagerHolder* r = result.m_holder;
  r->m_tableIdentification = h->m_tableIdentification.Clone();
  r->m_calendars = h->m_calendars.Clone(result);
  BRONTEL_REQUIRE(result.m_holder->m_referenceCount == 1, "result.m_holder->m_referenceCount == 1");
  r->m_events = h->m_events.Clone(result);
  BRONTEL_REQUIRE(result.m_holder->m_referenceCount == 1, "result.m_holder->m_referenceCount == 1");
  r->m_level = h->m_level;
  r->m_serverManager = h->m_serverManager;
  r->m_pulsecastURL = h->m_pulsecastURL;
  r->m_pulsecastURLVersion = h->m_pulsecastURLVersion;

  for (int32_t i = 0; i < h->m_calendars.GetListCount(); ++i) {
    Calendar calendar = h->m_calendars[i];
    if (!calendar.IsNull()) calendar.setCloneIndex(i);
  }
  for (int32_t i = 0; i < h->m_events.GetListCount(); ++i) {
    const Event& event = h->m_events[i];
    if (event.IsNull()) continue;
    const CalendarEventList& links = event.GetCalendarEventList();
    Event copy = r->m_events[i];
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      const CalendarEvent& link = links[j];
      Calendar parent = link.IsNull() ? Calendar() : link.GetParentCalendar();
      // A placement in a calendar this manager does not hold cannot be re-made.
      if (parent.IsNull() || !h->m_calendars.Contains(parent)) continue;
      Calendar target = r->m_calendars[parent.getCloneIndex()];
      CalendarEvent made = copy.AddToCalendar(target);
      made.Live()->m_identification.Copy(link.Live()->m_identification);
      made.Live()->m_status.Copy(link.Live()->m_status);
      made.Live()->m_descriptor.Copy(link.Live()->m_descriptor);
    }
  }
  BRONTEL_REQUIRE(result.m_holder->m_referenceCount == 1, "result.m_holder->m_referenceCount == 1");
  BRONTEL_REQUIRE(oldRef == m_holder->m_referenceCount, "oldRef == m_holder->m_referenceCount");
  (void)oldRef;
  return result;
}

CalendarManager CalendarManager::SharedClone() const {
  CalendarManager result = Clone();
  CalendarList calendars = result.GetCalendarList();  // Remove() changes the manager's list
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    Calendar calendar = calendars[i];
    if (!calendar.IsNull() && !calendar.GetCalendarDescriptor().GetSharedFlag()) calendar.Remove();
  }
  EventList& events = result.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    Event event = events[i];
    if (event.IsNull() || !event.GetEventDescriptor().GetIsPrivate()) continue;
    event.SetDeletedGlobal();
    event.GetCalendarEventList().EmptyList();
  }
  result.RemoveEmptyEvents(true);
  return result;
}

bool CalendarManager::Verify(CalendarManager& other) {
  // First decide, without changing any list, which placements, events and
  // calendars the two managers hold equally; then take them all out in one pass
  // over each list, so that the comparison costs time in proportion to the
  // data.
  const EventList& theirEvents = other.GetEventList();
  FlatSet<const void*> sameLinks;
  FlatSet<const void*> sameEvents(static_cast<size_t>(theirEvents.GetListCount()) * 2);
  for (int32_t i = 0; i < theirEvents.GetListCount(); ++i) {
    const Event& o = theirEvents[i];
    if (o.IsNull()) continue;
    Event m = FindEventByFixedId(o.GetFixedId(), false);
    if (m.IsNull() || sameEvents.Contains(m.m_holder)) continue;
    const CalendarEventList& theirLinks = o.GetCalendarEventList();
    const CalendarEventList& myLinks = m.GetCalendarEventList();
    int32_t matched = 0;
    for (int32_t j = 0; j < theirLinks.GetListCount(); ++j) {
      const CalendarEvent& ol = theirLinks[j];
      if (ol.IsNull()) continue;
      // The first placement with that fixed id that is not matched yet.
      for (int32_t k = 0; k < myLinks.GetListCount(); ++k) {
        const CalendarEvent& ml = myLinks[k];
        if (ml.IsNull() || ml.GetFixedId() != ol.GetFixedId() || ol.GetFixedId() == 0 ||
            sameLinks.Contains(ml.m_holder)) {
          continue;
        }
        if (ol.Equal(ml)) {
          sameLinks.Insert(ml.m_holder);
          sameLinks.Insert(ol.m_holder);
          ++matched;
        }
        break;
      }
    }
    if (matched == theirLinks.GetListCount() && matched == myLinks.GetListCount() && o.Equal(m)) {
      sameEvents.Insert(o.m_holder);
      sameEvents.Insert(m.m_holder);
    }
  }

  auto isSameLink = [&](const CalendarEvent& l) { return sameLinks.Contains(l.m_holder); };
  auto dropLinks = [&](CalendarEventList& links) {
    if (links.RemoveIf(isSameLink)) links.SetFastSearch(false);
  };
  std::vector<CalendarEvent> detached;
  for (CalendarManager* side : {this, &other}) {
    CalendarManagerHolder* h = side->Live();
    for (int32_t i = 0; i < h->m_events.GetListCount(); ++i) {
      if (h->m_events[i].IsNull()) continue;
      CalendarEventList& links = h->m_events[i].GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        if (isSameLink(links[j])) detached.push_back(links[j]);
      }
      dropLinks(links);
    }
    for (int32_t i = 0; i < h->m_calendars.GetListCount(); ++i) {
      if (!h->m_calendars[i].IsNull()) dropLinks(h->m_calendars[i].GetCalendarEventList());
    }
    if (h->m_events.RemoveIf([&](const Event& e) { return sameEvents.Contains(e.m_holder); })) {
      h->m_events.DropIndexes();
    }
  }
  for (CalendarEvent& link : detached) link.nullify();

  FlatSet<const void*> sameCalendars;
  const CalendarList& theirCalendars = other.GetCalendarList();
  for (int32_t i = 0; i < theirCalendars.GetListCount(); ++i) {
    const Calendar& c = theirCalendars[i];
    if (c.IsNull()) continue;
    Calendar mine = FindByFixedId(c.GetFixedId(), false);
    if (mine.IsNull() || sameCalendars.Contains(mine.m_holder) ||
        c.GetCalendarEventList().GetListCount() != 0 ||
        mine.GetCalendarEventList().GetListCount() != 0 || !c.Equal(mine, false)) {
      continue;
    }
    sameCalendars.Insert(c.m_holder);
    sameCalendars.Insert(mine.m_holder);
  }
  for (CalendarManager* side : {this, &other}) {
    side->Live()->m_calendars.RemoveIf(
        [&](const Calendar& c) { return sameCalendars.Contains(c.m_holder); });
  }

  return GetCalendarList().GetListCount() == 0 && GetEventList().GetListCount() == 0 &&
         other.GetCalendarList().GetListCount() == 0 && other.GetEventList().GetListCount() == 0;
}

void CalendarManager::ConfirmServerManager() {
  CalendarManagerHolder* h = Live();
  if (h->m_serverManager) return;
  h->m_serverManager = true;
  auto swap = [](RecordIdentification id) {
    uint32_t fixedId = id.GetFixedId();
    id.SetFixedId(id.GetLocalId());
    id.SetLocalId(fixedId);
  };
  for (int32_t i = 0; i < h->m_calendars.GetListCount(); ++i) {
    const Calendar& calendar = h->m_calendars[i];
    if (calendar.IsNull()) continue;
    swap(calendar.GetRecordIdentification());
    const CalendarEventList& links = calendar.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (!links[j].IsNull()) swap(links[j].GetRecordIdentification());
    }
  }
  for (int32_t i = 0; i < h->m_events.GetListCount(); ++i) {
    if (!h->m_events[i].IsNull()) swap(h->m_events[i].GetRecordIdentification());
  }
  h->m_events.DropIndexes();
}

bool CalendarManager::IsCoherent() const {
  const CalendarManagerHolder* h = Live();
  if (!IdsAreUnique(h->m_calendars) || !IdsAreUnique(h->m_events)) return false;
  for (int32_t i = 0; i < h->m_events.GetListCount(); ++i) {
    if (!h->m_events[i].IsNull() && !IdsAreUnique(h->m_events[i].GetCalendarEventList())) {
      return false;
    }
  }
  return true;
}

bool CalendarManager::SanityCheck() const {
  // The checks of Calendar::SanityCheck and Event::SanityCheck, with the
  // membership questions of each placement's check answered from sets of this
  // manager's records, so that the whole check costs the size of the data.
  const CalendarManagerHolder* h = Live();
  FlatSet<const void*> calendars(static_cast<size_t>(h->m_calendars.GetListCount()));
  FlatSet<const void*> events(static_cast<size_t>(h->m_events.GetListCount()));
  for (int32_t i = 0; i < h->m_calendars.GetListCount(); ++i) {
    calendars.Insert(h->m_calendars[i].HolderKey());
  }
  for (int32_t i = 0; i < h->m_events.GetListCount(); ++i)
    events.Insert(h->m_events[i].HolderKey());
  // CalendarEvent::SanityCheck of a placement known to be non-null.
  auto placementIsSane = [&](const CalendarEvent& link) {
    Calendar calendar = link.GetParentCalendar();
    Event event = link.GetEvent();
    if (calendar.IsNull() || event.IsNull()) return false;
    CalendarManager manager = calendar.GetManager();
    if (!manager.IsSameHolder(event.GetManager()) || manager.IsNull()) return false;
    if (!manager.IsSameHolder(*this))
      return manager.HasCalendar(calendar) && manager.HasEvent(event);
    return calendars.Contains(calendar.HolderKey()) && events.Contains(event.HolderKey());
  };
  for (int32_t i = 0; i < h->m_calendars.GetListCount(); ++i) {
    const Calendar& c = h->m_calendars[i];
    if (c.IsNull() || !c.IsHeld()) return false;
    const CalendarEventList& links = c.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      const CalendarEvent& link = links[j];
      if (link.IsNull() || !link.GetParentCalendar().IsSameHolder(c) || !placementIsSane(link)) {
        return false;
      }
    }
  }
  for (int32_t i = 0; i < h->m_events.GetListCount(); ++i) {
    const Event& e = h->m_events[i];
    if (e.IsNull() || !e.IsHeld()) return false;
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      const CalendarEvent& link = links[j];
      if (link.IsNull() || !link.GetEvent().IsSameHolder(e) || !placementIsSane(link)) {
        return false;
      }
    }
  }
  return true;
}

std::string CalendarManager::GetDisplayString() const {
  if (IsNull()) return "null manager";
  const CalendarManagerHolder* h = Live();
  return Format("CalendarManager(L=%d) %s #calendars = %d #events = %d %s v%x", h->m_level,
                h->m_tableIdentification.GetDisplayString().c_str(), h->m_calendars.GetListCount(),
                h->m_events.GetListCount(), h->m_pulsecastURL.c_str(), h->m_pulsecastURLVersion);
}

TreeItem CalendarManager::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  if (IsNull()) return item;
  Live()->m_calendars.DisplayTree(tree, item);
  Live()->m_events.DisplayTree(tree, item);
  return item;
}

std::unique_ptr<LogNode> CalendarManager::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarManager>>(name, *this);
}

void CalendarManager::noteChangeCacheId(const Event&) const {
  if (!IsNull()) Live()->m_events.noteChangeCacheId();
}
void CalendarManager::noteChangeLocalId(const Event&) const {
  if (!IsNull()) Live()->m_events.noteChangeLocalId();
}
void CalendarManager::noteChangeFixedId(const Event&) const {
  if (!IsNull()) Live()->m_events.noteChangeFixedId();
}
void CalendarManager::noteChangeDateBookId(const Event&) const {
  if (!IsNull()) Live()->m_events.noteChangeDateBookId();
}
void CalendarManager::noteChangeServeId(const Event&) const {
  if (!IsNull()) Live()->m_events.noteChangeServeId();
}

bool CalendarManager::removeCalendar(const Calendar& calendar) {
  return Live()->m_calendars.Remove(calendar);
}
bool CalendarManager::removeEvent(const Event& event) {
  return Live()->m_events.Remove(event);
}

}  // namespace brontel
