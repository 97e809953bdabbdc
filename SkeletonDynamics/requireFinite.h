// Checks for values bound for DART, which stops the process on a NaN or infinite state: a script's bad
// value becomes std::invalid_argument naming it instead.
#pragma once

#include <Eigen/Core>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

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
