// Control points and basis of the uniform cubic B-spline: segment i is shaped by control points i .. i+3,
// so n points give n - 3 segments; the curve approximates the points rather than passing through them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

template <typename Point, typename Param>
class UniformCubicBSplineCommon {
 public:
  using Scalar = typename Point::Scalar;

  // Where a parameter falls: a segment and the parameter local to it. Below 0 and past the end the first
  // and last segments' polynomials are extended (s below 0 or above 1), never clamped.
  struct Location {
    std::size_t index;
    Param s;
  };

  explicit UniformCubicBSplineCommon(const std::vector<Point>& points)
      : maxParameter(static_cast<Param>(points.size()) - 3), controlPoints(points) {
    if (points.size() < 4)
      throw std::invalid_argument("a uniform cubic B-spline needs at least 4 control points, got " +
                                  std::to_string(points.size()));
  }

  std::size_t segmentCount() const { return controlPoints.size() - 3; }

  // Segment of u: 0 below 0 (and for NaN), the last one past the end.
  std::size_t segmentOf(Param u) const {
    const std::size_t last = segmentCount() - 1;
    if (!(u >= 0)) return 0;
    if (u >= static_cast<Param>(last)) return last;
    return static_cast<std::size_t>(u);
  }

  Location locate(Param u) const {
    if (!(u >= 0)) return {0, u};  // the first segment is extended backwards, s is not shifted
    const std::size_t i = segmentOf(u);
    return {i, u - static_cast<Param>(i)};
  }

  // The basis weights are computed in Param precision, the weighted sums in the point's precision.
  Point cubicBasis(std::size_t i, Param s) const {
    const Param t = 1 - s;
    const Param w0 = t * t * t;
    const Param w1 = 3 * s * s * s - 6 * s * s + 4;
    const Param w2 = -3 * s * s * s + 3 * s * s + 3 * s + 1;
    const Param w3 = s * s * s;
    return weighted(i, w0, w1, w2, w3) / Scalar(6);
  }

  Point cubicBasisD1(std::size_t i, Param s) const {
    const Param t = 1 - s;
    const Param w0 = -(t * t);
    const Param w1 = (3 * s - 4) * s;
    const Param w2 = (3 * s + 1) * t;
    const Param w3 = s * s;
    return weighted(i, w0, w1, w2, w3) * Scalar(0.5);
  }

  Point cubicBasisD2(std::size_t i, Param s) const { return weighted(i, 1 - s, 3 * s - 2, 1 - 3 * s, s); }

  Point cubicBasisD3(std::size_t i) const {
    const Point* p = &controlPoints[i];
    return (p[3] - p[0]) + Scalar(3) * (p[1] - p[2]);
  }

  Param maxParameter;                // number of segments
  std::vector<Point> controlPoints;  // a copy of the construction points, in order

 private:
  Point weighted(std::size_t i, Param w0, Param w1, Param w2, Param w3) const {
    const Point* p = &controlPoints[i];
    return Scalar(w0) * p[0] + Scalar(w1) * p[1] + Scalar(w2) * p[2] + Scalar(w3) * p[3];
  }
};
