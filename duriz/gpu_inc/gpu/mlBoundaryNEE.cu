#include "mlBoundaryNEE.h"

#include <cmath>

#include "duriz/gpu_inc/cudaCheck.h"
#include "duriz/gpu_inc/mlLatticeConstants.cuh"
#include "mlCentralMoments.cuh"
#include "mlLatticeLaunch.cuh"
#include "mlThreadIndex.cuh"

namespace {

constexpr double kInflowLimit = 0.2;  // inward first-moment component above which inflow is cut

}  // namespace

// The six planes lie pml_width nodes inside the box: lo = w and hi[a] = n_a - 1 - w on every axis.
struct mlNeePlanes {
  int lo;
  int hi[3];
  int n[3];

  __device__ __forceinline__ bool inside(int a, int p) const { return p >= lo && p <= hi[a]; }
  __device__ __forceinline__ bool onPlane(int a, int p) const { return p == lo || p == hi[a]; }
  // An axis with fewer than three nodes from plane to plane has no inner node to copy from (the step
  // would leave the lattice, or planes would read each other while they are written), so its planes
  // copy along the other axes only.
  __device__ __forceinline__ bool thin(int a) const { return hi[a] - lo < 2; }
  // Inward offset along axis a of a node on one of its planes: +1 on the low plane, -1 on the high one,
  // 0 on a thin axis.
  __device__ __forceinline__ int offset(int a, int p) const {
    if (thin(a)) return 0;
    return p == lo ? 1 : -1;
  }
};

// Limits the inward components of the first moment m in a fixed box; true when one was cut. o is the
// node's inward offset: a component is inward when its sign equals the offset.
__device__ __forceinline__ bool mlLimitInflow(const float m[3], const int o[3], bool inertial, float lim[3]) {
  bool limited = false;
  for (int a = 0; a < 3; ++a) {
    lim[a] = m[a];
    const int sign = m[a] > 0.0f ? 1 : -1;
    if (inertial && o[a] != 0 && sign == o[a] && std::fabs(static_cast<double>(m[a])) > kInflowLimit) {
      lim[a] = 0.0f;
      limited = true;
    }
  }
  return limited;
}

// f_i = feq(rho, m') + g - feq(rho, m) with g the neighbour's populations; the first moment stands in
// for the velocity in both equilibria.
__device__ __forceinline__ void mlWriteLimited(float* f, int count, int i, int nb, float rho, const float m[3],
                                               const float lim[3]) {
  float feqLimited[27], feq[27];
  mlEquilibrium(rho, lim[0], lim[1], lim[2], feqLimited);
  mlEquilibrium(rho, m[0], m[1], m[2], feq);
  for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[i] = feqLimited[q] + mlDirection(f, q, count)[nb] - feq[q];
}

// A box that follows a moving frame: a plane node takes its neighbour's non-equilibrium populations on the
// far-field state, f = feq(rho_b, u_b) + g - feq(rho, u) with u = m / rho the neighbour's velocity. On the
// outflow plane the state is the neighbour's velocity at the reference density, so the water leaves
// freely and the box keeps its mass; on every other plane it is the far-field velocity at the neighbour's
// density, so water at rest in the world enters and passes by. As the equilibrium is rho times that of
// unit density, E, the rule reads f = g + wFar E(u_far) + wNb E(u), with (wFar, wNb) = (0, rho_ref - rho)
// on the outflow plane and (rho, -rho) elsewhere.
struct mlFarFieldNode {
  float wFar, wNb;
  float rho;         // the node's density, rho_b
  float line[3][3];  // E(u) = line[0][cx + 1] * line[1][cy + 1] * line[2][cz + 1]
};

// Which of an axis's three equilibrium line values direction q takes: 0, 1, 2 for c = -1, 0, +1.
__device__ __forceinline__ int mlLineIndex(float c) { return static_cast<int>(c) + 1; }

__device__ __forceinline__ mlFarFieldNode mlFarFieldOf(float rho, const float m[3], const int o[3],
                                                       const mlFarField& farField) {
  mlFarFieldNode n;
  const float inv = rho != 0.0f ? 1.0f / rho : 0.0f;
  for (int a = 0; a < 3; ++a) mlEquilibriumLine(m[a] * inv, n.line[a]);
  const bool outflow = o[farField.outflowAxis] == -farField.outflowSide;
  n.wFar = outflow ? 0.0f : rho;
  n.wNb = outflow ? farField.rho - rho : -rho;
  n.rho = outflow ? farField.rho : rho;
  return n;
}

// One population of the rule: g the neighbour's, eFar = E(u_far) and lx, ly, lz the lines of E(u) in its
// direction.
__device__ __forceinline__ float mlFarFieldPopulation(float g, float eFar, float wFar, float wNb, float lx, float ly,
                                                      float lz) {
  return g + (wFar * eFar + wNb * (lx * ly * lz));
}

#ifndef DUZAVOD_CUDA
constexpr int kMaxRuns = 64;  // runs batched per pass of the host's boundary rule

// A run of plane nodes i .. i + len - 1 of one row that share their inward offset o, so their neighbours
// are the run shifted by nb - i.
struct mlNeeRun {
  int i, len, shift;
  int o[3];
};

// Density and first moment of the neighbour of each node of a batch, by the node's place in its block.
struct mlNeeSums {
  float *rho, *mx, *my, *mz;
};

// Lists in longRun the runs of a batch longer than one node, with their sums zeroed; returns how many.
__device__ __forceinline__ int mlLongRuns(const mlNeeRun* runs, int nRuns, int first, const mlNeeSums& s,
                                          int* longRun) {
  int nLong = 0;
  for (int r = 0; r < nRuns; ++r) {
    const mlNeeRun& run = runs[r];
    if (run.len == 1) continue;
    longRun[nLong++] = r;
    for (int k = 0; k < run.len; ++k) {
      const int j = run.i + k - first;
      s.rho[j] = s.mx[j] = s.my[j] = s.mz[j] = 0.0f;
    }
  }
  return nLong;
}

// Sums the neighbours of the long runs direction by direction as vector loops; with copy, the run's own
// nodes first take the neighbours' populations.
__device__ __forceinline__ void mlSumLongRuns(float* f, int count, const mlNeeRun* runs, const int* longRun, int nLong,
                                              int first, const mlNeeSums& s, bool copy) {
  for (int q = 0; q < 27; ++q) {
    const float cx = ex_cas1[q], cy = ey_cas1[q], cz = ez_cas1[q];
    float* fq = mlDirection(f, q, count);
    for (int l = 0; l < nLong; ++l) {
      const mlNeeRun& run = runs[longRun[l]];
      const int j0 = run.i - first;
      const float* g = fq + run.i + run.shift;
      if (copy && run.shift != 0) {
        float* dst = fq + run.i;
#pragma omp simd
        for (int k = 0; k < run.len; ++k) dst[k] = g[k];
      }
#pragma omp simd
      for (int k = 0; k < run.len; ++k) {
        s.rho[j0 + k] += g[k];
        s.mx[j0 + k] += cx * g[k];
        s.my[j0 + k] += cy * g[k];
        s.mz[j0 + k] += cz * g[k];
      }
    }
  }
}

// The host's rule over a batch of runs. Every node first takes a copy of its neighbour's populations and
// sums them into density and first moment (in direction order, as on the device); then it stores the
// densities and, where inflow is limited, overwrites its copy. No node written here is another node's
// neighbour, so the early copy is safe, and it stores each population right after loading it: the
// direction arrays lie a power of two apart on common lattices, so the 27 lines of one node share a
// cache set and would be gone again before a later store.
__device__ __forceinline__ void mlNeeRuns(float* f, mlDensity<float>* rou, int count, bool inertial, int first,
                                          const mlNeeRun* runs, int nRuns, float* acc, int stride) {
  const mlNeeSums s{acc, acc + stride, acc + 2 * stride, acc + 3 * stride};
  float *rho = s.rho, *mx = s.mx, *my = s.my, *mz = s.mz;
  // Single nodes (the ends of rows) touch one cache line in each direction array: each is copied node by
  // node, every population stored right after it is loaded, so each line is fetched once and many
  // fetches are under way at a time. Longer runs go one direction at a time as vector loops.
  int longRun[kMaxRuns];
  const int nLong = mlLongRuns(runs, nRuns, first, s, longRun);
  for (int r = 0; r < nRuns; ++r) {
    const mlNeeRun& run = runs[r];
    if (run.len > 1) continue;
    const int j = run.i - first;
    float r0 = 0.0f, m0 = 0.0f, m1 = 0.0f, m2 = 0.0f;
    for (int q = 0; q < 27; ++q) {
      float* fq = mlDirection(f, q, count);
      const float g = fq[run.i + run.shift];
      if (run.shift != 0) fq[run.i] = g;
      r0 += g;
      m0 += ex_cas1[q] * g;
      m1 += ey_cas1[q] * g;
      m2 += ez_cas1[q] * g;
    }
    rho[j] = r0;
    mx[j] = m0;
    my[j] = m1;
    mz[j] = m2;
  }
  mlSumLongRuns(f, count, runs, longRun, nLong, first, s, true);
  for (int r = 0; r < nRuns; ++r) {
    const mlNeeRun& run = runs[r];
    for (int k = 0; k < run.len; ++k) {
      const int i = run.i + k, j = i - first;
      rou[i + run.shift] = rho[j];
      rou[i] = rho[j];
      const float m[3] = {mx[j], my[j], mz[j]};
      float lim[3];
      if (run.shift != 0 && mlLimitInflow(m, run.o, inertial, lim))
        mlWriteLimited(f, count, i, i + run.shift, rho[j], m, lim);
    }
  }
}

// The host's far-field rule of a moving box over a batch of runs (the fixed box's is mlNeeRuns). A single
// node completes in one pass over its directions, holding its neighbour's populations. Longer runs sum
// their neighbours direction by direction, and then take the rule direction by direction as vector loops,
// with each node's weights and equilibrium lines in acc (13 arrays of stride floats).
__device__ __forceinline__ void mlFarFieldRuns(float* f, mlDensity<float>* rou, int count, const mlFarField& farField,
                                               int first, const mlNeeRun* runs, int nRuns, float* acc, int stride) {
  float eFar[27];
  mlEquilibrium(1.0f, farField.u[0], farField.u[1], farField.u[2], eFar);
  const mlNeeSums s{acc, acc + stride, acc + 2 * stride, acc + 3 * stride};
  float* wFar = s.rho;  // once the sums are read
  float* wNb = s.mx;
  float* lines = acc + 4 * stride;  // line[a][c] of node j at lines[(3 a + c) stride + j]
  int longRun[kMaxRuns];
  const int nLong = mlLongRuns(runs, nRuns, first, s, longRun);
  for (int r = 0; r < nRuns; ++r) {
    const mlNeeRun& run = runs[r];
    if (run.len > 1) continue;
    float g[27], r0 = 0.0f, m[3] = {0.0f, 0.0f, 0.0f};
    for (int q = 0; q < 27; ++q) {
      g[q] = mlDirection(f, q, count)[run.i + run.shift];
      r0 += g[q];
      m[0] += ex_cas1[q] * g[q];
      m[1] += ey_cas1[q] * g[q];
      m[2] += ez_cas1[q] * g[q];
    }
    const mlFarFieldNode n = mlFarFieldOf(r0, m, run.o, farField);
    for (int q = 0; q < 27; ++q)
      mlDirection(f, q, count)[run.i] =
          mlFarFieldPopulation(g[q], eFar[q], n.wFar, n.wNb, n.line[0][mlLineIndex(ex_cas1[q])],
                               n.line[1][mlLineIndex(ey_cas1[q])], n.line[2][mlLineIndex(ez_cas1[q])]);
    rou[run.i + run.shift] = r0;
    rou[run.i] = n.rho;
  }
  if (nLong == 0) return;
  mlSumLongRuns(f, count, runs, longRun, nLong, first, s, false);
  for (int l = 0; l < nLong; ++l) {
    const mlNeeRun& run = runs[longRun[l]];
    for (int k = 0; k < run.len; ++k) {
      const int i = run.i + k, j = i - first;
      const float m[3] = {s.mx[j], s.my[j], s.mz[j]};
      const mlFarFieldNode n = mlFarFieldOf(s.rho[j], m, run.o, farField);
      rou[i + run.shift] = s.rho[j];
      rou[i] = n.rho;
      wFar[j] = n.wFar;
      wNb[j] = n.wNb;
      for (int a = 0; a < 3; ++a)
        for (int c = 0; c < 3; ++c) lines[(3 * a + c) * stride + j] = n.line[a][c];
    }
  }
  for (int q = 0; q < 27; ++q) {
    float* fq = mlDirection(f, q, count);
    const float e = eFar[q];
    const float* lx = lines + mlLineIndex(ex_cas1[q]) * stride;
    const float* ly = lines + (3 + mlLineIndex(ey_cas1[q])) * stride;
    const float* lz = lines + (6 + mlLineIndex(ez_cas1[q])) * stride;
    for (int l = 0; l < nLong; ++l) {
      const mlNeeRun& run = runs[longRun[l]];
      const int j0 = run.i - first;
      float* dst = fq + run.i;
      const float* g = fq + run.i + run.shift;
#pragma omp simd
      for (int k = 0; k < run.len; ++k) {
        const int j = j0 + k;
        dst[k] = mlFarFieldPopulation(g[k], e, wFar[j], wNb[j], lx[j], ly[j], lz[j]);
      }
    }
  }
}
#endif

__global__ void mlBndCondNEE_Unified(mlFlow* flow, int nx, int ny, int nz, int count, bool inertial,
                                     mlFarField farField) {
  float* f = flow->f;
  mlDensity<float>* rou = flow->rou;
  const MLLATTICENODE_FLAG* flag = flow->flag;
  const int w = flow->param->pml_width;
  const mlNeePlanes p{w, {nx - 1 - w, ny - 1 - w, nz - 1 - w}, {nx, ny, nz}};
#ifdef DUZAVOD_CUDA
  const int i = mlBlockThread(threadIdx.x, threadIdx.y);
  if (i < 0 || i >= count) return;
  const mlLatticeNode n = mlNodeOf(i, nx, ny);
  // Plane membership; edge and corner nodes lie on two or three planes.
  const bool in[3] = {p.inside(0, n.x), p.inside(1, n.y), p.inside(2, n.z)};
  const bool on[3] = {p.onPlane(0, n.x) && in[1] && in[2], p.onPlane(1, n.y) && in[0] && in[2],
                      p.onPlane(2, n.z) && in[0] && in[1]};
  if (!(on[0] || on[1] || on[2]) || flag[i] == NODE_VELOCITY) return;

  // Straight inward on a face, diagonally inward at edges and corners.
  const int o[3] = {on[0] ? p.offset(0, n.x) : 0, on[1] ? p.offset(1, n.y) : 0, on[2] ? p.offset(2, n.z) : 0};
  const int nb = i + o[0] + nx * (o[1] + ny * o[2]);
  float g[27];
  float rho = 0.0f, m[3] = {0.0f, 0.0f, 0.0f};
  for (int q = 0; q < 27; ++q) {
    g[q] = mlDirection(f, q, count)[nb];
    rho += g[q];
    m[0] += ex_cas1[q] * g[q];
    m[1] += ey_cas1[q] * g[q];
    m[2] += ez_cas1[q] * g[q];
  }
  rou[nb] = rho;
  if (!inertial) {
    const mlFarFieldNode w = mlFarFieldOf(rho, m, o, farField);
    float eFar[27];
    mlEquilibrium(1.0f, farField.u[0], farField.u[1], farField.u[2], eFar);
    for (int q = 0; q < 27; ++q)
      mlDirection(f, q, count)[i] =
          mlFarFieldPopulation(g[q], eFar[q], w.wFar, w.wNb, w.line[0][mlLineIndex(ex_cas1[q])],
                               w.line[1][mlLineIndex(ey_cas1[q])], w.line[2][mlLineIndex(ez_cas1[q])]);
    rou[i] = w.rho;
    return;
  }
  rou[i] = rho;
  // A node that is its own neighbour keeps its populations (nothing is limited without an offset).
  if (nb == i) return;
  float lim[3];
  if (mlLimitInflow(m, o, inertial, lim)) {
    mlWriteLimited(f, count, i, nb, rho, m, lim);
    return;
  }
  // Unlimited, the two equilibria cancel: the node takes the neighbour's populations exactly.
  for (int q = 0; q < 27; ++q) mlDirection(f, q, count)[i] = g[q];
#else
  // The host visits only the block's plane nodes, row by row: every node of a row on a y or z plane, the
  // two ends of any other row between the planes; a block without them returns at once. Runs of nodes
  // that share an offset are batched and handled by mlNeeRuns.
  dz::device::claimBlock();
  constexpr int kMaxBlock = 1024;
  const int size = static_cast<int>(blockDim.x * blockDim.y);
  const int first = mlBlockThread(0, 0);
  const int end = first + size < count ? first + size : count;
  // The two x-plane nodes of a row touch one line in each of the 27 direction arrays: on lattices far
  // larger than the cache, ask for those of the rows of the block after next.
  const bool large = dz::device::exceedsCache(sizeof(float) * 27 * static_cast<std::size_t>(count));
  for (int ahead = first + 2 * size; large && ahead < first + 3 * size && ahead < count; ahead += nx) {
    const int row = ahead - mlNodeOf(ahead, nx, ny).x;
    for (int q = 0; q < 27; ++q) {
      __builtin_prefetch(mlDirection(f, q, count) + row + w, 1);
      __builtin_prefetch(mlDirection(f, q, count) + row + p.hi[0], 1);
    }
  }
  mlNeeRun runs[kMaxRuns];
  float acc[13 * kMaxBlock];  // per node of the block: density and first moment (a moving box: and more)
  int nRuns = 0;
  auto flush = [&] {
    if (inertial)
      mlNeeRuns(f, rou, count, inertial, first, runs, nRuns, acc, kMaxBlock);
    else
      mlFarFieldRuns(f, rou, count, farField, first, runs, nRuns, acc, kMaxBlock);
    nRuns = 0;
  };
  auto push = [&](int row, int x0, int x1, int oy, int oz) {
    if (nRuns == kMaxRuns) flush();
    const int ox = p.onPlane(0, x0) ? p.offset(0, x0) : 0;
    runs[nRuns++] = mlNeeRun{row + x0, x1 - x0 + 1, ox + nx * (oy + ny * oz), {ox, oy, oz}};
  };
  // Adds the plane nodes x0 .. x1 of a row as runs of one offset: a run ends before a prescribed-velocity
  // node and around the nodes on the x planes, whose offset differs.
  auto add = [&](int row, int x0, int x1, int y, int z) {
    const int oy = p.onPlane(1, y) ? p.offset(1, y) : 0, oz = p.onPlane(2, z) ? p.offset(2, z) : 0;
    int open = -1;  // first node of the run being built
    for (int x = x0; x <= x1 + 1; ++x) {
      const bool node = x <= x1 && flag[row + x] != NODE_VELOCITY;
      if (open >= 0 && (!node || p.onPlane(0, x) || p.onPlane(0, open))) {
        push(row, open, x - 1, oy, oz);
        open = -1;
      }
      if (node && open < 0) open = x;
    }
  };
  for (int rowStart = first; rowStart < end;) {
    const mlLatticeNode head = mlNodeOf(rowStart, nx, ny);
    const int rowEnd = rowStart - head.x + nx < end ? rowStart - head.x + nx : end;
    const int xa = head.x, xb = head.x + (rowEnd - rowStart) - 1;  // the block's part of this row
    const int y = head.y, z = head.z, row = rowStart - head.x;
    rowStart = rowEnd;
    if (!p.inside(1, y) || !p.inside(2, z)) continue;
    if (p.onPlane(1, y) || p.onPlane(2, z)) {
      add(row, xa > w ? xa : w, xb < p.hi[0] ? xb : p.hi[0], y, z);
    } else {
      if (w >= xa && w <= xb) add(row, w, w, y, z);
      if (p.hi[0] != w && p.hi[0] >= xa && p.hi[0] <= xb) add(row, p.hi[0], p.hi[0], y, z);
    }
  }
  if (nRuns > 0) flush();
#endif
}

// The older per-face form of the rule, one kernel per face plane over a two-dimensional thread index of
// that plane. A node copies the density and stored velocity of its inward neighbour, keeps the velocity's
// component normal to the face only where it leaves the box, and takes the neighbour's non-equilibrium
// populations on the equilibrium of that velocity: f = feq(rho, u) + f_nb - feq(rho, u_nb). The x and z
// faces cover their whole plane, their neighbour's in-plane coordinates clamped to the inner nodes; the
// y faces only the plane's inner nodes. A face of a thin axis has no inner node and is left alone; a thin
// in-plane axis is not stepped along.
__device__ __forceinline__ void mlNeeFace(mlFlow* flow, MLLATTICENODE_FLAG side, int nx, int ny, int nz, int count) {
  const int w = flow->param->pml_width;
  const mlNeePlanes p{w, {nx - 1 - w, ny - 1 - w, nz - 1 - w}, {nx, ny, nz}};
  const mlFace face = mlFaceOf(side);
  mlLatticeNode n;
  if (p.thin(face.axis) || !mlFaceThreadNode(face, nx, ny, nz, n, w)) return;
  const int pos[3] = {n.x, n.y, n.z};
  const int margin = face.axis == 1 ? 1 : 0;  // the y faces leave the edges to the others
  int nb[3] = {n.x, n.y, n.z};
  for (int a = 0; a < 3; ++a) {
    if (a == face.axis) continue;
    if (pos[a] < p.lo + margin || pos[a] > p.hi[a] - margin) return;
    if (!p.thin(a)) nb[a] = pos[a] < p.lo + 1 ? p.lo + 1 : (pos[a] > p.hi[a] - 1 ? p.hi[a] - 1 : pos[a]);
  }
  nb[face.axis] -= face.side;
  if (flow->flag[n.i] == NODE_VELOCITY) return;
  const int j = mlNodeAt(nb[0], nb[1], nb[2], nx, ny).i;
  const float rho = flow->rou[j];
  const float unb[3] = {flow->ux[j], flow->uy[j], flow->uz[j]};
  float u[3] = {unb[0], unb[1], unb[2]};
  if (!(u[face.axis] * face.side > 0.0f)) u[face.axis] = 0.0f;
  flow->rou[n.i] = rho;
  flow->ux[n.i] = u[0];
  flow->uy[n.i] = u[1];
  flow->uz[n.i] = u[2];
  mlWriteLimited(flow->f, count, n.i, j, rho, unb, u);
}

__global__ void mlCuBoundaryCondition_Left_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlNeeFace(flow, NODE_LEFT, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Right_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlNeeFace(flow, NODE_RIGHT, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Down_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlNeeFace(flow, NODE_DOWN, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Up_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlNeeFace(flow, NODE_UP, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Forward_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlNeeFace(flow, NODE_FORWARD, nx, ny, nz, count);
}
__global__ void mlCuBoundaryCondition_Back_KernelNEE(mlFlow* flow, int nx, int ny, int nz, int count) {
  mlNeeFace(flow, NODE_BACK, nx, ny, nz, count);
}

void mlBndCondNEEGpu(mlFlow* flow, const MLFluidParam& param, bool inertial, const mlFarField& farField) {
  DZ_LAUNCH(mlBndCondNEE_Unified, mlLatticeGrid(param, 32, 16), dim3(32, 16, 1), flow, param.samples[0],
            param.samples[1], param.samples[2], mlLatticeCount(param), inertial, farField);
  checkCudaLaunch();
}
