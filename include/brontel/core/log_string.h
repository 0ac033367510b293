// LogString: a text entry of a log, and the line splitter that shows long texts
// (request and response documents) as indented lines of a tree.
#pragma once

#include <string>
#include <utility>

#include "brontel/core/log_able.h"

namespace brontel {

class LogString : public LogAble {
 public:
  static constexpr char kLogNodeName[] = "LogStringLog";

  LogString() = default;
  explicit LogString(std::string text) : m_text(std::move(text)) {}

  const std::string& GetText() const { return m_text; }

  // Shows text under parent as at most 1000 lines, split after '>' and indented
  // by four spaces per element level; very long texts lose parts of their middle
  // and their end, with marker items saying how many characters. Returns the
  // last item inserted, or parent when nothing was.
  static TreeItem DisplayTree(const std::string& text, TreeView& tree, TreeItem parent);

  TreeItem DisplayTree(TreeView& tree, TreeItem parent) const override;
  std::string GetDisplayString() const override { return m_text; }
  // The text as an archive string; the version is not used.
  void SerializeQuick(Archive& ar, uint32_t version) override;
  std::unique_ptr<LogNode> GetLogItem(const std::string& name) const override;
  // Mode 1 writes the text's bytes to the file named by argument; a file that
  // cannot be written is reported on the debug output only.
  void Activate(int32_t mode, const std::string& argument) override;

 private:
  std::string m_text;
};

}  // namespace brontel
