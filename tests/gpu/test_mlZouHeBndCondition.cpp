// Zou-He faces on a lattice at equilibrium: launches, and on each face plane the density rule, the
// prescribed velocity and the moments of the rebuilt populations, only inside [10, n - 10].
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "duriz/gpu_inc/gpu/mlZouHeBndCondition.h"
#include "gpuLattice.h"
#include "launchLog.h"

// The kernels of the planes y = 0 and y = ny - 1, which the wrapper does not launch.
__global__ void mlCuBoundaryCondition_Down_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count);
__global__ void mlCuBoundaryCondition_Up_KernelZouHe(mlFlow* flow, int nx, int ny, int nz, int count);

namespace {

using gputest::GpuLattice;

TEST(ZouHe, LaunchesItsFourFaceKernelsInOrder) {
  GpuLattice l(5, 20, 9);
  l.upload();
  const std::vector<std::string> expected = {
      "mlCuBoundaryCondition_Left_KernelZouHe grid 1 3 2 block 1 8 8",
      "mlCuBoundaryCondition_Right_KernelZouHe grid 1 3 2 block 1 8 8",
      "mlCuBoundaryCondition_Forward_KernelZouHe grid 1 3 1 block 8 8 1",
      "mlCuBoundaryCondition_Back_KernelZouHe grid 1 3 1 block 8 8 1",
  };
  EXPECT_EQ(gputest::launchesOf([&] { mlZouHeBndConditionGpu(l.dev, l.param()); }), expected);
}

// Every node starts at the equilibrium of rho0 and u0. A face node of outward side s along axis a knows
// sum_{c_a = 0} f + 2 sum_{c_a = s} f = rho0 (1 + s u0_a), so its density is rho0 (1 + s u0_a) / (1 + s u_a)
// for the prescribed u: (0.2, 0, 0) at x = 0, rest on the other faces. The rebuilt populations carry that
// density and the momentum rho u exactly.
TEST(ZouHe, EachFaceSetsVelocityAndDensityOnlyInsideTheMargin) {
  const int n = 22;  // set nodes: in-plane coordinates 10 to 12
  const float rho0 = 1.1f, u0[3] = {0.05f, -0.03f, 0.02f};
  GpuLattice l(n, n, n);
  for (std::size_t i = 0; i < l.count(); ++i) {
    l.host->rou[i] = -1;  // marks what the kernels write
    l.host->ux[i] = l.host->uy[i] = l.host->uz[i] = -1;
    for (int q = 0; q < 27; ++q) l.f(q, i) = d3q27::equilibrium(q, rho0, u0[0], u0[1], u0[2]);
  }
  const std::vector<float> before(l.host->f, l.host->f + 27 * l.count());
  l.upload();
  mlZouHeBndConditionGpu(l.dev, l.param());
  DZ_LAUNCH(mlCuBoundaryCondition_Down_KernelZouHe, dim3(3, 1, 3), dim3(8, 1, 8), l.dev, n, n, n, n * n * n);
  DZ_LAUNCH(mlCuBoundaryCondition_Up_KernelZouHe, dim3(3, 1, 3), dim3(8, 1, 8), l.dev, n, n, n, n * n * n);
  checkCudaLaunch();
  l.download();

  struct Face {
    int axis, side;
    float u[3];
  };
  const Face faces[] = {{0, -1, {0.2f, 0, 0}}, {0, 1, {0, 0, 0}},  {1, -1, {0, 0, 0}},
                        {1, 1, {0, 0, 0}},     {2, -1, {0, 0, 0}}, {2, 1, {0, 0, 0}}};
  int set = 0;
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const int p[3] = {x, y, z};
        const Face* face = nullptr;
        for (const Face& f : faces) {
          bool inside = p[f.axis] == (f.side < 0 ? 0 : n - 1);
          for (int a = 0; a < 3; ++a) inside = inside && (a == f.axis || (p[a] >= 10 && p[a] <= n - 10));
          if (inside) face = &f;
        }
        const std::size_t i = l.index(x, y, z);
        if (face == nullptr) {
          ASSERT_EQ(l.host->rou[i], -1.0f) << x << " " << y << " " << z;
          for (int q = 0; q < 27; ++q) ASSERT_EQ(l.f(q, i), before[q * l.count() + i]) << x << " " << y << " " << z;
          continue;
        }
        ++set;
        const int a = face->axis, s = face->side;
        const double rho = rho0 * (1 + s * u0[a]) / (1 + s * face->u[a]);
        const float stored[3] = {l.host->ux[i], l.host->uy[i], l.host->uz[i]};
        double m[4] = {0, 0, 0, 0};  // density and momentum of the populations
        for (int q = 0; q < 27; ++q) {
          const int c[4] = {1, d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]};
          for (int k = 0; k < 4; ++k) m[k] += c[k] * l.f(q, i);
        }
        ASSERT_NEAR(l.host->rou[i], rho, 2e-6) << x << " " << y << " " << z;
        ASSERT_NEAR(m[0], rho, 2e-6) << x << " " << y << " " << z;
        for (int k = 0; k < 3; ++k) {
          ASSERT_EQ(stored[k], face->u[k]) << x << " " << y << " " << z;
          ASSERT_NEAR(m[k + 1], rho * face->u[k], 2e-6) << x << " " << y << " " << z << " axis " << k;
        }
      }
  EXPECT_EQ(set, 6 * 3 * 3);
}

}  // namespace
