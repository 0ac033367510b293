#include "bench_support.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "brontel/host/registry.h"
#include "server_process.h"

namespace brontel::bench {
namespace {

[[noreturn]] void Die(const std::string& what) {
  std::fprintf(stderr, "bench: %s: %s\n", what.c_str(), std::strerror(errno));
  std::exit(1);
}

std::string ScratchRoot() {
  const char* root = std::getenv("BRONTEL_BENCH_DIR");
  if (root != nullptr && *root != '\0') return root;
  return std::filesystem::temp_directory_path().string();
}

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

}  // namespace

ScratchDir::ScratchDir(const std::string& label) {
  std::filesystem::create_directories(ScratchRoot());
  std::string pattern = ScratchRoot() + "/brontel-bench-" + label + "-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) Die("mkdtemp " + pattern);
  m_path = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(m_path, ignored);
}

const std::string& UsePrivateSettings() {
  // Removed at exit; API objects still alive then read no settings.
  static const ScratchDir settings("settings");
  static const bool set = setenv("BRONTEL_REGISTRY_DIR", settings.path().c_str(), 1) == 0;
  (void)set;
  return settings.path();
}

bool EnvironmentFlag(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr && *value != '\0' && std::string(value) != "0";
}

bool LargeSizes() {
  return EnvironmentFlag("BRONTEL_BENCH_LARGE");
}

uint64_t FileSize(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
}

void DurableWrite(const std::string& path, uint64_t size) {
  static const std::vector<char> chunk(1 << 20, 'x');
  const std::string temp = path + ".floor";
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) Die("open " + temp);
  for (uint64_t left = size; left > 0;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, chunk.size()));
    const ssize_t written = ::write(fd, chunk.data(), n);
    if (written <= 0) Die("write " + temp);
    left -= static_cast<uint64_t>(written);
  }
  if (::fsync(fd) != 0) Die("fsync " + temp);
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) Die("rename " + temp);
  const int dir = ::open(DirectoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) Die("open directory of " + path);
  if (::fsync(dir) != 0) Die("fsync directory of " + path);
  ::close(dir);
}

uint64_t ReadBack(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) Die("open " + path);
  std::string bytes;
  bytes.resize(static_cast<size_t>(FileSize(path)));
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) Die("read " + path);
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  return done;
}

uint64_t PeakMemoryOfChild(const std::function<bool()>& work) {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) return 0;
  if (pid == 0) _exit(work() ? 0 : 1);
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return 0;
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return 0;
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

uint64_t OwnPeakMemory() {
  struct rusage usage;
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}

ReferenceServer::ReferenceServer() = default;
ReferenceServer::~ReferenceServer() = default;

bool ReferenceServer::Start(std::string* error) {
  UsePrivateSettings();
  m_dir = std::make_unique<ScratchDir>("server");
  m_process = std::make_unique<tool::ServerProcess>();
  const char* program = std::getenv("BRONTEL_SERVER_PROGRAM");
  const std::string path = program != nullptr && *program != '\0'
                               ? std::string(program)
                               : tool::ProgramBesideSelf("brontel-server");
  if (!m_process->Start(path, m_dir->File("server.db"), m_dir->File("port"),
                        m_dir->File("server.log"), error)) {
    return false;
  }
  m_address = "127.0.0.1:" + std::to_string(m_process->port());
  CRegistry().SetServerSyncName(m_address);
  return true;
}

}  // namespace brontel::bench
