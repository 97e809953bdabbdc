// How one coupled step treats the fluid.
#pragma once

enum couplingMode : int {
  TWO_WAY = 0,    // fluid step; fluid forces on the Lagrangian points act on the links
  ONE_WAY = 1,    // fluid step; the bodies move the fluid, no fluid force on the links
  NO_FLUID = 2,   // no fluid kernels; rigid-body step alone
  EMPIRICAL = 3,  // no fluid kernels; an empirical drag on the surface drives the links
};

// The two modes that run the lattice kernels.
inline bool isFluidMode(int mode) { return static_cast<unsigned>(mode - 2) > 1; }
