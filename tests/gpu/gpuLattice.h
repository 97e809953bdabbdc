// A lattice of chosen size on the host and its device twin, for the kernel tests.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <memory>
#include <vector>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlFlow.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

namespace gputest {

// Host lattice of a box of the given extents and spacing dx at rest (rho = 1, f = fPost = weights),
// node (0, 0, 0) at start (default the origin). Extents need not be multiples of dx.
inline std::unique_ptr<mlFlow> restBox(float width, float height, float depth, float viscosity, float dx = 1,
                                       const float* start = nullptr) {
  const float origin[3] = {0, 0, 0};
  if (start == nullptr) start = origin;
  auto p = std::make_shared<simParams>();
  p->setup_mode = simParams::MANUAL;
  p->width = width;
  p->height = height;
  p->depth = depth;
  p->x0 = start[0] + 0.5f * p->width;
  p->y0 = start[1] + 0.5f * p->height;
  p->z0 = start[2] + 0.5f * p->depth;
  p->dx = dx;
  p->N = 1 / dx;
  p->l0p = p->u0p = 1;
  auto flow = initFlow(p);
  flow->viscosity = viscosity;
  const std::size_t n = flow->count;
  std::fill(flow->fStore, flow->fStore + 27 * n, 0.0f);
  for (int q = 0; q < 27; ++q)
    for (std::size_t i = 0; i < n; ++i) flow->f[q * n + i] = flow->fPost[q * n + i] = d3q27::w[q];
  return flow;
}

// The host lattice with a device twin; upload() and download() copy every array (and the parameters up).
struct GpuLattice {
  std::unique_ptr<mlFlow> host;
  mlSinglePhaseSolverNew solver;
  mlFlow* dev = nullptr;

  GpuLattice(int nx, int ny, int nz, float viscosity = 0.05f, float dx = 1, const float* start = nullptr)
      : host(restBox(nx * dx, ny * dx, nz * dx, viscosity, dx, start)) {}
  explicit GpuLattice(std::unique_ptr<mlFlow> lattice) : host(std::move(lattice)) {}
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
  float& post(int q, std::size_t i) { return host->fPost[q * count() + i]; }

  // First call allocates the device lattice; later calls copy the host arrays over it.
  void upload() {
    if (!dev) {
      solver.addLattice(host.get());
      dev = solver.lbm_dev_gpu[0];
      return;
    }
    arrays(true);
  }
  void download() { arrays(false); }

  // Copies every array one way (the parameters only up).
  void arrays(bool up) {
    const std::size_t n = count();
    const cudaMemcpyKind kind = up ? cudaMemcpyHostToDevice : cudaMemcpyDeviceToHost;
    auto both = [&](auto* h, auto* d, std::size_t len) {
      checkCudaErrors(cudaMemcpy(up ? (void*)d : (void*)h, up ? (void*)h : (void*)d, len * sizeof(*h), kind));
    };
    both(host->f, solver.f_dev_vec[0], 27 * n);
    both(host->fPost, solver.fPost_dev_vec[0], 27 * n);
    both(host->flag, solver.flag_dev_vec[0], n);
    both(host->ux, solver.ux_dev_vec[0], n);
    both(host->uy, solver.uy_dev_vec[0], n);
    both(host->uz, solver.uz_dev_vec[0], n);
    both(host->rou, solver.rou_dev_vec[0], n);
    both(host->forcex, solver.forcex_dev_vec[0], n);
    both(host->forcey, solver.forcey_dev_vec[0], n);
    both(host->forcez, solver.forcez_dev_vec[0], n);
    both(host->Sopt, solver.Sopt_dev_vec[0], n);
    if (up) both(host->param, solver.param_dev_vec[0], 1);
  }
};

// Every node at the equilibrium of (rho, u_x, u_y, u_z) = state(x, y, z) in f and fPost; ux, uy, uz hold
// u, or the momentum rho u as the moments kernel leaves it.
template <class State>
void setEquilibrium(GpuLattice& l, State state, bool momentum = false) {
  for (int z = 0; z < l.nz(); ++z)
    for (int y = 0; y < l.ny(); ++y)
      for (int x = 0; x < l.nx(); ++x) {
        const std::size_t i = l.index(x, y, z);
        const std::array<float, 4> s = state(x, y, z);
        const float scale = momentum ? s[0] : 1.0f;
        l.host->rou[i] = s[0];
        l.host->ux[i] = scale * s[1];
        l.host->uy[i] = scale * s[2];
        l.host->uz[i] = scale * s[3];
        for (int q = 0; q < 27; ++q) l.f(q, i) = l.post(q, i) = d3q27::equilibrium(q, s[0], s[1], s[2], s[3]);
      }
}

// Density and momentum of the populations f of node i.
inline std::array<double, 4> nodeMoments(GpuLattice& l, std::size_t i) {
  std::array<double, 4> m{};
  for (int q = 0; q < 27; ++q) {
    const int c[4] = {1, d3q27::ex[q], d3q27::ey[q], d3q27::ez[q]};
    for (int k = 0; k < 4; ++k) m[k] += c[k] * l.f(q, i);
  }
  return m;
}

// Kernel tests that step many times run on one CPU thread: their lattices are a few blocks, and test
// programs run side by side.
class OneThread : public ::testing::Test {
 protected:
  void SetUp() override { dz::device::setHostThreads(1); }
  void TearDown() override { dz::device::setHostThreads(0); }
};

}  // namespace gputest
