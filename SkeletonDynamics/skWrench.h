// A wrench, torque first, then force, in plain doubles so that host and device code share it: the
// per-point wrenches of the force job and their per-link sums are arrays of it.
#pragma once

#include "device/device.h"

struct skWrench {
  double torque[3];
  double force[3];
};

// The sum the per-link gathering adds the point wrenches with.
__host__ __device__ inline skWrench operator+(const skWrench& a, const skWrench& b) {
  skWrench s;
  for (int k = 0; k < 3; ++k) {
    s.torque[k] = a.torque[k] + b.torque[k];
    s.force[k] = a.force[k] + b.force[k];
  }
  return s;
}

static_assert(sizeof(skWrench) == 6 * sizeof(double), "wrench arrays are copied as plain doubles");
