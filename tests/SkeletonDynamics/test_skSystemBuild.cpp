// Building an articulated body: DART joint properties from joint descriptions, link and joint order, joint
// kinds, shapes, actuated degrees of freedom, root placement and the descriptions that cannot be built.
#include <dart/collision/fcl/FCLCollisionDetector.hpp>

#include <functional>
#include <limits>
#include <tuple>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "SkeletonDynamics/skJointProperties.h"
#include "SkeletonDynamics/skWorld.h"
#include "duriz/mlsolver/couplingMode.h"
#include "skFixture.h"

namespace {

using namespace sktest;
using testsupport::thrownWhat;
using Values = std::vector<double>;
constexpr double inf = std::numeric_limits<double>::infinity();

// Velocity limits 3, effort limits 7, spring 2, damping 0.5, friction 0.25 on every degree of freedom.
SkeletonJoint describedJoint(jointType type, const Values& lower, const Values& upper) {
  SkeletonJoint j;
  j.name = "elbow";
  j.node = std::make_shared<hierachyNode>("elbow", Isometry3d(Eigen::Translation3d(0, 1, 0)));
  j.setJointType(type);
  j.limit = {lower, upper, Values(lower.size(), 7.0), Values(lower.size(), 3.0)};
  j.springStiffness = 2.0;
  j.useDynamics = true;
  j.dynamics = {0.5, 0.25};
  return j;
}

// Entries: start, position limits, velocity limits, force upper limit, spring, damping, friction.
TEST(skJointProperties, LimitsStartPositionsAndDynamics) {
  const struct {
    jointType type;
    double lower, upper;
    bool limits, dynamics;
    Values expected;
  } cases[] = {{jointType::revolute, 0.2, 0.6, true, true, {0.4, 0.2, 0.6, -3, 3, 7, 2, 0.5, 0.25}},
               {jointType::revolute, -0.5, 0.5, true, true, {0, -0.5, 0.5, -3, 3, 7, 2, 0.5, 0.25}},
               {jointType::revolute, 0.2, inf, true, true, {0.2, 0.2, inf, -3, 3, 7, 2, 0.5, 0.25}},
               {jointType::revolute, -inf, -0.3, true, true, {-0.3, -inf, -0.3, -3, 3, 7, 2, 0.5, 0.25}},
               {jointType::revolute, inf, inf, true, true, {0, inf, inf, -3, 3, 7, 2, 0.5, 0.25}},
               {jointType::continuous, 0.2, 0.6, true, true, {0.4, -inf, inf, -3, 3, 7, 2, 0.5, 0.25}},
               {jointType::revolute, 0.2, 0.6, false, true, {0, -inf, inf, -inf, inf, inf, 2, 0.5, 0.25}},
               {jointType::revolute, 0.2, 0.6, true, false, {0.4, 0.2, 0.6, -3, 3, 7, 2, 0, 0}}};
  for (const auto& c : cases) {
    SkeletonJoint j = describedJoint(c.type, {c.lower}, {c.upper});
    j.useLimits = c.limits;
    j.useDynamics = c.dynamics;
    if (!c.limits) j.limit.lower.clear();  // not read without useLimits
    const auto p = c.type == jointType::continuous ? makeContinuousJointProperties(j) : makeRevoluteJointProperties(j);
    EXPECT_EQ((Values{p.mInitialPositions[0], p.mPositionLowerLimits[0], p.mPositionUpperLimits[0],
                      p.mVelocityLowerLimits[0], p.mVelocityUpperLimits[0], p.mForceUpperLimits[0],
                      p.mSpringStiffnesses[0], p.mDampingCoefficients[0], p.mFrictions[0]}),
              c.expected);
    EXPECT_EQ(p.mRestPositions[0], p.mInitialPositions[0]);
  }
  // Entry i serves degree of freedom i.
  const auto ball =
      makeUniqueProperties<dart::math::SO3Space>(describedJoint(jointType::ball, {0.1, -1, -inf}, {0.3, 1, -0.2}));
  EXPECT_TRUE(ball.mInitialPositions.isApprox(Vector3d(0.2, 0, -0.2)));
  EXPECT_EQ(ball.mRestPositions, ball.mInitialPositions);
  SkeletonJoint universal = describedJoint(jointType::universal, {0.2, 0.3}, {0.6, 0.7});
  universal.useLimits = false;
  EXPECT_FALSE(makeUniversalJointProperties(universal).mIsPositionLimitEnforced);
  // A free joint takes nothing from the description but its name and node.
  const auto free = makeFreeJointProperties(describedJoint(jointType::floating, Values(6, 0.2), Values(6, 0.6)));
  EXPECT_TRUE(free.mInitialPositions.isZero());
  EXPECT_EQ(free.mPositionLowerLimits[3], -inf);
  EXPECT_TRUE(free.mSpringStiffnesses.isZero() && free.mDampingCoefficients.isZero());
}

TEST(skJointProperties, FramesAxesAndActuators) {
  SkeletonJoint j = describedJoint(jointType::prismatic, {0}, {1});
  j.axis = {Vector3d(0, 0, 2)};
  const auto p = makePrismaticJointProperties(j);
  EXPECT_TRUE(p.mT_ParentBodyToJoint.isApprox(j.node->localTransform()));
  EXPECT_FALSE(p.mIsPositionLimitEnforced);
  EXPECT_TRUE(p.mAxis.isApprox(Vector3d::UnitZ()));
  j = describedJoint(jointType::planar, {0, 0, 0}, {1, 1, 1});
  j.axis = {Vector3d::UnitY(), Vector3d::UnitZ()};
  const auto planar = makePlanarJointProperties(j);
  EXPECT_TRUE(planar.mIsPositionLimitEnforced);
  EXPECT_TRUE(planar.mRotAxis.isApprox(Vector3d::UnitX()));

  const auto skeleton = Skeleton::create();
  auto* joint = skeleton->createJointAndBodyNodePair<RevoluteJoint>().first;
  for (int a = actuatorType::force; a <= actuatorType::locked; ++a) {
    setJointActuator(*joint, static_cast<actuatorType>(a));
    EXPECT_EQ(joint->getActuatorType(), static_cast<Joint::ActuatorType>(a));
  }
  joint->setName("tail");
  EXPECT_EQ(thrownWhat<std::invalid_argument>([&] { setJointActuator(*joint, static_cast<actuatorType>(99)); }),
            "joint \"tail\": actuator 99 names no actuator kind (force 0 to locked 6)");
  EXPECT_EQ(joint->getActuatorType(), Joint::LOCKED);
}

// Short limit lists are rejected at the build (a description's "side" case).
TEST(skJointProperties, IncompleteDescriptionsAreRejectedByName) {
  SkeletonJoint oneAxis = describedJoint(jointType::universal, {0, 0}, {1, 1});
  oneAxis.axis.pop_back();
  SkeletonJoint noNode = describedJoint(jointType::revolute, {0}, {1});
  noNode.node.reset();
  for (const std::function<void()>& make : {std::function<void()>([&] { makeUniversalJointProperties(oneAxis); }),
                                            std::function<void()>([&] { makeRevoluteJointProperties(noNode); })})
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "\"elbow\"", thrownWhat<std::invalid_argument>(make));
}

TEST(skSystemBuild, LinksInPreOrderBetweenWorldAndReferenceFrameAndThePlacedRoot) {
  const auto d = handBuilt();
  d->jointMap["bone0"]->limit = {{0.2}, {0.6}, {1}, {1}};
  d->rootJoint->node->position = Vector3d(0.5, 0, 0);
  const auto body = build(d, 200, Vector3d(1, 2, 3), Vector3d(90, 0, 0));
  const auto& links = body->linkMgr->links;
  EXPECT_EQ(namesOf(links),
            (Names{"World", "[link]bone0::bone1", "[link]bone1::bone1_end", "[link]side::side_end", "simple_frame"}));
  EXPECT_EQ(namesOf(body->jointMgr->joints), (Names{"bone0", "bone1", "side"}));
  EXPECT_EQ(body->refLinkIdx, 4);
  EXPECT_EQ(body->frameLinkIdx, 0);
  EXPECT_EQ(links[1]->body->getParentBodyNode(), nullptr);
  EXPECT_EQ(links[2]->body->getParentBodyNode(), links[1]->body.get());
  EXPECT_EQ(links[3]->body->getParentBodyNode(), links[1]->body.get());
  // The limits start the root between them, and that is the initial state.
  EXPECT_DOUBLE_EQ(body->initialPositions[0], 0.4);
  EXPECT_TRUE(body->skeleton->getJoint(0)->areLimitsEnforced());
  // The root is placed at its node plus the translation, turned by degrees converted with 3.1415.
  const Isometry3d T = body->getJoint("bone0")->joint->getTransformFromParentBodyNode();
  EXPECT_TRUE(T.translation().isApprox(Vector3d(1.5, 2, 3)));
  const Eigen::AngleAxisd turn(T.rotation());
  EXPECT_NEAR(turn.angle(), 90 / 180.0 * 3.1415, 1e-12);  // not pi / 2
  EXPECT_TRUE(turn.axis().isApprox(Vector3d::UnitX()));

  // The link's ellipsoid collides and sits at the link centre; the joint sphere does not collide.
  const auto* bone1 = links[2]->body.get();
  ASSERT_EQ(bone1->getNumShapeNodes(), 2u);
  EXPECT_TRUE(bone1->getShapeNode(0)->has<CollisionAspect>());
  EXPECT_FALSE(bone1->getShapeNode(1)->has<CollisionAspect>());
  EXPECT_TRUE(bone1->getShapeNode(0)->getRelativeTransform().translation().isApprox(Vector3d(0.5, 0, 0)));
  EXPECT_TRUE(bone1->getLocalCOM().isApprox(Vector3d(0.5, 0, 0)));
  EXPECT_DOUBLE_EQ(bone1->getMass(), 1.0);
  // An ellipsoid of length 1 and width 0.02 along x: the moment about x is the smallest.
  const Eigen::Matrix3d I = bone1->getInertia().getMoment();
  EXPECT_NEAR(I(0, 0), 0.2 * (0.01 * 0.01 + 0.01 * 0.01), 1e-12);
  EXPECT_NEAR(I(1, 1), 0.2 * (0.5 * 0.5 + 0.01 * 0.01), 1e-12);
}

TEST(skSystemBuild, JointKindsAndActuatedDofs) {
  const auto d = handBuilt();
  auto &root = *d->jointMap["bone0"], &side = *d->jointMap["side"];
  root.setJointType(jointType::floating);
  d->jointMap["bone1"]->actuator = actuatorType::passive;
  side.setJointType(jointType::continuous);
  side.useLimits = false;
  side.actuator = actuatorType::mimic;
  side.mimicJoint = "bone1";
  side.mimicMultiplier = 2;
  auto body = build(d);
  EXPECT_EQ(body->actuatedDofs, (std::vector<std::size_t>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(body->getNumDofs(), 6u);
  EXPECT_EQ(body->getPositions(false).size(), 2);
  const auto* sideJoint = body->getJoint("side")->joint.get();
  EXPECT_EQ(sideJoint->getMimicJoint(), body->getJoint("bone1")->joint.get());
  EXPECT_EQ(sideJoint->getMimicMultiplier(), 2);
  EXPECT_FALSE(sideJoint->areLimitsEnforced());
  EXPECT_EQ(sideJoint->getPositionUpperLimit(0), inf);

  // A welded root drops nothing; a mimic name that names no joint is ignored.
  body.reset();  // a description serves one living body
  root.setJointType(jointType::fixed);
  side.mimicJoint = "nobody";
  side.actuator = actuatorType::servo;
  const auto welded = build(d);
  EXPECT_EQ(welded->getPositions(false).size(), 2);
  EXPECT_EQ(welded->getJoint("side")->joint->getMimicJoint(), nullptr);
  EXPECT_EQ(welded->actuatedDofs, (std::vector<std::size_t>{1}));
}

// A ball joint (side, below a welded root) on acceleration commands, started inside its limits. With the
// commanded acceleration along the start every turn is about one axis, and the world's integration gives
// v_n = n a dt and q_n = q_0 + n (n + 1) / 2 a dt^2; the body turns about the joint by q_n.
TEST(skSystemBuild, BallJointTurnsItsThreeDofsAsCommanded) {
  const auto d = handBuilt();
  d->rootJoint->setJointType(jointType::fixed);
  d->jointMap["bone1"]->actuator = actuatorType::passive;
  SkeletonJoint& side = *d->jointMap["side"];
  side.setJointType(jointType::ball);
  side.actuator = actuatorType::acceleration;
  side.limit = {{0.1, 0.2, -0.9}, {0.3, 0.6, -0.3}, {100, 100, 100}, {10, 10, 10}};  // zero outside every range
  const Vector3d start(0.2, 0.4, -0.6), a = 10 * start;
  skWorld world(Vector3d::Zero());
  const auto body = build(d, 50);
  world.addSkeleton(body);
  const auto joint = body->getJoint("side");
  ASSERT_TRUE(joint);
  EXPECT_EQ(joint->joint->getType(), BallJoint::getStaticType());
  expectNear(joint->getPositions(), start, 1e-15);
  const float dt = 0.01f;
  const double h = dt;  // the world's time step
  const int n = 10;
  for (int k = 0; k < n; ++k) {
    body->setCommands(a);  // each step clears the commands
    world.step(NO_FLUID, dt, 1);
  }
  expectNear(joint->getVelocities(), n * a * h, 1e-12);
  const Vector3d q = start + n * (n + 1) / 2.0 * a * h * h;
  expectNear(joint->getPositions(), q, 1e-9);  // the rotation's exponential and logarithm round
  const Isometry3d expected = Eigen::Translation3d(0, 0, 1) * Eigen::AngleAxisd(q.norm(), q.normalized());
  EXPECT_TRUE(body->getLink("[link]side::side_end")->body->getWorldTransform().isApprox(expected, 1e-9));
}

TEST(skSystemBuild, UnsupportedKindMakesNothingAndItsChildrenBecomeRoots) {
  const auto d = handBuilt({{"root", "", Vector3d(0, 0, 0)},
                            {"mid", "root", Vector3d(1, 0, 0), jointType::invalid},
                            {"tip", "mid", Vector3d(2, 0, 0)},
                            {"tip_end", "tip", Vector3d(3, 0, 0)}});
  testing::internal::CaptureStderr();
  const auto body = build(d);
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "[DartLoader::createDartJoint] Unsupported joint type (invalid)", err);
  EXPECT_PRED_FORMAT2(testing::IsSubstring, "Conver to default joint Typemid", err);
  EXPECT_EQ(namesOf(body->linkMgr->links), (Names{"World", "[link]root::mid", "[link]tip::tip_end", "simple_frame"}));
  EXPECT_EQ(body->linkMgr->links[2]->body->getParentBodyNode(), nullptr);
  EXPECT_EQ(body->skeleton->getNumTrees(), 2u);
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
    const auto d = handBuilt();
    c.spoil(*d);
    testing::internal::CaptureStderr();
    const std::string what = thrownWhat<std::invalid_argument>([&] { build(d); });
    testing::internal::GetCapturedStderr();
    EXPECT_PRED_FORMAT2(testing::IsSubstring, std::string("\"") + c.name + "\"", what);
  }
}

// Sets a field and returns what sets it back.
template <class T>
std::function<void()> spoilt(T& field, T value) {
  const T old = field;
  field = value;
  return [&field, old] { field = old; };
}

// A refusal at any stage of the build leaves the description free and as it was: mended, it builds the
// body that a freshly loaded description gives.
TEST(skSystemBuild, ADescriptionBuildsAgainAfterARefusedBuild) {
  struct Args {
    int gpuId = 0, sampleNum = 100;
    Vector3d translation = Vector3d(0, 0.5, 0);
  };
  using Built = std::tuple<Names, Eigen::VectorXd, std::vector<float>, std::vector<Vector3d>>;
  const auto built = [](const std::shared_ptr<SkeletonSystem>& d, const Args& a = {}) {
    const auto body =
        std::make_shared<skSystem>(d, a.sampleNum, a.gpuId, a.translation, Vector3d(0, 0, 30), Vector3d::Ones());
    const mlLagrangeBoundary& b = *body->sampler->boundary;
    std::vector<float> points;
    for (int i = 0; i < b.count; ++i) points.insert(points.end(), {b.coordx[i], b.coordy[i], b.coordz[i]});
    return Built{namesOf(body->linkMgr->links), body->getPositions(true), points, body->markers->getMarkersPos()};
  };
  const Built fresh = built(fishDescription(jointType::revolute));
  ASSERT_EQ(std::get<3>(fresh).size(), 2u);
  const double nan = std::nan("");
  const struct {
    const char* refusal;
    std::function<std::function<void()>(SkeletonSystem&, Args&)> spoil;
  } cases[] = {
      {"link \"[link]tail::caudal\": mass = 0", [](SkeletonSystem& d, Args&) { return spoilt(d.links[1]->mass, 0.0); }},
      {"gpuId 1", [](SkeletonSystem&, Args& a) { return spoilt(a.gpuId, 1); }},
      {"marker placement 0",
       [](SkeletonSystem& d, Args&) { return spoilt(d.markerPlacements, {Vector3d(1e9, 0, 0)}); }},
      {"\"tail\": limit.lower[0] = 1",
       [](SkeletonSystem& d, Args&) { return spoilt(d.jointMap["tail"]->limit.lower[0], 1.0); }},
      {"base frame name \"nowhere\"",
       [](SkeletonSystem& d, Args&) { return spoilt(d.baseFrameName, std::string("nowhere")); }},
      {"base link name \"nowhere\"",
       [](SkeletonSystem& d, Args&) { return spoilt(d.baseLinkName, std::string("nowhere")); }},
      {"sampleNum -1", [](SkeletonSystem&, Args& a) { return spoilt(a.sampleNum, -1); }},
      {"the translation", [&](SkeletonSystem&, Args& a) { return spoilt(a.translation, Vector3d(nan, 0, 0)); }},
  };
  for (const auto& c : cases) {
    const auto d = fishDescription(jointType::revolute);
    Args args;
    const std::function<void()> mend = c.spoil(*d, args);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, c.refusal, thrownWhat<std::invalid_argument>([&] { built(d, args); }));
    mend();
    EXPECT_FALSE(d->usedByBody);
    EXPECT_EQ(built(d), fresh);
  }
}

TEST(skSystemBuild, ZeroLengthLinkGetsATinyEllipsoidThatCollides) {
  auto specs = twoBranches();
  specs.back().position = specs[3].position;  // side_end on side
  const auto a = build(handBuilt(specs)), b = build(handBuilt(specs));
  const auto* side = a->getLink("[link]side::side_end")->body.get();
  const auto shape = std::dynamic_pointer_cast<const EllipsoidShape>(side->getShapeNode(0)->getShape());
  ASSERT_TRUE(shape);
  EXPECT_GT(shape->getDiameters().minCoeff(), 0);
  EXPECT_LT(shape->getDiameters().x(), 1e-3);
  EXPECT_TRUE(side->getInertia().verify(true));
  // Alone with the tiny link of the other body in the collision library.
  auto detector = dart::collision::FCLCollisionDetector::create();
  auto groupA = detector->createCollisionGroup(side);
  auto groupB = detector->createCollisionGroup(b->getLink("[link]side::side_end")->body.get());
  EXPECT_TRUE(groupA->collide(groupB.get()));
  b->getJoint("bone0")->joint->setTransformFromParentBodyNode(Isometry3d(Eigen::Translation3d(0, 1, 0)));
  EXPECT_FALSE(groupA->collide(groupB.get()));
}

}  // namespace
