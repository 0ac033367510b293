// FaultProxy stands between the library and the real server on loopback and
// spoils one chosen exchange of a synchronization: it forwards every request
// to the server and hands back the server's answer, except for the armed
// exchange, which meets one fault. Exchanges are counted where the library
// makes them (the proxy installs itself as the HTTP client for its lifetime
// and passes every exchange on to the default client), so a refused
// connection, which never reaches the proxy, is counted like the others.
#pragma once

#include <httplib.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <random>
#include <string>
#include <utility>

#include "brontel/platform/http_client.h"
#include "support/loopback_http_server.h"

namespace brontel::server::testing {

enum class Fault {
  kNone,
  // Nothing listens where the exchange goes: the server never sees it.
  kRefused,
  // The server is not asked; the answer is status 500.
  kHttp500,
  // The server takes the request; the answer is status 200 with random bytes.
  kGarbage,
  // The server takes the request; the answer is its first half, with a
  // Content-Length that matches the half, so the transfer itself is whole.
  kTruncated,
  // The server takes the request; the connection closes halfway through the
  // body the headers promised.
  kCutMidBody,
  // The server takes the request; half the body comes, then nothing.
  kStallMidBody,
};

inline const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kNone:
      return "none";
    case Fault::kRefused:
      return "connection refused";
    case Fault::kHttp500:
      return "HTTP 500";
    case Fault::kGarbage:
      return "garbage body";
    case Fault::kTruncated:
      return "truncated body";
    case Fault::kCutMidBody:
      return "cut mid-body";
    case Fault::kStallMidBody:
      return "stall mid-body";
  }
  return "?";
}

class FaultProxy {
 public:
  // Forwards to the server listening on 127.0.0.1:serverPort.
  explicit FaultProxy(int serverPort)
      : m_serverPort(serverPort),
        m_client(*this),
        m_server(
            [this](const brontel::testing::RecordedRequest& request) { return Answer(request); }) {
    m_previousClient = HttpClient::Install(&m_client);
  }
  ~FaultProxy() { HttpClient::Install(m_previousClient); }
  FaultProxy(const FaultProxy&) = delete;
  FaultProxy& operator=(const FaultProxy&) = delete;

  // "127.0.0.1:<port>": what the library is told the server is.
  std::string Address() const { return m_server.Address(); }

  // Counts exchanges from 1 again; the nth meets fault. Just before that
  // exchange goes out, atFault runs (to look at the files as they are then).
  void Arm(Fault fault, int32_t nth, std::function<void()> atFault = {}) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_fault = fault;
    m_nth = nth;
    m_atFault = std::move(atFault);
    m_exchanges = 0;
    m_met = false;
  }
  void Disarm() { Arm(Fault::kNone, 0); }

  // The exchanges since Arm, and whether the armed one came.
  int32_t Exchanges() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_exchanges;
  }
  bool Met() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_met;
  }

 private:
  // The library's HTTP client while the proxy lives: counts, and sends the
  // faulted exchange where nothing listens when the fault is a refusal.
  class CountingClient : public HttpClient {
   public:
    explicit CountingClient(FaultProxy& proxy) : m_proxy(proxy) {}
    HttpResponse Exchange(const HttpRequest& request) override {
      const Fault fault = m_proxy.Count();
      // The library makes one exchange at a time: the proxy's next request
      // is this exchange.
      m_proxy.m_pending = fault == Fault::kRefused ? Fault::kNone : fault;
      if (fault != Fault::kRefused) return HttpClient::Exchange(request);
      HttpRequest refused = request;
      refused.server = "127.0.0.1:" + std::to_string(brontel::testing::ClosedLoopbackPort());
      return HttpClient::Exchange(refused);
    }

   private:
    FaultProxy& m_proxy;
  };

  // Counts one exchange and gives the fault it meets (kNone for most).
  Fault Count() {
    std::function<void()> atFault;
    Fault fault = Fault::kNone;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ++m_exchanges;
      if (m_fault != Fault::kNone && m_exchanges == m_nth) {
        fault = m_fault;
        m_met = true;
        atFault = m_atFault;
      }
    }
    if (atFault) atFault();
    return fault;
  }

  static brontel::testing::ScriptedReply Reply(int status, std::string body) {
    brontel::testing::ScriptedReply reply;
    reply.status = status;
    reply.body = std::move(body);
    return reply;
  }

  brontel::testing::ScriptedReply Answer(const brontel::testing::RecordedRequest& request) {
    using brontel::testing::ScriptedReply;
    const Fault fault = m_pending.exchange(Fault::kNone);
    if (fault == Fault::kHttp500) return Reply(500, "<html>Internal Server Error</html>");
    ScriptedReply reply = Forward(request);
    switch (fault) {
      case Fault::kGarbage: {
        std::mt19937 random(static_cast<uint32_t>(reply.body.size()));
        std::string bytes(512, '\0');
        for (char& byte : bytes) byte = static_cast<char>(random() & 0xFF);
        reply.body = bytes;
        break;
      }
      case Fault::kTruncated:
        reply.body.resize(reply.body.size() / 2);
        break;
      case Fault::kCutMidBody:
        reply.ending = ScriptedReply::Ending::kCutMidBody;
        break;
      case Fault::kStallMidBody:
        reply.ending = ScriptedReply::Ending::kStallMidBody;
        break;
      default:
        break;
    }
    return reply;
  }

  // The real server's answer to request; a 502 when the server gave none.
  brontel::testing::ScriptedReply Forward(const brontel::testing::RecordedRequest& request) {
    httplib::Client client("127.0.0.1", m_serverPort);
    client.set_read_timeout(30, 0);
    const std::string type = request.Header("Content-Type");
    httplib::Result result =
        client.Post(request.target, request.body, type.empty() ? "application/octet-stream" : type);
    if (!result) return Reply(502, "proxy: no answer from the server");
    return Reply(result->status, result->body);
  }

  int m_serverPort;
  CountingClient m_client;
  HttpClient* m_previousClient = nullptr;
  mutable std::mutex m_mutex;
  Fault m_fault = Fault::kNone;
  int32_t m_nth = 0;
  std::function<void()> m_atFault;
  int32_t m_exchanges = 0;
  bool m_met = false;
  std::atomic<Fault> m_pending{Fault::kNone};
  // Last, so that it stops first: its handlers use the members above.
  brontel::testing::LoopbackHttpServer m_server;
};

}  // namespace brontel::server::testing
