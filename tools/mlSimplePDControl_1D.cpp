#include "tools/mlSimplePDControl_1D.h"

double mlSimplePDControl_1D::feedback(double value, double timestep) {
  this->timestep = timestep;
  const double d = (value - last_value) / timestep;
  last_value = value;
  dvalue = d;
  return (desired_value - value) * Kp + (desired_dvalue - d) * Kd;
}

void mlSimplePDControl_1D::reset() {
  timestep = 0;
  dvalue = 0;
  last_value = 0;
  desired_value = 0;
  desired_dvalue = 0;
}
