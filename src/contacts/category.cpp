#include "brontel/contacts/category.h"

#include <string>

#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"
#include "record_merge.h"

namespace brontel {

Category::Category() = default;
Category::Category(CategoryHolder* adopted) : RecordHandle(adopted) {}
Category::Category(const Category& other) = default;
Category& Category::operator=(const Category& other) = default;
Category::~Category() = default;

Category::Category(const CategoryManager& manager, bool unfiled)
    : RecordHandle(new CategoryHolder()) {
  m_holder->m_unfiled = unfiled;
  if (!manager.IsNull()) m_holder->m_manager.Set(CategoryManagerReference(manager));
}

Category Category::CreateEmpty() {
  return Category(new CategoryHolder());
}

void Category::noteChanges(uint32_t oldCacheId, uint32_t oldLocalId, uint32_t oldFixedId) const {
  const CategoryHolder* h = Live();
  const uint32_t cacheId = h->m_identification.GetCacheId();
  const uint32_t localId = h->m_identification.GetLocalId();
  const uint32_t fixedId = h->m_identification.GetFixedId();
  if (cacheId == oldCacheId && localId == oldLocalId && fixedId == oldFixedId) return;
  NoteContactSideIdChange();
  CategoryManagerHolder* manager = h->m_manager.Get().holder();
  if (manager == nullptr) return;
  const CategoryList& list = manager->m_categories;
  if (cacheId != oldCacheId) list.noteChangeCacheId(*this, oldCacheId, cacheId);
  if (localId != oldLocalId) list.noteChangeLocalId(*this, oldLocalId, localId);
  if (fixedId != oldFixedId) list.noteChangeFixedId(*this, oldFixedId, fixedId);
}

void Category::SetCacheId(uint32_t v) {
  IdsBefore before(Live()->m_identification);
  m_holder->m_identification.SetCacheId(v);
  noteChanges(before.cache, before.local, before.fixed);
}
void Category::SetLocalId(uint32_t v) {
  IdsBefore before(Live()->m_identification);
  m_holder->m_identification.SetLocalId(v);
  noteChanges(before.cache, before.local, before.fixed);
}
void Category::SetServeId(uint32_t v) {
  SetLocalId(v);
}
void Category::SetFixedId(uint32_t v) {
  IdsBefore before(Live()->m_identification);
  m_holder->m_identification.SetFixedId(v);
  noteChanges(before.cache, before.local, before.fixed);
}
uint32_t Category::GenerateFixedId(bool useCacheId) {
  IdsBefore before(Live()->m_identification);
  uint32_t fixedId = m_holder->m_identification.GenerateFixedId(useCacheId);
  noteChanges(before.cache, before.local, before.fixed);
  return fixedId;
}
void Category::SetClean() {
  Live()->m_status.SetDirtyFlag(false);
}

uint32_t Category::GetUpperVersion() const {
  CategoryManager manager = Live()->m_manager.Get().Manager();
  return manager.IsNull() ? Versioning::InValidVersion() : manager.GetVersion();
}

bool Category::IsHeld() const {
  return !IsNull() && !Live()->m_manager.IsNull();
}
CategoryManager Category::GetManager() const {
  return Live()->m_manager.Get().Manager();
}
CategoryDescriptor Category::GetCategoryDescriptor() const {
  return Live()->m_descriptor;
}
bool Category::IsUnfiled() const {
  return IsNull() || Live()->m_unfiled;
}
bool Category::IsReadOnly() const {
  return !IsNull() && Live()->m_descriptor.IsReadOnly();
}
bool Category::HashMatched() const {
  return Live()->m_status.GetDataHash() == Live()->m_descriptor.CalculateHash();
}

bool Category::Equal(const Category& other) const {
  const CategoryHolder* h = Live();
  RequireLiveOther(other);
  const CategoryHolder* o = other.m_holder;
  return h->m_status.Equal(o->m_status) && h->m_descriptor.Equal(o->m_descriptor) &&
         h->m_unfiled == o->m_unfiled;
}

bool Category::IsMatching(const Category& other) const {
  if (IsNull() || other.IsNull()) return false;
  return Live()->m_identification.IsMatching(other.Live()->m_identification, true, true, true);
}

void Category::MergeIdentity(const Category& other) {
  if (IsNull() || other.IsNull()) return;
  IdsBefore mine(Live()->m_identification);
  IdsBefore theirs(other.Live()->m_identification);
  m_holder->m_identification.MergeIdentity(other.m_holder->m_identification, true, true, true);
  noteChanges(mine.cache, mine.local, mine.fixed);
  other.noteChanges(theirs.cache, theirs.local, theirs.fixed);
}

void Category::Copy(const Category& other) {
  CategoryHolder* h = Live();
  RequireLiveOther(other);
  const CategoryHolder* o = other.m_holder;
  IdsBefore before(h->m_identification);
  h->m_conflict = o->m_conflict;
  h->m_descriptor.Copy(o->m_descriptor);
  h->m_identification.Copy(o->m_identification);
  h->m_status.Copy(o->m_status);
  h->m_unfiled = o->m_unfiled;
  noteChanges(before.cache, before.local, before.fixed);
}

Category Category::Clone(const CategoryManager& manager) const {
  Category copy = CreateEmpty();
  copy.Copy(*this);
  if (!manager.IsNull()) copy.m_holder->m_manager.Set(CategoryManagerReference(manager));
  return copy;
}

void Category::SetConflict(const Category& other) {
  if (other.IsNull()) {
    Live()->m_conflict = Category();
    return;
  }
  Category snapshot = CreateEmpty();
  snapshot.Copy(other);
  Live()->m_conflict = snapshot;
}

void Category::AcceptConflict() {
  BRONTEL_REQUIRE(!Live()->m_conflict.IsNull(), "!m_holder->m_conflict.IsNull()");
  Category snapshot = m_holder->m_conflict;
  snapshot.m_holder->m_identification.Copy(m_holder->m_identification);
  Copy(snapshot);
}

void Category::CoerceName() {
  CategoryHolder* h = Live();
  if (IsDeleted() || h->m_descriptor.GetOwnedFlag()) return;
  CategoryManager manager = GetManager();
  if (manager.IsNull()) return;
  const CategoryList& list = manager.GetCategoryList();
  // Live categories before this one, and live owned ones after it; a
  // category missing from the list stands after all of them.
  int32_t position = list.GetListCount();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (list[i].IsSameHolder(*this)) {
      position = i;
      break;
    }
  }
  auto taken = [&](const std::string& name) {
    for (int32_t i = 0; i < list.GetListCount(); ++i) {
      const Category& c = list[i];
      if (i == position || c.IsDeleted() || c.IsSameHolder(*this)) continue;
      if (i > position && !c.GetCategoryDescriptor().GetOwnedFlag()) continue;
      if (c.GetCategoryDescriptor().GetCategoryName() == name) return true;
    }
    return false;
  };
  for (int round = 0; round < 15 && taken(h->m_descriptor.GetCategoryName()); ++round) {
    h->m_descriptor.CoerceName();
  }
}

void Category::MergeCategories(Category& other) {
  if (!IsHeld()) return;
  GetManager().MergeCategories(other, *this);
}

bool Category::Remove() {
  CategoryManager manager = GetManager();
  return !manager.IsNull() && manager.removeCategory(*this);
}

int32_t Category::Sync(Category& other, CategoryManager& cacheManager, bool markDirty) {
  Live();
  RequireLiveOther(other);
  Category cached =
      cacheManager.IsNull() ? Category() : cacheManager.FindByCacheId(GetCacheId(), false);
  MergeOutcome outcome = DecideMerge(*this, other, cached);
  return ApplyMerge(outcome, *this, other, markDirty);
}

std::string Category::GetShortDisplayString() const {
  if (IsNull()) return "Unfiled";
  return Live()->m_descriptor.GetCategoryName();
}

std::string Category::GetUserDisplayString() const {
  const CategoryDescriptor& d = Live()->m_descriptor;
  std::string kind = !d.GetSharedFlag() ? "local" : d.GetOwnedFlag() ? "published" : "subscribed";
  if (d.GetSharedFlag()) kind += d.GetReadOnlyFlag() ? " RO" : " RW";
  return Format("Category:  %s\r\n%s\r\nDescription:  %s", d.GetCategoryName().c_str(),
                kind.c_str(), d.GetDescription().c_str());
}

std::string Category::GetDisplayString() const {
  if (IsNull()) return "Category: null";
  const CategoryHolder* h = Live();
  return Format("Category: %s %s %s %s %s", h->m_unfiled ? "U" : " ",
                h->m_identification.GetDisplayString().c_str(),
                h->m_status.GetDisplayString().c_str(), h->m_descriptor.GetDisplayString().c_str(),
                IsConflicted() ? "**CONFLICT** " : "");
}

TreeItem Category::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  if (!IsNull()) DisplayConflict(tree, item);
  return item;
}

std::unique_ptr<LogNode> Category::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<Category>>(name, *this);
}

}  // namespace brontel
