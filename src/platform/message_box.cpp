#include "brontel/platform/message_box.h"

#include <cstdio>
#include <mutex>
#include <utility>

namespace brontel {
namespace {

std::mutex g_mutex;
MessageBoxCallback g_callback;

int32_t WriteToStderr(const std::string& text, const std::string& caption, uint32_t /*style*/) {
  std::string box = caption + "\n" + text;
  if (box.back() != '\n') box += '\n';
  std::fwrite(box.data(), 1, box.size(), stderr);
  std::fflush(stderr);
  return kMessageBoxAnswerOk;
}

}  // namespace

MessageBoxCallback SetMessageBoxCallback(MessageBoxCallback callback) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return std::exchange(g_callback, std::move(callback));
}

int32_t ShowMessageBox(const std::string& text, const std::string& caption, uint32_t style) {
  MessageBoxCallback callback;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    callback = g_callback;
  }
  return callback ? callback(text, caption, style) : WriteToStderr(text, caption, style);
}

}  // namespace brontel
