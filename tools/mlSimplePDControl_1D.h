// A proportional-derivative law for one scalar: the caller gives the measured value and the step length on
// every call; the derivative is the plain backward difference of the measurement.
#pragma once

class mlSimplePDControl_1D {
 public:
  // Throws std::invalid_argument for a timestep that is not finite and positive.
  mlSimplePDControl_1D(double Kp, double Kd, double timestep);

  // Throws std::invalid_argument, changing nothing, for a timestep that is not finite and positive.
  double feedback(double value, double timestep);
  void set_value(double desired_value) { this->desired_value = desired_value; }
  void set_dvalue(double desired_dvalue) { this->desired_dvalue = desired_dvalue; }
  // Clears the state and the targets; the gains stay.
  void reset();

  double timestep;  // step length of the last feedback call
  double Kp;
  double Kd;
  double dvalue = 0;      // derivative of the measurement at the last feedback call
  double last_value = 0;  // measurement of the last feedback call
  double desired_value = 0;
  double desired_dvalue = 0;
};
