#include "server/sqlite_storage.h"

#include <sqlite3.h>

namespace brontel::server {

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS settings(
  name TEXT PRIMARY KEY, value INTEGER NOT NULL);
INSERT OR IGNORE INTO settings(name, value) VALUES ('counter', 500), ('next_sid', 101);
CREATE TABLE IF NOT EXISTS accounts(
  id INTEGER PRIMARY KEY, username TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL, gid BLOB NOT NULL UNIQUE);
CREATE TABLE IF NOT EXISTS epochs(
  account INTEGER NOT NULL, family INTEGER NOT NULL, epoch INTEGER NOT NULL,
  PRIMARY KEY(account, family));
CREATE TABLE IF NOT EXISTS records(
  kind INTEGER NOT NULL, sid INTEGER NOT NULL, owner INTEGER NOT NULL,
  fid INTEGER NOT NULL, version INTEGER NOT NULL, deleted INTEGER NOT NULL,
  clone_of INTEGER NOT NULL, content BLOB NOT NULL, PRIMARY KEY(kind, sid));
-- Each query that lists rows in server-id order has an index that ends with
-- the order: without one, SQLite walks the primary key of the whole kind, in
-- order, rather than sort a few rows, and every insert then costs a scan of
-- every account's records. Databases made with the older indexes lose them.
DROP INDEX IF EXISTS records_by_owner;
CREATE INDEX IF NOT EXISTS records_by_owner_fid ON records(owner, kind, fid, sid);
CREATE INDEX IF NOT EXISTS records_by_owner_sid ON records(owner, kind, sid);
CREATE TABLE IF NOT EXISTS links(
  child_kind INTEGER NOT NULL, child_sid INTEGER NOT NULL, parent_sid INTEGER NOT NULL,
  version INTEGER NOT NULL, deleted INTEGER NOT NULL,
  PRIMARY KEY(child_kind, child_sid, parent_sid));
DROP INDEX IF EXISTS links_by_parent;
CREATE INDEX IF NOT EXISTS links_by_parent_child ON links(child_kind, parent_sid, child_sid);
CREATE TABLE IF NOT EXISTS grants(
  kind INTEGER NOT NULL, sid INTEGER NOT NULL, subscriber INTEGER NOT NULL,
  read_only INTEGER NOT NULL, hide_details INTEGER NOT NULL, version INTEGER NOT NULL,
  revoked INTEGER NOT NULL, PRIMARY KEY(kind, sid, subscriber));
DROP INDEX IF EXISTS grants_by_subscriber;
CREATE INDEX IF NOT EXISTS grants_by_subscriber_sid ON grants(subscriber, kind, sid);
CREATE TABLE IF NOT EXISTS clicks(
  eid INTEGER PRIMARY KEY, count INTEGER NOT NULL);
)sql";

constexpr const char* kRecordColumns =
    "SELECT kind, sid, owner, fid, version, deleted, clone_of, content FROM records ";

}  // namespace

// Binds parameters in order and steps one prepared statement; the statement is
// reset when this object goes.
class SqliteStorage::Statement {
 public:
  Statement(SqliteStorage& storage, const char* sql)
      : m_storage(storage), m_statement(storage.Prepare(sql)) {}
  ~Statement() {
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
  }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  Statement& Bind(int64_t value) {
    Check(sqlite3_bind_int64(m_statement, ++m_index, value));
    return *this;
  }
  Statement& BindBytes(const void* bytes, size_t size) {
    Check(sqlite3_bind_blob64(m_statement, ++m_index, bytes, size, SQLITE_TRANSIENT));
    return *this;
  }
  Statement& BindText(const std::string& text) {
    Check(sqlite3_bind_text64(m_statement, ++m_index, text.data(), text.size(), SQLITE_TRANSIENT,
                              SQLITE_UTF8));
    return *this;
  }
  // True while a row is available.
  bool Step() {
    int rc = sqlite3_step(m_statement);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    m_storage.Fail("step");
  }
  void Run() {
    while (Step()) {
    }
  }
  int64_t Integer(int column) { return sqlite3_column_int64(m_statement, column); }
  uint32_t Number(int column) { return static_cast<uint32_t>(Integer(column)); }
  std::string Bytes(int column) {
    const void* data = sqlite3_column_blob(m_statement, column);
    int size = sqlite3_column_bytes(m_statement, column);
    if (data == nullptr || size <= 0) return std::string();
    return std::string(static_cast<const char*>(data), static_cast<size_t>(size));
  }

  StoredRecord Record() {
    StoredRecord r;
    r.kind = static_cast<RecordKind>(Integer(0));
    r.sid = Number(1);
    r.owner = Integer(2);
    r.fid = Number(3);
    r.version = Number(4);
    r.deleted = Integer(5) != 0;
    r.cloneOf = Number(6);
    r.content = Bytes(7);
    return r;
  }
  StoredLink Link() {
    StoredLink l;
    l.childKind = static_cast<RecordKind>(Integer(0));
    l.childSid = Number(1);
    l.parentSid = Number(2);
    l.version = Number(3);
    l.deleted = Integer(4) != 0;
    return l;
  }
  Grant GrantRow() {
    Grant g;
    g.kind = static_cast<RecordKind>(Integer(0));
    g.sid = Number(1);
    g.subscriber = Integer(2);
    g.readOnly = Integer(3) != 0;
    g.hideDetails = Integer(4) != 0;
    g.version = Number(5);
    g.revoked = Integer(6) != 0;
    return g;
  }
  Account AccountRow() {
    Account a;
    a.id = Integer(0);
    a.username = Bytes(1);
    a.passwordHash = Bytes(2);
    std::string gid = Bytes(3);
    if (gid.size() == UID128::kByteCount) {
      a.gid = UID128(reinterpret_cast<const uint8_t*>(gid.data()));
    }
    return a;
  }

 private:
  void Check(int rc) {
    if (rc != SQLITE_OK) m_storage.Fail("bind");
  }

  SqliteStorage& m_storage;
  sqlite3_stmt* m_statement;
  int m_index = 0;
};

SqliteStorage::SqliteStorage(const std::string& path) {
  int rc =
      sqlite3_open_v2(path.c_str(), &m_db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = m_db != nullptr ? sqlite3_errmsg(m_db) : "out of memory";
    sqlite3_close(m_db);
    m_db = nullptr;
    throw StorageError("cannot open " + path + ": " + message);
  }
  try {
    sqlite3_busy_timeout(m_db, 5000);
    if (path != ":memory:") Execute("PRAGMA journal_mode=WAL");
    Execute("PRAGMA synchronous=FULL");
    // 32 MiB of pages (the default is 2 MiB): the indexes of an account of
    // 100 000 records stay in memory rather than being read back per insert.
    Execute("PRAGMA cache_size=-32768");
    Execute("BEGIN");
    Execute(kSchema);
    Execute("COMMIT");
  } catch (...) {
    sqlite3_close(m_db);
    m_db = nullptr;
    throw;
  }
}

SqliteStorage::~SqliteStorage() {
  for (auto& [sql, statement] : m_statements) sqlite3_finalize(statement);
  sqlite3_close(m_db);
}

void SqliteStorage::Fail(const std::string& what) {
  throw StorageError("database " + what + " failed: " + sqlite3_errmsg(m_db));
}

void SqliteStorage::Execute(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    std::string message = error != nullptr ? error : "unknown error";
    sqlite3_free(error);
    throw StorageError(std::string("database statement failed: ") + message);
  }
}

sqlite3_stmt* SqliteStorage::Prepare(const char* sql) {
  auto found = m_statements.find(sql);
  if (found != m_statements.end()) return found->second;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(m_db, sql, -1, &statement, nullptr) != SQLITE_OK) Fail("prepare");
  m_statements.emplace(sql, statement);
  return statement;
}

void SqliteStorage::Begin() {
  Execute("BEGIN IMMEDIATE");
}
void SqliteStorage::Commit() {
  Execute("COMMIT");
}
void SqliteStorage::Rollback() {
  if (sqlite3_get_autocommit(m_db) == 0) Execute("ROLLBACK");
}

uint32_t SqliteStorage::GetSetting(const char* name) {
  Statement s(*this, "SELECT value FROM settings WHERE name = ?");
  s.BindText(name);
  if (!s.Step()) throw StorageError(std::string("missing setting ") + name);
  return s.Number(0);
}

void SqliteStorage::SetSetting(const char* name, uint32_t value) {
  Statement s(*this, "INSERT OR REPLACE INTO settings(name, value) VALUES (?, ?)");
  s.BindText(name).Bind(value).Run();
}

uint32_t SqliteStorage::GetCounter() {
  return GetSetting("counter");
}
void SqliteStorage::SetCounter(uint32_t counter) {
  SetSetting("counter", counter);
}

uint32_t SqliteStorage::NextSid() {
  uint32_t sid = GetSetting("next_sid");
  if (sid == 0 || sid > kLargestNumber) throw StorageError("server ids exhausted");
  SetSetting("next_sid", sid + 1);
  return sid;
}

std::optional<Account> SqliteStorage::FindAccountByName(const std::string& username) {
  Statement s(*this, "SELECT id, username, password_hash, gid FROM accounts WHERE username = ?");
  s.BindText(username);
  if (!s.Step()) return std::nullopt;
  return s.AccountRow();
}

std::optional<Account> SqliteStorage::FindAccountByGid(const UID128& gid) {
  Statement s(*this, "SELECT id, username, password_hash, gid FROM accounts WHERE gid = ?");
  s.BindBytes(gid.Bytes(), UID128::kByteCount);
  if (!s.Step()) return std::nullopt;
  return s.AccountRow();
}

int64_t SqliteStorage::AddAccount(const Account& account) {
  Statement s(*this, "INSERT INTO accounts(username, password_hash, gid) VALUES (?, ?, ?)");
  s.BindText(account.username).BindText(account.passwordHash);
  s.BindBytes(account.gid.Bytes(), UID128::kByteCount).Run();
  return sqlite3_last_insert_rowid(m_db);
}

uint32_t SqliteStorage::GetEpoch(int64_t account, Family family) {
  Statement s(*this, "SELECT epoch FROM epochs WHERE account = ? AND family = ?");
  s.Bind(account).Bind(static_cast<int64_t>(family));
  // Deltas are never cut short (tombstones are kept), so every table keeps its
  // first epoch unless one is stored.
  return s.Step() ? s.Number(0) : 1;
}

std::optional<StoredRecord> SqliteStorage::FindRecord(RecordKind kind, uint32_t sid) {
  static const std::string sql = std::string(kRecordColumns) + "WHERE kind = ? AND sid = ?";
  Statement s(*this, sql.c_str());
  s.Bind(static_cast<int64_t>(kind)).Bind(sid);
  if (!s.Step()) return std::nullopt;
  return s.Record();
}

std::vector<StoredRecord> SqliteStorage::RecordsOwnedBy(RecordKind kind, int64_t owner) {
  static const std::string sql =
      std::string(kRecordColumns) + "WHERE owner = ? AND kind = ? ORDER BY sid";
  Statement s(*this, sql.c_str());
  s.Bind(owner).Bind(static_cast<int64_t>(kind));
  std::vector<StoredRecord> records;
  while (s.Step()) records.push_back(s.Record());
  return records;
}

std::vector<StoredRecord> SqliteStorage::LiveRecordsByFid(RecordKind kind, int64_t owner,
                                                          uint32_t fid) {
  static const std::string sql = std::string(kRecordColumns) +
                                 "WHERE owner = ? AND kind = ? AND fid = ? AND deleted = 0 "
                                 "ORDER BY sid";
  Statement s(*this, sql.c_str());
  s.Bind(owner).Bind(static_cast<int64_t>(kind)).Bind(fid);
  std::vector<StoredRecord> records;
  while (s.Step()) records.push_back(s.Record());
  return records;
}

void SqliteStorage::PutRecord(const StoredRecord& r) {
  Statement s(*this,
              "INSERT OR REPLACE INTO records(kind, sid, owner, fid, version, deleted, clone_of, "
              "content) VALUES (?, ?, ?, ?, ?, ?, ?, ?)");
  s.Bind(static_cast<int64_t>(r.kind)).Bind(r.sid).Bind(r.owner).Bind(r.fid).Bind(r.version);
  s.Bind(r.deleted ? 1 : 0).Bind(r.cloneOf).BindBytes(r.content.data(), r.content.size()).Run();
}

std::vector<StoredLink> SqliteStorage::LinksOf(RecordKind childKind, uint32_t childSid) {
  Statement s(*this,
              "SELECT child_kind, child_sid, parent_sid, version, deleted FROM links "
              "WHERE child_kind = ? AND child_sid = ? ORDER BY parent_sid");
  s.Bind(static_cast<int64_t>(childKind)).Bind(childSid);
  std::vector<StoredLink> links;
  while (s.Step()) links.push_back(s.Link());
  return links;
}

std::vector<StoredLink> SqliteStorage::LinksTo(RecordKind childKind, uint32_t parentSid) {
  Statement s(*this,
              "SELECT child_kind, child_sid, parent_sid, version, deleted FROM links "
              "WHERE child_kind = ? AND parent_sid = ? ORDER BY child_sid");
  s.Bind(static_cast<int64_t>(childKind)).Bind(parentSid);
  std::vector<StoredLink> links;
  while (s.Step()) links.push_back(s.Link());
  return links;
}

void SqliteStorage::PutLink(const StoredLink& l) {
  Statement s(*this,
              "INSERT OR REPLACE INTO links(child_kind, child_sid, parent_sid, version, deleted) "
              "VALUES (?, ?, ?, ?, ?)");
  s.Bind(static_cast<int64_t>(l.childKind)).Bind(l.childSid).Bind(l.parentSid).Bind(l.version);
  s.Bind(l.deleted ? 1 : 0).Run();
}

std::vector<Grant> SqliteStorage::GrantsTo(int64_t subscriber, RecordKind kind) {
  Statement s(*this,
              "SELECT kind, sid, subscriber, read_only, hide_details, version, revoked FROM grants "
              "WHERE subscriber = ? AND kind = ? ORDER BY sid");
  s.Bind(subscriber).Bind(static_cast<int64_t>(kind));
  std::vector<Grant> grants;
  while (s.Step()) grants.push_back(s.GrantRow());
  return grants;
}

std::optional<Grant> SqliteStorage::FindGrant(RecordKind kind, uint32_t sid, int64_t subscriber) {
  Statement s(*this,
              "SELECT kind, sid, subscriber, read_only, hide_details, version, revoked FROM grants "
              "WHERE kind = ? AND sid = ? AND subscriber = ?");
  s.Bind(static_cast<int64_t>(kind)).Bind(sid).Bind(subscriber);
  if (!s.Step()) return std::nullopt;
  return s.GrantRow();
}

void SqliteStorage::PutGrant(const Grant& g) {
  Statement s(*this,
              "INSERT OR REPLACE INTO grants(kind, sid, subscriber, read_only, hide_details, "
              "version, revoked) VALUES (?, ?, ?, ?, ?, ?, ?)");
  s.Bind(static_cast<int64_t>(g.kind)).Bind(g.sid).Bind(g.subscriber).Bind(g.readOnly ? 1 : 0);
  s.Bind(g.hideDetails ? 1 : 0).Bind(g.version).Bind(g.revoked ? 1 : 0).Run();
}

void SqliteStorage::AddClick(uint32_t eventSid) {
  Statement s(*this,
              "INSERT INTO clicks(eid, count) VALUES (?, 1) "
              "ON CONFLICT(eid) DO UPDATE SET count = count + 1");
  s.Bind(eventSid).Run();
}

uint32_t SqliteStorage::ClickCount(uint32_t eventSid) {
  Statement s(*this, "SELECT count FROM clicks WHERE eid = ?");
  s.Bind(eventSid);
  return s.Step() ? s.Number(0) : 0;
}

}  // namespace brontel::server
