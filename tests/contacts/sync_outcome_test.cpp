// The outcome tables of the three-way merges: Category::Sync and Contact::Sync
// share one decision table (run here for both record classes), and
// Contact::SyncLink merges the category links. Each case sets up versions,
// data, stored hashes and the copy of the last synchronization, and checks
// which outcome was taken by its effects on both copies.
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <tuple>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCategory;
using testing::AddContact;

// ---------------------------------------------------------------------------
// Data merge

enum class Hash { kZero, kMatched, kStale };
enum class Outcome { kConflict, kTakeOther, kGiveThis, kNone };

struct SyncCase {
  const char* label;
  uint32_t u, l;    // this copy's manager version and record version
  uint32_t ou, ol;  // the other copy's
  const char* mine;
  const char* other;
  const char* cached;  // null: no copy of the last synchronization
  Hash mineHash, otherHash;
  Outcome expected;
};

std::ostream& operator<<(std::ostream& out, const SyncCase& c) {
  return out << c.label;
}

constexpr uint32_t kCacheId = 0x11;
constexpr uint32_t kStaleHash = 0x5EED;

// What the table needs of a record class.
template <class Record>
struct Kit;

template <>
struct Kit<Category> {
  static Category Make(CategoryManager& m, const char* data) {
    return AddCategory(m, data, testing::CategoryKind::Local());
  }
  static std::string Data(const Category& r) { return r.GetCategoryDescriptor().GetCategoryName(); }
  static uint32_t DataHash(const Category& r) { return r.GetCategoryDescriptor().CalculateHash(); }
};

template <>
struct Kit<Contact> {
  static Contact Make(CategoryManager& m, const char* data) {
    return AddContact(m, Category(), data);
  }
  static std::string Data(const Contact& r) {
    return r.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName);
  }
  static uint32_t DataHash(const Contact& r) { return r.GetContactDescriptor().CalculateHash(); }
};

template <class Record>
void SetHash(Record& r, Hash hash) {
  r.SetDataHash(hash == Hash::kZero      ? 0
                : hash == Hash::kMatched ? Kit<Record>::DataHash(r)
                                         : kStaleHash);
}

template <class Record>
void RunSyncCase(const SyncCase& c) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  CategoryManager cacheManager;
  mineManager.SetVersion(c.u);
  otherManager.SetVersion(c.ou);
  Record mine = Kit<Record>::Make(mineManager, c.mine);
  Record other = Kit<Record>::Make(otherManager, c.other);
  mine.SetVersion(c.l);
  other.SetVersion(c.ol);
  mine.SetCacheId(kCacheId);
  other.SetCacheId(kCacheId);
  SetHash(mine, c.mineHash);
  SetHash(other, c.otherHash);
  if (c.cached != nullptr) Kit<Record>::Make(cacheManager, c.cached).SetCacheId(kCacheId);
  const uint32_t mineHashBefore = mine.GetDataHash();
  const uint32_t otherHashBefore = other.GetDataHash();

  const int32_t conflicts = mine.Sync(other, cacheManager, true);

  switch (c.expected) {
    case Outcome::kConflict:
      EXPECT_EQ(conflicts, 1);
      ASSERT_TRUE(mine.IsConflicted());
      EXPECT_EQ(Kit<Record>::Data(mine.GetConflict()), c.other);
      EXPECT_FALSE(mine.GetConflict().EqualEqual(other)) << "the conflict is a copy";
      EXPECT_EQ(Kit<Record>::Data(mine), c.mine);
      EXPECT_EQ(Kit<Record>::Data(other), c.other);
      break;
    case Outcome::kTakeOther:
      EXPECT_EQ(conflicts, 0);
      EXPECT_FALSE(mine.IsConflicted());
      EXPECT_EQ(Kit<Record>::Data(mine), c.other);
      EXPECT_EQ(mine.GetDataHash(), otherHashBefore);
      EXPECT_TRUE(mine.IsDirty());
      break;
    case Outcome::kGiveThis:
      EXPECT_EQ(conflicts, 0);
      EXPECT_EQ(Kit<Record>::Data(other), c.mine);
      EXPECT_EQ(other.GetDataHash(), mineHashBefore);
      EXPECT_FALSE(mine.IsDirty());
      break;
    case Outcome::kNone:
      EXPECT_EQ(conflicts, 0);
      EXPECT_EQ(Kit<Record>::Data(mine), c.mine);
      EXPECT_EQ(mine.GetDataHash(), mineHashBefore);
      EXPECT_EQ(other.GetDataHash(), otherHashBefore);
      EXPECT_FALSE(mine.IsDirty());
      break;
  }
}

const SyncCase kSyncCases[] = {
    // The other side changed after this copy's version (U < OL).
    {"OtherNewerSameData", 5, 5, 6, 6, "A", "A", nullptr, Hash::kStale, Hash::kMatched,
     Outcome::kTakeOther},
    {"OtherNewerMineAsCached", 5, 5, 6, 6, "A", "B", "A", Hash::kStale, Hash::kStale,
     Outcome::kTakeOther},
    {"OtherNewerMineMatched", 5, 5, 6, 6, "A", "B", "B", Hash::kMatched, Hash::kStale,
     Outcome::kTakeOther},
    {"OtherNewerMineChanged", 5, 5, 6, 6, "A", "B", nullptr, Hash::kStale, Hash::kMatched,
     Outcome::kConflict},
    {"OtherNewerMineUnhashed", 5, 5, 6, 6, "A", "B", "C", Hash::kZero, Hash::kMatched,
     Outcome::kConflict},
    // This copy is newer and the stored hashes differ (U > OU).
    {"MineNewerSameData", 7, 7, 5, 3, "A", "A", nullptr, Hash::kStale, Hash::kMatched,
     Outcome::kGiveThis},
    {"MineNewerOtherAsCached", 7, 7, 5, 3, "A", "B", "B", Hash::kMatched, Hash::kStale,
     Outcome::kGiveThis},
    {"MineNewerOtherMatched", 7, 7, 5, 3, "A", "B", nullptr, Hash::kStale, Hash::kMatched,
     Outcome::kGiveThis},
    {"MineNewerOtherChanged", 7, 7, 5, 3, "A", "B", "C", Hash::kMatched, Hash::kStale,
     Outcome::kConflict},
    // Neither: same manager versions, or a hash missing on one side.
    {"SameDataHashesDiffer", 5, 5, 5, 3, "A", "A", nullptr, Hash::kStale, Hash::kMatched,
     Outcome::kTakeOther},
    {"SameDataSameHash", 5, 5, 5, 3, "A", "A", nullptr, Hash::kMatched, Hash::kMatched,
     Outcome::kNone},
    {"SameDataNoHash", 7, 7, 5, 3, "A", "A", nullptr, Hash::kZero, Hash::kMatched, Outcome::kNone},
    {"OtherAsCached", 5, 5, 5, 3, "A", "B", "B", Hash::kStale, Hash::kStale, Outcome::kGiveThis},
    {"MineAsCached", 5, 5, 5, 3, "A", "B", "A", Hash::kStale, Hash::kStale, Outcome::kTakeOther},
    {"OnlyOtherMatched", 5, 5, 5, 3, "A", "B", "C", Hash::kStale, Hash::kMatched,
     Outcome::kGiveThis},
    {"OnlyMineMatched", 5, 5, 5, 3, "A", "B", nullptr, Hash::kMatched, Hash::kZero,
     Outcome::kTakeOther},
    {"BothMatched", 5, 5, 5, 3, "A", "B", nullptr, Hash::kMatched, Hash::kMatched,
     Outcome::kConflict},
    {"NeitherMatched", 5, 5, 5, 3, "A", "B", nullptr, Hash::kStale, Hash::kZero,
     Outcome::kConflict},
    {"MineNewerOneHashMissing", 7, 7, 5, 3, "A", "B", nullptr, Hash::kZero, Hash::kMatched,
     Outcome::kGiveThis},
    {"InvalidVersionsOtherMatched", 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, "A", "B",
     nullptr, Hash::kStale, Hash::kMatched, Outcome::kGiveThis},
};

enum class Kind { kCategory, kContact };

class DataMergeTest : public ::testing::TestWithParam<std::tuple<SyncCase, Kind>> {};

TEST_P(DataMergeTest, TakesTheOutcomeOfTheTable) {
  const auto& [c, kind] = GetParam();
  if (kind == Kind::kCategory) {
    RunSyncCase<Category>(c);
  } else {
    RunSyncCase<Contact>(c);
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, DataMergeTest,
                         ::testing::Combine(::testing::ValuesIn(kSyncCases),
                                            ::testing::Values(Kind::kCategory, Kind::kContact)),
                         [](const ::testing::TestParamInfo<std::tuple<SyncCase, Kind>>& param) {
                           return std::string(std::get<1>(param.param) == Kind::kCategory
                                                  ? "Category"
                                                  : "Contact") +
                                  std::get<0>(param.param).label;
                         });

// Beyond the outcome: versions and ids.
TEST(DataMergeTest, ANewerCopyMovesItsVersionPastTheOthers) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  mineManager.SetVersion(9);
  otherManager.SetVersion(5);
  Category mine = AddCategory(mineManager, "A");
  Category other = AddCategory(otherManager, "B");
  mine.SetVersion(2);
  other.SetVersion(3);
  mine.SetDataHash(kStaleHash);
  other.SetDataHash(other.GetCategoryDescriptor().CalculateHash());
  CategoryManager none;
  EXPECT_EQ(mine.Sync(other, none, false), 0);
  EXPECT_EQ(mine.GetVersion(), 6u) << "NewestVersion(2, 5 + 1)";
  EXPECT_EQ(other.GetCategoryDescriptor().GetCategoryName(), "A");
}

TEST(DataMergeTest, TakingTheOtherKeepsThisCopysLocalIdOnBothSides) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  mineManager.SetVersion(5);
  otherManager.SetVersion(6);
  Category mine = AddCategory(mineManager, "A");
  Category other = AddCategory(otherManager, "A");
  mine.SetLocalId(0x71);
  other.SetLocalId(0x72);
  other.SetVersion(6);
  CategoryManager none;
  mine.Sync(other, none, false);
  EXPECT_EQ(mine.GetLocalId(), 0x71u);
  EXPECT_EQ(other.GetLocalId(), 0x71u);
  EXPECT_FALSE(mine.IsDirty()) << "markDirty was false";
  // The local id stays findable under its value.
  EXPECT_TRUE(mineManager.FindByLocalId(0x71, false).EqualEqual(mine));
  EXPECT_TRUE(otherManager.FindByLocalId(0x71, false).EqualEqual(other));
}

TEST(DataMergeTest, GivingThisKeepsTheOthersIdsWhereThisHasNone) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  mineManager.SetVersion(7);
  otherManager.SetVersion(5);
  Contact mine = AddContact(mineManager, Category(), "A");
  Contact other = AddContact(otherManager, Category(), "B", 0x0F00);
  other.SetLocalId(0x72);
  mine.SetDataHash(kStaleHash);
  other.SetDataHash(other.GetContactDescriptor().CalculateHash());
  CategoryManager none;
  EXPECT_EQ(mine.Sync(other, none, false), 0);
  EXPECT_EQ(other.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName), "A");
  EXPECT_EQ(other.GetLocalId(), 0x72u);
  EXPECT_EQ(other.GetFixedId(), 0x0F00u);
}

TEST(DataMergeTest, EqualCopiesOnlyShareTheirMissingIdsAndDropTheOthersConflict) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  Category mine = AddCategory(mineManager, "A", {}, 0x0F00);
  Category other = AddCategory(otherManager, "A");
  other.SetLocalId(0x72);
  other.SetConflict(AddCategory(otherManager, "Z"));
  const uint32_t hash = mine.GetCategoryDescriptor().CalculateHash();
  mine.SetDataHash(hash);
  other.SetDataHash(hash);
  CategoryManager none;
  EXPECT_EQ(mine.Sync(other, none, true), 0);
  EXPECT_EQ(mine.GetLocalId(), 0x72u);
  EXPECT_EQ(other.GetFixedId(), 0x0F00u);
  EXPECT_FALSE(other.IsConflicted());
  EXPECT_FALSE(mine.IsDirty());
}

TEST(DataMergeTest, TakingAConflictedCopyCountsItsConflict) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  mineManager.SetVersion(5);
  otherManager.SetVersion(6);
  Contact mine = AddContact(mineManager, Category(), "A");
  Contact other = AddContact(otherManager, Category(), "A");
  other.SetVersion(6);
  other.SetConflict(AddContact(otherManager, Category(), "Z"));
  CategoryManager none;
  EXPECT_EQ(mine.Sync(other, none, false), 1);
  EXPECT_TRUE(mine.IsConflicted());
}

TEST(DataMergeTest, AContactKeepsItsReadOnlyConflictFlagWhenTakingTheOther) {
  CategoryManager mineManager;
  CategoryManager otherManager;
  mineManager.SetVersion(5);
  otherManager.SetVersion(6);
  Contact mine = AddContact(mineManager, Category(), "A");
  Contact other = AddContact(otherManager, Category(), "B");
  other.SetVersion(6);
  mine.SetDataHash(mine.GetContactDescriptor().CalculateHash());
  mine.SetReadOnlyConflict(true);
  CategoryManager none;
  EXPECT_EQ(mine.Sync(other, none, false), 0);
  EXPECT_EQ(mine.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName), "B");
  EXPECT_TRUE(mine.GetReadOnlyConflict());
}

// ---------------------------------------------------------------------------
// Link merge

// A contact's parent in one copy: category A, category B or unfiled; for M
// also "missing", when the last synchronized state has no such contact.
enum class Parent { kA, kB, kUnfiled, kMissing };
enum class LinkOutcome { kConflict, kAdoptCache, kGiveLink, kNothing };

struct LinkCase {
  const char* label;
  Parent mine, cache, last;
  uint32_t u, lv;    // this copy's manager version and link version
  uint32_t cu, clv;  // the cache's
  LinkOutcome expected;
  uint32_t lvAfter;  // this contact's link version afterwards
};

std::ostream& operator<<(std::ostream& out, const LinkCase& c) {
  return out << c.label;
}

constexpr uint32_t kCategoryA = 0xA1;
constexpr uint32_t kCategoryB = 0xB1;
constexpr uint32_t kContactCacheId = 0xC1;

// One copy with categories A and B (cache ids 0xA1 and 0xB1).
struct LinkCopy {
  explicit LinkCopy(CategoryManager m) : manager(m) {
    a = AddCategory(manager, "A", {}, 0, kCategoryA);
    b = AddCategory(manager, "B", {}, 0, kCategoryB);
  }
  Category Of(Parent p) const { return p == Parent::kA ? a : p == Parent::kB ? b : Category(); }
  Contact Add(Parent p) {
    return p == Parent::kMissing ? Contact()
                                 : AddContact(manager, Of(p), "Smith", 0, kContactCacheId);
  }
  CategoryManager manager;
  Category a, b;
};

std::string ParentName(const Contact& c) {
  return c.IsUnfiled() ? "unfiled" : c.GetCategory().GetCategoryDescriptor().GetCategoryName();
}
std::string ParentName(Parent p) {
  return p == Parent::kA ? "A" : p == Parent::kB ? "B" : "unfiled";
}

class LinkMergeTest : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkMergeTest, TakesTheOutcomeOfTheTable) {
  const LinkCase& c = GetParam();
  CategoryCache cache;
  LinkCopy cacheCopy(cache.GetCategoryManager());
  LinkCopy mineCopy{CategoryManager()};
  LinkCopy lastCopy{CategoryManager()};
  cache.GetCategoryManager().SetVersion(c.cu);
  mineCopy.manager.SetVersion(c.u);
  Contact mine = mineCopy.Add(c.mine);
  Contact cached = cacheCopy.Add(c.cache);
  lastCopy.Add(c.last);
  mine.SetLinkVersion(c.lv);
  cached.SetLinkVersion(c.clv);

  const int32_t conflicts = mine.SyncLink(cache, lastCopy.manager, true);

  EXPECT_EQ(mine.GetLinkVersion(), c.lvAfter);
  switch (c.expected) {
    case LinkOutcome::kConflict:
      EXPECT_EQ(conflicts, 1);
      EXPECT_EQ(ParentName(mine), ParentName(c.mine));
      EXPECT_EQ(ParentName(cached), ParentName(c.cache));
      EXPECT_EQ(cached.GetLinkVersion(), c.clv);
      EXPECT_FALSE(mine.IsDirty());
      break;
    case LinkOutcome::kAdoptCache:
      EXPECT_EQ(conflicts, 0);
      EXPECT_EQ(ParentName(mine), ParentName(c.cache));
      EXPECT_TRUE(mine.GetCategory().IsNull() ||
                  mine.GetCategory().GetManager().EqualEqual(mineCopy.manager))
          << "the parent is this copy's own category";
      EXPECT_TRUE(mine.IsDirty());
      break;
    case LinkOutcome::kGiveLink:
      EXPECT_EQ(conflicts, 0);
      EXPECT_EQ(ParentName(cached), ParentName(c.mine));
      EXPECT_TRUE(cached.GetCategory().IsNull() ||
                  cached.GetCategory().GetManager().EqualEqual(cache.GetCategoryManager()));
      EXPECT_EQ(cached.GetLinkVersion(), c.lvAfter);
      EXPECT_FALSE(mine.IsDirty());
      break;
    case LinkOutcome::kNothing:
      EXPECT_EQ(conflicts, 0);
      EXPECT_EQ(ParentName(mine), ParentName(c.mine));
      EXPECT_EQ(cached.GetLinkVersion(), c.lvAfter);
      EXPECT_FALSE(mine.IsDirty());
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Cases, LinkMergeTest,
                         ::testing::Values(
                             // The cache's link changed after this copy's version (U < CLV).
                             LinkCase{"CacheMovedSameAsCache", Parent::kA, Parent::kA, Parent::kB,
                                      5, 1, 5, 6, LinkOutcome::kAdoptCache, 6},
                             LinkCase{"CacheMovedMineAsLast", Parent::kA, Parent::kB, Parent::kA, 5,
                                      1, 5, 6, LinkOutcome::kAdoptCache, 6},
                             LinkCase{"CacheMovedUnfiledAsLast", Parent::kUnfiled, Parent::kB,
                                      Parent::kUnfiled, 5, 1, 5, 6, LinkOutcome::kAdoptCache, 6},
                             LinkCase{"CacheMovedBothMoved", Parent::kA, Parent::kB,
                                      Parent::kUnfiled, 5, 1, 5, 6, LinkOutcome::kConflict, 1},
                             LinkCase{"CacheMovedLastMissing", Parent::kA, Parent::kB,
                                      Parent::kMissing, 5, 1, 5, 6, LinkOutcome::kConflict, 1},
                             // This copy's version is not newer than the cache's (U <= CU).
                             LinkCase{"SameParent", Parent::kA, Parent::kA, Parent::kB, 5, 4, 5, 3,
                                      LinkOutcome::kNothing, 4},
                             LinkCase{"BothUnfiled", Parent::kUnfiled, Parent::kUnfiled,
                                      Parent::kMissing, 5, 2, 5, 3, LinkOutcome::kNothing, 3},
                             LinkCase{"OnlyMineMoved", Parent::kB, Parent::kA, Parent::kA, 5, 4, 5,
                                      3, LinkOutcome::kGiveLink, 4},
                             LinkCase{"OnlyMineMovedToUnfiled", Parent::kUnfiled, Parent::kA,
                                      Parent::kA, 5, 4, 5, 3, LinkOutcome::kGiveLink, 4},
                             LinkCase{"OnlyCacheMoved", Parent::kA, Parent::kB, Parent::kA, 5, 4, 5,
                                      3, LinkOutcome::kAdoptCache, 3},
                             LinkCase{"BothMoved", Parent::kA, Parent::kB, Parent::kUnfiled, 5, 4,
                                      5, 3, LinkOutcome::kConflict, 4},
                             LinkCase{"BothMovedLastMissing", Parent::kA, Parent::kB,
                                      Parent::kMissing, 5, 4, 5, 3, LinkOutcome::kConflict, 4},
                             // This copy is newer than the cache (U > CU): its link version first
                             // moves past the cache's version.
                             LinkCase{"NewerSameParent", Parent::kA, Parent::kA, Parent::kB, 7, 2,
                                      5, 3, LinkOutcome::kGiveLink, 6},
                             LinkCase{"NewerCacheAsLast", Parent::kB, Parent::kA, Parent::kA, 7, 2,
                                      5, 3, LinkOutcome::kGiveLink, 6},
                             LinkCase{"NewerToUnfiled", Parent::kUnfiled, Parent::kA, Parent::kA, 7,
                                      2, 5, 3, LinkOutcome::kGiveLink, 6},
                             LinkCase{"NewerKeepsHigherLinkVersion", Parent::kA, Parent::kA,
                                      Parent::kA, 7, 9, 5, 3, LinkOutcome::kGiveLink, 9},
                             LinkCase{"NewerBothMoved", Parent::kB, Parent::kA, Parent::kUnfiled, 7,
                                      2, 5, 3, LinkOutcome::kConflict, 6}),
                         [](const ::testing::TestParamInfo<LinkCase>& param) {
                           return std::string(param.param.label);
                         });

TEST(LinkMergeTest, WithoutACacheCounterpartNothingChanges) {
  CategoryCache cache;
  LinkCopy mineCopy{CategoryManager()};
  LinkCopy lastCopy{CategoryManager()};
  Contact mine = mineCopy.Add(Parent::kA);
  lastCopy.Add(Parent::kB);
  mine.SetLinkVersion(4);
  mineCopy.manager.SetVersion(9);
  EXPECT_EQ(mine.SyncLink(cache, lastCopy.manager, true), 0);
  EXPECT_EQ(ParentName(mine), "A");
  EXPECT_EQ(mine.GetLinkVersion(), 4u);
  EXPECT_FALSE(mine.IsDirty());
}

TEST(LinkMergeTest, AdoptingACategoryThisCopyLacksLeavesTheContactUnfiled) {
  CategoryCache cache;
  LinkCopy cacheCopy(cache.GetCategoryManager());
  Category onlyInCache = AddCategory(cacheCopy.manager, "C", {}, 0, 0xCC);
  CategoryManager mineManager;
  Category a = AddCategory(mineManager, "A", {}, 0, kCategoryA);
  Contact mine = AddContact(mineManager, a, "Smith", 0, kContactCacheId);
  Contact cached = AddContact(cacheCopy.manager, onlyInCache, "Smith", 0, kContactCacheId);
  cached.SetLinkVersion(6);
  mineManager.SetVersion(5);
  LinkCopy last{CategoryManager()};
  last.Add(Parent::kA);
  EXPECT_EQ(mine.SyncLink(cache, last.manager, false), 0);
  EXPECT_TRUE(mine.IsUnfiled());
  EXPECT_EQ(mine.GetLinkVersion(), 6u);
}

}  // namespace
}  // namespace brontel
