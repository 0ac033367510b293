// Tests of Category: null and unfiled categories, copies, clones, identity,
// conflicts, name coercion within a manager, removal and the display strings.
#include "brontel/contacts/category.h"

#include <gtest/gtest.h>

#include <string>

#include "brontel/contacts/category_manager.h"
#include "brontel/core/log_node.h"
#include "brontel/core/versioning.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::CategoryNames;

TEST(CategoryTest, ANullCategoryIsUnfiledDeletedAndNotReadOnly) {
  Category none;
  EXPECT_TRUE(none.IsNull());
  EXPECT_TRUE(none.IsUnfiled());
  EXPECT_TRUE(none.IsDeleted());
  EXPECT_FALSE(none.IsDeletedGlobal());
  EXPECT_FALSE(none.IsReadOnly());
  EXPECT_FALSE(none.IsHeld());
  EXPECT_FALSE(none.IsConflicted());
  EXPECT_EQ(none.GetShortDisplayString(), "Unfiled");
  EXPECT_TRUE(Category::CreateNull().IsNull());
}

TEST(CategoryTest, ACategoryCreatedForAManagerIsHeldWithoutCountingIt) {
  CategoryManager manager;
  const uint32_t before = manager.GetReferenceCount();
  Category unfiled = manager.CreateNewCategory(true);
  Category work = manager.CreateNewCategory(false);
  EXPECT_EQ(manager.GetReferenceCount(), before);
  EXPECT_TRUE(work.IsHeld());
  EXPECT_TRUE(work.GetManager().EqualEqual(manager));
  EXPECT_TRUE(unfiled.IsUnfiled());
  EXPECT_FALSE(work.IsUnfiled());
  EXPECT_FALSE(Category::CreateEmpty().IsHeld());
  EXPECT_FALSE(Category::CreateEmpty().IsUnfiled());
}

TEST(CategoryTest, VersionsComeFromTheRecordAndItsManager) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work");
  work.SetVersion(4);
  EXPECT_EQ(work.GetLowerVersion(), 4u);
  EXPECT_EQ(work.GetUpperVersion(), Versioning::InValidVersion());
  manager.SetVersion(9);
  EXPECT_EQ(work.GetUpperVersion(), 9u);
  EXPECT_EQ(Category::CreateEmpty().GetUpperVersion(), Versioning::InValidVersion());
}

TEST(CategoryTest, AManagerGoneLeavesItsCategoriesWithoutManager) {
  Category kept;
  {
    CategoryManager manager;
    kept = AddCategory(manager, "Work");
    manager.SetVersion(3);
  }
  EXPECT_FALSE(kept.IsHeld());
  EXPECT_TRUE(kept.GetManager().IsNull());
  EXPECT_EQ(kept.GetUpperVersion(), Versioning::InValidVersion());
  kept.SetFixedId(5);  // no manager to tell
  EXPECT_EQ(kept.GetFixedId(), 5u);
}

TEST(CategoryTest, ReadOnlyOnlyWhenSubscribedWithTheFlag) {
  CategoryManager manager;
  EXPECT_FALSE(AddCategory(manager, "a", CategoryKind::Local()).IsReadOnly());
  EXPECT_FALSE(AddCategory(manager, "b", CategoryKind::SubscribedReadWrite()).IsReadOnly());
  EXPECT_TRUE(AddCategory(manager, "c", CategoryKind::SubscribedReadOnly()).IsReadOnly());
  CategoryDescriptor ownedButFlagged = testing::MakeCategoryDescriptor("d");
  ownedButFlagged.SetReadOnlyFlag(true);
  EXPECT_FALSE(manager.CreateNewCategory(ownedButFlagged, false).IsReadOnly());
}

TEST(CategoryTest, EqualComparesDeleteFlagsDescriptorAndUnfiledFlag) {
  CategoryManager manager;
  Category a = AddCategory(manager, "Work");
  Category b = AddCategory(manager, "Work");
  b.SetDirty();
  b.SetVersion(8);
  b.SetDataHash(1);
  EXPECT_TRUE(a.Equal(b)) << "dirty flag, version and hash are not compared";
  b.SetDeleted();
  EXPECT_FALSE(a.Equal(b));
  b.SetDeletedNot();
  Category unfiled = manager.CreateNewCategory(testing::MakeCategoryDescriptor("Work"), true);
  EXPECT_FALSE(a.Equal(unfiled));
}

TEST(CategoryTest, MatchingUsesCacheLocalOrFixedId) {
  CategoryManager manager;
  Category a = AddCategory(manager, "A");
  Category b = AddCategory(manager, "B");
  EXPECT_FALSE(a.IsMatching(b)) << "ids of 0 never match";
  b.SetCacheId(7);
  a.SetCacheId(7);
  EXPECT_TRUE(a.IsMatching(b));
  a.SetCacheId(8);
  a.SetLocalId(3);
  b.SetLocalId(3);
  EXPECT_TRUE(a.IsMatching(b));
  a.SetLocalId(4);
  a.SetFixedId(9);
  b.SetFixedId(9);
  EXPECT_TRUE(a.IsMatching(b));
  EXPECT_FALSE(a.IsMatching(Category()));
  EXPECT_FALSE(Category().IsMatching(a));
}

TEST(CategoryTest, MergeIdentityGivesBothTheSameIds) {
  CategoryManager left;
  CategoryManager right;
  Category a = AddCategory(left, "A", {}, 0, 5);
  a.SetLocalId(0x10);
  Category b = AddCategory(right, "B", {}, 0x99, 9);
  a.MergeIdentity(b);
  for (const Category& c : {a, b}) {
    EXPECT_EQ(c.GetCacheId(), 9u);
    EXPECT_EQ(c.GetLocalId(), 0x10u);
    EXPECT_EQ(c.GetFixedId(), 0x99u);
  }
  EXPECT_TRUE(left.FindByCacheId(9, false).EqualEqual(a));
  EXPECT_TRUE(right.FindByLocalId(0x10, false).EqualEqual(b));
  a.MergeIdentity(Category());  // nothing to merge with
  EXPECT_EQ(a.GetCacheId(), 9u);
}

TEST(CategoryTest, CopyTakesDataIdsStatusUnfiledFlagAndConflictButNotTheManager) {
  CategoryManager left;
  CategoryManager right;
  Category target = AddCategory(left, "Old");
  target.SetCloneIndex(4);
  target.SetTouched(true);
  Category source = right.CreateNewCategory(testing::MakeCategoryDescriptor("New"), true);
  source.SetFixedId(0x77);
  source.SetDeleted();
  source.SetConflict(AddCategory(right, "Rival"));
  target.Copy(source);
  EXPECT_EQ(target.GetCategoryDescriptor().GetCategoryName(), "New");
  EXPECT_FALSE(target.GetCategoryDescriptor().EqualEqual(source.GetCategoryDescriptor()));
  EXPECT_EQ(target.GetFixedId(), 0x77u);
  EXPECT_TRUE(target.IsDeleted());
  EXPECT_TRUE(target.IsUnfiled());
  EXPECT_TRUE(target.GetConflict().EqualEqual(source.GetConflict())) << "shared";
  EXPECT_TRUE(target.GetManager().EqualEqual(left));
  EXPECT_EQ(target.GetCloneIndex(), 4);
  EXPECT_TRUE(target.IsTouched());
  EXPECT_TRUE(left.FindByFixedId(0x77, false).EqualEqual(target));
}

TEST(CategoryTest, CloneMakesANewRecordForTheGivenManager) {
  CategoryManager left;
  CategoryManager right;
  Category source = AddCategory(left, "Work", CategoryKind::Published(), 0x31);
  Category clone = source.Clone(right);
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_TRUE(clone.Equal(source));
  EXPECT_EQ(clone.GetFixedId(), 0x31u);
  EXPECT_TRUE(clone.GetManager().EqualEqual(right));
  EXPECT_FALSE(right.HasCategory(clone)) << "the manager's list is the caller's business";
}

TEST(CategoryTest, ConflictKeepsASnapshotThatAcceptOrRejectResolves) {
  CategoryManager manager;
  Category mine = AddCategory(manager, "Mine", {}, 0x21, 0x11);
  mine.SetVersion(3);
  Category theirs = AddCategory(manager, "Theirs", {}, 0x22, 0x12);
  theirs.SetVersion(5);
  mine.SetConflict(theirs);
  ASSERT_TRUE(mine.IsConflicted());
  EXPECT_FALSE(mine.GetConflict().EqualEqual(theirs));
  EXPECT_FALSE(mine.GetConflict().IsHeld());
  theirs.GetCategoryDescriptor().SetCategoryName("Changed later");
  EXPECT_EQ(mine.GetConflict().GetCategoryDescriptor().GetCategoryName(), "Theirs");

  mine.AcceptConflict();
  EXPECT_FALSE(mine.IsConflicted());
  EXPECT_EQ(mine.GetCategoryDescriptor().GetCategoryName(), "Theirs");
  EXPECT_EQ(mine.GetFixedId(), 0x21u) << "the record keeps its own identity";
  EXPECT_EQ(mine.GetCacheId(), 0x11u);
  EXPECT_EQ(mine.GetVersion(), 3u);

  mine.SetConflict(theirs);
  mine.RejectConflict();
  EXPECT_FALSE(mine.IsConflicted());
  EXPECT_EQ(mine.GetCategoryDescriptor().GetCategoryName(), "Theirs");
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(CategoryDeathTest, AcceptingWithoutAConflictIsRefused) {
  Category c = Category::CreateEmpty();
  EXPECT_DEATH(c.AcceptConflict(), "!m_holder->m_conflict.IsNull\\(\\)");
}
#endif

TEST(CategoryTest, GenerateFixedIdUsesLocalIdThenCacheId) {
  CategoryManager manager;
  Category c = AddCategory(manager, "A", {}, 0, 0x40);
  EXPECT_EQ(c.GenerateFixedId(false), 0u);
  EXPECT_EQ(c.GenerateFixedId(true), 0x80000040u);
  EXPECT_TRUE(manager.FindByFixedId(0x80000040u, false).EqualEqual(c));
  Category d = AddCategory(manager, "B");
  d.SetLocalId(0x12);
  EXPECT_EQ(d.GenerateFixedId(false), 0x80000012u);
}

// Name coercion of one category compares it with every live category before
// it and every live owned one after it.
TEST(CategoryTest, CoerceNameRenamesOnlyALiveSubscribedCategoryThatCollides) {
  CategoryManager manager;
  Category owned = AddCategory(manager, "Family");
  Category subscribed = AddCategory(manager, "Family", CategoryKind::SubscribedReadWrite());
  Category deleted = AddCategory(manager, "Friends", CategoryKind::SubscribedReadOnly());
  deleted.SetDeleted();
  Category later = AddCategory(manager, "Friends", CategoryKind::SubscribedReadOnly());

  owned.CoerceName();
  EXPECT_EQ(owned.GetCategoryDescriptor().GetCategoryName(), "Family");
  subscribed.CoerceName();
  EXPECT_EQ(subscribed.GetCategoryDescriptor().GetCategoryName(), "Family*1");
  later.CoerceName();
  EXPECT_EQ(later.GetCategoryDescriptor().GetCategoryName(), "Friends")
      << "a deleted category is not compared against";
  deleted.CoerceName();
  EXPECT_EQ(deleted.GetCategoryDescriptor().GetCategoryName(), "Friends")
      << "a deleted category is not coerced";
}

TEST(CategoryTest, CoerceNameLooksAtOwnedCategoriesAfterItButNotSubscribedOnes) {
  CategoryManager manager;
  Category first = AddCategory(manager, "Team", CategoryKind::SubscribedReadWrite());
  AddCategory(manager, "Team", CategoryKind::SubscribedReadWrite());
  first.CoerceName();
  EXPECT_EQ(first.GetCategoryDescriptor().GetCategoryName(), "Team");
  AddCategory(manager, "Team", CategoryKind::Published());
  first.CoerceName();
  EXPECT_EQ(first.GetCategoryDescriptor().GetCategoryName(), "Team*1");
}

TEST(CategoryTest, CoerceNameStepsPastTakenNamesAndGivesUpAfter15Rounds) {
  CategoryManager manager;
  AddCategory(manager, "X");
  AddCategory(manager, "X*1");
  AddCategory(manager, "X*2");
  Category c = AddCategory(manager, "X", CategoryKind::SubscribedReadOnly());
  c.CoerceName();
  EXPECT_EQ(c.GetCategoryDescriptor().GetCategoryName(), "X*3");

  CategoryManager full;
  AddCategory(full, "Y");
  for (const char* counter :
       {"1", "2", "3", "4", "5", "6", "7", "8", "9", "A", "B", "C", "D", "E", "F"}) {
    AddCategory(full, std::string("Y*") + counter);
  }
  Category stuck = AddCategory(full, "Y", CategoryKind::SubscribedReadOnly());
  stuck.CoerceName();
  EXPECT_EQ(stuck.GetCategoryDescriptor().GetCategoryName(), "Y*F")
      << "fifteen rounds, and the last name stays";
}

TEST(CategoryTest, RemoveTakesTheCategoryOutOfItsManager) {
  CategoryManager manager;
  Category a = AddCategory(manager, "A");
  AddCategory(manager, "B");
  EXPECT_TRUE(a.Remove());
  EXPECT_EQ(CategoryNames(manager), "B");
  EXPECT_FALSE(a.Remove());
  EXPECT_FALSE(Category::CreateEmpty().Remove());
}

TEST(CategoryTest, MergeCategoriesMovesThisCategorysContactsToTheOther) {
  CategoryManager manager;
  Category from = AddCategory(manager, "From");
  Category to = AddCategory(manager, "To");
  Contact moved = AddContact(manager, from, "Smith");
  Contact stays = AddContact(manager, Category(), "Jones");
  from.MergeCategories(to);
  EXPECT_TRUE(moved.GetCategory().EqualEqual(to));
  EXPECT_TRUE(stays.IsUnfiled());
  EXPECT_TRUE(manager.HasCategory(from)) << "the source stays";
}

TEST(CategoryTest, DisplayStrings) {
  CategoryManager manager;
  Category c = AddCategory(manager, "Work", CategoryKind::SubscribedReadOnly());
  c.GetCategoryDescriptor().SetDescription("Office");
  EXPECT_EQ(c.GetShortDisplayString(), "Work");
  EXPECT_EQ(c.GetUserDisplayString(), "Category:  Work\r\nsubscribed RO\r\nDescription:  Office");
  c.GetCategoryDescriptor().SetReadOnlyFlag(false);
  EXPECT_EQ(c.GetUserDisplayString(), "Category:  Work\r\nsubscribed RW\r\nDescription:  Office");
  c.GetCategoryDescriptor().SetOwnedFlag(true);
  EXPECT_EQ(c.GetUserDisplayString(), "Category:  Work\r\npublished RW\r\nDescription:  Office");
  c.GetCategoryDescriptor().SetSharedFlag(false);
  EXPECT_EQ(c.GetUserDisplayString(), "Category:  Work\r\nlocal\r\nDescription:  Office");

  EXPECT_EQ(c.GetDisplayString(),
            "Category:   <C=0000-L=0000-F=0000/V=ffffffff:ffffffff f=0> #0000 ????  "
            "\"Work\" Office {O}/00000000/ ");
  Category unfiled = manager.CreateNewCategory(true);
  unfiled.SetConflict(c);
  EXPECT_EQ(unfiled.GetDisplayString(),
            "Category: U <C=0000-L=0000-F=0000/V=ffffffff:ffffffff f=0> #0000 ????  "
            "\"\"  {O}/00000000/ **CONFLICT** ");
  TextTree tree;
  unfiled.DisplayTree(tree, kTreeRoot);
  EXPECT_NE(tree.Render().find("Conflicts with Category:"), std::string::npos);
}

TEST(CategoryTest, ALogItemCarriesACopyUnderTheCategoryLogClass) {
  CategoryManager manager;
  Category c = AddCategory(manager, "Work");
  std::unique_ptr<LogNode> node = c.GetLogItem("cache before");
  EXPECT_EQ(node->GetName(), "cache before");
  EXPECT_STREQ(node->GetClassInfo().name, "CategoryLog");
}

}  // namespace
}  // namespace brontel
