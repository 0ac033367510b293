// Helpers shared by the calendar record classes.
#pragma once

#include <cstdint>

#include "brontel/platform/archive.h"

namespace brontel {

// When the two fixed ids differ and one of them is 0, the zero side takes the
// other's. Two different non-zero fixed ids are left alone: they name different
// records and neither may overwrite the other.
template <class Record>
void ShareFixedId(Record& mine, Record& other) {
  uint32_t a = mine.GetFixedId();
  uint32_t b = other.GetFixedId();
  if (a == b) return;
  if (a == 0) {
    mine.SetFixedId(b);
  } else if (b == 0) {
    other.SetFixedId(a);
  }
}

// Reads a DWORD when the format version has it, else returns fallback.
inline uint32_t ReadDwordSince(Archive& ar, uint32_t version, uint32_t since, uint32_t fallback) {
  if (version == Archive::kNoSchema || version < since) return fallback;
  return ar.ReadDword();
}

}  // namespace brontel
