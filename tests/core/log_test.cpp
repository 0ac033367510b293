// Tests of the logging classes: LogList growth and stored form, log node
// display, the line splitter that shows long texts in a tree, and log files
// written and read back, including damaged ones.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "brontel/core/core_classes.h"
#include "brontel/core/log_file.h"
#include "brontel/core/log_list.h"
#include "brontel/core/log_node.h"
#include "brontel/core/log_string.h"
#include "brontel/platform/archive.h"
#include "brontel/platform/tree_view.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

// Builds archive bytes: little-endian words and dwords, raw text.
class Bytes {
 public:
  Bytes& Byte(uint8_t v) {
    m_bytes.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& Word(uint16_t v) {
    return Byte(static_cast<uint8_t>(v)).Byte(static_cast<uint8_t>(v >> 8));
  }
  Bytes& Dword(uint32_t v) {
    return Word(static_cast<uint16_t>(v)).Word(static_cast<uint16_t>(v >> 16));
  }
  Bytes& Text(const std::string& s) {
    m_bytes += s;
    return *this;
  }
  // An archive string of up to 254 bytes.
  Bytes& Str(const std::string& s) { return Byte(static_cast<uint8_t>(s.size())).Text(s); }
  // The first object of a new class: WORD 0xFFFF, schema 15, name.
  Bytes& NewClass(const std::string& name) {
    return Word(0xFFFF).Word(15).Word(static_cast<uint16_t>(name.size())).Text(name);
  }
  const std::string& str() const { return m_bytes; }

 private:
  std::string m_bytes;
};

template <class T>
std::string Store(T& obj) {
  StringSink sink;
  Archive ar(sink);
  obj.SerializeQuick(ar, Archive::kNoSchema);
  ar.Flush();
  return sink.contents();
}

template <class T>
void Load(T& obj, const std::string& bytes, uint32_t version = 15) {
  RegisterCoreClasses();
  Archive ar(bytes);
  obj.SerializeQuick(ar, version);
  EXPECT_EQ(ar.Remaining(), 0u);
}

// The texts of the children of item, in order.
std::vector<std::string> ChildTexts(const TextTree& tree, TreeItem item = kTreeRoot) {
  std::vector<std::string> texts;
  for (TreeItem child : tree.GetChildren(item)) texts.push_back(tree.GetText(child));
  return texts;
}

bool Contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// ---------------------------------------------------------------------------
// LogList

TEST(LogListTest, EmptyListDisplaysAndStoresAsCountZero) {
  LogList list;
  EXPECT_EQ(list.GetDisplayString(), "LogList[0]");
  EXPECT_EQ(list.GetListCount(), 0);
  EXPECT_EQ(list.GetCapacity(), 0);
  const std::string stored = Store(list);
  EXPECT_EQ(stored, std::string(4, '\0'));

  LogList read;
  Load(read, stored);
  EXPECT_EQ(read.GetListCount(), 0);
  EXPECT_EQ(read.GetDisplayString(), "LogList[0]");
}

TEST(LogListTest, CapacityStartsAtSixteenAndDoubles) {
  LogList list;
  struct Step {
    int32_t count;
    int32_t capacity;
  };
  const Step kSteps[] = {{1, 16}, {16, 16}, {17, 32}, {32, 32}, {33, 64}};
  for (const Step& step : kSteps) {
    while (list.GetListCount() < step.count) list.Log("entry", "text");
    EXPECT_EQ(list.GetCapacity(), step.capacity) << "after " << step.count << " entries";
  }
}

TEST(LogListTest, LoadingReplacesTheEntries) {
  LogList source;
  source.Log("one", "1");
  const std::string stored = Store(source);

  LogList list;
  list.Log("old a", "a");
  list.Log("old b", "b");
  Load(list, stored);
  ASSERT_EQ(list.GetListCount(), 1);
  EXPECT_EQ(list[0].GetName(), "one");
}

TEST(LogListTest, DisplayTreeShowsCountThenEntryNames) {
  LogList list;
  list.Log("first", "some text");
  list.Log("second", "more text");
  TextTree tree;
  TreeItem parent = tree.InsertItem("parent", kTreeRoot);
  TreeItem item = list.DisplayTree(tree, parent);
  EXPECT_EQ(tree.GetParent(item), parent);
  EXPECT_EQ(tree.GetText(item), "LogList[2]");
  EXPECT_EQ(ChildTexts(tree, item), (std::vector<std::string>{"first", "second"}));
  // Each entry's item carries the logged object for a viewer to expand.
  TreeItem first = tree.GetChildren(item)[0];
  EXPECT_EQ(tree.GetData(first), list[0].GetItem());
  EXPECT_EQ(tree.ItemCount(), 4u);
}

// ---------------------------------------------------------------------------
// LogNode

TEST(LogNodeTest, DisplayStringJoinsNameAndCarriedObject) {
  LogList inner;
  inner.Log("a", "1");
  inner.Log("b", "2");
  inner.Log("c", "3");
  LogList outer;
  outer.Log("cache before", inner);
  outer.Log("text", "hello");
  outer.Append(std::make_unique<LogNode>("bare"));
  EXPECT_EQ(outer[0].GetDisplayString(), "cache before :: LogList[3]");
  EXPECT_EQ(outer[1].GetDisplayString(), "text :: hello");
  EXPECT_EQ(outer[2].GetDisplayString(), "bare");
  EXPECT_EQ(outer[2].GetItem(), nullptr);
}

TEST(LogNodeTest, ListNodeRefersToTheLoggedList) {
  LogList inner;
  LogList outer;
  outer.Log("live", inner);
  inner.Log("added later", "x");
  EXPECT_EQ(outer[0].GetDisplayString(), "live :: LogList[1]");
  EXPECT_EQ(outer[0].GetItem(), &inner);
}

TEST(LogNodeTest, DisplayTreeInsertsOnlyTheName) {
  LogList outer;
  outer.Log("request", "<a><b/></a>");
  TextTree tree;
  TreeItem item = outer[0].DisplayTree(tree, kTreeRoot);
  EXPECT_EQ(tree.GetText(item), "request");
  EXPECT_EQ(tree.ItemCount(), 1u);
  EXPECT_EQ(tree.GetData(item), outer[0].GetItem());
}

// ---------------------------------------------------------------------------
// LogString::DisplayTree

std::vector<std::string> SplitLines(const std::string& text) {
  TextTree tree;
  LogString::DisplayTree(text, tree, kTreeRoot);
  return ChildTexts(tree);
}

std::string Repeat(const std::string& part, size_t times) {
  std::string out;
  for (size_t i = 0; i < times; ++i) out += part;
  return out;
}

TEST(LogStringTreeTest, SplitsTextIntoLines) {
  struct Case {
    const char* what;
    std::string text;
    std::vector<std::string> lines;
  };
  const std::string x130(130, 'x');
  const Case kCases[] = {
      {"short text", "hello world", {"hello world"}},
      {"empty text", "", {}},
      {"open, empty and close tags", "<a><b/></a>", {"<a><b/>", "</a>"}},
      {"no slash: split after each '>'", "<a><b>c", {"<a>", "    <b>", "        c"}},
      {"lines without '>' are cut to 80 while longer than 128",
       std::string(300, 'y'),
       {std::string(80, 'y'), std::string(80, 'y'), std::string(80, 'y'), std::string(60, 'y')}},
      {"nesting indents four spaces per level",
       "<a><b><c>" + x130 + "</c></b></a>",
       {"<a>", "    <b>", "        <c>", "            " + x130.substr(0, 80),
        "        " + x130.substr(80) + "</c>", "    </b>", "</a>"}},
      {"declaration and comment do not nest",
       "<?xml v?><!-- c --><r>" + x130 + "</r>",
       {"<?xml v?>", "<!-- c -->", "<r>", "    " + x130.substr(0, 80), x130.substr(80) + "</r>"}},
  };
  for (const Case& c : kCases) EXPECT_EQ(SplitLines(c.text), c.lines) << c.what;
}

TEST(LogStringTreeTest, ReturnsLastItemOrParent) {
  TextTree tree;
  TreeItem parent = tree.InsertItem("parent", kTreeRoot);
  EXPECT_EQ(LogString::DisplayTree("", tree, parent), parent);
  TreeItem last = LogString::DisplayTree("<a><b/></a>", tree, parent);
  EXPECT_EQ(tree.GetText(last), "</a>");
  EXPECT_EQ(tree.GetParent(last), parent);

  LogString text("one line");
  TreeItem item = text.DisplayTree(tree, parent);
  EXPECT_EQ(tree.GetText(item), "one line");
}

// Counts of marker items, and the characters that the items account for: the
// lines (indentation removed) plus the numbers in the markers.
struct Markers {
  int deleted = 0;
  int truncated = 0;
  bool truncatedIsLast = false;
  size_t characters = 0;
  size_t lines = 0;
};

Markers CountMarkers(const std::vector<std::string>& items) {
  Markers m;
  for (size_t i = 0; i < items.size(); ++i) {
    const std::string& item = items[i];
    if (Contains(item, "characters deleted")) {
      ++m.deleted;
      m.characters += std::strtoul(item.c_str() + 8, nullptr, 10);
    } else if (Contains(item, "characters truncated")) {
      ++m.truncated;
      m.truncatedIsLast = i + 1 == items.size();
      m.characters += std::strtoul(item.c_str() + 8, nullptr, 10);
    } else {
      ++m.lines;
      m.characters += item.size() - item.find_first_not_of(' ');
    }
  }
  return m;
}

TEST(LogStringTreeTest, LongTextsLoseTheirMiddleAndEnd) {
  struct Case {
    const char* what;
    std::string text;
    size_t lines;
    int deleted, truncated;
  };
  const Case kCases[] = {
      {"150 lines", Repeat("<x/>", 150), 150, 0, 0},
      // After 200 lines, 200 characters remain: half of them are dropped.
      {"250 lines", Repeat("<x/>", 250), 225, 1, 0},
      {"more than 1000 lines", Repeat("<x/>", 250000), 1000, 8, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const std::vector<std::string> items = SplitLines(c.text);
    Markers m = CountMarkers(items);
    EXPECT_EQ(m.lines, c.lines);
    EXPECT_EQ(m.deleted, c.deleted);
    EXPECT_EQ(m.truncated, c.truncated);
    EXPECT_EQ(m.truncatedIsLast, c.truncated > 0);
    EXPECT_EQ(m.characters, c.text.size());
  }
}

TEST(LogStringTreeTest, FirstCutKeepsHalfLessAThousand) {
  // 200 lines of four characters leave 999200; the last 498600 are kept.
  const std::vector<std::string> items = SplitLines(Repeat("<x/>", 250000));
  ASSERT_GT(items.size(), 201u);
  EXPECT_EQ(items[199], "<x/>");
  EXPECT_EQ(items[200], "*****...500600 characters deleted...*****");
}

TEST(LogStringTreeTest, CutThatEmptiesTheTextEndsTheDisplay) {
  TextTree tree;
  TreeItem last = LogString::DisplayTree(Repeat("<x/>", 200) + "z", tree, kTreeRoot);
  EXPECT_EQ(tree.ItemCount(), 201u);
  EXPECT_EQ(tree.GetText(last), "*****...1 characters deleted...*****");
}

// ---------------------------------------------------------------------------
// LogString

TEST(LogStringTest, QuickFormIsAnArchiveString) {
  struct Case {
    size_t length;
    std::string prefix;
  };
  const Case kCases[] = {
      {0, Bytes().Byte(0).str()},
      {254, Bytes().Byte(0xFE).str()},
      {255, Bytes().Byte(0xFF).Word(0x00FF).str()},
      {0xFFFE, Bytes().Byte(0xFF).Word(0xFFFE).str()},
      {0xFFFF, Bytes().Byte(0xFF).Word(0xFFFF).Dword(0xFFFF).str()},
      {0x10000, Bytes().Byte(0xFF).Word(0xFFFF).Dword(0x10000).str()},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "length " << c.length);
    LogString text(std::string(c.length, 'q'));
    const std::string stored = Store(text);
    EXPECT_EQ(stored, c.prefix + text.GetText());
    LogString read("previous");
    Load(read, stored, 0);
    EXPECT_EQ(read.GetText(), text.GetText());
  }
}

// Log files in a directory of the test's own.
class LogFileTest : public ::testing::Test {
 protected:
  std::string PathOf(const std::string& name) const { return m_dir.File(name); }

  // Writes list as a log file and returns its bytes.
  std::string WriteLog(const LogList& list, const std::string& name = "CalendarApi log") {
    std::string error;
    EXPECT_TRUE(WriteLogFile(PathOf("log.pff"), name, list, &error)) << error;
    return testing::ReadFileOrMissing(PathOf("log.pff"));
  }

  // Reads a log file made of bytes.
  ReadResult ReadLog(const std::string& bytes, std::unique_ptr<LogNode>* node) {
    testing::WriteFileBytes(PathOf("read.pff"), bytes);
    return ReadLogFile(PathOf("read.pff"), node);
  }

  testing::TempDir m_dir;
};

// A log with texts, a nested list and a list nested in that.
void FillSampleLog(LogList& log, LogList& pass, LogList& request) {
  request.Log("document", "<r><a/></r>");
  pass.Log("request", request);
  pass.Log("status", "ok");
  log.Log("start", "sync started");
  log.Log("server pass 0", pass);
  log.Log("end", "sync finished");
}

TEST_F(LogFileTest, TinyLogFileBytes) {
  LogList nested;
  LogList log;
  log.Log("a", "x");
  log.Log("b", "y");
  log.Log("n", nested);
  const std::string expected = Bytes()
                                   .NewClass("LogListLog")  // class 1, object 2
                                   .Str("L")
                                   .Dword(3)
                                   .NewClass("LogStringLog")  // class 3, object 4
                                   .Str("a")
                                   .Str("x")
                                   .Word(0x8003)  // object 5
                                   .Str("b")
                                   .Str("y")
                                   .Word(0x8001)  // object 6
                                   .Str("n")
                                   .Dword(0)
                                   .str();
  EXPECT_EQ(WriteLog(log, "L"), expected);
}

TEST_F(LogFileTest, WrittenLogReadsBackWithNestedLists) {
  LogList log, pass, request;
  FillSampleLog(log, pass, request);
  const std::string written = WriteLog(log);

  std::unique_ptr<LogNode> node;
  ReadResult result = ReadLogFile(PathOf("log.pff"), &node);
  ASSERT_TRUE(result.ok()) << result.message;
  EXPECT_EQ(result.offset, written.size());
  ASSERT_NE(node, nullptr);
  EXPECT_EQ(node->GetDisplayString(), "CalendarApi log :: LogList[3]");

  auto* top = dynamic_cast<LogListNode*>(node.get());
  ASSERT_NE(top, nullptr);
  const LogList& readLog = top->list();
  ASSERT_EQ(readLog.GetListCount(), 3);
  EXPECT_EQ(readLog[0].GetDisplayString(), "start :: sync started");
  EXPECT_EQ(readLog[1].GetDisplayString(), "server pass 0 :: LogList[2]");
  const LogList& readPass = dynamic_cast<const LogListNode&>(readLog[1]).list();
  EXPECT_EQ(readPass[0].GetDisplayString(), "request :: LogList[1]");
  const LogList& readRequest = dynamic_cast<const LogListNode&>(readPass[0]).list();
  EXPECT_EQ(readRequest[0].GetDisplayString(), "document :: <r><a/></r>");
  EXPECT_EQ(readLog[2].GetDisplayString(), "end :: sync finished");

  // Writing what was read gives the same bytes.
  EXPECT_EQ(WriteLog(readLog), written);
}

TEST_F(LogFileTest, ManyEntriesUseTheLargeIndexForm) {
  // Class 1 and object 2 are the list, class 3 the text entries, which then
  // take indexes 4 to 0x7FFE; the next class gets 0x7FFF and must be named
  // through the large form.
  LogList log;
  for (uint32_t index = 4; index < 0x7FFF; ++index) log.Log("", "");
  log.Append(std::make_unique<LogNode>("p"));  // class 0x7FFF, object 0x8000
  log.Append(std::make_unique<LogNode>("q"));
  log.Log("r", "s");
  const std::string written = WriteLog(log, "");
  const std::string tail = Bytes()
                               .NewClass("LogNode")
                               .Str("p")
                               .Word(0x7FFF)
                               .Dword(0x80007FFF)
                               .Str("q")
                               .Word(0x8003)
                               .Str("r")
                               .Str("s")
                               .str();
  ASSERT_GT(written.size(), tail.size());
  EXPECT_EQ(written.substr(written.size() - tail.size()), tail);

  std::unique_ptr<LogNode> node;
  ReadResult result = ReadLogFile(PathOf("log.pff"), &node);
  ASSERT_TRUE(result.ok()) << result.message;
  const LogList& read = dynamic_cast<const LogListNode&>(*node).list();
  ASSERT_EQ(read.GetListCount(), log.GetListCount());
  EXPECT_EQ(read[read.GetListCount() - 2].GetDisplayString(), "q");
  EXPECT_EQ(read[read.GetListCount() - 1].GetDisplayString(), "r :: s");
}

TEST_F(LogFileTest, TruncatedLogFailsAtEveryLength) {
  LogList log, pass, request;
  FillSampleLog(log, pass, request);
  const std::string written = WriteLog(log);
  for (size_t length = 0; length < written.size(); ++length) {
    std::unique_ptr<LogNode> node = std::make_unique<LogNode>("stale");
    ReadResult result = ReadLog(written.substr(0, length), &node);
    EXPECT_FALSE(result.ok()) << "length " << length;
    EXPECT_LE(result.offset, length);
    EXPECT_FALSE(result.message.empty());
    EXPECT_EQ(node, nullptr) << "length " << length;
  }
}

TEST_F(LogFileTest, DamagedLogFilesGiveAnError) {
  struct Case {
    const char* what;
    std::string bytes;
    ArchiveStatus status;
  };
  const Case kCases[] = {
      {"unknown class name",
       Bytes().NewClass("LogListLog").Str("L").Dword(1).NewClass("NoSuchLog").Str("a").str(),
       ArchiveStatus::kUnknownClass},
      {"back-reference to the enclosing log node",
       Bytes().NewClass("LogListLog").Str("L").Dword(1).Word(0x0002).str(),
       ArchiveStatus::kBadReference},
      {"back-reference to an earlier entry",
       Bytes()
           .NewClass("LogListLog")
           .Str("L")
           .Dword(2)
           .NewClass("LogStringLog")
           .Str("a")
           .Str("x")
           .Word(0x0004)
           .str(),
       ArchiveStatus::kBadReference},
      {"class tag naming an object",
       Bytes().NewClass("LogListLog").Str("L").Dword(1).Word(0x8002).str(),
       ArchiveStatus::kBadReference},
      {"null entry", Bytes().NewClass("LogListLog").Str("L").Dword(1).Word(0).str(),
       ArchiveStatus::kBadValue},
      {"negative count", Bytes().NewClass("LogListLog").Str("L").Dword(0xFFFFFFFF).str(),
       ArchiveStatus::kBadCount},
      {"count beyond the data",
       Bytes().NewClass("LogListLog").Str("L").Dword(0x10000000).Word(0).str(),
       ArchiveStatus::kBadCount},
      {"name longer than the data", Bytes().NewClass("LogListLog").Byte(9).Text("L").str(),
       ArchiveStatus::kBadLength},
      {"a record instead of a log node",
       Bytes().NewClass("RecordStatusHolder").Dword(0).Text("---").Byte(0).str(),
       ArchiveStatus::kWrongClass},
      {"null object", Bytes().Word(0).str(), ArchiveStatus::kBadValue},
  };
  for (const Case& c : kCases) {
    std::unique_ptr<LogNode> node;
    ReadResult result = ReadLog(c.bytes, &node);
    EXPECT_EQ(result.status, c.status) << c.what << ": " << result.message;
    EXPECT_EQ(node, nullptr) << c.what;
  }
}

TEST_F(LogFileTest, MissingFileIsReportedAsNotFound) {
  std::unique_ptr<LogNode> node;
  ReadResult result = ReadLogFile(PathOf("absent.pff"), &node);
  EXPECT_EQ(result.status, ArchiveStatus::kNotFound);
  EXPECT_FALSE(result.message.empty());
}

TEST_F(LogFileTest, ActivateOneWritesTheRawText) {
  const std::string text("line\r\n\0tail", 11);
  const std::string path = PathOf("text.txt");
  testing::WriteFileBytes(path, std::string(100, 'o'));  // replaced, not appended to
  LogString(text).Activate(1, path);
  EXPECT_EQ(testing::ReadFileOrMissing(path), text);

  for (int32_t mode : {0, 2, -1}) {
    const std::string other = PathOf("mode" + std::to_string(mode));
    LogString(text).Activate(mode, other);
    EXPECT_FALSE(std::filesystem::exists(other)) << "mode " << mode;
  }
}

TEST_F(LogFileTest, ActivateOnAnUnwritablePathDoesNothing) {
  LogString("text").Activate(1, PathOf("no/such/dir/file"));
  EXPECT_FALSE(std::filesystem::exists(PathOf("no")));
}

}  // namespace
}  // namespace brontel
