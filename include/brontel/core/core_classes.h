// Registration of the stored classes of the core layer (log nodes and record
// identity). Idempotent and thread-safe; readers in this layer call it before
// they read, and higher layers call it from their own registration.
#pragma once

namespace brontel {

void RegisterCoreClasses();

}  // namespace brontel
