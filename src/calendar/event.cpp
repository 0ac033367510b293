#include "brontel/calendar/event.h"

#include <vector>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/core/log_node.h"
#include "brontel/lists/link.h"
#include "brontel/platform/format.h"
#include "record_body.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(EventHolder, "EventHolder");

EventHolder::~EventHolder() = default;

Event::Event() = default;
Event::Event(EventHolder* adopted) : RecordHandle(adopted) {}
Event::Event(const Event& other) = default;
Event& Event::operator=(const Event& other) = default;
Event::~Event() = default;

Event::Event(const CalendarManager& manager) : RecordHandle(new EventHolder()) {
  m_holder->m_held = true;
  m_holder->m_manager.Set(manager);
}

Event Event::CreateEmpty(int32_t links) {
  return Event(new EventHolder(links));
}

void Event::SetCacheId(uint32_t v) {
  EventHolder* h = Live();
  if (h->m_identification.GetCacheId() == v) return;
  h->m_identification.SetCacheId(v);
  if (!h->m_manager.IsNull()) h->m_manager.Get().noteChangeCacheId(*this);
}

void Event::SetLocalId(uint32_t v) {
  EventHolder* h = Live();
  if (h->m_identification.GetLocalId() == v) return;
  h->m_identification.SetLocalId(v);
  if (!h->m_manager.IsNull()) {
    // The server id is the local id of the copy that mirrors the server: one
    // field, two indexes.
    h->m_manager.Get().noteChangeLocalId(*this);
    h->m_manager.Get().noteChangeServeId(*this);
  }
}

void Event::SetServeId(uint32_t v) {
  SetLocalId(v);
}

void Event::SetFixedId(uint32_t v) {
  EventHolder* h = Live();
  if (h->m_identification.GetFixedId() == v) return;
  h->m_identification.SetFixedId(v);
  if (!h->m_manager.IsNull()) h->m_manager.Get().noteChangeFixedId(*this);
}

uint32_t Event::GetDateBookId() const {
  return Live()->m_dateBookId;
}

void Event::SetDateBookId(uint32_t v) {
  EventHolder* h = Live();
  if (h->m_dateBookId == v) return;
  h->m_dateBookId = v;
  if (!h->m_manager.IsNull()) h->m_manager.Get().noteChangeDateBookId(*this);
}

uint32_t Event::GetLocalInfo() const {
  return Live()->m_localInfo;
}
void Event::SetLocalInfo(uint32_t v) {
  Live()->m_localInfo = v;
}

uint32_t Event::GetParentEventFixedId() const {
  const EventHolder* h = Live();
  return h->m_parentEventFixedId != 0 ? h->m_parentEventFixedId : h->m_identification.GetFixedId();
}
void Event::SetParentEventFixedId(uint32_t v) {
  Live()->m_parentEventFixedId = v;
}
bool Event::HasParent() const {
  return GetParentEventFixedId() != GetFixedId();
}

Event Event::GetParentEvent() const {
  const EventHolder* h = Live();
  uint32_t parent = h->m_parentEventFixedId;
  if (parent == 0 || parent == GetFixedId() || h->m_manager.IsNull()) return Event();
  return h->m_manager.Get().FindEventByFixedId(parent, false);
}

void Event::SetClean() {
  Live()->m_status.SetDirtyFlag(false);
  Live()->m_identification.SetFixedIdDirtyFlag(false);
}
void Event::SetDirtyFixedId() {
  Live()->m_identification.SetFixedIdDirtyFlag(true);
}
void Event::SetCleanFixedId() {
  Live()->m_identification.SetFixedIdDirtyFlag(false);
}
bool Event::HasDirtyFixedId() const {
  return Live()->m_identification.GetFixedIdDirtyFlag();
}

uint32_t Event::GetUpperVersion() const {
  const CalendarManager& manager = Live()->m_manager.Get();
  return manager.IsNull() ? Versioning::InValidVersion() : manager.GetVersion();
}

CalendarManager Event::GetManager() const {
  return Live()->m_manager.Get();
}
EventDescriptor Event::GetEventDescriptor() const {
  return Live()->m_descriptor;
}
CalendarEventList& Event::GetCalendarEventList() const {
  return Live()->m_calendarEvents;
}

bool Event::HashMatched() const {
  return Live()->m_status.GetDataHash() == Live()->m_descriptor.CalculateHash();
}
bool Event::IsBogus() const {
  return !IsNull() && Live()->m_descriptor.IsBogus();
}
bool Event::IsOnDate(std::time_t t) const {
  return !IsNull() && Live()->m_descriptor.IsOnDate(t);
}
bool Event::IsInDateRange(uint16_t from, uint16_t to) const {
  return !IsDeleted() && Live()->m_descriptor.IsInDateRange(from, to);
}
uint8_t Event::GetUseMe() const {
  return Live()->m_descriptor.GetUseMe();
}
void Event::SetUseMe(uint8_t useMe) {
  if (!IsNull()) Live()->m_descriptor.SetUseMe(useMe);
}
void Event::ClearUseMe() {
  if (!IsNull()) Live()->m_descriptor.ClearUseMe();
}

bool Event::IsShared() const {
  return !IsNull() && Live()->m_status.GetDataHash() != 0;
}

bool Event::IsLinked() const {
  if (IsDeleted()) return false;
  int32_t links = Live()->m_calendarEvents.GetListCount();
  return links > 1 || (links == 1 && Live()->m_status.GetDataHash() != 0);
}

bool Event::IsReadWriteShared() const {
  const CalendarEventList& links = Live()->m_calendarEvents;
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    if (!links[i].IsNull() && links[i].GetParentCalendar().IsReadWriteShared()) return true;
  }
  return false;
}

bool Event::IsMatching(const Event& other) const {
  if (IsNull() || other.IsNull()) return false;
  return Live()->m_identification.IsMatching(other.Live()->m_identification, false, false, true);
}

bool Event::Equal(const Event& other) const {
  RequireLiveOther(other);
  return Live()->m_status.Equal(other.m_holder->m_status) &&
         Live()->m_descriptor.Equal(other.m_holder->m_descriptor);
}

void Event::Copy(const Event& other) {
  RequireLiveOther(other);
  EventHolder* h = Live();
  const EventHolder* o = other.m_holder;
  h->m_conflict = o->m_conflict;
  h->m_descriptor.Copy(o->m_descriptor);
  SetCacheId(o->m_identification.GetCacheId());
  SetLocalId(o->m_identification.GetLocalId());
  SetFixedId(o->m_identification.GetFixedId());
  SetDateBookId(o->m_dateBookId);
  h->m_identification.Copy(o->m_identification);
  h->m_status.Copy(o->m_status);
  h->m_parentEventFixedId = o->m_parentEventFixedId;
  h->m_localInfo = o->m_localInfo;
}

Event Event::Clone(const CalendarManager& manager) const {
  const EventHolder* h = Live();
  Event copy = CreateEmpty(h->m_calendarEvents.GetListCount());
  copy.Copy(*this);
  copy.m_holder->m_held = h->m_held;
  if (h->m_held) copy.m_holder->m_manager.Set(manager);
  return copy;
}

CalendarEvent Event::AddToCalendar(Calendar& calendar) {
  return CalendarEvent(*this, calendar);
}

CalendarEvent Event::FindCalendarEventByCalendarLocalId(uint32_t id, bool touch) const {
  return Live()->m_calendarEvents.FindByCalendarLocalId(id, touch);
}
CalendarEvent Event::FindCalendarEventByCalendarFixedId(uint32_t id, bool touch) const {
  return Live()->m_calendarEvents.FindByCalendarFixedId(id, touch);
}
CalendarEvent Event::FindCalendarEventByCalendarCacheId(uint32_t id, bool touch) const {
  return Live()->m_calendarEvents.FindByCalendarCacheId(id, touch);
}

void Event::SetLinksDirty() {
  CalendarEventList& links = Live()->m_calendarEvents;
  for (int32_t i = 0; i < links.GetListCount(); ++i) links[i].SetDirty();
}

Event Event::CreateCloneEvent(const EventDescriptor& descriptor, uint32_t serveId,
                              uint32_t fixedId) {
  Event clone = GetManager().CreateNewEvent(descriptor, serveId, fixedId);
  clone.SetParentEventFixedId(GetParentEventFixedId());
  clone.SetDateBookId(0);
  clone.SetLocalInfo(GetLocalInfo());
  CalendarEventList links = GetCalendarEventList();  // copy: adding changes no list here
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    // A deleted placement (a server shadow keeps the removals it was told
    // of) no longer shows this event: the clone is not shown there either.
    if (links[i].IsDeleted()) continue;
    Calendar calendar = links[i].GetParentCalendar();
    if (!calendar.IsNull()) clone.AddToCalendar(calendar);
  }
  return clone;
}

namespace {

// A calendar whose placements are exchanged with the server.
bool IsServerCalendar(const Calendar& calendar) {
  return !calendar.IsDeleted() && calendar.GetCalendarDescriptor().GetSharedFlag() &&
         !calendar.IsReadOnly();
}

}  // namespace

void Event::GenerateLinks(LinkList& links) const {
  const CalendarEventList& mine = Live()->m_calendarEvents;
  for (int32_t i = 0; i < mine.GetListCount(); ++i) {
    Calendar calendar = mine[i].GetParentCalendar();
    if (!IsServerCalendar(calendar)) continue;
    uint32_t serveId = calendar.GetServeId();
    links.Append(Link(serveId, serveId == 0 ? calendar.GetFixedId() : 0, 0, 0));
  }
}

void Event::GenerateLinks(const Event& other, LinkList& inserts, LinkList& deletes) const {
  GenerateLinks(other, inserts, deletes, GetManager());
}

void Event::GenerateLinks(const Event& other, LinkList& inserts, LinkList& deletes,
                          const CalendarManager& manager) const {
  if (!other.IsNull()) other.GetCalendarEventList().ClearTouched();
  if (!IsNull()) {
    const CalendarEventList& mine = Live()->m_calendarEvents;
    for (int32_t i = 0; i < mine.GetListCount(); ++i) {
      Calendar calendar = mine[i].GetParentCalendar();
      if (!IsServerCalendar(calendar)) continue;
      uint32_t f = calendar.GetFixedId();
      CalendarEvent theirs =
          other.IsNull() ? CalendarEvent() : other.FindCalendarEventByCalendarFixedId(f, true);
      if (theirs.IsNull()) {
        CalendarManager otherManager = other.IsNull() ? CalendarManager() : other.GetManager();
        Calendar known = otherManager.IsNull() ? Calendar() : otherManager.FindByFixedId(f, false);
        if (known.IsNull()) {
          inserts.Append(Link(0, f, 0, 0));
        } else {
          inserts.Append(Link(known.GetServeId(), 0, 0, 0));
        }
      } else if (theirs.IsDeleted()) {
        Calendar parent = theirs.GetParentCalendar();
        inserts.Append(Link(parent.IsNull() ? 0 : parent.GetServeId(), 0, theirs.GetVersion(), 0));
      }
    }
  }
  if (other.IsNull()) return;
  const CalendarEventList& theirs = other.GetCalendarEventList();
  for (int32_t i = 0; i < theirs.GetListCount(); ++i) {
    const CalendarEvent& u = theirs[i];
    if (u.IsNull() || u.IsTouched() || u.IsDeleted()) continue;
    Calendar parent = u.GetParentCalendar();
    if (parent.IsNull() || parent.GetServeId() == 0) continue;
    Calendar local =
        manager.IsNull() ? Calendar() : manager.FindByFixedId(parent.GetFixedId(), false);
    if (IsServerCalendar(local)) deletes.Append(Link(parent.GetServeId(), 0, u.GetVersion(), 1));
  }
}

void Event::ApplyLinks(const LinkList& links, bool markDirty) {
  // A link names its calendar by fixed id, or by server id when it has none
  // (links built for the server and read from its answers carry only that).
  auto findPlacement = [&](const Link& l) {
    return l.GetFixedId() != 0
               ? FindCalendarEventByCalendarFixedId(l.GetFixedId(), false)
               : Live()->m_calendarEvents.FindByCalendarServeId(l.GetServeId(), false);
  };
  CalendarManager manager = GetManager();
  auto findCalendar = [&](const Link& l) {
    if (manager.IsNull()) return Calendar();
    return l.GetFixedId() != 0 ? manager.FindByFixedId(l.GetFixedId(), false)
                               : manager.FindCalendarByServeId(l.GetServeId(), false);
  };

  std::vector<Calendar> toAdd;
  std::vector<CalendarEvent> toRemove;
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    const Link& l = links[i];
    if (l.GetFixedId() == 0 && l.GetServeId() == 0) continue;
    CalendarEvent placement = findPlacement(l);
    if (!l.IsDeleted()) {
      if (placement.IsNull()) {
        Calendar calendar = findCalendar(l);
        if (!calendar.IsNull()) toAdd.push_back(calendar);
      } else if (placement.IsDeleted()) {
        placement.SetDeletedNot();
        if (markDirty) placement.SetDirty();
      }
    } else if (!placement.IsNull() && !placement.IsDeleted()) {
      toRemove.push_back(placement);
    }
  }
  for (CalendarEvent& placement : toRemove) {
    if (markDirty) {
      placement.SetDeleted();
      placement.SetDirty();
    } else {
      placement.Remove();
    }
  }
  for (Calendar& calendar : toAdd) {
    CalendarEvent placement = AddToCalendar(calendar);
    if (markDirty) placement.SetDirty();
  }
}

bool Event::Remove(bool global) {
  CalendarManager manager = GetManager();
  Event self = *this;  // the manager's list may hold the last count
  if (global) {
    bool emptied = GetCalendarEventList().EmptyList();
    bool removed = !manager.IsNull() && manager.removeEvent(self);
    return emptied && removed;
  }
  CalendarEventList links = GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    CalendarEvent link = links[i];
    Calendar calendar = link.GetParentCalendar();
    if (calendar.IsNull() || !calendar.GetCalendarDescriptor().GetSharedFlag()) continue;
    if (!link.Remove()) return false;
  }
  if (GetCalendarEventList().GetListCount() != 0) return true;
  return !manager.IsNull() && manager.removeEvent(self);
}

void Event::SetConflict(const Event& other) {
  if (other.IsNull()) {
    Live()->m_conflict = Event();
    return;
  }
  Event snapshot = CreateEmpty(0);
  snapshot.Copy(other);
  Live()->m_conflict = snapshot;
}

void Event::AcceptConflict() {
  BRONTEL_REQUIRE(!Live()->m_conflict.IsNull(), "!m_holder->m_conflict.IsNull()");
  Event snapshot = Live()->m_conflict;
  snapshot.m_holder->m_identification.Copy(Live()->m_identification);
  snapshot.m_holder->m_dateBookId = Live()->m_dateBookId;
  Copy(snapshot);
}

uint32_t Event::ForceFixedId(CalendarCache& cache) {
  EventHolder* h = Live();
  uint32_t fixedId = h->m_identification.GetFixedId();
  if (fixedId != 0) return fixedId;
  if (h->m_dateBookId != 0) {
    fixedId = h->m_dateBookId | kDateBookFixedIdBits;
    h->m_identification.SetFixedId(fixedId);
  } else {
    fixedId = h->m_identification.ForceFixedId(cache);
  }
  if (fixedId != 0) {
    SetDirtyFixedId();
    if (!h->m_manager.IsNull()) h->m_manager.Get().noteChangeFixedId(*this);
  }
  return fixedId;
}

int32_t Event::Sync(Event& other, const CalendarManager& reference, bool flag) {
  Event& m = *this;
  Event& o = other;
  // The reference is this event's as it is now: taking the other copy below
  // may change this event's cache id.
  const uint32_t cacheId = m.GetCacheId();
  bool looked = false;
  Event r;
  auto referenceEvent = [&]() -> Event& {
    if (!looked) {
      looked = true;
      if (!reference.IsNull()) r = reference.FindEventByCacheId(cacheId, false);
    }
    return r;
  };
  auto unchanged = [](const Event& x) { return x.GetDataHash() != 0 && x.HashMatched(); };
  auto referenceEquals = [&](const Event& x) {
    return !referenceEvent().IsNull() && referenceEvent().Equal(x);
  };

  // Decision table: which copy wins.
  enum class Outcome { kTakeOther, kKeepMine, kConflict, kNone } outcome;
  switch (m.CompareVersion(o)) {
    case -1:  // the other copy is newer
      if (o.Equal(m) || referenceEquals(m) || unchanged(m)) {
        outcome = Outcome::kTakeOther;
      } else {
        outcome = Outcome::kConflict;
      }
      break;
    case 1:  // mine is newer
      if (o.Equal(m) || referenceEquals(o) || unchanged(o)) {
        outcome = Outcome::kKeepMine;
      } else {
        outcome = Outcome::kConflict;
      }
      break;
    default:  // same version
      if (o.Equal(m)) {
        bool hashesDiffer =
            m.GetDataHash() != 0 && o.GetDataHash() != 0 && m.GetDataHash() != o.GetDataHash();
        outcome = hashesDiffer ? Outcome::kTakeOther : Outcome::kNone;
      } else if (referenceEquals(o)) {
        outcome = Outcome::kKeepMine;
      } else if (referenceEquals(m)) {
        outcome = Outcome::kTakeOther;
      } else if (unchanged(o) && !unchanged(m)) {
        outcome = Outcome::kKeepMine;
      } else if (unchanged(m) && !unchanged(o)) {
        outcome = Outcome::kTakeOther;
      } else {
        outcome = Outcome::kConflict;
      }
      break;
  }

  uint8_t mineUseMe = m.GetUseMe();
  uint8_t theirUseMe = o.GetUseMe();

  if (flag) {
    o.SetLocalId(m.GetLocalId());
    o.SetDateBookId(m.GetDateBookId());
    o.SetLocalInfo(m.GetLocalInfo());
  } else {
    m.SetLocalId(o.GetLocalId());
    m.SetDateBookId(o.GetDateBookId());
    m.SetLocalInfo(o.GetLocalInfo());
  }
  ShareFixedId(m, o);

  int32_t conflicts = 0;
  switch (outcome) {
    case Outcome::kConflict:
      conflicts = 1;
      m.SetVersion(Versioning::NewestVersion(m.GetVersion(), o.GetVersion()));
      m.SetConflict(o);
      break;
    case Outcome::kTakeOther:
      m.Copy(o);
      conflicts = m.IsConflicted() ? 1 : 0;
      if (flag) m.SetDirty();
      break;
    case Outcome::kKeepMine:
      o.Copy(m);
      break;
    case Outcome::kNone:
      if (o.IsConflicted() && !m.IsConflicted()) o.RejectConflict();
      break;
  }

  // The use-me flag is reconciled on its own: a side that did not change it
  // since the reference takes the other's value.
  if (mineUseMe != theirUseMe) {
    Event& ref = referenceEvent();
    uint8_t referenceUseMe = ref.IsDeleted() ? theirUseMe : ref.GetUseMe();
    uint8_t value = mineUseMe == referenceUseMe ? theirUseMe : (flag ? mineUseMe : theirUseMe);
    m.SetUseMe(value);
    o.SetUseMe(value);
    if (flag && value != mineUseMe) m.SetDirty();
  }
  return conflicts;
}

bool Event::SanityCheck() const {
  const CalendarEventList& links = Live()->m_calendarEvents;
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    const CalendarEvent& link = links[i];
    if (link.IsNull() || !link.GetEvent().IsSameHolder(*this)) return false;
    if (!link.SanityCheck()) return false;
  }
  return true;
}

void Event::addCalendarEvent(const CalendarEvent& link) {
  GetCalendarEventList().Append(link);
}
bool Event::removeCalendarEvent(const CalendarEvent& link) {
  return GetCalendarEventList().Remove(link);
}

std::string Event::GetDisplayString() const {
  if (IsNull()) return "Event: null";
  const EventHolder* h = Live();
  return Format("Event: %s<%x>%s %s %s#links = %d did=%x info=%x",
                h->m_identification.GetDisplayString().c_str(), h->m_parentEventFixedId,
                h->m_status.GetDisplayString().c_str(), h->m_descriptor.GetDisplayString().c_str(),
                IsConflicted() ? "**CONFLICT** " : "", h->m_calendarEvents.GetListCount(),
                h->m_dateBookId, h->m_localInfo);
}

std::string Event::GetUserDisplayString() const {
  const EventDescriptor& d = Live()->m_descriptor;
  std::string text =
      Format("Event:  %s at %s", d.GetName().c_str(), d.GetDisplayStringTime().c_str());
  if (!d.GetNote().empty()) text += Format(" (Note:  %s)", d.GetNote().c_str());
  std::string alarm = d.GetDisplayStringAlarm();
  if (!alarm.empty()) text += ", " + alarm;
  std::string repeat = d.GetDisplayStringRepeat();
  if (!repeat.empty()) text += ", " + repeat;
  return text;
}

TreeItem Event::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  if (IsNull()) return item;
  const EventDescriptor& d = Live()->m_descriptor;
  tree.InsertItem(Format("name %s", d.GetName().c_str()), item);
  tree.InsertItem(Format("note %s", d.GetNote().c_str()), item);
  DisplayConflict(tree, item);
  return item;
}

void Event::SerializeQuick(Archive& ar, uint32_t) {
  SerializeHolderObject(ar);
}

std::unique_ptr<LogNode> Event::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<Event>>(name, *this);
}

}  // namespace brontel
