// RecordList: a list of record handles in insertion order, with what every
// record list answers to the synchronization engines: find by an identifier or
// by matching identity, mark found records touched, hand back the untouched ones.
//
// Record is a handle class with IsNull, IsSameHolder, IsMatching(other),
// IsTouched and SetTouched(bool). The list shares the records' holders.
#pragma once

#include <cstdint>
#include <vector>

#include "brontel/lists/growable_array.h"

namespace brontel {

template <class Record, ArrayGrowth kGrowth = ArrayGrowth::kSixteen>
class RecordList : public GrowableArray<Record, kGrowth> {
  using Base = GrowableArray<Record, kGrowth>;

 public:
  using Base::Base;
  using Base::GetListCount;
  using Base::operator[];

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
    return Base::RemoveIf([&](const Record& e) { return e.IsSameHolder(record); });
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
      Record e = (*this)[i];
      if (e.IsNull() || e.IsTouched()) continue;
      e.SetTouched(false);
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
};

}  // namespace brontel
