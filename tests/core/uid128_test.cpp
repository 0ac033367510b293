#include "brontel/core/uid128.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace brontel {
namespace {

// Every byte distinct, with both digit and letter nibbles.
constexpr uint8_t kDistinct[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                                   0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};
constexpr char kDistinctText[] = "10325476-98BA-DCFE-EFCD-AB8967452301";

UID128 AllOnes() {
  UID128 id;
  for (int i = 0; i < 16; ++i) id.SetByte(i, 0xFF);
  return id;
}

TEST(UID128Test, DefaultIsZero) {
  UID128 id;
  EXPECT_TRUE(id.IsZero());
  EXPECT_EQ(id.GetString(), "00000000-0000-0000-0000-000000000000");
  for (int i = 0; i < 4; ++i) EXPECT_EQ(id.GetWord(i), 0u) << "word " << i;
  EXPECT_EQ(id, UID128());
}

TEST(UID128Test, HighestBytePrintsFirstAndIsTopOfLastWord) {
  UID128 id;
  id.SetByte(15, 0x12);
  EXPECT_FALSE(id.IsZero());
  EXPECT_EQ(id.GetString(), "12000000-0000-0000-0000-000000000000");
  EXPECT_EQ(id.GetWord(3), 0x12000000u);
  EXPECT_EQ(id.GetWord(0), 0u);
}

TEST(UID128Test, DistinctBytesPrintWordAndRoundTrip) {
  UID128 id(kDistinct);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(id.GetByte(i), kDistinct[i]) << "byte " << i;
  EXPECT_EQ(id.GetString(), kDistinctText);
  EXPECT_EQ(id.GetWord(0), 0x67452301u);
  EXPECT_EQ(id.GetWord(1), 0xEFCDAB89u);
  EXPECT_EQ(id.GetWord(2), 0x98BADCFEu);
  EXPECT_EQ(id.GetWord(3), 0x10325476u);

  UID128 parsed;
  parsed.SetString(id.GetString());
  EXPECT_EQ(parsed, id);
}

TEST(UID128Test, SetStringClearsAndPacksFromTheLastDigit) {
  struct Case {
    const char* text;
    const char* expected;  // GetString() after SetString(text).
  };
  const Case kCases[] = {
      {"", "00000000-0000-0000-0000-000000000000"},
      {"ABC", "00000000-0000-0000-0000-000000000ABC"},
      {"abc", "00000000-0000-0000-0000-000000000ABC"},
      {"10325476-98ba-dcfe-efcd-ab8967452301", kDistinctText},
      {"{10325476-98BA-DCFE-EFCD-AB8967452301}", kDistinctText},
      // Reading stops after 32 digits; later digits are ignored.
      {"10325476-98BA-DCFE-EFCD-AB8967452301-FF", kDistinctText},
      // Non-hex letters and spaces are skipped, "0x" contributes its zero.
      {"xyz 12 g 3", "00000000-0000-0000-0000-000000000123"},
      {"0x1F", "00000000-0000-0000-0000-00000000001F"},
      {"ghost-town", "00000000-0000-0000-0000-000000000000"},
  };
  for (const Case& c : kCases) {
    UID128 id = AllOnes();  // An earlier value must not survive.
    id.SetString(c.text);
    EXPECT_EQ(id.GetString(), c.expected) << "text \"" << c.text << "\"";
  }

  UID128 short_id = AllOnes();
  short_id.SetString("ABC");
  EXPECT_EQ(short_id.GetByte(0), 0xBC);
  EXPECT_EQ(short_id.GetByte(1), 0x0A);
  for (int i = 2; i < 16; ++i) EXPECT_EQ(short_id.GetByte(i), 0) << "byte " << i;
}

TEST(UID128Test, EqualityLooksAtEveryByte) {
  const UID128 base(kDistinct);
  EXPECT_TRUE(base == UID128(kDistinct));
  EXPECT_FALSE(base != UID128(kDistinct));
  for (int i = 0; i < 16; ++i) {
    UID128 other = base;
    other.SetByte(i, static_cast<uint8_t>(base.GetByte(i) ^ 0x80));
    EXPECT_NE(other, base) << "byte " << i;
    EXPECT_FALSE(other == base) << "byte " << i;
  }
  EXPECT_EQ(sizeof(UID128), 16u);
}

#ifndef NDEBUG
TEST(UID128DeathTest, IndexOutOfRangeIsRejected) {
  UID128 id;
  EXPECT_DEATH(id.GetWord(4), "i >= 0 && i < 4");
  EXPECT_DEATH(id.GetByte(16), "i >= 0 && i < 16");
  EXPECT_DEATH(id.SetByte(-1, 0), "i >= 0 && i < 16");
}
#endif

}  // namespace
}  // namespace brontel
