#include "hierachyNode.h"

namespace {

// The degree conversion uses this value both ways, so angles round-trip exactly.
constexpr double kPi = 3.1415926;

}  // namespace

hierachyNode::hierachyNode(const std::string& name, const Eigen::Isometry3d& transform) : name(name) {
  setLocalTransform(transform);
}

Eigen::Isometry3d hierachyNode::localTransform() const {
  const Eigen::Vector3d radians = rotation / 180.0 * kPi;
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = (Eigen::AngleAxisd(radians.x(), Eigen::Vector3d::UnitX()) *
                Eigen::AngleAxisd(radians.y(), Eigen::Vector3d::UnitY()) *
                Eigen::AngleAxisd(radians.z(), Eigen::Vector3d::UnitZ()))
                   .toRotationMatrix();
  T.translation() = position;
  return T;
}

void hierachyNode::setLocalTransform(const Eigen::Isometry3d& M) {
  localTrans = M;
  position = M.translation();
  // Polar decomposition (through an affine view, which Eigen decomposes by SVD), so that a matrix with
  // scale or shear still gives a pure rotation. eulerAngles puts the X angle in [0, pi].
  const Eigen::Matrix3d R = Eigen::Affine3d(M.matrix()).rotation();
  rotation = R.eulerAngles(0, 1, 2) * 180.0 / kPi;
}
