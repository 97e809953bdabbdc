// Completes a parameter record, prints its lattice units and lays out the lattice on the host.
#include <cstdio>
#include <memory>

#include "duriz/mlsolver/mlFlow.h"

int main() {
  auto params = std::make_shared<simParams>();
  params->width = 2.0f;
  params->height = 1.0f;
  params->depth = 1.0f;
  params->dx = 0.02f;

  const mlLatticeUnits units = params->toLatticeUnits();
  const float tp = units.l0p * units.u0k / (units.u0p[0] * units.N);
  std::printf("reference length l0p = %g m, N = %g, u0p = %g m/s, u0k = %g\n", units.l0p, units.N, units.u0p[0],
              units.u0k);
  std::printf("lattice viscosity v0k = %g, Reynolds = %g, time step tp = %g s\n", units.v0k, units.Reynolds, tp);

  const auto flow = initFlow(params);
  const MLFluidParam& p = *flow->param;
  std::printf("lattice %d x %d x %d = %llu nodes, from (%g, %g, %g) to (%g, %g, %g) m\n", p.samples[0], p.samples[1],
              p.samples[2], static_cast<unsigned long long>(flow->count), p.start[0], p.start[1], p.start[2], p.end[0],
              p.end[1], p.end[2]);
  return 0;
}
