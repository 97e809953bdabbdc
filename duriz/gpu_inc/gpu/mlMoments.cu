#include "mlMoments.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"

// rou = sum of f, u = sum of c f (the momentum: not divided by the density), forces = 0. Every node,
// prescribed-velocity ones included.
__global__ void mlCalOneOrderMomentOptKernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  const float* f = flow->f;
  mlDensity<float>* rou = flow->rou;
  float* ux = flow->ux;
  float* uy = flow->uy;
  float* uz = flow->uz;
  double* forcex = flow->forcex;
  double* forcey = flow->forcey;
  double* forcez = flow->forcez;
#ifdef DUZAVOD_CUDA
  mlForThreadNode(nx, ny, nz, [=](mlLatticeNode n) {
    float rho = 0.0f, mx = 0.0f, my = 0.0f, mz = 0.0f;
    for (int q = 0; q < 27; ++q) {
      const float fq = mlDirection(f, q, count)[n.i];
      rho += fq;
      mx += ex_cas1[q] * fq;
      my += ey_cas1[q] * fq;
      mz += ez_cas1[q] * fq;
    }
    rou[n.i] = rho;
    ux[n.i] = mx;
    uy[n.i] = my;
    uz[n.i] = mz;
    forcex[n.i] = 0.0;
    forcey[n.i] = 0.0;
    forcez[n.i] = 0.0;
  });
#else
  // The host sums the block's nodes one direction at a time (in direction order, as above): a run of
  // consecutive values per direction instead of 27 streams that share one cache set. The results are
  // whole runs of lines, written with streaming stores on lattices far larger than the cache.
  (void)nx, (void)ny, (void)nz;  // the block is a run of consecutive nodes
  dz::device::claimBlock();
  constexpr int kMaxBlock = 1024;
  const int first = mlBlockThread(0, 0);
  const int size = static_cast<int>(blockDim.x * blockDim.y);
  const int len = first + size < count ? size : count - first;
  if (len <= 0) return;
  alignas(64) float sum[4][kMaxBlock];
  for (int k = 0; k < len; ++k) sum[0][k] = sum[1][k] = sum[2][k] = sum[3][k] = 0.0f;
  for (int q = 0; q < 27; ++q) {
    const float cx = ex_cas1[q], cy = ey_cas1[q], cz = ez_cas1[q];
    const float* fq = mlDirection(f, q, count) + first;
#pragma omp simd
    for (int k = 0; k < len; ++k) {
      sum[0][k] += fq[k];
      sum[1][k] += cx * fq[k];
      sum[2][k] += cy * fq[k];
      sum[3][k] += cz * fq[k];
    }
  }
  static_assert(sizeof(mlDensity<float>) == sizeof(float), "densities are stored as floats");
  float* out[4] = {reinterpret_cast<float*>(rou) + first, ux + first, uy + first, uz + first};
  double* cleared[3] = {forcex + first, forcey + first, forcez + first};
  const bool streaming =
      dz::device::useStreamingStores(sizeof(float) * 27 * static_cast<std::size_t>(count)) && len % 16 == 0;
  for (int a = 0; a < 4; ++a) {
    if (streaming && dz::device::lineAligned(out[a])) {
      for (int k = 0; k < len; k += 16) dz::device::streamLine(out[a] + k, sum[a] + k);
    } else {
      for (int k = 0; k < len; ++k) out[a][k] = sum[a][k];
    }
  }
  alignas(64) static const double zeros[8] = {};
  for (int a = 0; a < 3; ++a) {
    if (streaming && dz::device::lineAligned(cleared[a])) {
      for (int k = 0; k < len; k += 8) dz::device::streamLine(cleared[a] + k, zeros);
    } else {
      for (int k = 0; k < len; ++k) cleared[a][k] = 0.0;
    }
  }
  if (streaming) dz::device::streamFence();
#endif
}

void mlCalOneOrderMomentOptGpu(mlFlow* flow, const MLFluidParam& param) {
  DZ_LAUNCH(mlCalOneOrderMomentOptKernel, mlLatticeGrid(param, 32, 4), dim3(32, 4, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param));
  checkCudaLaunch();
}
