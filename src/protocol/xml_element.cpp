#include "brontel/protocol/xml_element.h"

#include <cstring>

#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"

namespace brontel {

XmlElement::XmlElement(const std::string& name, XmlElement* parent)
    : m_name(name), m_parent(parent) {
  if (parent == nullptr) {
    m_capacity = kInitialCapacity;
    m_buffer = std::make_unique<char[]>(static_cast<size_t>(m_capacity));
  } else {
    parent->AddChild();
  }
  OpenBuffer();
}

XmlElement::~XmlElement() {
  if (m_parent != nullptr) Close();
}

void XmlElement::AppendAttribute(const std::string& name, std::string_view value) {
  BRONTEL_REQUIRE(m_valueCount == 0, "m_valueCount == 0");
  m_attributes += ' ';
  m_attributes += name;
  m_attributes += "=\"";
  m_attributes += value;
  m_attributes += '"';
}

void XmlElement::AddAttribute(const std::string& name, const std::string& value) {
  AppendAttribute(name, value);
}
void XmlElement::AddAttribute(const std::string& name, uint32_t value) {
  AppendAttribute(name, Format("%x", value));
}
void XmlElement::AddAttribute(const std::string& name, uint16_t value) {
  AppendAttribute(name, Format("%x", static_cast<uint32_t>(value)));
}
void XmlElement::AddAttribute(const std::string& name, uint8_t value) {
  AppendAttribute(name, Format("%x", static_cast<uint32_t>(value)));
}
void XmlElement::AddAttribute(const std::string& name, const UID128& value) {
  AppendAttribute(name, IdText(value));
}
void XmlElement::AddAttributeFlag(const std::string& name, bool value) {
  AppendAttribute(name, value ? "1" : "0");
}

std::string XmlElement::Escape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\\':
        out += "\\\\";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string XmlElement::IdText(const UID128& id) {
  // Byte 15 first, grouped 8-4-4-4-12 digits.
  std::string out;
  out.reserve(36);
  for (int i = UID128::kByteCount - 1, written = 0; i >= 0; --i, ++written) {
    if (written == 4 || written == 6 || written == 8 || written == 10) out += '-';
    out += Format("%02X", id.GetByte(i));
  }
  return out;
}

void XmlElement::AddValue(const std::string& value) {
  AddEncodedValue(Escape(value));
}
void XmlElement::AddValue(uint32_t value) {
  AddEncodedValue(Format("%x", value));
}
void XmlElement::AddValue(const UID128& value) {
  AddEncodedValue(IdText(value));
}

void XmlElement::AddEncodedValue(std::string_view text) {
  if (m_valueCount == 0) {
    AppendToBuffer(m_attributes);
    AppendToBuffer(">");
  }
  ++m_valueCount;
  AppendToBuffer(text);
}

void XmlElement::AddChild() {
  BRONTEL_REQUIRE(m_childCount == 0, "m_childCount == 0");
  ++m_childCount;
  if (m_valueCount == 0) {
    AppendToBuffer(m_attributes);
    AppendToBuffer(">");
  }
  ++m_valueCount;
}

void XmlElement::RemoveChild() {
  --m_childCount;
  BRONTEL_REQUIRE(m_childCount == 0, "m_childCount == 0");
}

void XmlElement::Close() {
  BRONTEL_REQUIRE(m_parent != nullptr, "m_parent");
  CompleteBuffer();
  m_parent->RemoveChild();
  m_parent = nullptr;
}

void XmlElement::CompleteBuffer() {
  if (m_valueCount > 0) {
    AppendToBuffer("</");
    AppendToBuffer(m_name);
    AppendToBuffer(">");
  } else {
    AppendToBuffer(m_attributes);
    AppendToBuffer("/>");
  }
}

void XmlElement::OpenBuffer() {
  AppendToBuffer("<");
  AppendToBuffer(m_name);
}

std::string XmlElement::Query() {
  BRONTEL_REQUIRE(m_parent == nullptr, "m_parent == 0");
  CompleteBuffer();
  return std::string(m_buffer.get(), static_cast<size_t>(m_length));
}

void XmlElement::AppendToBuffer(std::string_view text) {
  if (m_parent != nullptr) {
    m_parent->AppendToBuffer(text);
    return;
  }
  BRONTEL_REQUIRE(m_buffer != nullptr, "m_parent == 0");
  size_t needed = static_cast<size_t>(m_length) + text.size();
  if (needed > static_cast<size_t>(m_capacity)) {
    size_t capacity = static_cast<size_t>(m_capacity);
    while (capacity < needed) capacity *= 2;
    BRONTEL_REQUIRE(capacity <= 0x7FFFFFFF, "document below 2 GB");
    auto grown = std::make_unique<char[]>(capacity);
    std::memcpy(grown.get(), m_buffer.get(), static_cast<size_t>(m_length));
    m_buffer = std::move(grown);
    m_capacity = static_cast<int32_t>(capacity);
  }
  std::memcpy(m_buffer.get() + m_length, text.data(), text.size());
  m_length += static_cast<int32_t>(text.size());
}

}  // namespace brontel
