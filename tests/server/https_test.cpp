// Server synchronization over https checks the server's certificate: the
// real server runs with certificates from an authority the test makes, and a
// synchronization goes through only when the client trusts that authority
// (BRONTEL_CA_FILE) and the certificate names the host the client asked for.
// A refused certificate fails the synchronization as a connection error and
// leaves the cache and the server shadow as they were.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <utility>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/host/registry.h"
#include "brontel/platform/format.h"
#include "brontel/platform/http_client.h"
#include "server_process.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brontel::server::testing {
namespace {

using brontel::testing::AddCalendar;
using brontel::testing::AddEvent;
using brontel::testing::CalendarKind;
using brontel::testing::ReadFileOrMissing;
using brontel::testing::ScopedEnvironment;
using brontel::testing::TempDir;

// ---- Certificates made with the openssl program ----

// Runs an openssl command line (arguments already quoted), quietly; true when
// it succeeded.
bool OpenSsl(const std::string& arguments) {
  return std::system(("openssl " + arguments + " >/dev/null 2>&1").c_str()) == 0;
}

// The test's files: a certificate authority (ca.pem) and, per name, a server
// key and certificate. Made once for the whole suite.
class Certificates {
 public:
  // A new authority in ca.pem with its key; false when openssl failed.
  bool MakeAuthority(const std::string& name) {
    return OpenSsl(
        Format("req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
               "-days 2 -subj '/CN=%s' -keyout '%s' -out '%s'",
               name.c_str(), File(name + ".key").c_str(), File(name + ".pem").c_str()));
  }

  // A server key name.key and certificate name.pem for the subject
  // alternative names altNames ("IP:127.0.0.1,DNS:localhost"), signed by
  // authority.
  bool MakeServer(const std::string& name, const std::string& altNames,
                  const std::string& authority) {
    const std::string extensions = File(name + ".ext");
    std::ofstream(extensions) << "basicConstraints=CA:FALSE\n"
                              << "keyUsage=digitalSignature,keyEncipherment\n"
                              << "extendedKeyUsage=serverAuth\n"
                              << "subjectAltName=" << altNames << "\n";
    return OpenSsl(Format("req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes "
                          "-subj '/CN=%s' -keyout '%s' -out '%s'",
                          name.c_str(), File(name + ".key").c_str(),
                          File(name + ".csr").c_str())) &&
           OpenSsl(Format("x509 -req -days 2 -in '%s' -CA '%s' -CAkey '%s' -CAcreateserial "
                          "-extfile '%s' -out '%s'",
                          File(name + ".csr").c_str(), File(authority + ".pem").c_str(),
                          File(authority + ".key").c_str(), extensions.c_str(),
                          File(name + ".pem").c_str()));
  }

  std::string File(const std::string& name) const { return m_dir.File(name); }

 private:
  TempDir m_dir;
};

// ---- The server over https ----

// `brontel-server serve` with a certificate and key, on a free loopback port.
class HttpsServer {
 public:
  HttpsServer(const std::string& database, const std::string& directory,
              const std::string& certificate, const std::string& key)
      : m_portFile(directory + "/https-port") {
    std::remove(m_portFile.c_str());
    m_pid = SpawnServerProgram({"serve", "--db", database, "--listen", "127.0.0.1:0", "--port-file",
                                m_portFile, "--cert", certificate, "--key", key});
  }
  ~HttpsServer() {
    if (m_pid > 0) {
      kill(m_pid, SIGTERM);
      WaitForExit(m_pid);
    }
  }
  HttpsServer(const HttpsServer&) = delete;
  HttpsServer& operator=(const HttpsServer&) = delete;

  // The port once the server listens; 0 when it never does.
  int WaitForPort() const {
    for (int attempt = 0; attempt < 3000 && m_pid > 0; ++attempt) {
      std::ifstream in(m_portFile);
      int port = 0;
      if (in >> port && port > 0) return port;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }

 private:
  std::string m_portFile;
  pid_t m_pid = -1;
};

// ---- A desktop ----

// A cache directory with its calendar API object, as a desktop program keeps
// them.
struct CalendarDesktop {
  TempDir dir;
  CalendarApi api = BrontelAPI::CreateCalendarApi(dir.path(), "2.1");
  uint32_t lastLocalId = 0;

  // Numbers the new records as the desktop's store does, then runs the
  // desktop synchronization.
  br_error SyncDesktop() {
    CalendarManager manager = api.GetCalendarManager();
    CalendarList calendars = manager.GetCalendarList();
    EventList events = manager.GetEventList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (calendars[i].GetLocalId() == 0) calendars[i].SetLocalId(++lastLocalId);
    }
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (events[i].GetLocalId() == 0) events[i].SetLocalId(++lastLocalId);
    }
    return api.SyncDesktop();
  }

  // The bytes of the cache and the server shadow.
  std::pair<std::string, std::string> Files() const {
    return {ReadFileOrMissing(dir.File(CalendarApi::kCacheFile)),
            ReadFileOrMissing(dir.File(CalendarApi::kServerShadowFile))};
  }
};

// ---- The frame ----

class HttpsTest : public brontel::testing::ApiTest {
 protected:
  static void SetUpTestSuite() {
    s_certificates = new Certificates();
    s_made = s_certificates->MakeAuthority("ca") && s_certificates->MakeAuthority("other-ca") &&
             s_certificates->MakeServer("loopback", "IP:127.0.0.1,DNS:localhost", "ca") &&
             s_certificates->MakeServer("elsewhere", "DNS:sync.example.com", "ca") &&
             s_certificates->MakeServer("stranger", "IP:127.0.0.1,DNS:localhost", "other-ca");
  }
  static void TearDownTestSuite() {
    delete s_certificates;
    s_certificates = nullptr;
  }

  void SetUp() override {
    ApiTest::SetUp();
    ASSERT_TRUE(s_made) << "openssl could not make the test's certificates";
    CRegistry registry;
    registry.SetConnectTimeoutSeconds(5);
    registry.SetStallTimeoutSeconds(30);
  }

  static std::string Ca(const std::string& name) { return s_certificates->File(name + ".pem"); }

  // Serves the test's database with the server certificate name; the client
  // is pointed at host and the server's port.
  void Serve(const std::string& name, const std::string& host) {
    m_server.reset();
    m_server = std::make_unique<HttpsServer>(m_serverDir.File("server.db"), m_serverDir.path(),
                                             s_certificates->File(name + ".pem"),
                                             s_certificates->File(name + ".key"));
    const int port = m_server->WaitForPort();
    ASSERT_GT(port, 0) << "the server did not start with " << name;
    CRegistry().SetServerSyncName(Format("https://%s:%d", host.c_str(), port));
  }

  // A desktop of user whose account holds a calendar and an event, reached
  // through a server the client trusts.
  std::unique_ptr<CalendarDesktop> SeedAccount(const std::string& user) {
    ScopedEnvironment trust(HttpClient::kCaFileVariable, Ca("ca"));
    Serve("loopback", "127.0.0.1");
    auto desktop = std::make_unique<CalendarDesktop>();
    EXPECT_TRUE(desktop->api.RequestGIDFromServer(user, user + "-secret"))
        << desktop->api.GetErrorMessage();
    CalendarManager calendars = desktop->api.GetCalendarManager();
    Calendar work = AddCalendar(calendars, "Work", CalendarKind::Published());
    AddEvent(calendars, "Review", {work});
    EXPECT_EQ(desktop->SyncDesktop(), ERR_NONE);
    EXPECT_EQ(desktop->api.SyncServer(nullptr), ERR_NONE) << desktop->api.GetErrorMessage();
    return desktop;
  }

  static Certificates* s_certificates;
  static bool s_made;

  brontel::testing::NoProxyEnvironment m_noProxy;
  TempDir m_serverDir;
  std::unique_ptr<HttpsServer> m_server;
};

Certificates* HttpsTest::s_certificates = nullptr;
bool HttpsTest::s_made = false;

// Each case: the account is seeded through a trusted server, then the server
// comes back with the case's certificate and the client, trusting the case's
// authority file (or the system's store only), sends a new event.
struct HttpsCase {
  const char* name;
  // The server's certificate.
  const char* certificate;
  // The host the client asks for.
  const char* host;
  // The authority the client trusts beyond the system's store: a name of the
  // test's files, "missing" for a file that does not exist, or none.
  std::optional<std::string> trust;
  // Empty when the synchronization goes through; else a word of the TLS
  // library's reason for refusing the server, so that a refusal for another
  // reason (a server that did not start) does not pass.
  const char* refusal;
};

TEST_F(HttpsTest, ASyncGoesThroughOnlyToACertificateOfATrustedAuthorityForTheHost) {
  const HttpsCase cases[] = {
      {"trusted authority, address", "loopback", "127.0.0.1", "ca", ""},
      {"trusted authority, host name", "loopback", "localhost", "ca", ""},
      {"system store only", "loopback", "127.0.0.1", std::nullopt, "certificate"},
      {"another authority", "loopback", "127.0.0.1", "other-ca", "certificate"},
      {"authority file missing", "loopback", "127.0.0.1", "missing", "certificate"},
      {"certificate of another host", "elsewhere", "127.0.0.1", "ca", "host name"},
      {"certificate of another host, by name", "elsewhere", "localhost", "ca", "host name"},
      {"certificate of an unknown authority", "stranger", "127.0.0.1", "ca", "certificate"},
  };
  int32_t index = 0;
  for (const HttpsCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::unique_ptr<CalendarDesktop> desktop = SeedAccount(Format("user%d", ++index));
    if (HasFailure()) return;
    std::optional<std::string> trust = c.trust;
    if (trust) trust = *trust == "missing" ? s_certificates->File("missing.pem") : Ca(*trust);
    ScopedEnvironment trusted(HttpClient::kCaFileVariable, trust);
    Serve(c.certificate, c.host);
    if (HasFatalFailure()) return;

    CalendarManager calendars = desktop->api.GetCalendarManager();
    AddEvent(calendars, "Lunch", {calendars.GetCalendarList()[0]});
    ASSERT_EQ(desktop->SyncDesktop(), ERR_NONE);
    const std::pair<std::string, std::string> before = desktop->Files();
    const br_error result = desktop->api.SyncServer(nullptr);
    const std::string message = desktop->api.GetErrorMessage();
    if (c.refusal[0] == '\0') {
      EXPECT_EQ(result, ERR_NONE) << message;
      EXPECT_NE(desktop->Files().second, before.second) << "the server's answer was not kept";
    } else {
      EXPECT_EQ(result, ERR_CONNECTION) << message;
      EXPECT_EQ(message.rfind("Internet connection error: ", 0), 0u) << message;
      EXPECT_NE(message.find(c.refusal), std::string::npos) << message;
      EXPECT_EQ(desktop->Files(), before) << "a refused server changed the cache or the shadow";
    }
  }
}

}  // namespace
}  // namespace brontel::server::testing
