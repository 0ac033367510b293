// Tests of RecordTableIdentification: equality without the delta version, copy
// and clone, the display string, and the stored form byte for byte, including
// the versions without a delta version and the whole-object form.
#include "brontel/core/record_table_identification.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brontel/core/uid128.h"
#include "brontel/platform/archive.h"

namespace brontel {
namespace {

constexpr uint32_t kObjectForm = 0xFFFFFFFF;

// Builds archive bytes: little-endian words and dwords, raw text.
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
  Bytes& Text(const std::string& s) {
    m_bytes += s;
    return *this;
  }
  // The record of the first object of a new class: WORD 0xFFFF, schema, name.
  Bytes& NewClass(const std::string& name, uint16_t schema = 15) {
    return Word(0xFFFF).Word(schema).Word(static_cast<uint16_t>(name.size())).Text(name);
  }
  operator std::string() const { return m_bytes; }

 private:
  std::string m_bytes;
};

// An id whose byte i is first + i.
UID128 CountingId(uint8_t first) {
  UID128 id;
  for (int i = 0; i < UID128::kByteCount; ++i) id.SetByte(i, static_cast<uint8_t>(first + i));
  return id;
}

// The sixteen id bytes of CountingId(first) as they are stored.
std::string CountingIdBytes(uint8_t first) {
  Bytes bytes;
  for (int i = 0; i < UID128::kByteCount; ++i) bytes.Byte(static_cast<uint8_t>(first + i));
  return bytes;
}

RecordTableIdentification MakeTable(const UID128& id, uint32_t version, uint32_t delta) {
  RecordTableIdentification table;
  table.SetTableId(id);
  table.SetTableVersion(version);
  table.SetTableDeltaVersion(delta);
  return table;
}

std::string Store(RecordTableIdentification& table, uint32_t version = Archive::kNoSchema) {
  StringSink sink;
  Archive ar(sink);
  table.SerializeQuick(ar, version);
  ar.Flush();
  return sink.contents();
}

// Loads table from bytes as format version `version`; returns the bytes consumed.
uint64_t Load(RecordTableIdentification& table, const std::string& bytes, uint32_t version) {
  ClassRegistry::Register(RecordTableIdentificationHolder::kClassInfo);
  Archive ar(bytes);
  table.SerializeQuick(ar, version);
  return ar.Position();
}

// The status of a failed load (kOk when it did not fail).
ArchiveStatus LoadFailure(RecordTableIdentification& table, const std::string& bytes,
                          uint32_t version) {
  try {
    Load(table, bytes, version);
  } catch (const ArchiveError& e) {
    return e.status();
  }
  return ArchiveStatus::kOk;
}

TEST(RecordTableIdentificationTest, NewIdentificationHasZeroIdAndInvalidVersion) {
  RecordTableIdentification table;
  EXPECT_TRUE(table.GetTableId().IsZero());
  EXPECT_EQ(table.GetTableVersion(), 0xFFFFFFFFu);
  EXPECT_EQ(table.GetTableDeltaVersion(), 0u);
  EXPECT_EQ(table.GetReferenceCount(), 1u);
  EXPECT_EQ(table.GetDisplayString(), "[G=0000:0000:0000:0000/TV=ffffffff|0000]");
}

TEST(RecordTableIdentificationTest, DisplayStringPrintsIdWordsHighestFirst) {
  RecordTableIdentification table = MakeTable(CountingId(0xA0), 0x2A, 0x1234);
  EXPECT_EQ(table.GetDisplayString(), "[G=afaeadac:abaaa9a8:a7a6a5a4:a3a2a1a0/TV=002a|1234]");
}

TEST(RecordTableIdentificationTest, EqualComparesIdAndVersionButNotDelta) {
  const RecordTableIdentification base = MakeTable(CountingId(1), 7, 3);
  UID128 lastByteChanged = CountingId(1);
  lastByteChanged.SetByte(15, 0);
  struct Case {
    const char* what;
    RecordTableIdentification other;
    bool equal;
  };
  const Case kCases[] = {
      {"same values", MakeTable(CountingId(1), 7, 3), true},
      {"delta version differs", MakeTable(CountingId(1), 7, 9), true},
      {"table version differs", MakeTable(CountingId(1), 8, 3), false},
      {"last id byte differs", MakeTable(lastByteChanged, 7, 3), false},
      {"invalid version", MakeTable(CountingId(1), 0xFFFFFFFF, 3), false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(base.Equal(c.other), c.equal) << c.what;
    EXPECT_EQ(c.other.Equal(base), c.equal) << c.what;
  }
}

TEST(RecordTableIdentificationTest, CopyKeepsTheOwnDeltaVersion) {
  const RecordTableIdentification source = MakeTable(CountingId(0x10), 0x40, 7);
  RecordTableIdentification target = MakeTable(CountingId(0x80), 2, 9);
  RecordTableIdentification sharer = target;
  target.Copy(source);
  EXPECT_TRUE(sharer.EqualEqual(target));
  EXPECT_FALSE(target.EqualEqual(source));
  EXPECT_EQ(sharer.GetTableId(), CountingId(0x10));
  EXPECT_EQ(sharer.GetTableVersion(), 0x40u);
  EXPECT_EQ(sharer.GetTableDeltaVersion(), 9u);
}

TEST(RecordTableIdentificationTest, CloneIsANewHolderWithDeltaZero) {
  const RecordTableIdentification source = MakeTable(CountingId(0x10), 0x40, 7);
  RecordTableIdentification clone = source.Clone();
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_EQ(clone.GetReferenceCount(), 1u);
  EXPECT_EQ(source.GetReferenceCount(), 1u);
  EXPECT_TRUE(clone.Equal(source));
  EXPECT_EQ(clone.GetTableDeltaVersion(), 0u);
  clone.SetTableVersion(0x41);
  EXPECT_EQ(source.GetTableVersion(), 0x40u);
}

TEST(RecordTableIdentificationTest, CopiedHandlesShareOneRecord) {
  RecordTableIdentification a;
  RecordTableIdentification b = a;
  EXPECT_EQ(a.GetReferenceCount(), 2u);
  b.SetTableDeltaVersion(5);
  EXPECT_EQ(a.GetTableDeltaVersion(), 5u);
  RecordTableIdentification c;
  c = a;
  EXPECT_TRUE(c.EqualEqual(b));
  EXPECT_EQ(a.GetReferenceCount(), 3u);
}

// ---------------------------------------------------------------------------
// Stored form

TEST(RecordTableIdentificationStoreTest, StoresVersionIdBytesAndDelta) {
  RecordTableIdentification table = MakeTable(CountingId(0x30), 0x0102A0B0, 0x11223344);
  const std::string expected =
      std::string("\xB0\xA0\x02\x01", 4) + CountingIdBytes(0x30) + "\x44\x33\x22\x11";
  for (uint32_t version : {Archive::kNoSchema, 0u, 1u, 2u, 3u, 15u}) {
    EXPECT_EQ(Store(table, version), expected) << "version " << version;
  }
}

TEST(RecordTableIdentificationStoreTest, DeltaVersionIsReadFromVersionThreeOn) {
  const std::string stored = Bytes().Dword(0x55).Text(CountingIdBytes(0x60)).Dword(0x77);
  struct Case {
    uint32_t version;
    uint64_t consumed;
    uint32_t delta;  // the identification starts with delta 9
  };
  const Case kCases[] = {{0, 20, 9}, {2, 20, 9}, {3, 24, 0x77}, {15, 24, 0x77}, {16, 24, 0x77}};
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version);
    RecordTableIdentification table = MakeTable(CountingId(0), 1, 9);
    RecordTableIdentification sharer = table;
    EXPECT_EQ(Load(table, stored, c.version), c.consumed);
    EXPECT_TRUE(table.EqualEqual(sharer));
    EXPECT_EQ(table.GetTableVersion(), 0x55u);
    EXPECT_EQ(table.GetTableId(), CountingId(0x60));
    EXPECT_EQ(table.GetTableDeltaVersion(), c.delta);
  }
}

TEST(RecordTableIdentificationStoreTest, ShortInputFailsAndKeepsTheValues) {
  RecordTableIdentification source = MakeTable(CountingId(0x30), 0x42, 0x43);
  const std::string stored = Store(source);
  for (size_t length = 0; length < stored.size(); ++length) {
    RecordTableIdentification table = MakeTable(CountingId(1), 2, 3);
    EXPECT_EQ(LoadFailure(table, stored.substr(0, length), 15), ArchiveStatus::kEndOfData)
        << length;
    EXPECT_EQ(table.GetDisplayString(), MakeTable(CountingId(1), 2, 3).GetDisplayString())
        << length;
  }
}

// A whole "RecordTableIdentificationHolder" object record with the given schema.
std::string TableObject(uint16_t schema, const std::string& body) {
  return Bytes().NewClass("RecordTableIdentificationHolder", schema).Text(body);
}

TEST(RecordTableIdentificationStoreTest, ObjectFormReplacesTheHolder) {
  const std::string stored =
      TableObject(15, Bytes().Dword(0x55).Text(CountingIdBytes(0x60)).Dword(0x77));
  ASSERT_EQ(stored.substr(0, 6), std::string("\xFF\xFF\x0F\x00\x1F\x00", 6));
  for (uint32_t version : {1u, kObjectForm}) {
    SCOPED_TRACE(testing::Message() << "version " << version);
    RecordTableIdentification table = MakeTable(CountingId(0), 1, 9);
    RecordTableIdentification sharer = table;
    EXPECT_EQ(Load(table, stored, version), stored.size());
    EXPECT_FALSE(table.EqualEqual(sharer));
    EXPECT_EQ(table.GetReferenceCount(), 1u);
    EXPECT_EQ(table.GetDisplayString(), "[G=6f6e6d6c:6b6a6968:67666564:63626160/TV=0055|0077]");
    EXPECT_EQ(sharer.GetDisplayString(), MakeTable(CountingId(0), 1, 9).GetDisplayString());
  }
}

TEST(RecordTableIdentificationStoreTest, ObjectBodyIsReadWithTheRecordsSchema) {
  const std::string stored = TableObject(2, Bytes().Dword(0x55).Text(CountingIdBytes(0x60)));
  RecordTableIdentification table;
  EXPECT_EQ(Load(table, stored, kObjectForm), stored.size());
  EXPECT_EQ(table.GetTableVersion(), 0x55u);
  EXPECT_EQ(table.GetTableDeltaVersion(), 0u);
}

TEST(RecordTableIdentificationStoreTest, DamagedObjectFormFailsAndKeepsTheHolder) {
  const std::string body = Bytes().Dword(0x55).Text(CountingIdBytes(0x60)).Dword(0x77);
  struct Case {
    const char* what;
    std::string bytes;
    ArchiveStatus status;
  };
  const Case kCases[] = {
      {"null object", Bytes().Word(0), ArchiveStatus::kBadValue},
      {"short body", TableObject(15, body.substr(0, 23)), ArchiveStatus::kEndOfData},
      {"unknown class", Bytes().NewClass("RecordTableIdentificationHolderX").Text(body),
       ArchiveStatus::kUnknownClass},
      {"cut inside the class name", TableObject(15, "").substr(0, 12), ArchiveStatus::kBadLength},
  };
  for (const Case& c : kCases) {
    RecordTableIdentification table = MakeTable(CountingId(0), 1, 9);
    RecordTableIdentification sharer = table;
    EXPECT_EQ(LoadFailure(table, c.bytes, kObjectForm), c.status) << c.what;
    EXPECT_TRUE(table.EqualEqual(sharer)) << c.what;
    EXPECT_EQ(table.GetTableDeltaVersion(), 9u) << c.what;
  }
}

}  // namespace
}  // namespace brontel
