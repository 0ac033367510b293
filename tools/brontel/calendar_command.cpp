#include <algorithm>
#include <cstdio>
#include <cstring>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"
#include "commands.h"
#include "copy_command.h"
#include "copy_json.h"

namespace brontel::tool {

const char* ResultName(uint32_t result) {
  switch (result) {
    case ERR_NONE:
      return "ERR_NONE";
    case ERR_XML_PARSE:
      return "ERR_XML_PARSE";
    case ERR_EMPTY_RESPONSE:
      return "ERR_EMPTY_RESPONSE";
    case ERR_NO_CHILD_ELEMENTS:
      return "ERR_NO_CHILD_ELEMENTS";
    case ERR_WRONG_ROOT:
      return "ERR_WRONG_ROOT";
    case ERR_CONNECTION:
      return "ERR_CONNECTION";
    case ERR_SERVER_QUERY:
      return "ERR_SERVER_QUERY";
    case ERR_NO_SERVER_UPDATE:
      return "ERR_NO_SERVER_UPDATE";
    case ERR_SERVER_FAILURE:
      return "ERR_SERVER_FAILURE";
    case ERR_CONFLICTING_ACCOUNTS:
      return "ERR_CONFLICTING_ACCOUNTS";
    case ERR_TOO_MANY_CATEGORIES:
      return "ERR_TOO_MANY_CATEGORIES";
    case ERR_NOT_IMPLEMENTED:
      return "ERR_NOT_IMPLEMENTED";
    case ERR_DAMAGED_FILE:
      return "ERR_DAMAGED_FILE";
    case ERR_WRITE_FAILED:
      return "ERR_WRITE_FAILED";
  }
  return "unknown result";
}

namespace {

std::string Flags(bool deleted, bool dirty, bool conflicted) {
  std::string out;
  if (deleted) out += " (deleted)";
  if (dirty) out += " (changed)";
  if (conflicted) out += " (CONFLICT)";
  return out;
}

// "local", "published" or "subscribed", as the calendar's sharing flags say.
std::string Kind(const CalendarDescriptor& d) {
  if (!d.GetSharedFlag()) return "local";
  if (d.GetOwnedFlag()) return "published";
  if (d.IsHidden()) return "subscribed, private";
  return d.IsReadOnly() ? "subscribed, read-only" : "subscribed";
}

std::string When(const EventDescriptor& d) {
  std::string text = DateText(d.GetYearMonthDate());
  if (d.GetStartTime() != 0xFFFF) {
    text += Format(" %02d:%02d-%02d:%02d", d.GetStartTime() >> 8, d.GetStartTime() & 0xFF,
                   d.GetEndTime() >> 8, d.GetEndTime() & 0xFF);
  }
  return text;
}

}  // namespace

std::string DescribeCopy(const CalendarManager& manager, const std::string& indent) {
  std::string out;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    CalendarDescriptor d = c.GetCalendarDescriptor();
    out += indent + Format("calendar \"%s\" (%s)%s%s\n", d.GetCalendarName().c_str(),
                           Kind(d).c_str(), d.IsDefaultCalendar() ? " (default)" : "",
                           Flags(c.IsDeleted(), c.IsDirty(), c.IsConflicted()).c_str());
  }
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    EventDescriptor d = e.GetEventDescriptor();
    std::string in;
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t k = 0; k < links.GetListCount(); ++k) {
      Calendar parent = links[k].GetParentCalendar();
      if (parent.IsNull()) continue;
      in += (in.empty() ? "" : ", ") + parent.GetCalendarDescriptor().GetCalendarName();
      if (links[k].IsDeleted()) in += " (removed)";
    }
    out += indent + Format("event \"%s\" %s in [%s]%s%s\n", d.GetName().c_str(), When(d).c_str(),
                           in.c_str(), d.GetIsPrivate() ? " (private)" : "",
                           Flags(e.IsDeleted(), e.IsDirty(), e.IsConflicted()).c_str());
    const std::string repeat = d.GetDisplayStringRepeat();
    if (!repeat.empty()) out += indent + "    " + repeat + "\n";
    if (!d.GetNote().empty()) out += indent + "    note: " + d.GetNote() + "\n";
    if (e.IsConflicted()) {
      Event other = e.GetConflict();
      out += indent + Format("    other version: \"%s\" %s%s\n",
                             other.GetEventDescriptor().GetName().c_str(),
                             When(other.GetEventDescriptor()).c_str(),
                             other.IsDeleted() ? " (deleted)" : "");
    }
  }
  if (out.empty()) out = indent + "(no records)\n";
  return out;
}

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: brontel calendar "
               "sync-desktop|sync-handheld|sync-handheld-first-time|handheld-overrides|"
               "desktop-overrides --dir DIR --copy FILE.json\n");
  return 2;
}

}  // namespace

int CalendarCommand(const std::vector<std::string>& args) {
  CopyCommandArgs a;
  if (!ParseCopyCommandArgs(args, &a)) return Usage();
  const std::vector<std::string> kOps = {"sync-desktop", "sync-handheld",
                                         "sync-handheld-first-time", "handheld-overrides",
                                         "desktop-overrides"};
  if (std::find(kOps.begin(), kOps.end(), a.op) == kOps.end()) return Usage();
  std::string text, error;
  if (!ReadCopyFile(a.copyPath, &text)) return 1;
  CalendarApi api = BrontelAPI::CreateCalendarApi(a.dir, "brontel tool");
  CalendarManager manager = api.GetCalendarManager();
  if (!LoadCopy(text, manager, &error)) {
    std::fprintf(stderr, "brontel: %s: %s\n", a.copyPath.c_str(), error.c_str());
    return 1;
  }

  br_error result;
  if (a.op == "sync-desktop") {
    result = api.SyncDesktop();
  } else if (a.op == "sync-handheld") {
    result = api.SyncHandheld();
  } else if (a.op == "sync-handheld-first-time") {
    result = api.SyncHandheldFirstTime();
  } else if (a.op == "handheld-overrides") {
    result = api.SyncHandheldOverideDesktop();
  } else {
    result = api.SyncDesktopOverideHandheld();
  }

  if (!WriteCopyFile(a.copyPath, SaveCopy(api.GetCalendarManager()))) return 1;
  PrintOutcome(result, api);
  std::printf("%s", DescribeCopy(api.GetCalendarManager(), "  ").c_str());
  return result == ERR_NONE ? 0 : 1;
}

}  // namespace brontel::tool
