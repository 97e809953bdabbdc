// An independent uniform cubic B-spline for the tests: the matrix (power-basis) form in double precision,
// and a fine Simpson integration of the speed for arc lengths.
#pragma once

#include <Eigen/Core>
#include <array>
#include <cmath>
#include <cstddef>
#include <vector>

namespace ref {

// Rows: coefficients of s^3, s^2, s, 1 for the four control points, times 6.
inline const Eigen::Matrix4d& basisMatrix() {
  static const Eigen::Matrix4d m = (Eigen::Matrix4d() << -1, 3, -3, 1, 3, -6, 3, 0, -3, 0, 3, 0, 1, 4, 1, 0).finished();
  return m;
}

// Derivative `order` (0..3) of segment i at local parameter s.
inline Eigen::Vector3d segment(const std::vector<Eigen::Vector3d>& p, std::size_t i, double s, int order) {
  Eigen::RowVector4d powers;
  switch (order) {
    case 0:
      powers << s * s * s, s * s, s, 1;
      break;
    case 1:
      powers << 3 * s * s, 2 * s, 1, 0;
      break;
    case 2:
      powers << 6 * s, 2, 0, 0;
      break;
    default:
      powers << 6, 0, 0, 0;
      break;
  }
  const Eigen::RowVector4d w = powers * basisMatrix() / 6.0;
  return w[0] * p[i] + w[1] * p[i + 1] + w[2] * p[i + 2] + w[3] * p[i + 3];
}

// Length of segment i between local parameters a and b, composite Simpson with 20000 intervals.
inline double segmentLength(const std::vector<Eigen::Vector3d>& p, std::size_t i, double a, double b) {
  const int n = 20000;
  const double h = (b - a) / n;
  double sum = segment(p, i, a, 1).norm() + segment(p, i, b, 1).norm();
  for (int k = 1; k < n; ++k) sum += (k % 2 ? 4 : 2) * segment(p, i, a + k * h, 1).norm();
  return sum * h / 3;
}

}  // namespace ref
