// Tests of the BrontelAPI facade (build tag, hex dump, shared enumerations) and
// of showing a stored file as a tree.
#include "brontel/api/brontel_api.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "brontel/api/stored_file_view.h"
#include "brontel/core/log_file.h"
#include "brontel/core/log_list.h"
#include "brontel/platform/tree_view.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

std::vector<std::string> ChildTexts(const TextTree& tree, TreeItem item) {
  std::vector<std::string> texts;
  for (TreeItem child : tree.GetChildren(item)) texts.push_back(tree.GetText(child));
  return texts;
}

TEST(BrontelApiTest, VersionIsTheBuildTag) {
  EXPECT_EQ(BrontelAPI::GetVersion(), "BRy2000m03d29t1052");
}

// The items that DisplayTree adds for bytes under a parent that already has
// one child.
std::vector<std::string> HexRows(const std::vector<uint8_t>& bytes) {
  TextTree tree;
  TreeItem parent = tree.InsertItem("parent", kTreeRoot);
  tree.InsertItem("existing", parent);
  EXPECT_EQ(BrontelAPI::DisplayTree(tree, parent, static_cast<int32_t>(bytes.size()), bytes.data()),
            parent);
  std::vector<std::string> rows = ChildTexts(tree, parent);
  EXPECT_EQ(rows.front(), "existing");  // new rows go last
  rows.erase(rows.begin());
  return rows;
}

std::vector<uint8_t> Sequence(size_t length) {
  std::vector<uint8_t> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 0x0B);
  return bytes;
}

// Upper-case hex of bytes[begin, end), each byte followed by a space.
std::string HexOf(const std::vector<uint8_t>& bytes, size_t begin, size_t end) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = begin; i < end; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0xF];
    text += ' ';
  }
  return text;
}

TEST(BrontelApiTest, HexDumpRowsHoldThirtyTwoBytes) {
  EXPECT_EQ(HexRows({0x0A, 0xF0}), std::vector<std::string>{"0A F0 "});
  EXPECT_EQ(HexRows({}), std::vector<std::string>{});
  EXPECT_EQ(HexRows({0x00, 0xFF, 0x9C}), std::vector<std::string>{"00 FF 9C "});

  struct Case {
    size_t length;
    size_t rows;
  };
  const Case kCases[] = {{1, 1}, {31, 1}, {32, 1}, {33, 2}, {64, 2}, {65, 3}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length);
    const std::vector<uint8_t> bytes = Sequence(c.length);
    const std::vector<std::string> rows = HexRows(bytes);
    ASSERT_EQ(rows.size(), c.rows);
    for (size_t row = 0; row < rows.size(); ++row) {
      EXPECT_EQ(rows[row], HexOf(bytes, row * 32, std::min(c.length, row * 32 + 32)));
    }
  }
  const std::vector<std::string> rows = HexRows(Sequence(33));
  EXPECT_EQ(rows[0].size(), 96u);
  EXPECT_EQ(rows[1], "EB ");  // 32 * 7 + 0x0B
}

TEST(BrontelApiTest, EnumerationsKeepTheirNumbers) {
  struct Case {
    const char* name;
    uint32_t value, expected;
  };
  const Case kCases[] = {
      {"ERR_NONE", BrontelAPI::ERR_NONE, 0},
      {"ERR_XML_PARSE", BrontelAPI::ERR_XML_PARSE, 2},
      {"ERR_EMPTY_RESPONSE", BrontelAPI::ERR_EMPTY_RESPONSE, 4},
      {"ERR_NO_CHILD_ELEMENTS", BrontelAPI::ERR_NO_CHILD_ELEMENTS, 5},
      {"ERR_WRONG_ROOT", BrontelAPI::ERR_WRONG_ROOT, 6},
      {"ERR_CONNECTION", BrontelAPI::ERR_CONNECTION, 7},
      {"ERR_SERVER_QUERY", BrontelAPI::ERR_SERVER_QUERY, 8},
      {"ERR_NO_SERVER_UPDATE", BrontelAPI::ERR_NO_SERVER_UPDATE, 9},
      {"ERR_SERVER_FAILURE", BrontelAPI::ERR_SERVER_FAILURE, 10},
      {"ERR_CONFLICTING_ACCOUNTS", BrontelAPI::ERR_CONFLICTING_ACCOUNTS, 11},
      {"ERR_TOO_MANY_CATEGORIES", BrontelAPI::ERR_TOO_MANY_CATEGORIES, 13},
      {"ERR_NOT_IMPLEMENTED", BrontelAPI::ERR_NOT_IMPLEMENTED, 14},
      {"SOURCE_NONE", BrontelAPI::SOURCE_NONE, 0},
      {"SOURCE_DESKTOP", BrontelAPI::SOURCE_DESKTOP, 1},
      {"SOURCE_HANDHELD", BrontelAPI::SOURCE_HANDHELD, 2},
      {"SOURCE_SERVER", BrontelAPI::SOURCE_SERVER, 3},
      {"justGettingStarted", BrontelAPI::justGettingStarted, 0},
      {"waitingForPriorSyncToComplete", BrontelAPI::waitingForPriorSyncToComplete, 1},
      {"gettingSyncDataReady", BrontelAPI::gettingSyncDataReady, 2},
      {"grabbingLatestChanges", BrontelAPI::grabbingLatestChanges, 4},
      {"sendingChangesToServer", BrontelAPI::sendingChangesToServer, 5},
      {"syncingWithServerData", BrontelAPI::syncingWithServerData, 6},
      {"allDoneNow", BrontelAPI::allDoneNow, 7},
  };
  for (const Case& c : kCases) EXPECT_EQ(c.value, c.expected) << c.name;

  // The types are reachable through the facade too, and hold 32 bits.
  static_assert(sizeof(BrontelAPI::br_error) == 4);
  static_assert(sizeof(BrontelAPI::BR_SOURCE) == 4);
  static_assert(sizeof(BrontelAPI::SyncCallBackProgress) == 4);
  BrontelAPI::br_error error = BrontelAPI::ERR_NONE;
  EXPECT_EQ(error, ERR_NONE);
}

// Stored files in a directory of the test's own.
class StoredFileViewTest : public ::testing::Test {
 protected:
  // Writes a log with a text, a nested list holding a list, and a text, and
  // returns its bytes.
  std::string WriteSampleLog() {
    LogList inner;
    inner.Log("deep", "<r><a/></r>");
    LogList pass;
    pass.Log("request", inner);
    pass.Log("status", "ok");
    LogList log;
    log.Log("start", "sync started");
    log.Log("server pass 0", pass);
    log.Log("end", "done");
    std::string error;
    EXPECT_TRUE(WriteLogFile(m_path, "CalendarApi log", log, &error)) << error;
    return testing::ReadFileOrMissing(m_path);
  }

  void WriteBytes(const std::string& bytes) { testing::WriteFileBytes(m_path, bytes); }

  testing::TempDir m_dir;
  const std::string m_path = m_dir.File("log.pff");
};

TEST_F(StoredFileViewTest, LogShowsNestedNodesAndTheirContents) {
  WriteSampleLog();
  TextTree tree;
  ReadResult result = DisplayStoredFile(m_path, tree);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(tree.Render(),
            "CalendarApi log\n"
            "  LogList[3]\n"
            "    start\n"
            "      sync started\n"
            "    server pass 0\n"
            "      LogList[2]\n"
            "        request\n"
            "          LogList[1]\n"
            "            deep\n"
            "              <r><a/>\n"
            "              </r>\n"
            "        status\n"
            "          ok\n"
            "    end\n"
            "      done\n");
  for (TreeItem item = 1; item <= tree.ItemCount(); ++item) {
    EXPECT_EQ(tree.GetData(item), nullptr) << tree.GetText(item);
  }
}

TEST_F(StoredFileViewTest, DamagedFileGivesStatusAndOffset) {
  const std::string written = WriteSampleLog();
  WriteBytes(written.substr(0, written.size() - 3));
  TextTree tree;
  ReadResult result = DisplayStoredFile(m_path, tree);
  EXPECT_FALSE(result.ok());
  EXPECT_EQ(result.status, ArchiveStatus::kBadLength);  // the last text is cut short
  EXPECT_EQ(result.offset, written.size() - 4);
  EXPECT_NE(result.message.find(m_path), std::string::npos) << result.message;
  EXPECT_EQ(tree.ItemCount(), 0u);
}

TEST_F(StoredFileViewTest, UnknownClassAndMissingFileAreReported) {
  const std::string unknown(
      "\xFF\xFF\x0F\x00\x05\x00"
      "Bogus",
      11);
  WriteBytes(unknown);
  TextTree tree;
  ReadResult result = DisplayStoredFile(m_path, tree);
  EXPECT_EQ(result.status, ArchiveStatus::kUnknownClass);
  EXPECT_EQ(result.offset, unknown.size());

  result = DisplayStoredFile(m_dir.File("absent.pff"), tree);
  EXPECT_EQ(result.status, ArchiveStatus::kNotFound);
  EXPECT_EQ(tree.ItemCount(), 0u);
}

TEST_F(StoredFileViewTest, RecordObjectShowsItsClassName) {
  WriteBytes(std::string("\xFF\xFF\x0F\x00\x12\x00RecordStatusHolder\xFF\xFF\xFF\xFF---\x01", 32));
  TextTree tree;
  ReadResult result = DisplayStoredFile(m_path, tree);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(tree.Render(), "RecordStatusHolder\n");
}

}  // namespace
}  // namespace brontel
