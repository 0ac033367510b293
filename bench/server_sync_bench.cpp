// Benchmarks of SyncServer of both API objects against the reference server
// (brontel-server, started on a free loopback port with a fresh database):
// the first synchronization of a generated desktop into an empty account, and
// a synchronization with no change on either side. Calendars at 1 000, 10 000
// and 100 000 events in 20 calendars; contacts at 1 000, 5 000, 10 000 and
// 50 000 in 15 categories. Only the desktop's own calendars and categories
// reach an account, so the generated copies hold no subscribed ones here.
// A first synchronization sends every record in one request; the reference
// server takes requests up to 64 MiB (some 190 000 records), so every size
// here is filled in one step (kServerFillStep).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#include "bench_support.h"
#include "brontel/api/brontel_api.h"
#include "data_generator.h"

namespace {

using namespace brontel;
using namespace brontel::bench;

ReferenceServer* Server(std::string* error) {
  static std::unique_ptr<ReferenceServer> server;
  static std::string failure;
  if (server == nullptr && failure.empty()) {
    server = std::make_unique<ReferenceServer>();
    if (!server->Start(&failure)) server.reset();
  }
  *error = failure;
  return server.get();
}

struct CalendarSide {
  using Api = CalendarApi;
  static constexpr const char* kLabel = "calendar";
  static Api Create(const std::string& dir) { return BrontelAPI::CreateCalendarApi(dir, "bench"); }
  static void Fill(const Api& api, int32_t size, RecordStore& store) {
    FillCalendars(api.GetCalendarManager(), CalendarShape{size, 20, 11, false}, store);
  }
  static void Add(const Api& api, int32_t count, Random& random, RecordStore& store) {
    AddEvents(api.GetCalendarManager(), count, random, store);
  }
  static void Save(const Api& api, RecordStore& store) { store.Save(api.GetCalendarManager()); }
};

struct ContactSide {
  using Api = CategoryApi;
  static constexpr const char* kLabel = "contact";
  static Api Create(const std::string& dir) { return BrontelAPI::CreateCategoryApi(dir, "bench"); }
  static void Fill(const Api& api, int32_t size, RecordStore& store) {
    FillContacts(api.GetCategoryManager(), ContactShape{size, 15, 11, false}, store);
  }
  static void Add(const Api& api, int32_t count, Random& random, RecordStore& store) {
    AddContacts(api.GetCategoryManager(), count, random, store);
  }
  static void Save(const Api& api, RecordStore& store) { store.Save(api.GetCategoryManager()); }
};

// A desktop of a new account: its generated copy synchronized with its cache,
// not yet with the server.
template <class Side>
struct Desktop {
  Desktop(int32_t size, const std::string& user)
      : dir(std::string("server-") + Side::kLabel), store(CopyKind::kDesktop) {
    api = Side::Create(dir.path());
    if (!api.RequestGIDFromServer(user, "secret of " + user)) {
      error = "no account id: " + api.GetErrorMessage();
      return;
    }
    Side::Fill(api, size, store);
    if (api.SyncDesktop() != ERR_NONE) error = "desktop sync: " + api.GetErrorMessage();
    Side::Save(api, store);
  }

  // Server, then desktop again, as a desktop program does.
  bool Settle() {
    if (api.SyncServer(nullptr) != ERR_NONE || api.SyncDesktop() != ERR_NONE) {
      error = api.GetErrorMessage();
      return false;
    }
    Side::Save(api, store);
    return true;
  }

  ScratchDir dir;
  RecordStore store;
  typename Side::Api api;
  std::string error;
};

std::string NewUser(const char* label, int64_t size) {
  static int serial = 0;
  return std::string(label) + "-" + std::to_string(size) + "-" + std::to_string(++serial);
}

template <class Side>
void BM_FirstSync(benchmark::State& state) {
  std::string error;
  if (Server(&error) == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int32_t size = static_cast<int32_t>(state.range(0));
  for (auto _ : state) {
    state.PauseTiming();
    auto desktop = std::make_unique<Desktop<Side>>(size, NewUser(Side::kLabel, size));
    if (!desktop->error.empty()) {
      state.SkipWithError(desktop->error.c_str());
      break;
    }
    state.ResumeTiming();
    const br_error result = desktop->api.SyncServer(nullptr);
    state.PauseTiming();
    if (result != ERR_NONE) {
      state.SkipWithError(desktop->api.GetErrorMessage().c_str());
      break;
    }
    desktop.reset();
    state.ResumeTiming();
  }
  state.counters["records"] = static_cast<double>(size);
}

template <class Side>
void BM_NoChangeSync(benchmark::State& state) {
  std::string error;
  if (Server(&error) == nullptr) {
    state.SkipWithError(error.c_str());
    return;
  }
  const int32_t size = static_cast<int32_t>(state.range(0));
  static std::map<int32_t, std::unique_ptr<Desktop<Side>>> made;
  std::unique_ptr<Desktop<Side>>& desktop = made[size];
  if (desktop == nullptr) {
    // The account grows in steps the server accepts.
    const int32_t first = std::min(size, kServerFillStep);
    desktop = std::make_unique<Desktop<Side>>(first, NewUser(Side::kLabel, size));
    Random random(static_cast<uint64_t>(size));
    for (int32_t filled = first; desktop->error.empty() && desktop->Settle() && filled < size;
         filled += kServerFillStep) {
      Side::Add(desktop->api, std::min(kServerFillStep, size - filled), random, desktop->store);
      if (desktop->api.SyncDesktop() != ERR_NONE) desktop->error = desktop->api.GetErrorMessage();
      Side::Save(desktop->api, desktop->store);
    }
  }
  if (!desktop->error.empty()) {
    state.SkipWithError(desktop->error.c_str());
    return;
  }
  for (auto _ : state) {
    if (desktop->api.SyncServer(nullptr) != ERR_NONE) {
      state.SkipWithError(desktop->api.GetErrorMessage().c_str());
      break;
    }
  }
  state.counters["records"] = static_cast<double>(size);
}

// The largest sizes only with BRONTEL_BENCH_SERVER_FULL set: each takes a
// desktop of 100 000 events (50 000 contacts) to generate and fill, some tens
// of seconds, and the first synchronizations make two such accounts each.
bool FullSizes() {
  return EnvironmentFlag("BRONTEL_BENCH_SERVER_FULL");
}

void CalendarSizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);
  if (FullSizes()) b->Arg(100000);
}
void ContactSizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
  if (FullSizes()) b->Arg(50000);
}

// A first synchronization makes a new account each time: a few runs suffice.
BENCHMARK(BM_FirstSync<CalendarSide>)
    ->Name("CalendarServerFirstSync")
    ->Apply(CalendarSizes)
    ->Iterations(2);
BENCHMARK(BM_NoChangeSync<CalendarSide>)->Name("CalendarServerNoChange")->Apply(CalendarSizes);
BENCHMARK(BM_FirstSync<ContactSide>)
    ->Name("ContactServerFirstSync")
    ->Apply(ContactSizes)
    ->Iterations(2);
BENCHMARK(BM_NoChangeSync<ContactSide>)->Name("ContactServerNoChange")->Apply(ContactSizes);

}  // namespace
