// Tests of the calendar-side record lists: the finds of EventList with its
// lookup indexes (how they are built, entered, dropped and mended when events
// move or change ids), identity resolution between two copies, removal of
// events placed nowhere, the default-calendar rule of CalendarList, and the
// placement lists with their slot inside the list.
#include "brontel/calendar/calendar_lists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_classes.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/core/record_identification.h"
#include "brontel/platform/archive.h"

namespace brontel {
namespace {

// ---------------------------------------------------------------------------
// EventList finds

// Every event n made by the fixture carries one id of each kind, derived from n.
uint32_t CacheIdOf(uint32_t n) {
  return 0x100 + n;
}
uint32_t DateBookIdOf(uint32_t n) {
  return 0x200 + n;
}
uint32_t FixedIdOf(uint32_t n) {
  return 0x300 + n;
}
// The local id is also the server id.
uint32_t LocalIdOf(uint32_t n) {
  return 0x400 + n;
}

// One kind of identifier an EventList finds by.
struct IdKind {
  const char* name;
  uint32_t (*idOf)(uint32_t n);
  Event (*find)(const EventList& list, uint32_t id, bool touch);
  // Changes the id the way the owner of the event does (the list is told).
  void (*set)(Event& e, uint32_t id);
  // Changes the stored id behind the list's back; null when the kind cannot
  // change without the list being told (see EventListUntoldChangeTest).
  void (*setUntold)(Event& e, uint32_t id);
  // The cache-id index exists only after SetFastSearch(true).
  bool fastSearch;
};

void PrintTo(const IdKind& kind, std::ostream* os) {
  *os << kind.name;
}

void SetIdentityFixedId(Event& e, uint32_t id) {
  e.GetRecordIdentification().SetFixedId(id);
}
void SetIdentityLocalId(Event& e, uint32_t id) {
  e.GetRecordIdentification().SetLocalId(id);
}

const IdKind kCache{
    "CacheId",
    CacheIdOf,
    [](const EventList& l, uint32_t id, bool touch) { return l.FindByCacheId(id, touch); },
    [](Event& e, uint32_t id) { e.SetCacheId(id); },
    [](Event& e, uint32_t id) { e.GetRecordIdentification().SetCacheId(id); },
    true};
const IdKind kDateBook{
    "DateBookId",
    DateBookIdOf,
    [](const EventList& l, uint32_t id, bool touch) { return l.FindByDateBookId(id, touch); },
    [](Event& e, uint32_t id) { e.SetDateBookId(id); },
    nullptr,
    false};
const IdKind kFixed{
    "FixedId",
    FixedIdOf,
    [](const EventList& l, uint32_t id, bool touch) { return l.FindByFixedId(id, touch); },
    [](Event& e, uint32_t id) { e.SetFixedId(id); },
    SetIdentityFixedId,
    false};
const IdKind kLocal{
    "LocalId",
    LocalIdOf,
    [](const EventList& l, uint32_t id, bool touch) { return l.FindByLocalId(id, touch); },
    [](Event& e, uint32_t id) { e.SetLocalId(id); },
    SetIdentityLocalId,
    false};
const IdKind kServe{
    "ServeId",
    LocalIdOf,
    [](const EventList& l, uint32_t id, bool touch) { return l.FindByServeId(id, touch); },
    [](Event& e, uint32_t id) { e.SetServeId(id); },
    SetIdentityLocalId,
    false};

class EventListTest : public ::testing::Test {
 protected:
  EventList& Events() { return manager.GetEventList(); }

  // Appends event n with an id of every kind.
  Event Add(uint32_t n) {
    Event e = manager.CreateNewEvent(LocalIdOf(n), FixedIdOf(n));
    e.SetCacheId(CacheIdOf(n));
    e.SetDateBookId(DateBookIdOf(n));
    return e;
  }
  std::vector<Event> AddEvents(uint32_t count) {
    std::vector<Event> made;
    for (uint32_t n = 0; n < count; ++n) made.push_back(Add(n));
    return made;
  }
  // A list of no events touched.
  void ExpectNothingTouched() {
    for (int32_t i = 0; i < Events().GetListCount(); ++i) {
      EXPECT_FALSE(Events()[i].IsTouched()) << "event " << i;
    }
  }

  CalendarManager manager = CalendarManager::CreateEmpty();
};

class EventListFindTest : public EventListTest, public ::testing::WithParamInterface<IdKind> {
 protected:
  const IdKind& Kind() const { return GetParam(); }
  Event Find(uint32_t id, bool touch = false) { return Kind().find(Events(), id, touch); }
  // Makes sure the list has built its index of this kind.
  void BuildIndex() {
    if (Kind().fastSearch) Events().SetFastSearch(true);
    (void)Find(Kind().idOf(0));
  }
  void ExpectFinds(uint32_t id, const Event& expected) {
    Event found = Find(id);
    EXPECT_TRUE(found.IsSameHolder(expected))
        << Kind().name << " " << std::hex << id << " found "
        << (found.IsNull() ? std::string("nothing") : found.GetDisplayString());
  }
  void ExpectFindsNothing(uint32_t id) { ExpectFinds(id, Event()); }
};

TEST_P(EventListFindTest, FindsEachEventByItsIdBeforeAndAfterTheIndexExists) {
  std::vector<Event> e = AddEvents(3);
  for (uint32_t n = 0; n < 3; ++n) ExpectFinds(Kind().idOf(n), e[n]);
  BuildIndex();
  for (uint32_t n = 0; n < 3; ++n) ExpectFinds(Kind().idOf(n), e[n]);
  ExpectFindsNothing(Kind().idOf(7));
}

TEST_P(EventListFindTest, IdZeroFindsNothingAndMarksNothing) {
  AddEvents(2);
  manager.CreateNewEvent(0, 0);  // an event whose ids are all 0
  for (bool indexed : {false, true}) {
    if (indexed) BuildIndex();
    EXPECT_TRUE(Find(0, true).IsNull());
    ExpectNothingTouched();
  }
}

TEST_P(EventListFindTest, TouchMarksOnlyTheEventFound) {
  std::vector<Event> e = AddEvents(3);
  BuildIndex();
  Find(Kind().idOf(1), false);
  ExpectNothingTouched();
  Find(Kind().idOf(1), true);
  EXPECT_FALSE(e[0].IsTouched());
  EXPECT_TRUE(e[1].IsTouched());
  EXPECT_FALSE(e[2].IsTouched());
}

TEST_P(EventListFindTest, RemovingAnEventFromTheMiddleNeverFindsItsNeighbour) {
  std::vector<Event> e = AddEvents(5);
  BuildIndex();
  EXPECT_TRUE(Events().Remove(e[2]));
  for (uint32_t n : {0u, 1u, 3u, 4u}) ExpectFinds(Kind().idOf(n), e[n]);
  ExpectFindsNothing(Kind().idOf(2));
}

TEST_P(EventListFindTest, AnIdChangedByItsOwnerIsFoundUnderTheNewIdOnly) {
  std::vector<Event> e = AddEvents(3);
  BuildIndex();
  Kind().set(e[1], 0x9999);
  ExpectFinds(0x9999, e[1]);
  ExpectFindsNothing(Kind().idOf(1));
  ExpectFinds(Kind().idOf(2), e[2]);
}

// Kinds whose ids can change without the list being told.
class EventListUntoldChangeTest : public EventListFindTest {};

TEST_P(EventListUntoldChangeTest, AnIdChangedWithoutNoticeNeverFindsAnotherEvent) {
  std::vector<Event> e = AddEvents(3);
  BuildIndex();
  Kind().setUntold(e[1], 0x9999);
  // The index may miss the new id until it is rebuilt, but never names
  // another event.
  Event found = Kind().find(Events(), 0x9999, false);
  EXPECT_TRUE(found.IsNull() || found.IsSameHolder(e[1]));
  ExpectFindsNothing(Kind().idOf(1));
  ExpectFinds(Kind().idOf(0), e[0]);
  // A removal rebuilds the index, which then knows the new id.
  Events().Remove(e[2]);
  ExpectFinds(0x9999, e[1]);
}

TEST_P(EventListUntoldChangeTest, AnIdChangedWithoutNoticeIsNotFoundUnderTheOldId) {
  std::vector<Event> e = AddEvents(3);
  BuildIndex();
  Kind().setUntold(e[1], 0x9999);
  ExpectFindsNothing(Kind().idOf(1));
  ExpectFinds(0x9999, e[1]);
}

TEST_P(EventListUntoldChangeTest, IdsSwappedWithoutNoticeFindTheirNewOwners) {
  std::vector<Event> e = AddEvents(3);
  BuildIndex();
  Kind().setUntold(e[0], Kind().idOf(2));
  Kind().setUntold(e[2], Kind().idOf(0));
  ExpectFinds(Kind().idOf(0), e[2]);
  ExpectFinds(Kind().idOf(2), e[0]);
  ExpectFinds(Kind().idOf(1), e[1]);
}

std::string KindName(const ::testing::TestParamInfo<IdKind>& p) {
  return p.param.name;
}

INSTANTIATE_TEST_SUITE_P(Kinds, EventListFindTest,
                         ::testing::Values(kCache, kDateBook, kFixed, kLocal, kServe), KindName);
INSTANTIATE_TEST_SUITE_P(Kinds, EventListUntoldChangeTest,
                         ::testing::Values(kCache, kFixed, kLocal, kServe), KindName);

TEST_F(EventListTest, ALocalIdSetByItsOwnerIsFoundAsServerId) {
  // The local id is the server id: both finds must see the change.
  std::vector<Event> e = AddEvents(3);
  ASSERT_TRUE(Events().FindByServeId(LocalIdOf(1), false).IsSameHolder(e[1]));
  e[1].SetLocalId(0x9999);
  EXPECT_TRUE(Events().FindByServeId(0x9999, false).IsSameHolder(e[1]));
  EXPECT_TRUE(Events().FindByServeId(LocalIdOf(1), false).IsNull());
}

TEST_F(EventListTest, AppendingAnEventWithServerIdZeroDropsTheServerIdIndex) {
  std::vector<Event> e = AddEvents(3);
  ASSERT_TRUE(Events().FindByServeId(LocalIdOf(0), false).IsSameHolder(e[0]));

  Event late = manager.CreateNewEvent(0, 0x777);
  // Give it a server id the list is not told about: only a list that dropped
  // its index on the append can find it.
  SetIdentityLocalId(late, 0x555);
  EXPECT_TRUE(Events().FindByServeId(0x555, false).IsSameHolder(late));
  for (uint32_t n = 0; n < 3; ++n) {
    EXPECT_TRUE(Events().FindByServeId(LocalIdOf(n), false).IsSameHolder(e[n]));
  }
}

TEST_F(EventListTest, AppendingAnEventWithFixedIdZeroDropsTheFixedIdIndex) {
  std::vector<Event> e = AddEvents(3);
  ASSERT_TRUE(Events().FindByFixedId(FixedIdOf(0), false).IsSameHolder(e[0]));

  Event late = manager.CreateNewEvent(0x777, 0);
  SetIdentityFixedId(late, 0x555);
  EXPECT_TRUE(Events().FindByFixedId(0x555, false).IsSameHolder(late));
  EXPECT_TRUE(Events().FindByFixedId(FixedIdOf(2), false).IsSameHolder(e[2]));
}

TEST_F(EventListTest, AppendedEventsAreFoundThroughExistingIndexes) {
  AddEvents(3);
  Events().FindByServeId(LocalIdOf(0), false);
  Events().FindByFixedId(FixedIdOf(0), false);
  Events().FindByLocalId(LocalIdOf(0), false);

  Event late = Add(9);
  EXPECT_TRUE(Events().FindByServeId(LocalIdOf(9), false).IsSameHolder(late));
  EXPECT_TRUE(Events().FindByFixedId(FixedIdOf(9), false).IsSameHolder(late));
  EXPECT_TRUE(Events().FindByLocalId(LocalIdOf(9), false).IsSameHolder(late));
  EXPECT_TRUE(Events().FindByDateBookId(DateBookIdOf(9), false).IsSameHolder(late));
}

TEST_F(EventListTest, AnAppendedEventWithAnIdAlreadyIndexedLosesToTheFirst) {
  std::vector<Event> e = AddEvents(2);
  Events().FindByFixedId(FixedIdOf(0), false);
  manager.CreateNewEvent(0x999, FixedIdOf(1));
  EXPECT_TRUE(Events().FindByFixedId(FixedIdOf(1), false).IsSameHolder(e[1]));
}

TEST_F(EventListTest, CopiesShareTheEventsButNotTheIndexes) {
  std::vector<Event> e = AddEvents(3);
  Events().FindByFixedId(FixedIdOf(0), false);
  EventList copy = Events();
  copy.Remove(e[0]);
  EXPECT_EQ(Events().GetListCount(), 3);
  EXPECT_TRUE(copy.FindByFixedId(FixedIdOf(2), false).IsSameHolder(e[2]));
  EXPECT_TRUE(Events().FindByFixedId(FixedIdOf(0), false).IsSameHolder(e[0]));
}

TEST_F(EventListTest, GetUntouchedKeepsOrderAndLeavesTheFoundEventsMarked) {
  std::vector<Event> e = AddEvents(4);
  Events().FindByFixedId(FixedIdOf(1), true);
  Events().FindByCacheId(CacheIdOf(3), true);

  EventList untouched = Events().GetUntouched();
  ASSERT_EQ(untouched.GetListCount(), 2);
  EXPECT_TRUE(untouched[0].IsSameHolder(e[0]));
  EXPECT_TRUE(untouched[1].IsSameHolder(e[2]));
  EXPECT_FALSE(untouched[0].IsTouched());
  EXPECT_TRUE(e[1].IsTouched());
  EXPECT_TRUE(e[3].IsTouched());
}

TEST_F(EventListTest, FindMatchIsByFixedId) {
  std::vector<Event> e = AddEvents(3);
  Event probe = Event::CreateEmpty(0);
  probe.SetFixedId(FixedIdOf(2));
  EXPECT_TRUE(Events().FindMatch(probe, true).IsSameHolder(e[2]));
  EXPECT_TRUE(e[2].IsTouched());
  probe.SetFixedId(0);
  EXPECT_TRUE(Events().FindMatch(probe, false).IsNull());
}

// ---------------------------------------------------------------------------
// Events placed in no calendar

struct EmptyEventCase {
  const char* name;
  bool placed;
  bool deleted;
  bool deletedGlobal;
  bool keptWhenGlobalDeletesStay;
  bool keptOtherwise;
};

const EmptyEventCase kEmptyEventCases[] = {
    {"placed", true, false, false, true, true},
    {"placed_and_deleted_globally", true, true, true, true, true},
    {"unplaced", false, false, false, false, false},
    {"unplaced_deleted_locally", false, true, false, false, false},
    {"unplaced_deleted_globally", false, true, true, true, false},
};

class EmptyEventsTest : public EventListTest {
 protected:
  // One event per case, in case order.
  std::vector<Event> AddCases() {
    Calendar calendar = manager.CreateNewCalendar();
    std::vector<Event> made;
    uint32_t n = 0;
    for (const EmptyEventCase& c : kEmptyEventCases) {
      Event e = Add(n++);
      if (c.placed) e.AddToCalendar(calendar);
      if (c.deletedGlobal) {
        e.SetDeletedGlobal();
      } else if (c.deleted) {
        e.SetDeleted();
      }
      made.push_back(e);
    }
    return made;
  }
  void ExpectKept(const std::vector<Event>& made, bool keepGlobalDeletes) {
    std::vector<std::string> expected, kept;
    for (size_t i = 0; i < made.size(); ++i) {
      const EmptyEventCase& c = kEmptyEventCases[i];
      if (keepGlobalDeletes ? c.keptWhenGlobalDeletesStay : c.keptOtherwise) {
        expected.push_back(c.name);
      }
    }
    for (int32_t i = 0; i < Events().GetListCount(); ++i) {
      for (size_t j = 0; j < made.size(); ++j) {
        if (Events()[i].IsSameHolder(made[j])) kept.push_back(kEmptyEventCases[j].name);
      }
    }
    EXPECT_EQ(kept, expected);
  }
};

TEST_F(EmptyEventsTest, RemoveEmptyEventsKeepingGlobalDeletes) {
  std::vector<Event> made = AddCases();
  Events().RemoveEmptyEvents(true);
  ExpectKept(made, true);
}

TEST_F(EmptyEventsTest, RemoveEmptyEventsDroppingGlobalDeletes) {
  std::vector<Event> made = AddCases();
  Events().RemoveEmptyEvents(false);
  ExpectKept(made, false);
}

TEST_F(EmptyEventsTest, RemovalDropsTheIndexesSoFindsSeeTheNewPositions) {
  std::vector<Event> made = AddCases();
  Events().SetFastSearch(true);
  Events().FindByFixedId(FixedIdOf(0), false);
  Events().FindByLocalId(LocalIdOf(0), false);
  Events().RemoveEmptyEvents(false);
  // Event 1 kept its position; nothing else may answer for the removed ones.
  EXPECT_TRUE(Events().FindByFixedId(FixedIdOf(1), false).IsSameHolder(made[1]));
  EXPECT_TRUE(Events().FindByCacheId(CacheIdOf(2), false).IsNull());
  EXPECT_TRUE(Events().FindByLocalId(LocalIdOf(4), false).IsNull());
}

TEST_F(EmptyEventsTest, DeleteEmptyEventsMarksOnlyUnplacedEventsDeletedAndDirty) {
  std::vector<Event> made = AddCases();
  for (Event& e : made) e.GetRecordStatus().SetDirtyFlag(false);
  Events().DeleteEmptyEvents();
  for (size_t i = 0; i < made.size(); ++i) {
    const EmptyEventCase& c = kEmptyEventCases[i];
    SCOPED_TRACE(c.name);
    EXPECT_EQ(made[i].IsDirty(), !c.placed);
    EXPECT_EQ(made[i].IsDeleted(), !c.placed || c.deleted);
  }
  EXPECT_EQ(Events().GetListCount(), static_cast<int32_t>(made.size()));
}

// ---------------------------------------------------------------------------
// Identity resolution between two copies

class ResolveIdentityBase : public ::testing::Test {
 protected:
  // A calendar with fixed id 0xCA1 and one event per fixed id, each placed in
  // it; with ids, every event and placement has a cache id derived from its
  // fixed id.
  static CalendarManager Build(const std::vector<uint32_t>& fixedIds, bool withCacheIds) {
    CalendarManager m = CalendarManager::CreateEmpty();
    Calendar calendar = m.CreateNewCalendar();
    calendar.SetFixedId(0xCA1);
    for (uint32_t f : fixedIds) {
      Event e = m.CreateNewEvent(0, f);
      CalendarEvent link = e.AddToCalendar(calendar);
      if (withCacheIds) {
        e.SetCacheId(EventCacheId(f));
        link.SetCacheId(LinkCacheId(f));
      }
    }
    return m;
  }
  static uint32_t EventCacheId(uint32_t f) { return 0x1000 + f; }
  static uint32_t LinkCacheId(uint32_t f) { return 0x2000 + f; }
};

class ResolveIdentityTest : public ResolveIdentityBase,
                            public ::testing::WithParamInterface<std::vector<uint32_t>> {};

TEST_P(ResolveIdentityTest, EventsAndPlacementsTakeTheCacheIdsOfTheirMatches) {
  const std::vector<uint32_t>& mine = GetParam();
  CalendarManager other = Build({3, 2, 1}, true);
  CalendarManager resolved = Build(mine, false);
  EventList& events = resolved.GetEventList();
  events.ResolveIdentity(other.GetEventList());

  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    uint32_t f = events[i].GetFixedId();
    SCOPED_TRACE(f);
    EXPECT_EQ(events[i].GetCacheId(), EventCacheId(f));
    ASSERT_EQ(events[i].GetCalendarEventList().GetListCount(), 1);
    EXPECT_EQ(events[i].GetCalendarEventList()[0].GetCacheId(), LinkCacheId(f));
    EXPECT_TRUE(events.FindByCacheId(EventCacheId(f), false).IsSameHolder(events[i]));
  }
}

// One event takes the path for short lists, three the table of fixed ids.
INSTANTIATE_TEST_SUITE_P(Sizes, ResolveIdentityTest,
                         ::testing::Values(std::vector<uint32_t>{2},
                                           std::vector<uint32_t>{1, 2, 3}));

TEST_F(ResolveIdentityBase, OwnCacheIdsStayAndFixedIdZeroMatchesNothing) {
  for (const std::vector<uint32_t>& mine :
       {std::vector<uint32_t>{0}, std::vector<uint32_t>{0, 1, 2}}) {
    SCOPED_TRACE(mine.size());
    CalendarManager other = Build({0, 1, 2}, true);
    CalendarManager resolved = Build(mine, false);
    EventList& events = resolved.GetEventList();
    Event own = events[events.GetListCount() - 1];
    if (own.GetFixedId() != 0) own.SetCacheId(0x77);
    events.ResolveIdentity(other.GetEventList());

    EXPECT_EQ(events[0].GetCacheId(), 0u) << "an event without fixed id matched";
    if (own.GetFixedId() != 0) {
      EXPECT_EQ(own.GetCacheId(), 0x77u);
    }
  }
}

// ---------------------------------------------------------------------------
// CalendarList

struct DefaultCalendar {
  bool deleted;
  bool shared;
  uint32_t localId;
};

struct DefaultCase {
  const char* name;
  std::vector<DefaultCalendar> calendars;
  int32_t keeper;
};

class DefaultCalendarTest : public ::testing::TestWithParam<DefaultCase> {};

TEST_P(DefaultCalendarTest, OnlyOneCalendarKeepsTheDefaultFlag) {
  CalendarManager m = CalendarManager::CreateEmpty();
  Calendar plain = m.CreateNewCalendar();  // never flagged
  for (const DefaultCalendar& d : GetParam().calendars) {
    Calendar c = m.CreateNewCalendar();
    c.GetCalendarDescriptor().SetSharedFlag(d.shared);
    c.SetDefaultCalendar(true);
    c.SetLocalId(d.localId);
    if (d.deleted) c.SetDeleted();
  }
  CalendarCache cache;
  EXPECT_TRUE(m.GetCalendarList().ForceFixedIds(cache, true));

  CalendarList& list = m.GetCalendarList();
  EXPECT_FALSE(plain.IsDefaultCalendar());
  for (int32_t i = 1; i < list.GetListCount(); ++i) {
    bool keeper = i - 1 == GetParam().keeper;
    EXPECT_EQ(list[i].IsDefaultCalendar(), keeper) << "calendar " << i - 1;
    if (keeper) {
      EXPECT_EQ(list[i].GetFixedId(), Calendar::DefaultCalendarFixedId());
    }
    EXPECT_NE(list[i].GetFixedId(), 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DefaultCalendarTest,
    ::testing::Values(
        DefaultCase{"deleted_then_shared_5_then_shared_3",
                    {{true, true, 1}, {false, true, 5}, {false, true, 3}},
                    2},
        DefaultCase{"lower_local_id_among_shared", {{false, true, 3}, {false, true, 5}}, 0},
        DefaultCase{"shared_beats_unshared", {{false, false, 1}, {false, true, 9}}, 1},
        DefaultCase{"shared_beats_lower_unshared", {{false, true, 9}, {false, false, 1}}, 0},
        DefaultCase{"lower_local_id_among_unshared", {{false, false, 7}, {false, false, 2}}, 1},
        DefaultCase{"live_beats_deleted", {{false, false, 9}, {true, true, 1}}, 0},
        DefaultCase{"a_single_deleted_default_stays", {{true, false, 4}}, 0}),
    [](const ::testing::TestParamInfo<DefaultCase>& p) { return std::string(p.param.name); });

TEST(CalendarListTest, WithoutSettlingEveryDefaultStaysFlagged) {
  CalendarManager m = CalendarManager::CreateEmpty();
  for (uint32_t id : {5u, 3u}) {
    Calendar c = m.CreateNewCalendar();
    c.SetDefaultCalendar(true);
    c.SetLocalId(id);
  }
  CalendarCache cache;
  m.GetCalendarList().ForceFixedIds(cache, false);
  EXPECT_TRUE(m.GetCalendarList()[0].IsDefaultCalendar());
  EXPECT_TRUE(m.GetCalendarList()[1].IsDefaultCalendar());
}

TEST(CalendarListTest, FindsByEachIdAndTouchesWhenAsked) {
  CalendarManager m = CalendarManager::CreateEmpty();
  std::vector<Calendar> c;
  for (uint32_t n = 0; n < 3; ++n) {
    c.push_back(m.CreateNewCalendar());
    c[n].SetFixedId(0x10 + n);
    c[n].SetLocalId(0x20 + n);
  }
  const CalendarList& list = m.GetCalendarList();
  EXPECT_TRUE(list.FindByFixedId(0x11, false).IsSameHolder(c[1]));
  EXPECT_TRUE(list.FindByLocalId(0x22, false).IsSameHolder(c[2]));
  EXPECT_TRUE(list.FindByServeId(0x20, true).IsSameHolder(c[0]));
  EXPECT_TRUE(c[0].IsTouched());
  EXPECT_FALSE(c[1].IsTouched());
  EXPECT_TRUE(list.FindByFixedId(0, true).IsNull());
  EXPECT_TRUE(list.FindByLocalId(0x99, true).IsNull());

  Calendar probe = Calendar::CreateEmpty(0);
  probe.SetFixedId(0x12);
  EXPECT_TRUE(list.FindMatch(probe, false).IsSameHolder(c[2]));

  CalendarList untouched = list.GetUntouched();
  ASSERT_EQ(untouched.GetListCount(), 2);
  EXPECT_TRUE(untouched[0].IsSameHolder(c[1]));
  EXPECT_TRUE(c[0].IsTouched());
}

TEST(CalendarListTest, ResolveIdentityFillsOnlyMissingCacheIds) {
  CalendarManager mine = CalendarManager::CreateEmpty();
  CalendarManager theirs = CalendarManager::CreateEmpty();
  for (uint32_t f : {1u, 2u}) {
    Calendar c = theirs.CreateNewCalendar();
    c.SetFixedId(f);
    c.SetCacheId(0x50 + f);
    mine.CreateNewCalendar().SetFixedId(f);
  }
  mine.GetCalendarList()[1].SetCacheId(0x77);
  mine.GetCalendarList().ResolveIdentity(theirs.GetCalendarList());
  EXPECT_EQ(mine.GetCalendarList()[0].GetCacheId(), 0x51u);
  EXPECT_EQ(mine.GetCalendarList()[1].GetCacheId(), 0x77u);
}

// ---------------------------------------------------------------------------
// CalendarEventList

class CalendarEventListTest : public ::testing::Test {
 protected:
  // Calendar n has cache id 0x10+n, fixed id 0x20+n, local (= server) id 0x30+n.
  Calendar AddCalendar(uint32_t n) {
    Calendar c = manager.CreateNewCalendar();
    c.SetCacheId(0x10 + n);
    c.SetFixedId(0x20 + n);
    c.SetLocalId(0x30 + n);
    return c;
  }
  // Places the event in calendar n; the placement has cache id 0x40+n, fixed
  // id 0x50+n and local id 0x60+n.
  CalendarEvent Place(Event& e, uint32_t n) {
    Calendar c = AddCalendar(n);
    CalendarEvent link = e.AddToCalendar(c);
    link.SetCacheId(0x40 + n);
    link.SetFixedId(0x50 + n);
    link.SetLocalId(0x60 + n);
    return link;
  }

  CalendarManager manager = CalendarManager::CreateEmpty();
  Event event = manager.CreateNewEvent(0, 0xE);
};

TEST_F(CalendarEventListTest, FindsByItsOwnAndByItsCalendarsIds) {
  std::vector<CalendarEvent> l;
  for (uint32_t n = 0; n < 3; ++n) l.push_back(Place(event, n));
  const CalendarEventList& list = event.GetCalendarEventList();

  EXPECT_TRUE(list.FindByCacheId(0x41, false).IsSameHolder(l[1]));
  EXPECT_TRUE(list.FindByFixedId(0x52, false).IsSameHolder(l[2]));
  EXPECT_TRUE(list.FindByLocalId(0x60).IsSameHolder(l[0]));
  EXPECT_TRUE(list.FindByCalendarCacheId(0x12, false).IsSameHolder(l[2]));
  EXPECT_TRUE(list.FindByCalendarFixedId(0x20, false).IsSameHolder(l[0]));
  EXPECT_TRUE(list.FindByCalendarLocalId(0x31, false).IsSameHolder(l[1]));
  EXPECT_TRUE(list.FindByCalendarServeId(0x32, true).IsSameHolder(l[2]));
  EXPECT_TRUE(l[2].IsTouched());
  EXPECT_FALSE(l[1].IsTouched());
  for (uint32_t id : {0u, 0x99u}) {
    EXPECT_TRUE(list.FindByCalendarFixedId(id, true).IsNull());
    EXPECT_TRUE(list.FindByCacheId(id, true).IsNull());
    EXPECT_TRUE(list.FindByLocalId(id).IsNull());
  }
}

TEST_F(CalendarEventListTest, CalendarsListFindsByEventCacheId) {
  Calendar c = AddCalendar(0);
  Event other = manager.CreateNewEvent(0, 0xF);
  event.SetCacheId(0x71);
  other.SetCacheId(0x72);
  event.AddToCalendar(c);
  CalendarEvent second = other.AddToCalendar(c);
  EXPECT_TRUE(c.GetCalendarEventList().FindByEventCacheId(0x72, false).IsSameHolder(second));
  EXPECT_TRUE(c.GetCalendarEventList().FindByEventCacheId(0, false).IsNull());
}

TEST_F(CalendarEventListTest, FastSearchFollowsCacheIdsChangedAfterwards) {
  std::vector<CalendarEvent> l;
  for (uint32_t n = 0; n < 3; ++n) l.push_back(Place(event, n));
  CalendarEventList& list = event.GetCalendarEventList();
  list.SetFastSearch(true);
  EXPECT_TRUE(list.FindByCacheId(0x42, false).IsSameHolder(l[2]));

  l[1].SetCacheId(0x99);
  EXPECT_TRUE(list.FindByCacheId(0x99, false).IsSameHolder(l[1]));
  EXPECT_TRUE(list.FindByCacheId(0x41, false).IsNull());

  l[0].Remove();
  EXPECT_TRUE(list.FindByCacheId(0x42, false).IsSameHolder(l[2]));
  list.SetFastSearch(false);
  EXPECT_TRUE(list.FindByCacheId(0x42, false).IsSameHolder(l[2]));
}

TEST_F(CalendarEventListTest, GrowsFromTheSlotInsideTheList) {
  const CalendarEventList& list = event.GetCalendarEventList();
  std::vector<int32_t> capacities = {list.GetCapacity()};
  for (uint32_t n = 0; n < 17; ++n) {
    Place(event, n);
    if (n == 0 || n == 1 || n == 16) capacities.push_back(list.GetCapacity());
  }
  EXPECT_EQ(capacities, (std::vector<int32_t>{0, 1, 16, 32}));
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    EXPECT_EQ(list[i].GetFixedId(), 0x50u + static_cast<uint32_t>(i));
  }
}

TEST_F(CalendarEventListTest, EmptyListTakesEveryPlacementOutOfBothLists) {
  std::vector<Calendar> calendars;
  for (uint32_t n = 0; n < 3; ++n) {
    Place(event, n);
    calendars.push_back(manager.GetCalendarList()[static_cast<int32_t>(n)]);
  }
  EXPECT_TRUE(event.GetCalendarEventList().EmptyList());
  EXPECT_EQ(event.GetCalendarEventList().GetListCount(), 0);
  for (const Calendar& c : calendars) EXPECT_EQ(c.GetCalendarEventList().GetListCount(), 0);
  EXPECT_TRUE(event.GetCalendarEventList().EmptyList()) << "an empty list empties trivially";
}

TEST_F(CalendarEventListTest, EmptyListOfACalendarLeavesItsEventsInTheManager) {
  Calendar c = AddCalendar(0);
  Event other = manager.CreateNewEvent(0, 0xF);
  event.AddToCalendar(c);
  other.AddToCalendar(c);
  EXPECT_TRUE(c.GetCalendarEventList().EmptyList());
  EXPECT_EQ(event.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(other.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(manager.GetEventList().GetListCount(), 2);
}

TEST_F(CalendarEventListTest, GetUntouchedAndResolveIdentity) {
  std::vector<CalendarEvent> l;
  for (uint32_t n = 0; n < 2; ++n) l.push_back(Place(event, n));
  event.GetCalendarEventList().FindByFixedId(0x51, true);
  CalendarEventList untouched = event.GetCalendarEventList().GetUntouched();
  ASSERT_EQ(untouched.GetListCount(), 1);
  EXPECT_TRUE(untouched[0].IsSameHolder(l[0]));

  CalendarManager copy = manager.Clone();
  Event copied = copy.GetEventList()[0];
  copied.GetCalendarEventList()[0].SetCacheId(0);
  copied.GetCalendarEventList()[1].SetCacheId(0x88);
  copied.GetCalendarEventList().ResolveIdentity(event.GetCalendarEventList());
  EXPECT_EQ(copied.GetCalendarEventList()[0].GetCacheId(), 0x40u);
  EXPECT_EQ(copied.GetCalendarEventList()[1].GetCacheId(), 0x88u);
}

// ---------------------------------------------------------------------------
// Display and the lists' own stored form

TEST(CalendarListsDisplayTest, DisplayStringsNameTheCount) {
  CalendarManager m = CalendarManager::CreateEmpty();
  Calendar c = m.CreateNewCalendar();
  m.CreateNewEvent(0, 1).AddToCalendar(c);
  m.CreateNewEvent(0, 2);
  EXPECT_EQ(m.GetCalendarList().GetDisplayString(), "CalendarList[1]");
  EXPECT_EQ(m.GetEventList().GetDisplayString(), "EventList[2]");
  EXPECT_EQ(c.GetCalendarEventList().GetDisplayString(), "CalendarEventList[1]");
}

TEST(CalendarListsStoredFormTest, AListIsItsCountAndOneObjectRecordPerCalendar) {
  RegisterCalendarClasses();
  CalendarManager m = CalendarManager::CreateEmpty();
  for (const char* name : {"home", "work"}) {
    Calendar c = m.CreateNewCalendar();
    c.GetCalendarDescriptor().SetCalendarName(name);
    c.SetFixedId(static_cast<uint32_t>(name[0]));
  }
  StringSink sink;
  {
    Archive ar(sink);
    m.GetCalendarList().SerializeQuick(ar, Archive::kNoSchema);
  }
  const std::string& bytes = sink.contents();
  const std::string head = std::string("\x02\0\0\0\xFF\xFF\x0F\0\x0E\0", 10) + "CalendarHolder";
  EXPECT_EQ(bytes.substr(0, head.size()), head);

  CalendarList read;
  Archive in(bytes);
  read.SerializeQuick(in, Archive::kNoSchema);
  EXPECT_EQ(in.Remaining(), 0u);
  ASSERT_EQ(read.GetListCount(), 2);
  EXPECT_EQ(read[1].GetCalendarDescriptor().GetCalendarName(), "work");
  EXPECT_EQ(read[0].GetFixedId(), static_cast<uint32_t>('h'));
}

}  // namespace
}  // namespace brontel
