#include <gtest/gtest.h>

#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "gpuLattice.h"

namespace {

using gputest::GpuLattice;

mlTransform4d identity() {
  mlTransform4d T{};
  T.m[0] = T.m[5] = T.m[10] = T.m[15] = 1.0;
  return T;
}

const mlVelocity3D<double> kZero{0, 0, 0};
const mlVelocity3D<double> kUnitScale{1, 1, 1};

TEST(MovingFrame, FlowCenterMovesOnlyTheDeviceOrigin) {
  GpuLattice l(10, 4, 4);
  l.host->start[0] = 7.0f;
  l.upload();
  mlSetFlowCenterGpu(l.dev, 0.0f, 0.0f, 0.0f);
  float start[3];
  l.deviceStart(start);
  EXPECT_EQ(start[0], -5.0f);
  EXPECT_EQ(start[1], -2.0f);
  EXPECT_EQ(start[2], -2.0f);
  EXPECT_EQ(l.host->start[0], 7.0f);

  mlSetFlowCenterGpu(l.dev, 1.25f, -3.0f, 0.5f);
  l.deviceStart(start);
  EXPECT_EQ(start[0], -3.75f);
  EXPECT_EQ(start[1], -5.0f);
  EXPECT_EQ(start[2], -1.5f);
}

// Nodes carry momentum m and force F0; with the frame at rest the force is unchanged and the velocity
// becomes (m + F0/2) / rho. Prescribed-velocity nodes keep both.
TEST(MovingFrame, ZeroMotionOnlyShiftsTheVelocityByHalfTheForce) {
  GpuLattice l(5, 3, 2);
  const std::size_t n = l.count();
  for (std::size_t i = 0; i < n; ++i) {
    l.host->ux[i] = 0.01f * i;
    l.host->uy[i] = -0.02f;
    l.host->uz[i] = 0.003f * (i % 4);
    l.host->rou[i] = 1.0f + 0.01f * i;
    l.host->forcex[i] = 1e-3 * i;
    l.host->forcey[i] = -2e-4;
    l.host->forcez[i] = 0.0;
  }
  l.host->flag[7] = NODE_VELOCITY;
  l.upload();
  mlAddForcetoUOptGpu(l.dev, l.param(), kUnitScale, kZero, kZero, kZero, identity(), 1.0f);
  l.download();
  for (std::size_t i = 0; i < n; ++i) {
    const double rho = 1.0f + 0.01f * i;
    EXPECT_EQ(l.host->forcex[i], 1e-3 * i);
    EXPECT_EQ(l.host->forcey[i], -2e-4);
    if (i == 7) {
      EXPECT_EQ(l.host->ux[i], 0.01f * i);
      EXPECT_EQ(l.host->uz[i], 0.003f * (i % 4));
      continue;
    }
    EXPECT_FLOAT_EQ(l.host->ux[i], static_cast<float>((0.01f * i + 0.5 * 1e-3 * i) / rho)) << i;
    EXPECT_FLOAT_EQ(l.host->uy[i], static_cast<float>((-0.02f - 1e-4) / rho)) << i;
    EXPECT_FLOAT_EQ(l.host->uz[i], static_cast<float>(0.003f * (i % 4) / rho)) << i;
  }
}

// Fictitious forces of a frame whose origin sits at world (2, 1, 0) and that spins about z:
// centrifugal rho w^2 (r_x, r_y, 0), Coriolis -2 rho w x (s m), Euler -rho alpha x r, and -rho a,
// each scaled per axis.
TEST(MovingFrame, FictitiousForcesOfARotatingAcceleratingFrame) {
  GpuLattice l(4, 3, 2);
  const std::size_t n = l.count();
  for (std::size_t i = 0; i < n; ++i) {
    l.host->ux[i] = 0.02f;
    l.host->uy[i] = -0.01f;
    l.host->rou[i] = 1.1f;
  }
  l.host->flag[3] = NODE_VELOCITY;
  l.upload();
  mlSetFlowCenterGpu(l.dev, 2.0f, 1.0f, 0.0f);  // node (0, 0, 0) at (0, -0.5, -1)

  mlTransform4d Tinv = identity();  // world to frame: subtract the frame origin
  Tinv.m[12] = -2.0;
  Tinv.m[13] = -1.0;
  const double w = 0.3, alpha = 0.05, s = 2.0;
  const mlVelocity3D<double> scale{0.5, 0.25, 2.0}, a{0.1, 0.0, -0.2};
  mlAddForcetoUOptGpu(l.dev, l.param(), scale, a, {0, 0, w}, {0, 0, alpha}, Tinv, static_cast<float>(s));
  l.download();

  for (int z = 0; z < 2; ++z)
    for (int y = 0; y < 3; ++y)
      for (int x = 0; x < 4; ++x) {
        const std::size_t i = l.index(x, y, z);
        if (i == 3) {
          EXPECT_EQ(l.host->forcex[i], 0.0);
          EXPECT_EQ(l.host->ux[i], 0.02f);
          continue;
        }
        const double rx = x - 2.0, ry = y - 0.5 - 1.0;  // node position in the frame
        const double vx = s * 0.02f, vy = s * -0.01f;
        const double Ax = -a.x + w * w * rx + 2 * w * vy + alpha * ry;
        const double Ay = -a.y + w * w * ry - 2 * w * vx - alpha * rx;
        const double Az = -a.z;
        EXPECT_NEAR(l.host->forcex[i], 1.1 * scale.x * Ax, 1e-6) << x << y << z;
        EXPECT_NEAR(l.host->forcey[i], 1.1 * scale.y * Ay, 1e-6) << x << y << z;
        EXPECT_NEAR(l.host->forcez[i], 1.1 * scale.z * Az, 1e-6) << x << y << z;
        EXPECT_NEAR(l.host->ux[i], (0.02 + 0.5 * l.host->forcex[i]) / 1.1, 1e-6);
        EXPECT_NEAR(l.host->uz[i], (0.5 * l.host->forcez[i]) / 1.1, 1e-6);
      }
}

}  // namespace
