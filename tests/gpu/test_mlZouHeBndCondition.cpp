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

// One CPU thread: the face kernels are a few small blocks, and test programs run side by side.
class ZouHe : public ::testing::Test {
 protected:
  void SetUp() override { dz::device::setHostThreads(1); }
  void TearDown() override { dz::device::setHostThreads(0); }
};

// Every node starts at the equilibrium of rho0 and u0. A face node of outward side s along axis a knows
// sum_{c_a = 0} f + 2 sum_{c_a = s} f = rho0 (1 + s u0_a), so its density is rho0 (1 + s u0_a) / (1 + s u_a)
// for the prescribed u: (0.2, 0, 0) at x = 0, rest on the other faces. The rebuilt populations carry that
// density and the momentum rho u. Only nodes with both in-plane coordinates in [10, n - 10] change.
TEST_F(ZouHe, EachFaceSetsVelocityAndDensityOnlyInsideTheMargin) {
  const int n = 22;
  const float rho0 = 1.1f, u0[3] = {0.05f, -0.03f, 0.02f};
  gputest::GpuLattice l(n, n, n);
  for (std::size_t i = 0; i < l.count(); ++i) {
    l.host->rou[i] = -1;  // marks what the kernels write
    for (int q = 0; q < 27; ++q) l.f(q, i) = d3q27::equilibrium(q, rho0, u0[0], u0[1], u0[2]);
  }
  const std::vector<float> before(l.host->f, l.host->f + 27 * l.count());
  l.upload();
  EXPECT_EQ(gputest::launchesOf([&] { mlZouHeBndConditionGpu(l.dev, l.param()); }),
            std::vector<std::string>({"mlCuBoundaryCondition_Left_KernelZouHe grid 1 3 3 block 1 8 8",
                                      "mlCuBoundaryCondition_Right_KernelZouHe grid 1 3 3 block 1 8 8",
                                      "mlCuBoundaryCondition_Forward_KernelZouHe grid 3 3 1 block 8 8 1",
                                      "mlCuBoundaryCondition_Back_KernelZouHe grid 3 3 1 block 8 8 1"}));
  DZ_LAUNCH(mlCuBoundaryCondition_Down_KernelZouHe, dim3(3, 1, 3), dim3(8, 1, 8), l.dev, n, n, n, n * n * n);
  DZ_LAUNCH(mlCuBoundaryCondition_Up_KernelZouHe, dim3(3, 1, 3), dim3(8, 1, 8), l.dev, n, n, n, n * n * n);
  checkCudaLaunch();
  l.download();

  struct Face {
    int axis, side;
    float u[3];
  };
  const Face faces[] = {{0, -1, {0.2f, 0, 0}}, {0, 1, {}}, {1, -1, {}}, {1, 1, {}}, {2, -1, {}}, {2, 1, {}}};
  int set = 0;
  for (int z = 0; z < n; ++z)
    for (int y = 0; y < n; ++y)
      for (int x = 0; x < n; ++x) {
        const int p[3] = {x, y, z};
        const std::size_t i = l.index(x, y, z);
        const Face* face = nullptr;
        for (const Face& f : faces) {
          bool on = p[f.axis] == (f.side < 0 ? 0 : n - 1);
          for (int a = 0; a < 3; ++a) on = on && (a == f.axis || (p[a] >= 10 && p[a] <= n - 10));
          if (on) face = &f;
        }
        if (face == nullptr) {
          ASSERT_EQ(l.host->rou[i], -1.0f) << x << " " << y << " " << z;
          for (int q = 0; q < 27; ++q) ASSERT_EQ(l.f(q, i), before[q * l.count() + i]) << x << " " << y << " " << z;
          continue;
        }
        ++set;
        const double rho = rho0 * (1 + face->side * u0[face->axis]) / (1 + face->side * face->u[face->axis]);
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
