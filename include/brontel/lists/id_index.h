// IdIndex: a hash index from a 32-bit record identifier to the position of the
// first element that carries it. Identifiers equal to 0 are never entered. An
// element that leaves its list can be forgotten without rebuilding the index.
//
// The table is one array with open addressing (linear probing), so building an
// index over n records takes one allocation and a find touches one or two
// cache lines; it grows to keep at most half of its slots in use.
#pragma once

#include <cstdint>
#include <memory>

namespace brontel {

class IdIndex {
 public:
  explicit IdIndex(size_t expected) { Allocate(CapacityFor(expected)); }
  IdIndex(IdIndex&&) noexcept = default;
  IdIndex& operator=(IdIndex&&) noexcept = default;

  // What Find answers for an id whose first element was forgotten while later
  // elements carried it too: which of them is first now only a scan can tell.
  static constexpr int32_t kAmbiguous = -2;

  // Enters id at position unless id is 0 or already entered (the first
  // element with an identifier wins, as a scan from the start would find).
  void Insert(uint32_t id, int32_t position) {
    if (id == 0) return;
    if ((m_used + 1) * 2 > m_capacity) Grow();
    Slot& slot = m_slots[Probe(id)];
    if (slot.id == id) {
      if (slot.position == -1) {
        slot.position = position;  // the only element with id had left
      } else {
        slot.shared = true;
      }
      return;
    }
    slot.id = id;
    slot.position = position;
    ++m_used;
  }
  // The position of id, -1 when no element carries it, or kAmbiguous.
  int32_t Find(uint32_t id) const {
    if (id == 0) return -1;
    const Slot& slot = m_slots[Probe(id)];
    return slot.id == id ? slot.position : -1;
  }
  // The element at position, entered for id, left the list (the elements
  // after it keep their positions).
  void Forget(uint32_t id, int32_t position) {
    if (id == 0) return;
    Slot& slot = m_slots[Probe(id)];
    if (slot.id != id || slot.position != position) return;
    slot.position = slot.shared ? kAmbiguous : -1;
  }

  // Builds the index over list's elements, reading each identifier with get.
  template <class List, class Getter>
  static IdIndex Build(const List& list, Getter get, size_t expected) {
    IdIndex index(expected);
    for (int32_t i = 0; i < list.GetListCount(); ++i) {
      if (!list[i].IsNull()) index.Insert(get(list[i]), i);
    }
    return index;
  }

 private:
  // An empty slot has id 0, which is never entered. A slot whose element left
  // keeps its id (so that probing goes on past it) with position -1.
  struct Slot {
    uint32_t id;
    int32_t position;
    // More than one element carried the id.
    bool shared;
  };

  static size_t CapacityFor(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    return capacity;
  }
  void Allocate(size_t capacity) {
    m_slots = std::make_unique<Slot[]>(capacity);  // zeroed: every slot empty
    m_capacity = capacity;
    m_used = 0;
    m_shift = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --m_shift;
  }
  // The slot that holds id, or the empty slot where it would go.
  size_t Probe(uint32_t id) const {
    const size_t mask = m_capacity - 1;
    // Fibonacci hashing: the top bits of the product mix every bit of id.
    size_t at = static_cast<size_t>((id * 0x9E3779B97F4A7C15ull) >> m_shift);
    while (m_slots[at].id != 0 && m_slots[at].id != id) at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    std::unique_ptr<Slot[]> old = std::move(m_slots);
    const size_t oldCapacity = m_capacity;
    Allocate(oldCapacity * 2);
    for (size_t i = 0; i < oldCapacity; ++i) {
      if (old[i].id == 0) continue;
      m_slots[Probe(old[i].id)] = old[i];
      ++m_used;
    }
  }

  std::unique_ptr<Slot[]> m_slots;
  size_t m_capacity = 0;
  size_t m_used = 0;
  int m_shift = 64;
};

}  // namespace brontel
