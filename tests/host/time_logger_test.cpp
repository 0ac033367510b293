// Tests of TimeLogger: the exact text of its lines, nesting and closing by name,
// the depth limit, and when the log file is written.
#include "brontel/host/time_logger.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "brontel/platform/debug_sink.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

const std::string kHeader = "     DELTA\r\n";

// A clock the test sets by hand.
struct ManualClock {
  int64_t now = 0;
  TimeLogger::ClockFunction Function() {
    return [this] { return now; };
  }
};

// The log without its header line.
std::string Body(const TimeLogger& logger) {
  return logger.GetLog().substr(kHeader.size());
}

std::vector<std::string> BodyLines(const TimeLogger& logger) {
  std::vector<std::string> lines;
  std::string body = Body(logger);
  for (size_t at = 0; at < body.size();) {
    size_t end = body.find("\r\n", at);
    lines.push_back(body.substr(at, end - at));
    at = end + 2;
  }
  return lines;
}

TEST(TimeLoggerTest, ANewLoggerHoldsTheHeaderAlone) {
  ManualClock clock;
  TimeLogger logger(clock.Function());
  EXPECT_EQ(logger.GetLog(), kHeader);
  EXPECT_EQ(logger.GetDepth(), 0);
}

TEST(TimeLoggerTest, ABeginLineGivesSecondsSinceTheLastMarkAndSinceTheStageBegan) {
  ManualClock clock;
  TimeLogger logger(clock.Function());
  logger.MarkBegin("a", 1000);
  EXPECT_EQ(logger.GetLog(), kHeader + "      1.00       0.00 a begin\r\n");
  EXPECT_EQ(logger.GetDepth(), 1);
}

TEST(TimeLoggerTest, NestedStagesPrintOneColumnPerOpenStageOutermostFirst) {
  ManualClock clock{500};
  TimeLogger logger(clock.Function());
  logger.MarkBegin("Sync", 1000);
  logger.MarkBegin("Read Cache", 1250);
  logger.MarkEnd(4000);
  logger.MarkBegin("Write Cache", 4010);
  logger.MarkEnd(int64_t{4020});
  logger.MarkEnd("Sync", 123400);
  EXPECT_EQ(Body(logger),
            "      0.50       0.00 Sync begin\r\n"
            "      0.25       0.25       0.00 Read Cache begin\r\n"
            "      2.75       3.00       2.75 Read Cache end\r\n"
            "      0.01       3.01       0.00 Write Cache begin\r\n"
            "      0.01       3.02       0.01 Write Cache end\r\n"
            "    119.38     122.40 Sync end\r\n");
  EXPECT_EQ(logger.GetDepth(), 1) << "closing the outermost stage leaves depth 1";
}

TEST(TimeLoggerTest, FormsWithoutATimeReadTheClock) {
  ManualClock clock{100};
  TimeLogger logger(clock.Function());
  clock.now = 1100;
  logger.MarkBegin("outer");
  clock.now = 1600;
  logger.MarkBegin("inner");
  clock.now = 2100;
  logger.MarkEnd();
  clock.now = 3100;
  logger.MarkEnd("outer");
  EXPECT_EQ(Body(logger),
            "      1.00       0.00 outer begin\r\n"
            "      0.50       0.50       0.00 inner begin\r\n"
            "      0.50       1.00       0.50 inner end\r\n"
            "      1.00       2.00 outer end\r\n");
}

TEST(TimeLoggerTest, ClosingByNameClosesEveryStageInsideTheNamedOne) {
  ManualClock clock;
  TimeLogger logger(clock.Function());
  for (const char* label : {"a", "b", "c", "d"}) logger.MarkBegin(label, 0);
  logger.MarkEnd("b", 0);
  std::vector<std::string> lines = BodyLines(logger);
  ASSERT_EQ(lines.size(), 7u);
  EXPECT_NE(lines[4].find(" d end"), std::string::npos);
  EXPECT_NE(lines[5].find(" c end"), std::string::npos);
  EXPECT_NE(lines[6].find(" b end"), std::string::npos);
  EXPECT_EQ(logger.GetDepth(), 1);
}

TEST(TimeLoggerTest, ClosingByAnUnknownNameClosesTheOpenStages) {
  struct Case {
    std::vector<std::string> open;
    std::vector<std::string> closedLabels;  // labels of the end lines, in order
  };
  const Case cases[] = {
      {{"only"}, {"only"}},
      {{"a", "b", "c"}, {"c", "b", "a"}},
  };
  for (const Case& c : cases) {
    ManualClock clock;
    TimeLogger logger(clock.Function());
    for (const std::string& label : c.open) logger.MarkBegin(label, 0);
    logger.MarkEnd("nowhere", 0);
    std::vector<std::string> lines = BodyLines(logger);
    ASSERT_EQ(lines.size(), c.open.size() + c.closedLabels.size());
    for (size_t i = 0; i < c.closedLabels.size(); ++i) {
      const std::string& line = lines[c.open.size() + i];
      EXPECT_EQ(line.substr(line.size() - c.closedLabels[i].size() - 4),
                c.closedLabels[i] + " end");
    }
    EXPECT_EQ(logger.GetDepth(), 1);
  }
}

TEST(TimeLoggerTest, AnEndWithoutAnOpenStageLogsAnEmptyNameAndKeepsDepthOne) {
  ManualClock clock{0};
  TimeLogger logger(clock.Function());
  logger.MarkEnd(2000);
  logger.MarkEnd(3000);
  EXPECT_EQ(Body(logger),
            "      2.00       2.00  end\r\n"
            "      1.00       3.00  end\r\n");
  EXPECT_EQ(logger.GetDepth(), 1);
  logger.MarkBegin("next", 3000);
  EXPECT_EQ(logger.GetDepth(), 2) << "the outermost slot never closes";
}

TEST(TimeLoggerTest, TheTwentiethNestedStageReplacesTheNineteenth) {
  ManualClock clock;
  TimeLogger logger(clock.Function());
  for (int i = 1; i <= 20; ++i) logger.MarkBegin("s" + std::to_string(i), i * 1000);
  EXPECT_EQ(logger.GetDepth(), 19);
  std::vector<std::string> lines = BodyLines(logger);
  ASSERT_EQ(lines.size(), 20u);
  // Stage 0 column plus 19 stages, 11 characters each, then the name.
  EXPECT_EQ(lines[19].size(), 20u * 11 + std::string("s20 begin").size());
  EXPECT_EQ(lines[19].substr(lines[19].size() - 9), "s20 begin");

  logger.MarkEnd("s19", 30000);  // s19 was replaced, so this closes everything
  lines = BodyLines(logger);
  EXPECT_EQ(lines[20].substr(lines[20].size() - 7), "s20 end");
  EXPECT_EQ(lines.back().substr(lines.back().size() - 6), "s1 end");
  EXPECT_EQ(logger.GetDepth(), 1);
}

TEST(TimeLoggerTest, TheProcessClockGivesNonNegativeTimes) {
  TimeLogger logger;
  logger.MarkBegin("stage");
  logger.MarkEnd();
  EXPECT_EQ(logger.GetLog().find('-'), std::string::npos) << logger.GetLog();
  EXPECT_EQ(BodyLines(logger).size(), 2u);
}

class TimeLoggerFileTest : public ::testing::Test {
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

  testing::TempDir dir;
  std::string path = dir.File("time_log.txt");
  ManualClock clock;
};

TEST_F(TimeLoggerFileTest, TheFlagsDecideWhenTheFileIsWritten) {
  struct Case {
    bool usePath, everyEntry, onDestruction;
    bool writtenAfterMarks, writtenAfterDestruction;
  };
  const Case cases[] = {
      {true, false, false, false, false}, {true, true, false, true, true},
      {true, false, true, false, true},   {true, true, true, true, true},
      {false, true, true, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << c.usePath << c.everyEntry << c.onDestruction);
    std::remove(path.c_str());
    std::string log;
    {
      TimeLogger logger(clock.Function());
      logger.SetLogPath(c.usePath ? path : "", c.everyEntry, c.onDestruction);
      logger.MarkBegin("a", 10);
      logger.MarkEnd(20);
      log = logger.GetLog();
      EXPECT_EQ(testing::ReadFileOrMissing(path), c.writtenAfterMarks ? log : "<missing>");
    }
    EXPECT_EQ(testing::ReadFileOrMissing(path), c.writtenAfterDestruction ? log : "<missing>");
    EXPECT_EQ(dir.Listing(), c.writtenAfterDestruction ? "time_log.txt" : "");
  }
  EXPECT_TRUE(Lines().empty());
}

TEST_F(TimeLoggerFileTest, EveryWriteReplacesTheWholeFile) {
  testing::WriteFileBytes(path, std::string(5000, 'x'));
  TimeLogger logger(clock.Function());
  logger.SetLogPath(path, true, false);
  logger.MarkBegin("a", 10);
  EXPECT_EQ(testing::ReadFileOrMissing(path), logger.GetLog());
  logger.MarkEnd(20);
  EXPECT_EQ(testing::ReadFileOrMissing(path), logger.GetLog());
}

TEST_F(TimeLoggerFileTest, AFileThatCannotBeWrittenLeavesADiagnosticLine) {
  {
    TimeLogger logger(clock.Function());
    logger.SetLogPath(dir.File("absent/time_log.txt"), true, true);
    logger.MarkBegin("a", 10);
    EXPECT_EQ(Lines().size(), 1u);
    EXPECT_NE(Lines()[0].find("Unable to open file " + dir.File("absent/time_log.txt")),
              std::string::npos);
  }
  EXPECT_EQ(Lines().size(), 2u) << "destruction tried once more";

  Lines().clear();
  testing::FaultyFileSystem faults;
  faults.FailNth(testing::FaultyFileSystem::Op::kWrite, 1);
  TimeLogger logger(clock.Function());
  logger.SetLogPath(path, true, false);
  logger.MarkBegin("a", 10);
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_NE(Lines()[0].find("Unable to write file " + path), std::string::npos);
  logger.MarkEnd(20);
  EXPECT_EQ(testing::ReadFileOrMissing(path), logger.GetLog()) << "the next entry writes again";
}

}  // namespace
}  // namespace brontel
