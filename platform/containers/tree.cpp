#include "platform/containers/tree.h"

namespace qvrm7_driver::nQVWEND000 {
namespace {

// The header stands in for the root's parent; it is only compared with,
// never read as a node.
tTreeNode* headerNode(tTreeHeader const& tree) {
  return reinterpret_cast<tTreeNode*>(const_cast<tTreeHeader*>(&tree));
}

bool isRed(tTreeNode const* node) { return node != nullptr && node->colour == kTreeRed; }

tTreeNode* extreme(tTreeNode* node, u32 direction) {
  if (direction != 0) {
    while (node->left != nullptr) node = node->left;
  } else {
    while (node->right != nullptr) node = node->right;
  }
  return node;
}

void replaceChild(tTreeHeader& tree, tTreeNode* parent, tTreeNode* old, tTreeNode* replacement) {
  if (parent == headerNode(tree)) {
    tree.root = replacement;
  } else if (parent->left == old) {
    parent->left = replacement;
  } else {
    parent->right = replacement;
  }
}

void rotateLeft(tTreeHeader& tree, tTreeNode* node) {
  tTreeNode* pivot = node->right;
  node->right = pivot->left;
  if (pivot->left != nullptr) pivot->left->parent = node;
  pivot->parent = node->parent;
  replaceChild(tree, node->parent, node, pivot);
  pivot->left = node;
  node->parent = pivot;
}

void rotateRight(tTreeHeader& tree, tTreeNode* node) {
  tTreeNode* pivot = node->left;
  node->left = pivot->right;
  if (pivot->right != nullptr) pivot->right->parent = node;
  pivot->parent = node->parent;
  replaceChild(tree, node->parent, node, pivot);
  pivot->right = node;
  node->parent = pivot;
}

void rebalanceAfterInsert(tTreeHeader& tree, tTreeNode* node) {
  // A red parent is never the root, so the grandparent is a real node.
  while (node != tree.root && isRed(node->parent)) {
    tTreeNode* parent = node->parent;
    tTreeNode* grandparent = parent->parent;
    bool const parentIsLeft = parent == grandparent->left;
    tTreeNode* uncle = parentIsLeft ? grandparent->right : grandparent->left;
    if (isRed(uncle)) {
      parent->colour = kTreeBlack;
      uncle->colour = kTreeBlack;
      grandparent->colour = kTreeRed;
      node = grandparent;
      continue;
    }
    if (parentIsLeft) {
      if (node == parent->right) {
        rotateLeft(tree, parent);
        parent = node;
      }
      rotateRight(tree, grandparent);
    } else {
      if (node == parent->left) {
        rotateRight(tree, parent);
        parent = node;
      }
      rotateLeft(tree, grandparent);
    }
    parent->colour = kTreeBlack;
    grandparent->colour = kTreeRed;
    break;
  }
  tree.root->colour = kTreeBlack;
}

// child replaced a black node under parent and is one black short; child
// may be null, so its parent is carried separately.
void rebalanceAfterErase(tTreeHeader& tree, tTreeNode* child, tTreeNode* parent) {
  while (child != tree.root && !isRed(child)) {
    // The short side's sibling holds at least one black node, so it exists.
    if (child == parent->left) {
      tTreeNode* sibling = parent->right;
      if (isRed(sibling)) {
        sibling->colour = kTreeBlack;
        parent->colour = kTreeRed;
        rotateLeft(tree, parent);
        sibling = parent->right;
      }
      if (!isRed(sibling->left) && !isRed(sibling->right)) {
        sibling->colour = kTreeRed;
        child = parent;
        parent = child->parent;
        continue;
      }
      if (!isRed(sibling->right)) {
        sibling->left->colour = kTreeBlack;
        sibling->colour = kTreeRed;
        rotateRight(tree, sibling);
        sibling = parent->right;
      }
      sibling->colour = parent->colour;
      parent->colour = kTreeBlack;
      sibling->right->colour = kTreeBlack;
      rotateLeft(tree, parent);
    } else {
      tTreeNode* sibling = parent->left;
      if (isRed(sibling)) {
        sibling->colour = kTreeBlack;
        parent->colour = kTreeRed;
        rotateRight(tree, parent);
        sibling = parent->left;
      }
      if (!isRed(sibling->left) && !isRed(sibling->right)) {
        sibling->colour = kTreeRed;
        child = parent;
        parent = child->parent;
        continue;
      }
      if (!isRed(sibling->left)) {
        sibling->right->colour = kTreeBlack;
        sibling->colour = kTreeRed;
        rotateLeft(tree, sibling);
        sibling = parent->left;
      }
      sibling->colour = parent->colour;
      parent->colour = kTreeBlack;
      sibling->left->colour = kTreeBlack;
      rotateRight(tree, parent);
    }
    child = tree.root;
  }
  if (child != nullptr) child->colour = kTreeBlack;
}

}  // namespace

void treeInsert(tTreeHeader& tree, tTreeNode* node, tTreeComparator compare) {
  node->left = nullptr;
  node->right = nullptr;
  if (tree.root == nullptr) {
    node->parent = headerNode(tree);
    node->colour = kTreeBlack;
    tree.root = node;
    return;
  }
  tTreeNode* at = tree.root;
  for (;;) {
    tTreeNode** link = compare(node, at) >= 0 ? &at->right : &at->left;
    if (*link == nullptr) {
      *link = node;
      break;
    }
    at = *link;
  }
  node->parent = at;
  node->colour = kTreeRed;
  rebalanceAfterInsert(tree, node);
}

void treeErase(tTreeHeader& tree, tTreeNode* node) {
  tTreeNode* child;
  tTreeNode* childParent;
  u32 removedColour = node->colour;
  if (node->left == nullptr || node->right == nullptr) {
    child = node->left != nullptr ? node->left : node->right;
    childParent = node->parent;
    replaceChild(tree, node->parent, node, child);
    if (child != nullptr) child->parent = node->parent;
  } else {
    tTreeNode* successor = extreme(node->right, 1);
    removedColour = successor->colour;
    child = successor->right;
    if (successor->parent == node) {
      childParent = successor;
    } else {
      childParent = successor->parent;
      childParent->left = child;
      if (child != nullptr) child->parent = childParent;
      successor->right = node->right;
      successor->right->parent = successor;
    }
    replaceChild(tree, node->parent, node, successor);
    successor->parent = node->parent;
    successor->left = node->left;
    successor->left->parent = successor;
    successor->colour = node->colour;
  }
  if (removedColour == kTreeBlack) rebalanceAfterErase(tree, child, childParent);
  node->parent = nullptr;
  node->left = nullptr;
  node->right = nullptr;
  node->colour = kTreeRed;
}

tTreeNode* treeStep(tTreeHeader const& tree, tTreeNode* node, u32 direction) {
  if (node == nullptr) return tree.root != nullptr ? extreme(tree.root, direction) : nullptr;
  bool const forward = direction != 0;
  tTreeNode* below = forward ? node->right : node->left;
  if (below != nullptr) return extreme(below, direction);
  tTreeNode* parent = node->parent;
  while (parent != headerNode(tree) && node == (forward ? parent->right : parent->left)) {
    node = parent;
    parent = parent->parent;
  }
  return parent != headerNode(tree) ? parent : nullptr;
}

}  // namespace qvrm7_driver::nQVWEND000
