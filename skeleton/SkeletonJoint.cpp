#include "SkeletonJoint.h"

#include <stdexcept>

SkeletonJoint::SkeletonJoint() { setJointType(jointType::revolute); }

void SkeletonJoint::setJointType(jointType t) {
  std::vector<Eigen::Vector3d> axes = jointTypeAxes(t);
  const std::size_t dofs = static_cast<std::size_t>(jointTypeDofs(t));
  type = t;
  axis = std::move(axes);
  for (std::vector<double>* v : {&limit.effort, &limit.lower, &limit.upper, &limit.velocity}) v->resize(dofs, 0.0);
}

Eigen::Isometry3d SkeletonJoint::getLocalTrans() const {
  if (!node) throw std::logic_error("joint '" + name + "' has no node");
  return node->localTransform();
}
