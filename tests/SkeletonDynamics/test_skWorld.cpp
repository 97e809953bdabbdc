// The multi-body world: collision flags, what each coupling mode applies and updates, time step, reset and
// the reference frame.
#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "SkeletonDynamics/requireFinite.h"
#include "SkeletonDynamics/skJoint.h"
#include "SkeletonDynamics/skWorld.h"
#include "duriz/mlsolver/couplingMode.h"
#include "skFixture.h"

namespace {

using namespace sktest;

TEST(skWorld, OverlappingBodiesAreCollidedApartOrAloneNot) {
  skWorld world(Vector3d::Zero()), single(Vector3d::Zero());
  const auto a = build(handBuilt(), 100), b = build(handBuilt(), 100), c = build(handBuilt(), 100);
  world.addSkeleton(a);
  world.addSkeleton(b);
  single.addSkeleton(c);
  world.step(NO_FLUID, 0.001f, 1);
  EXPECT_TRUE(a->beCollided && b->beCollided);
  b->setHead(Vector3d(0, 10, 0), b->getBaseLinkFwd());
  c->beCollided = true;
  world.step(NO_FLUID, 0.001f, 1);
  single.step(NO_FLUID, 0.001f, 1);
  EXPECT_FALSE(a->beCollided || b->beCollided || c->beCollided);
}

// A free fish moving along x in zero gravity, with a force on every point along y (the force the fluid
// takes; the body feels the opposite): only TWO_WAY applies it, only EMPIRICAL brakes the fish and brings
// its surface to the host, and the points follow the body in every mode but EMPIRICAL.
TEST(skWorld, EachModeAppliesItsForcesAndUpdates) {
  const struct {
    couplingMode mode;
    bool pushed, braked, pointsMove;
  } cases[] = {{TWO_WAY, true, false, true},
               {ONE_WAY, false, false, true},
               {NO_FLUID, false, false, true},
               {EMPIRICAL, false, true, false}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    skWorld world(Vector3d::Zero());
    const auto body = fish(jointType::floating, 200);
    world.addSkeleton(body);
    body->skeleton->setVelocity(3, 0.5);  // the free root's x translation
    mlLagrangeBoundary& points = *body->sampler->boundary;
    std::fill(points.forcey, points.forcey + points.count, 1000.0);
    body->sampler->memMgr.upload();
    const Vector3d v0 = body->getCOMLinearVelocity();
    const auto x0 = deviceArray(body->sampler->memMgr.coordx_dev, points.count);
    const Vector3d& surface = body->description->mesh->meshes[0]->data_cpu.curr_positions[0];
    const Vector3d surface0 = surface;

    world.step(c.mode, 0.01f, 1);
    const Vector3d v = body->getCOMLinearVelocity();
    EXPECT_EQ(v.y() < -1e-3, c.pushed) << v.transpose();
    EXPECT_EQ(v.x() < v0.x() - 1e-3, c.braked) << v.transpose();
    EXPECT_EQ(deviceArray(body->sampler->memMgr.coordx_dev, points.count) != x0, c.pointsMove);
    EXPECT_TRUE(c.mode != EMPIRICAL || (surface - surface0).norm() > 1e-3);  // the drag reads the host surface
  }
}

// Time steps replace each other; reset gives time 0 and the bodies' initial state.
TEST(skWorld, TimeStepsTimeAndReset) {
  skWorld world(Vector3d(0, -9.8, 0));
  world.setTimestep(0.01f);
  const auto body = fish(jointType::floating, 100);
  world.addSkeleton(body);
  body->skeleton->setVelocity(3, 0.5);
  for (int i = 0; i < 5; ++i) world.step(NO_FLUID, 0.002f, 1);
  EXPECT_FLOAT_EQ(world.getTimestep(), 0.002f);
  EXPECT_FLOAT_EQ(world.time, 5 * 0.002f);
  ASSERT_NE(body->getPositions(), body->initialPositions);
  world.reset();
  EXPECT_EQ(world.time, 0.0f);
  EXPECT_EQ(body->getPositions(), body->initialPositions);
  EXPECT_EQ(body->getVelocities(), body->initialVelocities);
}

// A state beyond any physical motion would end DART within a few steps: the step that makes it raises
// right after DART's step, before hooks and updates take the state; a later step raises before it begins.
TEST(skWorld, ADivergedStateRaisesAtTheStepThatMadeItAndAtEveryLaterOne) {
  skWorld world(Vector3d::Zero());
  const auto calm = fish(jointType::revolute, 50),
             body = build(fishDescription(jointType::revolute), 50, Vector3d(0, 1, 0));
  world.addSkeleton(calm);
  world.addSkeleton(body);
  int stepsDone = 0;
  body->preStepHooks.push_back(
      [](skSystem* s, float, float) { s->getJoint("tail")->joint->setVelocity(0, 2 * kDivergedState); });
  body->postStepHooks.push_back([&](skSystem*, float, float) { ++stepsDone; });
  for (int attempt = 0; attempt < 2; ++attempt) {
    const std::string what = testsupport::thrownWhat<std::runtime_error>([&] { world.step(NO_FLUID, 0.001f, 1); });
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "body 1 (", what);
    EXPECT_PRED_FORMAT2(testing::IsSubstring, "has diverged at joint \"", what);
  }
  EXPECT_EQ(stepsDone, 0);
  EXPECT_FLOAT_EQ(world.time, 0.001f);
}

TEST(skWorld, AnEmptyWorldIsInertialAndTheFirstBodyDecidesTheReferenceFrame) {
  const auto framed = [] {
    auto d = fishDescription(jointType::revolute);
    d->baseFrameName = "[link]body::tail";
    return build(d, 50);
  };
  skWorld inertial(Vector3d::Zero()), moving(Vector3d::Zero());
  // Without bodies: inertial, no frame, no point sets; adding none is refused.
  EXPECT_THROW(moving.addSkeleton(nullptr), std::invalid_argument);
  EXPECT_TRUE(moving.isInertialFrame() && moving.getRefFrame() == nullptr && moving.getLagrangeBoundaries().empty());
  EXPECT_THROW(moving.getSkeleton(0), std::out_of_range);
  moving.step(TWO_WAY, 0.002f, 1);
  inertial.addSkeleton(fish(jointType::revolute, 50));
  inertial.addSkeleton(framed());
  EXPECT_TRUE(inertial.isInertialFrame());
  const auto first = framed(), second = fish(jointType::revolute, 50);
  moving.addSkeleton(first);
  moving.addSkeleton(second);
  EXPECT_FALSE(moving.isInertialFrame());
  EXPECT_EQ(moving.getRefFrame(), first->simpleFrame.get());
  EXPECT_EQ(moving.getSkeleton(1), second);
  EXPECT_EQ(moving.getLagrangeBoundaries(),
            (std::vector<IBBoundaryMemMgr*>{&first->sampler->memMgr, &second->sampler->memMgr}));
  // A body is added to one world, once.
  EXPECT_THROW(moving.addSkeleton(first), std::invalid_argument);
  EXPECT_EQ(moving.systems.size() + inertial.systems.size(), 4u);
  // Once its world is gone, a body may join another.
  auto gone = std::make_unique<skWorld>(Vector3d::Zero());
  auto body = fish(jointType::revolute, 50);
  gone->addSkeleton(body);
  gone.reset();
  inertial.addSkeleton(body);
  EXPECT_EQ(inertial.getSkeleton(2), body);
}

}  // namespace
