// A node's transform kept as a matrix and as position plus Euler angles in degrees.
#include <gtest/gtest.h>

#include <cmath>

#include "MeshLoad/hierachyNode.h"

namespace {

using Eigen::AngleAxisd;
using Eigen::Isometry3d;
using Eigen::Vector3d;

constexpr double kDeg = M_PI / 180.0;

Isometry3d euler(const Vector3d& t, double ax, double ay, double az) {
  Isometry3d T = Isometry3d::Identity();
  T.linear() = (AngleAxisd(ax * kDeg, Vector3d::UnitX()) * AngleAxisd(ay * kDeg, Vector3d::UnitY()) *
                AngleAxisd(az * kDeg, Vector3d::UnitZ()))
                   .toRotationMatrix();
  T.translation() = t;
  return T;
}

TEST(hierachyNode, EulerAnglesInDegreesRoundTrip) {
  // {matrix angles, stored angles}: -30 about x keeps the first angle in [0, 180]; a scaled matrix gives its pure
  // rotation (read straight from R * S the angles would be about (17.2, 21.1, 26.6)).
  struct Case {
    Vector3d angles, stored;
    Vector3d scale;
  };
  for (const Case& c : {Case{{10, 20, 30}, {10, 20, 30}, {1, 1, 1}}, Case{{-30, 0, 0}, {150, 180, 180}, {1, 1, 1}},
                        Case{{17.2, 11.5, 45}, {17.2, 11.5, 45}, {1, 2, 3}}}) {
    const Isometry3d T = euler(Vector3d(1, -2, 0.5), c.angles.x(), c.angles.y(), c.angles.z());
    Isometry3d M = T;
    M.linear() = M.linear() * c.scale.asDiagonal();
    const hierachyNode node("n", M);
    EXPECT_TRUE(node.position.isApprox(Vector3d(1, -2, 0.5)));
    for (int a = 0; a < 3; ++a) EXPECT_NEAR(std::abs(node.rotation[a]), c.stored[a], 1e-5) << c.angles.transpose();
    EXPECT_NEAR(node.rotation.x(), c.stored.x(), 1e-5);
    // Degrees use 3.1415926, not pi: a relative difference of 2e-8.
    EXPECT_TRUE(node.localTransform().matrix().isApprox(T.matrix(), 1e-7));
    EXPECT_TRUE(node.localTrans.matrix().isApprox(M.matrix(), 0));
  }
  EXPECT_NEAR(hierachyNode("n", Isometry3d::Identity()).rotation.norm(), 0.0, 1e-12);
}

// Degrees convert with 3.1415926 both ways, not with pi: a quarter turn is stored as 90.0000024 degrees,
// and 90 degrees rebuild a rotation by 1.5707963 radians.
TEST(hierachyNode, DegreesConvertWithThePiOfTheModelFormat) {
  const hierachyNode quarter("q", euler(Vector3d::Zero(), 90, 0, 0));
  EXPECT_NEAR(quarter.rotation.x(), 90 * M_PI / 3.1415926, 1e-10);
  hierachyNode n("n", Isometry3d::Identity());
  n.rotation = Vector3d(90, 0, 0);
  EXPECT_NEAR(n.localTransform().linear()(1, 1), std::cos(3.1415926 / 2), 1e-15);
}

TEST(hierachyNode, WorldTransformAndEditedAnglesAreLeftAlone) {
  hierachyNode node("n", Isometry3d::Identity());
  EXPECT_TRUE(node.worldTrans.isApprox(Isometry3d::Identity()));
  node.worldTrans = euler(Vector3d(3, 3, 3), 0, 0, 0);
  node.setLocalTransform(euler(Vector3d(0, 0, 2), 0, 90, 0));
  EXPECT_NEAR(node.rotation.y(), 90, 1e-5);
  EXPECT_TRUE(node.getWorldTrans().isApprox(euler(Vector3d(3, 3, 3), 0, 0, 0).matrix()));

  node.rotation = Vector3d(0, 0, 90);
  EXPECT_TRUE(node.localTransform().matrix().isApprox(euler(Vector3d(0, 0, 2), 0, 0, 90).matrix(), 1e-7));
  EXPECT_TRUE(node.localTrans.matrix().isApprox(euler(Vector3d(0, 0, 2), 0, 90, 0).matrix()));  // stale until set
}

}  // namespace
