// CalendarCache: the local cache of the calendar data, a manager together with
// the counter from which cache ids are drawn.
//
// Cache ids are unique within one cache: every record that enters the cache, and
// every record that gets a provisional fixed id from it, takes the current
// sequence value, after which the sequence is incremented.
#pragma once

#include <cstdint>

#include "brontel/calendar/calendar_manager.h"
#include "brontel/core/handle.h"

namespace brontel {

class CalendarCacheHolder : public Holder {
  BRONTEL_DECLARE_SERIAL()

 public:
  CalendarCacheHolder();
  void Serialize(Archive& ar) override;

  CalendarManager m_manager;
  uint32_t m_sequence = 1;
};

class CalendarCache : public Handle<CalendarCacheHolder> {
 public:
  CalendarCache();

  CalendarManager GetCalendarManager() const { return Live()->m_manager; }
  uint32_t GetSequence() const { return Live()->m_sequence; }
  // Returns the sequence, then increments it.
  uint32_t GenerateCacheId() { return Live()->m_sequence++; }
  void Increment() { ++Live()->m_sequence; }
  // Starts the sequence somewhere in 0x40000000..0x7FFFFFFF, from the clock, so
  // caches started at different times rarely hand out the same ids.
  void SetRandomCacheIndex();
};

}  // namespace brontel
