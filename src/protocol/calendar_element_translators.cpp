// The translators of the calendar family's elements: calendar and event.
#include "element_translators.h"

#include <algorithm>

namespace brontel {

void CalendarElementTranslator::Translate(const XmlNode& element) {
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
    } else if (name == "hide") {
      m_descriptor.SetHideDetailsFlag(a.GetBoolValue());
    } else if (name == "own") {
      m_descriptor.SetOwnedFlag(a.GetBoolValue());
    } else if (name == "act") {
      m_action = std::min<uint32_t>(a.GetIntValue(), 6);
    }
  });
  ForEachChild(element, [&](const XmlNode& child) {
    const std::string& name = child.GetName();
    if (name == "name") {
      if (auto text = TextOf(child)) m_descriptor.SetCalendarName(*text);
    } else if (name == "desc") {
      if (auto text = TextOf(child)) m_descriptor.SetDescription(*text);
    } else if (name == "color") {
      if (auto color = NumberOf(child)) {
        m_descriptor.SetColor(*color);
        m_descriptor.SetDefaultCalendar((*color & CalendarDescriptor::kDefaultCalendarBit) != 0);
      }
    }
  });
  // A calendar element with attributes only carries no calendar.
  if (!HasChildNodes(element)) return;
  switch (m_action) {
    case XmlResponder::kActInsert:
    case XmlResponder::kActUpdate:
      m_responder.CalendarUpdate(m_descriptor, m_lid, m_sid, m_ver);
      break;
    case XmlResponder::kActDelete:
    case XmlResponder::kActDeleteOwned:
      m_responder.CalendarDelete(m_lid, m_sid, m_ver);
      break;
    default:
      break;
  }
}

void EventElementTranslator::Translate(const XmlNode& element) {
  ForEachAttribute(element, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "sid") {
      m_sid = a.GetIntValue();
    } else if (name == "cid") {
      m_cid = a.GetIntValue();
    } else if (name == "lid") {
      m_lid = a.GetIntValue();
    } else if (name == "ver") {
      m_ver = a.GetIntValue();
    } else if (name == "act") {
      uint32_t action = a.GetIntValue();
      m_action = action >= 6 ? XmlResponder::kActDelete : action;
    }
  });
  ForEachChild(element, [&](const XmlNode& child) {
    const std::string& name = child.GetName();
    if (name == "name") {
      if (auto text = TextOf(child)) m_descriptor.SetName(*text);
    } else if (name == "note") {
      if (auto text = TextOf(child)) m_descriptor.SetNote(*text);
    } else if (name == "time") {
      readTime(child);
    } else if (name == "repeat") {
      readRepeat(child);
    } else if (name == "exclude") {
      ForEachAttribute(child, [&](const XmlAttribute& a) {
        if (a.GetName() == "ymd") m_descriptor.AddExceptionYearMonthDate(a.GetShortValue());
      });
    } else if (name == "link") {
      readLink(child);
    } else if (name == "web") {
      readWeb(child);
    }
  });
  switch (m_action) {
    case XmlResponder::kActInsert:
      m_responder.EventUpdate(m_descriptor, m_lid, m_sid, m_cid, m_ver);
      m_responder.EventInsertLinks(m_sid, m_links);
      break;
    case XmlResponder::kActUpdate:
      m_responder.EventUpdate(m_descriptor, m_lid, m_sid, m_cid, m_ver);
      break;
    case XmlResponder::kActDelete:
    case XmlResponder::kActDeleteOwned:
      m_responder.EventGlobalDelete(m_descriptor, m_lid, m_sid, m_ver);
      break;
    case XmlResponder::kActInsertLinks:
      m_responder.EventInsertLinks(m_sid, m_links);
      break;
    case XmlResponder::kActDeleteLinks:
      m_responder.EventDeleteLinks(m_sid, m_links);
      break;
    default:
      break;
  }
}

void EventElementTranslator::readTime(const XmlNode& time) {
  ForEachAttribute(time, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "ymd") {
      m_descriptor.SetYearMonthDate(a.GetShortValue());
    } else if (name == "beg") {
      m_descriptor.SetStartTime(a.GetShortValue());
    } else if (name == "end") {
      m_descriptor.SetEndTime(a.GetShortValue());
    }
  });
}

void EventElementTranslator::readRepeat(const XmlNode& repeat) {
  ForEachAttribute(repeat, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "typ") {
      m_descriptor.SetRepeatType(a.GetByteValue());
    } else if (name == "end") {
      m_descriptor.SetRepeatEndYearMonthDate(a.GetShortValue());
    } else if (name == "frq") {
      m_descriptor.SetRepeatFrequency(a.GetByteValue());
    } else if (name == "ron") {
      m_descriptor.SetRepeatOn(a.GetByteValue());
    } else if (name == "fdw") {
      m_descriptor.SetRepeatStartOfWeek(a.GetByteValue());
    }
  });
}

void EventElementTranslator::readLink(const XmlNode& link) {
  uint32_t psid = 0;
  uint32_t pver = 0;
  ForEachAttribute(link, [&](const XmlAttribute& a) {
    if (a.GetName() == "psid") {
      psid = a.GetIntValue();
    } else if (a.GetName() == "pver") {
      pver = a.GetIntValue();
    }
  });
  m_links.Append(Link(psid, 0, pver, 0));
}

void EventElementTranslator::readWeb(const XmlNode& web) {
  WebContent& content = m_descriptor.GetWebContent();
  ForEachChild(web, [&](const XmlNode& child) {
    std::optional<std::string> text = TextOf(child);
    if (!text) return;
    const std::string& name = child.GetName();
    if (name == "button") {
      content.SetButtonLabel(*text);
    } else if (name == "dturl") {
      content.SetDesktopURL(*text);
    } else if (name == "p7url") {
      content.SetPalm7URL(*text);
    } else if (name == "sponsor") {
      content.SetSponsor(*text);
    } else if (name == "text") {
      content.SetText(*text);
    }
  });
}

}  // namespace brontel
