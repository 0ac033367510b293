// ServerProcess: a brontel-server child process that lives as long as the
// object, for the demo.
//
// Start() runs `PROGRAM serve --db FILE --listen 127.0.0.1:0 --port-file FILE`
// with its output in a log file and waits until the port file names the port.
// Stop() sends SIGTERM and reports whether the program ended on its own with
// status 0; the destructor stops a program still running (SIGKILL when it does
// not end within a few seconds), so every way out of the demo ends the server,
// and the child also gets SIGTERM from the kernel should the demo die first.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

namespace brontel::tool {

class ServerProcess {
 public:
  ServerProcess() = default;
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;
  ~ServerProcess();

  // Starts program serving the database file database on a free loopback port;
  // the port file and the program's log go to portFile and logFile. False, with
  // *error set, when the program could not be started or named no port.
  bool Start(const std::string& program, const std::string& database, const std::string& portFile,
             const std::string& logFile, std::string* error);

  // Sends SIGTERM and waits; true when the program exited with status 0. The
  // text of the outcome (e.g. "exited with status 0") goes to *outcome.
  bool Stop(std::string* outcome);

  bool IsRunning() const { return m_pid > 0; }
  int port() const { return m_port; }

 private:
  // Waits up to timeoutMs for the child; true with *status set when it ended.
  bool WaitFor(int timeoutMs, int* status);

  pid_t m_pid = -1;
  int m_port = 0;
};

// Runs program with arguments (the program name excluded), its output into
// logFile, and waits for it; the exit status, or -1 when it could not be run or
// ended by a signal.
int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& logFile);

// The program named name in the directory of the running executable.
std::string ProgramBesideSelf(const std::string& name);

}  // namespace brontel::tool
