#include "brontel/platform/http_client.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <new>
#include <utility>

#include "brontel/platform/format.h"

namespace brontel {
namespace {

HttpClient g_default;
std::atomic<HttpClient*> g_current{&g_default};

std::mutex g_promptMutex;
ProxyCredentialsCallback g_prompt;

// curl_global_init is not thread-safe; run it once before the first handle.
void InitializeCurlOnce() {
  static std::once_flag once;
  std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

bool StartsWithNoCase(const std::string& text, const std::string& prefix) {
  if (text.size() < prefix.size()) return false;
  return std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
    return std::tolower(static_cast<unsigned char>(a)) ==
           std::tolower(static_cast<unsigned char>(b));
  });
}

// The full address of the request: the server as a URL (plain HTTP when it
// names no scheme) without trailing slashes, then the object.
std::string RequestUrl(const HttpRequest& request) {
  std::string url = request.server;
  size_t schemeEnd = 0;
  if (StartsWithNoCase(url, "http://")) {
    schemeEnd = 7;
  } else if (StartsWithNoCase(url, "https://")) {
    schemeEnd = 8;
  } else {
    url = "http://" + url;
    schemeEnd = 7;
  }
  while (url.size() > schemeEnd && url.back() == '/') url.pop_back();
  if (request.object.empty() || request.object.front() != '/') url += '/';
  return url + request.object;
}

size_t AppendBody(char* data, size_t size, size_t count, void* userData) {
  try {
    static_cast<std::string*>(userData)->append(data, size * count);
    return size * count;
  } catch (const std::bad_alloc&) {
    return 0;  // libcurl ends the transfer with a write error
  }
}

struct EasyDeleter {
  void operator()(CURL* curl) const { curl_easy_cleanup(curl); }
};
struct ListDeleter {
  void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};

long AtLeastOne(int32_t seconds) {
  return std::max<long>(1, seconds);
}

// Ends an exchange that, once connected, sends and receives nothing for the
// stall time. libcurl's own low-speed limit averages over several seconds, so
// a few bytes sent at the start would hide a stall for that long.
struct StallWatch {
  CURL* curl = nullptr;
  std::chrono::steady_clock::duration limit{};
  bool connected = false;
  bool stalled = false;
  curl_off_t received = 0;
  curl_off_t sent = 0;
  std::chrono::steady_clock::time_point lastMove;
};

int WatchForStall(void* userData, curl_off_t, curl_off_t received, curl_off_t, curl_off_t sent) {
  StallWatch& watch = *static_cast<StallWatch*>(userData);
  const auto now = std::chrono::steady_clock::now();
  if (!watch.connected) {
    curl_off_t connectTime = 0;
    curl_easy_getinfo(watch.curl, CURLINFO_CONNECT_TIME_T, &connectTime);
    if (connectTime == 0) return 0;  // still connecting: the connect timeout applies
    watch.connected = true;
  } else if (received == watch.received && sent == watch.sent) {
    if (now - watch.lastMove < watch.limit) return 0;
    watch.stalled = true;
    return 1;  // libcurl ends the transfer
  }
  watch.received = received;
  watch.sent = sent;
  watch.lastMove = now;
  return 0;
}

}  // namespace

HttpResponse HttpClient::Exchange(const HttpRequest& request) {
  InitializeCurlOnce();
  std::unique_ptr<CURL, EasyDeleter> curl(curl_easy_init());
  if (!curl) throw HttpError(curl_easy_strerror(CURLE_FAILED_INIT));
  CURL* h = curl.get();

  HttpResponse response;
  char errorText[CURL_ERROR_SIZE] = "";
  const std::string url = RequestUrl(request);

  curl_easy_setopt(h, CURLOPT_URL, url.c_str());
  curl_easy_setopt(h, CURLOPT_ERRORBUFFER, errorText);
  // HTTP and HTTPS only: no setting may lead the client to another protocol.
  curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYPEER, 1L);
  curl_easy_setopt(h, CURLOPT_SSL_VERIFYHOST, 2L);
  // A host whose server certificate comes from its own authority names that
  // authority's certificates (PEM) here. It changes whom the client trusts,
  // never whether it checks; a file that cannot be read fails the exchange.
  const char* caFile = std::getenv(kCaFileVariable);
  if (caFile != nullptr && caFile[0] != '\0') curl_easy_setopt(h, CURLOPT_CAINFO, caFile);
  curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, AtLeastOne(request.connectTimeoutSeconds));
  StallWatch watch;
  watch.curl = h;
  watch.limit = std::chrono::seconds(AtLeastOne(request.stallTimeoutSeconds));
  curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, &WatchForStall);
  curl_easy_setopt(h, CURLOPT_XFERINFODATA, &watch);
  curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
  curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, &AppendBody);
  curl_easy_setopt(h, CURLOPT_WRITEDATA, &response.body);
  if (!request.agent.empty()) curl_easy_setopt(h, CURLOPT_USERAGENT, request.agent.c_str());

  if (request.verb == "POST") {
    curl_easy_setopt(h, CURLOPT_POST, 1L);
    curl_easy_setopt(h, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
    curl_easy_setopt(h, CURLOPT_POSTFIELDS, request.body.data());
  } else if (request.verb == "GET") {
    curl_easy_setopt(h, CURLOPT_HTTPGET, 1L);
  } else {
    curl_easy_setopt(h, CURLOPT_CUSTOMREQUEST, request.verb.c_str());
  }

  std::unique_ptr<curl_slist, ListDeleter> headers;
  auto addHeader = [&headers](const std::string& line) {
    // The result is the list's head: the old one, or the first line's node.
    curl_slist* head = curl_slist_append(headers.get(), line.c_str());
    if (head == nullptr) throw HttpError(curl_easy_strerror(CURLE_OUT_OF_MEMORY));
    if (head != headers.get()) headers.reset(head);
  };
  for (const std::string& line : request.headers) addHeader(line);
  // Send the body at once instead of waiting for a "100 Continue" that some
  // servers never send.
  addHeader("Expect:");
  curl_easy_setopt(h, CURLOPT_HTTPHEADER, headers.get());

  if (request.proxyCredentials) {
    curl_easy_setopt(h, CURLOPT_PROXYUSERNAME, request.proxyCredentials->user.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYPASSWORD, request.proxyCredentials->password.c_str());
    curl_easy_setopt(h, CURLOPT_PROXYAUTH, CURLAUTH_ANY);
  }

  const CURLcode code = curl_easy_perform(h);
  if (code != CURLE_OK) {
    // A proxy that refuses to open a tunnel for https without credentials
    // answers like a plain proxy would: with status 407.
    long connectStatus = 0;
    curl_easy_getinfo(h, CURLINFO_HTTP_CONNECTCODE, &connectStatus);
    if (connectStatus == kProxyAuthenticationRequired) {
      return HttpResponse{kProxyAuthenticationRequired, {}};
    }
    if (watch.stalled) {
      throw HttpError(Format("%s: nothing sent or received for %d seconds",
                             curl_easy_strerror(CURLE_OPERATION_TIMEDOUT),
                             static_cast<int>(AtLeastOne(request.stallTimeoutSeconds))));
    }
    throw HttpError(errorText[0] != '\0' ? errorText : curl_easy_strerror(code));
  }
  long status = 0;
  curl_easy_getinfo(h, CURLINFO_RESPONSE_CODE, &status);
  response.status = static_cast<int32_t>(status);
  return response;
}

HttpClient& HttpClient::Current() {
  return *g_current.load();
}

HttpClient* HttpClient::Install(HttpClient* client) {
  return g_current.exchange(client != nullptr ? client : &g_default);
}

ProxyCredentialsCallback HttpClient::SetProxyCredentialsCallback(
    ProxyCredentialsCallback callback) {
  std::lock_guard<std::mutex> lock(g_promptMutex);
  return std::exchange(g_prompt, std::move(callback));
}

bool HttpClient::PromptProxyCredentials(HttpRequest* request) {
  ProxyCredentialsCallback prompt;
  {
    std::lock_guard<std::mutex> lock(g_promptMutex);
    prompt = g_prompt;
  }
  if (!prompt) return false;
  ProxyCredentials credentials;
  if (!prompt(*request, &credentials)) return false;
  request->proxyCredentials = std::move(credentials);
  return true;
}

}  // namespace brontel
