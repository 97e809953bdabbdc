// One link of an articulated body as the point kernels see it: its frame's kinematics, mirrored from DART
// every update, and the wrench gathered from the fluid. The same bytes on host and device, so one
// cudaMemcpy moves the whole mirror.
//
// 4 x 4 matrices are column-major: entry (r, c) is element [4 c + r], the translation elements 12 to 14.
#pragma once

#include "device/device.h"

struct skLinkData {
  double worldTransform[16];    // [R | t] of the link frame, relative to the world
  double inverseTransform[16];  // [R^T | -R^T t]
  // Angular velocity, then linear velocity of the frame origin, both relative to the world and in the
  // frame's own (body) coordinates.
  double spatialVelocity[6];
  double torque[3];  // external torque about the frame origin, body coordinates
  double force[3];   // external force, body coordinates
  double isWorld;    // 1.0 for DART's world frame, else 0.0

  // Zero throughout except the last rows of both matrices, which are 0 0 0 1.
  __host__ __device__ skLinkData()
      : worldTransform{}, inverseTransform{}, spatialVelocity{}, torque{}, force{}, isWorld(0) {
    worldTransform[15] = 1.0;
    inverseTransform[15] = 1.0;
  }
};

static_assert(sizeof(skLinkData) == 45 * sizeof(double), "the record is plain doubles");
