// The cache and shadow operations of the two API families, written once over
// the family's cache and manager types.
//
// Reading: a missing cache starts empty with a random sequence; a file that
// exists but cannot be read stops the operation with ERR_DAMAGED_FILE. Writing
// replaces the file atomically or gives ERR_WRITE_FAILED; a cache written with
// a new account id passes the id on to the other family.
#pragma once

#include <memory>
#include <string>

#include "api_object_holder.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/core/record_identification.h"

namespace brontel {

inline CalendarManager ManagerOf(const CalendarCache& cache) {
  return cache.GetCalendarManager();
}
inline CategoryManager ManagerOf(const CategoryCache& cache) {
  return cache.GetCategoryManager();
}

// Reads the family's cache into cache, then increments its sequence and notes
// its account id.
template <class Cache>
br_error ReadCache(ApiObjectHolder& h, Cache& cache, bool logBefore) {
  h.TimeLogBegin("Read Cache");
  bool missing = false;
  br_error result = h.readStored(
      h.m_family.cacheFile, [&](Archive& ar) { cache.Serialize(ar); }, &missing);
  if (result == ERR_NONE) {
    if (missing) cache.SetRandomCacheIndex();
    if (logBefore && h.IsLoggingRecords()) h.m_log.Log("cache before", cache.Clone());
    cache.Increment();
    h.m_gid = ManagerOf(cache).GetGID();
  }
  h.TimeLogEnd("Read Cache");
  return result;
}

// Writes cache to the family's cache file; with propagateGID, a changed account
// id is noted for the other family, which the entry point gives it once it has
// released its lock (PassPendingGID).
template <class Cache>
br_error WriteCache(ApiObjectHolder& h, Cache& cache, bool logAfter, bool propagateGID) {
  h.TimeLogBegin("Write Cache");
  if (logAfter && h.IsLoggingRecords()) h.m_log.Log("cache after", cache.Clone());
  br_error result = h.writeStored(h.m_family.cacheFile, [&](Archive& ar) { cache.Serialize(ar); });
  if (result != ERR_NONE) {
    h.TimeLogEnd("Write Cache");
    return result;
  }
  UID128 gid = ManagerOf(cache).GetGID();
  if (propagateGID && gid != h.m_gid) {
    if (!gid.IsZero()) h.m_gidToPass = gid;
    h.m_gid = gid;
  }
  h.TimeLogEnd("Write Cache");
  h.m_lastSequence = cache.GetSequence();
  if (h.IsLogging(ApiObjectHolder::kLogEveryWrite) && h.IsLoggingRecords()) {
    h.writeSLogFile(h.m_lastSequence, "");
  }
  return ERR_NONE;
}

// Reads the handheld shadow once: a missing file leaves shadow as it is and
// *loaded false.
template <class Manager>
br_error ReadHandheldShadow(ApiObjectHolder& h, Manager& shadow, bool* loaded) {
  if (*loaded) return ERR_NONE;
  Manager read;
  bool missing = false;
  br_error result = h.readStored(
      h.m_family.handheldShadowFile, [&](Archive& ar) { read.Serialize(ar); }, &missing);
  if (result != ERR_NONE || missing) return result;
  if (read.IsNull()) return h.damaged(h.PathOf(h.m_family.handheldShadowFile));
  shadow = read;
  *loaded = true;
  return ERR_NONE;
}

// Writes the handheld shadow; a file that already holds it is left as it is.
template <class Manager>
br_error WriteHandheldShadow(ApiObjectHolder& h, Manager& shadow) {
  return h.writeStoredIfChanged(h.m_family.handheldShadowFile,
                                [&](Archive& ar) { shadow.Serialize(ar); });
}

// A calendar shadow always uses the server's id layout; a contact shadow has
// one layout only.
inline void ConfirmServerLayout(CalendarManager& shadow) {
  shadow.ConfirmServerManager();
}
inline void ConfirmServerLayout(CategoryManager&) {}

// Reads the server shadow into shadow (an empty manager when there is no
// file); a file that exists but cannot be read gives ERR_DAMAGED_FILE and
// leaves shadow as it was.
template <class Manager>
br_error ReadServerShadow(ApiObjectHolder& h, Manager& shadow, bool logBefore) {
  h.TimeLogBegin("Read Shadow");
  Manager read;
  bool missing = false;
  br_error result = h.readStored(
      h.m_family.serverShadowFile, [&](Archive& ar) { read.Serialize(ar); }, &missing);
  if (result == ERR_NONE && !missing) {
    if (read.IsNull()) {
      result = h.damaged(h.PathOf(h.m_family.serverShadowFile));
    } else {
      shadow = read;
    }
  }
  if (result == ERR_NONE) {
    ConfirmServerLayout(shadow);
    if (logBefore && h.IsLoggingRecords()) h.m_log.Log("...server shadow before", shadow.Clone());
  }
  h.TimeLogEnd("Read Shadow");
  return result;
}

template <class Manager>
br_error WriteServerShadow(ApiObjectHolder& h, Manager& shadow, bool logAfter) {
  h.TimeLogBegin("Write Shadow");
  if (logAfter && h.IsLoggingRecords()) h.m_log.Log("...server shadow after", shadow.Clone());
  br_error result =
      h.writeStored(h.m_family.serverShadowFile, [&](Archive& ar) { shadow.Serialize(ar); });
  h.TimeLogEnd("Write Shadow");
  return result;
}

// Gives desktop the cache's account id when desktop has none; true when it
// has one then.
template <class Cache, class Manager>
bool TakeCacheGID(ApiObjectHolder& h, Manager& desktop) {
  if (!desktop.GetGID().IsZero()) return true;
  std::unique_ptr<FileLock> lock = h.takeLock();
  Cache cache;
  if (ReadCache(h, cache, true) != ERR_NONE) return false;
  desktop.SetGID(ManagerOf(cache).GetGID());
  return !desktop.GetGID().IsZero();
}

// Sets the account id when the cache has none and rewrites the cache; false
// when gid is empty or differs from the cache's (desktop then takes the
// cache's), when the cache could not be read or written, or when the other
// family's cache could not be given the cache's id (ConfirmGIDPassed: it is
// checked at every call, so that a call repeated after a failure passes it).
template <class Cache, class Manager>
bool SetCacheGID(ApiObjectHolder& h, Manager& desktop, const UID128& gid) {
  bool accepted = true;
  {
    std::unique_ptr<FileLock> lock = h.takeLock();
    h.checkRegistryFlags();
    Cache cache;
    if (ReadCache(h, cache, true) != ERR_NONE) return false;
    Manager cached = ManagerOf(cache);
    if (cached.GetGID().IsZero()) {
      if (gid.IsZero()) {
        accepted = false;
      } else {
        cached.SetGID(gid);
      }
    } else if (!gid.IsZero() && gid != cached.GetGID()) {
      accepted = false;
    }
    // The caller's records take the account id only once the cache holds it.
    if (WriteCache(h, cache, true, true) != ERR_NONE) return false;
    if (!cached.GetGID().IsZero()) desktop.SetGID(cached.GetGID());
  }
  const bool passed = ConfirmGIDPassed(h, true);
  return accepted && passed;
}

// Gives the cache the account id gid when it has none (the other family
// passing its id on), waiting at most lockWait for the lock. A cache that
// already holds gid is not written again; one that holds another id keeps it.
template <class Cache>
GIDPass GiveCacheGID(ApiObjectHolder& h, const UID128& gid, std::chrono::milliseconds lockWait) {
  std::unique_ptr<FileLock> lock = h.takeLockWithin(lockWait);
  if (lock == nullptr) return GIDPass::kNotPassed;
  Cache cache;
  if (ReadCache(h, cache, true) != ERR_NONE) return GIDPass::kNotPassed;
  auto held = ManagerOf(cache);
  if (held.GetGID() == gid) return GIDPass::kPassed;
  if (!held.GetGID().IsZero()) return GIDPass::kOtherAccount;
  held.SetGID(gid);
  return WriteCache(h, cache, true, false) == ERR_NONE ? GIDPass::kPassed : GIDPass::kNotPassed;
}

// Sets gid on the cache without passing it on; waits at most lockWait for the
// lock when given. False when nothing was written.
template <class Cache>
bool UpdateCacheGID(ApiObjectHolder& h, const UID128& gid,
                    const std::chrono::milliseconds* lockWait) {
  std::unique_ptr<FileLock> lock = lockWait == nullptr ? h.takeLock() : h.takeLockWithin(*lockWait);
  if (lock == nullptr) return false;
  Cache cache;
  if (ReadCache(h, cache, true) != ERR_NONE) return false;
  ManagerOf(cache).SetGID(gid);
  return WriteCache(h, cache, true, false) == ERR_NONE;
}

// After a failed cache write the ids this pass handed out (first..end) were
// never stored and will be handed out again: the caller's records must not
// keep them, nor the provisional fixed ids made from them.
inline void ForgetCacheId(RecordIdentification id, uint32_t first, uint32_t end) {
  uint32_t cacheId = id.GetCacheId();
  if (cacheId >= first && cacheId < end) id.SetCacheId(0);
  uint32_t fixedId = id.GetFixedId();
  uint32_t base = fixedId & ~RecordIdentification::kProvisionalFixedId;
  if ((fixedId & RecordIdentification::kProvisionalFixedId) && base >= first && base < end) {
    id.SetFixedId(0);
  }
}

}  // namespace brontel
