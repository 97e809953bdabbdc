// Runs a kernel over its whole grid: blocks are shared out over CPU threads, and each CPU thread walks
// the threads of its block in order (x fastest), setting its own index variables before each call. The
// kernel is a template argument, so its body is inlined into the thread loops. A kernel may run a whole
// block in one call (claimBlock, hostKernel.h), which lets the compiler vectorise across its threads.
#pragma once

#include <omp.h>

#include "FirstException.h"
#include "hostKernel.h"
#include "hostRuntime.h"

namespace dz::device {

namespace detail {

template <auto Kernel, class... Args>
inline void runBlock(unsigned int bx, unsigned int by, unsigned int bz, const dim3& block, const Args&... args) {
  blockIdx = uint3{bx, by, bz};
  threadIdx = uint3{0, 0, 0};
  blockClaimed = false;
  Kernel(args...);
  if (blockClaimed) return;  // the kernel ran the whole block
  for (unsigned int tz = 0; tz < block.z; ++tz)
    for (unsigned int ty = 0; ty < block.y; ++ty)
      for (unsigned int tx = (ty == 0 && tz == 0) ? 1 : 0; tx < block.x; ++tx) {
        threadIdx = uint3{tx, ty, tz};
        Kernel(args...);
      }
}

}  // namespace detail

constexpr unsigned long long kMaxThreadsPerBlock = 1024;

// Threads take runs of consecutive blocks as they become free, about 16 runs each: work that differs
// from block to block (the boundary planes, the points of a body) and threads slowed by other work on
// the machine still even out, and each run is long enough for the prefetchers. When the grid has a row
// for each thread at least, a run is made of whole rows: neighbours along x handle neighbouring
// elements, which may share cache lines (four points of a point launch are half a line of their forces),
// and two threads writing one line at once pass it to and fro. A grid of fewer rows (a single row of
// blocks, say) is cut within its rows, so that every thread still gets work.
inline long long runLength(const dim3& grid, int threads) {
  const long long total = 1LL * grid.x * grid.y * grid.z;
  const long long even = total / (16LL * threads) > 0 ? total / (16LL * threads) : 1;
  const long long row = grid.x, rows = total / row;
  return rows >= threads ? (even + row - 1) / row * row : even;
}

template <auto Kernel, class... Args>
void launch(const char* name, dim3 grid, dim3 block, const Args&... args) {
  const unsigned long long threadsPerBlock = 1ull * block.x * block.y * block.z;
  const unsigned long long blocks = 1ull * grid.x * grid.y * grid.z;
  // The device's limits: 1024 threads a block (z at most 64), grid y and z at most 65535.
  if (threadsPerBlock == 0 || threadsPerBlock > kMaxThreadsPerBlock || block.z > 64 || blocks == 0 ||
      grid.x > 2147483647u || grid.y > 65535u || grid.z > 65535u) {
    setLastError(cudaErrorInvalidConfiguration);
    return;
  }
  noteLaunch(name, grid, block);

  const int threads = hostThreads();
  if (blocks == 1 || threads == 1) {
    gridDim = grid;
    blockDim = block;
    for (unsigned int bz = 0; bz < grid.z; ++bz)
      for (unsigned int by = 0; by < grid.y; ++by)
        for (unsigned int bx = 0; bx < grid.x; ++bx) detail::runBlock<Kernel>(bx, by, bz, block, args...);
    return;
  }

  // A kernel that throws on the host (the device cannot) throws to the launcher's caller, as on one thread.
  const long long total = static_cast<long long>(blocks);
  const long long run = runLength(grid, threads);
  const unsigned long long planeBlocks = 1ull * grid.x * grid.y;
  FirstException failure;
#pragma omp parallel num_threads(threads)
  {
    gridDim = grid;
    blockDim = block;
#pragma omp for schedule(dynamic, run)
    for (long long b = 0; b < total; ++b) {
      if (failure.failed()) continue;
      const auto ub = static_cast<unsigned long long>(b);
      const auto bz = static_cast<unsigned int>(ub / planeBlocks);
      const auto rest = ub % planeBlocks;
      failure.run([&] {
        detail::runBlock<Kernel>(static_cast<unsigned int>(rest % grid.x), static_cast<unsigned int>(rest / grid.x), bz,
                                 block, args...);
      });
    }
  }
  failure.rethrow();
}

}  // namespace dz::device
