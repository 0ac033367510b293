// A D-Bus session bus of the test's own: a dbus-daemon started for the
// fixture's lifetime, with DBUS_SESSION_BUS_ADDRESS pointing at it, and a
// runtime folder of its own (XDG_RUNTIME_DIR) so clipboard slots stay private.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brontel::testing {

class PrivateSessionBus {
 public:
  // Starts the daemon when dbus-daemon is installed; a failure to start an
  // installed daemon is reported by Start's result.
  PrivateSessionBus();
  // Stops the daemon it started and restores the environment.
  ~PrivateSessionBus();
  PrivateSessionBus(const PrivateSessionBus&) = delete;
  PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

  // False when dbus-daemon is not installed (the test should skip).
  static bool DaemonInstalled();
  // Empty when running, else why it is not.
  const std::string& failure() const { return m_failure; }
  bool running() const { return m_pid > 0; }
  const std::string& address() const { return m_address; }
  const TempDir& runtimeFolder() const { return m_runtime; }

 private:
  TempDir m_runtime;
  std::optional<ScopedEnvironment> m_busVariable;
  ScopedEnvironment m_runtimeVariable;
  std::string m_address;
  std::string m_failure;
  pid_t m_pid = -1;
};

}  // namespace brontel::testing
