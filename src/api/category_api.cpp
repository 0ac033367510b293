#include "brontel/api/category_api.h"

#include "api_object_holder.h"
#include "brontel/api/brontel_api.h"
#include "brontel/platform/file_lock.h"
#include "brontel/sync/category_server_transformation.h"
#include "brontel/sync/category_transformation.h"
#include "family_files.h"
#include "gid_propagation.h"
#include "server_sync.h"

namespace brontel {

// Logging bit 4 logs the engines' inputs and outputs and names files per pass.
constexpr int32_t kLogRecords = 4;

const ApiFamily kContactFamily{"CategoryApi",
                               CategoryApi::kLockFile,
                               CategoryApi::kCacheFile,
                               CategoryApi::kHandheldShadowFile,
                               CategoryApi::kServerShadowFile,
                               "time_lcg%s.txt",
                               "clog%.4x%s%s.pff",
                               kLogRecords,
                               "calendar cache",
                               TakeGIDFromContacts};

class CategoryApiHolder : public ApiObjectHolder {
  BRONTEL_DECLARE_SERIAL()

 public:
  CategoryApiHolder() : ApiObjectHolder(kContactFamily) {}
  void Serialize(Archive& ar) override;
  static CategoryApiHolder* Of(const CategoryApi& api) { return api.Live(); }

  // One client pass; an account id the cache took goes to the calendar cache
  // once the lock is released.
  br_error syncClient(bool handheld) {
    const br_error result = syncClientLocked(handheld);
    PassPendingGID(*this, false);
    return result;
  }
  br_error syncClientLocked(bool handheld);
  br_error syncServerInternal(bool second, SyncProgressCallback callback,
                              ServerPassState<CategoryCache, CategoryManager>& state);

  CategoryManager m_categoryManager = CategoryManager::CreateEmpty();
  CategoryManager m_handheldShadow = CategoryManager::CreateEmpty();
  bool m_handheldShadowLoaded = false;
  // The desktop's reference: the cache as the last desktop pass of this object
  // left it, kept apart from the handheld shadow so that a desktop pass never
  // serves as the handheld's reference or the reverse.
  CategoryManager m_desktopShadow = CategoryManager::CreateEmpty();
  std::string m_user;
};

BRONTEL_IMPLEMENT_SERIAL(CategoryApiHolder, "CategoryApiHolder");

void CategoryApiHolder::Serialize(Archive& ar) {
  // A diagnostic form; no file of the cache directory uses it.
  serializeState(ar);
  m_categoryManager.SerializeQuick(ar, Archive::kNoSchema);
  m_handheldShadow.SerializeQuick(ar, Archive::kNoSchema);
}

// Forgets, in every record of manager, the cache ids first..end that a failed
// write never stored.
static void ForgetIds(const CategoryManager& manager, uint32_t first, uint32_t end) {
  CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (!categories[i].IsNull()) {
      ForgetCacheId(categories[i].GetRecordIdentification(), first, end);
    }
  }
  ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (!contacts[i].IsNull()) ForgetCacheId(contacts[i].GetRecordIdentification(), first, end);
  }
  categories.DropIndexes();
  contacts.DropIndexes();
}

br_error CategoryApiHolder::syncClientLocked(bool handheld) {
  const char* label = handheld ? "SyncHandheld" : "SyncDesktop";
  m_suffix = handheld ? "_palm" : "_desk";
  checkRegistryFlags();
  TimeLogBegin(label);
  std::unique_ptr<FileLock> lock = takeLock();
  m_conflicts = 0;
  auto finish = [&](br_error result) {
    TimeLogEnd(label);
    return result;
  };

  CategoryCache cache;
  br_error result = ReadCache(*this, cache, false);
  if (result != ERR_NONE) return finish(result);
  // The shadow this pass starts from; the one in memory changes only once the
  // cache is written. A desktop copy that never synchronized has no handheld
  // history to compare with.
  CategoryManager shadow;
  if (handheld) {
    result = ReadHandheldShadow(*this, m_handheldShadow, &m_handheldShadowLoaded);
    if (result != ERR_NONE) return finish(result);
    shadow = m_categoryManager.GetVersion() == Versioning::InValidVersion()
                 ? CategoryManager::CreateEmpty()
                 : m_handheldShadow.Clone();
  } else {
    shadow = m_desktopShadow.Clone();
  }
  const uint32_t firstNewId = cache.GetSequence();

  CategoryTransformation engine;
  engine.SetHandheld(handheld);
  engine.SetUserNotices(&m_notices);
  engine.SetCache(cache);
  engine.SetMain(m_categoryManager);
  engine.SetShadow(shadow);
  // Unlike the calendar side, the new shadow stays a copy of the cache's
  // manager: measured with glibc's allocator, the next synchronizations work
  // faster on a contact manager laid out afresh by the copy than on the one
  // read from the file, by about what the copy costs.
  if (IsLoggingRecords()) {
    m_log.Log(handheld ? "handheld transaction before" : "desktop transaction before",
              engine.Clone());
  }
  m_conflicts += engine.SyncClient();
  m_categoryManager = engine.GetMain();
  if (engine.HasGlobalIdFailure()) {
    result = ERR_CONFLICTING_ACCOUNTS;
    m_errorMessage = "Conflicting user accounts encountered.";
  } else if (engine.HasCategoryLimit()) {
    result = ERR_TOO_MANY_CATEGORIES;
    m_errorMessage = "More than 15 categories encountered.";
  }
  if (IsLoggingRecords()) {
    m_log.Log(handheld ? "handheld transaction after" : "desktop transaction after",
              engine.Clone());
  }
  if (engine.HasCategoryLimit()) {
    // Nothing is written: the next synchronization starts from the old files.
    m_suffix += " _LIM15";
    return finish(result);
  }

  CategoryCache merged = engine.GetCache();
  br_error written = WriteCache(*this, merged, false, true);
  if (written != ERR_NONE) {
    // The ids this pass handed out were never stored: the next pass hands them
    // out again, so the caller's records must not keep them.
    ForgetIds(m_categoryManager, firstNewId, merged.GetSequence());
    return finish(written);
  }
  if (!handheld) {
    m_desktopShadow = engine.GetShadow();
    return finish(result);
  }
  m_handheldShadow = engine.GetShadow();
  m_handheldShadowLoaded = true;
  written = WriteHandheldShadow(*this, m_handheldShadow);
  return finish(written != ERR_NONE ? written : result);
}

br_error CategoryApiHolder::syncServerInternal(
    bool second, SyncProgressCallback callback,
    ServerPassState<CategoryCache, CategoryManager>& state) {
  CategoryServerTransformation engine;
  engine.SetSecondPass(second);
  engine.SetUser(m_user);
  return RunServerPass<CategoryCache, CategoryManager>(*this, engine, second ? 1 : 0,
                                                       second ? "c" : "v", m_user, callback, state);
}

// ---- the handle ----

CategoryApi::CategoryApi() : Handle(new CategoryApiHolder()) {}
CategoryApi::CategoryApi(CategoryApiHolder* adopted) : Handle(adopted) {}
CategoryApi::CategoryApi(const CategoryApi& other) = default;
CategoryApi& CategoryApi::operator=(const CategoryApi& other) = default;
CategoryApi::~CategoryApi() = default;

CategoryApi::CategoryApi(const std::string& directory, const std::string& user)
    : Handle(new CategoryApiHolder()) {
  InitBrontelDLL();
  m_holder->m_user = user;
  m_holder->Open(directory);
}

ApiObjectHolder* CategoryApi::apiHolder() const {
  return Live();
}

br_error CategoryApi::SyncDesktop() {
  return Live()->syncClient(false);
}

br_error CategoryApi::SyncHandheld() {
  return Live()->syncClient(true);
}

br_error CategoryApi::SyncHandheldOverideDesktop() {
  CategoryApiHolder* h = Live();
  h->m_suffix = "_palm";
  h->checkRegistryFlags();
  h->TimeLogBegin("SyncHandheldOverideDesktop");
  br_error result = ERR_NONE;
  {
    std::unique_ptr<FileLock> lock = h->takeLock();
    result = h->discardFilesAfterBackup();
    if (result == ERR_NONE) {
      // The rebuild starts from nothing: a shadow already in memory would
      // make the empty cache delete every unchanged handheld record.
      h->m_handheldShadow = CategoryManager::CreateEmpty();
      h->m_handheldShadowLoaded = true;
    }
  }
  if (result == ERR_NONE) result = SyncHandheld();
  h->TimeLogEnd("SyncHandheldOverideDesktop");
  return result;
}

br_error CategoryApi::SyncDesktopOverideHandheld() {
  Live()->m_errorMessage = "Feature not implemented";
  return ERR_NOT_IMPLEMENTED;
}

br_error CategoryApi::SyncServer(SyncProgressCallback callback) {
  CategoryApiHolder* h = Live();
  h->m_errorMessage.clear();
  h->checkRegistryFlags();
  h->TimeLogBegin("SyncServer");
  const std::string savedSuffix = h->m_suffix;
  if (h->IsLoggingRecords()) h->m_suffix += "_web";
  TimeLogger* timeLogger = h->m_timeLogger.get();
  ReportSyncProgress(callback, justGettingStarted, timeLogger);
  ReportSyncProgress(callback, waitingForPriorSyncToComplete, timeLogger);
  br_error result = ERR_NONE;
  {
    std::unique_ptr<FileLock> lock = h->takeLock();
    ReportSyncProgress(callback, gettingSyncDataReady, timeLogger);
    // Both passes add their conflicts: the second must not hide the first's.
    h->m_conflicts = 0;
    ServerPassState<CategoryCache, CategoryManager> state;
    result = h->syncServerInternal(false, callback, state);
    if (result == ERR_NONE) {
      if (h->IsLoggingRecords()) h->m_suffix += "x";
      result = h->syncServerInternal(true, callback, state);
    }
    h->m_suffix = savedSuffix;
    ReportSyncProgress(callback, allDoneNow, timeLogger);
    h->TimeLogEnd("SyncServer");
  }
  PassPendingGID(*h, false);
  return result;
}

bool CategoryApi::RequestGIDFromServer(const std::string& user, const std::string& password) {
  CategoryApiHolder* h = Live();
  // Like SetGID, false while the calendar cache does not carry the account id.
  if (!RequestServerGID<CategoryCache>(*h, h->m_categoryManager, user, password)) return false;
  return ConfirmGIDPassed(*h, true);
}

UID128 CategoryApi::GetGID() const {
  return Live()->m_categoryManager.GetGID();
}
bool CategoryApi::HasGID() const {
  return !GetGID().IsZero();
}

bool CategoryApi::HasCacheGID() {
  return TakeCacheGID<CategoryCache>(*Live(), Live()->m_categoryManager);
}

bool CategoryApi::SetGID(const UID128& gid) {
  return SetCacheGID<CategoryCache>(*Live(), Live()->m_categoryManager, gid);
}

void CategoryApi::updateGID(const UID128& gid) {
  UpdateCacheGID<CategoryCache>(*Live(), gid, nullptr);
}

bool CategoryApi::updateGID(const UID128& gid, std::chrono::milliseconds lockWait) {
  return UpdateCacheGID<CategoryCache>(*Live(), gid, &lockWait);
}

GIDPass TakeGIDFromCalendars(const std::string& directory, const UID128& gid) {
  CategoryApi contacts = BrontelAPI::CreateCategoryApi(directory, BrontelAPI::GetVersion());
  return GiveCacheGID<CategoryCache>(*CategoryApiHolder::Of(contacts), gid, kOtherFamilyLockWait);
}

CategoryManager CategoryApi::GetCategoryManager() const {
  return Live()->m_categoryManager;
}
const std::string& CategoryApi::GetUser() const {
  return Live()->m_user;
}

CategoryApi CategoryApi::Clone() const {
  const CategoryApiHolder* h = Live();
  CategoryApi copy;
  CategoryApiHolder* c = copy.m_holder;
  c->m_handheldShadowLoaded = h->m_handheldShadowLoaded;
  c->m_gid = h->m_gid;
  c->m_suffix = h->m_suffix;
  c->m_directory = h->m_directory;
  c->m_user = h->m_user;
  c->m_categoryManager = h->m_categoryManager.Clone();
  c->m_handheldShadow = h->m_handheldShadow.Clone();
  c->m_desktopShadow = h->m_desktopShadow.Clone();
  c->m_conflicts = h->m_conflicts;
  c->m_errorMessage = h->m_errorMessage;
  return copy;
}

bool CategoryApi::SanityCheck() const {
  return Live()->m_categoryManager.SanityCheck() && Live()->m_handheldShadow.SanityCheck();
}

}  // namespace brontel
