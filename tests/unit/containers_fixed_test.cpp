// The intrusive red-black tree, against an ordered multimap. The fixed-size
// array's halts are in the debug-print tests, with the assertion lines.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <vector>

#include "platform/containers/tree.h"

using namespace qvrm7_driver::nQVWEND000;

namespace {

struct Item {
  tTreeNode node;  // first, so a node is its item
  int key;
  bool inside;
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

// Equal keys included: the tree keeps them in insertion order, as the
// multimap does. Erased nodes come back cleared; the drained tree is empty.
TEST(Tree, RandomInsertsAndErasesMatchAnOrderedMultimap) {
  std::mt19937 random(1729);
  std::vector<Item> items(600);
  std::multimap<int, Item*> model;
  std::vector<Item*> inside;
  tTreeHeader tree;
  auto check = [&] {
    EXPECT_EQ(tree.alwaysNull, nullptr);
    EXPECT_TRUE(tree.root == nullptr || tree.root->colour == kTreeBlack);
    EXPECT_GT(blackHeight(tree.root, reinterpret_cast<tTreeNode const*>(&tree)), 0);
    std::vector<Item*> want;
    for (auto const& entry : model) want.push_back(entry.second);
    EXPECT_EQ(walk(tree, 1), want);
    EXPECT_EQ(walk(tree, 0), std::vector<Item*>(want.rbegin(), want.rend()));
  };
  auto erase = [&](size_t pick) {
    Item* item = inside[pick];
    inside.erase(inside.begin() + static_cast<long>(pick));
    treeErase(tree, &item->node);
    item->inside = false;
    EXPECT_TRUE(item->node.parent == nullptr && item->node.left == nullptr &&
                item->node.right == nullptr && item->node.colour == kTreeRed);
    auto it = model.equal_range(item->key).first;
    while (it->second != item) ++it;
    model.erase(it);
  };
  for (int round = 0; round < 4000; ++round) {
    if (inside.empty() || (inside.size() < items.size() && random() % 3 != 0)) {
      size_t serial = random() % items.size();
      while (items[serial].inside) serial = (serial + 1) % items.size();
      Item* item = &items[serial];
      item->key = static_cast<int>(random() % 50);
      item->inside = true;
      treeInsert(tree, &item->node, byKey);
      model.emplace(item->key, item);
      inside.push_back(item);
    } else {
      erase(random() % inside.size());
    }
    if (round % 50 == 0) check();
  }
  while (!inside.empty()) {
    erase(random() % inside.size());
    if (inside.size() % 25 == 0) check();
  }
  EXPECT_EQ(tree.root, nullptr);
}

}  // namespace
