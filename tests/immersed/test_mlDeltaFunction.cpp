// The discrete delta functions: their values at the branch points and the moment conditions that make
// them interpolate linear fields exactly and conserve what they spread.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "duriz/gpu_inc/gpuImmersed/mlDeltaFunction.cuh"

namespace {

TEST(DeltaFunction, WidthFourAtItsBranchPoints) {
  EXPECT_EQ(mlDeltaWidth4(0.0f), 0.5f);   // (3 + 1) / 8
  EXPECT_EQ(mlDeltaWidth4(1.0f), 0.25f);  // (3 - 2 + 1) / 8, from the inner branch
  EXPECT_EQ(mlDeltaWidth4(-1.0f), 0.25f);
  EXPECT_EQ(mlDeltaWidth4(2.0f), 0.0f);  // (5 - 4 - 1) / 8
  EXPECT_EQ(mlDeltaWidth4(-2.0f), 0.0f);
  EXPECT_EQ(mlDeltaWidth4(2.5f), 0.0f);
  // Just past 1 the outer branch continues the inner one.
  EXPECT_NEAR(mlDeltaWidth4(1.0001f), 0.25f, 1e-4);
  EXPECT_NEAR(mlDeltaWidth4(0.5f), (3.0 - 1.0 + std::sqrt(2.0)) / 8.0, 1e-7);
  EXPECT_NEAR(mlDeltaWidth4(1.5f), (5.0 - 3.0 - std::sqrt(2.0)) / 8.0, 1e-7);
}

TEST(DeltaFunction, WidthTwoIsTheHat) {
  EXPECT_EQ(mlDeltaWidth2(0.0f), 1.0f);
  EXPECT_EQ(mlDeltaWidth2(1.0f), 0.0f);
  EXPECT_EQ(mlDeltaWidth2(-1.0f), 0.0f);
  EXPECT_EQ(mlDeltaWidth2(0.25f), 0.75f);
  EXPECT_EQ(mlDeltaWidth2(-0.75f), 0.25f);
  EXPECT_EQ(mlDeltaWidth2(1.5f), 0.0f);
}

TEST(DeltaFunction, WidthThreeAtItsBranchPoints) {
  EXPECT_FLOAT_EQ(mlDeltaWidth3(0.0f), 2.0f / 3.0f);
  EXPECT_FLOAT_EQ(mlDeltaWidth3(0.5f), 0.5f);               // both branches give 1/2 here
  EXPECT_NEAR(mlDeltaWidth3(0.5001f), 0.5 - 0.0001, 1e-6);  // slope -1 on both sides
  EXPECT_FLOAT_EQ(mlDeltaWidth3(-1.0f), 1.0f / 6.0f);
  EXPECT_EQ(mlDeltaWidth3(1.5f), 0.0f);
  EXPECT_EQ(mlDeltaWidth3(1.6f), 0.0f);
}

TEST(DeltaFunction, OtherWidthsWeighNothing) {
  for (int width : {-4, 0, 1, 5, 6, 100}) {
    EXPECT_EQ(mlDelta(width, 0.0f), 0.0f) << width;
    EXPECT_EQ(mlDelta(width, 0.5f), 0.0f) << width;
  }
  EXPECT_EQ(mlDelta(2, 0.25f), mlDeltaWidth2(0.25f));
  EXPECT_EQ(mlDelta(3, 0.25f), mlDeltaWidth3(0.25f));
  EXPECT_EQ(mlDelta(4, 0.25f), mlDeltaWidth4(0.25f));
}

// Over the nodes k around a point at x: sum phi = 1 and sum (x - k) phi = 0 for every x; Peskin's
// function also splits its weight evenly between even and odd nodes and has sum phi^2 = 3/8, the
// three-point function sum phi^2 = 1/2.
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
      if (width == 4) {
        ASSERT_NEAR(even, 0.5, 2e-7) << x;
        ASSERT_NEAR(square, 3.0 / 8.0, 2e-7) << x;
      }
      if (width == 3) {
        ASSERT_NEAR(square, 0.5, 2e-7) << x;
      }
    }
  }
}

TEST(DeltaFunction, ThreeDimensionalWeightsSumToOne) {
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> pos(6.0f, 9.0f);
  for (int sample = 0; sample < 50; ++sample) {
    const float X[3] = {pos(rng), pos(rng), pos(rng)};
    for (int width : {2, 3, 4}) {
      double sum = 0, moment[3] = {0, 0, 0};
      for (int z = 0; z < 16; ++z)
        for (int y = 0; y < 16; ++y)
          for (int x = 0; x < 16; ++x) {
            const float r[3] = {X[0] - x, X[1] - y, X[2] - z};
            const double w = mlDelta(width, r[0]) * mlDelta(width, r[1]) * mlDelta(width, r[2]);
            sum += w;
            for (int a = 0; a < 3; ++a) moment[a] += r[a] * w;
          }
      ASSERT_NEAR(sum, 1.0, 1e-6) << width;
      for (int a = 0; a < 3; ++a) ASSERT_NEAR(moment[a], 0.0, 2e-6) << width;
    }
  }
}

}  // namespace
