// One DART joint of an articulated body with its description, as scripts see it. The joint is held by
// DART's counted handle, so a joint kept by a script keeps its skeleton alive.
#pragma once

#include <dart/dynamics/SmartPointer.hpp>

#include <Eigen/Core>

#include <cstddef>
#include <memory>
#include <string>

#include "skeleton/jointType.h"

class SkeletonJoint;

class skJoint {
 public:
  // Throws std::invalid_argument when the joint or the description is missing.
  skJoint(dart::dynamics::JointPtr joint, std::shared_ptr<SkeletonJoint> description);
  ~skJoint();

  // The description's kind ("continuous" for a continuous joint, which DART runs as a revolute one).
  std::string getJointType() const;
  std::string getName() const;  // the DART joint's current name
  // Writes the joint's transform from its parent body into the description's node, so that the skinned
  // mesh follows the dynamics.
  void update();

  // Forwarders to the DART joint. A degree-of-freedom index at or above getNumDofs throws
  // std::out_of_range, a vector of another length or a value that is not finite std::invalid_argument.
  std::size_t getNumDofs() const;
  void setCommand(std::size_t index, double value);
  void setForce(std::size_t index, double value);
  void setPositions(const Eigen::VectorXd& positions);
  void setPosition(std::size_t index, double value);
  Eigen::VectorXd getPositions() const;
  Eigen::VectorXd getVelocities() const;
  void setVelocity(std::size_t index, double value);
  Eigen::VectorXd getAccelerations() const;
  void setAcceleration(std::size_t index, double value);
  Eigen::VectorXd getPositionLowerLimits() const;
  Eigen::VectorXd getPositionUpperLimits() const;
  Eigen::VectorXd getForceLowerLimits() const;
  Eigen::VectorXd getForceUpperLimits() const;
  Eigen::VectorXd getVelocityLowerLimits() const;
  Eigen::VectorXd getVelocityUpperLimits() const;

  // For a servo actuator, commands DOF `index` the velocity that reaches `target` from its current
  // position in `dt` seconds; other actuators are left alone. Returns true whether or not it acted.
  // Checked whatever the actuator: an index as for the forwarders, a target that is not finite, a `dt`
  // that is not positive and finite, or a command that overflows throw std::invalid_argument.
  bool setServoTarget(std::size_t index, double target, double dt);

  const dart::dynamics::JointPtr& getDartJoint() const { return joint; }
  std::shared_ptr<SkeletonJoint> getDescription() const { return description; }
  jointType getType() const;

  std::shared_ptr<SkeletonJoint> description;
  dart::dynamics::JointPtr joint;
  std::string name;  // the description's name at construction, the joint manager's key

 private:
  std::size_t requireDof(const char* operation, std::size_t index) const;
  double requireValue(const char* operation, double value) const;
};
