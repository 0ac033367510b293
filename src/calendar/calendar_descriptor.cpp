#include "brontel/calendar/calendar_descriptor.h"

#include <utility>

#include "brontel/core/hasher.h"
#include "brontel/core/record_identification.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarDescriptorHolder, "CalendarDescriptorHolder");

void CalendarDescriptorHolder::SerializeFields(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteString(m_calendarName);
    ar.WriteDword(m_colorWord);
    ar.WriteString(m_description);
    ar.WriteFlag(m_hideDetailsFlag);
    ar.WriteFlag(m_ownedFlag);
    ar.WriteFlag(m_readOnlyFlag);
    ar.WriteFlag(m_sharedFlag);
    ar.WriteFlag(m_selectedDesktopFlag);
    ar.WriteDword(m_ordinal);
    ar.WriteString(m_initials);
    return;
  }
  // Everything is read before the holder changes, so a short input leaves the
  // descriptor as it was.
  const bool known = version != Archive::kNoSchema;
  std::string name = ar.ReadString();
  const uint32_t colorWord = ar.ReadDword();
  std::string description = ar.ReadString();
  const bool hideDetails = ar.ReadFlag();
  const bool owned = ar.ReadFlag();
  const bool readOnly = ar.ReadFlag();
  const bool shared = ar.ReadFlag();
  bool selectedDesktop = m_selectedDesktopFlag;
  uint32_t ordinal = m_ordinal;
  if (known && version >= 3) {
    selectedDesktop = ar.ReadFlag();
    ordinal = ar.ReadDword();
  }
  std::string initials = known && version >= 12 ? ar.ReadString() : m_initials;

  m_calendarName = std::move(name);
  m_colorWord = colorWord;
  m_description = std::move(description);
  m_hideDetailsFlag = hideDetails;
  m_ownedFlag = owned;
  m_readOnlyFlag = readOnly;
  m_sharedFlag = shared;
  m_selectedDesktopFlag = selectedDesktop;
  m_ordinal = ordinal;
  m_initials = std::move(initials);
}

CalendarDescriptor::CalendarDescriptor() : Handle(new CalendarDescriptorHolder()) {}

void CalendarDescriptor::SetColor(uint32_t color) {
  CalendarDescriptorHolder* h = Live();
  h->m_colorWord = (h->m_colorWord & ~kColorMask) | (color & kColorMask);
}

void CalendarDescriptor::SetDefaultCalendar(bool isDefault) {
  CalendarDescriptorHolder* h = Live();
  h->m_colorWord =
      isDefault ? (h->m_colorWord | kDefaultCalendarBit) : (h->m_colorWord & ~kDefaultCalendarBit);
}

bool CalendarDescriptor::IsDefaultCalendar() const {
  const CalendarDescriptorHolder* h = Live();
  return h->m_ownedFlag && (h->m_colorWord & kDefaultCalendarBit) != 0;
}

bool CalendarDescriptor::IsReadOnly() const {
  const CalendarDescriptorHolder* h = Live();
  return h->m_readOnlyFlag && !h->m_ownedFlag;
}

bool CalendarDescriptor::IsHidden() const {
  const CalendarDescriptorHolder* h = Live();
  return h->m_hideDetailsFlag && !h->m_ownedFlag;
}

bool CalendarDescriptor::Equal(const CalendarDescriptor& other, bool skipLocal) const {
  const CalendarDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const CalendarDescriptorHolder* b = other.m_holder;
  if (a->m_calendarName != b->m_calendarName || a->m_colorWord != b->m_colorWord ||
      a->m_description != b->m_description || a->m_hideDetailsFlag != b->m_hideDetailsFlag ||
      a->m_ownedFlag != b->m_ownedFlag || a->m_readOnlyFlag != b->m_readOnlyFlag ||
      a->m_sharedFlag != b->m_sharedFlag) {
    return false;
  }
  return skipLocal ||
         (a->m_selectedDesktopFlag == b->m_selectedDesktopFlag && a->m_ordinal == b->m_ordinal);
}

void CalendarDescriptor::Copy(const CalendarDescriptor& other, bool skipLocal) {
  CalendarDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const CalendarDescriptorHolder* b = other.m_holder;
  a->m_calendarName = b->m_calendarName;
  a->m_colorWord = b->m_colorWord;
  a->m_description = b->m_description;
  a->m_hideDetailsFlag = b->m_hideDetailsFlag;
  a->m_ownedFlag = b->m_ownedFlag;
  a->m_readOnlyFlag = b->m_readOnlyFlag;
  a->m_sharedFlag = b->m_sharedFlag;
  a->m_initials = b->m_initials;
  if (!skipLocal) {
    a->m_selectedDesktopFlag = b->m_selectedDesktopFlag;
    a->m_ordinal = b->m_ordinal;
  }
}

CalendarDescriptor CalendarDescriptor::Clone() const {
  CalendarDescriptor copy;
  copy.Copy(*this, false);
  return copy;
}

namespace {

// The value both references agree on, else the reference copy's own.
template <class T>
const T& Agreed(const T& mine, const T& first, const T& second) {
  return first == second ? first : mine;
}

}  // namespace

CalendarDescriptor CalendarDescriptor::Blend(const CalendarDescriptor& reference1,
                                             const CalendarDescriptor& reference2) const {
  const CalendarDescriptorHolder* mine = Live();
  RequireLiveOther(reference1);
  RequireLiveOther(reference2);
  const CalendarDescriptorHolder* r1 = reference1.m_holder;
  const CalendarDescriptorHolder* r2 = reference2.m_holder;

  CalendarDescriptor result;
  CalendarDescriptorHolder* out = result.m_holder;
  out->m_calendarName = Agreed(mine->m_calendarName, r1->m_calendarName, r2->m_calendarName);
  out->m_colorWord = Agreed(mine->m_colorWord, r1->m_colorWord, r2->m_colorWord);
  out->m_description = Agreed(mine->m_description, r1->m_description, r2->m_description);
  // The four sharing flags depend on each other, so they change only together.
  const bool flagsAgree =
      r1->m_hideDetailsFlag == r2->m_hideDetailsFlag && r1->m_ownedFlag == r2->m_ownedFlag &&
      r1->m_readOnlyFlag == r2->m_readOnlyFlag && r1->m_sharedFlag == r2->m_sharedFlag;
  const CalendarDescriptorHolder* flags = flagsAgree ? r1 : mine;
  out->m_hideDetailsFlag = flags->m_hideDetailsFlag;
  out->m_ownedFlag = flags->m_ownedFlag;
  out->m_readOnlyFlag = flags->m_readOnlyFlag;
  out->m_sharedFlag = flags->m_sharedFlag;
  out->m_selectedDesktopFlag =
      Agreed(mine->m_selectedDesktopFlag, r1->m_selectedDesktopFlag, r2->m_selectedDesktopFlag);
  out->m_ordinal = Agreed(mine->m_ordinal, r1->m_ordinal, r2->m_ordinal);
  out->m_initials = Agreed(mine->m_initials, r1->m_initials, r2->m_initials);
  return result;
}

uint32_t CalendarDescriptor::CalculateHash() const {
  const CalendarDescriptorHolder* h = Live();
  Hasher hasher;
  hasher.AddFlag(true);
  hasher.AddString(h->m_calendarName);
  hasher.AddUINT32(h->m_colorWord);
  hasher.AddString(h->m_description);
  hasher.AddFlag(h->m_hideDetailsFlag);
  hasher.AddFlag(h->m_ownedFlag);
  hasher.AddFlag(h->m_readOnlyFlag);
  hasher.AddFlag(h->m_sharedFlag);
  return hasher.GetHash();
}

void CalendarDescriptor::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsLoading() && IsObjectFormVersion(version)) {
    LoadHolderObject(ar, false);
    return;
  }
  Live()->SerializeFields(ar, version);
}

std::string CalendarDescriptor::GetDisplayString() const {
  const CalendarDescriptorHolder* h = Live();
  std::string flags = "{";
  if (h->m_ownedFlag) flags += 'O';
  if (h->m_sharedFlag) flags += 'S';
  if (h->m_readOnlyFlag) flags += 'R';
  if (h->m_hideDetailsFlag) flags += 'H';
  flags += '}';
  return Format("\"%s\" %s %s/%.8x/", h->m_calendarName.c_str(), h->m_description.c_str(),
                flags.c_str(), h->m_colorWord);
}

}  // namespace brontel
