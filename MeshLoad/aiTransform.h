// Rigid transforms from Assimp matrices, as the loader reads node transforms and bone offsets.
#pragma once

#include <assimp/types.h>

#include <Eigen/Geometry>

#include <string>

// Rotation q (normalised) and the given translation.
Eigen::Isometry3d isometryFromAi(const aiQuaternion& q, const Eigen::Vector3d& translation);

// The matrix decomposed into scaling, rotation and position, rebuilt from them, and the rotation taken
// back from the rebuilt 3x3 block, so that a matrix without scaling gives its own rotation; the position
// is divided by `scale`.
Eigen::Isometry3d rigidFromAiMatrix(const aiMatrix4x4& m, double scale);

// T, after a check: throws std::invalid_argument naming `what` when T holds a NaN or an infinity (from
// the file, or from a zero scaling that cannot be taken out), which every pose made from it would carry.
Eigen::Isometry3d requireFiniteTransform(const Eigen::Isometry3d& T, const std::string& what);
