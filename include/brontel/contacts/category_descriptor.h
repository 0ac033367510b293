// CategoryDescriptor: the user data of one contact category.
//
// A handle (shared holder) with the category's name, description and colour and
// the owned, read-only and shared flags that say whether the category is the
// user's own ("local"), published to others or subscribed from another user.
// An owner is never read-only, whatever the flag says. Every operation requires
// a live holder.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"

namespace brontel {

class CategoryDescriptorHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // Quick form: name (string), description (string), colour (DWORD), owned,
  // read-only and shared flags ('+'/'-'). The form does not depend on the
  // version.
  void SerializeFields(Archive& ar);
  void Serialize(Archive& ar) override { SerializeFields(ar); }

  std::string m_categoryName;
  uint32_t m_color = 0;
  std::string m_description;
  bool m_ownedFlag = true;
  bool m_readOnlyFlag = false;
  bool m_sharedFlag = false;
};

class CategoryDescriptor : public Handle<CategoryDescriptorHolder> {
 public:
  // The longest name a category keeps after name coercion.
  static constexpr size_t kMaxNameLength = 15;

  CategoryDescriptor();
  static CategoryDescriptor CreateEmpty() { return CategoryDescriptor(); }

  const std::string& GetCategoryName() const { return Live()->m_categoryName; }
  void SetCategoryName(const std::string& v) { Live()->m_categoryName = v; }
  const std::string& GetDescription() const { return Live()->m_description; }
  void SetDescription(const std::string& v) { Live()->m_description = v; }
  // The colour is carried and compared, never interpreted.
  uint32_t GetColor() const { return Live()->m_color; }
  void SetColor(uint32_t v) { Live()->m_color = v; }
  bool GetOwnedFlag() const { return Live()->m_ownedFlag; }
  void SetOwnedFlag(bool v) { Live()->m_ownedFlag = v; }
  bool GetReadOnlyFlag() const { return Live()->m_readOnlyFlag; }
  void SetReadOnlyFlag(bool v) { Live()->m_readOnlyFlag = v; }
  bool GetSharedFlag() const { return Live()->m_sharedFlag; }
  void SetSharedFlag(bool v) { Live()->m_sharedFlag = v; }

  // Read-only flag set on a category the user does not own.
  bool IsReadOnly() const;

  // Name, description, colour and the three flags are all equal (texts
  // compared exactly).
  bool Equal(const CategoryDescriptor& other) const;
  // Copies every field of other into this holder.
  void Copy(const CategoryDescriptor& other);
  CategoryDescriptor Clone() const;

  // Hasher fed AddFlag(true), name, description, colour and the owned,
  // read-only and shared flags.
  uint32_t CalculateHash() const;

  // Makes the name distinct by a star and a counter character in its last two
  // places: the name is cut to 15 characters, a "*" is appended (at most twice,
  // and not beyond 15 characters) unless the second last character already is
  // one, and the last character becomes the successor of the old last one in
  // "123456789ABCDEF" ("1" after "F" or anything else). "Work" becomes "Work*1",
  // "Work*9" becomes "Work*A", "Work*F" becomes "Work*1".
  void CoerceName();

  // Stores or loads the quick form into this holder.
  void SerializeQuick(Archive& ar, uint32_t version);

  // "\"%s\" %s %s/%.8x/" with name, description, the flags as "{OSR}" (owned,
  // shared, read-only; only those set) and the colour.
  std::string GetDisplayString() const;
};

}  // namespace brontel
