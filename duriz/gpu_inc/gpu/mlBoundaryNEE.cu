#include "mlBoundaryNEE.h"

#include <cmath>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlCentralMoments.cuh"
#include "mlLatticeLaunch.cuh"

namespace {

constexpr double kInflowLimit = 0.2;  // inward first-moment component above which inflow is cut

}  // namespace

// The six planes lie pml_width nodes inside the box: lo = w and hi[a] = n_a - 1 - w on every axis.
struct mlNeePlanes {
  int lo;
  int hi[3];
  int n[3];
};

// Inward offset along one axis: +1 on the low plane, -1 on the high plane. An axis with fewer than three
// nodes from plane to plane has no inner node to copy from (the step would leave the lattice, or planes
// would read each other while they are written), so its planes copy along the other axes only.
__device__ __forceinline__ int mlPlaneOffset(bool onPlane, int p, int lo, int hi) {
  if (!onPlane || hi - lo < 2) return 0;
  return p == lo ? 1 : -1;
}

// The rule for node i at (x, y, z); nodes on no plane and prescribed-velocity nodes are left alone.
__device__ __forceinline__ void mlNeeNode(float* f, mlDensity<float>* rou, const MLLATTICENODE_FLAG* flag,
                                          const mlNeePlanes& p, int count, bool inertial, int i, int x, int y, int z) {
  const int lo = p.lo;
  const bool inX = x >= lo && x <= p.hi[0], inY = y >= lo && y <= p.hi[1], inZ = z >= lo && z <= p.hi[2];
  const bool onX = (x == lo || x == p.hi[0]) && inY && inZ;
  const bool onY = (y == lo || y == p.hi[1]) && inX && inZ;
  const bool onZ = (z == lo || z == p.hi[2]) && inX && inY;
  if (!(onX || onY || onZ)) return;
  if (flag[i] == NODE_VELOCITY) return;

  // Straight inward on a face, diagonally inward at edges and corners.
  const int o[3] = {mlPlaneOffset(onX, x, lo, p.hi[0]), mlPlaneOffset(onY, y, lo, p.hi[1]),
                    mlPlaneOffset(onZ, z, lo, p.hi[2])};
  const int nb = i + o[0] + p.n[0] * (o[1] + p.n[1] * o[2]);

  float g[27];
  float rho = 0.0f, m[3] = {0.0f, 0.0f, 0.0f};
  for (int q = 0; q < 27; ++q) {
    g[q] = mlDirection(f, q, count)[nb];
    rho += g[q];
    m[0] += ex_cas1[q] * g[q];
    m[1] += ey_cas1[q] * g[q];
    m[2] += ez_cas1[q] * g[q];
  }
  rou[nb] = rho;
  rou[i] = rho;
  // A node that is its own neighbour keeps its populations (nothing can be limited without an offset).
  if (nb == i) return;

  // A fixed box lets nothing stronger than the limit flow in across its planes.
  float lim[3] = {m[0], m[1], m[2]};
  bool limited = false;
  if (inertial)
    for (int a = 0; a < 3; ++a) {
      const int sign = m[a] > 0.0f ? 1 : -1;
      if (o[a] != 0 && sign == o[a] && std::fabs(static_cast<double>(m[a])) > kInflowLimit) {
        lim[a] = 0.0f;
        limited = true;
      }
    }

  // Unlimited, the two equilibria cancel: the node takes the neighbour's populations exactly.
  if (!limited) {
    for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[i] = g[q];
    return;
  }
  // The first moment stands in for the velocity in both equilibria.
  float feqLimited[27], feq[27];
  mlEquilibrium(rho, lim[0], lim[1], lim[2], feqLimited);
  mlEquilibrium(rho, m[0], m[1], m[2], feq);
  for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[i] = feqLimited[q] + g[q] - feq[q];
}

__global__ void mlBndCondNEE_Unified(mlFlow* flow, int nx, int ny, int nz, int count, bool inertial) {
  float* f = flow->f;
  mlDensity<float>* rou = flow->rou;
  const MLLATTICENODE_FLAG* flag = flow->flag;
  const int w = flow->param->pml_width;
  const mlNeePlanes p{w, {nx - 1 - w, ny - 1 - w, nz - 1 - w}, {nx, ny, nz}};
#ifdef DUZAVOD_CUDA
  const int i = mlBlockThread(threadIdx.x, threadIdx.y);
  if (i < 0 || i >= count) return;
  const mlLatticeNode n = mlNodeOf(i, nx, ny);
  mlNeeNode(f, rou, flag, p, count, inertial, i, n.x, n.y, n.z);
#else
  // The host runs the block's nodes row by row and visits only plane nodes: every node of a row on a y or
  // z plane, the two ends of any other row between the planes. A block without them returns at once.
  dz::device::claimBlock();
  const int first = mlBlockThread(0, 0);
  const int end = first + static_cast<int>(blockDim.x * blockDim.y) < count
                      ? first + static_cast<int>(blockDim.x * blockDim.y)
                      : count;
  for (int rowStart = first; rowStart < end;) {
    const mlLatticeNode head = mlNodeOf(rowStart, nx, ny);
    const int rowEnd = rowStart - head.x + nx < end ? rowStart - head.x + nx : end;
    const int xa = head.x, xb = head.x + (rowEnd - rowStart) - 1;  // the block's part of this row
    const int y = head.y, z = head.z, row = rowStart - head.x;
    rowStart = rowEnd;
    if (y < w || y > p.hi[1] || z < w || z > p.hi[2]) continue;
    if (y == w || y == p.hi[1] || z == w || z == p.hi[2]) {
      const int x0 = xa > w ? xa : w, x1 = xb < p.hi[0] ? xb : p.hi[0];
      for (int x = x0; x <= x1; ++x) mlNeeNode(f, rou, flag, p, count, inertial, row + x, x, y, z);
    } else {
      if (w >= xa && w <= xb) mlNeeNode(f, rou, flag, p, count, inertial, row + w, w, y, z);
      if (p.hi[0] != w && p.hi[0] >= xa && p.hi[0] <= xb)
        mlNeeNode(f, rou, flag, p, count, inertial, row + p.hi[0], p.hi[0], y, z);
    }
  }
#endif
}

void mlBndCondNEEGpu(mlFlow* flow, const MLFluidParam& param, bool inertial) {
  DZ_LAUNCH(mlBndCondNEE_Unified, mlLatticeGrid(param, 32, 16), dim3(32, 16, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param), inertial);
  checkCudaLaunch();
}
