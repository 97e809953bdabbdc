// The open boundary: plane nodes copy their inward neighbour, thin axes, the inflow limit of a fixed box
// and the far field of a moving one.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlThreadIndex.cuh"
#include "gpuLattice.h"

// Kernels reached here without a wrapper.
__global__ void mlCuBoundaryCondition_Left_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Right_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Down_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Up_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Forward_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Back_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count);

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

// Inflow limiting on both x faces of a fixed box: the neighbour of (0, 2, 2) or (5, 2, 2) carries a first
// moment m along x. Only a component pointing from the plane into the box (+x at x = 0, -x at x = 5) is
// cut, and only above 0.2: 0.22 is cut and 0.19 is not.
TEST(OpenBoundary, InflowAboveTheLimitIsCutInAFixedBox) {
  struct Case {
    int x, nbx;
    float m;
    bool cut;
  };
  const Case cases[] = {{0, 1, 0.22f, true},   {5, 4, -0.22f, true}, {0, 1, 0.19f, false},
                        {5, 4, -0.19f, false}, {0, 1, -0.3f, false}, {5, 4, 0.3f, false}};
  Patterned l(6, 5, 5, 0);
  const std::vector<float> start(l.host->f, l.host->f + 27 * l.count());
  for (const Case& c : cases) {
    std::copy(start.begin(), start.end(), l.host->f);
    const std::size_t nb = l.index(c.nbx, 2, 2);
    for (int q = 0; q < 27; ++q) l.f(q, nb) = d3q27::w[q];
    l.f(1, nb) += 0.5f * c.m;  // +x
    l.f(2, nb) -= 0.5f * c.m;  // -x: mass unchanged
    std::vector<double> g(27);
    double m[3] = {0, 0, 0};
    for (int q = 0; q < 27; ++q) m[0] += d3q27::ex[q] * (g[q] = l.f(q, nb));
    l.upload();
    mlBndCondNEEGpu(l.dev, l.param(), true);
    l.download();
    const double limited[3] = {0, 0, 0};
    for (int q = 0; q < 27; ++q) {
      const double expected = c.cut ? feq(q, 1.0, limited) + g[q] - feq(q, 1.0, m) : g[q];
      EXPECT_NEAR(l.f(q, l.index(c.x, 2, 2)), expected, 1e-6) << c.x << " m " << c.m << " q " << q;
    }
    EXPECT_NEAR(l.host->rou[l.index(c.x, 2, 2)], 1.0, 1e-6);
  }
}

// A box that follows a moving frame: every plane node takes its inward neighbour's non-equilibrium
// populations on the far-field state, f = feq(rho_b, u_b) + g - feq(rho, u) with u = m / rho the
// neighbour's velocity: (rho, far-field velocity) on every plane but the outflow plane, (1, u) there,
// edges and corners of the outflow plane included. The far field holds above the inflow limit (no cut).
// Prescribed nodes and nodes off the planes keep their populations.
TEST(OpenBoundary, AMovingBoxHoldsItsPlanesToTheFarField) {
  struct Case {
    int n[3], pml, axis, side;
    float u[3];
  };
  const Case cases[] = {{{6, 5, 5}, 0, 0, -1, {-0.03f, 0.01f, 0.0f}},
                        {{6, 5, 5}, 0, 1, 1, {0.0f, 0.25f, -0.02f}},
                        {{7, 7, 7}, 1, 2, -1, {0.01f, 0.0f, -0.04f}}};
  for (const Case& c : cases) {
    Patterned l(c.n[0], c.n[1], c.n[2], c.pml);
    l.host->flag[l.index(c.pml, 2, 2)] = NODE_VELOCITY;
    l.upload();
    mlFarField farField;
    std::copy(c.u, c.u + 3, farField.u);
    farField.outflowAxis = c.axis;
    farField.outflowSide = c.side;
    mlBndCondNEEGpu(l.dev, l.param(), false, farField);
    l.download();
    for (std::size_t i = 0; i < l.count(); ++i) {
      const int p[3] = {static_cast<int>(i % c.n[0]), static_cast<int>(i / c.n[0] % c.n[1]),
                        static_cast<int>(i / (c.n[0] * c.n[1]))};
      bool outside = l.host->flag[i] == NODE_VELOCITY, onPlane = false, outflow = false;
      int source[3] = {p[0], p[1], p[2]};
      for (int a = 0; a < 3; ++a) {
        const int lo = c.pml, hi = c.n[a] - 1 - c.pml;
        outside = outside || p[a] < lo || p[a] > hi;
        onPlane = onPlane || p[a] == lo || p[a] == hi;
        source[a] += p[a] == lo ? 1 : (p[a] == hi ? -1 : 0);
        outflow = outflow || (a == c.axis && p[a] == (c.side < 0 ? lo : hi));
      }
      if (outside || !onPlane) {
        for (int q = 0; q < 27; ++q) ASSERT_EQ(l.f(q, i), pattern(q, i)) << "node " << i;
        continue;
      }
      const std::size_t s = l.index(source[0], source[1], source[2]);
      double rho = 0, u[3] = {0, 0, 0};
      for (int q = 0; q < 27; ++q) {
        const int e[3] = {d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]};
        rho += pattern(q, s);
        for (int a = 0; a < 3; ++a) u[a] += e[a] * pattern(q, s);
      }
      for (double& v : u) v /= rho;
      const double far[3] = {c.u[0], c.u[1], c.u[2]};
      const double rhoB = outflow ? 1.0 : rho;
      for (int q = 0; q < 27; ++q)
        ASSERT_NEAR(l.f(q, i), feq(q, rhoB, outflow ? u : far) + pattern(q, s) - feq(q, rho, u), 1e-6)
            << "axis " << c.axis << " node " << p[0] << p[1] << p[2] << " q " << q;
      EXPECT_NEAR(l.host->rou[i], rhoB, 1e-6) << p[0] << p[1] << p[2];
    }
  }
}

// The outflow plane follows the far-field velocity to the plane it crosses outward fastest, once that
// plane leads the current one by more than the hysteresis (0.01 here); water at rest keeps the plane.
TEST(OpenBoundary, TheOutflowPlaneChangesOnlyBeyondTheHysteresis) {
  struct Case {
    int axis, side;
    float u[3];
    int expectedAxis, expectedSide;
  };
  const Case cases[] = {
      {0, -1, {0.0f, 0.0f, 0.0f}, 0, -1},    {0, -1, {0.02f, 0.0f, 0.0f}, 0, 1},
      {0, -1, {0.004f, 0.0f, 0.0f}, 0, -1},  {0, -1, {0.006f, 0.0f, 0.0f}, 0, 1},
      {0, 1, {0.0f, 0.0f, -0.011f}, 2, -1},  {0, 1, {0.02f, 0.0f, -0.029f}, 0, 1},
      {0, 1, {0.02f, 0.0f, -0.031f}, 2, -1}, {1, 1, {0.0f, -0.03f, 0.0f}, 1, -1},
      {2, -1, {0.0f, 0.0f, -0.011f}, 2, -1},
  };
  for (const Case& c : cases) {
    mlFarField farField;
    std::copy(c.u, c.u + 3, farField.u);
    farField.outflowAxis = c.axis;
    farField.outflowSide = c.side;
    mlFollowOutflow(farField, 0.01f);
    EXPECT_EQ(farField.outflowAxis, c.expectedAxis) << c.axis << c.side << " " << c.u[0] << " " << c.u[2];
    EXPECT_EQ(farField.outflowSide, c.expectedSide) << c.axis << c.side << " " << c.u[0] << " " << c.u[2];
  }
}

// The per-face kernel of one face over its plane, in blocks one node thick along the face normal.
template <auto Kernel>
void launchFace(GpuLattice& l, mlFace face) {
  dim3 block(8, 8, 8);
  (face.axis == 0 ? block.x : (face.axis == 1 ? block.y : block.z)) = 1;
  DZ_LAUNCH(Kernel, mlFaceGrid(l.param(), face, block), block, l.dev, l.nx(), l.ny(), l.nz(),
            static_cast<int>(l.count()));
  checkCudaLaunch();
}

// The kernels by face flag, NODE_LEFT to NODE_UP.
void (*const kFaceKernels[])(GpuLattice&, mlFace) = {
    launchFace<mlCuBoundaryCondition_Left_KernelNEE>,    launchFace<mlCuBoundaryCondition_Right_KernelNEE>,
    launchFace<mlCuBoundaryCondition_Forward_KernelNEE>, launchFace<mlCuBoundaryCondition_Back_KernelNEE>,
    launchFace<mlCuBoundaryCondition_Down_KernelNEE>,    launchFace<mlCuBoundaryCondition_Up_KernelNEE>};

// The older per-face kernels: a plane node copies the density and velocity of its inward neighbour (edges
// and corners of the x and z planes diagonally; the y planes cover only their inner nodes), keeps the normal
// velocity only when it leaves the box, and takes f = feq(rho, u) + f_nb - feq(rho, u_nb). Prescribed nodes
// and faces of a thin axis are left alone; a thin in-plane axis is not stepped along; nothing else changes.
TEST(OpenBoundary, PerFaceKernelsCopyTheirInwardNeighbour) {
  struct Case {
    const char* name;
    MLLATTICENODE_FLAG side;
    int n[3], pml, node[3], nb[3];  // nb = node: left alone
    float un;                       // the neighbour's velocity normal to the face
    bool prescribed = false;        // the node has a prescribed velocity
  };
  const Case cases[] = {
      {"left corner, pml 1", NODE_LEFT, {7, 7, 7}, 1, {1, 1, 1}, {2, 2, 2}, 0.04f},
      {"left, prescribed", NODE_LEFT, {6, 5, 5}, 0, {0, 3, 3}, {0, 3, 3}, 0, true},
      {"right corner", NODE_RIGHT, {6, 5, 5}, 0, {5, 4, 4}, {4, 3, 3}, -0.04f},
      {"down, first inner node", NODE_DOWN, {6, 5, 5}, 0, {1, 0, 1}, {1, 1, 1}, 0.04f},
      {"down, edge left to the x planes", NODE_DOWN, {6, 5, 5}, 0, {0, 0, 2}, {0, 0, 2}, 0},
      {"up face, pml 1", NODE_UP, {7, 7, 7}, 1, {3, 5, 3}, {3, 4, 3}, 0.04f},
      {"forward corner", NODE_FORWARD, {6, 5, 5}, 0, {5, 0, 0}, {4, 1, 1}, -0.04f},
      {"back edge", NODE_BACK, {6, 5, 5}, 0, {0, 2, 4}, {1, 2, 3}, 0.04f},
      {"left, one-node z", NODE_LEFT, {6, 5, 1}, 0, {0, 2, 0}, {1, 2, 0}, -0.04f},
      {"right, two-node x", NODE_RIGHT, {2, 5, 5}, 0, {1, 2, 2}, {1, 2, 2}, 0},
  };
  for (const Case& c : cases) {
    Patterned l(c.n[0], c.n[1], c.n[2], c.pml);
    const std::size_t n = l.count(), i = l.index(c.node[0], c.node[1], c.node[2]);
    const std::size_t nb = l.index(c.nb[0], c.nb[1], c.nb[2]);
    const mlFace face = mlFaceOf(c.side);
    float* u[3] = {l.host->ux, l.host->uy, l.host->uz};
    for (std::size_t k = 0; k < n; ++k) {
      l.host->rou[k] = 1.0f + 0.01f * (k % 7);
      u[0][k] = 0.01f, u[1][k] = -0.02f + 0.001f * (k % 5), u[2][k] = 0.015f;
    }
    if (nb != i) u[face.axis][nb] = c.un;
    if (c.prescribed) l.host->flag[i] = NODE_VELOCITY;
    const std::vector<float> f0(l.host->f, l.host->f + 27 * n), rho0(l.host->rou, l.host->rou + n);
    const double unb[3] = {u[0][nb], u[1][nb], u[2][nb]};
    double uExpected[3] = {unb[0], unb[1], unb[2]};
    if (nb != i && !(c.un * face.side > 0)) uExpected[face.axis] = 0;
    l.upload();
    kFaceKernels[c.side - NODE_LEFT](l, face);
    l.download();
    const double rho = rho0[nb];
    EXPECT_EQ(l.host->rou[i], rho) << c.name;
    for (int a = 0; a < 3; ++a) EXPECT_EQ(u[a][i], static_cast<float>(uExpected[a])) << c.name << " axis " << a;
    for (int q = 0; q < 27; ++q) {
      const double f = nb == i ? f0[q * n + i] : feq(q, rho, uExpected) + f0[q * n + nb] - feq(q, rho, unb);
      EXPECT_NEAR(l.f(q, i), f, 1e-6) << c.name << " q " << q;
    }
    // Nothing off the kernel's plane changes.
    for (std::size_t k = 0; k < n; ++k) {
      const int p[3] = {static_cast<int>(k % c.n[0]), static_cast<int>(k / c.n[0] % c.n[1]),
                        static_cast<int>(k / (c.n[0] * c.n[1]))};
      if (p[face.axis] == c.node[face.axis]) continue;
      for (int q = 0; q < 27; ++q) ASSERT_EQ(l.f(q, k), f0[q * n + k]) << c.name << " node " << k;
      ASSERT_EQ(l.host->rou[k], rho0[k]) << c.name << " node " << k;
    }
  }
}

}  // namespace
