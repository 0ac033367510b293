// generate_data: the benchmarks' data generator as a program.
//
//   generate_data summary [--events N] [--contacts N] [--seed S]
//       prints what a generated desktop copy holds, by kind.
//   generate_data sync-memory --events N --dir DIR [--seed S]
//       generates a desktop copy of N events and synchronizes it with the
//       cache in DIR (SyncDesktop); a second run on the same DIR is a sync
//       without changes. Prints the resident set after generating, the peak
//       resident set of the process and the time of the synchronization, one
//       "name=value" per line, so that a script can measure the memory of a
//       synchronization in a process of its own.
//   generate_data calendar-json --events N --out FILE [--seed S]
//       writes a desktop copy of N events in the JSON layout of
//       `brontel calendar` (tools/brontel/copy_json.h), to time the tool.
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "bench_support.h"
#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "data_generator.h"
#ifdef BRONTEL_BENCH_TOOL_JSON
#include "copy_json.h"
#endif

namespace {

using namespace brontel;
using namespace brontel::bench;

int Usage() {
  std::fprintf(stderr,
               "usage: generate_data summary [--events N] [--contacts N] [--seed S]\n"
               "       generate_data sync-memory --events N --dir DIR [--seed S]\n"
               "       generate_data calendar-json --events N --out FILE [--seed S]\n");
  return 2;
}

// The resident set now, in bytes (from /proc/self/statm).
uint64_t ResidentNow() {
  std::ifstream statm("/proc/self/statm");
  uint64_t pages = 0;
  uint64_t resident = 0;
  statm >> pages >> resident;
  return resident * 4096;
}

int Summary(int32_t events, int32_t contacts, uint64_t seed) {
  CalendarManager calendars = CalendarManager::CreateEmpty();
  RecordStore calendarStore(CopyKind::kDesktop);
  FillCalendars(calendars, CalendarShape{events, 20, seed, true}, calendarStore);
  std::map<std::string, int32_t> counts;
  const CalendarList& list = calendars.GetCalendarList();
  for (int32_t i = 0; i < list.GetListCount(); ++i) {
    CalendarDescriptor d = list[i].GetCalendarDescriptor();
    std::string kind = d.IsDefaultCalendar()    ? "default"
                       : !d.GetSharedFlag()     ? "local"
                       : d.GetOwnedFlag()       ? "published"
                       : d.GetHideDetailsFlag() ? "subscribed hide-details"
                       : d.GetReadOnlyFlag()    ? "subscribed read-only"
                                                : "subscribed read-write";
    ++counts["calendar " + kind];
  }
  const EventList& all = calendars.GetEventList();
  for (int32_t i = 0; i < all.GetListCount(); ++i) {
    const Event& e = all[i];
    EventDescriptor d = e.GetEventDescriptor();
    ++counts["event repeat type " + std::to_string(d.GetRepeatType())];
    ++counts["event in " + std::to_string(e.GetCalendarEventList().GetListCount()) + " calendars"];
    if (d.GetRepeatExceptionCount() > 0) ++counts["event with exception dates"];
    if (e.HasParent()) ++counts["event repeat exception (clone)"];
    if (!d.GetWebContent().IsEmpty()) ++counts["event with web content"];
    if (d.GetIsPrivate()) ++counts["event private"];
  }
  CategoryManager contactCopy = CategoryManager::CreateEmpty();
  RecordStore contactStore(CopyKind::kDesktop);
  FillContacts(contactCopy, ContactShape{contacts, 15, seed, true}, contactStore);
  const CategoryList& categories = contactCopy.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    CategoryDescriptor d = categories[i].GetCategoryDescriptor();
    ++counts[std::string("category ") + (!d.GetSharedFlag()    ? "local"
                                         : d.GetOwnedFlag()    ? "published"
                                         : d.GetReadOnlyFlag() ? "subscribed read-only"
                                                               : "subscribed read-write")];
  }
  counts["contacts"] = contactCopy.GetContactList().GetListCount();
  for (const auto& [what, n] : counts) std::printf("%-36s %d\n", what.c_str(), n);
  return 0;
}

int SyncMemory(int32_t events, const std::string& dir, uint64_t seed) {
  UsePrivateSettings();
  CalendarApi api = BrontelAPI::CreateCalendarApi(dir, "bench");
  CalendarManager copy = api.GetCalendarManager();
  RecordStore store(CopyKind::kDesktop);
  FillCalendars(copy, CalendarShape{events, 20, seed, true}, store);
  const uint64_t generated = ResidentNow();
  const auto start = std::chrono::steady_clock::now();
  const br_error result = api.SyncDesktop();
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (result != ERR_NONE) {
    std::fprintf(stderr, "generate_data: SyncDesktop failed: %s\n", api.GetErrorMessage().c_str());
    return 1;
  }
  std::printf("events=%d\n", events);
  std::printf("rss_after_generation_bytes=%llu\n", static_cast<unsigned long long>(generated));
  std::printf("peak_rss_bytes=%llu\n", static_cast<unsigned long long>(OwnPeakMemory()));
  std::printf("sync_seconds=%.3f\n", seconds);
  std::printf("cache_bytes=%llu\n",
              static_cast<unsigned long long>(FileSize(dir + "/" + CalendarApi::kCacheFile)));
  return 0;
}

int CalendarJson(int32_t events, const std::string& out, uint64_t seed) {
#ifdef BRONTEL_BENCH_TOOL_JSON
  CalendarManager copy = CalendarManager::CreateEmpty();
  RecordStore store(CopyKind::kDesktop);
  FillCalendars(copy, CalendarShape{events, 20, seed, true}, store);
  std::ofstream file(out, std::ios::binary);
  file << tool::SaveCopy(copy);
  return file.good() ? 0 : 1;
#else
  (void)events;
  (void)out;
  (void)seed;
  std::fprintf(stderr, "generate_data: built without the tool's JSON writer\n");
  return 1;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage();
  const std::string command = argv[1];
  int32_t events = 1000;
  int32_t contacts = 1000;
  uint64_t seed = 1;
  std::string dir;
  std::string out;
  for (int i = 2; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    const std::string value = argv[i + 1];
    if (option == "--events") {
      events = std::atoi(value.c_str());
    } else if (option == "--contacts") {
      contacts = std::atoi(value.c_str());
    } else if (option == "--seed") {
      seed = std::strtoull(value.c_str(), nullptr, 10);
    } else if (option == "--dir") {
      dir = value;
    } else if (option == "--out") {
      out = value;
    } else {
      return Usage();
    }
  }
  if (command == "summary") return Summary(events, contacts, seed);
  if (command == "sync-memory" && !dir.empty()) return SyncMemory(events, dir, seed);
  if (command == "calendar-json" && !out.empty()) return CalendarJson(events, out, seed);
  return Usage();
}
