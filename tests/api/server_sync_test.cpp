// Tests of the server entry points of both API objects, against a scripted
// server on loopback: the progress reported to the caller, what each pass
// sends, what a failing pass leaves behind (the server shadow file as it was,
// and a next synchronization that converges), the account id request, and the
// contacts that no server holds (unfiled ones) surviving a server pass.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/core/uid128.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/format.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"
#include "support/faulty_file_system.h"
#include "support/scripted_sync_server.h"
#include "tracing_file_system.h"

namespace brontel {
namespace {

using testing::Gid;
using testing::ScriptedSyncServer;

constexpr char kRevision[] = "2.1";
constexpr char kUser[] = "ann";

std::vector<int> g_stages;
void RecordStage(SyncCallBackProgress stage) {
  g_stages.push_back(static_cast<int>(stage));
}

// The nth element <tag ...>...</tag> or <tag .../> of document, or "".
std::string ElementOf(const std::string& document, const std::string& tag, int nth = 0) {
  const std::regex pattern("<" + tag + " [^>]*?(/>|>.*?</" + tag + ">)");
  auto it = std::sregex_iterator(document.begin(), document.end(), pattern);
  for (; it != std::sregex_iterator(); ++it, --nth) {
    if (nth == 0) return it->str();
  }
  return "";
}

// The value of attribute name in the opening tag of element, or "".
std::string AttributeOf(const std::string& element, const std::string& name) {
  std::smatch match;
  const std::string head = element.substr(0, element.find('>'));
  if (std::regex_search(head, match, std::regex(" " + name + "=\"([^\"]*)\""))) {
    return match[1];
  }
  return "";
}

// The server's echo of an element the client sent: the same element with the
// server id and version set, and every link carrying the version.
std::string Echo(const std::string& element, uint32_t sid, uint32_t ver) {
  const size_t nameEnd = element.find(' ');
  const size_t headEnd = element.find('>');
  std::string head = element.substr(nameEnd, headEnd - nameEnd);
  head = std::regex_replace(head, std::regex(" (sid|ver)=\"[^\"]*\""), "");
  std::string body = element.substr(headEnd);
  body = std::regex_replace(body, std::regex("pver=\"[^\"]*\""), Format("pver=\"%x\"", ver));
  return element.substr(0, nameEnd) + Format(" sid=\"%x\" ver=\"%x\"", sid, ver) + head + body;
}

// An answer of the server for gid at version with records.
std::string Answer(const UID128& gid, uint32_t version, const std::string& records,
                   bool full = false) {
  return Format("<tandroresp ts=\"1\" sts=\"1\" ver=\"%x\" rev=\"r1\" full=\"%d\"><gid>", version,
                full ? 1 : 0) +
         gid.GetString() + "</gid>" + records + "</tandroresp>";
}

std::string GidAnswer(const UID128& gid) {
  return "<tandroresp ts=\"0\" sts=\"1\" ver=\"0\" rev=\"r1\" full=\"0\"><newgid>" +
         gid.GetString() + "</newgid></tandroresp>";
}

class ServerSyncTest : public testing::ApiTest {
 protected:
  // Runs sync under a tracing file system and expects that only the cache and
  // then the server shadow were replaced, once each, with what they hold now:
  // the update of pass 0 was written, and no pass that sent nothing wrote.
  // The passes read the two files once between them.
  void ExpectOnlyTheUpdateWritten(const std::function<br_error()>& sync, const char* cacheFile,
                                  const char* shadowFile) {
    testing::TracingFileSystem tracing;
    tracing.Fail(testing::FaultyFileSystem::Op::kNone, 0, false);
    ASSERT_EQ(sync(), ERR_NONE);
    const std::map<std::string, std::vector<std::string>> expected = {
        {cacheFile, {FileBytes(cacheFile)}}, {shadowFile, {FileBytes(shadowFile)}}};
    EXPECT_EQ(tracing.Versions(), expected);
    EXPECT_EQ(tracing.ReadOpens(cacheFile), 1);
    EXPECT_EQ(tracing.ReadOpens(shadowFile), 1);
  }

  void SetUp() override {
    ApiTest::SetUp();
    g_stages.clear();
    m_server = std::make_unique<ScriptedSyncServer>();
  }
  void TearDown() override {
    m_server.reset();
    ApiTest::TearDown();
  }

  std::unique_ptr<ScriptedSyncServer> m_server;
};

// ---- calendars ----

class CalendarServerSyncTest : public ServerSyncTest {
 protected:
  void SetUp() override {
    ServerSyncTest::SetUp();
    m_api = BrontelAPI::CreateCalendarApi(m_dir.path(), kRevision);
  }

  // The desktop holds the published calendar Work with the event Dentist in
  // it, synchronized into the cache under the account id.
  void PrepareDesktop() {
    CalendarManager desktop = m_api.GetCalendarManager();
    Calendar work = testing::AddCalendar(desktop, "Work", testing::CalendarKind::Published());
    testing::AddEvent(desktop, "Dentist", {work});
    ASSERT_TRUE(m_api.SetGID(kGid));
    ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  }

  // The answers of a server that takes everything of a first synchronization:
  // pass 0 an empty table, pass 1 the calendar's echo, pass 2 the event's.
  void ScriptAcceptingServer() {
    m_server->Answer(Answer(kGid, 0x1f4, "", true));
    m_server->AnswerWith([this](const std::string& request) {
      return Answer(kGid, 0x1f5, Echo(ElementOf(request, "calendar"), 0x65, 0x1f5));
    });
    m_server->AnswerWith([this](const std::string& request) {
      return Answer(kGid, 0x1f6, Echo(ElementOf(request, "event"), 0x66, 0x1f6));
    });
  }

  CalendarManager ReadShadow() const {
    const std::string bytes = FileBytes(CalendarApi::kServerShadowFile);
    CalendarManager shadow;
    Archive ar(bytes);
    shadow.Serialize(ar);
    return shadow;
  }
  CalendarManager ReadCacheManager() const {
    const std::string bytes = FileBytes(CalendarApi::kCacheFile);
    CalendarCache cache;
    Archive ar(bytes);
    cache.Serialize(ar);
    return cache.GetCalendarManager();
  }

  static std::string EventNames(const CalendarManager& manager) {
    std::string names;
    const EventList& events = manager.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (events[i].IsDeleted()) continue;
      names += (names.empty() ? "" : "|") + events[i].GetEventDescriptor().GetName();
    }
    return names;
  }

  const UID128 kGid = Gid(0x10);
  CalendarApi m_api;
};

TEST_F(CalendarServerSyncTest, AFullSynchronizationReportsEveryPassAndSendsWhatTheCacheHolds) {
  PrepareDesktop();
  ScriptAcceptingServer();
  testing::TracingFileSystem tracing;
  tracing.Fail(testing::FaultyFileSystem::Op::kNone, 0, false);
  ASSERT_EQ(m_api.SyncServer(RecordStage), ERR_NONE) << m_api.GetErrorMessage();
  // Three passes wrote both files; each later pass started from what the one
  // before wrote instead of reading it back.
  EXPECT_EQ(tracing.Versions().at(CalendarApi::kCacheFile).size(), 3u);
  EXPECT_EQ(tracing.ReadOpens(CalendarApi::kCacheFile), 1);
  EXPECT_EQ(tracing.ReadOpens(CalendarApi::kServerShadowFile), 0);  // none before
  // Pass 3 has nothing to delete and sends nothing.
  EXPECT_EQ(g_stages, (std::vector<int>{0, 1, 2, 4, 6, 6, 2, 5, 6, 6, 2, 5, 6, 6, 2, 7}));
  const std::vector<std::string> requests = m_server->Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string head =
      "<tandroreq ts=\"1\" ver=\"1f4\" rev=\"BRy2000m03d29t1052:2.1\" lev=\"3\"><gid>" +
      kGid.GetString() + "</gid>";
  EXPECT_EQ(requests[0],
            "<tandroreq ts=\"0\" ver=\"ffffffff\" rev=\"BRy2000m03d29t1052:2.1\" lev=\"3\"><gid>" +
                kGid.GetString() + "</gid><orvel/></tandroreq>");
  EXPECT_EQ(ElementOf(requests[1], "calendar"),
            "<calendar lid=\"" + AttributeOf(ElementOf(requests[1], "calendar"), "lid") +
                "\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\"><name>Work</name>"
                "<color>0</color></calendar>");
  EXPECT_NE(ElementOf(requests[2], "event").find("<name>Dentist</name>"), std::string::npos);
  EXPECT_NE(ElementOf(requests[2], "event").find("<link psid=\"65\" pver=\"0\"/>"),
            std::string::npos)
      << requests[2];
  EXPECT_EQ(m_api.SyncConflicts(), 0);

  // The cache and the shadow agree, and a second synchronization only asks.
  EXPECT_EQ(EventNames(ReadCacheManager()), "Dentist");
  EXPECT_EQ(EventNames(ReadShadow()), "Dentist");
  EXPECT_EQ(ReadShadow().GetVersion(), 0x1f6u);
  EXPECT_EQ(ReadCacheManager().GetVersion(), 0x1f6u);
  g_stages.clear();
  m_server->Answer(Answer(kGid, 0x1f6, ""));
  ASSERT_EQ(m_api.SyncServer(RecordStage), ERR_NONE) << m_api.GetErrorMessage();
  EXPECT_EQ(g_stages, (std::vector<int>{0, 1, 2, 4, 6, 6, 2, 2, 2, 7}));
  EXPECT_EQ(m_server->RequestCount(), 4u);
}

TEST_F(CalendarServerSyncTest, PassesThatSendNothingWriteNoFile) {
  PrepareDesktop();
  ScriptAcceptingServer();
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE) << m_api.GetErrorMessage();
  m_server->Answer(Answer(kGid, 0x1f6, ""));
  ExpectOnlyTheUpdateWritten([this] { return m_api.SyncServer(nullptr); }, CalendarApi::kCacheFile,
                             CalendarApi::kServerShadowFile);
  EXPECT_EQ(m_server->RequestCount(), 4u);
  EXPECT_EQ(EventNames(ReadCacheManager()), "Dentist");
  EXPECT_EQ(EventNames(ReadShadow()), "Dentist");

  // A pass that sends something still writes: the renamed event goes out and
  // both files take it.
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  m_api.GetCalendarManager().GetEventList()[0].GetEventDescriptor().SetName("Dentist at 9");
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  m_server->Answer(Answer(kGid, 0x1f6, ""));
  m_server->AnswerWith([this](const std::string& request) {
    return Answer(kGid, 0x1f7, Echo(ElementOf(request, "event"), 0x66, 0x1f7));
  });
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE) << m_api.GetErrorMessage();
  EXPECT_EQ(EventNames(ReadCacheManager()), "Dentist at 9");
  EXPECT_EQ(EventNames(ReadShadow()), "Dentist at 9");
  EXPECT_EQ(ReadShadow().GetVersion(), 0x1f7u);
}

TEST_F(CalendarServerSyncTest, AFailureInPassZeroEndsTheSynchronizationAndKeepsTheShadow) {
  PrepareDesktop();
  ScriptAcceptingServer();
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE);
  const auto before = Snapshot();

  m_server->Fail(500);
  EXPECT_EQ(m_api.SyncServer(RecordStage), ERR_SERVER_QUERY);
  EXPECT_EQ(g_stages, (std::vector<int>{0, 1, 2, 4, 7}));
  EXPECT_NE(m_api.GetErrorMessage(), "");
  // A null callback gives the same result.
  m_server->Fail(500);
  EXPECT_EQ(m_api.SyncServer(nullptr), ERR_SERVER_QUERY);
  EXPECT_EQ(m_server->RequestCount(), 5u);
  EXPECT_EQ(FileBytes(CalendarApi::kServerShadowFile), before.at(CalendarApi::kServerShadowFile));
}

TEST_F(CalendarServerSyncTest, AFailingLaterPassKeepsItsShadowAndTheNextSynchronizationConverges) {
  PrepareDesktop();
  ScriptAcceptingServer();
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE);
  // The desktop takes the server's stamps, then the user renames the event.
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  m_api.GetCalendarManager().GetEventList()[0].GetEventDescriptor().SetName("Dentist at 9");
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);

  // Pass 0 succeeds, pass 2 (the event's update) finds the server down.
  m_server->Answer(Answer(kGid, 0x1f6, ""));
  m_server->Fail(503);
  EXPECT_EQ(m_api.SyncServer(nullptr), ERR_SERVER_QUERY);
  const std::string shadowAfterFailure = FileBytes(CalendarApi::kServerShadowFile);
  EXPECT_EQ(EventNames(ReadShadow()), "Dentist");
  EXPECT_EQ(EventNames(ReadCacheManager()), "Dentist at 9");

  // The server is back: the update goes out again and both copies agree.
  m_server->Answer(Answer(kGid, 0x1f6, ""));
  m_server->AnswerWith([this](const std::string& request) {
    return Answer(kGid, 0x1f7, Echo(ElementOf(request, "event"), 0x66, 0x1f7));
  });
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE) << m_api.GetErrorMessage();
  const std::vector<std::string> requests = m_server->Requests();
  ASSERT_EQ(requests.size(), 7u);
  EXPECT_NE(requests[6].find("<event sid=\"66\" ver=\"1f6\" act=\"1\"><name>Dentist at 9</name>"),
            std::string::npos)
      << requests[6];
  EXPECT_EQ(EventNames(ReadShadow()), "Dentist at 9");
  EXPECT_EQ(EventNames(ReadCacheManager()), "Dentist at 9");
  EXPECT_EQ(m_api.SyncConflicts(), 0);
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(EventNames(m_api.GetCalendarManager()), "Dentist at 9");
}

TEST_F(CalendarServerSyncTest, ACacheThatCannotBeWrittenEndsTheSynchronizationBeforeItsShadow) {
  PrepareDesktop();
  const auto before = Snapshot();
  m_server->Answer(Answer(kGid, 0x1f4, "", true));
  {
    // The first file replaced in the pass is the cache.
    testing::FaultyFileSystem faulty;
    faulty.FailNth(testing::FaultyFileSystem::Op::kRename, 1);
    EXPECT_EQ(m_api.SyncServer(nullptr), ERR_WRITE_FAILED);
  }
  EXPECT_EQ(m_server->RequestCount(), 1u);
  EXPECT_EQ(Snapshot(), before) << "neither the cache nor a server shadow may change";

  // Nothing the server answered is lost to the next synchronization.
  ScriptAcceptingServer();
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE) << m_api.GetErrorMessage();
  EXPECT_EQ(EventNames(ReadShadow()), "Dentist");
  EXPECT_EQ(EventNames(ReadCacheManager()), "Dentist");
}

TEST_F(CalendarServerSyncTest, TheAccountIdFromTheServerReachesBothFamilies) {
  const UID128 issued = Gid(0x40);
  m_server->Answer(GidAnswer(issued));
  EXPECT_TRUE(m_api.RequestGIDFromServer(kUser, "secret"));
  EXPECT_EQ(m_api.GetGID(), issued);
  ASSERT_EQ(m_server->RequestCount(), 1u);
  EXPECT_NE(m_server->Requests()[0].find("<username>ann</username>"), std::string::npos);
  EXPECT_EQ(ReadCacheManager().GetGID(), issued);
  CategoryApi contacts = BrontelAPI::CreateCategoryApi(m_dir.path(), kUser);
  EXPECT_TRUE(contacts.HasCacheGID());
  EXPECT_EQ(contacts.GetGID(), issued);

  // The cache has an account id now: no second request is made.
  CalendarApi other = BrontelAPI::CreateCalendarApi(m_dir.path(), kRevision);
  EXPECT_TRUE(other.RequestGIDFromServer(kUser, "secret"));
  EXPECT_EQ(other.GetGID(), issued);
  EXPECT_EQ(m_server->RequestCount(), 1u);
}

TEST_F(CalendarServerSyncTest, ARefusedAccountIdRequestLeavesEverythingWithout) {
  m_server->Answer("<tandroresp sts=\"0\"/>");
  EXPECT_FALSE(m_api.RequestGIDFromServer(kUser, "wrong"));
  EXPECT_FALSE(m_api.HasGID());
  EXPECT_TRUE(ReadCacheManager().GetGID().IsZero());
  m_server->Fail(500);
  EXPECT_FALSE(m_api.RequestGIDFromServer(kUser, "secret"));
  EXPECT_NE(m_api.GetErrorMessage(), "");
}

// ---- contacts ----

class ContactServerSyncTest : public ServerSyncTest {
 protected:
  void SetUp() override {
    ServerSyncTest::SetUp();
    m_api = BrontelAPI::CreateCategoryApi(m_dir.path(), kUser);
  }

  CategoryCache ReadCache() const { return testing::ReadCache(FileBytes(CategoryApi::kCacheFile)); }
  CategoryManager ReadShadow() const {
    return testing::ReadManager(FileBytes(CategoryApi::kServerShadowFile));
  }

  const UID128 kGid = Gid(0x20);
  CategoryApi m_api;
};

// The answer of a server to a second pass that inserts one category and one
// contact in it: each echoed with its server id, the contact followed by its
// category link.
std::string AcceptCategoryAndContact(const UID128& gid, const std::string& request,
                                     uint32_t version) {
  const std::string category = ElementOf(request, "category");
  std::string contact = ElementOf(request, "contact");
  const std::string contactLid = AttributeOf(contact, "lid");
  contact = std::regex_replace(contact, std::regex("<link [^>]*/>"), "");
  return Answer(gid, version,
                Echo(category, 0x30, version) + Echo(contact, 0x31, version) +
                    Format("<contact act=\"4\" sid=\"31\" ver=\"%x\"><link psid=\"30\" "
                           "pver=\"%x\"/></contact>",
                           version, version));
}

TEST_F(ContactServerSyncTest, TwoPassesReportTheirStagesAndUnfiledContactsSurvive) {
  CategoryManager desktop = m_api.GetCategoryManager();
  Category family = testing::AddCategory(desktop, "Family", testing::CategoryKind::Published());
  testing::AddContact(desktop, family, "Smith");
  testing::AddContact(desktop, Category(), "Loner");
  ASSERT_TRUE(m_api.SetGID(kGid));
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);

  m_server->Answer(Answer(kGid, 0x10, "", true));
  m_server->AnswerWith(
      [this](const std::string& request) { return AcceptCategoryAndContact(kGid, request, 0x11); });
  ASSERT_EQ(m_api.SyncServer(RecordStage), ERR_NONE) << m_api.GetErrorMessage();
  EXPECT_EQ(g_stages, (std::vector<int>{0, 1, 2, 2, 4, 4, 6, 6, 2, 5, 5, 6, 6, 7}));
  const std::vector<std::string> requests = m_server->Requests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0],
            "<tandroreq ts=\"0\" ver=\"ffffffff\" rev=\"BRy2000m03d29t1052:ann\" lev=\"3\" "
            "typ=\"2\"><gid>" +
                kGid.GetString() + "</gid></tandroreq>");
  EXPECT_EQ(requests[1].find("Loner"), std::string::npos) << "unfiled contacts are not shared";

  // The unfiled contact is still in the cache, and on the desktop after the
  // next desktop synchronization.
  EXPECT_NE(testing::ContactNames(ReadCache().GetCategoryManager()).find("Loner"),
            std::string::npos);
  EXPECT_EQ(testing::ContactNames(ReadShadow()), "Smith");
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  EXPECT_NE(testing::ContactNames(m_api.GetCategoryManager()).find("Loner"), std::string::npos);
  EXPECT_NE(testing::ContactNames(m_api.GetCategoryManager()).find("Smith"), std::string::npos);
}

TEST_F(ContactServerSyncTest, ASecondPassThatSendsNothingWritesNoFile) {
  CategoryManager desktop = m_api.GetCategoryManager();
  Category family = testing::AddCategory(desktop, "Family", testing::CategoryKind::Published());
  testing::AddContact(desktop, family, "Smith");
  ASSERT_TRUE(m_api.SetGID(kGid));
  ASSERT_EQ(m_api.SyncDesktop(), ERR_NONE);
  m_server->Answer(Answer(kGid, 0x10, "", true));
  m_server->AnswerWith(
      [this](const std::string& request) { return AcceptCategoryAndContact(kGid, request, 0x11); });
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE) << m_api.GetErrorMessage();

  m_server->Answer(Answer(kGid, 0x11, ""));
  ExpectOnlyTheUpdateWritten([this] { return m_api.SyncServer(nullptr); }, CategoryApi::kCacheFile,
                             CategoryApi::kServerShadowFile);
  EXPECT_EQ(m_server->RequestCount(), 3u);
  EXPECT_EQ(testing::ContactNames(ReadShadow()), "Smith");
}

TEST_F(ContactServerSyncTest, AFailingFirstPassEndsTheSynchronizationAndKeepsTheShadow) {
  ASSERT_TRUE(m_api.SetGID(kGid));
  m_server->Answer(Answer(kGid, 0x10, "", true));
  ASSERT_EQ(m_api.SyncServer(nullptr), ERR_NONE);
  const std::string shadow = FileBytes(CategoryApi::kServerShadowFile);
  ASSERT_NE(shadow, testing::kMissing);

  m_server->Cut(Answer(kGid, 0x11, ""));
  EXPECT_NE(m_api.SyncServer(RecordStage), ERR_NONE);
  EXPECT_EQ(g_stages, (std::vector<int>{0, 1, 2, 2, 4, 4, 7}));
  EXPECT_EQ(FileBytes(CategoryApi::kServerShadowFile), shadow);
  EXPECT_EQ(m_server->RequestCount(), 2u);
}

TEST_F(ContactServerSyncTest, TheAccountIdFromTheServerReachesTheCalendarSide) {
  const UID128 issued = Gid(0x50);
  m_server->Answer(GidAnswer(issued));
  EXPECT_TRUE(m_api.RequestGIDFromServer(kUser, "secret"));
  EXPECT_EQ(m_api.GetGID(), issued);
  EXPECT_EQ(ReadCache().GetCategoryManager().GetGID(), issued);
  CalendarApi calendars = BrontelAPI::CreateCalendarApi(m_dir.path(), kRevision);
  EXPECT_TRUE(calendars.HasCacheGID());
  EXPECT_EQ(calendars.GetGID(), issued);
}

}  // namespace
}  // namespace brontel
