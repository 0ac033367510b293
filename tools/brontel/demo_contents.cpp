#include "demo_contents.h"

#include <algorithm>
#include <cstdio>
#include <iterator>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/platform/format.h"

namespace brontel::tool {
namespace {

bool IsLiveShared(const Calendar& calendar) {
  return !calendar.IsNull() && !calendar.IsDeleted() &&
         calendar.GetCalendarDescriptor().GetSharedFlag();
}

bool IsLiveShared(const Category& category) {
  return !category.IsUnfiled() && !category.IsDeleted() &&
         category.GetCategoryDescriptor().GetSharedFlag();
}

// The names of the live shared calendars that show event, sorted.
std::string SharedPlacements(const Event& event) {
  std::vector<std::string> names;
  const CalendarEventList& links = event.GetCalendarEventList();
  for (int32_t k = 0; k < links.GetListCount(); ++k) {
    if (links[k].IsDeleted()) continue;
    Calendar parent = links[k].GetParentCalendar();
    if (IsLiveShared(parent)) names.push_back(parent.GetCalendarDescriptor().GetCalendarName());
  }
  std::sort(names.begin(), names.end());
  std::string text;
  for (const std::string& name : names) text += (text.empty() ? "" : ", ") + name;
  return text;
}

}  // namespace

std::vector<std::string> SharedCalendarLines(const CalendarManager& manager) {
  std::vector<std::string> lines;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (!IsLiveShared(calendars[i])) continue;
    lines.push_back("calendar " + calendars[i].GetCalendarDescriptor().GetDisplayString());
  }
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    EventDescriptor d = e.GetEventDescriptor();
    if (e.IsDeleted() || d.GetIsPrivate()) continue;
    const std::string in = SharedPlacements(e);
    if (in.empty()) continue;
    std::string line = "event " + d.GetDisplayString();
    if (!d.GetDisplayStringRepeat().empty()) line += ", " + d.GetDisplayStringRepeat();
    if (!d.GetDisplayStringAlarm().empty()) line += ", " + d.GetDisplayStringAlarm();
    lines.push_back(line + " in [" + in + "]");
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

std::vector<std::string> SharedContactLines(const CategoryManager& manager) {
  std::vector<std::string> lines;
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (!IsLiveShared(categories[i])) continue;
    lines.push_back("category " + categories[i].GetCategoryDescriptor().GetDisplayString());
  }
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    const Contact& c = contacts[i];
    ContactDescriptor d = c.GetContactDescriptor();
    if (c.IsDeleted() || d.GetIsPrivate() || !IsLiveShared(c.GetCategory())) continue;
    std::string line = "contact";
    for (int32_t k = 0; k < ContactDescriptor::numDatums; ++k) line += "|" + d.GetDatum(k);
    line +=
        Format("|flags %x|options %x|offset %d in ", d.GetFlags(), d.GetOptions(), d.GetOffset());
    lines.push_back(line + c.GetCategory().GetCategoryDescriptor().GetCategoryName());
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

bool CompareCopies(const std::string& what, const std::vector<NamedLines>& copies) {
  bool same = true;
  if (copies.empty()) return same;
  const NamedLines& first = copies.front();
  for (size_t i = 1; i < copies.size(); ++i) {
    const NamedLines& other = copies[i];
    std::vector<std::string> onlyFirst;
    std::vector<std::string> onlyOther;
    std::set_difference(first.lines.begin(), first.lines.end(), other.lines.begin(),
                        other.lines.end(), std::back_inserter(onlyFirst));
    std::set_difference(other.lines.begin(), other.lines.end(), first.lines.begin(),
                        first.lines.end(), std::back_inserter(onlyOther));
    if (onlyFirst.empty() && onlyOther.empty()) continue;
    same = false;
    std::printf("  %s: %s and %s DIFFER\n", what.c_str(), first.name.c_str(), other.name.c_str());
    for (const std::string& line : onlyFirst) {
      std::printf("    only %s: %s\n", first.name.c_str(), line.c_str());
    }
    for (const std::string& line : onlyOther) {
      std::printf("    only %s: %s\n", other.name.c_str(), line.c_str());
    }
  }
  return same;
}

}  // namespace brontel::tool
