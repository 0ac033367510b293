// Program launches: the library starts the other programs of the service
// through a callback that the host can replace.
//
// The default starts folder/program with posix_spawn, no arguments and folder
// as its working folder, and does not wait for it; children that have ended
// are collected at the next launch.
#pragma once

#include <functional>
#include <string>

namespace brontel {

// Starts program (a file name) from folder; true when it was started.
using ProgramLaunchCallback =
    std::function<bool(const std::string& program, const std::string& folder)>;

// Installs the host's launcher (an empty function restores the default) and
// returns the previous one.
ProgramLaunchCallback SetProgramLaunchCallback(ProgramLaunchCallback callback);

// Starts program through the installed callback.
bool LaunchProgram(const std::string& program, const std::string& folder);

}  // namespace brontel
