// The containers that never allocate: the fixed-capacity array, whose
// overrun halts, and the intrusive red-black tree.
#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "host/layer/control.h"
#include "platform/containers/tArray.h"
#include "platform/containers/tree.h"

using namespace qvrm7_driver::nQVWEND000;
using qvrm7_driver::i32;
using qvrm7_driver::u8;

namespace {

// ---- Fixed-capacity array ----------------------------------------------------

using Path = tArray<u8, 256>;

class FixedArray : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::reset();
    sim::throwOnHalt();
  }
  void TearDown() override { sim::reset(); }

  // Runs the insert that must halt and gives what the layer was told.
  template <class Insert>
  sim::HaltRecord halted(Insert insert) {
    try {
      insert();
    } catch (sim::HaltTrap const& trap) {
      return trap.record;
    }
    ADD_FAILURE() << "the insert did not halt";
    return {};
  }
};

TEST_F(FixedArray, InsertsAtTheEndFrontAndInside) {
  Path path;
  path.insert(0, 0xE0);
  path.insert(1, 0x08);
  path.insert(0, 0x01);
  path.insert(2, 0x10);
  ASSERT_EQ(path.size(), 4u);
  EXPECT_EQ(std::vector<u8>(path.begin(), path.end()), (std::vector<u8>{0x01, 0xE0, 0x10, 0x08}));
}

TEST_F(FixedArray, OverrunHaltsWithTheAssertion) {
  Path path;
  for (unsigned i = 0; i < 256; ++i) path.insert(path.size(), static_cast<u8>(i));
  EXPECT_TRUE(sim::halts().empty());  // exactly the capacity fits
  sim::HaltRecord const record = halted([&] { path.insert(0, 0xFF); });
  EXPECT_EQ(record.driver, "qvrm7_driver");
  EXPECT_EQ(record.file, "tArray");
  EXPECT_EQ(record.line, 456u);
  EXPECT_EQ(record.text, "ASSERT(_size+n <= kMaxSize) ");
  std::string const prefix = "[rm7_driver|" + std::string(26, ' ') + "tArray|0456] ";
  EXPECT_EQ(sim::debugOutput(), "[qvrm7_driver|tArray|456] !!ASSERT!!\n" + prefix +
                                    "ASSERT(_size+n <= kMaxSize) \n" + prefix + " \n");
  // Nothing moved before the halt.
  EXPECT_EQ(path.size(), 256u);
  EXPECT_EQ(path[0], 0);
}

TEST_F(FixedArray, PositionPastTheEndHalts) {
  Path path;
  path.insert(0, 1);
  sim::HaltRecord const record = halted([&] { path.insert(2, 2); });
  EXPECT_EQ(record.file, "tArray");
  EXPECT_EQ(record.text, "ASSERT(position <= _size) ");
  EXPECT_EQ(path.size(), 1u);
}

// ---- Red-black tree --------------------------------------------------------------

struct Item {
  tTreeNode node;  // first, so a node is its item
  int key;
  int serial;
};

i32 byKey(tTreeNode const* a, tTreeNode const* b) {
  int const x = reinterpret_cast<Item const*>(a)->key;
  int const y = reinterpret_cast<Item const*>(b)->key;
  return x < y ? -1 : (x > y ? 1 : 0);
}

// Black nodes on every path down, or -1 when a rule is broken.
int blackHeight(tTreeNode const* node, tTreeNode const* parent) {
  if (node == nullptr) return 1;
  if (node->parent != parent) return -1;
  if (node->colour == kTreeRed && ((node->left && node->left->colour == kTreeRed) ||
                                   (node->right && node->right->colour == kTreeRed)))
    return -1;
  int const left = blackHeight(node->left, node);
  int const right = blackHeight(node->right, node);
  if (left < 0 || left != right) return -1;
  return left + (node->colour == kTreeBlack ? 1 : 0);
}

void expectValid(tTreeHeader const& tree) {
  EXPECT_EQ(tree.alwaysNull, nullptr);
  if (tree.root == nullptr) return;
  EXPECT_EQ(tree.root->colour, kTreeBlack);
  EXPECT_GT(blackHeight(tree.root, reinterpret_cast<tTreeNode const*>(&tree)), 0);
}

std::vector<Item*> walk(tTreeHeader const& tree, qvrm7_driver::u32 direction) {
  std::vector<Item*> out;
  for (tTreeNode* n = treeStep(tree, nullptr, direction); n != nullptr;
       n = treeStep(tree, n, direction))
    out.push_back(reinterpret_cast<Item*>(n));
  return out;
}

TEST(Tree, StepOnAnEmptyTreeGivesNull) {
  tTreeHeader tree;
  EXPECT_EQ(treeStep(tree, nullptr, 1), nullptr);
  EXPECT_EQ(treeStep(tree, nullptr, 0), nullptr);
}

TEST(Tree, EraseClearsTheNodeAndEmptiesTheTree) {
  tTreeHeader tree;
  Item only{{}, 7, 0};
  treeInsert(tree, &only.node, byKey);
  EXPECT_EQ(only.node.parent, reinterpret_cast<tTreeNode*>(&tree));
  treeErase(tree, &only.node);
  EXPECT_EQ(tree.root, nullptr);
  EXPECT_EQ(only.node.parent, nullptr);
  EXPECT_EQ(only.node.left, nullptr);
  EXPECT_EQ(only.node.right, nullptr);
  EXPECT_EQ(only.node.colour, 0u);
}

// Equal keys included: the tree keeps them in insertion order, as the
// multimap does.
TEST(Tree, RandomInsertsAndErasesMatchAnOrderedMultimap) {
  std::mt19937 random(1729);
  std::vector<Item> items(600);
  std::multimap<int, int> model;  // key -> serial, in insertion order per key
  std::vector<int> inside;
  tTreeHeader tree;
  for (int round = 0; round < 4000; ++round) {
    bool const insert = inside.empty() || (inside.size() < items.size() && random() % 3 != 0);
    if (insert) {
      int serial;
      do serial = static_cast<int>(random() % items.size());
      while (items[serial].node.parent != nullptr);
      items[serial].key = static_cast<int>(random() % 50);
      items[serial].serial = serial;
      treeInsert(tree, &items[serial].node, byKey);
      model.emplace(items[serial].key, serial);
      inside.push_back(serial);
    } else {
      size_t const pick = random() % inside.size();
      int const serial = inside[pick];
      inside.erase(inside.begin() + static_cast<long>(pick));
      treeErase(tree, &items[serial].node);
      auto range = model.equal_range(items[serial].key);
      for (auto it = range.first; it != range.second; ++it) {
        if (it->second == serial) {
          model.erase(it);
          break;
        }
      }
    }
    if (round % 50 == 0 || round > 3950) {
      expectValid(tree);
      std::vector<int> want;
      for (auto const& [key, serial] : model) want.push_back(serial);
      std::vector<int> got;
      for (Item* item : walk(tree, 1)) got.push_back(item->serial);
      ASSERT_EQ(got, want) << "round " << round;
      std::vector<int> back;
      for (Item* item : walk(tree, 0)) back.push_back(item->serial);
      ASSERT_EQ(back, std::vector<int>(want.rbegin(), want.rend()));
    }
  }
}

}  // namespace
