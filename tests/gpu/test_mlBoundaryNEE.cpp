#include <gtest/gtest.h>

#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "gpuLattice.h"

namespace {

using gputest::GpuLattice;

// Populations that differ at every node and direction, with a modest first moment (well below the
// inflow limit) so that the two equilibria of the rule cancel.
float pattern(int q, std::size_t i) { return d3q27::w[q] * (1.0f + 0.01f * ((i * 7 + q * 3) % 11)); }

// The equilibrium the boundary builds, in double: rho times one line per axis with populations
// (1/3 + u^2 -+ u)/2 at c = -+1 and 2/3 - u^2 at c = 0.
double feq(int q, double rho, const double u[3]) {
  const int c[3] = {d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]};
  double e = rho;
  for (int a = 0; a < 3; ++a) {
    const double m2 = 1.0 / 3.0 + u[a] * u[a];
    e *= c[a] == 0 ? 1.0 - m2 : 0.5 * (m2 + c[a] * u[a]);
  }
  return e;
}

class OpenBoundary : public ::testing::Test {
 protected:
  OpenBoundary() : l(6, 5, 5) {
    for (std::size_t i = 0; i < l.count(); ++i) {
      for (int q = 0; q < 27; ++q) l.f(q, i) = pattern(q, i);
      l.host->rou[i] = -1.0f;  // marks densities the kernel did not write
    }
  }
  // The node's populations equal its source node's (up to float rounding) and both densities are the
  // source's population sum.
  void expectCopied(int x, int y, int z, int sx, int sy, int sz) {
    const std::size_t i = l.index(x, y, z), s = l.index(sx, sy, sz);
    double rho = 0;
    for (int q = 0; q < 27; ++q) {
      EXPECT_NEAR(l.f(q, i), pattern(q, s), 1e-7) << x << y << z << " q " << q;
      rho += pattern(q, s);
    }
    EXPECT_NEAR(l.host->rou[i], rho, 1e-6) << x << y << z;
    EXPECT_NEAR(l.host->rou[s], rho, 1e-6) << sx << sy << sz;
  }
  void expectUntouched(int x, int y, int z) {
    const std::size_t i = l.index(x, y, z);
    for (int q = 0; q < 27; ++q) EXPECT_EQ(l.f(q, i), pattern(q, i)) << x << y << z << " q " << q;
  }
  GpuLattice l;
};

TEST_F(OpenBoundary, FacesEdgesAndCornersCopyTheirInwardNeighbour) {
  l.upload();
  mlBndCondNEEGpu(l.dev, l.param(), false);
  l.download();
  expectCopied(0, 2, 3, 1, 2, 3);  // faces: straight inward
  expectCopied(5, 1, 2, 4, 1, 2);
  expectCopied(2, 4, 3, 2, 3, 3);
  expectCopied(3, 2, 0, 3, 2, 1);
  expectCopied(0, 0, 2, 1, 1, 2);  // edges: diagonally inward
  expectCopied(5, 3, 4, 4, 3, 3);
  expectCopied(3, 4, 4, 3, 3, 3);
  expectCopied(0, 0, 0, 1, 1, 1);  // corners
  expectCopied(5, 4, 4, 4, 3, 3);
  expectCopied(5, 0, 4, 4, 1, 3);
  for (int z = 1; z < 4; ++z)
    for (int y = 1; y < 4; ++y)
      for (int x = 1; x < 5; ++x) expectUntouched(x, y, z);
}

TEST_F(OpenBoundary, PrescribedVelocityNodesAndNodesOutsideThePlanesAreLeftAlone) {
  l.host->param->pml_width = 1;  // planes at x = 1, 4 and y, z = 1, 3
  l.host->flag[l.index(4, 2, 2)] = NODE_VELOCITY;
  l.upload();
  mlBndCondNEEGpu(l.dev, l.param(), true);
  l.download();
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool outside = x == 0 || x == 5 || y == 0 || y == 4 || z == 0 || z == 4;
        if (outside || (x == 4 && y == 2 && z == 2)) {
          expectUntouched(x, y, z);
          if (outside || x == 4) {
            EXPECT_EQ(l.host->rou[l.index(x, y, z)], -1.0f) << x << y << z;
          }
        }
      }
  expectCopied(1, 2, 2, 2, 2, 2);
  expectCopied(1, 1, 1, 2, 2, 2);
  expectCopied(4, 3, 3, 3, 2, 2);
}

// The neighbours of the face nodes (0, 2, 2) and (5, 2, 2) carry a first moment of 0.25 along +x: into
// the box at x = 0, out of it at x = 5. Only an inertial box limits, and only the inward component.
TEST_F(OpenBoundary, InflowAboveTheLimitIsCutOnlyInAnInertialBox) {
  const std::size_t nb = l.index(1, 2, 2);
  for (int q = 0; q < 27; ++q) l.f(q, nb) = d3q27::w[q];
  l.f(1, nb) += 0.125f;  // +x
  l.f(2, nb) -= 0.125f;  // -x: mass unchanged, momentum +0.25
  for (int q = 0; q < 27; ++q) l.f(q, l.index(4, 2, 2)) = l.f(q, nb);
  const std::vector<float> g(l.host->f, l.host->f + 27 * l.count());
  for (bool inertial : {false, true}) {
    std::copy(g.begin(), g.end(), l.host->f);
    l.upload();
    mlBndCondNEEGpu(l.dev, l.param(), inertial);
    l.download();
    const double m[3] = {0.25, 0.0, 0.0}, cut[3] = {0.0, 0.0, 0.0};
    for (int q = 0; q < 27; ++q) {
      const double gq = g[q * l.count() + nb];
      const double expected = inertial ? feq(q, 1.0, cut) + gq - feq(q, 1.0, m) : gq;
      EXPECT_NEAR(l.f(q, l.index(0, 2, 2)), expected, 1e-6) << inertial << " q " << q;
      EXPECT_NEAR(l.f(q, l.index(5, 2, 2)), gq, 1e-6) << inertial << " q " << q;
    }
    EXPECT_NEAR(l.host->rou[l.index(0, 2, 2)], 1.0, 1e-6);
  }
}

}  // namespace
