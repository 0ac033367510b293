#include "brontel/calendar/calendar_event_descriptor.h"

#include "brontel/core/hasher.h"
#include "brontel/core/record_identification.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarEventDescriptorHolder, "CalendarEventDescriptorHolder");

void CalendarEventDescriptorHolder::SerializeFields(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteFlag(m_alarmFlag);
    ar.WriteByte(m_alarmAdvanceTime);
    ar.WriteByte(m_alarmAdvanceUnit);
    return;
  }
  // All three bytes are read before the holder changes, so a short input leaves
  // the alarm as it was.
  const bool alarmFlag = ar.ReadFlag();
  const uint8_t advanceTime = ar.ReadByte();
  const uint8_t advanceUnit = ar.ReadByte();
  m_alarmFlag = alarmFlag;
  m_alarmAdvanceTime = advanceTime;
  m_alarmAdvanceUnit = advanceUnit;
}

CalendarEventDescriptor::CalendarEventDescriptor() : Handle(new CalendarEventDescriptorHolder()) {}

bool CalendarEventDescriptor::Equal(const CalendarEventDescriptor& other) const {
  const CalendarEventDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const CalendarEventDescriptorHolder* b = other.m_holder;
  return a->m_alarmAdvanceTime == b->m_alarmAdvanceTime &&
         a->m_alarmAdvanceUnit == b->m_alarmAdvanceUnit && a->m_alarmFlag == b->m_alarmFlag;
}

void CalendarEventDescriptor::Copy(const CalendarEventDescriptor& other) {
  CalendarEventDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const CalendarEventDescriptorHolder* b = other.m_holder;
  a->m_alarmAdvanceTime = b->m_alarmAdvanceTime;
  a->m_alarmAdvanceUnit = b->m_alarmAdvanceUnit;
  a->m_alarmFlag = b->m_alarmFlag;
}

CalendarEventDescriptor CalendarEventDescriptor::Clone() const {
  CalendarEventDescriptor copy;
  copy.Copy(*this);
  return copy;
}

uint32_t CalendarEventDescriptor::CalculateHash() const {
  const CalendarEventDescriptorHolder* h = Live();
  Hasher hasher;
  hasher.AddFlag(true);
  hasher.AddByte(h->m_alarmAdvanceTime);
  hasher.AddByte(h->m_alarmAdvanceUnit);
  hasher.AddFlag(h->m_alarmFlag);
  return hasher.GetHash();
}

void CalendarEventDescriptor::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsLoading() && IsObjectFormVersion(version)) {
    LoadHolderObject(ar, false);
    return;
  }
  Live()->SerializeFields(ar);
}

std::string CalendarEventDescriptor::GetDisplayString() const {
  const CalendarEventDescriptorHolder* h = Live();
  if (!h->m_alarmFlag) return std::string();
  return Format("alarm %d %d", h->m_alarmAdvanceTime, h->m_alarmAdvanceUnit);
}

}  // namespace brontel
