// Seeded generator of realistic user data for the benchmarks: calendars of
// every sharing kind with events of every repeat kind, repeat exceptions and
// web content, and contact categories with contacts that fill all 19 fields.
//
// The same shape and seed always give the same records. A copy is generated as
// a desktop program or a handheld conduit holds it after its records were
// saved (record ids set, nothing dirty); ChangeCalendars and ChangeContacts
// then edit, delete and add a fraction of it as a user would, and the
// RecordStore saves what a synchronization hands back. FillServerAccount fills
// an account of a running brontel-server by synchronizing a generated desktop.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/calendar/calendar_manager.h"
#include "brontel/contacts/category_manager.h"

namespace brontel::bench {

// A small deterministic random source (SplitMix64): the same seed gives the
// same sequence on every platform, unlike the standard distributions.
class Random {
 public:
  explicit Random(uint64_t seed) : m_state(seed) {}
  uint64_t Next();
  // A value in [0, bound). REQUIRES: bound > 0.
  uint32_t Below(uint32_t bound) { return static_cast<uint32_t>(Next() % bound); }
  // True with the given percentage.
  bool Percent(uint32_t percent) { return Below(100) < percent; }

 private:
  uint64_t m_state;
};

// Which copy of the data a manager stands for.
enum class CopyKind {
  // A desktop program's copy: records carry the desktop store's local ids.
  kDesktop,
  // A handheld's copy: events also carry the handheld's record (date-book) ids.
  kHandheld,
};

struct CalendarShape {
  int32_t events = 1000;
  // Calendars, the default calendar included. REQUIRES: calendars >= 4.
  int32_t calendars = 20;
  uint64_t seed = 1;
  // With subscribed calendars (read-only, read-write and hide-details) besides
  // the owned ones; an account filled on a server has only its own.
  bool subscribed = true;
};

struct ContactShape {
  int32_t contacts = 1000;
  // Named categories. REQUIRES: 1 <= categories <= 15 (the handheld's limit).
  int32_t categories = 15;
  uint64_t seed = 1;
  bool subscribed = true;
};

// Gives records their store's ids: what a desktop program or a handheld does
// with the records a synchronization hands back. Deleted records go, new ones
// get the store's next record ids, and everything is clean again.
class RecordStore {
 public:
  explicit RecordStore(CopyKind kind, uint32_t firstId = 1) : m_kind(kind), m_nextId(firstId) {}

  void Save(CalendarManager manager);
  void Save(CategoryManager manager);
  uint32_t NextId() { return m_nextId++; }
  CopyKind kind() const { return m_kind; }

 private:
  CopyKind m_kind;
  uint32_t m_nextId;
};

// Fills manager (empty) with shape's calendars and events, saved by store.
// Events: about 70% in one calendar, 22% in two, 8% in three; 40% repeat
// (daily, weekly, monthly by day or date, yearly, some with exception dates),
// 2% of the repeating ones have a repeat exception (a clone event); a few
// carry web content, alarms, notes or are private.
void FillCalendars(CalendarManager manager, const CalendarShape& shape, RecordStore& store);

// Adds events generated as by FillCalendars to the calendars manager holds.
void AddEvents(CalendarManager manager, int32_t events, Random& random, RecordStore& store);

// Fills manager (empty) with shape's categories (owned local and published, and
// subscribed ones when asked) and contacts (10% unfiled), saved by store.
void FillContacts(CategoryManager manager, const ContactShape& shape, RecordStore& store);
// Adds contacts generated as by FillContacts to the categories manager holds.
void AddContacts(CategoryManager manager, int32_t contacts, Random& random, RecordStore& store);

// What a Change call did.
struct ChangeCounts {
  int32_t changed = 0;
  int32_t deleted = 0;
  int32_t added = 0;
};

// Edits, deletes and adds each about fraction of the live events of manager
// (edits: name, note, time, alarm or an extra placement; deletions as the
// copy's program makes them: a desktop removes the event, a handheld marks it
// deleted and dirty). New records are left for the store to number.
ChangeCounts ChangeCalendars(CalendarManager manager, double fraction, Random& random,
                             CopyKind kind);
// The same for the contacts of manager (edits: a field or the category).
ChangeCounts ChangeContacts(CategoryManager manager, double fraction, Random& random,
                            CopyKind kind);

// A desktop of one account, its data synchronized with a brontel-server.
struct ServerAccount {
  CalendarApi calendars;
  CategoryApi contacts;
};

// The most records FillServerAccount adds per synchronization: a first
// synchronization sends every record in one request, and the reference server
// refuses requests above 64 MiB (some 190 000 records).
constexpr int32_t kServerFillStep = 100000;

// Makes the account user (password password) on the server that the settings
// store names (CRegistry::SetServerSyncName), fills a desktop in directory with
// the generated calendars and contacts of the shapes (owned records only), and
// synchronizes it: desktop, server, desktop, saving the records by store, in
// steps of kServerFillStep records. On failure returns false with *error set.
bool FillServerAccount(const std::string& directory, const std::string& user,
                       const std::string& password, const CalendarShape& calendarShape,
                       const ContactShape& contactShape, RecordStore& calendarStore,
                       RecordStore& contactStore, ServerAccount* account, std::string* error);

}  // namespace brontel::bench
