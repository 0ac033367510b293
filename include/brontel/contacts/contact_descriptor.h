// ContactDescriptor: the user data of one address-book entry.
//
// A handle (shared holder) with the 19 text fields of a handheld address record
// (datums; 18 last name, 17 first name, 16 company, 15 to 11 phones 1 to 5),
// its field-presence flags, the phone-label option word, the company offset
// byte and the private attribute. Only the low 19 bits of the flags and, for
// phones that hold a number, their label nibbles take part in comparisons.
// Every operation requires a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"
#include "brontel/platform/tree_view.h"

namespace brontel {

class ContactDescriptorHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  static constexpr int32_t kDatumCount = 19;

  // Quick form: the 19 datums (strings, index order), flags (DWORD), private
  // flag ('+'/'-'), offset (BYTE), options (DWORD). The form does not depend on
  // the version.
  void SerializeFields(Archive& ar);
  void Serialize(Archive& ar) override { SerializeFields(ar); }

  std::string m_datums[kDatumCount];
  uint32_t m_flags = 0;
  bool m_isPrivate = false;
  uint8_t m_offset = 0;
  uint32_t m_options = 0;
};

class ContactDescriptor : public Handle<ContactDescriptorHolder> {
 public:
  static constexpr int32_t numDatums = ContactDescriptorHolder::kDatumCount;
  // Datums the library itself reads.
  static constexpr int32_t kLastName = 18;
  static constexpr int32_t kFirstName = 17;
  static constexpr int32_t kCompany = 16;
  // Phone k (0 to 4) is datum kFirstPhone - k; its label is nibble k of the
  // options, and nibble 5 selects the phone shown in lists.
  static constexpr int32_t kFirstPhone = 15;
  // The flag bits and option bits that carry meaning.
  static constexpr uint32_t kFlagsMask = 0x7FFFF;
  static constexpr uint32_t kOptionsMask = 0xFFFFFF;

  ContactDescriptor();
  static ContactDescriptor CreateEmpty() { return ContactDescriptor(); }

  // REQUIRES: 0 <= index < numDatums.
  const std::string& GetDatum(int32_t index) const;
  void SetDatum(int32_t index, const std::string& value);
  uint32_t GetFlags() const { return Live()->m_flags; }
  void SetFlags(uint32_t v) { Live()->m_flags = v; }
  uint32_t GetOptions() const { return Live()->m_options; }
  void SetOptions(uint32_t v) { Live()->m_options = v; }
  uint8_t GetOffset() const { return Live()->m_offset; }
  void SetOffset(uint8_t v) { Live()->m_offset = v; }
  bool GetIsPrivate() const { return Live()->m_isPrivate; }
  void SetIsPrivate(bool v) { Live()->m_isPrivate = v; }

  // All datums equal, flags equal under kFlagsMask, private flags and offsets
  // equal, and the options equal on the label nibbles of the phones that hold
  // a number (plus the display-phone nibble when any does).
  bool Equal(const ContactDescriptor& other) const;
  // Copies every field of other into this holder.
  void Copy(const ContactDescriptor& other);
  ContactDescriptor Clone() const;

  // Hasher fed AddFlag(true), datums 0 to 18, flags & kFlagsMask, the private
  // flag, the offset byte and options & kOptionsMask.
  uint32_t CalculateHash() const;

  // Stores or loads the quick form into this holder.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "%s, %s" with last and first name.
  std::string GetDisplayString() const;
  // One item per non-empty datum under parent; returns parent.
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const;

 private:
  // The option bits that matter: for each phone that holds a number, its own
  // label nibble and the display-phone nibble.
  uint32_t optionMask() const;
};

}  // namespace brontel
