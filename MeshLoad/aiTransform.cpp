#include "aiTransform.h"

#include "SkeletonDynamics/requireFinite.h"

Eigen::Isometry3d isometryFromAi(const aiQuaternion& q, const Eigen::Vector3d& translation) {
  Eigen::Isometry3d T = Eigen::Isometry3d::Identity();
  T.linear() = Eigen::Quaterniond(q.w, q.x, q.y, q.z).normalized().toRotationMatrix();
  T.translation() = translation;
  return T;
}

Eigen::Isometry3d rigidFromAiMatrix(const aiMatrix4x4& m, double scale) {
  aiVector3D s, p;
  aiQuaternion q1;
  m.Decompose(s, q1, p);
  // Assimp's constructor scales each row of q1's rotation matrix by the scaling component of that row.
  const aiQuaternion q2(aiMatrix3x3(aiMatrix4x4(s, q1, p)));
  return isometryFromAi(q2, Eigen::Vector3d(p.x, p.y, p.z) / scale);
}

Eigen::Isometry3d requireFiniteTransform(const Eigen::Isometry3d& T, const std::string& what) {
  requireFinite(T.matrix().topRows<3>(), what);
  return T;
}
