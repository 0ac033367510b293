#include "brontel/host/tandro_messenger.h"

#include "brontel/host/registry.h"
#include "brontel/platform/clipboard_slot.h"
#include "brontel/platform/desktop_bus.h"
#include "brontel/platform/message_box.h"
#include "brontel/platform/precondition.h"
#include "brontel/platform/program_launch.h"

namespace brontel {

CTandroMessenger::CTandroMessenger()
    : m_clipboardFormat(RegisterSharedName(kClipboardFormatName)),
      m_messageId(RegisterSharedName(kMessageName)) {}

bool CTandroMessenger::Send(uint32_t command, uint32_t argument) {
  return DesktopBus::Send(BusMessage{m_messageId, command, argument});
}

bool CTandroMessenger::SendCloseMessage(ProgramType program) {
  return Send(COMMAND_CLOSE, static_cast<uint32_t>(program));
}

bool CTandroMessenger::SendHandHeldSyncMessage(HandHeldSyncType type, const std::string& text) {
  if (!text.empty()) StringToClipBoard(text);
  return Send(COMMAND_HANDHELD_SYNC, static_cast<uint32_t>(type));
}

bool CTandroMessenger::SendOpenMessage(ProgramType program) {
  return Send(COMMAND_OPEN, static_cast<uint32_t>(program));
}

bool CTandroMessenger::SendSetStatusMessage(const std::string& text) {
  if (!StringToClipBoard(text)) return false;
  return Send(COMMAND_SET_STATUS, 0);
}

bool CTandroMessenger::SendSetNewsWindowTypeMessage(NewsWindowType type) {
  return Send(COMMAND_SET_NEWS_WINDOW_TYPE, static_cast<uint32_t>(type));
}

bool CTandroMessenger::SendShowNewsWindowMessage(NewsWindowType type, int32_t command,
                                                 const UID128& id) {
  if (!StringToClipBoard(id.GetString())) return false;
  const uint32_t argument =
      (static_cast<uint32_t>(command) << 16) | (static_cast<uint32_t>(type) & 0xFFFFu);
  return Send(COMMAND_SHOW_NEWS_WINDOW, argument);
}

bool CTandroMessenger::SendShowNewsWindowMessage(int32_t command) {
  return SendShowNewsWindowMessage(NEWS_WINDOW_NONE, command, UID128());
}

bool CTandroMessenger::StringToClipBoard(const std::string& text) {
  return ClipboardSlot::Put(m_clipboardFormat, text);
}

std::string CTandroMessenger::ClipBoardToString() {
  return ClipboardSlot::Take(m_clipboardFormat).value_or(std::string());
}

std::string CTandroMessenger::NewsWindowTypeToString(NewsWindowType type) {
  BRONTEL_REQUIRE(type >= NEWS_WINDOW_CALENDARS && type <= NEWS_WINDOW_NEWS,
                  "type is a news window type");
  switch (type) {
    case NEWS_WINDOW_CALENDARS:
      return "Calendars";
    case NEWS_WINDOW_CONTACTS:
      return "Contacts";
    default:
      return "News";
  }
}

bool CTandroMessenger::Launch(const char* program) {
  std::string folder = CRegistry().GetInstallPathname();
  if (folder.empty()) folder = ".";
  return LaunchProgram(program, folder);
}

bool CTandroMessenger::LaunchTandroTray() {
  return Launch(kTrayProgram);
}

bool CTandroMessenger::LaunchTandroDesktopViewer() {
  return Launch(kDesktopViewerProgram);
}

int32_t CTandroMessenger::MessageBoxA(const std::string& text, const std::string& caption,
                                      uint32_t style, bool quietNews) {
  if (quietNews) SendShowNewsWindowMessage(kNewsCommandBeforeBox);
  const int32_t answer = ShowMessageBox(text, caption, style);
  if (quietNews) SendShowNewsWindowMessage(kNewsCommandAfterBox);
  return answer;
}

int32_t CTandroMessenger::DisplaySyncError(const std::string& text, bool quietNews) {
  return MessageBoxA(text, "Synchronization Error", MESSAGE_BOX_ICON_ERROR, quietNews);
}

int32_t CTandroMessenger::DisplayAdditionalSyncIsNeeded(bool quietNews) {
  return MessageBoxA(
      "You have made changes locally that are unknown to the Tandro server.  After the current "
      "synchronization is complete, you will need to sync to the server again so that "
      "subscribers to this resource will see your changes.",
      "Tandro Server", MESSAGE_BOX_ICON_INFORMATION, quietNews);
}

void CTandroMessenger::NotifyUser(UserNoticeManager& notices, bool quietNews) {
  if (notices.GetListCount() == 0) return;
  if (quietNews) SendShowNewsWindowMessage(kNewsCommandBeforeBox);
  for (int32_t i = 0; i < notices.GetListCount(); ++i) {
    UserNotification& notice = notices[i];
    ShowMessageBox(notice.GetSummary() + "\nDetails:\n" + notice.GetDetails(), notice.GetTitle(),
                   MESSAGE_BOX_ICON_INFORMATION);
    notice.MarkHandled();
  }
  notices.RemoveHandledNotifications();
  if (quietNews) SendShowNewsWindowMessage(kNewsCommandAfterBox);
}

}  // namespace brontel
