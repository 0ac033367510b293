// Tests of ClipboardSlot: a text goes in whole and comes out once, formats are
// apart, the folder is made private and a folder that is not private is not
// used, and a failed write keeps the text held before.
#include "brontel/platform/clipboard_slot.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <string>

#include "support/faulty_file_system.h"
#include "support/scoped_environment.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using testing::ScopedEnvironment;

constexpr uint32_t kFormat = 0xC0DE;
constexpr uint32_t kOtherFormat = 0xC0DF;

class ClipboardSlotTest : public ::testing::Test {
 protected:
  std::string Folder() const { return runtime.File("brontel"); }

  testing::TempDir runtime;
  ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path()};
};

TEST_F(ClipboardSlotTest, ATextIsTakenOnceWithAllItsBytes) {
  const std::string text("line 1\nline 2\0after zero \xe9", 26);
  ASSERT_TRUE(ClipboardSlot::Put(kFormat, text));

  EXPECT_EQ(ClipboardSlot::Take(kFormat), text);
  EXPECT_EQ(ClipboardSlot::Take(kFormat), std::nullopt);
  EXPECT_EQ(runtime.Listing(), "brontel");
  EXPECT_TRUE(std::filesystem::is_empty(Folder())) << "no slot or temporary file is left";
}

TEST_F(ClipboardSlotTest, ANewTextReplacesTheOldAndFormatsAreApart) {
  ASSERT_TRUE(ClipboardSlot::Put(kFormat, "old"));
  ASSERT_TRUE(ClipboardSlot::Put(kFormat, "new"));
  ASSERT_TRUE(ClipboardSlot::Put(kOtherFormat, "other"));
  ASSERT_TRUE(ClipboardSlot::Put(kOtherFormat, ""));

  EXPECT_EQ(ClipboardSlot::Take(kFormat), "new");
  EXPECT_EQ(ClipboardSlot::Take(kOtherFormat), "") << "an empty text is held too";
  EXPECT_EQ(ClipboardSlot::Take(kOtherFormat), std::nullopt);
}

TEST_F(ClipboardSlotTest, TheFolderIsInTheRuntimeFolderElseInTmpAndOnlyTheUsersOwn) {
  EXPECT_EQ(ClipboardSlot::Folder(), Folder());
  EXPECT_EQ(ClipboardSlot::SlotPath(0xC0DE), Folder() + "/clipboard-C0DE");
  ASSERT_TRUE(ClipboardSlot::Put(kFormat, "x"));
  struct stat status;
  ASSERT_EQ(::lstat(Folder().c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0700u);

  const std::string tmpFolder = "/tmp/brontel-" + std::to_string(::getuid());
  for (const std::optional<std::string>& unset :
       {std::optional<std::string>(), std::optional<std::string>("")}) {
    ScopedEnvironment noRuntime("XDG_RUNTIME_DIR", unset);
    EXPECT_EQ(ClipboardSlot::Folder(), tmpFolder);
  }
}

TEST_F(ClipboardSlotTest, AFolderThatIsNotPrivateIsNotUsed) {
  testing::TempDir elsewhere;
  const std::function<void()> spoilers[] = {
      [&] { ::mkdir(Folder().c_str(), 0755); },
      [&] { testing::WriteFileBytes(Folder(), "a file"); },
      [&] { std::filesystem::create_directory_symlink(elsewhere.path(), Folder()); },
  };
  for (const auto& spoil : spoilers) {
    std::filesystem::remove_all(Folder());
    spoil();
    EXPECT_FALSE(ClipboardSlot::Put(kFormat, "secret"));
    EXPECT_EQ(ClipboardSlot::Take(kFormat), std::nullopt);
  }
  EXPECT_EQ(elsewhere.Listing(), "");
}

TEST_F(ClipboardSlotTest, AFailedWriteKeepsTheTextHeldBefore) {
  ASSERT_TRUE(ClipboardSlot::Put(kFormat, "before"));
  {
    testing::FaultyFileSystem faults;
    faults.FailNth(testing::FaultyFileSystem::Op::kWrite, 1);
    EXPECT_FALSE(ClipboardSlot::Put(kFormat, "after"));
  }
  EXPECT_EQ(ClipboardSlot::Take(kFormat), "before");
}

}  // namespace
}  // namespace brontel
