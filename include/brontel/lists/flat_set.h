// FlatSet: a set of 32-bit ids or of addresses in one open-addressing array,
// for the passes that note which records they have met. Building a set over n
// records takes a few allocations instead of one per element, and a lookup
// touches one or two cache lines.
//
// The zero key (id 0 or a null address) marks an empty slot in the array and
// is kept in a flag of its own, so every key can be entered.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

namespace brontel {

template <class Key>
class FlatSet {
  static_assert(std::is_same_v<Key, uint32_t> || std::is_pointer_v<Key>,
                "FlatSet holds 32-bit ids or addresses");

 public:
  // Room for expected keys without growing.
  explicit FlatSet(size_t expected = 0) { Allocate(CapacityFor(expected)); }

  // True when key was not in the set before.
  bool Insert(Key key) {
    if (key == Key{}) {
      const bool added = !m_hasZero;
      m_hasZero = true;
      return added;
    }
    if ((m_used + 1) * 2 > m_capacity) Grow();
    Key& slot = m_slots[Probe(key)];
    if (slot == key) return false;
    slot = key;
    ++m_used;
    return true;
  }
  bool Contains(Key key) const {
    if (key == Key{}) return m_hasZero;
    return m_slots[Probe(key)] == key;
  }
  size_t Size() const { return m_used + (m_hasZero ? 1 : 0); }

 private:
  static size_t CapacityFor(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected * 2) capacity *= 2;
    return capacity;
  }
  static uint64_t Bits(Key key) {
    if constexpr (std::is_pointer_v<Key>) {
      // Heap addresses share their low bits (alignment): drop them.
      return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(key) >> 4);
    } else {
      return key;
    }
  }
  void Allocate(size_t capacity) {
    m_slots = std::make_unique<Key[]>(capacity);  // value-initialized: all empty
    m_capacity = capacity;
    m_used = 0;
    m_shift = 64;
    for (size_t c = capacity; c > 1; c >>= 1) --m_shift;
  }
  // The slot that holds key, or the empty slot where it would go.
  size_t Probe(Key key) const {
    const size_t mask = m_capacity - 1;
    // Fibonacci hashing: the top bits of the product mix every bit of the key.
    size_t at = static_cast<size_t>((Bits(key) * 0x9E3779B97F4A7C15ull) >> m_shift);
    while (m_slots[at] != Key{} && m_slots[at] != key) at = (at + 1) & mask;
    return at;
  }
  void Grow() {
    std::unique_ptr<Key[]> old = std::move(m_slots);
    const size_t oldCapacity = m_capacity;
    Allocate(oldCapacity * 2);
    for (size_t i = 0; i < oldCapacity; ++i) {
      if (old[i] == Key{}) continue;
      m_slots[Probe(old[i])] = old[i];
      ++m_used;
    }
  }

  std::unique_ptr<Key[]> m_slots;
  size_t m_capacity = 0;
  size_t m_used = 0;
  int m_shift = 64;
  bool m_hasZero = false;
};

}  // namespace brontel
