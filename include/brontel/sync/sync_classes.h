// Registration of the stored classes of the synchronization engines and the
// layers below them. Idempotent and thread-safe.
#pragma once

namespace brontel {

void RegisterSyncClasses();

}  // namespace brontel
