// Processes at once on one cache directory: each runs a mix of
// synchronizations (desktop and handheld of both families, SetGID with one
// account id) and adds records named for itself. The lock files must keep
// them apart: no process waits forever (a watchdog kills them all and fails),
// every synchronization succeeds, every SetGID is accepted, having passed the
// id on (so both caches end with it), every file reads back whole, and every
// record any process added is in the cache at the end, once.
// BRONTEL_CONCURRENCY_PROCESSES and BRONTEL_CONCURRENCY_SYNCS set the counts
// (8 processes of 25 synchronizations by default), BRONTEL_CONCURRENCY_SEED
// the mix.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "api/reliability_fixture.h"
#include "api/sync_worker_fixture.h"
#include "support/api_fixture.h"

namespace brontel {
namespace {

using testing::CalendarFamily;
using testing::ContactFamily;
using testing::EnvNumber;
using testing::RecordNames;
using testing::Reports;
using testing::SyncWorker;

struct Child {
  pid_t pid = -1;
  int fd = -1;
  bool done = false;
};

class ConcurrencyTest : public testing::ApiTest {
 protected:
  // Runs syncs synchronizations of a random mix in a new process.
  Child Start(int index, int syncs, uint32_t seed) const {
    Child child;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0) return child;
    child.pid = ::fork();
    if (child.pid != 0) {
      ::close(pipeFds[1]);
      child.fd = pipeFds[0];
      return child;
    }
    ::close(pipeFds[0]);
    std::mt19937 random(seed);
    SyncWorker worker(m_dir.path(), "p" + std::to_string(index), pipeFds[1]);
    for (int i = 0; i < syncs; ++i)
      worker.Step(static_cast<int>(random() % SyncWorker::kKindCount));
    ::_exit(0);
  }

  // The records of family after a new desktop took the cache's records; the
  // desktop must hold exactly what the cache holds.
  template <class Family>
  std::multiset<std::string> Converged() {
    RecordNames desktop, cached;
    EXPECT_EQ(testing::ConvergeDesktop<Family>(m_dir.path(), &desktop, &cached), ERR_NONE);
    EXPECT_EQ(desktop, cached) << Family::kName;
    std::multiset<std::string> items;
    for (const std::string& name : cached) {
      if (name.rfind("item ", 0) == 0) items.insert(name.substr(5, name.rfind(" in ") - 5));
    }
    return items;
  }

  // Each of stored is in items exactly once.
  static std::vector<std::string> NotOnce(const std::set<std::string>& stored,
                                          const std::multiset<std::string>& items) {
    std::vector<std::string> wrong;
    for (const std::string& name : stored) {
      if (items.count(name) != 1) {
        wrong.push_back(name + " x" + std::to_string(items.count(name)));
      }
    }
    return wrong;
  }
};

TEST_F(ConcurrencyTest, ProcessesSynchronizingOneDirectoryLoseNothing) {
  const int processes = static_cast<int>(EnvNumber("BRONTEL_CONCURRENCY_PROCESSES", 8));
  const int syncs = static_cast<int>(EnvNumber("BRONTEL_CONCURRENCY_SYNCS", 25));
  const uint32_t seed =
      static_cast<uint32_t>(EnvNumber("BRONTEL_CONCURRENCY_SEED", std::random_device()()));
  // Generous: a synchronization takes milliseconds and the lock waits in steps
  // of 100 ms.
  const auto limit = std::chrono::seconds(EnvNumber("BRONTEL_CONCURRENCY_LIMIT", 240));
  std::printf("[ concurrency ] %d processes x %d synchronizations, seed %u\n", processes, syncs,
              seed);
  testing::SeedDirectory(m_dir.path());

  std::mt19937 random(seed);
  std::vector<Child> children;
  for (int i = 0; i < processes; ++i) {
    children.push_back(Start(i, syncs, random()));
    ASSERT_GT(children.back().pid, 0);
  }
  // The pipes are read as the children write, so that none blocks on a full pipe.
  Reports reports;
  std::vector<std::thread> readers;
  std::vector<Reports> perChild(children.size());
  for (size_t i = 0; i < children.size(); ++i) {
    readers.emplace_back([&, i] { perChild[i].ReadFrom(children[i].fd); });
  }
  const auto start = std::chrono::steady_clock::now();
  size_t running = children.size();
  bool deadlocked = false;
  while (running > 0) {
    for (Child& child : children) {
      int status = 0;
      if (child.done || ::waitpid(child.pid, &status, WNOHANG) != child.pid) continue;
      child.done = true;
      --running;
      EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    if (running > 0 && std::chrono::steady_clock::now() - start > limit) {
      deadlocked = true;
      for (Child& child : children) {
        if (!child.done) ::kill(child.pid, SIGKILL);
      }
      for (Child& child : children) {
        if (!child.done) ::waitpid(child.pid, nullptr, 0);
      }
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  for (std::thread& reader : readers) reader.join();
  for (Child& child : children) ::close(child.fd);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ASSERT_FALSE(deadlocked) << "the processes did not finish within " << limit.count() << " s";

  for (const Reports& each : perChild) {
    reports.storedCalendars.insert(each.storedCalendars.begin(), each.storedCalendars.end());
    reports.storedContacts.insert(each.storedContacts.begin(), each.storedContacts.end());
    reports.failures.insert(reports.failures.end(), each.failures.begin(), each.failures.end());
    reports.syncs += each.syncs;
    reports.accepted += each.accepted;
    reports.refused.insert(reports.refused.end(), each.refused.begin(), each.refused.end());
    reports.stores.insert(each.stores.begin(), each.stores.end());
  }
  EXPECT_EQ(reports.failures, std::vector<std::string>{});
  // A SetGID that could not pass the id on to the other family says so.
  EXPECT_EQ(reports.refused, std::vector<std::string>{});
  if (reports.accepted > 0) {
    const std::string account = "gid " + testing::WorkerAccount().GetString();
    EXPECT_EQ(testing::CacheAccount<CalendarFamily>(m_dir.path()), account);
    EXPECT_EQ(testing::CacheAccount<ContactFamily>(m_dir.path()), account);
  }
  EXPECT_EQ(testing::DamagedFiles(m_dir.path()), std::vector<std::string>{});
  reports.storedCalendars.insert("Base");
  reports.storedContacts.insert("Base");
  EXPECT_EQ(reports.Explain(NotOnce(reports.storedCalendars, Converged<CalendarFamily>())),
            std::vector<std::string>{});
  EXPECT_EQ(reports.Explain(NotOnce(reports.storedContacts, Converged<ContactFamily>())),
            std::vector<std::string>{});
  std::printf(
      "[ concurrency ] %d processes x %d synchronizations done in %.1f s: %d reports, "
      "%zu calendar and %zu contact records stored, each once in the cache, %d SetGID "
      "accepted\n",
      processes, syncs, seconds, reports.syncs, reports.storedCalendars.size(),
      reports.storedContacts.size(), reports.accepted);
}

}  // namespace
}  // namespace brontel
