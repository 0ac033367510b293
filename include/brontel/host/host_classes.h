// Registration of the stored classes of the host layer and the layers below it.
// Idempotent and thread-safe.
#pragma once

namespace brontel {

void RegisterHostClasses();

}  // namespace brontel
