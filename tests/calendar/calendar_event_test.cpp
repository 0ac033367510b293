// Tests of CalendarEvent, the placement of one event in one calendar: how it
// registers in and leaves both lists, its fixed id derived from the two ids it
// joins, comparison and conflicts, what it forwards, and what is left of
// placements, events and calendars held after their manager went.
#include "brontel/calendar/calendar_event.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event_descriptor.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "support/calendar_fixture.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddEvent;
using testing::CalendarKind;
using testing::PlacementOf;

// Names a table test after its case's label, and prints a case as its label.
template <class Case>
std::string CaseLabel(const ::testing::TestParamInfo<Case>& param) {
  return param.param.label;
}
template <class Case>
requires requires(const Case& c) {
  c.label;
}
std::ostream& operator<<(std::ostream& out, const Case& c) {
  return out << c.label;
}

class CalendarEventTest : public ::testing::Test {
 protected:
  CalendarManager m_manager = CalendarManager::CreateEmpty();
  Calendar m_team = AddCalendar(m_manager, "Team", CalendarKind::Published(), 7);
  Event m_event = AddEvent(m_manager, "Lunch", {}, 5);
};

// ---------------------------------------------------------------------------
// Registration and removal
// ---------------------------------------------------------------------------

TEST_F(CalendarEventTest, ConstructionRegistersInBothListsWithoutCountingTheCalendar) {
  uint32_t calendarCount = m_team.GetReferenceCount();

  CalendarEvent placement(m_event, m_team);

  ASSERT_EQ(m_event.GetCalendarEventList().GetListCount(), 1);
  ASSERT_EQ(m_team.GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(m_event.GetCalendarEventList()[0].EqualEqual(placement));
  EXPECT_TRUE(m_team.GetCalendarEventList()[0].EqualEqual(placement));
  EXPECT_TRUE(placement.GetEvent().EqualEqual(m_event));
  EXPECT_TRUE(placement.GetParentCalendar().EqualEqual(m_team));
  EXPECT_TRUE(placement.IsHeld());
  EXPECT_EQ(m_team.GetReferenceCount(), calendarCount);
  EXPECT_TRUE(placement.SanityCheck());
}

TEST_F(CalendarEventTest, RemoveLeavesBothListsAndDetaches) {
  uint32_t calendarCount = m_team.GetReferenceCount();
  CalendarEvent placement = m_event.AddToCalendar(m_team);

  EXPECT_TRUE(placement.Remove());

  EXPECT_EQ(m_event.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(m_team.GetCalendarEventList().GetListCount(), 0);
  EXPECT_TRUE(placement.GetEvent().IsNull());
  EXPECT_TRUE(placement.GetParentCalendar().IsNull());
  EXPECT_FALSE(placement.IsHeld());
  EXPECT_EQ(m_team.GetReferenceCount(), calendarCount);
  EXPECT_FALSE(placement.SanityCheck());
  EXPECT_FALSE(placement.Remove()) << "no list holds it any more";
}

TEST_F(CalendarEventTest, RemovingOnePlacementKeepsTheOthers) {
  Calendar home = AddCalendar(m_manager, "Home");
  CalendarEvent inTeam = m_event.AddToCalendar(m_team);
  CalendarEvent inHome = m_event.AddToCalendar(home);

  ASSERT_TRUE(inTeam.Remove());

  EXPECT_EQ(testing::CalendarNamesOf(m_event), std::vector<std::string>{"Home"});
  EXPECT_TRUE(inHome.GetEvent().EqualEqual(m_event));
}

// ---------------------------------------------------------------------------
// Fixed id
// ---------------------------------------------------------------------------

struct ForceFixedIdCase {
  const char* label;
  uint32_t placementFixedId;
  uint32_t eventFixedId, eventDateBookId;
  uint32_t calendarFixedId, calendarLocalId;
  bool defaultCalendar;
  uint32_t expected;
};

class CalendarEventForceFixedIdTest : public CalendarEventTest,
                                      public ::testing::WithParamInterface<ForceFixedIdCase> {};

TEST_P(CalendarEventForceFixedIdTest, JoinsTheEventAndCalendarIds) {
  const ForceFixedIdCase& c = GetParam();
  m_event.SetFixedId(c.eventFixedId);
  m_event.SetDateBookId(c.eventDateBookId);
  m_team.SetFixedId(c.calendarFixedId);
  m_team.SetLocalId(c.calendarLocalId);
  m_team.SetDefaultCalendar(c.defaultCalendar);
  CalendarEvent placement = m_event.AddToCalendar(m_team);
  placement.SetFixedId(c.placementFixedId);
  CalendarCache cache;

  EXPECT_EQ(placement.ForceFixedId(cache), c.expected);
  EXPECT_EQ(placement.GetFixedId(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalendarEventForceFixedIdTest,
    ::testing::Values(
        // 5 + 7 + (7 << 16)
        ForceFixedIdCase{"FromBothFixedIds", 0, 5, 0, 7, 0, false, 0x7000C},
        ForceFixedIdCase{"KeepsItsOwn", 0x42, 5, 0, 7, 0, false, 0x42},
        // 5 + 0xDEFA4175 + 0x41750000, modulo 2^32
        ForceFixedIdCase{"DefaultCalendar", 0, 5, 0, 0x1234, 0, true, 0x206F417A},
        // 0xC0000123 + 0x80000002 + 0x00020000, modulo 2^32
        ForceFixedIdCase{"ProvisionalIdsOnBothSides", 0, 0, 0x123, 0, 0x2, false, 0x40020125}),
    CaseLabel<ForceFixedIdCase>);

TEST_F(CalendarEventTest, ForceFixedIdGivesTheJoinedRecordsTheirIds) {
  m_event.SetFixedId(0);
  m_event.SetDateBookId(0x123);
  m_team.SetFixedId(0);
  m_team.SetLocalId(0x2);
  m_team.SetClean();
  CalendarEvent placement = m_event.AddToCalendar(m_team);
  CalendarCache cache;

  placement.ForceFixedId(cache);

  EXPECT_EQ(m_event.GetFixedId(), 0xC0000123u);
  EXPECT_TRUE(m_event.HasDirtyFixedId());
  EXPECT_EQ(m_team.GetFixedId(), 0x80000002u);
  EXPECT_TRUE(m_team.IsDirty());
}

TEST(CalendarEventDetachedTest, DetachedPlacementGetsNoFixedId) {
  CalendarEvent placement = CalendarEvent::CreateEmpty();
  CalendarCache cache;

  EXPECT_EQ(placement.ForceFixedId(cache), 0u);
  EXPECT_EQ(placement.GetFixedId(), 0u);
}

// ---------------------------------------------------------------------------
// Comparison, copies and conflicts
// ---------------------------------------------------------------------------

struct EqualCase {
  const char* label;
  void (*change)(CalendarEvent&);
  bool equal;
};

class CalendarEventEqualTest : public CalendarEventTest,
                               public ::testing::WithParamInterface<EqualCase> {};

TEST_P(CalendarEventEqualTest, ComparesDeleteFlagsAndTheWholeAlarm) {
  Calendar home = AddCalendar(m_manager, "Home");
  CalendarEvent a = m_event.AddToCalendar(m_team);
  CalendarEvent b = m_event.AddToCalendar(home);
  GetParam().change(b);

  EXPECT_EQ(a.Equal(b), GetParam().equal);
  EXPECT_EQ(b.Equal(a), GetParam().equal);
}

INSTANTIATE_TEST_SUITE_P(
    Changes, CalendarEventEqualTest,
    ::testing::Values(
        EqualCase{"Nothing", [](CalendarEvent&) {}, true},
        EqualCase{"AdvanceTimeWithAlarmOff",
                  [](CalendarEvent& l) { l.GetCalendarEventDescriptor().SetAlarmAdvanceTime(15); },
                  false},
        EqualCase{"AdvanceUnitWithAlarmOff",
                  [](CalendarEvent& l) {
                    l.GetCalendarEventDescriptor().SetAlarmAdvanceUnit(
                        CalendarEventDescriptor::kDays);
                  },
                  false},
        EqualCase{"AlarmFlag",
                  [](CalendarEvent& l) { l.GetCalendarEventDescriptor().SetAlarmFlag(true); },
                  false},
        EqualCase{"Deleted", [](CalendarEvent& l) { l.SetDeleted(); }, false},
        EqualCase{"DirtyOnly", [](CalendarEvent& l) { l.SetDirty(); }, true},
        EqualCase{"IdsAndVersionOnly",
                  [](CalendarEvent& l) {
                    l.SetLocalId(0x31);
                    l.SetFixedId(0x41);
                    l.SetVersion(9);
                  },
                  true}),
    CaseLabel<EqualCase>);

TEST_F(CalendarEventTest, AcceptConflictTakesTheConflictsIdsVersionStatusAndAlarm) {
  Calendar home = AddCalendar(m_manager, "Home");
  CalendarEvent mine = m_event.AddToCalendar(m_team);
  mine.SetCacheId(0x4);
  mine.SetLocalId(0x1);
  mine.SetFixedId(0x2);
  mine.SetVersion(3);
  CalendarEvent theirs = m_event.AddToCalendar(home);
  theirs.SetCacheId(0x14);
  theirs.SetLocalId(0x11);
  theirs.SetFixedId(0x12);
  theirs.SetVersion(13);
  theirs.SetDeleted();
  theirs.GetCalendarEventDescriptor().SetAlarmFlag(true);
  theirs.GetCalendarEventDescriptor().SetAlarmAdvanceTime(5);
  mine.SetConflict(theirs);
  ASSERT_TRUE(mine.IsConflicted());
  EXPECT_FALSE(mine.GetConflict().EqualEqual(theirs)) << "the conflict is a snapshot";

  mine.AcceptConflict();

  EXPECT_FALSE(mine.IsConflicted());
  EXPECT_EQ(mine.GetCacheId(), 0x14u);
  EXPECT_EQ(mine.GetLocalId(), 0x11u);
  EXPECT_EQ(mine.GetFixedId(), 0x12u);
  EXPECT_EQ(mine.GetVersion(), 13u);
  EXPECT_TRUE(mine.IsDeleted());
  EXPECT_TRUE(mine.GetCalendarEventDescriptor().Equal(theirs.GetCalendarEventDescriptor()));
  EXPECT_TRUE(mine.GetParentCalendar().EqualEqual(m_team)) << "still placed where it was";
}

TEST_F(CalendarEventTest, RejectConflictKeepsMine) {
  CalendarEvent mine = m_event.AddToCalendar(m_team);
  CalendarEvent rival = CalendarEvent::CreateEmpty();
  rival.SetVersion(13);
  mine.SetVersion(3);
  mine.SetConflict(rival);

  mine.RejectConflict();

  EXPECT_FALSE(mine.IsConflicted());
  EXPECT_EQ(mine.GetVersion(), 3u);
}

TEST_F(CalendarEventTest, CopyKeepsTheEventAndCalendar) {
  Calendar home = AddCalendar(m_manager, "Home");
  Event other = AddEvent(m_manager, "Walk", {home});
  CalendarEvent mine = m_event.AddToCalendar(m_team);
  CalendarEvent theirs = PlacementOf(other, home);
  theirs.SetLocalId(0x11);

  mine.Copy(theirs);

  EXPECT_EQ(mine.GetLocalId(), 0x11u);
  EXPECT_TRUE(mine.GetEvent().EqualEqual(m_event));
  EXPECT_TRUE(mine.GetParentCalendar().EqualEqual(m_team));
}

TEST(CalendarEventNullTest, NullPlacementIsDeletedButNeitherDirtyNorGloballyDeleted) {
  CalendarEvent null = CalendarEvent::CreateNull();
  EXPECT_TRUE(null.IsDeleted());
  EXPECT_FALSE(null.IsDirty());
  EXPECT_FALSE(null.IsDeletedGlobal());
  EXPECT_FALSE(null.IsConflicted());
  EXPECT_FALSE(null.IsHeld());
  EXPECT_FALSE(null.IsMatching(null));
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(CalendarEventDeathTest, AcceptConflictRequiresAConflict) {
  CalendarEvent placement = CalendarEvent::CreateEmpty();
  EXPECT_DEATH(placement.AcceptConflict(), "!m_holder->m_conflict.IsNull\\(\\)");
}
#endif

// ---------------------------------------------------------------------------
// Identity and forwarding
// ---------------------------------------------------------------------------

TEST(CalendarEventMatchTest, MatchesWhenCalendarAndEventMatchByFixedId) {
  CalendarManager desk = CalendarManager::CreateEmpty();
  CalendarManager server = CalendarManager::CreateEmpty();
  Calendar deskTeam = AddCalendar(desk, "Team", CalendarKind::Published(), 7);
  Calendar serverTeam = AddCalendar(server, "Team", CalendarKind::Published(), 7);
  Calendar serverHome = AddCalendar(server, "Home", CalendarKind::Local(), 8);
  Event deskLunch = AddEvent(desk, "Lunch", {deskTeam}, 5);
  Event serverLunch = AddEvent(server, "Lunch", {serverTeam, serverHome}, 5);
  Event serverWalk = AddEvent(server, "Walk", {serverTeam}, 6);
  CalendarEvent placement = PlacementOf(deskLunch, deskTeam);

  EXPECT_TRUE(placement.IsMatching(PlacementOf(serverLunch, serverTeam)));
  EXPECT_FALSE(placement.IsMatching(PlacementOf(serverLunch, serverHome)));
  EXPECT_FALSE(placement.IsMatching(PlacementOf(serverWalk, serverTeam)));
  EXPECT_FALSE(placement.IsMatching(CalendarEvent()));
}

TEST_F(CalendarEventTest, DateBookIdAndLocalInfoAreTheEvents) {
  CalendarEvent placement = m_event.AddToCalendar(m_team);

  placement.SetDateBookId(0x44);
  placement.SetLocalInfo(0x55);

  EXPECT_EQ(m_event.GetDateBookId(), 0x44u);
  EXPECT_EQ(m_event.GetLocalInfo(), 0x55u);
  EXPECT_TRUE(m_manager.GetEventList().FindByDateBookId(0x44, false).IsSameHolder(m_event));
}

struct ForwardCase {
  const char* label;
  CalendarKind kind;
  bool hidden;
  bool readOnly;
};

class CalendarEventForwardTest : public CalendarEventTest,
                                 public ::testing::WithParamInterface<ForwardCase> {};

TEST_P(CalendarEventForwardTest, HiddenAndReadOnlyComeFromTheCalendar) {
  Calendar calendar = AddCalendar(m_manager, "C", GetParam().kind);
  CalendarEvent placement = m_event.AddToCalendar(calendar);

  EXPECT_EQ(placement.IsHidden(), GetParam().hidden);
  EXPECT_EQ(placement.IsReadOnly(), GetParam().readOnly);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CalendarEventForwardTest,
    ::testing::Values(ForwardCase{"Published", CalendarKind::Published(), false, false},
                      ForwardCase{"OwnedWithBothFlags", {true, true, true, true}, false, false},
                      ForwardCase{"SubscribedReadOnly", CalendarKind::SubscribedReadOnly(), false,
                                  true},
                      ForwardCase{"SubscribedPrivate", {true, false, false, true}, true, false}),
    CaseLabel<ForwardCase>);

// ---------------------------------------------------------------------------
// Display strings
// ---------------------------------------------------------------------------

TEST_F(CalendarEventTest, DisplayStringsNameTheEventAndCalendar) {
  CalendarEvent placement = m_event.AddToCalendar(m_team);
  placement.GetCalendarEventDescriptor().SetAlarmFlag(true);
  std::string parts = placement.GetRecordIdentification().GetDisplayString() + " " +
                      placement.GetRecordStatus().GetDisplayString() + " " +
                      m_event.GetEventDescriptor().GetDisplayString() + " " +
                      placement.GetCalendarEventDescriptor().GetDisplayString();

  EXPECT_EQ(placement.GetDisplayString(), "CalendarEvent: " + parts);
  placement.SetConflict(CalendarEvent::CreateEmpty());
  EXPECT_EQ(placement.GetDisplayString(), "CalendarEvent: " + parts + " **CONFLICT**");
  EXPECT_EQ(placement.GetUserDisplayString(),
            "Event Lunch at " + m_event.GetEventDescriptor().GetDisplayStringTime() +
                " on Calendar Team");
}

// ---------------------------------------------------------------------------
// Lifetime: records held after their manager went
// ---------------------------------------------------------------------------

// A manager with two calendars and an event placed in both, plus an event in
// one of them, made inside a scope of the test's own so that only the handles
// the test keeps survive it.
struct World {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar home = AddCalendar(manager, "Home");
  Calendar team = AddCalendar(manager, "Team", CalendarKind::Published());
  Event lunch = AddEvent(manager, "Lunch", {home, team});
  Event walk = AddEvent(manager, "Walk", {home});
};

// Handles to parts of the records that nothing else shares: each holds a
// count of 1 exactly when its record was freed.
struct Probes {
  explicit Probes(const World& world)
      : home(world.home.GetCalendarDescriptor()),
        team(world.team.GetCalendarDescriptor()),
        lunch(world.lunch.GetEventDescriptor()),
        walk(world.walk.GetEventDescriptor()),
        lunchAtHome(PlacementOf(world.lunch, world.home).GetCalendarEventDescriptor()),
        walkAtHome(PlacementOf(world.walk, world.home).GetCalendarEventDescriptor()) {}

  CalendarDescriptor home, team;
  EventDescriptor lunch, walk;
  CalendarEventDescriptor lunchAtHome, walkAtHome;
};

TEST(RecordLifetimeTest, RecordsDoNotKeepTheirManagerAlive) {
  World world;
  EXPECT_EQ(world.manager.GetReferenceCount(), 1u);
}

TEST(RecordLifetimeTest, LastManagerHandleFreesEveryRecord) {
  std::optional<Probes> probes;
  {
    World world;
    world.lunch.SetConflict(world.walk);
    world.home.SetConflict(world.team);
    PlacementOf(world.lunch, world.team).SetConflict(PlacementOf(world.walk, world.home));
    probes.emplace(world);
  }

  EXPECT_EQ(probes->home.GetReferenceCount(), 1u);
  EXPECT_EQ(probes->team.GetReferenceCount(), 1u);
  EXPECT_EQ(probes->lunch.GetReferenceCount(), 1u);
  EXPECT_EQ(probes->walk.GetReferenceCount(), 1u);
  EXPECT_EQ(probes->lunchAtHome.GetReferenceCount(), 1u);
  EXPECT_EQ(probes->walkAtHome.GetReferenceCount(), 1u);
}

TEST(RecordLifetimeTest, EventHeldAfterItsManagerWentIsDetached) {
  Event held;
  std::optional<Probes> probes;
  {
    World world;
    held = world.lunch;
    probes.emplace(world);
  }

  EXPECT_TRUE(held.GetManager().IsNull());
  EXPECT_EQ(held.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(held.GetUpperVersion(), 0xFFFFFFFFu);
  EXPECT_EQ(held.GetEventDescriptor().GetName(), "Lunch");
  EXPECT_EQ(probes->home.GetReferenceCount(), 1u) << "the calendars went";
  EXPECT_EQ(probes->lunchAtHome.GetReferenceCount(), 1u) << "the placements went";
  EXPECT_EQ(probes->walk.GetReferenceCount(), 1u) << "the other events went";
}

TEST(RecordLifetimeTest, CalendarHeldAfterItsManagerWentIsDetached) {
  Calendar held;
  std::optional<Probes> probes;
  {
    World world;
    held = world.home;
    probes.emplace(world);
  }

  EXPECT_TRUE(held.GetManager().IsNull());
  EXPECT_EQ(held.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(held.GetCalendarDescriptor().GetCalendarName(), "Home");
  EXPECT_EQ(probes->lunch.GetReferenceCount(), 1u) << "the events went";
  EXPECT_EQ(probes->lunchAtHome.GetReferenceCount(), 1u) << "the placements went";
}

TEST(RecordLifetimeTest, PlacementHeldAfterItsManagerWentIsDetached) {
  CalendarEvent held;
  std::optional<Probes> probes;
  {
    World world;
    held = PlacementOf(world.lunch, world.home);
    probes.emplace(world);
  }

  EXPECT_TRUE(held.GetEvent().IsNull());
  EXPECT_TRUE(held.GetParentCalendar().IsNull());
  EXPECT_FALSE(held.IsHeld());
  EXPECT_EQ(probes->lunch.GetReferenceCount(), 1u) << "its event went";
  EXPECT_EQ(probes->home.GetReferenceCount(), 1u) << "its calendar went";
}

// Runs scenario in a child process, which must end with exit code 0: a
// dangling reference aborts the child (under the address sanitizer) and fails
// only this test.
template <class Scenario>
void ExpectCleanRun(Scenario scenario) {
  EXPECT_EXIT(std::_Exit(scenario()), ::testing::ExitedWithCode(0), "");
}

TEST(RecordLifetimeTest, RemovedCalendarHeldAfterItsManagerWentIsDetached) {
  ExpectCleanRun([] {
    Calendar held;
    {
      World world;
      held = world.team;
      if (!held.Remove()) return 2;
    }
    return held.GetManager().IsNull() ? 0 : 3;
  });
}

TEST(RecordLifetimeTest, RemovedEventHeldAfterItsManagerWentIsDetached) {
  ExpectCleanRun([] {
    Event held;
    {
      World world;
      held = world.lunch;
      if (!held.RemoveGlobal()) return 2;
    }
    return held.GetManager().IsNull() ? 0 : 3;
  });
}

TEST(RecordLifetimeTest, PlacementOutlivingItsCalendarSeesNoCalendar) {
  ExpectCleanRun([] {
    World world;
    CalendarEvent placement = PlacementOf(world.lunch, world.team);
    world.manager.GetCalendarList().Remove(world.team);
    world.team = Calendar();  // the calendar's last handle
    bool detached = placement.GetParentCalendar().IsNull() && !placement.IsReadOnly();
    return detached && placement.GetEvent().EqualEqual(world.lunch) ? 0 : 3;
  });
}

}  // namespace
}  // namespace brontel
