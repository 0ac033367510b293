// Tests of the libcurl HttpClient against a local server: the request as it
// arrives (verb, path, exact body bytes, headers), the forms of the server
// setting, statuses as answers, connection failures as HttpError, proxy
// credentials, and the replaceable current client.
#include "brontel/platform/http_client.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include "support/loopback_http_server.h"
#include "support/scoped_environment.h"
#include "support/scripted_http_client.h"

namespace brontel {
namespace {

using ::testing::HasSubstr;
using testing::LoopbackHttpServer;
using testing::NoProxyEnvironment;
using testing::RecordedRequest;
using testing::ScopedEnvironment;
using testing::ScriptedReply;

// "Basic " and the base64 form of "user:secret".
constexpr char kProxyAuthorization[] = "Basic dXNlcjpzZWNyZXQ=";

class HttpClientTest : public ::testing::Test {
 protected:
  HttpRequest Request(const std::string& object = "/page") const {
    HttpRequest request;
    request.server = server.Address();
    request.object = object;
    request.connectTimeoutSeconds = 1;
    request.stallTimeoutSeconds = 1;
    return request;
  }
  RecordedRequest OnlyRequest() const {
    const auto requests = server.Requests();
    EXPECT_EQ(requests.size(), 1u);
    return requests.empty() ? RecordedRequest{} : requests.back();
  }

  NoProxyEnvironment noProxy;
  ScriptedReply reply{200, "<answer/>", {}, ScriptedReply::Ending::kWhole};
  // How the server answers; by default with reply. Set before any exchange.
  LoopbackHttpServer::Handler answer = [this](const RecordedRequest&) { return reply; };
  LoopbackHttpServer server{[this](const RecordedRequest& request) { return answer(request); }};
};

TEST_F(HttpClientTest, PostSendsTheBodyBytesAndHeadersUnchanged) {
  const std::string body("<q a=\"1&amp;2\">x&y=%20+z</q>\0\xff", 31);
  HttpRequest request = Request();
  request.body = body;
  request.headers = {"Content-type: application/x-www-form-urlencoded"};
  request.agent = "TestAgent";

  const HttpResponse response = HttpClient::Current().Exchange(request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "<answer/>");
  const RecordedRequest seen = OnlyRequest();
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.target, "/page");
  EXPECT_EQ(seen.body, body);
  EXPECT_EQ(seen.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen.Header("User-Agent"), "TestAgent");
  EXPECT_EQ(seen.Header("Expect"), "");
}

TEST_F(HttpClientTest, GetSendsTheObjectAsGivenAndNoBody) {
  HttpRequest request = Request("/page?xmlreq=a=1&b");
  request.verb = "GET";
  request.body = "ignored";

  EXPECT_EQ(HttpClient::Current().Exchange(request).status, 200);

  const RecordedRequest seen = OnlyRequest();
  EXPECT_EQ(seen.method, "GET");
  EXPECT_EQ(seen.target, "/page?xmlreq=a=1&b");
  EXPECT_EQ(seen.body, "");
}

TEST_F(HttpClientTest, EveryFormOfTheServerSettingReachesTheServer) {
  const std::string hostPort = server.Address();
  struct Case {
    std::string server;
    std::string object;
    std::string target;
  };
  const Case cases[] = {
      {hostPort, "/page", "/page"},
      {"http://" + hostPort, "/page", "/page"},
      {"HTTP://" + hostPort + "/", "/page", "/page"},
      {"http://" + hostPort + "/base//", "/page", "/base/page"},
      {hostPort, "page", "/page"},
  };
  for (const Case& c : cases) {
    HttpRequest request = Request(c.object);
    request.server = c.server;
    EXPECT_EQ(HttpClient::Current().Exchange(request).status, 200) << c.server;
    EXPECT_EQ(server.Requests().back().target, c.target) << c.server;
  }
}

TEST_F(HttpClientTest, AnyStatusIsAnAnswerWithItsBody) {
  for (int status : {200, 400, 404, 407, 500}) {
    reply = ScriptedReply{status, "body " + std::to_string(status), {}};
    const HttpResponse response = HttpClient::Current().Exchange(Request());
    EXPECT_EQ(response.status, status);
    EXPECT_EQ(response.body, "body " + std::to_string(status));
  }
}

TEST_F(HttpClientTest, AnExchangeThatCannotCompleteRaisesLibcurlsText) {
  reply.body = std::string(4000, 'b');
  const std::string closedPort = std::to_string(testing::ClosedLoopbackPort());
  struct Case {
    const char* what;
    std::string server;
    ScriptedReply::Ending ending;
    std::string inMessage;
  };
  const Case cases[] = {
      {"nothing listens", "127.0.0.1:" + closedPort, ScriptedReply::Ending::kWhole, closedPort},
      {"body cut short", server.Address(), ScriptedReply::Ending::kCutMidBody, ""},
      {"body stalls", server.Address(), ScriptedReply::Ending::kStallMidBody,
       "nothing sent or received for 1 seconds"},
      {"https to a plain server", "https://" + server.Address(), ScriptedReply::Ending::kWhole, ""},
  };
  for (const Case& c : cases) {
    reply.ending = c.ending;
    HttpRequest request = Request();
    request.server = c.server;
    request.body = "bytes sent early do not hide a stall";
    try {
      HttpClient::Current().Exchange(request);
      ADD_FAILURE() << c.what << ": no HttpError";
    } catch (const HttpError& error) {
      EXPECT_STRNE(error.what(), "") << c.what;
      EXPECT_THAT(error.what(), HasSubstr(c.inMessage)) << c.what;
    }
  }
}

class HttpProxyTest : public HttpClientTest {
 protected:
  HttpProxyTest() {
    // The test's server acts as a proxy that wants user and secret.
    proxy.Set("http://" + server.Address());
    answer = [](const RecordedRequest& request) {
      if (request.Header("Proxy-Authorization") == kProxyAuthorization) {
        return ScriptedReply{200, "through", {}};
      }
      return ScriptedReply{407, "", {{"Proxy-Authenticate", "Basic realm=\"test\""}}};
    };
  }
  void TearDown() override { HttpClient::SetProxyCredentialsCallback(nullptr); }

  HttpRequest ProxiedRequest() const {
    HttpRequest request = Request();
    request.server = "tandro.invalid";  // reached only through the proxy
    request.body = "document";
    return request;
  }

  ScopedEnvironment proxy{"http_proxy", std::nullopt};
};

TEST_F(HttpProxyTest, CredentialsAreSentToTheProxy) {
  HttpRequest request = ProxiedRequest();
  EXPECT_EQ(HttpClient::Current().Exchange(request).status, 407);

  request.proxyCredentials = ProxyCredentials{"user", "secret"};
  const HttpResponse response = HttpClient::Current().Exchange(request);

  EXPECT_EQ(response.status, 200);
  EXPECT_EQ(response.body, "through");
  const RecordedRequest seen = server.Requests().back();
  EXPECT_EQ(seen.target, "http://tandro.invalid/page");
  EXPECT_EQ(seen.Header("Proxy-Authorization"), kProxyAuthorization);
  EXPECT_EQ(seen.body, "document");
}

TEST_F(HttpProxyTest, ThePromptStoresTheCredentialsTheUserGives) {
  HttpRequest request = ProxiedRequest();
  EXPECT_FALSE(HttpClient::PromptProxyCredentials(&request)) << "no prompt installed";
  EXPECT_FALSE(request.proxyCredentials);

  std::string askedFor;
  HttpClient::SetProxyCredentialsCallback(
      [&](const HttpRequest& asking, ProxyCredentials* credentials) {
        askedFor = asking.server;
        *credentials = ProxyCredentials{"user", "secret"};
        return true;
      });
  ASSERT_TRUE(HttpClient::PromptProxyCredentials(&request));
  EXPECT_EQ(askedFor, "tandro.invalid");
  ASSERT_TRUE(request.proxyCredentials);
  EXPECT_EQ(request.proxyCredentials->user, "user");
  EXPECT_EQ(request.proxyCredentials->password, "secret");

  HttpClient::SetProxyCredentialsCallback(
      [](const HttpRequest&, ProxyCredentials*) { return false; });
  HttpRequest declined = ProxiedRequest();
  EXPECT_FALSE(HttpClient::PromptProxyCredentials(&declined));
  EXPECT_FALSE(declined.proxyCredentials);
}

TEST(HttpClientInstallTest, TheInstalledClientServesUntilTheDefaultIsRestored) {
  HttpClient* const defaultClient = &HttpClient::Current();
  {
    testing::ScriptedHttpClient scripted;
    EXPECT_EQ(&HttpClient::Current(), &scripted);
    scripted.Answer(503, "busy");
    scripted.Drop("dropped");
    HttpRequest request;
    request.server = "tandro.invalid";
    EXPECT_EQ(HttpClient::Current().Exchange(request).status, 503);
    EXPECT_THROW(HttpClient::Current().Exchange(request), HttpError);
    EXPECT_EQ(scripted.requests().size(), 2u);
  }
  EXPECT_EQ(&HttpClient::Current(), defaultClient);
}

}  // namespace
}  // namespace brontel
