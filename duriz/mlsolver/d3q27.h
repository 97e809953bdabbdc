// The D3Q27 velocity set: direction order, weights, opposites, and the host equilibrium.
//
// Order: 0 rest; 1-6 +x, -x, +y, -y, +z, -z; 7-10 (1,1,0), (-1,1,0), (1,-1,0), (-1,-1,0);
// 11-14 (1,0,1), (-1,0,1), (1,0,-1), (-1,0,-1); 15-18 (0,1,1), (0,-1,1), (0,1,-1), (0,-1,-1);
// 19-26 (1,1,1), (-1,1,1), (1,-1,1), (-1,-1,1), (1,1,-1), (-1,1,-1), (1,-1,-1), (-1,-1,-1).
// The kernels carry the same tables in constant memory (duriz/gpu_inc/mlLatticeConstants.cuh).
#pragma once

namespace d3q27 {

constexpr int Q = 27;

constexpr int ex[Q] = {0, 1, -1, 0, 0, 0, 0, 1, -1, 1, -1, 1, -1, 1, -1, 0, 0, 0, 0, 1, -1, 1, -1, 1, -1, 1, -1};
constexpr int ey[Q] = {0, 0, 0, 1, -1, 0, 0, 1, 1, -1, -1, 0, 0, 0, 0, 1, -1, 1, -1, 1, 1, -1, -1, 1, 1, -1, -1};
constexpr int ez[Q] = {0, 0, 0, 0, 0, 1, -1, 0, 0, 0, 0, 1, 1, -1, -1, 1, 1, -1, -1, 1, 1, 1, 1, -1, -1, -1, -1};
constexpr int opposite[Q] = {0,  2,  1,  4,  3,  6,  5,  10, 9,  8,  7,  14, 13, 12,
                             11, 18, 17, 16, 15, 26, 25, 24, 23, 22, 21, 20, 19};

constexpr float wRest = 8.0f / 27.0f;
constexpr float wFace = 2.0f / 27.0f;
constexpr float wEdge = 1.0f / 54.0f;
constexpr float wCorner = 1.0f / 216.0f;
constexpr float w[Q] = {wRest, wFace,   wFace,   wFace,   wFace,   wFace,   wFace,   wEdge,   wEdge,
                        wEdge, wEdge,   wEdge,   wEdge,   wEdge,   wEdge,   wEdge,   wEdge,   wEdge,
                        wEdge, wCorner, wCorner, wCorner, wCorner, wCorner, wCorner, wCorner, wCorner};

// Second-order polynomial equilibrium: c.u and |u|^2 in float, w * rho in float, the polynomial and the
// product in double, stored as float.
inline float equilibrium(int q, float rho, float ux, float uy, float uz) {
  const float cu = static_cast<float>(ex[q]) * ux + static_cast<float>(ey[q]) * uy + static_cast<float>(ez[q]) * uz;
  const float uu = ux * ux + uy * uy + uz * uz;
  const float wRho = w[q] * rho;
  const double poly = 1.0 + 3.0 * cu + 4.5 * static_cast<double>(cu) * cu - 1.5 * static_cast<double>(uu);
  return static_cast<float>(wRho * poly);
}

}  // namespace d3q27
