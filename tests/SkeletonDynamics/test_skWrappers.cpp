// The link, joint and frame wrappers, their managers and the link records, on the moving chain.
#include <dart/simulation/World.hpp>

#include <cmath>
#include <functional>
#include <limits>
#include <utility>
#include <vector>

#include "SkeletonDynamics/requireFinite.h"
#include "skFixture.h"

namespace {

using namespace sktest;

TEST(skLink, PoseIsTheEllipsoidsAndPointVelocityIsVPlusWCrossR) {
  MovingChain chain;
  const skLink& lower = *chain.links.links[kLower];
  const Isometry3d& T = chain.lower->getWorldTransform();
  expectNear(lower.getPosition(), T * Vector3d(0.3, 0, 0));  // the centre, not the joint at T's origin
  EXPECT_TRUE(lower.getShapeTransform().isApprox(T * Eigen::Translation3d(0.3, 0, 0)));  // in the body's axes
  EXPECT_EQ(static_cast<const mlObject&>(lower).getScale(), Vector3d::Ones());
  const Vector3d v = lower.getLinearVelocity(), w = lower.getAngularVelocity(), r(0.2, -0.4, 0.7);
  EXPECT_GT(w.norm(), 0.5);
  expectNear(lower.getPointVelocity(T.translation() + r), v + w.cross(r));

  chain.base->getParentJoint()->setPositions((Eigen::Vector6d() << 0, 0, M_PI / 2, 0, 0, 0).finished());
  expectNear(chain.links.links[kBase]->getRotation(), Vector3d(0, 0, M_PI / 2));
}

// One step without gravity, from rest, of a lone body turned 90 degrees about x and moved off the origin:
// forces and torques act in world axes, and the offset is a world point.
TEST(skLink, LoadsActInWorldAxesForOneStep) {
  const double dt = 1e-3;
  const Vector3d t(1, 2, 3), F(0, 0, 1), G(0, 2, 0), T(0, 0, 3);
  auto skeleton = Skeleton::create("lone");
  BodyNode* body = addBody<FreeJoint>(skeleton, nullptr, "body", Vector3d::Zero(), 1.0);
  body->getParentJoint()->setPositions((Eigen::Vector6d() << M_PI / 2, 0, 0, t).finished());
  auto world = dart::simulation::World::create();
  world->setGravity(Vector3d::Zero());
  world->setTimeStep(dt);
  world->addSkeleton(skeleton);
  skLink link(body, nullptr);
  link.applyForce(F);
  link.addExtForce(G, t + Vector3d::UnitX());
  link.addExtTorque(T);
  world->step();
  expectNear(link.getLinearVelocity(), dt * (F + G) / kMass);
  expectNear(link.getAngularVelocity(), dt * (Vector3d::UnitX().cross(G) + T) / kInertia);
}

// A load or generalised force that is not finite or beyond the bound is refused and nothing reaches the body.
TEST(skLink, LoadsThatAreNotFiniteOrBeyondTheBoundAreRefused) {
  MovingChain chain;
  skLink& base = *chain.links.links[kBase];
  const auto body = fish(jointType::revolute, 50);
  const Vector3d o = Vector3d::Zero();
  const std::function<void(const Vector3d&)> loads[] = {
      [&](const Vector3d& v) { base.applyForce(v); }, [&](const Vector3d& v) { base.addExtForce(v, o); },
      [&](const Vector3d& v) { base.addExtForce(o, v); }, [&](const Vector3d& v) { base.addExtTorque(v); },
      [&](const Vector3d& v) { body->setForces(v); }};
  const double inf = std::numeric_limits<double>::infinity();
  for (const auto& load : loads)
    for (const double bad : {std::nan(""), inf, -inf, std::nextafter(kDivergedState, inf), -1e308})
      EXPECT_THROW(load(Vector3d(0, bad, 0)), std::invalid_argument) << bad;
  EXPECT_EQ(chain.base->getExternalForceLocal(), Eigen::Vector6d::Zero());
  EXPECT_TRUE(body->skeleton->getForces().isZero());
}

TEST(skLink, LinksWithoutBodyRaiseOnBodyOperations) {
  MovingChain chain;
  const Vector3d o = Vector3d::Zero();
  for (int i : {kWorld, kReference}) {
    skLink& l = *chain.links.links[i];
    for (auto get : {&skLink::getLinearVelocity, &skLink::getAngularVelocity, &skLink::getRotation,
                     &skLink::getPosition, &skLink::getLinearAcceleration, &skLink::getAngularAcceleration})
      EXPECT_THROW((l.*get)(), std::logic_error);
    for (auto load : {&skLink::applyForce, &skLink::addExtTorque}) EXPECT_THROW((l.*load)(o), std::logic_error);
    EXPECT_THROW(l.getMass(), std::logic_error);
    EXPECT_THROW(l.getPointVelocity(o), std::logic_error);
    EXPECT_THROW(l.addExtForce(o, o), std::logic_error);
    EXPECT_THROW(l.getShapeTransform(), std::logic_error);
  }
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

TEST(skJoint, WrapperManagersAndReferenceFrame) {
  MovingChain chain;
  auto joint = wrapJoint(chain.upper, "Elbow", jointType::continuous);
  auto later = wrapJoint(chain.lower, "Elbow", jointType::revolute);
  EXPECT_EQ(joint->getJointType(), "continuous");
  EXPECT_EQ(joint->getType(), jointType::continuous);  // the description's kind; DART's joint is revolute
  EXPECT_EQ(joint->getDartJoint().get(), chain.upper->getParentJoint());
  joint->getDescription()->type = jointType::prismatic;  // the joint's own description, not a copy
  EXPECT_EQ(joint->getType(), jointType::prismatic);
  joint->getDescription()->type = jointType::continuous;
  chain.upper->getParentJoint()->setName("renamed");
  EXPECT_EQ(joint->getName(), "renamed");
  EXPECT_EQ(joint->name, "Elbow");
  skJointMgr joints;
  joints.addJoint(joint);
  joints.addJoint(later);
  EXPECT_EQ(joints.getJoint("Elbow"), later);
  EXPECT_EQ(joints.getJoint("Knee"), nullptr);
  joints.update();
  EXPECT_TRUE(joint->description->node->localTrans.isApprox(chain.upper->getParentJoint()->getRelativeTransform()));
  EXPECT_NEAR(joint->description->node->rotation.z(), 0.4 * 180 / 3.1415926, 1e-9);

  joint->setPosition(0, 0.25);
  for (auto set : {&skJoint::setCommand, &skJoint::setForce, &skJoint::setPosition, &skJoint::setVelocity,
                   &skJoint::setAcceleration})
    EXPECT_THROW(((*joint).*set)(1, 0), std::out_of_range);
  EXPECT_THROW(joint->setPositions(Eigen::VectorXd::Zero(2)), std::invalid_argument);
  EXPECT_EQ(joint->getPositions(), Eigen::VectorXd::Constant(1, 0.25));

  auto again = std::make_shared<skLink>(BodyNodePtr(chain.upper), nullptr);
  chain.links.addLink(again);
  EXPECT_EQ(chain.links.getLink("upper"), again);

  // setRefFrame takes the handle's frame, and keeps the old one on none.
  std::shared_ptr<Frame> refFrame = chain.links.links[kWorld]->frame->frame;
  setRefFrame(refFrame, chain.links.links[kBase]->frame);
  EXPECT_EQ(refFrame.get(), static_cast<Frame*>(chain.base));
  EXPECT_THROW(setRefFrame(refFrame, nullptr), std::invalid_argument);
  EXPECT_EQ(refFrame.get(), static_cast<Frame*>(chain.base));
}

// The servo command is the velocity that reaches the target in one step; other actuators ignore it. A bad
// index, target or step raises whatever the actuator, and leaves the command as it was.
TEST(skJoint, ServoTargetCommandsTheVelocityThatReachesItInOneStep) {
  MovingChain chain;
  auto joint = wrapJoint(chain.lower, "Knee", jointType::revolute);  // at -0.6
  Joint& dart = *chain.lower->getParentJoint();
  dart.setActuatorType(Joint::SERVO);
  dart.setCommand(0, 7);
  EXPECT_TRUE(joint->setServoTarget(0, 0.4, 0.5));  // the description's actuator is force
  EXPECT_EQ(dart.getCommand(0), 7);
  EXPECT_THROW(joint->setServoTarget(0, 0.4, 0), std::invalid_argument);
  joint->description->actuator = actuatorType::servo;
  EXPECT_TRUE(joint->setServoTarget(0, 0.4, 0.5));
  EXPECT_DOUBLE_EQ(dart.getCommand(0), 2.0);

  const double inf = std::numeric_limits<double>::infinity(), nan = std::nan("");
  EXPECT_THROW(joint->setServoTarget(1, 0.4, 0.5), std::out_of_range);
  for (auto [target, dt] : {std::pair{nan, 0.5},
                            {inf, 0.5},
                            {-inf, 0.5},
                            {0.4, nan},
                            {0.4, inf},
                            {0.4, -inf},
                            {-1e308, 0.5},
                            {0.4, 1e-9},     // a velocity of 1e9, beyond the bound
                            {0.4, 1e-320}})  // and a velocity that overflows
    EXPECT_THROW(joint->setServoTarget(0, target, dt), std::invalid_argument) << target << ", " << dt;
  EXPECT_DOUBLE_EQ(dart.getCommand(0), 2.0);
  EXPECT_EQ(testsupport::thrownWhat<std::invalid_argument>([&] { joint->setServoTarget(0, 0.4, -1e-7); }),
            "skJoint::setServoTarget: the time step for \"Knee\" must be positive and finite, not -1e-07");
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
  link.reset(), joint.reset(), frame.reset();
  EXPECT_TRUE(skeleton.expired());
}

TEST(skLinkMgr, RecordsMirrorTheDartFramesAndKeepTheirWrenches) {
  MovingChain chain;
  for (auto& r : chain.links.link_data_host) setWrench(r, 7);
  chain.links.updateLinkData();
  for (int i = 0; i < kLinkCount; ++i) {
    SCOPED_TRACE(i);
    const Frame& F = chain.frame(i);
    const skLinkData& r = chain.links.link_data_host[i];
    const Eigen::Map<const Eigen::Matrix4d> T(r.worldTransform), inverse(r.inverseTransform);
    EXPECT_EQ(T, F.getWorldTransform().matrix());
    EXPECT_LT((inverse * T - Eigen::Matrix4d::Identity()).norm(), 1e-14);
    // The angular part first, both parts in the frame's own axes.
    const Eigen::Map<const Eigen::Vector6d> V(r.spatialVelocity);
    const Eigen::Matrix3d Rt = F.getWorldTransform().linear().transpose();
    expectNear(V, (Eigen::Vector6d() << Rt * F.getAngularVelocity(), Rt * F.getLinearVelocity()).finished());
    EXPECT_EQ(r.isWorld, i == kWorld ? 1.0 : 0.0);
    EXPECT_EQ(r.torque[2], 9.0);
  }
  chain.links.addLink(std::make_shared<skLink>(Frame::WorldShared()));
  EXPECT_THROW(chain.links.updateLinkData(), std::logic_error);
  chain.links.link_data_host.emplace_back();
  EXPECT_THROW(chain.links.uploadLinkData(), std::logic_error);  // the device holds one record fewer
}

TEST(skLinkMgr, ApplyLinkForcesGivesBodyLinksTheirWrenchInBodyCoordinates) {
  MovingChain chain;
  for (int i = 0; i < kLinkCount; ++i) setWrench(chain.links.link_data_host[i], i + 1);
  chain.links.links[kUpper]->description->isIntermediate = true;
  chain.links.applyLinkForces();
  EXPECT_EQ(chain.base->getExternalForceLocal(), wrenchOf(chain.links.link_data_host[kBase]));
  EXPECT_EQ(chain.upper->getExternalForceLocal(), Eigen::Vector6d::Zero());
  EXPECT_EQ(chain.lower->getExternalForceLocal(), wrenchOf(chain.links.link_data_host[kLower]));

  // The world and one body: no link lies between the first and the last.
  skLinkMgr two(0);
  two.addLink(chain.links.links[kWorld]);
  two.addLink(chain.links.links[kUpper]);
  two.resizeLinkData();
  setWrench(two.link_data_host[1], 2);
  chain.upper->clearExternalForces();
  two.applyLinkForces();
  EXPECT_EQ(chain.upper->getExternalForceLocal(), Eigen::Vector6d::Zero());
}

// A wrench that is not finite or beyond the bound (a diverged fluid) is refused before any body gets its
// own, the good wrench of the link before it too; the bound itself passes.
TEST(skLinkMgr, ApplyLinkForcesRefusesAHugeWrenchAndAddsNone) {
  const double above = std::nextafter(kDivergedState, INFINITY);
  struct Case {
    int component;  // of the lower link's wrench: torque 0-2, force 3-5
    double value;
    const char* error;  // none: applied
  };
  std::vector<Case> cases = {{3, above, "reaches 100000000.00000001, beyond 1e+08"},
                             {2, -above, "reaches 100000000.00000001, beyond 1e+08"},
                             {4, -1e308, "reaches 1e+308"},
                             {3, kDivergedState, nullptr},
                             {2, -kDivergedState, nullptr}};
  for (int component = 0; component < 6; ++component)
    for (const double bad : {double(NAN), double(INFINITY), double(-INFINITY)})
      cases.push_back({component, bad, "is not finite"});
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " in component " << c.component);
    MovingChain chain;
    for (int i = 0; i < kLinkCount; ++i) setWrench(chain.links.link_data_host[i], i + 1);
    Eigen::Vector6d lower = wrenchOf(chain.links.link_data_host[kLower]);
    lower[c.component] = c.value;
    (c.component < 3 ? chain.links.link_data_host[kLower].torque[c.component]
                     : chain.links.link_data_host[kLower].force[c.component - 3]) = c.value;
    if (c.error == nullptr) {
      chain.links.applyLinkForces();
      EXPECT_EQ(chain.lower->getExternalForceLocal(), lower);
      continue;
    }
    const std::string what = testsupport::thrownWhat<std::runtime_error>([&] { chain.links.applyLinkForces(); });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, std::string("the force on link \"lower\" ") + c.error, what);
    for (const BodyNode* b : {chain.base, chain.upper, chain.lower})
      EXPECT_EQ(b->getExternalForceLocal(), Eigen::Vector6d::Zero()) << b->getName();
  }
}

}  // namespace
