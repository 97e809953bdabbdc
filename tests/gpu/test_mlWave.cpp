#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "duriz/gpu_inc/gpu/mlWave.h"
#include "gpuLattice.h"
#include "launchLog.h"

namespace {

// On a 5 x 4 x 4 lattice the centre node is (2, 2, 2). At step t <= 299 it takes an equilibrium of density
// 1 + 0.001 sin(2 pi t / 20) at its stored velocity (so density rho, momentum rho u) in f and fPost; later
// steps and every other node change nothing.
TEST(Wave, ActsOnlyOnTheCentreNodeAndOnlyUpToStep299) {
  const float u[3] = {0.01f, -0.02f, 0.005f};
  const struct {
    int step;
    double rho;  // 0: no change
  } cases[] = {{0, 1.0}, {5, 1.001}, {15, 0.999}, {299, 1 + 0.001 * std::sin(2 * 3.14159265358979 * 299 / 20)},
               {300, 0}, {1000, 0}};
  for (const auto& c : cases) {
    gputest::GpuLattice l(5, 4, 4);
    const std::size_t centre = l.index(2, 2, 2), n = l.count();
    auto tag = [](int q, std::size_t i) { return 1000.0f * q + i + 1; };
    for (std::size_t i = 0; i < n; ++i) {
      l.host->ux[i] = u[0];
      l.host->uy[i] = u[1];
      l.host->uz[i] = u[2];
      for (int q = 0; q < 27; ++q) l.f(q, i) = l.host->fPost[q * n + i] = tag(q, i);
    }
    l.upload();
    EXPECT_EQ(gputest::launchesOf([&] { mlWaveGpu(l.dev, l.param(), c.step); }),
              std::vector<std::string>{"mlWaveKernel grid 1 1 1 block 1 1 1"});
    l.download();
    double m[4] = {0, 0, 0, 0};  // density and momentum of the centre node
    for (std::size_t i = 0; i < n; ++i)
      for (int q = 0; q < 27; ++q) {
        ASSERT_EQ(l.f(q, i), l.host->fPost[q * n + i]) << "step " << c.step << " node " << i;
        if (i != centre || c.rho == 0) {
          ASSERT_EQ(l.f(q, i), tag(q, i)) << "step " << c.step << " node " << i;
        }
        const int cq[4] = {1, d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]};
        for (int k = 0; i == centre && k < 4; ++k) m[k] += cq[k] * l.f(q, i);
      }
    if (c.rho == 0) continue;
    EXPECT_NEAR(m[0], c.rho, 1e-6) << "step " << c.step;
    for (int k = 0; k < 3; ++k) EXPECT_NEAR(m[k + 1], c.rho * u[k], 1e-7) << "step " << c.step;
  }
}

}  // namespace
