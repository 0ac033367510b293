// GrowableArray: the storage every list of the library shares.
//
// Elements sit in insertion order in an array whose capacity grows by a fixed
// rule and never shrinks: 0 becomes 16, then the capacity doubles; with
// ArrayGrowth::kInlineSlot, 0 becomes 1 (an element slot inside the object, no
// heap array), 1 becomes 16, then it doubles. Elements must be default
// constructible (a null handle, a default value) and copyable.
//
// Derived lists may take elements out one at a time without moving the others
// (EraseLater): the element is released at once and its slot closed, keeping
// the order, before the array is next read or changed, so that k such removals
// cost the array's size once instead of k times.
#pragma once

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "brontel/platform/precondition.h"

namespace brontel {

enum class ArrayGrowth { kSixteen, kInlineSlot };

template <class T, ArrayGrowth kGrowth = ArrayGrowth::kSixteen>
class GrowableArray {
 public:
  GrowableArray() = default;
  explicit GrowableArray(int32_t capacity) { reserve(capacity); }
  GrowableArray(const GrowableArray& other) { *this = other; }
  GrowableArray& operator=(const GrowableArray& other) {
    if (this == &other) return *this;
    other.Settle();
    Clear();  // counts as a move
    reserve(other.m_size);
    for (int32_t i = 0; i < other.m_size; ++i) data()[i] = other.data()[i];
    m_size = other.m_size;
    return *this;
  }
  virtual ~GrowableArray() = default;

  int32_t GetListCount() const {
    Settle();
    return m_size;
  }
  int32_t GetCapacity() const { return m_capacity; }

  // REQUIRES: 0 <= index < GetListCount().
  T& operator[](int32_t index) {
    Settle();
    CheckIndex(index);
    return data()[index];
  }
  const T& operator[](int32_t index) const {
    Settle();
    CheckIndex(index);
    return data()[index];
  }

  void Append(const T& element) {
    Settle();
    ++m_changes;
    reserve(1);
    data()[m_size++] = element;
  }

  // Removes every element for which same(element) holds, closing the gaps in
  // order; vacated slots are reset to the default value. Returns whether any
  // element was removed.
  template <class Predicate>
  bool RemoveIf(Predicate same) {
    Settle();
    ++m_changes;
    ++m_moves;
    int32_t kept = 0;
    for (int32_t i = 0; i < m_size; ++i) {
      if (same(data()[i])) continue;
      if (kept != i) data()[kept] = data()[i];
      ++kept;
    }
    bool removed = kept != m_size;
    for (int32_t i = kept; i < m_size; ++i) data()[i] = T();
    m_size = kept;
    return removed;
  }

  // Drops every element (the capacity stays).
  void Clear() {
    Settle();
    ++m_changes;
    ++m_moves;
    for (int32_t i = 0; i < m_size; ++i) data()[i] = T();
    m_size = 0;
  }

 protected:
  // Takes the element at slot out now (its slot holds T() until it closes).
  // Slots are the positions before any pending removal closes.
  // REQUIRES: 0 <= slot < SlotCount(), the slot not taken out yet.
  void EraseLater(int32_t slot) {
    BRONTEL_REQUIRE(slot >= 0 && slot < m_size, "slot >= 0 && slot < m_size");
    if (m_erasedMarks.empty()) m_erasedMarks.assign(static_cast<size_t>(m_size), false);
    BRONTEL_REQUIRE(!m_erasedMarks[static_cast<size_t>(slot)], "!m_erasedMarks[slot]");
    m_erasedMarks[static_cast<size_t>(slot)] = true;
    ++m_erased;
    data()[slot] = T();
  }
  // The slots, pending removals included, read without closing them.
  int32_t SlotCount() const { return m_size; }
  const T& SlotAt(int32_t slot) const { return data()[slot]; }
  bool IsErased(int32_t slot) const {
    return m_erased != 0 && m_erasedMarks[static_cast<size_t>(slot)];
  }
  // Counts every change that moves or adds elements (pending removals
  // excepted), so that a derived list knows when positions it noted may no
  // longer hold. Writes through operator[] are not counted.
  uint64_t Changes() const { return m_changes; }
  // Counts only the changes that move elements to other positions (closing
  // gaps, RemoveIf, Clear, assignment); appends and writes through
  // operator[] leave every position as it was.
  uint64_t Moves() const { return m_moves; }

  // Makes room for needed more elements.
  // REQUIRES: GetListCount() + needed >= 0.
  void reserve(int32_t needed) {
    int64_t wanted = static_cast<int64_t>(m_size) + needed;
    BRONTEL_REQUIRE(wanted >= 0, "m_size + needed >= 0");
    if (wanted <= m_capacity) return;
    int64_t capacity = m_capacity;
    while (capacity < wanted) capacity = NextCapacity(capacity);
    T* old = data();
    std::unique_ptr<T[]> grown;
    if (capacity > 1 || kGrowth == ArrayGrowth::kSixteen) {
      grown = std::make_unique<T[]>(static_cast<size_t>(capacity));
      for (int32_t i = 0; i < m_size; ++i) grown[i] = std::move(old[i]);
    }
    if (old == &m_slot) m_slot = T();
    m_array = std::move(grown);
    m_capacity = static_cast<int32_t>(capacity);
  }

 private:
  static int64_t NextCapacity(int64_t capacity) {
    if (capacity == 0) return kGrowth == ArrayGrowth::kInlineSlot ? 1 : 16;
    if (capacity == 1) return 16;
    return capacity * 2;
  }
  T* data() const { return UsesSlot() ? &m_slot : m_array.get(); }
  // Closes the slots of pending removals, keeping the order.
  void Settle() const {
    if (m_erased == 0) return;
    T* d = data();
    int32_t kept = 0;
    for (int32_t i = 0; i < m_size; ++i) {
      if (m_erasedMarks[static_cast<size_t>(i)]) continue;
      if (kept != i) d[kept] = d[i];
      ++kept;
    }
    for (int32_t i = kept; i < m_size; ++i) d[i] = T();
    m_size = kept;
    m_erased = 0;
    m_erasedMarks.clear();
    ++m_changes;
    ++m_moves;
  }
  bool UsesSlot() const { return kGrowth == ArrayGrowth::kInlineSlot && m_capacity == 1; }
  void CheckIndex(int32_t index) const {
    BRONTEL_REQUIRE(index >= 0, "index >= 0");
    BRONTEL_REQUIRE(index < m_size, "index < m_size");
  }

  // Pending removals change the array's contents behind const reads; a list
  // is never shared between threads.
  mutable int32_t m_size = 0;
  int32_t m_capacity = 0;
  mutable T m_slot{};
  std::unique_ptr<T[]> m_array;
  mutable int32_t m_erased = 0;
  mutable std::vector<bool> m_erasedMarks;
  mutable uint64_t m_changes = 0;
  mutable uint64_t m_moves = 0;
};

}  // namespace brontel
