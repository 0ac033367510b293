// Parsing a server response of about 1 and 10 MB (contacts with data fields
// and links) and walking every node and attribute, as the translators do. The
// nodes share the document text, so both the time and the memory should grow
// with the size: the bytes-per-second figure should hold from 1 to 10 MB.
// Also: writing a request of the same size.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "brontel/protocol/xml_element.h"
#include "brontel/protocol/xml_parser.h"

namespace {

using namespace brontel;

// A response or request with `contacts` contact elements of 6 data fields.
std::string Document(int32_t contacts) {
  XmlElement root("tandroresp", nullptr);
  root.AddAttribute("ts", uint32_t{0x2b});
  root.AddAttributeFlag("sts", true);
  root.AddAttribute("ver", uint32_t{0x1f});
  {
    XmlElement gid("gid", &root);
    gid.AddValue(UID128());
  }
  for (int32_t i = 0; i < contacts; ++i) {
    XmlElement contact("contact", &root);
    contact.AddAttribute("act", uint32_t{0});
    contact.AddAttribute("sid", static_cast<uint32_t>(i + 1));
    contact.AddAttribute("lid", static_cast<uint32_t>(0x80000000u + i));
    contact.AddAttribute("ver", uint32_t{0x1f});
    contact.AddAttribute("flg", uint32_t{0x7ffff});
    for (uint32_t index = 11; index <= 16; ++index) {
      XmlElement datum("datum", &contact);
      datum.AddAttribute("index", index);
      datum.AddValue("field " + std::to_string(index) + " of contact " + std::to_string(i) +
                     " & co");
    }
    XmlElement link("link", &contact);
    link.AddAttribute("psid", static_cast<uint32_t>(1 + i % 15));
    link.AddAttribute("pver", uint32_t{0x1f});
  }
  return root.Query();
}

size_t Walk(const XmlNode& root) {
  size_t seen = 0;
  std::vector<std::unique_ptr<XmlNode>> pending;
  auto visit = [&](const XmlNode& node) {
    ++seen;
    auto attributes = node.GetAttributes();
    while (attributes->HasMoreElements()) seen += attributes->NextElement()->GetIntValue() & 1;
    auto children = node.GetChildNodes();
    while (children->HasMoreElements()) pending.push_back(children->NextElement());
  };
  visit(root);
  while (!pending.empty()) {
    auto node = std::move(pending.back());
    pending.pop_back();
    visit(*node);
  }
  return seen;
}

void BM_ParseResponse(benchmark::State& state) {
  const std::string text = Document(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    XmlParser parser;
    if (parser.Parse(text) != ERR_NONE) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(Walk(*parser.GetDocument()));
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}
BENCHMARK(BM_ParseResponse)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);

void BM_WriteRequest(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = Document(static_cast<int32_t>(state.range(0)));
    bytes = text.size();
    benchmark::DoNotOptimize(text);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_WriteRequest)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);

}  // namespace
