// Tests of XmlQueryServer against a local server: the request it sends (page,
// exact body, headers, GET form), the response with its header, the status
// mapping and messages, connection failures, the server and page settings with
// their defaults, and the proxy prompt with the news-window messages around it.
#include "brontel/protocol/xml_query_server.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brontel/host/registry.h"
#include "brontel/platform/desktop_bus.h"
#include "brontel/platform/http_client.h"
#include "support/api_fixture.h"
#include "support/loopback_http_server.h"
#include "support/private_session_bus.h"
#include "support/scoped_environment.h"
#include "support/scripted_http_client.h"

namespace brontel {
namespace {

using namespace std::chrono_literals;
using testing::LoopbackHttpServer;
using testing::RecordedRequest;
using testing::ScriptedReply;
using ::testing::StartsWith;

constexpr char kPage[] = "/sync/page.asp";
// The news-window messages around the proxy prompt.
constexpr uint32_t kBeforeBox = 0x0006FFFF;
constexpr uint32_t kAfterBox = 0x0009FFFF;

std::string Header(const std::string& server, const std::string& url) {
  return "<?xml version=\"1.0\"?><!-- SERVER[" + server + "] URL[" + url + "] -->";
}

class XmlQueryServerTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    CRegistry registry;
    registry.SetServerSyncName(server.Address());
    registry.SetServerSyncUrl(kPage);
    registry.SetConnectTimeoutSeconds(1);
    registry.SetStallTimeoutSeconds(1);
  }

  RecordedRequest LastRequest() const {
    const auto requests = server.Requests();
    return requests.empty() ? RecordedRequest{} : requests.back();
  }

  testing::NoProxyEnvironment noProxy;
  ScriptedReply reply{200, "<tandroresp/>", {}};
  LoopbackHttpServer::Handler answer = [this](const RecordedRequest&) { return reply; };
  LoopbackHttpServer server{[this](const RecordedRequest& request) { return answer(request); }};
};

TEST_F(XmlQueryServerTest, APostedDocumentGoesUnchangedAndTheAnswerGetsTheHeader) {
  const std::string document = "<tandroreq ts=\"0\"><n>Tom &amp; Jerry</n>a&b=c%41+d</tandroreq>";
  XmlQueryServer query;

  EXPECT_EQ(query.ResponseToQuery(document, true), ERR_NONE);

  EXPECT_EQ(query.GetResponse(), Header(server.Address(), kPage) + "<tandroresp/>");
  EXPECT_EQ(query.GetErrorMessage(), "");
  const RecordedRequest seen = LastRequest();
  EXPECT_EQ(seen.method, "POST");
  EXPECT_EQ(seen.target, kPage);
  EXPECT_EQ(seen.body, document);
  EXPECT_EQ(seen.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(seen.Header("User-Agent"), "TandroServerSession");
}

TEST_F(XmlQueryServerTest, GetModePutsThePrefixAndTheDocumentInTheQueryString) {
  XmlQueryServer query(server.Address(), "/get.asp", "q=");
  EXPECT_EQ(query.ResponseToQuery("a&b=c", false), ERR_NONE);
  EXPECT_EQ(LastRequest().method, "GET");
  EXPECT_EQ(LastRequest().target, "/get.asp?q=a&b=c");
  EXPECT_EQ(LastRequest().body, "");
  EXPECT_EQ(query.GetResponse(), Header(server.Address(), "/get.asp") + "<tandroresp/>");
}

TEST_F(XmlQueryServerTest, AStatusOtherThan200IsAServerQueryError) {
  struct Case {
    int status;
    const char* message;
  };
  const Case cases[] = {
      {400, "Server query error 400 (garbled request)"},
      {404, "Server query error 404 (requested URL not found)"},
      {500, "Server query error 500"},
      {302, "Server query error 302"},
  };
  XmlQueryServer query;
  ASSERT_EQ(query.ResponseToQuery("first", true), ERR_NONE);
  const std::string firstResponse = query.GetResponse();
  for (const Case& c : cases) {
    reply = ScriptedReply{c.status, "<error page/>", {}};
    EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_SERVER_QUERY) << c.status;
    EXPECT_EQ(query.GetErrorMessage(), c.message);
    EXPECT_EQ(query.GetResponse(), firstResponse) << "the last good answer stays";
  }
  reply = ScriptedReply{200, "<again/>", {}};
  EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_NONE);
  EXPECT_EQ(query.GetErrorMessage(), "");
}

TEST_F(XmlQueryServerTest, AnExchangeThatCannotCompleteIsAConnectionError) {
  const std::string closed = "127.0.0.1:" + std::to_string(testing::ClosedLoopbackPort());
  reply.body = "<tandroresp>cut</tandroresp>";
  struct Case {
    const char* what;
    std::string server;
    ScriptedReply::Ending ending;
  };
  const Case cases[] = {
      {"nothing listens", closed, ScriptedReply::Ending::kWhole},
      {"answer cut short", server.Address(), ScriptedReply::Ending::kCutMidBody},
      {"answer stalls", server.Address(), ScriptedReply::Ending::kStallMidBody},
  };
  for (const Case& c : cases) {
    reply.ending = c.ending;
    XmlQueryServer query(c.server, kPage, "xmlreq=");
    EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_CONNECTION) << c.what;
    EXPECT_THAT(query.GetErrorMessage(), StartsWith("Internet connection error: ")) << c.what;
    EXPECT_GT(query.GetErrorMessage().size(), 27u) << c.what << ": the client's text follows";
    EXPECT_EQ(query.GetResponse(), "") << c.what;
  }
}

TEST_F(XmlQueryServerTest, AConnectionThatDropsGivesTheClientsText) {
  testing::ScriptedHttpClient client;
  client.Drop("Recv failure: Connection reset by peer");
  XmlQueryServer query;
  EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_CONNECTION);
  EXPECT_EQ(query.GetErrorMessage(),
            "Internet connection error: Recv failure: Connection reset by peer");
}

TEST_F(XmlQueryServerTest, TheServerSettingMayBeAHostPortOrAUrl) {
  CRegistry registry;
  for (const std::string& setting : {server.Address(), "http://" + server.Address()}) {
    registry.SetServerSyncName(setting);
    XmlQueryServer query;
    EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_NONE) << setting;
    EXPECT_EQ(query.GetResponse(), Header(setting, kPage) + "<tandroresp/>");
    EXPECT_EQ(LastRequest().target, kPage);
  }
}

TEST_F(XmlQueryServerTest, EmptySettingsGiveTheDefaultPageAndHost) {
  CRegistry registry;
  registry.SetServerSyncUrl("");
  XmlQueryServer query;
  EXPECT_EQ(query.GetUrl(), "/tandro/kvRequest.asp");
  EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_NONE);
  EXPECT_EQ(LastRequest().target, "/tandro/kvRequest.asp");

  registry.SetServerSyncName("");
  testing::ScriptedHttpClient client;
  client.Answer(200);
  XmlQueryServer defaults;
  EXPECT_EQ(defaults.GetServer(), XmlQueryServer::kDefaultServer);
  EXPECT_EQ(defaults.ResponseToQuery("<q/>", true), ERR_NONE);
  ASSERT_EQ(client.requests().size(), 1u);
  EXPECT_EQ(client.requests()[0].server, XmlQueryServer::kDefaultServer);
  EXPECT_EQ(client.requests()[0].object, "/tandro/kvRequest.asp");

  const XmlQueryServer given("", "", "");
  EXPECT_EQ(given.GetServer(), "") << "given values are taken as they are";
  EXPECT_EQ(given.GetUrl(), "");
}

TEST_F(XmlQueryServerTest, TheTimeoutsComeFromTheSettings) {
  CRegistry registry;
  registry.SetConnectTimeoutSeconds(3);
  registry.SetStallTimeoutSeconds(4);
  testing::ScriptedHttpClient client;
  client.Answer(200);
  XmlQueryServer().ResponseToQuery("<q/>", true);
  ASSERT_EQ(client.requests().size(), 1u);
  EXPECT_EQ(client.requests()[0].connectTimeoutSeconds, 3);
  EXPECT_EQ(client.requests()[0].stallTimeoutSeconds, 4);
}

// The local server acts as a proxy that wants "user" and "secret"; the page's
// server is reachable only through it.
class XmlQueryServerProxyTest : public XmlQueryServerTest {
 protected:
  void SetUp() override {
    if (!testing::PrivateSessionBus::DaemonInstalled()) {
      GTEST_SKIP() << "dbus-daemon is not installed";
    }
    XmlQueryServerTest::SetUp();
    ASSERT_TRUE(bus.running()) << bus.failure();
    ASSERT_TRUE(listener.IsConnected());
    proxy.Set("http://" + server.Address());
    CRegistry().SetServerSyncName("tandro.invalid");
    answer = [](const RecordedRequest& request) {
      if (request.Header("Proxy-Authorization") == "Basic dXNlcjpzZWNyZXQ=") {
        return ScriptedReply{200, "<tandroresp/>", {}};
      }
      return ScriptedReply{407, "", {{"Proxy-Authenticate", "Basic realm=\"proxy\""}}};
    };
  }
  void TearDown() override {
    HttpClient::SetProxyCredentialsCallback(nullptr);
    XmlQueryServerTest::TearDown();
  }

  // Answers each prompt with the next password; an empty one declines.
  void PromptWith(std::vector<std::string> passwords) {
    HttpClient::SetProxyCredentialsCallback(
        [this, passwords](const HttpRequest&, ProxyCredentials* credentials) {
          NoteMessages();
          const std::string& password = passwords.at(prompts++);
          events.push_back("prompt");
          *credentials = ProxyCredentials{"user", password};
          return !password.empty();
        });
  }
  // Adds the news-window messages that have come to events.
  void NoteMessages() {
    while (std::optional<BusMessage> message = listener.Next(100ms)) {
      events.push_back(message->argument == kBeforeBox  ? "before"
                       : message->argument == kAfterBox ? "after"
                                                        : "other");
    }
  }

  testing::PrivateSessionBus bus;
  DesktopBusListener listener;
  testing::ScopedEnvironment proxy{"http_proxy", std::nullopt};
  size_t prompts = 0;
  std::vector<std::string> events;
};

using Events = std::vector<std::string>;

TEST_F(XmlQueryServerProxyTest, WithoutAPromptTheProxysStatusIsTheResult) {
  XmlQueryServer query;
  EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_SERVER_QUERY);
  EXPECT_EQ(query.GetErrorMessage(), "Server query error 407");
  NoteMessages();
  EXPECT_EQ(events, (Events{"before", "after"}));
}

TEST_F(XmlQueryServerProxyTest, ThePromptRepeatsUntilTheProxyLetsTheRequestThrough) {
  PromptWith({"wrong", "secret"});
  XmlQueryServer query;
  EXPECT_EQ(query.ResponseToQuery("<q>a&b</q>", true), ERR_NONE);
  EXPECT_EQ(query.GetResponse(), Header("tandro.invalid", kPage) + "<tandroresp/>");
  EXPECT_EQ(LastRequest().target, "http://tandro.invalid/sync/page.asp");
  EXPECT_EQ(LastRequest().body, "<q>a&b</q>");
  NoteMessages();
  EXPECT_EQ(events, (Events{"before", "prompt", "after", "before", "prompt", "after"}));
}

TEST_F(XmlQueryServerProxyTest, AUserWhoDeclinesEndsTheExchangeWith407) {
  PromptWith({"wrong", ""});
  XmlQueryServer query;
  EXPECT_EQ(query.ResponseToQuery("<q/>", true), ERR_SERVER_QUERY);
  EXPECT_EQ(query.GetErrorMessage(), "Server query error 407");
  EXPECT_EQ(prompts, 2u);
}

}  // namespace
}  // namespace brontel
