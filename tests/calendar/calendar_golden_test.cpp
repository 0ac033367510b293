// Golden bytes of the calendar files: a manager with one calendar, one event,
// one placement and a conflict snapshot on the event, as the handheld shadow
// file holds it and inside a cache file, and manager bodies of versions 4, 10
// and 15. Every expected byte is written out here field by field from the
// stored-form rules; nothing below asks the code under test for bytes.
#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <string>

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
#include "brontel/host/web_content.h"
#include "brontel/platform/archive.h"

namespace brontel {
namespace {

// Bytes written out by hand: numbers byte by byte in file order, names as
// their characters.
class Golden {
 public:
  Golden& operator()(std::initializer_list<int> bytes) {
    for (int b : bytes) m_bytes.push_back(static_cast<char>(b));
    return *this;
  }
  Golden& Text(const std::string& characters) {
    m_bytes += characters;
    return *this;
  }
  Golden& Append(const std::string& bytes) { return Text(bytes); }
  const std::string& str() const { return m_bytes; }

 private:
  std::string m_bytes;
};

// Hex of bytes, 16 to a line, so that a mismatch shows where.
std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    uint8_t b = static_cast<uint8_t>(bytes[i]);
    text += kDigits[b >> 4];
    text += kDigits[b & 15];
    text += (i % 16 == 15) ? '\n' : ' ';
  }
  return text;
}

std::string Store(const std::function<void(Archive&)>& write) {
  StringSink sink;
  {
    Archive ar(sink);
    write(ar);
  }
  return sink.contents();
}

void SetIds(const RecordIdentification& id, uint32_t cache, uint32_t local, uint32_t fixed,
            uint32_t version, uint32_t createVersion) {
  RecordIdentification target = id;
  target.SetCacheId(cache);
  target.SetLocalId(local);
  target.SetFixedId(fixed);
  target.SetVersion(version);
  target.SetCreateVersion(createVersion);
}

void SetStatus(const RecordStatus& status, uint32_t hash, bool deleted, bool dirty,
               BR_SOURCE source) {
  RecordStatus target = status;
  target.SetDataHash(hash);
  target.SetDeleteFlag(deleted);
  target.SetDeleteGlobalFlag(false);
  target.SetDirtyFlag(dirty);
  target.SetSource(source);
}

// 1 March 2004 and 8 March 2004, packed: (2004 - 1904) << 9 | 3 << 5 | day.
constexpr uint16_t kMarch1 = 0xC861;
constexpr uint16_t kMarch8 = 0xC868;

// Builds the small manager into manager (a fresh one, or a cache's):
// - calendar "Home": colour 0x112233, description "d", owned and shared,
//   selected on the desktop, ordinal 7, initials "HM", local info 0x1E;
// - event "Lunch": weekly on Mondays from 1 March 2004 without end, except 8
//   March, 12:00 to 13:00, alarm 5 minutes before, sponsored by "S" (use-me
//   1), date-book id 0x2D, local info 0x2E;
// - its placement in "Home" with an alarm 10 hours before;
// - a conflict snapshot on the event: the rival copy "Lunch" "at noon",
//   deleted, with a fixed id marked dirty.
void BuildSmallManager(CalendarManager manager) {
  UID128 gid;
  for (int i = 0; i < UID128::kByteCount; ++i) gid.SetByte(i, static_cast<uint8_t>(0xA0 + i));
  manager.SetGID(gid);
  manager.SetVersion(9);
  manager.SetDeltaVersion(3);
  manager.SetPulsecastURL("p", 5);

  Calendar home = manager.CreateNewCalendar();
  CalendarDescriptor c = home.GetCalendarDescriptor();
  c.SetCalendarName("Home");
  c.SetColor(0x112233);
  c.SetDescription("d");
  c.SetSharedFlag(true);
  c.SetSelectedDesktopFlag(true);
  c.SetOrdinal(7);
  c.SetInitials("HM");
  SetIds(home.GetRecordIdentification(), 0x11, 0x12, 0x13, 4, 3);
  SetStatus(home.GetRecordStatus(), 0x01020304, false, true, SOURCE_DESKTOP);
  home.SetLocalInfo(0x1E);

  Event lunch = manager.CreateNewEvent(0, 0);
  EventDescriptor d = lunch.GetEventDescriptor();
  d.SetAlarmFlag(true);
  d.SetAlarmAdvanceTime(5);
  d.SetAlarmAdvanceUnit(0);
  d.SetName("Lunch");
  d.SetYearMonthDate(kMarch1);
  d.SetStartTime(0x0C00);
  d.SetEndTime(0x0D00);
  d.SetRepeatType(2);
  d.SetRepeatFrequency(1);
  d.SetRepeatOn(0x02);
  d.SetRepeatEndYearMonthDate(0xFFFF);
  d.AddExceptionYearMonthDate(kMarch8);
  d.GetWebContent().SetSponsor("S");
  d.SetUseMe(1);
  SetIds(lunch.GetRecordIdentification(), 0x21, 0x22, 0x23, 6, 5);
  SetStatus(lunch.GetRecordStatus(), 0x9ABC, false, true, SOURCE_HANDHELD);
  lunch.SetDateBookId(0x2D);
  lunch.SetLocalInfo(0x2E);

  CalendarEvent placement = lunch.AddToCalendar(home);
  CalendarEventDescriptor alarm = placement.GetCalendarEventDescriptor();
  alarm.SetAlarmFlag(true);
  alarm.SetAlarmAdvanceTime(10);
  alarm.SetAlarmAdvanceUnit(1);
  SetIds(placement.GetRecordIdentification(), 0x31, 0x32, 0x33, 7, 7);
  SetStatus(placement.GetRecordStatus(), 0, false, true, SOURCE_SERVER);

  Event rival = Event::CreateEmpty(0);
  EventDescriptor r = rival.GetEventDescriptor();
  r.SetName("Lunch");
  r.SetNote("at noon");
  r.SetYearMonthDate(kMarch1);
  r.SetStartTime(0x0C00);
  r.SetEndTime(0x0D30);
  SetIds(rival.GetRecordIdentification(), 0x41, 0x42, 0x43, 8, 7);
  rival.GetRecordIdentification().SetFixedIdDirtyFlag(true);
  SetStatus(rival.GetRecordStatus(), 0, true, false, SOURCE_HANDHELD);
  rival.SetDateBookId(0x4D);
  rival.SetLocalInfo(0x4E);
  lunch.SetConflict(rival);
}

// The manager's body, version 15, written out from the layout of the manager
// body, the event pass-0 and pass-1 records, the calendar and placement
// records, the quick forms of the descriptors, identifications and statuses,
// and the record without a manager for the conflict snapshot.
std::string SmallManagerBody() {
  Golden g;
  // Events, pass 0: count 1.
  g({0x01, 0x00, 0x00, 0x00});
  //   Event descriptor: alarm "+", 5, unit 0; end time 13:00; not private.
  g({'+', 0x05, 0x00, 0x00, 0x0D, '-'});
  //   Name "Lunch", empty note.
  g({0x05}).Text("Lunch")({0x00});
  //   Repeat end 0xFFFF, one exception, frequency 1, on Monday, week from
  //   Sunday, weekly.
  g({0xFF, 0xFF, 0x01, 0x00, 0x01, 0x02, 0x00, 0x02});
  //   Start 12:00, date 1 March 2004, exception 8 March 2004.
  g({0x00, 0x0C, 0x61, 0xC8, 0x68, 0xC8});
  //   Web content: button label, desktop and handheld addresses empty,
  //   sponsor "S", text empty, use-me 1.
  g({0x00, 0x00, 0x00, 0x01, 'S', 0x00, 0x01});
  //   Identification: cache 0x21, local 0x22, fixed 0x23, version 6, create
  //   version 5, flags 0.
  g({0x21, 0, 0, 0, 0x22, 0, 0, 0, 0x23, 0, 0, 0, 0x06, 0, 0, 0, 0x05, 0, 0, 0, 0, 0, 0, 0});
  //   Status: NOT 0x9ABC, not deleted, not deleted everywhere, dirty, source 2.
  g({0x43, 0x65, 0xFF, 0xFF, '-', '-', '+', 0x02});
  //   Held; parent event fixed id 0, date-book id 0x2D, local info 0x2E.
  g({'+', 0, 0, 0, 0, 0x2D, 0, 0, 0, 0x2E, 0, 0, 0});

  // Calendars: count 1.
  g({0x01, 0x00, 0x00, 0x00});
  //   Descriptor: "Home", colour word 0x00112233, description "d".
  g({0x04}).Text("Home")({0x33, 0x22, 0x11, 0x00, 0x01, 'd'});
  //   Hide details, owned, read-only, shared; selected; ordinal 7; "HM".
  g({'-', '+', '-', '+', '+', 0x07, 0x00, 0x00, 0x00, 0x02, 'H', 'M'});
  //   Placements: count 1; event position 0, calendar position 0.
  g({0x01, 0, 0, 0, 0x00, 0, 0, 0, 0x00, 0, 0, 0});
  //     Alarm "+", 10, hours.
  g({'+', 0x0A, 0x01});
  //     Identification: 0x31, 0x32, 0x33, version 7, create version 7, flags 0.
  g({0x31, 0, 0, 0, 0x32, 0, 0, 0, 0x33, 0, 0, 0, 0x07, 0, 0, 0, 0x07, 0, 0, 0, 0, 0, 0, 0});
  //     Status: NOT 0, dirty, source 3; no conflict; held.
  g({0xFF, 0xFF, 0xFF, 0xFF, '-', '-', '+', 0x03, 0x00, 0x00, '+'});
  //   Identification: 0x11, 0x12, 0x13, version 4, create version 3, flags 0.
  g({0x11, 0, 0, 0, 0x12, 0, 0, 0, 0x13, 0, 0, 0, 0x04, 0, 0, 0, 0x03, 0, 0, 0, 0, 0, 0, 0});
  //   Status: NOT 0x01020304, dirty, source 1; no conflict; held; local info.
  g({0xFB, 0xFC, 0xFD, 0xFE, '-', '-', '+', 0x01, 0x00, 0x00, '+', 0x1E, 0, 0, 0});

  // Table identification: version 9, id A0..AF, delta version 3.
  g({0x09, 0, 0, 0});
  g({0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8, 0xA9, 0xAA, 0xAB, 0xAC, 0xAD, 0xAE,
     0xAF});
  g({0x03, 0, 0, 0});

  // Events, pass 1: one placement, in calendar 0 at position 0.
  g({0x01, 0, 0, 0, 0x00, 0, 0, 0, 0x00, 0, 0, 0});
  //   The conflict: first object of class "EventHolder", schema 15.
  g({0xFF, 0xFF, 0x0F, 0x00, 0x0B, 0x00}).Text("EventHolder");
  //     No placements.
  g({0x00, 0x00, 0x00, 0x00});
  //     Descriptor: no alarm, advance 255, unit 0; end 13:30; not private;
  //     "Lunch", "at noon"; no repeat (end 0, no exception, all 0); start
  //     12:00; 1 March 2004; empty web content, use-me 0.
  g({'-', 0xFF, 0x00, 0x30, 0x0D, '-', 0x05}).Text("Lunch")({0x07}).Text("at noon");
  g({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x61, 0xC8});
  g({0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  //     Identification: 0x41, 0x42, 0x43, version 8, create version 7, flags 1.
  g({0x41, 0, 0, 0, 0x42, 0, 0, 0, 0x43, 0, 0, 0, 0x08, 0, 0, 0, 0x07, 0, 0, 0, 0x01, 0, 0, 0});
  //     Status: NOT 0, deleted, source 2.
  g({0xFF, 0xFF, 0xFF, 0xFF, '+', '-', '-', 0x02});
  //     No manager, no conflict, not held; parent 0, date-book 0x4D, local
  //     info 0x4E.
  g({0x00, 0x00, 0x00, 0x00, '-', 0, 0, 0, 0, 0x4D, 0, 0, 0, 0x4E, 0, 0, 0});
  //   Parent event fixed id 0, date-book id 0x2D, local info 0x2E again.
  g({0, 0, 0, 0, 0x2D, 0, 0, 0, 0x2E, 0, 0, 0});

  // Level 2, not a server manager, pulsecast URL "p" version 5.
  g({0x02, 0, 0, 0, '-', 0x01, 'p', 0x05, 0, 0, 0});
  return g.str();
}

// The handheld shadow file: the manager's object record.
std::string SmallShadowFile() {
  Golden g;
  g({0xFF, 0xFF, 0x0F, 0x00, 0x15, 0x00}).Text("CalendarManagerHolder");
  return g.Append(SmallManagerBody()).str();
}

// The cache file with sequence 0x1234: the cache's object record, whose body
// is the sequence and the manager's object record.
std::string SmallCacheFile() {
  Golden g;
  g({0xFF, 0xFF, 0x0F, 0x00, 0x13, 0x00}).Text("CalendarCacheHolder");
  g({0x34, 0x12, 0x00, 0x00});
  return g.Append(SmallShadowFile()).str();
}

class CalendarGoldenTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterCalendarClasses(); }

  static CalendarManager ReadManager(const std::string& bytes) {
    CalendarManager manager;
    Archive ar(bytes);
    manager.Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u);
    return manager;
  }
};

TEST_F(CalendarGoldenTest, ShadowFileOfTheSmallManager) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  BuildSmallManager(manager);
  std::string written = Store([&](Archive& ar) { manager.Serialize(ar); });
  EXPECT_EQ(Hex(written), Hex(SmallShadowFile()));
}

TEST_F(CalendarGoldenTest, CacheFileOfTheSmallManager) {
  CalendarCache cache;
  while (cache.GetSequence() < 0x1234) cache.Increment();
  BuildSmallManager(cache.GetCalendarManager());
  std::string written = Store([&](Archive& ar) { cache.Serialize(ar); });
  EXPECT_EQ(Hex(written), Hex(SmallCacheFile()));
}

TEST_F(CalendarGoldenTest, TheGoldenFilesReadBackToTheSameRecords) {
  CalendarCache cache;
  {
    const std::string bytes = SmallCacheFile();
    Archive ar(bytes);
    cache.Serialize(ar);
    EXPECT_EQ(ar.Remaining(), 0u);
  }
  EXPECT_EQ(cache.GetSequence(), 0x1234u);
  CalendarManager read = cache.GetCalendarManager();
  CalendarManager built = CalendarManager::CreateEmpty();
  BuildSmallManager(built);
  CalendarManager left = read.Clone();
  CalendarManager right = built.Clone();
  EXPECT_TRUE(left.Verify(right));
  ASSERT_EQ(read.GetEventList().GetListCount(), 1);
  Event lunch = read.GetEventList()[0];
  ASSERT_TRUE(lunch.IsConflicted());
  Event rival = lunch.GetConflict();
  EXPECT_EQ(rival.GetEventDescriptor().GetNote(), "at noon");
  EXPECT_TRUE(rival.GetRecordIdentification().GetFixedIdDirtyFlag());
  EXPECT_TRUE(rival.IsDeleted());
  EXPECT_EQ(rival.GetDateBookId(), 0x4Du);
  EXPECT_EQ(rival.GetManager().IsNull(), true);
  EXPECT_EQ(lunch.GetEventDescriptor().GetWebContent().GetSponsor(), "S");
  EXPECT_EQ(lunch.GetEventDescriptor().GetRepeatExceptionCount(), 1);
  EXPECT_EQ(read.GetPulsecastURL(), "p");

  // What was read writes back to the same bytes.
  EXPECT_EQ(Hex(Store([&](Archive& ar) { read.Serialize(ar); })), Hex(SmallShadowFile()));
  EXPECT_EQ(Hex(Store([&](Archive& ar) { ReadManager(SmallShadowFile()).Serialize(ar); })),
            Hex(SmallShadowFile()));
}

// Two events whose conflicts share one snapshot (Event::Copy shares it), the
// snapshot carrying a conflict of its own: the first occurrence is written
// whole, the nested one names its class by index, the second occurrence is a
// back reference. Indexes count classes and objects together from 1.
TEST_F(CalendarGoldenTest, SharedSnapshotIsWrittenOnceAndReferencedByIndex) {
  // A new event's descriptor, identification and status, and the rest of a
  // record: all defaults.
  Golden descriptor;
  // No alarm, advance 255, unit 0; end 0; not private; empty name and note.
  descriptor({'-', 0xFF, 0x00, 0x00, 0x00, '-', 0x00, 0x00});
  // Repeat end 0, no exception, frequency, on, start of week, type 0; start
  // and date 0.
  descriptor({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  // Empty web content, use-me 0.
  descriptor({0x00, 0x00, 0x00, 0x00, 0x00, 0x00});
  Golden ids;
  ids({0,    0,    0,    0,    0,    0,    0,    0,    0, 0, 0, 0,
       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0, 0});
  Golden status;
  status({0xFF, 0xFF, 0xFF, 0xFF, '-', '-', '-', 0x00});
  const std::string dwords(12, '\0');  // parent, date-book id, local info
  auto snapshotBody = [&](Golden& g, const std::string& conflict) {
    g({0, 0, 0, 0}).Append(descriptor.str()).Append(ids.str()).Append(status.str());
    g({0x00, 0x00}).Append(conflict)({'-'}).Append(dwords);
  };

  // Manager record (class 1, object 2), then the events.
  auto expected = [&](int managerClass) {
    const int eventClass = managerClass + 2, snapshot = managerClass + 3;
    Golden g;
    g({0xFF, 0xFF, 0x0F, 0x00, 0x15, 0x00}).Text("CalendarManagerHolder");
    g({0x02, 0, 0, 0});
    for (int i = 0; i < 2; ++i) {
      g.Append(descriptor.str()).Append(ids.str()).Append(status.str())({'+'}).Append(dwords);
    }
    g({0, 0, 0, 0});  // no calendars
    g({0xFF, 0xFF, 0xFF, 0xFF}).Append(std::string(16, '\0'))({0, 0, 0, 0});
    // First event: the snapshot (new class), whose conflict is a second
    // object of the same class, named by the class's index.
    g({0, 0, 0, 0, 0xFF, 0xFF, 0x0F, 0x00, 0x0B, 0x00}).Text("EventHolder");
    Golden inner;
    inner({eventClass, 0x80});
    snapshotBody(inner, Golden()({0x00, 0x00}).str());
    snapshotBody(g, inner.str());
    g.Append(dwords);
    // Second event: the same snapshot, by its object index.
    g({0, 0, 0, 0, snapshot, 0x00}).Append(dwords);
    g({0x02, 0, 0, 0, '-', 0x00, 0, 0, 0, 0});
    return g.str();
  };

  auto build = [](CalendarManager manager) {
    Event a = manager.CreateNewEvent(0, 0);
    Event b = manager.CreateNewEvent(0, 0);
    Event rival = Event::CreateEmpty(0);
    rival.SetConflict(Event::CreateEmpty(0));
    a.SetConflict(rival);
    b.Copy(a);  // shares the snapshot
    ASSERT_TRUE(a.GetConflict().IsSameHolder(b.GetConflict()));
  };
  CalendarManager manager = CalendarManager::CreateEmpty();
  build(manager);
  const std::string shadow = Store([&](Archive& ar) { manager.Serialize(ar); });
  EXPECT_EQ(Hex(shadow), Hex(expected(1)));

  CalendarCache cache;
  build(cache.GetCalendarManager());
  Golden cacheFile;
  cacheFile({0xFF, 0xFF, 0x0F, 0x00, 0x13, 0x00}).Text("CalendarCacheHolder")({0x01, 0, 0, 0});
  // Inside the cache the manager's class is 3 and everything moves by two.
  std::string inCache = expected(3);
  EXPECT_EQ(Hex(Store([&](Archive& ar) { cache.Serialize(ar); })),
            Hex(cacheFile.Append(inCache).str()));

  // Reading keeps the sharing.
  CalendarManager read = ReadManager(shadow);
  ASSERT_EQ(read.GetEventList().GetListCount(), 2);
  EXPECT_TRUE(
      read.GetEventList()[0].GetConflict().IsSameHolder(read.GetEventList()[1].GetConflict()));
  EXPECT_TRUE(read.GetEventList()[0].GetConflict().IsConflicted());
}

// ---------------------------------------------------------------------------
// Manager bodies of older versions

// A shadow file whose manager record names schema version and whose body has
// exactly the fields that version has: one event "Tea" placed in one calendar
// "Work", no conflicts. Every stored value is one that differs from the
// default, so that a field read or skipped by mistake shows.
std::string OldShadowFile(uint16_t version) {
  const bool createVersion = version > 4, identFlags = version >= 15, source = version >= 9;
  const bool webContent = version > 6, initials = version >= 12, selected = version >= 3;
  const bool dateBook = version >= 11, eventLocal = version >= 13, calendarLocal = version >= 14;
  const bool level = version >= 5, serverFlag = version >= 6, url = version >= 11;
  auto ids = [&](Golden& g, int base) {
    g({base + 1, 0, 0, 0, base + 2, 0, 0, 0, base + 3, 0, 0, 0, 0x09, 0, 0, 0});
    if (createVersion) g({0x08, 0, 0, 0});
    if (identFlags) g({0x01, 0, 0, 0});
  };
  auto status = [&](Golden& g) {
    g({0x00, 0x00, 0x00, 0x00, '-', '-', '+'});  // hash 0xFFFFFFFF, dirty
    if (source) g({0x03});
  };
  auto eventDwords = [&](Golden& g) {
    g({0x2F, 0, 0, 0});  // parent event fixed id (every version read here has it)
    if (dateBook) g({0x2D, 0, 0, 0});
    if (eventLocal) g({0x2E, 0, 0, 0});
  };

  Golden g;
  g({0xFF, 0xFF, version & 0xFF, version >> 8, 0x15, 0x00}).Text("CalendarManagerHolder");
  // Events, pass 0: "Tea", untimed, on 1 March 2004.
  g({0x01, 0, 0, 0});
  g({'-', 0xFF, 0x00, 0x00, 0x00, '-', 0x03}).Text("Tea")({0x00});
  g({0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0x61, 0xC8});
  if (webContent) g({0x00, 0x00, 0x00, 0x01, 'W', 0x00, 0x01});
  ids(g, 0x20);
  status(g);
  g({'+'});
  eventDwords(g);
  // Calendars: "Work".
  g({0x01, 0, 0, 0});
  g({0x04}).Text("Work")({0x00, 0x00, 0x00, 0x00, 0x00, '-', '+', '-', '-'});
  if (selected) g({'+', 0x06, 0, 0, 0});
  if (initials) g({0x02, 'W', 'K'});
  g({0x01, 0, 0, 0, 0x00, 0, 0, 0, 0x00, 0, 0, 0, '-', 0x00, 0x00});
  ids(g, 0x30);
  status(g);
  g({0x00, 0x00, '+'});
  ids(g, 0x10);
  status(g);
  g({0x00, 0x00, '+'});
  if (calendarLocal) g({0x1E, 0, 0, 0});
  // Table identification: version 0x0C, id 0x51 repeated, delta version 4.
  g({0x0C, 0, 0, 0});
  for (int i = 0; i < UID128::kByteCount; ++i) g({0x51});
  g({0x04, 0, 0, 0});
  // Events, pass 1.
  g({0x01, 0, 0, 0, 0x00, 0, 0, 0, 0x00, 0, 0, 0, 0x00, 0x00});
  eventDwords(g);
  if (level) g({0x06, 0, 0, 0});
  if (serverFlag) g({'+'});
  if (url) g({0x01, 'u', 0x05, 0, 0, 0});
  return g.str();
}

TEST_F(CalendarGoldenTest, OlderManagerBodiesReadTheFieldsTheirVersionHas) {
  struct Case {
    uint16_t version;
    uint32_t createVersion, identFlags;
    BR_SOURCE source;
    const char* sponsor;
    uint8_t useMe;
    uint32_t dateBook, eventLocal;
    const char* initials;
    uint32_t calendarLocal;
    int32_t level;
    bool serverManager;
    const char* url;
    uint32_t urlVersion;
  };
  const Case kCases[] = {
      // Version 4: create version = version, no identification flags, no
      // source, no web content, no date-book id or local infos, no initials;
      // level 0, the server manager flag and the URL as a new manager has them.
      {4, 9, 0, SOURCE_NONE, "", 0, 0, 0, "", 0, 0, false, "", 0},
      // Version 10: create version, source, web content, level and flag, but
      // no URL yet, no date-book id, no local infos, no initials.
      {10, 8, 0, SOURCE_SERVER, "W", 1, 0, 0, "", 0, 6, true, "", 0},
      // Version 15: every field.
      {15, 8, 1, SOURCE_SERVER, "W", 1, 0x2D, 0x2E, "WK", 0x1E, 6, true, "u", 5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "version " << c.version);
    CalendarManager m = ReadManager(OldShadowFile(c.version));
    ASSERT_EQ(m.GetEventList().GetListCount(), 1);
    ASSERT_EQ(m.GetCalendarList().GetListCount(), 1);
    Event tea = m.GetEventList()[0];
    Calendar work = m.GetCalendarList()[0];
    ASSERT_EQ(tea.GetCalendarEventList().GetListCount(), 1);
    CalendarEvent placement = tea.GetCalendarEventList()[0];
    EXPECT_TRUE(placement.IsSameHolder(work.GetCalendarEventList()[0]));

    EXPECT_EQ(tea.GetEventDescriptor().GetName(), "Tea");
    EXPECT_EQ(tea.GetEventDescriptor().GetWebContent().GetSponsor(), c.sponsor);
    EXPECT_EQ(tea.GetEventDescriptor().GetUseMe(), c.useMe);
    for (const RecordIdentification& id :
         {tea.GetRecordIdentification(), work.GetRecordIdentification(),
          placement.GetRecordIdentification()}) {
      EXPECT_EQ(id.GetVersion(), 9u);
      EXPECT_EQ(id.GetCreateVersion(), c.createVersion);
      EXPECT_EQ(id.GetFlags(), c.identFlags);
    }
    EXPECT_EQ(tea.GetCacheId(), 0x21u);
    EXPECT_EQ(work.GetFixedId(), 0x13u);
    EXPECT_EQ(placement.GetLocalId(), 0x32u);
    for (BR_SOURCE s : {tea.GetSource(), work.GetSource(), placement.GetSource()}) {
      EXPECT_EQ(s, c.source);
    }
    EXPECT_TRUE(tea.IsDirty());
    EXPECT_EQ(tea.GetDataHash(), 0xFFFFFFFFu);
    EXPECT_EQ(tea.GetParentEventFixedId(), 0x2Fu);
    EXPECT_EQ(tea.GetDateBookId(), c.dateBook);
    EXPECT_EQ(tea.GetLocalInfo(), c.eventLocal);

    CalendarDescriptor d = work.GetCalendarDescriptor();
    EXPECT_EQ(d.GetCalendarName(), "Work");
    EXPECT_TRUE(d.GetSelectedDesktopFlag());
    EXPECT_EQ(d.GetOrdinal(), 6u);
    EXPECT_EQ(d.GetInitials(), c.initials);
    EXPECT_EQ(work.GetLocalInfo(), c.calendarLocal);

    EXPECT_EQ(m.GetVersion(), 0x0Cu);
    EXPECT_EQ(m.GetDeltaVersion(), 4u);
    EXPECT_EQ(m.GetLevel(), c.level);
    EXPECT_EQ(m.IsServerManager(), c.serverManager);
    EXPECT_EQ(m.GetPulsecastURL(), c.url);
    EXPECT_EQ(m.GetPulsecastURLVersion(), c.urlVersion);
  }
}

}  // namespace
}  // namespace brontel
