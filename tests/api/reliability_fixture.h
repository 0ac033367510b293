// Helpers shared by the reliability tests (injected I/O failures, killed
// processes, concurrent processes): the two API families behind one set of
// names, the records of a manager as a list of names, and what a stored file
// of the cache directory holds when read back.
//
// A family is CalendarFamily or ContactFamily; each names its files, opens its
// API object, adds, renames and removes records by name and lists them. A
// stored file reads back "whole" when the library's own reader takes all of it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
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
#include "brontel/platform/archive.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"
#include "support/temp_dir.h"

namespace brontel::testing {

// The live records of a manager by name, sorted; a record held twice shows
// twice. Groups (calendars, categories) read "group Work", items (events,
// contacts) "item Dinner in Home,Work".
using RecordNames = std::vector<std::string>;

inline std::string Join(const std::vector<std::string>& parts, const char* separator = ", ") {
  std::string text;
  for (const std::string& part : parts) text += (text.empty() ? "" : separator) + part;
  return text;
}

struct CalendarFamily {
  using Api = CalendarApi;
  using Manager = CalendarManager;
  using Cache = CalendarCache;
  static constexpr const char* kName = "CalendarApi";
  static constexpr const char* kCacheFile = CalendarApi::kCacheFile;
  static constexpr const char* kHandheldShadowFile = CalendarApi::kHandheldShadowFile;
  static constexpr const char* kServerShadowFile = CalendarApi::kServerShadowFile;

  static Api Open(const std::string& directory) {
    return BrontelAPI::CreateCalendarApi(directory, "reliability 1.0");
  }
  static Manager Records(const Api& api) { return api.GetCalendarManager(); }
  static Manager ManagerOf(const Cache& cache) { return cache.GetCalendarManager(); }

  static void AddGroup(Manager manager, const std::string& name, bool published = false) {
    AddCalendar(manager, name, published ? CalendarKind::Published() : CalendarKind::Local());
  }
  // Adds an event named name, placed in the calendar named group.
  static void AddItem(Manager manager, const std::string& name, const std::string& group) {
    Calendar calendar = FindGroup(manager, group);
    if (calendar.IsNull()) {
      AddEvent(manager, name);
    } else {
      AddEvent(manager, name, {calendar});
    }
  }
  static bool RenameItem(Manager manager, const std::string& from, const std::string& to) {
    Event event = FindItem(manager, from);
    if (event.IsNull()) return false;
    event.GetEventDescriptor().SetName(to);
    return true;
  }
  static bool RemoveItem(Manager manager, const std::string& name) {
    Event event = FindItem(manager, name);
    return !event.IsNull() && event.Remove(true);
  }

  static Calendar FindGroup(const Manager& manager, const std::string& name) {
    const CalendarList& calendars = manager.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (!calendars[i].IsDeleted() &&
          calendars[i].GetCalendarDescriptor().GetCalendarName() == name) {
        return calendars[i];
      }
    }
    return Calendar();
  }
  static Event FindItem(const Manager& manager, const std::string& name) {
    const EventList& events = manager.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (!events[i].IsDeleted() && events[i].GetEventDescriptor().GetName() == name) {
        return events[i];
      }
    }
    return Event();
  }

  static RecordNames Names(const Manager& manager) {
    RecordNames names;
    const CalendarList& calendars = manager.GetCalendarList();
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
      if (!calendars[i].IsDeleted()) {
        names.push_back("group " + calendars[i].GetCalendarDescriptor().GetCalendarName());
      }
    }
    const EventList& events = manager.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (events[i].IsDeleted()) continue;
      std::vector<std::string> placed = CalendarNamesOf(events[i]);
      std::sort(placed.begin(), placed.end());
      names.push_back("item " + events[i].GetEventDescriptor().GetName() + " in " +
                      Join(placed, ","));
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

struct ContactFamily {
  using Api = CategoryApi;
  using Manager = CategoryManager;
  using Cache = CategoryCache;
  static constexpr const char* kName = "CategoryApi";
  static constexpr const char* kCacheFile = CategoryApi::kCacheFile;
  static constexpr const char* kHandheldShadowFile = CategoryApi::kHandheldShadowFile;
  static constexpr const char* kServerShadowFile = CategoryApi::kServerShadowFile;

  static Api Open(const std::string& directory) {
    return BrontelAPI::CreateCategoryApi(directory, "ann");
  }
  static Manager Records(const Api& api) { return api.GetCategoryManager(); }
  static Manager ManagerOf(const Cache& cache) { return cache.GetCategoryManager(); }

  static void AddGroup(Manager manager, const std::string& name, bool published = false) {
    AddCategory(manager, name, published ? CategoryKind::Published() : CategoryKind::Local());
  }
  // Adds a contact with last name name, filed in the category named group
  // (unfiled when there is none).
  static void AddItem(Manager manager, const std::string& name, const std::string& group) {
    AddContact(manager, FindGroup(manager, group), name);
  }
  static bool RenameItem(Manager manager, const std::string& from, const std::string& to) {
    Contact contact = FindItem(manager, from);
    if (contact.IsNull()) return false;
    contact.GetContactDescriptor().SetDatum(ContactDescriptor::kLastName, to);
    return true;
  }
  static bool RemoveItem(Manager manager, const std::string& name) {
    Contact contact = FindItem(manager, name);
    return !contact.IsNull() && contact.Remove();
  }

  static Category FindGroup(const Manager& manager, const std::string& name) {
    const CategoryList& categories = manager.GetCategoryList();
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      if (!categories[i].IsDeleted() && !categories[i].IsUnfiled() &&
          categories[i].GetCategoryDescriptor().GetCategoryName() == name) {
        return categories[i];
      }
    }
    return Category();
  }
  static Contact FindItem(const Manager& manager, const std::string& name) {
    const ContactList& contacts = manager.GetContactList();
    for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
      if (!contacts[i].IsDeleted() &&
          contacts[i].GetContactDescriptor().GetDatum(ContactDescriptor::kLastName) == name) {
        return contacts[i];
      }
    }
    return Contact();
  }

  static RecordNames Names(const Manager& manager) {
    RecordNames names;
    const CategoryList& categories = manager.GetCategoryList();
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      if (categories[i].IsDeleted() || categories[i].IsUnfiled()) continue;
      names.push_back("group " + categories[i].GetCategoryDescriptor().GetCategoryName());
    }
    const ContactList& contacts = manager.GetContactList();
    for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
      if (contacts[i].IsDeleted()) continue;
      Category category = contacts[i].GetCategory();
      std::string filed = category.IsNull() || category.IsUnfiled()
                              ? std::string("unfiled")
                              : category.GetCategoryDescriptor().GetCategoryName();
      names.push_back("item " +
                      contacts[i].GetContactDescriptor().GetDatum(ContactDescriptor::kLastName) +
                      " in " + filed);
    }
    std::sort(names.begin(), names.end());
    return names;
  }
};

// What a stored manager or cache holds, read back from bytes: its records by
// name with the account id (and the cache's sequence when withSequence), or
// "<damaged ...>" when the library's reader does not take all of the bytes.
template <class Family>
std::string StoredContent(const std::string& bytes, bool isCache, bool withSequence = false) {
  if (bytes == "<missing>") return bytes;
  InitBrontelDLL();
  try {
    Archive ar(bytes);
    typename Family::Manager manager;
    std::string head;
    if (isCache) {
      typename Family::Cache cache;
      cache.Serialize(ar);
      manager = Family::ManagerOf(cache);
      if (withSequence) head = "sequence " + std::to_string(cache.GetSequence()) + "; ";
    } else {
      manager.Serialize(ar);
    }
    if (ar.Position() != bytes.size()) return "<damaged: bytes after the end>";
    if (manager.IsNull()) return "<damaged: no manager>";
    return head + "gid " + manager.GetGID().GetString() + ": " + Join(Family::Names(manager));
  } catch (const ArchiveError& e) {
    return std::string("<damaged: ") + e.what() + ">";
  }
}

// The records a stored file of family holds, or an empty list when it is
// missing or damaged (StoredContent tells which).
template <class Family>
RecordNames StoredNames(const std::string& path, bool isCache) {
  const std::string bytes = ReadFileOrMissing(path);
  if (bytes == "<missing>") return {};
  InitBrontelDLL();
  try {
    Archive ar(bytes);
    typename Family::Manager manager;
    if (isCache) {
      typename Family::Cache cache;
      cache.Serialize(ar);
      manager = Family::ManagerOf(cache);
    } else {
      manager.Serialize(ar);
    }
    return manager.IsNull() ? RecordNames{} : Family::Names(manager);
  } catch (const ArchiveError&) {
    return {};
  }
}

// "gid <id>" for the account id that the cache of Family in directory holds
// (the empty id when it has none), or what StoredContent says of a missing or
// damaged file.
template <class Family>
std::string CacheAccount(const std::string& directory) {
  const std::string content =
      StoredContent<Family>(ReadFileOrMissing(directory + "/" + Family::kCacheFile), true);
  return content.substr(0, content.find(':'));
}

inline bool IsBackupName(const std::string& name) {
  return name.size() > 4 && name.compare(name.size() - 4, 4, ".bak") == 0;
}

// What the stored file name holds (StoredContent), for any cache, shadow or
// backup file of either family; "" for other files.
inline std::string StoredContentOf(const std::string& name, const std::string& bytes) {
  if (IsBackupName(name)) {
    // The two families' backups share one series of names.
    return bytes.find("CalendarCacheHolder") != std::string::npos
               ? StoredContent<CalendarFamily>(bytes, true)
               : StoredContent<ContactFamily>(bytes, true);
  }
  if (name == CalendarFamily::kCacheFile) return StoredContent<CalendarFamily>(bytes, true);
  if (name == ContactFamily::kCacheFile) return StoredContent<ContactFamily>(bytes, true);
  if (name == CalendarFamily::kHandheldShadowFile || name == CalendarFamily::kServerShadowFile) {
    return StoredContent<CalendarFamily>(bytes, false);
  }
  if (name == ContactFamily::kHandheldShadowFile || name == ContactFamily::kServerShadowFile) {
    return StoredContent<ContactFamily>(bytes, false);
  }
  return "";
}

// Every stored file of a directory that does not read back whole, with what
// is wrong; leftover temporary files count too. Empty when all is well.
inline std::vector<std::string> DamagedFiles(const std::string& directory) {
  std::vector<std::string> damaged;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    const std::string name = entry.path().filename().string();
    if (name.find(".tmp") != std::string::npos) {
      damaged.push_back(name + " <temporary file left behind>");
      continue;
    }
    const std::string content = StoredContentOf(name, ReadFileOrMissing(entry.path().string()));
    if (content.rfind("<damaged", 0) == 0) damaged.push_back(name + " " + content);
  }
  std::sort(damaged.begin(), damaged.end());
  return damaged;
}

}  // namespace brontel::testing
