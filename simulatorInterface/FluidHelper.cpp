#include "FluidHelper.h"

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

void FluidHelper::upload(mlSinglePhaseSolverNew& solver, int i) {
  checkCudaErrors(cudaSetDevice(solver.gpuDeviceId));
  mlFlow& host = *solver.lbmvec[i];
  mlFlow* dev = solver.lbm_dev_gpu[i];

  checkCudaErrors(cudaMemcpy(solver.ux_dev_vec[i], host.ux, host.count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->ux), &solver.ux_dev_vec[i], sizeof(float*), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(solver.uy_dev_vec[i], host.uy, host.count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->uy), &solver.uy_dev_vec[i], sizeof(float*), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(solver.uz_dev_vec[i], host.uz, host.count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->uz), &solver.uz_dev_vec[i], sizeof(float*), cudaMemcpyHostToDevice));

  checkCudaErrors(
      cudaMemcpy(solver.forcex_dev_vec[i], host.forcex, host.count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->forcex), &solver.forcex_dev_vec[i], sizeof(double*), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(solver.forcey_dev_vec[i], host.forcey, host.count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->forcey), &solver.forcey_dev_vec[i], sizeof(double*), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(solver.forcez_dev_vec[i], host.forcez, host.count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->forcez), &solver.forcez_dev_vec[i], sizeof(double*), cudaMemcpyHostToDevice));

  checkCudaErrors(
      cudaMemcpy(solver.flag_dev_vec[i], host.flag, host.count * sizeof(MLLATTICENODE_FLAG), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(&(dev->flag), &solver.flag_dev_vec[i], sizeof(MLLATTICENODE_FLAG*), cudaMemcpyHostToDevice));

  checkCudaErrors(cudaMemcpy(solver.f_dev_vec[i], host.f, 27 * host.count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->f), &solver.f_dev_vec[i], sizeof(float*), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(solver.fPost_dev_vec[i], host.fPost, 27 * host.count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(dev->fPost), &solver.fPost_dev_vec[i], sizeof(float*), cudaMemcpyHostToDevice));
}

void FluidHelper::download(mlSinglePhaseSolverNew& solver, int i) {
  checkCudaErrors(cudaSetDevice(solver.gpuDeviceId));
  mlFlow& host = *solver.lbmvec[i];

  // A byte copy of the device record: its pointers are device addresses and must not be released here.
  mlFlow mllbm_host;
  checkCudaErrors(cudaMemcpy(&mllbm_host, solver.lbm_dev_gpu[i], sizeof(mlFlow), cudaMemcpyDeviceToHost));
  const std::size_t count = host.count;
  checkCudaErrors(cudaMemcpy(host.ux, mllbm_host.ux, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.uy, mllbm_host.uy, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.uz, mllbm_host.uz, count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.forcex, mllbm_host.forcex, count * sizeof(double), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.forcey, mllbm_host.forcey, count * sizeof(double), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.forcez, mllbm_host.forcez, count * sizeof(double), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.rou, mllbm_host.rou, count * sizeof(mlDensity<float>), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.flag, mllbm_host.flag, count * sizeof(MLLATTICENODE_FLAG), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.f, mllbm_host.f, 27 * count * sizeof(float), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(host.fPost, mllbm_host.fPost, 27 * count * sizeof(float), cudaMemcpyDeviceToHost));
  host.start[0] = mllbm_host.start[0];
  host.start[1] = mllbm_host.start[1];
  host.start[2] = mllbm_host.start[2];
  mllbm_host.dropPointers();
}
