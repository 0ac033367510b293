// Malformed and hostile request documents: each gets a status (never a
// crash), and the server keeps serving afterwards.
#include <gtest/gtest.h>

#include <string>

#include "handler_fixture.h"

namespace brontel::server::testing {
namespace {

std::string Nested(int depth) {
  std::string text;
  for (int i = 0; i < depth; ++i) text += "<a>";
  return text;
}

class HostileInputTest : public HandlerTest {
 protected:
  HostileInputTest() { AddAccount("ann", kAnnGid); }
};

TEST_F(HostileInputTest, EveryInputGetsAStatus) {
  const std::string gid = std::string("<gid>") + kAnnGid + "</gid>";
  struct Case {
    const char* what;
    std::string body;
    int32_t status;
  };
  const Case cases[] = {
      {"empty body", "", 400},
      {"plain text", "hello", 400},
      {"wrong root", "<tandroresp sts=\"1\"/>", 400},
      {"mismatched tags", "<tandroreq><gid></x></tandroreq>", 400},
      {"bad entity", "<tandroreq>" + gid + "<calendar act=\"0\"><name>&quot;</name>", 400},
      {"nesting beyond the parser's limit", "<tandroreq>" + Nested(5000), 400},
      {"deep but accepted nesting", "<tandroreq>" + gid + Nested(900), 200},
      {"oversized body", std::string(HandlerOptions().maxRequestBytes + 1, ' '), 413},
      // A first synchronization of a large desktop (some 30 000 records).
      {"large but accepted body",
       "<tandroreq>" + gid + std::string(10 * 1024 * 1024, ' ') + "</tandroreq>", 200},
      {"gid with garbage", "<tandroreq><gid>zz-zz</gid></tandroreq>", 200},
      {"record before any gid", "<tandroreq><calendar act=\"0\"/></tandroreq>", 200},
      {"attributes without values", "<tandroreq ver ts=>" + gid + "<event act sid/></tandroreq>",
       200},
      {"numbers too long",
       "<tandroreq ver=\"123456789\">" + gid +
           "<event sid=\"fffffffff\" ver=\"ffffffff\" act=\"1\"/></tandroreq>",
       200},
      {"unknown act codes",
       "<tandroreq>" + gid +
           "<calendar act=\"9\"><name>x</name></calendar><event act=\"ff\" "
           "sid=\"1\"/></tandroreq>",
       200},
      {"links to nothing",
       "<tandroreq>" + gid +
           "<event act=\"0\" lid=\"1\"><link/><link psid=\"ffffffff\" "
           "pver=\"ffffffff\"/></event><event act=\"5\" lid=\"1\"/>"
           "<event act=\"4\" sid=\"0\"><link psid=\"1\"/></event></tandroreq>",
       200},
      {"contact family in a calendar request",
       "<tandroreq>" + gid +
           "<contact act=\"0\" lid=\"5\"><datum index=\"99\">x</datum>"
           "<datum>y</datum></contact></tandroreq>",
       200},
      {"clicks without ids",
       "<tandroreq>" + gid +
           "<orvel><click/><click eid=\"-1\"/></orvel>"
           "</tandroreq>",
       200},
      {"self-closed everything", "<tandroreq/>", 200},
      {"text and comments",
       "<?xml version=\"1.0\"?><!-- x --><tandroreq>text" + gid +
           "<event act=\"0\"><name/><time/><repeat/><exclude/><web/>"
           "</event></tandroreq>",
       200},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(m_handler.Handle(c.body).status, c.status) << c.what;
  }
  // Still serving, and none of the above left a record behind.
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", ""), "");
  EXPECT_EQ(Sync(kAnnGid, "ffffffff", "", true), "");
}

TEST_F(HostileInputTest, TextsComeBackByteForByte) {
  // Quotes, a slash, control characters and high bytes inside element values.
  const std::string name = "a\"b/c'd&amp;&lt;&gt;\\t\\\\\\r\\n\x01\xC3\xA9";
  std::string answer =
      Sync(kAnnGid, "1f4",
           "<calendar lid=\"80000001\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" "
           "own=\"1\"><name>" +
               name + "</name><desc>+%20</desc><color>ffffffff</color></calendar>");
  EXPECT_EQ(answer,
            "<calendar sid=\"65\" lid=\"80000001\" ver=\"1f5\" act=\"0\" ro=\"0\" hide=\"0\" "
            "own=\"1\"><name>" +
                name + "</name><desc>+%20</desc><color>ffffffff</color></calendar>");
}

}  // namespace
}  // namespace brontel::server::testing
