// RequestHandler answers the documents clients post to the server page: a GID
// request (username and password) creates an account or checks its password
// and answers the account's GID; a sync request (gid, records) is applied and
// answered with the changes of the account's view. Each request runs in one
// storage transaction, rolled back whole when anything fails. Hostile input
// gets a status, never a crash: an unparsable body is 400, an oversized one
// 413, a storage failure 500, and an unknown gid or wrong password the
// failure answer <tandroresp sts="0"/>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "server/credentials.h"
#include "server/storage.h"

namespace brontel::server {

struct HttpReply {
  int32_t status = 200;
  std::string body;
};

struct HandlerOptions {
  PasswordCost passwordCost = PasswordCost::kInteractive;
  // Larger request bodies are refused unread. A first synchronization sends
  // every record of the desktop in one request, about 350 bytes per event or
  // contact: 64 MiB takes some 190 000 records, while bounding what one
  // request can make the server hold (the body and its parsed tree).
  size_t maxRequestBytes = 64 * 1024 * 1024;
};

class RequestHandler {
 public:
  // storage must outlive the handler.
  explicit RequestHandler(Storage& storage, HandlerOptions options = HandlerOptions());

  HttpReply Handle(const std::string& body);

 private:
  class Request;

  HttpReply Serve(const Request& request);
  std::string AnswerGidRequest(const Request& request);
  std::string AnswerSyncRequest(const Request& request);

  Storage& m_storage;
  HandlerOptions m_options;
};

}  // namespace brontel::server
