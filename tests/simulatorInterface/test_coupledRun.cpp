// A fish with a welded root in a flow that velocity nodes on the inlet face drive along -x: a few hundred
// two-way coupled steps, after which the fish feels a drag along the flow and nothing is NaN.
#include <cmath>

#include "MeshLoad/Sampler/IBSamplerMesh.h"
#include "simFixture.h"

namespace {

using namespace simtest;

TEST(coupledRun, WeldedFishFeelsTheDragOfAnInletFlow) {
  dz::device::setHostThreads(1);
  auto world = std::make_shared<skWorld>(Vector3d::Zero());
  const auto body = fish(jointType::fixed, 300);
  world->addSkeleton(body);
  // x from -0.3 to 0.25 around the fish (x from -0.25 to 0.2), spacing 1/80 m, lattice viscosity 0.02.
  auto p = box(0.55f, 0.3f, 0.2f, 80);
  p->x0 = -0.025f;
  p->visp = 0.0025f;
  const auto sim = committed(world, p);
  const mlFlow& l = *sim->lattices[0];
  const int ny = l.param->samples[1], nz = l.param->samples[2];
  Eigen::MatrixXd inlet(ny * nz, 3), velocity = Eigen::RowVector3d(-0.05, 0, 0).replicate(ny * nz, 1);
  for (int k = 0; k < nz; ++k)
    for (int j = 0; j < ny; ++j)
      inlet.row(k * ny + j) << l.start[0] + l.param->width, l.start[1] + (j + 0.5) * l.param->dx,
          l.start[2] + (k + 0.5) * l.param->dx;
  sim->set_velocity_all(inlet, velocity);
  for (int step = 0; step < 300; ++step) sim->step(TWO_WAY);
  dz::device::setHostThreads(0);

  sim->saveScene(0, 0);
  for (std::size_t i = 0; i < l.count; ++i)
    ASSERT_TRUE(std::isfinite(l.ux[i]) && std::isfinite(l.uy[i]) && std::isfinite(l.uz[i]) && std::isfinite(l.rou[i]))
        << i;
  body->sampler->memMgr.download();
  const mlLagrangeBoundary& points = *body->sampler->boundary;
  Vector3d drag = Vector3d::Zero();  // the points hold the force on the fluid; the fish feels the opposite
  for (int i = 0; i < points.count; ++i) drag -= Vector3d(points.forcex[i], points.forcey[i], points.forcez[i]);
  ASSERT_TRUE(drag.allFinite());
  EXPECT_LT(drag.x(), 0);
  EXPECT_GT(std::abs(drag.x()), 3 * std::abs(drag.y()));
  EXPECT_GT(std::abs(drag.x()), 3 * std::abs(drag.z()));
}

}  // namespace
