#include "support/loopback_http_server.h"

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <stdexcept>

namespace brontel::testing {

std::string RecordedRequest::Header(const std::string& name) const {
  for (const auto& [key, value] : headers) {
    if (::strcasecmp(key.c_str(), name.c_str()) == 0) return value;
  }
  return "";
}

LoopbackHttpServer::LoopbackHttpServer(Handler handler)
    : m_handler(std::move(handler)), m_server(std::make_unique<httplib::Server>()) {
  auto serve = [this](const httplib::Request& request, httplib::Response& response) {
    RecordedRequest recorded{request.method, request.target, request.body, {}};
    for (const auto& header : request.headers) recorded.headers.push_back(header);
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_requests.push_back(recorded);
    }
    const ScriptedReply reply = m_handler(recorded);
    response.status = reply.status;
    for (const auto& [name, value] : reply.headers) response.set_header(name, value);
    if (reply.ending == ScriptedReply::Ending::kWhole) {
      response.set_content(reply.body, "text/xml");
      return;
    }
    const std::string half = reply.body.substr(0, reply.body.size() / 2);
    const bool stall = reply.ending == ScriptedReply::Ending::kStallMidBody;
    response.set_content_provider(
        reply.body.size(), "text/xml",
        [this, half, stall](size_t offset, size_t, httplib::DataSink& sink) {
          if (offset == 0) sink.write(half.data(), half.size());
          if (stall) {
            std::unique_lock<std::mutex> lock(m_mutex);
            m_released.wait_for(lock, std::chrono::seconds(30), [this] { return m_stopping; });
          }
          return false;  // closes the connection short of the promised length
        });
  };
  // A client that sends no request line (a TLS handshake) holds a worker, and
  // so the server's stop, for this long.
  m_server->set_read_timeout(1, 0);
  m_server->Get(".*", serve);
  m_server->Post(".*", serve);
  m_port = m_server->bind_to_any_port("127.0.0.1");
  if (m_port <= 0) throw std::runtime_error("cannot listen on 127.0.0.1");
  m_thread = std::thread([this] { m_server->listen_after_bind(); });
  // stop() only ends a loop that has started.
  for (int i = 0; i < 5000 && !m_server->is_running(); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

LoopbackHttpServer::~LoopbackHttpServer() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stopping = true;
  }
  m_released.notify_all();
  m_server->stop();
  m_thread.join();
}

std::string LoopbackHttpServer::Address() const {
  return "127.0.0.1:" + std::to_string(m_port);
}

std::vector<RecordedRequest> LoopbackHttpServer::Requests() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_requests;
}

int ClosedLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) std::abort();
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::abort();
  }
  ::close(fd);  // bound but never listening: connections are refused
  return ntohs(address.sin_port);
}

}  // namespace brontel::testing
