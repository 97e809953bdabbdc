// Throughput of the whole fluid step, with and without immersed bodies.
//
// Usage: bench_solverStep [nx ny nz [steps]]  (default 128 128 128, 10 steps per round)
// For 1 thread and all threads: the copy yardstick, then for 0, 1 and 4 point sets of 10 000 points the
// step's MLUPS and ms, the immersed-boundary stage's ms and its share of the step, and the bytes per node
// of the five lattice kernels with the memory traffic they make beside the streaming copy's; last the
// step without bodies with plain stores only. The stage is timed twice: on its own over as many calls
// (its data then still in the caches of the threads that last wrote it), and in the step, as the step's
// time with the point sets less its time without them (the two timed in turns, three times, the median
// difference). Figures are medians of three rounds.
#include <omp.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "bench/benchLattice.h"
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
  const int ny = argc > 3 ? std::atoi(argv[2]) : 128;
  const int nz = argc > 3 ? std::atoi(argv[3]) : 128;
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
  solver.addLattice(lattice.get());

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

  std::printf("lattice %d x %d x %d (%.2f M nodes), medians of 3 rounds of %d steps, point sets of 10000 points\n", nx,
              ny, nz, nodes / 1e6, steps);
  const bool streaming = dz::device::useStreamingStores(sizeof(float) * 27 * lattice->count);
  for (int threads : {1, omp_get_max_threads()}) {
    dz::device::setHostThreads(threads);
    const CopyBandwidth bw = copyBandwidth(threads);
    std::printf("\n");
    bench::printYardstick(threads, bw);
    std::printf("  %-22s %8s %9s %8s %9s %10s %9s %8s %9s\n", "point sets", "MLUPS", "ms/step", "IB ms", "IB share",
                "in step ms", "share", "B/node", "of copy");
    auto use = [&](int sets) {
      solver.ibBoundaries.clear();
      for (int b = 0; b < sets; ++b) solver.ibBoundaries.push_back(mirrors[b].get());
      bodies->boundaries = solver.ibBoundaries;
    };
    auto stepSeconds = [&](int sets) {
      use(sets);
      return bench::secondsPerCall(steps, [&] { solver.solverStep(TWO_WAY); });
    };
    auto median = [](std::vector<double> v) {
      std::sort(v.begin(), v.end());
      return v[v.size() / 2];
    };
    auto row = [&](const char* name, int sets, bool stores) {
      std::vector<double> with, difference;
      for (int r = 0; r < (sets == 0 ? 1 : 3); ++r) {
        with.push_back(stepSeconds(sets));
        if (sets > 0) difference.push_back(with.back() - stepSeconds(0));
      }
      const double step = median(with);
      use(sets);
      const double ib = sets == 0 ? 0.0 : bench::secondsPerCall(steps, [&] { mlImmersedSolver::step(solver, 0); });
      const double inStep = sets == 0 ? 0.0 : median(difference);
      const double bytes = bench::kernelBytes(nx, ny, nz, stores).step();
      const double traffic = nodes / step * bytes;
      std::printf("  %-22s %8.1f %9.2f %8.2f %8.1f%% %10.2f %8.1f%% %8.0f %8.0f%%\n", name, nodes / step / 1e6,
                  1e3 * step, 1e3 * ib, 100 * ib / step, 1e3 * inStep, 100 * inStep / step, bytes,
                  100 * traffic / bw.streamingTraffic);
    };
    row("0", 0, streaming);
    row("1", 1, streaming);
    row("4", 4, streaming);
    dz::device::streamingStores = dz::device::StreamingStores::never;
    row("0, plain stores only", 0, false);
    dz::device::streamingStores = dz::device::StreamingStores::automatic;
  }
  dz::device::setHostThreads(0);
  mirrors.clear();
  solver.freeGpu();
  return 0;
}
