// The moving-frame step: the device origin follows the frame centre, and every node gains the fictitious
// forces of the frame (at its position from that origin) and the half-force-shifted velocity.
#include <gtest/gtest.h>

#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "gpuLattice.h"

namespace {

using gputest::GpuLattice;

// Nodes with momentum m and force F0, in a frame whose origin sits at world (2, 1, 0) and that spins
// about z: F = F0 + rho scale (-a + w^2 (r_x, r_y, 0) - 2 w x (s m) - alpha x r), r the node in the frame;
// the velocity becomes (m + F/2) / rho. With the frame at rest only the velocity shifts. Prescribed-velocity
// nodes keep both.
TEST(MovingFrame, NodesGainTheFictitiousForcesOfTheFrame) {
  for (bool moving : {false, true}) {
    GpuLattice l(4, 3, 2);
    const std::size_t n = l.count();
    for (std::size_t i = 0; i < n; ++i) {
      l.host->ux[i] = 0.02f, l.host->uy[i] = -0.01f, l.host->uz[i] = 0.003f * (i % 4);
      l.host->rou[i] = 1.1f + 0.01f * i;
      l.host->forcex[i] = 1e-3 * i, l.host->forcey[i] = -2e-4;
    }
    l.host->flag[3] = NODE_VELOCITY;
    l.upload();
    mlSetFlowCenterGpu(l.dev, 2.0f, 1.0f, 0.0f);                             // node (0, 0, 0) at (0, -0.5, -1)
    mlTransform4d Tinv{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -2, -1, 0, 1}};  // world to frame: less the origin
    const double w = moving ? 0.3 : 0, alpha = moving ? 0.05 : 0, s = moving ? 2.0 : 1.0;
    const mlVelocity3D<double> scale = moving ? mlVelocity3D<double>{0.5, 0.25, 2.0} : mlVelocity3D<double>{1, 1, 1};
    const mlVelocity3D<double> a = moving ? mlVelocity3D<double>{0.1, 0.0, -0.2} : mlVelocity3D<double>{0, 0, 0};
    mlAddForcetoUOptGpu(l.dev, l.param(), scale, a, {0, 0, w}, {0, 0, alpha}, Tinv, static_cast<float>(s));
    l.download();
    for (int z = 0; z < 2; ++z)
      for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
          const std::size_t i = l.index(x, y, z);
          const double rho = 1.1f + 0.01f * i, m[3] = {0.02f, -0.01f, 0.003f * (i % 4)};
          const double F0[3] = {1e-3 * i, -2e-4, 0};
          const double rx = x - 2.0, ry = y - 1.5;
          const double A[3] = {-a.x + w * w * rx + 2 * w * s * m[1] + alpha * ry,
                               -a.y + w * w * ry - 2 * w * s * m[0] - alpha * rx, -a.z};
          const double F[3] = {F0[0] + rho * scale.x * A[0], F0[1] + rho * scale.y * A[1],
                               F0[2] + rho * scale.z * A[2]};
          const double gotF[3] = {l.host->forcex[i], l.host->forcey[i], l.host->forcez[i]};
          const float gotU[3] = {l.host->ux[i], l.host->uy[i], l.host->uz[i]};
          for (int k = 0; k < 3; ++k) {
            EXPECT_NEAR(gotF[k], i == 3 ? F0[k] : F[k], 1e-6) << moving << " node " << i << " axis " << k;
            EXPECT_NEAR(gotU[k], i == 3 ? m[k] : (m[k] + F[k] / 2) / rho, 1e-6) << moving << " node " << i;
          }
        }
  }
}

}  // namespace
