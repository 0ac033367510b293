// What one user's copies must agree on after a server synchronization: the
// shared data, as sorted lines that leave out every record id and version, so
// that a desktop, a handheld and a cache can be compared line by line.
// Calendars and categories count when they are shared (published or
// subscribed); events and contacts when they are not private and live in one.
// Local calendars, categories and unfiled contacts never reach the server and
// may differ between the copies.
#pragma once

#include <string>
#include <vector>

#include "brontel/calendar/calendar_manager.h"
#include "brontel/contacts/category_manager.h"

namespace brontel::tool {

// One line per shared calendar and per event shown in one, with its data and
// the sorted names of the shared calendars that show it.
std::vector<std::string> SharedCalendarLines(const CalendarManager& manager);
// One line per shared category and per contact filed in one, with every field.
std::vector<std::string> SharedContactLines(const CategoryManager& manager);

// A copy under a name, for CompareCopies.
struct NamedLines {
  std::string name;
  std::vector<std::string> lines;
};

// Compares every copy with the first; prints each line that one has and the
// other lacks, under what, and returns true when all are equal.
bool CompareCopies(const std::string& what, const std::vector<NamedLines>& copies);

}  // namespace brontel::tool
