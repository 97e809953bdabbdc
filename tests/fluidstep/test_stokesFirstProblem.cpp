// Validation of the whole fluid step against Stokes' first problem: a plane of Lagrangian points set
// moving tangentially at speed U in a fluid at rest drags the fluid on either side with the profile
// u(y, t) = U erfc((|y - y0| - h) / (2 sqrt(nu t))).
//
// h is the half-thickness of the plate as the fluid sees it. The interpolation drives the delta-weighted
// velocity 0.5 u(y0) + 0.25 (u(y0 - 1) + u(y0 + 1)) to U, so the three lattice planes |y - y0| <= 1 move
// with the plate: h = 1 spacing for a plane of points on a lattice plane with the 4-point delta.
#include <gtest/gtest.h>

#include <algorithm>
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
  p->width = 0.395f;   // 40 nodes
  p->height = 0.795f;  // 80 nodes
  p->depth = 0.395f;
  step_test::CommittedSolver c({p});
  const mlFlow& lattice = *c.lattices[0];
  const int nx = lattice.param->samples[0], ny = lattice.param->samples[1], nz = lattice.param->samples[2];
  ASSERT_EQ(nx, 40);
  ASSERT_EQ(ny, 80);
  const float dx = lattice.param->dx;
  const double nu = lattice.viscosity;
  ASSERT_NEAR(nu, 0.1, 1e-6);

  // The plate: one point per node column of the plane y = y0, each standing for dx^2, moving along x at
  // U. It stays `margin` nodes clear of the open x and z faces, whose zero-gradient rule would otherwise
  // cut the interpolation and spreading stencils of its edge points.
  const int y0 = ny / 2, margin = 4;
  const double U = 0.05;
  const int side = nx - 2 * margin;
  auto plate = std::make_unique<mlLagrangeBoundary>(side * side, dx * dx);
  for (int j = 0, k = 0; j < side; ++j)
    for (int i = 0; i < side; ++i, ++k) {
      plate->coordx[k] = lattice.start[0] + (margin + i) * dx;
      plate->coordy[k] = lattice.start[1] + y0 * dx;
      plate->coordz[k] = lattice.start[2] + (margin + j) * dx;
      plate->normaly[k] = 1.0f;
      plate->ux[k] = static_cast<float>(U * p->u0p / p->u0k);
    }
  c.addPoints(std::move(plate));

  const int steps = 400;
  for (int t = 0; t < steps; ++t) c.solver.solverStep(TWO_WAY);
  FluidHelper::download(c.solver, 0);

  // Away from the plate edges (the centre 4 x 4 columns, farther from the edges than the diffusion
  // length), the velocity follows the analytic profile.
  const double diffusionLength = 2.0 * std::sqrt(nu * steps);
  const double h = 1.0;
  double worst = 0;
  for (int y = 0; y < ny; ++y) {
    const int d = std::abs(y - y0);
    if (d > 36) continue;
    double u = 0;
    for (int z = nz / 2 - 2; z < nz / 2 + 2; ++z)
      for (int x = nx / 2 - 2; x < nx / 2 + 2; ++x) {
        const std::size_t i = (static_cast<std::size_t>(z) * ny + y) * nx + x;
        u += lattice.ux[i] / lattice.rou[i];
      }
    u /= 16;
    const double exact = d <= h ? U : U * std::erfc((d - h) / diffusionLength);
    worst = std::max(worst, std::fabs(u - exact) / U);
    EXPECT_NEAR(u, exact, 0.05 * U) << "y - y0 = " << y - y0;
  }
  std::printf("Stokes first problem: largest profile error %.2f %% of U\n", 100 * worst);
}

}  // namespace
