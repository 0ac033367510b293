// Shared helpers of the server tests: a request handler over an in-memory
// database, accounts with known GIDs, and request documents written the way
// the client writes them.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "brontel/core/uid128.h"
#include "server/request_handler.h"
#include "server/sqlite_storage.h"

namespace brontel::server::testing {

inline constexpr char kAnnGid[] = "6F1C2A9E-5B3D-4E81-9A7C-0D2E4F6A8B10";
inline constexpr char kBobGid[] = "0B0B0B0B-1111-2222-3333-444455556666";
inline constexpr char kRevision[] = "BRy2000m03d29t1052:2.1";

class HandlerTest : public ::testing::Test {
 protected:
  HandlerTest() : m_storage(":memory:"), m_handler(m_storage, Options()) {}

  static HandlerOptions Options() {
    HandlerOptions options;
    options.passwordCost = PasswordCost::kMinimal;
    return options;
  }

  // An account whose GID is the given text.
  int64_t AddAccount(const std::string& name, const std::string& gidText) {
    Account account;
    account.username = name;
    account.passwordHash = "unused";
    account.gid.SetString(gidText);
    m_storage.Begin();
    int64_t id = m_storage.AddAccount(account);
    m_storage.Commit();
    return id;
  }

  // A sync request of gid with the given root version and records.
  static std::string Request(const std::string& gid, const std::string& ver,
                             const std::string& records, bool contacts = false,
                             const std::string& ts = "1") {
    return "<tandroreq ts=\"" + ts + "\" ver=\"" + ver + "\" rev=\"" + kRevision + "\" lev=\"3\"" +
           (contacts ? " typ=\"2\"" : "") + "><gid>" + gid + "</gid>" + records + "</tandroreq>";
  }

  // Posts body and expects HTTP 200.
  std::string Post(const std::string& body) {
    HttpReply reply = m_handler.Handle(body);
    EXPECT_EQ(reply.status, 200) << body;
    return reply.body;
  }

  // The answer's elements after its gid element.
  std::string Sync(const std::string& gid, const std::string& ver, const std::string& records,
                   bool contacts = false, const std::string& ts = "1") {
    return RecordsOf(Post(Request(gid, ver, records, contacts, ts)));
  }

  static std::string RecordsOf(const std::string& answer) {
    size_t from = answer.find("</gid>");
    size_t to = answer.rfind("</tandroresp>");
    if (from == std::string::npos || to == std::string::npos) return "<no records: " + answer;
    return answer.substr(from + 6, to - from - 6);
  }

  // The answer's root start tag.
  static std::string RootOf(const std::string& answer) {
    return answer.substr(0, answer.find('>') + 1);
  }

  SqliteStorage m_storage;
  RequestHandler m_handler;
};

}  // namespace brontel::server::testing
