// The flat node hierarchy: world transforms in node 0's frame, intermediate nodes, printing.
#include <gtest/gtest.h>

#include "MeshLoad/meshTestUtil.h"
#include "MeshLoad/nodeMgr.h"

namespace {

using Eigen::Isometry3d;
using Eigen::Vector3d;

// Nodes in breadth-first order with their parents, as the loader builds them.
nodeMgr tree(const std::vector<std::pair<std::string, Isometry3d>>& nodes, const std::vector<int>& parents) {
  nodeMgr m;
  for (std::size_t i = 0; i < nodes.size(); ++i) {
    m.addNode(nodes[i].first, nodes[i].second);
    m.parentIdx.push_back(parents[i]);
    m.childBegin.push_back(-1);
    m.childEnd.push_back(-1);
  }
  for (std::size_t i = 1; i < nodes.size(); ++i) {
    const int p = parents[i];
    if (m.childBegin[p] < 0) m.childBegin[p] = static_cast<int>(i);
    m.childEnd[p] = static_cast<int>(i) + 1;
  }
  return m;
}

TEST(nodeMgr, WorldTransformsAreInTheRootFrameAndFollowEditedAngles) {
  // root (children A, B), A (child D).
  const Isometry3d root = rigid(Vector3d(1, 2, 3), Vector3d(1, 1, 0), 40);
  const Isometry3d a = rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), 90),
                   b = rigid(Vector3d(0, -1, 0), Vector3d::UnitX(), 20);
  const Isometry3d d = rigid(Vector3d(0.5, 0, 0), Vector3d::UnitY(), -30);
  nodeMgr m = tree({{"root", root}, {"A", a}, {"B", b}, {"D", d}}, {-1, 0, 0, 1});
  m.updateGlobalTransforms();
  EXPECT_TRUE(m.rootInverse.matrix().isApprox(root.inverse().matrix(), 1e-12));
  const Isometry3d expected[] = {Isometry3d::Identity(), a, b, a * d};
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(expected[i].matrix(), 1e-6)) << i;
  EXPECT_EQ(std::vector<int>({m.getChildCount(0), m.getChildCount(1), m.getChildCount(2)}),
            std::vector<int>({2, 1, 0}));
  EXPECT_EQ(m.getParentName(0), "");
  EXPECT_EQ(m.getParentName(3), "A");

  // An edited angle moves the subtree at the next update; the root inverse comes from node 0's stored
  // transform, not from its edited angles.
  m.nodes[1]->rotation += Vector3d(0, 0, 90);
  EXPECT_TRUE(m.nodes[3]->worldTrans.isApprox(a * d));  // not yet
  m.updateGlobalTransforms();
  EXPECT_TRUE(
      m.nodes[3]->worldTrans.matrix().isApprox((a * rigid({0, 0, 0}, Vector3d::UnitZ(), 90) * d).matrix(), 1e-6));
  m.nodes[0]->rotation = Vector3d(0, 0, 90);
  m.updateGlobalTransforms();
  EXPECT_TRUE(m.nodes[0]->worldTrans.matrix().isApprox(
      (root.inverse() * rigid(Vector3d(1, 2, 3), Vector3d::UnitZ(), 90)).matrix(), 1e-6));
}

TEST(nodeMgr, IntermediateNodesKeepOrderRangesAndWorldTransforms) {
  // root with children c0, c1, c2; c1 has a child g. A later node takes over a name.
  nodeMgr m = tree({{"root", rigid(Vector3d(0, 0, 1), Vector3d::UnitZ(), 30)},
                    {"c0", rigid(Vector3d(1, 0, 0), Vector3d::UnitX(), 10)},
                    {"c1", rigid(Vector3d(0, 1, 0), Vector3d::UnitY(), 20)},
                    {"c2", rigid(Vector3d(0, 0, 1), Vector3d::UnitZ(), 30)},
                    {"g", rigid(Vector3d(1, 1, 0), Vector3d::UnitZ(), 45)}},
                   {-1, 0, 0, 0, 2});
  m.updateGlobalTransforms();
  std::vector<Isometry3d> before;
  for (const auto& n : m.nodes) before.push_back(n->worldTrans);
  m.insertIntermediateNodes(3);  // a leaf: nothing happens
  EXPECT_EQ(m.nodes.size(), 5u);
  m.insertIntermediateNodes(0);
  ASSERT_EQ(m.nodes.size(), 8u);
  for (int k = 0; k < 3; ++k) EXPECT_EQ(m.nodes[5 + k]->name, "root_intermediate_" + std::to_string(k));
  EXPECT_EQ(m.nameToIndex.at("root_intermediate_1"), 6);
  EXPECT_EQ(m.parentIdx, (std::vector<int>{-1, 5, 6, 7, 2, 0, 0, 0}));
  EXPECT_EQ(m.childBegin, (std::vector<int>{5, -1, 4, -1, -1, 1, 2, 3}));
  EXPECT_EQ(m.childEnd, (std::vector<int>{8, -1, 5, -1, -1, 2, 3, 4}));
  m.updateGlobalTransforms();
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(before[i].matrix(), 1e-9)) << i;
  EXPECT_EQ(m.addNode("c1", Isometry3d::Identity()), 8);
  EXPECT_EQ(m.nameToIndex.at("c1"), 8);
}

TEST(nodeMgr, PrintTreeIndentsByDepth) {
  nodeMgr m = tree({{"root", Isometry3d::Identity()},
                    {"A", rigid(Vector3d(1, 2, 3), Vector3d::UnitZ(), 90)},
                    {"B", Isometry3d::Identity()},
                    {"D", rigid(Vector3d(0.25, 0, 0), Vector3d::UnitX(), 10)}},
                   {-1, 0, 0, 1});
  std::string out = testsupport::captureStdout([&] { m.printTree(); });
  // The sign of a zero angle depends on rounding in the decomposition; it is not part of the format.
  for (std::size_t at; (at = out.find("-0.000")) != std::string::npos;) out.erase(at, 1);
  EXPECT_EQ(out,
            "--root 0.000 0.000 0.000 0.000 0.000 0.000 \n"
            "----A 1.000 2.000 3.000 0.000 0.000 90.000 \n"
            "------D 0.250 0.000 0.000 10.000 0.000 0.000 \n"
            "----B 0.000 0.000 0.000 0.000 0.000 0.000 \n");
}

}  // namespace
