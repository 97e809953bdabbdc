// A path given by way points, fitted with a uniform cubic B-spline whose control points are the way points
// (the curve approximates them). Fitting also builds a planar index of the curve.
#pragma once

#include <Eigen/Core>
#include <memory>
#include <vector>

#include "tools/Spline.h"

// A point of the curve projected on the x-y plane, with its spline parameter.
struct mlPlanarSample {
  float x;
  float y;
  float u;
};

class mlTrajectoryIndex;

template <typename T, int Dim>
class mlTrajectory;

// Only the three-dimensional double trajectory exists.
template <>
class mlTrajectory<double, 3> {
 public:
  using Point = Eigen::Vector3d;
  using SplineType = Spline<Eigen::Vector3d, float>;

  virtual ~mlTrajectory() = default;

  // Replaces the way points; the spline stays as it is until the next fit.
  void setPoints(const std::vector<Point>& newPoints);

  // Builds a new spline and planar index from the current way points. Throws std::invalid_argument with
  // fewer than four way points or one that is not finite or beyond kDivergedState, and then keeps the
  // earlier fit.
  void fit();

  // Planar samples every `step` of parameter (factor = 1 / step samples per segment) plus the end point.
  static std::vector<mlPlanarSample> samplePlanar(const SplineType& curve, float factor, float step);

  std::vector<Point> points;
  std::shared_ptr<const SplineType> spline;  // absent before the first fit
  std::shared_ptr<const mlTrajectoryIndex> index;

 protected:
  // The fitted spline; throws std::invalid_argument before the first fit.
  const SplineType& fitted() const;
};
