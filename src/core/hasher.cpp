#include "brontel/core/hasher.h"

#include <array>

#include "brontel/platform/precondition.h"

namespace brontel {

namespace {

constexpr uint32_t kPolynomial = 0x04C11DB7u;

// Entry i is the CRC of the single byte i: i << 24 shifted left eight times,
// XOR-ing the polynomial in whenever the bit shifted out was set.
std::array<uint32_t, 256> BuildTable() {
  std::array<uint32_t, 256> table{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t value = i << 24;
    for (int bit = 0; bit < 8; ++bit) {
      bool top_set = (value & 0x80000000u) != 0;
      value <<= 1;
      if (top_set) value ^= kPolynomial;
    }
    table[i] = value;
  }
  return table;
}

// Shared by all hashers; a function-local static is initialised exactly once,
// safely even when the first hashers run on several threads at the same time.
const std::array<uint32_t, 256>& Table() {
  static const std::array<uint32_t, 256> table = BuildTable();
  return table;
}

}  // namespace

void Hasher::AddByte(uint8_t b) {
  running_ = (running_ << 8) ^ Table()[((running_ >> 24) ^ b) & 255u];
}

void Hasher::AddFlag(bool flag) {
  AddByte(flag ? 1 : 0);
}

void Hasher::AddUINT16(uint16_t value) {
  AddByte(static_cast<uint8_t>(value & 0xFFu));
  AddByte(static_cast<uint8_t>(value >> 8));
}

void Hasher::AddUINT32(uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) {
    AddByte(static_cast<uint8_t>((value >> shift) & 0xFFu));
  }
}

void Hasher::AddID64(uint64_t value) {
  AddUINT32(static_cast<uint32_t>(value >> 32));
  AddUINT32(static_cast<uint32_t>(value & 0xFFFFFFFFu));
}

void Hasher::AddByteArray(uint32_t n, const uint8_t* bytes) {
  BRONTEL_REQUIRE(n == 0 || bytes != nullptr, "n == 0 || bytes != nullptr");
  for (uint32_t i = 0; i < n; ++i) AddByte(bytes[i]);
}

void Hasher::AddByteArray(uint32_t n, const char* chars) {
  BRONTEL_REQUIRE(n == 0 || chars != nullptr, "n == 0 || chars != nullptr");
  AddUINT16(static_cast<uint16_t>(n & 0xFFFFu));
  for (uint32_t i = 0; i < n; ++i) AddByte(static_cast<uint8_t>(chars[i]));
}

void Hasher::AddString(const std::string& s) {
  AddByteArray(static_cast<uint32_t>(s.size()), s.data());
  AddByte(0);
}

void Hasher::AddGUSER_ID(const UID128& id) {
  AddByteArray(UID128::kByteCount, id.Bytes());
}

}  // namespace brontel
