// Interpolation of the lattice velocity to the Lagrangian points (direct forcing) and spreading of the
// point forces back onto the lattice, one thread per point.
#include "mlImmersedBoundaryGpu.h"

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#ifndef DUZAVOD_CUDA
#include <immintrin.h>
#include <omp.h>
#endif

#include "duriz/gpu_inc/cudaCheck.h"
#include "mlDeltaFunction.cuh"

namespace {

// Points per 20 x 20 thread layer: blocks of 4 x 4 x 4 threads on a 5 x 5 block grid per layer group.
constexpr std::int64_t kLayerWidth = 20;
constexpr unsigned int kBlockEdge = 4;

// The point of this thread: each z-layer of layerX x layerY threads covers layerX * layerY points.
__device__ __forceinline__ std::int64_t mlPointIndex(std::int64_t layerX, std::int64_t layerY) {
  const std::int64_t gx = blockIdx.x * blockDim.x + threadIdx.x;
  const std::int64_t gy = blockIdx.y * blockDim.y + threadIdx.y;
  const std::int64_t gz = blockIdx.z * blockDim.z + threadIdx.z;
  return (gz * layerY + gy) * layerX + gx;
}

// Linear node index, x fastest.
__device__ __forceinline__ std::int64_t mlNodeIndex(std::int64_t x, std::int64_t y, std::int64_t z, std::int64_t nx,
                                                    std::int64_t ny) {
  return (z * ny + y) * nx + x;
}

// Lattice coordinates of point t, X = (coord - start) * (N / l0p); false when the point lies outside
// 0 <= X < n on some axis. The comparisons are false for NaN, so a NaN coordinate is outside.
__device__ __forceinline__ bool mlPointInLattice(const mlLagrangeBoundary& b, const mlFlow& flow, std::int64_t t,
                                                 float invdx, std::int64_t nx, std::int64_t ny, std::int64_t nz,
                                                 float X[3]) {
  X[0] = (b.coordx[t] - flow.start[0]) * invdx;
  X[1] = (b.coordy[t] - flow.start[1]) * invdx;
  X[2] = (b.coordz[t] - flow.start[2]) * invdx;
  return X[0] >= 0.0f && X[0] < static_cast<float>(nx) && X[1] >= 0.0f && X[1] < static_cast<float>(ny) &&
         X[2] >= 0.0f && X[2] < static_cast<float>(nz);
}

__device__ __forceinline__ std::int64_t mlMax(std::int64_t a, std::int64_t b) { return a > b ? a : b; }
__device__ __forceinline__ std::int64_t mlMin(std::int64_t a, std::int64_t b) { return a < b ? a : b; }
__device__ __forceinline__ bool mlIsNan(float v) { return v != v; }

// Positions of the lowest and the highest set bit of a nonzero word.
__device__ __forceinline__ int mlLowestBit(unsigned int bits) {
#ifdef __CUDA_ARCH__
  return __ffs(bits) - 1;
#else
  return __builtin_ctz(bits);
#endif
}
__device__ __forceinline__ int mlHighestBit(unsigned int bits) {
#ifdef __CUDA_ARCH__
  return 31 - __clz(bits);
#else
  return 31 - __builtin_clz(bits);
#endif
}

// Widest delta function with nonzero weights; every other width weighs every node 0.
constexpr int kMaxDeltaWidth = 4;
__device__ __forceinline__ bool mlHasWeights(int width) { return width >= 2 && width <= kMaxDeltaWidth; }

// The weights phi(r(k)) of one axis's nodes lo..hi, formed once per point: a node's weight is the product
// of its three axis weights, so a stencil of m nodes per axis needs 3 m delta evaluations, not m^3.
// first..last bound the nonzero weights (first > last when there are none). Each width has its own loop
// over every slot, without branches, so that the host compiler evaluates the slots side by side in
// vector registers (the weights are those of one evaluation at a time; slots beyond hi weigh 0).
template <int Capacity>
struct mlAxisWeights {
  std::int64_t lo, first, last;
  float phi[Capacity];

  template <class Distance>
  __device__ __forceinline__ mlAxisWeights(int width, std::int64_t lo_, std::int64_t hi, Distance r)
      : lo(lo_), first(hi + 1), last(lo_ - 1) {
    const int n = static_cast<int>(hi - lo + 1);
    switch (width) {
      case 2:
        fill(n, r, [](float d) { return mlDeltaWidth2(d); });
        break;
      case 3:
        fill(n, r, [](float d) { return mlDeltaWidth3(d); });
        break;
      case 4:
        fill(n, r, [](float d) { return mlDeltaWidth4(d); });
        break;
      default:
        for (float& w : phi) w = 0.0f;
        return;
    }
    // The nonzero slots as bits, so that first and last come without a branch per slot.
    static_assert(Capacity < 32, "one bit per slot");
    unsigned int nonzero = 0;
    for (int k = 0; k < Capacity; ++k) nonzero |= static_cast<unsigned int>(phi[k] != 0.0f) << k;
    if (nonzero != 0) {
      first = lo + mlLowestBit(nonzero);
      last = lo + mlHighestBit(nonzero);
    }
  }
  template <class Distance, class Delta>
  __device__ __forceinline__ void fill(int n, Distance r, Delta delta) {
    for (int k = 0; k < Capacity; ++k) phi[k] = k < n ? delta(r(static_cast<int>(lo) + k)) : 0.0f;
  }
  __device__ __forceinline__ float operator()(std::int64_t k) const { return phi[k - lo]; }
};

// Delta-weighted sums of ux, uy, uz over the nodes lo..hi (inclusive, z outer, x inner), the weight of a
// node being phi(0, x) * phi(1, y) * phi(2, z). From the node that makes a sum NaN on, every node is
// reported.
template <class AxisWeight>
__device__ __forceinline__ void mlInterpolateNodes(const mlFlow& flow, std::int64_t nx, std::int64_t ny,
                                                   const std::int64_t lo[3], const std::int64_t hi[3], AxisWeight phi,
                                                   float sum[3]) {
  const float* ux = flow.ux;
  const float* uy = flow.uy;
  const float* uz = flow.uz;
  for (std::int64_t z = lo[2]; z <= hi[2]; ++z) {
    const float wz = phi(2, z);
    for (std::int64_t y = lo[1]; y <= hi[1]; ++y) {
      const float wy = phi(1, y);
      for (std::int64_t x = lo[0]; x <= hi[0]; ++x) {
        const float weight = phi(0, x) * wy * wz;
        const std::int64_t i = mlNodeIndex(x, y, z, nx, ny);
        sum[0] = fmaf(weight, ux[i], sum[0]);
        sum[1] = fmaf(weight, uy[i], sum[1]);
        sum[2] = fmaf(weight, uz[i], sum[2]);
        if (mlIsNan(sum[0]) || mlIsNan(sum[1]) || mlIsNan(sum[2]))
          printf("NAN find! %d  %.3f %.3f %.3f %.3f  \n", static_cast<int>(i), ux[i], uy[i], uz[i], weight);
      }
    }
  }
}

#ifndef DUZAVOD_CUDA
// The host's sums over the box of a point's nonzero weights when the velocities are finite: the weights
// of a row are formed side by side, and no sum is tested for NaN: every term is a weight (at most 1 in
// size) times a finite velocity, so a sum may overflow to an infinity but never becomes NaN (that takes
// an infinite term). Same sums in the same order as mlInterpolateNodes.
template <int Capacity>
__forceinline__ void mlInterpolateRows(const mlFlow& flow, std::int64_t nx, std::int64_t ny,
                                       const mlAxisWeights<Capacity> w[3], float sum[3]) {
  const std::int64_t first[3] = {w[0].first, w[1].first, w[2].first};
  const std::int64_t last[3] = {w[0].last, w[1].last, w[2].last};
  const int len = static_cast<int>(last[0] - first[0] + 1);
  const float* phiX = w[0].phi + (first[0] - w[0].lo);
  float px[Capacity];
  for (int k = 0; k < Capacity; ++k) px[k] = k < len ? phiX[k] : 0.0f;
  float s0 = sum[0], s1 = sum[1], s2 = sum[2];
  for (std::int64_t z = first[2]; z <= last[2]; ++z) {
    const float wz = w[2](z);
    for (std::int64_t y = first[1]; y <= last[1]; ++y) {
      const float wy = w[1](y);
      float weight[Capacity];
      for (int k = 0; k < Capacity; ++k) weight[k] = px[k] * wy * wz;
      const std::int64_t row = mlNodeIndex(first[0], y, z, nx, ny);
      for (int k = 0; k < len; ++k) {
        s0 = fmaf(weight[k], flow.ux[row + k], s0);
        s1 = fmaf(weight[k], flow.uy[row + k], s1);
        s2 = fmaf(weight[k], flow.uz[row + k], s2);
      }
    }
  }
  sum[0] = s0;
  sum[1] = s1;
  sum[2] = s2;
}
#endif

// True when ux, uy and uz are finite on every node of lo..hi (at most Row nodes along x). A sum that
// meets an infinity or a NaN stays infinite or NaN, so a few sums tell (a finite sum that overflows only
// sends the point down the exact full-range path). Full rows have a fixed length, so that the host
// compiler keeps their sums in vector registers.
template <int Row>
__device__ __forceinline__ bool mlVelocityIsFinite(const mlFlow& flow, std::int64_t nx, std::int64_t ny,
                                                   const std::int64_t lo[3], const std::int64_t hi[3]) {
  const std::int64_t len = hi[0] - lo[0] + 1;
  float all = 0.0f;
  if (len == Row) {
    float sum[Row] = {};
    for (std::int64_t z = lo[2]; z <= hi[2]; ++z)
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y) {
        const std::int64_t row = mlNodeIndex(lo[0], y, z, nx, ny);
        for (int k = 0; k < Row; ++k) sum[k] += (flow.ux[row + k] + flow.uy[row + k]) + flow.uz[row + k];
      }
    for (int k = 0; k < Row; ++k) all += sum[k];
  } else {
    for (std::int64_t z = lo[2]; z <= hi[2]; ++z)
      for (std::int64_t y = lo[1]; y <= hi[1]; ++y) {
        const std::int64_t row = mlNodeIndex(lo[0], y, z, nx, ny);
        for (std::int64_t k = 0; k < len; ++k) all += (flow.ux[row + k] + flow.uy[row + k]) + flow.uz[row + k];
      }
  }
  return all - all == 0.0f;
}

// The interpolation's nodes floor(X) - w .. floor(X) + w per axis, clamped to the lattice.
__device__ __forceinline__ void mlInterpolationRange(const float X[3], int width, const std::int64_t n[3],
                                                     std::int64_t lo[3], std::int64_t hi[3]) {
  for (int a = 0; a < 3; ++a) {
    const std::int64_t base = static_cast<std::int64_t>(floorf(X[a]));
    lo[a] = mlMax(base - width, 0);
    hi[a] = mlMin(base + width + 1, n[a]) - 1;
  }
}

#ifndef DUZAVOD_CUDA
// Finiteness of ux, uy, uz by tiles of 8 x 8 x 8 nodes, found on the host during an interpolation: the
// first point whose range reaches a tile checks it (two threads may check one tile at once; both store
// the same answer). A point whose range lies in finite tiles needs no check of its own; any other point
// checks its own range, so the result never depends on the map.
struct mlFiniteTiles {
  static constexpr int kEdge = 8;
  enum : std::uint8_t { kUnknown = 0, kFinite = 1, kNotFinite = 2 };
  std::uint8_t* state;
  std::int64_t tx, ty;

  __device__ __forceinline__ bool finite(const mlFlow& flow, const std::int64_t n[3], const std::int64_t lo[3],
                                         const std::int64_t hi[3]) const {
    for (std::int64_t z = lo[2] / kEdge; z <= hi[2] / kEdge; ++z)
      for (std::int64_t y = lo[1] / kEdge; y <= hi[1] / kEdge; ++y)
        for (std::int64_t x = lo[0] / kEdge; x <= hi[0] / kEdge; ++x) {
          std::uint8_t* tile = &state[(z * ty + y) * tx + x];
          std::uint8_t known = __atomic_load_n(tile, __ATOMIC_RELAXED);
          if (known == kUnknown) {
            const std::int64_t tileLo[3] = {x * kEdge, y * kEdge, z * kEdge};
            const std::int64_t tileHi[3] = {mlMin(tileLo[0] + kEdge, n[0]) - 1, mlMin(tileLo[1] + kEdge, n[1]) - 1,
                                            mlMin(tileLo[2] + kEdge, n[2]) - 1};
            known = mlVelocityIsFinite<kEdge>(flow, n[0], n[1], tileLo, tileHi) ? kFinite : kNotFinite;
            __atomic_store_n(tile, known, __ATOMIC_RELAXED);
          }
          if (known != kFinite) return false;
        }
    return true;
  }
};
#endif

// Block grid for count points: L = ceil(count / 400) thread layers, four per block layer, both ceilings
// in single precision.
dim3 mlPointGrid(int count, std::int64_t& layers) {
  layers = static_cast<std::int64_t>(ceilf(static_cast<float>(count) / 400.0f));
  // Above 2^24 points the float quotient may round down past a multiple of 400 and drop the last layer.
  if (layers * kLayerWidth * kLayerWidth < count) ++layers;
  const auto blockLayers = static_cast<unsigned int>(ceilf(static_cast<float>(layers) * 0.25f));
  return dim3(kLayerWidth / kBlockEdge, kLayerWidth / kBlockEdge, blockLayers);
}

#ifndef DUZAVOD_CUDA
// The points a point launch handles: those below the record's count that the grid reaches (the host may
// read the device record).
int mlHandledPoints(const mlLagrangeBoundary& b, const dim3& grid) {
  const std::int64_t reached = static_cast<std::int64_t>(grid.z) * kBlockEdge * kLayerWidth * kLayerWidth;
  return static_cast<int>(b.count < reached ? b.count : reached);
}
#endif

}  // namespace

// Velocity at the point from the lattice's ux, uy, uz (delta-weighted over the stencil), then the force
// density that drives the fluid there to the point's velocity, in physical units:
// F = (rho_b u_b - u) K, blended with its normal part by the slip ratio, K = N u0p^2 rou0p / (l0p u0k^2).
__global__ void mlInterpolateFluidForceKernel(mlLagrangeBoundary* boundary, mlFlow* flow, double slip_ratio, float N,
                                              float l0p, float rou0p, float u0k, mlVelocity3D<float> u0p, int width,
                                              std::int64_t layerX, std::int64_t layerY,
                                              std::int64_t /*layers: bounded by the count test*/, std::int64_t nx,
                                              std::int64_t ny, std::int64_t nz
#ifndef DUZAVOD_CUDA
                                              ,
                                              mlFiniteTiles tiles
#endif
) {
  const mlLagrangeBoundary& b = *boundary;
  const std::int64_t t = mlPointIndex(layerX, layerY);
  if (t < 0 || t >= b.count) return;

  // Cleared first, so that a point outside the lattice ends with zero force.
  b.forcex[t] = 0.0;
  b.forcey[t] = 0.0;
  b.forcez[t] = 0.0;

  const float invdx = mlFastDivide(N, l0p);
  float X[3];
  if (!mlPointInLattice(b, *flow, t, invdx, nx, ny, nz, X)) return;

  const std::int64_t n[3] = {nx, ny, nz};
  std::int64_t lo[3], hi[3];
  mlInterpolationRange(X, width, n, lo, hi);

  // A node of weight 0 leaves the sums as they are unless its velocity is infinite or NaN (0 * inf is
  // NaN). So with finite velocities only the box of nonzero weights is summed, from per-axis weights;
  // otherwise, and for the widths that weigh every node 0, every node is, as the NaN report needs.
  constexpr int kNodes = 2 * kMaxDeltaWidth + 1;
  float sum[3] = {0.0f, 0.0f, 0.0f};
#ifdef DUZAVOD_CUDA
  auto finite = [&] { return mlVelocityIsFinite<kNodes>(*flow, nx, ny, lo, hi); };
#else
  auto finite = [&] { return tiles.finite(*flow, n, lo, hi) || mlVelocityIsFinite<kNodes>(*flow, nx, ny, lo, hi); };
#endif
  if (mlHasWeights(width) && finite()) {
    using Weights = mlAxisWeights<kNodes>;
    const Weights w[3] = {Weights(width, lo[0], hi[0], [&](int x) { return X[0] - static_cast<float>(x); }),
                          Weights(width, lo[1], hi[1], [&](int y) { return X[1] - static_cast<float>(y); }),
                          Weights(width, lo[2], hi[2], [&](int z) { return X[2] - static_cast<float>(z); })};
#ifdef DUZAVOD_CUDA
    const std::int64_t first[3] = {w[0].first, w[1].first, w[2].first};
    const std::int64_t last[3] = {w[0].last, w[1].last, w[2].last};
    mlInterpolateNodes(
        *flow, nx, ny, first, last, [&](int a, std::int64_t k) { return w[a](k); }, sum);
#else
    mlInterpolateRows(*flow, nx, ny, w, sum);
#endif
  } else {
    mlInterpolateNodes(
        *flow, nx, ny, lo, hi, [&](int a, std::int64_t k) { return mlDelta(width, X[a] - static_cast<float>(k)); },
        sum);
  }
  const float sumX = sum[0], sumY = sum[1], sumZ = sum[2];

  // Point velocity in lattice units, per axis.
  const float rho = b.rou[t];
  const float ubX = b.ux[t] * (u0k / u0p.x);
  const float ubY = b.uy[t] * (u0k / u0p.y);
  const float ubZ = b.uz[t] * (u0k / u0p.z);
  const float nX = b.normalx[t], nY = b.normaly[t], nZ = b.normalz[t];

  // Lattice to physical force density; the three components of u0p are equal, x serves all axes.
  const float scaleUp = u0p.x * u0p.x * rou0p;
  const float scaleDown = l0p * u0k * u0k;
  const float fullX = (rho * ubX - sumX) * N * scaleUp / scaleDown;
  const float fullY = (rho * ubY - sumY) * N * scaleUp / scaleDown;
  const float fullZ = (rho * ubZ - sumZ) * N * scaleUp / scaleDown;
  const float normalGap = rho * (ubX * nX + ubY * nY + ubZ * nZ) - (sumX * nX + sumY * nY + sumZ * nZ);
  const float normX = nX * normalGap * N * scaleUp / scaleDown;
  const float normY = nY * normalGap * N * scaleUp / scaleDown;
  const float normZ = nZ * normalGap * N * scaleUp / scaleDown;

  // 0: no-slip, every component forced; 1: free-slip, only the normal component.
  const double s = slip_ratio;
  b.forcex[t] = (1.0 - s) * fullX + s * normX;
  b.forcey[t] = (1.0 - s) * fullY + s * normY;
  b.forcez[t] = (1.0 - s) * fullZ + s * normZ;
}

// The spreading's weights of a point at lattice coordinates X along each axis: nodes floor(X) - w - 2 ..
// floor(X) + w + 2 (two wider than the interpolation's on each side; they weigh 0 for widths <= 4),
// clamped to the lattice, each weighed at its coordinate recomputed from its physical position start +
// k dx.
constexpr int kSpreadNodes = 2 * kMaxDeltaWidth + 5;  // per axis
using mlSpreadAxisWeights = mlAxisWeights<kSpreadNodes>;

// The distance r(k) from the point to node k along axis a, in lattice units. r falls as k grows: every
// step of the computation is monotonic in k.
struct mlSpreadDistance {
  float X, start, dx, invdx;
  __device__ __forceinline__ float operator()(int k) const {
    return X - ((start + static_cast<float>(k) * dx) - start) * invdx;
  }
};

struct mlSpreadWeights {
  mlSpreadAxisWeights w[3];

  __device__ __forceinline__ mlSpreadWeights(const float X[3], int width, const std::int64_t n[3], const float start[3],
                                             float dx, float invdx)
      : w{axis(0, X, width, n, start, dx, invdx), axis(1, X, width, n, start, dx, invdx),
          axis(2, X, width, n, start, dx, invdx)} {}

  __device__ __forceinline__ static mlSpreadAxisWeights axis(int a, const float X[3], int width,
                                                             const std::int64_t n[3], const float start[3], float dx,
                                                             float invdx) {
    const std::int64_t base = static_cast<std::int64_t>(floorf(X[a]));
    const std::int64_t lo = mlMax(base - width - 2, 0), hi = mlMin(base + width + 2, n[a] - 1);
    return mlSpreadAxisWeights(width, lo, hi, mlSpreadDistance{X[a], start[a], dx, invdx});
  }
};

// Hands each node of plane z with a nonzero weight w_x w_y w_z to add(node index, weight): adding zero
// changes no sum.
template <class Add>
__device__ __forceinline__ void mlSpreadPlane(const mlSpreadAxisWeights w[3], std::int64_t z, std::int64_t nx,
                                              std::int64_t ny, Add add) {
  const float wz = w[2](z);
  for (std::int64_t y = w[1].first; y <= w[1].last; ++y) {
    const float wy = w[1](y);
    for (std::int64_t x = w[0].first; x <= w[0].last; ++x) {
      const float weight = w[0](x) * wy * wz;
      if (weight != 0.0f) add(mlNodeIndex(x, y, z, nx, ny), weight);
    }
  }
}

#ifndef DUZAVOD_CUDA
// What the host's spreading kernel leaves for each point: its force in lattice units times its area and,
// per axis, the nodes first[a] .. first[a] + len[a] - 1 from its first to its last nonzero weight (len
// 0 when it spreads nothing) with their weights, those along x padded with zeros to a whole row of kRow.
// At most w + 1 nodes per axis weigh anything, give or take the rounding of node coordinates; the
// weights of a point with more (only where that rounding is off by half a spacing, far from the origin)
// are formed again from its coordinates. Two cache lines.
struct alignas(64) mlSpreadRecord {
  static constexpr int kRow = 8;
  static constexpr int kCapacity = kMaxDeltaWidth + 2;
  double force[3];
  std::int32_t first[3];
  std::int16_t len[3];
  float phiX[kRow];
  float phiY[kCapacity];
  float phiZ[kCapacity];

  bool wide() const { return len[0] > kRow || len[1] > kCapacity || len[2] > kCapacity; }
};
static_assert(sizeof(mlSpreadRecord) == 128, "a spreading record fills two cache lines");

// The host first forms a point's weights over a window of kRow nodes per axis, floor(X) - 3 .. floor(X) +
// 4, a little over half the delta evaluations of the full range. Since r falls as k grows, when the
// window's first node lies at r >= w / 2 and its last at r <= -w / 2 (or the window reaches the end of
// the lattice), every node outside it weighs 0: the window then holds all the nonzero weights of the full
// range, with the same values.
using mlSpreadWindow = mlAxisWeights<mlSpreadRecord::kRow>;
struct mlSpreadWindows {
  mlSpreadWindow w[3];
  bool complete;

  mlSpreadWindows(const float X[3], int width, const std::int64_t n[3], const float start[3], float dx, float invdx)
      : w{axis(0, X, width, n, start, dx, invdx), axis(1, X, width, n, start, dx, invdx),
          axis(2, X, width, n, start, dx, invdx)},
        complete(true) {
    const float support = 0.5f * static_cast<float>(width);
    for (int a = 0; a < 3; ++a) {
      const mlSpreadDistance r{X[a], start[a], dx, invdx};
      std::int64_t lo, hi;
      range(X[a], n[a], lo, hi);
      complete = complete && (lo == 0 || r(static_cast<int>(lo)) >= support) &&
                 (hi == n[a] - 1 || r(static_cast<int>(hi)) <= -support);
    }
  }
  static void range(float X, std::int64_t n, std::int64_t& lo, std::int64_t& hi) {
    const std::int64_t base = static_cast<std::int64_t>(floorf(X));
    lo = mlMax(base - 3, 0);
    hi = mlMin(base + 4, n - 1);
  }
  static mlSpreadWindow axis(int a, const float X[3], int width, const std::int64_t n[3], const float start[3],
                             float dx, float invdx) {
    std::int64_t lo, hi;
    range(X[a], n[a], lo, hi);
    return mlSpreadWindow(width, lo, hi, mlSpreadDistance{X[a], start[a], dx, invdx});
  }
};

// Fills the record of a point from its weights along each axis (the window's or the full range's).
template <class AxisWeights>
void mlRecordWeights(const AxisWeights w[3], const double force[3], mlSpreadRecord& record) {
  for (int a = 0; a < 3; ++a)
    if (w[a].first > w[a].last) return;  // no weight along this axis: nothing to spread
  for (int a = 0; a < 3; ++a) {
    record.force[a] = force[a];
    record.first[a] = static_cast<std::int32_t>(w[a].first);
    record.len[a] = static_cast<std::int16_t>(w[a].last - w[a].first + 1);
  }
  if (record.wide()) return;
  for (int k = 0; k < mlSpreadRecord::kRow; ++k) record.phiX[k] = k < record.len[0] ? w[0](w[0].first + k) : 0.0f;
  for (int k = 0; k < record.len[1]; ++k) record.phiY[k] = w[1](w[1].first + k);
  for (int k = 0; k < record.len[2]; ++k) record.phiZ[k] = w[2](w[2].first + k);
}
#endif

// Spreads the point's force onto the nodes around it in lattice units: node force += weight * area_L *
// F_L, with area_L = area (N / l0p)^2 and F_L = F l0p u0k^2 / (u0p^2 N rou0p). Many points share nodes.
// On the device every addition is atomic (double atomics are cheap there), so the order of additions,
// and the last bits of a node's sum, vary from run to run. The host instead records each point's
// weights and force here, and mlSpreadDeposit adds them up without atomics in a fixed order.
__global__ void mlSpreadForceKernel(mlLagrangeBoundary* boundary, mlFlow* flow, float N, float l0p, float rou0p,
                                    float u0k, mlVelocity3D<float> u0p, int width, std::int64_t layerX,
                                    std::int64_t layerY, std::int64_t /*layers: bounded by the count test*/,
                                    std::int64_t nx, std::int64_t ny, std::int64_t nz
#ifndef DUZAVOD_CUDA
                                    ,
                                    mlSpreadRecord* records
#endif
) {
  const mlLagrangeBoundary& b = *boundary;
  const std::int64_t t = mlPointIndex(layerX, layerY);
  if (t < 0 || t >= b.count) return;
#ifndef DUZAVOD_CUDA
  // The record is formed on the stack and stored whole when the thread ends: the weights are then read
  // back from the stack without waiting for stores into records that another thread's deposit pulled
  // into its own cache.
  struct StoreOnExit {
    mlSpreadRecord& to;
    mlSpreadRecord made;
    ~StoreOnExit() { to = made; }
  } out{records[t], {}};
  mlSpreadRecord& record = out.made;
#endif

  const float invdx = mlFastDivide(N, l0p);
  float X[3];
  if (!mlPointInLattice(b, *flow, t, invdx, nx, ny, nz, X)) return;

  // Every weight of another width is 0, and nodes of weight 0 get nothing.
  if (!mlHasWeights(width)) return;

  const double areaL = static_cast<double>(b.area * (invdx * invdx));
  const double toLattice = static_cast<double>(l0p * u0k * u0k);
  const double force[3] = {areaL * (b.forcex[t] * toLattice / static_cast<double>(u0p.x * u0p.x * N * rou0p)),
                           areaL * (b.forcey[t] * toLattice / static_cast<double>(u0p.y * u0p.y * N * rou0p)),
                           areaL * (b.forcez[t] * toLattice / static_cast<double>(u0p.z * u0p.z * N * rou0p))};
  const std::int64_t n[3] = {nx, ny, nz};
#ifdef DUZAVOD_CUDA
  const mlSpreadWeights weights(X, width, n, flow->start, flow->param->dx, invdx);
  const mlSpreadAxisWeights* w = weights.w;
  double* fx = flow->forcex;
  double* fy = flow->forcey;
  double* fz = flow->forcez;
  for (std::int64_t z = w[2].first; z <= w[2].last; ++z)
    mlSpreadPlane(w, z, nx, ny, [&](std::int64_t i, float weight) {
      atomicAdd(&fx[i], weight * force[0]);
      atomicAdd(&fy[i], weight * force[1]);
      atomicAdd(&fz[i], weight * force[2]);
    });
#else
  const mlSpreadWindows window(X, width, n, flow->start, flow->param->dx, invdx);
  if (window.complete) {
    mlRecordWeights(window.w, force, record);
  } else {
    const mlSpreadWeights weights(X, width, n, flow->start, flow->param->dx, invdx);
    mlRecordWeights(weights.w, force, record);
  }
#endif
}

#ifndef DUZAVOD_CUDA
// The host's additions of the recorded point forces into the node forces, once for all the point sets
// of a stage: each node receives its points' forces set after set and point after point, whatever the
// number of threads, so the sums are the same bit for bit as those of a plain loop over the sets and
// their points. The nodes are cut into units, a band of kBandRows rows of one z plane each. The points
// are cut into one contiguous chunk per thread, and each thread sorts its chunk's points by the units
// they reach (a stable counting sort, so each list keeps point order); then each thread adds, for its
// run of units, the lists of the chunks in chunk order. The runs are shared out between the two.
struct mlSpreadBins {
  static constexpr std::int64_t kBandRows = 16;
  struct Set {
    const mlLagrangeBoundary* boundary;
    int begin;  // where its records start
  };
  std::vector<mlSpreadRecord> records;  // of the stage's sets, one after another
  std::vector<Set> sets;
  int pending = 0;  // records not yet added
  mlFlow* flow = nullptr;
  int width = 0;
  float invdx = 0.0f;
  std::int64_t n[3] = {0, 0, 0};
  struct alignas(64) Run {
    std::atomic<std::int64_t> next;  // the next unit to take
    std::int64_t end;
  };
  std::unique_ptr<Run[]> runs;  // one per thread
  int runCount = 0;
  std::vector<std::int64_t> starts;   // per chunk: where its list of each unit starts in its part of entries
  std::vector<std::int32_t> entries;  // per chunk a part of kUnitsPerPoint places per point: record indices
};

mlSpreadBins& mlSpreadScratch() {
  static thread_local mlSpreadBins bins;
  return bins;
}

// Adds weight * force into the nodes row[0 .. kRow - 1] of the three force arrays, weight being
// phiX[k] * wy * wz, wherever that is not 0: a zero weight changes no sum (nor a -0, nor lets a
// non-finite force in), and the padding past a point's last x node weighs 0. With AVX-512 the row is
// one masked vector per array (masked-off nodes are not touched, even past the end of the lattice).
__forceinline__ void mlSpreadRow(double* fx, double* fy, double* fz, const float* phiX, float wy, float wz,
                                 const double force[3]) {
#if defined(__AVX512F__) && defined(__AVX512VL__)
  static_assert(mlSpreadRecord::kRow == 8, "a row is one vector of eight doubles");
  const __m256 weight = _mm256_mul_ps(_mm256_mul_ps(_mm256_loadu_ps(phiX), _mm256_set1_ps(wy)), _mm256_set1_ps(wz));
  const __mmask8 live = _mm256_cmp_ps_mask(weight, _mm256_setzero_ps(), _CMP_NEQ_UQ);
  const __m512d w = _mm512_maskz_cvtps_pd(live, weight);
  double* const f[3] = {fx, fy, fz};
  for (int a = 0; a < 3; ++a) {
    const __m512d sum = _mm512_add_pd(_mm512_maskz_loadu_pd(live, f[a]), _mm512_mul_pd(w, _mm512_set1_pd(force[a])));
    _mm512_mask_storeu_pd(f[a], live, sum);
  }
#else
  for (int k = 0; k < mlSpreadRecord::kRow; ++k) {
    const float weight = phiX[k] * wy * wz;
    if (weight == 0.0f) continue;
    fx[k] += weight * force[0];
    fy[k] += weight * force[1];
    fz[k] += weight * force[2];
  }
#endif
}

void mlSpreadDeposit(mlSpreadBins& bins) {
  const int count = bins.pending;
  mlFlow* flow = bins.flow;
  const int width = bins.width;
  const float invdx = bins.invdx;
  const std::int64_t nx = bins.n[0], ny = bins.n[1], nz = bins.n[2];
  static_assert(kSpreadNodes <= mlSpreadBins::kBandRows, "a point's rows reach at most two bands");
  constexpr std::int64_t kUnitsPerPoint = 2 * kSpreadNodes;
  constexpr std::int64_t kBandRows = mlSpreadBins::kBandRows;
  const mlSpreadRecord* records = bins.records.data();
  const int chunks = dz::device::hostThreads();
  const std::int64_t bands = (ny + kBandRows - 1) / kBandRows;
  const std::int64_t units = nz * bands;
  auto chunkBegin = [&](int c) { return static_cast<int>(static_cast<std::int64_t>(count) * c / chunks); };
  bins.starts.assign(static_cast<std::size_t>(chunks) * (units + 1), 0);
  if (bins.runCount < chunks) {
    bins.runs = std::make_unique<mlSpreadBins::Run[]>(chunks);
    bins.runCount = chunks;
  }
  if (bins.entries.size() < static_cast<std::size_t>(kUnitsPerPoint * count))
    bins.entries.resize(kUnitsPerPoint * count);
  double* fx = flow->forcex;
  double* fy = flow->forcey;
  double* fz = flow->forcez;
  // Hands each unit that point t's record reaches to f, in increasing order.
  auto forUnits = [&](int t, auto f) {
    const mlSpreadRecord& r = records[t];
    if (r.len[1] <= 0) return;
    const std::int64_t firstBand = r.first[1] / kBandRows, lastBand = (r.first[1] + r.len[1] - 1) / kBandRows;
    for (std::int64_t z = r.first[2]; z < r.first[2] + r.len[2]; ++z)
      for (std::int64_t band = firstBand; band <= lastBand; ++band) f(z * bands + band);
  };
  // Adds point t's force into the rows of plane z in the unit's band.
  auto add = [&](int t, std::int64_t unit) {
    const mlSpreadRecord& r = records[t];
    const std::int64_t z = unit / bands, yBegin = unit % bands * kBandRows, yEnd = yBegin + kBandRows;
    if (!r.wide()) {
      const float wz = r.phiZ[z - r.first[2]];
      const std::int64_t kyEnd = mlMin(r.len[1], yEnd - r.first[1]);
      for (std::int64_t ky = mlMax(0, yBegin - r.first[1]); ky < kyEnd; ++ky) {
        const std::int64_t row = mlNodeIndex(r.first[0], r.first[1] + ky, z, nx, ny);
        mlSpreadRow(fx + row, fy + row, fz + row, r.phiX, r.phiY[ky], wz, r.force);
      }
      return;
    }
    const auto set = std::upper_bound(bins.sets.begin(), bins.sets.end(), t,
                                      [](int g, const mlSpreadBins::Set& s) { return g < s.begin; }) -
                     1;
    float X[3];
    mlPointInLattice(*set->boundary, *flow, t - set->begin, invdx, nx, ny, nz, X);
    const mlSpreadWeights again(X, width, bins.n, flow->start, flow->param->dx, invdx);
    mlSpreadPlane(again.w, z, nx, ny, [&](std::int64_t i, float weight) {
      const std::int64_t y = i / nx % ny;
      if (y < yBegin || y >= yEnd) return;
      fx[i] += weight * r.force[0];
      fy[i] += weight * r.force[1];
      fz[i] += weight * r.force[2];
    });
  };
  // The lines that later entries of a unit's list need are asked for ahead: the record of the entry
  // four on, the node rows (at most two lines per array each) of the entry two on.
  auto prefetch = [&](const std::int32_t* list, std::int64_t e, std::int64_t end, std::int64_t unit) {
    if (e + 4 < end) {
      const char* record = reinterpret_cast<const char*>(records + list[e + 4]);
      __builtin_prefetch(record);
      __builtin_prefetch(record + 64);
    }
    if (e + 2 >= end) return;
    const mlSpreadRecord& r = records[list[e + 2]];
    const std::int64_t z = unit / bands;
    for (std::int32_t ky = 0; ky < r.len[1]; ++ky) {
      const std::int64_t row = mlNodeIndex(r.first[0], r.first[1] + ky, z, nx, ny);
      const std::int64_t last = row + mlSpreadRecord::kRow - 1;
      __builtin_prefetch(fx + row, 1);
      __builtin_prefetch(fy + row, 1);
      __builtin_prefetch(fz + row, 1);
      __builtin_prefetch(fx + last, 1);
      __builtin_prefetch(fy + last, 1);
      __builtin_prefetch(fz + last, 1);
    }
  };

#pragma omp parallel num_threads(chunks)
  {
    const int me = omp_get_thread_num(), team = omp_get_num_threads();
    for (int c = me; c < chunks; c += team) {
      std::int64_t* start = bins.starts.data() + c * (units + 1);
      std::int32_t* list = bins.entries.data() + kUnitsPerPoint * chunkBegin(c);
      for (int t = chunkBegin(c); t < chunkBegin(c + 1); ++t) forUnits(t, [&](std::int64_t u) { ++start[u + 1]; });
      for (std::int64_t u = 0; u < units; ++u) start[u + 1] += start[u];
      for (int t = chunkBegin(c); t < chunkBegin(c + 1); ++t)
        forUnits(t, [&](std::int64_t u) { list[start[u]++] = t; });
      for (std::int64_t u = units; u > 0; --u) start[u] = start[u - 1];  // back to the starts
      start[0] = 0;
    }
#pragma omp barrier
    // Each thread owns the run of units that holds its share of the entries (a unit goes where its
    // middle entry falls): for a body that moves little, the same units in every step, whose node forces
    // may then still be in its cache. A thread done with its own run takes units left in the others'.
    auto entriesBefore = [&](std::int64_t u) {
      std::int64_t sum = 0;
      for (int c = 0; c < chunks; ++c) sum += bins.starts[c * (units + 1) + u];
      return sum;
    };
#pragma omp single
    {
      const std::int64_t total = entriesBefore(units);
      int k = 0;
      for (std::int64_t u = 0, before = 0; u < units; ++u) {
        const std::int64_t after = entriesBefore(u + 1), mid = before + after;  // twice the middle entry
        for (; k < team && mid * team >= 2 * total * k; ++k) bins.runs[k].next = u;
        before = after;
      }
      for (; k < team; ++k) bins.runs[k].next = units;
      for (k = 0; k < team; ++k) bins.runs[k].end = k + 1 < team ? bins.runs[k + 1].next.load() : units;
    }
    for (int k = 0; k < team; ++k) {
      mlSpreadBins::Run& run = bins.runs[(me + k) % team];
      for (std::int64_t u = run.next++; u < run.end; u = run.next++)
        for (int c = 0; c < chunks; ++c) {
          const std::int64_t* start = bins.starts.data() + c * (units + 1);
          const std::int32_t* list = bins.entries.data() + kUnitsPerPoint * chunkBegin(c);
          for (std::int64_t e = start[u]; e < start[u + 1]; ++e) {
            prefetch(list, e, start[u + 1], u);
            add(list[e], u);
          }
        }
    }
  }
}
#endif

#ifndef DUZAVOD_CUDA
// A tile map of the lattice with every tile still to be checked.
mlFiniteTiles mlUncheckedTiles(std::int64_t nx, std::int64_t ny, std::int64_t nz) {
  constexpr int kEdge = mlFiniteTiles::kEdge;
  const std::int64_t tx = (nx + kEdge - 1) / kEdge, ty = (ny + kEdge - 1) / kEdge, tz = (nz + kEdge - 1) / kEdge;
  static thread_local std::vector<std::uint8_t> state;
  state.assign(tx * ty * tz, mlFiniteTiles::kUnknown);
  return mlFiniteTiles{state.data(), tx, ty};
}
#endif

void mlInterpolateFluidForceGpu(mlLagrangeBoundary* boundary, int count, mlFlow* flow, const MLFluidParam& param,
                                mlVelocity3D<float> u0p, int width, float N, float l0p, float rou0p, float u0k) {
  // An empty point set has nothing to do, and an empty grid is not a valid launch.
  if (count <= 0) return;
  const std::int64_t nx = param.samples[0], ny = param.samples[1], nz = param.samples[2];
  std::int64_t layers = 0;
  const dim3 grid = mlPointGrid(count, layers);
  const dim3 block(kBlockEdge, kBlockEdge, kBlockEdge);
#ifdef DUZAVOD_CUDA
  DZ_LAUNCH(mlInterpolateFluidForceKernel, grid, block, boundary, flow, static_cast<double>(param.slip_ratio), N, l0p,
            rou0p, u0k, u0p, width, kLayerWidth, kLayerWidth, layers, nx, ny, nz);
#else
  const mlFiniteTiles tiles = mlUncheckedTiles(nx, ny, nz);
  DZ_LAUNCH(mlInterpolateFluidForceKernel, grid, block, boundary, flow, static_cast<double>(param.slip_ratio), N, l0p,
            rou0p, u0k, u0p, width, kLayerWidth, kLayerWidth, layers, nx, ny, nz, tiles);
#endif
  checkCudaLaunch();
}

mlSpreadStage::mlSpreadStage() = default;

#ifdef DUZAVOD_CUDA
mlSpreadStage::~mlSpreadStage() = default;
void mlSpreadStage::finish() {}
#else
mlSpreadStage::~mlSpreadStage() {
  mlSpreadBins& bins = mlSpreadScratch();
  bins.sets.clear();
  bins.pending = 0;
}
void mlSpreadStage::finish() {
  mlSpreadBins& bins = mlSpreadScratch();
  if (bins.pending > 0) mlSpreadDeposit(bins);
  bins.sets.clear();
  bins.pending = 0;
}
#endif

void mlSpreadStage::spread(mlLagrangeBoundary* boundary, int count, mlFlow* flow, const MLFluidParam& param,
                           mlVelocity3D<float> u0p, int width, float N, float l0p, float rou0p, float u0k) {
  if (count <= 0) return;
  const std::int64_t nx = param.samples[0], ny = param.samples[1], nz = param.samples[2];
  std::int64_t layers = 0;
  const dim3 grid = mlPointGrid(count, layers);
  const dim3 block(kBlockEdge, kBlockEdge, kBlockEdge);
#ifdef DUZAVOD_CUDA
  DZ_LAUNCH(mlSpreadForceKernel, grid, block, boundary, flow, N, l0p, rou0p, u0k, u0p, width, kLayerWidth, kLayerWidth,
            layers, nx, ny, nz);
  checkCudaLaunch();
#else
  mlSpreadBins& bins = mlSpreadScratch();
  const float invdx = mlFastDivide(N, l0p);
  // The records of a stage share one lattice and one delta width.
  if (bins.pending > 0 && (bins.flow != flow || bins.width != width || bins.invdx != invdx || bins.n[0] != nx ||
                           bins.n[1] != ny || bins.n[2] != nz))
    finish();
  const int handled = mlHandledPoints(*boundary, grid);
  if (bins.records.size() < static_cast<std::size_t>(bins.pending) + handled)
    bins.records.resize(static_cast<std::size_t>(bins.pending) + handled);
  DZ_LAUNCH(mlSpreadForceKernel, grid, block, boundary, flow, N, l0p, rou0p, u0k, u0p, width, kLayerWidth, kLayerWidth,
            layers, nx, ny, nz, bins.records.data() + bins.pending);
  checkCudaLaunch();
  bins.sets.push_back({boundary, bins.pending});
  bins.pending += handled;
  bins.flow = flow;
  bins.width = width;
  bins.invdx = invdx;
  bins.n[0] = nx;
  bins.n[1] = ny;
  bins.n[2] = nz;
#endif
}

void mlSpreadForceGpu(mlLagrangeBoundary* boundary, int count, mlFlow* flow, const MLFluidParam& param,
                      mlVelocity3D<float> u0p, int width, float N, float l0p, float rou0p, float u0k) {
  mlSpreadStage stage;
  stage.spread(boundary, count, flow, param, u0p, width, N, l0p, rou0p, u0k);
  stage.finish();
}
