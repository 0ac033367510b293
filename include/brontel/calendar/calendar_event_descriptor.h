// CalendarEventDescriptor: the alarm of one event in one calendar.
//
// A handle (shared holder) with the alarm flag and how far ahead the alarm
// rings (an advance time in units of minutes, hours or days). Equal compares
// all three fields, also when the alarm is off. Every operation requires a
// live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"

namespace brontel {

class CalendarEventDescriptorHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Quick form (3 bytes, the same for every version): alarm flag ('+'/'-'),
  // advance time, advance unit.
  void SerializeFields(Archive& ar);
  void Serialize(Archive& ar) override { SerializeFields(ar); }

  uint8_t m_alarmAdvanceTime = 0;
  uint8_t m_alarmAdvanceUnit = 0;
  bool m_alarmFlag = false;
};

class CalendarEventDescriptor : public Handle<CalendarEventDescriptorHolder> {
 public:
  // Advance units.
  static constexpr uint8_t kMinutes = 0;
  static constexpr uint8_t kHours = 1;
  static constexpr uint8_t kDays = 2;

  CalendarEventDescriptor();
  static CalendarEventDescriptor CreateEmpty() { return CalendarEventDescriptor(); }

  bool GetAlarmFlag() const { return Live()->m_alarmFlag; }
  void SetAlarmFlag(bool v) { Live()->m_alarmFlag = v; }
  uint8_t GetAlarmAdvanceTime() const { return Live()->m_alarmAdvanceTime; }
  void SetAlarmAdvanceTime(uint8_t v) { Live()->m_alarmAdvanceTime = v; }
  uint8_t GetAlarmAdvanceUnit() const { return Live()->m_alarmAdvanceUnit; }
  void SetAlarmAdvanceUnit(uint8_t v) { Live()->m_alarmAdvanceUnit = v; }

  // Advance time, advance unit and alarm flag are all equal.
  bool Equal(const CalendarEventDescriptor& other) const;
  // Copies all three fields into this holder.
  void Copy(const CalendarEventDescriptor& other);
  CalendarEventDescriptor Clone() const;

  // Hasher fed AddFlag(true), AddByte(advance time), AddByte(advance unit),
  // AddFlag(alarm flag).
  uint32_t CalculateHash() const;

  // Storing always writes the 3-byte quick form. Loading reads it into this
  // holder, or, for versions 1 and 0xFFFFFFFF, a whole
  // "CalendarEventDescriptorHolder" object record whose holder this handle then
  // shares.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "alarm %d %d" with advance time and unit when the alarm is on, else empty.
  std::string GetDisplayString() const;
};

}  // namespace brontel
