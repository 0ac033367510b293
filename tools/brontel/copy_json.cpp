#include "copy_json.h"

#include <cstdio>
#include <nlohmann/json.hpp>

#include "brontel/calendar/calendar_lists.h"
#include "brontel/platform/format.h"

namespace brontel::tool {
namespace {

using nlohmann::json;

struct BadCopy : std::runtime_error {
  using std::runtime_error::runtime_error;
};

uint32_t Number(const json& j, const char* key, uint32_t fallback) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  if (it->is_number_unsigned() || it->is_number_integer()) {
    return static_cast<uint32_t>(it->get<int64_t>());
  }
  if (it->is_string()) {
    const std::string& text = it->get_ref<const std::string&>();
    char* end = nullptr;
    unsigned long long value = std::strtoull(text.c_str(), &end, 0);
    if (end != text.c_str() && *end == '\0' && value <= 0xFFFFFFFFull) {
      return static_cast<uint32_t>(value);
    }
  }
  throw BadCopy(Format("\"%s\" is not a 32-bit number", key));
}

bool Flag(const json& j, const char* key, bool fallback) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  if (!it->is_boolean()) throw BadCopy(Format("\"%s\" is not true or false", key));
  return it->get<bool>();
}

std::string Text(const json& j, const char* key) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return std::string();
  if (!it->is_string()) throw BadCopy(Format("\"%s\" is not a text", key));
  return it->get<std::string>();
}

std::string Hex(uint32_t v) { return Format("0x%x", v); }

uint16_t DateOf(const json& j, const char* key, uint16_t fallback) {
  auto it = j.find(key);
  if (it == j.end() || it->is_null()) return fallback;
  uint16_t packed;
  if (!it->is_string() || !ParseDate(it->get<std::string>(), &packed)) {
    throw BadCopy(Format("\"%s\" is not a date YYYY-MM-DD between 1904 and 2031", key));
  }
  return packed;
}

uint16_t TimeOf(const json& j, const char* key) {
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

json TimeJson(uint16_t t) {
  if (t == 0xFFFF) return nullptr;
  return Format("%02d:%02d", t >> 8, t & 0xFF);
}

template <class Record>
void LoadRecord(const json& j, Record& r) {
  RecordIdentification id = r.GetRecordIdentification();
  id.SetLocalId(Number(j, "localId", 0));
  id.SetFixedId(Number(j, "fixedId", 0));
  id.SetCacheId(Number(j, "cacheId", 0));
  id.SetVersion(Number(j, "version", 0xFFFFFFFF));
  RecordStatus status = r.GetRecordStatus();
  status.SetDataHash(Number(j, "dataHash", 0));
  status.SetDeleteFlag(Flag(j, "deleted", false));
  status.SetDirtyFlag(Flag(j, "dirty", false));
}

template <class Record>
void SaveRecord(const Record& r, json& j) {
  j["localId"] = r.GetLocalId();
  j["fixedId"] = Hex(r.GetFixedId());
  j["cacheId"] = Hex(r.GetCacheId());
  j["version"] = Hex(r.GetVersion());
  j["dataHash"] = Hex(r.GetDataHash());
  j["deleted"] = r.IsDeleted();
  j["dirty"] = r.IsDirty();
  if (r.IsConflicted()) j["conflict"] = true;
}

const char* const kRepeatNames[] = {"none", "daily", "weekly", "monthlyByDay", "monthlyByDate",
                                    "yearly"};
const char* const kUnitNames[] = {"minutes", "hours", "days"};

uint8_t NameIndex(const json& j, const char* key, const char* const* names, size_t count) {
  std::string text = Text(j, key);
  for (size_t i = 0; i < count; ++i) {
    if (text == names[i]) return static_cast<uint8_t>(i);
  }
  throw BadCopy(Format("\"%s\" has the unknown value \"%s\"", key, text.c_str()));
}

void LoadEvent(const json& j, CalendarManager& manager) {
  EventDescriptor d;
  d.SetName(Text(j, "name"));
  d.SetNote(Text(j, "note"));
  d.SetYearMonthDate(DateOf(j, "date", 0));
  d.SetStartTime(TimeOf(j, "start"));
  d.SetEndTime(d.GetStartTime() == 0xFFFF ? 0 : TimeOf(j, "end"));
  d.SetIsPrivate(Flag(j, "private", false));
  if (j.contains("alarm") && !j["alarm"].is_null()) {
    const json& a = j["alarm"];
    d.SetAlarmFlag(true);
    d.SetAlarmAdvanceTime(static_cast<uint8_t>(Number(a, "advance", 0)));
    d.SetAlarmAdvanceUnit(NameIndex(a, "unit", kUnitNames, 3));
  }
  if (j.contains("repeat") && !j["repeat"].is_null()) {
    const json& r = j["repeat"];
    d.SetRepeatType(NameIndex(r, "type", kRepeatNames, 6));
    d.SetRepeatFrequency(static_cast<uint8_t>(Number(r, "frequency", 1)));
    d.SetRepeatOn(static_cast<uint8_t>(Number(r, "on", 0)));
    d.SetRepeatStartOfWeek(static_cast<uint8_t>(Number(r, "startOfWeek", 0)));
    d.SetRepeatEndYearMonthDate(DateOf(r, "end", 0xFFFF));
    if (r.contains("exceptions")) {
      for (const json& x : r["exceptions"]) {
        uint16_t packed;
        if (!x.is_string() || !ParseDate(x.get<std::string>(), &packed)) {
          throw BadCopy("an exception is not a date YYYY-MM-DD");
        }
        d.AddExceptionYearMonthDate(packed);
      }
    }
  }
  Event event = manager.CreateNewEvent(d, 0, 0);
  LoadRecord(j, event);
  event.SetDateBookId(Number(j, "dateBookId", 0));
  if (!j.contains("calendars")) return;
  for (const json& p : j["calendars"]) {
    Calendar calendar;
    const json& which = p.is_object() ? p.value("calendar", json()) : p;
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
      if (calendar.IsNull()) throw BadCopy("no calendar named \"" + which.get<std::string>() + "\"");
    } else {
      throw BadCopy("a placement names no calendar");
    }
    CalendarEvent link = event.AddToCalendar(calendar);
    if (p.is_object()) {
      LoadRecord(p, link);
      if (p.contains("alarm") && !p["alarm"].is_null()) {
        CalendarEventDescriptor alarm = link.GetCalendarEventDescriptor();
        alarm.SetAlarmFlag(true);
        alarm.SetAlarmAdvanceTime(static_cast<uint8_t>(Number(p["alarm"], "advance", 0)));
        alarm.SetAlarmAdvanceUnit(NameIndex(p["alarm"], "unit", kUnitNames, 3));
      }
    }
  }
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
  try {
    json j = json::parse(text);
    if (!j.is_object()) throw BadCopy("the copy is not a JSON object");
    if (j.contains("gid")) {
      UID128 gid;
      gid.SetString(Text(j, "gid"));
      manager.SetGID(gid);
    }
    uint32_t version = Number(j, "version", 0xFFFFFFFF);
    if (version >= 0x80000000u && version != 0xFFFFFFFFu) throw BadCopy("version out of range");
    manager.SetVersion(version);
    for (const json& c : j.value("calendars", json::array())) {
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
      LoadRecord(c, calendar);
    }
    for (const json& e : j.value("events", json::array())) LoadEvent(e, manager);
    return true;
  } catch (const json::exception& e) {
    *error = std::string("bad JSON: ") + e.what();
  } catch (const BadCopy& e) {
    *error = e.what();
  }
  return false;
}

std::string SaveCopy(const CalendarManager& manager) {
  json out;
  out["gid"] = manager.GetGID().GetString();
  out["version"] = Hex(manager.GetVersion());
  json calendars = json::array();
  const CalendarList& list = manager.GetCalendarList();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    const Calendar& c = list[i];
    CalendarDescriptor d = c.GetCalendarDescriptor();
    json j;
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
    SaveRecord(c, j);
    calendars.push_back(j);
  }
  out["calendars"] = calendars;
  json events = json::array();
  const EventList& elist = manager.GetEventList();
  for (int32_t i = 0; i < elist.GetListCount(); ++i) {
    const Event& e = elist[i];
    EventDescriptor d = e.GetEventDescriptor();
    json j;
    j["name"] = d.GetName();
    j["note"] = d.GetNote();
    j["date"] = DateText(d.GetYearMonthDate());
    j["start"] = TimeJson(d.GetStartTime());
    j["end"] = d.GetStartTime() == 0xFFFF ? json(nullptr) : TimeJson(d.GetEndTime());
    j["private"] = d.GetIsPrivate();
    if (d.GetAlarmFlag()) {
      j["alarm"] = {{"advance", d.GetAlarmAdvanceTime()},
                    {"unit", kUnitNames[d.GetAlarmAdvanceUnit() % 3]}};
    }
    if (d.GetRepeatType() != 0 && d.GetRepeatType() < 6) {
      json r;
      r["type"] = kRepeatNames[d.GetRepeatType()];
      r["frequency"] = d.GetRepeatFrequency();
      r["on"] = d.GetRepeatOn();
      r["startOfWeek"] = d.GetRepeatStartOfWeek();
      r["end"] = d.GetRepeatEndYearMonthDate() == 0xFFFF
                     ? json(nullptr)
                     : json(DateText(d.GetRepeatEndYearMonthDate()));
      json x = json::array();
      for (int32_t k = 0; k < d.GetRepeatExceptionCount(); ++k) {
        x.push_back(DateText(d.GetExceptionYearMonthDate(k)));
      }
      r["exceptions"] = x;
      j["repeat"] = r;
    }
    j["dateBookId"] = e.GetDateBookId();
    SaveRecord(e, j);
    json placements = json::array();
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t k = 0; k < links.GetListCount(); ++k) {
      const CalendarEvent& l = links[k];
      Calendar parent = l.GetParentCalendar();
      json p;
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
      SaveRecord(l, p);
      placements.push_back(p);
    }
    j["calendars"] = placements;
    events.push_back(j);
  }
  out["events"] = events;
  return out.dump(2) + "\n";
}

}  // namespace brontel::tool
