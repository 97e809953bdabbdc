// The rigid-body side as the fluid step sees it.
#pragma once

#include <Eigen/Core>
#include <vector>

namespace dart::dynamics {
class Frame;
}

class IBBoundaryMemMgr;

class mlBaseCouplingSolver {
 public:
  // Advances the bodies by dt; in TWO_WAY the point forces just spread are applied, scaled by forceScale.
  virtual void step(int mode, float dt, float forceScale) = 0;
  // One device point set per body, valid while the solver lives.
  virtual std::vector<IBBoundaryMemMgr*> getLagrangeBoundaries() = 0;
  virtual void setGravity(const Eigen::Vector3d& gravity) = 0;
  virtual void setTimestep(float dt) = 0;
  virtual void reset() = 0;
  // The frame the fluid domain follows; null when there is none (the domain is then fixed in space).
  virtual dart::dynamics::Frame* getRefFrame() = 0;
  virtual bool isInertialFrame() = 0;

  virtual ~mlBaseCouplingSolver() = default;
};
