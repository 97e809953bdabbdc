// The open boundary: plane nodes copy their inward neighbour, thin axes, and the inflow limit.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

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

// A lattice whose populations follow pattern(), densities marked unwritten.
struct Patterned : GpuLattice {
  Patterned(int nx, int ny, int nz, int pml) : GpuLattice(nx, ny, nz) {
    host->param->pml_width = pml;
    for (std::size_t i = 0; i < count(); ++i) {
      for (int q = 0; q < 27; ++q) f(q, i) = pattern(q, i);
      host->rou[i] = -1.0f;
    }
  }
};

// The planes lie pml_width nodes inside the box. A plane node copies its inward neighbour (faces straight
// in, edges and corners diagonally) and both take the copy's population sum as density (a node inside
// keeps its density or takes its own sum). An axis with
// fewer than three nodes from plane to plane has no inner node: its planes copy along the other axes
// only, and a node with nothing to copy from keeps its populations. Before, a one-node slab read and wrote
// a plane beyond the lattice, and two planes side by side read each other while they were written. Nodes
// off the planes and prescribed-velocity nodes keep their populations; those outside the planes and the
// prescribed ones also keep their densities.
TEST(OpenBoundary, PlaneNodesCopyTheirInwardNeighbour) {
  struct Case {
    int n[3], pml;
    bool prescribed;  // (4, 2, 2) on an x plane and (2, 1, 2) inside a row of the y plane
  };
  for (const Case& c : {Case{{6, 5, 5}, 0, false}, Case{{6, 5, 5}, 1, true}, Case{{6, 5, 1}, 0, false},
                        Case{{6, 5, 2}, 0, false}, Case{{6, 6, 6}, 2, false}, Case{{7, 3, 5}, 1, false}}) {
    Patterned l(c.n[0], c.n[1], c.n[2], c.pml);
    if (c.prescribed) l.host->flag[l.index(4, 2, 2)] = l.host->flag[l.index(2, 1, 2)] = NODE_VELOCITY;
    l.upload();
    mlBndCondNEEGpu(l.dev, l.param(), true);
    l.download();
    for (int z = 0; z < c.n[2]; ++z)
      for (int y = 0; y < c.n[1]; ++y)
        for (int x = 0; x < c.n[0]; ++x) {
          const int p[3] = {x, y, z};
          const std::size_t i = l.index(x, y, z);
          bool outside = l.host->flag[i] == NODE_VELOCITY, onPlane = false;
          int source[3] = {x, y, z};
          for (int a = 0; a < 3; ++a) {
            const int lo = c.pml, hi = c.n[a] - 1 - c.pml;
            outside = outside || p[a] < lo || p[a] > hi;
            onPlane = onPlane || p[a] == lo || p[a] == hi;
            if (hi - lo >= 2) source[a] += p[a] == lo ? 1 : (p[a] == hi ? -1 : 0);
          }
          const std::size_t s = outside || !onPlane ? i : l.index(source[0], source[1], source[2]);
          double rho = 0;
          for (int q = 0; q < 27; ++q) {
            ASSERT_EQ(l.f(q, i), pattern(q, s)) << c.n[0] << c.n[1] << c.n[2] << " node " << x << y << z;
            rho += pattern(q, s);
          }
          // Outside and prescribed nodes keep their densities, plane nodes take the copy's sum, nodes inside
          // keep theirs or take their own sum as some plane's source.
          const float r = l.host->rou[i];
          const bool kept = r == -1.0f, summed = std::fabs(r - rho) < 1e-6;
          EXPECT_TRUE(outside ? kept : (onPlane ? summed : kept || summed)) << x << y << z << " density " << r;
        }
  }
}

// Inflow limiting on both x faces: the neighbour of (0, 2, 2) or (5, 2, 2) carries a first moment m along
// x. Only an inertial box limits, only a component pointing from the plane into the box (+x at x = 0, -x
// at x = 5), and only above 0.2: 0.22 is cut and 0.19 is not.
TEST(OpenBoundary, InflowAboveTheLimitIsCutOnlyInAnInertialBox) {
  struct Case {
    int x, nbx;
    float m;
    bool cut;
  };
  const Case cases[] = {{0, 1, 0.22f, true},   {5, 4, -0.22f, true}, {0, 1, 0.19f, false},
                        {5, 4, -0.19f, false}, {0, 1, -0.3f, false}, {5, 4, 0.3f, false}};
  Patterned l(6, 5, 5, 0);
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

}  // namespace
