// Benchmarks of the desktop and handheld entry points of both API objects on
// generated data (bench/data_generator.h), with their files on disk: a sync
// with no change and one with 1% of the records changed, 1% deleted and 1%
// added; reading and writing the cache and shadow files; cloning, verifying
// and checking the cache's manager; and the durable-write floor, the cost of
// writing and reading back a file of the cache's size as the library replaces
// its files. Calendars at 1 000, 10 000 and 100 000 events in 20 calendars;
// contacts at 1 000, 5 000, 10 000 and 50 000 in 15 categories. Every path
// should cost about the size of the data: ten times the records, about ten
// times the time.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "bench_support.h"
#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_classes.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/contact_classes.h"
#include "brontel/platform/archive_file.h"
#include "data_generator.h"

namespace {

using namespace brontel;
using namespace brontel::bench;

// What differs between the two families.
struct CalendarFamily {
  using Api = CalendarApi;
  using Cache = CalendarCache;
  using Manager = CalendarManager;
  static constexpr const char* kLabel = "calendar";
  static Api Create(const std::string& dir) { return BrontelAPI::CreateCalendarApi(dir, "bench"); }
  static Manager CopyOf(const Api& api) { return api.GetCalendarManager(); }
  static Manager ManagerOf(const Cache& cache) { return cache.GetCalendarManager(); }
  static void Fill(Manager manager, int32_t size, RecordStore& store) {
    FillCalendars(manager, CalendarShape{size, 20, 7, true}, store);
  }
  static void Change(Manager manager, Random& random, CopyKind kind) {
    ChangeCalendars(manager, 0.01, random, kind);
  }
  // The handheld's first synchronization takes the copy as it is.
  static br_error FirstHandheldSync(Api& api) { return api.SyncHandheldFirstTime(); }
};

struct ContactFamily {
  using Api = CategoryApi;
  using Cache = CategoryCache;
  using Manager = CategoryManager;
  static constexpr const char* kLabel = "contact";
  static Api Create(const std::string& dir) { return BrontelAPI::CreateCategoryApi(dir, "ann"); }
  static Manager CopyOf(const Api& api) { return api.GetCategoryManager(); }
  static Manager ManagerOf(const Cache& cache) { return cache.GetCategoryManager(); }
  static void Fill(Manager manager, int32_t size, RecordStore& store) {
    FillContacts(manager, ContactShape{size, 15, 7, true}, store);
  }
  static void Change(Manager manager, Random& random, CopyKind kind) {
    ChangeContacts(manager, 0.01, random, kind);
  }
  static br_error FirstHandheldSync(Api& api) { return api.SyncHandheld(); }
};

// A desktop program's or a handheld conduit's API object whose copy of size
// records is synchronized with its cache, in a scratch directory.
template <class Family>
struct SyncedCopy {
  SyncedCopy(CopyKind copyKind, int32_t size)
      : dir(std::string(Family::kLabel) +
            (copyKind == CopyKind::kDesktop ? "-desktop" : "-handheld")),
        kind(copyKind),
        store(copyKind),
        random(static_cast<uint64_t>(size)) {
    UsePrivateSettings();
    api = Family::Create(dir.path());
    Family::Fill(Family::CopyOf(api), size, store);
    if (kind == CopyKind::kDesktop) {
      ok = api.SyncDesktop() == ERR_NONE;
      store.Save(Family::CopyOf(api));
      ok = ok && api.SyncDesktop() == ERR_NONE;
    } else {
      ok = Family::FirstHandheldSync(api) == ERR_NONE;
      store.Save(Family::CopyOf(api));
      ok = ok && api.SyncHandheld() == ERR_NONE;
    }
    store.Save(Family::CopyOf(api));
  }

  br_error Sync() { return kind == CopyKind::kDesktop ? api.SyncDesktop() : api.SyncHandheld(); }
  std::string CacheFile() const { return dir.File(Family::Api::kCacheFile); }
  std::string ShadowFile() const { return dir.File(Family::Api::kHandheldShadowFile); }

  ScratchDir dir;
  CopyKind kind;
  RecordStore store;
  Random random;
  typename Family::Api api;
  bool ok = false;
};

// One synced copy per family, kind and size, made on first use.
template <class Family>
SyncedCopy<Family>& Copy(CopyKind kind, int32_t size) {
  static std::map<std::pair<int, int32_t>, std::unique_ptr<SyncedCopy<Family>>> made;
  auto& slot = made[{static_cast<int>(kind), size}];
  if (slot == nullptr) slot = std::make_unique<SyncedCopy<Family>>(kind, size);
  return *slot;
}

void Count(benchmark::State& state) {
  state.SetComplexityN(state.range(0));
  state.counters["records"] = static_cast<double>(state.range(0));
}

template <class Family>
void BM_Sync(benchmark::State& state, CopyKind kind, bool change) {
  SyncedCopy<Family>& copy = Copy<Family>(kind, static_cast<int32_t>(state.range(0)));
  if (!copy.ok) {
    state.SkipWithError("the first synchronization failed");
    return;
  }
  for (auto _ : state) {
    if (change) {
      state.PauseTiming();
      Family::Change(Family::CopyOf(copy.api), copy.random, kind);
      state.ResumeTiming();
    }
    const br_error result = copy.Sync();
    if (result != ERR_NONE) {
      state.SkipWithError(copy.api.GetErrorMessage().c_str());
      break;
    }
    if (change) {
      // The program saves what the synchronization handed back.
      state.PauseTiming();
      copy.store.Save(Family::CopyOf(copy.api));
      state.ResumeTiming();
    }
  }
  Count(state);
  state.counters["cache_bytes"] = static_cast<double>(FileSize(copy.CacheFile()));
}

template <class Family>
void BM_ReadCache(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  InitBrontelDLL();
  for (auto _ : state) {
    typename Family::Cache cache;
    ReadResult read = ReadArchiveFile(copy.CacheFile(), [&](Archive& ar) { cache.Serialize(ar); });
    if (!read.ok()) state.SkipWithError(read.message.c_str());
    benchmark::DoNotOptimize(cache.GetSequence());
  }
  Count(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(FileSize(copy.CacheFile())));
}

template <class Family>
typename Family::Cache ReadCacheOf(const SyncedCopy<Family>& copy) {
  InitBrontelDLL();
  typename Family::Cache cache;
  ReadArchiveFile(copy.CacheFile(), [&](Archive& ar) { cache.Serialize(ar); });
  return cache;
}

template <class Family>
void BM_WriteCache(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  typename Family::Cache cache = ReadCacheOf(copy);
  const std::string target = copy.dir.File("written.cache");
  for (auto _ : state) {
    std::string error;
    if (!WriteArchiveFile(
            target, [&](Archive& ar) { cache.Serialize(ar); }, &error)) {
      state.SkipWithError(error.c_str());
    }
  }
  Count(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(FileSize(target)));
}

// The handheld shadow: the manager alone, as the handheld's last state.
template <class Family>
void BM_ReadShadow(benchmark::State& state) {
  SyncedCopy<Family>& copy =
      Copy<Family>(CopyKind::kHandheld, static_cast<int32_t>(state.range(0)));
  InitBrontelDLL();
  for (auto _ : state) {
    typename Family::Manager shadow;
    ReadResult read =
        ReadArchiveFile(copy.ShadowFile(), [&](Archive& ar) { shadow.Serialize(ar); });
    if (!read.ok()) state.SkipWithError(read.message.c_str());
    benchmark::DoNotOptimize(shadow.IsNull());
  }
  Count(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(FileSize(copy.ShadowFile())));
}

template <class Family>
void BM_WriteShadow(benchmark::State& state) {
  SyncedCopy<Family>& copy =
      Copy<Family>(CopyKind::kHandheld, static_cast<int32_t>(state.range(0)));
  typename Family::Manager shadow = Family::ManagerOf(ReadCacheOf(copy)).Clone();
  const std::string target = copy.dir.File("written.shadow");
  for (auto _ : state) {
    std::string error;
    if (!WriteArchiveFile(
            target, [&](Archive& ar) { shadow.Serialize(ar); }, &error)) {
      state.SkipWithError(error.c_str());
    }
  }
  Count(state);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(FileSize(target)));
}

template <class Family>
void BM_Clone(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  typename Family::Manager source = Family::ManagerOf(ReadCacheOf(copy));
  for (auto _ : state) {
    typename Family::Manager clone = source.Clone();
    benchmark::DoNotOptimize(clone.IsNull());
    state.PauseTiming();
    clone = typename Family::Manager();
    state.ResumeTiming();
  }
  Count(state);
}

// Verify of two clones of the cache's manager (made off the clock).
template <class Family>
void BM_Verify(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  typename Family::Manager source = Family::ManagerOf(ReadCacheOf(copy));
  bool equal = false;
  for (auto _ : state) {
    state.PauseTiming();
    typename Family::Manager a = source.Clone();
    typename Family::Manager b = source.Clone();
    state.ResumeTiming();
    // Records without a fixed id (contacts of local categories) cannot be
    // matched, so two clones of a contact cache compare unequal; the work is
    // the same.
    equal = a.Verify(b);
    state.PauseTiming();
    a = typename Family::Manager();
    b = typename Family::Manager();
    state.ResumeTiming();
  }
  Count(state);
  state.counters["equal"] = equal ? 1 : 0;
}

// The consistency check of the cache's manager (every placement, contact and
// parent held by the manager).
template <class Family>
void BM_SanityCheck(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  typename Family::Manager source = Family::ManagerOf(ReadCacheOf(copy));
  for (auto _ : state) {
    if (!source.SanityCheck()) {
      state.SkipWithError("the cache's manager fails its check");
      break;
    }
  }
  Count(state);
}

// The floor: write + fsync + rename (and the directory's fsync) of a file the
// size of the cache, then reading it back.
template <class Family>
void BM_DurableWriteFloor(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  const uint64_t size = FileSize(copy.CacheFile());
  const std::string target = copy.dir.File("floor.bin");
  for (auto _ : state) DurableWrite(target, size);
  Count(state);
  state.counters["file_bytes"] = static_cast<double>(size);
}

template <class Family>
void BM_ReadBackFloor(benchmark::State& state) {
  SyncedCopy<Family>& copy = Copy<Family>(CopyKind::kDesktop, static_cast<int32_t>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(ReadBack(copy.CacheFile()));
  Count(state);
}

// Syncs with changes run a fixed number of times: deletions a handheld makes
// stay in the cache as marks until a server synchronization, so the copy would
// grow with every run.
void ChangedRuns(benchmark::internal::Benchmark* b) {
  b->Iterations(5);
}

void CalendarSizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
  if (LargeSizes()) b->Arg(200000);
}
void ContactSizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(5000)->Arg(10000)->Arg(50000)->Unit(benchmark::kMillisecond);
}

// Registers the benchmarks of one family as <name><what>/<size>.
template <class Family>
bool Register(const std::string& name, void (*sizes)(benchmark::internal::Benchmark*)) {
  auto add = [&](const char* what, auto run) {
    benchmark::internal::Benchmark* b = benchmark::RegisterBenchmark((name + what).c_str(), run);
    sizes(b);
    return b;
  };
  add("SyncDesktopNoChange",
      [](benchmark::State& s) { BM_Sync<Family>(s, CopyKind::kDesktop, false); });
  ChangedRuns(add("SyncDesktopOnePercent",
                  [](benchmark::State& s) { BM_Sync<Family>(s, CopyKind::kDesktop, true); }));
  add("SyncHandheldNoChange",
      [](benchmark::State& s) { BM_Sync<Family>(s, CopyKind::kHandheld, false); });
  ChangedRuns(add("SyncHandheldOnePercent",
                  [](benchmark::State& s) { BM_Sync<Family>(s, CopyKind::kHandheld, true); }));
  add("ReadCache", BM_ReadCache<Family>);
  add("WriteCache", BM_WriteCache<Family>);
  add("ReadShadow", BM_ReadShadow<Family>);
  add("WriteShadow", BM_WriteShadow<Family>);
  add("Clone", BM_Clone<Family>);
  add("Verify", BM_Verify<Family>);
  add("SanityCheck", BM_SanityCheck<Family>);
  add("DurableWriteFloor", BM_DurableWriteFloor<Family>);
  add("ReadBackFloor", BM_ReadBackFloor<Family>);
  return true;
}

const bool g_registered = Register<CalendarFamily>("Calendar", CalendarSizes) &&
                          Register<ContactFamily>("Contact", ContactSizes);

}  // namespace
