// The flat node hierarchy: world transforms, intermediate nodes, printing.
#include <gtest/gtest.h>

#include "MeshLoad/meshTestUtil.h"
#include "MeshLoad/nodeMgr.h"

namespace {

using Eigen::Isometry3d;
using Eigen::Vector3d;

// root (children A, B), A (child D), in breadth-first order as the loader builds it.
nodeMgr rootABD(const Isometry3d& root, const Isometry3d& a, const Isometry3d& b, const Isometry3d& d) {
  nodeMgr m;
  m.addNode("root", root);
  m.addNode("A", a);
  m.addNode("B", b);
  m.addNode("D", d);
  m.parentIdx = {-1, 0, 0, 1};
  m.childBegin = {1, 3, -1, -1};
  m.childEnd = {3, 4, -1, -1};
  return m;
}

TEST(nodeMgr, WorldTransformsAreInTheRootFrameWhateverTheRootPlacement) {
  const Isometry3d root = rigid(Vector3d(1, 2, 3), Vector3d(1, 1, 0), 40);
  const Isometry3d a = rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), 90);
  const Isometry3d b = rigid(Vector3d(0, -1, 0), Vector3d::UnitX(), 20);
  const Isometry3d d = rigid(Vector3d(0.5, 0, 0), Vector3d::UnitY(), -30);
  nodeMgr m = rootABD(root, a, b, d);
  m.updateGlobalTransforms();
  EXPECT_TRUE(m.rootInverse.matrix().isApprox(root.inverse().matrix(), 1e-12));
  const Isometry3d expected[] = {Isometry3d::Identity(), a, b, a * d};
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(expected[i].matrix(), 1e-6)) << i;

  EXPECT_EQ(m.getChildCount(0), 2);
  EXPECT_EQ(m.getChildCount(1), 1);
  EXPECT_EQ(m.getChildCount(2), 0);
  EXPECT_EQ(m.getParentName(0), "");
  EXPECT_EQ(m.getParentName(3), "A");
  EXPECT_EQ(m.getParentIdx(3), 1);
}

TEST(nodeMgr, EditedAnglesMoveTheSubtreeAtTheNextUpdate) {
  const Isometry3d x1(Eigen::Translation3d(1, 0, 0));
  nodeMgr m = rootABD(Isometry3d::Identity(), x1, Isometry3d(Eigen::Translation3d(0, 1, 0)), x1);
  m.updateGlobalTransforms();
  m.nodes[1]->rotation = Vector3d(0, 0, 90);
  EXPECT_TRUE(m.nodes[3]->worldTrans.translation().isApprox(Vector3d(2, 0, 0)));  // not yet
  m.updateGlobalTransforms();
  EXPECT_TRUE(m.nodes[3]->worldTrans.translation().isApprox(Vector3d(1, 1, 0), 1e-6));
  EXPECT_TRUE(m.nodes[2]->worldTrans.translation().isApprox(Vector3d(0, 1, 0)));

  // The root inverse comes from node 0's stored transform, not from its edited angles.
  m.nodes[0]->rotation = Vector3d(0, 0, 90);
  m.updateGlobalTransforms();
  EXPECT_TRUE(m.nodes[0]->worldTrans.matrix().isApprox(rigid(Vector3d::Zero(), Vector3d::UnitZ(), 90).matrix(), 1e-6));
}

TEST(nodeMgr, AddNodeMapsTheNameToTheNewestNode) {
  nodeMgr m;
  EXPECT_EQ(m.addNode("x", Isometry3d::Identity()), 0);
  EXPECT_EQ(m.addNode("y", Isometry3d::Identity()), 1);
  EXPECT_EQ(m.addNode("x", Isometry3d::Identity()), 2);
  EXPECT_EQ(m.nameToIndex.at("x"), 2);
  EXPECT_TRUE(m.parentIdx.empty());  // the caller appends the index entries
}

TEST(nodeMgr, IntermediateNodesKeepOrderRangesAndWorldTransforms) {
  // root with three children c0, c1, c2; c1 has a child g.
  nodeMgr m;
  m.addNode("root", rigid(Vector3d(0, 0, 1), Vector3d::UnitZ(), 30));
  m.addNode("c0", rigid(Vector3d(1, 0, 0), Vector3d::UnitX(), 10));
  m.addNode("c1", rigid(Vector3d(0, 1, 0), Vector3d::UnitY(), 20));
  m.addNode("c2", rigid(Vector3d(0, 0, 1), Vector3d::UnitZ(), 30));
  m.addNode("g", rigid(Vector3d(1, 1, 0), Vector3d::UnitZ(), 45));
  m.parentIdx = {-1, 0, 0, 0, 2};
  m.childBegin = {1, -1, 4, -1, -1};
  m.childEnd = {4, -1, 5, -1, -1};
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
  EXPECT_TRUE(m.nodes[6]->localTrans.matrix().isIdentity());
  EXPECT_EQ(m.getParentName(2), "root_intermediate_1");

  m.updateGlobalTransforms();
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(before[i].matrix(), 1e-9)) << i;
}

TEST(nodeMgr, PrintTreeIndentsByDepth) {
  nodeMgr m = rootABD(Isometry3d::Identity(), rigid(Vector3d(1, 2, 3), Vector3d::UnitZ(), 90), Isometry3d::Identity(),
                      rigid(Vector3d(0.25, 0, 0), Vector3d::UnitX(), 10));
  std::string out = captureStdout([&] { m.printTree(); });
  // The sign of a zero angle depends on rounding in the decomposition; it is not part of the format.
  for (std::size_t at; (at = out.find("-0.000")) != std::string::npos;) out.erase(at, 1);
  EXPECT_EQ(out,
            "--root 0.000 0.000 0.000 0.000 0.000 0.000 \n"
            "----A 1.000 2.000 3.000 0.000 0.000 90.000 \n"
            "------D 0.250 0.000 0.000 10.000 0.000 0.000 \n"
            "----B 0.000 0.000 0.000 0.000 0.000 0.000 \n");
}

}  // namespace
