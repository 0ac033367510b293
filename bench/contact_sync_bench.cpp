// Benchmarks of a desktop contact synchronization: CategoryTransformation's
// SyncClient on a desktop copy of N contacts in 15 categories that the cache
// already holds, followed by the clone of the cache that the API object keeps
// as the handheld's shadow. Once with no change on either side, once with 1% of
// the desktop's contacts changed (edited, moved, deleted, or new). The engine
// finds records by id, so a synchronization should cost about N: the 50 000
// figure about ten times the 5 000 one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <map>
#include <string>

#include "brontel/contacts/category.h"
#include "brontel/contacts/category_cache.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/contacts/contact_lists.h"
#include "brontel/sync/category_transformation.h"

namespace {

using namespace brontel;

constexpr int32_t kCategories = 15;

// The state after a first desktop synchronization: the cache, the desktop's
// copy and its shadow.
struct Synced {
  CategoryCache cache;
  CategoryManager main;
  CategoryManager shadow;
};

Synced Build(int32_t contacts) {
  CategoryManager m = CategoryManager::CreateEmpty();
  for (int32_t c = 0; c < kCategories; ++c) {
    Category category = m.CreateNewCategory(false);
    category.GetCategoryDescriptor().SetCategoryName("category " + std::to_string(c));
  }
  CategoryList& categories = m.GetCategoryList();
  for (int32_t i = 0; i < contacts; ++i) {
    // Every tenth contact is unfiled.
    Category category = i % 10 == 0 ? Category() : categories[i % kCategories];
    Contact contact = m.CreateNewContact(category);
    ContactDescriptor d = contact.GetContactDescriptor();
    d.SetDatum(18, "last " + std::to_string(i));
    d.SetDatum(17, "first " + std::to_string(i % 97));
    d.SetDatum(16, "company " + std::to_string(i % 31));
    d.SetDatum(15, "+1 555 " + std::to_string(1000000 + i));
    d.SetDatum(0, std::to_string(i) + " Main Street");
  }
  CategoryTransformation engine;
  engine.SetMain(m);
  engine.SyncClient();
  return {engine.GetCache(), engine.GetMain(), engine.GetShadow()};
}

// One synced state per size, built once.
const Synced& Source(int32_t contacts) {
  static std::map<int32_t, Synced> built;
  auto it = built.find(contacts);
  if (it == built.end()) it = built.emplace(contacts, Build(contacts)).first;
  return it->second;
}

// Changes 1% of the desktop's contacts: of every 100th contact, a quarter each
// is moved, deleted, or edited twice over, and as many new contacts as were
// deleted are added.
void ChangeOnePercent(CategoryManager& main) {
  ContactList& contacts = main.GetContactList();
  CategoryList& categories = main.GetCategoryList();
  const int32_t count = contacts.GetListCount();
  int32_t deleted = 0;
  for (int32_t i = 0, step = 0; i < count; i += 100, ++step) {
    Contact c = contacts[i];
    switch (step % 4) {
      case 0:
        c.SetCategory(categories[(i / 100 + 3) % categories.GetListCount()]);
        break;
      case 1:
        c.SetDeleted();  // removed below, all at once
        ++deleted;
        break;
      default:
        c.GetContactDescriptor().SetDatum(5, "changed " + std::to_string(i));
        break;
    }
  }
  contacts.RemoveIf([](const Contact& c) { return c.IsDeleted(); });
  for (int32_t i = 0; i < deleted; ++i) {
    Contact c = main.CreateNewContact(categories[i % categories.GetListCount()]);
    c.GetContactDescriptor().SetDatum(18, "new " + std::to_string(i));
  }
}

void SyncDesktop(benchmark::State& state, bool change) {
  const int32_t size = static_cast<int32_t>(state.range(0));
  const Synced& source = Source(size);
  for (auto _ : state) {
    state.PauseTiming();
    CategoryTransformation engine;
    engine.SetCache(source.cache.Clone());
    engine.SetMain(source.main.Clone());
    engine.SetShadow(source.shadow.Clone());
    if (change) {
      CategoryManager main = engine.GetMain();
      ChangeOnePercent(main);
    }
    state.ResumeTiming();
    int32_t conflicts = engine.SyncClient();
    CategoryManager handheldShadow = engine.GetCache().GetCategoryManager().Clone();
    benchmark::DoNotOptimize(handheldShadow.GetContactList().GetListCount());
    state.PauseTiming();
    if (conflicts != 0) state.SkipWithError("a desktop-only change made a conflict");
    engine = CategoryTransformation();
    handheldShadow = CategoryManager::CreateNull();
    state.ResumeTiming();
  }
  state.SetComplexityN(size);
  state.counters["contacts"] = static_cast<double>(size);
}

void BM_DesktopSyncNoChange(benchmark::State& state) {
  SyncDesktop(state, false);
}
void BM_DesktopSyncOnePercentChanged(benchmark::State& state) {
  SyncDesktop(state, true);
}

BENCHMARK(BM_DesktopSyncNoChange)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DesktopSyncOnePercentChanged)->Arg(5000)->Arg(50000)->Unit(benchmark::kMillisecond);

}  // namespace
