// Tests of CalendarManager: deep and shared copies, the destructive comparison
// of two copies, the switch to the server's id layout, version questions,
// coherence, the finders the synchronization engines use, and lifetimes (a
// manager and all its records go when its last outside handle does).
#include "brontel/calendar/calendar_manager.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_event_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/uid128.h"
#include "support/calendar_fixture.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddEvent;
using testing::CalendarKind;
using testing::PlacementOf;

// Every id, version, status and datum of the manager's records, one line per
// record in list order; placements name their calendar by fixed id.
std::vector<std::string> Describe(const CalendarManager& m) {
  std::vector<std::string> lines;
  const CalendarList& calendars = m.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    lines.push_back(c.GetDisplayString() + " ordinal " +
                    std::to_string(c.GetCalendarDescriptor().GetOrdinal()));
  }
  const EventList& events = m.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    lines.push_back(e.GetDisplayString() + " repeat " +
                    std::to_string(e.GetEventDescriptor().GetRepeatType()));
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      lines.push_back("  in " + std::to_string(links[j].GetParentCalendar().GetFixedId()) + " " +
                      links[j].GetDisplayString());
    }
  }
  return lines;
}

// A manager with three calendars, four events placed in one, two or no
// calendars, and ids, versions, statuses, a conflict and an alarm that a copy
// must keep.
class ManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = AddCalendar(manager, "home", CalendarKind::Local(), 0x11);
    work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
    team = AddCalendar(manager, "team", CalendarKind::SubscribedReadWrite(), 0x13, 0x113);
    team.GetCalendarDescriptor().SetOrdinal(4);
    lunch = AddEvent(manager, "lunch", {home, work}, 0x21);
    review = AddEvent(manager, "review", {team}, 0x22);
    gym = AddEvent(manager, "gym", {home}, 0x23);
    loose = AddEvent(manager, "loose", {}, 0x24);

    uint32_t n = 1;
    for (Calendar* c : {&home, &work, &team}) {
      c->SetCacheId(0x100 + n);
      c->SetVersion(10 + n++);
    }
    for (Event* e : {&lunch, &review, &gym, &loose}) {
      e->SetCacheId(0x200 + n);
      e->SetLocalId(0x300 + n);
      e->SetVersion(10 + n++);
    }
    PlacementOf(lunch, work).GetCalendarEventDescriptor().SetAlarmFlag(true);
    PlacementOf(lunch, work).GetCalendarEventDescriptor().SetAlarmAdvanceTime(15);
    PlacementOf(lunch, work).SetFixedId(0x31);
    PlacementOf(lunch, work).SetVersion(7);
    gym.SetDataHash(0xABCD);
    gym.SetDirty();
    gym.SetLocalInfo(0x55);
    gym.SetParentEventFixedId(0x21);
    loose.SetDeletedGlobal();
    Event rival = Event::CreateEmpty(0);
    rival.GetEventDescriptor().SetName("gym (theirs)");
    review.SetConflict(rival);

    UID128 gid;
    for (int i = 0; i < UID128::kByteCount; ++i) gid.SetByte(i, static_cast<uint8_t>(0xA0 + i));
    manager.SetGID(gid);
    manager.SetVersion(42);
    manager.SetPulsecastURL("http://pulse", 3);
    // Copies are compared placement by placement through fixed ids.
    CalendarCache cache;
    ASSERT_TRUE(manager.ForceFixedIds(cache));
  }

  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar home, work, team;
  Event lunch, review, gym, loose;
};

// ---------------------------------------------------------------------------
// Clone

TEST_F(ManagerTest, CloneKeepsIdsVersionsDataAndPlacements) {
  CalendarManager clone = manager.Clone();
  EXPECT_EQ(Describe(clone), Describe(manager));
  EXPECT_EQ(clone.GetGID(), manager.GetGID());
  EXPECT_EQ(clone.GetVersion(), 42u);
  EXPECT_EQ(clone.GetLevel(), manager.GetLevel());
  EXPECT_EQ(clone.GetPulsecastURL(), "http://pulse");
  EXPECT_EQ(clone.GetPulsecastURLVersion(), 3u);
  EXPECT_EQ(clone.GetEventList()[2].GetParentEventFixedId(), 0x21u);
  EXPECT_EQ(clone.GetEventList()[2].GetLocalInfo(), 0x55u);
}

TEST_F(ManagerTest, CloneRecordsAreNewAndBelongToTheClone) {
  CalendarManager clone = manager.Clone();
  Event copied = clone.GetEventList()[0];
  EXPECT_FALSE(copied.IsSameHolder(lunch));
  EXPECT_TRUE(copied.GetManager().IsSameHolder(clone));
  EXPECT_TRUE(clone.GetCalendarList()[0].GetManager().IsSameHolder(clone));
  CalendarEvent link = copied.GetCalendarEventList()[1];
  EXPECT_TRUE(link.GetParentCalendar().IsSameHolder(clone.GetCalendarList()[1]));
  EXPECT_TRUE(link.GetEvent().IsSameHolder(copied));
  EXPECT_EQ(clone.GetCalendarList()[1].GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(clone.SanityCheck());
  EXPECT_TRUE(clone.IsCoherent());
}

TEST_F(ManagerTest, CloneLeavesTheCountsOfBothManagersAtTheirHandles) {
  uint32_t before = manager.GetReferenceCount();
  CalendarManager clone = manager.Clone();
  EXPECT_EQ(manager.GetReferenceCount(), before);
  EXPECT_EQ(clone.GetReferenceCount(), 1u);
}

TEST_F(ManagerTest, CloneOfAServerManagerIsAServerManager) {
  manager.ConfirmServerManager();
  EXPECT_TRUE(manager.Clone().IsServerManager());
}

TEST_F(ManagerTest, DestroyingTheCloneDetachesRecordsKeptElsewhere) {
  CalendarEvent keptLink;
  Event keptEvent;
  {
    CalendarManager clone = manager.Clone();
    keptEvent = clone.GetEventList()[0];
    keptLink = keptEvent.GetCalendarEventList()[0];
  }
  // The clone and everything only it held are gone (the leak checker watches
  // the rest); what is still held no longer points at the freed manager.
  EXPECT_TRUE(keptEvent.GetManager().IsNull());
  EXPECT_EQ(keptEvent.GetCalendarEventList().GetListCount(), 0);
  EXPECT_TRUE(keptLink.GetParentCalendar().IsNull());
  EXPECT_EQ(keptEvent.GetEventDescriptor().GetName(), "lunch");
  EXPECT_EQ(Describe(manager).size(), 11u);
}

// ---------------------------------------------------------------------------
// Verify

TEST_F(ManagerTest, VerifyOfTwoFreshClonesSucceedsAndEmptiesBoth) {
  CalendarManager a = manager.Clone();
  CalendarManager b = manager.Clone();
  EXPECT_TRUE(a.Verify(b));
  for (const CalendarManager& m : {a, b}) {
    EXPECT_EQ(m.GetCalendarList().GetListCount(), 0);
    EXPECT_EQ(m.GetEventList().GetListCount(), 0);
  }
  EXPECT_EQ(Describe(manager).size(), 11u) << "the source must not change";
}

struct Difference {
  const char* name;
  std::function<void(CalendarManager&)> apply;
  // What stays on each side: the records that differ.
  int32_t calendarsLeft;
  int32_t eventsLeft;
};

class VerifyDifferenceTest : public ManagerTest,
                             public ::testing::WithParamInterface<Difference> {};

TEST_P(VerifyDifferenceTest, OneDifferenceFailsAndKeepsWhatDiffers) {
  CalendarManager a = manager.Clone();
  CalendarManager b = manager.Clone();
  GetParam().apply(b);
  EXPECT_FALSE(a.Verify(b));
  EXPECT_EQ(a.GetCalendarList().GetListCount(), GetParam().calendarsLeft);
  EXPECT_EQ(a.GetEventList().GetListCount(), GetParam().eventsLeft);
}

Event EventNamed(CalendarManager& m, const std::string& name) {
  EventList& events = m.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (events[i].GetEventDescriptor().GetName() == name) return events[i];
  }
  return Event();
}

INSTANTIATE_TEST_SUITE_P(
    Differences, VerifyDifferenceTest,
    ::testing::Values(
        Difference{
            "event_name",
            [](CalendarManager& m) { EventNamed(m, "gym").GetEventDescriptor().SetName("x"); }, 0,
            1},
        Difference{"event_deleted",
                   [](CalendarManager& m) { EventNamed(m, "review").SetDeleted(); }, 0, 1},
        Difference{"placement_alarm",
                   [](CalendarManager& m) {
                     CalendarEvent l = EventNamed(m, "lunch").GetCalendarEventList()[0];
                     l.GetCalendarEventDescriptor().SetAlarmFlag(true);
                   },
                   1, 1},
        Difference{"calendar_name",
                   [](CalendarManager& m) {
                     m.GetCalendarList()[2].GetCalendarDescriptor().SetCalendarName("x");
                   },
                   1, 0},
        Difference{"extra_event", [](CalendarManager& m) { m.CreateNewEvent(0, 0x99); }, 0, 0}),
    [](const ::testing::TestParamInfo<Difference>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Shared clone

TEST_F(ManagerTest, SharedCloneKeepsSharedCalendarsAndDropsPrivateEvents) {
  // lunch: home + work; review: team; gym: home only; loose: nowhere, deleted.
  review.GetEventDescriptor().SetIsPrivate(true);
  CalendarManager shared = manager.SharedClone();

  const CalendarList& calendars = shared.GetCalendarList();
  ASSERT_EQ(calendars.GetListCount(), 2);
  EXPECT_EQ(calendars[0].GetFixedId(), work.GetFixedId());
  EXPECT_EQ(calendars[1].GetFixedId(), team.GetFixedId());

  Event sharedLunch = shared.FindEventByFixedId(lunch.GetFixedId(), false);
  ASSERT_FALSE(sharedLunch.IsNull());
  ASSERT_EQ(sharedLunch.GetCalendarEventList().GetListCount(), 1);
  EXPECT_EQ(sharedLunch.GetCalendarEventList()[0].GetParentCalendar().GetFixedId(), 0x12u);
  EXPECT_TRUE(shared.FindEventByFixedId(gym.GetFixedId(), false).IsNull());

  // The private event stays as a global delete without placements.
  Event sharedReview = shared.FindEventByFixedId(review.GetFixedId(), false);
  ASSERT_FALSE(sharedReview.IsNull());
  EXPECT_TRUE(sharedReview.IsDeletedGlobal());
  EXPECT_EQ(sharedReview.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(calendars[1].GetCalendarEventList().GetListCount(), 0);

  EXPECT_FALSE(shared.FindEventByFixedId(loose.GetFixedId(), false).IsNull());
  EXPECT_EQ(manager.GetCalendarList().GetListCount(), 3) << "the source must not change";
  EXPECT_FALSE(review.IsDeleted());
  EXPECT_TRUE(shared.SanityCheck());
}

// ---------------------------------------------------------------------------
// Server id layout

TEST_F(ManagerTest, ConfirmServerManagerSwapsLocalAndFixedIdsOnce) {
  CalendarEvent alarm = PlacementOf(lunch, work);
  alarm.SetLocalId(0x41);
  const std::vector<std::pair<RecordIdentification, std::pair<uint32_t, uint32_t>>> ids = {
      {work.GetRecordIdentification(), {work.GetLocalId(), work.GetFixedId()}},
      {alarm.GetRecordIdentification(), {0x41, 0x31}},
      {gym.GetRecordIdentification(), {gym.GetLocalId(), gym.GetFixedId()}},
  };
  EXPECT_FALSE(manager.IsServerManager());
  for (int round = 0; round < 2; ++round) {
    manager.ConfirmServerManager();
    EXPECT_TRUE(manager.IsServerManager());
    for (const auto& [id, before] : ids) {
      EXPECT_EQ(id.GetFixedId(), before.first) << "round " << round;
      EXPECT_EQ(id.GetLocalId(), before.second) << "round " << round;
    }
  }
  // The finds follow the swapped ids.
  EXPECT_TRUE(manager.FindEventByFixedId(0x300 + 6, false).IsSameHolder(gym));
  EXPECT_TRUE(manager.FindEventByLocalId(0x23, false).IsSameHolder(gym));
}

// ---------------------------------------------------------------------------
// Versions

#ifndef NDEBUG
TEST(ManagerVersionDeathTest, VersionsWithBit31SetOtherThanInvalidAreRefused) {
  CalendarManager m = CalendarManager::CreateEmpty();
  EXPECT_DEATH(m.SetVersion(0x80000000), "newValue < 0x80000000");
  EXPECT_DEATH(m.SetVersion(0xFFFFFFFE), "newValue < 0x80000000");
}
#endif

TEST(ManagerVersionTest, ValidAndInvalidVersionsAreAccepted) {
  CalendarManager m = CalendarManager::CreateEmpty();
  for (uint32_t v : {0u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
    m.SetVersion(v);
    EXPECT_EQ(m.GetVersion(), v);
  }
}

struct NewToMeCase {
  uint32_t managerVersion;
  uint32_t version;
  uint32_t createVersion;
  bool newToMe;
};

class IsNewToMeTest : public ::testing::TestWithParam<NewToMeCase> {};

TEST_P(IsNewToMeTest, ARecordIsNewWhenChangedOrCreatedAfterTheManagersVersion) {
  const NewToMeCase& c = GetParam();
  CalendarManager m = CalendarManager::CreateEmpty();
  m.SetVersion(c.managerVersion);
  RecordIdentification id;
  id.SetVersion(c.version);
  id.SetCreateVersion(c.createVersion);
  EXPECT_EQ(m.IsNewToMe(id), c.newToMe);
}

constexpr uint32_t kInvalid = 0xFFFFFFFF;
INSTANTIATE_TEST_SUITE_P(
    Cases, IsNewToMeTest,
    ::testing::Values(NewToMeCase{kInvalid, 0, kInvalid, true},
                      NewToMeCase{kInvalid, kInvalid, 0, true}, NewToMeCase{kInvalid, 5, 5, true},
                      NewToMeCase{kInvalid, kInvalid, kInvalid, false},
                      NewToMeCase{10, 10, 10, false}, NewToMeCase{10, 11, 3, true},
                      NewToMeCase{10, 3, 11, true}, NewToMeCase{10, kInvalid, kInvalid, false}));

TEST(ManagerVersionTest, ManagerVersionsCompareWithTheInvalidVersionOldest) {
  CalendarManager a = CalendarManager::CreateEmpty();
  CalendarManager b = CalendarManager::CreateEmpty();
  a.SetVersion(kInvalid);
  b.SetVersion(0);
  EXPECT_TRUE(a.IsNewToMe(b));
  EXPECT_FALSE(b.IsNewToMe(a));
  EXPECT_TRUE(a.VersionsAreSynced(b));
  EXPECT_FALSE(b.VersionsAreSynced(a));
  a.ResolveVersion(b);
  EXPECT_EQ(a.GetVersion(), 0u);
  EXPECT_EQ(b.GetVersion(), 0u);
}

// ---------------------------------------------------------------------------
// Coherence

struct CoherenceCase {
  const char* name;
  std::function<void(CalendarManager&)> build;
  bool coherent;
};

class IsCoherentTest : public ::testing::TestWithParam<CoherenceCase> {};

TEST_P(IsCoherentTest, RecordsOfOneKindMustNotShareNonZeroIds) {
  CalendarManager m = CalendarManager::CreateEmpty();
  GetParam().build(m);
  EXPECT_EQ(m.IsCoherent(), GetParam().coherent);
}

// Two events with the given fixed ids, both in one calendar.
void TwoEvents(CalendarManager& m, uint32_t a, uint32_t b) {
  Calendar c = AddCalendar(m, "c", CalendarKind::Local(), 1);
  AddEvent(m, "a", {c}, a);
  AddEvent(m, "b", {c}, b);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, IsCoherentTest,
    ::testing::Values(CoherenceCase{"distinct_event_fixed_ids",
                                    [](CalendarManager& m) { TwoEvents(m, 5, 6); }, true},
                      CoherenceCase{"same_event_fixed_id",
                                    [](CalendarManager& m) { TwoEvents(m, 5, 5); }, false},
                      CoherenceCase{"several_event_fixed_ids_zero",
                                    [](CalendarManager& m) {
                                      TwoEvents(m, 0, 0);
                                      m.CreateNewEvent(0, 0);
                                    },
                                    true},
                      CoherenceCase{"same_event_cache_id",
                                    [](CalendarManager& m) {
                                      TwoEvents(m, 5, 6);
                                      m.GetEventList()[0].SetCacheId(9);
                                      m.GetEventList()[1].SetCacheId(9);
                                    },
                                    false},
                      CoherenceCase{"same_calendar_local_id",
                                    [](CalendarManager& m) {
                                      AddCalendar(m, "a", CalendarKind::Local(), 1, 7);
                                      AddCalendar(m, "b", CalendarKind::Local(), 2, 7);
                                    },
                                    false},
                      CoherenceCase{"same_placement_cache_id_in_one_event",
                                    [](CalendarManager& m) {
                                      Calendar a = AddCalendar(m, "a", CalendarKind::Local(), 1);
                                      Calendar b = AddCalendar(m, "b", CalendarKind::Local(), 2);
                                      AddEvent(m, "e", {a, b}, 3);
                                      m.GetEventList()[0].GetCalendarEventList()[0].SetCacheId(4);
                                      m.GetEventList()[0].GetCalendarEventList()[1].SetCacheId(4);
                                    },
                                    false},
                      CoherenceCase{"same_placement_cache_id_in_two_events",
                                    [](CalendarManager& m) {
                                      TwoEvents(m, 5, 6);
                                      m.GetEventList()[0].GetCalendarEventList()[0].SetCacheId(4);
                                      m.GetEventList()[1].GetCalendarEventList()[0].SetCacheId(4);
                                    },
                                    true}),
    [](const ::testing::TestParamInfo<CoherenceCase>& p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Finders and pass support

TEST_F(ManagerTest, EventsOnADateInListOrder) {
  EventDescriptor later = testing::MakeEventDescriptor("later");
  later.SetYearMonthDate(static_cast<uint16_t>(later.GetYearMonthDate() + 1));
  review.GetEventDescriptor().Copy(later);

  EventList onDay = manager.GetEventList(
      EventDescriptor::YMDToCTime(lunch.GetEventDescriptor().GetYearMonthDate()));
  std::vector<std::string> names;
  for (int32_t i = 0; i < onDay.GetListCount(); ++i) {
    names.push_back(onDay[i].GetEventDescriptor().GetName());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"lunch", "gym", "loose"}));
}

TEST_F(ManagerTest, CalendarAndEventFinders) {
  EXPECT_TRUE(manager.FindByFixedId(0x12, false).IsSameHolder(work));
  EXPECT_TRUE(manager.FindCalendarByServeId(0x113, false).IsSameHolder(team));
  EXPECT_TRUE(manager.FindByLocalId(0x112, true).IsSameHolder(work));
  EXPECT_TRUE(work.IsTouched());
  EXPECT_TRUE(manager.FindEventByCacheId(gym.GetCacheId(), false).IsSameHolder(gym));
  EXPECT_TRUE(manager.FindEventByLocalId(review.GetLocalId(), false).IsSameHolder(review));
  EXPECT_TRUE(manager.FindEventByServeId(review.GetServeId(), false).IsSameHolder(review));

  CalendarManager clone = manager.Clone();
  EXPECT_TRUE(manager.FindMatchingCalendar(clone.GetCalendarList()[2], false).IsSameHolder(team));
  EXPECT_TRUE(manager.FindMatchingEvent(clone.GetEventList()[1], true).IsSameHolder(review));
  EXPECT_TRUE(review.IsTouched());
  EXPECT_TRUE(manager.FindMatchingEvent(Event(), false).IsNull());
  EXPECT_TRUE(manager.HasEvent(gym));
  EXPECT_FALSE(manager.HasEvent(clone.GetEventList()[2]));
  EXPECT_TRUE(manager.HasCalendar(home));
  EXPECT_FALSE(clone.HasCalendar(home));
}

TEST_F(ManagerTest, PlacementFinders) {
  CalendarEvent atWork = PlacementOf(lunch, work);
  atWork.SetCacheId(0x61);
  atWork.SetLocalId(0x62);
  EXPECT_TRUE(manager.FindCalendarEventByCacheId(lunch, 0x61, false).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByCacheId(work, 0x61, false).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByFixedId(lunch, 0x31, false).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByCalendarFixedId(lunch, 0x12, false).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByCalendarLocalId(lunch, 0x112, false).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByLocalId(lunch, 0x62).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByLocalId(work, 0x62).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByLocalId(0x62).IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByEventCacheId(work, lunch.GetCacheId(), false)
                  .IsSameHolder(atWork));
  EXPECT_TRUE(manager.FindCalendarEventByCalendar(lunch, work, true).IsSameHolder(atWork));
  EXPECT_TRUE(atWork.IsTouched());

  EXPECT_TRUE(manager.FindCalendarEventByCacheId(Event(), 0x61, false).IsNull());
  EXPECT_TRUE(manager.FindCalendarEventByCacheId(Calendar(), 0x61, false).IsNull());
  EXPECT_TRUE(manager.FindCalendarEventByCalendar(lunch, Calendar(), false).IsNull());
  EXPECT_TRUE(manager.FindCalendarEventByCalendar(lunch, team, false).IsNull());
}

TEST_F(ManagerTest, ManagerWideLocalIdFindSearchesCalendarsInOrder) {
  PlacementOf(review, team).SetLocalId(0x77);
  PlacementOf(gym, home).SetLocalId(0x77);
  EXPECT_TRUE(manager.FindCalendarEventByLocalId(0x77).IsSameHolder(PlacementOf(gym, home)));
  EXPECT_TRUE(manager.FindCalendarEventByLocalId(0).IsNull());
}

TEST_F(ManagerTest, FindMatchingCalendarEventGoesThroughTheEventAndTheCalendarsFixedId) {
  CalendarManager clone = manager.Clone();
  Event copiedLunch = clone.GetEventList()[0];
  CalendarEvent copiedAtWork = copiedLunch.GetCalendarEventList()[1];

  CalendarEvent found = manager.FindMatchingCalendarEvent(copiedAtWork, true);
  EXPECT_TRUE(found.IsSameHolder(PlacementOf(lunch, work)));
  EXPECT_TRUE(found.IsTouched());
  EXPECT_TRUE(lunch.IsTouched()) << "the event is found with the same touch";
  EXPECT_TRUE(manager.FindMatchingCalendarEvent(lunch, copiedAtWork, false).IsSameHolder(found));

  clone.GetCalendarList()[1].SetFixedId(0);
  EXPECT_TRUE(manager.FindMatchingCalendarEvent(lunch, copiedAtWork, false).IsNull());
  EXPECT_TRUE(manager.FindMatchingCalendarEvent(Event(), copiedAtWork, false).IsNull());
  EXPECT_TRUE(manager.FindMatchingCalendarEvent(CalendarEvent(), false).IsNull());
}

TEST_F(ManagerTest, UntouchedRecordsOfEachKind) {
  manager.FindByFixedId(0x11, true);
  manager.FindEventByFixedId(0x22, true);
  lunch.GetCalendarEventList().FindByCalendarFixedId(0x12, true);

  EXPECT_EQ(manager.GetUntouched().GetListCount(), 2);
  EXPECT_EQ(manager.GetUntouchedEvents().GetListCount(), 3);
  CalendarEventList links = manager.GetUntouchedCalendarEvents(lunch);
  ASSERT_EQ(links.GetListCount(), 1);
  EXPECT_TRUE(links[0].IsSameHolder(PlacementOf(lunch, home)));
  EXPECT_EQ(manager.GetUntouchedCalendarEvents(Event()).GetListCount(), 0);
}

TEST_F(ManagerTest, SetCleanClearsDirtyFlagsOfEveryRecordAndFixedIdDirtyOfEvents) {
  for (Calendar* c : {&home, &work}) c->SetDirty();
  PlacementOf(lunch, work).SetDirty();
  gym.SetDirtyFixedId();
  manager.SetClean();
  EXPECT_FALSE(home.IsDirty());
  EXPECT_FALSE(work.IsDirty());
  EXPECT_FALSE(PlacementOf(lunch, work).IsDirty());
  EXPECT_FALSE(gym.IsDirty());
  EXPECT_FALSE(gym.HasDirtyFixedId());
}

TEST_F(ManagerTest, ResolveIdentityGivesCalendarsEventsAndPlacementsTheirCacheIds) {
  CalendarManager clone = manager.Clone();
  for (int32_t i = 0; i < clone.GetCalendarList().GetListCount(); ++i) {
    clone.GetCalendarList()[i].SetCacheId(0);
  }
  for (int32_t i = 0; i < clone.GetEventList().GetListCount(); ++i) {
    Event e = clone.GetEventList()[i];
    e.SetCacheId(0);
    for (int32_t j = 0; j < e.GetCalendarEventList().GetListCount(); ++j) {
      e.GetCalendarEventList()[j].SetCacheId(0);
    }
  }
  PlacementOf(lunch, work).SetCacheId(0x61);
  clone.ResolveIdentity(manager);
  EXPECT_EQ(Describe(clone), Describe(manager));
}

TEST(ManagerForceFixedIdsTest, GivesEveryRecordOne) {
  CalendarManager m = CalendarManager::CreateEmpty();
  Calendar c = AddCalendar(m, "c");
  Event e = AddEvent(m, "e", {c});
  CalendarCache cache;
  EXPECT_TRUE(m.ForceFixedIds(cache));
  EXPECT_NE(c.GetFixedId(), 0u);
  EXPECT_NE(e.GetFixedId(), 0u);
  EXPECT_NE(PlacementOf(e, c).GetFixedId(), 0u);
  EXPECT_TRUE(m.FindEventByFixedId(e.GetFixedId(), false).IsSameHolder(e));
}

TEST_F(ManagerTest, CreatedRecordsCopyTheirDescriptorsAndAreHeld) {
  Calendar c = manager.CreateNewCalendar(testing::MakeCalendarDescriptor("new"));
  Event e = manager.CreateNewEvent(testing::MakeEventDescriptor("fresh"), 0x501, 0x502);
  EXPECT_EQ(c.GetCalendarDescriptor().GetCalendarName(), "new");
  EXPECT_EQ(e.GetEventDescriptor().GetName(), "fresh");
  EXPECT_EQ(e.GetServeId(), 0x501u);
  EXPECT_EQ(e.GetFixedId(), 0x502u);
  EXPECT_TRUE(c.IsHeld());
  EXPECT_TRUE(e.IsHeld());
  EXPECT_TRUE(manager.FindEventByFixedId(0x502, false).IsSameHolder(e));
  EXPECT_TRUE(manager.SanityCheck());
}

TEST(ManagerSanityTest, EveryPlacementMustJoinRecordsTheManagerHolds) {
  // Each case builds a manager of two calendars and three events, and another
  // manager with one placement, then breaks one thing about the first.
  struct Case {
    const char* what;
    std::function<void(CalendarManager&, Calendar&, Event&, const CalendarEvent&)> breakIt;
    bool sane;
  };
  const Case cases[] = {
      {"untouched", [](CalendarManager&, Calendar&, Event&, const CalendarEvent&) {}, true},
      {"an event left the list, its placement stayed",
       [](CalendarManager& m, Calendar&, Event& e, const CalendarEvent&) {
         m.GetEventList().Remove(e);
       },
       false},
      {"a calendar left the list, its placement stayed",
       [](CalendarManager& m, Calendar& c, Event&, const CalendarEvent&) {
         m.GetCalendarList().Remove(c);
       },
       false},
      {"an event lists another manager's placement",
       [](CalendarManager&, Calendar&, Event& e, const CalendarEvent& foreign) {
         e.GetCalendarEventList().Append(foreign);
       },
       false},
      {"a calendar lists another manager's placement",
       [](CalendarManager&, Calendar& c, Event&, const CalendarEvent& foreign) {
         c.GetCalendarEventList().Append(foreign);
       },
       false},
  };
  for (const Case& c : cases) {
    CalendarManager other = CalendarManager::CreateEmpty();
    Calendar theirs = AddCalendar(other, "theirs");
    CalendarEvent foreign = PlacementOf(AddEvent(other, "theirs", {theirs}), theirs);
    CalendarManager m = CalendarManager::CreateEmpty();
    Calendar home = AddCalendar(m, "home");
    Calendar work = AddCalendar(m, "work");
    AddEvent(m, "a", {home});
    Event both = AddEvent(m, "b", {home, work});
    AddEvent(m, "c", {work});
    c.breakIt(m, work, both, foreign);
    EXPECT_EQ(m.SanityCheck(), c.sane) << c.what;
    EXPECT_TRUE(other.SanityCheck()) << c.what;
  }
}

TEST_F(ManagerTest, DisplayStringNamesLevelCountsAndUrl) {
  std::string text = manager.GetDisplayString();
  EXPECT_EQ(text.rfind("CalendarManager(L=2) [G=", 0), 0u) << text;
  EXPECT_NE(text.find("/TV=002a|"), std::string::npos) << text;
  EXPECT_NE(text.find("] #calendars = 3 #events = 4 http://pulse v3"), std::string::npos) << text;
  EXPECT_EQ(CalendarManager().GetDisplayString(), "null manager");
}

}  // namespace
}  // namespace brontel
