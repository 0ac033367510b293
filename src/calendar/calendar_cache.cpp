#include "brontel/calendar/calendar_cache.h"

#include <ctime>

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(CalendarCacheHolder, "CalendarCacheHolder");

CalendarCacheHolder::CalendarCacheHolder() : m_manager(CalendarManager::CreateEmpty()) {}

void CalendarCacheHolder::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteDword(m_sequence);
  } else {
    m_sequence = ar.ReadDword();
  }
  m_manager.SerializeQuick(ar, ar.IsStoring() ? Archive::kNoSchema : ar.GetObjectSchema());
}

CalendarCache::CalendarCache() : Handle(new CalendarCacheHolder()) {}

void CalendarCache::SetRandomCacheIndex() {
  uint32_t t = static_cast<uint32_t>(std::time(nullptr));
  Live()->m_sequence = ((t * 0xDEADACE9u) | 0x40000000u) & 0x7FFFFFFFu;
}

}  // namespace brontel
