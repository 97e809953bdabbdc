// Device lattices and point sets for driving the immersed-boundary kernels without the fluid step.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "../gpu/gpuLattice.h"
#include "duriz/gpu_inc/gpuImmersed/mlImmersedBoundaryGpu.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace immersed_test {

// Units passed to the kernels (N, l0p, rou0p, u0k, u0p); the defaults make every conversion factor 1.
struct Units {
  float N = 1, l0p = 1, rou0p = 1, u0k = 1;
  mlVelocity3D<float> u0p{1, 1, 1};
};

template <class T>
std::vector<T> fromDevice(const T* dev, int n) {
  std::vector<T> out(n);
  EXPECT_EQ(cudaMemcpy(out.data(), dev, n * sizeof(T), cudaMemcpyDeviceToHost), cudaSuccess);
  return out;
}

inline double sum(const std::vector<double>& v) {
  double s = 0;
  for (double e : v) s += e;
  return s;
}

// A lattice of nx * ny * nz nodes of spacing dx with node (0, 0, 0) at `start`, at rest on the host
// until toDevice(); host edits before that reach the device.
struct DeviceLattice : gputest::GpuLattice {
  DeviceLattice(int nx, int ny, int nz, float dx, const float start[3] = nullptr)
      : GpuLattice(nx, ny, nz, 0.05f, dx, start) {}
  void toDevice() { upload(); }
  // Node forces after the spreading, one array per axis.
  std::vector<double> forces(int axis) const {
    double* src[3] = {solver.forcex_dev_vec[0], solver.forcey_dev_vec[0], solver.forcez_dev_vec[0]};
    return fromDevice(src[axis], static_cast<int>(host->count));
  }
};

// A point set and its device mirror.
struct DevicePoints {
  DevicePoints(int n, float area) : host(n, area) {}

  void toDevice() {
    mirror.attach(&host);
    mirror.alloc();
    mirror.upload();
  }
  mlLagrangeBoundary* dev() const { return mirror.mllaboundary_gpu; }
  // Puts point t at lattice coordinates X.
  void place(int t, const float X[3], const DeviceLattice& lattice, const Units& u) {
    const float dx = u.l0p / u.N;
    host.coordx[t] = lattice.host->start[0] + X[0] * dx;
    host.coordy[t] = lattice.host->start[1] + X[1] * dx;
    host.coordz[t] = lattice.host->start[2] + X[2] * dx;
  }
  // Point forces after the interpolation, one array per axis.
  std::vector<double> forces(int axis) const {
    const double* src[3] = {mirror.forcex_dev, mirror.forcey_dev, mirror.forcez_dev};
    return fromDevice(src[axis], host.count);
  }

  mlLagrangeBoundary host;
  IBBoundaryMemMgr mirror;
};

inline void interpolate(DevicePoints& p, DeviceLattice& l, const Units& u, int width) {
  mlInterpolateFluidForceGpu(p.dev(), p.host.count, l.dev, *l.host->param, u.u0p, width, u.N, u.l0p, u.rou0p, u.u0k);
}

inline void spread(DevicePoints& p, DeviceLattice& l, const Units& u, int width) {
  mlSpreadForceGpu(p.dev(), p.host.count, l.dev, *l.host->param, u.u0p, width, u.N, u.l0p, u.rou0p, u.u0k);
}

inline void spread(mlSpreadStage& stage, DevicePoints& p, DeviceLattice& l, const Units& u, int width) {
  stage.spread(p.dev(), p.host.count, l.dev, *l.host->param, u.u0p, width, u.N, u.l0p, u.rou0p, u.u0k);
}

}  // namespace immersed_test
