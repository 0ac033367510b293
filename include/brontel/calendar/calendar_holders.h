// The holders of the calendar records and of the calendar manager.
//
// Each holder is the shared body behind the handles of one record; its stored
// class name is the holder's class name. Records created for a manager refer to
// it through a non-counting BackReference; a placement refers to its parent
// calendar the same way. A reference whose target went reads as null, so no
// reference is ever left dangling.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/handle.h"
#include "brontel/core/record_table_identification.h"

namespace brontel {

class CalendarHolder : public Holder, public BackReferenceTarget {
  BRONTEL_DECLARE_SERIAL()

 public:
  explicit CalendarHolder(int32_t links = 0) : m_calendarEvents(links) {}
  void Serialize(Archive& ar) override;
  void DropReferences() override;

  bool m_held = false;
  Calendar m_conflict;
  int32_t m_cloneIndex = -1;
  CalendarDescriptor m_descriptor;
  CalendarEventList m_calendarEvents;
  BackReference<CalendarManager> m_manager;
  RecordIdentification m_identification;
  RecordStatus m_status;
  bool m_touched = false;
  uint32_t m_localInfo = 0;
};

class EventHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  explicit EventHolder(int32_t links = 0) : m_calendarEvents(links) {}
  ~EventHolder() override;
  void Serialize(Archive& ar) override;
  void DropReferences() override;

  bool m_held = false;
  Event m_conflict;
  int32_t m_cloneIndex = -1;
  CalendarEventList m_calendarEvents;
  EventDescriptor m_descriptor;
  BackReference<CalendarManager> m_manager;
  RecordIdentification m_identification;
  RecordStatus m_status;
  bool m_touched = false;
  uint32_t m_parentEventFixedId = 0;
  uint32_t m_dateBookId = 0;
  uint32_t m_localInfo = 0;
};

class CalendarEventHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  ~CalendarEventHolder() override = default;
  void Serialize(Archive& ar) override;
  void DropReferences() override;

  bool m_held = false;
  CalendarEvent m_conflict;
  int32_t m_cloneIndex = -1;
  Event m_event;
  BackReference<Calendar> m_parentCalendar;
  RecordIdentification m_identification;
  RecordStatus m_status;
  bool m_touched = false;
  CalendarEventDescriptor m_descriptor;
};

class CalendarManagerHolder : public Holder, public BackReferenceTarget {
  BRONTEL_DECLARE_SERIAL()

 public:
  ~CalendarManagerHolder() override;
  void Serialize(Archive& ar) override;
  void DropReferences() override;
  // Lets every event and calendar drop its placements, which count each other.
  void BreakCycles();

  int32_t m_level = 2;
  bool m_serverManager = false;
  CalendarList m_calendars;
  EventList m_events;
  RecordTableIdentification m_tableIdentification;
  uint32_t m_pulsecastURLVersion = 0;
  std::string m_pulsecastURL;
};

}  // namespace brontel
