// The moving-frame step: the device origin follows the frame centre, and every node gains the fictitious
// forces of the frame (at its position from that origin) and the half-force-shifted velocity.
#include <gtest/gtest.h>

#include <cstdint>

#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "gpuLattice.h"

// Kernels reached here without their wrapper.
__global__ void mlAddForcetoUKernel(mlFlow* flow, float, std::int64_t nx, std::int64_t ny, std::int64_t nz);

namespace {

using gputest::GpuLattice;

// Nodes with momentum m and force F0, in a frame whose origin sits at world (2, 1, 0) and that spins
// about z: F = F0 + rho scale (-a + w^2 (r_x, r_y, 0) - 2 w x (s m) - alpha x r), r the node in the frame;
// the velocity becomes (m + F/2) / rho. With the frame at rest only the velocity shifts, as it does with
// the older kernel without frame forces (64-bit sizes, any launch shape), which gives a node without mass
// (node 5) no velocity rather than an infinite one. Prescribed-velocity nodes keep both.
TEST(MovingFrame, NodesGainTheFictitiousForcesOfTheFrame) {
  for (const char* variant : {"at rest", "moving", "older"}) {
    const bool moving = variant[0] == 'm', older = variant[0] == 'o';
    GpuLattice l(4, 3, 2);
    const std::size_t n = l.count();
    for (std::size_t i = 0; i < n; ++i) {
      l.host->ux[i] = 0.02f, l.host->uy[i] = -0.01f, l.host->uz[i] = 0.003f * (i % 4);
      l.host->rou[i] = older && i == 5 ? 0.0f : 1.1f + 0.01f * i;
      l.host->forcex[i] = 1e-3 * i, l.host->forcey[i] = -2e-4;
    }
    l.host->flag[3] = NODE_VELOCITY;
    l.upload();
    mlSetFlowCenterGpu(l.dev, 2.0f, 1.0f, 0.0f);                             // node (0, 0, 0) at (0, -0.5, -1)
    mlTransform4d Tinv{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -2, -1, 0, 1}};  // world to frame: less the origin
    const double w = moving ? 0.3 : 0, alpha = moving ? 0.05 : 0, s = moving ? 2.0 : 1.0;
    const mlVelocity3D<double> scale = moving ? mlVelocity3D<double>{0.5, 0.25, 2.0} : mlVelocity3D<double>{1, 1, 1};
    const mlVelocity3D<double> a = moving ? mlVelocity3D<double>{0.1, 0.0, -0.2} : mlVelocity3D<double>{0, 0, 0};
    if (older) {
      DZ_LAUNCH(mlAddForcetoUKernel, dim3(3, 1, 1), dim3(4, 2, 1), l.dev, 0.0f, std::int64_t{4}, std::int64_t{3},
                std::int64_t{2});
      checkCudaLaunch();
    } else {
      mlAddForcetoUOptGpu(l.dev, l.param(), scale, a, {0, 0, w}, {0, 0, alpha}, Tinv, static_cast<float>(s));
    }
    l.download();
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
          const std::size_t i = l.index(x, y, z);
          const double rho = l.host->rou[i], m[3] = {0.02f, -0.01f, 0.003f * (i % 4)};
          const double F0[3] = {1e-3 * i, -2e-4, 0};
          const double rx = x - 2.0, ry = y - 1.5;
          const double A[3] = {-a.x + w * w * rx + 2 * w * s * m[1] + alpha * ry,
                               -a.y + w * w * ry - 2 * w * s * m[0] - alpha * rx, -a.z};
          const double F[3] = {F0[0] + rho * scale.x * A[0], F0[1] + rho * scale.y * A[1],
                               F0[2] + rho * scale.z * A[2]};
          const double gotF[3] = {l.host->forcex[i], l.host->forcey[i], l.host->forcez[i]};
          const float gotU[3] = {l.host->ux[i], l.host->uy[i], l.host->uz[i]};
          for (int k = 0; k < 3; ++k) {
            const double u = i == 3 ? m[k] : (older && i == 5 ? 0.0 : (m[k] + F[k] / 2) / rho);
            EXPECT_NEAR(gotF[k], i == 3 ? F0[k] : F[k], 1e-6) << variant << " node " << i << " axis " << k;
            EXPECT_NEAR(gotU[k], u, 1e-6) << variant << " node " << i;
          }
        }
  }
}

// The force-term scenario on a 9 x 8 x 3 box: with driveBands, nodes flagged 12 and 13 take
// uy = 0.1 + 0.05 t and 0.1 - 0.05 t; with forcePlanes, the nodes of the planes y = 2 and y = 6 take the
// force (0.05, 0, 0) and (-0.05, 0, 0). Nothing else changes.
TEST(MovingFrame, ForceTermDrivesBandsAndPlanes) {
  const struct {
    bool forcePlanes, driveBands;
    float t;
  } cases[] = {{true, false, 1.0f}, {false, true, 3.0f}};
  for (const auto& c : cases) {
    GpuLattice l(9, 8, 3);
    for (std::size_t i = 0; i < l.count(); ++i) {
      l.host->flag[i] = static_cast<MLLATTICENODE_FLAG>(i % 5 == 0 ? 12 : (i % 5 == 1 ? 13 : 1));
      l.host->uy[i] = -0.5f;
      l.host->forcex[i] = l.host->forcey[i] = l.host->forcez[i] = 7.0;
    }
    l.upload();
    mlCalForceTermGpu(l.dev, l.param(), c.forcePlanes, c.driveBands, c.t);
    l.download();
    for (int z = 0; z < 3; ++z)
      for (int y = 0; y < 8; ++y)
        for (int x = 0; x < 9; ++x) {
          const std::size_t i = l.index(x, y, z);
          const int band = i % 5 == 0 ? 1 : (i % 5 == 1 ? -1 : 0);
          const float uy = c.driveBands && band != 0 ? 0.1f + band * 0.05f * c.t : -0.5f;
          const bool pushed = c.forcePlanes && (y == 2 || y == 6);
          const double F[3] = {pushed ? (y == 2 ? 0.05 : -0.05) : 7.0, pushed ? 0.0 : 7.0, pushed ? 0.0 : 7.0};
          const double got[3] = {l.host->forcex[i], l.host->forcey[i], l.host->forcez[i]};
          EXPECT_FLOAT_EQ(l.host->uy[i], uy) << c.t << " node " << x << y << z;  // the kernel may fuse the multiply-add
          for (int a = 0; a < 3; ++a) EXPECT_EQ(got[a], F[a]) << c.forcePlanes << " node " << x << y << z;
        }
  }
}

}  // namespace
