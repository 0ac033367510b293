#include "brontel/core/log_string.h"

#include <algorithm>
#include <string_view>

#include "brontel/core/log_node.h"
#include "brontel/platform/file_system.h"
#include "brontel/platform/format.h"

namespace brontel {
namespace {

constexpr int32_t kLineBudget = 1000;
constexpr size_t kLongLine = 128;
constexpr size_t kCutLine = 80;

// Length of the next line of rest: up to the first '>' after the first '/', or
// up to the first '>' when that runs too long or there is no '/'.
size_t NextLineLength(std::string_view rest) {
  auto upTo = [&](size_t gt) { return gt == std::string_view::npos ? rest.size() : gt + 1; };
  size_t length;
  size_t slash = rest.find('/');
  if (slash != std::string_view::npos) {
    length = upTo(rest.find('>', slash));
    if (length > kLongLine) length = upTo(rest.find('>'));
  } else {
    length = upTo(rest.find('>'));
  }
  return length > kLongLine ? kCutLine : length;
}

// Applies the line's tags to level: '>' opens unless it closes "/>", "</"
// closes (and its '>' opened, hence two), "<!" and "<?" undo their '>'.
int32_t LevelAfter(std::string_view line, int32_t level) {
  char previous = '\0';
  for (char c : line) {
    if (c == '>' && previous != '/') {
      level += 1;
    } else if (c == '/' && previous == '<') {
      level -= 2;
    } else if ((c == '!' || c == '?') && previous == '<') {
      level -= 1;
    }
    previous = c;
  }
  return level;
}

}  // namespace

TreeItem LogString::DisplayTree(const std::string& text, TreeView& tree, TreeItem parent) {
  TreeItem last = parent;
  int32_t budget = kLineBudget;
  int32_t level = 0;
  std::string_view rest = text;
  while (budget > 0 && !rest.empty()) {
    if (budget <= 800 && budget % 100 == 0) {
      // Keep the last k characters: about half, less another 1000.
      int64_t n = static_cast<int64_t>(rest.size());
      int64_t k = n / 2 - 1000;
      if (k < 0) k = n / 2;
      last = tree.InsertItem(
          Format("*****...%lld characters deleted...*****", static_cast<long long>(n - k)), parent);
      rest = rest.substr(static_cast<size_t>(n - k));
      if (rest.empty()) break;
    }
    std::string_view line = rest.substr(0, NextLineLength(rest));
    int32_t before = level;
    level = LevelAfter(line, level);
    int32_t indent = std::max<int32_t>(0, std::min(before, level));
    std::string item(static_cast<size_t>(indent) * 4, ' ');
    item.append(line);
    last = tree.InsertItem(item, parent);
    rest.remove_prefix(line.size());
    --budget;
  }
  if (!rest.empty()) {
    last = tree.InsertItem(Format("*****...%zu characters truncated...*****", rest.size()), parent);
  }
  return last;
}

TreeItem LogString::DisplayTree(TreeView& tree, TreeItem parent) const {
  return DisplayTree(m_text, tree, parent);
}

void LogString::SerializeQuick(Archive& ar, uint32_t) {
  if (ar.IsStoring()) {
    ar.WriteString(m_text);
  } else {
    m_text = ar.ReadString();
  }
}

std::unique_ptr<LogNode> LogString::GetLogItem(const std::string& name) const {
  return std::make_unique<LogNodeOf<LogString>>(name, *this);
}

void LogString::Activate(int32_t mode, const std::string& argument) {
  if (mode != 1) return;
  std::string error;
  ReplaceFileAtomically(
      argument,
      [&](ByteSink& sink) {
        sink.Append(reinterpret_cast<const uint8_t*>(m_text.data()), m_text.size());
      },
      &error);
}

}  // namespace brontel
