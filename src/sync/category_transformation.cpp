#include "brontel/sync/category_transformation.h"

#include <unordered_map>
#include <utility>
#include <vector>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/log_node.h"
#include "brontel/core/uid128.h"
#include "brontel/core/versioning.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

// What one pass decides for a record that only one side holds.
enum class Action {
  kAddToCache,
  kDeleteFromMain,
  kConflict,
  kAddToMain,
  kRemoveFromCache,
  kNothing,
};

// A record to make in main: a copy of data, filed where link (a cache record)
// is filed. For a conflict, data is a deleted copy of link that carries it as
// its conflict; otherwise both are the cache record.
template <class Record>
struct Download {
  Record data;
  Record link;
};

// What one pass of categories or contacts decides before it changes anything;
// the apply phase then works through the lists in a fixed order.
template <class Record>
struct Plan {
  // (main's record, cache's record): merged by the record's own Sync.
  std::vector<std::pair<Record, Record>> reconcile;
  // Main's records that stay, conflicting with a deletion elsewhere.
  std::vector<Record> conflictHere;
  std::vector<Record> addToCache;
  std::vector<Download<Record>> addToMain;
  std::vector<Record> removeFromCache;
  std::vector<Record> deleteFromMain;
  int32_t conflicts = 0;
};

// A side's data is matched when its data hash is set and still describes it
// (the data did not change since the hash was taken).
template <class Record>
bool Matched(const Record& r) {
  return r.GetDataHash() != 0 && r.HashMatched();
}

// A live record m of main with a cache id that the cache holds no live record
// for (s is the shadow's record with that cache id). The same table serves
// categories and contacts.
//
//   shadow's record s | m compared with s           | action
//   ------------------+-----------------------------+------------------------------------
//   none or deleted   | -                           | add to cache (made again here)
//   live              | equal                       | delete from main (deleted elsewhere,
//                     |                             |   unchanged here)
//   live              | differs, m's hash matches   | delete from main
//   live              | differs, m changed          | conflict: m stays, with a deleted
//                     |                             |   copy of itself as its conflict
template <class Record>
Action DecideMainOnly(const Record& m, const Record& s) {
  if (s.IsDeleted()) return Action::kAddToCache;
  if (m.Equal(s) || Matched(m)) return Action::kDeleteFromMain;
  return Action::kConflict;
}

// A category u of the cache that no category of main reached (s is the
// shadow's category with u's cache id).
//
//   shadow's category s | u compared with s | action
//   --------------------+-------------------+--------------------------------------------
//   none or deleted     | -                 | add to main (new elsewhere); nothing when u
//                       |                   |   is deleted
//   live                | equal             | remove from cache (main deleted it, and the
//                       |                   |   cache did not change it)
//   live                | differs           | conflict: a deleted copy of u that carries u
//                       |                   |   as its conflict goes to main
Action DecideCacheOnlyCategory(const Category& u, const Category& s) {
  if (s.IsDeleted()) return u.IsDeleted() ? Action::kNothing : Action::kAddToMain;
  return s.Equal(u) ? Action::kRemoveFromCache : Action::kConflict;
}

// A contact u of the cache that no contact of main reached. CV and MV are the
// versions of the cache manager and of main before the pass; "newer" is CV
// greater than MV. s is the shadow's contact with u's cache id.
//
//   u's data hash      | versions, u's category          | shadow's s   | action
//   -------------------+---------------------------------+--------------+------------------
//   0                  | -                               | live, equal  | remove from cache
//   0                  | -                               | live, differs| conflict
//   0                  | -                               | none/deleted | add to main
//   matches its data   | newer                           | -            | add to main
//   matches its data   | CV = MV, category read-only     | -            | add to main (a
//                      |   and not deleted               |              |   deletion in a
//                      |                                 |              |   read-only category
//                      |                                 |              |   is undone)
//   matches its data   | otherwise                       | -            | remove from cache
//   changed            | newer                           | -            | add to main
//   changed            | not newer                       | live, equal  | remove from cache
//   changed            | not newer                       | otherwise    | conflict
//
// A conflict adds to main a deleted copy of u that carries u as its conflict.
Action DecideCacheOnlyContact(const Contact& u, const Contact& s, uint32_t cacheVersion,
                              uint32_t mainVersion) {
  const bool cacheNewer = Versioning::GreaterThan(cacheVersion, mainVersion);
  if (u.GetDataHash() == 0) {
    if (s.IsDeleted()) return Action::kAddToMain;
    return s.Equal(u) ? Action::kRemoveFromCache : Action::kConflict;
  }
  if (u.HashMatched()) {
    if (cacheNewer) return Action::kAddToMain;
    Category category = u.GetCategory();
    if (Versioning::EqualTo(cacheVersion, mainVersion) && category.IsReadOnly() &&
        !category.IsDeleted()) {
      return Action::kAddToMain;
    }
    return Action::kRemoveFromCache;
  }
  if (cacheNewer) return Action::kAddToMain;
  return !s.IsDeleted() && s.Equal(u) ? Action::kRemoveFromCache : Action::kConflict;
}

// What becomes of the link (the category) of a live contact x of main.
enum class LinkAction { kSkip, kKeep, kFollowCache, kGiveLink, kRecordMerge };

// True when both contacts are in the same category: compared by cache id, and
// every unfiled category (and a null one) is the same. A missing contact
// shares no category.
bool SameCategory(const Contact& a, const Contact& b) {
  if (a.IsNull() || b.IsNull()) return false;
  const bool aUnfiled = a.IsUnfiled();
  const bool bUnfiled = b.IsUnfiled();
  if (aUnfiled || bUnfiled) return aUnfiled && bUnfiled;
  return a.GetCategory().GetCacheId() == b.GetCategory().GetCacheId();
}

// x against its cache counterpart c and the shadow's copy s (null when the
// shadow does not know x), which is looked up only when needed.
//
//   c              | x and c  | x's category | c and s | action
//   ---------------+----------+--------------+---------+------------------------------------
//   missing or     | -        | -            | -       | skip
//     deleted      |          |              |         |
//   live           | same     | -            | -       | keep: both take the newer link
//                  |          |              |         |   version; nothing is marked
//   live           | differ   | not in the   | -       | follow: x takes c's category (its
//                  |          |   cache      |         |   own is gone or going)
//   live           | differ   | in the cache | same    | give: only x moved since the last
//                  |          |              |         |   synchronization, and the cache
//                  |          |              |         |   follows it whatever the versions say
//   live           | differ   | in the cache | differ  | the record's own link merge: x
//                  |          |              |         |   follows the cache when only the
//                  |          |              |         |   cache moved, else a link conflict
//
// x is skipped too when its conflict copy is deleted (deleted elsewhere,
// changed here): the contact pass decided its fate, and until the user does
// there is no cache link to merge with.
//
// Left to the versions, a cache link version newer than main's version would
// make a conflict of a move that only x made: before any server
// synchronization every link version (0) is newer than the managers' (the
// invalid version), and no move would ever travel.
LinkAction DecideLink(const Contact& x, const Contact& c, const CategoryManager& cacheManager,
                      const CategoryManager& shadow) {
  if (c.IsDeleted()) return LinkAction::kSkip;
  if (x.IsConflicted() && x.GetConflict().IsDeleted()) return LinkAction::kSkip;
  if (SameCategory(x, c)) return LinkAction::kKeep;
  if (!x.IsUnfiled() &&
      cacheManager.FindByCacheId(x.GetCategory().GetCacheId(), false).IsDeleted()) {
    return LinkAction::kFollowCache;
  }
  // Only a contact whose category differs from the cache's needs the shadow.
  Contact s = shadow.FindContactByCacheId(c.GetCacheId(), false);
  if (SameCategory(c, s)) return LinkAction::kGiveLink;
  return LinkAction::kRecordMerge;
}

// The category of target that stands for parent (a category of another copy):
// the one with parent's cache id. A null parent stays null. An unfiled parent,
// or a filed one whose category target does not hold, becomes target's unfiled
// category (null when it has none): the contact is unfiled there.
Category CategoryIn(const CategoryManager& target, const Category& parent) {
  if (parent.IsNull()) return Category();
  Category found = target.FindByCacheId(parent.GetCacheId(), false);
  if (!found.IsNull()) return found;
  return target.GetUnfiled();
}

// Main's record with cache id (not 0) when it is deleted: a record the handheld
// deleted is still in main, waiting for the conduit, and takes a copy that
// comes back rather than standing beside a second record of its ids. It keeps
// its own local id, which names it in the handheld's store.
Category DeletedCategory(const CategoryManager& main, uint32_t cacheId) {
  Category c = cacheId == 0 ? Category() : main.FindByCacheId(cacheId, false);
  return !c.IsNull() && c.IsDeleted() ? c : Category();
}
Contact DeletedContact(const CategoryManager& main, uint32_t cacheId) {
  Contact c = cacheId == 0 ? Contact() : main.FindContactByCacheId(cacheId, false);
  return !c.IsNull() && c.IsDeleted() ? c : Contact();
}

// Takes every one of records out of list in one pass over it: removing them one
// at a time would shift the array once for each. Every record carries a cache
// id (each was found by it), which narrows the holder comparison.
template <class List, class Record>
void RemoveAll(List& list, const std::vector<Record>& records) {
  if (records.empty()) return;
  std::unordered_multimap<uint32_t, Record> leaving;
  leaving.reserve(records.size());
  for (const Record& r : records) leaving.emplace(r.GetCacheId(), r);
  list.RemoveIf([&leaving](const Record& e) {
    if (e.IsNull()) return false;
    auto [first, last] = leaving.equal_range(e.GetCacheId());
    for (auto it = first; it != last; ++it) {
      if (it->second.IsSameHolder(e)) return true;
    }
    return false;
  });
}

// Files as unfiled every contact of manager whose category the manager no
// longer holds (one a pass took out of it): such a contact must not point at a
// category outside its manager.
void UnfileOrphans(CategoryManager& manager) {
  ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    Contact x = contacts[i];
    if (x.IsNull() || x.IsUnfiled()) continue;
    Category parent = x.GetCategory();
    if (manager.FindByCacheId(parent.GetCacheId(), false).IsSameHolder(parent)) continue;
    if (manager.HasCategory(parent)) continue;
    manager.MakeUnfiled(x);
  }
}

}  // namespace

CategoryTransformation::CategoryTransformation()
    : m_main(CategoryManager::CreateEmpty()), m_shadow(CategoryManager::CreateEmpty()) {}

CategoryTransformation::CategoryTransformation(const CategoryTransformation& other) = default;
CategoryTransformation& CategoryTransformation::operator=(const CategoryTransformation& other) =
    default;
CategoryTransformation::~CategoryTransformation() = default;

CategoryTransformation CategoryTransformation::Clone() const {
  CategoryTransformation copy(*this);
  copy.m_cache = m_cache.Clone();
  copy.m_main = m_main.IsNull() ? CategoryManager::CreateNull() : m_main.Clone();
  copy.m_shadow = m_shadow.IsNull() ? CategoryManager::CreateNull() : m_shadow.Clone();
  return copy;
}

bool CategoryTransformation::SanityCheck() const {
  if (m_main.IsNull() || m_shadow.IsNull()) return false;
  return m_cache.SanityCheck() && m_main.SanityCheck() && m_shadow.SanityCheck();
}

int32_t CategoryTransformation::SyncClient() {
  // A client or shadow that was never loaded holds nothing yet.
  if (m_main.IsNull()) m_main = CategoryManager::CreateEmpty();
  if (m_shadow.IsNull()) m_shadow = CategoryManager::CreateEmpty();
  CategoryManager cacheManager = m_cache.GetCategoryManager();

  m_categoryLimit = false;
  // Only a handheld can hit the limit, and then gets its copy back unchanged.
  CategoryManager handedIn = m_handheld ? m_main.Clone() : CategoryManager::CreateNull();
  int32_t conflicts = 0;
  if (synchronizeGids()) {
    m_globalIdFailure = false;
    resolveIdentity();
    conflicts = synchronizeCategories();
    m_categoryLimit = m_handheld && exceedsCategoryLimit();
    if (!m_categoryLimit) {
      conflicts += synchronizeContacts();
      conflicts += synchronizeContactLinks();
      // Contacts still filed in a category that this run took out of their
      // manager are unfiled now.
      UnfileOrphans(cacheManager);
      UnfileOrphans(m_main);
      m_main.ResolveVersion(cacheManager);
    }
  } else {
    m_globalIdFailure = true;
  }
  if (m_categoryLimit) {
    m_main = handedIn;
  } else {
    m_shadow = cacheManager.Clone();
  }
  m_notYetRun = false;
  return conflicts;
}

bool CategoryTransformation::exceedsCategoryLimit() const {
  const CategoryList& categories = m_main.GetCategoryList();
  if (categories.GetListCount() <= kHandheldCategoryLimit) return false;
  int32_t filed = 0;
  for (int32_t i = 0; i < categories.GetListCount() && filed <= kHandheldCategoryLimit; ++i) {
    const Category& c = categories[i];
    if (!c.IsDeleted() && !c.IsUnfiled()) ++filed;
  }
  return filed > kHandheldCategoryLimit;
}

bool CategoryTransformation::synchronizeGids() {
  CategoryManager cacheManager = m_cache.GetCategoryManager();
  UID128 cacheGid = cacheManager.GetGID();
  UID128 mainGid = m_main.GetGID();
  if (cacheGid == mainGid) return true;
  if (cacheGid.IsZero()) {
    cacheManager.SetGID(mainGid);
    return true;
  }
  if (mainGid.IsZero()) {
    m_main.SetGID(cacheGid);
    return true;
  }
  return false;
}

void CategoryTransformation::resolveIdentity() {
  CategoryManager cacheManager = m_cache.GetCategoryManager();
  m_main.GenerateFixedIds(false);
  cacheManager.GenerateFixedIds(false);
  m_shadow.GenerateFixedIds(false);
  m_main.ResolveIdentity(cacheManager);
  m_main.ResolveIdentity(m_shadow);
  // Each copy has at most one unfiled category, and they all stand for the
  // same thing: main's is the cache's. Left apart, each would travel to the
  // other side as a second unfiled category.
  Category mainUnfiled = m_main.GetUnfiled();
  Category cacheUnfiled = cacheManager.GetUnfiled();
  if (mainUnfiled.IsDeleted() || cacheUnfiled.IsDeleted()) return;
  uint32_t cacheId = mainUnfiled.GetCacheId();
  if (cacheId == cacheUnfiled.GetCacheId()) return;
  if (cacheId != 0 && !cacheManager.FindByCacheId(cacheId, false).IsDeleted()) return;
  if (!m_main.FindByCacheId(cacheUnfiled.GetCacheId(), false).IsNull()) return;
  mainUnfiled.SetCacheId(cacheUnfiled.GetCacheId());
}

int32_t CategoryTransformation::synchronizeCategories() {
  CategoryManager cacheManager = m_cache.GetCategoryManager();
  const BR_SOURCE source = GetSource();
  // Marks left by an earlier run on this cache would hide its categories from
  // the untouched list.
  cacheManager.GetCategoryList().ClearTouched();

  // Decide.
  Plan<Category> plan;
  const CategoryList& mainCategories = m_main.GetCategoryList();
  for (int32_t i = 0; i < mainCategories.GetListCount(); ++i) {
    Category m = mainCategories[i];
    if (m.IsDeleted()) continue;
    const uint32_t cacheId = m.GetCacheId();
    if (cacheId == 0) {
      plan.addToCache.push_back(m);  // new in main
      continue;
    }
    Category c = m_cache.FindByCacheId(cacheId, true);
    if (!c.IsDeleted()) {
      plan.reconcile.emplace_back(m, c);
      continue;
    }
    switch (DecideMainOnly(m, m_shadow.FindByCacheId(cacheId, false))) {
      case Action::kAddToCache:
        plan.addToCache.push_back(m);
        break;
      case Action::kDeleteFromMain:
        plan.deleteFromMain.push_back(m);
        break;
      default:
        ++plan.conflicts;
        plan.conflictHere.push_back(m);
        break;
    }
  }
  CategoryList untouched = m_cache.GetUntouched();
  for (int32_t i = 0; i < untouched.GetListCount(); ++i) {
    Category u = untouched[i];
    switch (DecideCacheOnlyCategory(u, m_shadow.FindByCacheId(u.GetCacheId(), false))) {
      case Action::kAddToMain:
        plan.addToMain.push_back({u, u});
        break;
      case Action::kRemoveFromCache:
        plan.removeFromCache.push_back(u);
        break;
      case Action::kNothing:
        break;
      default: {
        ++plan.conflicts;
        Category copy = Category::CreateEmpty();
        copy.Copy(u);
        copy.SetDeleted();
        copy.SetConflict(u);
        copy.SetSource(source);
        plan.addToMain.push_back({copy, u});
        break;
      }
    }
  }

  // Apply.
  int32_t conflicts = plan.conflicts;
  for (auto& [m, c] : plan.reconcile) {
    m.SetSource(source);
    conflicts += m.Sync(c, m_shadow, m_handheld);
  }
  for (Category& m : plan.conflictHere) {
    Category copy = Category::CreateEmpty();
    copy.Copy(m);
    copy.SetDeleted();
    copy.SetSource(SOURCE_NONE);
    m.SetConflict(copy);
  }
  for (Category& m : plan.addToCache) m_cache.AddItem(m).SetSource(source);
  for (Download<Category>& x : plan.addToMain) {
    Category made = DeletedCategory(m_main, x.data.GetCacheId());
    if (made.IsNull()) made = m_main.CreateNewCategory(false);
    const uint32_t localId = made.GetLocalId();
    made.Copy(x.data);
    if (localId != 0) made.SetLocalId(localId);
    if (m_handheld) made.SetDirty();
  }
  for (Category& u : plan.removeFromCache) u.SetDeleted();
  RemoveAll(cacheManager.GetCategoryList(), plan.removeFromCache);
  for (Category& m : plan.deleteFromMain) {
    m.SetDeleted();
    if (m_handheld) m.SetDirty();  // the conduit deletes it on the handheld
  }
  if (!m_handheld) RemoveAll(m_main.GetCategoryList(), plan.deleteFromMain);

  // Subscribed categories of one name get distinct names; only the renames
  // in the cache reach the user (main's repeat them).
  cacheManager.CoerceNames(m_userNotices, false);
  m_main.CoerceNames(nullptr, m_handheld);
  return conflicts;
}

int32_t CategoryTransformation::synchronizeContacts() {
  CategoryManager cacheManager = m_cache.GetCategoryManager();
  const BR_SOURCE source = GetSource();
  const uint32_t cacheVersion = cacheManager.GetVersion();
  const uint32_t mainVersion = m_main.GetVersion();
  cacheManager.GetContactList().ClearTouched();

  // Decide.
  Plan<Contact> plan;
  const ContactList& mainContacts = m_main.GetContactList();
  for (int32_t i = 0; i < mainContacts.GetListCount(); ++i) {
    Contact m = mainContacts[i];
    if (m.IsDeleted()) continue;
    const uint32_t cacheId = m.GetCacheId();
    if (cacheId == 0) {
      plan.addToCache.push_back(m);  // new in main
      continue;
    }
    Contact c = m_cache.FindContactByCacheId(cacheId, true);
    if (!c.IsDeleted()) {
      plan.reconcile.emplace_back(m, c);
      continue;
    }
    switch (DecideMainOnly(m, m_shadow.FindContactByCacheId(cacheId, false))) {
      case Action::kAddToCache:
        plan.addToCache.push_back(m);
        break;
      case Action::kDeleteFromMain:
        plan.deleteFromMain.push_back(m);
        break;
      default:
        ++plan.conflicts;
        plan.conflictHere.push_back(m);
        break;
    }
  }
  ContactList untouched = m_cache.GetUntouchedContacts();
  for (int32_t i = 0; i < untouched.GetListCount(); ++i) {
    Contact u = untouched[i];
    Contact s = m_shadow.FindContactByCacheId(u.GetCacheId(), false);
    switch (DecideCacheOnlyContact(u, s, cacheVersion, mainVersion)) {
      case Action::kAddToMain:
        plan.addToMain.push_back({u, u});
        break;
      case Action::kRemoveFromCache:
        plan.removeFromCache.push_back(u);
        break;
      default: {
        ++plan.conflicts;
        Contact copy = Contact::CreateEmpty();
        copy.Copy(u);
        copy.SetDeleted();
        copy.SetConflict(u);
        copy.SetSource(source);
        plan.addToMain.push_back({copy, u});
        break;
      }
    }
  }

  // Apply.
  int32_t conflicts = plan.conflicts;
  for (auto& [m, c] : plan.reconcile) {
    m.SetSource(source);
    conflicts += m.Sync(c, m_shadow, m_handheld);
  }
  for (Contact& m : plan.conflictHere) {
    Contact copy = Contact::CreateEmpty();
    copy.Copy(m);
    copy.SetDeleted();
    copy.SetSource(SOURCE_NONE);
    m.SetConflict(copy);
  }
  for (Contact& m : plan.addToCache) {
    Category parent = CategoryIn(cacheManager, m.GetCategory());
    Contact added = m_cache.AddItem(parent, m);
    added.SetLinkVersion(m.GetLinkVersion());
    added.SetSource(source);
  }
  for (Download<Contact>& x : plan.addToMain) {
    Contact made = DeletedContact(m_main, x.data.GetCacheId());
    if (made.IsNull()) made = m_main.CreateNewContact();
    const uint32_t localId = made.GetLocalId();
    made.Copy(x.data);
    if (localId != 0) made.SetLocalId(localId);
    made.SetCategory(CategoryIn(m_main, x.link.GetCategory()));
    made.SetLinkVersion(x.link.GetLinkVersion());
    if (m_handheld) made.SetDirty();
  }
  RemoveAll(cacheManager.GetContactList(), plan.removeFromCache);
  if (m_handheld) {
    for (Contact& m : plan.deleteFromMain) {
      m.SetDeleted();  // the conduit deletes it on the handheld
      m.SetDirty();
    }
  } else {
    RemoveAll(m_main.GetContactList(), plan.deleteFromMain);
  }
  return conflicts;
}

int32_t CategoryTransformation::synchronizeContactLinks() {
  CategoryManager cacheManager = m_cache.GetCategoryManager();

  // Decide.
  std::vector<std::pair<Contact, Contact>> keep;  // (main's, cache's)
  std::vector<std::pair<Contact, Contact>> follow;
  std::vector<std::pair<Contact, Contact>> give;
  std::vector<Contact> merge;
  const ContactList& mainContacts = m_main.GetContactList();
  for (int32_t i = 0; i < mainContacts.GetListCount(); ++i) {
    Contact x = mainContacts[i];
    if (x.IsDeleted()) continue;
    const uint32_t cacheId = x.GetCacheId();
    Contact c = cacheId == 0 ? Contact() : m_cache.FindContactByCacheId(cacheId, false);
    switch (DecideLink(x, c, cacheManager, m_shadow)) {
      case LinkAction::kKeep:
        keep.emplace_back(x, c);
        break;
      case LinkAction::kFollowCache:
        follow.emplace_back(x, c);
        break;
      case LinkAction::kGiveLink:
        give.emplace_back(x, c);
        break;
      case LinkAction::kRecordMerge:
        merge.push_back(x);
        break;
      case LinkAction::kSkip:
        break;
    }
  }

  // Apply. Link conflicts are only counted: no link-conflict copy is kept.
  int32_t conflicts = 0;
  for (auto& [x, c] : keep) {
    const uint32_t newest = Versioning::NewestVersion(x.GetLinkVersion(), c.GetLinkVersion());
    x.SetLinkVersion(newest);
    c.SetLinkVersion(newest);
  }
  for (auto& [x, c] : follow) {
    x.SetCategory(CategoryIn(m_main, c.GetCategory()));
    x.SetLinkVersion(c.GetLinkVersion());
    if (m_handheld) x.SetDirty();
  }
  for (auto& [x, c] : give) {
    const uint32_t newest = Versioning::NewestVersion(x.GetLinkVersion(), c.GetLinkVersion());
    c.SetCategory(CategoryIn(cacheManager, x.GetCategory()));
    x.SetLinkVersion(newest);
    c.SetLinkVersion(newest);
  }
  for (Contact& x : merge) conflicts += x.SyncLink(m_cache, m_shadow, m_handheld);
  return conflicts;
}

std::string CategoryTransformation::GetDisplayString() const {
  return m_handheld ? "Category Tranformation Handheld" : "Category Tranformation Desktop";
}

TreeItem CategoryTransformation::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item =
      tree.InsertItem(GetDisplayString() + (m_categoryLimit ? " category limit" : ""), parent);
  std::string state =
      Format("%s%s", m_notYetRun ? " before" : " after", m_globalIdFailure ? " guid failure" : "");
  m_cache.DisplayTree(tree, tree.InsertItem("cache" + state, item));
  m_main.DisplayTree(tree, tree.InsertItem("main" + state, item));
  m_shadow.DisplayTree(tree, tree.InsertItem("shadow" + state, item));
  return item;
}

void CategoryTransformation::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteFlag(m_handheld);
    ar.WriteFlag(m_globalIdFailure);
    ar.WriteFlag(m_categoryLimit);
    ar.WriteFlag(m_notYetRun);
  } else {
    m_handheld = ar.ReadFlag();
    m_globalIdFailure = ar.ReadFlag();
    m_categoryLimit = ar.ReadFlag();
    m_notYetRun = ar.ReadFlag();
  }
  m_cache.SerializeQuick(ar, version);
  m_main.SerializeQuick(ar, version);
  m_shadow.SerializeQuick(ar, version);
}

std::unique_ptr<LogNode> CategoryTransformation::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CategoryTransformation>>(name, *this);
}

void CategoryTransformation::Activate(int32_t mode, const std::string&) {
  if (mode != 0 || !m_notYetRun) return;
  Clone().SyncClient();
}

}  // namespace brontel
