// CalendarTransformation: merges one client's calendars and events (main: the
// desktop's or the handheld's copy) with the shared calendar cache, using the
// shadow (the cache as of this client's last synchronization) to tell records
// new on one side from records deleted on the other. Records both sides hold
// are reconciled by their own three-way Sync, and where neither side's story is
// clear a record becomes a conflict. SyncClient changes cache and main in place,
// leaves a clone of the cache as the new shadow and returns the conflicts made.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/log_able.h"

namespace brontel {

class UserNoticeManager;

class CalendarTransformation : public LogAble {
 public:
  static constexpr char kLogNodeName[] = "CalendarTransformationLog";

  // Desktop, not first time, an empty cache and two empty managers, no user
  // notices, no global-id failure, not yet run.
  CalendarTransformation();
  // Copies share the managers; Clone() copies them.
  CalendarTransformation(const CalendarTransformation& other);
  CalendarTransformation& operator=(const CalendarTransformation& other);
  ~CalendarTransformation() override;

  // The fields the API object sets before the run and reads back after it.
  bool IsHandheld() const { return m_handheld; }
  void SetHandheld(bool handheld) { m_handheld = handheld; }
  bool IsFirstTime() const { return m_firstTime; }
  void SetFirstTime(bool firstTime) { m_firstTime = firstTime; }
  CalendarCache GetCache() const { return m_cache; }
  void SetCache(const CalendarCache& cache) { m_cache = cache; }
  CalendarManager GetMain() const { return m_main; }
  void SetMain(const CalendarManager& main) { m_main = main; }
  CalendarManager GetShadow() const { return m_shadow; }
  void SetShadow(const CalendarManager& shadow) { m_shadow = shadow; }
  // A caller that drops the cache once it is stored may take the cache's own
  // manager as the new shadow instead of a copy of it: SyncClient then leaves
  // GetShadow() and GetCache() sharing that manager. Off by default.
  void SetShadowSharesCache(bool shares) { m_shadowSharesCache = shares; }
  UserNoticeManager* GetUserNotices() const { return m_userNotices; }
  void SetUserNotices(UserNoticeManager* notices) { m_userNotices = notices; }
  // True when the cache and main belong to different accounts.
  bool HasGlobalIdFailure() const { return m_globalIdFailure; }
  void SetGlobalIdFailure(bool failure) { m_globalIdFailure = failure; }
  // True until SyncClient has run.
  bool IsNotYetRun() const { return m_notYetRun; }
  void SetNotYetRun(bool notYetRun) { m_notYetRun = notYetRun; }

  // SOURCE_HANDHELD for the handheld, SOURCE_DESKTOP otherwise; every record
  // the engine adds or reconciles is stamped with it.
  BR_SOURCE GetSource() const { return m_handheld ? SOURCE_HANDHELD : SOURCE_DESKTOP; }

  // Runs the synchronization once and returns the number of conflicts created.
  // A null main or shadow is taken as an empty manager.
  int32_t SyncClient();

  // A copy whose cache, main and shadow are clones (for before/after logs).
  CalendarTransformation Clone() const;
  // The cache, main and shadow each pass their own check.
  bool SanityCheck() const;

  // "Calendar Tranformation Handheld First Time", "... Handheld" or "... Desktop".
  std::string GetDisplayString() const override;
  // The display string with the cache, main and shadow under "cache", "main"
  // and "shadow", labelled " before" or " after" and " guid failure".
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Flags (handheld, first time, global-id failure, not yet run), then the
  // cache's, main's and shadow's object records; for diagnostic logs.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
  // Mode 0 before the run: replays SyncClient on a clone (a viewer's action).
  void Activate(int32_t mode, const std::string& argument) override;

 private:
  // Each step returns the conflicts it created.
  bool synchronizeGids();
  void synchronizeDateBookIds();
  void synchronizePulsecastURL();
  int32_t synchronizeCalendars();
  int32_t synchronizeEvents();
  void rekeyReturnedEvents();
  int32_t synchronizeCalendarEvents();

  bool m_handheld = false;
  bool m_firstTime = false;
  CalendarCache m_cache;
  CalendarManager m_main;
  CalendarManager m_shadow;
  UserNoticeManager* m_userNotices = nullptr;
  bool m_globalIdFailure = false;
  bool m_notYetRun = true;
  bool m_shadowSharesCache = false;
};

}  // namespace brontel
