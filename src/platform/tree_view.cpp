#include "brontel/platform/tree_view.h"

#include "brontel/platform/precondition.h"

namespace brontel {

TextTree::TextTree() : m_items(1) {}

const TextTree::Item& TextTree::At(TreeItem item) const {
  BRONTEL_REQUIRE(item < m_items.size(), "item < m_items.size()");
  return m_items[item];
}

TreeItem TextTree::InsertItem(const std::string& text, TreeItem parent) {
  BRONTEL_REQUIRE(parent < m_items.size(), "parent < m_items.size()");
  TreeItem id = static_cast<TreeItem>(m_items.size());
  m_items.push_back(Item{text, nullptr, parent, {}});
  m_items[parent].children.push_back(id);
  return id;
}

void TextTree::SetItemData(TreeItem item, const void* data) {
  BRONTEL_REQUIRE(item < m_items.size(), "item < m_items.size()");
  m_items[item].data = data;
}

const std::string& TextTree::GetText(TreeItem item) const {
  return At(item).text;
}
TreeItem TextTree::GetParent(TreeItem item) const {
  return At(item).parent;
}
const void* TextTree::GetData(TreeItem item) const {
  return At(item).data;
}
const std::vector<TreeItem>& TextTree::GetChildren(TreeItem item) const {
  return At(item).children;
}

void TextTree::RenderItem(TreeItem item, int depth, int indent, std::string& out) const {
  // Iterative over siblings, recursive over depth; trees here are shallow.
  for (TreeItem child : m_items[item].children) {
    out.append(static_cast<size_t>(depth * indent), ' ');
    out += m_items[child].text;
    out += '\n';
    RenderItem(child, depth + 1, indent, out);
  }
}

std::string TextTree::Render(int indent) const {
  std::string out;
  RenderItem(kTreeRoot, 0, indent, out);
  return out;
}

}  // namespace brontel
