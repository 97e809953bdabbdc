// Streaming, the moments, and the wave source: each node's populations go where the kernel says.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/gpu_inc/gpu/mlWave.h"
#include "gpuLattice.h"

namespace {

using gputest::GpuLattice;

// A value that names its node and direction.
float tag(int q, std::size_t i) { return 1000.0f * q + static_cast<float>(i) + 1.0f; }

// Two blocks of threads, one of them with a prescribed-velocity node, with plain and streaming stores.
class Stream : public testing::TestWithParam<dz::device::StreamingStores> {};

TEST_P(Stream, PullsFromTheUpstreamNeighbourAndKeepsWhatEntersFromOutside) {
  GpuLattice l(40, 6, 3);
  for (int q = 0; q < 27; ++q)
    for (std::size_t i = 0; i < l.count(); ++i) {
      l.post(q, i) = tag(q, i);
      l.f(q, i) = -tag(q, i);  // what a node keeps where nothing streams in
    }
  l.host->flag[l.index(2, 1, 1)] = NODE_VELOCITY;
  l.upload();
  dz::device::streamingStores = GetParam();
  mlCuStream3dOptGpu(l.dev, l.param());
  dz::device::streamingStores = dz::device::StreamingStores::automatic;
  l.download();
  for (int z = 0; z < l.nz(); ++z)
    for (int y = 0; y < l.ny(); ++y)
      for (int x = 0; x < l.nx(); ++x) {
        const std::size_t i = l.index(x, y, z);
        for (int q = 0; q < 27; ++q) {
          const int sx = x - d3q27::ex[q], sy = y - d3q27::ey[q], sz = z - d3q27::ez[q];
          const bool inside = sx >= 0 && sx < l.nx() && sy >= 0 && sy < l.ny() && sz >= 0 && sz < l.nz();
          const bool keeps = i == l.index(2, 1, 1) || !inside;
          EXPECT_EQ(l.f(q, i), keeps ? -tag(q, i) : tag(q, l.index(sx, sy, sz))) << x << y << z << " q " << q;
        }
      }
}

INSTANTIATE_TEST_SUITE_P(Stores, Stream,
                         testing::Values(dz::device::StreamingStores::never, dz::device::StreamingStores::always));

TEST(Moments, DensityMomentumAndClearedForcesOnEveryNode) {
  GpuLattice l(3, 2, 2);
  for (std::size_t i = 0; i < l.count(); ++i) {
    for (int q = 0; q < 27; ++q) l.f(q, i) = 0.01f * (q + 1) + 0.001f * i;
    l.host->forcex[i] = 1.0, l.host->forcey[i] = 2.0, l.host->forcez[i] = 3.0;
  }
  l.host->flag[1] = NODE_VELOCITY;
  l.upload();
  mlCalOneOrderMomentOptGpu(l.dev, l.param());
  l.download();
  for (std::size_t i = 0; i < l.count(); ++i) {
    const auto m = gputest::nodeMoments(l, i);
    const float got[4] = {l.host->rou[i], l.host->ux[i], l.host->uy[i], l.host->uz[i]};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], m[k], 1e-6) << i << " moment " << k;
    const double F[3] = {l.host->forcex[i], l.host->forcey[i], l.host->forcez[i]};
    EXPECT_EQ(std::vector<double>(F, F + 3), std::vector<double>(3, 0.0)) << i;
  }
}

// On a 5 x 4 x 4 lattice the centre node is (2, 2, 2). At step t <= 299 it takes an equilibrium of density
// 1 + 0.001 sin(2 pi t / 20) at its stored velocity (so density rho, momentum rho u) in f and fPost; later
// steps and every other node change nothing.
TEST(Wave, ActsOnlyOnTheCentreNodeAndOnlyUpToStep299) {
  const float u[3] = {0.01f, -0.02f, 0.005f};
  const struct {
    int step;
    double rho;  // 0: no change
  } cases[] = {{5, 1.001}, {15, 0.999}, {299, 1 + 0.001 * std::sin(2 * 3.14159265358979 * 299 / 20)}, {300, 0}};
  for (const auto& c : cases) {
    GpuLattice l(5, 4, 4);
    const std::size_t centre = l.index(2, 2, 2);
    for (std::size_t i = 0; i < l.count(); ++i) {
      l.host->ux[i] = u[0], l.host->uy[i] = u[1], l.host->uz[i] = u[2];
      for (int q = 0; q < 27; ++q) l.f(q, i) = l.post(q, i) = tag(q, i);
    }
    l.upload();
    mlWaveGpu(l.dev, l.param(), c.step);
    l.download();
    for (std::size_t i = 0; i < l.count(); ++i)
      for (int q = 0; q < 27; ++q) {
        ASSERT_EQ(l.f(q, i), l.post(q, i)) << "step " << c.step << " node " << i;
        ASSERT_TRUE((i == centre && c.rho != 0) || l.f(q, i) == tag(q, i)) << "step " << c.step << " node " << i;
      }
    if (c.rho == 0) continue;
    const auto m = gputest::nodeMoments(l, centre);
    EXPECT_NEAR(m[0], c.rho, 1e-6) << "step " << c.step;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(m[k + 1], c.rho * u[k], 1e-7) << "step " << c.step;
  }
}

}  // namespace
