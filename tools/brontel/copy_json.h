// A desktop or handheld copy of calendar data as JSON, for the command-line
// tool: calendars, events with their placements, every id, version and status.
//
//   {"gid": "8-4-4-4-12 hex", "version": n,
//    "calendars": [{"name", "description", "initials", "color", "default",
//                   "owned", "shared", "readOnly", "hideDetails", "selected",
//                   "ordinal", + record fields}],
//    "events": [{"name", "note", "date": "YYYY-MM-DD", "start": "HH:MM" | null,
//                "end", "private", "alarm": {"advance", "unit"} | null,
//                "repeat": {"type", "frequency", "on", "startOfWeek",
//                           "end": date | null, "exceptions": [dates]} | null,
//                "dateBookId", "calendars": [{"calendar": index or name,
//                "alarm", + record fields}], + record fields}]}
// Record fields: "localId", "fixedId", "cacheId", "version", "dataHash",
// "deleted", "dirty". Numbers may be written as JSON numbers or "0x..." texts.
#pragma once

#include <string>

#include "brontel/calendar/calendar_manager.h"

namespace brontel::tool {

// Fills manager (which should be empty) from the JSON text; on bad input
// returns false with error set.
bool LoadCopy(const std::string& json, CalendarManager& manager, std::string* error);
// The JSON text of manager.
std::string SaveCopy(const CalendarManager& manager);

// "YYYY-MM-DD" of a packed date, and back (false for a malformed date).
std::string DateText(uint16_t packed);
bool ParseDate(const std::string& text, uint16_t* packed);

}  // namespace brontel::tool
