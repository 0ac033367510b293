// Subcommands of the brontel tool.
#pragma once

#include <string>
#include <vector>

#include "brontel/calendar/calendar_manager.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/host/user_notice_manager.h"

namespace brontel::tool {

// brontel calendar OP --dir DIR --copy FILE.json
int CalendarCommand(const std::vector<std::string>& args);
// brontel contacts OP --dir DIR --copy FILE.json
int ContactsCommand(const std::vector<std::string>& args);
// brontel demo [--dir DIR] [--server-program PATH]
int DemoCommand(const std::vector<std::string>& args);

// The records of a copy as indented lines for people.
std::string DescribeCopy(const CalendarManager& manager, const std::string& indent);
// The categories and contacts of a copy as indented lines for people.
std::string DescribeContacts(const CategoryManager& manager, const std::string& indent);
// The notices not yet handled: title, summary and each detail line.
std::string DescribeNotices(const UserNoticeManager& notices, const std::string& indent);
// "ERR_NONE" and so on.
const char* ResultName(uint32_t result);

}  // namespace brontel::tool
