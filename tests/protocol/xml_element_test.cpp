// Tests of the request writer: the exact text of elements, attributes and
// values, the escaping of values, the identifier form and the buffer growth.
#include "brontel/protocol/xml_element.h"

#include <gtest/gtest.h>

#include <string>

namespace brontel {
namespace {

TEST(XmlElementTest, WritesNestedElementsWithAttributesAndValues) {
  XmlElement root("tandroreq", nullptr);
  root.AddAttribute("ts", uint32_t{0x1a});
  root.AddAttribute("rev", std::string("BRy2000m03d29t1052:desk \"4\""));
  root.AddAttribute("lev", uint32_t{3});
  {
    XmlElement calendar("calendar", &root);
    calendar.AddAttribute("sid", uint32_t{0});
    calendar.AddAttributeFlag("ro", true);
    calendar.AddAttributeFlag("own", false);
    {
      XmlElement name("name", &calendar);
      name.AddValue(std::string("Work"));
    }
    XmlElement color("color", &calendar);
    color.AddValue(uint32_t{0x1ff0000});
  }
  { XmlElement empty("orvel", &root); }
  EXPECT_EQ(root.Query(),
            "<tandroreq ts=\"1a\" rev=\"BRy2000m03d29t1052:desk \"4\"\" lev=\"3\">"
            "<calendar sid=\"0\" ro=\"1\" own=\"0\"><name>Work</name><color>1ff0000</color>"
            "</calendar><orvel/></tandroreq>");
}

TEST(XmlElementTest, ARootWithOnlyAttributesUsesTheShortForm) {
  XmlElement root("time", nullptr);
  root.AddAttribute("ymd", uint16_t{0});
  root.AddAttribute("beg", uint16_t{0xFFFF});
  root.AddAttribute("typ", uint8_t{0xFF});
  root.AddAttribute("ver", uint32_t{0xFFFFFFFF});
  EXPECT_EQ(root.Query(), "<time ymd=\"0\" beg=\"ffff\" typ=\"ff\" ver=\"ffffffff\"/>");
}

TEST(XmlElementTest, ValuesAreEscapedAndAttributesAreNot) {
  struct Case {
    const char* in;
    const char* out;
  };
  for (const Case& c : {
           Case{"Tom & Jerry", "Tom &amp; Jerry"},
           Case{"a<b>c", "a&lt;b&gt;c"},
           Case{"line\r\nnext\tcol", "line\\r\\nnext\\tcol"},
           Case{"C:\\dir", "C:\\\\dir"},
           Case{"\"quoted\" 'single'", "\"quoted\" 'single'"},
           Case{"", ""},
       }) {
    EXPECT_EQ(XmlElement::Escape(c.in), c.out) << c.in;
  }
  XmlElement root("note", nullptr);
  root.AddAttribute("key", std::string("a&b"));
  root.AddValue(std::string("x&\n"));
  EXPECT_EQ(root.Query(), "<note key=\"a&b\">x&amp;\\n</note>");
}

TEST(XmlElementTest, IdentifiersAreWrittenFromTheLastByteInGroups) {
  UID128 id;
  id.SetByte(15, 0x01);
  id.SetByte(0, 0xFF);
  EXPECT_EQ(XmlElement::IdText(id), "01000000-0000-0000-0000-0000000000FF");
  XmlElement root("gid", nullptr);
  root.AddValue(id);
  EXPECT_EQ(root.Query(), "<gid>01000000-0000-0000-0000-0000000000FF</gid>");
}

TEST(XmlElementTest, TheBufferDoublesAndQueryReturnsExactlyTheBytesWritten) {
  XmlElement root("r", nullptr);
  EXPECT_EQ(root.GetCapacity(), 4096);
  std::string big(5000, 'x');
  root.AddValue(big);
  EXPECT_EQ(root.GetCapacity(), 8192);
  EXPECT_EQ(root.Query(), "<r>" + big + "</r>");

  XmlElement huge("r", nullptr);
  huge.AddValue(std::string(100000, 'y'));
  EXPECT_EQ(huge.GetCapacity(), 131072);
  EXPECT_EQ(huge.Query().size(), 100000u + 7u);
}

TEST(XmlElementTest, AChildClosedByHandEndsBeforeItsScope) {
  XmlElement root("r", nullptr);
  XmlElement a("a", &root);
  a.AddValue(uint32_t{1});
  a.Close();
  XmlElement b("b", &root);
  b.Close();
  EXPECT_EQ(root.Query(), "<r><a>1</a><b/></r>");
}

#ifndef NDEBUG
TEST(XmlElementDeathTest, MisuseStopsDebugBuilds) {
  EXPECT_DEATH(
      {
        XmlElement root("r", nullptr);
        root.AddValue(uint32_t{1});
        root.AddAttribute("late", uint32_t{1});
      },
      "m_valueCount == 0");
  EXPECT_DEATH(
      {
        XmlElement root("r", nullptr);
        XmlElement a("a", &root);
        XmlElement b("b", &root);
      },
      "m_childCount == 0");
  EXPECT_DEATH(
      {
        XmlElement root("r", nullptr);
        root.Close();
      },
      "m_parent");
  EXPECT_DEATH(
      {
        XmlElement root("r", nullptr);
        XmlElement a("a", &root);
        a.Query();
      },
      "m_parent == 0");
}
#endif

}  // namespace
}  // namespace brontel
