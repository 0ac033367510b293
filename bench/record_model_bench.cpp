// What the record model costs by itself, apart from parsing, merging and
// writing. Every record is a handle to a reference-counted holder, and so are
// its identification, status, descriptors and web content: reading a cache
// allocates one block per holder, and dropping a manager frees each of them.
//
//   CalendarModelReadCache/N   reads the cache of N generated events and
//                              counts the blocks the read allocates;
//   CalendarModelAllocate/N    allocates blocks of the same sizes in the same
//                              order, writes the first bytes of each (as a
//                              constructor writes a vtable and a count) and
//                              frees them in order: no parsing, no links, no
//                              lookups. A no-change desktop synchronization
//                              builds and drops about two managers' worth of
//                              holders (the counter sync_blocks says how many
//                              blocks it allocates), so that many blocks
//                              allocated and freed are a floor under any
//                              synchronization built on this model.
//
// The counts come from this program's own operator new, which counts only
// while the set-up reads the cache once and synchronizes once more.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "bench_support.h"
#include "brontel/api/brontel_api.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/platform/archive_file.h"
#include "data_generator.h"

namespace {

// While true, operator new counts the blocks it hands out and, when g_sizes
// is set, records their sizes in order (g_sizes is reserved beforehand, so
// recording never allocates).
bool g_counting = false;
uint64_t g_blocks = 0;
std::vector<uint32_t>* g_sizes = nullptr;

void* Allocate(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) throw std::bad_alloc();
  if (g_counting) {
    ++g_blocks;
    if (g_sizes != nullptr && g_sizes->size() < g_sizes->capacity()) {
      g_sizes->push_back(static_cast<uint32_t>(size));
    }
  }
  return block;
}

}  // namespace

void* operator new(size_t size) {
  return Allocate(size);
}
void* operator new[](size_t size) {
  return Allocate(size);
}
void operator delete(void* block) noexcept {
  std::free(block);
}
void operator delete[](void* block) noexcept {
  std::free(block);
}
void operator delete(void* block, size_t) noexcept {
  std::free(block);
}
void operator delete[](void* block, size_t) noexcept {
  std::free(block);
}

namespace {

using namespace brontel;
using namespace brontel::bench;

// A desktop copy of size events synchronized into its cache, the sizes of the
// blocks that reading that cache allocates, and the number of blocks a
// no-change synchronization of the copy allocates.
struct ModelCopy {
  explicit ModelCopy(int32_t size) : dir("record-model"), store(CopyKind::kDesktop) {
    UsePrivateSettings();
    CalendarApi api = BrontelAPI::CreateCalendarApi(dir.path(), "bench");
    FillCalendars(api.GetCalendarManager(), CalendarShape{size, 20, 7, true}, store);
    ok = api.SyncDesktop() == ERR_NONE;
    store.Save(api.GetCalendarManager());
    ok = ok && api.SyncDesktop() == ERR_NONE;
    cacheFile = dir.File(CalendarApi::kCacheFile);

    sizes.reserve(static_cast<size_t>(size) * 64 + 4096);
    g_sizes = &sizes;
    g_counting = true;
    ok = ok && Read();
    g_sizes = nullptr;
    g_blocks = 0;
    ok = ok && api.SyncDesktop() == ERR_NONE;
    syncBlocks = g_blocks;
    g_counting = false;
    for (uint32_t s : sizes) bytes += s;
  }

  bool Read() const {
    CalendarCache cache;
    return ReadArchiveFile(cacheFile, [&](Archive& ar) { cache.Serialize(ar); }).ok();
  }

  ScratchDir dir;
  RecordStore store;
  std::string cacheFile;
  std::vector<uint32_t> sizes;
  uint64_t bytes = 0;
  uint64_t syncBlocks = 0;
  bool ok = false;
};

ModelCopy& Copy(int32_t size) {
  static std::map<int32_t, std::unique_ptr<ModelCopy>> made;
  std::unique_ptr<ModelCopy>& slot = made[size];
  if (slot == nullptr) {
    InitBrontelDLL();
    slot = std::make_unique<ModelCopy>(size);
  }
  return *slot;
}

void Describe(benchmark::State& state, const ModelCopy& copy) {
  state.SetComplexityN(state.range(0));
  state.counters["records"] = static_cast<double>(state.range(0));
  state.counters["blocks"] = static_cast<double>(copy.sizes.size());
  state.counters["block_bytes"] = static_cast<double>(copy.bytes);
  state.counters["sync_blocks"] = static_cast<double>(copy.syncBlocks);
}

void BM_CalendarModelReadCache(benchmark::State& state) {
  ModelCopy& copy = Copy(static_cast<int32_t>(state.range(0)));
  if (!copy.ok) {
    state.SkipWithError("making or reading the cache failed");
    return;
  }
  for (auto _ : state) {
    if (!copy.Read()) state.SkipWithError("reading the cache failed");
  }
  Describe(state, copy);
}

void BM_CalendarModelAllocate(benchmark::State& state) {
  ModelCopy& copy = Copy(static_cast<int32_t>(state.range(0)));
  if (!copy.ok) {
    state.SkipWithError("making or reading the cache failed");
    return;
  }
  std::vector<void*> blocks(copy.sizes.size());
  for (auto _ : state) {
    for (size_t i = 0; i < copy.sizes.size(); ++i) {
      const uint32_t size = copy.sizes[i];
      auto* block = static_cast<uint64_t*>(std::malloc(size));
      if (block == nullptr) std::abort();
      block[0] = i;
      if (size >= 16) block[1] = size;
      blocks[i] = block;
    }
    benchmark::ClobberMemory();
    for (void* block : blocks) std::free(block);
  }
  Describe(state, copy);
}

void Sizes(benchmark::internal::Benchmark* b) {
  b->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
  if (LargeSizes()) b->Arg(200000);
}

BENCHMARK(BM_CalendarModelReadCache)->Name("CalendarModelReadCache")->Apply(Sizes);
BENCHMARK(BM_CalendarModelAllocate)->Name("CalendarModelAllocate")->Apply(Sizes);

}  // namespace
