// Passing the account id between the two API families of one directory.
//
// Both families keep the account id in their cache, and both caches of a
// directory must carry the same account. When a family's cache takes an id,
// or when SetGID or RequestGIDFromServer finds one there, the family gives it
// to the other family's cache, but only after releasing its own lock: a
// family never waits for the other's lock while holding its own, so two
// programs that set both ids at once neither deadlock nor stall each other.
//
// The other cache takes the id only when it has none. A cache that already
// holds another account keeps it (its records belong to that account), and
// passing counts as failed. An id that could not be passed (the other cache
// unreadable or unwritable, its lock held for long) stays pending in the API
// object for its next operation, and every SetGID and RequestGIDFromServer
// checks the other cache again; both report false while the other cache does
// not carry their id, so that no caller takes the account as set up when
// one family lacks it.
#pragma once

#include <string>

#include "brontel/core/uid128.h"

namespace brontel {

class ApiObjectHolder;

enum class GIDPass {
  kPassed,        // the other cache holds the id (it took it, or had it)
  kNotPassed,     // the other cache or its lock could not be had: try again later
  kOtherAccount,  // the other cache holds another account id and keeps it
};

// Give gid to the other family's cache in directory, when that cache has no
// account id; each waits at most kOtherFamilyLockWait for the lock. Defined
// next to the API object of the family that takes the id.
// REQUIRES: the calling family does not hold its lock.
GIDPass TakeGIDFromContacts(const std::string& directory, const UID128& gid);
GIDPass TakeGIDFromCalendars(const std::string& directory, const UID128& gid);

// Passes h's pending account id to the other family and forgets it once it
// is passed, or once the other cache turned out to hold another account.
// False when the id could not be passed; with report, the error message then
// says why. True when nothing was pending.
// REQUIRES: h's family lock is not held.
bool PassPendingGID(ApiObjectHolder& h, bool report);

// Notes the account id that h's cache holds (if any) as pending, so that the
// other family's cache is checked for it, and passes it as PassPendingGID
// does.
// REQUIRES: h's family lock is not held.
bool ConfirmGIDPassed(ApiObjectHolder& h, bool report);

}  // namespace brontel
