#include "brontel/platform/tree_view.h"

#include <gtest/gtest.h>

namespace brontel {
namespace {

TEST(TextTreeTest, RendersChildrenInOrderIndentedByDepth) {
  TextTree tree;
  TreeItem a = tree.InsertItem("a", kTreeRoot);
  TreeItem b = tree.InsertItem("b", a);
  tree.InsertItem("c", a);
  tree.InsertItem("d", b);
  tree.InsertItem("e", kTreeRoot);
  EXPECT_EQ(tree.Render(), "a\n  b\n    d\n  c\ne\n");
  EXPECT_EQ(tree.Render(4), "a\n    b\n        d\n    c\ne\n");
  EXPECT_EQ(tree.GetParent(b), a);
  EXPECT_EQ(tree.GetParent(a), kTreeRoot);
  EXPECT_EQ(tree.ItemCount(), 5u);
}

TEST(TextTreeTest, ItemsKeepTheirData) {
  TextTree tree;
  int value = 0;
  TreeItem a = tree.InsertItem("a", kTreeRoot);
  EXPECT_EQ(tree.GetData(a), nullptr);
  tree.SetItemData(a, &value);
  EXPECT_EQ(tree.GetData(a), &value);
}

}  // namespace
}  // namespace brontel
