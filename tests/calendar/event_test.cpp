// Tests of Event: the three-way Sync with its separate use-me reconciliation,
// the conflict slot, provisional fixed ids, the ids that tell the manager,
// descent from a parent event, sharing, removal, and the placement changes
// computed for the server (GenerateLinks) and applied from it (ApplyLinks).
#include "brontel/calendar/event.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/lists/link.h"
#include "support/calendar_fixture.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddEvent;
using testing::CalendarKind;
using testing::CalendarNamesOf;
using testing::LinkTexts;
using testing::MakeEventDescriptor;
using testing::PlacementOf;

using Names = std::vector<std::string>;
using Texts = std::vector<std::string>;

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

constexpr uint32_t kFixedId = 0x0100;
constexpr uint32_t kMineCacheId = 0x11;
constexpr uint32_t kOtherCacheId = 0x22;

// The reference event (the copy of the last synchronization), if any. It is
// found by this event's cache id; one that carries only the same fixed id is
// not the reference.
struct Reference {
  const char* name = nullptr;  // null: no reference event
  bool deleted = false;
  uint32_t cacheId = kMineCacheId;
};

constexpr Reference kNoReference{};
constexpr Reference LiveReference(const char* name) {
  return {name, false, kMineCacheId};
}

void SetHash(Event& event, Hash hash) {
  uint32_t current = event.GetEventDescriptor().CalculateHash();
  event.SetDataHash(hash == Hash::kZero      ? 0
                    : hash == Hash::kMatched ? current
                                             : current ^ 0x00A5A5A5);
}

// Three managers (mine, the other copy, the reference copy) and one event in
// the first two, both with the same fixed id.
class EventSyncTest : public ::testing::Test {
 protected:
  static Event MakeEvent(CalendarManager& manager, const std::string& name, uint32_t version,
                         Hash hash, uint32_t cacheId = 0) {
    Event event = AddEvent(manager, name, {}, kFixedId);
    event.SetCacheId(cacheId);
    event.SetVersion(version);
    SetHash(event, hash);
    return event;
  }

  void MakeMine(const std::string& name, uint32_t version, Hash hash) {
    m_mine = MakeEvent(m_mineManager, name, version, hash, kMineCacheId);
  }
  void MakeOther(const std::string& name, uint32_t version, Hash hash) {
    m_other = MakeEvent(m_otherManager, name, version, hash, kOtherCacheId);
  }
  Event MakeReference(const Reference& reference) {
    if (reference.name == nullptr) return Event();
    Event event =
        MakeEvent(m_referenceManager, reference.name, 1, Hash::kMatched, reference.cacheId);
    if (reference.deleted) event.SetDeleted();
    return event;
  }

  // The same data, version and hash on both sides: Sync changes no data.
  void MakeQuietPair() {
    MakeMine("Base", 5, Hash::kMatched);
    MakeOther("Base", 5, Hash::kMatched);
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

  static std::string NameOf(const Event& event) { return event.GetEventDescriptor().GetName(); }

  CalendarManager m_mineManager = CalendarManager::CreateEmpty();
  CalendarManager m_otherManager = CalendarManager::CreateEmpty();
  CalendarManager m_referenceManager = CalendarManager::CreateEmpty();
  Event m_mine;
  Event m_other;
};

struct SyncCase {
  const char* label;
  Versions versions;
  const char* mine;
  Hash mineHash;
  const char* other;
  Hash otherHash;
  Reference reference;
  Outcome expected;
};

std::ostream& operator<<(std::ostream& out, const SyncCase& c) {
  return out << c.label << " -> " << OutcomeName(c.expected);
}

class EventSyncTableTest : public EventSyncTest, public ::testing::WithParamInterface<SyncCase> {};

TEST_P(EventSyncTableTest, DecidesWhichCopyWins) {
  const SyncCase& c = GetParam();
  MakeMine(c.mine, c.versions == Versions::kMineNewer ? 6 : 5, c.mineHash);
  MakeOther(c.other, c.versions == Versions::kOtherNewer ? 6 : 5, c.otherHash);
  MakeReference(c.reference);

  int32_t conflicts = SyncOnce();

  EXPECT_EQ(OutcomeName(OutcomeOf()), std::string(OutcomeName(c.expected)));
  EXPECT_EQ(conflicts, c.expected == Outcome::kConflict ? 1 : 0);
}

constexpr Reference kReferenceByFixedIdOnly{"Base", false, 0x99};

INSTANTIATE_TEST_SUITE_P(
    Outcomes, EventSyncTableTest,
    ::testing::Values(
        // The other copy is newer.
        SyncCase{"OtherNewerSameData", Versions::kOtherNewer, "Base", Hash::kStale, "Base",
                 Hash::kStale, kNoReference, Outcome::kTakeOther},
        SyncCase{"OtherNewerOnlyOtherChanged", Versions::kOtherNewer, "Base", Hash::kStale, "Other",
                 Hash::kStale, LiveReference("Base"), Outcome::kTakeOther},
        SyncCase{"OtherNewerMineUnchanged", Versions::kOtherNewer, "Mine", Hash::kMatched, "Other",
                 Hash::kStale, kNoReference, Outcome::kTakeOther},
        SyncCase{"OtherNewerMineWithoutHash", Versions::kOtherNewer, "Mine", Hash::kZero, "Other",
                 Hash::kMatched, kNoReference, Outcome::kConflict},
        SyncCase{"OtherNewerBothChanged", Versions::kOtherNewer, "Mine", Hash::kStale, "Other",
                 Hash::kStale, kNoReference, Outcome::kConflict},
        SyncCase{"OtherNewerReferenceMatchesNeither", Versions::kOtherNewer, "Mine", Hash::kStale,
                 "Other", Hash::kStale, LiveReference("Base"), Outcome::kConflict},
        SyncCase{"OtherNewerReferenceOnlySharesTheFixedId", Versions::kOtherNewer, "Base",
                 Hash::kStale, "Other", Hash::kStale, kReferenceByFixedIdOnly, Outcome::kConflict},
        // Mine is newer.
        SyncCase{"MineNewerSameData", Versions::kMineNewer, "Base", Hash::kStale, "Base",
                 Hash::kStale, kNoReference, Outcome::kKeepMine},
        SyncCase{"MineNewerOnlyMineChanged", Versions::kMineNewer, "Mine", Hash::kStale, "Base",
                 Hash::kStale, LiveReference("Base"), Outcome::kKeepMine},
        SyncCase{"MineNewerOtherUnchanged", Versions::kMineNewer, "Mine", Hash::kStale, "Other",
                 Hash::kMatched, kNoReference, Outcome::kKeepMine},
        SyncCase{"MineNewerBothChanged", Versions::kMineNewer, "Mine", Hash::kStale, "Other",
                 Hash::kStale, kNoReference, Outcome::kConflict},
        SyncCase{"MineNewerMineUnchangedDoesNotDecide", Versions::kMineNewer, "Mine",
                 Hash::kMatched, "Other", Hash::kStale, kNoReference, Outcome::kConflict},
        // Both at the same version.
        SyncCase{"SameDataBothHashesSetAndDifferent", Versions::kSame, "Base", Hash::kStale, "Base",
                 Hash::kMatched, kNoReference, Outcome::kTakeOther},
        SyncCase{"SameDataMineWithoutHash", Versions::kSame, "Base", Hash::kZero, "Base",
                 Hash::kMatched, kNoReference, Outcome::kNone},
        SyncCase{"SameDataOtherWithoutHash", Versions::kSame, "Base", Hash::kMatched, "Base",
                 Hash::kZero, kNoReference, Outcome::kNone},
        SyncCase{"SameDataSameHash", Versions::kSame, "Base", Hash::kMatched, "Base",
                 Hash::kMatched, kNoReference, Outcome::kNone},
        SyncCase{"SameOnlyMineChanged", Versions::kSame, "Mine", Hash::kStale, "Base", Hash::kStale,
                 LiveReference("Base"), Outcome::kKeepMine},
        SyncCase{"SameOnlyOtherChanged", Versions::kSame, "Base", Hash::kStale, "Other",
                 Hash::kStale, LiveReference("Base"), Outcome::kTakeOther},
        SyncCase{"SameOnlyOtherUnchanged", Versions::kSame, "Mine", Hash::kStale, "Other",
                 Hash::kMatched, kNoReference, Outcome::kKeepMine},
        SyncCase{"SameOnlyMineUnchanged", Versions::kSame, "Mine", Hash::kMatched, "Other",
                 Hash::kStale, kNoReference, Outcome::kTakeOther},
        SyncCase{"SameBothUnchanged", Versions::kSame, "Mine", Hash::kMatched, "Other",
                 Hash::kMatched, kNoReference, Outcome::kConflict},
        SyncCase{"SameBothChanged", Versions::kSame, "Mine", Hash::kStale, "Other", Hash::kStale,
                 kNoReference, Outcome::kConflict},
        SyncCase{"SameReferenceOnlySharesTheFixedId", Versions::kSame, "Base", Hash::kStale,
                 "Other", Hash::kStale, kReferenceByFixedIdOnly, Outcome::kConflict}),
    CaseLabel<SyncCase>);

TEST_F(EventSyncTest, ConflictKeepsTheOtherDataAndAcceptingItKeepsOwnIds) {
  MakeMine("Mine", 4, Hash::kStale);
  MakeOther("Other", 6, Hash::kStale);
  m_mine.SetLocalId(0x31);
  m_mine.SetDateBookId(0x51);
  m_other.SetLocalId(0x32);
  m_other.SetDateBookId(0x52);

  ASSERT_EQ(SyncOnce(/*flag=*/true), 1);
  EXPECT_EQ(m_mine.GetVersion(), 6u) << "the newer of the two versions";
  EXPECT_EQ(NameOf(m_mine), "Mine");
  EXPECT_EQ(NameOf(m_mine.GetConflict()), "Other");
  EXPECT_FALSE(m_mine.GetConflict().EqualEqual(m_other));

  m_mine.AcceptConflict();

  EXPECT_FALSE(m_mine.IsConflicted());
  EXPECT_EQ(NameOf(m_mine), "Other");
  EXPECT_EQ(m_mine.GetCacheId(), kMineCacheId);
  EXPECT_EQ(m_mine.GetLocalId(), 0x31u);
  EXPECT_EQ(m_mine.GetFixedId(), kFixedId);
  EXPECT_EQ(m_mine.GetDateBookId(), 0x51u);
  EXPECT_EQ(m_mine.GetVersion(), 6u);
}

TEST_F(EventSyncTest, AcceptConflictKeepsOwnDateBookIdOverTheSnapshots) {
  MakeMine("Mine", 4, Hash::kStale);
  MakeOther("Other", 6, Hash::kStale);
  m_mine.SetDateBookId(0x51);
  m_other.SetDateBookId(0x52);
  m_mine.SetConflict(m_other);

  m_mine.AcceptConflict();

  EXPECT_EQ(NameOf(m_mine), "Other");
  EXPECT_EQ(m_mine.GetDateBookId(), 0x51u);
  EXPECT_EQ(m_mine.GetCacheId(), kMineCacheId);
  EXPECT_EQ(m_mine.GetVersion(), 4u);
}

TEST_F(EventSyncTest, RejectConflictKeepsMine) {
  MakeMine("Mine", 4, Hash::kStale);
  MakeOther("Other", 6, Hash::kStale);
  ASSERT_EQ(SyncOnce(), 1);

  m_mine.RejectConflict();

  EXPECT_FALSE(m_mine.IsConflicted());
  EXPECT_EQ(NameOf(m_mine), "Mine");
}

TEST_F(EventSyncTest, NothingToDoDropsTheOtherCopysStaleConflict) {
  MakeQuietPair();
  m_other.SetConflict(Event::CreateEmpty(0));

  EXPECT_EQ(SyncOnce(), 0);
  EXPECT_FALSE(m_other.IsConflicted());
}

TEST_F(EventSyncTest, TakingOtherCountsTheConflictItBrings) {
  MakeMine("Base", 4, Hash::kStale);
  MakeOther("Base", 6, Hash::kMatched);
  m_other.SetConflict(MakeEvent(m_otherManager, "Rival", 6, Hash::kZero));

  EXPECT_EQ(SyncOnce(), 1);
  EXPECT_EQ(NameOf(m_mine.GetConflict()), "Rival");
}

class EventDirtyTest : public EventSyncTest, public ::testing::WithParamInterface<bool> {};

TEST_P(EventDirtyTest, TakingOtherMarksMineDirtyOnlyWithFlag) {
  const bool flag = GetParam();
  MakeMine("Base", 4, Hash::kStale);
  MakeOther("Other", 6, Hash::kStale);
  MakeReference(LiveReference("Base"));
  m_mine.SetClean();

  SyncOnce(flag);

  ASSERT_EQ(OutcomeOf(), Outcome::kTakeOther);
  EXPECT_EQ(m_mine.IsDirty(), flag);
}

INSTANTIATE_TEST_SUITE_P(Flag, EventDirtyTest, ::testing::Bool());

struct LocalIdsCase {
  bool flag;
  uint32_t localId, dateBookId, localInfo;  // what both sides carry afterwards
};

class EventLocalIdsTest : public EventSyncTest,
                          public ::testing::WithParamInterface<LocalIdsCase> {};

// Mine carries local id 0x31, date-book id 0x51, local info 0x41; the other
// copy 0x32, 0x52, 0x42. The flag names the side whose values win.
TEST_P(EventLocalIdsTest, LocalIdDateBookIdAndInfoFollowTheFlag) {
  const LocalIdsCase& c = GetParam();
  MakeQuietPair();
  m_mine.SetLocalId(0x31);
  m_mine.SetDateBookId(0x51);
  m_mine.SetLocalInfo(0x41);
  m_other.SetLocalId(0x32);
  m_other.SetDateBookId(0x52);
  m_other.SetLocalInfo(0x42);

  ASSERT_EQ(SyncOnce(c.flag), 0);
  ASSERT_EQ(OutcomeOf(), Outcome::kNone);

  for (const Event* event : {&m_mine, &m_other}) {
    EXPECT_EQ(event->GetLocalId(), c.localId);
    EXPECT_EQ(event->GetDateBookId(), c.dateBookId);
    EXPECT_EQ(event->GetLocalInfo(), c.localInfo);
  }
}

INSTANTIATE_TEST_SUITE_P(Flag, EventLocalIdsTest,
                         ::testing::Values(LocalIdsCase{true, 0x31, 0x51, 0x41},
                                           LocalIdsCase{false, 0x32, 0x52, 0x42}));

TEST_F(EventSyncTest, ZeroFixedIdTakesTheOtherAndTheManagerFindsIt) {
  MakeQuietPair();
  m_mine.SetFixedId(0);
  m_other.SetFixedId(0x55);
  ASSERT_TRUE(m_mineManager.FindEventByFixedId(0x77, false).IsNull());  // builds the index

  SyncOnce();

  EXPECT_EQ(m_mine.GetFixedId(), 0x55u);
  EXPECT_TRUE(m_mineManager.FindEventByFixedId(0x55, false).IsSameHolder(m_mine));
}

TEST_F(EventSyncTest, TwoDifferentFixedIdsAreLeftAlone) {
  MakeQuietPair();
  m_mine.SetFixedId(0x55);
  m_other.SetFixedId(0x66);

  SyncOnce();

  EXPECT_EQ(m_mine.GetFixedId(), 0x55u);
  EXPECT_EQ(m_other.GetFixedId(), 0x66u);
}

// The use-me flag of the reference event: absent, deleted, or a value.
struct ReferenceUseMe {
  bool exists;
  bool deleted;
  uint8_t value;
};

constexpr ReferenceUseMe kNoReferenceEvent{false, false, 0};
constexpr ReferenceUseMe ReferenceWith(uint8_t value) {
  return {true, false, value};
}
constexpr ReferenceUseMe DeletedReferenceWith(uint8_t value) {
  return {true, true, value};
}

struct UseMeCase {
  const char* label;
  Versions versions;
  bool flag;
  uint8_t mine, other;
  ReferenceUseMe reference;
  uint8_t expected;  // on both sides afterwards
  bool mineDirty;
};

class EventUseMeTest : public EventSyncTest, public ::testing::WithParamInterface<UseMeCase> {};

// Both copies hold the same data, so only the use-me flag is at stake.
TEST_P(EventUseMeTest, ASideThatKeptTheReferenceValueTakesTheOthers) {
  const UseMeCase& c = GetParam();
  MakeMine("Base", 5, Hash::kMatched);
  MakeOther("Base", c.versions == Versions::kOtherNewer ? 6 : 5, Hash::kMatched);
  m_mine.SetUseMe(c.mine);
  m_other.SetUseMe(c.other);
  if (c.reference.exists) {
    Event reference = MakeReference({"Base", c.reference.deleted, kMineCacheId});
    reference.SetUseMe(c.reference.value);
  }
  m_mine.SetClean();

  SyncOnce(c.flag);

  EXPECT_EQ(m_mine.GetUseMe(), c.expected);
  EXPECT_EQ(m_other.GetUseMe(), c.expected);
  EXPECT_EQ(m_mine.IsDirty(), c.mineDirty);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventUseMeTest,
    ::testing::Values(
        UseMeCase{"MineKeptItFlagSet", Versions::kSame, true, 1, 0, ReferenceWith(1), 0, true},
        UseMeCase{"MineKeptItFlagClear", Versions::kSame, false, 1, 0, ReferenceWith(1), 0, false},
        UseMeCase{"MineChangedItFlagSet", Versions::kSame, true, 1, 0, ReferenceWith(0), 1, false},
        UseMeCase{"MineChangedItFlagClear", Versions::kSame, false, 1, 0, ReferenceWith(0), 0,
                  false},
        UseMeCase{"NoReferenceFlagSet", Versions::kSame, true, 1, 0, kNoReferenceEvent, 1, false},
        UseMeCase{"NoReferenceFlagClear", Versions::kSame, false, 1, 0, kNoReferenceEvent, 0,
                  false},
        UseMeCase{"DeletedReferenceCountsAsNone", Versions::kSame, true, 1, 0,
                  DeletedReferenceWith(1), 1, false},
        UseMeCase{"EqualFlagsStay", Versions::kSame, true, 1, 1, ReferenceWith(0), 1, false},
        // Taking the other copy's data brings its cache id along; the reference
        // is still the one of this event.
        UseMeCase{"OtherNewerMineKeptItFlagSet", Versions::kOtherNewer, true, 1, 0,
                  ReferenceWith(1), 0, true}),
    CaseLabel<UseMeCase>);

// ---------------------------------------------------------------------------
// Fixed ids and the ids that tell the manager
// ---------------------------------------------------------------------------

struct ForceFixedIdCase {
  const char* label;
  uint32_t fixedId, dateBookId, localId;
  uint32_t expected;  // 0: a cache id | 0x80000000
  bool dirtyFixedId;
};

class EventForceFixedIdTest : public ::testing::TestWithParam<ForceFixedIdCase> {};

TEST_P(EventForceFixedIdTest, MakesAProvisionalIdAndMarksIt) {
  const ForceFixedIdCase& c = GetParam();
  CalendarManager manager = CalendarManager::CreateEmpty();
  Event event = AddEvent(manager, "Lunch", {}, c.fixedId);
  event.SetDateBookId(c.dateBookId);
  event.SetLocalId(c.localId);
  CalendarCache cache;
  uint32_t expected = c.expected != 0 ? c.expected : cache.GetSequence() | 0x80000000;

  EXPECT_EQ(event.ForceFixedId(cache), expected);
  EXPECT_EQ(event.GetFixedId(), expected);
  EXPECT_EQ(event.HasDirtyFixedId(), c.dirtyFixedId);
  event.SetClean();
  EXPECT_FALSE(event.HasDirtyFixedId());
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventForceFixedIdTest,
    ::testing::Values(ForceFixedIdCase{"FromDateBookId", 0, 0x123, 0, 0xC0000123, true},
                      ForceFixedIdCase{"DateBookIdBeforeLocalId", 0, 0x123, 0x33, 0xC0000123, true},
                      ForceFixedIdCase{"FromLocalId", 0, 0, 0x33, 0x80000033, true},
                      ForceFixedIdCase{"FromANewCacheId", 0, 0, 0, 0, true},
                      ForceFixedIdCase{"KeepsItsId", 0x77, 0x123, 0x33, 0x77, false}),
    CaseLabel<ForceFixedIdCase>);

TEST(EventIdsTest, ForcedFixedIdIsFoundThroughTheManager) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Event event = AddEvent(manager, "Lunch");
  event.SetDateBookId(0x123);
  ASSERT_TRUE(manager.FindEventByFixedId(0x77, false).IsNull());  // builds the index
  CalendarCache cache;

  event.ForceFixedId(cache);

  EXPECT_TRUE(manager.FindEventByFixedId(0xC0000123, false).IsSameHolder(event));
}

// One kind of id that the manager indexes: how to set it and how to find by it.
struct IdKind {
  const char* label;
  void (*set)(Event&, uint32_t);
  Event (*find)(const CalendarManager&, uint32_t);
};

class EventIdNoticeTest : public ::testing::TestWithParam<IdKind> {};

TEST_P(EventIdNoticeTest, ChangedIdIsFoundAndTheOldOneIsNot) {
  const IdKind& kind = GetParam();
  CalendarManager manager = CalendarManager::CreateEmpty();
  Event first = AddEvent(manager, "First");
  Event second = AddEvent(manager, "Second");
  kind.set(first, 0x10);
  kind.set(second, 0x20);
  ASSERT_TRUE(kind.find(manager, 0x10).IsSameHolder(first));  // builds the index

  kind.set(second, 0x30);

  EXPECT_TRUE(kind.find(manager, 0x30).IsSameHolder(second));
  EXPECT_TRUE(kind.find(manager, 0x20).IsNull());
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, EventIdNoticeTest,
    ::testing::Values(
        IdKind{"FixedId", [](Event& e, uint32_t v) { e.SetFixedId(v); },
               [](const CalendarManager& m, uint32_t v) { return m.FindEventByFixedId(v, false); }},
        IdKind{"LocalId", [](Event& e, uint32_t v) { e.SetLocalId(v); },
               [](const CalendarManager& m, uint32_t v) { return m.FindEventByLocalId(v, false); }},
        IdKind{"DateBookId", [](Event& e, uint32_t v) { e.SetDateBookId(v); },
               [](const CalendarManager& m, uint32_t v) {
                 return m.GetEventList().FindByDateBookId(v, false);
               }}),
    CaseLabel<IdKind>);

// ---------------------------------------------------------------------------
// Descent from a parent event
// ---------------------------------------------------------------------------

class EventParentTest : public ::testing::Test {
 protected:
  CalendarManager m_manager = CalendarManager::CreateEmpty();
  Calendar m_home = AddCalendar(m_manager, "Home");
  Calendar m_team = AddCalendar(m_manager, "Team", CalendarKind::Published());
  Event m_original = AddEvent(m_manager, "Weekly", {m_home, m_team}, 0x10);
};

TEST_F(EventParentTest, EventNeverClonedIsItsOwnParent) {
  EXPECT_EQ(m_original.GetParentEventFixedId(), 0x10u);
  EXPECT_FALSE(m_original.HasParent());
  EXPECT_TRUE(m_original.GetParentEvent().IsNull());
}

TEST_F(EventParentTest, ParentIsFoundByItsFixedId) {
  Event child = AddEvent(m_manager, "Child", {}, 0x20);
  child.SetParentEventFixedId(0x10);

  EXPECT_TRUE(child.HasParent());
  EXPECT_TRUE(child.GetParentEvent().IsSameHolder(m_original));

  child.SetParentEventFixedId(0x99);
  EXPECT_TRUE(child.HasParent());
  EXPECT_TRUE(child.GetParentEvent().IsNull()) << "no event carries that fixed id";
}

TEST_F(EventParentTest, EventWithoutManagerHasNoParentEvent) {
  Event loose = Event::CreateEmpty(0);
  loose.SetFixedId(0x20);
  loose.SetParentEventFixedId(0x10);

  EXPECT_TRUE(loose.HasParent());
  EXPECT_TRUE(loose.GetParentEvent().IsNull());
}

TEST_F(EventParentTest, CloneEventDescendsFromTheOriginalInTheSameCalendars) {
  m_original.SetDateBookId(0x5);
  m_original.SetLocalInfo(0x9);

  Event clone = m_original.CreateCloneEvent(MakeEventDescriptor("Moved"), 0x77, 0x20);

  EXPECT_TRUE(m_manager.HasEvent(clone));
  EXPECT_EQ(clone.GetEventDescriptor().GetName(), "Moved");
  EXPECT_EQ(clone.GetServeId(), 0x77u);
  EXPECT_EQ(clone.GetFixedId(), 0x20u);
  EXPECT_EQ(clone.GetParentEventFixedId(), 0x10u);
  EXPECT_TRUE(clone.GetParentEvent().IsSameHolder(m_original));
  EXPECT_EQ(clone.GetDateBookId(), 0u);
  EXPECT_EQ(clone.GetLocalInfo(), 0x9u);
  EXPECT_EQ(CalendarNamesOf(clone), (Names{"Home", "Team"}));
  EXPECT_EQ(CalendarNamesOf(m_original), (Names{"Home", "Team"}));
  EXPECT_TRUE(clone.SanityCheck());
}

TEST_F(EventParentTest, CloneEventIsNotShownWhereTheOriginalsPlacementIsDeleted) {
  // A server shadow keeps a placement the server removed as a deleted one.
  PlacementOf(m_original, m_team).SetDeleted();

  Event clone = m_original.CreateCloneEvent(MakeEventDescriptor("Moved"), 0x77, 0x20);

  EXPECT_EQ(CalendarNamesOf(clone), Names{"Home"});
  EXPECT_EQ(clone.GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(clone.SanityCheck());
}

TEST_F(EventParentTest, CloneOfACloneDescendsFromTheFirstOriginal) {
  Event clone = m_original.CreateCloneEvent(MakeEventDescriptor("Moved"), 0, 0x20);
  Event grandchild = clone.CreateCloneEvent(MakeEventDescriptor("Moved again"), 0, 0x30);

  EXPECT_EQ(grandchild.GetParentEventFixedId(), 0x10u);
}

// ---------------------------------------------------------------------------
// Sharing and removal
// ---------------------------------------------------------------------------

struct LinkedCase {
  int links;
  uint32_t dataHash;
  bool deleted;
  bool expected;
};

class EventLinkedTest : public ::testing::TestWithParam<LinkedCase> {};

TEST_P(EventLinkedTest, LinkedWhenInSeveralCalendarsOrSyncedInOne) {
  const LinkedCase& c = GetParam();
  CalendarManager manager = CalendarManager::CreateEmpty();
  Event event = AddEvent(manager, "Lunch");
  for (int i = 0; i < c.links; ++i) {
    Calendar calendar = AddCalendar(manager, "C" + std::to_string(i));
    event.AddToCalendar(calendar);
  }
  event.SetDataHash(c.dataHash);
  if (c.deleted) event.SetDeleted();

  EXPECT_EQ(event.IsLinked(), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventLinkedTest,
    ::testing::Values(LinkedCase{0, 0, false, false}, LinkedCase{0, 0x1234, false, false},
                      LinkedCase{1, 0, false, false}, LinkedCase{1, 0x1234, false, true},
                      LinkedCase{2, 0, false, true}, LinkedCase{2, 0x1234, true, false}));

TEST(EventSharingTest, SharedOnceItCarriesADataHash) {
  Event event = Event::CreateEmpty(0);
  EXPECT_FALSE(Event().IsShared());
  EXPECT_FALSE(event.IsShared());
  event.SetDataHash(0x1234);
  EXPECT_TRUE(event.IsShared());
}

TEST(EventSharingTest, NullEventIsDeletedButNotDirty) {
  Event null = Event::CreateNull();
  EXPECT_TRUE(null.IsDeleted());
  EXPECT_FALSE(null.IsDirty());
  EXPECT_FALSE(null.IsDeletedGlobal());
  EXPECT_FALSE(null.IsConflicted());
  EXPECT_FALSE(null.IsMatching(null));
  null.SetUseMe(1);  // does nothing on a null event
}

TEST(EventSharingTest, MatchesByFixedIdOnly) {
  CalendarManager desk = CalendarManager::CreateEmpty();
  CalendarManager server = CalendarManager::CreateEmpty();
  Event lunch = AddEvent(desk, "Lunch", {}, 0x10);
  Event same = AddEvent(server, "Other name", {}, 0x10);
  Event other = AddEvent(server, "Lunch", {}, 0x11);
  lunch.SetCacheId(5);
  other.SetCacheId(5);

  EXPECT_TRUE(lunch.IsMatching(same));
  EXPECT_FALSE(lunch.IsMatching(other));
  EXPECT_FALSE(lunch.IsMatching(Event()));
}

TEST(EventSharingTest, DeletedEventIsInNoDateRange) {
  Event event = Event::CreateEmpty(0);
  event.GetEventDescriptor().Copy(MakeEventDescriptor("Lunch"));
  uint16_t date = event.GetEventDescriptor().GetYearMonthDate();
  ASSERT_TRUE(event.IsInDateRange(date, date));

  event.SetDeleted();

  EXPECT_FALSE(event.IsInDateRange(date, date));
}

TEST(EventVersionTest, UpperVersionIsTheManagersOrInvalidWithoutOne) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  manager.SetVersion(7);
  Event event = AddEvent(manager, "Lunch");
  event.SetVersion(3);

  EXPECT_EQ(event.GetLowerVersion(), 3u);
  EXPECT_EQ(event.GetUpperVersion(), 7u);
  EXPECT_EQ(Event::CreateEmpty(0).GetUpperVersion(), 0xFFFFFFFFu);
}

TEST(EventCloneTest, CloneIsANewHolderWithTheSameDataForTheGivenManagerWithoutPlacements) {
  CalendarManager source = CalendarManager::CreateEmpty();
  CalendarManager target = CalendarManager::CreateEmpty();
  Calendar home = AddCalendar(source, "Home");
  Event event = AddEvent(source, "Lunch", {home}, 0x10);
  event.SetDateBookId(0x5);
  event.SetLocalInfo(0x9);

  Event clone = event.Clone(target);

  EXPECT_FALSE(clone.EqualEqual(event));
  EXPECT_TRUE(clone.Equal(event));
  EXPECT_EQ(clone.GetFixedId(), 0x10u);
  EXPECT_EQ(clone.GetDateBookId(), 0x5u);
  EXPECT_EQ(clone.GetLocalInfo(), 0x9u);
  EXPECT_TRUE(clone.IsHeld());
  EXPECT_TRUE(clone.GetManager().EqualEqual(target));
  EXPECT_EQ(clone.GetCalendarEventList().GetListCount(), 0) << "the manager re-makes placements";
  EXPECT_EQ(target.GetReferenceCount(), 1u);
}

TEST(EventDisplayTest, DisplayStringJoinsIdentityParentStatusDataAndCounts) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar home = AddCalendar(manager, "Home");
  Event event = AddEvent(manager, "Lunch", {home}, 0x20);
  event.SetParentEventFixedId(0x10);
  event.SetDateBookId(0x5);
  event.SetLocalInfo(0x9);
  std::string head = "Event: " + event.GetRecordIdentification().GetDisplayString() + "<10>" +
                     event.GetRecordStatus().GetDisplayString() + " " +
                     event.GetEventDescriptor().GetDisplayString() + " ";

  EXPECT_EQ(event.GetDisplayString(), head + "#links = 1 did=5 info=9");
  event.SetConflict(Event::CreateEmpty(0));
  EXPECT_EQ(event.GetDisplayString(), head + "**CONFLICT** #links = 1 did=5 info=9");
}

TEST(EventDisplayTest, UserDisplayStringAddsNoteAlarmAndRepeatWhenPresent) {
  Event event = Event::CreateEmpty(0);
  EventDescriptor data = event.GetEventDescriptor();
  data.Copy(MakeEventDescriptor("Lunch"));
  std::string head = "Event:  Lunch at " + data.GetDisplayStringTime();
  EXPECT_EQ(event.GetUserDisplayString(), head);

  data.SetNote("Bring cake");
  data.SetAlarmFlag(true);
  data.SetAlarmAdvanceTime(5);
  data.SetRepeatType(EventDescriptor::kRepeatDaily);
  data.SetRepeatFrequency(1);
  data.SetRepeatEndYearMonthDate(EventDescriptor::kNoEndDate);
  ASSERT_FALSE(data.GetDisplayStringAlarm().empty());
  ASSERT_FALSE(data.GetDisplayStringRepeat().empty());

  EXPECT_EQ(event.GetUserDisplayString(), head + " (Note:  Bring cake), " +
                                              data.GetDisplayStringAlarm() + ", " +
                                              data.GetDisplayStringRepeat());
}

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(EventDeathTest, AcceptConflictRequiresAConflict) {
  Event event = Event::CreateEmpty(0);
  EXPECT_DEATH(event.AcceptConflict(), "!m_holder->m_conflict.IsNull\\(\\)");
}
#endif

#ifndef NDEBUG  // preconditions stop only debug builds
TEST(EventDeathTest, PlacementRequiresTheSameManager) {
  CalendarManager desk = CalendarManager::CreateEmpty();
  CalendarManager server = CalendarManager::CreateEmpty();
  Event event = AddEvent(desk, "Lunch");
  Calendar calendar = AddCalendar(server, "Home");
  EXPECT_DEATH(event.AddToCalendar(calendar), "Precondition failed");
}
#endif

class EventRemoveTest : public ::testing::Test {
 protected:
  CalendarManager m_manager = CalendarManager::CreateEmpty();
  Calendar m_home = AddCalendar(m_manager, "Home");
  Calendar m_team = AddCalendar(m_manager, "Team", CalendarKind::Published());
  Calendar m_club = AddCalendar(m_manager, "Club", CalendarKind::SubscribedReadWrite());
};

TEST_F(EventRemoveTest, LocalRemovalLeavesUnsharedCalendarsAlone) {
  Event event = AddEvent(m_manager, "Lunch", {m_home, m_team, m_club});

  EXPECT_TRUE(event.Remove(false));

  EXPECT_EQ(CalendarNamesOf(event), Names{"Home"});
  EXPECT_EQ(m_team.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(m_club.GetCalendarEventList().GetListCount(), 0);
  EXPECT_TRUE(m_manager.HasEvent(event));
}

TEST_F(EventRemoveTest, LocalRemovalOfAnEventOnlyInSharedCalendarsLeavesTheManager) {
  Event event = AddEvent(m_manager, "Lunch", {m_team, m_club});

  EXPECT_TRUE(event.Remove(false));

  EXPECT_EQ(event.GetCalendarEventList().GetListCount(), 0);
  EXPECT_FALSE(m_manager.HasEvent(event));
}

TEST_F(EventRemoveTest, GlobalRemovalTakesEveryPlacementAndLeavesTheManager) {
  Event event = AddEvent(m_manager, "Lunch", {m_home, m_team});
  CalendarEvent placement = PlacementOf(event, m_home);

  EXPECT_TRUE(event.RemoveGlobal());

  EXPECT_EQ(event.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(m_home.GetCalendarEventList().GetListCount(), 0);
  EXPECT_EQ(m_team.GetCalendarEventList().GetListCount(), 0);
  EXPECT_TRUE(placement.GetEvent().IsNull());
  EXPECT_FALSE(m_manager.HasEvent(event));
  EXPECT_FALSE(event.Remove(true)) << "the manager no longer knows the event";
}

// ---------------------------------------------------------------------------
// Placement changes for the server
// ---------------------------------------------------------------------------

// Two copies of one user's calendars: this desk copy and the server's copy.
// Twin calendars carry the same fixed id in both.
class EventLinksTest : public ::testing::Test {
 protected:
  Calendar Twin(const std::string& name, CalendarKind kind, uint32_t fixedId, uint32_t serveId) {
    AddCalendar(m_server, name, kind, fixedId, serveId);
    return AddCalendar(m_desk, name, kind, fixedId, serveId);
  }
  Calendar ServerCalendar(uint32_t fixedId) const { return m_server.FindByFixedId(fixedId, false); }

  CalendarManager m_desk = CalendarManager::CreateEmpty();
  CalendarManager m_server = CalendarManager::CreateEmpty();
  Event m_event = AddEvent(m_desk, "Lunch", {}, 0x10);
  Event m_theirs = AddEvent(m_server, "Lunch", {}, 0x10);
  LinkList m_inserts;
  LinkList m_deletes;
};

TEST_F(EventLinksTest, LinksForTheServerSkipCalendarsItDoesNotShare) {
  Calendar home = AddCalendar(m_desk, "Home", CalendarKind::Local(), 0x100, 0x1000);
  Calendar team = AddCalendar(m_desk, "Team", CalendarKind::Published(), 0x200, 0x2000);
  Calendar club = AddCalendar(m_desk, "Club", CalendarKind::SubscribedReadWrite(), 0x300);
  Calendar news = AddCalendar(m_desk, "News", CalendarKind::SubscribedReadOnly(), 0x400, 0x4000);
  Calendar gone = AddCalendar(m_desk, "Gone", CalendarKind::Published(), 0x500, 0x5000);
  // The owner may change a calendar that subscribers may only read.
  Calendar mine = AddCalendar(m_desk, "Mine", {true, true, true, false}, 0x600, 0x6000);
  gone.SetDeleted();
  for (Calendar* calendar : {&home, &team, &club, &news, &gone, &mine}) {
    m_event.AddToCalendar(*calendar);
  }
  LinkList links;

  m_event.GenerateLinks(links);

  EXPECT_EQ(LinkTexts(links),
            LinkTexts({Link(0x2000, 0, 0, 0), Link(0, 0x300, 0, 0), Link(0x6000, 0, 0, 0)}));
}

TEST_F(EventLinksTest, CalendarUnknownToTheOtherCopyIsInsertedByFixedId) {
  Calendar team = AddCalendar(m_desk, "Team", CalendarKind::Published(), 0x100, 0x1000);
  m_event.AddToCalendar(team);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes);

  EXPECT_EQ(LinkTexts(m_inserts), LinkTexts({Link(0, 0x100, 0, 0)}));
  EXPECT_EQ(m_deletes.GetListCount(), 0);
}

TEST_F(EventLinksTest, CalendarKnownToTheOtherCopyIsInsertedByItsServerId) {
  Calendar team = Twin("Team", CalendarKind::Published(), 0x200, 0x2000);
  m_event.AddToCalendar(team);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes);

  EXPECT_EQ(LinkTexts(m_inserts), LinkTexts({Link(0x2000, 0, 0, 0)}));
  EXPECT_EQ(m_deletes.GetListCount(), 0);
}

TEST_F(EventLinksTest, DeletedPlacementOfTheOtherCopyIsInsertedAgainWithItsVersion) {
  Calendar team = Twin("Team", CalendarKind::Published(), 0x300, 0x3000);
  m_event.AddToCalendar(team);
  Calendar theirTeam = ServerCalendar(0x300);
  CalendarEvent theirs = m_theirs.AddToCalendar(theirTeam);
  theirs.SetDeleted();
  theirs.SetVersion(7);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes);

  EXPECT_EQ(LinkTexts(m_inserts), LinkTexts({Link(0x3000, 0, 7, 0)}));
  EXPECT_EQ(m_deletes.GetListCount(), 0);
}

TEST_F(EventLinksTest, PlacementsOnBothSidesNeedNothing) {
  Calendar team = Twin("Team", CalendarKind::Published(), 0x300, 0x3000);
  m_event.AddToCalendar(team);
  Calendar theirTeam = ServerCalendar(0x300);
  m_theirs.AddToCalendar(theirTeam);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes);

  EXPECT_EQ(m_inserts.GetListCount(), 0);
  EXPECT_EQ(m_deletes.GetListCount(), 0);
}

// An extra placement of the other copy, in a calendar that this copy has in
// some state; it is to be deleted only when this copy exchanges that calendar
// with the server.
struct ExtraPlacementCase {
  const char* label;
  CalendarKind kind;
  bool calendarDeletedHere;
  uint32_t serveId;
  bool placementDeleted;
  bool touchedBefore;
  bool deleted;
};

class EventExtraPlacementTest : public EventLinksTest,
                                public ::testing::WithParamInterface<ExtraPlacementCase> {};

TEST_P(EventExtraPlacementTest, DeleteLinkOnlyForCalendarsExchangedWithTheServer) {
  const ExtraPlacementCase& c = GetParam();
  Calendar here = Twin("Team", c.kind, 0x400, c.serveId);
  if (c.calendarDeletedHere) here.SetDeleted();
  Calendar theirTeam = ServerCalendar(0x400);
  CalendarEvent extra = m_theirs.AddToCalendar(theirTeam);
  extra.SetVersion(9);
  if (c.placementDeleted) extra.SetDeleted();
  extra.SetTouched(c.touchedBefore);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes);

  EXPECT_EQ(LinkTexts(m_deletes), c.deleted ? LinkTexts({Link(c.serveId, 0, 9, 1)}) : Texts{});
  EXPECT_EQ(m_inserts.GetListCount(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventExtraPlacementTest,
    ::testing::Values(ExtraPlacementCase{"Published", CalendarKind::Published(), false, 0x4000,
                                         false, false, true},
                      ExtraPlacementCase{"SubscribedWritable", CalendarKind::SubscribedReadWrite(),
                                         false, 0x4000, false, false, true},
                      ExtraPlacementCase{"TouchedByAnEarlierPass", CalendarKind::Published(), false,
                                         0x4000, false, true, true},
                      ExtraPlacementCase{"SubscribedReadOnly", CalendarKind::SubscribedReadOnly(),
                                         false, 0x4000, false, false, false},
                      ExtraPlacementCase{"Unshared", CalendarKind::Local(), false, 0x4000, false,
                                         false, false},
                      ExtraPlacementCase{"CalendarDeletedHere", CalendarKind::Published(), true,
                                         0x4000, false, false, false},
                      ExtraPlacementCase{"CalendarWithoutServerId", CalendarKind::Published(),
                                         false, 0, false, false, false},
                      ExtraPlacementCase{"PlacementAlreadyDeleted", CalendarKind::Published(),
                                         false, 0x4000, true, false, false}),
    CaseLabel<ExtraPlacementCase>);

TEST_F(EventLinksTest, DeleteLinksConsultTheGivenManager) {
  Twin("Team", CalendarKind::Published(), 0x400, 0x4000);
  Calendar theirTeam = ServerCalendar(0x400);
  m_theirs.AddToCalendar(theirTeam);
  CalendarManager readOnlyCopy = CalendarManager::CreateEmpty();
  AddCalendar(readOnlyCopy, "Team", CalendarKind::SubscribedReadOnly(), 0x400, 0x4000);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes, readOnlyCopy);

  EXPECT_EQ(m_deletes.GetListCount(), 0);
}

TEST_F(EventLinksTest, AppliedLinksMakeTheOtherCopyShowTheSameSharedCalendars) {
  Calendar team = Twin("Team", CalendarKind::Published(), 0x100, 0x1000);
  Calendar club = Twin("Club", CalendarKind::SubscribedReadWrite(), 0x200, 0x2000);
  Twin("Old", CalendarKind::Published(), 0x300, 0x3000);
  m_event.AddToCalendar(team);
  m_event.AddToCalendar(club);
  Calendar theirOld = ServerCalendar(0x300);
  m_theirs.AddToCalendar(theirOld);

  m_event.GenerateLinks(m_theirs, m_inserts, m_deletes);
  m_theirs.ApplyLinks(m_inserts, false);
  m_theirs.ApplyLinks(m_deletes, false);

  EXPECT_EQ(CalendarNamesOf(m_theirs), (Names{"Team", "Club"}));
}

// ---------------------------------------------------------------------------
// ApplyLinks
// ---------------------------------------------------------------------------

enum class Placement { kNone, kLive, kDeleted };
// How a link names its calendar.
enum class Naming { kByFixedId, kByServeIdOnly, kUnknownCalendar };

struct ApplyCase {
  const char* label;
  Placement before;
  Naming naming;
  bool deleteLink;
  bool markDirty;
  Placement after;
  bool dirty;
};

class EventApplyLinksTest : public ::testing::TestWithParam<ApplyCase> {
 protected:
  Link LinkFor(const ApplyCase& c) const {
    uint8_t deleteFlag = c.deleteLink ? 1 : 0;
    switch (c.naming) {
      case Naming::kByFixedId:
        return Link(0, 0x100, 3, deleteFlag);
      case Naming::kByServeIdOnly:
        return Link(0x1000, 0, 3, deleteFlag);
      case Naming::kUnknownCalendar:
        break;
    }
    return Link(0x9000, 0x900, 3, deleteFlag);
  }

  // The state of the event's placement in the team calendar, checked against
  // both lists that hold it.
  Placement PlacementState() const {
    CalendarEvent placement = PlacementOf(m_event, m_team);
    bool inCalendar = m_team.GetCalendarEventList().GetListCount() == 1;
    EXPECT_EQ(placement.IsNull(), !inCalendar) << "the two lists disagree";
    if (placement.IsNull()) return Placement::kNone;
    return placement.IsDeleted() ? Placement::kDeleted : Placement::kLive;
  }

  CalendarManager m_manager = CalendarManager::CreateEmpty();
  Calendar m_team = AddCalendar(m_manager, "Team", CalendarKind::Published(), 0x100, 0x1000);
  Event m_event = AddEvent(m_manager, "Lunch", {}, 0x10);
};

TEST_P(EventApplyLinksTest, AddsRevivesDeletesOrRemovesThePlacement) {
  const ApplyCase& c = GetParam();
  if (c.before != Placement::kNone) {
    CalendarEvent placement = m_event.AddToCalendar(m_team);
    if (c.before == Placement::kDeleted) placement.SetDeleted();
    placement.SetClean();
  }
  LinkList links;
  links.Append(LinkFor(c));

  m_event.ApplyLinks(links, c.markDirty);

  ASSERT_EQ(PlacementState(), c.after);
  if (c.after != Placement::kNone) {
    EXPECT_EQ(PlacementOf(m_event, m_team).IsDirty(), c.dirty);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, EventApplyLinksTest,
    ::testing::Values(ApplyCase{"InsertMarked", Placement::kNone, Naming::kByFixedId, false, true,
                                Placement::kLive, true},
                      ApplyCase{"InsertUnmarked", Placement::kNone, Naming::kByFixedId, false,
                                false, Placement::kLive, false},
                      ApplyCase{"InsertByServerId", Placement::kNone, Naming::kByServeIdOnly, false,
                                true, Placement::kLive, true},
                      ApplyCase{"InsertIntoUnknownCalendar", Placement::kNone,
                                Naming::kUnknownCalendar, false, true, Placement::kNone, false},
                      ApplyCase{"InsertRevivesMarked", Placement::kDeleted, Naming::kByFixedId,
                                false, true, Placement::kLive, true},
                      ApplyCase{"InsertRevivesUnmarked", Placement::kDeleted, Naming::kByFixedId,
                                false, false, Placement::kLive, false},
                      ApplyCase{"InsertOverLivePlacement", Placement::kLive, Naming::kByFixedId,
                                false, true, Placement::kLive, false},
                      ApplyCase{"DeleteMarked", Placement::kLive, Naming::kByFixedId, true, true,
                                Placement::kDeleted, true},
                      ApplyCase{"DeleteUnmarkedRemoves", Placement::kLive, Naming::kByFixedId, true,
                                false, Placement::kNone, false},
                      ApplyCase{"DeleteByServerIdUnmarked", Placement::kLive,
                                Naming::kByServeIdOnly, true, false, Placement::kNone, false},
                      ApplyCase{"DeleteByServerIdMarked", Placement::kLive, Naming::kByServeIdOnly,
                                true, true, Placement::kDeleted, true},
                      ApplyCase{"DeleteAlreadyDeleted", Placement::kDeleted, Naming::kByFixedId,
                                true, false, Placement::kDeleted, false},
                      ApplyCase{"DeleteWithoutPlacement", Placement::kNone, Naming::kByFixedId,
                                true, true, Placement::kNone, false}),
    CaseLabel<ApplyCase>);

TEST(EventApplyLinksRemovalTest, RemovedPlacementIsDetached) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar team = AddCalendar(manager, "Team", CalendarKind::Published(), 0x100, 0x1000);
  Event event = AddEvent(manager, "Lunch", {team});
  CalendarEvent placement = PlacementOf(event, team);
  LinkList links;
  links.Append(Link(0, 0x100, 3, 1));

  event.ApplyLinks(links, false);

  EXPECT_TRUE(placement.GetEvent().IsNull());
  EXPECT_TRUE(placement.GetParentCalendar().IsNull());
  EXPECT_TRUE(manager.HasEvent(event)) << "the event itself stays";
}

}  // namespace
}  // namespace brontel
