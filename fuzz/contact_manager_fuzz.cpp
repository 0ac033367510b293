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

namespace {

using namespace brontel;

// Releases the reference that ReadObjectAs hands to its caller.
template <class H>
class Read {
 public:
  explicit Read(H* holder) : m_holder(holder) {}
  ~Read() {
    if (m_holder != nullptr) m_holder->ReleaseReference();
  }
  Read(const Read&) = delete;
  Read& operator=(const Read&) = delete;
  H* get() const { return m_holder; }

 private:
  H* m_holder;
};

// Reads one object record of class H; null for the null record.
template <class H>
H* ReadHolder(std::string_view bytes, bool wholeInput) {
  Archive ar(bytes);
  H* holder = ReadObjectAs<H>(ar);
  if (wholeInput && ar.Remaining() != 0) {
    if (holder != nullptr) holder->ReleaseReference();
    __builtin_trap();  // our own stored form must be read to its end
  }
  return holder;
}

std::string Store(const Serializable* holder) {
  StringSink sink;
  Archive ar(sink);
  ar.WriteObject(holder);
  ar.Flush();
  return sink.contents();
}

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
  std::string stored;
  {
    H* first = nullptr;
    try {
      first = ReadHolder<H>(input, false);
    } catch (const ArchiveError&) {
      return;
    }
    Read<H> owner(first);
    if (first == nullptr) return;
    Exercise(ManagerOf(first));
    stored = Store(first);
  }
  // Our own stored form must always read back. A hostile input may hold what
  // the writer normalizes (a parent position naming no category, a conflict
  // copy that comes back to itself), so the first rewrite may differ from the
  // input; from then on every rewrite is identical.
  try {
    std::string again;
    {
      Read<H> second(ReadHolder<H>(stored, true));
      if (second.get() == nullptr) __builtin_trap();
      Exercise(ManagerOf(second.get()));
      again = Store(second.get());
    }
    Read<H> third(ReadHolder<H>(again, true));
    if (third.get() == nullptr) __builtin_trap();
    if (Store(third.get()) != again) __builtin_trap();
  } catch (const ArchiveError&) {
    __builtin_trap();  // our own stored form failed to read back
  }
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
