// The interpolation and spreading kernels against their per-node formulas written out plainly (every
// node of the range, its weight phi(r_x) phi(r_y) phi(r_z) evaluated on the spot, node forces summed
// point after point): point forces, node forces and the NaN report must agree bit for bit, for every
// width and number of threads, on random points and on points against the faces where the node range is
// cut.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "duriz/gpu_inc/gpuImmersed/mlDeltaFunction.cuh"
#include "immersedFixtures.h"

namespace {

using namespace immersed_test;

constexpr int kNodes = 32;
constexpr float kDx = 0.1f;  // not a power of two, so node coordinates recomputed from positions round
const int kWidths[] = {-1, 0, 1, 2, 3, 4, 5};

// N, l0p, rou0p, u0k, u0p: N / l0p = 1 / kDx, and reference velocities that differ per axis.
const Units kUnits{10, 1, 1.25f, 0.1f, {5, 4, 2}};

std::uint64_t bitsOf(double v) {
  std::uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

// Lattice coordinates of point t; false when outside 0 <= X < n on some axis (NaN included).
bool locate(const mlLagrangeBoundary& b, int t, const mlFlow& flow, const Units& u, float X[3]) {
  const float invdx = u.N / u.l0p;
  const float coord[3] = {b.coordx[t], b.coordy[t], b.coordz[t]};
  bool inside = true;
  for (int a = 0; a < 3; ++a) {
    X[a] = (coord[a] - flow.start[a]) * invdx;
    inside = inside && X[a] >= 0.0f && X[a] < static_cast<float>(flow.param->samples[a]);
  }
  return inside;
}

struct Forces {
  std::vector<double> f[3];
};
Forces pointForces(const DevicePoints& p) { return {{p.forces(0), p.forces(1), p.forces(2)}}; }
Forces nodeForces(const DeviceLattice& l) { return {{l.forces(0), l.forces(1), l.forces(2)}}; }

// Interpolation: nodes floor(X) - w .. floor(X) + w clamped, z outer; fused multiply-add of each
// node's weight and velocity; a NaN sum reported after every node from the one that made it.
Forces referenceInterpolation(const mlLagrangeBoundary& b, const mlFlow& flow, const Units& u, int width,
                              std::string& report) {
  const long nx = flow.param->samples[0], ny = flow.param->samples[1], nz = flow.param->samples[2];
  const double s = flow.param->slip_ratio;
  Forces out;
  for (auto& f : out.f) f.assign(b.count, 0.0);
  for (int t = 0; t < b.count; ++t) {
    float X[3];
    if (!locate(b, t, flow, u, X)) continue;
    const long base[3] = {long(std::floor(X[0])), long(std::floor(X[1])), long(std::floor(X[2]))};
    float sum[3] = {0.0f, 0.0f, 0.0f};
    for (long z = std::max(base[2] - width, 0L); z < std::min(base[2] + width + 1, nz); ++z)
      for (long y = std::max(base[1] - width, 0L); y < std::min(base[1] + width + 1, ny); ++y)
        for (long x = std::max(base[0] - width, 0L); x < std::min(base[0] + width + 1, nx); ++x) {
          const float weight = mlDelta(width, X[0] - static_cast<float>(x)) *
                               mlDelta(width, X[1] - static_cast<float>(y)) *
                               mlDelta(width, X[2] - static_cast<float>(z));
          const long i = (z * ny + y) * nx + x;
          sum[0] = std::fmaf(weight, flow.ux[i], sum[0]);
          sum[1] = std::fmaf(weight, flow.uy[i], sum[1]);
          sum[2] = std::fmaf(weight, flow.uz[i], sum[2]);
          if (std::isnan(sum[0]) || std::isnan(sum[1]) || std::isnan(sum[2])) {
            char line[160];
            std::snprintf(line, sizeof line, "NAN find! %d  %.3f %.3f %.3f %.3f  \n", static_cast<int>(i), flow.ux[i],
                          flow.uy[i], flow.uz[i], weight);
            report += line;
          }
        }
    const float rho = b.rou[t];
    const float ub[3] = {b.ux[t] * (u.u0k / u.u0p.x), b.uy[t] * (u.u0k / u.u0p.y), b.uz[t] * (u.u0k / u.u0p.z)};
    const float n[3] = {b.normalx[t], b.normaly[t], b.normalz[t]};
    const float up = u.u0p.x * u.u0p.x * u.rou0p;
    const float down = u.l0p * u.u0k * u.u0k;
    const float gap =
        rho * (ub[0] * n[0] + ub[1] * n[1] + ub[2] * n[2]) - (sum[0] * n[0] + sum[1] * n[1] + sum[2] * n[2]);
    for (int a = 0; a < 3; ++a) {
      const float full = (rho * ub[a] - sum[a]) * u.N * up / down;
      const float normal = n[a] * gap * u.N * up / down;
      out.f[a][t] = (1.0 - s) * full + s * normal;
    }
  }
  return out;
}

// Spreading: nodes floor(X) - w - 2 .. floor(X) + w + 2 clamped, each weighed at its coordinate
// recomputed from its physical position; node force += weight area_L F_L where the weight is not 0, point
// after point, onto the forces in out.
void referenceSpreading(const mlLagrangeBoundary& b, const mlFlow& flow, const Units& u, int width, Forces& out) {
  const long n[3] = {flow.param->samples[0], flow.param->samples[1], flow.param->samples[2]};
  const float invdx = u.N / u.l0p;
  const float dx = flow.param->dx;
  const float u0p[3] = {u.u0p.x, u.u0p.y, u.u0p.z};
  for (int t = 0; t < b.count; ++t) {
    float X[3];
    if (!locate(b, t, flow, u, X)) continue;
    long lo[3], hi[3];
    for (int a = 0; a < 3; ++a) {
      const long base = long(std::floor(X[a]));
      lo[a] = std::max(base - width - 2, 0L);
      hi[a] = std::min(base + width + 2, n[a] - 1);
    }
    const double areaL = static_cast<double>(b.area * (invdx * invdx));
    const double toLattice = static_cast<double>(u.l0p * u.u0k * u.u0k);
    const double force[3] = {b.forcex[t], b.forcey[t], b.forcez[t]};
    double F[3];
    for (int a = 0; a < 3; ++a)
      F[a] = areaL * (force[a] * toLattice / static_cast<double>(u0p[a] * u0p[a] * u.N * u.rou0p));
    for (long z = lo[2]; z <= hi[2]; ++z)
      for (long y = lo[1]; y <= hi[1]; ++y)
        for (long x = lo[0]; x <= hi[0]; ++x) {
          const long node[3] = {x, y, z};
          float r[3];
          for (int a = 0; a < 3; ++a)
            r[a] = X[a] - ((flow.start[a] + static_cast<float>(node[a]) * dx) - flow.start[a]) * invdx;
          const float weight = mlDelta(width, r[0]) * mlDelta(width, r[1]) * mlDelta(width, r[2]);
          if (weight == 0.0f) continue;
          const long i = (z * n[1] + y) * n[0] + x;
          for (int a = 0; a < 3; ++a) out.f[a][i] += weight * F[a];
        }
  }
}

// Along an axis of n >= 32 nodes: against the low face, four inside, and n - 1 against the high face.
const float kSlots[] = {0.0f, 8.0f, 14.0f, 20.0f, 26.0f, -1.0f};
constexpr int kSlotPoints = 6 * 6 * 6;

// On a node, half-way, or anywhere in the cell.
float cellOffset(std::mt19937& rng) {
  const int kind = std::uniform_int_distribution<int>(0, 3)(rng);
  return kind == 0 ? 0.0f : kind == 1 ? 0.5f : std::uniform_real_distribution<float>(0.0f, 1.0f)(rng);
}

// Velocities, normals, densities and forces of the points, at random.
void randomPointData(DevicePoints& p, std::mt19937& rng) {
  std::uniform_real_distribution<float> unit(-1.0f, 1.0f);
  mlLagrangeBoundary& b = p.host;
  for (int t = 0; t < b.count; ++t) {
    const float v[3] = {unit(rng), unit(rng), unit(rng)}, n[3] = {unit(rng), unit(rng), unit(rng)};
    const float len = std::sqrt(n[0] * n[0] + n[1] * n[1] + n[2] * n[2]) + 1e-3f;
    float* vel[3] = {b.ux, b.uy, b.uz};
    float* normal[3] = {b.normalx, b.normaly, b.normalz};
    for (int a = 0; a < 3; ++a) {
      vel[a][t] = v[a];
      normal[a][t] = n[a] / len;
    }
    b.rou[t] = 1.0f + 0.1f * unit(rng);
    b.forcex[t] = 100.0 * unit(rng);
    b.forcey[t] = 100.0 * unit(rng);
    b.forcez[t] = 100.0 * unit(rng);
  }
}

// Every slot combination, each slot shifted by its own random offset.
void placeOnSlots(DevicePoints& p, const DeviceLattice& lattice, const Units& u, std::mt19937& rng) {
  const float last = static_cast<float>(lattice.nx() - 1);
  auto slot = [&](float s) { return (s < 0.0f ? last : s) + cellOffset(rng); };
  int t = 0;
  for (float sz : kSlots)
    for (float sy : kSlots)
      for (float sx : kSlots) {
        const float X[3] = {slot(sx), slot(sy), slot(sz)};
        p.place(t++, X, lattice, u);
      }
}

// The slot points, then points anywhere in and just around the box, with random data.
constexpr int kAnywhere = 400;
void placeAnywhere(DevicePoints& points, const DeviceLattice& lattice, const Units& u, std::mt19937& rng) {
  placeOnSlots(points, lattice, u, rng);
  std::uniform_real_distribution<float> pos(-0.5f, kNodes + 0.5f);
  for (int t = kSlotPoints; t < points.host.count; ++t) {
    const float X[3] = {pos(rng), pos(rng), pos(rng)};
    points.place(t, X, lattice, u);
  }
  randomPointData(points, rng);
  points.toDevice();
}

const float kStart[3] = {-1.3f, 0.7f, 2.1f};

void randomVelocities(DeviceLattice& lattice, std::mt19937& rng) {
  std::uniform_real_distribution<float> vel(-0.1f, 0.1f);
  for (std::uint64_t i = 0; i < lattice.host->count; ++i) {
    lattice.host->ux[i] = vel(rng);
    lattice.host->uy[i] = vel(rng);
    lattice.host->uz[i] = vel(rng);
  }
}

// Runs the interpolation and returns what it printed.
std::string interpolatePrinting(DevicePoints& p, DeviceLattice& l, const Units& u, int width) {
  testing::internal::CaptureStdout();
  interpolate(p, l, u, width);
  std::fflush(stdout);
  return testing::internal::GetCapturedStdout();
}

void expectSameBits(const Forces& expected, const Forces& actual, const std::string& what) {
  for (int a = 0; a < 3; ++a)
    for (std::size_t i = 0; i < actual.f[a].size(); ++i)
      ASSERT_EQ(bitsOf(actual.f[a][i]), bitsOf(expected.f[a][i]))
          << what << " axis " << a << " index " << i << ": " << actual.f[a][i] << " vs " << expected.f[a][i];
}

TEST(ImmersedReference, InterpolationMatchesThePerNodeFormula) {
  std::mt19937 rng(4021);
  const Units& u = kUnits;
  DeviceLattice lattice(kNodes, kNodes, kNodes, kDx, kStart);
  lattice.host->param->slip_ratio = 0.3f;
  randomVelocities(lattice, rng);
  lattice.toDevice();

  DevicePoints points(kSlotPoints + kAnywhere, 1.0f);
  placeAnywhere(points, lattice, u, rng);
  for (int threads : {1, 0}) {
    dz::device::setHostThreads(threads);
    for (int width : kWidths) {
      std::string report;
      const Forces expected = referenceInterpolation(points.host, *lattice.host, u, width, report);
      EXPECT_EQ(interpolatePrinting(points, lattice, u, width), "");
      EXPECT_EQ(report, "");
      expectSameBits(expected, pointForces(points),
                     "width " + std::to_string(width) + ", threads " + std::to_string(threads));
    }
  }
  dz::device::setHostThreads(0);
}

// Two point sets spread one after the other, and both in one stage, as the fluid step does for two bodies
// (after a stage that ended without finishing, which adds nothing); many nodes receive several points'
// forces.
TEST(ImmersedReference, SpreadingMatchesThePerNodeFormula) {
  std::mt19937 rng(977);
  const Units& u = kUnits;
  for (int width : kWidths) {
    DeviceLattice lattice(kNodes, kNodes, kNodes, kDx, kStart);
    lattice.toDevice();
    DevicePoints first(kSlotPoints + kAnywhere, 0.013f), second(kSlotPoints + kAnywhere, 0.02f);
    placeAnywhere(first, lattice, u, rng);
    placeAnywhere(second, lattice, u, rng);
    Forces expected;
    for (auto& f : expected.f) f.assign(lattice.host->count, 0.0);
    referenceSpreading(first.host, *lattice.host, u, width, expected);
    referenceSpreading(second.host, *lattice.host, u, width, expected);

    for (int threads : {1, 2, 3, 8})
      for (bool oneStage : {false, true}) {
        dz::device::setHostThreads(threads);
        lattice.toDevice();  // forces back to 0
        if (oneStage) {
          spread(*std::make_unique<mlSpreadStage>(), first, lattice, u, width);
          mlSpreadStage stage;
          spread(stage, first, lattice, u, width);
          spread(stage, second, lattice, u, width);
          stage.finish();
        } else {
          spread(first, lattice, u, width);
          spread(second, lattice, u, width);
        }
        expectSameBits(expected, nodeForces(lattice),
                       "width " + std::to_string(width) + ", threads " + std::to_string(threads) +
                           (oneStage ? ", one stage" : ""));
      }
  }
  dz::device::setHostThreads(0);
}

// Far from the origin the nodes' coordinates, start + k dx rounded to single precision, are off by more
// than half a spacing, and a point weighs more nodes than the usual w + 1 per axis: still the formula's
// sums, bit for bit (also for points whose nodes reach across y = 16).
TEST(ImmersedReference, SpreadingFarFromTheOriginMatchesThePerNodeFormula) {
  std::mt19937 rng(31);
  const Units& u = kUnits;
  DeviceLattice lattice(16, 24, 16, kDx);
  lattice.toDevice();
  const float far[3] = {1.2e7f, -1.3e7f, 1.1e7f};  // floats here are 1 apart, ten spacings
  std::copy(far, far + 3, lattice.host->start);
  ASSERT_EQ(cudaMemcpy(lattice.dev->start, far, sizeof far, cudaMemcpyHostToDevice), cudaSuccess);
  DevicePoints points(60, 0.013f);
  std::uniform_real_distribution<float> pos(3.0f, 12.0f), posY(3.0f, 20.0f);
  for (int t = 0; t < 60; ++t) {
    const float X[3] = {pos(rng), posY(rng), pos(rng)};
    points.place(t, X, lattice, u);
  }
  randomPointData(points, rng);
  points.toDevice();

  Forces expected;
  for (auto& f : expected.f) f.assign(lattice.host->count, 0.0);
  referenceSpreading(points.host, *lattice.host, u, 4, expected);
  spread(points, lattice, u, 4);
  expectSameBits(expected, nodeForces(lattice), "far from the origin");
}

// A velocity that is infinite or NaN reaches the point's force and the report even where the point weighs
// the node 0 (0 * inf and 0 * NaN are NaN), as it does at a node of nonzero weight; one just beyond the
// range (in the same block of 8 x 8 x 8 nodes) does not.
TEST(ImmersedReference, NonFiniteVelocityAnywhereInTheRangeReachesThePoint) {
  const Units& u = kUnits;
  const float inf = std::numeric_limits<float>::infinity();
  const float nan = std::numeric_limits<float>::quiet_NaN();
  const float X[3] = {10.3f, 10.6f, 10.2f};
  struct Case {
    int x, y, z;
    float value;
    int width;
  };
  // Nodes 14 and 6 lie 3.7 and 4.3 from the point along x: weight 0, inside the range of width 4 (6..14);
  // nodes 15 and 5 lie beyond it. Node 11 along x is 0.7 away: nonzero weight for every width.
  const Case cases[] = {{14, 10, 10, inf, 4}, {6, 12, 9, nan, 4},   {10, 10, 13, -inf, 3}, {11, 10, 10, inf, 4},
                        {11, 10, 10, nan, 2}, {15, 10, 10, inf, 4}, {5, 12, 9, nan, 4},    {10, 10, 14, inf, 3}};
  for (const Case& c : cases) {
    std::mt19937 rng(5);
    DeviceLattice lattice(kNodes, kNodes, kNodes, kDx, kStart);
    randomVelocities(lattice, rng);
    lattice.host->ux[lattice.index(c.x, c.y, c.z)] = c.value;
    lattice.toDevice();
    DevicePoints points(1, 1.0f);
    points.place(0, X, lattice, u);
    randomPointData(points, rng);
    points.toDevice();

    std::string report;
    const Forces expected = referenceInterpolation(points.host, *lattice.host, u, c.width, report);
    const std::string printed = interpolatePrinting(points, lattice, u, c.width);
    const std::string what = "node " + std::to_string(c.x) + " value " + std::to_string(c.value);
    EXPECT_EQ(printed, report) << what;
    const Forces actual = pointForces(points);
    expectSameBits(expected, actual, what);
    const bool inRange = std::abs(c.x - 10) <= c.width && std::abs(c.z - 10) <= c.width;
    if (c.x != 11) {  // 0 * inf and 0 * NaN at a node of weight 0, or nothing beyond the range
      EXPECT_EQ(printed != "", inRange) << what;
      EXPECT_EQ(std::isnan(actual.f[0][0]), inRange) << what;
    }
  }
}

}  // namespace
