#include "demo_desktop.h"

#include <cstdio>
#include <utility>

#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/platform/format.h"
#include "commands.h"

namespace brontel::tool {

namespace {

// One run of an entry point as "desktop ERR_NONE", with the conflict count and
// the error text when there are any.
std::string Outcome(const char* what, br_error result, const ApiObject& api) {
  std::string text = std::string(what) + " " + ResultName(result);
  const int32_t conflicts = api.SyncConflicts();
  if (conflicts > 0) text += Format(" (%d conflict%s)", conflicts, conflicts == 1 ? "" : "s");
  if (result != ERR_NONE && !api.GetErrorMessage().empty()) {
    text += " \"" + api.GetErrorMessage() + "\"";
  }
  return text;
}

// The notices of the last run as indented lines; they are then marked handled,
// as a desktop program does once the user has seen them.
std::string TakeNotices(const ApiObject& api) {
  UserNoticeManager& notices = api.GetUserNoticeManager();
  const std::string text = DescribeNotices(notices, "    ");
  for (int32_t i = 0; i < notices.GetListCount(); ++i) notices[i].MarkHandled();
  notices.RemoveHandledNotifications();
  return text;
}

}  // namespace

void RecordStore::Save(CalendarManager manager) {
  // Copies of the lists: removing a record changes the manager's own.
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

void RecordStore::Save(CategoryManager manager) {
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

Desktop::Desktop(std::string label, const std::string& user, const std::string& directory,
                 uint32_t firstId)
    : m_label(std::move(label)),
      m_user(user),
      m_calendarApi(BrontelAPI::CreateCalendarApi(directory, "demo")),
      m_contactApi(BrontelAPI::CreateCategoryApi(directory, user)),
      m_store(firstId) {}

bool Desktop::RequestAccountId(const std::string& password) {
  if (!m_calendarApi.RequestGIDFromServer(m_user, password)) {
    std::printf("  %s gets no account id for %s: %s\n", m_label.c_str(), m_user.c_str(),
                m_calendarApi.GetErrorMessage().c_str());
    return false;
  }
  std::printf("  %s gets the account id of %s: %s\n", m_label.c_str(), m_user.c_str(),
              m_calendarApi.GetGID().GetString().c_str());
  // The contact side finds the id in its cache and asks no more.
  if (m_contactApi.RequestGIDFromServer(m_user, password) &&
      m_contactApi.GetGID() == m_calendarApi.GetGID()) {
    return true;
  }
  std::printf("  but its contact side holds %s\n", m_contactApi.GetGID().GetString().c_str());
  return false;
}

void Desktop::SaveEdits() {
  m_store.Save(calendars());
  m_store.Save(contacts());
}

bool Desktop::SyncCalendars() {
  const br_error first = m_calendarApi.SyncDesktop();
  std::string line = Outcome("desktop", first, m_calendarApi);
  m_store.Save(calendars());
  const br_error server = m_calendarApi.SyncServer(nullptr);
  line += ", " + Outcome("server", server, m_calendarApi);
  const br_error last = m_calendarApi.SyncDesktop();
  line += ", " + Outcome("desktop", last, m_calendarApi);
  m_store.Save(calendars());
  std::printf("  %s calendars: %s\n", m_label.c_str(), line.c_str());
  return first == ERR_NONE && server == ERR_NONE && last == ERR_NONE;
}

bool Desktop::SyncContacts() {
  // Notices come from the server run (read-only categories) and the desktop
  // runs (renamed categories).
  const br_error first = m_contactApi.SyncDesktop();
  std::string line = Outcome("desktop", first, m_contactApi);
  std::string notices = TakeNotices(m_contactApi);
  m_store.Save(contacts());
  const br_error server = m_contactApi.SyncServer(nullptr);
  line += ", " + Outcome("server", server, m_contactApi);
  notices += TakeNotices(m_contactApi);
  const br_error last = m_contactApi.SyncDesktop();
  line += ", " + Outcome("desktop", last, m_contactApi);
  notices += TakeNotices(m_contactApi);
  m_store.Save(contacts());
  std::printf("  %s contacts: %s\n%s", m_label.c_str(), line.c_str(), notices.c_str());
  return first == ERR_NONE && server == ERR_NONE && last == ERR_NONE;
}

bool Desktop::SyncContactsWithCache() {
  const br_error result = m_contactApi.SyncDesktop();
  std::printf("  %s contacts: %s\n%s", m_label.c_str(),
              Outcome("desktop", result, m_contactApi).c_str(), TakeNotices(m_contactApi).c_str());
  m_store.Save(contacts());
  return result == ERR_NONE;
}

bool Desktop::SyncContactsWithServer() {
  const br_error result = m_contactApi.SyncServer(nullptr);
  std::printf("  %s contacts: %s\n%s", m_label.c_str(),
              Outcome("server", result, m_contactApi).c_str(), TakeNotices(m_contactApi).c_str());
  return result == ERR_NONE;
}

bool Desktop::Sync() {
  const bool calendarsOk = SyncCalendars();
  const bool contactsOk = SyncContacts();
  return calendarsOk && contactsOk;
}

Handheld::Handheld(std::string label, const std::string& user, const std::string& directory,
                   uint32_t firstId)
    : m_label(std::move(label)),
      m_calendarApi(BrontelAPI::CreateCalendarApi(directory, "demo")),
      m_contactApi(BrontelAPI::CreateCategoryApi(directory, user)),
      m_store(firstId) {}

bool Handheld::Sync() {
  const br_error calendarResult =
      m_firstTime ? m_calendarApi.SyncHandheldFirstTime() : m_calendarApi.SyncHandheld();
  std::printf(
      "  %s calendars: %s\n", m_label.c_str(),
      Outcome(m_firstTime ? "first-time handheld" : "handheld", calendarResult, m_calendarApi)
          .c_str());
  m_firstTime = false;
  m_store.Save(calendars());
  const br_error contactResult = m_contactApi.SyncHandheld();
  std::printf("  %s contacts: %s\n%s", m_label.c_str(),
              Outcome("handheld", contactResult, m_contactApi).c_str(),
              TakeNotices(m_contactApi).c_str());
  m_store.Save(contacts());
  return calendarResult == ERR_NONE && contactResult == ERR_NONE;
}

}  // namespace brontel::tool
