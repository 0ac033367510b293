// Parsing a server response of about 1 and 10 MB (contacts with data fields
// and links) and walking every node and attribute, as the translators do; and
// the parse alone, from a text handed over or copied. The nodes keep positions
// into the document text, so both the time and the memory should grow with
// the size: the bytes-per-second figure should hold from 1 to 10 MB.
// Also: writing a request of the same size. When expat and pugixml are
// installed (benchmarks only; the library uses neither), the same 10 MB
// response is parsed by each of them in the same run: expat with handlers
// that look at every element, attribute and text, pugixml in place into its
// document tree, as the library's parser builds its own.
#include <benchmark/benchmark.h>

#ifdef BRONTEL_BENCH_EXPAT
#include <expat.h>
#endif
#ifdef BRONTEL_BENCH_PUGIXML
#include <pugixml.hpp>
#endif

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
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

// The bytes of text parsed in every iteration, and the document's size.
void CountBytes(benchmark::State& state, const std::string& text) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(text.size()));
  state.counters["MB"] = static_cast<double>(text.size()) / 1e6;
}

void BM_ParseResponse(benchmark::State& state) {
  const std::string text = Document(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    XmlParser parser;
    if (parser.Parse(text) != ERR_NONE) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(Walk(*parser.GetDocument()));
  }
  CountBytes(state, text);
}
BENCHMARK(BM_ParseResponse)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);

// The parse alone: the document tree, without walking it. The parser takes a
// copy of the text made off the clock, as the in-place parse of pugixml below
// does: the form a caller owning the body uses.
void BM_ParseOnly(benchmark::State& state) {
  const std::string text = Document(static_cast<int32_t>(state.range(0)));
  std::string buffer;
  for (auto _ : state) {
    state.PauseTiming();
    buffer = text;
    state.ResumeTiming();
    XmlParser parser;
    if (parser.Parse(std::move(buffer)) != ERR_NONE) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(parser.GetDocument());
  }
  CountBytes(state, text);
}
BENCHMARK(BM_ParseOnly)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);

// The same from a text the parser must copy first.
void BM_ParseOnlyCopying(benchmark::State& state) {
  const std::string text = Document(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    XmlParser parser;
    if (parser.Parse(text) != ERR_NONE) state.SkipWithError("parse failed");
    benchmark::DoNotOptimize(parser.GetDocument());
  }
  CountBytes(state, text);
}
BENCHMARK(BM_ParseOnlyCopying)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);

#ifdef BRONTEL_BENCH_EXPAT
struct ExpatCounts {
  size_t elements = 0;
  size_t attributes = 0;
  size_t textBytes = 0;
};

void BM_ExpatParse(benchmark::State& state) {
  const std::string text = Document(static_cast<int32_t>(state.range(0)));
  for (auto _ : state) {
    ExpatCounts counts;
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetUserData(parser, &counts);
    XML_SetElementHandler(
        parser,
        [](void* data, const XML_Char*, const XML_Char** attributes) {
          auto* c = static_cast<ExpatCounts*>(data);
          ++c->elements;
          for (size_t i = 0; attributes[i] != nullptr; i += 2) ++c->attributes;
        },
        [](void*, const XML_Char*) {});
    XML_SetCharacterDataHandler(parser, [](void* data, const XML_Char*, int length) {
      static_cast<ExpatCounts*>(data)->textBytes += static_cast<size_t>(length);
    });
    if (XML_Parse(parser, text.data(), static_cast<int>(text.size()), 1) != XML_STATUS_OK) {
      state.SkipWithError("expat failed");
    }
    XML_ParserFree(parser);
    benchmark::DoNotOptimize(counts.elements + counts.attributes + counts.textBytes);
  }
  CountBytes(state, text);
}
BENCHMARK(BM_ExpatParse)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);
#endif

#ifdef BRONTEL_BENCH_PUGIXML
// In place: pugixml parses a copy of the text (made off the clock) into its
// tree without copying names and values.
void BM_PugixmlParseInPlace(benchmark::State& state) {
  const std::string text = Document(static_cast<int32_t>(state.range(0)));
  std::string buffer;
  for (auto _ : state) {
    state.PauseTiming();
    buffer = text;
    state.ResumeTiming();
    pugi::xml_document document;
    pugi::xml_parse_result result =
        document.load_buffer_inplace(buffer.data(), buffer.size(), pugi::parse_default);
    if (!result) state.SkipWithError("pugixml failed");
    benchmark::DoNotOptimize(document.first_child());
  }
  CountBytes(state, text);
}
BENCHMARK(BM_PugixmlParseInPlace)->Arg(2500)->Arg(25000)->Unit(benchmark::kMillisecond);
#endif

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
