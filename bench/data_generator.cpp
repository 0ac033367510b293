#include "data_generator.h"

#include <algorithm>
#include <vector>

#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_event_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/core/record_identification.h"
#include "brontel/platform/format.h"

namespace brontel::bench {
namespace {

constexpr const char* kFirstNames[] = {"Ann",   "Bob",   "Carla", "Dmitri", "Eve",   "Farid",
                                       "Greta", "Hiro",  "Ines",  "Jamal",  "Kirsi", "Liam",
                                       "Maya",  "Nils",  "Olga",  "Pedro",  "Qiu",   "Rosa",
                                       "Sven",  "Tanja", "Uma",   "Victor", "Wen",   "Yusuf"};
constexpr const char* kLastNames[] = {
    "Anders", "Becker", "Castillo", "Dubois", "Eriksen", "Fischer", "Garcia", "Hansen",
    "Ivanov", "Jensen", "Kowalski", "Larsen", "Moreau",  "Novak",   "Olsen",  "Petrov",
    "Quinn",  "Rossi",  "Schmidt",  "Tanaka", "Ueda",    "Varga",   "Weber",  "Young"};
constexpr const char* kEventNames[] = {
    "Team meeting", "Dentist",        "Lunch with",     "Call",          "Review",
    "Gym",          "Flight to",      "Dinner with",    "Project sync",  "Doctor",
    "Birthday of",  "Parent evening", "Board meeting",  "Haircut",       "Yoga class",
    "Car service",  "Standup",        "Interview with", "Budget review", "Piano lesson"};
constexpr const char* kCities[] = {"Oslo",  "Lyon", "Porto", "Graz",  "Turku", "Bergen",
                                   "Malmo", "Gent", "Brno",  "Cork",  "Basel", "Aarhus",
                                   "Leeds", "Pisa", "Split", "Tartu", "Riga",  "Kaunas"};
constexpr const char* kWords[] = {"bring",  "the",    "slides", "and",   "notes",  "for",
                                  "second", "floor",  "room",   "ask",   "about",  "budget",
                                  "call",   "before", "leave",  "early", "agenda", "draft",
                                  "print",  "copies", "check",  "train", "times",  "parking"};

template <class T, size_t n>
const T& Pick(Random& random, const T (&items)[n]) {
  return items[random.Below(static_cast<uint32_t>(n))];
}

uint16_t PackedDate(int32_t year, int32_t month, int32_t day) {
  return static_cast<uint16_t>((year - 1904) << 9 | month << 5 | day);
}

uint16_t RandomDate(Random& random) {
  return PackedDate(2023 + static_cast<int32_t>(random.Below(3)),
                    1 + static_cast<int32_t>(random.Below(12)),
                    1 + static_cast<int32_t>(random.Below(28)));
}

// A packed date some days after date, without leaving days 1..28.
uint16_t LaterDate(uint16_t date, int32_t months, int32_t day) {
  int32_t year = (date >> 9) + 1904;
  int32_t month = ((date >> 5) & 0xF) - 1 + months;
  return PackedDate(year + month / 12, month % 12 + 1, day);
}

std::string Sentence(Random& random, int32_t words) {
  std::string text;
  for (int32_t i = 0; i < words; ++i) {
    if (i > 0) text += ' ';
    text += Pick(random, kWords);
  }
  return text;
}

std::string PersonName(Random& random) {
  return std::string(Pick(random, kFirstNames)) + " " + Pick(random, kLastNames);
}

// ---- calendars ----

enum class CalendarKind { kDefault, kLocal, kPublished, kReadOnly, kReadWrite, kHidden };

CalendarKind KindOf(int32_t index, bool subscribed) {
  static constexpr CalendarKind kCycle[] = {
      CalendarKind::kPublished, CalendarKind::kLocal,    CalendarKind::kPublished,
      CalendarKind::kReadOnly,  CalendarKind::kLocal,    CalendarKind::kReadWrite,
      CalendarKind::kPublished, CalendarKind::kReadOnly, CalendarKind::kLocal,
      CalendarKind::kPublished, CalendarKind::kHidden,   CalendarKind::kPublished};
  if (index == 0) return CalendarKind::kDefault;
  CalendarKind kind = kCycle[(index - 1) % 12];
  if (!subscribed && kind != CalendarKind::kLocal) return CalendarKind::kPublished;
  return kind;
}

// Gives a record its store's ids: the local id, and the fixed id that the
// engines would make from it.
template <class Record>
uint32_t GiveIds(Record record, RecordStore& store) {
  const uint32_t id = store.NextId();
  record.SetLocalId(id);
  record.SetFixedId(id | RecordIdentification::kProvisionalFixedId);
  return id;
}

void GiveEventIds(Event event, RecordStore& store) {
  const uint32_t id = store.NextId();
  event.SetLocalId(id);
  if (store.kind() == CopyKind::kHandheld) {
    event.SetDateBookId(id);
    event.SetFixedId(id | Event::kDateBookFixedIdBits);
  } else {
    event.SetFixedId(id | RecordIdentification::kProvisionalFixedId);
  }
}

Calendar MakeCalendar(CalendarManager& manager, int32_t index, CalendarKind kind, Random& random,
                      RecordStore& store) {
  Calendar calendar = manager.CreateNewCalendar();
  CalendarDescriptor d = calendar.GetCalendarDescriptor();
  static constexpr const char* kNames[] = {"Work",   "Family", "Sports", "Holidays", "Club",
                                           "School", "Travel", "Team",   "Garden",   "Choir"};
  const bool owned = kind == CalendarKind::kDefault || kind == CalendarKind::kLocal ||
                     kind == CalendarKind::kPublished;
  d.SetCalendarName(index == 0 ? std::string("Personal")
                               : Format("%s %d", kNames[index % 10], index));
  d.SetDescription(owned ? Sentence(random, 4) : "shared by " + PersonName(random));
  d.SetInitials(Format("%c%c", 'A' + index % 26, 'A' + (index * 7) % 26));
  d.SetColor(0x102030u * static_cast<uint32_t>(index + 1) & 0xFFFFFF);
  d.SetOrdinal(static_cast<uint32_t>(index));
  d.SetOwnedFlag(owned);
  d.SetSharedFlag(kind != CalendarKind::kLocal);
  d.SetReadOnlyFlag(kind == CalendarKind::kReadOnly || kind == CalendarKind::kHidden);
  d.SetHideDetailsFlag(kind == CalendarKind::kHidden);
  d.SetSelectedDesktopFlag(true);
  if (kind == CalendarKind::kDefault) d.SetDefaultCalendar(true);
  GiveIds(calendar, store);
  return calendar;
}

void FillEventDescriptor(EventDescriptor d, Random& random) {
  std::string name = Pick(random, kEventNames);
  if (name.back() == 'h' || name.back() == 'o' || name.back() == 'f') {
    name += " " + (name.back() == 'o' ? std::string(Pick(random, kCities)) : PersonName(random));
  }
  d.SetName(name);
  const uint16_t date = RandomDate(random);
  d.SetYearMonthDate(date);
  if (random.Percent(10)) {
    d.SetStartTime(EventDescriptor::kUntimed);
    d.SetEndTime(0);
  } else {
    const uint32_t start = (7 + random.Below(12)) * 60 + 15 * random.Below(4);
    const uint32_t end = std::min<uint32_t>(start + 30 + 15 * random.Below(7), 23 * 60 + 45);
    d.SetStartTime(static_cast<uint16_t>((start / 60) << 8 | start % 60));
    d.SetEndTime(static_cast<uint16_t>((end / 60) << 8 | end % 60));
  }
  if (random.Percent(40)) d.SetNote(Sentence(random, 3 + static_cast<int32_t>(random.Below(20))));
  if (random.Percent(30)) {
    d.SetAlarmFlag(true);
    d.SetAlarmAdvanceTime(static_cast<uint8_t>(5 + 5 * random.Below(6)));
    d.SetAlarmAdvanceUnit(0);
  }
  d.SetIsPrivate(random.Percent(5));
  if (random.Percent(3)) {
    WebContent& web = d.GetWebContent();
    const uint32_t sponsor = random.Below(50);
    web.SetButtonLabel("Tickets");
    web.SetDesktopURL(
        Format("http://www.sponsor%u.example/event/%u", sponsor, random.Below(1000000)));
    web.SetPalm7URL(Format("http://m.sponsor%u.example/e%u", sponsor, random.Below(1000000)));
    web.SetSponsor(Format("Sponsor %u", sponsor));
    web.SetText(Sentence(random, 8));
  }
  if (!random.Percent(40)) return;
  // Daily 25%, weekly 30%, monthly by day 15%, by date 15%, yearly 15%.
  const uint32_t r = random.Below(100);
  const uint8_t type = r < 25   ? EventDescriptor::kRepeatDaily
                       : r < 55 ? EventDescriptor::kRepeatWeekly
                       : r < 70 ? EventDescriptor::kRepeatMonthlyByDay
                       : r < 85 ? EventDescriptor::kRepeatMonthlyByDate
                                : EventDescriptor::kRepeatYearly;
  d.SetRepeatType(type);
  d.SetRepeatFrequency(static_cast<uint8_t>(1 + random.Below(type == 1 ? 3 : 2)));
  if (type == EventDescriptor::kRepeatWeekly) {
    d.SetRepeatOn(static_cast<uint8_t>(1u << random.Below(7) | 1u << random.Below(7)));
    d.SetRepeatStartOfWeek(static_cast<uint8_t>(random.Below(2)));
  } else if (type == EventDescriptor::kRepeatMonthlyByDay) {
    d.SetRepeatOn(static_cast<uint8_t>(random.Below(35)));
  }
  d.SetRepeatEndYearMonthDate(random.Percent(50) ? EventDescriptor::kNoEndDate
                                                 : LaterDate(date, 12, 28));
  if (random.Percent(30)) {
    const int32_t exceptions = 1 + static_cast<int32_t>(random.Below(3));
    for (int32_t i = 0; i < exceptions; ++i) {
      d.AddExceptionYearMonthDate(
          LaterDate(date, 1 + static_cast<int32_t>(random.Below(10)), 1 + random.Below(28)));
    }
  }
}

// The calendars an event may be placed in: all but those it is in already.
Calendar OtherCalendar(const CalendarList& calendars, const Event& event, Random& random) {
  for (int32_t attempt = 0; attempt < 8; ++attempt) {
    Calendar c = calendars[static_cast<int32_t>(
        random.Below(static_cast<uint32_t>(calendars.GetListCount())))];
    if (c.IsDeleted()) continue;
    if (event.FindCalendarEventByCalendarFixedId(c.GetFixedId(), false).IsNull() &&
        c.GetFixedId() != 0) {
      return c;
    }
  }
  return Calendar();
}

void Place(Event& event, Calendar calendar, Random& random, RecordStore* store) {
  CalendarEvent placement = event.AddToCalendar(calendar);
  if (store != nullptr) placement.SetLocalId(store->NextId());
  if (random.Percent(10)) {
    CalendarEventDescriptor alarm = placement.GetCalendarEventDescriptor();
    alarm.SetAlarmFlag(true);
    alarm.SetAlarmAdvanceTime(static_cast<uint8_t>(10 + random.Below(50)));
    alarm.SetAlarmAdvanceUnit(CalendarEventDescriptor::kMinutes);
  }
}

// A new event of manager in one to three calendars of the list (calendars
// that may not be written to only when writable is false).
Event MakeEvent(CalendarManager& manager, const std::vector<Calendar>& calendars, Random& random,
                RecordStore* store) {
  Event event = manager.CreateNewEvent(0, 0);
  FillEventDescriptor(event.GetEventDescriptor(), random);
  if (store != nullptr) GiveEventIds(event, *store);
  const uint32_t r = random.Below(100);
  const int32_t placements = r < 70 ? 1 : r < 92 ? 2 : 3;
  std::vector<size_t> chosen;
  while (static_cast<int32_t>(chosen.size()) < placements && chosen.size() < calendars.size()) {
    size_t at = random.Below(static_cast<uint32_t>(calendars.size()));
    if (std::find(chosen.begin(), chosen.end(), at) != chosen.end()) continue;
    chosen.push_back(at);
    Place(event, calendars[at], random, store);
  }
  return event;
}

// ---- contacts ----

enum class CategoryKind { kLocal, kPublished, kReadOnly, kReadWrite };

CategoryKind CategoryKindOf(int32_t index, bool subscribed) {
  static constexpr CategoryKind kCycle[] = {CategoryKind::kPublished, CategoryKind::kLocal,
                                            CategoryKind::kPublished, CategoryKind::kReadOnly,
                                            CategoryKind::kLocal,     CategoryKind::kReadWrite};
  CategoryKind kind = kCycle[index % 6];
  if (!subscribed && kind != CategoryKind::kLocal) return CategoryKind::kPublished;
  return kind;
}

void FillContactDescriptor(ContactDescriptor d, Random& random, uint32_t serial) {
  const std::string first = Pick(random, kFirstNames);
  const std::string last = Pick(random, kLastNames);
  const std::string city = Pick(random, kCities);
  d.SetDatum(ContactDescriptor::kLastName, last);
  d.SetDatum(ContactDescriptor::kFirstName, first);
  d.SetDatum(ContactDescriptor::kCompany,
             Format("%s %s", Pick(random, kLastNames), random.Percent(50) ? "GmbH" : "& Co"));
  for (int32_t phone = 0; phone < 5; ++phone) {
    d.SetDatum(ContactDescriptor::kFirstPhone - phone,
               Format("+%u %u %07u", 30 + random.Below(20), 10 + random.Below(90),
                      random.Below(10000000)));
  }
  d.SetDatum(10, Format("%u %s Street", 1 + random.Below(200), Pick(random, kLastNames)));
  d.SetDatum(9, city);
  d.SetDatum(8, Format("Region %u", random.Below(20)));
  d.SetDatum(7, Format("%05u", random.Below(100000)));
  d.SetDatum(6, "Europe");
  d.SetDatum(5, random.Percent(50) ? "Engineer" : "Manager");
  d.SetDatum(4, Format("%s.%s%u@mail.example", first.c_str(), last.c_str(), serial));
  d.SetDatum(3, Format("http://%s.example", last.c_str()));
  d.SetDatum(2, Format("met in %s", city.c_str()));
  d.SetDatum(1, Format("id %u", serial));
  d.SetDatum(0, Sentence(random, 2 + static_cast<int32_t>(random.Below(12))));
  d.SetFlags(ContactDescriptor::kFlagsMask);
  d.SetOptions(random.Below(0x1000000));
  d.SetOffset(static_cast<uint8_t>(random.Below(4)));
  d.SetIsPrivate(random.Percent(3));
}

}  // namespace

uint64_t Random::Next() {
  uint64_t z = (m_state += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

void RecordStore::Save(CalendarManager manager) {
  // Copies of the lists: removing a record changes the manager's own.
  EventList events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    Event e = events[i];
    if (e.IsNull()) continue;
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
        l.SetLocalId(NextId());
      }
    }
    if (e.GetLocalId() == 0) {
      const uint32_t id = NextId();
      e.SetLocalId(id);
      if (m_kind == CopyKind::kHandheld) e.SetDateBookId(id);
    }
  }
  CalendarList calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    Calendar c = calendars[i];
    if (c.IsDeleted()) {
      if (!c.IsNull()) c.Remove();
    } else if (c.GetLocalId() == 0) {
      c.SetLocalId(NextId());
    }
  }
  manager.RemoveEmptyEvents(false);
  manager.SetClean();
}

void RecordStore::Save(CategoryManager manager) {
  ContactList contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    Contact c = contacts[i];
    if (c.IsNull()) continue;
    if (c.IsDeleted()) {
      c.Remove();
    } else if (c.GetLocalId() == 0) {
      c.SetLocalId(NextId());
    }
  }
  CategoryList categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    Category c = categories[i];
    if (c.IsNull()) continue;
    if (c.IsDeleted()) {
      c.Remove();
    } else if (c.GetLocalId() == 0) {
      c.SetLocalId(NextId());
    }
  }
  manager.SetClean();
}

void FillCalendars(CalendarManager manager, const CalendarShape& shape, RecordStore& store) {
  Random random(shape.seed * 0x100000001B3ull + 11);
  for (int32_t i = 0; i < shape.calendars; ++i) {
    MakeCalendar(manager, i, KindOf(i, shape.subscribed), random, store);
  }
  AddEvents(manager, shape.events, random, store);
}

void AddEvents(CalendarManager manager, int32_t events, Random& random, RecordStore& store) {
  std::vector<Calendar> calendars;
  const CalendarList& list = manager.GetCalendarList();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (!list[i].IsDeleted()) calendars.push_back(list[i]);
  }
  std::vector<Event> repeating;
  for (int32_t i = 0; i < events && !calendars.empty(); ++i) {
    Event event = MakeEvent(manager, calendars, random, &store);
    if (event.GetEventDescriptor().GetRepeatType() != EventDescriptor::kRepeatNone) {
      repeating.push_back(event);
    }
  }
  // Repeat exceptions: one occurrence of a repeating event moved to another
  // time, kept as a clone event in the same calendars; the parent's rule
  // skips that date.
  for (size_t i = 0; i < repeating.size(); i += 50) {
    Event parent = repeating[i];
    EventDescriptor moved = parent.GetEventDescriptor().Clone();
    const uint16_t date = LaterDate(moved.GetYearMonthDate(), 1, 1 + random.Below(28));
    moved.SetRepeatType(EventDescriptor::kRepeatNone);
    moved.ClearExceptions();
    moved.SetYearMonthDate(date);
    moved.SetNote("moved this once");
    parent.GetEventDescriptor().AddExceptionYearMonthDate(date);
    Event clone = parent.CreateCloneEvent(moved, 0, 0);
    GiveEventIds(clone, store);
    CalendarEventList& links = clone.GetCalendarEventList();
    for (int32_t k = 0; k < links.GetListCount(); ++k) links[k].SetLocalId(store.NextId());
  }
  manager.SetClean();
}

void FillContacts(CategoryManager manager, const ContactShape& shape, RecordStore& store) {
  Random random(shape.seed * 0x100000001B3ull + 23);
  static constexpr const char* kNames[] = {
      "Business",   "Family", "Friends", "Clients", "Suppliers", "Club",   "School", "Doctors",
      "Neighbours", "Choir",  "Press",   "Travel",  "Team",      "Alumni", "Garage"};
  for (int32_t i = 0; i < shape.categories; ++i) {
    const CategoryKind kind = CategoryKindOf(i, shape.subscribed);
    Category category = manager.CreateNewCategory(false);
    CategoryDescriptor d = category.GetCategoryDescriptor();
    d.SetCategoryName(kNames[i % 15]);
    d.SetDescription(Sentence(random, 3));
    d.SetColor(0x203040u * static_cast<uint32_t>(i + 1) & 0xFFFFFF);
    d.SetOwnedFlag(kind == CategoryKind::kLocal || kind == CategoryKind::kPublished);
    d.SetSharedFlag(kind != CategoryKind::kLocal);
    d.SetReadOnlyFlag(kind == CategoryKind::kReadOnly);
    category.SetLocalId(store.NextId());
  }
  AddContacts(manager, shape.contacts, random, store);
}

void AddContacts(CategoryManager manager, int32_t contacts, Random& random, RecordStore& store) {
  std::vector<Category> categories;
  const CategoryList& list = manager.GetCategoryList();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (!list[i].IsDeleted()) categories.push_back(list[i]);
  }
  const uint32_t first = static_cast<uint32_t>(manager.GetContactList().GetListCount());
  for (int32_t i = 0; i < contacts; ++i) {
    // Every tenth contact is unfiled.
    Category category = categories.empty() || random.Below(10) == 0
                            ? Category()
                            : categories[random.Below(static_cast<uint32_t>(categories.size()))];
    Contact contact = manager.CreateNewContact(category);
    FillContactDescriptor(contact.GetContactDescriptor(), random, first + static_cast<uint32_t>(i));
    contact.SetLocalId(store.NextId());
  }
  manager.SetClean();
}

ChangeCounts ChangeCalendars(CalendarManager manager, double fraction, Random& random,
                             CopyKind kind) {
  ChangeCounts counts;
  const uint32_t threshold = static_cast<uint32_t>(fraction * 1000000.0);
  std::vector<Calendar> writable;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    if (!c.IsDeleted() && c.GetCalendarDescriptor().GetOwnedFlag()) writable.push_back(c);
  }
  std::vector<Event> removed;
  int32_t live = 0;
  const std::vector<Event> events = manager.GetEventList().Snapshot();
  for (const Event& snapshot : events) {
    Event e = snapshot;
    if (e.IsDeleted()) continue;
    ++live;
    const uint32_t r = random.Below(1000000);
    if (r < threshold) {
      EventDescriptor d = e.GetEventDescriptor();
      switch (counts.changed++ % 5) {
        case 0:
          d.SetName(d.GetName() + " (moved)");
          break;
        case 1:
          d.SetNote(Sentence(random, 6));
          break;
        case 2:
          if (d.GetStartTime() != EventDescriptor::kUntimed) {
            d.SetStartTime(static_cast<uint16_t>(d.GetStartTime() + 0x100));
          }
          d.SetEndTime(static_cast<uint16_t>(d.GetEndTime() + 0x100));
          break;
        case 3:
          d.SetAlarmFlag(!d.GetAlarmFlag());
          d.SetAlarmAdvanceTime(15);
          break;
        default: {
          Calendar extra = OtherCalendar(calendars, e, random);
          if (!extra.IsNull()) {
            Place(e, extra, random, nullptr);
          } else {
            d.SetName(d.GetName() + "!");
          }
          break;
        }
      }
      e.SetDirty();
    } else if (r < 2 * threshold) {
      removed.push_back(e);
    }
  }
  for (Event& e : removed) {
    ++counts.deleted;
    if (kind == CopyKind::kHandheld) {
      e.SetDeleted();
      e.SetDirty();
    } else {
      e.Remove(true);
    }
  }
  const int32_t additions = static_cast<int32_t>(live * fraction + 0.5);
  for (int32_t i = 0; i < additions && !writable.empty(); ++i) {
    Event e = MakeEvent(manager, writable, random, nullptr);
    e.SetDirty();
    ++counts.added;
  }
  return counts;
}

ChangeCounts ChangeContacts(CategoryManager manager, double fraction, Random& random,
                            CopyKind kind) {
  ChangeCounts counts;
  const uint32_t threshold = static_cast<uint32_t>(fraction * 1000000.0);
  std::vector<Category> writable;
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    const Category& c = categories[i];
    if (!c.IsDeleted() && c.GetCategoryDescriptor().GetOwnedFlag()) writable.push_back(c);
  }
  std::vector<Contact> removed;
  int32_t live = 0;
  const std::vector<Contact> contacts = manager.GetContactList().Snapshot();
  for (const Contact& snapshot : contacts) {
    Contact c = snapshot;
    if (c.IsDeleted()) continue;
    ++live;
    const uint32_t r = random.Below(1000000);
    if (r < threshold) {
      if (counts.changed++ % 3 == 2 && !writable.empty()) {
        c.SetCategory(writable[random.Below(static_cast<uint32_t>(writable.size()))]);
      } else {
        c.GetContactDescriptor().SetDatum(
            static_cast<int32_t>(random.Below(ContactDescriptor::numDatums)),
            Format("changed %u", random.Below(1000000)));
      }
      c.SetDirty();
    } else if (r < 2 * threshold) {
      removed.push_back(c);
    }
  }
  for (Contact& c : removed) {
    ++counts.deleted;
    if (kind == CopyKind::kHandheld) {
      c.SetDeleted();
      c.SetDirty();
    } else {
      c.Remove();
    }
  }
  const int32_t additions = static_cast<int32_t>(live * fraction + 0.5);
  for (int32_t i = 0; i < additions; ++i) {
    Category category = writable.empty() || random.Below(10) == 0
                            ? Category()
                            : writable[random.Below(static_cast<uint32_t>(writable.size()))];
    Contact c = manager.CreateNewContact(category);
    FillContactDescriptor(c.GetContactDescriptor(), random, 900000000u + random.Below(1000000));
    c.SetDirty();
    ++counts.added;
  }
  return counts;
}

bool FillServerAccount(const std::string& directory, const std::string& user,
                       const std::string& password, const CalendarShape& calendarShape,
                       const ContactShape& contactShape, RecordStore& calendarStore,
                       RecordStore& contactStore, ServerAccount* account, std::string* error) {
  account->calendars = BrontelAPI::CreateCalendarApi(directory, "bench");
  account->contacts = BrontelAPI::CreateCategoryApi(directory, user);
  CalendarApi& calendars = account->calendars;
  CategoryApi& contacts = account->contacts;
  if (!calendars.RequestGIDFromServer(user, password) ||
      !contacts.RequestGIDFromServer(user, password)) {
    *error = "no account id for " + user + ": " + calendars.GetErrorMessage() +
             contacts.GetErrorMessage();
    return false;
  }
  auto check = [&](br_error result, const ApiObject& api, const char* what) {
    if (result == ERR_NONE) return true;
    *error =
        Format("%s failed (%d): %s", what, static_cast<int>(result), api.GetErrorMessage().c_str());
    return false;
  };
  // The desktop grows by kServerFillStep records per synchronization: the
  // server takes requests of a bounded size.
  CalendarShape ownCalendars = calendarShape;
  ownCalendars.subscribed = false;
  ownCalendars.events = std::min(calendarShape.events, kServerFillStep);
  FillCalendars(calendars.GetCalendarManager(), ownCalendars, calendarStore);
  Random calendarRandom(calendarShape.seed * 0x100000001B3ull + 37);
  for (int32_t made = ownCalendars.events;; made += kServerFillStep) {
    if (!check(calendars.SyncDesktop(), calendars, "calendar desktop sync")) return false;
    calendarStore.Save(calendars.GetCalendarManager());
    if (!check(calendars.SyncServer(nullptr), calendars, "calendar server sync")) return false;
    if (!check(calendars.SyncDesktop(), calendars, "calendar desktop sync")) return false;
    calendarStore.Save(calendars.GetCalendarManager());
    if (made >= calendarShape.events) break;
    AddEvents(calendars.GetCalendarManager(),
              std::min(kServerFillStep, calendarShape.events - made), calendarRandom,
              calendarStore);
  }
  ContactShape ownContacts = contactShape;
  ownContacts.subscribed = false;
  ownContacts.contacts = std::min(contactShape.contacts, kServerFillStep);
  FillContacts(contacts.GetCategoryManager(), ownContacts, contactStore);
  Random contactRandom(contactShape.seed * 0x100000001B3ull + 41);
  for (int32_t made = ownContacts.contacts;; made += kServerFillStep) {
    if (!check(contacts.SyncDesktop(), contacts, "contact desktop sync")) return false;
    contactStore.Save(contacts.GetCategoryManager());
    if (!check(contacts.SyncServer(nullptr), contacts, "contact server sync")) return false;
    if (!check(contacts.SyncDesktop(), contacts, "contact desktop sync")) return false;
    contactStore.Save(contacts.GetCategoryManager());
    if (made >= contactShape.contacts) break;
    AddContacts(contacts.GetCategoryManager(),
                std::min(kServerFillStep, contactShape.contacts - made), contactRandom,
                contactStore);
  }
  return true;
}

}  // namespace brontel::bench
