// A request that fails midway leaves the database as it was: the handler
// answers 500 and the transaction is rolled back whole.
#include <gtest/gtest.h>

#include <string>

#include "handler_fixture.h"
#include "support/temp_dir.h"

namespace brontel::server::testing {
namespace {

// SqliteStorage that fails its n-th link write.
class FailingStorage : public SqliteStorage {
 public:
  FailingStorage() : SqliteStorage(":memory:") {}
  void PutLink(const StoredLink& link) override {
    if (--m_linkWritesLeft == 0) throw StorageError("disk on fire");
    SqliteStorage::PutLink(link);
  }
  int32_t m_linkWritesLeft = 1000;
};

TEST(TransactionTest, FailedRequestLeavesTheDatabaseUnchanged) {
  FailingStorage storage;
  HandlerOptions options;
  options.passwordCost = PasswordCost::kMinimal;
  RequestHandler handler(storage, options);
  Account ann;
  ann.username = "ann";
  ann.passwordHash = "unused";
  ann.gid.SetString(kAnnGid);
  storage.Begin();
  storage.AddAccount(ann);
  storage.Commit();

  auto request = [](const std::string& ver, const std::string& records) {
    return "<tandroreq ts=\"1\" ver=\"" + ver + "\"><gid>" + kAnnGid + "</gid>" + records +
           "</tandroreq>";
  };
  const std::string before = handler.Handle(request("ffffffff", "")).body;

  // Calendar and first event go in, the second event's link write fails.
  storage.m_linkWritesLeft = 2;
  HttpReply failed = handler.Handle(request(
      "1f4",
      "<calendar lid=\"80000001\" ver=\"0\" act=\"0\"><name>Work</name><color>1</color>"
      "</calendar><event lid=\"80000002\" act=\"0\"><name>A</name><link psid=\"80000001\" "
      "pver=\"ffffffff\"/></event><event lid=\"80000003\" act=\"0\"><name>B</name>"
      "<link psid=\"80000001\" pver=\"ffffffff\"/></event><orvel><click eid=\"1\"/></orvel>"));
  EXPECT_EQ(failed.status, 500);
  EXPECT_EQ(failed.body, "");

  storage.m_linkWritesLeft = 1000;
  EXPECT_EQ(handler.Handle(request("ffffffff", "")).body, before);
  storage.Begin();
  EXPECT_EQ(storage.GetCounter(), 0x1f4u);
  EXPECT_EQ(storage.NextSid(), 0x65u);
  storage.Rollback();
}

TEST(TransactionTest, DatabaseFileKeepsCommittedRequests) {
  brontel::testing::TempDir directory;
  std::string path = directory.File("server.db");
  {
    SqliteStorage storage(path);
    Account ann;
    ann.username = "ann";
    ann.passwordHash = "unused";
    ann.gid.SetString(kAnnGid);
    storage.Begin();
    storage.AddAccount(ann);
    storage.SetCounter(0x300);
    storage.Commit();
    storage.Begin();
    storage.SetCounter(0x400);
    storage.Rollback();
  }
  SqliteStorage reopened(path);
  reopened.Begin();
  EXPECT_EQ(reopened.GetCounter(), 0x300u);
  EXPECT_TRUE(reopened.FindAccountByName("ann").has_value());
  reopened.Commit();
}

}  // namespace
}  // namespace brontel::server::testing
