// Tests of CalendarServerTransformation, one server pass of the calendar sync,
// against a scripted local server: the request of each pass byte for byte
// (clicks, calendars, events and placements, deletions), what is never sent
// (calendars the user does not own, alarms), passes that send nothing or may
// not run, a shadow of another account, the shared update of the server's
// answer into the cache (conflicts with local edits, deletions next to
// updates, a missing account id, placements in calendars the cache lacks,
// read-only calendars), transport failures, the replay of a logged answer, and
// the engine's display and stored form.
#include "brontel/sync/calendar_server_transformation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_classes.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/build_tag.h"
#include "brontel/core/log_node.h"
#include "brontel/host/time_logger.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/format.h"
#include "brontel/platform/serializable.h"
#include "brontel/platform/tree_view.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/scripted_sync_server.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddEvent;
using testing::CalendarKind;
using testing::CalendarNamesOf;
using Names = std::vector<std::string>;

// The account id of every test, and its text form in documents.
const UID128 kGid = testing::Gid(1);
constexpr char kGidText[] = "100F0E0D-0C0B-0A09-0807-060504030201";
// The table version cache and shadow are at, and the one answers move to.
constexpr uint32_t kVersion = 0x10;
constexpr uint32_t kAnswerVersion = 0x11;
// MakeEventDescriptor's date and times as the request writes them.
constexpr char kTime[] = "<time ymd=\"c861\" beg=\"900\" end=\"a00\"/>";

// The stages the callback received; it is a plain function, so they go to a
// list of the test binary's own.
std::vector<int>& Stages() {
  static std::vector<int> stages;
  return stages;
}
void RecordStage(SyncCallBackProgress stage) {
  Stages().push_back(stage);
}

// A request of this test's account at the shadow's version (ts 0).
std::string Request(uint32_t version, const std::string& records) {
  return Format(
             "<tandroreq ts=\"0\" ver=\"%x\" rev=\"%s:r1\" "
             "lev=\"3\"><gid>%s</gid>",
             version, kBuildTag, kGidText) +
         records + "</tandroreq>";
}

// A server answer at version with records, not full.
std::string Answer(uint32_t version, const std::string& records) {
  return Format(
             "<tandroresp ts=\"0\" sts=\"1\" ver=\"%x\" "
             "full=\"0\"><gid>%s</gid>",
             version, kGidText) +
         records + "</tandroresp>";
}

// An event element of an answer: act, server id, version and the name and
// note of an event on MakeEventDescriptor's date.
std::string ServerEvent(int act, uint32_t sid, const std::string& name, const std::string& note,
                        const std::string& links = "") {
  return Format("<event sid=\"%x\" ver=\"%x\" act=\"%d\"><name>%s</name>", sid, kAnswerVersion, act,
                name.c_str()) +
         (note.empty() ? "" : "<note>" + note + "</note>") + kTime + links + "</event>";
}

// Sets an alarm minutes ahead on the event.
void SetAlarm(Event event, uint8_t minutes) {
  EventDescriptor d = event.GetEventDescriptor();
  d.SetAlarmFlag(true);
  d.SetAlarmAdvanceUnit(0);
  d.SetAlarmAdvanceTime(minutes);
}

std::string Tree(const CalendarManager& manager) {
  TextTree tree;
  manager.DisplayTree(tree, kTreeRoot);
  return tree.Render();
}

// The first live event of manager named name, or null.
Event FindEvent(const CalendarManager& manager, const std::string& name) {
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    if (!e.IsDeleted() && e.GetEventDescriptor().GetName() == name) return e;
  }
  return Event();
}

// "name:note" of every live event, sorted.
Names EventNotes(const CalendarManager& manager) {
  Names out;
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    if (e.IsDeleted()) continue;
    out.push_back(e.GetEventDescriptor().GetName() + ":" + e.GetEventDescriptor().GetNote());
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The names of the live events placed in calendar, sorted.
Names EventsIn(const Calendar& calendar) {
  Names out;
  const CalendarEventList& links = calendar.GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    if (links[i].IsDeleted() || links[i].GetEvent().IsDeleted()) continue;
    out.push_back(links[i].GetEvent().GetEventDescriptor().GetName());
  }
  std::sort(out.begin(), out.end());
  return out;
}

std::string StoredBytes(CalendarCache cache) {
  StringSink sink;
  {
    Archive ar(sink);
    cache.SerializeQuick(ar, Archive::kNoSchema);
  }
  return sink.contents();
}

// A calendar and an event both in the cache and in the server shadow, as a
// completed exchange leaves them.
struct CalendarPair {
  Calendar cache;
  Calendar server;
};
struct EventPair {
  Event cache;
  Event server;
};

class CalendarServerTransformationTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<testing::ScriptedSyncServer>();
    Fresh();
  }

  // A new cache and shadow of the account, in step at kVersion, both empty.
  void Fresh() {
    m_cache = CalendarCache();
    Cache().SetGID(kGid);
    Cache().SetVersion(kVersion);
    m_shadow = CalendarManager::CreateEmpty();
    m_shadow.ConfirmServerManager();
    m_shadow.SetGID(kGid);
    m_shadow.SetVersion(kVersion);
  }

  CalendarManager Cache() const { return m_cache.GetCalendarManager(); }

  CalendarPair Shared(const std::string& name, CalendarKind kind, uint32_t fixedId, uint32_t sid,
                      uint32_t version = 5) {
    CalendarManager cache = Cache();
    CalendarPair pair{AddCalendar(cache, name, kind, fixedId),
                      AddCalendar(m_shadow, name, kind, fixedId, sid)};
    uint32_t cacheId = m_cache.GenerateCacheId();
    uint32_t hash = pair.server.GetCalendarDescriptor().CalculateHash();
    for (Calendar c : {pair.cache, pair.server}) {
      c.SetCacheId(cacheId);
      c.SetVersion(version);
      c.SetDataHash(hash);
      c.SetSource(SOURCE_SERVER);
    }
    return pair;
  }

  EventPair SharedEvent(const std::string& name, std::initializer_list<CalendarPair> calendars,
                        uint32_t fixedId, uint32_t sid, const std::string& note = "") {
    CalendarManager cache = Cache();
    EventPair pair{AddEvent(cache, name, {}, fixedId), AddEvent(m_shadow, name, {}, fixedId)};
    pair.server.SetServeId(sid);
    uint32_t cacheId = m_cache.GenerateCacheId();
    for (Event e : {pair.cache, pair.server}) {
      e.GetEventDescriptor().SetNote(note);
      e.SetCacheId(cacheId);
      e.SetVersion(9);
      e.SetDataHash(e.GetEventDescriptor().CalculateHash());
      e.SetSource(SOURCE_SERVER);
    }
    for (CalendarPair c : calendars) {
      CalendarEvent mine = pair.cache.AddToCalendar(c.cache);
      CalendarEvent theirs = pair.server.AddToCalendar(c.server);
      uint32_t linkCacheId = m_cache.GenerateCacheId();
      for (CalendarEvent l : {mine, theirs}) {
        l.SetCacheId(linkCacheId);
        l.SetVersion(9);
      }
    }
    return pair;
  }

  // Runs one pass as the API object does: stage 2 is reported at the start of
  // every pass, then the engine runs. The shadow is the engine's afterwards.
  br_error RunPass(int32_t pass) {
    Stages().clear();
    m_engine = CalendarServerTransformation();
    m_engine.SetPass(pass);
    m_engine.SetRevision("r1");
    m_engine.SetCache(m_cache);
    m_engine.SetServerShadow(m_shadow);
    m_engine.SetTimeLogger(&m_timeLogger);
    RecordStage(gettingSyncDataReady);
    br_error result = m_engine.SyncServer(nullptr, m_dir.path().c_str(), RecordStage, true);
    m_shadow = m_engine.GetServerShadow();
    return result;
  }

  // The last request the server received.
  std::string LastRequest() const {
    std::vector<std::string> requests = m_server->Requests();
    return requests.empty() ? std::string("<none>") : requests.back();
  }

  std::unique_ptr<testing::ScriptedSyncServer> m_server;
  CalendarCache m_cache;
  CalendarManager m_shadow;
  CalendarServerTransformation m_engine;
  TimeLogger m_timeLogger{[] { return int64_t{0}; }};
};

// ---- What each pass sends ----

TEST_F(CalendarServerTransformationTest, LaterPassWithNothingToSendContactsNoServer) {
  for (int32_t pass : {1, 2, 3}) {
    SCOPED_TRACE(pass);
    Fresh();
    CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
    SharedEvent("Meeting", {work}, 0x80000201, 0x31);
    CalendarManager cache = Cache();
    AddCalendar(cache, "Private");  // not shared: never the server's business

    EXPECT_EQ(RunPass(pass), ERR_NONE);
    EXPECT_EQ(m_server->RequestCount(), 0u);
    EXPECT_EQ(Stages(), (std::vector<int>{gettingSyncDataReady}));
    EXPECT_EQ(m_engine.GetRequest(), "");
    EXPECT_EQ(Cache().GetVersion(), kVersion);
  }
}

TEST_F(CalendarServerTransformationTest, Pass0SendsTheClicksAndDeliversThem) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  EventPair meeting = SharedEvent("Meeting", {work}, 0x80000201, 0x31);
  SharedEvent("Lunch", {work}, 0x80000202, 0x32);
  meeting.cache.SetUseMe(1);
  m_server->Answer(
      Answer(kAnswerVersion,
             "<orvel><click eid=\"31\"/></orvel><wirelessurl ver=\"3\">w:1</wirelessurl>"));

  EXPECT_EQ(RunPass(0), ERR_NONE);
  EXPECT_EQ(LastRequest(), Request(kVersion, "<orvel><click eid=\"31\"/></orvel>"));
  EXPECT_EQ(Stages(), (std::vector<int>{gettingSyncDataReady, grabbingLatestChanges,
                                        syncingWithServerData, syncingWithServerData}));
  // The server confirmed the click: both use marks are cleared.
  EXPECT_EQ(meeting.cache.GetUseMe(), 0);
  EXPECT_EQ(m_shadow.FindEventByServeId(0x31, false).GetUseMe(), 0);
  EXPECT_EQ(Cache().GetVersion(), kAnswerVersion);
  EXPECT_EQ(Cache().GetPulsecastURL(), "w:1");
  EXPECT_EQ(Cache().GetPulsecastURLVersion(), 3u);
  EXPECT_EQ(m_engine.SyncConflicts(), 0);

  const std::string& log = m_timeLogger.GetLog();
  size_t at = 0;
  for (const char* label :
       {"callBack grabbingLatestChanges begin", "SyncServer update request[0] begin",
        "callBack syncingWithServerData begin", "SyncServer update request[0] end",
        "callBack syncingWithServerData begin", "shareUpdate begin", "shareUpdate end"}) {
    at = log.find(label, at);
    ASSERT_NE(at, std::string::npos) << label << "\n" << log;
  }
}

TEST_F(CalendarServerTransformationTest, Pass1SendsOwnedCalendarsOnly) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  work.cache.GetCalendarDescriptor().SetDescription("moved");
  CalendarPair club = Shared("Club", CalendarKind::SubscribedReadWrite(), 0x80000102, 0x22);
  club.cache.GetCalendarDescriptor().SetDescription("not mine to change");
  CalendarManager cache = Cache();
  Calendar added = AddCalendar(cache, "New", CalendarKind::Published(), 0x80000103);
  AddCalendar(cache, "Theirs", CalendarKind::SubscribedReadWrite(), 0x80000104);
  AddCalendar(cache, "Private", CalendarKind::Local(), 0x80000105);
  const std::string kNew = "ro=\"0\" hide=\"0\" own=\"1\"><name>New</name><color>0</color>";
  const std::string kWork =
      "ro=\"0\" hide=\"0\" "
      "own=\"1\"><name>Work</name><desc>moved</desc><color>0</color>";
  m_server->Answer(
      Answer(kAnswerVersion, "<calendar sid=\"23\" lid=\"80000103\" ver=\"11\" act=\"0\" " + kNew +
                                 "</calendar><calendar sid=\"21\" ver=\"11\" act=\"1\" " + kWork +
                                 "</calendar>"));

  EXPECT_EQ(RunPass(1), ERR_NONE);
  EXPECT_EQ(LastRequest(),
            Request(kVersion, "<calendar lid=\"80000103\" ver=\"0\" act=\"0\" " + kNew +
                                  "</calendar><calendar sid=\"21\" lid=\"0\" ver=\"5\" act=\"1\" " +
                                  kWork + "</calendar>"));
  EXPECT_EQ(Stages(), (std::vector<int>{gettingSyncDataReady, sendingChangesToServer,
                                        syncingWithServerData, syncingWithServerData}));
  // The server's copies are the cache's now.
  Calendar served = m_shadow.FindCalendarByServeId(0x23, false);
  ASSERT_FALSE(served.IsNull()) << Tree(m_shadow);
  EXPECT_EQ(served.GetFixedId(), 0x80000103u);
  EXPECT_EQ(served.GetCacheId(), added.GetCacheId());
  EXPECT_EQ(added.GetVersion(), kAnswerVersion);
  EXPECT_EQ(added.GetDataHash(), served.GetDataHash());
  EXPECT_EQ(work.cache.GetVersion(), kAnswerVersion);
  EXPECT_EQ(Cache().GetVersion(), kAnswerVersion);
  EXPECT_EQ(m_engine.SyncConflicts(), 0);
}

TEST_F(CalendarServerTransformationTest, Pass2SendsNewEventsAndPlacementChanges) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  CalendarPair home = Shared("Home", CalendarKind::Published(), 0x80000102, 0x22);
  EventPair meeting = SharedEvent("Meeting", {work}, 0x80000201, 0x31);
  // Moved from Work to Home here; Lunch is new.
  ASSERT_TRUE(testing::PlacementOf(meeting.cache, work.cache).Remove());
  meeting.cache.AddToCalendar(home.cache);
  CalendarManager cache = Cache();
  Event lunch = AddEvent(cache, "Lunch", {work.cache}, 0x80000202);
  m_server->Answer(Answer(kAnswerVersion,
                          "<event sid=\"31\" ver=\"11\" act=\"4\"><link "
                          "psid=\"22\" pver=\"11\"/></event>"
                          "<event sid=\"31\" ver=\"11\" act=\"5\"><link "
                          "psid=\"21\" pver=\"11\"/></event>"
                          "<event sid=\"32\" lid=\"80000202\" ver=\"11\" "
                          "act=\"0\"><name>Lunch</name>" +
                              std::string(kTime) + "<link psid=\"21\" pver=\"11\"/></event>"));

  EXPECT_EQ(RunPass(2), ERR_NONE);
  EXPECT_EQ(LastRequest(),
            Request(kVersion,
                    "<event sid=\"31\" ver=\"9\" act=\"4\"><link "
                    "psid=\"22\" pver=\"0\"/></event>"
                    "<event sid=\"31\" ver=\"9\" act=\"5\"><link "
                    "psid=\"21\" pver=\"9\"/></event>"
                    "<event lid=\"80000202\" act=\"0\"><name>Lunch</name>" +
                        std::string(kTime) + "<link psid=\"21\" pver=\"0\"/></event>"));
  EXPECT_EQ(CalendarNamesOf(meeting.cache), (Names{"Home"}));
  EXPECT_EQ(CalendarNamesOf(meeting.server), (Names{"Home"}));
  EXPECT_EQ(CalendarNamesOf(lunch), (Names{"Work"}));
  Event served = m_shadow.FindEventByServeId(0x32, false);
  ASSERT_FALSE(served.IsNull()) << Tree(m_shadow);
  EXPECT_EQ(served.GetCacheId(), lunch.GetCacheId());
  EXPECT_EQ(lunch.GetVersion(), kAnswerVersion);
  EXPECT_FALSE(lunch.IsConflicted());
  EXPECT_EQ(m_engine.SyncConflicts(), 0);
}

TEST_F(CalendarServerTransformationTest, Pass2ClonesARepeatExceptionOfAServerEvent) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  EventPair weekly = SharedEvent("Weekly", {work}, 0x80000201, 0x31);
  CalendarManager cache = Cache();
  Event exception = AddEvent(cache, "Moved once", {work.cache}, 0x80000202);
  exception.SetParentEventFixedId(weekly.cache.GetFixedId());
  m_server->Answer(Answer(kAnswerVersion, ""));

  EXPECT_EQ(RunPass(2), ERR_NONE);
  // The clone names the parent's server id; its placement is the parent's.
  EXPECT_EQ(LastRequest(), Request(kVersion,
                                   "<event cid=\"31\" lid=\"80000202\" act=\"0\">"
                                   "<name>Moved once</name>" +
                                       std::string(kTime) + "</event>"));
}

TEST_F(CalendarServerTransformationTest, Pass3DeletesCalendarsTheCacheDropped) {
  Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  CalendarPair old = Shared("Old", CalendarKind::Published(), 0x80000103, 0x23);
  ASSERT_TRUE(old.cache.Remove());
  m_server->Answer(Answer(kAnswerVersion,
                          "<calendar sid=\"23\" ver=\"11\" act=\"3\"><name>Old</name></calendar>"));

  EXPECT_EQ(RunPass(3), ERR_NONE);
  EXPECT_EQ(LastRequest(), Request(kVersion,
                                   "<calendar sid=\"23\" lid=\"0\" ver=\"5\" act=\"3\" "
                                   "ro=\"0\" hide=\"0\" own=\"1\"><name>Old</name></calendar>"));
  EXPECT_TRUE(m_shadow.FindCalendarByServeId(0x23, false).IsNull()) << Tree(m_shadow);
  EXPECT_FALSE(m_shadow.FindCalendarByServeId(0x21, false).IsNull());
}

TEST_F(CalendarServerTransformationTest, LocalDeleteSendsOneEventDeleteAtTheServersVersion) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  CalendarPair home = Shared("Home", CalendarKind::Published(), 0x80000102, 0x22);
  EventPair meeting = SharedEvent("Meeting", {work, home}, 0x80000201, 0x31);
  meeting.cache.SetDeletedGlobal();
  m_server->Answer(Answer(kAnswerVersion, "<event sid=\"31\" ver=\"11\" act=\"3\"/>"));

  EXPECT_EQ(RunPass(2), ERR_NONE);
  EXPECT_EQ(LastRequest(), Request(kVersion,
                                   "<event sid=\"31\" lid=\"0\" ver=\"9\" act=\"3\" "
                                   "ro=\"0\" hide=\"0\" own=\"1\"/>"));
  EXPECT_FALSE(Cache().HasEvent(meeting.cache)) << Tree(Cache());
  EXPECT_TRUE(m_shadow.FindEventByServeId(0x31, false).IsNull()) << Tree(m_shadow);
}

TEST_F(CalendarServerTransformationTest, EventUpdatesLeaveAlarmsOutAndNeedWriteAccess) {
  struct Case {
    const char* what;
    CalendarKind kind;
    void (*change)(EventPair&);
    bool sent;
  };
  for (const Case& c : std::vector<Case>{
           {"alarm set here", CalendarKind::Published(),
            [](EventPair& p) { SetAlarm(p.cache, 10); }, false},
           {"alarm changed here", CalendarKind::Published(),
            [](EventPair& p) {
              SetAlarm(p.server, 5);
              SetAlarm(p.cache, 10);
            },
            false},
           {"alarm removed here", CalendarKind::Published(),
            [](EventPair& p) { SetAlarm(p.server, 5); }, true},
           {"renamed here", CalendarKind::Published(),
            [](EventPair& p) { p.cache.GetEventDescriptor().SetName("Renamed"); }, true},
           {"renamed in a calendar shared for writing", CalendarKind::SubscribedReadWrite(),
            [](EventPair& p) { p.cache.GetEventDescriptor().SetName("Renamed"); }, true},
           {"renamed in a read-only calendar", CalendarKind::SubscribedReadOnly(),
            [](EventPair& p) { p.cache.GetEventDescriptor().SetName("Renamed"); }, false},
       }) {
    SCOPED_TRACE(c.what);
    Fresh();
    CalendarPair work = Shared("Work", c.kind, 0x80000101, 0x21);
    EventPair meeting = SharedEvent("Meeting", {work}, 0x80000201, 0x31);
    c.change(meeting);
    size_t before = m_server->RequestCount();
    if (c.sent) m_server->Answer(Answer(kAnswerVersion, ""));

    EXPECT_EQ(RunPass(2), ERR_NONE);
    EXPECT_EQ(m_server->RequestCount(), before + (c.sent ? 1 : 0));
    if (c.sent) {
      EXPECT_EQ(LastRequest(), Request(kVersion, "<event sid=\"31\" ver=\"9\" act=\"1\"><name>" +
                                                     meeting.cache.GetEventDescriptor().GetName() +
                                                     "</name>" + kTime + "</event>"));
    }
  }
}

TEST_F(CalendarServerTransformationTest, LaterPassOutOfStepFailsBeforeSending) {
  for (int32_t pass : {1, 2, 3}) {
    SCOPED_TRACE(pass);
    Fresh();
    Cache().SetVersion(0x20);  // the cache took an update the shadow never saw
    Shared("Old", CalendarKind::Published(), 0x80000103, 0x23).cache.Remove();
    CalendarManager cache = Cache();
    AddCalendar(cache, "New", CalendarKind::Published(), 0x80000104);

    EXPECT_EQ(RunPass(pass), ERR_NO_SERVER_UPDATE);
    EXPECT_EQ(m_engine.GetErrorMessage(), "Unable to obtain server update");
    EXPECT_EQ(m_server->RequestCount(), 0u);
    EXPECT_EQ(Stages(), (std::vector<int>{gettingSyncDataReady}));
  }
  // Pass 0 is the one that brings the shadow in step.
  m_server->Answer(Answer(0x21, ""));
  EXPECT_EQ(RunPass(0), ERR_NONE);
  EXPECT_EQ(m_server->RequestCount(), 1u);
  EXPECT_TRUE(Cache().VersionsAreSynced(m_shadow));
}

TEST_F(CalendarServerTransformationTest, ShadowOfAnotherAccountIsDiscarded) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  CalendarManager stranger = CalendarManager::CreateEmpty();
  stranger.ConfirmServerManager();
  stranger.SetGID(testing::Gid(2));
  stranger.SetVersion(0x40);
  stranger.SetDeltaVersion(7);
  AddCalendar(stranger, "Stranger", CalendarKind::Published(), 0x80000109, 0x29);
  AddEvent(stranger, "Theirs", {}, 0x80000209);
  m_shadow = stranger;
  m_server->Answer(Answer(kAnswerVersion,
                          "<calendar sid=\"21\" lid=\"80000101\" ver=\"11\" act=\"0\" "
                          "ro=\"0\" hide=\"0\" own=\"1\"><name>Work</name>"
                          "<color>0</color></calendar>"));

  EXPECT_EQ(RunPass(0), ERR_NONE);
  // Asked as a new client: no version, no delta version of the other account.
  EXPECT_EQ(LastRequest(), Request(0xFFFFFFFF, "<orvel/>"));
  EXPECT_TRUE(m_shadow.IsServerManager());
  EXPECT_EQ(m_shadow.GetGID(), kGid);
  EXPECT_EQ(m_shadow.GetCalendarList().GetListCount(), 1);
  EXPECT_EQ(m_shadow.GetEventList().GetListCount(), 0);
  EXPECT_EQ(m_shadow.FindByFixedId(0x80000101, false).GetCacheId(), work.cache.GetCacheId());
  EXPECT_TRUE(Cache().FindByFixedId(0x80000109, false).IsNull());
}

// ---- The shared update ----

TEST_F(CalendarServerTransformationTest, ServerEditWinsAndKeepsALocalEditAsConflict) {
  for (bool editedHere : {false, true}) {
    SCOPED_TRACE(editedHere);
    Fresh();
    CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
    EventPair meeting = SharedEvent("Meeting", {work}, 0x80000201, 0x31, "agreed");
    EventDescriptor mine = meeting.cache.GetEventDescriptor();
    mine.SetAlarmFlag(true);
    mine.SetAlarmAdvanceTime(15);
    if (editedHere) {
      mine.SetNote("local");
      meeting.cache.SetSource(SOURCE_DESKTOP);
    }
    m_server->Answer(Answer(kAnswerVersion, ServerEvent(1, 0x31, "Meeting", "server")));

    EXPECT_EQ(RunPass(0), ERR_NONE);
    EXPECT_EQ(mine.GetNote(), "server");
    EXPECT_TRUE(mine.GetAlarmFlag());  // the alarm is the user's own
    EXPECT_EQ(mine.GetAlarmAdvanceTime(), 15);
    EXPECT_EQ(meeting.cache.GetVersion(), kAnswerVersion);
    EXPECT_EQ(meeting.cache.IsConflicted(), editedHere);
    EXPECT_EQ(m_engine.SyncConflicts(), editedHere ? 1 : 0);
    if (editedHere && meeting.cache.IsConflicted()) {
      EXPECT_EQ(meeting.cache.GetConflict().GetEventDescriptor().GetNote(), "local");
    }
  }
}

TEST_F(CalendarServerTransformationTest, ServerCalendarChangesReachTheCache) {
  const std::string kFlags = "ro=\"0\" hide=\"0\" own=\"1\"";
  {
    SCOPED_TRACE("renamed");
    CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
    m_server->Answer(Answer(kAnswerVersion, "<calendar sid=\"21\" ver=\"11\" act=\"1\" " + kFlags +
                                                "><name>Office</name><color>0</color></calendar>"));
    EXPECT_EQ(RunPass(0), ERR_NONE);
    EXPECT_EQ(work.cache.GetCalendarDescriptor().GetCalendarName(), "Office");
    EXPECT_EQ(work.cache.GetVersion(), kAnswerVersion);
  }
  {
    SCOPED_TRACE("subscription ended");
    Fresh();
    CalendarPair club = Shared("Club", CalendarKind::SubscribedReadWrite(), 0x80000102, 0x22);
    EventPair party = SharedEvent("Party", {club}, 0x80000201, 0x31);
    m_server->Answer(Answer(
        kAnswerVersion, "<calendar sid=\"22\" ver=\"11\" act=\"2\"><name>Club</name></calendar>"));
    EXPECT_EQ(RunPass(0), ERR_NONE);
    EXPECT_FALSE(Cache().HasCalendar(club.cache));
    EXPECT_FALSE(Cache().HasEvent(party.cache));
    EXPECT_TRUE(m_shadow.FindCalendarByServeId(0x22, false).IsNull());
  }
  {
    SCOPED_TRACE("own calendar deleted elsewhere");
    Fresh();
    CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
    EventPair meeting = SharedEvent("Meeting", {work}, 0x80000201, 0x31);
    m_server->Answer(Answer(
        kAnswerVersion, "<calendar sid=\"21\" ver=\"11\" act=\"3\"><name>Work</name></calendar>"));
    EXPECT_EQ(RunPass(0), ERR_NONE);
    // The owner keeps it, as a private calendar.
    ASSERT_TRUE(Cache().HasCalendar(work.cache));
    EXPECT_FALSE(work.cache.GetCalendarDescriptor().GetSharedFlag());
    EXPECT_EQ(work.cache.GetVersion(), kAnswerVersion);
    EXPECT_EQ(CalendarNamesOf(meeting.cache), (Names{"Work"}));
    EXPECT_TRUE(m_shadow.FindCalendarByServeId(0x21, false).IsNull());
  }
}

TEST_F(CalendarServerTransformationTest, ServerPlacementChangesReachTheCache) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  CalendarPair home = Shared("Home", CalendarKind::Published(), 0x80000102, 0x22);
  Shared("Trip", CalendarKind::Published(), 0x80000103, 0x23);
  EventPair meeting = SharedEvent("Meeting", {work, home}, 0x80000201, 0x31);
  m_server->Answer(
      Answer(kAnswerVersion,
             "<event sid=\"31\" ver=\"11\" act=\"5\"><link psid=\"21\" pver=\"11\"/></event>"
             "<event sid=\"31\" ver=\"11\" act=\"4\"><link psid=\"23\" pver=\"11\"/></event>"));

  EXPECT_EQ(RunPass(0), ERR_NONE);
  EXPECT_EQ(CalendarNamesOf(meeting.cache), (Names{"Home", "Trip"})) << Tree(Cache());
  EXPECT_EQ(CalendarNamesOf(meeting.server), (Names{"Home", "Trip"})) << Tree(m_shadow);
  CalendarEvent served =
      testing::PlacementOf(meeting.server, m_shadow.FindCalendarByServeId(0x23, false));
  CalendarEvent cached = meeting.cache.FindCalendarEventByCalendarFixedId(0x80000103, false);
  ASSERT_FALSE(served.IsNull());
  ASSERT_FALSE(cached.IsNull());
  EXPECT_EQ(served.GetCacheId(), cached.GetCacheId());
  EXPECT_EQ(cached.GetSource(), SOURCE_SERVER);
  EXPECT_EQ(m_engine.SyncConflicts(), 0);
}

// An event this client sent back as its own after the server withdrew the
// event it came from keeps the fixed id derived from that event's server id.
// When the server's event comes back, it still reaches the cache, under a
// fixed id of its own that the shadow takes too, and the two stay in step.
TEST_F(CalendarServerTransformationTest, AServerEventWhoseFixedIdIsTakenArrivesUnderAFreshOne) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  SharedEvent("Copy", {work}, 0x40, 0x41);
  m_server->Answer(Answer(kAnswerVersion,
                          ServerEvent(0, 0x40, "Original", "", "<link psid=\"21\" pver=\"11\"/>")));

  ASSERT_EQ(RunPass(0), ERR_NONE) << m_engine.GetErrorMessage();
  EXPECT_EQ(EventsIn(work.cache), (Names{"Copy", "Original"})) << Tree(Cache());
  const Event original = m_shadow.FindEventByServeId(0x40, false);
  ASSERT_FALSE(original.IsNull()) << Tree(m_shadow);
  EXPECT_NE(original.GetFixedId(), 0x40u);
  const Event cached = Cache().FindEventByFixedId(original.GetFixedId(), false);
  ASSERT_FALSE(cached.IsNull());
  EXPECT_EQ(cached.GetEventDescriptor().GetName(), "Original");
  EXPECT_TRUE(Cache().SanityCheck());
  EXPECT_TRUE(m_shadow.SanityCheck());
  for (int32_t pass : {1, 2, 3}) {
    EXPECT_EQ(RunPass(pass), ERR_NONE);
    EXPECT_EQ(m_server->RequestCount(), 1u) << "pass " << pass;
  }
}

TEST_F(CalendarServerTransformationTest, DeleteAndUpdateInOneAnswerTouchOnlyTheirEvents) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  const char* names[] = {"A", "B", "C", "D", "E"};
  for (uint32_t i = 0; i < 5; ++i) {
    std::string name = names[i];
    SharedEvent(name, {work}, 0x80000201 + i, 0x31 + i, "note " + name);
  }
  m_server->Answer(Answer(kAnswerVersion, "<event sid=\"32\" ver=\"11\" act=\"3\"/>" +
                                              ServerEvent(1, 0x33, "C", "changed") +
                                              "<event sid=\"34\" ver=\"11\" act=\"3\"/>"));

  EXPECT_EQ(RunPass(0), ERR_NONE);
  EXPECT_EQ(EventNotes(Cache()), (Names{"A:note A", "C:changed", "E:note E"})) << Tree(Cache());
  EXPECT_EQ(EventNotes(m_shadow), (Names{"A:note A", "C:changed", "E:note E"})) << Tree(m_shadow);
  EXPECT_EQ(EventsIn(work.cache), (Names{"A", "C", "E"}));
}

TEST_F(CalendarServerTransformationTest, AnswerWithoutAccountIdKeepsTheCachesAccount) {
  m_shadow = CalendarManager::CreateEmpty();  // a first exchange: no shadow yet
  m_server->Answer(
      "<tandroresp ts=\"0\" sts=\"1\" ver=\"11\"><wirelessurl "
      "ver=\"1\">http://w</wirelessurl>"
      "</tandroresp>");

  EXPECT_EQ(RunPass(0), ERR_NONE);
  EXPECT_EQ(Cache().GetGID(), kGid);
}

TEST_F(CalendarServerTransformationTest, PlacementInACalendarTheCacheLacksIsSkipped) {
  Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  // Dropped here since the last exchange: the shadow still has it.
  Calendar gone = AddCalendar(m_shadow, "Gone", CalendarKind::Published(), 0x80000105, 0x25);
  gone.SetVersion(5);
  m_server->Answer(
      Answer(kAnswerVersion,
             ServerEvent(0, 0x35, "Trip", "",
                         "<link psid=\"21\" pver=\"11\"/><link psid=\"25\" pver=\"11\"/>")));

  EXPECT_EQ(RunPass(0), ERR_NONE);
  Event trip = FindEvent(Cache(), "Trip");
  ASSERT_FALSE(trip.IsNull()) << Tree(Cache());
  EXPECT_EQ(CalendarNamesOf(trip), (Names{"Work"}));
  Event served = m_shadow.FindEventByServeId(0x35, false);
  EXPECT_EQ(CalendarNamesOf(served), (Names{"Work", "Gone"}));
  // The shadow's placement in Gone has no counterpart in the cache.
  CalendarEvent unmatched = testing::PlacementOf(served, gone);
  ASSERT_FALSE(unmatched.IsNull());
  EXPECT_EQ(unmatched.GetCacheId(), 0u);
  EXPECT_TRUE(Cache().FindByFixedId(0x80000105, false).IsNull());
  EXPECT_TRUE(Cache().IsCoherent());
}

TEST_F(CalendarServerTransformationTest, ReadOnlyCalendarShowsWhatTheServerShows) {
  CalendarPair club = Shared("Club", CalendarKind::SubscribedReadOnly(), 0x80000106, 0x26);
  SharedEvent("Kept", {club}, 0x80000201, 0x31);
  EventPair dropped = SharedEvent("Dropped here", {club}, 0x80000202, 0x32);
  ASSERT_TRUE(dropped.cache.Remove(true));
  CalendarManager cache = Cache();
  Event added = AddEvent(cache, "Added here", {club.cache}, 0x80000203);
  m_server->Answer(Answer(kAnswerVersion, ""));

  EXPECT_EQ(RunPass(0), ERR_NONE);
  EXPECT_EQ(EventsIn(club.cache), (Names{"Dropped here", "Kept"})) << Tree(Cache());
  EXPECT_EQ(EventsIn(club.server), (Names{"Dropped here", "Kept"}));
  EXPECT_FALSE(Cache().HasEvent(added));
  Event back = FindEvent(Cache(), "Dropped here");
  ASSERT_FALSE(back.IsNull());
  EXPECT_EQ(back.GetSource(), SOURCE_SERVER);
  EXPECT_EQ(back.GetServeId(), 0u);
}

TEST_F(CalendarServerTransformationTest, TransportFailureLeavesCacheAndShadowAlone) {
  struct Case {
    const char* what;
    void (*script)(testing::ScriptedSyncServer&, const std::string&);
    br_error result;
  };
  for (const Case& c : std::vector<Case>{
           {"server error", [](testing::ScriptedSyncServer&s, const std::string&) { s.Fail(500); },
            ERR_SERVER_QUERY},
           {"answer cut off",
            [](testing::ScriptedSyncServer&s, const std::string&answer) { s.Cut(answer); },
            ERR_CONNECTION},
       }) {
    SCOPED_TRACE(c.what);
    Fresh();
    CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
    SharedEvent("Meeting", {work}, 0x80000201, 0x31);
    CalendarManager cache = Cache();
    ASSERT_TRUE(testing::ForceFixedIds(cache, m_cache));
    c.script(*m_server, Answer(kAnswerVersion, ServerEvent(1, 0x31, "Meeting", "server") +
                                                   ServerEvent(0, 0x35, "Trip", "")));
    std::string cacheBefore = StoredBytes(m_cache);
    std::string shadowBefore = Tree(m_shadow);

    EXPECT_EQ(RunPass(0), c.result);
    EXPECT_NE(m_engine.GetErrorMessage(), "");
    EXPECT_EQ(StoredBytes(m_cache), cacheBefore);
    EXPECT_EQ(Tree(m_shadow), shadowBefore);
    EXPECT_EQ(Stages(), (std::vector<int>{gettingSyncDataReady, grabbingLatestChanges}));
  }
}

// ---- Replay, display and stored form ----

TEST_F(CalendarServerTransformationTest, ReplayAppliesTheHeldAnswerWithoutSending) {
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  SharedEvent("Meeting", {work}, 0x80000201, 0x31, "agreed");
  CalendarCache cacheBefore = m_cache.Clone();
  CalendarManager shadowBefore = m_shadow.Clone();
  m_server->Answer(Answer(kAnswerVersion, ServerEvent(1, 0x31, "Meeting", "server")));
  ASSERT_EQ(RunPass(0), ERR_NONE);

  CalendarServerTransformation replay = m_engine.Clone();
  replay.SetCache(cacheBefore);
  replay.SetServerShadow(shadowBefore);
  EXPECT_EQ(replay.SyncServer(nullptr, m_dir.path().c_str(), nullptr, false), ERR_NONE);
  EXPECT_EQ(m_server->RequestCount(), 1u);
  EXPECT_EQ(replay.GetRequest(), m_engine.GetRequest());
  EXPECT_EQ(EventNotes(cacheBefore.GetCalendarManager()), (Names{"Meeting:server"}));

  m_engine.Activate(0, "");  // a viewer's replay: on a clone, sending nothing
  EXPECT_EQ(m_server->RequestCount(), 1u);
}

TEST_F(CalendarServerTransformationTest, DisplayTreeShowsBeforeAndAfter) {
  Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  m_server->Fail(500);
  CalendarServerTransformation engine;
  engine.SetCache(m_cache);
  engine.SetServerShadow(m_shadow);
  engine.KeepBefore();
  EXPECT_EQ(engine.SyncServer(nullptr, "", nullptr, true), ERR_SERVER_QUERY);

  TextTree tree;
  TreeItem item = engine.DisplayTree(tree, kTreeRoot);
  Names labels{tree.GetText(item)};
  for (TreeItem child : tree.GetChildren(item)) labels.push_back(tree.GetText(child));
  EXPECT_EQ(labels, (Names{"Calendar Server Tranformation", "cache before", "server before",
                           "server after", "cache after 0 conflicts (Server query error 500)"}));
}

TEST_F(CalendarServerTransformationTest, LogNodeStoresAndRestoresTheEngine) {
  RegisterCalendarClasses();
  ClassRegistry::Register(LogNodeOf<CalendarServerTransformation>::kClassInfo);
  CalendarPair work = Shared("Work", CalendarKind::Published(), 0x80000101, 0x21);
  EventPair meeting = SharedEvent("Meeting", {work}, 0x80000201, 0x31);
  meeting.cache.GetEventDescriptor().SetNote("local");
  meeting.cache.SetSource(SOURCE_DESKTOP);
  m_server->Answer(Answer(kAnswerVersion, ServerEvent(1, 0x31, "Meeting", "server")));
  ASSERT_EQ(RunPass(0), ERR_NONE);

  std::unique_ptr<LogNode> node = m_engine.GetLogItem("server pass 0");
  EXPECT_EQ(node->GetDisplayString(), "server pass 0 :: Calendar Server Tranformation");
  StringSink sink;
  {
    Archive ar(sink);
    ar.WriteObject(node.get());
  }
  const std::string bytes = sink.contents();
  Archive in(bytes);
  std::unique_ptr<Serializable> read(in.ReadObject());
  auto* restored = dynamic_cast<LogNodeOf<CalendarServerTransformation>*>(read.get());
  ASSERT_NE(restored, nullptr);
  const CalendarServerTransformation& copy = restored->item();
  EXPECT_EQ(copy.GetPass(), 0);
  EXPECT_EQ(copy.SyncConflicts(), 1);
  EXPECT_EQ(copy.GetRequest(), m_engine.GetRequest());
  EXPECT_EQ(copy.GetResponse(), m_engine.GetResponse());
  EXPECT_EQ(Tree(copy.GetCache().GetCalendarManager()), Tree(Cache()));
  EXPECT_EQ(Tree(copy.GetServerShadow()), Tree(m_shadow));
}

TEST_F(CalendarServerTransformationTest, StoredFormWithABadPassIsRefused) {
  CalendarServerTransformation engine;
  StringSink sink;
  {
    Archive ar(sink);
    engine.SerializeQuick(ar, Archive::kNoSchema);
  }
  std::string bytes = sink.contents();
  bytes[0] = 4;  // passes run 0 to 3
  Archive in(bytes);
  CalendarServerTransformation read;
  EXPECT_THROW(read.SerializeQuick(in, Archive::kNoSchema), ArchiveError);
}

}  // namespace
}  // namespace brontel
