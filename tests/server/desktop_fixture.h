// A desktop program of one user for tests against the real server program:
// a cache directory of its own with a calendar and a contact API object kept
// across synchronizations, as a desktop program keeps them. Describe gives a
// copy's records as canonical text (one sorted line per live record, without
// the ids each copy gives its records), so copies of one account compare
// equal when they hold the same data.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <ostream>
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
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/host/user_notice_manager.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/format.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"
#include "support/temp_dir.h"

namespace brontel::server::testing {

inline constexpr char kRevision[] = "2.1";

// ---- Canonical text of a copy ----
//
// One line per live record, sorted, with what the user sees and none of the
// ids each copy gives its records: the copies of one account on two desktops
// read the same when they hold the same data.

inline std::string Lines(std::vector<std::string> lines) {
  std::sort(lines.begin(), lines.end());
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

inline std::string EventText(const EventDescriptor& d) {
  std::string text = Format("\"%s\" on %x %x-%x", d.GetName().c_str(), d.GetYearMonthDate(),
                            d.GetStartTime(), d.GetEndTime());
  if (!d.GetNote().empty()) text += " note \"" + d.GetNote() + "\"";
  if (d.GetIsPrivate()) text += " private";
  if (d.GetRepeatType() != EventDescriptor::kRepeatNone) {
    text += Format(" repeat %d every %d on %x from %d until %x", d.GetRepeatType(),
                   d.GetRepeatFrequency(), d.GetRepeatOn(), d.GetRepeatStartOfWeek(),
                   d.GetRepeatEndYearMonthDate());
    for (int32_t i = 0; i < d.GetRepeatExceptionCount(); ++i) {
      text += Format(" except %x", d.GetExceptionYearMonthDate(i));
    }
  }
  const WebContent& web = d.GetWebContent();
  if (!web.IsEmpty()) {
    text += " web \"" + web.GetButtonLabel() + "\" \"" + web.GetDesktopURL() + "\" \"" +
            web.GetText() + "\"";
  }
  return text;
}

inline std::string EventLine(const CalendarManager& manager, const Event& event) {
  std::string line = "event " + EventText(event.GetEventDescriptor()) + " in";
  std::vector<std::string> calendars = brontel::testing::CalendarNamesOf(event);
  std::sort(calendars.begin(), calendars.end());
  for (const std::string& name : calendars) line += " " + name;
  if (event.HasParent()) {
    Event parent = manager.FindEventByFixedId(event.GetParentEventFixedId(), false);
    line += " exception of " +
            (parent.IsNull() ? std::string("?") : parent.GetEventDescriptor().GetName());
  }
  if (event.IsConflicted()) {
    line += " conflict " + EventText(event.GetConflict().GetEventDescriptor());
  }
  return line;
}

inline std::string Describe(const CalendarManager& manager) {
  std::vector<std::string> lines;
  const CalendarList& calendars = manager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    if (calendars[i].IsDeleted()) continue;
    const CalendarDescriptor d = calendars[i].GetCalendarDescriptor();
    lines.push_back(Format("calendar %s%s%s%s%s", d.GetCalendarName().c_str(),
                           d.GetOwnedFlag() ? " owned" : "", d.GetSharedFlag() ? " shared" : "",
                           d.GetReadOnlyFlag() ? " read-only" : "",
                           d.GetHideDetailsFlag() ? " hidden" : ""));
  }
  const EventList& events = manager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    if (!events[i].IsDeleted()) lines.push_back(EventLine(manager, events[i]));
  }
  return Lines(lines);
}

inline std::string ContactText(const ContactDescriptor& d) {
  std::string text;
  for (int32_t i = ContactDescriptor::numDatums - 1; i >= 0; --i) {
    if (!d.GetDatum(i).empty()) text += Format("%d=\"%s\" ", i, d.GetDatum(i).c_str());
  }
  return text + Format("flags %x options %x offset %d%s", d.GetFlags(), d.GetOptions(),
                       d.GetOffset(), d.GetIsPrivate() ? " private" : "");
}

inline std::string ContactLine(const Contact& contact) {
  std::string line = "contact in " + contact.GetCategory().GetShortDisplayString() + ": " +
                     ContactText(contact.GetContactDescriptor());
  if (contact.IsConflicted()) {
    line += " conflict " + ContactText(contact.GetConflict().GetContactDescriptor());
  }
  return line;
}

inline std::string Describe(const CategoryManager& manager) {
  std::vector<std::string> lines;
  const CategoryList& categories = manager.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    if (categories[i].IsDeleted() || categories[i].IsUnfiled()) continue;
    const CategoryDescriptor d = categories[i].GetCategoryDescriptor();
    lines.push_back(Format("category %s%s%s%s", d.GetCategoryName().c_str(),
                           d.GetOwnedFlag() ? " owned" : "", d.GetSharedFlag() ? " shared" : "",
                           d.GetReadOnlyFlag() ? " read-only" : ""));
  }
  const ContactList& contacts = manager.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    if (!contacts[i].IsDeleted()) lines.push_back(ContactLine(contacts[i]));
  }
  return Lines(lines);
}

// ---- A desktop ----

// The conflicts the server passes of one synchronization found, per family.
struct Conflicts {
  int32_t calendars = 0;
  int32_t contacts = 0;
  bool operator==(const Conflicts& other) const {
    return calendars == other.calendars && contacts == other.contacts;
  }
};

inline void PrintTo(const Conflicts& conflicts, std::ostream* os) {
  *os << "{calendars " << conflicts.calendars << ", contacts " << conflicts.contacts << "}";
}

// One desktop program of one user: a cache directory of its own with a
// calendar and a contact API object that live as long as the desktop.
class Desktop {
 public:
  Desktop(std::string user, std::string password)
      : m_user(std::move(user)),
        m_password(std::move(password)),
        m_calendars(BrontelAPI::CreateCalendarApi(m_dir.path(), kRevision)),
        m_contacts(BrontelAPI::CreateCategoryApi(m_dir.path(), m_user)) {}

  // The user's account id from the server, for both families.
  bool SignIn() {
    return m_calendars.RequestGIDFromServer(m_user, m_password) &&
           m_contacts.RequestGIDFromServer(m_user, m_password);
  }

  CalendarManager Calendars() const { return m_calendars.GetCalendarManager(); }
  CategoryManager Contacts() const { return m_contacts.GetCategoryManager(); }
  CalendarApi& CalendarObject() { return m_calendars; }
  CategoryApi& ContactObject() { return m_contacts; }

  // What the desktop program runs for each family: its records into the
  // cache, the cache with the server, the cache's changes back to it.
  Conflicts Sync() {
    NumberNewRecords();
    return Conflicts{SyncFamily(m_calendars, "calendars"), SyncFamily(m_contacts, "contacts")};
  }

  std::string CalendarText() const { return Describe(Calendars()); }
  std::string ContactText() const { return Describe(Contacts()); }
  CalendarManager CalendarCache() const {
    const std::string bytes = brontel::testing::ReadFileOrMissing(File(CalendarApi::kCacheFile));
    brontel::CalendarCache cache;
    Archive ar(bytes);
    cache.Serialize(ar);
    return cache.GetCalendarManager();
  }
  CategoryManager ContactCache() const {
    return brontel::testing::ReadCache(
               brontel::testing::ReadFileOrMissing(File(CategoryApi::kCacheFile)))
        .GetCategoryManager();
  }

  // The versions of the server's answers the two caches last took: they
  // move only when the server applied a change.
  std::pair<uint32_t, uint32_t> CacheVersions() const {
    return {CalendarCache().GetVersion(), ContactCache().GetVersion()};
  }

  // The contact notices' details since the last look, one per line.
  std::string TakeContactNotices() {
    std::string text;
    UserNoticeManager& notices = m_contacts.GetUserNoticeManager();
    for (int32_t i = 0; i < notices.GetListCount(); ++i) {
      text += notices[i].GetDetails();
      notices[i].MarkHandled();
    }
    return text;
  }

  // The directory of the desktop's cache.
  const std::string& Directory() const { return m_dir.path(); }

  // The desktop program's store numbers its records from 1, as every
  // desktop's store does: provisional fixed ids of two desktops collide.
  void NumberNewRecords() {
    auto number = [this](auto& list) {
      for (int32_t i = 0; i < list.GetListCount(); ++i) {
        if (list[i].GetLocalId() == 0) list[i].SetLocalId(++m_lastLocalId);
      }
    };
    number(Calendars().GetCalendarList());
    number(Calendars().GetEventList());
    number(Contacts().GetCategoryList());
    number(Contacts().GetContactList());
  }

 private:
  std::string File(const char* name) const { return m_dir.File(name); }

  template <class Api>
  static int32_t SyncFamily(Api& api, const char* family) {
    EXPECT_EQ(api.SyncDesktop(), ERR_NONE) << family << ": " << api.GetErrorMessage();
    EXPECT_EQ(api.SyncServer(nullptr), ERR_NONE) << family << ": " << api.GetErrorMessage();
    const int32_t conflicts = api.SyncConflicts();
    EXPECT_EQ(api.SyncDesktop(), ERR_NONE) << family << ": " << api.GetErrorMessage();
    return conflicts;
  }

  brontel::testing::TempDir m_dir;
  std::string m_user;
  std::string m_password;
  CalendarApi m_calendars;
  CategoryApi m_contacts;
  uint32_t m_lastLocalId = 0;
};

// ---- Finding records by name ----

// The live record of list whose name (by nameOf) is name; a failure and a
// null record when there is none.
template <class Record, class List, class NameOf>
Record FindNamed(const List& list, const std::string& name, NameOf nameOf) {
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    if (!list[i].IsDeleted() && nameOf(list[i]) == name) return list[i];
  }
  ADD_FAILURE() << "nothing named " << name;
  return Record();
}

inline Calendar FindCalendar(const CalendarManager& manager, const std::string& name) {
  return FindNamed<Calendar>(manager.GetCalendarList(), name, [](const Calendar& c) {
    return c.GetCalendarDescriptor().GetCalendarName();
  });
}

inline Event FindEvent(const CalendarManager& manager, const std::string& name) {
  return FindNamed<Event>(manager.GetEventList(), name,
                          [](const Event& e) { return e.GetEventDescriptor().GetName(); });
}

inline Category FindCategory(const CategoryManager& manager, const std::string& name) {
  return FindNamed<Category>(manager.GetCategoryList(), name, [](const Category& c) {
    return c.GetCategoryDescriptor().GetCategoryName();
  });
}

inline Contact FindContact(const CategoryManager& manager, const std::string& last) {
  return FindNamed<Contact>(manager.GetContactList(), last, [](const Contact& c) {
    return c.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName);
  });
}

// Every copy a desktop holds: its records and its cache, which a desktop
// synchronization leaves equal.
inline ::testing::AssertionResult InStep(const Desktop& desktop) {
  const std::string calendars = desktop.CalendarText();
  const std::string contacts = desktop.ContactText();
  const std::string calendarCache = Describe(desktop.CalendarCache());
  const std::string contactCache = Describe(desktop.ContactCache());
  if (calendars == calendarCache && contacts == contactCache) {
    return ::testing::AssertionSuccess();
  }
  return ::testing::AssertionFailure() << "desktop:\n"
                                       << calendars << contacts << "cache:\n"
                                       << calendarCache << contactCache;
}

}  // namespace brontel::server::testing
