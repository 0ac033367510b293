// The real program: `brontel-server serve` on a free port writes the port
// file, answers a GID request and a large sync request posted over HTTP with
// the client's form content type (the body reaches the handler undecoded),
// and ends cleanly on SIGTERM.
#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "support/temp_dir.h"

extern char** environ;

namespace brontel::server::testing {
namespace {

constexpr char kPage[] = "/tandro/kvRequest.asp";
constexpr char kFormType[] = "application/x-www-form-urlencoded";

class ServerProcess {
 public:
  explicit ServerProcess(const std::string& directory)
      : m_database(directory + "/server.db"), m_portFile(directory + "/port") {
    std::vector<std::string> words = {
        BRONTEL_SERVER_PROGRAM, "serve",       "--db",    m_database, "--listen",
        "127.0.0.1:0",          "--port-file", m_portFile};
    std::vector<char*> argv;
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    if (posix_spawn(&m_pid, argv[0], nullptr, nullptr, argv.data(), environ) != 0) m_pid = -1;
  }
  ~ServerProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }

  // The port from the port file, once the server wrote it; 0 if it never does.
  int WaitForPort() {
    for (int attempt = 0; attempt < 3000 && m_pid > 0; ++attempt) {
      std::ifstream in(m_portFile);
      int port = 0;
      if (in >> port && port > 0) return port;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }

  // Sends SIGTERM and returns the exit status (-1 when killed by a signal).
  int Stop() {
    kill(m_pid, SIGTERM);
    int status = 0;
    waitpid(m_pid, &status, 0);
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  std::string m_database;
  std::string m_portFile;
  pid_t m_pid = -1;
};

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
