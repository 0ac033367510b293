#include "server/sharing.h"

#include <optional>

namespace brontel::server {

namespace {

std::string NameOf(const StoredRecord& record) {
  if (record.kind == RecordKind::kCalendar) {
    std::optional<CalendarContent> content = DecodeCalendarContent(record.content);
    return content ? content->name : std::string();
  }
  std::optional<CategoryContent> content = DecodeCategoryContent(record.content);
  return content ? content->name : std::string();
}

// Applies one order: revoke, or grant with the order's flags.
std::string Change(Storage& storage, const ShareOrder& order, bool revoke) {
  std::optional<Account> owner = storage.FindAccountByName(order.owner);
  if (!owner) return "no account named " + order.owner;
  std::optional<Account> subscriber = storage.FindAccountByName(order.subscriber);
  if (!subscriber) return "no account named " + order.subscriber;
  if (owner->id == subscriber->id) return "an account cannot share with itself";
  std::optional<StoredRecord> shared;
  for (const StoredRecord& record : storage.RecordsOwnedBy(order.kind, owner->id)) {
    if (!record.deleted && NameOf(record) == order.name) {
      shared = record;
      break;
    }
  }
  const char* kindName = order.kind == RecordKind::kCalendar ? "calendar" : "category";
  if (!shared) return order.owner + " has no " + kindName + " named " + order.name;
  std::optional<Grant> grant = storage.FindGrant(order.kind, shared->sid, subscriber->id);
  if (revoke) {
    if (!grant || grant->revoked) return std::string();
    grant->revoked = true;
  } else {
    if (!grant) grant = Grant{order.kind, shared->sid, subscriber->id, true, false, 0, false};
    grant->readOnly = order.readOnly || order.hideDetails;
    grant->hideDetails = order.hideDetails;
    grant->revoked = false;
  }
  grant->version = TakeVersion(storage);
  storage.PutGrant(*grant);
  return std::string();
}

std::string Run(Storage& storage, const ShareOrder& order, bool revoke) {
  storage.Begin();
  try {
    std::string error = Change(storage, order, revoke);
    if (error.empty()) {
      storage.Commit();
    } else {
      storage.Rollback();
    }
    return error;
  } catch (...) {
    storage.Rollback();
    throw;
  }
}

}  // namespace

std::string Share(Storage& storage, const ShareOrder& order) {
  return Run(storage, order, false);
}

std::string Unshare(Storage& storage, const ShareOrder& order) {
  return Run(storage, order, true);
}

}  // namespace brontel::server
