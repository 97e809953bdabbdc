// Small value types shared by host and kernel code.
#pragma once

#include "device/device.h"

// One density value; value-initialised to 0, 4 bytes, so arrays of it are plain float arrays.
template <class T>
struct mlDensity {
  T rho{};
  mlDensity() = default;
  __host__ __device__ mlDensity(T value) : rho(value) {}
  __host__ __device__ operator T() const { return rho; }
};

template <class T>
struct mlVelocity3D {
  T x{}, y{}, z{};
};

static_assert(sizeof(mlDensity<float>) == 4, "density arrays are copied as 4-byte words");
