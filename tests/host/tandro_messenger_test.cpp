// Tests of CTandroMessenger on a private session bus: the command, argument
// and clipboard text of every message, messages that need the clipboard when
// it cannot be used, the clipboard read once, message boxes with and without
// the news-window messages around them, user notices, and program launches.
#include "brontel/host/tandro_messenger.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "brontel/host/registry.h"
#include "brontel/platform/desktop_bus.h"
#include "brontel/platform/message_box.h"
#include "brontel/platform/program_launch.h"
#include "support/private_session_bus.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using namespace std::chrono_literals;
using testing::PrivateSessionBus;

constexpr auto kWait = 5s;
constexpr auto kNoMessage = 200ms;
// The argument of the news-window messages around a box: no particular window
// (0xFFFF) and the command in the high half.
constexpr uint32_t kBeforeBox = 0x0006FFFF;
constexpr uint32_t kAfterBox = 0x0009FFFF;
constexpr char kZeroId[] = "00000000-0000-0000-0000-000000000000";

struct Box {
  std::string text;
  std::string caption;
  uint32_t style;
};

class TandroMessengerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!PrivateSessionBus::DaemonInstalled()) GTEST_SKIP() << "dbus-daemon is not installed";
    ASSERT_TRUE(bus.running()) << bus.failure();
    ASSERT_TRUE(listener.IsConnected());
    SetMessageBoxCallback(
        [this](const std::string& text, const std::string& caption, uint32_t style) {
          boxes.push_back({text, caption, style});
          if (onBox) onBox();
          return kMessageBoxAnswerOk;
        });
  }
  void TearDown() override { SetMessageBoxCallback(nullptr); }

  // The (command, argument) of the next message, checking its id.
  std::optional<std::pair<uint32_t, uint32_t>> NextMessage() {
    std::optional<BusMessage> message = listener.Next(kWait);
    if (!message) return std::nullopt;
    EXPECT_TRUE(messenger.IsTandroMessage(message->id));
    return std::make_pair(message->command, message->argument);
  }
  // Checks that nothing was sent before this point.
  void ExpectNothingSent() {
    ASSERT_TRUE(messenger.SendCloseMessage(99));
    EXPECT_EQ(NextMessage(), std::make_pair(1u, 99u)) << "an earlier message was sent";
  }
  // Makes the clipboard unusable: its folder's name is taken by a file.
  void SpoilClipboard() { testing::WriteFileBytes(bus.runtimeFolder().File("brontel"), "file"); }

  PrivateSessionBus bus;  // also gives the clipboard a folder of its own
  testing::TempDir settings;
  testing::ScopedEnvironment settingsVariable{"BRONTEL_REGISTRY_DIR", settings.path()};
  DesktopBusListener listener;
  CTandroMessenger messenger;
  std::vector<Box> boxes;
  std::function<void()> onBox;
};

TEST_F(TandroMessengerTest, EachMessageCarriesItsCommandArgumentAndText) {
  UID128 id;
  id.SetString("0123456789ABCDEF0123456789ABCDEF");
  struct Case {
    const char* what;
    std::function<bool(CTandroMessenger&)> send;
    uint32_t command;
    uint32_t argument;
    std::string clipboard;  // "earlier" when the message leaves it alone
  };
  const Case cases[] = {
      {"close", [](auto& m) { return m.SendCloseMessage(7); }, 1, 7, "earlier"},
      {"handheld sync", [](auto& m) { return m.SendHandHeldSyncMessage(3, "5 records"); }, 2, 3,
       "5 records"},
      {"handheld sync, no text", [](auto& m) { return m.SendHandHeldSyncMessage(4, ""); }, 2, 4,
       "earlier"},
      {"open", [](auto& m) { return m.SendOpenMessage(2); }, 3, 2, "earlier"},
      {"status", [](auto& m) { return m.SendSetStatusMessage("Syncing"); }, 4, 0, "Syncing"},
      {"news window type",
       [](auto& m) {
         return m.SendSetNewsWindowTypeMessage(CTandroMessenger::NEWS_WINDOW_CONTACTS);
       },
       5, 2, "earlier"},
      {"show news window",
       [&id](auto& m) {
         return m.SendShowNewsWindowMessage(CTandroMessenger::NEWS_WINDOW_CALENDARS, 9, id);
       },
       6, 0x00090001, id.GetString()},
      {"show news window, no window", [](auto& m) { return m.SendShowNewsWindowMessage(6); }, 6,
       kBeforeBox, kZeroId},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(messenger.StringToClipBoard("earlier"));
    EXPECT_TRUE(c.send(messenger)) << c.what;
    EXPECT_EQ(NextMessage(), std::make_pair(c.command, c.argument)) << c.what;
    EXPECT_EQ(messenger.ClipBoardToString(), c.clipboard) << c.what;
  }
  EXPECT_EQ(listener.Next(kNoMessage), std::nullopt);
}

TEST_F(TandroMessengerTest, MessagesThatNeedTheClipboardAreNotSentWithoutIt) {
  SpoilClipboard();
  EXPECT_FALSE(messenger.StringToClipBoard("text"));
  EXPECT_FALSE(messenger.SendSetStatusMessage("Syncing"));
  EXPECT_FALSE(messenger.SendShowNewsWindowMessage(6));
  ExpectNothingSent();
  // The handheld message goes without its text.
  EXPECT_TRUE(messenger.SendHandHeldSyncMessage(3, "5 records"));
  EXPECT_EQ(NextMessage(), std::make_pair(2u, 3u));
  EXPECT_EQ(messenger.ClipBoardToString(), "");
}

TEST_F(TandroMessengerTest, TheClipboardIsReadOnce) {
  ASSERT_TRUE(messenger.StringToClipBoard("once"));
  EXPECT_EQ(CTandroMessenger().ClipBoardToString(), "once") << "another messenger reads it";
  EXPECT_EQ(messenger.ClipBoardToString(), "");
}

TEST_F(TandroMessengerTest, EveryMessengerUsesTheSharedIdentifiers) {
  EXPECT_EQ(messenger.GetMessageId(), RegisterSharedName("TANDROMESSAGE"));
  EXPECT_EQ(messenger.GetClipboardFormat(), RegisterSharedName("TANDRONEWSFORMAT"));
  const CTandroMessenger copy = messenger;
  EXPECT_EQ(copy.GetMessageId(), CTandroMessenger().GetMessageId());
  EXPECT_TRUE(copy.IsTandroMessage(messenger.GetMessageId()));
  EXPECT_FALSE(copy.IsTandroMessage(messenger.GetClipboardFormat()));
}

TEST_F(TandroMessengerTest, AQuietNewsBoxIsWrappedInNewsWindowMessages) {
  // The first message has arrived when the box shows, the second has not.
  std::optional<std::pair<uint32_t, uint32_t>> beforeBox;
  bool moreWhileShowing = true;
  onBox = [&] {
    beforeBox = NextMessage();
    moreWhileShowing = listener.Next(kNoMessage).has_value();
  };
  EXPECT_EQ(messenger.MessageBoxA("text", "caption", MESSAGE_BOX_ICON_ERROR, true),
            kMessageBoxAnswerOk);
  EXPECT_EQ(beforeBox, std::make_pair(6u, kBeforeBox));
  EXPECT_FALSE(moreWhileShowing);
  EXPECT_EQ(NextMessage(), std::make_pair(6u, kAfterBox));

  onBox = nullptr;
  messenger.MessageBoxA("text", "caption", MESSAGE_BOX_OK, false);
  ExpectNothingSent();
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "text");
  EXPECT_EQ(boxes[0].caption, "caption");
  EXPECT_EQ(boxes[0].style, MESSAGE_BOX_ICON_ERROR);
}

TEST_F(TandroMessengerTest, TheTwoStandardBoxesShowTheirTexts) {
  messenger.DisplaySyncError("The server did not answer.", false);
  messenger.DisplayAdditionalSyncIsNeeded(false);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].text, "The server did not answer.");
  EXPECT_EQ(boxes[0].caption, "Synchronization Error");
  EXPECT_EQ(boxes[0].style, MESSAGE_BOX_ICON_ERROR);
  EXPECT_EQ(boxes[1].text,
            "You have made changes locally that are unknown to the Tandro server.  After the "
            "current synchronization is complete, you will need to sync to the server again so "
            "that subscribers to this resource will see your changes.");
  EXPECT_EQ(boxes[1].caption, "Tandro Server");
  EXPECT_EQ(boxes[1].style, MESSAGE_BOX_ICON_INFORMATION);
}

TEST_F(TandroMessengerTest, EachNoticeIsShownOnceAndRemoved) {
  UserNoticeManager notices;
  notices.AddDetail(NOTICE_CATEGORY_RENAME, "Work -> Work 1");
  notices.AddDetail(NOTICE_READ_ONLY_DELETE, "Ann Smith");
  notices.AddDetail(NOTICE_READ_ONLY_DELETE, "Bob Jones");

  messenger.NotifyUser(notices, true);

  EXPECT_EQ(notices.GetListCount(), 0);
  ASSERT_EQ(boxes.size(), 2u);
  EXPECT_EQ(boxes[0].caption, "Category Rename Notice");
  EXPECT_EQ(boxes[0].text,
            "Duplicate category names were encountered and have been renamed.\nDetails:\n"
            "Work -> Work 1\n");
  EXPECT_EQ(boxes[1].caption, "Read Only Delete Notice");
  EXPECT_EQ(boxes[1].text,
            "Your deletions of contacts in read only categories have been restored.\nDetails:\n"
            "Ann Smith\nBob Jones\n");
  EXPECT_EQ(boxes[1].style, MESSAGE_BOX_ICON_INFORMATION);
  EXPECT_EQ(NextMessage(), std::make_pair(6u, kBeforeBox));
  EXPECT_EQ(NextMessage(), std::make_pair(6u, kAfterBox));
  EXPECT_EQ(listener.Next(kNoMessage), std::nullopt) << "one pair for all boxes";

  messenger.NotifyUser(notices, true);
  EXPECT_EQ(boxes.size(), 2u) << "no notices, no box";
  ExpectNothingSent();
}

TEST_F(TandroMessengerTest, ProgramsStartFromTheInstallationFolder) {
  std::vector<std::string> launches;
  SetProgramLaunchCallback([&](const std::string& program, const std::string& folder) {
    launches.push_back(folder + "|" + program);
    return program == "tandro.exe";
  });
  EXPECT_TRUE(messenger.LaunchTandroTray());
  CRegistry().SetInstallPathname("/opt/tandro");
  EXPECT_FALSE(messenger.LaunchTandroDesktopViewer());
  SetProgramLaunchCallback(nullptr);
  EXPECT_EQ(launches, (std::vector<std::string>{".|tandro.exe", "/opt/tandro|desktop viewer.exe"}));
}

TEST(TandroMessengerNamesTest, NewsWindowTypesHaveNames) {
  EXPECT_EQ(CTandroMessenger::NewsWindowTypeToString(CTandroMessenger::NEWS_WINDOW_CALENDARS),
            "Calendars");
  EXPECT_EQ(CTandroMessenger::NewsWindowTypeToString(CTandroMessenger::NEWS_WINDOW_CONTACTS),
            "Contacts");
  EXPECT_EQ(CTandroMessenger::NewsWindowTypeToString(CTandroMessenger::NEWS_WINDOW_NEWS), "News");
#ifndef NDEBUG  // preconditions stop only debug builds
  EXPECT_DEATH(CTandroMessenger::NewsWindowTypeToString(CTandroMessenger::NEWS_WINDOW_NONE),
               "news window type");
#endif
}

TEST(TandroMessengerWithoutBusTest, SendingFailsAtOnceAndBoxesStillShow) {
  testing::TempDir runtime;
  testing::ScopedEnvironment runtimeVariable("XDG_RUNTIME_DIR", runtime.path());
  testing::ScopedEnvironment busVariable("DBUS_SESSION_BUS_ADDRESS", std::nullopt);
  CTandroMessenger messenger;
  EXPECT_FALSE(messenger.SendCloseMessage(1));
  EXPECT_FALSE(messenger.SendSetStatusMessage("Syncing"));
  int shown = 0;
  SetMessageBoxCallback([&](const std::string&, const std::string&, uint32_t) {
    ++shown;
    return kMessageBoxAnswerOk;
  });
  messenger.DisplaySyncError("text", true);
  SetMessageBoxCallback(nullptr);
  EXPECT_EQ(shown, 1);
}

}  // namespace
}  // namespace brontel
