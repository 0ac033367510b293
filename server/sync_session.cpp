#include "server/sync_session.h"

#include "server/access.h"

namespace brontel::server {

namespace {

// The action code of a request element; a missing one reads as an update.
uint32_t ActOf(const RequestElement& element) {
  return element.Number("act", 1);
}

std::string ReadContent(RecordKind kind, const RequestElement& element) {
  switch (kind) {
    case RecordKind::kCalendar:
      return EncodeContent(ReadCalendarContent(element));
    case RecordKind::kEvent:
      return EncodeContent(ReadEventContent(element));
    case RecordKind::kCategory:
      return EncodeContent(ReadCategoryContent(element));
    case RecordKind::kContact:
      return EncodeContent(ReadContactContent(element));
  }
  return std::string();
}

bool IsDefaultCalendar(const std::string& content) {
  std::optional<CalendarContent> calendar = DecodeCalendarContent(content);
  return calendar && calendar->IsDefault();
}

}  // namespace

SyncSession::SyncSession(Storage& storage, int64_t account, Family family, uint32_t requestVersion)
    : m_storage(storage), m_account(account), m_family(family), m_requestVersion(requestVersion) {}

void SyncSession::Apply(const XmlNode& node) {
  const std::string& name = node.GetName();
  if (m_family == Family::kCalendars) {
    if (name == "calendar") {
      ApplyParent(RecordKind::kCalendar, node);
    } else if (name == "event") {
      ApplyEvent(RequestElement(node));
    } else if (name == "orvel") {
      ApplyClicks(RequestElement(node));
    }
  } else if (name == "category") {
    ApplyParent(RecordKind::kCategory, node);
  } else if (name == "contact") {
    ApplyContact(RequestElement(node));
  }
}

// ---- shared steps ----

uint32_t SyncSession::NewVersion() {
  return TakeVersion(m_storage);
}

void SyncSession::Echo(uint32_t sid, uint32_t lid) {
  m_outcome.echoLids[sid] = lid;
  m_outcome.forced.insert(sid);
}

void SyncSession::Conflict(RecordKind kind, const RequestElement& element, uint32_t cerr) {
  m_outcome.conflicts.push_back(
      ConflictReport{kind, ActOf(element), cerr, element.Number("lid"), element.Number("sid")});
}

void SyncSession::Refuse(StoredRecord record, const RequestElement& element, uint32_t cerr) {
  uint32_t version = NewVersion();
  record.version = version;
  m_storage.PutRecord(record);
  for (StoredLink link : m_storage.LinksOf(record.kind, record.sid)) {
    if (link.deleted) continue;
    link.version = version;
    m_storage.PutLink(link);
  }
  m_outcome.forced.insert(record.sid);
  Conflict(record.kind, element, cerr);
}

std::optional<StoredRecord> SyncSession::ResolveParent(RecordKind kind, const LinkReference& link) {
  std::optional<StoredRecord> parent;
  if (link.pver != kClientSideLinkVersion) {
    parent = m_storage.FindRecord(kind, link.psid);
  } else {
    auto& inserted = m_insertedByLid[kind];
    auto found = inserted.find(link.psid);
    if (found != inserted.end()) {
      parent = m_storage.FindRecord(kind, found->second);
    } else if (link.psid != 0) {
      std::vector<StoredRecord> same = m_storage.LiveRecordsByFid(kind, m_account, link.psid);
      if (!same.empty()) parent = same.front();
    }
  }
  if (parent && parent->deleted) parent.reset();
  return parent;
}

std::vector<StoredRecord> SyncSession::SameFid(RecordKind kind, uint32_t lid) {
  if (lid == 0) return {};
  return m_storage.LiveRecordsByFid(kind, m_account, lid);
}

bool SyncSession::MayRepeat(const StoredRecord& record) const {
  // Every answer carries the account's changes above the request's version,
  // so a record changed at or below it has reached the client.
  return m_requestVersion == kInvalidVersion || record.version > m_requestVersion;
}

void SyncSession::StoreNew(StoredRecord& record, uint32_t lid, bool fidTaken) {
  record.sid = m_storage.NextSid();
  record.owner = m_account;
  // Fixed ids stay unique per account and kind: a taken one is replaced by
  // the server id, though the answer still echoes the lid to its sender.
  record.fid = lid != 0 && !fidTaken ? lid : record.sid;
  m_storage.PutRecord(record);
  if (lid != 0) m_insertedByLid[record.kind][lid] = record.sid;
  Echo(record.sid, lid);
}

// ---- calendars and categories ----

void SyncSession::ApplyParent(RecordKind kind, const XmlNode& node) {
  RequestElement element(node);
  uint32_t act = ActOf(element);
  if (act == 0) {
    InsertParent(kind, element);
  } else if (act == 1) {
    UpdateParent(kind, element);
  } else if (act == 2 || act == 3) {
    m_removals.emplace_back(kind, &node);
  }
}

void SyncSession::Finish() {
  std::vector<std::pair<RecordKind, const XmlNode*>> removals = std::move(m_removals);
  m_removals.clear();
  for (const auto& [kind, node] : removals) {
    RequestElement element(*node);
    RemoveParent(kind, element, ActOf(element));
  }
}

void SyncSession::InsertParent(RecordKind kind, const RequestElement& element) {
  uint32_t lid = element.Number("lid");
  std::string content = ReadContent(kind, element);
  auto recognise = [&](const StoredRecord& record) {
    if (lid != 0) m_insertedByLid[kind][lid] = record.sid;
    Echo(record.sid, lid);
  };
  if (kind == RecordKind::kCalendar && IsDefaultCalendar(content)) {
    // One default calendar per account: a second insert updates the first.
    for (StoredRecord record : m_storage.RecordsOwnedBy(kind, m_account)) {
      if (record.deleted || !IsDefaultCalendar(record.content)) continue;
      if (record.content != content) {
        record.content = content;
        record.version = NewVersion();
        m_storage.PutRecord(record);
      }
      recognise(record);
      return;
    }
  }
  std::vector<StoredRecord> same = SameFid(kind, lid);
  for (const StoredRecord& record : same) {
    if (record.content == content && MayRepeat(record)) {
      recognise(record);
      return;
    }
  }
  StoredRecord record;
  record.kind = kind;
  record.version = NewVersion();
  record.content = std::move(content);
  StoreNew(record, lid, !same.empty());
}

void SyncSession::UpdateParent(RecordKind kind, const RequestElement& element) {
  uint32_t sid = element.Number("sid");
  std::optional<StoredRecord> record = m_storage.FindRecord(kind, sid);
  ParentAccess access;
  if (record) access = AccessToParent(m_storage, m_account, *record);
  if (!access.known) {
    Conflict(kind, element, kConflictUnknown);
    return;
  }
  if (!access.visible) {
    // Deleted or unshared since: the answer says so.
    m_outcome.forced.insert(sid);
    Conflict(kind, element, kConflictStale);
    return;
  }
  if (!access.owned) {
    // Re-stamp the subscriber's grant rather than the owner's record, so the
    // refusal reaches this account without making the owner's edits stale.
    std::optional<Grant> grant = m_storage.FindGrant(kind, sid, m_account);
    grant->version = NewVersion();
    m_storage.PutGrant(*grant);
    m_outcome.forced.insert(sid);
    Conflict(kind, element, kConflictNotPermitted);
    return;
  }
  if (element.Number("ver") < record->version) {
    Refuse(*record, element, kConflictStale);
    return;
  }
  record->content = ReadContent(kind, element);
  record->version = NewVersion();
  m_storage.PutRecord(*record);
  m_outcome.forced.insert(sid);
}

void SyncSession::RemoveParent(RecordKind kind, const RequestElement& element, uint32_t act) {
  uint32_t sid = element.Number("sid");
  std::optional<StoredRecord> record = m_storage.FindRecord(kind, sid);
  ParentAccess access;
  if (record) access = AccessToParent(m_storage, m_account, *record);
  if (!access.known) {
    Conflict(kind, element, kConflictUnknown);
    return;
  }
  m_outcome.forced.insert(sid);
  if (access.owned) {
    if (record->deleted) return;  // answered with its tombstone
    // Only a delete (act 3) can be stale; an owner's act 2 ends the record too.
    if (act == 3 && element.Number("ver") < record->version) {
      Refuse(*record, element, kConflictStale);
      return;
    }
    DeleteParent(*record, NewVersion());
    return;
  }
  std::optional<Grant> grant = m_storage.FindGrant(kind, sid, m_account);
  if (grant && !grant->revoked) {
    grant->revoked = true;
    grant->version = NewVersion();
    m_storage.PutGrant(*grant);
  }
}

void SyncSession::DeleteParent(StoredRecord parent, uint32_t version) {
  parent.deleted = true;
  parent.version = version;
  m_storage.PutRecord(parent);
  RecordKind childKind =
      parent.kind == RecordKind::kCalendar ? RecordKind::kEvent : RecordKind::kContact;
  for (StoredLink link : m_storage.LinksTo(childKind, parent.sid)) {
    if (link.deleted) continue;
    link.deleted = true;
    link.version = version;
    m_storage.PutLink(link);
    std::optional<StoredRecord> child = m_storage.FindRecord(childKind, link.childSid);
    if (!child || child->deleted) continue;
    bool linkedElsewhere = false;
    if (childKind == RecordKind::kEvent) {
      for (const StoredLink& other : m_storage.LinksOf(childKind, child->sid)) {
        linkedElsewhere = linkedElsewhere || !other.deleted;
      }
    }
    // A category's contacts go with it; an event goes with its last calendar.
    if (!linkedElsewhere) DeleteChild(*child, version);
  }
}

// ---- events ----

void SyncSession::ApplyEvent(const RequestElement& element) {
  uint32_t act = ActOf(element);
  uint32_t sid = element.Number("sid");
  if (act == 0) {
    InsertEvent(element);
  } else if (act == 1) {
    UpdateChild(RecordKind::kEvent, element);
  } else if (act == 2 || act == 3) {
    if (auto record = WritableChild(RecordKind::kEvent, element, true, true)) {
      DeleteChild(*record, NewVersion());
    }
  } else if (act == 4 || act == 5) {
    bool followUp = sid == 0;
    if (followUp) {
      // A clone's follow-up names the clone just inserted by its lid.
      auto& inserted = m_insertedByLid[RecordKind::kEvent];
      auto found = inserted.find(element.Number("lid"));
      if (found == inserted.end()) {
        Conflict(RecordKind::kEvent, element, kConflictUnknown);
        return;
      }
      sid = found->second;
    }
    if (act == 4) {
      AddEventLinks(element, sid, followUp);
    } else {
      RemoveEventLinks(element, sid, followUp);
    }
  }
}

void SyncSession::InsertEvent(const RequestElement& element) {
  uint32_t lid = element.Number("lid");
  uint32_t cid = element.Number("cid");
  std::string content = ReadContent(RecordKind::kEvent, element);
  size_t conflictsBefore = m_outcome.conflicts.size();
  std::set<uint32_t> parents;
  if (cid != 0) {
    // A repeat exception starts with the links of the event it is cut from.
    std::optional<StoredRecord> original = m_storage.FindRecord(RecordKind::kEvent, cid);
    if (!original || original->deleted || !AccessToChild(m_storage, m_account, *original).visible) {
      Conflict(RecordKind::kEvent, element, kConflictUnknown);
      return;
    }
    for (const StoredLink& link : m_storage.LinksOf(RecordKind::kEvent, cid)) {
      if (!link.deleted) parents.insert(link.parentSid);
    }
  }
  for (const LinkReference& reference : ReadLinks(element)) {
    std::optional<StoredRecord> calendar = ResolveParent(RecordKind::kCalendar, reference);
    if (!calendar) {
      Conflict(RecordKind::kEvent, element, kConflictUnknown);
    } else if (!AccessToParent(m_storage, m_account, *calendar).writable) {
      Conflict(RecordKind::kEvent, element, kConflictNotPermitted);
    } else {
      parents.insert(calendar->sid);
    }
  }
  if (parents.empty()) {
    // An event without a calendar could never be shown: refuse the insert.
    if (m_outcome.conflicts.size() == conflictsBefore) {
      Conflict(RecordKind::kEvent, element, kConflictUnknown);
    }
    return;
  }
  std::vector<StoredRecord> same = SameFid(RecordKind::kEvent, lid);
  for (const StoredRecord& record : same) {
    if (record.content != content || record.cloneOf != cid || !MayRepeat(record)) continue;
    std::set<uint32_t> stored;
    for (const StoredLink& link : m_storage.LinksOf(RecordKind::kEvent, record.sid)) {
      if (!link.deleted) stored.insert(link.parentSid);
    }
    // A clone's links change with its follow-ups, so its content decides.
    if (cid != 0 || stored == parents) {
      m_insertedByLid[RecordKind::kEvent][lid] = record.sid;
      Echo(record.sid, lid);
      return;
    }
  }
  StoredRecord record;
  record.kind = RecordKind::kEvent;
  record.version = NewVersion();
  record.cloneOf = cid;
  record.content = std::move(content);
  StoreNew(record, lid, !same.empty());
  for (uint32_t parent : parents) {
    m_storage.PutLink(StoredLink{RecordKind::kEvent, record.sid, parent, record.version, false});
  }
}

void SyncSession::AddEventLinks(const RequestElement& element, uint32_t sid, bool followUp) {
  std::optional<StoredRecord> record = m_storage.FindRecord(RecordKind::kEvent, sid);
  if (!record) {
    Conflict(RecordKind::kEvent, element, kConflictUnknown);
    return;
  }
  m_outcome.forced.insert(sid);
  if (record->deleted) {
    Conflict(RecordKind::kEvent, element, kConflictStale);
    return;
  }
  if (!followUp && !AccessToChild(m_storage, m_account, *record).visible) {
    Conflict(RecordKind::kEvent, element, kConflictUnknown);
    return;
  }
  std::map<uint32_t, StoredLink> existing;
  for (const StoredLink& link : m_storage.LinksOf(RecordKind::kEvent, sid)) {
    existing[link.parentSid] = link;
  }
  bool forbidden = false;
  uint32_t version = 0;
  for (const LinkReference& reference : ReadLinks(element)) {
    std::optional<StoredRecord> calendar = ResolveParent(RecordKind::kCalendar, reference);
    if (!calendar) {
      Conflict(RecordKind::kEvent, element, kConflictUnknown);
      continue;
    }
    if (!AccessToParent(m_storage, m_account, *calendar).writable) {
      forbidden = true;
      continue;
    }
    auto found = existing.find(calendar->sid);
    if (found != existing.end() && !found->second.deleted) continue;
    if (version == 0) version = NewVersion();
    StoredLink link{RecordKind::kEvent, sid, calendar->sid, version, false};
    m_storage.PutLink(link);
    existing[calendar->sid] = link;
  }
  if (forbidden) {
    Refuse(*m_storage.FindRecord(RecordKind::kEvent, sid), element, kConflictNotPermitted);
  }
}

void SyncSession::RemoveEventLinks(const RequestElement& element, uint32_t sid, bool followUp) {
  std::optional<StoredRecord> record = m_storage.FindRecord(RecordKind::kEvent, sid);
  if (!record) {
    Conflict(RecordKind::kEvent, element, kConflictUnknown);
    return;
  }
  m_outcome.forced.insert(sid);
  if (record->deleted) return;  // answered with its tombstone
  if (!followUp && !AccessToChild(m_storage, m_account, *record).visible) {
    Conflict(RecordKind::kEvent, element, kConflictUnknown);
    return;
  }
  // An edit beats a removal based on an older version.
  if (!followUp && element.Number("ver") < record->version) {
    Refuse(*record, element, kConflictStale);
    return;
  }
  std::map<uint32_t, StoredLink> existing;
  for (const StoredLink& link : m_storage.LinksOf(RecordKind::kEvent, sid)) {
    existing[link.parentSid] = link;
  }
  bool forbidden = false;
  uint32_t version = 0;
  for (const LinkReference& reference : ReadLinks(element)) {
    uint32_t parentSid = reference.psid;
    if (reference.pver == kClientSideLinkVersion) {
      std::optional<StoredRecord> calendar = ResolveParent(RecordKind::kCalendar, reference);
      parentSid = calendar ? calendar->sid : 0;
    }
    auto found = existing.find(parentSid);
    if (found == existing.end() || found->second.deleted) continue;
    std::optional<StoredRecord> calendar = m_storage.FindRecord(RecordKind::kCalendar, parentSid);
    if (calendar && !AccessToParent(m_storage, m_account, *calendar).writable) {
      forbidden = true;
      continue;
    }
    if (version == 0) version = NewVersion();
    found->second.deleted = true;
    found->second.version = version;
    m_storage.PutLink(found->second);
  }
  bool linked = false;
  for (const auto& [parent, link] : existing) linked = linked || !link.deleted;
  if (!linked) {
    DeleteChild(*m_storage.FindRecord(RecordKind::kEvent, sid),
                version != 0 ? version : NewVersion());
  } else if (forbidden) {
    Refuse(*m_storage.FindRecord(RecordKind::kEvent, sid), element, kConflictNotPermitted);
  }
}

void SyncSession::ApplyClicks(const RequestElement& element) {
  for (const auto& child : element.Children()) {
    if (child->GetName() != "click") continue;
    uint32_t eid = RequestElement(*child).Number("eid");
    bool seen = false;
    for (uint32_t clicked : m_outcome.clicks) seen = seen || clicked == eid;
    if (seen) continue;
    m_outcome.clicks.push_back(eid);
    if (m_storage.FindRecord(RecordKind::kEvent, eid)) m_storage.AddClick(eid);
  }
}

// ---- contacts ----

void SyncSession::ApplyContact(const RequestElement& element) {
  uint32_t act = ActOf(element);
  if (act == 0) {
    InsertContact(element);
  } else if (act == 1) {
    UpdateChild(RecordKind::kContact, element);
  } else if (act == 2 || act == 3) {
    if (auto record = WritableChild(RecordKind::kContact, element, true, true)) {
      DeleteChild(*record, NewVersion());
    }
  } else if (act == 4) {
    MoveContact(element);
  }
  // act 5 follows the act 4 of a move, which did all the work.
}

void SyncSession::InsertContact(const RequestElement& element) {
  uint32_t lid = element.Number("lid");
  std::string content = ReadContent(RecordKind::kContact, element);
  std::vector<LinkReference> links = ReadLinks(element);
  uint32_t parent = 0;
  if (!links.empty() && links.back().psid != 0) {
    std::optional<StoredRecord> category = ResolveParent(RecordKind::kCategory, links.back());
    if (!category) {
      Conflict(RecordKind::kContact, element, kConflictUnknown);  // filed as unfiled
    } else if (!AccessToParent(m_storage, m_account, *category).writable) {
      Conflict(RecordKind::kContact, element, kConflictNotPermitted);
      return;
    } else {
      parent = category->sid;
    }
  }
  std::vector<StoredRecord> same = SameFid(RecordKind::kContact, lid);
  for (const StoredRecord& record : same) {
    if (record.content != content || !MayRepeat(record)) continue;
    uint32_t storedParent = 0;
    for (const StoredLink& link : m_storage.LinksOf(RecordKind::kContact, record.sid)) {
      if (!link.deleted) storedParent = link.parentSid;
    }
    if (storedParent == parent) {
      m_insertedByLid[RecordKind::kContact][lid] = record.sid;
      Echo(record.sid, lid);
      return;
    }
  }
  StoredRecord record;
  record.kind = RecordKind::kContact;
  record.version = NewVersion();
  record.content = std::move(content);
  StoreNew(record, lid, !same.empty());
  if (parent != 0) {
    m_storage.PutLink(StoredLink{RecordKind::kContact, record.sid, parent, record.version, false});
  }
}

void SyncSession::MoveContact(const RequestElement& element) {
  std::optional<StoredRecord> record = WritableChild(RecordKind::kContact, element, false, false);
  std::vector<LinkReference> links = ReadLinks(element);
  if (!record || links.empty()) return;
  m_outcome.forced.insert(record->sid);
  uint32_t target = 0;
  if (links.back().psid != 0) {
    std::optional<StoredRecord> category = ResolveParent(RecordKind::kCategory, links.back());
    if (!category) {
      Conflict(RecordKind::kContact, element, kConflictUnknown);
      return;
    }
    if (!AccessToParent(m_storage, m_account, *category).writable) {
      Refuse(*record, element, kConflictNotPermitted);
      return;
    }
    target = category->sid;
  }
  // The link's pver is made by the client and says nothing: the move applies.
  uint32_t version = 0;
  bool linked = false;
  for (StoredLink link : m_storage.LinksOf(RecordKind::kContact, record->sid)) {
    if (link.deleted) continue;
    if (link.parentSid == target) {
      linked = true;
      continue;
    }
    if (version == 0) version = NewVersion();
    link.deleted = true;
    link.version = version;
    m_storage.PutLink(link);
  }
  if (target != 0 && !linked) {
    if (version == 0) version = NewVersion();
    m_storage.PutLink(StoredLink{RecordKind::kContact, record->sid, target, version, false});
  }
}

// ---- events and contacts alike ----

std::optional<StoredRecord> SyncSession::WritableChild(RecordKind kind,
                                                       const RequestElement& element,
                                                       bool staleChecked, bool deleting) {
  uint32_t sid = element.Number("sid");
  std::optional<StoredRecord> record = m_storage.FindRecord(kind, sid);
  if (!record) {
    Conflict(kind, element, kConflictUnknown);
    return std::nullopt;
  }
  if (record->deleted) {
    // Deleting a deleted record answers its tombstone without a conflict.
    m_outcome.forced.insert(sid);
    if (!deleting) Conflict(kind, element, kConflictStale);
    return std::nullopt;
  }
  ChildAccess access = AccessToChild(m_storage, m_account, *record);
  if (!access.visible) {
    Conflict(kind, element, kConflictUnknown);
    return std::nullopt;
  }
  if (!access.writable) {
    Refuse(*record, element, kConflictNotPermitted);
    return std::nullopt;
  }
  if (staleChecked && element.Number("ver") < record->version) {
    Refuse(*record, element, kConflictStale);
    return std::nullopt;
  }
  m_outcome.forced.insert(sid);
  return record;
}

void SyncSession::UpdateChild(RecordKind kind, const RequestElement& element) {
  std::optional<StoredRecord> record = WritableChild(kind, element, true, false);
  if (!record) return;
  record->content = ReadContent(kind, element);
  record->version = NewVersion();
  m_storage.PutRecord(*record);
}

void SyncSession::DeleteChild(StoredRecord record, uint32_t version) {
  record.deleted = true;
  record.version = version;
  m_storage.PutRecord(record);
  for (StoredLink link : m_storage.LinksOf(record.kind, record.sid)) {
    if (link.deleted) continue;
    link.deleted = true;
    link.version = version;
    m_storage.PutLink(link);
  }
  m_outcome.forced.insert(record.sid);
}

}  // namespace brontel::server
