#include "contact_copy_json.h"

#include <string>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/uid128.h"
#include "brontel/platform/format.h"
#include "json_fields.h"

namespace brontel::tool {
namespace {

constexpr int32_t kPhoneCount = 5;
// The datums without a named field of their own: address, custom and note
// fields.
constexpr int32_t kLastOtherDatum = ContactDescriptor::kFirstPhone - kPhoneCount;

void LoadCategory(const Json& j, CategoryManager& manager) {
  bool unfiled = Flag(j, "unfiled", false);
  if (unfiled && !manager.GetUnfiled().IsNull()) {
    throw BadCopy("more than one category is \"unfiled\"");
  }
  Category category = manager.CreateNewCategory(unfiled);
  CategoryDescriptor d = category.GetCategoryDescriptor();
  d.SetCategoryName(Text(j, "name"));
  d.SetDescription(Text(j, "description"));
  d.SetColor(Number(j, "color", 0));
  d.SetOwnedFlag(Flag(j, "owned", true));
  d.SetSharedFlag(Flag(j, "shared", false));
  d.SetReadOnlyFlag(Flag(j, "readOnly", false));
  LoadRecordFields(j, category);
}

// The category a contact names: by position in "categories", by its (unique)
// name, or none (null) for an unfiled contact.
Category ParentOf(const Json& j, const CategoryManager& manager) {
  auto it = j.find("category");
  if (it == j.end() || it->is_null()) return Category();
  const CategoryList& categories = manager.GetCategoryList();
  if (it->is_number_integer()) {
    int64_t at = it->get<int64_t>();
    if (at < 0 || at >= categories.GetListCount()) {
      throw BadCopy(Format("category index %lld is out of range", static_cast<long long>(at)));
    }
    return categories[static_cast<int32_t>(at)];
  }
  if (!it->is_string()) throw BadCopy("\"category\" is not an index, a name or null");
  const std::string& name = it->get_ref<const std::string&>();
  Category found;
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (categories[i].GetCategoryDescriptor().GetCategoryName() != name) continue;
    if (!found.IsNull()) {
      throw BadCopy("more than one category is named \"" + name + "\"; use its index");
    }
    found = categories[i];
  }
  if (found.IsNull()) throw BadCopy("no category named \"" + name + "\"");
  return found;
}

// "datums": {"index": text} for the datums 0 to kLastOtherDatum.
void LoadOtherDatums(const Json& j, ContactDescriptor& d) {
  const Json* datums = ObjectOrNull(j, "datums");
  if (datums == nullptr) return;
  for (auto it = datums->begin(); it != datums->end(); ++it) {
    const std::string& key = it.key();
    int32_t index = -1;
    if (!key.empty() && key.size() <= 2 &&
        key.find_first_not_of("0123456789") == std::string::npos) {
      index = std::stoi(key);
    }
    if (index < 0 || index > kLastOtherDatum) {
      throw BadCopy(Format(
          "datum \"%s\" is not an index from 0 to %d (lastName, firstName, company and phones "
          "have fields of their own)",
          key.c_str(), kLastOtherDatum));
    }
    if (it->is_null()) continue;
    if (!it->is_string()) throw BadCopy(Format("datum \"%s\" is not a text", key.c_str()));
    d.SetDatum(index, it->get<std::string>());
  }
}

void LoadPhones(const Json& j, ContactDescriptor& d) {
  const Json& phones = Array(j, "phones");
  if (phones.size() > kPhoneCount) throw BadCopy("\"phones\" holds more than 5 numbers");
  for (size_t k = 0; k < phones.size(); ++k) {
    if (phones[k].is_null()) continue;
    if (!phones[k].is_string()) throw BadCopy("a phone is not a text");
    d.SetDatum(ContactDescriptor::kFirstPhone - static_cast<int32_t>(k),
               phones[k].get<std::string>());
  }
}

void LoadContact(const Json& j, CategoryManager& manager) {
  Category parent = ParentOf(j, manager);
  Contact contact = parent.IsNull() ? manager.CreateNewContact() : manager.CreateNewContact(parent);
  ContactDescriptor d = contact.GetContactDescriptor();
  d.SetDatum(ContactDescriptor::kLastName, Text(j, "lastName"));
  d.SetDatum(ContactDescriptor::kFirstName, Text(j, "firstName"));
  d.SetDatum(ContactDescriptor::kCompany, Text(j, "company"));
  LoadPhones(j, d);
  LoadOtherDatums(j, d);
  d.SetFlags(Number(j, "flags", 0));
  d.SetOptions(Number(j, "options", 0));
  d.SetOffset(static_cast<uint8_t>(Number(j, "offset", 0, 0xFF)));
  d.SetIsPrivate(Flag(j, "private", false));
  contact.SetLinkVersion(Number(j, "linkVersion", 0));
  LoadRecordFields(j, contact);
}

// Runs load on each element, naming the element's position in an error.
template <class Load>
void ForEachRecord(const Json& elements, const char* what, Load load) {
  for (size_t i = 0; i < elements.size(); ++i) {
    try {
      load(elements[i]);
    } catch (const BadCopy& e) {
      throw BadCopy(Format("%s %zu: %s", what, i, e.what()));
    }
  }
}

void LoadManager(const Json& j, CategoryManager& manager) {
  if (j.contains("gid")) {
    UID128 gid;
    gid.SetString(Text(j, "gid"));
    manager.SetGID(gid);
  }
  uint32_t version = Number(j, "version", 0xFFFFFFFF);
  if (version >= 0x80000000u && version != 0xFFFFFFFFu) throw BadCopy("version out of range");
  manager.SetVersion(version);
  ForEachRecord(Objects(j, "categories", "a category"), "category",
                [&](const Json& c) { LoadCategory(c, manager); });
  ForEachRecord(Objects(j, "contacts", "a contact"), "contact",
                [&](const Json& c) { LoadContact(c, manager); });
  // The engines find records by id: an id used twice would make one record
  // stand for another.
  if (!manager.IsCoherent()) {
    throw BadCopy("two categories, or two contacts, share a cache id, local id or fixed id");
  }
}

int32_t IndexOf(const CategoryList& categories, const Category& category) {
  if (category.IsNull()) return -1;
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (categories[i].IsSameHolder(category)) return i;
  }
  return -1;
}

Json CategoryJson(const Category& c) {
  CategoryDescriptor d = c.GetCategoryDescriptor();
  Json j;
  j["name"] = d.GetCategoryName();
  j["description"] = d.GetDescription();
  j["color"] = Hex(d.GetColor());
  j["owned"] = d.GetOwnedFlag();
  j["shared"] = d.GetSharedFlag();
  j["readOnly"] = d.GetReadOnlyFlag();
  j["unfiled"] = c.IsUnfiled();
  SaveRecordFields(c, j);
  return j;
}

Json ContactJson(const Contact& c, const CategoryList& categories) {
  ContactDescriptor d = c.GetContactDescriptor();
  Json j;
  j["lastName"] = d.GetDatum(ContactDescriptor::kLastName);
  j["firstName"] = d.GetDatum(ContactDescriptor::kFirstName);
  j["company"] = d.GetDatum(ContactDescriptor::kCompany);
  // Phone 1 first; empty phones after the last number are left out.
  int32_t phoneCount = kPhoneCount;
  while (phoneCount > 0 && d.GetDatum(ContactDescriptor::kFirstPhone - phoneCount + 1).empty()) {
    --phoneCount;
  }
  Json phones = Json::array();
  for (int32_t k = 0; k < phoneCount; ++k) {
    phones.push_back(d.GetDatum(ContactDescriptor::kFirstPhone - k));
  }
  j["phones"] = phones;
  Json datums = Json::object();
  for (int32_t i = 0; i <= kLastOtherDatum; ++i) {
    if (!d.GetDatum(i).empty()) datums[std::to_string(i)] = d.GetDatum(i);
  }
  j["datums"] = datums;
  j["flags"] = Hex(d.GetFlags());
  j["options"] = Hex(d.GetOptions());
  j["offset"] = d.GetOffset();
  j["private"] = d.GetIsPrivate();
  int32_t at = IndexOf(categories, c.GetCategory());
  j["category"] = at < 0 ? Json(nullptr) : Json(at);
  j["linkVersion"] = Hex(c.GetLinkVersion());
  SaveRecordFields(c, j);
  if (c.IsLinkConflicted()) j["linkConflict"] = true;
  return j;
}

}  // namespace

bool LoadContactCopy(const std::string& text, CategoryManager& manager, std::string* error) {
  return ParseCopy(
      text, [&](const Json& j) { LoadManager(j, manager); }, error);
}

std::string SaveContactCopy(const CategoryManager& manager) {
  Json out;
  out["gid"] = manager.GetGID().GetString();
  out["version"] = Hex(manager.GetVersion());
  const CategoryList& categories = manager.GetCategoryList();
  Json categoryArray = Json::array();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    categoryArray.push_back(CategoryJson(categories[i]));
  }
  out["categories"] = categoryArray;
  const ContactList& contacts = manager.GetContactList();
  Json contactArray = Json::array();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    contactArray.push_back(ContactJson(contacts[i], categories));
  }
  out["contacts"] = contactArray;
  return out.dump(2) + "\n";
}

}  // namespace brontel::tool
