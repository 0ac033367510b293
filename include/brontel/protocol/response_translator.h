// ResponseTranslator: turns the text of one server response into calls on an
// XmlResponder.
//
// The whole answer is parsed and checked first (well formed, not cut off, root
// "tandroresp", status not failed, a well-formed table id and a valid table
// version), so an answer that fails a check reaches the responder not at all
// and the manager stays as it was. Then the responder is started with the
// table id and every record, conflict and service element after the id is
// applied in document order by a small translator of its own; unknown
// elements, elements of the other family and unknown attributes are skipped.
#pragma once

#include <string>

#include "brontel/core/enumerations.h"

namespace brontel {

class TimeLogger;
class XmlNode;
class XmlResponder;

class ResponseTranslator {
 public:
  // Both must outlive the translator; timeLogger may be null.
  // REQUIRES: responder is not null.
  ResponseTranslator(XmlResponder* responder, TimeLogger* timeLogger);
  ResponseTranslator(const ResponseTranslator&) = delete;
  ResponseTranslator& operator=(const ResponseTranslator&) = delete;

  // Applies text to the responder. Results: ERR_NONE; ERR_XML_PARSE with the
  // parser's message, with "unexpected end of information at position = %d"
  // (the text's length) for an answer whose root lacks its end tag, or with
  // "bad gid value", "bad newgid value" or "bad version value" for a table id
  // that is not 32 hexadecimal digits (alone or grouped 8-4-4-4-12 by hyphens)
  // or a table version above 0x7FFFFFFF other than 0xFFFFFFFF;
  // ERR_EMPTY_RESPONSE "empty server response"; ERR_WRONG_ROOT "wrong root
  // node"; ERR_SERVER_FAILURE "server reported failure"; ERR_NO_CHILD_ELEMENTS
  // "response contains no child elements".
  br_error Translate(const std::string& text);
  // The message of the last failure; empty after success.
  const std::string& GetErrorMessage() const { return m_errorMessage; }

 private:
  br_error fail(br_error result, const std::string& message);
  // Hands one element after the table id to its translator.
  void translateElement(const XmlNode& element);

  XmlResponder* m_responder;
  TimeLogger* m_timeLogger;
  std::string m_errorMessage;
};

}  // namespace brontel
