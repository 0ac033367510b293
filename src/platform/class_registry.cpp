#include <map>
#include <mutex>
#include <string>

#include "brontel/platform/serializable.h"

namespace brontel {
namespace {

struct RegistryState {
  std::mutex mutex;
  std::map<std::string, const ClassInfo*, std::less<>> classes;
};

RegistryState& State() {
  static RegistryState state;
  return state;
}

}  // namespace

void ClassRegistry::Register(const ClassInfo& info) {
  RegistryState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  s.classes.emplace(info.name, &info);
}

const ClassInfo* ClassRegistry::Find(std::string_view name) {
  RegistryState& s = State();
  std::lock_guard<std::mutex> lock(s.mutex);
  auto it = s.classes.find(name);
  return it == s.classes.end() ? nullptr : it->second;
}

}  // namespace brontel
