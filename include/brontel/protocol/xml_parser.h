// XmlParser: a small non-validating parser for the server's response
// documents, built as a tree of SimXmlNode in one pass over the text.
//
// The document (SimXmlDoc) owns the text, its nodes in a few large blocks
// linked first child / next sibling, each distinct element name once, and the
// element texts read so far. Nodes keep only positions into the text: an
// element's text is checked while parsing but decoded into a string when it is
// first read, and attributes are parsed only when iterated. Any error gives
// result 2 (ERR_XML_PARSE) and the first error's message with its byte
// position; the part of the tree built before the error stays readable.
// Elements nested deeper than 1000 levels end the parse with an error. Since
// the first read of a text stores it, one document is read by one thread at a
// time.
#pragma once

#include <cstdint>
#include <deque>
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

// One node of a document, stored in the document's blocks: an element (also
// a declaration, a comment, or a tag that failed to parse) with the positions
// of its attributes in the text, or a text node with the position of its raw
// text. Only SimXmlDoc creates and links nodes.
class SimXmlNode {
 public:
  // Deepest element nesting accepted.
  static constexpr int32_t kMaxDepth = 1000;

  // Trivial, so that a block of nodes costs nothing until a node is used.
  SimXmlNode() = default;
  SimXmlNode(const SimXmlNode&) = delete;
  SimXmlNode& operator=(const SimXmlNode&) = delete;

  // The element name; empty for a text node.
  const std::string& GetName() const { return *m_name; }
  bool IsText() const { return (m_flags & kText) != 0; }
  // True when the element ended with its end tag or as an empty-element tag
  // (always for text nodes, declarations and comments).
  bool IsClosed() const { return (m_flags & kClosed) != 0; }
  // False for the tag that failed and for every element around it.
  bool IsOk() const { return (m_flags & kOk) != 0; }
  const SimXmlNode* GetFirstChild() const { return IsText() ? nullptr : m_firstChild; }
  const SimXmlNode* GetNextSibling() const { return m_nextSibling; }
  // An element's attributes lie between these positions of the text (the end
  // of its name and the '/' or '>' ending its start tag); a text node's raw
  // text likewise.
  size_t GetFrom() const { return m_from; }
  size_t GetTo() const { return m_to; }

 private:
  friend class SimXmlDoc;

  enum Flag : uint8_t { kText = 1, kClosed = 2, kOk = 4, kPlain = 8 };

  const std::string* m_name;
  SimXmlNode* m_nextSibling;
  union {
    SimXmlNode* m_firstChild;            // an element's
    mutable const std::string* m_value;  // a text node's, once decoded
  };
  size_t m_from;
  size_t m_to;
  uint8_t m_flags;
};

// A parsed document: owns the text, the nodes, the names and the decoded
// texts.
class SimXmlDoc {
 public:
  explicit SimXmlDoc(std::string text);
  SimXmlDoc(const SimXmlDoc&) = delete;
  SimXmlDoc& operator=(const SimXmlDoc&) = delete;

  // The first top-level element that is not a declaration, comment or end
  // tag, or null.
  std::unique_ptr<XmlNode> GetFirstChildNode() const;
  bool IsOk() const { return m_ok; }
  br_error GetErrorNumber() const { return m_errorNumber; }
  const std::string& GetErrorMessage() const { return m_errorMessage; }
  const std::string& GetText() const { return m_text; }
  // The decoded text of a text node, made on the first call; empty for an
  // element.
  const std::string& GetValue(const SimXmlNode& node) const;

 private:
  void parse();
  SimXmlNode* newNode();
  // The stored copy of the name text[from, from + size) whose hash is hash.
  const std::string* intern(size_t from, size_t size, uint32_t hash);
  void fail(const std::string& message);

  std::string m_text;
  // Nodes are taken in order from blocks that grow with the document.
  std::vector<std::unique_ptr<SimXmlNode[]>> m_blocks;
  SimXmlNode* m_free = nullptr;
  SimXmlNode* m_freeEnd = nullptr;
  size_t m_nextBlock = 0;
  // The names, and an open-addressing table of them by hash.
  struct NameSlot {
    uint32_t hash;
    const std::string* name;
  };
  std::deque<std::string> m_names;
  std::vector<NameSlot> m_nameSlots;
  mutable std::deque<std::string> m_values;
  const SimXmlNode* m_root = nullptr;
  bool m_ok = true;
  br_error m_errorNumber = ERR_NONE;
  std::string m_errorMessage;
};

// An XmlNode view of a node of a document it does not own.
class SimXmlNodeRef : public XmlNode {
 public:
  SimXmlNodeRef(const SimXmlDoc* document, const SimXmlNode* node)
      : m_document(document), m_node(node) {}
  const std::string& GetName() const override { return m_node->GetName(); }
  const std::string& GetValue() const override { return m_document->GetValue(*m_node); }
  uint32_t GetIntValue() const override { return SimXmlAttribute::CSToI(GetValue()); }
  std::unique_ptr<XmlAttributeIterator> GetAttributes() const override;
  std::unique_ptr<XmlNodeIterator> GetChildNodes() const override;
  bool IsClosed() const override { return m_node->IsClosed(); }

 private:
  const SimXmlDoc* m_document;
  const SimXmlNode* m_node;
};

class SimXmlNodeIterator : public XmlNodeIterator {
 public:
  SimXmlNodeIterator(const SimXmlDoc* document, const SimXmlNode* first)
      : m_document(document), m_next(first) {}
  bool HasMoreElements() override { return m_next != nullptr; }
  std::unique_ptr<XmlNode> NextElement() override;

 private:
  const SimXmlDoc* m_document;
  const SimXmlNode* m_next;
};

class SimXmlAttributeIterator : public XmlAttributeIterator {
 public:
  SimXmlAttributeIterator(const SimXmlDoc& document, const SimXmlNode& node);
  bool HasMoreElements() override;
  std::unique_ptr<XmlAttribute> NextElement() override;

 private:
  void lookAhead();

  const std::string& m_text;
  size_t m_position = 0;
  size_t m_end = 0;
  bool m_done = false;
  std::unique_ptr<XmlAttribute> m_ahead;
};

class XmlParser {
 public:
  // timeLogger may be null; it must outlive the parser.
  explicit XmlParser(TimeLogger* timeLogger = nullptr) : m_timeLogger(timeLogger) {}

  // Parses text; ERR_NONE or ERR_XML_PARSE with GetErrorMessage set. A second
  // call replaces the first document. The first form copies text; the second
  // keeps it without a copy.
  br_error Parse(const std::string& text);
  br_error Parse(std::string&& text);
  // The root element, or null when the text holds none. Nodes and the strings
  // they return live as long as the document.
  std::unique_ptr<XmlNode> GetDocument() const;
  const std::string& GetErrorMessage() const { return m_errorMessage; }

 private:
  br_error parse(std::string text);

  TimeLogger* m_timeLogger;
  std::unique_ptr<SimXmlDoc> m_document;
  std::string m_errorMessage;
};

}  // namespace brontel
