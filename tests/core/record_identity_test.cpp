// Tests of the version order, RecordIdentification and RecordStatus: their
// comparisons, id merging and generation, and their stored forms byte for byte,
// including the older format versions and the whole-object form.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>

#include "brontel/core/core_classes.h"
#include "brontel/core/record_identification.h"
#include "brontel/core/record_status.h"
#include "brontel/core/versioning.h"
#include "brontel/platform/archive.h"

namespace brontel {
namespace {

constexpr uint32_t kInvalid = 0xFFFFFFFF;
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

// The quick form that obj stores (with the given version argument).
template <class T>
std::string Store(T& obj, uint32_t version = Archive::kNoSchema) {
  StringSink sink;
  Archive ar(sink);
  obj.SerializeQuick(ar, version);
  ar.Flush();
  return sink.contents();
}

// Loads obj from bytes as format version `version`; returns the bytes consumed.
template <class T>
uint64_t Load(T& obj, const std::string& bytes, uint32_t version) {
  RegisterCoreClasses();
  Archive ar(bytes);
  obj.SerializeQuick(ar, version);
  return ar.Position();
}

// The status of a failed load.
template <class T>
ArchiveStatus LoadFailure(T& obj, const std::string& bytes, uint32_t version) {
  try {
    Load(obj, bytes, version);
  } catch (const ArchiveError& e) {
    return e.status();
  }
  return ArchiveStatus::kOk;
}

struct Ids {
  uint32_t cache;
  uint32_t local;
  uint32_t fixed;
};

RecordIdentification MakeId(Ids ids) {
  RecordIdentification id;
  id.SetCacheId(ids.cache);
  id.SetLocalId(ids.local);
  id.SetFixedId(ids.fixed);
  return id;
}

// An identity with six distinct field values, flags included (only through
// the stored form can flags other than bit 0 be set).
RecordIdentification FullId() {
  RecordIdentification id;
  Load(id, Bytes().Dword(0x11).Dword(0x2222).Dword(0x80000033).Dword(7).Dword(3).Dword(0x5), 15);
  return id;
}

// ---------------------------------------------------------------------------
// Versioning

TEST(VersionOrderTest, ComparesAfterAddingOne) {
  struct Case {
    uint32_t a, b;
    bool less, lessOrEqual, greater, greaterOrEqual;
    uint32_t newest;
  };
  const Case kCases[] = {
      {kInvalid, 0, true, true, false, false, 0},
      {0, kInvalid, false, false, true, true, 0},
      {3, 7, true, true, false, false, 7},
      {7, 3, false, false, true, true, 7},
      {0x7FFFFFFF, 0, false, false, true, true, 0x7FFFFFFF},
      {kInvalid, 0x7FFFFFFF, true, true, false, false, 0x7FFFFFFF},
      {0xFFFFFFFE, kInvalid, false, false, true, true, 0xFFFFFFFE},
      {5, 5, false, true, false, true, 5},
      {kInvalid, kInvalid, false, true, false, true, kInvalid},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << std::hex << c.a << " vs " << c.b);
    EXPECT_EQ(Versioning::LessThan(c.a, c.b), c.less);
    EXPECT_EQ(Versioning::LessThanOrEqualTo(c.a, c.b), c.lessOrEqual);
    EXPECT_EQ(Versioning::GreaterThan(c.a, c.b), c.greater);
    EXPECT_EQ(Versioning::GreaterThanOrEqualTo(c.a, c.b), c.greaterOrEqual);
    EXPECT_EQ(Versioning::NewestVersion(c.a, c.b), c.newest);
    EXPECT_EQ(Versioning::EqualTo(c.a, c.b), c.a == c.b);
  }
}

TEST(VersionOrderTest, InvalidVersionIsAllOnes) {
  EXPECT_EQ(Versioning::InValidVersion(), kInvalid);
  EXPECT_FALSE(Versioning::IsValidVersion(kInvalid));
  EXPECT_TRUE(Versioning::IsValidVersion(0));
  EXPECT_TRUE(Versioning::IsValidVersion(0xFFFFFFFE));
}

TEST(VersionOrderTest, IsNewerLooksAtVersionAndCreateVersion) {
  struct Case {
    uint32_t since, version, createVersion;
    bool newer;
  };
  const Case kCases[] = {
      {kInvalid, kInvalid, kInvalid, false},  // never-versioned record is never newer
      {kInvalid, 0, kInvalid, true},
      {kInvalid, kInvalid, 0, true},
      {0, kInvalid, kInvalid, false},
      {5, 5, 5, false},
      {5, 6, kInvalid, true},
      {5, kInvalid, 6, true},
      {5, 4, 3, false},
      {5, 4, 9, true},
  };
  for (const Case& c : kCases) {
    RecordIdentification id;
    id.SetVersion(c.version);
    id.SetCreateVersion(c.createVersion);
    EXPECT_EQ(Versioning::IsNewer(c.since, id), c.newer)
        << std::hex << "since " << c.since << " version " << c.version << " create "
        << c.createVersion;
  }
}

// ---------------------------------------------------------------------------
// RecordIdentification

TEST(RecordIdentificationTest, NewIdentityHasNoIdsAndInvalidVersions) {
  RecordIdentification id;
  EXPECT_EQ(id.GetCacheId(), 0u);
  EXPECT_EQ(id.GetLocalId(), 0u);
  EXPECT_EQ(id.GetFixedId(), 0u);
  EXPECT_EQ(id.GetVersion(), kInvalid);
  EXPECT_EQ(id.GetCreateVersion(), kInvalid);
  EXPECT_FALSE(id.GetFixedIdDirtyFlag());
  EXPECT_EQ(id.GetReferenceCount(), 1u);
  EXPECT_EQ(id.GetDisplayString(), "<C=0000-L=0000-F=0000/V=ffffffff:ffffffff f=0>");
}

TEST(RecordIdentificationTest, DisplayStringShowsFieldsInOrder) {
  EXPECT_EQ(FullId().GetDisplayString(), "<C=0011-L=2222-F=80000033/V=0007:0003 f=5>");
}

TEST(RecordIdentificationTest, ServeIdIsTheLocalId) {
  RecordIdentification id;
  id.SetServeId(0x1234);
  EXPECT_EQ(id.GetLocalId(), 0x1234u);
  id.SetLocalId(0x99);
  EXPECT_EQ(id.GetServeId(), 0x99u);
}

TEST(RecordIdentificationTest, DirtyFlagChangesOnlyBitZero) {
  RecordIdentification id;
  Load(id, Bytes().Dword(0).Dword(0).Dword(0).Dword(0).Dword(0).Dword(0x6), 15);
  id.SetFixedIdDirtyFlag(true);
  EXPECT_TRUE(id.GetFixedIdDirtyFlag());
  EXPECT_EQ(id.GetFlags(), 0x7u);
  id.SetFixedIdDirtyFlag(false);
  EXPECT_FALSE(id.GetFixedIdDirtyFlag());
  EXPECT_EQ(id.GetFlags(), 0x6u);
}

TEST(RecordIdentificationTest, EqualComparesIdsAndVersionsButNotFlags) {
  RecordIdentification base = FullId();
  RecordIdentification flagsOnly = base.Clone();
  flagsOnly.SetFixedIdDirtyFlag(false);
  ASSERT_NE(flagsOnly.GetFlags(), base.GetFlags());
  EXPECT_TRUE(base.Equal(flagsOnly));

  struct Case {
    const char* field;
    void (RecordIdentification::*set)(uint32_t);
  };
  const Case kCases[] = {
      {"cache id", &RecordIdentification::SetCacheId},
      {"local id", &RecordIdentification::SetLocalId},
      {"fixed id", &RecordIdentification::SetFixedId},
      {"version", &RecordIdentification::SetVersion},
      {"create version", &RecordIdentification::SetCreateVersion},
  };
  for (const Case& c : kCases) {
    RecordIdentification other = base.Clone();
    (other.*c.set)(0x4321);
    EXPECT_FALSE(base.Equal(other)) << c.field;
    EXPECT_FALSE(other.Equal(base)) << c.field;
  }
}

TEST(RecordIdentificationTest, CopyFillsOwnHolderAndCloneMakesANewOne) {
  RecordIdentification source = FullId();
  RecordIdentification target;
  RecordIdentification sharer = target;
  target.Copy(source);
  EXPECT_TRUE(sharer.EqualEqual(target));
  EXPECT_FALSE(target.EqualEqual(source));
  EXPECT_EQ(sharer.GetDisplayString(), source.GetDisplayString());  // flags copied too

  RecordIdentification clone = source.Clone();
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_EQ(clone.GetReferenceCount(), 1u);
  EXPECT_EQ(source.GetReferenceCount(), 1u);
  EXPECT_EQ(clone.GetDisplayString(), source.GetDisplayString());
  clone.SetCacheId(0x77);
  EXPECT_EQ(source.GetCacheId(), 0x11u);
}

TEST(RecordIdentificationTest, CopiedHandlesShareOneRecord) {
  RecordIdentification a;
  RecordIdentification b = a;
  EXPECT_TRUE(a.EqualEqual(b));
  EXPECT_EQ(a.GetReferenceCount(), 2u);
  b.SetFixedId(9);
  EXPECT_EQ(a.GetFixedId(), 9u);
  RecordIdentification c;
  EXPECT_FALSE(a.EqualEqual(c));
  EXPECT_TRUE(a.Equal(b.Clone()));
}

TEST(RecordIdentificationTest, IsMatchingTriesCacheThenLocalThenFixedId) {
  struct Case {
    const char* what;
    Ids self, other;
    bool byCache, byLocal, byFixed;
    bool matches;
  };
  const Case kCases[] = {
      {"all zero, all selectors", {0, 0, 0}, {0, 0, 0}, true, true, true, false},
      {"equal cache ids", {5, 0, 0}, {5, 0, 0}, true, false, false, true},
      {"equal cache ids, not selected", {5, 0, 0}, {5, 0, 0}, false, true, true, false},
      {"equal local ids", {0, 6, 0}, {0, 6, 0}, false, true, false, true},
      {"equal local ids, not selected", {0, 6, 0}, {0, 6, 0}, true, false, true, false},
      {"equal fixed ids", {0, 0, 7}, {0, 0, 7}, false, false, true, true},
      {"equal fixed ids, not selected", {0, 0, 7}, {0, 0, 7}, true, true, false, false},
      {"cache match wins over fixed mismatch", {5, 0, 7}, {5, 0, 8}, true, false, true, true},
      {"local match wins over fixed mismatch", {0, 6, 7}, {0, 6, 8}, false, true, true, true},
      {"fixed mismatch decides alone", {5, 6, 7}, {4, 3, 8}, true, true, true, false},
      {"zero fixed id here never matches", {0, 0, 0}, {0, 0, 7}, false, false, true, false},
      {"only this side's zero ids are skipped", {5, 6, 7}, {0, 0, 7}, true, true, true, true},
      {"different cache ids fall through to local", {5, 6, 0}, {4, 6, 0}, true, true, true, true},
  };
  for (const Case& c : kCases) {
    RecordIdentification self = MakeId(c.self);
    RecordIdentification other = MakeId(c.other);
    EXPECT_EQ(self.IsMatching(other, c.byCache, c.byLocal, c.byFixed), c.matches) << c.what;
  }
}

TEST(RecordIdentificationTest, MergeIdentityWritesBothOperands) {
  struct Case {
    const char* what;
    Ids self, other;
    bool cache, local, fixed;
    Ids merged;  // both sides afterwards, for the selected kinds
  };
  const Case kCases[] = {
      {"larger cache id, this larger", {9, 0, 0}, {3, 0, 0}, true, false, false, {9, 0, 0}},
      {"larger cache id, other larger", {3, 0, 0}, {9, 0, 0}, true, false, false, {9, 0, 0}},
      {"cache ids compare unsigned",
       {0x80000000, 0, 0},
       {1, 0, 0},
       true,
       false,
       false,
       {0x80000000, 0, 0}},
      {"other's local id wins", {0, 4, 0}, {0, 6, 0}, false, true, false, {0, 6, 0}},
      {"this local id fills other's zero", {0, 4, 0}, {0, 0, 0}, false, true, false, {0, 4, 0}},
      {"other's fixed id wins", {0, 0, 4}, {0, 0, 6}, false, false, true, {0, 0, 6}},
      {"this fixed id fills other's zero", {0, 0, 4}, {0, 0, 0}, false, false, true, {0, 0, 4}},
      {"all kinds", {2, 4, 0}, {1, 0, 6}, true, true, true, {2, 4, 6}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordIdentification self = MakeId(c.self);
    const RecordIdentification other = MakeId(c.other);
    self.MergeIdentity(other, c.cache, c.local, c.fixed);
    for (const RecordIdentification* side : {&std::as_const(self), &other}) {
      EXPECT_EQ(side->GetCacheId(), c.merged.cache);
      EXPECT_EQ(side->GetLocalId(), c.merged.local);
      EXPECT_EQ(side->GetFixedId(), c.merged.fixed);
    }
  }
}

TEST(RecordIdentificationTest, MergeIdentityLeavesUnselectedKindsVersionsAndFlags) {
  RecordIdentification self = FullId();
  RecordIdentification other = MakeId({0x99, 0x98, 0x97});
  other.SetVersion(40);
  other.SetCreateVersion(41);
  self.MergeIdentity(other, false, false, false);
  EXPECT_EQ(self.GetDisplayString(), FullId().GetDisplayString());
  EXPECT_EQ(other.GetDisplayString(), "<C=0099-L=0098-F=0097/V=0028:0029 f=0>");

  self.MergeIdentity(other, true, true, true);
  EXPECT_EQ(self.GetDisplayString(), "<C=0099-L=0098-F=0097/V=0007:0003 f=5>");
  EXPECT_EQ(other.GetDisplayString(), "<C=0099-L=0098-F=0097/V=0028:0029 f=0>");
}

TEST(RecordIdentificationTest, GenerateFixedIdMakesProvisionalIdWhereThereIsNone) {
  struct Case {
    const char* what;
    Ids ids;
    bool useCacheId;
    uint32_t fixed;  // returned and stored
  };
  const Case kCases[] = {
      {"existing fixed id kept", {5, 6, 0x55}, true, 0x55},
      {"from local id", {0, 0x2A, 0}, false, 0x8000002A},
      {"local id before cache id", {5, 0x2A, 0}, true, 0x8000002A},
      {"cache id not used", {5, 0, 0}, false, 0},
      {"from cache id", {5, 0, 0}, true, 0x80000005},
      {"no ids at all", {0, 0, 0}, true, 0},
  };
  for (const Case& c : kCases) {
    RecordIdentification id = MakeId(c.ids);
    EXPECT_EQ(id.GenerateFixedId(c.useCacheId), c.fixed) << c.what;
    EXPECT_EQ(id.GetFixedId(), c.fixed) << c.what;
    EXPECT_EQ(id.GetCacheId(), c.ids.cache) << c.what;
    EXPECT_FALSE(id.GetFixedIdDirtyFlag()) << c.what;
  }
}

// Stands in for the calendar cache: hands out cache ids and counts requests.
class FakeCache {
 public:
  explicit FakeCache(uint32_t next) : m_next(next) {}
  uint32_t GenerateCacheId() {
    ++m_calls;
    return m_next++;
  }
  int calls() const { return m_calls; }

 private:
  uint32_t m_next;
  int m_calls = 0;
};

TEST(RecordIdentificationTest, ForceFixedIdDrawsACacheIdOnlyWhenThereIsNoId) {
  struct Case {
    const char* what;
    Ids ids;
    Ids after;
    int draws;
  };
  const Case kCases[] = {
      {"no ids", {0, 0, 0}, {0x300, 0, 0x80000300}, 1},
      {"cache id only", {0x12, 0, 0}, {0x12, 0, 0x80000012}, 0},
      {"local id", {0, 0x2A, 0}, {0, 0x2A, 0x8000002A}, 0},
      {"local id before cache id", {0x12, 0x2A, 0}, {0x12, 0x2A, 0x8000002A}, 0},
      {"fixed id kept", {0, 0, 0x44}, {0, 0, 0x44}, 0},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FakeCache cache(0x300);
    RecordIdentification id = MakeId(c.ids);
    EXPECT_EQ(id.ForceFixedId(cache), c.after.fixed);
    EXPECT_EQ(id.GetFixedId(), c.after.fixed);
    EXPECT_EQ(id.GetCacheId(), c.after.cache);
    EXPECT_EQ(id.GetLocalId(), c.after.local);
    EXPECT_EQ(cache.calls(), c.draws);
    EXPECT_FALSE(id.GetFixedIdDirtyFlag());
  }
}

// ---------------------------------------------------------------------------
// RecordIdentification stored forms

TEST(RecordIdentificationStoreTest, QuickFormIsSixDwordsWhateverTheVersion) {
  const std::string expected =
      Bytes().Dword(0x11).Dword(0x2222).Dword(0x80000033).Dword(7).Dword(3).Dword(5);
  RecordIdentification id = FullId();
  for (uint32_t version : {Archive::kNoSchema, 0u, 1u, 4u, 8u, 14u, 15u}) {
    EXPECT_EQ(Store(id, version), expected) << "version " << version;
  }
}

TEST(RecordIdentificationStoreTest, OlderVersionsReadFewerFields) {
  const std::string stored = Bytes().Dword(0x11).Dword(0x22).Dword(0x33).Dword(7).Dword(3).Dword(5);
  struct Case {
    uint32_t version;
    uint64_t consumed;
    uint32_t createVersion, flags;
  };
  const Case kCases[] = {
      {0, 16, 7, 0}, {2, 16, 7, 0},  {4, 16, 7, 0},  {5, 20, 3, 0},
      {9, 20, 3, 0}, {14, 20, 3, 0}, {15, 24, 3, 5}, {16, 24, 3, 5},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(::testing::Message() << "version " << c.version);
    RecordIdentification id;
    EXPECT_EQ(Load(id, stored, c.version), c.consumed);
    EXPECT_EQ(id.GetCacheId(), 0x11u);
    EXPECT_EQ(id.GetLocalId(), 0x22u);
    EXPECT_EQ(id.GetFixedId(), 0x33u);
    EXPECT_EQ(id.GetVersion(), 7u);
    EXPECT_EQ(id.GetCreateVersion(), c.createVersion);
    EXPECT_EQ(id.GetFlags(), c.flags);
  }
}

TEST(RecordIdentificationStoreTest, QuickFormIsReadIntoTheSharedHolder) {
  RecordIdentification id;
  RecordIdentification sharer = id;
  RecordIdentification source = FullId();
  Load(id, Store(source), 15);
  EXPECT_TRUE(id.EqualEqual(sharer));
  EXPECT_EQ(sharer.GetDisplayString(), source.GetDisplayString());
}

TEST(RecordIdentificationStoreTest, ShortQuickFormFails) {
  RecordIdentification full = FullId();
  const std::string stored = Store(full);
  for (size_t length = 0; length < 24; ++length) {
    RecordIdentification id;
    EXPECT_EQ(LoadFailure(id, stored.substr(0, length), 15), ArchiveStatus::kEndOfData) << length;
  }
}

// The object form: a class record naming "RecordIdentificationHolder" with the
// given schema, then the quick form read with that schema.
std::string IdentityObject(uint16_t schema, const std::string& body) {
  return Bytes().NewClass("RecordIdentificationHolder", schema).Text(body);
}

TEST(RecordIdentificationStoreTest, ObjectFormReplacesTheHolder) {
  const std::string body =
      Bytes().Dword(0x11).Dword(0x2222).Dword(0x80000033).Dword(7).Dword(3).Dword(5);
  const std::string stored = IdentityObject(15, body);
  ASSERT_EQ(stored.substr(0, 6), std::string("\xFF\xFF\x0F\x00\x1A\x00", 6));
  for (uint32_t version : {1u, kObjectForm}) {
    SCOPED_TRACE(::testing::Message() << "version " << version);
    RecordIdentification id = MakeId({1, 2, 3});
    RecordIdentification sharer = id;
    EXPECT_EQ(Load(id, stored, version), stored.size());
    EXPECT_FALSE(id.EqualEqual(sharer));
    EXPECT_EQ(id.GetReferenceCount(), 1u);
    EXPECT_EQ(id.GetDisplayString(), "<C=0011-L=2222-F=80000033/V=0007:0003 f=5>");
    EXPECT_EQ(sharer.GetDisplayString(), "<C=0001-L=0002-F=0003/V=ffffffff:ffffffff f=0>");
  }
}

TEST(RecordIdentificationStoreTest, ObjectBodyIsReadWithTheRecordsSchema) {
  const std::string body = Bytes().Dword(0x11).Dword(0x22).Dword(0x33).Dword(7);
  RecordIdentification id;
  const std::string stored = IdentityObject(4, body);
  EXPECT_EQ(Load(id, stored, 1), stored.size());
  EXPECT_EQ(id.GetDisplayString(), "<C=0011-L=0022-F=0033/V=0007:0007 f=0>");
}

TEST(RecordIdentificationStoreTest, OtherVersionsNeverReadTheObjectForm) {
  const std::string stored = IdentityObject(15, std::string(24, '\0'));
  RecordIdentification id;
  Load(id, stored, 15);
  EXPECT_EQ(id.GetCacheId(), 0x000FFFFFu);  // the class tag and schema, read as a dword
}

TEST(RecordIdentificationStoreTest, DamagedObjectFormFailsAndKeepsTheHolder) {
  struct Case {
    const char* what;
    std::string bytes;
    ArchiveStatus status;
  };
  const Case kCases[] = {
      {"null object", Bytes().Word(0), ArchiveStatus::kBadValue},
      {"another class", Bytes().NewClass("RecordStatusHolder").Text(std::string(8, '-')),
       ArchiveStatus::kWrongClass},
      {"unknown class", Bytes().NewClass("RecordIdentificationHolderX").Text(std::string(24, 0)),
       ArchiveStatus::kUnknownClass},
      {"short body", IdentityObject(15, std::string(23, '\0')), ArchiveStatus::kEndOfData},
      {"reference to nothing", Bytes().Word(0x0005), ArchiveStatus::kBadReference},
  };
  for (const Case& c : kCases) {
    RecordIdentification id = MakeId({1, 2, 3});
    RecordIdentification sharer = id;
    EXPECT_EQ(LoadFailure(id, c.bytes, 1), c.status) << c.what;
    EXPECT_TRUE(id.EqualEqual(sharer)) << c.what;
    EXPECT_EQ(id.GetFixedId(), 3u) << c.what;
  }
}

// ---------------------------------------------------------------------------
// RecordStatus

RecordStatus MakeStatus(uint32_t hash, bool deleted, bool globalDelete, bool dirty,
                        BR_SOURCE source) {
  RecordStatus status;
  status.SetDataHash(hash);
  status.SetDeleteFlag(deleted);
  status.SetDeleteGlobalFlag(globalDelete);
  status.SetDirtyFlag(dirty);
  status.SetSource(source);
  return status;
}

TEST(RecordStatusTest, NewStatusIsClean) {
  RecordStatus status;
  EXPECT_EQ(status.GetDataHash(), 0u);
  EXPECT_FALSE(status.GetDeleteFlag());
  EXPECT_FALSE(status.GetDeleteGlobalFlag());
  EXPECT_FALSE(status.GetDirtyFlag());
  EXPECT_EQ(status.GetSource(), SOURCE_NONE);
  EXPECT_EQ(status.GetReferenceCount(), 1u);
  EXPECT_EQ(status.GetDisplayString(), "#0000 ???? ");
}

TEST(RecordStatusTest, DisplayStringNamesSourceAndFlags) {
  struct Case {
    RecordStatus status;
    const char* text;
  };
  const Case kCases[] = {
      {MakeStatus(0x1234, true, false, false, SOURCE_DESKTOP), "#1234 desk (delete)"},
      {MakeStatus(0xABCDEF01, false, true, false, SOURCE_HANDHELD),
       "#abcdef01 hand (global delete)"},
      {MakeStatus(0, false, false, true, SOURCE_SERVER), "#0000 serv (dirty)"},
      {MakeStatus(7, true, true, true, SOURCE_NONE), "#0007 ???? (delete)(global delete)(dirty)"},
      {MakeStatus(7, false, false, false, static_cast<BR_SOURCE>(4)), "#0007 "},
  };
  for (const Case& c : kCases) EXPECT_EQ(c.status.GetDisplayString(), c.text);
}

TEST(RecordStatusTest, EqualComparesOnlyTheDeleteFlags) {
  const RecordStatus base = MakeStatus(0x10, true, false, false, SOURCE_DESKTOP);
  struct Case {
    const char* what;
    RecordStatus other;
    bool equal;
  };
  const Case kCases[] = {
      {"dirty flag differs", MakeStatus(0x10, true, false, true, SOURCE_DESKTOP), true},
      {"hash differs", MakeStatus(0x99, true, false, false, SOURCE_DESKTOP), true},
      {"source differs", MakeStatus(0x10, true, false, false, SOURCE_SERVER), true},
      {"all three differ", MakeStatus(0x99, true, false, true, SOURCE_HANDHELD), true},
      {"delete flag differs", MakeStatus(0x10, false, false, false, SOURCE_DESKTOP), false},
      {"global delete differs", MakeStatus(0x10, true, true, false, SOURCE_DESKTOP), false},
  };
  for (const Case& c : kCases) {
    EXPECT_EQ(base.Equal(c.other), c.equal) << c.what;
    EXPECT_EQ(c.other.Equal(base), c.equal) << c.what;
  }
}

TEST(RecordStatusTest, CopyAndCloneTakeAllFields) {
  const RecordStatus source = MakeStatus(0x55, true, true, true, SOURCE_SERVER);
  RecordStatus target;
  RecordStatus sharer = target;
  target.Copy(source);
  EXPECT_TRUE(sharer.EqualEqual(target));
  EXPECT_EQ(sharer.GetDisplayString(), "#0055 serv (delete)(global delete)(dirty)");

  RecordStatus clone = source.Clone();
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_EQ(clone.GetDisplayString(), source.GetDisplayString());
  clone.SetDirtyFlag(false);
  EXPECT_TRUE(source.GetDirtyFlag());
}

// ---------------------------------------------------------------------------
// RecordStatus stored forms

TEST(RecordStatusStoreTest, QuickFormIsComplementedHashFlagsAndSource) {
  RecordStatus status = MakeStatus(0x12345678, true, false, true, SOURCE_HANDHELD);
  const std::string expected = Bytes().Dword(0xEDCBA987).Text("+-+").Byte(2);
  for (uint32_t version : {Archive::kNoSchema, 0u, 1u, 8u, 9u, 15u}) {
    EXPECT_EQ(Store(status, version), expected) << "version " << version;
  }
  RecordStatus clean;
  EXPECT_EQ(Store(clean), std::string(Bytes().Dword(0xFFFFFFFF).Text("---").Byte(0)));
}

TEST(RecordStatusStoreTest, ReadsFlagsSourceAndHashByVersion) {
  struct Case {
    const char* what;
    std::string bytes;
    uint32_t version;
    uint64_t consumed;
    uint32_t hash;
    bool deleted, globalDelete, dirty;
    uint32_t source;  // the status starts with SOURCE_DESKTOP
  };
  const Case kCases[] = {
      {"version 9 reads the source", Bytes().Dword(0xEDCBA987).Text("+-+").Byte(3), 9, 8,
       0x12345678, true, false, true, SOURCE_SERVER},
      {"version 15 reads the source", Bytes().Dword(0).Text("---").Byte(2), 15, 8, 0xFFFFFFFF,
       false, false, false, SOURCE_HANDHELD},
      {"version 8 keeps the source", Bytes().Dword(0xFFFFFFFF).Text("-+-").Byte(3), 8, 7, 0, false,
       true, false, SOURCE_DESKTOP},
      {"version 0 keeps the source", Bytes().Dword(0xFFFFFFFE).Text("---"), 0, 7, 1, false, false,
       false, SOURCE_DESKTOP},
      {"flag bytes other than '-' are set",
       Bytes().Dword(0xFFFFFFFF).Byte('x').Byte(0).Byte(' ').Byte(0), 9, 8, 0, true, true, true,
       SOURCE_NONE},
      {"source byte is sign-extended", Bytes().Dword(0xFFFFFFFF).Text("---").Byte(0xFF), 9, 8, 0,
       false, false, false, 0xFFFFFFFF},
      {"source byte 0x80 is sign-extended", Bytes().Dword(0xFFFFFFFF).Text("---").Byte(0x80), 9, 8,
       0, false, false, false, 0xFFFFFF80},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    RecordStatus status = MakeStatus(0xAAAA, true, true, true, SOURCE_DESKTOP);
    RecordStatus sharer = status;
    EXPECT_EQ(Load(status, c.bytes, c.version), c.consumed);
    EXPECT_TRUE(status.EqualEqual(sharer));
    EXPECT_EQ(status.GetDataHash(), c.hash);
    EXPECT_EQ(status.GetDeleteFlag(), c.deleted);
    EXPECT_EQ(status.GetDeleteGlobalFlag(), c.globalDelete);
    EXPECT_EQ(status.GetDirtyFlag(), c.dirty);
    EXPECT_EQ(static_cast<uint32_t>(status.GetSource()), c.source);
  }
}

TEST(RecordStatusStoreTest, ShortQuickFormFails) {
  const std::string stored = Bytes().Dword(0).Text("---").Byte(1);
  for (size_t length = 0; length < stored.size(); ++length) {
    RecordStatus status;
    EXPECT_EQ(LoadFailure(status, stored.substr(0, length), 9), ArchiveStatus::kEndOfData)
        << length;
  }
}

TEST(RecordStatusStoreTest, ObjectFormReplacesTheHolder) {
  const std::string stored =
      Bytes().NewClass("RecordStatusHolder").Dword(0xFFFFFF00).Text("+--").Byte(3);
  for (uint32_t version : {1u, kObjectForm}) {
    SCOPED_TRACE(::testing::Message() << "version " << version);
    RecordStatus status = MakeStatus(1, false, false, true, SOURCE_DESKTOP);
    RecordStatus sharer = status;
    EXPECT_EQ(Load(status, stored, version), stored.size());
    EXPECT_FALSE(status.EqualEqual(sharer));
    EXPECT_EQ(status.GetDisplayString(), "#00ff serv (delete)");
    EXPECT_EQ(sharer.GetDisplayString(), "#0001 desk (dirty)");
  }
}

TEST(RecordStatusStoreTest, ObjectBodyWithOldSchemaHasNoSourceByte) {
  const std::string stored =
      Bytes().NewClass("RecordStatusHolder", 8).Dword(0xFFFFFF00).Text("-+-");
  RecordStatus status = MakeStatus(1, false, false, false, SOURCE_DESKTOP);
  EXPECT_EQ(Load(status, stored, 1), stored.size());
  EXPECT_EQ(status.GetDisplayString(), "#00ff ???? (global delete)");
}

}  // namespace
}  // namespace brontel
