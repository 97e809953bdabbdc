// Macroscopic moments: density and first moment of every node, and the node forces cleared for the
// next spreading.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlCalOneOrderMomentOptGpu(mlFlow* flow, const MLFluidParam& param);

// Density into rou and velocity (first moment over density; 0 where the density is 0) into ux, uy, uz of
// every node; the forces are left as they are.
void mlCalMacroGpu(mlFlow* flow, const MLFluidParam& param);

// Turns the first moment stored in ux, uy, uz into the velocity: divided by rou (0 where rou is 0).
void mlRestoreUOptGpu(mlFlow* flow, const MLFluidParam& param);
