#include "brontel/contacts/contact.h"

#include <string>
#include <unordered_set>

#include "brontel/contacts/category_cache.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"
#include "record_merge.h"

namespace brontel {

Contact::Contact() = default;
Contact::Contact(ContactHolder* adopted) : RecordHandle(adopted) {}
Contact::Contact(const Contact& other) = default;
Contact& Contact::operator=(const Contact& other) = default;
Contact::~Contact() = default;

Contact::Contact(const CategoryManager& manager) : RecordHandle(new ContactHolder()) {
  setManager(manager);
}

Contact::Contact(const CategoryManager& manager, const Category& category)
    : RecordHandle(new ContactHolder()) {
  setManager(manager);
  setParentCategory(category);
}

Contact Contact::CreateEmpty() {
  return Contact(new ContactHolder());
}

Contact Contact::CreateCloneContact(ContactDescriptor& descriptor, Category& category) {
  CategoryManager manager = category.GetManager();
  BRONTEL_REQUIRE(!manager.IsNull(), "!category.GetManager().IsNull()");
  return manager.CreateNewContact(category, descriptor);
}

void Contact::setManager(const CategoryManager& manager) {
  ContactHolder* h = Live();
  if (manager.IsNull()) {
    h->m_manager.Set(CategoryManagerReference());
  } else {
    h->m_manager.Set(CategoryManagerReference(manager));
  }
}

void Contact::setParentCategory(const Category& category) {
  ContactHolder* h = Live();
  BRONTEL_REQUIRE(category.IsNull() || h->m_manager.Get().IsSameHolder(category.GetManager()),
                  "newValue.IsNull() || m_holder->m_manager.EqualEqual(newValue.GetManager())");
  h->m_parent = category;
}

void Contact::noteChanges(uint32_t oldCacheId, uint32_t oldLocalId, uint32_t oldFixedId) const {
  const ContactHolder* h = Live();
  const uint32_t cacheId = h->m_identification.GetCacheId();
  const uint32_t localId = h->m_identification.GetLocalId();
  const uint32_t fixedId = h->m_identification.GetFixedId();
  if (cacheId == oldCacheId && localId == oldLocalId && fixedId == oldFixedId) return;
  NoteContactSideIdChange();
  CategoryManagerHolder* manager = h->m_manager.Get().holder();
  if (manager == nullptr) return;
  const ContactList& list = manager->m_contacts;
  if (cacheId != oldCacheId) list.noteChangeCacheId(*this, oldCacheId, cacheId);
  if (localId != oldLocalId) list.noteChangeLocalId(*this, oldLocalId, localId);
  if (fixedId != oldFixedId) list.noteChangeFixedId(*this, oldFixedId, fixedId);
}

void Contact::SetCacheId(uint32_t v) {
  IdsBefore before(Live()->m_identification);
  m_holder->m_identification.SetCacheId(v);
  noteChanges(before.cache, before.local, before.fixed);
}
void Contact::SetLocalId(uint32_t v) {
  IdsBefore before(Live()->m_identification);
  m_holder->m_identification.SetLocalId(v);
  noteChanges(before.cache, before.local, before.fixed);
}
void Contact::SetServeId(uint32_t v) {
  SetLocalId(v);
}
void Contact::SetFixedId(uint32_t v) {
  IdsBefore before(Live()->m_identification);
  m_holder->m_identification.SetFixedId(v);
  noteChanges(before.cache, before.local, before.fixed);
}
uint32_t Contact::GenerateFixedId(bool useCacheId) {
  IdsBefore before(Live()->m_identification);
  uint32_t fixedId = m_holder->m_identification.GenerateFixedId(useCacheId);
  noteChanges(before.cache, before.local, before.fixed);
  return fixedId;
}
bool Contact::HasDirtyFixedId() const {
  return Live()->m_identification.GetFixedIdDirtyFlag();
}
void Contact::SetDirtyFixedId() {
  Live()->m_identification.SetFixedIdDirtyFlag(true);
}
void Contact::SetCleanFixedId() {
  Live()->m_identification.SetFixedIdDirtyFlag(false);
}
void Contact::SetClean() {
  Live()->m_status.SetDirtyFlag(false);
}

uint32_t Contact::GetUpperVersion() const {
  CategoryManager manager = Live()->m_manager.Get().Manager();
  return manager.IsNull() ? Versioning::InValidVersion() : manager.GetVersion();
}

bool Contact::IsHeld() const {
  return !IsNull() && !Live()->m_manager.IsNull();
}
CategoryManager Contact::GetManager() const {
  return Live()->m_manager.Get().Manager();
}
ContactDescriptor Contact::GetContactDescriptor() const {
  return Live()->m_descriptor;
}
bool Contact::HashMatched() const {
  return Live()->m_status.GetDataHash() == Live()->m_descriptor.CalculateHash();
}

Category Contact::GetCategory() const {
  return Live()->m_parent;
}
void Contact::SetCategory(const Category& category) {
  Live()->m_parent = category;
}
bool Contact::IsUnfiled() const {
  return Live()->m_parent.IsUnfiled();
}
bool Contact::IsReadOnly() const {
  return Live()->m_parent.IsReadOnly();
}
bool Contact::IsChildOfCategory(const Category& category) const {
  if (category.IsUnfiled()) return IsUnfiled();
  const Category& parent = Live()->m_parent;
  return !parent.IsUnfiled() && parent.IsSameHolder(category);
}
uint32_t Contact::GetLinkVersion() const {
  return Live()->m_linkVersion;
}
void Contact::SetLinkVersion(uint32_t v) {
  Live()->m_linkVersion = v;
}

bool Contact::Equal(const Contact& other) const {
  const ContactHolder* h = Live();
  RequireLiveOther(other);
  return h->m_status.Equal(other.m_holder->m_status) &&
         h->m_descriptor.Equal(other.m_holder->m_descriptor);
}

bool Contact::IsMatching(const Contact& other) const {
  if (IsNull() || other.IsNull()) return false;
  return Live()->m_identification.IsMatching(other.Live()->m_identification, false, false, true);
}

void Contact::MergeIdentity(const Contact& other) {
  if (IsNull() || other.IsNull()) return;
  IdsBefore mine(Live()->m_identification);
  IdsBefore theirs(other.Live()->m_identification);
  m_holder->m_identification.MergeIdentity(other.m_holder->m_identification, true, true, true);
  noteChanges(mine.cache, mine.local, mine.fixed);
  other.noteChanges(theirs.cache, theirs.local, theirs.fixed);
}

void Contact::Copy(const Contact& other) {
  ContactHolder* h = Live();
  RequireLiveOther(other);
  const ContactHolder* o = other.m_holder;
  IdsBefore before(h->m_identification);
  h->m_conflict = o->m_conflict;
  h->m_linkConflict = o->m_linkConflict;
  h->m_readOnlyConflict = o->m_readOnlyConflict;
  h->m_descriptor.Copy(o->m_descriptor);
  h->m_identification.Copy(o->m_identification);
  h->m_status.Copy(o->m_status);
  noteChanges(before.cache, before.local, before.fixed);
}

Contact Contact::Clone(const CategoryManager& manager) const {
  const ContactHolder* h = Live();
  Contact copy = CreateEmpty();
  copy.Copy(*this);
  copy.m_holder->m_linkVersion = h->m_linkVersion;
  copy.m_holder->m_readOnlyConflict = h->m_readOnlyConflict;
  copy.setManager(manager);
  return copy;
}

void Contact::SetConflict(const Contact& other) {
  if (other.IsNull()) {
    Live()->m_conflict = Contact();
    return;
  }
  Contact snapshot = CreateEmpty();
  snapshot.Copy(other);
  Live()->m_conflict = snapshot;
}

void Contact::AcceptConflict() {
  BRONTEL_REQUIRE(!Live()->m_conflict.IsNull(), "!m_holder->m_conflict.IsNull()");
  Contact snapshot = m_holder->m_conflict;
  snapshot.m_holder->m_identification.Copy(m_holder->m_identification);
  Copy(snapshot);
}

bool Contact::IsLinkConflicted() const {
  return !IsNull() && !Live()->m_linkConflict.IsNull();
}

void Contact::SetLinkConflict(const Contact& other) {
  ContactHolder* h = Live();
  if (other.IsNull()) {
    h->m_linkConflict = Contact();
    return;
  }
  Contact copy = CreateEmpty();
  copy.Copy(*this);
  copy.m_holder->m_parent = other.Live()->m_parent;
  copy.m_holder->m_linkVersion = other.m_holder->m_linkVersion;
  h->m_linkConflict = copy;
}

Contact Contact::GetLinkConflict() const {
  return Live()->m_linkConflict;
}

void Contact::AcceptLinkConflict() {
  BRONTEL_REQUIRE(!Live()->m_linkConflict.IsNull(), "!m_holder->m_linkConflict.IsNull()");
  ContactHolder* h = m_holder;
  Contact conflict = h->m_linkConflict;
  Category parent = conflict.m_holder->m_parent;
  // A competing parent from another copy stands for the category of this
  // copy with its fixed id.
  CategoryManager manager = GetManager();
  if (!parent.IsNull() && !manager.IsNull() &&
      !h->m_manager.Get().IsSameHolder(parent.GetManager())) {
    parent = manager.FindByFixedId(parent.GetFixedId(), false);
  }
  h->m_parent = parent;
  h->m_linkVersion = conflict.m_holder->m_linkVersion;
  h->m_linkConflict = Contact();
}

void Contact::RejectLinkConflict() {
  Live()->m_linkConflict = Contact();
}

bool Contact::GetReadOnlyConflict() const {
  return Live()->m_readOnlyConflict;
}
void Contact::SetReadOnlyConflict(bool v) {
  Live()->m_readOnlyConflict = v;
}

bool Contact::Remove() {
  CategoryManager manager = GetManager();
  return manager.IsNull() || manager.removeContact(*this);
}

int32_t Contact::Sync(Contact& other, CategoryManager& cacheManager, bool markDirty) {
  Live();
  RequireLiveOther(other);
  Contact cached =
      cacheManager.IsNull() ? Contact() : cacheManager.FindContactByCacheId(GetCacheId(), false);
  MergeOutcome outcome = DecideMerge(*this, other, cached);
  // The read-only conflict flag belongs to this copy, whatever data it takes.
  const bool readOnlyConflict = m_holder->m_readOnlyConflict;
  int32_t conflicts = ApplyMerge(outcome, *this, other, markDirty);
  if (outcome == MergeOutcome::kTakeOther) m_holder->m_readOnlyConflict = readOnlyConflict;
  return conflicts;
}

namespace {

// Whether two contacts have the same parent: both unfiled, or both filed in
// categories with the same cache id. A missing contact has no parent in common
// with anyone.
bool SameParent(const Contact& a, const Contact& b) {
  if (a.IsNull() || b.IsNull()) return false;
  const bool aUnfiled = a.IsUnfiled();
  const bool bUnfiled = b.IsUnfiled();
  if (aUnfiled || bUnfiled) return aUnfiled && bUnfiled;
  return a.GetCategory().GetCacheId() == b.GetCategory().GetCacheId();
}

// The category of manager with the cache id of the given parent; a null one
// for a null parent or a null manager.
Category CategoryWithCacheIdOf(const CategoryManager& manager, const Category& parent) {
  if (manager.IsNull() || parent.IsNull()) return Category();
  return manager.FindByCacheId(parent.GetCacheId(), false);
}

}  // namespace

int32_t Contact::SyncLink(CategoryCache& cache, CategoryManager& manager, bool markDirty) {
  ContactHolder* h = Live();
  Contact c = cache.FindContactByCacheId(GetCacheId(), false);
  if (c.IsNull()) return 0;
  Contact m = manager.IsNull() ? Contact() : manager.FindContactByCacheId(GetCacheId(), false);

  const uint32_t lv = h->m_linkVersion;
  const uint32_t u = GetUpperVersion();
  const uint32_t clv = c.GetLinkVersion();
  const uint32_t cu = c.GetUpperVersion();

  enum class Outcome { kConflict, kAdoptCache, kGiveLink, kNothing } outcome;
  if (Versioning::LessThan(u, clv)) {
    // The cache's link changed after this copy's version.
    outcome =
        SameParent(*this, c) || SameParent(*this, m) ? Outcome::kAdoptCache : Outcome::kConflict;
  } else if (Versioning::LessThanOrEqualTo(u, cu)) {
    if (SameParent(*this, c)) {
      outcome = Outcome::kNothing;
    } else if (SameParent(c, m)) {
      outcome = Outcome::kGiveLink;  // only this side moved
    } else if (SameParent(*this, m)) {
      outcome = Outcome::kAdoptCache;  // only the cache side moved
    } else {
      outcome = Outcome::kConflict;
    }
  } else {
    // This copy is newer than the cache.
    h->m_linkVersion = Versioning::NewestVersion(lv, cu + 1);
    outcome = SameParent(*this, c) || SameParent(c, m) ? Outcome::kGiveLink : Outcome::kConflict;
  }

  switch (outcome) {
    case Outcome::kConflict:
      return 1;
    case Outcome::kAdoptCache:
      h->m_parent = CategoryWithCacheIdOf(GetManager(), c.GetCategory());
      h->m_linkVersion = clv;
      if (markDirty) SetDirty();
      return 0;
    case Outcome::kGiveLink:
      c.m_holder->m_parent = CategoryWithCacheIdOf(cache.GetCategoryManager(), h->m_parent);
      c.m_holder->m_linkVersion = h->m_linkVersion;
      return 0;
    case Outcome::kNothing: {
      const uint32_t newest = Versioning::NewestVersion(lv, clv);
      h->m_linkVersion = newest;
      c.m_holder->m_linkVersion = newest;
      return 0;
    }
  }
  return 0;
}

std::string Contact::GetShortDisplayString() const {
  const ContactDescriptor& d = Live()->m_descriptor;
  const std::string& last = d.GetDatum(ContactDescriptor::kLastName);
  const std::string& first = d.GetDatum(ContactDescriptor::kFirstName);
  const std::string& company = d.GetDatum(ContactDescriptor::kCompany);
  if (!last.empty()) return first.empty() ? last : last + ", " + first;
  if (!first.empty()) return company.empty() ? first : company + ", " + first;
  if (!company.empty()) return company;
  std::string text = "-Unnamed-";
  for (int32_t i = ContactDescriptor::kFirstPhone; i >= 0; --i) {
    if (!d.GetDatum(i).empty()) text += ", " + d.GetDatum(i);
  }
  return text;
}

std::string Contact::GetUserDisplayString() const {
  return Format("Contact:  %s", GetShortDisplayString().c_str());
}

std::string Contact::GetDisplayString() const {
  if (IsNull()) return "Contact: null";
  const ContactHolder* h = Live();
  std::string markers = IsConflicted() ? "**CONFLICT** " : "";
  if (h->m_readOnlyConflict) markers += " Read Only Conflict";
  return Format("Contact:  %s %s %s %s", h->m_identification.GetDisplayString().c_str(),
                h->m_status.GetDisplayString().c_str(), h->m_descriptor.GetDisplayString().c_str(),
                markers.c_str());
}

namespace {

// The contacts whose trees the display under way has shown already. Conflict
// copies may be shared (Copy shares them), so the copies below one contact
// form a graph rather than a tree: each copy is expanded once, which keeps the
// display in proportion to the data.
thread_local std::unordered_set<const void*>* t_shown = nullptr;

}  // namespace

TreeItem Contact::DisplayTree(TreeView& tree, TreeItem parent) const {
  if (IsNull()) return tree.InsertItem(GetDisplayString(), parent);
  std::unordered_set<const void*> shown;
  const bool outermost = t_shown == nullptr;
  if (outermost) t_shown = &shown;
  struct Reset {
    bool active;
    ~Reset() {
      if (active) t_shown = nullptr;
    }
  } reset{outermost};

  const ContactHolder* h = Live();
  TreeItem item = tree.InsertItem(
      Format("opt=%x flags=%x linkv=%x %s", h->m_descriptor.GetOptions(),
             h->m_descriptor.GetFlags(), h->m_linkVersion, GetDisplayString().c_str()),
      parent);
  if (!t_shown->insert(h).second) return item;  // expanded elsewhere in this tree
  h->m_descriptor.DisplayTree(tree, item);
  TreeItem parentItem = tree.InsertItem("Parent Category", item);
  if (h->m_parent.IsUnfiled()) {
    tree.InsertItem("Parent is Unfiled", parentItem);
  } else {
    tree.InsertItem(Format("Parent %s", h->m_parent.GetDisplayString().c_str()), parentItem);
  }
  DisplayConflict(tree, item);
  if (IsLinkConflicted()) {
    const Contact& conflict = h->m_linkConflict;
    TreeItem under = tree.InsertItem(
        Format("Link Conflicts with %s", conflict.GetDisplayString().c_str()), item);
    conflict.DisplayTree(tree, under);
  }
  return item;
}

std::unique_ptr<LogNode> Contact::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<Contact>>(name, *this);
}

}  // namespace brontel
