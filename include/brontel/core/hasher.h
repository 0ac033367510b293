// Hasher folds typed values into a running 32-bit checksum: CRC-32 with
// polynomial 0x04C11DB7, most significant bit first, starting value
// 0xFFFFFFFF and no final inversion (the "123456789" check value is
// 0x0376E6E7). Each Add call feeds a fixed byte sequence, documented per
// method, so equal values always hash equally on every platform.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/uid128.h"

namespace brontel {

class Hasher {
 public:
  Hasher() = default;
  virtual ~Hasher() = default;

  // One byte: running = (running << 8) ^ table[((running >> 24) ^ b) & 255].
  void AddByte(uint8_t b);

  // Byte 1 for true, 0 for false.
  void AddFlag(bool flag);

  // Low byte, then high byte.
  void AddUINT16(uint16_t value);

  // Four bytes, least significant first.
  void AddUINT32(uint32_t value);

  // The high 32 bits with AddUINT32, then the low 32 bits with AddUINT32.
  void AddID64(uint64_t value);

  // Exactly the n bytes, without a length.
  // REQUIRES: bytes != nullptr unless n == 0.
  void AddByteArray(uint32_t n, const uint8_t* bytes);

  // The length as AddUINT16(n) (only its low 16 bits), then all n bytes.
  // REQUIRES: chars != nullptr unless n == 0.
  void AddByteArray(uint32_t n, const char* chars);

  // The character form of AddByteArray over all of s's bytes (embedded zero
  // bytes included), then a 0 byte.
  void AddString(const std::string& s);

  // The sixteen identifier bytes in index order, without a length.
  void AddGUSER_ID(const UID128& id);

  uint32_t GetHash() const { return running_; }

  // The value of a hasher that has been given nothing.
  static uint32_t GetNullHash() { return 0xFFFFFFFFu; }

 private:
  uint32_t running_ = 0xFFFFFFFFu;
};

}  // namespace brontel
