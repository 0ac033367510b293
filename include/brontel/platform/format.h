// printf-style formatting into a std::string.
//
// Format(fmt, ...) applies the C library's vsnprintf rules exactly, so the
// library's display formats ("%.4x", "%10.2f ") produce the same text as on
// any platform with a standard C library.
#pragma once

#include <cstdarg>
#include <string>

namespace brontel {

std::string Format(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* fmt, va_list args);

}  // namespace brontel
