// Shared by the tools tests: way points, an independent uniform cubic B-spline (the matrix form in double
// precision, and a fine Simpson integration of the speed for arc lengths) and a fitted trajectory.
#pragma once

#include <gtest/gtest.h>

#include <Eigen/Core>
#include <cmath>
#include <cstddef>
#include <vector>

#include "tools/mlTPTrajectory.h"

using Vec = Eigen::Vector3d;

inline const std::vector<Vec> kFour = {{0, 0, 0}, {1, 2, 0}, {3, 1, 1}, {4, 4, 2}};
inline const std::vector<Vec> kSeven = {{0, 0, 0}, {1, 2, 0.5}, {3, 1, 1}, {4, 4, 2}, {6, 3, 1}, {7, 6, -1}, {9, 5, 0}};
inline const std::vector<Vec> kSix(kSeven.begin(), kSeven.end() - 1);

inline void expectNear(const Vec& a, const Vec& b, double tol) {
  EXPECT_NEAR((a - b).norm(), 0.0, tol) << "got " << a.transpose() << ", expected " << b.transpose();
}

inline mlTPTrajectory fitted(const std::vector<Vec>& points, unsigned samples = 0) {
  mlTPTrajectory t;
  t.setPoints(points);
  t.fit();
  if (samples) t.sample(samples);
  return t;
}

namespace ref {

// Derivative `order` (0..3) of segment i at local parameter s.
inline Vec segment(const std::vector<Vec>& p, std::size_t i, double s, int order) {
  static const Eigen::Matrix4d basis =
      (Eigen::Matrix4d() << -1, 3, -3, 1, 3, -6, 3, 0, -3, 0, 3, 0, 1, 4, 1, 0).finished();
  const Eigen::RowVector4d powers[4] = {
      {s * s * s, s * s, s, 1}, {3 * s * s, 2 * s, 1, 0}, {6 * s, 2, 0, 0}, {6, 0, 0, 0}};
  const Eigen::RowVector4d w = powers[order] * basis / 6.0;
  return w[0] * p[i] + w[1] * p[i + 1] + w[2] * p[i + 2] + w[3] * p[i + 3];
}

// Length of segment i between local parameters a and b, composite Simpson with 20000 intervals.
inline double segmentLength(const std::vector<Vec>& p, std::size_t i, double a, double b) {
  const int n = 20000;
  const double h = (b - a) / n;
  double sum = segment(p, i, a, 1).norm() + segment(p, i, b, 1).norm();
  for (int k = 1; k < n; ++k) sum += (k % 2 ? 4 : 2) * segment(p, i, a + k * h, 1).norm();
  return sum * h / 3;
}

}  // namespace ref
