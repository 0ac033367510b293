// What the benchmark programs share besides the data generator: private
// scratch directories and settings, the durable-write floor (the cost of
// writing a file as the library writes its caches), peak memory of a child
// process, and a brontel-server started on loopback for server benchmarks.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace brontel::tool {
class ServerProcess;
}

namespace brontel::bench {

// A new empty directory under $BRONTEL_BENCH_DIR (else the temporary
// directory), removed with everything in it when the object goes.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& label);
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  ~ScratchDir();
  const std::string& path() const { return m_path; }
  std::string File(const std::string& name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

// Points the settings store (BRONTEL_REGISTRY_DIR) at a scratch directory of
// its own, once per process, so that no benchmark reads or changes the user's
// settings. Returns that directory.
const std::string& UsePrivateSettings();

// True when the environment variable name is set, not empty and not "0".
bool EnvironmentFlag(const char* name);

// True when $BRONTEL_BENCH_LARGE is set (and not "0"): the calendar
// benchmarks then also run at 200 000 events, where both of the two largest
// sizes are far beyond the processor's caches, so that doubling the data shows
// whether the cost keeps growing with it and no faster.
bool LargeSizes();

// The size of a file in bytes (0 when it does not exist).
uint64_t FileSize(const std::string& path);

// The durable-write floor: writes size bytes to a temporary file beside path,
// syncs it, renames it onto path and syncs the directory, as the library
// replaces a cache file. Aborts the program on an I/O failure.
void DurableWrite(const std::string& path, uint64_t size);
// Reads path whole into memory, as the library reads a cache file; returns
// the number of bytes read.
uint64_t ReadBack(const std::string& path);

// Runs work in a child process and returns the child's peak resident set in
// bytes (getrusage of the child), or 0 when the child failed. The child
// inherits this process's memory: call it before building large data here.
uint64_t PeakMemoryOfChild(const std::function<bool()>& work);
// The peak resident set of this process so far, in bytes.
uint64_t OwnPeakMemory();

// A brontel-server on a free loopback port with a fresh database, named in the
// settings store as the server to synchronize with. The program is
// $BRONTEL_SERVER_PROGRAM, else brontel-server beside the running program.
class ReferenceServer {
 public:
  ReferenceServer();
  ~ReferenceServer();
  // False with *error set when the server could not be started.
  bool Start(std::string* error);
  const std::string& address() const { return m_address; }

 private:
  std::unique_ptr<ScratchDir> m_dir;
  std::unique_ptr<tool::ServerProcess> m_process;
  std::string m_address;
};

}  // namespace brontel::bench
