// SyncSession applies the record elements of one sync request, in document
// order, to the data one account sees in one family, and notes what the answer
// must carry besides the changes: the lid echoes of this request's inserts,
// the records to answer whatever their version (echoes of no-op changes,
// tombstones of repeated deletes), click echoes and conflicts. A stale or
// forbidden change is refused: nothing of it is applied and the record is
// re-stamped with a fresh version so that the answer carries its current
// state. Storage failures propagate as StorageError.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <utility>
#include <vector>

#include "brontel/protocol/xml_node.h"
#include "server/record_xml.h"
#include "server/storage.h"

namespace brontel::server {

// Conflict error codes.
inline constexpr uint32_t kConflictStale = 1;
inline constexpr uint32_t kConflictNotPermitted = 2;
inline constexpr uint32_t kConflictUnknown = 3;

struct ConflictReport {
  RecordKind kind = RecordKind::kCalendar;
  uint32_t act = 0;
  uint32_t cerr = 0;
  uint32_t lid = 0;
  uint32_t sid = 0;
};

struct RequestOutcome {
  // Server id -> the lid of the insert of this request that made (or, for a
  // repeated insert, recognised) the record.
  std::map<uint32_t, uint32_t> echoLids;
  // Server ids answered whatever their version.
  std::set<uint32_t> forced;
  // Clicked event ids, each once, in request order.
  std::vector<uint32_t> clicks;
  std::vector<ConflictReport> conflicts;
};

class SyncSession {
 public:
  // requestVersion is the request root's ver: the last answer the client
  // applied (kInvalidVersion when it has none).
  SyncSession(Storage& storage, int64_t account, Family family, uint32_t requestVersion);

  // Applies one child of the request root; elements of the other family and
  // unknown elements are ignored. REQUIRES: element outlives Finish().
  void Apply(const XmlNode& element);
  // Applies the deletions of calendars and categories that the applied
  // elements held. They wait until everything else in the request is done: a
  // request that moves a contact or an event out of a category or calendar and
  // deletes that one keeps the record it moved, whichever element comes first
  // (a category's contacts and a calendar's last events go with it).
  void Finish();
  const RequestOutcome& Outcome() const { return m_outcome; }

 private:
  uint32_t NewVersion();
  void Echo(uint32_t sid, uint32_t lid);
  void Conflict(RecordKind kind, const RequestElement& element, uint32_t cerr);
  // Re-stamps record and its live links and reports the conflict.
  void Refuse(StoredRecord record, const RequestElement& element, uint32_t cerr);
  // A calendar or category: psid is a server id, or with pver ffffffff the
  // client's fixed id of one inserted earlier (in this request or before).
  std::optional<StoredRecord> ResolveParent(RecordKind kind, const LinkReference& link);
  // Live records of this account whose fid is lid, for repeated inserts.
  std::vector<StoredRecord> SameFid(RecordKind kind, uint32_t lid);
  // Whether an insert may repeat one that made record: only while the client
  // has applied no answer that carried the record. A client that already
  // holds it under its server id cannot join it to its own record through an
  // echo, so an equal insert from it (another desktop of the account that
  // made the same provisional fixed id) is a record of its own.
  bool MayRepeat(const StoredRecord& record) const;
  void StoreNew(StoredRecord& record, uint32_t lid, bool fidTaken);

  // A calendar or category: inserted or updated now, deleted by Finish.
  void ApplyParent(RecordKind kind, const XmlNode& node);
  void InsertParent(RecordKind kind, const RequestElement& element);
  void UpdateParent(RecordKind kind, const RequestElement& element);
  void RemoveParent(RecordKind kind, const RequestElement& element, uint32_t act);
  void DeleteParent(StoredRecord parent, uint32_t version);

  void ApplyEvent(const RequestElement& element);
  void InsertEvent(const RequestElement& element);
  void AddEventLinks(const RequestElement& element, uint32_t sid, bool followUp);
  void RemoveEventLinks(const RequestElement& element, uint32_t sid, bool followUp);
  void ApplyClicks(const RequestElement& element);

  void ApplyContact(const RequestElement& element);
  void InsertContact(const RequestElement& element);
  void MoveContact(const RequestElement& element);

  // Checks shared by updates and deletes of events and contacts; gives the
  // record when the change may go ahead.
  std::optional<StoredRecord> WritableChild(RecordKind kind, const RequestElement& element,
                                            bool staleChecked, bool deleting);
  void UpdateChild(RecordKind kind, const RequestElement& element);
  void DeleteChild(StoredRecord record, uint32_t version);

  Storage& m_storage;
  int64_t m_account;
  Family m_family;
  uint32_t m_requestVersion;
  RequestOutcome m_outcome;
  // Per kind: lid -> server id of this request's inserts.
  std::map<RecordKind, std::map<uint32_t, uint32_t>> m_insertedByLid;
  // Deletions of calendars and categories held back for Finish, in order;
  // the request's document outlives the session's use of it.
  std::vector<std::pair<RecordKind, const XmlNode*>> m_removals;
};

}  // namespace brontel::server
