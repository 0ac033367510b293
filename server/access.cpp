#include "server/access.h"

#include <algorithm>

namespace brontel::server {

RecordKind ParentKindOf(RecordKind childKind) {
  return childKind == RecordKind::kEvent ? RecordKind::kCalendar : RecordKind::kCategory;
}

ParentAccess AccessToParent(Storage& storage, int64_t account, const StoredRecord& parent) {
  bool ownerReadOnly = false;
  bool ownerHides = false;
  if (parent.kind == RecordKind::kCalendar) {
    if (auto content = DecodeCalendarContent(parent.content)) {
      ownerReadOnly = content->readOnly;
      ownerHides = content->hideDetails;
    }
  } else if (auto content = DecodeCategoryContent(parent.content)) {
    ownerReadOnly = content->readOnly;
  }

  ParentAccess access;
  if (parent.owner == account) {
    access.known = true;
    access.owned = true;
    access.visible = !parent.deleted;
    access.writable = access.visible;
    // Owners are never read-only; the flags they set are what they grant.
    access.readOnly = ownerReadOnly;
    access.hideDetails = ownerHides;
    access.viewVersion = parent.version;
    return access;
  }
  std::optional<Grant> grant = storage.FindGrant(parent.kind, parent.sid, account);
  if (!grant) return access;
  access.known = true;
  access.visible = !parent.deleted && !grant->revoked;
  access.hideDetails = ownerHides || grant->hideDetails;
  access.readOnly = ownerReadOnly || grant->readOnly || access.hideDetails;
  access.writable = access.visible && !access.readOnly;
  access.grantVersion = grant->version;
  access.viewVersion = std::max(parent.version, grant->version);
  return access;
}

ChildAccess AccessToChild(Storage& storage, int64_t account, const StoredRecord& child) {
  ChildAccess access;
  bool linked = false;
  for (const StoredLink& link : storage.LinksOf(child.kind, child.sid)) {
    if (link.deleted) continue;
    linked = true;
    std::optional<StoredRecord> parent =
        storage.FindRecord(ParentKindOf(child.kind), link.parentSid);
    if (!parent) continue;
    ParentAccess parentAccess = AccessToParent(storage, account, *parent);
    access.visible = access.visible || parentAccess.visible;
    access.writable = access.writable || parentAccess.writable;
  }
  if (!linked && child.kind == RecordKind::kContact && child.owner == account) {
    access.visible = true;
    access.writable = true;
  }
  return access;
}

}  // namespace brontel::server
