// Tests of the flat set the record passes note what they met in: the answer of
// Insert tells a first meeting from a later one, the zero key is a key like
// any other, and growing past the expected size loses nothing.
#include "brontel/lists/flat_set.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

namespace brontel {
namespace {

TEST(FlatSetTest, InsertTellsNewKeysFromKnownOnesAndZeroIsAKey) {
  FlatSet<uint32_t> ids;
  EXPECT_TRUE(ids.Insert(7));
  EXPECT_FALSE(ids.Insert(7));
  EXPECT_FALSE(ids.Contains(0));
  EXPECT_TRUE(ids.Insert(0));
  EXPECT_FALSE(ids.Insert(0));
  EXPECT_TRUE(ids.Contains(0));
  EXPECT_TRUE(ids.Contains(7));
  EXPECT_FALSE(ids.Contains(8));
  EXPECT_EQ(ids.Size(), 2u);

  FlatSet<const int*> addresses;
  int a = 0;
  EXPECT_TRUE(addresses.Insert(&a));
  EXPECT_FALSE(addresses.Insert(&a));
  EXPECT_TRUE(addresses.Insert(nullptr));
  EXPECT_TRUE(addresses.Contains(nullptr));
}

TEST(FlatSetTest, GrowingPastTheExpectedSizeKeepsEveryKey) {
  FlatSet<uint32_t> ids(2);
  // Keys that differ only in high bits, and a dense run.
  for (uint32_t i = 0; i < 4000; ++i) ASSERT_TRUE(ids.Insert((i << 20) | 1u));
  for (uint32_t i = 2; i <= 5000; ++i) ASSERT_TRUE(ids.Insert(i));
  for (uint32_t i = 0; i < 4000; ++i) ASSERT_TRUE(ids.Contains((i << 20) | 1u));
  for (uint32_t i = 2; i <= 5000; ++i) ASSERT_TRUE(ids.Contains(i));
  EXPECT_FALSE(ids.Contains(5001));
  EXPECT_EQ(ids.Size(), 4000u + 4999u);

  // Addresses of one array share their low bits.
  std::vector<uint64_t> records(3000);
  FlatSet<const uint64_t*> seen(1);
  for (const uint64_t& r : records) ASSERT_TRUE(seen.Insert(&r));
  for (const uint64_t& r : records) ASSERT_FALSE(seen.Insert(&r));
  EXPECT_EQ(seen.Size(), records.size());
}

}  // namespace
}  // namespace brontel
