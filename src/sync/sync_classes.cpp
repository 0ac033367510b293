#include "brontel/sync/sync_classes.h"

#include <mutex>

#include "brontel/calendar/calendar_classes.h"
#include "brontel/contacts/contact_classes.h"
#include "brontel/core/log_node.h"
#include "brontel/sync/calendar_server_transformation.h"
#include "brontel/sync/calendar_transformation.h"
#include "brontel/sync/category_server_transformation.h"
#include "brontel/sync/category_transformation.h"

namespace brontel {

void RegisterSyncClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterCalendarClasses();
    RegisterContactClasses();
    ClassRegistry::Register(LogNodeOf<CalendarTransformation>::kClassInfo);
    ClassRegistry::Register(LogNodeOf<CategoryTransformation>::kClassInfo);
    ClassRegistry::Register(LogNodeOf<CalendarServerTransformation>::kClassInfo);
    ClassRegistry::Register(LogNodeOf<CategoryServerTransformation>::kClassInfo);
  });
}

}  // namespace brontel
