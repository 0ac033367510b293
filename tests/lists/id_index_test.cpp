// Tests of the id index the event lists find records by: the first position
// of an id wins, as a scan from the start finds it; id 0 is never entered; the
// table grows past the size it was made for without losing an entry.
#include "brontel/lists/id_index.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace brontel {
namespace {

TEST(IdIndexTest, TheFirstPositionOfAnIdWinsAndIdZeroIsNeverEntered) {
  IdIndex index(4);
  index.Insert(7, 0);
  index.Insert(0, 1);
  index.Insert(7, 2);
  index.Insert(9, 3);
  EXPECT_EQ(index.Find(7), 0);
  EXPECT_EQ(index.Find(9), 3);
  EXPECT_EQ(index.Find(0), -1);
  EXPECT_EQ(index.Find(8), -1);
}

TEST(IdIndexTest, GrowingPastTheExpectedSizeKeepsEveryEntry) {
  IdIndex index(2);
  // Ids that differ only in high bits, and ids in a dense run.
  for (uint32_t i = 0; i < 4000; ++i) index.Insert((i << 20) | 1u, static_cast<int32_t>(i));
  for (uint32_t i = 1; i <= 5000; ++i) index.Insert(i, static_cast<int32_t>(10000 + i));
  for (uint32_t i = 0; i < 4000; ++i) {
    ASSERT_EQ(index.Find((i << 20) | 1u), static_cast<int32_t>(i));
  }
  // Id 1 was entered first as (0 << 20) | 1.
  EXPECT_EQ(index.Find(1), 0);
  for (uint32_t i = 2; i <= 5000; ++i) ASSERT_EQ(index.Find(i), static_cast<int32_t>(10000 + i));
  EXPECT_EQ(index.Find(5001), -1);
  EXPECT_EQ(index.Find(0xFFFFFFFFu), -1);
}

}  // namespace
}  // namespace brontel
