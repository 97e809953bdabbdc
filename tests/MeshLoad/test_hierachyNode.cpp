// A node's transform kept as a matrix and as position plus Euler angles in degrees.
#include <gtest/gtest.h>

#include <cmath>

#include "MeshLoad/hierachyNode.h"
#include "MeshLoad/meshTestUtil.h"

namespace {

using Eigen::Isometry3d;
using Eigen::Vector3d;

Isometry3d euler(const Vector3d& t, double ax, double ay, double az) {
  return rigid(t, Vector3d::UnitX(), ax) * rigid(Vector3d::Zero(), Vector3d::UnitY(), ay) *
         rigid(Vector3d::Zero(), Vector3d::UnitZ(), az);
}

TEST(hierachyNode, EulerAnglesInDegreesRoundTrip) {
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
    EXPECT_TRUE(node.localTrans.matrix().isApprox(M.matrix(), 0));
    EXPECT_TRUE(node.worldTrans.isApprox(Isometry3d::Identity()));
  }
}

// Degrees convert with 3.1415926 both ways, not with pi: a quarter turn is stored as 90.0000024 degrees,
// and 90 degrees rebuild a rotation by 1.5707963 radians.
TEST(hierachyNode, DegreesConvertWithThePiOfTheModelFormat) {
  EXPECT_NEAR(hierachyNode("q", euler(Vector3d::Zero(), 90, 0, 0)).rotation.x(), 90 * M_PI / 3.1415926, 1e-10);
  hierachyNode n("n", Isometry3d::Identity());
  n.rotation = Vector3d(90, 0, 0);
  EXPECT_NEAR(n.localTransform().linear()(1, 1), std::cos(3.1415926 / 2), 1e-15);
}

TEST(hierachyNode, SetLocalTransformLeavesTheWorldAndEditedAnglesLeaveTheStoredMatrix) {
  hierachyNode node("n", Isometry3d::Identity());
  node.worldTrans = euler(Vector3d(3, 3, 3), 0, 0, 0);
  node.setLocalTransform(euler(Vector3d(0, 0, 2), 0, 90, 0));
  EXPECT_NEAR(node.rotation.y(), 90, 1e-5);
  EXPECT_TRUE(node.getWorldTrans().isApprox(euler(Vector3d(3, 3, 3), 0, 0, 0).matrix()));
  node.rotation = Vector3d(0, 0, 90);
  EXPECT_TRUE(node.localTransform().matrix().isApprox(euler(Vector3d(0, 0, 2), 0, 0, 90).matrix(), 1e-7));
  EXPECT_TRUE(node.localTrans.matrix().isApprox(euler(Vector3d(0, 0, 2), 0, 90, 0).matrix()));  // stale until set
}

}  // namespace
