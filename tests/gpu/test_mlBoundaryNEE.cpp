#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <vector>

#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
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
  l.host->param->pml_width = 1;                    // planes at x = 1, 4 and y, z = 1, 3
  l.host->flag[l.index(4, 2, 2)] = NODE_VELOCITY;  // on an x plane
  l.host->flag[l.index(2, 1, 2)] = NODE_VELOCITY;  // inside a row of the y plane
  l.upload();
  mlBndCondNEEGpu(l.dev, l.param(), true);
  l.download();
  for (int z = 0; z < 5; ++z)
    for (int y = 0; y < 5; ++y)
      for (int x = 0; x < 6; ++x) {
        const bool outside = x == 0 || x == 5 || y == 0 || y == 4 || z == 0 || z == 4;
        if (outside || l.host->flag[l.index(x, y, z)] == NODE_VELOCITY) {
          expectUntouched(x, y, z);
          EXPECT_EQ(l.host->rou[l.index(x, y, z)], -1.0f) << x << y << z;
        }
      }
  expectCopied(1, 2, 2, 2, 2, 2);
  expectCopied(1, 1, 1, 2, 2, 2);
  expectCopied(4, 3, 3, 3, 2, 2);
  expectCopied(1, 1, 2, 2, 2, 2);
  expectCopied(3, 1, 2, 3, 2, 2);
}

// Inflow limiting on both x faces: the neighbour of (0, 2, 2) or (5, 2, 2) carries a first moment m along
// x. Only an inertial box limits, only a component pointing from the plane into the box (+x at x = 0, -x
// at x = 5), and only above 0.2: 0.22 is cut and 0.19 is not.
TEST_F(OpenBoundary, InflowAboveTheLimitIsCutOnlyInAnInertialBox) {
  struct Case {
    int x, nbx;
    float m;
    bool cut;
  };
  const Case cases[] = {{0, 1, 0.25f, true},  {5, 4, -0.25f, true},  {0, 1, 0.22f, true},  {5, 4, -0.22f, true},
                        {0, 1, 0.19f, false}, {5, 4, -0.19f, false}, {0, 1, -0.3f, false}, {5, 4, 0.3f, false}};
  const std::vector<float> start(l.host->f, l.host->f + 27 * l.count());
  for (const Case& c : cases)
    for (bool inertial : {false, true}) {
      std::copy(start.begin(), start.end(), l.host->f);
      const std::size_t nb = l.index(c.nbx, 2, 2);
      for (int q = 0; q < 27; ++q) l.f(q, nb) = d3q27::w[q];
      l.f(1, nb) += 0.5f * c.m;  // +x
      l.f(2, nb) -= 0.5f * c.m;  // -x: mass unchanged
      std::vector<double> g(27);
      double m[3] = {0, 0, 0};
      for (int q = 0; q < 27; ++q) m[0] += d3q27::ex[q] * (g[q] = l.f(q, nb));
      l.upload();
      mlBndCondNEEGpu(l.dev, l.param(), inertial);
      l.download();
      const double limited[3] = {0, 0, 0};
      for (int q = 0; q < 27; ++q) {
        const double expected = inertial && c.cut ? feq(q, 1.0, limited) + g[q] - feq(q, 1.0, m) : g[q];
        EXPECT_NEAR(l.f(q, l.index(c.x, 2, 2)), expected, 1e-6) << c.x << " m " << c.m << " " << inertial << " q " << q;
      }
      EXPECT_NEAR(l.host->rou[l.index(c.x, 2, 2)], 1.0, 1e-6);
    }
}

// Lattice of the given size whose populations follow pattern(); densities marked unwritten.
std::unique_ptr<GpuLattice> patterned(int nx, int ny, int nz, int pml) {
  auto l = std::make_unique<GpuLattice>(nx, ny, nz);
  l->host->param->pml_width = pml;
  for (std::size_t i = 0; i < l->count(); ++i) {
    for (int q = 0; q < 27; ++q) l->f(q, i) = pattern(q, i);
    l->host->rou[i] = -1.0f;
  }
  return l;
}

// An axis with fewer than three nodes from plane to plane has no inner node: its planes copy along the
// other axes only, and a node with nothing to copy from keeps its populations (its density becomes their
// sum). Before, a one-node slab read and wrote a plane beyond the lattice, and two planes side by side
// read each other while they were written.
TEST(ThinBox, PlanesOfAThinAxisCopyAlongTheOtherAxesOnly) {
  struct Case {
    int n[3], pml;
    int node[3], source[3];
  };
  const Case cases[] = {{{6, 5, 1}, 0, {2, 2, 0}, {2, 2, 0}}, {{6, 5, 1}, 0, {0, 2, 0}, {1, 2, 0}},
                        {{6, 5, 1}, 0, {5, 0, 0}, {4, 1, 0}}, {{6, 5, 2}, 0, {3, 2, 1}, {3, 2, 1}},
                        {{6, 5, 2}, 0, {0, 0, 1}, {1, 1, 1}}, {{6, 2, 5}, 0, {2, 0, 4}, {2, 0, 3}},
                        {{6, 6, 6}, 2, {2, 2, 2}, {2, 2, 2}}, {{6, 6, 6}, 2, {3, 2, 3}, {3, 2, 3}},
                        {{7, 3, 5}, 1, {1, 1, 2}, {2, 1, 2}}, {{7, 3, 5}, 1, {5, 1, 1}, {4, 1, 2}}};
  for (const Case& c : cases) {
    auto l = patterned(c.n[0], c.n[1], c.n[2], c.pml);
    l->upload();
    mlBndCondNEEGpu(l->dev, l->param(), true);
    l->download();
    const std::size_t i = l->index(c.node[0], c.node[1], c.node[2]);
    const std::size_t s = l->index(c.source[0], c.source[1], c.source[2]);
    double rho = 0;
    for (int q = 0; q < 27; ++q) {
      EXPECT_EQ(l->f(q, i), pattern(q, s)) << c.n[0] << c.n[1] << c.n[2] << " node " << i << " q " << q;
      rho += pattern(q, s);
    }
    EXPECT_NEAR(l->host->rou[i], rho, 1e-6) << c.n[0] << c.n[1] << c.n[2] << " node " << i;
  }
}

// Whole steps through thin boxes: a uniform flow in a one-node slab stays uniform (every node alike, bit
// for bit), and the result depends neither on the number of threads nor on streaming stores (forced on;
// the 32-node rows use them). Run under AddressSanitizer, the slab also shows that no kernel leaves the
// lattice.
TEST(ThinBox, WholeStepsStayInsideAndDoNotDependOnTheThreads) {
  struct Case {
    int n[3];
    float shear;  // u_x = 0.05 + shear * sin(y + z)
  };
  using dz::device::StreamingStores;
  for (const Case& c :
       {Case{{9, 7, 1}, 0.0f}, Case{{9, 2, 6}, 0.02f}, Case{{33, 5, 2}, 0.02f}, Case{{32, 4, 3}, 0.02f}}) {
    std::vector<std::vector<float>> runs;
    for (int run = 0; run < 8; ++run) {
      const int threads[4] = {1, 2, 3, 8};
      dz::device::setHostThreads(threads[run % 4]);
      dz::device::streamingStores = run < 4 ? StreamingStores::never : StreamingStores::always;
      GpuLattice l(c.n[0], c.n[1], c.n[2], 0.02f);
      for (int z = 0; z < l.nz(); ++z)
        for (int y = 0; y < l.ny(); ++y)
          for (int x = 0; x < l.nx(); ++x) {
            const std::size_t i = l.index(x, y, z);
            const float u[3] = {0.05f + c.shear * std::sin(float(y + z)), 0.02f, 0.0f};
            l.host->ux[i] = u[0];
            l.host->uy[i] = u[1];
            for (int q = 0; q < 27; ++q)
              l.f(q, i) = l.host->fPost[q * l.count() + i] = d3q27::equilibrium(q, 1.0f, u[0], u[1], u[2]);
          }
      l.upload();
      const mlTransform4d identity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
      for (int t = 0; t < 4; ++t) {
        mlAddForcetoUOptGpu(l.dev, l.param(), {1, 1, 1}, {}, {}, {}, identity, 1.0f);
        mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
        mlCuStream3dOptGpu(l.dev, l.param());
        mlBndCondNEEGpu(l.dev, l.param(), true);
        mlCalOneOrderMomentOptGpu(l.dev, l.param());
      }
      l.download();
      std::vector<float> state(l.host->f, l.host->f + 27 * l.count());
      state.insert(state.end(), l.host->ux, l.host->ux + l.count());
      for (std::size_t i = 0; i < l.count(); ++i) state.push_back(l.host->rou[i]);
      if (c.shear == 0.0f)
        for (std::size_t i = 0; i < l.count(); ++i) {
          for (int q = 0; q < 27; ++q) ASSERT_EQ(l.f(q, i), l.f(q, 0)) << "node " << i << " q " << q;
          ASSERT_NEAR(l.host->ux[i] / l.host->rou[i], 0.05f, 1e-6) << i;
        }
      runs.push_back(state);
    }
    dz::device::setHostThreads(0);
    dz::device::streamingStores = StreamingStores::automatic;
    for (std::size_t r = 1; r < runs.size(); ++r)
      EXPECT_TRUE(runs[r] == runs[0]) << c.n[0] << c.n[1] << c.n[2] << " run " << r;
  }
}

}  // namespace
