#include <gtest/gtest.h>

#include <vector>

#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
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
      l.host->fPost[q * l.count() + i] = tag(q, i);
      l.f(q, i) = -tag(q, i);  // what a node keeps where nothing streams in
    }
  l.host->flag[l.index(2, 1, 1)] = NODE_VELOCITY;
  l.upload();
  dz::device::streamingStores = GetParam();
  mlCuStream3dOptGpu(l.dev, l.param());
  dz::device::streamingStores = dz::device::StreamingStores::automatic;
  l.download();
  int kept = 0;
  for (int z = 0; z < l.nz(); ++z)
    for (int y = 0; y < l.ny(); ++y)
      for (int x = 0; x < l.nx(); ++x) {
        const std::size_t i = l.index(x, y, z);
        for (int q = 0; q < 27; ++q) {
          const int sx = x - d3q27::ex[q], sy = y - d3q27::ey[q], sz = z - d3q27::ez[q];
          const bool inside = sx >= 0 && sx < l.nx() && sy >= 0 && sy < l.ny() && sz >= 0 && sz < l.nz();
          if (i == l.index(2, 1, 1) || !inside) {
            EXPECT_EQ(l.f(q, i), -tag(q, i)) << x << y << z << " q " << q;
            ++kept;
          } else {
            EXPECT_EQ(l.f(q, i), tag(q, l.index(sx, sy, sz))) << x << y << z << " q " << q;
          }
        }
      }
  // A face node of x = 0 keeps the 9 directions with c_x = 1; the corner (0, 0, 0) the 19 that point
  // inward across any of its three faces.
  for (int q = 0; q < 27; ++q) {
    EXPECT_EQ(l.f(q, l.index(0, 1, 1)) == -tag(q, l.index(0, 1, 1)), d3q27::ex[q] == 1) << q;
    const bool inward = d3q27::ex[q] == 1 || d3q27::ey[q] == 1 || d3q27::ez[q] == 1;
    EXPECT_EQ(l.f(q, 0) == -tag(q, 0), inward) << q;
  }
  EXPECT_GT(kept, 27);
}

INSTANTIATE_TEST_SUITE_P(Stores, Stream,
                         testing::Values(dz::device::StreamingStores::never, dz::device::StreamingStores::always));

TEST(Moments, DensityMomentumAndClearedForcesOnEveryNode) {
  GpuLattice l(3, 2, 2);
  const std::size_t n = l.count();
  for (std::size_t i = 0; i < n; ++i) {
    for (int q = 0; q < 27; ++q) l.f(q, i) = 0.01f * (q + 1) + 0.001f * i;
    l.host->forcex[i] = 1.0;
    l.host->forcey[i] = 2.0;
    l.host->forcez[i] = 3.0;
  }
  l.host->flag[1] = NODE_VELOCITY;
  l.upload();
  mlCalOneOrderMomentOptGpu(l.dev, l.param());
  l.download();
  for (std::size_t i = 0; i < n; ++i) {
    double m[4] = {0, 0, 0, 0};  // density and momentum
    for (int q = 0; q < 27; ++q) {
      const double fq = 0.01f * (q + 1) + 0.001f * i;
      const int c[4] = {1, d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]};
      for (int k = 0; k < 4; ++k) m[k] += c[k] * fq;
    }
    const float got[4] = {l.host->rou[i], l.host->ux[i], l.host->uy[i], l.host->uz[i]};
    for (int k = 0; k < 4; ++k) EXPECT_NEAR(got[k], m[k], 1e-6) << i << " moment " << k;
    const double F[3] = {l.host->forcex[i], l.host->forcey[i], l.host->forcez[i]};
    EXPECT_EQ(std::vector<double>(F, F + 3), std::vector<double>(3, 0.0)) << i;
  }
}

}  // namespace
