#include "server/record_xml.h"

#include "brontel/protocol/xml_parser.h"

namespace brontel::server {

RequestElement::RequestElement(const XmlNode& node) : m_name(node.GetName()) {
  for (auto it = node.GetAttributes(); it->HasMoreElements();) {
    std::unique_ptr<XmlAttribute> attribute = it->NextElement();
    if (attribute == nullptr) break;
    m_attributes[attribute->GetName()] = attribute->GetStringValue();
  }
  for (auto it = node.GetChildNodes(); it->HasMoreElements();) {
    std::unique_ptr<XmlNode> child = it->NextElement();
    if (child == nullptr) break;
    if (!child->GetName().empty()) m_children.push_back(std::move(child));
  }
}

uint32_t RequestElement::Number(const std::string& attribute, uint32_t missing) const {
  auto found = m_attributes.find(attribute);
  return found == m_attributes.end() ? missing : SimXmlAttribute::CSToI(found->second);
}

uint16_t RequestElement::Short(const std::string& attribute) const {
  auto found = m_attributes.find(attribute);
  return found == m_attributes.end() ? 0 : SimXmlAttribute::CSToS(found->second);
}

uint8_t RequestElement::Byte(const std::string& attribute) const {
  auto found = m_attributes.find(attribute);
  return found == m_attributes.end() ? 0 : SimXmlAttribute::CSToB(found->second);
}

bool RequestElement::Flag(const std::string& attribute) const {
  auto found = m_attributes.find(attribute);
  return found != m_attributes.end() && SimXmlAttribute::CSToF(found->second);
}

std::optional<std::string> RequestElement::TextOf(const XmlNode& node) {
  auto it = node.GetChildNodes();
  if (!it->HasMoreElements()) return std::nullopt;
  std::unique_ptr<XmlNode> first = it->NextElement();
  if (first == nullptr || !first->GetName().empty()) return std::nullopt;
  return first->GetValue();
}

namespace {

void ReadText(const XmlNode& node, std::string* target) {
  if (auto text = RequestElement::TextOf(node)) *target = *text;
}

uint32_t ReadNumberText(const XmlNode& node) {
  auto text = RequestElement::TextOf(node);
  return text ? SimXmlAttribute::CSToI(*text) : 0;
}

void AddText(XmlElement& parent, const char* name, const std::string& text) {
  XmlElement child(name, &parent);
  child.AddValue(text);
}

void AddTextUnlessEmpty(XmlElement& parent, const char* name, const std::string& text) {
  if (!text.empty()) AddText(parent, name, text);
}

}  // namespace

CalendarContent ReadCalendarContent(const RequestElement& element) {
  CalendarContent content;
  content.readOnly = element.Flag("ro");
  content.hideDetails = element.Flag("hide");
  for (const auto& child : element.Children()) {
    const std::string& name = child->GetName();
    if (name == "name") {
      ReadText(*child, &content.name);
    } else if (name == "desc") {
      ReadText(*child, &content.description);
    } else if (name == "color") {
      content.color = ReadNumberText(*child);
    }
  }
  return content;
}

EventContent ReadEventContent(const RequestElement& element) {
  EventContent content;
  for (const auto& child : element.Children()) {
    const std::string& name = child->GetName();
    if (name == "name") {
      ReadText(*child, &content.name);
    } else if (name == "note") {
      ReadText(*child, &content.note);
    } else if (name == "time") {
      RequestElement time(*child);
      content.date = time.Short("ymd");
      content.startTime = time.Short("beg");
      content.endTime = time.Short("end");
    } else if (name == "repeat") {
      RequestElement repeat(*child);
      content.repeatType = repeat.Byte("typ");
      content.repeatEnd = repeat.Short("end");
      content.repeatFrequency = repeat.Byte("frq");
      content.repeatOn = repeat.Byte("ron");
      content.repeatStartOfWeek = repeat.Byte("fdw");
    } else if (name == "exclude") {
      content.exceptions.push_back(RequestElement(*child).Short("ymd"));
    } else if (name == "web") {
      RequestElement web(*child);
      for (const auto& piece : web.Children()) {
        const std::string& pieceName = piece->GetName();
        if (pieceName == "button") {
          ReadText(*piece, &content.buttonLabel);
        } else if (pieceName == "dturl") {
          ReadText(*piece, &content.desktopUrl);
        } else if (pieceName == "p7url") {
          ReadText(*piece, &content.wirelessUrl);
        } else if (pieceName == "sponsor") {
          ReadText(*piece, &content.sponsor);
        } else if (pieceName == "text") {
          ReadText(*piece, &content.webText);
        }
      }
    }
  }
  return content;
}

CategoryContent ReadCategoryContent(const RequestElement& element) {
  CategoryContent content;
  content.readOnly = element.Flag("ro");
  for (const auto& child : element.Children()) {
    const std::string& name = child->GetName();
    if (name == "name") {
      ReadText(*child, &content.name);
    } else if (name == "desc") {
      ReadText(*child, &content.description);
    } else if (name == "color") {
      content.color = ReadNumberText(*child);
    }
  }
  return content;
}

ContactContent ReadContactContent(const RequestElement& element) {
  ContactContent content;
  content.flags = element.Number("flg");
  content.options = element.Number("opt");
  content.offset = static_cast<uint8_t>(element.Number("ofs") & 0xFF);
  for (const auto& child : element.Children()) {
    if (child->GetName() != "datum") continue;
    uint32_t index = RequestElement(*child).Number("index", kContactDatumCount);
    if (index < static_cast<uint32_t>(kContactDatumCount)) ReadText(*child, &content.data[index]);
  }
  return content;
}

std::vector<LinkReference> ReadLinks(const RequestElement& element) {
  std::vector<LinkReference> links;
  for (const auto& child : element.Children()) {
    if (child->GetName() != "link") continue;
    RequestElement link(*child);
    links.push_back(LinkReference{link.Number("psid"), link.Number("pver")});
  }
  return links;
}

void WriteCalendarChildren(XmlElement& element, const CalendarContent& content, uint32_t color) {
  AddText(element, "name", content.name);
  AddTextUnlessEmpty(element, "desc", content.description);
  XmlElement colorElement("color", &element);
  colorElement.AddValue(color);
}

void WriteEventChildren(XmlElement& element, const EventContent& content) {
  AddText(element, "name", content.name);
  AddTextUnlessEmpty(element, "note", content.note);
  {
    XmlElement time("time", &element);
    time.AddAttribute("ymd", content.date);
    time.AddAttribute("beg", content.startTime);
    time.AddAttribute("end", content.endTime);
  }
  if (content.repeatType != 0) {
    XmlElement repeat("repeat", &element);
    repeat.AddAttribute("typ", content.repeatType);
    repeat.AddAttribute("end", content.repeatEnd);
    repeat.AddAttribute("frq", content.repeatFrequency);
    repeat.AddAttribute("ron", content.repeatOn);
    repeat.AddAttribute("fdw", content.repeatStartOfWeek);
  }
  for (uint16_t date : content.exceptions) {
    XmlElement exclude("exclude", &element);
    exclude.AddAttribute("ymd", date);
  }
  if (content.HasWeb()) {
    XmlElement web("web", &element);
    AddTextUnlessEmpty(web, "button", content.buttonLabel);
    AddTextUnlessEmpty(web, "dturl", content.desktopUrl);
    AddTextUnlessEmpty(web, "p7url", content.wirelessUrl);
    AddTextUnlessEmpty(web, "sponsor", content.sponsor);
    AddTextUnlessEmpty(web, "text", content.webText);
  }
}

void WriteCategoryChildren(XmlElement& element, const CategoryContent& content) {
  AddText(element, "name", content.name);
  AddTextUnlessEmpty(element, "desc", content.description);
  XmlElement color("color", &element);
  color.AddValue(content.color);
}

void WriteContactData(XmlElement& element, const ContactContent& content) {
  for (int32_t index = 0; index < kContactDatumCount; ++index) {
    const std::string& datum = content.data[static_cast<size_t>(index)];
    if (datum.empty()) continue;
    XmlElement child("datum", &element);
    child.AddAttribute("index", static_cast<uint32_t>(index));
    child.AddValue(datum);
  }
}

void WriteLink(XmlElement& element, uint32_t psid, uint32_t pver) {
  XmlElement link("link", &element);
  link.AddAttribute("psid", psid);
  link.AddAttribute("pver", pver);
}

}  // namespace brontel::server
