// The abstract view of a parsed XML document that the response translators
// use: nodes with a name, a text value, lazily parsed attributes and child
// iterators. Every object an iterator or a node hands out belongs to the
// caller; the nodes it refers to belong to the parser that built them.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace brontel {

class XmlAttribute {
 public:
  virtual ~XmlAttribute() = default;
  // Conversions of the value: a flag is true unless empty or starting with
  // "0"; numbers are hexadecimal of at most 2, 4 or 8 digits (longer: 0).
  virtual bool GetBoolValue() const = 0;
  virtual uint8_t GetByteValue() const = 0;
  virtual uint32_t GetIntValue() const = 0;
  virtual const std::string& GetName() const = 0;
  virtual uint16_t GetShortValue() const = 0;
  // The raw value; nothing is unescaped in attribute values.
  virtual const std::string& GetStringValue() const = 0;
};

class XmlAttributeIterator {
 public:
  virtual ~XmlAttributeIterator() = default;
  virtual bool HasMoreElements() = 0;
  // REQUIRES: HasMoreElements().
  virtual std::unique_ptr<XmlAttribute> NextElement() = 0;
};

class XmlNode;

class XmlNodeIterator {
 public:
  virtual ~XmlNodeIterator() = default;
  virtual bool HasMoreElements() = 0;
  // REQUIRES: HasMoreElements().
  virtual std::unique_ptr<XmlNode> NextElement() = 0;
};

class XmlNode {
 public:
  virtual ~XmlNode() = default;
  // The element name; empty for a text node.
  virtual const std::string& GetName() const = 0;
  // The text of a text node (an element's text is its first child).
  virtual const std::string& GetValue() const = 0;
  // The value read as a hexadecimal number of at most 8 digits.
  virtual uint32_t GetIntValue() const = 0;
  virtual std::unique_ptr<XmlAttributeIterator> GetAttributes() const = 0;
  virtual std::unique_ptr<XmlNodeIterator> GetChildNodes() const = 0;
  // True when the element ended with its own end tag or as an empty-element
  // tag, false when the text ran out first (a cut-off document).
  virtual bool IsClosed() const = 0;
};

}  // namespace brontel
