// D3Q27 populations and their central moments in the product basis.
//
// The velocity set is the tensor product of three one-dimensional sets {-1, 0, +1}, so its raw-moment
// matrix (monomials x^a y^b z^c, a, b, c in {0, 1, 2}) is the Kronecker product of one 3 x 3 matrix per
// axis, and so is its inverse. A central moment is a raw moment shifted binomially by u along each axis.
// Both transforms therefore run as 27 line transforms of three values (9 per axis) instead of a 27 x 27
// product.
//
// Storage: p[a * 9 + b * 3 + c] with a, b, c = c_x + 1, c_y + 1, c_z + 1 for populations and
// a, b, c = the powers of (c_x - u_x), (c_y - u_y), (c_z - u_z) for central moments.
#pragma once

#include "device/device.h"

// Direction q of the D3Q27 order at product slot (c_x + 1, c_y + 1, c_z + 1).
static __constant__ const int mlProductSlotDirection[27] = {
    26, 10, 22, 14, 2, 12, 24, 8, 20,  // c_x = -1
    18, 4,  16, 6,  0, 5,  17, 3, 15,  // c_x = 0
    25, 9,  21, 13, 1, 11, 23, 7, 19,  // c_x = +1
};

// Central moments of orders 0, 1, 2 about u of the populations at c = -1, 0, +1 of one line, in place.
__device__ __forceinline__ void mlCentralLine(float& fm, float& f0, float& fp, float u) {
  const float m0 = fm + f0 + fp;  // raw moments
  const float m1 = fp - fm;
  const float m2 = fp + fm;
  fm = m0;
  f0 = m1 - u * m0;
  fp = m2 - 2.0f * u * m1 + u * u * m0;
}

// Inverse of mlCentralLine: raw moments by the binomial shift, then the inverse of the 3 x 3 moment matrix.
__device__ __forceinline__ void mlPopulationLine(float& k0, float& k1, float& k2, float u) {
  const float m0 = k0;
  const float m1 = k1 + u * k0;
  const float m2 = k2 + 2.0f * u * k1 + u * u * k0;
  k0 = 0.5f * (m2 - m1);
  k1 = m0 - m2;
  k2 = 0.5f * (m2 + m1);
}

// Populations to central moments, in place (product layout on both sides).
__device__ __forceinline__ void mlCentralMoments(float p[27], float ux, float uy, float uz) {
  for (int ab = 0; ab < 9; ++ab) mlCentralLine(p[ab * 3], p[ab * 3 + 1], p[ab * 3 + 2], uz);
  for (int a = 0; a < 3; ++a)
    for (int c = 0; c < 3; ++c) mlCentralLine(p[a * 9 + c], p[a * 9 + 3 + c], p[a * 9 + 6 + c], uy);
  for (int bc = 0; bc < 9; ++bc) mlCentralLine(p[bc], p[9 + bc], p[18 + bc], ux);
}

// Central moments to populations, in place: the exact inverse of mlCentralMoments.
__device__ __forceinline__ void mlPopulations(float p[27], float ux, float uy, float uz) {
  for (int bc = 0; bc < 9; ++bc) mlPopulationLine(p[bc], p[9 + bc], p[18 + bc], ux);
  for (int a = 0; a < 3; ++a)
    for (int c = 0; c < 3; ++c) mlPopulationLine(p[a * 9 + c], p[a * 9 + 3 + c], p[a * 9 + 6 + c], uy);
  for (int ab = 0; ab < 9; ++ab) mlPopulationLine(p[ab * 3], p[ab * 3 + 1], p[ab * 3 + 2], uz);
}

// The equilibrium the collision relaxes to: central moments rho times the product of (1, 0, 1/3) per
// axis (rho, 0, rho/3 for the trace, rho/9 and rho/27 for the fourth and sixth order). It factorises
// into one line per axis; the line populations at c = -1, 0, +1 for velocity u are these.
__device__ __forceinline__ void mlEquilibriumLine(float u, float e[3]) {
  const float m2 = 1.0f / 3.0f + u * u;
  e[0] = 0.5f * (m2 - u);
  e[1] = 1.0f - m2;
  e[2] = 0.5f * (m2 + u);
}

// Equilibrium populations feq(rho, u) in direction order q.
__device__ __forceinline__ void mlEquilibrium(float rho, float ux, float uy, float uz, float feq[27]) {
  float ex[3], ey[3], ez[3];
  mlEquilibriumLine(ux, ex);
  mlEquilibriumLine(uy, ey);
  mlEquilibriumLine(uz, ez);
  for (int a = 0; a < 3; ++a)
    for (int b = 0; b < 3; ++b)
      for (int c = 0; c < 3; ++c) feq[mlProductSlotDirection[a * 9 + b * 3 + c]] = rho * ex[a] * ey[b] * ez[c];
}
