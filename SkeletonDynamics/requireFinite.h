// Checks for values bound for DART, which stops the process on a NaN or infinite state, a negative
// spring, damping or friction, or limits out of order: a script's bad value becomes
// std::invalid_argument naming it instead.
#pragma once

#include <Eigen/Core>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

// Generalised positions (m, rad) and velocities (m/s, rad/s) beyond this are no physical motion but a
// diverging state. DART's step roughly squares such a state, and its transforms fail past about 1e154,
// so a state caught below this bound is still far from ending the process in the next step.
constexpr double kDivergedState = 1e8;

// A value as a script would write it (-1, 1e-60, 0.25), not std::to_string's six fixed decimals.
inline std::string valueText(double value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

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
