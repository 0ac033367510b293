#include "brontel/calendar/calendar_cache.h"

#include <ctime>

#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarCacheHolder, "CalendarCacheHolder");

CalendarCacheHolder::CalendarCacheHolder() : m_manager(CalendarManager::CreateEmpty()) {}

void CalendarCacheHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteDword(m_sequence);
  } else {
    m_sequence = ar.ReadDword();
  }
  m_manager.SerializeQuick(ar, ar.IsStoring() ? Archive::kNoSchema : ar.GetObjectSchema());
  if (ar.IsLoading() && m_manager.IsNull()) {
    ar.Fail(ArchiveStatus::kBadValue, "cache without manager");
  }
}

CalendarCache::CalendarCache() : Handle(new CalendarCacheHolder()) {}

void CalendarCache::SetRandomCacheIndex() {
  uint32_t t = static_cast<uint32_t>(std::time(nullptr));
  Live()->m_sequence = ((t * 0xDEADACE9u) | 0x40000000u) & 0x7FFFFFFFu;
}

Calendar CalendarCache::AddItem(Calendar& calendar) {
  calendar.SetCacheId(GenerateCacheId());
  Calendar added = Live()->m_manager.CreateNewCalendar();
  added.Copy(calendar, false);
  return added;
}

CalendarEvent CalendarCache::AddItem(Event event, CalendarEvent& link) {
  link.SetCacheId(GenerateCacheId());
  Calendar parent = link.GetParentCalendar();
  Calendar calendar =
      parent.IsNull() ? Calendar() : Live()->m_manager.FindByFixedId(parent.GetFixedId(), false);
  if (calendar.IsNull()) return CalendarEvent();
  CalendarEvent added = event.AddToCalendar(calendar);
  added.Copy(link);
  return added;
}

Event CalendarCache::AddItem(Event& event) {
  CalendarManager manager = Live()->m_manager;
  event.SetCacheId(GenerateCacheId());
  Event parent;
  if (event.HasParent() && !event.GetParentEvent().IsNull()) {
    parent = manager.FindMatchingEvent(event.GetParentEvent(), false);
  }
  Event added = manager.CreateNewEvent(event.GetServeId(), event.GetFixedId());
  added.Copy(event);
  if (parent.IsNull() || parent.IsDeleted()) return added;

  added.SetParentEventFixedId(parent.ForceFixedId(*this));
  added.ForceFixedId(*this);
  if (event.GetFixedId() == 0) event.SetFixedId(added.GetFixedId());
  CalendarEventList parentLinks = parent.GetCalendarEventList();
  for (int32_t i = 0; i < parentLinks.GetListCount(); ++i) {
    CalendarEvent link = parentLinks[i];
    Calendar linkCalendar = link.GetParentCalendar();
    Calendar calendar = manager.FindMatchingCalendar(linkCalendar, false);
    if (calendar.IsNull() || calendar.IsDeleted()) continue;
    CalendarEvent made = added.AddToCalendar(calendar);
    made.SetVersion(link.GetVersion());
    made.SetCacheId(GenerateCacheId());
    made.ForceFixedId(*this);
    uint32_t calendarCacheId = linkCalendar.GetCacheId();
    if (calendarCacheId != 0) {
      CalendarEvent own = event.FindCalendarEventByCalendarCacheId(calendarCacheId, false);
      if (!own.IsNull()) own.SetCacheId(made.GetCacheId());
    }
  }
  return added;
}

Calendar CalendarCache::FindByFixedId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindByFixedId(id, touch);
}
Calendar CalendarCache::FindByLocalId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindByLocalId(id, touch);
}
Event CalendarCache::FindEventByCacheId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindEventByCacheId(id, touch);
}
Event CalendarCache::FindEventByLocalId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindEventByLocalId(id, touch);
}
Calendar CalendarCache::FindMatchingCalendar(const Calendar& calendar, bool touch) const {
  return Live()->m_manager.FindMatchingCalendar(calendar, touch);
}
Event CalendarCache::FindMatchingEvent(const Event& event, bool touch) const {
  return Live()->m_manager.FindMatchingEvent(event, touch);
}
CalendarEvent CalendarCache::FindMatchingCalendarEvent(const CalendarEvent& link,
                                                       bool touch) const {
  return Live()->m_manager.FindMatchingCalendarEvent(link, touch);
}
CalendarEvent CalendarCache::FindMatchingCalendarEvent(const Event& event,
                                                       const CalendarEvent& link,
                                                       bool touch) const {
  return Live()->m_manager.FindMatchingCalendarEvent(event, link, touch);
}
CalendarEvent CalendarCache::FindCalendarEventByCacheId(const Event& event, uint32_t id,
                                                        bool touch) const {
  return Live()->m_manager.FindCalendarEventByCacheId(event, id, touch);
}
CalendarEvent CalendarCache::FindCalendarEventByCacheId(const Calendar& calendar, uint32_t id,
                                                        bool touch) const {
  return Live()->m_manager.FindCalendarEventByCacheId(calendar, id, touch);
}
CalendarEvent CalendarCache::FindCalendarEventByCalendar(const Event& event,
                                                         const Calendar& calendar,
                                                         bool touch) const {
  return Live()->m_manager.FindCalendarEventByCalendar(event, calendar, touch);
}
CalendarEvent CalendarCache::FindCalendarEventByCalendarFixedId(const Event& event, uint32_t id,
                                                                bool touch) const {
  return Live()->m_manager.FindCalendarEventByCalendarFixedId(event, id, touch);
}
CalendarEvent CalendarCache::FindCalendarEventByLocalId(const Event& event, uint32_t id) const {
  return Live()->m_manager.FindCalendarEventByLocalId(event, id);
}
CalendarEvent CalendarCache::FindCalendarEventByLocalId(const Calendar& calendar,
                                                        uint32_t id) const {
  return Live()->m_manager.FindCalendarEventByLocalId(calendar, id);
}
CalendarEvent CalendarCache::FindCalendarEventByEventCacheId(const Calendar& calendar, uint32_t id,
                                                             bool touch) const {
  return Live()->m_manager.FindCalendarEventByEventCacheId(calendar, id, touch);
}

bool CalendarCache::ForceFixedIds() {
  return Live()->m_manager.ForceFixedIds(*this);
}
bool CalendarCache::ForceFixedIdsCalendars() {
  return Live()->m_manager.ForceFixedIdsCalendars(*this);
}
bool CalendarCache::ForceFixedIdsEvents() {
  return Live()->m_manager.ForceFixedIdsEvents(*this);
}
bool CalendarCache::ForceFixedIdsCalendarEvents() {
  return Live()->m_manager.ForceFixedIdsCalendarEvents(*this);
}
CalendarList CalendarCache::GetUntouched() const {
  return Live()->m_manager.GetUntouched();
}
EventList CalendarCache::GetUntouchedEvents() const {
  return Live()->m_manager.GetUntouchedEvents();
}
CalendarEventList CalendarCache::GetUntouchedCalendarEvents(const Event& event) const {
  return Live()->m_manager.GetUntouchedCalendarEvents(event);
}
void CalendarCache::RemoveEmptyEvents() {
  Live()->m_manager.RemoveEmptyEvents(true);
}
bool CalendarCache::SanityCheck() const {
  return Live()->m_manager.SanityCheck();
}

CalendarCache CalendarCache::Clone() const {
  CalendarCache copy;
  copy.Live()->m_manager = Live()->m_manager.Clone();
  copy.Live()->m_sequence = Live()->m_sequence;
  return copy;
}

std::string CalendarCache::GetDisplayString() const {
  return Format("Calendar Cache %x", Live()->m_sequence);
}

TreeItem CalendarCache::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  Live()->m_manager.DisplayTree(tree, item);
  return item;
}

void CalendarCache::SerializeQuick(Archive& ar, uint32_t) {
  if (ar.IsStoring()) {
    StoreHolderObject(ar);
  } else {
    LoadHolderObject(ar, false);
  }
}

std::unique_ptr<LogNode> CalendarCache::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarCache>>(name, *this);
}

}  // namespace brontel
