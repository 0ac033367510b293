// Tests of CalendarDescriptor: the colour word and its default-calendar bit,
// the derived properties, comparison and copy with and without the local
// settings, the blend against a reference copy, the hash, the display string,
// and the quick form byte for byte across format versions.
#include "brontel/calendar/calendar_descriptor.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brontel/core/hasher.h"
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

// Every field of a descriptor, for building one in a single expression.
struct Fields {
  std::string name = "Work";
  uint32_t color = 0x123456;
  bool isDefault = false;
  std::string description = "Team dates";
  bool hide = false;
  bool owned = true;
  bool readOnly = false;
  bool shared = false;
  bool selected = false;
  uint32_t ordinal = 0;
  std::string initials = "WK";
};

CalendarDescriptor Make(const Fields& f) {
  CalendarDescriptor d;
  d.SetCalendarName(f.name);
  d.SetColor(f.color);
  d.SetDefaultCalendar(f.isDefault);
  d.SetDescription(f.description);
  d.SetHideDetailsFlag(f.hide);
  d.SetOwnedFlag(f.owned);
  d.SetReadOnlyFlag(f.readOnly);
  d.SetSharedFlag(f.shared);
  d.SetSelectedDesktopFlag(f.selected);
  d.SetOrdinal(f.ordinal);
  d.SetInitials(f.initials);
  return d;
}

// The fields of d, read back through the accessors.
Fields Read(const CalendarDescriptor& d) {
  Fields f;
  f.name = d.GetCalendarName();
  f.color = d.GetColor();
  f.isDefault = d.IsDefaultCalendar();
  f.description = d.GetDescription();
  f.hide = d.GetHideDetailsFlag();
  f.owned = d.GetOwnedFlag();
  f.readOnly = d.GetReadOnlyFlag();
  f.shared = d.GetSharedFlag();
  f.selected = d.GetSelectedDesktopFlag();
  f.ordinal = d.GetOrdinal();
  f.initials = d.GetInitials();
  return f;
}

// Compares every field, initials and local settings included (Equal does not).
void ExpectSameFields(const CalendarDescriptor& actual, const Fields& expected) {
  const Fields f = Read(actual);
  EXPECT_EQ(f.name, expected.name);
  EXPECT_EQ(f.color, expected.color);
  EXPECT_EQ(f.isDefault, expected.isDefault && expected.owned);
  EXPECT_EQ(f.description, expected.description);
  EXPECT_EQ(f.hide, expected.hide);
  EXPECT_EQ(f.owned, expected.owned);
  EXPECT_EQ(f.readOnly, expected.readOnly);
  EXPECT_EQ(f.shared, expected.shared);
  EXPECT_EQ(f.selected, expected.selected);
  EXPECT_EQ(f.ordinal, expected.ordinal);
  EXPECT_EQ(f.initials, expected.initials);
}

std::string Store(CalendarDescriptor& d, uint32_t version = Archive::kNoSchema) {
  StringSink sink;
  Archive ar(sink);
  d.SerializeQuick(ar, version);
  ar.Flush();
  return sink.contents();
}

// Loads d from bytes as format version `version`; returns the bytes consumed.
uint64_t Load(CalendarDescriptor& d, const std::string& bytes, uint32_t version) {
  ClassRegistry::Register(CalendarDescriptorHolder::kClassInfo);
  Archive ar(bytes);
  d.SerializeQuick(ar, version);
  return ar.Position();
}

// True when loading bytes fails with an ArchiveError.
bool LoadFails(CalendarDescriptor& d, const std::string& bytes, uint32_t version) {
  try {
    Load(d, bytes, version);
  } catch (const ArchiveError&) {
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// Fields and derived properties

TEST(CalendarDescriptorTest, NewDescriptorIsAnOwnedPlainCalendar) {
  CalendarDescriptor d;
  ExpectSameFields(d, {.name = "", .color = 0, .description = "", .initials = ""});
  EXPECT_FALSE(d.IsDefaultCalendar());
  EXPECT_FALSE(d.IsReadOnly());
  EXPECT_FALSE(d.IsHidden());
  EXPECT_EQ(d.GetReferenceCount(), 1u);
  EXPECT_EQ(d.GetDisplayString(), "\"\"  {O}/00000000/");
}

TEST(CalendarDescriptorTest, ColorNeverShowsTheDefaultCalendarBit) {
  CalendarDescriptor d;
  d.SetDefaultCalendar(true);
  d.SetColor(0x00ABCDEF);
  EXPECT_TRUE(d.IsDefaultCalendar());
  EXPECT_EQ(d.GetColor(), 0x00ABCDEFu);

  // A colour with high bits set neither changes nor shows bits 24..31.
  d.SetColor(0xFE123456);
  EXPECT_TRUE(d.IsDefaultCalendar());
  EXPECT_EQ(d.GetColor(), 0x00123456u);
  EXPECT_EQ(d.GetDisplayString(), "\"\"  {O}/01123456/");

  d.SetDefaultCalendar(false);
  EXPECT_FALSE(d.IsDefaultCalendar());
  EXPECT_EQ(d.GetColor(), 0x00123456u);
  d.SetColor(0x01000000);
  EXPECT_FALSE(d.IsDefaultCalendar());
  EXPECT_EQ(d.GetDisplayString(), "\"\"  {O}/00000000/");
}

TEST(CalendarDescriptorTest, DerivedPropertiesDependOnOwnership) {
  struct Case {
    bool owned, defaultBit, readOnly, hide;
    bool isDefault, isReadOnly, isHidden;
  };
  const Case kCases[] = {
      {true, true, false, false, true, false, false},
      {false, true, false, false, false, false, false},
      {true, false, true, true, false, false, false},
      {false, false, true, false, false, true, false},
      {false, false, false, true, false, false, true},
      {false, true, true, true, false, true, true},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "owned " << c.owned << " default " << c.defaultBit
                                    << " read-only " << c.readOnly << " hide " << c.hide);
    const CalendarDescriptor d =
        Make({.isDefault = c.defaultBit, .hide = c.hide, .owned = c.owned, .readOnly = c.readOnly});
    EXPECT_EQ(d.IsDefaultCalendar(), c.isDefault);
    EXPECT_EQ(d.IsReadOnly(), c.isReadOnly);
    EXPECT_EQ(d.IsHidden(), c.isHidden);
  }
}

TEST(CalendarDescriptorTest, DisplayStringListsNameDescriptionFlagsAndColorWord) {
  struct Case {
    Fields fields;
    const char* text;
  };
  const Case kCases[] = {
      {{.owned = false}, "\"Work\" Team dates {}/00123456/"},
      {{.isDefault = true, .hide = true, .readOnly = true, .shared = true},
       "\"Work\" Team dates {OSRH}/01123456/"},
      {{.name = "Club", .color = 0xFF, .description = "", .owned = false, .shared = true},
       "\"Club\"  {S}/000000ff/"},
      {{.hide = true, .owned = false, .selected = true, .ordinal = 4},
       "\"Work\" Team dates {H}/00123456/"},
  };
  for (const Case& c : kCases) EXPECT_EQ(Make(c.fields).GetDisplayString(), c.text);
}

// ---------------------------------------------------------------------------
// Equal, hash, Copy, Clone

TEST(CalendarDescriptorTest, EqualAndHashLeaveOutLocalSettingsAndInitials) {
  const Fields base{.shared = true, .selected = true, .ordinal = 2};
  struct Case {
    const char* what;
    Fields other;
    bool equalSkippingLocal;
    bool equal;
  };
  const Case kCases[] = {
      {"same values", base, true, true},
      {"ordinal", {.shared = true, .selected = true, .ordinal = 3}, true, false},
      {"selected desktop", {.shared = true, .selected = false, .ordinal = 2}, true, false},
      {"initials", {.shared = true, .selected = true, .ordinal = 2, .initials = "W"}, true, true},
      {"name", {.name = "work", .shared = true, .selected = true, .ordinal = 2}, false, false},
      {"colour", {.color = 0x123457, .shared = true, .selected = true, .ordinal = 2}, false, false},
      {"default bit",
       {.isDefault = true, .shared = true, .selected = true, .ordinal = 2},
       false,
       false},
      {"description",
       {.description = "Team", .shared = true, .selected = true, .ordinal = 2},
       false,
       false},
      {"hide details",
       {.hide = true, .shared = true, .selected = true, .ordinal = 2},
       false,
       false},
      {"owned", {.owned = false, .shared = true, .selected = true, .ordinal = 2}, false, false},
      {"read-only",
       {.readOnly = true, .shared = true, .selected = true, .ordinal = 2},
       false,
       false},
      {"shared", {.shared = false, .selected = true, .ordinal = 2}, false, false},
  };
  const CalendarDescriptor a = Make(base);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const CalendarDescriptor b = Make(c.other);
    EXPECT_EQ(a.Equal(b, true), c.equalSkippingLocal);
    EXPECT_EQ(b.Equal(a, true), c.equalSkippingLocal);
    EXPECT_EQ(a.Equal(b, false), c.equal);
    EXPECT_EQ(b.Equal(a, false), c.equal);
    // The hash covers exactly what Equal compares when skipping local settings.
    EXPECT_EQ(a.CalculateHash() == b.CalculateHash(), c.equalSkippingLocal);
  }
}

TEST(CalendarDescriptorTest, HashFeedsFieldsInOrder) {
  const CalendarDescriptor d = Make({.name = "Ab",
                                     .color = 0x0A0B0C,
                                     .isDefault = true,
                                     .description = "xyz",
                                     .hide = true,
                                     .owned = true,
                                     .readOnly = false,
                                     .shared = true});
  Hasher expected;
  expected.AddFlag(true);
  expected.AddString("Ab");
  expected.AddUINT32(0x010A0B0C);
  expected.AddString("xyz");
  expected.AddFlag(true);   // hide details
  expected.AddFlag(true);   // owned
  expected.AddFlag(false);  // read-only
  expected.AddFlag(true);   // shared
  EXPECT_EQ(d.CalculateHash(), expected.GetHash());
}

TEST(CalendarDescriptorTest, CopyWithoutLocalSettingsKeepsThemButTakesInitials) {
  const Fields sourceFields{.name = "Home",
                            .color = 0x00FF00,
                            .isDefault = true,
                            .description = "Family",
                            .hide = true,
                            .owned = true,
                            .readOnly = true,
                            .shared = true,
                            .selected = true,
                            .ordinal = 8,
                            .initials = "HM"};
  const CalendarDescriptor source = Make(sourceFields);
  struct Case {
    bool skipLocal;
    bool selected;
    uint32_t ordinal;
  };
  for (const Case& c : {Case{true, false, 5}, Case{false, true, 8}}) {
    SCOPED_TRACE(testing::Message() << "skipLocal " << c.skipLocal);
    CalendarDescriptor target = Make({.owned = false, .selected = false, .ordinal = 5});
    CalendarDescriptor sharer = target;
    target.Copy(source, c.skipLocal);
    EXPECT_TRUE(sharer.EqualEqual(target));
    EXPECT_FALSE(sharer.EqualEqual(source));
    Fields expected = sourceFields;
    expected.selected = c.selected;
    expected.ordinal = c.ordinal;
    ExpectSameFields(sharer, expected);
  }
}

TEST(CalendarDescriptorTest, CloneIsAnIndependentFullCopy) {
  const Fields fields{.isDefault = true, .shared = true, .selected = true, .ordinal = 6};
  const CalendarDescriptor source = Make(fields);
  CalendarDescriptor clone = source.Clone();
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_EQ(clone.GetReferenceCount(), 1u);
  EXPECT_EQ(source.GetReferenceCount(), 1u);
  ExpectSameFields(clone, fields);
  clone.SetCalendarName("Other");
  EXPECT_EQ(source.GetCalendarName(), "Work");
}

// ---------------------------------------------------------------------------
// Blend

TEST(CalendarDescriptorTest, BlendTakesWhatBothReferencesAgreeOn) {
  const Fields mine{.name = "Old",
                    .color = 0x000001,
                    .description = "old text",
                    .hide = false,
                    .owned = true,
                    .readOnly = false,
                    .shared = false,
                    .selected = false,
                    .ordinal = 1,
                    .initials = "O"};
  const Fields agreed{.name = "New",
                      .color = 0x000002,
                      .isDefault = true,
                      .description = "new text",
                      .hide = true,
                      .owned = false,
                      .readOnly = true,
                      .shared = true,
                      .selected = true,
                      .ordinal = 2,
                      .initials = "N"};
  struct Case {
    const char* what;
    Fields reference2;  // reference1 is always `agreed`
    Fields result;
  };
  Fields readOnlyDiffers = agreed;
  readOnlyDiffers.readOnly = false;
  Fields flagsFromMine = agreed;
  flagsFromMine.hide = mine.hide;
  flagsFromMine.owned = mine.owned;
  flagsFromMine.readOnly = mine.readOnly;
  flagsFromMine.shared = mine.shared;
  Fields onlyFlagsAgree = mine;
  onlyFlagsAgree.hide = agreed.hide;
  onlyFlagsAgree.owned = agreed.owned;
  onlyFlagsAgree.readOnly = agreed.readOnly;
  onlyFlagsAgree.shared = agreed.shared;
  Fields everythingElseDiffers{.name = "Y",
                               .color = 0x000003,
                               .description = "y",
                               .hide = agreed.hide,
                               .owned = agreed.owned,
                               .readOnly = agreed.readOnly,
                               .shared = agreed.shared,
                               .selected = false,
                               .ordinal = 3,
                               .initials = "Y"};
  Fields colorWordDiffers = agreed;
  colorWordDiffers.isDefault = false;
  Fields colorFromMine = agreed;
  colorFromMine.color = mine.color;
  colorFromMine.isDefault = mine.isDefault;

  const Case kCases[] = {
      {"references agree on everything", agreed, agreed},
      {"references differ only in read-only", readOnlyDiffers, flagsFromMine},
      {"references agree only on the flags", everythingElseDiffers, onlyFlagsAgree},
      {"references differ only in the default bit", colorWordDiffers, colorFromMine},
  };
  const CalendarDescriptor reference = Make(mine);
  const CalendarDescriptor reference1 = Make(agreed);
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    const CalendarDescriptor reference2 = Make(c.reference2);
    const CalendarDescriptor blend = reference.Blend(reference1, reference2);
    EXPECT_FALSE(blend.EqualEqual(reference));
    EXPECT_FALSE(blend.EqualEqual(reference1));
    EXPECT_FALSE(blend.EqualEqual(reference2));
    ExpectSameFields(blend, c.result);
  }
  ExpectSameFields(reference, mine);
}

TEST(CalendarDescriptorTest, BlendOfDifferingReferencesIsTheReferenceCopy) {
  const Fields mine{.name = "M", .selected = true, .ordinal = 9, .initials = "M"};
  const CalendarDescriptor reference = Make(mine);
  const CalendarDescriptor blend = reference.Blend(Make({.name = "A",
                                                         .color = 1,
                                                         .description = "a",
                                                         .hide = true,
                                                         .selected = false,
                                                         .ordinal = 1,
                                                         .initials = "A"}),
                                                   Make({.name = "B",
                                                         .color = 2,
                                                         .description = "b",
                                                         .owned = false,
                                                         .selected = true,
                                                         .ordinal = 2,
                                                         .initials = "B"}));
  ExpectSameFields(blend, mine);
}

// ---------------------------------------------------------------------------
// Stored form

// "Work", colour 0x123456 with the default bit, "Team dates", shared, selected,
// ordinal 3, initials "WK".
Fields ExampleFields() {
  return {.isDefault = true, .shared = true, .selected = true, .ordinal = 3};
}

TEST(CalendarDescriptorStoreTest, StoresTheCurrentFormWhateverTheVersion) {
  static const char kExpected[] =
      "\x04Work"           // name
      "\x56\x34\x12\x01"   // colour word, default bit set
      "\x0ATeam dates"     // description
      "-+-+"               // hide details, owned, read-only, shared
      "+\x03\x00\x00\x00"  // selected desktop, ordinal
      "\x02WK";            // initials
  const std::string expected(kExpected, sizeof kExpected - 1);
  CalendarDescriptor d = Make(ExampleFields());
  for (uint32_t version : {Archive::kNoSchema, 0u, 1u, 2u, 11u, 12u, 15u}) {
    EXPECT_EQ(Store(d, version), expected) << "version " << version;
  }
}

TEST(CalendarDescriptorStoreTest, OlderVersionsReadFewerFields) {
  const std::string stored = Bytes()
                                 .Byte(4)
                                 .Text("Club")
                                 .Dword(0x010000FF)
                                 .Byte(1)
                                 .Text("x")
                                 .Text("+-++")
                                 .Text("+")
                                 .Dword(7)
                                 .Byte(2)
                                 .Text("CL");
  // Each descriptor starts with selected-desktop clear, ordinal 5, initials "WK".
  struct Case {
    uint32_t version;
    uint64_t consumed;
    bool selected;
    uint32_t ordinal;
    std::string initials;
  };
  const Case kCases[] = {
      {0, 15, false, 5, "WK"}, {2, 15, false, 5, "WK"}, {3, 20, true, 7, "WK"},
      {11, 20, true, 7, "WK"}, {12, 23, true, 7, "CL"}, {15, 23, true, 7, "CL"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << "version " << c.version);
    CalendarDescriptor d = Make({.selected = false, .ordinal = 5});
    CalendarDescriptor sharer = d;
    EXPECT_EQ(Load(d, stored, c.version), c.consumed);
    EXPECT_TRUE(d.EqualEqual(sharer));
    ExpectSameFields(d, {.name = "Club",
                         .color = 0xFF,
                         .isDefault = true,
                         .description = "x",
                         .hide = true,
                         .owned = false,
                         .readOnly = true,
                         .shared = true,
                         .selected = c.selected,
                         .ordinal = c.ordinal,
                         .initials = c.initials});
    // Not owned, so the default bit does not make it the default calendar.
    EXPECT_FALSE(d.IsDefaultCalendar());
  }
}

TEST(CalendarDescriptorStoreTest, FlagBytesOtherThanMinusReadAsSet) {
  const std::string stored = Bytes().Byte(0).Dword(0).Byte(0).Text(std::string("x\0 -", 4));
  CalendarDescriptor d = Make({.owned = false, .shared = true});
  EXPECT_EQ(Load(d, stored, 2), 10u);
  EXPECT_TRUE(d.GetHideDetailsFlag());
  EXPECT_TRUE(d.GetOwnedFlag());
  EXPECT_TRUE(d.GetReadOnlyFlag());
  EXPECT_FALSE(d.GetSharedFlag());
}

TEST(CalendarDescriptorStoreTest, StoredFormReadsBack) {
  CalendarDescriptor source = Make({.name = std::string(300, 'n'),
                                    .isDefault = true,
                                    .description = std::string("a\0b", 3),
                                    .hide = true,
                                    .owned = false,
                                    .selected = true,
                                    .ordinal = 0xFFFFFFFF,
                                    .initials = ""});
  const std::string stored = Store(source);
  CalendarDescriptor d;
  EXPECT_EQ(Load(d, stored, 15), stored.size());
  EXPECT_TRUE(d.Equal(source, false));
  EXPECT_EQ(d.GetInitials(), "");
  EXPECT_EQ(d.GetDescription(), std::string("a\0b", 3));
}

TEST(CalendarDescriptorStoreTest, ShortInputFailsAndKeepsTheValues) {
  CalendarDescriptor source = Make(ExampleFields());
  const std::string stored = Store(source);
  const Fields before{.name = "Old", .owned = false, .ordinal = 1, .initials = "O"};
  for (size_t length = 0; length < stored.size(); ++length) {
    SCOPED_TRACE(testing::Message() << "length " << length);
    CalendarDescriptor d = Make(before);
    EXPECT_TRUE(LoadFails(d, stored.substr(0, length), 15));
    ExpectSameFields(d, before);
  }
}

// A whole "CalendarDescriptorHolder" object record with the given schema.
std::string DescriptorObject(uint16_t schema, const std::string& body) {
  return Bytes().NewClass("CalendarDescriptorHolder", schema).Text(body);
}

TEST(CalendarDescriptorStoreTest, ObjectFormReplacesTheHolder) {
  CalendarDescriptor source = Make(ExampleFields());
  const std::string stored = DescriptorObject(15, Store(source));
  ASSERT_EQ(stored.substr(0, 6), std::string("\xFF\xFF\x0F\x00\x18\x00", 6));
  for (uint32_t version : {1u, kObjectForm}) {
    SCOPED_TRACE(testing::Message() << "version " << version);
    CalendarDescriptor d = Make({.name = "Old"});
    CalendarDescriptor sharer = d;
    EXPECT_EQ(Load(d, stored, version), stored.size());
    EXPECT_FALSE(d.EqualEqual(sharer));
    EXPECT_EQ(d.GetReferenceCount(), 1u);
    ExpectSameFields(d, ExampleFields());
    EXPECT_EQ(sharer.GetCalendarName(), "Old");
  }
}

TEST(CalendarDescriptorStoreTest, ObjectBodyIsReadWithTheRecordsSchema) {
  const std::string body = Bytes().Byte(1).Text("A").Dword(9).Byte(0).Text("++++");
  const std::string stored = DescriptorObject(2, body);
  CalendarDescriptor d;
  EXPECT_EQ(Load(d, stored, kObjectForm), stored.size());
  ExpectSameFields(d, {.name = "A",
                       .color = 9,
                       .description = "",
                       .hide = true,
                       .owned = true,
                       .readOnly = true,
                       .shared = true,
                       .initials = ""});
}

TEST(CalendarDescriptorStoreTest, DamagedObjectFormFailsAndKeepsTheHolder) {
  CalendarDescriptor source = Make(ExampleFields());
  const std::string body = Store(source);
  const std::string cases[] = {
      Bytes().Word(0),                                        // null object
      DescriptorObject(15, body.substr(0, body.size() - 1)),  // short body
      DescriptorObject(15, "").substr(0, 10),                 // cut inside the class name
      Bytes().NewClass("CalendarDescriptorHolderX").Text(body),
  };
  for (const std::string& bytes : cases) {
    CalendarDescriptor d = Make({.name = "Old"});
    CalendarDescriptor sharer = d;
    EXPECT_TRUE(LoadFails(d, bytes, kObjectForm));
    EXPECT_TRUE(d.EqualEqual(sharer));
    EXPECT_EQ(d.GetCalendarName(), "Old");
  }
}

}  // namespace
}  // namespace brontel
