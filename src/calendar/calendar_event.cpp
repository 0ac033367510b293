#include "brontel/calendar/calendar_event.h"

#include "brontel/calendar/calendar_cache.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarEventHolder, "CalendarEventHolder");

CalendarEvent::CalendarEvent() = default;
CalendarEvent::CalendarEvent(CalendarEventHolder* adopted) : RecordHandle(adopted) {}
CalendarEvent::CalendarEvent(const CalendarEvent& other) = default;
CalendarEvent& CalendarEvent::operator=(const CalendarEvent& other) = default;
CalendarEvent::~CalendarEvent() = default;

CalendarEvent::CalendarEvent(Event& event, Calendar& calendar)
    : RecordHandle(new CalendarEventHolder()) {
  BRONTEL_REQUIRE(event.GetManager().IsSameHolder(calendar.GetManager()),
                  "event.GetManager() == calendar.GetManager()");
  m_holder->m_event = event;
  calendar.addCalendarEvent(*this);
  event.addCalendarEvent(*this);
  m_holder->m_held = true;
  m_holder->m_parentCalendar.Set(calendar);
}

CalendarEvent CalendarEvent::CreateEmpty() {
  return CalendarEvent(new CalendarEventHolder());
}

Event CalendarEvent::GetEvent() const {
  return Live()->m_event;
}
Calendar CalendarEvent::GetParentCalendar() const {
  return Live()->m_parentCalendar.Get();
}
CalendarEventDescriptor CalendarEvent::GetCalendarEventDescriptor() const {
  return Live()->m_descriptor;
}

void CalendarEvent::SetLocalId(uint32_t v) {
  Live()->m_identification.SetLocalId(v);
}
void CalendarEvent::SetFixedId(uint32_t v) {
  Live()->m_identification.SetFixedId(v);
}
void CalendarEvent::SetClean() {
  Live()->m_status.SetDirtyFlag(false);
}

uint32_t CalendarEvent::GetDateBookId() const {
  const Event& event = Live()->m_event;
  return event.IsNull() ? 0 : event.GetDateBookId();
}
void CalendarEvent::SetDateBookId(uint32_t v) {
  if (!Live()->m_event.IsNull()) Live()->m_event.SetDateBookId(v);
}
uint32_t CalendarEvent::GetLocalInfo() const {
  const Event& event = Live()->m_event;
  return event.IsNull() ? 0 : event.GetLocalInfo();
}
void CalendarEvent::SetLocalInfo(uint32_t v) {
  if (!Live()->m_event.IsNull()) Live()->m_event.SetLocalInfo(v);
}

bool CalendarEvent::IsHidden() const {
  const Calendar& calendar = Live()->m_parentCalendar.Get();
  return !calendar.IsNull() && calendar.IsHidden();
}
bool CalendarEvent::IsReadOnly() const {
  const Calendar& calendar = Live()->m_parentCalendar.Get();
  return !calendar.IsNull() && calendar.IsReadOnly();
}

bool CalendarEvent::IsMatching(const CalendarEvent& other) const {
  if (IsNull() || other.IsNull()) return false;
  return Live()->m_parentCalendar.Get().IsMatching(other.Live()->m_parentCalendar.Get()) &&
         Live()->m_event.IsMatching(other.Live()->m_event);
}

bool CalendarEvent::Equal(const CalendarEvent& other) const {
  RequireLiveOther(other);
  return Live()->m_status.Equal(other.m_holder->m_status) &&
         Live()->m_descriptor.Equal(other.m_holder->m_descriptor);
}

void CalendarEvent::Copy(const CalendarEvent& other) {
  RequireLiveOther(other);
  CalendarEventHolder* h = Live();
  const CalendarEventHolder* o = other.m_holder;
  h->m_conflict = o->m_conflict;
  h->m_identification.Copy(o->m_identification);
  h->m_status.Copy(o->m_status);
  h->m_descriptor.Copy(o->m_descriptor);
}

void CalendarEvent::SetConflict(const CalendarEvent& other) {
  if (other.IsNull()) {
    Live()->m_conflict = CalendarEvent();
    return;
  }
  CalendarEvent snapshot = CreateEmpty();
  snapshot.Copy(other);
  Live()->m_conflict = snapshot;
}

void CalendarEvent::AcceptConflict() {
  BRONTEL_REQUIRE(!Live()->m_conflict.IsNull(), "!m_holder->m_conflict.IsNull()");
  CalendarEvent snapshot = Live()->m_conflict;
  Copy(snapshot);
}

uint32_t CalendarEvent::ForceFixedId(CalendarCache& cache) {
  CalendarEventHolder* h = Live();
  uint32_t fixedId = h->m_identification.GetFixedId();
  if (fixedId != 0) return fixedId;
  Calendar calendar = h->m_parentCalendar.Get();
  if (h->m_event.IsNull() || calendar.IsNull()) return 0;
  uint32_t e = h->m_event.ForceFixedId(cache);
  uint32_t c = calendar.ForceFixedId(cache);
  if (e == 0 || c == 0) return 0;
  fixedId = e + c + (c << 16);
  h->m_identification.SetFixedId(fixedId);
  return fixedId;
}

bool CalendarEvent::Remove() {
  CalendarEventHolder* h = Live();
  CalendarEvent self = *this;  // keeps the placement alive while its lists let go
  bool fromEvent = !h->m_event.IsNull() && h->m_event.removeCalendarEvent(self);
  Calendar calendar = h->m_parentCalendar.Get();
  bool fromCalendar = !calendar.IsNull() && calendar.removeCalendarEvent(self);
  nullify();
  return fromEvent && fromCalendar;
}

void CalendarEvent::nullify() {
  CalendarEventHolder* h = Live();
  h->m_held = false;
  h->m_parentCalendar.Set(Calendar());
  h->m_event = Event();
}

bool CalendarEvent::SanityCheck() const {
  const CalendarEventHolder* h = Live();
  Calendar calendar = h->m_parentCalendar.Get();
  if (calendar.IsNull() || h->m_event.IsNull()) return false;
  CalendarManager manager = calendar.GetManager();
  if (!manager.IsSameHolder(h->m_event.GetManager()) || manager.IsNull()) return false;
  return manager.HasCalendar(calendar) && manager.HasEvent(h->m_event);
}

std::string CalendarEvent::GetDisplayString() const {
  if (IsNull()) return "CalendarEvent: null";
  const CalendarEventHolder* h = Live();
  std::string event =
      h->m_event.IsNull() ? std::string() : h->m_event.GetEventDescriptor().GetDisplayString();
  return Format("CalendarEvent: %s %s %s %s%s", h->m_identification.GetDisplayString().c_str(),
                h->m_status.GetDisplayString().c_str(), event.c_str(),
                h->m_descriptor.GetDisplayString().c_str(), IsConflicted() ? " **CONFLICT**" : "");
}

std::string CalendarEvent::GetUserDisplayString() const {
  const CalendarEventHolder* h = Live();
  std::string name, time, calendar;
  if (!h->m_event.IsNull()) {
    EventDescriptor d = h->m_event.GetEventDescriptor();
    name = d.GetName();
    time = d.GetDisplayStringTime();
  }
  Calendar parent = h->m_parentCalendar.Get();
  if (!parent.IsNull()) calendar = parent.GetCalendarDescriptor().GetCalendarName();
  return Format("Event %s at %s on Calendar %s", name.c_str(), time.c_str(), calendar.c_str());
}

TreeItem CalendarEvent::DisplayTree(TreeView& tree, TreeItem parent) const {
  int32_t links = 0;
  if (!IsNull() && !Live()->m_event.IsNull()) {
    links = Live()->m_event.GetCalendarEventList().GetListCount();
  }
  TreeItem item =
      tree.InsertItem(Format("%s links = %d", GetDisplayString().c_str(), links), parent);
  DisplayConflict(tree, item);
  return item;
}

void CalendarEvent::SerializeQuick(Archive& ar, uint32_t) {
  SerializeHolderObject(ar);
}

std::unique_ptr<LogNode> CalendarEvent::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarEvent>>(name, *this);
}

}  // namespace brontel
