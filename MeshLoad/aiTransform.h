// Rigid transforms from Assimp matrices, as the loader reads node transforms and bone offsets.
#pragma once

#include <assimp/types.h>

#include <Eigen/Geometry>

// Rotation q (normalised) and the given translation.
Eigen::Isometry3d isometryFromAi(const aiQuaternion& q, const Eigen::Vector3d& translation);

// The matrix decomposed into scaling, rotation and position, rebuilt from them, and the rotation taken
// back from the rebuilt 3x3 block, so that a matrix without scaling gives its own rotation; the position
// is divided by `scale`.
Eigen::Isometry3d rigidFromAiMatrix(const aiMatrix4x4& m, double scale);
