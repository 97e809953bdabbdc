#include "mlStream.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"

// Pull streaming: f_q(x) = fPost_q(x - c_q). A population whose source lies outside the box keeps its
// value (no wrap, no bounce-back); the open boundary rewrites the boundary planes afterwards.
// Prescribed-velocity nodes keep all their populations.
__global__ void mlCuStream3dOptKernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  float* f = flow->f;
  const float* fPost = flow->fPost;
  const MLLATTICENODE_FLAG* flag = flow->flag;
  mlForThreadNode(nx, ny, nz, [=](mlLatticeNode n) {
    if (flag[n.i] == NODE_VELOCITY) return;
    const bool interior = n.x > 0 && n.x < nx - 1 && n.y > 0 && n.y < ny - 1 && n.z > 0 && n.z < nz - 1;
    for (int q = 0; q < 27; ++q) {
      const int cx = static_cast<int>(ex_cas1[q]), cy = static_cast<int>(ey_cas1[q]), cz = static_cast<int>(ez_cas1[q]);
      const int x = n.x - cx, y = n.y - cy, z = n.z - cz;
      if (interior || (x >= 0 && x < nx && y >= 0 && y < ny && z >= 0 && z < nz))
        mlDirection(f, q, count)[n.i] = mlDirection(fPost, q, count)[n.i - cx - nx * (cy + ny * cz)];
    }
  });
}

void mlCuStream3dOptGpu(mlFlow* flow, const MLFluidParam& param) {
  DZ_LAUNCH(mlCuStream3dOptKernel, mlLatticeGrid(param, 32, 16), dim3(32, 16, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param));
  checkCudaLaunch();
}
