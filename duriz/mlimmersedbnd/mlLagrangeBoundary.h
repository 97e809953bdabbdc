// One body's Lagrangian point set: the surface points that the immersed-boundary method couples to the
// fluid, on the host or (with device pointers) on the device.
//
// Units are physical except the density: positions in m, velocities in m/s, forces as force densities
// (N/m^3), area in m^2, density in lattice units. Per-point data are separate arrays of `count` elements.
#pragma once

#include <cstdint>

#include "duriz/mlsolver/mlTypes.h"

struct mlLagrangeBoundary {
  float* coordx = nullptr;  // current positions
  float* coordy = nullptr;
  float* coordz = nullptr;
  float* normalx = nullptr;  // unit surface normals
  float* normaly = nullptr;
  float* normalz = nullptr;
  float* coordInitx = nullptr;  // positions at sampling
  float* coordInity = nullptr;
  float* coordInitz = nullptr;
  double* forcex = nullptr;  // force density at each point, written by the interpolation
  double* forcey = nullptr;
  double* forcez = nullptr;
  float* ux = nullptr;  // point velocities
  float* uy = nullptr;
  float* uz = nullptr;
  mlDensity<float>* rou = nullptr;  // lattice units
  float area = 0;                   // surface area each point stands for, the same for all points
  std::int32_t count = 0;

  mlLagrangeBoundary() = default;
  // A set of `count` points at the origin, with zero normals, velocities and forces and density 1.
  // Throws std::invalid_argument for a negative count.
  mlLagrangeBoundary(std::int32_t count, float area);
  mlLagrangeBoundary(const mlLagrangeBoundary&) = delete;
  mlLagrangeBoundary& operator=(const mlLagrangeBoundary&) = delete;
  // Releases every array (array delete).
  ~mlLagrangeBoundary();

  // Forgets the array pointers without releasing them (for byte copies of a device record).
  void dropPointers();

 private:
  void allocate(std::int32_t n);
  void release();
};
