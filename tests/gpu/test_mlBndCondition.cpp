// The wall family on small boxes: the bounce-back kernels (the face density rule, closed boxes, the shear
// stress a wall sends back, the merged kernel) and the Zou-He faces.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <vector>

#include "duriz/gpu_inc/gpu/mlBndCondition.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/gpu_inc/gpu/mlZouHeBndCondition.h"
#include "gpuLattice.h"

// Kernels reached here without their wrapper.
__global__ void mlBndConditionKernel(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlBndConditionOtherKernel(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Down_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Up_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count);

namespace {

using gputest::GpuLattice;
using gputest::setEquilibrium;
using Node = std::array<float, 4>;  // rho, u

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

double fluidMass(const GpuLattice& l) {
  double m = 0;
  for (std::size_t i = 0; i < l.count(); ++i)
    if (l.host->flag[i] == NODE_FLUID) m += l.host->rou[i];
  return m;
}

using BndCondition = gputest::OneThread;

// An equilibrium of density rho and velocity u has sum_{c_n = 0} f + 2 sum_{c_n = side} f = rho (1 + side
// u_n) on a face of outward side `side`: the rule gives back rho whatever u_n, and the rebuild of an
// equilibrium is that equilibrium. The merged kernels (fluid nodes, then solid and face nodes) give the
// same bits, also around a solid obstacle.
TEST_F(BndCondition, FaceDensityRecoversAnEquilibriumWithNormalVelocityOnEveryFace) {
  const float rho = 1.03f;
  for (const auto& u : {std::array<float, 3>{0.1f, 0, 0}, {0, -0.08f, 0}, {0, 0, 0.05f}, {-0.06f, 0.04f, 0.03f}}) {
    std::vector<float> results[2];
    for (bool merged : {false, true}) {
      GpuLattice l(6, 5, 7);
      setEquilibrium(l, [&](int, int, int) { return Node{rho, u[0], u[1], u[2]}; });
      flagBox(l, false);
      std::fill(l.host->rou, l.host->rou + l.count(), -1.0f);  // marks what the kernels write
      const std::vector<float> before(l.host->fPost, l.host->fPost + 27 * l.count());
      l.host->flag[l.index(3, 2, 3)] = NODE_SOLID;
      l.upload();
      const int nx = l.nx(), ny = l.ny(), nz = l.nz(), n = static_cast<int>(l.count());
      if (merged) {
        DZ_LAUNCH(mlBndConditionKernel, dim3(1, 2, nz), dim3(32, 4, 1), l.dev, nx, ny, nz, n);
        DZ_LAUNCH(mlBndConditionOtherKernel, dim3(1, 1, 1), dim3(8, 8, 8), l.dev, nx, ny, nz, n);
        checkCudaLaunch();
      } else {
        mlBndConditionGpu(l.dev, l.param());
      }
      l.download();
      for (std::size_t i = 0; i < l.count(); ++i) {
        if (l.host->flag[i] == NODE_FLUID || l.host->flag[i] == NODE_SOLID) continue;
        ASSERT_NEAR(l.host->rou[i], rho, 2e-6) << "node " << i << " flag " << l.host->flag[i] << " u_x " << u[0];
        for (int q = 0; q < 27; ++q) ASSERT_NEAR(l.post(q, i), before[q * l.count() + i], 1e-6);
      }
      results[merged].assign(l.host->fPost, l.host->fPost + 27 * l.count());
      results[merged].insert(results[merged].end(), l.host->rou, l.host->rou + l.count());
    }
    EXPECT_TRUE(results[0] == results[1]) << u[0];
  }
}

// Boxes closed by face walls or by solid walls, with a solid obstacle inside. At rest the fluid stays at
// rest: the collision rounds every node's density alike, by a few 1e-6, and no flow builds up. A density
// bump and a sheared flow slosh: the walls give back the mass that reaches them, so the fluid mass changes
// only by rounding (a few 1e-7). Two threads give the same bits as one.
TEST_F(BndCondition, ClosedBoxesKeepRestAndMass) {
  for (bool solid : {false, true})
    for (bool rest : {true, false}) {
      std::vector<float> states[2];
      for (int threads = 1; threads <= 2; ++threads) {
        dz::device::setHostThreads(threads);
        GpuLattice l(8, 7, 8, 0.02f);
        flagBox(l, solid);
        setEquilibrium(l, [&](int x, int y, int z) {
          const float bump = 0.02f * std::exp(-0.5f * ((x - 3) * (x - 3) + (y - 3) * (y - 3) + (z - 4) * (z - 4)));
          const float u = rest || l.host->flag[l.index(x, y, z)] != NODE_FLUID ? 0 : 0.03f * (y > 3 ? 1 : -1);
          return Node{rest ? 1 : 1 + bump, u, u / 3, 0};
        });
        l.host->flag[l.index(4, 2, 3)] = l.host->flag[l.index(4, 2, 4)] = NODE_SOLID;
        const double m0 = fluidMass(l);
        for (int t = 1; t <= (threads == 1 ? 200 : 10); ++t) {
          // Fluid velocities from the moments, walls held at rest; then collision, walls, streaming, moments.
          for (std::size_t i = 0; i < l.count(); ++i) {
            const float scale = l.host->flag[i] == NODE_FLUID ? 1.0f / l.host->rou[i] : 0.0f;
            l.host->ux[i] *= scale, l.host->uy[i] *= scale, l.host->uz[i] *= scale;
          }
          l.upload();
          mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
          mlBndConditionGpu(l.dev, l.param());
          mlCuStream3dOptGpu(l.dev, l.param());
          mlCalOneOrderMomentOptGpu(l.dev, l.param());
          l.download();
          ASSERT_LT(std::fabs(fluidMass(l) / m0 - 1), 1e-5) << solid << rest << " step " << t;
          if (t == 10) states[threads - 1].assign(l.host->f, l.host->f + 27 * l.count());
        }
        for (std::size_t i = 0; i < l.count(); ++i)
          for (int q = 0; rest && q < 27 && l.host->flag[i] == NODE_FLUID; ++q)
            ASSERT_NEAR(l.f(q, i), d3q27::w[q], 3e-6) << solid << ", node " << i;
      }
      EXPECT_TRUE(states[0] == states[1]) << solid << rest;
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
      for (int q = 0; q < 27; ++q) l.post(q, i) = d3q27::w[q] * (1 + fluid * 9 * d3q27::ex[q] * d3q27::ey[q] * Pxy);
    }
    l.upload();
    mlBndConditionGpu(l.dev, l.param());
    l.download();
    for (int z = 1; z < 4; ++z)
      for (int y = 1; y < 4; ++y)
        for (int q = 0; q < 27; ++q) {
          if (d3q27::ex[q] == 1) {
            EXPECT_NEAR(l.post(q, l.index(0, y, z)), d3q27::w[q] * (1 + 9 * d3q27::ey[q] * Pxy), 1e-7)
                << wall << " " << y << z << " q " << q;
          }
        }
  }
}

// Every node starts at the equilibrium of rho0 and u0. A face node of outward side s along axis a knows
// sum_{c_a = 0} f + 2 sum_{c_a = s} f = rho0 (1 + s u0_a), so its density is rho0 (1 + s u0_a) / (1 + s u_a)
// for the prescribed u: (0.2, 0, 0) at x = 0, rest on the other faces. The rebuilt populations carry that
// density and the momentum rho u. Only nodes with both in-plane coordinates in [10, n - 10] change.
TEST_F(BndCondition, ZouHeFacesSetVelocityAndDensityOnlyInsideTheMargin) {
  const int n = 22;
  const float rho0 = 1.1f, u0[3] = {0.05f, -0.03f, 0.02f};
  GpuLattice l(n, n, n);
  setEquilibrium(l, [&](int, int, int) { return Node{rho0, u0[0], u0[1], u0[2]}; });
  std::fill(l.host->rou, l.host->rou + l.count(), -1.0f);
  const std::vector<float> before(l.host->f, l.host->f + 27 * l.count());
  l.upload();
  mlZouHeBndConditionGpu(l.dev, l.param());  // the x and z faces; the y faces have their own kernels
  DZ_LAUNCH(mlCuBoundaryCondition_Down_KernelZouHe, dim3(3, 1, 3), dim3(8, 1, 8), l.dev, n, n, n, n * n * n);
  DZ_LAUNCH(mlCuBoundaryCondition_Up_KernelZouHe, dim3(3, 1, 3), dim3(8, 1, 8), l.dev, n, n, n, n * n * n);
  checkCudaLaunch();
  l.download();
  int set = 0;
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const int p[3] = {x, y, z};
        const std::size_t i = l.index(x, y, z);
        int axis = -1, inPlane = 0;
        for (int a = 0; a < 3; ++a) {
          if (p[a] == 0 || p[a] == n - 1) axis = a;
          inPlane += p[a] >= 10 && p[a] <= n - 10;
        }
        if (axis < 0 || inPlane != 2) {
          ASSERT_EQ(l.host->rou[i], -1.0f) << x << " " << y << " " << z;
          for (int q = 0; q < 27; ++q) ASSERT_EQ(l.f(q, i), before[q * l.count() + i]) << x << " " << y << " " << z;
          continue;
        }
        ++set;
        const int side = p[axis] == 0 ? -1 : 1;
        const float u[3] = {axis == 0 && side < 0 ? 0.2f : 0.0f, 0, 0};
        const double rho = rho0 * (1 + side * u0[axis]) / (1 + side * u[axis]);
        const auto m = gputest::nodeMoments(l, i);
        const float stored[3] = {l.host->ux[i], l.host->uy[i], l.host->uz[i]};
        ASSERT_NEAR(l.host->rou[i], rho, 2e-6) << x << " " << y << " " << z;
        ASSERT_NEAR(m[0], rho, 2e-6) << x << " " << y << " " << z;
        for (int k = 0; k < 3; ++k) {
          ASSERT_EQ(stored[k], u[k]) << x << " " << y << " " << z;
          ASSERT_NEAR(m[k + 1], rho * u[k], 2e-6) << x << " " << y << " " << z << " axis " << k;
        }
      }
  EXPECT_EQ(set, 6 * 3 * 3);
}

}  // namespace
