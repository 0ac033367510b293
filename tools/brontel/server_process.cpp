#include "server_process.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

namespace brontel::tool {
namespace {

constexpr int kStartTimeoutMs = 10000;
constexpr int kStopTimeoutMs = 5000;
constexpr int kPollMs = 10;

// Starts words[0] with words as its argument vector, standard output and
// error appended to logFile; -1 when it could not.
pid_t Spawn(const std::vector<std::string>& words, const std::string& logFile) {
  std::vector<std::string> copies = words;
  std::vector<char*> argv;
  for (std::string& word : copies) argv.push_back(word.data());
  argv.push_back(nullptr);
  const int log = open(logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  if (log < 0) return -1;
  const pid_t parent = getpid();
  const pid_t pid = fork();
  if (pid == 0) {
    // The child gets SIGTERM when the demo ends, even when it is killed or
    // aborts before its guard can stop the child.
    prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (getppid() != parent) _exit(127);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(log);
  return pid;
}

std::string Describe(int status) {
  if (WIFEXITED(status)) return "exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return std::string("ended by signal ") + strsignal(WTERMSIG(status));
  return "ended";
}

}  // namespace

ServerProcess::~ServerProcess() {
  if (m_pid <= 0) return;
  std::string ignored;
  Stop(&ignored);
}

bool ServerProcess::Start(const std::string& program, const std::string& database,
                          const std::string& portFile, const std::string& logFile,
                          std::string* error) {
  if (access(program.c_str(), X_OK) != 0) {
    *error = "cannot run " + program + ": " + std::strerror(errno);
    return false;
  }
  std::filesystem::remove(portFile);
  m_pid = Spawn(
      {program, "serve", "--db", database, "--listen", "127.0.0.1:0", "--port-file", portFile},
      logFile);
  if (m_pid <= 0) {
    *error = "cannot start " + program;
    return false;
  }
  for (int waited = 0; waited < kStartTimeoutMs; waited += kPollMs) {
    std::ifstream in(portFile);
    int port = 0;
    if (in >> port && port > 0) {
      m_port = port;
      return true;
    }
    int status = 0;
    if (WaitFor(0, &status)) {
      *error = program + " " + Describe(status) + " before it listened (see " + logFile + ")";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
  *error = program + " wrote no port file within " + std::to_string(kStartTimeoutMs / 1000) +
           " seconds (see " + logFile + ")";
  std::string ignored;
  Stop(&ignored);
  return false;
}

bool ServerProcess::Stop(std::string* outcome) {
  if (m_pid <= 0) {
    *outcome = "was not running";
    return false;
  }
  kill(m_pid, SIGTERM);
  int status = 0;
  if (WaitFor(kStopTimeoutMs, &status)) {
    *outcome = Describe(status);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
  }
  kill(m_pid, SIGKILL);
  waitpid(m_pid, &status, 0);
  m_pid = -1;
  *outcome = "did not stop within " + std::to_string(kStopTimeoutMs / 1000) +
             " seconds of SIGTERM and was killed";
  return false;
}

bool ServerProcess::WaitFor(int timeoutMs, int* status) {
  for (int waited = 0;; waited += kPollMs) {
    const pid_t ended = waitpid(m_pid, status, WNOHANG);
    if (ended == m_pid || (ended < 0 && errno != EINTR)) {
      m_pid = -1;
      return true;
    }
    if (waited >= timeoutMs) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
  }
}

int RunProgram(const std::string& program, const std::vector<std::string>& arguments,
               const std::string& logFile) {
  std::vector<std::string> words = {program};
  words.insert(words.end(), arguments.begin(), arguments.end());
  const pid_t pid = Spawn(words, logFile);
  if (pid <= 0) return -1;
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string ProgramBesideSelf(const std::string& name) {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return name;
  return (self.parent_path() / name).string();
}

}  // namespace brontel::tool
