// Sharing a calendar or category with another account: what the subscriber
// is sent (not owned, lid 0, read-only as granted, no default-calendar bit),
// what it may change, and how revocation ends the subscription.
#include "server/sharing.h"

#include <gtest/gtest.h>

#include <string>

#include "handler_fixture.h"

namespace brontel::server::testing {
namespace {

class SharingTest : public HandlerTest {
 protected:
  SharingTest() {
    AddAccount("ann", kAnnGid);
    AddAccount("bob", kBobGid);
  }

  // Ann's default calendar Home (sid 65, 1f5) with event Lunch (sid 66, 1f6).
  void SeedHomeAndLunch() {
    Sync(kAnnGid, "1f4",
         "<calendar lid=\"defa4175\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\">"
         "<name>Home</name><color>10000ff</color></calendar>");
    Sync(kAnnGid, "1f5",
         "<event lid=\"80000002\" act=\"0\"><name>Lunch</name><note>with Cy</note>"
         "<time ymd=\"f065\" beg=\"c00\" end=\"d00\"/><link psid=\"65\" pver=\"0\"/></event>");
  }

  std::string ShareHome(bool readOnly, bool hide = false) {
    ShareOrder order{"ann", "bob", RecordKind::kCalendar, "Home", readOnly, hide};
    return Share(m_storage, order);
  }
};

TEST_F(SharingTest, ReadOnlyShareIsSentAsNotOwnedAndRefusesWrites) {
  SeedHomeAndLunch();
  ASSERT_EQ(ShareHome(true), "");  // grant version 1f7
  EXPECT_EQ(Sync(kBobGid, "ffffffff", "", false, "0"),
            "<calendar sid=\"65\" lid=\"0\" ver=\"1f7\" act=\"1\" ro=\"1\" hide=\"0\" own=\"0\">"
            "<name>Home</name><color>ff</color></calendar>"
            "<event sid=\"66\" lid=\"0\" ver=\"1f7\" act=\"0\"><name>Lunch</name><note>with Cy"
            "</note><time ymd=\"f065\" beg=\"c00\" end=\"d00\"/><link psid=\"65\" pver=\"1f7\"/>"
            "</event>");
  // Bob edits the event anyway: refused, re-stamped, Ann's text stays.
  EXPECT_EQ(Sync(kBobGid, "1f7",
                 "<event sid=\"66\" ver=\"1f7\" act=\"1\"><name>Mine</name><time ymd=\"f065\" "
                 "beg=\"c00\" end=\"d00\"/></event>"),
            "<event sid=\"66\" lid=\"0\" ver=\"1f8\" act=\"0\"><name>Lunch</name><note>with Cy"
            "</note><time ymd=\"f065\" beg=\"c00\" end=\"d00\"/><link psid=\"65\" pver=\"1f8\"/>"
            "</event><conflict ctyp=\"2\" act=\"1\" cerr=\"2\" lid=\"0\" sid=\"66\"/>");
  // Ann still sees her default calendar as hers.
  EXPECT_NE(Sync(kAnnGid, "ffffffff", "").find("own=\"1\"><name>Home</name><color>10000ff"),
            std::string::npos);
}

TEST_F(SharingTest, HiddenDetailsShowAPlaceholder) {
  SeedHomeAndLunch();
  ASSERT_EQ(ShareHome(true, true), "");
  EXPECT_EQ(Sync(kBobGid, "1f6", ""),
            "<calendar sid=\"65\" lid=\"0\" ver=\"1f7\" act=\"1\" ro=\"1\" hide=\"1\" own=\"0\">"
            "<name>Home</name><color>ff</color></calendar>"
            "<event sid=\"66\" lid=\"0\" ver=\"1f7\" act=\"0\"><name>Busy</name>"
            "<time ymd=\"f065\" beg=\"c00\" end=\"d00\"/><link psid=\"65\" pver=\"1f7\"/></event>");
}

TEST_F(SharingTest, ReadWriteSubscriberChangesTheOwnersData) {
  SeedHomeAndLunch();
  ASSERT_EQ(ShareHome(false), "");
  EXPECT_EQ(Sync(kBobGid, "1f7",
                 "<event lid=\"80000001\" act=\"0\"><name>Tea</name><time ymd=\"f065\" "
                 "beg=\"f00\" end=\"f30\"/><link psid=\"65\" pver=\"1f7\"/></event>"),
            "<event sid=\"67\" lid=\"80000001\" ver=\"1f8\" act=\"0\"><name>Tea</name><time "
            "ymd=\"f065\" beg=\"f00\" end=\"f30\"/><link psid=\"65\" pver=\"1f8\"/></event>");
  EXPECT_EQ(Sync(kAnnGid, "1f7", ""),
            "<event sid=\"67\" lid=\"0\" ver=\"1f8\" act=\"0\"><name>Tea</name><time "
            "ymd=\"f065\" beg=\"f00\" end=\"f30\"/><link psid=\"65\" pver=\"1f8\"/></event>");
  // A subscriber cannot change the calendar itself.
  EXPECT_EQ(Sync(kBobGid, "1f8",
                 "<calendar sid=\"65\" lid=\"0\" ver=\"1f7\" act=\"1\" ro=\"0\" hide=\"0\" "
                 "own=\"0\"><name>Ours</name><color>ff</color></calendar>"),
            "<calendar sid=\"65\" lid=\"0\" ver=\"1f9\" act=\"1\" ro=\"0\" hide=\"0\" own=\"0\">"
            "<name>Home</name><color>ff</color></calendar>"
            "<event sid=\"66\" lid=\"0\" ver=\"1f9\" act=\"0\"><name>Lunch</name><note>with Cy"
            "</note><time ymd=\"f065\" beg=\"c00\" end=\"d00\"/><link psid=\"65\" pver=\"1f9\"/>"
            "</event><event sid=\"67\" lid=\"0\" ver=\"1f9\" act=\"0\"><name>Tea</name><time "
            "ymd=\"f065\" beg=\"f00\" end=\"f30\"/><link psid=\"65\" pver=\"1f9\"/></event>"
            "<conflict ctyp=\"1\" act=\"1\" cerr=\"2\" lid=\"0\" sid=\"65\"/>");
}

TEST_F(SharingTest, RevokingEndsTheSubscriptionAndItsEvents) {
  SeedHomeAndLunch();
  ASSERT_EQ(ShareHome(true), "");
  ShareOrder order{"ann", "bob", RecordKind::kCalendar, "Home", true, false};
  ASSERT_EQ(Unshare(m_storage, order), "");  // 1f8
  EXPECT_EQ(Sync(kBobGid, "1f7", ""),
            "<calendar sid=\"65\" lid=\"0\" ver=\"1f8\" act=\"2\"><name>Home</name></calendar>"
            "<event sid=\"66\" ver=\"1f8\" act=\"3\"/>");
  EXPECT_EQ(Sync(kBobGid, "ffffffff", ""), "");
}

TEST_F(SharingTest, SharedCategoryCarriesItsContactsAndUnsubscribingEndsThem) {
  Sync(kAnnGid, "1f4",
       "<category act=\"0\" lid=\"80000001\" ro=\"0\" own=\"1\"><name>Team</name><color>5</color>"
       "</category><contact act=\"0\" lid=\"80000002\" flg=\"0\" opt=\"0\" ofs=\"0\">"
       "<datum index=\"0\">Cy</datum><link psid=\"80000001\" pver=\"ffffffff\"/></contact>",
       true);
  ShareOrder order{"ann", "bob", RecordKind::kCategory, "Team", true, false};
  ASSERT_EQ(Share(m_storage, order), "");  // 1f7
  EXPECT_EQ(Sync(kBobGid, "ffffffff", "", true),
            "<category sid=\"65\" lid=\"0\" ver=\"1f7\" act=\"1\" ro=\"1\" own=\"0\"><name>Team"
            "</name><color>5</color></category><contact sid=\"66\" lid=\"0\" ver=\"1f7\" "
            "act=\"1\" flg=\"0\" opt=\"0\" ofs=\"0\"><datum index=\"0\">Cy</datum></contact>"
            "<contact sid=\"66\" ver=\"1f7\" act=\"4\"><link psid=\"65\" pver=\"1f7\"/></contact>");
  // Bob's client ends the subscription.
  EXPECT_EQ(Sync(kBobGid, "1f7", "<category act=\"2\" sid=\"65\" ver=\"1f7\"/>", true),
            "<category sid=\"65\" ver=\"1f8\" act=\"2\"/><contact sid=\"66\" ver=\"1f8\" "
            "act=\"3\"/>");
}

TEST_F(SharingTest, OrdersNamingNothingFail) {
  SeedHomeAndLunch();
  EXPECT_EQ(Share(m_storage, {"ann", "cy", RecordKind::kCalendar, "Home", true, false}),
            "no account named cy");
  EXPECT_EQ(Share(m_storage, {"ann", "bob", RecordKind::kCalendar, "Away", true, false}),
            "ann has no calendar named Away");
  EXPECT_EQ(Share(m_storage, {"ann", "ann", RecordKind::kCalendar, "Home", true, false}),
            "an account cannot share with itself");
  EXPECT_EQ(Sync(kBobGid, "ffffffff", ""), "");
}

}  // namespace
}  // namespace brontel::server::testing
