// Sharing: grants that publish one account's calendar or category to another
// account, made and revoked from the command line. Granting, changing or
// revoking takes a fresh version, so the subscriber's next answer carries the
// record (or its end); each order runs in one transaction.
#pragma once

#include <string>

#include "server/storage.h"

namespace brontel::server {

struct ShareOrder {
  std::string owner;
  std::string subscriber;
  // kCalendar or kCategory.
  RecordKind kind = RecordKind::kCalendar;
  // The name of a live calendar or category of the owner.
  std::string name;
  bool readOnly = true;
  bool hideDetails = false;
};

// Both return an empty text on success, else what went wrong.
std::string Share(Storage& storage, const ShareOrder& order);
std::string Unshare(Storage& storage, const ShareOrder& order);

}  // namespace brontel::server
