// Injected I/O failures in every entry point that writes the cache directory,
// for both API families: the Nth write, fsync, rename or read fails, once or
// from then on, for N = 1, 2, ... until the entry point no longer meets the
// failure. After each run:
// - every cache, shadow and backup file holds what it held before or what a
//   run without failures wrote at some step (so it reads back whole), and no
//   temporary file is left;
// - a run that reports success (ERR_NONE, SetGID true) wrote every file the
//   run without failures wrote: no failure is reported as success;
// - the next normal synchronization succeeds and ends where a run without
//   failures ends, record for record by name, in every file and on the server:
//   also the other family's cache, which must end with the account id when
//   the failure hit it on the way (SetGID reports that and the next SetGID
//   passes the id on), and the cache after a lost server pass, which must hold
//   each record once.
// Each test prints one line with the number of cases it ran.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <type_traits>
#include <vector>

#include "api/reliability_fixture.h"
#include "api/sync_account_fixture.h"
#include "api/tracing_file_system.h"
#include "brontel/host/registry.h"
#include "support/api_fixture.h"
#include "support/scripted_sync_server.h"

namespace brontel {
namespace {

using testing::CalendarFamily;
using testing::ContactFamily;
using testing::FaultyFileSystem;
using testing::Gid;
using testing::Join;
using testing::ReadFileOrMissing;
using testing::ScriptedSyncServer;
using testing::SyncAccount;
using testing::TempDir;
using testing::TracingFileSystem;
using testing::WriteFileBytes;

using Op = FaultyFileSystem::Op;
using Files = std::map<std::string, std::string>;
// What a directory or a run holds, by file (or "caller", "server", "backups").
using State = std::map<std::string, std::string>;

const UID128 kAccount = Gid(0x30);

// Every file of directory with its bytes.
Files FilesOf(const std::string& directory) {
  Files files;
  for (const auto& entry : std::filesystem::directory_iterator(directory)) {
    files[entry.path().filename().string()] = ReadFileOrMissing(entry.path().string());
  }
  return files;
}

void Restore(const Files& files, const std::string& directory) {
  for (const auto& [name, bytes] : files) WriteFileBytes(directory + "/" + name, bytes);
}

bool IsBackup(const std::string& name) {
  return testing::IsBackupName(name);
}

// What a stored file holds by name (its records and account id); "" for
// files that are not stored files.
std::string ContentOf(const std::string& name, const std::string& bytes) {
  return testing::StoredContentOf(name, bytes);
}

bool IsStoredFile(const std::string& name) {
  return IsBackup(name) || !ContentOf(name, "<missing>").empty();
}

// The stored files by what they hold: each file's bytes, or its records when
// byRecords; the backups as one list of contents, whatever their numbers.
State StoredState(const Files& files, bool byRecords) {
  State state;
  std::vector<std::string> backups;
  for (const auto& [name, bytes] : files) {
    if (!IsStoredFile(name)) continue;
    std::string what = byRecords ? ContentOf(name, bytes) : bytes;
    if (IsBackup(name)) {
      backups.push_back(what);
    } else {
      state[name] = what;
    }
  }
  std::sort(backups.begin(), backups.end());
  state["backups"] = Join(backups, "\n");
  return state;
}

// ---- the families' differences ----

// Gives a new handheld object the records the handheld holds since the last
// synchronization.
br_error LoadHandheld(CalendarApi& api) {
  return api.SyncHandheldPreloadForFastSync();
}
// A contact copy that never synchronized takes the cache's records.
br_error LoadHandheld(CategoryApi& api) {
  return api.SyncHandheld();
}

// A record that another client gave the server, in Work (server id 100).
std::string ServerRecord(const CalendarFamily&) {
  return "<event act=\"0\"><name>Swim</name><time ymd=\"c861\" beg=\"900\" end=\"a00\"/>"
         "<link psid=\"100\" pver=\"0\"/></event>";
}
std::string ServerRecord(const ContactFamily&) {
  return "<contact act=\"0\" flg=\"0\" opt=\"0\" ofs=\"0\"><datum index=\"12\">Jones</datum>"
         "<link psid=\"100\" pver=\"0\"/></contact>";
}

// ---- the cases ----

// One run of an entry point, in a directory of its own.
template <class Family>
struct Trial {
  TempDir dir;
  typename Family::Api api;
  std::shared_ptr<SyncAccount> account;
  typename Family::Manager Records() const { return Family::Records(api); }
};

template <class Family>
struct EntryPoint {
  const char* name;
  bool fromServerTemplate;
  // The entry point starts a new cache, with a sequence drawn from the clock:
  // files are compared by their records instead of their bytes.
  bool newCache;
  std::function<void(Trial<Family>&)> prepare;
  std::function<br_error(Trial<Family>&)> act;
  // The next normal synchronization after it.
  std::function<br_error(Trial<Family>&)> next;
};

// What one test's cases came to, for its summary line.
struct Tally {
  std::map<Op, int> cases;
  int reported = 0;
  int completed = 0;
  int total() const {
    int sum = 0;
    for (const auto& [op, n] : cases) sum += n;
    return sum;
  }
};

const char* OpName(Op op) {
  switch (op) {
    case Op::kWrite:
      return "write";
    case Op::kFsync:
      return "fsync";
    case Op::kRename:
      return "rename";
    case Op::kRead:
      return "read";
    case Op::kNone:
      break;
  }
  return "none";
}

class IoFaultTest : public testing::ApiTest {
 protected:
  void SetUp() override {
    ApiTest::SetUp();
    m_server = std::make_unique<ScriptedSyncServer>();
    BuildClientTemplate<CalendarFamily>();
    BuildClientTemplate<ContactFamily>();
    m_clientTemplate = FilesOf(m_dir.path());
    BuildServerTemplate<CalendarFamily>(&m_calendarAccount);
    BuildServerTemplate<ContactFamily>(&m_contactAccount);
    m_serverTemplate = FilesOf(m_serverDir.path());
  }
  void TearDown() override {
    m_server.reset();
    ApiTest::TearDown();
  }

  static void LogEverything() {
    CRegistry settings;
    settings.SetSyncLogging(0xFF);
    settings.SetTimeLogging(2);
  }

  // Answers the next requests from account.
  void Serve(std::shared_ptr<SyncAccount> account) {
    m_serving = std::move(account);
    while (m_server->Pending() < 16) {
      m_server->AnswerWith(
          [this](const std::string& request) { return m_serving->Answer(request); });
    }
  }

  // The desktop copy Work (Standup, Review) and Home (Dinner), synchronized
  // by the desktop and by the handheld.
  template <class Family>
  void BuildClientTemplate() {
    typename Family::Api desktop = Family::Open(m_dir.path());
    typename Family::Manager records = Family::Records(desktop);
    Family::AddGroup(records, "Work");
    Family::AddGroup(records, "Home");
    Family::AddItem(records, "Standup", "Work");
    Family::AddItem(records, "Review", "Work");
    Family::AddItem(records, "Dinner", "Home");
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
    typename Family::Api handheld = Family::Open(m_dir.path());
    ASSERT_EQ(FirstHandheldSync(handheld), ERR_NONE);
  }
  static br_error FirstHandheldSync(CalendarApi& api) { return api.SyncHandheldFirstTime(); }
  static br_error FirstHandheldSync(CategoryApi& api) { return api.SyncHandheld(); }

  // The published Work with Dentist (and for contacts the unfiled Loner),
  // synchronized with the server under the account id.
  template <class Family>
  void BuildServerTemplate(std::shared_ptr<SyncAccount>* account) {
    *account = std::make_shared<SyncAccount>(kAccount, 0x1f0);
    typename Family::Api desktop = Family::Open(m_serverDir.path());
    typename Family::Manager records = Family::Records(desktop);
    Family::AddGroup(records, "Work", true);
    Family::AddItem(records, "Dentist", "Work");
    if constexpr (std::is_same_v<Family, ContactFamily>) Family::AddItem(records, "Loner", "none");
    ASSERT_TRUE(desktop.SetGID(kAccount));
    ASSERT_EQ(desktop.SyncDesktop(), ERR_NONE);
    Serve(*account);
    ASSERT_EQ(desktop.SyncServer(nullptr), ERR_NONE) << desktop.GetErrorMessage();
  }

  template <class Family>
  std::shared_ptr<SyncAccount> BaseAccount() const;

  // The entry point called name, for Family.
  template <class Family>
  EntryPoint<Family> Find(const std::string& name) {
    using Manager = typename Family::Manager;
    auto change = [](Manager records) {
      Family::AddItem(records, "Gym", "Home");
      ASSERT_TRUE(Family::RemoveItem(records, "Dinner"));
      ASSERT_TRUE(Family::RenameItem(records, "Standup", "Standup at 9"));
    };
    const std::vector<EntryPoint<Family>> all = {
        {"SyncDesktop", false, false,
         [change](Trial<Family>& run) {
           ASSERT_EQ(run.api.SyncDesktop(), ERR_NONE);
           change(run.Records());
         },
         [](Trial<Family>& run) { return run.api.SyncDesktop(); },
         [](Trial<Family>& run) { return run.api.SyncDesktop(); }},
        {"SyncHandheld", false, false,
         [change](Trial<Family>& run) {
           ASSERT_EQ(LoadHandheld(run.api), ERR_NONE);
           change(run.Records());
         },
         [](Trial<Family>& run) { return run.api.SyncHandheld(); },
         [](Trial<Family>& run) { return run.api.SyncHandheld(); }},
        {"SyncHandheldOverideDesktop", false, true,
         [](Trial<Family>& run) {
           ASSERT_EQ(LoadHandheld(run.api), ERR_NONE);
           Family::AddItem(run.Records(), "Yoga", "Work");
         },
         [](Trial<Family>& run) { return run.api.SyncHandheldOverideDesktop(); },
         [](Trial<Family>& run) { return run.api.SyncHandheld(); }},
        {"SetGID", false, false, [](Trial<Family>&) {},
         [](Trial<Family>& run) { return run.api.SetGID(kAccount) ? ERR_NONE : ERR_WRITE_FAILED; },
         [](Trial<Family>& run) { return run.api.SetGID(kAccount) ? ERR_NONE : ERR_WRITE_FAILED; }},
        {"SyncServer", true, false,
         [this](Trial<Family>& run) {
           ASSERT_EQ(run.api.SyncDesktop(), ERR_NONE);
           ASSERT_TRUE(Family::RenameItem(run.Records(), "Dentist", "Dentist at 9"));
           Family::AddItem(run.Records(), "Gym", "Work");
           ASSERT_EQ(run.api.SyncDesktop(), ERR_NONE);
           run.account = std::make_shared<SyncAccount>(*BaseAccount<Family>());
           run.account->Put(ServerRecord(Family()));
           Serve(run.account);
         },
         [](Trial<Family>& run) { return run.api.SyncServer(nullptr); },
         [](Trial<Family>& run) { return run.api.SyncServer(nullptr); }},
    };
    for (const EntryPoint<Family>& entry : all) {
      if (name == entry.name) return entry;
    }
    ADD_FAILURE() << "no entry point " << name;
    return all.front();
  }

  // Brings run to the state just before the entry point.
  template <class Family>
  void Prepare(const EntryPoint<Family>& entry, Trial<Family>& run) {
    Restore(entry.fromServerTemplate ? m_serverTemplate : m_clientTemplate, run.dir.path());
    run.api = Family::Open(run.dir.path());
    entry.prepare(run);
  }

  // Where a run ended: every stored file by its records, the caller's records
  // and the server's.
  template <class Family>
  static State Outcome(const Trial<Family>& run) {
    State state;
    for (const char* name :
         {CalendarFamily::kCacheFile, CalendarFamily::kHandheldShadowFile,
          CalendarFamily::kServerShadowFile, ContactFamily::kCacheFile,
          ContactFamily::kHandheldShadowFile, ContactFamily::kServerShadowFile}) {
      state[name] = ContentOf(name, ReadFileOrMissing(run.dir.path() + "/" + name));
    }
    state["caller"] = Join(Family::Names(run.Records()));
    if (run.account) state["server"] = Join(run.account->Names());
    return state;
  }

  // The stored files of directory that hold neither what they held before
  // nor any content the run without failures gave them; and temporary files.
  static std::vector<std::string> UnexpectedFiles(
      const std::string& directory, const Files& before,
      const std::map<std::string, std::vector<std::string>>& written, bool byRecords) {
    std::set<std::string> names;
    const Files now = FilesOf(directory);
    for (const Files* files : {&before, &now}) {
      for (const auto& [name, bytes] : *files) names.insert(name);
    }
    for (const auto& [name, versions] : written) names.insert(name);
    std::vector<std::string> unexpected;
    for (const std::string& name : names) {
      if (name.find(".tmp") != std::string::npos) {
        unexpected.push_back(name + ": a temporary file left behind");
        continue;
      }
      if (!IsStoredFile(name)) continue;
      auto find = [&](const Files& files) {
        auto it = files.find(name);
        return it == files.end() ? std::string("<missing>") : it->second;
      };
      const std::string current = find(now);
      std::vector<std::string> allowed = {find(before)};
      if (auto it = written.find(name); it != written.end()) {
        allowed.insert(allowed.end(), it->second.begin(), it->second.end());
      }
      if (IsBackup(name)) {
        // A backup that could not be made is made under the next number.
        for (const char* cache : {CalendarFamily::kCacheFile, ContactFamily::kCacheFile}) {
          if (before.count(cache)) allowed.push_back(before.at(cache));
        }
      }
      bool ok = false;
      for (const std::string& bytes : allowed) {
        ok = ok || bytes == current ||
             (byRecords && ContentOf(name, bytes) == ContentOf(name, current));
      }
      if (!ok) unexpected.push_back(name + ": " + ContentOf(name, current));
    }
    return unexpected;
  }

  // Runs the entry point called name of Family under every injected failure.
  template <class Family>
  void RunEntryPoint(const std::string& name, const char* variant = "") {
    const EntryPoint<Family> entry = Find<Family>(name);
    // The run without failures.
    Trial<Family> reference;
    Prepare(entry, reference);
    std::map<std::string, std::vector<std::string>> written;
    {
      TracingFileSystem tracing;
      tracing.Fail(Op::kNone, 0, false);
      ASSERT_EQ(entry.act(reference), ERR_NONE) << reference.api.GetErrorMessage();
      written = tracing.Versions();
    }
    const State stored = StoredState(FilesOf(reference.dir.path()), entry.newCache);
    ASSERT_EQ(entry.next(reference), ERR_NONE) << reference.api.GetErrorMessage();
    const State expected = Outcome(reference);

    Tally tally;
    for (Op op : {Op::kWrite, Op::kFsync, Op::kRename, Op::kRead}) {
      for (bool persistent : {false, true}) {
        for (int nth = 1;; ++nth) {
          SCOPED_TRACE(::testing::Message() << Family::kName << " " << name << ": " << OpName(op)
                                            << " #" << nth << (persistent ? " on" : " once"));
          Trial<Family> run;
          Prepare(entry, run);
          const Files before = FilesOf(run.dir.path());
          br_error result;
          std::vector<std::string> hits;
          bool met;
          {
            TracingFileSystem faulty;
            faulty.Fail(op, nth, persistent);
            result = entry.act(run);
            met = faulty.calls() >= nth;
            hits = faulty.Hits();
          }
          if (!met) break;
          ++tally.cases[op];
          (result == ERR_NONE ? tally.completed : tally.reported)++;
          const bool clean = !HasFailure();

          EXPECT_EQ(UnexpectedFiles(run.dir.path(), before, written, entry.newCache),
                    std::vector<std::string>{});
          if (result == ERR_NONE) {
            // Success means every file the entry point writes was written,
            // the other family's cache too when the account id goes to it.
            EXPECT_EQ(StoredState(FilesOf(run.dir.path()), entry.newCache), stored)
                << "a failure reported as success (" << Join(hits) << ")";
          }
          EXPECT_EQ(entry.next(run), ERR_NONE) << run.api.GetErrorMessage();
          // Every file by its records, the account ids included, and the
          // caller's and the server's records: the next normal operation
          // mends what the failure left (no record twice, no id missing).
          EXPECT_EQ(Outcome(run), expected);
          if (clean && HasFailure()) break;  // one report per kind of failure is enough
        }
      }
    }
    std::printf(
        "[ io faults ] %s %s%s: %d cases (write %d, fsync %d, rename %d, read %d; each "
        "once and from then on): %d reported a failure, %d completed\n",
        Family::kName, name.c_str(), variant, tally.total(), tally.cases[Op::kWrite],
        tally.cases[Op::kFsync], tally.cases[Op::kRename], tally.cases[Op::kRead], tally.reported,
        tally.completed);
  }

  std::unique_ptr<ScriptedSyncServer> m_server;
  std::shared_ptr<SyncAccount> m_serving;
  TempDir m_serverDir;
  Files m_clientTemplate;
  Files m_serverTemplate;
  std::shared_ptr<SyncAccount> m_calendarAccount;
  std::shared_ptr<SyncAccount> m_contactAccount;
};

template <>
std::shared_ptr<SyncAccount> IoFaultTest::BaseAccount<CalendarFamily>() const {
  return m_calendarAccount;
}
template <>
std::shared_ptr<SyncAccount> IoFaultTest::BaseAccount<ContactFamily>() const {
  return m_contactAccount;
}

TEST_F(IoFaultTest, CalendarDesktopSync) {
  RunEntryPoint<CalendarFamily>("SyncDesktop");
}
TEST_F(IoFaultTest, CalendarHandheldSync) {
  RunEntryPoint<CalendarFamily>("SyncHandheld");
}
TEST_F(IoFaultTest, CalendarHandheldOverride) {
  RunEntryPoint<CalendarFamily>("SyncHandheldOverideDesktop");
}
TEST_F(IoFaultTest, CalendarSetGid) {
  RunEntryPoint<CalendarFamily>("SetGID");
}
TEST_F(IoFaultTest, CalendarServerSync) {
  RunEntryPoint<CalendarFamily>("SyncServer");
}
TEST_F(IoFaultTest, CalendarHandheldSyncWithEveryLogOn) {
  // Sync logs after every cache write and a detailed time log: a log that
  // cannot be written never fails a synchronization nor harms a stored file.
  LogEverything();
  RunEntryPoint<CalendarFamily>("SyncHandheld", " with every log on");
}
TEST_F(IoFaultTest, ContactDesktopSync) {
  RunEntryPoint<ContactFamily>("SyncDesktop");
}
TEST_F(IoFaultTest, ContactHandheldSync) {
  RunEntryPoint<ContactFamily>("SyncHandheld");
}
TEST_F(IoFaultTest, ContactHandheldOverride) {
  RunEntryPoint<ContactFamily>("SyncHandheldOverideDesktop");
}
TEST_F(IoFaultTest, ContactSetGid) {
  RunEntryPoint<ContactFamily>("SetGID");
}
TEST_F(IoFaultTest, ContactHandheldSyncWithEveryLogOn) {
  LogEverything();
  RunEntryPoint<ContactFamily>("SyncHandheld", " with every log on");
}
TEST_F(IoFaultTest, ContactServerSync) {
  RunEntryPoint<ContactFamily>("SyncServer");
}

}  // namespace
}  // namespace brontel
