// Records this client inserted while the server's answer never reached the
// cache (a lost answer, or a cache write that failed after it): the next
// answer brings them under their server id alone, and each server pass must
// take them for the cache's own unacknowledged copies, which then are not
// sent again. The rule's edges, for both engines: a copy whose data, calendars
// or category differ is not taken, nor one the server already acknowledged,
// nor any copy of a cache that never took a server version (it has sent
// nothing), and one arrival takes exactly one of two equal copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/uid128.h"
#include "brontel/core/versioning.h"
#include "brontel/platform/format.h"
#include "brontel/sync/calendar_server_transformation.h"
#include "brontel/sync/category_server_transformation.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"
#include "support/scripted_sync_server.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddCategory;
using testing::AddContact;
using testing::AddEvent;
using testing::CalendarKind;
using testing::CategoryKind;

const UID128 kGid = testing::Gid(1);

// An answer at version, not full.
std::string Answer(uint32_t version, const std::string& records) {
  return Format("<tandroresp ts=\"0\" sts=\"1\" ver=\"%x\" full=\"0\"><gid>", version) +
         kGid.GetString() + "</gid>" + records + "</tandroresp>";
}

// How many live records of list have the name nameOf gives.
template <class List, class NameOf>
int32_t CountNamed(const List& list, const std::string& name, NameOf nameOf) {
  int32_t count = 0;
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (!list[i].IsDeleted() && nameOf(list[i]) == name) ++count;
  }
  return count;
}

// ---- Calendars and events ----

constexpr uint32_t kVersion = 0x10;
constexpr uint32_t kAnswerVersion = 0x11;
// The fixed ids of the cache's records that the server never acknowledged.
constexpr uint32_t kParty = 0x80000202, kOtherParty = 0x80000203, kGarden = 0x80000103;

// An event of an answer under its server id alone, on MakeEventDescriptor's
// date, placed in the calendars with server ids calendarSids.
std::string ServerEvent(uint32_t sid, const std::string& name,
                        std::initializer_list<uint32_t> calendarSids) {
  std::string links;
  for (uint32_t c : calendarSids) links += Format("<link psid=\"%x\" pver=\"11\"/>", c);
  return Format("<event sid=\"%x\" ver=\"11\" act=\"0\"><name>%s</name>", sid, name.c_str()) +
         "<time ymd=\"c861\" beg=\"900\" end=\"a00\"/>" + links + "</event>";
}

std::string ServerCalendar(uint32_t sid, const std::string& name) {
  return Format(
      "<calendar sid=\"%x\" ver=\"11\" act=\"1\" ro=\"0\" hide=\"0\" own=\"1\"><name>%s</name>"
      "<color>0</color></calendar>",
      sid, name.c_str());
}

class CalendarClaimTest : public testing::ApiTest {
  // Public: the cases' own set-up reaches the helpers.
 public:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<testing::ScriptedSyncServer>();
    Reset();
  }

  // The cache and the server in step at kVersion, both with the published
  // calendars Work and Home.
  void Reset() {
    m_cache = CalendarCache();
    Cache().SetGID(kGid);
    Cache().SetVersion(kVersion);
    m_shadow = CalendarManager::CreateEmpty();
    m_shadow.ConfirmServerManager();
    m_shadow.SetGID(kGid);
    m_shadow.SetVersion(kVersion);
    m_work = Shared("Work", 0x80000101, 0x21);
    m_home = Shared("Home", 0x80000102, 0x22);
  }

  CalendarManager Cache() const { return m_cache.GetCalendarManager(); }

  // A published calendar the cache and the server both hold; returns the
  // cache's.
  Calendar Shared(const std::string& name, uint32_t fixedId, uint32_t sid) {
    CalendarManager cache = Cache();
    Calendar mine = AddCalendar(cache, name, CalendarKind::Published(), fixedId);
    Calendar theirs = AddCalendar(m_shadow, name, CalendarKind::Published(), fixedId, sid);
    const uint32_t cacheId = m_cache.GenerateCacheId();
    for (Calendar c : {mine, theirs}) {
      c.SetCacheId(cacheId);
      c.SetVersion(5);
      c.SetDataHash(theirs.GetCalendarDescriptor().CalculateHash());
    }
    return mine;
  }

  // A new event of the cache, never acknowledged.
  Event Pending(const std::string& name, std::initializer_list<Calendar> calendars,
                uint32_t fixedId) {
    CalendarManager cache = Cache();
    return AddEvent(cache, name, calendars, fixedId);
  }

  // Runs the pass; the server answers it with answer (none: a pass that
  // sends anything fails).
  br_error RunPass(int32_t pass, const std::string& answer = "") {
    if (!answer.empty()) m_server->Answer(answer);
    CalendarServerTransformation engine;
    engine.SetPass(pass);
    engine.SetCache(m_cache);
    engine.SetServerShadow(m_shadow);
    const br_error result = engine.SyncServer(nullptr, m_dir.path().c_str(), nullptr, true);
    m_shadow = engine.GetServerShadow();
    return result;
  }

  // The fixed id the shadow gave the server's record sid.
  uint32_t FixedIdOfEvent(uint32_t sid) const {
    Event served = m_shadow.FindEventByServeId(sid, false);
    return served.IsNull() ? 0 : served.GetFixedId();
  }

  int32_t CacheEvents(const std::string& name) const {
    return CountNamed(Cache().GetEventList(), name,
                      [](const Event& e) { return e.GetEventDescriptor().GetName(); });
  }
  int32_t CacheCalendars(const std::string& name) const {
    return CountNamed(Cache().GetCalendarList(), name, [](const Calendar& c) {
      return c.GetCalendarDescriptor().GetCalendarName();
    });
  }

  std::unique_ptr<testing::ScriptedSyncServer> m_server;
  CalendarCache m_cache;
  CalendarManager m_shadow;
  Calendar m_work;
  Calendar m_home;
};

struct EventCase {
  std::string what;
  // The cache's unacknowledged events (and whatever else the case needs).
  std::function<void(CalendarClaimTest&)> prepare;
  // The events of the answer, each "Party" under its own server id.
  std::string answer;
  // The fixed id each arrival has afterwards: a claimed copy's, else its
  // server id.
  std::map<uint32_t, uint32_t> fixedIds;
  // How many events named Party the cache holds afterwards.
  int32_t parties;
};

TEST_F(CalendarClaimTest, AnArrivingEventTakesOnlyAnEqualUnacknowledgedCopyOnce) {
  const std::string one = ServerEvent(0x32, "Party", {0x21});
  const std::vector<EventCase> cases = {
      {"an equal copy",
       [](auto& t) { t.Pending("Party", {t.m_work}, kParty); },
       one,
       {{0x32, kParty}},
       1},
      {"an equal copy with an alarm of the user's own",
       [](auto& t) {
         EventDescriptor d = t.Pending("Party", {t.m_work}, kParty).GetEventDescriptor();
         d.SetAlarmFlag(true);
         d.SetAlarmAdvanceTime(10);
       },
       one,
       {{0x32, kParty}},
       1},
      {"another note",
       [](auto& t) {
         t.Pending("Party", {t.m_work}, kParty).GetEventDescriptor().SetNote("room 4");
       },
       one,
       {{0x32, 0x32}},
       2},
      {"another calendar",
       [](auto& t) { t.Pending("Party", {t.m_home}, kParty); },
       one,
       {{0x32, 0x32}},
       2},
      {"one calendar more",
       [](auto& t) {
         t.Pending("Party", {t.m_work, t.m_home}, kParty);
       },
       one,
       {{0x32, 0x32}},
       2},
      {"private, never sent",
       [](auto& t) {
         t.Pending("Party", {t.m_work}, kParty).GetEventDescriptor().SetIsPrivate(true);
       },
       one,
       {{0x32, 0x32}},
       2},
      {"a copy the server already acknowledged",
       [](auto& t) {
         t.Pending("Party", {t.m_work}, kParty);
         Event theirs =
             AddEvent(t.m_shadow, "Party", {t.m_shadow.FindCalendarByServeId(0x21, false)}, kParty);
         theirs.SetServeId(0x31);
         theirs.SetVersion(5);
       },
       one,
       {{0x32, 0x32}},
       2},
      {"a cache that never took a server version (a desktop joining the account)",
       [](auto& t) {
         t.Pending("Party", {t.m_work}, kParty);
         t.Cache().SetVersion(Versioning::InValidVersion());
       },
       one,
       {{0x32, 0x32}},
       2},
      {"two equal copies",
       [](auto& t) {
         t.Pending("Party", {t.m_work}, kParty);
         t.Pending("Party", {t.m_work}, kOtherParty);
       },
       one,
       {{0x32, kParty}},
       2},
      {"two arrivals, one copy",
       [](auto& t) { t.Pending("Party", {t.m_work}, kParty); },
       one + ServerEvent(0x33, "Party", {0x21}),
       {{0x32, kParty}, {0x33, 0x33}},
       2},
  };
  for (const EventCase& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    c.prepare(*this);
    ASSERT_EQ(RunPass(0, Answer(kAnswerVersion, c.answer)), ERR_NONE);
    for (const auto& [sid, fixedId] : c.fixedIds) EXPECT_EQ(FixedIdOfEvent(sid), fixedId) << sid;
    EXPECT_EQ(CacheEvents("Party"), c.parties);
  }
}

TEST_F(CalendarClaimTest, TheCopyLeftOverIsSentOnceAndTheClaimedOneNotAgain) {
  Pending("Party", {m_work}, kParty);
  Pending("Party", {m_work}, kOtherParty);
  ASSERT_EQ(RunPass(0, Answer(kAnswerVersion, ServerEvent(0x32, "Party", {0x21}))), ERR_NONE);
  ASSERT_EQ(RunPass(2, Answer(kAnswerVersion + 1, "")), ERR_NONE);
  const std::string request = m_server->Requests().back();
  EXPECT_EQ(request.find(Format("lid=\"%x\"", kParty)), std::string::npos) << request;
  EXPECT_NE(request.find(Format("lid=\"%x\"", kOtherParty)), std::string::npos) << request;
}

TEST_F(CalendarClaimTest, AClaimedCalendarCarriesItsEventsWithIt) {
  CalendarManager cache = Cache();
  Calendar garden = AddCalendar(cache, "Garden", CalendarKind::Published(), kGarden);
  Pending("Party", {m_work, garden}, kParty);
  ASSERT_EQ(RunPass(0, Answer(kAnswerVersion, ServerCalendar(0x23, "Garden") +
                                                  ServerEvent(0x32, "Party", {0x21, 0x23}))),
            ERR_NONE);
  EXPECT_EQ(m_shadow.FindCalendarByServeId(0x23, false).GetFixedId(), kGarden);
  EXPECT_EQ(FixedIdOfEvent(0x32), kParty);
  EXPECT_EQ(CacheCalendars("Garden"), 1);
  EXPECT_EQ(CacheEvents("Party"), 1);
  // Nothing is left to send: no later pass asks the server anything.
  for (int32_t pass : {1, 2, 3}) EXPECT_EQ(RunPass(pass), ERR_NONE) << pass;
  EXPECT_EQ(m_server->RequestCount(), 1u);
}

TEST_F(CalendarClaimTest, ACalendarThatDiffersIsNotClaimed) {
  CalendarManager cache = Cache();
  AddCalendar(cache, "Garden", CalendarKind::Published(), kGarden)
      .GetCalendarDescriptor()
      .SetDescription("vegetables");
  ASSERT_EQ(RunPass(0, Answer(kAnswerVersion, ServerCalendar(0x23, "Garden"))), ERR_NONE);
  EXPECT_EQ(m_shadow.FindCalendarByServeId(0x23, false).GetFixedId(), 0x23u);
  EXPECT_EQ(CacheCalendars("Garden"), 2);
}

// ---- Categories and contacts ----

// The server's state the seed brings cache and shadow to, at version 5: Work
// (published) with Adams, Club (another user's, writable).
constexpr uint32_t kSeedVersion = 5;
constexpr uint32_t kWork = 0x10, kClub = 0x11, kAdams = 0x20;
constexpr uint32_t kGreen = 0x80000301, kOtherGreen = 0x80000302, kAdamsCopy = 0x80000303;
constexpr uint32_t kGardenCategory = 0x80000401;

std::string CategoryElement(uint32_t sid, const std::string& name, bool owned,
                            uint32_t ver = kSeedVersion) {
  return Format(
      "<category act=\"1\" sid=\"%x\" ver=\"%x\" ro=\"0\" own=\"%d\"><name>%s</name></category>",
      sid, ver, owned ? 1 : 0, name.c_str());
}

// A contact known by its last name in the category with server id category.
std::string ContactElement(uint32_t sid, const std::string& last, uint32_t category,
                           uint32_t ver = kSeedVersion) {
  return Format("<contact act=\"1\" sid=\"%x\" ver=\"%x\"><datum index=\"12\">%s</datum></contact>",
                sid, ver, last.c_str()) +
         Format("<contact act=\"4\" sid=\"%x\"><link psid=\"%x\" pver=\"%x\"/></contact>", sid,
                category, ver);
}

class ContactClaimTest : public testing::ApiTest {
  // Public: the cases' own set-up reaches the helpers.
 public:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<testing::ScriptedSyncServer>();
    Reset();
  }

  // A new cache and shadow that the first pass brings to the seed state.
  void Reset() {
    m_cache = CategoryCache();
    m_shadow = CategoryManager::CreateEmpty();
    Cache().SetGID(kGid);
    ASSERT_EQ(RunPass(false, Answer(kSeedVersion, CategoryElement(kWork, "Work", true) +
                                                      CategoryElement(kClub, "Club", false) +
                                                      ContactElement(kAdams, "Adams", kWork))),
              ERR_NONE);
  }

  CategoryManager Cache() const { return m_cache.GetCategoryManager(); }
  Category CacheCategory(uint32_t fixedId) const { return Cache().FindByFixedId(fixedId, false); }

  // A new contact of the cache in the category with that fixed id, never
  // acknowledged.
  Contact Pending(const std::string& last, uint32_t category, uint32_t fixedId) {
    return AddContact(Cache(), CacheCategory(category), last, fixedId, fixedId & 0xFFFF);
  }

  // Runs the pass; the server answers it with answer (none: a pass that
  // sends anything fails).
  br_error RunPass(bool second, const std::string& answer = "") {
    if (!answer.empty()) m_server->Answer(answer);
    CategoryServerTransformation engine;
    engine.SetSecondPass(second);
    engine.SetUser("user");
    engine.SetCache(m_cache);
    engine.SetServerShadow(m_shadow);
    const br_error result = engine.SyncServer(nullptr, m_dir.path().c_str(), nullptr, true);
    m_cache = engine.GetCache();
    m_shadow = engine.GetServerShadow();
    return result;
  }

  uint32_t FixedIdOfContact(uint32_t sid) const {
    Contact served = m_shadow.FindContactByServeId(sid, false);
    return served.IsNull() ? 0 : served.GetFixedId();
  }

  int32_t CacheContacts(const std::string& last) const {
    return CountNamed(Cache().GetContactList(), last, [](const Contact& c) {
      return c.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName);
    });
  }

  std::unique_ptr<testing::ScriptedSyncServer> m_server;
  CategoryCache m_cache;
  CategoryManager m_shadow;
};

struct ContactCase {
  std::string what;
  std::function<void(ContactClaimTest&)> prepare;
  std::string answer;
  std::map<uint32_t, uint32_t> fixedIds;
  // How many contacts named last the cache holds afterwards.
  std::string last;
  int32_t count;
};

TEST_F(ContactClaimTest, AnArrivingContactTakesOnlyAnEqualUnacknowledgedCopyOnce) {
  const uint32_t v = kSeedVersion + 1;
  const std::string green = ContactElement(0x30, "Green", kWork, v);
  const std::vector<ContactCase> cases = {
      {"an equal copy",
       [](auto& t) { t.Pending("Green", kWork, kGreen); },
       green,
       {{0x30, kGreen}},
       "Green",
       1},
      {"another first name",
       [](auto& t) {
         t.Pending("Green", kWork, kGreen)
             .GetContactDescriptor()
             .SetDatum(ContactDescriptor::kFirstName, "Gus");
       },
       green,
       {{0x30, 0x30}},
       "Green",
       2},
      {"another category",
       [](auto& t) { t.Pending("Green", kClub, kGreen); },
       green,
       {{0x30, 0x30}},
       "Green",
       2},
      {"private, never sent",
       [](auto& t) { t.Pending("Green", kWork, kGreen).GetContactDescriptor().SetIsPrivate(true); },
       green,
       {{0x30, 0x30}},
       "Green",
       2},
      {"a copy the server already acknowledged",
       [](auto&) {},
       ContactElement(0x31, "Adams", kWork, v),
       {{0x31, 0x31}},
       "Adams",
       2},
      {"a cache that never took a server version (a desktop joining the account)",
       [](auto& t) {
         t.Pending("Green", kWork, kGreen);
         t.Cache().SetVersion(Versioning::InValidVersion());
       },
       green,
       {{0x30, 0x30}},
       "Green",
       2},
      {"two equal copies",
       [](auto& t) {
         t.Pending("Green", kWork, kGreen);
         t.Pending("Green", kWork, kOtherGreen);
       },
       green,
       {{0x30, kGreen}},
       "Green",
       2},
      {"two arrivals, one copy",
       [](auto& t) { t.Pending("Green", kWork, kGreen); },
       green + ContactElement(0x31, "Green", kWork, v),
       {{0x30, kGreen}, {0x31, 0x31}},
       "Green",
       2},
  };
  for (const ContactCase& c : cases) {
    SCOPED_TRACE(c.what);
    Reset();
    c.prepare(*this);
    ASSERT_EQ(RunPass(false, Answer(v, c.answer)), ERR_NONE);
    for (const auto& [sid, fixedId] : c.fixedIds) {
      EXPECT_EQ(FixedIdOfContact(sid), fixedId) << sid;
    }
    EXPECT_EQ(CacheContacts(c.last), c.count);
  }
}

TEST_F(ContactClaimTest, TheCopyLeftOverIsSentOnceAndTheClaimedOneNotAgain) {
  Pending("Green", kWork, kGreen);
  Pending("Green", kWork, kOtherGreen);
  ASSERT_EQ(RunPass(false, Answer(kSeedVersion + 1, ContactElement(0x30, "Green", kWork, 6))),
            ERR_NONE);
  ASSERT_EQ(RunPass(true, Answer(kSeedVersion + 2, "")), ERR_NONE);
  const std::string request = m_server->Requests().back();
  EXPECT_EQ(request.find(Format("lid=\"%x\"", kGreen)), std::string::npos) << request;
  EXPECT_NE(request.find(Format("lid=\"%x\"", kOtherGreen)), std::string::npos) << request;
}

TEST_F(ContactClaimTest, AClaimedCategoryCarriesItsContactsWithIt) {
  AddCategory(Cache(), "Garden", CategoryKind::Published(), kGardenCategory, 0x401);
  Pending("Green", kGardenCategory, kGreen);
  const uint32_t v = kSeedVersion + 1;
  ASSERT_EQ(RunPass(false, Answer(v, CategoryElement(0x40, "Garden", true, v) +
                                         ContactElement(0x30, "Green", 0x40, v))),
            ERR_NONE);
  EXPECT_EQ(m_shadow.FindByServeId(0x40, false).GetFixedId(), kGardenCategory);
  EXPECT_EQ(FixedIdOfContact(0x30), kGreen);
  EXPECT_EQ(CacheContacts("Green"), 1);
  // Nothing is left to send.
  const size_t asked = m_server->RequestCount();
  EXPECT_EQ(RunPass(true), ERR_NONE);
  EXPECT_EQ(m_server->RequestCount(), asked);
}

TEST_F(ContactClaimTest, ACategoryThatDiffersIsNotClaimed) {
  AddCategory(Cache(), "Garden", CategoryKind::Published(), kGardenCategory, 0x401)
      .GetCategoryDescriptor()
      .SetDescription("vegetables");
  const uint32_t v = kSeedVersion + 1;
  ASSERT_EQ(RunPass(false, Answer(v, CategoryElement(0x40, "Garden", true, v))), ERR_NONE);
  EXPECT_EQ(m_shadow.FindByServeId(0x40, false).GetFixedId(), 0x40u);
}

}  // namespace
}  // namespace brontel
