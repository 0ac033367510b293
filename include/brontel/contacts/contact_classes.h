// Registration of the stored classes of the contact side and the layers below
// it. Idempotent and thread-safe.
#pragma once

namespace brontel {

void RegisterContactClasses();

}  // namespace brontel
