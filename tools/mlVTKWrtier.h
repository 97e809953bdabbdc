// Writes polylines and fitted trajectories as ASCII legacy VTK polygon data, to be viewed beside the
// fluid and body files.
#pragma once

#include <string>
#include <vector>

#include "tools/mlTrajectory.h"
#include "tools/mlVTKLine.h"

class mlVTKWrtier {
 public:
  // Both return false, leaving no partial file (an earlier one stays as it was), when the file cannot be opened or
  // written, and then print the path and the system's reason on standard error. Both throw std::invalid_argument,
  // before touching the file, for a coordinate that is not finite (no reader could load the file) and for a path
  // holding a NUL character.
  static bool writeLines(const std::vector<mlVTKLine>& lines, const std::string& path);
  // 200 curve points per way point over [0, M) with the raw first derivative as tangents. Throws
  // std::invalid_argument, before touching the file, for a trajectory that is not fitted.
  static bool writeTrajectory(const mlTrajectory<double, 3>& trajectory, const std::string& file_path);
};
