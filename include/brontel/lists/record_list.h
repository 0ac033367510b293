// RecordList: a list of record handles in insertion order, with what every
// record list answers to the synchronization engines: find by an identifier or
// by matching identity, mark found records touched, hand back the untouched ones.
//
// Record is a handle class with IsNull, IsSameHolder, HolderKey, IsMatching(other),
// IsTouched and SetTouched(bool). The list shares the records' holders.
//
// Removing a record from a long list finds its position through an index of
// the holders, built by the first removal after the list last changed, and
// closes the gap later (GrowableArray::EraseLater): a run of k removals from a
// list of n records costs about n + k, not k times n.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "brontel/lists/growable_array.h"

namespace brontel {

template <class Record, ArrayGrowth kGrowth = ArrayGrowth::kSixteen>
class RecordList : public GrowableArray<Record, kGrowth> {
  using Base = GrowableArray<Record, kGrowth>;

 public:
  using Base::Base;
  using Base::GetListCount;

  // REQUIRES: 0 <= index < GetListCount(). A record written into a slot is
  // not one the removal index knows, so writable access lets go of it.
  Record& operator[](int32_t index) {
    if (m_positions != nullptr) m_positions.reset();
    return Base::operator[](index);
  }
  const Record& operator[](int32_t index) const { return Base::operator[](index); }

  RecordList() = default;
  RecordList(const RecordList& other) : Base(other) {}
  RecordList& operator=(const RecordList& other) {
    Base::operator=(other);
    m_positions.reset();
    return *this;
  }

  // The records held now (null elements left out), so that a walk that
  // removes records from the list still visits every one of them.
  std::vector<Record> Snapshot() const {
    std::vector<Record> records;
    records.reserve(static_cast<size_t>(GetListCount()));
    for (int32_t i = 0; i < GetListCount(); ++i) {
      if (!(*this)[i].IsNull()) records.push_back((*this)[i]);
    }
    return records;
  }

  // Removes every element that is this very record (same holder).
  bool Remove(const Record& record) {
    if (record.IsNull() || Base::SlotCount() < kIndexedRemovalSize) return RemoveEvery(record);
    if (m_positions == nullptr || m_positionsAt != Base::Changes()) {
      if (!BuildPositions()) return RemoveEvery(record);
    }
    auto found = m_positions->find(record.HolderKey());
    if (found == m_positions->end()) return false;
    const int32_t slot = found->second;
    m_positions->erase(found);
    Base::EraseLater(slot);
    return true;
  }

  // True when the list holds this very record.
  bool Contains(const Record& record) const {
    for (int32_t i = 0; i < GetListCount(); ++i) {
      if ((*this)[i].IsSameHolder(record)) return true;
    }
    return false;
  }

  // The first element that matches record by identity, or a null record.
  Record FindMatch(const Record& record, bool touch) const {
    if (record.IsNull()) return Record();
    for (int32_t i = 0; i < GetListCount(); ++i) {
      const Record& e = (*this)[i];
      if (!e.IsNull() && e.IsMatching(record)) return Touched(e, touch);
    }
    return Record();
  }

  // The first element whose identifier (read by get) is id; id 0 finds nothing.
  template <class Getter>
  Record FindBy(Getter get, uint32_t id, bool touch) const {
    int32_t index = IndexOf(get, id);
    return index < 0 ? Record() : Touched((*this)[index], touch);
  }

  // Position of the first element whose identifier is id, or -1.
  template <class Getter>
  int32_t IndexOf(Getter get, uint32_t id) const {
    if (id == 0) return -1;
    for (int32_t i = 0; i < GetListCount(); ++i) {
      const Record& e = (*this)[i];
      if (!e.IsNull() && get(e) == id) return i;
    }
    return -1;
  }

  // Appends to out, in order, the elements not marked touched, clearing their
  // marks.
  template <class List>
  void CollectUntouched(List& out) const {
    for (int32_t i = 0; i < GetListCount(); ++i) {
      const Record& e = (*this)[i];
      if (e.IsNull() || e.IsTouched()) continue;
      out.Append(e);
    }
  }

  // Marks every element untouched.
  void ClearTouched() {
    for (int32_t i = 0; i < GetListCount(); ++i) {
      if (!(*this)[i].IsNull()) (*this)[i].SetTouched(false);
    }
  }

 protected:
  static Record Touched(const Record& e, bool touch) {
    Record found = e;
    if (touch) found.SetTouched(true);
    return found;
  }

 private:
  // Lists shorter than this are searched from the start on each removal.
  static constexpr int32_t kIndexedRemovalSize = 64;

  bool RemoveEvery(const Record& record) {
    return Base::RemoveIf([&](const Record& e) { return e.IsSameHolder(record); });
  }

  // Notes the slot of every record held now; false (and no index) when a
  // record is held twice, whose removal must take every copy.
  bool BuildPositions() {
    m_positions = std::make_unique<std::unordered_map<const void*, int32_t>>();
    m_positions->reserve(static_cast<size_t>(Base::SlotCount()));
    for (int32_t i = 0; i < Base::SlotCount(); ++i) {
      const Record& e = Base::SlotAt(i);
      if (e.IsNull() || Base::IsErased(i)) continue;
      if (!m_positions->emplace(e.HolderKey(), i).second) {
        m_positions.reset();
        return false;
      }
    }
    m_positionsAt = Base::Changes();
    return true;
  }

  // The slot of each record, valid while the array made no other change than
  // the removals noted here since m_positionsAt.
  std::unique_ptr<std::unordered_map<const void*, int32_t>> m_positions;
  uint64_t m_positionsAt = 0;
};

}  // namespace brontel
