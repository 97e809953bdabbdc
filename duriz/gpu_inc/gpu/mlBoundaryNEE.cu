#include "mlBoundaryNEE.h"

#include <cmath>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlCentralMoments.cuh"
#include "mlLatticeLaunch.cuh"

namespace {

constexpr double kInflowLimit = 0.2;  // inward first-moment component above which inflow is cut

}  // namespace

// Inward offset of a node along one axis: +1 on the low plane, -1 on the high plane only, 0 off both.
__device__ __forceinline__ int mlPlaneOffset(bool onPlane, int p, int lo, int hi) {
  if (!onPlane) return 0;
  if (p == lo) return 1;
  return p == hi ? -1 : 0;
}

__global__ void mlBndCondNEE_Unified(mlFlow* flow, int nx, int ny, int nz, int count, bool inertial) {
  float* f = flow->f;
  mlDensity<float>* rou = flow->rou;
  const MLLATTICENODE_FLAG* flag = flow->flag;
  const int w = flow->param->pml_width;
  mlForThreadNode(nx, ny, nz, [=](mlLatticeNode n) {
    const int lo = w;
    const int hx = nx - 1 - w, hy = ny - 1 - w, hz = nz - 1 - w;
    const bool inX = n.x >= lo && n.x <= hx, inY = n.y >= lo && n.y <= hy, inZ = n.z >= lo && n.z <= hz;
    const bool onX = (n.x == lo || n.x == hx) && inY && inZ;
    const bool onY = (n.y == lo || n.y == hy) && inX && inZ;
    const bool onZ = (n.z == lo || n.z == hz) && inX && inY;
    if (!(onX || onY || onZ)) return;
    if (flag[n.i] == NODE_VELOCITY) return;

    // Straight inward on a face, diagonally inward at edges and corners.
    const int o[3] = {mlPlaneOffset(onX, n.x, lo, hx), mlPlaneOffset(onY, n.y, lo, hy),
                      mlPlaneOffset(onZ, n.z, lo, hz)};
    const int nb = n.i + o[0] + nx * (o[1] + ny * o[2]);

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
    rou[n.i] = rho;

    // Unlimited, the two equilibria cancel: the node takes the neighbour's populations exactly.
    if (!limited) {
      for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[n.i] = g[q];
      return;
    }
    // The first moment stands in for the velocity in both equilibria.
    float feqLimited[27], feq[27];
    mlEquilibrium(rho, lim[0], lim[1], lim[2], feqLimited);
    mlEquilibrium(rho, m[0], m[1], m[2], feq);
    for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[n.i] = feqLimited[q] + g[q] - feq[q];
  });
}

void mlBndCondNEEGpu(mlFlow* flow, const MLFluidParam& param, bool inertial) {
  DZ_LAUNCH(mlBndCondNEE_Unified, mlLatticeGrid(param, 32, 16), dim3(32, 16, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param), inertial);
  checkCudaLaunch();
}
