// Calendar: one calendar of the user, a named, coloured collection of events.
//
// A record handle (shared holder) with a CalendarDescriptor, the list of its
// placements (CalendarEvent), identity, status and a conflict slot that keeps a
// losing version. A calendar created for a manager points back at it without
// counting it. Sync reconciles it three ways against its counterpart in another
// copy and the reference copy of the last synchronization.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/core/log_able.h"
#include "brontel/core/record_handle.h"

namespace brontel {

class CalendarCache;
class CalendarDescriptor;
class CalendarEvent;
class CalendarEventList;
class CalendarHolder;
class CalendarManager;
class Event;
class EventDescriptor;

class Calendar : public LogAble, public RecordHandle<Calendar, CalendarHolder> {
 public:
  static constexpr char kLogNodeName[] = "CalendarLog";
  // The fixed id of every default calendar.
  static constexpr uint32_t DefaultCalendarFixedId() { return 0xDEFA4175; }

  // A null calendar.
  Calendar();
  // A new calendar created for manager (held: it does not count the manager).
  explicit Calendar(const CalendarManager& manager);
  Calendar(const Calendar& other);
  Calendar& operator=(const Calendar& other);
  ~Calendar() override;

  static Calendar CreateNull() { return Calendar(); }
  // A new calendar without manager whose link list has room for links entries.
  static Calendar CreateEmpty(int32_t links);

  void SetLocalId(uint32_t v);
  void SetServeId(uint32_t v);
  void SetFixedId(uint32_t v);
  void SetClean();

  // The manager's version, or the invalid version without manager.
  uint32_t GetLowerVersion() const { return GetVersion(); }
  uint32_t GetUpperVersion() const;

  uint32_t GetLocalInfo() const;
  void SetLocalInfo(uint32_t v);
  CalendarManager GetManager() const;
  CalendarDescriptor GetCalendarDescriptor() const;
  CalendarEventList& GetCalendarEventList() const;

  bool IsDefaultCalendar() const;
  void SetDefaultCalendar(bool isDefault);
  bool IsHidden() const;
  bool IsReadOnly() const;
  // Not deleted, shared, and owned or writable.
  bool IsReadWriteShared() const;
  bool HashMatched() const;
  // Has a holder, a data hash and a manager with a valid version.
  bool HasServerSynced() const;

  // Both non-null and the same fixed id.
  bool IsMatching(const Calendar& other) const;
  // Delete flags and descriptors equal (local settings skipped when skipLocal).
  bool Equal(const Calendar& other, bool skipLocal) const;
  // Copies conflict (shared), descriptor, identification, status, local info.
  void Copy(const Calendar& other, bool skipLocal);
  // A copy for manager (links are re-made by the manager).
  Calendar Clone(const CalendarManager& manager) const;
  // This descriptor blended with a's and b's; a default descriptor for a null
  // calendar.
  CalendarDescriptor Blend(const Calendar& a, const Calendar& b) const;

  // Places event in this calendar. REQUIRES: same manager.
  CalendarEvent AddEvent(Event& event);
  // A new event of the manager with descriptor, placed in this calendar.
  Event CreateNewEvent(const EventDescriptor& descriptor);

  // Keeps a detached snapshot of other as the competing version.
  void SetConflict(const Calendar& other);
  // Takes the competing version's data under this calendar's own identity.
  // REQUIRES: IsConflicted().
  void AcceptConflict();

  uint32_t ForceFixedId(CalendarCache& cache);
  // Folds a freshly read handheld copy into this calendar by date-book ids.
  void MergeOnDateBookId(Calendar& other);
  // Three-way reconciliation; returns the number of conflicts found (0 or 1).
  int32_t Sync(Calendar& other, const CalendarManager& reference, bool flag);
  // Empties the placements and leaves the manager.
  bool Remove();
  bool SanityCheck() const;

  std::string GetDisplayString() const override;
  std::string GetUserDisplayString() const;
  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;

  // Adds or drops one count of the holder without a handle (for the manager).
  using Handle::refer;
  using Handle::unrefer;

 private:
  friend struct CalendarStoredForm;
  friend class CalendarEvent;
  friend class CalendarManager;
  friend class CalendarHolder;
  friend class CalendarManagerHolder;
  friend class CalendarEventHolder;
  explicit Calendar(CalendarHolder* adopted);
  void addCalendarEvent(const CalendarEvent& link);
  bool removeCalendarEvent(const CalendarEvent& link);
};

}  // namespace brontel

// The lists and holders complete the types declared here.
#include "brontel/calendar/calendar_lists.h"
