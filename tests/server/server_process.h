// The real server program for tests: ServerProcess runs `brontel-server serve`
// on a free loopback port over one database file and can stop it and start it
// again on the same database; RunServerCommand runs one of the program's
// other commands (share, unshare) to its end. BRONTEL_SERVER_PROGRAM names
// the program.
#pragma once

#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace brontel::server::testing {

// Starts the program with args and gives its process id, or -1. The program
// is killed when the thread that started it ends, so that a test that dies
// leaves no server behind.
inline pid_t SpawnServerProgram(const std::vector<std::string>& args) {
  std::vector<std::string> words = {BRONTEL_SERVER_PROGRAM};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid != 0) return pid;
  // The child: only async-signal-safe calls until exec.
  prctl(PR_SET_PDEATHSIG, SIGKILL);
  if (getppid() != parent) _exit(127);
  execv(argv[0], argv.data());
  _exit(127);
}

// Waits for pid and gives its exit status (-1 when a signal ended it).
inline int WaitForExit(pid_t pid) {
  int status = 0;
  if (waitpid(pid, &status, 0) != pid) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs the program with args to its end: its exit status, -1 when it could
// not be started or a signal ended it.
inline int RunServerCommand(const std::vector<std::string>& args) {
  pid_t pid = SpawnServerProgram(args);
  return pid > 0 ? WaitForExit(pid) : -1;
}

class ServerProcess {
 public:
  // Serves the database server.db of directory (created when missing).
  explicit ServerProcess(const std::string& directory)
      : m_database(directory + "/server.db"), m_portFile(directory + "/port") {
    Start();
  }
  ~ServerProcess() {
    if (m_pid > 0) {
      kill(m_pid, SIGKILL);
      waitpid(m_pid, nullptr, 0);
    }
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  const std::string& Database() const { return m_database; }

  // The port from the port file, once the server wrote it; 0 if it never does.
  int WaitForPort() {
    for (int attempt = 0; attempt < 3000 && m_pid > 0; ++attempt) {
      std::ifstream in(m_portFile);
      int port = 0;
      if (in >> port && port > 0) return port;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return 0;
  }

  // Sends SIGTERM and returns the exit status (-1 when killed by a signal).
  int Stop() {
    if (m_pid <= 0) return -1;
    kill(m_pid, SIGTERM);
    int status = WaitForExit(m_pid);
    m_pid = -1;
    return status;
  }

  // Stops the server and starts it again on the same database; gives the
  // new port (0 when it did not come up).
  int Restart() {
    Stop();
    Start();
    return WaitForPort();
  }

 private:
  void Start() {
    std::remove(m_portFile.c_str());
    m_pid = SpawnServerProgram(
        {"serve", "--db", m_database, "--listen", "127.0.0.1:0", "--port-file", m_portFile});
  }

  std::string m_database;
  std::string m_portFile;
  pid_t m_pid = -1;
};

}  // namespace brontel::server::testing
