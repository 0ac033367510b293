// Tests of XmlResponder: how each server call finds, creates, overwrites and
// deletes records of a calendar or a category manager, the tombstones it
// leaves, full answers in SyncEnd, placements and contact links, clicks, the
// wireless address, settings pushed to the registry, and the records it
// refuses to make (no server id, a fixed id already taken, the other family).
#include "brontel/protocol/xml_responder.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

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
#include "brontel/host/registry.h"
#include "brontel/lists/link.h"
#include "brontel/platform/format.h"
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
using testing::MakeCalendarDescriptor;
using testing::MakeCategoryDescriptor;
using testing::MakeContactDescriptor;
using testing::MakeEventDescriptor;
using testing::PlacementOf;

constexpr uint32_t kTableVersion = 0x20;

// Ids, versions and status of a record: "S=sid F=fixed V=version C=create"
// followed by the flags that are set and the kind of data hash.
template <class Record>
std::string State(const Record& r) {
  std::string s = Format("S=%x F=%x V=%x C=%x", r.GetServeId(), r.GetFixedId(), r.GetVersion(),
                         r.GetRecordIdentification().GetCreateVersion());
  if (r.IsDirty()) s += " dirty";
  if (r.IsDeletedGlobal()) {
    s += " global";
  } else if (r.IsDeleted()) {
    s += " deleted";
  }
  if (r.GetSource() == SOURCE_SERVER) s += " server";
  if (r.GetDataHash() == Hasher::GetNullHash()) s += " nullhash";
  return s;
}

LinkList Links(std::initializer_list<Link> links) {
  LinkList list;
  for (const Link& link : links) list.Append(link);
  return list;
}

// A link as the translator builds it: parent server id and version.
Link ServerLink(uint32_t psid, uint32_t pver) {
  return Link(psid, 0, pver, 0);
}

class CalendarResponderTest : public ::testing::Test {
 protected:
  void Begin(bool full = false) { responder.SyncBegin(UID128(), kTableVersion, 9, full); }
  CalendarDescriptor Descriptor(const std::string& name,
                                CalendarKind kind = CalendarKind::Local()) {
    return MakeCalendarDescriptor(name, kind);
  }

  CalendarManager manager = CalendarManager::CreateEmpty();
  XmlResponder responder{manager, "/cache"};
};

TEST_F(CalendarResponderTest, SyncBeginGivesTheManagerTheTableIdentity) {
  UID128 gid;
  gid.SetString("0102030405060708090A0B0C0D0E0F10");
  responder.SyncBegin(gid, 0x44, 0x55, true);
  EXPECT_EQ(manager.GetGID(), gid);
  EXPECT_EQ(manager.GetVersion(), 0x44u);
  EXPECT_EQ(manager.GetDeltaVersion(), 0x55u);
  EXPECT_TRUE(responder.IsFull());
  EXPECT_EQ(responder.GetType(), calendarType);
  EXPECT_EQ(responder.GetCachePath(), "/cache");
}

TEST_F(CalendarResponderTest, NewCalendarsTakeTheirFixedIdAndCreateVersion) {
  Begin();
  CalendarDescriptor bySid = Descriptor("by sid");
  CalendarDescriptor byLid = Descriptor("by lid", CalendarKind::SubscribedReadWrite());
  CalendarDescriptor home = Descriptor("home");
  home.SetDefaultCalendar(true);
  responder.CalendarUpdate(bySid, 0, 0x31, 7);
  responder.CalendarUpdate(byLid, 0x80000005, 0x32, 7);
  responder.CalendarUpdate(home, 0x80000006, 0x33, 7);
  // An owned calendar is created at the table version, a subscribed one at its
  // own version.
  const CalendarList& calendars = manager.GetCalendarList();
  ASSERT_EQ(calendars.GetListCount(), 3);
  EXPECT_EQ(State(calendars[0]), "S=31 F=31 V=7 C=20 dirty server");
  EXPECT_EQ(State(calendars[1]), "S=32 F=80000005 V=7 C=7 dirty server");
  EXPECT_EQ(State(calendars[2]), "S=33 F=defa4175 V=7 C=20 dirty server");
  for (int32_t i = 0; i < 3; ++i) {
    EXPECT_TRUE(calendars[i].GetCalendarDescriptor().GetSharedFlag());
    EXPECT_TRUE(calendars[i].HashMatched());
  }
}

TEST_F(CalendarResponderTest, UpdateOverwritesTheCalendarWithThatServerIdKeepingLocalSettings) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  work.GetCalendarDescriptor().SetOrdinal(4);
  work.GetRecordIdentification().SetCreateVersion(3);
  work.SetDeleted();
  Begin();
  CalendarDescriptor d = Descriptor("work renamed");
  d.SetColor(0xFF00);
  responder.CalendarUpdate(d, 0x99, 0x112, 0x21);
  ASSERT_EQ(manager.GetCalendarList().GetListCount(), 1);
  EXPECT_EQ(State(work), "S=112 F=12 V=21 C=3 dirty server");
  EXPECT_EQ(work.GetCalendarDescriptor().GetCalendarName(), "work renamed");
  EXPECT_EQ(work.GetCalendarDescriptor().GetColor(), 0xFF00u);
  EXPECT_EQ(work.GetCalendarDescriptor().GetOrdinal(), 4u);
  EXPECT_TRUE(work.HashMatched());
}

TEST_F(CalendarResponderTest, DeleteLeavesATombstoneEvenForAnUnknownCalendar) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  Begin();
  responder.CalendarDelete(0, 0x112, 0x21);
  responder.CalendarDelete(0, 0x140, 0x22);
  responder.CalendarDelete(0x80000009, 0x141, 0x23);
  const CalendarList& calendars = manager.GetCalendarList();
  ASSERT_EQ(calendars.GetListCount(), 3);
  EXPECT_EQ(State(work), "S=112 F=12 V=21 C=ffffffff dirty deleted server nullhash");
  EXPECT_EQ(State(calendars[1]), "S=140 F=140 V=22 C=20 dirty deleted server nullhash");
  EXPECT_EQ(State(calendars[2]), "S=141 F=80000009 V=23 C=20 dirty deleted server nullhash");
}

TEST_F(CalendarResponderTest, EventUpdateCreatesClonesOrRevivesEvents) {
  Calendar team = AddCalendar(manager, "team", CalendarKind::SubscribedReadWrite(), 0x13, 0x113);
  Event weekly = AddEvent(manager, "weekly", {team}, 0x21);
  weekly.SetServeId(0x221);
  Event old = AddEvent(manager, "old", {}, 0x22);
  old.SetServeId(0x222);
  old.SetDeletedGlobal();
  Begin();
  EventDescriptor fresh = MakeEventDescriptor("fresh");
  EventDescriptor moved = MakeEventDescriptor("weekly, moved once");
  EventDescriptor back = MakeEventDescriptor("old again");
  responder.EventUpdate(fresh, 0, 0x230, 0, 5);
  responder.EventUpdate(moved, 0x80000007, 0x231, 0x221, 6);
  responder.EventUpdate(back, 0, 0x222, 0, 7);

  Event made = manager.FindEventByServeId(0x230, false);
  ASSERT_FALSE(made.IsNull());
  EXPECT_EQ(State(made), "S=230 F=230 V=5 C=20 dirty server");
  EXPECT_EQ(made.GetEventDescriptor().GetName(), "fresh");
  EXPECT_TRUE(made.HashMatched());
  // The clone descends from the event named by cid and shows in its calendars.
  Event clone = manager.FindEventByServeId(0x231, false);
  ASSERT_FALSE(clone.IsNull());
  EXPECT_EQ(State(clone), "S=231 F=80000007 V=6 C=20 dirty server");
  EXPECT_EQ(clone.GetParentEventFixedId(), 0x21u);
  EXPECT_EQ(testing::CalendarNamesOf(clone), std::vector<std::string>{"team"});
  EXPECT_EQ(clone.GetEventDescriptor().GetName(), "weekly, moved once");
  // A deleted event comes back, created anew at this table version.
  EXPECT_EQ(State(old), "S=222 F=22 V=7 C=20 dirty server");
  EXPECT_EQ(old.GetEventDescriptor().GetName(), "old again");
  EXPECT_TRUE(old.HashMatched());
}

TEST_F(CalendarResponderTest, GlobalDeleteOfAnUnknownEventNeedsTheTombstoneFlag) {
  Event lunch = AddEvent(manager, "lunch", {}, 0x21);
  lunch.SetServeId(0x221);
  Begin();
  EventDescriptor d;
  responder.EventGlobalDelete(d, 0, 0x221, 8);
  responder.EventGlobalDelete(d, 0, 0x240, 8);
  EXPECT_EQ(State(lunch), "S=221 F=21 V=8 C=ffffffff dirty global server nullhash");
  EXPECT_EQ(manager.GetEventList().GetListCount(), 1);

  XmlResponder tombstones(manager, "/cache", true);
  tombstones.EventGlobalDelete(d, 0x80000004, 0x241, 9);
  // Without a client id the tombstone takes the server id as its fixed id, so
  // that it can meet the cache's copy of a record the server made.
  tombstones.EventGlobalDelete(d, 0, 0x242, 9);
  EXPECT_EQ(State(manager.FindEventByServeId(0x241, false)),
            "S=241 F=80000004 V=9 C=20 dirty global server nullhash");
  EXPECT_EQ(State(manager.FindEventByServeId(0x242, false)),
            "S=242 F=242 V=9 C=20 dirty global server nullhash");
}

TEST_F(CalendarResponderTest, InsertLinksPlacesTheEventInKnownCalendarsOnly) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  Calendar team = AddCalendar(manager, "team", CalendarKind::SubscribedReadWrite(), 0x13, 0x113);
  work.GetRecordIdentification().SetCreateVersion(4);
  team.GetRecordIdentification().SetCreateVersion(2);
  Event lunch = AddEvent(manager, "lunch", {team}, 0x21);
  lunch.SetServeId(0x221);
  lunch.GetRecordIdentification().SetCreateVersion(3);
  CalendarEvent inTeam = PlacementOf(lunch, team);
  inTeam.SetDeleted();
  Begin();
  responder.EventInsertLinks(0x221, Links({ServerLink(0x112, 0x30), ServerLink(0x113, 0x31),
                                           ServerLink(0x999, 0x32), ServerLink(0, 0x33)}));
  responder.EventInsertLinks(0x999, Links({ServerLink(0x112, 0x34)}));  // no such event

  EXPECT_EQ(testing::CalendarNamesOf(lunch), (std::vector<std::string>{"team", "work"}));
  CalendarEvent inWork = PlacementOf(lunch, work);
  EXPECT_EQ(inWork.GetVersion(), 0x30u);
  EXPECT_EQ(inWork.GetRecordIdentification().GetCreateVersion(), 4u);
  EXPECT_TRUE(inWork.IsDirty());
  EXPECT_EQ(inTeam.GetVersion(), 0x31u);
  EXPECT_FALSE(inTeam.IsDeleted());
  EXPECT_TRUE(inTeam.IsDirty());
  EXPECT_TRUE(manager.SanityCheck());
}

// On an event the answer brings (a new repeat exception takes every placement
// of its original in the cache), a removal leaves a deleted placement also
// where the event had none. On an event held before, only a live placement is
// deleted: one it never had, or had seen deleted, can only be the user's own
// in the cache, which the server's removal does not concern.
TEST_F(CalendarResponderTest, DeleteLinksLeavesDeletedPlacementsWhereTheAnswerNeedsThem) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  Calendar team = AddCalendar(manager, "team", CalendarKind::SubscribedReadWrite(), 0x13, 0x113);
  Calendar home = AddCalendar(manager, "home", CalendarKind::Published(), 0x14, 0x114);
  Event lunch = AddEvent(manager, "lunch", {work, home}, 0x21);
  lunch.SetServeId(0x221);
  PlacementOf(lunch, home).SetDeleted();
  PlacementOf(lunch, home).SetVersion(0x30);
  Begin();
  responder.EventDeleteLinks(
      0x221, Links({ServerLink(0x112, 0x40), ServerLink(0x113, 0x41), ServerLink(0x114, 0x42)}));
  EXPECT_EQ(State(PlacementOf(lunch, work)), "S=0 F=0 V=40 C=ffffffff dirty deleted");
  EXPECT_TRUE(PlacementOf(lunch, team).IsNull());
  EXPECT_EQ(PlacementOf(lunch, home).GetVersion(), 0x30u);

  EventDescriptor d;
  d.SetName("dinner");
  responder.EventUpdate(d, 0, 0x222, 0, 0x43);
  responder.EventDeleteLinks(0x222, Links({ServerLink(0x113, 0x43)}));
  EXPECT_EQ(State(PlacementOf(manager.FindEventByServeId(0x222, false), team)),
            "S=0 F=0 V=43 C=20 dirty deleted");
}

TEST_F(CalendarResponderTest, ClicksAndTheWirelessAddressReachTheManager) {
  Event lunch = AddEvent(manager, "lunch", {}, 0x21);
  lunch.SetServeId(0x221);
  Begin();
  responder.WebClick(0x221);
  responder.WebClick(0x999);
  responder.WebClick(0);
  responder.SetPulsecastURL("http://wireless/p", 6);
  EXPECT_EQ(lunch.GetUseMe(), 1);
  EXPECT_EQ(manager.GetPulsecastURL(), "http://wireless/p");
  EXPECT_EQ(manager.GetPulsecastURLVersion(), 6u);
}

TEST_F(CalendarResponderTest, FullAnswerDeletesWhatItDidNotTouch) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  Calendar team = AddCalendar(manager, "team", CalendarKind::SubscribedReadWrite(), 0x13, 0x113);
  Event lunch = AddEvent(manager, "lunch", {work, team}, 0x21);
  lunch.SetServeId(0x221);
  Event gym = AddEvent(manager, "gym", {work}, 0x22);
  gym.SetServeId(0x222);
  Begin(true);
  CalendarDescriptor d = Descriptor("work");
  responder.CalendarUpdate(d, 0, 0x112, 0x11);
  EventDescriptor e = MakeEventDescriptor("lunch");
  responder.EventUpdate(e, 0, 0x221, 0, 0x12);
  responder.EventInsertLinks(0x221, Links({ServerLink(0x112, 0x13)}));
  responder.SyncEnd();

  EXPECT_EQ(State(work), "S=112 F=12 V=11 C=ffffffff dirty server");
  EXPECT_EQ(State(team), "S=113 F=13 V=20 C=ffffffff dirty deleted server nullhash");
  EXPECT_EQ(State(lunch), "S=221 F=21 V=12 C=ffffffff dirty server");
  EXPECT_FALSE(PlacementOf(lunch, work).IsDeleted());
  EXPECT_EQ(State(PlacementOf(lunch, team)), "S=0 F=0 V=20 C=ffffffff dirty deleted");
  EXPECT_EQ(State(gym), "S=222 F=22 V=20 C=ffffffff dirty global server nullhash");
}

TEST_F(CalendarResponderTest, AnAnswerThatIsNotFullDeletesNothing) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  Event gym = AddEvent(manager, "gym", {work}, 0x22);
  Begin(false);
  responder.SyncEnd();
  EXPECT_FALSE(work.IsDeleted());
  EXPECT_FALSE(gym.IsDeleted());
  EXPECT_FALSE(PlacementOf(gym, work).IsDeleted());
}

// A record without server id could never be found again, and one whose fixed
// id another record carries would make the copies' matching by fixed id
// ambiguous: neither is created, and the manager stays coherent.
TEST_F(CalendarResponderTest, RefusesRecordsWithoutServerIdOrWithATakenFixedId) {
  Calendar home = AddCalendar(manager, "home", CalendarKind::Local(), 0x12, 0x112);
  home.GetCalendarDescriptor().SetDefaultCalendar(true);
  home.SetFixedId(Calendar::DefaultCalendarFixedId());
  AddCalendar(manager, "work", CalendarKind::Published(), 0x77, 0x113);
  Event lunch = AddEvent(manager, "lunch", {}, 0x21);
  lunch.SetServeId(0x221);
  Begin();
  XmlResponder tombstones(manager, "/cache", true);
  CalendarDescriptor other = Descriptor("other");
  CalendarDescriptor otherHome = Descriptor("other home");
  otherHome.SetDefaultCalendar(true);
  EventDescriptor e = MakeEventDescriptor("e");
  responder.CalendarUpdate(other, 0x5, 0, 1);        // no server id
  responder.CalendarUpdate(other, 0x77, 0x150, 1);   // fixed id of "work"
  responder.CalendarUpdate(otherHome, 0, 0x151, 1);  // a second default calendar
  responder.CalendarDelete(0x77, 0x152, 1);          // fixed id of "work"
  responder.CalendarDelete(0, 0, 1);                 // no server id
  responder.EventUpdate(e, 0x21, 0x250, 0, 1);       // fixed id of "lunch"
  responder.EventUpdate(e, 0, 0, 0x221, 1);          // no server id
  tombstones.EventGlobalDelete(e, 0x21, 0x251, 1);   // fixed id of "lunch"
  tombstones.EventGlobalDelete(e, 0, 0, 1);          // no server id
  EXPECT_EQ(manager.GetCalendarList().GetListCount(), 2);
  EXPECT_EQ(manager.GetEventList().GetListCount(), 1);
  EXPECT_EQ(lunch.GetEventDescriptor().GetName(), "lunch");
  EXPECT_TRUE(manager.IsCoherent());
}

TEST_F(CalendarResponderTest, ContactCallsChangeNothing) {
  Calendar work = AddCalendar(manager, "work", CalendarKind::Published(), 0x12, 0x112);
  Begin(true);
  CategoryDescriptor category = MakeCategoryDescriptor("c");
  ContactDescriptor contact = MakeContactDescriptor("x");
  responder.CategoryUpdate(category, 0x112, 0, 1);
  responder.CategoryDelete(0x112, 1);
  responder.ContactUpdate(contact, 0x112, 0, 1);
  responder.ContactDelete(0x112, 1);
  responder.ContactInsertLink(0x112, ServerLink(0x112, 1));
  responder.ContactDeleteLink(0x112, ServerLink(0x112, 1));
  EXPECT_EQ(State(work), "S=112 F=12 V=ffffffff C=ffffffff");
}

class CategoryResponderTest : public ::testing::Test {
 protected:
  void Begin(bool full = false) { responder.SyncBegin(UID128(), kTableVersion, 9, full); }

  CategoryManager manager = CategoryManager::CreateEmpty();
  XmlResponder responder{manager, "/cache"};
};

TEST_F(CategoryResponderTest, CategoryUpdateCreatesOrOverwritesAndRevives) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  family.SetServeId(0x112);
  family.SetDeleted();
  Begin();
  CategoryDescriptor renamed = MakeCategoryDescriptor("kin");
  CategoryDescriptor club = MakeCategoryDescriptor("club", CategoryKind::SubscribedReadOnly());
  responder.CategoryUpdate(renamed, 0x112, 0, 5);
  responder.CategoryUpdate(club, 0x113, 0, 6);
  responder.CategoryUpdate(club, 0x114, 0x80000003, 6);
  EXPECT_EQ(responder.GetType(), categoryType);
  EXPECT_EQ(manager.GetVersion(), kTableVersion);
  // The server holds "family", so its deleted copy here is live again.
  EXPECT_EQ(State(family), "S=112 F=12 V=5 C=ffffffff dirty server");
  EXPECT_EQ(family.GetCategoryDescriptor().GetCategoryName(), "kin");
  Category made = manager.FindByServeId(0x113, false);
  ASSERT_FALSE(made.IsNull());
  EXPECT_EQ(State(made), "S=113 F=113 V=6 C=ffffffff dirty server");
  EXPECT_EQ(made.GetCategoryDescriptor().GetCategoryName(), "club");
  EXPECT_TRUE(made.GetCategoryDescriptor().IsReadOnly());
  EXPECT_EQ(manager.FindByServeId(0x114, false).GetFixedId(), 0x80000003u);
  for (const Category& c : {family, made}) {
    EXPECT_TRUE(c.GetCategoryDescriptor().GetSharedFlag());
    EXPECT_TRUE(c.HashMatched());
    EXPECT_FALSE(c.IsUnfiled());
  }
}

TEST_F(CategoryResponderTest, DeletesNeedAKnownRecord) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  family.SetServeId(0x112);
  Contact ann = AddContact(manager, family, "Ann", 0x31);
  ann.SetServeId(0x131);
  Begin();
  responder.CategoryDelete(0x112, 5);
  responder.CategoryDelete(0x999, 5);
  responder.ContactDelete(0x131, 6);
  responder.ContactDelete(0x999, 6);
  EXPECT_EQ(manager.GetCategoryList().GetListCount(), 1);
  EXPECT_EQ(manager.GetContactList().GetListCount(), 1);
  EXPECT_EQ(State(family), "S=112 F=12 V=5 C=20 dirty deleted server nullhash");
  EXPECT_EQ(State(ann), "S=131 F=31 V=6 C=ffffffff dirty global server nullhash");
}

TEST_F(CategoryResponderTest, ContactUpdateCreatesUnfiledOrOverwritesKeepingTheCategory) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  Contact ann = AddContact(manager, family, "Ann", 0x31);
  ann.SetServeId(0x131);
  ann.SetDeletedGlobal();
  Begin();
  ContactDescriptor anne = MakeContactDescriptor("Anne", "A.");
  ContactDescriptor bob = MakeContactDescriptor("Bob");
  responder.ContactUpdate(anne, 0x131, 0, 5);
  responder.ContactUpdate(bob, 0x132, 0x80000002, 6);
  EXPECT_EQ(State(ann), "S=131 F=31 V=5 C=ffffffff dirty server");
  EXPECT_EQ(ann.GetContactDescriptor().GetDatum(ContactDescriptor::kLastName), "Anne");
  EXPECT_TRUE(ann.IsChildOfCategory(family));
  Contact made = manager.FindContactByServeId(0x132, false);
  ASSERT_FALSE(made.IsNull());
  EXPECT_EQ(State(made), "S=132 F=80000002 V=6 C=20 dirty server");
  EXPECT_TRUE(made.IsUnfiled());
  EXPECT_TRUE(made.HashMatched());
}

TEST_F(CategoryResponderTest, ContactLinksMoveTheContactOrOnlyCarryTheirVersion) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  family.SetServeId(0x112);
  Category club = AddCategory(manager, "club", CategoryKind::Published(), 0x13);
  club.SetServeId(0x113);
  Contact ann = AddContact(manager, family, "Ann", 0x31);
  ann.SetServeId(0x131);
  Contact bob = AddContact(manager, family, "Bob", 0x32);
  bob.SetServeId(0x132);
  Begin();
  responder.ContactInsertLink(0x131, ServerLink(0x113, 7));
  responder.ContactInsertLink(0x132, ServerLink(0x999, 8));  // no such category: unfiled
  responder.ContactInsertLink(0x999, ServerLink(0x113, 9));  // no such contact
  EXPECT_TRUE(ann.IsChildOfCategory(club));
  EXPECT_EQ(ann.GetLinkVersion(), 7u);
  EXPECT_TRUE(ann.IsDirty());
  EXPECT_TRUE(bob.IsUnfiled());
  EXPECT_EQ(bob.GetLinkVersion(), 8u);

  ann.SetClean();
  responder.ContactDeleteLink(0x131, ServerLink(0, 0xA));  // no category named
  EXPECT_FALSE(ann.IsDirty());
  responder.ContactDeleteLink(0x131, ServerLink(0x112, 0xB));
  EXPECT_TRUE(ann.IsDirty());
  EXPECT_EQ(ann.GetLinkVersion(), 0xBu);
  EXPECT_TRUE(ann.IsChildOfCategory(club));
  EXPECT_TRUE(manager.SanityCheck());
}

TEST_F(CategoryResponderTest, FullAnswerDeletesWhatItDidNotTouch) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  family.SetServeId(0x112);
  Category club = AddCategory(manager, "club", CategoryKind::Published(), 0x13);
  Contact ann = AddContact(manager, family, "Ann", 0x31);
  ann.SetServeId(0x131);
  Contact bob = AddContact(manager, family, "Bob", 0x32);
  Begin(true);
  CategoryDescriptor d = MakeCategoryDescriptor("family");
  ContactDescriptor c = MakeContactDescriptor("Ann");
  responder.CategoryUpdate(d, 0x112, 0, 5);
  responder.ContactUpdate(c, 0x131, 0, 6);
  responder.SyncEnd();
  EXPECT_EQ(State(family), "S=112 F=12 V=5 C=ffffffff dirty server");
  EXPECT_EQ(State(club), "S=0 F=13 V=20 C=20 dirty deleted server nullhash");
  EXPECT_EQ(State(ann), "S=131 F=31 V=6 C=ffffffff dirty server");
  EXPECT_EQ(State(bob), "S=0 F=32 V=20 C=ffffffff dirty global server nullhash");
  EXPECT_EQ(bob.GetLinkVersion(), kTableVersion);
}

TEST_F(CategoryResponderTest, RefusesRecordsWithoutServerIdOrWithATakenFixedId) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  family.SetServeId(0x112);
  Contact ann = AddContact(manager, family, "Ann", 0x31);
  ann.SetServeId(0x131);
  Begin();
  CategoryDescriptor d = MakeCategoryDescriptor("other");
  ContactDescriptor c = MakeContactDescriptor("Other");
  responder.CategoryUpdate(d, 0, 0x5, 1);
  responder.CategoryUpdate(d, 0x150, 0x12, 1);
  responder.ContactUpdate(c, 0, 0x5, 1);
  responder.ContactUpdate(c, 0x150, 0x31, 1);
  EXPECT_EQ(testing::CategoryNames(manager), "family");
  EXPECT_EQ(testing::ContactNames(manager), "Ann");
  EXPECT_TRUE(manager.IsCoherent());
}

TEST_F(CategoryResponderTest, CalendarCallsChangeNothing) {
  Category family = AddCategory(manager, "family", CategoryKind::Published(), 0x12);
  family.SetServeId(0x112);
  Begin(true);
  CalendarDescriptor calendar = MakeCalendarDescriptor("c");
  EventDescriptor event = MakeEventDescriptor("e");
  responder.CalendarUpdate(calendar, 0, 0x112, 1);
  responder.CalendarDelete(0, 0x112, 1);
  responder.EventUpdate(event, 0, 0x112, 0, 1);
  responder.EventGlobalDelete(event, 0, 0x112, 1);
  responder.EventInsertLinks(0x112, Links({ServerLink(0x112, 1)}));
  responder.EventDeleteLinks(0x112, Links({ServerLink(0x112, 1)}));
  responder.WebClick(0x112);
  responder.SetPulsecastURL("http://x", 1);
  EXPECT_EQ(State(family), "S=112 F=12 V=ffffffff C=ffffffff");
}

// Settings go to the test's own store (ApiTest points BRONTEL_REGISTRY_DIR at
// it).
class RegistryPushTest : public testing::ApiTest {
 protected:
  CalendarManager m_manager = CalendarManager::CreateEmpty();
  XmlResponder responder{m_manager, "/cache"};
};

TEST_F(RegistryPushTest, StoresNumbersAndTextsUnderTheirKey) {
  responder.RegistryPush("NewsPoll", true, 30);
  responder.RegistryPush("ServerNewsUrl", false, std::string("http://news/"));
  CRegistry registry(m_settingsDir.path());
  EXPECT_EQ(registry.GetLocalIntValue("NewsPoll", -1), 30);
  EXPECT_EQ(registry.GetServerNewsUrl(), "http://news/");
}

// A name with a line break would split its line of the store and come back as
// a key of the server's choosing.
TEST_F(RegistryPushTest, AnEmptyKeyOrOneWithControlCharactersWritesNothing) {
  for (const std::string& key :
       {std::string(), std::string("A\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n"),
        std::string("Tab\there"), std::string("Nul\0", 4), std::string("Del\x7f")}) {
    responder.RegistryPush(key, true, 30);
    responder.RegistryPush(key, false, std::string("x"));
  }
  EXPECT_EQ(m_settingsDir.Listing(), "");
}

}  // namespace
}  // namespace brontel
