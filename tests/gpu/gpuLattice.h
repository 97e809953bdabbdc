// A lattice of chosen size on the host and its device twin, for the kernel tests.
#pragma once

#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

namespace gputest {

// Host lattice of nx x ny x nz nodes at rest (rho = 1, f = fPost = weights), dx = 1, origin 0.
inline std::unique_ptr<mlFlow> restLattice(int nx, int ny, int nz, float viscosity) {
  auto flow = std::make_unique<mlFlow>();
  const std::size_t n = static_cast<std::size_t>(nx) * ny * nz;
  flow->count = n;
  flow->viscosity = viscosity;
  flow->param = new MLFluidParam{};
  MLFluidParam& p = *flow->param;
  p.samples[0] = nx;
  p.samples[1] = ny;
  p.samples[2] = nz;
  p.width = static_cast<float>(nx);
  p.height = static_cast<float>(ny);
  p.depth = static_cast<float>(nz);
  p.dx = 1.0f;
  p.count = static_cast<std::uint32_t>(n);
  flow->f = new float[27 * n];
  flow->fPost = new float[27 * n];
  flow->fStore = new float[27 * n]();
  flow->flag = new MLLATTICENODE_FLAG[n];
  flow->ux = new float[n]();
  flow->uy = new float[n]();
  flow->uz = new float[n]();
  flow->rou = new mlDensity<float>[n];
  flow->forcex = new double[n]();
  flow->forcey = new double[n]();
  flow->forcez = new double[n]();
  flow->Sopt = new float[n]();
  for (std::size_t i = 0; i < n; ++i) {
    flow->flag[i] = NODE_FLUID;
    flow->rou[i] = 1.0f;
    for (int q = 0; q < 27; ++q) flow->f[q * n + i] = flow->fPost[q * n + i] = d3q27::w[q];
  }
  return flow;
}

template <class T>
void toDevice(T* dev, const T* host, std::size_t n) {
  checkCudaErrors(cudaMemcpy(dev, host, n * sizeof(T), cudaMemcpyHostToDevice));
}

template <class T>
void toHost(T* host, const T* dev, std::size_t n) {
  checkCudaErrors(cudaMemcpy(host, dev, n * sizeof(T), cudaMemcpyDeviceToHost));
}

// The host lattice with a device twin; upload() and download() copy every array and the parameters.
struct GpuLattice {
  std::unique_ptr<mlFlow> host;
  mlSinglePhaseSolverNew solver;
  mlFlow* dev = nullptr;

  GpuLattice(int nx, int ny, int nz, float viscosity = 0.05f) : host(restLattice(nx, ny, nz, viscosity)) {}
  ~GpuLattice() {
    if (dev) solver.freeGpu();
  }

  int nx() const { return host->param->samples[0]; }
  int ny() const { return host->param->samples[1]; }
  int nz() const { return host->param->samples[2]; }
  std::size_t count() const { return host->count; }
  std::size_t index(int x, int y, int z) const { return (static_cast<std::size_t>(z) * ny() + y) * nx() + x; }
  const MLFluidParam& param() const { return *host->param; }
  float& f(int q, std::size_t i) { return host->f[q * count() + i]; }

  // First call allocates the device lattice; later calls copy the host arrays over it.
  void upload() {
    if (!dev) {
      checkCudaErrors(cudaMalloc(&dev, sizeof(mlFlow)));
      solver.lbmvec.push_back(host.get());
      solver.lbm_dev_gpu.push_back(dev);
      solver.allocAndUpload(host.get(), dev, 0);
      return;
    }
    const std::size_t n = count();
    toDevice(solver.f_dev_vec[0], host->f, 27 * n);
    toDevice(solver.fPost_dev_vec[0], host->fPost, 27 * n);
    toDevice(solver.flag_dev_vec[0], host->flag, n);
    toDevice(solver.ux_dev_vec[0], host->ux, n);
    toDevice(solver.uy_dev_vec[0], host->uy, n);
    toDevice(solver.uz_dev_vec[0], host->uz, n);
    toDevice(solver.rou_dev_vec[0], host->rou, n);
    toDevice(solver.forcex_dev_vec[0], host->forcex, n);
    toDevice(solver.forcey_dev_vec[0], host->forcey, n);
    toDevice(solver.forcez_dev_vec[0], host->forcez, n);
    toDevice(solver.Sopt_dev_vec[0], host->Sopt, n);
    toDevice(solver.param_dev_vec[0], host->param, 1);
  }

  void download() {
    const std::size_t n = count();
    toHost(host->f, solver.f_dev_vec[0], 27 * n);
    toHost(host->fPost, solver.fPost_dev_vec[0], 27 * n);
    toHost(host->ux, solver.ux_dev_vec[0], n);
    toHost(host->uy, solver.uy_dev_vec[0], n);
    toHost(host->uz, solver.uz_dev_vec[0], n);
    toHost(host->rou, solver.rou_dev_vec[0], n);
    toHost(host->forcex, solver.forcex_dev_vec[0], n);
    toHost(host->forcey, solver.forcey_dev_vec[0], n);
    toHost(host->forcez, solver.forcez_dev_vec[0], n);
    toHost(host->Sopt, solver.Sopt_dev_vec[0], n);
  }

  // Origin of the device record.
  void deviceStart(float start[3]) const {
    mlFlow copy;
    toHost(reinterpret_cast<unsigned char*>(&copy), reinterpret_cast<const unsigned char*>(dev), sizeof(mlFlow));
    std::memcpy(start, copy.start, sizeof copy.start);
    copy.dropPointers();
  }
};

}  // namespace gputest
