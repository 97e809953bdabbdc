#include "FluidHelper.h"

#include <stdexcept>
#include <string>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

namespace {

// Copies need lattice i on both sides: a solver whose device memory was freed has no device record.
void requireMirrored(const mlSinglePhaseSolverNew& solver, int i, const char* operation) {
  if (i < 0 || static_cast<std::size_t>(i) >= solver.lbmvec.size() ||
      static_cast<std::size_t>(i) >= solver.lbm_dev_gpu.size())
    throw std::out_of_range(std::string(operation) + ": lattice " + std::to_string(i) + " is not on the device");
}

}  // namespace

void FluidHelper::upload(mlSinglePhaseSolverNew& solver, int i) {
  requireMirrored(solver, i, "FluidHelper::upload");
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
  requireMirrored(solver, i, "FluidHelper::download");
  checkCudaErrors(cudaSetDevice(solver.gpuDeviceId));

  // A byte copy of the device record: its pointers are device addresses and must not be released here.
  mlFlow mllbm_host;
  checkCudaErrors(cudaMemcpy(&mllbm_host, solver.lbm_dev_gpu[i], sizeof(mlFlow), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->ux, (mllbm_host.ux), solver.lbmvec[i]->count * sizeof(float),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->uy, (mllbm_host.uy), solver.lbmvec[i]->count * sizeof(float),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->uz, (mllbm_host.uz), solver.lbmvec[i]->count * sizeof(float),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->forcex, (mllbm_host.forcex), solver.lbmvec[i]->count * sizeof(double),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->forcey, (mllbm_host.forcey), solver.lbmvec[i]->count * sizeof(double),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->forcez, (mllbm_host.forcez), solver.lbmvec[i]->count * sizeof(double),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->rou, (mllbm_host.rou),
                             solver.lbmvec[i]->count * sizeof(mlDensity<float>), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->flag, (mllbm_host.flag),
                             solver.lbmvec[i]->count * sizeof(MLLATTICENODE_FLAG), cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->f, (mllbm_host.f), 27 * solver.lbmvec[i]->count * sizeof(float),
                             cudaMemcpyDeviceToHost));
  checkCudaErrors(cudaMemcpy(solver.lbmvec[i]->fPost, (mllbm_host.fPost), 27 * solver.lbmvec[i]->count * sizeof(float),
                             cudaMemcpyDeviceToHost));
  solver.lbmvec[i]->start[0] = mllbm_host.start[0];
  solver.lbmvec[i]->start[1] = mllbm_host.start[1];
  solver.lbmvec[i]->start[2] = mllbm_host.start[2];
  mllbm_host.dropPointers();
}
