#include "brontel/host/host_classes.h"

#include <mutex>

#include "brontel/core/core_classes.h"
#include "brontel/host/web_content.h"

namespace brontel {

void RegisterHostClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterCoreClasses();
    ClassRegistry::Register(WebContentHolder::kClassInfo);
  });
}

}  // namespace brontel
