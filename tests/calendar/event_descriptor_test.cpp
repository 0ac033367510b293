// Tests of EventDescriptor: the repeat rules on dated cases, range tests,
// equality and hash, the exception list, display texts, and the stored form
// byte for byte, including damaged and truncated input.
#include "brontel/calendar/event_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "brontel/core/hasher.h"
#include "brontel/host/host_classes.h"
#include "brontel/platform/archive.h"

namespace brontel {
namespace {

using ED = EventDescriptor;

constexpr uint16_t kForever = 0xFFFF;
constexpr uint16_t kUntimed = 0xFFFF;

// Weekday bits of a weekly repeat-on value.
constexpr uint8_t kSun = 1, kMon = 2, kWed = 8, kFri = 32;

// Packed date of year/month/day.
constexpr uint16_t Ymd(int32_t year, int32_t month, int32_t day) {
  return static_cast<uint16_t>((year - 1904) << 9 | month << 5 | day);
}

// Packed time.
constexpr uint16_t Hm(int32_t hour, int32_t minute) {
  return static_cast<uint16_t>(hour << 8 | minute);
}

// A repeat rule; what a case does not name keeps the value below.
struct Rule {
  uint8_t type = ED::kRepeatNone;
  uint16_t date = 0;
  uint8_t frequency = 1;
  uint8_t on = 0;
  uint8_t startOfWeek = 0;
  uint16_t end = kForever;
  std::vector<uint16_t> exceptions = {};
};

ED Make(const Rule& rule) {
  ED e;
  e.SetName("event");
  e.SetYearMonthDate(rule.date);
  e.SetRepeatType(rule.type);
  e.SetRepeatFrequency(rule.frequency);
  e.SetRepeatOn(rule.on);
  e.SetRepeatStartOfWeek(rule.startOfWeek);
  e.SetRepeatEndYearMonthDate(rule.end);
  for (uint16_t x : rule.exceptions) e.AddExceptionYearMonthDate(x);
  return e;
}

bool OccursOn(const Rule& rule, uint16_t date) {
  return Make(rule).IsOnDate(ED::YMDToCTime(date));
}

std::vector<uint16_t> Exceptions(const ED& e) {
  std::vector<uint16_t> dates;
  for (int32_t i = 0; i < e.GetRepeatExceptionCount(); ++i) {
    dates.push_back(e.GetExceptionYearMonthDate(i));
  }
  return dates;
}

// Builds archive bytes: little-endian words, archive strings of short texts.
class Bytes {
 public:
  Bytes& Byte(uint8_t v) {
    m_bytes.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& Word(uint16_t v) {
    return Byte(static_cast<uint8_t>(v)).Byte(static_cast<uint8_t>(v >> 8));
  }
  Bytes& Str(const std::string& s) {
    m_bytes.push_back(static_cast<char>(s.size()));
    m_bytes += s;
    return *this;
  }
  Bytes& Raw(const std::string& s) {
    m_bytes += s;
    return *this;
  }
  // The record of the first object of a new class.
  Bytes& NewClass(const std::string& name) {
    return Word(0xFFFF).Word(15).Word(static_cast<uint16_t>(name.size())).Raw(name);
  }
  operator std::string() const { return m_bytes; }

 private:
  std::string m_bytes;
};

void RegisterClasses() {
  RegisterHostClasses();
  ClassRegistry::Register(EventDescriptorHolder::kClassInfo);
}

std::string Store(ED& e) {
  StringSink sink;
  Archive ar(sink);
  e.SerializeQuick(ar, Archive::kNoSchema);
  ar.Flush();
  return sink.contents();
}

// Loads e from bytes as format version `version`; returns the bytes consumed.
uint64_t Load(ED& e, const std::string& bytes, uint32_t version) {
  RegisterClasses();
  Archive ar(bytes);
  e.SerializeQuick(ar, version);
  return ar.Position();
}

ArchiveStatus LoadFailure(const std::string& bytes, uint32_t version) {
  ED e;
  try {
    Load(e, bytes, version);
  } catch (const ArchiveError& error) {
    return error.status();
  }
  return ArchiveStatus::kOk;
}

// The quick form, up to the exception dates, of an untimed daily event dated
// 1 March 2000 with the given exception count.
Bytes FieldsWithCount(uint16_t count) {
  return Bytes()
      .Byte('-')
      .Byte(0)
      .Byte(0)
      .Word(0)
      .Byte('-')
      .Str("x")
      .Str("")
      .Word(kForever)
      .Word(count)
      .Byte(1)
      .Byte(0)
      .Byte(0)
      .Byte(ED::kRepeatDaily)
      .Word(kUntimed)
      .Word(Ymd(2000, 3, 1));
}

// Stored form of empty web content.
Bytes& EmptyWeb(Bytes& b) {
  return b.Str("").Str("").Str("").Str("").Str("").Byte(0);
}

// A descriptor that sets every field to a distinct value.
ED Full() {
  ED e = Make({.type = ED::kRepeatWeekly,
               .date = Ymd(2000, 1, 3),
               .frequency = 2,
               .on = kMon | kWed,
               .startOfWeek = 1,
               .end = Ymd(2000, 12, 31),
               .exceptions = {Ymd(2000, 1, 19), Ymd(2000, 1, 17)}});
  e.SetName("Standup");
  e.SetNote("room 4");
  e.SetStartTime(Hm(9, 30));
  e.SetEndTime(Hm(9, 45));
  e.SetIsPrivate(true);
  e.SetAlarmFlag(true);
  e.SetAlarmAdvanceTime(15);
  e.SetAlarmAdvanceUnit(0);
  WebContent& web = e.GetWebContent();
  web.SetButtonLabel("Go");
  web.SetDesktopURL("http://d");
  web.SetPalm7URL("http://p");
  web.SetSponsor("S");
  web.SetText("T");
  e.SetUseMe(1);
  return e;
}

// ---------------------------------------------------------------------------
// Repeat rules

struct OccurrenceCase {
  const char* what;
  Rule rule;
  uint16_t date;
  bool expected;
};

void ExpectOccurrences(const std::vector<OccurrenceCase>& cases) {
  for (const OccurrenceCase& c : cases) {
    SCOPED_TRACE(testing::Message() << c.what << " on " << ED::DateString(c.date));
    EXPECT_EQ(OccursOn(c.rule, c.date), c.expected);
  }
}

TEST(EventDescriptorOccurrenceTest, SingleAndDailyEvents) {
  const Rule single{.date = Ymd(2000, 3, 15)};
  const Rule every3{.type = ED::kRepeatDaily, .date = Ymd(2000, 1, 1), .frequency = 3};
  ExpectOccurrences({
      {"single", single, Ymd(2000, 3, 15), true},
      {"single", single, Ymd(2000, 3, 16), false},
      {"single", single, Ymd(2001, 3, 15), false},
      {"every 3 days", every3, Ymd(2000, 1, 1), true},
      {"every 3 days", every3, Ymd(2000, 1, 4), true},
      {"every 3 days", every3, Ymd(2000, 1, 5), false},
      {"every 3 days", every3, Ymd(1999, 12, 29), false},  // before the start
      {"every 3 days", every3, Ymd(2000, 3, 1), true},     // 60 days, across 29 Feb
      {"every 3 days", every3, Ymd(2000, 3, 2), false},
  });
}

TEST(EventDescriptorOccurrenceTest, WeeklyCountsWeeksFromTheStartOfWeek) {
  const Rule monWed{.type = ED::kRepeatWeekly,
                    .date = Ymd(2000, 1, 3),  // a Monday
                    .frequency = 2,
                    .on = kMon | kWed};
  // Sundays and Mondays every second week: whether Sunday 9 January belongs to
  // the first week depends on the day weeks start on.
  Rule sunMon = monWed;
  sunMon.on = kSun | kMon;
  Rule sunMonFromMonday = sunMon;
  sunMonFromMonday.startOfWeek = 1;
  ExpectOccurrences({
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 3), true},
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 4), false},
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 5), true},
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 10), false},
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 12), false},
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 17), true},
      {"Mon/Wed every 2 weeks", monWed, Ymd(2000, 1, 19), true},
      {"Sun/Mon, weeks from Sunday", sunMon, Ymd(2000, 1, 9), false},
      {"Sun/Mon, weeks from Sunday", sunMon, Ymd(2000, 1, 16), true},
      {"Sun/Mon, weeks from Monday", sunMonFromMonday, Ymd(2000, 1, 9), true},
      {"Sun/Mon, weeks from Monday", sunMonFromMonday, Ymd(2000, 1, 16), false},
  });
}

TEST(EventDescriptorOccurrenceTest, MonthlyByDayTakesWeekAndWeekday) {
  const Rule lastFriday{
      .type = ED::kRepeatMonthlyByDay, .date = Ymd(2000, 1, 28), .on = 33};  // 4th Friday
  const Rule secondFriday{.type = ED::kRepeatMonthlyByDay, .date = Ymd(2000, 1, 14), .on = 12};
  Rule secondFridayEvery2 = secondFriday;
  secondFridayEvery2.frequency = 2;
  ExpectOccurrences({
      {"last Friday", lastFriday, Ymd(2000, 1, 28), true},
      {"last Friday", lastFriday, Ymd(2000, 1, 21), false},
      {"last Friday", lastFriday, Ymd(2000, 2, 25), true},   // in the fourth week
      {"last Friday", lastFriday, Ymd(2000, 3, 31), true},   // in the fifth week
      {"last Friday", lastFriday, Ymd(2000, 3, 24), false},  // fourth, not last
      {"last Friday", lastFriday, Ymd(2000, 3, 30), false},  // last days, not Friday
      {"second Friday", secondFriday, Ymd(2000, 2, 11), true},
      {"second Friday", secondFriday, Ymd(2000, 2, 25), false},
      {"second Friday", secondFriday, Ymd(2000, 3, 10), true},
      {"second Friday", secondFriday, Ymd(2000, 3, 31), false},
      {"second Friday every 2", secondFridayEvery2, Ymd(2000, 2, 11), false},
      {"second Friday every 2", secondFridayEvery2, Ymd(2000, 3, 10), true},
  });
}

TEST(EventDescriptorOccurrenceTest, MonthlyByDateFallsBackToTheLastDay) {
  const Rule on31st{.type = ED::kRepeatMonthlyByDate, .date = Ymd(2000, 1, 31)};
  const Rule on15thEvery3{
      .type = ED::kRepeatMonthlyByDate, .date = Ymd(2000, 11, 15), .frequency = 3};
  ExpectOccurrences({
      {"31st", on31st, Ymd(2000, 3, 31), true},
      {"31st", on31st, Ymd(2000, 3, 30), false},
      {"31st", on31st, Ymd(2000, 4, 30), true},
      {"31st", on31st, Ymd(2000, 4, 29), false},
      {"31st", on31st, Ymd(2000, 2, 29), true},
      {"31st", on31st, Ymd(2000, 2, 28), false},
      {"31st", on31st, Ymd(2001, 2, 28), true},
      {"31st", on31st, Ymd(2001, 1, 30), false},
      {"15th every 3 months", on15thEvery3, Ymd(2001, 2, 15), true},  // across the year
      {"15th every 3 months", on15thEvery3, Ymd(2001, 1, 15), false},
  });
}

TEST(EventDescriptorOccurrenceTest, YearlyMovesLeapDayTo28February) {
  const Rule leapDay{.type = ED::kRepeatYearly, .date = Ymd(2000, 2, 29)};
  const Rule every2{.type = ED::kRepeatYearly, .date = Ymd(2000, 6, 10), .frequency = 2};
  const Rule feb28{.type = ED::kRepeatYearly, .date = Ymd(2001, 2, 28)};
  ExpectOccurrences({
      {"29 Feb", leapDay, Ymd(2001, 2, 28), true},
      {"29 Feb", leapDay, Ymd(2001, 3, 1), false},
      {"29 Feb", leapDay, Ymd(2004, 2, 29), true},
      {"29 Feb", leapDay, Ymd(2004, 2, 28), false},
      {"28 Feb", feb28, Ymd(2004, 2, 28), true},
      {"28 Feb", feb28, Ymd(2004, 2, 29), false},
      {"every 2 years", every2, Ymd(2001, 6, 10), false},
      {"every 2 years", every2, Ymd(2002, 6, 10), true},
  });
}

TEST(EventDescriptorOccurrenceTest, EndDateAndExceptionsStopOccurrences) {
  const Rule untilTenth{.type = ED::kRepeatDaily, .date = Ymd(2000, 1, 1), .end = Ymd(2000, 1, 10)};
  const Rule exceptStart{.type = ED::kRepeatDaily,
                         .date = Ymd(2000, 1, 1),
                         .exceptions = {Ymd(2000, 1, 4), Ymd(2000, 1, 1)}};
  ExpectOccurrences({
      {"until 10 Jan", untilTenth, Ymd(2000, 1, 10), true},
      {"until 10 Jan", untilTenth, Ymd(2000, 1, 11), false},
      {"except 1 and 4 Jan", exceptStart, Ymd(2000, 1, 1), false},
      {"except 1 and 4 Jan", exceptStart, Ymd(2000, 1, 2), true},
      {"except 1 and 4 Jan", exceptStart, Ymd(2000, 1, 4), false},
  });
}

TEST(EventDescriptorOccurrenceTest, FrequencyZeroAndUnknownTypesNeverOccur) {
  std::vector<OccurrenceCase> cases;
  for (uint8_t type = ED::kRepeatDaily; type <= ED::kRepeatYearly; ++type) {
    Rule rule{.type = type, .date = Ymd(2000, 1, 3), .frequency = 0, .on = kMon};
    if (type == ED::kRepeatMonthlyByDay) rule.on = 1;  // first Monday
    cases.push_back({"frequency 0", rule, Ymd(2000, 1, 3), false});
    rule.frequency = 1;
    cases.push_back({"frequency 1", rule, Ymd(2000, 1, 3), true});
  }
  cases.push_back({"type 6", {.type = 6, .date = Ymd(2000, 1, 3)}, Ymd(2000, 1, 3), false});
  ExpectOccurrences(cases);
}

// Damaged records: months 0 and 13-15, day 0, weekday values out of range.
// Nothing is expected of the answers except that they are given safely.
TEST(EventDescriptorOccurrenceTest, DamagedValuesNeverCrash) {
  const uint16_t damagedDates[] = {
      static_cast<uint16_t>((2000 - 1904) << 9 | 0 << 5 | 15),
      static_cast<uint16_t>((1999 - 1904) << 9 | 13 << 5 | 31),
      static_cast<uint16_t>((1999 - 1904) << 9 | 15 << 5 | 31),
      static_cast<uint16_t>((2000 - 1904) << 9 | 2 << 5 | 0),
      0,
  };
  int32_t answers = 0;
  for (uint8_t type = ED::kRepeatNone; type <= 7; ++type) {
    for (uint16_t date : damagedDates) {
      for (uint8_t on : {uint8_t{0}, uint8_t{34}, uint8_t{255}}) {
        const ED e = Make({.type = type, .date = date, .on = on, .startOfWeek = 200});
        for (int32_t day = 1; day <= 60; ++day) {
          answers += e.IsOnDate(ED::YMDToCTime(Ymd(2000, 1, 1)) + day * 86400) ? 1 : 0;
        }
        answers += e.IsInDateRange(0, 0xFFFF) ? 1 : 0;
        EXPECT_FALSE(e.GetDisplayString().empty());
      }
    }
  }
  EXPECT_GT(answers, 0);
}

TEST(EventDescriptorOccurrenceTest, IsInDateRange) {
  const Rule single{.date = Ymd(2000, 3, 15)};
  const Rule daily{.type = ED::kRepeatDaily, .date = Ymd(2000, 1, 1), .end = Ymd(2000, 1, 10)};
  Rule exceptions = daily;
  exceptions.exceptions = {Ymd(2000, 1, 5), Ymd(2000, 1, 6), Ymd(2000, 1, 7)};
  Rule duplicates = daily;
  duplicates.exceptions = {Ymd(2000, 1, 5), Ymd(2000, 1, 5), Ymd(2000, 1, 7)};
  const Rule acrossMonths{.type = ED::kRepeatDaily,
                          .date = Ymd(2000, 1, 1),
                          .exceptions = {Ymd(2000, 1, 31), Ymd(2000, 2, 1)}};
  struct Case {
    const char* what;
    Rule rule;
    uint16_t from, to;
    bool expected;
  };
  const Case kCases[] = {
      {"single, exact day", single, Ymd(2000, 3, 15), Ymd(2000, 3, 15), true},
      {"single, month", single, Ymd(2000, 3, 1), Ymd(2000, 3, 31), true},
      {"single, ends before", single, Ymd(2000, 3, 1), Ymd(2000, 3, 14), false},
      {"single, starts after", single, Ymd(2000, 3, 16), Ymd(2000, 3, 31), false},
      {"daily, overlapping", daily, Ymd(2000, 1, 5), Ymd(2000, 1, 20), true},
      {"daily, after its end", daily, Ymd(2000, 1, 11), Ymd(2000, 1, 20), false},
      {"daily, before its start", daily, Ymd(1999, 12, 1), Ymd(1999, 12, 31), false},
      {"range all exceptions", exceptions, Ymd(2000, 1, 5), Ymd(2000, 1, 7), false},
      {"range one day more", exceptions, Ymd(2000, 1, 5), Ymd(2000, 1, 8), true},
      {"duplicates count once", duplicates, Ymd(2000, 1, 5), Ymd(2000, 1, 7), true},
      // 31 Jan to 1 Feb spans 3 packed values, so two exceptions do not fill it.
      {"packed span", acrossMonths, Ymd(2000, 1, 31), Ymd(2000, 2, 1), true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(Make(c.rule).IsInDateRange(c.from, c.to), c.expected);
  }
}

TEST(EventDescriptorOccurrenceTest, IsBogusForOldDatesWithoutName) {
  struct Case {
    uint16_t date;
    const char* name;
    bool bogus;
  };
  const Case kCases[] = {
      {Ymd(1970, 1, 1), " ", true},  {Ymd(1970, 1, 1), "", true},    {Ymd(1970, 12, 31), "", true},
      {Ymd(1970, 1, 1), "x", false}, {Ymd(1970, 1, 1), "  ", false}, {Ymd(1971, 1, 1), "", false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << ED::DateString(c.date) << " '" << c.name << "'");
    ED e;
    e.SetYearMonthDate(c.date);
    e.SetName(c.name);
    EXPECT_EQ(e.IsBogus(), c.bogus);
  }
}

// ---------------------------------------------------------------------------
// Equality, hash, copies

TEST(EventDescriptorCompareTest, EqualComparesWhatMattersForTheKind) {
  struct Case {
    const char* what;
    void (*change)(ED&);
    bool equal;
  };
  const Case kCases[] = {
      {"nothing", [](ED&) {}, true},
      {"name", [](ED& e) { e.SetName("other"); }, false},
      {"note", [](ED& e) { e.SetNote("other"); }, false},
      {"private", [](ED& e) { e.SetIsPrivate(false); }, false},
      {"date", [](ED& e) { e.SetYearMonthDate(Ymd(2000, 1, 4)); }, false},
      {"start time", [](ED& e) { e.SetStartTime(Hm(9, 0)); }, false},
      {"end time of a timed event", [](ED& e) { e.SetEndTime(Hm(10, 0)); }, false},
      {"alarm flag", [](ED& e) { e.SetAlarmFlag(false); }, false},
      {"alarm advance", [](ED& e) { e.SetAlarmAdvanceTime(5); }, false},
      {"alarm unit", [](ED& e) { e.SetAlarmAdvanceUnit(1); }, false},
      {"repeat type", [](ED& e) { e.SetRepeatType(ED::kRepeatDaily); }, false},
      {"frequency", [](ED& e) { e.SetRepeatFrequency(3); }, false},
      {"repeat end", [](ED& e) { e.SetRepeatEndYearMonthDate(kForever); }, false},
      {"weekly repeat on", [](ED& e) { e.SetRepeatOn(kMon); }, false},
      {"weekly start of week", [](ED& e) { e.SetRepeatStartOfWeek(0); }, false},
      {"one more exception", [](ED& e) { e.AddExceptionYearMonthDate(Ymd(2000, 2, 1)); }, false},
      {"other exception date",
       [](ED& e) {
         e.ClearExceptions();
         e.AddExceptionYearMonthDate(Ymd(2000, 1, 17));
         e.AddExceptionYearMonthDate(Ymd(2000, 1, 31));
       },
       false},
      {"web text", [](ED& e) { e.GetWebContent().SetText("U"); }, false},
      {"use-me flag", [](ED& e) { e.ClearUseMe(); }, true},
  };
  const ED base = Full();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    ED changed = base.Clone();
    c.change(changed);
    EXPECT_EQ(base.Equal(changed), c.equal);
    EXPECT_EQ(changed.Equal(base), c.equal);
  }
}

// Repeat-on and start of week matter only where the repeat type uses them;
// repeat and alarm details only for repeating events and set alarms.
TEST(EventDescriptorCompareTest, EqualComparesRepeatAndAlarmDetailsOnlyWhereUsed) {
  struct Case {
    const char* what;
    Rule rule;
    void (*change)(ED&);
    bool equal;
  };
  const Rule daily{.type = ED::kRepeatDaily, .date = Ymd(2000, 1, 3)};
  const Rule byDay{.type = ED::kRepeatMonthlyByDay, .date = Ymd(2000, 1, 3), .on = 1};
  const Case kCases[] = {
      {"repeat details of a single event",
       {.date = Ymd(2000, 1, 3)},
       [](ED& e) {
         e.SetRepeatFrequency(9);
         e.SetRepeatEndYearMonthDate(Ymd(2001, 1, 1));
         e.SetRepeatOn(kFri);
         e.AddExceptionYearMonthDate(Ymd(2000, 1, 4));
       },
       true},
      {"alarm advance without alarm",
       {.date = Ymd(2000, 1, 3)},
       [](ED& e) {
         e.SetAlarmAdvanceTime(1);
         e.SetAlarmAdvanceUnit(2);
       },
       true},
      {"repeat on of a daily event", daily, [](ED& e) { e.SetRepeatOn(kFri); }, true},
      {"start of week of a daily event", daily, [](ED& e) { e.SetRepeatStartOfWeek(3); }, true},
      {"repeat on of a monthly-by-day event", byDay, [](ED& e) { e.SetRepeatOn(2); }, false},
      {"start of week of a monthly-by-day event", byDay, [](ED& e) { e.SetRepeatStartOfWeek(3); },
       true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const ED base = Make(c.rule);
    ED changed = base.Clone();
    c.change(changed);
    EXPECT_EQ(base.Equal(changed), c.equal);
  }
}

TEST(EventDescriptorCompareTest, UntimedEventIgnoresEndTimeInEqualAndHash) {
  ED a = Make({.date = Ymd(2000, 1, 3)});
  a.SetStartTime(kUntimed);
  a.SetEndTime(Hm(10, 0));
  ED b = a.Clone();
  b.SetEndTime(Hm(11, 0));
  EXPECT_TRUE(a.Equal(b));
  EXPECT_EQ(a.CalculateHash(), b.CalculateHash());

  a.SetStartTime(Hm(9, 0));
  b.SetStartTime(Hm(9, 0));
  EXPECT_FALSE(a.Equal(b));
  EXPECT_NE(a.CalculateHash(), b.CalculateHash());
}

TEST(EventDescriptorCompareTest, AlarmChangesEqualButNotTheHash) {
  const ED base = Full();
  for (auto change :
       {+[](ED& e) { e.SetAlarmFlag(false); }, +[](ED& e) { e.SetAlarmAdvanceTime(1); },
        +[](ED& e) { e.SetAlarmAdvanceUnit(2); }}) {
    ED changed = base.Clone();
    change(changed);
    EXPECT_FALSE(base.Equal(changed));
    EXPECT_EQ(base.CalculateHash(), changed.CalculateHash());
  }
}

// The hash of Full(), fed to a Hasher field by field in the documented order.
TEST(EventDescriptorCompareTest, HashFeedsTheFieldsInOrder) {
  Hasher h;
  h.AddFlag(true);
  h.AddByte(0xFF);
  h.AddByte(0);
  h.AddFlag(false);
  h.AddUINT16(Hm(9, 45));
  h.AddUINT16(Ymd(2000, 1, 17));
  h.AddUINT16(Ymd(2000, 1, 19));
  h.AddFlag(true);
  h.AddString("Standup");
  h.AddString("room 4");
  h.AddUINT16(Ymd(2000, 12, 31));
  h.AddUINT16(2);
  h.AddByte(2);            // frequency
  h.AddByte(kMon | kWed);  // repeat on
  h.AddByte(1);            // start of week
  h.AddByte(ED::kRepeatWeekly);
  h.AddUINT16(Hm(9, 30));
  h.AddUINT16(Ymd(2000, 1, 3));
  for (const char* s : {"Go", "http://d", "http://p", "S", "T"}) h.AddString(s);
  EXPECT_EQ(Full().CalculateHash(), h.GetHash());
}

TEST(EventDescriptorCompareTest, HashOfASingleEventLeavesOutItsExceptions) {
  ED a = Make({.date = Ymd(2000, 1, 3), .exceptions = {Ymd(2000, 1, 4)}});
  ED b = Make({.date = Ymd(2000, 1, 3)});
  EXPECT_EQ(a.CalculateHash(), b.CalculateHash());
  a.SetRepeatType(ED::kRepeatDaily);
  b.SetRepeatType(ED::kRepeatDaily);
  EXPECT_NE(a.CalculateHash(), b.CalculateHash());
}

TEST(EventDescriptorCompareTest, CopyFillsOwnHolderAndCloneIsIndependent) {
  const ED source = Full();
  ED target;
  const ED sameRecord = target;
  target.Copy(source);
  EXPECT_TRUE(sameRecord.Equal(source));
  EXPECT_TRUE(sameRecord.EqualEqual(target));
  EXPECT_FALSE(target.EqualEqual(source));
  EXPECT_EQ(target.GetUseMe(), 1);
  EXPECT_EQ(target.GetAlarmAdvanceTime(), 15);

  // The web content is copied by value, and a clone shares nothing.
  ED clone = source.Clone();
  clone.GetWebContent().SetText("changed");
  clone.SetName("changed");
  EXPECT_EQ(source.GetWebContent().GetText(), "T");
  EXPECT_EQ(target.GetWebContent().GetText(), "T");
  EXPECT_EQ(source.GetName(), "Standup");
}

TEST(EventDescriptorCompareTest, CopyOfASingleEventDropsExceptions) {
  ED target = Make({.type = ED::kRepeatDaily, .exceptions = {1, 2, 3}});
  target.Copy(Make({.date = Ymd(2000, 1, 3), .exceptions = {Ymd(2000, 1, 4)}}));
  EXPECT_EQ(target.GetRepeatExceptionCount(), 0);
  EXPECT_EQ(target.GetExceptionCapacity(), 0u);

  target.Copy(Make({.type = ED::kRepeatDaily, .exceptions = {9, 7}}));
  EXPECT_EQ(Exceptions(target), (std::vector<uint16_t>{7, 9}));
}

// ---------------------------------------------------------------------------
// Exceptions

TEST(EventDescriptorExceptionTest, AddKeepsAscendingOrderAndDuplicates) {
  ED e = Make({.type = ED::kRepeatDaily, .exceptions = {5, 3, 4, 4, 1}});
  EXPECT_EQ(Exceptions(e), (std::vector<uint16_t>{1, 3, 4, 4, 5}));
  e.ClearExceptions();
  EXPECT_EQ(e.GetRepeatExceptionCount(), 0);
  e.AddExceptionYearMonthDate(2);
  EXPECT_EQ(Exceptions(e), (std::vector<uint16_t>{2}));
}

TEST(EventDescriptorExceptionTest, CapacityGrowsInBlocksOfEight) {
  ED e;
  EXPECT_EQ(e.GetExceptionCapacity(), 0u);
  const std::pair<int32_t, uint32_t> kSteps[] = {{1, 8}, {8, 8}, {9, 16}, {16, 16}, {17, 24}};
  int32_t added = 0;
  for (const auto& [count, capacity] : kSteps) {
    while (added < count) e.AddExceptionYearMonthDate(static_cast<uint16_t>(100 - added++));
    EXPECT_EQ(e.GetExceptionCapacity(), capacity) << count << " dates";
  }
  // Growing kept every date, in order.
  const std::vector<uint16_t> dates = Exceptions(e);
  ASSERT_EQ(dates.size(), 17u);
  EXPECT_EQ(dates.front(), 84);
  EXPECT_EQ(dates.back(), 100);
  e.ClearExceptions();
  EXPECT_EQ(e.GetExceptionCapacity(), 0u);
}

// ---------------------------------------------------------------------------
// Display

TEST(EventDescriptorDisplayTest, TimeAndDateStrings) {
  EXPECT_EQ(ED::TimeString(0x0D05), "1:05 pm");
  EXPECT_EQ(ED::TimeString(0x0000), "12:00 am");
  EXPECT_EQ(ED::TimeString(Hm(12, 0)), "12:00 pm");
  EXPECT_EQ(ED::TimeString(Hm(11, 59)), "11:59 am");
  EXPECT_EQ(ED::TimeString(Hm(23, 7)), "11:07 pm");
  EXPECT_EQ(ED::TimeString(kUntimed), "untimed");
  EXPECT_EQ(ED::TimeString(Hm(9, 0), Hm(10, 30)), "9:00 am - 10:30 am");
  EXPECT_EQ(ED::TimeString(kUntimed, Hm(10, 30)), "untimed");
  EXPECT_EQ(ED::DateString(0xFFFF), "forever");
  EXPECT_EQ(ED::DateString(Ymd(2000, 2, 29)), "2/29/2000");
  EXPECT_EQ(ED::DateString(Ymd(1904, 1, 1)), "1/1/1904");
  EXPECT_EQ(ED::DateString(Ymd(2000, 2, 29), Hm(13, 5), Hm(14, 0)),
            "2/29/2000 at 1:05 pm - 2:00 pm");
}

TEST(EventDescriptorDisplayTest, DisplayStringShowsPrivateAndBogusMarkers) {
  ED e;
  e.SetName("Lunch");
  e.SetNote("bring cake");
  e.SetYearMonthDate(Ymd(2000, 3, 15));
  e.SetStartTime(Hm(12, 30));
  e.SetEndTime(Hm(13, 30));
  EXPECT_EQ(e.GetDisplayString(), "\"Lunch\" 3/15/2000 at 12:30 pm - 1:30 pm bring cake");
  e.SetIsPrivate(true);
  EXPECT_EQ(e.GetDisplayString(), "\"Lunch\" 3/15/2000 at 12:30 pm - 1:30 pm (private) bring cake");

  ED bogus;
  bogus.SetName(" ");
  bogus.SetYearMonthDate(Ymd(1970, 1, 1));
  bogus.SetStartTime(kUntimed);
  EXPECT_EQ(bogus.GetDisplayString(), "\" \" 1/1/1970 at untimed(bogus) ");
  bogus.SetIsPrivate(true);
  EXPECT_EQ(bogus.GetDisplayString(), "\" \" 1/1/1970 at untimed (private)(bogus) ");
}

TEST(EventDescriptorDisplayTest, AlarmText) {
  struct Case {
    bool flag;
    uint8_t advance, unit;
    const char* text;
  };
  const Case kCases[] = {
      {false, 5, 0, ""},
      {true, 5, 0, "alarm (5 minutes)"},
      {true, 1, 0, "alarm (1 minute)"},
      {true, 1, 1, "alarm (1 hour)"},
      {true, 2, 2, "alarm (2 days)"},
      {true, 3, 7, "alarm (3 minutes)"},
      {true, 0, 1, "alarm (0 hour)"},
  };
  for (const Case& c : kCases) {
    ED e;
    e.SetAlarmFlag(c.flag);
    e.SetAlarmAdvanceTime(c.advance);
    e.SetAlarmAdvanceUnit(c.unit);
    EXPECT_EQ(e.GetDisplayStringAlarm(), c.text);
  }
}

TEST(EventDescriptorDisplayTest, RepeatText) {
  struct Case {
    Rule rule;
    const char* text;
  };
  const Case kCases[] = {
      {{.exceptions = {Ymd(2000, 1, 5)}}, ""},
      {{.type = ED::kRepeatDaily, .frequency = 3}, "repeat daily every 3 until forever"},
      {{.type = ED::kRepeatWeekly,
        .frequency = 2,
        .exceptions = {Ymd(2000, 1, 12), Ymd(2000, 1, 10)}},
       "repeat weekly every 2 until forever except 1/10/2000 1/12/2000"},
      {{.type = ED::kRepeatMonthlyByDay, .end = Ymd(2000, 12, 31)},
       "repeat monthly-by-day every 1 until 12/31/2000"},
      {{.type = ED::kRepeatMonthlyByDate}, "repeat monthly-by-date every 1 until forever"},
      {{.type = ED::kRepeatYearly}, "repeat yearly every 1 until forever"},
      {{.type = 9, .end = Ymd(2000, 12, 31)}, "unknown repeat type #9 every 1 until 12/31/2000"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Make(c.rule).GetDisplayStringRepeat(), c.text);
}

// ---------------------------------------------------------------------------
// Stored form

TEST(EventDescriptorStoredFormTest, StoresFieldsInOrder) {
  ED e = Make({.type = ED::kRepeatDaily, .date = Ymd(2000, 1, 3), .exceptions = {Ymd(2000, 1, 5)}});
  e.SetName("Tea");
  e.SetAlarmFlag(true);
  e.SetAlarmAdvanceTime(10);
  e.SetStartTime(Hm(13, 0));
  e.SetEndTime(Hm(14, 0));
  e.GetWebContent().SetButtonLabel("Go");
  e.SetUseMe(1);
  const std::string expected = Bytes()
                                   .Byte('+')
                                   .Byte(10)
                                   .Byte(0)
                                   .Word(Hm(14, 0))
                                   .Byte('-')
                                   .Str("Tea")
                                   .Str("")
                                   .Word(kForever)
                                   .Word(1)
                                   .Byte(1)
                                   .Byte(0)
                                   .Byte(0)
                                   .Byte(ED::kRepeatDaily)
                                   .Word(Hm(13, 0))
                                   .Word(Ymd(2000, 1, 3))
                                   .Word(Ymd(2000, 1, 5))
                                   .Str("Go")
                                   .Str("")
                                   .Str("")
                                   .Str("")
                                   .Str("")
                                   .Byte(1);
  EXPECT_EQ(Store(e), expected);
}

TEST(EventDescriptorStoredFormTest, RoundTripKeepsEveryField) {
  ED source = Full();
  const std::string bytes = Store(source);
  ED loaded;
  const ED sameRecord = loaded;
  EXPECT_EQ(Load(loaded, bytes, 15), bytes.size());
  EXPECT_TRUE(loaded.Equal(source));
  EXPECT_EQ(loaded.CalculateHash(), source.CalculateHash());
  EXPECT_EQ(loaded.GetUseMe(), 1);
  EXPECT_EQ(Store(loaded), bytes);
  // The quick form is read into the handle's own holder.
  EXPECT_TRUE(sameRecord.EqualEqual(loaded));
}

TEST(EventDescriptorStoredFormTest, ReadingSortsExceptionsAndTakesAnyFlagByte) {
  Bytes bytes = FieldsWithCount(3).Word(7).Word(5).Word(6);
  std::string data = EmptyWeb(bytes);
  data[0] = 'x';  // an alarm flag byte other than '-' reads as set
  ED e;
  Load(e, data, 15);
  EXPECT_EQ(Exceptions(e), (std::vector<uint16_t>{5, 6, 7}));
  EXPECT_EQ(e.GetExceptionCapacity(), 8u);
  EXPECT_TRUE(e.GetAlarmFlag());
  EXPECT_FALSE(e.GetIsPrivate());
}

TEST(EventDescriptorStoredFormTest, WebContentFollowsTheVersion) {
  // Format version 6 has no web content: the record ends after the dates.
  const std::string old = FieldsWithCount(1).Word(9);
  ED e;
  e.GetWebContent().SetText("stale");
  EXPECT_EQ(Load(e, old, 6), old.size());
  EXPECT_EQ(e.GetWebContent().GetText(), "");
  EXPECT_EQ(LoadFailure(old, 7), ArchiveStatus::kEndOfData);
}

TEST(EventDescriptorStoredFormTest, ObjectFormVersionsReadAWholeHolder) {
  ED source = Full();
  const std::string body = Store(source);
  for (uint32_t version : {1u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(version);
    const std::string bytes = Bytes().NewClass("EventDescriptorHolder").Raw(body);
    ED loaded;
    const ED before = loaded;
    EXPECT_EQ(Load(loaded, bytes, version), bytes.size());
    EXPECT_TRUE(loaded.Equal(source));
    EXPECT_EQ(loaded.GetWebContent().GetSponsor(), "S");  // read with schema 15
    EXPECT_FALSE(before.EqualEqual(loaded));
    EXPECT_EQ(before.GetName(), "");
  }
  EXPECT_EQ(LoadFailure(Bytes().Word(0), 0xFFFFFFFF), ArchiveStatus::kBadValue);
  Bytes web = Bytes().NewClass("WebContentHolder");
  EXPECT_EQ(LoadFailure(EmptyWeb(web), 0xFFFFFFFF), ArchiveStatus::kWrongClass);
}

TEST(EventDescriptorStoredFormTest, TruncatedDataFailsCleanly) {
  ED source = Full();
  const std::string quick = Store(source);
  const std::string object = Bytes().NewClass("EventDescriptorHolder").Raw(quick);
  for (const auto& [bytes, version] : {std::pair{quick, 15u}, std::pair{object, 0xFFFFFFFFu}}) {
    for (size_t n = 0; n < bytes.size(); ++n) {
      SCOPED_TRACE(testing::Message() << n << " of " << bytes.size() << " bytes");
      EXPECT_NE(LoadFailure(bytes.substr(0, n), version), ArchiveStatus::kOk);
    }
  }
}

TEST(EventDescriptorStoredFormTest, ExceptionCountMustFitTheData) {
  Bytes huge = FieldsWithCount(0xFFFF).Word(1).Word(2);
  EXPECT_EQ(LoadFailure(EmptyWeb(huge), 15), ArchiveStatus::kBadCount);
  Bytes short1 = FieldsWithCount(3).Word(1).Word(2);
  EXPECT_EQ(LoadFailure(short1.Byte(0), 15), ArchiveStatus::kBadCount);

  // The largest count does load when its dates are there; the array then
  // holds 65536 entries and a further date cannot be counted.
  Bytes full = FieldsWithCount(0xFFFF).Raw(std::string(2 * 0xFFFF, '\0'));
  ED e;
  Load(e, EmptyWeb(full), 15);
  EXPECT_EQ(e.GetRepeatExceptionCount(), 0xFFFF);
  EXPECT_EQ(e.GetExceptionCapacity(), 65536u);
  e.AddExceptionYearMonthDate(1);
  EXPECT_EQ(e.GetRepeatExceptionCount(), 0xFFFF);
}

}  // namespace
}  // namespace brontel
