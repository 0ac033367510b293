// XmlResponder: applies a server answer, already translated into calls, to one
// manager: a CalendarManager (calendar exchange) or a CategoryManager (contact
// exchange).
//
// Records are found by server id, created when missing, overwritten with the
// server's data and version and marked dirty with source server; deletions
// leave deleted records (tombstones), and after a full answer SyncEnd deletes
// every record the answer did not touch. Calls of the other family, and calls
// naming a record, calendar or contact the manager does not hold where one must
// exist, change nothing. No record is created without a server id or with a
// fixed id another record of its list carries (copies are matched by fixed
// id), so a coherent manager stays coherent. The manager's records are expected
// to be clean when SyncBegin is called.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>

#include "brontel/calendar/calendar_manager.h"
#include "brontel/contacts/category_manager.h"
#include "brontel/core/uid128.h"

namespace brontel {

class Calendar;
class CalendarDescriptor;
class CalendarEvent;
class Category;
class CategoryDescriptor;
class Contact;
class ContactDescriptor;
class Event;
class EventDescriptor;
class LinkList;
struct Link;

enum UpdateCallType : uint32_t {
  calendarType = 1,
  categoryType = 2,
};

// A conflict the server reports for one record of the request.
struct XML_CONFLICT {
  uint32_t m_act = 0;   // action code of the conflicting request
  uint32_t m_cerr = 0;  // the server's conflict error code
  uint32_t m_lid = 0;
  uint32_t m_sid = 0;
  uint32_t m_ctyp = 0;  // 1 calendar, 2 event, 3 category, 4 contact
};

class XmlResponder {
 public:
  // Action codes of record elements.
  static constexpr uint32_t kActInsert = 0;
  static constexpr uint32_t kActUpdate = 1;
  static constexpr uint32_t kActDelete = 2;
  static constexpr uint32_t kActDeleteOwned = 3;
  static constexpr uint32_t kActInsertLinks = 4;
  static constexpr uint32_t kActDeleteLinks = 5;

  // A calendar responder sharing manager. With createTombstones, a global
  // delete of an event the manager does not hold leaves a deleted event.
  // REQUIRES: manager is not null.
  XmlResponder(const CalendarManager& manager, const char* cachePath);
  XmlResponder(const CalendarManager& manager, const char* cachePath, bool createTombstones);
  // A contact responder sharing manager.
  // REQUIRES: manager is not null.
  XmlResponder(const CategoryManager& manager, const char* cachePath);
  XmlResponder(const XmlResponder&) = delete;
  XmlResponder& operator=(const XmlResponder&) = delete;

  // Stores full and version and gives the manager the table identity.
  // REQUIRES: version < 0x80000000 or version == 0xFFFFFFFF.
  virtual void SyncBegin(const UID128& gid, uint32_t version, uint32_t deltaVersion, bool full);
  // Stores value under key as a local or a global setting; nothing for an
  // empty key or one holding a control character such as a line break.
  virtual void RegistryPush(const std::string& key, bool local, const std::string& value);
  virtual void RegistryPush(const std::string& key, bool local, int32_t value);
  // Calendar responder: marks the event with server id eid as used.
  virtual void WebClick(uint32_t eid);
  // Calendar responder: the manager takes the wireless service address.
  virtual void SetPulsecastURL(const std::string& url, uint32_t version);

  // Calendars. The fixed id of a new calendar is the default calendar's for
  // the default calendar, else lid, or sid when lid is 0. d gets the shared
  // flag.
  virtual void CalendarConflict(const XML_CONFLICT* conflict);
  virtual void CalendarDelete(uint32_t lid, uint32_t sid, uint32_t ver);
  virtual void CalendarUpdate(CalendarDescriptor& d, uint32_t lid, uint32_t sid, uint32_t ver);

  // Events. The fixed id of a new event is lid, or sid when lid is 0. Links
  // name calendars by server id; links to calendars the manager does not hold
  // are skipped.
  virtual void EventConflict(const XML_CONFLICT* conflict);
  virtual void EventGlobalDelete(EventDescriptor& d, uint32_t lid, uint32_t sid, uint32_t ver);
  virtual void EventUpdate(EventDescriptor& d, uint32_t lid, uint32_t sid, uint32_t cid,
                           uint32_t ver);
  virtual void EventInsertLinks(uint32_t sid, const LinkList& links);
  virtual void EventDeleteLinks(uint32_t sid, const LinkList& links);

  // Categories and contacts. The fixed id of a new record is lid, or sid when
  // lid is 0; an update makes a deleted record live again, as for calendars
  // and events.
  virtual void CategoryConflict(const XML_CONFLICT* conflict);
  virtual void CategoryDelete(uint32_t sid, uint32_t ver);
  virtual void CategoryUpdate(CategoryDescriptor& d, uint32_t sid, uint32_t lid, uint32_t ver);
  virtual void ContactConflict(const XML_CONFLICT* conflict);
  virtual void ContactDelete(uint32_t sid, uint32_t ver);
  virtual void ContactDeleteLink(uint32_t sid, const Link& link);
  // The contact's category becomes the one with the link's server id, or
  // unfiled when the manager holds none.
  virtual void ContactInsertLink(uint32_t sid, const Link& link);
  virtual void ContactUpdate(ContactDescriptor& d, uint32_t sid, uint32_t lid, uint32_t ver);

  // After a full answer, every record not touched (not dirty) is deleted with
  // the answer's version; otherwise nothing.
  virtual void SyncEnd();
  virtual UpdateCallType GetType() const { return m_type; }
  virtual ~XmlResponder();

  const std::string& GetCachePath() const { return m_cachePath; }
  void SetErrorMessage(const std::string& message) { m_errorMessage = message; }
  const std::string& GetErrorMessage() const { return m_errorMessage; }
  bool IsFull() const { return m_full; }
  uint32_t GetVersion() const { return m_version; }

 private:
  // The manager's table version, given to records created by this answer.
  uint32_t tableVersion() const;
  bool isCalendar() const { return m_type == calendarType; }
  bool isContact() const { return m_type == categoryType; }
  // A record of that list already carries fixedId (0 is never taken).
  bool calendarFixedIdTaken(uint32_t fixedId) const;
  bool eventFixedIdTaken(uint32_t fixedId) const;
  bool categoryFixedIdTaken(uint32_t fixedId) const;
  bool contactFixedIdTaken(uint32_t fixedId) const;
  // A new event of the manager; a clone of the event with server id cid when
  // there is one. Null when sid is 0 or fixedId is taken.
  Event createEvent(EventDescriptor& d, uint32_t sid, uint32_t cid, uint32_t fixedId);
  // Places event in every calendar named by links that the manager holds, or
  // takes back the deletion of an existing placement; each one named is dirty.
  void insertLinks(Event& event, const LinkList& links);

  void deleteCalendar(Calendar& calendar, uint32_t ver);
  void deleteEvent(Event& event, uint32_t ver);
  void deleteCalendarEvent(CalendarEvent& link, uint32_t ver);
  void deleteCategory(Category& category, uint32_t ver);
  void deleteContact(Contact& contact, uint32_t ver);
  void deleteContactLink(Contact& contact, uint32_t ver);

  bool m_createTombstones = false;
  std::string m_cachePath;
  CalendarManager m_calendarManager;
  CategoryManager m_categoryManager = CategoryManager::CreateNull();
  std::string m_errorMessage;
  bool m_full = false;
  UpdateCallType m_type;
  uint32_t m_version = 0;
  // The server ids of the events this answer created here.
  std::unordered_set<uint32_t> m_newEvents;
};

}  // namespace brontel
