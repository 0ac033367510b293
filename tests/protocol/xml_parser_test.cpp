// Tests of the response parser: the tree it builds, the decoding of element
// text, lazy attributes, the hexadecimal conversions, and a table of
// malformed documents with their exact messages and positions.
#include "brontel/protocol/xml_parser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "brontel/protocol/xml_element.h"

namespace brontel {
namespace {

// The children of node as "name" for elements and "'text'" for text nodes.
std::vector<std::string> Children(const XmlNode& node) {
  std::vector<std::string> out;
  auto it = node.GetChildNodes();
  while (it->HasMoreElements()) {
    auto child = it->NextElement();
    out.push_back(child->GetName().empty() ? "'" + child->GetValue() + "'" : child->GetName());
  }
  return out;
}

// The attributes of node as "name=value".
std::vector<std::string> Attributes(const XmlNode& node) {
  std::vector<std::string> out;
  auto it = node.GetAttributes();
  while (it->HasMoreElements()) {
    auto a = it->NextElement();
    out.push_back(a->GetName() + "=" + a->GetStringValue());
  }
  return out;
}

// The decoded text of the first element of document.
std::string ValueOf(const std::string& document) {
  XmlParser parser;
  EXPECT_EQ(parser.Parse(document), ERR_NONE) << parser.GetErrorMessage();
  auto root = parser.GetDocument();
  auto it = root->GetChildNodes();
  return it->HasMoreElements() ? it->NextElement()->GetValue() : std::string();
}

TEST(XmlParserTest, BuildsTheTreeSkippingTheDeclaration) {
  XmlParser parser;
  ASSERT_EQ(parser.Parse("<?xml version=\"1.0\"?><r a=\"1\"><x>t</x></r>"), ERR_NONE);
  auto root = parser.GetDocument();
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->GetName(), "r");
  EXPECT_TRUE(root->IsClosed());
  auto attributes = root->GetAttributes();
  ASSERT_TRUE(attributes->HasMoreElements());
  EXPECT_EQ(attributes->NextElement()->GetIntValue(), 1u);
  EXPECT_FALSE(attributes->HasMoreElements());
  auto children = root->GetChildNodes();
  ASSERT_TRUE(children->HasMoreElements());
  auto x = children->NextElement();
  EXPECT_EQ(x->GetName(), "x");
  EXPECT_EQ(Children(*x), std::vector<std::string>{"'t'"});
  EXPECT_FALSE(children->HasMoreElements());
}

TEST(XmlParserTest, ReadsBackWhatTheWriterWrites) {
  XmlElement root("tandroresp", nullptr);
  root.AddAttribute("ts", uint32_t{0x2b});
  root.AddAttributeFlag("full", true);
  {
    XmlElement contact("contact", &root);
    contact.AddAttribute("sid", uint32_t{0xFFFFFFFF});
    XmlElement datum("datum", &contact);
    datum.AddAttribute("index", uint32_t{18});
    datum.AddValue(std::string("O'Brien & Sons <ltd>\r\n\tC:\\x"));
  }
  XmlParser parser;
  ASSERT_EQ(parser.Parse(root.Query()), ERR_NONE);
  auto doc = parser.GetDocument();
  EXPECT_EQ(Attributes(*doc), (std::vector<std::string>{"ts=2b", "full=1"}));
  auto contact = doc->GetChildNodes()->NextElement();
  EXPECT_EQ(contact->GetAttributes()->NextElement()->GetIntValue(), 0xFFFFFFFFu);
  auto datum = contact->GetChildNodes()->NextElement();
  EXPECT_EQ(datum->GetAttributes()->NextElement()->GetByteValue(), 18);
  EXPECT_EQ(Children(*datum), std::vector<std::string>{"'O'Brien & Sons <ltd>\r\n\tC:\\x'"});
}

TEST(XmlParserTest, DecodesEntitiesAndBackslashesInElementText) {
  struct Case {
    const char* document;
    const char* value;
  };
  for (const Case& c : {
           Case{"<v>&AMP;&lt;</v>", "&<"}, Case{"<v>&Gt;x</v>", ">x"}, Case{"<v>a\\tb</v>", "a\tb"},
           Case{"<v>\\n\\r\\\\\\q</v>", "\n\r\\q"}, Case{"<v>'\"/</v>", "'\"/"},
           Case{"<v>end\\", "end"},  // a backslash at the very end is dropped
           Case{"<v>a\\</v>", "a"}, Case{"<v>\\</v>", ""},
           Case{"<v>\\&x;</v>", "&x;"},  // an escaped '&' starts no entity
       }) {
    EXPECT_EQ(ValueOf(c.document), c.value) << c.document;
  }
}

TEST(XmlParserTest, OnlyTextRightAfterTheStartTagIsAValue) {
  XmlParser parser;
  ASSERT_EQ(parser.Parse("<r>head<a/>between<b></b>tail</r>"), ERR_NONE);
  EXPECT_EQ(Children(*parser.GetDocument()), (std::vector<std::string>{"'head'", "a", "b"}));
}

TEST(XmlParserTest, MalformedDocumentsGiveTheFirstErrorWithItsPosition) {
  struct Case {
    const char* document;
    const char* message;
  };
  for (const Case& c : {
           Case{"<r>&quot;</r>", "bad escaped '&' at position = 3"},
           Case{"<r>a\\&b&c</r>", "bad escaped '&' at position = 7"},
           Case{"<x></y>", "bad name matching <x> != <y>at position = 7"},
           Case{"</x>", "unmatched node terminator</x> at position = 4"},
           Case{"<r></r></x>", "unmatched node terminator</x> at position = 11"},
           Case{"<r p=\"a/b\"></r>", "missing terminator '>' at position = 8"},
           Case{"<>", "empty name at position = 1"},
           Case{"<", "empty name at position = 1"},
           Case{"<r", "unexpected end of information at position = 2"},
           Case{"<r/", "unexpected end of information at position = 3"},
           Case{"<r><x a=\"1\"", "unexpected end of information at position = 11"},
       }) {
    XmlParser parser;
    EXPECT_EQ(parser.Parse(c.document), ERR_XML_PARSE) << c.document;
    EXPECT_EQ(parser.GetErrorMessage(), c.message) << c.document;
  }
}

TEST(XmlParserTest, UnclosedElementsAtTheEndAreNotAnErrorButAreMarked) {
  XmlParser parser;
  ASSERT_EQ(parser.Parse("<r><x>"), ERR_NONE);
  auto root = parser.GetDocument();
  EXPECT_FALSE(root->IsClosed());
  EXPECT_EQ(Children(*root), std::vector<std::string>{"x"});
  XmlParser empty;
  EXPECT_EQ(empty.Parse(""), ERR_NONE);
  EXPECT_EQ(empty.GetDocument(), nullptr);
}

TEST(XmlParserTest, AfterAnErrorTheTreeBuiltSoFarStaysReadable) {
  XmlParser parser;
  ASSERT_EQ(parser.Parse("<r s=\"1\"><a x=\"1\"/><!-- c --><b>t</b><c y=\"2\">&bad;</c><d/></r>"),
            ERR_XML_PARSE);
  auto root = parser.GetDocument();
  ASSERT_NE(root, nullptr);
  EXPECT_FALSE(root->IsClosed());
  EXPECT_EQ(Children(*root), (std::vector<std::string>{"a", "!--", "b", "c"}));
  // The failed element and those around it give no attributes.
  EXPECT_EQ(Attributes(*root), std::vector<std::string>{});
  auto children = root->GetChildNodes();
  auto a = children->NextElement();
  EXPECT_TRUE(a->IsClosed());
  EXPECT_EQ(Attributes(*a), std::vector<std::string>{"x=1"});
  children->NextElement();
  EXPECT_EQ(Children(*children->NextElement()), std::vector<std::string>{"'t'"});
  auto c = children->NextElement();
  EXPECT_EQ(Attributes(*c), std::vector<std::string>{});
  EXPECT_EQ(Children(*c), std::vector<std::string>{});
}

TEST(XmlParserTest, ManyDistinctNamesReadBackExactly) {
  // Names that are prefixes of one another, and enough of them to outgrow
  // the first block of nodes and the first table of names.
  std::string text = "<r>";
  std::vector<std::string> names;
  for (int i = 0; i < 300; ++i) {
    names.push_back(std::string(1 + i % 3, 'n') + std::to_string(i / 3));
    text += "<" + names.back() + "/>";
  }
  text += "</r>";
  XmlParser parser;
  ASSERT_EQ(parser.Parse(text), ERR_NONE);
  EXPECT_EQ(Children(*parser.GetDocument()), names);
}

TEST(XmlParserTest, NodesAndTextsLiveAsLongAsTheParser) {
  const std::string document = "<r a=\"1\"><x>a&amp;b</x><x>plain</x></r>";
  for (bool handOver : {false, true}) {
    std::string text = document;
    XmlParser parser;
    ASSERT_EQ(handOver ? parser.Parse(std::move(text)) : parser.Parse(text), ERR_NONE);
    text.assign(document.size(), '#');  // the parser keeps its own text
    auto children = parser.GetDocument()->GetChildNodes();
    // The views are gone by the end of each line; the strings stay.
    const std::string& decoded =
        children->NextElement()->GetChildNodes()->NextElement()->GetValue();
    const std::string& plain = children->NextElement()->GetChildNodes()->NextElement()->GetValue();
    const std::string& name = parser.GetDocument()->GetName();
    EXPECT_EQ(decoded, "a&b");
    EXPECT_EQ(plain, "plain");
    EXPECT_EQ(name, "r");
    EXPECT_EQ(Attributes(*parser.GetDocument()), std::vector<std::string>{"a=1"});
  }
}

TEST(XmlParserTest, NestingBeyondTheLimitEndsTheParse) {
  auto nested = [](int levels) {
    std::string text;
    for (int i = 0; i < levels; ++i) text += "<a>";
    for (int i = 0; i < levels; ++i) text += "</a>";
    return text;
  };
  XmlParser ok;
  EXPECT_EQ(ok.Parse(nested(SimXmlNode::kMaxDepth)), ERR_NONE);
  XmlParser deep;
  EXPECT_EQ(deep.Parse(nested(SimXmlNode::kMaxDepth + 1)), ERR_XML_PARSE);
  EXPECT_EQ(deep.GetErrorMessage(), "nesting too deep at position = 3000");
  XmlParser hostile;
  EXPECT_EQ(hostile.Parse(std::string(1000000, '<') + "a"), ERR_XML_PARSE);
}

TEST(XmlParserTest, AttributeIterationStopsAtTheFirstMalformedAttribute) {
  struct Case {
    const char* document;
    std::vector<std::string> attributes;
  };
  for (const Case& c : {
           Case{"<r a=\"1\"  b=\"x y\"/>", {"a=1", "b=x y"}},
           Case{"<r a=\"\" b=\"2\"/>", {}},
           Case{"<r =\"1\" b=\"2\"/>", {}},
           Case{"<r a=\"1\" b/>", {"a=1"}},
           Case{"<r a='1'/>", {}},
       }) {
    XmlParser parser;
    ASSERT_EQ(parser.Parse(c.document), ERR_NONE) << c.document;
    EXPECT_EQ(Attributes(*parser.GetDocument()), c.attributes) << c.document;
  }
}

TEST(XmlParserTest, HexConversionsMatchTheWriter) {
  struct Case {
    const char* text;
    uint32_t asInt;
    uint16_t asShort;
    uint8_t asByte;
  };
  for (const Case& c : {
           Case{"1a", 0x1a, 0x1a, 0x1a},
           Case{"ffffffff", 0xFFFFFFFF, 0, 0},
           Case{"123456789", 0, 0, 0},
           Case{"FfFf", 0xFFFF, 0xFFFF, 0},
           Case{"x1-2", 0x12, 0x12, 0},
           Case{"", 0, 0, 0},
       }) {
    EXPECT_EQ(SimXmlAttribute::CSToI(c.text), c.asInt) << c.text;
    EXPECT_EQ(SimXmlAttribute::CSToS(c.text), c.asShort) << c.text;
    EXPECT_EQ(SimXmlAttribute::CSToB(c.text), c.asByte) << c.text;
  }
  EXPECT_FALSE(SimXmlAttribute::CSToF(""));
  EXPECT_FALSE(SimXmlAttribute::CSToF("0"));
  EXPECT_TRUE(SimXmlAttribute::CSToF("1"));
  EXPECT_TRUE(SimXmlAttribute::CSToF("no"));
}

}  // namespace
}  // namespace brontel
