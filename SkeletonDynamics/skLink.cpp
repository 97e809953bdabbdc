#include "skLink.h"

#include <dart/dynamics/BodyNode.hpp>
#include <dart/dynamics/ShapeNode.hpp>
#include <dart/dynamics/Skeleton.hpp>

#include <stdexcept>
#include <utility>

#include "SkeletonDynamics/requireFinite.h"

using dart::dynamics::Frame;

namespace {

// A handle on the body node's frame that owns the skeleton, which owns the body node.
std::shared_ptr<Frame> bodyFrame(const dart::dynamics::BodyNodePtr& body) {
  if (!body) throw std::invalid_argument("skLink: no body node given");
  return std::shared_ptr<Frame>(body->getSkeleton(), body.get());
}

}  // namespace

skLink::skLink(dart::dynamics::BodyNodePtr b, std::shared_ptr<SkeletonLink> d)
    : body(std::move(b)), frame(std::make_shared<skFrame>(bodyFrame(body))), description(std::move(d)) {
  name = frame->frame->getName();
}

skLink::skLink(std::shared_ptr<Frame> f) : frame(std::make_shared<skFrame>(std::move(f))) {
  name = frame->frame->getName();
}

skLink::~skLink() = default;

dart::dynamics::BodyNode& skLink::requireBody(const char* operation) const {
  if (!body) throw std::logic_error("skLink::" + std::string(operation) + ": link \"" + name + "\" has no body");
  return *body;
}

double skLink::getMass() const { return requireBody("getMass").getMass(); }

Eigen::Vector3d skLink::getLinearVelocity() const { return requireBody("getLinearVelocity").getLinearVelocity(); }

Eigen::Vector3d skLink::getAngularVelocity() const { return requireBody("getAngularVelocity").getAngularVelocity(); }

Eigen::Vector3d skLink::getPointVelocity(const Eigen::Vector3d& point) const {
  const auto& b = requireBody("getPointVelocity");
  const Eigen::Isometry3d& T = b.getWorldTransform();
  const Eigen::Vector3d offset = T.linear().transpose() * (point - T.translation());
  return b.getLinearVelocity(offset, Frame::World(), Frame::World());
}

Eigen::Isometry3d skLink::shapeTransform(const char* operation) const {
  const auto& b = requireBody(operation);
  if (b.getNumShapeNodes() == 0)
    throw std::logic_error("skLink::" + std::string(operation) + ": the body of link \"" + name +
                           "\" has no shape node");
  return b.getShapeNode(0)->getWorldTransform();
}

Eigen::Isometry3d skLink::getShapeTransform() const { return shapeTransform("getShapeTransform"); }

// The rotation factor of the polar decomposition, as X-Y-Z Euler angles with the first in [0, pi].
Eigen::Vector3d skLink::getRotation() const { return shapeTransform("getRotation").rotation().eulerAngles(0, 1, 2); }

Eigen::Vector3d skLink::getPosition() const { return shapeTransform("getPosition").translation(); }

void skLink::addExtForce(const Eigen::Vector3d& force, const Eigen::Vector3d& offset) {
  requireBody("addExtForce")
      .addExtForce(requireBounded(force, "skLink::addExtForce: the force on \"" + name + "\""),
                   requireBounded(offset, "skLink::addExtForce: the offset on \"" + name + "\""), false, false);
}

void skLink::applyForce(const Eigen::Vector3d& force) {
  requireBody("applyForce")
      .addExtForce(requireBounded(force, "skLink::applyForce: the force on \"" + name + "\""), Eigen::Vector3d::Zero(),
                   false, true);
}

void skLink::addExtTorque(const Eigen::Vector3d& torque) {
  requireBody("addExtTorque")
      .addExtTorque(requireBounded(torque, "skLink::addExtTorque: the torque on \"" + name + "\""), false);
}

Eigen::Vector3d skLink::getLinearAcceleration() const {
  return requireBody("getLinearAcceleration").getLinearAcceleration();
}

Eigen::Vector3d skLink::getAngularAcceleration() const {
  return requireBody("getAngularAcceleration").getAngularAcceleration();
}
