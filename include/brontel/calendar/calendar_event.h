// CalendarEvent: the placement of one event in one calendar.
//
// A record of its own (identity, version, status, conflict) carrying what
// differs per calendar: the alarm. It counts its event and points at its parent
// calendar without counting it; both keep it in their placement lists.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/log_able.h"
#include "brontel/core/record_handle.h"

namespace brontel {

class Calendar;
class CalendarCache;
class CalendarEventDescriptor;
class CalendarEventHolder;
class Event;

class CalendarEvent : public LogAble, public RecordHandle<CalendarEvent, CalendarEventHolder> {
 public:
  static constexpr char kLogNodeName[] = "CalendarEventLog";

  // A null placement.
  CalendarEvent();
  // Places event in calendar and registers the placement in both lists.
  // REQUIRES: the event's and the calendar's managers are the same.
  CalendarEvent(Event& event, Calendar& calendar);
  CalendarEvent(const CalendarEvent& other);
  CalendarEvent& operator=(const CalendarEvent& other);
  ~CalendarEvent() override;

  static CalendarEvent CreateNull() { return CalendarEvent(); }
  // A detached placement (no event, no calendar).
  static CalendarEvent CreateEmpty();

  Event GetEvent() const;
  Calendar GetParentCalendar() const;
  CalendarEventDescriptor GetCalendarEventDescriptor() const;

  // These setters do not notify anyone.
  void SetLocalId(uint32_t v);
  void SetFixedId(uint32_t v);
  void SetClean();

  // Forwarded to the event.
  uint32_t GetDateBookId() const;
  void SetDateBookId(uint32_t v);
  uint32_t GetLocalInfo() const;
  void SetLocalInfo(uint32_t v);
  // Forwarded to the parent calendar.
  bool IsHidden() const;
  bool IsReadOnly() const;

  // Parent calendars and events match by fixed id.
  bool IsMatching(const CalendarEvent& other) const;
  // Delete flags and alarms equal.
  bool Equal(const CalendarEvent& other) const;
  // Copies conflict (shared), identification, status and alarm.
  void Copy(const CalendarEvent& other);

  void SetConflict(const CalendarEvent& other);
  // Takes the competing version whole, its ids included. REQUIRES: IsConflicted().
  void AcceptConflict();

  // e + c + (c << 16) from the event's and calendar's fixed ids, or 0.
  uint32_t ForceFixedId(CalendarCache& cache);
  // Takes the placement out of both lists and detaches it.
  bool Remove();
  bool SanityCheck() const;

  std::string GetDisplayString() const override;
  std::string GetUserDisplayString() const;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  friend struct CalendarStoredForm;
  friend class Calendar;
  friend class Event;
  friend class CalendarManager;
  friend class CalendarHolder;
  friend class CalendarManagerHolder;
  friend class EventHolder;
  explicit CalendarEvent(CalendarEventHolder* adopted);
  // Drops the event and the calendar, giving the calendar its count back.
  void nullify();
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/calendar/calendar_lists.h"
