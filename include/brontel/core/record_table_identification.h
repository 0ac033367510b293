// RecordTableIdentification: the identity of a whole calendar or contact store.
//
// A handle (shared holder) with the store's global identifier on the server (a
// UID128), the table version last agreed with the server and a delta version.
// Two identifications are Equal when id and table version agree; the delta
// version is a local value that neither Equal nor Copy touches. Every operation
// requires a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"
#include "brontel/core/uid128.h"
#include "brontel/core/versioning.h"

namespace brontel {

class RecordTableIdentificationHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // In-place form: table version (DWORD), the 16 id bytes in index order, delta
  // version (DWORD, read only when version > 2).
  void SerializeFields(Archive& ar, uint32_t version);
  void Serialize(Archive& ar) override { SerializeFields(ar, ar.GetObjectSchema()); }

  UID128 m_tableId;
  uint32_t m_tableVersion = Versioning::InValidVersion();
  uint32_t m_tableDeltaVersion = 0;
};

class RecordTableIdentification : public Handle<RecordTableIdentificationHolder> {
 public:
  RecordTableIdentification();
  virtual ~RecordTableIdentification() = default;
  RecordTableIdentification(const RecordTableIdentification&) = default;
  RecordTableIdentification& operator=(const RecordTableIdentification&) = default;
  static RecordTableIdentification CreateEmpty() { return RecordTableIdentification(); }

  const UID128& GetTableId() const { return Live()->m_tableId; }
  void SetTableId(const UID128& id) { Live()->m_tableId = id; }
  uint32_t GetTableVersion() const { return Live()->m_tableVersion; }
  void SetTableVersion(uint32_t v) { Live()->m_tableVersion = v; }
  uint32_t GetTableDeltaVersion() const { return Live()->m_tableDeltaVersion; }
  void SetTableDeltaVersion(uint32_t v) { Live()->m_tableDeltaVersion = v; }

  // Same table id and table version; the delta version is not compared.
  bool Equal(const RecordTableIdentification& other) const;
  // Copies table id and table version; this holder keeps its delta version.
  void Copy(const RecordTableIdentification& other);
  // A new holder with a Copy of this one, so its delta version is 0.
  RecordTableIdentification Clone() const;

  // Storing always writes the in-place form. Loading reads the in-place form of
  // format version `version` into this holder (a version of 2 or less leaves the
  // delta version as it was), or, for versions 1 and 0xFFFFFFFF, a whole
  // "RecordTableIdentificationHolder" object record whose holder this handle
  // then shares.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "[G=%.4x:%.4x:%.4x:%.4x/TV=%.4x|%.4x]" with words 3, 2, 1 and 0 of the id,
  // the table version and the delta version.
  virtual std::string GetDisplayString() const;
};

}  // namespace brontel
