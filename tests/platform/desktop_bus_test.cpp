// Tests of DesktopBus and DesktopBusListener on a private session bus: what a
// listener receives, and that sending gives up at once without a bus and in
// bounded time with a bus that never answers; and the shared name ids.
#include "brontel/platform/desktop_bus.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "support/private_session_bus.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using namespace std::chrono_literals;
using testing::PrivateSessionBus;
using testing::ScopedEnvironment;

constexpr auto kWait = 5s;          // for a message that must come
constexpr auto kNoMessage = 200ms;  // for one that must not

class DesktopBusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateSessionBus::DaemonInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_TRUE(bus.running()) << bus.failure();
  }

  PrivateSessionBus bus;
};

TEST_F(DesktopBusTest, EveryListenerReceivesEachMessageInOrder) {
  DesktopBusListener first;
  DesktopBusListener second;
  ASSERT_TRUE(first.IsConnected());
  ASSERT_TRUE(second.IsConnected());
  const BusMessage messages[] = {{0xC123, 1, 7}, {0xC123, 6, 0x0009FFFF}, {0xFFFF, 0, 0xFFFFFFFF}};

  for (const BusMessage& message : messages) EXPECT_TRUE(DesktopBus::Send(message));

  for (DesktopBusListener* listener : {&first, &second}) {
    for (const BusMessage& message : messages) EXPECT_EQ(listener->Next(kWait), message);
    EXPECT_EQ(listener->Next(kNoMessage), std::nullopt);
  }
}

TEST_F(DesktopBusTest, AListenerHearsWhatIsSentRightAfterItIsMadeAndNothingEarlier) {
  ASSERT_TRUE(DesktopBus::Send({0xC001, 1, 1}));
  DesktopBusListener listener;
  ASSERT_TRUE(DesktopBus::Send({0xC001, 2, 2}));
  EXPECT_EQ(listener.Next(kWait), (BusMessage{0xC001, 2, 2}));
  EXPECT_EQ(listener.Next(kNoMessage), std::nullopt);
}

// Without a session bus the sender and the listener give up at once. No daemon
// is needed for this.
TEST(DesktopBusWithoutBusTest, SendingReportsFalseAndListenersHearNothing) {
  testing::TempDir runtime;
  ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", runtime.path());
  for (const std::optional<std::string>& address :
       {std::optional<std::string>(),
        std::optional<std::string>("unix:path=" + runtime.File("no-bus"))}) {
    ScopedEnvironment busVariable("DBUS_SESSION_BUS_ADDRESS", address);
    EXPECT_FALSE(DesktopBus::Send({0xC001, 1, 1}));
    DesktopBusListener listener;
    EXPECT_FALSE(listener.IsConnected());
    EXPECT_EQ(listener.Next(kNoMessage), std::nullopt);
  }
}

TEST(DesktopBusWithoutBusTest, ABusThatNeverAnswersIsGivenUp) {
  // A socket that takes connections into its backlog but never speaks.
  testing::TempDir runtime;
  const std::string path = runtime.File("silent");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(fd, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  ASSERT_EQ(::listen(fd, 4), 0);
  ScopedEnvironment busVariable("DBUS_SESSION_BUS_ADDRESS", "unix:path=" + path);

  EXPECT_FALSE(DesktopBus::Send({0xC001, 1, 1}, 100ms));
  ::close(fd);
}

TEST(RegisterSharedNameTest, EveryProgramDerivesTheSameIdFromAName) {
  const uint32_t id = RegisterSharedName("TANDROMESSAGE");
  EXPECT_GE(id, 0xC000u);
  EXPECT_LE(id, 0xFFFFu);
  EXPECT_EQ(RegisterSharedName("TANDROMESSAGE"), id);
  EXPECT_EQ(RegisterSharedName("tandroMessage"), id) << "letter case does not matter";
  EXPECT_NE(RegisterSharedName("TANDRONEWSFORMAT"), id);
}

}  // namespace
}  // namespace brontel
