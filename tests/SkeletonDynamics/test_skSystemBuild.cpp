// Building an articulated body from a description: link and joint order, joint kinds, shapes, actuated
// degrees of freedom, root placement and the descriptions that cannot be built.
#include <gtest/gtest.h>

#include <dart/collision/fcl/FCLCollisionDetector.hpp>
#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/EllipsoidShape.hpp>
#include <dart/dynamics/Joint.hpp>
#include <dart/dynamics/ShapeNode.hpp>
#include <dart/dynamics/Skeleton.hpp>

#include <functional>
#include <limits>
#include <stdexcept>

#include "SkeletonDynamics/bodyFixture.h"
#include "SkeletonDynamics/skJointMgr.h"
#include "SkeletonDynamics/skLinkMgr.h"
#include "SkeletonDynamics/skSystem.h"

namespace {

using Eigen::Vector3d;
using Names = std::vector<std::string>;

std::shared_ptr<skSystem> build(const std::shared_ptr<SkeletonSystem>& d,
                                const Vector3d& translation = Vector3d::Zero(),
                                const Vector3d& rotation = Vector3d::Zero()) {
  return std::make_shared<skSystem>(d, 200, 0, translation, rotation, Vector3d::Ones());
}

template <class T>
Names namesOf(const std::vector<std::shared_ptr<T>>& items) {
  Names names;
  for (const auto& item : items) names.push_back(item->name);
  return names;
}

TEST(skSystemBuild, LinksInPreOrderBetweenWorldAndReferenceFrame) {
  const auto d = handBuiltDescription();
  d->jointMap["bone0"]->limit = {{0.2}, {0.6}, {1}, {1}};
  const auto body = build(d);
  EXPECT_EQ(namesOf(body->linkMgr->links),
            (Names{"World", "[link]bone0::bone1", "[link]bone1::bone1_end", "[link]side::side_end", "simple_frame"}));
  EXPECT_EQ(namesOf(body->jointMgr->joints), (Names{"bone0", "bone1", "side"}));
  EXPECT_EQ(body->refLinkIdx, 4);
  EXPECT_EQ(body->frameLinkIdx, 0);
  EXPECT_EQ(body->skeleton->getName(), kModels + "/bar.fbx");
  EXPECT_EQ(body->linkMgr->link_data_host.size(), 5u);

  const auto& links = body->linkMgr->links;
  EXPECT_EQ(links[1]->body->getParentBodyNode(), nullptr);
  EXPECT_EQ(links[2]->body->getParentBodyNode(), links[1]->body.get());
  EXPECT_EQ(links[3]->body->getParentBodyNode(), links[1]->body.get());
  // The limits start the root between them, and that is the initial state.
  EXPECT_DOUBLE_EQ(body->initialPositions[0], 0.4);
  EXPECT_TRUE(body->skeleton->getJoint(0)->areLimitsEnforced());

  // The ellipsoid of the link collides and sits at the link centre; the joint sphere does not collide.
  const auto* bone1 = links[2]->body.get();
  ASSERT_EQ(bone1->getNumShapeNodes(), 2u);
  EXPECT_TRUE(bone1->getShapeNode(0)->has<dart::dynamics::CollisionAspect>());
  EXPECT_FALSE(bone1->getShapeNode(1)->has<dart::dynamics::CollisionAspect>());
  EXPECT_TRUE(bone1->getShapeNode(0)->getRelativeTransform().translation().isApprox(Vector3d(0.5, 0, 0)));
  EXPECT_TRUE(bone1->getLocalCOM().isApprox(Vector3d(0.5, 0, 0)));
  EXPECT_DOUBLE_EQ(bone1->getMass(), 1.0);
  // An ellipsoid of length 1 and width 0.02 along x: the moment about x is the smallest.
  const Eigen::Matrix3d I = bone1->getInertia().getMoment();
  EXPECT_NEAR(I(0, 0), 0.2 * (0.01 * 0.01 + 0.01 * 0.01), 1e-12);
  EXPECT_NEAR(I(1, 1), 0.2 * (0.5 * 0.5 + 0.01 * 0.01), 1e-12);
}

TEST(skSystemBuild, JointKindsAndActuators) {
  const auto d = handBuiltDescription();
  auto& root = *d->jointMap["bone0"];
  root.setJointType(jointType::floating);
  d->jointMap["bone1"]->actuator = actuatorType::passive;
  auto& side = *d->jointMap["side"];
  side.setJointType(jointType::continuous);
  side.useLimits = false;
  side.actuator = actuatorType::mimic;
  side.mimicJoint = "bone1";
  side.mimicMultiplier = 2;
  const auto body = build(d);

  EXPECT_EQ(body->actuatedDofs, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(body->getNumDofs(), 6u);
  EXPECT_EQ(body->getPositions(false).size(), 2);
  EXPECT_EQ(body->getPositions(true).size(), 8);
  const auto* sideJoint = body->getJoint("side")->joint.get();
  EXPECT_EQ(sideJoint->getMimicJoint(), body->getJoint("bone1")->joint.get());
  EXPECT_EQ(sideJoint->getMimicMultiplier(), 2);
  EXPECT_FALSE(sideJoint->areLimitsEnforced());
  EXPECT_EQ(sideJoint->getPositionUpperLimit(0), std::numeric_limits<double>::infinity());

  // A welded root drops nothing; a mimic name that names no joint is ignored.
  root.setJointType(jointType::fixed);
  side.mimicJoint = "nobody";
  side.actuator = actuatorType::servo;
  const auto welded = build(d);
  EXPECT_EQ(welded->getPositions(false).size(), 2);
  EXPECT_EQ(welded->getJoint("side")->joint->getMimicJoint(), nullptr);
  EXPECT_EQ(welded->actuatedDofs, (std::vector<std::size_t>{1}));
}

TEST(skSystemBuild, UnsupportedKindMakesNothingAndItsChildrenBecomeRoots) {
  const auto d = handBuiltDescription({{"root", "", Vector3d(0, 0, 0)},
                                       {"mid", "root", Vector3d(1, 0, 0), jointType::invalid},
                                       {"tip", "mid", Vector3d(2, 0, 0)},
                                       {"tip_end", "tip", Vector3d(3, 0, 0)}});
  testing::internal::CaptureStderr();
  const auto body = build(d);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("[DartLoader::createDartJoint] Unsupported joint type (invalid)"), std::string::npos) << err;
  EXPECT_NE(err.find("Conver to default joint Typemid"), std::string::npos) << err;
  EXPECT_EQ(namesOf(body->linkMgr->links), (Names{"World", "[link]root::mid", "[link]tip::tip_end", "simple_frame"}));
  EXPECT_EQ(body->getLink("[link]tip::tip_end")->body->getParentBodyNode(), nullptr);
  EXPECT_EQ(body->skeleton->getNumTrees(), 2u);
}

TEST(skSystemBuild, RootPlacement) {
  const auto d = handBuiltDescription();
  d->rootJoint->node->position = Vector3d(0.5, 0, 0);
  const auto body = build(d, Vector3d(1, 2, 3), Vector3d(90, 0, 0));
  const Eigen::Isometry3d T = body->getJoint("bone0")->joint->getTransformFromParentBodyNode();
  EXPECT_TRUE(T.translation().isApprox(Vector3d(1.5, 2, 3)));
  const Eigen::AngleAxisd turn(T.rotation());
  EXPECT_NEAR(turn.angle(), 90 / 180.0 * 3.1415, 1e-12);  // not pi / 2
  EXPECT_TRUE(turn.axis().isApprox(Vector3d::UnitX()));
}

TEST(skSystemBuild, DescriptionsThatCannotBeBuiltAreRejectedByName) {
  const struct {
    const char* name;
    std::function<void(SkeletonSystem&)> spoil;
  } cases[] = {
      {"nowhere", [](SkeletonSystem& d) { d.baseLinkName = "nowhere"; }},
      {"nowhere", [](SkeletonSystem& d) { d.baseFrameName = "nowhere"; }},
      {"bone1", [](SkeletonSystem& d) { d.jointLinkMap.erase("bone1"); }},
      {"side", [](SkeletonSystem& d) { d.jointMap["side"]->limit.upper.clear(); }},
      {"bone1_end", [](SkeletonSystem& d) { d.rootJoint = d.jointMap["bone1_end"]; }},
      {"bone0", [](SkeletonSystem& d) { d.rootJoint->type = jointType::invalid; }},
  };
  for (const auto& c : cases) {
    const auto d = handBuiltDescription();
    c.spoil(*d);
    testing::internal::CaptureStderr();
    try {
      build(d);
      ADD_FAILURE() << "built despite " << c.name;
    } catch (const std::invalid_argument& e) {
      EXPECT_NE(std::string(e.what()).find(std::string("\"") + c.name + "\""), std::string::npos) << e.what();
    }
    testing::internal::GetCapturedStderr();
  }
}

TEST(skSystemBuild, ZeroLengthLinkGetsATinyEllipsoidThatCollides) {
  auto specs = twoBranches();
  specs.back().position = specs[3].position;  // side_end on side
  const auto a = build(handBuiltDescription(specs));
  const auto b = build(handBuiltDescription(specs));
  const auto* side = a->getLink("[link]side::side_end")->body.get();
  const auto shape = std::dynamic_pointer_cast<const dart::dynamics::EllipsoidShape>(side->getShapeNode(0)->getShape());
  ASSERT_TRUE(shape);
  EXPECT_GT(shape->getDiameters().minCoeff(), 0);
  EXPECT_LT(shape->getDiameters().x(), 1e-3);
  EXPECT_TRUE(side->getInertia().verify(true));

  // Alone with the tiny link of the other body in the collision library.
  auto detector = dart::collision::FCLCollisionDetector::create();
  auto groupA = detector->createCollisionGroup(a->getLink("[link]side::side_end")->body.get());
  auto groupB = detector->createCollisionGroup(b->getLink("[link]side::side_end")->body.get());
  EXPECT_TRUE(groupA->collide(groupB.get()));
  b->getJoint("bone0")->joint->setTransformFromParentBodyNode(Eigen::Isometry3d(Eigen::Translation3d(0, 1, 0)));
  EXPECT_FALSE(groupA->collide(groupB.get()));
}

}  // namespace
