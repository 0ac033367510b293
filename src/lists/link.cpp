#include "brontel/lists/link.h"

#include "brontel/platform/format.h"

namespace brontel {

std::string Link::GetDisplayString() const {
  return Format("<F=%x S=%x V=%x%s>", m_fixedId, m_serveId, m_version,
                m_deleteFlag ? " deleted" : "");
}

}  // namespace brontel
