// Tests of the GID request: a new user name creates an account, the same name
// and password get the same GID again, a wrong password the failure answer;
// passwords are stored only as salted hashes.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "handler_fixture.h"

namespace brontel::server::testing {
namespace {

class GidRequestTest : public HandlerTest {
 protected:
  // The GID of the answer, or "" when it is not a GID answer.
  std::string AskGid(const std::string& user, const std::string& password) {
    std::string answer =
        Post("<tandroreq ts=\"0\" ver=\"0\" rev=\"BRy2000m03d29t1052\"><username>" + user +
             "</username><password enc=\"0\">" + password + "</password></tandroreq>");
    static const std::regex kGidAnswer(
        "<tandroresp ts=\"0\" sts=\"1\" ver=\"0\" rev=\"r1\" full=\"0\">"
        "<newgid>([0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12})</newgid>"
        "</tandroresp>");
    std::smatch match;
    if (!std::regex_match(answer, match, kGidAnswer)) {
      EXPECT_EQ(answer, "<tandroresp sts=\"0\"/>");
      return "";
    }
    return match[1];
  }
};

TEST_F(GidRequestTest, OneGidPerAccountForEveryClient) {
  std::string ann = AskGid("ann", "s&amp;cret");
  ASSERT_FALSE(ann.empty());
  EXPECT_NE(ann, "00000000-0000-0000-0000-000000000000");
  EXPECT_EQ(AskGid("ann", "s&amp;cret"), ann);
  std::string bob = AskGid("bob", "s&amp;cret");
  ASSERT_FALSE(bob.empty());
  EXPECT_NE(bob, ann);

  // The GID opens both families.
  EXPECT_EQ(RootOf(Post(Request(ann, "ffffffff", ""))),
            "<tandroresp ts=\"1\" sts=\"1\" ver=\"1f4\" rev=\"r1\" full=\"1\">");
  EXPECT_EQ(RootOf(Post(Request(ann, "ffffffff", "", true))),
            "<tandroresp ts=\"1\" sts=\"1\" ver=\"1f4\" rev=\"r1\" full=\"1\">");
}

TEST_F(GidRequestTest, WrongPasswordOrNoUserNameFails) {
  ASSERT_FALSE(AskGid("ann", "secret").empty());
  EXPECT_EQ(AskGid("ann", "Secret"), "");
  EXPECT_EQ(AskGid("ann", ""), "");
  EXPECT_EQ(AskGid("", "secret"), "");
}

TEST_F(GidRequestTest, PasswordIsStoredOnlyAsASaltedHash) {
  ASSERT_FALSE(AskGid("ann", "secret").empty());
  ASSERT_FALSE(AskGid("bob", "secret").empty());
  m_storage.Begin();
  std::string annHash = m_storage.FindAccountByName("ann")->passwordHash;
  std::string bobHash = m_storage.FindAccountByName("bob")->passwordHash;
  m_storage.Commit();
  EXPECT_EQ(annHash.rfind("$argon2", 0), 0u) << annHash;
  EXPECT_EQ(annHash.find("secret"), std::string::npos);
  EXPECT_NE(annHash, bobHash);
}

TEST(CredentialsTest, InteractiveHashesVerify) {
  std::string hash = HashPassword("pa ss", PasswordCost::kInteractive);
  EXPECT_TRUE(VerifyPassword(hash, "pa ss"));
  EXPECT_FALSE(VerifyPassword(hash, "pass"));
  EXPECT_FALSE(VerifyPassword("", "pa ss"));
  EXPECT_FALSE(VerifyPassword("$argon2id$garbage", "pa ss"));
}

}  // namespace
}  // namespace brontel::server::testing
