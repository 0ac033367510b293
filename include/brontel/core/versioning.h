// Versioning: the order of record and table versions.
//
// Versions are unsigned 32-bit values compared after adding 1, so the invalid
// version 0xFFFFFFFF wraps to 0 and sorts below every valid version (0 to
// 0x7FFFFFFF) while the valid ones keep their natural order.
#pragma once

#include <cstdint>

namespace brontel {

class RecordIdentification;

class Versioning {
 public:
  static constexpr uint32_t InValidVersion() { return 0xFFFFFFFF; }
  static constexpr bool IsValidVersion(uint32_t v) { return v != 0xFFFFFFFF; }
  static constexpr bool EqualTo(uint32_t a, uint32_t b) { return a == b; }
  static constexpr bool LessThan(uint32_t a, uint32_t b) { return a + 1 < b + 1; }
  static constexpr bool LessThanOrEqualTo(uint32_t a, uint32_t b) { return a + 1 <= b + 1; }
  static constexpr bool GreaterThan(uint32_t a, uint32_t b) { return a + 1 > b + 1; }
  static constexpr bool GreaterThanOrEqualTo(uint32_t a, uint32_t b) { return a + 1 >= b + 1; }
  // The newer of the two; the second on a tie.
  static constexpr uint32_t NewestVersion(uint32_t a, uint32_t b) { return a + 1 > b + 1 ? a : b; }
  // True when the record was changed or created after version v.
  static bool IsNewer(uint32_t v, const RecordIdentification& id);
};

}  // namespace brontel
