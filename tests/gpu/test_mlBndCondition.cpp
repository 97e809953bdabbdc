// The bounce-back family on small boxes: launches, the face density rule, closed boxes, the shear stress a
// wall sends back, and the merged kernel against the separate ones.
#include <gtest/gtest.h>

#include <array>
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

// Kernels of the family reached here without the wrapper.
__global__ void mlBndConditionKernel(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlBndConditionOtherKernel(mlFlow* flow, int nx, int ny, int nz, int count);

namespace {

using gputest::GpuLattice;

// Box faces flagged as the reset flags them (x faces, then z, then y, each replacing the earlier flag), or
// all solid; fluid inside.
void flagBox(GpuLattice& l, bool solid) {
  for (int z = 0; z < l.nz(); ++z)
    for (int y = 0; y < l.ny(); ++y)
      for (int x = 0; x < l.nx(); ++x) {
        MLLATTICENODE_FLAG f = NODE_FLUID;
        if (x == 0 || x == l.nx() - 1) f = x == 0 ? NODE_LEFT : NODE_RIGHT;
        if (z == 0 || z == l.nz() - 1) f = z == 0 ? NODE_FORWARD : NODE_BACK;
        if (y == 0 || y == l.ny() - 1) f = y == 0 ? NODE_DOWN : NODE_UP;
        l.host->flag[l.index(x, y, z)] = solid && f != NODE_FLUID ? NODE_SOLID : f;
      }
}

// Every node at the equilibrium of (rho, u) = state(x, y, z) in f and fPost, u stored as the velocity.
void setState(GpuLattice& l, const std::function<std::array<float, 4>(int, int, int)>& state) {
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
// streaming, moments. Leaves the host copy current.
void closedBoxStep(GpuLattice& l) {
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
  l.download();
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
  EXPECT_EQ(gputest::launchesOf([&] { mlBndConditionGpu(l.dev, l.param()); }),
            std::vector<std::string>({"mlBndConditionKernel grid 1 3 17 block 32 4 1",
                                      "mlCuBoundaryCondition_Solid_Kernel grid 2 2 3 block 8 8 8",
                                      "mlCuBoundaryCondition_Left_Kernel grid 1 2 3 block 1 8 8",
                                      "mlCuBoundaryCondition_Right_Kernel grid 1 2 3 block 1 8 8",
                                      "mlCuBoundaryCondition_Forward_Kernel grid 2 2 1 block 8 8 1",
                                      "mlCuBoundaryCondition_Back_Kernel grid 2 2 1 block 8 8 1",
                                      "mlCuBoundaryCondition_Up_Kernel grid 2 1 3 block 8 1 8",
                                      "mlCuBoundaryCondition_Down_Kernel grid 2 1 3 block 8 1 8"}));
}

// An equilibrium of density rho and velocity u has sum_{c_n = 0} f + 2 sum_{c_n = side} f = rho (1 + side
// u_n) on a face of outward side `side`: the rule gives back rho whatever u_n, and the rebuild of an
// equilibrium is that equilibrium.
TEST_F(BndCondition, FaceDensityRecoversAnEquilibriumWithNormalVelocityOnEveryFace) {
  const float rho = 1.03f;
  for (const auto& u : {std::array<float, 3>{0.1f, 0, 0}, {0, -0.08f, 0}, {0, 0, 0.05f}, {-0.06f, 0.04f, 0.03f}}) {
    GpuLattice l(6, 5, 7);
    setState(l, [&](int, int, int) { return std::array<float, 4>{rho, u[0], u[1], u[2]}; });
    flagBox(l, false);
    for (std::size_t i = 0; i < l.count(); ++i) l.host->rou[i] = -1;  // marks what the kernels write
    const std::vector<float> before(l.host->fPost, l.host->fPost + 27 * l.count());
    l.upload();
    mlBndConditionGpu(l.dev, l.param());
    l.download();
    for (std::size_t i = 0; i < l.count(); ++i) {
      if (l.host->flag[i] == NODE_FLUID) continue;
      ASSERT_NEAR(l.host->rou[i], rho, 2e-6) << "node " << i << " flag " << l.host->flag[i] << " u_x " << u[0];
      for (int q = 0; q < 27; ++q) ASSERT_NEAR(l.host->fPost[q * l.count() + i], before[q * l.count() + i], 1e-6);
    }
  }
}

// Boxes closed by face walls or by solid walls, with a solid obstacle inside. At rest the fluid stays at
// rest: the collision rounds every node's density alike, by a few 1e-6, and no flow builds up. A density
// bump and a sheared flow slosh: the walls give back the mass that reaches them, so the fluid mass changes
// only by rounding (a few 1e-7). Two threads give the same bits as one.
TEST_F(BndCondition, ClosedBoxesKeepRestAndMass) {
  for (bool solid : {false, true})
    for (bool rest : {true, false}) {
      const char* walls = solid ? "solid" : "face";
      std::vector<float> states[2];
      for (int threads = 1; threads <= (rest ? 1 : 2); ++threads) {
        dz::device::setHostThreads(threads);
        GpuLattice l(8, 7, 8, 0.02f);
        flagBox(l, solid);
        setState(l, [&](int x, int y, int z) {
          const float bump = 0.02f * std::exp(-0.5f * ((x - 3) * (x - 3) + (y - 3) * (y - 3) + (z - 4) * (z - 4)));
          const float u = rest || l.host->flag[l.index(x, y, z)] != NODE_FLUID ? 0 : 0.03f * (y > 3 ? 1 : -1);
          return std::array<float, 4>{rest ? 1 : 1 + bump, u, u / 3, 0};
        });
        l.host->flag[l.index(4, 2, 3)] = l.host->flag[l.index(4, 2, 4)] = NODE_SOLID;
        const double m0 = fluidMass(l);
        double worst = 0;
        for (int t = 1; t <= (threads == 1 ? 300 : 10); ++t) {
          closedBoxStep(l);
          worst = std::fmax(worst, std::fabs(fluidMass(l) / m0 - 1));
          if (t == 10) states[threads - 1].assign(l.host->f, l.host->f + 27 * l.count());
        }
        EXPECT_LT(worst, 1e-5) << walls << " walls";
        if (!rest && threads == 1)
          std::printf("%s walls: largest relative change of the fluid mass in 300 steps %.2e\n", walls, worst);
        for (std::size_t i = 0; i < l.count(); ++i)
          for (int q = 0; rest && q < 27 && l.host->flag[i] == NODE_FLUID; ++q)
            ASSERT_NEAR(l.f(q, i), d3q27::w[q], 3e-6) << walls << " walls, node " << i;
      }
      EXPECT_TRUE(rest || states[0] == states[1]) << walls << " walls";
    }
}

// Fluid in a shear state f = w (1 + 9 c_x c_y Pi_xy) next to a wall at x = 0 whose own populations are at
// rest: the wall rebuilds what it sends into the fluid from what arrived, so it sends back that shear.
TEST_F(BndCondition, AWallSendsBackTheShearStressThatReachesIt) {
  const float Pxy = 0.01f;
  for (MLLATTICENODE_FLAG wall : {NODE_SOLID, NODE_LEFT}) {
    GpuLattice l(4, 5, 5);
    for (std::size_t i = 0; i < l.count(); ++i) {
      const bool fluid = i % 4 != 0;
      l.host->flag[i] = fluid ? NODE_FLUID : wall;
      for (int q = 0; q < 27; ++q)
        l.host->fPost[q * l.count() + i] = d3q27::w[q] * (1 + fluid * 9 * d3q27::ex[q] * d3q27::ey[q] * Pxy);
    }
    l.upload();
    mlBndConditionGpu(l.dev, l.param());
    l.download();
    for (int z = 1; z < 4; ++z)
      for (int y = 1; y < 4; ++y)
        for (int q = 0; q < 27; ++q)
          if (d3q27::ex[q] == 1) {
            const float sent = l.host->fPost[q * l.count() + l.index(0, y, z)];
            EXPECT_NEAR(sent, d3q27::w[q] * (1 + 9 * d3q27::ey[q] * Pxy), 1e-7) << wall << " " << y << z << " q " << q;
          }
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
    flagBox(l, false);
    for (std::size_t i = 0; i < 27 * l.count(); ++i) l.host->fPost[i] *= 1 + 0.03f * (i % 7) / 7;
    for (int x : {3, 4}) l.host->flag[l.index(x, 3, 2)] = NODE_SOLID;
    l.upload();
    const int nx = l.nx(), ny = l.ny(), nz = l.nz(), n = static_cast<int>(l.count());
    if (merged) {
      DZ_LAUNCH(mlBndConditionKernel, dim3(1, 2, nz), dim3(32, 4, 1), l.dev, nx, ny, nz, n);
      DZ_LAUNCH(mlBndConditionOtherKernel, dim3(2, 1, 1), dim3(8, 8, 8), l.dev, nx, ny, nz, n);
      checkCudaLaunch();
    } else {
      mlBndConditionGpu(l.dev, l.param());
    }
    l.download();
    results[merged].assign(l.host->fPost, l.host->fPost + 27 * l.count());
    results[merged].insert(results[merged].end(), l.host->rou, l.host->rou + l.count());
  }
  EXPECT_TRUE(results[0] == results[1]);
}

}  // namespace
