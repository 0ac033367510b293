#include "copy_json.h"

#include <cstdio>

#include "brontel/calendar/calendar_lists.h"
#include "brontel/platform/format.h"
#include "json_fields.h"

namespace brontel::tool {
namespace {

// Bytes of the records (alarm advance, repeat frequency and so on).
constexpr uint32_t kByte = 0xFF;

uint16_t DateOf(const Json& j, const char* key, uint16_t fallback) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  uint16_t packed;
  if (!it->is_string() || !ParseDate(it->get<std::string>(), &packed)) {
    throw BadCopy(Format("\"%s\" is not a date YYYY-MM-DD between 1904 and 2031", key));
  }
  return packed;
}

uint16_t TimeOf(const Json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return 0xFFFF;
  int h, m;
  char rest;
  if (!it->is_string() ||
      std::sscanf(it->get<std::string>().c_str(), "%d:%d%c", &h, &m, &rest) != 2 || h < 0 ||
      h > 23 || m < 0 || m > 59) {
    throw BadCopy(Format("\"%s\" is not a time HH:MM", key));
  }
  return static_cast<uint16_t>(h * 256 + m);
}

Json TimeJson(uint16_t t) {
  if (t == 0xFFFF) return nullptr;
  return Format("%02d:%02d", t >> 8, t & 0xFF);
}

const char* const kRepeatNames[] = {"none",         "daily",         "weekly",
                                    "monthlyByDay", "monthlyByDate", "yearly"};
const char* const kUnitNames[] = {"minutes", "hours", "days"};

uint8_t NameIndex(const Json& j, const char* key, const char* const* names, size_t count) {
  std::string text = Text(j, key);
  for (size_t i = 0; i < count; ++i) {
    if (text == names[i]) return static_cast<uint8_t>(i);
  }
  throw BadCopy(Format("\"%s\" has the unknown value \"%s\"", key, text.c_str()));
}

void LoadEvent(const Json& j, CalendarManager& manager) {
  EventDescriptor d;
  d.SetName(Text(j, "name"));
  d.SetNote(Text(j, "note"));
  d.SetYearMonthDate(DateOf(j, "date", 0));
  d.SetStartTime(TimeOf(j, "start"));
  d.SetEndTime(d.GetStartTime() == 0xFFFF ? 0 : TimeOf(j, "end"));
  d.SetIsPrivate(Flag(j, "private", false));
  if (const Json* a = ObjectOrNull(j, "alarm")) {
    d.SetAlarmFlag(true);
    d.SetAlarmAdvanceTime(static_cast<uint8_t>(Number(*a, "advance", 0, kByte)));
    d.SetAlarmAdvanceUnit(NameIndex(*a, "unit", kUnitNames, 3));
  }
  if (const Json* r = ObjectOrNull(j, "repeat")) {
    d.SetRepeatType(NameIndex(*r, "type", kRepeatNames, 6));
    d.SetRepeatFrequency(static_cast<uint8_t>(Number(*r, "frequency", 1, kByte)));
    d.SetRepeatOn(static_cast<uint8_t>(Number(*r, "on", 0, kByte)));
    d.SetRepeatStartOfWeek(static_cast<uint8_t>(Number(*r, "startOfWeek", 0, kByte)));
    d.SetRepeatEndYearMonthDate(DateOf(*r, "end", 0xFFFF));
    for (const Json& x : Array(*r, "exceptions")) {
      uint16_t packed;
      if (!x.is_string() || !ParseDate(x.get<std::string>(), &packed)) {
        throw BadCopy("an exception is not a date YYYY-MM-DD");
      }
      d.AddExceptionYearMonthDate(packed);
    }
  }
  Event event = manager.CreateNewEvent(d, 0, 0);
  LoadRecordFields(j, event);
  event.SetDateBookId(Number(j, "dateBookId", 0));
  for (const Json& p : Array(j, "calendars")) {
    Calendar calendar;
    const Json& which = p.is_object() ? p.value("calendar", Json()) : p;
    CalendarList& calendars = manager.GetCalendarList();
    if (which.is_number_integer()) {
      int64_t at = which.get<int64_t>();
      if (at < 0 || at >= calendars.GetListCount()) throw BadCopy("calendar index out of range");
      calendar = calendars[static_cast<int32_t>(at)];
    } else if (which.is_string()) {
      for (int32_t i = 0; i < calendars.GetListCount() && calendar.IsNull(); ++i) {
        if (calendars[i].GetCalendarDescriptor().GetCalendarName() == which.get<std::string>()) {
          calendar = calendars[i];
        }
      }
      if (calendar.IsNull())
        throw BadCopy("no calendar named \"" + which.get<std::string>() + "\"");
    } else {
      throw BadCopy("a placement names no calendar");
    }
    CalendarEvent link = event.AddToCalendar(calendar);
    if (p.is_object()) {
      LoadRecordFields(p, link);
      if (const Json* a = ObjectOrNull(p, "alarm")) {
        CalendarEventDescriptor alarm = link.GetCalendarEventDescriptor();
        alarm.SetAlarmFlag(true);
        alarm.SetAlarmAdvanceTime(static_cast<uint8_t>(Number(*a, "advance", 0, kByte)));
        alarm.SetAlarmAdvanceUnit(NameIndex(*a, "unit", kUnitNames, 3));
      }
    }
  }
}

void LoadManager(const Json& j, CalendarManager& manager) {
  if (j.contains("gid")) {
    UID128 gid;
    gid.SetString(Text(j, "gid"));
    manager.SetGID(gid);
  }
  uint32_t version = Number(j, "version", 0xFFFFFFFF);
  if (version >= 0x80000000u && version != 0xFFFFFFFFu) throw BadCopy("version out of range");
  manager.SetVersion(version);
  for (const Json& c : Objects(j, "calendars", "a calendar")) {
    Calendar calendar = manager.CreateNewCalendar();
    CalendarDescriptor d = calendar.GetCalendarDescriptor();
    d.SetCalendarName(Text(c, "name"));
    d.SetDescription(Text(c, "description"));
    d.SetInitials(Text(c, "initials"));
    d.SetColor(Number(c, "color", 0));
    d.SetOwnedFlag(Flag(c, "owned", true));
    d.SetDefaultCalendar(Flag(c, "default", false));
    d.SetSharedFlag(Flag(c, "shared", false));
    d.SetReadOnlyFlag(Flag(c, "readOnly", false));
    d.SetHideDetailsFlag(Flag(c, "hideDetails", false));
    d.SetSelectedDesktopFlag(Flag(c, "selected", false));
    d.SetOrdinal(Number(c, "ordinal", 0));
    LoadRecordFields(c, calendar);
  }
  for (const Json& e : Objects(j, "events", "an event")) LoadEvent(e, manager);
}

}  // namespace

std::string DateText(uint16_t packed) {
  if (packed == 0xFFFF) return "forever";
  return Format("%04d-%02d-%02d", (packed >> 9) + 1904, (packed >> 5) & 15, packed & 31);
}

bool ParseDate(const std::string& text, uint16_t* packed) {
  int y, m, d;
  char rest;
  if (std::sscanf(text.c_str(), "%d-%d-%d%c", &y, &m, &d, &rest) != 3) return false;
  if (y < 1904 || y > 2031 || m < 1 || m > 12 || d < 1 || d > 31) return false;
  *packed = static_cast<uint16_t>(((y - 1904) << 9) | (m << 5) | d);
  return true;
}

bool LoadCopy(const std::string& text, CalendarManager& manager, std::string* error) {
  return ParseCopy(
      text, [&](const Json& j) { LoadManager(j, manager); }, error);
}

std::string SaveCopy(const CalendarManager& manager) {
  Json out;
  out["gid"] = manager.GetGID().GetString();
  out["version"] = Hex(manager.GetVersion());
  Json calendars = Json::array();
  const CalendarList& list = manager.GetCalendarList();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    const Calendar& c = list[i];
    CalendarDescriptor d = c.GetCalendarDescriptor();
    Json j;
    j["name"] = d.GetCalendarName();
    j["description"] = d.GetDescription();
    j["initials"] = d.GetInitials();
    j["color"] = Hex(d.GetColor());
    j["default"] = d.IsDefaultCalendar();
    j["owned"] = d.GetOwnedFlag();
    j["shared"] = d.GetSharedFlag();
    j["readOnly"] = d.GetReadOnlyFlag();
    j["hideDetails"] = d.GetHideDetailsFlag();
    j["selected"] = d.GetSelectedDesktopFlag();
    j["ordinal"] = d.GetOrdinal();
    SaveRecordFields(c, j);
    calendars.push_back(j);
  }
  out["calendars"] = calendars;
  Json events = Json::array();
  const EventList& elist = manager.GetEventList();
  for (int32_t i = 0; i < elist.GetListCount(); ++i) {
    const Event& e = elist[i];
    EventDescriptor d = e.GetEventDescriptor();
    Json j;
    j["name"] = d.GetName();
    j["note"] = d.GetNote();
    j["date"] = DateText(d.GetYearMonthDate());
    j["start"] = TimeJson(d.GetStartTime());
    j["end"] = d.GetStartTime() == 0xFFFF ? Json(nullptr) : TimeJson(d.GetEndTime());
    j["private"] = d.GetIsPrivate();
    if (d.GetAlarmFlag()) {
      j["alarm"] = {{"advance", d.GetAlarmAdvanceTime()},
                    {"unit", kUnitNames[d.GetAlarmAdvanceUnit() % 3]}};
    }
    if (d.GetRepeatType() != 0 && d.GetRepeatType() < 6) {
      Json r;
      r["type"] = kRepeatNames[d.GetRepeatType()];
      r["frequency"] = d.GetRepeatFrequency();
      r["on"] = d.GetRepeatOn();
      r["startOfWeek"] = d.GetRepeatStartOfWeek();
      r["end"] = d.GetRepeatEndYearMonthDate() == 0xFFFF
                     ? Json(nullptr)
                     : Json(DateText(d.GetRepeatEndYearMonthDate()));
      Json x = Json::array();
      for (int32_t k = 0; k < d.GetRepeatExceptionCount(); ++k) {
        x.push_back(DateText(d.GetExceptionYearMonthDate(k)));
      }
      r["exceptions"] = x;
      j["repeat"] = r;
    }
    j["dateBookId"] = e.GetDateBookId();
    SaveRecordFields(e, j);
    Json placements = Json::array();
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t k = 0; k < links.GetListCount(); ++k) {
      const CalendarEvent& l = links[k];
      Calendar parent = l.GetParentCalendar();
      Json p;
      int32_t at = -1;
      for (int32_t m = 0; m < list.GetListCount() && at < 0; ++m) {
        if (list[m].IsSameHolder(parent)) at = m;
      }
      p["calendar"] = at;
      CalendarEventDescriptor alarm = l.GetCalendarEventDescriptor();
      if (alarm.GetAlarmFlag()) {
        p["alarm"] = {{"advance", alarm.GetAlarmAdvanceTime()},
                      {"unit", kUnitNames[alarm.GetAlarmAdvanceUnit() % 3]}};
      }
      SaveRecordFields(l, p);
      placements.push_back(p);
    }
    j["calendars"] = placements;
    events.push_back(j);
  }
  out["events"] = events;
  return out.dump(2) + "\n";
}

}  // namespace brontel::tool
