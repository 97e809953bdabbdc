// The multi-body world: collision flags, what each coupling mode applies and updates, time step, reset and
// the reference frame.
#include <dart/dynamics/Skeleton.hpp>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "SkeletonDynamics/bodyFixture.h"
#include "simulatorInterface/simFixture.h"

namespace {

using Eigen::Vector3d;
using simtest::fish;

std::shared_ptr<skSystem> bar(const Vector3d& translation = Vector3d::Zero()) {
  return std::make_shared<skSystem>(handBuiltDescription(), 100, 0, translation, Vector3d::Zero(), Vector3d::Ones());
}

TEST(skWorld, OverlappingBodiesAreCollidedApartOrAloneNot) {
  skWorld world(Vector3d::Zero());
  const auto a = bar(), b = bar();
  world.addSkeleton(a);
  world.addSkeleton(b);
  world.step(NO_FLUID, 0.001f, 1);
  EXPECT_TRUE(a->beCollided);
  EXPECT_TRUE(b->beCollided);
  b->setHead(Vector3d(0, 10, 0), b->getBaseLinkFwd());
  world.step(NO_FLUID, 0.001f, 1);
  EXPECT_FALSE(a->beCollided);
  EXPECT_FALSE(b->beCollided);

  skWorld single(Vector3d::Zero());
  const auto c = bar();
  single.addSkeleton(c);
  c->beCollided = true;
  single.step(NO_FLUID, 0.001f, 1);
  EXPECT_FALSE(c->beCollided);
}

// A free fish moving along x in zero gravity, with a force on every point of its set along y (the force
// the fluid takes; the body feels the opposite): only TWO_WAY applies it, only EMPIRICAL brakes the fish,
// and the points follow the body in every mode but EMPIRICAL.
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
    const auto x0 = simtest::deviceArray(body->sampler->memMgr.coordx_dev, points.count);

    world.step(c.mode, 0.01f, 1);
    const Vector3d v = body->getCOMLinearVelocity();
    EXPECT_EQ(v.y() < -1e-3, c.pushed) << v.transpose();
    EXPECT_EQ(v.x() < v0.x() - 1e-3, c.braked) << v.transpose();
    EXPECT_EQ(simtest::deviceArray(body->sampler->memMgr.coordx_dev, points.count) != x0, c.pointsMove);
  }
}

TEST(skWorld, TimeStepTimeAndAnEmptyWorld) {
  skWorld world(Vector3d(0, -9.8, 0));
  world.addSkeleton(nullptr);
  EXPECT_TRUE(world.systems.empty());
  EXPECT_EQ(world.getRefFrame(), nullptr);
  EXPECT_TRUE(world.isInertialFrame());
  EXPECT_TRUE(world.getLagrangeBoundaries().empty());
  EXPECT_THROW(world.getSkeleton(0), std::out_of_range);

  world.setTimestep(0.01f);
  EXPECT_FLOAT_EQ(world.getTimestep(), 0.01f);
  world.step(TWO_WAY, 0.002f, 1);
  world.step(TWO_WAY, 0.002f, 1);
  EXPECT_FLOAT_EQ(world.getTimestep(), 0.002f);
  EXPECT_EQ(world.time, 0.002f + 0.002f);
}

TEST(skWorld, ResetReturnsTimeAndBodiesToTheStart) {
  skWorld world(Vector3d(0, -9.8, 0));
  const auto body = fish(jointType::floating, 100);
  world.addSkeleton(body);
  body->skeleton->setVelocity(3, 0.5);
  for (int i = 0; i < 5; ++i) world.step(NO_FLUID, 0.01f, 1);
  ASSERT_NE(body->getPositions(), body->initialPositions);
  world.reset();
  EXPECT_EQ(world.time, 0.0f);
  EXPECT_EQ(body->getPositions(), body->initialPositions);
  EXPECT_EQ(body->getVelocities(), body->initialVelocities);
}

TEST(skWorld, TheFirstBodyDecidesTheReferenceFrame) {
  const auto framed = [] {
    auto d = std::make_shared<SkeletonSystem>(simtest::kModels + "/fish.fbx", 0);
    d->baseFrameName = "[link]body::tail";
    return std::make_shared<skSystem>(d, 50, 0, Vector3d::Zero(), Vector3d::Zero(), Vector3d::Ones());
  };
  skWorld inertial(Vector3d::Zero()), moving(Vector3d::Zero());
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
}

}  // namespace
