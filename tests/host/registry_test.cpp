// Tests of CRegistry and CVersion: defaults on an empty store, every named
// setting in its root and key, the exact file text, values of the wrong type,
// long texts, web-content rights, the version table and the store's location.
#include "brontel/host/registry.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace brontel {
namespace {

using Root = CRegistry::Root;

const char kHeader[] = "Windows Registry Editor Version 5.00\n\n";
const std::string kMachineTandro = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]\n";

class RegistryTest : public ::testing::Test {
 protected:
  std::string Machine() const { return testing::ReadFileOrMissing(dir.File("machine.reg")); }
  std::string User() const { return testing::ReadFileOrMissing(dir.File("user.reg")); }
  void WriteMachine(const std::string& body) {
    testing::WriteFileBytes(dir.File("machine.reg"), kHeader + body);
  }

  testing::TempDir dir;
  CRegistry registry{dir.path()};
};

using IntGetter = int32_t (CRegistry::*)() const;
using IntSetter = void (CRegistry::*)(int32_t);
using TextGetter = std::string (CRegistry::*)() const;
using TextSetter = void (CRegistry::*)(const std::string&);

struct IntSetting {
  const char* name;
  IntGetter get;
  IntSetter set;
  int32_t defaultValue;
  Root root;
  const char* section;  // the key line in the file
};

const IntSetting kIntSettings[] = {
    {"ServerSyncQuestionStatus", &CRegistry::GetServerSyncQuestionStatus,
     &CRegistry::SetServerSyncQuestionStatus, 2, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"ConduitAnswerStatus", &CRegistry::GetConduitAnswerStatus, &CRegistry::SetConduitAnswerStatus,
     2, Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"SyncLogging", &CRegistry::GetSyncLogging, &CRegistry::SetSyncLogging, 0, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"EchoLogging", &CRegistry::GetEchoLogging, &CRegistry::SetEchoLogging, 0, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"TimeLogging", &CRegistry::GetTimeLogging, &CRegistry::SetTimeLogging, 0, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"SyncPalmAB", &CRegistry::GetSyncPalmAB, &CRegistry::SetSyncPalmAB, 0, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"SyncPalmDB", &CRegistry::GetSyncPalmDB, &CRegistry::SetSyncPalmDB, 0, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"SyncMarkAB", &CRegistry::GetSyncMarkAB, &CRegistry::SetSyncMarkAB, 1, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"SyncMarkDB", &CRegistry::GetSyncMarkDB, &CRegistry::SetSyncMarkDB, 1, Root::kLocalMachine,
     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"ConnectTimeout", &CRegistry::GetConnectTimeoutSeconds, &CRegistry::SetConnectTimeoutSeconds,
     30, Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"StallTimeout", &CRegistry::GetStallTimeoutSeconds, &CRegistry::SetStallTimeoutSeconds, 120,
     Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"NewsTimeout", &CRegistry::GetNewsTimeout, &CRegistry::SetNewsTimeout, -1, Root::kCurrentUser,
     "[HKEY_CURRENT_USER\\SOFTWARE\\Orvelle\\Tandro]"},
    {"FirstDayOfWeek", &CRegistry::GetFirstDayOfWeek, &CRegistry::SetFirstDayOfWeek, -1,
     Root::kCurrentUser, "[HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro Desktop Viewer]"},
    {"WorkStartTime", &CRegistry::GetWorkStartTime, &CRegistry::SetWorkStartTime, -1,
     Root::kCurrentUser, "[HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro Desktop Viewer]"},
    {"WorkStopTime", &CRegistry::GetWorkStopTime, &CRegistry::SetWorkStopTime, -1,
     Root::kCurrentUser, "[HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro Desktop Viewer]"},
    {"IsDurationPreferred", &CRegistry::IsDurationPreferred, &CRegistry::SetIsDurationPreferred, -1,
     Root::kCurrentUser, "[HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro Desktop Viewer]"},
};

struct TextSetting {
  const char* name;
  TextGetter get;
  TextSetter set;
  Root root;
  const char* section;
};

const TextSetting kTextSettings[] = {
    {"ServerSyncUrl", &CRegistry::GetServerSyncUrl, &CRegistry::SetServerSyncUrl,
     Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"ServerSyncName", &CRegistry::GetServerSyncName, &CRegistry::SetServerSyncName,
     Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"ServerNewsUrl", &CRegistry::GetServerNewsUrl, &CRegistry::SetServerNewsUrl,
     Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"ServerCommunityUrl", &CRegistry::GetServerCommunityUrl, &CRegistry::SetServerCommunityUrl,
     Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"InstallPathname", &CRegistry::GetInstallPathname, &CRegistry::SetInstallPathname,
     Root::kLocalMachine, "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro]"},
    {"LastUserName", &CRegistry::GetLastUserName, &CRegistry::SetLastUserName, Root::kCurrentUser,
     "[HKEY_CURRENT_USER\\Software\\U.S. Robotics\\Pilot Desktop\\Preferences]"},
};

TEST_F(RegistryTest, AnEmptyStoreGivesEveryDefaultAndCreatesNoFile) {
  for (const IntSetting& s : kIntSettings) {
    EXPECT_EQ((registry.*s.get)(), s.defaultValue) << s.name;
  }
  for (const TextSetting& s : kTextSettings) {
    EXPECT_EQ((registry.*s.get)(), "") << s.name;
  }
  EXPECT_EQ(registry.GetDesktopPathname(), "");
  EXPECT_FALSE(registry.CanAuthorWebContent("anything"));
  EXPECT_EQ(registry.GetVersionCount(), 0);
  EXPECT_EQ(dir.Listing(), "");
}

// Each setting alone in a fresh store: the getter reads back what the setter
// wrote, in the file of its root, under its key, and nowhere else.
TEST_F(RegistryTest, EveryIntegerSettingIsStoredUnderItsOwnKeyAndRoot) {
  for (const IntSetting& s : kIntSettings) {
    SCOPED_TRACE(s.name);
    testing::TempDir fresh;
    CRegistry r(fresh.path());
    (r.*s.set)(77);
    EXPECT_EQ((r.*s.get)(), 77);
    const std::string file = s.root == Root::kCurrentUser ? "user.reg" : "machine.reg";
    EXPECT_EQ(testing::ReadFileOrMissing(fresh.File(file)),
              kHeader + std::string(s.section) + "\n\"" + s.name + "\"=dword:0000004d\n\n");
    EXPECT_EQ(fresh.Listing(), file + " " + file + ".lck");
  }
}

TEST_F(RegistryTest, EveryTextSettingIsStoredUnderItsOwnKeyAndRoot) {
  for (const TextSetting& s : kTextSettings) {
    SCOPED_TRACE(s.name);
    testing::TempDir fresh;
    CRegistry r(fresh.path());
    (r.*s.set)("C:\\Tandro \"x\"");
    EXPECT_EQ((r.*s.get)(), "C:\\Tandro \"x\"");
    const std::string file = s.root == Root::kCurrentUser ? "user.reg" : "machine.reg";
    EXPECT_EQ(
        testing::ReadFileOrMissing(fresh.File(file)),
        kHeader + std::string(s.section) + "\n\"" + s.name + "\"=\"C:\\\\Tandro \\\"x\\\"\"\n\n");
  }
}

TEST_F(RegistryTest, PerUserAndMachineWideSettingsStayApart) {
  registry.SetNewsTimeout(30);
  registry.SetSyncLogging(1);
  EXPECT_EQ(registry.GetNewsTimeout(), 30);
  EXPECT_EQ(registry.GetSyncLogging(), 1);
  EXPECT_EQ(User(), kHeader + std::string("[HKEY_CURRENT_USER\\SOFTWARE\\Orvelle\\Tandro]\n"
                                          "\"NewsTimeout\"=dword:0000001e\n\n"));
  EXPECT_EQ(Machine(), kHeader + kMachineTandro + "\"SyncLogging\"=dword:00000001\n\n");

  CRegistry otherObject(dir.path());
  EXPECT_EQ(otherObject.GetSyncLogging(), 1) << "every object reads the same store";
}

TEST_F(RegistryTest, NegativeNumbersAreStoredAsTheirThirtyTwoBits) {
  registry.SetFirstDayOfWeek(-2);
  EXPECT_EQ(registry.GetFirstDayOfWeek(), -2);
  EXPECT_NE(User().find("\"FirstDayOfWeek\"=dword:fffffffe"), std::string::npos);
}

TEST_F(RegistryTest, TheCalendarBarFlagIsANumber) {
  registry.SetCalendarBarIsVisible(true);
  EXPECT_EQ(registry.GetIntValue(Root::kCurrentUser, CRegistry::m_calendarBarKey, "Visible", -5),
            1);
  registry.SetCalendarBarIsVisible(false);
  EXPECT_EQ(User(), kHeader + std::string("[HKEY_CURRENT_USER\\Software\\Orvelle\\Tandro\\Tandro "
                                          "Desktop Viewer\\DesktopViewerBarState-Bar2]\n"
                                          "\"Visible\"=dword:00000000\n\n"));
}

TEST_F(RegistryTest, TheDesktopPathIsReadFromTheHandheldSoftwaresKey) {
  testing::WriteFileBytes(dir.File("user.reg"),
                          kHeader + std::string("[HKEY_CURRENT_USER\\Software\\U.S. "
                                                "Robotics\\Pilot Desktop\\Core]\n"
                                                "\"Path\"=\"C:\\\\Palm\"\n"));
  EXPECT_EQ(registry.GetDesktopPathname(), "C:\\Palm");
}

TEST_F(RegistryTest, StatusesAreTwoWhenAbsentMinusOneWhenUnreadableElseTheNumber) {
  struct Case {
    const char* stored;  // the value's data in the file, or null for none
    int32_t expected;
  };
  const Case cases[] = {
      {nullptr, 2},  {"dword:00000000", 0}, {"dword:00000005", 5},
      {"\"5\"", -1}, {"hex:05", -1},        {"dword:xyz", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.stored != nullptr ? c.stored : "absent");
    std::string body = kMachineTandro;
    if (c.stored != nullptr) {
      body += std::string("\"ServerSyncQuestionStatus\"=") + c.stored + "\n";
      body += std::string("\"ConduitAnswerStatus\"=") + c.stored + "\n";
    }
    WriteMachine(body);
    EXPECT_EQ(registry.GetServerSyncQuestionStatus(), c.expected);
    EXPECT_EQ(registry.GetConduitAnswerStatus(), c.expected);
  }
}

TEST_F(RegistryTest, AValueOfTheWrongTypeReadsAsTheDefault) {
  WriteMachine(kMachineTandro +
               "\"SyncMarkAB\"=\"0\"\n"
               "\"SyncLogging\"=hex:01\n"
               "\"ServerSyncUrl\"=dword:00000001\n"
               "\"ServerSyncName\"=hex(2):41,00\n");
  EXPECT_EQ(registry.GetSyncMarkAB(), 1);
  EXPECT_EQ(registry.GetSyncLogging(), 0);
  EXPECT_EQ(registry.GetServerSyncUrl(), "");
  EXPECT_EQ(registry.GetServerSyncName(), "");
  EXPECT_EQ(registry.GetGlobalIntValue("SyncMarkAB", 42), 42);
  EXPECT_EQ(registry.GetGlobalStringValue("SyncMarkAB", "dflt"), "0");
}

TEST_F(RegistryTest, TextsLongerThan255BytesReadAsTheDefault) {
  const std::string fits(255, 'a');
  const std::string tooLong(256, 'b');
  registry.SetServerSyncUrl(fits);
  registry.SetServerSyncName(tooLong);
  EXPECT_EQ(registry.GetServerSyncUrl(), fits);
  EXPECT_EQ(registry.GetServerSyncName(), "");
  EXPECT_EQ(registry.GetGlobalStringValue("ServerSyncName", "dflt"), "dflt");
  EXPECT_NE(Machine().find(tooLong), std::string::npos) << "the long text is kept";
}

TEST_F(RegistryTest, ATextWithALineBreakIsNotStored) {
  registry.SetServerSyncName("before");
  registry.SetServerSyncName("two\nlines");
  EXPECT_EQ(registry.GetServerSyncName(), "before");
}

TEST_F(RegistryTest, NonPositiveTimeoutsReadAsTheDefaults) {
  for (int32_t stored : {0, -1}) {
    registry.SetConnectTimeoutSeconds(stored);
    registry.SetStallTimeoutSeconds(stored);
    EXPECT_EQ(registry.GetConnectTimeoutSeconds(), 30);
    EXPECT_EQ(registry.GetStallTimeoutSeconds(), 120);
  }
  registry.SetConnectTimeoutSeconds(1);
  EXPECT_EQ(registry.GetConnectTimeoutSeconds(), 1);
}

TEST_F(RegistryTest, GlobalAndLocalValuesAreTheSameMachineWideValues) {
  registry.SetGlobalValue("Alpha", 5);
  registry.SetLocalValue("Beta", std::string("text"));
  EXPECT_EQ(registry.GetLocalIntValue("Alpha", 0), 5);
  EXPECT_EQ(registry.GetGlobalStringValue("Beta", ""), "text");
  EXPECT_EQ(registry.GetGlobalIntValue("Missing", 9), 9);
  EXPECT_EQ(registry.GetLocalStringValue("Missing", "d"), "d");
  registry.SetLocalValue("SyncLogging", 3);
  EXPECT_EQ(registry.GetSyncLogging(), 3);
  EXPECT_EQ(Machine(), kHeader + kMachineTandro +
                           "\"Alpha\"=dword:00000005\n\"Beta\"=\"text\"\n"
                           "\"SyncLogging\"=dword:00000003\n\n");
  EXPECT_EQ(User(), "<missing>");
}

TEST_F(RegistryTest, HandEditedFilesMatchWithoutCaseAndKeepEverythingElse) {
  const std::string original =
      "[hkey_local_machine\\software\\orvelle\\tandro]\n"
      "\"synclogging\"=dword:00000002\n"
      "\"Unknown\"=hex:de,ad\n"
      "\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Someone Else]\n"
      "\"Theirs\"=\"keep me\"\n"
      "\n";
  WriteMachine(original);
  EXPECT_EQ(registry.GetSyncLogging(), 2);
  registry.SetSyncLogging(6);
  registry.SetEchoLogging(1);
  EXPECT_EQ(Machine(), kHeader + std::string("[hkey_local_machine\\software\\orvelle\\tandro]\n"
                                             "\"synclogging\"=dword:00000006\n"
                                             "\"Unknown\"=hex:de,ad\n"
                                             "\"EchoLogging\"=dword:00000001\n"
                                             "\n"
                                             "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Someone Else]\n"
                                             "\"Theirs\"=\"keep me\"\n"
                                             "\n"));
}

TEST_F(RegistryTest, TheMachineRootIsOnlyReadFromMachineSections) {
  testing::WriteFileBytes(dir.File("user.reg"),
                          kHeader + kMachineTandro + "\"SyncLogging\"=dword:00000001\n");
  WriteMachine("[HKEY_CURRENT_USER\\SOFTWARE\\Orvelle\\Tandro]\n\"NewsTimeout\"=dword:00000001\n");
  EXPECT_EQ(registry.GetSyncLogging(), 0);
  EXPECT_EQ(registry.GetNewsTimeout(), -1);
}

TEST_F(RegistryTest, ADamagedFileStillGivesItsGoodValues) {
  testing::WriteFileBytes(
      dir.File("machine.reg"),
      std::string("\x00\x01garbage\n", 10) + kMachineTandro +
          "\"SyncMarkDB\"=dword:00000000\nnot a value\n\"TimeLogging\"=dword:2\n");
  EXPECT_EQ(registry.GetSyncMarkDB(), 0);
  EXPECT_EQ(registry.GetTimeLogging(), 2);
}

TEST_F(RegistryTest, WritesThatCannotBeStoredAreSilent) {
  testing::WriteFileBytes(dir.File("plain"), "");
  CRegistry broken(dir.File("plain"));
  broken.SetSyncLogging(1);
  broken.SetServerSyncUrl("x");
  EXPECT_EQ(broken.GetSyncLogging(), 0);
  EXPECT_EQ(broken.GetServerSyncUrl(), "");
}

TEST_F(RegistryTest, WebContentMayBeAuthoredOnlyForNonZeroNumbers) {
  WriteMachine(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro\\WebContent]\n"
      "\"Sponsor\"=dword:00000001\n"
      "\"Off\"=dword:00000000\n"
      "\"AsText\"=\"1\"\n"
      "\"Big\"=dword:80000000\n");
  struct Case {
    const char* name;
    bool expected;
  };
  const Case cases[] = {{"Sponsor", true}, {"sponsor", true}, {"Off", false},
                        {"AsText", false}, {"Big", true},     {"Missing", false}};
  for (const Case& c : cases) {
    EXPECT_EQ(registry.CanAuthorWebContent(c.name), c.expected) << c.name;
  }
  WriteMachine(kMachineTandro + "\"Sponsor\"=dword:00000001\n");
  EXPECT_FALSE(registry.CanAuthorWebContent("Sponsor")) << "only under the web content key";
}

TEST_F(RegistryTest, TheVersionTableHoldsTheTextValuesInStoredOrderAndIsReadOnce) {
  WriteMachine(
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro\\Versions]\n"
      "\"Tray\"=\"2.1\"\n"
      "\"Number\"=dword:00000003\n"
      "\"Viewer\"=\"1.0.7\"\n");
  ASSERT_EQ(registry.GetVersionCount(), 2);
  EXPECT_EQ(registry.GetVersion(0).GetName(), "Tray");
  EXPECT_EQ(registry.GetVersion(0).GetValue(), "2.1");
  EXPECT_EQ(registry.GetVersion(1).GetDisplayText(), "Viewer:     1.0.7");

  registry.SetVersion(CVersion("Conduit", "3.0"));
  EXPECT_EQ(registry.GetVersionCount(), 2) << "the table is not read again";
  CRegistry later(dir.path());
  ASSERT_EQ(later.GetVersionCount(), 3);
  EXPECT_EQ(later.GetVersion(2).GetDisplayText(), "Conduit:     3.0");
}

TEST_F(RegistryTest, TheVersionTableIsBuiltByWhicheverCallComesFirst) {
  WriteMachine("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Orvelle\\Tandro\\Versions]\n\"A\"=\"1\"\n");
  EXPECT_EQ(registry.GetVersion(0).GetDisplayText(), "A:     1");
}

TEST(CVersionTest, TheDisplayTextIsNameColonFiveSpacesValue) {
  EXPECT_EQ(CVersion("", "").GetDisplayText(), ":     ");
  EXPECT_EQ(CVersion("Name", "%s").GetDisplayText(), "Name:     %s");
}

TEST(CRegistryNamesTest, KeyFragmentsAndRootFiles) {
  EXPECT_EQ(CRegistry::GetRegistryKey(), "Orvelle\\Tandro");
  EXPECT_EQ(CRegistry::GetViewerBarKey(), "DesktopViewerBarState");
  CRegistry registry("/some/dir");
  EXPECT_EQ(registry.RootFilePath(Root::kCurrentUser), "/some/dir/user.reg");
  EXPECT_EQ(registry.RootFilePath(Root::kLocalMachine), "/some/dir/machine.reg");
}

TEST(CRegistryNamesTest, TheDefaultObjectFollowsTheEnvironment) {
  testing::TempDir dir;
  const char* old = std::getenv("BRONTEL_REGISTRY_DIR");
  const std::string saved = old != nullptr ? old : "";
  setenv("BRONTEL_REGISTRY_DIR", dir.path().c_str(), 1);
  CRegistry registry;
  registry.SetSyncPalmAB(4);
  EXPECT_EQ(registry.RootFilePath(Root::kLocalMachine), dir.File("machine.reg"));
  EXPECT_EQ(CRegistry(dir.path()).GetSyncPalmAB(), 4);
  if (old != nullptr) {
    setenv("BRONTEL_REGISTRY_DIR", saved.c_str(), 1);
  } else {
    unsetenv("BRONTEL_REGISTRY_DIR");
  }
}

#ifndef NDEBUG
TEST(CRegistryDeathTest, AVersionIndexOutsideTheTableIsAPreconditionViolation) {
  testing::TempDir dir;
  CRegistry registry(dir.path());
  EXPECT_DEATH((void)registry.GetVersion(0), "0 <= index < GetVersionCount");
}
#endif

}  // namespace
}  // namespace brontel
