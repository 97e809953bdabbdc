#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "gpuLattice.h"

namespace {

// nx = 33, ny = 16: the 32 x 4 kernels launch 2 x 4 blocks per plane, the 32 x 16 kernels 2 x 1, one grid
// layer per z plane; the flow centre runs one thread.
TEST(LaunchShapes, EachWrapperLaunchesItsKernelWithThePrescribedGrid) {
  gputest::GpuLattice l(33, 16, 3);
  l.upload();
  dz::device::recordLaunches(true);
  dz::device::clearLaunchLog();
  const mlTransform4d identity{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  mlSetFlowCenterGpu(l.dev, 0, 0, 0);
  mlAddForcetoUOptGpu(l.dev, l.param(), {1, 1, 1}, {0, 0, 0}, {0, 0, 0}, {0, 0, 0}, identity, 1.0f);
  mlCollideAddForceHighorderFiitingGpu(l.dev, l.param());
  mlCuStream3dOptGpu(l.dev, l.param());
  mlBndCondNEEGpu(l.dev, l.param(), true);
  mlCalOneOrderMomentOptGpu(l.dev, l.param());
  const auto log = dz::device::launchLog();
  dz::device::recordLaunches(false);

  struct Expected {
    const char* kernel;
    dim3 grid, block;
  };
  const Expected expected[] = {
      {"mlSetFlowCenterKernel", dim3(1, 1, 1), dim3(1, 1, 1)},
      {"mlAddForcetoUOptKernel", dim3(2, 4, 3), dim3(32, 4, 1)},
      {"mlCollideAddForceHighorderFiitingKernel", dim3(2, 4, 3), dim3(32, 4, 1)},
      {"mlCuStream3dOptKernel", dim3(2, 1, 3), dim3(32, 16, 1)},
      {"mlBndCondNEE_Unified", dim3(2, 1, 3), dim3(32, 16, 1)},
      {"mlCalOneOrderMomentOptKernel", dim3(2, 4, 3), dim3(32, 4, 1)},
  };
  ASSERT_EQ(log.size(), 6u);
  for (std::size_t k = 0; k < 6; ++k) {
    EXPECT_EQ(std::string(log[k].kernel), expected[k].kernel);
    EXPECT_EQ(log[k].grid.x, expected[k].grid.x) << expected[k].kernel;
    EXPECT_EQ(log[k].grid.y, expected[k].grid.y) << expected[k].kernel;
    EXPECT_EQ(log[k].grid.z, expected[k].grid.z) << expected[k].kernel;
    EXPECT_EQ(log[k].block.x, expected[k].block.x) << expected[k].kernel;
    EXPECT_EQ(log[k].block.y, expected[k].block.y) << expected[k].kernel;
    EXPECT_EQ(log[k].block.z, expected[k].block.z) << expected[k].kernel;
  }
}

}  // namespace
