// CategoryServerTransformation: one server pass of a contact synchronization.
// It keeps the server shadow (a CategoryManager mirroring the server as of the
// last exchange, ids in its records are server ids), sends the local changes
// relative to the shadow as one request, lets the responder apply the server's
// answer to the shadow, and merges the shadow into the cache (the share
// update): subscribed categories follow the server, and what the user changed
// inside read-only categories is undone and reported as user notices. The API
// object runs a first pass that only fetches the server's changes and a second
// that also sends the local ones, each with a fresh engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/core/enumerations.h"
#include "brontel/core/log_able.h"

namespace brontel {

class LogList;
class TimeLogger;
class UserNoticeManager;
class XmlRequestor;

class CategoryServerTransformation : public LogAble {
 public:
  static constexpr char kLogNodeName[] = "CategoryServerTransformationLog";

  // The first pass, an empty cache and an empty shadow, no user, no time
  // logger, no notices.
  CategoryServerTransformation();
  // Copies share the cache and managers; Clone() copies them.
  CategoryServerTransformation(const CategoryServerTransformation& other);
  CategoryServerTransformation& operator=(const CategoryServerTransformation& other);
  ~CategoryServerTransformation() override;

  // The fields the API object sets before the pass and reads back after it.
  bool IsSecondPass() const { return m_pass != 0; }
  void SetSecondPass(bool second) { m_pass = second ? 1 : 0; }
  const std::string& GetUser() const { return m_user; }
  void SetUser(const std::string& user) { m_user = user; }
  CategoryCache GetCache() const { return m_cache; }
  void SetCache(const CategoryCache& cache) { m_cache = cache; }
  CategoryManager GetServerShadow() const { return m_serverShadow; }
  void SetServerShadow(const CategoryManager& shadow) { m_serverShadow = shadow; }
  // Keeps clones of the cache and the shadow as they are now, for the
  // before/after display.
  void KeepBefore();
  void SetTimeLogger(TimeLogger* timeLogger) { m_timeLogger = timeLogger; }
  // Where renames and undone edits are reported; may be null.
  void SetUserNotices(UserNoticeManager* notices) { m_userNotices = notices; }

  const std::string& GetRequest() const { return m_request; }
  const std::string& GetResponse() const { return m_response; }
  int32_t SyncConflicts() const { return m_conflicts; }
  const std::string& GetErrorMessage() const { return m_errorMessage; }
  // Every record the share update adds is stamped with it.
  BR_SOURCE GetSource() const { return SOURCE_SERVER; }

  // Runs the pass: builds the request, and when send is true sends it to the
  // server of the settings; when send is false, the response already held (a
  // logged exchange) is applied instead. The first pass always asks for the
  // server's update; a second pass with nothing to send returns ERR_NONE
  // without contacting the server and leaves cache and shadow as they were. A
  // second pass whose shadow is behind the cache returns ERR_NO_SERVER_UPDATE
  // before anything is sent. Transport and parse errors come back with the
  // requestor's message, and then the share update does not run. log and
  // callback may be null.
  br_error SyncServer(LogList* log, const char* directory, SyncProgressCallback callback,
                      bool send);

  // A copy whose cache and managers are clones.
  CategoryServerTransformation Clone() const;
  bool SanityCheck() const;

  // "Category Server Tranformation".
  std::string GetDisplayString() const override;
  // "cache before", "server before", "server after" and "cache after %d
  // conflicts (%s)".
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
  // Replays the pass on a clone with the logged response, sending nothing.
  void Activate(int32_t mode, const std::string& argument) override;

 private:
  // Each request step returns the number of requests it added.
  int32_t requestCategorySync(CategoryManager& local, CategoryManager& shadow,
                              XmlRequestor& requestor);
  int32_t requestContactSync(CategoryManager& local, CategoryManager& shadow,
                             XmlRequestor& requestor);
  // Each share-update step returns the conflicts it found.
  int32_t shareUpdate(CategoryCache& cache, CategoryManager& shadow);
  int32_t shareUpdateCategories(CategoryCache& cache, CategoryManager& shadow);
  int32_t shareUpdateContacts(CategoryCache& cache, CategoryManager& shadow);
  int32_t shareUpdateContactLinks(CategoryCache& cache, CategoryManager& shadow);
  int32_t shareUpdateReadOnlyCategories(CategoryCache& cache, CategoryManager& shadow);
  void timeLogBegin(const std::string& label);
  void timeLogEnd();

  CategoryCache m_cacheBefore;
  CategoryManager m_serverBefore;
  CategoryCache m_cache;
  CategoryManager m_serverShadow;
  std::string m_request;
  std::string m_response;
  std::string m_user;
  int32_t m_pass = 0;
  int32_t m_conflicts = 0;
  std::string m_errorMessage;
  TimeLogger* m_timeLogger = nullptr;
  UserNoticeManager* m_userNotices = nullptr;
};

}  // namespace brontel
