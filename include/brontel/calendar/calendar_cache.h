// CalendarCache: the local cache of the calendar data, a manager together with
// the counter from which cache ids are drawn.
//
// Cache ids are unique within one cache: every record that enters the cache, and
// every record that gets a provisional fixed id from it, takes the current
// sequence value, after which the sequence is incremented. The cache file holds
// one "CalendarCacheHolder" object: the sequence (DWORD), then the manager's
// object record.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/calendar/calendar_manager.h"
#include "brontel/core/handle.h"
#include "brontel/core/log_able.h"
#include "brontel/core/record_identification.h"

namespace brontel {

class CalendarCacheHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  CalendarCacheHolder();
  void Serialize(Archive& ar) override;

  CalendarManager m_manager;
  uint32_t m_sequence = 1;
};

class CalendarCache : public LogAble, public Handle<CalendarCacheHolder> {
 public:
  static constexpr char kLogNodeName[] = "CalendarCacheLog";

  CalendarCache();
  CalendarCache(const CalendarCache& other) = default;
  CalendarCache& operator=(const CalendarCache& other) = default;

  CalendarManager GetCalendarManager() const { return Live()->m_manager; }
  uint32_t GetSequence() const { return Live()->m_sequence; }
  // Returns the sequence, then increments it. A sequence inside the band that
  // handheld-derived fixed ids use first moves past it.
  uint32_t GenerateCacheId() {
    uint32_t& sequence = Live()->m_sequence;
    sequence = RecordIdentification::SkipHandheldBand(sequence);
    return sequence++;
  }
  void Increment() { ++Live()->m_sequence; }
  // Starts the sequence somewhere in 0x40000000..0x7FFFFFFF, from the clock, so
  // caches started at different times rarely hand out the same ids.
  void SetRandomCacheIndex();

  // Adds a copy of calendar (which first takes the next cache id).
  Calendar AddItem(Calendar& calendar);
  // Adds a copy of event (which first takes the next cache id); a repeat
  // exception whose parent the cache holds joins the parent's calendars.
  Event AddItem(Event& event);
  // Adds a copy of link to event in the cache calendar with the link's
  // calendar's fixed id; a null link when the cache has no such calendar.
  CalendarEvent AddItem(Event event, CalendarEvent& link);

  // Finders of the manager.
  Calendar FindByFixedId(uint32_t id, bool touch) const;
  Calendar FindByLocalId(uint32_t id, bool touch) const;
  Event FindEventByCacheId(uint32_t id, bool touch) const;
  Event FindEventByLocalId(uint32_t id, bool touch) const;
  Calendar FindMatchingCalendar(const Calendar& calendar, bool touch) const;
  Event FindMatchingEvent(const Event& event, bool touch) const;
  CalendarEvent FindMatchingCalendarEvent(const CalendarEvent& link, bool touch) const;
  CalendarEvent FindMatchingCalendarEvent(const Event& event, const CalendarEvent& link,
                                          bool touch) const;
  CalendarEvent FindCalendarEventByCacheId(const Event& event, uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByCacheId(const Calendar& calendar, uint32_t id, bool touch) const;
  CalendarEvent FindCalendarEventByCalendar(const Event& event, const Calendar& calendar,
                                            bool touch) const;
  CalendarEvent FindCalendarEventByCalendarFixedId(const Event& event, uint32_t id,
                                                   bool touch) const;
  CalendarEvent FindCalendarEventByLocalId(const Event& event, uint32_t id) const;
  CalendarEvent FindCalendarEventByLocalId(const Calendar& calendar, uint32_t id) const;
  CalendarEvent FindCalendarEventByEventCacheId(const Calendar& calendar, uint32_t id,
                                                bool touch) const;

  // The manager's operations with this cache as the source of cache ids.
  bool ForceFixedIds();
  bool ForceFixedIdsCalendars();
  bool ForceFixedIdsEvents();
  bool ForceFixedIdsCalendarEvents();
  CalendarList GetUntouched() const;
  EventList GetUntouchedEvents() const;
  CalendarEventList GetUntouchedCalendarEvents(const Event& event) const;
  void RemoveEmptyEvents();
  bool SanityCheck() const;

  // A new cache with a clone of the manager and the same sequence.
  CalendarCache Clone() const;

  // "Calendar Cache %x" with the sequence.
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Stores the holder as one object record; loading replaces this handle's
  // holder by the one read.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  void Serialize(Archive& ar) { SerializeQuick(ar, Archive::kNoSchema); }
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
};

}  // namespace brontel
