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
}

void mlCalOneOrderMomentOptGpu(mlFlow* flow, const MLFluidParam& param) {
  DZ_LAUNCH(mlCalOneOrderMomentOptKernel, mlLatticeGrid(param, 32, 4), dim3(32, 4, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param));
  checkCudaLaunch();
}
