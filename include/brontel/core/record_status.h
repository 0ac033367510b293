// RecordStatus: what happened to a record in one copy since the last
// synchronization.
//
// A handle (shared holder) with the data hash at the last synchronization, the
// delete, global delete and dirty flags, and the copy the record came from.
// Two statuses are Equal when their delete flags agree. Every operation requires
// a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/enumerations.h"
#include "brontel/core/handle.h"

namespace brontel {

class RecordStatusHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Quick form (8 bytes): NOT data hash (DWORD), delete, global delete and dirty
  // flags ('+'/'-'), source byte (read when version >= 9; sign-extended).
  void SerializeFields(Archive& ar, uint32_t version);
  void Serialize(Archive& ar) override { SerializeFields(ar, ar.GetObjectSchema()); }

  uint32_t m_dataHash = 0;
  bool m_deleteFlag = false;
  bool m_deleteGlobalFlag = false;
  bool m_dirtyFlag = false;
  uint32_t m_source = SOURCE_NONE;
};

class RecordStatus : public Handle<RecordStatusHolder> {
 public:
  RecordStatus();
  static RecordStatus CreateEmpty() { return RecordStatus(); }

  uint32_t GetDataHash() const { return Live()->m_dataHash; }
  void SetDataHash(uint32_t v) { Live()->m_dataHash = v; }
  bool GetDeleteFlag() const { return Live()->m_deleteFlag; }
  void SetDeleteFlag(bool v) { Live()->m_deleteFlag = v; }
  bool GetDeleteGlobalFlag() const { return Live()->m_deleteGlobalFlag; }
  void SetDeleteGlobalFlag(bool v) { Live()->m_deleteGlobalFlag = v; }
  bool GetDirtyFlag() const { return Live()->m_dirtyFlag; }
  void SetDirtyFlag(bool v) { Live()->m_dirtyFlag = v; }
  BR_SOURCE GetSource() const { return static_cast<BR_SOURCE>(Live()->m_source); }
  void SetSource(BR_SOURCE v) { Live()->m_source = v; }

  // The delete flag and the global delete flag are equal; hash, dirty flag and
  // source are not compared.
  bool Equal(const RecordStatus& other) const;
  // Copies all five fields into this holder.
  void Copy(const RecordStatus& other);
  RecordStatus Clone() const;

  // Storing always writes the 8-byte quick form. Loading reads the quick form of
  // format version `version` in place, or, for versions 1 and 0xFFFFFFFF, a
  // whole "RecordStatusHolder" object record whose holder this handle then
  // shares. Without a source byte the source keeps its value.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "#%.4x " then the source word, "(delete)", "(global delete)", "(dirty)".
  std::string GetDisplayString() const;

 private:
  explicit RecordStatus(RecordStatusHolder* adopted) : Handle(adopted) {}
};

}  // namespace brontel
