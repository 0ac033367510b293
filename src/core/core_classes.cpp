#include "brontel/core/core_classes.h"

#include <mutex>

#include "brontel/core/log_list.h"
#include "brontel/core/log_string.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"

namespace brontel {

void RegisterCoreClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    ClassRegistry::Register(LogNode::kClassInfo);
    ClassRegistry::Register(LogNodeOf<LogString>::kClassInfo);
    ClassRegistry::Register(LogListNode::kClassInfo);
    ClassRegistry::Register(RecordIdentificationHolder::kClassInfo);
    ClassRegistry::Register(RecordStatusHolder::kClassInfo);
  });
}

}  // namespace brontel
