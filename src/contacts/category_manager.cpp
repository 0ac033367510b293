#include "brontel/contacts/category_manager.h"

#include <unordered_map>

#include "brontel/core/log_node.h"
#include "brontel/host/user_notice_manager.h"
#include "brontel/lists/flat_set.h"
#include "brontel/lists/unique_ids.h"
#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CategoryManagerHolder, "CategoryManagerHolder");

CategoryManagerHolder::CategoryManagerHolder() {
  m_categories.setManaged();
  m_contacts.setManaged();
}

CategoryManager::CategoryManager() : Handle(new CategoryManagerHolder()) {}
CategoryManager::CategoryManager(CategoryManagerHolder* holder) : Handle(holder) {
  if (holder != nullptr) ++holder->m_referenceCount;
}
CategoryManager::CategoryManager(const CategoryManager& other) = default;
CategoryManager& CategoryManager::operator=(const CategoryManager& other) = default;
CategoryManager::~CategoryManager() = default;

CategoryManager CategoryManager::CreateNull() {
  return CategoryManager(nullptr);
}
CategoryManager CategoryManager::CreateEmpty() {
  return CategoryManager();
}

CategoryList& CategoryManager::GetCategoryList() const {
  return Live()->m_categories;
}
ContactList& CategoryManager::GetContactList() const {
  return Live()->m_contacts;
}
RecordTableIdentification CategoryManager::GetRecordTableIdentification() const {
  return Live()->m_tableIdentification;
}

UID128 CategoryManager::GetGID() const {
  return Live()->m_tableIdentification.GetTableId();
}
void CategoryManager::SetGID(const UID128& gid) {
  Live()->m_tableIdentification.SetTableId(gid);
}
uint32_t CategoryManager::GetVersion() const {
  return Live()->m_tableIdentification.GetTableVersion();
}
void CategoryManager::SetVersion(uint32_t newValue) {
  BRONTEL_REQUIRE((newValue < 0x80000000) || (newValue == 0xffFFffFF),
                  "(newValue < 0x80000000) || (newValue == 0xffFFffFF)");
  Live()->m_tableIdentification.SetTableVersion(newValue);
}
uint32_t CategoryManager::GetDeltaVersion() const {
  return Live()->m_tableIdentification.GetTableDeltaVersion();
}
void CategoryManager::SetDeltaVersion(uint32_t v) {
  Live()->m_tableIdentification.SetTableDeltaVersion(v);
}

// ---- creation ----

Category CategoryManager::CreateNewCategory(bool unfiled) {
  Category category(*this, unfiled);
  Live()->m_categories.Append(category);
  return category;
}

Category CategoryManager::CreateNewCategory(const CategoryDescriptor& descriptor, bool unfiled) {
  Category category = CreateNewCategory(unfiled);
  category.GetCategoryDescriptor().Copy(descriptor);
  return category;
}

Contact CategoryManager::CreateNewContact() {
  Contact contact(*this);
  Live()->m_contacts.Append(contact);
  return contact;
}

Contact CategoryManager::CreateNewContact(const Category& category) {
  Contact contact(*this, category);
  Live()->m_contacts.Append(contact);
  return contact;
}

Contact CategoryManager::CreateNewContact(const Category& category,
                                          const ContactDescriptor& descriptor) {
  Contact contact = CreateNewContact(category);
  contact.GetContactDescriptor().Copy(descriptor);
  return contact;
}

Category CategoryManager::DuplicateConflict(const Category& category) {
  return CreateNewCategory(category.GetCategoryDescriptor(), false);
}

Contact CategoryManager::DuplicateConflict(const Contact& contact) {
  Category parent = contact.GetCategory();
  // A contact of another copy is duplicated into this copy's category with the
  // same fixed id.
  if (!parent.IsNull() && !parent.GetManager().IsSameHolder(*this)) {
    parent = FindByFixedId(parent.GetFixedId(), false);
  }
  return CreateNewContact(parent, contact.GetContactDescriptor());
}

// ---- look-ups ----

Category CategoryManager::FindByCacheId(uint32_t id, bool touch) const {
  return Live()->m_categories.FindByCacheId(id, touch);
}
Category CategoryManager::FindByLocalId(uint32_t id, bool touch) const {
  return Live()->m_categories.FindByLocalId(id, touch);
}
Category CategoryManager::FindByServeId(uint32_t id, bool touch) const {
  return Live()->m_categories.FindByServeId(id, touch);
}
Category CategoryManager::FindByFixedId(uint32_t id, bool touch) const {
  return Live()->m_categories.FindByFixedId(id, touch);
}
Contact CategoryManager::FindContactByCacheId(uint32_t id, bool touch) const {
  return Live()->m_contacts.FindByCacheId(id, touch);
}
Contact CategoryManager::FindContactByLocalId(uint32_t id, bool touch) const {
  return Live()->m_contacts.FindByLocalId(id, touch);
}
Contact CategoryManager::FindContactByServeId(uint32_t id, bool touch) const {
  return Live()->m_contacts.FindByServeId(id, touch);
}
Contact CategoryManager::FindContactByFixedId(uint32_t id, bool touch) const {
  return Live()->m_contacts.FindByFixedId(id, touch);
}
Category CategoryManager::FindMatchingCategory(const Category& category, bool touch) const {
  if (category.IsNull()) return Category();
  return FindByFixedId(category.GetFixedId(), touch);
}
Contact CategoryManager::FindMatchingContact(const Contact& contact, bool touch) const {
  if (contact.IsNull()) return Contact();
  return FindContactByFixedId(contact.GetFixedId(), touch);
}

Category CategoryManager::GetUnfiled() const {
  const CategoryList& categories = Live()->m_categories;
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (!categories[i].IsNull() && categories[i].IsUnfiled()) return categories[i];
  }
  return Category();
}

void CategoryManager::MakeUnfiled(Contact& contact) {
  contact.SetCategory(GetUnfiled());
}

bool CategoryManager::HasCategory(const Category& category) const {
  return Live()->m_categories.Contains(category);
}
bool CategoryManager::HasContact(const Contact& contact) const {
  return Live()->m_contacts.Contains(contact);
}

bool CategoryManager::HasAnyContacts(const Category& category) const {
  const ContactList& contacts = Live()->m_contacts;
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (!contacts[i].IsNull() && contacts[i].IsChildOfCategory(category)) return true;
  }
  return false;
}

CategoryList CategoryManager::GetUntouched() const {
  return Live()->m_categories.GetUntouched();
}
ContactList CategoryManager::GetUntouchedContacts() const {
  return Live()->m_contacts.GetUntouched();
}

// ---- versions ----

bool CategoryManager::IsNewToMe(const Category& category) const {
  return Versioning::IsNewer(GetVersion(), category.GetRecordIdentification());
}
bool CategoryManager::IsNewToMe(const Contact& contact) const {
  return Versioning::IsNewer(GetVersion(), contact.GetRecordIdentification()) ||
         IsNewLinkToMe(contact);
}
bool CategoryManager::IsNewLinkToMe(const Contact& contact) const {
  return Versioning::LessThan(GetVersion(), contact.GetLinkVersion());
}
bool CategoryManager::VersionsAreSynced(const CategoryManager& other) const {
  return Versioning::GreaterThanOrEqualTo(other.GetVersion(), GetVersion());
}
void CategoryManager::ResolveVersion(CategoryManager& other) {
  const uint32_t newest = Versioning::NewestVersion(GetVersion(), other.GetVersion());
  SetVersion(newest);
  other.SetVersion(newest);
}

// ---- bulk operations ----

void CategoryManager::ResolveIdentity(const CategoryManager& other) {
  Live()->m_categories.ResolveIdentity(other.Live()->m_categories);
  m_holder->m_contacts.ResolveIdentity(other.Live()->m_contacts);
}

void CategoryManager::GenerateFixedIds(bool useCacheId) {
  Live()->m_categories.GenerateFixedIds(useCacheId);
  m_holder->m_contacts.GenerateFixedIds(useCacheId);
}

void CategoryManager::DeleteCategory(Category& category) {
  if (category.IsUnfiled()) return;
  CategoryManagerHolder* h = Live();
  h->m_contacts.RemoveIf(
      [&](const Contact& c) { return !c.IsNull() && c.IsChildOfCategory(category); });
  h->m_categories.Remove(category);
}

void CategoryManager::MergeCategories(Category& target, Category& source) {
  if (source.IsUnfiled()) return;
  ContactList& contacts = Live()->m_contacts;
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    Contact& c = contacts[i];
    if (!c.IsNull() && c.IsChildOfCategory(source)) c.SetCategory(target);
  }
}

int32_t CategoryManager::RemoveUnfiledContacts() {
  ContactList& contacts = Live()->m_contacts;
  const int32_t before = contacts.GetListCount();
  contacts.RemoveIf([](const Contact& c) { return !c.IsNull() && c.IsUnfiled(); });
  return before - contacts.GetListCount();
}

void CategoryManager::RemoveOrphanedContacts() {
  CategoryManagerHolder* h = Live();
  FlatSet<const void*> held(static_cast<size_t>(h->m_categories.GetListCount()));
  for (int32_t i = 0; i < h->m_categories.GetListCount(); ++i) {
    if (!h->m_categories[i].IsNull()) held.Insert(h->m_categories[i].m_holder);
  }
  // An unfiled contact (null parent, which is also what a stored unfiled
  // contact reads back as, or the unfiled category) is no orphan.
  h->m_contacts.RemoveIf([&](const Contact& c) {
    if (c.IsNull()) return false;
    const Category& parent = c.GetCategory();
    return !parent.IsUnfiled() && !held.Contains(parent.m_holder);
  });
}

void CategoryManager::CoerceNames(UserNoticeManager* notices, bool markDirty) {
  // Each live category is compared with the live categories before it (whose
  // names are final by then) and the live owned ones after it (owned ones are
  // never renamed), kept as counts of names.
  const CategoryList& categories = Live()->m_categories;
  std::unordered_map<std::string, int32_t> before;
  std::unordered_map<std::string, int32_t> ownedAfter;
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    const Category& c = categories[i];
    if (c.IsNull() || c.IsDeleted() || !c.GetCategoryDescriptor().GetOwnedFlag()) continue;
    ++ownedAfter[c.GetCategoryDescriptor().GetCategoryName()];
  }
  auto taken = [&](const std::string& name) {
    auto b = before.find(name);
    auto a = ownedAfter.find(name);
    return (b != before.end() && b->second > 0) || (a != ownedAfter.end() && a->second > 0);
  };
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    Category c = categories[i];
    if (c.IsNull() || c.IsDeleted()) continue;
    CategoryDescriptor d = c.GetCategoryDescriptor();
    if (d.GetOwnedFlag()) {
      --ownedAfter[d.GetCategoryName()];
    } else {
      const std::string oldName = d.GetCategoryName();
      for (int round = 0; round < 15 && taken(d.GetCategoryName()); ++round) d.CoerceName();
      if (d.GetCategoryName() != oldName) {
        if (markDirty) c.SetDirty();
        NotifyNameCoerced(notices, oldName, d.GetCategoryName());
      }
    }
    ++before[d.GetCategoryName()];
  }
}

void CategoryManager::NotifyNameCoerced(UserNoticeManager* notices, const std::string& oldName,
                                        const std::string& newName) {
  if (notices == nullptr) return;
  notices->AddDetail(NOTICE_CATEGORY_RENAME, Format("Subscribed category '%s' renamed as '%s'",
                                                    oldName.c_str(), newName.c_str()));
}

void CategoryManager::SetClean() {
  CategoryManagerHolder* h = Live();
  for (int32_t i = 0; i < h->m_categories.GetListCount(); ++i) {
    if (!h->m_categories[i].IsNull()) h->m_categories[i].SetClean();
  }
  for (int32_t i = 0; i < h->m_contacts.GetListCount(); ++i) {
    if (!h->m_contacts[i].IsNull()) h->m_contacts[i].SetClean();
  }
}

// ---- whole-manager operations ----

namespace {

// Where the contacts of a source manager find their categories in a copy made
// of it: the category at the same position, for a parent of the source's list;
// for a parent from elsewhere, the source's category with its fixed id; null
// for a null parent and one that matches nothing.
class ParentMap {
 public:
  ParentMap(const CategoryList& source, const CategoryList& target)
      : m_source(source), m_target(target) {
    for (int32_t i = 0; i < source.GetListCount(); ++i) {
      Category c = source[i];
      if (!c.IsNull()) c.SetCloneIndex(i);
    }
  }

  Category operator()(const Category& parent) const {
    if (parent.IsNull()) return Category();
    int32_t at = parent.GetCloneIndex();
    if (at < 0 || at >= m_source.GetListCount() || !m_source[at].IsSameHolder(parent)) {
      Category same = m_source.FindByFixedId(parent.GetFixedId(), false);
      at = same.IsNull() ? -1 : same.GetCloneIndex();
    }
    return at < 0 || at >= m_target.GetListCount() ? Category() : m_target[at];
  }

 private:
  const CategoryList& m_source;
  const CategoryList& m_target;
};

}  // namespace

CategoryManager CategoryManager::Clone() const {
  const CategoryManagerHolder* h = Live();
  const uint32_t oldRef = h->m_referenceCount;
  CategoryManager result = CreateEmpty();
  CategoryManagerHolder* r = result.m_holder;
  r->m_tableIdentification = h->m_tableIdentification.Clone();
  r->m_categories = h->m_categories.Clone(result);
  BRONTEL_REQUIRE(result.m_holder->m_referenceCount == 1, "result.m_holder->m_referenceCount == 1");
  r->m_contacts = h->m_contacts.Clone(result);
  BRONTEL_REQUIRE(result.m_holder->m_referenceCount == 1, "result.m_holder->m_referenceCount == 1");

  // Copies of conflict and link-conflict snapshots for a cloned manager, whose
  // parents are the clone's categories. A snapshot shared by several contacts
  // is copied once.
  struct ContactSnapshotCopier {
    explicit ContactSnapshotCopier(const ParentMap& parents) : m_parents(parents) {}

    Contact operator()(const Contact& snapshot) {
      if (snapshot.IsNull()) return Contact();
      auto known = m_copies.find(snapshot.m_holder);
      if (known != m_copies.end()) return known->second;
      Contact copy = Contact::CreateEmpty();
      m_copies.emplace(snapshot.m_holder, copy);
      const ContactHolder* s = snapshot.m_holder;
      ContactHolder* c = copy.m_holder;
      c->m_descriptor.Copy(s->m_descriptor);
      c->m_identification.Copy(s->m_identification);
      c->m_status.Copy(s->m_status);
      c->m_readOnlyConflict = s->m_readOnlyConflict;
      c->m_linkVersion = s->m_linkVersion;
      c->m_parent = m_parents(s->m_parent);
      c->m_conflict = (*this)(s->m_conflict);
      c->m_linkConflict = (*this)(s->m_linkConflict);
      return copy;
    }

    const ParentMap& m_parents;
    std::unordered_map<const void*, Contact> m_copies;
  };

  ParentMap parents(h->m_categories, r->m_categories);
  ContactSnapshotCopier snapshots(parents);
  for (int32_t i = 0; i < h->m_contacts.GetListCount(); ++i) {
    const Contact& source = h->m_contacts[i];
    if (source.IsNull()) continue;
    ContactHolder* copy = r->m_contacts[i].m_holder;
    copy->m_parent = parents(source.m_holder->m_parent);
    copy->m_conflict = snapshots(source.m_holder->m_conflict);
    copy->m_linkConflict = snapshots(source.m_holder->m_linkConflict);
  }
  BRONTEL_REQUIRE(result.m_holder->m_referenceCount == 1, "result.m_holder->m_referenceCount == 1");
  BRONTEL_REQUIRE(oldRef == m_holder->m_referenceCount, "oldRef == m_holder->m_referenceCount");
  (void)oldRef;
  return result;
}

CategoryManager CategoryManager::SharedClone() const {
  CategoryManager result = Clone();
  CategoryManagerHolder* r = result.m_holder;
  r->m_categories.RemoveIf(
      [](const Category& c) { return !c.IsNull() && !c.GetCategoryDescriptor().GetSharedFlag(); });
  r->m_contacts.RemoveIf([](const Contact& c) {
    if (c.IsNull()) return false;
    return c.GetContactDescriptor().GetIsPrivate() || c.IsUnfiled() ||
           !c.GetCategory().GetCategoryDescriptor().GetSharedFlag();
  });
  return result;
}

bool CategoryManager::Verify(CategoryManager& other) {
  CategoryManagerHolder* mine = Live();
  CategoryManagerHolder* theirs = other.Live();

  // Links that agree (parents with the same fixed id) are set aside.
  for (int32_t i = 0; i < mine->m_contacts.GetListCount(); ++i) {
    Contact& c = mine->m_contacts[i];
    if (c.IsNull()) continue;
    Contact partner = other.FindContactByFixedId(c.GetFixedId(), false);
    if (partner.IsNull()) continue;
    Category& a = c.m_holder->m_parent;
    Category& b = partner.m_holder->m_parent;
    if (!a.IsNull() && !b.IsNull() && a.GetFixedId() == b.GetFixedId()) {
      a = Category();
      b = Category();
    }
  }

  // Then the contacts both hold equally, and the categories, each taken out of
  // its list in one pass.
  FlatSet<const void*> same(static_cast<size_t>(mine->m_contacts.GetListCount()) * 2);
  for (int32_t i = 0; i < mine->m_contacts.GetListCount(); ++i) {
    const Contact& c = mine->m_contacts[i];
    if (c.IsNull()) continue;
    Contact partner = other.FindContactByFixedId(c.GetFixedId(), false);
    if (partner.IsNull() || same.Contains(partner.m_holder) || same.Contains(c.m_holder)) continue;
    if (!c.m_holder->m_parent.IsNull() || !partner.m_holder->m_parent.IsNull() ||
        !c.Equal(partner)) {
      continue;
    }
    same.Insert(c.m_holder);
    same.Insert(partner.m_holder);
  }
  for (int32_t i = 0; i < mine->m_categories.GetListCount(); ++i) {
    const Category& c = mine->m_categories[i];
    if (c.IsNull()) continue;
    Category partner = other.FindByFixedId(c.GetFixedId(), false);
    if (partner.IsNull() || same.Contains(partner.m_holder) || same.Contains(c.m_holder) ||
        !c.Equal(partner)) {
      continue;
    }
    same.Insert(c.m_holder);
    same.Insert(partner.m_holder);
  }
  for (CategoryManagerHolder* side : {mine, theirs}) {
    side->m_contacts.RemoveIf([&](const Contact& c) { return same.Contains(c.m_holder); });
    side->m_categories.RemoveIf([&](const Category& c) { return same.Contains(c.m_holder); });
  }
  return mine->m_categories.GetListCount() == 0 && mine->m_contacts.GetListCount() == 0 &&
         theirs->m_categories.GetListCount() == 0 && theirs->m_contacts.GetListCount() == 0;
}

bool CategoryManager::IsCoherent() const {
  const CategoryManagerHolder* h = Live();
  return IdsAreUnique(h->m_categories) && IdsAreUnique(h->m_contacts);
}

bool CategoryManager::SanityCheck() const {
  const CategoryManagerHolder* h = Live();
  for (int32_t i = 0; i < h->m_categories.GetListCount(); ++i) {
    const Category& c = h->m_categories[i];
    if (c.IsNull() || !c.m_holder->m_manager.Refers(h)) return false;
  }
  for (int32_t i = 0; i < h->m_contacts.GetListCount(); ++i) {
    const Contact& c = h->m_contacts[i];
    if (c.IsNull() || !c.m_holder->m_manager.Refers(h)) return false;
    const Category& parent = c.m_holder->m_parent;
    if (!parent.IsNull() && !parent.m_holder->m_manager.Refers(h)) return false;
  }
  return true;
}

std::string CategoryManager::GetDisplayString() const {
  if (IsNull()) return "null manager";
  const CategoryManagerHolder* h = Live();
  return Format("CategoryManager %s #categories = %d #contacts = %d",
                h->m_tableIdentification.GetDisplayString().c_str(), h->m_categories.GetListCount(),
                h->m_contacts.GetListCount());
}

TreeItem CategoryManager::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  if (IsNull()) return item;
  Live()->m_categories.DisplayTree(tree, item);
  Live()->m_contacts.DisplayTree(tree, item);
  return item;
}

std::unique_ptr<LogNode> CategoryManager::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CategoryManager>>(name, *this);
}

bool CategoryManager::removeCategory(const Category& category) {
  return Live()->m_categories.Remove(category);
}
bool CategoryManager::removeContact(const Contact& contact) {
  return Live()->m_contacts.Remove(contact);
}

}  // namespace brontel
