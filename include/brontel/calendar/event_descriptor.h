// EventDescriptor: the data of one calendar event as the user sees it.
//
// A handle (shared holder) with the name, note, packed date, start and end
// time, alarm, privacy, repeat rule with its ascending list of exception dates,
// and the attached web content; it answers whether the event occurs on a date.
// Every operation requires a live holder, except IsOnDate and IsBogus, which
// answer false without one.
//
// Encodings: a packed date is (year - 1904) << 9 | month << 5 | day and orders
// as a plain integer (0xFFFF as repeat end date: no end); a time is
// hour << 8 | minute, and a start time of 0xFFFF marks an untimed event.
// Repeat types: 0 none, 1 daily, 2 weekly, 3 monthly by day, 4 monthly by
// date, 5 yearly. Repeat-on: weekly, a weekday bit set (bit 0 = Sunday);
// monthly by day, week * 7 + weekday, where 28..34 mean the last Sunday ..
// Saturday of the month. Alarm advance unit: 0 minutes, 1 hours, 2 days.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "brontel/core/handle.h"
#include "brontel/host/web_content.h"

namespace brontel {

class EventDescriptorHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Stored form, in this order: alarm flag ('+'/'-'), alarm advance time,
  // alarm advance unit (bytes), end time (WORD), private flag, name, note
  // (archive strings), repeat end date, exception count n (WORDs), repeat
  // frequency, repeat on, start of week, repeat type (bytes), start time, date
  // (WORDs), n exception dates (WORDs), then the web content's own stored form
  // with the same version. Reading checks n against the bytes left and keeps
  // the dates in ascending order whatever order they were stored in.
  void SerializeFields(Archive& ar, uint32_t version);
  void Serialize(Archive& ar) override { SerializeFields(ar, ar.GetObjectSchema()); }

  // Sets the number of exception dates. The array holds room for the count
  // rounded up to a multiple of 8 and is reallocated only when that rounded
  // capacity changes (0 frees it); the first min(old, n) dates are kept.
  void SetRepeatExceptionCount(uint16_t n);
  // Appends date and moves it towards the front while it is smaller than its
  // predecessor (equal dates keep their order). A date beyond the 16-bit count
  // limit is dropped.
  void AddException(uint16_t date);

  uint8_t m_alarmAdvanceTime = 255;
  uint8_t m_alarmAdvanceUnit = 0;
  bool m_alarmFlag = false;
  uint16_t m_endTime = 0;
  // Its size is the allocated capacity; the first m_repeatExceptionCount
  // entries are the dates, in ascending order.
  std::vector<uint16_t> m_repeatExceptions;
  bool m_isPrivate = false;
  std::string m_name;
  std::string m_note;
  uint16_t m_repeatEndYearMonthDate = 0;
  uint16_t m_repeatExceptionCount = 0;
  uint8_t m_repeatFrequency = 0;
  uint8_t m_repeatStartOfWeek = 0;
  uint8_t m_repeatOn = 0;
  uint8_t m_repeatType = 0;
  uint16_t m_startTime = 0;
  WebContent m_webContent;
  uint16_t m_yearMonthDate = 0;

 private:
  // Moves the entry at index towards the front while it is smaller than its
  // predecessor: one insertion-sort step.
  void SiftTowardsFront(uint16_t index);
};

class EventDescriptor : public Handle<EventDescriptorHolder> {
 public:
  static constexpr uint16_t kUntimed = 0xFFFF;
  static constexpr uint16_t kNoEndDate = 0xFFFF;
  enum RepeatType : uint8_t {
    kRepeatNone = 0,
    kRepeatDaily = 1,
    kRepeatWeekly = 2,
    kRepeatMonthlyByDay = 3,
    kRepeatMonthlyByDate = 4,
    kRepeatYearly = 5,
  };

  EventDescriptor();
  static EventDescriptor CreateEmpty() { return EventDescriptor(); }

  const std::string& GetName() const { return Live()->m_name; }
  void SetName(const std::string& v) { Live()->m_name = v; }
  const std::string& GetNote() const { return Live()->m_note; }
  void SetNote(const std::string& v) { Live()->m_note = v; }
  uint16_t GetYearMonthDate() const { return Live()->m_yearMonthDate; }
  void SetYearMonthDate(uint16_t v) { Live()->m_yearMonthDate = v; }
  uint16_t GetStartTime() const { return Live()->m_startTime; }
  void SetStartTime(uint16_t v) { Live()->m_startTime = v; }
  uint16_t GetEndTime() const { return Live()->m_endTime; }
  void SetEndTime(uint16_t v) { Live()->m_endTime = v; }
  bool GetAlarmFlag() const { return Live()->m_alarmFlag; }
  void SetAlarmFlag(bool v) { Live()->m_alarmFlag = v; }
  uint8_t GetAlarmAdvanceTime() const { return Live()->m_alarmAdvanceTime; }
  void SetAlarmAdvanceTime(uint8_t v) { Live()->m_alarmAdvanceTime = v; }
  uint8_t GetAlarmAdvanceUnit() const { return Live()->m_alarmAdvanceUnit; }
  void SetAlarmAdvanceUnit(uint8_t v) { Live()->m_alarmAdvanceUnit = v; }
  bool GetIsPrivate() const { return Live()->m_isPrivate; }
  void SetIsPrivate(bool v) { Live()->m_isPrivate = v; }
  uint8_t GetRepeatType() const { return Live()->m_repeatType; }
  void SetRepeatType(uint8_t v) { Live()->m_repeatType = v; }
  uint8_t GetRepeatFrequency() const { return Live()->m_repeatFrequency; }
  void SetRepeatFrequency(uint8_t v) { Live()->m_repeatFrequency = v; }
  uint8_t GetRepeatOn() const { return Live()->m_repeatOn; }
  void SetRepeatOn(uint8_t v) { Live()->m_repeatOn = v; }
  uint8_t GetRepeatStartOfWeek() const { return Live()->m_repeatStartOfWeek; }
  void SetRepeatStartOfWeek(uint8_t v) { Live()->m_repeatStartOfWeek = v; }
  uint16_t GetRepeatEndYearMonthDate() const { return Live()->m_repeatEndYearMonthDate; }
  void SetRepeatEndYearMonthDate(uint16_t v) { Live()->m_repeatEndYearMonthDate = v; }
  uint16_t GetRepeatExceptionCount() const { return Live()->m_repeatExceptionCount; }
  // Room allocated for exception dates (a multiple of 8; 65536 for the largest
  // count, hence 32 bits); for checks and tests.
  uint32_t GetExceptionCapacity() const {
    return static_cast<uint32_t>(Live()->m_repeatExceptions.size());
  }

  // The descriptor's own web content; writes through it change this event.
  WebContent& GetWebContent() { return Live()->m_webContent; }
  const WebContent& GetWebContent() const { return Live()->m_webContent; }
  // The web content's use-me flag.
  uint8_t GetUseMe() const { return Live()->m_webContent.UseMe(); }
  void SetUseMe(uint8_t v) { Live()->m_webContent.SetUseMe(v); }
  void ClearUseMe() { Live()->m_webContent.SetUseMe(0); }

  // Inserts date among the exception dates, keeping them ascending; a date
  // already present is added again.
  void AddExceptionYearMonthDate(uint16_t date);
  // Sets the exception count to 0 (and frees the array).
  void ClearExceptions();
  // REQUIRES: 0 <= index < GetRepeatExceptionCount().
  uint16_t GetExceptionYearMonthDate(int32_t index) const;

  // True when the event occurs on the local date of t: on its own date when it
  // does not repeat, else by its repeat rule from its date up to the repeat end
  // date, except on its exception dates. A repeating event with frequency 0,
  // or an unknown repeat type, never occurs. False for a null handle.
  bool IsOnDate(std::time_t t) const;
  // True when the event may occur between the packed dates from and to
  // (inclusive): a non-repeating event when from <= date <= to; a repeating one
  // when its repeat span meets the range and the exception dates do not fill
  // it, counted as the difference of packed values rather than in days.
  bool IsInDateRange(uint16_t from, uint16_t to) const;
  // True for a descriptor dated on or before 31 December 1970 (packed 0x859F)
  // whose name is empty or a single blank. False for a null handle.
  bool IsBogus() const;

  // Equal privacy, name, note, start time, date, alarm flag, repeat type and
  // web content; then only what matters for the event's kind: the end time
  // when timed, the alarm advance when the alarm is set, and for a repeating
  // event the exceptions, end date, frequency, and the repeat-on value (and,
  // weekly, the start of week) where the repeat type uses it.
  // REQUIRES: both handles live.
  bool Equal(const EventDescriptor& other) const;
  // Hasher checksum of the fields that identify the data; the alarm does not
  // enter it, nor the end time of an untimed event, nor the exceptions of a
  // non-repeating one.
  uint32_t CalculateHash() const;

  // Copies every field into this holder; the exception dates only when other
  // repeats (else the list becomes empty). The web content is copied by value.
  // REQUIRES: both handles live.
  void Copy(const EventDescriptor& other);
  // A new holder with a copy of the contents.
  EventDescriptor Clone() const;

  // Storing always writes the quick form (see EventDescriptorHolder). Loading
  // reads the quick form in place, or, for versions 1 and 0xFFFFFFFF, a whole
  // "EventDescriptorHolder" object record whose holder this handle then shares.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "\"<name>\" <date and times><marker> <note>", where the marker is
  // " (private)" for a private event followed by "(bogus)" for a bogus one.
  std::string GetDisplayString() const;
  // DateString(date, start time, end time).
  std::string GetDisplayStringTime() const;
  // Empty without alarm, else "alarm (<n> minute|hour|day[s])".
  std::string GetDisplayStringAlarm() const;
  // Empty when not repeating, else "repeat <kind> every <f> until <end>"
  // followed by " except <date> <date>..." when there are exceptions.
  std::string GetDisplayStringRepeat() const;

  // "untimed" for 0xFFFF, else "h:mm am" or "h:mm pm" on a 12-hour clock.
  static std::string TimeString(uint16_t time);
  // "untimed" for an untimed start, else "<start> - <end>".
  static std::string TimeString(uint16_t start, uint16_t end);
  // "forever" for 0xFFFF, else "month/day/year" with the full year.
  static std::string DateString(uint16_t date);
  // "<date> at <time range>".
  static std::string DateString(uint16_t date, uint16_t start, uint16_t end);
  // The local time at 12:00:00 on the packed date (daylight saving decided by
  // the platform).
  static std::time_t YMDToCTime(int32_t date);

 private:
  explicit EventDescriptor(EventDescriptorHolder* adopted) : Handle(adopted) {}

  // REQUIRES: live handle.
  void SetRepeatExceptionCount(uint16_t n);
  // REQUIRES: 0 <= index < GetRepeatExceptionCount().
  void SetExceptionYearMonthDate(int32_t index, uint16_t date);
};

}  // namespace brontel
