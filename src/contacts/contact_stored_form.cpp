// Stored forms of the categories, the contacts and the category manager.
//
// Category quick form (= "CategoryHolder" body): unfiled flag, descriptor
//   (name, description, colour, owned, read-only and shared flags),
//   identification, status, conflict (object record or the null record).
// Contact quick form (= "ContactHolder" body): descriptor (19 datums, flags,
//   private flag, offset byte, options), identification, status, conflict and
//   link conflict (object records), parent position (int32, -1 when unfiled),
//   link version (DWORD), read-only conflict flag (read when version > 9).
// Manager body ("CategoryManagerHolder"): categories (count, quick forms),
//   contacts (count, quick forms), table identification.
//
// A contact names its parent by the category's position in the list of the
// manager being written. Reading makes a stand-in category holding that
// position; the manager, once read, puts its own categories in their place, in
// its contacts and in every conflict copy below them.
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/contact_holders.h"
#include "brontel/lists/flat_set.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CategoryHolder, "CategoryHolder");
BRONTEL_IMPLEMENT_SERIAL(ContactHolder, "ContactHolder");

namespace {

// Lower bounds of the stored size of one record, used to refuse counts that the
// remaining bytes cannot hold before anything is allocated.
constexpr size_t kMinCategoryBytes = 32;
constexpr size_t kMinContactBytes = 60;

// The read-only conflict flag is stored from format version 10 on.
bool HasReadOnlyConflictFlag(uint32_t version) {
  return version != Archive::kNoSchema && version > 9;
}

// Positions of the categories of the manager being written, for the parents of
// its contacts and of their conflict copies.
class ParentPositions {
 public:
  explicit ParentPositions(const CategoryList& categories) : m_categories(categories) {
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      Category c = categories[i];
      if (c.IsNull()) continue;
      c.SetCloneIndex(i);
      if (c.GetFixedId() != 0) m_byFixedId.emplace(c.GetFixedId(), i);
    }
  }

  // The parent's position: -1 for a null or unfiled parent; the position of a
  // category of the list; for a parent from elsewhere, the position of the
  // category with its fixed id, or -1 when there is none.
  int32_t Of(const Category& parent) const {
    if (parent.IsUnfiled()) return -1;
    const int32_t at = parent.GetCloneIndex();
    if (at >= 0 && at < m_categories.GetListCount() && m_categories[at].IsSameHolder(parent)) {
      return at;
    }
    auto found = m_byFixedId.find(parent.GetFixedId());
    return parent.GetFixedId() == 0 || found == m_byFixedId.end() ? -1 : found->second;
  }

  // The positions in use while a manager is being written, if any.
  static thread_local const ParentPositions* s_current;

 private:
  const CategoryList& m_categories;
  std::unordered_map<uint32_t, int32_t> m_byFixedId;
};

thread_local const ParentPositions* ParentPositions::s_current = nullptr;

// Makes positions the current ones for its lifetime.
class WritingManager {
 public:
  explicit WritingManager(const ParentPositions& positions)
      : m_previous(ParentPositions::s_current) {
    ParentPositions::s_current = &positions;
  }
  ~WritingManager() { ParentPositions::s_current = m_previous; }
  WritingManager(const WritingManager&) = delete;
  WritingManager& operator=(const WritingManager&) = delete;

 private:
  const ParentPositions* m_previous;
};

}  // namespace

// Access to the records' private parts for their stored forms.
struct ContactStoredForm {
  // ---- categories ----

  static void WriteCategory(const CategoryHolder& h, Archive& ar) {
    ar.WriteFlag(h.m_unfiled);
    CategoryDescriptor(h.m_descriptor).SerializeQuick(ar, Archive::kNoSchema);
    RecordIdentification(h.m_identification).SerializeQuick(ar, Archive::kNoSchema);
    RecordStatus(h.m_status).SerializeQuick(ar, Archive::kNoSchema);
    ar.WriteObject(h.m_conflict.m_holder);
  }

  static void ReadCategory(CategoryHolder& h, Archive& ar, uint32_t version) {
    h.m_unfiled = ar.ReadFlag();
    h.m_descriptor.SerializeQuick(ar, version);
    h.m_identification.SerializeQuick(ar, version);
    h.m_status.SerializeQuick(ar, version);
    h.m_conflict = Category(ReadObjectAs<CategoryHolder>(ar));
    CutConflictChain(h);
  }

  // A conflict copy is a detached snapshot; a file may chain snapshots back to
  // one already on the chain, a cycle that would never be freed: it is cut.
  static void CutConflictChain(CategoryHolder& owner) {
    std::unordered_set<const CategoryHolder*> seen{&owner};
    CategoryHolder* previous = &owner;
    while (previous->m_conflict.m_holder != nullptr) {
      CategoryHolder* next = previous->m_conflict.m_holder;
      if (!seen.insert(next).second) {
        previous->m_conflict = Category();
        return;
      }
      previous = next;
    }
  }

  // ---- contacts ----

  // The stored position of h's parent: in the manager being written, or else
  // in h's own manager.
  static int32_t ParentPosition(const ContactHolder& h) {
    const Category& parent = h.m_parent;
    if (parent.IsUnfiled()) return -1;
    if (ParentPositions::s_current != nullptr) return ParentPositions::s_current->Of(parent);
    CategoryManager manager = h.m_manager.Get().Manager();
    if (manager.IsNull()) return -1;
    const CategoryList& categories = manager.GetCategoryList();
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      if (categories[i].IsSameHolder(parent)) return i;
    }
    Category same = manager.FindByFixedId(parent.GetFixedId(), false);
    for (int32_t i = 0; !same.IsNull() && i < categories.GetListCount(); ++i) {
      if (categories[i].IsSameHolder(same)) return i;
    }
    return -1;
  }

  static void WriteContact(const ContactHolder& h, Archive& ar) {
    ContactDescriptor(h.m_descriptor).SerializeQuick(ar, Archive::kNoSchema);
    RecordIdentification(h.m_identification).SerializeQuick(ar, Archive::kNoSchema);
    RecordStatus(h.m_status).SerializeQuick(ar, Archive::kNoSchema);
    ar.WriteObject(h.m_conflict.m_holder);
    ar.WriteObject(h.m_linkConflict.m_holder);
    ar.WriteInt(ParentPosition(h));
    ar.WriteDword(h.m_linkVersion);
    ar.WriteFlag(h.m_readOnlyConflict);
  }

  static void ReadContact(ContactHolder& h, Archive& ar, uint32_t version) {
    h.m_descriptor.SerializeQuick(ar, version);
    h.m_identification.SerializeQuick(ar, version);
    h.m_status.SerializeQuick(ar, version);
    h.m_conflict = Contact(ReadObjectAs<ContactHolder>(ar));
    h.m_linkConflict = Contact(ReadObjectAs<ContactHolder>(ar));
    const int32_t position = ar.ReadInt();
    // A position below -1 names no category: the contact is unfiled.
    if (position >= 0) {
      Category standIn = Category::CreateEmpty();
      standIn.m_holder->m_placeholder = true;
      standIn.m_holder->m_cloneIndex = position;
      h.m_parent = standIn;
    }
    h.m_linkVersion = ar.ReadDword();
    if (HasReadOnlyConflictFlag(version)) h.m_readOnlyConflict = ar.ReadFlag();
    CutConflictCycles(h);
  }

  // The conflict and link-conflict copies below a contact form a graph that a
  // file may close into cycles, which would never be freed: every slot that
  // leads back to a copy on the path from owner is cleared.
  static void CutConflictCycles(ContactHolder& owner) {
    if (owner.m_conflict.IsNull() && owner.m_linkConflict.IsNull()) return;
    struct Step {
      ContactHolder* holder;
      int slot;
    };
    std::unordered_set<const ContactHolder*> onPath{&owner};
    std::unordered_set<const ContactHolder*> done;
    std::vector<Step> path{{&owner, 0}};
    while (!path.empty()) {
      Step& step = path.back();
      if (step.slot == 2) {
        onPath.erase(step.holder);
        done.insert(step.holder);
        path.pop_back();
        continue;
      }
      Contact& slot = step.slot == 0 ? step.holder->m_conflict : step.holder->m_linkConflict;
      ++step.slot;
      ContactHolder* next = slot.m_holder;
      if (next == nullptr || done.count(next) != 0) continue;
      if (onPath.count(next) != 0) {
        slot = Contact();
        continue;
      }
      onPath.insert(next);
      path.push_back({next, 0});
    }
  }

  // ---- the manager ----

  static void WriteManager(CategoryManagerHolder& h, Archive& ar) {
    ParentPositions positions(h.m_categories);
    WritingManager writing(positions);
    ar.WriteInt(h.m_categories.GetListCount());
    for (int32_t i = 0; i < h.m_categories.GetListCount(); ++i) {
      Category c = h.m_categories[i];
      if (c.IsNull()) c = Category::CreateEmpty();
      WriteCategory(*c.m_holder, ar);
    }
    ar.WriteInt(h.m_contacts.GetListCount());
    for (int32_t i = 0; i < h.m_contacts.GetListCount(); ++i) {
      Contact c = h.m_contacts[i];
      if (c.IsNull()) c = Contact::CreateEmpty();
      WriteContact(*c.m_holder, ar);
    }
    h.m_tableIdentification.SerializeQuick(ar, Archive::kNoSchema);
  }

  static void ReadManager(CategoryManagerHolder& h, Archive& ar, uint32_t version) {
    const int32_t categories = ar.ReadCount(kMinCategoryBytes);
    CategoryList readCategories(categories);
    for (int32_t i = 0; i < categories; ++i) {
      Category c = Category::CreateEmpty();
      ReadCategory(*c.m_holder, ar, version);
      readCategories.Append(c);
    }
    h.m_categories = readCategories;
    const int32_t contacts = ar.ReadCount(kMinContactBytes);
    ContactList readContacts(contacts);
    for (int32_t i = 0; i < contacts; ++i) {
      Contact c = Contact::CreateEmpty();
      ReadContact(*c.m_holder, ar, version);
      readContacts.Append(c);
    }
    h.m_contacts = readContacts;
    h.m_tableIdentification.SerializeQuick(ar, version);
    Relink(h);
  }

  // Attaches every record read to the manager (without counting it) and puts
  // the manager's categories in place of the stand-in parents, in the contacts
  // and in every conflict copy below them. A position outside the list makes
  // the contact unfiled.
  static void Relink(CategoryManagerHolder& h) {
    CategoryManager self(&h);
    CategoryManagerReference reference(self);
    for (int32_t i = 0; i < h.m_categories.GetListCount(); ++i) {
      h.m_categories[i].m_holder->m_manager.Set(reference);
    }
    FlatSet<const ContactHolder*> seen(static_cast<size_t>(h.m_contacts.GetListCount()));
    std::vector<ContactHolder*> pending;
    for (int32_t i = 0; i < h.m_contacts.GetListCount(); ++i) {
      ContactHolder* c = h.m_contacts[i].m_holder;
      c->m_manager.Set(reference);
      if (seen.Insert(c)) pending.push_back(c);
    }
    const int32_t count = h.m_categories.GetListCount();
    while (!pending.empty()) {
      ContactHolder* c = pending.back();
      pending.pop_back();
      Category& parent = c->m_parent;
      if (!parent.IsNull() && parent.m_holder->m_placeholder) {
        const int32_t at = parent.m_holder->m_cloneIndex;
        parent = at >= 0 && at < count ? h.m_categories[at] : Category();
      }
      for (ContactHolder* next : {c->m_conflict.m_holder, c->m_linkConflict.m_holder}) {
        if (next != nullptr && seen.Insert(next)) pending.push_back(next);
      }
    }
  }
};

// ---- holders ----

void CategoryHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ContactStoredForm::WriteCategory(*this, ar);
  } else {
    ContactStoredForm::ReadCategory(*this, ar, ar.GetObjectSchema());
  }
}

void ContactHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ContactStoredForm::WriteContact(*this, ar);
  } else {
    ContactStoredForm::ReadContact(*this, ar, ar.GetObjectSchema());
  }
}

void CategoryManagerHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ContactStoredForm::WriteManager(*this, ar);
  } else {
    ContactStoredForm::ReadManager(*this, ar, ar.GetObjectSchema());
  }
}

// ---- letting go after a failed read ----

void CategoryHolder::DropReferences() {
  m_conflict = Category();
}

void ContactHolder::DropReferences() {
  m_conflict = Contact();
  m_linkConflict = Contact();
  m_parent = Category();
}

void CategoryManagerHolder::DropReferences() {
  m_categories.Clear();
  m_contacts.Clear();
}

// ---- handles ----

// The quick form has no null record: a null category or contact is stored as
// an empty one.
void Category::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ContactStoredForm::WriteCategory(IsNull() ? *CreateEmpty().m_holder : *Live(), ar);
    return;
  }
  Category read = CreateEmpty();
  ContactStoredForm::ReadCategory(*read.m_holder, ar, version);
  *this = read;
}

void Contact::SerializeQuick(Archive& ar, uint32_t version) {
  if (ar.IsStoring()) {
    ContactStoredForm::WriteContact(IsNull() ? *CreateEmpty().m_holder : *Live(), ar);
    return;
  }
  Contact read = CreateEmpty();
  ContactStoredForm::ReadContact(*read.m_holder, ar, version);
  *this = read;
}

void CategoryManager::SerializeQuick(Archive& ar, uint32_t) {
  SerializeHolderObject(ar);
}

}  // namespace brontel
