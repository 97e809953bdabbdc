// Thread-to-node maps for lattice kernels that run one thread at a time rather than through the block
// loops of mlForThreadNode: kernels that write other nodes' data, and kernels whose blocks tile the box or
// one face plane per axis (thread coordinate = block size * block index + thread index, per axis).
#pragma once

#include <cstdint>

#include "device/device.h"
#include "mlLatticeLaunch.cuh"

// The node (x, y, z) of a box of nx x ny nodes per layer: linear index (z * ny + y) * nx + x, the inverse
// of mlNodeOf.
__device__ __forceinline__ mlLatticeNode mlNodeAt(int x, int y, int z, int nx, int ny) {
  return mlLatticeNode{(z * ny + y) * nx + x, x, y, z};
}

__device__ __forceinline__ bool mlInBox(int x, int y, int z, int nx, int ny, int nz) {
  return x >= 0 && x < nx && y >= 0 && y < ny && z >= 0 && z < nz;
}

// The calling thread's node in the flat numbering of mlLatticeLaunch.cuh (blocks 32 wide); false for a
// thread beyond the last node.
__device__ __forceinline__ bool mlFlatThreadNode(int nx, int ny, int nz, mlLatticeNode& n) {
  const int i = mlBlockThread(threadIdx.x, threadIdx.y);
  if (i < 0 || i >= nx * ny * nz) return false;
  n = mlNodeOf(i, nx, ny);
  return true;
}

// Flat number of the calling thread over the whole grid, for any block shape (x fastest, then y and z,
// for threads within a block and for blocks), in 64 bits: with blocks 32 wide and one deep it is
// mlBlockThread's number.
__device__ __forceinline__ std::int64_t mlGridThread64() {
  const std::int64_t block = (static_cast<std::int64_t>(blockIdx.z) * gridDim.y + blockIdx.y) * gridDim.x + blockIdx.x;
  const std::int64_t size = static_cast<std::int64_t>(blockDim.x) * blockDim.y * blockDim.z;
  return block * size + (static_cast<std::int64_t>(threadIdx.z) * blockDim.y + threadIdx.y) * blockDim.x + threadIdx.x;
}

// The calling thread's node when the blocks tile the box; false outside it.
__device__ __forceinline__ bool mlBoxThreadNode(int nx, int ny, int nz, mlLatticeNode& n) {
  const int x = static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x);
  const int y = static_cast<int>(blockIdx.y * blockDim.y + threadIdx.y);
  const int z = static_cast<int>(blockIdx.z * blockDim.z + threadIdx.z);
  if (!mlInBox(x, y, z, nx, ny, nz)) return false;
  n = mlNodeAt(x, y, z, nx, ny);
  return true;
}

// A face plane of the box: the axis it is normal to (0 x, 1 y, 2 z) and its side, -1 for the plane at 0
// (outward normal along -axis), +1 for the plane at n - 1.
struct mlFace {
  int axis;
  int side;
};

// The face plane of a face flag: NODE_LEFT and NODE_RIGHT x = 0 and x = nx - 1, NODE_DOWN and NODE_UP
// y = 0 and y = ny - 1, NODE_FORWARD and NODE_BACK z = 0 and z = nz - 1.
__host__ __device__ constexpr mlFace mlFaceOf(MLLATTICENODE_FLAG flag) {
  return mlFace{flag <= NODE_RIGHT ? 0 : (flag <= NODE_BACK ? 2 : 1), flag % 2 == 0 ? -1 : 1};
}

// The calling thread's node on a face plane, or on the plane `inset` nodes inside it, when the blocks
// tile that plane (one block, one thread thick, along the axis); false outside the plane.
__device__ __forceinline__ bool mlFaceThreadNode(mlFace face, int nx, int ny, int nz, mlLatticeNode& n, int inset = 0) {
  int p[3] = {static_cast<int>(blockIdx.x * blockDim.x + threadIdx.x),
              static_cast<int>(blockIdx.y * blockDim.y + threadIdx.y),
              static_cast<int>(blockIdx.z * blockDim.z + threadIdx.z)};
  const int size[3] = {nx, ny, nz};
  if (p[face.axis] != 0) return false;
  p[face.axis] = face.side < 0 ? inset : size[face.axis] - 1 - inset;
  if (!mlInBox(p[0], p[1], p[2], nx, ny, nz)) return false;
  n = mlNodeAt(p[0], p[1], p[2], nx, ny);
  return true;
}

// Grid of `block` blocks covering nx x ny x nz threads (at least one block per axis, so that a launch on
// an empty lattice is still valid and does nothing).
inline dim3 mlCoverGrid(int nx, int ny, int nz, dim3 block) {
  auto cover = [](int n, unsigned int b) { return n > 0 ? (static_cast<unsigned int>(n) + b - 1) / b : 1u; };
  return dim3(cover(nx, block.x), cover(ny, block.y), cover(nz, block.z));
}

// Grid of `block` blocks covering one face plane of the lattice.
inline dim3 mlFaceGrid(const MLFluidParam& param, mlFace face, dim3 block) {
  int n[3] = {param.samples[0], param.samples[1], param.samples[2]};
  n[face.axis] = 1;
  return mlCoverGrid(n[0], n[1], n[2], block);
}
