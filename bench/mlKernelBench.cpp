// Throughput of the fluid kernels against the memory bandwidth of a plain copy.
//
// Usage: mlKernelBench [nx ny nz [steps]]  (default 128 64 64, 20 steps)
// For 1 thread and for all threads: the bandwidth of a plain copy of two arrays as large as f (the same
// working set as the kernels, so the same level of the memory hierarchy) and of two 1 GiB arrays (main
// memory), then per kernel and for the five-kernel sequence the MLUPS, the bytes per node the kernel must
// move (each array read or written once), the bandwidth that makes, and the share of the limit
// copy-bandwidth / bytes-per-node.
#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "bench/copyBandwidth.h"
#include "duriz/gpu_inc/gpu/mlBoundaryNEE.h"
#include "duriz/gpu_inc/gpu/mlCollide.h"
#include "duriz/gpu_inc/gpu/mlMoments.h"
#include "duriz/gpu_inc/gpu/mlMovingFrame.h"
#include "duriz/gpu_inc/gpu/mlStream.h"
#include "duriz/mlsolver/d3q27.h"
#include "duriz/mlsolver/mlSinglePhaseSolverNew.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }

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
  int nx = 128, ny = 64, nz = 64, steps = 20;
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
  mlFlow* dev = nullptr;
  cudaMalloc(&dev, sizeof(mlFlow));
  solver.lbmvec.push_back(host.get());
  solver.lbm_dev_gpu.push_back(dev);
  solver.allocAndUpload(host.get(), dev, 0);
  const MLFluidParam& param = *host->param;

  // Bytes each kernel must move per node. Frame forcing: flag, u, rho, forces read; forces, u written.
  // Collision: f, u, rho, forces, Sopt read; fPost, Sopt written. Streaming: flag, fPost read; f written.
  // Open boundary: the plane nodes read their neighbour's f and write their own f and two densities.
  // Moments: f read; rho, u, forces written.
  const double planeNodes = static_cast<double>(n) - static_cast<double>(nx - 2) * (ny - 2) * (nz - 2);
  const double bytesFrame = 4 + 12 + 4 + 24 + 24 + 12;
  const double bytesCollide = 108 + 12 + 4 + 24 + 4 + 108 + 4;
  const double bytesStream = 4 + 108 + 108;
  const double bytesBoundary = planeNodes * (4 + 108 + 108 + 8) / n;
  const double bytesMoments = 108 + 4 + 12 + 24;

  const mlVelocity3D<double> one{1, 1, 1}, zero{0, 0, 0};
  const mlTransform4d Tinv{{1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1}};
  auto frame = [&] { mlAddForcetoUOptGpu(dev, param, one, zero, zero, zero, Tinv, 1.0f); };
  auto collide = [&] { mlCollideAddForceHighorderFiitingGpu(dev, param); };
  auto stream = [&] { mlCuStream3dOptGpu(dev, param); };
  auto boundary = [&] { mlBndCondNEEGpu(dev, param, true); };
  auto moments = [&] { mlCalOneOrderMomentOptGpu(dev, param); };
  const std::vector<Job> jobs = {
      {"mlAddForcetoUOpt", bytesFrame, frame},
      {"mlCollideAddForceHighorderFiiting", bytesCollide, collide},
      {"mlCuStream3dOpt", bytesStream, stream},
      {"mlBndCondNEE", bytesBoundary, boundary},
      {"mlCalOneOrderMomentOpt", bytesMoments, moments},
      {"sequence (5 kernels)", bytesFrame + bytesCollide + bytesStream + bytesBoundary + bytesMoments,
       [&] {
         frame();
         collide();
         stream();
         boundary();
         moments();
       }},
  };

  std::printf("lattice %d x %d x %d (%zu nodes), %d steps per figure\n", nx, ny, nz, n, steps);
  const int allThreads = omp_get_max_threads();
  for (int threads : {1, allThreads}) {
    dz::device::setHostThreads(threads);
    const double copyBW = copyBandwidth(27 * n, threads);
    const double bigCopyBW = copyBandwidth(std::size_t(1) << 28, threads);
    std::printf("\n%d thread%s: plain copy %.1f GB/s (arrays as large as f; the limit below), %.1f GB/s (2 x 1 GiB)\n",
                threads, threads == 1 ? "" : "s", copyBW / 1e9, bigCopyBW / 1e9);
    std::printf("  %-36s %9s %10s %9s %9s %8s %9s\n", "kernel", "MLUPS", "ms/step", "B/node", "GB/s", "limit",
                "of limit");
    for (const Job& job : jobs) {
      job.run();  // warm up
      double best = 1e30;
      for (int rep = 0; rep < 3; ++rep) {
        const auto t0 = Clock::now();
        for (int s = 0; s < steps; ++s) job.run();
        best = std::min(best, seconds(t0, Clock::now()) / steps);
      }
      const double mlups = n / best / 1e6;
      const double limit = copyBW / job.bytesPerNode / 1e6;
      std::printf("  %-36s %9.1f %10.3f %9.1f %9.1f %8.1f %8.0f%%\n", job.name.c_str(), mlups, best * 1e3,
                  job.bytesPerNode, mlups * job.bytesPerNode / 1e3, limit, 100 * mlups / limit);
    }
  }
  dz::device::setHostThreads(0);
  solver.freeGpu();
  return 0;
}
