// The two record lists of the contact side.
//
// CategoryList holds a manager's categories and ContactList its contacts, in
// insertion order. Both keep hash indexes by cache id, local id (which is also
// the server id) and fixed id, built by the first find of their kind, so that
// the engines find a record of one copy in another in constant time.
//
// A manager's own lists hear of every id change its records make through their
// setters, Copy, MergeIdentity and GenerateFixedId, and keep their indexes
// right in constant time. A list that no manager owns (the result of
// GetUntouched, say) rebuilds its indexes when any contact-side record changed
// an id since they were built. Removing elements drops the indexes. Every index
// hit is checked against the element, so a find never returns a record whose id
// differs. Ids changed behind the records' backs (through the
// RecordIdentification handle) are not heard of: use the record setters. A
// manager's lists must hold only records of that manager.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/core/log_able.h"
#include "brontel/lists/record_list.h"

namespace brontel {

// What both contact-side lists share: the id indexes and the finds that use
// them. Record is Category or Contact.
template <class Record>
class IndexedRecordList : public RecordList<Record> {
  using Base = RecordList<Record>;

 public:
  IndexedRecordList();
  explicit IndexedRecordList(int32_t capacity);
  // Copies the handles; the copy builds its own indexes and is owned by no
  // manager.
  IndexedRecordList(const IndexedRecordList& other);
  // Copies the handles; this list stays owned by its manager, if any.
  IndexedRecordList& operator=(const IndexedRecordList& other);
  ~IndexedRecordList() override;

  void Append(const Record& record);
  // Removes every element that is this very record (same holder).
  bool Remove(const Record& record);
  // Removes, in one pass keeping the order, every element for which
  // remove(element) holds; true when any was removed.
  template <class Predicate>
  bool RemoveIf(Predicate remove) {
    bool removed = Base::RemoveIf(remove);
    if (removed) DropIndexes();
    return removed;
  }
  void Clear();
  // True when the list holds this very record (same holder).
  bool Contains(const Record& record) const;

  // The first element whose id of that kind is id; a null record for id 0 or
  // when there is none. touch marks the found element touched.
  Record FindByCacheId(uint32_t id, bool touch) const;
  Record FindByLocalId(uint32_t id, bool touch) const;
  // The server id is the local id of the copy that mirrors the server.
  Record FindByServeId(uint32_t id, bool touch) const;
  Record FindByFixedId(uint32_t id, bool touch) const;

  // Change notices from the records of the owning manager.
  void noteChangeCacheId(const Record& record, uint32_t oldId, uint32_t newId) const;
  void noteChangeLocalId(const Record& record, uint32_t oldId, uint32_t newId) const;
  void noteChangeFixedId(const Record& record, uint32_t oldId, uint32_t newId) const;
  // Drops every index; the next find builds what it needs.
  void DropIndexes() const;

 protected:
  // Marks the list as a manager's own, which hears of every id change.
  void setManaged() { m_managed = true; }

 private:
  class Indexes;
  Indexes& indexes() const;
  Record find(int kind, uint32_t id, bool touch) const;
  // The positions of the records, built on demand; null when a record is held
  // twice.
  std::unordered_map<const void*, int32_t>* positions() const;
  void noteChange(int kind, const Record& record, uint32_t oldId, uint32_t newId) const;

  mutable std::unique_ptr<Indexes> m_indexes;
  bool m_managed = false;
};

class CategoryList : public LogAble, public IndexedRecordList<Category> {
 public:
  static constexpr char kLogNodeName[] = "CategoryListLog";
  using IndexedRecordList::IndexedRecordList;

  // A new list of the elements not marked touched, in order, with their marks
  // cleared.
  CategoryList GetUntouched() const;
  // Clones of the categories, held by manager.
  CategoryList Clone(const CategoryManager& manager) const;
  // Every category without a cache id takes the cache id of the first category
  // of other that matches it (same local id or fixed id, see
  // Category::IsMatching).
  void ResolveIdentity(const CategoryList& other);
  // With sharedOnly, every shared category generates a fixed id from its local
  // or cache id; otherwise every category generates one from its local id.
  void GenerateFixedIds(bool sharedOnly);

  // "CategoryList[%d]".
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Count, then each category's quick form.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  friend class CategoryManagerHolder;
};

class ContactList : public LogAble, public IndexedRecordList<Contact> {
 public:
  static constexpr char kLogNodeName[] = "ContactListLog";
  using IndexedRecordList::IndexedRecordList;

  // A new list of the elements not marked touched, in order, with their marks
  // cleared.
  ContactList GetUntouched() const;
  // Clones of the contacts, held by manager (parents are left to the manager).
  ContactList Clone(const CategoryManager& manager) const;
  // Every contact without a cache id takes the cache id of the contact of other
  // with the same non-zero fixed id.
  void ResolveIdentity(const ContactList& other);
  // Every contact generates a fixed id (Contact::GenerateFixedId).
  void GenerateFixedIds(bool useCacheId);
  // Removes every contact from its manager (Contact::Remove), working on a
  // copy; true when every removal succeeded.
  bool EmptyList();

  // "ContactList[%d]".
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Count, then each contact's quick form.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

 private:
  friend class CategoryManagerHolder;
};

extern template class IndexedRecordList<Category>;
extern template class IndexedRecordList<Contact>;

}  // namespace brontel

#include "brontel/contacts/contact_holders.h"
