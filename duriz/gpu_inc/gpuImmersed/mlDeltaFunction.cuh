// Discrete delta functions of the immersed-boundary method, per axis: the weight of a node at distance
// r (lattice units) from a Lagrangian point is phi(r_x) * phi(r_y) * phi(r_z).
//
// Width 2 is the linear hat; width 3 the three-point function of Roma, Peskin and Berger (1999); width
// 4 Peskin's four-point function (2002). Each sums to 1 and has a vanishing first moment over the nodes.
#pragma once

#include <cmath>

#include "device/device.h"

// The device's fast division; the host has no such intrinsic and divides exactly.
__host__ __device__ __forceinline__ float mlFastDivide(float a, float b) {
#ifdef __CUDA_ARCH__
  return __fdividef(a, b);
#else
  return a / b;
#endif
}

__host__ __device__ __forceinline__ float mlDeltaWidth2(float r) {
  const float a = fabsf(r);
  return a <= 1.0f ? 1.0f - a : 0.0f;
}

__host__ __device__ __forceinline__ float mlDeltaWidth3(float r) {
  const float a = fabsf(r);
  if (a <= 0.5f) return (1.0f + sqrtf(1.0f - 3.0f * r * r)) / 3.0f;
  if (a <= 1.5f) return (5.0f - 3.0f * a - sqrtf(6.0f * a - 2.0f - 3.0f * r * r)) / 6.0f;
  return 0.0f;
}

__host__ __device__ __forceinline__ float mlDeltaWidth4(float r) {
  const float a = fabsf(r);
  if (a <= 1.0f) return mlFastDivide(3.0f - 2.0f * a + sqrtf(1.0f + 4.0f * a - 4.0f * r * r), 8.0f);
  if (a <= 2.0f) return mlFastDivide(5.0f - 2.0f * a - sqrtf(-7.0f + 12.0f * a - 4.0f * r * r), 8.0f);
  return 0.0f;
}

// Any other width gives weight 0 everywhere.
__host__ __device__ __forceinline__ float mlDelta(int width, float r) {
  switch (width) {
    case 2:
      return mlDeltaWidth2(r);
    case 3:
      return mlDeltaWidth3(r);
    case 4:
      return mlDeltaWidth4(r);
    default:
      return 0.0f;
  }
}
