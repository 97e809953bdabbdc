// A drawable copy of a skinned surface, as it was when handed out.
#pragma once

#include <Eigen/Core>

#include <vector>

struct RenderData {
  std::vector<Eigen::Vector3d> pos;     // skinned vertex positions
  std::vector<Eigen::Vector3d> normal;  // skinned vertex normals
  std::vector<Eigen::Vector2d> uv;      // texture coordinates
  std::vector<int> indices;             // three vertex indices per triangle
};
