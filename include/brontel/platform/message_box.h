// Message boxes: the library tells the user something through a callback that
// the host installs, so a graphical program can show a real dialog.
//
// Without a callback the box's caption and text go to stderr and the answer is
// OK. The call blocks for as long as the host's box is shown.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace brontel {

// The icon a box shows, combined into its style.
enum MessageBoxStyle : uint32_t {
  MESSAGE_BOX_OK = 0x00,
  MESSAGE_BOX_ICON_ERROR = 0x10,
  MESSAGE_BOX_ICON_INFORMATION = 0x40,
};

// The button that closed a box.
inline constexpr int32_t kMessageBoxAnswerOk = 1;

// Shows text under caption and returns the button the user chose.
using MessageBoxCallback =
    std::function<int32_t(const std::string& text, const std::string& caption, uint32_t style)>;

// Installs the host's box (an empty function restores the default) and returns
// the previous one.
MessageBoxCallback SetMessageBoxCallback(MessageBoxCallback callback);

// Shows a box through the installed callback.
int32_t ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style);

}  // namespace brontel
