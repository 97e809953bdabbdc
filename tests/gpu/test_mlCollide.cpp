#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <random>

#include "duriz/gpu_inc/gpu/mlCentralMoments.cuh"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "gpuLattice.h"

namespace {

using gputest::GpuLattice;
using Moments = std::array<double, 27>;

// The 27 central moments in the collision's own order (0; x, y, z; xy, xz, yz; xx-yy, xx-zz, trace;
// xyy+xzz, xxy+yzz, xxz+yyz; xyy-xzz, xxy-yzz, xxz-yyz; xyz; fourth; fifth; xxyyzz), in double.
Moments centralMoments(const double f[27], const double u[3]) {
  Moments k{};
  for (int q = 0; q < 27; ++q) {
    const double x = d3q27::ex[q] - u[0], y = d3q27::ey[q] - u[1], z = d3q27::ez[q] - u[2];
    const double xx = x * x, yy = y * y, zz = z * z;
    const double poly[27] = {1,
                             x,
                             y,
                             z,
                             x * y,
                             x * z,
                             y * z,
                             xx - yy,
                             xx - zz,
                             xx + yy + zz,
                             x * yy + x * zz,
                             xx * y + y * zz,
                             xx * z + yy * z,
                             x * yy - x * zz,
                             xx * y - y * zz,
                             xx * z - yy * z,
                             x * y * z,
                             xx * yy + xx * zz + yy * zz,
                             xx * yy + xx * zz - yy * zz,
                             xx * yy - xx * zz,
                             xx * y * z,
                             x * yy * z,
                             x * y * zz,
                             x * yy * zz,
                             xx * y * zz,
                             xx * yy * z,
                             xx * yy * zz};
    for (int m = 0; m < 27; ++m) k[m] += f[q] * poly[m];
  }
  return k;
}

// Product-basis slot (a, b, c) of the kernel helpers holds sum f (c_x-u_x)^a (c_y-u_y)^b (c_z-u_z)^c.
double productMoment(const double f[27], const double u[3], int a, int b, int c) {
  double sum = 0;
  for (int q = 0; q < 27; ++q)
    sum +=
        f[q] * std::pow(d3q27::ex[q] - u[0], a) * std::pow(d3q27::ey[q] - u[1], b) * std::pow(d3q27::ez[q] - u[2], c);
  return sum;
}

TEST(CentralMomentTransform, BackTransformIsTheExactInverse) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<float> pop(0.0f, 0.1f), vel(-0.3f, 0.3f);
  for (int trial = 0; trial < 20; ++trial) {
    const float u[3] = {vel(rng), vel(rng), vel(rng)};
    const double ud[3] = {u[0], u[1], u[2]};
    float p[27];
    double f[27];
    for (int s = 0; s < 27; ++s) p[s] = pop(rng);
    for (int s = 0; s < 27; ++s) f[mlProductSlotDirection[s]] = p[s];

    // Forward: every slot is the product moment of its powers.
    mlCentralMoments(p, u[0], u[1], u[2]);
    for (int a = 0; a < 3; ++a)
      for (int b = 0; b < 3; ++b)
        for (int c = 0; c < 3; ++c)
          ASSERT_NEAR(p[a * 9 + b * 3 + c], productMoment(f, ud, a, b, c), 2e-7) << a << b << c;

    // Back: populations whose product moments are the given ones, recovering f to float rounding (an
    // inexact inverse would miss by orders of magnitude more).
    mlPopulations(p, u[0], u[1], u[2]);
    for (int s = 0; s < 27; ++s) ASSERT_NEAR(p[s], f[mlProductSlotDirection[s]], 1e-6) << s;
  }
}

TEST(CentralMomentTransform, EquilibriumHasTheCollisionsEquilibriumMoments) {
  const float rho = 1.2f, u[3] = {0.1f, -0.2f, 0.05f};
  float feq[27];
  mlEquilibrium(rho, u[0], u[1], u[2], feq);
  double f[27];
  for (int q = 0; q < 27; ++q) f[q] = feq[q];
  const double ud[3] = {u[0], u[1], u[2]};
  const Moments k = centralMoments(f, ud);
  Moments expected{};
  expected[0] = expected[9] = rho;
  expected[17] = rho / 3.0;
  expected[18] = rho / 9.0;
  expected[26] = rho / 27.0;
  for (int m = 0; m < 27; ++m) EXPECT_NEAR(k[m], expected[m], 1e-6) << m;
}

constexpr double kCs = 0.57735026f;

double fittedSopt(double rho, const double u[3], double nu, const double G[3][3]) {
  double PP = 0;
  const double tr = G[0][0] + G[1][1] + G[2][2];
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      const double Pi =
          rho * u[a] * u[b] + (a == b ? rho / 3 + 2.0 / 3 * rho * nu * tr : 0.0) - rho * nu * (G[a][b] + G[b][a]);
      PP += Pi * Pi;
    }
  const double m = rho * std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  return 0.0003473824792054466 * rho - 0.024553263256967 * m + 0.0006978712121180968 * std::sqrt(PP) +
         0.008547381698844;
}

double waleViscosity(const double G[3][3], double rho) {
  double g2[3][3], SS = 0, DD = 0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) g2[a][b] = G[a][0] * G[0][b] + G[a][1] * G[1][b] + G[a][2] * G[2][b];
  const double trS = (G[0][0] + G[1][1] + G[2][2]) / 3, trG2 = (g2[0][0] + g2[1][1] + g2[2][2]) / 3;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b) {
      const double S0 = 0.5 * (G[a][b] + G[b][a]) - (a == b ? trS : 0);
      const double Sd = 0.5 * (g2[a][b] + g2[b][a]) - (a == b ? trG2 : 0);
      SS += S0 * S0;
      DD += Sd * Sd;
    }
  return 0.325 * 0.325 * rho * std::pow(DD, 1.5) / (std::pow(SS, 2.5) + std::pow(DD, 1.25) + 1e-12);
}

struct CollisionCase {
  const char* name;
  float rho;
  float u[3];
  float gradient;  // du_x/dy and du_y/dz of the velocity field around the centre node
  double force[3];
  float bodyAccelY;
  float previousSopt;
};

class Collision : public ::testing::TestWithParam<CollisionCase> {};

// The centre node of a 3 x 3 x 3 lattice collides with non-equilibrium populations; the test recomputes
// everything the kernel should do in double from the model's definition and compares the 27 central
// moments of fPost with the relaxed and forced moments.
TEST_P(Collision, PostCollisionMomentsAreTheRelaxedAndForcedMoments) {
  const CollisionCase& c = GetParam();
  const float nu = 0.02f;
  GpuLattice l(3, 3, 3, nu);
  const std::size_t centre = l.index(1, 1, 1);
  std::mt19937 rng(11);
  std::uniform_real_distribution<float> noise(-0.003f, 0.003f);
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x) {
        const std::size_t i = l.index(x, y, z);
        l.host->ux[i] = c.u[0] + c.gradient * (y - 1);
        l.host->uy[i] = c.u[1] + 0.5f * c.gradient * (z - 1) - 0.25f * c.gradient * (x - 1);
        l.host->uz[i] = c.u[2];
        l.host->rou[i] = c.rho;
        for (int q = 0; q < 27; ++q) l.f(q, i) = d3q27::w[q] * (1.0f + 0.3f * d3q27::ex[q] * c.u[0]) + noise(rng);
        l.host->Sopt[i] = c.previousSopt;
      }
  l.host->forcex[centre] = c.force[0];
  l.host->forcey[centre] = c.force[1];
  l.host->forcez[centre] = c.force[2];
  l.host->param->bodyAccel[1] = c.bodyAccelY;
  l.upload();
  mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
  l.download();

  const double rho = c.rho;
  const double u[3] = {c.u[0], c.u[1], c.u[2]};
  double f[27], post[27];
  for (int q = 0; q < 27; ++q) {
    f[q] = l.f(q, centre);
    post[q] = l.host->fPost[q * l.count() + centre];
  }
  double G[3][3] = {{0, c.gradient, 0}, {-0.25 * c.gradient, 0, 0.5 * c.gradient}, {0, 0, 0}};
  for (auto& row : G)
    for (double& g : row) g = static_cast<float>(g);
  const double omega = 1.0 / (3.0 * (nu + waleViscosity(G, rho)) + 0.5);
  const double fit = fittedSopt(rho, u, nu, G);
  const double sopt = fit > 0 ? fit : c.previousSopt;
  EXPECT_NEAR(l.host->Sopt[centre], sopt, 1e-7);
  const double omega2 = 1.0 / (3.0 * sopt + 0.5);
  const double F[3] = {c.force[0], c.force[1] + rho * c.bodyAccelY, c.force[2]};

  Moments k = centralMoments(f, u);
  k[0] = rho;
  for (int m = 1; m <= 3; ++m) k[m] = F[m - 1] / 2;
  for (int m = 4; m <= 8; ++m) k[m] *= 1 - omega;
  Moments eq{};
  eq[9] = rho;
  eq[17] = rho / 3;
  eq[18] = rho / 9;
  eq[26] = rho / 27;
  for (int m = 9; m <= 26; ++m) k[m] = (1 - omega2) * k[m] + omega2 * eq[m];
  const double h2 = 1 - omega2 / 2;
  for (int a = 0; a < 3; ++a) {
    k[10 + a] += h2 * 2 * kCs * kCs * F[a];
    k[23 + a] += h2 * kCs * kCs * kCs * kCs * F[a];
  }

  const Moments got = centralMoments(post, u);
  for (int m = 0; m < 27; ++m) EXPECT_NEAR(got[m], k[m], 2e-6) << c.name << " moment " << m;

  // Raw moments: mass is the stored density, momentum rho u + F/2.
  double mass = 0, mom[3] = {0, 0, 0};
  for (int q = 0; q < 27; ++q) {
    mass += post[q];
    mom[0] += d3q27::ex[q] * post[q];
    mom[1] += d3q27::ey[q] * post[q];
    mom[2] += d3q27::ez[q] * post[q];
  }
  EXPECT_NEAR(mass, rho, 1e-6);
  for (int a = 0; a < 3; ++a) EXPECT_NEAR(mom[a], rho * u[a] + F[a] / 2, 1e-6) << a;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Collision,
    ::testing::Values(CollisionCase{"uniform", 1.0f, {0.05f, -0.02f, 0.01f}, 0.0f, {0, 0, 0}, 0.0f, 0.0f},
                      CollisionCase{"sheared", 1.03f, {0.02f, 0.03f, -0.04f}, 0.04f, {1e-3, -2e-3, 5e-4}, 0.0f, 0.0f},
                      CollisionCase{"body accel", 0.97f, {0.0f, 0.0f, 0.0f}, 0.01f, {0, 0, 0}, -1e-4f, 0.01f},
                      // The momentum term outweighs the fit: Sopt keeps its previous value.
                      CollisionCase{"negative fit", 1.0f, {0.6f, 0.0f, 0.0f}, 0.0f, {2e-3, 0, 0}, 0.0f, 0.123f}),
    [](const auto& info) {
      std::string s = info.param.name;
      for (char& ch : s)
        if (ch == ' ') ch = '_';
      return s;
    });

TEST(Collision, RestingEquilibriumKeepsItsPopulationsAndStoresTheRestFit) {
  GpuLattice l(3, 3, 3, 0.01f);
  l.upload();
  mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
  l.download();
  const double restFit = 0.0003473824792054466 - 0.0 + 0.0006978712121180968 * std::sqrt(3.0) / 3 + 0.008547381698844;
  EXPECT_NEAR(restFit, 0.0092977, 1e-7);
  for (std::size_t i = 0; i < l.count(); ++i) {
    EXPECT_NEAR(l.host->Sopt[i], restFit, 1e-9) << i;
    for (int q = 0; q < 27; ++q) EXPECT_NEAR(l.host->fPost[q * l.count() + i], d3q27::w[q], 1.2e-7) << q;
  }
}

TEST(Collision, ZerothMomentIsTheStoredDensityNotThePopulationSum) {
  GpuLattice l(3, 3, 3, 0.01f);
  for (std::size_t i = 0; i < l.count(); ++i) l.host->rou[i] = 1.05f;  // f still sums to 1
  l.upload();
  mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
  l.download();
  for (std::size_t i = 0; i < l.count(); ++i) {
    double mass = 0;
    for (int q = 0; q < 27; ++q) mass += l.host->fPost[q * l.count() + i];
    EXPECT_NEAR(mass, 1.05, 1e-6);
  }
}

}  // namespace
