// The holders of the categories, the contacts and the category manager.
//
// Each holder is the shared body behind the handles of one record; its stored
// class name is the holder's class name. Records created for a manager refer to
// it through a non-counting BackReference, which reads as null once the manager
// is gone. A contact counts its parent category: categories never refer to
// contacts, so the records of a manager form no cycles and go with it.
#pragma once

#include <cstdint>

#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/handle.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/record_table_identification.h"

namespace brontel {

// A manager handle that is null by default, for back references to a manager
// (a default CategoryManager makes a new manager).
class CategoryManagerReference : public Handle<CategoryManagerHolder> {
 public:
  CategoryManagerReference() = default;
  explicit CategoryManagerReference(const CategoryManager& manager)
      : Handle<CategoryManagerHolder>(manager) {}
  // The manager referred to, or a null manager.
  CategoryManager Manager() const { return CategoryManager(m_holder); }
  CategoryManagerHolder* holder() const { return m_holder; }
};

class CategoryHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // The quick form (see Category::SerializeQuick).
  void Serialize(Archive& ar) override;
  void DropReferences() override;

  int32_t m_cloneIndex = -1;
  Category m_conflict;
  CategoryDescriptor m_descriptor;
  BackReference<CategoryManagerReference> m_manager;
  RecordIdentification m_identification;
  RecordStatus m_status;
  bool m_touched = false;
  bool m_unfiled = false;
  // Set on the stand-in parent that reading a contact makes from a stored
  // position (its clone index), until the manager puts its own category there.
  bool m_placeholder = false;
};

class ContactHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  // The quick form (see Contact::SerializeQuick).
  void Serialize(Archive& ar) override;
  void DropReferences() override;

  Contact m_conflict;
  ContactDescriptor m_descriptor;
  bool m_readOnlyConflict = false;
  Contact m_linkConflict;
  uint32_t m_linkVersion = 0;
  BackReference<CategoryManagerReference> m_manager;
  Category m_parent;
  RecordIdentification m_identification;
  RecordStatus m_status;
  bool m_touched = false;
};

class CategoryManagerHolder : public Holder, public BackReferenceTarget {
  BRONTEL_DECLARE_SERIAL()

 public:
  CategoryManagerHolder();
  // Body: categories (count, quick forms), contacts (count, quick forms),
  // table identification. Reading attaches every record to this manager and
  // puts its categories in place of the stand-in parents.
  void Serialize(Archive& ar) override;
  void DropReferences() override;

  CategoryList m_categories;
  ContactList m_contacts;
  RecordTableIdentification m_tableIdentification;
};

}  // namespace brontel
