#include "brontel/calendar/calendar_lists.h"

#include <unordered_map>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

size_t IndexBuckets(int32_t size, size_t extra) {
  return static_cast<size_t>(size) * 6 / 5 + extra;
}

// The LogList-style tree of a record list: an item with the list's display
// string and one child per element.
template <class List>
TreeItem DisplayListTree(const List& list, TreeView& tree, TreeItem parent) {
  TreeItem item = tree.InsertItem(list.GetDisplayString(), parent);
  for (int32_t i = 0; i < list.GetListCount(); ++i) list[i].DisplayTree(tree, item);
  return item;
}

// Stores or loads a list as its count and each element's object record.
template <class List, class Record>
void SerializeListObjects(List& list, Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteInt(list.GetListCount());
    for (int32_t i = 0; i < list.GetListCount(); ++i) list[i].SerializeQuick(ar, version);
    return;
  }
  int32_t count = ar.ReadCount(2);
  for (int32_t i = 0; i < count; ++i) {
    Record record;
    record.SerializeQuick(ar, version);
    list.Append(record);
  }
}

}  // namespace

// ---- CalendarList ----

Calendar CalendarList::FindByFixedId(uint32_t id, bool touch) const {
  return FindBy([](const Calendar& c) { return c.GetFixedId(); }, id, touch);
}
Calendar CalendarList::FindByLocalId(uint32_t id, bool touch) const {
  return FindBy([](const Calendar& c) { return c.GetLocalId(); }, id, touch);
}
Calendar CalendarList::FindByServeId(uint32_t id, bool touch) const {
  return FindBy([](const Calendar& c) { return c.GetServeId(); }, id, touch);
}

CalendarList CalendarList::GetUntouched() const {
  CalendarList out;
  CollectUntouched(out);
  return out;
}

CalendarList CalendarList::Clone(const CalendarManager& manager) const {
  CalendarList out;
  for (int32_t i = 0; i < GetListCount(); ++i) out.Append((*this)[i].Clone(manager));
  return out;
}

void CalendarList::ResolveIdentity(const CalendarList& other) {
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Calendar& c = (*this)[i];
    if (c.IsNull() || c.GetCacheId() != 0) continue;
    Calendar match = other.FindMatch(c, false);
    if (!match.IsNull()) c.SetCacheId(match.GetCacheId());
  }
}

bool CalendarList::ForceFixedIds(CalendarCache& cache, bool settleDefault) {
  if (settleDefault) {
    Calendar chosen;
    for (int32_t i = 0; i < GetListCount(); ++i) {
      Calendar c = (*this)[i];
      if (!c.IsDefaultCalendar()) continue;
      bool replace;
      if (chosen.IsNull()) {
        replace = true;
      } else if (chosen.IsDeleted() != c.IsDeleted()) {
        replace = chosen.IsDeleted();
      } else {
        bool cShared = c.GetCalendarDescriptor().GetSharedFlag();
        bool bShared = chosen.GetCalendarDescriptor().GetSharedFlag();
        replace = cShared != bShared ? cShared : c.GetLocalId() < chosen.GetLocalId();
      }
      if (replace) {
        if (!chosen.IsNull()) chosen.SetDefaultCalendar(false);
        chosen = c;
      } else {
        c.SetDefaultCalendar(false);
      }
    }
  }
  bool all = true;
  for (int32_t i = 0; i < GetListCount(); ++i) {
    if (!(*this)[i].IsNull() && (*this)[i].ForceFixedId(cache) == 0) all = false;
  }
  return all;
}

std::string CalendarList::GetDisplayString() const {
  return Format("CalendarList[%d]", GetListCount());
}
TreeItem CalendarList::DisplayTree(TreeView& tree, TreeItem parent) const {
  return DisplayListTree(*this, tree, parent);
}
void CalendarList::SerializeQuick(Archive& ar, uint32_t version) {
  SerializeListObjects<CalendarList, Calendar>(*this, ar, version);
}
std::unique_ptr<LogNode> CalendarList::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarList>>(name, *this);
}

// ---- CalendarEventList ----

CalendarEventList::CalendarEventList(const CalendarEventList& other)
    : LogAble(), RecordList(other) {}

CalendarEventList& CalendarEventList::operator=(const CalendarEventList& other) {
  RecordList::operator=(other);
  m_cacheIndex.reset();
  return *this;
}

void CalendarEventList::Append(const CalendarEvent& link) {
  RecordList::Append(link);
  m_cacheIndex.reset();
}

bool CalendarEventList::Remove(const CalendarEvent& link) {
  bool removed = RecordList::Remove(link);
  if (removed) m_cacheIndex.reset();
  return removed;
}

CalendarEvent CalendarEventList::FindByCacheId(uint32_t id, bool touch) const {
  if (m_cacheIndex != nullptr && id != 0) {
    int32_t at = m_cacheIndex->Find(id);
    if (at >= 0 && at < GetListCount() && (*this)[at].GetCacheId() == id) {
      return Touched((*this)[at], touch);
    }
  }
  return FindBy([](const CalendarEvent& l) { return l.GetCacheId(); }, id, touch);
}

namespace {

uint32_t EventCacheId(const CalendarEvent& l) {
  Event e = l.GetEvent();
  return e.IsNull() ? 0 : e.GetCacheId();
}

// Reads an identifier of the placement's parent calendar (0 without one).
template <class Get>
auto CalendarId(Get get) {
  return [get](const CalendarEvent& l) {
    Calendar c = l.GetParentCalendar();
    return c.IsNull() ? 0u : get(c);
  };
}

}  // namespace

CalendarEvent CalendarEventList::FindByEventCacheId(uint32_t id, bool touch) const {
  return FindBy(EventCacheId, id, touch);
}
CalendarEvent CalendarEventList::FindByCalendarCacheId(uint32_t id, bool touch) const {
  return FindBy(CalendarId([](const Calendar& c) { return c.GetCacheId(); }), id, touch);
}
CalendarEvent CalendarEventList::FindByCalendarFixedId(uint32_t id, bool touch) const {
  return FindBy(CalendarId([](const Calendar& c) { return c.GetFixedId(); }), id, touch);
}
CalendarEvent CalendarEventList::FindByCalendarLocalId(uint32_t id, bool touch) const {
  return FindBy(CalendarId([](const Calendar& c) { return c.GetLocalId(); }), id, touch);
}
CalendarEvent CalendarEventList::FindByCalendarServeId(uint32_t id, bool touch) const {
  return FindBy(CalendarId([](const Calendar& c) { return c.GetServeId(); }), id, touch);
}
CalendarEvent CalendarEventList::FindByFixedId(uint32_t id, bool touch) const {
  return FindBy([](const CalendarEvent& l) { return l.GetFixedId(); }, id, touch);
}
CalendarEvent CalendarEventList::FindByLocalId(uint32_t id) const {
  return FindBy([](const CalendarEvent& l) { return l.GetLocalId(); }, id, false);
}

void CalendarEventList::SetFastSearch(bool on) {
  m_cacheIndex.reset();
  if (!on) return;
  m_cacheIndex = std::make_unique<IdIndex>(IdIndex::Build(
      *this, [](const CalendarEvent& l) { return l.GetCacheId(); },
      IndexBuckets(GetListCount(), 17)));
}

CalendarEventList CalendarEventList::GetUntouched() const {
  CalendarEventList out;
  CollectUntouched(out);
  return out;
}

void CalendarEventList::ResolveIdentity(const CalendarEventList& other) {
  for (int32_t i = 0; i < GetListCount(); ++i) {
    CalendarEvent& l = (*this)[i];
    if (l.IsNull() || l.GetCacheId() != 0) continue;
    CalendarEvent match = other.FindMatch(l, false);
    if (!match.IsNull()) l.SetCacheId(match.GetCacheId());
  }
  m_cacheIndex.reset();
}

bool CalendarEventList::ForceFixedIds(CalendarCache& cache) {
  bool all = true;
  for (int32_t i = 0; i < GetListCount(); ++i) {
    CalendarEvent link = (*this)[i];
    if (!link.IsNull() && link.ForceFixedId(cache) == 0) all = false;
  }
  return all;
}

bool CalendarEventList::EmptyList() {
  CalendarEventList copy = *this;  // Remove() takes each link out of this list
  bool all = true;
  for (int32_t i = 0; i < copy.GetListCount(); ++i) {
    if (!copy[i].IsNull() && !copy[i].Remove()) all = false;
  }
  return all;
}

std::string CalendarEventList::GetDisplayString() const {
  return Format("CalendarEventList[%d]", GetListCount());
}
TreeItem CalendarEventList::DisplayTree(TreeView& tree, TreeItem parent) const {
  return DisplayListTree(*this, tree, parent);
}
void CalendarEventList::SerializeQuick(Archive& ar, uint32_t version) {
  SerializeListObjects<CalendarEventList, CalendarEvent>(*this, ar, version);
}
std::unique_ptr<LogNode> CalendarEventList::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CalendarEventList>>(name, *this);
}

// ---- EventList ----

namespace {

uint32_t CacheIdOf(const Event& e) {
  return e.GetCacheId();
}
uint32_t DateBookIdOf(const Event& e) {
  return e.GetDateBookId();
}
uint32_t ServeIdOf(const Event& e) {
  return e.GetServeId();
}
uint32_t FixedIdOf(const Event& e) {
  return e.GetFixedId();
}
uint32_t LocalIdOf(const Event& e) {
  return e.GetLocalId();
}

}  // namespace

EventList::EventList(const EventList& other) : LogAble(), RecordList(other) {}

EventList& EventList::operator=(const EventList& other) {
  RecordList::operator=(other);
  DropIndexes();
  return *this;
}

void EventList::DropIndexes() const {
  m_cacheIndex.reset();
  m_dateBookIndex.reset();
  m_serveIndex.reset();
  m_fixedIndex.reset();
  m_localIndex.reset();
}

void EventList::DropMovedIndexes() const {
  if (m_indexMoves != Moves()) DropIndexes();
}

void EventList::Append(const Event& event) {
  int32_t position = GetListCount();
  RecordList::Append(event);
  // Closing the gaps of earlier removals moved the elements.
  DropMovedIndexes();
  // The server-id and fixed-id indexes take the new event; one whose id is 0
  // drops that index, since its id will be given to it later. The other
  // indexes are built again by their next find.
  m_cacheIndex.reset();
  m_dateBookIndex.reset();
  m_localIndex.reset();
  auto enter = [&](std::unique_ptr<IdIndex>& index, uint32_t id) {
    if (index == nullptr) return;
    if (id == 0) {
      index.reset();
    } else {
      index->Insert(id, position);
    }
  };
  enter(m_serveIndex, event.IsNull() ? 0 : event.GetServeId());
  enter(m_fixedIndex, event.IsNull() ? 0 : event.GetFixedId());
}

bool EventList::Remove(const Event& event) {
  // The list closes the event's slot only later, so the others keep their
  // positions: the indexes forget the event instead of being built again.
  DropMovedIndexes();
  if (!event.IsNull()) {
    auto forget = [&](std::unique_ptr<IdIndex>& index, uint32_t id) {
      if (index == nullptr) return;
      const int32_t at = index->Find(id);
      if (at >= 0 && at < SlotCount() && SlotAt(at).IsSameHolder(event)) index->Forget(id, at);
    };
    forget(m_cacheIndex, event.GetCacheId());
    forget(m_dateBookIndex, event.GetDateBookId());
    forget(m_serveIndex, event.GetServeId());
    forget(m_fixedIndex, event.GetFixedId());
    forget(m_localIndex, event.GetLocalId());
  }
  bool removed = RecordList::Remove(event);
  // A short list, or one that held the event twice, moved its elements.
  DropMovedIndexes();
  return removed;
}

Event EventList::FindIndexed(std::unique_ptr<IdIndex>& index, Getter get, uint32_t id, bool touch,
                             bool build, size_t extraBuckets) const {
  if (id == 0) return Event();
  DropMovedIndexes();
  // The indexes name slots: removals still pending leave the other elements
  // where they are, so a find does not close the gaps.
  const int32_t slots = SlotCount();
  if (index == nullptr && build && slots > 0) {
    index = std::make_unique<IdIndex>(IndexBuckets(slots, extraBuckets));
    for (int32_t i = 0; i < slots; ++i) {
      const Event& e = SlotAt(i);
      if (!e.IsNull()) index->Insert(get(e), i);
    }
    m_indexMoves = Moves();
  }
  if (index == nullptr) return FindBy(get, id, touch);
  int32_t at = index->Find(id);
  if (at >= 0 && at < slots && !SlotAt(at).IsNull() && get(SlotAt(at)) == id) {
    return Touched(SlotAt(at), touch);
  }
  if (at == -1) return Event();
  // The index is stale (an id changed without notice), or the first event of
  // an id shared by several left: build it again once.
  index.reset();
  if (!build) return FindBy(get, id, touch);
  return FindIndexed(index, get, id, touch, true, extraBuckets);
}

Event EventList::FindByCacheId(uint32_t id, bool touch) const {
  return FindIndexed(m_cacheIndex, CacheIdOf, id, touch, true, 17);
}
Event EventList::FindByDateBookId(uint32_t id, bool touch) const {
  return FindIndexed(m_dateBookIndex, DateBookIdOf, id, touch, true, 1001);
}
Event EventList::FindByFixedId(uint32_t id, bool touch) const {
  return FindIndexed(m_fixedIndex, FixedIdOf, id, touch, true, 1001);
}
Event EventList::FindByServeId(uint32_t id, bool touch) const {
  return FindIndexed(m_serveIndex, ServeIdOf, id, touch, true, 1001);
}
Event EventList::FindByLocalId(uint32_t id, bool touch) const {
  return FindIndexed(m_localIndex, LocalIdOf, id, touch, true, 1001);
}

void EventList::SetFastSearch(bool on) {
  // The index is built again by the next find by cache id, which sees every id
  // as it is then: an index built here would be thrown away unused whenever an
  // id changes before that find.
  (void)on;
  m_cacheIndex.reset();
}

EventList EventList::GetUntouched() const {
  EventList out;
  CollectUntouched(out);
  return out;
}

EventList EventList::Clone(const CalendarManager& manager) const {
  EventList out(GetListCount());
  for (int32_t i = 0; i < GetListCount(); ++i) out.Append((*this)[i].Clone(manager));
  return out;
}

void EventList::ResolveIdentity(EventList& other) {
  SetFastSearch(false);
  other.SetFastSearch(false);
  auto resolve = [](Event& e, const Event& match) {
    if (e.GetCacheId() == 0) e.SetCacheId(match.GetCacheId());
    e.GetCalendarEventList().ResolveIdentity(match.GetCalendarEventList());
  };
  if (GetListCount() < 2 || other.GetListCount() < 2) {
    for (int32_t i = 0; i < GetListCount(); ++i) {
      Event& e = (*this)[i];
      Event match = other.FindMatch(e, false);
      if (!match.IsNull()) resolve(e, match);
    }
  } else {
    // other's fixed-id index finds the first event with each fixed id, as a
    // scan would; it stays valid across calls, since resolving changes cache
    // ids only.
    for (int32_t i = 0; i < GetListCount(); ++i) {
      Event& e = (*this)[i];
      if (e.IsNull() || e.GetFixedId() == 0) continue;
      Event match = other.FindByFixedId(e.GetFixedId(), false);
      if (!match.IsNull()) resolve(e, match);
    }
  }
  SetFastSearch(true);
  other.SetFastSearch(true);
}

bool EventList::ForceFixedIds(CalendarCache& cache) {
  bool all = true;
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Event e = (*this)[i];
    if (!e.IsNull() && e.ForceFixedId(cache) == 0) all = false;
  }
  return all;
}

void EventList::DeleteEmptyEvents() {
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Event& e = (*this)[i];
    if (e.IsNull() || e.GetCalendarEventList().GetListCount() != 0) continue;
    e.SetDeleted();
    e.SetDirty();
  }
}

void EventList::RemoveEmptyEvents(bool keepGlobalDeletes) {
  bool removed = RemoveIf([&](const Event& e) {
    if (e.IsNull() || e.GetCalendarEventList().GetListCount() != 0) return false;
    return !(keepGlobalDeletes && e.IsDeletedGlobal());
  });
  if (removed) DropIndexes();
}

std::string EventList::GetDisplayString() const {
  return Format("EventList[%d]", GetListCount());
}
TreeItem EventList::DisplayTree(TreeView& tree, TreeItem parent) const {
  return DisplayListTree(*this, tree, parent);
}
void EventList::SerializeQuick(Archive& ar, uint32_t version) {
  SerializeListObjects<EventList, Event>(*this, ar, version);
}
std::unique_ptr<LogNode> EventList::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<EventList>>(name, *this);
}

}  // namespace brontel
