// Tests of the host-replaceable message box and program launch: the defaults
// (a box on stderr, a program spawned from its folder) and installed callbacks.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <string>
#include <thread>

#include "brontel/platform/message_box.h"
#include "brontel/platform/program_launch.h"
#include "support/temp_dir.h"

namespace brontel {
namespace {

TEST(MessageBoxTest, TheDefaultWritesCaptionAndTextToStderrAndAnswersOk) {
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ShowMessageBox("Something failed.", "Synchronization Error", MESSAGE_BOX_ICON_ERROR),
            kMessageBoxAnswerOk);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "Synchronization Error\nSomething failed.\n");
}

TEST(MessageBoxTest, AnInstalledBoxIsShownUntilTheDefaultIsRestored) {
  std::string seen;
  SetMessageBoxCallback([&](const std::string& text, const std::string& caption, uint32_t style) {
    seen = caption + "|" + text + "|" + std::to_string(style);
    return 7;
  });
  EXPECT_EQ(ShowMessageBox("text", "caption", MESSAGE_BOX_ICON_INFORMATION), 7);
  EXPECT_EQ(seen, "caption|text|64");

  SetMessageBoxCallback(nullptr);
  ::testing::internal::CaptureStderr();
  ShowMessageBox("text", "caption", MESSAGE_BOX_OK);
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "caption\ntext\n");
}

TEST(ProgramLaunchTest, TheDefaultStartsTheProgramInItsFolder) {
  testing::TempDir folder;
  const std::string program = folder.File("tray program");
  testing::WriteFileBytes(program, "#!/bin/sh\npwd > started.tmp && mv started.tmp started\n");
  ASSERT_EQ(::chmod(program.c_str(), 0755), 0);

  ASSERT_TRUE(LaunchProgram("tray program", folder.path()));
  // The program runs on its own; wait for its mark.
  std::string started = testing::ReadFileOrMissing(folder.File("started"));
  for (int i = 0; i < 1000 && started == "<missing>"; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    started = testing::ReadFileOrMissing(folder.File("started"));
  }
  EXPECT_EQ(started, folder.path() + "\n");

  EXPECT_FALSE(LaunchProgram("no such program", folder.path()));
}

TEST(ProgramLaunchTest, AnInstalledLauncherIsAskedInstead) {
  std::string seen;
  SetProgramLaunchCallback([&](const std::string& program, const std::string& folder) {
    seen = folder + "|" + program;
    return false;
  });
  EXPECT_FALSE(LaunchProgram("tandro.exe", "/opt/tandro"));
  EXPECT_EQ(seen, "/opt/tandro|tandro.exe");
  SetProgramLaunchCallback(nullptr);
}

}  // namespace
}  // namespace brontel
