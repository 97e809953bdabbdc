// The link, joint and frame wrappers and their managers, on the chain of chainFixture.h.
#include <gtest/gtest.h>
#include <dart/dynamics/WeldJoint.hpp>
#include <dart/simulation/World.hpp>

#include <cmath>
#include <functional>
#include <stdexcept>

#include "SkeletonDynamics/skJointMgr.h"
#include "chainFixture.h"

namespace {

using namespace chain_test;

void expectNear(const Vector3d& actual, const Vector3d& expected, double tol = 1e-12) {
  EXPECT_LT((actual - expected).norm(), tol)
      << "actual " << actual.transpose() << ", expected " << expected.transpose();
}

TEST(skLink, PositionIsTheEllipsoidCentreAndPointVelocityIsVPlusWCrossR) {
  MovingChain chain;
  const skLink& lower = *chain.links.links[kLower];
  const Isometry3d& T = chain.lower->getWorldTransform();
  EXPECT_EQ(lower.getName(), "lower");
  EXPECT_EQ(lower.getMass(), kMass);
  expectNear(lower.getPosition(), T * Vector3d(0.3, 0, 0));
  EXPECT_GT((lower.getPosition() - T.translation()).norm(), 0.29);

  const Vector3d v = lower.getLinearVelocity(), w = lower.getAngularVelocity(), r(0.2, -0.4, 0.7);
  EXPECT_GT(w.norm(), 0.5);
  expectNear(lower.getPointVelocity(T.translation() + r), v + w.cross(r));
  EXPECT_EQ(lower.getPointVelocity(T.translation()), v);
  EXPECT_EQ(lower.frame->frame.get(), static_cast<Frame*>(chain.lower));
}

TEST(skLink, RotationIsTheEllipsoidsXYZEulerAngles) {
  MovingChain chain;
  Eigen::Vector6d q = Eigen::Vector6d::Zero();
  q[2] = M_PI / 2;
  chain.base->getParentJoint()->setPositions(q);
  expectNear(chain.links.links[kBase]->getRotation(), Vector3d(0, 0, M_PI / 2));

  const Eigen::Matrix3d R = chain.lower->getShapeNode(0)->getWorldTransform().linear();
  const Vector3d a = chain.links.links[kLower]->getRotation();
  const Eigen::Matrix3d rebuilt =
      (Eigen::AngleAxisd(a.x(), Vector3d::UnitX()) * Eigen::AngleAxisd(a.y(), Vector3d::UnitY()) *
       Eigen::AngleAxisd(a.z(), Vector3d::UnitZ()))
          .toRotationMatrix();
  EXPECT_LT((rebuilt - R).norm(), 1e-12);
  EXPECT_GE(a.x(), 0.0);
}

// One step of a world without gravity, from rest, of a lone body turned 90 degrees about x and moved away
// from the origin: forces go in world axes, the offset is a world point.
TEST(skLink, ForcesActInWorldAxesForOneStep) {
  const double dt = 1e-3;
  const Vector3d t(1, 2, 3), F(0, 0, 1);
  struct Case {
    const char* name;
    std::function<void(skLink&)> apply;
    Vector3d velocity, angularVelocity;
  };
  const Case cases[] = {
      {"applyForce", [&](skLink& l) { l.applyForce(F); }, dt * F / kMass, Vector3d::Zero()},
      {"addExtForce", [&](skLink& l) { l.addExtForce(F, t + Vector3d(1, 0, 0)); }, dt * F / kMass,
       dt * Vector3d(1, 0, 0).cross(F) / kInertia},
      {"addExtTorque", [&](skLink& l) { l.addExtTorque(F); }, Vector3d::Zero(), dt * F / kInertia},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto skeleton = Skeleton::create("lone");
    BodyNode* body = addBody<FreeJoint>(skeleton, nullptr, "body", Vector3d::Zero(), 1.0);
    Eigen::Vector6d q;
    q << M_PI / 2, 0, 0, t;
    body->getParentJoint()->setPositions(q);
    auto world = dart::simulation::World::create();
    world->setGravity(Vector3d::Zero());
    world->setTimeStep(dt);
    world->addSkeleton(skeleton);
    skLink link(body, nullptr);
    c.apply(link);
    world->step();
    expectNear(link.getLinearVelocity(), c.velocity);
    expectNear(link.getAngularVelocity(), c.angularVelocity);
  }
}

TEST(skLink, LinksWithoutBodyRaiseOnBodyOperations) {
  MovingChain chain;
  const std::function<void(skLink&)> operations[] = {
      [](skLink& l) { l.getMass(); },
      [](skLink& l) { l.getLinearVelocity(); },
      [](skLink& l) { l.getAngularVelocity(); },
      [](skLink& l) { l.getPointVelocity(Vector3d::Zero()); },
      [](skLink& l) { l.getRotation(); },
      [](skLink& l) { l.getPosition(); },
      [](skLink& l) { l.addExtForce(Vector3d::Zero(), Vector3d::Zero()); },
      [](skLink& l) { l.applyForce(Vector3d::Zero()); },
      [](skLink& l) { l.addExtTorque(Vector3d::Zero()); },
      [](skLink& l) { l.getLinearAcceleration(); },
      [](skLink& l) { l.getAngularAcceleration(); },
  };
  for (int i : {kWorld, kReference}) {
    skLink& link = *chain.links.links[i];
    for (const auto& op : operations) EXPECT_THROW(op(link), std::logic_error) << link.getName();
  }
  EXPECT_EQ(chain.links.links[kWorld]->getName(), "World");
  EXPECT_EQ(chain.links.links[kReference]->getName(), "simple_frame");
  EXPECT_EQ(chain.links.links[kWorld]->getScale(), Vector3d::Ones());
}

// A description joint of `type` on its own node, wrapped with the chain's `body` parent joint.
std::shared_ptr<skJoint> wrapJoint(BodyNode* body, const std::string& name, jointType type) {
  auto description = std::make_shared<SkeletonJoint>();
  description->name = name;
  description->type = type;
  description->node = std::make_shared<hierachyNode>(name, Isometry3d::Identity());
  return std::make_shared<skJoint>(body->getParentJoint(), description);
}

TEST(skJoint, NamesKindAndNodeUpdate) {
  MovingChain chain;
  auto joint = wrapJoint(chain.upper, "Elbow", jointType::continuous);
  EXPECT_EQ(joint->getJointType(), "continuous");
  EXPECT_EQ(joint->getName(), "upper_joint");
  chain.upper->getParentJoint()->setName("renamed");
  EXPECT_EQ(joint->getName(), "renamed");
  EXPECT_EQ(joint->name, "Elbow");

  joint->update();
  const Isometry3d expected = chain.upper->getParentJoint()->getRelativeTransform();
  EXPECT_LT((joint->description->node->localTrans.matrix() - expected.matrix()).norm(), 1e-12);
  EXPECT_NEAR(joint->description->node->rotation.z(), 0.4 * 180 / 3.1415926, 1e-9);
}

TEST(skJoint, ForwardersReachTheDartJointAndCheckIndexAndLength) {
  MovingChain chain;
  auto joint = wrapJoint(chain.upper, "Elbow", jointType::revolute);
  ASSERT_EQ(joint->getNumDofs(), 1u);
  joint->setPosition(0, 0.25);
  joint->setVelocity(0, -2.0);
  joint->setAcceleration(0, 3.0);
  joint->setForce(0, 4.0);
  joint->setCommand(0, 5.0);
  EXPECT_EQ(joint->getPositions(), Eigen::VectorXd::Constant(1, 0.25));
  EXPECT_EQ(joint->getVelocities(), Eigen::VectorXd::Constant(1, -2.0));
  EXPECT_EQ(joint->getAccelerations(), Eigen::VectorXd::Constant(1, 3.0));
  EXPECT_EQ(chain.upper->getParentJoint()->getForce(0), 4.0);
  EXPECT_EQ(chain.upper->getParentJoint()->getCommand(0), 5.0);
  joint->setPositions(Eigen::VectorXd::Constant(1, -0.5));
  EXPECT_EQ(chain.upper->getParentJoint()->getPosition(0), -0.5);
  chain.upper->getParentJoint()->setPositionUpperLimit(0, 1.25);
  EXPECT_EQ(joint->getPositionUpperLimits(), Eigen::VectorXd::Constant(1, 1.25));

  const std::function<void(skJoint&)> badIndex[] = {
      [](skJoint& j) { j.setCommand(1, 0); },      [](skJoint& j) { j.setForce(1, 0); },
      [](skJoint& j) { j.setPosition(1, 0); },     [](skJoint& j) { j.setVelocity(1, 0); },
      [](skJoint& j) { j.setAcceleration(1, 0); },
  };
  for (const auto& op : badIndex) EXPECT_THROW(op(*joint), std::out_of_range);
  EXPECT_THROW(joint->setPositions(Eigen::VectorXd::Zero(2)), std::invalid_argument);
  EXPECT_EQ(chain.upper->getParentJoint()->getPosition(0), -0.5);
}

TEST(skManagers, LookUpByNameTheLaterOfEqualNamesAndNoneForMissingOnes) {
  MovingChain chain;
  skJointMgr joints;
  auto first = wrapJoint(chain.upper, "Elbow", jointType::revolute);
  auto second = wrapJoint(chain.lower, "Elbow", jointType::revolute);
  joints.addJoint(first);
  joints.addJoint(second);
  EXPECT_EQ(joints.getJoint("Elbow"), second);
  EXPECT_EQ(joints.getJoint("Knee"), nullptr);
  EXPECT_EQ(joints.joints.size(), 2u);
  joints.update();
  EXPECT_NEAR(first->description->node->rotation.z(), 0.4 * 180 / 3.1415926, 1e-9);

  EXPECT_EQ(chain.links.getLink("upper"), chain.links.links[kUpper]);
  EXPECT_EQ(chain.links.getLink("Upper"), nullptr);
  auto again = std::make_shared<skLink>(BodyNodePtr(chain.upper), nullptr);
  chain.links.addLink(again);
  EXPECT_EQ(chain.links.getLink("upper"), again);
}

TEST(skFrame, SetRefFrameTakesTheHandlesFrameAndKeepsTheOldOneOnNone) {
  MovingChain chain;
  std::shared_ptr<Frame> refFrame = chain.links.links[kWorld]->frame->frame;
  setRefFrame(refFrame, chain.links.links[kBase]->frame);
  EXPECT_EQ(refFrame.get(), static_cast<Frame*>(chain.base));
  EXPECT_THROW(setRefFrame(refFrame, nullptr), std::invalid_argument);
  EXPECT_EQ(refFrame.get(), static_cast<Frame*>(chain.base));
  EXPECT_THROW(skFrame(nullptr), std::invalid_argument);
}

// Run under the sanitizer build too: a raw body pointer would be read after the skeleton was freed.
TEST(skLifetime, KeptWrappersKeepTheirSkeletonAlive) {
  std::shared_ptr<skLink> link;
  std::shared_ptr<skJoint> joint;
  std::shared_ptr<skFrame> frame;
  std::weak_ptr<Skeleton> skeleton;
  {
    MovingChain chain;
    skeleton = chain.skeleton;
    link = chain.links.links[kLower];
    joint = wrapJoint(chain.lower, "Knee", jointType::revolute);
    frame = chain.links.links[kUpper]->frame;
  }
  ASSERT_FALSE(skeleton.expired());
  EXPECT_EQ(link->getMass(), kMass);
  EXPECT_GT(link->getAngularVelocity().norm(), 0.5);
  EXPECT_EQ(joint->getPositions(), Eigen::VectorXd::Constant(1, -0.6));
  EXPECT_EQ(frame->frame->getName(), "upper");
  link.reset();
  joint.reset();
  frame.reset();
  EXPECT_TRUE(skeleton.expired());
}

}  // namespace
