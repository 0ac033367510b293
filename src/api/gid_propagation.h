// Passing a changed account id between the two API families of one directory.
//
// Both families keep the account id in their cache. When one family's cache
// takes a new id, it gives the id to the other family's cache, taking that
// family's lock for a bounded time only: the other family may at that moment
// be waiting for this family's lock to pass an id the other way. When the
// lock or the other cache cannot be had, the id is not passed and a
// diagnostic line says so; the other family takes it at its next id check.
#pragma once

#include <string>

#include "brontel/core/uid128.h"

namespace brontel {

void PassGIDToContacts(const std::string& directory, const UID128& gid);
void PassGIDToCalendars(const std::string& directory, const UID128& gid);

}  // namespace brontel
