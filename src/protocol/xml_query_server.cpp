#include "brontel/protocol/xml_query_server.h"

#include "brontel/host/registry.h"
#include "brontel/host/tandro_messenger.h"
#include "brontel/platform/format.h"
#include "brontel/platform/http_client.h"

namespace brontel {
namespace {

constexpr int32_t kStatusOk = 200;
constexpr int32_t kStatusGarbledRequest = 400;
constexpr int32_t kStatusNotFound = 404;

std::string StatusMessage(int32_t status) {
  switch (status) {
    case kStatusGarbledRequest:
      return Format("Server query error %d (garbled request)", status);
    case kStatusNotFound:
      return Format("Server query error %d (requested URL not found)", status);
    default:
      return Format("Server query error %d", status);
  }
}

// Exchanges request, putting every proxy demand for credentials to the user
// until the user gives up or the proxy lets the request through. The news
// window is told before and after each prompt, as around any message box.
HttpResponse ExchangeWithProxyPrompt(HttpRequest& request) {
  for (;;) {
    HttpResponse response = HttpClient::Current().Exchange(request);
    if (response.status != HttpClient::kProxyAuthenticationRequired) return response;
    CTandroMessenger messenger;
    messenger.SendShowNewsWindowMessage(CTandroMessenger::kNewsCommandBeforeBox);
    const bool retry = HttpClient::PromptProxyCredentials(&request);
    messenger.SendShowNewsWindowMessage(CTandroMessenger::kNewsCommandAfterBox);
    if (!retry) return response;
  }
}

}  // namespace

XmlQueryServer::XmlQueryServer() : m_queryPrefix(kDefaultQueryPrefix) {
  const CRegistry registry;
  m_server = registry.GetServerSyncName();
  if (m_server.empty()) m_server = kDefaultServer;
  m_url = registry.GetServerSyncUrl();
  if (m_url.empty()) m_url = kDefaultUrl;
}

XmlQueryServer::XmlQueryServer(const std::string& server, const std::string& url,
                               const std::string& prefix)
    : m_server(server), m_url(url), m_queryPrefix(prefix) {}

br_error XmlQueryServer::ResponseToQuery(const std::string& query, bool post) {
  const std::string header =
      "<?xml version=\"1.0\"?><!-- SERVER[" + m_server + "] URL[" + m_url + "] -->";
  m_errorMessage.clear();

  const CRegistry registry;
  HttpRequest request;
  request.server = m_server;
  request.agent = kAgentName;
  request.connectTimeoutSeconds = registry.GetConnectTimeoutSeconds();
  request.stallTimeoutSeconds = registry.GetStallTimeoutSeconds();
  if (post) {
    // The body goes as it is, although the content type promises form encoding:
    // the server reads the document from the raw body.
    request.verb = "POST";
    request.object = m_url;
    request.headers.push_back("Content-type: application/x-www-form-urlencoded");
    request.body = query;
  } else {
    request.verb = "GET";
    request.object = m_url + "?" + m_queryPrefix + query;
  }

  try {
    const HttpResponse response = ExchangeWithProxyPrompt(request);
    if (response.status != kStatusOk) {
      m_errorMessage = StatusMessage(response.status);
      return ERR_SERVER_QUERY;
    }
    m_response = header + response.body;
    return ERR_NONE;
  } catch (const HttpError& error) {
    m_errorMessage = std::string("Internet connection error: ") + error.what();
    return ERR_CONNECTION;
  }
}

}  // namespace brontel
