// CategoryManager: one complete copy of the user's contact data.
//
// A manager owns its categories and contacts and the table identity of the copy
// (global id, table version, delta version). Records created for a manager point
// back at it without counting it, so a manager lives exactly as long as outside
// handles to it; records kept elsewhere then see it gone. A contact's parent is
// null, the unfiled category or a category of the same manager. The manager
// answers the engines' look-ups by id, keeps category names distinct, and
// clones, verifies and stores whole copies.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/handle.h"
#include "brontel/core/log_able.h"
#include "brontel/core/uid128.h"

namespace brontel {

class Category;
class CategoryDescriptor;
class CategoryList;
class CategoryManagerHolder;
class Contact;
class ContactDescriptor;
class ContactList;
class RecordTableIdentification;
class UserNoticeManager;

class CategoryManager : public LogAble, public Handle<CategoryManagerHolder> {
 public:
  static constexpr char kLogNodeName[] = "CategoryManagerLog";

  // A new empty manager.
  CategoryManager();
  // Shares an existing holder (counting it); a null holder gives a null
  // manager.
  explicit CategoryManager(CategoryManagerHolder* holder);
  CategoryManager(const CategoryManager& other);
  CategoryManager& operator=(const CategoryManager& other);
  ~CategoryManager() override;

  static CategoryManager CreateNull();
  // A new empty manager.
  static CategoryManager CreateEmpty();

  CategoryList& GetCategoryList() const;
  ContactList& GetContactList() const;
  RecordTableIdentification GetRecordTableIdentification() const;

  // Table identity.
  UID128 GetGID() const;
  void SetGID(const UID128& gid);
  uint32_t GetVersion() const;
  // REQUIRES: newValue < 0x80000000 or newValue == 0xFFFFFFFF.
  void SetVersion(uint32_t newValue);
  uint32_t GetDeltaVersion() const;
  void SetDeltaVersion(uint32_t v);

  // Creation: records held by this manager, appended to its lists.
  Category CreateNewCategory(bool unfiled);
  Category CreateNewCategory(const CategoryDescriptor& descriptor, bool unfiled);
  // An unfiled contact.
  Contact CreateNewContact();
  Contact CreateNewContact(const Category& category);
  Contact CreateNewContact(const Category& category, const ContactDescriptor& descriptor);
  // A new, not unfiled category with a copy of category's descriptor.
  Category DuplicateConflict(const Category& category);
  // A new contact in contact's category with a copy of its descriptor.
  Contact DuplicateConflict(const Contact& contact);

  // Look-ups (a null record when not found; touch marks the found record).
  Category FindByCacheId(uint32_t id, bool touch) const;
  Category FindByLocalId(uint32_t id, bool touch) const;
  Category FindByServeId(uint32_t id, bool touch) const;
  Category FindByFixedId(uint32_t id, bool touch) const;
  Contact FindContactByCacheId(uint32_t id, bool touch) const;
  Contact FindContactByLocalId(uint32_t id, bool touch) const;
  Contact FindContactByServeId(uint32_t id, bool touch) const;
  Contact FindContactByFixedId(uint32_t id, bool touch) const;
  // The category or contact with the given record's fixed id.
  Category FindMatchingCategory(const Category& category, bool touch) const;
  Contact FindMatchingContact(const Contact& contact, bool touch) const;

  // The first category that is unfiled, or a null category.
  Category GetUnfiled() const;
  // The contact's parent becomes GetUnfiled().
  void MakeUnfiled(Contact& contact);
  // The list holds this very record.
  bool HasCategory(const Category& category) const;
  bool HasContact(const Contact& contact) const;
  // Some contact belongs to category (for the unfiled or a null category: some
  // contact is unfiled).
  bool HasAnyContacts(const Category& category) const;
  CategoryList GetUntouched() const;
  ContactList GetUntouchedContacts() const;

  // Version questions (versions compare as in Versioning; V is this manager's
  // version).
  // The record changed or was created after V.
  bool IsNewToMe(const Category& category) const;
  // The same, or its link changed after V.
  bool IsNewToMe(const Contact& contact) const;
  bool IsNewLinkToMe(const Contact& contact) const;
  // other's version is at least V.
  bool VersionsAreSynced(const CategoryManager& other) const;
  // Both get the newer of the two versions.
  void ResolveVersion(CategoryManager& other);

  // Bulk operations.
  // Categories, then contacts, without a cache id take the one of their match
  // in other.
  void ResolveIdentity(const CategoryManager& other);
  void GenerateFixedIds(bool useCacheId);
  // Unless category is unfiled, removes its contacts and then itself.
  void DeleteCategory(Category& category);
  // Unless source is unfiled, moves every contact of source to target.
  void MergeCategories(Category& target, Category& source);
  // Removes the unfiled contacts; returns how many.
  int32_t RemoveUnfiledContacts();
  // Removes every contact filed in a category this manager does not hold.
  // Unfiled contacts (null parent or the unfiled category) stay.
  void RemoveOrphanedContacts();
  // Gives every live subscribed category whose name collides a coerced name,
  // in list order; renamed ones are marked dirty when markDirty, and each
  // rename is reported to notices (when not null).
  void CoerceNames(UserNoticeManager* notices, bool markDirty);
  // Adds "Subscribed category '<old>' renamed as '<new>'" to notices (when not
  // null) under the category rename notice.
  void NotifyNameCoerced(UserNoticeManager* notices, const std::string& oldName,
                         const std::string& newName);
  // Every category and contact clean.
  void SetClean();

  // Whole-manager operations.
  // A deep copy keeping every id and every contact's category.
  CategoryManager Clone() const;
  // The part shared with other users: shared categories and the contacts in
  // them that are not private.
  CategoryManager SharedClone() const;
  // Destructive comparison (for clones): removes what both hold equally; true
  // when both end empty.
  bool Verify(CategoryManager& other);
  // False when two categories, or two contacts, share a non-zero cache, local
  // or fixed id.
  bool IsCoherent() const;
  // Every record is held by this manager and every filed contact's parent is
  // a category of this manager.
  bool SanityCheck() const;

  // "CategoryManager %s #categories = %d #contacts = %d".
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Stores the holder as one "CategoryManagerHolder" object record; loading
  // replaces this handle's holder by the one read.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  void Serialize(Archive& ar) { SerializeQuick(ar, Archive::kNoSchema); }
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

  // Adds or drops one count of the holder without a handle.
  using Handle::refer;
  using Handle::unrefer;

 private:
  friend class Category;
  friend class Contact;
  bool removeCategory(const Category& category);
  bool removeContact(const Contact& contact);
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/contacts/contact_lists.h"
