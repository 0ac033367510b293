// Tests of WebContent: emptiness, display, comparison, copies and the stored
// form, including how reading treats handles that shared the old holder.
#include "brontel/host/web_content.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "brontel/platform/archive.h"

namespace brontel {
namespace {

struct Fields {
  std::string button, desktop, handheld, sponsor, text;
  uint8_t useMe;
};

WebContent Make(const Fields& f) {
  WebContent content;
  content.SetButtonLabel(f.button);
  content.SetDesktopURL(f.desktop);
  content.SetPalm7URL(f.handheld);
  content.SetSponsor(f.sponsor);
  content.SetText(f.text);
  content.SetUseMe(f.useMe);
  return content;
}

// All six fields, as one comparable text.
std::string Describe(const WebContent& c) {
  return c.GetButtonLabel() + "|" + c.GetDesktopURL() + "|" + c.GetPalm7URL() + "|" +
         c.GetSponsor() + "|" + c.GetText() + "|" + std::to_string(c.UseMe());
}

std::string Store(WebContent& content, uint32_t version = Archive::kNoSchema) {
  StringSink sink;
  Archive ar(sink);
  content.SerializeQuick(ar, version);
  ar.Flush();
  return sink.contents();
}

// Loads content as format version `version`; returns the bytes consumed.
uint64_t Load(WebContent& content, const std::string& bytes, uint32_t version) {
  Archive ar(bytes);
  content.SerializeQuick(ar, version);
  return ar.Position();
}

// An archive string of up to 254 bytes: length byte, then the bytes.
std::string Str(const std::string& s) {
  return std::string(1, static_cast<char>(s.size())) + s;
}

const Fields kFull = {"Buy",         "http://d.example/x", "http://h.example/y",
                      "Sponsor Inc", "Some text",          1};

TEST(WebContentTest, NewContentIsEmpty) {
  WebContent content;
  EXPECT_EQ(Describe(content), "|||||0");
  EXPECT_TRUE(content.IsEmpty());
  EXPECT_EQ(content.GetDisplayString(), "");
  EXPECT_EQ(content.GetReferenceCount(), 1u);
}

TEST(WebContentTest, ContentWithoutAddressesIsEmpty) {
  struct Case {
    const char* what;
    Fields fields;
    bool empty;
  };
  const Case kCases[] = {
      {"sponsor and text only", {"", "", "", "Sponsor", "Text", 1}, true},
      {"button label only", {"Go", "", "", "", "", 0}, true},
      {"desktop address only", {"", "d", "", "", "", 0}, false},
      {"handheld address only", {"", "", "h", "", "", 0}, false},
      {"everything", kFull, false},
  };
  for (const Case& c : kCases) {
    WebContent content = Make(c.fields);
    EXPECT_EQ(content.IsEmpty(), c.empty) << c.what;
    EXPECT_EQ(content.GetDisplayString().empty(), c.empty) << c.what;
  }
}

TEST(WebContentTest, DisplayStringListsUseMeThenAddressesTextSponsorButton) {
  EXPECT_EQ(Make({"b", "d", "h", "s", "t", 1}).GetDisplayString(), "web content:  + d h t s b");
  EXPECT_EQ(Make({"b", "d", "h", "s", "t", 0}).GetDisplayString(), "web content:  - d h t s b");
  EXPECT_EQ(Make({"", "", "h", "", "", 0}).GetDisplayString(), "web content:  -  h   ");
}

TEST(WebContentTest, EqualComparesTheTextsButNotUseMe) {
  const WebContent base = Make(kFull);
  Fields useMeOnly = kFull;
  useMeOnly.useMe = 0;
  EXPECT_TRUE(base.Equal(Make(useMeOnly)));

  struct Case {
    const char* field;
    std::string Fields::*member;
  };
  const Case kCases[] = {
      {"button label", &Fields::button},
      {"desktop address", &Fields::desktop},
      {"handheld address", &Fields::handheld},
      {"sponsor", &Fields::sponsor},
      {"text", &Fields::text},
  };
  for (const Case& c : kCases) {
    Fields changed = kFull;
    changed.*c.member += "!";
    EXPECT_FALSE(base.Equal(Make(changed))) << c.field;
    EXPECT_FALSE(Make(changed).Equal(base)) << c.field;
  }
}

TEST(WebContentTest, CopyFillsOwnHolderAndCloneMakesANewOne) {
  const WebContent source = Make(kFull);
  WebContent target;
  WebContent sharer = target;
  target.Copy(source);
  EXPECT_TRUE(sharer.EqualEqual(target));
  EXPECT_EQ(Describe(sharer), Describe(source));  // use-me copied too

  WebContent clone = source.Clone();
  EXPECT_FALSE(clone.EqualEqual(source));
  EXPECT_EQ(Describe(clone), Describe(source));
  clone.SetText("other");
  EXPECT_EQ(source.GetText(), "Some text");
}

TEST(WebContentTest, StoredFormIsFiveStringsThenUseMeByte) {
  WebContent content = Make({"B", "dd", "hhh", "ssss", "ttttt", 1});
  const std::string expected =
      Str("B") + Str("dd") + Str("hhh") + Str("ssss") + Str("ttttt") + std::string(1, '\x01');
  for (uint32_t version : {Archive::kNoSchema, 0u, 6u, 7u, 15u}) {
    EXPECT_EQ(Store(content, version), expected) << "version " << version;
  }
  WebContent empty;
  EXPECT_EQ(Store(empty), std::string(6, '\0'));
}

TEST(WebContentTest, StoredFormReadsBack) {
  WebContent source = Make(kFull);
  source.SetText(std::string(300, 'x'));  // a length with the 0xFF, WORD prefix
  const std::string stored = Store(source);
  for (uint32_t version : {7u, 15u, 16u}) {
    WebContent read;
    EXPECT_EQ(Load(read, stored, version), stored.size()) << "version " << version;
    EXPECT_EQ(Describe(read), Describe(source)) << "version " << version;
  }
}

TEST(WebContentTest, OlderVersionsReadNothingAndGiveEmptyContent) {
  WebContent source = Make(kFull);
  const std::string stored = Store(source);
  for (uint32_t version : {0u, 1u, 6u, Archive::kNoSchema}) {
    WebContent read = Make(kFull);
    EXPECT_EQ(Load(read, stored, version), 0u) << "version " << version;
    EXPECT_EQ(Describe(read), "|||||0") << "version " << version;
  }
}

TEST(WebContentTest, ReadingLeavesOtherHandlesWithTheOldValues) {
  WebContent incoming = Make({"new", "n", "n", "n", "n", 0});
  const std::string stored = Store(incoming);
  for (uint32_t version : {6u, 15u}) {
    SCOPED_TRACE(testing::Message() << "version " << version);
    WebContent content = Make(kFull);
    WebContent sharer = content;
    Load(content, stored, version);
    EXPECT_FALSE(content.EqualEqual(sharer));
    EXPECT_EQ(content.GetReferenceCount(), 1u);
    EXPECT_EQ(sharer.GetReferenceCount(), 1u);
    EXPECT_EQ(Describe(sharer), Describe(Make(kFull)));
    EXPECT_EQ(content.GetButtonLabel(), version == 6 ? "" : "new");
  }
}

TEST(WebContentTest, ShortStoredFormFails) {
  WebContent source = Make(kFull);
  const std::string stored = Store(source);
  for (size_t length = 0; length < stored.size(); ++length) {
    WebContent read;
    EXPECT_THROW(Load(read, stored.substr(0, length), 15), ArchiveError) << length;
  }
}

}  // namespace
}  // namespace brontel
