// brontel demo: one user's desktops and handheld, and a second user, kept in
// step through brontel-server, step by step. The demo starts the server
// program on a free loopback port with a fresh database, points a private
// settings store at it, and tells the story:
//   1. ann's desktop A gets an account id, publishes calendars and a contact
//      category and syncs them to the server;
//   2. ann's desktop B (same account) and a handheld on B's cache receive them;
//   3. edits on both desktops and the handheld flow both ways, and one event
//      edited on both desktops ends in a conflict on the one that synced second;
//   4. ann shares a calendar and a category read-only with bob, whose contact
//      edits there are undone by his next syncs, with the notices he sees;
//   5. every copy of ann's shared data is compared: "all copies agree".
#include <stdlib.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/host/registry.h"
#include "brontel/platform/archive_file.h"
#include "commands.h"
#include "copy_json.h"
#include "demo_contents.h"
#include "demo_desktop.h"
#include "server_process.h"

namespace brontel::tool {
namespace {

constexpr char kServerProgramName[] = "brontel-server";
constexpr char kAnnPassword[] = "ann's secret";
constexpr char kBobPassword[] = "bob's secret";

uint16_t Date(const char* text) {
  uint16_t packed = 0;
  ParseDate(text, &packed);
  return packed;
}

uint16_t Time(int hours, int minutes) {
  return static_cast<uint16_t>(hours * 256 + minutes);
}

void Step(int& n, const std::string& what) {
  std::printf("\n== Step %d: %s\n", ++n, what.c_str());
}

// ---- finding, making and changing records ----

Event FindEvent(const CalendarManager& manager, const std::string& name) {
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsDeleted() && events[i].GetEventDescriptor().GetName() == name) {
      return events[i];
    }
  }
  return Event();
}

Calendar FindCalendar(const CalendarManager& manager, const std::string& name) {
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (!calendars[i].IsDeleted() &&
        calendars[i].GetCalendarDescriptor().GetCalendarName() == name) {
      return calendars[i];
    }
  }
  return Calendar();
}

Contact FindContact(const CategoryManager& manager, const std::string& last) {
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (!contacts[i].IsDeleted() &&
        contacts[i].GetContactDescriptor().GetDatum(ContactDescriptor::kLastName) == last) {
      return contacts[i];
    }
  }
  return Contact();
}

Category FindCategory(const CategoryManager& manager, const std::string& name) {
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (!categories[i].IsDeleted() &&
        categories[i].GetCategoryDescriptor().GetCategoryName() == name) {
      return categories[i];
    }
  }
  return Category();
}

// A calendar of manager: published (owned and shared) or local.
Calendar AddCalendar(CalendarManager& manager, const char* name, bool published) {
  Calendar calendar = manager.CreateNewCalendar();
  CalendarDescriptor d = calendar.GetCalendarDescriptor();
  d.SetCalendarName(name);
  d.SetOwnedFlag(true);
  d.SetSharedFlag(published);
  return calendar;
}

EventDescriptor MakeEvent(const char* name, const char* date, uint16_t start, uint16_t end) {
  EventDescriptor d;
  d.SetName(name);
  d.SetYearMonthDate(Date(date));
  d.SetStartTime(start);
  d.SetEndTime(start == EventDescriptor::kUntimed ? 0 : end);
  return d;
}

Category AddCategory(CategoryManager& manager, const char* name, bool published) {
  Category category = manager.CreateNewCategory(false);
  CategoryDescriptor d = category.GetCategoryDescriptor();
  d.SetCategoryName(name);
  d.SetOwnedFlag(true);
  d.SetSharedFlag(published);
  return category;
}

// A contact of manager in category (null: unfiled).
Contact AddContact(CategoryManager manager, const Category& category, const char* last,
                   const char* first, const char* phone) {
  Contact contact =
      category.IsNull() ? manager.CreateNewContact() : manager.CreateNewContact(category);
  ContactDescriptor d = contact.GetContactDescriptor();
  d.SetDatum(ContactDescriptor::kLastName, last);
  d.SetDatum(ContactDescriptor::kFirstName, first);
  d.SetDatum(ContactDescriptor::kFirstPhone, phone);
  return contact;
}

// Applies change to the live event named name; false, with a line saying so,
// when the copy has none (an earlier sync went wrong).
bool ChangeEvent(const CalendarManager& manager, const std::string& name,
                 const std::function<void(Event&)>& change) {
  Event event = FindEvent(manager, name);
  if (event.IsNull()) {
    std::printf("  NO event \"%s\" to change\n", name.c_str());
    return false;
  }
  change(event);
  return true;
}

bool ChangeContact(const CategoryManager& manager, const std::string& last,
                   const std::function<void(Contact&)>& change) {
  Contact contact = FindContact(manager, last);
  if (contact.IsNull()) {
    std::printf("  NO contact %s to change\n", last.c_str());
    return false;
  }
  change(contact);
  return true;
}

std::function<void(Event&)> Times(uint16_t start, uint16_t end) {
  return [=](Event& event) {
    event.GetEventDescriptor().SetStartTime(start);
    event.GetEventDescriptor().SetEndTime(end);
  };
}

std::function<void(Event&)> Note(const std::string& note) {
  return [=](Event& event) { event.GetEventDescriptor().SetNote(note); };
}

std::function<void(Contact&)> Datum(int32_t index, const std::string& value) {
  return [=](Contact& contact) { contact.GetContactDescriptor().SetDatum(index, value); };
}

std::function<void(Contact&)> Phone(const std::string& phone) {
  return Datum(ContactDescriptor::kFirstPhone, phone);
}

// ---- reading copies ----

std::string NoteOf(const CalendarManager& manager, const std::string& event) {
  Event found = FindEvent(manager, event);
  return found.IsNull() ? "(no such event)" : found.GetEventDescriptor().GetNote();
}

std::string PhoneOf(const CategoryManager& manager, const char* last) {
  Contact contact = FindContact(manager, last);
  return contact.IsNull() ? "(no such contact)"
                          : contact.GetContactDescriptor().GetDatum(ContactDescriptor::kFirstPhone);
}

// The names of the calendars that show event (live placements).
std::string PlacementNames(const Event& event) {
  std::string names;
  const CalendarEventList& links = event.GetCalendarEventList();
  for (int32_t k = 0; k < links.GetListCount(); ++k) {
    Calendar parent = links[k].GetParentCalendar();
    if (links[k].IsDeleted() || parent.IsNull()) continue;
    names += (names.empty() ? "" : ", ") + parent.GetCalendarDescriptor().GetCalendarName();
  }
  return names;
}

// The lines that start with kind, and (when given) end with tail.
std::vector<std::string> Only(const std::string& kind, const std::vector<std::string>& lines,
                              const std::string& tail = "") {
  std::vector<std::string> kept;
  for (const std::string& line : lines) {
    if (line.rfind(kind, 0) != 0 || line.size() < tail.size()) continue;
    if (line.compare(line.size() - tail.size(), tail.size(), tail) == 0) kept.push_back(line);
  }
  return kept;
}

void ShowCalendars(const std::string& who, const CalendarManager& manager) {
  std::printf("  %s calendars:\n%s", who.c_str(), DescribeCopy(manager, "    ").c_str());
}

void ShowContacts(const std::string& who, const CategoryManager& manager) {
  std::printf("  %s contacts:\n%s", who.c_str(), DescribeContacts(manager, "    ").c_str());
}

// Reads a cache or server shadow file of dir; false, with a line saying why,
// when it cannot be read.
bool ReadStored(const std::string& dir, const char* file,
                const std::function<void(Archive&)>& read) {
  ReadResult result = ReadArchiveFile(dir + "/" + file, read);
  if (!result.ok()) std::printf("  %s/%s: %s\n", dir.c_str(), file, result.message.c_str());
  return result.ok();
}

// The copies those files hold; an empty copy for a file that cannot be read.
CalendarManager ReadCalendarCache(const std::string& dir) {
  CalendarCache cache;
  if (!ReadStored(dir, CalendarApi::kCacheFile, [&](Archive& ar) { cache.Serialize(ar); })) {
    return CalendarManager::CreateEmpty();
  }
  return cache.GetCalendarManager();
}

CategoryManager ReadContactCache(const std::string& dir) {
  CategoryCache cache;
  if (!ReadStored(dir, CategoryApi::kCacheFile, [&](Archive& ar) { cache.Serialize(ar); })) {
    return CategoryManager::CreateEmpty();
  }
  return cache.GetCategoryManager();
}

CalendarManager ReadCalendarShadow(const std::string& dir) {
  CalendarManager shadow;
  if (!ReadStored(dir, CalendarApi::kServerShadowFile,
                  [&](Archive& ar) { shadow.Serialize(ar); })) {
    return CalendarManager::CreateEmpty();
  }
  return shadow;
}

CategoryManager ReadContactShadow(const std::string& dir) {
  CategoryManager shadow;
  if (!ReadStored(dir, CategoryApi::kServerShadowFile,
                  [&](Archive& ar) { shadow.Serialize(ar); })) {
    return CategoryManager::CreateEmpty();
  }
  return shadow;
}

// ---- the parts of the story ----

struct World {
  std::string dir;
  std::string serverProgram;
  std::string database;
  std::string serverLog;
};

// Act 1: ann's desktop A, which already has its account id, publishes its
// first data.
bool AnnStarts(Desktop& a, int& n) {
  bool ok = true;
  Step(n, "desktop A: published calendars Work and Home, a local calendar Diary");
  CalendarManager desktop = a.calendars();
  Calendar work = AddCalendar(desktop, "Work", true);
  Calendar home = AddCalendar(desktop, "Home", true);
  Calendar diary = AddCalendar(desktop, "Diary", false);
  work.CreateNewEvent(MakeEvent("Dentist", "2026-12-10", Time(9, 30), Time(10, 0)));
  EventDescriptor meeting = MakeEvent("Team meeting", "2026-12-07", Time(10, 0), Time(11, 0));
  meeting.SetRepeatType(EventDescriptor::kRepeatWeekly);
  meeting.SetRepeatFrequency(1);
  meeting.SetRepeatOn(1 << 1);  // Mondays
  meeting.SetRepeatEndYearMonthDate(EventDescriptor::kNoEndDate);
  meeting.AddExceptionYearMonthDate(Date("2026-12-28"));
  Event meetingEvent = work.CreateNewEvent(meeting);
  Event moving =
      work.CreateNewEvent(MakeEvent("Moving day", "2026-12-19", EventDescriptor::kUntimed, 0));
  home.AddEvent(moving);  // shown in both calendars
  EventDescriptor birthday = MakeEvent("Birthday", "2026-12-24", EventDescriptor::kUntimed, 0);
  birthday.SetRepeatType(EventDescriptor::kRepeatYearly);
  birthday.SetRepeatFrequency(1);
  birthday.SetRepeatEndYearMonthDate(EventDescriptor::kNoEndDate);
  home.CreateNewEvent(birthday);
  home.CreateNewEvent(MakeEvent("Lunch with Ana", "2026-12-11", Time(12, 30), Time(13, 30)));
  EventDescriptor gift = MakeEvent("Buy Ana's gift", "2026-12-12", Time(15, 0), Time(16, 0));
  gift.SetIsPrivate(true);
  home.CreateNewEvent(gift);
  diary.CreateNewEvent(MakeEvent("Write diary", "2026-12-13", Time(21, 0), Time(21, 30)));
  a.SaveEdits();
  ShowCalendars("desktop A", desktop);
  for (const char* day : {"2026-12-14", "2026-12-21", "2026-12-28", "2027-01-04"}) {
    std::time_t t = EventDescriptor::YMDToCTime(Date(day));
    std::printf("  Team meeting on %s: %s\n", day,
                meetingEvent.IsOnDate(t) ? "yes" : "no (exception)");
  }

  Step(n, "desktop A syncs its calendars: desktop, server, desktop");
  ok &= a.SyncCalendars();
  std::printf("  Diary and the private event stay local; the server got:\n");
  ShowCalendars("A's server shadow", ReadCalendarShadow(a.directory()));

  Step(n, "desktop A's contacts: published Family, local Club, one unfiled");
  CategoryManager book = a.contacts();
  Category family = AddCategory(book, "Family", true);
  Category club = AddCategory(book, "Club", false);
  AddContact(book, family, "Smith", "Ann", "555-0101");
  AddContact(book, family, "Brown", "Carl", "555-0103");
  Contact green = AddContact(book, family, "Green", "Dora", "555-0104");
  green.GetContactDescriptor().SetDatum(ContactDescriptor::kCompany, "Acme");
  AddContact(book, club, "Gray", "Frank", "555-0106");
  AddContact(book, Category(), "White", "Eve", "555-0105");
  a.SaveEdits();
  ShowContacts("desktop A", book);
  ok &= a.SyncContacts();
  std::printf("  Club and the unfiled contact stay local; the server got:\n");
  ShowContacts("A's server shadow", ReadContactShadow(a.directory()));
  return ok;
}

// Act 2: ann's desktop B and the handheld that syncs with B's cache.
bool AnnSecondDesktop(Desktop& b, Handheld& handheld, int& n) {
  bool ok = true;
  Step(n, "ann's desktop B: same user and password, so the same account id");
  ok &= b.RequestAccountId(kAnnPassword);
  ok &= b.Sync();
  ShowCalendars("desktop B", b.calendars());
  ShowContacts("desktop B", b.contacts());

  Step(n, "a handheld syncs with desktop B's cache and receives it too");
  ok &= handheld.Sync();
  ShowCalendars("the handheld", handheld.calendars());
  ShowContacts("the handheld", handheld.contacts());
  return ok;
}

// Act 3: edits on both desktops and the handheld; each desktop syncs twice.
bool EditsEverywhere(Desktop& a, Desktop& b, Handheld& handheld, int& n) {
  bool ok = true;
  Step(n, "edits on both desktops");
  std::printf(
      "  A: Dentist moves to 11:00, Lunch is renamed, Brown gets a new number,\n"
      "     a new event Concert in Home\n");
  const CalendarManager ac = a.calendars();
  ok &= ChangeEvent(ac, "Dentist", Times(Time(11, 0), Time(11, 30)));
  ok &= ChangeEvent(ac, "Lunch with Ana",
                    [](Event& e) { e.GetEventDescriptor().SetName("Lunch with Ana and Ben"); });
  FindCalendar(ac, "Home")
      .CreateNewEvent(MakeEvent("Concert", "2026-12-18", Time(20, 0), Time(22, 0)));
  ok &= ChangeContact(a.contacts(), "Brown", Phone("555-1111"));
  a.SaveEdits();
  std::printf(
      "  B: Birthday gets a note, Lunch moves to 13:00, Moving day leaves Home,\n"
      "     Green's company is renamed, a new contact Black in Family\n");
  const CalendarManager bc = b.calendars();
  ok &= ChangeEvent(bc, "Birthday", Note("buy flowers"));
  ok &= ChangeEvent(bc, "Lunch with Ana", Times(Time(13, 0), Time(14, 0)));
  const Calendar home = FindCalendar(bc, "Home");
  ok &= !home.IsNull() && ChangeEvent(bc, "Moving day", [&](Event& e) {
    CalendarEvent inHome = e.FindCalendarEventByCalendarFixedId(home.GetFixedId(), false);
    if (!inHome.IsNull()) inHome.SetDeleted();
  });
  const CategoryManager bb = b.contacts();
  ok &= ChangeContact(bb, "Green", Datum(ContactDescriptor::kCompany, "Acme Ltd"));
  const Category family = FindCategory(bb, "Family");
  ok &= !family.IsNull();
  if (!family.IsNull()) AddContact(bb, family, "Black", "Hal", "555-0107");
  b.SaveEdits();

  Step(n, "A syncs, then B: Lunch was edited on both sides");
  ok &= a.Sync();
  ok &= b.Sync();
  ShowCalendars("desktop B", b.calendars());
  Event conflicted = FindEvent(b.calendars(), "Lunch with Ana and Ben");
  if (conflicted.IsNull() || !conflicted.IsConflicted()) {
    std::printf("  NO conflict on B's Lunch\n");
    ok = false;
  } else {
    std::printf("  B holds A's version of Lunch, with B's own as the other version\n");
  }

  Step(n, "B keeps its own Lunch and syncs; the handheld catches up, then edits");
  if (!conflicted.IsNull() && conflicted.IsConflicted()) conflicted.AcceptConflict();
  b.SaveEdits();
  ok &= b.Sync();
  ok &= handheld.Sync();
  std::printf("  the handheld deletes Concert and gives Black a new number\n");
  ok &= ChangeEvent(handheld.calendars(), "Concert", [](Event& e) { e.SetDeleted(); });
  ok &= ChangeContact(handheld.contacts(), "Black", Phone("555-0177"));
  ok &= handheld.Sync();

  Step(n, "second round: B, then A, then the handheld; changes flowed both ways");
  ok &= b.Sync();
  ok &= a.Sync();
  ok &= handheld.Sync();
  ShowCalendars("desktop A", a.calendars());
  ShowContacts("desktop A", a.contacts());
  return ok;
}

// Act 4: ann shares Work and Family with bob, read-only; bob's changes of
// contacts there are undone by his next syncs.
bool BobSubscribes(const World& world, const Desktop& ann, Desktop& bob, int& n) {
  bool ok = true;
  Step(n, "ann shares Work and Family with bob, read-only");
  ok &= bob.RequestAccountId(kBobPassword);
  for (const auto& [kind, name] : std::vector<std::pair<std::string, std::string>>{
           {"--calendar", "Work"}, {"--category", "Family"}}) {
    std::printf("  $ %s share --owner ann --to bob %s %s --read-only\n", kServerProgramName,
                kind.c_str(), name.c_str());
    const int status = RunProgram(world.serverProgram,
                                  {"share", "--db", world.database, "--owner", "ann", "--to", "bob",
                                   kind, name, "--read-only"},
                                  world.serverLog);
    if (status != 0) {
      std::printf("  it FAILED with status %d (see %s)\n", status, world.serverLog.c_str());
      ok = false;
    }
  }

  Step(n, "bob's desktop syncs and sees Work and Family as read-only");
  ok &= bob.Sync();
  ShowCalendars("bob", bob.calendars());
  ShowContacts("bob", bob.contacts());
  const Calendar work = FindCalendar(bob.calendars(), "Work");
  const Category family = FindCategory(bob.contacts(), "Family");
  const bool readOnly =
      !work.IsNull() && work.IsReadOnly() && !family.IsNull() && family.IsReadOnly();
  if (!readOnly) std::printf("  NO read-only Work and Family on bob's desktop\n");
  ok &= readOnly;

  Step(n, "bob changes Smith's number, deletes Brown, adds a note to Dentist");
  const CategoryManager book = bob.contacts();
  ok &= ChangeContact(book, "Smith", Phone("555-9999"));
  ok &= ChangeContact(book, "Brown", [](Contact& c) { c.Remove(); });
  ok &= ChangeEvent(bob.calendars(), "Dentist", Note("bob's note"));
  bob.SaveEdits();
  ok &= bob.SyncCalendars();
  ok &= bob.SyncContactsWithCache();
  std::printf("  Brown after this desktop sync: %s\n",
              FindContact(book, "Brown").IsNull() ? "still deleted" : "back in bob's book");
  ok &= bob.SyncContactsWithServer();
  ok &= bob.SyncContactsWithCache();
  ShowContacts("bob", book);
  ShowCalendars("bob", bob.calendars());

  // Bob's read-only copies against ann's: the contacts are ann's again; the
  // event's note was neither sent nor undone.
  const bool contactsBack = CompareCopies(
      "Family's contacts", {{"ann's A", Only("contact", SharedContactLines(ann.contacts()))},
                            {"bob", Only("contact", SharedContactLines(book))}});
  std::printf("  Family's contacts on bob's desktop and on ann's: %s\n",
              contactsBack ? "the same again" : "DIFFERENT");
  ok &= contactsBack;
  CompareCopies("Work's events",
                {{"ann's A", Only("event", SharedCalendarLines(ann.calendars()), "[Work]")},
                 {"bob", Only("event", SharedCalendarLines(bob.calendars()))}});
  std::printf(
      "  Dentist's note: bob's desktop \"%s\", the server (bob's shadow) \"%s\";\n"
      "  an edit of an event in a read-only calendar is not sent, nor undone\n",
      NoteOf(bob.calendars(), "Dentist").c_str(),
      NoteOf(ReadCalendarShadow(bob.directory()), "Dentist").c_str());
  return ok;
}

// Checks on ann's desktops that each edit of the story ended where it should;
// agreement alone would not show an edit lost on every copy alike.
bool StoryHappened(const Desktop& a, const Desktop& b) {
  const CalendarManager ac = a.calendars();
  const CategoryManager ab = a.contacts();
  const Event dentist = FindEvent(ac, "Dentist");
  const Event lunch = FindEvent(ac, "Lunch with Ana");
  const Event birthday = FindEvent(ac, "Birthday");
  const Event moving = FindEvent(ac, "Moving day");
  const Contact green = FindContact(ab, "Green");
  const std::vector<std::pair<const char*, bool>> checks = {
      {"Dentist at 11:00 (A)",
       !dentist.IsNull() && dentist.GetEventDescriptor().GetStartTime() == Time(11, 0)},
      {"Lunch at 13:00 under its old name (B's side of the conflict)",
       !lunch.IsNull() && lunch.GetEventDescriptor().GetStartTime() == Time(13, 0) &&
           FindEvent(ac, "Lunch with Ana and Ben").IsNull()},
      {"Birthday's note (B)",
       !birthday.IsNull() && birthday.GetEventDescriptor().GetNote() == "buy flowers"},
      {"Moving day in Work only (B)", !moving.IsNull() && PlacementNames(moving) == "Work"},
      {"Concert deleted (the handheld)", FindEvent(ac, "Concert").IsNull()},
      {"Brown's number 555-1111 (A)", PhoneOf(ab, "Brown") == "555-1111"},
      {"Green's company Acme Ltd (B)",
       !green.IsNull() &&
           green.GetContactDescriptor().GetDatum(ContactDescriptor::kCompany) == "Acme Ltd"},
      {"Black, added on B, with the handheld's number", PhoneOf(ab, "Black") == "555-0177"},
      {"Smith's number and Brown as before bob's edits", PhoneOf(ab, "Smith") == "555-0101"},
      {"Dentist without bob's note",
       !dentist.IsNull() && dentist.GetEventDescriptor().GetNote().empty()},
      {"Diary, the private event and Club on A only",
       !FindCalendar(ac, "Diary").IsNull() && FindCalendar(b.calendars(), "Diary").IsNull() &&
           FindEvent(b.calendars(), "Buy Ana's gift").IsNull() &&
           FindContact(b.contacts(), "Gray").IsNull() &&
           FindContact(b.contacts(), "White").IsNull()},
  };
  bool all = true;
  for (const auto& [what, held] : checks) {
    std::printf("  %s %s\n", held ? "yes" : "NO ", what);
    all &= held;
  }
  return all;
}

// Act 5: a last round for ann's copies, then the comparison.
bool AllCopiesAgree(Desktop& a, Desktop& b, Handheld& handheld, int& n) {
  bool ok = true;
  Step(n, "a last round for ann: A, B, the handheld; then every copy is compared");
  ok &= a.Sync();
  ok &= b.Sync();
  ok &= handheld.Sync();
  ok &= StoryHappened(a, b);
  const std::vector<NamedLines> calendars = {
      {"desktop A", SharedCalendarLines(a.calendars())},
      {"cache A", SharedCalendarLines(ReadCalendarCache(a.directory()))},
      {"desktop B", SharedCalendarLines(b.calendars())},
      {"cache B", SharedCalendarLines(ReadCalendarCache(b.directory()))},
      {"the handheld", SharedCalendarLines(handheld.calendars())},
  };
  const std::vector<NamedLines> contacts = {
      {"desktop A", SharedContactLines(a.contacts())},
      {"cache A", SharedContactLines(ReadContactCache(a.directory()))},
      {"desktop B", SharedContactLines(b.contacts())},
      {"cache B", SharedContactLines(ReadContactCache(b.directory()))},
      {"the handheld", SharedContactLines(handheld.contacts())},
  };
  const bool calendarsAgree = CompareCopies("shared calendars", calendars);
  const bool contactsAgree = CompareCopies("shared contacts", contacts);
  std::printf("  compared: %zu calendar and %zu contact lines of shared data in 5 copies\n",
              calendars.front().lines.size(), contacts.front().lines.size());
  std::printf("  %s\n", calendarsAgree && contactsAgree ? "all copies agree"
                                                        : "the copies DISAGREE (see above)");
  return ok && calendarsAgree && contactsAgree;
}

// The whole story against the running server; false when any step failed.
bool Story(const World& world) {
  // Record ids: every desktop store numbers its records from 100, as desktop
  // programs do, so two desktops of one account make equal provisional ids.
  Desktop a("A", "ann", world.dir + "/ann-a", 100);
  Desktop b("B", "ann", world.dir + "/ann-b", 100);
  Handheld handheld("handheld", "ann", world.dir + "/ann-b", 500);
  Desktop bob("bob", "bob", world.dir + "/bob", 100);
  int n = 0;
  Step(n, "ann's desktop A asks the server for an account id");
  if (!a.RequestAccountId(kAnnPassword)) {
    std::printf("  without an account id nothing reaches the server: the demo stops\n");
    return false;
  }
  bool ok = AnnStarts(a, n);
  ok &= AnnSecondDesktop(b, handheld, n);
  ok &= EditsEverywhere(a, b, handheld, n);
  ok &= BobSubscribes(world, a, bob, n);
  ok &= AllCopiesAgree(a, b, handheld, n);
  return ok;
}

int Usage() {
  std::fprintf(stderr, "usage: brontel demo [--dir DIR] [--server-program PATH]\n");
  return 2;
}

}  // namespace

int DemoCommand(const std::vector<std::string>& args) {
  World world;
  world.serverProgram = ProgramBesideSelf(kServerProgramName);
  for (size_t i = 0; i < args.size(); i += 2) {
    if (i + 1 >= args.size()) return Usage();
    if (args[i] == "--dir") {
      world.dir = args[i + 1];
    } else if (args[i] == "--server-program") {
      world.serverProgram = args[i + 1];
    } else {
      return Usage();
    }
  }
  std::error_code error;
  if (world.dir.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "brontel-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("brontel: mkdtemp");
      return 1;
    }
    world.dir = pattern;
  } else if (std::filesystem::exists(world.dir) && !std::filesystem::is_empty(world.dir, error)) {
    // Caches and a database of an earlier run would change the story.
    std::fprintf(stderr, "brontel: %s is not empty\n", world.dir.c_str());
    return 2;
  }
  const std::string settings = world.dir + "/settings";
  const std::string serverDir = world.dir + "/server";
  for (const std::string& d : {settings, serverDir}) {
    std::filesystem::create_directories(d, error);
    if (error) {
      std::fprintf(stderr, "brontel: %s: %s\n", d.c_str(), error.message().c_str());
      return 1;
    }
  }
  world.database = serverDir + "/server.db";
  world.serverLog = serverDir + "/server.log";

  std::printf("Brontel %s demo in %s\n", BrontelAPI::GetVersion().c_str(), world.dir.c_str());
  // The demo's own settings store: it never reads or changes the user's.
  setenv("BRONTEL_REGISTRY_DIR", settings.c_str(), 1);
  ServerProcess server;
  std::string problem;
  if (!server.Start(world.serverProgram, world.database, serverDir + "/port", world.serverLog,
                    &problem)) {
    std::fprintf(stderr, "brontel: %s\n", problem.c_str());
    return 1;
  }
  const std::string address = "127.0.0.1:" + std::to_string(server.port());
  CRegistry().SetServerSyncName(address);
  std::printf("  started %s on %s\n", world.serverProgram.c_str(), address.c_str());
  std::printf("  database %s, log %s\n", world.database.c_str(), world.serverLog.c_str());
  std::printf("  settings store %s (BRONTEL_REGISTRY_DIR)\n", settings.c_str());

  const bool ok = Story(world);

  std::string outcome;
  const bool stopped = server.Stop(&outcome);
  std::printf("\n%s %s%s\n", kServerProgramName, outcome.c_str(),
              stopped ? "" : ": it did NOT stop cleanly");
  std::printf(
      "The caches and shadows are in %s/ann-a, ann-b and bob; look at them with\n"
      "  brontel show %s/ann-b/%s\n",
      world.dir.c_str(), world.dir.c_str(), CalendarApi::kCacheFile);
  return ok && stopped ? 0 : 1;
}

}  // namespace brontel::tool
