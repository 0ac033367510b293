// SqliteStorage: the Storage of one SQLite database file (or ":memory:").
// Opening creates the schema when it is missing, with the version counter
// starting at 0x1f4 and server ids at 0x65; statements are prepared once and
// reused. One object serves one thread at a time.
#pragma once

#include <map>
#include <string>

#include "server/storage.h"

struct sqlite3;
struct sqlite3_stmt;

namespace brontel::server {

class SqliteStorage : public Storage {
 public:
  // Opens or creates the database; throws StorageError when it cannot.
  explicit SqliteStorage(const std::string& path);
  ~SqliteStorage() override;
  SqliteStorage(const SqliteStorage&) = delete;
  SqliteStorage& operator=(const SqliteStorage&) = delete;

  void Begin() override;
  void Commit() override;
  void Rollback() override;

  uint32_t GetCounter() override;
  void SetCounter(uint32_t counter) override;
  uint32_t NextSid() override;

  std::optional<Account> FindAccountByName(const std::string& username) override;
  std::optional<Account> FindAccountByGid(const UID128& gid) override;
  int64_t AddAccount(const Account& account) override;
  uint32_t GetEpoch(int64_t account, Family family) override;

  std::optional<StoredRecord> FindRecord(RecordKind kind, uint32_t sid) override;
  std::vector<StoredRecord> RecordsOwnedBy(RecordKind kind, int64_t owner) override;
  std::vector<StoredRecord> LiveRecordsByFid(RecordKind kind, int64_t owner, uint32_t fid) override;
  void PutRecord(const StoredRecord& record) override;

  std::vector<StoredLink> LinksOf(RecordKind childKind, uint32_t childSid) override;
  std::vector<StoredLink> LinksTo(RecordKind childKind, uint32_t parentSid) override;
  void PutLink(const StoredLink& link) override;

  std::vector<Grant> GrantsTo(int64_t subscriber, RecordKind kind) override;
  std::optional<Grant> FindGrant(RecordKind kind, uint32_t sid, int64_t subscriber) override;
  void PutGrant(const Grant& grant) override;

  void AddClick(uint32_t eventSid) override;
  uint32_t ClickCount(uint32_t eventSid) override;

 private:
  class Statement;

  // The prepared statement for sql, reset and ready for binding.
  sqlite3_stmt* Prepare(const char* sql);
  void Execute(const char* sql);
  [[noreturn]] void Fail(const std::string& what);
  uint32_t GetSetting(const char* name);
  void SetSetting(const char* name, uint32_t value);

  sqlite3* m_db = nullptr;
  std::map<std::string, sqlite3_stmt*> m_statements;
};

}  // namespace brontel::server
