// One rigid link of a skeleton description: the body between a joint and its child joints, with the
// frame, shape size and mass its physics body is built with. Links are held by std::shared_ptr.
#pragma once

#include <Eigen/Geometry>

#include <memory>
#include <string>
#include <vector>

#include "SkeletonJoint.h"

class SkeletonLink {
 public:
  // No joints, mass 1, identity frame, zero centre, angles and size.
  SkeletonLink() = default;
  // A link from parentJoint to its children. An empty `name` gives "[link]<parent>" for an intermediate
  // link and "[link]<parent without _intermediate...>::<first child>" otherwise. Throws
  // std::invalid_argument for a null joint or an empty child list (the name and flag need a first child).
  SkeletonLink(std::shared_ptr<SkeletonJoint> parentJoint, std::vector<std::shared_ptr<SkeletonJoint>> childJoints,
               const std::string& name);

  // Recomputes `position`, `rotation`, `worldTransform` and `size`.x from the joints' world positions
  // and returns the new frame. The frame's +x axis points from the mean of the children to the parent
  // joint. Throws std::logic_error when a joint has no node.
  Eigen::Isometry3d updateGeometry();
  Eigen::Matrix4d getWorldTrans() const { return worldTransform.matrix(); }

  std::string name;
  std::shared_ptr<SkeletonJoint> parentJoint;               // the joint at the link's origin
  std::vector<std::shared_ptr<SkeletonJoint>> childJoints;  // the joints at its far end
  double mass = 1.0;
  bool isIntermediate = false;                         // the first child joint's flag
  Eigen::Vector3d position = Eigen::Vector3d::Zero();  // centre, in the model's global frame
  Eigen::Vector3d rotation = Eigen::Vector3d::Zero();  // radians: the frame's rotation is Rx Ry Rz
  Eigen::Isometry3d worldTransform = Eigen::Isometry3d::Identity();
  Eigen::Vector3d size = Eigen::Vector3d::Zero();  // (length, 0.02, 0.02)
};
