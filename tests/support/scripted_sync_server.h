// A sync server for tests: a loopback HTTP server that answers each request
// with the next prepared reply and records every request document, so a test
// can check what each pass sent byte for byte and feed it the server's answer.
// It points the settings store at itself: construct it while a private
// settings store is in force (ApiTest, or BRONTEL_REGISTRY_DIR set by hand).
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "support/loopback_http_server.h"
#include "support/scoped_environment.h"

namespace brontel::testing {

class ScriptedSyncServer {
 public:
  // Also sets short connect and stall timeouts, so a cut answer fails fast.
  ScriptedSyncServer();
  ScriptedSyncServer(const ScriptedSyncServer&) = delete;
  ScriptedSyncServer& operator=(const ScriptedSyncServer&) = delete;

  // The next request is answered with status 200 and document.
  void Answer(std::string document);
  // The next request is answered with status 200 and what make returns for
  // the request document (for answers that echo what the client sent).
  void AnswerWith(std::function<std::string(const std::string& request)> make);
  // The next request is answered with status and an empty body.
  void Fail(int status);
  // The next request gets half of document, then the connection closes.
  void Cut(std::string document);
  // A request beyond the script is answered with status 500.

  // The request documents received, in order.
  std::vector<std::string> Requests() const;
  size_t RequestCount() const { return Requests().size(); }
  // Replies not yet used.
  size_t Pending() const;
  std::string Address() const { return m_server.Address(); }

 private:
  struct Step {
    ScriptedReply reply;
    std::function<std::string(const std::string&)> make;
  };
  ScriptedReply next(const RecordedRequest& request);

  NoProxyEnvironment m_noProxy;
  mutable std::mutex m_mutex;
  std::deque<Step> m_script;
  LoopbackHttpServer m_server{[this](const RecordedRequest& request) { return next(request); }};
};

}  // namespace brontel::testing
