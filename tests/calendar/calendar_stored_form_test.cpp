// Tests of the stored form of calendar managers and caches: the exact bytes of
// a small manager, round trips of rich managers and caches, bodies written by
// older versions, placements that cannot be stored by position, and damaged or
// truncated input, which must end in an ArchiveError without crash or leak.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_classes.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/calendar_event_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/uid128.h"
#include "brontel/platform/archive.h"
#include "support/calendar_fixture.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddEvent;
using testing::CalendarKind;
using testing::PlacementOf;

// ---------------------------------------------------------------------------
// Hand-written archive bytes

// Builds archive bytes field by field; Mark names the current offset so that
// tests can damage a chosen field.
class Bytes {
 public:
  Bytes& Byte(uint8_t v) {
    m_bytes.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& Word(uint16_t v) {
    return Byte(static_cast<uint8_t>(v)).Byte(static_cast<uint8_t>(v >> 8));
  }
  Bytes& Dword(uint32_t v) {
    return Word(static_cast<uint16_t>(v)).Word(static_cast<uint16_t>(v >> 16));
  }
  Bytes& Int(int32_t v) { return Dword(static_cast<uint32_t>(v)); }
  Bytes& Flag(bool v) { return Byte(v ? '+' : '-'); }
  Bytes& Str(const std::string& s) {
    Byte(static_cast<uint8_t>(s.size()));
    return Raw(s);
  }
  Bytes& Raw(const std::string& s) {
    m_bytes += s;
    return *this;
  }
  Bytes& Null() { return Word(0); }
  // The record of the first object of a class: tag, schema 15, name.
  Bytes& NewClass(const std::string& name, uint16_t schema = 15) {
    return Word(0xFFFF).Word(schema).Word(static_cast<uint16_t>(name.size())).Raw(name);
  }
  Bytes& Mark(const std::string& name) {
    m_marks[name] = m_bytes.size();
    return *this;
  }
  size_t At(const std::string& name) const { return m_marks.at(name); }
  const std::string& str() const { return m_bytes; }

 private:
  std::string m_bytes;
  std::map<std::string, size_t> m_marks;
};

// Values of an identification and of a status, applied to records and written
// by hand.
struct Ids {
  uint32_t cache, local, fixed, version, createVersion;
};
struct Status {
  uint32_t hash;
  bool deleted, deletedGlobal, dirty;
  uint8_t source;
};

void Apply(const RecordIdentification& id, const Ids& v) {
  RecordIdentification target = id;
  target.SetCacheId(v.cache);
  target.SetLocalId(v.local);
  target.SetFixedId(v.fixed);
  target.SetVersion(v.version);
  target.SetCreateVersion(v.createVersion);
}
void Apply(const RecordStatus& status, const Status& v) {
  RecordStatus target = status;
  target.SetDataHash(v.hash);
  target.SetDeleteFlag(v.deleted);
  target.SetDeleteGlobalFlag(v.deletedGlobal);
  target.SetDirtyFlag(v.dirty);
  target.SetSource(static_cast<BR_SOURCE>(v.source));
}

// Identification in the quick form of a version: create version when v > 4,
// flags (here 0) when v >= 15.
Bytes& WriteIds(Bytes& b, const Ids& v, uint32_t version = 15) {
  b.Dword(v.cache).Dword(v.local).Dword(v.fixed).Dword(v.version);
  if (version > 4) b.Dword(v.createVersion);
  if (version >= 15) b.Dword(0);
  return b;
}
// Status in the quick form of a version: source byte when v >= 9.
Bytes& WriteStatus(Bytes& b, const Status& v, uint32_t version = 15) {
  b.Dword(~v.hash).Flag(v.deleted).Flag(v.deletedGlobal).Flag(v.dirty);
  if (version >= 9) b.Byte(v.source);
  return b;
}

// The event descriptor's own quick form (its bytes are tested with the
// descriptor); before version 7 it ends without the web content, which for a
// descriptor without web content is five empty strings and a zero byte.
std::string EventDescriptorBytes(const EventDescriptor& d, uint32_t version = 15) {
  StringSink sink;
  {
    Archive ar(sink);
    EventDescriptor(d).SerializeQuick(ar, Archive::kNoSchema);
  }
  std::string bytes = sink.contents();
  if (version <= 6) bytes.resize(bytes.size() - 6);
  return bytes;
}

const char kManagerClass[] = "CalendarManagerHolder";

// ---------------------------------------------------------------------------
// Storing and reading

class StoredFormTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterCalendarClasses(); }

  static std::string Store(CalendarManager m) {
    StringSink sink;
    {
      Archive ar(sink);
      m.Serialize(ar);
    }
    return sink.contents();
  }
  static std::string Store(CalendarCache cache) {
    StringSink sink;
    {
      Archive ar(sink);
      cache.Serialize(ar);
    }
    return sink.contents();
  }
  // Reads a whole shadow file; every byte must be used.
  static CalendarManager Read(const std::string& bytes) {
    CalendarManager m;
    Archive ar(bytes);
    m.SerializeQuick(ar, Archive::kNoSchema);
    EXPECT_EQ(ar.Remaining(), 0u);
    return m;
  }
  // The name of the status of the ArchiveError that reading bytes ends in, or
  // of kOk.
  static std::string ReadFailure(const std::string& bytes) {
    try {
      Read(bytes);
    } catch (const ArchiveError& e) {
      return Name(e.status());
    }
    return Name(ArchiveStatus::kOk);
  }
  static std::string Name(ArchiveStatus status) { return ArchiveStatusName(status); }
};

// One calendar, one event placed in it, with every stored field set to a value
// of its own.
class OneOfEachTest : public StoredFormTest {
 protected:
  const Ids calendarIds{0x101, 0x102, 0x103, 5, 4};
  const Status calendarStatus{0x12345678, false, false, true, 1};
  const Ids eventIds{0x201, 0x202, 0x203, 6, 3};
  const Status eventStatus{0x9ABC, true, true, false, 2};
  const Ids linkIds{0x301, 0x302, 0x303, 7, 7};
  const Status linkStatus{0, false, false, true, 3};

  void SetUp() override {
    calendar = manager.CreateNewCalendar();
    CalendarDescriptor d = calendar.GetCalendarDescriptor();
    d.SetCalendarName("Home");
    d.SetColor(0x112233);
    d.SetDescription("d");
    d.SetSharedFlag(true);
    d.SetSelectedDesktopFlag(true);
    d.SetOrdinal(7);
    d.SetInitials("HM");
    Apply(calendar.GetRecordIdentification(), calendarIds);
    Apply(calendar.GetRecordStatus(), calendarStatus);
    calendar.SetLocalInfo(0x44);

    event = manager.CreateNewEvent(testing::MakeEventDescriptor("Lunch"), 0, 0);
    event.SetDateBookId(0x2D);
    event.SetLocalInfo(0x2E);
    event.SetParentEventFixedId(0x2F);
    Apply(event.GetRecordIdentification(), eventIds);
    Apply(event.GetRecordStatus(), eventStatus);

    link = event.AddToCalendar(calendar);
    CalendarEventDescriptor alarm = link.GetCalendarEventDescriptor();
    alarm.SetAlarmFlag(true);
    alarm.SetAlarmAdvanceTime(10);
    alarm.SetAlarmAdvanceUnit(CalendarEventDescriptor::kHours);
    Apply(link.GetRecordIdentification(), linkIds);
    Apply(link.GetRecordStatus(), linkStatus);

    UID128 gid;
    for (int i = 0; i < UID128::kByteCount; ++i) gid.SetByte(i, static_cast<uint8_t>(0xA0 + i));
    manager.SetGID(gid);
    manager.SetVersion(9);
    manager.SetDeltaVersion(3);
  }

  // The shadow file of the manager, written by hand from the layout.
  Bytes Expected() const {
    Bytes b;
    b.Mark("record").NewClass(kManagerClass);
    // Events, pass 0.
    b.Mark("event count").Int(1);
    b.Raw(EventDescriptorBytes(event.GetEventDescriptor()));
    WriteIds(b, eventIds);
    WriteStatus(b, eventStatus);
    b.Flag(true).Dword(0x2F).Dword(0x2D).Dword(0x2E);
    // Calendars, each with its placements.
    b.Mark("calendar count").Int(1);
    b.Mark("calendar name").Str("Home").Dword(0x112233).Str("d");
    b.Flag(false).Flag(true).Flag(false).Flag(true).Flag(true).Dword(7).Str("HM");
    b.Mark("placement count").Int(1);
    b.Mark("placement event").Int(0).Mark("placement calendar").Int(0);
    b.Flag(true).Byte(10).Byte(1);
    WriteIds(b, linkIds);
    WriteStatus(b, linkStatus);
    b.Mark("placement conflict").Null().Flag(true);
    WriteIds(b, calendarIds);
    WriteStatus(b, calendarStatus);
    b.Mark("calendar conflict").Null().Flag(true).Dword(0x44);
    // Table identification.
    b.Dword(9);
    for (int i = 0; i < UID128::kByteCount; ++i) b.Byte(static_cast<uint8_t>(0xA0 + i));
    b.Dword(3);
    // Events, pass 1.
    b.Mark("reference count").Int(1);
    b.Mark("reference calendar").Int(0).Mark("reference placement").Int(0);
    b.Mark("event conflict").Null().Dword(0x2F).Dword(0x2D).Dword(0x2E);
    // Level, server manager flag, pulsecast URL and its version.
    b.Int(2).Flag(false).Str("").Dword(0);
    return b;
  }

  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar calendar;
  Event event;
  CalendarEvent link;
};

TEST_F(OneOfEachTest, ManagerIsStoredByteForByteAsLaidOut) {
  EXPECT_EQ(Store(manager), Expected().str());
}

TEST_F(OneOfEachTest, StoringChangesNoData) {
  std::string first = Store(manager);
  EXPECT_EQ(Store(manager), first);
  EXPECT_EQ(event.GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(manager.SanityCheck());
}

TEST_F(OneOfEachTest, ReadingGivesBackEveryFieldAndCountsOnlyTheHandle) {
  CalendarManager read = Read(Expected().str());
  EXPECT_EQ(read.GetReferenceCount(), 1u);
  EXPECT_TRUE(read.SanityCheck());
  EXPECT_EQ(Store(read), Expected().str());

  ASSERT_EQ(read.GetEventList().GetListCount(), 1);
  ASSERT_EQ(read.GetCalendarList().GetListCount(), 1);
  Event e = read.GetEventList()[0];
  Calendar c = read.GetCalendarList()[0];
  EXPECT_TRUE(e.GetManager().IsSameHolder(read));
  EXPECT_TRUE(c.GetManager().IsSameHolder(read));
  ASSERT_EQ(e.GetCalendarEventList().GetListCount(), 1);
  CalendarEvent l = e.GetCalendarEventList()[0];
  EXPECT_TRUE(l.IsSameHolder(c.GetCalendarEventList()[0]));
  EXPECT_TRUE(l.GetParentCalendar().IsSameHolder(c));
  EXPECT_TRUE(l.GetEvent().IsSameHolder(e));
  EXPECT_EQ(l.GetRecordIdentification().GetDisplayString(),
            link.GetRecordIdentification().GetDisplayString());
  EXPECT_EQ(e.GetDateBookId(), 0x2Du);
  EXPECT_EQ(e.GetParentEventFixedId(), 0x2Fu);
  EXPECT_EQ(c.GetCalendarDescriptor().GetInitials(), "HM");
  EXPECT_EQ(read.GetDeltaVersion(), 3u);
}

TEST_F(OneOfEachTest, AConflictIsStoredAsAnObjectRecordWhereTheNullRecordWas) {
  Event rival = Event::CreateEmpty(0);
  rival.GetEventDescriptor().SetName("Rival");
  event.SetConflict(rival);
  std::string bytes = Store(manager);
  const std::string record = Bytes().NewClass("EventHolder").str();
  EXPECT_EQ(bytes.substr(Expected().At("event conflict"), record.size()), record);

  CalendarManager read = Read(bytes);
  ASSERT_TRUE(read.GetEventList()[0].IsConflicted());
  EXPECT_EQ(read.GetEventList()[0].GetConflict().GetEventDescriptor().GetName(), "Rival");
  EXPECT_EQ(Store(read), bytes);
}

TEST_F(OneOfEachTest, ShadowFileOfANullManagerIsTheNullRecord) {
  const std::string null = Bytes().Null().str();
  EXPECT_EQ(Store(CalendarManager()), null);
  Archive ar(null);
  CalendarManager read = manager;
  read.SerializeQuick(ar, Archive::kNoSchema);
  EXPECT_TRUE(read.IsNull());
}

// ---------------------------------------------------------------------------
// Round trips of rich managers and caches

class RoundTripTest : public StoredFormTest {
 protected:
  // Three calendars; events in one, two, three and no calendars; conflicts on
  // records of every kind; a pulsecast URL and the server id layout.
  static CalendarManager Rich() {
    CalendarManager m = CalendarManager::CreateEmpty();
    Fill(m);
    return m;
  }
  // Local ids are set on every record, so that the swap to the server layout
  // leaves every fixed id non-zero.
  static void Fill(CalendarManager m) {
    Calendar home = AddCalendar(m, "home", CalendarKind::Local(), 0x11);
    Calendar work = AddCalendar(m, "work", CalendarKind::Published(), 0x12, 0x112);
    Calendar team = AddCalendar(m, "team", CalendarKind::SubscribedReadOnly(), 0x13, 0x113);
    Event one = AddEvent(m, "one", {work}, 0x21);
    Event two = AddEvent(m, "two", {team, home}, 0x22);
    Event three = AddEvent(m, "three", {home, work, team}, 0x23);
    AddEvent(m, "none", {}, 0x24).SetDeletedGlobal();

    Event rivalEvent = Event::CreateEmpty(0);
    rivalEvent.GetEventDescriptor().SetName("their two");
    two.SetConflict(rivalEvent);
    // A copy shares the conflict snapshot: one snapshot for two events.
    three.Copy(two);
    three.SetFixedId(0x23);
    three.GetEventDescriptor().SetName("three");
    Calendar rivalCalendar = Calendar::CreateEmpty(0);
    rivalCalendar.GetCalendarDescriptor().SetCalendarName("their work");
    work.SetConflict(rivalCalendar);
    CalendarEvent rivalLink = CalendarEvent::CreateEmpty();
    rivalLink.GetCalendarEventDescriptor().SetAlarmFlag(true);
    PlacementOf(three, team).SetConflict(rivalLink);

    CalendarCache cache;
    m.ForceFixedIds(cache);
    home.SetLocalId(0x111);
    uint32_t n = 0;
    for (Event* e : {&one, &two, &three}) {
      e->SetLocalId(0x1000 + e->GetFixedId());
      for (int32_t i = 0; i < e->GetCalendarEventList().GetListCount(); ++i) {
        e->GetCalendarEventList()[i].SetLocalId(0x500 + n++);
      }
    }
    m.GetEventList()[3].SetLocalId(0x1024);
    m.SetPulsecastURL(std::string(300, 'u'), 8);
    m.SetVersion(77);
    m.ConfirmServerManager();
  }
};

TEST_F(RoundTripTest, WriteReadWriteGivesTheSameBytes) {
  CalendarManager source = Rich();
  std::string first = Store(source);
  CalendarManager read = Read(first);
  EXPECT_EQ(Store(read), first);
  EXPECT_TRUE(read.SanityCheck());
  EXPECT_TRUE(read.IsCoherent());
  EXPECT_TRUE(read.IsServerManager());
  EXPECT_EQ(read.GetPulsecastURL(), std::string(300, 'u'));
  EXPECT_EQ(read.GetReferenceCount(), 1u);
}

TEST_F(RoundTripTest, ReadManagerVerifiesAgainstACloneOfTheWrittenOne) {
  CalendarManager source = Rich();
  CalendarManager read = Read(Store(source));
  CalendarManager clone = source.Clone();
  EXPECT_TRUE(read.Verify(clone));
}

TEST_F(RoundTripTest, SharedConflictStaysSharedAndPlacementsKeepTheirConflicts) {
  CalendarManager read = Read(Store(Rich()));
  Event two = read.FindEventByLocalId(0x22, false);  // ids swapped by the server layout
  Event three = read.FindEventByLocalId(0x23, false);
  ASSERT_FALSE(two.IsNull());
  ASSERT_FALSE(three.IsNull());
  EXPECT_TRUE(two.GetConflict().IsSameHolder(three.GetConflict()));
  EXPECT_TRUE(read.FindByLocalId(0x12, false).IsConflicted());
  EXPECT_TRUE(three.GetCalendarEventList()[2].IsConflicted());
}

TEST_F(RoundTripTest, CacheIsItsSequenceThenItsManagersRecord) {
  CalendarCache source;
  source.SetRandomCacheIndex();
  Bytes expected;
  expected.NewClass("CalendarCacheHolder").Dword(source.GetSequence());
  expected.Raw(Store(source.GetCalendarManager()));  // its own class record comes next
  EXPECT_EQ(Store(source), expected.str());
}

TEST_F(RoundTripTest, CacheKeepsItsSequenceAndItsManager) {
  CalendarCache source;
  source.SetRandomCacheIndex();
  Fill(source.GetCalendarManager());
  const std::string stored = Store(source);

  CalendarCache read;
  {
    Archive ar(stored);
    read.SerializeQuick(ar, Archive::kNoSchema);
    EXPECT_EQ(ar.Remaining(), 0u);
  }
  EXPECT_EQ(read.GetSequence(), source.GetSequence());
  EXPECT_EQ(Store(read), stored);
  CalendarManager manager = read.GetCalendarManager();
  EXPECT_EQ(manager.GetReferenceCount(), 2u) << "the cache and this handle";
  EXPECT_TRUE(manager.SanityCheck());
  CalendarManager clone = source.GetCalendarManager().Clone();
  EXPECT_TRUE(manager.Verify(clone));
}

// ---------------------------------------------------------------------------
// Placements that cannot be stored by position

TEST_F(StoredFormTest, APlacementOfAnEventOutsideTheManagerIsLeftOut) {
  CalendarManager m = CalendarManager::CreateEmpty();
  Calendar c = AddCalendar(m, "c", CalendarKind::Local(), 1);
  Event gone = AddEvent(m, "gone", {c}, 2);
  Event kept = AddEvent(m, "kept", {c}, 3);
  m.GetEventList().Remove(gone);  // still placed in c

  std::string bytes = Store(m);
  ASSERT_EQ(ReadFailure(bytes), Name(ArchiveStatus::kOk));
  CalendarManager read = Read(bytes);
  ASSERT_EQ(read.GetEventList().GetListCount(), 1);
  EXPECT_EQ(read.GetCalendarList()[0].GetCalendarEventList().GetListCount(), 1);
  EXPECT_EQ(read.GetEventList()[0].GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(read.SanityCheck());
}

TEST_F(StoredFormTest, APlacementInACalendarOutsideTheManagerIsLeftOut) {
  CalendarManager m = CalendarManager::CreateEmpty();
  Calendar gone = AddCalendar(m, "gone", CalendarKind::Local(), 1);
  Calendar kept = AddCalendar(m, "kept", CalendarKind::Local(), 2);
  Event e = AddEvent(m, "e", {gone, kept}, 3);
  m.GetCalendarList().Remove(gone);

  std::string bytes = Store(m);
  ASSERT_EQ(ReadFailure(bytes), Name(ArchiveStatus::kOk));
  CalendarManager read = Read(bytes);
  ASSERT_EQ(read.GetEventList()[0].GetCalendarEventList().GetListCount(), 1);
  EXPECT_EQ(read.GetEventList()[0].GetCalendarEventList()[0].GetParentCalendar().GetFixedId(), 2u);
  EXPECT_TRUE(read.SanityCheck());
}

TEST_F(StoredFormTest, APlacementListedByASecondCalendarIsNamedUnderItsParent) {
  // An oldest-form file can list one placement in two calendars; so can a
  // list changed directly. The placement belongs to its parent calendar.
  CalendarManager m = CalendarManager::CreateEmpty();
  Calendar home = AddCalendar(m, "home", CalendarKind::Local(), 1);
  Calendar work = AddCalendar(m, "work", CalendarKind::Local(), 2);
  Event first = AddEvent(m, "first", {home}, 3);
  AddEvent(m, "second", {home}, 4);
  AddEvent(m, "third", {work}, 5);
  work.GetCalendarEventList().Append(PlacementOf(first, home));

  std::string bytes = Store(m);
  ASSERT_EQ(ReadFailure(bytes), Name(ArchiveStatus::kOk));
  CalendarManager read = Read(bytes);
  EXPECT_EQ(testing::CalendarNamesOf(read.FindEventByFixedId(3, false)),
            (std::vector<std::string>{"home"}));
  EXPECT_EQ(testing::CalendarNamesOf(read.FindEventByFixedId(4, false)),
            (std::vector<std::string>{"home"}));
  EXPECT_EQ(Store(read), Store(Read(Store(read))));
}

// ---------------------------------------------------------------------------
// Older versions

// The shadow file of a manager body written by an older version.
std::string OldManager(uint32_t version, const Bytes& body) {
  return Bytes().NewClass(kManagerClass, static_cast<uint16_t>(version)).Raw(body.str()).str();
}

Bytes& WriteTableIdentification(Bytes& b) {
  b.Dword(0x33);
  for (int i = 0; i < UID128::kByteCount; ++i) b.Byte(static_cast<uint8_t>(i));
  return b.Dword(0x44);
}

TEST_F(StoredFormTest, VersionTenReadsNoUrl) {
  const Ids ids{1, 2, 3, 4, 5};
  const Status status{6, false, false, true, 2};
  Bytes body;
  body.Int(0).Int(1);
  body.Str("cal").Dword(0x10).Str("").Flag(false).Flag(true).Flag(false).Flag(true);
  body.Flag(true).Dword(5);  // no initials before version 12
  body.Int(0);
  WriteIds(body, ids, 10);
  WriteStatus(body, status, 10);
  body.Null().Flag(true);  // no local info before version 14
  WriteTableIdentification(body);
  body.Int(3).Flag(true);  // level, server manager flag; no URL before 11

  CalendarManager read = Read(OldManager(10, body));
  EXPECT_EQ(read.GetPulsecastURL(), "");
  EXPECT_EQ(read.GetPulsecastURLVersion(), 0u);
  EXPECT_EQ(read.GetLevel(), 3);
  EXPECT_TRUE(read.IsServerManager());
  EXPECT_EQ(read.GetVersion(), 0x33u);
  ASSERT_EQ(read.GetCalendarList().GetListCount(), 1);
  Calendar c = read.GetCalendarList()[0];
  EXPECT_EQ(c.GetCalendarDescriptor().GetCalendarName(), "cal");
  EXPECT_EQ(c.GetCalendarDescriptor().GetOrdinal(), 5u);
  EXPECT_EQ(c.GetRecordIdentification().GetCreateVersion(), 5u);
  EXPECT_EQ(c.GetSource(), SOURCE_HANDHELD);
  EXPECT_TRUE(c.IsHeld());
  EXPECT_EQ(read.GetReferenceCount(), 1u);
}

TEST_F(StoredFormTest, VersionFourReadsNoLevelNoFlagAndNoLaterEventFields) {
  const EventDescriptor descriptor = testing::MakeEventDescriptor("old");
  const Ids ids{1, 2, 3, 4, 0};
  const Status status{6, false, false, false, 0};
  Bytes body;
  body.Int(1).Raw(EventDescriptorBytes(descriptor, 4));
  WriteIds(body, ids, 4);
  WriteStatus(body, status, 4);
  body.Flag(true).Dword(0x99);  // held, parent event fixed id
  body.Int(0);                  // no calendars
  WriteTableIdentification(body);
  body.Int(0).Null().Dword(0x99);  // pass 1: no placements, no conflict, parent

  CalendarManager read = Read(OldManager(4, body));
  EXPECT_EQ(read.GetLevel(), 0);
  EXPECT_FALSE(read.IsServerManager());
  EXPECT_EQ(read.GetPulsecastURL(), "");
  ASSERT_EQ(read.GetEventList().GetListCount(), 1);
  Event e = read.GetEventList()[0];
  EXPECT_EQ(e.GetEventDescriptor().GetName(), "old");
  EXPECT_EQ(e.GetRecordIdentification().GetCreateVersion(), 4u) << "create version = version";
  EXPECT_EQ(e.GetParentEventFixedId(), 0x99u);
  EXPECT_EQ(e.GetDateBookId(), 0u);
  EXPECT_TRUE(read.FindEventByFixedId(3, false).IsSameHolder(e));
}

// Writes a manager in the oldest form: a manager record of schema 1 whose body
// is the calendar list and the event list with their records as object
// records, then the table identification as an object record.
class OldestForm : public Serializable {
 public:
  explicit OldestForm(CalendarManager m) : m_manager(m) {}
  const ClassInfo& GetClassInfo() const override {
    static const ClassInfo info{kManagerClass, 1, nullptr};
    return info;
  }
  void Serialize(Archive& ar) override {
    m_manager.GetCalendarList().SerializeQuick(ar, Archive::kNoSchema);
    m_manager.GetEventList().SerializeQuick(ar, Archive::kNoSchema);
    Bytes table;
    table.NewClass("RecordTableIdentificationHolder");
    WriteTableIdentification(table);
    ar.WriteBytes(table.str().data(), table.str().size());
  }

 private:
  CalendarManager m_manager;
};

// A calendar with one placed event, and an event placed nowhere, in the
// oldest form.
std::string OldestFormBytes() {
  CalendarManager source = CalendarManager::CreateEmpty();
  Calendar first = AddCalendar(source, "first", CalendarKind::Local(), 0x51);
  AddEvent(source, "placed", {first}, 0x52);
  AddEvent(source, "alone", {}, 0x53);
  OldestForm record(source);
  StringSink sink;
  {
    Archive ar(sink);
    ar.WriteObject(&record);
  }
  return sink.contents();
}

TEST_F(StoredFormTest, VersionOneReadsTheListsAsObjectRecords) {
  CalendarManager read = Read(OldestFormBytes());
  ASSERT_EQ(read.GetCalendarList().GetListCount(), 1);
  ASSERT_EQ(read.GetEventList().GetListCount(), 2);
  Calendar c = read.GetCalendarList()[0];
  Event placed = read.GetEventList()[0];
  EXPECT_EQ(c.GetCalendarDescriptor().GetCalendarName(), "first");
  EXPECT_EQ(read.GetEventList()[1].GetEventDescriptor().GetName(), "alone");
  EXPECT_TRUE(c.GetManager().IsSameHolder(read));
  EXPECT_TRUE(placed.GetManager().IsSameHolder(read));
  ASSERT_EQ(placed.GetCalendarEventList().GetListCount(), 1);
  EXPECT_TRUE(placed.GetCalendarEventList()[0].IsSameHolder(c.GetCalendarEventList()[0]));
  EXPECT_TRUE(placed.GetCalendarEventList()[0].GetParentCalendar().IsSameHolder(c));
  EXPECT_TRUE(read.SanityCheck());
  EXPECT_EQ(read.GetLevel(), 0);
  EXPECT_EQ(read.GetVersion(), 0x33u);
  EXPECT_EQ(read.GetReferenceCount(), 1u);
}

TEST_F(StoredFormTest, AnOldestFormThatListsARecordTwiceIsRewrittenReadably) {
  // Objects of this form may be named twice; a list that names one calendar
  // or event twice keeps it once, and the manager written from it reads back.
  CalendarManager source = CalendarManager::CreateEmpty();
  Calendar first = AddCalendar(source, "first", CalendarKind::Local(), 0x51);
  Event placed = AddEvent(source, "placed", {first}, 0x52);
  AddEvent(source, "alone", {}, 0x53);
  source.GetEventList().Append(placed);
  source.GetCalendarList().Append(first);
  OldestForm record(source);
  StringSink sink;
  {
    Archive ar(sink);
    ar.WriteObject(&record);
  }

  CalendarManager read = Read(sink.contents());
  ASSERT_EQ(read.GetCalendarList().GetListCount(), 1);
  ASSERT_EQ(read.GetEventList().GetListCount(), 2);
  EXPECT_TRUE(read.SanityCheck());
  const std::string rewritten = Store(read);
  ASSERT_EQ(ReadFailure(rewritten), Name(ArchiveStatus::kOk));
  EXPECT_EQ(Store(Read(rewritten)), rewritten);
}

TEST_F(StoredFormTest, EveryTruncationOfTheOldestFormFailsWithoutLeaking) {
  const std::string bytes = OldestFormBytes();
  for (size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_NE(ReadFailure(bytes.substr(0, length)), Name(ArchiveStatus::kOk))
        << "length " << length;
  }
  // The leak checker reports any record of a failed read left behind.
}

// ---------------------------------------------------------------------------
// Damaged input

TEST_F(OneOfEachTest, EveryTruncationFailsWithAnArchiveError) {
  const std::string bytes = Expected().str();
  for (size_t length = 0; length < bytes.size(); ++length) {
    EXPECT_NE(ReadFailure(bytes.substr(0, length)), Name(ArchiveStatus::kOk))
        << "length " << length;
  }
}

struct Damage {
  const char* name;
  const char* field;  // a mark of the expected bytes
  size_t offset;      // from the mark
  uint8_t value;
  ArchiveStatus status;
};

class DamageTest : public OneOfEachTest, public ::testing::WithParamInterface<Damage> {};

TEST_P(DamageTest, DamagedFieldIsRefused) {
  const Damage& d = GetParam();
  Bytes expected = Expected();
  std::string bytes = expected.str();
  bytes[expected.At(d.field) + d.offset] = static_cast<char>(d.value);
  EXPECT_EQ(ReadFailure(bytes), Name(d.status));
}

INSTANTIATE_TEST_SUITE_P(
    Fields, DamageTest,
    ::testing::Values(
        Damage{"class_tag", "record", 0, 0x00, ArchiveStatus::kBadReference},
        Damage{"class_name", "record", 6, 'x', ArchiveStatus::kUnknownClass},
        Damage{"event_count_large", "event count", 1, 0x7F, ArchiveStatus::kBadCount},
        Damage{"event_count_negative", "event count", 3, 0xFF, ArchiveStatus::kBadCount},
        Damage{"calendar_count_large", "calendar count", 1, 0x10, ArchiveStatus::kBadCount},
        Damage{"calendar_name_length", "calendar name", 0, 0xF0, ArchiveStatus::kBadLength},
        Damage{"placement_event_outside", "placement event", 0, 1, ArchiveStatus::kBadValue},
        Damage{"placement_event_negative", "placement event", 3, 0x80, ArchiveStatus::kBadValue},
        Damage{"placement_under_another_calendar", "placement calendar", 0, 1,
               ArchiveStatus::kBadValue},
        Damage{"reference_calendar_outside", "reference calendar", 0, 1, ArchiveStatus::kBadValue},
        Damage{"reference_placement_outside", "reference placement", 0, 1,
               ArchiveStatus::kBadValue},
        Damage{"reference_count_large", "reference count", 1, 0x10, ArchiveStatus::kBadCount},
        Damage{"placement_conflict_names_a_class", "placement conflict", 0, 1,
               ArchiveStatus::kBadReference},
        Damage{"calendar_conflict_names_the_manager", "calendar conflict", 0, 2,
               ArchiveStatus::kWrongClass},
        Damage{"event_conflict_unknown_index", "event conflict", 0, 0x40,
               ArchiveStatus::kBadReference}),
    [](const ::testing::TestParamInfo<Damage>& p) { return std::string(p.param.name); });

// The record of a conflict snapshot event holding one placement whose parent
// calendar (a snapshot of its own) does not list it; the placement is marked
// held, so it does not count that calendar.
std::string ConflictWithStrayPlacement(const EventDescriptor& descriptor) {
  const Ids ids{0, 0, 0, 1, 1};
  const Status status{0, false, false, false, 0};
  Bytes b;
  b.NewClass("EventHolder").Int(1);
  b.NewClass("CalendarEventHolder").Null().Flag(false).Byte(0).Byte(0);
  b.NewClass("CalendarHolder").Str("x").Dword(0).Str("");
  b.Flag(false).Flag(true).Flag(false).Flag(false).Flag(false).Dword(0).Str("");
  b.Int(0).Null();
  WriteIds(b, ids);
  WriteStatus(b, status);
  b.Null().Dword(0).Flag(false).Dword(0);
  WriteIds(b, ids);
  WriteStatus(b, status);
  b.Null().Flag(true);  // the placement: no conflict, held
  b.Raw(EventDescriptorBytes(descriptor));
  WriteIds(b, ids);
  WriteStatus(b, status);
  b.Null().Null().Flag(false).Dword(0).Dword(0).Dword(0);
  return b.str();
}

TEST_F(OneOfEachTest, AConflictPlacementOutsideItsCalendarNeverOutlivesIt) {
  const Bytes expected = Expected();
  std::string bytes = expected.str();
  bytes.replace(expected.At("event conflict"), 2,
                ConflictWithStrayPlacement(event.GetEventDescriptor()));
  CalendarManager read;
  try {
    read = Read(bytes);
    ASSERT_TRUE(read.GetEventList()[0].IsConflicted());
  } catch (const ArchiveError&) {
    // Refusing the snapshot is as good as reading it safely.
  }
  // Freeing the manager frees the snapshot and its placement; nothing may
  // touch the calendar snapshot after it was freed.
  read = CalendarManager();
}

// Conflict snapshots that name themselves through back-references, put in
// place of the event's conflict of the one-of-each layout (where the
// snapshot's record is object 4).
struct SelfReference {
  const char* name;
  std::string (*record)(const EventDescriptor& descriptor);
};

// The rest of an event holder's body after its placements, with the records
// (0 for none) that its manager and its conflict refer to.
Bytes& FinishEventSnapshot(Bytes& b, const EventDescriptor& descriptor, uint16_t manager,
                           uint16_t conflict) {
  const Ids ids{0, 0, 0, 1, 1};
  const Status status{0, false, false, false, 0};
  b.Raw(EventDescriptorBytes(descriptor));
  WriteIds(b, ids);
  WriteStatus(b, status);
  b.Word(manager).Word(conflict).Flag(false).Dword(0).Dword(0).Dword(0);
  return b;
}

// A snapshot holding one placement whose event is the snapshot itself.
std::string PlacementOfItsOwnSnapshot(const EventDescriptor& descriptor) {
  Bytes b;
  b.NewClass("EventHolder").Int(1);
  b.NewClass("CalendarEventHolder").Word(4).Flag(false).Byte(0).Byte(0).Null();
  WriteIds(b, Ids{0, 0, 0, 1, 1});
  WriteStatus(b, Status{0, false, false, false, 0});
  b.Null().Flag(false);
  return FinishEventSnapshot(b, descriptor, 0, 0).str();
}

// A snapshot whose own conflict is the snapshot itself.
std::string SnapshotConflictingWithItself(const EventDescriptor& descriptor) {
  Bytes b;
  b.NewClass("EventHolder").Int(0);
  return FinishEventSnapshot(b, descriptor, 0, 4).str();
}

// A snapshot whose manager is the manager being read (object 2).
std::string SnapshotOfTheManagerBeingRead(const EventDescriptor& descriptor) {
  Bytes b;
  b.NewClass("EventHolder").Int(0);
  return FinishEventSnapshot(b, descriptor, 2, 0).str();
}

class SelfReferenceTest : public OneOfEachTest,
                          public ::testing::WithParamInterface<SelfReference> {};

TEST_P(SelfReferenceTest, ASnapshotNamingItselfIsFreedWithTheManager) {
  const Bytes expected = Expected();
  std::string bytes = expected.str();
  bytes.replace(expected.At("event conflict"), 2, GetParam().record(event.GetEventDescriptor()));
  CalendarManager read;
  try {
    read = Read(bytes);
    ASSERT_TRUE(read.GetEventList()[0].IsConflicted());
  } catch (const ArchiveError&) {
    // Refusing the snapshot is as good as freeing it.
  }
  read = CalendarManager();
  // The leak checker reports the snapshot if the cycle keeps it alive.
}

INSTANTIATE_TEST_SUITE_P(
    Records, SelfReferenceTest,
    ::testing::Values(
        SelfReference{"placement_of_its_own_snapshot", PlacementOfItsOwnSnapshot},
        SelfReference{"snapshot_conflicting_with_itself", SnapshotConflictingWithItself},
        SelfReference{"snapshot_of_the_manager_being_read", SnapshotOfTheManagerBeingRead}),
    [](const ::testing::TestParamInfo<SelfReference>& p) { return std::string(p.param.name); });

// Two events placed in one calendar: placements 0 and 1 of the calendar.
class TwoEventsTest : public StoredFormTest {
 protected:
  void SetUp() override {
    Calendar c = AddCalendar(m, "c", CalendarKind::Local(), 1);
    AddEvent(m, "a", {c}, 2);
    AddEvent(m, "b", {c}, 3);
    bytes = Store(m);
  }
  // Offset of the pass-1 reference (calendar 0, placement `placement`) of
  // the given event: both references are the last ones before the trailer.
  size_t ReferenceOffset(int event) const {
    // Trailer: level, flag, empty URL, URL version. Each event's pass-1 record
    // is count, reference pair, null conflict, three DWORDs.
    const size_t trailer = 4 + 1 + 1 + 4;
    const size_t pass1 = 4 + 8 + 2 + 12;
    return bytes.size() - trailer - pass1 * static_cast<size_t>(2 - event) + 4;
  }
  CalendarManager m = CalendarManager::CreateEmpty();
  std::string bytes;
};

TEST_F(TwoEventsTest, TheReferencesAreWhereTheLayoutPutsThem) {
  EXPECT_EQ(bytes.substr(ReferenceOffset(0), 8), Bytes().Int(0).Int(0).str());
  EXPECT_EQ(bytes.substr(ReferenceOffset(1), 8), Bytes().Int(0).Int(1).str());
  EXPECT_EQ(ReadFailure(bytes), Name(ArchiveStatus::kOk));
}

TEST_F(TwoEventsTest, APlacementListedUnderTheWrongEventIsRefused) {
  bytes[ReferenceOffset(0) + 4] = 1;  // event a claims b's placement
  EXPECT_EQ(ReadFailure(bytes), Name(ArchiveStatus::kBadValue));
}

TEST_F(TwoEventsTest, APlacementListedTwiceIsRefused) {
  // Event b lists its placement, then again in place of its conflict and
  // first DWORD.
  std::string twice = bytes;
  size_t at = ReferenceOffset(1);
  twice[at - 4] = 2;
  twice.replace(at + 8, 8, Bytes().Int(0).Int(1).str());
  EXPECT_EQ(ReadFailure(twice), Name(ArchiveStatus::kBadValue));
}

}  // namespace
}  // namespace brontel
