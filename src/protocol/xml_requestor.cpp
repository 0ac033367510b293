#include "brontel/protocol/xml_requestor.h"

#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_lists.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/core/build_tag.h"
#include "brontel/core/log_list.h"
#include "brontel/host/registry.h"
#include "brontel/host/time_logger.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"
#include "brontel/protocol/response_translator.h"
#include "brontel/protocol/xml_query_server.h"
#include "brontel/protocol/xml_responder.h"

namespace brontel {

namespace {

// Action codes of record elements.
constexpr uint32_t kInsert = 0;
constexpr uint32_t kUpdate = 1;
constexpr uint32_t kDelete = 2;
constexpr uint32_t kDeleteOwned = 3;
constexpr uint32_t kInsertLinks = 4;
constexpr uint32_t kDeleteLinks = 5;
constexpr uint32_t kProtocolLevel = 3;

// A child element holding only a value, left out when the value is empty and
// skipEmpty is set.
void AddTextChild(XmlElement& parent, const char* name, const std::string& value, bool skipEmpty) {
  if (skipEmpty && value.empty()) return;
  XmlElement child(name, &parent);
  child.AddValue(value);
}

}  // namespace

XmlRequestor::XmlRequestor(XmlResponder* responder, LogList* logList, TimeLogger* timeLogger)
    : m_responder(responder),
      m_logList(logList),
      m_syncLogging(CRegistry().GetSyncLogging() != 0),
      m_timeLogger(timeLogger) {}

XmlRequestor::~XmlRequestor() = default;

XmlElement& XmlRequestor::query() {
  BRONTEL_REQUIRE(m_query != nullptr, "m_query");
  return *m_query;
}

void XmlRequestor::Log(const std::string& title, const std::string& text) {
  if (m_logList != nullptr) m_logList->Log(title, text);
}

// ---- descriptions ----

void XmlRequestor::describeCalendar(XmlElement& element, const CalendarDescriptor& d) {
  element.AddAttributeFlag("ro", d.GetReadOnlyFlag());
  element.AddAttributeFlag("hide", d.GetHideDetailsFlag());
  element.AddAttributeFlag("own", d.GetOwnedFlag());
  AddTextChild(element, "name", d.GetCalendarName(), false);
  AddTextChild(element, "desc", d.GetDescription(), true);
  XmlElement color("color", &element);
  color.AddValue(d.GetColor() + (d.IsDefaultCalendar() ? 0x1000000u : 0u));
}

void XmlRequestor::describeEvent(XmlElement& element, const EventDescriptor& d) {
  AddTextChild(element, "name", d.GetName(), false);
  AddTextChild(element, "note", d.GetNote(), true);
  {
    XmlElement time("time", &element);
    time.AddAttribute("ymd", d.GetYearMonthDate());
    time.AddAttribute("beg", d.GetStartTime());
    time.AddAttribute("end", d.GetEndTime());
  }
  if (d.GetRepeatType() != 0) {
    {
      XmlElement repeat("repeat", &element);
      repeat.AddAttribute("typ", d.GetRepeatType());
      repeat.AddAttribute("end", d.GetRepeatEndYearMonthDate());
      repeat.AddAttribute("frq", d.GetRepeatFrequency());
      repeat.AddAttribute("ron", d.GetRepeatOn());
      repeat.AddAttribute("fdw", d.GetRepeatStartOfWeek());
    }
    for (int32_t i = 0; i < d.GetRepeatExceptionCount(); ++i) {
      XmlElement exclude("exclude", &element);
      exclude.AddAttribute("ymd", d.GetExceptionYearMonthDate(i));
    }
  }
  const WebContent& web = d.GetWebContent();
  if (!web.IsEmpty()) {
    XmlElement child("web", &element);
    AddTextChild(child, "button", web.GetButtonLabel(), true);
    AddTextChild(child, "dturl", web.GetDesktopURL(), true);
    AddTextChild(child, "p7url", web.GetPalm7URL(), true);
    AddTextChild(child, "sponsor", web.GetSponsor(), true);
    AddTextChild(child, "text", web.GetText(), true);
  }
}

void XmlRequestor::describeLink(XmlElement& element, const Link& link) {
  XmlElement child("link", &element);
  if (link.GetServeId() != 0) {
    child.AddAttribute("psid", link.GetServeId());
    child.AddAttribute("pver", link.GetVersion());
  } else {
    // A parent the server does not know yet goes by the client's fixed id.
    child.AddAttribute("psid", link.GetFixedId());
    child.AddAttribute("pver", uint32_t{0xFFFFFFFF});
  }
}

void XmlRequestor::describeLinks(XmlElement& element, const LinkList& links) {
  for (int32_t i = 0; i < links.GetListCount(); ++i) describeLink(element, links[i]);
}

void XmlRequestor::describeCategory(XmlElement& element, const CategoryDescriptor& d) {
  element.AddAttributeFlag("ro", d.GetReadOnlyFlag());
  element.AddAttributeFlag("own", d.GetOwnedFlag());
  AddTextChild(element, "name", d.GetCategoryName(), false);
  AddTextChild(element, "desc", d.GetDescription(), true);
  XmlElement color("color", &element);
  color.AddValue(d.GetColor());
}

void XmlRequestor::describeContact(XmlElement& element, const ContactDescriptor& d) {
  element.AddAttribute("flg", d.GetFlags());
  element.AddAttribute("opt", d.GetOptions());
  element.AddAttribute("ofs", d.GetOffset());
  for (int32_t i = 0; i < ContactDescriptor::numDatums; ++i) {
    const std::string& datum = d.GetDatum(i);
    if (datum.empty()) continue;
    XmlElement child("datum", &element);
    child.AddAttribute("index", static_cast<uint32_t>(i));
    child.AddValue(datum);
  }
}

// ---- calendar records ----

void XmlRequestor::EventClicks(const EventList& events) {
  XmlElement orvel("orvel", &query());
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    XmlElement click("click", &orvel);
    click.AddAttribute("eid", events[i].GetServeId());
  }
}

void XmlRequestor::CalendarDelete(const CalendarDescriptor& d, uint32_t sid, uint32_t ver) {
  XmlElement e("calendar", &query());
  e.AddAttribute("sid", sid);
  e.AddAttribute("lid", uint32_t{0});
  e.AddAttribute("ver", ver);
  e.AddAttribute("act", d.GetOwnedFlag() ? kDeleteOwned : kDelete);
  e.AddAttributeFlag("ro", false);
  e.AddAttributeFlag("hide", false);
  e.AddAttributeFlag("own", true);
  AddTextChild(e, "name", d.GetCalendarName(), false);
}

void XmlRequestor::CalendarInsert(const CalendarDescriptor& d, uint32_t lid) {
  XmlElement e("calendar", &query());
  e.AddAttribute("lid", lid);
  e.AddAttribute("ver", uint32_t{0});
  e.AddAttribute("act", kInsert);
  describeCalendar(e, d);
}

void XmlRequestor::CalendarUpdate(const CalendarDescriptor& d, uint32_t sid, uint32_t ver) {
  XmlElement e("calendar", &query());
  e.AddAttribute("sid", sid);
  e.AddAttribute("lid", uint32_t{0});
  e.AddAttribute("ver", ver);
  e.AddAttribute("act", kUpdate);
  describeCalendar(e, d);
}

void XmlRequestor::EventDelete(uint32_t sid, uint32_t ver, bool flag) {
  XmlElement e("event", &query());
  e.AddAttribute("sid", sid);
  e.AddAttribute("lid", uint32_t{0});
  e.AddAttribute("ver", ver);
  e.AddAttribute("act", flag ? kDeleteOwned : kDelete);
  e.AddAttributeFlag("ro", false);
  e.AddAttributeFlag("hide", false);
  e.AddAttributeFlag("own", true);
}

void XmlRequestor::EventInsert(const EventDescriptor& d, const LinkList& links, uint32_t lid) {
  XmlElement e("event", &query());
  e.AddAttribute("lid", lid);
  e.AddAttribute("act", kInsert);
  describeEvent(e, d);
  describeLinks(e, links);
}

void XmlRequestor::EventClone(const EventDescriptor& d, const LinkList& added,
                              const LinkList& removed, uint32_t lid, uint32_t cid) {
  {
    XmlElement e("event", &query());
    if (cid != 0) e.AddAttribute("cid", cid);
    e.AddAttribute("lid", lid);
    e.AddAttribute("act", kInsert);
    describeEvent(e, d);
  }
  for (const auto& [links, act] : {std::pair<const LinkList&, uint32_t>{added, kInsertLinks},
                                   std::pair<const LinkList&, uint32_t>{removed, kDeleteLinks}}) {
    if (links.GetListCount() == 0) continue;
    XmlElement e("event", &query());
    e.AddAttribute("lid", lid);
    e.AddAttribute("act", act);
    describeLinks(e, links);
  }
}

void XmlRequestor::EventUpdate(const EventDescriptor& d, uint32_t sid, uint32_t ver) {
  XmlElement e("event", &query());
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  e.AddAttribute("act", kUpdate);
  describeEvent(e, d);
}

void XmlRequestor::EventInsertLinks(const LinkList& links, uint32_t sid, uint32_t ver) {
  XmlElement e("event", &query());
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  e.AddAttribute("act", kInsertLinks);
  describeLinks(e, links);
}

void XmlRequestor::EventDeleteLinks(const LinkList& links, uint32_t sid, uint32_t ver) {
  XmlElement e("event", &query());
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  e.AddAttribute("act", kDeleteLinks);
  describeLinks(e, links);
}

// ---- contact records ----

void XmlRequestor::CategoryDelete(uint32_t sid, uint32_t ver, bool flag) {
  XmlElement e("category", &query());
  e.AddAttribute("act", flag ? kDeleteOwned : kDelete);
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
}

void XmlRequestor::CategoryInsert(const CategoryDescriptor& d, uint32_t lid) {
  XmlElement e("category", &query());
  e.AddAttribute("act", kInsert);
  e.AddAttribute("lid", lid);
  describeCategory(e, d);
}

void XmlRequestor::CategoryUpdate(const CategoryDescriptor& d, uint32_t sid, uint32_t ver) {
  XmlElement e("category", &query());
  e.AddAttribute("act", kUpdate);
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  describeCategory(e, d);
}

void XmlRequestor::ContactDelete(uint32_t sid, uint32_t ver) {
  XmlElement e("contact", &query());
  e.AddAttribute("act", kDeleteOwned);
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
}

void XmlRequestor::ContactDeleteLink(const Link& link, uint32_t sid, uint32_t ver) {
  XmlElement e("contact", &query());
  e.AddAttribute("act", kDeleteLinks);
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  describeLink(e, link);
}

void XmlRequestor::ContactInsert(const ContactDescriptor& d, const Link& link, uint32_t lid) {
  XmlElement e("contact", &query());
  e.AddAttribute("act", kInsert);
  e.AddAttribute("lid", lid);
  describeContact(e, d);
  describeLink(e, link);
}

void XmlRequestor::ContactInsertLink(const Link& link, uint32_t sid, uint32_t ver) {
  XmlElement e("contact", &query());
  e.AddAttribute("act", kInsertLinks);
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  describeLink(e, link);
}

void XmlRequestor::ContactUpdate(const ContactDescriptor& d, uint32_t sid, uint32_t ver) {
  XmlElement e("contact", &query());
  e.AddAttribute("act", kUpdate);
  e.AddAttribute("sid", sid);
  e.AddAttribute("ver", ver);
  describeContact(e, d);
}

// ---- the exchange ----

void XmlRequestor::SyncBegin(const UID128& gid, uint32_t version, uint32_t deltaVersion,
                             const std::string& revision) {
  BRONTEL_REQUIRE(m_query == nullptr, "m_query == 0");
  m_query = std::make_unique<XmlElement>("tandroreq", nullptr);
  m_query->AddAttribute("ts", deltaVersion);
  m_query->AddAttribute("ver", version);
  m_query->AddAttribute("rev", std::string(kBuildTag) + ":" + revision);
  m_query->AddAttribute("lev", kProtocolLevel);
  if (m_responder->GetType() != calendarType) {
    m_query->AddAttribute("typ", static_cast<uint32_t>(m_responder->GetType()));
  }
  XmlElement child("gid", m_query.get());
  child.AddValue(gid);
}

std::string XmlRequestor::SyncRequest() {
  return query().Query();
}

br_error XmlRequestor::SyncServer(const std::string& request) {
  XmlQueryServer server;
  std::string stage = Format("Query Server %d bytes", static_cast<int32_t>(request.size()));
  if (m_timeLogger != nullptr) m_timeLogger->MarkBegin(stage);
  br_error result = server.ResponseToQuery(request, true);
  if (m_timeLogger != nullptr) m_timeLogger->MarkEnd(stage);
  m_errorMessage = server.GetErrorMessage();
  m_response = server.GetResponse();
  return result;
}

br_error XmlRequestor::SyncEnd(const std::string& response) {
  ResponseTranslator translator(m_responder, m_timeLogger);
  br_error result = translator.Translate(response);
  m_errorMessage = translator.GetErrorMessage();
  return result;
}

br_error XmlRequestor::SyncEnd() {
  std::string request = SyncRequest();
  if (m_syncLogging) Log("....Xml Request", request);
  br_error result = SyncServer(request);
  if (result != ERR_NONE) return result;
  if (m_syncLogging) Log("....Xml Response", m_response);
  return SyncEnd(m_response);
}

br_error XmlRequestor::RequestGIDFromServer(const std::string& user, const std::string& password) {
  BRONTEL_REQUIRE(m_query == nullptr, "m_query == 0");
  // The request as sent, and as logged: the password never reaches a log.
  auto build = [&](const std::string& shownPassword) {
    auto root = std::make_unique<XmlElement>("tandroreq", nullptr);
    root->AddAttribute("ts", uint32_t{0});
    root->AddAttribute("ver", std::string("0"));
    root->AddAttribute("rev", std::string(kBuildTag));
    AddTextChild(*root, "username", user, false);
    XmlElement secret("password", root.get());
    secret.AddAttribute("enc", std::string("0"));
    secret.AddValue(shownPassword);
    secret.Close();
    return root;
  };
  m_query = build(password);
  std::string request = m_query->Query();
  if (m_syncLogging) Log("....Xml GID Request", build("****")->Query());
  br_error result = SyncServer(request);
  if (result != ERR_NONE) return result;
  if (m_syncLogging) Log("....Xml Response", m_response);
  ResponseTranslator translator(m_responder, nullptr);
  result = translator.Translate(m_response);
  m_errorMessage = translator.GetErrorMessage();
  return result;
}

}  // namespace brontel
