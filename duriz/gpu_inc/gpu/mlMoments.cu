#include "mlMoments.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"
#include "mlNodeState.cuh"
#include "mlThreadIndex.cuh"

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
    const mlNodeMoments m = mlMomentsOf(f + n.i, count);
    rou[n.i] = m.rho;
    ux[n.i] = m.mx;
    uy[n.i] = m.my;
    uz[n.i] = m.mz;
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

// mlCalOneOrderMomentOptKernel with 64-bit sizes, for a launch of any shape that starts a thread for
// each node (flat thread numbers, mlGridThread64).
__global__ void mlCalOneOrderMomentKernel(mlFlow* flow, std::int64_t nx, std::int64_t ny, std::int64_t nz) {
  const std::int64_t count = nx * ny * nz;
  const std::int64_t i = mlGridThread64();
  if (i >= count) return;
  const mlNodeMoments m = mlMomentsOf(flow->f + i, count);
  flow->rou[i] = m.rho;
  flow->ux[i] = m.mx;
  flow->uy[i] = m.my;
  flow->uz[i] = m.mz;
  flow->forcex[i] = 0.0;
  flow->forcey[i] = 0.0;
  flow->forcez[i] = 0.0;
}

// Density and velocity (first moment over density) of every node, one thread per node of a box of
// blocks; the forces are left as they are.
__global__ void mlCalMacroGpuKernel(mlFlow* flow) {
  const MLFluidParam* param = flow->param;
  const int nx = param->samples[0], ny = param->samples[1], nz = param->samples[2];
  mlLatticeNode n;
  if (!mlBoxThreadNode(nx, ny, nz, n)) return;
  const mlNodeMoments m = mlMomentsOf(flow->f + n.i, nx * ny * nz);
  flow->rou[n.i] = m.rho;
  flow->ux[n.i] = mlVelocityOf(m.mx, m.rho);
  flow->uy[n.i] = mlVelocityOf(m.my, m.rho);
  flow->uz[n.i] = mlVelocityOf(m.mz, m.rho);
}

void mlCalMacroGpu(mlFlow* flow, const MLFluidParam& param) {
  const dim3 block(8, 8, 8);
  DZ_LAUNCH(mlCalMacroGpuKernel, mlCoverGrid(param.samples[0], param.samples[1], param.samples[2], block), block, flow);
  checkCudaLaunch();
}

// Turns the stored first moment of every node into its velocity, u = u / rou.
__global__ void mlRestoreUOptKernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  (void)count;
  const mlDensity<float>* rou = flow->rou;
  float* ux = flow->ux;
  float* uy = flow->uy;
  float* uz = flow->uz;
  mlForThreadNode(nx, ny, nz, [=](mlLatticeNode n) {
    const float rho = rou[n.i];
    ux[n.i] = mlVelocityOf(ux[n.i], rho);
    uy[n.i] = mlVelocityOf(uy[n.i], rho);
    uz[n.i] = mlVelocityOf(uz[n.i], rho);
  });
}

void mlRestoreUOptGpu(mlFlow* flow, const MLFluidParam& param) {
  DZ_LAUNCH(mlRestoreUOptKernel, mlLatticeGrid(param, 32, 4), dim3(32, 4, 1), flow, param.samples[0], param.samples[1],
            param.samples[2], mlLatticeCount(param));
  checkCudaLaunch();
}
