#include "brontel/core/log_node.h"

#include "brontel/platform/format.h"

namespace brontel {

BRONTEL_IMPLEMENT_SERIAL(LogNode, "LogNode");

void LogAble::Activate(int32_t, const std::string&) {}

void LogNode::Serialize(Archive& ar) {
  if (ar.IsStoring()) {
    ar.WriteString(m_name);
  } else {
    m_name = ar.ReadString();
  }
}

TreeItem LogNode::DisplayTree(TreeView& tree, TreeItem parent) const {
  TreeItem item = tree.InsertItem(m_name, parent);
  tree.SetItemData(item, GetItem());
  return item;
}

std::string LogNode::GetDisplayString() const {
  const LogAble* carried = GetItem();
  if (carried == nullptr) return m_name;
  return Format("%s :: %s", m_name.c_str(), carried->GetDisplayString().c_str());
}

void ExpandLogItems(TextTree& tree) {
  // Items are numbered in insertion order, so one pass over the growing range
  // also reaches the items that the expansions insert.
  for (TreeItem item = 1; item <= tree.ItemCount(); ++item) {
    const LogAble* carried = static_cast<const LogAble*>(tree.GetData(item));
    if (carried == nullptr) continue;
    bool onPath = false;
    for (TreeItem up = tree.GetParent(item); up != kTreeRoot && !onPath; up = tree.GetParent(up)) {
      onPath = tree.GetData(up) == carried;
    }
    if (!onPath) carried->DisplayTree(tree, item);
  }
}

}  // namespace brontel
