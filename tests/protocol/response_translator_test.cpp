// Tests of ResponseTranslator: tables of answers written out byte for byte
// with the responder calls each one makes (attributes, children, defaults and
// action codes of every element), a table of answers that fail with their
// result and message and reach the responder not at all (cut off, bad table
// id or version among them), and whole answers applied to real calendar and
// category managers.
#include "brontel/protocol/response_translator.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/host/registry.h"
#include "brontel/host/time_logger.h"
#include "brontel/lists/link.h"
#include "brontel/platform/format.h"
#include "brontel/protocol/xml_responder.h"
#include "support/api_fixture.h"
#include "support/calendar_fixture.h"
#include "support/contact_fixture.h"

namespace brontel {
namespace {

using testing::AddCalendar;
using testing::AddCategory;
using testing::AddContact;
using testing::AddEvent;
using testing::CalendarKind;
using testing::CategoryKind;

// ---------------------------------------------------------------------------
// The calls an answer makes

std::string Links(const LinkList& links) {
  std::string s;
  for (int32_t i = 0; i < links.GetListCount(); ++i) s += links[i].GetDisplayString();
  return s;
}

std::string EventText(const EventDescriptor& d) {
  std::string s =
      Format("\"%s\" note=\"%s\" ymd=%x beg=%x end=%x", d.GetName().c_str(), d.GetNote().c_str(),
             d.GetYearMonthDate(), d.GetStartTime(), d.GetEndTime());
  if (d.GetRepeatType() != 0 || d.GetRepeatEndYearMonthDate() != 0) {
    s += Format(" repeat=%x/%x/%x/%x/%x", d.GetRepeatType(), d.GetRepeatEndYearMonthDate(),
                d.GetRepeatFrequency(), d.GetRepeatOn(), d.GetRepeatStartOfWeek());
  }
  for (int32_t i = 0; i < d.GetRepeatExceptionCount(); ++i) {
    s += Format(" except=%x", d.GetExceptionYearMonthDate(i));
  }
  const WebContent& web = d.GetWebContent();
  std::string webText = web.GetButtonLabel() + "|" + web.GetDesktopURL() + "|" + web.GetPalm7URL() +
                        "|" + web.GetSponsor() + "|" + web.GetText();
  if (webText != "||||") s += " web=" + webText;
  return s;
}

std::string ContactText(const ContactDescriptor& d) {
  std::string s = Format("flg=%x opt=%x ofs=%x", d.GetFlags(), d.GetOptions(), d.GetOffset());
  for (int32_t i = 0; i < ContactDescriptor::numDatums; ++i) {
    if (!d.GetDatum(i).empty()) s += Format(" %d=%s", i, d.GetDatum(i).c_str());
  }
  return s;
}

std::string ConflictText(const XML_CONFLICT* c) {
  return Format("act=%x cerr=%x lid=%x sid=%x ctyp=%x", c->m_act, c->m_cerr, c->m_lid, c->m_sid,
                c->m_ctyp);
}

// A responder that only writes down the calls it receives, one line each.
class RecordingResponder : public XmlResponder {
 public:
  explicit RecordingResponder(const CalendarManager& manager) : XmlResponder(manager, "") {}
  explicit RecordingResponder(const CategoryManager& manager) : XmlResponder(manager, "") {}

  void SyncBegin(const UID128& gid, uint32_t version, uint32_t deltaVersion, bool full) override {
    Note(Format("SyncBegin %s v=%x ts=%x full=%d", gid.GetString().c_str(), version, deltaVersion,
                full));
  }
  void RegistryPush(const std::string& key, bool local, const std::string& value) override {
    Note(Format("RegistryPush %s local=%d text=%s", key.c_str(), local, value.c_str()));
  }
  void RegistryPush(const std::string& key, bool local, int32_t value) override {
    Note(Format("RegistryPush %s local=%d number=%d", key.c_str(), local, value));
  }
  void WebClick(uint32_t eid) override { Note(Format("WebClick %x", eid)); }
  void SetPulsecastURL(const std::string& url, uint32_t version) override {
    Note(Format("SetPulsecastURL %s v=%x", url.c_str(), version));
  }
  void CalendarConflict(const XML_CONFLICT* c) override {
    Note("CalendarConflict " + ConflictText(c));
  }
  void CalendarDelete(uint32_t lid, uint32_t sid, uint32_t ver) override {
    Note(Format("CalendarDelete lid=%x sid=%x ver=%x", lid, sid, ver));
  }
  void CalendarUpdate(CalendarDescriptor& d, uint32_t lid, uint32_t sid, uint32_t ver) override {
    Note(Format("CalendarUpdate lid=%x sid=%x ver=%x ", lid, sid, ver) + d.GetDisplayString());
  }
  void EventConflict(const XML_CONFLICT* c) override { Note("EventConflict " + ConflictText(c)); }
  void EventGlobalDelete(EventDescriptor& d, uint32_t lid, uint32_t sid, uint32_t ver) override {
    Note(Format("EventGlobalDelete lid=%x sid=%x ver=%x ", lid, sid, ver) + EventText(d));
  }
  void EventUpdate(EventDescriptor& d, uint32_t lid, uint32_t sid, uint32_t cid,
                   uint32_t ver) override {
    Note(Format("EventUpdate lid=%x sid=%x cid=%x ver=%x ", lid, sid, cid, ver) + EventText(d));
  }
  void EventInsertLinks(uint32_t sid, const LinkList& links) override {
    Note(Format("EventInsertLinks sid=%x ", sid) + Links(links));
  }
  void EventDeleteLinks(uint32_t sid, const LinkList& links) override {
    Note(Format("EventDeleteLinks sid=%x ", sid) + Links(links));
  }
  void CategoryConflict(const XML_CONFLICT* c) override {
    Note("CategoryConflict " + ConflictText(c));
  }
  void CategoryDelete(uint32_t sid, uint32_t ver) override {
    Note(Format("CategoryDelete sid=%x ver=%x", sid, ver));
  }
  void CategoryUpdate(CategoryDescriptor& d, uint32_t sid, uint32_t lid, uint32_t ver) override {
    Note(Format("CategoryUpdate sid=%x lid=%x ver=%x ", sid, lid, ver) + d.GetDisplayString());
  }
  void ContactConflict(const XML_CONFLICT* c) override {
    Note("ContactConflict " + ConflictText(c));
  }
  void ContactDelete(uint32_t sid, uint32_t ver) override {
    Note(Format("ContactDelete sid=%x ver=%x", sid, ver));
  }
  void ContactDeleteLink(uint32_t sid, const Link& link) override {
    Note(Format("ContactDeleteLink sid=%x ", sid) + link.GetDisplayString());
  }
  void ContactInsertLink(uint32_t sid, const Link& link) override {
    Note(Format("ContactInsertLink sid=%x ", sid) + link.GetDisplayString());
  }
  void ContactUpdate(ContactDescriptor& d, uint32_t sid, uint32_t lid, uint32_t ver) override {
    Note(Format("ContactUpdate sid=%x lid=%x ver=%x ", sid, lid, ver) + ContactText(d));
  }
  void SyncEnd() override { Note("SyncEnd"); }

  std::vector<std::string> calls;

 private:
  void Note(const std::string& call) { calls.push_back(call); }
};

const std::string kGid = "01020304-0506-0708-090A-0B0C0D0E0F10";
const std::string kBegin = "SyncBegin " + kGid + " v=2b ts=1a full=0";
// The start of an ordinary answer: root and table id.
const std::string kHead =
    "<tandroresp ts=\"1a\" sts=\"1\" ver=\"2b\" rev=\"r7\" full=\"0\"><gid>" + kGid + "</gid>";

struct CallCase {
  const char* what;
  std::string answer;
  std::vector<std::string> calls;
};

std::vector<std::string> CallsOf(XmlResponder& responder, const std::string& answer) {
  ResponseTranslator translator(&responder, nullptr);
  br_error result = translator.Translate(answer);
  EXPECT_EQ(result, ERR_NONE) << translator.GetErrorMessage();
  EXPECT_EQ(translator.GetErrorMessage(), "");
  return static_cast<RecordingResponder&>(responder).calls;
}

TEST(ResponseTranslatorTest, CalendarAnswersMakeTheseCalls) {
  const CallCase cases[] = {
      {"records in order; nothing before the table id",
       "<tandroresp ts=\"1a\" sts=\"1\" ver=\"2b\" rev=\"r7\" full=\"0\">"
       "<calendar sid=\"9\" act=\"1\"><name>early</name></calendar>"
       "<gid>" +
           kGid +
           "</gid>"
           "<calendar sid=\"5\" lid=\"80000001\" ver=\"7\" act=\"0\" ro=\"1\" hide=\"1\" own=\"0\">"
           "<name>Team &amp; co</name><desc>shared\\nweek</desc><color>100ff00</color></calendar>"
           "<calendar sid=\"6\" lid=\"3\" ver=\"8\" act=\"3\"><name>x</name></calendar>"
           "</tandroresp>",
       {kBegin, "CalendarUpdate lid=80000001 sid=5 ver=7 \"Team & co\" shared\nweek {RH}/0100ff00/",
        "CalendarDelete lid=3 sid=6 ver=8", "SyncEnd"}},
      {"a calendar is applied only with a child node, and act 6 and above do nothing",
       kHead + "<calendar sid=\"5\" act=\"1\"/><calendar sid=\"5\" act=\"2\"></calendar>"
               "<calendar sid=\"5\" act=\"9\"><name>n</name></calendar>"
               "<calendar sid=\"5\" act=\"2\">text</calendar><calendar sid=\"5\"><name>n</name>"
               "</calendar></tandroresp>",
       {kBegin, "CalendarDelete lid=0 sid=5 ver=0",
        "CalendarUpdate lid=0 sid=5 ver=0 \"n\"  {O}/00000000/", "SyncEnd"}},
      {"an inserted event with everything it can carry",
       kHead +
           "<event sid=\"20\" cid=\"10\" lid=\"80000002\" ver=\"3\" act=\"0\"><name>Standup</name>"
           "<note>daily</note><time ymd=\"3061\" beg=\"900\" end=\"930\"/>"
           "<repeat typ=\"2\" end=\"ffff\" frq=\"1\" ron=\"3e\" fdw=\"1\"/>"
           "<exclude ymd=\"3065\"/><exclude ymd=\"3063\"/><link psid=\"5\" pver=\"4\"/>"
           "<link psid=\"6\"/><web><button>Go</button><dturl>http://d</dturl>"
           "<p7url>http://p</p7url><sponsor>S</sponsor><text>T</text><other>o</other></web>"
           "</event></tandroresp>",
       {kBegin,
        "EventUpdate lid=80000002 sid=20 cid=10 ver=3 \"Standup\" note=\"daily\" ymd=3061 "
        "beg=900 end=930 repeat=2/ffff/1/3e/1 except=3063 except=3065 "
        "web=Go|http://d|http://p|S|T",
        "EventInsertLinks sid=20 <F=0 S=5 V=4><F=0 S=6 V=0>", "SyncEnd"}},
      {"event action codes: update by default, 6 and above delete",
       kHead + "<event sid=\"21\"><name>a</name></event><event sid=\"22\" act=\"2\" lid=\"4\"/>"
               "<event sid=\"23\" act=\"3\"/><event sid=\"24\" act=\"4\"><link psid=\"5\"/></event>"
               "<event sid=\"25\" act=\"5\"><link psid=\"5\" pver=\"9\"/></event>"
               "<event sid=\"26\" act=\"9\"/></tandroresp>",
       {kBegin, "EventUpdate lid=0 sid=21 cid=0 ver=0 \"a\" note=\"\" ymd=0 beg=0 end=0",
        "EventGlobalDelete lid=4 sid=22 ver=0 \"\" note=\"\" ymd=0 beg=0 end=0",
        "EventGlobalDelete lid=0 sid=23 ver=0 \"\" note=\"\" ymd=0 beg=0 end=0",
        "EventInsertLinks sid=24 <F=0 S=5 V=0>", "EventDeleteLinks sid=25 <F=0 S=5 V=9>",
        "EventGlobalDelete lid=0 sid=26 ver=0 \"\" note=\"\" ymd=0 beg=0 end=0", "SyncEnd"}},
      {"service elements: conflicts, clicks, the wireless address, settings",
       kHead +
           "<conflict ctyp=\"2\" act=\"1\" cerr=\"5\" lid=\"3\" sid=\"4\"/><conflict ctyp=\"7\"/>"
           "<conflict ctyp=\"1\" sid=\"6\"/><orvel><click eid=\"20\"/><other eid=\"1\"/><click/>"
           "</orvel><wirelessurl ver=\"4\">http://w/p?a=1</wirelessurl><wirelessurl ver=\"5\"/>"
           "<regitem loc=\"1\" typ=\"1\" key=\"Poll\">1e</regitem>"
           "<regitem typ=\"2\" key=\"ServerNewsUrl\">http://news/</regitem>"
           "<regitem loc=\"1\" typ=\"3\" key=\"Odd\">1</regitem><regitem typ=\"2\" key=\"E\"/>"
           "</tandroresp>",
       {kBegin, "EventConflict act=1 cerr=5 lid=3 sid=4 ctyp=2",
        "CalendarConflict act=0 cerr=0 lid=0 sid=6 ctyp=1", "WebClick 20", "WebClick 0",
        "SetPulsecastURL http://w/p?a=1 v=4", "RegistryPush Poll local=1 number=30",
        "RegistryPush ServerNewsUrl local=0 text=http://news/", "SyncEnd"}},
      {"the other family's records, unknown elements and a second table id are skipped",
       kHead +
           "<category act=\"0\" sid=\"2\"><name>c</name></category><contact act=\"1\" sid=\"3\"/>"
           "<gid>00000000000000000000000000000001</gid><unknown sid=\"1\"/>"
           "<calendar sid=\"5\"><name>n</name></calendar></tandroresp>",
       {kBegin, "CalendarUpdate lid=0 sid=5 ver=0 \"n\"  {O}/00000000/", "SyncEnd"}},
      {"a table id without text is passed over; any letter case, hyphens or none",
       "<tandroresp ts=\"1a\" ver=\"2b\"><gid></gid><gid/>"
       "<gid>0102030405060708090a0b0c0d0e0f10</gid></tandroresp>",
       {kBegin, "SyncEnd"}},
      {"an account id answer starts and ends the responder and reads no further",
       "<tandroresp ts=\"0\" sts=\"1\" ver=\"ffffffff\" full=\"1\"><newgid>" + kGid +
           "</newgid><calendar sid=\"5\"><name>n</name></calendar><gid>" + kGid +
           "</gid></tandroresp>",
       {"SyncBegin " + kGid + " v=ffffffff ts=0 full=1", "SyncEnd"}},
      {"without a table id nothing reaches the responder",
       "<tandroresp ts=\"1\" ver=\"2\"><calendar sid=\"5\"><name>n</name></calendar>"
       "</tandroresp>",
       {}},
  };
  for (const CallCase& c : cases) {
    CalendarManager manager = CalendarManager::CreateEmpty();
    RecordingResponder responder(manager);
    EXPECT_EQ(CallsOf(responder, c.answer), c.calls) << c.what;
  }
}

TEST(ResponseTranslatorTest, ContactAnswersMakeTheseCalls) {
  const CallCase cases[] = {
      {"categories: update, delete with attributes only, act 6 and above nothing",
       kHead + "<category act=\"0\" sid=\"2\" lid=\"80000001\" ver=\"9\" ro=\"1\" own=\"0\">"
               "<name>Family</name><desc>d</desc><color>ff</color></category>"
               "<category act=\"2\" sid=\"3\" ver=\"4\"/><category sid=\"4\"/>"
               "<category act=\"9\" sid=\"5\"><name>x</name></category></tandroresp>",
       {kBegin, "CategoryUpdate sid=2 lid=80000001 ver=9 \"Family\" d {R}/000000ff/",
        "CategoryDelete sid=3 ver=4", "CategoryUpdate sid=4 lid=0 ver=0 \"\"  {O}/00000000/",
        "SyncEnd"}},
      {"a contact with its fields; indexes beyond 18 and empty fields are ignored",
       kHead + "<contact act=\"1\" sid=\"7\" lid=\"0\" ver=\"2\" flg=\"60000\" opt=\"123456\" "
               "ofs=\"1ff\"><datum index=\"12\">Smith</datum><datum index=\"11\">John</datum>"
               "<datum index=\"13\">nineteen</datum><datum index=\"0\"></datum><datum>none</datum>"
               "<datum index=\"0\">first</datum><link psid=\"2\" pver=\"5\"/></contact>"
               "</tandroresp>",
       {kBegin,
        "ContactUpdate sid=7 lid=0 ver=2 flg=60000 opt=123456 ofs=ff 0=first 17=John "
        "18=Smith",
        "SyncEnd"}},
      {"contact action codes; the last link counts; 6 and above do nothing",
       kHead + "<contact act=\"2\" sid=\"7\" ver=\"3\"/><contact act=\"3\" sid=\"8\"/>"
               "<contact act=\"4\" sid=\"7\"><link psid=\"1\"/><link psid=\"2\" pver=\"5\"/>"
               "</contact><contact act=\"5\" sid=\"7\"><link psid=\"2\" pver=\"6\"/></contact>"
               "<contact act=\"4\" sid=\"9\"/><contact act=\"6\" sid=\"7\"/>"
               "<contact act=\"7\" sid=\"7\"/></tandroresp>",
       {kBegin, "ContactDelete sid=7 ver=3", "ContactDelete sid=8 ver=0",
        "ContactInsertLink sid=7 <F=0 S=2 V=5>", "ContactDeleteLink sid=7 <F=0 S=2 V=6>",
        "ContactInsertLink sid=9 <F=0 S=0 V=ffffffff>", "SyncEnd"}},
      {"calendar records are not this exchange's; conflicts and settings are",
       kHead + "<calendar sid=\"5\"><name>n</name></calendar><event sid=\"6\"/>"
               "<conflict ctyp=\"3\" sid=\"2\"/><conflict ctyp=\"4\" sid=\"7\" cerr=\"1\"/>"
               "<regitem typ=\"1\" key=\"K\">ffffffff</regitem></tandroresp>",
       {kBegin, "CategoryConflict act=0 cerr=0 lid=0 sid=2 ctyp=3",
        "ContactConflict act=0 cerr=1 lid=0 sid=7 ctyp=4", "RegistryPush K local=0 number=-1",
        "SyncEnd"}},
  };
  for (const CallCase& c : cases) {
    CategoryManager manager = CategoryManager::CreateEmpty();
    RecordingResponder responder(manager);
    EXPECT_EQ(CallsOf(responder, c.answer), c.calls) << c.what;
  }
}

// ---------------------------------------------------------------------------
// Answers that fail

struct FailureCase {
  std::string answer;
  br_error result;
  std::string message;
};

TEST(ResponseTranslatorTest, FailingAnswersReachTheResponderNotAtAll) {
  const std::string records = "<calendar sid=\"5\"><name>Home</name></calendar>";
  const std::string cut = kHead + records;
  const std::string cutInTag = kHead + "<calen";
  const std::string cutInText = kHead + "<calendar sid=\"5\"><name>Ho";
  auto end = [](const std::string& text) {
    return Format("unexpected end of information at position = %d",
                  static_cast<int32_t>(text.size()));
  };
  auto withGid = [&](const std::string& element, const std::string& id) {
    return "<tandroresp ts=\"1\" ver=\"2\"><" + element + ">" + id + "</" + element + ">" +
           records + "</tandroresp>";
  };
  auto withVersion = [&](const std::string& version) {
    return "<tandroresp ts=\"1\" ver=\"" + version + "\"><gid>" + kGid + "</gid>" + records +
           "</tandroresp>";
  };
  const FailureCase cases[] = {
      {"", ERR_EMPTY_RESPONSE, "empty server response"},
      {"  no elements at all ", ERR_EMPTY_RESPONSE, "empty server response"},
      {"<?xml version=\"1.0\"?><!-- nothing -->", ERR_EMPTY_RESPONSE, "empty server response"},
      {"<tandroreq sts=\"1\"><gid>" + kGid + "</gid>" + records + "</tandroreq>", ERR_WRONG_ROOT,
       "wrong root node"},
      {"<tandroresp sts=\"0\" ver=\"1\"><gid>" + kGid + "</gid>" + records + "</tandroresp>",
       ERR_SERVER_FAILURE, "server reported failure"},
      {"<tandroresp ts=\"1\" ver=\"2\"></tandroresp>", ERR_NO_CHILD_ELEMENTS,
       "response contains no child elements"},
      {"<tandroresp/>", ERR_NO_CHILD_ELEMENTS, "response contains no child elements"},
      {kHead + "<calendar sid=\"5\"></event></tandroresp>", ERR_XML_PARSE,
       "bad name matching <calendar> != <event>at position = 128"},
      {kHead + "<calendar><name>&quot;</name></calendar></tandroresp>", ERR_XML_PARSE,
       "bad escaped '&' at position = 118"},
      {kHead + "</tandroresp></tandroresp>", ERR_XML_PARSE,
       "unmatched node terminator</tandroresp> at position = 128"},
      // Cut off: the root lacks its end tag, wherever the text stops.
      {cut, ERR_XML_PARSE, end(cut)},
      {cutInTag, ERR_XML_PARSE, end(cutInTag)},
      {cutInText, ERR_XML_PARSE, end(cutInText)},
      // Table ids of anything but 32 digits, alone or grouped 8-4-4-4-12.
      {withGid("gid", "0102030405060708090A0B0C0D0E0F1"), ERR_XML_PARSE, "bad gid value"},
      {withGid("gid", "0102030405060708090A0B0C0D0E0F1011"), ERR_XML_PARSE, "bad gid value"},
      {withGid("gid", "01020304-0506-0708-090A-0B0C0D0E0F1G"), ERR_XML_PARSE, "bad gid value"},
      {withGid("gid", "0102-03040506-0708-090A-0B0C0D0E0F10"), ERR_XML_PARSE, "bad gid value"},
      {withGid("gid", " 0102030405060708090A0B0C0D0E0F10"), ERR_XML_PARSE, "bad gid value"},
      {withGid("gid", "x"), ERR_XML_PARSE, "bad gid value"},
      {withGid("newgid", "AB"), ERR_XML_PARSE, "bad newgid value"},
      // Table versions a manager cannot hold.
      {withVersion("80000000"), ERR_XML_PARSE, "bad version value"},
      {withVersion("fffffffe"), ERR_XML_PARSE, "bad version value"},
  };
  for (const FailureCase& c : cases) {
    CalendarManager manager = CalendarManager::CreateEmpty();
    RecordingResponder responder(manager);
    ResponseTranslator translator(&responder, nullptr);
    EXPECT_EQ(translator.Translate(c.answer), c.result) << c.answer;
    EXPECT_EQ(translator.GetErrorMessage(), c.message) << c.answer;
    EXPECT_EQ(responder.calls, std::vector<std::string>{}) << c.answer;
  }
}

TEST(ResponseTranslatorTest, ASuccessClearsTheLastMessage) {
  CalendarManager manager = CalendarManager::CreateEmpty();
  RecordingResponder responder(manager);
  ResponseTranslator translator(&responder, nullptr);
  EXPECT_EQ(translator.Translate("<x/>"), ERR_WRONG_ROOT);
  EXPECT_EQ(translator.Translate(kHead + "</tandroresp>"), ERR_NONE);
  EXPECT_EQ(translator.GetErrorMessage(), "");
}

TEST(ResponseTranslatorTest, TimesParsingAndTranslation) {
  int64_t now = 0;
  TimeLogger logger([&] { return now += 10; });
  CalendarManager manager = CalendarManager::CreateEmpty();
  RecordingResponder responder(manager);
  ResponseTranslator translator(&responder, &logger);
  const std::string answer = kHead + "</tandroresp>";
  ASSERT_EQ(translator.Translate(answer), ERR_NONE);
  const std::string& log = logger.GetLog();
  const std::string parse = Format("parse %d bytes", static_cast<int32_t>(answer.size()));
  EXPECT_NE(log.find(parse + " begin"), std::string::npos) << log;
  EXPECT_NE(log.find(parse + " end"), std::string::npos) << log;
  EXPECT_NE(log.find("translate doc begin"), std::string::npos) << log;
  EXPECT_NE(log.find("translate doc end"), std::string::npos) << log;
}

// ---------------------------------------------------------------------------
// Whole answers applied to managers

// The records of a calendar manager, one line each: server id, fixed id,
// version, name and the flags that are set; placements under their event.
std::vector<std::string> Describe(const CalendarManager& m) {
  auto flags = [](const auto& r) {
    std::string s;
    if (r.IsDirty()) s += " dirty";
    if (r.IsDeleted()) s += r.IsDeletedGlobal() ? " global" : " deleted";
    return s;
  };
  std::vector<std::string> lines;
  const CalendarList& calendars = m.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    const Calendar& c = calendars[i];
    lines.push_back(Format("calendar %x/%x v%x ", c.GetServeId(), c.GetFixedId(), c.GetVersion()) +
                    c.GetCalendarDescriptor().GetCalendarName() + flags(c));
  }
  const EventList& events = m.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    const Event& e = events[i];
    lines.push_back(Format("event %x/%x v%x ", e.GetServeId(), e.GetFixedId(), e.GetVersion()) +
                    e.GetEventDescriptor().GetName() + flags(e) +
                    (e.GetUseMe() != 0 ? " clicked" : ""));
    const CalendarEventList& links = e.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      lines.push_back(
          Format("  in %x v%x", links[j].GetParentCalendar().GetServeId(), links[j].GetVersion()) +
          flags(links[j]));
    }
  }
  return lines;
}

class CalendarAnswerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    home = AddCalendar(manager, "home", CalendarKind::Published(), 0x11, 0x5);
    old = AddCalendar(manager, "old", CalendarKind::Published(), 0x12, 0x6);
    lunch = AddEvent(manager, "lunch", {home}, 0x21);
    lunch.SetServeId(0x20);
    gym = AddEvent(manager, "gym", {old}, 0x22);
    gym.SetServeId(0x21);
  }
  br_error Apply(const std::string& answer) {
    XmlResponder responder(manager, "");
    ResponseTranslator translator(&responder, nullptr);
    return translator.Translate(answer);
  }

  CalendarManager manager = CalendarManager::CreateEmpty();
  Calendar home, old;
  Event lunch, gym;
};

const std::string kFullAnswer =
    "<tandroresp ts=\"31\" sts=\"1\" ver=\"30\" rev=\"r\" full=\"1\"><gid>" + kGid +
    "</gid>"
    "<calendar sid=\"5\" ver=\"2a\" act=\"1\" own=\"1\"><name>home, renamed</name></calendar>"
    "<calendar sid=\"7\" lid=\"80000003\" ver=\"2b\" act=\"0\" own=\"1\"><name>new</name>"
    "</calendar>"
    "<event sid=\"20\" ver=\"2c\" act=\"1\"><name>lunch at one</name></event>"
    "<event sid=\"22\" lid=\"80000004\" ver=\"2d\" act=\"0\"><name>party</name>"
    "<link psid=\"5\" pver=\"2d\"/><link psid=\"7\" pver=\"2d\"/><link psid=\"99\"/></event>"
    "<event sid=\"20\" act=\"4\"><link psid=\"5\" pver=\"2e\"/></event>"
    "<orvel><click eid=\"20\"/></orvel><wirelessurl ver=\"3\">http://w/</wirelessurl>"
    "</tandroresp>";

TEST_F(CalendarAnswerTest, AFullAnswerUpdatesInsertsLinksAndDeletesTheRest) {
  ASSERT_EQ(Apply(kFullAnswer), ERR_NONE);
  EXPECT_EQ(Describe(manager), (std::vector<std::string>{
                                   "calendar 5/11 v2a home, renamed dirty",
                                   "calendar 6/12 v30 old dirty deleted",
                                   "calendar 7/80000003 v2b new dirty",
                                   "event 20/21 v2c lunch at one dirty clicked",
                                   "  in 5 v2e dirty",
                                   "event 21/22 v30 gym dirty global",
                                   "  in 6 vffffffff",
                                   "event 22/80000004 v2d party dirty",
                                   "  in 5 v2d dirty",
                                   "  in 7 v2d dirty",
                               }));
  UID128 gid;
  gid.SetString(kGid);
  EXPECT_EQ(manager.GetGID(), gid);
  EXPECT_EQ(manager.GetVersion(), 0x30u);
  EXPECT_EQ(manager.GetDeltaVersion(), 0x31u);
  EXPECT_EQ(manager.GetPulsecastURL(), "http://w/");
  EXPECT_TRUE(manager.IsCoherent());
  EXPECT_TRUE(manager.SanityCheck());
}

TEST_F(CalendarAnswerTest, AnEventLinkDeleteAndAGlobalDelete) {
  const std::string answer =
      kHead +
      "<event sid=\"20\" act=\"5\"><link psid=\"5\" pver=\"2f\"/></event>"
      "<event sid=\"21\" ver=\"30\" act=\"2\"/><event sid=\"40\" ver=\"30\" act=\"3\"/>"
      "</tandroresp>";
  ASSERT_EQ(Apply(answer), ERR_NONE);
  EXPECT_EQ(Describe(manager), (std::vector<std::string>{
                                   "calendar 5/11 vffffffff home",
                                   "calendar 6/12 vffffffff old",
                                   "event 20/21 vffffffff lunch",
                                   "  in 5 v2f dirty deleted",
                                   "event 21/22 v30 gym dirty global",
                                   "  in 6 vffffffff",
                               }));
}

// Cut off before its end tag, a full answer would have deleted every record
// after the cut; it fails instead and the manager keeps what it had.
TEST_F(CalendarAnswerTest, ACutOffFullAnswerChangesNothing) {
  std::vector<std::string> before = Describe(manager);
  const std::string cut = kFullAnswer.substr(0, kFullAnswer.find("<event"));
  EXPECT_EQ(Apply(cut), ERR_XML_PARSE);
  EXPECT_EQ(Describe(manager), before);
  EXPECT_EQ(manager.GetVersion(), 0xFFFFFFFFu);
  EXPECT_TRUE(manager.GetGID().IsZero());
}

TEST_F(CalendarAnswerTest, ABadTableIdChangesNothing) {
  std::vector<std::string> before = Describe(manager);
  std::string answer = kFullAnswer;
  answer.replace(answer.find(kGid), kGid.size(), "0102030405060708");
  EXPECT_EQ(Apply(answer), ERR_XML_PARSE);
  EXPECT_EQ(Describe(manager), before);
  EXPECT_TRUE(manager.GetGID().IsZero());
}

// The category manager of a contact exchange, one line per record.
std::vector<std::string> Describe(const CategoryManager& m) {
  auto flags = [](const auto& r) {
    std::string s;
    if (r.IsDirty()) s += " dirty";
    if (r.IsDeleted()) s += r.IsDeletedGlobal() ? " global" : " deleted";
    return s;
  };
  std::vector<std::string> lines;
  const CategoryList& categories = m.GetCategoryList();
  for (int32_t i = 0; i < categories.GetListCount(); ++i) {
    const Category& c = categories[i];
    lines.push_back(Format("category %x/%x v%x ", c.GetServeId(), c.GetFixedId(), c.GetVersion()) +
                    c.GetCategoryDescriptor().GetCategoryName() + flags(c));
  }
  const ContactList& contacts = m.GetContactList();
  for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
    const Contact& c = contacts[i];
    lines.push_back(Format("contact %x/%x v%x ", c.GetServeId(), c.GetFixedId(), c.GetVersion()) +
                    c.GetShortDisplayString() + " in " + c.GetCategory().GetShortDisplayString() +
                    Format(" linkv%x", c.GetLinkVersion()) + flags(c));
  }
  return lines;
}

TEST(ContactAnswerTest, AFullAnswerUpdatesInsertsMovesAndDeletesTheRest) {
  CategoryManager manager = CategoryManager::CreateEmpty();
  Category family = AddCategory(manager, "Family", CategoryKind::Published(), 0x11);
  family.SetServeId(0x2);
  Category club = AddCategory(manager, "Club", CategoryKind::Published(), 0x12);
  club.SetServeId(0x3);
  Contact ann = AddContact(manager, family, "Ann", 0x21);
  ann.SetServeId(0x7);
  Contact bob = AddContact(manager, family, "Bob", 0x22);
  bob.SetServeId(0x8);
  const std::string answer =
      "<tandroresp ts=\"11\" sts=\"1\" ver=\"10\" full=\"1\"><gid>" + kGid +
      "</gid>"
      "<category act=\"1\" sid=\"2\" ver=\"c\" own=\"1\"><name>Kin</name></category>"
      "<category act=\"0\" sid=\"4\" lid=\"80000005\" ver=\"d\" ro=\"1\" own=\"0\">"
      "<name>Shared</name></category>"
      "<contact act=\"1\" sid=\"7\" ver=\"e\"><datum index=\"12\">Anne</datum></contact>"
      "<contact act=\"4\" sid=\"7\"><link psid=\"4\" pver=\"e\"/></contact>"
      "<contact act=\"0\" sid=\"9\" lid=\"80000006\" ver=\"f\"><datum index=\"12\">Cy</datum>"
      "<link psid=\"2\" pver=\"f\"/></contact>"
      "<contact act=\"4\" sid=\"9\"><link psid=\"2\" pver=\"f\"/></contact>"
      "</tandroresp>";
  XmlResponder responder(manager, "");
  ResponseTranslator translator(&responder, nullptr);
  ASSERT_EQ(translator.Translate(answer), ERR_NONE) << translator.GetErrorMessage();
  EXPECT_EQ(Describe(manager), (std::vector<std::string>{
                                   "category 2/11 vc Kin dirty",
                                   "category 3/12 v10 Club dirty deleted",
                                   "category 4/80000005 vd Shared dirty",
                                   "contact 7/21 ve Anne in Shared linkve dirty",
                                   "contact 8/22 v10 Bob in Kin linkv10 dirty global",
                                   "contact 9/80000006 vf Cy in Kin linkvf dirty",
                               }));
  EXPECT_EQ(manager.GetVersion(), 0x10u);
  EXPECT_TRUE(manager.IsCoherent());
  EXPECT_TRUE(manager.SanityCheck());
}

// Settings pushed by the server land in the test's own store.
class RegistryAnswerTest : public testing::ApiTest {};

TEST_F(RegistryAnswerTest, PushedSettingsAreStored) {
  CategoryManager manager = CategoryManager::CreateEmpty();
  XmlResponder responder(manager, "");
  ResponseTranslator translator(&responder, nullptr);
  ASSERT_EQ(
      translator.Translate(kHead + "<regitem loc=\"1\" typ=\"1\" key=\"NewsPoll\">1e</regitem>"
                                   "<regitem typ=\"2\" key=\"ServerNewsUrl\">http://news/</regitem>"
                                   "<regitem typ=\"2\" key=\"\">ignored</regitem></tandroresp>"),
      ERR_NONE);
  CRegistry registry(m_settingsDir.path());
  EXPECT_EQ(registry.GetGlobalIntValue("NewsPoll", -1), 30);
  EXPECT_EQ(registry.GetServerNewsUrl(), "http://news/");
}

}  // namespace
}  // namespace brontel
