// Interpolation and spreading driven directly on device lattices and point sets: exact values from the
// units and the delta functions, the box limits, conservation and the launch geometry.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <vector>

#include "immersedFixtures.h"

namespace {

using namespace immersed_test;

const float kNaN = std::numeric_limits<float>::quiet_NaN();

// Over a linear velocity field the delta-weighted sum is the field at the point, for every width whose
// weights sum to 1 with vanishing first moments. With the point at rest the force is -u (unit K).
TEST(InterpolateFluidForce, ReproducesALinearFieldExactly) {
  const float start[3] = {-2.0f, 1.0f, 0.5f};
  DeviceLattice lattice(16, 16, 16, 1.0f, start);
  auto field = [](float x, float y, float z, int axis) {
    if (axis == 0) return 0.01f + 0.002f * x - 0.001f * y + 0.003f * z;
    if (axis == 1) return -0.02f + 0.001f * x + 0.004f * y;
    return 0.005f + 0.001f * x - 0.002f * z;
  };
  for (int z = 0; z < 16; ++z)
    for (int y = 0; y < 16; ++y)
      for (int x = 0; x < 16; ++x) {
        const long i = lattice.index(x, y, z);
        lattice.host->ux[i] = field(x, y, z, 0);
        lattice.host->uy[i] = field(x, y, z, 1);
        lattice.host->uz[i] = field(x, y, z, 2);
      }
  lattice.toDevice();

  const Units u;
  constexpr int kPoints = 60;
  DevicePoints points(kPoints, 1.0f);
  std::mt19937 rng(3);
  std::uniform_real_distribution<float> inside(5.0f, 10.0f);  // every stencil of width <= 4 lies inside
  for (int t = 0; t < kPoints; ++t) {
    const float X[3] = {inside(rng), inside(rng), inside(rng)};
    points.place(t, X, lattice, u);
  }
  points.toDevice();

  for (int width : {2, 3, 4}) {
    interpolate(points, lattice, u, width);
    const std::vector<double> f[3] = {points.forces(0), points.forces(1), points.forces(2)};
    for (int t = 0; t < kPoints; ++t) {
      const float X = points.host.coordx[t] - start[0], Y = points.host.coordy[t] - start[1],
                  Z = points.host.coordz[t] - start[2];
      for (int a = 0; a < 3; ++a) ASSERT_NEAR(-f[a][t], field(X, Y, Z, a), 2e-7) << width << " point " << t;
    }
  }
  // Width 5 weighs nothing: the force comes from the point's velocity alone, here zero.
  interpolate(points, lattice, u, 5);
  for (double f : points.forces(0)) ASSERT_EQ(f, 0.0);
}

// Reference velocities differ per axis and every factor differs from 1; the numbers are exact in binary.
// A point moving through the fluid is forced with rho_b u_b - sum phi u in lattice units times
// K = N u0p_x^2 rou0p / (l0p u0k^2) = 160, each component of u_b converted with its own axis. Spreading
// converts back with F_L = F l0p u0k^2 / (u0p_a^2 N rou0p) on area_L = area (N / l0p)^2 = 1, so along x
// the lattice receives rho_b u_b. Both kernels place the point against the device origin, which a moving
// frame shifts, not the host's.
TEST(ImmersedUnits, ForcesConvertPerAxisAndFollowTheDeviceOrigin) {
  const Units u{16, 2, 1.25f, 0.5f, {2, 4, 8}};  // N, l0p, rou0p, u0k, u0p
  const float start[3] = {-1.5f, 0.0f, 0.25f};
  DeviceLattice lattice(12, 12, 12, 0.125f, start);
  for (std::size_t i = 0; i < lattice.host->count; ++i) lattice.host->ux[i] = 0.03f;
  lattice.toDevice();
  const float moved[3] = {-3.0f, 2.0f, 0.5f};
  ASSERT_EQ(cudaMemcpy(lattice.dev->start, moved, sizeof moved, cudaMemcpyHostToDevice), cudaSuccess);

  DevicePoints points(1, 1.0f / 64.0f);
  points.host.coordx[0] = moved[0] + 5 * 0.125f;  // node (5, 6, 7) of the moved lattice
  points.host.coordy[0] = moved[1] + 6 * 0.125f;
  points.host.coordz[0] = moved[2] + 7 * 0.125f;
  points.host.ux[0] = 1.0f;  // m/s: 0.25, -0.25, 1/32 in lattice units
  points.host.uy[0] = -2.0f;
  points.host.uz[0] = 0.5f;
  points.host.rou[0] = 1.5f;
  points.toDevice();

  interpolate(points, lattice, u, 5);  // weighs no node
  const double expected[3] = {60.0, -60.0, 7.5};
  for (int a = 0; a < 3; ++a) EXPECT_EQ(points.forces(a)[0], expected[a]) << a;

  spread(points, lattice, u, 2);  // a point on a node puts all of its force there
  const long node = lattice.index(5, 6, 7);
  const double nodeForce[3] = {0.375, -0.09375, 0.0029296875};
  for (int a = 0; a < 3; ++a) {
    const auto f = lattice.forces(a);
    for (long i = 0; i < static_cast<long>(f.size()); ++i) ASSERT_EQ(f[i], i == node ? nodeForce[a] : 0.0) << a;
  }

  interpolate(points, lattice, u, 2);  // now the fluid's 0.03 along x is subtracted
  EXPECT_NEAR(points.forces(0)[0], (0.375 - 0.03) * 160, 1e-5 * 0.03 * 160);
  EXPECT_EQ(points.forces(1)[0], expected[1]);
}

// The box is 0 <= X < n on every axis; a NaN coordinate is outside. Outside points end with zero force
// and spread nothing; X = n - 1/2 is inside, and what its stencil puts beyond the last node is lost.
TEST(ImmersedBox, PointsOutsideGetNoForceAndSpreadNothing) {
  DeviceLattice lattice(8, 8, 8, 1.0f);
  lattice.toDevice();
  const Units u;
  const float positions[][3] = {{8, 4, 4},    {4, 8, 4},    {4, 4, 8},    {-0.01f, 4, 4},  {4, -0.5f, 4},
                                {kNaN, 4, 4}, {4, 4, kNaN}, {7.5f, 4, 4}, {4, 7.5f, 7.5f}, {0, 0, 0}};
  constexpr int kPoints = 10, kOutside = 7;
  DevicePoints points(kPoints, 1.0f);
  for (int t = 0; t < kPoints; ++t) {
    points.place(t, positions[t], lattice, u);
    points.host.ux[t] = 0.5f;
    points.host.forcex[t] = points.host.forcey[t] = points.host.forcez[t] = 7.0;
  }
  points.toDevice();

  interpolate(points, lattice, u, 4);
  const std::vector<double> f[3] = {points.forces(0), points.forces(1), points.forces(2)};
  for (int t = 0; t < kPoints; ++t) {
    EXPECT_EQ(f[0][t], t < kOutside ? 0.0 : 0.5) << t;
    EXPECT_EQ(f[1][t], 0.0) << t;
    EXPECT_EQ(f[2][t], 0.0) << t;
  }

  // Width 2 from the inside points' force 0.5: half of (7.5, 4, 4) on node 7, a quarter of (4, 7.5, 7.5)
  // on (4, 7, 7), all of the origin's on the origin.
  spread(points, lattice, u, 2);
  const auto fx = lattice.forces(0);
  EXPECT_EQ(fx[lattice.index(7, 4, 4)], 0.25);
  EXPECT_EQ(fx[lattice.index(4, 7, 7)], 0.125);
  EXPECT_EQ(fx[0], 0.5);
  EXPECT_EQ(sum(fx), 0.875);
  for (int axis : {1, 2})
    for (double v : lattice.forces(axis)) ASSERT_EQ(v, 0.0);
}

// Free slip forces only the normal component of the velocity difference; no slip forces all of it.
TEST(InterpolateFluidForce, SlipRatioBlendsFullAndNormalForcing) {
  DeviceLattice lattice(12, 12, 12, 1.0f);
  lattice.toDevice();
  const Units u;
  DevicePoints points(2, 1.0f);
  const float X[3] = {5.5f, 6.25f, 5.75f};
  points.place(0, X, lattice, u);
  points.place(1, X, lattice, u);
  points.host.normalz[0] = points.host.normalz[1] = 1.0f;
  points.host.ux[0] = 0.3f;  // tangential
  points.host.uy[0] = -0.2f;
  points.host.ux[1] = 0.3f;  // with a normal part
  points.host.uz[1] = 0.4f;
  points.toDevice();

  // Expected x, y, z of points 0 and 1 for slip ratios 1, 0 and 1/4.
  const std::pair<float, std::vector<double>> cases[] = {{1.0f, {0, 0, 0, 0, 0, 0.4f}},
                                                         {0.0f, {0.3f, -0.2f, 0, 0.3f, 0, 0.4f}},
                                                         {0.25f, {0.75 * 0.3f, 0.75 * -0.2f, 0, 0.75 * 0.3f, 0, 0.4f}}};
  for (const auto& c : cases) {
    lattice.host->param->slip_ratio = c.first;
    interpolate(points, lattice, u, 4);
    for (int t = 0; t < 2; ++t)
      for (int a = 0; a < 3; ++a) {
        const double want = c.second[3 * t + a];
        if (want == 0.0)
          EXPECT_EQ(points.forces(a)[t], 0.0) << "slip " << c.first << " point " << t << " axis " << a;
        else
          EXPECT_FLOAT_EQ(points.forces(a)[t], want) << "slip " << c.first << " point " << t << " axis " << a;
      }
  }
}

// Well inside the box the node forces add up to the points' area_L F_L, for every width.
TEST(SpreadForce, ConservesTheTotalForce) {
  const Units u{16, 2, 1.25f, 0.1f, {5, 5, 5}};
  const float start[3] = {-1.5f, 0.0f, 0.25f};
  constexpr int kPoints = 300;
  const float area = 0.003f;
  const double toLattice = area * 64.0 * 2.0 * 0.1 * 0.1 / (25.0 * 16.0 * 1.25);  // area_L F_L / F
  for (int width : {2, 3, 4}) {
    DeviceLattice lattice(24, 24, 24, 0.125f, start);
    lattice.toDevice();
    DevicePoints points(kPoints, area);
    std::mt19937 rng(width);
    std::uniform_real_distribution<float> inside(6.0f, 17.0f);
    std::uniform_real_distribution<double> force(-1000.0, 1000.0);
    double expected[3] = {0, 0, 0};
    for (int t = 0; t < kPoints; ++t) {
      const float X[3] = {inside(rng), inside(rng), inside(rng)};
      points.place(t, X, lattice, u);
      double* F[3] = {points.host.forcex, points.host.forcey, points.host.forcez};
      for (int a = 0; a < 3; ++a) expected[a] += toLattice * (F[a][t] = force(rng));
    }
    points.toDevice();
    spread(points, lattice, u, width);
    const double scale = kPoints * 1000.0 * toLattice;
    for (int a = 0; a < 3; ++a)
      EXPECT_NEAR(sum(lattice.forces(a)), expected[a], 2e-6 * scale) << "width " << width << " axis " << a;
  }
}

// Point t sits on node t with width 2: each node receives exactly one point's force if every point is
// handled exactly once, by the interpolation (which sets the force) and by the spreading. An empty set
// launches nothing.
TEST(ImmersedLaunch, EveryPointIsHandledExactlyOnce) {
  const Units u;
  const std::pair<int, unsigned int> cases[] = {{0, 0}, {1, 1}, {400, 1}, {401, 1}, {6401, 5}};  // points, grid z
  for (const auto& c : cases) {
    const int n = c.first;
    DeviceLattice lattice(20, 20, 20, 1.0f);
    lattice.toDevice();
    DevicePoints points(n, 1.0f);
    for (int t = 0; t < n; ++t) {
      const float X[3] = {float(t % 20), float(t / 20 % 20), float(t / 400)};
      points.place(t, X, lattice, u);
      points.host.ux[t] = 1.0f;
      points.host.uy[t] = 2.0f;
      points.host.uz[t] = -3.0f;
      points.host.forcex[t] = std::numeric_limits<double>::quiet_NaN();  // a point left out stays NaN
    }
    points.toDevice();

    dz::device::clearLaunchLog();
    dz::device::recordLaunches(true);
    interpolate(points, lattice, u, 2);
    spread(points, lattice, u, 2);
    dz::device::recordLaunches(false);

    const auto& log = dz::device::launchLog();
    ASSERT_EQ(log.size(), n == 0 ? 0u : 2u);
    if (n == 0) continue;
    EXPECT_STREQ(log[0].kernel, "mlInterpolateFluidForceKernel");
    EXPECT_STREQ(log[1].kernel, "mlSpreadForceKernel");
    for (const auto& l : log) {
      EXPECT_EQ(std::vector<unsigned>({l.grid.x, l.grid.y, l.grid.z}), std::vector<unsigned>({5, 5, c.second})) << n;
      EXPECT_EQ(std::vector<unsigned>({l.block.x, l.block.y, l.block.z}), std::vector<unsigned>({4, 4, 4}));
    }
    const auto fx = points.forces(0);
    for (int t = 0; t < n; ++t) ASSERT_EQ(fx[t], 1.0) << n << " points, point " << t;
    const double perAxis[3] = {1.0, 2.0, -3.0};
    for (int a = 0; a < 3; ++a) {
      const auto nodes = lattice.forces(a);
      for (int i = 0; i < 8000; ++i) ASSERT_EQ(nodes[i], i < n ? perAxis[a] : 0.0) << n << " points, node " << i;
    }
  }
}

// Beyond 2^24 points the single-precision quotient count / 400 can round down past a multiple of 400;
// the grid must still cover the last point: ceil(16777601 / 400) = 41945 layers, 10487 block layers.
TEST(ImmersedLaunch, HugeCountsStillGetTheirLastLayer) {
  DeviceLattice lattice(4, 4, 4, 1.0f);
  lattice.toDevice();
  DevicePoints points(1, 1.0f);  // the threads beyond the record's count return at once
  points.toDevice();
  dz::device::clearLaunchLog();
  dz::device::recordLaunches(true);
  mlSpreadForceGpu(points.dev(), 16777601, lattice.dev, *lattice.host->param, Units().u0p, 4, 1, 1, 1, 1);
  dz::device::recordLaunches(false);
  ASSERT_EQ(dz::device::launchLog().size(), 1u);
  EXPECT_EQ(dz::device::launchLog()[0].grid.z, 10487u);
}

// Many points share the nodes they spread to, and no addition is lost whichever threads run them: 3000
// points on one node with width 2 each add exactly 1 there.
TEST(ImmersedLaunch, SpreadingFromManyThreadsLosesNoUpdate) {
  const Units u;
  constexpr int kPoints = 3000;
  DeviceLattice lattice(16, 16, 16, 1.0f);
  lattice.toDevice();
  DevicePoints points(kPoints, 1.0f);
  const float X[3] = {8.0f, 8.0f, 8.0f};
  for (int t = 0; t < kPoints; ++t) {
    points.place(t, X, lattice, u);
    points.host.forcey[t] = 1.0;
  }
  points.toDevice();
  dz::device::setHostThreads(8);
  spread(points, lattice, u, 2);
  dz::device::setHostThreads(0);
  EXPECT_EQ(lattice.forces(1)[lattice.index(8, 8, 8)], double(kPoints));
  EXPECT_EQ(sum(lattice.forces(1)), double(kPoints));
}

}  // namespace
