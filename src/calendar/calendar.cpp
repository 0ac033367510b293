#include "brontel/calendar/calendar.h"

#include <unordered_map>

#include "brontel/calendar/calendar_cache.h"
#include "brontel/core/log_node.h"
#include "brontel/platform/format.h"
#include "record_body.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarHolder, "CalendarHolder");

Calendar::Calendar() = default;
Calendar::Calendar(CalendarHolder* adopted) : RecordHandle(adopted) {}
Calendar::Calendar(const Calendar& other) = default;
Calendar& Calendar::operator=(const Calendar& other) = default;
Calendar::~Calendar() = default;

Calendar::Calendar(const CalendarManager& manager) : RecordHandle(new CalendarHolder()) {
  m_holder->m_held = true;
  m_holder->m_manager.Set(manager);
}

Calendar Calendar::CreateEmpty(int32_t links) {
  return Calendar(new CalendarHolder(links));
}

void Calendar::SetLocalId(uint32_t v) {
  Live()->m_identification.SetLocalId(v);
}
void Calendar::SetServeId(uint32_t v) {
  Live()->m_identification.SetServeId(v);
}
void Calendar::SetFixedId(uint32_t v) {
  Live()->m_identification.SetFixedId(v);
}
void Calendar::SetClean() {
  Live()->m_status.SetDirtyFlag(false);
}

uint32_t Calendar::GetUpperVersion() const {
  const CalendarManager& manager = Live()->m_manager.Get();
  return manager.IsNull() ? Versioning::InValidVersion() : manager.GetVersion();
}

uint32_t Calendar::GetLocalInfo() const {
  return Live()->m_localInfo;
}
void Calendar::SetLocalInfo(uint32_t v) {
  Live()->m_localInfo = v;
}
CalendarManager Calendar::GetManager() const {
  return Live()->m_manager.Get();
}
CalendarDescriptor Calendar::GetCalendarDescriptor() const {
  return Live()->m_descriptor;
}
CalendarEventList& Calendar::GetCalendarEventList() const {
  return Live()->m_calendarEvents;
}

bool Calendar::IsDefaultCalendar() const {
  return !IsNull() && Live()->m_descriptor.IsDefaultCalendar();
}
void Calendar::SetDefaultCalendar(bool isDefault) {
  Live()->m_descriptor.SetDefaultCalendar(isDefault);
}
bool Calendar::IsHidden() const {
  return Live()->m_descriptor.IsHidden();
}
bool Calendar::IsReadOnly() const {
  return Live()->m_descriptor.IsReadOnly();
}

bool Calendar::IsReadWriteShared() const {
  if (IsDeleted()) return false;
  const CalendarDescriptor& d = Live()->m_descriptor;
  return d.GetSharedFlag() && (d.GetOwnedFlag() || !d.GetReadOnlyFlag());
}

bool Calendar::HashMatched() const {
  return Live()->m_status.GetDataHash() == Live()->m_descriptor.CalculateHash();
}

bool Calendar::HasServerSynced() const {
  if (IsNull() || Live()->m_status.GetDataHash() == 0) return false;
  const CalendarManager& manager = Live()->m_manager.Get();
  return !manager.IsNull() && Versioning::IsValidVersion(manager.GetVersion());
}

bool Calendar::IsMatching(const Calendar& other) const {
  if (IsNull() || other.IsNull()) return false;
  return Live()->m_identification.IsMatching(other.Live()->m_identification, false, false, true);
}

bool Calendar::Equal(const Calendar& other, bool skipLocal) const {
  RequireLiveOther(other);
  return Live()->m_status.Equal(other.m_holder->m_status) &&
         Live()->m_descriptor.Equal(other.m_holder->m_descriptor, skipLocal);
}

void Calendar::Copy(const Calendar& other, bool skipLocal) {
  RequireLiveOther(other);
  CalendarHolder* h = Live();
  const CalendarHolder* o = other.m_holder;
  h->m_conflict = o->m_conflict;
  h->m_descriptor.Copy(o->m_descriptor, skipLocal);
  h->m_identification.Copy(o->m_identification);
  h->m_status.Copy(o->m_status);
  h->m_localInfo = o->m_localInfo;
}

Calendar Calendar::Clone(const CalendarManager& manager) const {
  const CalendarHolder* h = Live();
  Calendar copy = CreateEmpty(h->m_calendarEvents.GetListCount());
  copy.Copy(*this, false);
  copy.m_holder->m_held = h->m_held;
  if (h->m_held) copy.m_holder->m_manager.Set(manager);
  return copy;
}

CalendarDescriptor Calendar::Blend(const Calendar& a, const Calendar& b) const {
  if (IsNull()) return CalendarDescriptor();
  return Live()->m_descriptor.Blend(a.GetCalendarDescriptor(), b.GetCalendarDescriptor());
}

CalendarEvent Calendar::AddEvent(Event& event) {
  return CalendarEvent(event, *this);
}

Event Calendar::CreateNewEvent(const EventDescriptor& descriptor) {
  Event event = GetManager().CreateNewEvent(descriptor, 0, 0);
  AddEvent(event);
  return event;
}

void Calendar::SetConflict(const Calendar& other) {
  if (other.IsNull()) {
    Live()->m_conflict = Calendar();
    return;
  }
  Calendar snapshot = CreateEmpty(0);
  snapshot.Copy(other, false);
  Live()->m_conflict = snapshot;
}

void Calendar::AcceptConflict() {
  BRONTEL_REQUIRE(!Live()->m_conflict.IsNull(), "!m_holder->m_conflict.IsNull()");
  Calendar snapshot = Live()->m_conflict;
  snapshot.m_holder->m_identification.Copy(Live()->m_identification);
  Copy(snapshot, false);
}

uint32_t Calendar::ForceFixedId(CalendarCache& cache) {
  CalendarHolder* h = Live();
  uint32_t before = h->m_identification.GetFixedId();
  uint32_t fixedId;
  if (IsDefaultCalendar()) {
    fixedId = DefaultCalendarFixedId();
    h->m_identification.SetFixedId(fixedId);
  } else {
    fixedId = h->m_identification.ForceFixedId(cache);
  }
  if (fixedId != before) SetDirty();
  return fixedId;
}

void Calendar::MergeOnDateBookId(Calendar& other) {
  CalendarEventList& mine = GetCalendarEventList();
  std::unordered_map<uint32_t, int32_t> byDateBookId;
  byDateBookId.reserve(static_cast<size_t>(mine.GetListCount()) * 6 / 5 + 1001);
  for (int32_t i = 0; i < mine.GetListCount(); ++i) {
    mine[i].SetDeleted();
    uint32_t d = mine[i].GetDateBookId();
    if (d != 0) byDateBookId.emplace(d, i);
  }
  EventList& events = GetManager().GetEventList();
  for (int32_t i = 0; i < events.GetListCount(); ++i) events[i].SetDateBookId(0);

  // Work on a copy: creating events adds placements to this calendar's list.
  CalendarEventList theirs = other.GetCalendarEventList();
  for (int32_t i = 0; i < theirs.GetListCount(); ++i) {
    CalendarEvent link = theirs[i];
    uint32_t d = link.GetDateBookId();
    if (d == 0) continue;
    EventDescriptor descriptor = link.GetEvent().GetEventDescriptor();
    auto found = byDateBookId.find(d);
    if (found != byDateBookId.end() && found->second < mine.GetListCount()) {
      CalendarEvent target = mine[found->second];
      target.Copy(link);
      Event event = target.GetEvent();
      EventDescriptor current = event.GetEventDescriptor();
      bool same = current.Equal(descriptor);
      current.Copy(descriptor);
      if (!same) event.SetDirty();
      target.SetDateBookId(d);
    } else {
      Event event = CreateNewEvent(descriptor);
      event.SetDateBookId(d);
      event.SetDirty();
      CalendarEventList& placements = event.GetCalendarEventList();
      if (placements.GetListCount() > 0) placements[placements.GetListCount() - 1].SetDirty();
    }
  }
  for (int32_t i = 0; i < mine.GetListCount(); ++i) {
    if (mine[i].IsDeleted()) mine[i].SetDirty();
  }
}

int32_t Calendar::Sync(Calendar& other, const CalendarManager& reference, bool flag) {
  Calendar& m = *this;
  Calendar& o = other;
  Calendar r = reference.IsNull() ? Calendar() : reference.FindByFixedId(m.GetFixedId(), false);
  bool referenceLive = !r.IsDeleted();
  CalendarDescriptor blend = r.Blend(m, o);
  auto unchanged = [](const Calendar& x) { return x.GetDataHash() != 0 && x.HashMatched(); };

  // Decision table: which copy wins.
  enum class Outcome { kTakeOther, kKeepMine, kConflict, kNone } outcome;
  switch (m.CompareVersion(o)) {
    case -1:  // the other copy is newer
      if (o.Equal(m, true)) {
        outcome = Outcome::kTakeOther;
      } else if (referenceLive && blend.Equal(m.GetCalendarDescriptor(), true)) {
        outcome = Outcome::kTakeOther;  // only the other copy changed since the reference
      } else if (unchanged(m)) {
        outcome = Outcome::kTakeOther;
      } else if (m.GetCalendarDescriptor().CalculateHash() == 0x0B30737D) {
        outcome = Outcome::kTakeOther;  // mine holds only the defaults of a fresh record
      } else {
        outcome = Outcome::kConflict;
      }
      break;
    case 1:  // mine is newer
      if (o.Equal(m, true)) {
        outcome = Outcome::kKeepMine;
      } else if (referenceLive && blend.Equal(o.GetCalendarDescriptor(), true)) {
        outcome = Outcome::kKeepMine;
      } else if (unchanged(o)) {
        outcome = Outcome::kKeepMine;
      } else {
        outcome = Outcome::kConflict;
      }
      break;
    default:  // same version
      if (o.Equal(m, true)) {
        outcome = m.GetDataHash() != o.GetDataHash() ? Outcome::kTakeOther : Outcome::kNone;
      } else if (referenceLive && blend.Equal(o.GetCalendarDescriptor(), true)) {
        outcome = Outcome::kKeepMine;
      } else if (referenceLive && r.Equal(m, true)) {
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

  // Local ids and local settings follow the copy the flag names.
  if (flag) {
    o.SetLocalId(m.GetLocalId());
    o.SetLocalInfo(m.GetLocalInfo());
    m.Live()->m_descriptor.SetSelectedDesktopFlag(o.Live()->m_descriptor.GetSelectedDesktopFlag());
  } else {
    m.SetLocalId(o.GetLocalId());
    m.SetLocalInfo(o.GetLocalInfo());
    o.Live()->m_descriptor.SetSelectedDesktopFlag(m.Live()->m_descriptor.GetSelectedDesktopFlag());
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
      m.Copy(o, false);
      conflicts = m.IsConflicted() ? 1 : 0;
      if (flag) m.SetDirty();
      break;
    case Outcome::kKeepMine:
      o.Copy(m, false);
      break;
    case Outcome::kNone:
      if (o.IsConflicted() && !m.IsConflicted()) o.RejectConflict();
      break;
  }
  return conflicts;
}

bool Calendar::Remove() {
  bool emptied = GetCalendarEventList().EmptyList();
  CalendarManager manager = GetManager();
  bool removed = !manager.IsNull() && manager.removeCalendar(*this);
  return emptied && removed;
}

bool Calendar::SanityCheck() const {
  const CalendarEventList& links = GetCalendarEventList();
  for (int32_t i = 0; i < links.GetListCount(); ++i) {
    const CalendarEvent& link = links[i];
    if (link.IsNull() || !link.GetParentCalendar().IsSameHolder(*this)) return false;
    if (!link.SanityCheck()) return false;
  }
  return true;
}

void Calendar::addCalendarEvent(const CalendarEvent& link) {
  GetCalendarEventList().Append(link);
}
bool Calendar::removeCalendarEvent(const CalendarEvent& link) {
  return GetCalendarEventList().Remove(link);
}

std::string Calendar::GetDisplayString() const {
  if (IsNull()) return "Calendar: null";
  const CalendarHolder* h = Live();
  return Format(
      "Calendar: %s %s %s info=%x %s#events = %d", h->m_identification.GetDisplayString().c_str(),
      h->m_status.GetDisplayString().c_str(), h->m_descriptor.GetDisplayString().c_str(),
      h->m_localInfo, IsConflicted() ? "**CONFLICT** " : "", h->m_calendarEvents.GetListCount());
}

std::string Calendar::GetUserDisplayString() const {
  const CalendarDescriptor& d = Live()->m_descriptor;
  std::string kind = !d.GetSharedFlag() ? "local" : d.GetOwnedFlag() ? "published" : "subscribed";
  if (d.GetSharedFlag()) {
    kind += d.GetHideDetailsFlag() ? " private" : d.GetReadOnlyFlag() ? " RO" : " RW";
  }
  return Format("Calendar:  %s\r\n%s\r\nDescription:  %s", d.GetCalendarName().c_str(),
                kind.c_str(), d.GetDescription().c_str());
}

TreeItem Calendar::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  DisplayConflict(tree, item);
  return item;
}

void Calendar::SerializeQuick(Archive& ar, uint32_t) {
  SerializeHolderObject(ar);
}

std::unique_ptr<LogNode> Calendar::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<Calendar>>(name, *this);
}

}  // namespace brontel
