#include "brontel/protocol/xml_responder.h"

#include "brontel/calendar/calendar.h"
#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/calendar_event.h"
#include "brontel/calendar/event.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/core/hasher.h"
#include "brontel/core/versioning.h"
#include "brontel/host/registry.h"
#include "brontel/lists/link.h"
#include "brontel/platform/precondition.h"

namespace brontel {

namespace {

// The fixed id the server's record gets when it is new here: the client's id
// it names, else its server id.
//
// A server id that a record here already holds as its fixed id was taken by
// a record of this copy's own: one it sent back as new after the server had
// withdrawn the record it came from. The server's record still comes in, with
// fixed id 0, and takes a free one when it reaches the cache. A record that
// names a client id already held here is dropped.
uint32_t NewFixedId(uint32_t lid, uint32_t sid) {
  return lid != 0 ? lid : sid;
}

// A setting's name is one line of text in the settings store. A name with a
// line break (or any other control character) would end its line early and be
// read back as other keys and values, so the server may not push one.
bool IsSettingName(const std::string& key) {
  if (key.empty()) return false;
  for (char c : key) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u == 0x7F) return false;
  }
  return true;
}

}  // namespace

XmlResponder::XmlResponder(const CalendarManager& manager, const char* cachePath)
    : XmlResponder(manager, cachePath, false) {}

XmlResponder::XmlResponder(const CalendarManager& manager, const char* cachePath,
                           bool createTombstones)
    : m_createTombstones(createTombstones),
      m_cachePath(cachePath == nullptr ? "" : cachePath),
      m_calendarManager(manager),
      m_type(calendarType) {
  BRONTEL_REQUIRE(!manager.IsNull(), "!manager.IsNull()");
}

XmlResponder::XmlResponder(const CategoryManager& manager, const char* cachePath)
    : m_cachePath(cachePath == nullptr ? "" : cachePath),
      m_categoryManager(manager),
      m_type(categoryType) {
  BRONTEL_REQUIRE(!manager.IsNull(), "!manager.IsNull()");
}

XmlResponder::~XmlResponder() = default;

uint32_t XmlResponder::tableVersion() const {
  return isCalendar() ? m_calendarManager.GetVersion() : m_categoryManager.GetVersion();
}

bool XmlResponder::calendarFixedIdTaken(uint32_t fixedId) const {
  return !m_calendarManager.FindByFixedId(fixedId, false).IsNull();
}
bool XmlResponder::eventFixedIdTaken(uint32_t fixedId) const {
  return !m_calendarManager.FindEventByFixedId(fixedId, false).IsNull();
}
bool XmlResponder::categoryFixedIdTaken(uint32_t fixedId) const {
  return !m_categoryManager.FindByFixedId(fixedId, false).IsNull();
}
bool XmlResponder::contactFixedIdTaken(uint32_t fixedId) const {
  return !m_categoryManager.FindContactByFixedId(fixedId, false).IsNull();
}

// ---- the exchange ----

void XmlResponder::SyncBegin(const UID128& gid, uint32_t version, uint32_t deltaVersion,
                             bool full) {
  m_full = full;
  m_version = version;
  m_newEvents.clear();
  if (isCalendar()) {
    m_calendarManager.SetGID(gid);
    m_calendarManager.SetVersion(version);
    m_calendarManager.SetDeltaVersion(deltaVersion);
  } else {
    m_categoryManager.SetGID(gid);
    m_categoryManager.SetVersion(version);
    m_categoryManager.SetDeltaVersion(deltaVersion);
  }
}

void XmlResponder::SyncEnd() {
  if (!m_full) return;
  if (isContact()) {
    CategoryList& categories = m_categoryManager.GetCategoryList();
    for (int32_t i = 0; i < categories.GetListCount(); ++i) {
      Category category = categories[i];
      if (!category.IsNull() && !category.IsDirty()) deleteCategory(category, m_version);
    }
    ContactList& contacts = m_categoryManager.GetContactList();
    for (int32_t i = 0; i < contacts.GetListCount(); ++i) {
      Contact contact = contacts[i];
      if (contact.IsNull() || contact.IsDirty()) continue;
      deleteContact(contact, m_version);
      deleteContactLink(contact, m_version);
    }
    return;
  }
  CalendarList& calendars = m_calendarManager.GetCalendarList();
  for (int32_t i = 0; i < calendars.GetListCount(); ++i) {
    Calendar calendar = calendars[i];
    if (!calendar.IsNull() && !calendar.IsDirty()) deleteCalendar(calendar, m_version);
  }
  EventList& events = m_calendarManager.GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) {
    Event event = events[i];
    if (event.IsNull()) continue;
    if (!event.IsDirty()) {
      deleteEvent(event, m_version);
      continue;
    }
    CalendarEventList& links = event.GetCalendarEventList();
    for (int32_t j = 0; j < links.GetListCount(); ++j) {
      CalendarEvent link = links[j];
      if (!link.IsNull() && !link.IsDirty()) deleteCalendarEvent(link, m_version);
    }
  }
}

void XmlResponder::RegistryPush(const std::string& key, bool local, const std::string& value) {
  if (!IsSettingName(key)) return;
  CRegistry registry;
  if (local) {
    registry.SetLocalValue(key, value);
  } else {
    registry.SetGlobalValue(key, value);
  }
}

void XmlResponder::RegistryPush(const std::string& key, bool local, int32_t value) {
  if (!IsSettingName(key)) return;
  CRegistry registry;
  if (local) {
    registry.SetLocalValue(key, value);
  } else {
    registry.SetGlobalValue(key, value);
  }
}

void XmlResponder::WebClick(uint32_t eid) {
  if (!isCalendar()) return;
  Event event = m_calendarManager.FindEventByServeId(eid, false);
  if (!event.IsNull()) event.SetUseMe(1);
}

void XmlResponder::SetPulsecastURL(const std::string& url, uint32_t version) {
  if (isCalendar()) m_calendarManager.SetPulsecastURL(url, version);
}

// The server's conflict reports change nothing: the engines find conflicts by
// comparing the copies themselves.
void XmlResponder::CalendarConflict(const XML_CONFLICT*) {}
void XmlResponder::EventConflict(const XML_CONFLICT*) {}
void XmlResponder::CategoryConflict(const XML_CONFLICT*) {}
void XmlResponder::ContactConflict(const XML_CONFLICT*) {}

// ---- calendars ----

void XmlResponder::CalendarUpdate(CalendarDescriptor& d, uint32_t lid, uint32_t sid, uint32_t ver) {
  if (!isCalendar()) return;
  uint32_t fixedId =
      d.IsDefaultCalendar() ? Calendar::DefaultCalendarFixedId() : NewFixedId(lid, sid);
  d.SetSharedFlag(true);
  uint32_t hash = d.CalculateHash();
  Calendar calendar = m_calendarManager.FindCalendarByServeId(sid, false);
  if (calendar.IsNull()) {
    if (sid == 0 || calendarFixedIdTaken(fixedId)) return;
    calendar = m_calendarManager.CreateNewCalendar();
    calendar.SetServeId(sid);
    calendar.SetFixedId(fixedId);
    calendar.GetRecordIdentification().SetCreateVersion(d.GetOwnedFlag() ? tableVersion() : ver);
  }
  calendar.GetCalendarDescriptor().Copy(d, true);
  calendar.SetVersion(ver);
  calendar.SetDeletedNot();
  calendar.SetDataHash(hash);
  calendar.SetSource(SOURCE_SERVER);
  calendar.SetDirty();
}

void XmlResponder::CalendarDelete(uint32_t lid, uint32_t sid, uint32_t ver) {
  if (!isCalendar()) return;
  Calendar calendar = m_calendarManager.FindCalendarByServeId(sid, false);
  if (calendar.IsNull()) {
    uint32_t fixedId = NewFixedId(lid, sid);
    if (sid == 0 || calendarFixedIdTaken(fixedId)) return;
    calendar = m_calendarManager.CreateNewCalendar();
    calendar.SetServeId(sid);
    calendar.SetFixedId(fixedId);
    calendar.GetRecordIdentification().SetCreateVersion(tableVersion());
  }
  deleteCalendar(calendar, ver);
}

// ---- events ----

Event XmlResponder::createEvent(EventDescriptor& d, uint32_t sid, uint32_t cid, uint32_t fixedId) {
  if (sid == 0 || eventFixedIdTaken(fixedId)) return Event();
  Event source = cid == 0 ? Event() : m_calendarManager.FindEventByServeId(cid, false);
  Event event = source.IsNull() ? m_calendarManager.CreateNewEvent(d, sid, fixedId)
                                : source.CreateCloneEvent(d, sid, fixedId);
  event.GetRecordIdentification().SetCreateVersion(tableVersion());
  m_newEvents.insert(sid);
  return event;
}

void XmlResponder::EventUpdate(EventDescriptor& d, uint32_t lid, uint32_t sid, uint32_t cid,
                               uint32_t ver) {
  if (!isCalendar()) return;
  Event event = m_calendarManager.FindEventByServeId(sid, false);
  if (event.IsNull()) {
    uint32_t fixedId = NewFixedId(lid, sid);
    if (lid == 0 && eventFixedIdTaken(fixedId)) fixedId = 0;
    event = createEvent(d, sid, cid, fixedId);
    if (event.IsNull()) return;
  } else {
    if (event.IsDeleted()) event.GetRecordIdentification().SetCreateVersion(tableVersion());
    event.GetEventDescriptor().Copy(d);
  }
  event.SetVersion(ver);
  event.SetDeletedNot();
  event.SetDirty();
  event.SetDataHash(d.CalculateHash());
  event.SetSource(SOURCE_SERVER);
}

void XmlResponder::EventGlobalDelete(EventDescriptor& d, uint32_t lid, uint32_t sid, uint32_t ver) {
  if (!isCalendar()) return;
  Event event = m_calendarManager.FindEventByServeId(sid, false);
  // A tombstone takes the server id as its fixed id when the answer names no
  // client id, as every other record made here does; with fixed id 0 it could
  // never meet its counterpart in the cache.
  if (event.IsNull() && m_createTombstones) event = createEvent(d, sid, 0, NewFixedId(lid, sid));
  if (!event.IsNull()) deleteEvent(event, ver);
}

void XmlResponder::insertLinks(Event& event, const LinkList& links) {
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    const Link& link = links[i];
    Calendar calendar = m_calendarManager.FindCalendarByServeId(link.GetServeId(), false);
    if (calendar.IsNull()) continue;
    CalendarEvent placement =
        event.GetCalendarEventList().FindByCalendarServeId(link.GetServeId(), false);
    if (placement.IsNull()) {
      placement = event.AddToCalendar(calendar);
      placement.SetVersion(link.GetVersion());
      placement.GetRecordIdentification().SetCreateVersion(
          Versioning::NewestVersion(event.GetRecordIdentification().GetCreateVersion(),
                                    calendar.GetRecordIdentification().GetCreateVersion()));
    } else {
      placement.SetVersion(link.GetVersion());
      placement.SetDeletedNot();
    }
    placement.SetDirty();
  }
}

void XmlResponder::EventInsertLinks(uint32_t sid, const LinkList& links) {
  if (!isCalendar()) return;
  Event event = m_calendarManager.FindEventByServeId(sid, false);
  if (!event.IsNull()) insertLinks(event, links);
}

void XmlResponder::EventDeleteLinks(uint32_t sid, const LinkList& links) {
  if (!isCalendar()) return;
  Event event = m_calendarManager.FindEventByServeId(sid, false);
  if (event.IsNull()) return;
  // On an event this answer brought, every named placement exists first, so
  // that a delete of one this copy never had still leaves its deleted record:
  // a new repeat exception takes all of its original's placements into the
  // cache, and those deleted records take out the ones it lacks. On an event
  // held before, only a live placement is deleted. A placement this copy
  // never had, or had already seen deleted, can be in the cache only as the
  // user's own, not yet sent; a removal on the server cannot concern it, and
  // as a new deleted record here it would take the user's placement out of
  // the cache (and with the event's last placement, the event).
  const bool brought = m_newEvents.count(sid) != 0;
  if (brought) insertLinks(event, links);
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    CalendarEvent placement =
        event.GetCalendarEventList().FindByCalendarServeId(links[i].GetServeId(), false);
    if (placement.IsNull() || (!brought && placement.IsDeleted())) continue;
    deleteCalendarEvent(placement, links[i].GetVersion());
  }
}

// ---- categories and contacts ----

void XmlResponder::CategoryUpdate(CategoryDescriptor& d, uint32_t sid, uint32_t lid, uint32_t ver) {
  if (!isContact()) return;
  d.SetSharedFlag(true);
  uint32_t hash = d.CalculateHash();
  Category category = m_categoryManager.FindByServeId(sid, false);
  if (category.IsNull()) {
    uint32_t fixedId = NewFixedId(lid, sid);
    if (sid == 0 || categoryFixedIdTaken(fixedId)) return;
    category = m_categoryManager.CreateNewCategory(d, false);
    category.SetServeId(sid);
    category.SetFixedId(fixedId);
  } else {
    category.GetCategoryDescriptor().Copy(d);
  }
  category.SetVersion(ver);
  // The server holds the category, so a deleted copy here is live again.
  category.SetDeletedNot();
  category.SetDirty();
  category.SetDataHash(hash);
  category.SetSource(SOURCE_SERVER);
}

void XmlResponder::CategoryDelete(uint32_t sid, uint32_t ver) {
  if (!isContact()) return;
  Category category = m_categoryManager.FindByServeId(sid, false);
  if (!category.IsNull()) deleteCategory(category, ver);
}

void XmlResponder::ContactUpdate(ContactDescriptor& d, uint32_t sid, uint32_t lid, uint32_t ver) {
  if (!isContact()) return;
  uint32_t hash = d.CalculateHash();
  Contact contact = m_categoryManager.FindContactByServeId(sid, false);
  if (contact.IsNull()) {
    uint32_t fixedId = NewFixedId(lid, sid);
    if (lid == 0 && contactFixedIdTaken(fixedId)) fixedId = 0;
    if (sid == 0 || contactFixedIdTaken(fixedId)) return;
    contact = m_categoryManager.CreateNewContact();
    contact.GetContactDescriptor().Copy(d);
    contact.SetServeId(sid);
    contact.SetFixedId(fixedId);
    contact.GetRecordIdentification().SetCreateVersion(tableVersion());
  } else {
    contact.GetContactDescriptor().Copy(d);
  }
  contact.SetVersion(ver);
  // The server holds the contact, so a deleted copy here is live again.
  contact.SetDeletedNot();
  contact.SetDirty();
  contact.SetDataHash(hash);
  contact.SetSource(SOURCE_SERVER);
}

void XmlResponder::ContactDelete(uint32_t sid, uint32_t ver) {
  if (!isContact()) return;
  Contact contact = m_categoryManager.FindContactByServeId(sid, false);
  if (!contact.IsNull()) deleteContact(contact, ver);
}

void XmlResponder::ContactInsertLink(uint32_t sid, const Link& link) {
  if (!isContact()) return;
  Contact contact = m_categoryManager.FindContactByServeId(sid, false);
  if (contact.IsNull()) return;
  contact.SetCategory(m_categoryManager.FindByServeId(link.GetServeId(), false));
  contact.SetLinkVersion(link.GetVersion());
  contact.SetDirty();
}

void XmlResponder::ContactDeleteLink(uint32_t sid, const Link& link) {
  if (!isContact() || link.GetServeId() == 0) return;
  Contact contact = m_categoryManager.FindContactByServeId(sid, false);
  if (!contact.IsNull()) deleteContactLink(contact, link.GetVersion());
}

// ---- tombstones ----

void XmlResponder::deleteCalendar(Calendar& calendar, uint32_t ver) {
  calendar.SetVersion(ver);
  calendar.SetDirty();
  calendar.SetDeleted();
  calendar.SetDataHash(Hasher::GetNullHash());
  calendar.SetSource(SOURCE_SERVER);
}

void XmlResponder::deleteEvent(Event& event, uint32_t ver) {
  event.SetVersion(ver);
  event.SetDirty();
  event.SetDeletedGlobal();
  event.SetDataHash(Hasher::GetNullHash());
  event.SetSource(SOURCE_SERVER);
}

void XmlResponder::deleteCalendarEvent(CalendarEvent& link, uint32_t ver) {
  link.SetVersion(ver);
  link.SetDirty();
  link.SetDeleted();
}

void XmlResponder::deleteCategory(Category& category, uint32_t ver) {
  category.SetVersion(ver);
  category.SetDirty();
  category.SetDeleted();
  category.SetDataHash(Hasher::GetNullHash());
  category.GetRecordIdentification().SetCreateVersion(tableVersion());
  category.SetSource(SOURCE_SERVER);
}

void XmlResponder::deleteContact(Contact& contact, uint32_t ver) {
  contact.SetVersion(ver);
  contact.SetDirty();
  contact.SetDeletedGlobal();
  contact.SetDataHash(Hasher::GetNullHash());
  contact.SetSource(SOURCE_SERVER);
}

void XmlResponder::deleteContactLink(Contact& contact, uint32_t ver) {
  contact.SetLinkVersion(ver);
  contact.SetDirty();
}

}  // namespace brontel
