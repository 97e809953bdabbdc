// The node hierarchy of one model in flat form: nodes in breadth-first order, so that the children of
// every node form one contiguous index range.
#pragma once

#include <Eigen/Geometry>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hierachyNode.h"

class nodeMgr {
 public:
  // Appends a node and maps its name to it (a later node of the same name takes over the name). The
  // caller appends the node's parent and child-range entries.
  int addNode(const std::string& name, const Eigen::Isometry3d& transform);
  // Hangs every child of node i below an identity node of its own, named intermediateName(node i's name,
  // j) for its j-th child; the new nodes become node i's children. World transforms do not change.
  void insertIntermediateNodes(int i);
  static std::string intermediateName(const std::string& name, int j) {
    return name + "_intermediate_" + std::to_string(j);
  }
  // Recomputes every node's `worldTrans` from `position` and `rotation`, in node 0's frame.
  void updateGlobalTransforms();

  int getChildCount(int i) const { return childEnd[i] - childBegin[i]; }
  std::string getParentName(int i) const;
  int getParentIdx(int i) const { return parentIdx[i]; }

  void printTree() const { printSubtree(0, 0); }
  void printSubtree(int i, int depth) const;

  // Rigid inverse of node 0's stored `localTrans`, as of the last world-transform update.
  Eigen::Isometry3d rootInverse = Eigen::Isometry3d::Identity();
  std::map<std::string, int> nameToIndex;
  std::vector<std::shared_ptr<hierachyNode>> nodes;
  std::vector<int> parentIdx;   // -1 for node 0
  std::vector<int> childBegin;  // first child, -1 for a leaf
  std::vector<int> childEnd;    // one past the last child, -1 for a leaf
};
