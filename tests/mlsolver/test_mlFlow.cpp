// The host lattice: node counts from the single-precision running sum, refused boxes,
// node lookup and prescribed velocities. Released lattices are refused by the fluid step's tests.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "duriz/mlsolver/OutOfMemory.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlFlow.h"
#include "mlsolver/latticeBox.h"
#include "testSupport.h"

namespace {

TEST(InitFlow, NodeCountsComeFromTheSinglePrecisionRunningSum) {
  auto p = latticeBox(10, 4, 4, 0.5f);
  p->pml_width = 2;
  p->slip_ratio = 0.25f;
  auto flow = initFlow(p);
  const MLFluidParam& prm = *flow->param;
  EXPECT_EQ(std::vector<int>(prm.samples, prm.samples + 3), (std::vector<int>{20, 8, 8}));
  EXPECT_EQ(flow->count, 20u * 8 * 8);
  EXPECT_EQ(prm.count, 20u * 8 * 8);
  EXPECT_EQ(flow->start[0], -5.0f);
  EXPECT_EQ(prm.start[1], -2.0f);
  EXPECT_EQ(prm.end[0], 4.5f);  // start + 9.5
  EXPECT_EQ(prm.pml_width, 2);
  EXPECT_EQ(prm.slip_ratio, 0.25f);
  EXPECT_FLOAT_EQ(flow->viscosity, p->N * p->u0k * p->visp / (p->u0p * p->l0p));
  for (std::size_t i = 0; i < flow->count; i += 37) {
    EXPECT_EQ(flow->flag[i], NODE_FLUID);
    EXPECT_EQ(flow->rou[i], 1.0f);
  }
  // With dx = 0.1 the float sums of 100 (x) and 40 (y) spacings are 10.000002 and 3.9999986: the count
  // is not width / dx rounded, and y needs a 41st node. An extent of 0 or below gives no nodes.
  auto fine = initFlow(latticeBox(10, 4, 0.25f, 0.1f));
  EXPECT_EQ(std::vector<int>(fine->param->samples, fine->param->samples + 3), (std::vector<int>{100, 41, 3}));
  EXPECT_NEAR(fine->param->end[0], 4.900002f, 1e-6f);
  EXPECT_EQ(initFlow(latticeBox(10, 0, 4, 0.5f))->count, 0u);
  EXPECT_EQ(initFlow(latticeBox(-2, 4, 4, 0.5f))->count, 0u);
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

TEST(InitFlow, RefusesBoxesItCannotLayOut) {
  const float nan = std::numeric_limits<float>::quiet_NaN(), inf = std::numeric_limits<float>::infinity();
  // The default record is GRAVITY mode with no spacing.
  EXPECT_NE(refusal(std::make_shared<simParams>()).find("dx = -1 cannot lay out"), std::string::npos);
  for (float dx : {0.0f, -0.5f, nan, inf, -inf, 1e-7f})  // 1e-7 would stall the float sum
    EXPECT_NE(refusal(latticeBox(10, 4, 4, dx)).find("cannot lay out the box"), std::string::npos) << dx;
  for (const auto& [bad, text] : {std::pair{nan, "nan"}, {inf, "inf"}, {-inf, "-inf"}}) {
    EXPECT_EQ(refusal(latticeBox(bad, 4, 4, 0.5f)),
              std::string("initFlow: width = ") + text + " is not a finite extent");
    EXPECT_EQ(refusal(latticeBox(10, bad, 4, 0.5f)),
              std::string("initFlow: height = ") + text + " is not a finite extent");
    EXPECT_EQ(refusal(latticeBox(10, 4, bad, 0.5f)),
              std::string("initFlow: depth = ") + text + " is not a finite extent");
  }
  // 2^66 nodes, and exactly 2^31: more than the kernels' 32-bit indices reach.
  EXPECT_NE(refusal(latticeBox(4194304.0f, 4194304.0f, 4194304.0f, 1.0f)).find("4194304 x 4194304 x 4194304"),
            std::string::npos);
  EXPECT_NE(refusal(latticeBox(2048, 1024, 1024, 1.0f)).find("can address"), std::string::npos);
  // 2047 x 1024 x 1024 nodes are addressable but need 372 bytes each and as many for the device mirror
  // (host memory in this build), about 1.6 TB: memory that cannot be had.
  const std::string what = testsupport::thrownWhat<OutOfMemory>([] { initFlow(latticeBox(2047, 1024, 1024, 1.0f)); });
  EXPECT_NE(what.find("2047 x 1024 x 1024 nodes (372 bytes per node, and as many for its device mirror) needs "
                      "1596947693568 bytes"),
            std::string::npos)
      << what;
  EXPECT_THROW(initFlow(nullptr), std::invalid_argument);
}

TEST(LatticeIndex, MapsPointsToNodesWithoutRangeCheck) {
  auto flow = initFlow(latticeBox(10, 4, 4, 0.5f));
  const auto origin = getLatticeIndex(*flow, -5.0f, -2.0f, -2.0f);
  EXPECT_EQ(origin.x + origin.y + origin.z, 0);
  const auto below = getLatticeIndex(*flow, -5.0f - 0.3f * 0.5f, 0.26f, 1.9f);
  EXPECT_EQ(below.x, -1);
  EXPECT_EQ(below.y, 4);  // (0.26 + 2) / 4 * 8 = 4.52
  EXPECT_EQ(below.z, 7);
  EXPECT_EQ(getLatticeIndex(*flow, 5.0f, 0, 0).x, 20);  // the upper face is one past the last node
}

TEST(SetNodeVelocity, WritesTheEquilibriumIntoBothArraysOfNodesInRange) {
  auto flow = initFlow(latticeBox(2, 1, 1, 0.5f));
  const std::size_t n = flow->count;
  std::fill(flow->f, flow->f + 27 * n, -7.0f);
  std::fill(flow->fPost, flow->fPost + 27 * n, -7.0f);
  flow->rou[3] = 1.5f;
  setNodeVelocity(*flow, 5, 0, 0, 0);
  setNodeVelocity(*flow, 3, 0.1f, -0.05f, 0.02f);
  setNodeVelocity(*flow, -1, 1, 1, 1);  // out of range: nothing changes
  setNodeVelocity(*flow, static_cast<std::int32_t>(n), 1, 1, 1);
  EXPECT_EQ(flow->ux[3], 0.1f);
  EXPECT_EQ(flow->uz[3], 0.02f);
  for (std::size_t i = 0; i < n; ++i) {
    float f[27], post[27];
    for (int q = 0; q < 27; ++q) f[q] = flow->f[q * n + i], post[q] = flow->fPost[q * n + i];
    EXPECT_EQ(std::vector<float>(f, f + 27), std::vector<float>(post, post + 27)) << i;
    if (i == 5)
      for (int q = 0; q < 27; ++q) EXPECT_EQ(f[q], d3q27::w[q]);  // at rest: w_q rho
    else if (i == 3)
      EXPECT_NEAR(std::inner_product(f, f + 27, d3q27::ex, 0.0), 1.5 * 0.1, 1e-6);  // x momentum
    else
      EXPECT_EQ(std::vector<float>(f, f + 27), std::vector<float>(27, -7.0f)) << i;
  }
}

}  // namespace
