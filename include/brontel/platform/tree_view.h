// TreeView: the two operations of a tree control that the library uses, and
// TextTree, an in-memory tree that renders as indented text.
//
// Items are numbered handles; kTreeRoot (0) stands for the invisible root.
// Diagnostic views insert text items and may attach a data pointer to an item
// for a viewer that wants to expand it later.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brontel {

using TreeItem = uint32_t;
constexpr TreeItem kTreeRoot = 0;

class TreeView {
 public:
  virtual ~TreeView() = default;
  // Inserts text as the last child of parent and returns the new item.
  virtual TreeItem InsertItem(const std::string& text, TreeItem parent) = 0;
  // Attaches data to item (replacing earlier data).
  virtual void SetItemData(TreeItem item, const void* data) = 0;
};

class TextTree : public TreeView {
 public:
  TextTree();

  TreeItem InsertItem(const std::string& text, TreeItem parent) override;
  void SetItemData(TreeItem item, const void* data) override;

  // REQUIRES: item was returned by this tree (or is kTreeRoot).
  const std::string& GetText(TreeItem item) const;
  const void* GetData(TreeItem item) const;
  const std::vector<TreeItem>& GetChildren(TreeItem item) const;
  // The parent of item (kTreeRoot for top-level items and for the root).
  TreeItem GetParent(TreeItem item) const;
  size_t ItemCount() const { return m_items.size() - 1; }

  // Every item on its own line, indented by indent spaces per level below the
  // root, in depth-first order.
  std::string Render(int indent = 2) const;

 private:
  struct Item {
    std::string text;
    const void* data = nullptr;
    TreeItem parent = kTreeRoot;
    std::vector<TreeItem> children;
  };
  void RenderItem(TreeItem item, int depth, int indent, std::string& out) const;
  const Item& At(TreeItem item) const;

  std::vector<Item> m_items;
};

}  // namespace brontel
