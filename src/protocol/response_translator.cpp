#include "brontel/protocol/response_translator.h"

#include <memory>

#include "brontel/core/uid128.h"
#include "brontel/core/versioning.h"
#include "brontel/host/time_logger.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"
#include "brontel/protocol/xml_parser.h"
#include "element_translators.h"

namespace brontel {

// ---- shared by the element translators ----

std::optional<std::string> TextOf(const XmlNode& element) {
  auto children = element.GetChildNodes();
  if (!children->HasMoreElements()) return std::nullopt;
  std::unique_ptr<XmlNode> first = children->NextElement();
  if (first == nullptr || !first->GetName().empty()) return std::nullopt;
  return first->GetValue();
}

std::optional<uint32_t> NumberOf(const XmlNode& element) {
  std::optional<std::string> text = TextOf(element);
  if (!text) return std::nullopt;
  return SimXmlAttribute::CSToI(*text);
}

bool HasChildNodes(const XmlNode& element) {
  return element.GetChildNodes()->HasMoreElements();
}

// ---- service elements ----

void ConflictElementTranslator::Translate(const XmlNode& element) {
  ForEachAttribute(element, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "act") {
      m_conflict.m_act = a.GetIntValue();
    } else if (name == "cerr") {
      m_conflict.m_cerr = a.GetIntValue();
    } else if (name == "ctyp") {
      m_conflict.m_ctyp = a.GetIntValue();
    } else if (name == "lid") {
      m_conflict.m_lid = a.GetIntValue();
    } else if (name == "sid") {
      m_conflict.m_sid = a.GetIntValue();
    }
  });
  switch (m_conflict.m_ctyp) {
    case 1:
      m_responder.CalendarConflict(&m_conflict);
      break;
    case 2:
      m_responder.EventConflict(&m_conflict);
      break;
    case 3:
      m_responder.CategoryConflict(&m_conflict);
      break;
    case 4:
      m_responder.ContactConflict(&m_conflict);
      break;
    default:
      break;
  }
}

void WirelessUrlElementTranslator::Translate(const XmlNode& element) {
  ForEachAttribute(element, [&](const XmlAttribute& a) {
    if (a.GetName() == "ver") m_ver = a.GetIntValue();
  });
  std::optional<std::string> text = TextOf(element);
  if (!text) return;
  m_url = *text;
  m_responder.SetPulsecastURL(m_url, m_ver);
}

void OrvelElementTranslator::Translate(const XmlNode& element) {
  ForEachChild(element, [&](const XmlNode& child) {
    if (child.GetName() != "click") return;
    uint32_t eid = 0;
    ForEachAttribute(child, [&](const XmlAttribute& a) {
      if (a.GetName() == "eid") eid = a.GetIntValue();
    });
    m_responder.WebClick(eid);
  });
}

void RegItemElementTranslator::Translate(const XmlNode& element) {
  ForEachAttribute(element, [&](const XmlAttribute& a) {
    const std::string& name = a.GetName();
    if (name == "loc") {
      m_local = a.GetBoolValue();
    } else if (name == "typ") {
      m_type = a.GetIntValue();
    } else if (name == "key") {
      m_key = a.GetStringValue();
    }
  });
  std::optional<std::string> text = TextOf(element);
  if (!text) return;
  if (m_type == 1) {
    m_number = SimXmlAttribute::CSToI(*text);
    m_responder.RegistryPush(m_key, m_local, static_cast<int32_t>(m_number));
  } else if (m_type == 2) {
    m_text = *text;
    m_responder.RegistryPush(m_key, m_local, m_text);
  }
}

// ---- the response ----

namespace {

bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// The identifier text form: 32 hexadecimal digits, alone or grouped 8-4-4-4-12
// by hyphens. A shorter or longer value would be read into a different
// account's id without any sign of it, so nothing else is accepted.
bool IsIdText(const std::string& text) {
  if (text.size() == 32) {
    for (char c : text) {
      if (!IsHexDigit(c)) return false;
    }
    return true;
  }
  if (text.size() != 36) return false;
  for (size_t i = 0; i < text.size(); ++i) {
    bool hyphen = i == 8 || i == 13 || i == 18 || i == 23;
    if (hyphen ? text[i] != '-' : !IsHexDigit(text[i])) return false;
  }
  return true;
}

// The table version a manager accepts: a valid version or the invalid one.
bool IsTableVersion(uint32_t version) {
  return version < 0x80000000 || version == Versioning::InValidVersion();
}

// Times the translation as one stage when there is a time logger.
class TimedStage {
 public:
  TimedStage(TimeLogger* logger, const char* label) : m_logger(logger), m_label(label) {
    if (m_logger != nullptr) m_logger->MarkBegin(m_label);
  }
  ~TimedStage() {
    if (m_logger != nullptr) m_logger->MarkEnd(m_label);
  }
  TimedStage(const TimedStage&) = delete;
  TimedStage& operator=(const TimedStage&) = delete;

 private:
  TimeLogger* m_logger;
  std::string m_label;
};

}  // namespace

ResponseTranslator::ResponseTranslator(XmlResponder* responder, TimeLogger* timeLogger)
    : m_responder(responder), m_timeLogger(timeLogger) {
  BRONTEL_REQUIRE(responder != nullptr, "responder != nullptr");
}

br_error ResponseTranslator::fail(br_error result, const std::string& message) {
  m_errorMessage = message;
  return result;
}

br_error ResponseTranslator::Translate(const std::string& text) {
  m_errorMessage.clear();
  XmlParser parser(m_timeLogger);
  br_error parsed = parser.Parse(text);
  if (parsed != ERR_NONE) return fail(parsed, parser.GetErrorMessage());
  std::unique_ptr<XmlNode> root = parser.GetDocument();
  if (root == nullptr) return fail(ERR_EMPTY_RESPONSE, "empty server response");
  TimedStage stage(m_timeLogger, "translate doc");
  // A root without its end tag is an answer cut off in transit (a connection
  // closed early). Applied, it would look whole: with a full answer every
  // record after the cut would be deleted. So it fails like the parse error it
  // is, at the end of the text.
  if (!root->IsClosed()) {
    return fail(ERR_XML_PARSE, Format("unexpected end of information at position = %d",
                                      static_cast<int32_t>(text.size())));
  }
  if (root->GetName() != "tandroresp") return fail(ERR_WRONG_ROOT, "wrong root node");

  uint32_t deltaVersion = 0;
  uint32_t version = 0;
  bool full = false;
  bool failed = false;
  ForEachAttribute(*root, [&](const XmlAttribute& a) {
    if (failed) return;
    const std::string& name = a.GetName();
    if (name == "ts") {
      deltaVersion = a.GetIntValue();
    } else if (name == "sts") {
      failed = !a.GetBoolValue();
    } else if (name == "ver") {
      version = a.GetIntValue();
    } else if (name == "full") {
      full = a.GetBoolValue();
    }
  });
  if (failed) return fail(ERR_SERVER_FAILURE, "server reported failure");
  if (!HasChildNodes(*root)) {
    return fail(ERR_NO_CHILD_ELEMENTS, "response contains no child elements");
  }

  // Nothing reaches the responder before the table id: elements ahead of it
  // are skipped. A newgid answer ends the walk.
  bool started = false;
  auto children = root->GetChildNodes();
  while (children->HasMoreElements()) {
    std::unique_ptr<XmlNode> child = children->NextElement();
    const std::string& name = child->GetName();
    if (started) {
      translateElement(*child);
      continue;
    }
    if (name != "gid" && name != "newgid") continue;
    std::optional<std::string> id = TextOf(*child);
    if (!id) continue;
    if (!IsIdText(*id)) return fail(ERR_XML_PARSE, Format("bad %s value", name.c_str()));
    if (!IsTableVersion(version)) return fail(ERR_XML_PARSE, "bad version value");
    UID128 gid;
    gid.SetString(*id);
    started = true;
    m_responder->SyncBegin(gid, version, deltaVersion, full);
    if (name == "newgid") break;
  }
  if (started) m_responder->SyncEnd();
  return ERR_NONE;
}

void ResponseTranslator::translateElement(const XmlNode& element) {
  const std::string& name = element.GetName();
  // Records of the other family are not this exchange's: they are skipped.
  bool calendars = m_responder->GetType() == calendarType;
  bool contacts = m_responder->GetType() == categoryType;
  if (name == "calendar") {
    if (calendars) CalendarElementTranslator(*m_responder).Translate(element);
  } else if (name == "event") {
    if (calendars) EventElementTranslator(*m_responder).Translate(element);
  } else if (name == "category") {
    if (contacts) CategoryElementTranslator(*m_responder).Translate(element);
  } else if (name == "contact") {
    if (contacts) ContactElementTranslator(*m_responder).Translate(element);
  } else if (name == "conflict") {
    ConflictElementTranslator(*m_responder).Translate(element);
  } else if (name == "wirelessurl") {
    WirelessUrlElementTranslator(*m_responder).Translate(element);
  } else if (name == "orvel") {
    OrvelElementTranslator(*m_responder).Translate(element);
  } else if (name == "regitem") {
    RegItemElementTranslator(*m_responder).Translate(element);
  }
}

}  // namespace brontel
