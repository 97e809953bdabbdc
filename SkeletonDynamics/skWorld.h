// The rigid-body side of the coupled simulation: a DART world, its articulated bodies in the order they
// were added, and the rigid-body time. The fluid step drives it through mlBaseCouplingSolver, one call
// of step per lattice step.
#pragma once

#include <Eigen/Core>

#include <cstddef>
#include <memory>
#include <vector>

#include "duriz/mlsolver/mlBaseCouplingSolver.h"

namespace dart::simulation {
class World;
}

class skSystem;

class skWorld : public mlBaseCouplingSolver {
 public:
  explicit skWorld(const Eigen::Vector3d& gravity);
  // Lets the bodies go, free to join another world.
  ~skWorld() override;

  // Gives the body a collision group of its skeleton's collision shapes and adds it to the world. Throws
  // std::invalid_argument for an empty pointer and for a body already in a living world (this or another).
  void addSkeleton(std::shared_ptr<skSystem> system);
  // Throws std::out_of_range for an index past the last body.
  std::shared_ptr<skSystem> getSkeleton(std::size_t index) const;
  float getTimestep() const;

  // What step checks before it changes anything: every body's hierarchy nodes (std::logic_error) and a
  // state within kDivergedState (std::runtime_error naming the body and joint).
  void requireSteppable() const;
  // Advances time by dt: the coupling forces of the mode (TWO_WAY: the fluid's point forces, scaled by
  // forceScale; EMPIRICAL: the empirical drag), the hooks, one DART step, every body's collision flag,
  // then the bodies' update (the empirical one after an EMPIRICAL step). Throws requireSteppable's errors
  // before it begins, and std::runtime_error for coupling forces or a state that DART's step made beyond
  // kDivergedState; such a refused step is undone: time, DART's state and the forces and commands to apply
  // are as they were.
  void step(int mode, float dt, float forceScale) override;
  // The device point set of every body, in body order.
  std::vector<IBBoundaryMemMgr*> getLagrangeBoundaries() override;
  // Within kDivergedState, else std::invalid_argument; a time step must also be positive.
  void setGravity(const Eigen::Vector3d& gravity) override;
  void setTimestep(float dt) override;
  // Time 0, the DART world reset, every body back to its initial state; refused by requireNodes before.
  void reset() override;
  // The first body's reference frame; null without bodies.
  dart::dynamics::Frame* getRefFrame() override;
  // Decided by the first body: inertial when it names no base frame. A world without bodies is inertial.
  bool isInertialFrame() override;

  float time = 0;  // accumulated rigid-body time (s)
  std::shared_ptr<dart::simulation::World> world;
  std::vector<std::shared_ptr<skSystem>> systems;
};
