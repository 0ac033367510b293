// The programs of the demo's story. A Desktop is one desktop program of one
// user: its calendars and address book stay in memory between
// synchronizations, as a desktop program keeps its API objects, and each run
// goes desktop to cache, cache to server, cache to desktop. A Handheld
// synchronizes its own copies with one desktop's cache directory. Both give
// new records their own record ids after a sync and print one line per run.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/contacts/category_manager.h"

namespace brontel::tool {

// What a desktop program or a handheld conduit does with the records a sync
// hands back: deleted ones go, new ones get the store's own record ids, and
// everything is clean again.
class RecordStore {
 public:
  explicit RecordStore(uint32_t firstId) : m_nextId(firstId) {}

  void Save(CalendarManager manager);
  void Save(CategoryManager manager);

 private:
  uint32_t m_nextId;
};

class Desktop {
 public:
  // label names the desktop in the output; user is the account's user, whose
  // caches live in directory; the desktop's store numbers new records from
  // firstId.
  Desktop(std::string label, const std::string& user, const std::string& directory,
          uint32_t firstId);

  const std::string& label() const { return m_label; }
  const std::string& directory() const { return m_calendarApi.GetDirectory(); }
  CalendarManager calendars() const { return m_calendarApi.GetCalendarManager(); }
  CategoryManager contacts() const { return m_contactApi.GetCategoryManager(); }

  // Asks the server for the account id of the user through the calendar side
  // (the contact side then finds it in its cache); prints the outcome.
  bool RequestAccountId(const std::string& password);

  // Gives the records the user just made their record ids.
  void SaveEdits();

  // Desktop sync, server sync, desktop sync of one family, or of both; one
  // line per family, then the notices of the contact runs.
  bool SyncCalendars();
  bool SyncContacts();
  bool Sync();

  // One contact run, on a line of its own with its notices.
  bool SyncContactsWithCache();
  bool SyncContactsWithServer();

 private:
  std::string m_label;
  std::string m_user;
  CalendarApi m_calendarApi;
  CategoryApi m_contactApi;
  RecordStore m_store;
};

class Handheld {
 public:
  // A handheld of user that synchronizes with the cache in directory.
  Handheld(std::string label, const std::string& user, const std::string& directory,
           uint32_t firstId);

  const std::string& label() const { return m_label; }
  CalendarManager calendars() const { return m_calendarApi.GetCalendarManager(); }
  CategoryManager contacts() const { return m_contactApi.GetCategoryManager(); }

  // The calendars' first sync takes everything from the cache; later ones
  // merge.
  bool Sync();

 private:
  std::string m_label;
  CalendarApi m_calendarApi;
  CategoryApi m_contactApi;
  RecordStore m_store;
  bool m_firstTime = true;
};

}  // namespace brontel::tool
