// New records whose insert the real server took while the client never kept
// its answer: here the cache write of the server pass that sent them fails,
// so neither the cache nor the server shadow learns the records' server ids.
// The next synchronization brings them back from the server under their
// server ids alone; it must take them for the desktop's own records and not
// send those again, so that each record is held once, by the desktop, by a
// second desktop of the user and by the server.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <utility>

#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/host/registry.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "desktop_fixture.h"
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

// Fails the nth rename onto a file whose name ends in name, the last step of
// every write of that file, for the object's lifetime.
class FailingRename : public FileSystem {
 public:
  FailingRename(std::string name, int nth) : m_name(std::move(name)), m_nth(nth) {
    m_previous = FileSystem::Install(this);
  }
  ~FailingRename() override { FileSystem::Install(m_previous); }
  FailingRename(const FailingRename&) = delete;
  FailingRename& operator=(const FailingRename&) = delete;

  int Rename(const std::string& from, const std::string& to) override {
    const bool named = to.size() >= m_name.size() &&
                       to.compare(to.size() - m_name.size(), m_name.size(), m_name) == 0;
    if (named && ++m_seen == m_nth) {
      errno = EIO;
      return -1;
    }
    return FileSystem::Rename(from, to);
  }
  bool Met() const { return m_nth > 0 && m_seen >= m_nth; }

 private:
  std::string m_name;
  int m_nth;
  int m_seen = 0;
  FileSystem* m_previous;
};

Calendar FindGroup(const CalendarList& list, const std::string& name) {
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (list[i].GetCalendarDescriptor().GetCalendarName() == name) return list[i];
  }
  ADD_FAILURE() << "no calendar " << name;
  return Calendar();
}

Category FindGroup(const CategoryList& list, const std::string& name) {
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (list[i].GetCategoryDescriptor().GetCategoryName() == name) return list[i];
  }
  ADD_FAILURE() << "no category " << name;
  return Category();
}

// One family's part of a case: the account's records, the new ones a
// synchronization sends, and what every copy holds in the end.
struct FamilyPlan {
  const char* name;
  const char* cacheFile;
  // An account that already holds a group with an item.
  void (*seed)(Desktop&);
  // A new group with a new item, and a new item in the old group.
  void (*change)(Desktop&);
  br_error (*syncServer)(Desktop&);
  br_error (*syncDesktop)(Desktop&);
  std::string (*text)(const Desktop&);
  std::string expected;
};

const FamilyPlan kCalendars = {
    "calendars",
    CalendarApi::kCacheFile,
    [](Desktop& d) {
      CalendarManager calendars = d.Calendars();
      Calendar work = AddCalendar(calendars, "Work", CalendarKind::Published());
      AddEvent(calendars, "Dentist", {work});
    },
    [](Desktop& d) {
      CalendarManager calendars = d.Calendars();
      Calendar work = FindGroup(calendars.GetCalendarList(), "Work");
      Calendar garden = AddCalendar(calendars, "Garden", CalendarKind::Published());
      AddEvent(calendars, "Party", {garden, work});
      AddEvent(calendars, "Gym", {work});
    },
    [](Desktop& d) { return d.CalendarObject().SyncServer(nullptr); },
    [](Desktop& d) { return d.CalendarObject().SyncDesktop(); },
    [](const Desktop& d) { return d.CalendarText(); },
    "calendar Garden owned shared\n"
    "calendar Work owned shared\n"
    "event \"Dentist\" on c861 900-a00 in Work\n"
    "event \"Gym\" on c861 900-a00 in Work\n"
    "event \"Party\" on c861 900-a00 in Garden Work\n"};

const FamilyPlan kContacts = {
    "contacts",
    CategoryApi::kCacheFile,
    [](Desktop& d) {
      Category work = AddCategory(d.Contacts(), "Work", CategoryKind::Published());
      AddContact(d.Contacts(), work, "Smith");
    },
    [](Desktop& d) {
      CategoryManager contacts = d.Contacts();
      Category work = FindGroup(contacts.GetCategoryList(), "Work");
      Category club = AddCategory(contacts, "Club", CategoryKind::Published());
      AddContact(contacts, club, "Green");
      AddContact(contacts, work, "Gray");
    },
    [](Desktop& d) { return d.ContactObject().SyncServer(nullptr); },
    [](Desktop& d) { return d.ContactObject().SyncDesktop(); },
    [](const Desktop& d) { return d.ContactText(); },
    "category Club owned shared\n"
    "category Work owned shared\n"
    "contact in Club: 18=\"Green\" flags 0 options 0 offset 0\n"
    "contact in Work: 18=\"Gray\" flags 0 options 0 offset 0\n"
    "contact in Work: 18=\"Smith\" flags 0 options 0 offset 0\n"};

class LostInsertAnswerTest : public brontel::testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<ServerProcess>(m_serverDir.path());
    const int port = m_server->WaitForPort();
    ASSERT_GT(port, 0) << "the server did not start";
    CRegistry().SetServerSyncName(Format("127.0.0.1:%d", port));
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

  // A new account with the plan's records; a desktop of it makes the
  // plan's new records and sends them with the nth write of its cache
  // failing (none when nth is 0). Then it synchronizes again, a second
  // desktop of the user joins, and each synchronizes once more: both must
  // hold the plan's records, each once. False when the synchronization
  // completed before its nth cache write.
  bool RunCase(const FamilyPlan& plan, int nth) {
    SCOPED_TRACE(Format("%s, cache write %d failing", plan.name, nth));
    const std::string user = Format("user%d", ++m_users);
    auto first = NewDesktop(user);
    plan.seed(*first);
    first->Sync();
    plan.change(*first);
    first->NumberNewRecords();
    EXPECT_EQ(plan.syncDesktop(*first), ERR_NONE);
    br_error result = ERR_NONE;
    bool met = false;
    {
      FailingRename failing(plan.cacheFile, nth);
      result = plan.syncServer(*first);
      met = failing.Met();
    }
    if (!met) {
      EXPECT_EQ(result, ERR_NONE);
      if (nth > 0) return false;
    } else {
      EXPECT_NE(result, ERR_NONE) << "a failed cache write reported as success";
    }

    first->Sync();
    auto second = NewDesktop(user);
    second->Sync();
    first->Sync();
    second->Sync();
    EXPECT_EQ(plan.text(*first), plan.expected);
    EXPECT_EQ(plan.text(*second), plan.expected);
    EXPECT_TRUE(InStep(*first));
    EXPECT_TRUE(InStep(*second));
    return true;
  }

  brontel::testing::NoProxyEnvironment m_noProxy;
  brontel::testing::TempDir m_serverDir;
  std::unique_ptr<ServerProcess> m_server;
  int32_t m_users = 0;
};

TEST_F(LostInsertAnswerTest, NewRecordsTheServerTookBeforeTheCacheWriteFailedAreStoredOnce) {
  for (const FamilyPlan* plan : {&kCalendars, &kContacts}) {
    ASSERT_TRUE(RunCase(*plan, 0));
    int nth = 1;
    while (RunCase(*plan, nth)) ++nth;
    // The first cache write is the update pass's; the failure must also have
    // met the write of a pass that sent the new records.
    EXPECT_GT(nth, 2) << plan->name << ": the failure never met a change pass";
  }
}

}  // namespace
}  // namespace brontel::server::testing
