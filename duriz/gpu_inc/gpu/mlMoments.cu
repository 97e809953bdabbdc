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
  // The host runs each block row as one vector loop (as mlForThreadNode does), gathers the row's results
  // and writes them out as whole lines, with streaming stores on lattices far larger than the cache.
  constexpr int kLanes = 32;  // the block width of every lattice launch
  dz::device::claimBlock();
  const bool streaming = dz::device::useStreamingStores(sizeof(float) * 27 * static_cast<std::size_t>(count));
  alignas(64) float sums[4][kLanes];
  alignas(64) static const double zeros[kLanes] = {};
  float* const out[4] = {reinterpret_cast<float*>(rou), ux, uy, uz};
  double* const cleared[3] = {forcex, forcey, forcez};
  static_assert(sizeof(mlDensity<float>) == sizeof(float), "densities are stored as floats");
  (void)nx, (void)ny, (void)nz;  // a block row is a run of consecutive nodes
  for (unsigned int r = 0; r < blockDim.y; ++r) {
    const int first = mlBlockThread(0, r);
    if (first >= count) break;
    const int valid = count - first < kLanes ? count - first : kLanes;
    auto node = [=, &sums](int lane) {
      float rho = 0.0f, mx = 0.0f, my = 0.0f, mz = 0.0f;
      for (int q = 0; q < 27; ++q) {
        const float fq = mlDirection(f, q, count)[first + lane];
        rho += fq;
        mx += ex_cas1[q] * fq;
        my += ey_cas1[q] * fq;
        mz += ez_cas1[q] * fq;
      }
      sums[0][lane] = rho;
      sums[1][lane] = mx;
      sums[2][lane] = my;
      sums[3][lane] = mz;
    };
    if (valid == kLanes) {
#pragma omp simd
      for (int lane = 0; lane < kLanes; ++lane) node(lane);
    } else {
      for (int lane = 0; lane < valid; ++lane) node(lane);
    }
    const bool whole = streaming && valid == kLanes;
    for (int a = 0; a < 4; ++a) mlStoreRow(out[a] + first, sums[a], valid, streaming);
    for (int a = 0; a < 3; ++a) {
      double* dst = cleared[a] + first;
      if (whole && dz::device::lineAligned(dst)) {
        for (int k = 0; k < kLanes; k += 8) dz::device::streamLine(dst + k, zeros + k);
      } else {
        for (int k = 0; k < valid; ++k) dst[k] = 0.0;
      }
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
