// The discrete delta functions: their values at the branch points and the moment conditions that make
// them interpolate linear fields exactly and conserve what they spread.
#include <gtest/gtest.h>

#include <cmath>
#include <initializer_list>
#include <random>

#include "duriz/gpu_inc/gpuImmersed/mlDeltaFunction.cuh"

namespace {

// Pairs r, phi(r) of one width, within tol.
void expectDelta(int width, double tol, std::initializer_list<double> pairs) {
  for (auto p = pairs.begin(); p != pairs.end(); p += 2)
    EXPECT_NEAR(mlDelta(width, static_cast<float>(p[0])), p[1], tol) << "width " << width << " r " << p[0];
}

TEST(DeltaFunction, ValuesAtTheBranchPoints) {
  const double s2 = std::sqrt(2.0);
  expectDelta(4, 0, {0, 0.5, 1, 0.25, -1, 0.25, 2, 0, -2, 0, 2.5, 0});
  expectDelta(4, 1e-7, {0.5, (2 + s2) / 8, 1.5, (2 - s2) / 8});
  expectDelta(4, 1e-4, {1.0001, 0.25});  // the outer branch continues the inner one
  expectDelta(2, 0, {0, 1, 1, 0, -1, 0, 0.25, 0.75, -0.75, 0.25, 1.5, 0});
  expectDelta(3, 5e-8, {0, 2.0 / 3, 0.5, 0.5, -1, 1.0 / 6, 1.5, 0, 1.6, 0});
  expectDelta(3, 1e-6, {0.5001, 0.4999});  // slope -1 on both sides of the branch point
  for (int width : {-4, 0, 1, 5, 6, 100}) expectDelta(width, 0, {0, 0, 0.5, 0});
}

// Over the nodes k around a point at x: sum phi = 1 and sum (x - k) phi = 0 for every x (so the 3D
// products of these weights sum to 1 with vanishing first moments too); Peskin's function also splits
// its weight evenly between even and odd nodes and has sum phi^2 = 3/8, the three-point one 1/2.
TEST(DeltaFunction, MomentConditionsHoldAtEveryOffset) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> offset(0.0f, 1.0f);
  for (int sample = 0; sample < 2000; ++sample) {
    const float x = 10.0f + offset(rng);
    for (int width : {2, 3, 4}) {
      double sum = 0, first = 0, square = 0, even = 0;
      for (int k = 4; k <= 16; ++k) {
        const float r = x - static_cast<float>(k);
        const double phi = mlDelta(width, r);
        sum += phi;
        first += r * phi;
        square += phi * phi;
        if (k % 2 == 0) even += phi;
      }
      ASSERT_NEAR(sum, 1.0, 2e-7) << "width " << width << " x " << x;
      ASSERT_NEAR(first, 0.0, 2e-6) << "width " << width << " x " << x;
      if (width == 2) continue;
      ASSERT_NEAR(square, width == 4 ? 3.0 / 8.0 : 0.5, 2e-7) << x;
      ASSERT_NEAR(width == 4 ? even : 0.5, 0.5, 2e-7) << x;  // the even share for width 4 only
    }
  }
}

}  // namespace
