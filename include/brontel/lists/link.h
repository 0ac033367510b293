// Link and LinkList: a placement of a record in a parent (an event in a
// calendar, a contact in a category) as the server sees it.
//
// A Link is a plain value: the parent's fixed id and server id, a version, and
// a delete flag set on placements that are to be removed. LinkList holds Links
// in order; removing drops every equal Link.
#pragma once

#include <cstdint>
#include <string>

#include "brontel/lists/growable_array.h"

namespace brontel {

struct Link {
  Link() = default;
  // Arguments in the order the protocol code builds them.
  Link(uint32_t serveId, uint32_t fixedId, uint32_t version, uint8_t deleteFlag)
      : m_fixedId(fixedId), m_serveId(serveId), m_version(version), m_deleteFlag(deleteFlag) {}

  bool operator==(const Link& other) const = default;

  uint32_t GetFixedId() const { return m_fixedId; }
  uint32_t GetServeId() const { return m_serveId; }
  uint32_t GetVersion() const { return m_version; }
  bool IsDeleted() const { return m_deleteFlag != 0; }
  // "<F=%x S=%x V=%x%s>" with " deleted" for a delete link.
  std::string GetDisplayString() const;

  uint32_t m_fixedId = 0;
  uint32_t m_serveId = 0;
  uint32_t m_version = 0xFFFFFFFF;
  uint8_t m_deleteFlag = 0;
};

class LinkList : public GrowableArray<Link> {
 public:
  // Removes every Link equal to link.
  bool Remove(const Link& link) {
    return RemoveIf([&](const Link& e) { return e == link; });
  }
};

}  // namespace brontel
