// Builders of calendar data for tests: calendars of each sharing kind, events
// with a descriptor, placements of events in calendars, and readable forms of
// link lists. Every record is created through its manager, as the library
// itself creates them, so placements, back references and indexes are real.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/lists/link.h"

namespace brontel::testing {

// How a calendar is shared: the four sharing flags of its descriptor.
struct CalendarKind {
  bool shared = false;
  bool owned = true;
  bool readOnly = false;
  bool hideDetails = false;

  // The user's own calendar, not shared.
  static CalendarKind Local() { return {}; }
  // Owned and shared with others.
  static CalendarKind Published() { return {true, true, false, false}; }
  // Another user's calendar that this user may change.
  static CalendarKind SubscribedReadWrite() { return {true, false, false, false}; }
  // Another user's calendar that this user may only read.
  static CalendarKind SubscribedReadOnly() { return {true, false, true, false}; }
};

// A calendar descriptor with that name and kind; every other field default.
CalendarDescriptor MakeCalendarDescriptor(const std::string& name,
                                          CalendarKind kind = CalendarKind::Local());

// An event descriptor with that name, timed on 1 March 2004 from 9:00 to 10:00.
EventDescriptor MakeEventDescriptor(const std::string& name);

// A new calendar of manager; fixedId and serveId are set when not 0.
Calendar AddCalendar(CalendarManager& manager, const std::string& name,
                     CalendarKind kind = CalendarKind::Local(), uint32_t fixedId = 0,
                     uint32_t serveId = 0);

// A new event of manager with MakeEventDescriptor(name), placed in each of
// calendars (which must belong to manager); fixedId is set when not 0.
Event AddEvent(CalendarManager& manager, const std::string& name,
               std::initializer_list<Calendar> calendars = {}, uint32_t fixedId = 0);

// The placement of event in calendar (same holder), or a null placement.
CalendarEvent PlacementOf(const Event& event, const Calendar& calendar);

// Gives every calendar, event and placement of manager a fixed id, drawing
// provisional ids from cache; false when a record could not get one.
bool ForceFixedIds(CalendarManager& manager, CalendarCache& cache);

// The names of the calendars that show event through a placement that is not
// deleted, in placement order.
std::vector<std::string> CalendarNamesOf(const Event& event);

// The display string of every link, in order, so that lists compare and print
// readably.
std::vector<std::string> LinkTexts(const LinkList& links);
std::vector<std::string> LinkTexts(std::initializer_list<Link> links);

}  // namespace brontel::testing
