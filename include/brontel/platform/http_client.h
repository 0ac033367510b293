// HttpClient: one HTTP exchange at a time (a request out, the status and the
// whole body back), through a replaceable object so tests can script answers or
// drop the connection.
//
// The default object uses libcurl, one easy handle per exchange. A failure to
// complete the exchange (no connection, a timeout, a transfer cut short, a TLS
// failure) raises HttpError with libcurl's own text; any HTTP status, good or
// bad, is an answer. A proxy's demand for credentials (status 407) is put to a
// host-installed callback; without one the exchange simply ends with 407.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace brontel {

// What a proxy that answered 407 is given on the next try.
struct ProxyCredentials {
  std::string user;
  std::string password;
};

struct HttpRequest {
  // A host name or address, "host:port", or a URL that begins "http://" or
  // "https://" (possibly with a port and a base path). A bare host is reached
  // with plain HTTP on port 80; https is verified with the system's certificates
  // (see HttpClient::kCaFileVariable), always including the host name.
  std::string server;
  // The path of the page, with its query when there is one; sent as given,
  // without escaping.
  std::string object;
  // "POST" sends body with its exact bytes; "GET" sends no body.
  std::string verb = "POST";
  std::string body;
  // Extra header lines, "Name: value" each, without line ends.
  std::vector<std::string> headers;
  // The User-Agent header; none when empty.
  std::string agent;
  // Seconds to wait for a connection, and, once connected, for the next byte
  // in either direction. Values below 1 count as 1, so nothing waits forever.
  int32_t connectTimeoutSeconds = 30;
  int32_t stallTimeoutSeconds = 120;
  // Sent to a proxy (the one the environment names: http_proxy, https_proxy,
  // all_proxy, no_proxy) when set.
  std::optional<ProxyCredentials> proxyCredentials;
};

struct HttpResponse {
  int32_t status = 0;
  std::string body;
};

// The exchange could not be completed; what() is the client library's text.
class HttpError : public std::runtime_error {
 public:
  explicit HttpError(const std::string& message) : std::runtime_error(message) {}
};

// Asked after a 407: fills credentials and returns true when the user wants the
// exchange tried again with them, false to give up.
using ProxyCredentialsCallback =
    std::function<bool(const HttpRequest& request, ProxyCredentials* credentials)>;

class HttpClient {
 public:
  // A status the exchange can end with: a proxy wants credentials.
  static constexpr int32_t kProxyAuthenticationRequired = 407;
  // The environment variable that may name a PEM file of certificate
  // authorities for https. When set and not empty, the default client trusts
  // the authorities of that file in place of libcurl's default bundle file (a
  // default certificate directory of libcurl, where it has one, still
  // counts). A file that cannot be read makes every https exchange fail.
  static constexpr char kCaFileVariable[] = "BRONTEL_CA_FILE";

  virtual ~HttpClient() = default;

  // Sends request and returns the status and the whole body. Throws HttpError
  // when no complete answer arrives.
  virtual HttpResponse Exchange(const HttpRequest& request);

  // The object in use.
  static HttpClient& Current();
  // Installs client (null restores the default) and returns the previous one.
  static HttpClient* Install(HttpClient* client);

  // Installs the host's credentials prompt (an empty function removes it) and
  // returns the previous one.
  static ProxyCredentialsCallback SetProxyCredentialsCallback(ProxyCredentialsCallback callback);
  // Puts a 407 to the installed prompt. When the user supplies credentials they
  // are stored in request->proxyCredentials and the result is true (try again);
  // without a prompt, or when the user declines, the result is false.
  static bool PromptProxyCredentials(HttpRequest* request);
};

}  // namespace brontel
