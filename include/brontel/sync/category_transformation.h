// CategoryTransformation: merges one client's contact data (main: the
// desktop's or the handheld's copy) with the shared contact cache, using the
// shadow (the cache as of this client's last synchronization) to tell records
// new on one side from records deleted on the other. Categories, then contacts,
// then the contacts' category links are merged; where neither side's story is
// clear a record becomes a conflict. A handheld may hold at most 15 filed
// categories: past that, SyncClient returns main as it was handed in and leaves
// the shadow alone. Otherwise it changes cache and main in place, leaves a clone
// of the cache as the new shadow and returns the conflicts found.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/log_able.h"

namespace brontel {

class UserNoticeManager;

class CategoryTransformation : public LogAble {
 public:
  static constexpr char kLogNodeName[] = "CategoryTransformationLog";
  // The most filed categories a handheld can hold.
  static constexpr int32_t kHandheldCategoryLimit = 15;

  // Desktop, an empty cache and two empty managers, no user notices, no flags
  // set, not yet run.
  CategoryTransformation();
  // Copies share the managers; Clone() copies them.
  CategoryTransformation(const CategoryTransformation& other);
  CategoryTransformation& operator=(const CategoryTransformation& other);
  ~CategoryTransformation() override;

  // The fields the API object sets before the run and reads back after it.
  bool IsHandheld() const { return m_handheld; }
  void SetHandheld(bool handheld) { m_handheld = handheld; }
  CategoryCache GetCache() const { return m_cache; }
  void SetCache(const CategoryCache& cache) { m_cache = cache; }
  CategoryManager GetMain() const { return m_main; }
  void SetMain(const CategoryManager& main) { m_main = main; }
  CategoryManager GetShadow() const { return m_shadow; }
  void SetShadow(const CategoryManager& shadow) { m_shadow = shadow; }
  // Where renames of subscribed categories in the cache are reported; may be
  // null.
  UserNoticeManager* GetUserNotices() const { return m_userNotices; }
  void SetUserNotices(UserNoticeManager* notices) { m_userNotices = notices; }
  // True when the cache and main belong to different accounts.
  bool HasGlobalIdFailure() const { return m_globalIdFailure; }
  void SetGlobalIdFailure(bool failure) { m_globalIdFailure = failure; }
  // True when the handheld would have held more filed categories than it can.
  bool HasCategoryLimit() const { return m_categoryLimit; }
  void SetCategoryLimit(bool limit) { m_categoryLimit = limit; }
  // True until SyncClient has run.
  bool IsNotYetRun() const { return m_notYetRun; }
  void SetNotYetRun(bool notYetRun) { m_notYetRun = notYetRun; }

  // SOURCE_HANDHELD for the handheld, SOURCE_DESKTOP otherwise; every record
  // the engine adds or reconciles is stamped with it.
  BR_SOURCE GetSource() const { return m_handheld ? SOURCE_HANDHELD : SOURCE_DESKTOP; }

  // Runs the synchronization once and returns the number of conflicts found.
  // A null main or shadow is taken as an empty manager.
  int32_t SyncClient();

  // A copy whose cache, main and shadow are clones (for before/after logs).
  CategoryTransformation Clone() const;
  // The cache, main and shadow each pass their own check.
  bool SanityCheck() const;

  // "Category Tranformation Handheld" or "Category Tranformation Desktop".
  std::string GetDisplayString() const override;
  // The display string (with " category limit" when the limit was hit) and
  // the cache, main and shadow under "cache", "main" and "shadow", labelled
  // " before" or " after" and " guid failure".
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Flags (handheld, global-id failure, category limit, not yet run), then the
  // cache's, main's and shadow's object records; for diagnostic logs.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
  // Mode 0 before the run: replays SyncClient on a clone (a viewer's action).
  void Activate(int32_t mode, const std::string& argument) override;

 private:
  // The merge steps; those that count return the conflicts they found.
  bool synchronizeGids();
  void resolveIdentity();
  int32_t synchronizeCategories();
  int32_t synchronizeContacts();
  int32_t synchronizeContactLinks();
  // True when main holds more filed categories than a handheld can.
  bool exceedsCategoryLimit() const;

  bool m_handheld = false;
  CategoryCache m_cache;
  CategoryManager m_main;
  CategoryManager m_shadow;
  UserNoticeManager* m_userNotices = nullptr;
  bool m_globalIdFailure = false;
  bool m_categoryLimit = false;
  bool m_notYetRun = true;
};

}  // namespace brontel
