// Throughput of the five lattice kernels of the fluid step against the machine's memory bandwidth.
//
// Usage: mlKernelBench [nx ny nz [steps]]  (default 128 128 128, 10 steps per round)
// For one thread and for all threads: the copy yardstick, then per kernel and for the five in sequence the
// MLUPS, ms per call, the bytes per node the kernel moves (write-allocate included), the memory traffic
// that makes and its share of the streaming copy's. Figures are medians of three rounds.
#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/benchLattice.h"
#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

namespace {

// A lattice with a gentle shear flow, so the collision works on non-trivial values.
std::unique_ptr<mlFlow> benchLattice(int nx, int ny, int nz) {
  auto flow = std::make_unique<mlFlow>();
  const std::size_t n = static_cast<std::size_t>(nx) * ny * nz;
  flow->count = n;
  flow->viscosity = 0.01f;
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
  flow->ux = new float[n];
  flow->uy = new float[n];
  flow->uz = new float[n];
  flow->rou = new mlDensity<float>[n];
  flow->forcex = new double[n]();
  flow->forcey = new double[n]();
  flow->forcez = new double[n]();
  flow->Sopt = new float[n]();
  for (int z = 0; z < nz; ++z)
    for (int y = 0; y < ny; ++y)
      for (int x = 0; x < nx; ++x) {
        const std::size_t i = (static_cast<std::size_t>(z) * ny + y) * nx + x;
        const float u = 0.05f * std::cos(6.2831853f * y / ny);
        flow->flag[i] = NODE_FLUID;
        flow->rou[i] = 1.0f;
        flow->ux[i] = u;
        flow->uy[i] = flow->uz[i] = 0.0f;
        for (int q = 0; q < 27; ++q) flow->f[q * n + i] = flow->fPost[q * n + i] = d3q27::equilibrium(q, 1.0f, u, 0, 0);
      }
  return flow;
}

struct Job {
  std::string name;
  double bytesPerNode;
  std::function<void()> run;
};

}  // namespace

int main(int argc, char** argv) {
  int nx = 128, ny = 128, nz = 128, steps = 10;
  if (argc >= 4) {
    nx = std::atoi(argv[1]);
    ny = std::atoi(argv[2]);
    nz = std::atoi(argv[3]);
  }
  if (argc >= 5) steps = std::atoi(argv[4]);
  if (nx < 3 || ny < 3 || nz < 3 || steps < 1) {
    std::fprintf(stderr, "usage: %s [nx ny nz [steps]]  (each size at least 3)\n", argv[0]);
    return 2;
  }

  auto host = benchLattice(nx, ny, nz);
  const std::size_t n = host->count;
  mlSinglePhaseSolverNew solver;
  solver.addLattice(host.get());
  mlFlow* dev = solver.lbm_dev_gpu[0];
  const MLFluidParam& param = *host->param;

  const mlVelocity3D<double> one{1, 1, 1}, zero{0, 0, 0};
  const mlTransform4d Tinv{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  auto frame = [&] { mlAddForcetoUOptGpu(dev, param, one, zero, zero, zero, Tinv, 1.0f); };
  auto collide = [&] { mlCollideAddForceHighorderFiitingGpu(dev, param); };
  auto stream = [&] { mlCuStream3dOptGpu(dev, param); };
  auto boundary = [&] { mlBndCondNEEGpu(dev, param, true); };
  mlFarField farField;
  farField.u[0] = -0.01f;  // a box that follows a body swimming along x
  auto movingBoundary = [&] { mlBndCondNEEGpu(dev, param, false, farField); };
  auto moments = [&] { mlCalOneOrderMomentOptGpu(dev, param); };
  auto sequence = [&] {
    frame();
    collide();
    stream();
    boundary();
    moments();
  };
  const bool streaming = dz::device::useStreamingStores(sizeof(float) * 27 * n);
  const bench::KernelBytes bytes = bench::kernelBytes(nx, ny, nz, streaming);
  const std::vector<Job> jobs = {{"mlAddForcetoUOpt", bytes.frame, frame},
                                 {"mlCollideAddForceHighorderFiiting", bytes.collide, collide},
                                 {"mlCuStream3dOpt", bytes.stream, stream},
                                 {"mlBndCondNEE", bytes.boundary, boundary},
                                 {"mlBndCondNEE (moving box)", bytes.boundary, movingBoundary},
                                 {"mlCalOneOrderMomentOpt", bytes.moments, moments},
                                 {"sequence (5 kernels)", bytes.step(), sequence}};

  std::printf("lattice %d x %d x %d (%.2f M nodes), medians of 3 rounds of %d calls, streaming stores %s\n", nx, ny, nz,
              n / 1e6, steps, streaming ? "on" : "off");
  for (int threads : {1, omp_get_max_threads()}) {
    dz::device::setHostThreads(threads);
    const CopyBandwidth bw = copyBandwidth(threads);
    std::printf("\n");
    bench::printYardstick(threads, bw);
    std::printf("  %-36s %9s %9s %8s %9s %10s\n", "kernel", "MLUPS", "ms/call", "B/node", "GB/s", "of copy");
    for (const Job& job : jobs) {
      const double s = bench::secondsPerCall(steps, job.run);
      const double mlups = n / s / 1e6;
      const double traffic = mlups * 1e6 * job.bytesPerNode;
      std::printf("  %-36s %9.1f %9.3f %8.1f %9.1f %9.0f%%\n", job.name.c_str(), mlups, s * 1e3, job.bytesPerNode,
                  traffic / 1e9, 100 * traffic / bw.streamingTraffic);
    }
  }
  dz::device::setHostThreads(0);
  solver.freeGpu();
  return 0;
}
