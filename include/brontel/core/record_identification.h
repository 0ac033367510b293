// RecordIdentification: who a record is in each copy and how new it is.
//
// A handle (shared holder) with six fields: the cache id given by the local
// cache, the local id in the copy this one mirrors (also the server id), the fixed
// id shared by all copies (bit 31 marks a provisional one made locally), the
// version and create version, and flags (bit 0: fixed id changed, not yet passed
// on). Every operation requires a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"
#include "brontel/core/versioning.h"

namespace brontel {

class RecordIdentificationHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Quick form (24 bytes, little-endian DWORDs): cache id, local id, fixed id,
  // version, create version (read when version > 4, else = version), flags (read
  // when version >= 15, else 0).
  void SerializeFields(Archive& ar, uint32_t version);
  void Serialize(Archive& ar) override { SerializeFields(ar, ar.GetObjectSchema()); }

  uint32_t m_cacheId = 0;
  uint32_t m_localId = 0;
  uint32_t m_fixedId = 0;
  uint32_t m_version = Versioning::InValidVersion();
  uint32_t m_createVersion = Versioning::InValidVersion();
  uint32_t m_flags = 0;
};

class RecordIdentification : public Handle<RecordIdentificationHolder> {
 public:
  static constexpr uint32_t kFixedIdDirty = 1;
  static constexpr uint32_t kProvisionalFixedId = 0x80000000;
  // Fixed ids made from a handheld record id d are d | 0xC0000000, and the
  // handheld's record ids have 24 bits. A cache id in 0x40000000..0x40FFFFFF
  // would make the provisional fixed id of a different handheld record, so
  // cache sequences step over that band.
  static constexpr uint32_t kHandheldBandStart = 0x40000000;
  static constexpr uint32_t kHandheldBandEnd = 0x41000000;
  static uint32_t SkipHandheldBand(uint32_t sequence) {
    return (sequence >= kHandheldBandStart && sequence < kHandheldBandEnd) ? kHandheldBandEnd
                                                                           : sequence;
  }

  RecordIdentification();
  static RecordIdentification CreateEmpty() { return RecordIdentification(); }

  uint32_t GetCacheId() const { return Live()->m_cacheId; }
  void SetCacheId(uint32_t v) { Live()->m_cacheId = v; }
  uint32_t GetLocalId() const { return Live()->m_localId; }
  void SetLocalId(uint32_t v) { Live()->m_localId = v; }
  // The server id is the local id of the copy that mirrors the server.
  uint32_t GetServeId() const { return Live()->m_localId; }
  void SetServeId(uint32_t v) { Live()->m_localId = v; }
  uint32_t GetFixedId() const { return Live()->m_fixedId; }
  void SetFixedId(uint32_t v) { Live()->m_fixedId = v; }
  uint32_t GetVersion() const { return Live()->m_version; }
  void SetVersion(uint32_t v) { Live()->m_version = v; }
  uint32_t GetCreateVersion() const { return Live()->m_createVersion; }
  void SetCreateVersion(uint32_t v) { Live()->m_createVersion = v; }
  uint32_t GetFlags() const { return Live()->m_flags; }
  bool GetFixedIdDirtyFlag() const { return (Live()->m_flags & kFixedIdDirty) != 0; }
  void SetFixedIdDirtyFlag(bool dirty);

  // Same cache, local and fixed ids, version and create version; flags are not
  // compared.
  bool Equal(const RecordIdentification& other) const;
  // Copies all six fields into this holder.
  void Copy(const RecordIdentification& other);
  RecordIdentification Clone() const;

  // True when a selected kind of id is non-zero here and equal in other (cache
  // id, then local id, then fixed id, which decides alone when selected). A zero
  // id on this side never matches.
  bool IsMatching(const RecordIdentification& other, bool byCacheId, bool byLocalId,
                  bool byFixedId) const;
  // Gives both holders the same ids of the selected kinds: the larger cache id;
  // other's local and fixed ids when non-zero, else this one's. Writes into
  // other's holder too.
  void MergeIdentity(const RecordIdentification& other, bool cacheId, bool localId,
                     bool fixedId) const;

  // Returns the fixed id, making a provisional one (bit 31 set) from the local id,
  // or from the cache id when useCacheId, if there is none. May stay 0.
  uint32_t GenerateFixedId(bool useCacheId);
  // As GenerateFixedId(true), but a record without any id first draws a cache id
  // from cache.GenerateCacheId(); never returns 0. The fixed id dirty flag is
  // left to the record classes.
  template <class Cache>
  uint32_t ForceFixedId(Cache& cache) {
    RecordIdentificationHolder* h = Live();
    if (h->m_fixedId != 0) return h->m_fixedId;
    if (h->m_localId != 0) {
      h->m_fixedId = h->m_localId | kProvisionalFixedId;
    } else {
      if (h->m_cacheId == 0) h->m_cacheId = cache.GenerateCacheId();
      h->m_fixedId = h->m_cacheId | kProvisionalFixedId;
    }
    return h->m_fixedId;
  }

  // Storing always writes the 24-byte quick form. Loading reads the quick form
  // of format version `version` in place, or, for versions 1 and 0xFFFFFFFF, a
  // whole "RecordIdentificationHolder" object record whose holder this handle
  // then shares.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "<C=%.4x-L=%.4x-F=%.4x/V=%.4x:%.4x f=%x>".
  std::string GetDisplayString() const;

 private:
  explicit RecordIdentification(RecordIdentificationHolder* adopted) : Handle(adopted) {}
};

// True for the format versions whose records are stored as whole objects.
constexpr bool IsObjectFormVersion(uint32_t version) {
  return version == 1 || version == 0xFFFFFFFF;
}

}  // namespace brontel
