#include "support/calendar_fixture.h"

namespace brontel::testing {

CalendarDescriptor MakeCalendarDescriptor(const std::string& name, CalendarKind kind) {
  CalendarDescriptor descriptor;
  descriptor.SetCalendarName(name);
  descriptor.SetSharedFlag(kind.shared);
  descriptor.SetOwnedFlag(kind.owned);
  descriptor.SetReadOnlyFlag(kind.readOnly);
  descriptor.SetHideDetailsFlag(kind.hideDetails);
  return descriptor;
}

EventDescriptor MakeEventDescriptor(const std::string& name) {
  EventDescriptor descriptor;
  descriptor.SetName(name);
  descriptor.SetYearMonthDate(static_cast<uint16_t>((2004 - 1904) << 9 | 3 << 5 | 1));
  descriptor.SetStartTime(0x0900);
  descriptor.SetEndTime(0x0A00);
  return descriptor;
}

Calendar AddCalendar(CalendarManager& manager, const std::string& name, CalendarKind kind,
                     uint32_t fixedId, uint32_t serveId) {
  Calendar calendar = manager.CreateNewCalendar(MakeCalendarDescriptor(name, kind));
  if (fixedId != 0) calendar.SetFixedId(fixedId);
  if (serveId != 0) calendar.SetServeId(serveId);
  return calendar;
}

Event AddEvent(CalendarManager& manager, const std::string& name,
               std::initializer_list<Calendar> calendars, uint32_t fixedId) {
  Event event = manager.CreateNewEvent(MakeEventDescriptor(name), 0, fixedId);
  for (Calendar calendar : calendars) event.AddToCalendar(calendar);
  return event;
}

CalendarEvent PlacementOf(const Event& event, const Calendar& calendar) {
  const CalendarEventList& links = event.GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    if (!links[i].IsNull() && links[i].GetParentCalendar().IsSameHolder(calendar)) return links[i];
  }
  return CalendarEvent();
}

bool ForceFixedIds(CalendarManager& manager, CalendarCache& cache) {
  return manager.ForceFixedIds(cache);
}

std::vector<std::string> CalendarNamesOf(const Event& event) {
  std::vector<std::string> names;
  const CalendarEventList& links = event.GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    if (links[i].IsDeleted()) continue;
    Calendar calendar = links[i].GetParentCalendar();
    names.push_back(calendar.IsNull() ? std::string("<detached>")
                                      : calendar.GetCalendarDescriptor().GetCalendarName());
  }
  return names;
}

std::vector<std::string> LinkTexts(const LinkList& links) {
  std::vector<std::string> texts;
  for (int32_t i = 0; i < links.GetListCount(); ++i) texts.push_back(links[i].GetDisplayString());
  return texts;
}

std::vector<std::string> LinkTexts(std::initializer_list<Link> links) {
  std::vector<std::string> texts;
  for (const Link& link : links) texts.push_back(link.GetDisplayString());
  return texts;
}

}  // namespace brontel::testing
