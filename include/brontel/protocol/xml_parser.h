// XmlParser: a small non-validating parser for the server's response
// documents, built as a tree of SimXmlNode by recursive descent.
//
// Every node shares one copy of the document text and keeps only positions
// into it, so parsing copies no text beyond element values; attributes are
// parsed only when iterated. Any error gives
// result 2 (ERR_XML_PARSE) and the first error's message with its byte
// position; the part of the tree built before the error stays readable.
// Elements nested deeper than 1000 levels end the parse with an error instead
// of exhausting the stack.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brontel/core/enumerations.h"
#include "brontel/protocol/xml_node.h"

namespace brontel {

class TimeLogger;

class SimXmlAttribute : public XmlAttribute {
 public:
  SimXmlAttribute(std::string name, std::string value)
      : m_name(std::move(name)), m_value(std::move(value)) {}

  bool GetBoolValue() const override { return CSToF(m_value); }
  uint8_t GetByteValue() const override { return CSToB(m_value); }
  uint32_t GetIntValue() const override { return CSToI(m_value); }
  const std::string& GetName() const override { return m_name; }
  uint16_t GetShortValue() const override { return CSToS(m_value); }
  const std::string& GetStringValue() const override { return m_value; }

  // True when text is not empty and does not start with "0".
  static bool CSToF(const std::string& text);
  // The hexadecimal digits of text (other characters skipped); 0 when text is
  // longer than 8, 4 or 2 characters.
  static uint32_t CSToI(const std::string& text);
  static uint16_t CSToS(const std::string& text);
  static uint8_t CSToB(const std::string& text);

 private:
  std::string m_name;
  std::string m_value;
};

class SimXmlNode {
 public:
  using Text = std::shared_ptr<const std::string>;
  // Deepest element nesting accepted.
  static constexpr int32_t kMaxDepth = 1000;

  // Parses one node of text from start (an element with all its children,
  // an end tag, a declaration or comment, or nothing when no "<" follows).
  SimXmlNode(const Text& text, size_t start, SimXmlNode* parent, int32_t depth);
  // A text node.
  SimXmlNode(std::string value, SimXmlNode* parent);
  SimXmlNode(const SimXmlNode&) = delete;
  SimXmlNode& operator=(const SimXmlNode&) = delete;

  const std::string& GetName() const { return m_name; }
  const std::string& GetValue() const { return m_value; }
  size_t GetPosition() const { return m_position; }
  bool IsNothingFound() const { return m_nothingFound; }
  bool IsSpecial() const { return m_special; }
  bool IsEndTag() const { return m_endTag; }
  bool IsClosed() const { return m_closed; }
  bool IsOk() const { return m_ok; }
  br_error GetErrorNumber() const { return m_errorNumber; }
  const std::string& GetErrorMessage() const { return m_errorMessage; }
  const SimXmlNode* GetFirstChild() const {
    return m_children.empty() ? nullptr : m_children[0].get();
  }
  const SimXmlNode* GetNextSibling() const { return m_nextSibling; }
  const SimXmlNode* GetParent() const { return m_parent; }
  const Text& GetText() const { return m_text; }
  size_t GetNameEnd() const { return m_nameEnd; }
  size_t GetTagEnd() const { return m_tagEnd; }

  // Links node behind the last child.
  void AppendChild(std::unique_ptr<SimXmlNode> node);
  // Records the first error: message followed by "at position = " and the
  // current position.
  void Fail(const std::string& message);

 private:
  void parse(int32_t depth);
  void parseValue();
  void parseChildren(int32_t depth);
  void finishTag();

  Text m_text;
  size_t m_position = 0;
  size_t m_nameEnd = 0;
  size_t m_tagEnd = 0;
  std::string m_name;
  std::string m_value;
  std::vector<std::unique_ptr<SimXmlNode>> m_children;
  SimXmlNode* m_nextSibling = nullptr;
  SimXmlNode* m_parent = nullptr;
  bool m_nothingFound = false;
  bool m_special = false;
  bool m_endTag = false;
  bool m_closed = false;
  bool m_ok = true;
  br_error m_errorNumber = ERR_NONE;
  std::string m_errorMessage;
};

// An XmlNode view of a SimXmlNode it does not own.
class SimXmlNodeRef : public XmlNode {
 public:
  explicit SimXmlNodeRef(const SimXmlNode* node) : m_node(node) {}
  const std::string& GetName() const override { return m_node->GetName(); }
  const std::string& GetValue() const override { return m_node->GetValue(); }
  uint32_t GetIntValue() const override { return SimXmlAttribute::CSToI(m_node->GetValue()); }
  std::unique_ptr<XmlAttributeIterator> GetAttributes() const override;
  std::unique_ptr<XmlNodeIterator> GetChildNodes() const override;
  bool IsClosed() const override { return m_node->IsClosed(); }

 private:
  const SimXmlNode* m_node;
};

class SimXmlNodeIterator : public XmlNodeIterator {
 public:
  explicit SimXmlNodeIterator(const SimXmlNode* first) : m_next(first) {}
  bool HasMoreElements() override { return m_next != nullptr && !m_next->IsNothingFound(); }
  std::unique_ptr<XmlNode> NextElement() override;

 private:
  const SimXmlNode* m_next;
};

class SimXmlAttributeIterator : public XmlAttributeIterator {
 public:
  explicit SimXmlAttributeIterator(const SimXmlNode& node);
  bool HasMoreElements() override;
  std::unique_ptr<XmlAttribute> NextElement() override;

 private:
  void lookAhead();

  SimXmlNode::Text m_text;
  size_t m_position = 0;
  size_t m_end = 0;
  bool m_done = false;
  std::unique_ptr<XmlAttribute> m_ahead;
};

class SimXmlDoc {
 public:
  explicit SimXmlDoc(std::string text);
  SimXmlDoc(const SimXmlDoc&) = delete;
  SimXmlDoc& operator=(const SimXmlDoc&) = delete;

  // The first top-level element that is not a declaration or comment, or
  // null.
  std::unique_ptr<XmlNode> GetFirstChildNode() const;
  bool IsOk() const { return m_ok; }
  br_error GetErrorNumber() const { return m_errorNumber; }
  const std::string& GetErrorMessage() const { return m_errorMessage; }

 private:
  std::vector<std::unique_ptr<SimXmlNode>> m_nodes;
  SimXmlNode::Text m_text;
  size_t m_position = 0;
  bool m_ok = true;
  br_error m_errorNumber = ERR_NONE;
  std::string m_errorMessage;
};

class XmlParser {
 public:
  // timeLogger may be null; it must outlive the parser.
  explicit XmlParser(TimeLogger* timeLogger = nullptr) : m_timeLogger(timeLogger) {}

  // Parses text; ERR_NONE or ERR_XML_PARSE with GetErrorMessage set. A second
  // call replaces the first document.
  br_error Parse(const std::string& text);
  // The root element, or null when the text holds none.
  std::unique_ptr<XmlNode> GetDocument() const;
  const std::string& GetErrorMessage() const { return m_errorMessage; }

 private:
  TimeLogger* m_timeLogger;
  std::unique_ptr<SimXmlDoc> m_document;
  std::string m_errorMessage;
};

}  // namespace brontel
