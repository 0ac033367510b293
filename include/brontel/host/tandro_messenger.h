// CTandroMessenger: how the desktop programs of the service talk to one
// another and to the user: one shared message broadcast to every cooperating
// program, texts handed over through a private clipboard format, program
// launches from the installation folder, and message boxes.
//
// A message is the shared message id with a command and an argument; a text
// that goes with it is put in the clipboard first. The object keeps no state
// beyond the two shared identifiers, which every program computes alike.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/uid128.h"
#include "brontel/host/user_notice_manager.h"

namespace brontel {

class CTandroMessenger {
 public:
  // The window the news-window messages are about.
  enum NewsWindowType : int32_t {
    NEWS_WINDOW_NONE = -1,
    NEWS_WINDOW_CALENDARS = 1,
    NEWS_WINDOW_CONTACTS = 2,
    NEWS_WINDOW_NEWS = 3,
  };
  // Numbers the calling programs choose; carried unchanged.
  using ProgramType = int32_t;
  using HandHeldSyncType = int32_t;

  // The command of each message.
  enum Command : uint32_t {
    COMMAND_CLOSE = 1,
    COMMAND_HANDHELD_SYNC = 2,
    COMMAND_OPEN = 3,
    COMMAND_SET_STATUS = 4,
    COMMAND_SET_NEWS_WINDOW_TYPE = 5,
    COMMAND_SHOW_NEWS_WINDOW = 6,
  };
  // The news-window commands sent before and after a message box, so the news
  // window can make way for it.
  static constexpr int32_t kNewsCommandBeforeBox = 6;
  static constexpr int32_t kNewsCommandAfterBox = 9;

  // The shared names of the message and of the clipboard format.
  static constexpr const char* kMessageName = "TANDROMESSAGE";
  static constexpr const char* kClipboardFormatName = "TANDRONEWSFORMAT";
  // The programs LaunchTandroTray and LaunchTandroDesktopViewer start.
  static constexpr const char* kTrayProgram = "tandro.exe";
  static constexpr const char* kDesktopViewerProgram = "desktop viewer.exe";

  CTandroMessenger();
  CTandroMessenger(const CTandroMessenger&) = default;
  CTandroMessenger& operator=(const CTandroMessenger&) = default;
  virtual ~CTandroMessenger() = default;

  // Each Send returns true when the message went out to the cooperating
  // programs, false when it was not sent (no bus, or its text could not be put
  // in the clipboard where the message needs it).
  bool SendCloseMessage(ProgramType program);
  // Puts text in the clipboard only when it is not empty; sends in any case.
  bool SendHandHeldSyncMessage(HandHeldSyncType type, const std::string& text);
  bool SendOpenMessage(ProgramType program);
  // Sends only when text could be put in the clipboard.
  bool SendSetStatusMessage(const std::string& text);
  bool SendSetNewsWindowTypeMessage(NewsWindowType type);
  // The argument carries type in its low 16 bits and command in its high 16
  // bits; id goes in the clipboard as text, and the message is sent only when
  // that worked.
  bool SendShowNewsWindowMessage(NewsWindowType type, int32_t command, const UID128& id);
  // The same for no particular window (type -1) and the zero identifier.
  bool SendShowNewsWindowMessage(int32_t command);

  uint32_t GetMessageId() const { return m_messageId; }
  bool IsTandroMessage(uint32_t id) const { return id == m_messageId; }
  uint32_t GetClipboardFormat() const { return m_clipboardFormat; }

  // Puts text in the clipboard under the private format; false when the
  // clipboard cannot be used.
  bool StringToClipBoard(const std::string& text);
  // The text the clipboard holds under the private format, which empties it;
  // empty when it holds none.
  std::string ClipBoardToString();

  // "Calendars", "Contacts" or "News".
  // REQUIRES: type is NEWS_WINDOW_CALENDARS, NEWS_WINDOW_CONTACTS or NEWS_WINDOW_NEWS.
  static std::string NewsWindowTypeToString(NewsWindowType type);

  // Start kTrayProgram or kDesktopViewerProgram from the installation folder
  // (CRegistry::GetInstallPathname, or "." when it names none); true when the
  // program was started.
  bool LaunchTandroTray();
  bool LaunchTandroDesktopViewer();

  // Shows a message box. With quietNews, the news window is sent
  // kNewsCommandBeforeBox first and kNewsCommandAfterBox afterwards. Returns
  // the button that closed the box.
  int32_t MessageBoxA(const std::string& text, const std::string& caption, uint32_t style,
                      bool quietNews);
  // text under "Synchronization Error", with the error icon.
  int32_t DisplaySyncError(const std::string& text, bool quietNews);
  // The notice that another server synchronization is needed, under "Tandro
  // Server", with the information icon.
  int32_t DisplayAdditionalSyncIsNeeded(bool quietNews);
  // Shows each notice in a box of its own (its summary, "\nDetails:\n" and its
  // details under its title), marks it handled and removes it. With quietNews
  // the news window is told before the first box and after the last; with no
  // notices nothing happens.
  void NotifyUser(UserNoticeManager& notices, bool quietNews);

 private:
  bool Send(uint32_t command, uint32_t argument);
  bool Launch(const char* program);

  uint32_t m_clipboardFormat;
  uint32_t m_messageId;
};

}  // namespace brontel
