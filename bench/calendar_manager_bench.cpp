// Benchmarks of the whole-manager operations the synchronization runs on every
// pass: Clone, Verify of two copies, and ResolveIdentity of a copy against the
// cache. Managers hold N events in 20 calendars, each event in one or two
// calendars, every record with a fixed id. The engines look records up by id,
// so each operation should cost about N: the 100 000 figure about ten times
// the 10 000 one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"

namespace {

using namespace brontel;

constexpr int32_t kCalendars = 20;

CalendarManager Build(int32_t events) {
  CalendarManager m = CalendarManager::CreateEmpty();
  for (int32_t c = 0; c < kCalendars; ++c) {
    Calendar calendar = m.CreateNewCalendar();
    calendar.GetCalendarDescriptor().SetCalendarName("calendar " + std::to_string(c));
    calendar.GetCalendarDescriptor().SetSharedFlag(c % 2 == 0);
  }
  CalendarList& calendars = m.GetCalendarList();
  for (int32_t i = 0; i < events; ++i) {
    Event e = m.CreateNewEvent(0, 0);
    EventDescriptor d = e.GetEventDescriptor();
    d.SetName("event " + std::to_string(i));
    d.SetYearMonthDate(static_cast<uint16_t>((100 << 9) | (1 + i % 12) << 5 | (1 + i % 28)));
    d.SetStartTime(static_cast<uint16_t>((8 + i % 10) << 8));
    d.SetEndTime(static_cast<uint16_t>((9 + i % 10) << 8));
    e.AddToCalendar(calendars[i % kCalendars]);
    if (i % 2 == 0) e.AddToCalendar(calendars[(i + 7) % kCalendars]);
  }
  CalendarCache cache;
  m.ForceFixedIds(cache);
  EventList& all = m.GetEventList();
  for (int32_t i = 0; i < all.GetListCount(); ++i) {
    CalendarEventList& links = all[i].GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) links[j].SetCacheId(cache.GenerateCacheId());
  }
  return m;
}

// One source manager per size, built once.
const CalendarManager& Source(int32_t events) {
  static std::map<int32_t, CalendarManager> built;
  auto it = built.find(events);
  if (it == built.end()) it = built.emplace(events, Build(events)).first;
  return it->second;
}

void ClearCacheIds(CalendarManager& m) {
  CalendarList& calendars = m.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) calendars[i].SetCacheId(0);
  EventList& events = m.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    events[i].SetCacheId(0);
    CalendarEventList& links = events[i].GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) links[j].SetCacheId(0);
  }
}

void SetCounters(benchmark::State& state) {
  state.SetComplexityN(state.range(0));
  state.counters["events"] = static_cast<double>(state.range(0));
}

void BM_Clone(benchmark::State& state) {
  const CalendarManager& source = Source(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    CalendarManager clone = source.Clone();
    benchmark::DoNotOptimize(clone.GetEventList().GetListCount());
    state.PauseTiming();
    clone = CalendarManager();
    state.ResumeTiming();
  }
  SetCounters(state);
}

// Clone, then Verify the clone against a second clone made off the clock.
void BM_CloneVerify(benchmark::State& state) {
  const CalendarManager& source = Source(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    CalendarManager other = source.Clone();
    state.ResumeTiming();
    CalendarManager clone = source.Clone();
    bool same = clone.Verify(other);
    if (!same) state.SkipWithError("Verify of two clones failed");
    benchmark::DoNotOptimize(same);
    state.PauseTiming();
    clone = CalendarManager();
    other = CalendarManager();
    state.ResumeTiming();
  }
  SetCounters(state);
}

// Verify alone, both clones made off the clock.
void BM_Verify(benchmark::State& state) {
  const CalendarManager& source = Source(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    CalendarManager a = source.Clone();
    CalendarManager b = source.Clone();
    state.ResumeTiming();
    bool same = a.Verify(b);
    if (!same) state.SkipWithError("Verify of two clones failed");
    benchmark::DoNotOptimize(same);
    state.PauseTiming();
    a = CalendarManager();
    b = CalendarManager();
    state.ResumeTiming();
  }
  SetCounters(state);
}

// A clone whose cache ids were cleared takes them back from the original.
void BM_ResolveIdentity(benchmark::State& state) {
  const CalendarManager& source = Source(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    state.PauseTiming();
    CalendarManager copy = source.Clone();
    ClearCacheIds(copy);
    state.ResumeTiming();
    copy.ResolveIdentity(source);
    benchmark::DoNotOptimize(copy.GetEventList()[0].GetCacheId());
    state.PauseTiming();
    copy = CalendarManager();
    state.ResumeTiming();
  }
  SetCounters(state);
}

BENCHMARK(BM_Clone)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_CloneVerify)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Verify)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ResolveIdentity)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace
