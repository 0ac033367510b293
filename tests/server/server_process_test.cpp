// The real program: `brontel-server serve` on a free port writes the port
// file, answers a GID request and a large sync request posted over HTTP with
// the client's form content type (the body reaches the handler undecoded),
// and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>

#include <string>

#include "server_process.h"
#include "support/temp_dir.h"

namespace brontel::server::testing {
namespace {

constexpr char kPage[] = "/tandro/kvRequest.asp";
constexpr char kFormType[] = "application/x-www-form-urlencoded";

TEST(ServerProcessTest, ServesGidAndSyncRequestsAndStopsOnSigterm) {
  brontel::testing::TempDir directory;
  ServerProcess server(directory.path());
  int port = server.WaitForPort();
  ASSERT_GT(port, 0);
  httplib::Client client("127.0.0.1", port);

  auto gidAnswer = client.Post(kPage,
                               "<tandroreq ts=\"0\" ver=\"0\" rev=\"BRy2000m03d29t1052\">"
                               "<username>ann</username><password enc=\"0\">a+b%20</password>"
                               "</tandroreq>",
                               kFormType);
  ASSERT_TRUE(gidAnswer);
  EXPECT_EQ(gidAnswer->status, 200);
  const std::string& body = gidAnswer->body;
  size_t from = body.find("<newgid>");
  ASSERT_NE(from, std::string::npos) << body;
  std::string gid = body.substr(from + 8, 36);

  // Larger than any form-size limit, with the characters form decoding would change.
  std::string description(20000, 'x');
  description += "+%41";
  std::string calendar =
      "<calendar lid=\"80000001\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\">"
      "<name>a+b</name><desc>" +
      description + "</desc><color>0</color></calendar>";
  auto syncAnswer = client.Post(
      kPage,
      "<tandroreq ts=\"0\" ver=\"ffffffff\"><gid>" + gid + "</gid>" + calendar + "</tandroreq>",
      kFormType);
  ASSERT_TRUE(syncAnswer);
  EXPECT_EQ(syncAnswer->status, 200);
  EXPECT_NE(syncAnswer->body.find("<name>a+b</name><desc>" + description + "</desc>"),
            std::string::npos);

  auto wrongPage = client.Post("/other", "x", kFormType);
  ASSERT_TRUE(wrongPage);
  EXPECT_EQ(wrongPage->status, 404);

  EXPECT_EQ(server.Stop(), 0);
}

}  // namespace
}  // namespace brontel::server::testing
