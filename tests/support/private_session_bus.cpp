#include "support/private_session_bus.h"

#include <signal.h>

#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace brontel::testing {

bool PrivateSessionBus::DaemonInstalled() {
  return std::system("command -v dbus-daemon >/dev/null 2>&1") == 0;
}

PrivateSessionBus::PrivateSessionBus() : m_runtimeVariable("XDG_RUNTIME_DIR", m_runtime.path()) {
  if (!DaemonInstalled()) {
    m_failure = "dbus-daemon is not installed";
    return;
  }
  // The daemon forks, prints its address and process id, and closes its end
  // of the pipe, so reading to the end does not wait for it to stop.
  FILE* pipe = ::popen(
      "exec dbus-daemon --session --fork --nopidfile --print-address=1 --print-pid=1 "
      "2>/dev/null",
      "r");
  if (pipe == nullptr) {
    m_failure = "cannot run dbus-daemon";
    return;
  }
  std::string output;
  char buffer[256];
  while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
  const int status = ::pclose(pipe);
  std::istringstream lines(output);
  std::string pidText;
  std::getline(lines, m_address);
  std::getline(lines, pidText);
  if (status != 0 || m_address.empty() || pidText.empty()) {
    m_failure = "dbus-daemon did not start: " + output;
    return;
  }
  m_pid = static_cast<pid_t>(std::atol(pidText.c_str()));
  m_busVariable.emplace("DBUS_SESSION_BUS_ADDRESS", m_address);
}

PrivateSessionBus::~PrivateSessionBus() {
  if (m_pid > 0) ::kill(m_pid, SIGTERM);
}

}  // namespace brontel::testing
