#include "simParams.h"

#include <cmath>
#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "valueText.h"

namespace {

template <class T>
[[noreturn]] void refuse(const char* field, T value, const std::string& why) {
  std::ostringstream msg;
  msg << "simParam: " << field << " = " << valueText(value) << " " << why;
  throw std::invalid_argument(msg.str());
}

void requirePositive(const char* field, float value) {
  if (!(std::isfinite(value) && value > 0.0f)) refuse(field, value, "must be positive and finite");
}

}  // namespace

void simParams::complete() {
  if (setup_mode != MANUAL && setup_mode != GRAVITY)
    refuse("setup_mode", static_cast<int>(setup_mode), "names no set-up mode (MANUAL 0, GRAVITY 1)");
  if (setup_mode == GRAVITY) {
    l0p = height > width ? height : width;
    N = l0p / dx;
    // Speed of a free fall over the reference length.
    const double fallY = std::sqrt(2.0 * std::fabs(gravity[1]) * static_cast<double>(l0p));
    const double fallX = std::sqrt(2.0 * std::fabs(gravity[0]) * static_cast<double>(l0p));
    u0p = static_cast<float>(fallY > fallX ? fallY : fallX);
    return;
  }

  if (l0p == -1.0f || N == -1.0f) {
    std::printf(" [warning] N or l0p not setted!!! set N= 256 ,l0p =4 as default \n");
    N = 256;
    l0p = 4;
  }
  if (dx == -1.0f) dx = l0p / N;
  if (u0p == -1.0f) {
    std::printf("[Info] u0p not setted, try generating use dx %f u0k %f dtp %f \n", dx, u0k, dtp);
    if (dtp == -1.0f) {
      std::printf("[Warning] dtp not setted , default to be 0.0003\n");
      dtp = 0.0003f;
    }
    u0p = u0k * dx * velocityScale / dtp;
    std::printf("[Info] u0p auto calculated!  u0p = %f \n", u0p);
  }
}

mlLatticeUnits simParams::toLatticeUnits() {
  complete();
  mlLatticeUnits units;
  units.l0p = l0p;
  units.N = N;
  units.u0p[0] = units.u0p[1] = units.u0p[2] = u0p;
  units.visp = visp;
  units.u0k = u0k;
  units.rou0p = rou0p;
  units.v0k = (N * u0k * visp) / (u0p * l0p);
  units.Reynolds = (u0p * l0p) / visp;
  return units;
}

float simParams::get_tp() {
  complete();
  return (l0p * u0k) / (u0p * N);
}

void simParams::requireRunnable() const {
  for (const auto& [field, value] : {std::pair{"x0", x0}, {"y0", y0}, {"z0", z0}})
    if (!std::isfinite(value)) refuse(field, value, "must be finite");
  for (const auto& [field, value] : {std::pair{"width", width}, {"height", height}, {"depth", depth}})
    requirePositive(field, value);
  // N is l0p / dx, and dx has no default in this mode.
  if (setup_mode == GRAVITY && !(std::isfinite(dx) && dx > 0.0f))
    refuse("dx", dx, "must be positive and finite: a GRAVITY-mode record needs its spacing set");
  requirePositive("l0p", l0p);
  requirePositive("N", N);
  // The lattice and the markers are laid out with dx; the immersed boundary, viscosity, time step and
  // frame forcing scale with l0p / N. Float rounding of either side is allowed for.
  const float spacing = l0p / N;
  if (!(std::fabs(dx - spacing) <= 1e-5f * spacing)) {
    std::ostringstream why;
    why << "differs from l0p / N = " << valueText(spacing) << " (l0p = " << valueText(l0p) << ", N = " << valueText(N)
        << "): leave dx unset or set it to l0p / N";
    refuse("dx", dx, why.str());
  }
  requirePositive("visp", visp);
  requirePositive("rou0p", rou0p);
  requirePositive("u0p", u0p);
  // A lattice speed at or above the lattice's sound speed cannot be resolved at all (0.1 is usual).
  if (!(u0k > 0.0f && u0k < 0.57735026f)) refuse("u0k", u0k, "must lie between 0 and the lattice sound speed 0.57735");
  if (!(std::isfinite(slip_ratio) && slip_ratio >= 0.0f)) refuse("slip_ratio", slip_ratio, "must not be negative");
  if (pml_width < 0) refuse("pml_width", pml_width, "must not be negative");
}
