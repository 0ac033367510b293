// IdIndex: a hash index from a 32-bit record identifier to the position of the
// first element that carries it. Identifiers equal to 0 are never entered.
#pragma once

#include <cstdint>
#include <unordered_map>

namespace brontel {

class IdIndex {
 public:
  explicit IdIndex(size_t buckets) { m_positions.reserve(buckets); }

  // Enters id at position unless id is 0 or already entered (the first
  // element with an identifier wins, as a scan from the start would find).
  void Insert(uint32_t id, int32_t position) {
    if (id != 0) m_positions.emplace(id, position);
  }
  // The position of id, or -1.
  int32_t Find(uint32_t id) const {
    auto it = m_positions.find(id);
    return it == m_positions.end() ? -1 : it->second;
  }

  // Builds the index over list's elements, reading each identifier with get.
  template <class List, class Getter>
  static IdIndex Build(const List& list, Getter get, size_t buckets) {
    IdIndex index(buckets);
    for (int32_t i = 0; i < list.GetListCount(); ++i) {
      if (!list[i].IsNull()) index.Insert(get(list[i]), i);
    }
    return index;
  }

 private:
  std::unordered_map<uint32_t, int32_t> m_positions;
};

}  // namespace brontel
