#include "brontel/core/hasher.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "brontel/core/uid128.h"

namespace brontel {
namespace {

// Hash of an explicit byte sequence, fed one byte at a time.
uint32_t HashOfBytes(const std::vector<uint8_t>& bytes) {
  Hasher h;
  for (uint8_t b : bytes) h.AddByte(b);
  return h.GetHash();
}

// Bit-at-a-time CRC with the same parameters, independent of the table.
uint32_t BitwiseCrc(const std::vector<uint8_t>& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) {
    crc ^= static_cast<uint32_t>(b) << 24;
    for (int bit = 0; bit < 8; ++bit) {
      crc = (crc & 0x80000000u) ? (crc << 1) ^ 0x04C11DB7u : (crc << 1);
    }
  }
  return crc;
}

TEST(HasherTest, NewHasherHasNullHash) {
  Hasher h;
  EXPECT_EQ(h.GetHash(), Hasher::GetNullHash());
  EXPECT_EQ(Hasher::GetNullHash(), 0xFFFFFFFFu);
}

TEST(HasherTest, CheckValueOfDigits) {
  const uint8_t digits[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  Hasher h;
  h.AddByteArray(9, digits);
  EXPECT_EQ(h.GetHash(), 0x0376E6E7u);
}

TEST(HasherTest, MatchesBitwiseCrcForEveryTableEntry) {
  // From the initial value, byte b selects table entry 0xFF ^ b, so this
  // visits all 256 entries.
  for (uint32_t b = 0; b < 256; ++b) {
    std::vector<uint8_t> one = {static_cast<uint8_t>(b)};
    EXPECT_EQ(HashOfBytes(one), BitwiseCrc(one)) << "byte " << b;
  }
  std::vector<uint8_t> longer;
  for (uint32_t i = 0; i < 1000; ++i) longer.push_back(static_cast<uint8_t>(i * 37 + (i >> 3)));
  EXPECT_EQ(HashOfBytes(longer), BitwiseCrc(longer));
}

TEST(HasherTest, TypedValuesFeedTheirDocumentedBytes) {
  uint8_t id_bytes[16];
  for (int i = 0; i < 16; ++i) id_bytes[i] = static_cast<uint8_t>(0xA0 + i);
  const UID128 id(id_bytes);

  struct Case {
    const char* name;
    std::function<void(Hasher&)> add;
    std::vector<uint8_t> bytes;
  };
  const Case kCases[] = {
      {"AddFlag(true)", [](Hasher& h) { h.AddFlag(true); }, {0x01}},
      {"AddFlag(false)", [](Hasher& h) { h.AddFlag(false); }, {0x00}},
      {"AddUINT16", [](Hasher& h) { h.AddUINT16(0x1234); }, {0x34, 0x12}},
      {"AddUINT32", [](Hasher& h) { h.AddUINT32(0x12345678u); }, {0x78, 0x56, 0x34, 0x12}},
      {"AddID64",
       [](Hasher& h) { h.AddID64(0x0102030405060708ull); },
       {0x04, 0x03, 0x02, 0x01, 0x08, 0x07, 0x06, 0x05}},
      {"AddString(\"\")", [](Hasher& h) { h.AddString(""); }, {0x00, 0x00, 0x00}},
      {"AddString(\"ab\")", [](Hasher& h) { h.AddString("ab"); }, {0x02, 0x00, 'a', 'b', 0x00}},
      {"AddString with embedded zero",
       [](Hasher& h) { h.AddString(std::string("a\0b", 3)); },
       {0x03, 0x00, 'a', 0x00, 'b', 0x00}},
      {"AddByteArray(chars)",
       [](Hasher& h) { h.AddByteArray(3, "xyz"); },
       {0x03, 0x00, 'x', 'y', 'z'}},
      {"AddGUSER_ID",
       [&id](Hasher& h) { h.AddGUSER_ID(id); },
       {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE,
        0xAF}},
  };
  for (const Case& c : kCases) {
    Hasher h;
    c.add(h);
    EXPECT_EQ(h.GetHash(), HashOfBytes(c.bytes)) << c.name;
  }
}

TEST(HasherTest, EmptyStringStillChangesTheHash) {
  Hasher h;
  h.AddString("");
  EXPECT_NE(h.GetHash(), Hasher::GetNullHash());
}

TEST(HasherTest, ByteAndCharArraysDifferByTheLength) {
  const char text[] = "xyz";
  const uint8_t bytes[] = {'x', 'y', 'z'};
  Hasher with_length;
  with_length.AddByteArray(3, text);
  Hasher without_length;
  without_length.AddByteArray(3, bytes);
  EXPECT_NE(with_length.GetHash(), without_length.GetHash());
  EXPECT_EQ(without_length.GetHash(), HashOfBytes({'x', 'y', 'z'}));
}

TEST(HasherTest, CharArrayLengthKeepsLow16BitsButHashesAllBytes) {
  const uint32_t n = 0x10001;  // Length prefix 0x0001, yet all n bytes count.
  std::string chars(n, 'q');
  std::vector<uint8_t> expected = {0x01, 0x00};
  expected.insert(expected.end(), n, static_cast<uint8_t>('q'));

  Hasher h;
  h.AddByteArray(n, chars.data());
  EXPECT_EQ(h.GetHash(), HashOfBytes(expected));
}

TEST(HasherTest, SequencesAccumulate) {
  Hasher h;
  h.AddUINT16(0xBEEF);
  h.AddString("hi");
  h.AddFlag(true);
  EXPECT_EQ(h.GetHash(), HashOfBytes({0xEF, 0xBE, 0x02, 0x00, 'h', 'i', 0x00, 0x01}));
}

}  // namespace
}  // namespace brontel
