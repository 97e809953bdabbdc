// Per-joint settings handed to the physics joint: its limits and its damping and friction.
#pragma once

#include <vector>

// One entry per degree of freedom of the joint's kind.
struct Limit {
  std::vector<double> lower;  // position limits
  std::vector<double> upper;
  std::vector<double> effort;    // force limits
  std::vector<double> velocity;  // velocity limits
};

struct Dynamics {
  double damping = 0;
  double friction = 0;
};
