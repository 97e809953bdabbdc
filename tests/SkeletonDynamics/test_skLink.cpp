// The link, joint and frame wrappers and their managers, on the chain of chainFixture.h.
#include <gtest/gtest.h>
#include <dart/simulation/World.hpp>

#include <cmath>
#include <functional>
#include <stdexcept>

#include "SkeletonDynamics/skJointMgr.h"
#include "chainFixture.h"

namespace {

using namespace chain_test;

void expectNear(const Vector3d& actual, const Vector3d& expected) {
  EXPECT_LT((actual - expected).norm(), 1e-12) << actual.transpose() << " != " << expected.transpose();
}

TEST(skLink, PoseIsTheEllipsoidsAndPointVelocityIsVPlusWCrossR) {
  MovingChain chain;
  const skLink& lower = *chain.links.links[kLower];
  const Isometry3d& T = chain.lower->getWorldTransform();
  EXPECT_EQ(lower.getName(), "lower");
  EXPECT_EQ(lower.getMass(), kMass);
  expectNear(lower.getPosition(), T * Vector3d(0.3, 0, 0));  // the centre, not the joint at T's origin

  const Vector3d v = lower.getLinearVelocity(), w = lower.getAngularVelocity(), r(0.2, -0.4, 0.7);
  EXPECT_GT(w.norm(), 0.5);
  expectNear(lower.getPointVelocity(T.translation() + r), v + w.cross(r));
  EXPECT_EQ(lower.getPointVelocity(T.translation()), v);

  Eigen::Vector6d q = Eigen::Vector6d::Zero();
  q[2] = M_PI / 2;
  chain.base->getParentJoint()->setPositions(q);
  expectNear(chain.links.links[kBase]->getRotation(), Vector3d(0, 0, M_PI / 2));
}

// One step of a world without gravity, from rest, of a lone body turned 90 degrees about x and moved off
// the origin: forces and torques act in world axes, and the offset is a world point.
TEST(skLink, LoadsActInWorldAxesForOneStep) {
  const double dt = 1e-3;
  const Vector3d t(1, 2, 3), F(0, 0, 1);
  struct Case {
    std::function<void(skLink&)> load;
    Vector3d velocity, angularVelocity;
  };
  const Case cases[] = {
      {[&](skLink& l) { l.applyForce(F); }, dt * F / kMass, Vector3d::Zero()},
      {[&](skLink& l) { l.addExtForce(F, t + Vector3d(1, 0, 0)); }, dt * F / kMass,
       dt * Vector3d(1, 0, 0).cross(F) / kInertia},
      {[&](skLink& l) { l.addExtTorque(F); }, Vector3d::Zero(), dt * F / kInertia},
  };
  for (const Case& c : cases) {
    auto skeleton = Skeleton::create("lone");
    BodyNode* body = addBody<FreeJoint>(skeleton, nullptr, "body", Vector3d::Zero(), 1.0);
    body->getParentJoint()->setPositions((Eigen::Vector6d() << M_PI / 2, 0, 0, t).finished());
    auto world = dart::simulation::World::create();
    world->setGravity(Vector3d::Zero());
    world->setTimeStep(dt);
    world->addSkeleton(skeleton);
    skLink link(body, nullptr);
    c.load(link);
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
      [](skLink& l) { l.applyForce(Vector3d::Zero()); },
      [](skLink& l) { l.addExtTorque(Vector3d::Zero()); },
      [](skLink& l) { l.addExtForce(Vector3d::Zero(), Vector3d::Zero()); },
      [](skLink& l) { l.getLinearAcceleration(); },
      [](skLink& l) { l.getAngularAcceleration(); },
  };
  for (int i : {kWorld, kReference})
    for (const auto& op : operations) EXPECT_THROW(op(*chain.links.links[i]), std::logic_error);
  EXPECT_EQ(chain.links.links[kWorld]->getName(), "World");
  EXPECT_EQ(chain.links.links[kReference]->getName(), "simple_frame");
}

// A description joint of `type` on a node of its own, wrapped with `body`'s parent joint.
std::shared_ptr<skJoint> wrapJoint(BodyNode* body, const std::string& name, jointType type) {
  auto description = std::make_shared<SkeletonJoint>();
  description->name = name;
  description->type = type;
  description->node = std::make_shared<hierachyNode>(name, Isometry3d::Identity());
  return std::make_shared<skJoint>(body->getParentJoint(), description);
}

TEST(skJoint, NamesKindNodeUpdateAndCheckedForwarders) {
  MovingChain chain;
  auto joint = wrapJoint(chain.upper, "Elbow", jointType::continuous);
  EXPECT_EQ(joint->getJointType(), "continuous");
  chain.upper->getParentJoint()->setName("renamed");
  EXPECT_EQ(joint->getName(), "renamed");
  EXPECT_EQ(joint->name, "Elbow");
  joint->update();
  EXPECT_TRUE(joint->description->node->localTrans.isApprox(chain.upper->getParentJoint()->getRelativeTransform()));
  EXPECT_NEAR(joint->description->node->rotation.z(), 0.4 * 180 / 3.1415926, 1e-9);

  joint->setPosition(0, 0.25);
  joint->setVelocity(0, -2.0);
  EXPECT_EQ(joint->getPositions(), Eigen::VectorXd::Constant(1, 0.25));
  EXPECT_EQ(joint->getVelocities(), Eigen::VectorXd::Constant(1, -2.0));
  const std::function<void(skJoint&)> badIndex[] = {
      [](skJoint& j) { j.setCommand(1, 0); },      [](skJoint& j) { j.setForce(1, 0); },
      [](skJoint& j) { j.setPosition(1, 0); },     [](skJoint& j) { j.setVelocity(1, 0); },
      [](skJoint& j) { j.setAcceleration(1, 0); },
  };
  for (const auto& op : badIndex) EXPECT_THROW(op(*joint), std::out_of_range);
  EXPECT_THROW(joint->setPositions(Eigen::VectorXd::Zero(2)), std::invalid_argument);
  EXPECT_EQ(joint->getPositions(), Eigen::VectorXd::Constant(1, 0.25));
}

TEST(skManagers, FindTheLaterOfEqualNamesAndNoneForMissingOnes) {
  MovingChain chain;
  skJointMgr joints;
  auto first = wrapJoint(chain.upper, "Elbow", jointType::revolute);
  auto second = wrapJoint(chain.lower, "Elbow", jointType::revolute);
  joints.addJoint(first);
  joints.addJoint(second);
  EXPECT_EQ(joints.getJoint("Elbow"), second);
  EXPECT_EQ(joints.getJoint("Knee"), nullptr);
  joints.update();
  EXPECT_NEAR(first->description->node->rotation.z(), 0.4 * 180 / 3.1415926, 1e-9);

  auto again = std::make_shared<skLink>(BodyNodePtr(chain.upper), nullptr);
  chain.links.addLink(again);
  EXPECT_EQ(chain.links.getLink("upper"), again);
  EXPECT_EQ(chain.links.getLink("Upper"), nullptr);
}

TEST(skFrame, SetRefFrameTakesTheHandlesFrameAndKeepsTheOldOneOnNone) {
  MovingChain chain;
  std::shared_ptr<Frame> refFrame = chain.links.links[kWorld]->frame->frame;
  setRefFrame(refFrame, chain.links.links[kBase]->frame);
  EXPECT_EQ(refFrame.get(), static_cast<Frame*>(chain.base));
  EXPECT_THROW(setRefFrame(refFrame, nullptr), std::invalid_argument);
  EXPECT_EQ(refFrame.get(), static_cast<Frame*>(chain.base));
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
  EXPECT_FALSE(skeleton.expired());
  EXPECT_GT(link->getAngularVelocity().norm(), 0.5);
  EXPECT_EQ(joint->getPositions(), Eigen::VectorXd::Constant(1, -0.6));
  EXPECT_EQ(frame->frame->getName(), "upper");
  link.reset();
  joint.reset();
  frame.reset();
  EXPECT_TRUE(skeleton.expired());
}

}  // namespace
