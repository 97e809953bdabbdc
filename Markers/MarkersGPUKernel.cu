#include "MarkersGPUKernel.h"

#include <cstdint>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/mlFlow.h"

namespace {

constexpr int kThreads = 512;

// Linear interpolation along x between node i and its neighbour i + 1.
template <class T>
__device__ __forceinline__ float mlLerpX(const T* f, std::int64_t i, float tx) {
  return static_cast<float>(f[i]) * (1.0f - tx) + static_cast<float>(f[i + 1]) * tx;
}

// Linear interpolation of one quantity over the cell whose lowest node is i000, x first on the four rows
// (y, z), (y + 1, z), (y, z + 1), (y + 1, z + 1), then y on each z level, then z.
template <class T>
__device__ __forceinline__ float mlTrilinear(const T* f, std::int64_t i000, std::int64_t sy, std::int64_t sz,
                                             const float t[3]) {
  const float z0 = mlLerpX(f, i000, t[0]) * (1.0f - t[1]) + mlLerpX(f, i000 + sy, t[0]) * t[1];
  const float z1 = mlLerpX(f, i000 + sz, t[0]) * (1.0f - t[1]) + mlLerpX(f, i000 + sz + sy, t[0]) * t[1];
  return z0 * (1.0f - t[2]) + z1 * t[2];
}

}  // namespace

__global__ void copyMarkersPosNormalGPUKernel(const int* vId, double* pos, double* normal, const double* meshPositions,
                                              const double* meshNormals, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  const std::int64_t v = vId[i];
  if (v < 0) return;
  for (int a = 0; a < 3; ++a) {
    pos[3 * i + a] = meshPositions[3 * v + a];
    normal[3 * i + a] = meshNormals[3 * v + a];
  }
}

__global__ void getMarkersPropertiesGPUKernel(const mlFlow* flow, const double* pos, double* velocity, float* pressure,
                                              int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  const MLFluidParam& param = *flow->param;
  const float extent[3] = {param.width, param.height, param.depth};
  const float dx = param.dx;

  int cell[3];
  float t[3];
  for (int a = 0; a < 3; ++a) {
    const float origin = flow->start[a];  // the device record's, which follows a moving frame
    const float p = static_cast<float>(pos[3 * i + a]);
    const float d = p - origin;
    if (!(d >= 0.0f && d <= extent[a])) return;  // also false for NaN
    const int nodes = param.samples[a];
    if (nodes < 2) return;
    // The cell corner lies at origin + cell * dx (the extent need not be nodes * dx). Past the last node,
    // up to the face, the last cell extrapolates rather than read a node beyond the lattice.
    const int c = static_cast<int>(floorf(d / dx));
    cell[a] = c < nodes - 2 ? c : nodes - 2;
    t[a] = (p - (origin + static_cast<float>(cell[a]) * dx)) / dx;
  }

  const std::int64_t nx = param.samples[0];
  const std::int64_t sy = nx;
  const std::int64_t sz = nx * param.samples[1];
  const std::int64_t i000 = cell[0] + sy * cell[1] + sz * cell[2];
  velocity[3 * i + 0] = mlTrilinear(flow->ux, i000, sy, sz, t);
  velocity[3 * i + 1] = mlTrilinear(flow->uy, i000, sy, sz, t);
  velocity[3 * i + 2] = mlTrilinear(flow->uz, i000, sy, sz, t);
  pressure[i] = mlTrilinear(flow->rou, i000, sy, sz, t);
}

void launchCopyMarkersPosNormal(const int* vId, double* pos, double* normal, const double* meshPositions,
                                const double* meshNormals, int n) {
  if (n <= 0) return;
  DZ_LAUNCH(copyMarkersPosNormalGPUKernel, dim3(n / kThreads + 1), dim3(kThreads), vId, pos, normal, meshPositions,
            meshNormals, n);
  checkCudaLaunch();
}

void launchGetMarkersProperties(const mlFlow* flow, const double* pos, double* velocity, float* pressure, int n) {
  if (n <= 0) return;
  DZ_LAUNCH(getMarkersPropertiesGPUKernel, dim3(n / kThreads + 1), dim3(kThreads), flow, pos, velocity, pressure, n);
  checkCudaLaunch();
}
