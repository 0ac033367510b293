// Event: one appointment of the user.
//
// A record handle (shared holder) with its data (EventDescriptor), its
// placements in calendars (CalendarEvent, one per calendar that shows it),
// identity, status and a conflict slot. The same event may be shown in several
// calendars while its data exists once. Sync reconciles it three ways;
// GenerateLinks and ApplyLinks compute and apply placement changes for the
// server.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>

#include "brontel/core/log_able.h"
#include "brontel/core/record_handle.h"

namespace brontel {

class Calendar;
class CalendarCache;
class CalendarEvent;
class CalendarEventList;
class CalendarManager;
class EventDescriptor;
class EventHolder;
class LinkList;

class Event : public LogAble, public RecordHandle<Event, EventHolder> {
 public:
  static constexpr char kLogNodeName[] = "EventLog";
  // Fixed ids derived from a handheld date-book id carry these bits.
  static constexpr uint32_t kDateBookFixedIdBits = 0xC0000000;

  // A null event.
  Event();
  // A new event created for manager (held: it does not count the manager).
  explicit Event(const CalendarManager& manager);
  Event(const Event& other);
  Event& operator=(const Event& other);
  ~Event() override;

  static Event CreateNull() { return Event(); }
  // A new event without manager with room for links placements.
  static Event CreateEmpty(int32_t links);

  // Setters that tell the manager, so it can drop its lookup indexes; they do
  // nothing when the value is unchanged.
  void SetCacheId(uint32_t v);
  void SetLocalId(uint32_t v);
  void SetServeId(uint32_t v);
  void SetFixedId(uint32_t v);
  uint32_t GetDateBookId() const;
  void SetDateBookId(uint32_t v);
  uint32_t GetLocalInfo() const;
  void SetLocalInfo(uint32_t v);

  // The fixed id of the event this one was cloned from, or its own.
  uint32_t GetParentEventFixedId() const;
  void SetParentEventFixedId(uint32_t v);
  bool HasParent() const;
  Event GetParentEvent() const;

  // Dirty cleared, fixed id dirty flag cleared.
  void SetClean();
  void SetDirtyFixedId();
  void SetCleanFixedId();
  bool HasDirtyFixedId() const;

  uint32_t GetLowerVersion() const { return GetVersion(); }
  uint32_t GetUpperVersion() const;

  CalendarManager GetManager() const;
  EventDescriptor GetEventDescriptor() const;
  CalendarEventList& GetCalendarEventList() const;
  bool HashMatched() const;
  bool IsBogus() const;
  bool IsOnDate(std::time_t t) const;
  bool IsInDateRange(uint16_t from, uint16_t to) const;
  uint8_t GetUseMe() const;
  void SetUseMe(uint8_t useMe);
  void ClearUseMe();

  // Has been through a server synchronization (a data hash other than 0).
  bool IsShared() const;
  bool IsLinked() const;
  bool IsReadWriteShared() const;

  bool IsMatching(const Event& other) const;
  bool Equal(const Event& other) const;
  void Copy(const Event& other);
  Event Clone(const CalendarManager& manager) const;

  // Places this event in calendar. REQUIRES: same manager.
  CalendarEvent AddToCalendar(Calendar& calendar);
  CalendarEvent FindCalendarEventByCalendarLocalId(uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByCalendarFixedId(uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByCalendarCacheId(uint32_t id, bool touch) const;
  void SetLinksDirty();

  // A new event of the manager descending from this one, in the same calendars.
  Event CreateCloneEvent(const EventDescriptor& descriptor, uint32_t serveId, uint32_t fixedId);

  void GenerateLinks(LinkList& links) const;
  void GenerateLinks(const Event& other, LinkList& inserts, LinkList& deletes) const;
  void GenerateLinks(const Event& other, LinkList& inserts, LinkList& deletes,
                     const CalendarManager& manager) const;
  void ApplyLinks(const LinkList& links, bool markDirty);

  bool Remove(bool global);
  bool RemoveGlobal() { return Remove(true); }

  void SetConflict(const Event& other);
  // Takes the competing data under this event's own ids. REQUIRES: IsConflicted().
  void AcceptConflict();

  uint32_t ForceFixedId(CalendarCache& cache);
  // Three-way reconciliation; returns the number of conflicts found (0 or 1).
  int32_t Sync(Event& other, const CalendarManager& reference, bool flag);
  bool SanityCheck() const;

  std::string GetDisplayString() const override;
  std::string GetUserDisplayString() const;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  friend struct CalendarStoredForm;
  friend class CalendarEvent;
  friend class CalendarManager;
  friend class EventHolder;
  friend class CalendarManagerHolder;
  friend class CalendarEventHolder;
  friend class CalendarHolder;
  explicit Event(EventHolder* adopted);
  void addCalendarEvent(const CalendarEvent& link);
  bool removeCalendarEvent(const CalendarEvent& link);
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/calendar/calendar_lists.h"
