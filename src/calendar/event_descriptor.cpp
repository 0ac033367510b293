#include "brontel/calendar/event_descriptor.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "brontel/core/hasher.h"
#include "brontel/core/packed_date.h"
#include "brontel/core/record_identification.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(EventDescriptorHolder, "EventDescriptorHolder");

namespace {

// Days since 1 January 1904 as a signed value. A damaged month in the event's
// date (0 or 13-15) can give it a larger day count than a later real date, so
// differences of day counts must be able to go negative.
int32_t Days(DateType_s date) {
  return static_cast<int32_t>(DateToDays(date));
}

// The repeat rule of a repeating event with date s for the date d. d is a real
// calendar date (month 1-12, day >= 1) on or after s; only d's month ever
// reaches DaysInMonth or DayOfWeek, so damaged fields of s cannot index their
// month tables.
bool RepeatsOn(const EventDescriptorHolder& h, DateType_s s, DateType_s d) {
  const int32_t f = h.m_repeatFrequency;
  // A repeating event needs a frequency of at least 1; with 0 the remainders
  // below would divide by zero, so such an event never occurs.
  if (f == 0) return false;
  const int32_t year = d.year + 1904;
  // Signed month and year differences: with a damaged month in s they can be
  // negative, and a zero remainder test is still well defined for those.
  const int32_t months =
      (static_cast<int32_t>(d.year) - s.year) * 12 + (static_cast<int32_t>(d.month) - s.month);
  switch (h.m_repeatType) {
    case EventDescriptor::kRepeatDaily:
      return (Days(d) - Days(s)) % f == 0;
    case EventDescriptor::kRepeatWeekly: {
      const int32_t weekday = DayOfWeek(d.month, d.day, year);
      if ((h.m_repeatOn & (1u << weekday)) == 0) return false;
      // Offset that makes whole weeks start on the configured weekday. A stored
      // start of week outside 0..6 is taken mod 7 so the offset stays in 0..6.
      const int32_t a = (DayOfWeek(1, 1, 1904) - h.m_repeatStartOfWeek % 7 + 7) % 7;
      return ((Days(d) + a) / 7 - (Days(s) + a) / 7) % f == 0;
    }
    case EventDescriptor::kRepeatMonthlyByDay: {
      if (months % f != 0) return false;
      if (DayOfMonth(d.month, d.day, year) == h.m_repeatOn) return true;
      // Values 28..34 name the last such weekday, which may fall in the fourth
      // or the fifth week: d must lie in the last seven days of its month.
      return h.m_repeatOn > 27 && d.day > 20 && d.day + 7 > DaysInMonth(d.month, year) &&
             DayOfWeek(d.month, d.day, year) == h.m_repeatOn % 7;
    }
    case EventDescriptor::kRepeatMonthlyByDate: {
      if (months % f != 0) return false;
      if (d.day == s.day) return true;
      // An event on a day that a shorter month lacks occurs on its last day.
      const int32_t last = DaysInMonth(d.month, year);
      return s.day > last && d.day == last;
    }
    case EventDescriptor::kRepeatYearly:
      if ((static_cast<int32_t>(d.year) - s.year) % f != 0) return false;
      if (d.month == s.month && d.day == s.day) return true;
      // A 29 February event occurs on 28 February in years without that day.
      return s.month == 2 && s.day == 29 && d.month == 2 && d.day == DaysInMonth(2, year);
    default:
      return false;
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Holder

void EventDescriptorHolder::SerializeFields(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteFlag(m_alarmFlag);
    ar.WriteByte(m_alarmAdvanceTime);
    ar.WriteByte(m_alarmAdvanceUnit);
    ar.WriteWord(m_endTime);
    ar.WriteFlag(m_isPrivate);
    ar.WriteString(m_name);
    ar.WriteString(m_note);
    ar.WriteWord(m_repeatEndYearMonthDate);
    ar.WriteWord(m_repeatExceptionCount);
    ar.WriteByte(m_repeatFrequency);
    ar.WriteByte(m_repeatOn);
    ar.WriteByte(m_repeatStartOfWeek);
    ar.WriteByte(m_repeatType);
    ar.WriteWord(m_startTime);
    ar.WriteWord(m_yearMonthDate);
    for (uint16_t i = 0; i < m_repeatExceptionCount; ++i) ar.WriteWord(m_repeatExceptions[i]);
    m_webContent.SerializeQuick(ar, version);
    return;
  }
  m_alarmFlag = ar.ReadFlag();
  m_alarmAdvanceTime = ar.ReadByte();
  m_alarmAdvanceUnit = ar.ReadByte();
  m_endTime = ar.ReadWord();
  m_isPrivate = ar.ReadFlag();
  m_name = ar.ReadString();
  m_note = ar.ReadString();
  m_repeatEndYearMonthDate = ar.ReadWord();
  const uint16_t count = ar.ReadWord();
  m_repeatFrequency = ar.ReadByte();
  m_repeatOn = ar.ReadByte();
  m_repeatStartOfWeek = ar.ReadByte();
  m_repeatType = ar.ReadByte();
  m_startTime = ar.ReadWord();
  m_yearMonthDate = ar.ReadWord();
  // Check the count against the bytes left before allocating for it.
  if (ar.Remaining() < static_cast<size_t>(count) * 2) {
    ar.Fail(ArchiveStatus::kBadCount,
            Format("%u exception dates exceed the data left", static_cast<uint32_t>(count)));
  }
  SetRepeatExceptionCount(count);
  for (uint16_t i = 0; i < count; ++i) {
    m_repeatExceptions[i] = ar.ReadWord();
    SiftTowardsFront(i);
  }
  m_webContent.SerializeQuick(ar, version);
}

void EventDescriptorHolder::SetRepeatExceptionCount(uint16_t n) {
  const size_t capacity = (static_cast<size_t>(n) + 7) & ~static_cast<size_t>(7);
  if (capacity != m_repeatExceptions.size()) {
    std::vector<uint16_t> fresh(capacity);
    std::copy_n(m_repeatExceptions.begin(), std::min(m_repeatExceptionCount, n), fresh.begin());
    m_repeatExceptions = std::move(fresh);
  }
  m_repeatExceptionCount = n;
}

void EventDescriptorHolder::AddException(uint16_t date) {
  // The count is 16 bits wide; a date beyond its limit cannot be recorded.
  if (m_repeatExceptionCount == UINT16_MAX) return;
  const uint16_t index = m_repeatExceptionCount;
  SetRepeatExceptionCount(static_cast<uint16_t>(index + 1));
  m_repeatExceptions[index] = date;
  SiftTowardsFront(index);
}

void EventDescriptorHolder::SiftTowardsFront(uint16_t index) {
  for (size_t i = index; i > 0 && m_repeatExceptions[i] < m_repeatExceptions[i - 1]; --i) {
    std::swap(m_repeatExceptions[i], m_repeatExceptions[i - 1]);
  }
}

// ---------------------------------------------------------------------------
// Handle

EventDescriptor::EventDescriptor() : Handle(new EventDescriptorHolder()) {}

void EventDescriptor::AddExceptionYearMonthDate(uint16_t date) {
  Live()->AddException(date);
}

void EventDescriptor::ClearExceptions() {
  Live()->SetRepeatExceptionCount(0);
}

uint16_t EventDescriptor::GetExceptionYearMonthDate(int32_t index) const {
  const EventDescriptorHolder* h = Live();
  BRONTEL_REQUIRE(index >= 0 && index < m_holder->m_repeatExceptionCount,
                  "index >= 0 && index < m_holder->m_repeatExceptionCount");
  return h->m_repeatExceptions[static_cast<size_t>(index)];
}

void EventDescriptor::SetRepeatExceptionCount(uint16_t n) {
  Live()->SetRepeatExceptionCount(n);
}

void EventDescriptor::SetExceptionYearMonthDate(int32_t index, uint16_t date) {
  EventDescriptorHolder* h = Live();
  BRONTEL_REQUIRE(index >= 0 && index < m_holder->m_repeatExceptionCount,
                  "index >= 0 && index < m_holder->m_repeatExceptionCount");
  h->m_repeatExceptions[static_cast<size_t>(index)] = date;
}

bool EventDescriptor::IsOnDate(std::time_t t) const {
  if (m_holder == nullptr || m_holder->m_referenceCount == 0) return false;
  const EventDescriptorHolder& h = *m_holder;
  const DateType_s s = PalmDateType(h.m_yearMonthDate);
  const DateType_s d = PalmDateTypeFromTime(t);
  if (h.m_repeatType == kRepeatNone) return DateCompare(s, d) == 0;
  // The date of t is all zero when its local time cannot be computed; the
  // repeat rules need a real month and day.
  if (d.month < 1 || d.month > 12 || d.day == 0) return false;
  if (DateCompare(d, s) < 0) return false;
  const uint16_t packed = DateToInt(d);
  if (packed > h.m_repeatEndYearMonthDate) return false;
  if (!RepeatsOn(h, s, d)) return false;
  for (uint16_t i = 0; i < h.m_repeatExceptionCount; ++i) {
    if (h.m_repeatExceptions[i] == packed) return false;
  }
  return true;
}

bool EventDescriptor::IsInDateRange(uint16_t from, uint16_t to) const {
  const EventDescriptorHolder* h = Live();
  if (to < h->m_yearMonthDate) return false;
  if (h->m_repeatType == kRepeatNone) return from <= h->m_yearMonthDate;
  uint16_t end = h->m_repeatEndYearMonthDate;
  if (end < from) return false;
  if (to < end) end = to;
  // The range is taken when its distinct exception dates are as many as the
  // packed values from `from` to `end`; an empty range (end < from) is taken
  // from the start.
  const int32_t bound = static_cast<int32_t>(end) - from + 1;
  int32_t count = 0;
  bool counted = false;
  uint16_t last = 0;
  for (uint16_t i = 0; i < h->m_repeatExceptionCount && count < bound; ++i) {
    const uint16_t x = h->m_repeatExceptions[i];
    if (x < from || x > to || (counted && x == last)) continue;
    ++count;
    counted = true;
    last = x;
  }
  return count < bound;
}

bool EventDescriptor::IsBogus() const {
  if (m_holder == nullptr || m_holder->m_referenceCount == 0) return false;
  // 0x859F is 31 December 1970.
  return m_holder->m_yearMonthDate <= 0x859F &&
         (m_holder->m_name.empty() || m_holder->m_name == " ");
}

bool EventDescriptor::Equal(const EventDescriptor& other) const {
  const EventDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const EventDescriptorHolder* b = other.m_holder;
  if (a->m_isPrivate != b->m_isPrivate || a->m_name != b->m_name || a->m_note != b->m_note ||
      a->m_startTime != b->m_startTime || a->m_yearMonthDate != b->m_yearMonthDate ||
      a->m_alarmFlag != b->m_alarmFlag || a->m_repeatType != b->m_repeatType ||
      !a->m_webContent.Equal(b->m_webContent)) {
    return false;
  }
  if (a->m_startTime != kUntimed && a->m_endTime != b->m_endTime) return false;
  if (a->m_alarmFlag && (a->m_alarmAdvanceTime != b->m_alarmAdvanceTime ||
                         a->m_alarmAdvanceUnit != b->m_alarmAdvanceUnit)) {
    return false;
  }
  if (a->m_repeatType == kRepeatNone) return true;
  if (a->m_repeatExceptionCount != b->m_repeatExceptionCount ||
      a->m_repeatEndYearMonthDate != b->m_repeatEndYearMonthDate ||
      a->m_repeatFrequency != b->m_repeatFrequency) {
    return false;
  }
  if (a->m_repeatType == kRepeatWeekly &&
      (a->m_repeatOn != b->m_repeatOn || a->m_repeatStartOfWeek != b->m_repeatStartOfWeek)) {
    return false;
  }
  if (a->m_repeatType == kRepeatMonthlyByDay && a->m_repeatOn != b->m_repeatOn) return false;
  return std::equal(a->m_repeatExceptions.begin(),
                    a->m_repeatExceptions.begin() + a->m_repeatExceptionCount,
                    b->m_repeatExceptions.begin());
}

uint32_t EventDescriptor::CalculateHash() const {
  const EventDescriptorHolder* h = Live();
  const bool repeats = h->m_repeatType != kRepeatNone;
  Hasher hasher;
  // Fixed values where the alarm fields once entered: the alarm is kept out of
  // the hash, so changing only the alarm does not mark the data as changed.
  hasher.AddFlag(true);
  hasher.AddByte(0xFF);
  hasher.AddByte(0);
  hasher.AddFlag(false);
  hasher.AddUINT16(h->m_startTime == kUntimed ? 0 : h->m_endTime);
  if (repeats) {
    for (uint16_t i = 0; i < h->m_repeatExceptionCount; ++i) {
      hasher.AddUINT16(h->m_repeatExceptions[i]);
    }
  }
  hasher.AddFlag(h->m_isPrivate);
  hasher.AddString(h->m_name);
  hasher.AddString(h->m_note);
  hasher.AddUINT16(h->m_repeatEndYearMonthDate);
  hasher.AddUINT16(repeats ? h->m_repeatExceptionCount : 0);
  hasher.AddByte(h->m_repeatFrequency);
  hasher.AddByte(h->m_repeatOn);
  hasher.AddByte(h->m_repeatStartOfWeek);
  hasher.AddByte(h->m_repeatType);
  hasher.AddUINT16(h->m_startTime);
  hasher.AddUINT16(h->m_yearMonthDate);
  const WebContent& web = h->m_webContent;
  hasher.AddString(web.GetButtonLabel());
  hasher.AddString(web.GetDesktopURL());
  hasher.AddString(web.GetPalm7URL());
  hasher.AddString(web.GetSponsor());
  hasher.AddString(web.GetText());
  return hasher.GetHash();
}

void EventDescriptor::Copy(const EventDescriptor& other) {
  EventDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const EventDescriptorHolder* b = other.m_holder;
  if (a == b) return;
  a->m_alarmAdvanceTime = b->m_alarmAdvanceTime;
  a->m_alarmAdvanceUnit = b->m_alarmAdvanceUnit;
  a->m_alarmFlag = b->m_alarmFlag;
  a->m_endTime = b->m_endTime;
  // The exception dates mean something only for a repeating event.
  if (b->m_repeatType != kRepeatNone) {
    a->SetRepeatExceptionCount(b->m_repeatExceptionCount);
    std::copy_n(b->m_repeatExceptions.begin(), b->m_repeatExceptionCount,
                a->m_repeatExceptions.begin());
  } else {
    a->SetRepeatExceptionCount(0);
  }
  a->m_isPrivate = b->m_isPrivate;
  a->m_name = b->m_name;
  a->m_note = b->m_note;
  a->m_repeatEndYearMonthDate = b->m_repeatEndYearMonthDate;
  a->m_repeatFrequency = b->m_repeatFrequency;
  a->m_repeatStartOfWeek = b->m_repeatStartOfWeek;
  a->m_repeatOn = b->m_repeatOn;
  a->m_repeatType = b->m_repeatType;
  a->m_startTime = b->m_startTime;
  a->m_webContent.Copy(b->m_webContent);
  a->m_yearMonthDate = b->m_yearMonthDate;
}

EventDescriptor EventDescriptor::Clone() const {
  EventDescriptor copy;
  copy.Copy(*this);
  return copy;
}

void EventDescriptor::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsLoading() && IsObjectFormVersion(version)) {
    LoadHolderObject(ar, false);
    return;
  }
  Live()->SerializeFields(ar, version);
}

// ---------------------------------------------------------------------------
// Display

std::string EventDescriptor::GetDisplayString() const {
  const EventDescriptorHolder* h = Live();
  std::string marker;
  if (h->m_isPrivate) marker = " (private)";
  if (IsBogus()) marker += "(bogus)";
  return Format("\"%s\" %s%s %s", h->m_name.c_str(), GetDisplayStringTime().c_str(), marker.c_str(),
                h->m_note.c_str());
}

std::string EventDescriptor::GetDisplayStringTime() const {
  const EventDescriptorHolder* h = Live();
  return DateString(h->m_yearMonthDate, h->m_startTime, h->m_endTime);
}

std::string EventDescriptor::GetDisplayStringAlarm() const {
  const EventDescriptorHolder* h = Live();
  if (!h->m_alarmFlag) return std::string();
  const char* unit = "minute";
  if (h->m_alarmAdvanceUnit == 1) unit = "hour";
  if (h->m_alarmAdvanceUnit == 2) unit = "day";
  return Format("alarm (%d %s%s)", h->m_alarmAdvanceTime, unit,
                h->m_alarmAdvanceTime > 1 ? "s" : "");
}

std::string EventDescriptor::GetDisplayStringRepeat() const {
  const EventDescriptorHolder* h = Live();
  if (h->m_repeatType == kRepeatNone) return std::string();
  static const char* const kKinds[] = {" daily", " weekly", " monthly-by-day", " monthly-by-date",
                                       " yearly"};
  std::string text = "repeat";
  // Only types 1..5 index the table; any other stored type is named by number.
  if (h->m_repeatType >= kRepeatDaily && h->m_repeatType <= kRepeatYearly) {
    text += kKinds[h->m_repeatType - 1];
  } else {
    text = Format("unknown repeat type #%d", h->m_repeatType);
  }
  text += Format(" every %d until ", h->m_repeatFrequency);
  text += DateString(h->m_repeatEndYearMonthDate);
  if (h->m_repeatExceptionCount > 0) {
    text += " except";
    for (uint16_t i = 0; i < h->m_repeatExceptionCount; ++i) {
      text += " " + DateString(h->m_repeatExceptions[i]);
    }
  }
  return text;
}

std::string EventDescriptor::TimeString(uint16_t time) {
  if (time == kUntimed) return "untimed";
  const int32_t hour = time >> 8;
  const int32_t minute = time & 0xFF;
  return Format("%d:%.2d %cm", (hour + 11) % 12 + 1, minute, hour < 12 ? 'a' : 'p');
}

std::string EventDescriptor::TimeString(uint16_t start, uint16_t end) {
  if (start == kUntimed) return "untimed";
  return Format("%s - %s", TimeString(start).c_str(), TimeString(end).c_str());
}

std::string EventDescriptor::DateString(uint16_t date) {
  if (date == kNoEndDate) return "forever";
  const DateType_s d = PalmDateType(date);
  return Format("%d/%d/%d", d.month, d.day, d.year + 1904);
}

std::string EventDescriptor::DateString(uint16_t date, uint16_t start, uint16_t end) {
  return Format("%s at %s", DateString(date).c_str(), TimeString(start, end).c_str());
}

std::time_t EventDescriptor::YMDToCTime(int32_t date) {
  const DateType_s d = PalmDateType(date);
  std::tm local{};
  local.tm_year = d.year + 1904 - 1900;
  local.tm_mon = d.month - 1;
  local.tm_mday = d.day;
  local.tm_hour = 12;
  local.tm_isdst = -1;
  return std::mktime(&local);
}

}  // namespace brontel
