// XmlElement: writes one XML request document into a single growing buffer.
//
// The document root owns the buffer (4096 bytes, doubled whenever it is too
// small); a child element is a local object created with its parent, writes
// through the parent chain into the root's buffer, and closes itself when it
// goes out of scope. Attributes are gathered until the start tag must close:
// all of an element's attributes come before its first value or child, and an
// element has at most one open child at a time. Nothing is indented.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "brontel/core/uid128.h"

namespace brontel {

class XmlElement {
 public:
  static constexpr int32_t kInitialCapacity = 4096;

  // With a null parent, a document root; otherwise a child of parent, which
  // must outlive it. Writes "<" and the name.
  // REQUIRES: parent has no open child.
  XmlElement(const std::string& name, XmlElement* parent);
  // Closes a child that is still open.
  ~XmlElement();
  XmlElement(const XmlElement&) = delete;
  XmlElement& operator=(const XmlElement&) = delete;

  // Attribute values: text unchanged (not escaped), numbers in lower-case
  // hexadecimal without leading zeros, flags as "1"/"0", ids in their
  // 36-character text form.
  // REQUIRES (all): no value or child written yet.
  void AddAttribute(const std::string& name, const std::string& value);
  void AddAttribute(const std::string& name, uint32_t value);
  void AddAttribute(const std::string& name, uint16_t value);
  void AddAttribute(const std::string& name, uint8_t value);
  void AddAttribute(const std::string& name, const UID128& value);
  void AddAttributeFlag(const std::string& name, bool value);

  // Element values: text escaped (& < > as entities; CR, LF, tab and
  // backslash as backslash pairs), numbers in hexadecimal, ids in text form.
  void AddValue(const std::string& value);
  void AddValue(uint32_t value);
  void AddValue(const UID128& value);

  // Writes the end of this child and detaches it from its parent.
  // REQUIRES: this element is an open child.
  void Close();
  // Completes the root and returns the whole document. Call once.
  // REQUIRES: this element is a root.
  std::string Query();

  // Bytes held by the root's buffer (for tests of its growth).
  int32_t GetCapacity() const { return m_capacity; }

  // The value escaping and the identifier text form used above.
  static std::string Escape(std::string_view text);
  static std::string IdText(const UID128& id);

 private:
  void AddEncodedValue(std::string_view text);
  void AddChild();
  void RemoveChild();
  void CompleteBuffer();
  void OpenBuffer();
  void AppendToBuffer(std::string_view text);
  void AppendAttribute(const std::string& name, std::string_view value);

  std::string m_name;
  std::string m_attributes;
  int32_t m_valueCount = 0;
  XmlElement* m_parent = nullptr;
  int32_t m_childCount = 0;
  int32_t m_capacity = 0;
  int32_t m_length = 0;
  std::unique_ptr<char[]> m_buffer;
};

}  // namespace brontel
