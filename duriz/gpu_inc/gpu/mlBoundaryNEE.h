// Open boundary on all six sides by non-equilibrium extrapolation: every node of the six planes pml_width
// nodes inside the box takes the non-equilibrium populations of its inward neighbour. A box fixed in space
// gives them the neighbour's own equilibrium (a copy, its inflow limited); a box that follows a moving
// frame gives them the far field's.
#pragma once

#include "duriz/mlsolver/mlFarField.h"
#include "duriz/mlsolver/mlFlow.h"

// inertial: the box is fixed in space; only then is inflow across a plane limited. farField: the water
// around a box that follows a moving frame (not read when inertial).
void mlBndCondNEEGpu(mlFlow* flow, const MLFluidParam& param, bool inertial, const mlFarField& farField = {});
