#include "tools/mlSimplePDControl_1D.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "duriz/mlsolver/valueText.h"

namespace {

// feedback divides by the step length it is given.
void requireStep(const char* who, double timestep) {
  if (!(std::isfinite(timestep) && timestep > 0))
    throw std::invalid_argument(std::string(who) + ": timestep " + valueText(timestep) + " is not finite and positive");
}

}  // namespace

mlSimplePDControl_1D::mlSimplePDControl_1D(double Kp, double Kd, double timestep) : timestep(timestep), Kp(Kp), Kd(Kd) {
  requireStep("PDControl1D", timestep);
}

double mlSimplePDControl_1D::feedback(double value, double timestep) {
  requireStep("PDControl1D.feedback", timestep);
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
