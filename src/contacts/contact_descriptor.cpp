#include "brontel/contacts/contact_descriptor.h"

#include <utility>

#include "brontel/core/hasher.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(ContactDescriptorHolder, "ContactDescriptorHolder");

void ContactDescriptorHolder::SerializeFields(Archive& ar) {
  if (ar.IsStoring()) {
    for (const std::string& datum : m_datums) ar.WriteString(datum);
    ar.WriteDword(m_flags);
    ar.WriteFlag(m_isPrivate);
    ar.WriteByte(m_offset);
    ar.WriteDword(m_options);
    return;
  }
  // Everything is read before the holder changes, so a short input leaves the
  // descriptor as it was.
  std::string datums[kDatumCount];
  for (std::string& datum : datums) datum = ar.ReadString();
  const uint32_t flags = ar.ReadDword();
  const bool isPrivate = ar.ReadFlag();
  const uint8_t offset = ar.ReadByte();
  const uint32_t options = ar.ReadDword();
  for (int32_t i = 0; i < kDatumCount; ++i) m_datums[i] = std::move(datums[i]);
  m_flags = flags;
  m_isPrivate = isPrivate;
  m_offset = offset;
  m_options = options;
}

ContactDescriptor::ContactDescriptor() : Handle(new ContactDescriptorHolder()) {}

const std::string& ContactDescriptor::GetDatum(int32_t index) const {
  BRONTEL_REQUIRE(index >= 0 && index < numDatums, "index >= 0 && index < numDatums");
  return Live()->m_datums[index];
}

void ContactDescriptor::SetDatum(int32_t index, const std::string& value) {
  BRONTEL_REQUIRE(index >= 0 && index < numDatums, "index >= 0 && index < numDatums");
  Live()->m_datums[index] = value;
}

uint32_t ContactDescriptor::optionMask() const {
  // Phone k (datum 15 - k) contributes its label nibble k and the nibble that
  // selects the phone shown in lists.
  static const uint32_t kPhoneMasks[5] = {0xF0000F, 0xF000F0, 0xF00F00, 0xF0F000, 0xFF0000};
  const ContactDescriptorHolder* h = Live();
  uint32_t mask = 0;
  for (int32_t k = 0; k < 5; ++k) {
    if (!h->m_datums[kFirstPhone - k].empty()) mask |= kPhoneMasks[k];
  }
  return mask;
}

bool ContactDescriptor::Equal(const ContactDescriptor& other) const {
  const ContactDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const ContactDescriptorHolder* b = other.m_holder;
  for (int32_t i = 0; i < numDatums; ++i) {
    if (a->m_datums[i] != b->m_datums[i]) return false;
  }
  return (a->m_flags & kFlagsMask) == (b->m_flags & kFlagsMask) &&
         a->m_isPrivate == b->m_isPrivate && a->m_offset == b->m_offset &&
         (a->m_options & optionMask()) == (b->m_options & other.optionMask());
}

void ContactDescriptor::Copy(const ContactDescriptor& other) {
  ContactDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const ContactDescriptorHolder* b = other.m_holder;
  if (a == b) return;
  for (int32_t i = 0; i < numDatums; ++i) a->m_datums[i] = b->m_datums[i];
  a->m_flags = b->m_flags;
  a->m_isPrivate = b->m_isPrivate;
  a->m_offset = b->m_offset;
  a->m_options = b->m_options;
}

ContactDescriptor ContactDescriptor::Clone() const {
  ContactDescriptor copy;
  copy.Copy(*this);
  return copy;
}

uint32_t ContactDescriptor::CalculateHash() const {
  const ContactDescriptorHolder* h = Live();
  Hasher hasher;
  hasher.AddFlag(true);
  for (const std::string& datum : h->m_datums) hasher.AddString(datum);
  hasher.AddUINT32(h->m_flags & kFlagsMask);
  hasher.AddFlag(h->m_isPrivate);
  hasher.AddByte(h->m_offset);
  hasher.AddUINT32(h->m_options & kOptionsMask);
  return hasher.GetHash();
}

void ContactDescriptor::SerializeQuick(Archive& ar, uint32_t) {
  Live()->SerializeFields(ar);
}

std::string ContactDescriptor::GetDisplayString() const {
  const ContactDescriptorHolder* h = Live();
  return Format("%s, %s", h->m_datums[kLastName].c_str(), h->m_datums[kFirstName].c_str());
}

TreeItem ContactDescriptor::DisplayTree(TreeView& tree, TreeItem parent) const {
  const ContactDescriptorHolder* h = Live();
  for (int32_t i = 0; i < numDatums; ++i) {
    if (!h->m_datums[i].empty()) {
      tree.InsertItem(Format("datum %d: %s", i, h->m_datums[i].c_str()), parent);
    }
  }
  return parent;
}

}  // namespace brontel
