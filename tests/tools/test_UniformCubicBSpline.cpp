// The uniform cubic B-spline against the independent power-basis form and a fine numerical integration.
#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "tools/UniformCubicBSpline.h"
#include "tools/toolsTestUtil.h"

namespace {

using BSpline = UniformCubicBSpline<Vec, float>;

// Outside [0, 4] the end segments' polynomials go on; every evaluation order reports the same values.
TEST(UniformCubicBSpline, DerivativesMatchThePowerBasisFormAndExtendTheEndSegments) {
  std::vector<Vec> points = kSeven;
  const BSpline s(points);
  points[1] = Vec(100, 100, 100);  // the spline keeps a copy
  EXPECT_EQ(s.maxParam(), 4u);
  EXPECT_FALSE(s.isLooping());
  expectNear(s.evaluate(0), (kSeven[0] + 4 * kSeven[1] + kSeven[2]) / 6, 1e-12);
  for (float u : {-0.5f, 0.0f, 0.25f, 1.5f, 2.75f, 3.0f, 3.999f, 4.0f, 5.25f}) {
    const std::size_t i = u < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(u), 3);
    const double local = u - static_cast<float>(i);
    const auto d3 = s.evaluateD3(u);
    expectNear(d3.position, ref::segment(kSeven, i, local, 0), 1e-5);
    expectNear(d3.tangent, ref::segment(kSeven, i, local, 1), 1e-5);
    expectNear(d3.curvature, ref::segment(kSeven, i, local, 2), 1e-5);
    expectNear(d3.wiggle, ref::segment(kSeven, i, local, 3), 1e-12);
    expectNear(s.evaluate(u), d3.position, 0);
    expectNear(s.evaluateD1(u).tangent, d3.tangent, 0);
    expectNear(s.evaluateD2(u).curvature, d3.curvature, 0);
  }
  EXPECT_TRUE(std::isnan(s.evaluate(std::nanf("")).x()));  // NaN does not pick an arbitrary segment
  for (const auto& [u, i] : std::vector<std::pair<float, std::size_t>>{
           {-3, 0}, {0, 0}, {0.999f, 0}, {1, 1}, {2.5f, 2}, {4, 3}, {100, 3}, {INFINITY, 3}})
    EXPECT_EQ(s.segmentIndex(u), i) << u;
  // Segment i starts at parameter i, where the curve is at (P_i + 4 P_i+1 + P_i+2) / 6.
  const Spline<Vec, float>& curve = s;
  for (std::size_t i = 0; i < s.maxParam(); ++i) {
    EXPECT_EQ(curve.segmentStart(i), static_cast<float>(i));
    expectNear(curve.evaluate(curve.segmentStart(i)), (kSeven[i] + 4 * kSeven[i + 1] + kSeven[i + 2]) / 6, 1e-12);
  }
  EXPECT_EQ(BSpline(kFour).maxParam(), 1u);
  EXPECT_THROW(BSpline(std::vector<Vec>(kFour.begin(), kFour.begin() + 3)), std::invalid_argument);
  EXPECT_THROW(s.segmentLength(4, 0, 1), std::out_of_range);
}

// Arc length from a to b by the reference, split at the segment borders; below 0 and past the end the
// first and last segments are extended.
double referenceArc(double a, double b) {
  double sum = 0;
  for (double lo = a; lo < b;) {
    const double i = std::clamp(std::floor(lo), 0.0, 3.0);
    const double hi = i == 3 ? b : std::min(b, i + 1);
    sum += ref::segmentLength(kSeven, static_cast<std::size_t>(i), lo - i, hi - i);
    lo = hi;
  }
  return sum;
}

TEST(UniformCubicBSpline, ArcLengthMatchesFineIntegrationAndSplitsAcrossSegments) {
  const BSpline s(kSeven);
  for (const auto& [a, b] : std::vector<std::pair<float, float>>{
           {0, 4}, {0.3f, 2.7f}, {0.5f, 1.5f}, {-1, -0.5f}, {-0.5f, 2.25f}, {3.5f, 4.5f}}) {
    const double expected = referenceArc(a, b);
    EXPECT_NEAR(s.arcLength(a, b), expected, expected * 1e-5) << a << " " << b;
    EXPECT_EQ(s.arcLength(b, a), s.arcLength(a, b));
  }
  EXPECT_NEAR(s.segmentLength(2, 2, 3), referenceArc(2, 3), referenceArc(2, 3) * 1e-5);
  EXPECT_NEAR(s.totalLength(), referenceArc(0, 4), 1e-4);
  EXPECT_EQ(s.arcLength(0.5f, 1.5f), s.segmentLength(0, 0.5f, 1) + s.segmentLength(1, 1, 1.5f));
  EXPECT_EQ(s.arcLength(1.5f, 1.5f), 0.0f);
}

}  // namespace
