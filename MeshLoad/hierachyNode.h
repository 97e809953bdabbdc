// One node of a model's node hierarchy. Its transform relative to the parent is kept twice: as the
// matrix last set, and as a position plus Euler angles in degrees (which scripts may edit alone).
#pragma once

#include <Eigen/Geometry>

#include <string>

class hierachyNode {
 public:
  hierachyNode(const std::string& name, const Eigen::Isometry3d& transform);

  // The local transform rebuilt from `position` and `rotation`.
  Eigen::Isometry3d localTransform() const;
  // Stores M and re-derives `position` and `rotation` from it; `worldTrans` is left alone.
  void setLocalTransform(const Eigen::Isometry3d& M);
  Eigen::Matrix4d getWorldTrans() const { return worldTrans.matrix(); }

  std::string name;
  Eigen::Vector3d position;
  // Degrees about X, Y, Z: the local rotation is Rx(x) Ry(y) Rz(z).
  Eigen::Vector3d rotation;
  Eigen::Isometry3d localTrans;
  // Relative to node 0's frame; identity until the first world-transform update.
  Eigen::Isometry3d worldTrans = Eigen::Isometry3d::Identity();
};
