// One link of an articulated body as scripts and the coupling see it: a DART body node (none for the
// world link and the reference-frame link), its frame, its description and its name. Every query reads
// DART and every command writes DART. The link holds the body node by DART's counted handle, so a link
// kept by a script keeps its skeleton alive.
#pragma once

#include <dart/dynamics/SmartPointer.hpp>

#include <Eigen/Geometry>

#include <memory>
#include <string>

#include "SkeletonDynamics/mlObject.h"
#include "SkeletonDynamics/skFrame.h"

class SkeletonLink;

class skLink final : public mlObject {
 public:
  // The link of a body node; its frame is the body node itself and its name the body node's name.
  skLink(dart::dynamics::BodyNodePtr body, std::shared_ptr<SkeletonLink> description);
  // A link without body: the world, or a reference frame; named after the frame.
  explicit skLink(std::shared_ptr<dart::dynamics::Frame> frame);
  ~skLink();

  // The body operations throw std::logic_error on a link without body.
  double getMass() const override;
  Eigen::Vector3d getLinearVelocity() const override;  // of the body frame origin
  Eigen::Vector3d getAngularVelocity() const override;
  Eigen::Vector3d getPointVelocity(const Eigen::Vector3d& point) const override;
  // Of the body's first shape node, the link ellipsoid; getPosition is thus the link centre, not the joint.
  Eigen::Vector3d getRotation() const override;
  Eigen::Vector3d getPosition() const override;
  void addExtForce(const Eigen::Vector3d& force, const Eigen::Vector3d& offset) override;
  void applyForce(const Eigen::Vector3d& force) override;
  void addExtTorque(const Eigen::Vector3d& torque) override;

  std::string getName() const { return name; }
  Eigen::Vector3d getLinearAcceleration() const;
  Eigen::Vector3d getAngularAcceleration() const;
  Eigen::Isometry3d getShapeTransform() const;

  dart::dynamics::BodyNodePtr body;
  std::shared_ptr<skFrame> frame;
  std::shared_ptr<SkeletonLink> description;  // empty for the links without body
  std::string name;                           // the frame's name at construction

 private:
  dart::dynamics::BodyNode& requireBody(const char* operation) const;
  Eigen::Isometry3d shapeTransform(const char* operation) const;
};
