// The three record lists of the calendar side.
//
// CalendarList holds a manager's calendars; EventList its events, with hash
// indexes by cache, date-book, server, fixed and local id so that the engines
// find an event in constant time; CalendarEventList the placements of one event
// or one calendar, with its first element stored inside the list.
//
// EventList indexes are built by the first find of their kind. Appends enter
// the new event into the server-id and fixed-id indexes (or drop them when its
// id is 0) and drop the others; an event's id setters drop the index of that
// id; a removed event is forgotten by the indexes, and anything that moves the
// elements (closing the gaps of removals, RemoveIf) drops them all. Every index
// hit is checked against the element, so an id changed without its setter can
// never make a find return the wrong event (such an id may be missed until the
// index is rebuilt).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/core/log_able.h"
#include "brontel/lists/id_index.h"
#include "brontel/lists/record_list.h"

namespace brontel {

class CalendarList : public LogAble, public RecordList<Calendar> {
 public:
  static constexpr char kLogNodeName[] = "CalendarListLog";
  using RecordList::RecordList;

  Calendar FindByFixedId(uint32_t id, bool touch) const;
  Calendar FindByLocalId(uint32_t id, bool touch) const;
  Calendar FindByServeId(uint32_t id, bool touch) const;
  CalendarList GetUntouched() const;
  // Clones of the calendars, made for manager.
  CalendarList Clone(const CalendarManager& manager) const;
  // Calendars without a cache id take the one of their match in other.
  void ResolveIdentity(const CalendarList& other);
  // With settleDefault, first leaves at most one calendar flagged default; then
  // every calendar takes a fixed id. False when one could not.
  bool ForceFixedIds(CalendarCache& cache, bool settleDefault);

  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
};

class CalendarEventList : public LogAble,
                          public RecordList<CalendarEvent, ArrayGrowth::kInlineSlot> {
 public:
  static constexpr char kLogNodeName[] = "CalendarEventListLog";

  explicit CalendarEventList(int32_t capacity = 0) : RecordList(capacity) {}
  CalendarEventList(const CalendarEventList& other);
  CalendarEventList& operator=(const CalendarEventList& other);

  void Append(const CalendarEvent& link);
  bool Remove(const CalendarEvent& link);

  CalendarEvent FindByCacheId(uint32_t id, bool touch) const;
  CalendarEvent FindByEventCacheId(uint32_t id, bool touch) const;
  CalendarEvent FindByCalendarCacheId(uint32_t id, bool touch) const;
  CalendarEvent FindByCalendarFixedId(uint32_t id, bool touch) const;
  CalendarEvent FindByCalendarLocalId(uint32_t id, bool touch) const;
  CalendarEvent FindByCalendarServeId(uint32_t id, bool touch) const;
  CalendarEvent FindByFixedId(uint32_t id, bool touch) const;
  CalendarEvent FindByLocalId(uint32_t id) const;

  // Drops the cache-id index; with on, builds it again.
  void SetFastSearch(bool on);
  CalendarEventList GetUntouched() const;
  void ResolveIdentity(const CalendarEventList& other);
  bool ForceFixedIds(CalendarCache& cache);
  // Removes every placement (from all its lists); true when all removals did.
  bool EmptyList();

  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  std::unique_ptr<IdIndex> m_cacheIndex;
};

class EventList : public LogAble, public RecordList<Event> {
 public:
  static constexpr char kLogNodeName[] = "EventListLog";

  EventList() = default;
  explicit EventList(int32_t capacity) : RecordList(capacity) {}
  // Copies the handles; indexes are rebuilt on demand.
  EventList(const EventList& other);
  EventList& operator=(const EventList& other);

  void Append(const Event& event);
  bool Remove(const Event& event);

  Event FindByCacheId(uint32_t id, bool touch) const;
  Event FindByDateBookId(uint32_t id, bool touch) const;
  Event FindByFixedId(uint32_t id, bool touch) const;
  Event FindByLocalId(uint32_t id, bool touch) const;
  Event FindByServeId(uint32_t id, bool touch) const;

  // Drops the cache-id index, which the next find by cache id builds again
  // (with on or without: an index built at once would be lost to the next id
  // change before any find used it).
  void SetFastSearch(bool on);
  EventList GetUntouched() const;
  EventList Clone(const CalendarManager& manager) const;
  void ResolveIdentity(EventList& other);
  bool ForceFixedIds(CalendarCache& cache);
  // Events placed in no calendar are marked deleted and dirty.
  void DeleteEmptyEvents();
  // Removes events placed in no calendar; with keepGlobalDeletes, globally
  // deleted ones stay.
  void RemoveEmptyEvents(bool keepGlobalDeletes);
  // Drops every index.
  void DropIndexes() const;

  void noteChangeCacheId() { m_cacheIndex.reset(); }
  void noteChangeLocalId() { m_localIndex.reset(); }
  void noteChangeFixedId() { m_fixedIndex.reset(); }
  void noteChangeDateBookId() { m_dateBookIndex.reset(); }
  void noteChangeServeId() { m_serveIndex.reset(); }

  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  using Getter = uint32_t (*)(const Event&);
  // Finds id through index (built on demand with buckets when build is true),
  // checking the hit; falls back to a scan when there is no index.
  Event FindIndexed(std::unique_ptr<IdIndex>& index, Getter get, uint32_t id, bool touch,
                    bool build, size_t extraBuckets) const;
  // Drops the indexes when elements moved since they were built.
  void DropMovedIndexes() const;

  mutable std::unique_ptr<IdIndex> m_cacheIndex;
  mutable std::unique_ptr<IdIndex> m_dateBookIndex;
  mutable std::unique_ptr<IdIndex> m_serveIndex;
  mutable std::unique_ptr<IdIndex> m_fixedIndex;
  mutable std::unique_ptr<IdIndex> m_localIndex;
  // The array's count of moves when the indexes were built (they all were
  // built since the same move).
  mutable uint64_t m_indexMoves = 0;
};

}  // namespace brontel

#include "brontel/calendar/calendar_holders.h"
