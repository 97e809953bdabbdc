// Validation of the whole fluid step against Stokes' first problem: a plane of Lagrangian points set
// moving tangentially at speed U in a fluid at rest drags the fluid on either side with the profile
// u(y, t) = U erfc(|y - y0| / (2 sqrt(nu t))).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "duriz/mlsolver/couplingMode.h"
#include "simulatorInterface/FluidHelper.h"
#include "stepFixture.h"

namespace {

TEST(StokesFirstProblem, ProfileFollowsTheErrorFunction) {
  // Lattice units: dx = 0.01 m, tp = 1 ms, lattice viscosity 0.1 (tau = 0.8), U = 0.05.
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->N = 100;
  p->l0p = 1;
  p->u0p = 1;
  p->u0k = 0.1f;
  p->visp = 0.01f;
  p->width = 0.08f;
  p->height = 0.97f;
  p->depth = 0.08f;
  step_test::CommittedSolver c({p});
  const mlFlow& lattice = *c.lattices[0];
  const int nx = lattice.param->samples[0], ny = lattice.param->samples[1], nz = lattice.param->samples[2];
  const float dx = lattice.param->dx;
  const double nu = lattice.viscosity;
  ASSERT_NEAR(nu, 0.1, 1e-6);

  // One point per node column of the plane y = y0, each standing for dx^2, moving along x at U.
  const int y0 = ny / 2;
  const double U = 0.05;
  auto plate = std::make_unique<mlLagrangeBoundary>(nx * nz, dx * dx);
  for (int z = 0, k = 0; z < nz; ++z)
    for (int x = 0; x < nx; ++x, ++k) {
      plate->coordx[k] = lattice.start[0] + x * dx;
      plate->coordy[k] = lattice.start[1] + y0 * dx;
      plate->coordz[k] = lattice.start[2] + z * dx;
      plate->normaly[k] = 1.0f;
      plate->ux[k] = static_cast<float>(U * p->u0p / p->u0k);
    }
  c.addPoints(std::move(plate));

  const int steps = 300;
  for (int t = 0; t < steps; ++t) c.solver.solverStep(TWO_WAY);
  FluidHelper::download(c.solver, 0);

  // Compare the plane-averaged velocity with the analytic profile away from the forcing layer (the
  // delta function spreads the plate over two nodes each side).
  const double diffusionLength = 2.0 * std::sqrt(nu * steps);
  double worst = 0;
  for (int y = 0; y < ny; ++y) {
    const int d = std::abs(y - y0);
    if (d < 3 || d > 25) continue;
    double u = 0;
    for (int z = 0; z < nz; ++z)
      for (int x = 0; x < nx; ++x) {
        const std::size_t i = (static_cast<std::size_t>(z) * ny + y) * nx + x;
        u += lattice.ux[i] / lattice.rou[i];
      }
    u /= nx * nz;
    const double exact = U * std::erfc(d / diffusionLength);
    worst = std::max(worst, std::fabs(u - exact) / U);
    EXPECT_NEAR(u, exact, 0.05 * U) << "y - y0 = " << d;
  }
  std::printf("Stokes first problem: largest profile error %.2f %% of U\n", 100 * worst);
}

}  // namespace
