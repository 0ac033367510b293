#include "brontel/core/record_status.h"

#include "brontel/core/record_identification.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(RecordStatusHolder, "RecordStatusHolder");

void RecordStatusHolder::SerializeFields(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteDword(~m_dataHash);
    ar.WriteFlag(m_deleteFlag);
    ar.WriteFlag(m_deleteGlobalFlag);
    ar.WriteFlag(m_dirtyFlag);
    ar.WriteByte(static_cast<uint8_t>(m_source));
    return;
  }
  m_dataHash = ~ar.ReadDword();
  m_deleteFlag = ar.ReadFlag();
  m_deleteGlobalFlag = ar.ReadFlag();
  m_dirtyFlag = ar.ReadFlag();
  if (version != Archive::kNoSchema && version >= 9) {
    m_source = static_cast<uint32_t>(static_cast<int32_t>(static_cast<int8_t>(ar.ReadByte())));
  }
}

RecordStatus::RecordStatus() : Handle(new RecordStatusHolder()) {}

bool RecordStatus::Equal(const RecordStatus& other) const {
  const RecordStatusHolder* a = Live();
  RequireLiveOther(other);
  return a->m_deleteFlag == other.m_holder->m_deleteFlag &&
         a->m_deleteGlobalFlag == other.m_holder->m_deleteGlobalFlag;
}

void RecordStatus::Copy(const RecordStatus& other) {
  RecordStatusHolder* a = Live();
  RequireLiveOther(other);
  const RecordStatusHolder* b = other.m_holder;
  a->m_dataHash = b->m_dataHash;
  a->m_deleteFlag = b->m_deleteFlag;
  a->m_deleteGlobalFlag = b->m_deleteGlobalFlag;
  a->m_dirtyFlag = b->m_dirtyFlag;
  a->m_source = b->m_source;
}

RecordStatus RecordStatus::Clone() const {
  RecordStatus copy;
  copy.Copy(*this);
  return copy;
}

void RecordStatus::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsLoading() && IsObjectFormVersion(version)) {
    LoadHolderObject(ar, false);
    return;
  }
  Live()->SerializeFields(ar, version);
}

std::string RecordStatus::GetDisplayString() const {
  const RecordStatusHolder* h = Live();
  static const char* const kSourceWords[] = {"???? ", "desk ", "hand ", "serv "};
  const char* source = h->m_source < 4 ? kSourceWords[h->m_source] : "";
  return Format("#%.4x %s%s%s%s", h->m_dataHash, source, h->m_deleteFlag ? "(delete)" : "",
                h->m_deleteGlobalFlag ? "(global delete)" : "", h->m_dirtyFlag ? "(dirty)" : "");
}

}  // namespace brontel
