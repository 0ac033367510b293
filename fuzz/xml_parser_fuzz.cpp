// Feeds arbitrary bytes to the response parser and walks the whole tree it
// built, attributes included: it must never crash, read outside the text or
// recurse without bound, whatever the server sends.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brontel/protocol/xml_parser.h"

namespace {

void Walk(const brontel::XmlNode& root) {
  // Iterative, so that the walk itself cannot run out of stack.
  std::vector<std::unique_ptr<brontel::XmlNode>> pending;
  auto visit = [&](const brontel::XmlNode& node) {
    (void)node.GetIntValue();
    auto attributes = node.GetAttributes();
    while (attributes->HasMoreElements()) {
      auto a = attributes->NextElement();
      (void)a->GetBoolValue();
      (void)a->GetShortValue();
      (void)a->GetByteValue();
      (void)a->GetIntValue();
    }
    auto children = node.GetChildNodes();
    while (children->HasMoreElements()) pending.push_back(children->NextElement());
  };
  visit(root);
  while (!pending.empty()) {
    std::unique_ptr<brontel::XmlNode> node = std::move(pending.back());
    pending.pop_back();
    visit(*node);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  brontel::XmlParser parser;
  brontel::br_error result = parser.Parse(text);
  if ((result == brontel::ERR_NONE) != parser.GetErrorMessage().empty()) __builtin_trap();
  std::unique_ptr<brontel::XmlNode> root = parser.GetDocument();
  if (root != nullptr) Walk(*root);
  return 0;
}
