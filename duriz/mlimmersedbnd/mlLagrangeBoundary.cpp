#include "mlLagrangeBoundary.h"

#include <stdexcept>
#include <string>

mlLagrangeBoundary::mlLagrangeBoundary(std::int32_t n, float pointArea) : area(pointArea), count(n) {
  if (n < 0) throw std::invalid_argument("mlLagrangeBoundary: negative point count " + std::to_string(n));
  // A failed allocation leaves no array behind: the destructor does not run for a half-built record.
  try {
    allocate(n);
  } catch (...) {
    release();
    throw;
  }
}

void mlLagrangeBoundary::allocate(std::int32_t n) {
  coordx = new float[n]();
  coordy = new float[n]();
  coordz = new float[n]();
  normalx = new float[n]();
  normaly = new float[n]();
  normalz = new float[n]();
  coordInitx = new float[n]();
  coordInity = new float[n]();
  coordInitz = new float[n]();
  forcex = new double[n]();
  forcey = new double[n]();
  forcez = new double[n]();
  ux = new float[n]();
  uy = new float[n]();
  uz = new float[n]();
  rou = new mlDensity<float>[n];
  for (std::int32_t i = 0; i < n; ++i) rou[i] = 1.0f;
}

mlLagrangeBoundary::~mlLagrangeBoundary() { release(); }

void mlLagrangeBoundary::release() {
  delete[] coordx;
  delete[] coordy;
  delete[] coordz;
  delete[] normalx;
  delete[] normaly;
  delete[] normalz;
  delete[] coordInitx;
  delete[] coordInity;
  delete[] coordInitz;
  delete[] forcex;
  delete[] forcey;
  delete[] forcez;
  delete[] ux;
  delete[] uy;
  delete[] uz;
  delete[] rou;
  dropPointers();
}

void mlLagrangeBoundary::dropPointers() {
  coordx = coordy = coordz = nullptr;
  normalx = normaly = normalz = nullptr;
  coordInitx = coordInity = coordInitz = nullptr;
  forcex = forcey = forcez = nullptr;
  ux = uy = uz = nullptr;
  rou = nullptr;
}
