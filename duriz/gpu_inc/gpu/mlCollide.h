// Collision: D3Q27 central-moment relaxation with forcing, a WALE eddy viscosity on the shear moments
// and a fitted per-node rate (Sopt) on the trace and the third- to sixth-order moments. Reads f, writes
// fPost, updates Sopt.
#pragma once

#include "duriz/mlsolver/mlFlow.h"

void mlCollideAddForceHighorderFiitingGpu(mlFlow* flow, const MLFluidParam& param);
