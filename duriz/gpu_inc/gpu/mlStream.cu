#include "mlStream.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlLatticeLaunch.cuh"
#include "mlNodeState.cuh"
#include "mlThreadIndex.cuh"

// Pull streaming: f_q(x) = fPost_q(x - c_q). A population whose source lies outside the box keeps its
// value (no wrap, no bounce-back); the open boundary rewrites the boundary planes afterwards.
// Prescribed-velocity nodes keep all their populations.
__global__ void mlCuStream3dOptKernel(mlFlow* flow, int nx, int ny, int nz, int count) {
  float* f = flow->f;
  const float* fPost = flow->fPost;
  const MLLATTICENODE_FLAG* flag = flow->flag;
#ifdef DUZAVOD_CUDA
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
#else
  // Each node and direction is independent, so the host runs the block one direction at a time: two
  // arrays in flight instead of 54, which the caches and prefetchers follow (the 27 direction arrays lie
  // a power of two apart on common lattices and would share one cache set). On lattices far larger than
  // the cache, whole lines of f are written with streaming stores.
  dz::device::claimBlock();
  const bool streaming = dz::device::useStreamingStores(sizeof(float) * 27 * static_cast<std::size_t>(count));
  const int first = mlBlockThread(0, 0);
  const int size = static_cast<int>(blockDim.x * blockDim.y);
  const int end = first + size < count ? first + size : count;
  // The block's parts of lattice rows: begin .. stop - 1, the row starting at node base.
  struct Row {
    int begin, stop, base, y, z;
  };
  Row rows[1024];
  int nRows = 0;
  for (int begin = first; begin < end;) {
    const mlLatticeNode head = mlNodeOf(begin, nx, ny);
    const int stop = begin - head.x + nx < end ? begin - head.x + nx : end;
    rows[nRows++] = Row{begin, stop, begin - head.x, head.y, head.z};
    begin = stop;
  }
  // Most blocks hold no prescribed-velocity node: their populations are copied without looking at flags.
  bool fixed = false;
  for (int i = first; i < end; ++i) fixed |= flag[i] == NODE_VELOCITY;
  for (int q = 0; q < 27; ++q) {
    const int cx = static_cast<int>(ex_cas1[q]), cy = static_cast<int>(ey_cas1[q]), cz = static_cast<int>(ez_cas1[q]);
    float* dst = mlDirection(f, q, count);
    const float* src = mlDirection(fPost, q, count) - (cx + nx * (cy + ny * cz));
    for (int r = 0; r < nRows; ++r) {
      const Row& row = rows[r];
      if (row.y - cy < 0 || row.y - cy >= ny || row.z - cz < 0 || row.z - cz >= nz) continue;
      // x - cx must lie in 0 .. nx - 1.
      const int lo = row.begin > row.base + cx ? row.begin : row.base + cx;
      const int hi = row.stop < row.base + nx + cx ? row.stop : row.base + nx + cx;
      int i = lo;
      if (!fixed) {
        if (streaming) {
          for (; i < hi && !dz::device::lineAligned(dst + i); ++i) dst[i] = src[i];
          for (; i + 16 <= hi; i += 16) dz::device::streamLine(dst + i, src + i);
        }
#pragma omp simd
        for (int k = i; k < hi; ++k) dst[k] = src[k];
        continue;
      }
      if (streaming) {
        for (; i < hi && !dz::device::lineAligned(dst + i); ++i)
          if (flag[i] != NODE_VELOCITY) dst[i] = src[i];
        for (; i + 16 <= hi; i += 16) {
          bool keep = false;
          for (int k = 0; k < 16; ++k) keep |= flag[i + k] == NODE_VELOCITY;
          if (!keep) {
            dz::device::streamLine(dst + i, src + i);
            continue;
          }
          for (int k = i; k < i + 16; ++k)
            if (flag[k] != NODE_VELOCITY) dst[k] = src[k];
        }
      }
#pragma omp simd
      for (int k = i; k < hi; ++k)
        if (flag[k] != NODE_VELOCITY) dst[k] = src[k];
    }
  }
  if (streaming) dz::device::streamFence();
#endif
}

void mlCuStream3dOptGpu(mlFlow* flow, const MLFluidParam& param) {
  DZ_LAUNCH(mlCuStream3dOptKernel, mlLatticeGrid(param, 32, 16), dim3(32, 16, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param));
  checkCudaLaunch();
}

// Pull streaming as mlCuStream3dOptKernel, one thread per node of a box of blocks, with 64-bit sizes.
// With changeInlet, every node of the plane y = 0 first becomes an inlet (flag NODE_DOWN) at rest: zero
// velocity and the equilibrium of its density in f and fPost. Other threads stream from those nodes
// during the same launch, so they take the inlet's populations from its density rather than reading
// fPost while it is written. The four float arguments are not used: the inlet is at rest.
__global__ void mmlStreamChangeInletGpuKernel(mlFlow* flow, float, float, float, float, bool changeInlet,
                                              std::int64_t nx, std::int64_t ny, std::int64_t nz) {
  const std::int64_t x = static_cast<std::int64_t>(blockIdx.x) * blockDim.x + threadIdx.x;
  const std::int64_t y = static_cast<std::int64_t>(blockIdx.y) * blockDim.y + threadIdx.y;
  const std::int64_t z = static_cast<std::int64_t>(blockIdx.z) * blockDim.z + threadIdx.z;
  if (x >= nx || y >= ny || z >= nz) return;
  const std::int64_t count = nx * ny * nz, i = (z * ny + y) * nx + x;
  float* f = flow->f;
  float* fPost = flow->fPost;
  const float rest[3] = {0.0f, 0.0f, 0.0f};
  if (changeInlet && y == 0) {
    flow->flag[i] = NODE_DOWN;
    flow->ux[i] = flow->uy[i] = flow->uz[i] = 0.0f;
    float feq[27];
    mlPolynomialEquilibrium(flow->rou[i], rest, feq);
    for (int q = 0; q < 27; ++q) f[q * count + i] = fPost[q * count + i] = feq[q];
  } else if (flow->flag[i] == NODE_VELOCITY) {
    return;
  }
  for (int q = 0; q < 27; ++q) {
    const std::int64_t sx = x - static_cast<int>(ex_cas1[q]), sy = y - static_cast<int>(ey_cas1[q]),
                       sz = z - static_cast<int>(ez_cas1[q]);
    if (sx < 0 || sx >= nx || sy < 0 || sy >= ny || sz < 0 || sz >= nz) continue;
    const std::int64_t source = (sz * ny + sy) * nx + sx;
    f[q * count + i] =
        changeInlet && sy == 0 ? mlPolynomialEquilibrium(flow->rou[source], rest, q) : fPost[q * count + source];
  }
}

void mmlStreamChangeInletGpu(mlFlow* flow, const MLFluidParam& param, bool changeInlet) {
  const dim3 block(8, 8, 8);
  const int nx = param.samples[0], ny = param.samples[1], nz = param.samples[2];
  DZ_LAUNCH(mmlStreamChangeInletGpuKernel, mlCoverGrid(nx, ny, nz, block), block, flow, 0.0f, 0.0f, 0.0f, 0.0f,
            changeInlet, std::int64_t{nx}, std::int64_t{ny}, std::int64_t{nz});
  checkCudaLaunch();
}
