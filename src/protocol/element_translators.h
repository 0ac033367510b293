// The element translators of ResponseTranslator: one small object per element
// of an answer, made with the responder and dropped after the element. Each
// gathers the element's attributes into fields, fills a descriptor from the
// child elements, and ends in one responder call chosen by the action code.
// Missing numbers count as 0; unknown attributes and children are ignored.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "brontel/calendar/calendar_descriptor.h"
#include "brontel/calendar/event_descriptor.h"
#include "brontel/contacts/category_descriptor.h"
#include "brontel/contacts/contact_descriptor.h"
#include "brontel/lists/link.h"
#include "brontel/protocol/xml_node.h"
#include "brontel/protocol/xml_responder.h"

namespace brontel {

// Calls visit(attribute) for each attribute of node, in document order.
template <class Visit>
void ForEachAttribute(const XmlNode& node, Visit&& visit) {
  auto attributes = node.GetAttributes();
  while (attributes->HasMoreElements()) {
    std::unique_ptr<XmlAttribute> attribute = attributes->NextElement();
    if (attribute != nullptr) visit(static_cast<const XmlAttribute&>(*attribute));
  }
}

// Calls visit(child) for each child node of node (text nodes included), in
// document order.
template <class Visit>
void ForEachChild(const XmlNode& node, Visit&& visit) {
  auto children = node.GetChildNodes();
  while (children->HasMoreElements()) {
    std::unique_ptr<XmlNode> child = children->NextElement();
    if (child != nullptr) visit(static_cast<const XmlNode&>(*child));
  }
}

// The text of element: the value of its first child when that is a text node;
// nothing for an element without text.
std::optional<std::string> TextOf(const XmlNode& element);
// The text of element read as a hexadecimal number of at most 8 digits.
std::optional<uint32_t> NumberOf(const XmlNode& element);
bool HasChildNodes(const XmlNode& element);

class CalendarElementTranslator {
 public:
  explicit CalendarElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // Applied only when the element has a child node: act 0 or 1 updates, 2 or
  // 3 deletes, anything else (6 and above count as 6) does nothing.
  void Translate(const XmlNode& element);

 private:
  XmlResponder& m_responder;
  CalendarDescriptor m_descriptor;
  uint32_t m_action = XmlResponder::kActUpdate;
  uint32_t m_lid = 0;
  uint32_t m_sid = 0;
  uint32_t m_ver = 0;
};

class EventElementTranslator {
 public:
  explicit EventElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // act 0 updates and then inserts the links, 1 updates, 2 and 3 (and 6 and
  // above) delete, 4 inserts and 5 deletes the links.
  void Translate(const XmlNode& element);

 private:
  void readTime(const XmlNode& time);
  void readRepeat(const XmlNode& repeat);
  void readLink(const XmlNode& link);
  void readWeb(const XmlNode& web);

  XmlResponder& m_responder;
  EventDescriptor m_descriptor;
  uint32_t m_action = XmlResponder::kActUpdate;
  uint32_t m_cid = 0;
  uint32_t m_lid = 0;
  uint32_t m_sid = 0;
  uint32_t m_ver = 0;
  LinkList m_links;
};

class CategoryElementTranslator {
 public:
  explicit CategoryElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // act 0 or 1 updates, 2 or 3 deletes, anything else does nothing.
  void Translate(const XmlNode& element);

 private:
  XmlResponder& m_responder;
  CategoryDescriptor m_descriptor;
  uint32_t m_action = XmlResponder::kActUpdate;
  uint32_t m_lid = 0;
  uint32_t m_sid = 0;
  uint32_t m_ver = 0;
};

class ContactElementTranslator {
 public:
  explicit ContactElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // act 0 or 1 updates, 2 or 3 deletes, 4 inserts and 5 deletes the link,
  // anything else does nothing. The last link element counts.
  void Translate(const XmlNode& element);

 private:
  void readDatum(const XmlNode& datum);

  XmlResponder& m_responder;
  ContactDescriptor m_descriptor;
  uint32_t m_action = XmlResponder::kActUpdate;
  uint32_t m_lid = 0;
  uint32_t m_sid = 0;
  uint32_t m_ver = 0;
  Link m_link;
};

class ConflictElementTranslator {
 public:
  explicit ConflictElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // Reports the conflict to the callback of its record kind (ctyp 1 to 4).
  void Translate(const XmlNode& element);

 private:
  XmlResponder& m_responder;
  XML_CONFLICT m_conflict;
};

class WirelessUrlElementTranslator {
 public:
  explicit WirelessUrlElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // Passes the element's text and its version on, when it has text.
  void Translate(const XmlNode& element);

 private:
  XmlResponder& m_responder;
  std::string m_url;
  uint32_t m_ver = 0;
};

class OrvelElementTranslator {
 public:
  explicit OrvelElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // One WebClick per click child, with its eid.
  void Translate(const XmlNode& element);

 private:
  XmlResponder& m_responder;
};

class RegItemElementTranslator {
 public:
  explicit RegItemElementTranslator(XmlResponder& responder) : m_responder(responder) {}
  // Pushes the element's text as a number (typ 1) or as a text (typ 2).
  void Translate(const XmlNode& element);

 private:
  XmlResponder& m_responder;
  bool m_local = false;
  uint32_t m_type = 0;
  uint32_t m_number = 0;
  std::string m_key;
  std::string m_text;
};

}  // namespace brontel
