// Who may read what the library writes: every file it creates in the cache
// directory (caches, shadows, backups, lock files, sync logs, time logs) and
// the settings store are readable by their owner only, the clipboard folder
// may be entered by its owner only, and the password of an account request
// reaches no file and no diagnostic line. Each test clears the umask, so the
// modes are the library's own choice.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "api/reliability_fixture.h"
#include "api/sync_account_fixture.h"
#include "brontel/host/registry.h"
#include "brontel/platform/clipboard_slot.h"
#include "brontel/platform/debug_sink.h"
#include "brontel/platform/format.h"
#include "support/api_fixture.h"
#include "support/scoped_environment.h"
#include "support/scripted_sync_server.h"

namespace brontel {
namespace {

using testing::CalendarFamily;
using testing::ContactFamily;
using testing::Gid;
using testing::ReadFileOrMissing;
using testing::ScopedEnvironment;
using testing::ScriptedSyncServer;
using testing::SyncAccount;
using testing::TempDir;

// The permission bits of path, or -1 when it does not exist.
int ModeOf(const std::string& path) {
  struct stat status;
  if (::stat(path.c_str(), &status) != 0) return -1;
  return static_cast<int>(status.st_mode & 07777);
}

// Every file under directory with its mode, as "name 600", sorted.
std::vector<std::string> FileModes(const std::string& directory) {
  std::vector<std::string> modes;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
    if (!entry.is_regular_file()) continue;
    modes.push_back(std::filesystem::relative(entry.path(), directory).string() +
                    Format(" %o", ModeOf(entry.path().string())));
  }
  std::sort(modes.begin(), modes.end());
  return modes;
}

// Those of modes that are not 600.
std::vector<std::string> NotPrivate(const std::vector<std::string>& modes) {
  std::vector<std::string> open;
  for (const std::string& mode : modes) {
    if (mode.size() < 4 || mode.compare(mode.size() - 4, 4, " 600") != 0) open.push_back(mode);
  }
  return open;
}

class FileModeTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_umask = ::umask(0);
  }
  void TearDown() override {
    ::umask(m_umask);
    ApiTest::TearDown();
  }

  // Every logging switch on: sync logs after each cache write, time logs.
  static void LogEverything() {
    CRegistry settings;
    settings.SetSyncLogging(0xFF);
    settings.SetTimeLogging(2);
  }

  // Desktop, handheld, account id, server and override synchronizations of
  // family, so that it writes every kind of file it has.
  template <class Family>
  void WriteEveryFile(ScriptedSyncServer& server) {
    auto account = std::make_shared<SyncAccount>(Gid(0x40), 0x10);
    for (int i = 0; i < 4; ++i) {
      server.AnswerWith([account](const std::string& request) { return account->Answer(request); });
    }
    typename Family::Api desktop = Family::Open(m_dir.path());
    Family::AddGroup(Family::Records(desktop), "Work", true);
    Family::AddItem(Family::Records(desktop), "Dentist", "Work");
    ASSERT_TRUE(desktop.SetGID(Gid(0x40)));
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
    typename Family::Api handheld = Family::Open(m_dir.path());
    ASSERT_EQ(handheld.SyncHandheld(), ERR_NONE);
    ASSERT_EQ(handheld.SyncHandheldOverideDesktop(), ERR_NONE);
    ASSERT_EQ(desktop.SyncServer(nullptr), ERR_NONE) << desktop.GetErrorMessage();
  }

  mode_t m_umask = 0;
};

TEST_F(FileModeTest, EveryFileInTheCacheDirectoryIsReadableByItsOwnerOnly) {
  LogEverything();
  {
    ScriptedSyncServer server;
    WriteEveryFile<CalendarFamily>(server);
    WriteEveryFile<ContactFamily>(server);
  }
  const std::vector<std::string> modes = FileModes(m_dir.path());
  // Each kind of file is there: caches, shadows, backups, locks, logs.
  for (const char* name : {"cache2_m.pfe", "cache2_h.pfl", "cache2_w.pfl", "cache2_m.pft",
                           "cache2_h.pfu", "cache2_w.pfu", "cache2_m0.bak", "cachecal.lck",
                           "cachecon.lck", "time_log.txt", "time_lcg.txt"}) {
    EXPECT_NE(ModeOf(Path(name)), -1) << name;
  }
  EXPECT_GT(
      std::count_if(modes.begin(), modes.end(),
                    [](const std::string& m) { return m.find(".pff ") != std::string::npos; }),
      0)
      << "no sync log file";
  EXPECT_EQ(NotPrivate(modes), std::vector<std::string>{});
}

TEST_F(FileModeTest, TheSettingsStoreIsReadableByItsOwnerOnly) {
  CRegistry settings;
  settings.SetSyncLogging(1);
  settings.SetServerSyncName("sync.example.test");
  const std::vector<std::string> modes = FileModes(m_settingsDir.path());
  ASSERT_FALSE(modes.empty());
  EXPECT_EQ(NotPrivate(modes), std::vector<std::string>{});
  // A value written again keeps the file private.
  settings.SetSyncLogging(0);
  EXPECT_EQ(NotPrivate(FileModes(m_settingsDir.path())), std::vector<std::string>{});
}

TEST_F(FileModeTest, TheClipboardFolderMayBeEnteredByItsOwnerOnly) {
  TempDir runtime;
  ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtime.path()};
  ASSERT_TRUE(ClipboardSlot::Put(0xC0DE, "news item"));
  EXPECT_EQ(ModeOf(ClipboardSlot::Folder()), 0700);
  EXPECT_EQ(ModeOf(ClipboardSlot::SlotPath(0xC0DE)), 0600);
}

std::vector<std::string> g_debugLines;
void KeepDebugLine(const std::string& line) {
  g_debugLines.push_back(line);
}

TEST_F(FileModeTest, TheAccountPasswordReachesNoFileAndNoDiagnosticLine) {
  const std::string kPassword = "Pa55-w0rd-7sEcret";
  LogEverything();
  CRegistry().SetEchoLogging(1);
  g_debugLines.clear();
  SetDebugSink(KeepDebugLine);
  {
    ScriptedSyncServer server;
    const std::string answer =
        "<tandroresp ts=\"0\" sts=\"1\" ver=\"0\" rev=\"r1\" full=\"0\"><newgid>" +
        Gid(0x60).GetString() + "</newgid></tandroresp>";
    server.Answer(answer);
    server.Answer(answer);
    {
      CalendarApi calendars = CalendarFamily::Open(m_dir.path());
      EXPECT_TRUE(calendars.RequestGIDFromServer("ann", kPassword));
      CategoryApi contacts = ContactFamily::Open(m_dir.path() + "/contacts");
      EXPECT_TRUE(contacts.RequestGIDFromServer("ann", kPassword));
    }  // the objects' last log files are written as they go
    ASSERT_EQ(server.RequestCount(), 2u);
    EXPECT_NE(server.Requests()[0].find(kPassword), std::string::npos) << "the request carries it";
  }
  SetDebugSink(nullptr);
  bool logged = false;
  for (const std::string& directory : {m_dir.path(), m_settingsDir.path()}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(directory)) {
      if (!entry.is_regular_file()) continue;
      const std::string bytes = ReadFileOrMissing(entry.path().string());
      logged = logged || entry.path().extension() == ".pff";
      EXPECT_EQ(bytes.find(kPassword), std::string::npos) << entry.path();
    }
  }
  EXPECT_TRUE(logged) << "no sync log file was written";
  for (const std::string& line : g_debugLines) {
    EXPECT_EQ(line.find(kPassword), std::string::npos) << line;
  }
}

}  // namespace
}  // namespace brontel
