// Fuzz target for applying server answers: arbitrary bytes are translated
// into a responder over a small calendar manager and over a small category
// manager, as a server exchange of each family would do.
//
// Whatever the bytes, the translation must not crash or recurse without bound,
// the result and the error message must agree, an answer that fails must leave
// its manager exactly as it was, and afterwards both managers must be coherent
// (no id held twice in a list) and sane (every record and link belongs to its
// manager) and still copy cleanly. Byte 0 of the input, when odd, turns on
// tombstones for events the manager does not hold. Settings the answers push
// go to a private directory, emptied after every input.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <type_traits>

#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/host/time_logger.h"
#include "brontel/platform/tree_view.h"
#include "brontel/protocol/response_translator.h"
#include "brontel/protocol/xml_responder.h"

namespace {

using namespace brontel;

// The settings directory of this process, made once.
const std::string& SettingsDirectory() {
  static const std::string directory = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "brontel-fuzz-settings-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) __builtin_trap();
    setenv("BRONTEL_REGISTRY_DIR", pattern.c_str(), 1);
    return pattern;
  }();
  return directory;
}

void RemoveSettingsDirectory() {
  std::error_code ignored;
  std::filesystem::remove_all(SettingsDirectory(), ignored);
}

void ClearSettings() {
  std::error_code ignored;
  for (const auto& entry : std::filesystem::directory_iterator(SettingsDirectory(), ignored)) {
    std::filesystem::remove(entry.path(), ignored);
  }
}

// Two calendars with server ids 5 and 6 (the first the default calendar), a
// third the server does not know, and events with server ids 20 to 22 placed
// in them, one of them cloned from another: ids the seed answers name.
CalendarManager MakeCalendars() {
  CalendarManager manager = CalendarManager::CreateEmpty();
  manager.SetVersion(0x10);
  auto calendar = [&](const char* name, uint32_t sid, uint32_t fixedId) {
    CalendarDescriptor d;
    d.SetCalendarName(name);
    d.SetSharedFlag(sid != 0);
    Calendar c = manager.CreateNewCalendar(d);
    c.SetServeId(sid);
    c.SetFixedId(fixedId);
    c.SetVersion(0x10);
    return c;
  };
  Calendar home = calendar("home", 5, Calendar::DefaultCalendarFixedId());
  home.GetCalendarDescriptor().SetDefaultCalendar(true);
  Calendar work = calendar("work", 6, 0x80000002);
  Calendar mine = calendar("mine", 0, 0x80000003);
  auto event = [&](const char* name, uint32_t sid, uint32_t fixedId) {
    EventDescriptor d;
    d.SetName(name);
    d.SetYearMonthDate(0x3061);
    Event e = manager.CreateNewEvent(d, sid, fixedId);
    e.SetVersion(0x10);
    return e;
  };
  Event lunch = event("lunch", 20, 0x80000011);
  lunch.AddToCalendar(home);
  lunch.AddToCalendar(work);
  Event gym = event("gym", 21, 0x80000012);
  gym.AddToCalendar(work);
  Event once = gym.CreateCloneEvent(gym.GetEventDescriptor(), 22, 0x80000013);
  once.AddToCalendar(mine);
  return manager;
}

// Categories with server ids 2 and 3, one unfiled category, and contacts with
// server ids 7 to 9 in them.
CategoryManager MakeCategories() {
  CategoryManager manager = CategoryManager::CreateEmpty();
  manager.SetVersion(0x10);
  auto category = [&](const char* name, uint32_t sid, uint32_t fixedId, bool unfiled) {
    CategoryDescriptor d;
    d.SetCategoryName(name);
    d.SetSharedFlag(sid != 0);
    Category c = manager.CreateNewCategory(d, unfiled);
    c.SetServeId(sid);
    c.SetFixedId(fixedId);
    return c;
  };
  Category family = category("Family", 2, 0x80000002, false);
  Category club = category("Club", 3, 0x80000003, false);
  category("Unfiled", 0, 0, true);
  auto contact = [&](const char* last, const Category& in, uint32_t sid, uint32_t fixedId) {
    ContactDescriptor d;
    d.SetDatum(ContactDescriptor::kLastName, last);
    Contact c = manager.CreateNewContact(in, d);
    c.SetServeId(sid);
    c.SetFixedId(fixedId);
  };
  contact("Ann", family, 7, 0x80000007);
  contact("Bob", club, 8, 0x80000008);
  contact("Cy", Category(), 9, 0x80000009);
  return manager;
}

template <class Manager>
std::string Snapshot(const Manager& manager) {
  TextTree tree;
  manager.DisplayTree(tree, kTreeRoot);
  return tree.Render();
}

template <class Manager>
void Check(Manager& manager, const std::string& answer, bool tombstones) {
  const std::string before = Snapshot(manager);
  br_error result;
  {
    int64_t now = 0;
    TimeLogger logger([&] { return now += 7; });
    XmlResponder responder = [&] {
      if constexpr (std::is_same_v<Manager, CalendarManager>) {
        return XmlResponder(manager, "", tombstones);
      } else {
        (void)tombstones;
        return XmlResponder(manager, "");
      }
    }();
    ResponseTranslator translator(&responder, &logger);
    result = translator.Translate(answer);
    if ((result == ERR_NONE) != translator.GetErrorMessage().empty()) __builtin_trap();
  }
  // A failed answer reaches the responder not at all.
  if (result != ERR_NONE && Snapshot(manager) != before) __builtin_trap();
  if (!manager.IsCoherent() || !manager.SanityCheck()) __builtin_trap();
  Manager left = manager.Clone();
  Manager right = manager.Clone();
  (void)left.Verify(right);
  (void)manager.SharedClone();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool initialized =
      (InitBrontelDLL(), !SettingsDirectory().empty() && std::atexit(RemoveSettingsDirectory) == 0);
  (void)initialized;
  if (size < 1) return 0;
  const bool tombstones = (data[0] & 1) != 0;
  const std::string answer(reinterpret_cast<const char*>(data) + 1, size - 1);
  CalendarManager calendars = MakeCalendars();
  Check(calendars, answer, tombstones);
  CategoryManager categories = MakeCategories();
  Check(categories, answer, tombstones);
  ClearSettings();
  return 0;
}
