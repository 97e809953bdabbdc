#include "mlSinglePhaseSolverNew.h"

#include <initializer_list>
#include <string>

#include "OutOfMemory.h"
#include "duriz/gpu_inc/cudaCheck.h"

void mlSinglePhaseSolverNew::allocAndUpload(mlFlow* mllbm_host, mlFlow* mllbm_dev, int i) {
  cudaSetDevice(gpuDeviceId);
  // Room in the lists first, so that appending cannot fail once the arrays are allocated.
  const auto makeRoom = [](auto&... lists) { (lists.reserve(lists.size() + 1), ...); };
  makeRoom(f_dev_vec, fPost_dev_vec, fStore_dev_vec, rou_dev_vec, ux_dev_vec, uy_dev_vec, uz_dev_vec, flag_dev_vec,
           param_dev_vec, forcex_dev_vec, forcey_dev_vec, forcez_dev_vec, Sopt_dev_vec);

  float* f_dev = nullptr;
  float* fPost_dev = nullptr;
  float* fStore_dev = nullptr;
  mlDensity<float>* rou_dev = nullptr;
  float* ux_dev = nullptr;
  float* uy_dev = nullptr;
  float* uz_dev = nullptr;
  MLLATTICENODE_FLAG* flag_dev = nullptr;
  MLFluidParam* param_dev = nullptr;
  double* forcex_dev = nullptr;
  double* forcey_dev = nullptr;
  double* forcez_dev = nullptr;
  float* Sopt_dev = nullptr;

  // A device without room for the whole lattice keeps none of it.
  try {
    checkCudaAllocation(cudaMalloc(&f_dev, 27 * mllbm_host->count * sizeof(float)));
    checkCudaAllocation(cudaMalloc(&fPost_dev, 27 * mllbm_host->count * sizeof(float)));
    checkCudaAllocation(cudaMalloc(&fStore_dev, 27 * mllbm_host->count * sizeof(float)));
    checkCudaAllocation(cudaMalloc(&rou_dev, mllbm_host->count * sizeof(mlDensity<float>)));
    checkCudaAllocation(cudaMalloc(&ux_dev, mllbm_host->count * sizeof(float)));
    checkCudaAllocation(cudaMalloc(&uy_dev, mllbm_host->count * sizeof(float)));
    checkCudaAllocation(cudaMalloc(&uz_dev, mllbm_host->count * sizeof(float)));
    checkCudaAllocation(cudaMalloc(&flag_dev, mllbm_host->count * sizeof(MLLATTICENODE_FLAG)));
    checkCudaAllocation(cudaMalloc(&param_dev, sizeof(MLFluidParam)));
    checkCudaAllocation(cudaMalloc(&forcex_dev, mllbm_host->count * sizeof(double)));
    checkCudaAllocation(cudaMalloc(&forcey_dev, mllbm_host->count * sizeof(double)));
    checkCudaAllocation(cudaMalloc(&forcez_dev, mllbm_host->count * sizeof(double)));
    checkCudaAllocation(cudaMalloc(&Sopt_dev, mllbm_host->count * sizeof(float)));
  } catch (const OutOfMemory& e) {
    for (void* p : std::initializer_list<void*>{f_dev, fPost_dev, fStore_dev, rou_dev, ux_dev, uy_dev, uz_dev, flag_dev,
                                                param_dev, forcex_dev, forcey_dev, forcez_dev, Sopt_dev})
      checkCudaErrors(cudaFree(p));
    throw OutOfMemory("lattice " + std::to_string(i) + " (" + std::to_string(mllbm_host->count) + " nodes, " +
                      std::to_string(mllbm_host->count * kLatticeBytesPerNode) + " bytes): " + e.what());
  }

  checkCudaErrors(cudaMemcpy(f_dev, mllbm_host->f, 27 * mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(fPost_dev, mllbm_host->fPost, 27 * mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(fStore_dev, mllbm_host->fStore, 27 * mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(rou_dev, mllbm_host->rou, mllbm_host->count * sizeof(mlDensity<float>), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(ux_dev, mllbm_host->ux, mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(uy_dev, mllbm_host->uy, mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(uz_dev, mllbm_host->uz, mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(flag_dev, mllbm_host->flag, mllbm_host->count * sizeof(MLLATTICENODE_FLAG), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(param_dev, mllbm_host->param, sizeof(MLFluidParam), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(forcex_dev, mllbm_host->forcex, mllbm_host->count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(forcey_dev, mllbm_host->forcey, mllbm_host->count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(
      cudaMemcpy(forcez_dev, mllbm_host->forcez, mllbm_host->count * sizeof(double), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(Sopt_dev, mllbm_host->Sopt, mllbm_host->count * sizeof(float), cudaMemcpyHostToDevice));

  checkCudaErrors(cudaMemcpy(mllbm_dev, mllbm_host, sizeof(mlFlow), cudaMemcpyHostToDevice));

  checkCudaErrors(cudaMemcpy(&(mllbm_dev->f), &f_dev, sizeof(f_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->fPost), &fPost_dev, sizeof(fPost_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->fStore), &fStore_dev, sizeof(fStore_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->rou), &rou_dev, sizeof(rou_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->ux), &ux_dev, sizeof(ux_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->uy), &uy_dev, sizeof(uy_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->uz), &uz_dev, sizeof(uz_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->flag), &flag_dev, sizeof(flag_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->param), &param_dev, sizeof(param_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->forcex), &forcex_dev, sizeof(forcex_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->forcey), &forcey_dev, sizeof(forcey_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->forcez), &forcez_dev, sizeof(forcez_dev), cudaMemcpyHostToDevice));
  checkCudaErrors(cudaMemcpy(&(mllbm_dev->Sopt), &Sopt_dev, sizeof(Sopt_dev), cudaMemcpyHostToDevice));

  f_dev_vec.push_back(f_dev);
  fPost_dev_vec.push_back(fPost_dev);
  fStore_dev_vec.push_back(fStore_dev);
  rou_dev_vec.push_back(rou_dev);
  ux_dev_vec.push_back(ux_dev);
  uy_dev_vec.push_back(uy_dev);
  uz_dev_vec.push_back(uz_dev);
  flag_dev_vec.push_back(flag_dev);
  param_dev_vec.push_back(param_dev);
  forcex_dev_vec.push_back(forcex_dev);
  forcey_dev_vec.push_back(forcey_dev);
  forcez_dev_vec.push_back(forcez_dev);
  Sopt_dev_vec.push_back(Sopt_dev);
}

void mlSinglePhaseSolverNew::addLattice(mlFlow* mllbm_host) {
  mlFlow* mllbm_dev = nullptr;
  checkCudaErrors(cudaSetDevice(gpuDeviceId));
  checkCudaAllocation(cudaMalloc(&mllbm_dev, sizeof(mlFlow)));
  // A lattice that cannot be mirrored leaves the lists as they were.
  const std::size_t before = lbmvec.size();
  try {
    lbmvec.push_back(mllbm_host);
    lbm_dev_gpu.push_back(mllbm_dev);
    allocAndUpload(mllbm_host, mllbm_dev, static_cast<int>(before));
  } catch (...) {
    lbmvec.resize(before);
    lbm_dev_gpu.resize(before);
    checkCudaErrors(cudaFree(mllbm_dev));
    throw;
  }
}

void mlSinglePhaseSolverNew::freeGpu() {
  checkCudaErrors(cudaSetDevice(gpuDeviceId));
  for (std::size_t i = 0; i < f_dev_vec.size(); ++i) {
    checkCudaErrors(cudaFree(f_dev_vec[i]));
    checkCudaErrors(cudaFree(fPost_dev_vec[i]));
    checkCudaErrors(cudaFree(fStore_dev_vec[i]));
    checkCudaErrors(cudaFree(rou_dev_vec[i]));
    checkCudaErrors(cudaFree(ux_dev_vec[i]));
    checkCudaErrors(cudaFree(uy_dev_vec[i]));
    checkCudaErrors(cudaFree(uz_dev_vec[i]));
    checkCudaErrors(cudaFree(flag_dev_vec[i]));
    checkCudaErrors(cudaFree(forcex_dev_vec[i]));
    checkCudaErrors(cudaFree(forcey_dev_vec[i]));
    checkCudaErrors(cudaFree(forcez_dev_vec[i]));
    checkCudaErrors(cudaFree(Sopt_dev_vec[i]));
    checkCudaErrors(cudaFree(param_dev_vec[i]));
  }
  // The device records go with their arrays, so a freed solver holds no device memory.
  for (mlFlow* record : lbm_dev_gpu) checkCudaErrors(cudaFree(record));
  lbm_dev_gpu.clear();

  f_dev_vec.clear();
  fPost_dev_vec.clear();
  fStore_dev_vec.clear();
  rou_dev_vec.clear();
  ux_dev_vec.clear();
  uy_dev_vec.clear();
  uz_dev_vec.clear();
  flag_dev_vec.clear();
  param_dev_vec.clear();
  forcex_dev_vec.clear();
  forcey_dev_vec.clear();
  forcez_dev_vec.clear();
  Sopt_dev_vec.clear();
}
