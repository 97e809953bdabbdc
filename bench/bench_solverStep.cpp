// Throughput of the whole fluid step, with and without immersed bodies.
//
// Usage: bench_solverStep [nx ny nz [steps]]  (default 128 64 64, 10 steps)
// For 1 thread and all threads: the bandwidth of a plain copy, then for 0, 1 and 4 point sets of 10 000
// points the step's MLUPS and its time split into the five lattice kernels and the immersed-boundary
// stage (each timed on its own over the same steps).
#include <omp.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/copyBandwidth.h"
#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/mlimmersedbnd/mlImmersedSolver.h"
#include "duriz/mlimmersedbnd/mlLagrangeBoundary.h"
#include "duriz/mlsolver/couplingMode.h"
#include "duriz/mlsolver/mlBaseCouplingSolver.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"
#include "supplement/IBBoundaryMemMgr.h"

namespace {

using Clock = std::chrono::steady_clock;

double since(Clock::time_point t0) { return std::chrono::duration<double>(Clock::now() - t0).count(); }

// Bodies that hold still: the step's cost is the fluid's and the coupling's, not the bodies'.
class StillBodies : public mlBaseCouplingSolver {
 public:
  std::vector<IBBoundaryMemMgr*> boundaries;
  void step(int, float, float) override {}
  std::vector<IBBoundaryMemMgr*> getLagrangeBoundaries() override { return boundaries; }
  void setGravity(const Eigen::Vector3d&) override {}
  void setTimestep(float) override {}
  void reset() override {}
  dart::dynamics::Frame* getRefFrame() override { return nullptr; }
  bool isInertialFrame() override { return true; }
};

// A sphere of n points (a Fibonacci lattice) of the given radius, moving along x.
std::unique_ptr<mlLagrangeBoundary> sphere(int n, float cx, float cy, float cz, float radius) {
  auto points = std::make_unique<mlLagrangeBoundary>(n, 4.0f * 3.1415927f * radius * radius / n);
  const float golden = 3.1415927f * (3.0f - std::sqrt(5.0f));
  for (int k = 0; k < n; ++k) {
    const float y = 1.0f - 2.0f * (k + 0.5f) / n;
    const float r = std::sqrt(1.0f - y * y);
    const float nx = r * std::cos(golden * k), ny = y, nz = r * std::sin(golden * k);
    points->coordx[k] = cx + radius * nx;
    points->coordy[k] = cy + radius * ny;
    points->coordz[k] = cz + radius * nz;
    points->normalx[k] = nx;
    points->normaly[k] = ny;
    points->normalz[k] = nz;
    points->ux[k] = 0.02f;
  }
  return points;
}

}  // namespace

int main(int argc, char** argv) {
  const int nx = argc > 3 ? std::atoi(argv[1]) : 128;
  const int ny = argc > 3 ? std::atoi(argv[2]) : 64;
  const int nz = argc > 3 ? std::atoi(argv[3]) : 64;
  const int steps = argc > 4 ? std::atoi(argv[4]) : 10;

  // Lattice units: dx = 1 m, u0p = u0k, so physical and lattice velocities agree.
  auto params = std::make_shared<simParams>();
  params->setup_mode = simParams::MANUAL;
  params->width = nx - 0.5f;
  params->height = ny - 0.5f;
  params->depth = nz - 0.5f;
  params->l0p = 1;
  params->N = 1;
  params->u0p = 0.1f;
  params->visp = 0.05f;
  auto lattice = initFlow(params);
  for (std::size_t i = 0; i < lattice->count; ++i) setNodeVelocity(*lattice, static_cast<std::int32_t>(i), 0, 0, 0);
  const double nodes = static_cast<double>(lattice->count);

  mlSinglePhaseSolverNew solver;
  solver.units = params->toLatticeUnits();
  solver.units.tp = 1;
  auto bodies = std::make_shared<StillBodies>();
  solver.couplingSolver = bodies;
  mlFlow* record = nullptr;
  cudaMalloc(&record, sizeof(mlFlow));
  solver.lbmvec.push_back(lattice.get());
  solver.lbm_dev_gpu.push_back(record);
  solver.allocAndUpload(lattice.get(), record, 0);

  std::vector<std::unique_ptr<mlLagrangeBoundary>> sets;
  std::vector<std::unique_ptr<IBBoundaryMemMgr>> mirrors;
  const float radius = 0.2f * std::min({nx, ny, nz});
  for (int b = 0; b < 4; ++b) {
    sets.push_back(sphere(10000, lattice->start[0] + (b + 1) * nx / 5.0f, lattice->start[1] + ny / 2.0f,
                          lattice->start[2] + nz / 2.0f, radius));
    mirrors.push_back(std::make_unique<IBBoundaryMemMgr>());
    mirrors.back()->attach(sets.back().get());
    mirrors.back()->alloc();
    mirrors.back()->upload();
  }

  const MLFluidParam& param = *lattice->param;
  const float s = solver.units.u0k / solver.units.u0p[0];
  const double scale = s * s * solver.units.l0p / solver.units.N;
  mlTransform4d identity{};
  for (int d = 0; d < 4; ++d) identity.m[d * 5] = 1.0;
  auto latticeKernels = [&] {
    mlAddForcetoUOptGpu(record, param, {scale, scale, scale}, {}, {}, {}, identity, s);
    mlCollideAddForceHighorderFiitingGpu(record, param);
    mlCuStream3dOptGpu(record, param);
    mlBndCondNEEGpu(record, param, true);
    mlCalOneOrderMomentOptGpu(record, param);
  };

  std::printf("lattice %d x %d x %d (%.2f M nodes), %d steps, point sets of 10000 points\n", nx, ny, nz, nodes / 1e6,
              steps);
  for (int threads : {1, omp_get_max_threads()}) {
    dz::device::setHostThreads(threads);
    std::printf("\n%d thread(s): plain copy %.1f GB/s\n", threads, copyBandwidth(27 * lattice->count, threads) / 1e9);
    std::printf("  %-6s %10s %10s %12s %12s %10s\n", "sets", "MLUPS", "ms/step", "lattice ms", "IB ms", "IB share");
    for (int sets_used : {0, 1, 4}) {
      solver.ibBoundaries.clear();
      for (int b = 0; b < sets_used; ++b) solver.ibBoundaries.push_back(mirrors[b].get());
      bodies->boundaries = solver.ibBoundaries;
      solver.solverStep(TWO_WAY);  // warm-up

      auto t0 = Clock::now();
      for (int k = 0; k < steps; ++k) solver.solverStep(TWO_WAY);
      const double step = since(t0) / steps;
      t0 = Clock::now();
      for (int k = 0; k < steps; ++k) latticeKernels();
      const double lattice = since(t0) / steps;
      t0 = Clock::now();
      for (int k = 0; k < steps; ++k) mlImmersedSolver::step(solver, 0);
      const double ib = since(t0) / steps;
      std::printf("  %-6d %10.1f %10.2f %12.2f %12.2f %9.1f%%\n", sets_used, nodes / step / 1e6, 1e3 * step,
                  1e3 * lattice, 1e3 * ib, 100 * ib / (lattice + ib));
    }
  }
  mirrors.clear();
  solver.freeGpu();
  return 0;
}
