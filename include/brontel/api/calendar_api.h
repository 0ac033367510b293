// CalendarApi: the object through which a desktop program synchronizes its
// calendars and events with the cache in one directory.
//
// A handle to a shared holder bound to one cache directory. Each entry point
// takes the directory's lock file, reads the cache (and a shadow), runs the
// engine on the caller's records (GetCalendarManager), writes the files back
// atomically and returns a br_error with a stored error text. A file that
// exists but cannot be read stops the entry point with ERR_DAMAGED_FILE before
// anything changes; a cache that cannot be written gives ERR_WRITE_FAILED and
// the shadows stay in step with the old cache.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "brontel/api/api_object.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/handle.h"
#include "brontel/core/log_list.h"
#include "brontel/core/uid128.h"
#include "brontel/host/user_notice_manager.h"

namespace brontel {

class CalendarApiHolder;
class TimeLogger;

class CalendarApi : public Handle<CalendarApiHolder>, public ApiObject {
 public:
  // File names in the cache directory.
  static constexpr char kCacheFile[] = "cache2_m.pfe";
  static constexpr char kHandheldShadowFile[] = "cache2_h.pfl";
  static constexpr char kServerShadowFile[] = "cache2_w.pfl";
  static constexpr char kLockFile[] = "cachecal.lck";

  // An object without directory (a target for assignment).
  CalendarApi();
  // An object bound to directory; revision is the caller's revision text.
  CalendarApi(const std::string& directory, const std::string& revision);
  CalendarApi(const CalendarApi& other);
  CalendarApi& operator=(const CalendarApi& other);
  ~CalendarApi() override;

  br_error SyncDesktop();
  br_error SyncHandheld();
  br_error SyncHandheldFirstTime();
  // Backs up and discards the cache and shadows, then rebuilds from the
  // handheld's records.
  br_error SyncHandheldOverideDesktop();
  // Replaces the caller's records with the cache's contents.
  br_error SyncDesktopOverideHandheld();
  // Loads the handheld shadow into the caller's records, without the lock.
  br_error SyncHandheldPreloadForFastSync();
  // Four server passes (0: clicks and the server's update, 1: calendars,
  // 2: events and placements, 3: deletions); the first failing pass ends the
  // synchronization and keeps the server shadow file as it was. The callback
  // (may be null) sees 0 and 1, then each pass's stages, then 7 in any case.
  br_error SyncServer(SyncProgressCallback callback);
  // Asks the server for an account id when the cache has none, for user and
  // password; true when the caller's records have an account id afterwards
  // (GetErrorMessage tells why not).
  bool RequestGIDFromServer(const std::string& user, const std::string& password);

  UID128 GetGID() const;
  bool HasGID() const;
  bool HasCacheGID();
  // Sets the account id when the cache has none; false when gid is empty or
  // differs from the cache's (the caller's records then take the cache's).
  bool SetGID(const UID128& gid);
  // Sets gid on the cache, without passing it on (called by the other family).
  void updateGID(const UID128& gid);
  // As updateGID, waiting at most lockWait for the lock; false when the lock
  // or the cache could not be had and nothing was written.
  bool updateGID(const UID128& gid, std::chrono::milliseconds lockWait);

  CalendarManager GetCalendarManager() const;

  CalendarApi Clone() const;
  bool SanityCheck() const;

 private:
  explicit CalendarApi(CalendarApiHolder* adopted);
  ApiObjectHolder* apiHolder() const override;
  friend class CalendarApiHolder;
};

}  // namespace brontel
