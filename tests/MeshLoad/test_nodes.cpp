// Model nodes: a transform kept as a matrix and as position plus Euler angles in degrees, and the flat
// hierarchy with world transforms in node 0's frame, intermediate nodes and printing.
#include <gtest/gtest.h>

#include "MeshLoad/meshTestUtil.h"

namespace {

using Eigen::Isometry3d;
using Eigen::Vector3d;

Isometry3d euler(const Vector3d& t, double ax, double ay, double az) {
  return rigid(t, Vector3d::UnitX(), ax) * rigid(Vector3d::Zero(), Vector3d::UnitY(), ay) *
         rigid(Vector3d::Zero(), Vector3d::UnitZ(), az);
}

TEST(hierachyNode, EulerAnglesInDegrees) {
  // -30 about x keeps the first angle in [0, 180]; a scaled matrix gives its pure rotation (read straight
  // from R * S the angles would be about (17.2, 21.1, 26.6)).
  const struct {
    Vector3d angles, stored, scale;
  } cases[] = {{{10, 20, 30}, {10, 20, 30}, {1, 1, 1}},
               {{-30, 0, 0}, {150, 180, 180}, {1, 1, 1}},
               {{17.2, 11.5, 45}, {17.2, 11.5, 45}, {1, 2, 3}}};
  for (const auto& c : cases) {
    const Isometry3d T = euler(Vector3d(1, -2, 0.5), c.angles.x(), c.angles.y(), c.angles.z());
    Isometry3d M = T;
    M.linear() = M.linear() * c.scale.asDiagonal();
    const hierachyNode node("n", M);
    EXPECT_TRUE(node.position.isApprox(Vector3d(1, -2, 0.5)));
    EXPECT_NEAR(node.rotation.x(), c.stored.x(), 1e-5);
    for (int a = 1; a < 3; ++a) EXPECT_NEAR(std::abs(node.rotation[a]), c.stored[a], 1e-5) << c.angles.transpose();
    EXPECT_TRUE(node.localTransform().matrix().isApprox(T.matrix(), 1e-7));
  }
  // Degrees convert with 3.1415926 both ways, not with pi: a quarter turn is stored as 90.0000024 degrees,
  // and 90 degrees rebuild a rotation by 1.5707963 radians.
  EXPECT_NEAR(hierachyNode("q", euler(Vector3d::Zero(), 90, 0, 0)).rotation.x(), 90 * M_PI / 3.1415926, 1e-10);
  hierachyNode n("n", Isometry3d::Identity());
  n.rotation = Vector3d(90, 0, 0);
  EXPECT_NEAR(n.localTransform().linear()(1, 1), std::cos(3.1415926 / 2), 1e-15);
  // setLocalTransform leaves the world transform; edited angles leave the stored matrix.
  n.worldTrans = euler(Vector3d(3, 3, 3), 0, 0, 0);
  n.setLocalTransform(euler(Vector3d(0, 0, 2), 0, 90, 0));
  EXPECT_NEAR(n.rotation.y(), 90, 1e-5);
  EXPECT_TRUE(n.getWorldTrans().isApprox(euler(Vector3d(3, 3, 3), 0, 0, 0).matrix()));
  n.rotation = Vector3d(0, 0, 90);
  EXPECT_TRUE(n.localTransform().matrix().isApprox(euler(Vector3d(0, 0, 2), 0, 0, 90).matrix(), 1e-7));
  EXPECT_TRUE(n.localTrans.matrix().isApprox(euler(Vector3d(0, 0, 2), 0, 90, 0).matrix()));
}

TEST(nodeMgr, WorldTransformsInTheRootFrameEditedAnglesAndIntermediateNodes) {
  // root (children A, B), A (child D).
  const Isometry3d root = rigid(Vector3d(1, 2, 3), Vector3d(1, 1, 0), 40);
  const Isometry3d a = rigid(Vector3d(1, 0, 0), Vector3d::UnitZ(), 90),
                   b = rigid(Vector3d(0, -1, 0), Vector3d::UnitX(), 20);
  const Isometry3d d = rigid(Vector3d(0.25, 0, 0), Vector3d::UnitX(), 10);
  const auto tree = nodeTree({{"root", root}, {"A", a}, {"B", b}, {"D", d}}, {-1, 0, 0, 1});
  nodeMgr& m = *tree;
  EXPECT_TRUE(m.rootInverse.matrix().isApprox(root.inverse().matrix(), 1e-12));
  const Isometry3d expected[] = {Isometry3d::Identity(), a, b, a * d};
  for (int i = 0; i < 4; ++i) EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(expected[i].matrix(), 1e-6)) << i;
  EXPECT_EQ(std::vector<int>({m.getChildCount(0), m.getChildCount(1), m.getChildCount(2)}),
            std::vector<int>({2, 1, 0}));
  EXPECT_EQ(m.getParentName(0), "");
  EXPECT_EQ(m.getParentName(3), "A");
  EXPECT_EQ(std::vector<int>({m.getParentIdx(0), m.getParentIdx(1), m.getParentIdx(2), m.getParentIdx(3)}),
            std::vector<int>({-1, 0, 0, 1}));
  // Depth first, children in index order. The sign of a zero angle depends on rounding in the
  // decomposition; it is not part of the format.
  std::string out = captureStdout([&] { m.printTree(); });
  for (std::size_t at; (at = out.find("-0.000")) != std::string::npos;) out.erase(at, 1);
  EXPECT_EQ(out.substr(0, 25), "--root 1.000 2.000 3.000 ");
  EXPECT_EQ(out.substr(out.find('\n') + 1),
            "----A 1.000 0.000 0.000 0.000 0.000 90.000 \n"
            "------D 0.250 0.000 0.000 10.000 0.000 0.000 \n"
            "----B 0.000 -1.000 0.000 20.000 0.000 0.000 \n");

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

  // Intermediate nodes go between a node and each of its children, keeping the world transforms; a later
  // node takes over a name.
  std::vector<Isometry3d> before;
  for (const auto& n : m.nodes) before.push_back(n->worldTrans);
  m.insertIntermediateNodes(3);  // a leaf: nothing happens
  m.insertIntermediateNodes(0);
  ASSERT_EQ(m.nodes.size(), 6u);
  EXPECT_EQ(m.nodes[5]->name, "root_intermediate_1");
  EXPECT_EQ(m.nameToIndex.at("root_intermediate_0"), 4);
  EXPECT_EQ(m.parentIdx, (std::vector<int>{-1, 4, 5, 1, 0, 0}));
  EXPECT_EQ(m.getParentIdx(m.getParentIdx(2)), 0);  // B below its own identity node, below the root
  EXPECT_EQ(m.childBegin, (std::vector<int>{4, 3, -1, -1, 1, 2}));
  EXPECT_EQ(m.childEnd, (std::vector<int>{6, 4, -1, -1, 2, 3}));
  m.updateGlobalTransforms();
  for (std::size_t i = 0; i < before.size(); ++i)
    EXPECT_TRUE(m.nodes[i]->worldTrans.matrix().isApprox(before[i].matrix(), 1e-9)) << i;
  EXPECT_EQ(m.addNode("B", Isometry3d::Identity()), 6);
  EXPECT_EQ(m.nameToIndex.at("B"), 6);
}

}  // namespace
