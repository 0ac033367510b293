#include "support/contact_fixture.h"

#include "brontel/contacts/contact_classes.h"
#include "brontel/platform/archive.h"

namespace brontel::testing {

CategoryDescriptor MakeCategoryDescriptor(const std::string& name, CategoryKind kind) {
  CategoryDescriptor descriptor;
  descriptor.SetCategoryName(name);
  descriptor.SetSharedFlag(kind.shared);
  descriptor.SetOwnedFlag(kind.owned);
  descriptor.SetReadOnlyFlag(kind.readOnly);
  return descriptor;
}

ContactDescriptor MakeContactDescriptor(const std::string& last, const std::string& first) {
  ContactDescriptor descriptor;
  descriptor.SetDatum(ContactDescriptor::kLastName, last);
  descriptor.SetDatum(ContactDescriptor::kFirstName, first);
  return descriptor;
}

Category AddCategory(CategoryManager manager, const std::string& name, CategoryKind kind,
                     uint32_t fixedId, uint32_t cacheId) {
  Category category = manager.CreateNewCategory(MakeCategoryDescriptor(name, kind), false);
  if (fixedId != 0) category.SetFixedId(fixedId);
  if (cacheId != 0) category.SetCacheId(cacheId);
  return category;
}

Contact AddContact(CategoryManager manager, const Category& category, const std::string& last,
                   uint32_t fixedId, uint32_t cacheId) {
  Contact contact = manager.CreateNewContact(category, MakeContactDescriptor(last));
  if (fixedId != 0) contact.SetFixedId(fixedId);
  if (cacheId != 0) contact.SetCacheId(cacheId);
  return contact;
}

std::string StoreManager(const CategoryManager& manager) {
  StringSink sink;
  {
    Archive ar(sink);
    CategoryManager(manager).Serialize(ar);
  }
  return sink.contents();
}

std::string StoreCache(const CategoryCache& cache) {
  StringSink sink;
  {
    Archive ar(sink);
    CategoryCache(cache).Serialize(ar);
  }
  return sink.contents();
}

CategoryManager ReadManager(const std::string& bytes) {
  RegisterContactClasses();
  CategoryManager manager;
  Archive ar(bytes);
  manager.Serialize(ar);
  return manager;
}

CategoryCache ReadCache(const std::string& bytes) {
  RegisterContactClasses();
  CategoryCache cache;
  Archive ar(bytes);
  cache.Serialize(ar);
  return cache;
}

std::string ContactNames(const CategoryManager& manager) {
  std::string names;
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (i > 0) names += "|";
    names += contacts[i].GetContactDescriptor().GetDatum(ContactDescriptor::kLastName);
  }
  return names;
}

std::string CategoryNames(const CategoryManager& manager) {
  std::string names;
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (i > 0) names += "|";
    names += categories[i].GetCategoryDescriptor().GetCategoryName();
  }
  return names;
}

}  // namespace brontel::testing
