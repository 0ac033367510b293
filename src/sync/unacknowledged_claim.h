// ClaimUnacknowledged: pairs records that a server answer brought new to this
// copy with the cache's records that the server never acknowledged, so that a
// record this client inserted is not taken for another one when the answer
// that named its local id was lost.
//
// The server names the client's local id only in the answer to the request
// that inserted a record. When that answer is lost (a cut connection, a
// spoiled body) or the cache could not be written after it, the next answer
// brings the record under its server id alone, while the cache still holds
// the client's copy, unacknowledged, and would send it again as an insert.
// Each arrival that is equal to such a pending record takes that record's
// fixed id, exactly as if the server had named it, and the engine's matching
// by fixed id then binds the two. A pending record is claimed at most once.
//
// Equal records that two desktops of one user made between synchronizations
// are merged the same way; that is what the desktop synchronization's own
// matching does with records that match, so nothing the user could tell apart
// is lost. A cache that never took a server version has sent nothing, so the
// engines claim nothing for it: a desktop that joins an account with data of
// its own keeps its records apart from the account's.
#pragma once

#include <cstddef>
#include <map>
#include <vector>

namespace brontel {

// arrivals: records of the shadow new to this copy, made from the server's
// id alone (no local id named) and matched by no cache record. pending: the
// cache's live records that would be sent as inserts, with a fixed id that no
// shadow record holds. keyOf(record) gives a key that equal records share
// (it only narrows the search); same(arrival, candidate) decides. Each
// arrival takes the fixed id of the first unclaimed pending record in
// pending's order that it equals.
template <class Record, class KeyOf, class Same>
void ClaimUnacknowledged(const std::vector<Record>& arrivals, const std::vector<Record>& pending,
                         KeyOf keyOf, Same same) {
  if (arrivals.empty() || pending.empty()) return;
  using Key = decltype(keyOf(pending.front()));
  std::map<Key, std::vector<size_t>> candidates;
  for (size_t i = 0; i < pending.size(); ++i) candidates[keyOf(pending[i])].push_back(i);
  std::vector<bool> claimed(pending.size(), false);
  for (Record arrival : arrivals) {
    auto found = candidates.find(keyOf(arrival));
    if (found == candidates.end()) continue;
    for (size_t i : found->second) {
      if (claimed[i] || !same(arrival, pending[i])) continue;
      claimed[i] = true;
      arrival.SetFixedId(pending[i].GetFixedId());
      break;
    }
  }
}

}  // namespace brontel
