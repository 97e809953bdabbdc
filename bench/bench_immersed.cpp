// Interpolation and spreading of a sphere of Lagrangian points in a 128 x 128 x 128 lattice: milliseconds
// per call and points per second, for 10 000 and 40 000 points, on one host thread and on all of them.
// Each figure is the median of five rounds.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "duriz/gpu_inc/gpuImmersed/mlImmersedBoundaryGpu.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

constexpr int kRounds = 5;

// The host device layer runs on one thread and on all of them (0); the CUDA build runs on the device.
#ifdef DUZAVOD_CUDA
const int kThreadCounts[] = {0};
void useThreads(int) {}
int threadsInUse() { return 0; }
#else
const int kThreadCounts[] = {1, 0};
void useThreads(int n) { dz::device::setHostThreads(n); }
int threadsInUse() { return dz::device::hostThreads(); }
#endif

template <class F>
double msPerCall(int reps, F&& call) {
  call();  // warm-up
  std::vector<double> rounds;
  for (int round = 0; round < kRounds; ++round) {
    const auto t0 = std::chrono::steady_clock::now();
    for (int r = 0; r < reps; ++r) call();
    const auto t1 = std::chrono::steady_clock::now();
    rounds.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count() / reps);
  }
  std::sort(rounds.begin(), rounds.end());
  return rounds[kRounds / 2];
}

}  // namespace

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
  mlFlow* dev = nullptr;
  cudaMalloc(&dev, sizeof(mlFlow));
  solver.lbmvec.push_back(flow.get());
  solver.lbm_dev_gpu.push_back(dev);
  solver.allocAndUpload(flow.get(), dev, 0);

  const mlVelocity3D<float> u0p{units.u0p[0], units.u0p[1], units.u0p[2]};
  std::printf("lattice %d x %d x %d, delta width 4, medians of %d rounds\n", flow->param->samples[0],
              flow->param->samples[1], flow->param->samples[2], kRounds);
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

    for (int threads : kThreadCounts) {
      useThreads(threads);
      const int reps = threads == 1 ? 2 : 10;
      const double interp = msPerCall(reps, [&] {
        mlInterpolateFluidForceGpu(mirror.mllaboundary_gpu, count, dev, *flow->param, u0p, 4, units.N, units.l0p,
                                   units.rou0p, units.u0k);
      });
      const double spread = msPerCall(reps, [&] {
        mlSpreadForceGpu(mirror.mllaboundary_gpu, count, dev, *flow->param, u0p, 4, units.N, units.l0p, units.rou0p,
                         units.u0k);
      });
      std::printf(
          "%6d points, %d threads: interpolation %8.3f ms (%6.2f Mpoints/s), spreading %8.3f ms "
          "(%6.2f Mpoints/s), both %8.3f ms\n",
          count, threadsInUse(), interp, count / interp * 1e-3, spread, count / spread * 1e-3, interp + spread);
    }
  }
  useThreads(0);
  solver.freeGpu();
  return 0;
}
