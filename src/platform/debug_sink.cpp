#include "brontel/platform/debug_sink.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace brontel {
namespace {

void DefaultSink(const std::string& line) {
  static const bool enabled = std::getenv("BRONTEL_DEBUG") != nullptr;
  if (!enabled) return;
  std::fwrite(line.data(), 1, line.size(), stderr);
  if (line.empty() || line.back() != '\n') std::fputc('\n', stderr);
}

std::atomic<DebugSinkFunction> g_sink{nullptr};

}  // namespace

void SetDebugSink(DebugSinkFunction sink) {
  g_sink.store(sink);
}

void DebugLine(const std::string& line) {
  DebugSinkFunction sink = g_sink.load();
  (sink != nullptr ? sink : DefaultSink)(line);
}

}  // namespace brontel
