#include "brontel/core/packed_date.h"

#include <algorithm>

#include "brontel/platform/precondition.h"

namespace brontel {

uint16_t DateToInt(DateType_s date) {
  return static_cast<uint16_t>(date.year * 512 + date.month * 32 + date.day);
}

int32_t DateCompare(DateType_s a, DateType_s b) {
  uint16_t x = DateToInt(a);
  uint16_t y = DateToInt(b);
  if (x < y) return -1;
  if (x > y) return 1;
  return 0;
}

uint32_t DateToDays(DateType_s date) {
  const int32_t y = date.year;
  int32_t days = (y / 4) * 1461;
  if (y % 4 != 0) days += 366 + (y % 4 - 1) * 365;
  // A damaged month field (0 or 13-15) must not count months outside 1..12.
  const int32_t last_full_month = std::min<int32_t>(date.month - 1, 12);
  for (int32_t m = last_full_month; m >= 1; --m) days += DaysInMonth(m, y + 1904);
  days += static_cast<int32_t>(date.day) - 1;
  return static_cast<uint32_t>(std::max<int32_t>(days, 0));
}

int32_t DaysInMonth(int32_t month, int32_t year) {
  BRONTEL_REQUIRE(month >= 1 && month <= 12, "month >= 1 && month <= 12");
  if (month == 2) {
    // Non-negative remainder, so years before 1904 (such as 1900) follow the
    // same four-year cycle.
    int32_t offset = ((year - 1904) % 4 + 4) % 4;
    return offset == 0 ? 29 : 28;
  }
  bool even = month % 2 == 0;
  if (month >= 8) return even ? 31 : 30;
  return even ? 30 : 31;
}

int32_t DayOfWeek(int32_t month, int32_t day, int32_t year) {
  BRONTEL_REQUIRE(month >= 1 && month <= 12, "month >= 1 && month <= 12");
  static constexpr int32_t kMonthOffset[12] = {4, 0, 6, 2, 4, 0, 2, 5, 1, 3, 6, 1};
  // One more leap day is owed from March 2000 on, since 2000 is a century
  // year that is still a leap year (the year / 400 term, folded into c).
  const int32_t c = (year > 2000 || (year == 2000 && month >= 3)) ? 1 : 0;
  if (month == 1 || month == 2) year -= 1;
  const int32_t index = std::clamp<int32_t>(month, 1, 12) - 1;
  return (year + year / 4 - year / 100 + kMonthOffset[index] + day + c) % 7;
}

int32_t DayOfMonth(int32_t month, int32_t day, int32_t year) {
  return ((day - 1) / 7) * 7 + DayOfWeek(month, day, year);
}

DateType_s PalmDateType(int32_t value) {
  DateType_s date;
  date.day = static_cast<uint16_t>(value & 31);
  date.month = static_cast<uint16_t>((value >> 5) & 15);
  date.year = static_cast<uint16_t>((value >> 9) & 127);
  return date;
}

DateType_s PalmDateTypeFromTime(std::time_t t) {
  DateType_s date;
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return date;
  date.year = static_cast<uint16_t>((local.tm_year + 1900 - 1904) & 127);
  date.month = static_cast<uint16_t>((local.tm_mon + 1) & 15);
  date.day = static_cast<uint16_t>(local.tm_mday & 31);
  return date;
}

TimeType_s PalmTimeType(int32_t value) {
  TimeType_s time;
  time.hours = static_cast<uint8_t>((value / 256) & 0xFF);
  time.minutes = static_cast<uint8_t>(value % 256);
  return time;
}

int32_t TimeToInt(TimeType_s time) {
  return time.hours * 256 + time.minutes;
}

}  // namespace brontel
