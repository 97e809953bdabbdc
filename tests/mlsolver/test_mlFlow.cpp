#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>

#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlFlow.h"
#include "mlsolver/latticeBox.h"

namespace {

TEST(D3Q27, TablesAreConsistent) {
  float wsum = 0;
  for (int q = 0; q < d3q27::Q; ++q) {
    const int o = d3q27::opposite[q];
    EXPECT_EQ(d3q27::ex[o], -d3q27::ex[q]);
    EXPECT_EQ(d3q27::ey[o], -d3q27::ey[q]);
    EXPECT_EQ(d3q27::ez[o], -d3q27::ez[q]);
    EXPECT_EQ(d3q27::opposite[o], q);
    const int len2 = d3q27::ex[q] * d3q27::ex[q] + d3q27::ey[q] * d3q27::ey[q] + d3q27::ez[q] * d3q27::ez[q];
    const float expectedW[] = {8.0f / 27, 2.0f / 27, 1.0f / 54, 1.0f / 216};
    EXPECT_EQ(d3q27::w[q], expectedW[len2]) << q;
    wsum += d3q27::w[q];
    for (int r = 0; r < q; ++r)  // all 27 directions distinct
      EXPECT_FALSE(d3q27::ex[r] == d3q27::ex[q] && d3q27::ey[r] == d3q27::ey[q] && d3q27::ez[r] == d3q27::ez[q]);
  }
  EXPECT_NEAR(wsum, 1.0f, 1e-6f);
  EXPECT_EQ(d3q27::w[0], 0.2962963f);
  EXPECT_EQ(d3q27::w[1], 0.074074075f);
  EXPECT_EQ(d3q27::w[7], 0.018518519f);
  EXPECT_EQ(d3q27::w[19], 0.0046296297f);
}

TEST(D3Q27, EquilibriumHasTheRightMoments) {
  const float rho = 1.02f, u[3] = {0.05f, -0.03f, 0.02f};
  double m0 = 0, m1[3] = {0, 0, 0}, pxx = 0, pxy = 0;
  for (int q = 0; q < d3q27::Q; ++q) {
    const double f = d3q27::equilibrium(q, rho, u[0], u[1], u[2]);
    m0 += f;
    m1[0] += f * d3q27::ex[q];
    m1[1] += f * d3q27::ey[q];
    m1[2] += f * d3q27::ez[q];
    pxx += f * d3q27::ex[q] * d3q27::ex[q];
    pxy += f * d3q27::ex[q] * d3q27::ey[q];
  }
  EXPECT_NEAR(m0, rho, 1e-6);
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(m1[a], rho * u[a], 1e-6);
  EXPECT_NEAR(pxx, rho * (1.0 / 3.0 + u[0] * u[0]), 1e-6);
  EXPECT_NEAR(pxy, rho * u[0] * u[1], 1e-6);
  // One value by hand: direction +x at u = (0.1, 0, 0): 2/27 (1 + 0.3 + 0.045 - 0.015).
  EXPECT_NEAR(d3q27::equilibrium(1, 1.0f, 0.1f, 0, 0), 2.0 / 27.0 * 1.33, 1e-7);
}

TEST(InitFlow, NodeCountsComeFromTheSinglePrecisionRunningSum) {
  auto p = latticeBox(10, 4, 4, 0.5f);
  auto flow = initFlow(p);
  const MLFluidParam& prm = *flow->param;
  EXPECT_EQ(prm.samples[0], 20);
  EXPECT_EQ(prm.samples[1], 8);
  EXPECT_EQ(prm.samples[2], 8);
  EXPECT_EQ(flow->count, 20u * 8 * 8);
  EXPECT_EQ(prm.count, 20u * 8 * 8);
  EXPECT_EQ(flow->start[0], -5.0f);
  EXPECT_EQ(flow->start[1], -2.0f);
  EXPECT_EQ(prm.start[2], -2.0f);
  EXPECT_EQ(prm.end[0], 4.5f);  // start + 9.5
  EXPECT_EQ(prm.dx, 0.5f);
  EXPECT_EQ(prm.width, 10.0f);
  EXPECT_EQ(prm.bodyAccel[1], 0.0f);
  EXPECT_FLOAT_EQ(flow->viscosity, p->N * p->u0k * p->visp / (p->u0p * p->l0p));
  EXPECT_EQ(flow->cs, 0.57735026f);

  // With dx = 0.1 the float sums of 100 (x) and 40 (y) spacings are 10.000002 and 3.9999986: the count
  // is not width / dx rounded, and y needs a 41st node.
  auto fine = initFlow(latticeBox(10, 4, 0.25f, 0.1f));
  EXPECT_EQ(fine->param->samples[0], 100);
  EXPECT_EQ(fine->param->samples[1], 41);
  EXPECT_EQ(fine->param->samples[2], 3);
  EXPECT_NEAR(fine->param->end[0], 4.900002f, 1e-6f);
  EXPECT_NEAR(fine->param->end[1], -2.0f + 4.0999985f - 0.1f, 1e-6f);
}

TEST(InitFlow, EveryNodeStartsAsFluidAtRest) {
  auto p = latticeBox(3, 2, 1, 0.5f);
  p->slip_ratio = 0.25f;
  p->pml_width = 2;
  auto flow = initFlow(p);
  ASSERT_EQ(flow->count, 6u * 4 * 2);
  for (std::size_t i = 0; i < flow->count; ++i) {
    EXPECT_EQ(flow->flag[i], NODE_FLUID);
    EXPECT_EQ(flow->rou[i], 1.0f);
    EXPECT_EQ(flow->ux[i], 0.0f);
    EXPECT_EQ(flow->uz[i], 0.0f);
    EXPECT_EQ(flow->forcey[i], 0.0);
    EXPECT_EQ(flow->Sopt[i], 0.0f);
  }
  EXPECT_EQ(flow->param->slip_ratio, 0.25f);
  EXPECT_EQ(flow->param->pml_width, 2);
}

TEST(InitFlow, ZeroExtentGivesAnEmptyLattice) {
  auto flow = initFlow(latticeBox(10, 0, 4, 0.5f));
  EXPECT_EQ(flow->param->samples[1], 0);
  EXPECT_EQ(flow->count, 0u);
  auto negative = initFlow(latticeBox(-2, 4, 4, 0.5f));
  EXPECT_EQ(negative->param->samples[0], 0);
  EXPECT_EQ(negative->count, 0u);
}

TEST(InitFlow, RejectsASpacingThatCannotLayOutTheBox) {
  // The default record is GRAVITY mode with no spacing.
  auto p = std::make_shared<simParams>();
  try {
    initFlow(p);
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("dx = -1"), std::string::npos) << e.what();
  }
  EXPECT_THROW(initFlow(latticeBox(10, 4, 4, 0.0f)), std::invalid_argument);
  EXPECT_THROW(initFlow(latticeBox(10, 4, 4, std::numeric_limits<float>::quiet_NaN())), std::invalid_argument);
  EXPECT_THROW(initFlow(latticeBox(10, 4, 4, std::numeric_limits<float>::infinity())), std::invalid_argument);
  EXPECT_THROW(initFlow(latticeBox(10, 4, 4, 1e-7f)), std::invalid_argument);  // the float sum would stall
  EXPECT_THROW(initFlow(nullptr), std::invalid_argument);
}

// What initFlow's std::invalid_argument says.
std::string refusal(const std::shared_ptr<simParams>& p) {
  try {
    initFlow(p);
  } catch (const std::invalid_argument& e) {
    return e.what();
  }
  return "no exception";
}

TEST(InitFlow, NamesAnExtentThatIsNotFinite) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  EXPECT_EQ(refusal(latticeBox(nan, 4, 4, 0.5f)), "initFlow: width = nan is not a finite extent");
  EXPECT_EQ(refusal(latticeBox(10, 4, inf, 0.5f)), "initFlow: depth = inf is not a finite extent");
  EXPECT_EQ(refusal(latticeBox(10, -inf, 4, 0.5f)), "initFlow: height = -inf is not a finite extent");
}

TEST(InitFlow, RefusesALatticeLargerThanThisMachinesMemory) {
  // 2047 x 1024 x 1024 nodes are addressable but need 372 bytes each, about 800 GB.
  EXPECT_NE(refusal(latticeBox(2047, 1024, 1024, 1.0f)).find("needs 798473846784 bytes"), std::string::npos);
}

TEST(InitFlow, RejectsMoreNodesThanTheKernelsCanAddress) {
  // 2^22 nodes per axis is a valid spacing, but 2^66 nodes overflow even a 64-bit count.
  try {
    initFlow(latticeBox(4194304.0f, 4194304.0f, 4194304.0f, 1.0f));
    FAIL() << "expected std::invalid_argument";
  } catch (const std::invalid_argument& e) {
    EXPECT_NE(std::string(e.what()).find("4194304 x 4194304 x 4194304"), std::string::npos) << e.what();
  }
  EXPECT_THROW(initFlow(latticeBox(2048, 1024, 1024, 1.0f)), std::invalid_argument);  // exactly 2^31 nodes
}

TEST(LatticeIndex, MapsPointsToNodesWithoutRangeCheck) {
  auto flow = initFlow(latticeBox(10, 4, 4, 0.5f));
  const auto origin = getLatticeIndex(*flow, -5.0f, -2.0f, -2.0f);
  EXPECT_EQ(origin.x, 0);
  EXPECT_EQ(origin.y, 0);
  EXPECT_EQ(origin.z, 0);
  const auto below = getLatticeIndex(*flow, -5.0f - 0.3f * 0.5f, 0.26f, 1.9f);
  EXPECT_EQ(below.x, -1);
  EXPECT_EQ(below.y, 4);  // (0.26 + 2) / 4 * 8 = 4.52
  EXPECT_EQ(below.z, 7);
  EXPECT_EQ(getLatticeIndex(*flow, 5.0f, 0, 0).x, 20);  // the upper face is one past the last node
}

TEST(SetNodeVelocity, WritesTheEquilibriumIntoBothArrays) {
  auto flow = initFlow(latticeBox(2, 1, 1, 0.5f));
  const std::size_t n = flow->count;
  for (std::size_t k = 0; k < 27 * n; ++k) flow->f[k] = flow->fPost[k] = -7.0f;
  flow->rou[3] = 1.5f;

  setNodeVelocity(*flow, 5, 0, 0, 0);
  for (int q = 0; q < 27; ++q) {
    EXPECT_EQ(flow->f[q * n + 5], d3q27::w[q]);
    EXPECT_EQ(flow->fPost[q * n + 5], d3q27::w[q]);
  }

  setNodeVelocity(*flow, 3, 0.1f, -0.05f, 0.02f);
  EXPECT_EQ(flow->ux[3], 0.1f);
  EXPECT_EQ(flow->uy[3], -0.05f);
  EXPECT_EQ(flow->uz[3], 0.02f);
  double m0 = 0, mx = 0;
  for (int q = 0; q < 27; ++q) {
    EXPECT_EQ(flow->f[q * n + 3], d3q27::equilibrium(q, 1.5f, 0.1f, -0.05f, 0.02f));
    m0 += flow->f[q * n + 3];
    mx += flow->f[q * n + 3] * d3q27::ex[q];
  }
  EXPECT_NEAR(m0, 1.5, 1e-6);
  EXPECT_NEAR(mx, 0.15, 1e-6);

  // Out of range: nothing changes.
  setNodeVelocity(*flow, -1, 1, 1, 1);
  setNodeVelocity(*flow, static_cast<std::int32_t>(n), 1, 1, 1);
  for (std::size_t i = 0; i < n; ++i) {
    if (i == 3 || i == 5) continue;
    EXPECT_EQ(flow->ux[i], 0.0f);
    for (int q = 0; q < 27; ++q) EXPECT_EQ(flow->f[q * n + i], -7.0f);
  }
}

TEST(DeleteHostFlow, ReleasesArraysNotTheRecord) {
  auto flow = initFlow(latticeBox(2, 1, 1, 0.5f));
  deleteHostFlow(*flow);
  EXPECT_EQ(flow->f, nullptr);
  EXPECT_EQ(flow->param, nullptr);
  EXPECT_EQ(flow->Sopt, nullptr);
  EXPECT_EQ(flow->count, 16u);
  deleteHostFlow(*flow);  // a second release is harmless
}

}  // namespace
