// Open boundary on all six sides by non-equilibrium extrapolation: every node of the six planes pml_width
// nodes inside the box takes the density and non-equilibrium populations of its inward neighbour.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

// inertial: the box is fixed in space; only then is inflow across a plane limited.
void mlBndCondNEEGpu(mlFlow* flow, const MLFluidParam& param, bool inertial);
