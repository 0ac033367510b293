// Subcommands of the brontel tool.
#pragma once

#include <string>
#include <vector>

#include "brontel/calendar/calendar_manager.h"

namespace brontel::tool {

// brontel calendar OP --dir DIR --copy FILE.json
int CalendarCommand(const std::vector<std::string>& args);
// brontel demo [--dir DIR]
int DemoCommand(const std::vector<std::string>& args);

// The records of a copy as indented lines for people.
std::string DescribeCopy(const CalendarManager& manager, const std::string& indent);
// "ERR_NONE" and so on.
const char* ResultName(uint32_t result);

}  // namespace brontel::tool
