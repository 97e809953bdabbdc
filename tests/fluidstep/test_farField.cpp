// A box that follows a moving body keeps the water far from it at rest in the world: a sphere of
// Lagrangian points towed at a steady speed, its box following it, leaves the box's mass, its mean world
// velocity and the world velocity at its faces unchanged, and meets a steady drag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numeric>
#include <vector>

#include "duriz/mlsolver/couplingMode.h"
#include "simulatorInterface/FluidHelper.h"
#include "stepFixture.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

// Tows the frame (and the points, which stay at its origin) along x, ramping the speed up from rest.
class Tow : public step_test::RecordingCouplingSolver {
 public:
  double speed = 0, ramp = 1, t = 0;
  double drag = 0;  // N, along x
  mlLagrangeBoundary* points = nullptr;
  IBBoundaryMemMgr* mirror = nullptr;
  std::vector<float> offsetX;  // of each point from the frame along x

  void step(int mode, float dt, float forceScale) override {
    RecordingCouplingSolver::step(mode, dt, forceScale);
    mirror->download();  // the forces of this step, before the new positions go up
    double sum = 0;
    for (int k = 0; k < points->count; ++k) sum += points->forcex[k];
    drag = sum * points->area * forceScale;  // the sphere pushes the fluid along as the fluid holds it back
    const double x = frame.getWorldTransform().translation().x() + velocity() * dt;
    t += dt;
    frame.setTranslation(Eigen::Vector3d(x, 0, 0));
    frame.setClassicDerivatives(Eigen::Vector3d(velocity(), 0, 0), Eigen::Vector3d::Zero(),
                                Eigen::Vector3d(t < ramp ? speed / ramp : 0.0, 0, 0));
    for (int k = 0; k < points->count; ++k) points->coordx[k] = static_cast<float>(x) + offsetX[k];
    mirror->upload();
  }
  double velocity() const { return speed * std::min(1.0, t / ramp); }
};

struct BoxState {
  double mass;        // mean density
  double world[3];    // mass-weighted mean world velocity, m/s
  double face[6][3];  // mean world velocity of each boundary plane, m/s
};

TEST(FarField, TowedSphereLeavesTheWaterAtRestInTheWorld) {
  // Units: dx = 0.02 m, tp = 2 ms, lattice viscosity 0.02; a sphere of diameter 0.2 m (10 nodes) towed
  // at 0.2 m/s (lattice 0.02) at a Reynolds number of 10, its speed ramped up over 1 s (500 steps).
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->l0p = 0.2f;
  p->N = 10;
  p->u0p = 1;
  p->u0k = 0.1f;
  p->visp = 4e-3f;
  p->rou0p = 1000;
  p->width = 0.94f;   // 48 nodes
  p->height = 0.62f;  // 32 nodes
  p->depth = 0.62f;
  step_test::CommittedSolver c({p});
  auto tow = std::make_shared<Tow>();
  tow->inertial = false;
  tow->speed = 0.2;
  tow->ramp = 1.0;
  c.coupling = tow;
  c.solver.couplingSolver = tow;
  const mlFlow& l = *c.lattices[0];
  const int nx = l.param->samples[0], ny = l.param->samples[1], nz = l.param->samples[2];
  const double scale = p->u0p / p->u0k;  // lattice to physical velocity

  const int n = 800;
  const double R = 0.1;
  auto sphere = std::make_unique<mlLagrangeBoundary>(n, static_cast<float>(4 * kPi * R * R / n));
  for (int k = 0; k < n; ++k) {
    const double z = 1 - (2 * k + 1.0) / n, r = std::sqrt(1 - z * z), phi = k * kPi * (3 - std::sqrt(5.0));
    const float xyz[3] = {static_cast<float>(r * std::cos(phi)), static_cast<float>(r * std::sin(phi)),
                          static_cast<float>(z)};
    tow->offsetX.push_back(static_cast<float>(R) * xyz[0]);
    sphere->coordx[k] = tow->offsetX[k];
    sphere->coordy[k] = static_cast<float>(R) * xyz[1];
    sphere->coordz[k] = static_cast<float>(R) * xyz[2];
    sphere->normalx[k] = xyz[0];
    sphere->normaly[k] = xyz[1];
    sphere->normalz[k] = xyz[2];
  }
  tow->points = sphere.get();
  tow->mirror = &c.addPoints(std::move(sphere));

  auto state = [&] {
    FluidHelper::download(c.solver, 0);
    BoxState s{};
    double rho = 0, m[3] = {0, 0, 0};
    double faceRho[6] = {}, faceM[6][3] = {};
    for (int z = 0; z < nz; ++z)
      for (int y = 0; y < ny; ++y)
        for (int x = 0; x < nx; ++x) {
          const std::size_t i = (static_cast<std::size_t>(z) * ny + y) * nx + x;
          const double r = l.rou[i], u[3] = {l.ux[i], l.uy[i], l.uz[i]};
          rho += r;
          for (int a = 0; a < 3; ++a) m[a] += u[a];
          const int pos[3] = {x, y, z}, size[3] = {nx, ny, nz};
          for (int a = 0; a < 3; ++a)
            for (int side = 0; side < 2; ++side)
              if (pos[a] == (side ? size[a] - 1 : 0)) {
                faceRho[2 * a + side] += r;
                for (int b = 0; b < 3; ++b) faceM[2 * a + side][b] += u[b];
              }
        }
    s.mass = rho / l.count;
    const double frame[3] = {tow->velocity(), 0, 0};
    for (int a = 0; a < 3; ++a) s.world[a] = m[a] / rho * scale + frame[a];
    for (int f = 0; f < 6; ++f)
      for (int a = 0; a < 3; ++a) s.face[f][a] = faceM[f][a] / faceRho[f] * scale + frame[a];
    return s;
  };

  // 8 s, nearly twice the time the water takes to cross the box: by the second half the wake of the start
  // has left it. Faces that copied their neighbours let the box gain 0.2 % of its mass over that half and
  // carry the water along at 0.09 m/s.
  const int steps = 4000;
  std::vector<double> drag;
  BoxState half{};
  for (int t = 1; t <= steps; ++t) {
    c.solver.solverStep(TWO_WAY);
    drag.push_back(tow->drag);
    if (t == steps / 2) half = state();
  }
  const BoxState end = state();
  // The drag averaged over the third and the last quarter (each two periods of the box's acoustic ringing
  // between its inflow and outflow planes, about 400 steps).
  auto mean = [&](int from, int to) { return std::accumulate(&drag[from], &drag[to], 0.0) / (to - from); };
  const double third = mean(steps / 2, 3 * steps / 4), last = mean(3 * steps / 4, steps);
  double faceMax = 0;
  for (auto& f : end.face) faceMax = std::max(faceMax, std::sqrt(f[0] * f[0] + f[1] * f[1] + f[2] * f[2]));
  std::printf(
      "towed sphere: mass %+.2e (%+.2e over the second half), world velocity %.4f m/s, faces <= %.4f m/s, "
      "drag %.4f N then %.4f N\n",
      end.mass - 1, end.mass - half.mass, std::hypot(end.world[0], end.world[1], end.world[2]), faceMax, third, last);
  // The box holds the pressure that drives the water past the sphere (its drag over the box's section, a
  // mean density excess of about 3e-4); beyond that, no drift.
  EXPECT_LT(std::fabs(end.mass - 1), 5e-4);
  EXPECT_LT(std::fabs(end.mass - half.mass), 5e-5);
  // 2.5 % of the tow speed: the water a sphere drags along (its added mass, half its volume, is 0.6 % of
  // the box's) moves the box's mean by less than 0.001 m/s.
  EXPECT_LT(std::hypot(end.world[0], end.world[1], end.world[2]), 0.005);
  EXPECT_LT(faceMax, 0.005);
  EXPECT_NEAR(last, third, 0.01 * third);
}

}  // namespace
