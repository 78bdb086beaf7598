// Intrusive red-black tree of the platform layer: the node lives inside the
// element, so neither insertion nor removal allocates or can fail.
#pragma once

#include "platform/types.h"

namespace qvrm7_driver::nQVWEND000 {

enum : u32 { kTreeRed = 0, kTreeBlack = 1 };

struct tTreeNode {
  tTreeNode* parent;
  tTreeNode* left;
  tTreeNode* right;
  u32 colour;
};

// The root's parent is the header itself; the header's first word is null,
// so any walk up the parents ends there.
struct tTreeHeader {
  void* alwaysNull = nullptr;
  tTreeNode* root = nullptr;
};

// Negative when a orders before b. Equal nodes keep their insertion order.
using tTreeComparator = i32 (*)(tTreeNode const* a, tTreeNode const* b);

void treeInsert(tTreeHeader& tree, tTreeNode* node, tTreeComparator compare);
// The node's links are cleared and it is left red.
void treeErase(tTreeHeader& tree, tTreeNode* node);
// Direction 1: the successor (of null: the first node); 0: the predecessor
// (of null: the last node). Null past either end.
tTreeNode* treeStep(tTreeHeader const& tree, tTreeNode* node, u32 direction);

}  // namespace qvrm7_driver::nQVWEND000
