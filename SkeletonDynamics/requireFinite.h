// Checks for values bound for DART, which stops the process on a NaN or infinite state, a negative
// spring, damping or friction, or limits out of order: a script's bad value becomes
// std::invalid_argument naming it instead.
#pragma once

#include <Eigen/Core>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "duriz/mlsolver/valueText.h"

// Generalised positions (m, rad) and velocities (m/s, rad/s) beyond this are no physical motion but a
// diverging state. DART's step roughly squares such a state, and its transforms fail past about 1e154,
// so a state caught below this bound is still far from ending the process in the next step.
constexpr double kDivergedState = 1e8;

inline double requireFinite(double value, const std::string& what) {
  if (!std::isfinite(value)) throw std::invalid_argument(what + " must be finite, not " + std::to_string(value));
  return value;
}

template <class Derived>
const Eigen::MatrixBase<Derived>& requireFinite(const Eigen::MatrixBase<Derived>& values, const std::string& what) {
  if (!values.allFinite()) {
    std::ostringstream text;
    text << what << " must be finite, not (";
    for (Eigen::Index i = 0; i < values.size(); ++i)
      text << (i ? ", " : "") << values(i % values.rows(), i / values.rows());
    text << ")";
    throw std::invalid_argument(text.str());
  }
  return values;
}

// Zero and +inf pass; NaN does not.
inline double requireNotNegative(double value, const std::string& what) {
  if (!(value >= 0)) throw std::invalid_argument(what + " must not be negative, not " + valueText(value));
  return value;
}

// A script's double narrowed to the float a parameter takes: a finite value that a float cannot hold
// (1e-60 would become 0, 1e300 infinite) throws std::invalid_argument naming it. NaN and infinities pass,
// for the caller's own check.
inline float requireFloat(double value, const std::string& what) {
  const float narrowed = static_cast<float>(value);
  if (std::isfinite(value) && (!std::isfinite(narrowed) || (narrowed == 0) != (value == 0)))
    throw std::invalid_argument(what + " " + valueText(value) + " does not fit a float (it would become " +
                                valueText(narrowed) + ")");
  return narrowed;
}
