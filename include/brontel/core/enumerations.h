// The values shared by every layer: result codes of the synchronization entry
// points, the copy a record came from, and the stages of a server
// synchronization reported to the caller. BrontelAPI re-exports them.
#pragma once

#include <cstdint>

namespace brontel {

// Result of every synchronization entry point. 1, 3 and 12 are reserved.
// ERR_DAMAGED_FILE: a cache or shadow file exists but cannot be read; nothing
// was changed. ERR_WRITE_FAILED: the cache file could not be written; the
// shadows were kept in step with the old cache.
enum br_error : uint32_t {
  ERR_NONE = 0,
  ERR_XML_PARSE = 2,
  ERR_EMPTY_RESPONSE = 4,
  ERR_NO_CHILD_ELEMENTS = 5,
  ERR_WRONG_ROOT = 6,
  ERR_CONNECTION = 7,
  ERR_SERVER_QUERY = 8,
  ERR_NO_SERVER_UPDATE = 9,
  ERR_SERVER_FAILURE = 10,
  ERR_CONFLICTING_ACCOUNTS = 11,
  ERR_TOO_MANY_CATEGORIES = 13,
  ERR_NOT_IMPLEMENTED = 14,
  ERR_DAMAGED_FILE = 15,
  ERR_WRITE_FAILED = 16,
};

// The copy a record came from.
enum BR_SOURCE : uint32_t {
  SOURCE_NONE = 0,
  SOURCE_DESKTOP = 1,
  SOURCE_HANDHELD = 2,
  SOURCE_SERVER = 3,
};

// Stages of a server synchronization; 3 is never reported.
enum SyncCallBackProgress : uint32_t {
  justGettingStarted = 0,
  waitingForPriorSyncToComplete = 1,
  gettingSyncDataReady = 2,
  grabbingLatestChanges = 4,
  sendingChangesToServer = 5,
  syncingWithServerData = 6,
  allDoneNow = 7,
};

// The caller's progress callback; may be null.
using SyncProgressCallback = void (*)(SyncCallBackProgress stage);

}  // namespace brontel
