// Streaming: pulls the post-collision populations of the neighbours into f.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlCuStream3dOptGpu(mlFlow* flow, const MLFluidParam& param);

// Streaming as mlCuStream3dOptGpu; with changeInlet, the nodes of the plane y = 0 first become inlet nodes
// (flag NODE_DOWN) at rest: zero velocity and the equilibrium of their density in f and fPost.
void mmlStreamChangeInletGpu(mlFlow* flow, const MLFluidParam& param, bool changeInlet);
