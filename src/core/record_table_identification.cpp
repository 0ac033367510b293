#include "brontel/core/record_table_identification.h"

#include "brontel/core/record_identification.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(RecordTableIdentificationHolder, "RecordTableIdentificationHolder");

void RecordTableIdentificationHolder::SerializeFields(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteDword(m_tableVersion);
    ar.WriteBytes(m_tableId.Bytes(), UID128::kByteCount);
    ar.WriteDword(m_tableDeltaVersion);
    return;
  }
  // Everything is read before the holder changes, so a short input leaves the
  // identification as it was.
  const uint32_t tableVersion = ar.ReadDword();
  uint8_t idBytes[UID128::kByteCount];
  ar.ReadBytes(idBytes, sizeof idBytes);
  if (version != Archive::kNoSchema && version > 2) m_tableDeltaVersion = ar.ReadDword();
  m_tableVersion = tableVersion;
  m_tableId = UID128(idBytes);
}

RecordTableIdentification::RecordTableIdentification()
    : Handle(new RecordTableIdentificationHolder()) {}

bool RecordTableIdentification::Equal(const RecordTableIdentification& other) const {
  const RecordTableIdentificationHolder* a = Live();
  RequireLiveOther(other);
  const RecordTableIdentificationHolder* b = other.m_holder;
  return a->m_tableId == b->m_tableId && a->m_tableVersion == b->m_tableVersion;
}

void RecordTableIdentification::Copy(const RecordTableIdentification& other) {
  RecordTableIdentificationHolder* a = Live();
  RequireLiveOther(other);
  a->m_tableId = other.m_holder->m_tableId;
  a->m_tableVersion = other.m_holder->m_tableVersion;
}

RecordTableIdentification RecordTableIdentification::Clone() const {
  RecordTableIdentification copy;
  copy.Copy(*this);
  return copy;
}

void RecordTableIdentification::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsLoading() && IsObjectFormVersion(version)) {
    LoadHolderObject(ar, false);
    return;
  }
  Live()->SerializeFields(ar, version);
}

std::string RecordTableIdentification::GetDisplayString() const {
  const RecordTableIdentificationHolder* h = Live();
  const UID128& id = h->m_tableId;
  return Format("[G=%.4x:%.4x:%.4x:%.4x/TV=%.4x|%.4x]", id.GetWord(3), id.GetWord(2), id.GetWord(1),
                id.GetWord(0), h->m_tableVersion, h->m_tableDeltaVersion);
}

}  // namespace brontel
