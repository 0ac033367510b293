// Tests of CalendarApi in a directory of each test's own: the files each entry
// point reads and writes, backups, the account id operations, logging switched
// on in the settings store, the lock between two processes, damaged files that
// must stop an entry point before anything changes, and cache writes that fail
// without letting the shadows run ahead of the cache.
#include "brontel/api/calendar_api.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/category_api.h"
#include "brontel/api/stored_file_view.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/log_file.h"
#include "brontel/core/log_list.h"
#include "brontel/core/log_node.h"
#include "brontel/core/uid128.h"
#include "brontel/host/registry.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/file_lock.h"
#include "brontel/platform/tree_view.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using testing::FaultyFileSystem;
using testing::ReadFileOrMissing;
using testing::TempDir;
using testing::WriteFileBytes;

using testing::Gid;
using testing::kMissing;

constexpr char kRevision[] = "desktop 4.1";

// A new calendar or event of the manager a handle shares.
Calendar NewCalendar(CalendarManager manager, const std::string& name) {
  return testing::AddCalendar(manager, name);
}
Event NewEvent(CalendarManager manager, const std::string& name,
               std::initializer_list<Calendar> calendars = {}) {
  return testing::AddEvent(manager, name, calendars);
}

Calendar FindCalendar(const CalendarManager& manager, const std::string& name) {
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (!calendars[i].IsDeleted() &&
        calendars[i].GetCalendarDescriptor().GetCalendarName() == name) {
      return calendars[i];
    }
  }
  return Calendar();
}

Event FindEvent(const CalendarManager& manager, const std::string& name) {
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsDeleted() && events[i].GetEventDescriptor().GetName() == name) {
      return events[i];
    }
  }
  return Event();
}

// What a manager shows the user, in one line: every live calendar with the live
// events placed in it, then every live event, each list sorted, e.g.
// "Home[Dinner Review] Work[Review Standup] | Dinner Review Standup".
std::string Summary(const CalendarManager& manager) {
  std::vector<std::string> calendars;
  const CalendarList& list = manager.GetCalendarList();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    const Calendar& c = list[i];
    if (c.IsDeleted()) continue;
    std::vector<std::string> placed;
    const CalendarEventList& links = c.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (links[j].IsDeleted() || links[j].GetEvent().IsDeleted()) continue;
      placed.push_back(links[j].GetEvent().GetEventDescriptor().GetName());
    }
    std::sort(placed.begin(), placed.end());
    std::string text = c.GetCalendarDescriptor().GetCalendarName() + "[";
    for (size_t j = 0; j < placed.size(); ++j) text += (j == 0 ? "" : " ") + placed[j];
    calendars.push_back(text + "]");
  }
  std::sort(calendars.begin(), calendars.end());
  std::vector<std::string> events;
  const EventList& eventList = manager.GetEventList();
  for (int32_t i = 0; i < eventList.GetListCount(); ++i) {
    if (!eventList[i].IsDeleted()) events.push_back(eventList[i].GetEventDescriptor().GetName());
  }
  std::sort(events.begin(), events.end());
  std::string text;
  for (const std::string& c : calendars) text += c + " ";
  text += "|";
  for (const std::string& e : events) text += " " + e;
  return text;
}

// The records of a manager that are marked dirty, by name, sorted.
std::vector<std::string> DirtyRecords(const CalendarManager& manager) {
  std::vector<std::string> dirty;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (calendars[i].IsDirty()) {
      dirty.push_back(calendars[i].GetCalendarDescriptor().GetCalendarName());
    }
    const CalendarEventList& links = calendars[i].GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (links[j].IsDirty()) dirty.push_back("placement");
    }
  }
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (events[i].IsDirty()) dirty.push_back(events[i].GetEventDescriptor().GetName());
  }
  std::sort(dirty.begin(), dirty.end());
  return dirty;
}

// Copies every record of from, with its ids and status, into the empty
// manager to, as a conduit loads the handheld's records into a new object.
void CopyRecords(const CalendarManager& from, CalendarManager to) {
  to.SetGID(from.GetGID());
  const CalendarList& calendars = from.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    to.CreateNewCalendar().Copy(calendars[i], false);
  }
  const EventList& events = from.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    Event copy = to.CreateNewEvent(e.GetServeId(), e.GetFixedId());
    copy.Copy(e);
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      Calendar calendar = to.FindByFixedId(links[j].GetParentCalendar().GetFixedId(), false);
      copy.AddToCalendar(calendar).Copy(links[j]);
    }
  }
}

// True when the two managers hold the same records (compared on clones, since
// Verify consumes what it matches).
bool SameRecords(const CalendarManager& a, const CalendarManager& b) {
  CalendarManager left = a.Clone();
  CalendarManager right = b.Clone();
  return left.Verify(right);
}

// The bytes of a cache file with an empty manager, a chosen sequence and
// account id.
std::string CacheBytes(uint32_t sequence, const UID128& gid = UID128()) {
  CalendarCache cache;
  while (cache.GetSequence() < sequence) cache.Increment();
  cache.GetCalendarManager().SetGID(gid);
  StringSink sink;
  {
    Archive ar(sink);
    cache.Serialize(ar);
  }
  return sink.contents();
}

const char kDesktopSummary[] = "Home[Dinner Review] Work[Review Standup] | Dinner Review Standup";

class CalendarApiTest : public testing::ApiTest {
 protected:
  CalendarApi MakeApi() const { return BrontelAPI::CreateCalendarApi(m_dir.path(), kRevision); }

  // The settings store the API objects read (the test's own).
  static CRegistry Settings() { return CRegistry(); }

  // Fills manager with the desktop's records: Work and Home, Standup in Work,
  // Dinner in Home, Review in both.
  static void MakeDesktopCopy(CalendarManager manager) {
    Calendar work = NewCalendar(manager, "Work");
    Calendar home = NewCalendar(manager, "Home");
    NewEvent(manager, "Standup", {work});
    NewEvent(manager, "Dinner", {home});
    NewEvent(manager, "Review", {work, home});
  }

  // A desktop synchronization of the desktop copy by an object of its own, so
  // that the directory holds a cache of those records.
  void SeedCache() const {
    CalendarApi desktop = MakeApi();
    MakeDesktopCopy(desktop.GetCalendarManager());
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  }

  CalendarCache ReadCacheFile() const {
    std::string bytes = FileBytes(CalendarApi::kCacheFile);
    CalendarCache cache;
    Archive ar(bytes);
    cache.Serialize(ar);
    return cache;
  }

  CalendarManager ReadShadowFile(const std::string& name) const {
    std::string bytes = FileBytes(name);
    CalendarManager shadow;
    Archive ar(bytes);
    shadow.Serialize(ar);
    return shadow;
  }

  // Writes a cache file of our own, with a chosen sequence and account id.
  void WriteCacheFile(uint32_t sequence, const UID128& gid = UID128()) const {
    WriteFileBytes(Path(CalendarApi::kCacheFile), CacheBytes(sequence, gid));
  }
};

// ---------------------------------------------------------------------------
// The factory

TEST_F(CalendarApiTest, FactoryLogsTheBuildTagWithTheRevisionFirst) {
  CalendarApi api = MakeApi();
  EXPECT_EQ(api.GetDirectory(), m_dir.path());
  ASSERT_GE(api.GetLogList().GetListCount(), 1);
  const LogNode& first = api.GetLogList()[0];
  EXPECT_EQ(first.GetName(), kBuildTag);
  ASSERT_NE(first.GetItem(), nullptr);
  EXPECT_EQ(first.GetItem()->GetDisplayString(), kRevision);
  EXPECT_FALSE(api.IsLogging(-1));
}

TEST_F(CalendarApiTest, TwoObjectsOnOneDirectoryAreIndependent) {
  CalendarApi a = MakeApi();
  CalendarApi b = MakeApi();
  EXPECT_FALSE(a.IsSameHolder(b));
  MakeDesktopCopy(a.GetCalendarManager());
  EXPECT_EQ(b.GetCalendarManager().GetEventList().GetListCount(), 0);
  // Handles share: the manager a hands out is the one it synchronizes.
  CalendarApi alias = a;
  EXPECT_EQ(Summary(alias.GetCalendarManager()), kDesktopSummary);
}

TEST_F(CalendarApiTest, WithLoggingOnConstructionLogsTheSettingsBeforeTheBuildTag) {
  Settings().SetSyncLogging(2);
  Settings().SetSyncPalmAB(0x1F);
  Settings().SetServerSyncUrl("http://sync.example/cal");
  CalendarApi api = MakeApi();
  std::vector<std::string> names;
  for (int32_t i = 0; i < api.GetLogList().GetListCount(); ++i) {
    names.push_back(api.GetLogList()[i].GetName());
  }
  EXPECT_EQ(names, (std::vector<std::string>{"sync settings", "sync url", "sync name", "news url",
                                             "community url", kBuildTag}));
  EXPECT_EQ(api.GetLogList()[0].GetItem()->GetDisplayString(),
            "palmAB=1f markAB=1 palmDB=0 markDB=1");
  EXPECT_EQ(api.GetLogList()[1].GetItem()->GetDisplayString(), "http://sync.example/cal");
}

// ---------------------------------------------------------------------------
// The files each entry point writes

TEST_F(CalendarApiTest, FirstDesktopSyncCreatesTheDirectoryTheCacheAndTheLockOnly) {
  const std::string profile = Path("profile");
  CalendarApi api = BrontelAPI::CreateCalendarApi(profile, kRevision);
  EXPECT_TRUE(api.IsNewDesktop());
  MakeDesktopCopy(api.GetCalendarManager());

  EXPECT_EQ(api.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(api.SyncConflicts(), 0);
  EXPECT_EQ(api.GetConflictCount(), 0);
  EXPECT_FALSE(api.IsNewDesktop());
  std::set<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(profile)) {
    names.insert(entry.path().filename().string());
  }
  EXPECT_EQ(names, (std::set<std::string>{"cache2_m.pfe", "cachecal.lck"}));
  EXPECT_EQ(api.PathOf(CalendarApi::kCacheFile), profile + "/cache2_m.pfe");
}

TEST_F(CalendarApiTest, DesktopSyncPutsTheDesktopRecordsIntoTheCache) {
  CalendarApi api = MakeApi();
  MakeDesktopCopy(api.GetCalendarManager());
  ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
  CalendarCache cache = ReadCacheFile();
  EXPECT_EQ(Summary(cache.GetCalendarManager()), kDesktopSummary);
  EXPECT_TRUE(SameRecords(cache.GetCalendarManager(), api.GetCalendarManager()));
  // Every desktop record now carries the cache id it has in the cache.
  Event standup = FindEvent(api.GetCalendarManager(), "Standup");
  EXPECT_NE(standup.GetCacheId(), 0u);
  EXPECT_EQ(FindEvent(cache.GetCalendarManager(), "Standup").GetCacheId(), standup.GetCacheId());
  EXPECT_EQ(m_dir.Listing(), "cache2_m.pfe cachecal.lck");
}

TEST_F(CalendarApiTest, HandheldSyncsWriteTheCacheAndTheHandheldShadow) {
  struct Case {
    const char* name;
    br_error (CalendarApi::*sync)();
  };
  const Case kCases[] = {{"SyncHandheld", &CalendarApi::SyncHandheld},
                         {"SyncHandheldFirstTime", &CalendarApi::SyncHandheldFirstTime}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    TempDir dir;
    CalendarApi api = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
    MakeDesktopCopy(api.GetCalendarManager());
    ASSERT_EQ((api.*c.sync)(), ERR_NONE);
    EXPECT_EQ(dir.Listing(), "cache2_h.pfl cache2_m.pfe cachecal.lck");

    CalendarApi reader = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
    ASSERT_EQ(reader.SyncHandheldPreloadForFastSync(), ERR_NONE);
    CalendarManager shadow = reader.GetCalendarManager();
    EXPECT_EQ(Summary(shadow), kDesktopSummary);
    std::string bytes = ReadFileOrMissing(dir.File(CalendarApi::kCacheFile));
    CalendarCache cache;
    Archive ar(bytes);
    cache.Serialize(ar);
    EXPECT_TRUE(SameRecords(shadow, cache.GetCalendarManager()));
  }
}

TEST_F(CalendarApiTest, DesktopRecordsReachANewHandheldAsDirtyRecords) {
  SeedCache();
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  CalendarManager records = handheld.GetCalendarManager();
  EXPECT_EQ(Summary(records), kDesktopSummary);
  // The conduit writes the dirty records to the handheld.
  EXPECT_EQ(DirtyRecords(records),
            (std::vector<std::string>{"Dinner", "Home", "Review", "Standup", "Work", "placement",
                                      "placement", "placement", "placement"}));
}

TEST_F(CalendarApiTest, ADesktopDeletionReachesTheHandheld) {
  CalendarApi desktop = MakeApi();
  MakeDesktopCopy(desktop.GetCalendarManager());
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();

  ASSERT_TRUE(FindEvent(desktop.GetCalendarManager(), "Dinner").Remove(true));
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()),
            "Home[Review] Work[Review Standup] | Review Standup");
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()),
            "Home[Review] Work[Review Standup] | Review Standup");
  EXPECT_EQ(handheld.SyncConflicts(), 0);
}

TEST_F(CalendarApiTest, DifferentEditsOnBothSidesAreCountedAsAConflict) {
  CalendarApi desktop = MakeApi();
  MakeDesktopCopy(desktop.GetCalendarManager());
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();

  FindEvent(desktop.GetCalendarManager(), "Dinner").GetEventDescriptor().SetNote("at eight");
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  FindEvent(handheld.GetCalendarManager(), "Dinner").GetEventDescriptor().SetNote("at nine");
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 1);
  EXPECT_EQ(handheld.GetConflictCount(), 1);
  EXPECT_TRUE(FindEvent(handheld.GetCalendarManager(), "Dinner").IsConflicted());
  // The count is that of the last synchronization only.
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(desktop.SyncConflicts(), 0);
}

TEST_F(CalendarApiTest, AccountMismatchIsReportedAndTheCacheStillWritten) {
  WriteCacheFile(0x30, Gid(0x10));
  CalendarApi api = MakeApi();
  MakeDesktopCopy(api.GetCalendarManager());
  api.GetCalendarManager().SetGID(Gid(0x50));

  EXPECT_EQ(api.SyncDesktop(), ERR_CONFLICTING_ACCOUNTS);
  EXPECT_EQ(api.GetErrorMessage(), "Conflicting user accounts encountered.");
  CalendarCache cache = ReadCacheFile();
  EXPECT_EQ(cache.GetSequence(), 0x31u);
  EXPECT_EQ(cache.GetCalendarManager().GetGID(), Gid(0x10));
  EXPECT_EQ(Summary(cache.GetCalendarManager()), "|");
  EXPECT_EQ(api.GetGID(), Gid(0x50));
}

// ---------------------------------------------------------------------------
// Desktop overrides handheld, and the preload

TEST_F(CalendarApiTest, DesktopOverrideGivesACleanCopyOfTheCacheToCallerAndShadow) {
  SeedCache();
  const std::string cacheBytes = FileBytes(CalendarApi::kCacheFile);
  CalendarApi handheld = MakeApi();
  NewEvent(handheld.GetCalendarManager(), "Stray");

  EXPECT_EQ(handheld.SyncDesktopOverideHandheld(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 0);
  CalendarManager records = handheld.GetCalendarManager();
  CalendarManager cached = ReadCacheFile().GetCalendarManager();
  EXPECT_EQ(Summary(records), kDesktopSummary);
  EXPECT_TRUE(SameRecords(records, cached));
  EXPECT_EQ(DirtyRecords(records), std::vector<std::string>{});
  EXPECT_FALSE(records.IsSameHolder(cached));
  // The shadow file holds the same records; the cache file is not written.
  EXPECT_TRUE(SameRecords(ReadShadowFile(CalendarApi::kHandheldShadowFile), cached));
  EXPECT_EQ(FileBytes(CalendarApi::kCacheFile), cacheBytes);
}

TEST_F(CalendarApiTest, AfterDesktopOverrideAHandheldDeletionIsNotUndone) {
  SeedCache();
  CalendarApi handheld = MakeApi();
  // A shadow loaded earlier must not survive the override.
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  {
    CalendarApi desktop = MakeApi();
    ASSERT_EQ(desktop.SyncDesktopOverideHandheld(), ERR_NONE);
    NewEvent(desktop.GetCalendarManager(), "Lunch",
             {FindCalendar(desktop.GetCalendarManager(), "Home")});
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  }
  ASSERT_EQ(handheld.SyncDesktopOverideHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()),
            "Home[Dinner Lunch Review] Work[Review Standup] | Dinner Lunch Review Standup");

  // The user deletes Lunch on the handheld; the caller's record goes, the
  // shadow kept apart still has it.
  ASSERT_TRUE(FindEvent(handheld.GetCalendarManager(), "Lunch").Remove(true));
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 0);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kDesktopSummary);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kDesktopSummary);
}

TEST_F(CalendarApiTest, PreloadGivesTheCallerACleanCopyOfTheHandheldShadow) {
  CalendarApi empty = MakeApi();
  EXPECT_EQ(empty.SyncHandheldPreloadForFastSync(), ERR_NONE);
  EXPECT_EQ(Summary(empty.GetCalendarManager()), "|");
  EXPECT_EQ(m_dir.Listing(), "");  // no lock taken, nothing written

  CalendarApi first = MakeApi();
  MakeDesktopCopy(first.GetCalendarManager());
  ASSERT_EQ(first.SyncHandheldFirstTime(), ERR_NONE);
  const auto before = Snapshot();

  CalendarApi api = MakeApi();
  ASSERT_EQ(api.SyncHandheldPreloadForFastSync(), ERR_NONE);
  EXPECT_EQ(Summary(api.GetCalendarManager()), kDesktopSummary);
  EXPECT_EQ(DirtyRecords(api.GetCalendarManager()), std::vector<std::string>{});
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CalendarApiTest, AHandheldSyncAfterAPreloadWithoutShadowDeletesNothing) {
  // The preload finds no shadow file: the handheld's records start empty, and
  // so does the reference they are compared with. A shadow file that appears
  // before the conduit's SyncHandheld belongs to records this object never had;
  // taking it would make every record of it look deleted on the handheld.
  const std::pair<const char*, std::function<br_error(CalendarApi&)>> kWritersOfAShadow[] = {
      {"no other run", [](CalendarApi&) { return ERR_NONE; }},
      {"another conduit run", [](CalendarApi& api) { return api.SyncHandheldFirstTime(); }},
      {"the desktop's override", [](CalendarApi& api) { return api.SyncDesktopOverideHandheld(); }},
  };
  for (const auto& [who, writeShadow] : kWritersOfAShadow) {
    SCOPED_TRACE(who);
    testing::TempDir dir;
    CalendarApi desktop = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
    MakeDesktopCopy(desktop.GetCalendarManager());
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);

    CalendarApi handheld = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
    ASSERT_EQ(handheld.SyncHandheldPreloadForFastSync(), ERR_NONE);
    CalendarApi other = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
    ASSERT_EQ(writeShadow(other), ERR_NONE);

    CalendarManager records = handheld.GetCalendarManager();
    NewEvent(records, "Gym", {NewCalendar(records, "Travel")});
    ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
    CalendarCache cache;
    const std::string bytes = ReadFileOrMissing(dir.File(CalendarApi::kCacheFile));
    Archive ar(bytes);
    cache.Serialize(ar);
    EXPECT_EQ(Summary(cache.GetCalendarManager()),
              "Home[Dinner Review] Travel[Gym] Work[Review Standup] | Dinner Gym Review Standup");
  }
}

// ---------------------------------------------------------------------------
// Handheld overrides desktop

TEST_F(CalendarApiTest, HandheldOverrideBacksUpTheCacheUnderTheFirstFreeNumber) {
  struct Case {
    std::vector<int> present;  // backups there before
    int written;               // the one that receives the cache
  };
  const Case kCases[] = {
      {{}, 0},
      {{0}, 1},
      {{0, 1, 2}, 3},
      {{1, 2}, 0},
      {{0, 1, 2, 3, 4, 5, 6, 7, 8}, 9},
      // With every number taken, 9 is overwritten.
      {{0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 9},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "backup written: " << c.written);
    TempDir dir;
    {
      CalendarApi desktop = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
      MakeDesktopCopy(desktop.GetCalendarManager());
      ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
    }
    const std::string cacheBytes = ReadFileOrMissing(dir.File(CalendarApi::kCacheFile));
    auto backup = [&](int n) { return dir.File("cache2_m" + std::to_string(n) + ".bak"); };
    for (int n : c.present) WriteFileBytes(backup(n), "old backup " + std::to_string(n));

    CalendarApi handheld = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
    ASSERT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
    for (int n = 0; n <= 9; ++n) {
      SCOPED_TRACE(n);
      bool present = std::find(c.present.begin(), c.present.end(), n) != c.present.end();
      std::string expected = n == c.written ? cacheBytes
                             : present      ? "old backup " + std::to_string(n)
                                            : kMissing;
      EXPECT_EQ(ReadFileOrMissing(backup(n)), expected);
    }
  }
}

TEST_F(CalendarApiTest, HandheldOverrideDiscardsCacheAndShadowsAndRebuildsFromTheHandheld) {
  SeedCache();
  WriteFileBytes(Path(CalendarApi::kServerShadowFile), "server shadow");
  CalendarApi handheld = MakeApi();
  Calendar personal = NewCalendar(handheld.GetCalendarManager(), "Personal");
  NewEvent(handheld.GetCalendarManager(), "Gym", {personal});

  ASSERT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
  EXPECT_EQ(m_dir.Listing(), "cache2_h.pfl cache2_m.pfe cache2_m0.bak cachecal.lck");
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), "Personal[Gym] | Gym");
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), "Personal[Gym] | Gym");
  EXPECT_TRUE(SameRecords(ReadShadowFile(CalendarApi::kHandheldShadowFile),
                          ReadCacheFile().GetCalendarManager()));
}

TEST_F(CalendarApiTest, HandheldOverrideWithoutACacheMakesNoBackup) {
  CalendarApi handheld = MakeApi();
  MakeDesktopCopy(handheld.GetCalendarManager());
  ASSERT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
  EXPECT_EQ(m_dir.Listing(), "cache2_h.pfl cache2_m.pfe cachecal.lck");
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kDesktopSummary);
}

TEST_F(CalendarApiTest, HandheldOverrideAfterAHandheldSyncKeepsEveryHandheldRecord) {
  SeedCache();
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();
  NewEvent(handheld.GetCalendarManager(), "Gym",
           {FindCalendar(handheld.GetCalendarManager(), "Home")});
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();
  const std::string kAll =
      "Home[Dinner Gym Review] Work[Review Standup] | Dinner Gym Review Standup";
  ASSERT_EQ(Summary(handheld.GetCalendarManager()), kAll);

  EXPECT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 0);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kAll);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kAll);
  EXPECT_TRUE(SameRecords(ReadShadowFile(CalendarApi::kHandheldShadowFile),
                          ReadCacheFile().GetCalendarManager()));
  // A second handheld pass finds nothing to change.
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kAll);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kAll);
}

TEST_F(CalendarApiTest, HandheldOverrideThatCannotBackUpDiscardsNothing) {
  SeedCache();
  const auto before = Snapshot();
  CalendarApi handheld = MakeApi();
  NewEvent(handheld.GetCalendarManager(), "Gym");
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRename, 1, /*persistent=*/true);
    EXPECT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_WRITE_FAILED);
  }
  EXPECT_EQ(handheld.GetErrorMessage(), "Unable to write file " + Path("cache2_m9.bak"));
  EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------------------------
// Account ids

TEST_F(CalendarApiTest, SetGidAcceptsAnIdOnlyWhereTheCacheHasNoneOrTheSame) {
  struct Case {
    const char* name;
    std::optional<uint8_t> cached;  // the cache's id (seed), none when empty
    std::optional<uint8_t> given;   // the id passed, empty when none
    bool accepted;
    std::optional<uint8_t> after;  // the id of the caller and the cache afterwards
  };
  const Case kCases[] = {
      {"empty id, cache without id", std::nullopt, std::nullopt, false, std::nullopt},
      {"new id, cache without id", std::nullopt, 0x20, true, 0x20},
      {"other id, cache with id", 0x40, 0x20, false, 0x40},
      {"same id, cache with id", 0x40, 0x40, true, 0x40},
      {"empty id, cache with id", 0x40, std::nullopt, true, 0x40},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    WriteCacheFile(0x100, c.cached ? Gid(*c.cached) : UID128());
    // The contact cache that an earlier case gave its id starts anew: one
    // holding another account would make SetGID report false as well.
    std::filesystem::remove(Path(CategoryApi::kCacheFile));
    CalendarApi api = MakeApi();
    const UID128 expected = c.after ? Gid(*c.after) : UID128();

    EXPECT_EQ(api.SetGID(c.given ? Gid(*c.given) : UID128()), c.accepted);
    EXPECT_EQ(api.GetGID(), expected);
    EXPECT_EQ(api.HasGID(), c.after.has_value());
    CalendarCache cache = ReadCacheFile();
    EXPECT_EQ(cache.GetCalendarManager().GetGID(), expected);
    EXPECT_EQ(cache.GetSequence(), 0x101u);
  }
}

TEST_F(CalendarApiTest, HasCacheGidTakesTheCachesId) {
  CalendarApi none = MakeApi();
  EXPECT_FALSE(none.HasCacheGID());

  WriteCacheFile(7, Gid(0x60));
  CalendarApi api = MakeApi();
  EXPECT_FALSE(api.HasGID());
  EXPECT_TRUE(api.HasCacheGID());
  EXPECT_EQ(api.GetGID(), Gid(0x60));
}

TEST_F(CalendarApiTest, UpdateGidStoresTheIdInTheCache) {
  SeedCache();
  CalendarApi api = MakeApi();
  api.updateGID(Gid(0x70));
  CalendarCache cache = ReadCacheFile();
  EXPECT_EQ(cache.GetCalendarManager().GetGID(), Gid(0x70));
  EXPECT_EQ(Summary(cache.GetCalendarManager()), kDesktopSummary);
  EXPECT_FALSE(api.HasGID());  // only the cache takes it
}

// ---------------------------------------------------------------------------
// Logging switched on in the settings store

TEST_F(CalendarApiTest, LoggingMaskComesFromTheSettingsStore) {
  struct Case {
    int32_t stored;
    bool any, records, everyWrite, high;  // bits -1, 2, 8, 0x80
  };
  const Case kCases[] = {
      {0, false, false, false, false},
      {1, true, true, false, true},  // 1 switches on 0xF7: all but bit 3
      {2, true, true, false, false},
      {2 | 8, true, true, true, false},
      {8, true, false, true, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "SyncLogging " << c.stored);
    Settings().SetSyncLogging(c.stored);
    CalendarApi api = MakeApi();
    EXPECT_EQ(api.IsLogging(-1), c.any);
    EXPECT_EQ(api.IsLogging(2), c.records);
    EXPECT_EQ(api.IsLogging(8), c.everyWrite);
    EXPECT_EQ(api.IsLogging(0x80), c.high);
    EXPECT_FALSE(api.IsLogging(0x100));
  }
}

TEST_F(CalendarApiTest, EverySyncReadsTheLoggingSwitchesAgain) {
  CalendarApi api = MakeApi();
  EXPECT_FALSE(api.IsLogging(2));
  Settings().SetSyncLogging(2);
  ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
  EXPECT_TRUE(api.IsLogging(2));
}

TEST_F(CalendarApiTest, SyncLogFilesAreNamedAfterTheSequenceAndTheSide) {
  struct Case {
    int32_t stored;
    bool handheld;
    std::vector<std::string> afterSync, afterEnd;  // sync log files
  };
  const Case kCases[] = {
      {2 | 8, false, {"slog001a_desk.pff"}, {"slog001a_desk.pff", "slog001a_desk_end.pff"}},
      {2 | 8, true, {"slog001a_palm.pff"}, {"slog001a_palm.pff", "slog001a_palm_end.pff"}},
      // Mask 1 leaves bit 8 off: no log per cache write, only the last one.
      {1, false, {}, {"slog001a_desk_end.pff"}},
      {8, false, {}, {}},
      {0, false, {}, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "SyncLogging " << c.stored << " handheld " << c.handheld);
    TempDir dir;
    auto logs = [&] {
      std::vector<std::string> names;
      for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        std::string name = entry.path().filename().string();
        if (name.rfind("slog", 0) == 0) names.push_back(name);
      }
      std::sort(names.begin(), names.end());
      return names;
    };
    Settings().SetSyncLogging(c.stored);
    {
      // The cache file says 0x19; reading it advances the sequence to 0x1A,
      // the sequence of the cache this synchronization writes.
      WriteFileBytes(dir.File(CalendarApi::kCacheFile), CacheBytes(0x19));
      CalendarApi api = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
      ASSERT_EQ(c.handheld ? api.SyncHandheld() : api.SyncDesktop(), ERR_NONE);
      std::string bytes = ReadFileOrMissing(dir.File(CalendarApi::kCacheFile));
      CalendarCache written;
      Archive ar(bytes);
      written.Serialize(ar);
      EXPECT_EQ(written.GetSequence(), 0x1Au);
      EXPECT_EQ(logs(), c.afterSync);
    }
    EXPECT_EQ(logs(), c.afterEnd);
  }
}

TEST_F(CalendarApiTest, ASyncLogFileHoldsTheObjectsLog) {
  Settings().SetSyncLogging(2 | 8);
  WriteCacheFile(0x19);
  CalendarApi api = MakeApi();
  MakeDesktopCopy(api.GetCalendarManager());
  ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
  std::unique_ptr<LogNode> node;
  // The records took cache ids, so the sequence moved on past 0x1A.
  char name[32];
  std::snprintf(name, sizeof name, "slog%.4x_desk.pff", ReadCacheFile().GetSequence());
  EXPECT_GT(ReadCacheFile().GetSequence(), 0x1Au);
  ReadResult read = ReadLogFile(Path(name), &node);
  ASSERT_TRUE(read.ok()) << read.message;
  EXPECT_EQ(node->GetName(), "CalendarApi log");
  // `brontel show` shows it.
  TextTree tree;
  ReadResult shown = DisplayStoredFile(Path(name), tree);
  EXPECT_TRUE(shown.ok()) << shown.message;
  std::vector<std::string> names;
  for (int32_t i = 0; i < api.GetLogList().GetListCount(); ++i) {
    names.push_back(api.GetLogList()[i].GetName());
  }
  EXPECT_NE(std::find(names.begin(), names.end(), "desktop transaction before"), names.end());
  EXPECT_NE(std::find(names.begin(), names.end(), "desktop transaction after"), names.end());
}

TEST_F(CalendarApiTest, TimeLoggingWritesTimeLogTxt) {
  struct Case {
    int32_t stored;
    bool written;
  };
  const Case kCases[] = {{0, false}, {1, true}, {2, true}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "TimeLogging " << c.stored);
    TempDir dir;
    Settings().SetTimeLogging(c.stored);
    {
      CalendarApi api = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
      ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
    }
    std::string log = ReadFileOrMissing(dir.File("time_log.txt"));
    EXPECT_EQ(log != kMissing, c.written);
    if (c.written) {
      EXPECT_NE(log.find("SyncDesktop"), std::string::npos) << log;
    }
  }
}

// ---------------------------------------------------------------------------
// The lock

TEST_F(CalendarApiTest, LockIsReleasedAfterEveryEntryPoint) {
  CalendarApi api = MakeApi();
  const std::function<void()> kEntryPoints[] = {
      [&] { api.SyncDesktop(); },
      [&] { api.SyncHandheld(); },
      [&] { api.SyncHandheldFirstTime(); },
      [&] { api.SyncDesktopOverideHandheld(); },
      [&] { api.SyncHandheldOverideDesktop(); },
      [&] { api.SetGID(Gid(1)); },
      [&] { api.updateGID(Gid(1)); },
      [&] {
        CalendarApi fresh = MakeApi();
        fresh.HasCacheGID();
      },
  };
  int index = 0;
  for (const auto& entryPoint : kEntryPoints) {
    SCOPED_TRACE(index++);
    entryPoint();
    FileLock lock(Path(CalendarApi::kLockFile));
    EXPECT_TRUE(lock.TryAcquireFor(std::chrono::milliseconds(0)));
  }
}

TEST_F(CalendarApiTest, AnEntryPointWaitsWhileAnotherProcessHoldsTheLock) {
  // The child takes the lock on a profile directory that does not exist yet,
  // says so through a pipe, and before releasing records whether the cache file
  // existed; the parent's synchronization must come after the release.
  const std::string profile = Path("profile");
  const std::string marker = Path("child.txt");
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::close(ready[0]);
    std::filesystem::create_directory(profile);
    FileLock lock(profile + "/" + CalendarApi::kLockFile);
    if (!lock.Acquire()) ::_exit(2);
    if (::write(ready[1], "x", 1) != 1) ::_exit(3);
    ::usleep(300 * 1000);  // room for the parent to reach the lock
    bool cacheThere = std::filesystem::exists(profile + "/" + CalendarApi::kCacheFile);
    WriteFileBytes(marker, cacheThere ? "cache written under my lock" : "released");
    lock.Release();
    ::_exit(0);
  }
  ::close(ready[1]);
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::close(ready[0]);

  CalendarApi api = BrontelAPI::CreateCalendarApi(profile, kRevision);
  MakeDesktopCopy(api.GetCalendarManager());
  EXPECT_EQ(api.SyncDesktop(), ERR_NONE);
  // Returning means the child released the lock, so its marker is there.
  EXPECT_EQ(ReadFileOrMissing(marker), "released");
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(std::filesystem::exists(profile + "/" + CalendarApi::kCacheFile));
}

// ---------------------------------------------------------------------------
// Damaged files

// Ways to spoil a stored file, as functions of its bytes.
struct Damage {
  const char* name;
  std::function<std::string(const std::string&)> apply;
};

std::vector<Damage> Damages() {
  return {
      {"empty", [](const std::string&) { return std::string(); }},
      {"one byte", [](const std::string& b) { return b.substr(0, 1); }},
      {"class record cut", [](const std::string& b) { return b.substr(0, 8); }},
      {"half", [](const std::string& b) { return b.substr(0, b.size() / 2); }},
      {"last byte missing", [](const std::string& b) { return b.substr(0, b.size() - 1); }},
      {"unknown class",
       [](const std::string& b) {
         std::string d = b;
         d[6] = 'X';  // first letter of the class name
         return d;
       }},
      {"null object", [](const std::string&) { return std::string("\0\0", 2); }},
      {"count out of range",
       [](const std::string& b) {
         std::string d = b;
         size_t at = d.find("CalendarManagerHolder");
         if (at != std::string::npos) at += 21;  // the event count follows the name
         if (at == std::string::npos) at = 6 + 21;
         d[at + 3] = '\x7F';
         return d;
       }},
  };
}

TEST_F(CalendarApiTest, ADamagedCacheStopsEveryEntryPointBeforeAnythingChanges) {
  struct EntryPoint {
    const char* name;
    std::function<br_error(CalendarApi&)> run;
  };
  const EntryPoint kEntryPoints[] = {
      {"SyncDesktop", [](CalendarApi& a) { return a.SyncDesktop(); }},
      {"SyncHandheld", [](CalendarApi& a) { return a.SyncHandheld(); }},
      {"SyncHandheldFirstTime", [](CalendarApi& a) { return a.SyncHandheldFirstTime(); }},
      {"SyncDesktopOverideHandheld", [](CalendarApi& a) { return a.SyncDesktopOverideHandheld(); }},
      {"SetGID", [](CalendarApi& a) { return a.SetGID(Gid(3)) ? ERR_NONE : ERR_DAMAGED_FILE; }},
      {"HasCacheGID", [](CalendarApi& a) { return a.HasCacheGID() ? ERR_NONE : ERR_DAMAGED_FILE; }},
  };
  CalendarApi first = MakeApi();
  MakeDesktopCopy(first.GetCalendarManager());
  ASSERT_EQ(first.SyncHandheldFirstTime(), ERR_NONE);
  const std::string good = FileBytes(CalendarApi::kCacheFile);

  for (const Damage& damage : Damages()) {
    for (const EntryPoint& entry : kEntryPoints) {
      SCOPED_TRACE(::testing::Message() << damage.name << ", " << entry.name);
      WriteFileBytes(Path(CalendarApi::kCacheFile), damage.apply(good));
      const auto before = Snapshot();
      CalendarApi api = MakeApi();
      NewEvent(api.GetCalendarManager(), "Mine");
      EXPECT_EQ(entry.run(api), ERR_DAMAGED_FILE);
      EXPECT_EQ(api.GetErrorMessage(), "Damaged file " + Path(CalendarApi::kCacheFile));
      EXPECT_EQ(Snapshot(), before);
      EXPECT_EQ(Summary(api.GetCalendarManager()), "| Mine");
      EXPECT_FALSE(api.HasGID());
    }
  }
  // updateGID reports nothing, but must leave the damaged file alone too.
  WriteFileBytes(Path(CalendarApi::kCacheFile), good.substr(0, good.size() / 2));
  const auto before = Snapshot();
  CalendarApi api = MakeApi();
  api.updateGID(Gid(9));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CalendarApiTest, ADamagedHandheldShadowStopsTheHandheldEntryPoints) {
  CalendarApi first = MakeApi();
  MakeDesktopCopy(first.GetCalendarManager());
  ASSERT_EQ(first.SyncHandheldFirstTime(), ERR_NONE);
  const std::string good = FileBytes(CalendarApi::kHandheldShadowFile);
  const std::string shadowPath = Path(CalendarApi::kHandheldShadowFile);

  for (const Damage& damage : Damages()) {
    SCOPED_TRACE(damage.name);
    WriteFileBytes(shadowPath, damage.apply(good));
    const auto before = Snapshot();

    CalendarApi handheld = MakeApi();
    NewEvent(handheld.GetCalendarManager(), "Mine");
    EXPECT_EQ(handheld.SyncHandheld(), ERR_DAMAGED_FILE);
    EXPECT_EQ(handheld.GetErrorMessage(), "Damaged file " + shadowPath);
    EXPECT_EQ(Snapshot(), before);
    EXPECT_EQ(Summary(handheld.GetCalendarManager()), "| Mine");

    CalendarApi preload = MakeApi();
    NewEvent(preload.GetCalendarManager(), "Mine");
    EXPECT_EQ(preload.SyncHandheldPreloadForFastSync(), ERR_DAMAGED_FILE);
    EXPECT_EQ(preload.GetErrorMessage(), "Damaged file " + shadowPath);
    EXPECT_EQ(Summary(preload.GetCalendarManager()), "| Mine");
    EXPECT_EQ(Snapshot(), before);

    // The desktop does not read the handheld shadow.
    CalendarApi desktop = MakeApi();
    EXPECT_EQ(desktop.SyncDesktop(), ERR_NONE);
    EXPECT_EQ(FileBytes(CalendarApi::kHandheldShadowFile), before.at("cache2_h.pfl"));
  }
}

TEST_F(CalendarApiTest, AfterADamagedCacheTheShadowInMemoryIsAsItWas) {
  // The handheld deletes Dinner; a first-time pass that fails on the damaged
  // cache must not have dropped the shadow that proves Dinner was synchronized.
  CalendarApi handheld = MakeApi();
  MakeDesktopCopy(handheld.GetCalendarManager());
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();
  ASSERT_TRUE(FindEvent(handheld.GetCalendarManager(), "Dinner").Remove(true));

  const std::string good = FileBytes(CalendarApi::kCacheFile);
  CorruptFile(CalendarApi::kCacheFile, good.size() / 2);
  EXPECT_EQ(handheld.SyncHandheldFirstTime(), ERR_DAMAGED_FILE);
  EXPECT_EQ(handheld.SyncHandheld(), ERR_DAMAGED_FILE);
  WriteFileBytes(Path(CalendarApi::kCacheFile), good);

  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 0);
  const std::string kWithoutDinner = "Home[Review] Work[Review Standup] | Review Standup";
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kWithoutDinner);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kWithoutDinner);
}

TEST_F(CalendarApiTest, AFileOfAnotherClassIsDamaged) {
  // A shadow file where the cache should be, and the reverse.
  SeedCache();
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  const std::string cache = FileBytes(CalendarApi::kCacheFile);
  const std::string shadow = FileBytes(CalendarApi::kHandheldShadowFile);

  WriteFileBytes(Path(CalendarApi::kCacheFile), shadow);
  CalendarApi a = MakeApi();
  EXPECT_EQ(a.SyncDesktop(), ERR_DAMAGED_FILE);
  EXPECT_EQ(FileBytes(CalendarApi::kCacheFile), shadow);

  WriteFileBytes(Path(CalendarApi::kCacheFile), cache);
  WriteFileBytes(Path(CalendarApi::kHandheldShadowFile), cache);
  CalendarApi b = MakeApi();
  EXPECT_EQ(b.SyncHandheld(), ERR_DAMAGED_FILE);
  EXPECT_EQ(b.GetErrorMessage(), "Damaged file " + Path(CalendarApi::kHandheldShadowFile));
  EXPECT_EQ(FileBytes(CalendarApi::kCacheFile), cache);
}

// ---------------------------------------------------------------------------
// Cache writes that fail

TEST_F(CalendarApiTest, AFailedCacheWriteIsReportedAndChangesNoFile) {
  struct Case {
    const char* name;
    FaultyFileSystem::Op op;
  };
  const Case kCases[] = {{"write", FaultyFileSystem::Op::kWrite},
                         {"fsync", FaultyFileSystem::Op::kFsync},
                         {"rename", FaultyFileSystem::Op::kRename}};
  for (const Case& c : kCases) {
    for (bool handheld : {false, true}) {
      SCOPED_TRACE(::testing::Message() << c.name << (handheld ? " handheld" : " desktop"));
      TempDir dir;
      CalendarApi first = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
      MakeDesktopCopy(first.GetCalendarManager());
      ASSERT_EQ(first.SyncHandheldFirstTime(), ERR_NONE);
      std::map<std::string, std::string> before;
      for (const char* name : {CalendarApi::kCacheFile, CalendarApi::kHandheldShadowFile}) {
        before[name] = ReadFileOrMissing(dir.File(name));
      }

      CalendarApi api = BrontelAPI::CreateCalendarApi(dir.path(), kRevision);
      NewEvent(api.GetCalendarManager(), "Gym");
      br_error result;
      {
        FaultyFileSystem faulty;
        faulty.FailNth(c.op, 1);
        result = handheld ? api.SyncHandheld() : api.SyncDesktop();
      }
      EXPECT_EQ(result, ERR_WRITE_FAILED);
      EXPECT_EQ(api.GetErrorMessage(), "Unable to write file " + dir.File("cache2_m.pfe"));
      for (const auto& [name, bytes] : before) {
        EXPECT_EQ(ReadFileOrMissing(dir.File(name)), bytes) << name;
      }
      EXPECT_EQ(dir.Listing(), "cache2_h.pfl cache2_m.pfe cachecal.lck");  // no temporary file
    }
  }
}

TEST_F(CalendarApiTest, AfterAFailedCacheWriteTheNextHandheldSyncLosesNothing) {
  // The next pass runs on the same object (shadow in memory) or, as the next
  // conduit run, on a new one given the handheld's records (shadow from disk).
  for (bool newObject : {false, true}) {
    SCOPED_TRACE(newObject ? "new object" : "same object");
    for (const auto& entry : std::filesystem::directory_iterator(m_dir.path())) {
      std::filesystem::remove(entry.path());
    }
    CalendarApi handheld = MakeApi();
    MakeDesktopCopy(handheld.GetCalendarManager());
    ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
    handheld.GetCalendarManager().SetClean();
    const std::string shadowBytes = FileBytes(CalendarApi::kHandheldShadowFile);

    // On the handheld: Gym is new, Dinner deleted, Standup changed.
    CalendarManager records = handheld.GetCalendarManager();
    NewEvent(records, "Gym", {FindCalendar(records, "Home")});
    ASSERT_TRUE(FindEvent(records, "Dinner").Remove(true));
    FindEvent(records, "Standup").GetEventDescriptor().SetNote("room 4");
    {
      FaultyFileSystem faulty;
      faulty.FailNth(FaultyFileSystem::Op::kRename, 1);
      ASSERT_EQ(handheld.SyncHandheld(), ERR_WRITE_FAILED);
    }
    EXPECT_EQ(FileBytes(CalendarApi::kHandheldShadowFile), shadowBytes);

    CalendarApi next = handheld;
    if (newObject) {
      next = MakeApi();
      CopyRecords(records, next.GetCalendarManager());
    }
    ASSERT_EQ(next.SyncHandheld(), ERR_NONE);
    EXPECT_EQ(next.SyncConflicts(), 0);
    const std::string kExpected = "Home[Gym Review] Work[Review Standup] | Gym Review Standup";
    EXPECT_EQ(Summary(next.GetCalendarManager()), kExpected);
    CalendarManager cached = ReadCacheFile().GetCalendarManager();
    EXPECT_EQ(Summary(cached), kExpected);
    EXPECT_EQ(FindEvent(cached, "Standup").GetEventDescriptor().GetNote(), "room 4");
    EXPECT_TRUE(SameRecords(ReadShadowFile(CalendarApi::kHandheldShadowFile), cached));

    // A later pass from the files finds nothing more to do.
    CalendarApi later = MakeApi();
    ASSERT_EQ(later.SyncHandheldPreloadForFastSync(), ERR_NONE);
    ASSERT_EQ(later.SyncHandheld(), ERR_NONE);
    EXPECT_EQ(Summary(later.GetCalendarManager()), kExpected);
    EXPECT_EQ(later.SyncConflicts(), 0);
  }
}

TEST_F(CalendarApiTest, AFirstTimePassWhoseCacheWriteFailsKeepsTheShadowInMemory) {
  // The preload shows the shadow the object holds: after the failed pass it
  // must still be the one on disk, which the pass did not change.
  CalendarApi handheld = MakeApi();
  MakeDesktopCopy(handheld.GetCalendarManager());
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRename, 1);
    ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_WRITE_FAILED);
  }
  ASSERT_EQ(handheld.SyncHandheldPreloadForFastSync(), ERR_NONE);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kDesktopSummary);
  EXPECT_TRUE(
      SameRecords(handheld.GetCalendarManager(), ReadShadowFile(CalendarApi::kHandheldShadowFile)));
}

TEST_F(CalendarApiTest, IdsFromACacheThatWasNotWrittenAreNotGivenToOtherRecords) {
  // The handheld's pass fails to write the cache; the desktop then synchronizes
  // a new event of its own; the handheld's next pass must not take the two new
  // events for one record.
  SeedCache();
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();
  NewEvent(handheld.GetCalendarManager(), "Gym",
           {FindCalendar(handheld.GetCalendarManager(), "Home")});
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRename, 1);
    ASSERT_EQ(handheld.SyncHandheld(), ERR_WRITE_FAILED);
  }
  {
    CalendarApi desktop = MakeApi();
    ASSERT_EQ(desktop.SyncDesktopOverideHandheld(), ERR_NONE);  // the desktop's records
    NewEvent(desktop.GetCalendarManager(), "Swim",
             {FindCalendar(desktop.GetCalendarManager(), "Work")});
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  }
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 0);
  const std::string kBoth =
      "Home[Dinner Gym Review] Work[Review Standup Swim] | Dinner Gym Review Standup Swim";
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kBoth);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kBoth);
}

TEST_F(CalendarApiTest, AfterAFailedCacheWriteTheNextDesktopSyncLosesNothing) {
  CalendarApi desktop = MakeApi();
  MakeDesktopCopy(desktop.GetCalendarManager());
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  CalendarManager records = desktop.GetCalendarManager();
  NewEvent(records, "Gym", {FindCalendar(records, "Home")});
  NewCalendar(records, "Club");
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRename, 1);
    ASSERT_EQ(desktop.SyncDesktop(), ERR_WRITE_FAILED);
  }
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kDesktopSummary);

  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(desktop.SyncConflicts(), 0);
  const std::string kExpected =
      "Club[] Home[Dinner Gym Review] Work[Review Standup] | Dinner Gym Review Standup";
  EXPECT_EQ(Summary(desktop.GetCalendarManager()), kExpected);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kExpected);

  // The handheld that joins now sees all of it.
  CalendarApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  EXPECT_EQ(Summary(handheld.GetCalendarManager()), kExpected);
}

TEST_F(CalendarApiTest, ASetGidWhoseCacheWriteFailsIsNotAccepted) {
  WriteCacheFile(0x10);
  const std::string before = FileBytes(CalendarApi::kCacheFile);
  CalendarApi api = MakeApi();
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRename, 1);
    EXPECT_FALSE(api.SetGID(Gid(0x20)));
  }
  EXPECT_EQ(FileBytes(CalendarApi::kCacheFile), before);
  EXPECT_EQ(api.GetErrorMessage(), "Unable to write file " + Path(CalendarApi::kCacheFile));
  // The id the cache does not hold is not the caller's either.
  EXPECT_FALSE(api.HasGID());
}

TEST_F(CalendarApiTest, AFailedShadowWriteIsReportedAndTheNextSyncLosesNothing) {
  CalendarApi handheld = MakeApi();
  MakeDesktopCopy(handheld.GetCalendarManager());
  ASSERT_EQ(handheld.SyncHandheldFirstTime(), ERR_NONE);
  handheld.GetCalendarManager().SetClean();
  const std::string shadowBytes = FileBytes(CalendarApi::kHandheldShadowFile);
  CalendarManager records = handheld.GetCalendarManager();
  NewEvent(records, "Gym", {FindCalendar(records, "Home")});
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRename, 2);  // the cache is the first
    ASSERT_EQ(handheld.SyncHandheld(), ERR_WRITE_FAILED);
  }
  EXPECT_EQ(handheld.GetErrorMessage(),
            "Unable to write file " + Path(CalendarApi::kHandheldShadowFile));
  EXPECT_EQ(FileBytes(CalendarApi::kHandheldShadowFile), shadowBytes);
  const std::string kExpected =
      "Home[Dinner Gym Review] Work[Review Standup] | Dinner Gym Review Standup";
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kExpected);

  // The next conduit run, a new object, reads the older shadow from disk.
  CalendarApi next = MakeApi();
  CopyRecords(records, next.GetCalendarManager());
  ASSERT_EQ(next.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(next.SyncConflicts(), 0);
  EXPECT_EQ(Summary(next.GetCalendarManager()), kExpected);
  EXPECT_EQ(Summary(ReadCacheFile().GetCalendarManager()), kExpected);
}

TEST_F(CalendarApiTest, ACacheThatCannotBeReadIsDamaged) {
  SeedCache();
  const auto before = Snapshot();
  CalendarApi api = MakeApi();
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kRead, 1, /*persistent=*/true);
    EXPECT_EQ(api.SyncDesktop(), ERR_DAMAGED_FILE);
  }
  EXPECT_EQ(api.GetErrorMessage(), "Damaged file " + Path(CalendarApi::kCacheFile));
  EXPECT_EQ(Snapshot(), before);
}

// ---------------------------------------------------------------------------
// Clone

TEST_F(CalendarApiTest, CloneCopiesTheManagersApart) {
  CalendarApi api = MakeApi();
  MakeDesktopCopy(api.GetCalendarManager());
  ASSERT_EQ(api.SyncHandheld(), ERR_NONE);
  CalendarApi copy = api.Clone();
  EXPECT_FALSE(copy.IsSameHolder(api));
  EXPECT_EQ(copy.GetDirectory(), api.GetDirectory());
  EXPECT_TRUE(SameRecords(copy.GetCalendarManager(), api.GetCalendarManager()));
  EXPECT_FALSE(copy.GetCalendarManager().IsSameHolder(api.GetCalendarManager()));
  EXPECT_TRUE(copy.SanityCheck());
  // The clone's shadow is loaded: a second pass changes nothing.
  ASSERT_EQ(copy.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(copy.GetCalendarManager()), kDesktopSummary);
}

}  // namespace
}  // namespace brontel
