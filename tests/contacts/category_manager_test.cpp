// Tests of CategoryManager: creation and look-ups, the unfiled category,
// version questions, bulk removals and moves, name coercion with its notices,
// clones, shared clones, verification, coherence and lifetimes.
#include "brontel/contacts/category_manager.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>

#include "brontel/contacts/category_cache.h"
#include "brontel/host/user_notice_manager.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::CategoryNames;
using testing::ContactNames;
using testing::MakeCategoryDescriptor;
using testing::MakeContactDescriptor;

TEST(CategoryManagerTest, ADefaultManagerIsANewEmptyOne) {
  CategoryManager manager;
  EXPECT_FALSE(manager.IsNull());
  EXPECT_EQ(manager.GetCategoryList().GetListCount(), 0);
  EXPECT_EQ(manager.GetContactList().GetListCount(), 0);
  EXPECT_EQ(manager.GetVersion(), 0xFFFFFFFFu);
  EXPECT_EQ(manager.GetDeltaVersion(), 0u);
  EXPECT_FALSE(CategoryManager().EqualEqual(manager));
  EXPECT_TRUE(CategoryManager::CreateNull().IsNull());
  EXPECT_FALSE(CategoryManager::CreateEmpty().IsNull());
  EXPECT_EQ(manager.GetDisplayString(),
            "CategoryManager [G=0000:0000:0000:0000/TV=ffffffff|0000] #categories = 0 "
            "#contacts = 0");
}

TEST(CategoryManagerTest, TableIdentityAndVersionBounds) {
  CategoryManager manager;
  UID128 gid;
  gid.SetByte(0, 0x42);
  manager.SetGID(gid);
  manager.SetVersion(0x7FFFFFFF);
  manager.SetDeltaVersion(3);
  EXPECT_EQ(manager.GetGID(), gid);
  EXPECT_EQ(manager.GetRecordTableIdentification().GetTableVersion(), 0x7FFFFFFFu);
  EXPECT_EQ(manager.GetDeltaVersion(), 3u);
  manager.SetVersion(0xFFFFFFFF);
  EXPECT_EQ(manager.GetVersion(), 0xFFFFFFFFu);
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(CategoryManagerDeathTest, AVersionWithBit31SetIsRefused) {
  CategoryManager manager;
  EXPECT_DEATH(manager.SetVersion(0x80000000),
               "\\(newValue < 0x80000000\\) \\|\\| \\(newValue == 0xffFFffFF\\)");
}
#endif

TEST(CategoryManagerTest, CreationAppendsRecordsHeldByTheManager) {
  CategoryManager manager;
  Category work = manager.CreateNewCategory(MakeCategoryDescriptor("Work"), false);
  Contact a = manager.CreateNewContact();
  Contact b = manager.CreateNewContact(work);
  Contact c = manager.CreateNewContact(work, MakeContactDescriptor("Smith"));
  EXPECT_EQ(CategoryNames(manager), "Work");
  EXPECT_EQ(ContactNames(manager), "||Smith");
  EXPECT_TRUE(a.IsUnfiled());
  EXPECT_TRUE(b.GetCategory().EqualEqual(work));
  EXPECT_TRUE(c.GetCategory().EqualEqual(work));
  EXPECT_TRUE(manager.HasCategory(work));
  EXPECT_TRUE(manager.HasContact(c));
  EXPECT_FALSE(manager.HasContact(Contact::CreateEmpty()));
  EXPECT_TRUE(manager.SanityCheck());
}

TEST(CategoryManagerTest, DuplicateConflictMakesANewRecordWithTheSameData) {
  CategoryManager manager;
  CategoryManager other;
  Category unfiled = manager.CreateNewCategory(MakeCategoryDescriptor("Unfiled"), true);
  Category duplicate = manager.DuplicateConflict(unfiled);
  EXPECT_FALSE(duplicate.IsUnfiled());
  EXPECT_EQ(duplicate.GetCategoryDescriptor().GetCategoryName(), "Unfiled");
  EXPECT_FALSE(duplicate.GetCategoryDescriptor().EqualEqual(unfiled.GetCategoryDescriptor()));

  Category work = AddCategory(manager, "Work", {}, 0x51);
  Contact smith = AddContact(manager, work, "Smith", 0x61);
  Contact copy = manager.DuplicateConflict(smith);
  EXPECT_TRUE(copy.GetCategory().EqualEqual(work));
  EXPECT_TRUE(copy.GetContactDescriptor().Equal(smith.GetContactDescriptor()));
  EXPECT_EQ(copy.GetFixedId(), 0u);
  // A contact of another copy lands in this copy's category with its fixed id.
  Contact foreign = AddContact(other, AddCategory(other, "Work", {}, 0x51), "Jones");
  EXPECT_TRUE(manager.DuplicateConflict(foreign).GetCategory().EqualEqual(work));
  EXPECT_TRUE(manager.SanityCheck());
}

TEST(CategoryManagerTest, FindersForwardToTheLists) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work", {}, 0x51, 0xA1);
  work.SetServeId(0x31);
  Contact smith = AddContact(manager, work, "Smith", 0x61, 0xB1);
  smith.SetLocalId(0x41);
  EXPECT_TRUE(manager.FindByCacheId(0xA1, false).EqualEqual(work));
  EXPECT_TRUE(manager.FindByFixedId(0x51, false).EqualEqual(work));
  EXPECT_TRUE(manager.FindByLocalId(0x31, false).EqualEqual(work));
  EXPECT_TRUE(manager.FindByServeId(0x31, false).EqualEqual(work));
  EXPECT_TRUE(manager.FindContactByCacheId(0xB1, false).EqualEqual(smith));
  EXPECT_TRUE(manager.FindContactByFixedId(0x61, false).EqualEqual(smith));
  EXPECT_TRUE(manager.FindContactByLocalId(0x41, false).EqualEqual(smith));
  EXPECT_TRUE(manager.FindContactByServeId(0x41, true).EqualEqual(smith));
  EXPECT_TRUE(smith.IsTouched());

  CategoryManager other;
  Category twin = AddCategory(other, "Twin", {}, 0x51);
  Contact double_ = AddContact(other, Category(), "Double", 0x61);
  EXPECT_TRUE(manager.FindMatchingCategory(twin, false).EqualEqual(work));
  EXPECT_TRUE(manager.FindMatchingContact(double_, false).EqualEqual(smith));
  EXPECT_TRUE(manager.FindMatchingCategory(Category(), false).IsNull());
  EXPECT_TRUE(manager.FindMatchingContact(Contact(), false).IsNull());
}

TEST(CategoryManagerTest, WithoutAnUnfiledCategoryMakeUnfiledLeavesANullParent) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Contact contact = AddContact(manager, work, "Smith");
  EXPECT_TRUE(manager.GetUnfiled().IsNull());
  manager.MakeUnfiled(contact);
  EXPECT_TRUE(contact.GetCategory().IsNull());
  EXPECT_TRUE(contact.IsUnfiled());

  Category unfiled = manager.CreateNewCategory(true);
  manager.CreateNewCategory(true);
  EXPECT_TRUE(manager.GetUnfiled().EqualEqual(unfiled)) << "the first one";
  manager.MakeUnfiled(contact);
  EXPECT_TRUE(contact.GetCategory().EqualEqual(unfiled));
}

TEST(CategoryManagerTest, HasAnyContactsOfACategoryOrOfUnfiled) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Category home = AddCategory(manager, "Home");
  Category unfiled = manager.CreateNewCategory(true);
  EXPECT_FALSE(manager.HasAnyContacts(work));
  EXPECT_FALSE(manager.HasAnyContacts(Category()));
  AddContact(manager, work, "Smith");
  EXPECT_TRUE(manager.HasAnyContacts(work));
  EXPECT_FALSE(manager.HasAnyContacts(home));
  EXPECT_FALSE(manager.HasAnyContacts(unfiled));
  AddContact(manager, Category(), "Jones");
  EXPECT_TRUE(manager.HasAnyContacts(unfiled)) << "a null parent is unfiled";
  EXPECT_TRUE(manager.HasAnyContacts(Category()));
}

TEST(CategoryManagerTest, VersionQuestions) {
  CategoryManager manager;
  CategoryManager other;
  Category c = AddCategory(manager, "Work");
  Contact k = AddContact(manager, Category(), "Smith");
  // With the invalid version anything with a valid version is new.
  EXPECT_FALSE(manager.IsNewToMe(c));
  c.SetVersion(0);
  EXPECT_TRUE(manager.IsNewToMe(c));
  manager.SetVersion(5);
  EXPECT_FALSE(manager.IsNewToMe(c));
  c.GetRecordIdentification().SetCreateVersion(6);
  EXPECT_TRUE(manager.IsNewToMe(c));

  k.SetVersion(5);
  EXPECT_FALSE(manager.IsNewToMe(k));
  EXPECT_FALSE(manager.IsNewLinkToMe(k));
  k.SetLinkVersion(6);
  EXPECT_TRUE(manager.IsNewToMe(k));
  EXPECT_TRUE(manager.IsNewLinkToMe(k));

  other.SetVersion(4);
  EXPECT_FALSE(manager.VersionsAreSynced(other));
  EXPECT_TRUE(other.VersionsAreSynced(manager));
  other.ResolveVersion(manager);
  EXPECT_EQ(other.GetVersion(), 5u);
  EXPECT_EQ(manager.GetVersion(), 5u);
  EXPECT_TRUE(manager.VersionsAreSynced(other));
}

TEST(CategoryManagerTest, DeleteCategoryTakesItsContactsWithIt) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Category home = AddCategory(manager, "Home");
  Category unfiled = manager.CreateNewCategory(true);
  AddContact(manager, work, "A");
  AddContact(manager, home, "B");
  AddContact(manager, work, "C");
  AddContact(manager, Category(), "D");
  manager.DeleteCategory(unfiled);
  EXPECT_EQ(ContactNames(manager), "A|B|C|D") << "the unfiled category is never deleted";
  EXPECT_EQ(manager.GetCategoryList().GetListCount(), 3);
  manager.DeleteCategory(work);
  EXPECT_EQ(ContactNames(manager), "B|D");
  EXPECT_EQ(CategoryNames(manager), "Home|");
  EXPECT_FALSE(work.IsDeleted()) << "records leave the lists; nothing is marked";
}

TEST(CategoryManagerTest, MergeCategoriesMovesEveryContactOfTheSource) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Category home = AddCategory(manager, "Home");
  Contact a = AddContact(manager, work, "A");
  Contact b = AddContact(manager, home, "B");
  Contact c = AddContact(manager, Category(), "C");
  manager.MergeCategories(home, work);
  EXPECT_TRUE(a.GetCategory().EqualEqual(home));
  EXPECT_TRUE(b.GetCategory().EqualEqual(home));
  EXPECT_TRUE(c.IsUnfiled());
  Category unfiled = manager.CreateNewCategory(true);
  manager.MergeCategories(work, unfiled);
  EXPECT_TRUE(c.IsUnfiled()) << "unfiled contacts are not merged";
}

TEST(CategoryManagerTest, RemoveUnfiledContactsCountsThem) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  Category unfiled = manager.CreateNewCategory(true);
  AddContact(manager, work, "A");
  AddContact(manager, Category(), "B");
  AddContact(manager, unfiled, "C");
  EXPECT_EQ(manager.RemoveUnfiledContacts(), 2);
  EXPECT_EQ(ContactNames(manager), "A");
  EXPECT_EQ(manager.RemoveUnfiledContacts(), 0);
}

TEST(CategoryManagerTest, RemoveOrphanedContactsKeepsFiledAndUnfiledContacts) {
  CategoryManager manager;
  CategoryManager other;
  Category work = AddCategory(manager, "Work");
  Category gone = AddCategory(manager, "Gone");
  Category unfiled = manager.CreateNewCategory(true);
  AddContact(manager, work, "Filed");
  AddContact(manager, gone, "Orphan");
  AddContact(manager, Category(), "NullParent");
  AddContact(manager, unfiled, "InUnfiled");
  manager.CreateNewContact().SetCategory(AddCategory(other, "Foreign"));
  manager.GetContactList()[4].GetContactDescriptor().SetDatum(18, "Foreign");
  gone.Remove();
  manager.RemoveOrphanedContacts();
  EXPECT_EQ(ContactNames(manager), "Filed|NullParent|InUnfiled");
}

TEST(CategoryManagerTest, UnfiledContactsSurviveAStoredCacheAndRemoveOrphanedContacts) {
  CategoryCache cache;
  CategoryManager manager = cache.GetCategoryManager();
  Category work = AddCategory(manager, "Work");
  AddContact(manager, work, "Filed");
  AddContact(manager, Category(), "Unfiled");
  AddContact(manager, manager.CreateNewCategory(true), "InUnfiled");
  CategoryCache read = testing::ReadCache(testing::StoreCache(cache));
  CategoryManager readManager = read.GetCategoryManager();
  EXPECT_TRUE(readManager.GetContactList()[2].GetCategory().IsNull())
      << "a contact of the unfiled category is stored as unfiled";
  readManager.RemoveOrphanedContacts();
  EXPECT_EQ(ContactNames(readManager), "Filed|Unfiled|InUnfiled");
}

// Notices of the renames, one line each.
std::string NoticeLines(const UserNoticeManager& notices) {
  if (notices.GetListCount() == 0) return "";
  EXPECT_EQ(notices.GetListCount(), 1);
  EXPECT_EQ(notices[0].GetNoticeType(), NOTICE_CATEGORY_RENAME);
  EXPECT_EQ(notices[0].GetTitle(), "Category Rename Notice");
  return notices[0].GetDetails();
}

TEST(CategoryManagerTest, CoerceNamesRenamesSubscribedCategoriesAndTellsTheUser) {
  CategoryManager manager;
  Category first = AddCategory(manager, "Family", CategoryKind::SubscribedReadWrite());
  Category second = AddCategory(manager, "Family", CategoryKind::SubscribedReadOnly());
  Category owned = AddCategory(manager, "Family", CategoryKind::Published());
  UserNoticeManager notices;
  manager.CoerceNames(&notices, true);
  EXPECT_EQ(CategoryNames(manager), "Family*1|Family*2|Family");
  EXPECT_TRUE(first.IsDirty());
  EXPECT_TRUE(second.IsDirty());
  EXPECT_FALSE(owned.IsDirty());
  const std::string lines = NoticeLines(notices);
  EXPECT_EQ(lines,
            "Subscribed category 'Family' renamed as 'Family*1'\n"
            "Subscribed category 'Family' renamed as 'Family*2'\n");

  // A second run finds nothing to do.
  manager.CoerceNames(&notices, true);
  EXPECT_EQ(CategoryNames(manager), "Family*1|Family*2|Family");
  EXPECT_EQ(NoticeLines(notices), lines);
}

TEST(CategoryManagerTest, CoerceNamesKeepsTheFirstOfTwoSubscribedCategories) {
  CategoryManager manager;
  AddCategory(manager, "Team", CategoryKind::SubscribedReadWrite());
  Category second = AddCategory(manager, "Team", CategoryKind::SubscribedReadWrite());
  Category deleted = AddCategory(manager, "Team", CategoryKind::SubscribedReadWrite());
  deleted.SetDeleted();
  manager.CoerceNames(nullptr, false);
  EXPECT_EQ(CategoryNames(manager), "Team|Team*1|Team");
  EXPECT_FALSE(second.IsDirty());
}

// CoerceNames renames, category by category in list order, as each
// category's own CoerceName would.
TEST(CategoryManagerTest, CoerceNamesAgreesWithCoercingEachCategoryInTurn) {
  std::mt19937 random(77);
  const char* names[] = {"A", "A*1", "B", "A*2", "Work*F", "Work"};
  for (int round = 0; round < 200; ++round) {
    CategoryManager manager;
    const int count = 1 + static_cast<int>(random() % 12);
    for (int i = 0; i < count; ++i) {
      CategoryKind kind =
          random() % 2 ? CategoryKind::Published() : CategoryKind::SubscribedReadOnly();
      Category c = AddCategory(manager, names[random() % std::size(names)], kind);
      if (random() % 5 == 0) c.SetDeleted();
    }
    CategoryManager copy = manager.Clone();
    manager.CoerceNames(nullptr, false);
    for (int32_t i = 0; i < copy.GetCategoryList().GetListCount(); ++i) {
      copy.GetCategoryList()[i].CoerceName();
    }
    ASSERT_EQ(CategoryNames(manager), CategoryNames(copy)) << "round " << round;
  }
}

// A manager with a category of each kind, an unfiled category, filed and
// unfiled contacts, conflicts and a link conflict.
CategoryManager RichManager() {
  CategoryManager manager;
  UID128 gid;
  gid.SetByte(3, 0x33);
  manager.SetGID(gid);
  manager.SetVersion(12);
  manager.SetDeltaVersion(4);
  Category unfiled = manager.CreateNewCategory(MakeCategoryDescriptor("Unfiled"), true);
  unfiled.SetFixedId(0x50);
  Category work = AddCategory(manager, "Work", CategoryKind::Published(), 0x51, 0xA1);
  Category home = AddCategory(manager, "Home", CategoryKind::Local(), 0x52, 0xA2);
  Category club = AddCategory(manager, "Club", CategoryKind::SubscribedReadOnly(), 0x53, 0xA3);
  club.SetConflict(AddCategory(manager, "Club2", CategoryKind::SubscribedReadOnly()));
  manager.GetCategoryList().Remove(manager.GetCategoryList()[4]);
  Contact a = AddContact(manager, work, "Adams", 0x61, 0xB1);
  a.SetLinkVersion(7);
  Contact b = AddContact(manager, home, "Brown", 0x62, 0xB2);
  b.SetConflict(AddContact(manager, home, "Browne"));
  b.GetContactDescriptor().SetIsPrivate(true);
  Contact c = AddContact(manager, club, "Clark", 0x63, 0xB3);
  c.SetLinkConflict(b);
  c.SetReadOnlyConflict(true);
  Contact d = AddContact(manager, Category(), "Davis", 0x64, 0xB4);
  d.SetDeleted();
  manager.GetContactList().Remove(manager.GetContactList()[2]);
  return manager;
}

TEST(CategoryManagerTest, CloneKeepsIdsDataAndEveryContactsCategory) {
  CategoryManager source = RichManager();
  const uint32_t before = source.GetReferenceCount();
  CategoryManager clone = source.Clone();
  EXPECT_EQ(source.GetReferenceCount(), before);
  EXPECT_EQ(clone.GetReferenceCount(), 1u);
  EXPECT_EQ(clone.GetGID(), source.GetGID());
  EXPECT_EQ(clone.GetVersion(), 12u);
  EXPECT_EQ(clone.GetDeltaVersion(), 0u) << "a clone of the table identity has delta 0";
  EXPECT_EQ(CategoryNames(clone), CategoryNames(source));
  EXPECT_EQ(ContactNames(clone), ContactNames(source));
  EXPECT_TRUE(clone.SanityCheck());
  EXPECT_TRUE(clone.IsCoherent());
  for (int32_t i = 0; i < source.GetContactList().GetListCount(); ++i) {
    const Contact& s = source.GetContactList()[i];
    const Contact& c = clone.GetContactList()[i];
    EXPECT_FALSE(c.EqualEqual(s));
    EXPECT_TRUE(c.Equal(s));
    EXPECT_EQ(c.GetFixedId(), s.GetFixedId());
    EXPECT_EQ(c.GetLinkVersion(), s.GetLinkVersion());
    EXPECT_EQ(c.GetCategory().IsNull(), s.GetCategory().IsNull());
    if (!s.GetCategory().IsNull()) {
      EXPECT_TRUE(clone.HasCategory(c.GetCategory()));
      EXPECT_EQ(c.GetCategory().GetFixedId(), s.GetCategory().GetFixedId());
    }
  }
  // The link-conflict copy names the clone's category, and the source's
  // still names the source's.
  Contact sourceClark = source.FindContactByFixedId(0x63, false);
  Contact cloneClark = clone.FindContactByFixedId(0x63, false);
  ASSERT_TRUE(cloneClark.IsLinkConflicted());
  EXPECT_TRUE(clone.HasCategory(cloneClark.GetLinkConflict().GetCategory()));
  EXPECT_TRUE(source.HasCategory(sourceClark.GetLinkConflict().GetCategory()));
  EXPECT_TRUE(cloneClark.GetReadOnlyConflict());
  EXPECT_TRUE(clone.FindByFixedId(0x53, false).IsConflicted());
}

TEST(CategoryManagerTest, CloneFilesAContactOfAForeignCategoryByFixedIdOrAsUnfiled) {
  CategoryManager manager;
  CategoryManager other;
  AddCategory(manager, "Work", {}, 0x51);
  Contact byFixedId = AddContact(manager, Category(), "ByFixedId");
  byFixedId.SetCategory(AddCategory(other, "Work elsewhere", {}, 0x51));
  Contact outside = AddContact(manager, Category(), "Outside");
  outside.SetCategory(AddCategory(other, "Nowhere", {}, 0x59));
  // A category that left the list keeps its old position as clone index.
  Category removed = AddCategory(manager, "Removed");
  Contact stale = AddContact(manager, removed, "Stale");
  AddCategory(manager, "Newcomer");
  manager.Clone();  // numbers the categories
  removed.Remove();
  CategoryManager clone = manager.Clone();
  const ContactList& contacts = clone.GetContactList();
  ASSERT_EQ(contacts.GetListCount(), 3);
  EXPECT_TRUE(contacts[0].GetCategory().IsSameHolder(clone.FindByFixedId(0x51, false)));
  EXPECT_TRUE(contacts[1].IsUnfiled());
  EXPECT_TRUE(contacts[2].IsUnfiled()) << "not the category now at its old position";
  EXPECT_FALSE(stale.IsUnfiled()) << "the source is untouched";
  EXPECT_TRUE(byFixedId.GetCategory().GetManager().EqualEqual(other));
}

TEST(CategoryManagerTest, DestroyingAManagerFreesItsRecordsButNotRecordsHeldElsewhere) {
  Contact kept;
  {
    CategoryManager manager = RichManager();
    kept = manager.FindContactByFixedId(0x61, false);
    CategoryManager clone = manager.Clone();
  }
  EXPECT_FALSE(kept.IsHeld());
  EXPECT_EQ(kept.GetCategory().GetCategoryDescriptor().GetCategoryName(), "Work")
      << "the contact keeps its category alive";
  EXPECT_TRUE(kept.GetCategory().GetManager().IsNull());
}

TEST(CategoryManagerTest, VerifyOfAManagerAgainstItsCloneIsTrueAndEmptiesBoth) {
  CategoryManager manager = RichManager();
  CategoryManager left = manager.Clone();
  CategoryManager right = manager.Clone();
  EXPECT_TRUE(left.Verify(right));
  EXPECT_EQ(left.GetContactList().GetListCount(), 0);
  EXPECT_EQ(right.GetCategoryList().GetListCount(), 0);
  EXPECT_EQ(manager.GetContactList().GetListCount(), 4) << "the source is untouched";
}

TEST(CategoryManagerTest, VerifyFindsEachKindOfDifference) {
  const std::function<void(CategoryManager&)> changes[] = {
      [](CategoryManager& m) { m.FindByFixedId(0x52, false).GetCategoryDescriptor().SetColor(1); },
      [](CategoryManager& m) {
        m.FindContactByFixedId(0x61, false).GetContactDescriptor().SetDatum(0, "x");
      },
      [](CategoryManager& m) {
        m.FindContactByFixedId(0x61, false).SetCategory(m.FindByFixedId(0x52, false));
      },
      [](CategoryManager& m) { m.FindContactByFixedId(0x64, false).SetDeletedNot(); },
      [](CategoryManager& m) { AddContact(m, Category(), "Extra", 0x69); },
      [](CategoryManager& m) { m.FindByFixedId(0x51, false).Remove(); },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    CategoryManager manager = RichManager();
    CategoryManager left = manager.Clone();
    CategoryManager right = manager.Clone();
    changes[i](right);
    EXPECT_FALSE(left.Verify(right)) << "change " << i;
  }
}

TEST(CategoryManagerTest, SharedCloneKeepsSharedCategoriesAndTheirPublicContacts) {
  CategoryManager manager;
  Category published = AddCategory(manager, "Pub", CategoryKind::Published());
  Category local = AddCategory(manager, "Local", CategoryKind::Local());
  Category subscribed = AddCategory(manager, "Sub", CategoryKind::SubscribedReadWrite());
  AddContact(manager, published, "Public");
  AddContact(manager, published, "Private").GetContactDescriptor().SetIsPrivate(true);
  AddContact(manager, local, "InLocal");
  AddContact(manager, subscribed, "InSub");
  AddContact(manager, Category(), "Unfiled");
  CategoryManager shared = manager.SharedClone();
  EXPECT_EQ(CategoryNames(shared), "Pub|Sub");
  EXPECT_EQ(ContactNames(shared), "Public|InSub");
  EXPECT_EQ(ContactNames(manager), "Public|Private|InLocal|InSub|Unfiled");
  EXPECT_TRUE(shared.SanityCheck());
}

TEST(CategoryManagerTest, CoherenceWantsEachNonZeroIdOnce) {
  CategoryManager manager;
  EXPECT_TRUE(manager.IsCoherent());
  AddContact(manager, Category(), "A");
  AddContact(manager, Category(), "B");
  EXPECT_TRUE(manager.IsCoherent()) << "ids of 0 do not count";
  AddContact(manager, Category(), "C", 0x61);
  Contact d = AddContact(manager, Category(), "D", 0x61);
  EXPECT_FALSE(manager.IsCoherent());
  d.SetFixedId(0x62);
  EXPECT_TRUE(manager.IsCoherent());
  AddCategory(manager, "X", {}, 0, 0xA1);
  Category y = AddCategory(manager, "Y", {}, 0, 0xA2);
  EXPECT_TRUE(manager.IsCoherent());
  y.SetLocalId(4);
  AddCategory(manager, "Z").SetLocalId(4);
  EXPECT_FALSE(manager.IsCoherent());
}

TEST(CategoryManagerTest, SanityCheckWantsEveryRecordAndParentOfThisManager) {
  CategoryManager manager;
  CategoryManager other;
  Contact contact = AddContact(manager, AddCategory(manager, "Work"), "Smith");
  EXPECT_TRUE(manager.SanityCheck());
  contact.SetCategory(AddCategory(other, "Foreign"));
  EXPECT_FALSE(manager.SanityCheck());
  contact.SetCategory(Category());
  EXPECT_TRUE(manager.SanityCheck());
  manager.GetContactList().Append(other.CreateNewContact());
  EXPECT_FALSE(manager.SanityCheck());
}

TEST(CategoryManagerTest, SetCleanCleansEveryRecord) {
  CategoryManager manager = RichManager();
  for (int32_t i = 0; i < manager.GetCategoryList().GetListCount(); ++i) {
    manager.GetCategoryList()[i].SetDirty();
  }
  manager.GetContactList()[0].SetDirty();
  manager.SetClean();
  for (int32_t i = 0; i < manager.GetCategoryList().GetListCount(); ++i) {
    EXPECT_FALSE(manager.GetCategoryList()[i].IsDirty());
  }
  EXPECT_FALSE(manager.GetContactList()[0].IsDirty());
}

TEST(CategoryManagerTest, DisplayTreeShowsBothLists) {
  CategoryManager manager = RichManager();
  TextTree tree;
  manager.DisplayTree(tree, kTreeRoot);
  const std::string text = tree.Render();
  EXPECT_EQ(text.rfind("CategoryManager [G=", 0), 0u) << text;
  EXPECT_NE(text.find("CategoryList[4]"), std::string::npos);
  EXPECT_NE(text.find("ContactList[4]"), std::string::npos);
  TextTree nullTree;
  CategoryManager::CreateNull().DisplayTree(nullTree, kTreeRoot);
  EXPECT_EQ(nullTree.Render(), "null manager\n");
}

}  // namespace
}  // namespace brontel
