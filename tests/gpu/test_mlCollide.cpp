// The collision against lattice-Boltzmann physics at one node of a 3 x 3 x 3 lattice: equilibria are fixed
// points, a non-equilibrium stress relaxes at the viscous rate (the molecular viscosity plus the WALE eddy
// viscosity), a third moment at the fitted high-order rate, and a force enters the first, third and fifth
// moments.
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "duriz/gpu_inc/gpu/mlCentralMoments.cuh"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "gpuLattice.h"

namespace {

using gputest::GpuLattice;

constexpr double kCs2 = 1.0 / 3.0;
constexpr double kUniform[3][3] = {};  // the velocity gradient of a uniform flow

// sum_q fPost_q c_x^a c_y^b c_z^c of node i: the central moment where the node's velocity is 0.
double postMoment(GpuLattice& l, std::size_t i, int a, int b, int c) {
  double m = 0;
  for (int q = 0; q < 27; ++q)
    m += l.post(q, i) * std::pow(d3q27::ex[q], a) * std::pow(d3q27::ey[q], b) * std::pow(d3q27::ez[q], c);
  return m;
}

// Every node at the collision's own equilibrium of rho and u (in f, fPost, and the stored velocity).
void setUniform(GpuLattice& l, float rho, const double u[3]) {
  float feq[27];
  mlEquilibrium(rho, u[0], u[1], u[2], feq);
  for (std::size_t i = 0; i < l.count(); ++i) {
    l.host->rou[i] = rho, l.host->ux[i] = u[0], l.host->uy[i] = u[1], l.host->uz[i] = u[2];
    for (int q = 0; q < 27; ++q) l.f(q, i) = l.post(q, i) = feq[q];
  }
}

// The stored velocity of the linear flow u = U + G (x - (1, 1, 1)) on a 3 x 3 x 3 lattice.
void setLinearFlow(GpuLattice& l, const double U[3], const double G[3][3]) {
  float* u[3] = {l.host->ux, l.host->uy, l.host->uz};
  for (int z = 0; z < 3; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 3; ++x)
        for (int a = 0; a < 3; ++a)
          u[a][l.index(x, y, z)] = U[a] + G[a][0] * (x - 1) + G[a][1] * (y - 1) + G[a][2] * (z - 1);
}

void collide(GpuLattice& l) {
  l.upload();
  mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
  l.download();
}

// The fitted high-order viscosity of a node of density rho, velocity u and velocity gradient G: from rho,
// |rho u| and the norm of the momentum flux Pi = rho u u + rho/3 I - rho nu (G + G^T) + 2/3 rho nu tr(G) I.
double fittedRate(double rho, const double u[3], const double G[3][3] = kUniform, double nu = 0) {
  const double trG = G[0][0] + G[1][1] + G[2][2];
  double PP = 0;
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      PP += std::pow(
          rho * u[a] * u[b] + (a == b ? rho / 3 + 2.0 / 3 * rho * nu * trG : 0) - rho * nu * (G[a][b] + G[b][a]), 2);
  const double m = rho * std::sqrt(u[0] * u[0] + u[1] * u[1] + u[2] * u[2]);
  return 0.0003473824792054466 * rho - 0.024553263256967 * m + 0.0006978712121180968 * std::sqrt(PP) +
         0.008547381698844;
}

// A uniform equilibrium leaves the collision unchanged, whatever its velocity, and stores the fitted rate;
// a fit that is not positive (a fast flow) keeps the previous rate.
TEST(Collision, UniformEquilibriumIsAFixedPoint) {
  const struct {
    double rho, u[3];
    bool fitPositive;
  } cases[] = {{1.0, {0, 0, 0}, true}, {1.03, {0.05, -0.02, 0.01}, true}, {1.0, {0.6, 0, 0}, false}};
  for (const auto& c : cases) {
    GpuLattice l(3, 3, 3, 0.02f);
    setUniform(l, c.rho, c.u);
    std::fill(l.host->Sopt, l.host->Sopt + l.count(), 0.123f);
    collide(l);
    const double fit = fittedRate(c.rho, c.u);
    EXPECT_EQ(fit > 0, c.fitPositive);
    for (std::size_t i = 0; i < l.count(); ++i) {
      EXPECT_NEAR(l.host->Sopt[i], c.fitPositive ? fit : 0.123, 1e-7) << c.u[0];
      for (int q = 0; q < 27; ++q) ASSERT_NEAR(l.post(q, i), l.f(q, i), 3e-7) << c.u[0] << " node " << i << " q " << q;
    }
  }
}

// In a linear flow u = U + G (x - x_centre) the centre node's fitted rate follows the momentum flux of
// its velocity and gradient: a shear and an extension, each drifting, so that the viscous stress adds to
// or takes from rho u u (a stress of the wrong sign changes the rate by 1e-7 to 1e-5).
TEST(Collision, FittedRateFollowsTheMomentumFluxOfALinearFlow) {
  const double nu = 0.1, rho = 1.02;
  const struct {
    const char* name;
    double U[3], G[3][3];
  } cases[] = {{"shear", {0.1, 0.1, 0}, {{0, 0.05, 0}, {0, 0, 0}, {0, 0, 0}}},
               {"extension", {0.1, -0.05, 0}, {{0.05, 0, 0}, {0, 0, 0}, {0, 0, -0.02}}}};
  for (const auto& c : cases) {
    GpuLattice l(3, 3, 3, nu);
    setLinearFlow(l, c.U, c.G);
    std::fill(l.host->rou, l.host->rou + l.count(), rho);
    collide(l);
    EXPECT_NEAR(l.host->Sopt[l.index(1, 1, 1)], fittedRate(rho, c.U, c.G, nu), 1e-8) << c.name;
  }
}

// A shear stress, a normal-stress difference and a third moment put on a node at rest each decay by one
// relaxation factor per collision: 1 - omega with omega = 1 / (3 (nu + nu_T) + 1/2) for the stress, and
// 1 - omega_2 with the stored high-order rate for the third moment. The WALE eddy viscosity nu_T is 0 in
// a pure shear flow and C^2 (2/3)^(1/4) W in a rigid rotation of rate W about z.
TEST(Collision, StressAndThirdMomentRelaxAtTheirRates) {
  const double nu = 0.02, W = 0.05, P[3] = {2e-3, -1e-3, 5e-4}, N = 1e-3, eps = 3e-3;
  const struct {
    const char* name;
    double shear, rotation, nuT;
  } cases[] = {
      {"still", 0, 0, 0}, {"shear", 0.04, 0, 0}, {"rotation", 0, W, 0.325 * 0.325 * std::pow(2.0 / 3, 0.25) * W}};
  for (const auto& c : cases) {
    GpuLattice l(3, 3, 3, nu);
    const double still[3] = {0, 0, 0}, G[3][3] = {{0, c.shear - c.rotation, 0}, {c.rotation, 0, 0}, {0, 0, 0}};
    setLinearFlow(l, still, G);
    const std::size_t i = l.index(1, 1, 1);
    for (int q = 0; q < 27; ++q) {
      const double cx = d3q27::ex[q], cy = d3q27::ey[q], cz = d3q27::ez[q];
      l.f(q, i) = d3q27::w[q] * (1 + 9 * (P[0] * cx * cy + P[1] * cx * cz + P[2] * cy * cz) +
                                 4.5 * N * (cx * cx - cy * cy) + eps * cx * (cy * cy - 1.0 / 3));
    }
    collide(l);
    const double r1 = 1 - 1 / (3 * (nu + c.nuT) + 0.5), r2 = 1 - 1 / (3 * l.host->Sopt[i] + 0.5);
    EXPECT_NEAR(postMoment(l, i, 1, 1, 0), r1 * P[0], 1e-7) << c.name;
    EXPECT_NEAR(postMoment(l, i, 1, 0, 1), r1 * P[1], 1e-7) << c.name;
    EXPECT_NEAR(postMoment(l, i, 0, 1, 1), r1 * P[2], 1e-7) << c.name;
    EXPECT_NEAR(postMoment(l, i, 2, 0, 0) - postMoment(l, i, 0, 2, 0), r1 * 2 * N, 1e-7) << c.name;
    EXPECT_NEAR(postMoment(l, i, 2, 0, 0) + postMoment(l, i, 0, 2, 0) + postMoment(l, i, 0, 0, 2), 1, 1e-6);
    EXPECT_NEAR(postMoment(l, i, 1, 2, 0), r2 * 2 * eps / 27, 1e-7) << c.name;
  }
}

// At rest, a node force F plus the body force rho g leaves the mass and puts F/2 into the momentum,
// (1 - omega_2 / 2) cs^2 F_a into each third moment c_a c_b^2 and (1 - omega_2 / 2) cs^4 F_a into the
// fifth moment c_a c_b^2 c_c^2. The mass, and the mass the body force acts on, is the stored density rho,
// not the sum of f (here 1: they differ where f changed after the moment step).
TEST(Collision, ForceEntersTheOddMoments) {
  const float rho = 0.97f, g = -1e-4f;
  const double force[3] = {1e-3, -2e-3, 5e-4};
  GpuLattice l(3, 3, 3, 0.02f);
  const double rest[3] = {0, 0, 0};
  setUniform(l, 1.0f, rest);
  const std::size_t i = l.index(1, 1, 1);
  l.host->rou[i] = rho;
  l.host->forcex[i] = force[0], l.host->forcey[i] = force[1], l.host->forcez[i] = force[2];
  l.host->param->bodyAccel[1] = g;
  collide(l);
  const double F[3] = {force[0], force[1] + rho * g, force[2]}, h = 1 - 0.5 / (3 * l.host->Sopt[i] + 0.5);
  EXPECT_NEAR(postMoment(l, i, 0, 0, 0), rho, 1e-6);
  for (int a = 0; a < 3; ++a) {
    const int b = (a + 1) % 3, c = (a + 2) % 3;
    int e[3] = {0, 0, 0};
    e[a] = 1;
    EXPECT_NEAR(postMoment(l, i, e[0], e[1], e[2]), F[a] / 2, 1e-7) << a;
    e[b] = 2;
    EXPECT_NEAR(postMoment(l, i, e[0], e[1], e[2]), h * kCs2 * F[a], 1e-7) << a;
    e[c] = 2;
    EXPECT_NEAR(postMoment(l, i, e[0], e[1], e[2]), h * kCs2 * kCs2 * F[a], 1e-7) << a;
    e[b] = 0;
    EXPECT_NEAR(postMoment(l, i, e[0], e[1], e[2]), h * kCs2 * F[a], 1e-7) << a;
  }
}

}  // namespace
