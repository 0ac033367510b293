// The SQLite storage on a database file: one made by an earlier server, with
// the indexes it had, opens and answers every finder as a new one does.
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdint>
#include <string>
#include <vector>

#include "server/sqlite_storage.h"
#include "support/temp_dir.h"

namespace brontel::server::testing {
namespace {

// The schema of the first servers: the same tables, other indexes.
constexpr const char* kFormerSchema = R"sql(
CREATE TABLE settings(name TEXT PRIMARY KEY, value INTEGER NOT NULL);
INSERT INTO settings(name, value) VALUES ('counter', 600), ('next_sid', 200);
CREATE TABLE accounts(
  id INTEGER PRIMARY KEY, username TEXT NOT NULL UNIQUE,
  password_hash TEXT NOT NULL, gid BLOB NOT NULL UNIQUE);
CREATE TABLE epochs(
  account INTEGER NOT NULL, family INTEGER NOT NULL, epoch INTEGER NOT NULL,
  PRIMARY KEY(account, family));
CREATE TABLE records(
  kind INTEGER NOT NULL, sid INTEGER NOT NULL, owner INTEGER NOT NULL,
  fid INTEGER NOT NULL, version INTEGER NOT NULL, deleted INTEGER NOT NULL,
  clone_of INTEGER NOT NULL, content BLOB NOT NULL, PRIMARY KEY(kind, sid));
CREATE INDEX records_by_owner ON records(owner, kind, fid);
CREATE TABLE links(
  child_kind INTEGER NOT NULL, child_sid INTEGER NOT NULL, parent_sid INTEGER NOT NULL,
  version INTEGER NOT NULL, deleted INTEGER NOT NULL,
  PRIMARY KEY(child_kind, child_sid, parent_sid));
CREATE INDEX links_by_parent ON links(child_kind, parent_sid);
CREATE TABLE grants(
  kind INTEGER NOT NULL, sid INTEGER NOT NULL, subscriber INTEGER NOT NULL,
  read_only INTEGER NOT NULL, hide_details INTEGER NOT NULL, version INTEGER NOT NULL,
  revoked INTEGER NOT NULL, PRIMARY KEY(kind, sid, subscriber));
CREATE INDEX grants_by_subscriber ON grants(subscriber, kind);
CREATE TABLE clicks(eid INTEGER PRIMARY KEY, count INTEGER NOT NULL);
)sql";

void Execute(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  char* error = nullptr;
  EXPECT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &error), SQLITE_OK)
      << (error != nullptr ? error : "");
  sqlite3_free(error);
  sqlite3_close(db);
}

StoredRecord EventRecord(uint32_t sid, int64_t owner, uint32_t fid, bool deleted = false) {
  StoredRecord r;
  r.kind = RecordKind::kEvent;
  r.sid = sid;
  r.owner = owner;
  r.fid = fid;
  r.version = 0x1f5;
  r.deleted = deleted;
  r.content = "event " + std::to_string(sid);
  return r;
}

template <class T, class Key>
std::vector<uint32_t> Keys(const std::vector<T>& rows, Key key) {
  std::vector<uint32_t> keys;
  for (const T& row : rows) keys.push_back(key(row));
  return keys;
}

std::vector<uint32_t> Sids(const std::vector<StoredRecord>& records) {
  return Keys(records, [](const StoredRecord& r) { return r.sid; });
}

TEST(SqliteStorageTest, ADatabaseOfTheFormerSchemaOpensAndAnswersInServerIdOrder) {
  brontel::testing::TempDir dir;
  const std::string path = dir.File("server.db");
  Execute(path, kFormerSchema);
  // Rows written out of server-id order, two owners interleaved, one fixed id
  // held twice (once by a tombstone), so that every finder has to sort.
  Execute(path,
          "INSERT INTO records VALUES (2, 150, 1, 7, 500, 0, 0, x'61'), (2, 120, 2, 7, 500, 0, 0, "
          "x'62'), (2, 110, 1, 9, 500, 0, 0, x'63'), (2, 130, 1, 7, 500, 1, 0, x'64'), "
          "(2, 105, 1, 7, 500, 0, 0, x'65');"
          "INSERT INTO links VALUES (2, 150, 101, 500, 0), (2, 105, 101, 500, 1), "
          "(2, 120, 102, 500, 0), (2, 110, 101, 500, 0);");

  for (int open = 0; open < 2; ++open) {
    SCOPED_TRACE(open == 0 ? "first opening" : "opened again");
    SqliteStorage storage(path);
    EXPECT_EQ(storage.GetCounter(), 600u);
    EXPECT_EQ(Sids(storage.LiveRecordsByFid(RecordKind::kEvent, 1, 7)),
              (std::vector<uint32_t>{105, 150}));
    EXPECT_EQ(Sids(storage.RecordsOwnedBy(RecordKind::kEvent, 1)),
              (std::vector<uint32_t>{105, 110, 130, 150}));
    EXPECT_EQ(Keys(storage.LinksTo(RecordKind::kEvent, 101),
                   [](const StoredLink& l) { return l.childSid; }),
              (std::vector<uint32_t>{105, 110, 150}));
  }
  // What it stores now is found in its place among the rest.
  SqliteStorage storage(path);
  storage.Begin();
  storage.PutRecord(EventRecord(140, 1, 7));
  storage.Commit();
  EXPECT_EQ(Sids(storage.LiveRecordsByFid(RecordKind::kEvent, 1, 7)),
            (std::vector<uint32_t>{105, 140, 150}));
}

}  // namespace
}  // namespace brontel::server::testing
