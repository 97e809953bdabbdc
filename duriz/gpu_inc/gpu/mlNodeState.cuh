// Per-node state shared by kernels of several families: density and first moment of a node's
// populations, the velocity they give, and the second-order polynomial equilibrium.
// Include after duriz/gpu_inc/mlLatticeConstants.cuh.
#pragma once

#include <cstddef>

#include "device/device.h"

// Density and first moment (not divided by the density) of the populations p[q * stride], q = 0 to 26,
// summed in direction order in single precision.
struct mlNodeMoments {
  float rho, mx, my, mz;
};

__device__ __forceinline__ mlNodeMoments mlMomentsOf(const float* p, std::ptrdiff_t stride) {
  mlNodeMoments m{0.0f, 0.0f, 0.0f, 0.0f};
  for (int q = 0; q < 27; ++q) {
    const float fq = p[q * stride];
    m.rho += fq;
    m.mx += ex_cas1[q] * fq;
    m.my += ey_cas1[q] * fq;
    m.mz += ez_cas1[q] * fq;
  }
  return m;
}

// Velocity of a node with first moment m and density rho, correctly rounded to single precision. A node
// without mass has no velocity: 0 rather than the infinity or NaN of a division by zero, which would
// spread to every neighbour through the velocity gradients of the next collision.
__device__ __forceinline__ float mlVelocityOf(double m, double rho) {
  return rho == 0.0 ? 0.0f : static_cast<float>(m / rho);
}

// Direction q of the second-order polynomial equilibrium w_q rho (1 + 3 c.u + 4.5 (c.u)^2 - 1.5 u.u).
__device__ __forceinline__ float mlPolynomialEquilibrium(float rho, const float u[3], int q) {
  const float uu = u[0] * u[0] + u[1] * u[1] + u[2] * u[2];
  const float cu = ex_cas1[q] * u[0] + ey_cas1[q] * u[1] + ez_cas1[q] * u[2];
  return w_cas1[q] * rho * (1.0f + 3.0f * cu + 4.5f * cu * cu - 1.5f * uu);
}

__device__ __forceinline__ void mlPolynomialEquilibrium(float rho, const float u[3], float feq[27]) {
  for (int q = 0; q < 27; ++q) feq[q] = mlPolynomialEquilibrium(rho, u, q);
}
