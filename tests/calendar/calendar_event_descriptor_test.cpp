// Tests of CalendarEventDescriptor: comparison of all alarm fields, copy and
// clone, the hash, the display string and the 3-byte stored form.
#include "brontel/calendar/calendar_event_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brontel/core/hasher.h"
#include "brontel/platform/archive.h"

namespace brontel {
namespace {

constexpr uint32_t kObjectForm = 0xFFFFFFFF;

struct Alarm {
  bool on;
  uint8_t time;
  uint8_t unit;
};

CalendarEventDescriptor Make(Alarm alarm) {
  CalendarEventDescriptor d;
  d.SetAlarmFlag(alarm.on);
  d.SetAlarmAdvanceTime(alarm.time);
  d.SetAlarmAdvanceUnit(alarm.unit);
  return d;
}

void ExpectAlarm(const CalendarEventDescriptor& d, Alarm alarm) {
  EXPECT_EQ(d.GetAlarmFlag(), alarm.on);
  EXPECT_EQ(d.GetAlarmAdvanceTime(), alarm.time);
  EXPECT_EQ(d.GetAlarmAdvanceUnit(), alarm.unit);
}

std::string Store(CalendarEventDescriptor& d, uint32_t version = Archive::kNoSchema) {
  StringSink sink;
  Archive ar(sink);
  d.SerializeQuick(ar, version);
  ar.Flush();
  return sink.contents();
}

// Loads d from bytes as format version `version`; returns the bytes consumed.
uint64_t Load(CalendarEventDescriptor& d, const std::string& bytes, uint32_t version) {
  ClassRegistry::Register(CalendarEventDescriptorHolder::kClassInfo);
  Archive ar(bytes);
  d.SerializeQuick(ar, version);
  return ar.Position();
}

// The status of a failed load (kOk when it did not fail).
ArchiveStatus LoadFailure(CalendarEventDescriptor& d, const std::string& bytes, uint32_t version) {
  try {
    Load(d, bytes, version);
  } catch (const ArchiveError& e) {
    return e.status();
  }
  return ArchiveStatus::kOk;
}

// A whole "CalendarEventDescriptorHolder" object record (schema 15) around body.
std::string AlarmObject(const std::string& body) {
  return std::string("\xFF\xFF\x0F\x00\x1D\x00", 6) + "CalendarEventDescriptorHolder" + body;
}

TEST(CalendarEventDescriptorTest, NewDescriptorHasNoAlarm) {
  CalendarEventDescriptor d;
  ExpectAlarm(d, {false, 0, 0});
  EXPECT_EQ(d.GetReferenceCount(), 1u);
  EXPECT_EQ(d.GetDisplayString(), "");
}

TEST(CalendarEventDescriptorTest, DisplayStringShowsOnlyAnAlarmThatIsOn) {
  EXPECT_EQ(Make({true, 15, CalendarEventDescriptor::kMinutes}).GetDisplayString(), "alarm 15 0");
  EXPECT_EQ(Make({true, 255, CalendarEventDescriptor::kDays}).GetDisplayString(), "alarm 255 2");
  EXPECT_EQ(Make({false, 15, CalendarEventDescriptor::kHours}).GetDisplayString(), "");
}

TEST(CalendarEventDescriptorTest, EqualComparesAlarmDetailsEvenWhenTheAlarmIsOff) {
  struct Case {
    Alarm a, b;
    bool equal;
  };
  const Case kCases[] = {
      {{false, 0, 0}, {false, 0, 0}, true},   {{true, 10, 1}, {true, 10, 1}, true},
      {{false, 5, 0}, {false, 6, 0}, false},  {{false, 5, 0}, {false, 5, 1}, false},
      {{true, 10, 1}, {false, 10, 1}, false}, {{true, 10, 1}, {true, 10, 2}, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message()
                 << "alarm " << c.a.on << " " << int{c.a.time} << " " << int{c.a.unit} << " vs "
                 << c.b.on << " " << int{c.b.time} << " " << int{c.b.unit});
    const CalendarEventDescriptor a = Make(c.a);
    const CalendarEventDescriptor b = Make(c.b);
    EXPECT_EQ(a.Equal(b), c.equal);
    EXPECT_EQ(b.Equal(a), c.equal);
    EXPECT_EQ(a.CalculateHash() == b.CalculateHash(), c.equal);
  }
}

TEST(CalendarEventDescriptorTest, HashFeedsFieldsInOrder) {
  Hasher expected;
  expected.AddFlag(true);
  expected.AddByte(30);  // advance time
  expected.AddByte(1);   // advance unit
  expected.AddFlag(true);
  EXPECT_EQ(Make({true, 30, 1}).CalculateHash(), expected.GetHash());
}

TEST(CalendarEventDescriptorTest, CopyFillsOwnHolderAndCloneMakesANewOne) {
  const CalendarEventDescriptor source = Make({true, 45, 2});
  CalendarEventDescriptor target;
  CalendarEventDescriptor sharer = target;
  target.Copy(source);
  EXPECT_TRUE(sharer.EqualEqual(target));
  EXPECT_FALSE(target.EqualEqual(source));
  ExpectAlarm(sharer, {true, 45, 2});

  CalendarEventDescriptor clone = source.Clone();
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_EQ(clone.GetReferenceCount(), 1u);
  ExpectAlarm(clone, {true, 45, 2});
  clone.SetAlarmFlag(false);
  EXPECT_TRUE(source.GetAlarmFlag());
}

// ---------------------------------------------------------------------------
// Stored form

TEST(CalendarEventDescriptorStoreTest, StoresFlagTimeAndUnit) {
  struct Case {
    Alarm alarm;
    std::string bytes;
  };
  const Case kCases[] = {
      {{true, 10, 2}, std::string("+\x0A\x02", 3)},
      {{false, 0, 0}, std::string("-\x00\x00", 3)},
      {{false, 0xFF, 1}, std::string("-\xFF\x01", 3)},
  };
  for (const Case& c : kCases) {
    CalendarEventDescriptor d = Make(c.alarm);
    for (uint32_t version : {Archive::kNoSchema, 0u, 1u, 15u}) {
      EXPECT_EQ(Store(d, version), c.bytes) << "version " << version;
    }
  }
}

TEST(CalendarEventDescriptorStoreTest, ReadsThreeBytesWhateverTheVersion) {
  struct Case {
    std::string bytes;
    Alarm alarm;
  };
  const Case kCases[] = {
      {std::string("+\x0A\x02", 3), {true, 10, 2}},
      {std::string("-\x05\x01", 3), {false, 5, 1}},
      {std::string("\x00\x05\x01", 3), {true, 5, 1}},  // anything but '-' is set
      {std::string("x\x00\x00", 3), {true, 0, 0}},
  };
  for (const Case& c : kCases) {
    for (uint32_t version : {0u, 2u, 15u}) {
      SCOPED_TRACE(testing::Message() << "version " << version);
      CalendarEventDescriptor d = Make({true, 99, 9});
      CalendarEventDescriptor sharer = d;
      EXPECT_EQ(Load(d, c.bytes + "rest", version), 3u);
      EXPECT_TRUE(d.EqualEqual(sharer));
      ExpectAlarm(d, c.alarm);
    }
  }
}

TEST(CalendarEventDescriptorStoreTest, ShortInputFailsAndKeepsTheAlarm) {
  for (size_t length = 0; length < 3; ++length) {
    CalendarEventDescriptor d = Make({true, 99, 9});
    EXPECT_EQ(LoadFailure(d, std::string("-\x01\x02", length), 15), ArchiveStatus::kEndOfData)
        << length;
    ExpectAlarm(d, {true, 99, 9});
  }
}

TEST(CalendarEventDescriptorStoreTest, ObjectFormReplacesTheHolder) {
  const std::string stored = AlarmObject(std::string("+\x14\x01", 3));
  for (uint32_t version : {1u, kObjectForm}) {
    SCOPED_TRACE(testing::Message() << "version " << version);
    CalendarEventDescriptor d = Make({false, 3, 0});
    CalendarEventDescriptor sharer = d;
    EXPECT_EQ(Load(d, stored, version), stored.size());
    EXPECT_FALSE(d.EqualEqual(sharer));
    EXPECT_EQ(d.GetReferenceCount(), 1u);
    ExpectAlarm(d, {true, 20, 1});
    ExpectAlarm(sharer, {false, 3, 0});
  }
}

TEST(CalendarEventDescriptorStoreTest, DamagedObjectFormFailsAndKeepsTheHolder) {
  struct Case {
    const char* what;
    std::string bytes;
    ArchiveStatus status;
  };
  const Case kCases[] = {
      {"null object", std::string(2, '\0'), ArchiveStatus::kBadValue},
      {"short body", AlarmObject("+\x14"), ArchiveStatus::kEndOfData},
      {"no body", AlarmObject(""), ArchiveStatus::kEndOfData},
      {"cut inside the class name", AlarmObject("").substr(0, 8), ArchiveStatus::kBadLength},
      {"cut inside the tag", std::string(1, '\xFF'), ArchiveStatus::kEndOfData},
  };
  for (const Case& c : kCases) {
    CalendarEventDescriptor d = Make({false, 3, 0});
    CalendarEventDescriptor sharer = d;
    EXPECT_EQ(LoadFailure(d, c.bytes, kObjectForm), c.status) << c.what;
    EXPECT_TRUE(d.EqualEqual(sharer)) << c.what;
    ExpectAlarm(d, {false, 3, 0});
  }
}

}  // namespace
}  // namespace brontel
