// Tests of the standard-output redirection: where writes land while objects
// live and after they go, nesting, and files that already hold text. Each
// test runs in a child process, so that the test runner's own descriptors
// are never touched.
#include "brontel/host/ensure_standard_files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <functional>
#include <string>

#include "support/temp_dir.h"

namespace brontel {
namespace {

using testing::ReadFileOrMissing;
using testing::TempDir;
using testing::WriteFileBytes;

// Runs body in a child whose descriptors 1 and 2 write to "before.out" and
// "before.err" in dir; true when the child exited with 0.
bool InChild(const TempDir& dir, const std::function<void()>& body) {
  pid_t child = ::fork();
  if (child == 0) {
    std::FILE* out = std::freopen(dir.File("before.out").c_str(), "w", stdout);
    std::FILE* err = std::freopen(dir.File("before.err").c_str(), "w", stderr);
    if (out == nullptr || err == nullptr) ::_exit(3);
    body();
    std::fflush(stdout);
    std::fflush(stderr);
    ::_exit(0);
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void Say(int descriptor, const std::string& text) {
  if (::write(descriptor, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
    ::_exit(4);
  }
}

TEST(EnsureStandardFilesTest, WritesLandInTheFilesWhileTheObjectLives) {
  TempDir dir;
  ASSERT_TRUE(InChild(dir, [&] {
    Say(1, "a");
    {
      EnsureStandardFiles files(dir.path() + "/");
      if (!files.RedirectsOutput() || !files.RedirectsError()) ::_exit(5);
      Say(1, "b");
      Say(2, "c");
      std::printf("d");  // stdio buffers are flushed before the switch back
    }
    Say(1, "e");
    Say(2, "f");
  }));
  EXPECT_EQ(ReadFileOrMissing(dir.File("stdout.txt")), "bd");
  EXPECT_EQ(ReadFileOrMissing(dir.File("stderr.txt")), "c");
  EXPECT_EQ(ReadFileOrMissing(dir.File("before.out")), "ae");
  EXPECT_EQ(ReadFileOrMissing(dir.File("before.err")), "f");
}

TEST(EnsureStandardFilesTest, TheFilesItCreatesAreReadableByTheirOwnerOnly) {
  TempDir dir;
  ASSERT_TRUE(InChild(dir, [&] {
    ::umask(0);
    EnsureStandardFiles files(dir.path() + "/");
    Say(1, "diagnostics");
  }));
  for (const char* name : {"stdout.txt", "stderr.txt"}) {
    struct stat info {};
    ASSERT_EQ(::stat(dir.File(name).c_str(), &info), 0) << name;
    EXPECT_EQ(info.st_mode & 0777, 0600u) << name;
  }
}

TEST(EnsureStandardFilesTest, ANestedObjectLeavesTheOuterRedirectionInForce) {
  TempDir dir;
  TempDir other;
  ASSERT_TRUE(InChild(dir, [&] {
    EnsureStandardFiles outer(dir.path() + "/");
    {
      EnsureStandardFiles inner(other.path() + "/");
      if (inner.RedirectsOutput()) ::_exit(5);
      Say(1, "1");
    }
    Say(1, "2");  // still redirected after the inner object went
  }));
  EXPECT_EQ(ReadFileOrMissing(dir.File("stdout.txt")), "12");
  EXPECT_EQ(ReadFileOrMissing(other.File("stdout.txt")), "<missing>");
  EXPECT_EQ(ReadFileOrMissing(dir.File("before.out")), "");
}

TEST(EnsureStandardFilesTest, ExistingFilesAreAppendedTo) {
  TempDir dir;
  WriteFileBytes(dir.File("stdout.txt"), "earlier run\n");
  ASSERT_TRUE(InChild(dir, [&] {
    EnsureStandardFiles files(dir.path() + "/");
    Say(1, "x");
  }));
  EXPECT_EQ(ReadFileOrMissing(dir.File("stdout.txt")), "earlier run\nx");
}

TEST(EnsureStandardFilesTest, AClosedDescriptorIsRedirectedAndClosedAgainAfter) {
  TempDir dir;
  ASSERT_TRUE(InChild(dir, [&] {
    ::close(1);
    {
      EnsureStandardFiles files(dir.path() + "/");
      Say(1, "y");
    }
    if (::write(1, "z", 1) != -1) ::_exit(6);
  }));
  EXPECT_EQ(ReadFileOrMissing(dir.File("stdout.txt")), "y");
}

TEST(EnsureStandardFilesTest, AFolderThatCannotHoldTheFilesChangesNothing) {
  TempDir dir;
  ASSERT_TRUE(InChild(dir, [&] {
    EnsureStandardFiles files(dir.path() + "/missing/");
    if (files.RedirectsOutput()) ::_exit(5);
    Say(1, "kept");
  }));
  EXPECT_EQ(ReadFileOrMissing(dir.File("before.out")), "kept");
}

}  // namespace
}  // namespace brontel
