// A seeded randomized run of the whole system through the real server
// program: two desktops and a handheld of Ann (the handheld docks with her
// first desktop) and a desktop of Bob, who subscribes to some of Ann's
// calendars and categories. Each round a few copies make random edits, Ann
// changes her shares, and the copies synchronize in a random order. Every few
// rounds a quiet phase lets every copy synchronize twice without edits; then
// Ann's copies must hold the same data, nothing that was made and not deleted
// may be gone (for Ann and, in what she shares, for Bob), and a conflict may
// show only on a record that two copies changed in the same stretch.
//
// Known behaviours the checks allow for: a change that reaches its cache
// after a server pass changed the same record there may show as a conflict;
// records that show a conflict the user has not settled are left out of the
// comparisons (and nobody edits them); a quiet phase after a conflict, or
// after a change that met a server pass's change in its cache, may take up to
// four passes; an unfiled contact leaves the server; an exception
// of a deleted event shows no repeating event, except on a copy that kept the
// event as an unsettled conflict (it edited the event while another deleted it).
//
// BRONTEL_CONVERGENCE_SEED replays a printed seed ("random" picks a new one;
// unset, the run uses kDefaultSeed); BRONTEL_CONVERGENCE_ROUNDS
// sets the number of rounds (small by default, for CI);
// BRONTEL_CONVERGENCE_TRACE names a record to follow through every copy,
// cache and server shadow in the log of a failing run.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <iostream>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "brontel/host/registry.h"
#include "desktop_fixture.h"
#include "server_process.h"
#include "support/scoped_environment.h"

namespace brontel::server::testing {
namespace {

using brontel::testing::AddCalendar;
using brontel::testing::AddCategory;
using brontel::testing::AddContact;
using brontel::testing::AddEvent;
using brontel::testing::CalendarKind;
using brontel::testing::CalendarNamesOf;
using brontel::testing::CategoryKind;
using brontel::testing::PlacementOf;

// The first Mondays of a weekly event that starts on Monday 1 March 2004.
constexpr uint16_t Date(int year, int month, int day) {
  return static_cast<uint16_t>((year - 1904) << 9 | month << 5 | day);
}
constexpr uint16_t kMondays[] = {Date(2004, 3, 8),  Date(2004, 3, 15), Date(2004, 3, 22),
                                 Date(2004, 3, 29), Date(2004, 4, 5),  Date(2004, 4, 12)};

// Ann keeps fewer categories than a handheld can hold.
constexpr size_t kMaxCategories = 8;

// The story every plain run of the suite tells.
constexpr uint32_t kDefaultSeed = 1;

uint32_t EnvironmentNumber(const char* name, uint32_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0))
                                          : fallback;
}

// ---- Finding records by name in one copy ----

std::string NameOf(const Calendar& c) {
  return c.GetCalendarDescriptor().GetCalendarName();
}
std::string NameOf(const Event& e) {
  return e.GetEventDescriptor().GetName();
}
std::string NameOf(const Category& c) {
  return c.GetCategoryDescriptor().GetCategoryName();
}
std::string NameOf(const Contact& c) {
  return c.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName);
}

// The live records of a list (no unfiled category).
template <class Record, class List>
std::vector<Record> LiveOf(const List& list) {
  std::vector<Record> records;
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    const Record& record = list[i];
    if (record.IsNull() || record.IsDeleted()) continue;
    if constexpr (std::is_same_v<Record, Category>) {
      if (record.IsUnfiled()) continue;
    }
    records.push_back(record);
  }
  return records;
}
std::vector<Calendar> CalendarsOf(const CalendarManager& m) {
  return LiveOf<Calendar>(m.GetCalendarList());
}
std::vector<Event> EventsOf(const CalendarManager& m) {
  return LiveOf<Event>(m.GetEventList());
}
std::vector<Category> CategoriesOf(const CategoryManager& m) {
  return LiveOf<Category>(m.GetCategoryList());
}
std::vector<Contact> ContactsOf(const CategoryManager& m) {
  return LiveOf<Contact>(m.GetContactList());
}

template <class Record>
Record Named(const std::vector<Record>& records, const std::string& name) {
  for (const Record& record : records) {
    if (NameOf(record) == name) return record;
  }
  return Record();
}

// The names of records, sorted, one per record (a name held twice shows twice).
template <class Record>
std::multiset<std::string> NamesOf(const std::vector<Record>& records) {
  std::multiset<std::string> names;
  for (const Record& record : records) names.insert(NameOf(record));
  return names;
}

// The canonical text of a copy without the alternatives of conflicts, which
// only the copy that met the conflict holds.
std::string WithoutConflicts(const std::string& text) {
  std::string result;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    std::string line = text.substr(start, end - start);
    size_t conflict = line.find(" conflict ");
    if (conflict != std::string::npos) line.resize(conflict);
    result += line + "\n";
    start = end + 1;
  }
  return result;
}

// The names of the records of a copy that show a conflict: records with a
// competing version or a competing link, and names held twice (a conflict
// copy).
std::set<std::string> ConflictNames(const CalendarManager& calendars,
                                    const CategoryManager& contacts) {
  std::set<std::string> names;
  auto twice = [&names](const std::multiset<std::string>& all) {
    for (const std::string& name : all) {
      if (all.count(name) > 1) names.insert(name);
    }
  };
  for (const Calendar& calendar : CalendarsOf(calendars)) {
    if (calendar.IsConflicted()) names.insert(NameOf(calendar));
  }
  for (const Event& event : EventsOf(calendars)) {
    bool conflicted = event.IsConflicted();
    const CalendarEventList& links = event.GetCalendarEventList();
    for (int32_t i = 0; i < links.GetListCount(); ++i) {
      if (!links[i].IsNull() && links[i].IsConflicted()) conflicted = true;
    }
    if (conflicted) names.insert(NameOf(event));
  }
  for (const Category& category : CategoriesOf(contacts)) {
    if (category.IsConflicted()) names.insert(NameOf(category));
  }
  for (const Contact& contact : ContactsOf(contacts)) {
    if (contact.IsConflicted() || contact.IsLinkConflicted()) names.insert(NameOf(contact));
  }
  twice(NamesOf(CalendarsOf(calendars)));
  twice(NamesOf(EventsOf(calendars)));
  twice(NamesOf(CategoriesOf(contacts)));
  twice(NamesOf(ContactsOf(contacts)));
  return names;
}

// The server shadows of a desktop's directory.
CalendarManager ServerShadowOfCalendars(const Desktop& desktop) {
  const std::string bytes = brontel::testing::ReadFileOrMissing(desktop.Directory() + "/" +
                                                                CalendarApi::kServerShadowFile);
  CalendarManager manager = CalendarManager::CreateEmpty();
  if (bytes == brontel::testing::kMissing) return manager;
  Archive ar(bytes);
  manager.Serialize(ar);
  return manager;
}
CategoryManager ServerShadowOfContacts(const Desktop& desktop) {
  const std::string bytes = brontel::testing::ReadFileOrMissing(desktop.Directory() + "/" +
                                                                CategoryApi::kServerShadowFile);
  if (bytes == brontel::testing::kMissing) return CategoryManager::CreateEmpty();
  return brontel::testing::ReadManager(bytes);
}

// Gives every record of a server shadow its server id as fixed id: the
// desktop that made a record keeps its own provisional fixed id for it, the
// others know it by the server's id. Placements are known by their calendar.
// A placement the server deleted may stay in the shadow of the desktop whose
// move deleted it, where the next request takes it as absent: it goes.
void ToServerIds(CalendarManager manager) {
  for (Calendar calendar : CalendarsOf(manager)) calendar.SetFixedId(calendar.GetLocalId());
  for (Event event : EventsOf(manager)) {
    event.SetFixedId(event.GetLocalId());
    for (CalendarEvent link : event.GetCalendarEventList().Snapshot()) {
      if (link.IsNull()) continue;
      if (link.IsDeleted()) {
        link.Remove();
        continue;
      }
      link.SetFixedId(link.GetParentCalendar().GetLocalId());
    }
  }
}
void ToServerIds(CategoryManager manager) {
  CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (!categories[i].IsNull()) categories[i].SetFixedId(categories[i].GetLocalId());
  }
  ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (!contacts[i].IsNull()) contacts[i].SetFixedId(contacts[i].GetLocalId());
  }
}

// True when two desktops hold the same server shadows of both families, in the
// server's ids, versions included.
bool ServerShadowsAgree(const Desktop& one, const Desktop& other) {
  CalendarManager calendars = ServerShadowOfCalendars(one);
  CalendarManager otherCalendars = ServerShadowOfCalendars(other);
  ToServerIds(calendars);
  ToServerIds(otherCalendars);
  CategoryManager contacts = ServerShadowOfContacts(one);
  CategoryManager otherContacts = ServerShadowOfContacts(other);
  ToServerIds(contacts);
  ToServerIds(otherContacts);
  return calendars.Verify(otherCalendars) && contacts.Verify(otherContacts);
}

// ---- The handheld ----

// Ann's handheld: API objects of both families on the directory of the
// desktop it docks with, whose records stand for the device's. After each
// conduit run the device holds what the run gave it: deleted records go, new
// ones get the device's record ids, everything is clean.
class Handheld {
 public:
  explicit Handheld(const std::string& directory)
      : m_calendars(BrontelAPI::CreateCalendarApi(directory, kRevision)),
        m_contacts(BrontelAPI::CreateCategoryApi(directory, "ann")) {}

  CalendarManager Calendars() const { return m_calendars.GetCalendarManager(); }
  CategoryManager Contacts() const { return m_contacts.GetCategoryManager(); }
  CalendarApi& CalendarObject() { return m_calendars; }
  CategoryApi& ContactObject() { return m_contacts; }

  // One conduit run of a family (0 calendars, 1 contacts).
  br_error Sync(int family) {
    NumberNewRecords();
    const br_error result = family == 0 ? m_calendars.SyncHandheld() : m_contacts.SyncHandheld();
    if (family == 0) {
      WriteToDevice(Calendars());
    } else {
      WriteToDevice(Contacts());
    }
    NumberNewRecords();
    return result;
  }

 private:
  void WriteToDevice(CalendarManager manager) {
    for (Event event : EventsList(manager)) {
      if (event.IsDeleted()) {
        event.Remove(true);
        continue;
      }
      CalendarEventList links = event.GetCalendarEventList();
      for (int32_t i = 0; i < links.GetListCount(); ++i) {
        CalendarEvent link = links[i];
        if (!link.IsNull() && link.IsDeleted()) link.Remove();
      }
    }
    CalendarList calendars = manager.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      Calendar calendar = calendars[i];
      if (!calendar.IsNull() && calendar.IsDeleted()) calendar.Remove();
    }
    manager.SetClean();
  }
  void WriteToDevice(CategoryManager manager) {
    ContactList contacts = manager.GetContactList();
    for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
      Contact contact = contacts[i];
      if (!contact.IsNull() && contact.IsDeleted()) contact.Remove();
    }
    CategoryList categories = manager.GetCategoryList();
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      Category category = categories[i];
      if (!category.IsNull() && category.IsDeleted()) category.Remove();
    }
    manager.SetClean();
  }
  static std::vector<Event> EventsList(const CalendarManager& manager) {
    std::vector<Event> events;
    const EventList& list = manager.GetEventList();
    for (int32_t i = 0; i < list.GetListCount(); ++i) {
      if (!list[i].IsNull()) events.push_back(list[i]);
    }
    return events;
  }

  // The device gives each new record its own record id (for events also the
  // date-book id), from a range of its own.
  void NumberNewRecords() {
    auto number = [this](auto& list) {
      for (int32_t i = 0; i < list.GetListCount(); ++i) {
        if (list[i].GetLocalId() == 0) list[i].SetLocalId(++m_lastRecordId);
      }
    };
    number(Calendars().GetCalendarList());
    number(Calendars().GetEventList());
    EventList& events = Calendars().GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (events[i].GetDateBookId() == 0) events[i].SetDateBookId(events[i].GetLocalId());
    }
    number(Contacts().GetCategoryList());
    number(Contacts().GetContactList());
  }

  CalendarApi m_calendars;
  CategoryApi m_contacts;
  uint32_t m_lastRecordId = 0x10000;
};

// ---- What should exist ----

enum class Share { kNone, kReadOnly, kReadWrite };

// Every record made and not deleted by anyone, by name, with where it is,
// and what Ann shares with Bob.
struct Model {
  std::set<std::string> calendars;
  std::map<std::string, std::set<std::string>> events;  // name -> calendars
  std::map<std::string, std::string> parents;           // exception -> repeating event
  std::set<std::string> categories;
  std::map<std::string, std::string> contacts;  // name -> category ("" unfiled)
  std::map<std::string, Share> calendarShares;
  std::map<std::string, Share> categoryShares;

  void RemoveEvent(const std::string& name) {
    events.erase(name);
    parents.erase(name);
    // An exception without its repeating event is not followed further.
    for (auto it = parents.begin(); it != parents.end();) {
      if (it->second == name) {
        events.erase(it->first);
        it = parents.erase(it);
      } else {
        ++it;
      }
    }
  }
  // A calendar goes with the events it alone showed.
  void RemoveCalendar(const std::string& name) {
    calendars.erase(name);
    calendarShares.erase(name);
    std::vector<std::string> emptied;
    for (auto& [event, in] : events) {
      in.erase(name);
      if (in.empty()) emptied.push_back(event);
    }
    for (const std::string& event : emptied) RemoveEvent(event);
  }
  // A category goes; its contacts are followed no further.
  void RemoveCategory(const std::string& name) {
    categories.erase(name);
    categoryShares.erase(name);
    for (auto it = contacts.begin(); it != contacts.end();) {
      it = it->second == name ? contacts.erase(it) : std::next(it);
    }
  }
};

// ---- The copies ----

// One copy that the user edits: a desktop or the handheld.
struct Copy {
  std::string label;
  bool bob = false;
  Desktop* desktop = nullptr;
  Handheld* handheld = nullptr;
  // Per family: the records changed here and not yet synchronized with the
  // cache, and the records that server passes changed in the cache since.
  std::set<std::string> pending[2];
  std::set<std::string> lagging[2];

  CalendarManager Calendars() const {
    return desktop ? desktop->Calendars() : handheld->Calendars();
  }
  CategoryManager Contacts() const { return desktop ? desktop->Contacts() : handheld->Contacts(); }
};

// ---- The run ----

class ConvergenceTest : public brontel::testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    CRegistry registry;
    registry.SetConnectTimeoutSeconds(5);
    registry.SetStallTimeoutSeconds(30);
    m_server = std::make_unique<ServerProcess>(m_serverDir.path());
    const int port = m_server->WaitForPort();
    ASSERT_GT(port, 0) << "the server did not start";
    CRegistry().SetServerSyncName(Format("127.0.0.1:%d", port));

    // A fixed seed by default, so that every run of the suite tests the same
    // story; BRONTEL_CONVERGENCE_SEED=random explores a new one.
    const char* seed = std::getenv("BRONTEL_CONVERGENCE_SEED");
    m_seed = seed != nullptr && std::string(seed) == "random"
                 ? std::random_device()()
                 : EnvironmentNumber("BRONTEL_CONVERGENCE_SEED", kDefaultSeed);
    m_rounds = EnvironmentNumber("BRONTEL_CONVERGENCE_ROUNDS", 16);
    m_random.seed(m_seed);
    std::cout << "convergence seed " << m_seed << ", " << m_rounds << " rounds\n";
    RecordProperty("seed", std::to_string(m_seed));

    for (const char* user : {"ann", "ann", "bob"}) {
      m_desktops.push_back(std::make_unique<Desktop>(user, std::string(user) + "-secret"));
      ASSERT_TRUE(m_desktops.back()->SignIn())
          << m_desktops.back()->CalendarObject().GetErrorMessage();
    }
    m_handheld = std::make_unique<Handheld>(m_desktops[0]->Directory());
    auto copy = [](const char* label, bool bob, Desktop* desktop, Handheld* handheld) {
      Copy result;
      result.label = label;
      result.bob = bob;
      result.desktop = desktop;
      result.handheld = handheld;
      return result;
    };
    m_copies = {copy("ann's first desktop", false, m_desktops[0].get(), nullptr),
                copy("ann's second desktop", false, m_desktops[1].get(), nullptr),
                copy("ann's handheld", false, nullptr, m_handheld.get()),
                copy("bob's desktop", true, m_desktops[2].get(), nullptr)};
  }
  void TearDown() override {
    m_copies.clear();
    m_handheld.reset();
    m_desktops.clear();
    m_server.reset();
    ApiTest::TearDown();
  }

  std::string Where() const { return Format("seed %u round %d", m_seed, m_round); }
  uint32_t Pick(size_t n) { return std::uniform_int_distribution<uint32_t>(0, n - 1)(m_random); }
  bool Chance(double p) { return std::bernoulli_distribution(p)(m_random); }
  template <class T>
  T PickOf(const std::vector<T>& items) {
    return items[Pick(items.size())];
  }

  // ---- Concurrent changes ----

  // A change by copy to the record name in this stretch.
  void Touch(Copy& copy, int family, const std::string& name) {
    m_touched += " " + name;
    m_editors[name].insert(copy.label);
    copy.pending[family].insert(name);
    if (copy.lagging[family].count(name) != 0) m_mayConflict.insert(name);
  }
  bool ConflictExpected(const std::string& name) const {
    auto editors = m_editors.find(name);
    return m_mayConflict.count(name) != 0 ||
           (editors != m_editors.end() && editors->second.size() > 1);
  }
  // Every conflict the copy shows must be one this stretch could make.
  void CheckConflicts(const Copy& copy) {
    for (const std::string& name : ConflictNames(copy.Calendars(), copy.Contacts())) {
      m_sawConflict = true;
      if (m_seenConflicts.insert(copy.label + " " + name).second) ++m_conflictCount;
      if (ConflictExpected(name)) {
        m_mayConflict.insert(name);  // it stays until the user settles it
        continue;
      }
      ADD_FAILURE() << Where() << ": " << copy.label << " shows a conflict on " << name
                    << " that only one copy changed:\n"
                    << Describe(copy.Calendars()) << Describe(copy.Contacts());
      m_mayConflict.insert(name);  // reported once
    }
  }

  // ---- Random edits ----

  // The calendars of copy that the user may put events in.
  std::vector<Calendar> WritableCalendars(const Copy& copy) {
    std::vector<Calendar> result;
    for (const Calendar& calendar : CalendarsOf(copy.Calendars())) {
      const std::string name = NameOf(calendar);
      if (m_model.calendars.count(name) == 0) continue;
      if (copy.bob && (m_model.calendarShares[name] != Share::kReadWrite ||
                       calendar.GetCalendarDescriptor().GetReadOnlyFlag())) {
        continue;
      }
      result.push_back(calendar);
    }
    return result;
  }
  std::vector<Category> WritableCategories(const Copy& copy) {
    std::vector<Category> result;
    for (const Category& category : CategoriesOf(copy.Contacts())) {
      const std::string name = NameOf(category);
      if (m_model.categories.count(name) == 0) continue;
      if (copy.bob && (m_model.categoryShares[name] != Share::kReadWrite ||
                       category.GetCategoryDescriptor().GetReadOnlyFlag())) {
        continue;
      }
      result.push_back(category);
    }
    return result;
  }
  // The events of copy the user may change: followed ones, and for Bob only
  // those wholly in calendars he may change.
  std::vector<Event> WritableEvents(const Copy& copy) {
    std::vector<Event> result;
    std::set<std::string> writable;
    for (const Calendar& calendar : WritableCalendars(copy)) writable.insert(NameOf(calendar));
    for (const Event& event : EventsOf(copy.Calendars())) {
      // A record that shows a conflict waits for the user to settle it.
      if (m_model.events.count(NameOf(event)) == 0 || event.IsConflicted()) continue;
      const std::vector<std::string> in = CalendarNamesOf(event);
      if (in.empty()) continue;
      if (copy.bob && !std::all_of(in.begin(), in.end(),
                                   [&](const std::string& c) { return writable.count(c) != 0; })) {
        continue;
      }
      result.push_back(event);
    }
    return result;
  }
  std::vector<Contact> WritableContacts(const Copy& copy) {
    std::set<std::string> writable;
    for (const Category& category : WritableCategories(copy)) writable.insert(NameOf(category));
    std::vector<Contact> result;
    for (const Contact& contact : ContactsOf(copy.Contacts())) {
      if (m_model.contacts.count(NameOf(contact)) == 0 || contact.IsConflicted() ||
          contact.IsLinkConflicted()) {
        continue;
      }
      const bool unfiled = contact.IsUnfiled();
      if (copy.bob && (unfiled || writable.count(NameOf(contact.GetCategory())) == 0)) continue;
      result.push_back(contact);
    }
    return result;
  }

  // A new name for a record of kind.
  std::string NewName(const char* kind) {
    ++m_created;
    return Format("%s%d", kind, ++m_lastName);
  }

  // Bob's additions wait for his next server pass of the family.
  void NoteBobsChange(const Copy& copy, int family, const std::string& name, bool added) {
    if (!copy.bob) return;
    (added ? m_bobsAdditions : m_bobsEdits)[family].insert(name);
    // A share his server pass has not heard of yet announces its records with
    // versions newer than the one he edits: his edit may show as a conflict.
    if (!added && m_shareUnheard[family]) m_mayConflict.insert(name);
  }

  // Each action changes copy and returns false when it found nothing to do.
  using Action = bool (ConvergenceTest::*)(Copy&);
  struct WeightedAction {
    const char* name;
    int weight;
    bool annOnly;
    bool desktopOnly;
    Action action;
  };

  bool AddEventAction(Copy& copy) {
    std::vector<Calendar> calendars = WritableCalendars(copy);
    if (calendars.empty()) return false;
    Calendar first = PickOf(calendars);
    const std::string name = NewName("E");
    CalendarManager manager = copy.Calendars();
    Event event = AddEvent(manager, name, {first});
    m_model.events[name] = {NameOf(first)};
    if (!copy.bob && calendars.size() > 1 && Chance(0.3)) {
      Calendar second = PickOf(calendars);
      if (PlacementOf(event, second).IsNull()) {
        event.AddToCalendar(second);
        m_model.events[name].insert(NameOf(second));
      }
    }
    Touch(copy, 0, name);
    NoteBobsChange(copy, 0, name, true);
    return true;
  }
  bool EditEventAction(Copy& copy) {
    std::vector<Event> events = WritableEvents(copy);
    if (events.empty()) return false;
    Event event = PickOf(events);
    event.GetEventDescriptor().SetNote(Format("note %d by %s", ++m_lastName, copy.label.c_str()));
    Touch(copy, 0, NameOf(event));
    NoteBobsChange(copy, 0, NameOf(event), false);
    // Ann put it where Bob may not write (moved it, or shared one of its
    // calendars read-only) and his copy has not heard yet: his edit is
    // refused or undone, and his copy keeps it as a conflict.
    if (copy.bob && !WritableByBob(m_model.events[NameOf(event)])) {
      m_mayConflict.insert(NameOf(event));
    }
    return true;
  }
  // True when Ann lets Bob write one of calendars and shows him none of them
  // read-only: an event in a calendar he only reads is read-only for him.
  bool WritableByBob(const std::set<std::string>& calendars) {
    auto shared = [&](const std::string& c, Share mode) {
      auto share = m_model.calendarShares.find(c);
      return share != m_model.calendarShares.end() && share->second == mode;
    };
    return std::any_of(calendars.begin(), calendars.end(),
                       [&](const std::string& c) { return shared(c, Share::kReadWrite); }) &&
           std::none_of(calendars.begin(), calendars.end(),
                        [&](const std::string& c) { return shared(c, Share::kReadOnly); });
  }
  bool DeleteEventAction(Copy& copy) {
    std::vector<Event> events = WritableEvents(copy);
    if (events.empty()) return false;
    Event event = PickOf(events);
    const std::string name = NameOf(event);
    if (!event.Remove(true)) return false;
    Touch(copy, 0, name);
    NoteBobsChange(copy, 0, name, false);
    m_model.RemoveEvent(name);
    return true;
  }
  // Moves an event out of one of its calendars into another, or shows it in
  // one more.
  bool PlaceEventAction(Copy& copy, bool move) {
    std::vector<Event> events = WritableEvents(copy);
    std::vector<Calendar> calendars = WritableCalendars(copy);
    if (events.empty() || calendars.size() < 2) return false;
    Event event = PickOf(events);
    Calendar target = PickOf(calendars);
    if (!PlacementOf(event, target).IsNull()) return false;
    const std::string name = NameOf(event);
    // An event that another copy deleted is followed no further: the
    // deletion wins on the server over a move or link made before it came.
    const bool followed = m_model.events.count(name) != 0;
    if (move) {
      const std::vector<std::string> in = CalendarNamesOf(event);
      const std::string from = PickOf(in);
      Calendar source = Named(CalendarsOf(copy.Calendars()), from);
      if (!PlacementOf(event, source).Remove()) return false;
      if (followed) m_model.events[name].erase(from);
      Touch(copy, 0, from);
    }
    event.AddToCalendar(target);
    if (followed) m_model.events[name].insert(NameOf(target));
    // Bob's unsent edit of an event Ann puts where he may not write is refused
    // or stays his own: his copy may show it as a conflict.
    if (followed && m_bobsEdits[0].count(name) != 0 && !WritableByBob(m_model.events[name])) {
      m_mayConflict.insert(name);
    }
    // The server moves the event's repeat exceptions with it.
    for (const auto& [exception, parent] : m_model.parents) {
      if (parent == name) m_placesFollow.insert(exception);
    }
    Touch(copy, 0, name);
    Touch(copy, 0, NameOf(target));
    return true;
  }
  bool MoveEventAction(Copy& copy) { return PlaceEventAction(copy, true); }
  bool LinkEventAction(Copy& copy) { return PlaceEventAction(copy, false); }
  bool RepeatAction(Copy& copy) {
    std::vector<Event> events;
    for (const Event& event : WritableEvents(copy)) {
      if (!event.HasParent() &&
          event.GetEventDescriptor().GetRepeatType() == EventDescriptor::kRepeatNone &&
          m_model.parents.count(NameOf(event)) == 0) {
        events.push_back(event);
      }
    }
    if (events.empty()) return false;
    Event event = PickOf(events);
    EventDescriptor d = event.GetEventDescriptor();
    d.SetRepeatType(EventDescriptor::kRepeatWeekly);
    d.SetRepeatFrequency(1);
    d.SetRepeatOn(0x02);
    d.SetRepeatEndYearMonthDate(EventDescriptor::kNoEndDate);
    Touch(copy, 0, NameOf(event));
    return true;
  }
  // A repeat exception: one Monday of a weekly event moved to 11:00.
  bool ExceptionAction(Copy& copy) {
    std::vector<Event> events;
    // Only from events the server knows: an exception cut from an event that
    // reaches the server in the same pass is sent as an event of its own (the
    // request names the original by its server id), and only the copy that
    // made it knows it as an exception.
    const std::vector<Event> known = EventsOf(ServerShadowOfCalendars(*copy.desktop));
    for (const Event& event : WritableEvents(copy)) {
      // Only of events the model follows: an exception of an event another
      // copy deleted goes with it.
      if (event.GetEventDescriptor().GetRepeatType() == EventDescriptor::kRepeatWeekly &&
          !Named(known, NameOf(event)).IsNull() && m_model.events.count(NameOf(event)) != 0) {
        events.push_back(event);
      }
    }
    if (events.empty()) return false;
    Event event = PickOf(events);
    EventDescriptor d = event.GetEventDescriptor();
    const uint16_t date = kMondays[Pick(std::size(kMondays))];
    for (int32_t i = 0; i < d.GetRepeatExceptionCount(); ++i) {
      if (d.GetExceptionYearMonthDate(i) == date) return false;
    }
    const std::string name = NewName("X");
    EventDescriptor moved = d.Clone();
    moved.SetName(name);
    moved.SetRepeatType(EventDescriptor::kRepeatNone);
    moved.ClearExceptions();
    moved.SetYearMonthDate(date);
    moved.SetStartTime(0x0B00);
    moved.SetEndTime(0x0C00);
    d.AddExceptionYearMonthDate(date);
    Event exception = event.CreateCloneEvent(moved, 0, 0);
    std::set<std::string>& in = m_model.events[name];
    for (const std::string& calendar : CalendarNamesOf(exception)) {
      if (m_model.calendars.count(calendar) != 0) in.insert(calendar);
    }
    m_model.parents[name] = NameOf(event);
    Touch(copy, 0, NameOf(event));
    Touch(copy, 0, name);
    return true;
  }
  bool AddContactAction(Copy& copy) {
    std::vector<Category> categories = WritableCategories(copy);
    Category category;
    if (!categories.empty() && (copy.bob || Chance(0.8))) category = PickOf(categories);
    if (copy.bob && category.IsNull()) return false;
    const std::string name = NewName("P");
    AddContact(copy.Contacts(), category, name);
    m_model.contacts[name] = category.IsNull() ? "" : NameOf(category);
    Touch(copy, 1, name);
    NoteBobsChange(copy, 1, name, true);
    return true;
  }
  bool EditContactAction(Copy& copy) {
    std::vector<Contact> contacts = WritableContacts(copy);
    if (contacts.empty()) return false;
    Contact contact = PickOf(contacts);
    contact.GetContactDescriptor().SetDatum(ContactDescriptor::kFirstPhone,
                                            Format("555-%04d", ++m_lastName % 10000));
    Touch(copy, 1, NameOf(contact));
    NoteBobsChange(copy, 1, NameOf(contact), false);
    return true;
  }
  bool DeleteContactAction(Copy& copy) {
    std::vector<Contact> contacts = WritableContacts(copy);
    if (contacts.empty()) return false;
    Contact contact = PickOf(contacts);
    const std::string name = NameOf(contact);
    if (!contact.Remove()) return false;
    Touch(copy, 1, name);
    NoteBobsChange(copy, 1, name, false);
    m_model.contacts.erase(name);
    return true;
  }
  // Files a contact in another category, or leaves it unfiled.
  bool MoveContactAction(Copy& copy) {
    std::vector<Contact> contacts = WritableContacts(copy);
    if (contacts.empty()) return false;
    Contact contact = PickOf(contacts);
    std::vector<Category> categories = WritableCategories(copy);
    Category target;
    if (!categories.empty() && Chance(0.75)) target = PickOf(categories);
    const std::string to = target.IsNull() ? "" : NameOf(target);
    // Filing it where this copy already has it changes nothing here, whatever
    // another copy did meanwhile.
    if (target.IsNull() ? contact.IsUnfiled() : contact.IsChildOfCategory(target)) return false;
    // A contact that another copy deleted is followed no further.
    const bool followed = m_model.contacts.count(NameOf(contact)) != 0;
    if (followed && to == m_model.contacts[NameOf(contact)]) return false;
    if (target.IsNull()) {
      CategoryManager manager = copy.Contacts();
      manager.MakeUnfiled(contact);
      m_unfiled.insert(NameOf(contact));
    } else {
      contact.SetCategory(target);
    }
    if (followed) m_model.contacts[NameOf(contact)] = to;
    Touch(copy, 1, NameOf(contact));
    if (!to.empty()) Touch(copy, 1, to);
    return true;
  }
  bool AddCalendarAction(Copy& copy) {
    if (m_model.calendars.size() >= 6) return false;
    const std::string name = NewName("Cal");
    CalendarManager manager = copy.Calendars();
    AddCalendar(manager, name, CalendarKind::Published());
    m_model.calendars.insert(name);
    Touch(copy, 0, name);
    return true;
  }
  bool DeleteCalendarAction(Copy& copy) {
    std::vector<Calendar> calendars = WritableCalendars(copy);
    if (calendars.size() < 3) return false;
    Calendar calendar = PickOf(calendars);
    const std::string name = NameOf(calendar);
    // The events this copy shows in no other calendar on the server go with
    // it: deleted here, or kept only in a calendar that stayed here as a local
    // one (another copy deleted it while this one changed it), and so deleted
    // on the server, also when another copy meanwhile moved one into a
    // calendar of its own.
    std::vector<std::string> deleted;
    for (const Event& event : EventsOf(copy.Calendars())) {
      if (PlacementOf(event, calendar).IsNull()) continue;
      Touch(copy, 0, NameOf(event));
      const std::vector<std::string> in = CalendarNamesOf(event);
      if (std::none_of(in.begin(), in.end(), [&](const std::string& other) {
            return other != name && m_model.calendars.count(other) != 0;
          })) {
        deleted.push_back(NameOf(event));
      }
    }
    if (!calendar.Remove()) return false;
    Touch(copy, 0, name);
    m_model.RemoveCalendar(name);
    for (const std::string& event : deleted) m_model.RemoveEvent(event);
    return true;
  }
  bool AddCategoryAction(Copy& copy) {
    if (m_model.categories.size() >= kMaxCategories) return false;
    const std::string name = NewName("Cat");
    AddCategory(copy.Contacts(), name, CategoryKind::Published());
    m_model.categories.insert(name);
    Touch(copy, 1, name);
    return true;
  }
  bool DeleteCategoryAction(Copy& copy) {
    std::vector<Category> categories = WritableCategories(copy);
    if (categories.size() < 3) return false;
    Category category = PickOf(categories);
    const std::string name = NameOf(category);
    // Its contacts on this copy go with it, also one that another copy
    // meanwhile filed elsewhere.
    std::vector<std::string> deleted;
    for (const Contact& contact : ContactsOf(copy.Contacts())) {
      if (!contact.IsChildOfCategory(category)) continue;
      Touch(copy, 1, NameOf(contact));
      deleted.push_back(NameOf(contact));
    }
    if (!category.Remove()) return false;
    Touch(copy, 1, name);
    m_model.RemoveCategory(name);
    for (const std::string& contact : deleted) m_model.contacts.erase(contact);
    return true;
  }

  const std::vector<WeightedAction>& Actions() {
    static const std::vector<WeightedAction> kActions = {
        {"add event", 6, false, false, &ConvergenceTest::AddEventAction},
        {"edit event", 6, false, false, &ConvergenceTest::EditEventAction},
        {"delete event", 2, false, false, &ConvergenceTest::DeleteEventAction},
        {"move event", 3, true, false, &ConvergenceTest::MoveEventAction},
        {"link event", 2, true, false, &ConvergenceTest::LinkEventAction},
        {"repeat event", 2, true, true, &ConvergenceTest::RepeatAction},
        {"repeat exception", 2, true, true, &ConvergenceTest::ExceptionAction},
        {"add contact", 5, false, false, &ConvergenceTest::AddContactAction},
        {"edit contact", 5, false, false, &ConvergenceTest::EditContactAction},
        {"delete contact", 2, false, false, &ConvergenceTest::DeleteContactAction},
        {"move contact", 3, true, false, &ConvergenceTest::MoveContactAction},
        {"add calendar", 1, true, true, &ConvergenceTest::AddCalendarAction},
        {"delete calendar", 1, true, true, &ConvergenceTest::DeleteCalendarAction},
        {"add category", 1, true, true, &ConvergenceTest::AddCategoryAction},
        {"delete category", 1, true, true, &ConvergenceTest::DeleteCategoryAction},
    };
    return kActions;
  }

  // One random action that copy may take (a few tries to find one that
  // applies).
  void RandomAction(Copy& copy) {
    std::vector<const WeightedAction*> allowed;
    std::vector<int> weights;
    for (const WeightedAction& action : Actions()) {
      if ((action.annOnly && copy.bob) || (action.desktopOnly && copy.desktop == nullptr)) continue;
      allowed.push_back(&action);
      weights.push_back(action.weight);
    }
    std::discrete_distribution<size_t> choose(weights.begin(), weights.end());
    for (int attempt = 0; attempt < 4; ++attempt) {
      const WeightedAction* action = allowed[choose(m_random)];
      m_touched.clear();
      if ((this->*(action->action))(copy)) {
        m_log.push_back(copy.label + ": " + action->name + m_touched);
        if (!m_traced.empty() && m_touched.find(" " + m_traced) != std::string::npos) Trace();
        return;
      }
    }
  }

  // ---- Shares ----

  // Ann shares a calendar or category with Bob, changes the mode, or stops.
  void RandomShare() {
    const bool calendar = Chance(0.5);
    const std::set<std::string>& names = calendar ? m_model.calendars : m_model.categories;
    if (names.empty()) return;
    const std::string name = PickOf(std::vector<std::string>(names.begin(), names.end()));
    std::map<std::string, Share>& shares =
        calendar ? m_model.calendarShares : m_model.categoryShares;
    const Share now = shares[name];
    const Share next = now == Share::kNone ? (Chance(0.5) ? Share::kReadOnly : Share::kReadWrite)
                       : Chance(0.5)       ? Share::kNone
                       : now == Share::kReadOnly ? Share::kReadWrite
                                                 : Share::kReadOnly;
    const std::string kind = calendar ? "--calendar" : "--category";
    const std::string mode = next == Share::kReadWrite ? "--read-write" : "--read-only";
    const int status = RunServerCommand({next == Share::kNone ? "unshare" : "share", "--db",
                                         m_server->Database(), "--owner", "ann", "--to", "bob",
                                         kind, name, next == Share::kNone ? "--read-only" : mode});
    if (status != 0) return;  // not on the server yet
    m_log.push_back(Format("ann shares %s with bob: %d", name.c_str(), static_cast<int>(next)));
    // Bob may write less than before: also when a calendar he newly reads
    // holds an event he edits through another one.
    if (now == Share::kReadWrite || next == Share::kReadOnly) Narrowed(calendar ? 0 : 1, name);
    // A share announces its records to Bob anew, with versions newer than
    // his unsent edits of them: those may show as conflicts.
    for (const std::string& edited : m_bobsEdits[calendar ? 0 : 1]) m_mayConflict.insert(edited);
    m_shareUnheard[calendar ? 0 : 1] = true;
    shares[name] = next;
  }

  // Bob's changes in name that his server pass has not sent are lost to Ann
  // now; Bob's copy may show them as conflicts or keep them apart.
  void Narrowed(int family, const std::string& container) {
    for (const std::string& added : m_bobsAdditions[family]) {
      const bool inside =
          family == 0
              ? m_model.events.count(added) != 0 && m_model.events[added].count(container) != 0
              : m_model.contacts.count(added) != 0 && m_model.contacts[added] == container;
      if (!inside) continue;
      if (family == 0) {
        m_model.RemoveEvent(added);
      } else {
        m_model.contacts.erase(added);
      }
      m_mayConflict.insert(added);
    }
    for (const std::string& edited : m_bobsEdits[family]) m_mayConflict.insert(edited);
  }

  // ---- Synchronizations ----

  struct Step {
    size_t copy;
    int family;   // 0 calendars, 1 contacts
    bool server;  // a server pass of the copy's directory, else desktop or
                  // handheld
  };

  void Run(const Step& step) {
    Copy& copy = m_copies[step.copy];
    const char* family = step.family == 0 ? "calendars" : "contacts";
    m_log.push_back(
        Format("  %s %s %s", step.server ? "server pass" : "sync", copy.label.c_str(), family));
    ApiObject* object = nullptr;
    br_error result = ERR_NONE;
    ++m_syncs;
    if (step.server) {
      Desktop& desktop = copy.desktop ? *copy.desktop : *m_copies[0].desktop;
      const std::map<std::string, std::string> before = CacheRecords(desktop, step.family);
      result = step.family == 0 ? desktop.CalendarObject().SyncServer(nullptr)
                                : desktop.ContactObject().SyncServer(nullptr);
      object = step.family == 0 ? static_cast<ApiObject*>(&desktop.CalendarObject())
                                : &desktop.ContactObject();
      // A change on a copy of this directory that reaches the cache after a
      // server pass changed its record there (ids and versions included) may
      // show as a conflict: a known case.
      const std::map<std::string, std::string> after = CacheRecords(desktop, step.family);
      std::set<std::string> changed;
      for (const auto& [name, text] : after) {
        auto old = before.find(name);
        if (old == before.end() || old->second != text) changed.insert(name);
      }
      for (Copy& other : m_copies) {
        if (other.desktop != &desktop && !(other.handheld && &desktop == m_copies[0].desktop)) {
          continue;
        }
        for (const std::string& name : changed) {
          if (other.pending[step.family].count(name) != 0) {
            m_mayConflict.insert(name);
            m_lateChange = true;
          }
        }
        other.lagging[step.family].insert(changed.begin(), changed.end());
      }
      if (copy.bob) {
        if (result == ERR_NONE) m_shareUnheard[step.family] = false;
        // Bob's changes that reached his cache are with the server now.
        for (std::set<std::string>* sent :
             {&m_bobsAdditions[step.family], &m_bobsEdits[step.family]}) {
          std::erase_if(*sent, [&](const std::string& name) {
            return copy.pending[step.family].count(name) == 0;
          });
        }
      }
    } else if (copy.desktop) {
      copy.desktop->NumberNewRecords();
      result = step.family == 0 ? copy.desktop->CalendarObject().SyncDesktop()
                                : copy.desktop->ContactObject().SyncDesktop();
      object = step.family == 0 ? static_cast<ApiObject*>(&copy.desktop->CalendarObject())
                                : &copy.desktop->ContactObject();
      copy.pending[step.family].clear();
      copy.lagging[step.family].clear();
    } else {
      result = copy.handheld->Sync(step.family);
      object = step.family == 0 ? static_cast<ApiObject*>(&copy.handheld->CalendarObject())
                                : &copy.handheld->ContactObject();
      copy.pending[step.family].clear();
      copy.lagging[step.family].clear();
    }
    EXPECT_EQ(result, ERR_NONE) << Where() << ": " << (step.server ? "server pass of " : "")
                                << copy.label << ", " << family << ": "
                                << object->GetErrorMessage();
    if (!step.server) CheckConflicts(copy);
    if (!m_traced.empty()) Trace();
  }

  // With BRONTEL_CONVERGENCE_TRACE naming a record, the log shows it in
  // every copy and cache after each step.
  void Trace() {
    auto line = [this](const CalendarManager& calendars, const CategoryManager& contacts) {
      std::string text;
      for (const Event& event : EventsOf(calendars)) {
        if (NameOf(event) == m_traced) text += " [" + EventLine(calendars, event) + "]";
      }
      for (const Contact& contact : ContactsOf(contacts)) {
        if (NameOf(contact) == m_traced) text += " [" + ContactLine(contact) + "]";
      }
      return text.empty() ? std::string(" none") : text;
    };
    for (const Copy& copy : m_copies) {
      m_log.push_back("    " + copy.label + ":" + line(copy.Calendars(), copy.Contacts()));
      if (copy.desktop) {
        m_log.push_back(
            "    its cache:" + line(copy.desktop->CalendarCache(), copy.desktop->ContactCache()) +
            " server shadow:" +
            line(ServerShadowOfCalendars(*copy.desktop), ServerShadowOfContacts(*copy.desktop)));
      }
    }
  }

  // The records of a desktop's cache of family by name, with their ids and
  // versions.
  static std::map<std::string, std::string> CacheRecords(const Desktop& desktop, int family) {
    std::map<std::string, std::string> records;
    auto add = [&records](const auto& list) {
      for (const auto& record : list) records[NameOf(record)] += record.GetDisplayString() + "\n";
    };
    if (family == 0) {
      CalendarManager cache = desktop.CalendarCache();
      add(CalendarsOf(cache));
      add(EventsOf(cache));
    } else {
      CategoryManager cache = desktop.ContactCache();
      add(CategoriesOf(cache));
      add(ContactsOf(cache));
    }
    return records;
  }

  // A random part of the synchronizations, in a random order.
  void RandomSyncs() {
    std::vector<Step> steps;
    for (size_t copy = 0; copy < m_copies.size(); ++copy) {
      for (int family = 0; family < 2; ++family) {
        if (Chance(0.6)) steps.push_back({copy, family, false});
        if (m_copies[copy].desktop && Chance(0.6)) steps.push_back({copy, family, true});
      }
    }
    std::shuffle(steps.begin(), steps.end(), m_random);
    for (const Step& step : steps) Run(step);
  }

  // Every copy synchronizes twice, without edits: desktop, server, desktop;
  // the handheld through its desktop's cache. A conflict settles on the
  // copy that met it first and reaches the others a pass later, so a
  // stretch with conflicts may take up to two more passes, until Ann's
  // copies agree and so do her desktops' server shadows: a change held back
  // by a conflict on one desktop may reach the server only in the last pass,
  // while the other desktop, which left the record out as unsettled, has not
  // asked since. So may a stretch in which a change reached its cache only
  // after a server pass had changed its record there (a move that meets
  // another copy's move shows no conflict): it reaches the server one pass
  // later.
  void QuietPhase() {
    m_sawConflict = false;
    int passes = 0;
    auto pass = [&] {
      ++passes;
      for (size_t copy : {2, 0, 2, 1, 3}) {
        for (int family = 0; family < 2; ++family) {
          Run({copy, family, false});
          Run({copy, family, true});
          Run({copy, family, false});
        }
      }
    };
    pass();
    pass();
    while ((m_sawConflict || m_lateChange) && passes < 4 &&
           !(AnnsCopiesAgree() && ServerShadowsAgree(*m_desktops[0], *m_desktops[1]))) {
      pass();
    }
    m_quietPasses = std::max(m_quietPasses, passes);
    m_lateChange = false;
  }

  // ---- The checks of a quiet phase ----

  // The records that show a conflict on one of Ann's copies: the user has not
  // chosen between the versions yet, so the copies may hold either.
  std::set<std::string> UnsettledOnAnnsCopies() const {
    std::set<std::string> names;
    for (size_t copy : {0, 1, 2}) {
      const std::set<std::string> conflicted =
          ConflictNames(m_copies[copy].Calendars(), m_copies[copy].Contacts());
      names.insert(conflicted.begin(), conflicted.end());
    }
    return names;
  }

  // The text of a copy without the records left unsettled and without the
  // alternatives of conflicts, which only the copy that met them holds.
  std::string Settled(const std::string& described, const std::set<std::string>& unsettled) const {
    std::string text = WithoutConflicts(described);
    // An exception whose repeating event was deleted keeps the deleted
    // event's id on some copies and not on others; none of them can show it.
    for (size_t at; (at = text.find(" exception of ?")) != std::string::npos;) {
      text.erase(at, std::string(" exception of ?").size());
    }
    // A copy that edited the repeating event while another deleted it keeps
    // the event as an unsettled conflict, so there the exception still shows
    // it while the copies that took the deletion cannot.
    for (const std::string& parent : unsettled) {
      if (m_model.events.count(parent) != 0) continue;
      const std::string link = " exception of " + parent + "\n";
      for (size_t at; (at = text.find(link)) != std::string::npos;) {
        text.erase(at, link.size() - 1);
      }
    }
    std::string result;
    size_t start = 0;
    while (start < text.size()) {
      const size_t end = text.find('\n', start) + 1;
      const std::string line = text.substr(start, end - start);
      start = end;
      bool skip = false;
      for (const std::string& name : unsettled) {
        skip = skip || line.find("\"" + name + "\"") != std::string::npos ||
               line == "calendar " + name + "\n" || line.rfind("calendar " + name + " ", 0) == 0 ||
               line == "category " + name + "\n" || line.rfind("category " + name + " ", 0) == 0;
      }
      if (!skip) result += line;
    }
    return result;
  }

  // Ann's shared records as text, without those left unsettled.
  std::string AnnsText(const Copy& copy, const std::set<std::string>& unsettled) const {
    return Settled(
        Describe(copy.Calendars().SharedClone()) + Describe(copy.Contacts().SharedClone()),
        unsettled);
  }

  bool AnnsCopiesAgree() const {
    const std::set<std::string> unsettled = UnsettledOnAnnsCopies();
    const std::string first = AnnsText(m_copies[0], unsettled);
    return AnnsText(m_copies[1], unsettled) == first && AnnsText(m_copies[2], unsettled) == first;
  }

  void CheckAnnsCopiesAgree() {
    const std::set<std::string> unsettled = UnsettledOnAnnsCopies();
    m_unsettled.insert(unsettled.begin(), unsettled.end());
    const std::string first = AnnsText(m_copies[0], unsettled);
    for (size_t copy : {1, 2}) {
      EXPECT_EQ(AnnsText(m_copies[copy], unsettled), first)
          << Where() << ": " << m_copies[copy].label << " and " << m_copies[0].label << " differ";
    }
    // Each desktop and its cache hold the same records.
    for (const Copy& copy : m_copies) {
      if (!copy.desktop) continue;
      std::set<std::string> mine = ConflictNames(copy.Calendars(), copy.Contacts());
      mine.insert(unsettled.begin(), unsettled.end());
      EXPECT_EQ(
          Settled(copy.desktop->CalendarText() + copy.desktop->ContactText(), mine),
          Settled(Describe(copy.desktop->CalendarCache()) + Describe(copy.desktop->ContactCache()),
                  mine))
          << Where() << ": " << copy.label << " and its cache differ";
    }
    // What each desktop last agreed with the server is the same for both, in
    // the server's ids, versions included.
    CalendarManager calendars = ServerShadowOfCalendars(*m_desktops[0]);
    CalendarManager otherCalendars = ServerShadowOfCalendars(*m_desktops[1]);
    ToServerIds(calendars);
    ToServerIds(otherCalendars);
    const std::string calendarText = Describe(calendars);
    EXPECT_TRUE(calendars.Verify(otherCalendars))
        << Where() << ": the calendar server shadows differ in\n"
        << Describe(calendars) << "and\n"
        << Describe(otherCalendars) << "of\n"
        << calendarText;
    CategoryManager contacts = ServerShadowOfContacts(*m_desktops[0]);
    CategoryManager otherContacts = ServerShadowOfContacts(*m_desktops[1]);
    ToServerIds(contacts);
    ToServerIds(otherContacts);
    const std::string contactText = Describe(contacts);
    EXPECT_TRUE(contacts.Verify(otherContacts))
        << Where() << ": the contact server shadows differ in\n"
        << Describe(contacts) << "and\n"
        << Describe(otherContacts) << "of\n"
        << contactText;
  }

  // Every followed record is in each of Ann's copies, in its place.
  void CheckNothingLost(const Copy& copy) {
    const std::vector<Calendar> calendars = CalendarsOf(copy.Calendars());
    const std::vector<Event> events = EventsOf(copy.Calendars());
    const std::vector<Category> categories = CategoriesOf(copy.Contacts());
    const std::vector<Contact> contacts = ContactsOf(copy.Contacts());
    for (const std::string& name : m_model.calendars) {
      EXPECT_FALSE(Named(calendars, name).IsNull())
          << Where() << ": " << copy.label << " lost " << name;
    }
    for (const auto& [name, in] : m_model.events) {
      Event event = Named(events, name);
      if (event.IsNull()) {
        ADD_FAILURE() << Where() << ": " << copy.label << " lost event " << name;
        continue;
      }
      // Placements that two copies changed at once may end either way.
      if (ConflictExpected(name) || m_placesFollow.count(name) != 0) continue;
      const std::vector<std::string> shown = CalendarNamesOf(event);
      for (const std::string& calendar : in) {
        EXPECT_NE(std::find(shown.begin(), shown.end(), calendar), shown.end())
            << Where() << ": " << copy.label << " lost " << name << " in " << calendar;
      }
    }
    for (const std::string& name : m_model.categories) {
      EXPECT_FALSE(Named(categories, name).IsNull())
          << Where() << ": " << copy.label << " lost " << name;
    }
    // Unfiled contacts stay in the directory that made them.
    for (const auto& [name, category] : m_model.contacts) {
      // Unfiled leaves the server: a concurrent move into a category may
      // lose to it.
      if (m_unfiled.count(name) != 0 && ConflictExpected(name)) continue;
      if (!category.empty() && Named(contacts, name).IsNull()) {
        ADD_FAILURE() << Where() << ": " << copy.label << " lost contact " << name;
      }
    }
  }

  // Bob holds what Ann shares with him, as she shares it, and no more of hers.
  void CheckBobsView() {
    const Copy& bob = m_copies[3];
    std::set<std::string> sharedCalendars;
    for (const auto& [name, share] : m_model.calendarShares) {
      if (share != Share::kNone) sharedCalendars.insert(name);
    }
    std::set<std::string> sharedCategories;
    for (const auto& [name, share] : m_model.categoryShares) {
      if (share != Share::kNone) sharedCategories.insert(name);
    }
    std::set<std::string> calendars;
    // A deletion that met a newer version from the server may have been
    // undone (the record comes back): such a calendar or category may stay.
    auto undone = [this](const std::string& name, const std::map<std::string, Share>& shares) {
      return shares.count(name) == 0 && m_mayConflict.count(name) != 0;
    };
    for (const Calendar& calendar : CalendarsOf(bob.Calendars())) {
      const std::string name = NameOf(calendar);
      if (undone(name, m_model.calendarShares)) continue;
      calendars.insert(name);
      EXPECT_EQ(calendar.GetCalendarDescriptor().GetReadOnlyFlag(),
                m_model.calendarShares[name] == Share::kReadOnly)
          << Where() << ": bob's " << name;
    }
    EXPECT_EQ(calendars, sharedCalendars) << Where() << ": bob's calendars";
    std::set<std::string> categories;
    for (const Category& category : CategoriesOf(bob.Contacts())) {
      const std::string name = NameOf(category);
      if (undone(name, m_model.categoryShares)) continue;
      categories.insert(name);
      EXPECT_EQ(category.GetCategoryDescriptor().GetReadOnlyFlag(),
                m_model.categoryShares[name] == Share::kReadOnly)
          << Where() << ": bob's " << name;
    }
    EXPECT_EQ(categories, sharedCategories) << Where() << ": bob's categories";
    const std::vector<Event> events = EventsOf(bob.Calendars());
    for (const auto& [name, in] : m_model.events) {
      if (std::none_of(in.begin(), in.end(),
                       [&](const std::string& c) { return sharedCalendars.count(c) != 0; })) {
        continue;
      }
      EXPECT_FALSE(Named(events, name).IsNull()) << Where() << ": bob lost event " << name;
    }
    const std::vector<Contact> contacts = ContactsOf(bob.Contacts());
    for (const auto& [name, category] : m_model.contacts) {
      if (sharedCategories.count(category) == 0) continue;
      // A concurrent move to unfiled may have won over the move into the
      // shared category: the contact then left the server, for Bob too.
      if (m_unfiled.count(name) != 0 && ConflictExpected(name)) continue;
      EXPECT_FALSE(Named(contacts, name).IsNull()) << Where() << ": bob lost contact " << name;
    }
  }

  void CheckQuietState() {
    SCOPED_TRACE(Where());
    CheckAnnsCopiesAgree();
    for (size_t copy : {0, 1, 2}) CheckNothingLost(m_copies[copy]);
    // Places that two copies changed at once, and those of exceptions whose
    // event moved, are what Ann's copies settled on, for Bob too.
    FollowSettledChanges();
    CheckBobsView();
    // A new stretch begins.
    m_editors.clear();
    m_unfiled.clear();
    m_placesFollow.clear();
  }

  // Where two copies changed a record's place at once, either may have won:
  // the model follows what Ann's copies settled on, so that the next checks
  // hold them to it.
  void FollowSettledChanges() {
    const std::vector<Event> events = EventsOf(m_copies[0].Calendars());
    for (auto& [name, in] : m_model.events) {
      Event event = Named(events, name);
      if ((!ConflictExpected(name) && m_placesFollow.count(name) == 0) || event.IsNull()) continue;
      in.clear();
      for (const std::string& calendar : CalendarNamesOf(event)) {
        if (m_model.calendars.count(calendar) != 0) in.insert(calendar);
      }
    }
    const std::vector<Contact> contacts = ContactsOf(m_copies[0].Contacts());
    for (auto it = m_model.contacts.begin(); it != m_model.contacts.end();) {
      Contact contact = Named(contacts, it->first);
      if (m_unfiled.count(it->first) != 0 && ConflictExpected(it->first) && contact.IsNull()) {
        it = m_model.contacts.erase(it);
        continue;
      }
      if (ConflictExpected(it->first) && !contact.IsNull()) {
        it->second = contact.IsUnfiled() ? "" : NameOf(contact.GetCategory());
      }
      ++it;
    }
  }

  // ---- State ----

  brontel::testing::NoProxyEnvironment m_noProxy;
  brontel::testing::TempDir m_serverDir;
  std::unique_ptr<ServerProcess> m_server;
  std::vector<std::unique_ptr<Desktop>> m_desktops;
  std::unique_ptr<Handheld> m_handheld;
  std::vector<Copy> m_copies;

  uint32_t m_seed = 0;
  uint32_t m_rounds = 0;
  int m_round = 0;
  std::mt19937 m_random;
  Model m_model;
  int m_lastName = 0;
  std::vector<std::string> m_log;
  std::string m_traced = std::getenv("BRONTEL_CONVERGENCE_TRACE") != nullptr
                             ? std::getenv("BRONTEL_CONVERGENCE_TRACE")
                             : "";
  std::string m_touched;  // the records the current action changed

  // This stretch: who changed each record, and the records whose conflicts
  // the known behaviours allow.
  std::map<std::string, std::set<std::string>> m_editors;
  std::set<std::string> m_mayConflict;
  std::set<std::string> m_placesFollow;  // exceptions whose event moved
  std::set<std::string> m_unfiled;       // contacts unfiled in this stretch
  std::set<std::string> m_bobsAdditions[2];
  std::set<std::string> m_bobsEdits[2];
  // Per family: Ann changed a share since Bob's last server pass.
  bool m_shareUnheard[2] = {false, false};

  // Figures.
  int m_created = 0;
  int m_syncs = 0;
  int m_conflictCount = 0;
  int m_quietPasses = 0;              // the most passes a quiet phase took
  bool m_sawConflict = false;         // a copy showed a conflict in this quiet phase
  bool m_lateChange = false;          // a change met a server pass's change in its cache
  std::set<std::string> m_unsettled;  // records left out of a comparison
  std::set<std::string> m_seenConflicts;
};

TEST_F(ConvergenceTest, RandomEditsOnEveryCopyConvergeThroughTheServer) {
  // Ann starts with two calendars and two categories on her first desktop.
  AddCalendarAction(m_copies[0]);
  AddCalendarAction(m_copies[0]);
  AddCategoryAction(m_copies[0]);
  AddCategoryAction(m_copies[0]);
  QuietPhase();
  CheckQuietState();

  constexpr int kQuietEvery = 4;
  for (m_round = 1; m_round <= static_cast<int>(m_rounds) && !HasFailure(); ++m_round) {
    m_log.push_back(Format("-- round %d", m_round));
    for (Copy& copy : m_copies) {
      if (!Chance(0.6)) continue;
      for (int count = 1 + Pick(3); count > 0; --count) RandomAction(copy);
    }
    if (Chance(0.3)) RandomShare();
    RandomSyncs();
    if (m_round % kQuietEvery == 0 || m_round == static_cast<int>(m_rounds)) {
      QuietPhase();
      CheckQuietState();
    }
  }
  if (HasFailure()) {
    std::string log;
    const size_t from = m_log.size() > 400 && m_traced.empty() ? m_log.size() - 400 : 0;
    for (size_t i = from; i < m_log.size(); ++i) log += m_log[i] + "\n";
    ADD_FAILURE() << "replay with BRONTEL_CONVERGENCE_SEED=" << m_seed << "; the last actions:\n"
                  << log;
  }
  std::cout << Format(
      "convergence seed %u: %d rounds, %d records made, %zu "
      "events and %zu contacts kept, "
      "%d synchronizations, %d conflicts (%zu records left unsettled), quiet phases of up to %d "
      "passes\n",
      m_seed, m_round - 1, m_created, m_model.events.size(), m_model.contacts.size(), m_syncs,
      m_conflictCount, m_unsettled.size(), m_quietPasses);
}

}  // namespace
}  // namespace brontel::server::testing
