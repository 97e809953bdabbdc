#include "mlWave.h"

#include <cmath>

#include "duriz/gpu_inc/cudaCheck.h"
#include "mlCentralMoments.cuh"
#include "mlThreadIndex.cuh"

namespace {

constexpr int kLastStep = 299;
constexpr float kTwoPi = 6.2831852f;
constexpr float kPeriod = 20.0f;  // steps
constexpr float kAmplitude = 0.001f;

}  // namespace

__global__ void mlWaveKernel(mlFlow* flow, int nx, int ny, int nz, int step) {
  if (step > kLastStep || nx < 1 || ny < 1 || nz < 1) return;
  const int count = nx * ny * nz;
  const int i = mlNodeAt(nx / 2, ny / 2, nz / 2, nx, ny).i;
  const float rho = 1.0f + kAmplitude * sinf(kTwoPi * static_cast<float>(step) / kPeriod);
  float feq[27];
  mlEquilibrium(rho, flow->ux[i], flow->uy[i], flow->uz[i], feq);
  for (int q = 0; q < 27; ++q) mlDirection(flow->f, q, count)[i] = mlDirection(flow->fPost, q, count)[i] = feq[q];
}

void mlWaveGpu(mlFlow* flow, const MLFluidParam& param, int step) {
  DZ_LAUNCH(mlWaveKernel, dim3(1, 1, 1), dim3(1, 1, 1), flow, param.samples[0], param.samples[1], param.samples[2],
            step);
  checkCudaLaunch();
}
