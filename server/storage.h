// Storage: what the sync server keeps, behind a small interface so that
// another database can take SQLite's place. It holds accounts, records of the
// four kinds (deleted records stay as tombstones), the links of events to
// calendars and of contacts to categories, the server-wide version counter,
// the grants that share a calendar or category with another account, and
// click counts. Every request runs between Begin and Commit (or Rollback), so
// a failure never leaves half a request applied; failures throw StorageError.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "brontel/core/uid128.h"
#include "server/record_content.h"

namespace brontel::server {

class StorageError : public std::runtime_error {
 public:
  explicit StorageError(const std::string& message) : std::runtime_error(message) {}
};

// Largest server id and version the protocol allows.
inline constexpr uint32_t kLargestNumber = 0x7FFFFFFF;
// The version a client sends when it has no usable one.
inline constexpr uint32_t kInvalidVersion = 0xFFFFFFFF;

struct Account {
  int64_t id = 0;
  std::string username;
  // A libsodium password hash string, never the password.
  std::string passwordHash;
  UID128 gid;
};

struct StoredRecord {
  RecordKind kind = RecordKind::kCalendar;
  // Server id: unique over all kinds, never reused.
  uint32_t sid = 0;
  // The account that created the record.
  int64_t owner = 0;
  // The inserting client's fixed id, or sid when there was none to keep.
  uint32_t fid = 0;
  // Version of the last content change (or of the deletion).
  uint32_t version = 0;
  bool deleted = false;
  // Events: server id of the event this one is a repeat exception of.
  uint32_t cloneOf = 0;
  // The EncodeContent form of the record's content.
  std::string content;
};

// An event's link to a calendar, or a contact's link to a category. A removed
// link stays, marked deleted, so that views can report the removal.
struct StoredLink {
  RecordKind childKind = RecordKind::kEvent;
  uint32_t childSid = 0;
  uint32_t parentSid = 0;
  uint32_t version = 0;
  bool deleted = false;
};

// A calendar or category shared with another account.
struct Grant {
  RecordKind kind = RecordKind::kCalendar;
  uint32_t sid = 0;
  int64_t subscriber = 0;
  bool readOnly = true;
  bool hideDetails = false;
  // The counter when the grant was made, changed or revoked.
  uint32_t version = 0;
  bool revoked = false;
};

class Storage {
 public:
  virtual ~Storage() = default;

  // REQUIRES (Begin): no transaction open. Commit and Rollback end it.
  virtual void Begin() = 0;
  virtual void Commit() = 0;
  virtual void Rollback() = 0;

  // The server-wide version counter: the last version handed out.
  virtual uint32_t GetCounter() = 0;
  virtual void SetCounter(uint32_t counter) = 0;
  // A fresh server id (1..kLargestNumber), never handed out before.
  virtual uint32_t NextSid() = 0;

  virtual std::optional<Account> FindAccountByName(const std::string& username) = 0;
  virtual std::optional<Account> FindAccountByGid(const UID128& gid) = 0;
  // Stores account (its id is ignored) and returns the new id.
  virtual int64_t AddAccount(const Account& account) = 0;
  // The delta epoch of one account's family (nonzero).
  virtual uint32_t GetEpoch(int64_t account, Family family) = 0;

  virtual std::optional<StoredRecord> FindRecord(RecordKind kind, uint32_t sid) = 0;
  // Every record, tombstones included, that owner created, by server id.
  virtual std::vector<StoredRecord> RecordsOwnedBy(RecordKind kind, int64_t owner) = 0;
  // The live records of owner whose fixed id is fid, by server id.
  virtual std::vector<StoredRecord> LiveRecordsByFid(RecordKind kind, int64_t owner,
                                                     uint32_t fid) = 0;
  // Inserts or replaces the record with the same kind and server id.
  virtual void PutRecord(const StoredRecord& record) = 0;

  // The links of one record, deleted ones included, by parent id.
  virtual std::vector<StoredLink> LinksOf(RecordKind childKind, uint32_t childSid) = 0;
  // The links of childKind records to parentSid, deleted ones included.
  virtual std::vector<StoredLink> LinksTo(RecordKind childKind, uint32_t parentSid) = 0;
  // Inserts or replaces the link with the same child and parent.
  virtual void PutLink(const StoredLink& link) = 0;

  // Grants made to subscriber, revoked ones included.
  virtual std::vector<Grant> GrantsTo(int64_t subscriber, RecordKind kind) = 0;
  virtual std::optional<Grant> FindGrant(RecordKind kind, uint32_t sid, int64_t subscriber) = 0;
  // Inserts or replaces the grant of the same record to the same subscriber.
  virtual void PutGrant(const Grant& grant) = 0;

  virtual void AddClick(uint32_t eventSid) = 0;
  virtual uint32_t ClickCount(uint32_t eventSid) = 0;
};

// Takes the next value of the version counter; throws StorageError when the
// counter is spent.
inline uint32_t TakeVersion(Storage& storage) {
  uint32_t counter = storage.GetCounter();
  if (counter >= kLargestNumber) throw StorageError("versions exhausted");
  storage.SetCounter(counter + 1);
  return counter + 1;
}

}  // namespace brontel::server
