// A node's transform kept as a matrix and as position plus Euler angles in degrees.
#include <gtest/gtest.h>

#include <cmath>

#include "MeshLoad/hierachyNode.h"

namespace {

using Eigen::AngleAxisd;
using Eigen::Isometry3d;
using Eigen::Vector3d;

constexpr double kDeg = M_PI / 180.0;

Isometry3d rigid(const Vector3d& t, double ax, double ay, double az) {
  Isometry3d T = Isometry3d::Identity();
  T.linear() = (AngleAxisd(ax * kDeg, Vector3d::UnitX()) * AngleAxisd(ay * kDeg, Vector3d::UnitY()) *
                AngleAxisd(az * kDeg, Vector3d::UnitZ()))
                   .toRotationMatrix();
  T.translation() = t;
  return T;
}

TEST(hierachyNode, IdentityGivesZeroPositionAndAngles) {
  const hierachyNode node("n", Isometry3d::Identity());
  EXPECT_EQ(node.name, "n");
  EXPECT_TRUE(node.position.isZero());
  EXPECT_NEAR(node.rotation.norm(), 0.0, 1e-12);
  EXPECT_TRUE(node.worldTrans.isApprox(Isometry3d::Identity()));
}

TEST(hierachyNode, EulerAnglesInDegreesRoundTrip) {
  const Isometry3d T = rigid(Vector3d(1, -2, 0.5), 10, 20, 30);
  const hierachyNode node("n", T);
  EXPECT_TRUE(node.position.isApprox(Vector3d(1, -2, 0.5)));
  // Degrees use 3.1415926, not pi: a relative difference of 2e-8.
  EXPECT_NEAR(node.rotation.x(), 10, 1e-6);
  EXPECT_NEAR(node.rotation.y(), 20, 1e-6);
  EXPECT_NEAR(node.rotation.z(), 30, 1e-6);
  EXPECT_TRUE(node.localTransform().matrix().isApprox(T.matrix(), 1e-7));
  EXPECT_TRUE(node.localTrans.matrix().isApprox(T.matrix(), 0));
}

TEST(hierachyNode, MinusThirtyDegreesAboutXIsStoredWithTheFirstAngleInZeroToHalfTurn) {
  const Isometry3d T = rigid(Vector3d::Zero(), -30, 0, 0);
  const hierachyNode node("n", T);
  EXPECT_NEAR(node.rotation.x(), 150, 1e-5);
  EXPECT_NEAR(std::abs(node.rotation.y()), 180, 1e-5);
  EXPECT_NEAR(std::abs(node.rotation.z()), 180, 1e-5);
  EXPECT_TRUE(node.localTransform().matrix().isApprox(T.matrix(), 1e-7));
}

TEST(hierachyNode, ScaledMatrixGivesItsPureRotation) {
  // A different scale per axis: read straight from R * S, the angles would be about (17.2, 21.1, 26.6).
  Isometry3d scaled = rigid(Vector3d(0, 1, 0), 17.2, 11.5, 45);
  scaled.linear() = scaled.linear() * Eigen::Vector3d(1, 2, 3).asDiagonal();
  const hierachyNode node("n", scaled);
  EXPECT_NEAR(node.rotation.x(), 17.2, 1e-5);
  EXPECT_NEAR(node.rotation.y(), 11.5, 1e-5);
  EXPECT_NEAR(node.rotation.z(), 45, 1e-5);
}

TEST(hierachyNode, SetLocalTransformRederivesButLeavesTheWorldTransform) {
  hierachyNode node("n", Isometry3d::Identity());
  node.worldTrans = rigid(Vector3d(3, 3, 3), 0, 0, 0);
  node.setLocalTransform(rigid(Vector3d(0, 0, 2), 0, 90, 0));
  EXPECT_TRUE(node.position.isApprox(Vector3d(0, 0, 2)));
  EXPECT_NEAR(node.rotation.y(), 90, 1e-5);
  EXPECT_TRUE(node.getWorldTrans().isApprox(rigid(Vector3d(3, 3, 3), 0, 0, 0).matrix()));
}

TEST(hierachyNode, EditedAnglesChangeTheRebuiltTransformOnly) {
  hierachyNode node("n", Isometry3d::Identity());
  node.rotation = Vector3d(0, 0, 90);
  EXPECT_TRUE(node.localTransform().matrix().isApprox(rigid(Vector3d::Zero(), 0, 0, 90).matrix(), 1e-7));
  EXPECT_TRUE(node.localTrans.matrix().isIdentity());  // stale until the next setLocalTransform
}

}  // namespace
