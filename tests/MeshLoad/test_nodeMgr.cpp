// The flat node hierarchy: world transforms, intermediate nodes, printing.
#include <gtest/gtest.h>

#include <cmath>

#include "MeshLoad/nodeMgr.h"

namespace {

using Eigen::AngleAxisd;
using Eigen::Isometry3d;
using Eigen::Vector3d;

Isometry3d rigid(const Vector3d& t, const Vector3d& axis, double degrees) {
  Isometry3d T = Isometry3d::Identity();
  T.linear() = AngleAxisd(degrees * M_PI / 180.0, axis.normalized()).toRotationMatrix();
  T.translation() = t;
  return T;
}

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
  EXPECT_TRUE(m.nodes[0]->worldTrans.matrix().isApprox(Eigen::Matrix4d::Identity(), 1e-6));
  EXPECT_TRUE(m.nodes[1]->worldTrans.matrix().isApprox(a.matrix(), 1e-6));
  EXPECT_TRUE(m.nodes[2]->worldTrans.matrix().isApprox(b.matrix(), 1e-6));
  EXPECT_TRUE(m.nodes[3]->worldTrans.matrix().isApprox((a * d).matrix(), 1e-6));
  // D sits 0.5 along A's rotated x axis, which is world y.
  EXPECT_NEAR(m.nodes[3]->worldTrans.translation().y(), 0.5, 1e-6);
}

TEST(nodeMgr, EditedAnglesMoveTheSubtreeAtTheNextUpdate) {
  nodeMgr m = rootABD(Isometry3d::Identity(), rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), 0),
                      rigid(Vector3d(0, 1, 0), Vector3d::UnitZ(), 0), rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), 0));
  m.updateGlobalTransforms();
  m.nodes[1]->rotation = Vector3d(0, 0, 90);
  EXPECT_TRUE(m.nodes[3]->worldTrans.translation().isApprox(Vector3d(2, 0, 0)));  // not yet
  m.updateGlobalTransforms();
  EXPECT_TRUE(m.nodes[3]->worldTrans.translation().isApprox(Vector3d(1, 1, 0), 1e-6));
  EXPECT_TRUE(m.nodes[2]->worldTrans.translation().isApprox(Vector3d(0, 1, 0)));

  // The root inverse comes from node 0's stored transform, not from its edited angles.
  m.nodes[0]->rotation = Vector3d(0, 0, 90);
  m.updateGlobalTransforms();
  EXPECT_FALSE(m.nodes[0]->worldTrans.matrix().isApprox(Eigen::Matrix4d::Identity(), 1e-3));
  EXPECT_TRUE(m.nodes[0]->worldTrans.matrix().isApprox(rigid(Vector3d::Zero(), Vector3d::UnitZ(), 90).matrix(), 1e-6));
}

TEST(nodeMgr, AddNodeMapsTheNameToTheNewestNode) {
  nodeMgr m;
  EXPECT_EQ(m.addNode("x", Isometry3d::Identity()), 0);
  EXPECT_EQ(m.addNode("y", Isometry3d::Identity()), 1);
  EXPECT_EQ(m.addNode("x", Isometry3d::Identity()), 2);
  EXPECT_EQ(m.nameToIndex.at("x"), 2);
  EXPECT_EQ(m.nodes.size(), 3u);
  EXPECT_TRUE(m.parentIdx.empty());  // the caller appends the index entries
}

TEST(nodeMgr, ChildCountsAndParents) {
  nodeMgr m = rootABD(Isometry3d::Identity(), Isometry3d::Identity(), Isometry3d::Identity(), Isometry3d::Identity());
  EXPECT_EQ(m.getChildCount(0), 2);
  EXPECT_EQ(m.getChildCount(1), 1);
  EXPECT_EQ(m.getChildCount(2), 0);
  EXPECT_EQ(m.getParentName(0), "");
  EXPECT_EQ(m.getParentName(3), "A");
  EXPECT_EQ(m.getParentIdx(3), 1);
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
  EXPECT_EQ(m.nodes[5]->name, "root_intermediate_0");
  EXPECT_EQ(m.nodes[6]->name, "root_intermediate_1");
  EXPECT_EQ(m.nodes[7]->name, "root_intermediate_2");
  EXPECT_EQ(m.nameToIndex.at("root_intermediate_1"), 6);
  EXPECT_EQ(m.childBegin[0], 5);
  EXPECT_EQ(m.childEnd[0], 8);
  EXPECT_EQ(m.getChildCount(0), 3);
  EXPECT_EQ(m.parentIdx, (std::vector<int>{-1, 5, 6, 7, 2, 0, 0, 0}));
  EXPECT_EQ(m.childBegin, (std::vector<int>{5, -1, 4, -1, -1, 1, 2, 3}));
  EXPECT_EQ(m.childEnd, (std::vector<int>{8, -1, 5, -1, -1, 2, 3, 4}));
  EXPECT_TRUE(m.nodes[6]->localTrans.matrix().isIdentity());
  EXPECT_EQ(m.getParentName(2), "root_intermediate_1");

  m.updateGlobalTransforms();
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(before[i].matrix(), 1e-9)) << i;
  EXPECT_TRUE(m.nodes[5]->worldTrans.matrix().isApprox(Eigen::Matrix4d::Identity(), 1e-9));
}

TEST(nodeMgr, PrintTreeIndentsByDepth) {
  nodeMgr m = rootABD(Isometry3d::Identity(), rigid(Vector3d(1, 2, 3), Vector3d::UnitZ(), 90), Isometry3d::Identity(),
                      rigid(Vector3d(0.25, 0, 0), Vector3d::UnitX(), 10));
  testing::internal::CaptureStdout();
  m.printTree();
  std::string out = testing::internal::GetCapturedStdout();
  // The sign of a zero angle depends on rounding in the decomposition; it is not part of the format.
  for (std::size_t at; (at = out.find("-0.000")) != std::string::npos;) out.erase(at, 1);
  EXPECT_EQ(out,
            "--root 0.000 0.000 0.000 0.000 0.000 0.000 \n"
            "----A 1.000 2.000 3.000 0.000 0.000 90.000 \n"
            "------D 0.250 0.000 0.000 10.000 0.000 0.000 \n"
            "----B 0.000 0.000 0.000 0.000 0.000 0.000 \n");
}

}  // namespace
