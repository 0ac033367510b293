// RecordHandle: the identity, status and conflict operations that every
// synchronized record (calendar, event, placement, category, contact) forwards
// to the fields its holder shares.
//
// A record holder H has the fields m_held, m_conflict (a handle of the record
// class), m_cloneIndex, m_identification, m_status and m_touched. Setters of
// ids that must tell an owner about the change are left to the record classes.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/enumerations.h"
#include "brontel/core/handle.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/versioning.h"
#include "brontel/platform/tree_view.h"

namespace brontel {

template <class Derived, class H>
class RecordHandle : public Handle<H> {
 protected:
  using Handle<H>::Handle;
  using Handle<H>::Live;

 public:
  uint32_t GetCacheId() const { return Live()->m_identification.GetCacheId(); }
  void SetCacheId(uint32_t v) { Live()->m_identification.SetCacheId(v); }
  uint32_t GetLocalId() const { return Live()->m_identification.GetLocalId(); }
  uint32_t GetServeId() const { return Live()->m_identification.GetServeId(); }
  uint32_t GetFixedId() const { return Live()->m_identification.GetFixedId(); }
  uint32_t GetVersion() const { return Live()->m_identification.GetVersion(); }
  void SetVersion(uint32_t v) { Live()->m_identification.SetVersion(v); }
  uint32_t GetDataHash() const { return Live()->m_status.GetDataHash(); }
  void SetDataHash(uint32_t v) { Live()->m_status.SetDataHash(v); }
  BR_SOURCE GetSource() const { return Live()->m_status.GetSource(); }
  void SetSource(BR_SOURCE v) { Live()->m_status.SetSource(v); }
  RecordIdentification GetRecordIdentification() const { return Live()->m_identification; }
  RecordStatus GetRecordStatus() const { return Live()->m_status; }

  // A null record counts as deleted.
  bool IsDeleted() const { return this->IsNull() || Live()->m_status.GetDeleteFlag(); }
  bool IsDeletedGlobal() const { return !this->IsNull() && Live()->m_status.GetDeleteGlobalFlag(); }
  bool IsDirty() const { return !this->IsNull() && Live()->m_status.GetDirtyFlag(); }
  // Delete flag set, global delete flag cleared.
  void SetDeleted() {
    Live()->m_status.SetDeleteFlag(true);
    Live()->m_status.SetDeleteGlobalFlag(false);
  }
  void SetDeletedGlobal() {
    Live()->m_status.SetDeleteFlag(true);
    Live()->m_status.SetDeleteGlobalFlag(true);
  }
  void SetDeletedNot() {
    Live()->m_status.SetDeleteFlag(false);
    Live()->m_status.SetDeleteGlobalFlag(false);
  }
  void SetDirty() { Live()->m_status.SetDirtyFlag(true); }
  void CopyStatus(const Derived& other) { Live()->m_status.Copy(other.Live()->m_status); }

  bool IsTouched() const { return Live()->m_touched; }
  void SetTouched(bool touched) { Live()->m_touched = touched; }
  bool IsHeld() const { return !this->IsNull() && Live()->m_held; }

  // True when the record changed or was created after version v.
  bool IsNewer(uint32_t v) const { return Versioning::IsNewer(v, Live()->m_identification); }
  // 0 for equal versions, -1 when this version is older, else 1.
  int32_t CompareVersion(const Derived& other) const {
    uint32_t mine = GetVersion();
    uint32_t theirs = other.GetVersion();
    if (mine == theirs) return 0;
    return Versioning::LessThan(mine, theirs) ? -1 : 1;
  }

  Derived GetConflict() const { return Live()->m_conflict; }
  bool IsConflicted() const { return !this->IsNull() && !Live()->m_conflict.IsNull(); }
  void RejectConflict() { Live()->m_conflict = Derived(); }

  // Shows the competing version, when there is one, under item.
  void DisplayConflict(TreeView& tree, TreeItem item) const {
    if (!IsConflicted()) return;
    const Derived& conflict = Live()->m_conflict;
    TreeItem under =
        tree.InsertItem(std::string("Conflicts with ") + conflict.GetDisplayString(), item);
    conflict.DisplayTree(tree, under);
  }

  int32_t getCloneIndex() const { return Live()->m_cloneIndex; }
  void setCloneIndex(int32_t index) { Live()->m_cloneIndex = index; }
};

}  // namespace brontel
