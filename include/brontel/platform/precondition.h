// Precondition checks for callers of the library.
//
// BRONTEL_REQUIRE(cond, message) stops a debug build with the given message when
// cond is false; a release build (NDEBUG) compiles it to nothing and does not
// evaluate cond. Preconditions are promises the caller makes, not reported errors.
#pragma once

namespace brontel {

// Prints "Precondition failed: <message> (<file>:<line>)" to stderr and aborts.
[[noreturn]] void PreconditionFailed(const char* message, const char* file, int line);

}  // namespace brontel

#ifdef NDEBUG
#define BRONTEL_REQUIRE(cond, message) ((void)sizeof(!(cond)))
#else
#define BRONTEL_REQUIRE(cond, message) \
  ((cond) ? (void)0 : ::brontel::PreconditionFailed(message, __FILE__, __LINE__))
#endif
