// IdsAreUnique: whether the records of a list can be told apart by each kind
// of id, the coherence check both families' managers make of their lists.
#pragma once

#include <cstddef>
#include <cstdint>

#include "brontel/lists/flat_set.h"

namespace brontel {

// True when no two records of list share a non-zero cache, local or fixed id.
template <class List>
bool IdsAreUnique(const List& list) {
  const size_t count = static_cast<size_t>(list.GetListCount());
  FlatSet<uint32_t> cacheIds(count), localIds(count), fixedIds(count);
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    const auto& r = list[i];
    if (r.IsNull()) continue;
    const uint32_t c = r.GetCacheId(), l = r.GetLocalId(), f = r.GetFixedId();
    if ((c != 0 && !cacheIds.Insert(c)) || (l != 0 && !localIds.Insert(l)) ||
        (f != 0 && !fixedIds.Insert(f))) {
      return false;
    }
  }
  return true;
}

}  // namespace brontel
