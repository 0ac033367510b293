// brontel demo: a desktop and a handheld kept in step through one cache
// directory, step by step: first syncs, edits on both sides, deletions, a
// repeating event with an exception, and one conflict and its resolution.
#include <stdlib.h>

#include <cstdio>
#include <filesystem>

#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_lists.h"
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

uint16_t Time(int hours, int minutes) { return static_cast<uint16_t>(hours * 256 + minutes); }

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

void Step(int& n, const std::string& what) { std::printf("\n== Step %d: %s\n", ++n, what.c_str()); }

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
  std::printf("\nThe cache and shadow files are in %s; look at them with\n"
              "  brontel show %s/%s\n",
              dir.c_str(), dir.c_str(), CalendarApi::kCacheFile);
  return ok ? 0 : 1;
}

}  // namespace brontel::tool
