// Server synchronizations that meet a fault on the way to the real server:
// a refused connection, status 500, garbage, a truncated body, a connection
// cut mid-body after the server took the request, and a stall. Each fault is
// put on each exchange of one synchronization in turn (one exchange per pass
// here: four for calendars, two for contacts) for a desktop with new, edited
// and deleted records of an account that already holds data. A faulted
// synchronization must report the fault and leave the cache and the server
// shadow as they were when the faulted exchange went out (earlier passes of
// the same synchronization have written both). The next synchronization must
// then bring the desktop, and a second desktop of the same user, to the same
// records, which stay put; and to exactly the records of a synchronization
// without the fault, also when the server took new records whose answer was
// lost (AnswerLostAfterInserts).
#include <gtest/gtest.h>

#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/host/registry.h"
#include "brontel/platform/format.h"
#include "desktop_fixture.h"
#include "fault_proxy.h"
#include "server_process.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brontel::server::testing {
namespace {

using brontel::testing::AddCalendar;
using brontel::testing::AddCategory;
using brontel::testing::AddContact;
using brontel::testing::AddEvent;
using brontel::testing::CalendarKind;
using brontel::testing::CategoryKind;
using brontel::testing::ReadFileOrMissing;

enum class Family { kCalendars, kContacts };

const char* FamilyName(Family family) {
  return family == Family::kCalendars ? "calendars" : "contacts";
}

// ---- One family of a desktop ----

br_error SyncDesktop(Desktop& desktop, Family family) {
  desktop.NumberNewRecords();
  return family == Family::kCalendars ? desktop.CalendarObject().SyncDesktop()
                                      : desktop.ContactObject().SyncDesktop();
}

br_error SyncServer(Desktop& desktop, Family family) {
  return family == Family::kCalendars ? desktop.CalendarObject().SyncServer(nullptr)
                                      : desktop.ContactObject().SyncServer(nullptr);
}

std::string ErrorMessage(Desktop& desktop, Family family) {
  return family == Family::kCalendars ? desktop.CalendarObject().GetErrorMessage()
                                      : desktop.ContactObject().GetErrorMessage();
}

// What the desktop program runs for the family: its records into the cache,
// the cache with the server, the cache's changes back to it.
void Sync(Desktop& desktop, Family family) {
  EXPECT_EQ(SyncDesktop(desktop, family), ERR_NONE) << ErrorMessage(desktop, family);
  EXPECT_EQ(SyncServer(desktop, family), ERR_NONE) << ErrorMessage(desktop, family);
  EXPECT_EQ(SyncDesktop(desktop, family), ERR_NONE) << ErrorMessage(desktop, family);
}

// The bytes of the family's cache and server shadow files.
std::pair<std::string, std::string> Files(const Desktop& desktop, Family family) {
  auto bytes = [&](const char* name) {
    return ReadFileOrMissing(desktop.Directory() + "/" + name);
  };
  if (family == Family::kCalendars) {
    return {bytes(CalendarApi::kCacheFile), bytes(CalendarApi::kServerShadowFile)};
  }
  return {bytes(CategoryApi::kCacheFile), bytes(CategoryApi::kServerShadowFile)};
}

// The family's records on the desktop, and in its cache.
std::string Text(const Desktop& desktop, Family family) {
  return family == Family::kCalendars ? desktop.CalendarText() : desktop.ContactText();
}
std::string CacheText(const Desktop& desktop, Family family) {
  return family == Family::kCalendars ? Describe(desktop.CalendarCache())
                                      : Describe(desktop.ContactCache());
}

// ---- The account's data and the changes a synchronization sends ----

// Calendars Work, Home and Old, events Dentist (Home), Review (Work, Home)
// and Lunch (Home); categories Family, Friends and Old, contacts Smith and
// Jones (Family) and Brown (Friends). All shared, so all reach the server.
void Seed(Desktop& desktop, Family family) {
  if (family == Family::kCalendars) {
    CalendarManager calendars = desktop.Calendars();
    Calendar work = AddCalendar(calendars, "Work", CalendarKind::Published());
    Calendar home = AddCalendar(calendars, "Home", CalendarKind::Published());
    AddCalendar(calendars, "Old", CalendarKind::Published());
    AddEvent(calendars, "Dentist", {home});
    AddEvent(calendars, "Review", {work, home});
    AddEvent(calendars, "Lunch", {home});
    return;
  }
  CategoryManager contacts = desktop.Contacts();
  Category relatives = AddCategory(contacts, "Family", CategoryKind::Published());
  Category friends = AddCategory(contacts, "Friends", CategoryKind::Published());
  AddCategory(contacts, "Old", CategoryKind::Published());
  AddContact(contacts, relatives, "Smith");
  AddContact(contacts, relatives, "Jones");
  AddContact(contacts, friends, "Brown");
}

// New, edited and deleted records of both kinds: every pass of the family
// has something to send.
void Change(Desktop& desktop, Family family) {
  if (family == Family::kCalendars) {
    CalendarManager calendars = desktop.Calendars();
    Calendar garden = AddCalendar(calendars, "Garden", CalendarKind::Published());
    FindCalendar(calendars, "Home").GetCalendarDescriptor().SetCalendarName("House");
    ASSERT_TRUE(FindCalendar(calendars, "Old").Remove());
    AddEvent(calendars, "Party", {FindCalendar(calendars, "Work"), garden});
    FindEvent(calendars, "Review").GetEventDescriptor().SetNote("room 4");
    ASSERT_TRUE(FindEvent(calendars, "Dentist").Remove(true));
    return;
  }
  CategoryManager contacts = desktop.Contacts();
  Category club = AddCategory(contacts, "Club", CategoryKind::Published());
  FindCategory(contacts, "Friends").GetCategoryDescriptor().SetCategoryName("Pals");
  ASSERT_TRUE(FindCategory(contacts, "Old").Remove());
  AddContact(contacts, club, "Green");
  FindContact(contacts, "Smith")
      .GetContactDescriptor()
      .SetDatum(ContactDescriptor::kFirstName, "Sam");
  ASSERT_TRUE(FindContact(contacts, "Jones").Remove());
}

// ---- The faults ----

struct FaultKind {
  Fault fault;
  // What a synchronization that meets the fault gives, and how its error
  // message begins.
  br_error result;
  std::string message;
  // The server applied the request; only its answer was spoiled.
  bool serverTookIt;
};

const std::vector<FaultKind>& FaultKinds() {
  static const std::vector<FaultKind> kinds = {
      {Fault::kRefused, ERR_CONNECTION, "Internet connection error: ", false},
      {Fault::kHttp500, ERR_SERVER_QUERY, "Server query error 500", false},
      {Fault::kGarbage, ERR_XML_PARSE, "", true},
      {Fault::kTruncated, ERR_XML_PARSE, "", true},
      {Fault::kCutMidBody, ERR_CONNECTION, "Internet connection error: ", true},
      {Fault::kStallMidBody, ERR_CONNECTION, "Internet connection error: ", true},
  };
  return kinds;
}

// One family's synchronization as these tests run it.
struct FamilyPlan {
  Family family;
  // One exchange per pass.
  int32_t exchanges;
  // The exchanges that send new records.
  std::set<int32_t> inserting;
  // The records both desktops end with when nothing goes wrong.
  std::string expected;
};

const FamilyPlan kCalendarPlan = {
    Family::kCalendars,
    4,
    {2, 3},
    "calendar Garden owned shared\n"
    "calendar House owned shared\n"
    "calendar Work owned shared\n"
    "event \"Lunch\" on c861 900-a00 in House\n"
    "event \"Party\" on c861 900-a00 in Garden Work\n"
    "event \"Review\" on c861 900-a00 note \"room 4\" in House Work\n"};

const FamilyPlan kContactPlan = {
    Family::kContacts,
    2,
    {2},
    "category Club owned shared\n"
    "category Family owned shared\n"
    "category Pals owned shared\n"
    "contact in Club: 18=\"Green\" flags 0 options 0 offset 0\n"
    "contact in Family: 18=\"Smith\" 17=\"Sam\" flags 0 options 0 offset 0\n"
    "contact in Pals: 18=\"Brown\" flags 0 options 0 offset 0\n"};

// The server applied the insert of new records and the answer was lost. They
// come back from the next synchronization's first pass without the sender's
// id (lid "0": the server names a record's fixed id only to the request that
// made it); the pass must take them for the desktop's own unacknowledged
// records, or the next change pass sends those again and the account holds
// every one twice.
bool AnswerLostAfterInserts(const FamilyPlan& plan, const FaultKind& kind, int32_t nth) {
  return kind.serverTookIt && plan.inserting.count(nth) > 0;
}

// What one case came to.
struct Outcome {
  bool met = false;
  br_error result = ERR_NONE;
  // The failed synchronization left the cache and the shadow as it found
  // them at the faulted exchange.
  bool filesKept = false;
  // Both desktops hold the same records, and hold them still after one more
  // synchronization each.
  bool agreed = false;
  // ... and the records are those of a run without the fault.
  bool asWithoutFault = false;
  std::string text;
};

// ---- The frame ----

class ServerFaultTest : public brontel::testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    CRegistry registry;
    registry.SetConnectTimeoutSeconds(5);
    registry.SetStallTimeoutSeconds(kPatientSeconds);
    m_server = std::make_unique<ServerProcess>(m_serverDir.path());
    m_serverPort = m_server->WaitForPort();
    ASSERT_GT(m_serverPort, 0) << "the server did not start";
  }
  void TearDown() override {
    m_server.reset();
    ApiTest::TearDown();
  }

  std::unique_ptr<Desktop> NewDesktop(const std::string& user) {
    auto desktop = std::make_unique<Desktop>(user, user + "-secret");
    EXPECT_TRUE(desktop->SignIn()) << user;
    return desktop;
  }

  // A new account with the family's data; a desktop of it makes the changes
  // and synchronizes the family with the fault on exchange nth (none when
  // nth is 0); then that desktop synchronizes again and a second desktop of
  // the user joins. With expectReference, the records must be plan.expected.
  Outcome RunCase(const FamilyPlan& plan, const FaultKind& kind, int32_t nth,
                  bool expectReference) {
    const Family family = plan.family;
    SCOPED_TRACE(Format("%s, %s on exchange %d", FamilyName(family), FaultName(kind.fault), nth));
    Outcome outcome;
    // A proxy of the case's own: its end also ends an answer it holds stalled.
    FaultProxy proxy(m_serverPort);
    CRegistry().SetServerSyncName(proxy.Address());
    const std::string user = Format("user%d", ++m_users);
    auto first = NewDesktop(user);
    Seed(*first, family);
    Sync(*first, family);
    Change(*first, family);
    EXPECT_EQ(SyncDesktop(*first, family), ERR_NONE);

    std::pair<std::string, std::string> atFault;
    proxy.Arm(kind.fault, nth, [&] { atFault = Files(*first, family); });
    CRegistry().SetStallTimeoutSeconds(kStallSeconds);
    outcome.result = SyncServer(*first, family);
    CRegistry().SetStallTimeoutSeconds(kPatientSeconds);
    outcome.met = proxy.Met();
    m_exchanges = proxy.Exchanges();
    proxy.Disarm();
    const std::string message = ErrorMessage(*first, family);
    if (!outcome.met) {
      EXPECT_EQ(outcome.result, ERR_NONE) << message;
    } else {
      EXPECT_EQ(outcome.result, kind.result) << message;
      EXPECT_EQ(message.rfind(kind.message, 0), 0u) << message;
      // The cache and the shadow as the faulted exchange found them: what
      // the passes before it wrote, or the files before the synchronization
      // when the fault met the first exchange.
      outcome.filesKept = Files(*first, family) == atFault;
      EXPECT_TRUE(outcome.filesKept) << "the failed pass wrote the cache or the shadow";
      Sync(*first, family);
    }

    auto second = NewDesktop(user);
    Sync(*second, family);
    const std::string text = Text(*first, family);
    EXPECT_EQ(Text(*second, family), text);
    // Nothing moves any more: a further synchronization of either desktop
    // keeps the same records, and each desktop's cache holds what it shows.
    Sync(*first, family);
    Sync(*second, family);
    EXPECT_EQ(Text(*first, family), text);
    EXPECT_EQ(Text(*second, family), text);
    EXPECT_EQ(CacheText(*first, family), text);
    EXPECT_EQ(CacheText(*second, family), text);
    outcome.agreed = Text(*second, family) == text && Text(*first, family) == text;
    outcome.asWithoutFault = text == plan.expected;
    if (expectReference) {
      EXPECT_EQ(text, plan.expected);
    }
    outcome.text = text;
    return outcome;
  }

  // A run without a fault: every pass sends something, and the records are
  // the plan's.
  void CheckPlan(const FamilyPlan& plan) {
    RunCase(plan, FaultKind{Fault::kNone, ERR_NONE, "", false}, 0, true);
    ASSERT_EQ(m_exchanges, plan.exchanges) << "a pass sent nothing: not every pass is faulted";
  }

  // Every fault on every exchange of one synchronization of the family,
  // with one line of figures per fault.
  void RunEveryFault(const FamilyPlan& plan) {
    CheckPlan(plan);
    if (HasFatalFailure()) return;
    for (const FaultKind& kind : FaultKinds()) {
      int32_t cases = 0;
      int32_t kept = 0;
      int32_t agreed = 0;
      int32_t asWithoutFault = 0;
      int32_t lostInserts = 0;
      std::map<br_error, int32_t> results;
      for (int32_t nth = 1; nth <= plan.exchanges + 1; ++nth) {
        const Outcome outcome = RunCase(plan, kind, nth, true);
        if (!outcome.met) break;
        ++cases;
        ++results[outcome.result];
        kept += outcome.filesKept;
        agreed += outcome.agreed;
        asWithoutFault += outcome.asWithoutFault;
        lostInserts += AnswerLostAfterInserts(plan, kind, nth);
      }
      EXPECT_EQ(cases, plan.exchanges) << FaultName(kind.fault) << " did not meet every exchange";
      std::string codes;
      for (const auto& [code, count] : results) codes += Format(" %d in %d", code, count);
      std::printf(
          "server faults, %s, %s: %d cases (exchanges 1-%d); result%s; files kept %d; desktops "
          "agree %d; records as without the fault %d, of them with the answer to new records "
          "lost %d\n",
          FamilyName(plan.family), FaultName(kind.fault), cases, cases, codes.c_str(), kept, agreed,
          asWithoutFault, lostInserts);
    }
  }

  static constexpr int32_t kPatientSeconds = 30;
  // Long enough for a loaded machine to answer a request, short enough for a
  // stalled answer to end the exchange soon.
  static constexpr int32_t kStallSeconds = 1;

  brontel::testing::NoProxyEnvironment m_noProxy;
  brontel::testing::TempDir m_serverDir;
  std::unique_ptr<ServerProcess> m_server;
  int m_serverPort = 0;
  int32_t m_users = 0;
  int32_t m_exchanges = 0;
};

TEST_F(ServerFaultTest, ACalendarSyncThatMeetsAFaultInAnyPassKeepsItsFilesAndRecovers) {
  RunEveryFault(kCalendarPlan);
}

TEST_F(ServerFaultTest, AContactSyncThatMeetsAFaultInAnyPassKeepsItsFilesAndRecovers) {
  RunEveryFault(kContactPlan);
}

// The cases of AnswerLostAfterInserts alone, for both families.
TEST_F(ServerFaultTest, NewRecordsWhoseInsertAnswerWasLostAreStoredOnce) {
  for (const FamilyPlan* plan : {&kCalendarPlan, &kContactPlan}) {
    for (const FaultKind& kind : FaultKinds()) {
      for (int32_t nth : plan->inserting) {
        if (AnswerLostAfterInserts(*plan, kind, nth)) RunCase(*plan, kind, nth, true);
      }
    }
  }
}

}  // namespace
}  // namespace brontel::server::testing
