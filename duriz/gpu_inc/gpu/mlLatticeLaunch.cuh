// How a lattice kernel finds its node, and how its wrapper sizes the grid.
//
// Lattice kernels run one thread per node in blocks 32 wide. The grid only starts at least nx * ny * nz
// threads: a thread's flat number is its node's linear index (z * ny + y) * nx + x, whatever its block.
// Every thread beyond the last node does nothing.
#pragma once

#include <cmath>
#include <cstddef>

#include "device/device.h"
#include "duriz/mlsolver/mlFlow.h"

struct mlLatticeNode {
  int i;        // linear index of the node
  int x, y, z;  // node coordinates
};

// Node with linear index i (valid when 0 <= i < nx * ny * nz).
__device__ __forceinline__ mlLatticeNode mlNodeOf(int i, int nx, int ny) {
  const int plane = nx * ny;
#ifdef DUZAVOD_CUDA
  const int z = i / plane;
  const int rest = i - z * plane;
  const int y = rest / nx;
#else
  // No vector unit divides integers; a double quotient of 32-bit values is exact enough to floor
  // correctly, and lets the host compiler vectorise the threads of a block row.
  const int z = static_cast<int>(static_cast<double>(i) / plane);
  const int rest = i - z * plane;
  const int y = static_cast<int>(static_cast<double>(rest) / nx);
#endif
  return mlLatticeNode{i, rest - y * nx, y, z};
}

// Flat thread number of thread (x, y) of the calling thread's block (the block's x size is 32).
__device__ __forceinline__ int mlBlockThread(unsigned int x, unsigned int y) {
  const unsigned int block = (blockIdx.z * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
  return static_cast<int>(block * (blockDim.x * blockDim.y) + y * 32 + x);
}

// Runs body(node) for the calling thread's node, if it has one. On the device that is one call per
// thread. The host runs the whole block in this call, each block row as one loop over its threads that
// the compiler can vectorise; so body must touch only its own node's data (as every lattice kernel does)
// and code outside body must have no effect but reading. On the host this is one out-of-line call per
// block with everything inlined into its loops.
#ifdef DUZAVOD_CUDA
#define ML_BLOCK_FUNCTION __device__ __forceinline__
#else
#define ML_BLOCK_FUNCTION __attribute__((flatten, noinline))
#endif
template <class Body>
ML_BLOCK_FUNCTION void mlForThreadNode(int nx, int ny, int nz, Body body) {
  const int count = nx * ny * nz;
#ifdef DUZAVOD_CUDA
  const int i = mlBlockThread(threadIdx.x, threadIdx.y);
  if (i >= 0 && i < count) body(mlNodeOf(i, nx, ny));
#else
  // The body (a lambda capturing by value) and the nodes are passed by value, so the captures become
  // registers and no per-lane variable has an address: either would stop the vectoriser.
  dz::device::claimBlock();
  const int lanes = static_cast<int>(blockDim.x);
  for (unsigned int row = 0; row < blockDim.y; ++row) {
    const int first = mlBlockThread(0, row);
    const mlLatticeNode head = mlNodeOf(first, nx, ny);
    if (first >= 0 && head.x + lanes <= nx && head.z < nz) {
      // The row lies on one x line: its nodes follow without a division.
#pragma omp simd
      for (int lane = 0; lane < lanes; ++lane) body(mlLatticeNode{first + lane, head.x + lane, head.y, head.z});
    } else {
#pragma omp simd
      for (int lane = 0; lane < lanes; ++lane)
        if (first + lane >= 0 && first + lane < count) body(mlNodeOf(first + lane, nx, ny));
    }
  }
#endif
}

#ifndef DUZAVOD_CUDA
// Stores the first valid of a block row's 32 values at dst: a whole row starting a cache line as two
// streamed lines when streaming, anything else plainly.
__forceinline__ void mlStoreRow(float* dst, const float* src, int valid, bool streaming) {
  if (streaming && valid == 32 && dz::device::lineAligned(dst)) {
    dz::device::streamLine(dst, src);
    dz::device::streamLine(dst + 16, src + 16);
  } else {
    for (int k = 0; k < valid; ++k) dst[k] = src[k];
  }
}
#endif

// Where a kernel writes the 27 populations of its node: population q goes to (*this)[q]. On the device
// that is the node's own entry of each direction of a direction-major array; on the host it is a row
// buffer that mlForThreadNodeOut copies out after each block row.
struct mlNodeOut {
  float* p;
  std::ptrdiff_t stride;
  __device__ __forceinline__ float& operator[](int q) const { return p[q * stride]; }
};

// mlForThreadNode for a kernel that writes all 27 populations of every node into out (direction-major,
// count = nx * ny * nz nodes): body(node, slot) writes them through slot. The host gathers each block
// row in a buffer and copies it out direction by direction, with streaming stores for lattices far
// larger than the cache (dz::device::useStreamingStores): whole lines are written without being read
// first, and the 27 directions, a power of two apart on common lattices, do not compete for one cache
// set while the row is computed.
template <class Body>
ML_BLOCK_FUNCTION void mlForThreadNodeOut(int nx, int ny, int nz, float* out, Body body) {
  const int count = nx * ny * nz;
#ifdef DUZAVOD_CUDA
  const int i = mlBlockThread(threadIdx.x, threadIdx.y);
  if (i >= 0 && i < count) body(mlNodeOf(i, nx, ny), mlNodeOut{out + i, count});
#else
  constexpr int kLanes = 32;  // the block width of every lattice launch
  dz::device::claimBlock();
  const bool streaming = dz::device::useStreamingStores(sizeof(float) * 27 * static_cast<std::size_t>(count));
  alignas(64) float row[27 * kLanes];
  for (unsigned int r = 0; r < blockDim.y; ++r) {
    const int first = mlBlockThread(0, r);
    if (first >= count) break;
    const mlLatticeNode head = mlNodeOf(first, nx, ny);
    if (head.x + kLanes <= nx) {
#pragma omp simd
      for (int lane = 0; lane < kLanes; ++lane)
        body(mlLatticeNode{first + lane, head.x + lane, head.y, head.z}, mlNodeOut{row + lane, kLanes});
    } else {
#pragma omp simd
      for (int lane = 0; lane < kLanes; ++lane)
        if (first + lane < count) body(mlNodeOf(first + lane, nx, ny), mlNodeOut{row + lane, kLanes});
    }
    const int valid = count - first < kLanes ? count - first : kLanes;
    for (int q = 0; q < 27; ++q)
      mlStoreRow(out + static_cast<std::ptrdiff_t>(q) * count + first, row + q * kLanes, valid, streaming);
  }
  if (streaming) dz::device::streamFence();
#endif
}
#undef ML_BLOCK_FUNCTION

// Start of direction q in a direction-major array of count nodes (64-bit, so big lattices do not wrap).
template <class T>
__device__ __forceinline__ T* mlDirection(T* a, int q, int count) {
  return a + static_cast<std::ptrdiff_t>(q) * count;
}

// Host only (a no-op on the device, where other warps hide the latency): one core streaming through 27
// direction arrays at once outruns the hardware prefetcher, so ask for the lines the block after next
// will use in each direction. They are fetched into the second-level cache only: 27 x 8 lines at once
// would crowd the first-level cache and its miss buffers (a fifth less collision time, 1 and 8 threads).
// Call before mlForThreadNode.
template <class T>
__device__ __forceinline__ void mlPrefetchDirections(const T* a, int count, bool forWrite) {
#ifndef DUZAVOD_CUDA
  const int size = static_cast<int>(blockDim.x * blockDim.y);
  const int ahead = mlBlockThread(0, 0) + 2 * size;
  const int lineValues = 64 / static_cast<int>(sizeof(T));
  for (int q = 0; q < 27; ++q)
    for (int l = 0; l < size && ahead + l < count; l += lineValues) {
      if (forWrite)
        __builtin_prefetch(mlDirection(a, q, count) + ahead + l, 1, 2);
      else
        __builtin_prefetch(mlDirection(a, q, count) + ahead + l, 0, 2);
    }
#else
  (void)a;
  (void)count;
  (void)forWrite;
#endif
}

// Grid of a lattice launch with blocks bx x by: x and y rounded up in single precision, one layer per z.
inline dim3 mlLatticeGrid(const MLFluidParam& param, unsigned int bx, unsigned int by) {
  return dim3(static_cast<unsigned int>(std::ceil(static_cast<float>(param.samples[0]) * (1.0f / bx))),
              static_cast<unsigned int>(std::ceil(static_cast<float>(param.samples[1]) * (1.0f / by))),
              static_cast<unsigned int>(param.samples[2]));
}

// Node count as the wrappers pass it to the kernels (32-bit).
inline int mlLatticeCount(const MLFluidParam& param) { return param.samples[0] * param.samples[1] * param.samples[2]; }
