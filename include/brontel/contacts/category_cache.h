// CategoryCache: the merged state of the contact data, a manager together with
// the counter from which cache ids are drawn.
//
// Cache ids are unique within one cache: every record that enters the cache
// takes the current sequence value, after which the sequence is incremented.
// The cache file holds one "CategoryCacheHolder" object: the sequence (DWORD),
// then the manager's object record.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/contacts/category_manager.h"
#include "brontel/core/handle.h"
#include "brontel/core/log_able.h"
#include "brontel/core/record_identification.h"

namespace brontel {

class CategoryCacheHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  CategoryCacheHolder();
  void Serialize(Archive& ar) override;

  CategoryManager m_manager;
  uint32_t m_sequence = 1;
};

class CategoryCache : public LogAble, public Handle<CategoryCacheHolder> {
 public:
  static constexpr char kLogNodeName[] = "CategoryCacheLog";

  // An empty manager and the sequence 1.
  CategoryCache();
  CategoryCache(const CategoryCache& other) = default;
  CategoryCache& operator=(const CategoryCache& other) = default;

  CategoryManager GetCategoryManager() const { return Live()->m_manager; }
  uint32_t GetSequence() const { return Live()->m_sequence; }
  void Increment() { ++Live()->m_sequence; }
  // Returns the sequence, then increments it. A sequence inside the band that
  // handheld-derived fixed ids use first moves past it.
  uint32_t GenerateCacheId();
  // Starts the sequence at ((t * 0xACE1DEAD) & 0x7FFFFFFF) | 0x40000000 for the
  // current time t in seconds, so caches started at different times rarely
  // hand out the same ids.
  void SetRandomCacheIndex();

  // c takes the next cache id and generates a fixed id; a new category of the
  // cache (not unfiled) copies it and is returned.
  Category AddItem(Category& category);
  // c takes the next cache id; a new contact of the cache in parent with c's
  // descriptor copies it and is returned.
  Contact AddItem(Category& parent, Contact& contact);
  // A new contact of the cache in parent with descriptor, with the next cache
  // id.
  Contact AddItem(Category& parent, ContactDescriptor& descriptor);

  // Look-ups of the manager.
  Category FindByCacheId(uint32_t id, bool touch) const;
  Category FindByLocalId(uint32_t id, bool touch) const;
  Category FindByFixedId(uint32_t id, bool touch) const;
  Contact FindContactByCacheId(uint32_t id, bool touch) const;
  Contact FindContactByLocalId(uint32_t id, bool touch) const;
  Contact FindContactByFixedId(uint32_t id, bool touch) const;
  Category FindMatchingCategory(const Category& category, bool touch) const;
  Contact FindMatchingContact(const Contact& contact, bool touch) const;
  CategoryList GetUntouched() const;
  ContactList GetUntouchedContacts() const;
  bool SanityCheck() const;

  // A new cache with a clone of the manager and the same sequence.
  CategoryCache Clone() const;

  // "Category Cache %x <manager's display string>".
  std::string GetDisplayString() const override;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  // Stores the holder as one object record; loading replaces this handle's
  // holder by the one read.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  void Serialize(Archive& ar) { SerializeQuick(ar, Archive::kNoSchema); }
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
};

}  // namespace brontel
