#include "brontel/calendar/calendar_classes.h"

#include <mutex>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_holders.h"
#include "brontel/core/log_node.h"
#include "brontel/host/host_classes.h"

namespace brontel {

void RegisterCalendarClasses() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterHostClasses();
    for (const ClassInfo* info : {
             &RecordTableIdentificationHolder::kClassInfo,
             &EventDescriptorHolder::kClassInfo,
             &CalendarDescriptorHolder::kClassInfo,
             &CalendarEventDescriptorHolder::kClassInfo,
             &CalendarHolder::kClassInfo,
             &EventHolder::kClassInfo,
             &CalendarEventHolder::kClassInfo,
             &CalendarManagerHolder::kClassInfo,
             &CalendarCacheHolder::kClassInfo,
             &LogNodeOf<Calendar>::kClassInfo,
             &LogNodeOf<CalendarEvent>::kClassInfo,
             &LogNodeOf<Event>::kClassInfo,
             &LogNodeOf<CalendarList>::kClassInfo,
             &LogNodeOf<CalendarEventList>::kClassInfo,
             &LogNodeOf<EventList>::kClassInfo,
             &LogNodeOf<CalendarManager>::kClassInfo,
             &LogNodeOf<CalendarCache>::kClassInfo,
         }) {
      ClassRegistry::Register(*info);
    }
  });
}

}  // namespace brontel
