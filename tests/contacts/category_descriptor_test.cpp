// Tests of CategoryDescriptor: defaults and the read-only rule, comparison and
// hash over every field, name coercion, copies and the display string.
#include "brontel/contacts/category_descriptor.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "brontel/core/hasher.h"

namespace brontel {
namespace {

TEST(CategoryDescriptorTest, ANewDescriptorIsOwnedWritableAndNotShared) {
  CategoryDescriptor d;
  EXPECT_EQ(d.GetCategoryName(), "");
  EXPECT_EQ(d.GetDescription(), "");
  EXPECT_EQ(d.GetColor(), 0u);
  EXPECT_TRUE(d.GetOwnedFlag());
  EXPECT_FALSE(d.GetReadOnlyFlag());
  EXPECT_FALSE(d.GetSharedFlag());
  EXPECT_FALSE(d.IsReadOnly());
}

TEST(CategoryDescriptorTest, OnlyACategoryTheUserDoesNotOwnIsReadOnly) {
  CategoryDescriptor d;
  d.SetReadOnlyFlag(true);
  EXPECT_FALSE(d.IsReadOnly()) << "an owner is never read-only";
  d.SetOwnedFlag(false);
  EXPECT_TRUE(d.IsReadOnly());
  d.SetReadOnlyFlag(false);
  EXPECT_FALSE(d.IsReadOnly());
}

// Each field, changed alone, makes two descriptors differ and changes the hash.
TEST(CategoryDescriptorTest, EveryFieldTakesPartInEqualAndHash) {
  const std::function<void(CategoryDescriptor&)> changes[] = {
      [](CategoryDescriptor& d) { d.SetCategoryName("work"); },
      [](CategoryDescriptor& d) { d.SetDescription("x"); },
      [](CategoryDescriptor& d) { d.SetColor(0x00FF0000); },
      [](CategoryDescriptor& d) { d.SetOwnedFlag(false); },
      [](CategoryDescriptor& d) { d.SetReadOnlyFlag(true); },
      [](CategoryDescriptor& d) { d.SetSharedFlag(true); },
  };
  for (size_t i = 0; i < std::size(changes); ++i) {
    CategoryDescriptor a;
    a.SetCategoryName("Work");
    CategoryDescriptor b = a.Clone();
    ASSERT_TRUE(a.Equal(b));
    ASSERT_EQ(a.CalculateHash(), b.CalculateHash());
    changes[i](b);
    EXPECT_FALSE(a.Equal(b)) << "change " << i;
    EXPECT_NE(a.CalculateHash(), b.CalculateHash()) << "change " << i;
  }
}

TEST(CategoryDescriptorTest, HashFeedsTheFieldsInTheirOrder) {
  CategoryDescriptor d;
  d.SetCategoryName("Work");
  d.SetDescription("Office");
  d.SetColor(0x123456);
  d.SetOwnedFlag(false);
  d.SetSharedFlag(true);
  Hasher expected;
  expected.AddFlag(true);
  expected.AddString("Work");
  expected.AddString("Office");
  expected.AddUINT32(0x123456);
  expected.AddFlag(false);
  expected.AddFlag(false);
  expected.AddFlag(true);
  EXPECT_EQ(d.CalculateHash(), expected.GetHash());
}

TEST(CategoryDescriptorTest, CopyAndCloneTakeEveryField) {
  CategoryDescriptor source;
  source.SetCategoryName("Family");
  source.SetDescription("at home");
  source.SetColor(7);
  source.SetOwnedFlag(false);
  source.SetReadOnlyFlag(true);
  source.SetSharedFlag(true);
  CategoryDescriptor copy;
  copy.Copy(source);
  EXPECT_TRUE(copy.Equal(source));
  EXPECT_FALSE(copy.EqualEqual(source));
  CategoryDescriptor clone = source.Clone();
  EXPECT_TRUE(clone.Equal(source));
  EXPECT_FALSE(clone.EqualEqual(source));
  clone.SetCategoryName("Other");
  EXPECT_EQ(source.GetCategoryName(), "Family");
}

struct CoercionCase {
  const char* before;
  const char* after;
};

class CategoryNameCoercionTest : public ::testing::TestWithParam<CoercionCase> {};

TEST_P(CategoryNameCoercionTest, GivesTheNameAStarAndTheNextCounter) {
  CategoryDescriptor d;
  d.SetCategoryName(GetParam().before);
  d.CoerceName();
  EXPECT_EQ(d.GetCategoryName(), GetParam().after);
}

INSTANTIATE_TEST_SUITE_P(
    Names, CategoryNameCoercionTest,
    ::testing::Values(CoercionCase{"", "*1"}, CoercionCase{"A", "A*1"},
                      CoercionCase{"Work", "Work*1"}, CoercionCase{"Work*1", "Work*2"},
                      CoercionCase{"Work*9", "Work*A"}, CoercionCase{"Work*E", "Work*F"},
                      CoercionCase{"Work*F", "Work*1"}, CoercionCase{"Work*x", "Work*1"},
                      // 13, 14 and 15 characters: the first 13 stay.
                      CoercionCase{"ABCDEFGHIJKLM", "ABCDEFGHIJKLM*1"},
                      CoercionCase{"ABCDEFGHIJKLMN", "ABCDEFGHIJKLM*1"},
                      CoercionCase{"ABCDEFGHIJKLMNO", "ABCDEFGHIJKLM*1"},
                      // Longer names are cut to 15 first.
                      CoercionCase{"ABCDEFGHIJKLM*3XYZ", "ABCDEFGHIJKLM*4"},
                      CoercionCase{"ABCDEFGHIJKLMNOPQRS", "ABCDEFGHIJKLM*1"}));

TEST(CategoryDescriptorTest, RepeatedCoercionCyclesThroughTheCounters) {
  CategoryDescriptor d;
  d.SetCategoryName("Work");
  std::string seen;
  for (int i = 0; i < 16; ++i) {
    d.CoerceName();
    seen += d.GetCategoryName().back();
  }
  EXPECT_EQ(seen, "123456789ABCDEF1");
  EXPECT_EQ(d.GetCategoryName(), "Work*1");
}

TEST(CategoryDescriptorTest, DisplayStringShowsNameDescriptionFlagsAndColour) {
  CategoryDescriptor d;
  d.SetCategoryName("Work");
  d.SetDescription("Office");
  d.SetColor(0xABC);
  EXPECT_EQ(d.GetDisplayString(), "\"Work\" Office {O}/00000abc/");
  d.SetOwnedFlag(false);
  d.SetSharedFlag(true);
  d.SetReadOnlyFlag(true);
  EXPECT_EQ(d.GetDisplayString(), "\"Work\" Office {SR}/00000abc/");
}

}  // namespace
}  // namespace brontel
