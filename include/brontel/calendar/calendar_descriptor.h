// CalendarDescriptor: the user-visible properties of one calendar.
//
// A handle (shared holder) with the calendar's name, colour, description,
// initials, the hide-details, owned, read-only and shared flags, and two local
// display settings (selected-desktop flag and ordinal) that comparisons and the
// hash can leave out. Bit 24 of the colour word marks the user's default
// calendar. Every operation requires a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"

namespace brontel {

class CalendarDescriptorHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Quick form: name (string), colour word (DWORD), description (string), hide
  // details, owned, read-only and shared flags ('+'/'-'), selected-desktop flag
  // and ordinal (DWORD; read when version >= 3), initials (string; read when
  // version >= 12). Fields that are not read keep their values.
  void SerializeFields(Archive& ar, uint32_t version);
  void Serialize(Archive& ar) override { SerializeFields(ar, ar.GetObjectSchema()); }

  std::string m_calendarName;
  uint32_t m_colorWord = 0;
  std::string m_description;
  bool m_hideDetailsFlag = false;
  bool m_ownedFlag = true;
  bool m_readOnlyFlag = false;
  bool m_sharedFlag = false;
  bool m_selectedDesktopFlag = false;
  uint32_t m_ordinal = 0;
  std::string m_initials;
};

class CalendarDescriptor : public Handle<CalendarDescriptorHolder> {
 public:
  // Bits of the colour word that hold the colour; bit 24 marks the default
  // calendar.
  static constexpr uint32_t kColorMask = 0x00FFFFFF;
  static constexpr uint32_t kDefaultCalendarBit = 0x01000000;

  CalendarDescriptor();
  static CalendarDescriptor CreateEmpty() { return CalendarDescriptor(); }

  const std::string& GetCalendarName() const { return Live()->m_calendarName; }
  void SetCalendarName(const std::string& v) { Live()->m_calendarName = v; }
  const std::string& GetDescription() const { return Live()->m_description; }
  void SetDescription(const std::string& v) { Live()->m_description = v; }
  const std::string& GetInitials() const { return Live()->m_initials; }
  void SetInitials(const std::string& v) { Live()->m_initials = v; }
  // The colour: bits 0..23 of the colour word, never the default-calendar bit.
  uint32_t GetColor() const { return Live()->m_colorWord & kColorMask; }
  // Replaces bits 0..23 of the colour word; bits 24..31 stay as they are.
  void SetColor(uint32_t color);
  uint32_t GetOrdinal() const { return Live()->m_ordinal; }
  void SetOrdinal(uint32_t v) { Live()->m_ordinal = v; }
  bool GetHideDetailsFlag() const { return Live()->m_hideDetailsFlag; }
  void SetHideDetailsFlag(bool v) { Live()->m_hideDetailsFlag = v; }
  bool GetOwnedFlag() const { return Live()->m_ownedFlag; }
  void SetOwnedFlag(bool v) { Live()->m_ownedFlag = v; }
  bool GetReadOnlyFlag() const { return Live()->m_readOnlyFlag; }
  void SetReadOnlyFlag(bool v) { Live()->m_readOnlyFlag = v; }
  bool GetSharedFlag() const { return Live()->m_sharedFlag; }
  void SetSharedFlag(bool v) { Live()->m_sharedFlag = v; }
  bool GetSelectedDesktopFlag() const { return Live()->m_selectedDesktopFlag; }
  void SetSelectedDesktopFlag(bool v) { Live()->m_selectedDesktopFlag = v; }

  // Sets or clears bit 24 of the colour word.
  void SetDefaultCalendar(bool isDefault);
  // Owned and bit 24 of the colour word set.
  bool IsDefaultCalendar() const;
  // Read-only flag set on a calendar the user does not own.
  bool IsReadOnly() const;
  // Hide-details flag set on a calendar the user does not own.
  bool IsHidden() const;

  // Name, whole colour word, description and the hide-details, owned,
  // read-only and shared flags are equal; unless skipLocal, also the
  // selected-desktop flag and the ordinal. Initials are not compared.
  bool Equal(const CalendarDescriptor& other, bool skipLocal) const;
  // Copies name, colour word, description, the four flags and the initials;
  // unless skipLocal, also the selected-desktop flag and the ordinal.
  void Copy(const CalendarDescriptor& other, bool skipLocal);
  CalendarDescriptor Clone() const;

  // Called on the descriptor of the reference copy (as of the last
  // synchronization): a new descriptor that takes, group by group, the value on
  // which reference1 and reference2 agree (reference1's), else this one's. The
  // groups are name, colour word, description, the four flags hide-details,
  // owned, read-only and shared together, selected-desktop flag, ordinal and
  // initials.
  CalendarDescriptor Blend(const CalendarDescriptor& reference1,
                           const CalendarDescriptor& reference2) const;

  // Hasher fed AddFlag(true), name, whole colour word, description and the
  // hide-details, owned, read-only and shared flags; the local settings and the
  // initials do not enter it.
  uint32_t CalculateHash() const;

  // Storing always writes the current quick form. Loading reads the quick form
  // of format version `version` into this holder, or, for versions 1 and
  // 0xFFFFFFFF, a whole "CalendarDescriptorHolder" object record whose holder
  // this handle then shares.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "\"%s\" %s %s/%.8x/" with name, description, the flags as "{OSRH}" (owned,
  // shared, read-only, hide details; only those set) and the whole colour word.
  std::string GetDisplayString() const;
};

}  // namespace brontel
