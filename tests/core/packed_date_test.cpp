#include "brontel/core/packed_date.h"

#include <gtest/gtest.h>

#include <bit>
#include <chrono>
#include <cstdint>
#include <ctime>

namespace brontel {
namespace {

namespace chr = std::chrono;

// A packed date from a calendar year (1904..2031), month and day.
DateType_s Date(int32_t year, int32_t month, int32_t day) {
  DateType_s d;
  d.year = static_cast<uint16_t>(year - 1904);
  d.month = static_cast<uint16_t>(month);
  d.day = static_cast<uint16_t>(day);
  return d;
}

TEST(PackedDateTest, BitFieldsAndIntegerForm) {
  EXPECT_EQ(sizeof(DateType_s), 2u);
  EXPECT_EQ(sizeof(TimeType_s), 2u);
  const DateType_s d = Date(2026, 12, 9);
  EXPECT_EQ(DateToInt(d), 122 * 512 + 12 * 32 + 9);
  // In memory the fields run from the least significant bit: year (0-6),
  // month (7-10), day (11-15). That is not the integer form.
  EXPECT_EQ(std::bit_cast<uint16_t>(d), 122 | (12 << 7) | (9 << 11));
  EXPECT_EQ(std::bit_cast<uint16_t>(Date(1904, 1, 1)), (1 << 7) | (1 << 11));
}

TEST(PackedDateTest, DateToDaysKnownValues) {
  struct Case {
    int32_t year, month, day;
    uint32_t days;
  };
  const Case kCases[] = {
      {1904, 1, 1, 0},      {1904, 2, 29, 59},     {1904, 3, 1, 60},     {1905, 1, 1, 366},
      {1908, 1, 1, 1461},   {1970, 1, 1, 24107},   {2000, 2, 29, 35123}, {2001, 1, 1, 35430},
      {2026, 12, 9, 44903}, {2031, 12, 31, 46751},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DateToDays(Date(c.year, c.month, c.day)), c.days)
        << c.year << "-" << c.month << "-" << c.day;
  }
}

// Walks every day a packed date can hold and compares with the standard
// Gregorian calendar: day counts step by one (across month ends, year ends and
// 29 February), month lengths agree, and weekdays agree.
TEST(PackedDateTest, AgreesWithGregorianCalendarForEveryPackedDay) {
  const chr::sys_days epoch = chr::year{1904} / chr::January / 1;
  const chr::sys_days last = chr::year{2031} / chr::December / 31;
  for (chr::sys_days day = epoch; day <= last; day += chr::days{1}) {
    const chr::year_month_day ymd(day);
    const int32_t y = static_cast<int32_t>(ymd.year());
    const int32_t m = static_cast<int32_t>(static_cast<unsigned>(ymd.month()));
    const int32_t d = static_cast<int32_t>(static_cast<unsigned>(ymd.day()));
    const auto expected_days = static_cast<uint32_t>((day - epoch).count());
    ASSERT_EQ(DateToDays(Date(y, m, d)), expected_days) << y << "-" << m << "-" << d;
    ASSERT_EQ(DayOfWeek(m, d, y), static_cast<int32_t>(chr::weekday(day).c_encoding()))
        << y << "-" << m << "-" << d;
    if (d == 1) {
      const auto month_end = chr::year_month_day_last(ymd.year(), chr::month_day_last(ymd.month()));
      ASSERT_EQ(DaysInMonth(m, y), static_cast<int32_t>(static_cast<unsigned>(month_end.day())))
          << y << "-" << m;
    }
  }
}

TEST(PackedDateTest, DateToDaysStaysInRangeForDamagedFields) {
  for (int32_t year = 1904; year < 2031; ++year) {
    const uint32_t next_new_year = DateToDays(Date(year + 1, 1, 1));
    // Months above 12 count the whole year and no more.
    for (int32_t month = 13; month <= 15; ++month) {
      EXPECT_EQ(DateToDays(Date(year, month, 1)), next_new_year) << year << " month " << month;
    }
    // Month 0 counts no months.
    EXPECT_EQ(DateToDays(Date(year, 0, 1)), DateToDays(Date(year, 1, 1))) << year;
  }
  // Day 0 is the day before day 1, but never wraps below the epoch.
  EXPECT_EQ(DateToDays(Date(1905, 1, 0)), 365u);
  EXPECT_EQ(DateToDays(Date(1904, 1, 0)), 0u);
}

TEST(PackedDateTest, DaysInMonth) {
  struct Case {
    int32_t month, year, days;
  };
  const Case kCases[] = {
      {2, 2000, 29}, {2, 1900, 29}, {2, 2001, 28}, {2, 1904, 29},
      {2, 1903, 28}, {2, 1899, 28}, {2, 1896, 29}, {2, 2100, 29},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DaysInMonth(c.month, c.year), c.days) << c.month << "/" << c.year;
  }

  const int32_t k2001[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  int32_t total = 0;
  for (int32_t m = 1; m <= 12; ++m) {
    EXPECT_EQ(DaysInMonth(m, 2001), k2001[m - 1]) << "month " << m;
    total += DaysInMonth(m, 2001);
  }
  EXPECT_EQ(total, 365);
}

TEST(PackedDateTest, DayOfWeekKnownDates) {
  struct Case {
    int32_t month, day, year, weekday;  // 0 = Sunday.
  };
  const Case kCases[] = {
      {1, 1, 2000, 6},  {3, 1, 2000, 3}, {2, 29, 2000, 2}, {12, 9, 2026, 3}, {1, 1, 1904, 5},
      {7, 20, 1969, 0}, {1, 1, 2001, 1}, {3, 1, 1600, 3},  {2, 29, 2400, 2}, {1, 1, 1970, 4},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DayOfWeek(c.month, c.day, c.year), c.weekday)
        << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(PackedDateTest, DayOfWeekRejectsMonthOutOfRange) {
#ifdef NDEBUG
  for (int32_t month : {0, 13, -5, 100}) {
    const int32_t w = DayOfWeek(month, 1, 2000);
    EXPECT_GE(w, 0);
    EXPECT_LE(w, 6);
  }
#else
  EXPECT_DEATH(DayOfWeek(13, 1, 2000), "month >= 1 && month <= 12");
  EXPECT_DEATH(DayOfWeek(0, 1, 2000), "month >= 1 && month <= 12");
#endif
}

TEST(PackedDateTest, DayOfMonth) {
  EXPECT_EQ(DayOfMonth(3, 15, 2000), 17);  // Wednesday (3) plus two weeks.
  EXPECT_EQ(DayOfMonth(3, 1, 2000), 3);
  EXPECT_EQ(DayOfMonth(3, 7, 2000), 2);  // Still the first week.
  EXPECT_EQ(DayOfMonth(3, 8, 2000), 10);
}

TEST(PackedDateTest, DateCompareOrdersByYearThenMonthThenDay) {
  struct Case {
    DateType_s a, b;
    int32_t expected;
  };
  const Case kCases[] = {
      {Date(2001, 1, 1), Date(2000, 12, 31), 1},  // Year outranks month and day.
      {Date(2000, 2, 1), Date(2000, 1, 31), 1},   // Month outranks day.
      {Date(2000, 1, 2), Date(2000, 1, 1), 1},
      {Date(1904, 1, 1), Date(2031, 12, 31), -1},  // Full year range, no overflow.
      {Date(2000, 6, 15), Date(2000, 6, 15), 0},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(DateCompare(c.a, c.b), c.expected) << DateToInt(c.a) << " vs " << DateToInt(c.b);
    EXPECT_EQ(DateCompare(c.b, c.a), -c.expected) << DateToInt(c.b) << " vs " << DateToInt(c.a);
  }
}

TEST(PackedDateTest, PalmDateTypeRoundTripsWithDateToInt) {
  const DateType_s d = PalmDateType(122 * 512 + 12 * 32 + 9);
  EXPECT_EQ(d.year, 122);
  EXPECT_EQ(d.month, 12);
  EXPECT_EQ(d.day, 9);

  for (int32_t value = 0; value <= 0xFFFF; ++value) {
    const DateType_s packed = PalmDateType(value);
    ASSERT_EQ(DateToInt(packed), value);
    ASSERT_EQ(PalmDateType(DateToInt(packed)), packed);
    // Bits above the 16-bit form are ignored.
    ASSERT_EQ(PalmDateType(value | 0x30000), packed);
  }
}

TEST(PackedDateTest, PalmDateTypeFromLocalTime) {
  struct Case {
    int32_t year, month, day, hour;
  };
  const Case kCases[] = {
      {2026, 12, 9, 12}, {1970, 1, 1, 12}, {2000, 2, 29, 0}, {2031, 12, 31, 23}, {1904, 1, 1, 12},
  };
  for (const Case& c : kCases) {
    std::tm local{};
    local.tm_year = c.year - 1900;
    local.tm_mon = c.month - 1;
    local.tm_mday = c.day;
    local.tm_hour = c.hour;
    local.tm_min = 30;
    local.tm_isdst = -1;
    const std::time_t t = std::mktime(&local);
    ASSERT_NE(t, static_cast<std::time_t>(-1)) << c.year;
    EXPECT_EQ(PalmDateTypeFromTime(t), Date(c.year, c.month, c.day))
        << c.year << "-" << c.month << "-" << c.day;
  }
}

TEST(PackedDateTest, PalmTimeType) {
  struct Case {
    int32_t value;
    uint8_t hours, minutes;
  };
  const Case kCases[] = {
      {13 * 256 + 30, 13, 30},
      {0, 0, 0},
      {23 * 256 + 59, 23, 59},
      {0x12D1E, 0x2D, 0x1E},  // Hours keep only the low byte of value / 256.
  };
  for (const Case& c : kCases) {
    const TimeType_s t = PalmTimeType(c.value);
    EXPECT_EQ(t.hours, c.hours) << c.value;
    EXPECT_EQ(t.minutes, c.minutes) << c.value;
  }
  EXPECT_EQ(TimeToInt(PalmTimeType(13 * 256 + 30)), 13 * 256 + 30);
  EXPECT_EQ(TimeToInt(TimeType_s{255, 255}), 0xFFFF);
}

}  // namespace
}  // namespace brontel
