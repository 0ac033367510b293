// XmlRequestor: the client side of one exchange with the server.
//
// A synchronization opens a request with SyncBegin, adds one record element per
// change the server must learn, and ends with SyncEnd, which sends the document,
// translates the answer and feeds it to the responder the requestor was built
// with. RequestGIDFromServer is a separate exchange that asks for a new account
// id. One requestor serves one exchange. Nothing is thrown: the transport's and
// the translation's results come back as br_error with GetErrorMessage set.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "brontel/core/enumerations.h"
#include "brontel/core/uid128.h"
#include "brontel/lists/link.h"
#include "brontel/protocol/xml_element.h"

namespace brontel {

class CalendarDescriptor;
class CategoryDescriptor;
class ContactDescriptor;
class EventDescriptor;
class EventList;
class LogList;
class TimeLogger;
class XmlResponder;

class XmlRequestor {
 public:
  // None of the pointers is owned; log list and time logger may be null.
  XmlRequestor(XmlResponder* responder, LogList* logList, TimeLogger* timeLogger);
  virtual ~XmlRequestor();
  XmlRequestor(const XmlRequestor&) = delete;
  XmlRequestor& operator=(const XmlRequestor&) = delete;

  // Record operations; each adds one element (EventClone up to three) to the
  // request. REQUIRES (all): SyncBegin has run.
  virtual void EventClicks(const EventList& events);
  virtual void CalendarDelete(const CalendarDescriptor& d, uint32_t sid, uint32_t ver);
  virtual void CalendarInsert(const CalendarDescriptor& d, uint32_t lid);
  virtual void CalendarUpdate(const CalendarDescriptor& d, uint32_t sid, uint32_t ver);
  virtual void EventDelete(uint32_t sid, uint32_t ver, bool flag);
  virtual void EventInsert(const EventDescriptor& d, const LinkList& links, uint32_t lid);
  virtual void EventClone(const EventDescriptor& d, const LinkList& added, const LinkList& removed,
                          uint32_t lid, uint32_t cid);
  virtual void EventUpdate(const EventDescriptor& d, uint32_t sid, uint32_t ver);
  virtual void EventInsertLinks(const LinkList& links, uint32_t sid, uint32_t ver);
  virtual void EventDeleteLinks(const LinkList& links, uint32_t sid, uint32_t ver);
  virtual void CategoryDelete(uint32_t sid, uint32_t ver, bool flag);
  virtual void CategoryInsert(const CategoryDescriptor& d, uint32_t lid);
  virtual void CategoryUpdate(const CategoryDescriptor& d, uint32_t sid, uint32_t ver);
  virtual void ContactDelete(uint32_t sid, uint32_t ver);
  virtual void ContactDeleteLink(const Link& link, uint32_t sid, uint32_t ver);
  virtual void ContactInsert(const ContactDescriptor& d, const Link& link, uint32_t lid);
  virtual void ContactInsertLink(const Link& link, uint32_t sid, uint32_t ver);
  virtual void ContactUpdate(const ContactDescriptor& d, uint32_t sid, uint32_t ver);

  // Opens the request for the table gid at version and delta version; the
  // revision text follows the build tag. REQUIRES: no request begun.
  virtual void SyncBegin(const UID128& gid, uint32_t version, uint32_t deltaVersion,
                         const std::string& revision);
  // The request text. REQUIRES: SyncBegin has run. Call once.
  virtual std::string SyncRequest();
  // Sends query to the server of the settings; stores the response.
  virtual br_error SyncServer(const std::string& query);
  // Translates response into responder calls.
  virtual br_error SyncEnd(const std::string& response);
  // SyncRequest, SyncServer and SyncEnd(response) in turn, logging the request
  // and the response when sync logging is on.
  virtual br_error SyncEnd();

  // Asks the server for a new account id for user and password; the id reaches
  // the caller through the responder. The password is never logged.
  // REQUIRES: no request begun.
  br_error RequestGIDFromServer(const std::string& user, const std::string& password);

  const std::string& GetErrorMessage() const { return m_errorMessage; }
  const std::string& GetResponse() const { return m_response; }
  // Adds title and text to the log list, when there is one.
  void Log(const std::string& title, const std::string& text);

 private:
  XmlElement& query();
  void describeCalendar(XmlElement& element, const CalendarDescriptor& d);
  void describeEvent(XmlElement& element, const EventDescriptor& d);
  void describeLinks(XmlElement& element, const LinkList& links);
  void describeCategory(XmlElement& element, const CategoryDescriptor& d);
  void describeContact(XmlElement& element, const ContactDescriptor& d);
  void describeLink(XmlElement& element, const Link& link);

  XmlResponder* m_responder;
  std::unique_ptr<XmlElement> m_query;
  LogList* m_logList;
  bool m_syncLogging;
  TimeLogger* m_timeLogger;
  std::string m_errorMessage;
  std::string m_response;
};

}  // namespace brontel
