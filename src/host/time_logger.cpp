#include "brontel/host/time_logger.h"

#include <fcntl.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <utility>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"

namespace brontel {
namespace {

int64_t SteadyMilliseconds() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

TimeLogger::TimeLogger() : TimeLogger(SteadyMilliseconds) {}

TimeLogger::TimeLogger(ClockFunction clock) : m_clock(std::move(clock)) {
  BRONTEL_REQUIRE(m_clock != nullptr, "clock != nullptr");
  // Every stage slot starts at construction, so a stage closed before it was
  // opened still prints a defined time.
  m_times.fill(m_clock());
}

TimeLogger::~TimeLogger() {
  if (m_writeOnDestruction) WriteFile();
}

void TimeLogger::MarkBegin(const std::string& label) {
  MarkBegin(label, m_clock());
}

void TimeLogger::MarkBegin(const std::string& label, int64_t time) {
  if (m_depth < kMaxDepth) ++m_depth;
  m_times[m_depth] = time;
  m_labels[m_depth] = label;
  LogEntry(time, "begin");
}

void TimeLogger::MarkEnd() {
  MarkEnd(m_clock());
}

void TimeLogger::MarkEnd(int64_t time) {
  LogEntry(time, "end");
  // The outermost slot stays open: a stray end never takes the depth to 0.
  if (--m_depth < 1) m_depth = 1;
}

void TimeLogger::MarkEnd(const std::string& label) {
  MarkEnd(label, m_clock());
}

void TimeLogger::MarkEnd(const std::string& label, int64_t time) {
  while (m_depth > 1 && m_labels[m_depth] != label) MarkEnd(time);
  MarkEnd(time);
}

void TimeLogger::SetLogPath(const std::string& path, bool writeOnEveryEntry,
                            bool writeOnDestruction) {
  m_logPath = path;
  m_writeOnEveryEntry = writeOnEveryEntry;
  m_writeOnDestruction = writeOnDestruction;
}

void TimeLogger::LogEntry(int64_t time, const char* what) {
  if (m_depth < 1) m_depth = 1;
  if (m_depth > kMaxDepth) m_depth = kMaxDepth;
  std::string line;
  for (int32_t d = 0; d <= m_depth; ++d) {
    line += Format("%10.2f ", static_cast<double>(time - m_times[d]) / 1000.0);
  }
  m_times[0] = time;
  line += m_labels[m_depth];
  line += ' ';
  line += what;
  line += "\r\n";
  m_log += line;
  if (m_writeOnEveryEntry) WriteFile();
}

// Truncates the file and writes the whole log. The log is a diagnostic aid, so
// a file that cannot be written leaves only a debug line.
void TimeLogger::WriteFile() const {
  if (m_logPath.empty()) return;
  FileSystem& fs = FileSystem::Current();
  int fd = fs.Open(m_logPath, O_WRONLY | O_CREAT | O_TRUNC, 0600);
  if (fd < 0) {
    DebugLine("Unable to open file " + m_logPath + " for writing\n");
    return;
  }
  FileSink sink(fd);
  if (!sink.Append(reinterpret_cast<const uint8_t*>(m_log.data()), m_log.size())) {
    DebugLine(
        Format("Unable to write file %s: %s\n", m_logPath.c_str(), std::strerror(sink.error())));
  }
  fs.Close(fd);
}

}  // namespace brontel
