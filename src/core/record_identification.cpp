#include "brontel/core/record_identification.h"

#include <algorithm>

#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(RecordIdentificationHolder, "RecordIdentificationHolder");

bool Versioning::IsNewer(uint32_t v, const RecordIdentification& id) {
  return LessThan(v, id.GetVersion()) || LessThan(v, id.GetCreateVersion());
}

void RecordIdentificationHolder::SerializeFields(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    for (uint32_t field : {m_cacheId, m_localId, m_fixedId, m_version, m_createVersion, m_flags}) {
      ar.WriteDword(field);
    }
    return;
  }
  m_cacheId = ar.ReadDword();
  m_localId = ar.ReadDword();
  m_fixedId = ar.ReadDword();
  m_version = ar.ReadDword();
  bool known = version != Archive::kNoSchema;
  m_createVersion = known && version > 4 ? ar.ReadDword() : m_version;
  m_flags = known && version >= 15 ? ar.ReadDword() : 0;
}

RecordIdentification::RecordIdentification() : Handle(new RecordIdentificationHolder()) {}

void RecordIdentification::SetFixedIdDirtyFlag(bool dirty) {
  RecordIdentificationHolder* h = Live();
  h->m_flags = dirty ? (h->m_flags | kFixedIdDirty) : (h->m_flags & ~kFixedIdDirty);
}

bool RecordIdentification::Equal(const RecordIdentification& other) const {
  const RecordIdentificationHolder* a = Live();
  RequireLiveOther(other);
  const RecordIdentificationHolder* b = other.m_holder;
  return a->m_cacheId == b->m_cacheId && a->m_localId == b->m_localId &&
         a->m_version == b->m_version && a->m_createVersion == b->m_createVersion &&
         a->m_fixedId == b->m_fixedId;
}

void RecordIdentification::Copy(const RecordIdentification& other) {
  RecordIdentificationHolder* a = Live();
  RequireLiveOther(other);
  const RecordIdentificationHolder* b = other.m_holder;
  a->m_cacheId = b->m_cacheId;
  a->m_localId = b->m_localId;
  a->m_fixedId = b->m_fixedId;
  a->m_version = b->m_version;
  a->m_createVersion = b->m_createVersion;
  a->m_flags = b->m_flags;
}

RecordIdentification RecordIdentification::Clone() const {
  RecordIdentification copy;
  copy.Copy(*this);
  return copy;
}

bool RecordIdentification::IsMatching(const RecordIdentification& other, bool byCacheId,
                                      bool byLocalId, bool byFixedId) const {
  const RecordIdentificationHolder* a = Live();
  RequireLiveOther(other);
  const RecordIdentificationHolder* b = other.m_holder;
  if (byCacheId && a->m_cacheId != 0 && a->m_cacheId == b->m_cacheId) return true;
  if (byLocalId && a->m_localId != 0 && a->m_localId == b->m_localId) return true;
  if (byFixedId && a->m_fixedId != 0) return a->m_fixedId == b->m_fixedId;
  return false;
}

void RecordIdentification::MergeIdentity(const RecordIdentification& other, bool cacheId,
                                         bool localId, bool fixedId) const {
  RecordIdentificationHolder* a = Live();
  RequireLiveOther(other);
  RecordIdentificationHolder* b = other.m_holder;
  if (cacheId) a->m_cacheId = b->m_cacheId = std::max(a->m_cacheId, b->m_cacheId);
  if (localId) {
    if (b->m_localId != 0) {
      a->m_localId = b->m_localId;
    } else {
      b->m_localId = a->m_localId;
    }
  }
  if (fixedId) {
    if (b->m_fixedId != 0) {
      a->m_fixedId = b->m_fixedId;
    } else {
      b->m_fixedId = a->m_fixedId;
    }
  }
}

uint32_t RecordIdentification::GenerateFixedId(bool useCacheId) {
  RecordIdentificationHolder* h = Live();
  if (h->m_fixedId != 0) return h->m_fixedId;
  if (h->m_localId != 0) {
    h->m_fixedId = h->m_localId | kProvisionalFixedId;
  } else if (useCacheId && h->m_cacheId != 0) {
    h->m_fixedId = h->m_cacheId | kProvisionalFixedId;
  }
  return h->m_fixedId;
}

void RecordIdentification::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsLoading() && IsObjectFormVersion(version)) {
    LoadHolderObject(ar, false);
    return;
  }
  Live()->SerializeFields(ar, version);
}

std::string RecordIdentification::GetDisplayString() const {
  const RecordIdentificationHolder* h = Live();
  return Format("<C=%.4x-L=%.4x-F=%.4x/V=%.4x:%.4x f=%x>", h->m_cacheId, h->m_localId, h->m_fixedId,
                h->m_version, h->m_createVersion, h->m_flags);
}

}  // namespace brontel
