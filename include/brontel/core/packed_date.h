// Packed calendar dates and clock times as stored in handheld records.
// DateType_s packs a date into 16 bits counted from 1904 (years 1904..2031);
// TimeType_s holds hours and minutes in two bytes. The free functions convert
// between the packed, integer and day-count forms and compute weekdays.
// The calendar treats every fourth year from 1904 as a leap year, which is
// exact for the years a packed date can hold.
#pragma once

#include <cstdint>
#include <ctime>

namespace brontel {

// Bit fields from the least significant bit: year (years since 1904, 0-127),
// month (1-12), day (1-31). This in-memory layout is not the integer form
// (DateToInt puts the day in the low bits), so stored dates go through
// DateToInt and PalmDateType, never a raw copy of the struct. A damaged record
// can carry month 0 or 13-15 or day 0; the functions below stay in bounds.
struct DateType_s {
  uint16_t year : 7 = 0;
  uint16_t month : 4 = 0;
  uint16_t day : 5 = 0;

  bool operator==(const DateType_s& other) const = default;
};
static_assert(sizeof(DateType_s) == 2, "DateType_s must pack into two bytes");

struct TimeType_s {
  uint8_t hours = 0;
  uint8_t minutes = 0;

  bool operator==(const TimeType_s& other) const = default;
};
static_assert(sizeof(TimeType_s) == 2, "TimeType_s must be two bytes");

// year * 512 + month * 32 + day: the 16-bit integer form, which orders dates
// by year, then month, then day.
uint16_t DateToInt(DateType_s date);

// -1, 0 or 1 as a is before, equal to or after b (by the integer form).
int32_t DateCompare(DateType_s a, DateType_s b);

// Days since 1 January 1904 (that date gives 0). A month field above 12 counts
// all twelve months of its year and a month field of 0 counts none, so a
// damaged record never reaches outside the calendar. Day 0 counts as the day
// before day 1, except that day 0 of January 1904 gives 0 instead of wrapping.
uint32_t DateToDays(DateType_s date);

// Days in month of year. February has 29 days when (year - 1904) is a multiple
// of four (without the century rule, so 1900 counts as a leap year too).
// REQUIRES: 1 <= month <= 12.
int32_t DaysInMonth(int32_t month, int32_t year);

// Weekday of the Gregorian date, 0 = Sunday .. 6 = Saturday; exact from
// 1 March 1600 to 29 February 2400, which covers every year a packed date holds.
// REQUIRES: 1 <= month <= 12. (A release build clamps other months into range
// rather than reading outside its month table.)
int32_t DayOfWeek(int32_t month, int32_t day, int32_t year);

// ((day - 1) / 7) * 7 + DayOfWeek(month, day, year): the weekday of the date,
// offset by the whole weeks of the month that precede it.
// REQUIRES: 1 <= month <= 12.
int32_t DayOfMonth(int32_t month, int32_t day, int32_t year);

// The date whose integer form is value: day = value & 31,
// month = (value >> 5) & 15, year = (value >> 9) & 127.
DateType_s PalmDateType(int32_t value);

// The local calendar date of t (via localtime_r): year - 1904 kept to its low
// 7 bits, month 1-12, day of month. Named apart from PalmDateType(int32_t)
// because an overload on time_t would make integer literals ambiguous.
// Returns an all-zero date if the local time of t cannot be computed.
DateType_s PalmDateTypeFromTime(std::time_t t);

// hours = low byte of value / 256, minutes = value % 256.
TimeType_s PalmTimeType(int32_t value);

// hours * 256 + minutes: the inverse of PalmTimeType.
int32_t TimeToInt(TimeType_s time);

}  // namespace brontel
