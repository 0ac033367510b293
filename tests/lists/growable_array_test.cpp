// Tests of the storage shared by every list: the growth rule (with and without
// the element slot inside the list), removal by holder identity that keeps the
// order and lets go of vacated slots (long lists too, whose gaps close later),
// and LinkList removal of equal links.
#include "brontel/lists/growable_array.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brontel/lists/link.h"
#include "brontel/lists/record_list.h"

namespace brontel {
namespace {

// Elements that own a count of a shared value, so a slot that still holds an
// element shows up in the value's use count.
using Counted = std::shared_ptr<int>;

template <ArrayGrowth kGrowth>
class CountedArray : public GrowableArray<Counted, kGrowth> {
 public:
  using GrowableArray<Counted, kGrowth>::RemoveIf;
};

// A minimal record handle: copies share one holder; records with the same
// id match, records with the same holder are the same record.
struct TestRecord {
  struct Body {
    uint32_t id = 0;
    bool touched = false;
  };
  std::shared_ptr<Body> body;

  static TestRecord Make(uint32_t id) { return TestRecord{std::make_shared<Body>(Body{id})}; }
  bool IsNull() const { return body == nullptr; }
  bool IsSameHolder(const TestRecord& other) const { return body == other.body; }
  const void* HolderKey() const { return body.get(); }
  bool IsMatching(const TestRecord& other) const { return body->id == other.body->id; }
  bool IsTouched() const { return body->touched; }
  void SetTouched(bool touched) { body->touched = touched; }
};

using TestRecordList = RecordList<TestRecord>;
using SlotRecordList = RecordList<TestRecord, ArrayGrowth::kInlineSlot>;

template <class List>
std::vector<uint32_t> Ids(const List& list) {
  std::vector<uint32_t> ids;
  for (int32_t i = 0; i < list.GetListCount(); ++i) ids.push_back(list[i].body->id);
  return ids;
}

// ---------------------------------------------------------------------------
// Growth

struct GrowthCase {
  int32_t appended;
  int32_t sixteenCapacity;
  int32_t slotCapacity;
};

class GrowthTest : public ::testing::TestWithParam<GrowthCase> {};

TEST_P(GrowthTest, CapacityAfterAppendsFollowsTheGrowthRule) {
  const GrowthCase& c = GetParam();
  GrowableArray<int> sixteen;
  GrowableArray<int, ArrayGrowth::kInlineSlot> slot;
  for (int32_t i = 0; i < c.appended; ++i) {
    sixteen.Append(i);
    slot.Append(i);
  }
  EXPECT_EQ(sixteen.GetCapacity(), c.sixteenCapacity);
  EXPECT_EQ(slot.GetCapacity(), c.slotCapacity);
  ASSERT_EQ(slot.GetListCount(), c.appended);
  for (int32_t i = 0; i < c.appended; ++i) EXPECT_EQ(slot[i], i);
}

INSTANTIATE_TEST_SUITE_P(Appends, GrowthTest,
                         ::testing::Values(GrowthCase{0, 0, 0}, GrowthCase{1, 16, 1},
                                           GrowthCase{2, 16, 16}, GrowthCase{16, 16, 16},
                                           GrowthCase{17, 32, 32}, GrowthCase{32, 32, 32},
                                           GrowthCase{33, 64, 64}));

TEST(GrowableArrayTest, InitialCapacityIsRaisedByTheSameSteps) {
  EXPECT_EQ(GrowableArray<int>(5).GetCapacity(), 16);
  EXPECT_EQ(GrowableArray<int>(40).GetCapacity(), 64);
  EXPECT_EQ((GrowableArray<int, ArrayGrowth::kInlineSlot>(1).GetCapacity()), 1);
  EXPECT_EQ((GrowableArray<int, ArrayGrowth::kInlineSlot>(2).GetCapacity()), 16);
}

bool LivesInside(const void* element, const void* object, size_t size) {
  auto* e = static_cast<const char*>(element);
  auto* o = static_cast<const char*>(object);
  return e >= o && e < o + size;
}

TEST(GrowableArrayTest, FirstElementLivesInTheSlotInsideTheList) {
  GrowableArray<int, ArrayGrowth::kInlineSlot> list;
  list.Append(7);
  EXPECT_TRUE(LivesInside(&list[0], &list, sizeof list));

  list.Append(8);
  EXPECT_FALSE(LivesInside(&list[0], &list, sizeof list));
  EXPECT_EQ(list[0], 7);
  EXPECT_EQ(list[1], 8);
}

TEST(GrowableArrayTest, LeavingTheSlotReleasesWhatItHeld) {
  Counted first = std::make_shared<int>(1);
  CountedArray<ArrayGrowth::kInlineSlot> list;
  list.Append(first);
  EXPECT_EQ(first.use_count(), 2);

  list.Append(std::make_shared<int>(2));
  EXPECT_EQ(first.use_count(), 2) << "the element moved; the slot must not keep a copy";
}

TEST(GrowableArrayTest, CopyOfASlotListIsIndependent) {
  GrowableArray<int, ArrayGrowth::kInlineSlot> list;
  list.Append(3);
  GrowableArray<int, ArrayGrowth::kInlineSlot> copy = list;
  copy[0] = 4;
  EXPECT_EQ(list[0], 3);
  EXPECT_EQ(copy.GetCapacity(), 1);
}

TEST(GrowableArrayTest, ClearKeepsTheCapacityAndReleasesElements) {
  Counted value = std::make_shared<int>(1);
  CountedArray<ArrayGrowth::kSixteen> list;
  for (int i = 0; i < 17; ++i) list.Append(value);
  list.Clear();
  EXPECT_EQ(list.GetListCount(), 0);
  EXPECT_EQ(list.GetCapacity(), 32);
  EXPECT_EQ(value.use_count(), 1);
}

#ifndef NDEBUG
TEST(GrowableArrayDeathTest, IndexOutsideTheListIsAPreconditionViolation) {
  GrowableArray<int> list;
  list.Append(1);
  EXPECT_DEATH((void)list[1], "index < m_size");
  EXPECT_DEATH((void)list[-1], "index >= 0");
}
#endif

// ---------------------------------------------------------------------------
// Removal by identity

template <class List>
class RecordRemovalTest : public ::testing::Test {
 protected:
  // Appends records with the given ids, each a record of its own.
  std::vector<TestRecord> Fill(std::initializer_list<uint32_t> ids) {
    std::vector<TestRecord> made;
    for (uint32_t id : ids) {
      made.push_back(TestRecord::Make(id));
      list.Append(made.back());
    }
    return made;
  }
  List list;
};

using RecordLists = ::testing::Types<TestRecordList, SlotRecordList>;
TYPED_TEST_SUITE(RecordRemovalTest, RecordLists);

TYPED_TEST(RecordRemovalTest, RemovesEveryCopyOfTheRecordAndKeepsTheOrder) {
  std::vector<TestRecord> r = this->Fill({1, 2, 3});
  this->list.Append(r[1]);
  this->list.Append(r[2]);

  EXPECT_TRUE(this->list.Remove(r[1]));
  EXPECT_EQ(Ids(this->list), (std::vector<uint32_t>{1, 3, 3}));
}

TYPED_TEST(RecordRemovalTest, ARecordWithEqualContentIsAnotherRecord) {
  this->Fill({1, 2});
  EXPECT_FALSE(this->list.Remove(TestRecord::Make(2)));
  EXPECT_EQ(this->list.GetListCount(), 2);
}

TYPED_TEST(RecordRemovalTest, VacatedSlotsLetGoOfTheirRecords) {
  std::vector<TestRecord> r = this->Fill({1, 2, 3});
  std::weak_ptr<TestRecord::Body> last = r[2].body;
  this->list.Remove(r[0]);
  this->list.Remove(r[2]);
  r.clear();
  EXPECT_TRUE(last.expired()) << "a vacated slot still holds the removed record";
  EXPECT_EQ(Ids(this->list), (std::vector<uint32_t>{2}));
}

TYPED_TEST(RecordRemovalTest, RemovingTheOnlyElementEmptiesTheList) {
  std::vector<TestRecord> r = this->Fill({5});
  std::weak_ptr<TestRecord::Body> only = r[0].body;
  EXPECT_TRUE(this->list.Remove(r[0]));
  r.clear();
  EXPECT_EQ(this->list.GetListCount(), 0);
  EXPECT_TRUE(only.expired());
}

// Long lists find the record through an index of holders and close the gaps
// once the list is next read; what the caller sees must be the same.
template <class List>
class LongRecordRemovalTest : public RecordRemovalTest<List> {
 protected:
  std::vector<TestRecord> FillRange(uint32_t count) {
    std::vector<TestRecord> made;
    for (uint32_t id = 1; id <= count; ++id) {
      made.push_back(TestRecord::Make(id));
      this->list.Append(made.back());
    }
    return made;
  }
};
TYPED_TEST_SUITE(LongRecordRemovalTest, RecordLists);

TYPED_TEST(LongRecordRemovalTest, ManyRemovalsKeepTheOrderOfTheRest) {
  std::vector<TestRecord> r = this->FillRange(200);
  std::vector<uint32_t> expected;
  for (uint32_t i = 0; i < 200; ++i) {
    if (i % 3 == 1) {
      EXPECT_TRUE(this->list.Remove(r[i]));
    } else {
      expected.push_back(i + 1);
    }
  }
  EXPECT_EQ(Ids(this->list), expected);
  EXPECT_EQ(this->list.GetListCount(), static_cast<int32_t>(expected.size()));
}

TYPED_TEST(LongRecordRemovalTest, ARemovedRecordIsLetGoAtOnce) {
  std::vector<TestRecord> r = this->FillRange(100);
  std::weak_ptr<TestRecord::Body> removed = r[40].body;
  EXPECT_TRUE(this->list.Remove(r[40]));
  r[40] = TestRecord();
  EXPECT_TRUE(removed.expired()) << "the list still holds the record it removed";
  EXPECT_FALSE(this->list.Remove(TestRecord::Make(42))) << "a record with equal content is another";
}

TYPED_TEST(LongRecordRemovalTest, ReadsAppendsAndCopiesBetweenRemovalsSeeThem) {
  std::vector<TestRecord> r = this->FillRange(100);
  EXPECT_TRUE(this->list.Remove(r[0]));
  EXPECT_EQ(this->list.GetListCount(), 99);
  EXPECT_EQ(this->list[0].body->id, 2u);
  EXPECT_TRUE(this->list.Remove(r[99]));
  this->list.Append(TestRecord::Make(500));
  EXPECT_TRUE(this->list.Remove(r[50]));
  TypeParam copy = this->list;
  EXPECT_TRUE(this->list.Remove(r[1]));
  EXPECT_FALSE(this->list.Remove(r[1])) << "a record removed before is not there any more";

  std::vector<uint32_t> expected;
  for (uint32_t id = 2; id <= 99; ++id) {
    if (id != 51) expected.push_back(id);
  }
  expected.push_back(500);
  EXPECT_EQ(Ids(copy), expected);
  expected.erase(expected.begin());
  EXPECT_EQ(Ids(this->list), expected);
}

TYPED_TEST(LongRecordRemovalTest, ARecordHeldTwiceLosesEveryCopy) {
  std::vector<TestRecord> r = this->FillRange(100);
  this->list.Append(r[10]);
  EXPECT_TRUE(this->list.Remove(r[10]));
  EXPECT_TRUE(this->list.Remove(r[20]));
  std::vector<uint32_t> ids = Ids(this->list);
  EXPECT_EQ(ids.size(), 98u);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 11u), 0);
  EXPECT_EQ(std::count(ids.begin(), ids.end(), 21u), 0);
}

TEST(RecordListTest, FindMatchIsByContentAndTouchMarksTheFoundRecord) {
  TestRecordList list;
  TestRecord a = TestRecord::Make(1), b = TestRecord::Make(2);
  list.Append(a);
  list.Append(b);

  TestRecord found = list.FindMatch(TestRecord::Make(2), true);
  EXPECT_TRUE(found.IsSameHolder(b));
  EXPECT_TRUE(b.IsTouched());
  EXPECT_FALSE(a.IsTouched());
  EXPECT_TRUE(list.FindMatch(TestRecord::Make(9), true).IsNull());
  EXPECT_TRUE(list.FindMatch(TestRecord(), true).IsNull());
}

TEST(RecordListTest, CollectUntouchedKeepsTheOrderAndLeavesTouchedMarks) {
  TestRecordList list;
  for (uint32_t id : {1u, 2u, 3u, 4u}) list.Append(TestRecord::Make(id));
  list[1].SetTouched(true);
  list[3].SetTouched(true);

  TestRecordList untouched;
  list.CollectUntouched(untouched);
  EXPECT_EQ(Ids(untouched), (std::vector<uint32_t>{1, 3}));
  EXPECT_TRUE(list[1].IsTouched());
  EXPECT_TRUE(list[3].IsTouched());
}

// ---------------------------------------------------------------------------
// Links

TEST(LinkTest, DefaultLinkAndFourValueConstructor) {
  Link none;
  EXPECT_EQ(none.GetFixedId(), 0u);
  EXPECT_EQ(none.GetServeId(), 0u);
  EXPECT_EQ(none.GetVersion(), 0xFFFFFFFFu);
  EXPECT_FALSE(none.IsDeleted());

  Link made(11, 22, 33, 1);  // server id, fixed id, version, delete flag
  EXPECT_EQ(made.GetServeId(), 11u);
  EXPECT_EQ(made.GetFixedId(), 22u);
  EXPECT_EQ(made.GetVersion(), 33u);
  EXPECT_TRUE(made.IsDeleted());
}

std::vector<Link> Contents(const LinkList& list) {
  std::vector<Link> links;
  for (int32_t i = 0; i < list.GetListCount(); ++i) links.push_back(list[i]);
  return links;
}

TEST(LinkListTest, RemoveTakesEveryEqualLinkAndOnlyThose) {
  const Link target(1, 2, 3, 0);
  // Each neighbour differs from the target in exactly one field.
  const std::vector<Link> neighbours = {Link(9, 2, 3, 0), Link(1, 9, 3, 0), Link(1, 2, 9, 0),
                                        Link(1, 2, 3, 1)};
  LinkList list;
  list.Append(target);
  for (const Link& l : neighbours) list.Append(l);
  list.Append(target);

  EXPECT_TRUE(list.Remove(target));
  EXPECT_EQ(Contents(list), neighbours);
  EXPECT_EQ(list.GetCapacity(), 16);
  EXPECT_FALSE(list.Remove(target));
}

}  // namespace
}  // namespace brontel
