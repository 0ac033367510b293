#include "brontel/core/log_list.h"

#include "brontel/core/log_string.h"
#include "brontel/platform/format.h"
#include "brontel/platform/precondition.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(LogListNode, "LogListLog");

void LogList::reserve(int32_t needed) {
  int64_t wanted = static_cast<int64_t>(m_nodes.size()) + needed;
  BRONTEL_REQUIRE(wanted >= 0, "m_size + needed >= 0");
  if (wanted <= m_capacity) return;
  int64_t capacity = m_capacity == 0 ? 16 : static_cast<int64_t>(m_capacity) * 2;
  while (capacity < wanted) capacity *= 2;
  m_nodes.reserve(static_cast<size_t>(capacity));
  m_capacity = static_cast<int32_t>(capacity);
}

void LogList::Log(const std::string& name, const LogAble& item) {
  Append(item.GetLogItem(name));
}

void LogList::Log(const std::string& name, const std::string& text) {
  Log(name, LogString(text));
}

void LogList::Append(std::unique_ptr<LogNode> node) {
  BRONTEL_REQUIRE(node != nullptr, "node");
  reserve(1);
  m_nodes.push_back(std::move(node));
}

LogNode& LogList::operator[](int32_t index) const {
  BRONTEL_REQUIRE(index >= 0, "index >= 0");
  BRONTEL_REQUIRE(index < GetListCount(), "index < m_size");
  return *m_nodes[static_cast<size_t>(index)];
}

std::string LogList::GetDisplayString() const {
  return Format("LogList[%d]", GetListCount());
}

TreeItem LogList::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(GetDisplayString(), parent);
  for (const auto& node : m_nodes) node->DisplayTree(tree, item);
  return item;
}

void LogList::SerializeQuick(Archive& ar, uint32_t) {
  if (ar.IsStoring()) {
    ar.WriteInt(GetListCount());
    for (const auto& node : m_nodes) ar.WriteObject(node.get());
    return;
  }
  int32_t count = ar.ReadCount(2);  // every object record has a tag of two bytes
  m_nodes.clear();                  // the entries read replace the old ones
  reserve(count);
  for (int32_t i = 0; i < count; ++i) {
    std::unique_ptr<LogNode> node(ReadObjectAs<LogNode>(ar));
    if (node == nullptr) ar.Fail(ArchiveStatus::kBadValue, "null log entry");
    m_nodes.push_back(std::move(node));
  }
}

std::unique_ptr<LogNode> LogList::GetLogItem(const std::string& name) const {
  return std::make_unique<LogListNode>(name, *this);
}

LogListNode::LogListNode() : m_owned(std::make_unique<LogList>()), m_list(m_owned.get()) {}

LogListNode::LogListNode(std::string name, const LogList& list)
    : LogNode(std::move(name)), m_list(&list) {}

void LogListNode::Serialize(Archive& ar) {
  LogNode::Serialize(ar);
  BRONTEL_REQUIRE(ar.IsStoring() || m_owned != nullptr, "m_owned");
  LogList& list = ar.IsStoring() ? const_cast<LogList&>(*m_list) : *m_owned;
  list.SerializeQuick(ar, ar.IsStoring() ? Archive::kNoSchema : ar.GetObjectSchema());
}

}  // namespace brontel
