// One point of a trajectory.
#pragma once

#include <Eigen/Core>

template <typename T, int Dim>
class mlTrajectoryPointData {
 public:
  using Point = Eigen::Matrix<T, Dim, 1>;

  virtual ~mlTrajectoryPointData() = default;

  Point data = Point::Zero();  // zero until assigned, so a fresh point never holds garbage
};
