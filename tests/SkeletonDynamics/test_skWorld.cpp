// The multi-body world: collision flags, what each coupling mode applies and updates, time step, reset and
// the reference frame.
#include <dart/simulation/World.hpp>

#include <cmath>
#include <functional>
#include <limits>
#include <string>
#include <vector>

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
  // The hooks around each step, in turn; the post-collision hooks get the body with this step's flag, and dt.
  std::vector<std::string> calls;
  a->preStepHooks.push_back([&](skSystem*, float, float) { calls.push_back("pre"); });
  a->postCollisionHooks.push_back([&](skSystem* s, float dt) {
    EXPECT_EQ(s, a.get());
    EXPECT_EQ(dt, 0.001f);
    calls.push_back(s->beCollided ? "collided" : "apart");
  });
  a->postStepHooks.push_back([&](skSystem*, float, float) { calls.push_back("post"); });
  world.step(NO_FLUID, 0.001f, 1);
  EXPECT_TRUE(a->beCollided && b->beCollided);
  b->setHead(Vector3d(0, 10, 0), b->getBaseLinkFwd());
  c->beCollided = true;
  world.step(NO_FLUID, 0.001f, 1);
  single.step(NO_FLUID, 0.001f, 1);
  EXPECT_FALSE(a->beCollided || b->beCollided || c->beCollided);
  EXPECT_EQ(calls, (std::vector<std::string>{"pre", "collided", "post", "pre", "apart", "post"}));
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

// The host road of the two-way forces against the device road: the same moving fish, the same point forces
// (on the device, where the fluid leaves them), the same link wrenches to rounding and the same motion after
// the step.
TEST(skWorld, TwoWayForcesAreTheSameOnTheHostRoad) {
  std::vector<skLinkData> records[2];
  Eigen::VectorXd velocities[2];
  for (int road = 0; road < 2; ++road) {
    skWorld world(Vector3d::Zero());
    const auto body = fish(jointType::floating, 200);
    world.addSkeleton(body);
    body->skeleton->setVelocities(Eigen::VectorXd::LinSpaced(body->skeleton->getNumDofs(), -1.0, 2.0));
    body->update();
    body->sampler->download();
    mlLagrangeBoundary& points = *body->sampler->boundary;
    for (int i = 0; i < points.count; ++i)
      points.forcex[i] = 800 * std::sin(i), points.forcey[i] = 500 * std::cos(3 * i), points.forcez[i] = 300;
    body->sampler->memMgr.upload();
    for (double* f : {points.forcex, points.forcey, points.forcez}) std::fill(f, f + points.count, 0.0);
    for (auto& r : body->linkMgr->link_data_host) setWrench(r, 9.0);
    body->useGpu = road == 0;
    world.step(TWO_WAY, 0.002f, 0.5f);
    records[road] = body->linkMgr->link_data_host;
    velocities[road] = body->skeleton->getVelocities();
  }
  ASSERT_EQ(records[1].size(), 5u);
  for (std::size_t l = 0; l < 5; ++l) {
    const Eigen::Vector6d device = wrenchOf(records[0][l]);
    EXPECT_EQ(device.isZero(0), l == 0 || l == 4) << l;  // the world and the reference frame have no points
    expectNear(wrenchOf(records[1][l]), device, 1e-12 * device.norm());
  }
  EXPECT_GT((velocities[0] - Eigen::VectorXd::LinSpaced(velocities[0].size(), -1.0, 2.0)).norm(), 0.1);
  expectNear(velocities[1], velocities[0], 1e-12 * velocities[0].norm());
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

// A step is refused before it begins (a joint without node, which the update needs; a state found beyond
// the bound or not a number, set past the joint's checks as a diverged fluid or controller would), when the
// coupling forces are beyond the bound (a diverged fluid), or when DART's step made a state beyond it (here
// a hook's): every time it changes nothing, however often it is tried: not the time, the state, the force a
// script applied for the next step, nor the hooks after the step. The message names the body by its index.
TEST(skWorld, ARefusedStepChangesNothing) {
  struct Case {
    std::string name;
    std::function<void(skSystem&)> spoil;
    couplingMode mode;
    std::vector<std::string> errors;  // each in the message
  };
  std::vector<Case> cases = {
      {"no node", [](skSystem& s) { s.description->joints[1]->node = nullptr; }, NO_FLUID, {"has no hierarchy node"}},
      {"point forces",
       [](skSystem& s) {
         mlLagrangeBoundary& points = *s.sampler->boundary;
         std::fill(points.forcey, points.forcey + points.count, 1e30);
         s.sampler->memMgr.upload();
       },
       TWO_WAY,
       {"beyond 1e+08, the bound on any value that enters the dynamics"}},
  };
  const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity(), far = 2 * kDivergedState;
  const struct {
    bool velocity, madeInTheStep;
    double value;
  } states[] = {{true, true, far},    {true, true, -far},  {false, true, far},  {false, true, -far},
                {true, false, far},   {true, false, nan},  {true, false, inf},  {true, false, -inf},
                {false, false, -far}, {false, false, nan}, {false, false, inf}, {false, false, -inf}};
  for (const auto& d : states) {
    const auto diverge = [d](skSystem& s) {
      Joint& tail = *s.getJoint("tail")->joint;
      d.velocity ? tail.setVelocity(0, d.value) : tail.setPosition(0, d.value);
    };
    std::function<void(skSystem&)> spoil = diverge;
    if (d.madeInTheStep)
      spoil = [diverge](skSystem& s) {
        s.preStepHooks.push_back([diverge](skSystem* b, float, float) { diverge(*b); });
      };
    cases.push_back({std::string(d.velocity ? "velocity " : "position ") + std::to_string(d.value) +
                         (d.madeInTheStep ? " made in the step" : " found"),
                     spoil,
                     NO_FLUID,
                     {"step: body 1 (", ") has diverged at joint \""}});
  }
  // Bit for bit, a NaN the same as a NaN.
  const auto same = [](const Eigen::VectorXd& a, const Eigen::VectorXd& b) {
    return a.size() == b.size() && ((a.array() == b.array()) || (a.array().isNaN() && b.array().isNaN())).all();
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    skWorld world(Vector3d(0, -9.8, 0));
    const auto calm = fish(jointType::revolute, 50),
               body = build(fishDescription(jointType::floating), 50, Vector3d(0, 1, 0));
    world.addSkeleton(calm);
    world.addSkeleton(body);
    body->skeleton->setVelocity(3, 0.5);
    world.step(c.mode, 0.001f, 1);
    int stepsDone = 0;
    body->postStepHooks.push_back([&](skSystem*, float, float) { ++stepsDone; });
    c.spoil(*body);
    body->getLink("[link]body::tail")->applyForce(Vector3d(0, 0, 1));
    const Eigen::VectorXd q = body->getPositions(), v = body->getVelocities();
    const BodyNode* pushed = body->getLink("[link]body::tail")->body.get();
    const Eigen::Vector6d wrench = pushed->getExternalForceLocal();
    for (int attempt = 0; attempt < 2; ++attempt) {
      const std::string what = testsupport::thrownWhat<std::exception>([&] { world.step(c.mode, 0.001f, 1); });
      for (const std::string& error : c.errors) EXPECT_PRED_FORMAT2(testing::IsSubstring, error, what);
      EXPECT_EQ(world.time, 0.001f);
      EXPECT_EQ(world.world->getTime(), double(0.001f));
      EXPECT_TRUE(same(body->getPositions(), q)) << body->getPositions().transpose();
      EXPECT_TRUE(same(body->getVelocities(), v)) << body->getVelocities().transpose();
      for (std::size_t b = 0; b < body->skeleton->getNumBodyNodes(); ++b)
        EXPECT_EQ(body->skeleton->getBodyNode(b)->getExternalForceLocal(),
                  body->skeleton->getBodyNode(b) == pushed ? wrench : Eigen::Vector6d::Zero())
            << b;
    }
    EXPECT_EQ(stepsDone, 0);
  }
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
