// Category: one contact category, a named folder of contacts.
//
// A record handle (shared holder) with a CategoryDescriptor, identity, status,
// a conflict slot that keeps the other side's version, and the manager that
// holds it, which it points back at without counting. A null category, and the
// manager's one category flagged unfiled, stand for "Unfiled". Sync merges a
// category three ways against its counterpart in another copy and the copy of
// the last synchronization.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/log_able.h"
#include "brontel/core/record_handle.h"

namespace brontel {

class CategoryDescriptor;
class CategoryHolder;
class CategoryManager;

class Category : public LogAble, public RecordHandle<Category, CategoryHolder> {
 public:
  static constexpr char kLogNodeName[] = "CategoryLog";

  // A null category (which counts as unfiled and deleted).
  Category();
  // A new category held by manager (not counting it) with the given unfiled
  // flag. It is not added to the manager's list; CategoryManager's
  // CreateNewCategory does that.
  Category(const CategoryManager& manager, bool unfiled);
  Category(const Category& other);
  Category& operator=(const Category& other);
  ~Category() override;

  static Category CreateNull() { return Category(); }
  // A new category without manager.
  static Category CreateEmpty();

  // Id setters tell the manager's list, which keeps its id indexes right.
  void SetCacheId(uint32_t v);
  void SetLocalId(uint32_t v);
  void SetServeId(uint32_t v);
  void SetFixedId(uint32_t v);
  // Returns the fixed id, making a provisional one from the local id (or the
  // cache id when useCacheId) where there is none; may stay 0.
  uint32_t GenerateFixedId(bool useCacheId);
  // Dirty flag off.
  void SetClean();

  // The record's own version; the manager's version (the invalid version
  // without manager).
  uint32_t GetLowerVersion() const { return GetVersion(); }
  uint32_t GetUpperVersion() const;

  // Has a holder and a manager.
  bool IsHeld() const;
  CategoryManager GetManager() const;
  CategoryDescriptor GetCategoryDescriptor() const;
  int32_t GetCloneIndex() const { return getCloneIndex(); }
  void SetCloneIndex(int32_t index) { setCloneIndex(index); }
  // True for a null category and for the manager's unfiled category.
  bool IsUnfiled() const;
  // The descriptor's IsReadOnly; false for a null category.
  bool IsReadOnly() const;
  // The stored data hash equals the descriptor's hash.
  bool HashMatched() const;

  // Delete flags, descriptors and unfiled flags equal.
  bool Equal(const Category& other) const;
  // Both non-null and the same cache id, local id or fixed id.
  bool IsMatching(const Category& other) const;
  // Both end with the same cache, local and fixed ids (see RecordIdentification).
  void MergeIdentity(const Category& other);
  // Takes other's conflict (shared), descriptor values, identification, status
  // and unfiled flag; manager, clone index and touched flag stay.
  void Copy(const Category& other);
  // A copy held by manager.
  Category Clone(const CategoryManager& manager) const;

  // Keeps a new copy of other as the competing version.
  void SetConflict(const Category& other);
  // Takes the competing version's data under this category's own identity.
  // REQUIRES: IsConflicted().
  void AcceptConflict();

  // A subscribed category that is not deleted takes a coerced name until it
  // differs from every live category before it in its manager's list and every
  // live owned category after it (at most 15 rounds).
  void CoerceName();
  // Moves every contact of this category into other (when this one is held).
  void MergeCategories(Category& other);
  // Takes the category out of its manager's list; true when it was there.
  bool Remove();

  // Three-way merge with other (the same category in the other copy), against
  // the copy of the last synchronization in cacheManager. Returns the number of
  // conflicts found (0 or 1).
  int32_t Sync(Category& other, CategoryManager& cacheManager, bool markDirty);

  // "Unfiled" for a null category, else the name.
  std::string GetShortDisplayString() const;
  // "Category:  %s\r\n%s\r\nDescription:  %s" with name, kind and description.
  std::string GetUserDisplayString() const;
  // "Category: %s %s %s %s %s": unfiled marker, identification, status,
  // descriptor, conflict marker.
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // The quick form: unfiled flag, descriptor, identification, status and the
  // conflict's object record. Loading fills a fresh holder.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

  // Adds or drops one count of the holder without a handle.
  using Handle::refer;
  using Handle::unrefer;

 private:
  friend struct ContactStoredForm;
  friend class CategoryHolder;
  friend class CategoryList;
  friend class CategoryManager;
  friend class CategoryManagerHolder;
  friend class Contact;
  template <class Record>
  friend class IndexedRecordList;
  explicit Category(CategoryHolder* adopted);
  // Tells the manager's list that an id changed.
  void noteChanges(uint32_t oldCacheId, uint32_t oldLocalId, uint32_t oldFixedId) const;
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/contacts/contact_lists.h"
