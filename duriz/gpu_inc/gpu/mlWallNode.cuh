// Per-node rules shared by the wall and face boundary kernels (mlBndCondition.cu, mlZouHeBndCondition.cu).
// Include after duriz/gpu_inc/mlLatticeConstants.cuh.
#pragma once

#include "device/device.h"
#include "mlThreadIndex.cuh"

// Component of direction q along axis (0 x, 1 y, 2 z), as an integer.
__device__ __forceinline__ int mlDirectionComponent(int q, int axis) {
  const float c = axis == 0 ? ex_cas1[q] : (axis == 1 ? ey_cas1[q] : ez_cas1[q]);
  return static_cast<int>(c);
}

// Directions that enter the box through the face (c_axis = -side), as bits.
__device__ __forceinline__ unsigned int mlInwardDirections(mlFace face) {
  unsigned int bits = 0;
  for (int q = 0; q < 27; ++q)
    if (mlDirectionComponent(q, face.axis) == -face.side) bits |= 1u << q;
  return bits;
}

// Density of a face node whose velocity normal to the face is un, from its known populations: those
// parallel to the face (c_n = 0) and those leaving the box through it (c_n = side). Mass and normal
// momentum give rho = (sum_{c_n = 0} f + 2 sum_{c_n = side} f) / (1 + side * un).
__device__ __forceinline__ float mlFaceDensity(const float p[27], mlFace face, float un) {
  float along = 0.0f, leaving = 0.0f;
  for (int q = 0; q < 27; ++q) {
    const int c = mlDirectionComponent(q, face.axis);
    if (c == 0) along += p[q];
    if (c == face.side) leaving += p[q];
  }
  return (along + 2.0f * leaving) / (1.0f + static_cast<float>(face.side) * un);
}
