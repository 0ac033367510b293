// What the category and contact records share: the change notices of their
// ids, and the three-way merge of their data.
#pragma once

#include <cstdint>

#include "brontel/core/record_identification.h"
#include "brontel/core/versioning.h"

namespace brontel {

// Counts the id changes of all category and contact records, so that a list no
// manager owns can tell that its indexes may be out of date.
void NoteContactSideIdChange();
uint64_t ContactSideIdChanges();

// The three ids of a record before a change.
struct IdsBefore {
  explicit IdsBefore(const RecordIdentification& id)
      : cache(id.GetCacheId()), local(id.GetLocalId()), fixed(id.GetFixedId()) {}
  uint32_t cache;
  uint32_t local;
  uint32_t fixed;
};

enum class MergeOutcome { kConflict, kTakeOther, kGiveThis, kNone };

// A side is matched when its data hash is set and still describes its data.
template <class Record>
bool Matched(const Record& r) {
  return r.GetDataHash() != 0 && r.HashMatched();
}

// Decides the three-way merge of mine with other against cached (the copy of
// the last synchronization, may be null). When mine's copy is newer than the
// other's while their data differ, mine's version first moves past the
// other's.
template <class Record>
MergeOutcome DecideMerge(Record& mine, Record& other, const Record& cached) {
  const uint32_t u = mine.GetUpperVersion();
  const uint32_t l = mine.GetLowerVersion();
  const uint32_t ou = other.GetUpperVersion();
  const uint32_t ol = other.GetLowerVersion();
  const bool haveCached = !cached.IsNull();
  const uint32_t hash = mine.GetDataHash();
  const uint32_t otherHash = other.GetDataHash();

  if (Versioning::LessThan(u, ol)) {
    // The other side changed after this copy's version.
    if (mine.Equal(other)) return MergeOutcome::kTakeOther;
    if (haveCached && mine.Equal(cached)) return MergeOutcome::kTakeOther;
    return Matched(mine) ? MergeOutcome::kTakeOther : MergeOutcome::kConflict;
  }
  if (!Versioning::LessThanOrEqualTo(u, ou) && hash != 0 && otherHash != 0 && hash != otherHash) {
    mine.SetVersion(Versioning::NewestVersion(l, ou + 1));
    if (mine.Equal(other)) return MergeOutcome::kGiveThis;
    if (haveCached && cached.Equal(other)) return MergeOutcome::kGiveThis;
    return Matched(other) ? MergeOutcome::kGiveThis : MergeOutcome::kConflict;
  }
  if (mine.Equal(other)) {
    return hash != 0 && otherHash != 0 && hash != otherHash ? MergeOutcome::kTakeOther
                                                            : MergeOutcome::kNone;
  }
  if (haveCached && cached.Equal(other)) return MergeOutcome::kGiveThis;
  if (haveCached && mine.Equal(cached)) return MergeOutcome::kTakeOther;
  const bool otherMatched = Matched(other);
  const bool mineMatched = Matched(mine);
  if (otherMatched && !mineMatched) return MergeOutcome::kGiveThis;
  if (mineMatched && !otherMatched) return MergeOutcome::kTakeOther;
  return MergeOutcome::kConflict;
}

// Applies an outcome; returns the number of conflicts (0 or 1).
template <class Record>
int32_t ApplyMerge(MergeOutcome outcome, Record& mine, Record& other, bool markDirty) {
  switch (outcome) {
    case MergeOutcome::kConflict:
      mine.SetConflict(other);
      return 1;
    case MergeOutcome::kTakeOther: {
      const uint32_t myLocal = mine.GetLocalId();
      const uint32_t theirLocal = other.GetLocalId();
      mine.Copy(other);
      // This copy's local id names the record in this copy's store.
      if (myLocal != theirLocal && myLocal != 0) {
        mine.SetLocalId(myLocal);
        other.SetLocalId(myLocal);
      }
      if (markDirty) mine.SetDirty();
      return mine.IsConflicted() ? 1 : 0;
    }
    case MergeOutcome::kGiveThis: {
      const uint32_t theirLocal = other.GetLocalId();
      const uint32_t theirFixed = other.GetFixedId();
      other.Copy(mine);
      if (other.GetLocalId() == 0) other.SetLocalId(theirLocal);
      if (other.GetFixedId() == 0) other.SetFixedId(theirFixed);
      return 0;
    }
    case MergeOutcome::kNone:
      if (mine.GetLocalId() == 0) {
        mine.SetLocalId(other.GetLocalId());
      } else if (other.GetLocalId() == 0) {
        other.SetLocalId(mine.GetLocalId());
      }
      if (mine.GetFixedId() == 0) {
        mine.SetFixedId(other.GetFixedId());
      } else if (other.GetFixedId() == 0) {
        other.SetFixedId(mine.GetFixedId());
      }
      if (other.IsConflicted() && !mine.IsConflicted()) other.RejectConflict();
      return 0;
  }
  return 0;
}

}  // namespace brontel
