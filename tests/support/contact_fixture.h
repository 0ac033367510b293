// Builders of contact data for tests: categories of each sharing kind,
// contacts with a name, and the stored bytes of managers and caches. Every
// record is created through its manager, as the library itself creates them,
// so back references, parents and indexes are real.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"

namespace brontel::testing {

// How a category is shared: the three sharing flags of its descriptor.
struct CategoryKind {
  bool shared = false;
  bool owned = true;
  bool readOnly = false;

  // The user's own category, not shared.
  static CategoryKind Local() { return {}; }
  // Owned and shared with others.
  static CategoryKind Published() { return {true, true, false}; }
  // Another user's category that this user may change.
  static CategoryKind SubscribedReadWrite() { return {true, false, false}; }
  // Another user's category that this user may only read.
  static CategoryKind SubscribedReadOnly() { return {true, false, true}; }
};

// A category descriptor with that name and kind; every other field default.
CategoryDescriptor MakeCategoryDescriptor(const std::string& name,
                                          CategoryKind kind = CategoryKind::Local());

// A contact descriptor with last and first name (datums 18 and 17).
ContactDescriptor MakeContactDescriptor(const std::string& last, const std::string& first = "");

// A new category of manager; fixedId and cacheId are set when not 0.
Category AddCategory(CategoryManager manager, const std::string& name,
                     CategoryKind kind = CategoryKind::Local(), uint32_t fixedId = 0,
                     uint32_t cacheId = 0);

// A new contact of manager in category (null: unfiled) named last, first;
// fixedId and cacheId are set when not 0.
Contact AddContact(CategoryManager manager, const Category& category, const std::string& last,
                   uint32_t fixedId = 0, uint32_t cacheId = 0);

// The stored forms: a manager as a shadow file holds it, a cache as the cache
// file holds it.
std::string StoreManager(const CategoryManager& manager);
std::string StoreCache(const CategoryCache& cache);
// Reads them back; an ArchiveError passes through.
CategoryManager ReadManager(const std::string& bytes);
CategoryCache ReadCache(const std::string& bytes);

// The last names of the contacts of manager, in list order, "|"-separated.
std::string ContactNames(const CategoryManager& manager);
// The names of the categories of manager, in list order, "|"-separated.
std::string CategoryNames(const CategoryManager& manager);

}  // namespace brontel::testing
