#include "brontel/sync/category_server_transformation.h"

#include <optional>
#include <type_traits>
#include <unordered_map>
#include <vector>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/log_node.h"
#include "brontel/core/uid128.h"
#include "brontel/core/versioning.h"
#include "brontel/host/sync_progress.h"
#include "brontel/host/time_logger.h"
#include "brontel/host/user_notice_manager.h"
#include "brontel/lists/link.h"
#include "brontel/platform/format.h"
#include "brontel/protocol/xml_requestor.h"
#include "brontel/protocol/xml_responder.h"
#include "unacknowledged_claim.h"

namespace brontel {
namespace {

// ---- Categories as contacts see them ----
//
// A contact's parent may be null: it is then unfiled, exactly as one in the
// unfiled category. Every question about a contact's category goes through
// these helpers so that a null parent answers as the unfiled category does and
// is never dereferenced.

// The sharing flags of category; a null category has those of a new unfiled
// one (owned, not shared, writable).
CategoryDescriptor FlagsOf(const Category& category) {
  return category.IsNull() ? CategoryDescriptor() : category.GetCategoryDescriptor();
}

bool IsShared(const Category& category) {
  return FlagsOf(category).GetSharedFlag();
}

bool IsOwned(const Category& category) {
  return FlagsOf(category).GetOwnedFlag();
}

// Deleted as a record: a null (unfiled) parent is not a deleted category.
bool IsDeletedCategory(const Category& category) {
  return !category.IsNull() && category.IsDeleted();
}

// Two parents of copies of one contact stand for the same category: both
// unfiled, or both filed with the same fixed id.
bool SameCategory(const Category& a, const Category& b) {
  const bool aUnfiled = a.IsUnfiled();
  const bool bUnfiled = b.IsUnfiled();
  if (aUnfiled || bUnfiled) return aUnfiled && bUnfiled;
  return a.GetFixedId() == b.GetFixedId();
}

// The category of manager that stands for category (one of another copy): the
// one with its fixed id, or for an unfiled category the manager's unfiled one
// (null when the manager has none, which is unfiled all the same). Nothing
// when a filed category has no counterpart.
std::optional<Category> CounterpartIn(const CategoryManager& manager, const Category& category) {
  if (category.IsUnfiled()) return manager.GetUnfiled();
  Category found = manager.FindByFixedId(category.GetFixedId(), false);
  if (found.IsNull()) return std::nullopt;
  return found;
}

// The counterpart, null when there is none.
Category CounterpartOrNull(const CategoryManager& manager, const Category& category) {
  return CounterpartIn(manager, category).value_or(Category());
}

// A live filed category: where a contact of the server can be placed.
bool IsLiveFiled(const Category& category) {
  return !category.IsNull() && !category.IsDeleted() && !category.IsUnfiled();
}

// The link naming category in a request: by server id, or by the client's fixed
// id when the server does not know it yet.
Link LinkTo(const Category& category, uint32_t linkVersion) {
  const uint32_t serverId = category.GetServeId();
  return Link(serverId, serverId == 0 ? category.GetFixedId() : 0, linkVersion, 0);
}

// ---- Lists ----

// Takes every one of records out of list in one pass over it (removing them one
// at a time would shift the array once for each).
template <class List, class Record>
void RemoveAll(List& list, const std::vector<Record>& records) {
  if (records.empty()) return;
  std::unordered_multimap<uint32_t, Record> leaving;
  leaving.reserve(records.size());
  for (const Record& r : records) leaving.emplace(r.GetFixedId(), r);
  list.RemoveIf([&leaving](const Record& e) {
    if (e.IsNull()) return false;
    auto [first, last] = leaving.equal_range(e.GetFixedId());
    for (auto it = first; it != last; ++it) {
      if (it->second.IsSameHolder(e)) return true;
    }
    return false;
  });
}

// A server record added to the cache keeps no server id there (the cache's
// local ids are not the server's) and comes from the server.
template <class Record>
void StampFromServer(Record& added) {
  added.SetServeId(0);
  added.SetSource(SOURCE_SERVER);
}

// Adds the shadow's contact s to the cache in parent. A contact the responder
// could not give a fixed id (another record here holds the one it derives)
// takes the provisional id of its new cache record, in the shadow too, so that
// the two meet again in the next pass.
Contact AddFromServer(CategoryCache& cache, Category& parent, Contact& s) {
  Contact added = cache.AddItem(parent, s);
  if (added.IsNull()) return added;
  StampFromServer(added);
  added.SetLinkVersion(s.GetLinkVersion());
  if (added.GetFixedId() == 0) s.SetFixedId(added.GenerateFixedId(true));
  return added;
}

void Notify(UserNoticeManager* notices, UserNotificationType type, const std::string& text) {
  if (notices != nullptr) notices->AddDetail(type, text);
}

std::string MovedToUnfiled(const Contact& contact) {
  return Format("Contact %s moved to Unfiled", contact.GetShortDisplayString().c_str());
}

std::string MovedToCategory(const Contact& contact, const Category& category) {
  return Format("Contact %s moved to category %s", contact.GetShortDisplayString().c_str(),
                category.GetShortDisplayString().c_str());
}

// ---- Records the server took while its answer was lost ----

// A record of the answer that the engine would add to the cache as new: live,
// new since the cache's version, not yet bound to a cache record, and made
// from its server id alone (the answer named no local id of this client).
template <class Record>
bool ArrivedUnnamed(const Record& s, const CategoryManager& cacheManager) {
  return !s.IsNull() && !s.IsDeleted() && s.GetCacheId() == 0 && s.GetServeId() != 0 &&
         s.GetFixedId() == s.GetServeId() && cacheManager.IsNewToMe(s);
}

// Categories and contacts of the answer that the server took from this client
// in an exchange whose answer never reached the cache take the fixed ids of
// the cache's unacknowledged copies (ClaimUnacknowledged): an owned shared
// category with the same descriptor, a contact with the same data in the same
// category. Categories go first, so that a contact in a claimed category
// compares by the fixed id the category now shares.
void ClaimUnacknowledgedRecords(const CategoryCache& cache, const CategoryManager& shadow) {
  const CategoryManager cacheManager = cache.GetCategoryManager();
  // Every change pass follows a pass that gave the cache the server's version:
  // a cache without one has sent nothing yet. The records of a desktop that
  // joins the account with data of its own stay its own.
  if (!Versioning::IsValidVersion(cacheManager.GetVersion())) return;

  std::vector<Category> arrivedCategories;
  const CategoryList& served = shadow.GetCategoryList();
  for (int32_t i = 0; i < served.GetListCount(); ++i) {
    const Category& s = served[i];
    if (s.IsUnfiled() || !ArrivedUnnamed(s, cacheManager)) continue;
    if (cache.FindByFixedId(s.GetFixedId(), false).IsNull()) arrivedCategories.push_back(s);
  }
  std::vector<Category> pendingCategories;
  const CategoryList& categories = cacheManager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    const Category& k = categories[i];
    if (k.IsUnfiled() || k.IsDeleted() || !IsShared(k) || !IsOwned(k)) continue;
    if (k.GetFixedId() == 0) continue;
    if (shadow.FindByFixedId(k.GetFixedId(), false).IsNull()) pendingCategories.push_back(k);
  }
  ClaimUnacknowledged(
      arrivedCategories, pendingCategories,
      [](const Category& c) { return c.GetCategoryDescriptor().GetCategoryName(); },
      [](const Category& s, const Category& k) {
        return k.GetCategoryDescriptor().Equal(s.GetCategoryDescriptor());
      });

  std::vector<Contact> arrivedContacts;
  const ContactList& servedContacts = shadow.GetContactList();
  for (int32_t i = 0; i < servedContacts.GetListCount(); ++i) {
    const Contact& s = servedContacts[i];
    if (!ArrivedUnnamed(s, cacheManager)) continue;
    if (cache.FindContactByFixedId(s.GetFixedId(), false).IsNull()) arrivedContacts.push_back(s);
  }
  // The contacts a change pass would insert: live, not private, filed in a
  // shared category that is not read-only.
  std::vector<Contact> pendingContacts;
  const ContactList& contacts = cacheManager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    const Contact& k = contacts[i];
    if (k.IsDeleted() || k.IsUnfiled() || k.GetFixedId() == 0) continue;
    const Category category = k.GetCategory();
    if (k.GetContactDescriptor().GetIsPrivate() || !IsShared(category) || category.IsReadOnly()) {
      continue;
    }
    if (shadow.FindContactByFixedId(k.GetFixedId(), false).IsNull()) pendingContacts.push_back(k);
  }
  ClaimUnacknowledged(
      arrivedContacts, pendingContacts,
      [](const Contact& c) {
        return c.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName);
      },
      [](const Contact& s, const Contact& k) {
        return k.GetContactDescriptor().Equal(s.GetContactDescriptor()) &&
               SameCategory(k.GetCategory(), s.GetCategory());
      });
}

}  // namespace

CategoryServerTransformation::CategoryServerTransformation()
    : m_serverBefore(CategoryManager::CreateEmpty()),
      m_serverShadow(CategoryManager::CreateEmpty()) {}

CategoryServerTransformation::CategoryServerTransformation(
    const CategoryServerTransformation& other) = default;
CategoryServerTransformation& CategoryServerTransformation::operator=(
    const CategoryServerTransformation& other) = default;
CategoryServerTransformation::~CategoryServerTransformation() = default;

namespace {

CategoryManager CloneOf(const CategoryManager& manager) {
  return manager.IsNull() ? CategoryManager::CreateNull() : manager.Clone();
}

}  // namespace

void CategoryServerTransformation::KeepBefore() {
  m_cacheBefore = m_cache.Clone();
  m_serverBefore = CloneOf(m_serverShadow);
}

CategoryServerTransformation CategoryServerTransformation::Clone() const {
  CategoryServerTransformation copy(*this);
  copy.m_cacheBefore = m_cacheBefore.Clone();
  copy.m_serverBefore = CloneOf(m_serverBefore);
  copy.m_cache = m_cache.Clone();
  copy.m_serverShadow = CloneOf(m_serverShadow);
  return copy;
}

bool CategoryServerTransformation::SanityCheck() const {
  if (m_serverShadow.IsNull()) return false;
  return m_cache.SanityCheck() && m_serverShadow.SanityCheck();
}

void CategoryServerTransformation::timeLogBegin(const std::string& label) {
  if (m_timeLogger != nullptr) m_timeLogger->MarkBegin(label);
}

void CategoryServerTransformation::timeLogEnd() {
  if (m_timeLogger != nullptr) m_timeLogger->MarkEnd();
}

// ---- The exchange ----

br_error CategoryServerTransformation::SyncServer(LogList* log, const char* directory,
                                                  SyncProgressCallback callback, bool send) {
  m_conflicts = 0;
  m_errorMessage.clear();
  CategoryManager cacheManager = m_cache.GetCategoryManager();
  const bool second = m_pass != 0;

  // A shadow of another account (or none) tells nothing about this one.
  if (m_serverShadow.IsNull() || cacheManager.GetGID() != m_serverShadow.GetGID()) {
    m_serverShadow = CategoryManager::CreateEmpty();
  }
  // Changes are sent only against a shadow that has seen everything the cache
  // holds; otherwise the server would be told of deletions it never made.
  if (second && !cacheManager.VersionsAreSynced(m_serverShadow)) {
    m_errorMessage = "Unable to obtain server update";
    return ERR_NO_SERVER_UPDATE;
  }

  // The responder marks what the answer touches, and a full answer deletes
  // every record it left unmarked: no mark of an earlier answer may shield a
  // record from that.
  m_serverShadow.SetClean();
  XmlResponder responder(m_serverShadow, directory);
  XmlRequestor requestor(&responder, log, nullptr);
  requestor.SyncBegin(cacheManager.GetGID(), m_serverShadow.GetVersion(),
                      m_serverShadow.GetDeltaVersion(), m_user);

  // Every contact and every shared category gets its fixed id in both passes,
  // before anything is sent or merged: a record goes to the server under it
  // as its local id, and the server gives the record back under it. When a
  // pass that sent a new record could not write its cache, the id was never
  // stored; the next pass makes the same id again from the record's cache id
  // and so takes the server's record for this one instead of adding it a
  // second time.
  cacheManager.GenerateFixedIds(true);
  // The requests compare the shared part of the cache with a copy of the
  // shadow, which they mark and trim; the shadow itself is left to the
  // responder. The first pass only asks for the server's update and needs
  // neither copy.
  CategoryManager local = CategoryManager::CreateEmpty();
  CategoryManager shadowCopy = CategoryManager::CreateEmpty();
  if (second) {
    local = cacheManager.SharedClone();
    shadowCopy = m_serverShadow.Clone();
  }

  const SyncCallBackProgress stage = second ? sendingChangesToServer : grabbingLatestChanges;
  int32_t count = 0;
  if (second) {
    count = requestCategorySync(local, shadowCopy, requestor);
    count += requestContactSync(local, shadowCopy, requestor);
    ReportSyncProgress(callback, stage, m_timeLogger);
  } else {
    count = 1;  // the first pass always asks for the server's update
    ReportSyncProgress(callback, stage, m_timeLogger);
  }
  if (count == 0) return ERR_NONE;

  ReportSyncProgress(callback, stage, m_timeLogger);
  timeLogBegin(second ? Format("SyncServer change request[%d]", m_pass)
                      : Format("SyncServer update request[%d]", m_pass));
  m_request = requestor.SyncRequest();
  br_error result = ERR_NONE;
  if (send) {
    result = requestor.SyncServer(m_request);
    m_errorMessage = requestor.GetErrorMessage();
    m_response = requestor.GetResponse();
  }
  if (result == ERR_NONE) {
    result = requestor.SyncEnd(m_response);
    m_errorMessage = requestor.GetErrorMessage();
    ReportSyncProgress(callback, syncingWithServerData, m_timeLogger);
  }
  timeLogEnd();
  if (result != ERR_NONE) return result;

  ReportSyncProgress(callback, syncingWithServerData, m_timeLogger);
  timeLogBegin("shareUpdate");
  m_conflicts += shareUpdate(m_cache, m_serverShadow);
  timeLogEnd();
  return result;
}

// ---- Requests ----

// A category c of the shared part of the cache against the shadow's category s
// with its fixed id (only owned categories are ever written to the server;
// subscribed ones follow it):
//
//   s        | c                       | request
//   ---------+-------------------------+-------------------------------------
//   found    | owned, differs from s   | CategoryUpdate at s's version
//   found    | subscribed, or equal    | none
//   missing  | owned and live          | CategoryInsert under c's fixed id
//   missing  | subscribed or deleted   | none
//
// A live category of the shadow that no category of the cache reached was
// deleted here: CategoryDelete. Every untouched category then leaves the shadow
// copy, so that the contact step can tell which categories remain.
int32_t CategoryServerTransformation::requestCategorySync(CategoryManager& local,
                                                          CategoryManager& shadow,
                                                          XmlRequestor& requestor) {
  int32_t count = 0;
  const CategoryList& categories = local.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    Category c = categories[i];
    if (c.IsNull()) continue;
    const bool owned = IsOwned(c);
    Category s = shadow.FindMatchingCategory(c, true);
    if (!s.IsNull()) {
      // The contact step names the category by this server id.
      c.SetServeId(s.GetServeId());
      if (owned && !c.Equal(s)) {
        requestor.CategoryUpdate(c.GetCategoryDescriptor(), s.GetServeId(), s.GetVersion());
        ++count;
      }
    } else {
      c.SetServeId(0);
      if (owned && !c.IsDeleted()) {
        requestor.CategoryInsert(c.GetCategoryDescriptor(), c.GetFixedId());
        ++count;
      }
    }
  }

  std::vector<Category> untouched = shadow.GetUntouched().Snapshot();
  for (const Category& u : untouched) {
    if (u.IsDeleted()) continue;
    requestor.CategoryDelete(u.GetServeId(), u.GetVersion(), IsOwned(u));
    ++count;
  }
  RemoveAll(shadow.GetCategoryList(), untouched);
  return count;
}

// A contact c of the shared part of the cache against the shadow's contact s
// with its fixed id. Nothing in a read-only category is ever sent.
//
//   s        | c                              | requests
//   ---------+--------------------------------+------------------------------
//   found    | data differs from s            | ContactUpdate at s's version
//   found    | in another category than s     | ContactInsertLink to c's
//            |                                |   category and ContactDeleteLink
//            |                                |   from s's, at c's link version
//   missing  | live                           | ContactInsert in c's category
//
// A live contact of the shadow that no contact reached was deleted here, or left
// the shared categories: ContactDelete, unless its category is read-only, or
// is a subscribed category this client dropped (the owner keeps its contacts).
//
// An unfiled category has nothing for the server to link to: a move from it
// sends no delete link and a move into it no insert link.
int32_t CategoryServerTransformation::requestContactSync(CategoryManager& local,
                                                         CategoryManager& shadow,
                                                         XmlRequestor& requestor) {
  int32_t count = 0;
  const ContactList& contacts = local.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    Contact c = contacts[i];
    if (c.IsNull()) continue;
    const Category category = c.GetCategory();
    const bool readOnly = category.IsReadOnly();
    Contact s = shadow.FindMatchingContact(c, true);
    if (s.IsNull()) {
      c.SetServeId(0);
      if (!c.IsDeleted() && !readOnly) {
        const Link link = category.IsUnfiled() ? Link(0, 0, 0, 0) : LinkTo(category, 0);
        requestor.ContactInsert(c.GetContactDescriptor(), link, c.GetFixedId());
        ++count;
      }
      continue;
    }
    const uint32_t sid = s.GetServeId();
    const uint32_t version = s.GetVersion();
    c.SetServeId(sid);
    if (readOnly) continue;
    if (!c.Equal(s)) {
      requestor.ContactUpdate(c.GetContactDescriptor(), sid, version);
      ++count;
    }
    const Category old = s.GetCategory();
    if (SameCategory(category, old)) continue;
    const uint32_t linkVersion = c.GetLinkVersion();
    if (!category.IsUnfiled()) {
      requestor.ContactInsertLink(LinkTo(category, linkVersion), sid, version);
      ++count;
    }
    if (!old.IsUnfiled()) {
      requestor.ContactDeleteLink(Link(old.GetServeId(), 0, linkVersion, 0), sid, version);
      ++count;
    }
  }

  std::vector<Contact> untouched = shadow.GetUntouchedContacts().Snapshot();
  for (const Contact& u : untouched) {
    const Category category = u.GetCategory();
    if (u.IsDeleted() || category.IsReadOnly()) continue;
    const bool stillShared = !category.IsNull() && shadow.HasCategory(category);
    if (!stillShared && !IsOwned(category)) continue;
    requestor.ContactDelete(u.GetServeId(), u.GetVersion());
    ++count;
  }
  RemoveAll(shadow.GetContactList(), untouched);
  return count;
}

// ---- Share update ----

int32_t CategoryServerTransformation::shareUpdate(CategoryCache& cache, CategoryManager& shadow) {
  ClaimUnacknowledgedRecords(cache, shadow);
  int32_t conflicts = shareUpdateCategories(cache, shadow);
  conflicts += shareUpdateContacts(cache, shadow);
  conflicts += shareUpdateContactLinks(cache, shadow);
  conflicts += shareUpdateReadOnlyCategories(cache, shadow);
  CategoryManager cacheManager = cache.GetCategoryManager();
  cacheManager.RemoveOrphanedContacts();
  // An answer without an account id leaves the shadow without one; the cache
  // keeps its own rather than forget the account.
  if (!shadow.GetGID().IsZero()) cacheManager.SetGID(shadow.GetGID());
  cacheManager.SetVersion(shadow.GetVersion());
  return conflicts;
}

// A category s of the shadow, "new" when it changed on the server after the
// cache's version, against the cache's category c with its fixed id:
//
//   c       | s                          | action
//   --------+----------------------------+-----------------------------------
//   found   | live, new or subscribed    | c takes s's data, version and status
//           |                            |   (subscribed ones always follow the
//           |                            |   server), and a name that collides
//           |                            |   is coerced and reported
//   found   | deleted and new, c         | c leaves the cache (its contacts
//           |   subscribed               |   follow as orphans); s leaves
//   found   | deleted and new, c owned   | c stays as a local category: neither
//           |                            |   shared nor read-only, with s's
//           |                            |   version, hash and source; s leaves
//   missing | live and new               | added to the cache
//   missing | deleted                    | s leaves the shadow
//
// Any other case changes nothing. A conflict the responder left on s counts.
int32_t CategoryServerTransformation::shareUpdateCategories(CategoryCache& cache,
                                                            CategoryManager& shadow) {
  CategoryManager cacheManager = cache.GetCategoryManager();
  int32_t conflicts = 0;
  std::vector<Category> leavingShadow;
  std::vector<Category> leavingCache;
  for (Category& s : shadow.GetCategoryList().Snapshot()) {
    s.SetClean();
    if (s.IsConflicted()) ++conflicts;
    const bool isNew = cacheManager.IsNewToMe(s);
    Category c = cache.FindByFixedId(s.GetFixedId(), false);
    if (c.IsNull()) {
      if (s.IsDeleted()) {
        leavingShadow.push_back(s);
      } else if (isNew) {
        Category added = cache.AddItem(s);
        if (!added.IsNull()) StampFromServer(added);
      }
      continue;
    }
    s.SetCacheId(c.GetCacheId());
    if (!s.IsDeleted()) {
      if (!isNew && IsOwned(s)) continue;
      CategoryDescriptor descriptor = c.GetCategoryDescriptor();
      const std::string oldName = descriptor.GetCategoryName();
      descriptor.Copy(s.GetCategoryDescriptor());
      c.SetVersion(s.GetVersion());
      c.CopyStatus(s);
      const std::string serverName = descriptor.GetCategoryName();
      c.CoerceName();
      const std::string newName = descriptor.GetCategoryName();
      if (newName != serverName && newName != oldName) {
        cacheManager.NotifyNameCoerced(m_userNotices, serverName, newName);
      }
      continue;
    }
    if (!isNew) continue;
    if (IsOwned(c)) {
      // The category is no longer shared: it stays here, as the user's own.
      CategoryDescriptor descriptor = c.GetCategoryDescriptor();
      descriptor.SetSharedFlag(false);
      descriptor.SetReadOnlyFlag(false);
      c.SetVersion(s.GetVersion());
      c.SetDataHash(s.GetDataHash());
      c.SetSource(SOURCE_SERVER);
    } else {
      leavingCache.push_back(c);
    }
    leavingShadow.push_back(s);
  }
  RemoveAll(cacheManager.GetCategoryList(), leavingCache);
  RemoveAll(shadow.GetCategoryList(), leavingShadow);
  cacheManager.CoerceNames(m_userNotices, false);
  return conflicts;
}

// A contact s of the shadow against the cache's contact c with its fixed id.
// Contacts the server did not change since the cache's version, outside
// read-only categories, only settle their ids:
//
//   s                    | action
//   ---------------------+--------------------------------------------------
//   deleted              | leaves the shadow
//   live, no cache id    | takes c's cache id, and c takes s's version
//
// The others (new, or in a read-only category, whose local changes are undone)
// merge; a conflict the responder left on s counts:
//
//   c       | s       | action
//   --------+---------+--------------------------------------------------------
//   found   | live    | the server wins: c takes s's data, version and status.
//           |         |   A local edit not yet sent (c not from the server, data
//           |         |   differing from s's and from c's own stored hash)
//           |         |   survives as c's conflict, and counts
//   found   | deleted | s leaves; c leaves the cache when in a shared category
//           |         |   and not private
//   missing | live    | added to the cache in its category when the cache
//           |         |   holds it live and filed; a contact the server did
//           |         |   not change was deleted here: reported as restored
//   missing | deleted | s leaves the shadow
int32_t CategoryServerTransformation::shareUpdateContacts(CategoryCache& cache,
                                                          CategoryManager& shadow) {
  CategoryManager cacheManager = cache.GetCategoryManager();
  int32_t conflicts = 0;
  std::vector<Contact> leavingShadow;
  std::vector<Contact> leavingCache;
  for (Contact& s : shadow.GetContactList().Snapshot()) {
    s.SetClean();
    const bool isNew = cacheManager.IsNewToMe(s);
    const bool readOnly = s.GetCategory().IsReadOnly();
    if (!isNew && !readOnly) {
      if (s.IsDeleted()) {
        leavingShadow.push_back(s);
      } else if (s.GetCacheId() == 0) {
        Contact c = cache.FindContactByFixedId(s.GetFixedId(), false);
        if (!c.IsNull()) {
          s.SetCacheId(c.GetCacheId());
          c.SetVersion(s.GetVersion());
        }
      }
      continue;
    }

    if (s.IsConflicted()) ++conflicts;
    Contact c = cache.FindContactByFixedId(s.GetFixedId(), false);
    if (s.IsDeleted()) {
      leavingShadow.push_back(s);
      // A contact the user made private was withdrawn from the server, not
      // deleted: the deletion's echo leaves it here, as a private event stays.
      if (!c.IsNull() && IsShared(c.GetCategory()) && !c.GetContactDescriptor().GetIsPrivate()) {
        leavingCache.push_back(c);
      }
      continue;
    }
    if (!c.IsNull()) {
      s.SetCacheId(c.GetCacheId());
      const ContactDescriptor mine = c.GetContactDescriptor();
      const ContactDescriptor theirs = s.GetContactDescriptor();
      Contact localEdit;
      if (c.GetSource() != SOURCE_SERVER && !mine.Equal(theirs) &&
          mine.CalculateHash() != c.GetDataHash()) {
        localEdit = Contact::CreateEmpty();
        localEdit.GetContactDescriptor().Copy(mine);
        localEdit.SetVersion(c.GetVersion());
        localEdit.CopyStatus(c);
        ++conflicts;
      }
      c.GetContactDescriptor().Copy(theirs);
      c.SetVersion(s.GetVersion());
      c.CopyStatus(s);
      c.SetConflict(localEdit);
      continue;
    }
    Category parent = CounterpartOrNull(cacheManager, s.GetCategory());
    if (!IsLiveFiled(parent)) continue;
    Contact added = AddFromServer(cache, parent, s);
    if (added.IsNull()) continue;
    if (!isNew) {
      Notify(m_userNotices, NOTICE_READ_ONLY_DELETE,
             Format("Deleted contact %s restored to category %s",
                    added.GetShortDisplayString().c_str(), parent.GetShortDisplayString().c_str()));
    }
  }
  RemoveAll(cacheManager.GetContactList(), leavingCache);
  RemoveAll(shadow.GetContactList(), leavingShadow);
  return conflicts;
}

// Each contact s of the shadow whose link changed on the server after the
// cache's version moves the cache's contact c with its fixed id into the cache's
// category that stands for s's (unfiled when there is none). A link conflict
// the responder left on s counts and goes to c, naming the cache's category.
int32_t CategoryServerTransformation::shareUpdateContactLinks(CategoryCache& cache,
                                                              CategoryManager& shadow) {
  CategoryManager cacheManager = cache.GetCategoryManager();
  int32_t conflicts = 0;
  for (Contact& s : shadow.GetContactList().Snapshot()) {
    if (!cacheManager.IsNewLinkToMe(s)) continue;
    Contact c = cache.FindContactByFixedId(s.GetFixedId(), false);
    if (c.IsNull()) continue;
    s.SetCacheId(c.GetCacheId());
    if (s.IsLinkConflicted()) {
      ++conflicts;
      Contact competing = s.GetLinkConflict();
      competing.SetCategory(CounterpartOrNull(cacheManager, competing.GetCategory()));
      c.SetLinkConflict(competing);
    }
    c.SetCategory(CounterpartOrNull(cacheManager, s.GetCategory()));
    c.SetLinkVersion(s.GetLinkVersion());
  }
  return conflicts;
}

// Undoes what the client changed inside read-only categories, which only their
// owner may change. Every undo is reported; none counts as a conflict.
//
// 1. A cache contact c in a read-only category, against the shadow's s:
//      s live, in a live category      | c's category differs: c moves back to
//                                      |   s's (reported), or is unfiled when
//                                      |   the cache lacks that category
//      s missing or deleted, or its    | c is unfiled (added or moved in here
//        category deleted              |   by the client)
// 2. A shadow contact s in a read-only category, against the cache's c:
//      c deleted                       | c is undeleted
//      c live, s's category live       | c moves back into s's category when it
//                                      |   moved out; data that differs from s's
//                                      |   is restored, the edit kept as a new
//                                      |   unfiled contact
//      c missing, s live               | s is added to the cache again (3.)
// 4. A local edit that the contact step kept as the conflict of a contact in a
//    read-only category becomes a new unfiled contact (5.), and the conflict
//    goes.
int32_t CategoryServerTransformation::shareUpdateReadOnlyCategories(CategoryCache& cache,
                                                                    CategoryManager& shadow) {
  CategoryManager cacheManager = cache.GetCategoryManager();
  UserNoticeManager* notices = m_userNotices;

  // 1.
  std::vector<Contact> unfiling;
  for (Contact& c : cacheManager.GetContactList().Snapshot()) {
    if (!c.IsReadOnly()) continue;
    Contact s = shadow.FindContactByFixedId(c.GetFixedId(), false);
    if (s.IsDeleted() || IsDeletedCategory(s.GetCategory())) {
      unfiling.push_back(c);
      continue;
    }
    if (SameCategory(c.GetCategory(), s.GetCategory())) continue;
    std::optional<Category> home = CounterpartIn(cacheManager, s.GetCategory());
    if (!home || IsDeletedCategory(*home)) {
      unfiling.push_back(c);
      continue;
    }
    c.SetCategory(*home);
    Notify(notices, NOTICE_CATEGORY_CHANGE, MovedToCategory(c, *home));
  }
  for (Contact& c : unfiling) {
    Notify(notices, NOTICE_READ_ONLY_EDIT, MovedToUnfiled(c));
    cacheManager.MakeUnfiled(c);
  }

  // 2.
  std::vector<Contact> restoring;
  for (Contact& s : shadow.GetContactList().Snapshot()) {
    const Category category = s.GetCategory();
    if (!category.IsReadOnly()) continue;
    Contact c = cache.FindContactByFixedId(s.GetFixedId(), false);
    if (c.IsNull()) {
      if (!s.IsDeleted()) restoring.push_back(s);
      continue;
    }
    if (c.IsDeleted()) c.SetDeletedNot();
    if (IsDeletedCategory(category)) continue;
    if (!SameCategory(c.GetCategory(), category)) {
      std::optional<Category> home = CounterpartIn(cacheManager, category);
      if (home && !IsDeletedCategory(*home)) {
        c.SetCategory(*home);
        Notify(notices, NOTICE_CATEGORY_CHANGE, MovedToCategory(c, *home));
      }
    }
    if (!c.Equal(s)) {
      ContactDescriptor edit = c.GetContactDescriptor().Clone();
      Category unfiled = cacheManager.GetUnfiled();
      Contact kept = cache.AddItem(unfiled, edit);
      StampFromServer(kept);
      Notify(notices, NOTICE_READ_ONLY_EDIT, MovedToUnfiled(kept));
      c.GetContactDescriptor().Copy(s.GetContactDescriptor());
      c.CopyStatus(s);
    }
  }

  // 3.
  for (Contact& s : restoring) {
    Category parent = CounterpartOrNull(cacheManager, s.GetCategory());
    if (IsLiveFiled(parent)) AddFromServer(cache, parent, s);
  }

  // 4.
  std::vector<Contact> edits;
  for (Contact& c : cacheManager.GetContactList().Snapshot()) {
    if (!c.IsConflicted() || !c.IsReadOnly()) continue;
    Contact edit = c.GetConflict();
    if (!edit.IsDeleted()) edits.push_back(edit);
    c.RejectConflict();
  }

  // 5.
  for (Contact& edit : edits) {
    ContactDescriptor descriptor = edit.GetContactDescriptor().Clone();
    Category unfiled = cacheManager.GetUnfiled();
    Contact kept = cache.AddItem(unfiled, descriptor);
    StampFromServer(kept);
    Notify(notices, NOTICE_READ_ONLY_EDIT, MovedToUnfiled(kept));
  }
  return 0;
}

// ---- LogAble ----

std::string CategoryServerTransformation::GetDisplayString() const {
  return "Category Server Tranformation";
}

TreeItem CategoryServerTransformation::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  m_cacheBefore.DisplayTree(tree, tree.InsertItem("cache before", item));
  m_serverBefore.DisplayTree(tree, tree.InsertItem("server before", item));
  m_serverShadow.DisplayTree(tree, tree.InsertItem("server after", item));
  m_cache.DisplayTree(tree, tree.InsertItem(Format("cache after %d conflicts (%s)", m_conflicts,
                                                   m_errorMessage.c_str()),
                                            item));
  return item;
}

void CategoryServerTransformation::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ar.WriteInt(m_pass);
    ar.WriteInt(m_conflicts);
    ar.WriteString(m_errorMessage);
    ar.WriteString(m_user);
    ar.WriteString(m_request);
    ar.WriteString(m_response);
  } else {
    m_pass = ar.ReadInt() != 0 ? 1 : 0;
    m_conflicts = ar.ReadInt();
    m_errorMessage = ar.ReadString();
    m_user = ar.ReadString();
    m_request = ar.ReadString();
    m_response = ar.ReadString();
  }
  m_cache.SerializeQuick(ar, version);
  m_serverShadow.SerializeQuick(ar, version);
}

std::unique_ptr<LogNode> CategoryServerTransformation::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CategoryServerTransformation>>(name, *this);
}

void CategoryServerTransformation::Activate(int32_t mode, const std::string&) {
  if (mode != 0) return;
  // A logged engine may outlive the API object whose logger and notices it
  // points at: the replay uses neither.
  CategoryServerTransformation replay = Clone();
  replay.m_timeLogger = nullptr;
  replay.m_userNotices = nullptr;
  replay.SyncServer(nullptr, "", nullptr, false);
}

}  // namespace brontel
