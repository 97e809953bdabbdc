// What the fluid benchmarks share: the bytes each lattice kernel moves per node, and the
// yardstick lines.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdio>

#include "bench/benchTiming.h"
#include "bench/copyBandwidth.h"

namespace bench {

// Bytes per node that each lattice kernel moves between memory and the caches on a lattice far larger
// than the caches, write-allocate included where it stores plainly (each array read once, each line it
// writes without reading first also read once, unless streaming stores write it).
struct KernelBytes {
  double frame, collide, stream, boundary, moments;
  double step() const { return frame + collide + stream + boundary + moments; }
};

inline KernelBytes kernelBytes(int nx, int ny, int nz, bool streaming) {
  const double nodes = static_cast<double>(nx) * ny * nz;
  const double populations = 27 * 4, allocate = streaming ? 0 : populations;
  KernelBytes b;
  // Frame forcing: flag, u, rho and forces read; forces and u written back.
  b.frame = 4 + 12 + 4 + 24 + 24 + 12;
  // Collision: f, rho, u (the neighbours' from the cache), forces and Sopt read; fPost and Sopt written.
  b.collide = populations + 4 + 12 + 24 + 4 + populations + allocate + 4;
  // Streaming: flag and fPost read, f written.
  b.stream = 4 + populations + populations + allocate;
  // Open boundary: a node at the end of a row between the planes touches one line of each direction of f
  // (read, then written back), of rou and of flag; a node of a row on a y or z plane reads its
  // neighbour's populations, writes its own (allocate, write back) and two densities.
  const double rowEnds = 2.0 * std::max(ny - 2, 0) * std::max(nz - 2, 0);
  const double planeRowNodes = static_cast<double>(nx) * std::max(2 * ny + 2 * nz - 4, 0);
  b.boundary = (rowEnds * (27 * 128 + 128 + 64) + planeRowNodes * (3 * populations + 3 * 4 + 4)) / nodes;
  // Moments: f read; rho, u and forces written.
  b.moments = populations + (streaming ? 1 : 2) * (4 + 12 + 24);
  return b;
}

inline void printYardstick(int threads, const CopyBandwidth& bw) {
  std::printf("%d thread%s: copy of 2 x 512 MiB moves %.1f GB/s with plain stores, %.1f GB/s with streaming stores\n",
              threads, threads == 1 ? "" : "s", bw.plainTraffic / 1e9, bw.streamingTraffic / 1e9);
}

}  // namespace bench
