// An HTTP server on 127.0.0.1 for the tests of the HTTP client: it listens on
// an ephemeral port, records every request and answers each one as the test's
// handler says, including answers that break off in the middle of the body.
#pragma once

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace httplib {
class Server;
}

namespace brontel::testing {

struct RecordedRequest {
  std::string method;
  // The request line's target as sent: a path, or a whole URL when the server
  // is used as a proxy.
  std::string target;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;

  // The value of the first header called name (letter case ignored), or "".
  std::string Header(const std::string& name) const;
};

struct ScriptedReply {
  enum class Ending {
    kWhole,
    // The headers promise the whole body, half of it is sent, then the
    // connection is closed.
    kCutMidBody,
    // Half of the body is sent, then nothing until the server is stopped.
    kStallMidBody,
  };
  int status = 200;
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  Ending ending = Ending::kWhole;
};

class LoopbackHttpServer {
 public:
  using Handler = std::function<ScriptedReply(const RecordedRequest&)>;

  // Listens at once; a failure to listen ends the test run.
  explicit LoopbackHttpServer(Handler handler);
  // Ends stalled answers and stops the server.
  ~LoopbackHttpServer();
  LoopbackHttpServer(const LoopbackHttpServer&) = delete;
  LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

  int port() const { return m_port; }
  // "127.0.0.1:<port>".
  std::string Address() const;
  std::vector<RecordedRequest> Requests() const;

 private:
  Handler m_handler;
  std::unique_ptr<httplib::Server> m_server;
  std::thread m_thread;
  int m_port = 0;
  mutable std::mutex m_mutex;
  std::condition_variable m_released;
  bool m_stopping = false;
  std::vector<RecordedRequest> m_requests;
};

// A loopback port where nothing listens.
int ClosedLoopbackPort();

}  // namespace brontel::testing
