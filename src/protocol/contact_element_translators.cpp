// The translators of the contact family's elements: category and contact.
#include "element_translators.h"

#include <algorithm>

namespace brontel {

void CategoryElementTranslator::Translate(const XmlNode& element) {
  ForEachAttribute(element, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "sid") {
      m_sid = a.GetIntValue();
    } else if (name == "lid") {
      m_lid = a.GetIntValue();
    } else if (name == "ver") {
      m_ver = a.GetIntValue();
    } else if (name == "ro") {
      m_descriptor.SetReadOnlyFlag(a.GetBoolValue());
    } else if (name == "own") {
      m_descriptor.SetOwnedFlag(a.GetBoolValue());
    } else if (name == "act") {
      m_action = std::min<uint32_t>(a.GetIntValue(), 6);
    }
  });
  ForEachChild(element, [&](const XmlNode& child) {
    const std::string& name = child.GetName();
    if (name == "name") {
      if (auto text = TextOf(child)) m_descriptor.SetCategoryName(*text);
    } else if (name == "desc") {
      if (auto text = TextOf(child)) m_descriptor.SetDescription(*text);
    } else if (name == "color") {
      if (auto color = NumberOf(child)) m_descriptor.SetColor(*color);
    }
  });
  switch (m_action) {
    case XmlResponder::kActInsert:
    case XmlResponder::kActUpdate:
      m_responder.CategoryUpdate(m_descriptor, m_sid, m_lid, m_ver);
      break;
    case XmlResponder::kActDelete:
    case XmlResponder::kActDeleteOwned:
      m_responder.CategoryDelete(m_sid, m_ver);
      break;
    default:
      break;
  }
}

void ContactElementTranslator::Translate(const XmlNode& element) {
  ForEachAttribute(element, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "act") {
      m_action = std::min<uint32_t>(a.GetIntValue(), 6);
    } else if (name == "lid") {
      m_lid = a.GetIntValue();
    } else if (name == "sid") {
      m_sid = a.GetIntValue();
    } else if (name == "ver") {
      m_ver = a.GetIntValue();
    } else if (name == "flg") {
      m_descriptor.SetFlags(a.GetIntValue());
    } else if (name == "opt") {
      m_descriptor.SetOptions(a.GetIntValue());
    } else if (name == "ofs") {
      m_descriptor.SetOffset(static_cast<uint8_t>(a.GetIntValue() & 0xFF));
    }
  });
  ForEachChild(element, [&](const XmlNode& child) {
    const std::string& name = child.GetName();
    if (name == "datum") {
      readDatum(child);
    } else if (name == "link") {
      uint32_t psid = 0;
      uint32_t pver = 0;
      ForEachAttribute(child, [&](const XmlAttribute& a) {
        if (a.GetName() == "psid") {
          psid = a.GetIntValue();
        } else if (a.GetName() == "pver") {
          pver = a.GetIntValue();
        }
      });
      m_link = Link(psid, 0, pver, 0);
    }
  });
  switch (m_action) {
    case XmlResponder::kActInsert:
    case XmlResponder::kActUpdate:
      m_responder.ContactUpdate(m_descriptor, m_sid, m_lid, m_ver);
      break;
    case XmlResponder::kActDelete:
    case XmlResponder::kActDeleteOwned:
      m_responder.ContactDelete(m_sid, m_ver);
      break;
    case XmlResponder::kActInsertLinks:
      m_responder.ContactInsertLink(m_sid, m_link);
      break;
    case XmlResponder::kActDeleteLinks:
      m_responder.ContactDeleteLink(m_sid, m_link);
      break;
    default:
      break;
  }
}

void ContactElementTranslator::readDatum(const XmlNode& datum) {
  // No index attribute: an index that names no field.
  uint32_t index = ContactDescriptor::numDatums;
  ForEachAttribute(datum, [&](const XmlAttribute& a) {
    if (a.GetName() == "index") index = a.GetIntValue();
  });
  if (index >= static_cast<uint32_t>(ContactDescriptor::numDatums)) return;
  if (auto text = TextOf(datum)) m_descriptor.SetDatum(static_cast<int32_t>(index), *text);
}

}  // namespace brontel
