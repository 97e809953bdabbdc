#include "nodeMgr.h"

#include <cstdio>
#include <utility>

int nodeMgr::addNode(const std::string& name, const Eigen::Isometry3d& transform) {
  nodes.push_back(std::make_shared<hierachyNode>(name, transform));
  const int index = static_cast<int>(nodes.size()) - 1;
  nameToIndex[name] = index;
  return index;
}

void nodeMgr::insertIntermediateNodes(int i) {
  const int n = childEnd[i] - childBegin[i];
  if (n < 1) return;
  for (int j = 0; j < n; ++j) {
    const int c = childBegin[i] + j;
    const int k = addNode(intermediateName(nodes[i]->name, j), Eigen::Isometry3d::Identity());
    childBegin.push_back(c);
    childEnd.push_back(c + 1);
    parentIdx.push_back(i);
    parentIdx[c] = k;
  }
  const int count = static_cast<int>(nodes.size());
  childEnd[i] = count;
  childBegin[i] = count - n;
}

// The walks below keep their own stack: a model's chain of nodes may be deeper than the call stack.
void nodeMgr::updateGlobalTransforms() {
  rootInverse = nodes[0]->localTrans.inverse(Eigen::Isometry);
  std::vector<std::pair<int, Eigen::Isometry3d>> stack{{0, Eigen::Isometry3d::Identity()}};
  while (!stack.empty()) {
    const auto [i, parent] = stack.back();
    stack.pop_back();
    const Eigen::Isometry3d G = parent * nodes[i]->localTransform();
    nodes[i]->worldTrans = rootInverse * G;
    if (childBegin[i] < 0) continue;
    for (int c = childBegin[i]; c < childEnd[i]; ++c) stack.emplace_back(c, G);
  }
}

std::string nodeMgr::getParentName(int i) const {
  const int p = parentIdx[i];
  return p == -1 ? std::string() : nodes[p]->name;
}

void nodeMgr::printSubtree(int i, int depth) const {
  std::vector<std::pair<int, int>> stack{{i, depth}};  // node, depth; children in index order
  while (!stack.empty()) {
    const auto [k, d] = stack.back();
    stack.pop_back();
    if (d >= 0)
      for (int level = 0; level <= d; ++level) std::printf("--");
    const hierachyNode& node = *nodes[k];
    std::printf("%s %.3f %.3f %.3f %.3f %.3f %.3f \n", node.name.c_str(), node.position.x(), node.position.y(),
                node.position.z(), node.rotation.x(), node.rotation.y(), node.rotation.z());
    if (childBegin[k] < 0) continue;
    for (int c = childEnd[k] - 1; c >= childBegin[k]; --c) stack.emplace_back(c, d + 1);
  }
}
