// The intrusive red-black tree.
#include "platform/containers/tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

using namespace qvrm7_driver::nQVWEND000;

namespace {

struct Item {
  tTreeNode node;  // first, so a node is its item
  int key;
};

qvrm7_driver::i32 byKey(tTreeNode const* a, tTreeNode const* b) {
  int const x = reinterpret_cast<Item const*>(a)->key;
  int const y = reinterpret_cast<Item const*>(b)->key;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Black nodes on every path down, or -1 when a rule is broken.
int blackHeight(tTreeNode const* node, tTreeNode const* parent) {
  if (node == nullptr) return 1;
  if (node->parent != parent) return -1;
  bool const redChild = (node->left && node->left->colour == kTreeRed) ||
                        (node->right && node->right->colour == kTreeRed);
  if (node->colour == kTreeRed && redChild) return -1;
  int const left = blackHeight(node->left, node);
  if (left < 0 || left != blackHeight(node->right, node)) return -1;
  return left + (node->colour == kTreeBlack ? 1 : 0);
}

std::vector<Item*> walk(tTreeHeader const& tree, qvrm7_driver::u32 direction) {
  std::vector<Item*> out;
  for (tTreeNode* n = treeStep(tree, nullptr, direction); n; n = treeStep(tree, n, direction))
    out.push_back(reinterpret_cast<Item*>(n));
  return out;
}

// No driver code uses the tree: the worked example, equal keys in insertion
// order, and ascending inserts and scattered erases, each leaving a tree
// that keeps the colour rules.
TEST(Tree, StepsInKeyOrderAndStaysBalancedThroughInsertsAndErases) {
  tTreeHeader tree;
  EXPECT_EQ(treeStep(tree, nullptr, 1), nullptr);
  std::vector<Item> items(32);
  std::vector<Item*> order;
  for (int i = 0; i < 32; ++i) {
    items[i].key = i < 30 ? i : 7;  // the last two after the first 7
    treeInsert(tree, &items[i].node, byKey);
  }
  for (int i = 0; i < 30; ++i) {
    order.push_back(&items[i]);
    if (i == 7) order.insert(order.end(), {&items[30], &items[31]});
  }
  EXPECT_EQ(walk(tree, 1), order);
  EXPECT_EQ(walk(tree, 0), std::vector<Item*>(order.rbegin(), order.rend()));
  for (int step = 0; step < 32; ++step) {  // in a scattered order
    Item& item = items[step * 13 % 32];
    treeErase(tree, &item.node);
    EXPECT_TRUE(item.node.parent == nullptr && item.node.left == nullptr &&
                item.node.right == nullptr && item.node.colour == kTreeRed);
    order.erase(std::find(order.begin(), order.end(), &item));
    EXPECT_TRUE(tree.root == nullptr || tree.root->colour == kTreeBlack);
    EXPECT_GT(blackHeight(tree.root, reinterpret_cast<tTreeNode const*>(&tree)), 0) << step;
    EXPECT_EQ(walk(tree, 1), order);
  }
  EXPECT_EQ(tree.root, nullptr);
  EXPECT_EQ(tree.alwaysNull, nullptr);
}

}  // namespace
