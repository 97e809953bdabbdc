// The bounce-back family on small boxes: launches, the face density rule, a fluid at rest, mass in a closed
// box, and the merged kernel against the separate ones.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <functional>
#include <vector>

#include "duriz/gpu_inc/gpu/mlBndCondition.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "gpuLattice.h"
#include "launchLog.h"

// Kernels of the family that are reached here without the wrapper.
__global__ void mlBndConditionKernel(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlBndConditionOtherKernel(mlFlow* flow, int nx, int ny, int nz, int count);

namespace {

using gputest::GpuLattice;

// Box faces flagged as the reset flags them: x faces first, then z, then y, each replacing the earlier
// flag; with `solid` every box face node is a solid node instead.
MLLATTICENODE_FLAG boxFlag(const GpuLattice& l, int x, int y, int z, bool solid) {
  MLLATTICENODE_FLAG f = NODE_FLUID;
  if (x == 0) f = NODE_LEFT;
  if (x == l.nx() - 1) f = NODE_RIGHT;
  if (z == 0) f = NODE_FORWARD;
  if (z == l.nz() - 1) f = NODE_BACK;
  if (y == 0) f = NODE_DOWN;
  if (y == l.ny() - 1) f = NODE_UP;
  return solid && f != NODE_FLUID ? NODE_SOLID : f;
}

// Every node at the equilibrium of (rho, u) = state(x, y, z) in f and fPost, u stored as the velocity.
using State = std::function<std::array<float, 4>(int, int, int)>;
void setState(GpuLattice& l, const State& state) {
  for (int z = 0; z < l.nz(); ++z)
    for (int y = 0; y < l.ny(); ++y)
      for (int x = 0; x < l.nx(); ++x) {
        const std::size_t i = l.index(x, y, z);
        const auto s = state(x, y, z);
        l.host->rou[i] = s[0];
        l.host->ux[i] = s[1];
        l.host->uy[i] = s[2];
        l.host->uz[i] = s[3];
        for (int q = 0; q < 27; ++q)
          l.f(q, i) = l.host->fPost[q * l.count() + i] = d3q27::equilibrium(q, s[0], s[1], s[2], s[3]);
      }
}

// One step of a closed box: fluid velocities from the moments, walls held at rest; then collision, walls,
// streaming, moments.
void closedBoxStep(GpuLattice& l) {
  l.download();
  for (std::size_t i = 0; i < l.count(); ++i) {
    const float scale = l.host->flag[i] == NODE_FLUID ? 1.0f / l.host->rou[i] : 0.0f;
    l.host->ux[i] *= scale;
    l.host->uy[i] *= scale;
    l.host->uz[i] *= scale;
  }
  l.upload();
  mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
  mlBndConditionGpu(l.dev, l.param());
  mlCuStream3dOptGpu(l.dev, l.param());
  mlCalOneOrderMomentOptGpu(l.dev, l.param());
}

double fluidMass(const GpuLattice& l) {
  double m = 0;
  for (std::size_t i = 0; i < l.count(); ++i)
    if (l.host->flag[i] == NODE_FLUID) m += l.host->rou[i];
  return m;
}

// Many steps run on one CPU thread: these lattices are a few blocks, and test programs run side by side.
class BndCondition : public ::testing::Test {
 protected:
  void SetUp() override { dz::device::setHostThreads(1); }
  void TearDown() override { dz::device::setHostThreads(0); }
};

TEST_F(BndCondition, LaunchesItsEightKernelsInOrder) {
  GpuLattice l(10, 9, 17);
  l.upload();
  const std::vector<std::string> expected = {
      "mlBndConditionKernel grid 1 3 17 block 32 4 1",
      "mlCuBoundaryCondition_Solid_Kernel grid 2 2 3 block 8 8 8",
      "mlCuBoundaryCondition_Left_Kernel grid 1 2 3 block 1 8 8",
      "mlCuBoundaryCondition_Right_Kernel grid 1 2 3 block 1 8 8",
      "mlCuBoundaryCondition_Forward_Kernel grid 2 2 1 block 8 8 1",
      "mlCuBoundaryCondition_Back_Kernel grid 2 2 1 block 8 8 1",
      "mlCuBoundaryCondition_Up_Kernel grid 2 1 3 block 8 1 8",
      "mlCuBoundaryCondition_Down_Kernel grid 2 1 3 block 8 1 8",
  };
  EXPECT_EQ(gputest::launchesOf([&] { mlBndConditionGpu(l.dev, l.param()); }), expected);
}

// Known populations of an equilibrium of density rho and velocity u: sum_{c_n = 0} f + 2 sum_{c_n = side} f
// = rho (1 + side u_n), so the rule gives back rho on every face whatever u_n, and the rebuild of an
// equilibrium is that equilibrium.
TEST_F(BndCondition, FaceDensityRecoversAnEquilibriumWithNormalVelocityOnEveryFace) {
  const float rho = 1.03f;
  const float velocities[][3] = {{0.1f, 0, 0}, {0, -0.08f, 0}, {0, 0, 0.05f}, {-0.06f, 0.04f, 0.03f}};
  for (const auto& u : velocities) {
    GpuLattice l(6, 5, 7);
    setState(l, [&](int, int, int) { return std::array<float, 4>{rho, u[0], u[1], u[2]}; });
    for (int z = 0; z < l.nz(); ++z)
      for (int y = 0; y < l.ny(); ++y)
        for (int x = 0; x < l.nx(); ++x) l.host->flag[l.index(x, y, z)] = boxFlag(l, x, y, z, false);
    for (std::size_t i = 0; i < l.count(); ++i) l.host->rou[i] = -1;  // marks what the kernels write
    const std::vector<float> before(l.host->fPost, l.host->fPost + 27 * l.count());
    l.upload();
    mlBndConditionGpu(l.dev, l.param());
    l.download();
    int faceNodes = 0;
    for (std::size_t i = 0; i < l.count(); ++i) {
      if (l.host->flag[i] == NODE_FLUID) continue;
      ++faceNodes;
      ASSERT_NEAR(l.host->rou[i], rho, 2e-6)
          << "node " << i << " flag " << l.host->flag[i] << " u " << u[0] << " " << u[1] << " " << u[2];
      for (int q = 0; q < 27; ++q) ASSERT_NEAR(l.host->fPost[q * l.count() + i], before[q * l.count() + i], 1e-6);
    }
    EXPECT_EQ(faceNodes, 6 * 5 * 7 - 4 * 3 * 5);
  }
}

// Each step rounds the populations (a few 1e-6 on a node's density, bounded); no flow builds up.
TEST_F(BndCondition, AFluidAtRestStaysAtRest) {
  for (bool solid : {false, true}) {
    GpuLattice l(6, 6, 6);
    for (int z = 0; z < l.nz(); ++z)
      for (int y = 0; y < l.ny(); ++y)
        for (int x = 0; x < l.nx(); ++x) l.host->flag[l.index(x, y, z)] = boxFlag(l, x, y, z, solid);
    l.host->flag[l.index(2, 3, 2)] = NODE_SOLID;  // an obstacle inside
    l.upload();
    for (int t = 0; t < 50; ++t) closedBoxStep(l);
    l.download();
    for (std::size_t i = 0; i < l.count(); ++i) {
      if (l.host->flag[i] != NODE_FLUID) continue;
      ASSERT_NEAR(l.host->rou[i], 1.0f, 1e-5) << i;
      for (int q = 0; q < 27; ++q) ASSERT_NEAR(l.f(q, i), d3q27::w[q], 3e-6) << i << " q " << q;
    }
  }
}

// Fluid in a shear state f = w (1 + 9 c_x c_y Pi_xy) next to a wall at x = 0 whose own populations are at
// rest: the wall rebuilds what it sends into the fluid from what arrived, so it sends back that shear.
TEST_F(BndCondition, AWallSendsBackTheShearStressThatReachesIt) {
  const float Pxy = 0.01f;
  for (MLLATTICENODE_FLAG wall : {NODE_SOLID, NODE_LEFT}) {
    GpuLattice l(4, 5, 5);
    for (int z = 0; z < l.nz(); ++z)
      for (int y = 0; y < l.ny(); ++y)
        for (int x = 0; x < l.nx(); ++x) {
          const std::size_t i = l.index(x, y, z);
          l.host->flag[i] = x == 0 ? wall : NODE_FLUID;
          for (int q = 0; q < 27; ++q)
            l.host->fPost[q * l.count() + i] = d3q27::w[q] * (1 + (x > 0) * 9 * d3q27::ex[q] * d3q27::ey[q] * Pxy);
        }
    l.upload();
    mlBndConditionGpu(l.dev, l.param());
    l.download();
    for (int z = 1; z < 4; ++z)
      for (int y = 1; y < 4; ++y)
        for (int q = 0; q < 27; ++q) {
          if (d3q27::ex[q] != 1) continue;
          const float sent = l.host->fPost[q * l.count() + l.index(0, y, z)];
          EXPECT_NEAR(sent, d3q27::w[q] * (1 + 9 * d3q27::ey[q] * Pxy), 1e-7) << wall << " " << y << z << " q " << q;
        }
  }
}

// A density bump and a sheared flow slosh in a box closed by face walls or by solid walls (with a solid
// obstacle inside): the walls give back to the fluid the mass that reaches them, so the fluid mass changes
// only by float rounding. Four threads give the same bits as one.
TEST_F(BndCondition, MassInAClosedBoxIsConserved) {
  const int steps = 300, compared = 30;
  for (bool solid : {false, true}) {
    std::vector<float> states[2];
    for (int threads : {1, 4}) {
      dz::device::setHostThreads(threads);
      GpuLattice l(8, 7, 8, 0.02f);
      setState(l, [&](int x, int y, int z) {
        const float bump = 0.02f * std::exp(-0.5f * ((x - 3) * (x - 3) + (y - 3) * (y - 3) + (z - 4) * (z - 4)));
        const bool wall = boxFlag(l, x, y, z, solid) != NODE_FLUID;
        return std::array<float, 4>{1 + bump, wall ? 0 : 0.03f * (y > 3 ? 1 : -1), wall ? 0 : 0.01f, 0};
      });
      for (int z = 0; z < l.nz(); ++z)
        for (int y = 0; y < l.ny(); ++y)
          for (int x = 0; x < l.nx(); ++x) l.host->flag[l.index(x, y, z)] = boxFlag(l, x, y, z, solid);
      l.host->flag[l.index(4, 2, 3)] = l.host->flag[l.index(4, 2, 4)] = NODE_SOLID;
      const double m0 = fluidMass(l);
      l.upload();
      double worst = 0;
      for (int t = 1; t <= (threads == 1 ? steps : compared); ++t) {
        closedBoxStep(l);
        l.download();
        worst = std::fmax(worst, std::fabs(fluidMass(l) / m0 - 1));
        if (t == compared) states[threads == 4].assign(l.host->f, l.host->f + 27 * l.count());
      }
      if (threads == 1) {
        std::printf("%s walls: largest relative change of the fluid mass in %d steps %.2e\n", solid ? "solid" : "face",
                    steps, worst);
        EXPECT_LT(worst, 2e-6);
      }
    }
    EXPECT_TRUE(states[0] == states[1]);
  }
}

// The merged kernel rebuilds solid and face nodes as the solid and face kernels do.
TEST_F(BndCondition, MergedKernelMatchesTheSeparateKernels) {
  std::vector<float> results[2];
  for (bool merged : {false, true}) {
    GpuLattice l(9, 7, 6);
    setState(l, [](int x, int y, int z) {
      return std::array<float, 4>{1 + 0.01f * x, 0.02f * std::sin(1.0f * y), 0.01f * z, -0.01f};
    });
    for (int z = 0; z < l.nz(); ++z)
      for (int y = 0; y < l.ny(); ++y)
        for (int x = 0; x < l.nx(); ++x) {
          const std::size_t i = l.index(x, y, z);
          l.host->flag[i] = boxFlag(l, x, y, z, false);
          for (int q = 0; q < 27; ++q) l.host->fPost[q * l.count() + i] *= 1 + 0.03f * ((i * 5 + q * 7) % 9) / 9;
        }
    for (int x : {3, 4}) l.host->flag[l.index(x, 3, 2)] = NODE_SOLID;
    l.upload();
    if (merged) {
      const int nx = l.nx(), ny = l.ny(), nz = l.nz(), n = static_cast<int>(l.count());
      DZ_LAUNCH(mlBndConditionKernel, dim3(1, 2, nz), dim3(32, 4, 1), l.dev, nx, ny, nz, n);
      DZ_LAUNCH(mlBndConditionOtherKernel, dim3(2, 1, 1), dim3(8, 8, 8), l.dev, nx, ny, nz, n);
      checkCudaLaunch();
    } else {
      mlBndConditionGpu(l.dev, l.param());
    }
    l.download();
    results[merged].assign(l.host->fPost, l.host->fPost + 27 * l.count());
    for (std::size_t i = 0; i < l.count(); ++i) results[merged].push_back(l.host->rou[i]);
  }
  ASSERT_EQ(results[0].size(), results[1].size());
  for (std::size_t k = 0; k < results[0].size(); ++k) ASSERT_FLOAT_EQ(results[0][k], results[1][k]) << k;
}

}  // namespace
