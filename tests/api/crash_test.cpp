// Killed and starved processes: children run synchronizations of both
// families (desktop, handheld, SetGID) in a loop on one directory.
// - Kills: each child is killed with SIGKILL at a random moment. After each
//   kill every stored file reads back whole, the next synchronization of a new
//   desktop succeeds and holds exactly the cache's records, no temporary file
//   outlives it, every record a child saw stored is still there, and an
//   account id left in one family's cache reaches the other's at the next
//   SetGID.
// - Full disk: each child writes under a file size limit just above what the
//   files hold (SIGXFSZ ignored, so a write past it fails with EFBIG): the
//   synchronizations that cannot write report ERR_WRITE_FAILED, the files
//   read back whole, and nothing stored before is lost.
// The moments come from a seed that is printed; BRONTEL_CRASH_SEED sets it to
// replay a run, BRONTEL_CRASH_KILLS the number of kills (and of full-disk
// children, a quarter of it).
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
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
using testing::DamagedFiles;
using testing::EnvNumber;
using testing::Join;
using testing::Missing;
using testing::RecordNames;
using testing::Reports;
using testing::SyncWorker;

// A child that runs synchronizations until it is killed or has run limit of
// them; its report pipe is *fd.
pid_t StartChild(const std::string& directory, const std::string& tag, uint32_t seed, int limit,
                 std::optional<rlim_t> fileSizeLimit, int* fd) {
  int pipeFds[2];
  if (::pipe(pipeFds) != 0) return -1;
  const pid_t pid = ::fork();
  if (pid != 0) {
    ::close(pipeFds[1]);
    *fd = pipeFds[0];
    return pid;
  }
  ::close(pipeFds[0]);
  if (fileSizeLimit) {
    ::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limitValue = {*fileSizeLimit, *fileSizeLimit};
    ::setrlimit(RLIMIT_FSIZE, &limitValue);
  }
  std::mt19937 random(seed);
  SyncWorker worker(directory, tag, pipeFds[1]);
  for (int i = 0; limit == 0 || i < limit; ++i) {
    worker.Step(static_cast<int>(random() % SyncWorker::kKindCount));
  }
  ::_exit(0);
}

// Reads fd until the child reported its first synchronization (or ended, or
// 30 s passed); returns what it read.
std::string FirstReport(int fd) {
  std::string text;
  char buffer[512];
  while (text.find('\n') == std::string::npos) {
    struct pollfd ready = {fd, POLLIN, 0};
    if (::poll(&ready, 1, 30000) <= 0) break;
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    text.append(buffer, static_cast<size_t>(n));
  }
  return text;
}

class CrashTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_seed = static_cast<uint32_t>(EnvNumber("BRONTEL_CRASH_SEED", std::random_device()()));
    m_kills = static_cast<int>(EnvNumber("BRONTEL_CRASH_KILLS", 40));
    std::printf("[ crash ] seed %u, %d kills (BRONTEL_CRASH_SEED=%u replays the moments)\n", m_seed,
                m_kills, m_seed);
    testing::SeedDirectory(m_dir.path());
    m_confirmed.storedCalendars = {"Base"};
    m_confirmed.storedContacts = {"Base"};
  }

  // After a child ended: the files read back whole, a new desktop of each
  // family takes exactly the cache's records, no temporary file is left and
  // every record a child saw stored is there. False after the first failure.
  bool CheckDirectory(const std::string& when) {
    SCOPED_TRACE(when);
    const std::vector<std::string> damaged = WithoutTemporaries(DamagedFiles(m_dir.path()));
    EXPECT_EQ(damaged, std::vector<std::string>{});
    CheckFamily<CalendarFamily>(m_confirmed.storedCalendars);
    CheckFamily<ContactFamily>(m_confirmed.storedContacts);
    CheckAccounts();
    EXPECT_EQ(DamagedFiles(m_dir.path()), std::vector<std::string>{})
        << "a synchronization leaves no temporary file behind";
    return !HasFailure();
  }

  // A child killed between writing its own cache and the other family's
  // leaves the account id in one cache only: the next SetGID of that family
  // (without an id of its own) passes it on, and both caches hold the same.
  void CheckAccounts() {
    const std::string calendars = testing::CacheAccount<CalendarFamily>(m_dir.path());
    const std::string contacts = testing::CacheAccount<ContactFamily>(m_dir.path());
    const std::string account = "gid " + testing::WorkerAccount().GetString();
    if (calendars != contacts && calendars == account) {
      EXPECT_TRUE(CalendarFamily::Open(m_dir.path()).SetGID(UID128()));
    } else if (calendars != contacts && contacts == account) {
      EXPECT_TRUE(ContactFamily::Open(m_dir.path()).SetGID(UID128()));
    }
    EXPECT_EQ(testing::CacheAccount<CalendarFamily>(m_dir.path()),
              testing::CacheAccount<ContactFamily>(m_dir.path()));
  }

  template <class Family>
  void CheckFamily(const std::set<std::string>& confirmed) {
    RecordNames desktop, cached;
    EXPECT_EQ(testing::ConvergeDesktop<Family>(m_dir.path(), &desktop, &cached), ERR_NONE);
    EXPECT_EQ(desktop, cached) << Family::kName;
    EXPECT_EQ(Missing(confirmed, testing::ItemNames(cached)), std::vector<std::string>{})
        << Family::kName << " records stored before are lost";
    const std::string gid = testing::StoredContent<Family>(
        testing::ReadFileOrMissing(m_dir.path() + "/" + Family::kCacheFile), true);
    const std::string account = "gid " + testing::WorkerAccount().GetString();
    EXPECT_TRUE(gid.rfind("gid " + UID128().GetString(), 0) == 0 || gid.rfind(account, 0) == 0)
        << gid;
  }

  static std::vector<std::string> WithoutTemporaries(std::vector<std::string> damaged) {
    std::erase_if(damaged,
                  [](const std::string& line) { return line.find(".tmp") != std::string::npos; });
    return damaged;
  }

  // The size of the largest stored file.
  off_t LargestFile() const {
    off_t largest = 0;
    for (const char* name : {CalendarFamily::kCacheFile, CalendarFamily::kHandheldShadowFile,
                             ContactFamily::kCacheFile, ContactFamily::kHandheldShadowFile}) {
      struct stat status;
      if (::stat(Path(name).c_str(), &status) == 0) largest = std::max(largest, status.st_size);
    }
    return largest;
  }

  uint32_t m_seed = 0;
  int m_kills = 0;
  Reports m_confirmed;
};

TEST_F(CrashTest, AKilledSynchronizationLosesNothingStoredBefore) {
  std::mt19937 random(m_seed);
  int syncs = 0;
  int survived = 0;
  int midWrite = 0;  // kills that left a temporary file: the child was writing
  for (int kill = 1; kill <= m_kills; ++kill) {
    int fd = -1;
    const pid_t child =
        StartChild(m_dir.path(), "k" + std::to_string(kill), random(), 0, std::nullopt, &fd);
    ASSERT_GT(child, 0);
    // Somewhere in the child's run of synchronizations, once it is under way.
    const std::string first = FirstReport(fd);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
    ::kill(child, SIGKILL);
    int status = 0;
    ::waitpid(child, &status, 0);
    Reports reports;
    reports.ReadFrom(fd, first);
    ::close(fd);
    EXPECT_EQ(reports.failures, std::vector<std::string>{}) << "kill " << kill;
    syncs += reports.syncs;
    m_confirmed.storedCalendars.insert(reports.storedCalendars.begin(),
                                       reports.storedCalendars.end());
    m_confirmed.storedContacts.insert(reports.storedContacts.begin(), reports.storedContacts.end());
    if (DamagedFiles(m_dir.path()).size() > WithoutTemporaries(DamagedFiles(m_dir.path())).size()) {
      ++midWrite;
    }
    if (!CheckDirectory("after kill " + std::to_string(kill))) break;
    ++survived;
  }
  std::printf(
      "[ crash ] %d of %d kills survived (%d of them in the middle of a write); the "
      "children completed %d synchronizations and stored %zu calendar and %zu contact "
      "records, all still there\n",
      survived, m_kills, midWrite, syncs, m_confirmed.storedCalendars.size(),
      m_confirmed.storedContacts.size());
}

TEST_F(CrashTest, AFullDiskFailsTheSynchronizationAndLosesNothing) {
  std::mt19937 random(m_seed);
  const int children = std::max(1, m_kills / 4);
  int syncs = 0;
  int failed = 0;
  int survived = 0;
  for (int round = 1; round <= children; ++round) {
    // A little room above what the files hold: the first synchronizations fit,
    // later ones do not.
    const rlim_t limit = static_cast<rlim_t>(LargestFile()) + 100 + random() % 400;
    int fd = -1;
    const pid_t child =
        StartChild(m_dir.path(), "f" + std::to_string(round), random(), 12, limit, &fd);
    ASSERT_GT(child, 0);
    // Now and then the child is also killed on its way.
    std::string first;
    if (random() % 2 == 0) {
      first = FirstReport(fd);
      std::this_thread::sleep_for(std::chrono::microseconds(random() % 30000));
      ::kill(child, SIGKILL);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    Reports reports;
    reports.ReadFrom(fd, first);
    ::close(fd);
    syncs += reports.syncs;
    failed += static_cast<int>(reports.failures.size());
    for (const std::string& failure : reports.failures) {
      // Loading a copy reads only; every write past the limit says so.
      EXPECT_EQ(failure.substr(failure.rfind(' ') + 1), std::to_string(ERR_WRITE_FAILED))
          << failure;
    }
    m_confirmed.storedCalendars.insert(reports.storedCalendars.begin(),
                                       reports.storedCalendars.end());
    m_confirmed.storedContacts.insert(reports.storedContacts.begin(), reports.storedContacts.end());
    if (!CheckDirectory("after full-disk child " + std::to_string(round))) break;
    ++survived;
  }
  EXPECT_GT(failed, 0) << "no synchronization met the file size limit";
  std::printf(
      "[ crash ] %d of %d full-disk children passed: %d synchronizations, %d of them "
      "failed to write and said so; nothing stored before was lost\n",
      survived, children, syncs, failed);
}

TEST_F(CrashTest, ATemporaryFileOfAWriteThatDidNotFinishIsRemovedByTheNextSynchronization) {
  // What a process killed in the middle of its writes leaves: temporary files
  // of both families. A calendar synchronization removes the calendar ones
  // only (the contact family may be writing its own at this moment), and
  // leaves files whose names merely start alike.
  const std::vector<std::string> leftovers = {"cache2_m.pfe.tmp4242", "cache2_h.pfl.tmp77",
                                              "cache2_w.pfl.tmp1"};
  const std::vector<std::string> kept = {"cache2_m.pft.tmp4242", "cache2_m.pfe.tmpold",
                                         "cache2_m0.bak.tmp4242"};
  for (const std::string& name : leftovers) testing::WriteFileBytes(Path(name), "half a cache");
  for (const std::string& name : kept) testing::WriteFileBytes(Path(name), "half a cache");
  CalendarApi api = CalendarFamily::Open(m_dir.path());
  ASSERT_EQ(api.SyncDesktop(), ERR_NONE);
  for (const std::string& name : leftovers) EXPECT_FALSE(Exists(name)) << name;
  for (const std::string& name : kept) EXPECT_TRUE(Exists(name)) << name;
}

}  // namespace
}  // namespace brontel
