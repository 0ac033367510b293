#include "brontel/platform/program_launch.h"

#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <mutex>
#include <utility>
#include <vector>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/format.h"

extern char** environ;

namespace brontel {
namespace {

std::mutex g_mutex;
ProgramLaunchCallback g_callback;
// Children started by the default launcher that have not been collected yet.
std::vector<pid_t> g_children;

// Collects the children that have ended, so none lingers as a zombie. Children
// the host collected itself are forgotten as well.
void CollectEndedChildren() {
  std::erase_if(g_children, [](pid_t pid) { return ::waitpid(pid, nullptr, WNOHANG) != 0; });
}

bool SpawnFromFolder(const std::string& program, const std::string& folder) {
  const std::string path = folder + "/" + program;
  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return false;
  int result = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  pid_t pid = 0;
  if (result == 0) {
    std::vector<char> argument0(path.begin(), path.end());
    argument0.push_back('\0');
    char* argv[] = {argument0.data(), nullptr};
    result = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv, environ);
  }
  posix_spawn_file_actions_destroy(&actions);
  if (result != 0) {
    DebugLine(Format("Unable to start %s: %s", path.c_str(), std::strerror(result)));
    return false;
  }
  std::lock_guard<std::mutex> lock(g_mutex);
  CollectEndedChildren();
  g_children.push_back(pid);
  return true;
}

}  // namespace

ProgramLaunchCallback SetProgramLaunchCallback(ProgramLaunchCallback callback) {
  std::lock_guard<std::mutex> lock(g_mutex);
  return std::exchange(g_callback, std::move(callback));
}

bool LaunchProgram(const std::string& program, const std::string& folder) {
  ProgramLaunchCallback callback;
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    callback = g_callback;
  }
  return callback ? callback(program, folder) : SpawnFromFolder(program, folder);
}

}  // namespace brontel
