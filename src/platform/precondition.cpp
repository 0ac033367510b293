#include "brontel/platform/precondition.h"

#include <cstdio>
#include <cstdlib>

namespace brontel {

void PreconditionFailed(const char* message, const char* file, int line) {
  std::fprintf(stderr, "Precondition failed: %s (%s:%d)\n", message, file, line);
  std::abort();
}

}  // namespace brontel
