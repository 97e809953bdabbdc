// Checks for values bound for DART, which stops the process on a NaN, infinite or huge state, a negative
// spring, damping or friction, or limits out of order: a script's bad value becomes
// std::invalid_argument naming it instead.
#pragma once

#include <Eigen/Core>

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <string>

#include "duriz/mlsolver/valueText.h"

// The one bound on the magnitude of every value that enters the dynamics: forces and torques, commands,
// gravity, spring, damping and friction coefficients, mimic offsets and multipliers, generalised
// positions, velocities and accelerations, a body's placement and scale, a link's mass and size, way
// points. 1e8 (m, m/s, N, N m, m/s^2, kg, ...) is far beyond any physical use of a swimmer, and far below
// what DART's arithmetic fails on: its step multiplies such values together (a state near 1e154 ends the
// process, a single value near 1e308 at once), so values within it keep every product of a step finite.
constexpr double kDivergedState = 1e8;

// The least mass of a link, the inverse of the bound: a force within the bound accelerates no link beyond
// 1e16 m/s^2. DART's step divides by masses and moments of inertia, and a mass near 1e-300, or a denormal
// one, ends the process.
constexpr double kLeastLinkMass = 1 / kDivergedState;

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

// Finite and at most kDivergedState in magnitude.
inline double requireBounded(double value, const std::string& what) {
  if (!(std::abs(requireFinite(value, what)) <= kDivergedState))
    throw std::invalid_argument(what + " = " + valueText(value) + ", beyond " + valueText(kDivergedState) +
                                " in magnitude, the bound on any value that enters the dynamics");
  return value;
}

template <class Derived>
const Eigen::MatrixBase<Derived>& requireBounded(const Eigen::MatrixBase<Derived>& values, const std::string& what) {
  if (!(requireFinite(values, what).array().abs() <= kDivergedState).all()) {
    throw std::invalid_argument(what + " = (" + valuesText(values) + "), beyond " + valueText(kDivergedState) +
                                " in magnitude, the bound on any value that enters the dynamics");
  }
  return values;
}

// A link's mass: from kLeastLinkMass to kDivergedState.
inline double requireLinkMass(double mass, const std::string& what) {
  if (!(requireBounded(mass, what) >= kLeastLinkMass))
    throw std::invalid_argument(what + " = " + valueText(mass) + ", below " + valueText(kLeastLinkMass) +
                                ", the least mass of a link: a force within the bound on any value that enters "
                                "the dynamics would accelerate it beyond " +
                                valueText(kDivergedState * kDivergedState));
  return mass;
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
