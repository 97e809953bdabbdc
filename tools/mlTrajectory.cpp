#include "tools/mlTrajectory.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

#include "SkeletonDynamics/requireFinite.h"
#include "tools/UniformCubicBSpline.h"
#include "tools/mlTrajectoryIndex.h"

namespace {
constexpr float kPlanarFactor = 10.0f;
constexpr float kPlanarStep = 0.1f;
}  // namespace

void mlTrajectory<double, 3>::setPoints(const std::vector<Point>& newPoints) {
  points.clear();
  points.insert(points.end(), newPoints.begin(), newPoints.end());
}

void mlTrajectory<double, 3>::fit() {
  // A way point that is not finite would make every sample of the curve near it NaN; the poses of the
  // curve steer bodies, so way points keep to the bound of the values that enter the dynamics.
  for (std::size_t k = 0; k < points.size(); ++k) {
    if (!points[k].allFinite()) {
      std::ostringstream msg;
      msg << "fit: way point " << k << " (" << points[k].x() << ", " << points[k].y() << ", " << points[k].z()
          << ") is not finite";
      throw std::invalid_argument(msg.str());
    }
    requireBounded(points[k], "fit: way point " + std::to_string(k));
  }
  // Build everything first so that a rejected fit leaves the earlier one in place.
  auto newSpline = std::make_shared<const UniformCubicBSpline<Eigen::Vector3d, float>>(points);
  auto planar = samplePlanar(*newSpline, kPlanarFactor, kPlanarStep);
  auto newIndex = std::make_shared<const mlTrajectoryIndex>(newSpline, kPlanarStep, std::move(planar));
  spline = std::move(newSpline);
  index = std::move(newIndex);
}

std::vector<mlPlanarSample> mlTrajectory<double, 3>::samplePlanar(const SplineType& curve, float factor, float step) {
  const float maxU = static_cast<float>(curve.maxParam());
  const int m = static_cast<int>(std::roundf(factor * maxU));
  std::vector<mlPlanarSample> out;
  out.reserve(m > 0 ? m + 1 : 1);
  for (int k = 0; k < m; ++k) {
    const float u = step * static_cast<float>(k);
    const Point p = curve.evaluate(u);
    out.push_back({static_cast<float>(p.x()), static_cast<float>(p.y()), u});
  }
  if (!curve.isLooping()) {
    const Point end = curve.evaluate(maxU);
    out.push_back({static_cast<float>(end.x()), static_cast<float>(end.y()), maxU});
  }
  return out;
}

const mlTrajectory<double, 3>::SplineType& mlTrajectory<double, 3>::fitted() const {
  if (!spline) throw std::invalid_argument("the trajectory is not fitted: call fit() after setPoints()");
  return *spline;
}
