// Tests of CategoryCache: the sequence of cache ids and its random start,
// adding categories and contacts, the forwarded look-ups, clones and the
// display string.
#include "brontel/contacts/category_cache.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>

#include "brontel/core/log_node.h"
#include "brontel/core/record_identification.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;
using testing::CategoryKind;
using testing::ContactNames;

TEST(CategoryCacheTest, ANewCacheHasAnEmptyManagerAndSequence1) {
  CategoryCache cache;
  EXPECT_EQ(cache.GetSequence(), 1u);
  EXPECT_FALSE(cache.GetCategoryManager().IsNull());
  EXPECT_EQ(cache.GetCategoryManager().GetContactList().GetListCount(), 0);
  EXPECT_EQ(cache.GetDisplayString(),
            "Category Cache 1 CategoryManager [G=0000:0000:0000:0000/TV=ffffffff|0000] "
            "#categories = 0 #contacts = 0");
}

TEST(CategoryCacheTest, GenerateCacheIdHandsOutTheSequenceThenIncrements) {
  CategoryCache cache;
  EXPECT_EQ(cache.GenerateCacheId(), 1u);
  EXPECT_EQ(cache.GenerateCacheId(), 2u);
  cache.Increment();
  EXPECT_EQ(cache.GetSequence(), 4u);
}

TEST(CategoryCacheTest, GenerateCacheIdStepsOverTheHandheldBand) {
  // A stored cache whose sequence lies inside the band.
  std::string bytes = testing::StoreCache(CategoryCache());
  const size_t sequenceAt = 6 + std::string("CategoryCacheHolder").size();
  bytes[sequenceAt + 0] = 0x05;
  bytes[sequenceAt + 3] = 0x40;
  CategoryCache cache = testing::ReadCache(bytes);
  ASSERT_EQ(cache.GetSequence(), 0x40000005u);
  EXPECT_EQ(cache.GenerateCacheId(), RecordIdentification::kHandheldBandEnd);
  EXPECT_EQ(cache.GenerateCacheId(), RecordIdentification::kHandheldBandEnd + 1);
}

TEST(CategoryCacheTest, RandomStartFollowsTheClockFormula) {
  CategoryCache cache;
  const uint32_t before = static_cast<uint32_t>(std::time(nullptr));
  cache.SetRandomCacheIndex();
  const uint32_t after = static_cast<uint32_t>(std::time(nullptr));
  const uint32_t sequence = cache.GetSequence();
  EXPECT_GE(sequence, 0x40000000u);
  EXPECT_EQ(sequence & 0x80000000u, 0u);
  bool matched = false;
  for (uint32_t t = before; t <= after; ++t) {
    matched = matched || sequence == (((t * 0xACE1DEADu) & 0x7FFFFFFFu) | 0x40000000u);
  }
  EXPECT_TRUE(matched);
}

TEST(CategoryCacheTest, AddItemCopiesACategoryUnderTheNextCacheId) {
  CategoryCache cache;
  CategoryManager desktop;
  Category work = AddCategory(desktop, "Work", CategoryKind::Published());
  Category home = AddCategory(desktop, "Home");
  home.SetLocalId(0x22);
  Category addedWork = cache.AddItem(work);
  Category addedHome = cache.AddItem(home);
  EXPECT_EQ(work.GetCacheId(), 1u);
  EXPECT_EQ(home.GetCacheId(), 2u);
  EXPECT_EQ(work.GetFixedId(), 0x80000001u) << "a provisional fixed id from the cache id";
  EXPECT_EQ(home.GetFixedId(), 0x80000022u) << "from the local id first";
  EXPECT_TRUE(addedWork.GetManager().EqualEqual(cache.GetCategoryManager()));
  EXPECT_TRUE(addedWork.Equal(work));
  EXPECT_EQ(addedWork.GetCacheId(), 1u);
  EXPECT_EQ(addedHome.GetFixedId(), 0x80000022u);
  EXPECT_TRUE(cache.FindByCacheId(2, false).EqualEqual(addedHome));
  EXPECT_TRUE(cache.FindByFixedId(0x80000001u, false).EqualEqual(addedWork));
  EXPECT_TRUE(cache.FindByLocalId(0x22, false).EqualEqual(addedHome));
  EXPECT_TRUE(cache.FindMatchingCategory(work, false).EqualEqual(addedWork));
}

TEST(CategoryCacheTest, AddItemPutsAContactIntoTheGivenCacheCategory) {
  CategoryCache cache;
  CategoryManager desktop;
  Category work = AddCategory(desktop, "Work");
  Category cacheWork = cache.AddItem(work);
  Contact smith = AddContact(desktop, work, "Smith", 0x61);
  smith.SetLinkVersion(5);
  Contact added = cache.AddItem(cacheWork, smith);
  EXPECT_EQ(smith.GetCacheId(), 2u);
  EXPECT_EQ(added.GetCacheId(), 2u);
  EXPECT_EQ(added.GetFixedId(), 0x61u);
  EXPECT_TRUE(added.Equal(smith));
  EXPECT_TRUE(added.GetCategory().EqualEqual(cacheWork));
  EXPECT_EQ(added.GetLinkVersion(), 0u) << "the link is not copied";
  EXPECT_TRUE(cache.FindContactByCacheId(2, false).EqualEqual(added));
  EXPECT_TRUE(cache.FindContactByFixedId(0x61, false).EqualEqual(added));
  EXPECT_TRUE(cache.FindMatchingContact(smith, false).EqualEqual(added));

  ContactDescriptor d = testing::MakeContactDescriptor("Jones");
  Category none;
  Contact jones = cache.AddItem(none, d);
  EXPECT_EQ(jones.GetCacheId(), 3u);
  EXPECT_TRUE(jones.IsUnfiled());
  EXPECT_TRUE(jones.GetContactDescriptor().Equal(d));
  EXPECT_EQ(ContactNames(cache.GetCategoryManager()), "Smith|Jones");
  EXPECT_TRUE(cache.SanityCheck());
}

TEST(CategoryCacheTest, UntouchedRecordsOfTheCache) {
  CategoryCache cache;
  CategoryManager manager = cache.GetCategoryManager();
  AddCategory(manager, "A", {}, 0, 0x1);
  AddCategory(manager, "B", {}, 0, 0x2);
  AddContact(manager, Category(), "C", 0, 0x3);
  AddContact(manager, Category(), "D", 0, 0x4);
  cache.FindByCacheId(0x1, true);
  cache.FindContactByLocalId(0, true);
  cache.FindContactByCacheId(0x4, true);
  EXPECT_EQ(cache.GetUntouched().GetListCount(), 1);
  ASSERT_EQ(cache.GetUntouchedContacts().GetListCount(), 1);
  EXPECT_EQ(cache.GetUntouchedContacts()[0].GetCacheId(), 3u);
}

TEST(CategoryCacheTest, CloneHasItsOwnManagerAndTheSameSequence) {
  CategoryCache cache;
  Category work = AddCategory(cache.GetCategoryManager(), "Work", {}, 0x51);
  AddContact(cache.GetCategoryManager(), work, "Smith", 0x61);
  cache.Increment();
  CategoryCache clone = cache.Clone();
  EXPECT_FALSE(clone.EqualEqual(cache));
  EXPECT_EQ(clone.GetSequence(), 2u);
  EXPECT_FALSE(clone.GetCategoryManager().EqualEqual(cache.GetCategoryManager()));
  CategoryManager left = clone.GetCategoryManager().Clone();
  CategoryManager right = cache.GetCategoryManager().Clone();
  EXPECT_TRUE(left.Verify(right));
}

TEST(CategoryCacheTest, DisplayTreeShowsTheManager) {
  CategoryCache cache;
  AddCategory(cache.GetCategoryManager(), "Work");
  TextTree tree;
  cache.DisplayTree(tree, kTreeRoot);
  const std::string text = tree.Render();
  EXPECT_EQ(text.rfind("Category Cache 1 ", 0), 0u);
  EXPECT_NE(text.find("CategoryList[1]"), std::string::npos);
  EXPECT_STREQ(cache.GetLogItem("cache")->GetClassInfo().name, "CategoryCacheLog");
}

}  // namespace
}  // namespace brontel
