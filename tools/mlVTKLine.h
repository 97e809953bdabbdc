// A polyline for debugging output, written by mlVTKWrtier::writeLines.
#pragma once

#include <Eigen/Core>
#include <vector>

class mlVTKLine {
 public:
  std::vector<Eigen::Vector3d> vertices;  // the polyline's points in order
};
