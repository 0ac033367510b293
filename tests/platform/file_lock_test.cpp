// Tests of FileLock: exclusion between objects of one process, between threads
// and between processes, the bounded wait, and running on without a lock file
// that cannot be opened.
#include "brontel/platform/file_lock.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "brontel/platform/debug_sink.h"
#include "brontel/platform/file_system.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using std::chrono::milliseconds;

// Counts the opens of one path and makes the first failCount of them fail with
// failErrno. Installed for its lifetime.
class OpenCountingFileSystem : public FileSystem {
 public:
  OpenCountingFileSystem(std::string path, int failCount = 0, int failErrno = 0)
      : m_path(std::move(path)), m_failCount(failCount), m_failErrno(failErrno) {
    m_previous = FileSystem::Install(this);
  }
  ~OpenCountingFileSystem() override { FileSystem::Install(m_previous); }

  int Open(const std::string& path, int flags, uint32_t mode) override {
    if (path == m_path && m_opens.fetch_add(1) < m_failCount) {
      errno = m_failErrno;
      return -1;
    }
    return FileSystem::Open(path, flags, mode);
  }
  int opens() const { return m_opens.load(); }

 private:
  FileSystem* m_previous;
  std::string m_path;
  int m_failCount;
  int m_failErrno;
  std::atomic<int> m_opens{0};
};

// Short pauses so that waiting tests finish quickly; busy waits have no limit
// and unopenable files are given up at once unless a test says otherwise.
constexpr FileLockTiming kQuick{milliseconds(1), milliseconds(0)};

class FileLockTest : public ::testing::Test {
 protected:
  void SetUp() override {
    Lines().clear();
    SetDebugSink([](const std::string& line) { Lines().push_back(line); });
  }
  void TearDown() override { SetDebugSink(nullptr); }

  static std::vector<std::string>& Lines() {
    static std::vector<std::string> lines;
    return lines;
  }
  static bool SawLine(const std::string& part) {
    for (const std::string& line : Lines()) {
      if (line.find(part) != std::string::npos) return true;
    }
    return false;
  }

  testing::TempDir dir;
  std::string path = dir.File("cachecal.lck");
};

TEST_F(FileLockTest, AcquireCreatesTheLockFileAndReleaseKeepsIt) {
  FileLock lock(path, kQuick);
  EXPECT_FALSE(lock.IsHeld());
  EXPECT_EQ(dir.Listing(), "") << "nothing is opened before Acquire";

  ASSERT_TRUE(lock.Acquire());
  EXPECT_TRUE(lock.IsHeld());
  EXPECT_EQ(dir.Listing(), "cachecal.lck");

  lock.Release();
  EXPECT_FALSE(lock.IsHeld());
  EXPECT_EQ(dir.Listing(), "cachecal.lck");
  lock.Release();  // releasing again does nothing

  ASSERT_TRUE(lock.Acquire()) << "a released lock can be taken again";
  EXPECT_TRUE(Lines().empty());
}

TEST_F(FileLockTest, AnExistingLockFileKeepsItsBytes) {
  testing::WriteFileBytes(path, "left by someone");
  FileLock lock(path, kQuick);
  ASSERT_TRUE(lock.Acquire());
  EXPECT_EQ(testing::ReadFileOrMissing(path), "left by someone");
}

TEST_F(FileLockTest, TwoObjectsInOneProcessExcludeEachOther) {
  FileLock first(path, kQuick);
  FileLock second(path, kQuick);
  ASSERT_TRUE(first.Acquire());

  EXPECT_FALSE(second.TryAcquireFor(milliseconds(0)));
  EXPECT_FALSE(second.IsHeld());
  EXPECT_TRUE(SawLine("Gave up waiting for lock file " + path));
  EXPECT_TRUE(first.IsHeld()) << "a failed try leaves the holder alone";

  first.Release();
  EXPECT_TRUE(second.TryAcquireFor(milliseconds(0)));
  EXPECT_FALSE(first.TryAcquireFor(milliseconds(0)));
}

TEST_F(FileLockTest, DestructionReleasesTheLock) {
  {
    FileLock scoped(path, kQuick);
    ASSERT_TRUE(scoped.Acquire());
  }
  FileLock next(path, kQuick);
  EXPECT_TRUE(next.TryAcquireFor(milliseconds(0)));
}

TEST_F(FileLockTest, LocksOnDifferentFilesDoNotInterfere) {
  FileLock calendars(dir.File("cachecal.lck"), kQuick);
  FileLock contacts(dir.File("cachecon.lck"), kQuick);
  ASSERT_TRUE(calendars.Acquire());
  EXPECT_TRUE(contacts.TryAcquireFor(milliseconds(0)));
}

// The waiting thread may only get the lock after the holder released it, and a
// lock that is merely taken is never given up, even with no patience at all for
// unopenable files.
TEST_F(FileLockTest, AWaitingThreadGetsTheLockOnlyAfterTheHolderReleasesIt) {
  FileLock holder(path, kQuick);
  ASSERT_TRUE(holder.Acquire());

  OpenCountingFileSystem counting(path);
  std::atomic<bool> released{false};
  bool releasedWhenAcquired = false;
  bool acquired = false;
  std::thread waiter([&] {
    FileLock lock(path, kQuick);
    acquired = lock.Acquire();
    releasedWhenAcquired = released.load();
  });
  while (counting.opens() < 3) std::this_thread::yield();  // the waiter has been refused
  released = true;
  holder.Release();
  waiter.join();

  EXPECT_TRUE(acquired);
  EXPECT_TRUE(releasedWhenAcquired);
  EXPECT_TRUE(Lines().empty());
}

// A forked child takes the lock and keeps it until the parent has been refused a
// few times; the parent's Acquire returns only after the child let go.
TEST_F(FileLockTest, AParentWaitsForALockHeldByAChildProcess) {
  int childHolds[2], parentWaits[2], childReleases[2];
  ASSERT_EQ(pipe(childHolds), 0);
  ASSERT_EQ(pipe(parentWaits), 0);
  ASSERT_EQ(pipe2(childReleases, O_NONBLOCK), 0);

  pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    FileLock lock(path, kQuick);
    if (!lock.Acquire()) _exit(2);
    char byte = 'H';
    if (write(childHolds[1], &byte, 1) != 1) _exit(3);
    if (read(parentWaits[0], &byte, 1) != 1) _exit(4);
    byte = 'R';
    if (write(childReleases[1], &byte, 1) != 1) _exit(5);
    lock.Release();
    _exit(0);
  }

  char byte = 0;
  ASSERT_EQ(read(childHolds[0], &byte, 1), 1);
  OpenCountingFileSystem counting(path);
  std::thread signaller([&] {
    while (counting.opens() < 3) std::this_thread::yield();
    char go = 'G';
    EXPECT_EQ(write(parentWaits[1], &go, 1), 1);
  });
  FileLock lock(path, kQuick);
  EXPECT_TRUE(lock.Acquire());
  signaller.join();
  EXPECT_EQ(read(childReleases[0], &byte, 1), 1)
      << "the parent got the lock before the child let go";
  EXPECT_EQ(byte, 'R');

  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {childHolds[0], childHolds[1], parentWaits[0], parentWaits[1], childReleases[0],
                 childReleases[1]}) {
    close(fd);
  }
}

TEST_F(FileLockTest, ALockFileThatCannotBeOpenedIsGivenUpWithADiagnosticLine) {
  testing::WriteFileBytes(dir.File("plain"), "");
  struct Case {
    const char* what;
    std::string lockPath;
  };
  const Case cases[] = {
      {"missing directory", dir.File("absent/cachecal.lck")},
      {"directory is a file", dir.File("plain/cachecal.lck")},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Lines().clear();
    FileLock lock(c.lockPath, kQuick);
    EXPECT_FALSE(lock.Acquire());
    EXPECT_FALSE(lock.IsHeld());
    EXPECT_TRUE(SawLine("Unable to lock file " + c.lockPath));
    EXPECT_TRUE(SawLine("going on without the lock"));
    lock.Release();  // nothing to release
  }
}

TEST_F(FileLockTest, OpenFailuresAreRetriedUntilTheFileOpens) {
  for (int error : {EACCES, EROFS, ENOENT}) {
    SCOPED_TRACE(error);
    OpenCountingFileSystem failing(path, 3, error);
    FileLock lock(path, FileLockTiming{milliseconds(1), milliseconds(60000)});
    EXPECT_TRUE(lock.Acquire());
    EXPECT_EQ(failing.opens(), 4);
    EXPECT_TRUE(Lines().empty());
  }
}

TEST_F(FileLockTest, TheBoundedWaitAlsoLimitsOpenFailures) {
  OpenCountingFileSystem failing(path, 1 << 30, EACCES);
  FileLock lock(path, FileLockTiming{milliseconds(1), milliseconds(60000)});
  EXPECT_FALSE(lock.TryAcquireFor(milliseconds(5)));
  EXPECT_GE(failing.opens(), 2) << "tried again before giving up";
  EXPECT_TRUE(SawLine("Gave up waiting for lock file " + path));
}

}  // namespace
}  // namespace brontel
