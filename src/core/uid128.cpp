#include "brontel/core/uid128.h"

#include <cstring>

#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"

namespace brontel {

namespace {

// Value of a hex digit, or -1 for any other character.
int32_t HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

UID128::UID128(const uint8_t* bytes) {
  BRONTEL_REQUIRE(bytes != nullptr, "bytes != nullptr");
  std::memcpy(bytes_, bytes, kByteCount);
}

uint8_t UID128::GetByte(int i) const {
  BRONTEL_REQUIRE(i >= 0 && i < kByteCount, "i >= 0 && i < 16");
  return bytes_[i];
}

void UID128::SetByte(int i, uint8_t b) {
  BRONTEL_REQUIRE(i >= 0 && i < kByteCount, "i >= 0 && i < 16");
  bytes_[i] = b;
}

uint32_t UID128::GetWord(int i) const {
  BRONTEL_REQUIRE(i >= 0 && i < 4, "i >= 0 && i < 4");
  const uint8_t* p = bytes_ + 4 * i;
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

std::string UID128::GetString() const {
  const uint8_t* b = bytes_;
  return Format("%.2X%.2X%.2X%.2X-%.2X%.2X-%.2X%.2X-%.2X%.2X-%.2X%.2X%.2X%.2X%.2X%.2X", b[15],
                b[14], b[13], b[12], b[11], b[10], b[9], b[8], b[7], b[6], b[5], b[4], b[3], b[2],
                b[1], b[0]);
}

void UID128::SetString(const std::string& text) {
  // Collect up to 32 digit values in reading order.
  uint8_t digits[2 * kByteCount];
  int32_t count = 0;
  for (char c : text) {
    if (count == 2 * kByteCount) break;
    int32_t v = HexValue(c);
    if (v >= 0) digits[count++] = static_cast<uint8_t>(v);
  }

  std::memset(bytes_, 0, sizeof bytes_);
  // Walk from the last digit backwards: low nibble, then high nibble, per byte.
  int32_t byte_index = 0;
  for (int32_t pos = count - 1; pos >= 0; pos -= 2, ++byte_index) {
    uint8_t value = digits[pos];
    if (pos >= 1) value = static_cast<uint8_t>(value | (digits[pos - 1] << 4));
    bytes_[byte_index] = value;
  }
}

bool UID128::IsZero() const {
  for (uint8_t b : bytes_) {
    if (b != 0) return false;
  }
  return true;
}

bool UID128::operator==(const UID128& other) const {
  return std::memcmp(bytes_, other.bytes_, kByteCount) == 0;
}

}  // namespace brontel
