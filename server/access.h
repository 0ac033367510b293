// Access: what one account sees of, and may change in, the records of
// others. An account sees the calendars and categories it owns and those
// granted to it (read-only and hidden details as the owner's and the grant's
// flags say, hidden details implying read-only); it sees an event or contact
// through a live link to a parent it sees, and may change it through a link to
// a parent it may write. Unfiled contacts belong to their creator alone.
#pragma once

#include <cstdint>

#include "server/storage.h"

namespace brontel::server {

struct ParentAccess {
  // Owned, or granted at some time (revoked grants and tombstones included).
  bool known = false;
  // Live, and owned or granted without revocation.
  bool visible = false;
  bool owned = false;
  bool writable = false;
  bool readOnly = false;
  bool hideDetails = false;
  // The grant's version (0 for owned records) and max(record, grant version).
  uint32_t grantVersion = 0;
  uint32_t viewVersion = 0;
};

struct ChildAccess {
  bool visible = false;
  bool writable = false;
};

// The parent kind of a child kind: calendars for events, categories for contacts.
RecordKind ParentKindOf(RecordKind childKind);

ParentAccess AccessToParent(Storage& storage, int64_t account, const StoredRecord& parent);
ChildAccess AccessToChild(Storage& storage, int64_t account, const StoredRecord& child);

}  // namespace brontel::server
