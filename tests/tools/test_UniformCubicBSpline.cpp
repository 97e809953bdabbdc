#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <vector>

#include "tools/UniformCubicBSpline.h"
#include "tools/bsplineReference.h"
#include "tools/gaussLegendre13.h"

namespace {

using Vec = Eigen::Vector3d;
using BSpline = UniformCubicBSpline<Vec, float>;

const std::vector<Vec> kFour = {{0, 0, 0}, {1, 2, 0}, {3, 1, 1}, {4, 4, 2}};
const std::vector<Vec> kCurved = {{0, 0, 0}, {1, 2, 0.5}, {3, 1, 1}, {4, 4, 2}, {6, 3, 1}, {7, 6, -1}, {9, 5, 0}};

void expectNear(const Vec& a, const Vec& b, double tol) {
  EXPECT_NEAR((a - b).norm(), 0.0, tol) << "got " << a.transpose() << ", expected " << b.transpose();
}

// Points on a straight line at equal spacing d.
std::vector<Vec> line(int n, double d, const Vec& dir) {
  std::vector<Vec> p;
  for (int i = 0; i < n; ++i) p.push_back(Vec(0.5, -1, 2) + i * d * dir.normalized());
  return p;
}

// Legendre polynomial P_n and its derivative at x, by the three-term recurrence.
void legendre(int n, double x, double& p, double& dp) {
  double p0 = 1, p1 = x;
  for (int k = 2; k <= n; ++k) {
    const double pk = ((2 * k - 1) * x * p1 - (k - 1) * p0) / k;
    p0 = p1;
    p1 = pk;
  }
  p = p1;
  dp = n * (x * p1 - p0) / (x * x - 1);
}

TEST(GaussLegendre13, NodesAndWeightsAreTheRootsOfP13) {
  // Positive roots by Newton's method from the usual cosine guesses, largest first.
  std::vector<double> roots, weights;
  for (int k = 1; k <= 6; ++k) {
    double x = std::cos(M_PI * (k - 0.25) / 13.5), p, dp;
    for (int it = 0; it < 50; ++it) {
      legendre(13, x, p, dp);
      x -= p / dp;
    }
    legendre(13, x, p, dp);
    roots.insert(roots.begin(), x);
    weights.insert(weights.begin(), 2 / ((1 - x * x) * dp * dp));
  }
  double p0, dp0;
  legendre(13, 0.0, p0, dp0);
  EXPECT_EQ(kGaussLegendre13Nodes[0], 0.0f);
  EXPECT_FLOAT_EQ(kGaussLegendre13Weights[0], static_cast<float>(2 / (dp0 * dp0)));
  for (int k = 0; k < 6; ++k) {
    EXPECT_FLOAT_EQ(kGaussLegendre13Nodes[1 + 2 * k], static_cast<float>(-roots[k]));
    EXPECT_FLOAT_EQ(kGaussLegendre13Nodes[2 + 2 * k], static_cast<float>(roots[k]));
    EXPECT_FLOAT_EQ(kGaussLegendre13Weights[1 + 2 * k], static_cast<float>(weights[k]));
    EXPECT_FLOAT_EQ(kGaussLegendre13Weights[2 + 2 * k], static_cast<float>(weights[k]));
  }
}

TEST(UniformCubicBSpline, FourPointsGiveOneSegmentWithTheBSplineEndValues) {
  const BSpline s(kFour);
  EXPECT_EQ(s.maxParam(), 1u);
  EXPECT_EQ(s.maxParameter(), 1.0f);
  EXPECT_FALSE(s.isLooping());
  expectNear(s.evaluate(0), (kFour[0] + 4 * kFour[1] + kFour[2]) / 6, 1e-12);
  expectNear(s.evaluate(1), (kFour[1] + 4 * kFour[2] + kFour[3]) / 6, 1e-12);
  // The points are copied: editing the caller's list changes nothing.
  std::vector<Vec> pts = kFour;
  const BSpline copy(pts);
  pts[1] = Vec(100, 100, 100);
  expectNear(copy.evaluate(0.5f), s.evaluate(0.5f), 0);
}

TEST(UniformCubicBSpline, DerivativesMatchThePowerBasisFormAndExtendTheEndSegments) {
  const BSpline s(kCurved);  // four segments; outside [0, 4] the end segments' polynomials go on
  for (float u : {-0.5f, 0.0f, 0.25f, 1.5f, 2.75f, 3.0f, 3.999f, 4.0f, 5.25f}) {
    const std::size_t i = u < 0 ? 0 : std::min<std::size_t>(static_cast<std::size_t>(u), 3);
    const double local = u - static_cast<float>(i);
    const auto d3 = s.evaluateD3(u);
    expectNear(d3.position, ref::segment(kCurved, i, local, 0), 1e-5);
    expectNear(d3.tangent, ref::segment(kCurved, i, local, 1), 1e-5);
    expectNear(d3.curvature, ref::segment(kCurved, i, local, 2), 1e-5);
    expectNear(d3.wiggle, ref::segment(kCurved, i, local, 3), 1e-12);
    // Every evaluation order reports the same values at the same location.
    expectNear(s.evaluate(u), d3.position, 0);
    expectNear(s.evaluateD1(u).tangent, d3.tangent, 0);
    expectNear(s.evaluateD2(u).curvature, d3.curvature, 0);
  }
  const BSpline one(kFour);
  expectNear(one.evaluate(-0.5f), ref::segment(kFour, 0, -0.5, 0), 1e-12);
  expectNear(one.evaluateD1(-0.5f).tangent, ref::segment(kFour, 0, -0.5, 1), 1e-12);
  expectNear(one.evaluate(2.5f), ref::segment(kFour, 0, 2.5, 0), 1e-12);
  expectNear(one.evaluateD2(2.5f).curvature, ref::segment(kFour, 0, 2.5, 2), 1e-12);
  expectNear(s.evaluate(5.25f), ref::segment(kCurved, 3, 2.25, 0), 1e-12);
  EXPECT_TRUE(std::isnan(s.evaluate(std::nanf("")).x()));  // NaN does not pick an arbitrary segment
}

TEST(UniformCubicBSpline, StraightLineHasConstantSpeedAndNoSecondDerivative) {
  const double d = 0.75;
  const Vec dir = Vec(1, 2, 2) / 3;
  const std::vector<Vec> p = line(8, d, dir);
  const BSpline s(p);
  for (float u = 0; u <= 5.0f; u += 0.125f) {
    const auto e = s.evaluateD2(u);
    EXPECT_NEAR(e.tangent.norm(), d, 1e-6) << "u = " << u;
    expectNear(e.tangent.normalized(), dir, 1e-6);
    expectNear(e.curvature, Vec::Zero(), 1e-6);
    expectNear(e.position, p[1] + u * d * dir, 1e-6);  // the curve starts at the second point
  }
  EXPECT_NEAR(s.totalLength(), 5 * d, 5 * d * 1e-6);
  EXPECT_NEAR(s.arcLength(0.25f, 3.75f), 3.5 * d, 3.5 * d * 1e-6);
}

TEST(UniformCubicBSpline, SegmentIndicesAndStarts) {
  const BSpline s(std::vector<Vec>(kCurved.begin(), kCurved.begin() + 6));
  EXPECT_EQ(s.maxParam(), 3u);
  for (const auto& [u, i] : std::vector<std::pair<float, std::size_t>>{
           {-3, 0}, {0, 0}, {0.999f, 0}, {1, 1}, {2.5f, 2}, {3, 2}, {100, 2}, {INFINITY, 2}})
    EXPECT_EQ(s.segmentIndex(u), i) << u;
  EXPECT_EQ(s.segmentStart(2), 2.0f);
  EXPECT_EQ(s.segmentStart(7), 7.0f);
}

// Arc length from a to b (a < b) by the reference, split at the segment borders; below 0 and past the
// end the first and last segments are extended.
double referenceArc(const std::vector<Vec>& p, double a, double b) {
  const double last = static_cast<double>(p.size() - 4);
  double sum = 0;
  for (double lo = a; lo < b;) {
    const double i = std::clamp(std::floor(lo), 0.0, last);
    const double hi = i == last ? b : std::min(b, i + 1);
    sum += ref::segmentLength(p, static_cast<std::size_t>(i), lo - i, hi - i);
    lo = hi;
  }
  return sum;
}

TEST(UniformCubicBSpline, ArcLengthMatchesFineIntegrationAndSplitsAcrossSegments) {
  const BSpline s(kCurved);
  for (const auto& [a, b] : std::vector<std::pair<float, float>>{
           {0, 4}, {0.3f, 2.7f}, {0.5f, 1.5f}, {-1, -0.5f}, {-0.5f, 2.25f}, {3.5f, 4.5f}}) {
    const double expected = referenceArc(kCurved, a, b);
    EXPECT_NEAR(s.arcLength(a, b), expected, expected * 1e-5) << a << " " << b;
    EXPECT_EQ(s.arcLength(b, a), s.arcLength(a, b));
  }
  double total = 0;
  for (std::size_t i = 0; i < 4; ++i) {
    const double seg = referenceArc(kCurved, i, i + 1);
    EXPECT_NEAR(s.segmentLength(i, static_cast<float>(i), static_cast<float>(i + 1)), seg, seg * 1e-5);
    total += seg;
  }
  EXPECT_NEAR(s.totalLength(), total, total * 1e-5);
  EXPECT_EQ(s.arcLength(0.5f, 1.5f), s.segmentLength(0, 0.5f, 1) + s.segmentLength(1, 1, 1.5f));
  EXPECT_EQ(s.arcLength(1.5f, 1.5f), 0.0f);
}

TEST(UniformCubicBSpline, RejectsTooFewPointsAndUnknownSegments) {
  EXPECT_THROW(BSpline({}), std::invalid_argument);
  EXPECT_THROW(BSpline(std::vector<Vec>(kFour.begin(), kFour.begin() + 3)), std::invalid_argument);
  const BSpline s(kFour);
  EXPECT_NO_THROW(s.segmentLength(0, 0, 1));
  EXPECT_THROW(s.segmentLength(1, 1, 2), std::out_of_range);
}

}  // namespace
