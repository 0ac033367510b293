// Tests of the sync answers: the worked three-pass example byte for byte,
// lid echoes only to the inserter, repeated inserts and equal inserts of other
// desktops that are not repeats, delta and full answers, refusals with
// re-stamped state, tombstones, contacts with their category link, and the
// failure answers.
#include "server/request_handler.h"

#include <gtest/gtest.h>

#include <string>

#include "handler_fixture.h"

namespace brontel::server::testing {
namespace {

constexpr char kWork[] =
    "<calendar lid=\"8000002f\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\"><name>Work</name>"
    "<color>ff</color></calendar>";
constexpr char kDentist[] =
    "<event lid=\"80000031\" act=\"0\"><name>Dentist</name><time ymd=\"f065\" beg=\"900\" "
    "end=\"a00\"/><link psid=\"65\" pver=\"0\"/></event>";
// What another client of the account is sent for the two records above.
constexpr char kWorkAsSeen[] =
    "<calendar sid=\"65\" lid=\"0\" ver=\"1f5\" act=\"1\" ro=\"0\" hide=\"0\" own=\"1\">"
    "<name>Work</name><color>ff</color></calendar>";
constexpr char kDentistAsSeen[] =
    "<event sid=\"66\" lid=\"0\" ver=\"1f6\" act=\"0\"><name>Dentist</name><time ymd=\"f065\" "
    "beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f6\"/></event>";
constexpr char kFailure[] = "<tandroresp sts=\"0\"/>";

class SyncTest : public HandlerTest {
 protected:
  SyncTest() { m_ann = AddAccount("ann", kAnnGid); }

  // Calendar Work (sid 65, version 1f5) with event Dentist (sid 66, 1f6).
  void SeedWorkAndDentist() {
    Sync(kAnnGid, "1f4", kWork);
    Sync(kAnnGid, "1f5", kDentist);
  }

  // Dentist also in a new calendar Home (sid 67).
  void PlaceDentistInHome() {
    Sync(kAnnGid, "1f6",
         "<calendar lid=\"80000040\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\">"
         "<name>Home</name><color>0</color></calendar>"
         "<event sid=\"66\" ver=\"1f6\" act=\"4\"><link psid=\"80000040\" pver=\"ffffffff\"/>"
         "</event>");
  }

  // An exception (sid 68) cut from Dentist, which leaves calendar Home; the
  // answer.
  std::string CutExceptionOutOfHome() {
    return Sync(kAnnGid, "1f8",
                "<event cid=\"66\" lid=\"80000050\" act=\"0\"><name>Dentist</name><time "
                "ymd=\"f072\" beg=\"900\" end=\"a00\"/></event><event lid=\"80000050\" "
                "act=\"5\"><link psid=\"67\" pver=\"1f8\"/></event>");
  }

  // Categories A (sid 65) and B (sid 66), contact Lee (sid 67, version 1f7) in A.
  void SeedCategoriesAAndBWithLee() {
    Sync(kAnnGid, "1f4",
         "<category act=\"0\" lid=\"80000005\" ro=\"0\" own=\"1\"><name>A</name><color>0</color>"
         "</category><category act=\"0\" lid=\"80000006\" ro=\"0\" own=\"1\"><name>B</name>"
         "<color>0</color></category><contact act=\"0\" lid=\"80000009\" flg=\"0\" opt=\"0\" "
         "ofs=\"0\"><datum index=\"0\">Lee</datum><link psid=\"65\" pver=\"0\"/></contact>",
         true);
  }

  int64_t m_ann = 0;
};

TEST_F(SyncTest, WorkedExampleIsAnsweredByteForByte) {
  EXPECT_EQ(Post("<tandroreq ts=\"0\" ver=\"ffffffff\" rev=\"BRy2000m03d29t1052:2.1\" lev=\"3\">"
                 "<gid>6F1C2A9E-5B3D-4E81-9A7C-0D2E4F6A8B10</gid><orvel/></tandroreq>"),
            "<tandroresp ts=\"1\" sts=\"1\" ver=\"1f4\" rev=\"r1\" full=\"1\">"
            "<gid>6F1C2A9E-5B3D-4E81-9A7C-0D2E4F6A8B10</gid></tandroresp>");
  EXPECT_EQ(Post(Request(kAnnGid, "1f4", kWork)),
            "<tandroresp ts=\"1\" sts=\"1\" ver=\"1f5\" rev=\"r1\" full=\"0\">"
            "<gid>6F1C2A9E-5B3D-4E81-9A7C-0D2E4F6A8B10</gid><calendar sid=\"65\" lid=\"8000002f\" "
            "ver=\"1f5\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\"><name>Work</name><color>ff</color>"
            "</calendar></tandroresp>");
  EXPECT_EQ(Post(Request(kAnnGid, "1f5", kDentist)),
            "<tandroresp ts=\"1\" sts=\"1\" ver=\"1f6\" rev=\"r1\" full=\"0\">"
            "<gid>6F1C2A9E-5B3D-4E81-9A7C-0D2E4F6A8B10</gid><event sid=\"66\" lid=\"80000031\" "
            "ver=\"1f6\" act=\"0\"><name>Dentist</name><time ymd=\"f065\" beg=\"900\" end=\"a00\"/>"
            "<link psid=\"65\" pver=\"1f6\"/></event></tandroresp>");
}

TEST_F(SyncTest, OnlyTheInsertingAnswerEchoesTheLid) {
  SeedWorkAndDentist();
  // A second desktop of the same account, and the inserter after losing its
  // shadow, get fixed id = sid (lid 0).
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", "", false, "0"), std::string(kWorkAsSeen) + kDentistAsSeen);
  EXPECT_EQ(Sync(kAnnGid, "1f4", ""), std::string(kWorkAsSeen) + kDentistAsSeen);
}

TEST_F(SyncTest, RepeatedInsertIsRecognisedAndChangedContentIsANewRecord) {
  SeedWorkAndDentist();
  // The answer was lost: the same insert comes again.
  std::string again = Post(Request(kAnnGid, "1f5", kDentist));
  EXPECT_EQ(RootOf(again), "<tandroresp ts=\"1\" sts=\"1\" ver=\"1f6\" rev=\"r1\" full=\"0\">");
  EXPECT_EQ(RecordsOf(again),
            "<event sid=\"66\" lid=\"80000031\" ver=\"1f6\" act=\"0\"><name>Dentist</name>"
            "<time ymd=\"f065\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f6\"/></event>");
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", "", false, "0"), std::string(kWorkAsSeen) + kDentistAsSeen);

  // Same lid, other content: a new record, echoed to its sender, stored with
  // fid = its sid so the account's fids stay unique.
  std::string other = kDentist;
  other.replace(other.find("Dentist"), 7, "Doctor");
  EXPECT_EQ(Sync(kAnnGid, "1f6", other),
            "<event sid=\"67\" lid=\"80000031\" ver=\"1f7\" act=\"0\"><name>Doctor</name>"
            "<time ymd=\"f065\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f7\"/></event>");
  m_storage.Begin();
  EXPECT_EQ(m_storage.LiveRecordsByFid(RecordKind::kEvent, m_ann, 0x80000031).size(), 1u);
  EXPECT_EQ(m_storage.FindRecord(RecordKind::kEvent, 0x67)->fid, 0x67u);
  m_storage.Commit();
}

TEST_F(SyncTest, EqualInsertFromAClientThatHoldsTheRecordIsARecordOfItsOwn) {
  SeedWorkAndDentist();
  // Another desktop of the account was sent both records (its version is
  // 1f6), and its store made the same provisional fixed ids for its own Work
  // and Dentist. Recognised as repeats, they could never join its records:
  // it holds 65 and 66 under their server ids, and lids of known records are
  // not read.
  EXPECT_EQ(Sync(kAnnGid, "1f6", kWork),
            "<calendar sid=\"67\" lid=\"8000002f\" ver=\"1f7\" act=\"0\" ro=\"0\" hide=\"0\" "
            "own=\"1\"><name>Work</name><color>ff</color></calendar>");
  EXPECT_EQ(Sync(kAnnGid, "1f7", kDentist),
            "<event sid=\"68\" lid=\"80000031\" ver=\"1f8\" act=\"0\"><name>Dentist</name>"
            "<time ymd=\"f065\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f8\"/></event>");
  m_storage.Begin();
  EXPECT_EQ(m_storage.FindRecord(RecordKind::kCalendar, 0x67)->fid, 0x67u);
  EXPECT_EQ(m_storage.FindRecord(RecordKind::kEvent, 0x68)->fid, 0x68u);
  m_storage.Commit();
}

TEST_F(SyncTest, DeltaCarriesChangesAboveTheRequestVersionElseFull) {
  SeedWorkAndDentist();
  EXPECT_EQ(Sync(kAnnGid, "1f5", ""), kDentistAsSeen);
  EXPECT_EQ(Sync(kAnnGid, "1f6", ""), "");
  struct Case {
    const char* what;
    const char* ver;
    const char* ts;
    bool full;
  };
  const Case cases[] = {
      {"current version, fresh stamp", "1f6", "0", false},
      {"invalid version", "ffffffff", "1", true},
      {"version above the counter", "200", "1", true},
      {"stamp of another epoch", "1f6", "2", true},
  };
  for (const Case& c : cases) {
    std::string answer = Post(Request(kAnnGid, c.ver, "", false, c.ts));
    EXPECT_EQ(RootOf(answer), std::string("<tandroresp ts=\"1\" sts=\"1\" ver=\"1f6\" rev=\"r1\" "
                                          "full=\"") +
                                  (c.full ? "1" : "0") + "\">")
        << c.what;
    EXPECT_EQ(RecordsOf(answer), c.full ? std::string(kWorkAsSeen) + kDentistAsSeen : "") << c.what;
  }
}

TEST_F(SyncTest, StaleUpdateIsRefusedWithTheRestampedCurrentState) {
  SeedWorkAndDentist();
  const std::string moved =
      "<event sid=\"66\" ver=\"1f6\" act=\"1\"><name>Dentist moved</name><time ymd=\"f066\" "
      "beg=\"900\" end=\"a00\"/></event>";
  EXPECT_EQ(Sync(kAnnGid, "1f6", moved),
            "<event sid=\"66\" lid=\"0\" ver=\"1f7\" act=\"0\"><name>Dentist moved</name>"
            "<time ymd=\"f066\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f6\"/></event>");
  // Another desktop still based on 1f6 edits the same event.
  std::string late = moved;
  late.replace(late.find("moved"), 5, "late");
  EXPECT_EQ(Sync(kAnnGid, "1f6", late),
            "<event sid=\"66\" lid=\"0\" ver=\"1f8\" act=\"0\"><name>Dentist moved</name>"
            "<time ymd=\"f066\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f8\"/></event>"
            "<conflict ctyp=\"2\" act=\"1\" cerr=\"1\" lid=\"0\" sid=\"66\"/>");
}

TEST_F(SyncTest, DeletesLeaveTombstonesThatDeltasCarryAndFullAnswersOmit) {
  SeedWorkAndDentist();
  const std::string remove =
      "<event sid=\"66\" lid=\"0\" ver=\"1f6\" act=\"3\" ro=\"0\" hide=\"0\" own=\"1\"/>";
  EXPECT_EQ(Sync(kAnnGid, "1f6", remove), "<event sid=\"66\" ver=\"1f7\" act=\"3\"/>");
  // Deleting it again answers the tombstone, without a conflict.
  EXPECT_EQ(Sync(kAnnGid, "1f7", remove), "<event sid=\"66\" ver=\"1f7\" act=\"3\"/>");
  EXPECT_EQ(Sync(kAnnGid, "1f6", ""), "<event sid=\"66\" ver=\"1f7\" act=\"3\"/>");
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", ""), kWorkAsSeen);
}

TEST_F(SyncTest, CalendarDeleteTakesItsOnlyLinkedEventsAlong) {
  SeedWorkAndDentist();
  EXPECT_EQ(Sync(kAnnGid, "1f6",
                 "<calendar sid=\"65\" lid=\"0\" ver=\"1f5\" act=\"3\" ro=\"0\" hide=\"0\" "
                 "own=\"1\"><name>Work</name></calendar>"),
            "<calendar sid=\"65\" lid=\"0\" ver=\"1f7\" act=\"3\"><name>Work</name></calendar>"
            "<event sid=\"66\" ver=\"1f7\" act=\"3\"/>");
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", ""), "");
}

TEST_F(SyncTest, ContactInsertIsAnsweredWithTheContactThenItsCategoryLink) {
  EXPECT_EQ(Sync(kAnnGid, "1f4",
                 "<category act=\"0\" lid=\"80000005\" ro=\"0\" own=\"1\"><name>Friends</name>"
                 "<color>ff00</color></category>"
                 "<contact act=\"0\" lid=\"80000009\" flg=\"1\" opt=\"0\" ofs=\"0\">"
                 "<datum index=\"0\">Lee</datum><datum index=\"3\">a&amp;b\\nc</datum>"
                 "<link psid=\"80000005\" pver=\"ffffffff\"/></contact>",
                 true),
            "<category sid=\"65\" lid=\"80000005\" ver=\"1f5\" act=\"0\" ro=\"0\" own=\"1\">"
            "<name>Friends</name><color>ff00</color></category>"
            "<contact sid=\"66\" lid=\"80000009\" ver=\"1f6\" act=\"0\" flg=\"1\" opt=\"0\" "
            "ofs=\"0\"><datum index=\"0\">Lee</datum><datum index=\"3\">a&amp;b\\nc</datum>"
            "</contact><contact sid=\"66\" ver=\"1f6\" act=\"4\"><link psid=\"65\" pver=\"1f6\"/>"
            "</contact>");
  // The contact family never carries calendars, nor the calendar family contacts.
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", ""), "");
}

TEST_F(SyncTest, ContactMoveAppliesTheNewLinkAndIgnoresTheOldOne) {
  SeedCategoriesAAndBWithLee();
  EXPECT_EQ(Sync(kAnnGid, "1f7",
                 "<contact act=\"4\" sid=\"67\" ver=\"1f7\"><link psid=\"66\" pver=\"1f9\"/>"
                 "</contact><contact act=\"5\" sid=\"67\" ver=\"1f7\"><link psid=\"65\" "
                 "pver=\"1f9\"/></contact>",
                 true),
            "<contact sid=\"67\" lid=\"0\" ver=\"1f7\" act=\"1\" flg=\"0\" opt=\"0\" ofs=\"0\">"
            "<datum index=\"0\">Lee</datum></contact><contact sid=\"67\" ver=\"1f7\" act=\"4\">"
            "<link psid=\"66\" pver=\"1f8\"/></contact>");
}

TEST_F(SyncTest, ACategoryDeletedInTheRequestThatMovesAContactOutOfItKeepsTheContact) {
  SeedCategoriesAAndBWithLee();
  // The client sends its category deletions before its contacts' moves; the
  // deletion takes along only the contacts still filed there.
  Sync(kAnnGid, "1f7",
       "<category sid=\"65\" lid=\"0\" ver=\"1f5\" act=\"3\" ro=\"0\" own=\"1\"><name>A</name>"
       "<color>0</color></category>"
       "<contact act=\"4\" sid=\"67\" ver=\"1f7\"><link psid=\"66\" pver=\"1f9\"/></contact>"
       "<contact act=\"5\" sid=\"67\" ver=\"1f7\"><link psid=\"65\" pver=\"1f9\"/></contact>",
       true);
  const std::string full = Sync(kAnnGid, "ffffffff", "", true);
  EXPECT_EQ(full.find("<name>A</name>"), std::string::npos) << full;
  EXPECT_NE(full.find("<datum index=\"0\">Lee</datum>"), std::string::npos) << full;
  EXPECT_NE(full.find("<link psid=\"66\""), std::string::npos) << full;
}

TEST_F(SyncTest, RepeatExceptionNamesTheOriginalsLinksItLacks) {
  SeedWorkAndDentist();
  PlaceDentistInHome();
  EXPECT_EQ(CutExceptionOutOfHome(),
            "<event sid=\"68\" cid=\"66\" lid=\"80000050\" ver=\"1f9\" act=\"0\"><name>Dentist"
            "</name><time ymd=\"f072\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f9\"/>"
            "</event><event sid=\"68\" ver=\"1f9\" act=\"5\"><link psid=\"67\" pver=\"1fa\"/>"
            "</event>");
}

// An exception's own removed link was named when it happened: a later change
// of the exception does not name it again as new, which would take the
// exception out of that calendar on a client that has just put it back.
TEST_F(SyncTest, AnExceptionsOwnRemovedLinkIsNotNamedAgainWhenItChanges) {
  SeedWorkAndDentist();
  PlaceDentistInHome();
  CutExceptionOutOfHome();
  // Another copy, which knows the exception out of Home (1fa), changes it.
  EXPECT_EQ(Sync(kAnnGid, "1fa",
                 "<event sid=\"68\" ver=\"1f9\" act=\"1\"><name>Dentist moved</name><time "
                 "ymd=\"f072\" beg=\"900\" end=\"a00\"/></event>"),
            "<event sid=\"68\" cid=\"66\" lid=\"0\" ver=\"1fb\" act=\"0\"><name>Dentist moved"
            "</name><time ymd=\"f072\" beg=\"900\" end=\"a00\"/><link psid=\"65\" pver=\"1f9\"/>"
            "</event>");
}

TEST_F(SyncTest, ClicksAreCountedOnceAndEchoed) {
  SeedWorkAndDentist();
  EXPECT_EQ(Sync(kAnnGid, "1f6",
                 "<orvel><click eid=\"66\"/><click eid=\"66\"/><click eid=\"99\"/></orvel>"),
            "<orvel><click eid=\"66\"/><click eid=\"99\"/></orvel>");
  m_storage.Begin();
  EXPECT_EQ(m_storage.ClickCount(0x66), 1u);
  EXPECT_EQ(m_storage.ClickCount(0x99), 0u);
  m_storage.Commit();
}

TEST_F(SyncTest, UnknownRecordsGetAConflictOnly) {
  SeedWorkAndDentist();
  EXPECT_EQ(Sync(kAnnGid, "1f6",
                 "<event sid=\"777\" ver=\"1\" act=\"1\"><name>x</name></event>"
                 "<event lid=\"80000060\" act=\"0\"><name>y</name><link psid=\"80000099\" "
                 "pver=\"ffffffff\"/></event>"),
            "<conflict ctyp=\"2\" act=\"1\" cerr=\"3\" lid=\"0\" sid=\"777\"/>"
            "<conflict ctyp=\"2\" act=\"0\" cerr=\"3\" lid=\"80000060\" sid=\"0\"/>");
}

TEST_F(SyncTest, UnknownOrZeroGidIsAFailureAnswer) {
  EXPECT_EQ(Post(Request(kBobGid, "ffffffff", "")), kFailure);
  EXPECT_EQ(Post(Request("00000000-0000-0000-0000-000000000000", "ffffffff", "")), kFailure);
  EXPECT_EQ(Post("<tandroreq ts=\"0\" ver=\"ffffffff\"/>"), kFailure);
}

TEST_F(SyncTest, UnparsableBodyIsHttp400) {
  EXPECT_EQ(m_handler.Handle("<tandroreq><gid>x</gid>").status, 200);  // cut off, still readable
  EXPECT_EQ(m_handler.Handle("<tandroreq><gid>x</nope></tandroreq>").status, 400);
  EXPECT_EQ(m_handler.Handle("not a document").status, 400);
}

}  // namespace
}  // namespace brontel::server::testing
