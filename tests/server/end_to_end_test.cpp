// The library's server synchronization against the real server program:
// desktops, each a cache directory with a calendar and a contact API object
// kept across synchronizations as a desktop program keeps them, synchronize
// through `brontel-server` on loopback, with a fresh database per test. The
// tests compare what the desktops end up with as canonical text: two desktops
// of one user converge, deletions and moves travel, a concurrent edit ends as
// one conflict that loses nothing, shares reach another user as granted, and
// a restarted server keeps everything.
#include <gtest/gtest.h>

#include <algorithm>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
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
#include "brontel/host/registry.h"
#include "brontel/host/user_notice_manager.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/format.h"
#include "desktop_fixture.h"
#include "server/sqlite_storage.h"
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
using brontel::testing::PlacementOf;

constexpr uint16_t kMarch8 = (2004 - 1904) << 9 | 3 << 5 | 8;
constexpr uint16_t kMarch15 = (2004 - 1904) << 9 | 3 << 5 | 15;
constexpr uint16_t kMarch22 = (2004 - 1904) << 9 | 3 << 5 | 22;

// ---- The frame ----

class EndToEndTest : public brontel::testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    CRegistry registry;
    registry.SetConnectTimeoutSeconds(5);
    registry.SetStallTimeoutSeconds(30);
    m_server = std::make_unique<ServerProcess>(m_serverDir.path());
    PointAt(m_server->WaitForPort());
  }
  void TearDown() override {
    m_server.reset();
    ApiTest::TearDown();
  }

  // The settings store names the server at port.
  void PointAt(int port) {
    ASSERT_GT(port, 0) << "the server did not start";
    CRegistry().SetServerSyncName(Format("127.0.0.1:%d", port));
  }

  // A desktop of user, signed in.
  std::unique_ptr<Desktop> NewDesktop(const std::string& user) {
    auto desktop = std::make_unique<Desktop>(user, user + "-secret");
    EXPECT_TRUE(desktop->SignIn()) << desktop->CalendarObject().GetErrorMessage();
    return desktop;
  }

  // `brontel-server share` of owner's calendar or category name to user,
  // with mode --read-only, --read-write or --hide-details.
  int Share(const std::string& kind, const std::string& name, const std::string& mode,
            const std::string& owner = "ann", const std::string& user = "bob") {
    return RunServerCommand({"share", "--db", m_server->Database(), "--owner", owner, "--to", user,
                             "--" + kind, name, mode});
  }

  // What the server keeps of user's own: the live records of each kind.
  std::string LiveRecordsOf(const std::string& user) {
    SqliteStorage storage(m_server->Database());
    std::optional<Account> account = storage.FindAccountByName(user);
    if (!account) return "no account " + user;
    std::string counts;
    for (RecordKind kind :
         {RecordKind::kCalendar, RecordKind::kEvent, RecordKind::kCategory, RecordKind::kContact}) {
      int32_t live = 0;
      for (const StoredRecord& record : storage.RecordsOwnedBy(kind, account->id)) {
        if (!record.deleted) ++live;
      }
      counts += Format("%s%d", counts.empty() ? "" : " ", live);
    }
    return counts;
  }

  brontel::testing::NoProxyEnvironment m_noProxy;
  brontel::testing::TempDir m_serverDir;
  std::unique_ptr<ServerProcess> m_server;
};

// ---- Finding and making records ----

// A weekly event on Mondays from 1 March 2004 without end, 15 March left out.
Event AddWeekly(CalendarManager manager, const std::string& name,
                std::initializer_list<Calendar> calendars) {
  Event event = AddEvent(manager, name, calendars);
  EventDescriptor d = event.GetEventDescriptor();
  d.SetRepeatType(EventDescriptor::kRepeatWeekly);
  d.SetRepeatFrequency(1);
  d.SetRepeatOn(0x02);
  d.SetRepeatEndYearMonthDate(EventDescriptor::kNoEndDate);
  d.AddExceptionYearMonthDate(kMarch15);
  return event;
}

// A repeat exception of the event named name on date: the occurrence moved to
// 11:00, that date left out of the event.
Event AddException(const CalendarManager& manager, const std::string& name, uint16_t date) {
  Event event = FindEvent(manager, name);
  EventDescriptor moved = event.GetEventDescriptor().Clone();
  moved.SetName(name + " moved");
  moved.SetRepeatType(EventDescriptor::kRepeatNone);
  moved.ClearExceptions();
  moved.SetYearMonthDate(date);
  moved.SetStartTime(0x0B00);
  moved.SetEndTime(0x0C00);
  event.GetEventDescriptor().AddExceptionYearMonthDate(date);
  return event.CreateCloneEvent(moved, 0, 0);
}

void Unplace(const CalendarManager& manager, const std::string& event,
             const std::string& calendar) {
  ASSERT_TRUE(PlacementOf(FindEvent(manager, event), FindCalendar(manager, calendar)).Remove());
}

void Place(const CalendarManager& manager, const std::string& event, const std::string& calendar) {
  Calendar target = FindCalendar(manager, calendar);
  FindEvent(manager, event).AddToCalendar(target);
}

void SetDatum(const CategoryManager& manager, const std::string& last, int32_t index,
              const std::string& value) {
  FindContact(manager, last).GetContactDescriptor().SetDatum(index, value);
}

// Ann's data as her first desktop makes it: calendars Work and Home with
// Dentist (Home), Review (both) and Lunch (Home); categories Family with
// Smith and Jones, Friends with Brown.
void SeedAnn(Desktop& desktop) {
  CalendarManager calendars = desktop.Calendars();
  Calendar work = AddCalendar(calendars, "Work", CalendarKind::Published());
  Calendar home = AddCalendar(calendars, "Home", CalendarKind::Published());
  AddEvent(calendars, "Dentist", {home});
  AddEvent(calendars, "Review", {work, home});
  AddEvent(calendars, "Lunch", {home});
  CategoryManager contacts = desktop.Contacts();
  Category family = AddCategory(contacts, "Family", CategoryKind::Published());
  Category friends = AddCategory(contacts, "Friends", CategoryKind::Published());
  AddContact(contacts, family, "Smith");
  AddContact(contacts, family, "Jones");
  AddContact(contacts, friends, "Brown");
}

// ---- Two desktops of one user ----

TEST_F(EndToEndTest, TwoDesktopsOfOneUserConverge) {
  auto first = NewDesktop("ann");
  auto second = NewDesktop("ann");
  ASSERT_FALSE(first->CalendarObject().GetGID().IsZero());
  EXPECT_EQ(second->CalendarObject().GetGID(), first->CalendarObject().GetGID());
  EXPECT_EQ(second->ContactObject().GetGID(), first->CalendarObject().GetGID());

  // The first desktop: shared calendars with an event in both, a repeating
  // one and texts the documents must carry byte for byte; a local calendar,
  // a private event and an unfiled contact that stay on this desktop.
  CalendarManager calendars = first->Calendars();
  Calendar work = AddCalendar(calendars, "Work", CalendarKind::Published());
  Calendar home = AddCalendar(calendars, "Home & <Garden>", CalendarKind::Published());
  Calendar diary = AddCalendar(calendars, "Diary");
  Event review = AddEvent(calendars, "Review", {work, home, diary});
  review.GetEventDescriptor().SetNote("room 4\n\"bring\" <notes> & 100% +1\t\\");
  WebContent& web = review.GetEventDescriptor().GetWebContent();
  web.SetButtonLabel("Agenda");
  web.SetDesktopURL("http://example.com/a?b=1&c=%20");
  AddWeekly(calendars, "Standup", {work});
  AddEvent(calendars, "Secret", {work}).GetEventDescriptor().SetIsPrivate(true);
  CategoryManager contacts = first->Contacts();
  Category family = AddCategory(contacts, "Family", CategoryKind::Published());
  Contact jones = AddContact(contacts, family, "Jones");
  ContactDescriptor d = jones.GetContactDescriptor();
  d.SetDatum(ContactDescriptor::kFirstName, "Al");
  d.SetDatum(ContactDescriptor::kCompany, "O'Neil & Sons <Ltd>");
  d.SetDatum(ContactDescriptor::kFirstPhone, "555-0101");
  d.SetDatum(3, "12 High St\r\nTown");
  d.SetFlags(0x15);
  d.SetOptions(0x210);
  d.SetOffset(2);
  AddContact(contacts, Category(), "Loner");

  // The second desktop adds its own before its first synchronization: its
  // store numbers them as the first desktop's store did.
  CalendarManager others = second->Calendars();
  Calendar gym = AddCalendar(others, "Gym", CalendarKind::Published());
  AddWeekly(others, "Swim", {gym});
  CategoryManager otherContacts = second->Contacts();
  AddContact(otherContacts, AddCategory(otherContacts, "Friends", CategoryKind::Published()),
             "Brown");

  EXPECT_EQ(first->Sync(), Conflicts{});
  EXPECT_EQ(second->Sync(), Conflicts{});
  // Each cuts an exception out of its repeating event; the second desktop
  // shows its exception in the first desktop's calendar as well.
  AddException(first->Calendars(), "Standup", kMarch8);
  Event moved = AddException(second->Calendars(), "Swim", kMarch22);
  Calendar workOfSecond = FindCalendar(second->Calendars(), "Work");
  moved.AddToCalendar(workOfSecond);
  EXPECT_EQ(first->Sync(), Conflicts{});
  EXPECT_EQ(second->Sync(), Conflicts{});
  // The first desktop fetches what the second sent last.
  EXPECT_EQ(first->Sync(), Conflicts{});

  const std::string shared =
      "calendar Gym owned shared\n"
      "calendar Home & <Garden> owned shared\n"
      "calendar Work owned shared\n"
      "event \"Review\" on c861 900-a00 note \"room 4\n\"bring\" <notes> & 100% +1\t\\\" web "
      "\"Agenda\" \"http://example.com/a?b=1&c=%20\" \"\" in Home & <Garden> Work\n"
      "event \"Standup moved\" on c868 b00-c00 in Work exception of Standup\n"
      "event \"Standup\" on c861 900-a00 repeat 2 every 1 on 2 from 0 until ffff except c868 "
      "except c86f in Work\n"
      "event \"Swim moved\" on c876 b00-c00 in Gym Work exception of Swim\n"
      "event \"Swim\" on c861 900-a00 repeat 2 every 1 on 2 from 0 until ffff except c86f except "
      "c876 in Gym\n";
  EXPECT_EQ(second->CalendarText(), shared);
  EXPECT_EQ(Describe(first->Calendars().SharedClone()), shared);
  const std::string sharedContacts =
      "category Family owned shared\n"
      "category Friends owned shared\n"
      "contact in Family: 18=\"Jones\" 17=\"Al\" 16=\"O'Neil & Sons <Ltd>\" 15=\"555-0101\" "
      "3=\"12 High St\r\nTown\" flags 15 options 210 offset 2\n"
      "contact in Friends: 18=\"Brown\" flags 0 options 0 offset 0\n";
  EXPECT_EQ(second->ContactText(), sharedContacts);
  EXPECT_EQ(Describe(first->Contacts().SharedClone()), sharedContacts);
  // The first desktop's own records stayed there.
  const std::string mine = first->CalendarText() + first->ContactText();
  EXPECT_NE(mine.find("calendar Diary owned\n"), std::string::npos) << mine;
  EXPECT_NE(mine.find(" in Diary Home & <Garden> Work\n"), std::string::npos) << mine;
  EXPECT_NE(mine.find("event \"Secret\" on c861 900-a00 private in Work\n"), std::string::npos)
      << mine;
  EXPECT_NE(mine.find("contact in Unfiled: 18=\"Loner\""), std::string::npos) << mine;
  // Calendars, events, categories, contacts: each once on the server.
  EXPECT_EQ(LiveRecordsOf("ann"), "3 5 2 2");
  EXPECT_TRUE(InStep(*first));
  EXPECT_TRUE(InStep(*second));
}

TEST_F(EndToEndTest, EqualRecordsMadeOnTwoDesktopsBeforeTheirFirstSyncStayTwoRecords) {
  auto first = NewDesktop("ann");
  auto second = NewDesktop("ann");
  // Both stores number their records alike, so these equal records get
  // equal provisional fixed ids. Each desktop keeps its own: the server must
  // not take the second for a repeat of the first.
  for (Desktop* desktop : {first.get(), second.get()}) {
    CalendarManager calendars = desktop->Calendars();
    Calendar work = AddCalendar(calendars, "Work", CalendarKind::Published());
    AddEvent(calendars, "Meeting", {work});
    CategoryManager contacts = desktop->Contacts();
    AddContact(contacts, AddCategory(contacts, "Family", CategoryKind::Published()), "Smith");
  }
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(first->Sync(), Conflicts{});
    EXPECT_EQ(second->Sync(), Conflicts{});
  }
  const std::string calendars =
      "calendar Work owned shared\n"
      "calendar Work owned shared\n"
      "event \"Meeting\" on c861 900-a00 in Work\n"
      "event \"Meeting\" on c861 900-a00 in Work\n";
  const std::string contacts =
      "category Family owned shared\n"
      "category Family owned shared\n"
      "contact in Family: 18=\"Smith\" flags 0 options 0 offset 0\n"
      "contact in Family: 18=\"Smith\" flags 0 options 0 offset 0\n";
  EXPECT_EQ(LiveRecordsOf("ann"), "2 2 2 2");
  for (Desktop* desktop : {first.get(), second.get()}) {
    EXPECT_EQ(desktop->CalendarText(), calendars);
    EXPECT_EQ(desktop->ContactText(), contacts);
    EXPECT_TRUE(InStep(*desktop));
  }
}

// ---- Deletions, moves and withdrawals ----

TEST_F(EndToEndTest, DeletionsAndMovesReachTheOtherDesktopAndASubscriber) {
  auto first = NewDesktop("ann");
  auto second = NewDesktop("ann");
  auto bob = NewDesktop("bob");
  SeedAnn(*first);
  first->Sync();
  second->Sync();
  ASSERT_EQ(Share("calendar", "Home", "--read-only"), 0);
  ASSERT_EQ(Share("category", "Family", "--read-only"), 0);
  bob->Sync();
  EXPECT_EQ(bob->CalendarText(),
            "calendar Home shared read-only\n"
            "event \"Dentist\" on c861 900-a00 in Home\n"
            "event \"Lunch\" on c861 900-a00 in Home\n"
            "event \"Review\" on c861 900-a00 in Home\n");

  CalendarManager calendars = first->Calendars();
  ASSERT_TRUE(FindEvent(calendars, "Dentist").Remove(true));
  Unplace(calendars, "Lunch", "Home");
  Place(calendars, "Lunch", "Work");
  CategoryManager contacts = first->Contacts();
  ASSERT_TRUE(FindContact(contacts, "Jones").Remove());
  FindContact(contacts, "Smith").SetCategory(FindCategory(contacts, "Friends"));
  first->Sync();
  second->Sync();
  bob->Sync();
  EXPECT_EQ(second->CalendarText(),
            "calendar Home owned shared\n"
            "calendar Work owned shared\n"
            "event \"Lunch\" on c861 900-a00 in Work\n"
            "event \"Review\" on c861 900-a00 in Home Work\n");
  EXPECT_EQ(second->ContactText(),
            "category Family owned shared\n"
            "category Friends owned shared\n"
            "contact in Friends: 18=\"Brown\" flags 0 options 0 offset 0\n"
            "contact in Friends: 18=\"Smith\" flags 0 options 0 offset 0\n");
  EXPECT_EQ(first->CalendarText(), second->CalendarText());
  EXPECT_EQ(first->ContactText(), second->ContactText());
  EXPECT_EQ(bob->CalendarText(),
            "calendar Home shared read-only\n"
            "event \"Review\" on c861 900-a00 in Home\n");
  EXPECT_EQ(bob->ContactText(), "category Family shared read-only\n");

  // A calendar deleted on one desktop leaves the server with the events only
  // it showed. Another desktop of the owner keeps it as a calendar of its
  // own, no longer shared; a subscriber loses it.
  ASSERT_TRUE(FindCalendar(second->Calendars(), "Home").Remove());
  second->Sync();
  first->Sync();
  bob->Sync();
  EXPECT_EQ(second->CalendarText(),
            "calendar Work owned shared\n"
            "event \"Lunch\" on c861 900-a00 in Work\n"
            "event \"Review\" on c861 900-a00 in Work\n");
  EXPECT_EQ(first->CalendarText(),
            "calendar Home owned\n"
            "calendar Work owned shared\n"
            "event \"Lunch\" on c861 900-a00 in Work\n"
            "event \"Review\" on c861 900-a00 in Home Work\n");
  EXPECT_EQ(bob->CalendarText(), "");
  for (Desktop* desktop : {first.get(), second.get(), bob.get()}) EXPECT_TRUE(InStep(*desktop));
}

TEST_F(EndToEndTest, RecordsMadePrivateLeaveTheOtherDesktopsAndStayOnTheirOwn) {
  auto first = NewDesktop("ann");
  auto second = NewDesktop("ann");
  SeedAnn(*first);
  first->Sync();
  second->Sync();
  FindEvent(first->Calendars(), "Lunch").GetEventDescriptor().SetIsPrivate(true);
  FindContact(first->Contacts(), "Jones").GetContactDescriptor().SetIsPrivate(true);
  for (int round = 0; round < 2; ++round) {
    EXPECT_EQ(first->Sync(), Conflicts{});
    EXPECT_EQ(second->Sync(), Conflicts{});
  }
  EXPECT_NE(second->CalendarText().find("Dentist"), std::string::npos) << second->CalendarText();
  EXPECT_EQ(second->CalendarText().find("Lunch"), std::string::npos) << second->CalendarText();
  EXPECT_EQ(second->ContactText().find("Jones"), std::string::npos) << second->ContactText();
  EXPECT_NE(first->CalendarText().find("event \"Lunch\" on c861 900-a00 private in Home\n"),
            std::string::npos)
      << first->CalendarText();
  EXPECT_NE(first->ContactText().find(
                "contact in Family: 18=\"Jones\" flags 0 options 0 offset 0 private\n"),
            std::string::npos)
      << first->ContactText();
  EXPECT_EQ(Describe(first->Calendars().SharedClone()), second->CalendarText());
  EXPECT_EQ(Describe(first->Contacts().SharedClone()), second->ContactText());
  EXPECT_TRUE(InStep(*first));
  EXPECT_TRUE(InStep(*second));
}

// ---- Concurrent edits ----

TEST_F(EndToEndTest, ConcurrentEditsEndAsOneConflictOnTheDesktopThatSyncsSecond) {
  auto first = NewDesktop("ann");
  auto second = NewDesktop("ann");
  SeedAnn(*first);
  first->Sync();
  second->Sync();

  FindEvent(first->Calendars(), "Review").GetEventDescriptor().SetNote("room 4");
  SetDatum(first->Contacts(), "Smith", ContactDescriptor::kFirstPhone, "555-0104");
  FindEvent(second->Calendars(), "Review").GetEventDescriptor().SetNote("room 5");
  SetDatum(second->Contacts(), "Smith", ContactDescriptor::kFirstPhone, "555-0105");
  EXPECT_EQ(first->Sync(), Conflicts{});
  EXPECT_EQ(second->Sync(), (Conflicts{1, 1}));
  EXPECT_EQ(first->Sync(), Conflicts{});

  // The first desktop's edit won on the server; the second desktop offers its
  // own as the alternative, on the desktop and in its cache.
  const std::string review = "event \"Review\" on c861 900-a00 note \"room 4\" in Home Work";
  const std::string smith =
      "contact in Family: 18=\"Smith\" 15=\"555-0104\" flags 0 options 0 offset 0";
  EXPECT_EQ(EventLine(first->Calendars(), FindEvent(first->Calendars(), "Review")), review);
  EXPECT_EQ(ContactLine(FindContact(first->Contacts(), "Smith")), smith);
  EXPECT_EQ(EventLine(second->Calendars(), FindEvent(second->Calendars(), "Review")),
            review + " conflict \"Review\" on c861 900-a00 note \"room 5\"");
  EXPECT_EQ(ContactLine(FindContact(second->Contacts(), "Smith")),
            smith + " conflict 18=\"Smith\" 15=\"555-0105\" flags 0 options 0 offset 0");
  EXPECT_TRUE(InStep(*first));
  EXPECT_TRUE(InStep(*second));

  // The conflict is counted once; the user then takes the alternative, and
  // it reaches the first desktop.
  EXPECT_EQ(second->Sync(), Conflicts{});
  FindEvent(second->Calendars(), "Review").AcceptConflict();
  FindContact(second->Contacts(), "Smith").AcceptConflict();
  EXPECT_EQ(second->Sync(), Conflicts{});
  EXPECT_EQ(first->Sync(), Conflicts{});
  EXPECT_EQ(EventLine(first->Calendars(), FindEvent(first->Calendars(), "Review")),
            "event \"Review\" on c861 900-a00 note \"room 5\" in Home Work");
  EXPECT_EQ(ContactLine(FindContact(first->Contacts(), "Smith")),
            "contact in Family: 18=\"Smith\" 15=\"555-0105\" flags 0 options 0 offset 0");
  EXPECT_EQ(second->CalendarText(), first->CalendarText());
  EXPECT_EQ(second->ContactText(), first->ContactText());
}

// ---- Sharing with another user ----

TEST_F(EndToEndTest, ReadOnlySharesAreRepairedOrKeptLocalAndReadWriteSharesCarryEdits) {
  auto ann = NewDesktop("ann");
  auto bob = NewDesktop("bob");
  SeedAnn(*ann);
  ann->Sync();
  const std::string annBefore = ann->CalendarText() + ann->ContactText();
  ASSERT_EQ(Share("calendar", "Work", "--read-only"), 0);
  ASSERT_EQ(Share("category", "Family", "--read-only"), 0);
  bob->Sync();
  EXPECT_EQ(bob->CalendarText(),
            "calendar Work shared read-only\n"
            "event \"Review\" on c861 900-a00 in Work\n");
  EXPECT_EQ(bob->ContactText(),
            "category Family shared read-only\n"
            "contact in Family: 18=\"Jones\" flags 0 options 0 offset 0\n"
            "contact in Family: 18=\"Smith\" flags 0 options 0 offset 0\n");

  // Bob edits and deletes a contact of the read-only category, and edits an
  // event of the read-only calendar.
  SetDatum(bob->Contacts(), "Smith", ContactDescriptor::kFirstName, "Sam");
  ASSERT_TRUE(FindContact(bob->Contacts(), "Jones").Remove());
  FindEvent(bob->Calendars(), "Review").GetEventDescriptor().SetNote("bob's note");
  bob->Sync();
  // The contact edit is undone and kept as a new contact in Unfiled; the
  // deletion is undone already by the desktop step, which restores a
  // contact of a read-only category that the cache did not change.
  EXPECT_EQ(bob->TakeContactNotices(), "Contact Smith, Sam moved to Unfiled\n");
  EXPECT_EQ(bob->ContactText(),
            "category Family shared read-only\n"
            "contact in Family: 18=\"Jones\" flags 0 options 0 offset 0\n"
            "contact in Family: 18=\"Smith\" flags 0 options 0 offset 0\n"
            "contact in Unfiled: 18=\"Smith\" 17=\"Sam\" flags 0 options 0 offset 0\n");
  // The event edit was not sent: Ann's data is as it was.
  EXPECT_EQ(ann->Sync(), Conflicts{});
  EXPECT_EQ(ann->CalendarText() + ann->ContactText(), annBefore);
  EXPECT_TRUE(InStep(*bob));

  // Made writable, the calendar takes Bob's edits to Ann.
  ASSERT_EQ(Share("calendar", "Work", "--read-write"), 0);
  bob->Sync();
  EXPECT_NE(bob->CalendarText().find("calendar Work shared\n"), std::string::npos)
      << bob->CalendarText();
  FindEvent(bob->Calendars(), "Review").GetEventDescriptor().SetNote("agenda by bob");
  CalendarManager bobs = bob->Calendars();
  AddEvent(bobs, "Kickoff", {FindCalendar(bobs, "Work")});
  bob->Sync();
  ann->Sync();
  EXPECT_EQ(ann->CalendarText(),
            "calendar Home owned shared\n"
            "calendar Work owned shared\n"
            "event \"Dentist\" on c861 900-a00 in Home\n"
            "event \"Kickoff\" on c861 900-a00 in Work\n"
            "event \"Lunch\" on c861 900-a00 in Home\n"
            "event \"Review\" on c861 900-a00 note \"agenda by bob\" in Home Work\n");
  EXPECT_EQ(bob->CalendarText(),
            "calendar Work shared\n"
            "event \"Kickoff\" on c861 900-a00 in Work\n"
            "event \"Review\" on c861 900-a00 note \"agenda by bob\" in Work\n");
  EXPECT_TRUE(InStep(*ann));
  EXPECT_TRUE(InStep(*bob));
}

TEST_F(EndToEndTest, ADeletionCaughtByANarrowedShareIsRestoredWithItsNotice) {
  auto ann = NewDesktop("ann");
  auto bob = NewDesktop("bob");
  SeedAnn(*ann);
  ann->Sync();
  ASSERT_EQ(Share("category", "Family", "--read-write"), 0);
  bob->Sync();
  // Bob deletes Jones, and the deletion reaches his cache; before his server
  // pass sends it, Ann makes Family read-only for everyone she shares it with.
  ASSERT_TRUE(FindContact(bob->Contacts(), "Jones").Remove());
  ASSERT_EQ(bob->ContactObject().SyncDesktop(), ERR_NONE);
  FindCategory(ann->Contacts(), "Family").GetCategoryDescriptor().SetReadOnlyFlag(true);
  ann->Sync();
  bob->Sync();
  EXPECT_EQ(bob->TakeContactNotices(), "Deleted contact Jones restored to category Family\n");
  EXPECT_EQ(bob->ContactText(),
            "category Family shared read-only\n"
            "contact in Family: 18=\"Jones\" flags 0 options 0 offset 0\n"
            "contact in Family: 18=\"Smith\" flags 0 options 0 offset 0\n");
  ann->Sync();
  EXPECT_NE(ann->ContactText().find("18=\"Jones\""), std::string::npos) << ann->ContactText();
  EXPECT_TRUE(InStep(*bob));
}

// ---- A restarted server ----

TEST_F(EndToEndTest, ARestartedServerKeepsEverything) {
  auto first = NewDesktop("ann");
  auto second = NewDesktop("ann");
  auto bob = NewDesktop("bob");
  SeedAnn(*first);
  AddWeekly(first->Calendars(), "Standup", {FindCalendar(first->Calendars(), "Work")});
  first->Sync();
  ASSERT_EQ(Share("calendar", "Work", "--read-only"), 0);
  AddException(first->Calendars(), "Standup", kMarch8);
  ASSERT_TRUE(FindEvent(first->Calendars(), "Dentist").Remove(true));
  for (int round = 0; round < 2; ++round) {
    for (Desktop* desktop : {first.get(), second.get(), bob.get()}) desktop->Sync();
  }
  std::vector<std::string> texts;
  std::vector<std::pair<uint32_t, uint32_t>> versions;
  for (Desktop* desktop : {first.get(), second.get(), bob.get()}) {
    texts.push_back(desktop->CalendarText() + desktop->ContactText());
    versions.push_back(desktop->CacheVersions());
  }
  ASSERT_NE(texts[2].find("Standup moved"), std::string::npos) << texts[2];

  PointAt(m_server->Restart());
  // A third synchronization finds nothing to do: no desktop changes, and the
  // server's version stands, so nothing was applied there.
  int index = 0;
  for (Desktop* desktop : {first.get(), second.get(), bob.get()}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(desktop->Sync(), Conflicts{});
    EXPECT_EQ(desktop->CalendarText() + desktop->ContactText(), texts[index]);
    EXPECT_EQ(desktop->CacheVersions(), versions[index]);
    EXPECT_TRUE(InStep(*desktop));
    ++index;
  }
  // The account is kept too: a new desktop of Ann gets her id and her data.
  auto third = NewDesktop("ann");
  EXPECT_EQ(third->CalendarObject().GetGID(), first->CalendarObject().GetGID());
  third->Sync();
  EXPECT_EQ(third->CalendarText() + third->ContactText(), texts[1]);
}

}  // namespace
}  // namespace brontel::server::testing
