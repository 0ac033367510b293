// A program's synchronizations for tests that run them in child processes:
// a SyncWorker holds a desktop object of each family on a cache directory, as
// the desktop programs would, runs conduit passes with the one handheld of
// each family, and SetGID, one synchronization at a time, each adding a
// record named for the worker.
// Children report each result on a pipe, one line per synchronization, and the
// parent reads the lines back as Reports.
//
// Lines: "ok <family> <what> <record>" for a synchronization that added record and
// returned ERR_NONE (the record is then stored), "fail <family> <what> <code>"
// for one that returned a failure, "gid <family> <accepted>" for SetGID.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "api/reliability_fixture.h"
#include "brontel/platform/format.h"

namespace brontel::testing {

// The number in environment variable name, or fallback when it is not set.
inline uint64_t EnvNumber(const char* name, uint64_t fallback) {
  const char* text = std::getenv(name);
  return text != nullptr && *text != '\0' ? std::strtoull(text, nullptr, 10) : fallback;
}

// The account id every worker sets.
inline UID128 WorkerAccount() {
  UID128 gid;
  for (int i = 0; i < UID128::kByteCount; ++i) gid.SetByte(i, static_cast<uint8_t>(0x50 + i));
  return gid;
}

// The records both families start with: the group Work and the item Base in
// it, synchronized by a desktop.
inline void SeedDirectory(const std::string& directory) {
  CalendarApi calendars = CalendarFamily::Open(directory);
  CalendarFamily::AddGroup(calendars.GetCalendarManager(), "Work");
  CalendarFamily::AddItem(calendars.GetCalendarManager(), "Base", "Work");
  calendars.SyncDesktop();
  CategoryApi contacts = ContactFamily::Open(directory);
  ContactFamily::AddGroup(contacts.GetCategoryManager(), "Work");
  ContactFamily::AddItem(contacts.GetCategoryManager(), "Base", "Work");
  contacts.SyncDesktop();
}

// The handheld device of a family: one at a time may use it (an exclusive
// lock on a file of the test's own, held for the object's life).
class DeviceLock {
 public:
  explicit DeviceLock(const std::string& path)
      : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
    if (m_fd >= 0) ::flock(m_fd, LOCK_EX);
  }
  ~DeviceLock() {
    if (m_fd >= 0) ::close(m_fd);
  }
  DeviceLock(const DeviceLock&) = delete;
  DeviceLock& operator=(const DeviceLock&) = delete;

 private:
  int m_fd;
};

// The desktops are long-lived objects, as the desktop programs keep theirs;
// the handheld is one device, which each conduit run loads anew.
class SyncWorker {
 public:
  enum Kind {
    kCalendarDesktop,
    kCalendarHandheld,
    kContactDesktop,
    kContactHandheld,
    kCalendarSetGid,
    kContactSetGid,
    kKindCount
  };

  // tag names the worker's records ("<tag>-<n>"); fd is the pipe to report on.
  SyncWorker(std::string directory, std::string tag, int fd)
      : m_directory(std::move(directory)), m_tag(std::move(tag)), m_fd(fd) {}

  // Runs one synchronization of kind and reports it.
  void Step(int kind) {
    const std::string record = Format("%s-%d", m_tag.c_str(), m_next++);
    switch (kind) {
      case kCalendarDesktop: {
        if (!m_calendarDesktop) m_calendarDesktop = Load<CalendarFamily>(false);
        CalendarFamily::AddItem(m_calendarDesktop->GetCalendarManager(), record, "Work");
        Report("cal", record, "desktop", m_calendarDesktop->SyncDesktop());
        break;
      }
      case kCalendarHandheld: {
        // One handheld: a conduit run takes it whole, from its records as the
        // last run left them to the end of its synchronization.
        DeviceLock device(m_directory + "/handheld-calendars.device");
        std::optional<CalendarApi> handheld = Load<CalendarFamily>(true);
        CalendarFamily::AddItem(handheld->GetCalendarManager(), record, "Work");
        Report("cal", record, "handheld", handheld->SyncHandheld());
        break;
      }
      case kContactDesktop: {
        if (!m_contactDesktop) m_contactDesktop = Load<ContactFamily>(false);
        ContactFamily::AddItem(m_contactDesktop->GetCategoryManager(), record, "Work");
        Report("con", record, "desktop", m_contactDesktop->SyncDesktop());
        break;
      }
      case kContactHandheld: {
        DeviceLock device(m_directory + "/handheld-contacts.device");
        std::optional<CategoryApi> handheld = Load<ContactFamily>(true);
        ContactFamily::AddItem(handheld->GetCategoryManager(), record, "Work");
        Report("con", record, "handheld", handheld->SyncHandheld());
        break;
      }
      case kCalendarSetGid:
        Line(Format("gid cal %d\n", CalendarFamily::Open(m_directory).SetGID(WorkerAccount())));
        break;
      case kContactSetGid:
        Line(Format("gid con %d\n", ContactFamily::Open(m_directory).SetGID(WorkerAccount())));
        break;
    }
  }

 private:
  // A new object that holds what its side holds: a desktop takes the cache's
  // records; the calendar handheld its shadow, the contact handheld (never
  // synchronized) the cache's records.
  template <class Family>
  std::optional<typename Family::Api> Load(bool handheld) {
    typename Family::Api api = Family::Open(m_directory);
    br_error result;
    if (!handheld) {
      result = api.SyncDesktop();
    } else if constexpr (std::is_same_v<Family, CalendarFamily>) {
      result = api.SyncHandheldPreloadForFastSync();
      if (result == ERR_NONE) result = api.SyncHandheld();
    } else {
      result = api.SyncHandheld();
    }
    if (result != ERR_NONE) {
      Line(Format("fail %s load %d\n", std::is_same_v<Family, CalendarFamily> ? "cal" : "con",
                  static_cast<int>(result)));
    }
    return api;
  }

  void Report(const char* family, const std::string& record, const char* what, br_error result) {
    if (result == ERR_NONE) {
      Line(Format("ok %s %s %s\n", family, what, record.c_str()));
    } else {
      Line(Format("fail %s %s %d\n", family, what, static_cast<int>(result)));
    }
  }
  void Line(const std::string& line) {
    // One write per line: a line shorter than PIPE_BUF arrives whole or not at all.
    [[maybe_unused]] ssize_t written = ::write(m_fd, line.data(), line.size());
  }

  std::string m_directory;
  std::string m_tag;
  int m_fd;
  int m_next = 0;
  std::optional<CalendarApi> m_calendarDesktop;
  std::optional<CategoryApi> m_contactDesktop;
};

// What children reported, read back from their pipes.
struct Reports {
  std::set<std::string> storedCalendars;  // records confirmed stored
  std::set<std::string> storedContacts;
  std::vector<std::string> failures;  // "fail ..." lines
  int syncs = 0;
  int accepted = 0;                           // SetGID that returned true
  std::vector<std::string> refused;           // "gid ... 0" lines: SetGID that returned false
  std::map<std::string, std::string> stores;  // each record's "ok" line

  // names (a record's name first) with the line that reported each stored.
  std::vector<std::string> Explain(std::vector<std::string> names) const {
    for (std::string& name : names) {
      auto it = stores.find(name.substr(0, name.find(' ')));
      if (it != stores.end()) name += " (" + it->second + ")";
    }
    return names;
  }

  // Reads every whole line from fd until end of file, after text (what was
  // read from fd before).
  void ReadFrom(int fd, std::string text = "") {
    char buffer[4096];
    for (;;) {
      ssize_t n = ::read(fd, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      text.append(buffer, static_cast<size_t>(n));
    }
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
      Add(text.substr(start, end - start));
    }
  }
  void Add(const std::string& line) {
    ++syncs;
    if (line.rfind("ok cal ", 0) == 0) storedCalendars.insert(line.substr(line.rfind(' ') + 1));
    if (line.rfind("ok con ", 0) == 0) storedContacts.insert(line.substr(line.rfind(' ') + 1));
    if (line.rfind("ok ", 0) == 0) stores[line.substr(line.rfind(' ') + 1)] = line;
    if (line.rfind("fail ", 0) == 0) failures.push_back(line);
    if (line.rfind("gid ", 0) == 0 && line.back() == '1') ++accepted;
    if (line.rfind("gid ", 0) == 0 && line.back() == '0') refused.push_back(line);
  }
};

// The item names of names ("item X in Work" gives X).
inline std::set<std::string> ItemNames(const RecordNames& names) {
  std::set<std::string> items;
  for (const std::string& name : names) {
    if (name.rfind("item ", 0) != 0) continue;
    items.insert(name.substr(5, name.rfind(" in ") - 5));
  }
  return items;
}

// The records of wanted that are not in have.
inline std::vector<std::string> Missing(const std::set<std::string>& wanted,
                                        const std::set<std::string>& have) {
  std::vector<std::string> missing;
  for (const std::string& name : wanted) {
    if (!have.count(name)) missing.push_back(name);
  }
  return missing;
}

// A new desktop of family takes the cache's records; the result, and whether
// the desktop then holds exactly what the cache file holds.
template <class Family>
br_error ConvergeDesktop(const std::string& directory, RecordNames* desktop, RecordNames* cached) {
  typename Family::Api api = Family::Open(directory);
  br_error result = api.SyncDesktop();
  *desktop = Family::Names(Family::Records(api));
  *cached = StoredNames<Family>(directory + "/" + Family::kCacheFile, true);
  return result;
}

}  // namespace brontel::testing
