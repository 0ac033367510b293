// Tests of RegFile: the exact text of the settings files, values of every kind
// kept as they were, letter case, damaged text, loading and atomic updates
// under the lock, and where the files live.
#include "brontel/platform/reg_file.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "brontel/platform/debug_sink.h"
#include "support/faulty_file_system.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

using testing::FaultyFileSystem;
using Op = FaultyFileSystem::Op;

const std::string kTandro = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro";
const std::string kViewer = "HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro Desktop Viewer";

// A file as a registry editor exports it, with values of kinds the store only
// carries along.
const std::string kExported =
    "Windows Registry Editor Version 5.00\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]\n"
    "\"ServerSyncUrl\"=\"/tandro/kvRequest.asp\"\n"
    "\"SyncLogging\"=dword:0000001e\n"
    "\"Quoted\"=\"say \\\"hi\\\" in C:\\\\temp\"\n"
    "@=\"default value\"\n"
    "\"Blob\"=hex:01,02,03,\\\n"
    "  04,05\n"
    "\"Expand\"=hex(2):25,00,00,00\n"
    "\"Gone\"=-\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro\\Empty]\n"
    "\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other Vendor]\n"
    "\"Keep\"=dword:ffffffff\n"
    "\n";

TEST(RegFileTest, AnExportedFileReadsAndWritesBackByteForByte) {
  RegFile store = RegFile::Parse(kExported);
  EXPECT_EQ(store.skippedLines(), 0);
  EXPECT_EQ(store.ToText(), kExported);
  ASSERT_EQ(store.keys().size(), 3u);
  EXPECT_EQ(store.keys()[1].path, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro\\Empty");
  EXPECT_TRUE(store.keys()[1].values.empty());
}

TEST(RegFileTest, ValuesReadByType) {
  RegFile store = RegFile::Parse(kExported);
  struct Case {
    const char* name;
    std::optional<std::string> text;
    std::optional<uint32_t> number;
  };
  const Case cases[] = {
      {"ServerSyncUrl", "/tandro/kvRequest.asp", std::nullopt},
      {"SyncLogging", std::nullopt, 0x1e},
      {"Quoted", "say \"hi\" in C:\\temp", std::nullopt},
      {"", "default value", std::nullopt},
      {"Blob", std::nullopt, std::nullopt},
      {"Expand", std::nullopt, std::nullopt},
      {"Gone", std::nullopt, std::nullopt},
      {"Absent", std::nullopt, std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(store.GetString(kTandro, c.name), c.text);
    EXPECT_EQ(store.GetDword(kTandro, c.name), c.number);
  }
  EXPECT_EQ(store.FindValue(kTandro, "Blob")->data, "hex:01,02,03,\\\n  04,05");
  EXPECT_EQ(store.GetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Other Vendor", "Keep"), 0xffffffffu);
  EXPECT_EQ(store.GetDword("HKEY_LOCAL_MACHINE\\SOFTWARE\\Missing", "Keep"), std::nullopt);
}

TEST(RegFileTest, DwordDataMustBeOneToEightHexDigits) {
  struct Case {
    const char* data;
    std::optional<uint32_t> number;
  };
  const Case cases[] = {
      {"dword:0000001e", 0x1e},
      {"DWORD:0000001E", 0x1e},
      {"dword:1e", 0x1e},
      {"dword:  00000001", std::nullopt},
      {"dword:", std::nullopt},
      {"dword:123456789", std::nullopt},
      {"dword:0000001g", std::nullopt},
      {"dword:-1", std::nullopt},
      {"\"30\"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.data);
    RegFile store = RegFile::Parse("[" + kTandro + "]\n\"N\"=" + c.data + "\n");
    EXPECT_EQ(store.GetDword(kTandro, "N"), c.number);
    ASSERT_NE(store.FindValue(kTandro, "N"), nullptr) << "the value exists either way";
  }
}

TEST(RegFileTest, KeysAndNamesMatchWithoutCaseAndKeepTheirFirstSpelling) {
  RegFile store = RegFile::Parse(
      "[hkey_local_machine\\software\\orvelle\\tandro]\n"
      "\"synclogging\"=dword:00000002\n");
  EXPECT_EQ(store.GetDword(kTandro, "SyncLogging"), 2u);
  EXPECT_EQ(store.GetDword(kTandro + "\\", "SYNCLOGGING"), 2u) << "a closing backslash is ignored";

  store.SetDword(kTandro, "SyncLogging", 3);
  store.SetString(kTandro, "ServerSyncName", "host");
  EXPECT_EQ(store.ToText(),
            "Windows Registry Editor Version 5.00\n\n"
            "[hkey_local_machine\\software\\orvelle\\tandro]\n"
            "\"synclogging\"=dword:00000003\n"
            "\"ServerSyncName\"=\"host\"\n\n");
}

TEST(RegFileTest, SettingKeepsEveryOtherValueInItsPlace) {
  RegFile store = RegFile::Parse(kExported);
  store.SetString(kTandro, "SyncLogging", "now a text");  // changes type in place
  store.SetDword(kTandro, "Blob", 7);                     // replaces carried-along data
  store.SetDword(kViewer, "FirstDayOfWeek", 1);           // a new key goes last
  store.SetString(kTandro, "Added", "x");                 // a new value goes last in its key
  EXPECT_EQ(store.ToText(),
            "Windows Registry Editor Version 5.00\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]\n"
            "\"ServerSyncUrl\"=\"/tandro/kvRequest.asp\"\n"
            "\"SyncLogging\"=\"now a text\"\n"
            "\"Quoted\"=\"say \\\"hi\\\" in C:\\\\temp\"\n"
            "@=\"default value\"\n"
            "\"Blob\"=dword:00000007\n"
            "\"Expand\"=hex(2):25,00,00,00\n"
            "\"Gone\"=-\n"
            "\"Added\"=\"x\"\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro\\Empty]\n"
            "\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other Vendor]\n"
            "\"Keep\"=dword:ffffffff\n"
            "\n"
            "[HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro Desktop Viewer]\n"
            "\"FirstDayOfWeek\"=dword:00000001\n"
            "\n");
}

TEST(RegFileTest, TextsWithEscapedOrOddCharactersSurviveAWriteAndARead) {
  const std::string texts[] = {"",
                               "\\",
                               "\"",
                               "\\\"",
                               "a\\\\b\"\"c",
                               "trailing \\",
                               "tab\there",
                               "; not a comment",
                               "[not a key]",
                               std::string("\xC3\xA9\xFF", 3)};
  RegFile store;
  for (size_t i = 0; i < std::size(texts); ++i) {
    ASSERT_TRUE(store.SetString(kTandro, "T" + std::to_string(i), texts[i]));
  }
  RegFile again = RegFile::Parse(store.ToText());
  EXPECT_EQ(again.skippedLines(), 0);
  for (size_t i = 0; i < std::size(texts); ++i) {
    EXPECT_EQ(again.GetString(kTandro, "T" + std::to_string(i)), texts[i]) << i;
  }
}

TEST(RegFileTest, TextsStopAtAZeroByteAndCannotHoldALineBreak) {
  RegFile store;
  EXPECT_TRUE(store.SetString(kTandro, "Z", std::string("ab\0cd", 5)));
  EXPECT_EQ(store.GetString(kTandro, "Z"), "ab");
  for (const char* text : {"two\nlines", "cr\rhere"}) {
    EXPECT_FALSE(store.SetString(kTandro, "Z", text));
    EXPECT_EQ(store.GetString(kTandro, "Z"), "ab") << "a refused text changes nothing";
  }
}

TEST(RegFileTest, NamesThatWouldPlantOtherKeysAreRefused) {
  RegFile store;
  struct Case {
    std::string key, name;
  };
  for (const Case& c :
       {Case{kTandro, "A\n[HKEY_CURRENT_USER\\Evil]"}, Case{kTandro, "tab\there"},
        Case{std::string(kTandro) + "]\n[Other", "A"}, Case{std::string(kTandro) + "\rX", "A"}}) {
    EXPECT_FALSE(store.SetString(c.key, c.name, "v")) << c.name;
    EXPECT_FALSE(store.SetDword(c.key, c.name, 1)) << c.name;
  }
  EXPECT_EQ(store.ToText(), RegFile().ToText()) << "nothing was added";
}

TEST(RegFileTest, HeaderVariantsLineEndsAndCommentsAreAccepted) {
  const std::string body = "[" + kTandro + "]\n\"N\"=dword:00000005\n";
  const std::string inputs[] = {
      body,
      "\xEF\xBB\xBFWindows Registry Editor Version 5.00\n\n" + body,
      "REGEDIT4\n\n" + body,
      "Windows Registry Editor Version 5.00\r\n\r\n[" + kTandro +
          "]\r\n; a comment\r\n  \"N\" = dword:00000005  \r\n",
  };
  for (const std::string& input : inputs) {
    SCOPED_TRACE(input);
    RegFile store = RegFile::Parse(input);
    EXPECT_EQ(store.skippedLines(), 0);
    EXPECT_EQ(store.GetDword(kTandro, "N"), 5u);
  }
}

TEST(RegFileTest, DamagedLinesAreSkippedAndTheRestIsRead) {
  struct Case {
    const char* what;
    std::string line;
    int32_t skipped;
  };
  const Case cases[] = {
      {"stray text", "garbage here", 1},
      {"name without equals", "\"Lonely\"", 1},
      {"unterminated name", "\"Open=dword:00000001", 1},
      {"bad escape in name", "\"a\\qb\"=dword:00000001", 1},
      {"at sign without equals", "@dword:1", 1},
      // The value line after a damaged key line is skipped too.
      {"unterminated key", "[HKEY_LOCAL_MACHINE\\SOFTWARE", 2},
      {"empty key", "[]", 2},
      {"second header", "Windows Registry Editor Version 5.00", 1},
      {"binary bytes", std::string("\x01\x02\xff\x00z", 5), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    RegFile store = RegFile::Parse("[" + kTandro + "]\n\"Before\"=dword:00000001\n" + c.line +
                                   "\n\"After\"=\"text\"\n");
    EXPECT_EQ(store.skippedLines(), c.skipped);
    EXPECT_EQ(store.GetDword(kTandro, "Before"), 1u);
    if (c.line.front() == '[') {
      EXPECT_EQ(store.FindValue(kTandro, "After"), nullptr)
          << "values under a damaged key line belong to no key";
    } else {
      EXPECT_EQ(store.GetString(kTandro, "After"), "text");
    }
  }
  RegFile orphan = RegFile::Parse("\"NoKey\"=dword:00000001\n");
  EXPECT_EQ(orphan.skippedLines(), 1);
  EXPECT_TRUE(orphan.keys().empty());
}

TEST(RegFileTest, ARepeatedKeyOrValueReadsAsAnImportWouldApplyIt) {
  RegFile store = RegFile::Parse("[" + kTandro + "]\n\"A\"=dword:00000001\n\"B\"=\"b\"\n\n[" +
                                 kViewer + "]\n\"X\"=dword:00000002\n\n[" + kTandro +
                                 "]\n\"a\"=dword:00000009\n\"C\"=\"c\"\n");
  ASSERT_EQ(store.keys().size(), 2u);
  EXPECT_EQ(store.GetDword(kTandro, "A"), 9u);
  EXPECT_EQ(store.GetString(kTandro, "C"), "c");
  EXPECT_EQ(store.ToText(), "Windows Registry Editor Version 5.00\n\n[" + kTandro +
                                "]\n\"A\"=dword:00000009\n\"B\"=\"b\"\n\"C\"=\"c\"\n\n[" + kViewer +
                                "]\n\"X\"=dword:00000002\n\n");
}

// Damaged copies of a real file: every prefix, and each byte replaced by a few
// troublesome ones. None may crash, and what is read must write back to text
// that reads as the same store.
TEST(RegFileTest, DamagedFilesNeverCrashAndRewriteStably) {
  std::vector<std::string> inputs;
  for (size_t n = 0; n <= kExported.size(); ++n) inputs.push_back(kExported.substr(0, n));
  for (size_t at = 0; at < kExported.size(); ++at) {
    for (char replacement : {'\0', '\n', '\r', '"', '\\', '[', ']', '=', '@', ';'}) {
      std::string damaged = kExported;
      damaged[at] = replacement;
      inputs.push_back(damaged);
    }
  }
  for (const std::string& input : inputs) {
    RegFile first = RegFile::Parse(input);
    std::string text = first.ToText();
    RegFile second = RegFile::Parse(text);
    ASSERT_EQ(second.skippedLines(), 0) << input;
    ASSERT_EQ(second.ToText(), text) << input;
  }
}

class RegFileDiskTest : public ::testing::Test {
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
  std::string path = dir.File("machine.reg");
};

TEST_F(RegFileDiskTest, AMissingFileLoadsAsAnEmptyStoreWithoutComplaint) {
  RegFile store = RegFile::Parse(kExported);
  EXPECT_TRUE(store.Load(path));
  EXPECT_TRUE(store.keys().empty());
  EXPECT_TRUE(Lines().empty());
}

TEST_F(RegFileDiskTest, AFileThatCannotBeReadLoadsEmptyAndSaysSo) {
  testing::WriteFileBytes(path, kExported);
  {
    FaultyFileSystem faults;
    faults.FailNth(Op::kRead, 1);
    RegFile store;
    EXPECT_FALSE(store.Load(path));
    EXPECT_TRUE(store.keys().empty());
  }
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_NE(Lines()[0].find("Unable to read file " + path), std::string::npos);

  RegFile directory;
  EXPECT_FALSE(directory.Load(dir.path())) << "a directory is no settings file";
}

TEST_F(RegFileDiskTest, LoadReportsDamagedLines) {
  testing::WriteFileBytes(path, "[" + kTandro + "]\nnonsense\n\"N\"=dword:00000004\n");
  RegFile store;
  EXPECT_TRUE(store.Load(path));
  EXPECT_EQ(store.GetDword(kTandro, "N"), 4u);
  ASSERT_EQ(Lines().size(), 1u);
  EXPECT_NE(Lines()[0].find("Skipped 1 damaged lines of " + path), std::string::npos);
}

TEST_F(RegFileDiskTest, AnUpdateCreatesTheDirectoryTheFileAndTheLockFile) {
  const std::string nested = dir.File("config/brontel/user.reg");
  EXPECT_TRUE(UpdateRegFile(nested, [](RegFile& s) { s.SetDword(kViewer, "WorkStartTime", 9); }));
  EXPECT_EQ(testing::ReadFileOrMissing(nested), "Windows Registry Editor Version 5.00\n\n[" +
                                                    kViewer +
                                                    "]\n\"WorkStartTime\"=dword:00000009\n\n");
  EXPECT_EQ(testing::ReadFileOrMissing(nested + ".lck"), "");
}

TEST_F(RegFileDiskTest, AnUpdateKeepsTheRestOfTheFile) {
  testing::WriteFileBytes(path, kExported);
  ASSERT_TRUE(UpdateRegFile(path, [](RegFile& s) { s.SetDword(kTandro, "SyncLogging", 1); }));
  std::string expected = kExported;
  expected.replace(expected.find("dword:0000001e"), 14, "dword:00000001");
  EXPECT_EQ(testing::ReadFileOrMissing(path), expected);
  EXPECT_EQ(dir.Listing(), "machine.reg machine.reg.lck");
}

TEST_F(RegFileDiskTest, AFailedUpdateLeavesTheFileAsItWas) {
  struct Case {
    Op op;
    const char* what;
  };
  const Case cases[] = {{Op::kRead, "unreadable file"},
                        {Op::kWrite, "disk full"},
                        {Op::kFsync, "sync fails"},
                        {Op::kRename, "rename fails"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    testing::WriteFileBytes(path, kExported);
    FaultyFileSystem faults;
    faults.FailNth(c.op, 1);
    bool changed = false;
    EXPECT_FALSE(UpdateRegFile(path, [&](RegFile& s) {
      changed = true;
      s.SetDword(kTandro, "SyncLogging", 1);
    }));
    EXPECT_EQ(changed, c.op != Op::kRead) << "an unreadable file is not changed at all";
    EXPECT_EQ(testing::ReadFileOrMissing(path), kExported);
  }
  EXPECT_EQ(dir.Listing(), "machine.reg machine.reg.lck");
}

TEST_F(RegFileDiskTest, AnUpdateWhereNoDirectoryCanBeMadeFailsQuietly) {
  testing::WriteFileBytes(dir.File("plain"), "");
  EXPECT_FALSE(UpdateRegFile(dir.File("plain/user.reg"), [](RegFile&) {}));
  ASSERT_FALSE(Lines().empty());
  EXPECT_NE(Lines()[0].find("Unable to create directory"), std::string::npos);
}

// Read-modify-write cycles from several threads: the lock makes each one whole,
// so no increment is lost.
TEST_F(RegFileDiskTest, ConcurrentUpdatesLoseNothing) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 25;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int r = 0; r < kRounds; ++r) {
        UpdateRegFile(
            path,
            [&](RegFile& s) {
              s.SetDword(kTandro, "Count", s.GetDword(kTandro, "Count").value_or(0) + 1);
              s.SetDword(kTandro, "T" + std::to_string(t), static_cast<uint32_t>(r + 1));
            },
            FileLockTiming{std::chrono::milliseconds(1), std::chrono::milliseconds(0)});
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  RegFile store;
  ASSERT_TRUE(store.Load(path));
  EXPECT_EQ(store.GetDword(kTandro, "Count"), static_cast<uint32_t>(kThreads * kRounds));
  for (int t = 0; t < kThreads; ++t) {
    EXPECT_EQ(store.GetDword(kTandro, "T" + std::to_string(t)), static_cast<uint32_t>(kRounds));
  }
}

// Sets or clears environment variables for one test and restores them after.
class ScopedEnvironment {
 public:
  void Set(const char* name, const char* value) {
    const char* old = std::getenv(name);
    m_saved.push_back({name, old != nullptr, old != nullptr ? old : ""});
    if (value != nullptr) {
      setenv(name, value, 1);
    } else {
      unsetenv(name);
    }
  }
  ~ScopedEnvironment() {
    for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
      if (it->present) {
        setenv(it->name.c_str(), it->value.c_str(), 1);
      } else {
        unsetenv(it->name.c_str());
      }
    }
  }

 private:
  struct Saved {
    std::string name;
    bool present;
    std::string value;
  };
  std::vector<Saved> m_saved;
};

TEST(RegistryDirectoryTest, TheFirstSetVariableNamesTheDirectory) {
  struct Case {
    const char* own;
    const char* config;
    const char* home;
    const char* expected;
  };
  const Case cases[] = {
      {"/r/own", "/r/xdg", "/r/home", "/r/own"},
      {nullptr, "/r/xdg", "/r/home", "/r/xdg/brontel"},
      {"", "/r/xdg", "/r/home", "/r/xdg/brontel"},
      {nullptr, nullptr, "/r/home", "/r/home/.config/brontel"},
      {"", "", "/r/home", "/r/home/.config/brontel"},
  };
  for (const Case& c : cases) {
    ScopedEnvironment env;
    env.Set("BRONTEL_REGISTRY_DIR", c.own);
    env.Set("XDG_CONFIG_HOME", c.config);
    env.Set("HOME", c.home);
    EXPECT_EQ(RegistryDirectory(), c.expected);
  }
}

}  // namespace
}  // namespace brontel
