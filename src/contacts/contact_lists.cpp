#include "brontel/contacts/contact_lists.h"

#include <atomic>
#include <unordered_map>

#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"
#include "record_merge.h"

namespace brontel {

namespace {

std::atomic<uint64_t> g_idChanges{0};

enum IdKind : int { kCacheId = 0, kLocalId = 1, kFixedId = 2, kIdKinds = 3 };

template <class Record>
uint32_t IdOf(int kind, const Record& r) {
  switch (kind) {
    case kCacheId:
      return r.GetCacheId();
    case kLocalId:
      return r.GetLocalId();
    default:
      return r.GetFixedId();
  }
}

}  // namespace

void NoteContactSideIdChange() {
  g_idChanges.fetch_add(1, std::memory_order_relaxed);
}
uint64_t ContactSideIdChanges() {
  return g_idChanges.load(std::memory_order_relaxed);
}

// The indexes of one list: per id kind, the position of the first element with
// each id and how many elements carry it (so that a change of the first one's
// id is known to leave others behind); and, for the change notices, the
// position of each record.
template <class Record>
class IndexedRecordList<Record>::Indexes {
 public:
  struct Entry {
    int32_t first;
    int32_t count;
  };
  using IdMap = std::unordered_map<uint32_t, Entry>;

  std::unique_ptr<IdMap> byId[kIdKinds];
  // The id changes counted when each index was built (lists without a manager).
  uint64_t builtAt[kIdKinds] = {0, 0, 0};
  std::unique_ptr<std::unordered_map<const void*, int32_t>> positions;

  static void Enter(IdMap& map, uint32_t id, int32_t position) {
    if (id == 0) return;
    auto [it, inserted] = map.try_emplace(id, Entry{position, 1});
    if (inserted) return;
    ++it->second.count;
    if (position < it->second.first) it->second.first = position;
  }
};

template <class Record>
IndexedRecordList<Record>::IndexedRecordList() = default;
template <class Record>
IndexedRecordList<Record>::IndexedRecordList(int32_t capacity) : Base(capacity) {}
template <class Record>
IndexedRecordList<Record>::IndexedRecordList(const IndexedRecordList& other) : Base(other) {}
template <class Record>
IndexedRecordList<Record>::~IndexedRecordList() = default;

template <class Record>
IndexedRecordList<Record>& IndexedRecordList<Record>::operator=(const IndexedRecordList& other) {
  if (this == &other) return *this;
  Base::operator=(other);
  DropIndexes();
  return *this;
}

template <class Record>
typename IndexedRecordList<Record>::Indexes& IndexedRecordList<Record>::indexes() const {
  if (m_indexes == nullptr) m_indexes = std::make_unique<Indexes>();
  return *m_indexes;
}

template <class Record>
void IndexedRecordList<Record>::DropIndexes() const {
  m_indexes.reset();
}

template <class Record>
void IndexedRecordList<Record>::Append(const Record& record) {
  const int32_t position = this->GetListCount();
  Base::Append(record);
  if (m_indexes == nullptr || record.IsNull()) return;
  Indexes& x = *m_indexes;
  if (x.positions != nullptr && !x.positions->emplace(record.m_holder, position).second) {
    // The same record twice: its notices could not tell which to update.
    DropIndexes();
    return;
  }
  for (int kind = 0; kind < kIdKinds; ++kind) {
    if (x.byId[kind] != nullptr) Indexes::Enter(*x.byId[kind], IdOf(kind, record), position);
  }
}

template <class Record>
bool IndexedRecordList<Record>::Remove(const Record& record) {
  bool removed = Base::Remove(record);
  // Positions after the removed elements moved: no index may name them.
  if (removed) DropIndexes();
  return removed;
}

template <class Record>
void IndexedRecordList<Record>::Clear() {
  Base::Clear();
  DropIndexes();
}

template <class Record>
std::unordered_map<const void*, int32_t>* IndexedRecordList<Record>::positions() const {
  Indexes& x = indexes();
  if (x.positions != nullptr) return x.positions.get();
  auto built = std::make_unique<std::unordered_map<const void*, int32_t>>();
  built->reserve(static_cast<size_t>(this->GetListCount()) * 6 / 5 + 17);
  for (int32_t i = 0; i < this->GetListCount(); ++i) {
    const Record& e = (*this)[i];
    if (!e.IsNull() && !built->emplace(e.m_holder, i).second) return nullptr;
  }
  x.positions = std::move(built);
  return x.positions.get();
}

template <class Record>
bool IndexedRecordList<Record>::Contains(const Record& record) const {
  if (record.IsNull() || this->GetListCount() == 0) return false;
  std::unordered_map<const void*, int32_t>* byHolder = positions();
  if (byHolder != nullptr) {
    auto where = byHolder->find(record.m_holder);
    if (where == byHolder->end()) return false;
    const int32_t p = where->second;
    if (p >= 0 && p < this->GetListCount() && (*this)[p].IsSameHolder(record)) return true;
    m_indexes->positions.reset();  // out of date: an element was replaced in place
  }
  return Base::Contains(record);
}

template <class Record>
Record IndexedRecordList<Record>::find(int kind, uint32_t id, bool touch) const {
  if (id == 0 || this->GetListCount() == 0) return Record();
  Indexes& x = indexes();
  std::unique_ptr<typename Indexes::IdMap>& map = x.byId[kind];
  // A list without a manager hears of no change: it trusts an index only while
  // no contact-side record changed an id.
  if (map != nullptr && !m_managed && x.builtAt[kind] != ContactSideIdChanges()) map.reset();
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (map == nullptr) {
      x.builtAt[kind] = ContactSideIdChanges();
      map = std::make_unique<typename Indexes::IdMap>();
      map->reserve(static_cast<size_t>(this->GetListCount()) * 6 / 5 + 17);
      for (int32_t i = 0; i < this->GetListCount(); ++i) {
        const Record& e = (*this)[i];
        if (!e.IsNull()) Indexes::Enter(*map, IdOf(kind, e), i);
      }
    }
    auto it = map->find(id);
    if (it == map->end()) return Record();
    const int32_t at = it->second.first;
    if (at >= 0 && at < this->GetListCount() && !(*this)[at].IsNull() &&
        IdOf(kind, (*this)[at]) == id) {
      return this->Touched((*this)[at], touch);
    }
    // The index is stale (an id changed without notice): build it again once.
    map.reset();
  }
  return this->FindBy([kind](const Record& e) { return IdOf(kind, e); }, id, touch);
}

template <class Record>
Record IndexedRecordList<Record>::FindByCacheId(uint32_t id, bool touch) const {
  return find(kCacheId, id, touch);
}
template <class Record>
Record IndexedRecordList<Record>::FindByLocalId(uint32_t id, bool touch) const {
  return find(kLocalId, id, touch);
}
template <class Record>
Record IndexedRecordList<Record>::FindByServeId(uint32_t id, bool touch) const {
  return find(kLocalId, id, touch);
}
template <class Record>
Record IndexedRecordList<Record>::FindByFixedId(uint32_t id, bool touch) const {
  return find(kFixedId, id, touch);
}

template <class Record>
void IndexedRecordList<Record>::noteChange(int kind, const Record& record, uint32_t oldId,
                                           uint32_t newId) const {
  if (oldId == newId || m_indexes == nullptr || record.IsNull()) return;
  Indexes& x = *m_indexes;
  std::unique_ptr<typename Indexes::IdMap>& map = x.byId[kind];
  if (map == nullptr) return;
  std::unordered_map<const void*, int32_t>* byHolder = positions();
  if (byHolder == nullptr) {
    DropIndexes();  // a record held twice: its notices could not tell which to update
    return;
  }
  auto where = byHolder->find(record.m_holder);
  if (where == byHolder->end()) return;  // not in this list
  const int32_t p = where->second;
  if (p < 0 || p >= this->GetListCount() || !(*this)[p].IsSameHolder(record)) {
    DropIndexes();
    return;
  }
  if (oldId != 0) {
    auto it = map->find(oldId);
    if (it == map->end()) {
      map.reset();  // the index did not know the old id: it was out of date
      return;
    }
    if (it->second.count == 1) {
      if (it->second.first != p) {
        map.reset();
        return;
      }
      map->erase(it);
    } else if (it->second.first == p) {
      map.reset();  // which element carries the old id first is unknown now
      return;
    } else {
      --it->second.count;
    }
  }
  Indexes::Enter(*map, newId, p);
}

template <class Record>
void IndexedRecordList<Record>::noteChangeCacheId(const Record& record, uint32_t oldId,
                                                  uint32_t newId) const {
  noteChange(kCacheId, record, oldId, newId);
}
template <class Record>
void IndexedRecordList<Record>::noteChangeLocalId(const Record& record, uint32_t oldId,
                                                  uint32_t newId) const {
  noteChange(kLocalId, record, oldId, newId);
}
template <class Record>
void IndexedRecordList<Record>::noteChangeFixedId(const Record& record, uint32_t oldId,
                                                  uint32_t newId) const {
  noteChange(kFixedId, record, oldId, newId);
}

template class IndexedRecordList<Category>;
template class IndexedRecordList<Contact>;

namespace {

// The LogList-style tree of a record list: an item with the list's display
// string and one child per element.
template <class List>
TreeItem DisplayListTree(const List& list, TreeView& tree, TreeItem parent) {
  TreeItem item = tree.InsertItem(list.GetDisplayString(), parent);
  for (int32_t i = 0; i < list.GetListCount(); ++i) list[i].DisplayTree(tree, item);
  return item;
}

// Stores or loads a list as its count and each element's quick form; minBytes
// is the least a stored element takes.
template <class List, class Record>
void SerializeList(List& list, Archive& ar, uint32_t version, size_t minBytes) {
  if (ar.IsStoring()) {
    ar.WriteInt(list.GetListCount());
    for (int32_t i = 0; i < list.GetListCount(); ++i) {
      Record record = list[i];
      if (record.IsNull()) record = Record::CreateEmpty();
      record.SerializeQuick(ar, version);
    }
    return;
  }
  const int32_t count = ar.ReadCount(minBytes);
  List read(count);
  for (int32_t i = 0; i < count; ++i) {
    Record record;
    record.SerializeQuick(ar, version);
    read.Append(record);
  }
  list = read;
}

}  // namespace

// ---- CategoryList ----

CategoryList CategoryList::GetUntouched() const {
  CategoryList out;
  CollectUntouched(out);
  return out;
}

CategoryList CategoryList::Clone(const CategoryManager& manager) const {
  CategoryList out(GetListCount());
  for (int32_t i = 0; i < GetListCount(); ++i) {
    const Category& c = (*this)[i];
    out.Append(c.IsNull() ? Category() : c.Clone(manager));
  }
  return out;
}

void CategoryList::ResolveIdentity(const CategoryList& other) {
  // The first category of other that matches, as a scan of other would find
  // it: the same non-zero local id or the same non-zero fixed id (a category
  // without cache id cannot match by cache id).
  std::unordered_map<uint32_t, int32_t> byLocalId;
  std::unordered_map<uint32_t, int32_t> byFixedId;
  byLocalId.reserve(static_cast<size_t>(other.GetListCount()));
  byFixedId.reserve(static_cast<size_t>(other.GetListCount()));
  for (int32_t i = 0; i < other.GetListCount(); ++i) {
    const Category& o = other[i];
    if (o.IsNull()) continue;
    if (o.GetLocalId() != 0) byLocalId.emplace(o.GetLocalId(), i);
    if (o.GetFixedId() != 0) byFixedId.emplace(o.GetFixedId(), i);
  }
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Category c = (*this)[i];
    if (c.IsNull() || c.GetCacheId() != 0) continue;
    int32_t match = -1;
    auto local = c.GetLocalId() == 0 ? byLocalId.end() : byLocalId.find(c.GetLocalId());
    if (local != byLocalId.end()) match = local->second;
    auto fixed = c.GetFixedId() == 0 ? byFixedId.end() : byFixedId.find(c.GetFixedId());
    if (fixed != byFixedId.end() && (match < 0 || fixed->second < match)) match = fixed->second;
    if (match >= 0) c.SetCacheId(other[match].GetCacheId());
  }
}

void CategoryList::GenerateFixedIds(bool sharedOnly) {
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Category c = (*this)[i];
    if (c.IsNull()) continue;
    if (!sharedOnly) {
      c.GenerateFixedId(false);
    } else if (c.GetCategoryDescriptor().GetSharedFlag()) {
      c.GenerateFixedId(true);
    }
  }
}

std::string CategoryList::GetDisplayString() const {
  return Format("CategoryList[%d]", GetListCount());
}
TreeItem CategoryList::DisplayTree(TreeView& tree, TreeItem parent) const {
  return DisplayListTree(*this, tree, parent);
}
void CategoryList::SerializeQuick(Archive& ar, uint32_t version) {
  SerializeList<CategoryList, Category>(*this, ar, version, 2);
}
std::unique_ptr<LogNode> CategoryList::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<CategoryList>>(name, *this);
}

// ---- ContactList ----

ContactList ContactList::GetUntouched() const {
  ContactList out;
  CollectUntouched(out);
  return out;
}

ContactList ContactList::Clone(const CategoryManager& manager) const {
  ContactList out(GetListCount());
  for (int32_t i = 0; i < GetListCount(); ++i) {
    const Contact& c = (*this)[i];
    out.Append(c.IsNull() ? Contact() : c.Clone(manager));
  }
  return out;
}

void ContactList::ResolveIdentity(const ContactList& other) {
  std::unordered_map<uint32_t, int32_t> byFixedId;
  byFixedId.reserve((static_cast<size_t>(GetListCount()) * 6 + 17) / 5);
  for (int32_t i = 0; i < other.GetListCount(); ++i) {
    if (!other[i].IsNull() && other[i].GetFixedId() != 0) {
      byFixedId.emplace(other[i].GetFixedId(), i);
    }
  }
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Contact c = (*this)[i];
    if (c.IsNull() || c.GetFixedId() == 0 || c.GetCacheId() != 0) continue;
    auto found = byFixedId.find(c.GetFixedId());
    if (found != byFixedId.end()) c.SetCacheId(other[found->second].GetCacheId());
  }
}

void ContactList::GenerateFixedIds(bool useCacheId) {
  for (int32_t i = 0; i < GetListCount(); ++i) {
    Contact c = (*this)[i];
    if (!c.IsNull()) c.GenerateFixedId(useCacheId);
  }
}

bool ContactList::EmptyList() {
  // Each contact leaves its manager's list, as Contact::Remove does, but each
  // manager's list is compacted once instead of once per contact.
  ContactList copy = *this;
  std::unordered_map<ContactList*, std::unordered_map<const void*, bool>> leaving;
  for (int32_t i = 0; i < copy.GetListCount(); ++i) {
    const Contact& c = copy[i];
    if (c.IsNull()) continue;
    CategoryManager manager = c.GetManager();
    if (!manager.IsNull()) leaving[&manager.GetContactList()].emplace(c.m_holder, false);
  }
  for (auto& entry : leaving) {
    std::unordered_map<const void*, bool>& holders = entry.second;
    entry.first->RemoveIf([&holders](const Contact& e) {
      if (e.IsNull()) return false;
      auto it = holders.find(e.m_holder);
      if (it == holders.end()) return false;
      it->second = true;
      return true;
    });
  }
  // A removal succeeds for a contact without manager, and for the first of
  // the copy's occurrences of a contact its manager's list held.
  bool all = true;
  for (int32_t i = 0; i < copy.GetListCount(); ++i) {
    const Contact& c = copy[i];
    if (c.IsNull()) continue;
    CategoryManager manager = c.GetManager();
    if (manager.IsNull()) continue;
    bool& removed = leaving[&manager.GetContactList()][c.m_holder];
    if (!removed) all = false;
    removed = false;
  }
  return all;
}

std::string ContactList::GetDisplayString() const {
  return Format("ContactList[%d]", GetListCount());
}
TreeItem ContactList::DisplayTree(TreeView& tree, TreeItem parent) const {
  return DisplayListTree(*this, tree, parent);
}
void ContactList::SerializeQuick(Archive& ar, uint32_t version) {
  SerializeList<ContactList, Contact>(*this, ar, version, 2);
}
std::unique_ptr<LogNode> ContactList::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<ContactList>>(name, *this);
}

}  // namespace brontel
