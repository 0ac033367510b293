// UID128 is a 128-bit identifier held as sixteen bytes, index 0..15. All-zero
// bytes mean "not yet assigned". The text form prints byte 15 first as 32
// upper-case hex digits in groups 8-4-4-4-12; the archive stores the bytes in
// index order. The class has no virtual functions and is exactly 16 bytes.
#pragma once

#include <cstdint>
#include <string>

namespace brontel {

class UID128 {
 public:
  static constexpr int kByteCount = 16;

  // All sixteen bytes zero (not yet assigned).
  UID128() = default;

  // Copies bytes[0..15] into index 0..15 in order.
  // REQUIRES: bytes points to at least 16 readable bytes.
  explicit UID128(const uint8_t* bytes);

  // REQUIRES: 0 <= i < 16.
  uint8_t GetByte(int i) const;
  // REQUIRES: 0 <= i < 16.
  void SetByte(int i, uint8_t b);

  // The sixteen bytes in index order.
  const uint8_t* Bytes() const { return bytes_; }

  // Little-endian word of bytes 4i..4i+3 (byte 4i is the least significant).
  // REQUIRES: 0 <= i < 4.
  uint32_t GetWord(int i) const;

  // "XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX" with byte 15 first, byte 0 last.
  std::string GetString() const;

  // Reads the text form. Every character other than 0-9, A-F, a-f is skipped;
  // reading stops after 32 digits. Digits are packed from the last one
  // backwards, two per byte starting with byte 0 (the last digit is the low
  // nibble of byte 0). A leftover odd digit becomes the low nibble of the next
  // byte. The value is cleared first, so a short or empty text never leaves
  // bytes of an earlier identifier behind. SetString(GetString()) round-trips.
  void SetString(const std::string& text);

  bool IsZero() const;

  bool operator==(const UID128& other) const;
  bool operator!=(const UID128& other) const { return !(*this == other); }

 private:
  uint8_t bytes_[kByteCount] = {};
};

static_assert(sizeof(UID128) == 16, "UID128 must be exactly 16 bytes");

}  // namespace brontel
