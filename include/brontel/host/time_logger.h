// TimeLogger: a text log of how long the stages of a synchronization take.
//
// Callers mark the beginning and end of named stages, which may nest up to 19
// deep; every mark appends one line giving the seconds since the previous mark
// and since the beginning of each open stage, outermost first, then the stage's
// name and "begin" or "end". The log can be written to a file on every mark
// and/or when the logger is destroyed.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>

namespace brontel {

class TimeLogger {
 public:
  // Reads the process clock in milliseconds.
  using ClockFunction = std::function<int64_t()>;

  // Highest stage number; deeper stages replace the innermost one.
  static constexpr int32_t kMaxDepth = 19;
  // The first line of every log.
  static constexpr const char* kHeader = "     DELTA\r\n";

  // A logger on the process clock (std::chrono::steady_clock).
  TimeLogger();
  // A logger on the given clock, so that tests get the same text every run.
  // REQUIRES: clock is callable.
  explicit TimeLogger(ClockFunction clock);
  // Writes the file when the write-on-destruction flag is set.
  virtual ~TimeLogger();
  TimeLogger(const TimeLogger&) = delete;
  TimeLogger& operator=(const TimeLogger&) = delete;

  // Opens a stage named label, now or at time (milliseconds of the clock).
  void MarkBegin(const std::string& label);
  void MarkBegin(const std::string& label, int64_t time);
  // Closes the innermost stage.
  void MarkEnd();
  void MarkEnd(int64_t time);
  // Closes the stages up to and including the innermost one named label; when
  // no open stage has that name, closes all but the outermost, then that one.
  void MarkEnd(const std::string& label);
  void MarkEnd(const std::string& label, int64_t time);

  // Sets the file the log goes to (empty: none) and when it is written.
  void SetLogPath(const std::string& path, bool writeOnEveryEntry, bool writeOnDestruction);
  const std::string& GetLog() const { return m_log; }
  // Number of the innermost open stage (0 before the first mark).
  int32_t GetDepth() const { return m_depth; }

 private:
  void LogEntry(int64_t time, const char* what);
  void WriteFile() const;

  ClockFunction m_clock;
  int32_t m_depth = 0;
  // m_times[0]: the latest mark; m_times[d]: the beginning of open stage d.
  std::array<int64_t, kMaxDepth + 1> m_times{};
  std::array<std::string, kMaxDepth + 1> m_labels;
  std::string m_log = kHeader;
  std::string m_logPath;
  bool m_writeOnEveryEntry = false;
  bool m_writeOnDestruction = false;
};

}  // namespace brontel
