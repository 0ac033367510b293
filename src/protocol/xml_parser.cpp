#include "brontel/protocol/xml_parser.h"

#include "brontel/host/time_logger.h"
#include "brontel/platform/format.h"

namespace brontel {

// ---- conversions ----

bool SimXmlAttribute::CSToF(const std::string& text) {
  return !text.empty() && text[0] != '0';
}

namespace {

uint32_t HexValue(const std::string& text, size_t longest) {
  if (text.size() > longest) return 0;
  uint32_t value = 0;
  for (char c : text) {
    uint32_t digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<uint32_t>(c - 'A' + 10);
    } else {
      continue;
    }
    value = (value << 4) | digit;
  }
  return value;
}

bool IsBlank(char c) {
  return c == ' ';
}

// Case-insensitive match of word at text[at...].
bool MatchesIgnoringCase(const std::string& text, size_t at, const char* word) {
  for (size_t i = 0; word[i] != '\0'; ++i) {
    if (at + i >= text.size()) return false;
    char c = text[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

}  // namespace

uint32_t SimXmlAttribute::CSToI(const std::string& text) {
  return HexValue(text, 8);
}
uint16_t SimXmlAttribute::CSToS(const std::string& text) {
  return static_cast<uint16_t>(HexValue(text, 4));
}
uint8_t SimXmlAttribute::CSToB(const std::string& text) {
  return static_cast<uint8_t>(HexValue(text, 2));
}

// ---- nodes ----

SimXmlNode::SimXmlNode(const Text& text, size_t start, SimXmlNode* parent, int32_t depth)
    : m_text(text), m_position(start), m_parent(parent) {
  parse(depth);
}

SimXmlNode::SimXmlNode(std::string value, SimXmlNode* parent)
    : m_value(std::move(value)), m_parent(parent), m_closed(true) {}

void SimXmlNode::Fail(const std::string& message) {
  if (!m_ok) return;
  m_ok = false;
  m_errorNumber = ERR_XML_PARSE;
  m_errorMessage = message + Format("at position = %d", static_cast<int32_t>(m_position));
}

void SimXmlNode::AppendChild(std::unique_ptr<SimXmlNode> node) {
  if (!m_children.empty()) m_children.back()->m_nextSibling = node.get();
  m_children.push_back(std::move(node));
}

void SimXmlNode::parse(int32_t depth) {
  const std::string& text = *m_text;
  size_t open = text.find('<', m_position);
  if (open == std::string::npos) {
    m_nothingFound = true;
    m_position = text.size();
    return;
  }
  m_position = open + 1;
  while (m_position < text.size() && IsBlank(text[m_position])) ++m_position;
  if (m_position < text.size()) {
    char c = text[m_position];
    if (c == '/') {
      m_endTag = true;
      ++m_position;
    } else if (c == '!' || c == '?') {
      m_special = true;
    }
  }
  size_t nameStart = m_position;
  while (m_position < text.size()) {
    char c = text[m_position];
    if (IsBlank(c) || c == '/' || c == '>' || c == '\n') break;
    ++m_position;
  }
  m_nameEnd = m_position;
  m_name = text.substr(nameStart, m_nameEnd - nameStart);
  if (m_name.empty()) {
    Fail("empty name ");
    return;
  }
  if (depth > kMaxDepth && !m_endTag && !m_special) {
    m_position = open;
    Fail("nesting too deep ");
    return;
  }
  if (m_special) {
    m_tagEnd = text.find('>', m_position);
  } else {
    // The first '/' or '>' (find_first_of would search the set for each
    // character).
    m_tagEnd = m_position;
    while (m_tagEnd < text.size() && text[m_tagEnd] != '/' && text[m_tagEnd] != '>') ++m_tagEnd;
    if (m_tagEnd == text.size()) m_tagEnd = std::string::npos;
  }
  if (m_tagEnd == std::string::npos) {
    m_position = text.size();
    Fail("unexpected end of information ");
    return;
  }
  m_position = m_tagEnd;
  if (!m_special && !m_endTag && text[m_tagEnd] == '>') {
    ++m_position;
    parseValue();
    if (m_ok) parseChildren(depth);
    return;
  }
  finishTag();
}

void SimXmlNode::finishTag() {
  const std::string& text = *m_text;
  if (!m_special && !m_endTag) ++m_position;  // the "/" of an empty-element tag
  if (m_position >= text.size()) {
    Fail("unexpected end of information ");
    return;
  }
  if (text[m_position] != '>') {
    Fail("missing terminator '>' ");
    return;
  }
  ++m_position;
  m_closed = true;
}

void SimXmlNode::parseValue() {
  const std::string& text = *m_text;
  size_t end = text.find('<', m_position);
  if (end == std::string::npos) end = text.size();
  std::string value;
  value.reserve(end - m_position);
  while (m_position < end) {
    // Plain characters up to the next escape are taken in one piece.
    size_t plain = m_position;
    while (plain < end && text[plain] != '&' && text[plain] != '\\') ++plain;
    if (plain > m_position) {
      value.append(text, m_position, plain - m_position);
      m_position = plain;
      continue;
    }
    char c = text[m_position];
    if (c == '&') {
      if (MatchesIgnoringCase(text, m_position + 1, "amp;")) {
        value += '&';
        m_position += 5;
      } else if (MatchesIgnoringCase(text, m_position + 1, "lt;")) {
        value += '<';
        m_position += 4;
      } else if (MatchesIgnoringCase(text, m_position + 1, "gt;")) {
        value += '>';
        m_position += 4;
      } else {
        Fail("bad escaped '&' ");
        return;
      }
    } else if (c == '\\') {
      ++m_position;
      if (m_position >= end) break;  // a backslash at the very end is dropped
      char next = text[m_position++];
      value += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    } else {
      value += c;
      ++m_position;
    }
  }
  if (!value.empty()) AppendChild(std::make_unique<SimXmlNode>(std::move(value), this));
}

void SimXmlNode::parseChildren(int32_t depth) {
  const std::string& text = *m_text;
  for (;;) {
    // The common end tag "</name>" of this element closes it without a node;
    // anything else (blanks, another name, a missing '>') is parsed as a node
    // below, which finds and reports it.
    size_t open = text.find('<', m_position);
    if (open != std::string::npos && open + 2 + m_name.size() < text.size() &&
        text[open + 1] == '/' && text.compare(open + 2, m_name.size(), m_name) == 0 &&
        text[open + 2 + m_name.size()] == '>') {
      m_position = open + 3 + m_name.size();
      m_closed = true;
      return;
    }
    auto child = std::make_unique<SimXmlNode>(m_text, m_position, this, depth + 1);
    if (child->IsNothingFound()) return;  // a document cut short: not an error
    m_position = child->GetPosition();
    if (!child->IsOk()) {
      m_ok = false;
      m_errorNumber = child->GetErrorNumber();
      m_errorMessage = child->GetErrorMessage();
      AppendChild(std::move(child));
      return;
    }
    if (child->IsEndTag()) {
      if (child->GetName() == m_name) {
        m_closed = true;
        return;
      }
      Fail(Format("bad name matching <%s> != <%s>", m_name.c_str(), child->GetName().c_str()));
      return;
    }
    AppendChild(std::move(child));
  }
}

// ---- views and iterators ----

std::unique_ptr<XmlAttributeIterator> SimXmlNodeRef::GetAttributes() const {
  return std::make_unique<SimXmlAttributeIterator>(*m_node);
}

std::unique_ptr<XmlNodeIterator> SimXmlNodeRef::GetChildNodes() const {
  return std::make_unique<SimXmlNodeIterator>(m_node->GetFirstChild());
}

std::unique_ptr<XmlNode> SimXmlNodeIterator::NextElement() {
  const SimXmlNode* node = m_next;
  if (node == nullptr) return nullptr;
  m_next = node->GetNextSibling();
  return std::make_unique<SimXmlNodeRef>(node);
}

SimXmlAttributeIterator::SimXmlAttributeIterator(const SimXmlNode& node)
    : m_text(node.GetText()),
      m_position(node.GetNameEnd()),
      m_end(node.GetTagEnd()),
      m_done(!node.IsOk() || node.GetText() == nullptr || node.GetName().empty()) {}

bool SimXmlAttributeIterator::HasMoreElements() {
  if (m_ahead == nullptr) lookAhead();
  return m_ahead != nullptr;
}

std::unique_ptr<XmlAttribute> SimXmlAttributeIterator::NextElement() {
  if (m_ahead == nullptr) lookAhead();
  return std::move(m_ahead);
}

void SimXmlAttributeIterator::lookAhead() {
  if (m_done) return;
  const std::string& text = *m_text;
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (m_position < m_end && isSpace(text[m_position])) ++m_position;
  size_t nameStart = m_position;
  while (m_position < m_end && !isSpace(text[m_position]) && text[m_position] != '=') {
    ++m_position;
  }
  std::string name = text.substr(nameStart, m_position - nameStart);
  // Quotes are looked for inside the start tag only.
  auto quoteFrom = [&](size_t from) {
    for (size_t i = from; i < m_end; ++i) {
      if (text[i] == '"') return i;
    }
    return std::string::npos;
  };
  size_t open = quoteFrom(m_position);
  size_t close = open == std::string::npos ? std::string::npos : quoteFrom(open + 1);
  if (close == std::string::npos || name.empty() || close == open + 1) {
    // No further well-formed attribute: the iteration ends here.
    m_done = true;
    return;
  }
  m_position = close + 1;
  m_ahead =
      std::make_unique<SimXmlAttribute>(std::move(name), text.substr(open + 1, close - open - 1));
}

// ---- the document ----

SimXmlDoc::SimXmlDoc(std::string text)
    : m_text(std::make_shared<const std::string>(std::move(text))) {
  while (m_ok) {
    auto node = std::make_unique<SimXmlNode>(m_text, m_position, nullptr, 1);
    if (node->IsNothingFound()) break;
    m_position = node->GetPosition();
    if (!node->IsOk()) {
      m_ok = false;
      m_errorNumber = node->GetErrorNumber();
      m_errorMessage = node->GetErrorMessage();
    } else if (node->IsEndTag()) {
      m_ok = false;
      m_errorNumber = ERR_XML_PARSE;
      m_errorMessage = Format("unmatched node terminator</%s> at position = %d",
                              node->GetName().c_str(), static_cast<int32_t>(m_position));
    }
    m_nodes.push_back(std::move(node));
  }
}

std::unique_ptr<XmlNode> SimXmlDoc::GetFirstChildNode() const {
  for (const auto& node : m_nodes) {
    if (!node->IsSpecial() && !node->IsEndTag()) return std::make_unique<SimXmlNodeRef>(node.get());
  }
  return nullptr;
}

br_error XmlParser::Parse(const std::string& text) {
  std::string stage = Format("parse %d bytes", static_cast<int32_t>(text.size()));
  if (m_timeLogger != nullptr) m_timeLogger->MarkBegin(stage);
  m_document = std::make_unique<SimXmlDoc>(text);
  m_errorMessage = m_document->GetErrorMessage();
  if (m_timeLogger != nullptr) m_timeLogger->MarkEnd(stage);
  return m_document->GetErrorNumber();
}

std::unique_ptr<XmlNode> XmlParser::GetDocument() const {
  return m_document == nullptr ? nullptr : m_document->GetFirstChildNode();
}

}  // namespace brontel
