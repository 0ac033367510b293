#include "brontel/contacts/category_cache.h"

#include <ctime>

#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CategoryCacheHolder, "CategoryCacheHolder");

CategoryCacheHolder::CategoryCacheHolder() : m_manager(CategoryManager::CreateEmpty()) {}

void CategoryCacheHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteDword(m_sequence);
  } else {
    m_sequence = ar.ReadDword();
  }
  m_manager.SerializeQuick(ar, ar.IsStoring() ? Archive::kNoSchema : ar.GetObjectSchema());
  if (ar.IsLoading() && m_manager.IsNull()) {
    ar.Fail(ArchiveStatus::kBadValue, "cache without manager");
  }
}

CategoryCache::CategoryCache() : Handle(new CategoryCacheHolder()) {}

uint32_t CategoryCache::GenerateCacheId() {
  uint32_t& sequence = Live()->m_sequence;
  sequence = RecordIdentification::SkipHandheldBand(sequence);
  return sequence++;
}

void CategoryCache::SetRandomCacheIndex() {
  const uint32_t t = static_cast<uint32_t>(std::time(nullptr));
  Live()->m_sequence = ((t * 0xACE1DEADu) & 0x7FFFFFFFu) | 0x40000000u;
}

Category CategoryCache::AddItem(Category& category) {
  category.SetCacheId(GenerateCacheId());
  category.GenerateFixedId(true);
  Category added = Live()->m_manager.CreateNewCategory(false);
  added.Copy(category);
  return added;
}

Contact CategoryCache::AddItem(Category& parent, Contact& contact) {
  contact.SetCacheId(GenerateCacheId());
  Contact added = Live()->m_manager.CreateNewContact(parent, contact.GetContactDescriptor());
  added.Copy(contact);
  return added;
}

Contact CategoryCache::AddItem(Category& parent, ContactDescriptor& descriptor) {
  Contact added = Live()->m_manager.CreateNewContact(parent, descriptor);
  added.SetCacheId(GenerateCacheId());
  return added;
}

Category CategoryCache::FindByCacheId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindByCacheId(id, touch);
}
Category CategoryCache::FindByLocalId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindByLocalId(id, touch);
}
Category CategoryCache::FindByFixedId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindByFixedId(id, touch);
}
Contact CategoryCache::FindContactByCacheId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindContactByCacheId(id, touch);
}
Contact CategoryCache::FindContactByLocalId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindContactByLocalId(id, touch);
}
Contact CategoryCache::FindContactByFixedId(uint32_t id, bool touch) const {
  return Live()->m_manager.FindContactByFixedId(id, touch);
}
Category CategoryCache::FindMatchingCategory(const Category& category, bool touch) const {
  return Live()->m_manager.FindMatchingCategory(category, touch);
}
Contact CategoryCache::FindMatchingContact(const Contact& contact, bool touch) const {
  return Live()->m_manager.FindMatchingContact(contact, touch);
}
CategoryList CategoryCache::GetUntouched() const {
  return Live()->m_manager.GetUntouched();
}
ContactList CategoryCache::GetUntouchedContacts() const {
  return Live()->m_manager.GetUntouchedContacts();
}
bool CategoryCache::SanityCheck() const {
  return Live()->m_manager.SanityCheck();
}

CategoryCache CategoryCache::Clone() const {
  CategoryCache copy;
  copy.Live()->m_manager = Live()->m_manager.Clone();
  copy.Live()->m_sequence = Live()->m_sequence;
  return copy;
}

std::string CategoryCache::GetDisplayString() const {
  return Format("Category Cache %x %s", Live()->m_sequence,
                Live()->m_manager.GetDisplayString().c_str());
}

TreeItem CategoryCache::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  Live()->m_manager.DisplayTree(tree, item);
  return item;
}

void CategoryCache::SerializeQuick(Archive& ar, uint32_t) {
  if (ar.IsStoring()) {
    StoreHolderObject(ar);
  } else {
    LoadHolderObject(ar, false);
  }
}

std::unique_ptr<LogNode> CategoryCache::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CategoryCache>>(name, *this);
}

}  // namespace brontel
