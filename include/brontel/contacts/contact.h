// Contact: one address-book entry and its membership in a category.
//
// A record handle (shared holder) with a ContactDescriptor, identity, status and
// the manager that holds it (pointed at without counting). Its link is the
// parent category (null or the unfiled category means "Unfiled") with its own
// version, so that moving a contact is synchronized apart from editing it: Sync
// merges the data with a conflict slot, SyncLink merges the link with a
// link-conflict slot of its own.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/log_able.h"
#include "brontel/core/record_handle.h"

namespace brontel {

class Category;
class CategoryCache;
class CategoryManager;
class ContactDescriptor;
class ContactHolder;

class Contact : public LogAble, public RecordHandle<Contact, ContactHolder> {
 public:
  static constexpr char kLogNodeName[] = "ContactLog";

  // A null contact (which counts as deleted).
  Contact();
  // A new unfiled contact held by manager (not counting it). It is not added to
  // the manager's list; CategoryManager's CreateNewContact does that.
  explicit Contact(const CategoryManager& manager);
  // The same in category (which must be null or belong to manager).
  Contact(const CategoryManager& manager, const Category& category);
  Contact(const Contact& other);
  Contact& operator=(const Contact& other);
  ~Contact() override;

  static Contact CreateNull() { return Contact(); }
  // A new contact without manager.
  static Contact CreateEmpty();
  // A new contact of category's manager in category with a copy of descriptor.
  // REQUIRES: category is held by a manager.
  static Contact CreateCloneContact(ContactDescriptor& descriptor, Category& category);

  // Id setters tell the manager's list, which keeps its id indexes right.
  void SetCacheId(uint32_t v);
  void SetLocalId(uint32_t v);
  void SetServeId(uint32_t v);
  void SetFixedId(uint32_t v);
  // Returns the fixed id, making a provisional one from the local id (or the
  // cache id when useCacheId) where there is none; may stay 0.
  uint32_t GenerateFixedId(bool useCacheId);
  // The fixed id dirty flag of the identification.
  bool HasDirtyFixedId() const;
  void SetDirtyFixedId();
  void SetCleanFixedId();
  // Dirty flag off.
  void SetClean();

  // The record's own version; the manager's version (the invalid version
  // without manager).
  uint32_t GetLowerVersion() const { return GetVersion(); }
  uint32_t GetUpperVersion() const;

  // Has a holder and a manager.
  bool IsHeld() const;
  CategoryManager GetManager() const;
  ContactDescriptor GetContactDescriptor() const;
  // The stored data hash equals the descriptor's hash.
  bool HashMatched() const;

  // The link: the parent category (null when unfiled).
  Category GetCategory() const;
  // Sets the parent without checking its manager.
  void SetCategory(const Category& category);
  // The parent is null or the unfiled category.
  bool IsUnfiled() const;
  // The parent is read-only.
  bool IsReadOnly() const;
  // For an unfiled category: IsUnfiled(); otherwise the parent is that very
  // category.
  bool IsChildOfCategory(const Category& category) const;
  uint32_t GetLinkVersion() const;
  void SetLinkVersion(uint32_t v);

  // Delete flags and descriptors equal; the link is not compared.
  bool Equal(const Contact& other) const;
  // Both non-null and the same non-zero fixed id.
  bool IsMatching(const Contact& other) const;
  // Both end with the same cache, local and fixed ids (see RecordIdentification).
  void MergeIdentity(const Contact& other);
  // Takes other's conflict and link conflict (shared), read-only conflict flag,
  // descriptor values, identification and status. Parent, link version,
  // manager and touched flag stay.
  void Copy(const Contact& other);
  // A copy held by manager, with this link version and read-only conflict
  // flag; the parent is left to the manager.
  Contact Clone(const CategoryManager& manager) const;

  // Data conflicts: keeps a new copy of other as the competing version.
  void SetConflict(const Contact& other);
  // Takes the competing data under this contact's own identity.
  // REQUIRES: IsConflicted().
  void AcceptConflict();

  // Link conflicts: a copy of this contact carrying other's parent and link
  // version.
  bool IsLinkConflicted() const;
  void SetLinkConflict(const Contact& other);
  Contact GetLinkConflict() const;
  // Takes the competing parent and link version. REQUIRES: IsLinkConflicted().
  void AcceptLinkConflict();
  void RejectLinkConflict();

  // The stored read-only conflict flag.
  bool GetReadOnlyConflict() const;
  void SetReadOnlyConflict(bool v);

  // Takes the contact out of its manager's list; true without a manager.
  bool Remove();

  // Three-way merge of the data with other (the same contact in the other
  // copy), against the copy of the last synchronization in cacheManager.
  // Returns the number of conflicts found (0 or 1).
  int32_t Sync(Contact& other, CategoryManager& cacheManager, bool markDirty);
  // Merge of the link against the cache's contact with this cache id and
  // manager's (the last synchronized state). Returns 1 for a link conflict
  // (nothing changes), else 0. Without a cache counterpart nothing changes.
  int32_t SyncLink(CategoryCache& cache, CategoryManager& manager, bool markDirty);

  // Last and first name, else company and first name, else the first non-empty
  // of them, else "-Unnamed-" and the other datums.
  std::string GetShortDisplayString() const;
  // "Contact:  %s" with the short display string.
  std::string GetUserDisplayString() const;
  // "Contact:  %s %s %s %s": identification, status, descriptor, markers.
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // The quick form: descriptor, identification, status, conflict and link
  // conflict object records, parent position, link version, read-only conflict
  // flag. Loading fills a fresh holder.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  friend struct ContactStoredForm;
  friend class CategoryManager;
  friend class CategoryManagerHolder;
  friend class ContactHolder;
  friend class ContactList;
  template <class Record>
  friend class IndexedRecordList;
  explicit Contact(ContactHolder* adopted);
  // Sets the parent. REQUIRES: it is null or belongs to this contact's manager.
  void setParentCategory(const Category& category);
  void setManager(const CategoryManager& manager);
  // Tells the manager's list that an id changed.
  void noteChanges(uint32_t oldCacheId, uint32_t oldLocalId, uint32_t oldFixedId) const;
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/contacts/contact_lists.h"
