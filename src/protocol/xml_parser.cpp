#include "brontel/protocol/xml_parser.h"

#include <algorithm>
#include <array>
#include <cstring>

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

// Character classes of the scanning loops, one bit per loop.
enum : uint8_t {
  kEndsName = 1,   // ' ', '/', '>', '\n'
  kEndsTag = 2,    // '/', '>'
  kEndsPlain = 4,  // '<', '&', '\\': the end of a run of plain element text
};

constexpr std::array<uint8_t, 256> MakeClasses() {
  std::array<uint8_t, 256> classes{};
  for (unsigned char c : {' ', '/', '>', '\n'}) classes[c] |= kEndsName;
  for (unsigned char c : {'/', '>'}) classes[c] |= kEndsTag;
  for (unsigned char c : {'<', '&', '\\'}) classes[c] |= kEndsPlain;
  return classes;
}

constexpr std::array<uint8_t, 256> kClasses = MakeClasses();

bool Ends(char c, uint8_t loop) {
  return (kClasses[static_cast<unsigned char>(c)] & loop) != 0;
}

// FNV-1a, for the table of names.
constexpr uint32_t kHashBasis = 2166136261u;
constexpr uint32_t kHashPrime = 16777619u;

// Case-insensitive match of word at text[at...end).
bool MatchesIgnoringCase(const char* text, size_t at, size_t end, const char* word) {
  for (size_t i = 0; word[i] != '\0'; ++i) {
    if (at + i >= end) return false;
    char c = text[at + i];
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    if (c != word[i]) return false;
  }
  return true;
}

// The escape "&amp;", "&lt;" or "&gt;" (in any case) at text[at], ending
// before end: its length, with the character it stands for in *decoded; 0
// for anything else.
size_t EscapeAt(const char* text, size_t at, size_t end, char* decoded) {
  if (MatchesIgnoringCase(text, at + 1, end, "amp;")) {
    *decoded = '&';
    return 5;
  }
  if (MatchesIgnoringCase(text, at + 1, end, "lt;")) {
    *decoded = '<';
    return 4;
  }
  if (MatchesIgnoringCase(text, at + 1, end, "gt;")) {
    *decoded = '>';
    return 4;
  }
  return 0;
}

// The element text text[from, to), whose escapes were checked while parsing:
// "&amp;", "&lt;", "&gt;" and a backslash before 'n', 'r', 't' or any other
// character stand for one character; a backslash at the very end is dropped.
std::string Decode(const std::string& text, size_t from, size_t to) {
  std::string value;
  value.reserve(to - from);
  size_t position = from;
  while (position < to) {
    // Plain characters up to the next escape are taken in one piece.
    size_t plain = position;
    while (plain < to && text[plain] != '&' && text[plain] != '\\') ++plain;
    value.append(text, position, plain - position);
    position = plain;
    if (position == to) break;
    if (text[position] == '&') {
      char decoded = '&';
      size_t length = EscapeAt(text.data(), position, to, &decoded);
      value += decoded;
      position += length == 0 ? 1 : length;
    } else {
      ++position;
      if (position == to) break;
      char next = text[position++];
      value += next == 'n' ? '\n' : next == 'r' ? '\r' : next == 't' ? '\t' : next;
    }
  }
  return value;
}

const std::string& EmptyText() {
  static const std::string empty;
  return empty;
}

std::string AtPosition(size_t position) {
  return Format("at position = %d", static_cast<int32_t>(position));
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

// ---- the document ----

SimXmlDoc::SimXmlDoc(std::string text) : m_text(std::move(text)) {
  // A typical response holds a node per 30 to 40 bytes: the first block should
  // hold them all (up to a million; more come in blocks twice as large each
  // time). Its pages are touched only as nodes are taken.
  m_nextBlock = std::clamp<size_t>(m_text.size() / 24, 64, size_t{1} << 20);
  parse();
}

SimXmlNode* SimXmlDoc::newNode() {
  if (m_free == m_freeEnd) {
    // Default-initialised: the nodes are written when taken.
    m_blocks.emplace_back(new SimXmlNode[m_nextBlock]);
    m_free = m_blocks.back().get();
    m_freeEnd = m_free + m_nextBlock;
    m_nextBlock *= 2;
  }
  return m_free++;
}

const std::string* SimXmlDoc::intern(size_t from, size_t size, uint32_t hash) {
  if (m_nameSlots.empty()) m_nameSlots.assign(32, NameSlot{0, nullptr});
  size_t mask = m_nameSlots.size() - 1;
  size_t slot = hash & mask;
  for (; m_nameSlots[slot].name != nullptr; slot = (slot + 1) & mask) {
    const NameSlot& known = m_nameSlots[slot];
    if (known.hash == hash && known.name->size() == size &&
        std::memcmp(known.name->data(), m_text.data() + from, size) == 0) {
      return known.name;
    }
  }
  const std::string* name = &m_names.emplace_back(m_text, from, size);
  if (m_names.size() * 2 <= m_nameSlots.size()) {
    m_nameSlots[slot] = NameSlot{hash, name};
    return name;
  }
  // The table stays at most half full: twice as many slots.
  std::vector<NameSlot> slots(m_nameSlots.size() * 2, NameSlot{0, nullptr});
  mask = slots.size() - 1;
  m_nameSlots.push_back(NameSlot{hash, name});
  for (const NameSlot& known : m_nameSlots) {
    if (known.name == nullptr) continue;
    size_t i = known.hash & mask;
    while (slots[i].name != nullptr) i = (i + 1) & mask;
    slots[i] = known;
  }
  m_nameSlots = std::move(slots);
  return name;
}

void SimXmlDoc::fail(const std::string& message) {
  m_ok = false;
  m_errorNumber = ERR_XML_PARSE;
  m_errorMessage = message;
}

// One pass over the text with a stack of the open elements. A tag is an end
// tag ("</"), a declaration or comment ("<!", "<?", up to the next '>'), an
// empty-element tag ("/>") or a start tag; the text right after a start tag is
// its value (a text node), any other text between tags is skipped. The first
// error ends the parse: the failed tag is linked like any node, and it and
// every element around it are marked not ok. Text running out inside an
// element is not an error: the element stays not closed.
void SimXmlDoc::parse() {
  const char* const text = m_text.data();
  const size_t size = m_text.size();
  struct Open {
    SimXmlNode* node;
    SimXmlNode* lastChild;
  };
  std::vector<Open> open;  // outermost first
  open.reserve(16);

  // Links node as the last child of the innermost open element; at the top
  // level, the first that can be the root becomes it.
  auto link = [&](SimXmlNode* node, bool rootable) {
    if (open.empty()) {
      if (rootable && m_root == nullptr) m_root = node;
      return;
    }
    Open& parent = open.back();
    if (parent.lastChild == nullptr) {
      parent.node->m_firstChild = node;
    } else {
      parent.lastChild->m_nextSibling = node;
    }
    parent.lastChild = node;
  };
  auto newElement = [&](size_t nameStart, size_t nameEnd, uint32_t hash, size_t tagEnd) {
    SimXmlNode* node = newNode();
    node->m_name = intern(nameStart, nameEnd - nameStart, hash);
    node->m_nextSibling = nullptr;
    node->m_firstChild = nullptr;
    node->m_from = nameEnd;
    node->m_to = tagEnd;
    node->m_flags = SimXmlNode::kOk;
    return node;
  };
  // The error message followed by the position; node (if any) and the open
  // elements fail.
  auto failAt = [&](SimXmlNode* node, const std::string& message, size_t position) {
    if (node != nullptr) node->m_flags &= static_cast<uint8_t>(~SimXmlNode::kOk);
    for (Open& element : open) element.node->m_flags &= static_cast<uint8_t>(~SimXmlNode::kOk);
    fail(message + AtPosition(position));
  };

  size_t position = 0;
  for (;;) {
    const void* found = std::memchr(text + position, '<', size - position);
    if (found == nullptr) return;
    const size_t lt = static_cast<size_t>(static_cast<const char*>(found) - text);
    if (!open.empty()) {
      // The usual end tag "</name>" of the innermost element closes it at
      // once; anything else is looked at as a tag below.
      const std::string& name = open.back().node->GetName();
      const size_t gt = lt + 2 + name.size();
      if (gt < size && text[lt + 1] == '/' && text[gt] == '>' &&
          std::memcmp(text + lt + 2, name.data(), name.size()) == 0) {
        open.back().node->m_flags |= SimXmlNode::kClosed;
        open.pop_back();
        position = gt + 1;
        continue;
      }
    }

    size_t p = lt + 1;
    while (p < size && text[p] == ' ') ++p;
    bool endTag = false;
    bool special = false;
    if (p < size) {
      if (text[p] == '/') {
        endTag = true;
        ++p;
      } else if (text[p] == '!' || text[p] == '?') {
        special = true;
      }
    }
    const bool rootable = !endTag && !special;
    const size_t nameStart = p;
    uint32_t hash = kHashBasis;
    while (p < size && !Ends(text[p], kEndsName)) {
      hash = (hash ^ static_cast<unsigned char>(text[p])) * kHashPrime;
      ++p;
    }
    const size_t nameEnd = p;
    if (nameEnd == nameStart) {
      SimXmlNode* node = newElement(nameStart, nameEnd, hash, nameEnd);
      link(node, rootable);
      failAt(node, "empty name ", nameEnd);
      return;
    }
    if (rootable && open.size() >= static_cast<size_t>(SimXmlNode::kMaxDepth)) {
      SimXmlNode* node = newElement(nameStart, nameEnd, hash, nameEnd);
      link(node, rootable);
      failAt(node, "nesting too deep ", lt);
      return;
    }

    size_t tagEnd = nameEnd;
    if (special) {
      const void* gt = std::memchr(text + nameEnd, '>', size - nameEnd);
      tagEnd = gt == nullptr ? size : static_cast<size_t>(static_cast<const char*>(gt) - text);
    } else {
      while (tagEnd < size && !Ends(text[tagEnd], kEndsTag)) ++tagEnd;
    }
    if (tagEnd == size) {
      SimXmlNode* node = newElement(nameStart, nameEnd, hash, nameEnd);
      link(node, rootable);
      failAt(node, "unexpected end of information ", size);
      return;
    }

    if (rootable && text[tagEnd] == '>') {
      // A start tag: the element stays open until its end tag.
      SimXmlNode* node = newElement(nameStart, nameEnd, hash, tagEnd);
      link(node, true);
      open.push_back(Open{node, nullptr});
      // Its value runs to the next '<'; the escapes are checked now and
      // decoded when the value is read.
      const size_t from = tagEnd + 1;
      size_t to = from;
      bool plain = true;
      for (;;) {
        while (to < size && !Ends(text[to], kEndsPlain)) ++to;
        if (to == size || text[to] == '<') break;
        plain = false;
        if (text[to] == '&') {
          char decoded = 0;
          size_t length = EscapeAt(text, to, size, &decoded);
          if (length == 0) {
            failAt(nullptr, "bad escaped '&' ", to);
            return;
          }
          to += length;
        } else {
          // A backslash takes the next character as it is, unless a tag or
          // the end of the text follows.
          to += to + 1 == size || text[to + 1] == '<' ? 1 : 2;
        }
      }
      // Empty, or a lone backslash: no value.
      if (to > from && !(to == from + 1 && text[from] == '\\')) {
        SimXmlNode* value = newNode();
        value->m_name = &EmptyText();
        value->m_nextSibling = nullptr;
        value->m_value = nullptr;
        value->m_from = from;
        value->m_to = to;
        value->m_flags = SimXmlNode::kText | SimXmlNode::kClosed | SimXmlNode::kOk |
                         (plain ? SimXmlNode::kPlain : 0);
        link(value, false);
      }
      position = to;
      continue;
    }

    // The tag ends here: an end tag, a declaration or comment at its '>', or
    // an empty-element tag at its "/>".
    position = rootable ? tagEnd + 1 : tagEnd;
    if (position >= size || text[position] != '>') {
      SimXmlNode* node = newElement(nameStart, nameEnd, hash, tagEnd);
      link(node, rootable);
      failAt(node, position >= size ? "unexpected end of information " : "missing terminator '>' ",
             position);
      return;
    }
    ++position;
    if (endTag) {
      std::string name(text + nameStart, nameEnd - nameStart);
      if (open.empty()) {
        fail(Format("unmatched node terminator</%s> ", name.c_str()) + AtPosition(position));
        return;
      }
      SimXmlNode* parent = open.back().node;
      if (parent->GetName() != name) {
        failAt(nullptr,
               Format("bad name matching <%s> != <%s>", parent->GetName().c_str(), name.c_str()),
               position);
        return;
      }
      parent->m_flags |= SimXmlNode::kClosed;
      open.pop_back();
      continue;
    }
    SimXmlNode* node = newElement(nameStart, nameEnd, hash, tagEnd);
    node->m_flags |= SimXmlNode::kClosed;
    link(node, rootable);
  }
}

std::unique_ptr<XmlNode> SimXmlDoc::GetFirstChildNode() const {
  if (m_root == nullptr) return nullptr;
  return std::make_unique<SimXmlNodeRef>(this, m_root);
}

const std::string& SimXmlDoc::GetValue(const SimXmlNode& node) const {
  if (!node.IsText()) return EmptyText();
  if (node.m_value == nullptr) {
    if ((node.m_flags & SimXmlNode::kPlain) != 0) {
      node.m_value = &m_values.emplace_back(m_text, node.m_from, node.m_to - node.m_from);
    } else {
      node.m_value = &m_values.emplace_back(Decode(m_text, node.m_from, node.m_to));
    }
  }
  return *node.m_value;
}

// ---- views and iterators ----

std::unique_ptr<XmlAttributeIterator> SimXmlNodeRef::GetAttributes() const {
  return std::make_unique<SimXmlAttributeIterator>(*m_document, *m_node);
}

std::unique_ptr<XmlNodeIterator> SimXmlNodeRef::GetChildNodes() const {
  return std::make_unique<SimXmlNodeIterator>(m_document, m_node->GetFirstChild());
}

std::unique_ptr<XmlNode> SimXmlNodeIterator::NextElement() {
  const SimXmlNode* node = m_next;
  if (node == nullptr) return nullptr;
  m_next = node->GetNextSibling();
  return std::make_unique<SimXmlNodeRef>(m_document, node);
}

SimXmlAttributeIterator::SimXmlAttributeIterator(const SimXmlDoc& document, const SimXmlNode& node)
    : m_text(document.GetText()),
      m_position(node.GetFrom()),
      m_end(node.GetTo()),
      m_done(!node.IsOk() || node.IsText() || node.GetName().empty()) {}

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
  const char* text = m_text.data();
  auto isSpace = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (m_position < m_end && isSpace(text[m_position])) ++m_position;
  size_t nameStart = m_position;
  while (m_position < m_end && !isSpace(text[m_position]) && text[m_position] != '=') {
    ++m_position;
  }
  size_t nameEnd = m_position;
  // Quotes are looked for inside the start tag only.
  auto quoteFrom = [&](size_t from) -> size_t {
    if (from >= m_end) return std::string::npos;
    const void* quote = std::memchr(text + from, '"', m_end - from);
    return quote == nullptr ? std::string::npos
                            : static_cast<size_t>(static_cast<const char*>(quote) - text);
  };
  size_t open = quoteFrom(m_position);
  size_t close = open == std::string::npos ? std::string::npos : quoteFrom(open + 1);
  if (close == std::string::npos || nameEnd == nameStart || close == open + 1) {
    // No further well-formed attribute: the iteration ends here.
    m_done = true;
    return;
  }
  m_position = close + 1;
  m_ahead = std::make_unique<SimXmlAttribute>(std::string(text + nameStart, nameEnd - nameStart),
                                              std::string(text + open + 1, close - open - 1));
}

// ---- the parser ----

br_error XmlParser::Parse(const std::string& text) {
  return parse(text);
}

br_error XmlParser::Parse(std::string&& text) {
  return parse(std::move(text));
}

br_error XmlParser::parse(std::string text) {
  std::string stage = Format("parse %d bytes", static_cast<int32_t>(text.size()));
  if (m_timeLogger != nullptr) m_timeLogger->MarkBegin(stage);
  m_document = std::make_unique<SimXmlDoc>(std::move(text));
  m_errorMessage = m_document->GetErrorMessage();
  if (m_timeLogger != nullptr) m_timeLogger->MarkEnd(stage);
  return m_document->GetErrorNumber();
}

std::unique_ptr<XmlNode> XmlParser::GetDocument() const {
  return m_document == nullptr ? nullptr : m_document->GetFirstChildNode();
}

}  // namespace brontel
