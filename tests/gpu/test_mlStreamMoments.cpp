// Streaming, the moments, and the wave source: each node's populations go where the kernel says.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/gpu_inc/gpu/mlWave.h"
#include "gpuLattice.h"

// Kernels reached here without their wrapper.
__global__ void mlCalOneOrderMomentKernel(mlFlow* flow, std::int64_t nx, std::int64_t ny, std::int64_t nz);

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

// With changeInlet the plane y = 0 becomes an inlet at rest (flag 8, zero velocity, f = fPost = w_q rou,
// also where a node was prescribed) before the pull: every population streamed from it is w_q times its
// density. Without, the kernel streams as the live one, prescribed-velocity nodes kept.
TEST(StreamChangeInlet, TurnsTheLowYPlaneIntoAnInletAtRestBeforeStreaming) {
  for (bool changeInlet : {false, true}) {
    GpuLattice l(5, 4, 3);
    for (std::size_t i = 0; i < l.count(); ++i) {
      l.host->rou[i] = 1.0f + 0.01f * i;
      l.host->ux[i] = 0.05f;
      for (int q = 0; q < 27; ++q) l.post(q, i) = tag(q, i), l.f(q, i) = -tag(q, i);
    }
    const std::size_t fixedInPlane = l.index(1, 0, 1), fixed = l.index(2, 2, 1);
    l.host->flag[fixedInPlane] = l.host->flag[fixed] = NODE_VELOCITY;
    l.upload();
    mmlStreamChangeInletGpu(l.dev, l.param(), changeInlet);
    l.download();
    auto inlet = [&](int y) { return changeInlet && y == 0; };
    for (int z = 0; z < l.nz(); ++z)
      for (int y = 0; y < l.ny(); ++y)
        for (int x = 0; x < l.nx(); ++x) {
          const std::size_t i = l.index(x, y, z);
          const float rho = l.host->rou[i];
          EXPECT_EQ(l.host->flag[i],
                    inlet(y) ? NODE_DOWN : (i == fixed || i == fixedInPlane ? NODE_VELOCITY : NODE_FLUID));
          EXPECT_EQ(l.host->ux[i], inlet(y) ? 0.0f : 0.05f) << x << y << z;
          for (int q = 0; q < 27; ++q) {
            const int sx = x - d3q27::ex[q], sy = y - d3q27::ey[q], sz = z - d3q27::ez[q];
            const bool inside = sx >= 0 && sx < l.nx() && sy >= 0 && sy < l.ny() && sz >= 0 && sz < l.nz();
            const std::size_t s = inside ? l.index(sx, sy, sz) : i;
            const float own = inlet(y) ? d3q27::equilibrium(q, rho, 0, 0, 0) : -tag(q, i);
            const float pulled = inlet(sy) ? d3q27::equilibrium(q, l.host->rou[s], 0, 0, 0) : tag(q, s);
            const bool keeps = !inside || (!inlet(y) && l.host->flag[i] == NODE_VELOCITY);
            ASSERT_EQ(l.f(q, i), keeps ? own : pulled) << changeInlet << " node " << x << y << z << " q " << q;
            ASSERT_EQ(l.post(q, i), inlet(y) ? own : tag(q, i)) << changeInlet << " node " << x << y << z;
          }
        }
  }
}

// The older moment kernels on every node, prescribed-velocity ones too: mlCalMacroGpu gives density and
// velocity from f and keeps the forces; mlCalOneOrderMomentKernel (64-bit sizes, any launch shape) gives
// density and first moment and clears the forces; mlRestoreUOptGpu divides the stored first moment by the
// stored density. Node 0 has no mass but a first moment of 0.1: its velocity is 0, not infinite.
TEST(Moments, OlderVariantsGiveDensityVelocityOrMomentum) {
  const struct {
    void (*run)(GpuLattice&);
    bool fromStored, divides, clearsForces;
  } kernels[] = {
      {[](GpuLattice& l) { mlCalMacroGpu(l.dev, l.param()); }, false, true, false},
      {[](GpuLattice& l) {
         const std::int64_t n[3] = {l.nx(), l.ny(), l.nz()};
         DZ_LAUNCH(mlCalOneOrderMomentKernel, dim3(2, 1, 1), dim3(4, 2, 1), l.dev, n[0], n[1], n[2]);
         checkCudaLaunch();
       },
       false, false, true},
      {[](GpuLattice& l) { mlRestoreUOptGpu(l.dev, l.param()); }, true, true, false},
  };
  for (const auto& k : kernels) {
    GpuLattice l(3, 2, 2);
    for (std::size_t i = 0; i < l.count(); ++i) {
      for (int q = 0; q < 27; ++q) l.f(q, i) = i > 0 ? 0.01f * (q + 1) + 0.001f * i : 0.1f * (q == 1) - 0.1f * (q == 0);
      const auto m = gputest::nodeMoments(l, i);
      float* stored[4] = {&l.host->rou[i].rho, &l.host->ux[i], &l.host->uy[i], &l.host->uz[i]};
      for (int a = 0; a < 4; ++a) *stored[a] = k.fromStored ? static_cast<float>(m[a]) : -7.0f;
      l.host->forcex[i] = 1.0, l.host->forcey[i] = 2.0, l.host->forcez[i] = 3.0;
    }
    l.host->flag[1] = NODE_VELOCITY;
    l.upload();
    k.run(l);
    l.download();
    for (std::size_t i = 0; i < l.count(); ++i) {
      const auto m = gputest::nodeMoments(l, i);
      const float got[4] = {l.host->rou[i], l.host->ux[i], l.host->uy[i], l.host->uz[i]};
      const double F[3] = {l.host->forcex[i], l.host->forcey[i], l.host->forcez[i]};
      EXPECT_NEAR(got[0], m[0], 1e-6) << k.divides << " node " << i;
      for (int a = 1; a < 4; ++a) {
        EXPECT_NEAR(got[a], !k.divides ? m[a] : (i == 0 ? 0.0 : m[a] / m[0]), 1e-6) << k.divides << " node " << i;
        EXPECT_EQ(F[a - 1], k.clearsForces ? 0.0 : a) << k.divides << " node " << i;
      }
    }
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
