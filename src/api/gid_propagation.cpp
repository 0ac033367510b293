#include "gid_propagation.h"

#include "api_object_holder.h"
#include "brontel/api/brontel_api.h"
#include "brontel/api/calendar_api.h"
#include "brontel/api/category_api.h"
#include "brontel/platform/debug_sink.h"

namespace brontel {

void PassGIDToContacts(const std::string& directory, const UID128& gid) {
  CategoryApi other = BrontelAPI::CreateCategoryApi(directory, BrontelAPI::GetVersion());
  if (!other.updateGID(gid, kOtherFamilyLockWait)) {
    DebugLine("Unable to pass the account id to the contact cache in " + directory + "\n");
  }
}

void PassGIDToCalendars(const std::string& directory, const UID128& gid) {
  CalendarApi other = BrontelAPI::CreateCalendarApi(directory, BrontelAPI::GetVersion());
  if (!other.updateGID(gid, kOtherFamilyLockWait)) {
    DebugLine("Unable to pass the account id to the calendar cache in " + directory + "\n");
  }
}

}  // namespace brontel
