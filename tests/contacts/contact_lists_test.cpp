// Tests of CategoryList and ContactList: finds by each kind of id, their
// indexes kept right through id changes, appends and removals (checked against
// a plain scan after random operations), untouched records, clones, identity
// resolution, fixed ids and emptying.
#include "brontel/contacts/contact_lists.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>

#include "brontel/contacts/category_manager.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::ContactNames;

TEST(ContactListTest, FindsByEachKindOfIdAndTouchesOnRequest) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A", 0x0F1, 0xC1);
  Contact b = AddContact(manager, Category(), "B", 0x0F2, 0xC2);
  b.SetLocalId(0x12);
  ContactList& list = manager.GetContactList();
  EXPECT_TRUE(list.FindByCacheId(0xC1, false).IsSameHolder(a));
  EXPECT_TRUE(list.FindByFixedId(0x0F2, false).IsSameHolder(b));
  EXPECT_TRUE(list.FindByLocalId(0x12, false).IsSameHolder(b));
  EXPECT_TRUE(list.FindByServeId(0x12, false).IsSameHolder(b)) << "the server id is the local id";
  EXPECT_TRUE(list.FindByCacheId(0xC3, false).IsNull());
  EXPECT_FALSE(b.IsTouched());
  list.FindByFixedId(0x0F2, true);
  EXPECT_TRUE(b.IsTouched());
  EXPECT_TRUE(list.FindByLocalId(0, true).IsNull());
  EXPECT_TRUE(list.FindByFixedId(0, true).IsNull());
  EXPECT_FALSE(a.IsTouched());
}

TEST(ContactListTest, FindsSeeIdsChangedThroughEveryRecordOperation) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A", 0x0F1, 0xC1);
  Contact b = AddContact(manager, Category(), "B", 0x0F2, 0xC2);
  ContactList& list = manager.GetContactList();
  auto buildIndexes = [&] {
    list.FindByCacheId(0xC1, false);
    list.FindByFixedId(0x0F1, false);
    list.FindByLocalId(0x1, false);
  };

  buildIndexes();
  a.SetFixedId(0x0F9);
  EXPECT_TRUE(list.FindByFixedId(0x0F1, false).IsNull());
  EXPECT_TRUE(list.FindByFixedId(0x0F9, false).IsSameHolder(a));

  buildIndexes();
  a.SetServeId(0x51);
  EXPECT_TRUE(list.FindByServeId(0x51, false).IsSameHolder(a));

  buildIndexes();
  Contact outside = Contact::CreateEmpty();
  outside.SetCacheId(0xC7);
  outside.SetFixedId(0x0F7);
  b.Copy(outside);
  EXPECT_TRUE(list.FindByCacheId(0xC2, false).IsNull());
  EXPECT_TRUE(list.FindByCacheId(0xC7, false).IsSameHolder(b));
  EXPECT_TRUE(list.FindByFixedId(0x0F7, false).IsSameHolder(b));

  buildIndexes();
  Contact other = Contact::CreateEmpty();
  other.SetCacheId(0xD0);
  other.SetLocalId(0x77);
  a.MergeIdentity(other);
  EXPECT_TRUE(list.FindByCacheId(0xD0, false).IsSameHolder(a));
  EXPECT_TRUE(list.FindByLocalId(0x77, false).IsSameHolder(a));

  buildIndexes();
  Contact fresh = manager.CreateNewContact();
  fresh.SetCacheId(0xE0);
  EXPECT_EQ(fresh.GenerateFixedId(true), 0x800000E0u);
  EXPECT_TRUE(list.FindByFixedId(0x800000E0u, false).IsSameHolder(fresh));
  EXPECT_TRUE(list.FindByCacheId(0xE0, false).IsSameHolder(fresh));
}

TEST(ContactListTest, TheFirstOfTwoRecordsWithOneIdIsFoundUntilItsIdChanges) {
  CategoryManager manager;
  Contact first = AddContact(manager, Category(), "First", 0x0F1);
  Contact second = AddContact(manager, Category(), "Second", 0x0F1);
  ContactList& list = manager.GetContactList();
  EXPECT_TRUE(list.FindByFixedId(0x0F1, false).IsSameHolder(first));
  first.SetFixedId(0x0F2);
  EXPECT_TRUE(list.FindByFixedId(0x0F1, false).IsSameHolder(second));
  EXPECT_TRUE(list.FindByFixedId(0x0F2, false).IsSameHolder(first));
  first.SetFixedId(0x0F1);
  EXPECT_TRUE(list.FindByFixedId(0x0F1, false).IsSameHolder(first));
  second.SetFixedId(0);
  first.SetFixedId(0x0F3);
  EXPECT_TRUE(list.FindByFixedId(0x0F1, false).IsNull());
}

TEST(ContactListTest, FindsAreRightAfterRemovals) {
  CategoryManager manager;
  Category work = AddCategory(manager, "Work", {}, 0x51);
  Contact a = AddContact(manager, work, "A", 0x0F1);
  Contact b = AddContact(manager, Category(), "B", 0x0F2);
  Contact c = AddContact(manager, work, "C", 0x0F3);
  ContactList& list = manager.GetContactList();
  list.FindByFixedId(0x0F3, false);
  EXPECT_TRUE(a.Remove());
  EXPECT_TRUE(list.FindByFixedId(0x0F1, false).IsNull());
  EXPECT_TRUE(list.FindByFixedId(0x0F3, false).IsSameHolder(c));
  manager.DeleteCategory(work);
  EXPECT_TRUE(list.FindByFixedId(0x0F3, false).IsNull());
  EXPECT_TRUE(list.FindByFixedId(0x0F2, false).IsSameHolder(b));
  EXPECT_TRUE(manager.FindByFixedId(0x51, false).IsNull());
  // A removed record's later id changes touch nothing.
  a.SetFixedId(0x0F2);
  EXPECT_TRUE(list.FindByFixedId(0x0F2, false).IsSameHolder(b));
}

// Random id changes, appends and removals on a manager's lists, each followed
// by finds compared with what a scan from the start finds.
TEST(ContactListTest, IndexesAgreeWithAScanAfterRandomOperations) {
  std::mt19937 random(20240607);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(random() % n); };
  CategoryManager manager;
  for (int i = 0; i < 40; ++i) AddContact(manager, Category(), "x", 1 + pick(30), 1 + pick(30));
  ContactList& list = manager.GetContactList();
  auto scan = [&](auto get, uint32_t id) {
    for (int32_t i = 0; i < list.GetListCount(); ++i) {
      if (id != 0 && get(list[i]) == id) return list[i];
    }
    return Contact();
  };
  for (int step = 0; step < 3000; ++step) {
    const int32_t n = list.GetListCount();
    Contact some = n > 0 ? list[static_cast<int32_t>(pick(static_cast<uint32_t>(n)))] : Contact();
    switch (pick(9)) {
      case 0:
        if (!some.IsNull()) some.SetCacheId(pick(30));
        break;
      case 1:
        if (!some.IsNull()) some.SetFixedId(pick(30));
        break;
      case 2:
        if (!some.IsNull()) some.SetLocalId(pick(30));
        break;
      case 3: {
        Contact source = Contact::CreateEmpty();
        source.SetCacheId(pick(30));
        source.SetFixedId(pick(30));
        source.SetLocalId(pick(30));
        if (!some.IsNull()) some.Copy(source);
        break;
      }
      case 4:
        AddContact(manager, Category(), "y", pick(30), pick(30));
        break;
      case 5:
        if (!some.IsNull() && pick(3) == 0) some.Remove();
        break;
      case 6:
        if (n > 1) some.MergeIdentity(list[0]);
        break;
      case 7:
        if (!some.IsNull()) some.GenerateFixedId(pick(2) == 0);
        break;
      default:
        if (!some.IsNull()) some.SetServeId(pick(30));
        break;
    }
    const uint32_t id = pick(31);
    ASSERT_TRUE(list.FindByCacheId(id, false).IsSameHolder(
        scan([](const Contact& c) { return c.GetCacheId(); }, id)))
        << "step " << step;
    ASSERT_TRUE(list.FindByFixedId(id, false).IsSameHolder(
        scan([](const Contact& c) { return c.GetFixedId(); }, id)))
        << "step " << step;
    ASSERT_TRUE(list.FindByLocalId(id, false).IsSameHolder(
        scan([](const Contact& c) { return c.GetLocalId(); }, id)))
        << "step " << step;
  }
}

TEST(CategoryListTest, IndexesFollowIdChangesOfCategories) {
  CategoryManager manager;
  Category a = AddCategory(manager, "A", {}, 0x51, 0xA1);
  Category b = AddCategory(manager, "B", {}, 0x52, 0xB1);
  CategoryList& list = manager.GetCategoryList();
  EXPECT_TRUE(list.FindByCacheId(0xA1, false).IsSameHolder(a));
  EXPECT_TRUE(list.FindByFixedId(0x52, false).IsSameHolder(b));
  a.SetCacheId(0xA2);
  b.SetLocalId(0x33);
  EXPECT_TRUE(list.FindByCacheId(0xA1, false).IsNull());
  EXPECT_TRUE(list.FindByCacheId(0xA2, false).IsSameHolder(a));
  EXPECT_TRUE(list.FindByServeId(0x33, false).IsSameHolder(b));
  a.Copy(b);  // now both carry b's ids; a stands first
  EXPECT_TRUE(list.FindByFixedId(0x52, false).IsSameHolder(a));
  EXPECT_TRUE(a.Remove());
  EXPECT_TRUE(list.FindByFixedId(0x52, false).IsSameHolder(b));
}

TEST(ContactListTest, AListOfNoManagerStillSeesIdChanges) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A", 0x0F1);
  AddContact(manager, Category(), "B", 0x0F2);
  ContactList untouched = manager.GetUntouchedContacts();
  EXPECT_TRUE(untouched.FindByFixedId(0x0F1, false).IsSameHolder(a));
  a.SetFixedId(0x0F9);
  EXPECT_TRUE(untouched.FindByFixedId(0x0F1, false).IsNull());
  EXPECT_TRUE(untouched.FindByFixedId(0x0F9, false).IsSameHolder(a));
}

TEST(ContactListTest, GetUntouchedCollectsAndClearsOnlyTheUntouched) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A", 1);
  Contact b = AddContact(manager, Category(), "B", 2);
  Contact c = AddContact(manager, Category(), "C", 3);
  manager.FindContactByFixedId(2, true);
  ContactList untouched = manager.GetUntouchedContacts();
  ASSERT_EQ(untouched.GetListCount(), 2);
  EXPECT_TRUE(untouched[0].EqualEqual(a));
  EXPECT_TRUE(untouched[1].EqualEqual(c));
  EXPECT_TRUE(b.IsTouched());
  EXPECT_EQ(untouched.GetDisplayString(), "ContactList[2]");
}

TEST(CategoryListTest, ResolveIdentityMatchesByLocalOrFixedIdWhateverTheSizes) {
  for (int extra : {0, 1, 50}) {
    CategoryManager mine;
    CategoryManager cache;
    for (int i = 0; i < extra; ++i) AddCategory(cache, "other", {}, 0x1000 + i, 0x2000 + i);
    Category byFixed = AddCategory(mine, "F", {}, 0x51);
    Category byLocal = AddCategory(mine, "L");
    byLocal.SetLocalId(0x61);
    Category alone = AddCategory(mine, "N", {}, 0x99);
    Category resolved = AddCategory(mine, "R", {}, 0x51, 0x7);
    Category cacheFixed = AddCategory(cache, "F", {}, 0x51, 0xC1);
    Category cacheLocal = AddCategory(cache, "L", {}, 0x77, 0xC2);
    cacheLocal.SetLocalId(0x61);
    mine.GetCategoryList().ResolveIdentity(cache.GetCategoryList());
    EXPECT_EQ(byFixed.GetCacheId(), 0xC1u) << extra;
    EXPECT_EQ(byLocal.GetCacheId(), 0xC2u) << extra;
    EXPECT_EQ(alone.GetCacheId(), 0u) << extra;
    EXPECT_EQ(resolved.GetCacheId(), 0x7u) << "a cache id stays";
    EXPECT_TRUE(mine.FindByCacheId(0xC2, false).IsSameHolder(byLocal));
  }
}

TEST(CategoryListTest, ResolveIdentityTakesTheFirstMatchOfTheOtherList) {
  CategoryManager mine;
  CategoryManager cache;
  Category c = AddCategory(mine, "C", {}, 0x51);
  c.SetLocalId(0x61);
  AddCategory(cache, "by local", {}, 0, 0xC1).SetLocalId(0x61);
  AddCategory(cache, "by fixed", {}, 0x51, 0xC2);
  mine.GetCategoryList().ResolveIdentity(cache.GetCategoryList());
  EXPECT_EQ(c.GetCacheId(), 0xC1u);
  EXPECT_TRUE(cache.GetCategoryList().FindMatch(c, false).GetCacheId() == 0xC1u);
}

TEST(ContactListTest, ResolveIdentityMatchesByFixedIdOnly) {
  for (int extra : {0, 40}) {
    CategoryManager mine;
    CategoryManager cache;
    for (int i = 0; i < extra; ++i) AddContact(cache, Category(), "x", 0x1000 + i, 0x2000 + i);
    Contact byFixed = AddContact(mine, Category(), "F", 0x51);
    Contact byLocal = AddContact(mine, Category(), "L");
    byLocal.SetLocalId(0x61);
    AddContact(cache, Category(), "F", 0x51, 0xC1);
    AddContact(cache, Category(), "L", 0, 0xC2).SetLocalId(0x61);
    mine.ResolveIdentity(cache);
    EXPECT_EQ(byFixed.GetCacheId(), 0xC1u);
    EXPECT_EQ(byLocal.GetCacheId(), 0u);
    EXPECT_TRUE(mine.FindContactByCacheId(0xC1, false).IsSameHolder(byFixed));
  }
}

TEST(CategoryListTest, GenerateFixedIdsForSharedCategoriesOrForAll) {
  CategoryManager manager;
  Category local = AddCategory(manager, "L", CategoryKind::Local(), 0, 0x11);
  Category shared = AddCategory(manager, "S", CategoryKind::Published(), 0, 0x12);
  Category withLocalId = AddCategory(manager, "I", CategoryKind::Local(), 0, 0x13);
  withLocalId.SetLocalId(0x23);
  manager.GetCategoryList().GenerateFixedIds(true);
  EXPECT_EQ(local.GetFixedId(), 0u);
  EXPECT_EQ(shared.GetFixedId(), 0x80000012u);
  EXPECT_EQ(withLocalId.GetFixedId(), 0u);
  manager.GetCategoryList().GenerateFixedIds(false);
  EXPECT_EQ(local.GetFixedId(), 0u) << "no local id, and the cache id is not used";
  EXPECT_EQ(withLocalId.GetFixedId(), 0x80000023u);
  EXPECT_TRUE(manager.FindByFixedId(0x80000023u, false).IsSameHolder(withLocalId));
}

TEST(ContactListTest, GenerateFixedIdsGivesEveryContactOne) {
  CategoryManager manager;
  Contact a = AddContact(manager, Category(), "A", 0, 0x11);
  Contact b = AddContact(manager, Category(), "B", 0x99, 0x12);
  manager.GetContactList().GenerateFixedIds(false);
  EXPECT_EQ(a.GetFixedId(), 0u);
  manager.GetContactList().GenerateFixedIds(true);
  EXPECT_EQ(a.GetFixedId(), 0x80000011u);
  EXPECT_EQ(b.GetFixedId(), 0x99u);
}

TEST(ContactListTest, CloneMakesNewRecordsOfTheGivenManager) {
  CategoryManager source;
  CategoryManager target;
  AddContact(source, Category(), "A", 1);
  AddContact(source, Category(), "B", 2);
  ContactList clones = source.GetContactList().Clone(target);
  ASSERT_EQ(clones.GetListCount(), 2);
  EXPECT_FALSE(clones[0].EqualEqual(source.GetContactList()[0]));
  EXPECT_TRUE(clones[0].Equal(source.GetContactList()[0]));
  EXPECT_TRUE(clones[1].GetManager().EqualEqual(target));
  EXPECT_TRUE(clones.FindByFixedId(2, false).IsSameHolder(clones[1]));
}

TEST(ContactListTest, EmptyListRemovesEveryContactFromItsManager) {
  CategoryManager one;
  CategoryManager two;
  Contact a = AddContact(one, Category(), "A");
  Contact b = AddContact(two, Category(), "B");
  AddContact(one, Category(), "C");
  ContactList list;
  list.Append(a);
  list.Append(b);
  list.Append(Contact::CreateEmpty());
  EXPECT_TRUE(list.EmptyList());
  EXPECT_EQ(ContactNames(one), "C");
  EXPECT_EQ(ContactNames(two), "");
  EXPECT_EQ(list.GetListCount(), 3) << "the list itself is not a manager's";
  EXPECT_FALSE(list.EmptyList()) << "none of them is in its manager any more";

  EXPECT_TRUE(one.GetContactList().EmptyList());
  EXPECT_EQ(one.GetContactList().GetListCount(), 0);
}

TEST(CategoryListTest, DisplayAndStoredFormOfAList) {
  CategoryManager manager;
  AddCategory(manager, "A", {}, 0x51);
  AddCategory(manager, "B");
  EXPECT_EQ(manager.GetCategoryList().GetDisplayString(), "CategoryList[2]");
  TextTree tree;
  manager.GetCategoryList().DisplayTree(tree, kTreeRoot);
  EXPECT_EQ(tree.ItemCount(), 3u);

  StringSink sink;
  {
    Archive ar(sink);
    manager.GetCategoryList().SerializeQuick(ar, Archive::kNoSchema);
  }
  const std::string bytes = sink.contents();
  CategoryList read;
  Archive ar(bytes);
  read.SerializeQuick(ar, 15);
  EXPECT_EQ(ar.Remaining(), 0u);
  ASSERT_EQ(read.GetListCount(), 2);
  EXPECT_TRUE(read[0].Equal(manager.GetCategoryList()[0]));
  EXPECT_EQ(read.FindByFixedId(0x51, false).GetCategoryDescriptor().GetCategoryName(), "A");
}

}  // namespace
}  // namespace brontel
