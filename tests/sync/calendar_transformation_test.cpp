// Tests of CalendarTransformation, the desktop and handheld calendar merge:
// records only one side holds (kept, dropped or turned into conflicts by the
// shadow and the data hash), the display-order merge, placements, global ids,
// the handheld's record ids, the differences between desktop and handheld, the
// engine's own display and stored form, and a seeded randomized run of edits on
// a desktop and a handheld that must converge without losing anything.
#include "brontel/sync/calendar_transformation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_classes.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_event_descriptor.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/log_node.h"
#include "brontel/core/uid128.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/format.h"
#include "brontel/platform/tree_view.h"

namespace brontel {
namespace {

// ---- Building records ----

// 1 May 2020, packed.
constexpr uint16_t kMay1 = (2020 - 1904) << 9 | 5 << 5 | 1;

Calendar AddCalendar(CalendarManager& manager, const std::string& name, uint32_t localId = 0) {
  Calendar calendar = manager.CreateNewCalendar();
  calendar.GetCalendarDescriptor().SetCalendarName(name);
  if (localId != 0) calendar.SetLocalId(localId);
  return calendar;
}

// A timed event on 1 May 2020, 9:00 to 10:00, placed in each of calendars.
Event AddEvent(CalendarManager& manager, const std::string& name,
               std::vector<Calendar> calendars = {}) {
  Event event = manager.CreateNewEvent(0, 0);
  EventDescriptor d = event.GetEventDescriptor();
  d.SetName(name);
  d.SetYearMonthDate(kMay1);
  d.SetStartTime(9 << 8);
  d.SetEndTime(10 << 8);
  for (Calendar& calendar : calendars) event.AddToCalendar(calendar);
  return event;
}

void Describe(Calendar calendar, const std::string& text) {
  calendar.GetCalendarDescriptor().SetDescription(text);
}

void Note(Event event, const std::string& text) {
  event.GetEventDescriptor().SetNote(text);
}

CalendarEvent Place(Event event, Calendar calendar) {
  return event.AddToCalendar(calendar);
}

// The first calendar named name (a live one when there are several), or null.
Calendar FindCalendar(const CalendarManager& manager, const std::string& name) {
  Calendar found;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (c.GetCalendarDescriptor().GetCalendarName() != name) continue;
    if (!c.IsDeleted()) return c;
    if (found.IsNull()) found = c;
  }
  return found;
}

Event FindEvent(const CalendarManager& manager, const std::string& name) {
  Event found;
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    if (e.GetEventDescriptor().GetName() != name) continue;
    if (!e.IsDeleted()) return e;
    if (found.IsNull()) found = e;
  }
  return found;
}

// The placement of the event named eventName in the calendar named
// calendarName, or null.
CalendarEvent FindPlacement(const CalendarManager& manager, const std::string& eventName,
                            const std::string& calendarName) {
  Event event = FindEvent(manager, eventName);
  if (event.IsNull()) return CalendarEvent();
  const CalendarEventList& links = event.GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    Calendar parent = links[i].GetParentCalendar();
    if (!parent.IsNull() && parent.GetCalendarDescriptor().GetCalendarName() == calendarName) {
      return links[i];
    }
  }
  return CalendarEvent();
}

// "absent", "live" or "deleted", with "+dirty" (when asked for: only the
// handheld's dirty marks mean something) and " vs live" / " vs deleted" for a
// conflict, so that a record's state reads as one word in a table.
template <class Record>
std::string StateOf(const Record& r, bool showDirty = true) {
  if (r.IsNull()) return "absent";
  std::string state = r.IsDeleted() ? "deleted" : "live";
  if (showDirty && r.IsDirty()) state += "+dirty";
  if (r.IsConflicted()) state += r.GetConflict().IsDeleted() ? " vs deleted" : " vs live";
  return state;
}

// The names of the live calendars in display order (by ordinal).
std::vector<std::string> NamesIn(const CalendarManager& manager) {
  std::vector<std::pair<uint32_t, std::string>> named;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (c.IsDeleted()) continue;
    named.emplace_back(c.GetCalendarDescriptor().GetOrdinal(),
                       c.GetCalendarDescriptor().GetCalendarName());
  }
  std::stable_sort(named.begin(), named.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::vector<std::string> names;
  for (const auto& entry : named) names.push_back(entry.second);
  return names;
}

// The names of the live events, sorted.
std::vector<std::string> EventsIn(const CalendarManager& manager) {
  std::vector<std::string> names;
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsDeleted()) names.push_back(events[i].GetEventDescriptor().GetName());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// "event@calendar" for every live placement of a live event in a live
// calendar, sorted.
std::vector<std::string> PlacementsIn(const CalendarManager& manager) {
  std::vector<std::string> out;
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    if (e.IsDeleted()) continue;
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      Calendar parent = links[j].GetParentCalendar();
      if (links[j].IsDeleted() || parent.IsDeleted()) continue;
      out.push_back(e.GetEventDescriptor().GetName() + "@" +
                    parent.GetCalendarDescriptor().GetCalendarName());
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

using Names = std::vector<std::string>;

// The manager's display tree as text, for failure messages.
std::string Tree(const CalendarManager& manager) {
  TextTree tree;
  manager.DisplayTree(tree, kTreeRoot);
  return tree.Render();
}

// ---- The two clients and the cache they share ----

struct Side {
  explicit Side(bool isHandheld) : handheld(isHandheld) {}
  bool handheld;
  CalendarManager main = CalendarManager::CreateEmpty();
  CalendarManager shadow = CalendarManager::CreateEmpty();
};

struct World {
  CalendarCache cache;
  Side desktop{false};
  Side handheld{true};
  CalendarTransformation lastRun;

  CalendarManager Cache() const { return cache.GetCalendarManager(); }
  Side& Other(const Side& side) { return side.handheld ? desktop : handheld; }

  // Runs the engine for side as the API object does, checks that every copy
  // is still well formed, and returns the conflicts it reported.
  int32_t RunSync(Side& side, bool firstTime = false) {
    if (std::getenv("BRONTEL_SYNC_TREES") != nullptr) {
      std::fprintf(stderr, "before:\n%s%s", Tree(side.main).c_str(), Tree(Cache()).c_str());
    }
    CalendarTransformation engine;
    engine.SetHandheld(side.handheld);
    engine.SetFirstTime(firstTime);
    engine.SetCache(cache);
    engine.SetMain(side.main);
    engine.SetShadow(side.shadow);
    int32_t conflicts = engine.SyncClient();
    side.main = engine.GetMain();
    side.shadow = engine.GetShadow();
    EXPECT_FALSE(engine.IsNotYetRun());
    EXPECT_TRUE(engine.SanityCheck());
    EXPECT_TRUE(Cache().IsCoherent()) << Tree(Cache());
    lastRun = engine;
    return conflicts;
  }
};

// A desktop with calendars Work and Home, events Lunch (Work and Home) and
// Call (Work), synchronized once from the desktop and once to the handheld.
World SyncedWorld() {
  World world;
  CalendarManager& desktop = world.desktop.main;
  Calendar work = AddCalendar(desktop, "Work");
  Calendar home = AddCalendar(desktop, "Home");
  AddEvent(desktop, "Lunch", {work, home});
  AddEvent(desktop, "Call", {work});
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  world.handheld.main.SetClean();  // the conduit wrote everything
  return world;
}

// ---- First synchronization ----

TEST(CalendarTransformationTest, FirstDesktopSyncCopiesEverythingIntoAnEmptyCache) {
  World world;
  Calendar work = AddCalendar(world.desktop.main, "Work");
  Calendar home = AddCalendar(world.desktop.main, "Home");
  AddEvent(world.desktop.main, "Lunch", {work, home});
  AddEvent(world.desktop.main, "Call", {work});

  EXPECT_EQ(world.RunSync(world.desktop), 0);

  EXPECT_EQ(NamesIn(world.Cache()), (Names{"Work", "Home"}));
  EXPECT_EQ(EventsIn(world.Cache()), (Names{"Call", "Lunch"}));
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Home", "Lunch@Work"}));
  EXPECT_EQ(FindCalendar(world.Cache(), "Work").GetSource(), SOURCE_DESKTOP);
  EXPECT_EQ(FindEvent(world.Cache(), "Lunch").GetSource(), SOURCE_DESKTOP);
  EXPECT_EQ(FindPlacement(world.Cache(), "Lunch", "Home").GetSource(), SOURCE_DESKTOP);
  // The shadow is a separate copy that equals the cache.
  CalendarManager shadow = world.desktop.shadow;
  EXPECT_FALSE(shadow.IsSameHolder(world.Cache()));
  CalendarManager cacheCopy = world.Cache().Clone();
  CalendarManager shadowCopy = shadow.Clone();
  EXPECT_TRUE(shadowCopy.Verify(cacheCopy));
}

TEST(CalendarTransformationTest, HandheldReceivesTheCacheMarkedDirtyWithItsOwnSource) {
  World world;
  Calendar work = AddCalendar(world.desktop.main, "Work");
  Calendar home = AddCalendar(world.desktop.main, "Home");
  AddEvent(world.desktop.main, "Lunch", {work, home});
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  world.Cache().SetClean();

  EXPECT_EQ(world.RunSync(world.handheld), 0);
  CalendarManager handheld = world.handheld.main;
  EXPECT_EQ(NamesIn(handheld), (Names{"Work", "Home"}));
  EXPECT_EQ(PlacementsIn(handheld), PlacementsIn(world.Cache()));
  // The conduit writes what is dirty to the handheld.
  EXPECT_EQ(StateOf(FindCalendar(handheld, "Work")), "live+dirty");
  EXPECT_EQ(StateOf(FindEvent(handheld, "Lunch")), "live+dirty");
  EXPECT_EQ(StateOf(FindPlacement(handheld, "Lunch", "Home")), "live+dirty");

  // A handheld record reconciled with the cache is stamped with its source.
  handheld.SetClean();
  Note(FindEvent(handheld, "Lunch"), "bring cake");
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  EXPECT_EQ(FindEvent(world.Cache(), "Lunch").GetSource(), SOURCE_HANDHELD);
  EXPECT_EQ(FindEvent(world.Cache(), "Lunch").GetEventDescriptor().GetNote(), "bring cake");
  EXPECT_EQ(StateOf(FindEvent(handheld, "Lunch")), "live");
}

// ---- A record that only one side holds ----

// One case: edit the synced world, then synchronize one side and read the
// state of one calendar or event in that side's main and in the cache.
struct OneSidedCase {
  const char* name;
  bool handheld;
  std::function<void(World&, Side& side)> edit;
  int32_t conflicts;
  const char* mainState;
  const char* cacheState;
  const char* record = nullptr;  // the calendar or event read; Work or Lunch when null
};

void RunOneSidedCases(const std::vector<OneSidedCase>& cases, bool calendars) {
  for (const OneSidedCase& c : cases) {
    SCOPED_TRACE(Format("%s (%s)", c.name, c.handheld ? "handheld" : "desktop"));
    World world = SyncedWorld();
    Side& side = c.handheld ? world.handheld : world.desktop;
    c.edit(world, side);
    EXPECT_EQ(world.RunSync(side), c.conflicts);
    EXPECT_TRUE(side.main.IsCoherent());
    if (calendars) {
      std::string name = c.record != nullptr ? c.record : "Work";
      EXPECT_EQ(StateOf(FindCalendar(side.main, name), side.handheld), c.mainState);
      EXPECT_EQ(StateOf(FindCalendar(world.Cache(), name), false), c.cacheState);
    } else {
      std::string name = c.record != nullptr ? c.record : "Lunch";
      EXPECT_EQ(StateOf(FindEvent(side.main, name), side.handheld), c.mainState);
      EXPECT_EQ(StateOf(FindEvent(world.Cache(), name), false), c.cacheState);
    }
  }
}

// Deletes the calendar as a client does: the desktop drops it, the handheld
// marks it deleted for the conduit.
void DeleteCalendar(Side& side, const std::string& name) {
  Calendar c = FindCalendar(side.main, name);
  if (side.handheld) {
    c.SetDeleted();
    c.SetDirty();
  } else {
    ASSERT_TRUE(c.Remove());
  }
}

void DeleteEvent(Side& side, const std::string& name) {
  Event e = FindEvent(side.main, name);
  if (side.handheld) {
    e.SetDeleted();
    e.SetDirty();
  } else {
    ASSERT_TRUE(e.Remove(true));
  }
}

// The other side deletes the calendar and synchronizes: the cache drops it.
void DeleteCalendarElsewhere(World& world, Side& side, const std::string& name) {
  Side& other = world.Other(side);
  DeleteCalendar(other, name);
  EXPECT_EQ(world.RunSync(other), 0);
  ASSERT_TRUE(FindCalendar(world.Cache(), name).IsNull());
}

void DeleteEventElsewhere(World& world, Side& side, const std::string& name) {
  Side& other = world.Other(side);
  DeleteEvent(other, name);
  EXPECT_EQ(world.RunSync(other), 0);
  ASSERT_TRUE(FindEvent(world.Cache(), name).IsNull());
}

TEST(CalendarTransformationTest, CalendarOnlyOneSideHoldsIsDecidedByTheShadow) {
  auto deleteHere = [](World&, Side& side) { DeleteCalendar(side, "Work"); };
  auto deletedElsewhere = [](World& world, Side& side) {
    DeleteCalendarElsewhere(world, side, "Work");
  };
  auto deletedElsewhereChangedHere = [](World& world, Side& side) {
    DeleteCalendarElsewhere(world, side, "Work");
    Describe(FindCalendar(side.main, "Work"), "moved to floor 3");
  };
  // The data hash (as a server synchronization left it) says this copy did not
  // change since then, although it differs from the shadow.
  auto deletedElsewhereHashMatchesHere = [](World& world, Side& side) {
    DeleteCalendarElsewhere(world, side, "Work");
    Calendar work = FindCalendar(side.main, "Work");
    Describe(work, "moved to floor 3");
    work.SetDataHash(work.GetCalendarDescriptor().CalculateHash());
  };
  auto changedElsewhereDeletedHere = [](World& world, Side& side) {
    Side& other = world.Other(side);
    Describe(FindCalendar(other.main, "Work"), "moved to floor 3");
    EXPECT_EQ(world.RunSync(other), 0);
    DeleteCalendar(side, "Work");
  };
  auto newElsewhere = [](World& world, Side& side) {
    Side& other = world.Other(side);
    AddCalendar(other.main, "Trip", other.handheld ? 0x300 : 0);
    EXPECT_EQ(world.RunSync(other), 0);
  };

  RunOneSidedCases(
      {
          {"deleted here, unchanged in the cache", false, deleteHere, 0, "absent", "absent"},
          {"deleted here, unchanged in the cache", true, deleteHere, 0, "deleted+dirty", "absent"},
          {"deleted elsewhere, unchanged here", false, deletedElsewhere, 0, "absent", "absent"},
          {"deleted elsewhere, unchanged here", true, deletedElsewhere, 0, "deleted+dirty",
           "absent"},
          {"deleted elsewhere, changed here", false, deletedElsewhereChangedHere, 1,
           "live vs deleted", "absent"},
          {"deleted elsewhere, changed here", true, deletedElsewhereChangedHere, 1,
           "live vs deleted", "absent"},
          {"deleted elsewhere, hash says unchanged here", false, deletedElsewhereHashMatchesHere, 0,
           "absent", "absent"},
          {"changed elsewhere, deleted here", false, changedElsewhereDeletedHere, 1,
           "deleted vs live", "live"},
          {"changed elsewhere, deleted here", true, changedElsewhereDeletedHere, 1,
           "deleted+dirty vs live", "live"},
          {"new elsewhere", false, newElsewhere, 0, "live", "live", "Trip"},
          {"new elsewhere", true, newElsewhere, 0, "live+dirty", "live", "Trip"},
      },
      true);
}

TEST(CalendarTransformationTest, EventOnlyOneSideHoldsIsDecidedByTheShadow) {
  auto deleteHere = [](World&, Side& side) { DeleteEvent(side, "Lunch"); };
  auto deletedElsewhere = [](World& world, Side& side) {
    DeleteEventElsewhere(world, side, "Lunch");
  };
  auto deletedElsewhereChangedHere = [](World& world, Side& side) {
    DeleteEventElsewhere(world, side, "Lunch");
    Note(FindEvent(side.main, "Lunch"), "bring cake");
  };
  // Unlike a calendar, an event whose hash says it is unchanged here while it
  // differs from the shadow goes back into the cache.
  auto deletedElsewhereHashMatchesHere = [](World& world, Side& side) {
    DeleteEventElsewhere(world, side, "Lunch");
    Note(FindEvent(side.shadow, "Lunch"), "old note");
    Event lunch = FindEvent(side.main, "Lunch");
    lunch.SetDataHash(lunch.GetEventDescriptor().CalculateHash());
  };
  auto changedElsewhereDeletedHere = [](World& world, Side& side) {
    Side& other = world.Other(side);
    Note(FindEvent(other.main, "Lunch"), "bring cake");
    EXPECT_EQ(world.RunSync(other), 0);
    DeleteEvent(side, "Lunch");
  };
  // Removing an event's last placement drops the event from the cache.
  auto unplacedElsewherePlacedAnewHere = [](World& world, Side& side) {
    Side& other = world.Other(side);
    ASSERT_TRUE(FindPlacement(other.main, "Call", "Work").Remove());
    EXPECT_EQ(world.RunSync(other), 0);
    ASSERT_TRUE(FindEvent(world.Cache(), "Call").IsNull());
    Place(FindEvent(side.main, "Call"), FindCalendar(side.main, "Home"));
  };
  auto placedAnewElsewhereDeletedHere = [](World& world, Side& side) {
    Side& other = world.Other(side);
    Place(FindEvent(other.main, "Call"), FindCalendar(other.main, "Home"));
    EXPECT_EQ(world.RunSync(other), 0);
    DeleteEvent(side, "Call");
  };
  auto changedOnBothSides = [](World& world, Side& side) {
    Side& other = world.Other(side);
    Note(FindEvent(other.main, "Lunch"), "bring cake");
    EXPECT_EQ(world.RunSync(other), 0);
    Note(FindEvent(side.main, "Lunch"), "bring pie");
  };

  RunOneSidedCases(
      {
          {"deleted here, unchanged in the cache", false, deleteHere, 0, "absent", "absent"},
          {"deleted here, unchanged in the cache", true, deleteHere, 0, "deleted+dirty", "absent"},
          {"deleted elsewhere, unchanged here", false, deletedElsewhere, 0, "absent", "absent"},
          {"deleted elsewhere, unchanged here", true, deletedElsewhere, 0, "deleted+dirty",
           "absent"},
          {"deleted elsewhere, changed here", false, deletedElsewhereChangedHere, 1,
           "live vs deleted", "absent"},
          {"deleted elsewhere, changed here", true, deletedElsewhereChangedHere, 1,
           "live vs deleted", "absent"},
          {"deleted elsewhere, hash says unchanged here", false, deletedElsewhereHashMatchesHere, 0,
           "live", "live"},
          {"changed elsewhere, deleted here", false, changedElsewhereDeletedHere, 1,
           "deleted vs live", "live"},
          {"changed elsewhere, deleted here", true, changedElsewhereDeletedHere, 1,
           "deleted+dirty vs live", "live"},
          // A new placement is a change: the event is not dropped unasked.
          {"unplaced elsewhere, placed anew here", false, unplacedElsewherePlacedAnewHere, 1,
           "live vs deleted", "absent", "Call"},
          {"unplaced elsewhere, placed anew here", true, unplacedElsewherePlacedAnewHere, 1,
           "live vs deleted", "absent", "Call"},
          {"placed anew elsewhere, deleted here", false, placedAnewElsewhereDeletedHere, 1,
           "deleted vs live", "live", "Call"},
          {"placed anew elsewhere, deleted here", true, placedAnewElsewhereDeletedHere, 1,
           "deleted+dirty vs live", "live", "Call"},
          {"changed on both sides", false, changedOnBothSides, 1, "live vs live", "live"},
          {"changed on both sides", true, changedOnBothSides, 1, "live vs live", "live"},
      },
      false);
}

TEST(CalendarTransformationTest, EventDeletedHereButChangedInTheCacheKeepsTheCachePlacements) {
  // Accepting the conflict must bring the event back where the cache has it.
  World world = SyncedWorld();
  Note(FindEvent(world.handheld.main, "Lunch"), "bring cake");
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  DeleteEvent(world.desktop, "Lunch");

  EXPECT_EQ(world.RunSync(world.desktop), 1);
  Event lunch = FindEvent(world.desktop.main, "Lunch");
  ASSERT_EQ(StateOf(lunch), "deleted vs live");
  lunch.AcceptConflict();
  EXPECT_EQ(PlacementsIn(world.desktop.main), PlacementsIn(world.Cache()));
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_EQ(lunch.GetEventDescriptor().GetNote(), "bring cake");
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Home", "Lunch@Work"}));
}

// The handheld marks both placements of Lunch deleted and synchronizes: the
// cache drops Lunch, but the handheld keeps it (placed nowhere) once the
// conduit wrote the deletions. Later it places Lunch in Work again, and the
// cache takes it back under a new cache id.
void HandheldBringsLunchBack(World& world) {
  for (const char* calendar : {"Work", "Home"}) {
    CalendarEvent link = FindPlacement(world.handheld.main, "Lunch", calendar);
    link.SetDeleted();
    link.SetDirty();
  }
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  ASSERT_TRUE(FindEvent(world.Cache(), "Lunch").IsNull());
  Event lunch = FindEvent(world.handheld.main, "Lunch");
  ASSERT_EQ(StateOf(lunch, false), "live");
  lunch.GetCalendarEventList().EmptyList();
  Place(lunch, FindCalendar(world.handheld.main, "Work"));
}

TEST(CalendarTransformationTest, EventTheCacheTookBackUnderANewIdIsStillTheSameEvent) {
  World world = SyncedWorld();
  Event mine = FindEvent(world.desktop.main, "Lunch");
  uint32_t oldCacheId = mine.GetCacheId();
  HandheldBringsLunchBack(world);
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  ASSERT_NE(FindEvent(world.Cache(), "Lunch").GetCacheId(), oldCacheId);

  Note(mine, "bring cake");  // the desktop changed it meanwhile
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_TRUE(world.desktop.main.IsCoherent());
  EXPECT_EQ(EventsIn(world.desktop.main), (Names{"Call", "Lunch"}));
  EXPECT_EQ(mine.GetCacheId(), FindEvent(world.Cache(), "Lunch").GetCacheId());
  EXPECT_EQ(FindEvent(world.Cache(), "Lunch").GetEventDescriptor().GetNote(), "bring cake");
  // The handheld removed Lunch from Home; the desktop follows.
  EXPECT_EQ(PlacementsIn(world.desktop.main), (Names{"Call@Work", "Lunch@Work"}));
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Work"}));
}

TEST(CalendarTransformationTest, PlacementTheCacheMadeAgainUnderANewIdIsNotDoubled) {
  World world = SyncedWorld();
  HandheldBringsLunchBack(world);
  // The desktop changed Lunch while the cache had dropped it, and kept it.
  Event mine = FindEvent(world.desktop.main, "Lunch");
  Note(mine, "bring cake");
  ASSERT_EQ(world.RunSync(world.desktop), 1);
  ASSERT_EQ(StateOf(mine, false), "live vs deleted");
  mine.RejectConflict();
  EXPECT_EQ(world.RunSync(world.handheld), 0);  // Lunch back in the cache, in Work

  EXPECT_EQ(world.RunSync(world.desktop), 1);  // two versions of Lunch, no reference
  EXPECT_TRUE(world.desktop.main.IsCoherent());
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Home", "Lunch@Work"}));
  EXPECT_EQ(PlacementsIn(world.desktop.main), (Names{"Call@Work", "Lunch@Home", "Lunch@Work"}));
}

TEST(CalendarTransformationTest, ResolvedConflictsReachTheCacheOnTheNextSync) {
  struct Case {
    const char* name;
    bool accept;
    const char* note;  // Lunch's note everywhere afterwards
  };
  for (const Case& c :
       std::vector<Case>{{"accepted", true, "cache's"}, {"rejected", false, "mine"}}) {
    SCOPED_TRACE(c.name);
    World world = SyncedWorld();
    Note(FindEvent(world.handheld.main, "Lunch"), "cache's");
    EXPECT_EQ(world.RunSync(world.handheld), 0);
    Event lunch = FindEvent(world.desktop.main, "Lunch");
    Note(lunch, "mine");
    ASSERT_EQ(world.RunSync(world.desktop), 1);
    c.accept ? lunch.AcceptConflict() : lunch.RejectConflict();
    EXPECT_EQ(world.RunSync(world.desktop), 0);
    EXPECT_EQ(world.RunSync(world.handheld), 0);
    EXPECT_EQ(FindEvent(world.Cache(), "Lunch").GetEventDescriptor().GetNote(), c.note);
    EXPECT_EQ(FindEvent(world.handheld.main, "Lunch").GetEventDescriptor().GetNote(), c.note);
  }
}

TEST(CalendarTransformationTest, BogusEventsAreMarkedDeletedAndNeverReachTheCache) {
  World world;
  Calendar work = AddCalendar(world.desktop.main, "Work");
  Event bogus = AddEvent(world.desktop.main, "", {work});
  bogus.GetEventDescriptor().SetYearMonthDate(0);
  AddEvent(world.desktop.main, "Lunch", {work});
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_TRUE(bogus.IsDeleted());
  EXPECT_EQ(EventsIn(world.Cache()), (Names{"Lunch"}));
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Lunch@Work"}));
}

// ---- Display order ----

TEST(CalendarTransformationTest, DisplayOrderMergesBothSidesWithTheShadowAsReferee) {
  struct Case {
    Names main, cache, shadow, merged;
  };
  const std::vector<Case> cases = {
      {{"X", "Y"}, {"Y", "X"}, {"X", "Y"}, {"Y", "X"}},  // the cache moved Y ahead
      {{"X", "Y"}, {"Y", "X"}, {"Y", "X"}, {"X", "Y"}},  // main moved X ahead
      {{"Z", "X", "Y"}, {"X", "Y", "Z"}, {"X", "Y", "Z"}, {"Z", "X", "Y"}},
      {{"X", "Y", "Z"}, {"X", "Z", "Y"}, {"X", "Y", "Z"}, {"X", "Z", "Y"}},
      {{"X", "Y", "Z"}, {"X", "Y", "Z"}, {"Z", "Y", "X"}, {"X", "Y", "Z"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.main) + " " + ::testing::PrintToString(c.cache) + " " +
                 ::testing::PrintToString(c.shadow));
    World world;
    for (const std::string& name : c.main) AddCalendar(world.desktop.main, name);
    EXPECT_EQ(world.RunSync(world.desktop), 0);
    auto order = [](const CalendarManager& m, const Names& names) {
      for (size_t i = 0; i < names.size(); ++i) {
        FindCalendar(m, names[i]).GetCalendarDescriptor().SetOrdinal(static_cast<uint32_t>(i));
      }
    };
    order(world.desktop.main, c.main);
    order(world.Cache(), c.cache);
    order(world.desktop.shadow, c.shadow);
    EXPECT_EQ(world.RunSync(world.desktop), 0);
    EXPECT_EQ(NamesIn(world.desktop.main), c.merged);
    EXPECT_EQ(NamesIn(world.Cache()), c.merged);
  }
}

TEST(CalendarTransformationTest, CalendarsNewOnEitherSideJoinTheOrderWhereTheyStand) {
  World world = SyncedWorld();  // Work, Home
  AddCalendar(world.handheld.main, "Trip").GetCalendarDescriptor().SetOrdinal(1);
  FindCalendar(world.handheld.main, "Home").GetCalendarDescriptor().SetOrdinal(2);
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  EXPECT_EQ(NamesIn(world.Cache()), (Names{"Work", "Trip", "Home"}));
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_EQ(NamesIn(world.desktop.main), (Names{"Work", "Trip", "Home"}));
}

// ---- Placements ----

TEST(CalendarTransformationTest, PlacementTheCacheDroppedLeavesTheClient) {
  struct Case {
    bool handheld;
    uint32_t localId;
    const char* state;  // of Lunch@Home in the client afterwards
  };
  for (const Case& c : std::vector<Case>{
           {false, 0, "absent"}, {true, 0x123, "deleted+dirty"}, {true, 0, "absent"}}) {
    SCOPED_TRACE(Format("%s, local id %x", c.handheld ? "handheld" : "desktop", c.localId));
    World world = SyncedWorld();
    Side& side = c.handheld ? world.handheld : world.desktop;
    Side& other = world.Other(side);
    ASSERT_TRUE(FindPlacement(other.main, "Lunch", "Home").Remove());
    EXPECT_EQ(world.RunSync(other), 0);
    ASSERT_TRUE(FindPlacement(world.Cache(), "Lunch", "Home").IsNull());
    FindPlacement(side.main, "Lunch", "Home").SetLocalId(c.localId);

    EXPECT_EQ(world.RunSync(side), 0);
    EXPECT_EQ(StateOf(FindPlacement(side.main, "Lunch", "Home")), c.state);
    EXPECT_EQ(PlacementsIn(side.main), (Names{"Call@Work", "Lunch@Work"}));
    EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Work"}));
  }
}

TEST(CalendarTransformationTest, PlacementDroppedHereLeavesTheCache) {
  for (bool handheld : {false, true}) {
    SCOPED_TRACE(handheld ? "handheld" : "desktop");
    World world = SyncedWorld();
    Side& side = handheld ? world.handheld : world.desktop;
    ASSERT_TRUE(FindPlacement(side.main, "Lunch", "Home").Remove());
    EXPECT_EQ(world.RunSync(side), 0);
    EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Work"}));
    EXPECT_EQ(world.RunSync(world.Other(side)), 0);
    EXPECT_EQ(PlacementsIn(world.Other(side).main), (Names{"Call@Work", "Lunch@Work"}));
  }
}

TEST(CalendarTransformationTest, EqualPlacementsBothTakeTheNewerVersion) {
  struct Case {
    uint32_t mine, cache;
  };
  for (const Case& c : std::vector<Case>{{5, 7}, {7, 5}, {0xFFFFFFFF, 7}}) {
    SCOPED_TRACE(Format("main v%x, cache v%x", c.mine, c.cache));
    World world = SyncedWorld();
    CalendarEvent mine = FindPlacement(world.desktop.main, "Lunch", "Work");
    CalendarEvent cached = FindPlacement(world.Cache(), "Lunch", "Work");
    mine.SetVersion(c.mine);
    cached.SetVersion(c.cache);
    EXPECT_EQ(world.RunSync(world.desktop), 0);
    EXPECT_EQ(mine.GetVersion(), 7u);
    EXPECT_EQ(cached.GetVersion(), 7u);
  }
}

void SetAlarm(CalendarEvent link, uint8_t minutes) {
  CalendarEventDescriptor d = link.GetCalendarEventDescriptor();
  d.SetAlarmFlag(true);
  d.SetAlarmAdvanceTime(minutes);
  d.SetAlarmAdvanceUnit(CalendarEventDescriptor::kMinutes);
}

uint8_t AlarmOf(const CalendarEvent& link) {
  CalendarEventDescriptor d = link.GetCalendarEventDescriptor();
  return d.GetAlarmFlag() ? d.GetAlarmAdvanceTime() : 0;
}

TEST(CalendarTransformationTest, ChangedPlacementsFollowTheSideThatChanged) {
  struct Case {
    const char* name;
    uint8_t here, elsewhere;  // alarm minutes set on each side, 0 for none
    int32_t conflicts;
    uint8_t cacheAfter;
    const char* stateHere;
  };
  const std::vector<Case> cases = {
      {"changed here", 10, 0, 0, 10, "live"},
      {"changed elsewhere", 0, 15, 0, 15, "live"},
      {"changed on both sides", 10, 15, 1, 15, "live vs live"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World world = SyncedWorld();
    if (c.elsewhere != 0) {
      SetAlarm(FindPlacement(world.handheld.main, "Lunch", "Work"), c.elsewhere);
      EXPECT_EQ(world.RunSync(world.handheld), 0);
    }
    CalendarEvent mine = FindPlacement(world.desktop.main, "Lunch", "Work");
    if (c.here != 0) SetAlarm(mine, c.here);
    EXPECT_EQ(world.RunSync(world.desktop), c.conflicts);
    EXPECT_EQ(AlarmOf(FindPlacement(world.Cache(), "Lunch", "Work")), c.cacheAfter);
    EXPECT_EQ(StateOf(mine), c.stateHere);
    if (c.conflicts == 0) {
      EXPECT_EQ(AlarmOf(mine), c.cacheAfter);
    }
  }
}

TEST(CalendarTransformationTest, PlacementAddedElsewhereArrivesWithItsAlarmAndKeepsIt) {
  World world = SyncedWorld();
  Calendar home = FindCalendar(world.handheld.main, "Home");
  SetAlarm(FindEvent(world.handheld.main, "Call").AddToCalendar(home), 20);
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  CalendarEvent arrived = FindPlacement(world.desktop.main, "Call", "Home");
  EXPECT_EQ(AlarmOf(arrived), 20);
  // Neither side changed anything since: the alarm stays everywhere.
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  EXPECT_EQ(AlarmOf(FindPlacement(world.Cache(), "Call", "Home")), 20);
  EXPECT_EQ(AlarmOf(FindPlacement(world.handheld.main, "Call", "Home")), 20);
}

TEST(CalendarTransformationTest, PlacementInACalendarTheCacheLacksIsSkipped) {
  // A calendar changed here and deleted elsewhere stays as a conflict in main
  // only; an event placed in it finds no cache calendar to join.
  World world = SyncedWorld();
  DeleteCalendarElsewhere(world, world.desktop, "Home");
  Calendar home = FindCalendar(world.desktop.main, "Home");
  Describe(home, "changed");
  AddEvent(world.desktop.main, "Nap", {home, FindCalendar(world.desktop.main, "Work")});
  EXPECT_EQ(world.RunSync(world.desktop), 1);
  EXPECT_EQ(StateOf(home, false), "live vs deleted");
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Work", "Lunch@Work", "Nap@Work"}));
}

TEST(CalendarTransformationTest,
     RepeatExceptionFromTheCacheJoinsItsParentsCalendarsAsTheCacheHasIt) {
  for (bool inBoth : {true, false}) {
    SCOPED_TRACE(inBoth ? "exception in both calendars" : "exception in Work only");
    World world = SyncedWorld();
    Event lunch = FindEvent(world.handheld.main, "Lunch");
    EventDescriptor moved = lunch.GetEventDescriptor().Clone();
    moved.SetName("Lunch moved");
    Event exception = lunch.CreateCloneEvent(moved, 0, 0);
    if (!inBoth) {
      ASSERT_TRUE(FindPlacement(world.handheld.main, "Lunch moved", "Home").Remove());
    }
    EXPECT_EQ(world.RunSync(world.handheld), 0);
    ASSERT_TRUE(FindEvent(world.Cache(), "Lunch moved").HasParent());

    EXPECT_EQ(world.RunSync(world.desktop), 0);
    Event arrived = FindEvent(world.desktop.main, "Lunch moved");
    ASSERT_FALSE(arrived.IsNull());
    EXPECT_EQ(arrived.GetParentEventFixedId(), FindEvent(world.desktop.main, "Lunch").GetFixedId());
    EXPECT_EQ(PlacementsIn(world.desktop.main), PlacementsIn(world.Cache()));
    EXPECT_TRUE(world.desktop.main.IsCoherent());
  }
}

// ---- Global ids ----

TEST(CalendarTransformationTest, GlobalIdsMustAgreeOrOneSideTakesTheOther) {
  UID128 a, b;
  a.SetString("11111111-1111-1111-1111-111111111111");
  b.SetString("22222222-2222-2222-2222-222222222222");
  struct Case {
    const char* name;
    UID128 cache, main;
    bool failure;
    UID128 cacheAfter, mainAfter;
  };
  const std::vector<Case> cases = {
      {"equal", a, a, false, a, a},
      {"cache empty", UID128(), a, false, a, a},
      {"main empty", a, UID128(), false, a, a},
      {"different accounts", a, b, true, a, b},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    World world;
    world.Cache().SetGID(c.cache);
    world.desktop.main.SetGID(c.main);
    Calendar work = AddCalendar(world.desktop.main, "Work");
    AddEvent(world.desktop.main, "Lunch", {work});
    CalendarManager cache = world.Cache();
    AddCalendar(cache, "Cached");

    EXPECT_EQ(world.RunSync(world.desktop), 0);
    EXPECT_EQ(world.lastRun.HasGlobalIdFailure(), c.failure);
    EXPECT_EQ(world.Cache().GetGID(), c.cacheAfter);
    EXPECT_EQ(world.desktop.main.GetGID(), c.mainAfter);
    // A failure merges nothing, but the shadow still becomes the cache.
    Names mainNames = c.failure ? Names{"Work"} : Names{"Work", "Cached"};
    Names cacheNames = c.failure ? Names{"Cached"} : Names{"Work", "Cached"};
    EXPECT_EQ(NamesIn(world.desktop.main), mainNames);
    EXPECT_EQ(NamesIn(world.Cache()), cacheNames);
    EXPECT_EQ(NamesIn(world.desktop.shadow), cacheNames);
  }
}

TEST(CalendarTransformationTest, LowerWirelessAddressVersionTakesTheOther) {
  struct Case {
    uint32_t cacheVersion, mainVersion;
    const char* expected;  // the address both sides end with, or each side's own
  };
  for (const Case& c : std::vector<Case>{{1, 2, "main"}, {3, 2, "cache"}, {2, 2, "own"}}) {
    SCOPED_TRACE(c.expected);
    World world;
    world.Cache().SetPulsecastURL("cache", c.cacheVersion);
    world.desktop.main.SetPulsecastURL("main", c.mainVersion);
    world.RunSync(world.desktop);
    if (std::string(c.expected) == "own") {
      EXPECT_EQ(world.Cache().GetPulsecastURL(), "cache");
      EXPECT_EQ(world.desktop.main.GetPulsecastURL(), "main");
    } else {
      EXPECT_EQ(world.Cache().GetPulsecastURL(), c.expected);
      EXPECT_EQ(world.desktop.main.GetPulsecastURL(), c.expected);
      EXPECT_EQ(world.Cache().GetPulsecastURLVersion(), std::max(c.cacheVersion, c.mainVersion));
      EXPECT_EQ(world.desktop.main.GetPulsecastURLVersion(),
                std::max(c.cacheVersion, c.mainVersion));
    }
  }
}

// ---- The handheld's record ids ----

TEST(CalendarTransformationTest, FirstHandheldSyncGivesEarlierHandheldRecordsToTheDesktop) {
  World world = SyncedWorld();
  Note(FindEvent(world.handheld.main, "Lunch"), "bring cake");
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  ASSERT_EQ(FindEvent(world.Cache(), "Lunch").GetSource(), SOURCE_HANDHELD);

  Side fresh(true);
  EXPECT_EQ(world.RunSync(fresh, true), 0);
  EXPECT_EQ(FindEvent(world.Cache(), "Lunch").GetSource(), SOURCE_DESKTOP);
  EXPECT_EQ(FindEvent(world.Cache(), "Call").GetSource(), SOURCE_DESKTOP);
  EXPECT_EQ(world.lastRun.GetDisplayString(), "Calendar Tranformation Handheld First Time");
}

// A cache that knows Lunch by handheld record id 0x51 and Call as the link
// with local id 0x52 in its default calendar, both unchanged since a server
// synchronization (their data hashes match); a fresh handheld then shows
// events under record ids, without fixed ids of its own.
struct FirstTimeWorld {
  World world;
  Calendar personal;  // the handheld's default calendar

  FirstTimeWorld() {
    CalendarManager& desktop = world.desktop.main;
    Calendar unfiled = AddCalendar(desktop, "Personal");
    unfiled.SetDefaultCalendar(true);
    AddEvent(desktop, "Lunch", {unfiled});
    AddEvent(desktop, "Call", {unfiled});
    EXPECT_EQ(world.RunSync(world.desktop), 0);
    for (const char* name : {"Lunch", "Call"}) {
      Event cached = FindEvent(world.Cache(), name);
      cached.SetDataHash(cached.GetEventDescriptor().CalculateHash());
    }
    FindEvent(world.Cache(), "Lunch").SetDateBookId(0x51);
    FindPlacement(world.Cache(), "Call", "Personal").SetLocalId(0x52);

    personal = AddCalendar(world.handheld.main, "Personal", 0x1);
    personal.SetDefaultCalendar(true);
  }
  Event HandheldEvent(const std::string& name, uint32_t dateBookId, const std::string& note) {
    Event e = AddEvent(world.handheld.main, name, {personal});
    e.SetDateBookId(dateBookId);
    Note(e, note);
    return e;
  }
};

TEST(CalendarTransformationTest, FirstHandheldSyncMatchesEventsByRecordIdThenByContent) {
  FirstTimeWorld t;
  CalendarManager cache = t.world.Cache();
  Event cachedLunch = FindEvent(cache, "Lunch");
  Event cachedCall = FindEvent(cache, "Call");
  // Changed on the handheld: only their record ids can tell who they are.
  Event lunch = t.HandheldEvent("Lunch", 0x51, "bring cake");
  Event call = t.HandheldEvent("Call", 0x52, "call back");
  // The content of the cache's Lunch under a new record id, and a new event.
  Event copy = t.HandheldEvent("Lunch", 0x77, "");
  Event nap = t.HandheldEvent("Nap", 0x78, "");

  EXPECT_EQ(t.world.RunSync(t.world.handheld, true), 0);
  EXPECT_EQ(lunch.GetFixedId(), cachedLunch.GetFixedId());
  EXPECT_EQ(call.GetFixedId(), cachedCall.GetFixedId());
  EXPECT_EQ(cachedLunch.GetEventDescriptor().GetNote(), "bring cake");
  EXPECT_EQ(cachedCall.GetEventDescriptor().GetNote(), "call back");
  // The content match is spent on the record id match: two handheld events
  // never take one cache event's id, so the copy enters the cache as new.
  EXPECT_NE(copy.GetFixedId(), lunch.GetFixedId());
  EXPECT_EQ(EventsIn(cache), (Names{"Call", "Lunch", "Lunch", "Nap"}));
  EXPECT_EQ(nap.GetFixedId(), 0x78u | Event::kDateBookFixedIdBits);
  EXPECT_EQ(NamesIn(cache), (Names{"Personal"}));
  EXPECT_TRUE(t.world.handheld.main.IsCoherent());
}

TEST(CalendarTransformationTest, FirstHandheldSyncMatchesByContentWhenTheRecordIdIsNew) {
  FirstTimeWorld t;
  Event cachedLunch = FindEvent(t.world.Cache(), "Lunch");
  Event lunch = t.HandheldEvent("Lunch", 0x99, "");
  EXPECT_EQ(t.world.RunSync(t.world.handheld, true), 0);
  EXPECT_EQ(lunch.GetFixedId(), cachedLunch.GetFixedId());
  EXPECT_TRUE(FindEvent(t.world.Cache(), "Lunch").IsSameHolder(cachedLunch));
  // The cache learns the handheld's record id from the merge.
  EXPECT_EQ(cachedLunch.GetDateBookId(), 0x99u);
}

TEST(CalendarTransformationTest, HandheldRecordIdsLinkOrSeparateEventsBeforeTheMerge) {
  // The cache knows Lunch by handheld record id 0x51.
  auto world = []() {
    World w;
    Calendar work = AddCalendar(w.desktop.main, "Work");
    AddEvent(w.desktop.main, "Lunch", {work});
    EXPECT_EQ(w.RunSync(w.desktop), 0);
    EXPECT_EQ(w.RunSync(w.handheld), 0);
    FindEvent(w.Cache(), "Lunch").SetDateBookId(0x51);
    return w;
  };
  {
    SCOPED_TRACE("a handheld event without fixed id is the cache's event of its record id");
    World w = world();
    Event mine = FindEvent(w.handheld.main, "Lunch");
    mine.SetDateBookId(0x51);
    mine.SetFixedId(0);
    mine.SetCacheId(0);
    Note(mine, "bring cake");
    Event cached = FindEvent(w.Cache(), "Lunch");
    EXPECT_EQ(w.RunSync(w.handheld), 0);
    EXPECT_TRUE(FindEvent(w.Cache(), "Lunch").IsSameHolder(cached));
    EXPECT_EQ(mine.GetFixedId(), cached.GetFixedId());
    EXPECT_TRUE(mine.HasDirtyFixedId());
    EXPECT_EQ(cached.GetEventDescriptor().GetNote(), "bring cake");
    EXPECT_EQ(EventsIn(w.Cache()), (Names{"Lunch"}));
  }
  {
    SCOPED_TRACE("a handheld event with a fixed id of its own is another event");
    World w = world();
    FindEvent(w.handheld.main, "Lunch").SetDateBookId(0x60);
    Event nap = AddEvent(w.handheld.main, "Nap", {FindCalendar(w.handheld.main, "Work")});
    nap.SetDateBookId(0x51);  // the handheld gave the record id to a new record
    nap.SetFixedId(0x80abcdef);
    Event cached = FindEvent(w.Cache(), "Lunch");
    uint32_t lunchFixedId = cached.GetFixedId();
    EXPECT_EQ(w.RunSync(w.handheld), 0);
    EXPECT_EQ(EventsIn(w.Cache()), (Names{"Lunch", "Nap"}));
    EXPECT_EQ(cached.GetFixedId(), lunchFixedId);
    EXPECT_EQ(cached.GetDateBookId(), 0x60u);
    EXPECT_EQ(FindEvent(w.Cache(), "Nap").GetDateBookId(), 0x51u);
  }
}

// ---- Desktop and handheld ----

TEST(CalendarTransformationTest, DesktopAndHandheldDifferWhereTheConduitNeedsIt) {
  struct Case {
    bool handheld;
    uint32_t cacheLocalIdAfter;  // Work's local id in the cache after the sync
    uint32_t mainLocalIdAfter;   // and in main
    const char* emptyEvent;      // state of an event left without placements
    const char* reordered;       // state of Home after the cache moved it
  };
  const std::vector<Case> cases = {
      {false, 0x77, 0x77, "absent", "live"},
      {true, 0x55, 0x55, "deleted+dirty", "live+dirty"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.handheld ? "handheld" : "desktop");
    World world = SyncedWorld();
    Side& side = c.handheld ? world.handheld : world.desktop;
    // Local ids: the handheld's are kept in the cache; the desktop takes them.
    FindCalendar(world.Cache(), "Work").SetLocalId(0x77);
    FindCalendar(side.main, "Work").SetLocalId(c.handheld ? 0x55 : 0);
    // An event whose last placement the client removed.
    ASSERT_TRUE(FindPlacement(side.main, "Call", "Work").Remove());
    // The cache moved Home to the front.
    FindCalendar(world.Cache(), "Home").GetCalendarDescriptor().SetOrdinal(0);
    FindCalendar(world.Cache(), "Work").GetCalendarDescriptor().SetOrdinal(1);
    side.main.SetClean();

    EXPECT_EQ(world.RunSync(side), 0);
    EXPECT_EQ(FindCalendar(world.Cache(), "Work").GetLocalId(), c.cacheLocalIdAfter);
    EXPECT_EQ(FindCalendar(side.main, "Work").GetLocalId(), c.mainLocalIdAfter);
    EXPECT_EQ(StateOf(FindEvent(side.main, "Call")), c.emptyEvent);
    EXPECT_EQ(StateOf(FindCalendar(side.main, "Home")), c.reordered);
    EXPECT_EQ(NamesIn(side.main), (Names{"Home", "Work"}));
    EXPECT_EQ(world.lastRun.GetSource(), c.handheld ? SOURCE_HANDHELD : SOURCE_DESKTOP);
  }
}

// A cache whose sequence is 0x40000005, as SetRandomCacheIndex may start it:
// the sequence word of a stored empty cache rewritten.
CalendarCache CacheStartingAt(uint32_t sequence) {
  RegisterCalendarClasses();
  StringSink sink;
  {
    Archive ar(sink);
    CalendarCache().SerializeQuick(ar, Archive::kNoSchema);
  }
  std::string bytes = sink.contents();
  // WORD 0xFFFF, WORD schema, WORD name length, the class name, then the
  // sequence.
  size_t at = 6 + std::string("CalendarCacheHolder").size();
  for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(sequence >> (8 * i));
  Archive in(bytes);
  CalendarCache cache;
  cache.SerializeQuick(in, Archive::kNoSchema);
  return cache;
}

// Cache ids drawn after SetRandomCacheIndex always have bit 30 set, so a
// provisional fixed id made from one (id | 0x80000000) carries bits 31 and 30,
// the marks of a fixed id made from a handheld record id (id | 0xC0000000).
// A cache starting at 0x40000005 steps over the handheld band, so a desktop
// event and handheld record 7 keep apart.
TEST(CalendarTransformationTest, ProvisionalFixedIdsNeverLookLikeHandheldOnes) {
  World world;
  world.cache = CacheStartingAt(0x40000005);
  ASSERT_EQ(world.cache.GetSequence(), 0x40000005u);
  Calendar work = AddCalendar(world.desktop.main, "Work");
  AddEvent(world.desktop.main, "Lunch", {work});
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  world.handheld.main.SetClean();
  uint32_t lunchFixedId = FindEvent(world.Cache(), "Lunch").GetFixedId();
  EXPECT_GE(lunchFixedId, 0xC1000000u);
  Event nap = AddEvent(world.handheld.main, "Nap", {FindCalendar(world.handheld.main, "Work")});
  nap.SetDateBookId(7);

  EXPECT_EQ(world.RunSync(world.handheld), 0);
  EXPECT_NE(nap.GetFixedId(), lunchFixedId);
  EXPECT_EQ(EventsIn(world.Cache()), (Names{"Lunch", "Nap"}));
}

TEST(CalendarTransformationTest, DefaultCalendarsOfBothSidesAreOneCalendar) {
  World world;
  Calendar mine = AddCalendar(world.desktop.main, "Calendar");
  mine.SetDefaultCalendar(true);
  AddEvent(world.desktop.main, "Lunch", {mine});
  EXPECT_EQ(world.RunSync(world.desktop), 0);
  Calendar theirs = AddCalendar(world.handheld.main, "Calendar", 0x1);
  theirs.SetDefaultCalendar(true);
  AddEvent(world.handheld.main, "Call", {theirs});
  EXPECT_EQ(world.RunSync(world.handheld), 0);
  EXPECT_EQ(NamesIn(world.Cache()), (Names{"Calendar"}));
  EXPECT_EQ(PlacementsIn(world.Cache()), (Names{"Call@Calendar", "Lunch@Calendar"}));
  EXPECT_EQ(FindCalendar(world.Cache(), "Calendar").GetFixedId(),
            Calendar::DefaultCalendarFixedId());
}

// ---- The engine as a log item ----

TEST(CalendarTransformationTest, DisplayStringNamesTheClient) {
  struct Case {
    bool handheld, firstTime;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {false, false, "Calendar Tranformation Desktop"},
           {false, true, "Calendar Tranformation Desktop"},
           {true, false, "Calendar Tranformation Handheld"},
           {true, true, "Calendar Tranformation Handheld First Time"},
       }) {
    CalendarTransformation engine;
    engine.SetHandheld(c.handheld);
    engine.SetFirstTime(c.firstTime);
    EXPECT_EQ(engine.GetDisplayString(), c.text);
  }
}

TEST(CalendarTransformationTest, DisplayTreeLabelsTheManagersBeforeAndAfterTheRun) {
  CalendarTransformation engine;
  auto labels = [&engine]() {
    TextTree tree;
    TreeItem item = engine.DisplayTree(tree, kTreeRoot);
    Names out{tree.GetText(item)};
    for (TreeItem child : tree.GetChildren(item)) out.push_back(tree.GetText(child));
    return out;
  };
  EXPECT_EQ(labels(), (Names{"Calendar Tranformation Desktop", "cache before", "main before",
                             "shadow before"}));
  engine.SyncClient();
  EXPECT_EQ(labels(),
            (Names{"Calendar Tranformation Desktop", "cache after", "main after", "shadow after"}));
  engine.SetGlobalIdFailure(true);
  EXPECT_EQ(labels()[1], "cache after guid failure");
}

TEST(CalendarTransformationTest, LogNodeStoresAndRestoresTheEngine) {
  RegisterCalendarClasses();
  ClassRegistry::Register(LogNodeOf<CalendarTransformation>::kClassInfo);
  World world = SyncedWorld();
  CalendarTransformation engine;
  engine.SetHandheld(true);
  engine.SetCache(world.cache);
  engine.SetMain(world.handheld.main);
  engine.SetShadow(world.handheld.shadow);
  engine.SetGlobalIdFailure(true);

  std::unique_ptr<LogNode> node = engine.GetLogItem("handheld transaction before");
  EXPECT_EQ(node->GetDisplayString(),
            "handheld transaction before :: Calendar Tranformation Handheld");
  StringSink sink;
  {
    Archive ar(sink);
    ar.WriteObject(node.get());
  }
  const std::string bytes = sink.contents();
  Archive in(bytes);
  std::unique_ptr<Serializable> read(in.ReadObject());
  auto* restored = dynamic_cast<LogNodeOf<CalendarTransformation>*>(read.get());
  ASSERT_NE(restored, nullptr);
  const CalendarTransformation& copy = restored->item();
  EXPECT_TRUE(copy.IsHandheld());
  EXPECT_FALSE(copy.IsFirstTime());
  EXPECT_TRUE(copy.HasGlobalIdFailure());
  EXPECT_TRUE(copy.IsNotYetRun());
  EXPECT_EQ(copy.GetCache().GetSequence(), world.cache.GetSequence());
  EXPECT_EQ(PlacementsIn(copy.GetCache().GetCalendarManager()), PlacementsIn(world.Cache()));
  EXPECT_EQ(PlacementsIn(copy.GetMain()), PlacementsIn(world.handheld.main));
  EXPECT_EQ(NamesIn(copy.GetShadow()), NamesIn(world.handheld.shadow));
}

TEST(CalendarTransformationTest, CloneAndReplayLeaveTheOriginalUntouched) {
  World world = SyncedWorld();
  AddCalendar(world.desktop.main, "Trip").GetCalendarDescriptor().SetOrdinal(2);
  CalendarTransformation engine;
  engine.SetCache(world.cache);
  engine.SetMain(world.desktop.main);
  engine.SetShadow(world.desktop.shadow);

  CalendarTransformation copy = engine.Clone();
  EXPECT_FALSE(copy.GetMain().IsSameHolder(engine.GetMain()));
  EXPECT_FALSE(copy.GetCache().IsSameHolder(engine.GetCache()));
  EXPECT_EQ(copy.SyncClient(), 0);
  EXPECT_EQ(NamesIn(copy.GetCache().GetCalendarManager()), (Names{"Work", "Home", "Trip"}));

  engine.Activate(0, "");  // replays on a clone
  EXPECT_TRUE(engine.IsNotYetRun());
  EXPECT_EQ(NamesIn(world.Cache()), (Names{"Work", "Home"}));
  EXPECT_EQ(engine.SyncClient(), 0);
  EXPECT_EQ(NamesIn(world.Cache()), (Names{"Work", "Home", "Trip"}));
}

TEST(CalendarTransformationTest, MissingMainOrShadowCountsAsEmpty) {
  World world = SyncedWorld();
  CalendarTransformation engine;
  engine.SetCache(world.cache);
  engine.SetMain(CalendarManager());
  engine.SetShadow(CalendarManager());
  EXPECT_FALSE(engine.SanityCheck());
  EXPECT_EQ(engine.SyncClient(), 0);
  EXPECT_EQ(NamesIn(engine.GetMain()), (Names{"Work", "Home"}));
  EXPECT_TRUE(engine.SanityCheck());
}

// ---- Randomized convergence ----

// Random edits of two clients, each followed by a synchronization of that
// client, as users and the conduit would make them. Keeps track of what was
// created and what anyone deleted, so that the end state can be checked for
// losses.
class RandomClients {
 public:
  explicit RandomClients(uint32_t seed)
      : m_rng(seed), m_trace(std::getenv("BRONTEL_SYNC_TRACE") != nullptr) {}

  World world;

  void Round() {
    Side& side = Pick(2) == 0 ? world.desktop : world.handheld;
    int edits = 1 + static_cast<int>(Pick(4));
    for (int i = 0; i < edits; ++i) Edit(side);
    SyncAndSettle(side);
  }

  // Synchronizes side; the user then decides every conflict and the client
  // drops what it now holds as deleted (the conduit writes the handheld).
  int32_t SyncAndSettle(Side& side) {
    bool firstTime = side.handheld && !m_handheldSynced;
    if (side.handheld) m_handheldSynced = true;
    int32_t conflicts = world.RunSync(side, firstTime);
    EXPECT_TRUE(side.main.IsCoherent()) << Tree(side.main);
    if (m_trace) {
      std::string cached;
      for (const std::string& p : PlacementsIn(world.Cache())) cached += " " + p;
      Trace(Format("sync %s: %d conflicts; cache:%s", SideName(side), conflicts, cached.c_str()));
    }
    ResolveConflicts(side);
    Settle(side);
    return conflicts;
  }

  // Every calendar, event and placement that was created and that no one
  // deleted (directly, or through its event or calendar) must be live.
  void ExpectNothingLost(const CalendarManager& manager, const char* which) const {
    SCOPED_TRACE(which);
    Names calendars = NamesIn(manager);
    Names placements = PlacementsIn(manager);
    for (const std::string& name : m_calendars) {
      if (m_deletedCalendars.count(name) != 0) continue;
      EXPECT_TRUE(std::count(calendars.begin(), calendars.end(), name) == 1) << "calendar " << name;
    }
    for (const auto& [key, placement] : m_placements) {
      if (placement.removed || m_deletedEvents.count(placement.event) != 0 ||
          m_deletedCalendars.count(placement.calendar) != 0) {
        continue;
      }
      EXPECT_TRUE(std::count(placements.begin(), placements.end(), key) == 1)
          << "placement " << key;
    }
  }

 private:
  struct Placement {
    std::string event, calendar;
    bool removed = false;
  };

  uint32_t Pick(uint32_t n) { return static_cast<uint32_t>(m_rng() % n); }

  // With BRONTEL_SYNC_TRACE set, every edit, synchronization and decision is
  // written to stderr, to follow a failing seed.
  void Trace(const std::string& line) const {
    if (m_trace) std::fprintf(stderr, "%s\n", line.c_str());
  }
  static const char* SideName(const Side& side) { return side.handheld ? "handheld" : "desktop"; }

  template <class T>
  T PickOne(const std::vector<T>& from) {
    return from[Pick(static_cast<uint32_t>(from.size()))];
  }

  static std::vector<Calendar> LiveCalendars(const CalendarManager& m) {
    std::vector<Calendar> out;
    const CalendarList& calendars = m.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (!calendars[i].IsDeleted()) out.push_back(calendars[i]);
    }
    return out;
  }
  static std::vector<Event> LiveEvents(const CalendarManager& m) {
    std::vector<Event> out;
    const EventList& events = m.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (!events[i].IsDeleted()) out.push_back(events[i]);
    }
    return out;
  }
  static std::vector<CalendarEvent> LivePlacements(const CalendarManager& m) {
    std::vector<CalendarEvent> out;
    for (const Event& e : LiveEvents(m)) {
      const CalendarEventList& links = e.GetCalendarEventList();
      for (int32_t i = 0; i < links.GetListCount(); ++i) {
        if (!links[i].IsDeleted() && !links[i].GetParentCalendar().IsDeleted()) {
          out.push_back(links[i]);
        }
      }
    }
    return out;
  }
  static std::string NameOf(const Calendar& c) {
    return c.GetCalendarDescriptor().GetCalendarName();
  }
  static std::string NameOf(const Event& e) { return e.GetEventDescriptor().GetName(); }

  void Edit(Side& side) {
    CalendarManager& m = side.main;
    std::vector<Calendar> calendars = LiveCalendars(m);
    std::vector<Event> events = LiveEvents(m);
    std::vector<CalendarEvent> placements = LivePlacements(m);
    switch (Pick(12)) {
      case 0:
      case 1:
        if (calendars.size() < 6) {
          std::string name = Format("C%u", m_nextName++);
          Calendar c = AddCalendar(m, name, side.handheld ? m_nextDeviceId++ : 0);
          c.GetCalendarDescriptor().SetColor(Pick(0x1000000));
          m_calendars.insert(name);
          Trace(Format("%s adds %s", SideName(side), name.c_str()));
          return;
        }
        break;
      case 2:
        if (!calendars.empty()) {
          Calendar c = PickOne(calendars);
          Describe(c, Format("d%u", Pick(1000)));
          Trace(Format("%s changes %s", SideName(side), NameOf(c).c_str()));
          return;
        }
        break;
      case 3:
        if (calendars.size() > 2) {
          std::string name = NameOf(PickOne(calendars));
          m_deletedCalendars.insert(name);
          DeleteCalendar(side, name);
          NoteEmptiedEvents(side);
          Trace(Format("%s deletes %s", SideName(side), name.c_str()));
          return;
        }
        break;
      case 4:
        if (events.size() < 20 && !calendars.empty()) {
          std::string name = Format("E%u", m_nextName++);
          Calendar calendar = PickOne(calendars);
          Event e = AddEvent(m, name, {calendar});
          e.GetEventDescriptor().SetYearMonthDate(static_cast<uint16_t>(kMay1 + Pick(20)));
          if (side.handheld) e.SetDateBookId(m_nextDeviceId++);
          CalendarEvent link = e.GetCalendarEventList()[0];
          if (side.handheld && Pick(2) == 0) link.SetLocalId(m_nextDeviceId++);
          m_placements[name + "@" + NameOf(calendar)] = {name, NameOf(calendar)};
          Trace(Format("%s adds %s@%s", SideName(side), name.c_str(), NameOf(calendar).c_str()));
          return;
        }
        break;
      case 5:
      case 6:
        if (!events.empty()) {
          Event e = PickOne(events);
          if (Pick(2) == 0) {
            Note(e, Format("n%u", Pick(1000)));
          } else {
            e.GetEventDescriptor().SetStartTime(static_cast<uint16_t>((8 + Pick(8)) << 8));
          }
          if (side.handheld) e.SetDirty();
          Trace(Format("%s changes %s", SideName(side), NameOf(e).c_str()));
          return;
        }
        break;
      case 7:
        if (!events.empty()) {
          std::string name = NameOf(PickOne(events));
          m_deletedEvents.insert(name);
          DeleteEvent(side, name);
          Trace(Format("%s deletes %s", SideName(side), name.c_str()));
          return;
        }
        break;
      case 8:
        if (!events.empty() && !calendars.empty()) {
          Event e = PickOne(events);
          Calendar calendar = PickOne(calendars);
          const CalendarEventList& links = e.GetCalendarEventList();
          for (int32_t i = 0; i < links.GetListCount(); ++i) {
            if (links[i].GetParentCalendar().IsSameHolder(calendar)) return;
          }
          CalendarEvent link = e.AddToCalendar(calendar);
          if (side.handheld && Pick(2) == 0) link.SetLocalId(m_nextDeviceId++);
          std::string key = NameOf(e) + "@" + NameOf(calendar);
          auto [it, fresh] = m_placements.insert({key, {NameOf(e), NameOf(calendar)}});
          // A placement made again after a removal has no single story.
          if (!fresh) it->second.removed = true;
          Trace(Format("%s places %s", SideName(side), key.c_str()));
          return;
        }
        break;
      case 9:
        if (!placements.empty()) {
          CalendarEvent link = PickOne(placements);
          std::string key = NameOf(link.GetEvent()) + "@" + NameOf(link.GetParentCalendar());
          m_placements[key].removed = true;
          Trace(Format("%s removes %s", SideName(side), key.c_str()));
          if (side.handheld) {
            link.SetDeleted();
            link.SetDirty();
          } else {
            EXPECT_TRUE(link.Remove());
          }
          NoteEmptiedEvents(side);
          return;
        }
        break;
      case 10:
        if (!placements.empty()) {
          CalendarEvent link = PickOne(placements);
          SetAlarm(link, static_cast<uint8_t>(1 + Pick(60)));
          Trace(Format("%s sets the alarm of %s@%s", SideName(side),
                       NameOf(link.GetEvent()).c_str(), NameOf(link.GetParentCalendar()).c_str()));
          return;
        }
        break;
      default:
        if (!calendars.empty()) {
          std::vector<uint32_t> ordinals(calendars.size());
          for (size_t i = 0; i < ordinals.size(); ++i) ordinals[i] = static_cast<uint32_t>(i);
          std::shuffle(ordinals.begin(), ordinals.end(), m_rng);
          for (size_t i = 0; i < calendars.size(); ++i) {
            calendars[i].GetCalendarDescriptor().SetOrdinal(ordinals[i]);
          }
          return;
        }
        break;
    }
  }

  // The user takes one side of a conflict; true when that leaves the record
  // deleted, which is a deletion the user chose.
  template <class Record>
  bool Decide(Record record, bool handheld) {
    if (!record.IsConflicted()) return false;
    bool accept = Pick(2) == 0;
    Trace(Format("  %s %s", accept ? "accepts" : "rejects", record.GetDisplayString().c_str()));
    if (accept) {
      record.AcceptConflict();
    } else {
      record.RejectConflict();
    }
    if (handheld) record.SetDirty();
    return record.IsDeleted();
  }

  void ResolveConflicts(Side& side) {
    CalendarList calendars = side.main.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (Decide(calendars[i], side.handheld)) m_deletedCalendars.insert(NameOf(calendars[i]));
    }
    EventList events = side.main.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (Decide(events[i], side.handheld)) m_deletedEvents.insert(NameOf(events[i]));
      CalendarEventList links = events[i].GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        if (!Decide(links[j], side.handheld)) continue;
        Calendar calendar = links[j].GetParentCalendar();
        if (!calendar.IsNull())
          m_placements[NameOf(events[i]) + "@" + NameOf(calendar)].removed = true;
      }
    }
    NoteEmptiedEvents(side);
  }

  // An event left without any live placement on a client is gone from it:
  // removing an event's last placement deletes the event.
  void NoteEmptiedEvents(const Side& side) {
    for (const Event& e : LiveEvents(side.main)) {
      const CalendarEventList& links = e.GetCalendarEventList();
      bool placed = false;
      for (int32_t i = 0; i < links.GetListCount() && !placed; ++i) {
        placed = !links[i].IsDeleted() && !links[i].GetParentCalendar().IsDeleted();
      }
      if (!placed) m_deletedEvents.insert(NameOf(e));
    }
  }

  // The client drops what it holds as deleted; the handheld gives new records
  // its record ids (some placements keep none) and forgets its dirty marks.
  void Settle(Side& side) {
    CalendarManager& m = side.main;
    CalendarList calendars = m.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (calendars[i].IsDeleted()) calendars[i].Remove();
    }
    EventList events = m.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      Event e = events[i];
      if (e.IsDeleted()) {
        e.Remove(true);
        continue;
      }
      CalendarEventList links = e.GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        CalendarEvent link = links[j];
        if (link.IsDeleted()) {
          link.Remove();
        } else if (side.handheld && link.GetLocalId() == 0 && Pick(2) == 0) {
          link.SetLocalId(m_nextDeviceId++);
        }
      }
      if (side.handheld && e.GetDateBookId() == 0) e.SetDateBookId(m_nextDeviceId++);
    }
    if (!side.handheld) return;
    calendars = m.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (calendars[i].GetLocalId() == 0) calendars[i].SetLocalId(m_nextDeviceId++);
    }
    m.SetClean();
  }

  std::mt19937 m_rng;
  bool m_trace;
  uint32_t m_nextName = 1;
  // Handheld record ids, far from the cache ids that desktop records draw
  // their provisional fixed ids from.
  uint32_t m_nextDeviceId = 0x100000;
  bool m_handheldSynced = false;
  std::set<std::string> m_calendars;
  std::set<std::string> m_deletedCalendars;
  std::set<std::string> m_deletedEvents;
  std::map<std::string, Placement> m_placements;
};

// Everything a client shows: live calendars in display order with their data,
// live events with their data, live placements with their alarms.
std::string Contents(const CalendarManager& m) {
  std::string out;
  for (const std::string& name : NamesIn(m)) {
    CalendarDescriptor d = FindCalendar(m, name).GetCalendarDescriptor();
    out +=
        Format("calendar %s \"%s\" %06x\n", name.c_str(), d.GetDescription().c_str(), d.GetColor());
  }
  for (const std::string& name : EventsIn(m)) {
    EventDescriptor d = FindEvent(m, name).GetEventDescriptor();
    out += Format("event %s %04x %04x \"%s\"\n", name.c_str(), d.GetYearMonthDate(),
                  d.GetStartTime(), d.GetNote().c_str());
  }
  for (const std::string& key : PlacementsIn(m)) {
    size_t at = key.find('@');
    CalendarEvent link = FindPlacement(m, key.substr(0, at), key.substr(at + 1));
    out += Format("placement %s alarm %u\n", key.c_str(), AlarmOf(link));
  }
  return out;
}

// 40 seeds of 150 rounds each; every round edits one client one to four times
// and synchronizes it. BRONTEL_SYNC_SEED runs one seed, BRONTEL_SYNC_ROUNDS
// sets the rounds, BRONTEL_SYNC_TRACE writes the edits and decisions to stderr,
// BRONTEL_SYNC_TREES the managers before every synchronization.
TEST(CalendarTransformationTest, RandomEditsOnBothClientsConvergeWithoutLosses) {
  int rounds = 150;
  if (const char* asked = std::getenv("BRONTEL_SYNC_ROUNDS")) rounds = std::atoi(asked);
  std::vector<uint32_t> seeds;
  if (const char* fixed = std::getenv("BRONTEL_SYNC_SEED")) {
    seeds.push_back(static_cast<uint32_t>(std::strtoul(fixed, nullptr, 0)));
  } else {
    for (uint32_t seed = 1; seed <= 40; ++seed) seeds.push_back(seed * 7919u);
  }
  for (uint32_t seed : seeds) {
    SCOPED_TRACE(Format("seed %u (rerun with BRONTEL_SYNC_SEED=%u)", seed, seed));
    RandomClients clients(seed);
    for (int round = 0; round < rounds && !::testing::Test::HasFailure(); ++round) {
      clients.Round();
    }
    // Quiescence: a few turns of both clients synchronizing without edits
    // settle everything (each conflict is decided at once); one more turn must
    // then report no conflict and change nothing.
    World& world = clients.world;
    for (int turn = 0; turn < 4; ++turn) {
      clients.SyncAndSettle(world.desktop);
      clients.SyncAndSettle(world.handheld);
    }
    std::string before = Contents(world.Cache());
    EXPECT_EQ(clients.SyncAndSettle(world.desktop), 0);
    EXPECT_EQ(clients.SyncAndSettle(world.handheld), 0);
    EXPECT_EQ(Contents(world.Cache()), before);
    EXPECT_EQ(Contents(world.desktop.main), Contents(world.Cache()));
    EXPECT_EQ(Contents(world.handheld.main), Contents(world.Cache()));
    clients.ExpectNothingLost(world.Cache(), "cache");
    clients.ExpectNothingLost(world.desktop.main, "desktop");
    clients.ExpectNothingLost(world.handheld.main, "handheld");
    if (::testing::Test::HasFailure()) break;
  }
}

// A desktop copy whose records lost their cache ids (a program that kept only
// the fixed ids) finds the cache's records again by fixed id: nothing is
// doubled, and its records take the cache's ids back, events and placements.
TEST(CalendarTransformationTest, RecordsWithoutCacheIdsFindTheCacheRecordsByFixedId) {
  struct Case {
    const char* what;
    bool events;
    bool placements;
  };
  for (const Case& c : std::vector<Case>{
           {"events", true, false}, {"placements", false, true}, {"both", true, true}}) {
    SCOPED_TRACE(c.what);
    World world = SyncedWorld();
    const Names placements = PlacementsIn(world.Cache());
    const EventList& events = world.desktop.main.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      Event e = events[i];
      if (c.events) e.SetCacheId(0);
      const CalendarEventList& links = e.GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        CalendarEvent link = links[j];
        if (c.placements) link.SetCacheId(0);
      }
    }

    EXPECT_EQ(world.RunSync(world.desktop), 0);
    EXPECT_EQ(EventsIn(world.Cache()), (Names{"Call", "Lunch"})) << Tree(world.Cache());
    EXPECT_EQ(PlacementsIn(world.Cache()), placements);
    EXPECT_EQ(PlacementsIn(world.desktop.main), placements);
    for (const char* name : {"Call", "Lunch"}) {
      EXPECT_EQ(FindEvent(world.desktop.main, name).GetCacheId(),
                FindEvent(world.Cache(), name).GetCacheId())
          << name;
      for (const char* calendar : {"Work", "Home"}) {
        CalendarEvent mine = FindPlacement(world.desktop.main, name, calendar);
        if (mine.IsNull()) continue;
        EXPECT_EQ(mine.GetCacheId(), FindPlacement(world.Cache(), name, calendar).GetCacheId())
            << name << "@" << calendar;
      }
    }
  }
}

}  // namespace
}  // namespace brontel
