// Handles and holders: the object model of every record class.
//
// A handle is a small value that points at a reference-counted holder; copies of
// a handle share the holder and therefore are the same record. A holder is
// destroyed exactly when the last counting handle lets go of it. A reference back
// up the ownership tree (a record to its manager) is a BackReference: it points at
// its target without keeping it alive.
#pragma once

#include <cstdint>
#include <memory>

#include "brontel/platform/archive.h"
#include "brontel/platform/precondition.h"
#include "brontel/platform/serializable.h"

namespace brontel {

// Base of every holder. A new holder starts with a count of 1, which belongs to
// the handle that created it.
class Holder : public Serializable {
 public:
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;

  // Subtracts one count; at 0 the holder is destroyed. The count is set back to
  // 1 before destruction, so releases made while the fields are destroyed (by
  // handles that lead back to this holder) can never reach 0 a second time.
  static void Release(Holder* holder) {
    if (--holder->m_referenceCount == 0) {
      holder->m_referenceCount = 1;
      delete holder;
    }
  }

  bool IsShared() const override { return true; }
  void AddReference() override { ++m_referenceCount; }
  void ReleaseReference() override { Release(this); }

  uint32_t m_referenceCount = 1;

 protected:
  Holder() = default;
};

// A holder that records may point back at without counting it (a manager, a
// calendar). It owns a life flag that the back references share, so that one
// outliving its target sees that the target is gone instead of touching freed
// memory.
class BackReferenceTarget {
 public:
  BackReferenceTarget() = default;
  BackReferenceTarget(const BackReferenceTarget&) = delete;
  BackReferenceTarget& operator=(const BackReferenceTarget&) = delete;
  // Runs after the holder's fields are gone: references still alive from then
  // on find their target dead.
  ~BackReferenceTarget() {
    if (m_life != nullptr) *m_life = false;
  }
  const std::shared_ptr<bool>& Life() {
    if (m_life == nullptr) m_life = std::make_shared<bool>(true);
    return m_life;
  }

 private:
  std::shared_ptr<bool> m_life;
};

template <class HandleT>
class BackReference;

// Counting handle to a holder of type H. Derived handle classes add the record's
// own operations and decide whether they can be null (a default-constructed
// nullable handle is null; other classes allocate a holder).
template <class H>
class Handle {
 public:
  Handle(const Handle& other) : m_holder(other.m_holder) {
    if (m_holder != nullptr) {
      BRONTEL_REQUIRE(m_holder->m_referenceCount, "m_holder->m_referenceCount");
      ++m_holder->m_referenceCount;
    }
  }

  // Takes the count on the new holder before releasing the old one, so that
  // assigning from a value that only the old holder keeps alive (a record's own
  // conflict snapshot, say) never reads freed memory.
  Handle& operator=(const Handle& other) {
    if (this == &other) return *this;
    H* incoming = other.m_holder;
    if (incoming != nullptr) {
      BRONTEL_REQUIRE(incoming->m_referenceCount, "m_holder->m_referenceCount");
      ++incoming->m_referenceCount;
    }
    H* old = m_holder;
    m_holder = incoming;
    if (old != nullptr) Holder::Release(old);
    return *this;
  }

  ~Handle() {
    if (m_holder != nullptr) Holder::Release(m_holder);
  }

  bool IsNull() const { return m_holder == nullptr; }

  // True when both handles share one holder, or both are null. Unlike
  // EqualEqual it has no precondition, so lists can compare any elements.
  bool IsSameHolder(const Handle& other) const { return m_holder == other.m_holder; }
  // The holder's identity as a key (null for a null handle), for indexes of
  // records by holder; never dereferenced.
  const void* HolderKey() const { return m_holder; }

  // True when both handles share one holder.
  // REQUIRES: both handles live.
  bool EqualEqual(const Handle& other) const {
    RequireLive();
    RequireLiveOther(other);
    return m_holder == other.m_holder;
  }

  // Add or subtract one count without ever destroying the holder; only for the
  // non-counting back references (see BackReference).
  // REQUIRES: !IsNull().
  void refer() const {
    BRONTEL_REQUIRE(m_holder, "m_holder");
    ++m_holder->m_referenceCount;
  }
  void unrefer() const {
    BRONTEL_REQUIRE(m_holder && m_holder->m_referenceCount,
                    "m_holder && m_holder->m_referenceCount");
    --m_holder->m_referenceCount;
  }

  // Number of counting handles of the holder (0 for a null handle); for checks
  // and tests.
  uint32_t GetReferenceCount() const { return m_holder ? m_holder->m_referenceCount : 0; }

 protected:
  // A null handle.
  Handle() = default;
  // Takes over one count that the caller holds on holder (a new holder, or one
  // returned by Archive::ReadObject).
  explicit Handle(H* adopted) : m_holder(adopted) {}

  void RequireLive() const {
    BRONTEL_REQUIRE(m_holder && m_holder->m_referenceCount,
                    "m_holder && m_holder->m_referenceCount");
  }
  static void RequireLiveOther(const Handle& other) {
    BRONTEL_REQUIRE(other.m_holder && other.m_holder->m_referenceCount,
                    "other.m_holder && other.m_holder->m_referenceCount");
  }
  // The holder of a live handle.
  H* Live() const {
    RequireLive();
    return m_holder;
  }

  // Releases the current holder and adopts one count of holder (may be null).
  void Adopt(H* adopted) {
    H* old = m_holder;
    m_holder = adopted;
    if (old != nullptr) Holder::Release(old);
  }

  // Writes the holder as an object record (the null record for a null handle).
  void StoreHolderObject(Archive& ar) const { ar.WriteObject(m_holder); }

  // Reads an object record and makes this handle share the holder read. The old
  // holder is released only after the read succeeded, so a failed read leaves
  // the handle as it was. A null record is refused unless allowNull.
  void LoadHolderObject(Archive& ar, bool allowNull) {
    H* loaded = ReadObjectAs<H>(ar);
    if (loaded == nullptr && !allowNull) {
      ar.Fail(ArchiveStatus::kBadValue, "missing object");
    }
    Adopt(loaded);
  }

  // Stores the holder as an object record, or loads one (a null record gives
  // a null handle): the form of a record without its manager.
  void SerializeHolderObject(Archive& ar) {
    if (ar.IsStoring()) {
      StoreHolderObject(ar);
    } else {
      LoadHolderObject(ar, true);
    }
  }

  H* m_holder = nullptr;

  template <class HandleT>
  friend class BackReference;
};

// A handle held by a holder that points up the ownership tree. Right after it is
// set it gives back the count its copy took, so it does not keep the target
// alive; when it is reset or destroyed it takes the count again first, so that
// the handle's own release balances. The target's holder must derive from
// BackReferenceTarget: a reference that outlives its target (a record removed
// from its manager and kept elsewhere) then reads as null.
template <class HandleT>
class BackReference {
 public:
  BackReference() = default;
  BackReference(const BackReference&) = delete;
  BackReference& operator=(const BackReference&) = delete;
  ~BackReference() { Balance(); }

  void Set(const HandleT& target) {
    Balance();
    m_handle = target;
    if (!m_handle.IsNull()) {
      m_life = m_handle.m_holder->Life();
      m_handle.unrefer();
      m_unreferred = true;
    }
  }

  // Points at target and keeps the count the copy took, like an ordinary
  // handle; for records that are not owned by their target.
  void SetCounting(const HandleT& target) {
    Balance();
    m_handle = target;
  }

  // The target, or a null handle when there is none or it is gone.
  const HandleT& Get() const {
    ForgetIfGone();
    return m_handle;
  }
  bool IsNull() const { return Get().IsNull(); }
  // True when the target is not counted.
  bool IsNonCounting() const { return m_unreferred; }
  // True when this refers to the given holder (the target's identity).
  template <class H>
  bool Refers(const H* holder) const {
    return Get().m_holder == holder;
  }

 private:
  // A target that died leaves nothing to give back.
  void ForgetIfGone() const {
    if (m_unreferred && !*m_life) {
      m_handle.m_holder = nullptr;
      m_unreferred = false;
      m_life.reset();
    }
  }
  void Balance() {
    ForgetIfGone();
    if (m_unreferred) m_handle.refer();
    m_unreferred = false;
    m_life.reset();
  }

  mutable HandleT m_handle;
  mutable std::shared_ptr<bool> m_life;
  mutable bool m_unreferred = false;
};

}  // namespace brontel
