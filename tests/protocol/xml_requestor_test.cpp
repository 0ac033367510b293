// Tests of the request builder: the exact request text of every record
// operation, the root of sync and account-id requests, and the exchange
// itself through a requestor whose server step is replaced by a script.
#include "brontel/protocol/xml_requestor.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/core/log_list.h"
#include "brontel/core/log_node.h"
#include "brontel/host/registry.h"
#include "brontel/protocol/xml_responder.h"
#include "support/api_fixture.h"
#include "support/scripted_http_client.h"

namespace brontel {
namespace {

constexpr char kStamp[] = "BRy2000m03d29t1052";

// The record elements a requestor wrote after SyncBegin, without the root
// and the gid element.
class RequestorTest : public testing::ApiTest {
 protected:
  std::string Records(const std::function<void(XmlRequestor&)>& write, bool contacts = false) {
    CalendarManager calendars = CalendarManager::CreateEmpty();
    CategoryManager categories = CategoryManager::CreateEmpty();
    XmlResponder calendarResponder(calendars, "");
    XmlResponder contactResponder(categories, "");
    XmlRequestor requestor(contacts ? &contactResponder : &calendarResponder, nullptr, nullptr);
    requestor.SyncBegin(UID128(), 1, 0, "t");
    write(requestor);
    std::string text = requestor.SyncRequest();
    size_t from = text.find("</gid>") + 6;
    size_t to = text.rfind("</tandroreq>");
    return text.substr(from, to - from);
  }
};

TEST_F(RequestorTest, SyncBeginWritesTheRootAttributesInOrder) {
  CategoryManager categories = CategoryManager::CreateEmpty();
  XmlResponder responder(categories, "");
  XmlRequestor requestor(&responder, nullptr, nullptr);
  UID128 gid;
  gid.SetByte(15, 0xAB);
  requestor.SyncBegin(gid, 0x1A, 0, "3");
  EXPECT_EQ(requestor.SyncRequest(),
            std::string("<tandroreq ts=\"0\" ver=\"1a\" rev=\"") + kStamp +
                ":3\" lev=\"3\" typ=\"2\"><gid>AB000000-0000-0000-0000-000000000000</gid>"
                "</tandroreq>");

  CalendarManager calendars = CalendarManager::CreateEmpty();
  XmlResponder calendarResponder(calendars, "");
  XmlRequestor calendarRequestor(&calendarResponder, nullptr, nullptr);
  calendarRequestor.SyncBegin(UID128(), 2, 1, "x");
  EXPECT_EQ(calendarRequestor.SyncRequest().find("typ="), std::string::npos);
}

TEST_F(RequestorTest, CalendarElements) {
  CalendarDescriptor plain;
  plain.SetCalendarName("Work & Play");
  plain.SetColor(0x123456);
  CalendarDescriptor main;
  main.SetCalendarName("Calendar");
  main.SetDescription("mine");
  main.SetColor(0x00FF00);
  main.SetDefaultCalendar(true);
  main.SetReadOnlyFlag(true);
  CalendarDescriptor shared;
  shared.SetCalendarName("Club");
  shared.SetOwnedFlag(false);
  struct Case {
    std::function<void(XmlRequestor&)> write;
    const char* text;
  };
  for (const Case& c : std::vector<Case>{
           {[&](XmlRequestor& r) { r.CalendarInsert(plain, 0x80000001); },
            "<calendar lid=\"80000001\" ver=\"0\" act=\"0\" ro=\"0\" hide=\"0\" own=\"1\">"
            "<name>Work &amp; Play</name><color>123456</color></calendar>"},
           {[&](XmlRequestor& r) { r.CalendarUpdate(main, 0x12, 0x1f); },
            "<calendar sid=\"12\" lid=\"0\" ver=\"1f\" act=\"1\" ro=\"1\" hide=\"0\" own=\"1\">"
            "<name>Calendar</name><desc>mine</desc><color>100ff00</color></calendar>"},
           {[&](XmlRequestor& r) { r.CalendarDelete(plain, 0x12, 0x1f); },
            "<calendar sid=\"12\" lid=\"0\" ver=\"1f\" act=\"3\" ro=\"0\" hide=\"0\" own=\"1\">"
            "<name>Work &amp; Play</name></calendar>"},
           {[&](XmlRequestor& r) { r.CalendarDelete(shared, 0x13, 0x1f); },
            "<calendar sid=\"13\" lid=\"0\" ver=\"1f\" act=\"2\" ro=\"0\" hide=\"0\" own=\"1\">"
            "<name>Club</name></calendar>"},
       }) {
    EXPECT_EQ(Records(c.write), c.text);
  }
}

TEST_F(RequestorTest, EventElements) {
  EventDescriptor lunch;
  lunch.SetName("Lunch");
  lunch.SetYearMonthDate(0x3d21);
  lunch.SetStartTime(0x0c00);
  lunch.SetEndTime(0x0d00);
  EventDescriptor weekly = lunch.Clone();
  weekly.SetNote("bring\nfood");
  weekly.SetRepeatType(2);
  weekly.SetRepeatFrequency(1);
  weekly.SetRepeatOn(4);
  weekly.SetRepeatEndYearMonthDate(0xFFFF);
  weekly.AddExceptionYearMonthDate(0x3d28);
  EventDescriptor notRepeating = weekly.Clone();
  notRepeating.SetRepeatType(0);
  LinkList links;
  links.Append(Link(0x12, 0x80000001, 0x1f, 0));
  links.Append(Link(0, 7, 0x1f, 0));
  LinkList none;
  const std::string kLunch = "<name>Lunch</name><time ymd=\"3d21\" beg=\"c00\" end=\"d00\"/>";
  const std::string kLinks = "<link psid=\"12\" pver=\"1f\"/><link psid=\"7\" pver=\"ffffffff\"/>";
  struct Case {
    std::function<void(XmlRequestor&)> write;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {[&](XmlRequestor& r) { r.EventInsert(lunch, links, 0x80000002); },
            "<event lid=\"80000002\" act=\"0\">" + kLunch + kLinks + "</event>"},
           {[&](XmlRequestor& r) { r.EventUpdate(weekly, 0x20, 0x1f); },
            "<event sid=\"20\" ver=\"1f\" act=\"1\"><name>Lunch</name><note>bring\\nfood</note>"
            "<time ymd=\"3d21\" beg=\"c00\" end=\"d00\"/>"
            "<repeat typ=\"2\" end=\"ffff\" frq=\"1\" ron=\"4\" fdw=\"0\"/>"
            "<exclude ymd=\"3d28\"/></event>"},
           {[&](XmlRequestor& r) { r.EventUpdate(notRepeating, 0x20, 0x1f); },
            "<event sid=\"20\" ver=\"1f\" act=\"1\"><name>Lunch</name><note>bring\\nfood</note>"
            "<time ymd=\"3d21\" beg=\"c00\" end=\"d00\"/></event>"},
           {[&](XmlRequestor& r) { r.EventDelete(0x20, 0x1f, true); },
            "<event sid=\"20\" lid=\"0\" ver=\"1f\" act=\"3\" ro=\"0\" hide=\"0\" own=\"1\"/>"},
           {[&](XmlRequestor& r) { r.EventInsertLinks(links, 0x20, 0x1f); },
            "<event sid=\"20\" ver=\"1f\" act=\"4\">" + kLinks + "</event>"},
           {[&](XmlRequestor& r) { r.EventDeleteLinks(links, 0x20, 0x1f); },
            "<event sid=\"20\" ver=\"1f\" act=\"5\">" + kLinks + "</event>"},
           {[&](XmlRequestor& r) { r.EventClone(lunch, none, none, 0x80000003, 0); },
            "<event lid=\"80000003\" act=\"0\">" + kLunch + "</event>"},
           {[&](XmlRequestor& r) { r.EventClone(lunch, links, links, 0x80000003, 0x20); },
            "<event cid=\"20\" lid=\"80000003\" act=\"0\">" + kLunch +
                "</event><event lid=\"80000003\" act=\"4\">" + kLinks +
                "</event><event lid=\"80000003\" act=\"5\">" + kLinks + "</event>"},
       }) {
    EXPECT_EQ(Records(c.write), c.text);
  }
}

TEST_F(RequestorTest, ContactElements) {
  CategoryDescriptor family;
  family.SetCategoryName("Family");
  family.SetColor(0xff);
  ContactDescriptor ann;
  ann.SetDatum(18, "Smith");
  ann.SetDatum(0, "1 Main St");
  ann.SetFlags(0x40001);
  ann.SetOptions(0x100000);
  ann.SetOffset(2);
  ContactDescriptor empty;
  Link link(0x2, 0x80000001, 0x9, 0);
  struct Case {
    std::function<void(XmlRequestor&)> write;
    std::string text;
  };
  for (const Case& c : std::vector<Case>{
           {[&](XmlRequestor& r) { r.CategoryInsert(family, 0x80000001); },
            "<category act=\"0\" lid=\"80000001\" ro=\"0\" own=\"1\"><name>Family</name>"
            "<color>ff</color></category>"},
           {[&](XmlRequestor& r) { r.CategoryUpdate(family, 2, 9); },
            "<category act=\"1\" sid=\"2\" ver=\"9\" ro=\"0\" own=\"1\"><name>Family</name>"
            "<color>ff</color></category>"},
           {[&](XmlRequestor& r) { r.CategoryDelete(2, 9, false); },
            "<category act=\"2\" sid=\"2\" ver=\"9\"/>"},
           {[&](XmlRequestor& r) { r.ContactInsert(ann, link, 0x80000004); },
            "<contact act=\"0\" lid=\"80000004\" flg=\"40001\" opt=\"100000\" ofs=\"2\">"
            "<datum index=\"0\">1 Main St</datum><datum index=\"12\">Smith</datum>"
            "<link psid=\"2\" pver=\"9\"/></contact>"},
           {[&](XmlRequestor& r) { r.ContactUpdate(empty, 4, 9); },
            "<contact act=\"1\" sid=\"4\" ver=\"9\" flg=\"0\" opt=\"0\" ofs=\"0\"/>"},
           {[&](XmlRequestor& r) { r.ContactDelete(4, 9); },
            "<contact act=\"3\" sid=\"4\" ver=\"9\"/>"},
           {[&](XmlRequestor& r) { r.ContactInsertLink(link, 4, 9); },
            "<contact act=\"4\" sid=\"4\" ver=\"9\"><link psid=\"2\" pver=\"9\"/></contact>"},
           {[&](XmlRequestor& r) { r.ContactDeleteLink(Link(0, 7, 9, 1), 4, 9); },
            "<contact act=\"5\" sid=\"4\" ver=\"9\"><link psid=\"7\" pver=\"ffffffff\"/>"
            "</contact>"},
       }) {
    EXPECT_EQ(Records(c.write, true), c.text);
  }
}

TEST_F(RequestorTest, AnExchangeLogsRequestAndResponseAndFeedsTheResponder) {
  CRegistry().SetSyncLogging(1);
  CategoryManager categories = CategoryManager::CreateEmpty();
  XmlResponder responder(categories, "");
  LogList log;
  testing::ScriptedHttpClient http;
  XmlRequestor requestor(&responder, &log, nullptr);
  http.Answer(200,
              "<tandroresp ts=\"5\" sts=\"1\" ver=\"9\" rev=\"r\" full=\"0\">"
              "<gid>00000000-0000-0000-0000-000000000001</gid>"
              "<category act=\"0\" sid=\"2\" lid=\"80000001\" ver=\"9\" ro=\"0\" own=\"1\">"
              "<name>Family</name></category></tandroresp>");
  requestor.SyncBegin(UID128(), 0xFFFFFFFF, 0, "t");
  EXPECT_EQ(requestor.SyncEnd(), ERR_NONE) << requestor.GetErrorMessage();
  ASSERT_EQ(http.requests().size(), 1u);
  ASSERT_EQ(log.GetListCount(), 2);
  EXPECT_EQ(log[0].GetName(), "....Xml Request");
  EXPECT_EQ(log[0].GetItem()->GetDisplayString(), http.requests()[0].body);
  EXPECT_EQ(log[1].GetName(), "....Xml Response");
  EXPECT_EQ(categories.GetVersion(), 9u);
  EXPECT_FALSE(categories.FindByServeId(2, false).IsNull());
}

TEST_F(RequestorTest, AFailedTransportSkipsTheTranslation) {
  CategoryManager categories = CategoryManager::CreateEmpty();
  XmlResponder responder(categories, "");
  testing::ScriptedHttpClient http;
  http.Drop("connection reset");
  XmlRequestor requestor(&responder, nullptr, nullptr);
  requestor.SyncBegin(UID128(), 0xFFFFFFFF, 0, "t");
  EXPECT_EQ(requestor.SyncEnd(), ERR_CONNECTION);
  EXPECT_EQ(categories.GetVersion(), 0xFFFFFFFFu);
}

TEST_F(RequestorTest, TheAccountIdRequestNeverLogsThePassword) {
  CRegistry().SetSyncLogging(1);
  CategoryManager categories = CategoryManager::CreateEmpty();
  XmlResponder responder(categories, "");
  LogList log;
  testing::ScriptedHttpClient http;
  http.Answer(200,
              "<tandroresp ts=\"0\" sts=\"1\" ver=\"0\" rev=\"r\">"
              "<newgid>00000000-0000-0000-0000-0000000000AB</newgid></tandroresp>");
  XmlRequestor requestor(&responder, &log, nullptr);
  EXPECT_EQ(requestor.RequestGIDFromServer("ann & bob", "s3cr<t"), ERR_NONE)
      << requestor.GetErrorMessage();
  ASSERT_EQ(http.requests().size(), 1u);
  EXPECT_EQ(http.requests()[0].body, std::string("<tandroreq ts=\"0\" ver=\"0\" rev=\"") + kStamp +
                                         "\"><username>ann &amp; bob</username>"
                                         "<password enc=\"0\">s3cr&lt;t</password></tandroreq>");
  ASSERT_GE(log.GetListCount(), 1);
  EXPECT_EQ(log[0].GetName(), "....Xml GID Request");
  std::string logged = log[0].GetItem()->GetDisplayString();
  EXPECT_EQ(logged.find("s3cr"), std::string::npos) << logged;
  EXPECT_NE(logged.find("<password enc=\"0\">****</password>"), std::string::npos) << logged;
  EXPECT_EQ(categories.GetGID().GetByte(0), 0xAB);
}

}  // namespace
}  // namespace brontel
