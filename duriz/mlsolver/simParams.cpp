#include "simParams.h"

#include <cmath>
#include <cstdio>

void simParams::complete() {
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
