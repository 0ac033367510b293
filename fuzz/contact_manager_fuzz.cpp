// Fuzz target for reading category managers and caches as the contact shadow
// and cache files hold them.
//
// Input: byte 0 chooses the class expected (even: "CategoryManagerHolder",
// odd: "CategoryCacheHolder"), the rest is an archive holding one object
// record. Damaged input must end in an ArchiveError, never a crash or a leak.
// Whatever reads successfully is checked, displayed, cloned and verified, then
// stored, read back and stored again: the second stored form must be
// identical to the first rewrite, and every read of a rewrite must use every
// byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "brontel/api/brontel_api.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact_holders.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/tree_view.h"
#include "stored_manager_round_trip.h"

namespace {

using namespace brontel;

// The manager of a holder read as H.
CategoryManager ManagerOf(CategoryManagerHolder* holder) {
  return CategoryManager(holder);
}
CategoryManager ManagerOf(CategoryCacheHolder* holder) {
  return holder->m_manager;
}

void Exercise(const CategoryManager& manager) {
  if (manager.IsNull()) return;
  (void)manager.SanityCheck();
  (void)manager.IsCoherent();
  (void)manager.GetDisplayString();
  TextTree tree;
  manager.DisplayTree(tree, kTreeRoot);
  (void)tree.Render();
  // A clone holds the same data as the manager it was made from.
  CategoryManager left = manager.Clone();
  CategoryManager right = manager.Clone();
  (void)left.Verify(right);
  CategoryManager shared = manager.SharedClone();
  shared.RemoveOrphanedContacts();
  shared.CoerceNames(nullptr, true);
}

template <class H>
void Fuzz(std::string_view input) {
  fuzz::RoundTrip<H>(input, [](H* holder) { Exercise(ManagerOf(holder)); });
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized = (InitBrontelDLL(), true);
  (void)initialized;
  if (size < 1) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    Fuzz<CategoryManagerHolder>(input);
  } else {
    Fuzz<CategoryCacheHolder>(input);
  }
  return 0;
}
