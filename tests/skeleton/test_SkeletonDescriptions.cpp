// Joint and actuator kinds, joint settings, link names and geometry, and the release of a joint tree.
#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>

#include "skeleton/SkeletonLink.h"
#include "testSupport.h"

namespace {

using Eigen::Vector3d;
using Axes = std::vector<Vector3d>;
using Doubles = std::vector<double>;
using JointPtr = std::shared_ptr<SkeletonJoint>;

// Read while this file's statics are initialised, before main(), whatever the order of the tables' own.
const std::string kReadBeforeMain = jointTypeName(jointType::ball) + actuatorTypeName(actuatorType::servo) +
                                    std::to_string(jointTypeAxes(jointType::planar).size());

TEST(jointType, TablesByValueAndByName) {
  EXPECT_EQ(kReadBeforeMain, "ballservo2");
  std::string names, actuators;
  std::vector<int> dofs;
  for (int v = 0; v < 9; ++v) {
    const jointType t = static_cast<jointType>(v);
    names += jointTypeName(t) + " ";
    dofs.push_back(jointTypeDofs(t));  // planar: two axes, three degrees of freedom
    EXPECT_EQ(jointTypeFromName(jointTypeName(t)), t);
  }
  for (int v = 0; v < 7; ++v) {
    actuators += actuatorTypeName(static_cast<actuatorType>(v)) + " ";
    EXPECT_EQ(actuatorTypeFromName(actuatorTypeName(static_cast<actuatorType>(v))), static_cast<actuatorType>(v));
  }
  EXPECT_EQ(names, "invalid revolute continuous prismatic fixed floating planar ball universal ");
  EXPECT_EQ(dofs, (std::vector<int>{0, 1, 1, 1, 0, 6, 3, 3, 2}));
  EXPECT_EQ(actuators, "force passive servo mimic acceleration velocity locked ");
  EXPECT_EQ(jointTypeAxes(jointType::continuous), Axes{Vector3d(0, 1, 0)});
  EXPECT_EQ(jointTypeAxes(jointType::prismatic), Axes{Vector3d(1, 0, 0)});
  EXPECT_TRUE(jointTypeAxes(jointType::ball).empty());

  EXPECT_THROW(jointTypeAxes(static_cast<jointType>(-1)), std::invalid_argument);
  EXPECT_THROW(jointTypeDofs(static_cast<jointType>(9)), std::invalid_argument);
  EXPECT_THROW(actuatorTypeName(static_cast<actuatorType>(7)), std::invalid_argument);
  EXPECT_EQ(testsupport::thrownWhat<std::invalid_argument>([] { jointTypeName(static_cast<jointType>(12)); }),
            "jointType value 12 is outside 0..8");
  for (const char* name : {"Revolute", "revolute ", "1", ""}) EXPECT_FALSE(jointTypeFromName(name)) << name;
}

// A joint on its own node, placed at p in node 0's frame.
JointPtr jointAt(const std::string& name, const Vector3d& p = Vector3d::Zero(), bool intermediate = false) {
  auto joint = std::make_shared<SkeletonJoint>();
  joint->name = name;
  joint->isIntermediate = intermediate;
  joint->node = std::make_shared<hierachyNode>(name, Eigen::Isometry3d::Identity());
  joint->node->worldTrans.translation() = p;
  return joint;
}

TEST(SkeletonJoint, SetJointTypeResetsAxesAndResizesLimits) {
  SkeletonJoint j;  // as setJointType(revolute) leaves it
  EXPECT_TRUE(j.type == jointType::revolute && j.actuator == actuatorType::force);
  EXPECT_EQ(j.axis, Axes{Vector3d(0, 1, 0)});
  EXPECT_EQ(j.limit.velocity, Doubles{0.0});
  EXPECT_TRUE(j.useLimits && !j.useDynamics && j.mimicMultiplier == 1.0);

  j.limit.lower = {-1.5};
  j.limit.effort = {10};
  j.setJointType(jointType::planar);
  EXPECT_EQ(j.axis, (Axes{Vector3d(1, 0, 0), Vector3d(0, 0, 1)}));
  EXPECT_EQ(j.limit.lower, (Doubles{-1.5, 0, 0}));
  EXPECT_EQ(j.limit.effort, (Doubles{10, 0, 0}));
  j.axis = {Vector3d(0, 0, 7)};
  j.setJointType(jointType::planar);  // the same kind still resets the axes
  EXPECT_EQ(j.axis.size(), 2u);
  j.setJointType(jointType::universal);
  EXPECT_EQ(j.limit.lower, (Doubles{-1.5, 0}));
  EXPECT_THROW(j.setJointType(static_cast<jointType>(9)), std::invalid_argument);
  EXPECT_EQ(j.type, jointType::universal);
}

TEST(SkeletonLink, Names) {
  const struct {
    const char *parent, *child;
    bool childIntermediate;
    const char *given, *expected;
  } cases[] = {
      {"Spine", "Spine_intermediate_0", true, "", "[link]Spine"},
      {"Spine_intermediate_0", "Chest", false, "", "[link]Spine::Chest"},
      {"Hip", "Knee", false, "", "[link]Hip::Knee"},
      {"Spine", "Spine_intermediate_0", true, "waist", "waist"},
  };
  for (const auto& c : cases) {
    const SkeletonLink link(jointAt(c.parent), {jointAt(c.child, Vector3d(1, 0, 0), c.childIntermediate)}, c.given);
    EXPECT_EQ(link.name, c.expected);
    EXPECT_EQ(link.isIntermediate, c.childIntermediate);
  }
}

TEST(SkeletonLink, FrameRunsFromTheChildrenToTheJoint) {
  const Vector3d J(0.5, -1, 2);
  // Children at distance 2, both ways along x among them (rotations about y by 0 and pi).
  for (const Vector3d& offset :
       {Vector3d(2, 0, 0), Vector3d(-2, 0, 0), Vector3d(0, 0, -2), Vector3d(Vector3d(-2, 4, -4) / 3)}) {
    SkeletonLink link(jointAt("a", J), {jointAt("b", J + offset)}, "");
    EXPECT_TRUE(link.size.isApprox(Vector3d(2, 0.02, 0.02))) << offset.transpose();
    EXPECT_TRUE(link.getWorldTrans().col(3).isApprox((J + offset / 2).homogeneous()));
    const Eigen::Matrix3d R = link.worldTransform.linear();
    EXPECT_TRUE((R * Vector3d::UnitX()).isApprox(-offset / 2)) << offset.transpose();
    const Eigen::Matrix3d fromAngles = (Eigen::AngleAxisd(link.rotation.x(), Vector3d::UnitX()) *
                                        Eigen::AngleAxisd(link.rotation.y(), Vector3d::UnitY()) *
                                        Eigen::AngleAxisd(link.rotation.z(), Vector3d::UnitZ()))
                                           .toRotationMatrix();
    EXPECT_TRUE(fromAngles.isApprox(R, 1e-12));
  }
  // The far end is the children's mean; where it meets the joint the frame is the identity.
  const SkeletonLink meet(jointAt("a", J), {jointAt("b", J + Vector3d(1, 0, 0)), jointAt("c", J - Vector3d(1, 0, 0))},
                          "");
  EXPECT_TRUE(meet.position.isApprox(J) && meet.worldTransform.linear().isIdentity(0) && meet.rotation.isZero(0));
  EXPECT_EQ(meet.size, Vector3d(0, 0.02, 0.02));
  const SkeletonLink far(jointAt("Spine"), {jointAt("Spine_intermediate_0", Vector3d(0, 30, 0), true)}, "");
  EXPECT_EQ(far.size, Vector3d(0.02, 0.02, 0.02));

  // An update follows the pose and keeps the thickness set since.
  auto child = jointAt("b", Vector3d(0, 0, 2));
  SkeletonLink link(jointAt("a"), {child}, "");
  link.size = Vector3d(9, 0.3, 0.4);
  child->node->worldTrans.translation() = Vector3d(3, 0, 0);
  EXPECT_TRUE(link.updateGeometry().translation().isApprox(Vector3d(1.5, 0, 0)));
  EXPECT_EQ(link.size, Vector3d(3, 0.3, 0.4));
}

TEST(SkeletonLink, MalformedJointsAreRejected) {
  EXPECT_THROW(SkeletonLink(jointAt("Hip"), {}, ""), std::invalid_argument);
  EXPECT_THROW(SkeletonLink(nullptr, {jointAt("Knee")}, ""), std::invalid_argument);
  EXPECT_THROW(SkeletonLink(jointAt("Hip"), {nullptr}, ""), std::invalid_argument);
  auto knee = jointAt("Knee");
  knee->node.reset();  // as a script may do
  EXPECT_THROW(SkeletonLink(jointAt("Hip"), {knee}, ""), std::logic_error);
  EXPECT_THROW(knee->getLocalTrans(), std::logic_error);
  EXPECT_THROW(SkeletonLink().updateGeometry(), std::logic_error);
}

}  // namespace
