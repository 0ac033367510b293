// The XML form of record contents in both directions: RequestElement reads one
// element of a request (attributes, children and their texts, with the
// client's own number conversions), and the Write functions add a content's
// children to an answer element in the order and form the client writes them,
// so an echo reads back to the very values the client sent.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "brontel/protocol/xml_element.h"
#include "brontel/protocol/xml_node.h"
#include "server/record_content.h"

namespace brontel::server {

// The client's "ffffffff" link version: psid then holds a client-side fixed id.
inline constexpr uint32_t kClientSideLinkVersion = 0xFFFFFFFF;

// One link element: psid and pver as sent.
struct LinkReference {
  uint32_t psid = 0;
  uint32_t pver = 0;
};

class RequestElement {
 public:
  explicit RequestElement(const XmlNode& node);

  const std::string& Name() const { return m_name; }
  bool Has(const std::string& attribute) const { return m_attributes.count(attribute) != 0; }
  // Attribute values read as hexadecimal numbers of at most 8, 4 or 2 digits
  // (longer values and missing attributes read as 0); flags are true unless
  // empty or starting with "0".
  uint32_t Number(const std::string& attribute, uint32_t missing = 0) const;
  uint16_t Short(const std::string& attribute) const;
  uint8_t Byte(const std::string& attribute) const;
  bool Flag(const std::string& attribute) const;

  // The child elements in document order (text nodes left out).
  const std::vector<std::unique_ptr<XmlNode>>& Children() const { return m_children; }
  // The text of an element: the value of its first child when that is text.
  static std::optional<std::string> TextOf(const XmlNode& node);

 private:
  std::string m_name;
  std::map<std::string, std::string> m_attributes;
  std::vector<std::unique_ptr<XmlNode>> m_children;
};

// Readers of a record element's content (attributes and children).
CalendarContent ReadCalendarContent(const RequestElement& element);
EventContent ReadEventContent(const RequestElement& element);
CategoryContent ReadCategoryContent(const RequestElement& element);
ContactContent ReadContactContent(const RequestElement& element);
// Every link child in order.
std::vector<LinkReference> ReadLinks(const RequestElement& element);

// Writers of content children: name, desc (when not empty), color.
void WriteCalendarChildren(XmlElement& element, const CalendarContent& content, uint32_t color);
// name, note, time, repeat, exclude, web, as the client orders them.
void WriteEventChildren(XmlElement& element, const EventContent& content);
void WriteCategoryChildren(XmlElement& element, const CategoryContent& content);
// The datum children of the fields that are not empty.
void WriteContactData(XmlElement& element, const ContactContent& content);
void WriteLink(XmlElement& element, uint32_t psid, uint32_t pver);

}  // namespace brontel::server
