// Tests of CategoryApi in a directory of each test's own: the contact files
// each entry point reads and writes, the category limit that must leave every
// file alone, backups, the account id shared with the calendar family, damaged
// files, and cache writes that fail without letting the shadows run ahead.
#include "brontel/api/category_api.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/log_node.h"
#include "brontel/host/registry.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/file_lock.h"
#include "support/api_fixture.h"
#include "support/faulty_file_system.h"

namespace brontel {
namespace {

using testing::FaultyFileSystem;
using testing::Gid;
using testing::kMissing;
using testing::WriteFileBytes;

constexpr char kUser[] = "ann";
constexpr int32_t kLastName = 18;

// Desktop and handheld records carry the local ids their programs give them.
uint32_t NextLocalId() {
  static uint32_t next = 100;
  return next++;
}

Category NewCategory(CategoryManager manager, const std::string& name, bool owned = true) {
  Category category = manager.CreateNewCategory(false);
  category.SetLocalId(NextLocalId());
  category.GetCategoryDescriptor().SetCategoryName(name);
  category.GetCategoryDescriptor().SetOwnedFlag(owned);
  category.GetCategoryDescriptor().SetSharedFlag(!owned);
  return category;
}

Contact NewContact(CategoryManager manager, const std::string& name,
                   const Category& category = Category()) {
  Contact contact =
      category.IsNull() ? manager.CreateNewContact() : manager.CreateNewContact(category);
  contact.SetLocalId(NextLocalId());
  contact.GetContactDescriptor().SetDatum(kLastName, name);
  return contact;
}

std::string NameOf(const Contact& contact) {
  return contact.GetContactDescriptor().GetDatum(kLastName);
}

Category FindCategory(const CategoryManager& manager, const std::string& name) {
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (!categories[i].IsDeleted() && !categories[i].IsUnfiled() &&
        categories[i].GetCategoryDescriptor().GetCategoryName() == name) {
      return categories[i];
    }
  }
  return Category();
}

Contact FindContact(const CategoryManager& manager, const std::string& name) {
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (!contacts[i].IsDeleted() && NameOf(contacts[i]) == name) return contacts[i];
  }
  return Contact();
}

// What a manager shows the user, in one line: every live filed category with
// its live contacts, then the unfiled contacts, each sorted, e.g.
// "Family[Ann Bob] Work[Carl] | Dora".
std::string Summary(const CategoryManager& manager) {
  std::vector<std::string> categories;
  const CategoryList& list = manager.GetCategoryList();
  const ContactList& contacts = manager.GetContactList();
  std::vector<std::string> unfiled;
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    const Category& c = list[i];
    if (c.IsDeleted() || c.IsUnfiled()) continue;
    std::vector<std::string> members;
    for (int32_t j = 0; j < contacts.GetListCount(); ++j) {
      if (!contacts[j].IsDeleted() && contacts[j].IsChildOfCategory(c)) {
        members.push_back(NameOf(contacts[j]));
      }
    }
    std::sort(members.begin(), members.end());
    std::string text = c.GetCategoryDescriptor().GetCategoryName() + "[";
    for (size_t j = 0; j < members.size(); ++j) text += (j == 0 ? "" : " ") + members[j];
    categories.push_back(text + "]");
  }
  for (int32_t j = 0; j < contacts.GetListCount(); ++j) {
    if (!contacts[j].IsDeleted() && contacts[j].IsUnfiled()) unfiled.push_back(NameOf(contacts[j]));
  }
  std::sort(categories.begin(), categories.end());
  std::sort(unfiled.begin(), unfiled.end());
  std::string text;
  for (const std::string& c : categories) text += c + " ";
  text += "|";
  for (const std::string& u : unfiled) text += " " + u;
  return text;
}

// Copies every record of from, with ids, status and category, into the empty
// manager to, as a conduit loads the handheld's records into a new object.
void CopyRecords(const CategoryManager& from, CategoryManager to) {
  to.SetGID(from.GetGID());
  const CategoryList& categories = from.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    to.CreateNewCategory(categories[i].IsUnfiled()).Copy(categories[i]);
  }
  const ContactList& contacts = from.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    Category parent = contacts[i].GetCategory();
    Category mine = parent.IsNull() || parent.IsUnfiled()
                        ? Category()
                        : to.FindByFixedId(parent.GetFixedId(), false);
    Contact copy = mine.IsNull() ? to.CreateNewContact() : to.CreateNewContact(mine);
    copy.Copy(contacts[i]);
    copy.SetLinkVersion(contacts[i].GetLinkVersion());
  }
}

bool SameRecords(const CategoryManager& a, const CategoryManager& b) {
  CategoryManager left = a.Clone();
  CategoryManager right = b.Clone();
  return left.Verify(right);
}

const char kDesktopSummary[] = "Family[Bob Eve] Work[Carl] | Dora";

class CategoryApiTest : public testing::ApiTest {
 protected:
  CategoryApi MakeApi() const { return BrontelAPI::CreateCategoryApi(m_dir.path(), kUser); }

  // Fills manager with the desktop's records: Family with Bob and Eve, Work
  // with Carl, and Dora unfiled. Its table version is that of a copy that has
  // met the server once: a handheld pass into a copy whose version is still
  // invalid takes it as never synchronized and ignores the handheld shadow.
  static void MakeDesktopCopy(CategoryManager manager) {
    manager.SetVersion(1);
    Category family = NewCategory(manager, "Family");
    Category work = NewCategory(manager, "Work");
    NewContact(manager, "Bob", family);
    NewContact(manager, "Eve", family);
    NewContact(manager, "Carl", work);
    NewContact(manager, "Dora");
  }

  void SeedCache() const {
    CategoryApi desktop = MakeApi();
    MakeDesktopCopy(desktop.GetCategoryManager());
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  }

  CategoryCache ReadCacheFile() const {
    std::string bytes = FileBytes(CategoryApi::kCacheFile);
    CategoryCache cache;
    Archive ar(bytes);
    cache.Serialize(ar);
    return cache;
  }

  CategoryManager ReadShadowFile(const std::string& name) const {
    std::string bytes = FileBytes(name);
    CategoryManager shadow;
    Archive ar(bytes);
    shadow.Serialize(ar);
    return shadow;
  }

  CalendarCache ReadCalendarCacheFile() const {
    std::string bytes = FileBytes(CalendarApi::kCacheFile);
    CalendarCache cache;
    Archive ar(bytes);
    cache.Serialize(ar);
    return cache;
  }
};

// ---------------------------------------------------------------------------
// The factory and the files of a synchronization

TEST_F(CategoryApiTest, FactoryLogsTheBuildTagWithTheRevisionFirst) {
  CategoryApi api = BrontelAPI::CreateCategoryApi(m_dir.path(), "address book 2.0");
  EXPECT_EQ(api.GetDirectory(), m_dir.path());
  ASSERT_GE(api.GetLogList().GetListCount(), 1);
  EXPECT_EQ(api.GetLogList()[0].GetName(), kBuildTag);
  EXPECT_EQ(api.GetLogList()[0].GetItem()->GetDisplayString(), "address book 2.0");
  // Two objects on one directory are independent.
  CategoryApi other = MakeApi();
  NewCategory(api.GetCategoryManager(), "Family");
  EXPECT_EQ(other.GetCategoryManager().GetCategoryList().GetListCount(), 0);
}

TEST_F(CategoryApiTest, DesktopSyncWritesTheCacheOnly) {
  CategoryApi api = MakeApi();
  MakeDesktopCopy(api.GetCategoryManager());
  ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(m_dir.Listing(), "cache2_m.pft cachecon.lck");
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), kDesktopSummary);
  EXPECT_EQ(api.SyncConflicts(), 0);
}

TEST_F(CategoryApiTest, HandheldSyncBringsTheCacheToTheHandheldAndWritesItsShadow) {
  SeedCache();
  CategoryApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(handheld.GetCategoryManager()), kDesktopSummary);
  EXPECT_EQ(m_dir.Listing(), "cache2_h.pfu cache2_m.pft cachecon.lck");
  EXPECT_TRUE(SameRecords(ReadShadowFile(CategoryApi::kHandheldShadowFile),
                          ReadCacheFile().GetCategoryManager()));
}

TEST_F(CategoryApiTest, EditsOnBothSidesMeetInTheCache) {
  SeedCache();
  CategoryApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCategoryManager().SetClean();
  // The handheld moves Carl to Family and adds Fay to Work.
  CategoryManager hh = handheld.GetCategoryManager();
  Contact carl = FindContact(hh, "Carl");
  carl.SetCategory(FindCategory(hh, "Family"));
  carl.SetDirty();
  NewContact(hh, "Fay", FindCategory(hh, "Work"));
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), "Family[Bob Carl Eve] Work[Fay] | Dora");

  // A later object of the desktop sees the same.
  CategoryApi desktop = MakeApi();
  ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
  EXPECT_EQ(Summary(desktop.GetCategoryManager()), "Family[Bob Carl Eve] Work[Fay] | Dora");
}

TEST_F(CategoryApiTest, AHandheldIntoANeverSynchronizedDesktopIgnoresTheShadowFile) {
  SeedCache();
  {
    CategoryApi handheld = MakeApi();
    ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  }
  // A new object whose desktop copy never synchronized (version invalid), fed
  // with a handheld that lost Eve: with the shadow as reference Eve would count
  // as deleted on the handheld; without it she comes back.
  CategoryApi fresh = MakeApi();
  ASSERT_EQ(fresh.GetCategoryManager().GetVersion(), 0xFFFFFFFFu);
  CopyRecords(ReadShadowFile(CategoryApi::kHandheldShadowFile), fresh.GetCategoryManager());
  fresh.GetCategoryManager().SetVersion(0xFFFFFFFF);
  FindContact(fresh.GetCategoryManager(), "Eve").Remove();
  ASSERT_EQ(fresh.SyncHandheld(), ERR_NONE);
  EXPECT_EQ(Summary(fresh.GetCategoryManager()), kDesktopSummary);
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), kDesktopSummary);
}

TEST_F(CategoryApiTest, AccountMismatchIsReportedAndTheCacheStillWritten) {
  SeedCache();
  ASSERT_TRUE(MakeApi().SetGID(Gid(1)));
  CategoryApi other = MakeApi();
  other.GetCategoryManager().SetGID(Gid(2));
  NewContact(other.GetCategoryManager(), "Zed");
  EXPECT_EQ(other.SyncDesktop(), ERR_CONFLICTING_ACCOUNTS);
  EXPECT_EQ(other.GetErrorMessage(), "Conflicting user accounts encountered.");
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), kDesktopSummary);
  EXPECT_TRUE(ReadCacheFile().GetCategoryManager().GetGID() == Gid(1));
}

// ---------------------------------------------------------------------------
// The category limit

TEST_F(CategoryApiTest, FifteenFiledCategoriesSynchronizeAndASixteenthChangesNoFile) {
  CategoryApi handheld = MakeApi();
  CategoryManager hh = handheld.GetCategoryManager();
  hh.CreateNewCategory(true);  // the handheld's Unfiled
  for (int i = 1; i <= 15; ++i) NewCategory(hh, "C" + std::to_string(i));
  NewContact(hh, "Ann", FindCategory(hh, "C1"));
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCategoryManager().SetClean();
  const auto before = Snapshot();

  NewCategory(hh, "C16");
  NewContact(hh, "Bea", FindCategory(hh, "C16"));
  EXPECT_EQ(handheld.SyncHandheld(), ERR_TOO_MANY_CATEGORIES);
  EXPECT_EQ(handheld.GetErrorMessage(), "More than 15 categories encountered.");
  EXPECT_EQ(Snapshot(), before);
  // The caller's copy comes back unchanged: still 16 categories and Bea.
  EXPECT_FALSE(FindCategory(handheld.GetCategoryManager(), "C16").IsNull());
  EXPECT_FALSE(FindContact(handheld.GetCategoryManager(), "Bea").IsNull());
}

// ---------------------------------------------------------------------------
// The overrides

TEST_F(CategoryApiTest, DesktopOverrideIsNotAvailableAndTouchesNothing) {
  SeedCache();
  const auto before = Snapshot();
  CategoryApi api = MakeApi();
  NewContact(api.GetCategoryManager(), "Zed");
  EXPECT_EQ(api.SyncDesktopOverideHandheld(), ERR_NOT_IMPLEMENTED);
  EXPECT_EQ(api.GetErrorMessage(), "Feature not implemented");
  EXPECT_EQ(Snapshot(), before);
  EXPECT_EQ(Summary(api.GetCategoryManager()), "| Zed");
}

TEST_F(CategoryApiTest, HandheldOverrideBacksUpAndRebuildsFromTheHandheld) {
  SeedCache();
  const std::string cacheBytes = FileBytes(CategoryApi::kCacheFile);
  for (int n = 0; n < 9; ++n) WriteFileBytes(Path("cache2_m" + std::to_string(n) + ".bak"), "old");
  WriteFileBytes(Path("cache2_m9.bak"), "old");
  WriteFileBytes(Path(CategoryApi::kServerShadowFile), "server shadow");
  CategoryApi handheld = MakeApi();
  NewContact(handheld.GetCategoryManager(), "Gus",
             NewCategory(handheld.GetCategoryManager(), "Golf"));

  ASSERT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
  // Every number taken: 9 is overwritten; the server shadow is gone.
  EXPECT_EQ(FileBytes("cache2_m9.bak"), cacheBytes);
  EXPECT_EQ(FileBytes("cache2_m8.bak"), "old");
  EXPECT_FALSE(Exists(CategoryApi::kServerShadowFile));
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), "Golf[Gus] |");
}

TEST_F(CategoryApiTest, HandheldOverrideAfterAHandheldSyncKeepsEveryHandheldRecord) {
  SeedCache();
  CategoryApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCategoryManager().SetClean();
  NewContact(handheld.GetCategoryManager(), "Gus",
             FindCategory(handheld.GetCategoryManager(), "Work"));
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCategoryManager().SetClean();
  const std::string kAll = "Family[Bob Eve] Work[Carl Gus] | Dora";
  ASSERT_EQ(Summary(handheld.GetCategoryManager()), kAll);

  EXPECT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
  EXPECT_EQ(handheld.SyncConflicts(), 0);
  EXPECT_EQ(Summary(handheld.GetCategoryManager()), kAll);
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), kAll);
  EXPECT_TRUE(FileBytes("cache2_m0.bak") != kMissing);
}

// ---------------------------------------------------------------------------
// Account ids and the calendar family

TEST_F(CategoryApiTest, SetGidAcceptsAnIdOnlyWhereTheCacheHasNoneOrTheSame) {
  CategoryApi api = MakeApi();
  EXPECT_FALSE(api.SetGID(UID128()));  // nothing to set, cache still written
  EXPECT_TRUE(Exists(CategoryApi::kCacheFile));
  EXPECT_TRUE(api.SetGID(Gid(1)));
  EXPECT_TRUE(api.SetGID(Gid(1)));
  EXPECT_FALSE(api.SetGID(Gid(2)));
  EXPECT_TRUE(api.GetGID() == Gid(1));
  CategoryApi later = MakeApi();
  EXPECT_FALSE(later.HasGID());
  EXPECT_TRUE(later.HasCacheGID());
  EXPECT_TRUE(later.GetGID() == Gid(1));
}

TEST_F(CategoryApiTest, AnAccountIdSetOnOneFamilyReachesTheOtherFamilysCache) {
  {
    CategoryApi contacts = MakeApi();
    ASSERT_TRUE(contacts.SetGID(Gid(1)));
  }
  EXPECT_TRUE(ReadCalendarCacheFile().GetCalendarManager().GetGID() == Gid(1));

  testing::TempDir other;
  {
    CalendarApi calendars = BrontelAPI::CreateCalendarApi(other.path(), "r");
    ASSERT_TRUE(calendars.SetGID(Gid(7)));
  }
  CategoryApi contacts = BrontelAPI::CreateCategoryApi(other.path(), kUser);
  EXPECT_TRUE(contacts.HasCacheGID());
  EXPECT_TRUE(contacts.GetGID() == Gid(7));
}

TEST_F(CategoryApiTest, AnAccountIdIsNotPassedWhileTheOtherFamilysLockIsHeldForLongAndSaysSo) {
  // The calendar lock stays taken (as by a program in a long server
  // synchronization): the contact side gives up passing the id after a
  // bounded wait instead of waiting for ever, and says so; the next SetGID
  // passes it.
  auto calendarLock = std::make_unique<FileLock>(Path(CalendarApi::kLockFile));
  ASSERT_TRUE(calendarLock->Acquire());
  CategoryApi contacts = MakeApi();
  EXPECT_FALSE(contacts.SetGID(Gid(3)));
  EXPECT_EQ(contacts.GetErrorMessage(),
            "Unable to pass the account id to the calendar cache in " + m_dir.path());
  EXPECT_TRUE(ReadCacheFile().GetCategoryManager().GetGID() == Gid(3));
  EXPECT_TRUE(contacts.GetGID() == Gid(3));
  EXPECT_FALSE(Exists(CalendarApi::kCacheFile));

  calendarLock.reset();
  EXPECT_TRUE(MakeApi().SetGID(Gid(3)));
  EXPECT_TRUE(ReadCalendarCacheFile().GetCalendarManager().GetGID() == Gid(3));
}

// ---------------------------------------------------------------------------
// Damaged files and failed writes

TEST_F(CategoryApiTest, ATruncatedCacheStopsEveryEntryPointBeforeAnythingChanges) {
  SeedCache();
  {
    CategoryApi handheld = MakeApi();
    ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  }
  CorruptFile(CategoryApi::kCacheFile, FileBytes(CategoryApi::kCacheFile).size() / 2);
  const auto before = Snapshot();
  CategoryApi api = MakeApi();
  MakeDesktopCopy(api.GetCategoryManager());
  const std::function<br_error()> kEntryPoints[] = {
      [&] { return api.SyncDesktop(); },
      [&] { return api.SyncHandheld(); },
      [&] { return api.SetGID(Gid(1)) ? ERR_NONE : ERR_DAMAGED_FILE; },
  };
  for (const auto& entryPoint : kEntryPoints) {
    EXPECT_EQ(entryPoint(), ERR_DAMAGED_FILE);
    EXPECT_EQ(api.GetErrorMessage(), "Damaged file " + Path(CategoryApi::kCacheFile));
    EXPECT_EQ(Snapshot(), before);
  }
}

TEST_F(CategoryApiTest, ADamagedHandheldShadowStopsTheHandheldSync) {
  SeedCache();
  {
    CategoryApi handheld = MakeApi();
    ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  }
  CorruptFile(CategoryApi::kHandheldShadowFile, 10);
  const auto before = Snapshot();
  CategoryApi handheld = MakeApi();
  handheld.GetCategoryManager().SetVersion(1);
  EXPECT_EQ(handheld.SyncHandheld(), ERR_DAMAGED_FILE);
  EXPECT_EQ(handheld.GetErrorMessage(), "Damaged file " + Path(CategoryApi::kHandheldShadowFile));
  EXPECT_EQ(Snapshot(), before);
}

TEST_F(CategoryApiTest, AFailedCacheWriteKeepsTheShadowAndTheNextSyncLosesNothing) {
  SeedCache();
  CategoryApi handheld = MakeApi();
  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  handheld.GetCategoryManager().SetClean();
  const auto before = Snapshot();

  NewContact(handheld.GetCategoryManager(), "Gus",
             FindCategory(handheld.GetCategoryManager(), "Work"));
  {
    FaultyFileSystem faulty;
    faulty.FailNth(FaultyFileSystem::Op::kFsync, 1);
    EXPECT_EQ(handheld.SyncHandheld(), ERR_WRITE_FAILED);
  }
  EXPECT_EQ(handheld.GetErrorMessage(), "Unable to write file " + Path(CategoryApi::kCacheFile));
  EXPECT_EQ(Snapshot(), before);

  ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
  const std::string kAll = "Family[Bob Eve] Work[Carl Gus] | Dora";
  EXPECT_EQ(Summary(handheld.GetCategoryManager()), kAll);
  EXPECT_EQ(Summary(ReadCacheFile().GetCategoryManager()), kAll);
  EXPECT_TRUE(ReadCacheFile().GetCategoryManager().IsCoherent());
}

// ---------------------------------------------------------------------------
// Logging

TEST_F(CategoryApiTest, LogFilesUseTheContactNamesAndBitFour) {
  {
    CRegistry settings;
    settings.SetSyncLogging(4 | 8);
  }
  CategoryApi api = MakeApi();
  MakeDesktopCopy(api.GetCategoryManager());
  ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
  std::string listing = m_dir.Listing();
  EXPECT_NE(listing.find("clog"), std::string::npos) << listing;
  EXPECT_NE(listing.find("_desk.pff"), std::string::npos) << listing;
  EXPECT_EQ(listing.find("slog"), std::string::npos) << listing;
}

}  // namespace
}  // namespace brontel
