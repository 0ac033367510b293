#include "brontel/contacts/category_descriptor.h"

#include <utility>

#include "brontel/core/hasher.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CategoryDescriptorHolder, "CategoryDescriptorHolder");

void CategoryDescriptorHolder::SerializeFields(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteString(m_categoryName);
    ar.WriteString(m_description);
    ar.WriteDword(m_color);
    ar.WriteFlag(m_ownedFlag);
    ar.WriteFlag(m_readOnlyFlag);
    ar.WriteFlag(m_sharedFlag);
    return;
  }
  // Everything is read before the holder changes, so a short input leaves the
  // descriptor as it was.
  std::string name = ar.ReadString();
  std::string description = ar.ReadString();
  const uint32_t color = ar.ReadDword();
  const bool owned = ar.ReadFlag();
  const bool readOnly = ar.ReadFlag();
  const bool shared = ar.ReadFlag();
  m_categoryName = std::move(name);
  m_description = std::move(description);
  m_color = color;
  m_ownedFlag = owned;
  m_readOnlyFlag = readOnly;
  m_sharedFlag = shared;
}

CategoryDescriptor::CategoryDescriptor() : Handle(new CategoryDescriptorHolder()) {}

bool CategoryDescriptor::IsReadOnly() const {
  const CategoryDescriptorHolder* h = Live();
  return h->m_readOnlyFlag && !h->m_ownedFlag;
}

bool CategoryDescriptor::Equal(const CategoryDescriptor& other) const {
  const CategoryDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const CategoryDescriptorHolder* b = other.m_holder;
  return a->m_categoryName == b->m_categoryName && a->m_description == b->m_description &&
         a->m_color == b->m_color && a->m_ownedFlag == b->m_ownedFlag &&
         a->m_readOnlyFlag == b->m_readOnlyFlag && a->m_sharedFlag == b->m_sharedFlag;
}

void CategoryDescriptor::Copy(const CategoryDescriptor& other) {
  CategoryDescriptorHolder* a = Live();
  RequireLiveOther(other);
  const CategoryDescriptorHolder* b = other.m_holder;
  if (a == b) return;
  a->m_categoryName = b->m_categoryName;
  a->m_description = b->m_description;
  a->m_color = b->m_color;
  a->m_ownedFlag = b->m_ownedFlag;
  a->m_readOnlyFlag = b->m_readOnlyFlag;
  a->m_sharedFlag = b->m_sharedFlag;
}

CategoryDescriptor CategoryDescriptor::Clone() const {
  CategoryDescriptor copy;
  copy.Copy(*this);
  return copy;
}

uint32_t CategoryDescriptor::CalculateHash() const {
  const CategoryDescriptorHolder* h = Live();
  Hasher hasher;
  hasher.AddFlag(true);
  hasher.AddString(h->m_categoryName);
  hasher.AddString(h->m_description);
  hasher.AddUINT32(h->m_color);
  hasher.AddFlag(h->m_ownedFlag);
  hasher.AddFlag(h->m_readOnlyFlag);
  hasher.AddFlag(h->m_sharedFlag);
  return hasher.GetHash();
}

namespace {

// The counter character that follows c; "1" after "F" and after anything that
// is not a counter character.
char NextCounter(char c) {
  static const char kCounters[] = "123456789ABCDEF";
  for (int i = 0; i < 14; ++i) {
    if (kCounters[i] == c) return kCounters[i + 1];
  }
  return '1';
}

}  // namespace

void CategoryDescriptor::CoerceName() {
  std::string name = Live()->m_categoryName.substr(0, kMaxNameLength);
  size_t n = name.size();
  if (!(n >= 2 && name[n - 2] == '*')) {
    for (int i = 0; i < 2 && n < kMaxNameLength; ++i, ++n) name += '*';
  }
  const char counter = NextCounter(name[n - 1]);
  name[n - 2] = '*';
  name[n - 1] = counter;
  Live()->m_categoryName = name;
}

void CategoryDescriptor::SerializeQuick(Archive& ar, uint32_t) {
  Live()->SerializeFields(ar);
}

std::string CategoryDescriptor::GetDisplayString() const {
  const CategoryDescriptorHolder* h = Live();
  std::string flags = "{";
  if (h->m_ownedFlag) flags += 'O';
  if (h->m_sharedFlag) flags += 'S';
  if (h->m_readOnlyFlag) flags += 'R';
  flags += '}';
  return Format("\"%s\" %s %s/%.8x/", h->m_categoryName.c_str(), h->m_description.c_str(),
                flags.c_str(), h->m_color);
}

}  // namespace brontel
