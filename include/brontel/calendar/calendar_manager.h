// CalendarManager: one complete copy of the user's calendar data.
//
// A manager owns its calendars and events (each event with its placements in
// calendars), the table identity of the copy and the pulsecast URL last sent by
// the server. Records created for a manager point back at it without counting
// it, so a manager lives exactly as long as outside handles to it; when it goes
// it detaches its records and breaks the event/placement cycles, freeing all.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "brontel/core/handle.h"
#include "brontel/core/log_able.h"
#include "brontel/core/uid128.h"

namespace brontel {

class Calendar;
class CalendarCache;
class CalendarDescriptor;
class CalendarEvent;
class CalendarEventList;
class CalendarList;
class CalendarManagerHolder;
class Event;
class EventDescriptor;
class EventList;
class RecordIdentification;
class RecordTableIdentification;

class CalendarManager : public LogAble, public Handle<CalendarManagerHolder> {
 public:
  static constexpr char kLogNodeName[] = "CalendarManagerLog";

  // A null manager.
  CalendarManager();
  // Shares an existing holder (counting it).
  explicit CalendarManager(CalendarManagerHolder* holder);
  CalendarManager(const CalendarManager& other);
  CalendarManager& operator=(const CalendarManager& other);
  ~CalendarManager() override;

  static CalendarManager CreateNull() { return CalendarManager(); }
  // A new empty manager.
  static CalendarManager CreateEmpty();

  // Table identity.
  UID128 GetGID() const;
  void SetGID(const UID128& gid);
  uint32_t GetVersion() const;
  // REQUIRES: newValue < 0x80000000 or newValue == 0xFFFFFFFF.
  void SetVersion(uint32_t newValue);
  uint32_t GetDeltaVersion() const;
  void SetDeltaVersion(uint32_t v);
  RecordTableIdentification GetRecordTableIdentification() const;

  int32_t GetLevel() const;
  bool IsServerManager() const;
  const std::string& GetPulsecastURL() const;
  uint32_t GetPulsecastURLVersion() const;
  void SetPulsecastURL(const std::string& url, uint32_t version);

  CalendarList& GetCalendarList() const;
  EventList& GetEventList() const;
  // A new list of the events that occur on the date of t, in list order.
  EventList GetEventList(std::time_t t) const;

  // Version questions (versions compare as in Versioning).
  bool IsNewToMe(const RecordIdentification& id) const;
  bool IsNewToMe(const CalendarManager& other) const;
  bool VersionsAreSynced(const CalendarManager& other) const;
  void ResolveVersion(CalendarManager& other);

  // Creation.
  Calendar CreateNewCalendar();
  Calendar CreateNewCalendar(const CalendarDescriptor& descriptor);
  Event CreateNewEvent(uint32_t serveId, uint32_t fixedId);
  Event CreateNewEvent(const EventDescriptor& descriptor, uint32_t serveId, uint32_t fixedId);
  void DeleteEmptyEvents();
  void RemoveEmptyEvents(bool keepGlobalDeletes);
  bool HasCalendar(const Calendar& calendar) const;
  bool HasEvent(const Event& event) const;

  // Calendar finders (a null calendar when not found; touch marks the found one).
  Calendar FindByLocalId(uint32_t id, bool touch) const;
  Calendar FindByFixedId(uint32_t id, bool touch) const;
  Calendar FindCalendarByServeId(uint32_t id, bool touch) const;
  Calendar FindMatchingCalendar(const Calendar& calendar, bool touch) const;

  // Event finders.
  Event FindEventByCacheId(uint32_t id, bool touch) const;
  Event FindEventByLocalId(uint32_t id, bool touch) const;
  Event FindEventByFixedId(uint32_t id, bool touch) const;
  Event FindEventByServeId(uint32_t id, bool touch) const;
  Event FindMatchingEvent(const Event& event, bool touch) const;

  // Placement finders of one event or one calendar (null record: null link).
  CalendarEvent FindCalendarEventByCacheId(const Event& event, uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByFixedId(const Event& event, uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByCalendarLocalId(const Event& event, uint32_t id,
                                                   bool touch) const;
  CalendarEvent FindCalendarEventByCalendarFixedId(const Event& event, uint32_t id,
                                                   bool touch) const;
  CalendarEvent FindCalendarEventByLocalId(const Event& event, uint32_t id) const;
  CalendarEvent FindCalendarEventByCacheId(const Calendar& calendar, uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByEventCacheId(const Calendar& calendar, uint32_t id,
                                                bool touch) const;
  CalendarEvent FindCalendarEventByLocalId(const Calendar& calendar, uint32_t id) const;
  // The first placement with that local id, searching the calendars in order.
  CalendarEvent FindCalendarEventByLocalId(uint32_t id) const;
  CalendarEvent FindCalendarEventByCalendar(const Event& event, const Calendar& calendar,
                                            bool touch) const;
  CalendarEvent FindMatchingCalendarEvent(const Event& event, const CalendarEvent& link,
                                          bool touch) const;
  CalendarEvent FindMatchingCalendarEvent(const CalendarEvent& link, bool touch) const;

  // Pass support.
  CalendarList GetUntouched() const;
  EventList GetUntouchedEvents() const;
  CalendarEventList GetUntouchedCalendarEvents(const Event& event) const;
  void SetClean();
  bool ForceFixedIds(CalendarCache& cache);
  bool ForceFixedIdsCalendars(CalendarCache& cache);
  bool ForceFixedIdsEvents(CalendarCache& cache);
  bool ForceFixedIdsCalendarEvents(CalendarCache& cache);
  void ResolveIdentity(const CalendarManager& other);

  // Whole-manager operations.
  // A deep copy keeping every id; records point at the copy.
  CalendarManager Clone() const;
  // The part shared with the server: unshared calendars and private events go.
  CalendarManager SharedClone() const;
  // Destructive comparison: removes what both hold equally; true when both end
  // empty.
  bool Verify(CalendarManager& other);
  // Switches to the server's id layout once (local and fixed ids exchanged).
  void ConfirmServerManager();
  // False when two calendars, two events or two placements of one event share a
  // non-zero cache, local or fixed id.
  bool IsCoherent() const;
  bool SanityCheck() const;

  // "CalendarManager(L=%d) %s #calendars = %d #events = %d %s v%x".
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  void Serialize(Archive& ar) { SerializeQuick(ar, Archive::kNoSchema); }
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

  // Change notices from the records, which drop the event list's indexes.
  void noteChangeCacheId(const Event& event) const;
  void noteChangeLocalId(const Event& event) const;
  void noteChangeFixedId(const Event& event) const;
  void noteChangeDateBookId(const Event& event) const;
  void noteChangeServeId(const Event& event) const;

 private:
  friend class Calendar;
  friend class Event;
  friend class CalendarCache;
  bool removeCalendar(const Calendar& calendar);
  bool removeEvent(const Event& event);
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/calendar/calendar_lists.h"
