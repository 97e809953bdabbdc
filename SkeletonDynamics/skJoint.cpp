#include "skJoint.h"

#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/Joint.hpp>

#include <cmath>
#include <stdexcept>
#include <utility>

#include "MeshLoad/hierachyNode.h"
#include "SkeletonDynamics/requireFinite.h"
#include "skeleton/SkeletonJoint.h"

skJoint::skJoint(dart::dynamics::JointPtr j, std::shared_ptr<SkeletonJoint> d)
    : description(std::move(d)), joint(std::move(j)) {
  if (!joint) throw std::invalid_argument("skJoint: no DART joint given");
  if (!description) throw std::invalid_argument("skJoint: no joint description given for \"" + joint->getName() + "\"");
  name = description->name;
}

skJoint::~skJoint() = default;

std::string skJoint::getJointType() const { return jointTypeName(description->type); }

std::string skJoint::getName() const { return joint->getName(); }

jointType skJoint::getType() const { return description->type; }

void skJoint::update() {
  if (!description->node) throw std::logic_error("skJoint::update: joint \"" + name + "\" has no hierarchy node");
  description->node->setLocalTransform(joint->getRelativeTransform());
}

std::size_t skJoint::requireDof(const char* operation, std::size_t index) const {
  if (index >= joint->getNumDofs())
    throw std::out_of_range("skJoint::" + std::string(operation) + ": index " + std::to_string(index) +
                            " is not below the " + std::to_string(joint->getNumDofs()) + " degrees of freedom of \"" +
                            name + "\"");
  return index;
}

double skJoint::requireValue(const char* operation, double value) const {
  return requireBounded(value, "skJoint::" + std::string(operation) + ": the value for \"" + name + "\"");
}

std::size_t skJoint::getNumDofs() const { return joint->getNumDofs(); }

void skJoint::setCommand(std::size_t index, double value) {
  joint->setCommand(requireDof("setCommand", index), requireValue("setCommand", value));
}

void skJoint::setForce(std::size_t index, double value) {
  joint->setForce(requireDof("setForce", index), requireValue("setForce", value));
}

void skJoint::setPositions(const Eigen::VectorXd& positions) {
  if (static_cast<std::size_t>(positions.size()) != joint->getNumDofs())
    throw std::invalid_argument("skJoint::setPositions: " + std::to_string(positions.size()) + " values for the " +
                                std::to_string(joint->getNumDofs()) + " degrees of freedom of \"" + name + "\"");
  requireBounded(positions, "skJoint::setPositions: the positions of \"" + name + "\"");
  joint->setPositions(positions);
}

void skJoint::setPosition(std::size_t index, double value) {
  joint->setPosition(requireDof("setPosition", index), requireValue("setPosition", value));
}

Eigen::VectorXd skJoint::getPositions() const { return joint->getPositions(); }

Eigen::VectorXd skJoint::getVelocities() const { return joint->getVelocities(); }

void skJoint::setVelocity(std::size_t index, double value) {
  joint->setVelocity(requireDof("setVelocity", index), requireValue("setVelocity", value));
}

Eigen::VectorXd skJoint::getAccelerations() const { return joint->getAccelerations(); }

void skJoint::setAcceleration(std::size_t index, double value) {
  joint->setAcceleration(requireDof("setAcceleration", index), requireValue("setAcceleration", value));
}

bool skJoint::setServoTarget(std::size_t index, double target, double dt) {
  const std::string what = "skJoint::setServoTarget: the ";
  requireDof("setServoTarget", index);
  requireBounded(target, what + "target for \"" + name + "\"");
  if (!(dt > 0) || !std::isfinite(dt))
    throw std::invalid_argument(what + "time step for \"" + name + "\" must be positive and finite, not " +
                                valueText(dt));
  // A tiny dt can still make the velocity huge.
  const double velocity =
      requireBounded((target - joint->getPosition(index)) / dt, what + "velocity for \"" + name + "\"");
  if (description->actuator == actuatorType::servo) joint->setCommand(index, velocity);
  return true;
}

Eigen::VectorXd skJoint::getPositionLowerLimits() const { return joint->getPositionLowerLimits(); }

Eigen::VectorXd skJoint::getPositionUpperLimits() const { return joint->getPositionUpperLimits(); }

Eigen::VectorXd skJoint::getForceLowerLimits() const { return joint->getForceLowerLimits(); }

Eigen::VectorXd skJoint::getForceUpperLimits() const { return joint->getForceUpperLimits(); }

Eigen::VectorXd skJoint::getVelocityLowerLimits() const { return joint->getVelocityLowerLimits(); }

Eigen::VectorXd skJoint::getVelocityUpperLimits() const { return joint->getVelocityUpperLimits(); }
