#include "brontel/platform/file_system.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>

#include "brontel/platform/archive_file.h"
#include "brontel/platform/debug_sink.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using testing::FaultyFileSystem;
using Op = FaultyFileSystem::Op;

class FileSystemTest : public ::testing::Test {
 protected:
  // Replaces the file with bytes written in chunks, so a big file takes many writes.
  bool Replace(const std::string& bytes, std::string* error) {
    return ReplaceFileAtomically(
        path,
        [&](ByteSink& sink) {
          for (size_t at = 0; at < bytes.size(); at += 1000) {
            if (!sink.Append(reinterpret_cast<const uint8_t*>(bytes.data()) + at,
                             std::min<size_t>(1000, bytes.size() - at))) {
              return;
            }
          }
        },
        error);
  }

  testing::TempDir dir;
  std::string path = dir.File("data.bin");
};

TEST_F(FileSystemTest, ReplacementWritesTheNewBytesAndLeavesNoTemporaryFile) {
  std::string error;
  testing::WriteFileBytes(path, "old");
  ASSERT_TRUE(Replace("new contents", &error)) << error;
  EXPECT_EQ(testing::ReadFileOrMissing(path), "new contents");
  EXPECT_EQ(dir.Listing(), "data.bin");
}

TEST_F(FileSystemTest, EveryFailingStepLeavesTheOldFileWhole) {
  const std::string old(10000, 'o');
  const std::string replacement(5000, 'n');
  struct Case {
    Op op;
    int nth;
  };
  const Case cases[] = {{Op::kWrite, 1}, {Op::kWrite, 3}, {Op::kFsync, 1}, {Op::kRename, 1}};
  for (const Case& c : cases) {
    for (bool persistent : {false, true}) {
      testing::WriteFileBytes(path, old);
      FaultyFileSystem faults;
      faults.FailNth(c.op, c.nth, persistent);
      std::string error;
      EXPECT_FALSE(Replace(replacement, &error));
      EXPECT_FALSE(error.empty());
      EXPECT_EQ(testing::ReadFileOrMissing(path), old);
      EXPECT_EQ(dir.Listing(), "data.bin") << "temporary file left behind";
    }
  }
}

TEST_F(FileSystemTest, ReadingAMissingFileNamesItOnTheDebugOutput) {
  static std::string seen;
  SetDebugSink([](const std::string& line) { seen = line; });
  std::string contents, error;
  EXPECT_FALSE(ReadWholeFile(dir.File("absent"), &contents, &error));
  SetDebugSink(nullptr);
  EXPECT_NE(error.find("Unable to open file"), std::string::npos);
  EXPECT_EQ(seen, error);
}

// A file system whose reads return at most 1000 bytes, as a pipe or a
// network file system may.
class ShortReads : public FileSystem {
 public:
  ShortReads() { m_previous = FileSystem::Install(this); }
  ~ShortReads() override { FileSystem::Install(m_previous); }
  int64_t Read(int fd, void* buffer, size_t size) override {
    return FileSystem::Read(fd, buffer, std::min<size_t>(size, 1000));
  }

 private:
  FileSystem* m_previous;
};

TEST_F(FileSystemTest, WholeFilesAreReadBackWhateverTheirSizeAndTheReadsReturn) {
  for (size_t size :
       {size_t{0}, size_t{1}, size_t{999}, size_t{65536}, size_t{65537}, size_t{300001}}) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 7 + i / 251);
    testing::WriteFileBytes(path, bytes);
    for (bool shortReads : {false, true}) {
      SCOPED_TRACE(::testing::Message() << size << " bytes, short reads " << shortReads);
      std::unique_ptr<ShortReads> fs = shortReads ? std::make_unique<ShortReads>() : nullptr;
      std::string contents = "left over";
      std::string error;
      ASSERT_TRUE(ReadWholeFile(path, &contents, &error)) << error;
      EXPECT_EQ(contents, bytes);
    }
  }
}

TEST_F(FileSystemTest, ArchiveFilesReportReadFaultsAndDamage) {
  std::string error;
  ASSERT_TRUE(WriteArchiveFile(
      path, [](Archive& ar) { ar.WriteString(std::string(9000, 'x')); }, &error));
  {
    FaultyFileSystem faults;
    faults.FailNth(Op::kRead, 2);
    ReadResult result = ReadArchiveFile(path, [](Archive& ar) { ar.ReadString(); });
    EXPECT_EQ(result.status, ArchiveStatus::kIoError);
  }
  testing::WriteFileBytes(path, std::string("\xFF\x10\x00", 3));
  ReadResult result = ReadArchiveFile(path, [](Archive& ar) { ar.ReadString(); });
  EXPECT_EQ(result.status, ArchiveStatus::kBadLength);
  EXPECT_EQ(result.offset, 3u);
  EXPECT_NE(result.message.find(path), std::string::npos);
}

}  // namespace
}  // namespace brontel
