#include "tools/mlSimplePDControl_1D.h"

#include <cmath>
#include <sstream>
#include <stdexcept>

mlSimplePDControl_1D::mlSimplePDControl_1D(double Kp, double Kd, double timestep) : timestep(timestep), Kp(Kp), Kd(Kd) {
  if (!(std::isfinite(timestep) && timestep > 0)) {
    std::ostringstream msg;
    msg << "PDControl1D: timestep " << timestep << " is not finite and positive";
    throw std::invalid_argument(msg.str());
  }
}

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
