// Interpolation and spreading of a sphere of Lagrangian points in a 96^3 lattice: milliseconds per call
// and points per second, for two point counts.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>

#include "duriz/gpu_inc/gpuImmersed/mlImmersedBoundaryGpu.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

template <class F>
double msPerCall(int reps, F&& call) {
  call();  // warm-up
  const auto t0 = std::chrono::steady_clock::now();
  for (int r = 0; r < reps; ++r) call();
  const auto t1 = std::chrono::steady_clock::now();
  return std::chrono::duration<double, std::milli>(t1 - t0).count() / reps;
}

}  // namespace

int main() {
  auto params = std::make_shared<simParams>();
  params->setup_mode = simParams::MANUAL;
  params->width = params->height = params->depth = 1.5f;
  params->dx = 1.5f / 96.0f;
  params->l0p = 1.5f;
  params->N = 96;
  params->u0p = 1;
  const mlLatticeUnits units = params->toLatticeUnits();
  auto flow = initFlow(params);

  mlSinglePhaseSolverNew solver;
  mlFlow* dev = nullptr;
  cudaMalloc(&dev, sizeof(mlFlow));
  solver.lbmvec.push_back(flow.get());
  solver.lbm_dev_gpu.push_back(dev);
  solver.allocAndUpload(flow.get(), dev, 0);

  const mlVelocity3D<float> u0p{units.u0p[0], units.u0p[1], units.u0p[2]};
  std::printf("lattice 96^3, delta width 4\n");
  for (int count : {5000, 50000}) {
    // Points on a sphere of radius 0.4 m at the box centre (a Fibonacci lattice), moving along x.
    mlLagrangeBoundary points(count, 4.0f * 3.1415926f * 0.16f / count);
    for (int t = 0; t < count; ++t) {
      const float z = 1.0f - 2.0f * (t + 0.5f) / count;
      const float rho = std::sqrt(1.0f - z * z);
      const float phi = 2.3999632f * t;
      points.normalx[t] = rho * std::cos(phi);
      points.normaly[t] = rho * std::sin(phi);
      points.normalz[t] = z;
      points.coordx[t] = 0.4f * points.normalx[t];
      points.coordy[t] = 0.4f * points.normaly[t];
      points.coordz[t] = 0.4f * points.normalz[t];
      points.ux[t] = 0.1f;
    }
    IBBoundaryMemMgr mirror;
    mirror.attach(&points);
    mirror.alloc();
    mirror.upload();

    const double interp = msPerCall(20, [&] {
      mlInterpolateFluidForceGpu(mirror.mllaboundary_gpu, count, dev, *flow->param, u0p, 4, units.N, units.l0p,
                                 units.rou0p, units.u0k);
    });
    const double spread = msPerCall(20, [&] {
      mlSpreadForceGpu(mirror.mllaboundary_gpu, count, dev, *flow->param, u0p, 4, units.N, units.l0p, units.rou0p,
                       units.u0k);
    });
    std::printf("%6d points: interpolation %8.3f ms (%6.2f Mpoints/s), spreading %8.3f ms (%6.2f Mpoints/s)\n", count,
                interp, count / interp * 1e-3, spread, count / spread * 1e-3);
  }
  solver.freeGpu();
  return 0;
}
