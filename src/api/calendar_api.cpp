#include "brontel/api/calendar_api.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#include "api_files.h"
#include "api_object_holder.h"
#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar_classes.h"
#include "brontel/core/log_file.h"
#include "brontel/host/registry.h"
#include "brontel/host/time_logger.h"
#include "brontel/platform/archive_file.h"
#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_lock.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "brontel/sync/calendar_server_transformation.h"
#include "brontel/sync/calendar_transformation.h"
#include "family_files.h"
#include "gid_propagation.h"
#include "server_sync.h"

namespace brontel {

// Logging bit 2 logs the engines' inputs and outputs and names files per pass.
constexpr int32_t kLogRecords = 2;

const ApiFamily kCalendarFamily{"CalendarApi",
                                CalendarApi::kLockFile,
                                CalendarApi::kCacheFile,
                                CalendarApi::kHandheldShadowFile,
                                CalendarApi::kServerShadowFile,
                                "time_log%s.txt",
                                "slog%.4x%s%s.pff",
                                kLogRecords,
                                "contact cache",
                                TakeGIDFromCalendars};

class CalendarApiHolder : public ApiObjectHolder {
  BRONTEL_DECLARE_SERIAL()

 public:
  CalendarApiHolder() : ApiObjectHolder(kCalendarFamily) {}
  void Serialize(Archive& ar) override;
  static CalendarApiHolder* Of(const CalendarApi& api) { return api.Live(); }

  br_error readCache(CalendarCache& cache, bool logBefore);
  br_error writeCache(CalendarCache& cache, bool logAfter, bool propagateGID);
  br_error readShadowHandheld();
  br_error writeShadowHandheld();
  br_error syncServerInternal(int32_t pass, SyncProgressCallback callback,
                              ServerPassState<CalendarCache, CalendarManager>& state);

  CalendarManager m_calendarManager = CalendarManager::CreateEmpty();
  CalendarManager m_handheldShadow = CalendarManager::CreateEmpty();
  bool m_handheldShadowLoaded = false;
  // The desktop's reference: the cache as the last desktop pass of this object
  // left it. Kept apart from the handheld shadow, so that an object that syncs
  // the desktop and then the handheld never takes the one for the other.
  CalendarManager m_desktopShadow = CalendarManager::CreateEmpty();
  std::string m_revision;
};

BRONTEL_IMPLEMENT_SERIAL(CalendarApiHolder, "CalendarApiHolder");

void CalendarApiHolder::Serialize(Archive& ar) {
  // A diagnostic form; no file of the cache directory uses it.
  serializeState(ar);
  m_calendarManager.SerializeQuick(ar, Archive::kNoSchema);
  m_handheldShadow.SerializeQuick(ar, Archive::kNoSchema);
}

br_error CalendarApiHolder::readCache(CalendarCache& cache, bool logBefore) {
  return ReadCache(*this, cache, logBefore);
}

br_error CalendarApiHolder::writeCache(CalendarCache& cache, bool logAfter, bool propagateGID) {
  return WriteCache(*this, cache, logAfter, propagateGID);
}

br_error CalendarApiHolder::readShadowHandheld() {
  return ReadHandheldShadow(*this, m_handheldShadow, &m_handheldShadowLoaded);
}

br_error CalendarApiHolder::writeShadowHandheld() {
  return WriteHandheldShadow(*this, m_handheldShadow);
}

br_error CalendarApiHolder::syncServerInternal(
    int32_t pass, SyncProgressCallback callback,
    ServerPassState<CalendarCache, CalendarManager>& state) {
  static constexpr const char* kPassLetters[CalendarServerTransformation::kPassCount] = {"v", "c",
                                                                                         "e", "d"};
  CalendarServerTransformation engine;
  engine.SetPass(pass);
  engine.SetRevision(m_revision);
  return RunServerPass<CalendarCache, CalendarManager>(*this, engine, pass, kPassLetters[pass],
                                                       m_revision, callback, state);
}

// ---- the handle ----

CalendarApi::CalendarApi() : Handle(new CalendarApiHolder()) {}
CalendarApi::CalendarApi(CalendarApiHolder* adopted) : Handle(adopted) {}
CalendarApi::CalendarApi(const CalendarApi& other) = default;
CalendarApi& CalendarApi::operator=(const CalendarApi& other) = default;
CalendarApi::~CalendarApi() = default;

CalendarApi::CalendarApi(const std::string& directory, const std::string& revision)
    : Handle(new CalendarApiHolder()) {
  InitBrontelDLL();
  m_holder->m_revision = revision;
  m_holder->Open(directory);
}

ApiObjectHolder* CalendarApi::apiHolder() const {
  return Live();
}

namespace {

struct ClientSync {
  bool handheld;
  bool firstTime;
  const char* label;
  const char* logBefore;
  const char* logAfter;
};

}  // namespace

// Forgets, in every record of manager, the cache ids first..end that a failed
// write never stored.
static void ForgetIds(const CalendarManager& manager, uint32_t first, uint32_t end) {
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (calendars[i].IsNull()) continue;
    ForgetCacheId(calendars[i].GetRecordIdentification(), first, end);
    const CalendarEventList& links = calendars[i].GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      if (!links[j].IsNull()) ForgetCacheId(links[j].GetRecordIdentification(), first, end);
    }
  }
  EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsNull()) ForgetCacheId(events[i].GetRecordIdentification(), first, end);
  }
  events.DropIndexes();
}

static br_error RunClientSyncLocked(CalendarApiHolder* h, const ClientSync& how) {
  h->m_suffix = how.handheld ? "_palm" : "_desk";
  h->checkRegistryFlags();
  h->TimeLogBegin(how.label);
  std::unique_ptr<FileLock> lock = h->takeLock();
  h->m_conflicts = 0;
  auto finish = [&](br_error result) {
    h->TimeLogEnd(how.label);
    return result;
  };

  CalendarCache cache;
  br_error result = h->readCache(cache, false);
  if (result != ERR_NONE) return finish(result);
  // The shadow this pass starts from; the one in memory changes only once the
  // cache is written.
  CalendarManager shadow;
  if (how.firstTime) {
    shadow = CalendarManager::CreateEmpty();
  } else if (how.handheld) {
    result = h->readShadowHandheld();
    if (result != ERR_NONE) return finish(result);
    shadow = h->m_handheldShadow.Clone();
  } else {
    shadow = h->m_desktopShadow.Clone();
  }
  const uint32_t firstNewId = cache.GetSequence();

  CalendarTransformation engine;
  engine.SetHandheld(how.handheld);
  engine.SetFirstTime(how.firstTime);
  engine.SetUserNotices(&h->m_notices);
  engine.SetCache(cache);
  engine.SetMain(h->m_calendarManager);
  engine.SetShadow(shadow);
  // Each pass starts from a copy of the shadow and the cache goes once it is
  // written, so the new shadow can be the written cache's own manager.
  engine.SetShadowSharesCache(true);
  if (h->IsLoggingRecords()) h->m_log.Log(how.logBefore, engine.Clone());

  h->m_conflicts += engine.SyncClient();
  h->m_calendarManager = engine.GetMain();
  if (engine.HasGlobalIdFailure()) {
    result = ERR_CONFLICTING_ACCOUNTS;
    h->m_errorMessage = "Conflicting user accounts encountered.";
  }
  if (h->IsLoggingRecords()) h->m_log.Log(how.logAfter, engine.Clone());

  CalendarCache merged = engine.GetCache();
  br_error written = h->writeCache(merged, false, true);
  if (written != ERR_NONE) {
    // The ids this pass handed out were never stored: the next pass hands them
    // out again, so the caller's records must not keep them.
    ForgetIds(h->m_calendarManager, firstNewId, merged.GetSequence());
    return finish(written);
  }
  if (!how.handheld) {
    h->m_desktopShadow = engine.GetShadow();
    return finish(result);
  }
  if (how.firstTime) h->m_handheldShadowLoaded = true;
  h->m_handheldShadow = engine.GetShadow();
  {
    written = h->writeShadowHandheld();
    if (written != ERR_NONE) return finish(written);
  }
  return finish(result);
}

// One client pass; an account id the cache took goes to the contact cache once
// the lock is released.
static br_error RunClientSync(CalendarApiHolder* h, const ClientSync& how) {
  const br_error result = RunClientSyncLocked(h, how);
  PassPendingGID(*h, false);
  return result;
}

br_error CalendarApi::SyncDesktop() {
  return RunClientSync(Live(), {false, false, "SyncDesktop", "desktop transaction before",
                                "desktop transaction after"});
}

br_error CalendarApi::SyncHandheld() {
  return RunClientSync(Live(), {true, false, "SyncHandheld", "handheld transaction before",
                                "handheld transaction after"});
}

br_error CalendarApi::SyncHandheldFirstTime() {
  return RunClientSync(
      Live(), {true, true, "SyncHandheldFirstTime", "first time handheld transaction before",
               "first time handheld transaction after"});
}

br_error CalendarApi::SyncHandheldOverideDesktop() {
  CalendarApiHolder* h = Live();
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
      h->m_handheldShadow = CalendarManager::CreateEmpty();
      h->m_handheldShadowLoaded = true;
    }
  }
  if (result == ERR_NONE) result = SyncHandheld();
  h->TimeLogEnd("SyncHandheldOverideDesktop");
  return result;
}

br_error CalendarApi::SyncDesktopOverideHandheld() {
  CalendarApiHolder* h = Live();
  h->m_suffix = "_palm";
  h->checkRegistryFlags();
  h->TimeLogBegin("SyncDesktopOverideHandheld");
  std::unique_ptr<FileLock> lock = h->takeLock();
  h->m_conflicts = 0;
  CalendarCache cache;
  br_error result = h->readCache(cache, true);
  if (result == ERR_NONE) {
    if (h->IsLoggingRecords()) {
      h->m_log.Log("....desktop override handheld", h->m_calendarManager.Clone());
    }
    CalendarManager copy = cache.GetCalendarManager().Clone();
    copy.SetClean();
    h->m_calendarManager = copy;
    // The shadow is what the handheld will hold after this: the same clean
    // copy, kept apart so that the caller's later edits do not reach it.
    h->m_handheldShadow = copy.Clone();
    h->m_handheldShadowLoaded = true;
    result = h->writeShadowHandheld();
  }
  h->TimeLogEnd("SyncDesktopOverideHandheld");
  return result;
}

br_error CalendarApi::SyncHandheldPreloadForFastSync() {
  CalendarApiHolder* h = Live();
  br_error result = h->readShadowHandheld();
  if (result != ERR_NONE) return result;
  // The caller's records become a copy of this shadow, so the next
  // SyncHandheld must compare them with this shadow and no other. Without a
  // shadow file both start empty: were the shadow left unloaded, SyncHandheld
  // would read a shadow file written in between (by another conduit run, or
  // by SyncDesktopOverideHandheld) and take every record of it that the
  // caller lacks for deleted on the handheld. The lock is not needed for
  // that: the shadow file is replaced atomically, so the read takes one whole
  // version, and records and shadow stay a pair whichever it is.
  h->m_handheldShadowLoaded = true;
  CalendarManager copy = h->m_handheldShadow.Clone();
  copy.SetClean();
  h->m_calendarManager = copy;
  if (h->IsLoggingRecords()) h->m_log.Log("....handheld preload", copy.Clone());
  return ERR_NONE;
}

br_error CalendarApi::SyncServer(SyncProgressCallback callback) {
  CalendarApiHolder* h = Live();
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
    h->m_conflicts = 0;
    ServerPassState<CalendarCache, CalendarManager> state;
    for (int32_t pass = 0; pass < CalendarServerTransformation::kPassCount && result == ERR_NONE;
         ++pass) {
      result = h->syncServerInternal(pass, callback, state);
    }
    h->m_suffix = savedSuffix;
    h->TimeLogEnd("SyncServer");
    ReportSyncProgress(callback, allDoneNow, timeLogger);
  }
  PassPendingGID(*h, false);
  return result;
}

bool CalendarApi::RequestGIDFromServer(const std::string& user, const std::string& password) {
  CalendarApiHolder* h = Live();
  // Like SetGID, false while the contact cache does not carry the account id.
  if (!RequestServerGID<CalendarCache>(*h, h->m_calendarManager, user, password)) return false;
  return ConfirmGIDPassed(*h, true);
}

UID128 CalendarApi::GetGID() const {
  return Live()->m_calendarManager.GetGID();
}
bool CalendarApi::HasGID() const {
  return !GetGID().IsZero();
}

bool CalendarApi::HasCacheGID() {
  return TakeCacheGID<CalendarCache>(*Live(), Live()->m_calendarManager);
}

bool CalendarApi::SetGID(const UID128& gid) {
  return SetCacheGID<CalendarCache>(*Live(), Live()->m_calendarManager, gid);
}

void CalendarApi::updateGID(const UID128& gid) {
  UpdateCacheGID<CalendarCache>(*Live(), gid, nullptr);
}

bool CalendarApi::updateGID(const UID128& gid, std::chrono::milliseconds lockWait) {
  return UpdateCacheGID<CalendarCache>(*Live(), gid, &lockWait);
}

GIDPass TakeGIDFromContacts(const std::string& directory, const UID128& gid) {
  CalendarApi calendars = BrontelAPI::CreateCalendarApi(directory, BrontelAPI::GetVersion());
  return GiveCacheGID<CalendarCache>(*CalendarApiHolder::Of(calendars), gid, kOtherFamilyLockWait);
}

CalendarManager CalendarApi::GetCalendarManager() const {
  return Live()->m_calendarManager;
}

CalendarApi CalendarApi::Clone() const {
  const CalendarApiHolder* h = Live();
  CalendarApi copy;
  CalendarApiHolder* c = copy.m_holder;
  c->m_handheldShadowLoaded = h->m_handheldShadowLoaded;
  c->m_gid = h->m_gid;
  c->m_suffix = h->m_suffix;
  c->m_directory = h->m_directory;
  c->m_revision = h->m_revision;
  c->m_calendarManager = h->m_calendarManager.Clone();
  c->m_handheldShadow = h->m_handheldShadow.Clone();
  c->m_desktopShadow = h->m_desktopShadow.Clone();
  c->m_conflicts = h->m_conflicts;
  c->m_errorMessage = h->m_errorMessage;
  return copy;
}

bool CalendarApi::SanityCheck() const {
  return Live()->m_calendarManager.SanityCheck() && Live()->m_handheldShadow.SanityCheck();
}

}  // namespace brontel
