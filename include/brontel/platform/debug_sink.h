// Diagnostic lines of the library ("Unable to open file ...").
//
// Lines go to the installed sink. The default sink writes to stderr when the
// environment variable BRONTEL_DEBUG is set and drops them otherwise; a host can
// install its own sink (or null to restore the default).
#pragma once

#include <string>

namespace brontel {

using DebugSinkFunction = void (*)(const std::string& line);

void SetDebugSink(DebugSinkFunction sink);
// Sends one diagnostic line to the current sink.
void DebugLine(const std::string& line);

}  // namespace brontel
