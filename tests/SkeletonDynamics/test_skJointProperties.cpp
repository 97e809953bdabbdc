// DART joint properties from joint descriptions: limits, start positions, dynamics, actuators and kinds.
#include <gtest/gtest.h>

#include <dart/dynamics/Skeleton.hpp>

#include <functional>
#include <limits>
#include <memory>
#include <stdexcept>

#include "SkeletonDynamics/skJointProperties.h"
#include "skeleton/SkeletonJoint.h"

namespace {

using Eigen::Vector3d;
constexpr double inf = std::numeric_limits<double>::infinity();

// Velocity limits 3, effort limits 7, spring 2, damping 0.5, friction 0.25 on every degree of freedom.
SkeletonJoint describedJoint(jointType type, const std::vector<double>& lower, const std::vector<double>& upper) {
  SkeletonJoint j;
  j.name = "elbow";
  j.node = std::make_shared<hierachyNode>("elbow", Eigen::Isometry3d(Eigen::Translation3d(0, 1, 0)));
  j.setJointType(type);
  j.limit = {lower, upper, std::vector<double>(lower.size(), 7.0), std::vector<double>(lower.size(), 3.0)};
  j.springStiffness = 2.0;
  j.useDynamics = true;
  j.dynamics = {0.5, 0.25};
  return j;
}

TEST(skJointProperties, LimitsAndStartPositions) {
  const struct {
    jointType type;
    double lower, upper, start, positionLower, positionUpper;
  } cases[] = {{jointType::revolute, 0.2, 0.6, 0.4, 0.2, 0.6}, {jointType::revolute, -0.5, 0.5, 0, -0.5, 0.5},
               {jointType::revolute, 0.2, inf, 0.2, 0.2, inf}, {jointType::revolute, -inf, -0.3, -0.3, -inf, -0.3},
               {jointType::revolute, inf, inf, 0, inf, inf},   {jointType::continuous, 0.2, 0.6, 0.4, -inf, inf}};
  for (const auto& c : cases) {
    const SkeletonJoint j = describedJoint(c.type, {c.lower}, {c.upper});
    const auto p = c.type == jointType::continuous ? makeContinuousJointProperties(j) : makeRevoluteJointProperties(j);
    EXPECT_DOUBLE_EQ(p.mInitialPositions[0], c.start) << c.lower << " " << c.upper;
    EXPECT_DOUBLE_EQ(p.mRestPositions[0], c.start);
    EXPECT_EQ(p.mPositionLowerLimits[0], c.positionLower);
    EXPECT_EQ(p.mPositionUpperLimits[0], c.positionUpper);
    EXPECT_EQ(p.mVelocityLowerLimits[0], -3.0);
    EXPECT_EQ(p.mForceUpperLimits[0], 7.0);
    EXPECT_EQ(p.mAccelerationUpperLimits[0], inf);
    EXPECT_EQ(p.mSpringStiffnesses[0], 2.0);
    EXPECT_EQ(p.mDampingCoefficients[0], 0.5);
    EXPECT_EQ(p.mFrictions[0], 0.25);
  }
  // Entry i serves degree of freedom i.
  const auto ball =
      makeUniqueProperties<dart::math::SO3Space>(describedJoint(jointType::ball, {0.1, -1, -inf}, {0.3, 1, -0.2}));
  EXPECT_TRUE(ball.mInitialPositions.isApprox(Vector3d(0.2, 0, -0.2)));
  EXPECT_EQ(ball.mRestPositions, ball.mInitialPositions);
}

TEST(skJointProperties, WithoutLimitsOrDynamics) {
  SkeletonJoint j = describedJoint(jointType::universal, {0.2, 0.3}, {0.6, 0.7});
  j.useLimits = false;
  j.limit.lower.clear();  // not read without useLimits
  auto p = makeUniversalJointProperties(j);
  EXPECT_FALSE(p.mIsPositionLimitEnforced);
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(p.mPositionLowerLimits[i], -inf);
    EXPECT_EQ(p.mVelocityUpperLimits[i], inf);
    EXPECT_EQ(p.mForceUpperLimits[i], inf);
    EXPECT_EQ(p.mInitialPositions[i], 0);
    EXPECT_EQ(p.mSpringStiffnesses[i], 2.0);
    EXPECT_EQ(p.mFrictions[i], 0.25);
  }
  j.useDynamics = false;
  j.useLimits = true;
  j.limit.lower = {0.2, 0.3};
  p = makeUniversalJointProperties(j);
  EXPECT_TRUE(p.mIsPositionLimitEnforced);
  EXPECT_EQ(p.mDampingCoefficients[1], 0);

  // A free joint takes nothing from the description but its name and node.
  const auto free = makeFreeJointProperties(
      describedJoint(jointType::floating, std::vector<double>(6, 0.2), std::vector<double>(6, 0.6)));
  EXPECT_TRUE(free.mInitialPositions.isZero());
  EXPECT_EQ(free.mPositionLowerLimits[3], -inf);
  EXPECT_TRUE(free.mSpringStiffnesses.isZero() && free.mDampingCoefficients.isZero());
}

TEST(skJointProperties, JointFramesAndAxes) {
  SkeletonJoint j = describedJoint(jointType::prismatic, {0}, {1});
  j.axis = {Vector3d(0, 0, 2)};
  const auto p = makePrismaticJointProperties(j);
  EXPECT_EQ(p.mName, "elbow");
  EXPECT_TRUE(p.mT_ParentBodyToJoint.isApprox(j.node->localTransform()));
  EXPECT_TRUE(p.mT_ChildBodyToJoint.isApprox(Eigen::Isometry3d::Identity()));
  EXPECT_FALSE(p.mIsPositionLimitEnforced);
  EXPECT_EQ(p.mActuatorType, dart::dynamics::Joint::FORCE);
  EXPECT_EQ(p.mMimicJoint, nullptr);
  EXPECT_TRUE(p.mAxis.isApprox(Vector3d::UnitZ()));

  j = describedJoint(jointType::planar, {0, 0, 0}, {1, 1, 1});
  j.axis = {Vector3d::UnitY(), Vector3d::UnitZ()};
  const auto planar = makePlanarJointProperties(j);
  EXPECT_TRUE(planar.mIsPositionLimitEnforced);
  EXPECT_TRUE(planar.mRotAxis.isApprox(Vector3d::UnitX()));
}

TEST(skJointProperties, IncompleteDescriptionsAreRejectedByName) {
  SkeletonJoint shortLimits = describedJoint(jointType::planar, {0, 0, 0}, {1, 1, 1});
  shortLimits.limit.effort = {1.0};  // a JSON file may give fewer entries than degrees of freedom
  SkeletonJoint oneAxis = describedJoint(jointType::universal, {0, 0}, {1, 1});
  oneAxis.axis.pop_back();
  SkeletonJoint noNode = describedJoint(jointType::revolute, {0}, {1});
  noNode.node.reset();
  for (const auto& make : std::vector<std::function<void()>>{[&] { makePlanarJointProperties(shortLimits); },
                                                             [&] { makeUniversalJointProperties(oneAxis); },
                                                             [&] { makeRevoluteJointProperties(noNode); }}) {
    try {
      make();
      ADD_FAILURE() << "no exception";
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find("\"elbow\""), std::string::npos) << e.what();
    }
  }
  shortLimits.useLimits = false;
  EXPECT_NO_THROW(makePlanarJointProperties(shortLimits));
}

TEST(skJointProperties, ActuatorsMapOneToOne) {
  auto skeleton = dart::dynamics::Skeleton::create();
  auto* joint = skeleton->createJointAndBodyNodePair<dart::dynamics::RevoluteJoint>().first;
  for (int a = actuatorType::force; a <= actuatorType::locked; ++a) {
    setJointActuator(*joint, static_cast<actuatorType>(a));
    EXPECT_EQ(joint->getActuatorType(), static_cast<dart::dynamics::Joint::ActuatorType>(a));
  }
  setJointActuator(*joint, static_cast<actuatorType>(9));
  EXPECT_EQ(joint->getActuatorType(), dart::dynamics::Joint::LOCKED);
}

}  // namespace
