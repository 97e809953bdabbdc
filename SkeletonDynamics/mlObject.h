// What scripts and the coupling ask of a moving object: mass, motion, pose and external loads. Vectors
// are in world coordinates and relative to the world frame.
#pragma once

#include <Eigen/Core>

class mlObject {
 public:
  virtual double getMass() const = 0;
  virtual Eigen::Vector3d getLinearVelocity() const = 0;
  virtual Eigen::Vector3d getAngularVelocity() const = 0;
  // Velocity of the object's material point that is at `point` now.
  virtual Eigen::Vector3d getPointVelocity(const Eigen::Vector3d& point) const = 0;
  // X-Y-Z Euler angles in radians: R = Rx(x) Ry(y) Rz(z).
  virtual Eigen::Vector3d getRotation() const = 0;
  virtual Eigen::Vector3d getPosition() const = 0;
  virtual Eigen::Vector3d getScale() const { return Eigen::Vector3d::Ones(); }
  // Loads for the next step: force applied at `offset` from the object's origin.
  virtual void addExtForce(const Eigen::Vector3d& force, const Eigen::Vector3d& offset) = 0;
  // Force applied at the object's origin.
  virtual void applyForce(const Eigen::Vector3d& force) = 0;
  virtual void addExtTorque(const Eigen::Vector3d& torque) = 0;
  virtual void update() {}

 protected:
  // Owners hold and destroy the concrete type.
  ~mlObject() = default;
};
