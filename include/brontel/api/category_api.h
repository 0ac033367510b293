// CategoryApi: the object through which a desktop program synchronizes its
// contact categories and contacts with the cache in one directory.
//
// A handle to a shared holder bound to one cache directory. Each entry point
// takes the directory's contact lock file, reads the cache (and a shadow), runs
// the engine on the caller's records (GetCategoryManager), writes the files
// back atomically and returns a br_error with a stored error text. A file that
// exists but cannot be read stops the entry point with ERR_DAMAGED_FILE before
// anything changes; a cache that cannot be written gives ERR_WRITE_FAILED and
// the shadows stay in step with the old cache. A handheld copy with more than
// 15 categories gives ERR_TOO_MANY_CATEGORIES and changes no file.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

#include "brontel/api/api_object.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/handle.h"
#include "brontel/core/uid128.h"

namespace brontel {

class CategoryApiHolder;

class CategoryApi : public Handle<CategoryApiHolder>, public ApiObject {
 public:
  // File names in the cache directory.
  static constexpr char kCacheFile[] = "cache2_m.pft";
  static constexpr char kHandheldShadowFile[] = "cache2_h.pfu";
  static constexpr char kServerShadowFile[] = "cache2_w.pfu";
  static constexpr char kLockFile[] = "cachecon.lck";

  // An object without directory (a target for assignment).
  CategoryApi();
  // An object bound to directory; user names the account's user.
  CategoryApi(const std::string& directory, const std::string& user);
  CategoryApi(const CategoryApi& other);
  CategoryApi& operator=(const CategoryApi& other);
  ~CategoryApi() override;

  br_error SyncDesktop();
  br_error SyncHandheld();
  // Backs up and discards the cache and shadows, then rebuilds from the
  // handheld's records.
  br_error SyncHandheldOverideDesktop();
  // Not available for contacts: ERR_NOT_IMPLEMENTED, nothing touched.
  br_error SyncDesktopOverideHandheld();
  // Two server passes: the first fetches the server's changes, the second
  // sends the local ones; a failing first pass ends the synchronization and
  // keeps the server shadow file as it was. The callback (may be null) sees
  // 0, 1 and 2, then each pass's stages, then 7 in any case.
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

  CategoryManager GetCategoryManager() const;
  const std::string& GetUser() const;

  CategoryApi Clone() const;
  bool SanityCheck() const;

 private:
  explicit CategoryApi(CategoryApiHolder* adopted);
  ApiObjectHolder* apiHolder() const override;
  friend class CategoryApiHolder;
};

}  // namespace brontel
