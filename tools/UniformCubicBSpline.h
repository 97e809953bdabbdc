// The spline kind that trajectories fit: a uniform cubic B-spline whose control points are the given points.
#pragma once

#include <vector>

#include "tools/SplineImpl.h"
#include "tools/UniformCubicBSplineCommon.h"

template <typename Point, typename Param>
class UniformCubicBSpline : public SplineImpl<UniformCubicBSplineCommon, Point, Param> {
 public:
  // Throws std::invalid_argument with fewer than four points.
  explicit UniformCubicBSpline(const std::vector<Point>& points)
      : SplineImpl<UniformCubicBSplineCommon, Point, Param>(points) {}
};
