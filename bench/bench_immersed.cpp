// Interpolation and spreading of a sphere of Lagrangian points in a 128 x 128 x 128 lattice: milliseconds
// per call and points per second, for 10 000 and 40 000 points, on one host thread and on all of them.
// Each figure is the median of three rounds.
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "bench/benchTiming.h"
#include "duriz/gpu_inc/gpuImmersed/mlImmersedBoundaryGpu.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "supplement/IBBoundaryMemMgr.h"

int main() {
  // A 2 m cube centred at the origin, 64 nodes per metre.
  auto params = std::make_shared<simParams>();
  params->setup_mode = simParams::MANUAL;
  params->width = params->height = params->depth = 2.0f;
  params->dx = 1.0f / 64.0f;
  params->l0p = 1.0f;
  params->N = 64;
  params->u0p = 1;
  const mlLatticeUnits units = params->toLatticeUnits();
  auto flow = initFlow(params);

  mlSinglePhaseSolverNew solver;
  solver.addLattice(flow.get());
  mlFlow* dev = solver.lbm_dev_gpu[0];

  const mlVelocity3D<float> u0p{units.u0p[0], units.u0p[1], units.u0p[2]};
  std::printf("lattice %d x %d x %d, delta width 4, medians of 3 rounds\n", flow->param->samples[0],
              flow->param->samples[1], flow->param->samples[2]);
  for (int count : {10000, 40000}) {
    // Points on a sphere of radius 0.3 m at the box centre (a Fibonacci lattice), moving along x.
    mlLagrangeBoundary points(count, 4.0f * 3.1415926f * 0.09f / count);
    for (int t = 0; t < count; ++t) {
      const float z = 1.0f - 2.0f * (t + 0.5f) / count;
      const float rho = std::sqrt(1.0f - z * z);
      const float phi = 2.3999632f * t;
      points.normalx[t] = rho * std::cos(phi);
      points.normaly[t] = rho * std::sin(phi);
      points.normalz[t] = z;
      points.coordx[t] = 0.3f * points.normalx[t];
      points.coordy[t] = 0.3f * points.normaly[t];
      points.coordz[t] = 0.3f * points.normalz[t];
      points.ux[t] = 0.1f;
    }
    IBBoundaryMemMgr mirror;
    mirror.attach(&points);
    mirror.alloc();
    mirror.upload();

    for (int threads : bench::kThreadCounts) {
      bench::useThreads(threads);
      const int reps = threads == 1 ? 2 : 10;
      const double interp = bench::msPerCall(reps, [&] {
        mlInterpolateFluidForceGpu(mirror.mllaboundary_gpu, count, dev, *flow->param, u0p, 4, units.N, units.l0p,
                                   units.rou0p, units.u0k);
      });
      const double spread = bench::msPerCall(reps, [&] {
        mlSpreadForceGpu(mirror.mllaboundary_gpu, count, dev, *flow->param, u0p, 4, units.N, units.l0p, units.rou0p,
                         units.u0k);
      });
      std::printf(
          "%6d points, %d threads: interpolation %8.3f ms (%6.2f Mpoints/s), spreading %8.3f ms "
          "(%6.2f Mpoints/s), both %8.3f ms\n",
          count, bench::threadsInUse(), interp, count / interp * 1e-3, spread, count / spread * 1e-3, interp + spread);
    }
  }
  bench::useThreads(0);
  solver.freeGpu();
  return 0;
}
