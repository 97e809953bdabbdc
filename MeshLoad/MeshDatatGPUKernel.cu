#include "MeshDatatGPUKernel.h"

#include "duriz/gpu_inc/cudaCheck.h"

__global__ void updateVerticesPosKernel(const double* node_transform, const double* bone_transforms,
                                        const int* bone_affected, const double* bone_weights_arr,
                                        const double* init_positions, double* curr_positions,
                                        const double* init_normals, double* curr_normals, int nV, int nB) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= nV) return;

  // Top three rows of the blended 4x4 transform, column-major: M[4 c + r] for row r < 3, column c.
  double M[16];
  if (bone_affected[i] == 0) {
    for (int k = 0; k < 16; ++k) M[k] = node_transform[k];
  } else {
    for (int k = 0; k < 16; ++k) M[k] = 0.0;
    const double* w = bone_weights_arr + static_cast<long long>(i) * nB;
    for (int b = 0; b < nB; ++b) {
      const double* T = bone_transforms + 16 * b;
      for (int c = 0; c < 4; ++c)
        for (int r = 0; r < 3; ++r) M[4 * c + r] += w[b] * T[4 * c + r];
    }
  }

  const double* p = init_positions + 3 * i;
  const double* n = init_normals + 3 * i;
  for (int r = 0; r < 3; ++r) {
    curr_positions[3 * i + r] = M[r] * p[0] + M[4 + r] * p[1] + M[8 + r] * p[2] + M[12 + r];
    curr_normals[3 * i + r] = M[r] * n[0] + M[4 + r] * n[1] + M[8 + r] * n[2];
  }
}

void launchUpdateVerticesPos(const double* node_transform, const double* bone_transforms, const int* bone_affected,
                             const double* bone_weights_arr, const double* init_positions, double* curr_positions,
                             const double* init_normals, double* curr_normals, int nV, int nB) {
  const int threads = 512;
  DZ_LAUNCH(updateVerticesPosKernel, dim3(nV / threads + 1), dim3(threads), node_transform, bone_transforms,
            bone_affected, bone_weights_arr, init_positions, curr_positions, init_normals, curr_normals, nV, nB);
  checkCudaLaunch();
}
