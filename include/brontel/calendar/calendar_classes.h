// Registration of the stored classes of the calendar side and the layers below
// it. Idempotent and thread-safe.
#pragma once

namespace brontel {

void RegisterCalendarClasses();

}  // namespace brontel
