// brontel demo: a desktop and a handheld kept in step through one cache
// directory, step by step. The calendar part: first syncs, edits on both
// sides, deletions, a repeating event with an exception, and one conflict and
// its resolution. The contacts part, in the same directory: two address books,
// first syncs, edits on both sides, a contact conflict, a contact moved to
// another category, a deletion, a subscribed category renamed because an owned
// one has its name, and the account id set through the calendar side showing
// up on the contact side.
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/uid128.h"
#include "brontel/platform/archive_file.h"
#include "brontel/platform/format.h"
#include "commands.h"
#include "copy_json.h"

namespace brontel::tool {
namespace {

uint16_t Date(const char* text) {
  uint16_t packed = 0;
  ParseDate(text, &packed);
  return packed;
}

uint16_t Time(int hours, int minutes) {
  return static_cast<uint16_t>(hours * 256 + minutes);
}

// What a desktop program or a handheld conduit does with the records a sync
// hands back: deleted ones go, new ones get the store's own record ids, and
// everything is clean again.
class Store {
 public:
  Store(const char* name, uint32_t firstId) : m_name(name), m_nextId(firstId) {}

  void Save(CalendarManager manager) {
    CalendarList calendars = manager.GetCalendarList();
    EventList events = manager.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      Event e = events[i];
      if (e.IsDeleted()) {
        e.Remove(true);
        continue;
      }
      CalendarEventList links = e.GetCalendarEventList();
      for (int32_t k = 0; k < links.GetListCount(); ++k) {
        CalendarEvent l = links[k];
        if (l.IsDeleted()) {
          l.Remove();
        } else if (l.GetLocalId() == 0) {
          l.SetLocalId(m_nextId++);
        }
      }
      if (e.GetLocalId() == 0) {
        e.SetLocalId(m_nextId);
        e.SetDateBookId(m_nextId++);
      }
    }
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      Calendar c = calendars[i];
      if (c.IsDeleted()) {
        c.Remove();
      } else if (c.GetLocalId() == 0) {
        c.SetLocalId(m_nextId++);
      }
    }
    manager.RemoveEmptyEvents(false);
    manager.SetClean();
  }
  const char* name() const { return m_name; }

 private:
  const char* m_name;
  uint32_t m_nextId;
};

Event FindEvent(const CalendarManager& manager, const std::string& name) {
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (events[i].GetEventDescriptor().GetName() == name) return events[i];
  }
  return Event();
}

Calendar FindCalendar(const CalendarManager& manager, const std::string& name) {
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (calendars[i].GetCalendarDescriptor().GetCalendarName() == name) return calendars[i];
  }
  return Calendar();
}

void Step(int& n, const std::string& what) {
  std::printf("\n== Step %d: %s\n", ++n, what.c_str());
}

void Show(const char* who, const CalendarManager& manager) {
  std::printf("  %s holds:\n%s", who, DescribeCopy(manager, "    ").c_str());
}

void ShowCache(const std::string& dir) {
  CalendarCache cache;
  ReadResult read = ReadArchiveFile(dir + "/" + CalendarApi::kCacheFile,
                                    [&](Archive& ar) { cache.Serialize(ar); });
  if (!read.ok()) {
    std::printf("  cache: %s\n", read.message.c_str());
    return;
  }
  Show("the cache", cache.GetCalendarManager());
}

bool Run(const char* who, CalendarApi& api, br_error result) {
  std::printf("  %s sync: %s, %d conflict(s)%s%s\n", who, ResultName(result), api.SyncConflicts(),
              api.GetErrorMessage().empty() ? "" : ", ", api.GetErrorMessage().c_str());
  return result == ERR_NONE;
}

EventDescriptor MakeEvent(const char* name, const char* date, uint16_t start, uint16_t end) {
  EventDescriptor d;
  d.SetName(name);
  d.SetYearMonthDate(Date(date));
  d.SetStartTime(start);
  d.SetEndTime(start == 0xFFFF ? 0 : end);
  return d;
}

// ---- the contacts part ----

// What a desktop address book or a handheld conduit does with the records a
// contact sync hands back: deleted ones go, new ones get the store's own
// record ids, and everything is clean again.
class AddressBook {
 public:
  explicit AddressBook(uint32_t firstId) : m_nextId(firstId) {}

  void Save(CategoryManager manager) {
    // Copies of the lists: removing a record changes the manager's own.
    ContactList contacts = manager.GetContactList();
    for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
      Contact c = contacts[i];
      if (c.IsDeleted()) {
        c.Remove();
      } else if (c.GetLocalId() == 0) {
        c.SetLocalId(m_nextId++);
      }
    }
    CategoryList categories = manager.GetCategoryList();
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      Category c = categories[i];
      if (c.IsDeleted()) {
        c.Remove();
      } else if (c.GetLocalId() == 0) {
        c.SetLocalId(m_nextId++);
      }
    }
    manager.SetClean();
  }

 private:
  uint32_t m_nextId;
};

Category AddCategory(CategoryManager& manager, const char* name, bool subscribed) {
  Category category = manager.CreateNewCategory(false);
  CategoryDescriptor d = category.GetCategoryDescriptor();
  d.SetCategoryName(name);
  d.SetSharedFlag(subscribed);
  d.SetOwnedFlag(!subscribed);
  return category;
}

Contact AddContact(CategoryManager& manager, const Category& category, const char* last,
                   const char* first, const char* phone) {
  Contact contact =
      category.IsNull() ? manager.CreateNewContact() : manager.CreateNewContact(category);
  ContactDescriptor d = contact.GetContactDescriptor();
  d.SetDatum(ContactDescriptor::kLastName, last);
  d.SetDatum(ContactDescriptor::kFirstName, first);
  d.SetDatum(ContactDescriptor::kFirstPhone, phone);
  return contact;
}

Contact FindContact(const CategoryManager& manager, const std::string& last) {
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (contacts[i].GetContactDescriptor().GetDatum(ContactDescriptor::kLastName) == last) {
      return contacts[i];
    }
  }
  return Contact();
}

Category FindCategory(const CategoryManager& manager, const std::string& name) {
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (categories[i].GetCategoryDescriptor().GetCategoryName() == name) return categories[i];
  }
  return Category();
}

void ShowContacts(const char* who, const CategoryManager& manager) {
  std::printf("  %s holds:\n%s", who, DescribeContacts(manager, "    ").c_str());
}

// The contact cache as stored in dir, or an empty cache when it cannot be read.
CategoryCache ReadContactCache(const std::string& dir) {
  CategoryCache cache;
  ReadResult read = ReadArchiveFile(dir + "/" + CategoryApi::kCacheFile,
                                    [&](Archive& ar) { cache.Serialize(ar); });
  if (!read.ok()) std::printf("  contact cache: %s\n", read.message.c_str());
  return cache;
}

// Prints the outcome and the notices of a contact sync; the notices are then
// handled, as a desktop program does once the user has seen them.
bool RunContacts(const char* who, CategoryApi& api, br_error result) {
  std::printf("  %s sync: %s, %d conflict(s)%s%s\n", who, ResultName(result), api.SyncConflicts(),
              api.GetErrorMessage().empty() ? "" : ", ", api.GetErrorMessage().c_str());
  UserNoticeManager& notices = api.GetUserNoticeManager();
  std::printf("%s", DescribeNotices(notices, "  ").c_str());
  for (int32_t i = 0; i < notices.GetListCount(); ++i) notices[i].MarkHandled();
  notices.RemoveHandledNotifications();
  return result == ERR_NONE;
}

// What the user sees of a copy, independent of record ids: one sorted line per
// live category and per live contact with every field and its category.
std::vector<std::string> Contents(const CategoryManager& manager) {
  std::vector<std::string> lines;
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (categories[i].IsDeleted()) continue;
    CategoryDescriptor d = categories[i].GetCategoryDescriptor();
    lines.push_back("category " + d.GetDisplayString());
  }
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    const Contact& c = contacts[i];
    if (c.IsDeleted()) continue;
    ContactDescriptor d = c.GetContactDescriptor();
    std::string line = "contact";
    for (int32_t k = 0; k < ContactDescriptor::numDatums; ++k) line += "|" + d.GetDatum(k);
    line += Format("|%x|%x|%d|%d|", d.GetFlags(), d.GetOptions(), d.GetOffset(),
                   d.GetIsPrivate() ? 1 : 0);
    line += c.IsUnfiled() ? "Unfiled" : c.GetCategory().GetCategoryDescriptor().GetCategoryName();
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The contacts part of the demo, in the calendar part's directory; calendar is
// the calendar part's desktop API object. Steps go on from n.
bool ContactsDemo(const std::string& dir, CalendarApi& calendar, int& n) {
  std::printf("\n==== Contacts\n");
  CategoryApi desk = BrontelAPI::CreateCategoryApi(dir, "demo desktop");
  CategoryApi hand = BrontelAPI::CreateCategoryApi(dir, "demo handheld");
  CategoryManager desktop = desk.GetCategoryManager();
  AddressBook desktopBook(1000);
  AddressBook handheldBook(5000);
  bool ok = true;

  Step(n, "the desktop address book has two categories and five contacts");
  Category family = AddCategory(desktop, "Family", false);
  Category work = AddCategory(desktop, "Work", false);
  AddContact(desktop, family, "Smith", "Ann", "555-0101");
  AddContact(desktop, family, "Brown", "Carl", "555-0103");
  Contact green = AddContact(desktop, work, "Green", "Dora", "555-0104");
  green.GetContactDescriptor().SetDatum(ContactDescriptor::kCompany, "Acme");
  AddContact(desktop, work, "Gray", "Frank", "555-0106");
  AddContact(desktop, Category(), "White", "Eve", "555-0105");
  // Table versions come from the server; an address book without one has never
  // been synchronized, and a handheld copy without one is merged without its
  // shadow. These books are at version 1, as the account's last server sync
  // left them.
  desktop.SetVersion(1);
  desktopBook.Save(desktop);
  ShowContacts("the desktop", desktop);

  Step(n, "first desktop contact sync fills the empty contact cache");
  ok &= RunContacts("desktop", desk, desk.SyncDesktop());
  desktopBook.Save(desktop);
  ShowContacts("the contact cache", ReadContactCache(dir).GetCategoryManager());

  Step(n, "the account id set on the calendar side reaches the contact cache");
  UID128 gid;
  gid.SetString("4A7F0C21-5B9E-4D2A-8C11-0123456789AB");
  std::printf("  calendar SetGID(%s): %s\n", gid.GetString().c_str(),
              calendar.SetGID(gid) ? "set" : "refused");
  bool hasGid = desk.HasCacheGID();
  std::printf("  contacts HasCacheGID: %s, GetGID: %s\n", hasGid ? "yes" : "no",
              desk.GetGID().GetString().c_str());
  ok &= hasGid && desk.GetGID() == gid;

  Step(n, "first handheld contact sync: the empty handheld receives everything");
  ok &= RunContacts("handheld", hand, hand.SyncHandheld());
  CategoryManager handheld = hand.GetCategoryManager();
  handheldBook.Save(handheld);
  ShowContacts("the handheld", handheld);
  std::printf("  the handheld's account id after the sync: %s\n",
              hand.GetGID().GetString().c_str());
  ok &= hand.GetGID() == gid;

  Step(n, "edits on both sides");
  std::printf("  desktop: Ann Smith gets a new number, Carl Brown too, Frank Gray is deleted\n");
  FindContact(desktop, "Smith")
      .GetContactDescriptor()
      .SetDatum(ContactDescriptor::kFirstPhone, "555-0199");
  FindContact(desktop, "Brown")
      .GetContactDescriptor()
      .SetDatum(ContactDescriptor::kFirstPhone, "555-1111");
  FindContact(desktop, "Gray").Remove();
  std::printf(
      "  handheld: Dora Green's company is renamed, Carl Brown gets another number,\n"
      "            Eve White moves from Unfiled to Family\n");
  FindContact(handheld, "Green")
      .GetContactDescriptor()
      .SetDatum(ContactDescriptor::kCompany, "Acme Ltd");
  FindContact(handheld, "Brown")
      .GetContactDescriptor()
      .SetDatum(ContactDescriptor::kFirstPhone, "555-2222");
  FindContact(handheld, "White").SetCategory(FindCategory(handheld, "Family"));

  Step(n, "desktop sync, then handheld sync: the two edits of Carl Brown collide");
  ok &= RunContacts("desktop", desk, desk.SyncDesktop());
  desktopBook.Save(desktop);
  ok &= RunContacts("handheld", hand, hand.SyncHandheld());
  ShowContacts("the handheld", handheld);

  Step(n, "the handheld user keeps their own number for Carl; then both sides sync again");
  Contact brown = FindContact(handheld, "Brown");
  if (!brown.IsNull() && brown.IsConflicted()) brown.RejectConflict();
  handheldBook.Save(handheld);
  ok &= RunContacts("handheld", hand, hand.SyncHandheld());
  handheldBook.Save(handheld);
  ok &= RunContacts("desktop", desk, desk.SyncDesktop());
  desktopBook.Save(desktop);
  ShowContacts("the desktop", desktop);

  Step(n, "a subscribed category named Family arrives on the desktop next to the owned Family");
  Category subscribed = AddCategory(desktop, "Family", true);
  AddContact(desktop, subscribed, "Black", "Hal", "555-0107");
  desktopBook.Save(desktop);
  ok &= RunContacts("desktop", desk, desk.SyncDesktop());
  desktopBook.Save(desktop);
  ok &= RunContacts("handheld", hand, hand.SyncHandheld());
  handheldBook.Save(handheld);
  ShowContacts("the handheld", handheld);

  Step(n, "one more desktop sync; all three address books agree");
  ok &= RunContacts("desktop", desk, desk.SyncDesktop());
  desktopBook.Save(desktop);
  CategoryManager cache = ReadContactCache(dir).GetCategoryManager();
  ShowContacts("the desktop", desktop);
  ShowContacts("the handheld", handheld);
  ShowContacts("the contact cache", cache);
  bool agree = Contents(desktop) == Contents(handheld) && Contents(desktop) == Contents(cache);
  std::printf("  the desktop, the handheld and the contact cache %s\n",
              agree ? "agree" : "DISAGREE");
  std::printf("  account id: desktop %s, handheld %s, cache %s\n",
              desk.GetGID().GetString().c_str(), hand.GetGID().GetString().c_str(),
              cache.GetGID().GetString().c_str());
  return ok && agree;
}

}  // namespace

int DemoCommand(const std::vector<std::string>& args) {
  std::string dir;
  if (args.size() == 2 && args[0] == "--dir") {
    dir = args[1];
  } else if (args.empty()) {
    std::string pattern = (std::filesystem::temp_directory_path() / "brontel-demo-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      std::perror("brontel: mkdtemp");
      return 1;
    }
    dir = pattern;
  } else {
    std::fprintf(stderr, "usage: brontel demo [--dir DIR]\n");
    return 2;
  }
  std::printf("Brontel %s demo in %s\n", BrontelAPI::GetVersion().c_str(), dir.c_str());
  std::printf("\n==== Calendars\n");

  CalendarApi desk = BrontelAPI::CreateCalendarApi(dir, "demo desktop");
  CalendarApi hand = BrontelAPI::CreateCalendarApi(dir, "demo handheld");
  CalendarManager desktop = desk.GetCalendarManager();
  Store desktopStore("desktop", 100);
  Store handheldStore("handheld", 500);
  int n = 0;
  bool ok = true;

  Step(n, "the desktop has two calendars and five events");
  Calendar work = desktop.CreateNewCalendar();
  work.GetCalendarDescriptor().SetCalendarName("Work");
  Calendar home = desktop.CreateNewCalendar();
  home.GetCalendarDescriptor().SetCalendarName("Home");
  work.CreateNewEvent(MakeEvent("Dentist", "2026-12-10", Time(9, 30), Time(10, 0)));
  EventDescriptor meeting = MakeEvent("Team meeting", "2026-12-07", Time(10, 0), Time(11, 0));
  meeting.SetRepeatType(2);  // weekly
  meeting.SetRepeatFrequency(1);
  meeting.SetRepeatOn(1 << 1);  // Mondays
  meeting.SetRepeatEndYearMonthDate(0xFFFF);
  meeting.AddExceptionYearMonthDate(Date("2026-12-28"));
  Event meetingEvent = work.CreateNewEvent(meeting);
  home.AddEvent(meetingEvent);  // shown in both calendars
  EventDescriptor birthday = MakeEvent("Birthday", "2026-12-24", 0xFFFF, 0);
  birthday.SetRepeatType(5);  // yearly
  birthday.SetRepeatFrequency(1);
  birthday.SetRepeatEndYearMonthDate(0xFFFF);
  home.CreateNewEvent(birthday);
  home.CreateNewEvent(MakeEvent("Lunch with Ana", "2026-12-11", Time(12, 30), Time(13, 30)));
  home.CreateNewEvent(MakeEvent("Old reminder", "2026-12-01", 0xFFFF, 0));
  desktopStore.Save(desktop);
  Show("the desktop", desktop);
  for (const char* day : {"2026-12-14", "2026-12-21", "2026-12-28", "2027-01-04"}) {
    std::time_t t = EventDescriptor::YMDToCTime(Date(day));
    std::printf("  Team meeting on %s: %s\n", day,
                meetingEvent.IsOnDate(t) ? "yes" : "no (exception)");
  }

  Step(n, "first desktop sync fills the empty cache");
  ok &= Run("desktop", desk, desk.SyncDesktop());
  desktopStore.Save(desktop);
  ShowCache(dir);

  Step(n, "first handheld sync: the empty handheld receives everything");
  ok &= Run("handheld", hand, hand.SyncHandheldFirstTime());
  CalendarManager handheld = hand.GetCalendarManager();
  handheldStore.Save(handheld);
  Show("the handheld", handheld);

  Step(n, "edits on both sides");
  std::printf("  desktop: Dentist moves to 11:00, Lunch moves to 13:00, Old reminder is deleted\n");
  FindEvent(desktop, "Dentist").GetEventDescriptor().SetStartTime(Time(11, 0));
  FindEvent(desktop, "Dentist").GetEventDescriptor().SetEndTime(Time(11, 30));
  FindEvent(desktop, "Lunch with Ana").GetEventDescriptor().SetStartTime(Time(13, 0));
  FindEvent(desktop, "Old reminder").Remove(true);
  std::printf("  handheld: Birthday gets a note, Lunch is renamed, Team meeting leaves Home\n");
  FindEvent(handheld, "Birthday").GetEventDescriptor().SetNote("buy flowers");
  FindEvent(handheld, "Lunch with Ana").GetEventDescriptor().SetName("Lunch with Ana and Ben");
  Event handheldMeeting = FindEvent(handheld, "Team meeting");
  CalendarEvent homePlacement = handheldMeeting.FindCalendarEventByCalendarFixedId(
      FindCalendar(handheld, "Home").GetFixedId(), false);
  if (!homePlacement.IsNull()) homePlacement.SetDeleted();

  Step(n, "desktop sync, then handheld sync: the two Lunch edits collide");
  ok &= Run("desktop", desk, desk.SyncDesktop());
  desktopStore.Save(desktop);
  ok &= Run("handheld", hand, hand.SyncHandheld());
  Show("the handheld", handheld);

  Step(n, "the handheld user keeps their own Lunch; then both sides sync again");
  Event lunch = FindEvent(handheld, "Lunch with Ana and Ben");
  if (!lunch.IsNull() && lunch.IsConflicted()) lunch.RejectConflict();
  handheldStore.Save(handheld);
  std::printf("  the handheld also deletes Dentist\n");
  FindEvent(handheld, "Dentist").SetDeleted();
  ok &= Run("handheld", hand, hand.SyncHandheld());
  handheldStore.Save(handheld);
  ok &= Run("desktop", desk, desk.SyncDesktop());
  desktopStore.Save(desktop);

  Step(n, "all three copies agree");
  Show("the desktop", desktop);
  Show("the handheld", handheld);
  ShowCache(dir);

  ok &= ContactsDemo(dir, desk, n);

  std::printf(
      "\nThe cache and shadow files are in %s; look at them with\n"
      "  brontel show %s/%s\n"
      "  brontel show %s/%s\n",
      dir.c_str(), dir.c_str(), CalendarApi::kCacheFile, dir.c_str(), CategoryApi::kCacheFile);
  return ok ? 0 : 1;
}

}  // namespace brontel::tool
