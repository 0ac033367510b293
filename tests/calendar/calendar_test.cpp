// Tests of Calendar: the three-way Sync against the other copy and the copy of
// the last synchronization, the conflict slot, fixed ids, the merge of a
// handheld copy by date-book ids, removal, and the display strings.
#include "brontel/calendar/calendar.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "support/calendar_fixture.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddEvent;
using testing::CalendarKind;
using testing::MakeEventDescriptor;
using testing::PlacementOf;

// ---------------------------------------------------------------------------
// Sync
// ---------------------------------------------------------------------------

enum class Versions { kOtherNewer, kSame, kMineNewer };
// The stored data hash of a copy: none yet, the hash of its current data
// (unchanged since the last synchronization), or a hash of older data.
enum class Hash { kZero, kMatched, kStale };
enum class Outcome { kTakeOther, kKeepMine, kConflict, kNone };

const char* OutcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::kTakeOther:
      return "take other";
    case Outcome::kKeepMine:
      return "keep mine";
    case Outcome::kConflict:
      return "conflict";
    case Outcome::kNone:
      return "none";
  }
  return "?";
}

// Names a table test after its case's label, and prints a case as its label.
template <class Case>
std::string CaseLabel(const ::testing::TestParamInfo<Case>& param) {
  return param.param.label;
}
template <class Case>
requires requires(const Case& c) {
  c.label;
}
std::ostream& operator<<(std::ostream& out, const Case& c) {
  return out << c.label;
}

constexpr uint32_t kFixedId = 0x0100;
constexpr uint32_t kMineCacheId = 0x11;
constexpr uint32_t kOtherCacheId = 0x22;

// The compared content of one copy.
struct Data {
  const char* name;
  const char* description;
};

constexpr Data kBase{"Base", "d"};
constexpr Data kMineData{"Mine", "d"};
constexpr Data kOtherData{"Other", "d"};

// The reference calendar (the copy of the last synchronization), if any.
struct Reference {
  bool exists = false;
  bool deleted = false;
  Data data{"", ""};
};

constexpr Reference kNoReference{};
constexpr Reference LiveReference(Data data) {
  return {true, false, data};
}
constexpr Reference DeletedReference(Data data) {
  return {true, true, data};
}

void SetHash(Calendar& calendar, Hash hash) {
  uint32_t current = calendar.GetCalendarDescriptor().CalculateHash();
  calendar.SetDataHash(hash == Hash::kZero      ? 0
                       : hash == Hash::kMatched ? current
                                                : current ^ 0x00A5A5A5);
}

// Three managers (mine, the other copy, the reference copy) and one calendar
// in the first two, all with the same fixed id.
class CalendarSyncTest : public ::testing::Test {
 protected:
  Calendar MakeCalendar(CalendarManager& manager, Data data, uint32_t version, Hash hash,
                        uint32_t cacheId) {
    Calendar calendar = AddCalendar(manager, data.name, CalendarKind::Local(), kFixedId);
    calendar.GetCalendarDescriptor().SetDescription(data.description);
    calendar.SetCacheId(cacheId);
    calendar.SetVersion(version);
    SetHash(calendar, hash);
    return calendar;
  }

  void MakeMine(Data data, uint32_t version, Hash hash) {
    m_mine = MakeCalendar(m_mineManager, data, version, hash, kMineCacheId);
  }
  void MakeOther(Data data, uint32_t version, Hash hash) {
    m_other = MakeCalendar(m_otherManager, data, version, hash, kOtherCacheId);
  }
  void MakeReference(const Reference& reference) {
    if (!reference.exists) return;
    Calendar calendar = MakeCalendar(m_referenceManager, reference.data, 1, Hash::kMatched, 0x33);
    if (reference.deleted) calendar.SetDeleted();
  }

  // Mine and the other copy with different data, neither unchanged, no
  // reference: the two sides conflict whatever their versions.
  void MakeConflictingPair(uint32_t mineVersion, uint32_t otherVersion) {
    MakeMine(kMineData, mineVersion, Hash::kStale);
    MakeOther(kOtherData, otherVersion, Hash::kStale);
  }

  // The same data, version and hash on both sides: Sync changes no data.
  void MakeQuietPair() {
    MakeMine(kBase, 5, Hash::kMatched);
    MakeOther(kBase, 5, Hash::kMatched);
  }

  int32_t SyncOnce(bool flag = true) { return m_mine.Sync(m_other, m_referenceManager, flag); }

  // Which copy was copied onto which, told by the cache ids that a copy
  // carries along.
  Outcome OutcomeOf() const {
    if (m_mine.IsConflicted()) return Outcome::kConflict;
    if (m_mine.GetCacheId() == kOtherCacheId) return Outcome::kTakeOther;
    if (m_other.GetCacheId() == kMineCacheId) return Outcome::kKeepMine;
    return Outcome::kNone;
  }

  std::string NameOf(const Calendar& calendar) const {
    return calendar.GetCalendarDescriptor().GetCalendarName();
  }

  CalendarManager m_mineManager = CalendarManager::CreateEmpty();
  CalendarManager m_otherManager = CalendarManager::CreateEmpty();
  CalendarManager m_referenceManager = CalendarManager::CreateEmpty();
  Calendar m_mine;
  Calendar m_other;
};

struct SyncCase {
  const char* label;
  Versions versions;
  Data mine;
  Hash mineHash;
  Data other;
  Hash otherHash;
  Reference reference;
  Outcome expected;
};

std::ostream& operator<<(std::ostream& out, const SyncCase& c) {
  return out << c.label << " -> " << OutcomeName(c.expected);
}

class CalendarSyncTableTest : public CalendarSyncTest,
                              public ::testing::WithParamInterface<SyncCase> {};

TEST_P(CalendarSyncTableTest, DecidesWhichCopyWins) {
  const SyncCase& c = GetParam();
  MakeMine(c.mine, c.versions == Versions::kMineNewer ? 6 : 5, c.mineHash);
  MakeOther(c.other, c.versions == Versions::kOtherNewer ? 6 : 5, c.otherHash);
  MakeReference(c.reference);

  int32_t conflicts = SyncOnce();

  EXPECT_EQ(OutcomeName(OutcomeOf()), std::string(OutcomeName(c.expected)));
  EXPECT_EQ(conflicts, c.expected == Outcome::kConflict ? 1 : 0);
}

constexpr Data kNewD{"New", "d"};
constexpr Data kNewX{"New", "x"};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, CalendarSyncTableTest,
    ::testing::Values(
        // The other copy is newer.
        SyncCase{"OtherNewerSameData", Versions::kOtherNewer, kBase, Hash::kStale, kBase,
                 Hash::kMatched, kNoReference, Outcome::kTakeOther},
        SyncCase{"OtherNewerOnlyOtherChanged", Versions::kOtherNewer, kBase, Hash::kStale,
                 kOtherData, Hash::kStale, LiveReference(kBase), Outcome::kTakeOther},
        SyncCase{"OtherNewerBlendOfAgreedFieldsIsMine", Versions::kOtherNewer, kNewD, Hash::kStale,
                 kNewX, Hash::kStale, LiveReference(kBase), Outcome::kTakeOther},
        SyncCase{"OtherNewerMineUnchanged", Versions::kOtherNewer, kMineData, Hash::kMatched,
                 kOtherData, Hash::kStale, kNoReference, Outcome::kTakeOther},
        SyncCase{"OtherNewerMineWithoutHash", Versions::kOtherNewer, kMineData, Hash::kZero,
                 kOtherData, Hash::kMatched, kNoReference, Outcome::kConflict},
        SyncCase{"OtherNewerBothChanged", Versions::kOtherNewer, kMineData, Hash::kStale,
                 kOtherData, Hash::kStale, kNoReference, Outcome::kConflict},
        SyncCase{"OtherNewerReferenceMatchesNeither", Versions::kOtherNewer, kMineData,
                 Hash::kStale, kOtherData, Hash::kStale, LiveReference(kBase), Outcome::kConflict},
        SyncCase{"OtherNewerDeletedReferenceIsIgnored", Versions::kOtherNewer, kBase, Hash::kStale,
                 kOtherData, Hash::kStale, DeletedReference(kBase), Outcome::kConflict},
        // Mine is newer.
        SyncCase{"MineNewerSameData", Versions::kMineNewer, kBase, Hash::kStale, kBase,
                 Hash::kStale, kNoReference, Outcome::kKeepMine},
        SyncCase{"MineNewerOnlyMineChanged", Versions::kMineNewer, kMineData, Hash::kStale, kBase,
                 Hash::kStale, LiveReference(kBase), Outcome::kKeepMine},
        SyncCase{"MineNewerBlendOfAgreedFieldsIsOther", Versions::kMineNewer, kNewX, Hash::kStale,
                 kNewD, Hash::kStale, LiveReference(kBase), Outcome::kKeepMine},
        SyncCase{"MineNewerOtherUnchanged", Versions::kMineNewer, kMineData, Hash::kStale,
                 kOtherData, Hash::kMatched, kNoReference, Outcome::kKeepMine},
        SyncCase{"MineNewerBothChanged", Versions::kMineNewer, kMineData, Hash::kStale, kOtherData,
                 Hash::kStale, kNoReference, Outcome::kConflict},
        SyncCase{"MineNewerMineUnchangedDoesNotDecide", Versions::kMineNewer, kMineData,
                 Hash::kMatched, kOtherData, Hash::kStale, kNoReference, Outcome::kConflict},
        SyncCase{"MineNewerDeletedReferenceIsIgnored", Versions::kMineNewer, kMineData,
                 Hash::kStale, kBase, Hash::kStale, DeletedReference(kBase), Outcome::kConflict},
        // Both at the same version.
        SyncCase{"SameDataHashesDiffer", Versions::kSame, kBase, Hash::kStale, kBase,
                 Hash::kMatched, kNoReference, Outcome::kTakeOther},
        SyncCase{"SameDataMineWithoutHash", Versions::kSame, kBase, Hash::kZero, kBase,
                 Hash::kMatched, kNoReference, Outcome::kTakeOther},
        SyncCase{"SameDataSameHash", Versions::kSame, kBase, Hash::kMatched, kBase, Hash::kMatched,
                 kNoReference, Outcome::kNone},
        SyncCase{"SameOnlyMineChanged", Versions::kSame, kMineData, Hash::kStale, kBase,
                 Hash::kStale, LiveReference(kBase), Outcome::kKeepMine},
        SyncCase{"SameOnlyOtherChanged", Versions::kSame, kBase, Hash::kStale, kOtherData,
                 Hash::kStale, LiveReference(kBase), Outcome::kTakeOther},
        SyncCase{"SameBlendOfAgreedFieldsIsOther", Versions::kSame, kNewX, Hash::kStale, kNewD,
                 Hash::kStale, LiveReference(kBase), Outcome::kKeepMine},
        SyncCase{"SameOnlyOtherUnchanged", Versions::kSame, kMineData, Hash::kStale, kOtherData,
                 Hash::kMatched, kNoReference, Outcome::kKeepMine},
        SyncCase{"SameOnlyMineUnchanged", Versions::kSame, kMineData, Hash::kMatched, kOtherData,
                 Hash::kStale, kNoReference, Outcome::kTakeOther},
        SyncCase{"SameBothUnchanged", Versions::kSame, kMineData, Hash::kMatched, kOtherData,
                 Hash::kMatched, kNoReference, Outcome::kConflict},
        SyncCase{"SameBothChanged", Versions::kSame, kMineData, Hash::kStale, kOtherData,
                 Hash::kStale, kNoReference, Outcome::kConflict},
        SyncCase{"SameDeletedReferenceIsIgnored", Versions::kSame, kBase, Hash::kStale, kOtherData,
                 Hash::kStale, DeletedReference(kBase), Outcome::kConflict}),
    CaseLabel<SyncCase>);

TEST_F(CalendarSyncTest, NullReferenceManagerCountsAsNoReference) {
  MakeMine(kBase, 5, Hash::kStale);
  MakeOther(kOtherData, 5, Hash::kStale);

  EXPECT_EQ(m_mine.Sync(m_other, CalendarManager(), true), 1);
  EXPECT_TRUE(m_mine.IsConflicted());
}

struct ConflictVersionCase {
  uint32_t mine;
  uint32_t other;
  uint32_t newest;
};

class CalendarConflictVersionTest : public CalendarSyncTest,
                                    public ::testing::WithParamInterface<ConflictVersionCase> {};

TEST_P(CalendarConflictVersionTest, ConflictKeepsBothCopiesAndRaisesMineToTheNewestVersion) {
  const ConflictVersionCase& c = GetParam();
  MakeConflictingPair(c.mine, c.other);

  ASSERT_EQ(SyncOnce(), 1);

  EXPECT_EQ(m_mine.GetVersion(), c.newest);
  EXPECT_EQ(m_other.GetVersion(), c.other);
  EXPECT_EQ(NameOf(m_mine), "Mine");
  EXPECT_EQ(NameOf(m_other), "Other");
  Calendar snapshot = m_mine.GetConflict();
  EXPECT_EQ(NameOf(snapshot), "Other");
  EXPECT_FALSE(snapshot.EqualEqual(m_other)) << "the conflict is a detached snapshot";
  EXPECT_TRUE(snapshot.GetManager().IsNull());
}

INSTANTIATE_TEST_SUITE_P(Versions, CalendarConflictVersionTest,
                         ::testing::Values(ConflictVersionCase{4, 6, 6},
                                           ConflictVersionCase{6, 4, 6},
                                           // The invalid version sorts below every valid one.
                                           ConflictVersionCase{0xFFFFFFFF, 2, 2},
                                           ConflictVersionCase{2, 0xFFFFFFFF, 2}));

TEST_F(CalendarSyncTest, AcceptConflictTakesOtherDataUnderOwnIds) {
  MakeConflictingPair(4, 6);
  m_mine.SetLocalId(0x31);
  m_other.SetLocalId(0x32);
  ASSERT_EQ(SyncOnce(/*flag=*/true), 1);

  m_mine.AcceptConflict();

  EXPECT_FALSE(m_mine.IsConflicted());
  EXPECT_EQ(NameOf(m_mine), "Other");
  EXPECT_EQ(m_mine.GetCacheId(), kMineCacheId);
  EXPECT_EQ(m_mine.GetLocalId(), 0x31u);
  EXPECT_EQ(m_mine.GetFixedId(), kFixedId);
  EXPECT_EQ(m_mine.GetVersion(), 6u);
}

TEST_F(CalendarSyncTest, RejectConflictKeepsMine) {
  MakeConflictingPair(4, 6);
  ASSERT_EQ(SyncOnce(), 1);

  m_mine.RejectConflict();

  EXPECT_FALSE(m_mine.IsConflicted());
  EXPECT_EQ(NameOf(m_mine), "Mine");
}

TEST_F(CalendarSyncTest, TakingOtherBringsAlongItsConflict) {
  MakeMine(kBase, 4, Hash::kStale);
  MakeOther(kBase, 6, Hash::kMatched);
  Calendar rival = Calendar::CreateEmpty(0);
  rival.GetCalendarDescriptor().SetCalendarName("Rival");
  m_other.SetConflict(rival);

  EXPECT_EQ(SyncOnce(), 1);
  ASSERT_TRUE(m_mine.IsConflicted());
  EXPECT_EQ(NameOf(m_mine.GetConflict()), "Rival");
}

TEST_F(CalendarSyncTest, NothingToDoDropsTheOtherCopysStaleConflict) {
  MakeQuietPair();
  m_other.SetConflict(Calendar::CreateEmpty(0));

  EXPECT_EQ(SyncOnce(), 0);
  EXPECT_FALSE(m_other.IsConflicted());
  EXPECT_FALSE(m_mine.IsConflicted());
}

class CalendarDirtyTest : public CalendarSyncTest, public ::testing::WithParamInterface<bool> {};

TEST_P(CalendarDirtyTest, TakingOtherMarksMineDirtyOnlyWithFlag) {
  const bool flag = GetParam();
  MakeMine(kBase, 4, Hash::kStale);
  MakeOther(kOtherData, 6, Hash::kStale);
  MakeReference(LiveReference(kBase));
  m_mine.SetClean();

  SyncOnce(flag);

  ASSERT_EQ(OutcomeOf(), Outcome::kTakeOther);
  EXPECT_EQ(m_mine.IsDirty(), flag);
}

INSTANTIATE_TEST_SUITE_P(Flag, CalendarDirtyTest, ::testing::Bool());

struct LocalSettingsCase {
  bool flag;
  uint32_t mineLocalId, mineInfo;
  bool mineSelected;
  uint32_t otherLocalId, otherInfo;
  bool otherSelected;
};

class CalendarLocalSettingsTest : public CalendarSyncTest,
                                  public ::testing::WithParamInterface<LocalSettingsCase> {};

// Mine: local id 0x31, local info 0x41, selected; the other copy: 0x32, 0x42,
// not selected. The flag names the side whose local id and info win; the
// selected-desktop setting goes the other way.
TEST_P(CalendarLocalSettingsTest, LocalIdInfoAndSelectionFollowTheFlag) {
  const LocalSettingsCase& c = GetParam();
  MakeQuietPair();
  m_mine.SetLocalId(0x31);
  m_mine.SetLocalInfo(0x41);
  m_mine.GetCalendarDescriptor().SetSelectedDesktopFlag(true);
  m_other.SetLocalId(0x32);
  m_other.SetLocalInfo(0x42);
  m_other.GetCalendarDescriptor().SetSelectedDesktopFlag(false);

  ASSERT_EQ(SyncOnce(c.flag), 0);
  ASSERT_EQ(OutcomeOf(), Outcome::kNone);

  EXPECT_EQ(m_mine.GetLocalId(), c.mineLocalId);
  EXPECT_EQ(m_mine.GetLocalInfo(), c.mineInfo);
  EXPECT_EQ(m_mine.GetCalendarDescriptor().GetSelectedDesktopFlag(), c.mineSelected);
  EXPECT_EQ(m_other.GetLocalId(), c.otherLocalId);
  EXPECT_EQ(m_other.GetLocalInfo(), c.otherInfo);
  EXPECT_EQ(m_other.GetCalendarDescriptor().GetSelectedDesktopFlag(), c.otherSelected);
}

INSTANTIATE_TEST_SUITE_P(
    Flag, CalendarLocalSettingsTest,
    ::testing::Values(LocalSettingsCase{true, 0x31, 0x41, false, 0x31, 0x41, false},
                      LocalSettingsCase{false, 0x32, 0x42, true, 0x32, 0x42, true}));

struct FixedIdCase {
  uint32_t mine, other;
  uint32_t mineAfter, otherAfter;
};

class CalendarFixedIdShareTest : public CalendarSyncTest,
                                 public ::testing::WithParamInterface<FixedIdCase> {};

TEST_P(CalendarFixedIdShareTest, ZeroSideTakesTheOtherFixedId) {
  const FixedIdCase& c = GetParam();
  MakeQuietPair();
  m_mine.SetFixedId(c.mine);
  m_other.SetFixedId(c.other);

  SyncOnce();

  EXPECT_EQ(m_mine.GetFixedId(), c.mineAfter);
  EXPECT_EQ(m_other.GetFixedId(), c.otherAfter);
}

INSTANTIATE_TEST_SUITE_P(Sides, CalendarFixedIdShareTest,
                         ::testing::Values(FixedIdCase{0, 0x55, 0x55, 0x55},
                                           FixedIdCase{0x55, 0, 0x55, 0x55},
                                           // Two different records: neither id is overwritten.
                                           FixedIdCase{0x55, 0x66, 0x55, 0x66}));

// ---------------------------------------------------------------------------
// Fixed ids, status, identity
// ---------------------------------------------------------------------------

struct ForceFixedIdCase {
  const char* label;
  bool defaultCalendar;
  bool owned;
  uint32_t fixedId;
  uint32_t localId;
  uint32_t expected;
  bool dirty;
};

class CalendarForceFixedIdTest : public ::testing::TestWithParam<ForceFixedIdCase> {};

TEST_P(CalendarForceFixedIdTest, ReturnsTheFixedIdAndMarksAChange) {
  const ForceFixedIdCase& c = GetParam();
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Home");
  calendar.GetCalendarDescriptor().SetOwnedFlag(c.owned);
  calendar.SetDefaultCalendar(c.defaultCalendar);
  calendar.SetFixedId(c.fixedId);
  calendar.SetLocalId(c.localId);
  calendar.SetClean();
  CalendarCache cache;

  EXPECT_EQ(calendar.ForceFixedId(cache), c.expected);
  EXPECT_EQ(calendar.GetFixedId(), c.expected);
  EXPECT_EQ(calendar.IsDirty(), c.dirty);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CalendarForceFixedIdTest,
    ::testing::Values(
        ForceFixedIdCase{"DefaultReplacesAnotherId", true, true, 0x1234, 0, 0xDEFA4175, true},
        ForceFixedIdCase{"DefaultWithoutId", true, true, 0, 0x33, 0xDEFA4175, true},
        ForceFixedIdCase{"DefaultAlreadyCarriesIt", true, true, 0xDEFA4175, 0, 0xDEFA4175, false},
        // The default bit on a calendar the user does not own does not count.
        ForceFixedIdCase{"SubscribedWithDefaultBit", true, false, 0, 0x33, 0x80000033, true},
        ForceFixedIdCase{"ProvisionalFromLocalId", false, true, 0, 0x33, 0x80000033, true},
        ForceFixedIdCase{"KeepsItsId", false, true, 0x1234, 0x33, 0x1234, false}),
    CaseLabel<ForceFixedIdCase>);

TEST(CalendarForceFixedIdTest, CalendarWithoutIdsDrawsACacheId) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Home");
  CalendarCache cache;
  uint32_t next = cache.GetSequence();

  EXPECT_EQ(calendar.ForceFixedId(cache), next | 0x80000000);
  EXPECT_EQ(calendar.GetCacheId(), next);
  EXPECT_EQ(cache.GetSequence(), next + 1);
}

TEST(CalendarStatusTest, NullCalendarIsDeletedButNeitherDirtyNorGloballyDeleted) {
  Calendar null = Calendar::CreateNull();
  EXPECT_TRUE(null.IsNull());
  EXPECT_TRUE(null.IsDeleted());
  EXPECT_FALSE(null.IsDirty());
  EXPECT_FALSE(null.IsDeletedGlobal());
  EXPECT_FALSE(null.IsDefaultCalendar());
  EXPECT_FALSE(null.IsHeld());
  EXPECT_FALSE(null.IsConflicted());
  EXPECT_FALSE(null.IsMatching(null));
}

TEST(CalendarStatusTest, DeleteSettersMoveBothDeleteFlags) {
  Calendar calendar = Calendar::CreateEmpty(0);
  calendar.SetDeletedGlobal();
  EXPECT_TRUE(calendar.IsDeleted());
  EXPECT_TRUE(calendar.IsDeletedGlobal());
  calendar.SetDeleted();
  EXPECT_TRUE(calendar.IsDeleted());
  EXPECT_FALSE(calendar.IsDeletedGlobal());
  calendar.SetDeletedGlobal();
  calendar.SetDeletedNot();
  EXPECT_FALSE(calendar.IsDeleted());
  EXPECT_FALSE(calendar.IsDeletedGlobal());
}

TEST(CalendarIdentityTest, MatchesByFixedIdOnly) {
  CalendarManager desk = CalendarManager::CreateEmpty();
  CalendarManager server = CalendarManager::CreateEmpty();
  Calendar a = AddCalendar(desk, "A", CalendarKind::Local(), 0x70);
  Calendar b = AddCalendar(server, "B", CalendarKind::Local(), 0x70);
  Calendar c = AddCalendar(server, "A", CalendarKind::Local(), 0x71);
  c.SetCacheId(5);
  a.SetCacheId(5);

  EXPECT_TRUE(a.IsMatching(b));
  EXPECT_FALSE(a.IsMatching(c));
  EXPECT_FALSE(a.IsMatching(Calendar()));
}

TEST(CalendarIdentityTest, CalendarsDoNotCountTheirManager) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Home");
  AddEvent(manager, "Lunch", {calendar});

  EXPECT_EQ(manager.GetReferenceCount(), 1u);
  EXPECT_TRUE(calendar.IsHeld());
  EXPECT_TRUE(calendar.GetManager().EqualEqual(manager));
}

TEST(CalendarIdentityTest, CloneIsANewHolderWithTheSameContentsForTheGivenManager) {
  CalendarManager source = CalendarManager::CreateEmpty();
  CalendarManager target = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(source, "Home", CalendarKind::Published(), 0x70, 0x700);
  calendar.SetLocalInfo(0x2A);

  Calendar clone = calendar.Clone(target);

  EXPECT_FALSE(clone.EqualEqual(calendar));
  EXPECT_TRUE(clone.Equal(calendar, false));
  EXPECT_EQ(clone.GetFixedId(), 0x70u);
  EXPECT_EQ(clone.GetServeId(), 0x700u);
  EXPECT_EQ(clone.GetLocalInfo(), 0x2Au);
  EXPECT_TRUE(clone.IsHeld());
  EXPECT_TRUE(clone.GetManager().EqualEqual(target));
  EXPECT_EQ(target.GetReferenceCount(), 1u);
}

struct SharingCase {
  const char* label;
  CalendarKind kind;
  bool deleted;
  bool readWriteShared;
};

class CalendarSharingTest : public ::testing::TestWithParam<SharingCase> {};

TEST_P(CalendarSharingTest, ReadWriteSharedWhenSharedAndWritableByThisUser) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Team", GetParam().kind);
  if (GetParam().deleted) calendar.SetDeleted();

  EXPECT_EQ(calendar.IsReadWriteShared(), GetParam().readWriteShared);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CalendarSharingTest,
    ::testing::Values(
        SharingCase{"Local", CalendarKind::Local(), false, false},
        SharingCase{"Published", CalendarKind::Published(), false, true},
        SharingCase{"PublishedReadOnlyToOthers", {true, true, true, false}, false, true},
        SharingCase{"SubscribedReadWrite", CalendarKind::SubscribedReadWrite(), false, true},
        SharingCase{"SubscribedReadOnly", CalendarKind::SubscribedReadOnly(), false, false},
        SharingCase{"PublishedButDeleted", CalendarKind::Published(), true, false}),
    CaseLabel<SharingCase>);

TEST(CalendarVersionTest, ServerSyncedNeedsADataHashAndAManagerWithAValidVersion) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Team");
  calendar.SetVersion(3);
  manager.SetVersion(0xFFFFFFFF);
  calendar.SetDataHash(0x1234);
  EXPECT_FALSE(calendar.HasServerSynced());

  manager.SetVersion(7);
  EXPECT_TRUE(calendar.HasServerSynced());
  EXPECT_EQ(calendar.GetLowerVersion(), 3u);
  EXPECT_EQ(calendar.GetUpperVersion(), 7u);

  calendar.SetDataHash(0);
  EXPECT_FALSE(calendar.HasServerSynced());
  EXPECT_FALSE(Calendar().HasServerSynced());
  EXPECT_EQ(Calendar::CreateEmpty(0).GetUpperVersion(), 0xFFFFFFFFu);
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(CalendarDeathTest, AcceptConflictRequiresAConflict) {
  Calendar calendar = Calendar::CreateEmpty(0);
  EXPECT_DEATH(calendar.AcceptConflict(), "!m_holder->m_conflict.IsNull\\(\\)");
}
#endif

// ---------------------------------------------------------------------------
// Placements and removal
// ---------------------------------------------------------------------------

TEST(CalendarEventsTest, CreateNewEventMakesAnEventOfTheManagerPlacedHere) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Home");

  Event event = calendar.CreateNewEvent(MakeEventDescriptor("Lunch"));

  EXPECT_TRUE(manager.HasEvent(event));
  EXPECT_EQ(event.GetEventDescriptor().GetName(), "Lunch");
  EXPECT_FALSE(PlacementOf(event, calendar).IsNull());
  EXPECT_EQ(calendar.GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(calendar.SanityCheck());
}

TEST(CalendarEventsTest, RemoveTakesOutEveryPlacementAndLeavesTheManager) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar home = AddCalendar(manager, "Home");
  Calendar work = AddCalendar(manager, "Work");
  Event lunch = AddEvent(manager, "Lunch", {home, work});
  Event walk = AddEvent(manager, "Walk", {home});

  EXPECT_TRUE(home.Remove());

  EXPECT_FALSE(manager.HasCalendar(home));
  EXPECT_EQ(home.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(testing::CalendarNamesOf(lunch), std::vector<std::string>{"Work"});
  EXPECT_TRUE(testing::CalendarNamesOf(walk).empty());
  EXPECT_TRUE(manager.HasEvent(walk)) << "events stay in the manager";
  EXPECT_FALSE(home.Remove()) << "the manager no longer knows the calendar";
}

// ---------------------------------------------------------------------------
// Merge of a handheld copy by date-book ids
// ---------------------------------------------------------------------------

class CalendarMergeTest : public ::testing::Test {
 protected:
  // An event named name in calendar with date-book id dateBookId.
  static Event AddBookEvent(Calendar& calendar, const std::string& name, uint32_t dateBookId) {
    CalendarManager manager = calendar.GetManager();
    Event event = AddEvent(manager, name, {calendar});
    event.SetDateBookId(dateBookId);
    event.SetClean();
    return event;
  }

  static Event EventNamed(const CalendarManager& manager, const std::string& name) {
    const EventList& events = manager.GetEventList();
    for (int32_t i = 0; i < events.GetListCount(); ++i) {
      if (events[i].GetEventDescriptor().GetName() == name) return events[i];
    }
    return Event();
  }

  CalendarManager m_desk = CalendarManager::CreateEmpty();
  CalendarManager m_hand = CalendarManager::CreateEmpty();
  Calendar m_mine = AddCalendar(m_desk, "Home");
  Calendar m_theirs = AddCalendar(m_hand, "Home");
};

TEST_F(CalendarMergeTest, MatchedDateBookIdUpdatesThePlacementAndTheEvent) {
  Event changed = AddBookEvent(m_mine, "Old", 0x11);
  Event same = AddBookEvent(m_mine, "Same", 0x22);
  AddBookEvent(m_theirs, "New", 0x11);
  AddBookEvent(m_theirs, "Same", 0x22);
  PlacementOf(EventNamed(m_hand, "New"), m_theirs).SetLocalId(0x901);

  m_mine.MergeOnDateBookId(m_theirs);

  EXPECT_EQ(changed.GetEventDescriptor().GetName(), "New");
  EXPECT_TRUE(changed.IsDirty());
  EXPECT_EQ(changed.GetDateBookId(), 0x11u);
  CalendarEvent placement = PlacementOf(changed, m_mine);
  EXPECT_FALSE(placement.IsDeleted());
  EXPECT_EQ(placement.GetLocalId(), 0x901u) << "the placement copies the handheld's";
  EXPECT_FALSE(same.IsDirty()) << "equal data is not a change";
  EXPECT_FALSE(PlacementOf(same, m_mine).IsDeleted());
  EXPECT_EQ(same.GetDateBookId(), 0x22u);
  EXPECT_EQ(m_mine.GetCalendarEventList().GetListCount(), 2);
}

TEST_F(CalendarMergeTest, UnmatchedDateBookIdCreatesAnEventPlacedHere) {
  AddBookEvent(m_theirs, "Fresh", 0x44);
  AddBookEvent(m_theirs, "NoBookId", 0);

  m_mine.MergeOnDateBookId(m_theirs);

  Event fresh = EventNamed(m_desk, "Fresh");
  ASSERT_FALSE(fresh.IsNull());
  EXPECT_EQ(fresh.GetDateBookId(), 0x44u);
  EXPECT_TRUE(fresh.IsDirty());
  EXPECT_FALSE(PlacementOf(fresh, m_mine).IsNull());
  EXPECT_TRUE(EventNamed(m_desk, "NoBookId").IsNull()) << "handheld records without id are skipped";
}

TEST_F(CalendarMergeTest, PlacementsMissingFromTheHandheldStayDeletedAndDirty) {
  Calendar work = AddCalendar(m_desk, "Work");
  Event gone = AddBookEvent(m_mine, "Gone", 0x33);
  Event elsewhere = AddBookEvent(work, "Elsewhere", 0x99);
  AddBookEvent(m_theirs, "Other", 0x55);

  m_mine.MergeOnDateBookId(m_theirs);

  CalendarEvent placement = PlacementOf(gone, m_mine);
  EXPECT_TRUE(placement.IsDeleted());
  EXPECT_TRUE(placement.IsDirty());
  EXPECT_EQ(gone.GetDateBookId(), 0u);
  EXPECT_EQ(elsewhere.GetDateBookId(), 0u) << "every event of the manager loses its date-book id";
  EXPECT_FALSE(PlacementOf(elsewhere, work).IsDeleted()) << "other calendars are not touched";
}

// ---------------------------------------------------------------------------
// Display strings
// ---------------------------------------------------------------------------

struct UserDisplayCase {
  CalendarKind kind;
  const char* kindText;
};

class CalendarUserDisplayTest : public ::testing::TestWithParam<UserDisplayCase> {};

TEST_P(CalendarUserDisplayTest, NamesTheKindOfSharing) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Team", GetParam().kind);
  calendar.GetCalendarDescriptor().SetDescription("Shared dates");

  EXPECT_EQ(
      calendar.GetUserDisplayString(),
      std::string("Calendar:  Team\r\n") + GetParam().kindText + "\r\nDescription:  Shared dates");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, CalendarUserDisplayTest,
    ::testing::Values(UserDisplayCase{CalendarKind::Local(), "local"},
                      UserDisplayCase{{false, true, true, true}, "local"},
                      UserDisplayCase{CalendarKind::Published(), "published RW"},
                      UserDisplayCase{{true, true, false, true}, "published private"},
                      UserDisplayCase{CalendarKind::SubscribedReadWrite(), "subscribed RW"},
                      UserDisplayCase{CalendarKind::SubscribedReadOnly(), "subscribed RO"},
                      UserDisplayCase{{true, false, true, true}, "subscribed private"}));

TEST(CalendarDisplayTest, DisplayStringJoinsIdentityStatusDescriptorInfoAndLinkCount) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar = AddCalendar(manager, "Home", CalendarKind::Local(), 0x70);
  calendar.SetLocalInfo(0x2A);
  AddEvent(manager, "Lunch", {calendar});
  std::string parts = calendar.GetRecordIdentification().GetDisplayString() + " " +
                      calendar.GetRecordStatus().GetDisplayString() + " " +
                      calendar.GetCalendarDescriptor().GetDisplayString();

  EXPECT_EQ(calendar.GetDisplayString(), "Calendar: " + parts + " info=2a #events = 1");
  calendar.SetConflict(Calendar::CreateEmpty(0));
  EXPECT_EQ(calendar.GetDisplayString(),
            "Calendar: " + parts + " info=2a **CONFLICT** #events = 1");
}

}  // namespace
}  // namespace brontel
