#include "skWorld.h"

#include <dart/collision/CollisionDetector.hpp>
#include <dart/collision/CollisionGroup.hpp>
#include <dart/collision/CollisionOption.hpp>
#include <dart/constraint/ConstraintSolver.hpp>
#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/DegreeOfFreedom.hpp>
#include <dart/dynamics/Joint.hpp>
#include <dart/dynamics/SimpleFrame.hpp>
#include <dart/dynamics/Skeleton.hpp>
#include <dart/simulation/World.hpp>

#include <cmath>
#include <stdexcept>
#include <string>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "SkeletonDynamics/requireFinite.h"
#include "duriz/mlsolver/couplingMode.h"
#include "skSystem.h"

namespace {

// DART ends the process on a state that has diverged far enough (its transforms fail): such a state
// becomes an error naming the body and the joint while it is still far from that.
void requireBoundedState(const skSystem& system, std::size_t index) {
  const dart::dynamics::Skeleton& skeleton = *system.skeleton;
  for (std::size_t i = 0; i < skeleton.getNumDofs(); ++i) {
    const dart::dynamics::DegreeOfFreedom* dof = skeleton.getDof(i);
    const double position = dof->getPosition(), velocity = dof->getVelocity();
    if (std::abs(position) <= kDivergedState && std::abs(velocity) <= kDivergedState) continue;
    throw std::runtime_error("step: body " + std::to_string(index) + " (\"" + skeleton.getName() +
                             "\") has diverged at joint \"" + dof->getJoint()->getName() + "\": position " +
                             valueText(position) + ", velocity " + valueText(velocity) +
                             ", beyond any physical motion (" + valueText(kDivergedState) +
                             "); lower its forces, gains or the time step, or reset");
  }
}

// What a step changes in DART, kept so that a refused step can be undone.
struct DartState {
  double time;
  double timeStep;
  std::vector<dart::dynamics::Skeleton::Configuration> configurations;  // per body
  std::vector<Eigen::Vector6d> wrenches;  // each body node's external wrench in its own frame, body by body
};

DartState saveState(const dart::simulation::World& world, const std::vector<std::shared_ptr<skSystem>>& systems) {
  DartState state{world.getTime(), world.getTimeStep(), {}, {}};
  for (const auto& system : systems) {
    state.configurations.push_back(system->skeleton->getConfiguration());
    for (std::size_t b = 0; b < system->skeleton->getNumBodyNodes(); ++b)
      state.wrenches.push_back(system->skeleton->getBodyNode(b)->getExternalForceLocal());
  }
  return state;
}

void restoreState(dart::simulation::World& world, const std::vector<std::shared_ptr<skSystem>>& systems,
                  const DartState& state) {
  world.setTime(state.time);
  world.setTimeStep(state.timeStep);
  auto wrench = state.wrenches.begin();
  for (std::size_t i = 0; i < systems.size(); ++i) {
    dart::dynamics::Skeleton& skeleton = *systems[i]->skeleton;
    skeleton.setConfiguration(state.configurations[i]);
    for (std::size_t b = 0; b < skeleton.getNumBodyNodes(); ++b, ++wrench) {
      dart::dynamics::BodyNode* body = skeleton.getBodyNode(b);
      body->clearExternalForces();
      body->addExtTorque(wrench->head<3>(), true);
      body->addExtForce(wrench->tail<3>(), Eigen::Vector3d::Zero(), true, true);
    }
  }
}

}  // namespace

skWorld::skWorld(const Eigen::Vector3d& gravity) : world(dart::simulation::World::create("world")) {
  world->setGravity(requireBounded(gravity, "DartWorld: the gravity"));
}

skWorld::~skWorld() {
  for (auto& system : systems) system->collisionGroup.reset();
}

void skWorld::addSkeleton(std::shared_ptr<skSystem> system) {
  if (!system) throw std::invalid_argument("addSkeleton: no body given (None)");
  // A body in two worlds, or twice in one, would be stepped twice per lattice step.
  if (system->collisionGroup)
    throw std::invalid_argument("addSkeleton: the body \"" + system->skeleton->getName() +
                                "\" is already in a world; a body belongs to one world, added once");
  std::shared_ptr<dart::collision::CollisionGroup> group =
      world->getConstraintSolver()->getCollisionDetector()->createCollisionGroup();
  // Shape nodes with a collision aspect: the link ellipsoids, not the joint spheres.
  group->addShapeFramesOf(system->skeleton.get());
  system->collisionGroup = group;
  systems.push_back(system);
  world->addSkeleton(system->skeleton);
}

std::shared_ptr<skSystem> skWorld::getSkeleton(std::size_t index) const {
  if (index >= systems.size())
    throw std::out_of_range("getSkeleton: index " + std::to_string(index) + " is out of range; the world holds " +
                            std::to_string(systems.size()) + " bodies");
  return systems[index];
}

float skWorld::getTimestep() const { return static_cast<float>(world->getTimeStep()); }

void skWorld::requireSteppable() const {
  for (std::size_t i = 0; i < systems.size(); ++i) {
    systems[i]->requireNodes("step");
    requireBoundedState(*systems[i], i);
  }
}

void skWorld::step(int mode, float dt, float forceScale) {
  requireSteppable();
  // Everything up to the check of DART's result is undone when it throws: a refused step changes nothing.
  const float timeBefore = time;
  const DartState before = saveState(*world, systems);
  try {
    time += dt;
    world->setTimeStep(dt);

    for (auto& system : systems) {
      if (mode == TWO_WAY)
        system->applyFluidForces(forceScale);
      else if (mode == EMPIRICAL)
        system->applyEmpiricalForces();
    }
    for (auto& system : systems)
      for (auto& hook : system->preStepHooks) hook(system.get(), time, dt);

    world->step(true);
    for (std::size_t i = 0; i < systems.size(); ++i) requireBoundedState(*systems[i], i);
  } catch (...) {
    time = timeBefore;
    restoreState(*world, systems, before);
    throw;
  }

  // A body is collided when its shapes touch those of any other body; a body alone never is.
  const dart::collision::CollisionOption option(false, 1, nullptr);
  for (auto& system : systems) {
    bool collided = false;
    for (auto& other : systems) {
      if (other == system) continue;
      if (system->collisionGroup->collide(other->collisionGroup.get(), option, nullptr)) {
        collided = true;
        break;
      }
    }
    system->beCollided = collided;
  }

  for (auto& system : systems)
    for (auto& hook : system->postCollisionHooks) hook(system.get(), dt);
  for (auto& system : systems)
    for (auto& hook : system->postStepHooks) hook(system.get(), time, dt);

  for (auto& system : systems) {
    if (mode == EMPIRICAL)
      system->updateEmpirical();
    else
      system->update();
  }
}

std::vector<IBBoundaryMemMgr*> skWorld::getLagrangeBoundaries() {
  std::vector<IBBoundaryMemMgr*> boundaries;
  for (auto& system : systems) boundaries.push_back(&system->sampler->memMgr);
  return boundaries;
}

void skWorld::setGravity(const Eigen::Vector3d& gravity) {
  world->setGravity(requireBounded(gravity, "setGravity: the gravity"));
}

void skWorld::setTimestep(float dt) {
  if (!(requireBounded(dt, "setTimestep: the time step") > 0))
    throw std::invalid_argument("setTimestep: the time step " + valueText(dt) + " is not positive");
  world->setTimeStep(dt);
}

void skWorld::reset() {
  for (auto& system : systems) system->requireNodes("reset");
  time = 0;
  world->reset();
  for (auto& system : systems) system->reset();
}

dart::dynamics::Frame* skWorld::getRefFrame() {
  if (systems.empty()) return nullptr;
  return systems.front()->simpleFrame.get();
}

bool skWorld::isInertialFrame() { return systems.empty() || systems.front()->baseFrameName.empty(); }
