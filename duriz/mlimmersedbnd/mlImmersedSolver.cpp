#include "mlImmersedSolver.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/gpuImmersed/mlImmersedBoundaryGpu.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "supplement/IBBoundaryMemMgr.h"

void mlImmersedSolver::step(mlSinglePhaseSolverNew& solver, int i) {
  const int gpuDeviceId = solver.ibDeviceId;
  checkCudaErrors(cudaSetDevice(gpuDeviceId));

  mlFlow* dev = solver.lbm_dev_gpu[i];
  const MLFluidParam& param = *solver.lbmvec[i]->param;
  const mlLatticeUnits& u = solver.units;  // lattice 0's units serve every lattice
  const mlVelocity3D<float> u0p{u.u0p[0], u.u0p[1], u.u0p[2]};
  mlSpreadStage spreading;
  for (IBBoundaryMemMgr* b : solver.ibBoundaries) {
    const int count = b->mllaboundary->count;
    mlInterpolateFluidForceGpu(b->mllaboundary_gpu, count, dev, param, u0p, solver.ibDeltaWidth, u.N, u.l0p, u.rou0p,
                               u.u0k);
    spreading.spread(b->mllaboundary_gpu, count, dev, param, u0p, solver.ibDeltaWidth, u.N, u.l0p, u.rou0p, u.u0k);
  }
  spreading.finish();
}
