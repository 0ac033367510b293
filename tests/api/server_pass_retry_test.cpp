// A server pass whose cache write fails after the server took the pass's
// records: the server keeps them, the cache never learned their server ids.
// The next synchronization must take the server's copies for the records the
// cache holds, not add them a second time, whichever pass it was: the records
// travel under fixed ids that each pass makes again, the same, before
// anything is sent or merged. The account answers as a server that gives a
// record back under the local id its client sent (sync_account_fixture.h).
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "api/reliability_fixture.h"
#include "api/sync_account_fixture.h"
#include "brontel/platform/file_system.h"
#include "support/api_fixture.h"
#include "support/scripted_sync_server.h"

namespace brontel {
namespace {

using testing::CalendarFamily;
using testing::ContactFamily;
using testing::Gid;
using testing::RecordNames;
using testing::ScriptedSyncServer;
using testing::StoredNames;
using testing::SyncAccount;

// Fails the nth rename onto a file called name (counting from 1), once.
class FailNthReplace : public FileSystem {
 public:
  FailNthReplace(std::string name, int nth) : m_name(std::move(name)), m_nth(nth) {
    m_previous = FileSystem::Install(this);
  }
  ~FailNthReplace() override { FileSystem::Install(m_previous); }
  FailNthReplace(const FailNthReplace&) = delete;
  FailNthReplace& operator=(const FailNthReplace&) = delete;

  int Rename(const std::string& from, const std::string& to) override {
    if (to.size() >= m_name.size() &&
        to.compare(to.size() - m_name.size(), m_name.size(), m_name) == 0 && ++m_seen == m_nth) {
      errno = EIO;
      return -1;
    }
    return FileSystem::Rename(from, to);
  }
  bool Met() const { return m_seen >= m_nth; }

 private:
  std::string m_name;
  int m_nth;
  int m_seen = 0;
  FileSystem* m_previous;
};

class ServerPassRetryTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<ScriptedSyncServer>();
  }
  void TearDown() override {
    m_server.reset();
    ApiTest::TearDown();
  }

  // Answers the next requests from account.
  void Serve(std::shared_ptr<SyncAccount> account) {
    m_serving = std::move(account);
    while (m_server->Pending() < 16) {
      m_server->AnswerWith(
          [this](const std::string& request) { return m_serving->Answer(request); });
    }
  }

  // In a directory of its own: a desktop whose published Work (with Dentist)
  // is on the server, that adds Gym to Work and synchronizes the desktop, then
  // the server with the nth write of the cache failing, then the server again.
  // False when the server synchronization wrote the cache fewer than nth times.
  template <class Family>
  bool LoseNthCacheWrite(int nth) {
    SCOPED_TRACE(::testing::Message() << Family::kName << ": cache write #" << nth << " fails");
    testing::TempDir dir;
    auto account = std::make_shared<SyncAccount>(kAccount, 0x1f0);
    typename Family::Api desktop = Family::Open(dir.path());
    typename Family::Manager records = Family::Records(desktop);
    Family::AddGroup(records, "Work", true);
    Family::AddItem(records, "Dentist", "Work");
    EXPECT_TRUE(desktop.SetGID(kAccount));
    EXPECT_EQ(desktop.SyncDesktop(), ERR_NONE);
    auto syncServer = [&] {
      Serve(account);
      return desktop.SyncServer(nullptr);
    };
    EXPECT_EQ(syncServer(), ERR_NONE) << desktop.GetErrorMessage();
    Family::AddItem(records, "Gym", "Work");
    EXPECT_EQ(desktop.SyncDesktop(), ERR_NONE);

    br_error lost;
    bool met;
    {
      FailNthReplace failing(Family::kCacheFile, nth);
      lost = syncServer();
      met = failing.Met();
    }
    if (!met) {
      EXPECT_EQ(lost, ERR_NONE);
      return false;
    }
    EXPECT_EQ(lost, ERR_WRITE_FAILED);
    EXPECT_EQ(syncServer(), ERR_NONE) << desktop.GetErrorMessage();
    EXPECT_EQ(desktop.SyncDesktop(), ERR_NONE);

    const RecordNames expected = {"group Work", "item Dentist in Work", "item Gym in Work"};
    EXPECT_EQ(StoredNames<Family>(dir.File(Family::kCacheFile), true), expected);
    EXPECT_EQ(Family::Names(records), expected);
    EXPECT_EQ(account->Names(), (std::vector<std::string>{"Dentist", "Gym", "Work"}));
    return true;
  }

  const UID128 kAccount = Gid(0x30);
  std::unique_ptr<ScriptedSyncServer> m_server;
  std::shared_ptr<SyncAccount> m_serving;
};

TEST_F(ServerPassRetryTest, ARecordSentByAPassWhoseCacheWriteFailedIsHeldOnceAfterTheNextSync) {
  for (int nth = 1; LoseNthCacheWrite<ContactFamily>(nth); ++nth) {
  }
  for (int nth = 1; LoseNthCacheWrite<CalendarFamily>(nth); ++nth) {
  }
}

}  // namespace
}  // namespace brontel
