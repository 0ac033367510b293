#include "gid_propagation.h"

#include "api_object_holder.h"
#include "brontel/platform/debug_sink.h"

namespace brontel {

bool PassPendingGID(ApiObjectHolder& h, bool report) {
  if (h.m_gidToPass.IsZero()) return true;
  const std::string where = std::string(h.m_family.otherCacheName) + " in " + h.m_directory;
  std::string failure;
  switch (h.m_family.passGID(h.m_directory, h.m_gidToPass)) {
    case GIDPass::kPassed:
      h.m_gidToPass = UID128();
      return true;
    case GIDPass::kOtherAccount:
      // Asking again would not change it: the other cache's own account stays.
      h.m_gidToPass = UID128();
      failure = "The " + where + " holds another account id";
      break;
    case GIDPass::kNotPassed:
      failure = "Unable to pass the account id to the " + where;
      break;
  }
  DebugLine(failure + "\n");
  if (report) h.m_errorMessage = failure;
  return false;
}

bool ConfirmGIDPassed(ApiObjectHolder& h, bool report) {
  if (!h.m_gid.IsZero()) h.m_gidToPass = h.m_gid;
  return PassPendingGID(h, report);
}

}  // namespace brontel
