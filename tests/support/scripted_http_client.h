// An HttpClient for tests that answers from a script instead of the network:
// each exchange takes the next scripted outcome (an answer, or a connection
// that drops) and is recorded. Installed for the lifetime of the object.
#pragma once

#include <deque>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "brontel/platform/http_client.h"

namespace brontel::testing {

class ScriptedHttpClient : public HttpClient {
 public:
  ScriptedHttpClient() { m_previous = HttpClient::Install(this); }
  ~ScriptedHttpClient() override { HttpClient::Install(m_previous); }
  ScriptedHttpClient(const ScriptedHttpClient&) = delete;
  ScriptedHttpClient& operator=(const ScriptedHttpClient&) = delete;

  // The next exchange answers status and body.
  void Answer(int32_t status, std::string body = "") {
    m_script.push_back(Outcome{HttpResponse{status, std::move(body)}, std::nullopt});
  }
  // The next exchange fails as a dropped connection with message.
  void Drop(std::string message) { m_script.push_back(Outcome{{}, std::move(message)}); }

  // An exchange beyond the script drops with "no answer scripted".
  HttpResponse Exchange(const HttpRequest& request) override {
    m_requests.push_back(request);
    if (m_script.empty()) throw HttpError("no answer scripted");
    Outcome next = std::move(m_script.front());
    m_script.pop_front();
    if (next.drop) throw HttpError(*next.drop);
    return next.response;
  }

  const std::vector<HttpRequest>& requests() const { return m_requests; }

 private:
  struct Outcome {
    HttpResponse response;
    std::optional<std::string> drop;
  };

  HttpClient* m_previous;
  std::deque<Outcome> m_script;
  std::vector<HttpRequest> m_requests;
};

}  // namespace brontel::testing
