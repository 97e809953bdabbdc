// Interpolation and spreading driven directly on device lattices and point sets.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "immersedFixtures.h"

namespace {

using immersed_test::DeviceLattice;
using immersed_test::DevicePoints;
using immersed_test::interpolate;
using immersed_test::spread;
using immersed_test::Units;

template <class T>
std::vector<T> fromDevice(const T* dev, int n) {
  std::vector<T> out(n);
  EXPECT_EQ(cudaMemcpy(out.data(), dev, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
  return out;
}

struct PointForces {
  std::vector<double> x, y, z;
  explicit PointForces(const DevicePoints& p)
      : x(fromDevice(p.mirror.forcex_dev, p.host.count)),
        y(fromDevice(p.mirror.forcey_dev, p.host.count)),
        z(fromDevice(p.mirror.forcez_dev, p.host.count)) {}
};

// Units of a box of spacing 1/8 m with physical reference values, so that every conversion factor
// differs from 1.
Units physicalUnits() {
  Units u;
  u.N = 16;
  u.l0p = 2;
  u.u0p = {5, 5, 5};
  u.u0k = 0.1f;
  u.rou0p = 1.25f;
  return u;
}

double sum(const std::vector<double>& v) {
  double s = 0;
  for (double e : v) s += e;
  return s;
}

// ---------------------------------------------------------------------------------------------------------------
// Interpolation

// Over a linear velocity field the delta-weighted sum is the field at the point, for every width whose
// weights sum to 1 with vanishing first moments. With the point at rest the force is -u K.
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
    const PointForces f(points);
    for (int t = 0; t < kPoints; ++t) {
      const float X = (points.host.coordx[t] - start[0]) * u.invdx();
      const float Y = (points.host.coordy[t] - start[1]) * u.invdx();
      const float Z = (points.host.coordz[t] - start[2]) * u.invdx();
      ASSERT_NEAR(-f.x[t], field(X, Y, Z, 0), 2e-7) << "width " << width << " point " << t;
      ASSERT_NEAR(-f.y[t], field(X, Y, Z, 1), 2e-7) << "width " << width << " point " << t;
      ASSERT_NEAR(-f.z[t], field(X, Y, Z, 2), 2e-7) << "width " << width << " point " << t;
    }
  }

  // Width 5 weighs nothing: the force comes from the point's velocity alone, here zero.
  interpolate(points, lattice, u, 5);
  const PointForces none(points);
  for (int t = 0; t < kPoints; ++t) ASSERT_EQ(none.x[t], 0.0) << t;
}

// A point moving through fluid at rest is forced with rho_b u_b (lattice) times
// K = rou0p (u0p / u0k)^2 / dx, a physical force density.
TEST(InterpolateFluidForce, ForceOfAMovingPointIsInPhysicalUnits) {
  const Units u = physicalUnits();
  const float start[3] = {-1.5f, 0.0f, 0.25f};
  DeviceLattice lattice(24, 24, 24, 0.125f, start);
  for (std::size_t i = 0; i < lattice.host->count; ++i) lattice.host->ux[i] = 0.03f;  // ignored by width 5
  lattice.toDevice();

  DevicePoints points(1, 1.0f);
  const float X[3] = {11.3f, 12.6f, 9.1f};
  points.place(0, X, lattice, u);
  points.host.ux[0] = 1.0f;  // m/s
  points.host.uy[0] = -2.0f;
  points.host.uz[0] = 0.5f;
  points.host.rou[0] = 1.1f;
  points.toDevice();

  const double dx = 2.0 / 16.0;
  const double K = 1.25 * (5.0 / 0.1) * (5.0 / 0.1) / dx;
  const double lattice_u = 0.1 / 5.0;  // lattice velocity per m/s

  interpolate(points, lattice, u, 5);
  PointForces f(points);
  EXPECT_NEAR(f.x[0], 1.1 * 1.0 * lattice_u * K, 1e-6 * 1.1 * K * lattice_u);
  EXPECT_NEAR(f.y[0], 1.1 * -2.0 * lattice_u * K, 2e-6 * 1.1 * K * lattice_u);
  EXPECT_NEAR(f.z[0], 1.1 * 0.5 * lattice_u * K, 1e-6 * 1.1 * K * lattice_u);

  // With width 4 the fluid's 0.03 (lattice units) along x is subtracted.
  interpolate(points, lattice, u, 4);
  f = PointForces(points);
  EXPECT_NEAR(f.x[0], (1.1 * lattice_u - 0.03) * K, 1e-5 * 0.03 * K);
  EXPECT_NEAR(f.y[0], 1.1 * -2.0 * lattice_u * K, 2e-6 * 1.1 * K * lattice_u);
}

// The box is 0 <= X < n on every axis; a NaN coordinate is outside. Outside points end with zero force.
TEST(InterpolateFluidForce, PointsOutsideTheBoxGetZeroForce) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  DeviceLattice lattice(8, 8, 8, 1.0f, start);
  lattice.toDevice();
  const Units u;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float positions[][3] = {{8.0f, 4.0f, 4.0f},   {4.0f, 8.0f, 4.0f}, {4.0f, 4.0f, 8.0f},
                                {-0.01f, 4.0f, 4.0f}, {nan, 4.0f, 4.0f},  {4.0f, 4.0f, nan},
                                {7.5f, 4.0f, 4.0f},   {4.0f, 7.5f, 7.5f}, {0.0f, 0.0f, 0.0f}};
  constexpr int kPoints = 9;
  DevicePoints points(kPoints, 1.0f);
  for (int t = 0; t < kPoints; ++t) {
    points.place(t, positions[t], lattice, u);
    points.host.ux[t] = 0.5f;
    points.host.forcex[t] = points.host.forcey[t] = points.host.forcez[t] = 7.0;
  }
  points.toDevice();

  interpolate(points, lattice, u, 4);
  const PointForces f(points);
  for (int t = 0; t < 6; ++t) {
    EXPECT_EQ(f.x[t], 0.0) << t;
    EXPECT_EQ(f.y[t], 0.0) << t;
    EXPECT_EQ(f.z[t], 0.0) << t;
  }
  for (int t = 6; t < kPoints; ++t) {  // n - 1/2 and the origin are inside
    EXPECT_EQ(f.x[t], 0.5) << t;
    EXPECT_EQ(f.y[t], 0.0) << t;
  }
}

// Free slip forces only the normal component of the velocity difference; no slip forces all of it.
TEST(InterpolateFluidForce, SlipRatioBlendsFullAndNormalForcing) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  DeviceLattice lattice(12, 12, 12, 1.0f, start);
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

  lattice.host->param->slip_ratio = 1.0f;
  interpolate(points, lattice, u, 4);
  PointForces f(points);
  EXPECT_EQ(f.x[0], 0.0);
  EXPECT_EQ(f.y[0], 0.0);
  EXPECT_EQ(f.z[0], 0.0);
  EXPECT_EQ(f.x[1], 0.0);
  EXPECT_FLOAT_EQ(f.z[1], 0.4);

  lattice.host->param->slip_ratio = 0.0f;
  interpolate(points, lattice, u, 4);
  f = PointForces(points);
  EXPECT_FLOAT_EQ(f.x[0], 0.3);
  EXPECT_FLOAT_EQ(f.y[0], -0.2);
  EXPECT_EQ(f.z[0], 0.0);
  EXPECT_FLOAT_EQ(f.x[1], 0.3);
  EXPECT_FLOAT_EQ(f.z[1], 0.4);

  lattice.host->param->slip_ratio = 0.25f;
  interpolate(points, lattice, u, 4);
  f = PointForces(points);
  EXPECT_FLOAT_EQ(f.x[0], 0.75 * 0.3);
  EXPECT_FLOAT_EQ(f.z[1], 0.4);
}

// A NaN in the sums is reported after every node from the one that brought it; infinity is not.
TEST(InterpolateFluidForce, ReportsNaNNodesAndPropagatesThem) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  DeviceLattice lattice(10, 10, 10, 1.0f, start);
  const long bad = lattice.index(4, 4, 4);
  lattice.host->ux[bad] = std::numeric_limits<float>::quiet_NaN();
  lattice.toDevice();
  const Units u;
  DevicePoints points(1, 1.0f);
  const float X[3] = {4.5f, 4.5f, 4.5f};
  points.place(0, X, lattice, u);
  points.toDevice();

  testing::internal::CaptureStdout();
  interpolate(points, lattice, u, 2);
  std::fflush(stdout);
  const std::string out = testing::internal::GetCapturedStdout();
  // Width 2 walks nodes 2..6 per axis; (4, 4, 4) is node 62 of those 125 in z, y, x order.
  std::size_t lines = 0;
  for (std::size_t at = out.find("NAN find! "); at != std::string::npos; at = out.find("NAN find! ", at + 1)) ++lines;
  EXPECT_EQ(lines, 125u - 62u);
  EXPECT_EQ(out.rfind("NAN find! " + std::to_string(bad) + "  ", 0), 0u) << out.substr(0, 200);
  EXPECT_NE(out.find(" 0.000 0.000 0.125  \n"), std::string::npos);  // uy, uz and the weight of that node
  // The normal part carries the NaN into every component, even with no slip (0 * NaN).
  PointForces f(points);
  EXPECT_TRUE(std::isnan(f.x[0]));
  EXPECT_TRUE(std::isnan(f.y[0]));

  float inf = std::numeric_limits<float>::infinity();
  ASSERT_EQ(cudaMemcpy(lattice.solver.ux_dev_vec[0] + bad, &inf, sizeof inf, cudaMemcpyHostToDevice), cudaSuccess);
  testing::internal::CaptureStdout();
  interpolate(points, lattice, u, 2);
  std::fflush(stdout);
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
  f = PointForces(points);
  EXPECT_FALSE(std::isfinite(f.x[0]));
}

// ---------------------------------------------------------------------------------------------------------------
// Spreading

// A point on a node with width 2 puts all of area_L F_L on that node: area_L = area (N / l0p)^2,
// F_L = F l0p u0k^2 / (u0p^2 N rou0p). Here area_L = 1 and F_L = F / 128, exactly.
TEST(SpreadForce, PointOnANodeSpreadsOntoThatNodeOnly) {
  Units u;
  u.N = 16;
  u.l0p = 2;
  u.u0k = 0.5f;
  u.u0p = {2, 2, 2};
  u.rou0p = 1;
  const float start[3] = {-1.5f, 0.0f, 0.25f};
  DeviceLattice lattice(12, 12, 12, 0.125f, start);
  lattice.toDevice();
  DevicePoints points(1, 1.0f / 64.0f);
  const float X[3] = {5.0f, 6.0f, 7.0f};
  points.place(0, X, lattice, u);
  points.host.forcex[0] = 384.0;
  points.host.forcey[0] = -128.0;
  points.host.forcez[0] = 64.0;
  points.toDevice();

  spread(points, lattice, u, 2);
  const long node = lattice.index(5, 6, 7);
  const double expected[3] = {3.0, -1.0, 0.5};
  for (int axis = 0; axis < 3; ++axis) {
    const auto f = lattice.forces(axis);
    for (long i = 0; i < static_cast<long>(f.size()); ++i) ASSERT_EQ(f[i], i == node ? expected[axis] : 0.0) << i;
  }
}

// The reference velocity may differ per axis: the point velocity and the spread force convert with their
// own axis, the interpolated force density with the x component.
TEST(SpreadForce, ReferenceVelocityConvertsPerAxis) {
  Units u;
  u.N = 16;
  u.l0p = 2;
  u.u0k = 0.5f;
  u.u0p = {2, 4, 8};
  u.rou0p = 1;
  const float start[3] = {0.0f, 0.0f, 0.0f};
  DeviceLattice lattice(12, 12, 12, 0.125f, start);
  lattice.toDevice();
  DevicePoints points(1, 1.0f / 64.0f);  // area_L = 1
  const float X[3] = {5.0f, 6.0f, 7.0f};
  points.place(0, X, lattice, u);
  points.host.ux[0] = points.host.uy[0] = points.host.uz[0] = 1.0f;
  points.toDevice();

  interpolate(points, lattice, u, 2);
  const PointForces f(points);
  const double K = 16.0 * 2.0 * 2.0 / (2.0 * 0.25);  // with u0p.x
  EXPECT_DOUBLE_EQ(f.x[0], 0.5 / 2.0 * K);
  EXPECT_DOUBLE_EQ(f.y[0], 0.5 / 4.0 * K);
  EXPECT_DOUBLE_EQ(f.z[0], 0.5 / 8.0 * K);

  spread(points, lattice, u, 2);
  const long node = lattice.index(5, 6, 7);
  const double u0p[3] = {2, 4, 8};
  for (int axis = 0; axis < 3; ++axis) {
    const double F = axis == 0 ? f.x[0] : axis == 1 ? f.y[0] : f.z[0];
    EXPECT_DOUBLE_EQ(lattice.forces(axis)[node], F * 2.0 * 0.25 / (u0p[axis] * u0p[axis] * 16.0)) << axis;
  }
}

// Both kernels place the points against the device lattice's origin, which the time step moves with a
// moving reference frame; the host origin is not consulted.
TEST(SpreadForce, FollowsTheDeviceOrigin) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  const Units u;
  DeviceLattice lattice(10, 10, 10, 1.0f, start);
  lattice.toDevice();
  const float moved[3] = {-3.0f, 2.0f, 0.5f};
  ASSERT_EQ(cudaMemcpy(lattice.dev->start, moved, sizeof moved, cudaMemcpyHostToDevice), cudaSuccess);
  DevicePoints points(1, 1.0f);
  points.host.coordx[0] = moved[0] + 4.0f;  // node (4, 5, 6) of the moved lattice
  points.host.coordy[0] = moved[1] + 5.0f;
  points.host.coordz[0] = moved[2] + 6.0f;
  points.host.ux[0] = 1.0f;
  points.toDevice();
  interpolate(points, lattice, u, 2);
  spread(points, lattice, u, 2);
  EXPECT_EQ(lattice.forces(0)[lattice.index(4, 5, 6)], 1.0);
  EXPECT_EQ(sum(lattice.forces(0)), 1.0);
}

// Well inside the box the node forces add up to the points' area_L F_L, for every width.
TEST(SpreadForce, ConservesTheTotalForce) {
  const Units u = physicalUnits();
  const float start[3] = {-1.5f, 0.0f, 0.25f};
  constexpr int kPoints = 300;
  const float area = 0.003f;
  for (int width : {2, 3, 4}) {
    DeviceLattice lattice(24, 24, 24, 0.125f, start);
    lattice.toDevice();
    DevicePoints points(kPoints, area);
    std::mt19937 rng(width);
    std::uniform_real_distribution<float> inside(6.0f, 17.0f);
    std::uniform_real_distribution<double> force(-1000.0, 1000.0);
    double expected[3] = {0, 0, 0}, scale = 0;
    const double areaL = area * 64.0;
    const double toLattice = 2.0 * 0.1 * 0.1 / (25.0 * 16.0 * 1.25);
    for (int t = 0; t < kPoints; ++t) {
      const float X[3] = {inside(rng), inside(rng), inside(rng)};
      points.place(t, X, lattice, u);
      points.host.forcex[t] = force(rng);
      points.host.forcey[t] = force(rng);
      points.host.forcez[t] = force(rng);
      expected[0] += areaL * points.host.forcex[t] * toLattice;
      expected[1] += areaL * points.host.forcey[t] * toLattice;
      expected[2] += areaL * points.host.forcez[t] * toLattice;
      scale += areaL * 1000.0 * toLattice;
    }
    points.toDevice();
    spread(points, lattice, u, width);
    for (int axis = 0; axis < 3; ++axis)
      EXPECT_NEAR(sum(lattice.forces(axis)), expected[axis], 2e-6 * scale) << "width " << width << " axis " << axis;
  }
}

// Outside points (X = n, NaN) spread nothing, X = n - 1/2 is inside; width 5 spreads nothing.
TEST(SpreadForce, OutsidePointsAndOtherWidthsSpreadNothing) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  const Units u;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float outside[][3] = {{8.0f, 4.0f, 4.0f}, {4.0f, 4.0f, 8.0f}, {nan, 4.0f, 4.0f}, {4.0f, -0.5f, 4.0f}};
  DeviceLattice lattice(8, 8, 8, 1.0f, start);
  lattice.toDevice();
  DevicePoints points(4, 1.0f);
  for (int t = 0; t < 4; ++t) {
    points.place(t, outside[t], lattice, u);
    points.host.forcex[t] = points.host.forcey[t] = points.host.forcez[t] = 1.0;
  }
  points.toDevice();
  spread(points, lattice, u, 4);
  for (int axis = 0; axis < 3; ++axis)
    for (double f : lattice.forces(axis)) ASSERT_EQ(f, 0.0);

  DeviceLattice edge(8, 8, 8, 1.0f, start);
  edge.toDevice();
  DevicePoints inside(1, 1.0f);
  const float X[3] = {7.5f, 4.0f, 4.0f};
  inside.place(0, X, edge, u);
  inside.host.forcex[0] = 1.0;
  inside.toDevice();
  spread(inside, edge, u, 5);
  for (double f : edge.forces(0)) ASSERT_EQ(f, 0.0);
  spread(inside, edge, u, 2);
  const auto fx = edge.forces(0);
  EXPECT_EQ(fx[edge.index(7, 4, 4)], 0.5);  // the half beyond the last node is lost
  EXPECT_EQ(sum(fx), 0.5);
}

// Interpolating against fluid at rest and spreading the result hands the lattice area_L rho_b u_b
// (lattice units): the two unit conversions are inverse to each other.
TEST(SpreadForce, SpreadingUndoesTheInterpolationUnits) {
  const Units u = physicalUnits();
  const float start[3] = {-1.5f, 0.0f, 0.25f};
  DeviceLattice lattice(24, 24, 24, 0.125f, start);
  lattice.toDevice();
  constexpr int kPoints = 50;
  const float area = 0.002f;
  DevicePoints points(kPoints, area);
  std::mt19937 rng(5);
  std::uniform_real_distribution<float> inside(7.0f, 16.0f);
  double expected = 0;
  for (int t = 0; t < kPoints; ++t) {
    const float X[3] = {inside(rng), inside(rng), inside(rng)};
    points.place(t, X, lattice, u);
    points.host.ux[t] = 0.1f * t;  // m/s
    points.host.rou[t] = 1.0f + 0.01f * t;
    expected += area * 64.0 * (1.0 + 0.01 * t) * (0.1 * t) * (0.1 / 5.0);
  }
  points.toDevice();
  interpolate(points, lattice, u, 4);
  spread(points, lattice, u, 4);
  EXPECT_NEAR(sum(lattice.forces(0)), expected, 1e-5 * expected);
  EXPECT_EQ(sum(lattice.forces(1)), 0.0);
}

// ---------------------------------------------------------------------------------------------------------------
// Launch geometry and concurrency

// Point t sits on node t with width 2: each node receives exactly one point's force if every point is
// handled exactly once, by the interpolation (which sets the force) and by the spreading.
TEST(ImmersedLaunch, EveryPointIsHandledExactlyOnce) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  const Units u;
  struct Case {
    int points;
    unsigned int gridZ;
  };
  for (const Case c : {Case{1, 1}, Case{400, 1}, Case{401, 1}, Case{6401, 5}}) {
    DeviceLattice lattice(20, 20, 20, 1.0f, start);
    lattice.toDevice();
    DevicePoints points(c.points, 1.0f);
    for (int t = 0; t < c.points; ++t) {
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
    ASSERT_EQ(log.size(), 2u);
    EXPECT_STREQ(log[0].kernel, "mlInterpolateFluidForceKernel");
    EXPECT_STREQ(log[1].kernel, "mlSpreadForceKernel");
    for (const auto& launch : log) {
      EXPECT_EQ(launch.grid.x, 5u);
      EXPECT_EQ(launch.grid.y, 5u);
      EXPECT_EQ(launch.grid.z, c.gridZ) << c.points;
      EXPECT_EQ(launch.block.x, 4u);
      EXPECT_EQ(launch.block.y, 4u);
      EXPECT_EQ(launch.block.z, 4u);
    }

    const PointForces f(points);
    for (int t = 0; t < c.points; ++t) ASSERT_EQ(f.x[t], 1.0) << c.points << " points, point " << t;
    const double perAxis[3] = {1.0, 2.0, -3.0};
    for (int axis = 0; axis < 3; ++axis) {
      const auto nodes = lattice.forces(axis);
      for (int i = 0; i < 8000; ++i)
        ASSERT_EQ(nodes[i], i < c.points ? perAxis[axis] : 0.0) << c.points << " points, node " << i;
    }
  }
}

TEST(ImmersedLaunch, EmptyPointSetLaunchesNothing) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  DeviceLattice lattice(4, 4, 4, 1.0f, start);
  lattice.toDevice();
  DevicePoints points(0, 1.0f);
  points.toDevice();
  dz::device::resetCounters();
  interpolate(points, lattice, Units(), 4);
  spread(points, lattice, Units(), 4);
  EXPECT_EQ(dz::device::counters().launches, 0u);
  EXPECT_EQ(cudaGetLastError(), cudaSuccess);
}

// Beyond 2^24 points the single-precision quotient count / 400 can round down past a multiple of 400;
// the grid must still cover the last point: ceil(16777601 / 400) = 41945 layers, 10487 block layers.
TEST(ImmersedLaunch, HugeCountsStillGetTheirLastLayer) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  DeviceLattice lattice(4, 4, 4, 1.0f, start);
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

// Many points share the nodes they spread to: the atomic additions lose nothing whichever threads run
// them, so 8 CPU threads give the 1-thread sums up to the order of the additions.
TEST(ImmersedLaunch, SpreadingFromManyThreadsLosesNoUpdate) {
  const float start[3] = {0.0f, 0.0f, 0.0f};
  const Units u;
  constexpr int kPoints = 3000;
  DeviceLattice lattice(16, 16, 16, 1.0f, start);
  lattice.toDevice();
  DevicePoints points(kPoints, 1.0f);
  std::mt19937 rng(9);
  std::uniform_real_distribution<float> crowd(6.0f, 9.0f);
  std::uniform_real_distribution<double> force(-1.0, 1.0);
  for (int t = 0; t < kPoints; ++t) {
    const float X[3] = {crowd(rng), crowd(rng), crowd(rng)};
    points.place(t, X, lattice, u);
    points.host.forcex[t] = force(rng);
    points.host.forcey[t] = 1.0;
  }
  points.toDevice();

  const std::vector<double> zeros(lattice.host->count, 0.0);
  auto spreadWith = [&](int threads) {
    for (double* f : {lattice.solver.forcex_dev_vec[0], lattice.solver.forcey_dev_vec[0]})
      EXPECT_EQ(cudaMemcpy(f, zeros.data(), zeros.size() * sizeof(double), cudaMemcpyHostToDevice), cudaSuccess);
    dz::device::setHostThreads(threads);
    spread(points, lattice, u, 4);
    dz::device::setHostThreads(0);
    return std::make_pair(lattice.forces(0), lattice.forces(1));
  };
  const auto one = spreadWith(1);
  const auto eight = spreadWith(8);
  for (std::size_t i = 0; i < zeros.size(); ++i) {
    ASSERT_NEAR(eight.first[i], one.first[i], 1e-12 * kPoints) << i;
    ASSERT_NEAR(eight.second[i], one.second[i], 1e-12 * kPoints) << i;
  }
  EXPECT_NEAR(sum(eight.second), kPoints, 1e-6 * kPoints);

  // All points on one node with width 2: every addition is 1 exactly, so any lost one shows.
  for (int t = 0; t < kPoints; ++t) {
    const float X[3] = {8.0f, 8.0f, 8.0f};
    points.place(t, X, lattice, u);
  }
  points.mirror.upload();
  for (double* f : {lattice.solver.forcey_dev_vec[0]})
    ASSERT_EQ(cudaMemcpy(f, zeros.data(), zeros.size() * sizeof(double), cudaMemcpyHostToDevice), cudaSuccess);
  dz::device::setHostThreads(8);
  spread(points, lattice, u, 2);
  dz::device::setHostThreads(0);
  EXPECT_EQ(lattice.forces(1)[lattice.index(8, 8, 8)], double(kPoints));
}

}  // namespace
