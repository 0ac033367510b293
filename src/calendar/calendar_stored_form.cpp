// Stored forms of the calendar records and of the calendar manager.
//
// Manager body (version v = the schema of its object record):
//   events pass 0: count (int32), then per event: descriptor, identification,
//     status, held flag, parent event fixed id (v >= 4), date-book id (v >= 11),
//     local info (v >= 13);
//   calendars: count (int32), then per calendar: descriptor, its placements
//     (count, then per placement: event position, calendar position (int32
//     each), alarm, identification, status, conflict record, held flag),
//     identification, status, conflict record, held flag, local info (v >= 14);
//   table identification;
//   events pass 1, no count: per event its placements (count, then calendar
//     position and position in that calendar's list), its conflict record, and
//     the three DWORDs of pass 0 again;
//   level (int32, v >= 5), server manager flag (v >= 6), pulsecast URL and its
//     version (v >= 11).
// Version 1 is the oldest form: the calendar list and the event list as object
// records of records without a manager, then the table identification.
//
// A record without a manager (conflict snapshots, the oldest form) is stored as
// its holder's object body, with references to other records as nested object
// records.
#include <vector>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/calendar/calendar_holders.h"
#include "brontel/lists/flat_set.h"
#include "record_body.h"

namespace brontel {
namespace {

// Lower bounds of the stored size of one record, used to refuse counts that
// the remaining bytes cannot hold before anything is allocated.
constexpr size_t kMinEventBytes = 40;
constexpr size_t kMinCalendarBytes = 36;
constexpr size_t kMinLinkBytes = 32;
constexpr size_t kMinLinkReferenceBytes = 8;

bool Has(uint32_t version, uint32_t since) {
  return version != Archive::kNoSchema && version >= since;
}

int32_t ReadPosition(Archive& ar, int32_t size, const char* what) {
  int32_t position = ar.ReadInt();
  if (position < 0 || position >= size) {
    ar.Fail(ArchiveStatus::kBadValue, std::string("position of ") + what + " outside the list");
  }
  return position;
}

}  // namespace

// Access to the records' private parts for their stored forms.
struct CalendarStoredForm {
  class ManagerWriter;
  class ManagerReader;

  // A conflict snapshot is a detached copy: it never has placements, a manager
  // or, for a placement, an event and a calendar. A file may claim otherwise
  // (and build reference cycles that would never be freed), so what a read
  // snapshot carries beyond its data is dropped, and a chain of snapshots that
  // comes back to a record already on it is cut.
  template <class Record>
  static void DetachSnapshots(const void* owner, Record& conflict) {
    if (conflict.IsNull()) return;
    FlatSet<const void*> seen;
    seen.Insert(owner);
    Record current = conflict;
    Record previous;
    while (!current.IsNull()) {
      if (!seen.Insert(current.m_holder)) {
        if (previous.IsNull()) {
          conflict = Record();
        } else {
          previous.m_holder->m_conflict = Record();
        }
        return;
      }
      Detach(current);
      previous = current;
      current = current.m_holder->m_conflict;
    }
  }

  static void DetachLinks(CalendarEventList& links) {
    for (int32_t i = 0; i < links.GetListCount(); ++i) {
      if (!links[i].IsNull()) links[i].nullify();
    }
    links.Clear();
  }
  static void Detach(Event& e) {
    DetachLinks(e.m_holder->m_calendarEvents);
    e.m_holder->m_manager.SetCounting(CalendarManager());
  }
  static void Detach(Calendar& c) {
    DetachLinks(c.m_holder->m_calendarEvents);
    c.m_holder->m_manager.SetCounting(CalendarManager());
  }
  static void Detach(CalendarEvent& l) { l.nullify(); }
};

namespace {

// Reads or writes the conflict slot of owner as an object record.
template <class Record>
void SerializeConflict(const void* owner, Record& conflict, Archive& ar) {
  conflict.SerializeQuick(ar, Archive::kNoSchema);
  if (ar.IsLoading()) CalendarStoredForm::DetachSnapshots(owner, conflict);
}

}  // namespace

// ---- records without a manager ----

namespace {

// The version for the quick forms inside an object body: the body's schema,
// where the oldest schema (1) means the quick forms without any later field.
uint32_t InnerVersion(Archive& ar) {
  if (ar.IsStoring()) return 15;
  uint32_t v = ar.GetObjectSchema();
  return v == 1 ? 0 : v;
}

}  // namespace

void CalendarEventHolder::Serialize(Archive& ar) {
  uint32_t v = InnerVersion(ar);
  m_event.SerializeQuick(ar, v);
  m_descriptor.SerializeQuick(ar, v);
  if (ar.IsStoring()) {
    Calendar parent = m_parentCalendar.Get();
    parent.SerializeQuick(ar, v);
  } else {
    Calendar parent;
    parent.SerializeQuick(ar, v);
    m_parentCalendar.SetCounting(parent);
  }
  m_identification.SerializeQuick(ar, v);
  m_status.SerializeQuick(ar, v);
  SerializeConflict(this, m_conflict, ar);
  if (ar.IsStoring()) {
    ar.WriteFlag(m_held);
  } else {
    m_held = ar.ReadFlag();
    if (m_held && !m_parentCalendar.IsNull()) m_parentCalendar.Set(m_parentCalendar.Get());
  }
}

namespace {

template <class Holder>
void SerializeLinkObjects(Holder& h, Archive& ar) {
  CalendarEventList& links = h.m_calendarEvents;
  if (ar.IsStoring()) {
    ar.WriteInt(links.GetListCount());
    for (int32_t i = 0; i < links.GetListCount(); ++i) links[i].SerializeQuick(ar, 15);
    return;
  }
  int32_t count = ar.ReadCount(2);
  for (int32_t i = 0; i < count; ++i) {
    CalendarEvent link;
    link.SerializeQuick(ar, Archive::kNoSchema);
    if (link.IsNull()) ar.Fail(ArchiveStatus::kBadValue, "null placement");
    links.Append(link);
  }
}

template <class Holder>
void SerializeManagerObject(Holder& h, Archive& ar) {
  if (ar.IsStoring()) {
    // A record held by its manager does not carry it along.
    CalendarManager manager = h.m_manager.IsNonCounting() ? CalendarManager() : h.m_manager.Get();
    manager.SerializeQuick(ar, Archive::kNoSchema);
  } else {
    CalendarManager manager;
    manager.SerializeQuick(ar, Archive::kNoSchema);
    h.m_manager.SetCounting(manager);
  }
}

}  // namespace

void EventHolder::Serialize(Archive& ar) {
  uint32_t v = InnerVersion(ar);
  SerializeLinkObjects(*this, ar);
  m_descriptor.SerializeQuick(ar, v);
  m_identification.SerializeQuick(ar, v);
  m_status.SerializeQuick(ar, v);
  SerializeManagerObject(*this, ar);
  SerializeConflict(this, m_conflict, ar);
  if (ar.IsStoring()) {
    ar.WriteFlag(m_held);
    ar.WriteDword(m_parentEventFixedId);
    ar.WriteDword(m_dateBookId);
    ar.WriteDword(m_localInfo);
  } else {
    m_held = ar.ReadFlag();
    m_parentEventFixedId = ReadDwordSince(ar, v, 4, 0);
    m_dateBookId = ReadDwordSince(ar, v, 11, m_dateBookId);
    m_localInfo = ReadDwordSince(ar, v, 13, m_localInfo);
  }
}

void CalendarHolder::Serialize(Archive& ar) {
  uint32_t v = InnerVersion(ar);
  m_descriptor.SerializeQuick(ar, v);
  SerializeLinkObjects(*this, ar);
  SerializeManagerObject(*this, ar);
  m_identification.SerializeQuick(ar, v);
  m_status.SerializeQuick(ar, v);
  SerializeConflict(this, m_conflict, ar);
  if (ar.IsStoring()) {
    ar.WriteDword(0);
    ar.WriteFlag(m_held);
    ar.WriteDword(m_localInfo);
  } else {
    ar.ReadDword();
    m_held = ar.ReadFlag();
    m_localInfo = ReadDwordSince(ar, v, 14, m_localInfo);
  }
}

// ---- the manager body ----

class CalendarStoredForm::ManagerWriter {
 public:
  ManagerWriter(CalendarManagerHolder& h, Archive& ar) : m_h(h), m_ar(ar) {}

  void Write() {
    NumberRecords();
    EventList& events = m_h.m_events;
    m_ar.WriteInt(events.GetListCount());
    for (int32_t i = 0; i < events.GetListCount(); ++i) WriteEventPass0(events[i]);
    CalendarList& calendars = m_h.m_calendars;
    m_ar.WriteInt(calendars.GetListCount());
    for (int32_t i = 0; i < calendars.GetListCount(); ++i) WriteCalendar(calendars[i], i);
    m_h.m_tableIdentification.SerializeQuick(m_ar, Archive::kNoSchema);
    for (int32_t i = 0; i < events.GetListCount(); ++i) WriteEventPass1(events[i]);
    m_ar.WriteInt(m_h.m_level);
    m_ar.WriteFlag(m_h.m_serverManager);
    m_ar.WriteString(m_h.m_pulsecastURL);
    m_ar.WriteDword(m_h.m_pulsecastURLVersion);
  }

 private:
  // Gives every event and calendar its position as clone index, and every
  // placement that will be stored its position among its calendar's stored
  // placements (-1 for one whose event is not in this manager).
  void NumberRecords() {
    for (int32_t i = 0; i < m_h.m_events.GetListCount(); ++i) {
      Event& event = m_h.m_events[i];
      event.setCloneIndex(i);
      // A placement missing from its calendar's list keeps -1 and is left out.
      CalendarEventList& links = event.GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        if (!links[j].IsNull()) links[j].setCloneIndex(-1);
      }
    }
    for (int32_t i = 0; i < m_h.m_calendars.GetListCount(); ++i) {
      CalendarEventList& links = m_h.m_calendars[i].GetCalendarEventList();
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        if (!links[j].IsNull()) links[j].setCloneIndex(-1);
      }
    }
    for (int32_t i = 0; i < m_h.m_calendars.GetListCount(); ++i) {
      Calendar& calendar = m_h.m_calendars[i];
      calendar.setCloneIndex(i);
      CalendarEventList& links = calendar.GetCalendarEventList();
      int32_t stored = 0;
      for (int32_t j = 0; j < links.GetListCount(); ++j) {
        // Stored under this calendar: its own placements of events of this
        // manager, each once.
        CalendarEvent& link = links[j];
        if (link.IsNull() || link.getCloneIndex() != -1 || !EventIsHere(link) ||
            !link.GetParentCalendar().IsSameHolder(calendar)) {
          continue;
        }
        link.setCloneIndex(stored++);
      }
    }
  }

  // True when the placement's event is an event of this manager, so that it can
  // be stored by position.
  bool EventIsHere(const CalendarEvent& link) const {
    Event event = link.GetEvent();
    if (event.IsNull()) return false;
    int32_t at = event.getCloneIndex();
    return at >= 0 && at < m_h.m_events.GetListCount() && m_h.m_events[at].IsSameHolder(event);
  }

  // True when the placement was stored with its parent calendar, a calendar of
  // this manager, so that it can be named by position.
  bool CalendarIsHere(const CalendarEvent& link) const {
    Calendar calendar = link.GetParentCalendar();
    if (calendar.IsNull()) return false;
    int32_t at = calendar.getCloneIndex();
    if (at < 0 || at >= m_h.m_calendars.GetListCount() ||
        !m_h.m_calendars[at].IsSameHolder(calendar)) {
      return false;
    }
    return link.getCloneIndex() >= 0;
  }

  void WriteEventDwords(const Event& e) {
    m_ar.WriteDword(e.m_holder->m_parentEventFixedId);
    m_ar.WriteDword(e.m_holder->m_dateBookId);
    m_ar.WriteDword(e.m_holder->m_localInfo);
  }

  void WriteEventPass0(Event& e) {
    EventHolder* h = e.m_holder;
    h->m_descriptor.SerializeQuick(m_ar, Archive::kNoSchema);
    h->m_identification.SerializeQuick(m_ar, Archive::kNoSchema);
    h->m_status.SerializeQuick(m_ar, Archive::kNoSchema);
    m_ar.WriteFlag(h->m_held);
    WriteEventDwords(e);
  }

  void WriteEventPass1(Event& e) {
    EventHolder* h = e.m_holder;
    // Only this event's own placements, each once: a damaged input may list
    // another event's placement, or one placement twice, under an event, and
    // the reader refuses both. The buffers are reused from event to event.
    std::vector<CalendarEvent>& stored = m_stored;
    stored.clear();
    const int32_t count = h->m_calendarEvents.GetListCount();
    // An event has few placements: a look through those kept so far finds a
    // repeated one; a long list (a damaged input) uses a set.
    const bool useSet = count > kFewPlacements;
    if (useSet) m_seen = FlatSet<const CalendarEventHolder*>(static_cast<size_t>(count));
    auto seenBefore = [&](const CalendarEvent& link) {
      if (useSet) return !m_seen.Insert(link.m_holder);
      for (const CalendarEvent& kept : stored) {
        if (kept.IsSameHolder(link)) return true;
      }
      return false;
    };
    for (int32_t i = 0; i < count; ++i) {
      const CalendarEvent& link = h->m_calendarEvents[i];
      if (link.IsNull() || !CalendarIsHere(link) || !EventIsHere(link) ||
          !link.GetEvent().IsSameHolder(e) || seenBefore(link)) {
        continue;
      }
      stored.push_back(link);
    }
    m_ar.WriteInt(static_cast<int32_t>(stored.size()));
    for (const CalendarEvent& link : stored) {
      m_ar.WriteInt(link.GetParentCalendar().getCloneIndex());
      m_ar.WriteInt(link.getCloneIndex());
    }
    SerializeConflict(h, h->m_conflict, m_ar);
    WriteEventDwords(e);
  }

  void WriteCalendar(Calendar& c, int32_t position) {
    CalendarHolder* h = c.m_holder;
    h->m_descriptor.SerializeQuick(m_ar, Archive::kNoSchema);
    std::vector<CalendarEvent> stored;
    for (int32_t i = 0; i < h->m_calendarEvents.GetListCount(); ++i) {
      const CalendarEvent& link = h->m_calendarEvents[i];
      // Exactly the placements numbered for this calendar, in their order.
      if (!link.IsNull() && link.getCloneIndex() == static_cast<int32_t>(stored.size()) &&
          link.GetParentCalendar().IsSameHolder(c)) {
        stored.push_back(link);
      }
    }
    m_ar.WriteInt(static_cast<int32_t>(stored.size()));
    for (CalendarEvent& link : stored) {
      CalendarEventHolder* l = link.m_holder;
      m_ar.WriteInt(l->m_event.getCloneIndex());
      m_ar.WriteInt(position);
      l->m_descriptor.SerializeQuick(m_ar, Archive::kNoSchema);
      l->m_identification.SerializeQuick(m_ar, Archive::kNoSchema);
      l->m_status.SerializeQuick(m_ar, Archive::kNoSchema);
      SerializeConflict(l, l->m_conflict, m_ar);
      m_ar.WriteFlag(l->m_held);
    }
    h->m_identification.SerializeQuick(m_ar, Archive::kNoSchema);
    h->m_status.SerializeQuick(m_ar, Archive::kNoSchema);
    SerializeConflict(h, h->m_conflict, m_ar);
    m_ar.WriteFlag(h->m_held);
    m_ar.WriteDword(h->m_localInfo);
  }

  static constexpr int32_t kFewPlacements = 16;

  CalendarManagerHolder& m_h;
  Archive& m_ar;
  std::vector<CalendarEvent> m_stored;
  FlatSet<const CalendarEventHolder*> m_seen;
};

class CalendarStoredForm::ManagerReader {
 public:
  ManagerReader(CalendarManagerHolder& h, Archive& ar, uint32_t version)
      : m_h(h), m_ar(ar), m_v(version), m_self(&h) {}

  void Read() {
    if (IsObjectFormVersion(m_v)) {
      ReadOldestForm();
      return;
    }
    int32_t events = m_ar.ReadCount(kMinEventBytes);
    m_h.m_events = EventList(events);
    for (int32_t i = 0; i < events; ++i) ReadEventPass0();
    int32_t calendars = m_ar.ReadCount(kMinCalendarBytes);
    for (int32_t i = 0; i < calendars; ++i) ReadCalendar(i);
    m_h.m_tableIdentification.SerializeQuick(m_ar, m_v);
    for (int32_t i = 0; i < events; ++i) ReadEventPass1(m_h.m_events[i]);
    m_h.m_level = Has(m_v, 5) ? m_ar.ReadInt() : 0;
    if (Has(m_v, 6)) m_h.m_serverManager = m_ar.ReadFlag();
    if (Has(m_v, 11)) {
      m_h.m_pulsecastURL = m_ar.ReadString();
      m_h.m_pulsecastURLVersion = m_ar.ReadDword();
    }
  }

 private:
  // Records in a manager never count it: the manager's lists count them.
  template <class Record>
  void Attach(Record& record, bool held) {
    record.m_holder->m_held = held;
    record.m_holder->m_manager.Set(m_self);
  }

  void ReadEventDwords(EventHolder* h) {
    h->m_parentEventFixedId = ReadDwordSince(m_ar, m_v, 4, 0);
    h->m_dateBookId = ReadDwordSince(m_ar, m_v, 11, h->m_dateBookId);
    h->m_localInfo = ReadDwordSince(m_ar, m_v, 13, h->m_localInfo);
  }

  void ReadEventPass0() {
    Event e = Event::CreateEmpty(0);
    EventHolder* h = e.m_holder;
    h->m_descriptor.SerializeQuick(m_ar, m_v);
    h->m_identification.SerializeQuick(m_ar, m_v);
    h->m_status.SerializeQuick(m_ar, m_v);
    Attach(e, m_ar.ReadFlag());
    ReadEventDwords(h);
    m_h.m_events.Append(e);
  }

  void ReadEventPass1(Event& e) {
    EventHolder* h = e.m_holder;
    int32_t links = m_ar.ReadCount(kMinLinkReferenceBytes);
    for (int32_t i = 0; i < links; ++i) {
      int32_t c = ReadPosition(m_ar, m_h.m_calendars.GetListCount(), "calendar");
      CalendarEventList& calendarLinks = m_h.m_calendars[c].GetCalendarEventList();
      int32_t j = ReadPosition(m_ar, calendarLinks.GetListCount(), "placement");
      CalendarEvent link = calendarLinks[j];
      if (!link.GetEvent().IsSameHolder(e) || h->m_calendarEvents.Contains(link)) {
        m_ar.Fail(ArchiveStatus::kBadValue, "placement listed under the wrong event");
      }
      h->m_calendarEvents.Append(link);
    }
    SerializeConflict(h, h->m_conflict, m_ar);
    ReadEventDwords(h);
  }

  void ReadCalendar(int32_t position) {
    Calendar c = Calendar::CreateEmpty(0);
    CalendarHolder* h = c.m_holder;
    h->m_descriptor.SerializeQuick(m_ar, m_v);
    // The calendar joins the list first so that its placements can name it.
    m_h.m_calendars.Append(c);
    int32_t links = m_ar.ReadCount(kMinLinkBytes);
    for (int32_t i = 0; i < links; ++i) ReadLink(c, position);
    h->m_identification.SerializeQuick(m_ar, m_v);
    h->m_status.SerializeQuick(m_ar, m_v);
    SerializeConflict(h, h->m_conflict, m_ar);
    Attach(c, m_ar.ReadFlag());
    h->m_localInfo = ReadDwordSince(m_ar, m_v, 14, h->m_localInfo);
  }

  void ReadLink(Calendar& calendar, int32_t position) {
    int32_t e = ReadPosition(m_ar, m_h.m_events.GetListCount(), "event");
    if (m_ar.ReadInt() != position) {
      m_ar.Fail(ArchiveStatus::kBadValue, "placement stored under another calendar");
    }
    CalendarEvent link = CalendarEvent::CreateEmpty();
    CalendarEventHolder* l = link.m_holder;
    l->m_descriptor.SerializeQuick(m_ar, m_v);
    l->m_identification.SerializeQuick(m_ar, m_v);
    l->m_status.SerializeQuick(m_ar, m_v);
    SerializeConflict(l, l->m_conflict, m_ar);
    l->m_held = m_ar.ReadFlag();
    l->m_event = m_h.m_events[e];
    // A placement never counts its calendar, which counts it through its list.
    l->m_parentCalendar.Set(calendar);
    calendar.m_holder->m_calendarEvents.Append(link);
  }

  void ReadOldestForm() {
    m_h.m_calendars.SerializeQuick(m_ar, m_v);
    m_h.m_events.SerializeQuick(m_ar, m_v);
    m_h.m_tableIdentification.SerializeQuick(m_ar, m_v);
    // Records of this form are objects that may be named more than once; a
    // manager lists each of its records once. A damaged list that names one
    // twice keeps its first place: stored by position, the repeat would give
    // two records one position and the rewrite could not be read back.
    DropRepeats(m_h.m_calendars);
    DropRepeats(m_h.m_events);
    for (int32_t i = 0; i < m_h.m_calendars.GetListCount(); ++i) {
      if (m_h.m_calendars[i].IsNull()) m_ar.Fail(ArchiveStatus::kBadValue, "null calendar");
      Attach(m_h.m_calendars[i], true);
    }
    for (int32_t i = 0; i < m_h.m_events.GetListCount(); ++i) {
      if (m_h.m_events[i].IsNull()) m_ar.Fail(ArchiveStatus::kBadValue, "null event");
      Attach(m_h.m_events[i], true);
    }
    m_h.m_level = 0;
  }

  template <class List>
  static void DropRepeats(List& list) {
    FlatSet<const void*> seen(static_cast<size_t>(list.GetListCount()));
    list.RemoveIf(
        [&](const auto& record) { return !record.IsNull() && !seen.Insert(record.HolderKey()); });
  }

  CalendarManagerHolder& m_h;
  Archive& m_ar;
  uint32_t m_v;
  CalendarManager m_self;
};

// ---- letting go after a failed read ----

void CalendarHolder::DropReferences() {
  CalendarStoredForm::DetachLinks(m_calendarEvents);
  m_conflict = Calendar();
  m_manager.SetCounting(CalendarManager());
}

void EventHolder::DropReferences() {
  CalendarStoredForm::DetachLinks(m_calendarEvents);
  m_conflict = Event();
  m_manager.SetCounting(CalendarManager());
}

void CalendarEventHolder::DropReferences() {
  m_conflict = CalendarEvent();
  m_event = Event();
  m_parentCalendar.SetCounting(Calendar());
  m_held = false;
}

void CalendarManagerHolder::DropReferences() {
  BreakCycles();
  m_calendars.Clear();
  m_events.Clear();
}

void CalendarManagerHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    CalendarStoredForm::ManagerWriter(*this, ar).Write();
  } else {
    CalendarStoredForm::ManagerReader(*this, ar, ar.GetObjectSchema()).Read();
  }
}

void CalendarManager::SerializeQuick(Archive& ar, uint32_t) {
  SerializeHolderObject(ar);
}

}  // namespace brontel
