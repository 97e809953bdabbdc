// A pose point of a sampled trajectory: a point on the curve and the curve's unit tangent there.
#pragma once

#include <Eigen/Core>

#include "tools/mlTrajectoryPointData.h"

class mlTPTrajectoryPData : public mlTrajectoryPointData<double, 3> {
 public:
  mlTPTrajectoryPData() = default;
  mlTPTrajectoryPData(const Eigen::Vector3d& position, const Eigen::Vector3d& orientation)
      : orientation(orientation), position(position) {
    data = position;
  }

  Eigen::Vector3d getPosition() const { return position; }
  Eigen::Vector3d getOrientation() const { return orientation; }

  Eigen::Vector3d orientation = Eigen::Vector3d::Zero();  // unit tangent; zero where the curve has none
  Eigen::Vector3d position = Eigen::Vector3d::Zero();
};
