#include "IBSamplerMeshGpuKernel.h"

#include "duriz/gpu_inc/cudaCheck.h"

__global__ void updateSamplesPosNormalKernel(int meshIdx, const MeshFace* faces, const MeshSample* samples,
                                             const double* positions, const double* normals, float* coordx,
                                             float* coordy, float* coordz, float* normalx, float* normaly,
                                             float* normalz, int n) {
  const int i = blockIdx.x * blockDim.x + threadIdx.x;
  if (i >= n) return;
  const MeshSample s = samples[i];
  if (s.meshIdx != meshIdx) return;

  const MeshFace face = faces[s.faceIdx];
  const int v0 = 3 * face.vert0, v1 = 3 * face.vert1, v2 = 3 * face.vert2;
  double p[3], nb[3];
  for (int a = 0; a < 3; ++a) {
    p[a] = s.bary[0] * positions[v0 + a] + s.bary[1] * positions[v1 + a] + s.bary[2] * positions[v2 + a];
    nb[a] = s.bary[0] * normals[v0 + a] + s.bary[1] * normals[v1 + a] + s.bary[2] * normals[v2 + a];
  }
  coordx[i] = static_cast<float>(p[0]);
  coordy[i] = static_cast<float>(p[1]);
  coordz[i] = static_cast<float>(p[2]);

  float nx = static_cast<float>(nb[0]), ny = static_cast<float>(nb[1]), nz = static_cast<float>(nb[2]);
  const float length = sqrtf(nx * nx + ny * ny + nz * nz);
  // Opposite vertex normals can cancel: a zero normal stays zero rather than becoming NaN.
  if (length > 0.0f) {
    nx /= length;
    ny /= length;
    nz /= length;
  }
  normalx[i] = nx;
  normaly[i] = ny;
  normalz[i] = nz;
}

void launchUpdateSamplesPosNormal(int meshIdx, const MeshFace* faces, const MeshSample* samples,
                                  const double* positions, const double* normals, float* coordx, float* coordy,
                                  float* coordz, float* normalx, float* normaly, float* normalz, int n) {
  const int threads = 512;
  DZ_LAUNCH(updateSamplesPosNormalKernel, dim3(n / threads + 1), dim3(threads), meshIdx, faces, samples, positions,
            normals, coordx, coordy, coordz, normalx, normaly, normalz, n);
  checkCudaLaunch();
}
