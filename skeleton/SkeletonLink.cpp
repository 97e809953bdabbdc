#include "SkeletonLink.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace {

// Shape extent of an intermediate link, and the thickness of every link.
constexpr double kThinSize = 0.02;

// Translation of the joint node's world transform (relative to node 0's frame).
Eigen::Vector3d jointPosition(const SkeletonJoint& joint) {
  if (!joint.node) throw std::logic_error("joint '" + joint.name + "' has no node");
  return joint.node->worldTrans.translation();
}

}  // namespace

SkeletonLink::SkeletonLink(std::shared_ptr<SkeletonJoint> parentJoint,
                           std::vector<std::shared_ptr<SkeletonJoint>> childJoints, const std::string& name)
    : parentJoint(std::move(parentJoint)), childJoints(std::move(childJoints)) {
  if (!this->parentJoint) throw std::invalid_argument("SkeletonLink: no parent joint");
  if (this->childJoints.empty())
    throw std::invalid_argument("SkeletonLink: joint '" + this->parentJoint->name + "' has no child joints");
  for (const auto& child : this->childJoints)
    if (!child) throw std::invalid_argument("SkeletonLink: joint '" + this->parentJoint->name + "' has a null child");

  const SkeletonJoint& first = *this->childJoints.front();
  isIntermediate = first.isIntermediate;
  const std::string& parentName = this->parentJoint->name;
  if (!name.empty())
    this->name = name;
  else if (isIntermediate)
    this->name = "[link]" + parentName;
  else
    this->name = "[link]" + parentName.substr(0, parentName.find("_intermediate")) + "::" + first.name;

  updateGeometry();
  size.y() = kThinSize;
  size.z() = kThinSize;
}

Eigen::Isometry3d SkeletonLink::updateGeometry() {
  if (!parentJoint || childJoints.empty()) throw std::logic_error("link '" + name + "' has no joints");
  const Eigen::Vector3d J = jointPosition(*parentJoint);
  const double n = static_cast<double>(childJoints.size());
  Eigen::Vector3d M = Eigen::Vector3d::Zero();
  for (const auto& child : childJoints) M += jointPosition(*child) / n;

  const Eigen::Vector3d d = J - M;
  const double L = d.norm();
  position = (J + M) / 2;
  worldTransform = Eigen::Isometry3d::Identity();
  worldTransform.translation() = position;
  if (L > 0) {
    // Rotates +x onto u about the axis x cross u (any axis normal to x when u is +-x).
    const Eigen::Vector3d u = d / L;
    Eigen::Vector3d a(0, -u.z(), u.y());
    a = a.norm() > 0 ? Eigen::Vector3d(a / a.norm()) : Eigen::Vector3d(0, 1, 0);
    const double theta = std::acos(std::clamp(u.x(), -1.0, 1.0));  // rounding may put |u.x| a bit above 1
    worldTransform.linear() = Eigen::AngleAxisd(theta, a).toRotationMatrix();
  }
  rotation = worldTransform.rotation().eulerAngles(0, 1, 2);
  size.x() = isIntermediate ? kThinSize : L;
  return worldTransform;
}
